#include "gui/input/custommode.h"

#include "board/Files.h"
#include "core/alias.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/input/editpanel.h"
#include "gui/input/scaler_edit.h"
#include "gui/textfit.h"
#include "gui/kel_keys.h"
#include "gui/kelcontrol.h"
#include "gui/lockwindow.h"
#include "gui/mainwindow.h"
#include "gui/screen_keys.h"
#include "gui/sourceinfo.h"
#include "scaler/omenu.h"
#include "ui_custommode.h"

#include <QComboBox>
#include <QDebug>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QRegularExpression>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

CustomMode* g_custommode = nullptr;

namespace {
using P = KelRamPara;

// A slot holds at slot byte N - 894 its copy of block byte N (N = 896..4095).
constexpr int kSlotOffset = P::kModeArea - 2;

using Slot = std::vector<uint8_t>;

// A copy of a slot: PC links write the slots on their threads, under the block's lock.
Slot slot_copy(int slot)
{
    P* p = P::pInstance();
    std::unique_lock<std::mutex> block = P::lock_block();
    return Slot(p->mode_slot[slot], p->mode_slot[slot] + P::kModeSlotSize);
}

int16_t slot16(const Slot& slot, int blockOffset)
{
    return int16_t(P::get16(slot.data() + blockOffset - kSlotOffset));
}

// "%d" texts of the tables with their numbers filled in.
QString fill(const QString& format, int a)
{
    return QString(format).replace(QStringLiteral("%d"), QString::number(a));
}

QString fill(const QString& format, int a, int b)
{
    QString s(format);
    const int at = s.indexOf(QStringLiteral("%d"));
    s.replace(at, 2, QString::number(a));
    return fill(s, b);
}

const double kLinePt = 8;

// The mode's name in the alias file a PC sends, "" when it names none.
std::string alias_name(int slot)
{
    ALIAS_PARA alias{0, std::string(), std::string()};
    return get_json_alias_para(&alias, "usermode", slot) ? alias.name : std::string();
}

// A colour text of the overlay file ("0x" and hex digits) as a style-sheet colour; the
// file comes from the PC, so anything but hex digits is left out of the style sheet.
QString osd_colour(const std::string& text)
{
    const QString digits = QString::fromStdString(text).mid(2);
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]{3,8}$"));
    return hex.match(digits).hasMatch() ? QStringLiteral("#") + digits : QString();
}
} // namespace

CustomMode::CustomMode(QWidget* parent) : QWidget(parent), ui(new Ui::CustomMode)
{
    style_focus = QStringLiteral(
        "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 171, 84);");
    style_normal = QStringLiteral(
        "background-color: #212435;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    ui->setupUi(this);
    preview_font.setPixelSize(10);
    ui->lineEdit->setReadOnly(true);
    ui->label_blank->hide();

    const int current = KelRamPara::pInstance()->KelGetCurrentModeIndex();
    g_mode_select = current > 0 ? uint8_t(current - 1) : 0;
    qDebug() << "custom mode = " << int(g_mode_select) << current;

    mode_box = new kelcontrol(QRect(19, 0, 100, 22), QRect(0, 0, 20, 22), QRect(118, 0, 20, 22), this);
    mode_box->setGeometry(3, 28, 320, 24);

    label_refuse = kel_refusal_label(this, QRect(6, 194, 308, 14));
    init();
    preview();
    menulist_init();
    ui->label_ID->setText(QStringLiteral("ID:%1").arg(int(g_mode_select) + 1));
    ui->Button_use->setStyleSheet(style_normal);
    language_changed();
}

CustomMode::~CustomMode()
{
    delete ui;
    if (g_custommode == this)
        g_custommode = nullptr;
}

void CustomMode::init()
{
    mode_box->setFocusPolicy(Qt::NoFocus);
    mode_box->comboBox->setFocusPolicy(Qt::NoFocus);
    for (int i = 1; i <= P::kModeSlots; ++i)
        mode_box->comboBox->addItem(QString());   // named by language_changed
    mode_box->comboBox->setCurrentIndex(g_mode_select);
}

void CustomMode::menulist_init()
{
    ui_select = g_mode_select;
    edit_state = 0;
    button_select = 0;
    mode_box->set_box_default();
}

void CustomMode::language_changed()
{
    const QString format = kel_text("用户模式%d", "MODE %d", "Слот %d", "Chế độ %d", "用戶模式%d");
    for (int i = 1; i <= P::kModeSlots; ++i)
        mode_box->comboBox->setItemText(i - 1, fill(format, i));
    kel_fit_text(ui->label_title, kel_text("用户模式", "User mode", "Слот", "Chế độ người dùng", "用戶模式"), 11);
    kel_fit_text(ui->Button_delete, kel_text("删除", "Delete", "Удалить", "Xoá bỏ", "删除"), 8);
    kel_fit_text(ui->Button_use, kel_text("调用", "Invoke", "Вызвать", "Dùng", "調用"), 8);
    // A longer word widens the badge to the right, where its line is free.
    const QString inUse = kel_text("使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD");
    QFont badge = ui->label_using->font();
    badge.setPixelSize(kel_lcd_px(8));
    ui->label_using->resize(std::max(60, QFontMetrics(badge).horizontalAdvance(inUse) + 2), 12);
    kel_fit_text(ui->label_using, inUse, 8);
    kel_fit_text(ui->label_blank,
                 kel_text("未保存用户模式数据", "Usermode does not exist", "Данные не сохранены",
                          "Chế độ không được lưu", "未保存用戶模式數據"),
                 9);
}

void CustomMode::syncUpdate()
{
    // A new language or new names from the alias file re-text the preview as well.
    const bool retexted = KelRamPara::pInstance()->KelLanguageChanged();
    if (retexted)
        language_changed();
    if (!retexted && slot_copy(g_mode_select) == shown_slot &&
        KelRamPara::pInstance()->KelGetCurrentModeIndex() == shown_current && alias_name(g_mode_select) == shown_alias)
        return;
    // A PC saved, deleted or recalled a mode: the preview shows the slot as it is now, and
    // the buttons of a mode that is gone close.
    if (edit_state == 1 && !get_mode_status()) {
        edit_state = 0;
        mode_box->set_box_default();
        kel_button_selinfo(2, 0);
    }
    preview();
}

void CustomMode::preview()
{
    shown_slot = slot_copy(g_mode_select);
    shown_current = KelRamPara::pInstance()->KelGetCurrentModeIndex();
    lcd_para_init();
    image_para_init();
}

bool CustomMode::slot_as_shown()
{
    if (slot_copy(g_mode_select) == shown_slot) {
        label_refuse->hide();
        return true;
    }
    kel_fit_text(label_refuse,
                 kel_text("该模式已被更改", "This mode was changed", "Слот изменён", "Chế độ đã bị đổi", "該模式已被更改"), 8);
    label_refuse->show();
    return false;
}

int CustomMode::get_mode_status()
{
    return KelRamPara::pInstance()->KelUserModeSaved(g_mode_select);
}

void CustomMode::kel_button_mode_clicked()
{
    g_mode_select = ui_select;
    ui->label_ID->setText(QStringLiteral("ID:%1").arg(int(ui_select) + 1));
    label_refuse->hide();
    preview();
}

void CustomMode::kel_button_selinfo(char op, char index)
{
    QWidget* const buttons[3] = {ui->Button_use, ui->Button_delete, ui->Button_more};
    const int i = uint8_t(index);
    switch (op) {
    case 0:
        if (i <= 2)
            buttons[i]->setStyleSheet(style_focus);
        kel_button_mode_clicked();
        break;
    case 1:
        if (i <= 2)
            buttons[i]->setStyleSheet(style_normal);
        break;
    case 2:
        for (QWidget* b : buttons)
            b->setStyleSheet(style_normal);
        break;
    default:
        break;
    }
}

// --- preview ------------------------------------------------------------------------------

void CustomMode::color_fill(QLabel* label, char index)
{
    static const char* const kColours[6] = {"#D5E5FF", "#D4FC79", "#FC9D79", "#7E9AC9", "#32CC4C", "#4777FF"};
    const int i = uint8_t(index);
    label->setStyleSheet(QStringLiteral("background-color: %1;").arg(QLatin1String(i < 6 ? kColours[i] : "#CCCCCC")));
}

void CustomMode::lcd_para_init()
{
    const int s = g_mode_select;
    KelRamPara* p = KelRamPara::pInstance();
    const Slot slot = slot_copy(s);

    QFont nameFont = ui->label_name->font();
    nameFont.setPixelSize(kel_lcd_px(kLinePt));
    ui->label_name->setFont(nameFont);
    shown_alias = alias_name(s);
    if (!shown_alias.empty()) {
        const QString text = kel_text("名称:", "Name:", "Название:", "Tên:", "名稱:") + QString::fromStdString(shown_alias);
        ui->label_name->setText(QFontMetrics(nameFont).elidedText(text, Qt::ElideRight, ui->label_name->width(),
                                                                   Qt::TextShowMnemonic));
    } else {
        kel_fit_text(ui->label_name,
                     fill(kel_text("名称:用户模式%d", "Name:Mode%d", "Название:Слот%d", "Tên:Chế độ%d", "名稱:用戶模式%d"),
                          s + 1),
                     kLinePt);
    }

    kel_fit_text(ui->label_LED,
                 fill(kel_text("LED参数:%dx%d", "LED size:%dx%d", "Размер LED:%dx%d", "Kích thước LED:%dx%d",
                               "LED參數:%dx%d"),
                      slot16(slot, P::kLedWidth), slot16(slot, P::kLedHeight)),
                 kLinePt);

    // An audio window beyond the six windows names no window: the mode has no sound.
    const int audio = slot[P::kAudioWindow - kSlotOffset];
    const bool sound = audio <= 5 && slot16(slot, P::kLayers + P::kLayerSize * audio + P::kLayerVolume) < 0;
    const QString bri = sound ? kel_text("亮度:%d 对比度:%d 音量:开启", "Bri:%d CTRST:%d Volume:ON",
                                         "Яркость:%d Контраст:%d Громкость:Вкл", "Độ sáng:%d Tương phản:%d Âm:Mở",
                                         "亮度:%d 對比度:%d 音量:開啟")
                              : kel_text("亮度:%d 对比度:%d 音量:关闭", "Bri:%d CTRST:%d Volume:OFF",
                                         "Яркость:%d Контраст:%d Громкость:Откл", "Độ sáng:%d Tương phản:%d Âm:đóng",
                                         "亮度:%d 對比度:%d 音量:關閉");
    kel_fit_text(ui->label_brightness, fill(bri, slot16(slot, P::kBrightness), slot16(slot, P::kBrightness + 2)), kLinePt);
    kel_fit_text(ui->Button_more, kel_text("更多", "More", "Больше", "Nhiều hơn", "更多"), 8);
    ui->label_using->setVisible(p->KelGetCurrentModeIndex() == s + 1);
}

void CustomMode::image_para_init()
{
    const int s = g_mode_select;
    KelRamPara* p = KelRamPara::pInstance();
    delete widget_preview;
    widget_preview = nullptr;

    if (!p->KelUserModeSaved(s)) {
        ui->label_LED->hide();
        ui->label_brightness->hide();
        ui->Button_delete->hide();
        ui->Button_use->hide();
        ui->label_using->hide();
        ui->Button_more->hide();
        ui->label_blank->show();
        button_hidden = 1;
        return;
    }
    ui->label_LED->show();
    ui->label_brightness->show();
    ui->Button_delete->show();
    ui->Button_use->show();
    ui->label_blank->hide();
    ui->label_using->setVisible(p->KelGetCurrentModeIndex() == s + 1);
    if (slot16(slot_copy(s), P::kOsdOn) == 0) {
        ui->Button_more->hide();
        button_hidden = 1;
    } else {
        ui->Button_more->show();
        button_hidden = 0;
    }

    widget_preview = new QWidget(ui->frame);
    widget_preview->setGeometry(3, 61, 285, 90);
    widget_preview->setMinimumSize(50, 60);
    if (edit_state == 1 && button_hidden == 0 && button_select == 2)
        build_osd_page();
    else
        build_window_page();
    widget_preview->show();
}

void CustomMode::build_window_page()
{
    const int s = g_mode_select;
    KelRamPara* p = KelRamPara::pInstance();
    const Slot slot = slot_copy(s);
    const uint8_t* stored = slot.data() + 2;
    const QString line = QStringLiteral("background-color: #10101C;color: #FFFFFF;");
    for (int w = 0; w < 4; ++w) {
        const int tileX = w < 2 ? 0 : 145;
        const int lineX = w < 2 ? 24 : 171;
        const int y = (w % 2 == 0) ? 2 : 32;
        const uint8_t* rec = stored + P::kLayers + P::kLayerSize * w - P::kModeArea;

        QLabel* tile = new QLabel(QString::number(w + 1), widget_preview);
        tile->setFont(preview_font);
        tile->setGeometry(tileX, y, 24, 24);
        tile->setAlignment(Qt::AlignCenter);
        color_fill(tile, char(w));

        int16_t isCrop = 0;
        char cropIndex = 0;
        const int input = p->KelGetImageSource(stored, uint8_t(w), &isCrop, &cropIndex, 1);
        QString source = sourceinfo::get_source_name_by_sourceid(uint8_t(input));
        if (isCrop)
            source += QStringLiteral("_Crop%1").arg(int(uint8_t(cropIndex)) + 1);
        source += QStringLiteral(" ") + (P::get16(rec + P::kLayerFlags) == 0 ? kel_text("关闭", "OFF", "Откл", "Đóng", "關閉")
                                                                              : kel_text("开启", "ON", "Вкл", "Mở", "開啟"));
        QLabel* sourceLine = new QLabel(widget_preview);
        sourceLine->setFont(preview_font);
        sourceLine->setGeometry(lineX, y, 100, 12);
        sourceLine->setStyleSheet(line);
        kel_fit_text_px(sourceLine, source, preview_font.pixelSize());

        const QString area = QStringLiteral("[%1,%2]%3x%4")
                                 .arg(P::get16(rec + P::kLayerWindow))
                                 .arg(P::get16(rec + P::kLayerWindow + 2))
                                 .arg(P::get16(rec + P::kLayerWindow + 4))
                                 .arg(P::get16(rec + P::kLayerWindow + 6));
        QLabel* areaLine = new QLabel(widget_preview);
        areaLine->setFont(preview_font);
        areaLine->setGeometry(lineX, y + 14, 140, 12);
        areaLine->setStyleSheet(line);
        kel_fit_text_px(areaLine, area, preview_font.pixelSize());
    }
}

QString CustomMode::osd_file_name(int mode)
{
    return QString::fromStdString(KelRamPara::mode_osd_file_name(mode));
}

QString CustomMode::osd_detail_text(const OMENU_PARA& item)
{
    const bool zh = kel_lang() == KEL_LANG_ZH;
    const bool tn = kel_lang() == KEL_LANG_TN;
    auto piece = [&](const char* en, const char* zhText, const char* tnText) {
        return QString::fromUtf8(zh ? zhText : tn ? tnText : en);
    };
    auto u = [](int v) { return QString::number(uint32_t(v)); };
    QString effect;
    switch (item.effect) {
    case 2: effect = piece("effect:move up", "特技:上移", "特技:上移"); break;
    case 3: effect = piece("effect:move down", "特技:下移", "特技:下移"); break;
    case 4: effect = piece("effect:move left", "特技:左移", "特技:左移"); break;
    case 5: effect = piece("effect:move right", "特技:右移", "特技:右移"); break;
    default: effect = piece("effect:static", "特技:静止", "特技:靜止"); break;
    }
    return QStringLiteral("osd [x:") + u(item.pos_x) + "," + "y:" + u(item.pos_y) + "," + "w:" + u(item.pos_w) + "," +
           "h:" + u(item.pos_h) + "] " + piece("font size:", "字体大小:", "字體大小:") + u(item.fontw) + "*" +
           u(item.fonth) + "\n" + piece("space [h:", "字-行间距 [h:", "字-行間距 [h:") + u(item.wordspace) + ",v:" +
           u(item.verticalspace) + "] " + piece("char[x:", "字幕坐标[x:", "字幕坐標[x:") + u(item.startx) + "," +
           "y:" + u(item.starty) + "] " + piece("speed:", "速度:", "速度:") + u(item.speed) + "," + effect;
}

void CustomMode::build_osd_page()
{
    const std::string file = KelRamPara::mode_osd_file_name(g_mode_select + 1);
    // A mode whose overlay file is missing has no overlay to show: the page stays empty
    // rather than showing a record nothing has filled.
    if (!board::Files::exists(file))
        return;
    OSD_LIST list;
    get_json_omenu_para(file.c_str(), &list);
    const OMENU_PARA& item = list.item[0];

    QLabel* detail = new QLabel(osd_detail_text(item), widget_preview);
    detail->setGeometry(2, 56, 300, 30);
    detail->setFont(preview_font);
    detail->setFrameShape(QFrame::NoFrame);
    detail->setStyleSheet(QStringLiteral("background-color: #10101C;color: #FFFFFF;"));

    QStringList lines = QString::fromStdString(item.texts).split(QStringLiteral("\n"));
    if (lines.size() > 3)
        lines = lines.mid(0, 3);
    QLabel* sample = new QLabel(lines.join(QStringLiteral("\n")), widget_preview);
    sample->setGeometry(6, 2, 300, 50);
    sample->setFont(preview_font);
    sample->setFrameShape(QFrame::NoFrame);
    QString style;
    const QString back = osd_colour(item.backpara_color);
    const QString fore = osd_colour(item.font_color);
    if (!back.isEmpty())
        style += QStringLiteral("background-color:") + back + QStringLiteral(";");
    if (!fore.isEmpty())
        style += QStringLiteral("color:") + fore + QStringLiteral(";");
    sample->setStyleSheet(style);
}

// --- actions ------------------------------------------------------------------------------

void CustomMode::on_Button_use_clicked()
{
    const int s = g_mode_select;
    KelRamPara* p = KelRamPara::pInstance();
    if (!p->KelUserModeSaved(s) || !slot_as_shown())
        return;
    // The slot recalled is the one drawn: compared and copied under one hold of the lock.
    bool recalled = false;
    kel_scaler_edit([&] {
        if (!std::equal(shown_slot.begin(), shown_slot.end(), p->mode_slot[s]))
            return;
        p->set_mode_words_locked(s + 1, -1);
        std::memcpy(p->ram + P::kModeArea, p->mode_slot[s] + 2, P::kModeAreaLength);
        recalled = true;
    });
    if (!recalled)
        slot_as_shown();
    else
        preview();   // now the mode in use
}

void CustomMode::on_Button_delete_clicked()
{
    const int s = g_mode_select;
    KelRamPara* p = KelRamPara::pInstance();
    if (!p->KelUserModeSaved(s) || !slot_as_shown())
        return;
    // What the deletion left is read back into the slot: the check below looks at that.
    static_cast<void>(p->mode_file_deal(s, 1));
    // The current-mode number must not name a mode that no longer exists; the change is
    // applied (and so saved) like any other.
    if (!p->KelUserModeSaved(s) && p->KelGetCurrentModeIndex() == s + 1)
        kel_scaler_edit([&] { p->set_mode_words_locked(0, -1); });
    preview();
}

void CustomMode::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_mainwindow)
        g_mainwindow->language_changed();
    if (g_custommode == this)
        g_custommode = nullptr;
    g_page_focus = 1;
}

void CustomMode::go_home()
{
    g_mode_shortcut_key = 0;
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_custommode == this)
        g_custommode = nullptr;
    g_lockwindow = new LockWindow(nullptr);
    g_page_focus = 0;
    g_lockwindow->show();
}

// --- keys ---------------------------------------------------------------------------------

void CustomMode::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("CustomMode", event);
}

void CustomMode::keyReleaseEvent(QKeyEvent* event)
{
    // This is the user-mode screen itself: the mode key only reaches the keypad handler.
    screen_key_release(this, "CustomMode", event->key(), keyboard,
                       {[this](int step) { step < 0 ? key_left() : key_right(); }, [this] { key_ok(); },
                        [this] { key_back(); }});
}

void CustomMode::key_left()
{
    if (edit_state == 0) {
        mode_box->set_box_default();
        ui_select = ui_select == 0 ? 15 : ui_select - 1;
        mode_box->set_boxindexsel(char(ui_select));
        kel_button_mode_clicked();
    } else {
        kel_button_selinfo(1, char(button_select));
        if (button_select == 0)
            button_select = uint8_t(3 - button_hidden);
        --button_select;
        kel_button_selinfo(0, char(button_select));
    }
}

void CustomMode::key_right()
{
    if (edit_state == 0) {
        mode_box->set_box_default();
        ui_select = ui_select >= 15 ? 0 : ui_select + 1;
        mode_box->set_boxindexsel(char(ui_select));
        kel_button_mode_clicked();
    } else {
        kel_button_selinfo(1, char(button_select));
        if (++button_select >= 3 - button_hidden)
            button_select = 0;
        kel_button_selinfo(0, char(button_select));
    }
}

void CustomMode::key_ok()
{
    if (edit_state == 0) {
        if (get_mode_status() == 0)
            return;
        edit_state = 1;
        mode_box->set_box_modify();
        button_select = 0;
        kel_button_selinfo(0, 0);
    } else {
        edit_state = 0;
        mode_box->set_box_default();
        if (button_select == 0)
            on_Button_use_clicked();
        else if (button_select == 1)
            on_Button_delete_clicked();
        kel_button_selinfo(2, 0);
    }
}

void CustomMode::key_back()
{
    if (edit_state == 0) {
        if (g_mode_shortcut_key != 0)
            go_home();
        else
            slot_Button_back_clicked();
    } else {
        edit_state = 0;
        mode_box->set_box_default();
        kel_button_selinfo(2, 0);
        kel_button_mode_clicked();
    }
}
