#include "gui/settings/factory.h"

#include "core/kelrampara.h"
#include "fpga/led_size.h"
#include "gui/kel_keys.h"
#include "gui/tip.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <QPushButton>
#include <cstring>
#include <mutex>

factory* g_factory = nullptr;

factory::factory(QWidget* parent) : SettingsScreen("factory", 12, parent)
{
    Button_keep_ip_edid = add_entry("Button_keep_ip_edid", 40, 45, 240, 50);
    Button_keep_ip = add_entry("Button_keep_ip", 40, 110, 240, 50);
    Button_all = add_entry("Button_all", 40, 175, 240, 50);
    menulist_init();
    language_changed();
}

factory::~factory()
{
    clear_pointer();
}

void factory::clear_pointer()
{
    if (g_factory == this)
        g_factory = nullptr;
}

void factory::language_changed()
{
    set_title(kel_text("恢复出厂设置", "Factory reset", "Заводские настройки", "Khôi phục cài đặt gốc", "恢復出廠設置"));
    set_entry_text(Button_keep_ip_edid,
                   kel_text("恢复出厂(保留IP和EDID)", "Reset, keep IP and EDID", "Сброс, IP и EDID сохранить",
                            "Khôi phục, giữ IP và EDID", "恢復出廠(保留IP和EDID)"),
                   10);
    set_entry_text(Button_keep_ip,
                   kel_text("恢复出厂(保留IP)", "Reset, keep IP", "Сброс, IP сохранить", "Khôi phục, giữ IP",
                            "恢復出廠(保留IP)"),
                   10);
    set_entry_text(Button_all,
                   kel_text("全部恢复出厂", "Reset everything", "Полный сброс", "Khôi phục toàn bộ", "全部恢復出廠"), 10);
}

void factory::factory_reset(Reset which)
{
    KelRamPara* para = KelRamPara::pInstance();
    constexpr int kEdidBytes = 36;   // six inputs: width, height, rate
    uint8_t edid[kEdidBytes];
    para->copy_bytes(KelRamPara::kEdid, edid, kEdidBytes);
    // The file and the block from the built-in defaults; the saved copy stays what the
    // screens and the outputs were set up for, so that the next notification sees the
    // language, the LED size and the rest as changed, as after a PC's factory defaults.
    const bool stored = para->ram_para_reset() == 0;
    {
        c331_manage* scaler = c331_manage::p_c331_manage;
        std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
        if (which == KeepIpAndEdid)
            std::memcpy(para->ram + KelRamPara::kEdid, edid, kEdidBytes);
        led_size::follow(para->ram, para->ram_backup);
        // A full re-apply, the user-mode files included.
        if (scaler)
            scaler->raise_apply_flag(2);
    }
    // Every input's EEPROM is written again from its requested EDID.
    if (velinsource* sources = velinsource::p_velin_source)
        for (int input = 0; input < 4; ++input)
            sources->raise_edid_request(input);
    // The network defaults are restored by the change notification's code 3.
    if (which == Everything)
        para->test_signal(3);
    // Defaults that could not be stored stay a change that the next save retries: not done yet.
    if (g_tip)
        stored ? g_tip->tip_create(1) : g_tip->tip_message(TIP::not_saved_text());
}

void factory::open_entry(int index)
{
    if (index >= KeepIpAndEdid && index <= Everything)
        factory_reset(Reset(index));
}
