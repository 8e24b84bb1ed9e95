#pragma once
// The command handler called directly, on a fresh simulated board with a parameter block,
// a scaler manager and an FPGA manager that owns its devices (no threads). A test builds a
// request with pc::Frame, runs it and reads the reply bytes from byte 10 on.

#include "board/sim/Sim.h"
#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "protocol/message_deal.h"
#include "tests/protocol/udp_fixture.h"
#include "tests/support/PcFrame.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <memory>

namespace handler_test {

using pc::Bytes;

class HandlerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        udptest::freshParameters();
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        ASSERT_EQ(manager->initialize(), 0);
        manager->softinit();
        buf.assign(message_deal::FRAME_BUF_SIZE, 0xEE);
    }
    void TearDown() override
    {
        manager.reset();
        fpga_manage::p_fpga_manage = nullptr;
        udptest::dropParameters();
    }

    // Runs one request (through `with`, md by default); the reply is reply(r) =
    // buf[10 .. 10 + r).
    int deal(const pc::Frame& f, unsigned char link = 5) { return deal(f, md, link); }
    int deal(const pc::Frame& f, message_deal& with, unsigned char link = 5)
    {
        Bytes plain = pc::encode(f);
        std::fill(buf.begin(), buf.end(), 0xEE);
        std::copy(plain.begin(), plain.end(), buf.begin());
        return with.message_group_deal(buf.data(), unsigned(plain.size() - 1), link);
    }
    Bytes reply(int r) const { return Bytes(buf.begin() + 10, buf.begin() + 10 + r); }
    // A request of the group with the given data bytes, to the controller.
    static pc::Frame req(uint8_t group, const Bytes& data, uint16_t dest = pc::kController)
    {
        pc::Frame f;
        f.group = group;
        f.data = data;
        f.dest = dest;
        return f;
    }
    static KelRamPara* para() { return KelRamPara::p_kelrampara_config; }

    kel_test::TestRoot root;
    std::unique_ptr<fpga_manage> manager;
    message_deal md{message_deal::REPLY_LIMIT_UDP};
    Bytes buf;
};

} // namespace handler_test
