// Preset window layouts: the rectangles each arrangement gives them.
#include "tests/support/ScalerHarness.h"

#include <vector>

namespace {
using ScalerPresets = kel_test::ScalerHarness;
using Rects = std::vector<std::vector<int>>;

Rects rects(const c331_manage& m, int preset, int count)
{
    Rects out;
    for (int i = 0; i < count; ++i) {
        const ST_MWIN_RECT& r = m.mwin_rect[preset - 1][i];
        out.push_back({r.x, r.y, r.width, r.height});
    }
    return out;
}
} // namespace

TEST_F(ScalerPresets, PresetsByArrangement)
{
    // L x Lh = 7680 x 1080, W x H = 1920 x 1080.
    m.pnl.ledW = 7680;
    m.pnl.ledH = 1080;
    m.pnl.ochW = 1920;
    m.pnl.ochH = 1080;
    struct Case {
        int arrang, preset;
        Rects r;
    };
    const Rects row = {{0, 0, 1920, 1080},    {1920, 0, 1920, 1080}, {3840, 0, 1920, 1080},
                       {5760, 0, 1920, 1080}, {7680, 0, 1920, 1080}, {9600, 0, 1920, 1080}};
    const Rects pairs = {{0, 0, 1920, 1080},    {1920, 0, 1920, 1080},    {0, 1080, 1920, 1080},
                         {1920, 1080, 1920, 1080}, {0, 2160, 1920, 1080}, {1920, 2160, 1920, 1080}};
    const Rects column = {{0, 0, 1920, 1080},    {0, 1080, 1920, 1080}, {0, 2160, 1920, 1080},
                          {0, 3240, 1920, 1080}, {0, 4320, 1920, 1080}, {0, 5400, 1920, 1080}};
    const Rects fourAndTwo = {{0, 0, 1920, 1080},    {1920, 0, 1920, 1080}, {3840, 0, 1920, 1080},
                              {5760, 0, 1920, 1080}, {0, 1080, 1920, 1080}, {1920, 1080, 1920, 1080}};
    const Case cases[] = {
        {0, 1, {{0, 0, 7680, 1080}}},
        {0, 2, {{0, 0, 3840, 1080}, {3840, 0, 3840, 1080}}},
        {1, 2, {{0, 0, 3840, 1080}, {3840, 0, 3840, 1080}}},
        {0, 3, {{0, 0, 1600, 900}, {1600, 0, 3800, 2160}, {5400, 0, 1024, 768}}},
        {0, 4, {{0, 0, 7680, 540}, {0, 540, 6400, 540}, {6400, 540, 1280, 540}}},
        {0, 5, Rects(row.begin(), row.begin() + 4)},
        {1, 5, Rects(fourAndTwo.begin(), fourAndTwo.begin() + 4)},
        {10, 5, Rects(column.begin(), column.begin() + 4)},
        {11, 5, Rects(pairs.begin(), pairs.begin() + 4)},
        {0, 6, Rects(row.begin(), row.begin() + 4)},
        {10, 6, {{0, 0, 1920, 680}, {0, 680, 1920, 1480}, {0, 2560, 1920, 1080}, {0, 3640, 1920, 680}}},
        {11, 6, Rects(pairs.begin(), pairs.begin() + 4)},
        {0, 7, {{0, 0, 3840, 540}, {0, 540, 3840, 540}, {3840, 0, 3840, 360}, {3840, 360, 3840, 360},
                {3840, 720, 3840, 360}}},
        {0, 8, {{0, 0, 3840, 540}, {3840, 0, 3840, 540}, {0, 540, 2560, 540}, {2560, 540, 2560, 540},
                {5120, 540, 2560, 540}}},
        {0, 9, row},
        {1, 9, fourAndTwo},
        {10, 9, column},
        {18, 9, pairs},
        {0, 10, row},
        {1, 10, fourAndTwo},
        {9, 10, {{0, 0, 1920, 1080}, {960, 0, 1920, 1080}, {3840, 0, 860, 1080}, {4800, 0, 860, 1080},
                 {5760, 0, 1920, 440}, {5760, 540, 1920, 540}}},
        {11, 10, {{0, 0, 1920, 1080}, {1620, 0, 1920, 1080}, {100, 1180, 760, 880}, {960, 1180, 860, 880},
                  {2020, 1280, 1720, 340}, {2020, 1720, 1720, 440}}},
    };
    for (const Case& c : cases) {
        m.pnl.arrang = c.arrang;
        m.kelApi_MultiWinInit();
        EXPECT_EQ(rects(m, c.preset, int(c.r.size())), c.r) << "preset " << c.preset << " arrangement " << c.arrang;
    }

    // Preset 2 is left alone above arrangement 1; preset 10 at arrangement 10 needs a
    // 2048 x 8640 screen.
    for (auto& row : m.mwin_rect)
        for (auto& r : row)
            r = ST_MWIN_RECT{0, 0, 0, 0};
    m.pnl.arrang = 10;
    m.pnl.ledW = 2048;
    m.pnl.ledH = 8000;
    m.kelApi_MultiWinInit();
    EXPECT_EQ(rects(m, 2, 2), Rects(2, {0, 0, 0, 0}));
    EXPECT_EQ(rects(m, 10, 6), Rects(6, {0, 0, 0, 0}));
    m.pnl.ledH = 8640;
    m.pnl.ochW = 2048;
    m.pnl.ochH = 2160;
    m.kelApi_MultiWinInit();
    EXPECT_EQ(rects(m, 10, 6), (Rects{{0, 0, 2048, 2160}, {0, 1080, 2048, 3240}, {0, 4320, 2048, 980},
                                      {0, 5400, 2048, 1080}, {0, 6480, 924, 1080}, {1024, 6480, 1024, 1080}}));
}
