#include "sources/velinsource.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "sources/drv_i2c.h"
#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_sys.h"
#include "sources/it6602/velin_it6602.h"
#include "sources/transmitters/it66121_hdmitx_sys.h"
#include "sources/transmitters/it66121_sys.h"

#include <cstring>
#include <system_error>
#include <thread>

velinsource* velinsource::p_velin_source = nullptr;

unsigned char edid_ram_table[4][kEdidSize];
std::atomic<uint8_t> edid_ram_table_from[4];
std::mutex g_edid_ram_table_mutex;

constexpr uint8_t velinsource::kChannel[4];
constexpr uint8_t velinsource::kAudioBit[4];
constexpr velinsource::PresetMode velinsource::kPresetModes[8];

namespace {
// SoC window offsets of the lines this side drives through the FPGA manager's mapping.
constexpr uint32_t kLineIt6602Reset = 0x207940;
constexpr uint32_t kLineIt6805Reset = 0x207944;
constexpr uint32_t kLineClock0Enable = 0x207858;
constexpr uint32_t kLineClock1Enable = 0x207864;
constexpr uint32_t kLinePulse = 0x2848;
constexpr uint16_t kLineHigh = 16;
constexpr uint16_t kLineLow = 0;

// The EEPROM takes 8-byte pages; after each page it is busy for its write cycle (a few
// milliseconds) and does not acknowledge its address until the cycle is over.
constexpr int kPage = 8;
constexpr int kPages = kEdidSize / kPage;
constexpr int kPageAttempts = 3;
constexpr int kWriteCyclePolls = 10;   // 1 ms apart

// Requested-EDID entries of the parameter block: width, height, refresh of input i.
constexpr int kEdidEntry = KelRamPara::kEdid;

QString check_edid_mode()
{
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    return g_check_edid;
}

// The pauses of a microsecond between the inputs' bus work only let other threads in, which
// the scheduler does anyway: a yield for each (nine per pass, a hundred passes a second)
// would only cost system calls. Longer pauses are real waits for the chips.
void sleep_us(uint64_t us)
{
    if (us >= 10)
        board::Clock::sleepUs(us);
}
} // namespace

// ---------------------------------------------------------------------------------------
// Life cycle

velinsource* velinsource::pInstance()
{
    if (!p_velin_source)
        p_velin_source = new velinsource();
    return p_velin_source;
}

velinsource::velinsource()
{
    p_ite6805_sys = new ite6805_sys();
    p_velin_it6602 = new velin_it6602();
    p_it66121_sys = new it66121_sys();
    p_drv_i2c0 = new Drv_I2C0();
    Drv_I2C0::p_drv_i2c0 = p_drv_i2c0;
    for (int i = 0; i < 4; ++i) {
        edid_request[i] = 0;
        edid_done[i] = 0;
        edid_generation[i] = 0;
        std::memset(&hdminfo[i], 0, sizeof hdminfo[i]);
        hdminfo[i].nosignal = 1;
        hdminfo[i].valid = 0;
    }
    for (int c = 0; c < 3; ++c) {
        clock_state[c] = 0;
        clock_done[c] = 0;
    }
    writeLogMsg(LOG_INFO, "====velinsource::velinsource()=====");
}

velinsource::~velinsource()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (Drv_I2C0::p_drv_i2c0 == p_drv_i2c0)
        Drv_I2C0::p_drv_i2c0 = nullptr;
    delete p_ite6805_sys;
    delete p_velin_it6602;
    delete p_it66121_sys;
    delete p_drv_i2c0;
    if (p_velin_source == this)
        p_velin_source = nullptr;
}

void velinsource::open_bus()
{
    int fd = p_drv_i2c0->initialize();
    p_velin_it6602->fd = fd;
    p_ite6805_sys->fd = fd;
    check_mask = g_check_source;
}

int velinsource::initialize()
{
    open_bus();
    const std::string dir = "/data/edidramtable";
    if (board::Files::exists(dir)) {
        KEL_TRACE("\n dir_edid_ram_table exists !/n");
    } else if (board::Files::makeDirs(dir)) {
        KEL_TRACE("\n dir_edid_ram_table created sucess!/n");
    } else {
        KEL_TRACE("\n dir_edid_ram_table created error!/n");
    }
    try {
        thread_ = std::thread(&velinsource::checksourceThread, this);
    } catch (const std::system_error&) {
        std::printf("create manage thread failed\n");
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    return 0;
}

void* velinsource::checksourceThread(void* arg)
{
    if (!arg)
        return nullptr;
    velinsource* self = static_cast<velinsource*>(arg);
    // One pass per 10 ms tick: fast enough for hot-plug and signal changes, and an idle
    // input side (no source, no chip answering) costs next to nothing.
    while (!self->stop_) {
        self->checksource_pass();
        board::Clock::sleepMs(kPassPauseMs);
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Controller registers and lines

uint8_t velinsource::reg(int n) const
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    return para ? __atomic_load_n(&para->reg_image[n], __ATOMIC_SEQ_CST) : 0;
}

void velinsource::it66121_sdi_enable()
{
    it66121_sys* tx = p_it66121_sys;
    switch (it66121_step) {
    case 0:
        tx->sdi_it66121_init();
        it66121_step = 1;
        break;
    case 1:
        if (tx->IT66121_Test()) {
            tx->present = 1;
            reg_set_bits(kRegChips, 0x02);
            it66121_step = 2;
        } else {
            tx->present = 0;
            ++tx->failed_tests;
            reg_clear_bits(kRegChips, 0x02);
        }
        break;
    case 2:
        tx->IT66121_init();
        it66121_step = 3;
        break;
    default:
        tx->p_hdmitx_sys->HDMITX_DevLoopProc();
        break;
    }
}

void velinsource::reg_set_bits(int n, uint8_t bits)
{
    if (KelRamPara* para = KelRamPara::p_kelrampara_config)
        __atomic_fetch_or(&para->reg_image[n], bits, __ATOMIC_SEQ_CST);
}

void velinsource::reg_clear_bits(int n, uint8_t bits)
{
    if (KelRamPara* para = KelRamPara::p_kelrampara_config)
        __atomic_fetch_and(&para->reg_image[n], uint8_t(~bits), __ATOMIC_SEQ_CST);
}

uint8_t velinsource::reg_take(int n)
{
    // The PC may write a command register at any moment: taking and clearing it in one
    // exchange means a command written in between is executed next time, never lost.
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    return para ? __atomic_exchange_n(&para->reg_image[n], uint8_t(0), __ATOMIC_SEQ_CST) : 0;
}

void velinsource::gpio_write(uint32_t offset, uint16_t value)
{
    // Some of these words are shared with the FPGA manager (a clock enable is an FPGA's
    // reset): written through its one lock, never past a reset it holds.
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (fpga && fpga->gpio_line(offset))
        fpga->drive_line(offset, value);
    else
        KEL_TRACE("\n velinsource: GPIO window not mapped, line %#x not driven\n", offset);
}

// ---------------------------------------------------------------------------------------
// Bus helpers

int velinsource::set_switch(uint8_t switchAddress, uint8_t channel)
{
    return p_drv_i2c0->i2c_write(p_velin_it6602->fd, switchAddress, 0x00, &channel, 1);
}

int velinsource::write_expander()
{
    uint8_t value = uint8_t(audio_select_bits | eeprom_protect_bit);
    const int ok = p_drv_i2c0->i2c_write(p_velin_it6602->fd, kExpander, 0x00, &value, 1);
    expander_owed = ok != 1;
    return ok;
}

int velinsource::eeprom_write_image(const unsigned char* image)
{
    const int fd = p_velin_it6602->fd;
    for (int page = 0; page < kPages; ++page) {
        const uint8_t offset = uint8_t(page * kPage);
        bool written = false;
        for (int attempt = 0; attempt < kPageAttempts && !written; ++attempt) {
            if (!p_drv_i2c0->i2c_write(fd, kEeprom, offset, image + offset, kPage)) {
                // Busy from an earlier cycle or not there: give it one cycle and retry.
                board::Clock::sleepMs(kWriteCyclePolls);
                continue;
            }
            // Acknowledge polling: the address is acknowledged again once the page is stored.
            for (int poll = 0; poll < kWriteCyclePolls && !written; ++poll) {
                board::Clock::sleepMs(1);
                written = p_drv_i2c0->i2c_write(fd, kEeprom, offset, nullptr, 0) == 1;
            }
        }
        if (!written) {
            KEL_TRACE("write eeprom error02 !!!!!!%d\n", page);
            return 0;
        }
    }
    return 1;
}

int velinsource::eeprom_read_image(unsigned char* out)
{
    std::memset(out, 0, kEdidSize);
    int ok = 1;
    for (int page = 0; page < kPages; ++page)
        if (!p_drv_i2c0->i2c_read(p_velin_it6602->fd, kEeprom, uint8_t(page * kPage), out + page * kPage, kPage))
            ok = 0;
    return ok;
}

bool velinsource::edid_block0_valid(const unsigned char* image)
{
    if (image[0] != 0x00 || image[7] != 0x00)
        return false;
    for (int i = 1; i <= 6; ++i)
        if (image[i] != 0xFF)
            return false;
    return CalcSum4LCD(0, image, 128) == 0;
}

int velinsource::program_eeprom(int input, const unsigned char* image)
{
    const uint8_t channel = kChannel[input];
    eeprom_protect_bit = 0;
    const bool unprotected = write_expander() == 1;
    if (unprotected)
        KEL_TRACE("\n edid set ok ,%d\n", channel);
    else
        KEL_TRACE("\n edid set error ,%d\n", channel);

    bool verified = false;
    // Nothing is written while the protection is on or another EEPROM's branch is.
    if (unprotected && set_switch(kSwitchEeprom, channel)) {
        const bool written = eeprom_write_image(image) == 1;
        KEL_TRACE(written ? "\n write eeprom ok !!! %d\n" : "write eeprom error02 !!! %d\n", channel);
        unsigned char back[kEdidSize];
        const bool read = eeprom_read_image(back) == 1;
        KEL_TRACE("\n start to compare edid");
        int differences = 0;
        for (int i = 0; i < kEdidSize; ++i) {
            if (back[i] != image[i]) {
                if (differences < 16)
                    KEL_TRACE("\n compare error %d,%d,%d!!!\n", i, image[i], back[i]);
                ++differences;
            }
        }
        KEL_TRACE("\n over to compare edid");
        verified = written && read && differences == 0;
    }
    // Not taken, the protection is owed and written again on every pass until it is.
    eeprom_protect_bit = kProtectBit;
    (void)write_expander();   // owed when not taken
    return unprotected && verified ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// The thread

void velinsource::checksource_pass()
{
    uint8_t state;
    uint32_t stamp;
    {
        std::lock_guard<std::mutex> hold(Utils::_source_init_mutex);
        state = thread_state;
        stamp = thread_stamp;
    }
    auto next = [this](uint8_t s) {
        std::lock_guard<std::mutex> hold(Utils::_source_init_mutex);
        thread_state = s;
        thread_stamp = G_timeTicks;
    };

    switch (state) {
    case kStateReset:
        state_reset();
        next(kStateResetWait);
        break;
    case kStateResetWait:
        if (Utils::getTimeSpace(stamp) > 10)
            next(kStateRelease);
        break;
    case kStateRelease:
        state_release();
        next(kStateReleaseWait);
        break;
    case kStateReleaseWait:
        if (Utils::getTimeSpace(stamp) > 10)
            next(kStateEdidCheck);
        break;
    case kStateEdidCheck: {
        const QString mode = check_edid_mode();
        if (mode == "Once") {
            edid_check();
        } else {
            audio_select_bits = 0;
            eeprom_protect_bit = kProtectBit;
            (void)write_expander();   // owed when not taken: the main pass writes it again
            next(kStateRun);
        }
        if (thread_state == kStateRun) {
            if (mode == "Once") {
                // The engine exists from start-up on; pInstance() would bring the network up again.
                // Kept as it was: a "Never" not stored means one more check at the next start.
                if (ConfigEngine* config = ConfigEngine::p_config)
                    static_cast<void>(config->write_config_variant(ConfigItem::EDIDCheck, QVariant(QString("Never"))));
                board::Clock::sleepMs(1);
                board::Files::sync();
            } else if (mode == "Never") {
                reg_set_bits(kRegInputs, 0x5F);
                reg_set_bits(kRegChips, 0x80);
            }
        }
        break;
    }
    default: {
        // Main pass.
        sleep_us(1);
        if (set_switch(kSwitchEeprom, kClockChannel)) {
            reg_set_bits(kRegInputs, 0x20);
            if (!clock_done[0]) {
                sleep_us(100);
                s5p210_setup(0);
            }
        } else {
            reg_clear_bits(kRegInputs, 0x20);
        }
        if (expander_owed)
            (void)write_expander();   // still owed when not taken
        edid_requests();
        register32_commands();
        audio_route();
        line_pulse();
        sourcecheck(this);
        break;
    }
    }
}

void velinsource::state_reset()
{
    if (reset_flag[0] || reset_flag[1] || reset_flag[2])
        gpio_write(kLineIt6602Reset, kLineLow);
    if (reset_flag[3]) {
        gpio_write(kLineIt6805Reset, kLineLow);
        p_ite6805_sys->ite6805_sys_reset_init();
    }
}

void velinsource::state_release()
{
    if (reset_flag[0] || reset_flag[1] || reset_flag[2])
        gpio_write(kLineIt6602Reset, kLineHigh);
    if (reset_flag[3])
        gpio_write(kLineIt6805Reset, kLineHigh);
    for (auto& flag : reset_flag)
        flag = 0;
}

void velinsource::edid_check()
{
    audio_select_bits = 0;
    eeprom_protect_bit = kProtectBit;
    (void)write_expander();   // owed when not taken
    unsigned char buffer[kEdidSize];
    for (int k = 0; k < 4; ++k) {
        const uint8_t bit = uint8_t(1u << k);
        if (!(reg(kRegInputs) & bit))
            continue;
        if (set_switch(kSwitchEeprom, kChannel[k])) {
            reg_set_bits(kRegInputs, 0x40);
        } else {
            reg_clear_bits(kRegInputs, 0x40);
            // Another input's EEPROM would be read, and perhaps repaired: the check is made
            // again on the next pass, a bounded number of times.
            if (++edid_check_tries < kEdidCheckTries)
                return;
            continue;
        }
        board::Clock::sleepMs(10);
        bool read = eeprom_read_image(buffer) == 1;
        if (read)
            reg_set_bits(kRegInputs, bit);
        else
            reg_clear_bits(kRegInputs, bit);
        if (read && edid_block0_valid(buffer))
            continue;

        // Blank or damaged: write the input's default image and test again.
        KEL_TRACE("\n eeprom %d invalid, writing the default edid\n", k);
        const unsigned char* image = default_image(k);
        // The protection not lifted is no broken EEPROM: the check is made again on a later
        // pass, a bounded number of times, as for a switch not taken.
        eeprom_protect_bit = 0;
        if (write_expander() != 1) {
            eeprom_protect_bit = kProtectBit;
            if (++edid_check_tries < kEdidCheckTries)
                return;
            continue;
        }
        (void)eeprom_write_image(image);   // judged by the read-back below
        board::Clock::sleepMs(10);
        read = eeprom_read_image(buffer) == 1;
        for (int line = 0; line < 8; ++line) {
            KEL_TRACE("\n");
            for (int i = 0; i < 16; ++i)
                KEL_TRACE("%02x ", buffer[line * 16 + i]);
        }
        eeprom_protect_bit = kProtectBit;
        if (read && edid_block0_valid(buffer) && std::memcmp(buffer, image, kEdidSize) == 0) {
            reg_set_bits(kRegInputs, bit);
            (void)write_expander();   // owed when not taken
            continue;
        }
        reg_clear_bits(kRegInputs, bit);
        (void)write_expander();   // owed when not taken
        KEL_TRACE("\n eeprom %d could not be repaired\n", k);
        reset_flag[0] = 1;
        reset_flag[3] = 1;
        std::lock_guard<std::mutex> hold(Utils::_source_init_mutex);
        thread_state = kStateReset;
        thread_stamp = G_timeTicks;
        return;
    }
    eeprom_protect_bit = kProtectBit;
    (void)write_expander();   // owed when not taken
    edid_check_tries = 0;
    std::lock_guard<std::mutex> hold(Utils::_source_init_mutex);
    thread_state = kStateRun;
    thread_stamp = G_timeTicks;
}

void velinsource::raise_edid_request(int input)
{
    if (input < 0 || input > 3)
        return;
    std::lock_guard<std::mutex> hold(Utils::_system_mutex);
    edid_done[input] = 0;
    edid_request[input] = 1;
    ++edid_generation[input];
}

void velinsource::edid_requests()
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    for (int k = 0; k < 4; ++k) {
        uint32_t generation;
        {
            std::lock_guard<std::mutex> hold(Utils::_system_mutex);
            if (edid_request[k] != 1 || edid_done[k] != 0)
                continue;
            generation = edid_generation[k];
        }
        if (edid_retry_pending[k] && Utils::getTimeSpace(edid_retry_stamp[k]) < kEdidRetryTicks)
            continue;
        int width = 0, height = 0, hz = 0;
        if (para) {
            std::unique_lock<std::mutex> block = KelRamPara::lock_block();   // PC links write them
            width = KelRamPara::get16(para->ram + kEdidEntry + 6 * k);
            height = KelRamPara::get16(para->ram + kEdidEntry + 6 * k + 2);
            hz = KelRamPara::get16(para->ram + kEdidEntry + 6 * k + 4);
        }
        const bool fromPc = edid_ram_table_from[k] != 0;
        Set_Custom_HDMI_EDID(width, height, hz, k);
        const bool ok = program_eeprom(k, edidTable) == 1;
        const bool givingUp = !ok && edid_failures[k] + 1 >= kEdidTries;
        bool served = false;
        {
            std::lock_guard<std::mutex> hold(Utils::_system_mutex);
            if ((ok || givingUp) && edid_generation[k] == generation) {
                edid_done[k] = 1;
                served = true;
            }
        }
        if (givingUp)
            KEL_TRACE("\n edid of input %d not written after %d tries, given up\n", k, int(kEdidTries));
        if (served) {
            edid_retry_pending[k] = 0;
            edid_failures[k] = 0;
        } else if (!ok) {
            KEL_TRACE("\n edid of input %d not written, retried later\n", k);
            ++edid_failures[k];
            // A PC image not yet in the EEPROM stays the one to write.
            if (fromPc)
                edid_ram_table_from[k] = 1;
            edid_retry_pending[k] = 1;
            edid_retry_stamp[k] = G_timeTicks;
        }
    }
}

void velinsource::register32_commands()
{
    const uint8_t command = reg_take(kRegCommand32);
    if (!command)
        return;
    ite6805_drv* drv = p_ite6805_sys->p_ite6805_drv;
    // The commands for the IT6805 need input 3's branch: not taken, they stay in the
    // register for the next pass (with any the PC wrote meanwhile).
    if ((command & 0xE1) && !set_switch(kSwitchReceiver, kChannel[3])) {
        reg_set_bits(kRegCommand32, command);
        return;
    }
    if (command & 0x10)
        p_ite6805_sys->FsmState[0] = 0;
    if (command & 0x20)
        drv->iTE6805_Set_HPD_Ctrl(0, 1, 1);
    // A low not taken: the pulse (low and high) is asked again on the next pass.
    if ((command & 0x40) && drv->iTE6805_Set_HPD_Ctrl(0, 0, 0))
        reg_set_bits(kRegCommand32, uint8_t(command & 0xC0));
    else if (command & 0x80)
        drv->iTE6805_Set_HPD_Ctrl(0, 1, 0);
    if (command & 0x01)
        drv->iTE6805_Init_fsm(0);
    if (command & 0x02)
        it6805_reset_line(true);
    if (command & 0x04)
        it6805_reset_line(false);
    if (command & 0x08)
        it6805_reset_line(true);
}

void velinsource::it6805_reset_line(bool high)
{
    gpio_write(kLineIt6805Reset, high ? kLineHigh : kLineLow);
    // Either way the chip comes back at its power-on settings: the driver identifies and
    // sets it up again.
    p_ite6805_sys->FsmState[0] = 0;
    p_ite6805_sys->FsmState[1] = 0;
    if (high) {
        // The misses while it was held were the reset, not an absent chip: it is looked
        // for again at once, not after the pause they grew to (up to a second).
        p_ite6805_sys->identify_retry_ticks[0] = 0;
        p_ite6805_sys->identify_retry_ticks[1] = 0;
    }
}

bool velinsource::register0_commands(int input)
{
    const uint8_t command = reg_take(kRegCommand0);
    if (!command)
        return true;
    ite6805_drv* drv = p_ite6805_sys->p_ite6805_drv;
    // The hot-plug requests (bits 4-7) are for the IT6805 of input 3; the receiver of the
    // input being polled answers at the same address, so input 3's branch is selected for
    // them and the polled input's branch again afterwards. A branch not taken leaves the
    // requests in the register for the next pass.
    const bool hotPlug = (command & 0xF0) != 0;
    if (hotPlug && input != 3 && !set_switch(kSwitchReceiver, kChannel[3])) {
        reg_set_bits(kRegCommand0, command);
        return false;
    }
    // A low the chip did not take leaves no pulse: the request (its low and its high) stays
    // in the register for the next pass, so the source does see the line go low.
    uint8_t owed = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (!(command & (1u << bit)) || (owed & (1u << bit)))
            continue;
        switch (bit) {
        case 0:
        case 2: it6805_reset_line(false); break;
        case 1:
        case 3: it6805_reset_line(true); break;
        case 4:
        case 6:
            if (drv->iTE6805_Set_HPD_Ctrl(0, 0, bit == 4 ? 1 : 0))
                owed = uint8_t(owed | (command & (3u << bit)));
            break;
        case 5: drv->iTE6805_Set_HPD_Ctrl(0, 1, 1); break;
        default: drv->iTE6805_Set_HPD_Ctrl(0, 1, 0); break;
        }
    }
    if (owed)
        reg_set_bits(kRegCommand0, owed);
    return !(hotPlug && input != 3) || set_switch(kSwitchReceiver, kChannel[input & 3]);
}

void velinsource::audio_route()
{
    // Taken before the write, so a request raised while the expander is written stays.
    if (audio_route_request.exchange(0) == 0)
        return;
    uint8_t bits = 0;
    if (KelRamPara* para = KelRamPara::p_kelrampara_config) {
        // PC single settings write these bytes on their threads: read under the block's lock,
        // released before the expander is written.
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        const uint8_t window = para->ram[KelRamPara::kAudioWindow];
        if (window < KelRamPara::kLayerCount) {
            const uint8_t* layer = para->ram + KelRamPara::kLayers + KelRamPara::kLayerSize * window;
            if (layer[KelRamPara::kLayerSound] & 0x80) {
                const uint16_t source = KelRamPara::get16(layer + KelRamPara::kLayerSource);
                int input = source;
                if (source & 0x8000) {
                    const int crop = source & 0xFF;
                    input = crop < KelRamPara::kCropCount
                                ? (para->ram[KelRamPara::kCropRecords + KelRamPara::kCropRecordSize * crop] & 0x0F)
                                : -1;
                }
                if (input >= 0 && input < 4)
                    bits = kAudioBit[input];
            }
        }
    }
    audio_select_bits = bits;
    (void)write_expander();   // owed when not taken: the main pass writes the route again
}

void velinsource::line_pulse()
{
    if (line_pulse_request != 1)
        return;
    if (line_pulse_step == 0) {
        gpio_write(kLinePulse, 0);
        line_pulse_stamp = G_timeTicks;
        line_pulse_step = 1;
    } else if (Utils::getTimeSpace(line_pulse_stamp) > 15) {
        gpio_write(kLinePulse, 1);
        line_pulse_step = 0;
        line_pulse_request = 0;
    }
}

void velinsource::poll_receiver(int input)
{
    const int fd = p_velin_it6602->fd;
    if (input == 3) {
        p_ite6805_sys->iTE6805_FSM(0);
        return;
    }
    switch (it6602_step[input]) {
    case 0:
        // A chip that did not answer is tried again after a pause that doubles up to a
        // second: resetting an absent chip costs some 180 failed transfers.
        if (Utils::getTimeSpace(it6602_retry_stamp[input]) < it6602_retry_ticks[input]
            || board::Clock::monotonicUs() < it6602_hpd_low_until_us[input])
            break;
        if (p_velin_it6602->IT6602_fsm_init(fd, input)) {
            it6602_step[input] = 3;
            it6602_retry_ticks[input] = 0;
            it6602_settle_until_us[input] = board::Clock::monotonicUs() + kSettleMs * 1000;
        } else {
            it6602_retry_stamp[input] = G_timeTicks;
            const uint32_t next = it6602_retry_ticks[input] ? 2 * it6602_retry_ticks[input] : kIdentifyRetryTicks;
            it6602_retry_ticks[input] = next < kIdentifyRetryMaxTicks ? next : kIdentifyRetryMaxTicks;
        }
        break;
    case 3:
        // Half a second for the chip to settle; the thread polls the other inputs meanwhile.
        if (board::Clock::monotonicUs() >= it6602_settle_until_us[input])
            it6602_step[input] = 1;
        break;
    case 1:
        if (p_velin_it6602->IT6602_fsm_init_1(fd, input))
            it6602_step[input] = 2;
        break;
    default: {
        const int lost = p_velin_it6602->IT6602_setup_lost(fd, input);
        if (lost < 0)
            break;   // not known this pass: polled again on the next
        if (lost) {
            // Identified and reset at once: "no signal" and the output off until the chip
            // is up again and reports what its source sends now.
            it6602_step[input] = 0;
            it6602_retry_ticks[input] = 0;
            poll_receiver(input);
            break;
        }
        p_velin_it6602->IT6602_fsm(fd, input);
        break;
    }
    }
}

void velinsource::sourcecheck(void* /*arg*/)
{
    const int fd = p_velin_it6602->fd;
    for (int i = 0; i < 4; ++i) {
        if (!(check_mask & kChannel[i]))
            continue;
        // Another receiver answers at the same address while the previous branch is still
        // on: an input whose branch was not taken is not polled this pass.
        if (set_switch(kSwitchReceiver, kChannel[i])) {
            reg_set_bits(kRegInputs, 0x20);
        } else {
            reg_clear_bits(kRegInputs, 0x20);
            continue;
        }
        sleep_us(1);

        bool rewritten = false;
        {
            std::lock_guard<std::mutex> hold(Utils::_system_mutex);
            if (edid_request[i] == 1 && edid_done[i] == 1) {
                edid_request[i] = 0;
                rewritten = true;
            }
        }
        if (rewritten) {
            // The source reads the new EDID after the hot-plug line was low.
            // A line the chip did not take low is taken low on the next pass.
            bool low;
            if (i == 3) {
                low = p_ite6805_sys->p_ite6805_drv->iTE6805_Set_HPD_Ctrl(0, 0, 0) == 0;
                p_ite6805_sys->FsmState[0] = 0;
            } else {
                low = p_velin_it6602->IT6602HPDCtrl(fd, 0, 0, i) == 0;
                it6602_step[i] = 0;
                it6602_retry_ticks[i] = 0;
                it6602_hpd_low_until_us[i] = board::Clock::monotonicUs() + kEdidHotPlugLowMs * 1000;
            }
            hpd_low_owed[i] = low ? 0 : kHotPlugLowTries;
        } else if (hpd_low_owed[i] > 0) {
            // Taken low late: the source's wait for the new EDID counts from then. A chip
            // silent all along is in reset, with its line low.
            const bool low = i == 3 ? p_ite6805_sys->p_ite6805_drv->iTE6805_Set_HPD_Ctrl(0, 0, 0) == 0
                                    : p_velin_it6602->IT6602HPDCtrl(fd, 0, 0, i) == 0;
            hpd_low_owed[i] = low ? 0 : hpd_low_owed[i] - 1;
            if (low && i < 3) {
                it6602_step[i] = 0;
                it6602_hpd_low_until_us[i] = board::Clock::monotonicUs() + kEdidHotPlugLowMs * 1000;
            }
            if (low && i == 3)
                p_ite6805_sys->FsmState[0] = 0;
        }
        if (register0_commands(i))
            poll_receiver(i);
        sleep_us(1);
    }
    update_vid_info_delay();
}

void velinsource::update_vid_info_delay()
{
    if (g_source_online != 1 || !g_fpga_lcd_on || !g_c331_source_online)
        return;
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (!para)
        return;
    g_source_online = 2;
    KEL_TRACE("\n start delay %d \n", int(G_timeTicks));

    uint32_t nosignal[4];
    {
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        for (int i = 0; i < 4; ++i)
            nosignal[i] = hdminfo[i].nosignal;
    }
    {
        std::lock_guard<std::mutex> hold(para->mutex);
        for (int i = 0; i < 4; ++i) {
            if (nosignal[i] != 0)
                continue;
            uint32_t width, height, rate;
            if (i < 3) {
                const IT6602_VIDEO_TIMING& t = p_velin_it6602->vid_timing[i];
                width = t.HActive;
                height = t.VActive;
                rate = velin_it6602::frame_rate_of(t);
                KEL_TRACE("\n end delay FrameRate %d %d\n", i, int(rate));
            } else {
                const iTE6805_TIMING& t = p_ite6805_sys->timing[0];
                width = p_ite6805_sys->iTE6805_Real_HActive(0);
                height = t.VActive;
                rate = t.FrameRate;
            }
            if (rate > 54)
                rate = 60;
            uint8_t* status = para->ram + KelRamPara::kInputStatus + 6 * i;
            KelRamPara::put16(status, uint16_t(width));
            KelRamPara::put16(status + 2, uint16_t(height));
            if (i < 3) {
                status[4] = uint8_t(rate);
                status[5] = 0;
            } else {
                KelRamPara::put16(status + 4, uint16_t(rate));
            }
        }
    }
    KEL_TRACE("\n end delay %d \n", int(G_timeTicks));
    para->test_signal(12);
}

// ---------------------------------------------------------------------------------------
// Clock chips

const unsigned char velinsource::s5p210_table[63] = {
    0x00, 0x00, 0x11, 0x32, 0x7B, 0x53, 0xEC, 0x01, 0x19, 0x52, 0xF2, 0x06, 0x63, 0x24, 0xC7, 0x13,
    0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24, 0x03, 0x11, 0x33, 0x38, 0x80, 0x04,
    0x00, 0x00, 0x74, 0x74, 0x90, 0x7D, 0x69, 0xE1, 0xA0, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xF3, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x05};

const unsigned char velinsource::cdce913_table[33] = {
    0xCA, 0x81, 0x00, 0xB4, 0x07, 0x02, 0x50, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x0D, 0x02, 0x00, 0x00, 0xE4, 0x61, 0x23, 0xCB, 0xE4, 0x61, 0x23, 0xCB};

void velinsource::s5p210_setup(int c)
{
    if (c < 0 || c > 2)
        return;
    switch (clock_state[c]) {
    case 0:
        clock_state[c] = 1;
        for (int r = 0; r < 63; ++r) {
            if (!p_drv_i2c0->i2c_write(p_velin_it6602->fd, kClockChip, uint8_t(r), &s5p210_table[r], 1)) {
                // The whole table is written again at the next call.
                clock_state[c] = 0;
                return;
            }
        }
        break;
    case 1:
        clock_done[c] = 1;
        if (c == 0) {
            reg_set_bits(kRegInputs, 0x80);
            gpio_write(kLineClock0Enable, kLineHigh);
        } else {
            if (c == 1)
                reg_set_bits(kRegBoard, 0x01);
            gpio_write(kLineClock1Enable, kLineHigh);
        }
        clock_state[c] = 2;
        break;
    default:
        break;
    }
}

void velinsource::cdce913_setup(int c)
{
    switch (clock_state[2]) {
    case 0:
        clock_done[2] = 0;
        if (p_drv_i2c0->i2c_write(p_velin_it6602->fd, kCdce913, 0x00, cdce913_table, sizeof cdce913_table)) {
            clock_state[2] = 2;
            KEL_TRACE("\n start to write cdce913 10.8M OK!! ,,index = %#x \n", c);
        } else {
            KEL_TRACE("\n start to write cdce913 10.8M error ,index = %#x !! \n", c);
        }
        break;
    case 2:
        clock_done[2] = 1;
        KEL_TRACE("\n start to cdce913 10.8M ok ");
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------
// EDID choice

unsigned char velinsource::CalcSum4LCD(unsigned char init, const unsigned char* data, unsigned long n)
{
    if (!data)
        return init;
    unsigned char sum = init;
    for (unsigned long i = 0; i < n; ++i)
        sum = uint8_t(sum + data[i]);
    return sum;
}

const unsigned char* velinsource::preset_image(int input, int index)
{
    static const unsigned char* const family4k[8] = {edid_table_4k_0, edid_table_4k_1, edid_table_4k_2,
                                                     edid_table_4k_3, edid_table_4k_4, edid_table_4k_5,
                                                     edid_table_4k_6, edid_table_4k_7};
    static const unsigned char* const family1080[8] = {edid_table_1080p_0, edid_table_1080p_1,
                                                       edid_table_1080p_2, edid_table_1080p_3,
                                                       edid_table_1080p_4, edid_table_1080p_5,
                                                       edid_table_1080p_6, edid_table_1080p_7};
    if (input < 0 || input > 3 || index < 0 || index > 7)
        return nullptr;
    return input == 3 ? family4k[index] : family1080[index];
}

const unsigned char* velinsource::default_image(int input)
{
    if (input < 0 || input > 3)
        return nullptr;
    return input == 3 ? velin_default_edid_6805[0] : velin_default_edid_6602[input + 1];
}

namespace {
void set_base_checksum(unsigned char* image)
{
    image[127] = uint8_t(0x100 - velinsource::CalcSum4LCD(0, image, 127));
}

struct Blanking {
    int hfp, hsync, hbp, vfp, vsync, vbp;
    int h() const { return hfp + hsync + hbp; }
    int v() const { return vfp + vsync + vbp; }
};
// Input 3 takes the 4K blanking, the IT6602 inputs reduced blanking.
constexpr Blanking kBlanking4k = {176, 88, 296, 8, 10, 72};
constexpr Blanking kBlankingReduced = {48, 32, 80, 3, 10, 49};
} // namespace

int velinsource::Set_Custom_HDMI_EDID(int width, int height, int hz, int input)
{
    if (input < 0 || input > 3)
        return -1;

    // 1. An image received from the PC is used exactly as received, once per arrival.
    if (edid_ram_table_from[input]) {
        std::lock_guard<std::mutex> hold(g_edid_ram_table_mutex);
        std::memcpy(edid_image, edid_ram_table[input], kEdidSize);
        edid_ram_table_from[input] = 0;
        edidTable = edid_image;
        return 0;
    }

    // 2. A preset whose first timing is the requested mode.
    for (int k = 0; k < 8; ++k) {
        if (kPresetModes[k].width != width || kPresetModes[k].height != height || kPresetModes[k].hz != hz)
            continue;
        std::memcpy(edid_image, preset_image(input, k), kEdidSize);
        static const char* const names[4] = {"DVI", "HD1", "HD2", "HD3"};
        std::memcpy(edid_image + 117, names[input], 3);
        edid_image[120] = 0x0A;
        edid_image[121] = 0x20;
        if (input == 3) {
            edid_image[10] = 0x14;
            edid_image[11] = 0x00;
        }
        set_base_checksum(edid_image);
        edidTable = edid_image;
        return 0;
    }

    // 3. The input's default image with a timing computed for the mode.
    std::memcpy(edid_image, default_image(input), kEdidSize);
    edidTable = edid_image;
    const Blanking& b = input == 3 ? kBlanking4k : kBlankingReduced;
    // The timing descriptor holds 12-bit sizes and a 16-bit clock in 10 kHz units.
    uint64_t clock = 0;
    bool fits = width > 0 && width < 4096 && height > 0 && height < 4096 && hz > 0;
    if (fits) {
        clock = uint64_t(hz) * uint64_t(width + b.h()) * uint64_t(height + b.v()) / 10000u;
        fits = clock > 0 && clock <= 0xFFFF;
    }
    if (!fits) {
        KEL_TRACE("\n edid %dx%d@%d cannot be described, input %d keeps its default edid\n", width, height, hz, input);
        set_base_checksum(edid_image);
        return 1;
    }
    const int hblank = b.h();
    const int vblank = b.v();
    unsigned char* d = edid_image + 54;
    d[0] = uint8_t(clock & 0xFF);
    d[1] = uint8_t(clock >> 8);
    d[2] = uint8_t(width & 0xFF);
    d[3] = uint8_t(hblank & 0xFF);
    d[4] = uint8_t(((width >> 8) & 0x0F) << 4 | ((hblank >> 8) & 0x0F));
    d[5] = uint8_t(height & 0xFF);
    d[6] = uint8_t(vblank & 0xFF);
    d[7] = uint8_t(((height >> 8) & 0x0F) << 4 | ((vblank >> 8) & 0x0F));
    d[8] = uint8_t(b.hfp & 0xFF);
    d[9] = uint8_t(b.hsync & 0xFF);
    d[10] = uint8_t((b.vfp & 0x0F) << 4 | (b.vsync & 0x0F));
    d[11] = uint8_t(((b.hfp >> 8) & 3) << 6 | ((b.hsync >> 8) & 3) << 4 | ((b.vfp >> 4) & 3) << 2 | ((b.vsync >> 4) & 3));
    set_base_checksum(edid_image);
    return 0;
}
