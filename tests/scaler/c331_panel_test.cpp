// The LED panel set-up: one or two output channels by size, the timing list, the geometry
// reported in the block and the transmitter's lane order.
#include "tests/support/ScalerHarness.h"

#include <algorithm>

namespace {
using ScalerPanel = kel_test::ScalerHarness;
} // namespace

TEST_F(ScalerPanel, TimingListAnchors)
{
    const auto& l = c331_manage::timing_list();
    ASSERT_EQ(l.size(), 5199u);
    EXPECT_EQ(l.front(), std::make_pair(660, 15000));
    EXPECT_EQ(l[l.size() - 2], std::make_pair(8276, 1197));
    EXPECT_EQ(l.back(), std::make_pair(8280, 1196));
    auto at = std::find(l.begin(), l.end(), std::make_pair(2232, 4437));
    ASSERT_NE(at, l.end());
    EXPECT_EQ(*(at + 1), std::make_pair(2236, 4428));
    for (const auto& e : l) {
        EXPECT_GE(int64_t(e.first) * e.second, 5094049);
        EXPECT_LE(int64_t(e.first) * e.second, 9971200);
    }
}

TEST_F(ScalerPanel, OutputChannelsBySize)
{
    // 3840 x 2560 (9,830,400 pixels) needs two channels of 1920 in a row of four.
    m.kelApi_PnlInit2(3840, 2560, 1920, 1080, 0);
    EXPECT_EQ(m.pnl.oneOch, 0);
    EXPECT_EQ(m.pnl.arrang, 6);
    EXPECT_EQ(m.pnl.ochW, 1920);
    EXPECT_EQ(m.pnl.ochH, 2560);
    EXPECT_EQ(para.ram[0x56A], 2);
    EXPECT_EQ(para.ram[0x56C], 1);
    EXPECT_EQ(KelRamPara::get16(para.ram + 0x56E), 1920);
    EXPECT_EQ(KelRamPara::get16(para.ram + 0x570), 2560);
    EXPECT_EQ(reg(3, 0x55, 4), 0x03020100u);
    // 3840 x 2552 (9,799,680) fits one.
    m.kelApi_PnlInit2(3840, 2552, 1920, 1080, 0);
    EXPECT_EQ(m.pnl.oneOch, 1);
    EXPECT_EQ(m.pnl.arrang, 5);
    EXPECT_EQ(m.pnl.ochW, 3840);
    EXPECT_EQ(para.ram[0x56A], 1);
    // 1920 x 1080: the first list entry of at least 1984 x 1092 is (1984, 4990).
    m.kelApi_PnlInit2(1920, 1080, 1920, 1080, 6);   // splice 6 is splice 0
    EXPECT_EQ(m.pnl.splice, 0);
    EXPECT_EQ(m.PS_HTOTAL, 1984);
    EXPECT_EQ(m.PS_VTOTAL, 4990);
    EXPECT_EQ(m.PS_ACTHW, 1920);
    EXPECT_EQ(m.PS_ACTVW, 1080);
    EXPECT_EQ(reg(0x08, 0x0A, 2, 3), 1982u);         // every channel's line length
    EXPECT_EQ(reg(0x08, 0x42, 2, 7), 1920u);
    EXPECT_EQ(reg(0x08, 0x46, 2, 0), 1081u);
    EXPECT_EQ(reg(0, 0x48), 137u);
    EXPECT_EQ(reg(0, 0x4B), 11u);
    EXPECT_EQ(m.PS_VBOTX_MODE, 2);
    EXPECT_EQ(m.PS_PANEL_HW, 2 * 1920);
    // Copy to both outputs: one channel sends nothing on its second lane group, two
    // channels alternate.
    m.kelApi_PnlInit2(1920, 1080, 1920, 1080, 4);
    EXPECT_EQ(reg(3, 0x55, 4), 0u);
    m.kelApi_PnlInit2(3840, 2560, 1920, 1080, 4);
    EXPECT_EQ(reg(3, 0x55, 4), 0x01000100u);
    // Stacked: output 1 is 1080 lines of a 2000-line screen, one channel a row.
    m.kelApi_PnlInit2(1920, 2000, 1920, 1080, 2);
    EXPECT_EQ(m.pnl.arrang, 8);
    EXPECT_EQ(m.pnl.ochH, 1080);
    EXPECT_EQ(para.ram[0x56A], 1);
    EXPECT_EQ(para.ram[0x56C], 2);
}

TEST_F(ScalerPanel, OutputOneLargerThanTheScreenIsClampedToIt)
{
    // Output 2 is empty, not 65536 - 580 wide (which would take two channels).
    m.kelApi_PnlInit2(1920, 1080, 2500, 1080, 3);
    EXPECT_EQ(m.pnl.out1W + m.pnl.out2W, 1920);
    EXPECT_EQ(m.pnl.oneOch, 1);
    m.kelApi_PnlInit2(1920, 1080, 1920, 1500, 1);   // stacked
    EXPECT_EQ(m.pnl.out1H + m.pnl.out2H, 1080);
}
