#include "gui/numberkeyboard.h"

#include "core/global.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "ui_numberkeyboard.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QKeyEvent>
#include <QMetaObject>
#include <QRegExp>
#include <QRegExpValidator>

NumberKeyboard* g_numberkeyboard = nullptr;
QPointer<QLineEdit> g_lineedit;
QString l_str;

NumberKeyboard::NumberKeyboard(QWidget* parent)
    : QDialog(parent),
      ui_select(0),
      ui(new Ui::NumberKeyboard),
      focus_widget_(nullptr),
      style_key_("background-color: rgb(255, 255, 255);border:1px ;"),
      style_key_focus_("background-color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);"),
      style_ok_("background-color: rgb(71, 119, 255);border:1px ;"),
      style_ok_focus_("background-color: rgb(71, 119, 255);border:1px solid rgb(255,171,84);")
{
    ui->setupUi(this);
    ui->lineEdit->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[*0-9]+$")), ui->lineEdit));
    ui->ButtonX->setIcon(QIcon(kel_icon_plain(QStringLiteral("delete"))));
    ui->ButtonX->setIconSize(QSize(20, 20));
    menulist_init();
    language_changed();
}

NumberKeyboard::~NumberKeyboard()
{
    if (g_numberkeyboard == this)
        g_numberkeyboard = nullptr;
    delete ui;
}

void NumberKeyboard::menulist_init()
{
    QWidget* list[14] = {ui->Button1, ui->Button2, ui->Button3, ui->Button4,  ui->Button5,
                         ui->Button6, ui->Button7, ui->Button8, ui->Button9,  ui->Button0,
                         ui->ButtonC, ui->ButtonX, ui->Button_close, ui->Button_ok};
    for (int i = 0; i < 14; ++i)
        focus_list_[i] = list[i];
    // Index 0 is selected but drawn without its frame until the first left or right key.
    ui_select = 0;
    focus_widget_ = focus_list_[0];
}

void NumberKeyboard::language_changed()
{
    if (title_)
        kel_fit_text_designed(ui->label, title_());
    kel_fit_text_designed(ui->Button_close, kel_text("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"));
    kel_fit_text_designed(ui->Button_ok, kel_text("确定", "OK", "OK", "Đồng ý", "確定"));
}

void NumberKeyboard::label_show(const QString& title, QString text)
{
    label_show([title] { return title; }, std::move(text));
}

void NumberKeyboard::label_show(std::function<QString()> title, QString text)
{
    // The screen calling this is the top modal screen: it alone gets the typed text.
    QWidget* modal = QApplication::activeModalWidget();
    opener_ = (modal && modal != this) ? modal : nullptr;
    // Titles come from every screen in every language; the 44 px label takes them fitted,
    // a word too long even at the smallest size cut so that its start stays readable.
    title_ = std::move(title);
    l_str.clear();
    ui->lineEdit->setText(text);
    language_changed();
}

void NumberKeyboard::on_ButtonC_clicked()
{
    ui->lineEdit->setText(QStringLiteral("0"));
    l_str.clear();
}

void NumberKeyboard::on_ButtonX_clicked()
{
    QString text = ui->lineEdit->text();
    if (!text.isEmpty())
        text.chop(1);
    ui->lineEdit->setText(text);
    l_str = text;
}

void NumberKeyboard::on_Button_ok_clicked()
{
    const QString text = ui->lineEdit->text();
    QObject* opener = opener_.data();
    hide();
    opener_ = nullptr;
    // Only the screen that opened the keypad takes the text: every screen alive along the
    // menu chain is connected to the signal, and a parent's confirmString must not act on
    // its child's field.
    if (opener && opener->metaObject()->indexOfMethod("confirmString(QString)") >= 0) {
        QMetaObject::invokeMethod(opener, "confirmString", Qt::DirectConnection, Q_ARG(QString, text));
        return;
    }
    emit sendKeyBoardUIDataToLineEdit(text);
}

void NumberKeyboard::on_Button_close_clicked()
{
    opener_ = nullptr;
    hide();
}

void NumberKeyboard::digit(int index)
{
    // Index 0 to 8 are the keys 1 to 9, index 9 the key 0; a 0 is appended like any digit.
    l_str.append(QChar('0' + (index == 9 ? 0 : index + 1)));
    ui->lineEdit->setText(l_str);
}

void NumberKeyboard::move_focus(int index)
{
    if (focus_widget_)
        focus_widget_->setStyleSheet(focus_widget_ == ui->Button_ok ? style_ok_ : style_key_);
    ui_select = static_cast<unsigned char>(index);
    focus_widget_ = focus_list_[ui_select];
    focus_widget_->setStyleSheet(ui_select == 13 ? style_ok_focus_ : style_key_focus_);
}

void NumberKeyboard::keyPressEvent(QKeyEvent* event)
{
    // Enter and Escape must neither accept nor close the keypad: no press reaches QDialog.
    switch (kel_key(event->key())) {
    case KEL_OK:
        qDebug("this is OK button(NumberKeyboard)[Press]\n");
        break;
    case KEL_BACK:
        qDebug("this is back button(NumberKeyboard)[Press]\n");
        break;
    default:
        break;
    }
}

void NumberKeyboard::keyReleaseEvent(QKeyEvent* event)
{
    switch (kel_key(event->key())) {
    case KEL_LEFT:
        move_focus(ui_select == 0 ? 13 : ui_select - 1);
        qDebug("this is left-code [NumberKeyboard][Release] ui_select=%#x", ui_select);
        break;
    case KEL_RIGHT:
        move_focus(ui_select >= 13 ? 0 : ui_select + 1);
        qDebug("this is right-code [NumberKeyboard][Release] ui_select=%#x", ui_select);
        break;
    case KEL_OK:
        qDebug("this is OK button(NumberKeyboard)[Release]\n");
        if (ui_select <= 9)
            digit(ui_select);
        else if (ui_select == 10)
            on_ButtonC_clicked();
        else if (ui_select == 11)
            on_ButtonX_clicked();
        else if (ui_select == 12)
            on_Button_close_clicked();
        else
            on_Button_ok_clicked();
        break;
    case KEL_BACK:
        qDebug("this is back button(NumberKeyboard)[Release]\n");
        on_Button_close_clicked();
        break;
    default:
        break;
    }
}
