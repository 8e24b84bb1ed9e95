#include "core/global.h"

#include <gtest/gtest.h>
#include <vector>
#include <string>

namespace {

struct Global {
    const char* name;
    std::string now, start;   // as text
};

// Every shared global with a fixed start value: its value now and that start value.
std::vector<Global> globalsNow()
{
    auto n = [](auto value) { return std::to_string(+value); };
    auto t = [](const QString& s) { return s.toStdString(); };
    return {
        {"g_str_ip", t(g_str_ip), "192.168.0.199"}, {"g_srt_mask", t(g_srt_mask), "255.255.255.0"},
        {"g_str_gateway", t(g_str_gateway), "192.168.0.1"}, {"g_str_mac", t(g_str_mac), "FF:FF:FF:FF:FF:FF"},
        {"g_str_barcode", t(g_str_barcode), " "}, {"g_port", n(g_port.load()), "5005"}, {"g_int_tcp_port", n(g_int_tcp_port.load()), "5005"},
        {"g_str_wifi_ip", t(g_str_wifi_ip), "192.168.22.101"}, {"g_check_edid", t(g_check_edid), ""},
        {"g_check_source", n(g_check_source.load()), "0"}, {"g_imagelayoutpassword", t(g_imagelayoutpassword), ""},
        {"g_uTor_cloudserverip", t(g_uTor_cloudserverip), ""}, {"g_uTor_clouduserid", t(g_uTor_clouduserid), ""},
        {"g_uTor_controllername", t(g_uTor_controllername), ""}, {"g_uTor_cloudserverport", n(g_uTor_cloudserverport.load()), "0"},
        {"g_uTor_cloud", n(g_uTor_cloud.load()), "0"}, {"g_kel_max_pixel", n(g_kel_max_pixel.load()), "0"},
        {"g_usb_grade_path", t(g_usb_grade_path), ""}, {"g_lcd_lang_valid", n(g_lcd_lang_valid.load()), "0"},
        {"g_pid", std::string(g_pid, 32), std::string(32, '\0')}, {"g_update_status", n(g_update_status.load()), "0"},
        {"factoryage_log", n(factoryage_log.size()), "0"}, {"g_debugSwitch", n(g_debugSwitch.load()), "254"},
        {"g_passby_trans_port", n(g_passby_trans_port.load()), "255"}, {"g_BPS", n(g_BPS.load()), "115200"},
        {"g_dataLen", n(g_dataLen.load()), "32"}, {"g_networkMode", n(g_networkMode.load()), "1"},
        {"g_udpnetmode", n(g_udpnetmode.load()), "1"}, {"ScreenState", n(ScreenState.load()), "1"},
        {"g_auto_lock_time", n(g_auto_lock_time.load()), "30000"}, {"g_back_to_mainwindow_time", n(g_back_to_mainwindow_time.load()), "3000"},
        {"ticks and flags",
         n(G_timeTicks | G_reboot_tickTicks | g_app_reset_flag | g_update_flag | g_tip_flag | g_page_focus |
           g_image_current | g_mode_select | g_mode_shortcut_key | g_delay_usbserver | g_delay_usbserver_ticks |
           G_factoryage_ticks | factoryage_log_num | factoryage_log_diff3 | factoryage_log_diff5 |
           factoryage_log_diff10 | factoryage_log_diff20 | factoryage_log_diffmore | g_set_led_para |
           g_set_led_setup | g_freeze_out | readtime_ticks | pc_cmd_valid | pc_cmd_time | g_source_online |
           g_c331_source_online | g_fpga_lcd_on | g_fpga_c331_start | g_force_bkcolor | g_usb_grade |
           g_reconfig_4g | g_rconfig_device_utorcloud),
         "0"},
        {"g_rcv_sync_led", t(g_rcv_sync_led), ""},
    };
}

// Taken before the first test runs, so any order of tests in one process sees the start.
std::vector<Global> atStart;
struct StartValues : ::testing::Environment {
    void SetUp() override { atStart = globalsNow(); }
};
::testing::Environment* const kStartValues = ::testing::AddGlobalTestEnvironment(new StartValues);

} // namespace

TEST(Globals, StartValues)
{
    ASSERT_EQ(atStart.size(), 33u);
    for (const Global& g : atStart)
        EXPECT_EQ(g.now, g.start) << g.name;
}
