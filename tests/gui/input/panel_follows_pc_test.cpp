// The panel shows what the device holds and writes only what the operator chose: random
// interleavings of PC changes (windows, crops, user modes, the sound, EDID timings, the
// language) with panel keys on the home, main-menu, input, crop, EDID, layout and user-mode
// screens. Every value a screen in front shows is read back against the parameter RAM after
// every step; every key's write is checked against the object the operator had chosen.
#include "gui/input/custommode.h"
#include "gui/input/edidset.h"
#include "gui/input/imagelayout.h"
#include "gui/input/inputchoose.h"
#include "gui/input/inputcut.h"
#include "gui/kel_keys.h"
#include "gui/lockwindow.h"
#include "gui/syncupdate.h"
#include "gui/tip.h"
#include "tests/gui/input/input_fixture.h"
#include "tests/support/PropertyCheck.h"
#include "tests/support/Screens.h"
#include "ui_custommode.h"
#include "ui_imagelayout.h"
#include "ui_inputchoose.h"
#include "ui_inputcut.h"
#include "ui_lockwindow.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <iostream>
#include <map>
#include <string>
#include <vector>

using namespace input_test;
using kel_test::PanelKey;

namespace {

const char* const kName[4] = {"DVI", "HDMI1", "HDMI2", "HDMI3"};   // by port
const int kTabPort[4] = {1, 2, 3, 0};                                 // the tabs' order
using Block = std::array<uint8_t, P::kRamSize>;
// What the case met, step by step; the run's total is printed at its end.
std::map<std::string, int> g_seen, g_total;

int r16(int at) { return P::get16(para()->ram + at); }
int crop_at(int r) { return P::kCropRecords + P::kCropRecordSize * r; }
bool shown(int w) { return w == 0 || para()->ram[layer(w)] == 1; }

struct Crop { int record, number; std::array<int, 4> rect; };

// The port's crops in the order of their numbers, as the lists show them.
std::vector<Crop> crops_of(int port)
{
    std::vector<Crop> out;
    for (int n = 1; n <= P::kCropCount; ++n)
        for (int r = 0; r < P::kCropCount; ++r)
            if (r16(crop_at(r)) == (0x8000 | ((n - 1) << 8) | port))
                out.push_back({r, n, {r16(crop_at(r) + 2), r16(crop_at(r) + 4), r16(crop_at(r) + 6), r16(crop_at(r) + 8)}});
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

// The level of the screen in front: in a list, in a panel.
int level()
{
    const int page = g_page_focus;
    return page == 7 ? g_inputcut->ui_seltype : page == 3 ? g_inputchoose->ui_seltype : page == 8 ? g_edidset->ui_seltype
         : page == 4 ? g_custommode->edit_state : 0;
}

// What the operator chose and whether it is still there, followed through the PC's changes.
struct Model {
    bool held = false, lost = false;   // the crop panel's crop
    int heldPort = 0;
    Crop crop{};
    int window = -1;                   // the input screen's window, -1 when gone
    void pc_changed()
    {
        if (held && !lost) {
            lost = true;
            for (const Crop& c : crops_of(heldPort))
                lost = lost && !(c.number == crop.number && c.rect == crop.rect);
        }
        if (window >= 0 && !shown(window))
            window = -1;
    }
};

QWidget* front()   // by page number
{
    QWidget* const screens[10] = {g_lockwindow, g_mainwindow, nullptr, g_inputchoose, g_custommode, nullptr, nullptr, g_inputcut, g_edidset, g_imagelayout};
    return g_page_focus >= 0 && g_page_focus < 10 ? screens[g_page_focus] : nullptr;
}

// Each value the screen in front shows against the RAM.
void check_front(const Model& m)
{
    const uint8_t* ram = para()->ram;
    if (g_page_focus == 0 && g_lockwindow) {
        LockWindow* l = g_lockwindow;
        RC_ASSERT(l->ui->label_bright->text() == QString::number(r16(P::kBrightness)));
        RC_ASSERT(l->ui->label_volume_icon->property("iconPath").toString() == (sound_on() ? ":/png/volume_open.png" : ":/png/volume_close.png"));
        for (int w = 0; w < 4; ++w)   // a window switched off names no source
            RC_ASSERT(l->image_name[w]->text() == (shown(w) ? source_name(w) : QString()));
    } else if (g_page_focus == 1) {
        RC_ASSERT(g_mainwindow->findChild<QPushButton*>("toolButton2")->property("iconPath").toString() == kel_icon(sound_on() ? "unslience" : "slience"));
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
        RC_ASSERT((m.window < 0 || c->ui_seltype == 0 || c->image_id == m.window));
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
            got.removeFirst();   // the input itself
        RC_ASSERT(got == want);
        RC_ASSERT((!(m.held && m.lost) || c->label_refuse->isVisibleTo(c)));
    } else if (g_page_focus == 8 && g_edidset) {
        const int at = P::kEdid + 6 * g_edidset->source_id;
        RC_ASSERT(g_edidset->card_format->text() ==
                  QStringLiteral("%1x%2@%3Hz").arg(int16_t(r16(at))).arg(int16_t(r16(at + 2))).arg(int16_t(r16(at + 4))));
    } else if (g_page_focus == 9 && g_imagelayout) {
        const Ui::ImageLayout* ui = g_imagelayout->ui;
        const int at = layer(g_imagelayout->ui_select) + P::kLayerWindow;
        RC_ASSERT((QStringList{ui->lineEdit_X->text(), ui->lineEdit_Y->text(), ui->lineEdit_W->text(), ui->lineEdit_H->text()}) ==
                  (QStringList{QString::number(r16(at)), QString::number(r16(at + 2)), QString::number(r16(at + 4)), QString::number(r16(at + 6))}));
    } else if (g_page_focus == 4 && g_custommode) {
        CustomMode* c = g_custommode;
        const int s = g_mode_select;
        RC_ASSERT(c->ui->label_blank->isVisibleTo(c) == !slot_saved(s));
        RC_ASSERT((c->ui->label_using->isVisibleTo(c) == (slot_saved(s) && ram[P::kCurrentMode] == s + 1)));
    }
}

void close_all()
{
    delete g_inputcut, delete g_edidset, delete g_inputchoose, delete g_custommode, delete g_imagelayout, delete g_lockwindow;
    g_inputcut = nullptr, g_edidset = nullptr, g_inputchoose = nullptr, g_custommode = nullptr, g_imagelayout = nullptr, g_lockwindow = nullptr;
    kel_test::settle();
}

// A PC's write into the block, then the notification that follows it; the scaler has
// applied whatever was pending.
template <typename Write>
void pc(Write write, int code = 1)
{
    {
        std::unique_lock<std::mutex> block = P::lock_block();
        write(para()->ram);
    }
    c331_manage::p_c331_manage->c331_apply_flag = 0;
    para()->pc_edit_pending = 0;
    SyncUpdate::pInstance()->para_sync(code);
}

void pc_step(Model& m)
{
    const auto in = [](int low, int high) { return *rc::gen::inRange(low, high + 1); };
    const auto any16 = [&] { return *rc::gen::weightedOneOf<int>({{4, rc::gen::inRange(0, 2000)}, {1, rc::gen::element(0, 1, 65535, 4095)}}); };
    static const char* const kKind[] = {"window on/off", "window source", "window rectangle", "crop added", "crop deleted", "crop resized",
                                        "mode ", "audio window", "sound", "EDID timing", "language", "notification alone"};
    const int kind = *rc::gen::weightedOneOf<int>({{4, rc::gen::just(0)}, {3, rc::gen::just(1)}, {2, rc::gen::just(2)}, {4, rc::gen::just(3)},
                                                   {4, rc::gen::just(4)}, {2, rc::gen::just(5)}, {2, rc::gen::just(6)}, {2, rc::gen::just(7)},
                                                   {2, rc::gen::just(8)}, {3, rc::gen::just(9)}, {2, rc::gen::just(10)}, {1, rc::gen::just(11)}});
    std::string seen = kKind[kind];
    // What the operator holds is picked often: the window, the crop and its input.
    const bool aim = *rc::gen::inRange(0, 2) == 0;
    const int w = aim && m.window >= 0 ? m.window : in(0, 3), port = aim && m.held ? m.heldPort : in(0, 3);
    std::vector<Crop> all;
    for (int p = 0; p < 4; ++p)
        for (const Crop& c : crops_of(p))
            all.push_back(c);
    Crop pick = all.empty() ? Crop{-1, 0, {}} : all[size_t(in(0, int(all.size()) - 1))];
    // The held crop, or another of its input (whose deletion moves the held one's place).
    const bool other = *rc::gen::inRange(0, 2);
    for (const Crop& c : aim && m.held ? crops_of(m.heldPort) : std::vector<Crop>())
        if ((c.number == m.crop.number) != other) {
            pick = c;
            break;
        }
    switch (kind) {
    case 0:   // a window on or off
        pc([&](uint8_t* ram) { P::put16(ram + layer(w ? w : 1), uint16_t(in(0, 1))); });
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
        const int cw = *rc::gen::element(640, 800, 16, 1920), ch = *rc::gen::element(480, 600, 1080);
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
            pc([&](uint8_t* ram) { P::put16(ram + crop_at(pick.record) + 6, uint16_t(*rc::gen::element(320, 640, 1280))); }, 103);
        break;
    case 6: {   // a mode saved (the save request), deleted or recalled
        const int s = *rc::gen::weightedOneOf<int>({{3, rc::gen::inRange(0, 4)}, {1, rc::gen::inRange(0, 16)}});
        const int op = *rc::gen::element(0, 1, 2);   // inRange leans to its low end at small sizes
        if (op == 0)   // 17: a request naming no mode
            pc([&](uint8_t* ram) { P::put16(ram + P::kModeSaveRequest, uint16_t(s + 1 + (*rc::gen::inRange(0, 8) == 0))); });
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
    case 7:
        pc([&](uint8_t* ram) { ram[P::kAudioWindow] = uint8_t(*rc::gen::weightedOneOf<int>({{6, rc::gen::inRange(0, 6)}, {1, rc::gen::inRange(6, 256)}})); });
        break;
    case 8:
        pc([&](uint8_t* ram) { ram[layer(in(0, 5)) + P::kLayerSound] ^= 0x80; });
        break;
    case 9:   // now and then the rate alone
        pc([&, rate = in(0, 2) == 0](uint8_t* ram) {
            for (int f = 0; f < 3; ++f)
                P::put16(ram + P::kEdid + 6 * port + 2 * f, uint16_t(f < 2 ? (rate ? r16(P::kEdid + 6 * port + 2 * f) : any16()) : *rc::gen::element(30, 60, 50, 24, 255)));
        });
        break;
    case 10:
        pc([&](uint8_t* ram) { ram[P::kLanguage] = uint8_t(in(0, 4)); });
        break;
    default:
        pc([](uint8_t*) {}, *rc::gen::element(1, 103));
        break;
    }
    ++g_seen[seen];
    RC_LOG() << "pc " << kind << " window " << w << " port " << port << " crop record " << pick.record << "\n";
    m.pc_changed();
}

// Whether the block differs from before only within the given ranges (offset, length).
bool only_changed(const Block& before, std::vector<std::pair<int, int>> allowed)
{
    for (int i = 0; i < P::kRamSize; ++i) {
        bool free = false;
        for (const auto& a : allowed)
            free = free || (i >= a.first && i < a.first + a.second);
        if (!free && before[size_t(i)] != para()->ram[i]) {
            RC_LOG() << "byte " << i << " changed\n";
            return false;
        }
    }
    return true;
}

// One key on the screen in front, and what it wrote checked against the operator's choice.
void press(Model& m, PanelKey key)
{
    const int page = g_page_focus;
    QWidget* target = front();
    if (!target || page <= 1)
        return;
    Block before;
    std::memcpy(before.data(), para()->ram, before.size());
    const std::vector<uint8_t> slot(para()->mode_slot[g_mode_select], para()->mode_slot[g_mode_select] + P::kModeSlotSize);
    const int mode = g_mode_select;
    std::vector<std::pair<int, int>> allowed;
    bool keypad = false;
    QString typed = QString::number(*rc::gen::weightedOneOf<int>({{4, rc::gen::inRange(1, 2000)}, {1, rc::gen::element(0, 4095, 5000)}}));
    InputCut* cut = g_inputcut;
    const int t = level();
    const int j = page == 7 ? cut->ui_select - cut->panel_n : 0;
    const int row = page == 3 ? g_inputchoose->ui_select : 0;
    const int place = page == 7 ? (cut->current_pag == 0 ? cut->ui_select - 1 : 6 * cut->current_pag + cut->ui_select) : 0;
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
            return;
        }
        if (t == 2 && key == PanelKey::Ok && m.window >= 0)
            allowed = {{layer(m.window) + P::kLayerSource, 2}, {P::kCurrentMode, 2}};
    } else if (page == 8) {
        keypad = t == 1 && key == PanelKey::Ok && g_edidset->ui_line_select <= 1;
        allowed = {{P::kEdid + 6 * g_edidset->source_id, 6}};
    } else if (page == 4) {
        allowed = {{P::kModeArea, P::kModeAreaLength}, {P::kCurrentMode, 2}};
    }
    const int button = page == 4 ? g_custommode->button_select : 0;
    const QStringList fields = page == 7 ? QStringList{cut->ui->lineEdit_X->text(), cut->ui->lineEdit_Y->text(),
                                                       cut->ui->lineEdit_W->text(), cut->ui->lineEdit_H->text()} : QStringList();
    if (keypad)
        kel_test::typeOnKeypad(typed, PanelKey::Ok, target);
    else
        kel_test::pressKey(key, 0, target);
    ++g_seen[keypad ? "key: a value typed" : key == PanelKey::Ok ? "key: OK" : key == PanelKey::Back ? "key: Back" : "key: left/right"];
    RC_LOG() << "page " << page << " level " << t << " key " << int(key) << (keypad ? " typed " + typed.toStdString() : "") << "\n";
    RC_ASSERT(only_changed(before, allowed));

    if (page == 7) {
        // The crop records that changed.
        std::vector<int> changed;
        for (int r = 0; r < P::kCropCount; ++r)
            if (std::memcmp(before.data() + crop_at(r), para()->ram + crop_at(r), P::kCropRecordSize) != 0)
                changed.push_back(r);
        const bool write = key == PanelKey::Ok && !keypad && t >= 2 && (j == 6 || j == 4);
        if (t == 1 && key == PanelKey::Ok && g_inputcut && g_inputcut->ui_seltype == 3) {
            const std::vector<Crop> crops = crops_of(g_inputcut->source_id);
            RC_ASSERT((place >= 1 && place <= int(crops.size())));
            m.held = true, m.lost = false, m.heldPort = g_inputcut->source_id, m.crop = crops[size_t(place - 1)];
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
            if (m.window < 0)
                ++g_seen["refused: the chosen window is gone"];
            else if (r16(layer(m.window) + P::kLayerSource) != P::get16(before.data() + layer(m.window) + P::kLayerSource))
                ++g_seen["window switched on the panel"];
        }
        if (!c || c->ui_seltype == 0)
            m.window = -1;
    } else if (page == 4 && key == PanelKey::Ok && t == 1 && button == 0 && std::memcmp(before.data(), para()->ram, before.size()) != 0) {
        // A recall loads the slot the operator saw, and names it.
        RC_ASSERT(std::memcmp(para()->ram + P::kModeArea, slot.data() + 2, P::kModeAreaLength) == 0);
        RC_ASSERT(r16(P::kCurrentMode) == mode + 1);
        ++g_seen["mode recalled on the panel"];
    }
    if (front() != target)
        ++g_seen["back to the front"];
    kel_test::settle();
    check_front(m);
}

// A key, or what an operator does in one go: into a crop's or an entry's panel, on to a
// button of it and OK. PC changes fall between such steps.
void key_step(Model& m)
{
    const int page = g_page_focus;
    const int level = ::level();
    if (page == 9 || *rc::gen::inRange(0, 3) == 0) {
        const bool panel = (page == 7 && level >= 2) || (page == 8 && level == 1);
        const int left = page == 9 ? 3 : panel ? 4 : 1, right = page == 9 ? 3 : level == 1 ? 3 : 1, ok = page == 9 ? 0 : 5;
        const auto just = [](PanelKey k) { return rc::gen::just(k); };
        press(m, *rc::gen::weightedOneOf<PanelKey>({{left, just(PanelKey::Left)}, {right, just(PanelKey::Right)},
                                                     {ok, just(PanelKey::Ok)}, {1, just(PanelKey::Back)}}));
        return;
    }
    // Into the crop list: the add button (no move), a crop (two moves on), the last (one back).
    const int moves = page == 7 ? *rc::gen::element(2, 3, 0, -1, 4) : *rc::gen::inRange(0, 4);
    if ((page == 7 && level == 1) || (page == 3 && level == 2) || (page == 4 && level == 1))
        for (int i = 0; i < std::abs(moves); ++i)
            press(m, moves < 0 ? PanelKey::Left : PanelKey::Right);
    if (page == 7 && level >= 2) {   // Left from X reaches OK, Cancel, Delete
        const int button = *rc::gen::element(6, 4, 6, 4, 5);
        for (int i = 0; i < 8 && g_inputcut && g_inputcut->ui_select - g_inputcut->panel_n != button; ++i)
            press(m, PanelKey::Left);
    }
    if (page == 8 && level == 1)
        for (int i = 0; i < 8 && g_edidset && g_edidset->ui_line_select != 5; ++i)
            press(m, PanelKey::Left);
    press(m, PanelKey::Ok);
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
    kel_test::checkProperty("the panel shows the RAM and writes only what was chosen", [&] {
        SetUp();
        // Saved modes with windows switched on and off (a flags word of 0 or 1, as the
        // screens agree on it) and sound on in some.
        for (int s = 0; s < 4; ++s) {
            if (!*rc::gen::inRange(0, 2))
                continue;
            save_slot(s, 0);
            for (int w = 0; w < 4; ++w) {
                slot_put16(s, layer(w) + P::kLayerFlags, unsigned(*rc::gen::inRange(0, 2)));
                slot_put16(s, layer(w) + P::kLayerVolume, *rc::gen::inRange(0, 2) ? 0x8000u : 0u);
            }
            slot_put16(s, P::kBrightness, unsigned(10 * s));
        }
        // Crops of HDMI1 and HDMI2; now and then all 40 records HDMI1's.
        const bool full = *rc::gen::inRange(0, 4) == 0;
        for (int r = 0, n = full ? P::kCropCount : *rc::gen::inRange(0, 6); r < n; ++r)
            set_crop(r, full ? 1 : 1 + r % 2, full ? 1 + r : 1 + r / 2, 640 + r, 480);
        mark_saved();
        Model m;
        g_seen.clear();
        const int steps = *rc::gen::inRange(5, 60);
        for (int i = 0; i < steps; ++i) {
            // The home and main-menu screens take no keys here: another screen opens soon.
            const bool keys = front() && g_page_focus > 1;
            if (!front() || *rc::gen::weightedOneOf<int>({{1, rc::gen::just(1)}, {keys ? 20 : 2, rc::gen::just(0)}})) {
                close_all();
                m = Model{};
                const int page = *rc::gen::element(7, 0, 1, 3, 4, 7, 8, 9, 3, 7);
                g_mainwindow->show();
                g_page_focus = 1;
                g_mainwindow->language_changed();
                if (page == 0)
                    kel_test::openScreen(g_lockwindow, 0);
                if (page == 3 || page == 7 || page == 8)
                    kel_test::openScreen(g_inputchoose, 3);
                if (page == 7 || page == 8 || page == 4 || page == 9)
                    page == 7 ? (void)kel_test::openScreen(g_inputcut, 7) : page == 8 ? (void)kel_test::openScreen(g_edidset, 8)
                    : page == 4 ? (void)kel_test::openScreen(g_custommode, 4) : (void)kel_test::openScreen(g_imagelayout, 9);
                ++g_seen["screen " + std::to_string(page)];
                RC_LOG() << "open page " << page << "\n";
            } else if (!keys || *rc::gen::inRange(0, 3) == 0) {
                pc_step(m);
            } else {
                key_step(m);
            }
            check_front(m);
        }
        close_all();
        RC_ASSERT(stray == 0);
        for (const auto& s : g_seen)
            g_total[s.first] += s.second;
        RC_CLASSIFY(g_seen.count("refused: the held crop is gone or changed") || g_seen.count("refused: the chosen window is gone"), "a write refused");
        RC_CLASSIFY(g_seen.count("crop changed on the panel") || g_seen.count("crop deleted on the panel") ||
                    g_seen.count("window switched on the panel") || g_seen.count("mode recalled on the panel"), "a panel write");
        RC_CLASSIFY(g_seen.count("back to the front"), "back to the front");
        RC_CLASSIFY(g_seen.count("crop deleted") && g_seen.count("crop added"), "crops deleted and added");
    }, {50, 60});
    std::string spread;
    for (const auto& s : g_total)
        spread += "  " + s.first + ": " + std::to_string(s.second) + "\n";
    std::cout << "steps met over the run:\n" << spread;
}
