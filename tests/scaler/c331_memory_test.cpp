// (a) In every field slot every cell reads only what its own window's captures finished in the slot
// before (frozen: what nothing writes now), in their packing, from the window's ports; (b) no two
// buffers share a byte or reach the OSD's memory; (c) a window without a capture is dark.
#include "board/sim/spi/ScalerMemoryMap.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"
#include "tests/support/ScalerHarness.h"

#include <iterator>
#include <memory>
#include <set>
#include <tuple>

namespace {

using Map = sim::ScalerMemoryMap;

// A window record: source word, rectangle (w = 0: record off), DBD word (-1: off), mirror
// bits, crops (left, top, right, bottom), 1 when it must be dark, packing, frozen.
struct Win {
    int source, x, y, w, h, dbd = -1, attr = 0, cropL = 0, cropT = 0, dark = 0, cropR = 0, cropB = 0, packing = 0, freeze = 0;
};
struct Port {   // as measured: width, height (of a field when interlaced), receiver state, interlaced, lanes
    int w = 1920, h = 1080, state = 0, ip = 0, lanes = 0;
};
// The panel (LED size, output 1's size, splice), the records, a second pass (a freeze in
// between), for only >= 0 that only that record's output word is applied, and the ports.
struct Step {
    int ledW, ledH, out1W, out1H, splice;
    std::vector<Win> wins;
    int again = 0, only = -1;
    Port ports[6];
};
// Panels of arrangement 5 (2 x 1), 6 (4 x 1), 7 (2 x 2), 8 (1 x 2), splices 3 and 4, then the size of
// ports 0-3; B6 with ports of 2600 x 2160 (a single one needs a memory unit, four joined more than one).
constexpr int A5[] = {1920, 1080, 1920, 1080, 0, 1920, 1080}, A6[] = {3840, 2600, 3840, 2600, 0, 1920, 1080};
constexpr int A7[] = {3840, 4320, 3840, 2160, 1, 1920, 1080}, A8[] = {1920, 2160, 1920, 1080, 1, 1920, 1080};
constexpr int S3[] = {3840, 1080, 1920, 1080, 3, 1920, 1080}, S4[] = {3840, 2600, 3840, 2600, 4, 1920, 1080};
constexpr int B6[] = {3840, 2600, 3840, 2600, 0, 2600, 2160};
const int* const kPanels[] = {A5, A6, A7, A8, S3, S4};
Step on(const int* p, std::vector<Win> wins, int again = 0, int vboWidth = 1920, int vboState = 1, int only = -1)
{
    Step s{p[0], p[1], p[2], p[3], p[4], std::move(wins), again, only, {}};
    for (int q = 0; q < 6; ++q)
        s.ports[q] = q < 4 ? Port{p[5], p[6]} : Port{vboWidth, 1080, vboState};
    return s;
}

// One draw of everything the panel and a PC can set, and of what the receivers can publish.
Step drawn()
{
    using namespace rc::gen;
    const int* p = kPanels[*inRange(0, 6)];
    Step s = on(p, {}, *inRange(0, 2));
    for (int q = 0; q < 6; ++q) {
        Port& o = s.ports[q];
        const int w = *oneOf(element(1920, 3840, 1280, 2560, 4096), inRange(64, 4097));
        o.h = *oneOf(element(1080, 2160, 720, 1440), inRange(64, 2161));
        if (q < 4) {
            o.w = std::min(w, 3840);
            o.ip = *element(0, 1);
            o.state = o.ip ? *inRange(5, 9) : *element(4, 3);
            o.h = o.ip ? std::max(o.h / 2, 32) : o.h;
        } else {
            o.state = *element(1, 4);
            o.w = o.state < 4 ? w / 2 : w;
            o.lanes = *element(4, 8);
        }
    }
    for (int i = 0, count = *inRange(1, 7); i < count; ++i) {
        Win w{*inRange(0, 5), 0, 0, *inRange(16, p[0] + 1), *inRange(16, p[1] + 1)};
        w.x = *inRange(0, p[0] - w.w + 1);
        if (*element(0, 0, 1))   // a few pixels before a cell's edge (of 960 or 1920)
            w.x = std::max(0, std::min(w.x / 960 * 960 + 960 - *inRange(1, 9), p[0] - w.w));
        w.y = *inRange(0, p[1] - w.h + 1);
        w.w *= i == 0 ? 1 : 1 - *element(0, 0, 0, 1);   // record off (with none on, a default window shows)
        w.dbd = std::max(*inRange(-10, 10), -1);
        w.attr = *inRange(0, 4);
        if (*element(0, 1))
            for (int* c : {&w.cropL, &w.cropR, &w.cropT, &w.cropB})
                *c = *inRange(0, 1200);
        w.packing = *inRange(0, 4);
        w.freeze = *element(0, 0, 0, 1);
        s.wins.push_back(w);
    }
    return s;
}

// A step as a failure message names it: panel, again, only; each port's w, h, state, interlaced,
// lanes; then each record's fields in the order of Win.
std::string text(const Step& s)
{
    std::vector<std::vector<int>> parts = {{s.ledW, s.ledH, s.out1W, s.out1H, s.splice, s.again, s.only}};
    for (const Port& q : s.ports)
        parts.push_back({q.w, q.h, q.state, q.ip, q.lanes});
    for (const Win& w : s.wins)
        parts.push_back({w.source, w.x, w.y, w.w, w.h, w.dbd, w.attr, w.cropL, w.cropT, w.dark, w.cropR, w.cropB, w.packing, w.freeze});
    std::string t;
    for (const auto& part : parts)
        for (size_t i = 0; i < part.size(); ++i)
            t += (i ? " " : t.empty() ? "" : "; ") + std::to_string(part[i]);
    return t;
}

class ScalerMemory : public kel_test::ScalerHarness {
protected:
    // The ports a record names: its input, or the ports its DBD word joins.
    static std::set<int> ports(const Win& w)
    {
        static const std::set<int> joined[10] = {{},           {0, 1},       {0, 1}, {2, 3}, {2, 3}, {0, 1, 2},
                                                 {0, 1, 2, 3}, {0, 1, 2, 3}, {4, 5}, {4, 5}};
        static const int chip[4] = {2, 1, 0, 5};
        return w.dbd > 0 ? joined[w.dbd] : w.source < 4 ? std::set<int>{chip[w.source]} : std::set<int>{};
    }
    void apply(c331_manage& m, const Step& s)
    {
        std::vector<Win> shown;   // the window table's entries: the records switched on
        for (int r = 0; r < 6; ++r) {
            const Win w = r < int(s.wins.size()) ? s.wins[size_t(r)] : Win{0, 0, 0, 0, 0};
            setWindow(r, w.source, w.x, w.y, w.w, w.h);
            setWord(window(r, 0), w.w ? 1 : 0);
            setWord(window(r, 4), uint16_t(w.attr));
            setWord(window(r, 18), uint16_t((w.dbd >= 0 ? 0x100 : 0) | (w.freeze ? 2 : 0)));
            setWord(window(r, 22), uint16_t(std::max(w.dbd, 0)));
            if (w.w)
                shown.push_back(w);
        }
        if (s.only >= 0) {
            const Win& w = s.wins[size_t(s.only)];   // a record switched on, written to its table entry
            const auto entry = std::count_if(s.wins.begin(), s.wins.begin() + s.only, [](const Win& v) { return v.w != 0; });
            m.c331_SetWinOutput(m.c331_fd, int(entry), (w.dbd >= 0 ? 0x100 : 0) | (w.freeze ? 2 : 0));
            return;
        }
        m.kelApi_PnlInit2(s.ledW, s.ledH, s.out1W, s.out1H, s.splice);
        for (int p = 0; p < 6; ++p) {
            const Port& q = s.ports[p];
            m.PI_ACT[p] = {p >= 4 ? 40 : 192, q.w, 41, q.h};
            m.PI_PORT_INFO[p] = {0, 0, 0, 0, 0, q.state, 0, q.ip};
            m.PI_HDMI_INFO[p].lane = q.lanes;
        }
        for (size_t e = 0; e < shown.size(); ++e) {
            const Win& w = shown[e];
            m.PM_INPUT_OFFSET_EN[e] = w.cropL || w.cropT || w.cropR || w.cropB;
            std::tie(m.PM_INPUT_OFFSET[e][0], m.PM_INPUT_OFFSET[e][1], m.PM_INPUT_OFFSET[e][2], m.PM_INPUT_OFFSET[e][3],
                     m.PS_MEM_WMODE[e]) = std::tie(w.cropL, w.cropR, w.cropT, w.cropB, w.packing);
        }
        for (int pass = 0; pass <= s.again; ++pass) {
            std::fill_n(m.g_chg_output, pass ? m.wincnt : 0, 1);
            m.set_output(m.c331_fd);
        }
    }
    // The first fault of the chip's memory after a step ("" when none); with strict, each
    // window is lit or dark as its record says.
    std::string fault(c331_manage& m, const Step& s, bool strict)
    {
        lit += Map::readouts().size();
        std::vector<Win> shown;
        std::copy_if(s.wins.begin(), s.wins.end(), std::back_inserter(shown), [](const Win& w) { return w.w != 0; });
        const auto caps = Map::captures();
        std::string out = Map::clashes(caps);
        std::set<int> shows;
        for (const auto& r : Map::readouts()) {
            const int w = m.PM_WIN_NUM[r.och];
            if (!out.empty() || w < 0 || w >= int(shown.size()))
                return out.empty() ? "OCH " + std::to_string(r.och) + " of no window" : out;
            shows.insert(w);
            std::vector<Map::Capture> own;
            std::copy_if(caps.begin(), caps.end(), std::back_inserter(own), [&](auto& c) { return m.ich_owner[c.ich] == w; });
            if (Map::ports(own) != ports(shown[size_t(w)]))
                return "OCH " + std::to_string(r.och) + " shows window " + std::to_string(w) + " from other ports";
            out = Map::unwritten(r, own);
        }
        for (size_t w = 0; w < shown.size() && strict && out.empty(); ++w)
            if (shows.count(int(w)) != (shown[w].dark ? 0u : 1u))
                out = "window " + std::to_string(w) + (shown[w].dark ? " lit" : " dark");
        return out;
    }
    size_t lit = 0;   // cells compared
};

} // namespace

TEST_F(ScalerMemory, EveryCellReadsWhatItsOwnCapturesWrote)
{
    m.write_initial_setting(m.c331_fd, 0);   // the power-on memory map, and the OSD drawn on it
    m.update_osd(m.c331_fd);
    // Named layouts: windows that must stay dark, and sequences whose earlier steps matter.
    const std::vector<std::pair<std::string, std::vector<Step>>> layouts = {
        {"no input", {on(A6, {{1, 0, 0, 3840, 1080, -1, 1}, {4, 1920, 1900, 960, 540, -1, 0, 0, 0, 1}})}},
        {"nine channels, none given", {on(A6, {{0, 0, 0, 960, 540, -1, 0, 0, 0, 1}, {1, 960, 0, 960, 540, -1, 0, 0, 0, 1},
             {2, 1920, 0, 960, 540, -1, 0, 0, 0, 1}, {0, 2880, 0, 960, 540, 6, 0, 0, 0, 1}, {3, 0, 540, 960, 540, -1, 0, 0, 0, 1}})}},
        {"dot by dot 0-3, 6-9, wide single input", {on(A6, {{1, 0, 0, 1920, 1080, 0}, {0, 1920, 0, 1920, 1080, 1}}, 1),
             on(A6, {{1, 0, 0, 1920, 2160, 2}, {0, 1920, 0, 1920, 1080, 3}}), on(A6, {{1, 0, 0, 3840, 1080, 6}}),
             on(A6, {{1, 0, 0, 3840, 2160, 7}}), on(A6, {{1, 0, 0, 3840, 1080, 8}}), on(A6, {{1, 0, 0, 3840, 2160, 9}}, 0, 3840, 4),
             on(A6, {{3, 0, 0, 3840, 1080, 0}}, 0, 3840, 4)}},
        {"dot by dot units: 1-2 held, 0 freed, no run of four", {on(B6, {{1, 0, 0, 1920, 1080, 0}, {1, 1920, 0, 1920, 1080, 1}}),
             on(B6, {{1, 0, 0, 1920, 1080}, {1, 1920, 0, 1920, 1080, 1}}, 0, 1920, 1, 0),
             on(B6, {{1, 0, 0, 1920, 1080, 6, 0, 0, 0, 1}, {1, 1920, 0, 1920, 1080, 1}}, 0, 1920, 1, 0)}},
        {"dot by dot without memory", {on(B6, {{1, 0, 0, 1280, 1080, 6}, {1, 1280, 0, 1280, 1080, 1},
             {1, 2560, 0, 1280, 1080, 0, 0, 0, 0, 1}})}},
    };
    for (const auto& [name, steps] : layouts)
        for (size_t i = 0; i < steps.size(); ++i) {
            apply(m, steps[i]);
            EXPECT_EQ(fault(m, steps[i], true), "") << name << " step " << i;
        }
    const size_t named = lit;

    // Random layouts, one to three steps each (a later step may only freeze or thaw a window),
    // each on a chip and manager fresh from power-on.
    kel_test::checkProperty("memory over random layouts", [this] {
        sim::ScalerModel::reset();
        auto fresh = std::make_unique<c331_manage>();
        c331_manage::p_c331_manage = fresh.get();   // the harness's manager again before returning
        fresh->c331_fd = fresh->drv->initialize();
        fresh->load_system_param();
        fresh->define_param();
        fresh->write_initial_setting(fresh->c331_fd, 0);
        Step s = drawn();
        std::string steps;
        for (int i = 0, count = *rc::gen::inRange(1, 4); i < count; ++i) {
            if (i > 0 && *rc::gen::element(0, 1)) {
                do   // a record switched on (record 0 always is)
                    s.only = *rc::gen::inRange(0, int(s.wins.size()));
                while (!s.wins[size_t(s.only)].w);
                s.wins[size_t(s.only)].freeze ^= 1;
            } else if (i > 0) {
                s = drawn();
            }
            apply(*fresh, s);
            steps += "step " + std::to_string(i) + ": " + text(s) + "\n";
            const std::string f = fault(*fresh, s, false);
            c331_manage::p_c331_manage = i + 1 < count && f.empty() ? fresh.get() : &m;
            if (!f.empty())
                RC_FAIL(steps + f);
        }
    }, {kel_test::underEmulation() ? 10 : 60, 100});
    EXPECT_GT(lit - named, 10u);   // the random layouts light cells to compare
}
