// The application on the simulated board: its scaler thread identifies the chip, runs the
// power-on sequence and the start-up stages, and applies a block change that a PC writes
// over UDP.
#include "tests/protocol/udp_fixture.h"
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"
#include "tests/support/ScalerHarness.h"

#include <gtest/gtest.h>

using kel_test::HostApp;

TEST(ScalerHostRun, BringsTheChipUpAndAppliesAPcWrite)
{
    KEL_SKIP_UNDER_EMULATION();
    HostApp host;
    ASSERT_TRUE(host.start()) << host.output;
    const int offset = host.offset;
    ASSERT_TRUE(host.waitFor("ok c331_id  setup= 8", 60)) << host.output;
    EXPECT_NE(host.output.find("c331_id = 24"), std::string::npos);
    EXPECT_EQ(host.output.find("error c331_id"), std::string::npos);
    ASSERT_TRUE(host.waitFor("start-up done", 60)) << host.output;

    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
    ASSERT_NE(pc, nullptr);
    // Priority of window 2 (default 2) becomes 5; register 11 asks for the change to be applied.
    ASSERT_EQ(pc->writeRam(2208 + 4, pc::Bytes{5, 0}), 0);
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_TRUE(host.waitFor("DIFF REG CUSTOM_INFO_IMAGE3_PRIORITY 0002==>0005", 30)) << host.output;
    // Window 0 becomes 1000 wide: the window table is rebuilt from the block.
    ASSERT_EQ(pc->writeRam(2272 + 14, pc::Bytes{0xE8, 0x03}), 0);
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_TRUE(host.waitFor("win0:(0,0,1000,1080)", 30)) << host.output;
}

namespace {
using ScalerPcWrite = kel_test::ScalerHarness;
} // namespace

// A PC moves window 0 over UDP and asks for the change to be applied: the scaler's next
// pass rebuilds the windows and the chip's channel registers follow.
TEST_F(ScalerPcWrite, WindowPositionReachesTheChannelRegisters)
{
    sim::SimBoard::useVirtualClock(false);   // the link's threads run in real time
    setWord(1378, 3840);
    setWord(1380, 2600);                     // two output channels of 1920, four in a row
    m.kelApi_PnlInit2(3840, 2600, 1920, 1080, 0);
    std::copy(std::begin(para.ram), std::end(para.ram), std::begin(para.ram_backup));
    ASSERT_EQ(m.pnl.ochW, 1920);
    ASSERT_EQ(reg(0, 0x09) & 1, 0u);
    m.c331_stage = 8;

    int offset = 0;
    auto link = udptest::openLink(offset);
    ASSERT_TRUE(link);
    ASSERT_EQ(link->start_threads(), 0);
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
    ASSERT_NE(pc, nullptr);
    ASSERT_EQ(pc->writeRam(uint32_t(window(0, 10)), pc::Bytes{0xE8, 0x03}), 0);   // x = 1000
    ASSERT_EQ(pc->writeRam(2178, pc::Bytes{100, 0}), 0);                            // contrast 100
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    ASSERT_NE(m.c331_apply_flag.load(), 0);
    m.c331manage_pass();

    EXPECT_EQ((std::vector<int>{int(m.c331_apply_flag.load()), m.gWininfo[0].x, m.PM_WIN_SHAPE[0][0],
                                m.PM_WIN_OFFSET[0][0], m.PM_WIN_OFFSET[0][1]}),
              (std::vector<int>{0, 1000, 2, 1000, 2 * 1920 - 1000 - 1920}));
    // Channels 0 and 1 show the window; the contrast gain of every channel. Each cell's
    // output width: cell 0 from x 1000 to its end, cell 1 the remaining 1000; the window's
    // right end in cell 1 closes its area of interest.
    using U = std::vector<unsigned>;
    EXPECT_EQ((U{reg(0, 0x08) & 1, reg(0, 0x09) & 1, reg(0, 0x0A) & 1, reg(0x0C, 0x28, 2, 0), reg(0x0C, 0x2C, 2, 7)}),
              (U{1, 1, 0, 1023, 1023}));
    EXPECT_EQ((U{reg(0x08, 0x42, 2, 0), reg(0x08, 0x42, 2, 1), reg(0x08, 0x32, 2, 1)}),
              (U{920, 1000, unsigned(1000 + m.PS_OAOIHST)}));
}
