// The application on the simulated board: its scaler thread identifies the chip, runs the
// power-on sequence and the start-up stages, and applies a block change that a PC writes
// over UDP.
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <gtest/gtest.h>

using kel_test::HostApp;

TEST(ScalerHostRun, BringsTheChipUpAndAppliesAPcWrite)
{
    KEL_SKIP_UNDER_EMULATION();
    HostApp host;
    KEL_START_HOST(host);
    const int offset = host.offset;
    ASSERT_TRUE(host.waitFor("ok c331_id  setup= 8", 60)) << host.output;
    EXPECT_TRUE(host.output.find("c331_id = 24") != std::string::npos && host.output.find("error c331_id") == std::string::npos) << host.output;
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

// Inputs 2+1 joined, 2+1+0 joined and a plain window applied, then the first switched off: the
// plain window moves into the second table entry, and the three-input join still gets its
// memory and shows.
TEST(ScalerHostRun, AJoinSwitchedOffLeavesTheOtherItsMemory)
{
    KEL_SKIP_UNDER_EMULATION();
    HostApp host;
    KEL_START_HOST(host);
    ASSERT_TRUE(host.waitFor("start-up done", 60)) << host.output;
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    ASSERT_NE(pc, nullptr);
    for (const auto& [r, source, out, dbd] : {std::tuple{0, 1, 0x100, 1}, {1, 1, 0x100, 5}, {2, 0, 0, 0}}) {
        pc::Bytes rec;
        for (int v : {1, 0, 0, 0, source, r * 640, 0, 640, 540, out, 0x8000, dbd, 0})
            rec.push_back(uint8_t(v)), rec.push_back(uint8_t(v >> 8));
        ASSERT_EQ(pc->writeRam(2272 + 26 * r, rec), 0);
    }
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    ASSERT_TRUE(host.waitFor("[set_ichsel] PM_WIN_DBD_MODE[win_1]:30", 30)) << host.output;
    host.output.clear();
    ASSERT_EQ(pc->writeRam(2272, pc::Bytes{0, 0}), 0);
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_TRUE(host.waitFor("[kelApi_MultiWinChInit] wincnt:2", 30) && host.waitFor("[set_ichsel] PM_WIN_DBD_MODE[win_0]:30", 30)) << host.output;
    EXPECT_EQ(host.output.find("memory assignment error"), std::string::npos) << host.output;
}
