#include "gui/led/ledset.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/led_size.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/textfit.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"
#include "gui/option.h"
#include "gui/outputset.h"
#include "gui/screen_keys.h"
#include "gui/tip.h"
#include "scaler/c331_manage.h"
#include "ui_ledset.h"

#include <QDebug>
#include <QKeyEvent>
#include <QPixmap>
#include <algorithm>
#include <mutex>

ledset* g_ledset = nullptr;

namespace {

using P = KelRamPara;

// Text as a signed number of the given width; 0 when it is not one.
int toInt32(const QString& text)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok ? v : 0;
}
int toInt16(const QString& text)
{
    bool ok = false;
    const short v = text.toShort(&ok);
    return ok ? v : 0;
}

void put16(int offset, int value)
{
    P::put16(P::pInstance()->ram + offset, uint16_t(value));
}

} // namespace

ledset::ledset(QWidget* parent) : QDialog(parent), ui(new Ui::ledset)
{
    style_field = QStringLiteral("color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);");
    style_field_focus =
        QStringLiteral("color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);");
    style_button = QStringLiteral(
        "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255) ;");
    style_button_focus = QStringLiteral(
        "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);");
    line_names[0] = QStringLiteral("lineEdit_ledw");
    line_names[1] = QStringLiteral("lineEdit_ledh");
    ui->setupUi(this);
    ui->label_warning->setPixmap(QPixmap(QStringLiteral(":/png/warning.png")));
    edit_name.clear();
    connect(ui->lineEdit_ledw, &My_lineEdit::send_show, this, &ledset::show_numberkeyboard_ui);
    connect(ui->lineEdit_ledh, &My_lineEdit::send_show, this, &ledset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &ledset::confirmString);
    para_init();
    menulist_init();
    language_changed();
}

ledset::~ledset()
{
    delete ui;
    if (g_ledset == this)
        g_ledset = nullptr;
}

void ledset::para_init()
{
    P* para = P::pInstance();
    ui->lineEdit_ledw->setText(QString::number(para->locked16(P::kLedWidth)));
    ui->lineEdit_ledh->setText(QString::number(para->locked16(P::kLedHeight)));
}

void ledset::menulist_init()
{
    menulist[0] = ui->lineEdit_ledw;
    menulist[1] = ui->lineEdit_ledh;
    menulist[2] = ui->Button_apply;
    menulist[3] = ui->Button_cancle;
    line_widget = ui->lineEdit_ledw;
    line_widget->setStyleSheet(style_field_focus);
    ui_select = 0;
    button_widget = ui->Button_apply;
    button_widget->setStyleSheet(style_button);
}

void ledset::language_changed()
{
    kel_fit_text(ui->label_ledset, kel_text("LED设置", "LED Setting", "Настройка LED", "Cài đặt LED", "LED設置"), 13, KelFit::LineBox);
    kel_fit_text(ui->label_note_led_w,
                 kel_text("设置LED屏宽高", "Set LED W&H", "Разрешение LED шир и выс", "Cài đặt thông số led", "設置LED屏寬高"), 9, KelFit::LineBox);
    kel_fit_text(ui->label_ledw, kel_text("宽", "W", "Ширина", "Rộng", "寬"), 9, KelFit::LineBox);
    kel_fit_text(ui->label_ledh, kel_text("高", "H", "Высота", "Cao", "高"), 9, KelFit::LineBox);
    const QString tip = kel_text("可设LED屏最大点数:%d(宽),%d(高)", "LED max:%d(w),%d(h)", "Ширина:%d(px)Высота:%d(px)",
                                 "Điểm ảnh lớn nhất:%d(ngang),%d(dọc)", "可設LED屏最大點數:%d(寬),%d(高)");
    kel_fit_text(ui->label_tip, QString::asprintf(tip.toUtf8().constData(), kMaxSide, kMaxSide), 8, KelFit::LineBox);
    kel_fit_text(ui->Button_apply, kel_text("应用", "Apply", "OK", "Đồng ý", "應用"), 11, KelFit::LineBox);
    kel_fit_text(ui->Button_cancle, kel_text("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"), 11, KelFit::LineBox);
    kel_fit_font(ui->lineEdit_ledw, QStringLiteral("8188"), 11, KelFit::LineBox);
    kel_fit_font(ui->lineEdit_ledh, QStringLiteral("8188"), 11, KelFit::LineBox);
}

void ledset::syncUpdate()
{
    // Width and height are neighbouring words.
    static_assert(P::kLedHeight == P::kLedWidth + 2, "LED width and height are one range");
    if (P::pInstance()->KelLanguageChanged())
        language_changed();
    drawn_.take_live();
    if (drawn_.changed(P::kLedWidth, 4))
        para_init();
    drawn_.drawn();
}

void ledset::show_numberkeyboard_ui(QString)
{
    QLineEdit* field = qobject_cast<QLineEdit*>(sender());
    g_lineedit = field;
    edit_name = field ? field->objectName() : QString();
    if (!g_numberkeyboard)
        return;
    if (edit_name == line_names[0])
        g_numberkeyboard->label_show([] { return kel_text("宽", "W", "W", "W", "寬"); }, ui->lineEdit_ledw->text());
    else if (edit_name == line_names[1])
        g_numberkeyboard->label_show([] { return kel_text("高", "H", "H", "H", "高"); }, ui->lineEdit_ledh->text());
    g_numberkeyboard->exec();
}

void ledset::confirmString(QString text)
{
    const bool width = edit_name == line_names[0];
    if (!width && edit_name != line_names[1])
        return;
    QLineEdit* edited = width ? ui->lineEdit_ledw : ui->lineEdit_ledh;
    QLineEdit* other = width ? ui->lineEdit_ledh : ui->lineEdit_ledw;
    const int v = toInt32(text);
    const int o = toInt16(other->text());
    if (v > kMaxSide) {
        edited->setText(QString::number(kMaxSide));
        if (o * kMaxSide > kWidthArea)
            other->setText(QStringLiteral("800"));
    } else if (v >= kMinSide) {
        edited->setText(text);
        const int area = width ? kWidthArea : kHeightArea;
        if (o * v > area)
            other->setText(QString::number(area / v));
    } else {
        edited->setText(QString::number(kMinSide));
    }
}

void ledset::on_Button_apply1_clicked()
{
    int width = toInt16(ui->lineEdit_ledw->text());
    int height = toInt16(ui->lineEdit_ledh->text());
    // The limits of the entries hold for what is stored too: a field that does not convert
    // (or was never corrected) must not store a size of 0 or one the panel cannot take.
    width = std::clamp(width, int(kMinSide), int(kMaxSide));
    height = std::clamp(height, int(kMinSide), int(kMaxSide));
    if (width * height > kHeightArea)
        height = kHeightArea / width;
    ui->lineEdit_ledw->setText(QString::number(width));
    ui->lineEdit_ledh->setText(QString::number(height));

    P* para = P::pInstance();
    bool changed = false;
    {
        c331_manage* scaler = c331_manage::p_c331_manage;
        std::unique_lock<std::mutex> hold = P::lock_block();
        put16(P::kLedWidth, width);
        put16(P::kLedHeight, height);
        put16(P::kPanelMode, 0);
        for (int out : {1408, 1416}) {
            put16(out, 0);
            put16(out + 2, 0);
            put16(out + 4, width);
            put16(out + 6, height);
        }
        changed = led_size::follow(para->ram, para->ram_backup);
        if (changed) {
            const int window0 = P::kLayers + P::kLayerWindow;
            put16(window0, 0);
            put16(window0 + 2, 0);
            put16(window0 + 4, width);
            put16(window0 + 6, height);
            for (int w = 1; w < P::kLayerCount; ++w)
                put16(P::kLayers + P::kLayerSize * w + P::kLayerFlags, 0);
        }
        if (scaler)
            scaler->raise_apply_flag(1);
    }
    // The toast runs with the scaler free: holding its lock for the toast's 3 s would stall
    // the scaler thread and every PC writer of scaler settings.
    if (changed && g_tip)
        g_tip->tip_create(1);
}

void ledset::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_ledset == this)
        g_ledset = nullptr;
    if (g_outputset)
        g_outputset->language_changed();
    g_page_focus = 6;
}

void ledset::move_focus(int step)
{
    if (ui_select <= 1)
        line_widget->setStyleSheet(style_field);
    else
        button_widget->setStyleSheet(style_button);
    ui_select = uint8_t((ui_select + 4 + step) % 4);
    if (ui_select <= 1) {
        line_widget = menulist[ui_select];
        line_widget->setStyleSheet(style_field_focus);
    } else {
        button_widget = menulist[ui_select];
        button_widget->setStyleSheet(style_button_focus);
    }
}

void ledset::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("ledset", event);
}

void ledset::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "ledset", event->key(), keyboard,
                       {[this](int step) { move_focus(step); },
                        [this] {
                            if (ui_select <= 1)
                                emit static_cast<My_lineEdit*>(line_widget)->send_show(line_names[ui_select]);
                            else if (ui_select == 2)
                                on_Button_apply1_clicked();
                            else
                                slot_Button_back_clicked();
                        },
                        [this] { slot_Button_back_clicked(); },
                        [this] {
                            if (g_ledset == this)
                                g_ledset = nullptr;
                            kel_close_screen(g_outputset);
                            Option::close_menu();
                        }});
}
