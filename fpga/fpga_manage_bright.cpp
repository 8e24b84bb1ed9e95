// Brightness of the LED screen (FPGA register 6): by hand from the parameter block or the
// PC, from a table of 48 half-hour values, or from the light sensor on a function card.
// The daily on/off schedule, and the PC's command mailbox that sets the clock, the schedule
// and the brightness mode and keeps them in the FPGA's configuration flash.

#include "fpga/fpga_manage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"

#include <QString>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr u32 kOnOffSector = 782;
constexpr u32 kBrightSector = 783;
constexpr unsigned kMailboxSize = 1024;
constexpr unsigned kBlockHead = 8;
constexpr unsigned kOnOffRead = 50;            // enough for four schedule entries
constexpr unsigned kBrightRead = 57;           // header, mode and 48 half-hour values
constexpr u8 kStore = 0xAA;
constexpr u8 kErase = 0x55;
constexpr u8 kSensorCommand = 0x61;            // the answer to the sensor read
constexpr u32 kSensorAddress = 0x02000000;
constexpr u16 kSensorLength = 128;
constexpr u8 kSensorValid = 49;                // sensor byte 49 = 255: the reading is valid
constexpr u8 kSensorSuggested = 53;            // the brightness the sensor suggests
constexpr u32 kMissLimit = 10;

u8 bcd(u8 v) { return u8((v >> 4) * 10 + (v & 0x0F)); }
// The FPGA's byte of a percentage is rounded down, and the percentage of a byte to the
// nearest: each percentage then comes back as itself from its byte (50 % gives 127, which
// gives 50 %, not 49), however often a restart or a re-apply takes it round.
u32 byteOfPercent(u32 percent) { return std::min<u32>(percent, 100) * 255 / 100; }
u32 percentOfByte(u32 value) { return (value * 100 + 127) / 255; }
bool handMode(u8 mode) { return mode == 0 || mode == 16; }
bool tableMode(u8 mode) { return mode == 1 || mode == 17; }
// The FPGA value of a hand or table value: modes 16, 17 and 2 take it as it is, the others
// as 16 x v - 1 (1..16 give 15..255, 0 gives 255).
u32 handValue(u32 value, u8 mode)
{
    return mode == 16 || mode == 17 || mode == 2 ? value : (value * 16 - 1) & 0xFF;
}

// Erases the block's sector and writes the block (header and data) in front of it. A block
// whose length runs past the mailbox is not stored; false then.
bool storeBlock(u32 address, u32 sector, const u8* block)
{
    const unsigned n = kBlockHead + KelRamPara::get16(block + 6);
    if (n > kMailboxSize) {
        KEL_TRACE("\n mailbox block of %u bytes not stored\n", n);
        return false;
    }
    bool ok = fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(fpga_manage::kFlashDevice, sector, 0, 1);
    // The flash writer works in the four bytes in front of the data. The valid mark goes in
    // last: a block longer than a page that is cut short is no block, never part of one.
    std::vector<u8> work(n + 4);
    std::memcpy(work.data() + 4, block, n);
    work[4] = 0xFF;
    ok = ok && fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(fpga_manage::kFlashDevice, address, work.data(), n);
    work[4] = block[0];
    // Marked valid only over a block written whole.
    ok = ok && fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(fpga_manage::kFlashDevice, address, work.data(), 1);
    return ok;
}

void eraseBlock(u32 sector)
{
    // A block that could not be erased keeps its valid mark and is read as before: nothing
    // else to do for a clearing that is itself the reply to a failure.
    static_cast<void>(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(fpga_manage::kFlashDevice, sector, 0, 1));
}

// Reads a stored block into out; false unless it is there and marked valid.
bool readBlock(u32 address, u8* out, unsigned n)
{
    u8 marker = 0;
    return fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(fpga_manage::kFlashDevice, address, 1, &marker) &&
           marker == fpga_manage::kBlockValid &&
           fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(fpga_manage::kFlashDevice, address, n, out);
}

} // namespace

// ------------------------------------------------------------------------------------
// Command mailbox

void fpga_manage::Dealwith_mcu_ram()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    // The command is taken from a copy: another link may write the mailbox meanwhile.
    u8 block[kMailboxSize];
    std::memcpy(block, MCU_RAM_CMD, sizeof block);
    if (block[0] != kBlockValid)
        return;
    const u8 store = block[2];
    switch (block[1]) {
    case 1:
        Checktime(block);
        break;
    case 2:
        OnOff_time(block);
        if (store == kStore) {
            storeBlock(kOnOffFlash, kOnOffSector, block);
            write_to_register(66, 0xFF, 1, 0);
        } else if (store == kErase) {
            eraseBlock(kOnOffSector);
            write_to_register(66, 0xFF, 0, 0);
        }
        break;
    case 3: {
        const u8 mode = block[8];
        if (mode & 0xEF) {
            // Schedule and automatic modes take effect through the stored block.
            if (store == kStore) {
                storeBlock(kBrightFlash, kBrightSector, block);
                bri_reload = 1;
            } else if (store == kErase) {
                eraseBlock(kBrightSector);
                bri_reload = 1;
            }
            g_change[CHG_BRI_MISS] = 0;
            break;
        }
        // A hand value is on its own command's scale (16 raw, 0 as 16 x v - 1), and it
        // stays on that scale, as the LED screen shows it, until the running mode sets a value
        // of its own: the next half-hour slot, the light sensor's next step. The running
        // mode is left as it is; only a stored block becomes the running mode.
        write_to_register(64, 0xFF, block[9], 0);
        bri_hand_scale = mode;
        Brightness_hand_dealwith();
        if (store == kStore) {
            storeBlock(kBrightFlash, kBrightSector, block);
            bri_reload = 1;
        }
        break;
    }
    default:
        break;
    }
}

void fpga_manage::Checktime(const u8* block)
{
    if (!block)
        return;
    const int year = bcd(block[8]) + 100 * bcd(block[9]);
    const QString date = QString("%1-%2-%3").arg(year).arg(bcd(block[10])).arg(bcd(block[11]));
    const QString time = QString("%1:%2:%3").arg(bcd(block[12])).arg(bcd(block[13])).arg(bcd(block[14]));
    // The clock from the card's block is a best guess; one not set stays as it was.
    static_cast<void>(Utils::system_mutex("date \"" + date + " " + time + "\";hwclock -wu", nullptr));
    m_clock_record.dealwith_record_timing();
    IT8563WE_Get(&time_now);
}

void fpga_manage::OnOff_time(const u8* block)
{
    if (!block)
        return;
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    onoff_count = std::min<u8>(block[8], 4);
    for (int i = 0; i < onoff_count; ++i) {
        const u8* r = block + 9 + 4 * i;
        onoff[i] = OnOffEntry{bcd(r[0]), bcd(r[1]), bcd(r[2]), bcd(r[3])};
    }
    // The next pass sets the screen as the new schedule has it then, once.
    onoff_fresh = 1;
}

// ------------------------------------------------------------------------------------
// Stored blocks

void fpga_manage::record_onoff_time(u8 device)
{
    if (reg_shadow(80, 0) != 3 && device != 2)
        return;
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    // Read beside the mailbox, which also carries the version bytes the PC reads.
    u8 block[kOnOffRead];
    if (!readBlock(kOnOffFlash, block, sizeof block))
        return;
    OnOff_time(block);
    write_to_register(66, 0xFF, 1, 0);
}

void fpga_manage::record_bright_change()
{
    if (reg_shadow(80, 0) != 3)
        return;
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    u8 block[kBrightRead];
    if (!readBlock(kBrightFlash, block, sizeof block)) {
        g_change[CHG_BRI_TASK] = 0;
        return;
    }
    Brightness_init(block);
}

void fpga_manage::Brightness_init(const u8* block)
{
    if (!block)
        return;
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    bri_mode = block[8];
    bri_hand_scale = kNoMode;
    bri_last_slot = 255;
    g_change[CHG_BRI_FORCE] = 0;
    g_change[CHG_BRI_TASK] = 0;
    if (handMode(bri_mode)) {
        write_to_register(64, 0xFF, block[9], 0);
        g_change[CHG_BRI_REPEAT] = 0;
        g_change[CHG_BRI_TASK] = 1;
    } else if (tableMode(bri_mode)) {
        std::memcpy(HalfHourValue, block + 9, sizeof HalfHourValue);
        // The bring-up's end applies register 64 before the table's first run: it holds the
        // slot's value then, not what it held before (0 in a fresh process: full or black).
        IT8563WE_Get(&time_now);
        write_to_register(64, 0xFF, HalfHourValue[half_hour_slot(time_now.hour, time_now.minute)], 0);
        g_change[CHG_BRI_TASK] = 1;
    } else if (bri_mode == 2) {
        // The sensor goes on from what the screen shows, on its own (raw) scale: the hand
        // value left behind may be on another (16 x v - 1), and re-applied raw it would drop
        // the screen while the sensor has no valid reading. Before anything was shown (at a
        // start) that is the parameter block's brightness, which follows the screen (a screen
        // at 0 keeps 0 there); 0 would leave it near black while the sensor climbs a step a read.
        if (g_change[CHG_BRI_TARGET] == 0) {
            KelRamPara* para = KelRamPara::p_kelrampara_config;
            g_change[CHG_BRI_TARGET] = byteOfPercent(para ? para->locked16(KelRamPara::kBrightness) : 100);
        }
        write_to_register(64, 0xFF, u8(g_change[CHG_BRI_TARGET]), 0);
        g_change[CHG_BRI_TASK] = 1;
    }
}

// ------------------------------------------------------------------------------------
// Applying the brightness

void fpga_manage::Brightness_hand_dealwith()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    const u8 mode = bri_mode;
    g_change[CHG_BRI_BUSY] = 1;
    read_from_register(128, 0);
    read_from_register(144, 0);
    const bool link = reg_shadow(128, 0) != 0 || reg_shadow(144, 0) != 0;
    const bool request = bri_request_taken != 0 || bri_update_flag != 0;
    KelRamPara* para = KelRamPara::p_kelrampara_config;

    // The value is chosen (and a changed one kept) whether or not a port has link, so that
    // a change made while the screen is unplugged is not lost.
    u32 value;
    if (request) {
        value = byteOfPercent(para ? para->locked16(KelRamPara::kBrightness) : 100);
        if (mode != 16 && mode != 17)
            value = std::max<u32>(value, 15);
        write_to_register(64, 0xFF, u8(value), 0);
        bri_hand_scale = kNoMode;                // no earlier command's scale for this value
    } else {
        value = handValue(reg_shadow(64, 0), bri_hand_scale != kNoMode ? bri_hand_scale : mode);
        if (para) {
            bool changed = false;
            {
                // PC links write the block on their threads.
                std::unique_lock<std::mutex> block = KelRamPara::lock_block();
                const u32 shown = para->ram16(KelRamPara::kBrightness);
                // The block keeps its percentage when that percentage gives this very value,
                // so the percentage does not creep down by rounding at every re-apply; and
                // an edit the scaler has not applied yet (a PC's new percentage) is not
                // overwritten by the value it is about to replace.
                if (!para->apply_pending() && percentOfByte(value) != shown && byteOfPercent(shown) != value) {
                    KelRamPara::put16(para->ram + KelRamPara::kBrightness, u16(percentOfByte(value)));
                    changed = true;
                }
            }
            if (changed)
                para->test_signal(1);
        }
    }
    // Whatever set it, the light sensor's steps go on from the brightness the screen shows,
    // never from a value on another scale.
    g_change[CHG_BRI_TARGET] = value;
    if (link) {
        write_to_register(6, 0xFF, u8(value), 0);
        write_to_register(3, 0x04, 0x04, 0);
        MCU_RAM_PARA_func[0][256] = 1;
    }
    g_change[CHG_BRI_BUSY] = 0;

    if (request) {
        // Kept as a hand setting, and taken up at once as the running mode too.
        u8 block[kBrightRead] = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
        std::memset(block + 9, reg_shadow(64, 0), 48);
        storeBlock(kBrightFlash, kBrightSector, block);
        bri_reload = 1;
    }
}

// ------------------------------------------------------------------------------------
// Periodic work

void fpga_manage::Extension_function()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    IT8563WE_Get(&time_now);
    if (bri_reload) {
        bri_reload = 0;
        record_bright_change();
    }
    if (g_change[CHG_BRI_TASK])
        Brightness_task();
    if (reg_shadow(66, 0) == 1)
        dealwith_onoff();
}

void fpga_manage::Brightness_task()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    const u32 period = bri_mode == 2 ? 200 : 1000;
    if (Utils::getTimeSpace(g_change[CHG_BRI_STAMP]) < period)
        return;
    g_change[CHG_BRI_STAMP] = G_timeTicks.load();
    if (bri_mode == 2) {
        Brightness_check_VMF();
        Brightness_read_VMF_value();
        Brightness_auto_filter();
        Brightness_hand_dealwith();
    } else if (tableMode(bri_mode)) {
        Brightness_time_change();
    } else if (handMode(bri_mode)) {
        Brightness_hand_change();
    }
}

u8 fpga_manage::half_hour_slot(u8 hour, u8 minute)
{
    const unsigned minutes = hour * 60u + minute;
    unsigned slot = minutes / 30;
    if (minutes >= 1440)
        slot -= 1;
    return u8(std::min(slot, 47u));
}

void fpga_manage::Brightness_time_change()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    const u8 slot = half_hour_slot(time_now.hour, time_now.minute);
    if (slot == bri_last_slot && g_change[CHG_BRI_FORCE] == 0) {
        if (g_change[CHG_BRI_REPEAT] < 2) {
            g_change[CHG_BRI_REPEAT]++;
            Brightness_hand_dealwith();
        }
        return;
    }
    g_change[CHG_BRI_FORCE] = 0;
    g_change[CHG_BRI_REPEAT] = 0;
    write_to_register(64, 0xFF, HalfHourValue[slot], 0);
    bri_hand_scale = kNoMode;
    Brightness_hand_dealwith();
    Brightness_hand_dealwith();
    bri_last_slot = slot;
}

void fpga_manage::Brightness_hand_change()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    if (g_change[CHG_BRI_FORCE]) {
        g_change[CHG_BRI_FORCE] = 0;
        g_change[CHG_BRI_REPEAT] = 0;
    }
    if (g_change[CHG_BRI_REPEAT] >= 5)
        return;
    g_change[CHG_BRI_REPEAT]++;
    Brightness_hand_dealwith();
}

// ------------------------------------------------------------------------------------
// Light sensor

void fpga_manage::Brightness_check_VMF()
{
    for (int port = 0; port < 16; ++port) {
        if (MCU_RAM_PARA_func[0][kCardFlagOffset[port]]) {
            g_change[CHG_VMF_ADDRESS] = 0x4000u + 0x1000u * u32(port & 3);
            g_change[CHG_VMF_GROUP] = u32(port / 4 + 1);
            return;
        }
    }
    g_change[CHG_VMF_ADDRESS] = 0;
    g_change[CHG_VMF_GROUP] = 0;
}

void fpga_manage::Brightness_read_VMF_value()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    const u32 address = g_change[CHG_VMF_ADDRESS];
    const u32 group = g_change[CHG_VMF_GROUP];
    if (address < 0x4000 || address > 0x7000 || group < 1 || group > 4)
        return;
    u8 packet[19] = {u8(address & 0xFF), u8(address >> 8), 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, kSensorCommand};
    for (int i = 0; i < 4; ++i)
        packet[10 + i] = u8(kSensorAddress >> (8 * i));
    packet[14] = u8(kSensorLength & 0xFF);
    packet[15] = u8(kSensorLength >> 8);
    packet[18] = u8(Utils::BCC(packet, 18));
    const int port = int((group - 1) * 4 + (address / 0x1000 - 4));
    {
        std::lock_guard<std::mutex> path(port_path_mutex);
        std::memset(func_card_reply, 0, sizeof func_card_reply);
    }
    Send_to_port(packet, sizeof packet, port, 0);
    g_change[CHG_VMF_EXPECT] = kSensorCommand;
    g_change[CHG_VMF_STATE] = 0;
    g_change[CHG_VMF_VALID] = 0;
    wait_VMF_answer([this] {
        std::lock_guard<std::mutex> path(port_path_mutex);
        reg_IRQ_Dealwith(0, 0);
        reg_IRQ_Dealwith(1, 0);
        VMF_data_back_result();
    });
    if (g_change[CHG_VMF_STATE] == 0)
        g_change[CHG_BRI_MISS]++;
}

void fpga_manage::VMF_data_back_result()
{
    // Called under port_path_mutex, which guards the reply buffer.
    if (!func_card_reply[0])
        return;
    // An answer that does not carry all the sensor bytes asked for is not taken: the bytes
    // it lacks would read as zeros (a suggested brightness of 0).
    if (func_card_reply[2] == 0 && func_card_reply[1] == g_change[CHG_VMF_EXPECT] &&
        func_card_reply_len >= 1 + sizeof VMF_sensor_data) {
        std::memcpy(VMF_sensor_data, func_card_reply + 3, sizeof VMF_sensor_data);
        g_change[CHG_VMF_VALID] = 1;
        g_change[CHG_VMF_STATE] = 1;
    } else {
        write_to_register(85, 0xFF, u8(reg_shadow(85, 0) + 1), 0);
    }
    func_card_reply[0] = 0;
}

void fpga_manage::Brightness_auto_filter()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    if (g_change[CHG_VMF_VALID]) {
        g_change[CHG_VMF_VALID] = 0;
        g_change[CHG_BRI_MISS] = 0;
        if (VMF_sensor_data[kSensorValid] == 255) {
            u32 target = g_change[CHG_BRI_TARGET];
            const u32 suggested = VMF_sensor_data[kSensorSuggested];
            if (target < suggested)
                ++target;
            else if (target > suggested)
                --target;
            target = std::min<u32>(target, 255);
            g_change[CHG_BRI_TARGET] = target;
            write_to_register(64, 0xFF, u8(target), 0);
            bri_hand_scale = kNoMode;
        }
    }
    if (g_change[CHG_BRI_MISS] >= kMissLimit) {
        g_change[CHG_BRI_TARGET] = 255;
        write_to_register(64, 0xFF, 255, 0);
        bri_hand_scale = kNoMode;
        g_change[CHG_BRI_MISS] = 0;
    }
}

// ------------------------------------------------------------------------------------
// On/off schedule

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_of(int year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = unsigned(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

} // namespace

void fpga_manage::dealwith_onoff()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    const int minute = onoff_minute_of(time_now.hour, time_now.minute);
    const int64_t now = days_of(time_now.year, time_now.month, time_now.day) * kOnOffNever + minute;
    // The screen is switched when a switch fell due since the last pass (at its minute or,
    // when no pass came then, at the first pass after it), when the schedule is new, or
    // when the clock was set back; and then straight to the state the schedule gives for
    // now: switches that the clock or a late pass ran past are not replayed one by one,
    // which would flash the screen dark and lit.
    const bool due = onoff_fresh || now < onoff_last || onoff_due(onoff_last, now);
    onoff_fresh = 0;
    onoff_last = now;
    const int dark = onoff_state(minute);
    if (!due || dark < 0)
        return;
    // The schedule asks for a state like any other owner of the screen: through the word,
    // which the screen then follows (a bring-up later ends as the schedule left it).
    read_from_register(0, 0);
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    const bool wordDark = para && para->locked16(KelRamPara::kScreenDark) != 0;
    if (((reg_shadow(0, 0) & 0x04) != 0) == (dark != 0) && wordDark == (dark != 0))
        return;                                    // already so: nothing to flash or re-arm
    if (set_screen_dark(u8(dark)) != 0)
        screen_update_flag = 1;                    // the word holds it; the screen follows next pass
    onoff_dark = u8(dark);
    Power_ctrl_reset();
}

int fpga_manage::onoff_minute_of(u8 hour, u8 minute)
{
    return hour < 24 && minute < 60 ? hour * 60 + minute : kOnOffNever;
}

bool fpga_manage::onoff_due(int64_t from, int64_t to) const
{
    if (to <= from)
        return false;
    for (int i = 0; i < onoff_count; ++i) {
        const OnOffEntry& e = onoff[i];
        for (const int m : {onoff_minute_of(e.on_hour, e.on_minute), onoff_minute_of(e.off_hour, e.off_minute)}) {
            if (m == kOnOffNever)
                continue;
            // The first minute after `from` that has this time of day.
            int64_t at = from - ((from % kOnOffNever) + kOnOffNever) % kOnOffNever + m;
            if (at <= from)
                at += kOnOffNever;
            if (at <= to)
                return true;
        }
    }
    return false;
}

int fpga_manage::onoff_state(int minute) const
{
    // The latest switch at or before the minute; before the day's first, the day's last
    // (the one the day before ended with). Of one minute, dark after lit.
    int latest = -1, last = -1;
    for (int i = 0; i < onoff_count; ++i) {
        const OnOffEntry& e = onoff[i];
        for (const int key : {2 * onoff_minute_of(e.on_hour, e.on_minute), 2 * onoff_minute_of(e.off_hour, e.off_minute) + 1}) {
            if (key >= 2 * kOnOffNever)
                continue;
            last = std::max(last, key);
            if (key / 2 <= minute)
                latest = std::max(latest, key);
        }
    }
    const int key = latest >= 0 ? latest : last;
    return key < 0 ? -1 : key & 1;
}
