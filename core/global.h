#pragma once
// Globals through which the subsystems hand state to each other. A flag is set by one side
// and polled by the other; those read by another thread are atomics. The text mirrors of
// the keyed settings are written at start-up and by the PC's network command: read and
// write them under g_str_globals_mutex.

#include "board/Console.h"
#include "core/md5.h"

#include <QList>
#include <QString>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

class MainWindow;
class QTimer;

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;

// --- start-up objects ---
extern MainWindow* g_mainwindow;
extern QTimer* g_timer;
extern std::atomic<u8> g_kel_keys;
extern MD5 md5;
constexpr uint32_t kFileBufVelinSize = 0x500000;
extern unsigned char fileBuf_velin[kFileBufVelinSize];
extern QList<QString> factoryage_log;

// --- network and settings mirrors (Utils::getIPAddress) ---
extern std::mutex g_str_globals_mutex;
extern QString g_str_ip;
extern QString g_srt_mask;
extern QString g_str_gateway;
extern QString g_str_mac;
extern QString g_str_barcode;
extern std::atomic<int> g_port;
extern std::atomic<int> g_int_tcp_port;
extern QString g_str_wifi_ip;
extern QString g_check_edid;
extern std::atomic<u8> g_check_source;
extern QString g_imagelayoutpassword;
extern QString g_uTor_cloudserverip;
extern QString g_uTor_clouduserid;
extern QString g_uTor_controllername;
extern std::atomic<int> g_uTor_cloudserverport;
extern std::atomic<u8> g_uTor_cloud;
extern std::atomic<int> g_kel_max_pixel;
extern QString g_usb_grade_path;
extern std::atomic<int> g_lcd_lang_valid;
extern char g_pid[32];
extern std::atomic<u8> g_update_status;
extern std::atomic<u8> g_language;   // 0 zh-CN, 1 en, 2 ru, 3 vi, 4 zh-TW (block byte 768)

// --- values fixed in the program image ---
extern std::atomic<u8> g_debugSwitch;
extern std::atomic<u8> g_passby_trans_port;
extern std::atomic<int> g_BPS;
extern std::atomic<int> g_dataLen;
extern std::atomic<u8> g_networkMode;
extern std::atomic<u8> g_udpnetmode;
extern std::atomic<u8> ScreenState;
extern std::atomic<int> g_auto_lock_time;
extern std::atomic<int> g_back_to_mainwindow_time;

// --- ticks, flags and hand-over state ---
extern std::atomic<u32> G_timeTicks;
extern std::atomic<u32> G_reboot_tickTicks;
// A restart is pending (non-zero): 1 asked for, 2 or 3 armed by an upgrade finish that
// answered done or failed.
extern std::atomic<u8> g_app_reset_flag;
extern std::atomic<u8> g_update_flag;
extern std::atomic<u8> g_tip_flag;
extern std::atomic<u8> g_page_focus;
extern std::atomic<u8> g_image_current;
extern std::atomic<u8> g_mode_select;
extern std::atomic<u8> g_mode_shortcut_key;
extern std::atomic<u32> g_delay_usbserver;
extern std::atomic<u32> g_delay_usbserver_ticks;
extern std::atomic<u32> G_factoryage_ticks;
extern int factoryage_log_num;
extern int factoryage_log_diff3;
extern int factoryage_log_diff5;
extern int factoryage_log_diff10;
extern int factoryage_log_diff20;
extern int factoryage_log_diffmore;
extern std::atomic<u8> g_set_led_para;        // under Utils::_led_para_init_mutex
extern std::atomic<u8> g_set_led_setup;
extern std::atomic<u8> g_freeze_out;
extern std::atomic<u32> readtime_ticks;
extern std::atomic<u8> pc_cmd_valid;
extern std::atomic<u32> pc_cmd_time;
extern std::atomic<u32> g_source_online;
extern std::atomic<u32> g_c331_source_online;
extern std::atomic<u32> g_fpga_lcd_on;
extern std::atomic<u32> g_fpga_c331_start;
extern std::atomic<u8> g_force_bkcolor;
extern std::atomic<u32> g_usb_grade;
extern std::atomic<u8> g_reconfig_4g;                 // under Utils::_reconfig_4g_mutex
extern std::atomic<u8> g_rconfig_device_utorcloud;    // under Utils::_reconfig_device_utorcloud_mutex
extern QString g_rcv_sync_led;

// Trace lines are printed only while g_debugSwitch is 254 (it always is).
#define KEL_TRACE(...)                                  \
    do {                                                \
        if (g_debugSwitch == 254)                       \
            board::Console::trace(__VA_ARGS__);         \
    } while (0)
