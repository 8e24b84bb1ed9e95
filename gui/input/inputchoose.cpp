#include "gui/input/inputchoose.h"

#include "core/alias.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/input/sourcetabs.h"
#include "gui/textfit.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/screen_keys.h"
#include "gui/sourceinfo.h"
#include "gui/tip.h"
#include "ui_inputchoose.h"

#include <QDebug>
#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <array>
#include <cstring>

InputChoose* g_inputchoose = nullptr;

namespace {
using P = KelRamPara;

// The entries panel takes at most this many entries into account.
constexpr int kMaxSourceInfo = 100;

// Whether window w's layer is switched on: the first byte of its flags is 1, whatever the
// high byte holds (copied under the block's lock: PC links write it).
bool window_on(int w)
{
    uint8_t flags = 0;
    P::pInstance()->copy_bytes(P::kLayers + P::kLayerSize * w + P::kLayerFlags, &flags, 1);
    return flags == 1;
}

bool window_shown(int w)
{
    return w == 0 || window_on(w);
}

// An input's status bytes (width, height, rate), copied: the receivers publish them.
std::array<uint8_t, 6> input_status(int id)
{
    std::array<uint8_t, 6> s{};
    P::pInstance()->copy_bytes(P::kInputStatus + 6 * id, s.data(), int(s.size()));
    return s;
}

// The crop number (1-40) of crop record r, from the record's own id word.
int crop_number_of_record(int r)
{
    if (r < 0 || r >= P::kCropCount)
        return 0;
    return ((P::pInstance()->locked16(P::kCropRecords + P::kCropRecordSize * r) >> 8) & 0x7F) + 1;
}

// The entry (1 = first crop) under which the panel lists crop record r of port: the rank
// of the record's crop number among the port's crops. 0 when the record is not listed.
int entry_of_record(int port, int r)
{
    const int number = crop_number_of_record(r);
    for (int k = 1; number > 0 && k <= P::kCropCount; ++k) {
        const int id = P::pInstance()->KelGetCropID(port, k);
        if (id == 0)
            break;
        if (id == number)
            return k;
    }
    return 0;
}

const char* const kBoxStyle[4] = {"background-color: #867AE9;font: 9px", "background-color: #005A8D;font: 9px",
                                  "background-color: #39A9CB;font: 9px", "background-color: #EBA83A;font: 9px"};
} // namespace

InputChoose::InputChoose(QWidget* parent) : QDialog(parent), ui(new Ui::InputChoose)
{
    style_focus_active = QStringLiteral("border:2px solid rgb(255,171,84);");
    style_focus_open = QStringLiteral("border:2px solid rgb(71, 119, 255);");
    style_focus_hidden = QStringLiteral("border:0px solid rgb(255,171,84);");
    style_button = QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    style_button_focus = QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);");
    style_frame1_blue = QStringLiteral("border:1px solid;border-left-color:rgb(71, 119, 255);border-right-color:rgb(71, "
                                       "119, 255);border-top-color:rgb(71, 119, 255);");
    style_frame1_orange = QStringLiteral("border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,"
                                         "171,84);border-top-color:rgb(255,171,84);");
    style_panel_blue = QStringLiteral("#frame{border:1px solid rgb(71, 119, 255);}");
    style_panel_orange = QStringLiteral("#frame{border:1px solid rgb(255,171,84);}");
    ui->setupUi(this);
    ui->sourcelistseq4name->hide();
    ui->sourcelistseq4pixmap->hide();
    ui->sourcelistseq5name->hide();
    ui->sourcelistseq5pixmap->hide();
    menulist_init();
    KelRamPara::pInstance()->KelCropSourceInit();
    crop_source_num_update();
    initMenu();
    image_select();
    language_changed();
}

InputChoose::~InputChoose()
{
    delete ui;
    if (g_inputchoose == this)
        g_inputchoose = nullptr;
}

int InputChoose::row_position(int window) const
{
    int p = 0;
    for (int w = 0; w < window; ++w)
        p += window_shown(w) ? 1 : 0;
    return p;
}

void InputChoose::menulist_init()
{
    ui_select = 0;
    ui_seltype = 0;
    current_page = 0;
    source_id = 0;
    const int current = g_image_current;
    if (current < 4 && window_on(current)) {
        image_id = uint8_t(current);
        ui_select = uint8_t(row_position(current));
    } else {
        image_id = 0;
    }
    image_menu_select = ui_select;
}

// --- window row ---------------------------------------------------------------------------

void InputChoose::initMenu()
{
    delete image_frame;
    for (QLabel*& l : image_label)
        l = nullptr;
    image_frame = new QFrame(this);
    image_frame->setGeometry(0, 42, 320, 47);
    image_focus = new QFrame(image_frame);
    image_focus->setStyleSheet(style_focus_active);
    int p = 0;
    for (int w = 0; w < 4; ++w) {
        if (!window_shown(w))
            continue;
        image_list[p] = uint8_t(w);
        QLabel* box = new QLabel(QString::number(w + 1), image_frame);
        box->setGeometry(10 + 50 * p, 3, 45, 40);
        box->setStyleSheet(QString::fromLatin1(kBoxStyle[w]));
        // The number sits at the foot of the box, under the two lines of the source label.
        box->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        image_label[w] = new QLabel(box);
        image_label[w]->setGeometry(0, 1, 32, 24);
        image_label[w]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        QLabel* state = new QLabel(box);
        state->setGeometry(33, 1, 7, 7);
        state->setPixmap(QPixmap(kel_icon_plain(QStringLiteral("state_on"))));
        state->setScaledContents(true);
        TextCreate(char(w), 0);
        if (w == image_id)
            image_focus->setGeometry(7 + 50 * p, 0, 51, 46);
        ++p;
    }
    image_frame->show();
    image_num = uint8_t(p);
}

void InputChoose::TextCreate(char window, char)
{
    const int w = uint8_t(window);
    if (w > 3 || !image_label[w])
        return;
    int16_t isCrop = 0;
    char crop = 0;
    const int port = P::pInstance()->live_image_source(uint8_t(w), &isCrop, &crop);
    crop_name = sourceinfo::get_source_name_by_sourceid(uint8_t(port));
    QString text = crop_name;
    if (isCrop) {
        // The crop's number is its record's own; the suffix goes on a second line of the box.
        const int number = crop_number_of_record(uint8_t(crop));
        crop_name += QStringLiteral("_Crop%1").arg(number);
        text += QStringLiteral("\n_Crop%1").arg(number);
    }
    QLabel* label = image_label[w];
    kel_fit_text_px(label, text, 9);
    // The box's style sheet sets its font for everything inside; the label's own wins.
    label->setStyleSheet(QStringLiteral("font: %1px;").arg(label->font().pixelSize()));
    label->setProperty("source", crop_name);
}

void InputChoose::input_source_changed(char window)
{
    TextCreate(window, 0);
}

void InputChoose::imagemenu()
{
    if (!image_frame || ui_seltype == 2)
        return;
    if (ui_seltype == 0 && ui_select <= 3) {
        image_id = image_list[ui_select];
        if (g_image_current != image_id) {
            g_image_current = image_id;
            KelRamPara::pInstance()->test_signal(1);
        }
        image_menu_select = ui_select;
        ui->button_inputcut->setStyleSheet(style_button);
        ui->button_EDID->setStyleSheet(style_button);
        image_focus->setStyleSheet(style_focus_active);
        image_focus->setGeometry(7 + 50 * ui_select, 0, 51, 46);
    } else if (ui_seltype == 0) {
        image_focus->setStyleSheet(style_focus_hidden);
        ui->button_inputcut->setStyleSheet(ui_select == 4 ? style_button_focus : style_button);
        ui->button_EDID->setStyleSheet(ui_select == 5 ? style_button_focus : style_button);
    } else if (ui_seltype == 1) {
        image_focus->setStyleSheet(style_focus_open);
        image_focus->setGeometry(7 + 50 * ui_select, 0, 51, 46);
    }
}

void InputChoose::image_select()
{
    current_page = 0;
    int16_t isCrop = 0;
    char crop = 0;
    const int port = P::pInstance()->live_image_source(image_id, &isCrop, &crop);
    if (ui_seltype == 0) {
        source_listseq = sourceinfo::get_listseq_by_source_id(uint8_t(port));
        source_name = sourceinfo::get_source_name_by_sourceid(uint8_t(port));
        source_id = uint8_t(port);
    } else if (ui_seltype == 1) {
        source_listseq = ui_select;
    }
    on_Button_source_clicked();
}

void InputChoose::on_Button_source_clicked()
{
    initSource();
    ui->frame1->setGeometry(1 + 53 * source_listseq, 95, 53, 33);
    ui->frame1->setStyleSheet(ui_seltype == 1 ? style_frame1_orange : style_frame1_blue);
}

// --- entries panel ------------------------------------------------------------------------

int InputChoose::source_current_check()
{
    const int entries = KelRamPara::pInstance()->KelGetSourceNum(source_number, P::kCropCount) + 1;
    max_page = uint8_t((entries + 2) / 3 - 1);
    return entries;
}

int InputChoose::entries_on_page(int entries) const
{
    const int left = entries - 3 * current_page;
    return left <= 0 ? 0 : std::min(left, 3);
}

void InputChoose::initSource()
{
    KelRamPara* p = KelRamPara::pInstance();
    int inUse;
    if (ui_seltype == 0) {
        int16_t isCrop = 0;
        char crop = 0;
        const int port = p->live_image_source(image_id, &isCrop, &crop);
        source_number = uint8_t(port);
        source_type = isCrop;
        if (isCrop)
            crop_id = uint8_t(crop);
        inUse = port;
    } else {
        source_number = sourceinfo::get_source_id_by_listseq(source_listseq);
        source_name = sourceinfo::get_source_name_by_sourceid(source_number);
        inUse = source_id;
    }
    if (ui_seltype == 0)
        source_name = sourceinfo::get_source_name_by_sourceid(source_number);
    const int entries = std::min(source_current_check(), kMaxSourceInfo);
    const int onPage = entries_on_page(entries);
    const int selected = source_type == 0 ? 1 : entry_of_record(source_number, crop_id) + 1;
    KEL_TRACE("initSource [source_type = %d] , [crop_id = %d] [select_sorce = %d],[current_page=%d],[source_id=%d],"
              "[source_number=%d],[ui_select=%d]\n",
              source_type, crop_id, selected, current_page, inUse, source_number, ui_select);

    delete frame;
    frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("frame"));
    frame->setGeometry(1, 127, 318, 70);
    frame->setStyleSheet(ui_seltype == 1 ? style_panel_orange : style_panel_blue);
    frame->lower();
    QFont font;
    font.setPixelSize(10);
    const QString white = QStringLiteral("color: rgb(255, 255, 255)");
    for (int& n : entry_crop)
        n = 0;
    for (int i = 0; i < onPage; ++i) {
        const int j = 3 * current_page + i;
        QFrame* entry = new QFrame(frame);
        entry->setObjectName(QStringLiteral("source_frame"));
        entry->setGeometry(14 + 95 * i, 10, 92, 50);
        QLabel* state = new QLabel(entry);
        state->setGeometry(3, 5, 7, 7);
        state->setScaledContents(true);
        QLabel* icon = new QLabel(entry);
        icon->setGeometry(12, 5, 25, 8);
        icon->setScaledContents(true);
        sourceinfo::set_source_pixmap(icon, source_number);
        QLabel* name = new QLabel(entry);
        name->setObjectName(QStringLiteral("entry_name"));
        name->setGeometry(3, 15, 80, 12);
        name->setStyleSheet(white);
        name->setFont(font);
        QLabel* format = new QLabel(entry);
        format->setObjectName(QStringLiteral("entry_format"));
        format->setGeometry(3, 30, 88, 12);
        format->setStyleSheet(white);
        format->setFont(font);

        if (j == 0) {
            kel_fit_text_px(name, kel_source_alias_name(source_number, font, name->width()), 10);
            const std::array<uint8_t, 6> copy = input_status(source_number);
            const uint8_t* status = copy.data();
            const int16_t w = int16_t(P::get16(status)), h = int16_t(P::get16(status + 2)),
                          hz = int16_t(P::get16(status + 4));
            const QString text = (w && h && hz) ? QStringLiteral("%1x%2@%3Hz").arg(w).arg(h).arg(hz)
                                                : kel_text("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號");
            kel_fit_text_px(format, text, 10);
        } else {
            CROP_PARA crop{0, 0, 0, 0, 0};
            int r = P::kCropCount;
            p->KelGetCropPara(source_number, j, &crop, &r);
            // A crop the records no longer hold shows nothing.
            if (r < P::kCropCount) {
                entry_crop[i] = ((crop.id >> 8) & 0x7F) + 1;
                ALIAS_PARA alias{0, std::string(), std::string()};
                QString text;
                if (get_json_alias_para(&alias, "crop", r))
                    text = QFontMetrics(font).elidedText(QString::fromStdString(alias.name), Qt::ElideRight,
                                                         name->width(), Qt::TextShowMnemonic);
                else
                    text = source_name + QStringLiteral("_crop%1").arg(((crop.id >> 8) & 0x7F) + 1);
                kel_fit_text_px(name, text, 10);
                format->setText(QStringLiteral("%1x%2").arg(crop.width).arg(crop.height));
            }
        }
        const bool cursor = ui_seltype == 2 && ui_select == i;
        const bool used = j == selected - 1 && source_number == inUse;
        entry->setStyleSheet(cursor ? QStringLiteral("#source_frame{border:1px solid #FFAB54;border-radius:5px;}")
                             : used ? QStringLiteral("#source_frame{border:1px solid #00D65B;border-radius:5px;}")
                                    : QStringLiteral("#source_frame{border:1px solid #CCCCCC;border-radius:5px;}"));
        state->setPixmap(QPixmap(kel_icon_plain(used ? QStringLiteral("state_on") : QStringLiteral("state_off"))));
        if (used) {
            QLabel* badge = new QLabel(entry);
            badge->setObjectName(QStringLiteral("badge"));
            badge->setAlignment(Qt::AlignCenter);
            badge->setStyleSheet(QStringLiteral("background-color: #00D65B;color: rgb(255, 255, 255);border-radius:5px;"));
            const QString text = kel_text("使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD");
            // The badge grows leftwards with a longer word, up to the state icon: a word
            // wider than the room beside the source icon ("Использовать") covers that icon,
            // whose input the entry's name also gives. Its text is the panel's smallest
            // legible size.
            QFont badgeFont;
            badgeFont.setPixelSize(8);
            const int width = std::min(78, std::max(30, QFontMetrics(badgeFont).horizontalAdvance(text) + 4));
            badge->setGeometry(90 - width, 0, width, 12);
            badge->setFont(badgeFont);
            kel_fit_text_px(badge, text, 8);
        }
    }
    frame->show();
}

unsigned char InputChoose::get_source_num(unsigned char id)
{
    return id < 4 ? source_num[id] : 0;
}

void InputChoose::crop_source_num_update()
{
    for (int id = 0; id < 4; ++id)
        source_num[id] = uint8_t(KelRamPara::pInstance()->KelGetSourceNum(id, P::kCropCount) + 1);
    source_name_update();
    source_check_update();
}

void InputChoose::source_name_update()
{
    QLabel* const labels[4] = {ui->sourcelistseq0name, ui->sourcelistseq1name, ui->sourcelistseq2name,
                               ui->sourcelistseq3name};
    kel_source_tabs_counts(labels, source_num);
}

void InputChoose::source_check_update()
{
    QLabel* const icons[4] = {ui->sourcelistseq0pixmap, ui->sourcelistseq1pixmap, ui->sourcelistseq2pixmap,
                              ui->sourcelistseq3pixmap};
    for (int k = 0; k < 4; ++k) {
        const uint8_t id = sourceinfo::get_source_id_by_listseq(uint8_t(k));
        const std::array<uint8_t, 6> copy = input_status(id);
        const uint8_t* status = copy.data();
        const bool online = P::get16(status) && P::get16(status + 2) && P::get16(status + 4);
        sourceinfo::set_sourceonline_pixmap(icons[k], id, online ? 1 : 0);
        icons[k]->setScaledContents(true);
        icons[k]->setProperty("online", online);
    }
}

void InputChoose::para_source_index_init()
{
    current_page = 0;
    ui_select = source_listseq;
}

void InputChoose::para_uiselect_init()
{
    int16_t isCrop = 0;
    char crop = 0;
    const int port = P::pInstance()->live_image_source(image_id, &isCrop, &crop);
    ui_select = 0;
    if (port == source_number && isCrop) {
        const int k = entry_of_record(port, uint8_t(crop));
        if (k == 1 || k == 2)
            ui_select = uint8_t(k);
    }
}

void InputChoose::kel_source_button_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    const int k = ui_select + 3 * current_page;
    if (k == 0) {
        source_type = 0;
        crop_id = 0;
    } else {
        CROP_PARA crop{0, 0, 0, 0, 0};
        int r = P::kCropCount;
        p->KelGetCropPara(source_number, k, &crop, &r);
        // An entry whose crop the records no longer hold, or that now holds another crop
        // than the one drawn there, switches nothing: the panel is drawn again instead.
        if (r >= P::kCropCount || ui_select >= 3 || ((crop.id >> 8) & 0x7F) + 1 != entry_crop[ui_select]) {
            initSource();
            return;
        }
        source_type = 1;
        crop_id = uint8_t(r);
    }
    p->KelSetImageSource(k, char(source_number), char(image_id));
    source_id = source_number;
    initSource();
    if (g_tip)
        g_tip->tip_create(1);
}

// --- opening and closing ------------------------------------------------------------------

int InputChoose::kel_button_inputcut_clicked()
{
#ifdef KEL_HAVE_INPUTCUT
    g_inputcut = new InputCut(nullptr);
    g_page_focus = 7;
    return g_inputcut->exec();
#else
    kel_screen_not_built("InputChoose", "InputCut");
    return 0;
#endif
}

int InputChoose::kel_button_EDID_clicked()
{
#ifdef KEL_HAVE_EDIDSET
    g_edidset = new EDIDset(nullptr);
    g_page_focus = 8;
    return g_edidset->exec();
#else
    kel_screen_not_built("InputChoose", "EDIDset");
    return 0;
#endif
}

void InputChoose::language_changed()
{
    kel_fit_text(ui->label_title,
                 kel_text("信源切换", "Source switch", "Переключение источника", "Chuyển đổi nguồn", "信源切換"), 12);
    kel_fit_text(ui->button_inputcut,
                 kel_text("输入截取", "Input intercept", "Источник", "Chặn nguồn vào", "輸入截取"), 8);
    kel_fit_text(ui->button_EDID, kel_text("设置EDID", "EDID Settings", "Настройка EDID", "Cài đặt EDID", "設置EDID"), 8);
    initSource();   // the entries say "No signal" and "Using" in the language too, also beneath another screen
}

void InputChoose::syncUpdate(int code)
{
    KelRamPara* p = KelRamPara::pInstance();
    if (p->KelLanguageChanged())
        language_changed();
    drawn_.take_live();
    auto differs = [this](int offset, int length) { return drawn_.changed(offset, length); };
    // A window box names its crop by the record's own number: a crop deleted and another
    // added in its record renames the box without touching the window's source word.
    const bool cropsChanged = code == 103 || differs(P::kCropRecords, P::kCropCount * P::kCropRecordSize);
    bool layoutChanged = false;
    for (int w = 0; w < 4; ++w) {
        const int rec = P::kLayers + P::kLayerSize * w;
        if (differs(rec + P::kLayerFlags, 2))
            layoutChanged = true;
        if ((cropsChanged || differs(rec + P::kLayerSource, 2)) && image_label[w])
            input_source_changed(char(w));
    }
    const bool sourceChanged = cropsChanged || differs(P::kLayers + P::kLayerSize * image_id + P::kLayerSource, 2);
    const bool formatChanged = !sourceChanged && differs(P::kInputStatus + 6 * source_number, 6);
    if (cropsChanged)
        p->KelCropSourceInit();

    if (layoutChanged) {
        // The chosen window stays chosen while it is on; only when it is gone does the row
        // fall back to window 1, and an open choice for it closes, so that no switch meant
        // for it lands on another window.
        if (!window_shown(image_id)) {
            image_id = 0;
            if (ui_seltype != 0) {
                ui_seltype = 0;
                ui_select = 0;
            }
        }
        initMenu();
        const int position = row_position(image_id);
        if (image_menu_select < 4)
            image_menu_select = uint8_t(position);
        if (ui_seltype == 0) {
            if (ui_select < 4)
                ui_select = uint8_t(position);
            imagemenu();
            image_select();
        } else {
            image_focus->setStyleSheet(style_focus_open);
            image_focus->setGeometry(7 + 50 * position, 0, 51, 46);
            if (ui_seltype == 1)
                image_select();
            else
                initSource();
        }
    } else if (ui_seltype == 0) {
        // The current window, chosen elsewhere (the layout screen), is followed while it is on.
        if (image_id != g_image_current && g_image_current < 4 && window_shown(g_image_current)) {
            image_id = g_image_current;
            for (int pos = 0; pos < image_num; ++pos)
                if (image_list[pos] == image_id)
                    ui_select = uint8_t(pos);
            image_menu_select = ui_select;
            image_focus->setStyleSheet(style_focus_active);
            image_focus->setGeometry(7 + 50 * ui_select, 0, 51, 46);
            image_select();
        } else if (sourceChanged) {
            image_select();
        } else if (formatChanged) {
            initSource();
        }
    } else if (sourceChanged) {
        // The chosen window now shows something else: the highlight and the panel follow,
        // the window stays the one under the focus box.
        if (ui_seltype == 1)
            image_select();
        else
            initSource();
    } else if (formatChanged) {
        initSource();
    }
    if (cropsChanged || differs(P::kInputStatus, 6 * 4))
        crop_source_num_update();
    drawn_.drawn();
}

void InputChoose::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_inputchoose == this)
        g_inputchoose = nullptr;
#ifdef KEL_HAVE_IMAGELAYOUT
    if (g_imagelayout) {
        g_imagelayout->language_changed();
        g_imagelayout->image_para_update();
        g_imagelayout->image_init();
        g_page_focus = 9;
        return;
    }
#endif
    if (g_mainwindow)
        g_mainwindow->language_changed();
    g_page_focus = 1;
}

// --- keys ---------------------------------------------------------------------------------

void InputChoose::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("InputChoose", event);
}

void InputChoose::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "InputChoose", event->key(), keyboard,
                       {[this](int step) { step < 0 ? key_left() : key_right(); }, [this] { key_ok(); },
                        [this] { key_back(); },
                        [this] {
                            if (g_inputchoose == this)
                                g_inputchoose = nullptr;
                        }});
}

void InputChoose::key_left()
{
    if (ui_seltype == 0) {
        ui_select = ui_select == 0 ? 5 : ui_select == 4 ? uint8_t(image_num - 1) : uint8_t(ui_select - 1);
        imagemenu();
        image_select();
    } else if (ui_seltype == 1) {
        ui_select = ui_select == 0 ? 3 : ui_select - 1;
        image_select();
    } else {
        const int entries = std::min(source_current_check(), kMaxSourceInfo);
        KEL_TRACE("[max_source_info = %#x], [ui_select = %#x], [current_page=%#x]\n", entries, ui_select,
                  current_page);
        if (ui_select == 0) {
            if (current_page == 0) {
                current_page = max_page;
                ui_select = uint8_t(entries - 3 * max_page);
            } else {
                --current_page;
                ui_select = 3;
            }
        }
        --ui_select;
        initSource();
    }
}

void InputChoose::key_right()
{
    if (ui_seltype == 0) {
        ++ui_select;
        if (ui_select == image_num)
            ui_select = 4;
        else if (ui_select >= 6)
            ui_select = 0;
        imagemenu();
        image_select();
    } else if (ui_seltype == 1) {
        ui_select = ui_select >= 3 ? 0 : ui_select + 1;
        image_select();
    } else {
        const int entries = std::min(source_current_check(), kMaxSourceInfo);
        ++ui_select;
        if (3 * current_page + ui_select >= entries) {
            current_page = 0;
            ui_select = 0;
        } else if (ui_select > 2) {
            ui_select = 0;
            current_page = current_page + 1 > max_page ? 0 : current_page + 1;
        }
        qDebug("this is right-code [InputChoose][Release] ui_select=%#x ,current_page=%#x,max_source_info=%#x",
               ui_select, current_page, entries);
        initSource();
    }
}

void InputChoose::key_ok()
{
    if (ui_seltype == 0) {
        if (ui_select < image_num) {
            ui_seltype = 1;
            imagemenu();
            para_source_index_init();
            on_Button_source_clicked();
        } else if (ui_select == 4) {
            kel_button_inputcut_clicked();
        } else if (ui_select == 5) {
            kel_button_EDID_clicked();
        }
    } else if (ui_seltype == 1) {
        ui_seltype = 2;
        para_uiselect_init();
        on_Button_source_clicked();
    } else {
        kel_source_button_clicked();
        TextCreate(char(image_id), 0);
        // What the switch changed is drawn; the drawn copy takes it in, so that a PC setting
        // the old source back is drawn too.
        syncUpdate(0);
    }
}

void InputChoose::key_back()
{
    if (ui_seltype == 0) {
        slot_Button_back_clicked();
    } else if (ui_seltype == 1) {
        ui_seltype = 0;
        ui_select = image_menu_select;
        imagemenu();
        image_select();
    } else {
        ui_seltype = 1;
        para_source_index_init();
        on_Button_source_clicked();
    }
}
