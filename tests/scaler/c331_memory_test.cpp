// Every cell of the screen reads only what its own window's captures finished, for the
// layouts, sources and follow-up changes a PC or the panel can make. What each output channel
// shows, and which captures are a window's, come from the chip's registers and the window
// records as they were set, never from the manager's tables: an output channel is mixed onto
// a cell (mixer routing words), starts and ends there (its active area), and so shows the
// record whose rectangle starts and ends there; the captures it reads are those whose
// buffers hold the lines it reads. A shown window whose ports carry a picture lights every
// cell it covers unless a named rule keeps it dark: no channel left (the windows asking for
// channels when the demand is above 8), no source, black; a frozen window reads the frame it
// held; no two buffers share a byte or reach the OSD's memory.
#include "board/SpiDevice.h"
#include "board/sim/PowerCut.h"
#include "board/sim/ScalerModel.h"
#include "board/sim/SimBoard.h"
#include "board/sim/spi/ScalerMemoryMap.h"
#include "tests/support/Emulation.h"
#include "tests/support/LockWaiter.h"
#include "tests/support/OmenuFile.h"
#include "tests/support/PropertyCheck.h"
#include "tests/support/ScalerHarness.h"

#include <array>
#include <map>
#include <memory>
#include <set>
#include <thread>

namespace {

using Map = sim::ScalerMemoryMap;
using kel_test::ScalerHarness;

// A window record: source (0-3 ports 2, 1, 0, 5; 4 none), rectangle (w = 0: record off), DBD
// word (-1: off), mirror bits, output bits (black 1, freeze 2, fade 4), priority, crop (a
// crop record's x, y, width, height; width 0: none) and the packing it asks for.
struct Win {
    int source, x, y, w, h, dbd = -1, attr = 0, out = 0, prio = 0, crop[4] = {}, packing = 0;
};
// As measured: width, height (a field's when interlaced), receiver state, interlaced, lanes,
// start offsets; width 0: no signal.
struct Port {
    int w = 1920, h = 1080, state = 4, ip = 0, lanes = 0, hst = 192, vst = 41;
};
// The panel (LED size, output 1's size, splice), the records and ports, and how the step
// reaches the chip: 0 a whole set-up (passes of set_output), 1 the apply step over the
// edited block, 2 a port that changed.
// A history (how 3): record rec pressed to `pressed` (the audio window to `audio0`) by the
// panel (via 0) or a PC applying it (1; 2: another PC then writes a word it does not apply),
// and pressed back to the step's own state (undo 1 before the apply, 2 at a chip transfer of
// it, 3 after it before the save; 0 never); the save's power cut after `cut` steps (-1 none).
struct History {
    int rec = 0, via = 0, undo = 0, cut = -1, audio0 = 0, kind = 0;
    Win pressed{};
};
struct Step {
    int ledW, ledH, out1W, out1H, splice;
    Win wins[6];
    Port ports[6];
    int how = 0, passes = 1, osd = 0, audio = 0;
    History h{};
    int sharp = 10, pattern = 0;   // the sharpness word, the test pattern byte
    bool device = false;           // a port change measured by the device (receiver, chip), not set
};

// A test pattern shows on a single window (the default one when no record is on); with more
// the windows follow their inputs.
bool patternShows(const Step& s)
{
    return s.pattern && std::count_if(std::begin(s.wins), std::end(s.wins), [](const Win& w) { return w.w != 0; }) <= 1;
}

// What the chip shows for a step: with no record on, its preset window (the whole panel, the
// first input, plain) in entry 0.
Step shownOf(Step s)
{
    if (std::none_of(std::begin(s.wins), std::end(s.wins), [](const Win& w) { return w.w != 0; }))
        s.wins[0] = Win{0, 0, 0, s.ledW, s.ledH};
    return s;
}

// The ports a record shows: its source's, or those its DBD word joins.
std::set<int> portsOf(const Win& w)
{
    static const std::set<int> joined[10] = {{}, {0, 1}, {0, 1}, {2, 3}, {2, 3}, {0, 1, 2}, {0, 1, 2, 3}, {0, 1, 2, 3}, {4, 5}, {4, 5}};
    static const int port[4] = {2, 1, 0, 5};
    return w.dbd > 0 ? joined[w.dbd] : w.source < 4 ? std::set<int>{port[w.source]} : std::set<int>{};
}
int sourcePort(const Win& w)
{
    static const int port[4] = {2, 1, 0, 5};
    return w.source < 4 ? port[w.source] : -1;
}
// The ports a record uses: those it shows and its source's (a joined record's size and signal).
std::set<int> usedPorts(const Win& w)
{
    std::set<int> p = portsOf(w);
    return sourcePort(w) < 0 ? p : (p.insert(sourcePort(w)), p);
}
// The part of its port's picture a record shows (x, width, y, height): its crop record's
// margins within the picture (a margin past the edge counts as none, a crop left empty as the
// whole picture), in pixels of the line the port carries and lines of its field.
std::array<int, 4> inputOf(const Step& s, const Win& w)
{
    const int p = std::max(sourcePort(w), 0);
    const Port& q = s.ports[p];
    const int W = q.w * (p >= 4 && q.state < 4 ? 2 : 1), H = q.h;
    auto part = [](int from, int size, int whole) {
        const int cut = whole - from - std::max(whole - (from + size), 0);
        return cut > 0 ? std::make_pair(from < whole ? from : 0, cut) : std::make_pair(0, whole);
    };
    const auto [x, cw] = w.crop[2] ? part(w.crop[0], w.crop[2], W) : std::make_pair(0, W);
    const auto [y, ch] = w.crop[2] ? part(w.crop[1], w.crop[3], H) : std::make_pair(0, H);
    return {x, cw, y, ch};
}
// The records given channels (all shown ones, or none when they ask for more than 8), and of
// them those left without memory: in window order each takes the next units of the six its
// join asks for (a single input too large for a channel's buffers 1, 2 on V-by-One) while they
// remain.
int demandOf(const Win& w);
std::pair<std::set<int>, std::set<int>> handedOut(const Step& s)
{
    std::set<int> given, without;
    int demand = 0, next = 0;
    for (const Win& w : s.wins)
        demand += w.w ? demandOf(w) : 0;
    for (int k = 0; k < 6 && demand <= 8; ++k) {
        const Win& w = s.wins[k];
        const int p = sourcePort(w);
        const bool big = p >= 0 && s.ports[p].w && (s.ports[p].w > (p >= 4 ? 5120 : 2560) || s.ports[p].h > 2176);
        const int u = w.dbd > 5 ? 4 : w.dbd == 5 ? 3 : w.dbd > 0 ? 2 : w.dbd == 0 && big ? 1 + (p >= 4) : 0;
        if (w.w && demandOf(w))
            given.insert(k);
        if (w.w && demandOf(w) && u && next + u > 6)
            without.insert(k);
        else if (w.w && demandOf(w))
            next += u;
    }
    return {given, without};
}
// Input channels a record asks for: one a port, a pair a V-by-One port, one per joined port
// (four for the joined V-by-One ports).
int demandOf(const Win& w)
{
    const std::set<int> p = portsOf(w);
    return w.dbd > 7 ? 4 : w.dbd > 0 ? int(p.size()) : p.empty() ? 0 : *p.begin() >= 4 ? 2 : 1;
}

// The cells of a panel: columns and rows of the arrangement its set-up chooses (one output
// channel carries up to 9.8 Mpx narrower than 8191), and whether a window keeps to the
// column it starts in (two cells side by side on one output channel).
std::tuple<int, int, bool> gridOf(const Step& s)
{
    const bool stacked = s.splice == 1 || s.splice == 2;
    const int w1 = stacked ? s.ledW : s.splice == 3 ? s.out1W : s.ledW, w2 = s.splice == 3 ? s.ledW - s.out1W : 0;
    const int h1 = stacked ? s.out1H : s.ledH, h2 = stacked ? s.ledH - s.out1H : 0;
    const int64_t S = stacked ? w1 + w2 : std::max(w1, w2), M = stacked ? std::max(h1, h2) : h1 + h2;
    const bool one = std::max(w1, w2) < 8191 && S * M <= 9800000;
    return stacked ? std::make_tuple(one ? 1 : 2, 2, false) : std::make_tuple(s.splice == 5 || one ? 2 : 4, 1, one);
}

// One draw of everything the panel and a PC can set and the receivers can publish.
Port drawnPort(int q)
{
    using namespace rc::gen;
    Port o;
    const bool portrait = *element(0, 0, 1);
    // (narrow pictures enlarged past 8 times move a cell's lead-in before the line's start)
    o.w = portrait ? *oneOf(element(1080, 1440, 2160), inRange(64, 2561)) : *oneOf(element(1920, 3840, 1280, 4096), inRange(64, 4097), inRange(64, 241));
    o.h = portrait ? *oneOf(element(1920, 2560, 3840, 4096), inRange(2161, 4097)) : *oneOf(element(1080, 2160, 720), inRange(64, 2161));
    o.hst = *element(192, 0, 7, 300);
    o.vst = *element(41, 0, 3, 90);
    if (q < 4) {   // 4096 wide where the receiver carries it (port 0, the HDMI 2.0 one)
        o.w = q == 0 ? o.w : std::min(o.w, 3840);
        o.ip = portrait ? 0 : *element(0, 0, 1);
        o.state = o.ip ? *inRange(5, 9) : *element(4, 3);
        o.h = o.ip ? std::max(std::min(o.h, 1080) / 2, 32) : o.h;
    } else {
        o.state = *element(1, 4);
        o.w = o.state < 4 ? o.w / 2 : o.w;
        o.lanes = *element(4, 8);
    }
    o.w *= *element(1, 1, 1, 1, 0);   // no signal
    return o;
}

Win drawnWin(const Step& s, const Port* ports, int i)
{
    using namespace rc::gen;
    Win w{*inRange(0, 5), 0, 0, *inRange(16, s.ledW + 1), *inRange(16, s.ledH + 1)};
    if (*element(0, 0, 1)) {   // a few pixels inside a cell's edge, or ending on it
        const int cell = *element(960, 1920);
        w.x = std::max(0, std::min(w.x / cell * cell + cell - *inRange(0, 9), s.ledW - w.w));
        w.w = std::min(w.w, s.ledW - w.x);
        w.w = *element(0, 1) ? std::max(16, (w.x + w.w) / cell * cell - w.x) : w.w;
    }
    w.x = w.x ? w.x : *inRange(0, s.ledW - w.w + 1);
    w.y = *inRange(0, s.ledH - w.h + 1);
    w.w *= i == 0 ? 1 : 1 - *element(0, 0, 0, 1);   // record off (with none on, a default window shows)
    // (three ports and quadrants weighted in: their unequal ports cut and their memory the scarcest)
    w.dbd = *element(0, 0, 0, 1) ? *element(5, 7) : std::max(*inRange(-12, 10), -1);
    w.attr = *inRange(0, 4);
    w.out = *element(0, 0, 0, 1, 2, 4, 6);
    w.prio = i;
    const int port[4] = {2, 1, 0, 5};
    const Port& p = ports[w.source < 4 ? port[w.source] : 0];
    if (*element(0, 0, 1) && p.w > 32 && p.h > 32) {   // a crop record, often cut on one side only
        const int side = *inRange(0, 5);
        w.crop[0] = side == 0 || side == 4 ? *inRange(0, p.w / 2) : 0;
        w.crop[1] = side == 1 || side == 4 ? *inRange(0, p.h / 2) : 0;
        w.crop[2] = side == 2 || side == 4 ? *inRange(16, p.w - w.crop[0] + 1) : p.w - w.crop[0];
        w.crop[3] = side == 3 || side == 4 ? *inRange(16, p.h - w.crop[1] + 1) : p.h - w.crop[1];
    }
    w.packing = *inRange(0, 4);
    // Width-limited: a few pixels from its picture's right edge, enlarged, so the read's least
    // 16 pixels (and its move back a group) meet the stored line's end, mirrored or not.
    if (*element(0, 0, 0, 1) && p.w > 64 && w.w) {
        w.crop[2] = *inRange(16, std::max(17, p.w / 16));
        w.crop[0] = std::max(p.w - w.crop[2] - *inRange(0, 9), 0);
        w.crop[1] = 0, w.crop[3] = p.h;
        w.w = std::max(w.w, std::min(s.ledW - w.x, 8 * w.crop[2]));
    }
    return w;
}

Step drawn()
{
    using namespace rc::gen;
    static const int panels[][5] = {{1920, 1080, 1920, 1080, 0}, {3840, 2600, 3840, 2600, 0}, {3840, 4320, 3840, 2160, 1},
                                    {1920, 2160, 1920, 1080, 1}, {3840, 1080, 1920, 1080, 3}, {3840, 2600, 3840, 2600, 4},
                                    {7680, 1080, 7680, 1080, 0}, {7680, 2160, 7680, 2160, 5}, {3840, 5200, 3840, 2600, 2}};
    const int* p = panels[*inRange(0, 10) % 9];
    Step s{p[0], p[1], p[2], p[3], p[4], {}, {}, 0, *inRange(1, 3), *element(0, 0, 1, 2)};
    s.sharp = *oneOf(element(0, 10, 15, 20), inRange(0, 40));
    if (*element(0, 1)) {   // any size: splice 2 keeps output 1 the taller half
        s.splice = *element(0, 2, 4, 5);
        s.ledW = *inRange(640, 7681);
        s.ledH = *inRange(480, s.ledW > 3840 ? 2161 : 4321);
        s.out1W = s.ledW;
        s.out1H = s.splice == 2 ? *inRange((s.ledH + 1) / 2, s.ledH + 1) : s.ledH;
    }
    for (int q = 0; q < 6; ++q)
        s.ports[q] = drawnPort(q);
    for (int i = 0, count = *inRange(1, 7); i < count; ++i)
        s.wins[i] = drawnWin(s, s.ports, i);
    for (int i = 5; i > 0; --i)   // distinct priorities
        std::swap(s.wins[i].prio, s.wins[*inRange(0, i + 1)].prio);
    for (Win& w : s.wins)   // a word above 5 names the layer it folds to
        w.prio += 6 * *element(0, 0, 0, 1, 10);
    return s;
}

// One follow-up change: a record word through the apply step (attribute, source or crop,
// output bits, DBD word, rectangle, switched on or off, priority), or a port.
Step followUp(Step s, int& changed)
{
    using namespace rc::gen;
    s.how = 1;
    s.device = false;
    int r = *element(0, 1) ? s.audio : *inRange(0, 6);   // (the audio window's input often)
    while (!s.wins[r].w && r > 0)
        --r;
    Win& w = s.wins[r];
    changed = r;
    const Win fresh = drawnWin(s, s.ports, r);
    // (drawn at full size: every change as often at the start of a run as at its end)
    int what = *resize(100, inRange(0, 17));
    if (what >= 11 && patternShows(s))   // (while a pattern shows the inputs are not followed: it goes
        what = *element(9, 10);          // off first; the overlay follows at once)
    switch (what) {
    case 0: w.attr = fresh.attr; break;
    case 1:   // (the setter keeps the old source for one above 3)
        if (w.crop[2] && fresh.crop[2] && *element(0, 1)) {   // a crop record's height alone, in place
            w.crop[3] = std::max(16, std::min(fresh.crop[3], s.ports[std::max(sourcePort(w), 0)].h - w.crop[1]));
            break;
        }
        w.source = fresh.source % 4;
        std::copy(fresh.crop, fresh.crop + 4, w.crop);
        break;
    case 2: w.out = *resize(100, element(0, 1)) ? fresh.out : w.out ^ 3; break;   // (black and freeze at once)
    case 3: w.dbd = fresh.dbd; break;
    case 4: w.dbd = w.dbd < 0 ? -1 : *element(6, 7, 8, 9); break;   // channel demand above 8
    case 5: std::tie(w.x, w.y, w.w, w.h) = std::tie(fresh.x, fresh.y, fresh.w, fresh.h); break;
    case 6:   // with a shown record: distinct still (a word above 5 folds to its layer)
        std::swap(w.prio, s.wins[*inRange(0, r + 1)].prio);
        w.prio = w.prio % 6 + 6 * *element(0, 0, 1, 7);
        break;
    case 7: w.out ^= 2; break;   // freeze or thaw
    case 8: s.sharp = *oneOf(element(0, 10, 12, 20), inRange(0, 40)); break;
    case 9:
        if (patternShows(s) && *resize(100, element(0, 1))) {   // a window switched on under the pattern
            const int k = *resize(100, inRange(1, 6)), prio = s.wins[k].prio;
            s.wins[k] = drawnWin(s, s.ports, 1), s.wins[k].prio = prio;
        } else if (!s.pattern || *resize(100, element(0, 1, 1))) {   // on, often on a window left alone
            s.pattern = *element(1, 4, 6, 7, 8, 11, 13, 17, 20);
            s.osd = *resize(100, element(0, 1)) ? (s.osd ? 0 : *element(1, 2, 300)) : s.osd;   // (the overlay switched in the same apply)
            if (s.wins[r].w && *resize(100, element(0, 1)))
                for (int k = 0; k < 6; ++k)
                    s.wins[k].w = k == r ? s.wins[k].w : 0;
        } else {
            s.pattern = 0;
        }
        break;
    case 10: s.osd = *element(0, 1, 2, 300); break;
    default: {
        // A receiver port a shown window uses (0-2) as the device measures it, or the
        // V-by-One port (5) or any port as published.
        int q = *inRange(0, 6);
        for (int k = 0; k < 6; ++k)
            for (int u : usedPorts(s.wins[k]))
                if (s.wins[k].w && u < 3 && (s.wins[k].crop[2] || *resize(100, element(0, 1))))
                    q = u;
        const Port old = s.ports[q];
        s.ports[q] = drawnPort(q);
        s.device = q < 3 && *resize(100, element(0, 1, 1, 1));
        if (s.device) {   // progressive, as the receiver's record says (its start offsets 192, 41)
            const Port d = s.ports[q];
            // (a frozen or joined window keeps what it holds when its port is lost: not held here)
            const bool keeps = std::any_of(std::begin(s.wins), std::end(s.wins), [&](const Win& w) {
                return w.w && (w.out & 2 || w.dbd >= 0) && usedPorts(w).count(q);
            });
            const bool lost = !keeps && (!d.w || *resize(100, element(0, 0, 1)));
            // lost: the port keeps its mode, its active area empty from 16, 16
            s.ports[q] = lost ? Port{0, old.h, old.state, old.ip, old.lanes, 16, 16} : Port{std::max(d.w, 64), d.h * (d.ip ? 2 : 1)};
        }
        s.how = 2;
        changed = -1 - q;
    }
    }
    return s;
}

// A history: black, mirror or freeze pressed (twice, when undone), a crop record edited in
// place (its picture or its input), or the audio window moved.
Step edited(Step s, int& changed)
{
    using namespace rc::gen;
    s.how = 3;
    int r = *element(0, 1) ? s.audio : *inRange(0, 6);   // (the audio window's input often)
    while (!s.wins[r].w && r > 0)
        --r;
    History& h = s.h;
    h = History{r, *inRange(0, 3), *inRange(0, 4), *inRange(0, 10) < 8 ? -1 : *inRange(0, 4), s.audio, *element(0, 1, 2, 3, 4, 5, 5, 5, 6, 6)};
    h.pressed = s.wins[r];
    Win& w = *element(0, 1) ? h.pressed : s.wins[r];   // undone: the step keeps what was there
    const Win fresh = drawnWin(s, s.ports, r);
    switch (h.kind) {
    case 0: w.out ^= 1; break;
    case 1: w.attr ^= *inRange(1, 4); break;
    case 2: w.out ^= 2; break;
    case 3: std::copy(fresh.crop, fresh.crop + 4, w.crop[2] && fresh.crop[2] ? w.crop : h.pressed.crop); break;
    // the crop record's input (one the setter refuses, above 3, cannot be pressed back to)
    case 4: w.source = w.crop[2] && w.source < 4 ? fresh.source % 4 : w.source; break;
    case 6: w.crop[3] = w.crop[2] ? std::max(16, w.crop[3] - *inRange(1, 200)) : w.crop[3]; break;   // its height alone
    case 5: (&w == &h.pressed ? h.audio0 : s.audio) = *inRange(0, 6); break;
    }
    // (kept within its picture: a crop past the edge is taken whole by the apply, cut at the
    // edge by a set-up)
    const Port& q = s.ports[std::max(sourcePort(w), 0)];
    for (int d = 0; d < 2 && w.crop[2]; ++d) {
        const int whole = std::max(d ? q.h : q.w, 16);
        w.crop[d] = std::min(w.crop[d], whole - 16);
        w.crop[d + 2] = std::min(w.crop[d + 2], whole - w.crop[d]);
    }
    h.undo = &w == &h.pressed ? std::max(h.undo, 1) : 0;
    changed = r;
    return s;
}

std::string text(const Step& s)
{
    std::string t = std::to_string(s.ledW) + "x" + std::to_string(s.ledH) + " out1 " + std::to_string(s.out1W) + "x" +
                    std::to_string(s.out1H) + " splice " + std::to_string(s.splice) + " how " + std::to_string(s.how) +
                    " passes " + std::to_string(s.passes) + " osd " + std::to_string(s.osd) + " sharpness " + std::to_string(s.sharp) +
                    " pattern " + std::to_string(s.pattern) + (s.device ? " measured" : "") + "; ports";
    for (const Port& q : s.ports)
        for (int v : {q.w, q.h, q.state, q.ip, q.lanes, q.hst, q.vst})
            t += " " + std::to_string(v);
    for (const Win& w : s.wins)
        if (w.w) {
            t += ";";
            for (int v : {w.source, w.x, w.y, w.w, w.h, w.dbd, w.attr, w.out, w.prio, w.crop[0], w.crop[1], w.crop[2], w.crop[3], w.packing})
                t += " " + std::to_string(v);
        }
    for (int v : {s.h.rec, s.h.kind, s.h.via, s.h.undo, s.h.cut, s.h.audio0, s.audio})   // a history
        t += s.how == 3 ? " " + std::to_string(v) : "";
    return t;
}

class ScalerMemory : public ScalerHarness {
protected:
    // The chip and the block as the step sets them: records, crop records (one a record),
    // priorities and the overlay switch into the block, then the step's path to the chip.
    void write(const Step& s)
    {
        for (int r = 0; r < 6; ++r) {
            const Win& w = s.wins[r];
            setWindow(r, w.crop[2] ? 0x8000 | r : w.source, w.x, w.y, w.w, w.h);
            setWord(window(r, 0), w.w ? 1 : 0);
            setWord(window(r, 4), uint16_t(w.attr));
            setWord(window(r, 18), uint16_t((w.dbd >= 0 ? 0x100 : 0) | w.out));
            setWord(window(r, 22), uint16_t(std::max(w.dbd, 0)));
            setWord(2208 + 2 * r, uint16_t(w.prio));
            const uint16_t crop[5] = {uint16_t(0x8000 | r << 8 | w.source), uint16_t(w.crop[0]), uint16_t(w.crop[1]),
                                      uint16_t(w.crop[2]), uint16_t(w.crop[3])};
            for (int k = 0; k < 5; ++k)
                setWord(1472 + 10 * r + 2 * k, crop[k]);
            setWord(window(r, 20), 0x8000);   // sound on
        }
        for (auto [at, v] : {std::pair{1376, s.splice}, {1378, s.ledW}, {1380, s.ledH}, {1412, s.out1W}, {1414, s.out1H}})
            setWord(at, uint16_t(v));
        setWord(2124, uint16_t(s.osd));
        setWord(2112, uint16_t(s.audio));
        setWord(2180, uint16_t(s.sharp));
        para.ram[864] = uint8_t(s.pattern);
    }
    // What the check looks at in the block and the file: the words the steps write, and the
    // word a PC leaves unapplied.
    static constexpr int kFrom = 1472, kTo = 2428, kUnapplied = 2178;
    std::string words(const uint8_t* block) const
    {
        return std::string(block + kFrom, block + kTo) + std::string(block + kUnapplied, block + kUnapplied + 2);
    }
    std::string historyFault;
    std::string applied, file;   // the words as the chip was last set from them, as last stored
    int routed = -1;             // the input whose sound was last routed
    // A save: it stores what was applied, or after a power cut (the end of the history) that
    // or what it stored before.
    std::string save(int cut = -1)
    {
        if (cut >= 0)
            sim::PowerCut::after(uint64_t(cut));
        static_cast<void>(para.ram_para_file_save());   // what it stored is read back below
        sim::PowerCut::restore();
        const std::string f = root.readFile("/data/ram_device_info"),
                          now = f.size() == 4096 ? words(reinterpret_cast<const uint8_t*>(f.data()) + 2 - 768) : "no file";
        if (now != applied && (cut < 0 || now != file))
            return "the file holds other words than were applied" + std::string(cut < 0 ? "" : " after a cut") + "\n";
        file = now;
        return "";
    }
    // The history of a step, its edit pressed and undone around the apply and the save.
    std::string history(c331_manage& m, const Step& s)
    {
        Step p = s;
        p.wins[s.h.rec] = s.h.pressed, p.audio = s.h.audio0;
        auto edit = [&](const Step& to) {
            std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
            write(to);
            para.pc_edit_pending = s.h.via > 0 ? 1 : para.pc_edit_pending.load();
            hold.unlock();
            m.raise_apply_flag(1);   // the panel's edit, or the PC's apply command
        };
        auto applyNow = [&] {
            const std::string taken = words(para.ram);
            if (m.c331_apply_changes())
                applied = taken;
        };
        std::string f;
        edit(s.h.undo ? p : s);
        if (s.h.undo == 1)
            edit(s);
        if (s.h.undo == 2) {
            // Held at a chip transfer: the edit and a save land while the apply programs.
            std::unique_lock<std::mutex> bus(Utils::_c331_bnk_mutex);
            std::atomic<long> tid{0};
            std::atomic<bool> done{false};
            std::thread t([&] {
                tid = kel_test::currentThreadId();
                applyNow();
                done = true;
            });
            while (!tid)
                std::this_thread::yield();
            kel_test::sleepsOnLock(tid, &done);
            edit(s);
            f += done ? "" : save();
            bus.unlock();
            t.join();
        } else {
            applyNow();
        }
        if (s.h.via == 2) {   // another PC's word, not applied
            std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
            KelRamPara::put16(para.ram + kUnapplied, uint16_t(KelRamPara::get16(para.ram + kUnapplied) + 1));
            para.pc_edit_pending = 1;
        }
        if (s.h.undo == 3) {
            edit(s);
            f += save();
        }
        while (m.c331_apply_flag)
            applyNow();
        f += save(s.h.cut);
        return f + routedSound(s);
    }
    // One pass of the manager as the device runs it (past start-up: the apply step, then the
    // inputs followed).
    static void pass(c331_manage& m)
    {
        m.c331manage_pass();
    }
    // The sound follows the audio window's input, whatever moved it.
    std::string routedSound(const Step& s)
    {
        const Win& a = s.wins[s.audio];
        const int input = a.source < 4 ? a.source : -1;
        const bool asked = source.audio_route_request.exchange(0) != 0;
        std::string f = !asked && input != routed ? "the sound of input " + std::to_string(routed) + " stays for " + std::to_string(input) + "\n" : "";
        routed = input;
        return f;
    }
    // A port change as the device takes it: the receiver publishes its record and the chip
    // measures the new timing, while a PC's edit of every crop record lies unapplied in the
    // block (taken back after the pass): the pass follows what was applied.
    void measuredChange(c331_manage& m, int q, const Port& p)
    {
        static const int device[3] = {2, 1, 0};
        const int d = device[q];
        if (p.w)
            publish(d, p.w, p.h, p.w + 280, p.h + 45, 60);
        else
            noSignal(d);
        std::string before;
        {
            std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
            before.assign(para.ram + 1472, para.ram + 1872);
            for (int r = 0; r < 40; ++r) {
                uint8_t* rec = para.ram + 1472 + 10 * r;
                for (int k : {1, 2})   // x and y moved on, width and height cut by as much
                    if (KelRamPara::get16(rec + 2 * k + 4) > 64) {
                        KelRamPara::put16(rec + 2 * k, uint16_t(KelRamPara::get16(rec + 2 * k) + 24));
                        KelRamPara::put16(rec + 2 * k + 4, uint16_t(KelRamPara::get16(rec + 2 * k + 4) - 24));
                    }
            }
            para.pc_edit_pending = 1;
        }
        pass(m);
        {
            std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
            std::copy(before.begin(), before.end(), para.ram + 1472);
            para.pc_edit_pending = 0;
        }
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        source.hdminfo[d].valid = 0;   // (the other steps set the ports themselves)
    }
    void apply(c331_manage& m, const Step& s)
    {
        write(s);
        std::vector<int> entry;
        for (int r = 0; r < 6; ++r)
            if (s.wins[r].w)
                entry.push_back(r);
        if (s.how == 0) {
            std::copy(std::begin(para.ram), std::end(para.ram), std::begin(para.ram_backup));
            m.kelApi_PnlInit2(s.ledW, s.ledH, s.out1W, s.out1H, s.splice);
            m.take_as_applied(para.ram);   // the start-up's copy
            applied = file = words(para.ram);
            routed = s.wins[s.audio].source < 4 ? s.wins[s.audio].source : -1;
            source.audio_route_request = 0;
            root.writeFile("/data/ram_device_info", std::string(2, char(0xAA)) + std::string(para.ram + 768, para.ram + 4096) +
                                                        std::string(766, '\0'));
        } else if (s.how == 3) {
            historyFault = history(m, s);
        } else if (s.how == 1) {
            m.c331_apply_flag = 1;
            pass(m);
            std::copy(std::begin(para.ram), std::end(para.ram), std::begin(para.ram_backup));
            historyFault = routedSound(s);
        }
        // The ports as measured, and the input pass that applies again the windows on a port
        // that changed (or that a rebuild left unmeasured); a receiver port's change the
        // device measures itself.
        bool measured = false;
        for (int p = 0; p < 6; ++p) {
            const Port& q = s.ports[p];
            const bool same = m.PI_ACT[p].HW == q.w && m.PI_ACT[p].VW == (q.w ? q.h : 0) && m.PI_PORT_INFO[p].NOSIG == (q.w ? 0 : 1) &&
                              m.PI_PORT_INFO[p].STATE == q.state && m.PI_PORT_INFO[p].IP == q.ip && m.PI_ACT[p].HST == q.hst;
            if (s.how == 2 && s.device && !same) {
                measuredChange(m, p, q);
                continue;
            }
            m.PI_ACT[p] = {q.hst, q.w, q.vst, q.w ? q.h : 0};
            m.PI_PORT_INFO[p] = {0, 0, 0, 0, 0, q.state, q.w ? 0 : 1, q.ip};
            m.PI_HDMI_INFO[p].lane = q.lanes;
            if (s.how == 0 || !same)
                m.kelApi_updateCrop(p);
            m.PI_UPDATE[p] = !same && s.how;
            measured = measured || m.PI_UPDATE[p];
        }
        if (measured)
            pass(m);
        if (s.how == 2)
            historyFault += routedSound(s);
        for (size_t e = 0; e < entry.size(); ++e)
            m.PS_MEM_WMODE[e] = s.wins[entry[e]].packing;
        for (int pass = 0; pass < s.passes && s.how == 0; ++pass) {
            std::fill_n(m.g_chg_output, pass ? m.wincnt : 0, 1);
            m.set_output(m.c331_fd);
        }
        if (s.how == 0) {   // the start-up's last stage: the picture settings and the overlay
            m.c331_stage = 7;
            pass(m);
            if (s.osd)
                m.update_osd(m.c331_fd);
        }
    }

    // The channel model: which records hold input channels after the step (the records that
    // asked get them when the demand of all shown windows is 8 or less, none otherwise).
    static std::set<int> asking(const Step& before, const Step& s, int changed)
    {
        std::set<int> a;
        for (int r = 0; r < 6; ++r) {
            const Win &w = s.wins[r], &v = before.wins[r];
            const bool moved = w.w != v.w || w.x != v.x || w.y != v.y || w.h != v.h;
            const bool crop = !std::equal(w.crop, w.crop + 4, v.crop);
            // a freeze switched on a port with a picture is done at once (a black switched with
            // it as well) and asks for nothing, unless the fade switched too
            const int out = w.out ^ v.out, port = sourcePort(v);
            const bool frozen = (out & 2) && !(out & 4) && w.source == v.source && port >= 0 && before.ports[port].w;
            if (s.how == 0 || (w.w && (moved || (r == changed && (w.attr != v.attr || w.source != v.source || w.dbd != v.dbd ||
                                                              crop || ((out & ~2) && !frozen))))))
                a.insert(r);
            if (changed < 0 && usedPorts(w).count(-1 - changed))   // the windows using it
                a.insert(r);
        }
        for (int r = 0; r < 6 && s.how == 1; ++r)   // a rectangle, switch or LED size rebuilds every window
            if (s.ledW != before.ledW || s.ledH != before.ledH || s.wins[r].w != before.wins[r].w || s.wins[r].x != before.wins[r].x || s.wins[r].y != before.wins[r].y ||
                s.wins[r].h != before.wins[r].h)
                for (int k = 0; k < 6; ++k)
                    a.insert(k);
        return a;
    }

    // Each line a read-out reads lies inside one line its captures stored: past a line's end
    // lies what memory holds beyond it (the gap to the next line, another channel's slot), even
    // where another capture wrote it ("" when so; a held capture's frame is the held check's).
    static std::string pastTheLine(const Map::Readout& r, const std::vector<Map::Capture>& own)
    {
        if (Map::held(own))
            return "";
        std::vector<Map::Range> stored;
        for (const auto& c : own)
            for (int b = 0; b < 5; ++b)
                for (const auto& l : Map::lines(c, b))
                    stored.push_back(l);
        std::sort(stored.begin(), stored.end(), [](const Map::Range& a, const Map::Range& b) { return a.begin < b.begin; });
        std::vector<Map::Range> lines;   // (a pair's halves, stored end to end, are one line)
        for (const auto& l : stored)
            if (!lines.empty() && l.begin <= lines.back().end)
                lines.back().end = std::max(lines.back().end, l.end);
            else
                lines.push_back(l);
        // (a read's last pixel group and its least 16 pixels may reach up to 8 pixels on)
        const uint64_t gb = Map::groupBytes(r.packing), gp = r.packing == 0x80 ? 5 : r.packing == 0x01 ? 3 : 1;
        for (int b = 0; b < 5; ++b)
            for (const auto& l : Map::lines(r, b)) {
                auto at = std::upper_bound(lines.begin(), lines.end(), l.begin, [](uint64_t v, const Map::Range& x) { return v < x.begin; });
                if (at == lines.begin() || (--at)->end <= l.begin)
                    continue;   // (a read outside every line is the unwritten check's)
                if (at->end < l.end && (l.end - at->end) * gp > 8 * gb)
                    return " reads " + std::to_string((l.end - at->end) * gp / gb) + " pixels past its stored line at " + std::to_string(at->begin);
            }
        return "";
    }

    // The first fault of the chip after a step ("" when none).
    std::string fault(const Step& s, const std::set<int>& holding, const std::set<int>& spare)
    {
        noteStarts();
        const auto caps = Map::captures();
        std::string out = Map::clashes(caps);
        if (!out.empty())
            return out;
        const auto [cols, rows, oneColumn] = gridOf(s);
        const int hst = int(reg(8, 0x28, 2)), cw = int(reg(8, 0x2A, 2)) - hst;
        const int vst = int(reg(8, 0x2C, 2)), ch = int(reg(8, 0x2E, 2)) - vst;
        if (cw <= 0 || ch <= 0)   // splice 5 leaves the outputs without a size: nothing is shown
            return Map::readouts().empty() ? "" : "a screen without cells shows a picture";
        // A test pattern: every channel its single window shows runs the generator, and no other
        // channel (none at all with more windows, which show their inputs).
        const auto outs = Map::readouts();
        for (int o = 0; o < 8; ++o) {
            int cell = -1;
            for (int m = 0; m < 8 && cell < 0; ++m)
                for (uint32_t word = reg(0x0E + 0x10 * m, 0x08, 4); word; word >>= 4)
                    cell = int(word & 15) == o + 8 ? m : cell;
            // (every channel that reads its window's picture, the only one, runs it; one without a
            // picture may; a joined window's picture, 1:1 from its corner, may reach channels past
            // its rectangle's)
            const bool mine = patternShows(s) && std::any_of(outs.begin(), outs.end(), [&](const auto& r) { return r.och == o; });
            if (patternShows(s) && (!mine || std::any_of(std::begin(s.wins), std::end(s.wins), [](const Win& w) { return w.w && w.dbd >= 0; })))
                continue;
            if ((reg(8, 0x57, 1, o) != 0) != mine)
                return "OCH " + std::to_string(o) + " on cell " + std::to_string(cell) + (mine ? " shows no" : " shows a") +
                       " test pattern for byte " + std::to_string(s.pattern);
        }
        // The overlay is on for any word but 0, whichever way the word came, a pattern shown or not.
        if (((reg(9, 0x08, 2) & 3) != 0) != (s.osd != 0))
            return "the overlay is " + std::string(s.osd ? "off" : "on") + " for word " + std::to_string(s.osd);
        if (patternShows(s))
            return "";   // (the pattern, not the picture, is what the cells show)
        int demand = 0, cellsAsked = 0;   // input channels and cells asked for
        auto covers = [&](const Win& w, int cell) {   // the cells its corners fall in, the right (bottom) edge inclusive
            const int c = cell % cols, r = cell / cols;
            return cell < cols * rows && w.x / cw <= c && c <= (oneColumn ? w.x / cw : std::max(w.x + w.w - 1, 0) / cw) && w.y / ch <= r &&
                   r <= std::max(w.y + w.h - 1, 0) / ch;
        };
        for (const Win& w : s.wins)
            if (w.w) {
                demand += demandOf(w);
                for (int cell = 0; cell < cols * rows; ++cell)
                    cellsAsked += covers(w, cell);
            }
        std::vector<std::vector<Map::Range>> wrote(caps.size());   // every line of every buffer
        for (size_t i = 0; i < caps.size(); ++i)
            for (int b = 0; b < 5; ++b)
                for (const auto& l : Map::lines(caps[i], b))
                    wrote[i].push_back(l);
        // Each output channel on its cell: the record it shows, the captures it reads.
        std::map<int, int> ichWindow, ochWindow;
        std::set<std::pair<int, int>> lit, seen;   // (record, cell): lit by its picture; shown at all
        for (const auto& r : Map::readouts()) {
            int cell = -1;
            for (int m = 0; m < 8 && cell < 0; ++m)
                for (uint32_t word = reg(0x0E + 0x10 * m, 0x08, 4); word; word >>= 4)
                    cell = int(word & 15) == r.och + 8 ? m : cell;
            if (cell < 0 || cell >= cols * rows)
                continue;   // mixed onto no cell of the screen
            const int cx = cell % cols * cw, cy = cell / cols * ch, o = r.och;
            // Where it ends on the line and starts down the cell (its start on the line is not
            // read: the background switch shares that register's upper byte).
            const int right = cx + int(reg(8, 0x32, 2, o)) - hst;
            const int top = cy + int(reg(8, 0x44, 2, o)) - vst;
            std::vector<Map::Capture> own;   // what it reads, with the channels that follow them
            std::vector<Map::Range> read;
            for (int b = 0; b < 5; ++b)
                for (const auto& l : Map::lines(r, b))
                    read.push_back(l);
            for (size_t i = 0; i < caps.size(); ++i)
                if (Map::sharing(read, wrote[i]))
                    own.push_back(caps[i]);
            for (const auto& c : caps)
                for (size_t i = 0; i < own.size(); ++i)
                    if ((reg(0x10, 0x09, 1, c.ich) == unsigned(8 + own[i].ich) || reg(0x10, 0x09, 1, own[i].ich) == unsigned(8 + c.ich)) &&
                        std::none_of(own.begin(), own.end(), [&](auto& x) { return x.ich == c.ich; }))
                        own.push_back(c);
            // Of windows alike in place, the one alike in ports, mirroring, and not yet seen there.
            int shows = -1, best = -1;
            for (int k = 0; k < 6; ++k) {
                const Win& w = s.wins[k];
                const bool starts = w.y > cy ? top == w.y : top <= cy;
                const bool ends = w.dbd >= 0 ? right > std::max(w.x, cx) && right <= std::min(w.x + w.w, cx + cw)
                                             : right == std::min(w.x + w.w, cx + cw);
                // (windows of one port alike in place: the captures each was seen reading, and held ones, tell them apart)
                const bool mapped = std::all_of(own.begin(), own.end(), [&](auto& c) { return !ichWindow.count(c.ich) || ichWindow[c.ich] == k; });
                // (a black one takes the channel showing the background, the other the one showing its picture)
                const bool blank = reg(8, 0x41, 1, r.och) != 0;
                // (the background: of a black window, or of one without a picture, whose hold says nothing)
                const std::set<int> ps = usedPorts(w);
                const bool dark = (w.out & 1) || w.source > 3 || std::any_of(ps.begin(), ps.end(), [&](int p) { return !s.ports[p].w; });
                const int score = 32 * (portsOf(w) == Map::ports(own)) + 16 * mapped + 8 * (blank || (holdAll || frozen[k]) == Map::held(own)) +
                                  4 * (int(reg(8, 0x22, 1, r.och)) == (w.attr & 1) && (r.step < 0) == ((w.attr & 2) != 0)) +
                                  2 * (blank == dark) + !seen.count({k, cell});
                if (w.w && covers(w, cell) && starts && ends && score > best)
                    std::tie(shows, best) = std::tie(k, score);
            }
            const std::string och = "OCH " + std::to_string(o) + " on cell " + std::to_string(cell);
            if (shows < 0)
                return och + " shows no window from " + std::to_string(right) + ", " + std::to_string(top);
            const Win& w = s.wins[shows];
            const std::string win = "; window " + std::to_string(shows);
            seen.insert({shows, cell});
            if (reg(8, 0x41, 1, o)) {   // the background: black, or no picture
                const std::set<int> ports = portsOf(w);   // one set: its begin and end must be of the same one
                if (!(w.out & 1) && std::all_of(ports.begin(), ports.end(), [&](int p) { return s.ports[p].w; }) &&
                    !ports.empty() && w.dbd < 0)
                    return och + " shows the background" + win;
                continue;
            }
            // A joined window of unequal ports shows what every one fills (in quadrants the
            // left column alone): some of its ports, none other.
            const std::set<int> seen = Map::ports(own), mine = portsOf(w);
            if (w.dbd > 0 ? seen.empty() || !std::includes(mine.begin(), mine.end(), seen.begin(), seen.end()) : seen != mine)
                return och + " reads other ports" + win;
            for (const auto& c : own)
                if (!ichWindow.emplace(c.ich, shows).second && ichWindow[c.ich] != shows)
                    return och + " reads ICH " + std::to_string(c.ich) + " of window " + std::to_string(ichWindow[c.ich]) + win;
            if (int(reg(8, 0x22, 1, o)) != (w.attr & 1) || (r.step < 0) != ((w.attr & 2) != 0))
                return och + " mirrored otherwise than its record" + win;
            if (!(out = Map::unwritten(r, own)).empty())
                return out + win;
            if (!(out = pastTheLine(r, own)).empty())
                return och + out + win;
            if ((frozen[shows] || holdAll) && !Map::held(own))
                return och + (holdAll ? " of a window held for a change" : " of a frozen window") + " reads a running capture" + win;
            // A line is stored narrower than the window shows only past 2176 pixels (the
            // input side's limit) or where no packing fits: never below 2176 pixels.
            uint64_t stored = 0;
            for (const auto& c : own)
                stored += c.lineBytes / Map::groupBytes(c.packing) * (c.packing == 0x80 ? 5 : c.packing == 0x01 ? 3 : 1);
            // (a crop record reaching past the picture, drawn for another port or left by a
            // port that shrank, asks for what it leaves of the picture)
            const int input = inputOf(s, w)[1];
            if (w.dbd < 0 && int(stored) + 2 < std::min({w.w, input, 2176}))
                return och + " reads a line stored in " + std::to_string(stored) + " pixels" + win;
            // Enlarged downwards, it and its picture over 2176 wide: reduced to 2176 from the line's start on.
            const int rows = inputOf(s, w)[3] * (!own.empty() && own[0].deinterlaced ? 2 : 1), x0 = inputOf(s, w)[0];
            if (w.dbd < 0 && w.w > 2176 && input > 2176 && w.h > rows && int64_t(stored) > int64_t(x0 + input) * 2176 / input + 8)
                return och + " reads a line stored in " + std::to_string(stored) + " pixels, past the width limit" + win;
            if (w.dbd < 0 && !(out = shown(s, w, r, own, cx, cy, cw, ch)).empty())
                return och + out + win;
            // Sharpness (0-9 none, 10-20 more and more, above 20 as 20) in every channel that shows
            // a picture, however the window came there.
            const int sharp = std::min(s.sharp, 20) <= 9 ? 0 : std::min(s.sharp, 20) - 10;
            const unsigned gain = unsigned(sharp * 128 / 10), edge = sharp ? 6 : 0;
            if (reg(0x0B, 0x08, 1, o) != edge || reg(0x0B, 0x09, 1, o) != gain || reg(0x0B, 0x12, 1, o) != gain)
                return och + " sharpens with " + std::to_string(reg(0x0B, 0x08, 1, o)) + "/" + std::to_string(reg(0x0B, 0x09, 1, o)) +
                       "/" + std::to_string(reg(0x0B, 0x12, 1, o)) + " for word " + std::to_string(s.sharp) + win;
            // Its filter band follows the window's scaling ratio (above 2.5, 2, 1.25, or less): the
            // first tap of each band (a ratio near a band's edge or a line stored narrower, not held); rows
            // of the frame a deinterlacing capture stores, else of the field.
            const auto part = inputOf(s, w);
            const double rH = double(w.w) / std::max(part[1], 1), rV = double(w.h) / std::max(rows, 1);
            auto band = [](double r) {
                for (double edge : {2.5, 2.0, 1.25})
                    if (std::abs(r - edge) < 0.03 * edge)
                        return -1;
                return r > 2.5 ? 0 : r > 2.0 ? 1 : r > 1.25 ? 2 : 3;
            };
            // The taps across (0x0C-0x10) and down (0x15-0x19) of each band.
            static const unsigned taps[2][4][5] = {{{36, 43, 58, 4, 5}, {30, 42, 0, 7, 0}, {28, 46, 5, 3, 60}, {44, 49, 56, 63, 2}},
                                                   {{42, 48, 59, 0, 0}, {34, 47, 0, 0, 0}, {28, 45, 5, 0, 0}, {44, 50, 56, 0, 0}}};
            const int bands[2] = {band(rH), band(rV)};
            const bool plain = w.dbd < 0 && sourcePort(w) < 4 && !(w.w > 2176 && part[1] > 2176);
            for (int d = 0; d < 2 && plain; ++d)
                for (int i = 0; i < 5 && bands[d] >= 0; ++i)
                    if (reg(0x0B, (d ? 0x15 : 0x0C) + i, 1, o) != (sharp ? taps[d][bands[d]][i] : 0))
                        return och + " filters its " + (d ? "rows" : "columns") + " with tap " + std::to_string(reg(0x0B, (d ? 0x15 : 0x0C) + i, 1, o)) +
                               " for a ratio of " + std::to_string(d ? rV : rH) + win;
            lit.insert({shows, cell});
            ochWindow[o] = shows;
        }
        for (int m = 0; m < 8; ++m) {
            int below = -1;
            for (uint32_t word = reg(0x0E + 0x10 * m, 0x08, 4); word; word >>= 4) {
                const auto o = ochWindow.find(int(word & 15) - 8);
                if (o == ochWindow.end())
                    continue;
                if (below >= 0 && layer[below] < layer[o->second])   // lowest layer on top, equal either way
                    return "cell " + std::to_string(m) + ": window " + std::to_string(o->second) + " above window " + std::to_string(below);
                below = o->second;
            }
        }
        // Each shown window lights each cell it covers, unless a named rule keeps it dark.
        for (int k = 0; k < 6; ++k) {
            const Win& w = s.wins[k];
            const std::set<int> ports = usedPorts(w);
            // a joined window needs a picture on its source's port as well
            const bool picture = w.source < 4 && std::all_of(ports.begin(), ports.end(), [&](int p) { return s.ports[p].w; });
            const bool dark = !w.w || !picture || (w.out & 1) || !holding.count(k) || spare.count(k);
            const bool part = w.dbd > 0 && w.source < 4 && s.ports[sourcePort(w)].w &&
                              std::any_of(ports.begin(), ports.end(), [&](int p) { return s.ports[p].w; });
            for (int cell = 0; cell < cols * rows; ++cell) {
                const int cx = cell % cols * cw, cy = cell / cols * ch;
                // a joined window shows its ports 1:1 from its corner: its first cell at least;
                // a sliver of a cell under 8 pixels or lines may stay dark
                const bool sliver = std::min(w.x + w.w, cx + cw) - std::max(w.x, cx) < 8 || std::min(w.y + w.h, cy + ch) - std::max(w.y, cy) < 8;
                const bool shown = covers(w, cell) && !sliver && (w.dbd < 0 || (cx <= w.x && cy <= w.y));
                // (a black window is dark wherever it shows; a joined one may show part of its ports)
                if (lit.count({k, cell}) && dark && ((w.out & 1) || spare.count(k) || !(part && holding.count(k))))
                    return "window " + std::to_string(k) + " lit on cell " + std::to_string(cell) + " (no channel, source or picture)";
                if (shown && !dark && !lit.count({k, cell}) && cellsAsked <= 8 && demand <= 8)
                    return "window " + std::to_string(k) + " dark on cell " + std::to_string(cell);
            }
        }
        return "";
    }
    // The records that hold channels after a step, and those of them left without memory.
    std::set<int> held, memoryless;
    int layer[6] = {};   // each record's layer: see run
    bool frozen[6] = {};   // each record's freeze as taken: see run
    bool holdAll = false;   // every window held for a change
    int starts[8] = {};   // each output channel's start on the line, as last written whole

    // The output start and the background switch share a byte: the start is the last write of
    // both its bytes together, taken from the chip's transfers since the last look.
    void noteStarts()
    {
        const auto frames = sim::ScalerModel::frames();
        for (size_t i = 0; i + 1 < frames.size(); ++i) {
            const auto &a = frames[i], &b = frames[i + 1];
            if (a.write && b.write && a.reg == 0x40 && b.reg == 0x41 && a.bank == b.bank && (a.bank & 15) == 8 && a.bank < 0x88)
                starts[a.bank >> 4] = a.value | b.value << 8;
        }
        sim::ScalerModel::clearFrames();
    }

    // What one output channel shows of its window on a cell, against what the window asks:
    // at sampled columns (the window's edges, the cell's, a few inside) the input pixel, and at
    // sampled rows the input line, within a stored pixel or two of the input and two of the
    // output. Everything shown is taken from the registers: the output area, the read's start
    // address against the capture's buffer (line and pixel group), the enlargement step and
    // phase, mirroring, and the capture's start, reduction step and deinterlacing.
    std::string shown(const Step& s, const Win& w, const Map::Readout& r, const std::vector<Map::Capture>& own, int cx, int cy, int cw, int ch)
    {
        const Map::Capture* c = &own[0];   // a split line is stored from its first part's buffer on
        for (const auto& k : own)
            c = k.buffer[0] < c->buffer[0] ? &k : c;
        const int o = r.och, hst = int(reg(8, 0x28, 2)), vst = int(reg(8, 0x2C, 2));
        const int64_t at = int32_t(uint32_t(r.buffer[0] + r.firstLine - c->buffer[0]));   // addresses wrap at 32 bits
        const int64_t line0 = at >= 0 ? at / c->pitch : -1 - (-1 - at) / c->pitch;
        const int gp = c->packing == 0x80 ? 5 : c->packing == 0x01 ? 3 : 1;
        const int64_t px0 = (at - line0 * c->pitch) / int64_t(Map::groupBytes(c->packing)) * gp;
        const bool hm = reg(8, 0x22, 1, o) & 1, vm = r.step < 0;
        const int S = starts[o], E = int(reg(8, 0x32, 2, o)), T = int(reg(8, 0x44, 2, o)), readH = int(reg(8, 0x42, 2, o));
        const bool hEnl = reg(0x0A, 0x46, 1, o) == 199, vEnl = reg(0x0A, 0x44, 1, o) == 3;
        const double hf = hEnl ? reg(0x0A, 0x49, 2, o) / 65536.0 : 1, vf = vEnl ? reg(0x0A, 0x4E, 2, o) / 65536.0 : 1;
        const double hph = hEnl ? reg(0x0A, 0x47, 1, o) / 256.0 : 0, vph = vEnl ? reg(0x0A, 0x4C, 1, o) / 256.0 : 0;
        const int ic = c->ich;
        const double hr = reg(0x11, 0x44, 1, ic) == 199 ? 65536.0 / std::max(1u, reg(0x11, 0x47, 2, ic)) : 1;
        const double vr = reg(0x11, 0x49, 1, ic) == 0x84 ? 65536.0 / std::max(1u, reg(0x11, 0x4C, 2, ic)) : 1;
        const int p = sourcePort(w);
        const Port& q = s.ports[p];
        const int u0 = int(reg(0x10, 0x17, 2, ic)) + 7 - q.hst, v0 = int(reg(0x10, 0x1B, 2, ic)) - 1 - q.vst;
        // Asked: the record's part of the picture over its rectangle (a crop in the field's
        // lines, so twice as many of a deinterlaced frame's).
        const std::array<int, 4> in = inputOf(s, w);
        const int lines = c->deinterlaced ? 2 : 1;
        const double uAsk = double(in[1]) / w.w, vAsk = double(in[3] * lines) / w.h;
        // (a port measured to start under 7 pixels loses its first pixels: the capture's start
        // counts 7 behind the measurement)
        const double tolH = 2 * std::max({1.0, uAsk, hr}) + (gp - 1) * hr + std::max(7 - q.hst, 0), tolV = 2 * std::max({1.0, vAsk, vr});
        const int wr = w.x + w.w, wb = w.y + w.h, right = std::min(wr, cx + cw), bottom = std::min(wb, cy + ch);
        const int left = std::max(w.x, cx), top = std::max(w.y, cy);
        const std::string at0 = " (start " + std::to_string(S) + ", end " + std::to_string(E) + ")";
        if (S < 10 || T < 3)   // the chip shows nothing of a channel starting there
            return " starts within the first 10 pixels or 3 lines" + at0;
        // At a join (5 pixels or more into the line) the read starts before the join's first pixel,
        // so the filter has its taps: as many as the line's start leaves room for, up to 4 (less a
        // pixel for the whole output pixel the start moves by, and one for the join's fraction; a
        // read kept to pixel groups that finds none in that room starts after it: the dark join).
        const double lead = hph + (hst - S) * hf, room = std::min(std::min(4.0, std::floor((hst - 10) * hf)) - 2, gp > 1 ? 1 - gp - 4 * hf : 4.0);
        if (hEnl && !hm && (cx - w.x) * hf >= 5 && cx < right && lead < room)
            return " reads " + std::to_string(lead) + " pixels before its join, not " + std::to_string(room) + at0;
        // Columns: a join may stay dark where the read cannot start before the line's start at the
        // pixel group the join falls in (the group's pixels, and four more).
        const double darkJoin = 4 + (gp - 1) / hf;
        for (int x : {w.x, w.x + 1, wr - 2, wr - 1, cx - 1, cx, cx + int(darkJoin), cx + cw - 1, w.x + w.w / 3, w.x + w.w / 2, w.x + 2 * w.w / 3}) {
            if (x < left || x >= right)
                continue;
            const int t = x - cx + hst, i = t - S;
            if (t < S || t >= E) {
                if (t >= E || !(x < cx + darkJoin && w.x < cx))
                    return " leaves column " + std::to_string(x) + " dark" + at0;
                continue;
            }
            const double k = hph + i * hf;
            if (k >= readH + 1)
                return " shows column " + std::to_string(x) + " past its read of " + std::to_string(readH) + at0;
            const double stored = hm ? px0 + readH - 1 - k : px0 + k;
            const double got = u0 + stored * hr, rel = (x - w.x + 0.5) * uAsk - 0.5;
            const double ask = in[0] + (w.attr & 1 ? in[1] - 1 - rel : rel);
            // (a mirrored part narrower than a read's least 16 pixels cannot always be placed)
            if (std::abs(got - ask) > tolH && !(hm && (right - left) * hf < 16))
                return " shows input pixel " + std::to_string(int(got)) + " at column " + std::to_string(x) + " for " +
                       std::to_string(int(ask)) + at0;
        }
        if (S >= hst && cx + S - hst < left)   // (columns before the line's start are not seen)
            return " starts at column " + std::to_string(cx + S - hst) + ", outside its window" + at0;
        if (cx + E - hst > right)
            return " ends at column " + std::to_string(cx + E - hst) + ", outside its window" + at0;
        if (T >= vst && cy + T - vst < top)   // (rows before the frame's start are not seen)
            return " starts at row " + std::to_string(cy + T - vst) + ", above its window";
        for (int y : {w.y, w.y + 1, wb - 2, wb - 1, cy - 1, cy, cy + ch - 1, w.y + w.h / 3, w.y + w.h / 2}) {
            if (y < top || y >= bottom)
                continue;
            const int j = y - cy + vst - T;
            const double k = vph + j * vf;
            if (j < 0 || k >= r.lines + 1)
                return " leaves row " + std::to_string(y) + " dark (top " + std::to_string(T) + ", " + std::to_string(r.lines) + " lines)";
            const double got = v0 * lines + (line0 + (vm ? -k : k)) * vr, rel = (y - w.y + 0.5) * vAsk - 0.5;
            const double ask = in[2] * lines + (w.attr & 2 ? in[3] * lines - 1 - rel : rel);
            if (std::abs(got - ask) > tolV)
                return " shows input line " + std::to_string(int(got)) + " at row " + std::to_string(y) + " for " + std::to_string(int(ask));
        }
        return "";
    }
    // The chip's windows, input channels and joined memory: the window table, each channel's
    // owner with the port it takes (from its source code; none where nothing is captured: a
    // window left without memory, a channel its join leaves idle), each unit's owner.
    static std::string tables(const c331_manage& c)
    {
        std::string t = "windows";
        for (int e = 0; e < c.wincnt; ++e)
            for (int v : {-1, int(c.gWininfo[e].x), int(c.gWininfo[e].y), int(c.gWininfo[e].width), int(c.gWininfo[e].height),
                          int(c.gWininfo[e].input), c.PM_WIN_DBD_MODE[e], c.dbd_no_memory[e]})
                t += v < 0 ? ";" : " " + std::to_string(v);
        for (int ch = 0, code; ch < 8; ++ch)
            t += (ch ? " " : "; channels ") + std::to_string(c.ich_owner[ch]) +
                 (c.ich_owner[ch] < 0 || c.dbd_no_memory[c.ich_owner[ch]] || !reg(0x10, 0x19, 2, ch) ? "" : "/" + std::to_string((code = int(reg(0, 0x10 + ch))) < 8 ? code / 2 : code / 4 + 2));
        for (int u = 0; u < 6; ++u)
            t += (u ? " " : "; units ") + std::to_string(c.dbd_unit_owner[u]);
        return t;
    }
    // The picture check (the memory check within it), over layouts or over histories of edits,
    // applies and saves.
    void check(bool histories = false);
};



void ScalerMemory::check(bool histories)
{
    for (auto& r : source.hdminfo)
        r.valid = 0;   // the ports are as each step sets them, not measured from receivers
    kel_test::OmenuItem item;
    item.effect = 1;   // a scroll
    root.writeFile("/data/configs/omenu.json", kel_test::omenuJson(item));
    auto fresh = [this] {
        sim::ScalerModel::reset();
        auto c = std::make_unique<c331_manage>();
        c331_manage::p_c331_manage = c.get();
        c->c331_fd = c->drv->initialize();
        c->load_system_param();
        c->define_param();
        c->write_initial_setting(c->c331_fd, 0);
        return c;
    };
    // The tables of a start from the same block with the same inputs (its first input check
    // finding every port measured), made beside the running chip, whose registers are put back.
    auto started = [&](c331_manage& chip, const Step& s) {
        const auto regs = sim::ScalerModel::save();
        auto c = fresh();
        c->kelApi_PnlInit2(s.ledW, s.ledH, s.out1W, s.out1H, s.splice);
        for (int p = 0; p < 6; ++p) {
            const Port& q = s.ports[p];
            c->PI_ACT[p] = {q.hst, q.w, q.vst, q.w ? q.h : 0};
            c->PI_PORT_INFO[p] = {0, 0, 0, 0, 0, q.state, q.w ? 0 : 1, q.ip};
            c->PI_HDMI_INFO[p].lane = q.lanes;
            c->PI_UPDATE[p] = 1;
        }
        c->set_output(c->c331_fd);
        c->c331_stage = 7;
        pass(*c);
        const std::string t = tables(*c);
        board::SpiDevice::close(c->c331_fd);
        sim::ScalerModel::restore(regs);
        c331_manage::p_c331_manage = &chip;
        return t;
    };
    // Runs steps on a fresh chip; "" or the steps and the first fault.
    auto run = [&](std::vector<std::pair<Step, int>> steps) {
        auto chip = fresh();
        struct Close {
            int fd;
            ~Close() { board::SpiDevice::close(fd); }   // each case opens the bus afresh
        } close{chip->c331_fd};
        Step before = shownOf(steps[0].first);
        std::string told;
        held.clear();
        memoryless.clear();
        std::fill_n(starts, 8, 0);
        for (auto& [block, changed] : steps) {
            const Step s = shownOf(block);
            const std::set<int> ask = asking(before, s, changed);
            const bool rebuilt = s.how == 0 || (s.how == 1 && ask.size() == 6);
            std::tie(held, memoryless) = handedOut(s);
            // A set-up or a rebuild (all six ask) numbers the layers from the words, a word taken first
            // giving the lowest free layer; the apply step stores a changed word as it is, equal or not.
            for (int k = 0, taken = 0; k < 6; ++k)
                if (rebuilt ? s.wins[k].w != 0 : s.wins[k].prio != before.wins[k].prio) {
                    layer[k] = s.wins[k].prio % 6;
                    for (int l = 0; l < 6 && (taken >> layer[k] & 1); ++l)
                        layer[k] = l;
                    taken |= int(rebuilt) << layer[k];
                }
            // A set-up or a rebuild freezes as the words say; the apply step takes a changed freeze only
            // on a port with a picture (nothing to hold otherwise) and keeps it through other changes.
            for (int k = 0; k < 6; ++k)
                if (rebuilt || (k == changed && ((s.wins[k].out ^ before.wins[k].out) & 2) && s.wins[k].w))
                    frozen[k] = (s.wins[k].out & 2) && (rebuilt || (sourcePort(s.wins[k]) >= 0 && s.ports[sourcePort(s.wins[k])].w));
            apply(*chip, block);
            told += text(block) + "\n";
            std::string f = historyFault.empty() ? fault(s, held, memoryless) : historyFault;
            historyFault.clear();
            // (while a pattern shows the inputs are not followed)
            if (f.empty() && !patternShows(s) && !(block.how == 3 && block.h.cut >= 0))
                if (const std::string now = tables(*chip), then = started(*chip, s); now != then)
                    f = "the chip holds " + now + "\na start holds   " + then + "\n";
            if (f.empty() && &block == &steps.back().first) {
                // What a next change shows while it re-programs: every window held on a frame.
                std::fill_n(chip->g_chg_output, chip->wincnt, 2);
                chip->set_freeze(chip->c331_fd, 1);
                holdAll = true;
                f = fault(s, held, memoryless);
                holdAll = false;
                told += f.empty() ? "" : "held for a change\n";
            }
            if (!f.empty()) {
                c331_manage::p_c331_manage = &m;
                return told + f;
            }
            if (block.how == 3 && block.h.cut >= 0)
                break;   // the power is gone: what the next start loads was looked at
            before = s;
        }
        c331_manage::p_c331_manage = &m;
        return std::string();
    };
    auto on = [](int ledW, int ledH, std::vector<Win> wins, std::vector<Port> ports = {}) {
        Step s{ledW, ledH, ledW, ledH, 0, {}, {}, 0, 1, 0};
        std::copy(wins.begin(), wins.end(), s.wins);
        std::copy(ports.begin(), ports.end(), s.ports);
        for (int r = 0; r < 6; ++r)
            s.wins[r].prio = r;
        return s;
    };
    const Port p1440x2560{1440, 2560}, none{0}, wide{4096, 1080}, vbo{2160, 3840, 4, 0, 8};
    // Named layouts: the windows the rules keep dark, and the sequences whose earlier steps matter.
    Step six = on(3840, 2160, {{2, 0, 0, 960, 540}, {2, 960, 0, 960, 540}, {2, 1920, 0, 960, 540}, {2, 2880, 0, 960, 540},
                              {2, 0, 540, 960, 540}, {2, 960, 540, 960, 540}});
    Step pair = six;
    pair.wins[4].source = 3, pair.how = 1;   // V-by-One: ICH 4 is free, ICH 5 is not
    Step four = on(3840, 2160, {{1, 0, 0, 1920, 1080}, {0, 1920, 0, 1920, 1080}, {1, 0, 1080, 3840, 1080, 6}});
    Step nine = four;
    nine.wins[1].dbd = 6, nine.how = 1;
    Step back = nine;
    back.wins[2].dbd = -1;
    Step plain = on(960, 540, {{2, 0, 0, 960, 540}}), pattern = plain, larger = plain;
    pattern.pattern = larger.pattern = 4, pattern.how = larger.how = 1;
    larger.ledH = larger.out1H = 600;   // the LED size under a pattern
    Step narrow = on(960, 480, {{0, 893, 0, 67, 16, -1, 0, 2}}, {none, none, {64, 1080, 3}});
    narrow.splice = 4;
    Step wider = narrow;   // a crop wider than the picture: the picture's 64 pixels are stored
    wider.how = 1, wider.wins[0].crop[2] = 215, wider.wins[0].crop[3] = 1080;
    // Window 0 lists the channels window 4 was given when none was left idle: its black is its own.
    Step shared = on(3840, 2600, {{2, 0, 0, 3840, 2600}, {1, 0, 0, 3840, 500}, {0, 0, 500, 3840, 500}, {1, 0, 1000, 3840, 500},
                                  {0, 0, 2000, 3840, 600}});
    Step sharedBlack = shared;
    sharedBlack.wins[0].out = 1, sharedBlack.how = 1;
    Step bands = on(3840, 2160, {{2, 0, 0, 1200, 1200}, {2, 1200, 0, 880, 880}, {2, 2080, 0, 600, 600}, {2, 2680, 0, 400, 400}}, {{400, 400}});
    bands.sharp = 15;   // ratios 3, 2.2, 1.5 and 1: each band of the sharpness filter
    Step fields = on(3840, 3240, {{2, 0, 0, 1920, 3240}}, {{1920, 540, 5, 1}});
    fields.sharp = 15;   // 1080i on 3240 rows: three times the rows of its frame
    // Every record switched off (as drawn seed 4148225425060169444 did): the preset window, not
    // what the mirrored window of another input left in entry 0.
    Step lastOn = on(1920, 1080, {{1, 0, 0, 960, 540, -1, 1}}), noneOn = lastOn;
    noneOn.wins[0].w = 0, noneOn.how = 1;
    // Joined memory and channels follow the layout, not the table entries a rebuild renumbers:
    // the first of two joins switched off (the plain window moving into the second's entry);
    // the first of five windows on all 8 channels switched off; units given back reaching the
    // window that went without (a 4K input dropping to 1080p, then a portrait V-by-One one); 7
    // of 6 units asked after a port change (the last window in order goes without).
    Step joins = on(3840, 2160, {{1, 0, 0, 1920, 1080, 1}, {1, 1920, 0, 1920, 1080, 5}, {0, 0, 1080, 1920, 1080}}), joinOff = joins;
    Step eight = on(3840, 2160, {{2, 0, 0, 960, 540}, {1, 960, 0, 960, 540}, {0, 1920, 0, 960, 540}, {1, 0, 1080, 1920, 1080, 5},
                                 {3, 1920, 1080, 1920, 1080}}), seven = eight;
    joinOff.wins[0].w = seven.wins[0].w = 0, joinOff.how = seven.how = 1;
    Step units = on(3840, 2160, {{0, 0, 0, 1920, 1080, 0}, {1, 1920, 0, 1920, 1080, 1}, {1, 0, 1080, 1920, 1080, 3},
                                 {3, 1920, 1080, 1920, 1080, 0}}, {{}, {}, {3840, 2160}}), freed = units, portrait = units;
    freed.ports[2] = portrait.ports[2] = Port{}, portrait.ports[5] = Port{2160, 3840, 4, 0, 8}, freed.how = portrait.how = 2;
    Step over = on(3840, 2160, {{1, 0, 0, 1920, 1080, 0}, {1, 1920, 0, 1920, 1080, 6}, {0, 0, 1080, 1920, 1080, 3}}), grown = over;
    grown.ports[1] = Port{3840, 2160}, grown.how = 2;
    Step twoJoins = on(3840, 2160, {{1, 0, 0, 1920, 1080, 6}, {1, 1920, 0, 1920, 1080, 6}}), madePlain = twoJoins;
    madePlain.wins[1].dbd = -1, madePlain.how = 1;
    const std::vector<std::pair<std::string, std::vector<std::pair<Step, int>>>> layouts = {
        {"every record switched off", {{lastOn, 0}, {noneOn, 0}}},
        {"the first of two joins switched off", {{joins, 0}, {joinOff, 0}}},
        {"the first of five windows on 8 channels switched off", {{eight, 0}, {seven, 0}}},
        {"units given back reach the window that went without", {{units, 0}, {freed, -3}, {portrait, -6}}},
        {"7 of 6 units asked after a port change", {{over, 0}, {grown, -2}}},
        {"a join without memory made plain (drawn seed 14543479029011035144)", {{twoJoins, 0}, {madePlain, 1}}},
        {"three ports joined, the third shorter", {{on(1920, 1080, {{1, 0, 0, 1920, 1080, 5}}, {{640, 1080}, {640, 1080}, {640, 540}}), 0}}},
        {"a crop wider than its picture", {{narrow, 0}, {wider, 0}}},
        {"a join enlarged 13 times", {{on(3840, 2160, {{2, 1520, 0, 832, 540}}, {{64, 1080}}), 0}}},
        {"a last slice enlarged 59 times", {{on(3840, 2600, {{0, 1108, 0, 943, 16, -1, 0, 4, 0, {0, 0, 16, 4096}}}, {{2160, 2161, 4, 0, 0, 300, 90}}), 0}}},
        {"no channel in the lowest window held for a change", {{on(3840, 2160, {{4, 0, 0, 1920, 1080}, {1, 1920, 0, 1920, 1080}}), 0}}},
        {"no input", {{on(3840, 2600, {{1, 0, 0, 3840, 1080, -1, 1}, {4, 1920, 1900, 960, 540}}), 0}}},
        {"nine channels, none given", {{on(3840, 2600, {{0, 0, 0, 960, 540}, {1, 960, 0, 960, 540}, {2, 1920, 0, 960, 540},
                                                        {0, 2880, 0, 960, 540, 6}, {3, 0, 540, 960, 540}}), 0}}},
        {"portrait picture taller than a buffer", {{on(3840, 4320, {{2, 0, 0, 1920, 4320}, {3, 1920, 0, 1920, 4320}},
                                                       {p1440x2560, none, none, none, none, vbo}), 0}}},
        {"a 4096 wide line on ICH 4 and 5", {{on(7680, 1080, {{2, 0, 0, 16, 16}, {2, 16, 0, 16, 16}, {2, 32, 0, 16, 16}, {2, 48, 0, 16, 16},
                                                               {2, 0, 0, 7680, 1080}, {2, 3000, 500, 1280, 500}}, {wide}), 0}}},
        {"a cropped 4096 wide line stored narrower, mirrored", {{on(7680, 1080, {{2, 0, 0, 16, 16}, {2, 16, 0, 16, 16}, {2, 32, 0, 16, 16},
                                                                    {2, 48, 0, 16, 16}, {2, 0, 0, 7680, 1080, -1, 1, 0, 0, {600, 0, 3496, 1080}}}, {wide}), 0}}},
        {"interlaced on ICH 4-7", {{on(1920, 1080, {{2, 0, 0, 960, 540}, {2, 960, 0, 960, 540}, {2, 0, 540, 960, 540},
                                                     {2, 960, 540, 960, 540}, {2, 0, 0, 1920, 1080}, {2, 500, 500, 700, 500}}, {{1920, 540, 5, 1}}), 0}}},
        {"right edges on a cell border", {{on(3840, 2600, {{2, 0, 0, 1920, 500}, {2, 0, 500, 1920, 500}, {2, 100, 1000, 1820, 500},
                                                           {2, 0, 1500, 1920, 500}, {2, 0, 2000, 1920, 600}, {2, 1920, 0, 1920, 2600}}), 0}}},
        {"a pair where one half is taken", {{six, 0}, {pair, 4}}},
        {"720 x 576 filling two cells", {{on(7680, 2160, {{2, 0, 0, 7680, 2160}}, {{720, 576}}), 0}}},
        {"a window left without channels", {{four, 0}, {nine, 1}, {back, 2}}},
        {"a window going black over channels others own", {{shared, 0}, {sharedBlack, 0}}},
        {"a pattern over a new LED size", {{plain, 0}, {pattern, 0}, {larger, 0}}},
        {"one row enlarged past the width limit", {{on(3840, 2600, {{2, 0, 0, 3840, 1081}}, {{3840, 1080}}), 0}}},
        {"each sharpness band, then fields enlarged", {{bands, 0}, {fields, 0}}},
        {"a width-limited line cropped, read over two cells", {{on(3840, 1080, {{2, 0, 0, 3840, 1080, -1, 0, 0, 0, {200, 0, 3640, 540}}}, {{3840, 540}}), 0}}},
    };
    for (const auto& [name, steps] : layouts)
        EXPECT_EQ(histories ? "" : run(steps), "") << name;

    // Random layouts, one to six steps each on a chip fresh from power-on (its transfers
    // logged: the output starts are read from them).
    sim::SimBoard::setRecording(true);
    kel_test::checkProperty(histories ? "histories" : "picture over random layouts", [&] {
        std::vector<std::pair<Step, int>> steps{{drawn(), -1}};
        for (int i = 1, count = *rc::gen::inRange(1, 7); i < count; ++i) {
            int changed = -1;
            steps.push_back({histories ? edited(steps.back().first, changed) : followUp(steps.back().first, changed), changed});
            RC_CLASSIFY(patternShows(steps.back().first) && !steps.back().first.osd != !steps.end()[-2].first.osd, "overlay switched under a pattern");
            const History& h = steps.back().first.h;
            static const char* const kinds[] = {"black", "mirror", "freeze", "crop", "crop input", "audio window", "crop height"};
            RC_CLASSIFY(histories, kinds[h.kind] + std::string(h.undo ? " undone " + std::to_string(h.undo) : "") + " via " +
                                       std::to_string(h.via) + (h.cut >= 0 ? ", cut" : ""));
        }
        const Step& s = steps[0].first;
        const auto [cols, rows, oneColumn] = gridOf(s);
        int shown = 0, dbd = 0, tall = 0, crop = 0, frozen = 0, demand = 0, enlarged = 0, wide = 0, mirrored = 0, black = 0, edge = 0;
        for (const Win& w : s.wins) {
            const int p = std::max(sourcePort(w), 0);
            enlarged += w.w && w.w > 8 * s.ports[p].w;
            wide += w.w > 2176 && s.ports[p].w > 2176;
            mirrored += w.w && w.attr;
            black += w.w && (w.out & 5);
            shown += w.w != 0;
            dbd += w.w && w.dbd > 0;
            crop += w.w && w.crop[2];
            edge += w.w > w.crop[2] && w.crop[2] && w.crop[0] + w.crop[2] + 8 >= s.ports[p].w;
            frozen += w.w && (w.out & 2);
            demand += w.w ? demandOf(w) : 0;
        }
        for (const Port& q : s.ports)
            tall += q.h > 2176;
        RC_TAG(std::to_string(cols) + "x" + std::to_string(rows), "splice " + std::to_string(s.splice));
        RC_CLASSIFY(steps.size() > 3, "more than three steps");
        RC_CLASSIFY(demand > 8, "demand above 8");
        RC_CLASSIFY(dbd > 0, "joined ports");
        RC_CLASSIFY(tall > 0, "a port taller than a buffer");
        RC_CLASSIFY(crop > 0, "a crop record");
        RC_CLASSIFY(edge > 0, "a crop at its picture's right edge enlarged");
        RC_CLASSIFY(frozen > 0, "frozen");
        RC_CLASSIFY(s.osd, "OSD");
        RC_CLASSIFY(shown > 3, "four or more windows");
        RC_CLASSIFY(enlarged > 0, "enlarged past 8 times");
        RC_CLASSIFY(wide > 0, "a window and its picture over 2176 wide");
        RC_CLASSIFY(mirrored > 0, "mirrored");
        RC_CLASSIFY(black > 0, "black or fading");
        for (const auto& step : steps) {
            RC_CLASSIFY(step.first.how == 2, step.first.device ? "a port change measured" : "a port change");
            RC_CLASSIFY(patternShows(step.first), "a test pattern shown");
            RC_CLASSIFY(step.first.pattern && !patternShows(step.first), "a test pattern with more windows");
            RC_CLASSIFY(step.first.sharp > 9, "sharpened");
            RC_CLASSIFY(step.first.osd > 1, "overlay word above 1");
            RC_CLASSIFY(std::any_of(std::begin(step.first.wins), std::end(step.first.wins), [](const Win& w) { return w.w && w.prio > 5; }),
                        "a priority word above 5");
        }
        const std::string f = run(steps);
        if (!f.empty())
            RC_FAIL(f);
    }, {kel_test::underEmulation() ? 10 : 60, 100});
}

} // namespace

// Every cell reads only what its own window's captures wrote, and every lit cell shows the
// input pixels its window asks for, where its window lies.
TEST_F(ScalerMemory, EveryCellShowsThePictureItsWindowAsks)
{
    check();
}

// After black, mirror, freeze, a crop or the audio window pressed and pressed back at any
// point of an apply and a save, the chip shows, routes and stores what the block says.
TEST_F(ScalerMemory, EditsUndoneAtAnyStepLeaveTheChipAndTheFileAsTheBlockSays)
{
    check(true);
}
