// The application on the simulated board: a brightness that a PC writes into the parameter
// block travels through the scaler's apply step and the FPGA manager to the FPGA, which
// hands it to the receiving cards; the PC reads it back from a card through passthrough.
#include "board/sim/FpgaModel.h"
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <gtest/gtest.h>
#include <chrono>
#include <thread>

using kel_test::HostApp;

namespace {
// A passthrough read of one byte of card 0 on port 0: card RAM read, address, length.
pc::Frame cardRead(uint32_t address, uint8_t tag)
{
    pc::Frame f;
    f.dest = 0x0000;
    f.src = pc::kPc;
    f.b4 = 0x10;
    f.b5 = tag;
    f.mode = 1;
    f.sub = 1;
    f.group = 0x61;
    pc::put32(f.data, address);
    pc::put16(f.data, 1);
    f.data.insert(f.data.end(), {0, 0});
    return f;
}
} // namespace

TEST(BrightnessHostRun, APcBrightnessChangeReachesTheCards)
{
    KEL_SKIP_UNDER_EMULATION();
    HostApp host;
    KEL_START_HOST(host);
    ASSERT_TRUE(host.waitFor("fpga0 over to enable lcd", 90) && host.waitFor("start-up done", 60)) << host.output;

    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    ASSERT_NE(pc, nullptr);
    ASSERT_EQ(pc->writeRam(2176, pc::Bytes{40, 0}), 0);   // 40 % of 255
    ASSERT_GE(pc->writeRegister(11, 0x02, 0x02), 0);

    int seen = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (uint8_t tag = 0x40; seen != 102 && std::chrono::steady_clock::now() < deadline; ++tag) {
        pc::Frame reply;
        if (pc->request(cardRead(sim::FpgaModel::kBrightnessAddress, tag), reply, 1000) &&
            reply.src == 0x0000 && reply.group == 0x61 && reply.data.size() >= 2 && reply.data[0] == 0)
            seen = reply.data[1];
        std::this_thread::sleep_for(std::chrono::milliseconds(20));   // a PC's pace, until a bound far above the path's time
    }
    EXPECT_EQ(seen, 102) << host.outputSoFar();
}
