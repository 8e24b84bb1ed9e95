#include "gui/input/edidset.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/input/editpanel.h"
#include "gui/input/inputchoose.h"
#include "gui/input/sourcetabs.h"
#include "gui/textfit.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"
#include "gui/screen_keys.h"
#include "gui/sourceinfo.h"
#include "ui_edidset.h"

#include <QDebug>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstring>

EDIDset* g_edidset = nullptr;

namespace {
using P = KelRamPara;

int edid16(int input, int field)
{
    return P::pInstance()->locked16(P::kEdid + 6 * input + 2 * field);
}

// A field's text as the record stores it: a signed 16-bit decimal, 0 when it is none.
int as_short(const QString& text)
{
    bool ok = false;
    const short v = text.toShort(&ok, 10);
    return ok ? v : 0;
}
} // namespace

EDIDset::EDIDset(QWidget* parent) : QDialog(parent), ui(new Ui::EDIDset)
{
    style_field = QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);");
    style_field_focus = QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);");
    style_button = QStringLiteral(
        "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53) ; border:1px solid rgb(255,255,255);;");
    style_button_focus = QStringLiteral(
        "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,171,84);");
    style_rate_choice = QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:1px solid rgb(255,0,0);");
    style_select_active = QStringLiteral(
        "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(255,171,84);border-right-color:rgb(255,"
        "171,84);border-top-color:rgb(255,171,84);");
    style_select_inactive = QStringLiteral(
        "border:1px solid;border-bottom-color:rgb(16,16,28);border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, "
        "119, 255);border-top-color:rgb(71, 119, 255);");
    style_card_active = QStringLiteral("#frame_source{border:1px solid rgb(255,171,84);}");
    style_card_inactive = QStringLiteral("#frame_source{border:1px solid rgb(71, 119, 255);}");
    line_names[0] = QStringLiteral("lineEdit_W");
    line_names[1] = QStringLiteral("lineEdit_H");
    source_id = 1;
    ui->setupUi(this);

    kel_source_tabs_init(ui);

    frame_select = new QFrame(this);
    frame_select->setGeometry(4, 38, 50, 43);
    frame_select->setStyleSheet(style_select_active);
    source_name = sourceinfo::get_source_name_by_listseq(0);
    frame_select->lower();
    ui->frame_add->hide();

    QFont buttonFont;
    buttonFont.setPixelSize(9);
    const QString buttonStyle = QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:9px");
    auto makeButton = [&](const char* text, int x) {
        QPushButton* b = new QPushButton(QString::fromUtf8(text), this);
        b->setGeometry(x, 214, 60, 20);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFont(buttonFont);
        b->setStyleSheet(buttonStyle);
        b->hide();
        return b;
    };
    // 60 px wide, centred where the 50 px buttons were: "Сохранить" needs the room at 9 px.
    button_delete = makeButton("删除", 60);
    button_cancel = makeButton("取消", 130);
    button_save = makeButton("保存", 200);

    label_refuse = kel_refusal_label(this, QRect(10, 198, 300, 14));

    connect(ui->lineEdit_W, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    connect(ui->lineEdit_H, &My_lineEdit::send_show, this, &EDIDset::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &EDIDset::confirmString);
    menulist_init();
    source_init();
    language_changed();
}

EDIDset::~EDIDset()
{
    delete ui;
    if (g_edidset == this)
        g_edidset = nullptr;
}

void EDIDset::menulist_init()
{
    ui_select = 0;
    ui_line_select = 0;
    ui_seltype = 0;
    ui_freq_select = 0;
    menulist[0] = button_delete;
    menulist[1] = button_cancel;
    menulist[2] = button_save;
    menulist[3] = ui->lineEdit_W;
    menulist[4] = ui->lineEdit_H;
    button_widget = button_delete;
    button_widget->setStyleSheet(style_button);
    line_widget = ui->lineEdit_W;
    line_widget->setStyleSheet(style_button);
}

void EDIDset::source_init()
{
    delete frame_source;
    frame_source = new QFrame(this);
    frame_source->setObjectName(QStringLiteral("frame_source"));
    frame_source->setGeometry(4, 80, 310, 120);
    frame_source->setStyleSheet(ui_seltype != 0 ? style_card_inactive : style_card_active);
    frame_source->lower();

    const SourceCard card = kel_source_card(frame_source, {QRect(10, 10, 120, 50), {15, 13}, {15, 24}, 60}, source_id, false);
    const QString format = QStringLiteral("%1x%2@%3Hz")
                               .arg(int16_t(edid16(source_id, 0)))
                               .arg(int16_t(edid16(source_id, 1)))
                               .arg(int16_t(edid16(source_id, 2)));
    kel_source_card_texts(card, source_name, format);
    card_type = card.type;
    card_format = card.format;
    frame_source->show();
}

void EDIDset::kel_button_input_clicked()
{
    frame_select->setGeometry(4 + 52 * ui_select, 38, 50, 43);
    source_id = sourceinfo::get_source_id_by_listseq(ui_select);
    source_name = sourceinfo::get_source_name_by_listseq(ui_select);
    source_init();
}

void EDIDset::kel_button_source_clicked()
{
    frame_select->setStyleSheet(style_select_inactive);
    frame_source->setStyleSheet(style_card_inactive);
    kel_fit_text(ui->label_edid_source,
                 kel_text("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:") + source_name, 7);
    for (int f = 0; f < 3; ++f)
        edid_opened[f] = edid16(source_id, f);
    ui->lineEdit_W->setText(QString::number(edid16(source_id, 0)));
    ui->lineEdit_H->setText(QString::number(edid16(source_id, 1)));
    ui->label_rate->setText(QString::number(edid16(source_id, 2)));
    ui_freq_select = edid16(source_id, 2) == 60 ? 1 : 0;
    button_cancel->setGeometry(130, 214, 60, 20);
    button_save->setGeometry(200, 214, 60, 20);
    button_delete->setGeometry(60, 214, 60, 20);
    ui->frame_add->show();
    button_cancel->show();
    button_save->show();
    button_delete->show();
}

void EDIDset::show_numberkeyboard_ui(QString)
{
    QLineEdit* field = qobject_cast<QLineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    // Asked again when the language changes while the keypad is open.
    // (It may outlive this screen: it holds what it needs.)
    const int line = field->objectName() == line_names[0] ? 0 : field->objectName() == line_names[1] ? 1 : 2;
    const auto title = [line] { return line == 0 ? kel_text("宽", "W", "W", "W", "寬") : line == 1 ? kel_text("高", "H", "H", "H", "高") : QString(); };
    if (!title().isEmpty())
        g_numberkeyboard->label_show(title, field->text());
    g_numberkeyboard->exec();
}

void EDIDset::confirmString(QString text)
{
    if (g_lineedit)
        g_lineedit->setText(text);
}

void EDIDset::on_Button_freq_clicked()
{
    ui->label_rate->setText(ui_freq_select == 1 ? QStringLiteral("60") : QStringLiteral("30"));
}

bool EDIDset::kel_button_ok_clicked()
{
    const int width = as_short(ui->lineEdit_W->text());
    const int height = as_short(ui->lineEdit_H->text());
    const int refresh = as_short(ui->label_rate->text());
    // The keys offer 30 and 60; a rate the PC stored (50, say) is kept when left as it is.
    const int stored = edid16(source_id, 2);
    // Only what an EDID timing can describe is stored; the edit stays open and says why.
    QString refusal;
    if (width < 1 || width > kMaxSize || height < 1 || height > kMaxSize)
        refusal = kel_text("宽和高须为1至4095", "W and H must be 1 to 4095", "Ширина и высота: 1–4095",
                           "Rộng và cao: từ 1 đến 4095", "寬和高須為1至4095");
    else if (refresh != 30 && refresh != 60 && !(refresh == stored && refresh >= 1 && refresh <= 255))
        refusal = kel_text("刷新率须为30或60", "Refresh rate must be 30 or 60", "Частота: 30 или 60",
                           "Tần số phải là 30 hoặc 60", "刷新率須為30或60");
    if (!edid_unchanged())
        return false;
    if (!refusal.isEmpty()) {
        kel_fit_text(label_refuse, refusal, 8);
        label_refuse->show();
        return false;
    }
    label_refuse->hide();
    frame_select->setStyleSheet(style_select_active);
    frame_source->setStyleSheet(style_card_active);
    line_widget->setStyleSheet(style_field);
    button_widget->setStyleSheet(style_button);
    KelRamPara::pInstance()->KelSetEDIDPara(source_id, short(width), short(height), short(refresh));
    ui_freq_select = refresh == 60 ? 1 : 0;
    source_init();
    ui->frame_add->hide();
    button_cancel->hide();
    button_save->hide();
    button_delete->hide();
    return true;
}

void EDIDset::kel_button_cancel_clicked()
{
    frame_select->setStyleSheet(style_select_active);
    frame_source->setStyleSheet(style_card_active);
    line_widget->setStyleSheet(style_field);
    button_widget->setStyleSheet(style_button);
    ui->label_rate->setStyleSheet(style_button);
    label_refuse->hide();
    ui->frame_add->hide();
    button_cancel->hide();
    button_save->hide();
    button_delete->hide();
}

void EDIDset::language_changed()
{
    kel_fit_text(ui->label_title, kel_text("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"), 11);
    kel_fit_text(ui->label_edid_source,
                 kel_text("EDID信源:", "EDID source:", "Источник EDID:", "Tín hiệu EDID:", "EDID信源:") + source_name, 7);
    kel_fit_text(ui->label_W, kel_text("宽", "W", "Ширина", "Rộng", "寬"), 7);
    kel_fit_text(ui->label_H, kel_text("高", "H", "Высота", "Cao", "高"), 7);
    kel_fit_text(ui->label_freq, kel_text("刷新率", "Refresh rate", "Частота", "Tần số", "刷新率"), 7);
    // The buttons' style sheet sets their font: the fitted size goes into it.
    const QString buttonStyle = QStringLiteral("color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);font:%1px");
    auto fitButton = [&](QPushButton* b, const QString& text) {
        b->setStyleSheet(QString());
        kel_fit_text_px(b, text, 9);
        b->setStyleSheet(buttonStyle.arg(b->font().pixelSize()));
    };
    fitButton(button_cancel, kel_text("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"));
    fitButton(button_save, kel_text("保存", "SAVE", "Сохранить", "lưu", "保存"));
    fitButton(button_delete, kel_text("删除", "Delete", "Удалить", "Xoá bỏ", "删除"));
}

void EDIDset::syncUpdate()
{
    KelRamPara* p = KelRamPara::pInstance();
    if (p->KelLanguageChanged())
        language_changed();
    drawn_.take_live();
    // The card shows width, height and rate.
    if (drawn_.changed(P::kEdid + 6 * source_id, 6)) {
        source_init();
        if (ui_seltype != 0)
            edid_unchanged();
    }
    drawn_.drawn();
}

bool EDIDset::edid_unchanged()
{
    for (int f = 0; f < 3; ++f) {
        if (edid16(source_id, f) != edid_opened[f]) {
            kel_fit_text(label_refuse,
                         kel_text("该EDID已被更改", "This EDID was changed", "EDID изменён", "EDID đã bị đổi",
                                  "該EDID已被更改"),
                         8);
            label_refuse->show();
            return false;
        }
    }
    return true;
}

void EDIDset::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_edidset == this)
        g_edidset = nullptr;
    if (g_inputchoose) {
        g_inputchoose->language_changed();
        g_page_focus = 3;
        // Back in front: whatever a PC changed meanwhile is drawn.
        g_inputchoose->syncUpdate(0);
    }
}

// --- keys ---------------------------------------------------------------------------------

QWidget* EDIDset::line_item(int index) const
{
    switch (index) {
    case 0: return ui->lineEdit_W;
    case 1: return ui->lineEdit_H;
    case 2: return ui->label_rate;
    case 3: return button_delete;
    case 4: return button_cancel;
    default: return button_save;
    }
}

void EDIDset::focus_line(int index, bool focused)
{
    QWidget* w = line_item(index);
    if (index <= 2) {
        if (index <= 1)
            line_widget = w;
        w->setStyleSheet(focused ? style_field_focus : style_field);
    } else {
        button_widget = w;
        // The buttons carry their fitted font in their style sheet.
        QString style = focused ? style_button_focus : style_button;
        const int px = w->font().pixelSize();
        if (px > 0)
            style += QStringLiteral("font:%1px").arg(px);
        w->setStyleSheet(style);
    }
}

void EDIDset::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("EDIDset", event);
}

void EDIDset::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "EDIDset", event->key(), keyboard,
                       {[this](int step) { key_move(step); }, [this] { key_ok(); }, [this] { key_back(); },
                        [this] {
                            if (g_edidset == this)
                                g_edidset = nullptr;
                            kel_close_screen(g_inputchoose);
                        }});
}

void EDIDset::key_move(int step)
{
    if (ui_seltype == 0) {
        ui_select = uint8_t((ui_select + 4 + step) % 4);
        kel_button_input_clicked();
    } else if (ui_seltype == 1) {
        focus_line(ui_line_select, false);
        ui_line_select = uint8_t((ui_line_select + 6 + step) % 6);
        focus_line(ui_line_select, true);
    } else {
        ui_freq_select = ui_freq_select ? 0 : 1;
        on_Button_freq_clicked();
    }
}

void EDIDset::key_ok()
{
    if (ui_seltype == 0) {
        kel_button_source_clicked();
        ui_seltype = 1;
        ui_line_select = 0;
        focus_line(0, true);
    } else if (ui_seltype == 1) {
        if (ui_line_select <= 1) {
            My_lineEdit* field = ui_line_select == 0 ? ui->lineEdit_W : ui->lineEdit_H;
            emit field->send_show(line_names[ui_line_select]);
        } else if (ui_line_select == 2) {
            ui_seltype = 2;
            ui->label_rate->setStyleSheet(style_rate_choice);
            ui_freq_backup = ui_freq_select;
            rate_backup = ui->label_rate->text();
        } else if (ui_line_select == 5) {
            // Closed before the save, so the card is rebuilt in its active style.
            ui_seltype = 0;
            if (kel_button_ok_clicked()) {
                ui_line_select = 0;
                syncUpdate();   // the drawn copy takes the saved timing in
            } else {
                ui_seltype = 1;   // refused: the edit stays open
            }
        } else {   // Delete behaves as Cancel
            ui_seltype = 0;
            kel_button_cancel_clicked();
            ui_line_select = 0;
        }
    } else {
        // The rate shown is the one chosen: a PC's 50, say, stays 50 when no key changed it.
        ui->label_rate->setStyleSheet(style_field_focus);
        ui_seltype = 1;
    }
}

void EDIDset::key_back()
{
    if (ui_seltype == 0) {
        slot_Button_back_clicked();
    } else if (ui_seltype == 1) {
        ui_seltype = 0;
        ui_line_select = 0;
        kel_button_cancel_clicked();
    } else {
        // Back shows what was shown before the choice, which may be no choice of the keys.
        ui_freq_select = ui_freq_backup;
        ui_seltype = 1;
        ui->label_rate->setText(rate_backup);
        ui->label_rate->setStyleSheet(style_field_focus);
    }
}
