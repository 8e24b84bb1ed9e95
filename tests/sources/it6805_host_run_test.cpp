// The program on the simulated board with a 3840x2160 source at 30 Hz on input 3: the HDMI
// 2.0 receiver is found, follows the source to a stable picture and publishes it in input
// 3's status bytes, where the home screen reads it; a window showing input 3 lights the output.
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <chrono>
#include <gtest/gtest.h>

TEST(ReceiverHostRun, A4kSourceOnInput3IsPublished)
{
    KEL_SKIP_UNDER_EMULATION();
    kel_test::HostApp host;
    ASSERT_TRUE(host.start("input3.timing=3840x2160@30\n")) << host.output;
    const int offset = host.offset;
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
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

    // Window 1 shows input 3; register 11 has the change applied and the output lights up.
    ASSERT_TRUE(host.waitFor("[load_hdmi]Hact=3840", 60)) << "the scaler takes the timing\n" << host.output;
    ASSERT_TRUE(host.waitFor("start-up done", 60)) << host.output;
    ASSERT_EQ(pc->writeRam(2272 + 8, pc::Bytes{3, 0}), 0);
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_TRUE(host.waitFor("start to light on", 60)) << host.output;
}
