// The panel shows what the device holds and writes only what the operator chose: random
// interleavings of PC changes (windows, crops, user modes, slots changed unannounced, the
// sound, EDID timings, the language, the LED size or its height alone, the key lock, alias
// names, the address and a network reset, a card package stored or deleted) and of inputs
// losing or finding their signal or changing format, some PC changes still awaiting their
// apply, with panel keys on the home, main-menu (its mode key too, locked or not; the dark
// and sound tools), input, crop, EDID, layout, output, user-mode, LED size (sides typed up to
// and past their limits) and factory-reset screens and the keypad's letter keys, a third of
// them ending in a write;
// the network screen follows the PC only; the advanced menu
// opens its screens (the ageing log after its access code alone), a PC changing the language or
// the card packages meanwhile, and is found re-texted and re-read on coming back.
// Every value a screen in front shows is read back against the parameter RAM and files
// after every step; every key's write is checked against the object the operator had
// chosen; a user mode is saved from the block as applied; a factory reset re-texts the
// screens and starts the LED-size hand-shake when the size changed.
#include "core/config_engine.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "gui/led/ledset.h"
#include "gui/settings/advancedoption.h"
#include "gui/settings/factory.h"
#include "gui/settings/factoryage.h"
#include "gui/settings/linkwlan.h"
#include "protocol/message_deal.h"
#include "tests/protocol/file_frames.h"
#include "gui/input/custommode.h"
#include "gui/input/edidset.h"
#include "gui/input/imagelayout.h"
#include "gui/input/inputchoose.h"
#include "gui/input/inputcut.h"
#include "gui/kel_keys.h"
#include "gui/lockwindow.h"
#include "gui/mainwindow.h"
#include "gui/outputset.h"
#include "gui/syncupdate.h"
#include "gui/tip.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/PropertyCheck.h"
#include "tests/support/Screens.h"
#include "gui/kelcontrol.h"
#include "ui_custommode.h"
#include "ui_edidset.h"
#include "ui_imagelayout.h"
#include "ui_inputchoose.h"
#include "ui_inputcut.h"
#include "ui_ledset.h"
#include "ui_lockwindow.h"
#include "ui_mainwindow.h"
#include "ui_outputset.h"

#include <QApplication>
#include <QComboBox>
#include <QRegularExpression>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <numeric>
#include <array>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace input_test;
using kel_test::PanelKey;

namespace {

const char* const kName[4] = {"DVI", "HDMI1", "HDMI2", "HDMI3"};   // by port
const int kTabPort[4] = {1, 2, 3, 0};                                 // the tabs' order
// Texts of each language (0 simplified Chinese, 1 English, 2 Russian, 3 Vietnamese, 4
// traditional Chinese), as the device's text tables give them.
const char* const kNoSignal[5] = {"无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號"};
const char* const kModeItem[5] = {"用户模式", "MODE ", "Слот ", "Chế độ ", "用戶模式"};
const char* const kNamePrefix[5] = {"名称:", "Name:", "Название:", "Tên:", "名稱:"};
const char* const kP2POff[5] = {"点对点关闭", "OFF", "Откл", "Đóng", "點對點關閉"};
const char* const kAlias[4] = {"Hall", "Stage B", "Zal", "Night"};
const char* const kAgeingEntry[5] = {"老化测试", "Ageingtest", "Тестстарения", "Kiểm tralão hóa", "老化測試"};
const char* const kClose[5] = {"未开启", "Close", "Откл", "Đóng", "未開啟"};
const char* const kBlack[5] = {"黑屏", "Black", "Черный", "Màn đen", "黑屏"};
const char* const kIconPrefix[5] = {"", "en_", "ru_", "vn_", "tn_"};
const char* const kFactoryTitle[5] = {"恢复出厂设置", "Factory reset", "Заводские настройки", "Khôi phục cài đặt gốc", "恢復出廠設置"};
using Block = std::array<uint8_t, P::kRamSize>;
// What the case met, step by step; the run's total is printed at its end. Panel writes and
// steps by the screen in front.
std::map<std::string, int> g_seen, g_total;
std::map<int, std::array<int, 2>> g_writes;
Block g_drawn;          // the block as the screens last drew it (at a notification or a key)
Block g_applied;        // the block as the scaler last applied it
std::array<int, 3> g_led_set{};   // the LED width, height and panel mode the outputs were set up for
std::vector<std::vector<uint8_t>> g_shown_slots;   // the user-mode slots as the screens last drew them
std::vector<int> g_signals;   // notifications sent and not yet handled
int g_pending = 0;      // the code of a PC write that awaits its apply, 0 none
int g_meanwhile = -1;   // a named case's PC step while an advanced-menu screen is open, -1 drawn
bool g_applyNow = false;   // a named case's PC writes are applied at once
std::array<int, 2> g_ledDrawn{};   // the LED size the LED size screen last drew
QStringList g_ledFields;           // what its two fields show
bool g_alias = false;   // whether the PC sent the alias file naming modes 1-4
const kel_test::TestRoot* g_root = nullptr;
// Every choice is one draw of one generator (32 random bits) read as the choice needs it, ranges scaled by the case's size
// as RapidCheck's: a replay while shrinking, whose screens ask other choices, reads each kept draw as a valid one of its own.
int g_size = 0;
uint64_t raw() { return uint64_t(*rc::gen::resize(100, rc::gen::inRange<int64_t>(0, int64_t(1) << 32))); }
int in_range(int low, int high) { return low + int((raw() * (rc::gen::detail::scaleInteger(uint64_t(high - low - 1), g_size) + 1)) >> 32); }
template <typename T> T one_of(std::initializer_list<T> items) { return items.begin()[(raw() * items.size()) >> 32]; }
int weighted(std::initializer_list<int> w)   // the index drawn
{
    int64_t at = int64_t((raw() * uint64_t(std::accumulate(w.begin(), w.end(), 0))) >> 32), k = 0;
    while (at >= w.begin()[k])
        at -= w.begin()[k++];
    return int(k);
}

int r16(int at, const uint8_t* ram = nullptr) { return P::get16((ram ? ram : para()->ram) + at); }
int crop_at(int r) { return P::kCropRecords + P::kCropRecordSize * r; }
bool shown(int w) { return w == 0 || para()->ram[layer(w)] == 1; }
int language() { return para()->ram[P::kLanguage]; }
QString text(const char* const (&table)[5]) { return QString::fromUtf8(table[language()]); }

struct Crop { int record, number; std::array<int, 4> rect; };

// The port's crops in the order of their numbers, as the lists show them.
std::vector<Crop> crops_of(int port, const uint8_t* ram = nullptr)
{
    std::vector<Crop> out;
    for (int n = 1; n <= P::kCropCount; ++n)
        for (int r = 0; r < P::kCropCount; ++r)
            if (r16(crop_at(r), ram) == (0x8000 | ((n - 1) << 8) | port))
                out.push_back({r, n, {r16(crop_at(r) + 2, ram), r16(crop_at(r) + 4, ram), r16(crop_at(r) + 6, ram), r16(crop_at(r) + 8, ram)}});
    return out;
}

QString source_name(int w)
{
    const int src = r16(layer(w) + P::kLayerSource);
    if (!(src & 0x8000))
        return kName[src & 3];
    const int id = r16(crop_at(src & 0xFF));
    return QStringLiteral("%1_Crop%2").arg(kName[id & 3]).arg(((id >> 8) & 0x7F) + 1);
}

bool slot_saved(int s) { return para()->mode_slot[s][0] == 0xAA && para()->mode_slot[s][1] == 0xAA; }

QString format_of(int port)
{
    const int at = P::kInputStatus + 6 * port;
    return r16(at) && r16(at + 2) && r16(at + 4) ? QStringLiteral("%1x%2@%3Hz").arg(r16(at)).arg(r16(at + 2)).arg(r16(at + 4))
                                                 : text(kNoSignal);
}

// A shown text against the one meant: the same but for line breaks, or cut short with "...".
bool shows(QString got, QString want)
{
    got.remove(QChar('\n')), got.remove(QChar(0xAD)), want.remove(QChar(0xAD));
    for (const QString& cut : {QStringLiteral("..."), QString(QChar(0x2026))})
        if (got.endsWith(cut) && want.startsWith(got.chopped(cut.size())))
            return true;
    return got == want;
}

// The tabs' crop counts; the input and crop screens share the tab names.
template <typename Screen>
bool counts_shown(const Screen* c)
{
    const QLabel* const tabs[4] = {c->ui->sourcelistseq0name, c->ui->sourcelistseq1name, c->ui->sourcelistseq2name, c->ui->sourcelistseq3name};
    bool all = true;
    for (int k = 0; k < 4; ++k)
        all = all && tabs[k]->text().contains(QStringLiteral(">%1<").arg(1 + crops_of(kTabPort[k]).size()));
    return all;
}

// Whether the audio window's sound is on (an audio window past the last counts as window 0).
bool sound_on()
{
    const int aw = para()->ram[P::kAudioWindow] > 5 ? 0 : para()->ram[P::kAudioWindow];
    return para()->ram[layer(aw) + P::kLayerSound] & 0x80;
}

QString address()
{
    return ConfigEngine::pInstance()->read_config_variant(ConfigItem::IPAddress).toString();
}

bool tool_bar() { return g_mainwindow->form()->widget->isVisible(); }

std::array<int, 3> led_size(const uint8_t* ram) { return {r16(P::kLedWidth, ram), r16(P::kLedHeight, ram), r16(P::kPanelMode, ram)}; }

std::vector<std::vector<uint8_t>> mode_slots()
{
    std::vector<std::vector<uint8_t>> out;
    for (int s = 0; s < P::kModeSlots; ++s)
        out.emplace_back(para()->mode_slot[s], para()->mode_slot[s] + P::kModeSlotSize);
    return out;
}

Block ram_now() { Block b; std::memcpy(b.data(), para()->ram, b.size()); return b; }

bool package_stored() { return !std::filesystem::is_empty(g_root->host("/data/rcvrecovery")); }

// The level of the screen in front: in a list, in a panel.
int level()
{
    const int page = g_page_focus;
    return page == 7 ? g_inputcut->ui_seltype : page == 3 ? g_inputchoose->ui_seltype : page == 8 ? g_edidset->ui_seltype
         : page == 4 ? g_custommode->edit_state : page == 1 ? tool_bar() + (g_mainwindow->l_call_state || g_mainwindow->l_save_state) : 0;
}

// What the operator chose and whether it is still there, followed through the PC's changes.
struct Model {
    bool held = false, lost = false;   // the crop panel's crop
    int heldPort = 0;
    Crop crop{};
    int window = -1;                   // the input screen's window, -1 when gone
    bool edid = false, edidLost = false;   // the EDID edit, and whether a PC changed its timing
    std::array<int, 3> edidOpened{};
    QString rate, rateBefore;          // the rate the edit shows, and before its choice opened
    bool sixty = false, sixtyBefore = false, edited = false;
    // What the screens learn with a notification (a PC's write awaiting its apply is seen by
    // a key that reads the block, which hands the block as it found it).
    void pc_changed(const uint8_t* ram)
    {
        if (held && !lost) {
            lost = true;
            for (const Crop& c : crops_of(heldPort, ram))
                lost = lost && !(c.number == crop.number && c.rect == crop.rect);
        }
        if (window >= 0 && !shown(window))
            window = -1;
        if (edid && g_edidset)
            for (int f = 0; f < 3; ++f)
                edidLost = edidLost || r16(P::kEdid + 6 * g_edidset->source_id + 2 * f, ram) != edidOpened[size_t(f)];
    }
};

QWidget* front()   // by page number
{
    QWidget* const screens[23] = {g_lockwindow, g_mainwindow, nullptr, g_inputchoose, g_custommode, nullptr, g_outputset, g_inputcut,
                                  g_edidset, g_imagelayout, nullptr, nullptr, g_advancedoption, g_ledset, nullptr, nullptr, nullptr, nullptr,
                                  g_factory, nullptr, nullptr, nullptr, g_linkwlan};
    return g_page_focus < 23 ? screens[g_page_focus] : nullptr;
}

// Each value the screen in front shows against the RAM and the files.
void check_front(const Model& m)
{
    const uint8_t* ram = para()->ram;
    for (int p = 0; p < 4; ++p) {   // two crops of an input never share a number
        std::vector<int> numbers;
        for (int r = 0; r < P::kCropCount; ++r)
            if ((r16(crop_at(r)) & 0x80FF) == (0x8000 | p))
                numbers.push_back((r16(crop_at(r)) >> 8) & 0x7F);
        std::sort(numbers.begin(), numbers.end());
        RC_ASSERT(std::adjacent_find(numbers.begin(), numbers.end()) == numbers.end());
    }
    if (g_page_focus == 0 && g_lockwindow) {
        LockWindow* l = g_lockwindow;
        const int dark = r16(P::kScreenDark);
        ++g_seen[dark == 1 ? "home screen read, LED screen dark" : dark == 2 ? "home screen read, all frozen" : "home screen read"];
        RC_ASSERT(l->ui->label_bright->text() == QString::number(r16(P::kBrightness)));
        RC_ASSERT(l->ui->label_volume_icon->property("iconPath").toString() == (sound_on() ? ":/png/volume_open.png" : ":/png/volume_close.png"));
        RC_ASSERT(l->ui->label_IPaddr->text() == address());
        RC_ASSERT(l->ui->label_input->text().endsWith(QStringLiteral("%1 x %2").arg(r16(P::kLedWidth)).arg(r16(P::kLedWidth + 2))));
        for (int w = 0; w < 4; ++w) {   // a window switched off names no source
            RC_ASSERT(l->image_name[w]->text() == (shown(w) ? source_name(w) : QString()));
            RC_ASSERT((shown(w) || shows(l->image_state[w]->text(), text(kClose))));   // dark or not
            // A shown window's line: its input's format (a crop's own size) or no signal.
            const int src = r16(layer(w) + P::kLayerSource), port = src & 0x8000 ? r16(crop_at(src & 0xFF)) & 0xFF : src;
            const int at = P::kInputStatus + 6 * port, rate = port <= 3 ? r16(at + 4) : 0;
            const int width = src & 0x8000 ? r16(crop_at(src & 0xFF) + 6) : r16(at), height = src & 0x8000 ? r16(crop_at(src & 0xFF) + 8) : r16(at + 2);
            const QString state = dark == 1 || (r16(layer(w) + P::kLayerOutput) & 1) ? text(kBlack)
                                : rate && width && height ? QStringLiteral("%1x%2@%3Hz").arg(width).arg(height).arg(rate) : text(kNoSignal);
            RC_ASSERT((!shown(w) || (src & 0x8000 && (src & 0xFF) >= P::kCropCount) || shows(l->image_state[w]->text(), state)));
            // The freeze mark: the window's own freeze bit, or the LED screen state 2 on every shown window.
            RC_ASSERT((l->image_freeze[w] != nullptr) == (shown(w) && ((r16(layer(w) + P::kLayerOutput) & 2) || dark == 2)));
        }
    } else if (g_page_focus == 1) {
        MainWindow* mw = g_mainwindow;
        const auto icon = [&](const char* name) { return mw->findChild<QPushButton*>(name)->property("iconPath").toString(); };
        RC_ASSERT(icon("toolButton2") == kel_icon(sound_on() ? "unslience" : "slience"));
        RC_ASSERT(icon("toolButton1") == kel_icon(r16(P::kScreenDark) == 1 ? "closeled" : "uncloseled"));
        RC_ASSERT(icon("Button_lock") == kel_icon_plain(r16(P::kKeyLock) ? "lock" : "unlock"));
        RC_ASSERT(mw->form()->label_IPaddr->text() == address());
        for (const char* tool : {"toolButton3", "toolButton4"})   // drawn in the language (a PC's change under a child too)
            RC_ASSERT(QRegularExpression(QStringLiteral("^:/png/%1[a-z]+\\.png$").arg(text(kIconPrefix))).match(icon(tool)).hasMatch());
        if (mw->mode_bar() && mw->mode_bar()->isVisible())
            for (int k = 0; k < 16; ++k) {   // each slot saved or empty, the current one "in use"
                const QImage want = QPixmap(kel_icon_plain(slot_saved(k) ? "mode_exist" : "mode_blank")).toImage();
                int labels = 0;
                bool drawn = false;
                for (QLabel* l : g_mode[k]->findChildren<QLabel*>()) {
                    labels += !l->text().isEmpty();
                    drawn = drawn || l->pixmap(Qt::ReturnByValue).toImage() == want;
                }
                RC_ASSERT(drawn);
                RC_ASSERT(labels == (r16(P::kCurrentMode) == k + 1));
            }
    } else if (g_page_focus == 6 && g_outputset) {
        RC_ASSERT(g_outputset->ui->label_info->text().endsWith(QStringLiteral("%1x%2").arg(r16(P::kLedWidth)).arg(r16(P::kLedWidth + 2))));
    } else if (g_page_focus == 3 && g_inputchoose) {
        InputChoose* c = g_inputchoose;
        int n = 0;
        for (int w = 0; w < 4; ++w) {
            n += shown(w);
            RC_ASSERT((!shown(w) || (c->image_label[w] && c->image_label[w]->property("source").toString() == source_name(w))));
        }
        RC_ASSERT(c->image_num == n);
        RC_ASSERT(shown(c->image_id));
        RC_ASSERT(counts_shown(c));
        // An open choice is for the window chosen, and closes when a PC switches that off.
        RC_ASSERT((c->ui_seltype == 0 || (m.window >= 0 && c->image_id == m.window)));
        // With the window row in front, the panel is the chosen window's: its input's tab, and
        // "Using" on the entry of its source when that entry is on the page shown.
        if (c->ui_seltype == 0) {
            const int src = r16(layer(c->image_id) + P::kLayerSource), input = src & 0x8000 ? r16(crop_at(src & 0xFF)) & 0xFF : src;
            const std::vector<Crop> crops = crops_of(input);
            int entry = 0;
            for (size_t k = 0; k < crops.size(); ++k)
                entry = (src & 0x8000) && crops[k].record == (src & 0xFF) ? int(k) + 1 : entry;
            const QList<QLabel*> badges = c->findChildren<QLabel*>(QStringLiteral("badge"));
            RC_ASSERT((c->source_number == input && c->ui->frame1->x() == 1 + 53 * int(std::find(kTabPort, kTabPort + 4, input) - kTabPort)));
            RC_ASSERT((badges.size() == (entry / 3 == c->current_page) && (badges.isEmpty() || badges[0]->parentWidget()->x() == 14 + 95 * (entry % 3))));
        }
        const QList<QLabel*> formats = c->findChildren<QLabel*>(QStringLiteral("entry_format"));
        if (c->current_page == 0 && !formats.isEmpty() && formats[0]->isVisibleTo(c))
            RC_ASSERT(shows(formats[0]->text(), format_of(c->source_number)));
    } else if (g_page_focus == 7 && g_inputcut) {
        InputCut* c = g_inputcut;
        RC_ASSERT(counts_shown(c));
        const std::vector<Crop> crops = crops_of(c->source_id);
        QStringList want, got;
        for (int k = std::max(1, 6 * c->current_pag); k < std::min(6 * c->current_pag + 6, int(crops.size()) + 1); ++k)
            want << QStringLiteral("%1x%2").arg(crops[k - 1].rect[2]).arg(crops[k - 1].rect[3]);
        for (QLabel* l : c->frame_source->findChildren<QLabel*>(QStringLiteral("card_format")))
            got << l->text();
        if (c->current_pag == 0 && !got.isEmpty())
            RC_ASSERT(shows(got.takeFirst(), format_of(c->source_id)));   // the input itself
        RC_ASSERT(got == want);
        RC_ASSERT((!(m.held && m.lost) || c->label_refuse->isVisibleTo(c)));
    } else if (g_page_focus == 8 && g_edidset) {
        const int at = P::kEdid + 6 * g_edidset->source_id;
        RC_ASSERT(g_edidset->card_format->text() ==
                  QStringLiteral("%1x%2@%3Hz").arg(int16_t(r16(at))).arg(int16_t(r16(at + 2))).arg(int16_t(r16(at + 4))));
        RC_ASSERT((g_edidset->ui_seltype == 0 || g_edidset->ui->label_rate->text() == m.rate));
        RC_ASSERT((g_edidset->ui_seltype == 0 || !m.edidLost || g_edidset->label_refuse->isVisibleTo(g_edidset)));
    } else if (g_page_focus == 9 && g_imagelayout) {
        const Ui::ImageLayout* ui = g_imagelayout->ui;
        const int at = layer(g_imagelayout->ui_select) + P::kLayerWindow;
        RC_ASSERT((QStringList{ui->lineEdit_X->text(), ui->lineEdit_Y->text(), ui->lineEdit_W->text(), ui->lineEdit_H->text()}) ==
                  (QStringList{QString::number(r16(at)), QString::number(r16(at + 2)), QString::number(r16(at + 4)), QString::number(r16(at + 6))}));
        RC_ASSERT(ui->comboBox_P2P->itemText(0) == text(kP2POff));
    } else if (g_page_focus == 4 && g_custommode) {
        CustomMode* c = g_custommode;
        const int s = g_mode_select;
        RC_ASSERT(c->ui->label_blank->isVisibleTo(c) == !slot_saved(s));
        RC_ASSERT((c->ui->label_using->isVisibleTo(c) == (slot_saved(s) && ram[P::kCurrentMode] == s + 1)));
        RC_ASSERT(c->mode_box->comboBox->itemText(15) == text(kModeItem) + "16");
        // Named by the alias file the PC sent last, else by its number.
        const QString name = c->ui->label_name->text();
        RC_ASSERT(name.startsWith(text(kNamePrefix)));
        RC_ASSERT((s >= 4 || (g_alias ? shows(name, text(kNamePrefix) + kAlias[s]) : !name.contains(kAlias[s]))));
    } else if (g_page_focus == 13 && g_ledset) {
        RC_ASSERT((QStringList{g_ledset->ui->lineEdit_ledw->text(), g_ledset->ui->lineEdit_ledh->text()}) == g_ledFields);
    } else if (g_page_focus == 22 && g_linkwlan) {
        QStringList fields;
        for (My_lineEdit* f : g_linkwlan->line_edits)
            fields << f->text();
        const auto setting = [](ConfigItem::ConfigName n) { return ConfigEngine::pInstance()->read_config_variant(n).toString().split('.'); };
        RC_ASSERT(fields == setting(ConfigItem::IPAddress) + setting(ConfigItem::SubNetMask) + setting(ConfigItem::GateWay));
    } else if (g_page_focus == 12 && g_advancedoption) {
        RC_ASSERT(g_advancedoption->Button_rcv_recovery->isEnabled() == package_stored());
        RC_ASSERT(shows(g_advancedoption->Button_factoryage->text(), text(kAgeingEntry)));
        RC_ASSERT(g_advancedoption->menulist.at(g_advancedoption->ui_select)->styleSheet() == g_advancedoption->style_focus);
    } else if (g_page_focus == 18 && g_factory) {
        RC_ASSERT(shows(g_factory->label_title->text(), text(kFactoryTitle)));
    }
}

// Each screen the check opens, by its page: the one `open` names is opened (the crop and
// EDID screens over the input screen), or (open -1) all are closed.
template <typename S>
void page(int open, S*& screen, int at, bool under = false)
{
    if (open < 0)
        delete screen, screen = nullptr;
    else if (open == at || under)
        kel_test::openScreen(screen, at);
}

void pages(int open)
{
    page(open, g_inputchoose, 3, open == 7 || open == 8), page(open, g_inputcut, 7), page(open, g_edidset, 8), page(open, g_lockwindow, 0);
    page(open, g_custommode, 4), page(open, g_outputset, 6), page(open, g_imagelayout, 9), page(open, g_advancedoption, 12);
    page(open, g_ledset, 13), page(open, g_factory, 18), page(open, g_linkwlan, 22);
}

void close_all()
{
    pages(-1);
    g_mainwindow->on_toolusermode_clicked();
    kel_test::settle();
}

// The LED size screen draws its fields afresh when the size differs from what it drew last
// (an entry typed meanwhile is then dropped).
void led_drawn(bool opened = false)
{
    const std::array<int, 2> now{r16(P::kLedWidth), r16(P::kLedHeight)};
    if (opened || now != g_ledDrawn)
        g_ledFields = QStringList{QString::number(now[0]), QString::number(now[1])};
    g_ledDrawn = now;
}

// The scaler applies what awaits it and the screens are notified, as after every write; or
// (apply false) a notification of its own comes while a write may still await its apply.
void notify(int code, bool apply = true)
{
    if (apply) {
        c331_manage::p_c331_manage->c331_apply_flag = 0;
        para()->pc_edit_pending = 0;
        g_pending = 0;
    }
    if (!para()->apply_pending()) {   // nothing awaits the scaler: the outputs hold the block
        g_applied = ram_now();
        g_led_set = led_size(para()->ram);
    }
    const std::vector<std::vector<uint8_t>> before = mode_slots();
    SyncUpdate::pInstance()->para_sync(code);
    if (g_page_focus == 13)
        led_drawn();
    // The stores (a user-mode save, code 2's re-sync of the files) on their own thread, and
    // what they show handed back to this one.
    para()->wait_mode_files();
    QCoreApplication::sendPostedEvents(SyncUpdate::pInstance(), QEvent::MetaCall);
    // A user mode is saved from the block as the scaler applied it, never with an edit that
    // still awaits its apply.
    for (int s = 0; s < P::kModeSlots; ++s)
        if (slot_saved(s) && before[size_t(s)] != mode_slots()[size_t(s)])
            RC_ASSERT(std::memcmp(para()->mode_slot[s] + 2, g_applied.data() + P::kModeArea, P::kModeAreaLength) == 0);
    g_drawn = ram_now();
    g_shown_slots = mode_slots();
}

// The notifications the program sent meanwhile (a key's own, a stored file's).
void notify_sent()
{
    const std::vector<int> sent = std::move(g_signals);
    g_signals.clear();
    for (int code : sent)
        notify(code, false);
}

// A PC's write into the block, then the notification that follows it; now and then the
// write still awaits its apply (and its notification) when the next step comes.
template <typename Write>
void pc(Write write, int code = 1, bool wait = false)
{
    {
        std::unique_lock<std::mutex> block = P::lock_block();
        write(para()->ram);
        para()->pc_edit_pending = 1;
    }
    if ((code == 1 || code == 103) && (wait || (!g_applyNow && in_range(0, 4) == 0))) {   // several may wait
        g_pending = std::max(g_pending, code);
        ++g_seen["a PC write awaiting its apply"];
        return;
    }
    notify(g_pending == 103 ? 103 : code);
}

// A saved slot's stored bytes changed by a PC, with no notification.
void change_slot_unannounced(int s)
{
    if (slot_saved(s)) {
        std::unique_lock<std::mutex> block = P::lock_block();
        para()->mode_slot[s][2 + P::kBrightness - P::kModeArea] ^= uint8_t(1 + in_range(0, 7));
        ++g_seen["slot changed unannounced"];
    }
}

void pc_step(Model& m, int forced = -1)
{
    const auto in = [](int low, int high) { return in_range(low, high + 1); };
    const auto any16 = [&] { return weighted({4, 1}) ? one_of({0, 1, 65535, 4095}) : in_range(0, 2000); };
    static const char* const kKind[] = {"window on/off", "window source", "window rectangle", "crop added", "crop deleted", "crop resized",
                                        "mode ", "audio window", "sound", "EDID timing", "language", "notification alone",
                                        "LED size", "key lock or dark screen", "alias names", "network ", "slot changed unannounced",
                                        "card package ", "input "};
    // Whatever the screen in front shows is changed more often: the input screen's window
    // switched off while its choice is open, the previewed mode saved or recalled.
    const int page = g_page_focus;
    const int kind = forced >= 0 ? forced : weighted({page == 3 ? 10 : 4, 3, 2, 4, 4, 2, page == 4 || page == 1 ? 8 : 4, page == 0 ? 6 : 2,
                                                      page == 0 ? 6 : 2, page == 8 ? 6 : 3, 2, 1, page == 13 ? 20 : page == 6 || page == 0 || page == 18 ? 4 : 1,
                                                      page == 1 ? 10 : page == 0 ? 8 : 1, page == 4 ? 4 : 1, page == 22 ? 48 : page <= 1 ? 4 : 1,
                                                      page == 4 ? 24 : 1, page == 12 ? 40 : 1, page == 3 || page == 7 ? 12 : page == 0 ? 8 : 2});
    std::string seen = kKind[kind];
    // What the operator holds is picked often: the window, the crop and its input.
    const bool aim = in_range(0, 2) == 0;
    const int w = aim && m.window >= 0 ? m.window : in(0, 3);
    const int port = aim && m.held ? m.heldPort : aim && page == 8 ? int(g_edidset->source_id) : in(0, 3);
    std::vector<Crop> all;
    for (int p = 0; p < 4; ++p)
        for (const Crop& c : crops_of(p))
            all.push_back(c);
    Crop pick = all.empty() ? Crop{-1, 0, {}} : all[size_t(in(0, int(all.size()) - 1))];
    // The held crop, or another of its input (whose deletion moves the held one's place).
    const bool other = in_range(0, 2);
    for (const Crop& c : aim && m.held ? crops_of(m.heldPort) : std::vector<Crop>())
        if ((c.number == m.crop.number) != other) {
            pick = c;
            break;
        }
    switch (kind) {
    case 0:   // a window on or off
        pc([&](uint8_t* ram) { P::put16(ram + layer(w ? w : 1), uint16_t(aim && m.window > 0 ? 0 : in(0, 1))); });
        break;
    case 1:   // its source: an input or a crop
        pc([&](uint8_t* ram) { P::put16(ram + layer(w) + P::kLayerSource, uint16_t(pick.record >= 0 && in(0, 1) ? 0x8000 | pick.record : port)); });
        break;
    case 2:   // its rectangle
        pc([&](uint8_t* ram) {
            for (int f = 0; f < 4; ++f)
                P::put16(ram + layer(w) + P::kLayerWindow + 2 * f, uint16_t(any16()));
        });
        break;
    case 3: {   // a crop added: the port's lowest free number, the first free record
        int n = 1;
        for (const Crop& c : crops_of(port))
            n += c.number == n;
        int r = 0;
        while (r < P::kCropCount && (r16(crop_at(r)) & 0x8000))
            ++r;
        const int cw = one_of({640, 800, 16, 1920}), ch = one_of({480, 600, 1080});
        if (r < P::kCropCount && n <= P::kCropCount)
            pc([&](uint8_t* ram) {
                P::put16(ram + crop_at(r), uint16_t(0x8000 | ((n - 1) << 8) | port));
                for (int f = 0; f < 4; ++f)
                    P::put16(ram + crop_at(r) + 2 + 2 * f, uint16_t(f < 2 ? 0 : f == 2 ? cw : ch));
            }, 103);
        break;
    }
    case 4:   // a crop deleted; the windows on it go back to its input
        if (pick.record >= 0)
            pc([&](uint8_t* ram) {
                for (int l = 0; l < P::kLayerCount; ++l)
                    if (P::get16(ram + layer(l) + P::kLayerSource) == (0x8000 | pick.record))
                        P::put16(ram + layer(l) + P::kLayerSource, uint16_t(P::get16(ram + crop_at(pick.record)) & 0xFF));
                std::memset(ram + crop_at(pick.record), 0, P::kCropRecordSize);
            }, 103);
        break;
    case 5:
        if (pick.record >= 0)
            pc([&](uint8_t* ram) { P::put16(ram + crop_at(pick.record) + 6, uint16_t(one_of({320, 640, 1280}))); }, 103);
        break;
    case 6: {   // a mode saved (the save request), deleted or recalled; often the one in view
        const int way = weighted({3, 1, page == 4 ? 4 : 0, page == 1 ? 4 : 0});
        const int s = way == 0 ? in_range(0, 4) : way == 1 ? in_range(0, 16) : way == 2 ? int(g_mode_select) : int(g_mainwindow->mode_index);
        const int op = one_of({0, 0, 1, 2});   // inRange leans to its low end at small sizes
        const bool edited = op == 0 && one_of({0, 1}) == 1;   // a window moved first, both awaiting the apply
        if (edited)
            pc([&](uint8_t* ram) { P::put16(ram + layer(in(0, 3)) + P::kLayerWindow, uint16_t(any16())); }, 1, true);
        if (op == 0)   // 17: a request naming no mode
            pc([&](uint8_t* ram) { P::put16(ram + P::kModeSaveRequest, uint16_t(s + 1 + (in_range(0, 8) == 0))); }, 1, edited);
        if (edited && one_of({0, 1}) == 1) {   // a file's notification meanwhile: the save waits for the apply
            notify(103, false);
            ++g_seen["mode save request with an edit, both waiting, a notification meanwhile"];
        }
        else if (op == 1)
            pc([&](uint8_t*) { para()->mode_slot[s][0] = para()->mode_slot[s][1] = 0xFF; }, 2);
        else if (slot_saved(s))
            pc([&](uint8_t* ram) {
                std::memcpy(ram + P::kModeArea, para()->mode_slot[s] + 2, P::kModeAreaLength);
                P::put16(ram + P::kCurrentMode, uint16_t(s + 1));
            });
        seen += op == 0 ? "saved" : op == 1 ? "deleted" : "recalled";
        break;
    }
    case 7:   // 6 and 7 are the first numbers past the windows
        pc([&, way = weighted({6, 2, 1})](uint8_t* ram) { ram[P::kAudioWindow] = uint8_t(way == 0 ? in_range(0, 6) : way == 1 ? one_of({6, 6, 7}) : in_range(6, 256)); });
        break;
    case 8:
        pc([&](uint8_t* ram) { ram[layer(in(0, 5)) + P::kLayerSound] ^= 0x80; });
        break;
    case 9:   // now and then the rate alone
        pc([&, rate = in(0, 2) == 0](uint8_t* ram) {
            for (int f = 0; f < 3; ++f)
                P::put16(ram + P::kEdid + 6 * port + 2 * f, uint16_t(f < 2 ? (rate ? r16(P::kEdid + 6 * port + 2 * f) : any16()) : one_of({30, 60, 50, 24, 255})));
        });
        break;
    case 10:
        pc([&](uint8_t* ram) { ram[P::kLanguage] = uint8_t(in(0, 4)); });
        break;
    case 12:   // now and then the height alone
        pc([&, height = in(0, 1) == 0](uint8_t* ram) {
            if (!height)
                P::put16(ram + P::kLedWidth, uint16_t(one_of({1920, 3840, 64, 1000})));
            P::put16(ram + P::kLedHeight, uint16_t(one_of({1080, 2160, 32, 600})));
        });
        break;
    case 13:   // any non-zero word locks the keys; the home screen shows the LED screen state
        pc([&, at = in(0, page == 0 ? 3 : 1) == 1 ? P::kKeyLock : P::kScreenDark](uint8_t* ram) { P::put16(ram + at, uint16_t(one_of({0, 1, 2, 0, 255}))); });
        break;
    case 14:   // names for modes 1-4, or none
        g_alias = in(0, 2) != 0;
        if (g_alias) {
            std::string list;
            for (int s = 0; s < 4; ++s)
                list += (s ? "," : "") + std::string(R"({"id":)") + std::to_string(s) + R"(,"valid":"on","name":")" + kAlias[s] + "\"}";
            g_root->writeFile("/data/configs/alias.json", R"({"namelist":{"usermode":[)" + list + "]}}");
        } else {
            std::filesystem::remove(g_root->host("/data/configs/alias.json"));
        }
        pc([](uint8_t*) {}, 103);
        break;
    case 15: {   // the address, mask or gateway a PC set, or the network reset that takes them back
        const ConfigItem::ConfigName item = one_of({ConfigItem::IPAddress, ConfigItem::SubNetMask, ConfigItem::GateWay});
        if (address() == QLatin1String("192.168.0.199") || in(0, 1)) {
            RC_ASSERT(ConfigEngine::pInstance()->write_config_variant(item, QStringLiteral("%1.%2.0").arg(item == ConfigItem::SubNetMask ? "255.255" : "10.1").arg(in(1, 254))));
            Utils::getIPAddress();
            pc([](uint8_t*) {});
            seen += item == ConfigItem::IPAddress ? "address set" : item == ConfigItem::SubNetMask ? "mask set" : "gateway set";
        } else {
            pc([](uint8_t*) {}, 3);
            seen += "reset";
        }
        break;
    }
    case 16:   // often the slot in view
        change_slot_unannounced(page == 4 && in(0, 3) ? int(g_mode_select) : in(0, 3));
        break;
    case 17: {   // a card package stored through the PC's file transfer, or the folder emptied
        const bool store = !package_stored() || in(0, 2);
        if (store) {
            using namespace fileframes;
            const pc::Bytes data(size_t(in(1, 64)), uint8_t(in(0, 255)));
            message_deal md{message_deal::REPLY_LIMIT_UDP};
            std::vector<unsigned char> buf(message_deal::FRAME_BUF_SIZE);
            const auto deal = [&](const pc::Bytes& request) {
                pc::Frame f;
                f.group = 0xC0, f.data = request;
                const pc::Bytes plain = pc::encode(f);
                std::copy(plain.begin(), plain.end(), buf.begin());
                RC_ASSERT(md.message_group_deal(buf.data(), unsigned(plain.size() - 1), 5) > 0);
                return buf[10];
            };
            RC_ASSERT((deal(start("DIVU", 9, uint32_t(data.size()))) == 0 && deal(block(0, data, 0, data.size())) == 0 &&
                       deal(end(md5Of(data))) == 0));
        } else {
            std::filesystem::remove_all(g_root->host("/data/rcvrecovery"));
            std::filesystem::create_directories(g_root->host("/data/rcvrecovery"));
            pc([](uint8_t*) {}, 103);   // the delete command's notification
        }
        notify_sent();
        seen += store ? "stored" : "deleted";
        break;
    }
    case 18: {   // an input's signal lost or found, or its format changed, as the receivers publish it
        // The input the screen in front shows, where it shows one.
        const int port = page == 3 ? g_inputchoose->source_number : page == 7 ? g_inputcut->source_id : page == 8 ? g_edidset->source_id : in(0, 3);
        const bool lost = one_of({false, false, true});
        const std::array<int, 3> format{one_of({1920, 3840, 1280, 720}), one_of({1080, 2160, 720, 480}), one_of({60, 50, 30, 24})};
        {
            std::unique_lock<std::mutex> block = P::lock_block();
            for (int f = 0; f < 3; ++f)
                P::put16(para()->ram + P::kInputStatus + 6 * port + 2 * f, uint16_t(lost ? (f == 2 ? 0 : format[size_t(f)]) : format[size_t(f)]));
        }
        notify(12, false);   // a PC's write still waits for its apply
        seen += lost ? "signal lost" : "format";
        break;
    }
    default:   // a file's notification may come while a write awaits its apply
        if (g_pending && in(0, 1))
            notify(103, false);
        else if (g_pending)
            notify(g_pending);
        else
            pc([](uint8_t*) {}, one_of({1, 103}));
        break;
    }
    ++g_seen[seen];
    RC_LOG() << "pc " << kind << " window " << w << " port " << port << " crop record " << pick.record << (g_pending ? " pending" : "") << "\n";
    if (!g_pending)
        m.pc_changed(para()->ram);
}

// After a key, what waits for the scaler is applied and notified, as the scaler does, a PC's
// write awaiting its apply with it (that alone now and then); a write the scaler takes no
// part in (the key lock, a window chosen) sends its own notification, the PC's write still
// waiting. A factory reset's apply notifies code 2.
void after_key(Model& m, const Block& before, bool reset)
{
    const bool pcPending = g_pending != 0;
    if (c331_manage::p_c331_manage->c331_apply_flag != 0 || (pcPending && in_range(0, 6) == 0)) {
        if (pcPending)
            m.pc_changed(before.data());
        notify(reset ? 2 : g_pending == 103 ? 103 : 1);
    }
    notify_sent();
    kel_test::settle();
}

// Whether the block (now, else the live one) differs from before only within the given ranges
// (offset, length).
bool only_changed(const Block& before, std::vector<std::pair<int, int>> allowed, const uint8_t* now = nullptr)
{
    now = now ? now : para()->ram;
    for (int i = 0; i < P::kRamSize; ++i) {
        bool free = false;
        for (const auto& a : allowed)
            free = free || (i >= a.first && i < a.first + a.second);
        if (!free && before[size_t(i)] != now[i]) {
            RC_LOG() << "byte " << i << " changed\n";
            return false;
        }
    }
    return true;
}

// One key on the screen in front, and what it wrote checked against the operator's choice.
// Returns whether it wrote.
bool press(Model& m, PanelKey key)
{
    const int page = g_page_focus;
    QWidget* target = front();
    if (!target || page == 0 || page == 6 || page == 22)
        return false;
    const int t = level();
    MainWindow* mw = g_mainwindow;
    // OK on a main-menu entry opens that screen in a loop of its own: not from here.
    if (page == 1 && key == PanelKey::Ok && t == 0 && mw->ui_select < 4)
        key = PanelKey::Right;
    // The LED size screen's Apply starts the LED hand-shake: not from here.
    if (page == 13 && key == PanelKey::Ok && g_ledset->ui_select == 2)
        key = PanelKey::Right;
    const int ledField = page == 13 ? g_ledset->ui_select : 0;
    const bool locked = r16(P::kKeyLock) != 0;
    const Block before = ram_now(), drawn = g_drawn;   // drawn: what the operator saw
    const std::vector<std::vector<uint8_t>> kept = mode_slots();
    const int mode = page == 1 ? int(mw->mode_index) : int(g_mode_select);
    const bool calling = page == 1 && mw->l_call_state;
    std::vector<std::pair<int, int>> allowed;
    bool keypad = false;
    // On the LED size screen the sides and areas at their limits are drawn often.
    const int way = page == 13 ? weighted({2, 3, 1}) : weighted({4, 1}) + 3;
    QString typed = QString::number(way == 0 ? one_of({63, 64, 8188, 8189, 40000, 0}) : way == 1 ? in_range(3000, 8189) : way <= 3 ? in_range(1, 2000) : one_of({0, 4095, 4096, 40000}));
    InputCut* cut = g_inputcut;
    const int j = page == 7 ? cut->ui_select - cut->panel_n : 0, cutPort = page == 7 ? cut->source_id : 0;
    const int row = page == 3 ? g_inputchoose->ui_select : 0;
    const int place = page == 7 ? (cut->current_pag == 0 ? cut->ui_select - 1 : 6 * cut->current_pag + cut->ui_select) : 0;
    const int entry = page == 3 ? 3 * g_inputchoose->current_page + g_inputchoose->ui_select : 0, port = page == 3 ? g_inputchoose->source_number : 0;
    const int line = page == 8 ? g_edidset->ui_line_select : 0, menu = page == 1 ? mw->ui_select : 0;
    if (page == 7) {
        keypad = t >= 2 && key == PanelKey::Ok && j >= 0 && j <= 3;
        allowed = {{P::kCropRecords, P::kCropCount * P::kCropRecordSize}, {P::kCurrentMode, 2}};
        for (int l = 0; l < P::kLayerCount; ++l)
            allowed.push_back({layer(l) + P::kLayerSource, 2});
    } else if (page == 3) {
        InputChoose* c = g_inputchoose;
        if (t == 0 && key == PanelKey::Ok && c->ui_select >= 4) {
            // The crop and EDID buttons open their screens in a loop of their own: opened here.
            if (c->ui_select == 4)
                kel_test::openScreen(g_inputcut, 7);
            else
                kel_test::openScreen(g_edidset, 8);
            ++g_seen[c->ui_select == 4 ? "crop screen from the input screen" : "EDID screen from the input screen"];
            return false;
        }
        if (t == 2 && key == PanelKey::Ok && m.window >= 0)
            allowed = {{layer(m.window) + P::kLayerSource, 2}, {P::kCurrentMode, 2}};
    } else if (page == 8) {
        keypad = t == 1 && key == PanelKey::Ok && line <= 1;
        allowed = {{P::kEdid + 6 * g_edidset->source_id, t == 1 && key == PanelKey::Ok && line == 5 ? 6 : 0}};   // Save alone
    } else if (page == 4 || page == 1) {
        allowed = {{P::kModeArea, P::kModeAreaLength}, {P::kCurrentMode, 2}, {P::kModeSaveRequest, 2}, {P::kKeyLock, page == 1 ? 2 : 0}};
    } else if (page == 18) {
        allowed = {{0, P::kRamSize}};   // the defaults
    } else if (page == 13) {
        keypad = key == PanelKey::Ok && ledField <= 1;   // nothing is stored before Apply
    }
    // The entry seen on the input screen's list, by the number its name gives (0 the
    // input itself, -1 an entry that names no crop): what the operator chose.
    int seenNumber = -1;
    if (page == 3 && t == 2) {
        const QList<QLabel*> names = g_inputchoose->findChildren<QLabel*>(QStringLiteral("entry_name"));
        const QString name = row < names.size() ? names[row]->text() : QString();
        seenNumber = entry == 0 ? 0 : name.contains(QLatin1String("_crop")) ? name.section(QLatin1String("_crop"), -1).toInt() : -1;
    }

    // OK on an entry of the advanced menu opens its screen in a loop of its own (the ageing
    // log only after its access code, typed first): a PC changes the language or the card
    // packages while it is in front, then Back comes back to the menu.
    const int entry12 = page == 12 ? g_advancedoption->ui_select : 0;
    const QString code = page == 12 && entry12 == 3 ? one_of<QString>({"8888", "88881", "88881", "888", "8889"}) : QString();
    bool ageing = false;
    // What the PC's step meanwhile wrote (and the notification it brought carried out: a save
    // request of its own awaiting its apply) is the PC's: the key's writes are looked for on
    // either side of it.
    std::optional<std::pair<Block, Block>> pcSpan;
    const auto meanwhile = [&m, &pcSpan](QWidget*) {
        const Block pcBefore = ram_now();
        pc_step(m, g_meanwhile >= 0 ? g_meanwhile : one_of({10, 17}));
        pcSpan.emplace(pcBefore, ram_now());
        kel_test::pressKey(PanelKey::Back);
    };
    if (page == 12 && key == PanelKey::Ok && entry12 == 3)
        kel_test::whenModal([&](QWidget*) {
            if (code == QLatin1String("8888"))
                kel_test::whenModal([&](QWidget* s) { ageing = s == g_factoryage, meanwhile(s); });
            g_numberkeyboard->findChild<QLineEdit*>("lineEdit")->setText(code);
            g_numberkeyboard->on_Button_ok_clicked();
        });
    else if (page == 12 && key == PanelKey::Ok && (entry12 != 4 || package_stored()))
        kel_test::whenModal(meanwhile);
    const int button = page == 4 ? g_custommode->button_select : 0, reset = page == 18 ? g_factory->ui_select : 0, waiting = g_pending != 0;
    const std::vector<uint8_t> shownSlot = page == 4 ? g_shown_slots[size_t(mode)] : std::vector<uint8_t>();
    const bool savedBefore = page == 4 && kept[size_t(mode)][0] == 0xAA && kept[size_t(mode)][1] == 0xAA;
    // An FPGA 0 that runs takes the LED-size hand-shake.
    static fpga_manage fpga;
    fpga_manage::MCU_REG_func[0][80] = 3;
    fpga_manage::p_fpga_manage = page == 18 ? &fpga : nullptr;
    g_set_led_para = 0;
    g_signals.clear();
    const QStringList fields = page == 7 ? QStringList{cut->ui->lineEdit_X->text(), cut->ui->lineEdit_Y->text(), cut->ui->lineEdit_W->text(), cut->ui->lineEdit_H->text()}
                             : page == 8 ? QStringList{g_edidset->ui->lineEdit_W->text(), g_edidset->ui->lineEdit_H->text()} : QStringList();
    if (keypad)
        kel_test::typeOnKeypad(typed, PanelKey::Ok, target);
    else
        kel_test::pressKey(key, 0, target);
    if (page == 1 && key == PanelKey::Mode) {   // the user-mode screen, unless the keys are locked
        RC_ASSERT(g_page_focus == (locked ? 1 : 4));
        ++g_seen[locked ? "mode key while locked" : "mode key"];
    }
    if (page == 13 && keypad) {
        // The entry, a side beyond its limits taken to the limit, the other side cut to the
        // area (13,000,000 pixels for a height entry within the limits, else 6,553,600).
        const int v = typed.toInt(), o = g_ledFields[1 - ledField].toShort();
        QString& edited = g_ledFields[ledField];
        QString& other = g_ledFields[1 - ledField];
        if (v > 8188) {
            edited = QStringLiteral("8188");
            other = o * 8188 > 6553600 ? QStringLiteral("800") : other;
        } else if (v >= 64) {
            const int area = ledField == 0 ? 6553600 : 13000000;
            edited = typed;
            other = o * v > area ? QString::number(area / v) : other;
        } else {
            edited = QStringLiteral("64");
        }
        ++g_seen[o * std::min(v, 8188) > 6553600 ? "LED side typed, cut to the area" : "LED side typed"];
    }
    const int applied = c331_manage::p_c331_manage->c331_apply_flag;
    ++g_seen[keypad ? "key: a value typed" : key == PanelKey::Ok ? "key: OK" : key == PanelKey::Back ? "key: Back" : "key: left/right"];
    RC_LOG() << "page " << page << " level " << t << " key " << int(key) << (keypad ? " typed " + typed.toStdString() : "") << "\n";
    const Block after = ram_now();   // as the key left it: a PC's save request awaiting its apply comes after it
    const std::vector<std::vector<uint8_t>> left = mode_slots();   // the slots too: a PC's save request awaiting its apply comes after
    const bool wrote = after != before || left != kept;
    RC_ASSERT((pcSpan ? only_changed(before, allowed, pcSpan->first.data()) && only_changed(pcSpan->second, allowed) : only_changed(before, allowed)));
    // The lock, dark and sound icons show what the key wrote, before any notification redraws them.
    const char* const iconButton = page != 1 || key != PanelKey::Ok ? nullptr : t == 0 && menu == 4 ? "Button_lock" : t != 1 || menu > 1 ? nullptr : menu ? "toolButton2" : "toolButton1";
    const QString icon = menu == 4 ? kel_icon_plain(r16(P::kKeyLock) ? "lock" : "unlock") : kel_icon(menu ? (sound_on() ? "unslience" : "slience") : r16(P::kScreenDark) == 1 ? "closeled" : "uncloseled");
    RC_ASSERT((!iconButton || mw->findChild<QPushButton*>(iconButton)->property("iconPath").toString() == icon));
    fpga_manage::p_fpga_manage = nullptr;
    if (page == 18 && key == PanelKey::Ok && t == 0) {
        // The block from the defaults (the EDID kept by the first entry); a size other than the
        // one the outputs were set up for starts the hand-shake, and the sound goes to window 0.
        const bool resized = led_size(after.data()) != g_led_set;
        RC_ASSERT(int(g_set_led_para) == int(resized));
        RC_ASSERT((!resized || r16(P::kAudioWindow, after.data()) == 0));
        RC_ASSERT((reset != 0 || std::memcmp(after.data() + P::kEdid, before.data() + P::kEdid, 36) == 0));
        ++g_seen[resized ? "factory reset, LED size changed" : "factory reset"];
    }
    after_key(m, before, page == 18 && wrote);
    RC_ASSERT((page != 12 || key != PanelKey::Ok || (g_page_focus == 12 && (entry12 != 3 || ageing == (code == QLatin1String("8888"))))));
    if (page == 12 && key == PanelKey::Ok)
        ++g_seen[entry12 == 3 ? "advanced menu: access code " + code.toStdString() : "advanced menu: a screen and back"];

    if (page == 7) {
        // The crop records that changed.
        std::vector<int> changed;
        for (int r = 0; r < P::kCropCount; ++r)
            if (std::memcmp(before.data() + crop_at(r), para()->ram + crop_at(r), P::kCropRecordSize) != 0)
                changed.push_back(r);
        const bool write = key == PanelKey::Ok && !keypad && t >= 2 && (j == 6 || j == 4);
        if (t == 1 && key == PanelKey::Ok && g_inputcut && g_inputcut->ui_seltype == 3) {
            // The crop of the number on the card the operator saw, as the block holds it now (a
            // PC's change awaiting its apply may have moved the cards): the panel shows that.
            const std::vector<Crop> crops = crops_of(g_inputcut->source_id, drawn.data());
            RC_ASSERT((place >= 1 && place <= int(crops.size())));
            m.held = true, m.lost = false, m.heldPort = g_inputcut->source_id, m.crop = crops[size_t(place - 1)];
            for (const Crop& c : crops_of(m.heldPort))
                m.crop = c.number == m.crop.number ? c : m.crop;
            m.pc_changed(para()->ram);
        }
        if (!write || (t == 3 && m.lost)) {
            RC_ASSERT(changed.empty());
        } else if (t == 3) {
            RC_ASSERT((changed.empty() || (changed.size() == 1 && changed[0] == m.crop.record)));
            const bool gone = g_inputcut && g_inputcut->ui_seltype < 2;
            if (gone && j == 6)
                for (int f = 0; f < 4; ++f)
                    RC_ASSERT(r16(crop_at(m.crop.record) + 2 + 2 * f) == uint16_t(fields[f].toShort()));
            RC_ASSERT((!gone || j != 4 || r16(crop_at(m.crop.record)) == 0));
            ++g_seen[j == 6 ? "crop changed on the panel" : "crop deleted on the panel"];
        } else if (j == 6) {
            // Added, unless its values were refused (the panel then stays open) or no record is free.
            const bool open = g_inputcut && g_inputcut->ui_seltype >= 2;
            int used = 0;
            for (int r = 0; r < P::kCropCount; ++r)
                used += (P::get16(before.data() + crop_at(r)) & 0x8000) != 0;
            RC_ASSERT((changed.size() == (open || used == P::kCropCount ? 0u : 1u)));
            RC_ASSERT((changed.empty() || !(P::get16(before.data() + crop_at(changed[0])) & 0x8000)));
            int n = 1;   // the input's lowest number free in the records
            for (const Crop& c : crops_of(cutPort, before.data()))
                n += c.number == n;
            RC_ASSERT((changed.empty() || r16(crop_at(changed[0])) == (0x8000 | ((n - 1) << 8) | cutPort)));
            ++g_seen["crop added on the panel"];
        }
        if (write && t == 3 && m.lost)
            ++g_seen["refused: the held crop is gone or changed"];
        if (!g_inputcut || g_inputcut->ui_seltype < 2)
            m.held = false;
    } else if (page == 3) {
        InputChoose* c = g_inputchoose;
        if (t == 0 && key == PanelKey::Ok && c && c->ui_seltype == 1) {
            m.window = -1;
            for (int w = 0, p = row; w < 4 && m.window < 0; ++w)
                if (shown(w) && p-- == 0)
                    m.window = w;
        }
        if (t == 2 && key == PanelKey::Ok) {
            // The entry as drawn: the input itself, or its crop of that number if a record still holds it.
            const int source = r16(layer(std::max(m.window, 0)) + P::kLayerSource);
            // (The list is drawn again from the block at each OK and page turn: what it showed
            // is read off it, not taken from the last notification.)
            const bool switched = m.window >= 0 && source != P::get16(before.data() + layer(m.window) + P::kLayerSource);
            RC_ASSERT((!switched || (seenNumber == 0 ? source == port
                                     : seenNumber > 0 && (source & 0x8000) && r16(crop_at(source & 0xFF)) == (0x8000 | ((seenNumber - 1) << 8) | port))));
            ++g_seen[m.window < 0 ? "refused: the chosen window is gone" : switched ? "window switched on the panel" : "window kept its source"];
        }
        if (!c || c->ui_seltype == 0)
            m.window = -1;
    } else if (page == 8) {
        // The edit follows the operator's keys: opened on the input's timing, a rate choice
        // that Back takes back, a Save that stores what the edit shows unless a PC changed the timing.
        const int at = P::kEdid + 6 * (g_edidset ? g_edidset->source_id : 0);
        if (t == 0 && key == PanelKey::Ok && g_edidset && g_edidset->ui_seltype == 1) {
            m.edid = true, m.edidLost = false, m.edited = false, m.rate = QString::number(r16(at + 4)), m.sixty = r16(at + 4) == 60;
            for (int f = 0; f < 3; ++f)
                m.edidOpened[size_t(f)] = r16(at + 2 * f);
        } else if (keypad) {
            m.edited = true;
        } else if (t == 1 && key == PanelKey::Ok && line == 2) {
            m.rateBefore = m.rate, m.sixtyBefore = m.sixty;
        } else if (t == 2 && (key == PanelKey::Left || key == PanelKey::Right)) {
            m.sixty = !m.sixty, m.rate = m.sixty ? "60" : "30", m.edited = true;
        } else if (t == 2 && key == PanelKey::Back) {
            m.rate = m.rateBefore, m.sixty = m.sixtyBefore;
        } else if (t == 1 && key == PanelKey::Ok && line == 5) {
            const bool changed = std::memcmp(before.data() + at, para()->ram + at, 6) != 0;
            bool timingAsOpened = true;   // Save compares the block with the timing the edit opened on
            for (int f = 0; f < 3; ++f)
                timingAsOpened = timingAsOpened && P::get16(before.data() + at + 2 * f) == m.edidOpened[size_t(f)];
            RC_ASSERT((!changed || timingAsOpened));
            RC_ASSERT((!changed || (QStringList{QString::number(r16(at)), QString::number(r16(at + 2)), QString::number(r16(at + 4))} ==
                                    QStringList{QString::number(fields[0].toShort()), QString::number(fields[1].toShort()), m.rate})));
            // What an EDID timing can describe: 1 to 4095 square, 30 or 60 Hz or the rate the input had.
            RC_ASSERT((!changed || (r16(at) >= 1 && r16(at) <= 4095 && r16(at + 2) >= 1 && r16(at + 2) <= 4095 &&
                                    (r16(at + 4) == 30 || r16(at + 4) == 60 || r16(at + 4) == m.edidOpened[2]))));
            ++g_seen[changed ? "EDID saved on the panel" : !timingAsOpened ? "refused: the EDID was changed" : "EDID save refused or unchanged"];
        }
        if (!g_edidset || g_edidset->ui_seltype == 0)
            m.edid = false;
    } else if (page == 4 && key == PanelKey::Ok && t == 1 && button <= 1 && savedBefore && shownSlot != kept[size_t(mode)]) {
        // The slot changed since the screen drew it and no notification said so: Invoke and
        // Delete are refused, and the screen says why.
        RC_ASSERT(!wrote);
        RC_ASSERT((g_custommode && g_custommode->label_refuse->isVisibleTo(g_custommode)));
        ++g_seen["refused: the mode was changed"];
    } else if (page == 4 && key == PanelKey::Ok && t == 1 && button == 0 && wrote) {
        // A recall loads the slot the operator saw, and names it.
        RC_ASSERT(std::memcmp(after.data() + P::kModeArea, kept[size_t(mode)].data() + 2, P::kModeAreaLength) == 0);
        RC_ASSERT(P::get16(after.data() + P::kCurrentMode) == mode + 1);
        ++g_seen["mode recalled on the panel"];
    } else if (page == 4 && key == PanelKey::Ok && t == 1 && button == 1 && wrote) {
        RC_ASSERT(((left[size_t(mode)][0] != 0xAA || left[size_t(mode)][1] != 0xAA) && P::get16(after.data() + P::kCurrentMode) != mode + 1 && (!slot_saved(mode) || P::get16(after.data() + P::kModeSaveRequest) == mode + 1)));
        ++g_seen[slot_saved(mode) ? "mode deleted on the panel, then saved by the PC's request that awaited its apply" : "mode deleted on the panel"];
    } else if (page == 1 && key == PanelKey::Ok && t == 0 && menu == 4) {
        RC_ASSERT(r16(P::kKeyLock) == (P::get16(before.data() + P::kKeyLock) ? 0 : 1));
        ++g_seen[waiting ? "keys locked or freed on the panel, a PC's write waiting" : "keys locked or freed on the panel"];
    } else if (page == 1 && key == PanelKey::Ok && t == 1 && menu <= 1) {
        // The dark tool flips the LED-dark word between 0 and 1; the sound tool the audio
        // window's sound (one past the records or switched off hands it to window 0); both for
        // the scaler to apply.
        const int aw = before[size_t(P::kAudioWindow)], w = aw > 5 || !P::get16(before.data() + layer(aw) + P::kLayerFlags) ? 0 : aw;
        const bool on = before[size_t(layer(w) + P::kLayerSound)] & 0x80;
        RC_ASSERT(applied == 1);
        RC_ASSERT((menu != 0 || (r16(P::kScreenDark, after.data()) == (P::get16(before.data() + P::kScreenDark) + 1) % 2 &&
                                 only_changed(before, {{P::kScreenDark, 2}}, after.data()))));
        RC_ASSERT((menu != 1 || (after[size_t(layer(w) + P::kLayerVolume)] == (on ? 0 : 255) && after[size_t(layer(w) + P::kLayerSound)] == (on ? 0 : 0x80) &&
                                 (w == aw || r16(P::kAudioWindow, after.data()) == 0) &&
                                 only_changed(before, {{P::kAudioWindow, w == aw ? 0 : 2}, {layer(w) + P::kLayerVolume, 2}}, after.data()))));
        ++g_seen[menu == 0 ? "LED screen dark from the tool bar" : w == aw ? "sound from the tool bar" : "sound from the tool bar, handed to window 0"];
    } else if (page == 1 && key == PanelKey::Ok && t == 2 && wrote) {
        // A recall loads the slot as it was; a save stores the block into the slot chosen.
        RC_ASSERT((!calling || (std::memcmp(after.data() + P::kModeArea, kept[size_t(mode)].data() + 2, P::kModeAreaLength) == 0 &&
                                P::get16(after.data() + P::kCurrentMode) == mode + 1)));
        RC_ASSERT((calling || (slot_saved(mode) && std::memcmp(para()->ram + P::kModeArea, para()->mode_slot[mode] + 2, P::kModeAreaLength) == 0 &&
                               r16(P::kCurrentMode) == mode + 1)));
        ++g_seen[calling ? "mode recalled from the tool bar" : "mode saved from the tool bar"];
    }
    // A layout step selects the window it shows (the keypad lights it).
    RC_ASSERT((page != 9 || (key != PanelKey::Left && key != PanelKey::Right) || !g_imagelayout || g_image_current == g_imagelayout->ui_select));
    if (wrote)
        ++g_writes[page][0];
    // The user-mode screen draws its slot again on a move, on opening a saved mode's buttons,
    // on leaving them, and after an Invoke or Delete that was carried out.
    if (page == 4 && (key == PanelKey::Left || key == PanelKey::Right || (key == PanelKey::Back && t == 1) ||
                      (key == PanelKey::Ok && t == 0 && savedBefore) || (key == PanelKey::Ok && t == 1 && button <= 1 && wrote)))
        g_shown_slots = mode_slots();
    if (front() != target)
        ++g_seen["back to the front"];
    para()->wait_mode_files();   // a save the key asked for, shown once made
    kel_test::settle();
    if (!g_pending)
        check_front(m);
    return wrote;
}

// The screen on that page opened afresh, over the main menu.
void open_page(int page)
{
    if (g_pending)
        notify(g_pending);
    close_all();
    g_mainwindow->show();
    g_page_focus = 1;
    g_mainwindow->language_changed();
    pages(page);
    if (page == 13)
        led_drawn(true);
    g_shown_slots = mode_slots();
    ++g_seen["screen " + std::to_string(page)];
    RC_LOG() << "open page " << page << "\n";
}

// Steps a drawn seed once failed on, played now and then in every run, by name.
const char* const kNamedCases[] = {
    // A PC's window change and mode save both await their apply; OK on the advanced menu's
    // first entry, and while that screen is open a PC's language change is applied, which
    // carries the save out: the mode word is the PC's, the menu wrote nothing.
    "a PC's save carried out under the advanced menu",
    // A PC changes the language while the input screen is in front of the main menu; Back
    // comes to the main menu, re-texted.
    "the main menu re-texted under a child",
};

void named_case(int which)
{
    Model m;
    ++g_seen[std::string("named: ") + kNamedCases[which]];
    RC_LOG() << "named case " << which << "\n";
    if (which == 0) {
        open_page(12);
        g_applyNow = true;   // the keys free
        pc([](uint8_t* ram) { P::put16(ram + P::kKeyLock, 0); });
        const int slot = in_range(0, P::kModeSlots);
        pc([](uint8_t* ram) { P::put16(ram + layer(1) + P::kLayerSource, 1); }, 1, true);
        pc([slot](uint8_t* ram) { P::put16(ram + P::kModeSaveRequest, uint16_t(slot + 1)); }, 1, true);
        g_meanwhile = 10;
        press(m, PanelKey::Ok);
        g_meanwhile = -1, g_applyNow = false;
        RC_ASSERT(slot_saved(slot));
        RC_ASSERT(r16(P::kCurrentMode) == slot + 1);
    } else if (which == 1) {
        open_page(3);
        g_applyNow = true;
        pc([lang = (language() + in_range(1, 5)) % 5](uint8_t* ram) { ram[P::kLanguage] = uint8_t(lang); });
        g_applyNow = false;
        for (int i = 0; i < 4 && g_page_focus != 1 && front(); ++i)
            press(m, PanelKey::Back);
        RC_ASSERT(g_page_focus == 1);
    }
}

// One move of the operator: a key, or on to an item of the level in front and OK.
void act(Model& m, bool single)
{
    const int page = g_page_focus;
    const int level = ::level();
    const auto until = [&](int n, PanelKey k, auto done) { for (int i = 0; i < n && front() && !done(); ++i) press(m, k); };   // n keys at most
    const auto step = [&](int n, PanelKey k) { until(n, k, [] { return false; }); };
    if (page == 9 || single) {
        const bool panel = (page == 7 && level >= 2) || (page == 8 && level == 1);
        const int left = page == 9 ? 3 : panel ? 4 : 1, right = page == 9 ? 3 : level == 1 ? 3 : 1, ok = page == 9 ? 0 : 5;
        const PanelKey keys[] = {PanelKey::Left, PanelKey::Right, PanelKey::Ok, PanelKey::Back, PanelKey::Mode};
        press(m, keys[weighted({left, right, ok, 1, page == 1 ? 3 : 0})]);
        return;
    }
    MainWindow* mw = g_mainwindow;
    if (page == 1 && level == 1 && in_range(0, 8) == 0) {
        press(m, PanelKey::Back);   // off the tool bar, to the lock
        return;
    }
    if (page == 1 && in_range(0, 8) == 0) {   // the mode key, the keys locked or not
        press(m, PanelKey::Mode);
        return;
    }
    if (page == 1 && level <= 1) {   // the lock, or a tool: dark, sound, recall, save
        const int to = level == 0 ? one_of({4, 5, 5}) : one_of({0, 1, 0, 1, 2, 3, 2, 3});
        if (to == 4 && in_range(0, 2) == 0)   // a PC's lock word awaiting its apply as the operator goes to the lock
            pc([](uint8_t* ram) { P::put16(ram + P::kKeyLock, uint16_t(one_of({0, 1, 2, 255}))); }, 1, true);
        until(8, PanelKey::Right, [&] { return g_page_focus != 1 || mw->ui_select == to; });
    } else if (page == 3 && level >= 1) {   // a tab, mostly another input than the window's, then an entry
        InputChoose* c = g_inputchoose;
        const int src = r16(layer(c->image_id) + P::kLayerSource);
        const int input = src & 0x8000 ? r16(crop_at(src & 0xFF)) & 0xF : src;
        const int entries = 1 + int(crops_of(c->source_number).size());
        if (level == 2 && entries == 1 && c->source_number == input) {
            press(m, PanelKey::Back);
            return;
        }
        step(in_range(0, level == 1 ? 4 : entries), PanelKey::Right);
        until(4, PanelKey::Right, [&] { return level != 1 || !g_inputchoose || g_inputchoose->source_number != input || !in_range(0, 4); });
    } else if (page == 1) {   // a mode
        for (int i = 0, n = in_range(int(page == 3 && level == 2), 5); i < n && front(); ++i)
            press(m, one_of({PanelKey::Left, PanelKey::Right}));
    } else if (page == 3) {   // on to a window's row, often another one
        step(in_range(0, 3), PanelKey::Right);
        until(4, PanelKey::Right, [] { return !g_inputchoose || g_inputchoose->ui_select < g_inputchoose->image_num; });
    } else if (page == 4 && level == 0) {   // on to a saved mode
        step(in_range(0, 3), PanelKey::Right);
        bool any = false;
        for (int k = 0; k < P::kModeSlots; ++k)
            any = any || slot_saved(k);
        until(16, PanelKey::Right, [&] { return !any || !g_custommode || slot_saved(g_mode_select); });
    } else if (page == 4) {   // Invoke, or Delete where Invoke would change nothing; More now and then
        const bool same = r16(P::kCurrentMode) == g_mode_select + 1 &&
                          std::memcmp(para()->ram + P::kModeArea, para()->mode_slot[g_mode_select] + 2, P::kModeAreaLength) == 0;
        step(in_range(0, 6) == 0 ? 2 : same, PanelKey::Right);
        if (one_of({0, 0, 1}) == 1)   // the slot shown changed meanwhile
            change_slot_unannounced(g_mode_select);
    } else if (page == 7 && level == 1) {   // the add button (no move), a crop (two moves on), the last (one back)
        const int moves = one_of({2, 3, 0, -1, 4});
        step(std::abs(moves), moves < 0 ? PanelKey::Left : PanelKey::Right);
    } else if (page == 7 && level >= 2) {   // Left from X reaches OK, Cancel, Delete
        const int button = one_of({6, 4, 6, 6, 4, 5});
        until(8, PanelKey::Left, [&] { return !g_inputcut || g_inputcut->ui_select - g_inputcut->panel_n == button; });
    } else if (page == 8 && level == 1 && m.edidLost && in_range(0, 2)) {   // a PC changed the timing: closed, to open again
        press(m, PanelKey::Back);
        return;
    } else if (page == 8 && level == 1) {   // a field, the rate, or Save once something was changed
        const bool refused = g_edidset->label_refuse->isVisibleTo(g_edidset);
        const int to = m.edidLost ? 5 : refused ? one_of({0, 1}) : m.edited ? one_of({5, 5, 5, 2}) : one_of({0, 1, 2, 2, 5});
        until(8, PanelKey::Left, [&] { return !g_edidset || g_edidset->ui_line_select == to; });
    } else if (page == 8 && level == 2) {
        step(in_range(0, 4), PanelKey::Right);
    } else if (page == 13) {   // on to a field, now and then to the way back
        const int to = one_of({0, 1, 0, 1, 3});
        until(4, PanelKey::Right, [&] { return !g_ledset || g_ledset->ui_select == to; });
    } else if (page == 12) {   // on to an entry, the ageing log's and the card recovery's often
        const int to = one_of({0, 1, 2, 3, 3, 3, 4, 4});
        until(8, PanelKey::Right, [&] { return !g_advancedoption || g_advancedoption->ui_select == to; });
    }
    if (front())
        press(m, page == 8 && level == 2 && in_range(0, 2) == 0 ? PanelKey::Back : PanelKey::Ok);
}

// A letter key of the keypad, which every screen hands on: while the keys are locked (a PC's
// lock word awaiting its apply too) it changes nothing; else B C E F select their window
// when it is on, I J K L put input 3 0 1 2 on the window selected, N freezes it (when on),
// P blacks it, D G H do nothing.
void letter_key(Model& m)
{
    // N on a window switched off and P on one already black are drawn often: N must leave it
    // alone, a second P must take the black back.
    const int off = !(r16(layer(g_image_current) + P::kLayerFlags) & 1), blacked = r16(layer(g_image_current) + P::kLayerOutput) & 1;
    const int way = weighted({12, blacked ? 12 : 1, off ? 12 : 1}), key = way == 1 ? 80 : way == 2 ? 78 : one_of({66, 67, 69, 70, 73, 74, 75, 76, 78, 80, 68, 71, 72});
    if (in_range(0, 3) == 0)   // a PC locks or frees the keys first
        pc([&](uint8_t* ram) { P::put16(ram + P::kKeyLock, uint16_t(one_of({0, 0, 1, 2, 255}))); });
    const Block before = ram_now();
    const int selected = g_image_current, locked = r16(P::kKeyLock) != 0;
    const int at = layer(selected), flags = r16(at + P::kLayerFlags), output = r16(at + P::kLayerOutput);
    g_signals.clear();
    kel_test::sendKey(key, front());
    ++g_seen[locked ? "letter key while locked" : key == 80 && blacked ? "P on a black window" : key == 78 && off ? "N on a window off" : "letter key"];
    RC_LOG() << "letter key " << key << (locked ? " locked" : "") << "\n";
    const int window = key == 66 ? 0 : key == 67 ? 1 : key == 69 ? 2 : key == 70 ? 3 : -1;
    const int port = key >= 73 && key <= 76 ? (key - 70) % 4 : -1;
    const bool freeze = key == 78 && !locked && (flags & 1), black = key == 80 && !locked;
    RC_ASSERT(only_changed(before, port >= 0 && !locked ? std::vector<std::pair<int, int>>{{at + P::kLayerSource, 2}, {P::kCurrentMode, 2}}
                                                        : std::vector<std::pair<int, int>>{{at + P::kLayerOutput, freeze || black ? 2 : 0}}));
    RC_ASSERT(int(g_image_current) == (!locked && window >= 0 && (r16(layer(window) + P::kLayerFlags, before.data()) & 1) ? window : selected));
    RC_ASSERT((port < 0 || locked || r16(at + P::kLayerSource) == port));
    RC_ASSERT(r16(at + P::kLayerOutput) == (output ^ (freeze ? 2 : 0) ^ (black ? 1 : 0)));
    after_key(m, before, false);
    if (!g_pending)
        check_front(m);
}

// A key alone, or a gesture: the moves that end in a write (into the list, the item, the
// panel and its OK); PC changes fall between gestures.
void key_step(Model& m)
{
    const int page = g_page_focus;
    if (in_range(0, 6) == 0) {
        act(m, true);
        return;
    }
    for (int i = 0; i < 10 && g_page_focus == page && front(); ++i) {
        const std::map<int, std::array<int, 2>> before = g_writes;
        act(m, false);
        if (g_writes != before || in_range(0, 3) == 0)   // or a PC's change comes between
            break;
    }
}

} // namespace

TEST_F(InputScreenTest, PanelFollowsThePcAndWritesOnlyWhatTheOperatorChose)
{
    // The check-mark toast runs a loop of its own for 3 s of ticks: its time is up at once.
    // Any other loop left open (one the steps did not expect) is closed and counted.
    QTimer guard;
    int stray = 0, turns = 0;
    QObject::connect(&guard, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        turns = modal ? turns + 1 : 0;
        if (modal && (modal == g_tip || turns > 2000)) {
            stray += modal != g_tip;
            g_tip_flag = 0;
            modal->hide();
        }
    });
    guard.start(0);
    g_root = &root;
    // The notifications the program sends itself (a key's, a stored file's) are handled as
    // the steps come to them.
    const QMetaObject::Connection sent = QObject::connect(para(), &KelRamPara::sig_update_para, [](int code) { g_signals.push_back(code); });
    kel_test::checkProperty("the panel shows the RAM and writes only what was chosen", [&] {
        g_size = int(*rc::gen::withSize([](int size) { return rc::gen::just(int64_t(size)); }));
        close_all(), SetUp();   // what a case before left (a failed one too) leaves no choice to this one
        if (tool_bar())   // the main menu as the program starts it
            g_mainwindow->on_tools_clicked();
        g_mainwindow->menulist_init(), g_mode_select = 0;
        std::filesystem::remove(root.host("/data/configs/alias.json"));
        g_alias = false;
        g_pending = 0, g_meanwhile = -1, g_applyNow = false;   // a case that failed mid-way leaves none
        RC_ASSERT(ConfigEngine::pInstance()->write_config_variant(ConfigItem::IPAddress, QStringLiteral("192.168.0.199")));
        Utils::getIPAddress();
        // Saved modes with windows switched on and off (a flags word of 0 or 1, as the
        // screens agree on it) and sound on in some; inputs with and without a signal.
        for (int s = 0; s < 4; ++s) {
            if (!in_range(0, 3))
                continue;
            save_slot(s, 0);
            for (int w = 0; w < 4; ++w) {
                slot_put16(s, layer(w) + P::kLayerFlags, unsigned(in_range(0, 2)));
                slot_put16(s, layer(w) + P::kLayerVolume, in_range(0, 2) ? 0x8000u : 0u);
            }
            slot_put16(s, P::kBrightness, unsigned(10 * s));
        }
        for (int p = 0; p < 4; ++p) {
            set_window(p, p == 0 || in_range(0, 2), unsigned(p), one_of({0u, 0u, 1u}));   // some black
            para()->ram[layer(p) + P::kLayerSound] = uint8_t(one_of({0, 0x80}));
            if (in_range(0, 2))
                set_input(p, 1920, 1080, 60);
            for (int f = 0; f < 3; ++f)   // the timings asked of the inputs
                put16(P::kEdid + 6 * p + 2 * f, unsigned(f == 0 ? 1920 : f == 1 ? 1080 : one_of({60, 50, 30, 50, 24})));
        }
        // Crops of HDMI1 and HDMI2; now and then all 40 records HDMI1's.
        const bool full = in_range(0, 4) == 0;
        for (int r = 0, n = full ? P::kCropCount : in_range(0, 6); r < n; ++r)
            set_crop(r, full ? 1 : 1 + r % 2, full ? 1 + r : 1 + r / 2, 640 + r, 480);
        para()->ram[P::kAudioWindow] = uint8_t(one_of({0, 1, 6, 6, 7}));   // 6 and 7: past the windows
        put16(P::kScreenDark, unsigned(one_of({0, 0, 1, 1, 2, 255})));   // 1 dark, 2 all frozen
        put16(P::kLedWidth, unsigned(one_of({1920, 3840, 1024}))), put16(P::kLedHeight, unsigned(one_of({1080, 2160, 768})));
        mark_saved();
        g_drawn = g_applied = ram_now();
        g_led_set = led_size(para()->ram);
        g_signals.clear();
        std::filesystem::remove_all(root.host("/data/rcvrecovery"));   // every case starts without a package
        std::filesystem::create_directories(root.host("/data/rcvrecovery"));
        Model m;
        g_seen.clear();
        const int steps = in_range(5, 60);
        for (int i = 0; i < steps; ++i) {
            // The home, output and network screens take no keys here but the letter
            // keys: another screen opens soon.
            const int at = g_page_focus;
            const bool keys = front() && at != 0 && at != 6 && at != 22;
            if (!front() || weighted({keys ? 20 : 4, 1})) {
                m = Model{}, open_page(one_of({7, 0, 1, 3, 4, 7, 8, 9, 3, 7, 1, 6, 4, 8, 0, 9, 12, 13, 18, 22, 18, 12, 22, 13, 0, 0}));
            } else if (in_range(0, 40) == 0) {
                m = Model{}, named_case(one_of({0, 1}));
            } else {
                ++g_writes[g_page_focus][1];
                if (in_range(0, 8) == 0)
                    letter_key(m);
                else if (!keys || in_range(0, 5) == 0)
                    pc_step(m);
                else
                    key_step(m);
            }
            if (!g_pending)
                check_front(m);
        }
        close_all();
        RC_ASSERT(stray == 0);
        for (const auto& s : g_seen)
            g_total[s.first] += s.second;
        RC_CLASSIFY(g_seen.count("refused: the held crop is gone or changed") || g_seen.count("refused: the chosen window is gone") ||
                    g_seen.count("refused: the EDID was changed"), "a write refused");
        RC_CLASSIFY(g_seen.count("a PC write awaiting its apply"), "a PC write awaiting its apply");
        RC_CLASSIFY(g_seen.count("back to the front"), "back to the front");
        RC_CLASSIFY(g_seen.count("crop deleted") && g_seen.count("crop added"), "crops deleted and added");
        RC_CLASSIFY(g_seen.count("language") && g_seen.count("alias names"), "language and alias names");
        RC_CLASSIFY(g_seen.count("factory reset, LED size changed"), "a factory reset with a new LED size");
        RC_CLASSIFY(g_seen.count("refused: the mode was changed"), "a changed mode refused");
    }, {50, 60});
    QObject::disconnect(sent);
    std::string spread;
    for (const auto& s : g_total)
        spread += "  " + s.first + ": " + std::to_string(s.second) + "\n";
    std::cout << "steps met over the run:\n" << spread << "panel writes by screen (writes / steps in front):\n";
    for (const auto& w : g_writes)
        std::cout << "  screen " << w.first << ": " << w.second[0] << " / " << w.second[1] << "\n";
}
