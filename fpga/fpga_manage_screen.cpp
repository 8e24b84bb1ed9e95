// Named screen states, the LED-size hand-shake with the scaler, the output refresh after a
// freeze of the output, and the link state of the output ports that the GUI shows.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"

namespace {

constexpr u16 kRefreshLooks = 500;

} // namespace

// ------------------------------------------------------------------------------------
// Screen states

void fpga_manage::SCREEN_fpgactrl_status(u8 state)
{
    switch (state) {
    case 0: write_to_register(0, 0x04, 0x04, 0); break;     // dark
    case 1: write_to_register(0, 0x04, 0x00, 0); break;     // lit
    case 2: write_to_register(0, 0x02, 0x02, 0); break;
    case 3: write_to_register(0, 0x02, 0x00, 0); break;
    case 4: write_to_register(3, 0x20, 0x20, 0); break;     // LED output enabled
    case 5: write_to_register(3, 0x20, 0x00, 0); break;     // LED output disabled
    case 7: write_to_register(23, 0x01, 0x00, 0); break;
    case 8: write_to_register(23, 0x01, 0x01, 0); break;
    case 9: read_from_register(22, 0); break;
    default: break;
    }
}

void fpga_manage::SCREEN_fpgactrl_status2(u8 state, u8 fpga)
{
    if (fpga > 1)
        return;
    switch (state) {
    // Without the parameter-block side effects: bring-up darkens and lights the screen
    // without touching the user's dark word.
    case 0: write_to_0x00_register(0, 0x04, 0x04, fpga); break;
    case 1: write_to_0x00_register(0, 0x04, 0x00, fpga); break;
    case 4: write_to_register(3, 0x20, 0x20, fpga); break;
    case 5: write_to_register(3, 0x20, 0x00, fpga); break;
    case 10: write_to_register(23, 0x08, 0x08, fpga); break;
    case 11: write_to_register(23, 0x08, 0x00, fpga); break;
    default: break;
    }
}

u8 fpga_manage::screen_from_word(u8 fpga)
{
    // Without the block's side effects: the word is where this comes from. An FPGA index
    // other than 0 or 1 is refused (255) by the write. A PC's request stores the word before
    // its write: one that came while this wrote is written again, so that whichever write
    // is last follows the word.
    u8 r = 0;
    for (int round = 0; round < 4; ++round) {
        const bool dark = screen_word_dark();
        r = masked_write(0, 0x04, dark ? 0x04 : 0x00, fpga, false);
        if (r != 0 || screen_word_dark() == dark)
            break;
    }
    return r;
}

u8 fpga_manage::set_screen_dark(u8 dark)
{
    set_screen_dark_word(dark ? 1 : 0);
    return screen_from_word(0);
}

// ------------------------------------------------------------------------------------
// LED-size hand-shake and output refresh

void fpga_manage::set_led_para_deal()
{
    const u32 span = Utils::getTimeSpace(led_setup_stamp);
    u8 para;
    {
        std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
        para = g_set_led_para;
        if (para == 2) {
            // The scaler has set its panel up: taken and cleared in one hold, so that a
            // new request raised after this is seen on the next pass.
            g_set_led_para = 0;
            g_set_led_setup = 0;
        }
    }
    if (para == 2) {
        led_setup_stamp = G_timeTicks.load();
        reset_fpga_rst(0);
        return;
    }
    if (para == 1) {
        switch (g_set_led_setup.load()) {
        case 0:
            // Dark while the size changes: the manager's own, the user's word is left.
            SCREEN_fpgactrl_status2(0, 0);
            {
                std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
                g_set_led_setup = 1;
            }
            led_setup_stamp = G_timeTicks.load();
            break;
        case 1:
            if (span < 11)
                return;
            SCREEN_fpgactrl_status(5);
            {
                std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
                g_set_led_setup = 2;
            }
            led_setup_stamp = G_timeTicks.load();
            break;
        case 2:
            if (span < 31)
                return;
            {
                // The scaler waits while the byte is 1 and answers with 2.
                std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
                g_set_led_setup = 0;
                g_set_led_para = 0;
            }
            led_setup_stamp = G_timeTicks.load();
            break;
        default:
            // A step of the output refresh was cut short by the size change: start over.
            {
                std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
                g_set_led_setup = 0;
            }
            break;
        }
        return;
    }
    output_refresh_step();
}

void fpga_manage::output_refresh_step()
{
    if (!get_fpga_status())
        return;
    if (!freeze_running) {
        // The request is taken before the refresh runs, so that a freeze raised while it
        // runs asks for another refresh instead of being cleared at its end.
        std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
        if (g_freeze_out == 0)
            return;
        g_freeze_out = 0;
        freeze_running = 1;
        g_set_led_setup = 0;
        led_setup_looks = 0;
    }
    const u32 span = Utils::getTimeSpace(led_setup_stamp);
    auto next = [this](u8 step) {
        std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
        g_set_led_setup = step;
        led_setup_stamp = G_timeTicks.load();
    };
    switch (g_set_led_setup.load()) {
    case 0:
        if (span < 21)
            return;
        SCREEN_fpgactrl_status(9);
        if ((reg_shadow(22, 0) & 0x04) && led_setup_looks < kRefreshLooks) {
            ++led_setup_looks;
            return;
        }
        led_setup_looks = 0;
        next(1);
        break;
    case 1:
        if (span < 21)
            return;
        SCREEN_fpgactrl_status(7);
        next(2);
        break;
    case 2:
        if (span < 21)
            return;
        SCREEN_fpgactrl_status(8);
        next(100);
        break;
    case 100:
        if (span < 21)
            return;
        write_to_register(23, 0x20, 0x20, 0);
        next(99);
        break;
    case 99:
        if (span < 21)
            return;
        write_to_register(23, 0x20, 0x00, 0);
        next(3);
        break;
    case 3:
        if (span < 21)
            return;
        SCREEN_fpgactrl_status(4);
        led_setup_looks = 0;
        next(4);
        break;
    case 4:
        if (span < 11)
            return;
        SCREEN_fpgactrl_status(9);
        if (!(reg_shadow(22, 0) & 0x80) && led_setup_looks < kRefreshLooks) {
            ++led_setup_looks;
            return;
        }
        led_setup_looks = 0;
        freeze_running = 0;
        // The refresh ends with the screen as the word has it, not lit whatever it says.
        if (screen_from_word(0) != 0)
            screen_update_flag = 1;
        next(0);
        break;
    default:
        next(0);
        break;
    }
}

// ------------------------------------------------------------------------------------
// Port link state

u16 fpga_manage::get_wlan_state()
{
    if (reg_shadow(80, 0) != 3)
        return 0;
    read_from_register(128, 0);
    read_from_register(144, 0);
    return u16(reg_shadow(144, 0) << 8 | reg_shadow(128, 0));
}

void fpga_manage::check_wlanonline_state()
{
    // A cable is plugged far slower than the loop turns: a look every kLinkWatchTicks
    // shows it on the screen without a visible delay and keeps the idle loop off the bus.
    const u32 now = G_timeTicks.load();
    if (wlan_checked && now - wlan_tick < kLinkWatchTicks)
        return;
    wlan_checked = 1;
    wlan_tick = now;
    u16 mask = 0;
    if (source_stage() == 2 && reg_shadow(80, 0) == 3)
        mask = get_wlan_state();
    if (get_fpga_status() && mask != wlan_last_mask) {
        wlan_last_mask = mask;
        if (KelRamPara* para = KelRamPara::p_kelrampara_config)
            para->test_signal(11);
    }
}
