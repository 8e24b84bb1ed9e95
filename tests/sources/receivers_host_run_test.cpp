// The program on the simulated board with a 1080p60 source on input 0 and a 3840x2160 one at
// 30 Hz on input 3: input 0's receiver reaches video on, its clock's arrival ending in exactly
// one equaliser search; the HDMI 2.0 receiver follows its source to a stable picture; both
// are published in their status bytes, where the home screen reads them, the scaler takes
// both timings, and a window showing input 3 lights the output.
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <chrono>
#include <gtest/gtest.h>

TEST(ReceiverHostRun, A1080p60SourceOnInputZeroAndA4kOneOnInput3ArePublishedAndLightAWindow)
{
    KEL_SKIP_UNDER_EMULATION();
    kel_test::HostApp host;
    KEL_START_HOST(host, "input0.timing=1920x1080@60\ninput3.timing=3840x2160@30\n");
    ASSERT_TRUE(host.waitFor("VSTATE_VideoOn 0 stable=1", 60)) << host.output;
    ASSERT_TRUE(host.waitFor("[load_hdmi]Hact=1920", 60)) << "the scaler takes the timing\n" << host.output;
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    ASSERT_NE(pc, nullptr);
    const pc::Bytes expected{0x00, 0x0F, 0x70, 0x08, 30, 0};   // 3840, 2160, 30 Hz
    pc::Bytes status;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline && host.app.state() == QProcess::Running) {
        if (pc->readRam(274, 6, status, pc::kController, 500) == 0 && status == expected)
            break;
        host.waitFor("never printed", 1);
    }
    ASSERT_EQ(status, expected) << host.output;
    ASSERT_EQ(pc->readRam(256, 6, status), 0);
    EXPECT_EQ(status, (pc::Bytes{0x80, 0x07, 0x38, 0x04, 60, 0}));
    // The search runs on after video is on.
    ASSERT_TRUE(host.waitFor("IT6602 0 port 0 EQ search ended", 60)) << host.output;

    // Window 1 shows input 3; register 11 has the change applied and the output lights up.
    ASSERT_TRUE(host.waitFor("start-up done", 60)) << host.output;
    ASSERT_EQ(pc->writeRam(2272 + 8, pc::Bytes{3, 0}), 0);
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_TRUE(host.waitFor("start to light on", 60)) << host.output;
    ASSERT_TRUE(host.waitFor("[load_hdmi]Hact=3840", 60)) << "the scaler takes the timing\n" << host.output;

    const std::string& out = host.outputSoFar();
    const std::string search = "IT6602 0 port 0 EQ search started";
    int searches = 0;
    for (size_t at = out.find(search); at != std::string::npos; at = out.find(search, at + 1))
        ++searches;
    EXPECT_EQ(searches, 1) << out;
}
