// The monitor output of an FPGA: once the FPGA measures a picture and the HDMI
// transmitter answers, the FPGA is given the LED screen's size and the column and row maps
// that pick 1024 of the screen's columns and 768 of its rows for the monitor.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/transmitters/SiI9022.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr u8 kColumnMapRam = 35;
constexpr u8 kRowMapRam = 34;
constexpr u32 kColumns = 1024;
constexpr u32 kRows = 768;
constexpr u32 kLedSizeAddress = 424;
constexpr u32 kMeasuredAddress = 116;
constexpr u32 kPollAfterFirst = 100;

} // namespace

void fpga_manage::check_monitor_change(u8 f)
{
    if (f > 1)
        return;
    switch (monitor_state[f]) {
    case 1:
        write_to_register(23, 0x10, 0, f);
        monitor_state[f] = 2;
        monitor_stamp[f] = G_timeTicks.load();
        // The first look at the measured picture belongs to the same call.
        [[fallthrough]];
    case 2:
        if (Utils::getTimeSpace(monitor_stamp[f]) > monitor_wait[f]) {
            // The measured size lives in the parameter RAM, where the output check reads it.
            u8* image = MCU_RAM_PARA_func[f] + kMeasuredAddress;
            if (read_fpga_ram(image, kMeasuredAddress, 4, 1, f) == 0 && KelRamPara::get16(image) != 0 &&
                KelRamPara::get16(image + 2) != 0)
                monitor_state[f] = 3;
            monitor_stamp[f] = G_timeTicks.load();
        }
        break;
    case 4:
        set_fpga_lcd_wh(f);
        write_to_register(2, 0x01, 0x01, f);
        write_to_register(23, 0x10, 0x10, f);
        monitor_state[f] = 0;
        monitor_wait[f] = kPollAfterFirst;
        break;
    default:
        break;                            // 3 moves on only when the transmitter answers
    }
}

void fpga_manage::set_9022_para(int f)
{
    if (f < 0 || f > 1 || monitor_state[f] != 3)
        return;
    if (SiI9022::pInstance()->check_9022(f))
        monitor_state[f] = 4;
}

void fpga_manage::set_lcd_change_flag()
{
    monitor_state[0] = 3;
    monitor_state[1] = 3;
}

void fpga_manage::set_fpga_lcd_wh(u8 f)
{
    if (f > 1)
        return;
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    const u16 width = para ? para->ram16(KelRamPara::kLedWidth) : 0;
    const u16 height = para ? para->ram16(KelRamPara::kLedHeight) : 0;
    u8* words = MCU_RAM_PARA_func[f] + kLedSizeAddress;
    KelRamPara::put16(words, 0);
    KelRamPara::put16(words + 2, 0);
    KelRamPara::put16(words + 4, width);
    KelRamPara::put16(words + 6, height);
    write_fpga_ram(words, kLedSizeAddress, 8, 1, f);
    set_fpga_row_col_ram(width, height, f);
}

void fpga_manage::set_fpga_row_col_ram(u16 width, u16 height, u8 f)
{
    if (f > 1)
        return;
    // A screen wider or taller than the maps have bits for cannot be mapped.
    if (width > kColumnMapBytes * 8 || height > kRowMapBytes * 8) {
        KEL_TRACE("\n fpga%d: LED size %u x %u exceeds the monitor maps\n", f, width, height);
        return;
    }
    u8* buffer = MCU_RAM_DEFAULT;
    std::memset(buffer, 0, kColumnMapBytes);
    row_col_calcul_ram(width, kColumns, buffer, kColumnMapBytes);
    write_fpga_ram(buffer, 0, 1024, kColumnMapRam, f);
    write_fpga_ram(buffer + 1024, 1024, kColumnMapBytes - 1024, kColumnMapRam, f);
    std::memset(buffer, 0, kRowMapBytes);
    row_col_calcul_ram(height, kRows, buffer, kRowMapBytes);
    write_fpga_ram(buffer, 0, kRowMapBytes, kRowMapRam, f);
}

void fpga_manage::row_col_calcul_ram(u32 source, u32 target, u8* map, u32 mapSize)
{
    if (!map || source == 0 || target == 0)
        return;
    if (source <= target) {
        // Every source position is kept: the first target bits, whole bytes only.
        std::memset(map, 0xFF, std::min(target / 8, mapSize));
        return;
    }
    if (source > mapSize * 8)
        return;                           // more positions than the map has bits
    const float ratio = float(source) / float(target);
    u32 out = 0;
    u8 byte = 0;
    int bit = 0;
    auto push = [&](bool keep) {
        if (keep)
            byte = u8(byte | (1u << bit));
        if (++bit == 8) {
            if (out < mapSize)
                map[out++] = byte;
            byte = 0;
            bit = 0;
        }
    };
    u32 j = 1;
    for (u32 i = 1; i <= target; ++i) {
        const u32 t = u32(float(i) * ratio);
        while (j < t) {
            push(false);
            ++j;
        }
        if (i == target)
            break;                        // the last kept position is set with the tail below
        push(true);
        ++j;
    }
    // The byte in progress goes out with its unwritten bits set: position t and any later
    // one in that byte are kept.
    if (out < mapSize)
        map[out] = u8(byte | (0xFF << bit));
}
