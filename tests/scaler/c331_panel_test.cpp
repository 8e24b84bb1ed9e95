// The LED panel set-up: one or two output channels by size, the timing list, the geometry
// reported in the block and the transmitter's lane order.
#include "tests/support/ScalerHarness.h"
#include "tests/support/ScalerLog.h"

#include <algorithm>
#include <tuple>
#include <vector>

namespace {
using ScalerPanel = kel_test::ScalerHarness;
using V = std::vector<int>;
} // namespace

TEST_F(ScalerPanel, TimingListAnchors)
{
    const auto& l = c331_manage::timing_list();
    ASSERT_EQ(l.size(), 5199u);
    using Rows = std::vector<std::pair<int, int>>;
    auto at = std::find(l.begin(), l.end(), std::make_pair(2232, 4437));
    ASSERT_NE(at, l.end());
    EXPECT_EQ((Rows{l[0], l[l.size() - 2], l[l.size() - 1], *(at + 1)}), (Rows{{660, 15000}, {8276, 1197}, {8280, 1196}, {2236, 4428}}));
    for (const auto& e : l)
        EXPECT_TRUE(int64_t(e.first) * e.second >= 5094049 && int64_t(e.first) * e.second <= 9971200) << e.first << " x " << e.second;
}

TEST_F(ScalerPanel, ChannelsArrangementLaneOrderAndReportedGeometry)
{
    // What a screen and splice give: one or two channels, the arrangement, the channels
    // across and down and the geometry reported in the block, and the lane order (bank 3
    // register 0x55). -1: a value this case does not fix.
    struct Case {
        int ledW, ledH, out1W, out1H, splice;
        int oneOch, arrang, across, down, ochW, ochH, xoff, yoff;
        uint32_t lanes;
    } const cases[] = {
        {3840, 2560, 1920, 1080, 0, 0, 6, 2, 1, 1920, 2560, 0, 0, 0x03020100},   // 9,830,400 pixels
        {3840, 2552, 1920, 1080, 6, 1, 5, 1, 1, 3840, 2552, 0, 0, 0x03020100},   // 9,799,680; 6 is 0
        {8192, 100, 1920, 1080, 0, 0, 6, 2, 1, 4096, 100, 0, 0, 0x03020100},     // wide: always two
        {1920, 1080, 1920, 1080, 4, 1, 5, 1, 1, 1920, 1080, 0, 0, 0},
        {3840, 2560, 1920, 1080, 4, 0, 6, 2, 1, 1920, 2560, 0, 0, 0x01000100},
        {1920, 2000, 1920, 800, 2, 1, 8, 1, 2, 1920, 1200, 0, 400, 0x00010000},   // stacked
        {3840, 5120, 1920, 2400, 2, 0, 7, 2, 2, 1920, 2720, 0, 320, 0x03020100},
        {3840, 5120, 1920, 2400, 1, 0, 7, 2, 2, 1920, 2720, 0, 320, 0x00010000},
        {1920, 1080, 800, 1080, 3, 1, 5, 2, 1, 1120, -1, 320, 0, 0x00010000},     // side by side
        {7680, 2600, 3600, 1080, 3, 0, 6, 4, 1, 2040, -1, 480, 0, 0x03020100},
        {1920, 1080, 1920, 1080, 5, 1, 5, 1, 2, -1, -1, 0, 0, 0x00010000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ledW << "x" << c.ledH << " splice " << c.splice);
        sim::ScalerModel::setReg(3, 0x55, 0xEE);
        m.kelApi_PnlInit2(c.ledW, c.ledH, c.out1W, c.out1H, c.splice);
        auto word = [&](int off) { return int(KelRamPara::get16(para.ram + off)); };
        EXPECT_EQ((V{m.pnl.oneOch, m.pnl.arrang, int(m.pnl.bw), para.ram[0x56A], para.ram[0x56B], para.ram[0x56C],
                     para.ram[0x56D], c.ochW < 0 ? -1 : word(0x56E), c.ochH < 0 ? -1 : word(0x570), word(0x566),
                     word(0x568), word(0x572)}),
                  (V{c.oneOch, c.arrang, 0, c.across, 0, c.down, 0, c.ochW, c.ochH, c.xoff, c.yoff, 0}));
        // The lane order; sync widths less one (HSW halved): HSW 12 either way, VSW 3 on one
        // channel, 12 on two.
        const unsigned vsw = c.oneOch ? 2 : 11;
        EXPECT_EQ((std::vector<unsigned>{reg(3, 0x55, 4), reg(3, 0x44), reg(3, 0x45), reg(3, 0x4C), reg(3, 0x4D)}),
                  (std::vector<unsigned>{c.lanes, 5, vsw, 5, vsw}));
    }
}

TEST_F(ScalerPanel, RegisterSequenceOfOneChannel)
{
    // 596 x 1000 on one channel: a line of 596 + 64 fits the timing list's first row
    // (660, 15000). HBP = 660 - 596 - 12 - 8 = 44, VBP = 15000 - 1000 - 3 - 3 = 13994, so the
    // active area runs from 56 to 652 and from line 13997 to 14997.
    m.kelApi_PnlInit2(596, 1000, 1920, 1080, 0);
    sim::ScalerModel::clearFrames();
    m.kelApi_c331InitRegPanel();
    std::vector<kel_test::ChipByte> want = kel_test::bytesOf({{3, 0x44, 1, 5}, {3, 0x45, 1, 2}, {3, 0x4C, 1, 5},
                                                              {3, 0x4D, 1, 2}});
    for (int c = 0; c < 8; ++c) {
        const int b = 0x08 + 0x10 * c;
        const auto ch = kel_test::bytesOf({{b, 0x0A, 2, 658},   {b, 0x0C, 2, 14998}, {b, 0x1D, 2, 64},
                                           {b, 0x28, 2, 56},    {b, 0x30, 2, 56},    {b, 0x2A, 2, 652},
                                           {b, 0x32, 2, 652},   {b, 0x2C, 2, 13997}, {b, 0x34, 2, 13997},
                                           {b, 0x2E, 2, 14997}, {b, 0x36, 2, 14997}, {b, 0x40, 2, 56},
                                           {b, 0x42, 2, 596},   {b, 0x44, 2, 13997}, {b, 0x46, 2, 1001}});
        want.insert(want.end(), ch.begin(), ch.end());
    }
    const auto rest = kel_test::bytesOf(
        {{3, 0x5E, 4, 0x76543210}, {3, 0x62, 4, 0x76543210}, {3, 0x55, 4, 0x03020100}, {3, 0x2C, 2, 0},
         {3, 0x2E, 1, 0},          {3, 0x2F, 2, 0},          {2, 0x08, 1, 9},          {3, 0x5E, 4, 0x76543210},
         {3, 0x36, 2, 0},          {3, 0x38, 1, 0},          {3, 0x39, 2, 0},          {2, 0x78, 1, 9},
         {3, 0x62, 4, 0x76543210}, {0, 0x47, 1, 33},         {0, 0x4C, 1, 33},         {0, 0x4B, 1, 11},
         {0, 0x50, 1, 11},         {0, 0x48, 1, 137},        {0, 0x4D, 1, 137}});
    want.insert(want.end(), rest.begin(), rest.end());
    auto got = kel_test::chipWrites();
    auto order = [](const kel_test::ChipByte& a, const kel_test::ChipByte& b) {
        return std::tie(a.bank, a.reg, a.value) < std::tie(b.bank, b.reg, b.value);
    };
    std::sort(want.begin(), want.end(), order);
    std::sort(got.begin(), got.end(), order);
    EXPECT_EQ(got, want);
    EXPECT_EQ((V{m.PS_VBOTX_MODE, m.PS_VBOTX_LAYOUT, m.PS_PANEL_HW, m.PS_PANEL_VW}), (V{2, 0, 2 * 596, 1000}));

    // The 2K2K30 bandwidth (never chosen by the set-up itself): splitter starts and widths
    // cleared, transmitter values 5 and 76, its own lane order, second value 153.
    const uint32_t lanesBySplice[6] = {0x32103210, 0x76543210, 0x76543210, 0x76543210, 0x32103210, 0x76543210};
    const std::vector<int> cleared = {0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x36, 0x37, 0x38, 0x39, 0x3A};
    for (int splice = 0; splice < 6; ++splice) {
        m.pnl.bw = 1;
        m.pnl.splice = splice;
        for (int r : cleared)
            sim::ScalerModel::setReg(3, r, 0xEE);
        m.kelApi_c331InitRegPanel();
        std::vector<unsigned> left;
        for (int r : cleared)
            left.push_back(reg(3, r));
        EXPECT_EQ(left, std::vector<unsigned>(cleared.size(), 0)) << splice;
        EXPECT_EQ((std::vector<unsigned>{reg(2, 0x08), reg(2, 0x78), reg(2, 0x18), reg(2, 0x30), reg(3, 0x55, 4),
                                         reg(0, 0x48), reg(0, 0x4D), reg(0, 0x4B), reg(0, 0x50)}),
                  (std::vector<unsigned>{5, 5, 76, 76, lanesBySplice[splice], 153, 153, 11, 11}))
            << splice;
    }
}

TEST_F(ScalerPanel, OutputOneLargerThanTheScreenIsClampedToIt)
{
    // Output 2 is empty, not 65536 - 580 wide (which would take two channels).
    m.kelApi_PnlInit2(1920, 1080, 2500, 1080, 3);
    EXPECT_EQ((V{m.pnl.out1W + m.pnl.out2W, m.pnl.oneOch}), (V{1920, 1}));
    m.kelApi_PnlInit2(1920, 1080, 1920, 1500, 1);   // stacked
    EXPECT_EQ(m.pnl.out1H + m.pnl.out2H, 1080);
}
