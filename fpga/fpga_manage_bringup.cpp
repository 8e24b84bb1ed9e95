// FPGA bring-up: the stepwise link initialisation (stages S1 to S6), the parameter RAM
// loaded from the configuration flash or from the defaults and read back, the output check
// that waits for a plausible picture before the LED output is enabled, and the derived
// port-geometry images. Every step returns at once and keeps its own tick stamp.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr u32 kFlashParaMarker = 0x308000;   // 0xAA: a stored parameter image follows
constexpr u32 kFlashParaImage = 0x308001;
constexpr u8 kFlashMarkerValid = 0xAA;
constexpr u32 kStartupPasses = 301;          // loop passes before the first stage runs
constexpr u32 kResetHoldTicks = 51;
constexpr u32 kClockMin = 714286;            // measured clock count window of the output check
constexpr u32 kClockEnd = 1000000;
constexpr u8 kMcuRunning = 3;

bool validFpga(u8 fpga) { return fpga < 2; }
bool identified(u8 id) { return id >= 25 && id <= 48; }
u16 rd16(const u8* p) { return KelRamPara::get16(p); }
void wr16(u8* p, u16 v) { KelRamPara::put16(p, v); }
u32 rd32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

// Where each port's rectangle sits in the packed geometry (the back-up network image).
u16 packedPortOffset(int port)
{
    static const u16 kFirstFour[4] = {4, 12, 20, 28};
    if (port < 4)
        return kFirstFour[port];
    if (port < 8)
        return u16(36 + 8 * (port - 4));
    return u16(68 + 8 * (port - 8));
}

u16 blockWord(int offset)
{
    // A PC's write of the block changes it on a link's thread: read under its lock.
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    return para ? para->locked16(offset) : 0;
}

} // namespace

const u8 fpga_manage::RAM1[256] = {
    0x00, 0x05, 0x00, 0x04, 0x76, 0x05, 0xD2, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x56, 0x05, 0x00, 0x03, 0xD9, 0xB8, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,};

// ------------------------------------------------------------------------------------
// Reset line

void fpga_manage::drive_line(uint32_t offset, u16 value)
{
    volatile u16* line = gpio_line(offset);
    if (!line)
        return;
    std::lock_guard<std::mutex> hold(line_mutex);
    for (u8 fpga = 0; fpga < 2; ++fpga) {
        if (offset == (fpga ? kGpioFpga1Reset : kGpioFpga0Reset) && reset_line_held[fpga]) {
            line_after_reset[fpga] = value;
            return;
        }
    }
    *line = value;
}

void fpga_manage::hold_reset_line(u8 fpga)
{
    volatile u16* line = fpga == 0 ? gpio_fpga0_rst : gpio_fpga1_rst;
    std::lock_guard<std::mutex> hold(line_mutex);
    // Only FPGA 0's reset is let go here; FPGA 1's is let go by its clock's enable, as
    // it always was.
    reset_line_held[fpga] = fpga == 0;
    if (line)
        *line = kLineActive;
}

void fpga_manage::release_reset_line(u8 fpga)
{
    volatile u16* line = fpga == 0 ? gpio_fpga0_rst : gpio_fpga1_rst;
    std::lock_guard<std::mutex> hold(line_mutex);
    reset_line_held[fpga] = false;
    // The release drives the line high, which is also the clock's enable; a write kept
    // while the reset was held is the last word on it.
    const int after = line_after_reset[fpga];
    line_after_reset[fpga] = -1;
    if (line)
        *line = after < 0 ? kLineIdle : u16(after);
}

void fpga_manage::reset_fpga_rst(u8 fpga)
{
    if (fpga > 1)
        return;
    hold_reset_line(fpga);
    reset_pending[fpga] = 1;
    reset_stamp[fpga] = G_timeTicks.load();
}

void fpga_manage::check_fpga_rst()
{
    if (update_reset_request.exchange(0)) {
        reset_fpga_rst(0);
        check_retry[0] = 0;
        check_step[0] = 0;
    }
    // FPGA 1's line is pulled by its bring-up, but only FPGA 0 is ever released.
    if (!reset_pending[0] || Utils::getTimeSpace(reset_stamp[0]) < kResetHoldTicks)
        return;
    release_reset_line(0);
    {
        std::lock_guard<std::mutex> hold(reg_image_mutex);
        MCU_REG_func[0][80] = 0;
        MCU_REG_func[0][31] = 0;
    }
    check_step[0] = 0;
    link_stage[0] = 0;
    startup_passes[0] = 0;
    link_error_count[0] = 0;
    reset_pending[0] = 0;
    g_change[CHG_RESET_RELEASE] = G_timeTicks.load();
}

// ------------------------------------------------------------------------------------
// Link stages

void fpga_manage::power_up_fpga_start(u8 check, u8 fpga)
{
    if (!validFpga(fpga))
        return;
    u8* reg = MCU_REG_func[fpga];
    std::atomic<u32>& stamp = g_change[CHG_BRINGUP_STAMP0 + fpga];
    if (check && reg_shadow(80, fpga) == kMcuRunning && link_stage[fpga] == 7)
        return;
    // An FPGA held in reset answers nothing: stepping on would count its silence as
    // failures and use up the retries before it is released.
    if (reset_pending[fpga])
        return;
    if (Utils::getTimeSpace(stamp) <= 5)
        return;
    if (startup_passes[fpga] < kStartupPasses) {
        ++startup_passes[fpga];
        return;
    }
    const int n = fpga + 1;
    if (!identified(reg_shadow(31, fpga))) {
        for (int r : {31, 30, 29, 28, 7})
            read_from_register(r, fpga);
        link_stage[fpga] = 1;
        link_error_count[fpga] = 0;
        check_counter[fpga] = 0;
        g_fpga_lcd_on = 0;
        stamp = G_timeTicks.load();
        return;
    }
    switch (link_stage[fpga].load()) {
    case 1:
        KEL_TRACE("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S1++++++++++++++++++++++++ !!!\n", n);
        write_to_register(3, 0x40, 0x40, fpga);
        link_stage[fpga] = 2;
        break;
    case 2:
        KEL_TRACE("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S2++++++++++++++++++++++++ !!!\n", n);
        read_from_register(22, fpga);
        if (reg_shadow(22, fpga) & 0x08) {
            KEL_TRACE("\n +++++++++++++++++FPGA[[%d]]_VBO_INIT_S2 error!!!++++++++++++++++\n", n);
            if (++link_error_count[fpga] >= 5) {
                if (++stage_retry[fpga] < 3) {
                    KEL_TRACE("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S2 reset!!!++++++++++++++++\n", n);
                    reset_fpga_rst(fpga);
                } else {
                    link_stage[fpga] = 3;
                }
            }
        } else {
            link_stage[fpga] = 3;
        }
        break;
    case 3:
        KEL_TRACE("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S3++++++++++++++++++++++++ !!!\n", n);
        write_to_register(3, 0x80, 0x80, fpga);
        link_error_count[fpga] = 0;
        stage_retry[fpga] = 0;
        link_stage[fpga] = 5;
        break;
    case 5:
        KEL_TRACE("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S5++++++++++++++++++++++++ !!!\n", n);
        read_from_register(22, fpga);
        if (reg_shadow(22, fpga) & 0x10) {
            link_stage[fpga] = 6;
            stage_retry[fpga] = 0;
            write_to_register(23, 0x01, 0x00, fpga);
        } else {
            KEL_TRACE("\n +++++++++++++++++FPGA[%d]_VBO_INIT_S5 error!!!++++++++++++++++\n", n);
            if (++link_error_count[fpga] > 5 && ++stage_retry[fpga] >= 3)
                link_stage[fpga] = 6;
        }
        break;
    case 6: {
        KEL_TRACE("\n +++++++++++++++++++++FPGA[%d]_VBO_INIT_S6++++++++++++++++++++++++ !!!\n", n);
        write_to_register(23, 0x01, 0x01, fpga);
        {
            std::lock_guard<std::mutex> hold(reg_image_mutex);
            reg[80] = kMcuRunning;
        }
        {
            // The interrupt service of the links may run as soon as the MCU state is 3;
            // the parameter RAM image is rebuilt under the same lock.
            std::lock_guard<std::mutex> path(port_path_mutex);
            fpgainit(fpga);
        }
        SCREEN_fpgactrl_status2(0, fpga);
        {
            std::lock_guard<std::mutex> hold(reg_image_mutex);
            reg[80] = kMcuRunning;
        }
        link_stage[fpga] = 7;
        // The output check starts over with the set-up just loaded: an FPGA that lost its
        // set-up comes back here without a reset of ours, its output off and its screen
        // dark, and only the check's steps enable the output and set the screen again.
        check_step[fpga] = 0;
        ram_reset_seen[fpga] = 0;
        check_stamp[fpga] = G_timeTicks.load();
        break;
    }
    default:
        return;                           // no step: the stamp stays
    }
    stamp = G_timeTicks.load();
}

// ------------------------------------------------------------------------------------
// Parameter RAM

void fpga_manage::fpgainit(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    u8* ram = MCU_RAM_PARA_func[fpga];
    read_from_register(22, fpga);
    write_to_register(22, 0x20, 0x00, fpga);
    record_bright_change();
    record_onoff_time(u8(fpga + 2));
    for (int i = 0; i < 3; ++i)
        read_from_register(21, fpga);

    u8 marker = 0;
    u8 image[kRamSize];
    const bool stored = fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(u8(fpga + 2), kFlashParaMarker, 1, &marker) &&
                        marker == kFlashMarkerValid &&
                        fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(u8(fpga + 2), kFlashParaImage, kRamSize, image);
    if (stored) {
        {
            std::lock_guard<std::mutex> hold(ram_image_mutex);
            std::memcpy(ram, image, kRamSize);
            // Link bits, card counts and the measured picture are the FPGA's, not the image's.
            std::memset(ram + 96, 0, 32);
        }
        M57_back_mcu_set_net_para(fpga);
        if (fpga == 0)
            M57_mcu_set_net_para(0);
    } else {
        std::memcpy(ram, RAM1, sizeof RAM1);
        for (int i = 0; i < 16; ++i) {
            wr16(ram + 296 + 4 * i, 1398);
            wr16(ram + 298 + 4 * i, 466);
        }
        ram[496] = 0;
        ram[498] = 0;
        eth_param_init(1, fpga);
        M57_back_mcu_set_net_para(fpga);
    }
    for (int i = 0; i < 10; ++i)
        ram[276 + i] = u8(fpga * 10 + i + 1);
    write_fpga_ram(ram, 0, kRamSize, 1, fpga);
    update_eth_state(fpga);
    FPGA_to_RAM(fpga);
    write_to_register(2, 0x08, 0x08, fpga);
    ram_check_ok[fpga] = check_fpga_ram_param(fpga);
    if (!ram_check_ok[fpga]) {
        KEL_TRACE("\n check fpga%d ram error ,start to reset .... \n", fpga);
        reset_fpga_rst(fpga);
    } else {
        KEL_TRACE("\n check fpga%d ram ok  .... \n", fpga);
    }
}

void fpga_manage::eth_param_init(u8 mode, u8 fpga)
{
    if (mode != 1 || !validFpga(fpga))
        return;
    u8* ram = MCU_RAM_PARA_func[fpga];
    for (int port = 0; port <= 9; ++port) {
        u8* rect = ram + kPortRectOffset[port];
        wr16(rect, 0);
        wr16(rect + 2, 0);
        wr16(rect + 4, 1280);
        wr16(rect + 6, 512);
    }
}

u8 fpga_manage::check_fpga_ram_param(u8 fpga)
{
    if (!validFpga(fpga))
        return 0;
    const u8* ram = MCU_RAM_PARA_func[fpga];
    auto same = [&](u32 address) {
        u8 back[2];
        if (read_fpga_ram(back, address, 2, 1, fpga) != 0)
            return false;
        return back[0] == ram[address] && back[1] == ram[address + 1];
    };
    for (int port = 0; port <= 9; ++port)
        for (u32 field = 0; field < 8; field += 2)
            if (!same(kPortRectOffset[port] + field))
                return 0;
    for (u32 address = 296; address <= 332; address += 4)
        if (!same(address) || !same(address + 2))
            return 0;
    return 1;
}

void fpga_manage::FPGA_to_RAM(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    for (int i = 0; i < 4; ++i) {
        read_from_register(28 + i, fpga);
        const u8 value = reg_shadow(28 + i, fpga);
        std::lock_guard<std::mutex> hold(ram_image_mutex);   // the PC links read the mailbox
        MCU_RAM_CMD[12 + i] = value;
    }
}

void fpga_manage::update_eth_state(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    read_from_register(128, fpga);
    read_from_register(144, fpga);
    const u8 r128 = reg_shadow(128, fpga);
    const u8 r144 = reg_shadow(144, fpga);
    // The image is shared with the PC links (their RAM reads and writes) and with the
    // receive path: it changes under its lock, and the FPGA is sent the bytes changed from
    // a copy taken there.
    u8* ram = MCU_RAM_PARA_func[fpga];
    std::vector<std::pair<u16, std::vector<u8>>> writes;
    {
        std::lock_guard<std::mutex> hold(ram_image_mutex);
        const struct {
            u16 address;
            u8 value;
        } bytes[3] = {
            {96, u8((ram[96] & ~0x1B) | (r128 & 0x03) | ((r128 & 0x0C) << 1))},
            {512, u8((ram[512] & 0xF0) | (r128 >> 4))},
            {513, r144},
        };
        for (const auto& b : bytes) {
            if (ram[b.address] == b.value)
                continue;
            ram[b.address] = b.value;
            writes.push_back({b.address, {b.value}});
        }
        const u16 links = u16(r144 << 8 | r128);
        for (int port = 0; port <= 9; ++port) {
            if (links >> port & 1)
                continue;
            u8* count = ram + kCardCountOffset[port];
            u8* flag = ram + kCardFlagOffset[port];
            if (count[0] || count[1]) {
                count[0] = count[1] = 0;
                writes.push_back({kCardCountOffset[port], {0, 0}});
            }
            if (*flag) {
                *flag = 0;
                writes.push_back({kCardFlagOffset[port], {0}});
            }
        }
    }
    for (auto& w : writes)
        write_fpga_ram(w.second.data(), w.first, u32(w.second.size()), 1, fpga);
}

void fpga_manage::M57_back_mcu_set_net_para(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    const u8* ram = MCU_RAM_PARA_func[fpga];
    u8* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    std::lock_guard<std::mutex> hold(ram_image_mutex);   // images the PC links read and write
    std::memcpy(back + 0, ram + 60, 4);
    std::memcpy(back + 4, ram + 8, 8);
    std::memcpy(back + 12, ram + 19, 8);
    std::memcpy(back + 20, ram + 32, 8);
    std::memcpy(back + 28, ram + 43, 8);
    std::memcpy(back + 36, ram + 520, 32);
    std::memcpy(back + 68, ram + 576, 64);
    std::memcpy(back + 132, ram + 56, 4);
}

void fpga_manage::M57_mcu_set_net_para(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    const u16 dx = blockWord(1382), dy = blockWord(1384);
    const u8* back = MCU_RAM_ETH_BACK_PARA_func[fpga];
    u8* eth = MCU_RAM_ETH_PARA_func[fpga];
    u8* ram = MCU_RAM_PARA_func[fpga];
    std::lock_guard<std::mutex> hold(ram_image_mutex);   // images the PC links read and write
    // The network image is the packed geometry with the offsets applied.
    std::memcpy(eth, back, kEthParaSize);
    const u16 width = u16((u32(rd16(back)) + dx + 31) & ~u32(31));
    const u16 height = u16(rd16(back + 2) + dy);
    wr16(eth, width);
    wr16(eth + 2, height);
    wr16(ram + 60, width);
    wr16(ram + 62, height);
    for (int port = 0; port < 16; ++port) {
        const u16 at = packedPortOffset(port);
        const u16 x = u16(rd16(back + at) + dx), y = u16(rd16(back + at + 2) + dy);
        wr16(eth + at, x);
        wr16(eth + at + 2, y);
        wr16(ram + kPortRectOffset[port], x);
        wr16(ram + kPortRectOffset[port] + 2, y);
    }
}

// ------------------------------------------------------------------------------------
// Port geometry for the PC protocol

u8 fpga_manage::get_eth_param_addr(int port, u16* x, u16* y, u16* w, u16* h)
{
    const u16 base = kPortRectOffset[(port >= 1 && port <= 15) ? port : 0];
    if (x)
        *x = base;
    if (y)
        *y = u16(base + 2);
    if (w)
        *w = u16(base + 4);
    if (h)
        *h = u16(base + 6);
    return 0;
}

u8 fpga_manage::get_eth_min_x_y(u8 fpga, u16* x, u16* y)
{
    if (!validFpga(fpga))
        return 0;
    const u8* ram = MCU_RAM_PARA_func[fpga];
    u16 minX = 0xFFFF, minY = 0xFFFF;
    for (int port = 0; port <= 9; ++port) {
        const u8* rect = ram + kPortRectOffset[port];
        if (rd16(rect) < minX)
            minX = rd16(rect);
        if (rd16(rect + 2) < minY)
            minY = rd16(rect + 2);
    }
    if (x)
        *x = minX;
    if (y)
        *y = minY;
    return 0;
}

u8 fpga_manage::get_eth_max_border(u8 fpga, u32* right, u32* bottom)
{
    if (!validFpga(fpga))
        return 0;
    const u8* ram = MCU_RAM_PARA_func[fpga];
    u32 maxR = 0, maxB = 0;
    for (int port = 0; port <= 9; ++port) {
        const u8* rect = ram + kPortRectOffset[port];
        const u32 r = u32(rd16(rect)) + rd16(rect + 4), b = u32(rd16(rect + 2)) + rd16(rect + 6);
        if (r > maxR)
            maxR = r;
        if (b > maxB)
            maxB = b;
    }
    if (right)
        *right = maxR;
    if (bottom)
        *bottom = maxB;
    return 0;
}

u8 fpga_manage::get_eth_lcd_x_y(u8 fpga, u16* x, u16* y)
{
    if (!validFpga(fpga))
        return 0;
    if (x)
        *x = rd16(MCU_RAM_PARA_func[fpga] + 56);
    if (y)
        *y = rd16(MCU_RAM_PARA_func[fpga] + 58);
    return 0;
}

u8 fpga_manage::get_eth_lcd_w_h(u8 fpga, u16* w, u16* h)
{
    if (!validFpga(fpga))
        return 0;
    if (w)
        *w = rd16(MCU_RAM_PARA_func[fpga] + 60);
    if (h)
        *h = rd16(MCU_RAM_PARA_func[fpga] + 62);
    return 0;
}

// ------------------------------------------------------------------------------------
// Output check

void fpga_manage::power_up_check_fpga_status(u8 fpga)
{
    if (!validFpga(fpga))
        return;
    u8* reg = MCU_REG_func[fpga];
    if (reg_shadow(80, fpga) != kMcuRunning || link_stage[fpga] != 7 || reset_pending[fpga])
        return;
    const u32 span = Utils::getTimeSpace(check_stamp[fpga]);
    const u32 now = G_timeTicks.load();
    switch (check_step[fpga].load()) {
    case 0:
        if (span <= 10)
            return;
        read_from_register(22, fpga);
        if (reg_shadow(22, fpga) & 0x80) {
            check_step[fpga] = 7;
        } else if (++check_counter[fpga] >= (check_retry[fpga] + 1u) * 20u) {
            check_counter[fpga] = 0;
            if (++check_retry[fpga] > 101)
                check_step[fpga] = 7;
            else
                reset_fpga_rst(fpga);
        }
        check_stamp[fpga] = now;
        KEL_TRACE("\n fpga%d************%d\n", fpga, check_counter[fpga]);
        break;
    case 7: {
        if (span <= 10)
            return;
        u8 measured[8];
        const bool read = read_fpga_ram(measured, 116, 8, 1, fpga) == 0;
        const u32 width = read ? rd16(measured) : 0, height = read ? rd16(measured + 2) : 0;
        const u32 clock = read ? rd32(measured + 4) : 0;
        const u32 ledWidth = blockWord(KelRamPara::kLedWidth), ledHeight = blockWord(KelRamPara::kLedHeight);
        if (read && width >= ledWidth / 2 && height >= ledHeight / 2 && clock >= kClockMin && clock < kClockEnd) {
            write_to_register(2, 0x01, 0x01, fpga);
            check_step[fpga] = 1;
            KEL_TRACE("\nfpag%d.......ok(%d,%d,%d)  123................\n", fpga, int(width), int(height), int(clock));
            check_error_shown[fpga] = 0;
        } else {
            // Looked at every 10 ticks for as long as it fails: said again only when it changes.
            const u32 seen[3] = {width, height, clock};
            if (!check_error_shown[fpga] || !std::equal(seen, seen + 3, check_error_last[fpga])) {
                KEL_TRACE("\nfpag%d.......error(%d,%d,%d)................\n", fpga, int(width), int(height), int(clock));
                std::copy(seen, seen + 3, check_error_last[fpga]);
                check_error_shown[fpga] = 1;
            }
        }
        check_stamp[fpga] = now;
        break;
    }
    case 1:
        if (span <= 30)
            return;
        write_to_register(41, 0x01, 0x01, fpga);
        check_step[fpga] = 8;
        check_stamp[fpga] = now;
        write_to_register(23, 0x02, 0x02, fpga);
        break;
    case 8:
        if (span <= 5)
            return;
        read_from_register(23, fpga);
        check_step[fpga] = (reg[23] & 0x02) ? 2 : 1;
        check_stamp[fpga] = now;
        break;
    case 2:
        if (span < 11)
            return;
        read_from_register(41, fpga);
        ram_reset_seen[fpga] = 1;
        check_step[fpga] = 9;
        check_stamp[fpga] = now;
        break;
    case 9:
        write_to_register(23, 0x02, 0x00, fpga);
        check_step[fpga] = 10;
        check_stamp[fpga] = now;
        break;
    case 10:
        if (span < 6)
            return;
        read_from_register(23, fpga);
        if (reg[23] & 0x02) {
            check_step[fpga] = 9;
        } else {
            check_step[fpga] = 3;
            KEL_TRACE("\n --------------------check_fpga%d_singal_reset  0011------------------------- \n", fpga);
        }
        check_stamp[fpga] = now;
        break;
    case 3:
        if (ram_reset_seen[fpga] == 1) {
            KEL_TRACE("\n --------------------RAM PARA reset!!!!!!---------------------- ");
            check_step[fpga] = 14;
        }
        break;
    case 14:
        if (span <= 10)
            return;
        SCREEN_fpgactrl_status2(11, fpga);
        check_step[fpga] = 15;
        write_to_register(2, 0x01, 0x01, fpga);
        check_stamp[fpga] = now;
        break;
    case 15:
        if (span <= 30)
            return;
        check_step[fpga] = 16;
        check_stamp[fpga] = now;
        Brightness_hand_dealwith();
        SCREEN_fpgactrl_status2(4, fpga);
        KEL_TRACE("\n fpga%d over to enable lcd\n", fpga);
        g_fpga_lcd_on = 1;
        if (KelRamPara* para = KelRamPara::p_kelrampara_config)
            para->test_signal(12);
        break;
    case 16:
        if (g_source_online != 2 || span < 21)
            return;
        write_to_register(2, 0x01, 0x01, fpga);
        check_step[fpga] = 18;
        KEL_TRACE("\n fpga%d last.... \n", fpga);
        // The bring-up ends with the screen as the word says: a screen set dark stays dark
        // through a size change or an FPGA that lost its set-up.
        if (screen_from_word(fpga) != 0)
            screen_update_flag = 1;
        KEL_TRACE("\n fpga%d start to light on \n", fpga);
        break;
    default:
        break;
    }
}
