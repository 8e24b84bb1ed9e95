#include "gui/input/inputcut.h"

#include "core/alias.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/input/edidset.h"
#include "gui/input/editpanel.h"
#include "gui/input/inputchoose.h"
#include "gui/input/scaler_edit.h"
#include "gui/input/sourcetabs.h"
#include "gui/textfit.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"
#include "gui/option.h"
#include "gui/screen_keys.h"
#include "gui/sourceinfo.h"
#include "ui_inputcut.h"

#include <QDebug>
#include <QFontMetrics>
#include <algorithm>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <array>
#include <cstring>

InputCut* g_inputcut = nullptr;

namespace {
using P = KelRamPara;

constexpr int kItemsPerPage = 6;
// The largest picture an input is asked for (the EDID screen's limit). A crop is made for
// the source it is meant for, which need not be the one connected now, so the live signal
// does not bound it.
constexpr int kInputLimit = EDIDset::kMaxSize;

int crop_number_of(const CROP_PARA& crop)
{
    return ((crop.id >> 8) & 0x7F) + 1;
}

using Status = std::array<uint8_t, 6>;

// A copy of an input's status bytes (width, height, rate): the receivers publish them on
// their thread.
Status input_status(int id)
{
    Status s{};
    P::pInstance()->copy_bytes(P::kInputStatus + 6 * id, s.data(), int(s.size()));
    return s;
}
} // namespace

InputCut::InputCut(QWidget* parent) : QDialog(parent), ui(new Ui::InputCut)
{
    style_select_tabs = QStringLiteral(
        "border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(255,171,84);border-right-color:rgb(255,"
        "171,84);border-top-color:rgb(255,171,84);");
    style_select_inner = QStringLiteral(
        "border:1px solid;background-color: rgb(16,16, 28);border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, "
        "119, 255);border-top-color:rgb(71, 119, 255);");
    style_source_tabs = QStringLiteral("#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(255,171,84);}");
    style_source_inner = QStringLiteral("#frame_source{background-color: rgb(16,16, 28);border:1px solid rgb(71, 119, 255);}");
    style_field = QStringLiteral(
        "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, 255, 255);font:10px");
    style_field_focus = QStringLiteral(
        "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);font:10px");
    field_names[0] = QStringLiteral("lineEdit_X");
    field_names[1] = QStringLiteral("lineEdit_Y");
    field_names[2] = QStringLiteral("lineEdit_W");
    field_names[3] = QStringLiteral("lineEdit_H");
    source_id = 1;
    card_font.setPixelSize(10);
    ui->setupUi(this);

    kel_source_tabs_init(ui);

    frame_select = new QFrame(this);
    frame_select->setGeometry(1, 40, 53, 41);
    frame_select->setStyleSheet(style_select_tabs);
    // The list looks crops up through the used-number bitmap: it must match the records.
    KelRamPara::pInstance()->KelCropSourceInit();
    crop_source_num_update();
    source_name = QStringLiteral("HDMI1");
    frame_select->lower();
    menulist_init();
    source_init();
    ui->frame_add->hide();

    auto makeButton = [this](const char* text) {
        QPushButton* b = new QPushButton(QString::fromUtf8(text), this);
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(style_field);
        b->hide();
        return b;
    };
    button_cancel = makeButton("取消");
    button_ok = makeButton("确定");
    button_delete = makeButton("删除");
    label_refuse = kel_refusal_label(this, QRect(6, 193, 310, 14));

    My_lineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
    for (My_lineEdit* f : fields) {
        f->setStyleSheet(style_field);
        connect(f, &My_lineEdit::send_show, this, &InputCut::show_numberkeyboard_ui);
    }
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &InputCut::confirmString);
    language_changed();
}

InputCut::~InputCut()
{
    delete ui;
    if (g_inputcut == this)
        g_inputcut = nullptr;
}

void InputCut::menulist_init()
{
    ui_select = 0;
    ui_seltype = 0;
}

QString InputCut::name_prefix() const
{
    return kel_text("名称:", "Name:", "Название:", "Tên:", "名稱:");
}

void InputCut::language_changed()
{
    kel_fit_text(ui->label_title, kel_text("输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"), 11);
    // The crop caption has 30 px beside the X field; a longer word moves up to the right of
    // the name line rather than shrink past reading.
    const QString crop = kel_text("截取:", "Crop:", "Обрезать:", "Cắt:", "截取:");
    ui->label_crop->setGeometry(5, 30, 30, 14);
    ui->label_crop->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    kel_fit_font(ui->label_crop, crop, 7);
    if (!kel_text_fits(ui->label_crop, crop)) {
        ui->label_crop->setGeometry(170, 5, 135, 12);
        ui->label_crop->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    kel_fit_text(ui->label_crop, crop, 7);
    // The width caption may use the gap after the Y field.
    ui->label_W->setGeometry(146, 30, 38, 14);
    kel_fit_text(ui->label_W, kel_text("宽", "W", "Ширина", "Rộng", "寬"), 7);
    kel_fit_text(ui->label_H, kel_text("高", "H", "Высота", "Cao", "高"), 7);
    button_cancel->setText(kel_text("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"));
    button_ok->setText(kel_text("确定", "OK", "OK", "Đồng ý", "確定"));
    button_delete->setText(kel_text("删除", "Delete", "Удалить", "Xoá bỏ", "删除"));
}

// --- tabs and list ------------------------------------------------------------------------

void InputCut::crop_source_num_update()
{
    for (int id = 0; id < 4; ++id)
        source_num[id] = uint8_t(KelRamPara::pInstance()->KelGetSourceNum(id, P::kCropCount) + 1);
    source_name_update();
}

unsigned char InputCut::get_source_num(unsigned char id)
{
    return id < 4 ? source_num[id] : 0;
}

void InputCut::source_name_update()
{
    QLabel* const labels[4] = {ui->sourcelistseq0name, ui->sourcelistseq1name, ui->sourcelistseq2name,
                               ui->sourcelistseq3name};
    kel_source_tabs_counts(labels, source_num);
}

int InputCut::source_current_check()
{
    const int n = KelRamPara::pInstance()->KelGetSourceNum(source_id, P::kCropCount) + 1;
    max_pag = uint8_t(n / kItemsPerPage - (n % kItemsPerPage == 0 ? 1 : 0));
    return n;
}

void InputCut::kel_button_input_clicked()
{
    if (ui_seltype == 0) {
        source_id = sourceinfo::get_source_id_by_listseq(ui_select);
        source_name = sourceinfo::get_source_name_by_listseq(ui_select);
        frame_select->setGeometry(1 + 53 * ui_select, 40, 53, 41);
        frame_select->setStyleSheet(style_select_tabs);
    } else {
        frame_select->setStyleSheet(style_select_inner);
    }
    frame_select->lower();
    source_init();
}

void InputCut::source_init()
{
    KelRamPara* p = KelRamPara::pInstance();
    const int n = source_current_check();
    const int left = n - kItemsPerPage * current_pag;
    const int onPage = left <= 0 ? 0 : std::min(left, kItemsPerPage);

    delete frame_source;
    frame_source = new QFrame(this);
    frame_source->setObjectName(QStringLiteral("frame_source"));
    frame_source->setGeometry(1, 80, 318, 120);
    frame_source->setStyleSheet(ui_seltype == 0 ? style_source_tabs : style_source_inner);
    frame_source->lower();
    for (int i = 0; i < onPage; ++i) {
        const int k = kItemsPerPage * current_pag + i;
        const int c = i % 3, r = i / 3;
        const bool selected = ui_seltype == 1 && ((current_pag == 0 && ui_select != 0 && ui_select == i + 1) ||
                                                  (current_pag != 0 && ui_select == i));
        const SourceCard card = kel_source_card(
            frame_source, {QRect(5 + 95 * c, 10 + 55 * r, 92, 45), {10 + 95 * c, 12 + 55 * r}, {7 + 95 * c, 23 + 55 * r}, 80},
            source_id, selected);

        QString name, format;
        if (k == 0) {
            name = kel_source_alias_name(source_id, card_font, card.name->width());
            const Status status = input_status(source_id);
            const uint8_t* s = status.data();
            const int w = P::get16(s), h = P::get16(s + 2), hz = P::get16(s + 4);
            format = (w && h && hz) ? QStringLiteral("%1x%2@%3Hz").arg(w).arg(h).arg(hz)
                                    : kel_text("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號");
        } else {
            CROP_PARA crop{0, 0, 0, 0, 0};
            int record = P::kCropCount;
            p->KelGetCropPara(source_id, k, &crop, &record);
            // A crop the records no longer hold shows nothing.
            if (record < P::kCropCount) {
                ALIAS_PARA alias{0, std::string(), std::string()};
                if (get_json_alias_para(&alias, "crop", record)) {
                    name = QFontMetrics(card_font).elidedText(QString::fromStdString(alias.name), Qt::ElideRight,
                                                              card.name->width(), Qt::TextShowMnemonic);
                } else {
                    crop_suffix = QStringLiteral("_crop%1").arg(crop_number_of(crop));
                    name = source_name + crop_suffix;
                }
                format = QStringLiteral("%1x%2").arg(crop.width).arg(crop.height);
            }
        }
        kel_source_card_texts(card, name, format);
    }
    button_add = new QPushButton(frame_source);
    button_add->setObjectName(QStringLiteral("button_add"));
    button_add->setGeometry(292, 10, 20, 20);
    button_add->setIcon(QIcon(kel_icon_plain(QStringLiteral("add"))));
    button_add->setIconSize(QSize(20, 20));
    button_add->setFocusPolicy(Qt::NoFocus);
    button_add->setStyleSheet(ui_seltype == 1 && ui_select == 0 && current_pag == 0
                                  ? QStringLiteral("border:1px solid rgb(255,171,84);")
                                  : QStringLiteral("border:0px solid rgb(0,0,0);"));
    frame_source->show();
}

int InputCut::selected_item() const
{
    return current_pag == 0 ? ui_select - 1 : kItemsPerPage * current_pag + ui_select;
}

void InputCut::select_item(int k)
{
    current_pag = uint8_t(k / kItemsPerPage);
    ui_select = uint8_t(current_pag == 0 ? k + 1 : k % kItemsPerPage);
}

// --- edit panel ---------------------------------------------------------------------------

QWidget* InputCut::panel_item(int j) const
{
    QWidget* const items[7] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H,
                               button_delete, button_cancel, button_ok};
    return (j >= 0 && j < 7) ? items[j] : nullptr;
}

void InputCut::kel_sel_info(int position, int mode, int n)
{
    if (mode == 2) {
        for (int j = 0; j < 7; ++j)
            panel_item(j)->setStyleSheet(style_field);
        return;
    }
    if (QWidget* w = panel_item(position - n))
        w->setStyleSheet(mode == 1 ? style_field_focus : style_field);
}

void InputCut::para_changed_over()
{
    ui->frame_add->hide();
    button_cancel->hide();
    button_ok->hide();
    button_delete->hide();
    label_refuse->hide();
    if (button_add)
        button_add->show();
}

void InputCut::kel_button_add_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    button_add->hide();
    // The new crop will take the input's lowest free number: the panel names it so.
    crop_suffix = QStringLiteral("-Crop-%1").arg(p->KelAddCropID(source_id));
    crop_name = source_name + crop_suffix;
    kel_fit_text(ui->label_change_source, name_prefix() + crop_name, 7);
    ui->lineEdit_X->setText(QStringLiteral("0"));
    ui->lineEdit_Y->setText(QStringLiteral("0"));
    ui->lineEdit_W->setText(QStringLiteral("1920"));
    ui->lineEdit_H->setText(QStringLiteral("1080"));
    button_cancel->setGeometry(80, 210, 60, 18);
    button_ok->setGeometry(150, 210, 60, 18);
    button_delete->hide();
    panel_level = 2;
    ui->frame_add->show();
    button_cancel->show();
    button_ok->show();
}

void InputCut::kel_button_source_clicked()
{
    crop_number = uint8_t(selected_item());
    qDebug("this is kel_button_source_clicked [InputCut][Release] [ui_select=%#x] [current_pag=%#x][crop_number=%#x] ",
           ui_select, current_pag, crop_number);
    if (crop_number == 0) {
        para_changed_over();
        return;
    }
    CROP_PARA crop{0, 0, 0, 0, 0};
    int record = P::kCropCount;
    KelRamPara::pInstance()->KelGetCropPara(source_id, crop_number, &crop, &record);
    if (record >= P::kCropCount) {
        para_changed_over();
        return;
    }
    button_add->hide();
    crop_open = uint8_t(crop_number_of(crop));
    crop_held[0] = crop.x;
    crop_held[1] = crop.y;
    crop_held[2] = crop.width;
    crop_held[3] = crop.height;
    crop_lost = false;
    crop_suffix = QStringLiteral("-Crop-%1").arg(crop_number_of(crop));
    crop_name = source_name + crop_suffix;
    kel_fit_text(ui->label_change_source, name_prefix() + crop_name, 7);
    ui->lineEdit_X->setText(QString::number(crop.x));
    ui->lineEdit_Y->setText(QString::number(crop.y));
    ui->lineEdit_W->setText(QString::number(crop.width));
    ui->lineEdit_H->setText(QString::number(crop.height));
    button_delete->setGeometry(50, 210, 60, 18);
    button_cancel->setGeometry(120, 210, 60, 18);
    button_ok->setGeometry(190, 210, 60, 18);
    panel_level = 3;
    ui->frame_add->show();
    button_cancel->show();
    button_ok->show();
    button_delete->show();
}

bool InputCut::crop_values_ok(QString* why) const
{
    bool ok[4] = {};
    const int x = ui->lineEdit_X->text().toShort(&ok[0], 10);
    const int y = ui->lineEdit_Y->text().toShort(&ok[1], 10);
    const int w = ui->lineEdit_W->text().toShort(&ok[2], 10);
    const int h = ui->lineEdit_H->text().toShort(&ok[3], 10);
    if (!ok[0] || !ok[1] || !ok[2] || !ok[3] || x < 0 || y < 0 || w < 1 || h < 1) {
        *why = kel_text("宽高须大于0", "W and H must be 1 or more", "Ширина и высота > 0", "Rộng và cao phải > 0",
                        "寬高須大於0");
        return false;
    }
    if (x + w > kInputLimit || y + h > kInputLimit) {
        *why = kel_text("截取须在%1x%2之内", "Crop must lie within %1x%2", "Обрезка вне %1x%2",
                        "Vùng cắt phải nằm trong %1x%2", "截取須在%1x%2之內")
                   .arg(kInputLimit)
                   .arg(kInputLimit);
        return false;
    }
    return true;
}

int InputCut::open_crop_place()
{
    KelRamPara* p = KelRamPara::pInstance();
    p->KelCropSourceInit();
    for (int k = 1; k <= P::kCropCount; ++k)
        if (p->KelGetCropID(source_id, k) == crop_open)
            return k;
    return 0;
}

int InputCut::held_crop_record(const uint8_t* records, bool* changed) const
{
    *changed = false;
    for (int r = 0; r < P::kCropCount; ++r) {
        const uint8_t* rec = records + P::kCropRecordSize * r;
        const uint16_t id = P::get16(rec);
        if (!(id & 0x8000) || (id & 0xFF) != source_id || ((id >> 8) & 0x7F) + 1 != crop_open)
            continue;
        for (int f = 0; f < 4; ++f)
            if (P::get16(rec + 2 + 2 * f) != uint16_t(crop_held[f]))
                *changed = true;
        return r;
    }
    return -1;
}

bool InputCut::open_crop_there()
{
    if (panel_level != 3)
        return true;
    if (!crop_lost) {
        bool changed = false;
        std::array<uint8_t, P::kCropCount * P::kCropRecordSize> records{};
        KelRamPara::pInstance()->copy_bytes(P::kCropRecords, records.data(), int(records.size()));
        const int r = held_crop_record(records.data(), &changed);
        if (r >= 0 && !changed)
            return true;
        crop_lost = true;
        crop_gone = r < 0;
    }
    kel_fit_text(label_refuse,
                 crop_gone ? kel_text("该截取已被删除", "This crop was deleted", "Обрезка удалена", "Vùng cắt đã bị xoá",
                                      "該截取已被刪除")
                           : kel_text("该截取已被更改", "This crop was changed", "Обрезка изменена",
                                      "Vùng cắt đã bị đổi", "該截取已被更改"),
                 8);
    label_refuse->show();
    return false;
}

void InputCut::kel_button_ok_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    CROP_PARA crop{source_id, ui->lineEdit_X->text().toShort(), ui->lineEdit_Y->text().toShort(),
                   ui->lineEdit_W->text().toShort(), ui->lineEdit_H->text().toShort()};
    if (panel_level == 3) {
        if (!open_crop_there())
            return;
        KEL_TRACE("\n kel_button_ok_clicked soureinfo [source_number = %d] [crop_open=%d]\n", source_id, crop_open);
        // The held crop is looked for and written under one hold of the block's lock: a
        // crop deleted or changed in between is not written, nor one that took its number.
        bool written = false;
        bool changed = false;
        kel_scaler_edit([&] {
            const int r = held_crop_record(p->ram + P::kCropRecords, &changed);
            if (r < 0 || changed) {
                crop_gone = r < 0;
                return;
            }
            uint8_t* rec = p->ram + P::kCropRecords + P::kCropRecordSize * r;
            P::put16(rec + 2, uint16_t(crop.x));
            P::put16(rec + 4, uint16_t(crop.y));
            P::put16(rec + 6, uint16_t(crop.width));
            P::put16(rec + 8, uint16_t(crop.height));
            written = true;
        });
        if (!written) {
            crop_lost = true;
            open_crop_there();
            return;
        }
    } else {
        KEL_TRACE("\n kel_button_ok_clicked add [source_number = %d] \n", source_id);
        // 1 only when nothing changed (no room for the crop): the screen is redrawn from the
        // records below either way.
        static_cast<void>(p->KelAddNewCrop(source_id, &crop));
    }
    p->KelCropSourceInit();
    crop_source_num_update();
    source_init();
    para_changed_over();
    qDebug("this is back button(InputCut)[kel_button_ok_clicked]\n");
}

void InputCut::kel_button_cancel_clicked()
{
    source_init();
    para_changed_over();
}

void InputCut::kel_button_delete_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    if (!open_crop_there())
        return;
    crop_number = uint8_t(open_crop_place());
    p->KelDeleteCrop(char(source_id), char(crop_number));
    p->KelCropSourceInit();
    crop_source_num_update();
    // The selection stays on the list: past the last item it moves onto the new last one.
    const int last = source_current_check() - 1;
    if (selected_item() > last)
        select_item(last);
    ui_list_backup = ui_select;
    source_init();
    para_changed_over();
    qDebug("this is back button(InputCut)[kel_button_delete_clicked]\n");
}

void InputCut::show_numberkeyboard_ui(QString)
{
    QLineEdit* field = qobject_cast<QLineEdit*>(sender());
    if (!field || !g_numberkeyboard)
        return;
    g_lineedit = field;
    // Asked again when the language changes while the keypad is open.
    // (It may outlive this screen: it holds what it needs.)
    const int f = int(std::find(field_names, field_names + 3, field->objectName()) - field_names);
    const auto title = [f] {
        return f == 0 ? QStringLiteral("X") : f == 1 ? QStringLiteral("Y") : f == 2 ? kel_text("宽", "W", "W", "W", "寬") : kel_text("高", "H", "H", "H", "高");
    };
    g_numberkeyboard->label_show(title, field->text());
    g_numberkeyboard->exec();
}

void InputCut::confirmString(QString text)
{
    if (g_lineedit)
        g_lineedit->setText(text);
}

// --- refresh, back ------------------------------------------------------------------------

void InputCut::syncUpdate(int code)
{
    KelRamPara* p = KelRamPara::pInstance();
    const bool retexted = p->KelLanguageChanged();
    if (retexted) {
        language_changed();
        if (!ui->frame_add->isHidden())
            kel_fit_text(ui->label_change_source, name_prefix() + crop_name, 7);
    }
    drawn_.take_live();
    const int records = P::kCropCount * P::kCropRecordSize;
    // The list shows the crops and, on its first card, the input's own signal (or "No
    // signal" in the language of the moment).
    if (retexted || code == 103 || drawn_.changed(P::kCropRecords, records) || drawn_.changed(P::kInputStatus + 6 * source_id, 6)) {
        p->KelCropSourceInit();
        crop_source_num_update();
        source_init();
        // The changing panel says at once that a PC took its crop away.
        if (!ui->frame_add->isHidden())
            open_crop_there();
    }
    drawn_.drawn();
}

void InputCut::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_inputcut == this)
        g_inputcut = nullptr;
    if (g_inputchoose) {
        g_inputchoose->language_changed();
        g_page_focus = 3;
        // Back in front: whatever changed meanwhile (here or by a PC) is drawn.
        g_inputchoose->syncUpdate(0);
    } else {
        if (g_option)
            g_option->language_changed();
        g_page_focus = 5;
    }
}

// --- keys ---------------------------------------------------------------------------------

void InputCut::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("InputCut", event);
}

void InputCut::keyReleaseEvent(QKeyEvent* event)
{
    // The panel's positions are counted from the item count it was opened with: a crop a PC
    // adds or deletes meanwhile must not move the keys onto another field or button.
    const int items = source_current_check();
    const int n = ui_seltype >= 2 ? panel_n : items;
    screen_key_release(this, "InputCut", event->key(), keyboard,
                       {[this, n](int step) { key_move(step, n); }, [this, n] { key_ok(n); },
                        [this, n] { key_back(n); },
                        [this] {
                            if (g_inputcut == this)
                                g_inputcut = nullptr;
                            if (g_inputchoose)
                                kel_close_screen(g_inputchoose);
                            else
                                Option::close_menu();
                        }});
}

void InputCut::key_move(int step, int n)
{
    const bool right = step > 0;
    if (ui_seltype == 0) {
        current_pag = 0;
        ui_select = uint8_t((ui_select + (right ? 1 : 3)) % 4);
        kel_button_input_clicked();
    } else if (ui_seltype == 1) {
        if (!right) {
            if (ui_select > 0) {
                --ui_select;
            } else if (current_pag >= 1) {
                --current_pag;
                ui_select = current_pag == 0 ? 6 : 5;
            } else {
                current_pag = max_pag;
                ui_select = uint8_t(n - kItemsPerPage * max_pag - 1 + (max_pag == 0 ? 1 : 0));
            }
        } else {
            const int p = ui_select + 1;
            const int limit = current_pag == 0 ? n + 1 : n;
            if (kItemsPerPage * current_pag + p >= limit) {
                current_pag = 0;
                ui_select = 0;
            } else if (p >= (current_pag == 0 ? 7 : 6)) {
                ui_select = 0;
                current_pag = current_pag + 1 > max_pag ? 0 : current_pag + 1;
            } else {
                ui_select = uint8_t(p);
            }
        }
        kel_button_input_clicked();
    } else {
        kel_sel_info(ui_select, 0, n);
        if (right) {
            ++ui_select;
            if (ui_seltype == 2 && ui_select == n + 4)
                ui_select = uint8_t(n + 5);
            if (ui_select > n + 6)
                ui_select = uint8_t(n);
        } else if (ui_select == n) {
            ui_select = uint8_t(n + 6);
        } else {
            --ui_select;
            if (ui_seltype == 2 && ui_select == n + 4)
                ui_select = uint8_t(n + 3);
        }
        kel_sel_info(ui_select, 1, n);
    }
    if (ui_seltype <= 1)
        qDebug("this is %s-code [InputCut][Release] [ui_select=%#x] [current_pag=%#x] [max_source_info=%#x]",
               right ? "right" : "left", ui_select, current_pag, n);
}

void InputCut::key_ok(int n)
{
    qDebug("this is OK [InputCut][Release] [ui_select=%#x] [current_pag=%#x] [max_source_info=%#x]", ui_select,
           current_pag, n);
    if (ui_seltype == 0) {
        ui_tab_backup = ui_select;
        ui_select = 0;
        current_pag = 0;
        ui_seltype = 1;
        kel_button_input_clicked();
    } else if (ui_seltype == 1) {
        if (current_pag == 0 && ui_select == 0) {
            ui_list_backup = 0;
            ui_select = panel_n = uint8_t(n);
            kel_button_add_clicked();
            ui_seltype = 2;
            kel_sel_info(n, 1, n);
        } else if (current_pag == 0 && ui_select == 1) {
            // the input itself: nothing to edit
        } else {
            // A position past the last item (after a delete) opens nothing.
            CROP_PARA crop{0, 0, 0, 0, 0};
            int record = P::kCropCount;
            KelRamPara::pInstance()->KelGetCropPara(source_id, selected_item(), &crop, &record);
            if (record >= P::kCropCount)
                return;
            const unsigned char position = ui_select;
            ui_seltype = 3;
            kel_button_input_clicked();
            kel_button_source_clicked();
            ui_list_backup = position;
            ui_select = panel_n = uint8_t(n);
            kel_sel_info(n, 1, n);
        }
    } else {
        const int j = ui_select - n;
        if (j >= 0 && j <= 3) {
            My_lineEdit* const fields[4] = {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_W, ui->lineEdit_H};
            emit fields[j]->send_show(fields[j]->objectName());
        } else if (j >= 4 && j <= 6) {
            QString why;
            if (j != 5 && !open_crop_there())
                return;   // its crop is gone: only Cancel and Back close the panel
            if (j == 6 && !crop_values_ok(&why)) {
                // Refused: the panel stays open and says why.
                kel_fit_text(label_refuse, why, 8);
                label_refuse->show();
                return;
            }
            ui_seltype = 1;
            ui_select = ui_list_backup;
            if (j == 6)
                kel_button_ok_clicked();
            else if (j == 5)
                kel_button_cancel_clicked();
            else
                kel_button_delete_clicked();
            kel_sel_info(0, 2, n);
            syncUpdate(0);   // the drawn copy takes the panel's own write in
        }
    }
}

void InputCut::key_back(int n)
{
    if (ui_seltype == 0) {
        slot_Button_back_clicked();
    } else if (ui_seltype == 1) {
        ui_seltype = 0;
        ui_select = ui_tab_backup;
        kel_button_input_clicked();
    } else {
        ui_seltype = 1;
        ui_select = ui_list_backup;
        kel_button_input_clicked();
        kel_button_cancel_clicked();
        kel_sel_info(0, 2, n);
    }
}
