// The program on the simulated board with a 1080p60 source on input 0: the receiver
// reaches video on, the scaler takes its timing, and once window 1 shows input 0 the
// output path lights up with the input's status 1920 x 1080 at 60 Hz. The clock's arrival
// is a clock change, and it ends in exactly one equaliser search.
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <gtest/gtest.h>

TEST(ReceiverHostRun, A1080p60SourceOnInputZeroLightsWindowOne)
{
    KEL_SKIP_UNDER_EMULATION();
    kel_test::HostApp host;
    ASSERT_TRUE(host.start("input0.timing=1920x1080@60\n")) << host.output;
    const int offset = host.offset;
    ASSERT_TRUE(host.waitFor("VSTATE_VideoOn 0 stable=1", 60)) << host.output;
    ASSERT_TRUE(host.waitFor("[load_hdmi]Hact=1920", 60)) << "the scaler takes the timing\n" << host.output;
    ASSERT_TRUE(host.waitFor("start-up done", 60)) << host.output;
    // The search runs on after video is on; the window below takes many more passes.
    ASSERT_TRUE(host.waitFor("IT6602 0 port 0 EQ search ended", 60)) << host.output;

    // Window 1 shows input 0; register 11 has the change applied.
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
    ASSERT_NE(pc, nullptr);
    ASSERT_EQ(pc->writeRam(2272 + 8, pc::Bytes{0, 0}), 0);
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    ASSERT_TRUE(host.waitFor("start to light on", 60)) << host.output;

    pc::Bytes status;
    ASSERT_EQ(pc->readRam(256, 6, status), 0);
    EXPECT_EQ(status, (pc::Bytes{0x80, 0x07, 0x38, 0x04, 60, 0}));

    const std::string& out = host.outputSoFar();
    const std::string search = "IT6602 0 port 0 EQ search started";
    int searches = 0;
    for (size_t at = out.find(search); at != std::string::npos; at = out.find(search, at + 1))
        ++searches;
    EXPECT_EQ(searches, 1) << out;
}
