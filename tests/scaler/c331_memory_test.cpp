// (a) Every cell reads only what its own window's captures wrote, in the same field buffer, from
// the ports the window names; (b) no two captures share a byte or reach the OSD's memory; (c) a
// window without a capture is dark: the chip's registers read back, over layouts and random ones.
#include "board/sim/spi/ScalerMemoryMap.h"
#include "tests/support/ScalerHarness.h"

#include <iterator>
#include <random>
#include <set>

namespace {

using Map = sim::ScalerMemoryMap;

// A window record: source word, rectangle (w = 0: record off), DBD word (-1: off), mirror
// bits, crop left and top, and 1 when it must be dark.
struct Win {
    int source, x, y, w, h, dbd = -1, attr = 0, cropL = 0, cropT = 0, dark = 0;
};
// The panel (LED size, output 1's size, splice), the records, the V-by-One ports' width and
// state, a second pass (a freeze in between), the size of ports 0-3, and for only >= 0 that
// only that window's output word is applied.
struct Step {
    int ledW, ledH, out1W, out1H, splice;
    std::vector<Win> wins;
    int vboWidth = 1920, vboState = 1, again = 0, cmosW = 1920, cmosH = 1080, only = -1;
};
// Panels of arrangement 5 (2 x 1), 6 (4 x 1), 7 (2 x 2), 8 (1 x 2), splices 3 and 4, then the size of
// ports 0-3; B6 with ports of 2600 x 2160 (a single one needs a memory unit, four joined more than one).
constexpr int A5[] = {1920, 1080, 1920, 1080, 0, 1920, 1080}, A6[] = {3840, 2600, 3840, 2600, 0, 1920, 1080};
constexpr int A7[] = {3840, 4320, 3840, 2160, 1, 1920, 1080}, A8[] = {1920, 2160, 1920, 1080, 1, 1920, 1080};
constexpr int S3[] = {3840, 1080, 1920, 1080, 3, 1920, 1080}, S4[] = {3840, 2600, 3840, 2600, 4, 1920, 1080};
constexpr int B6[] = {3840, 2600, 3840, 2600, 0, 2600, 2160}, W6[] = {3840, 2600, 3840, 2600, 0, 3840, 1080};
Step on(const int* p, std::vector<Win> wins, int again = 0, int vboWidth = 1920, int vboState = 1, int only = -1)
{
    return Step{p[0], p[1], p[2], p[3], p[4], std::move(wins), vboWidth, vboState, again, p[5], p[6], only};
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
    void run(const std::string& name, const std::vector<Step>& steps, bool strict = true)
    {
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            const std::string at = name + " step " + std::to_string(i);
            std::vector<Win> shown;   // the window table's entries: the records switched on
            for (int r = 0; r < 6; ++r) {
                const Win w = r < int(s.wins.size()) ? s.wins[size_t(r)] : Win{0, 0, 0, 0, 0};
                setWindow(r, w.source, w.x, w.y, w.w, w.h);
                setWord(window(r, 0), w.w ? 1 : 0);
                setWord(window(r, 4), uint16_t(w.attr));
                setWord(window(r, 18), w.dbd >= 0 ? 0x100 : 0);
                setWord(window(r, 22), uint16_t(std::max(w.dbd, 0)));
                if (w.w)
                    shown.push_back(w);
            }
            if (s.only >= 0) {
                m.c331_SetWinOutput(m.c331_fd, s.only, s.wins[size_t(s.only)].dbd >= 0 ? 0x100 : 0);
            } else {
                m.kelApi_PnlInit2(s.ledW, s.ledH, s.out1W, s.out1H, s.splice);
                for (int p = 0; p < 6; ++p) {
                    m.PI_ACT[p] = {p >= 4 ? 40 : 192, p >= 4 ? s.vboWidth : s.cmosW, 41, p >= 4 ? 1080 : s.cmosH};
                    m.PI_PORT_INFO[p] = {0, 0, 0, 0, 0, p >= 4 ? s.vboState : 0, 0, 0};   // up to 4 lanes
                }
                for (size_t e = 0; e < shown.size(); ++e) {
                    m.PM_INPUT_OFFSET_EN[e] = shown[e].cropL || shown[e].cropT;
                    m.PM_INPUT_OFFSET[e][0] = shown[e].cropL;
                    m.PM_INPUT_OFFSET[e][2] = shown[e].cropT;
                }
                for (int pass = 0; pass <= s.again; ++pass) {
                    std::fill_n(m.g_chg_output, pass ? m.wincnt : 0, 1);
                    m.set_output(m.c331_fd);
                }
            }
            const auto caps = Map::captures();
            EXPECT_EQ(Map::clashes(caps), "") << at;
            std::set<int> lit;
            for (const auto& r : Map::readouts()) {
                const int w = m.PM_WIN_NUM[r.och];
                ASSERT_TRUE(w >= 0 && w < int(shown.size())) << at << " OCH " << r.och;
                lit.insert(w);
                std::vector<Map::Capture> own;
                std::copy_if(caps.begin(), caps.end(), std::back_inserter(own), [&](auto& c) { return m.ich_owner[c.ich] == w; });
                EXPECT_EQ(Map::ports(own), ports(shown[size_t(w)])) << at << " OCH " << r.och << " shows window " << w;
                EXPECT_EQ(Map::unwritten(r, own), "") << at;
            }
            for (size_t w = 0; w < shown.size() && strict; ++w)
                EXPECT_EQ(lit.count(int(w)), shown[w].dark ? 0u : 1u) << at << " window " << w;
        }
    }
};

} // namespace

TEST_F(ScalerMemory, EveryCellReadsWhatItsOwnCapturesWrote)
{
    m.write_initial_setting(m.c331_fd, 0);   // the power-on memory map
    const std::vector<std::pair<std::string, std::vector<Step>>> layouts = {
        {"arrangements 5-8, splices 3, 4", {on(A5, {{1, 0, 0, 1920, 1080}}), on(A6, {{1, 100, 0, 3640, 1080}}),
                                            on(A7, {{1, 0, 0, 3840, 4320}}), on(A8, {{1, 0, 0, 1920, 2160}}),
                                            on(S3, {{1, 0, 0, 3840, 1080}}), on(S4, {{2, 0, 0, 3840, 2600}})}},
        {"six windows, eight channels", {on(A6, {{0, 0, 0, 960, 540}, {1, 960, 0, 960, 540}, {2, 1920, 0, 960, 540},
                                                 {0, 2880, 0, 960, 540}, {3, 0, 540, 960, 540}, {3, 960, 540, 960, 540}})}},
        {"mirror, crop reduced, no input", {on(A6, {{1, 0, 0, 3840, 1080, -1, 1}, {2, 0, 1200, 1920, 1080, -1, 2},
                                                    {1, 1920, 1200, 994, 540, -1, 0, 199, 100},
                                                    {4, 1920, 1900, 960, 540, -1, 0, 0, 0, 1}})}},
        {"width-limited reduction", {on(W6, {{1, 0, 0, 3840, 2000, -1, 0, 200}})}},
        {"V-by-One narrow; four, a fifth without input", {on(A6, {{3, 0, 0, 3840, 1080}, {3, 0, 1200, 3840, 1080}}),
                             on(A6, {{3, 0, 0, 1920, 1080}, {3, 1920, 0, 1920, 1080}, {3, 0, 1200, 1920, 1080},
                                     {3, 1920, 1200, 1920, 1080}, {4, 0, 0, 960, 540, -1, 0, 0, 0, 1}})}},
        {"V-by-One wide", {on(A6, {{3, 0, 0, 3840, 1080}, {3, 0, 1200, 3840, 1080}}, 0, 3840, 4)}},
        {"nine channels, none given", {on(A6, {{0, 0, 0, 960, 540, -1, 0, 0, 0, 1}, {1, 960, 0, 960, 540, -1, 0, 0, 0, 1},
                                               {2, 1920, 0, 960, 540, -1, 0, 0, 0, 1}, {0, 2880, 0, 960, 540, 6, 0, 0, 0, 1},
                                               {3, 0, 540, 960, 540, -1, 0, 0, 0, 1}})}},
        {"dot by dot 0-3", {on(A6, {{1, 0, 0, 1920, 1080, 0}, {0, 1920, 0, 1920, 1080, 1}}, 1),
                            on(A6, {{1, 0, 0, 1920, 2160, 2}, {0, 1920, 0, 1920, 1080, 3}})}},
        {"dot by dot 6, 7", {on(A6, {{1, 0, 0, 3840, 1080, 6}}), on(A6, {{1, 0, 0, 3840, 2160, 7}})}},
        {"dot by dot 8, 9", {on(A6, {{1, 0, 0, 3840, 1080, 8}}), on(A6, {{1, 0, 0, 3840, 2160, 9}}, 0, 3840, 4)}},
        {"dot by dot wide single input", {on(A6, {{3, 0, 0, 3840, 1080, 0}}, 0, 3840, 4)}},
        {"record off and on", {on(A6, {{1, 0, 0, 1280, 1080, 1}, {1, 1280, 0, 1280, 1080, 1}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 1280, 1080, 1}, {0, 0, 0, 0, 0}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 2560, 1080, 6}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 1920, 1080}, {2, 1920, 0, 1920, 1080}}, 1)}},
        {"dot by dot units: 1-2 held, 0 freed, no run of four", {on(B6, {{1, 0, 0, 1920, 1080, 0}, {1, 1920, 0, 1920, 1080, 1}}),
            on(B6, {{1, 0, 0, 1920, 1080}, {1, 1920, 0, 1920, 1080, 1}}, 0, 1920, 1, 0),
            on(B6, {{1, 0, 0, 1920, 1080, 6, 0, 0, 0, 1}, {1, 1920, 0, 1920, 1080, 1}}, 0, 1920, 1, 0)}},
        {"dot by dot without memory", {on(B6, {{1, 0, 0, 1280, 1080, 6}, {1, 1280, 0, 1280, 1080, 1},
                                               {1, 2560, 0, 1280, 1080, 0, 0, 0, 0, 1}})}},
    };
    for (const auto& l : layouts)
        run(l.first, l.second);

    std::mt19937 rnd(4049);
    const int* panels[4] = {A5, A6, A7, A8};
    for (int n = 0; n < 40; ++n) {
        const int* p = panels[rnd() % 4];
        Step s = on(p, {}, int(rnd() % 2), rnd() % 2 ? 1920 : 3840, rnd() % 2 ? 1 : 4);
        std::string name = "random " + std::to_string(n) + ":";
        for (int i = 0, count = 1 + int(rnd() % 4); i < count; ++i) {
            Win w{int(rnd() % 4), 0, 0, 64 + int(rnd() % unsigned(p[0] - 64)), 64 + int(rnd() % unsigned(p[1] - 64))};
            w.x = int(rnd() % unsigned(p[0] - w.w + 1));
            w.y = int(rnd() % unsigned(p[1] - w.h + 1));
            w.attr = int(rnd() % 4);
            w.dbd = rnd() % 3 ? -1 : int(rnd() % 10);
            w.cropL = rnd() % 3 ? 0 : int(rnd() % 800);
            s.wins.push_back(w);
            for (int v : {w.source, w.x, w.y, w.w, w.h, w.dbd, w.attr, w.cropL})
                name += " " + std::to_string(v);
        }
        run(name, {s}, false);
    }
}
