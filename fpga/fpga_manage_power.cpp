// Power control through a function card: while one window is shown and its input has
// lost the picture for more than 1000 ticks, and the card allows it, the stop value goes
// into the card's eight channel fields one after the other; when the picture returns, the
// start value goes back. Also a raw LCD register write and two interrupt-service shortcuts.

#include "fpga/fpga_manage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"

#include <algorithm>
#include <cstring>

u8 fpga_manage::SEND_READ_VMF_RAM0_CMD[19] = {0xFE, 0x0F, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61,
                                              0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};

namespace {

constexpr u32 kAnswerTicks = 34;                 // more than this: no answer
constexpr uint64_t kAnswerLimitUs = 350000;
constexpr u32 kCheckTicks = 100;
constexpr u32 kTaskTicks = 1000;
constexpr u32 kNoSignalTicks = 1000;
constexpr u32 kStepTicks = 50;
constexpr u8 kPowerEnableByte = 44;
constexpr unsigned kAnswerMax = 1024;

// Answer length registers and receive RAM of the eight port pairs.
constexpr u8 kLengthLow[8] = {24, 133, 135, 137, 149, 150, 151, 152};
constexpr u8 kRamOfPair(int pair) { return u8(2 + 2 * pair); }

} // namespace

// ------------------------------------------------------------------------------------
// State

void fpga_manage::Power_ctrl_init()
{
    power_signal = 0;
    power_armed = 0;
    power_nosig_timer = 0;
    power_stop_running = 0;
    power_send_stopped = 0;
    power_step = 1;
    VMF_port = 0;
    VMF_fpga = 0;
    for (int w = CHG_POWER_ENABLE; w <= CHG_SIGNAL_STAMP; ++w)
        g_change[w] = 0;
}

void fpga_manage::Power_ctrl_reset()
{
    power_nosig_timer = 0;
    power_armed = 1;
    power_step = 1;
    // The signal-check stamp stays.
    for (int w = CHG_POWER_ENABLE; w <= CHG_POWER_STEP_STAMP; ++w)
        g_change[w] = 0;
}

// ------------------------------------------------------------------------------------
// One step

void fpga_manage::Power_ctrl_deal()
{
    if (!get_fpga_status())
        return;
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (!para)
        return;
    // Only while window 0 is the one window shown. The layers are edited by the PC links.
    int port = -1;
    {
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        for (int layer = 1; layer < KelRamPara::kLayerCount; ++layer)
            if (para->ram16(KelRamPara::kLayers + KelRamPara::kLayerSize * layer + KelRamPara::kLayerFlags) != 0)
                return;
        port = para->KelGetImageSource(para->ram, 0, nullptr, nullptr, 0);
    }
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);

    if (Utils::getTimeSpace(g_change[CHG_SIGNAL_STAMP]) > kCheckTicks) {
        bool present = false;
        if (port >= 0 && port < 6) {
            std::lock_guard<std::mutex> status(para->mutex);
            const int at = KelRamPara::kInputStatus + 6 * port;
            present = para->ram16(at) && para->ram16(at + 2) && para->ram16(at + 4);
        }
        if (present) {
            if (!power_signal)
                Power_ctrl_reset();
            power_signal = 1;
        } else {
            power_signal = 0;
        }
        g_change[CHG_SIGNAL_STAMP] = G_timeTicks.load();
    }
    if (Utils::getTimeSpace(g_change[CHG_POWER_TASK_STAMP]) > kTaskTicks) {
        Power_ctrl_task();
        g_change[CHG_POWER_TASK_STAMP] = G_timeTicks.load();
    }

    if (power_signal) {
        if (power_stop_running) {
            power_send_stopped = 1;
            power_stop_running = 0;
            eth_data_send_start();
        } else if (power_send_stopped) {
            eth_data_send_start();
        }
        return;
    }
    if (!power_armed || power_send_stopped)
        return;
    if (!power_nosig_timer) {
        power_nosig_timer = 1;
        g_change[CHG_NOSIG_STAMP] = G_timeTicks.load();
        return;
    }
    if (g_change[CHG_POWER_ENABLE] == 1 && Utils::getTimeSpace(g_change[CHG_NOSIG_STAMP]) > kNoSignalTicks) {
        power_stop_running = 1;
        eth_data_send_stop();
    }
}

void fpga_manage::eth_data_send_stop()
{
    if (power_step > 8) {
        power_send_stopped = 1;
        power_step = 1;
        power_stop_running = 0;
        return;
    }
    if (Utils::getTimeSpace(g_change[CHG_POWER_STEP_STAMP]) <= kStepTicks)
        return;
    Send_write_VMF_reg_cmd(VMF_STOP, power_step);
    wait_VMF_result();
    g_change[CHG_POWER_STEP_STAMP] = G_timeTicks.load();
    power_step++;
}

void fpga_manage::eth_data_send_start()
{
    if (power_step > 8) {
        power_send_stopped = 0;
        power_step = 1;
        return;
    }
    if (Utils::getTimeSpace(g_change[CHG_POWER_STEP_STAMP]) <= kStepTicks)
        return;
    Send_write_VMF_reg_cmd(VMF_START, power_step);
    wait_VMF_result();
    g_change[CHG_POWER_STEP_STAMP] = G_timeTicks.load();
    power_step++;
}

// ------------------------------------------------------------------------------------
// The card's settings

void fpga_manage::Power_ctrl_task()
{
    std::lock_guard<std::recursive_mutex> hold(bri_mutex);
    Power_check_VMF();
    Power_read_VMF_value();
    Power_ctrl_filter();
}

void fpga_manage::Power_check_VMF()
{
    for (int port = 0; port < 16; ++port) {
        if (MCU_RAM_PARA_func[0][kCardFlagOffset[port]]) {
            VMF_port = u8(port);
            VMF_fpga = 0;
            g_change[CHG_VMF_ADDRESS] = 0x4000u + 0x1000u * u32(port & 3);
            g_change[CHG_VMF_GROUP] = u32(port / 4 + 1);
            return;
        }
    }
    VMF_port = kNoFunctionCard;
    VMF_fpga = 0;
    g_change[CHG_VMF_ADDRESS] = 0;
    g_change[CHG_VMF_GROUP] = 0;
}

void fpga_manage::Power_read_VMF_value()
{
    if (g_change[CHG_VMF_ADDRESS] == 0)
        return;
    Send_read_VMF_RAM0_data_cmd();
    g_change[CHG_VMF_STATE] = 0;
    g_change[CHG_VMF_VALID] = 0;
    g_change[CHG_VMF_EXPECT] = 0x61;
    wait_VMF_answer([this] { Power_VMF_run(); });
}

void fpga_manage::Send_read_VMF_RAM0_data_cmd()
{
    const u32 address = g_change[CHG_VMF_ADDRESS];
    SEND_READ_VMF_RAM0_CMD[0] = u8(address & 0xFF);
    SEND_READ_VMF_RAM0_CMD[1] = u8(address >> 8);
    SEND_READ_VMF_RAM0_CMD[18] = u8(Utils::BCC(SEND_READ_VMF_RAM0_CMD, 18));
    {
        std::lock_guard<std::mutex> path(port_path_mutex);
        func_card_reply[0] = 0;           // an older answer is not this one's
    }
    u8 packet[sizeof SEND_READ_VMF_RAM0_CMD];
    std::memcpy(packet, SEND_READ_VMF_RAM0_CMD, sizeof packet);
    Send_to_port(packet, sizeof packet, VMF_port, VMF_fpga);
}

void fpga_manage::Power_VMF_run()
{
    std::lock_guard<std::mutex> path(port_path_mutex);
    reg_IRQ_Dealwith(VMF_fpga, 0);
    VMF_RAM0_data_back_result(VMF_fpga);
}

void fpga_manage::Power_ctrl_filter()
{
    if (!g_change[CHG_VMF_VALID])
        return;
    const u8 enable = VMF_RAM0[kPowerEnableByte] == 1 ? 1 : 0;
    g_change[CHG_POWER_ENABLE] = enable;
    write_to_register(67, 0xFF, enable, VMF_fpga);
    g_change[CHG_VMF_VALID] = 0;
}

// ------------------------------------------------------------------------------------
// Channel writes and answers

void fpga_manage::Send_write_VMF_reg_cmd(OPTION option, u8 channel)
{
    if (channel < 1 || channel > 8)
        return;
    const int shift = 2 * ((channel - 1) % 4);
    const u8 field = option == VMF_START ? 3 : 1;
    const u32 address = g_change[CHG_VMF_ADDRESS];
    u8 packet[15] = {u8(address & 0xFF), u8(address >> 8), 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0xA0,
                     u8(channel <= 4 ? 2 : 3), u8(0x03 << shift), 0x00, u8(field << shift), 0};
    packet[14] = u8(Utils::BCC(packet, 14));
    {
        std::lock_guard<std::mutex> path(port_path_mutex);
        func_card_reply[0] = 0;
    }
    Send_to_port(packet, sizeof packet, VMF_port, VMF_fpga);
}

void fpga_manage::wait_VMF_result()
{
    if (g_change[CHG_VMF_ADDRESS] == 0)
        return;
    g_change[CHG_VMF_STATE] = 0;
    g_change[CHG_VMF_VALID] = 0;
    g_change[CHG_VMF_EXPECT] = 0xA0;
    wait_VMF_answer([this] {
        std::lock_guard<std::mutex> path(port_path_mutex);
        reg_IRQ_Dealwith(VMF_fpga, 0);
        VMF_reg_back_result(VMF_fpga);
    });
}

void fpga_manage::wait_VMF_answer(const std::function<void()>& service)
{
    const u32 start = G_timeTicks.load();
    const uint64_t startUs = board::Clock::monotonicUs();
    for (;;) {
        service();
        if (g_change[CHG_VMF_STATE] != 0)
            return;
        if (Utils::getTimeSpace(start) > kAnswerTicks || board::Clock::monotonicUs() - startUs > kAnswerLimitUs)
            return;
        board::Clock::sleepMs(1);
    }
}

namespace {
// The check both answer kinds share; ram0 copies the data into the card's RAM 0 image.
void checkFunctionCardAnswer(fpga_manage& m, u8 f, bool ram0)
{
    const u8 port = m.VMF_port;
    if (port > 15 || f > 1)
        return;
    const int pair = port / 2;
    const int highReg = pair < 4 ? 25 : 153;
    const int shift = 2 * (pair % 4);
    m.read_from_register(highReg, f);
    m.read_from_register(kLengthLow[pair], f);
    const unsigned len = (unsigned((m.reg_shadow(highReg, f) >> shift) & 3) << 8 | m.reg_shadow(kLengthLow[pair], f)) + 1;
    u8 answer[kAnswerMax];
    const bool read = m.read_fpga_ram(answer, 0, len, kRamOfPair(pair), f) == 0;
    if (!m.func_card_reply[0])
        return;
    m.func_card_reply[0] = 0;
    if (!read || Utils::BCC(answer, len - 1) != answer[len - 1]) {
        m.write_to_register(85, 0xFF, u8(m.reg_shadow(85, f) + 1), f);
        return;
    }
    // An answer shorter than the RAM it was asked for is not taken: the image would keep
    // stale bytes in what the answer did not carry.
    const unsigned need = ram0 ? 12 + sizeof m.VMF_RAM0 : 12;
    if (len < need || answer[9] != g_change[fpga_manage::CHG_VMF_EXPECT] || answer[10] != 0) {
        g_change[fpga_manage::CHG_VMF_STATE] = 2;
        return;
    }
    g_change[fpga_manage::CHG_VMF_VALID] = 1;
    g_change[fpga_manage::CHG_VMF_STATE] = 1;
    if (ram0)
        std::memcpy(m.VMF_RAM0, answer + 11, sizeof m.VMF_RAM0);
}
} // namespace

void fpga_manage::VMF_RAM0_data_back_result(u8 f) { checkFunctionCardAnswer(*this, f, true); }
void fpga_manage::VMF_reg_back_result(u8 f) { checkFunctionCardAnswer(*this, f, false); }

// ------------------------------------------------------------------------------------
// Raw access and shortcuts

void fpga_manage::write_LCD_register(u32 address, u8* data, u8 fpga, u8 count)
{
    volatile u16* own = fpga ? gpio_fpga1_cs : gpio_fpga0_cs;
    volatile u16* other = fpga ? gpio_fpga0_cs : gpio_fpga1_cs;
    volatile u16* phase = fpga ? gpio_fpga1_cmd : gpio_fpga0_cmd;
    const int fd = fpga ? fpga_vbyone2_fd : fpga_vbyone1_fd;
    if (!own || !other || !phase || fd < 0 || (count && !data))
        return;
    std::lock_guard<std::mutex> hold(Utils::_spi_mutex);
    *phase = kLineIdle;
    *own = kLineActive;
    *other = kLineIdle;
    *phase = 0;                           // the whole transfer runs in the data phase
    u8 first = u8(address & 0xFF);
    // Kept as it was: the power writes are confirmed by reading the registers back, not here.
    static_cast<void>(fpga_drv::SPI_Transfer_Write(fd, &first, 1));
    for (unsigned i = 0; i < count; ++i)
        static_cast<void>(fpga_drv::SPI_Transfer_Write(fd, data + i, 1));
    *gpio_fpga0_cs = kLineIdle;
    *gpio_fpga1_cs = kLineIdle;
}

void fpga_manage::Search_Card_task_run()
{
    std::lock_guard<std::mutex> path(port_path_mutex);
    reg_IRQ_Dealwith(0, 0);
}

void fpga_manage::Brightness_task_run()
{
    std::lock_guard<std::mutex> path(port_path_mutex);
    reg_IRQ_Dealwith(0, 0);
}
