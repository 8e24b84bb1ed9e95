// Every cell reads only what its own window's captures wrote, in the same field buffer, from
// the ports the window names; no two captures share a byte or reach the OSD's memory; a
// window without a capture is dark. The chip's registers are read back into memory ranges
// by the simulated chip, over a table of layouts and random ones from a fixed seed.
#include "board/sim/spi/ScalerMemoryMap.h"
#include "tests/support/ScalerHarness.h"

#include <random>
#include <set>
#include <vector>

namespace {

using Map = sim::ScalerMemoryMap;

// A window record: source word (bit 15 + crop number, else the input), rectangle, DBD word
// (-1: off), attribute (mirror bits), crop margins left, top, and whether it must be dark.
struct Win {
    int source, x, y, w, h, dbd = -1, attr = 0, cropL = 0, cropT = 0;
    bool dark = false;
};
// A step: the panel (LED width, height, output-1 width, height, splice), the window records
// (an entry with w = 0 is a record switched off), the V-by-One ports' width and packing,
// whether the windows are re-applied once more (a freeze in between), the size of ports 0-3
// and, for only >= 0, that only the output word of that window is applied.
struct Step {
    int ledW, ledH, out1W, out1H, splice;
    std::vector<Win> wins;
    int vboWidth = 1920, vboState = 1;
    bool again = false;
    int cmosW = 1920, cmosH = 1080, only = -1;
};
struct Layout {
    std::string name;
    std::vector<Step> steps;
};

class ScalerMemory : public kel_test::ScalerHarness {
protected:
    void SetUp() override
    {
        kel_test::ScalerHarness::SetUp();
        m.write_initial_setting(m.c331_fd, 0);   // the power-on memory map
    }
    void inputs(const Step& s)
    {
        for (int p = 0; p < 6; ++p) {
            const bool vbo = p >= 4;
            m.PI_ACT[p] = {vbo ? 40 : 192, vbo ? s.vboWidth : s.cmosW, 41, vbo ? 1080 : s.cmosH};
            m.PI_PORT_INFO[p].STATE = vbo ? s.vboState : 0;
            m.PI_PORT_INFO[p].NOSIG = 0;
            m.PI_PORT_INFO[p].IP = 0;
            m.PI_HDMI_INFO[p].lane = vbo ? 4 : 0;
        }
    }
    void apply(const Step& s)
    {
        for (int r = 0; r < 6; ++r) {
            const Win* w = r < int(s.wins.size()) && s.wins[size_t(r)].w ? &s.wins[size_t(r)] : nullptr;
            setWord(window(r, 0), w ? 1 : 0);
            if (!w)
                continue;
            setWindow(r, w->source, w->x, w->y, w->w, w->h);
            setWord(window(r, 4), uint16_t(w->attr));
            setWord(window(r, 18), w->dbd >= 0 ? 0x100 : 0);
            setWord(window(r, 22), uint16_t(std::max(w->dbd, 0)));
            setWord(2208 + 2 * r, uint16_t(r));
        }
        if (s.only >= 0) {
            m.c331_SetWinOutput(m.c331_fd, s.only, s.wins[size_t(s.only)].dbd >= 0 ? 0x100 : 0);
            return;
        }
        m.kelApi_PnlInit2(s.ledW, s.ledH, s.out1W, s.out1H, s.splice);
        inputs(s);
        for (int e = 0, r = 0; r < int(s.wins.size()); ++r)
            if (s.wins[size_t(r)].w) {
                const Win& w = s.wins[size_t(r)];
                m.PM_INPUT_OFFSET_EN[e] = w.cropL || w.cropT;
                m.PM_INPUT_OFFSET[e][0] = w.cropL;
                m.PM_INPUT_OFFSET[e][2] = w.cropT;
                ++e;
            }
        m.set_output(m.c331_fd);
        if (s.again) {
            for (int w = 0; w < m.wincnt; ++w)
                m.g_chg_output[w] = 1;
            m.set_output(m.c331_fd);
        }
    }
    // The ports a record names: its input, or the ports its DBD word joins.
    static std::set<int> ports(const Win& w)
    {
        static const int chip[4] = {2, 1, 0, 5};
        static const std::set<int> joined[10] = {{}, {0, 1}, {0, 1}, {2, 3}, {2, 3}, {0, 1, 2}, {0, 1, 2, 3}, {0, 1, 2, 3}, {4, 5}, {4, 5}};
        if (w.dbd > 0 && w.dbd < 10)
            return joined[w.dbd];
        return w.source >= 0 && w.source < 4 ? std::set<int>{chip[w.source]} : std::set<int>{};
    }
    void check(const Step& s, const std::string& at, bool strict)
    {
        std::vector<const Win*> entries;
        for (const Win& w : s.wins)
            if (w.w)
                entries.push_back(&w);
        const auto caps = Map::captures();
        // (b) Captures apart from each other and from the OSD's memory; a line within its pitch.
        const uint64_t reserved = Map::reservedStart();
        ASSERT_NE(reserved, 0u) << at;
        for (size_t i = 0; i < caps.size(); ++i) {
            EXPECT_LE(caps[i].lineBytes, uint64_t(std::abs(caps[i].pitch))) << at << " ICH " << caps[i].ich;
            for (int k = 0; k < 4; ++k) {
                const auto mine = Map::lines(caps[i], caps[i].order[k]);
                EXPECT_TRUE(mine.empty() || mine.back().end <= reserved) << at << " ICH " << caps[i].ich;
                for (size_t j = i + 1; j < caps.size(); ++j)
                    for (int l = 0; l < 4; ++l)
                        EXPECT_EQ(Map::overlap(mine, Map::lines(caps[j], caps[j].order[l])), "")
                            << at << " ICH " << caps[i].ich << " and " << caps[j].ich;
            }
        }
        // (a) Each cell reads, per field slot, bytes its window's captures wrote into that buffer.
        std::set<int> shown;
        for (const auto& r : Map::readouts()) {
            const int w = m.PM_WIN_NUM[r.och];
            ASSERT_TRUE(w >= 0 && w < int(entries.size())) << at << " OCH " << r.och;
            shown.insert(w);
            std::vector<Map::Capture> own;
            for (const auto& c : caps)
                if (m.ich_owner[c.ich] == w) {
                    own.push_back(c);
                    EXPECT_EQ(ports(*entries[size_t(w)]).count(c.port), 1u) << at << " ICH " << c.ich << " port " << c.port;
                }
            EXPECT_FALSE(own.empty()) << at << " OCH " << r.och << " shows window " << w << " without a capture";
            for (int k = 0; k < 4; ++k) {
                std::vector<Map::Range> written;
                for (const auto& c : own)
                    for (int j = 0; j < 4; ++j)
                        if (c.order[j] == r.order[k]) {
                            const auto l = Map::lines(c, r.order[k]);
                            written.insert(written.end(), l.begin(), l.end());
                        }
                EXPECT_EQ(Map::outside(Map::lines(r, r.order[k]), written), "")
                    << at << " OCH " << r.och << " slot " << k << " buffer " << r.order[k];
            }
        }
        // (c) Windows that cannot have a capture show nothing; the others show.
        for (size_t w = 0; w < entries.size() && strict; ++w)
            EXPECT_EQ(shown.count(int(w)), entries[w]->dark ? 0u : 1u) << at << " window " << w;
    }
    void run(const Layout& l, bool strict = true)
    {
        for (size_t i = 0; i < l.steps.size(); ++i) {
            apply(l.steps[i]);
            check(l.steps[i], l.name + " step " + std::to_string(i), strict);
        }
    }
};

// Panels: arrangement 5 (one channel, 2 x 1), 6 (two channels, 4 x 1), 7 (two, 2 x 2), 8 (one, 1 x 2).
constexpr int A5[] = {1920, 1080, 1920, 1080, 0}, A6[] = {3840, 2600, 3840, 2600, 0};
constexpr int A7[] = {3840, 4320, 3840, 2160, 1}, A8[] = {1920, 2160, 1920, 1080, 1};
constexpr int S3[] = {3840, 1080, 1920, 1080, 3}, S4[] = {3840, 2600, 3840, 2600, 4};
Step on(const int* p, std::vector<Win> wins, bool again = false, int vboWidth = 1920, int vboState = 1)
{
    Step s{p[0], p[1], p[2], p[3], p[4], std::move(wins), vboWidth, vboState, again};
    return s;
}

// Ports 0-3 at 2600 x 2160: a single one needs a memory unit, four joined more than one.
Step big(Step s, int only)
{
    s.cmosW = 2600;
    s.cmosH = 2160;
    s.only = only;
    return s;
}

} // namespace

TEST_F(ScalerMemory, EveryCellReadsWhatItsOwnCapturesWrote)
{
    const std::vector<Layout> layouts = {
        {"arrangement 5", {on(A5, {{1, 0, 0, 1920, 1080}})}},
        {"arrangement 6, two windows", {on(A6, {{1, 0, 0, 1920, 1080}, {2, 1920, 0, 1920, 1080}})}},
        {"arrangement 6, enlarged over two cells", {on(A6, {{1, 100, 0, 3640, 1080}})}},
        {"arrangement 7, 2 x 2", {on(A7, {{1, 0, 0, 3840, 4320}})}},
        {"arrangement 8", {on(A8, {{1, 0, 0, 1920, 2160}})}},
        {"splice 3", {on(S3, {{1, 0, 0, 3840, 1080}})}},
        {"splice 4", {on(S4, {{2, 0, 0, 3840, 2600}})}},
        {"six windows", {on(A6, {{0, 0, 0, 960, 540}, {1, 960, 0, 960, 540}, {2, 1920, 0, 960, 540},
                                 {0, 2880, 0, 960, 540}, {1, 0, 540, 960, 540}, {2, 960, 540, 960, 540}})}},
        {"mirror", {on(A6, {{1, 0, 0, 3840, 1080, -1, 1}, {2, 0, 1200, 1920, 1080, -1, 2}})}},
        {"crop, reduced", {on(A6, {{1, 0, 0, 1280, 540, -1, 0, 300, 100}})}},
        {"width-limited reduction", {on(A5, {{3, 0, 0, 3840, 2000, -1, 0, 200}}, false, 3840, 4)}},
        {"V-by-One narrow over two cells", {on(A6, {{3, 0, 0, 3840, 1080}, {1, 0, 1200, 1920, 1080}})}},
        {"V-by-One wide over two cells", {on(A6, {{3, 0, 0, 3840, 1080}, {1, 0, 1200, 1920, 1080}}, false, 3840, 4)}},
        {"no input", {on(A6, {{4, 0, 0, 1920, 1080, -1, 0, 0, 0, true}, {1, 1920, 0, 1920, 1080}})}},
        {"dot by dot 0, 1, 2, 3", {on(A6, {{1, 0, 0, 1920, 1080, 0}, {0, 1920, 0, 1920, 1080, 1}}),
                                   on(A6, {{1, 0, 0, 1920, 2160, 2}, {0, 1920, 0, 1920, 1080, 3}})}},
        {"dot by dot 6, 7", {on(A6, {{1, 0, 0, 3840, 1080, 6}}), on(A6, {{1, 0, 0, 3840, 2160, 7}})}},
        {"dot by dot 8, 9", {on(A6, {{1, 0, 0, 3840, 1080, 8}}, false, 1920, 1), on(A6, {{1, 0, 0, 3840, 2160, 9}}, false, 3840, 4)}},
        {"dot by dot wide single input", {on(A6, {{3, 0, 0, 3840, 1080, 0}}, false, 3840, 4)}},
        {"dot by dot after a freeze", {on(A6, {{1, 0, 0, 1920, 1080, 0}, {0, 1920, 0, 1920, 1080, 1}}, true)}},
        {"record off and on", {on(A6, {{1, 0, 0, 1280, 1080, 1}, {1, 1280, 0, 1280, 1080, 1}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 1280, 1080, 1}, {0, 0, 0, 0, 0}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 2560, 1080, 6}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 1920, 1080}, {2, 1920, 0, 1920, 1080}}, true)}},
        {"dot by dot memory runs on", {big(on(A6, {{1, 0, 0, 1920, 1080, 0}, {1, 1920, 0, 1920, 1080, 1}}), -1),
                                       big(on(A6, {{1, 0, 0, 1920, 1080}, {1, 1920, 0, 1920, 1080, 1}}), 0),
                                       big(on(A6, {{1, 0, 0, 1920, 1080, 6, 0, 0, 0, true}, {1, 1920, 0, 1920, 1080, 1}}), 0)}},
        {"dot by dot without memory is dark",
         {big(on(A6, {{1, 0, 0, 1280, 1080, 6}, {1, 1280, 0, 1280, 1080, 1}, {1, 2560, 0, 1280, 1080, 0, 0, 0, 0, true}}), -1)}},
    };
    for (const Layout& l : layouts)
        run(l);

    // Random layouts from a fixed seed: up to four windows on the panel of a random
    // arrangement, random inputs, crops, mirrors and DBD words.
    std::mt19937 rnd(4049);
    const int* panels[4] = {A5, A6, A7, A8};
    for (int n = 0; n < 40; ++n) {
        const int* p = panels[rnd() % 4];
        Step s = on(p, {}, rnd() % 2, rnd() % 2 ? 1920 : 3840, rnd() % 2 ? 1 : 4);
        const int count = 1 + int(rnd() % 4);
        for (int i = 0; i < count; ++i) {
            Win w{int(rnd() % 4), 0, 0, 0, 0};
            w.w = 64 + int(rnd() % unsigned(p[0] - 64));
            w.h = 64 + int(rnd() % unsigned(p[1] - 64));
            w.x = int(rnd() % unsigned(p[0] - w.w + 1));
            w.y = int(rnd() % unsigned(p[1] - w.h + 1));
            w.attr = int(rnd() % 4);
            w.dbd = rnd() % 3 ? -1 : int(rnd() % 10);
            w.cropL = rnd() % 3 ? 0 : int(rnd() % 800);
            s.wins.push_back(w);
        }
        std::string name = "random " + std::to_string(n) + ":";
        for (const Win& w : s.wins)
            name += " {" + std::to_string(w.source) + " " + std::to_string(w.x) + " " + std::to_string(w.y) + " " + std::to_string(w.w) + " " + std::to_string(w.h) + " dbd " + std::to_string(w.dbd) + " attr " + std::to_string(w.attr) + " crop " + std::to_string(w.cropL) + "}";
        name += " panel " + std::to_string(s.ledW) + "x" + std::to_string(s.ledH) + " splice " + std::to_string(s.splice) + " vbo " + std::to_string(s.vboWidth) + "/" + std::to_string(s.vboState) + (s.again ? " again" : "");
        run({name, {s}}, false);
    }
}
