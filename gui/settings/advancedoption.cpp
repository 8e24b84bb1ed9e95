#include "core/utils.h"
#include "gui/settings/advancedoption.h"

#include "board/Files.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"

#include <QPushButton>

AdvancedOption* g_advancedoption = nullptr;

const char AdvancedOption::kAgeingAccessCode[] = "8888";

AdvancedOption::AdvancedOption(QWidget* parent) : SettingsScreen("AdvancedOption", 5, parent)
{
    // A disabled entry (the recovery entry without package files) is drawn grey.
    const QString disabled = QStringLiteral("} QPushButton:disabled{color:rgb(128,128,128);}");
    style_normal = QStringLiteral("QPushButton{") + style_normal + disabled;
    style_focus = QStringLiteral("QPushButton{") + style_focus + disabled;
    Button_lcdshow = add_entry("Button_lcdshow", 15, 45, 90, 80);
    Button_othersetup = add_entry("Button_othersetup", 115, 45, 90, 80);
    Button_factory = add_entry("Button_factory", 215, 45, 90, 80);
    Button_factoryage = add_entry("Button_factoryage", 65, 140, 90, 80);
    Button_rcv_recovery = add_entry("Button_rcv_recovery", 165, 140, 90, 80);
    lineEdit_password = new My_lineEdit(this);
    lineEdit_password->setObjectName(QStringLiteral("lineEdit_password"));
    lineEdit_password->hide();
    connect(lineEdit_password, &My_lineEdit::send_show, this, &AdvancedOption::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &AdvancedOption::confirmString);
    menulist_init();
    language_changed();
}

AdvancedOption::~AdvancedOption()
{
    clear_pointer();
}

void AdvancedOption::clear_pointer()
{
    if (g_advancedoption == this)
        g_advancedoption = nullptr;
}

void AdvancedOption::language_changed()
{
    set_title(kel_text("高级设置", "Advanced settings", "Расширенные настройки", "Cài đặt nâng cao", "高級設置"));
    set_entry_text(Button_lcdshow, kel_text("LCD显示", "LCD\ndisplay", "Дисплей\nLCD", "Màn hình\nLCD", "LCD顯示"));
    set_entry_text(Button_othersetup, kel_text("其他设置", "Other\nsettings", "Другие\nнастройки", "Cài đặt\nkhác", "其他設置"));
    set_entry_text(Button_factory,
                   kel_text("恢复出厂", "Factory\nreset", "Заводские\nнастройки", "Khôi phục\ncài đặt gốc", "恢復出廠"));
    set_entry_text(Button_factoryage, kel_text("老化测试", "Ageing\ntest", "Тест\nстарения", "Kiểm tra\nlão hóa", "老化測試"));
    set_entry_text(Button_rcv_recovery,
                   kel_text("接收卡自恢复", "Card\nrecovery", "Восстано-\nвление карт", "Phục hồi\nthẻ nhận", "接收卡自恢復"));
    rcv_entry_init();
}

void AdvancedOption::syncUpdate()
{
    SettingsScreen::syncUpdate();
    rcv_entry_init();
}

void AdvancedOption::rcv_entry_init()
{
    rcv_files = !Utils::fileNames(QStringLiteral("/data/rcvrecovery"), false).isEmpty();
    Button_rcv_recovery->setEnabled(rcv_files);
}

void AdvancedOption::on_Button_lcdshow_clicked()
{
    KEL_OPEN_MODAL(lcdshow, g_lcdshow, 15);
}

void AdvancedOption::on_Button_othersetup_clicked()
{
    KEL_OPEN_MODAL(othersetup, g_othersetup, 17);
}

void AdvancedOption::on_Button_factory_clicked()
{
    KEL_OPEN_MODAL(factory, g_factory, 18);
}

void AdvancedOption::on_Button_factoryage_clicked()
{
    // The ageing log is for the factory: it opens only after the access code.
    access_granted = false;
    lineEdit_password->clear();
    emit lineEdit_password->send_show(lineEdit_password->text());
    if (access_granted) {
        access_granted = false;
        KEL_OPEN_MODAL(factoryage, g_factoryage, 23);
    }
}

void AdvancedOption::on_Button_rcv_recovery_clicked()
{
    // The folder is looked at again: a PC may have emptied it since the menu was drawn, and
    // its notification may not have come yet.
    rcv_entry_init();
    if (!rcv_files)
        return;
    KEL_OPEN_MODAL(rcv_recovery, g_rcv_recovery, 25);
}

void AdvancedOption::show_numberkeyboard_ui(QString text)
{
    g_lineedit = lineEdit_password;
    if (!g_numberkeyboard)
        return;
    g_numberkeyboard->label_show([] { return kel_text("密码", "Password", "Пароль", "Mật khẩu", "密碼"); }, text);
    g_numberkeyboard->exec();
}

void AdvancedOption::confirmString(QString text)
{
    if (g_lineedit)
        g_lineedit->setText(text);
    access_granted = text == QLatin1String(kAgeingAccessCode);
}

void AdvancedOption::open_entry(int index)
{
    switch (index) {
    case 0: on_Button_lcdshow_clicked(); break;
    case 1: on_Button_othersetup_clicked(); break;
    case 2: on_Button_factory_clicked(); break;
    case 3: on_Button_factoryage_clicked(); break;
    case 4: on_Button_rcv_recovery_clicked(); break;
    default: break;
    }
}
