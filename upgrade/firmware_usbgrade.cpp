#include "upgrade/firmware_usbgrade.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/QRoundProgressBar.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"

#include <QLabel>
#include <QPushButton>

firmware_usbgrade* g_firmware_usbgrade = nullptr;

firmware_usbgrade::firmware_usbgrade(QWidget* parent) : SettingsScreen("firmware_usbgrade", 10, parent)
{
    label_state = new QLabel(this);
    label_state->setObjectName(QStringLiteral("label_state"));
    label_state->setGeometry(20, 60, 280, 50);
    label_state->setAlignment(Qt::AlignCenter);
    label_state->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    Button_upgrade = add_entry("Button_upgrade", 100, 140, 120, 50);
    menulist_init();
    language_changed();
}

firmware_usbgrade::~firmware_usbgrade()
{
    clear_pointer();
}

void firmware_usbgrade::clear_pointer()
{
    if (g_firmware_usbgrade == this)
        g_firmware_usbgrade = nullptr;
}

void firmware_usbgrade::language_changed()
{
    set_title(kel_text("USB升级", "USB update", "Обновление через USB", "Cập nhật qua USB", "USB昇級"));
    set_entry_text(Button_upgrade, kel_text("开始升级", "Update", "Обновить", "Cập nhật", "開始昇級"), 11);
    QString state;
    switch (state_code) {
    case 100:
        state = kel_text("检测到USB设备", "USB device connected", "USB-устройство подключено", "Đã kết nối thiết bị USB",
                         "檢測到USB設備");
        break;
    case 101:
        state = kel_text("USB设备已移除", "USB device removed", "USB-устройство отключено", "Đã tháo thiết bị USB",
                         "USB設備已移除");
        break;
    case 102:
        state = kel_text("U盘已就绪", "USB stick ready", "USB-накопитель готов", "Ổ USB đã sẵn sàng", "U盤已就緒");
        break;
    case 104:
        state = kel_text("未进行升级", "Nothing was updated", "Обновление не выполнено", "Chưa cập nhật gì", "未進行昇級");
        break;
    default:
        state = kel_text("请插入U盘", "Insert a USB stick", "Вставьте USB-накопитель", "Hãy cắm ổ USB", "請插入U盤");
        break;
    }
    kel_fit_text(label_state, state, 11, KelFit::LineBox);
}

void firmware_usbgrade::syncUpdate(int code)
{
    if (code == 100 || code == 101 || code == 102 || code == 104) {
        state_code = code;
        language_changed();
        return;
    }
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();
}

void firmware_usbgrade::on_Button_upgrade_clicked()
{
    // One request at a time; the FPGA manager thread ends it.
    if (g_usb_grade != 0 || g_qround_bar)
        return;
    g_usb_grade = 1;
}

void firmware_usbgrade::menulist_back_page()
{
    clear_pointer();
    return_to(this, 10);
}

void firmware_usbgrade::slot_Button_back_clicked()
{
    menulist_back_page();
}

void firmware_usbgrade::menulist_sel_left()
{
    if (g_qround_bar)
        return;
    kel_step_focus(menulist.data(), int(menulist.size()), ui_select, focus_widget, style_normal, style_focus, -1);
}

void firmware_usbgrade::menulist_sel_right()
{
    if (g_qround_bar)
        return;
    kel_step_focus(menulist.data(), int(menulist.size()), ui_select, focus_widget, style_normal, style_focus, +1);
}

bool firmware_usbgrade::screen_key(int code)
{
    switch (kel_key(code)) {
    case KEL_LEFT:
        menulist_sel_left();
        return true;
    case KEL_RIGHT:
        menulist_sel_right();
        return true;
    case KEL_OK:
        on_Button_upgrade_clicked();
        return true;
    default:
        return false;
    }
}
