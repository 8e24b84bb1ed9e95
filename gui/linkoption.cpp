#include "gui/linkoption.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/textfit.h"
#include "gui/option.h"
#include "gui/screen_keys.h"

#include <QDebug>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

LinkOption* g_linkoption = nullptr;

namespace {
[[maybe_unused]] void not_built(const char* screen)
{
    kel_screen_not_built("LinkOption", screen);
}

QPushButton* make_button(QWidget* parent, const char* name, int x)
{
    QPushButton* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, 47, 90, 80);
    QFont font;
    font.setPointSize(9);
    button->setFont(font);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(QStringLiteral(
        "color: rgb(255, 255, 255);\nbackground-color: rgb(33, 36, 53) ;\nborder:2px solid rgb(33, 36, 53);border-radius:10px;padding:2px 4px;"));
    return button;
}
} // namespace

LinkOption::LinkOption(QWidget* parent) : QDialog(parent)
{
    style_normal = QStringLiteral(
        "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px solid rgb(33, 36, 53);border-radius:10px;padding:2px 4px");
    style_focus = QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
                                 "rgb(255,171,84);border-radius:10px;padding:2px 4px");

    setObjectName(QStringLiteral("LinkOption"));
    resize(320, 240);
    setWindowTitle(QStringLiteral("Dialog"));
    setStyleSheet(QStringLiteral("background-color: rgb(16, 16, 28);"));

    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setGeometry(50, 10, 220, 22);
    QFont titleFont;
    titleFont.setPointSize(11);
    label_title->setFont(titleFont);
    label_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label_title->setAlignment(Qt::AlignCenter);

    Button_com = make_button(this, "Button_com", 15);
    Button_wlan = make_button(this, "Button_wlan", 115);
    Button_usb = make_button(this, "Button_usb", 215);

    para_init();
    language_changed();
    menulist_init();
}

LinkOption::~LinkOption()
{
    if (g_linkoption == this)
        g_linkoption = nullptr;
}

void LinkOption::para_init()
{
}

void LinkOption::menulist_init()
{
    ui_select = 0;
    menulist[0] = Button_com;
    menulist[1] = Button_wlan;
    menulist[2] = Button_usb;
    focus_widget = menulist[0];
    focus_widget->setStyleSheet(style_focus);
}

void LinkOption::language_changed()
{
    // Fitted to the buttons: the Russian and Vietnamese texts need smaller type than 9 pt.
    kel_fit_text(label_title, kel_text("通讯设置", "Communication", "Подключение", "Cài đặt giao tiếp", "通訊設置"), 11, KelFit::LineBox);
    kel_fit_text(Button_com, kel_text("串口连接", "Serial port", "COM-порт", "Cài đặt cổng\n nối tiếp", "串口連接"), 9, KelFit::LineBox);
    kel_fit_text(Button_wlan, kel_text("网口设置", "Net connect", "Сетевое по\nдключение", "Cài đặt\ncổng mạng", "網口設置"), 9, KelFit::LineBox);
    kel_fit_text(Button_usb,
                 kel_text("USB升级", "USB UPDATE", "Обновление\nчерез USB", "Sử dụng ổ USB\nđể cập nhập", "USB昇級"), 9, KelFit::LineBox);
}

void LinkOption::syncUpdate()
{
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();
}

void LinkOption::slot_Button_back_clicked()
{
    if (g_linkoption == this)
        g_linkoption = nullptr;
    Option::return_from_submenu(this);
}

void LinkOption::on_Button_linkcom_clicked()
{
#ifdef KEL_HAVE_LINKCOM
    KEL_OPEN_MODAL(linkcom, g_linkcom, 21);
#else
    not_built("linkcom");
#endif
}

void LinkOption::on_Button_linkwlan_clicked()
{
#ifdef KEL_HAVE_LINKWLAN
    KEL_OPEN_MODAL(linkwlan, g_linkwlan, 22);
#else
    not_built("linkwlan");
#endif
}

void LinkOption::on_Button_firmware_usbgrade_clicked()
{
#ifdef KEL_HAVE_FIRMWARE_USBGRADE
    KEL_OPEN_MODAL(firmware_usbgrade, g_firmware_usbgrade, 26);
#else
    not_built("firmware_usbgrade");
#endif
}

void LinkOption::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("LinkOption", event);
}

void LinkOption::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "LinkOption", event->key(), keyboard,
                       {[this](int step) {
                            kel_step_focus(menulist, kEntries, ui_select, focus_widget, style_normal, style_focus, step);
                        },
                        [this] {
                            if (ui_select == 0)
                                on_Button_linkcom_clicked();
                            else if (ui_select == 1)
                                on_Button_linkwlan_clicked();
                            else
                                on_Button_firmware_usbgrade_clicked();
                        },
                        [this] { slot_Button_back_clicked(); },
                        [this] {
                            if (g_linkoption == this)
                                g_linkoption = nullptr;
                            Option::close_menu();
                        }});
}
