// Every cell reads only what its own window's captures wrote, in the same field buffer, from
// the ports the window names; no two captures share a byte or reach the OSD's memory; a
// window without a capture is dark. The simulated chip reads its registers back into memory
// ranges, over a table of layouts and random ones from a fixed seed.
#include "board/sim/spi/ScalerMemoryMap.h"
#include "tests/support/ScalerHarness.h"

#include <random>
#include <set>

namespace {

using Map = sim::ScalerMemoryMap;

// A window record: source word, rectangle (w = 0: record off), DBD word (-1: off), mirror
// bits, crop left and top, and whether it must be dark.
struct Win {
    int source, x, y, w, h, dbd = -1, attr = 0, cropL = 0, cropT = 0;
    bool dark = false;
};
// The panel (LED size, output 1's size, splice), the records, the V-by-One ports' width and
// state, a second pass (a freeze in between), the size of ports 0-3, and for only >= 0 that
// only that window's output word is applied.
struct Step {
    int ledW, ledH, out1W, out1H, splice;
    std::vector<Win> wins;
    int vboWidth = 1920, vboState = 1;
    bool again = false;
    int cmosW = 1920, cmosH = 1080, only = -1;
};
constexpr int A5[] = {1920, 1080, 1920, 1080, 0}, A6[] = {3840, 2600, 3840, 2600, 0};   // 2 x 1, 4 x 1
constexpr int A7[] = {3840, 4320, 3840, 2160, 1}, A8[] = {1920, 2160, 1920, 1080, 1};   // 2 x 2, 1 x 2
constexpr int S3[] = {3840, 1080, 1920, 1080, 3}, S4[] = {3840, 2600, 3840, 2600, 4};
Step on(const int* p, std::vector<Win> wins, bool again = false, int vboWidth = 1920, int vboState = 1)
{
    return Step{p[0], p[1], p[2], p[3], p[4], std::move(wins), vboWidth, vboState, again};
}
// Ports 0-3 at 2600 x 2160 (a single one needs a memory unit, four joined more than one).
Step big(Step s, int only, int w = 2600, int h = 2160)
{
    s.cmosW = w;
    s.cmosH = h;
    s.only = only;
    return s;
}

class ScalerMemory : public kel_test::ScalerHarness {
protected:
    void SetUp() override
    {
        kel_test::ScalerHarness::SetUp();
        m.write_initial_setting(m.c331_fd, 0);   // the power-on memory map
    }
    void apply(const Step& s)
    {
        shown.clear();
        for (int r = 0; r < 6; ++r) {
            const Win w = r < int(s.wins.size()) ? s.wins[size_t(r)] : Win{0, 0, 0, 0, 0};
            setWindow(r, w.source, w.x, w.y, w.w, w.h);
            setWord(window(r, 0), w.w ? 1 : 0);
            setWord(window(r, 4), uint16_t(w.attr));
            setWord(window(r, 18), w.dbd >= 0 ? 0x100 : 0);
            setWord(window(r, 22), uint16_t(std::max(w.dbd, 0)));
            setWord(2208 + 2 * r, uint16_t(r));
            if (w.w)
                shown.push_back(w);   // the window table's entries, in record order
        }
        if (s.only >= 0)
            return (void)m.c331_SetWinOutput(m.c331_fd, s.only, s.wins[size_t(s.only)].dbd >= 0 ? 0x100 : 0);
        m.kelApi_PnlInit2(s.ledW, s.ledH, s.out1W, s.out1H, s.splice);
        for (int p = 0; p < 6; ++p) {
            m.PI_ACT[p] = {p >= 4 ? 40 : 192, p >= 4 ? s.vboWidth : s.cmosW, 41, p >= 4 ? 1080 : s.cmosH};
            m.PI_PORT_INFO[p] = {0, 0, 0, 0, 0, p >= 4 ? s.vboState : 0, 0, 0};
            m.PI_HDMI_INFO[p].lane = p >= 4 ? 4 : 0;
        }
        for (size_t e = 0; e < shown.size(); ++e) {
            m.PM_INPUT_OFFSET_EN[e] = shown[e].cropL || shown[e].cropT;
            m.PM_INPUT_OFFSET[e][0] = shown[e].cropL;
            m.PM_INPUT_OFFSET[e][2] = shown[e].cropT;
        }
        for (int pass = 0; pass < (s.again ? 2 : 1); ++pass) {
            for (int w = 0; w < m.wincnt && pass; ++w)
                m.g_chg_output[w] = 1;
            m.set_output(m.c331_fd);
        }
    }
    // The ports a record names: its input, or the ports its DBD word joins.
    static std::set<int> ports(const Win& w)
    {
        static const std::set<int> joined[10] = {{}, {0, 1}, {0, 1}, {2, 3}, {2, 3}, {0, 1, 2}, {0, 1, 2, 3}, {0, 1, 2, 3}, {4, 5}, {4, 5}};
        static const int chip[4] = {2, 1, 0, 5};
        return w.dbd > 0 ? joined[w.dbd] : w.source < 4 ? std::set<int>{chip[w.source]} : std::set<int>{};
    }
    void check(const std::string& at, bool strict)
    {
        // (b) Captures apart from each other and below the OSD's memory; a line within its pitch.
        const auto caps = Map::captures();
        EXPECT_EQ(Map::clashes(caps), "") << at;
        // (a) Each cell reads, per field slot, bytes its window's captures wrote into that
        // buffer, from the ports the window names.
        std::set<int> lit;
        for (const auto& r : Map::readouts()) {
            const int w = m.PM_WIN_NUM[r.och];
            ASSERT_TRUE(w >= 0 && w < int(shown.size())) << at << " OCH " << r.och;
            lit.insert(w);
            std::vector<Map::Capture> own;
            std::set<int> got;
            for (const auto& c : caps)
                if (m.ich_owner[c.ich] == w) {
                    own.push_back(c);
                    got.insert(c.port);
                }
            EXPECT_EQ(got, ports(shown[size_t(w)])) << at << " OCH " << r.och << " shows window " << w;
            EXPECT_EQ(Map::unwritten(r, own), "") << at;
        }
        // (c) Windows that cannot have a capture show nothing; the others show.
        for (size_t w = 0; w < shown.size() && strict; ++w)
            EXPECT_EQ(lit.count(int(w)), shown[w].dark ? 0u : 1u) << at << " window " << w;
    }
    void run(const std::string& name, const std::vector<Step>& steps, bool strict = true)
    {
        for (size_t i = 0; i < steps.size(); ++i) {
            apply(steps[i]);
            check(name + " step " + std::to_string(i), strict);
        }
    }
    std::vector<Win> shown;   // records switched on
};

} // namespace

TEST_F(ScalerMemory, EveryCellReadsWhatItsOwnCapturesWrote)
{
    const std::vector<std::pair<std::string, std::vector<Step>>> layouts = {
        {"arrangement 5", {on(A5, {{1, 0, 0, 1920, 1080}})}},
        {"arrangement 6, two windows", {on(A6, {{1, 0, 0, 1920, 1080}, {2, 1920, 0, 1920, 1080}})}},
        {"arrangement 6, enlarged over two cells", {on(A6, {{1, 100, 0, 3640, 1080}})}},
        {"arrangement 7", {on(A7, {{1, 0, 0, 3840, 4320}})}},
        {"arrangement 8", {on(A8, {{1, 0, 0, 1920, 2160}})}},
        {"splice 3", {on(S3, {{1, 0, 0, 3840, 1080}})}},
        {"splice 4", {on(S4, {{2, 0, 0, 3840, 2600}})}},
        {"six windows", {on(A6, {{0, 0, 0, 960, 540}, {1, 960, 0, 960, 540}, {2, 1920, 0, 960, 540},
                                 {0, 2880, 0, 960, 540}, {1, 0, 540, 960, 540}, {2, 960, 540, 960, 540}})}},
        {"mirror", {on(A6, {{1, 0, 0, 3840, 1080, -1, 1}, {2, 0, 1200, 1920, 1080, -1, 2}})}},
        {"crop, reduced", {on(A6, {{1, 0, 0, 1280, 540, -1, 0, 300, 100}})}},
        {"width-limited reduction", {big(on(A6, {{1, 0, 0, 3840, 2000, -1, 0, 200}}), -1, 3840, 1080)}},
        {"V-by-One narrow", {on(A6, {{3, 0, 0, 3840, 1080}, {3, 0, 1200, 3840, 1080}})}},
        {"V-by-One wide", {on(A6, {{3, 0, 0, 3840, 1080}, {3, 0, 1200, 3840, 1080}}, false, 3840, 4)}},
        {"no input", {on(A6, {{4, 0, 0, 1920, 1080, -1, 0, 0, 0, true}, {1, 1920, 0, 1920, 1080}})}},
        {"dot by dot 0-3", {on(A6, {{1, 0, 0, 1920, 1080, 0}, {0, 1920, 0, 1920, 1080, 1}}),
                            on(A6, {{1, 0, 0, 1920, 2160, 2}, {0, 1920, 0, 1920, 1080, 3}})}},
        {"dot by dot 6, 7", {on(A6, {{1, 0, 0, 3840, 1080, 6}}), on(A6, {{1, 0, 0, 3840, 2160, 7}})}},
        {"dot by dot 8, 9", {on(A6, {{1, 0, 0, 3840, 1080, 8}}), on(A6, {{1, 0, 0, 3840, 2160, 9}}, false, 3840, 4)}},
        {"dot by dot wide single input", {on(A6, {{3, 0, 0, 3840, 1080, 0}}, false, 3840, 4)}},
        {"dot by dot after a freeze", {on(A6, {{1, 0, 0, 1920, 1080, 0}, {0, 1920, 0, 1920, 1080, 1}}, true)}},
        {"record off and on", {on(A6, {{1, 0, 0, 1280, 1080, 1}, {1, 1280, 0, 1280, 1080, 1}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 1280, 1080, 1}, {0, 0, 0, 0, 0}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 2560, 1080, 6}, {1, 2560, 0, 1280, 1080, 1}}),
                               on(A6, {{1, 0, 0, 1920, 1080}, {2, 1920, 0, 1920, 1080}}, true)}},
        // Units 1-2 held by window 1 and unit 0 freed: four in a run are not free.
        {"dot by dot memory in a run", {big(on(A6, {{1, 0, 0, 1920, 1080, 0}, {1, 1920, 0, 1920, 1080, 1}}), -1),
                                        big(on(A6, {{1, 0, 0, 1920, 1080}, {1, 1920, 0, 1920, 1080, 1}}), 0),
                                        big(on(A6, {{1, 0, 0, 1920, 1080, 6, 0, 0, 0, true}, {1, 1920, 0, 1920, 1080, 1}}), 0)}},
        {"dot by dot without memory", {big(on(A6, {{1, 0, 0, 1280, 1080, 6}, {1, 1280, 0, 1280, 1080, 1},
                                                   {1, 2560, 0, 1280, 1080, 0, 0, 0, 0, true}}), -1)}},
    };
    for (const auto& l : layouts)
        run(l.first, l.second);

    // Random layouts: up to four windows with random inputs, crops, mirrors and DBD words.
    std::mt19937 rnd(4049);
    const int* panels[4] = {A5, A6, A7, A8};
    for (int n = 0; n < 40; ++n) {
        const int* p = panels[rnd() % 4];
        Step s = on(p, {}, rnd() % 2, rnd() % 2 ? 1920 : 3840, rnd() % 2 ? 1 : 4);
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
