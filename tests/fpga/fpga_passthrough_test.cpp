// PC frames for the receiving cards put out of FPGA 0's ports: which port, how the target
// and check byte are stamped, the wrapper, broadcasts and the frames that are dropped.

#include "tests/fpga/fpga_fixture.h"

#include "core/utils.h"

using fpga_test::FpgaFixture;
using sim::FpgaModel;
using Kind = sim::FpgaModel::OpKind;

namespace {

using Bytes = std::vector<uint8_t>;

// A PC frame to a card: target, source 0xF010, 0x10, tag, kind, port byte, 0, command,
// payload, check byte.
Bytes pcFrame(uint16_t target, uint8_t kind, uint8_t portByte, uint8_t command, const Bytes& payload = {0, 0})
{
    Bytes f = {uint8_t(target), uint8_t(target >> 8), 0x10, 0xF0, 0x10, 0x42, kind, portByte, 0x00, command};
    for (uint8_t b : payload)
        f.push_back(b);
    f.push_back(uint8_t(Utils::BCC(f.data(), unsigned(f.size()))));
    return f;
}

} // namespace

class FpgaPassthrough : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        makeReady();
    }
    // Hands the frame over as a link does; returns what left the ports (port, bytes).
    std::vector<std::pair<int, Bytes>> pass(Bytes& frame, uint32_t length = 0)
    {
        FpgaModel::clearLog();
        {
            std::lock_guard<std::mutex> hold(manager->port_path_mutex);
            EXPECT_EQ(manager->Dealwith1_PC_to_eth(length ? length : uint32_t(frame.size()), frame.data()), 1);
        }
        std::vector<std::pair<int, Bytes>> out;
        for (auto& op : ops(0, Kind::Send))
            out.emplace_back(op.port, op.data);
        return out;
    }
};

// Byte 7 names the port plus one; 0 leaves it to bits 12-13 of the target of an addressed
// frame (kinds 1, 3 and 255), and to port 0 for a plain frame (kind 0). A named port replaces
// the target's port bits (not ORed in) and the check byte follows; otherwise the frame goes
// out as it came.
TEST_F(FpgaPassthrough, FramesGoToThePortOfByte7OrOfTheTarget)
{
    const int kAsItCame = -1;
    const struct {
        uint16_t target;
        uint8_t kind, portByte;
        int port, byte1;
    } rows[] = {{0x2003, 1, 0, 2, kAsItCame}, {0x0005, 3, 6, 5, 0x10}, {0x3005, 255, 6, 5, 0x10},
                {0x0001, 0, 0, 0, kAsItCame}, {0x0001, 0, 4, 3, 0x30}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.target << " " << int(r.kind) << " " << int(r.portByte));
        Bytes f = pcFrame(r.target, r.kind, r.portByte, 0x61);
        const Bytes before = f;
        auto sent = pass(f);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].first, r.port);
        const Bytes& out = sent[0].second;
        if (r.byte1 == kAsItCame) {
            EXPECT_EQ(out, before);
        } else {
            EXPECT_EQ(out[1], r.byte1);
            EXPECT_EQ(Utils::BCC(out.data(), unsigned(out.size() - 1)), out.back());
        }
        // Registers 131 and 147 lose their low four bits before every send.
        int cleared = 0;
        for (auto& op : ops(0, Kind::RegisterWrite))
            cleared += (op.reg == 131 || op.reg == 147) && op.mask == 0x0F && (op.data[0] & 0x0F) == 0;
        EXPECT_EQ(cleared, 2);
    }
}

TEST_F(FpgaPassthrough, WrappedFramesLoseTheirTwelveBytesAndSetRegisterZeroBit6)
{
    // The wrapper's byte 7 names the port plus one (a plain wrapper's 0: port 0); no port bits
    // are folded into the card packet.
    const Bytes card = pcFrame(0x0002, 1, 2, 0x61);
    for (const auto& [kind, portByte, port] : {std::tuple<uint8_t, uint8_t, int>{1, 2, 1}, {0, 0, 0}}) {
        Bytes f = {0x02, 0x00, 0x10, 0xF0, 0x10, 0x42, kind, portByte, 0x00, 0x02, 0x00, 0x00};
        f.insert(f.end(), card.begin(), card.end());
        const auto sent = pass(f);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], std::make_pair(port, card));
        EXPECT_EQ(FpgaModel::reg(0, 0) & 0x40, 0x40);
    }
}

TEST_F(FpgaPassthrough, LengthsAndKindsThatAreDropped)
{
    // 1024 bytes or more: nothing is written at all; 1023 are sent.
    Bytes big = pcFrame(0x0001, 1, 1, 0x60, Bytes(1024 - 11, 0x33));
    ASSERT_EQ(big.size(), 1024u);
    EXPECT_TRUE(pass(big).empty() && FpgaModel::log(0).empty());
    Bytes fits = pcFrame(0x0001, 1, 1, 0x60, Bytes(1023 - 11, 0x33));
    auto sent = pass(fits);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].second.size(), 1023u);
    EXPECT_EQ(pass(fits, 0x10000u + 1023u).size(), 1u);   // only the low 16 bits of the length count

    // Shorter than its fields: 10 bytes, or a wrapper with no card packet behind it.
    Bytes shortFrame = pcFrame(0x0001, 1, 1, 0x60, {});
    sent = pass(shortFrame, 10);
    EXPECT_TRUE(FpgaModel::log(0).empty());
    Bytes wrapped = {0, 0, 0, 0, 0, 0, 1, 1, 0, 2, 0, 0};
    sent = pass(wrapped);
    EXPECT_TRUE(FpgaModel::log(0).empty());
    wrapped.push_back(0x5C);
    sent = pass(wrapped);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].second, Bytes{0x5C});

    // Kind 2 is no frame for a card: only the receive bits were cleared.
    Bytes kind2 = pcFrame(0x0001, 2, 1, 0x60);
    sent = pass(kind2);
    EXPECT_TRUE(sent.empty());
    std::vector<int> regs;
    for (auto& op : ops(0, Kind::RegisterWrite))
        regs.push_back(op.reg);
    EXPECT_EQ(regs, (std::vector<int>{147, 131}));
    // Port 32 is past the ports whose bits a target carries: nothing is sent, nothing folded in.
    Bytes far = pcFrame(0x3001, 0, 33, 0x60), farBefore = far;
    EXPECT_TRUE(pass(far).empty() && far == farBefore);
}

TEST_F(FpgaPassthrough, Byte7Of255GoesToEveryLinkedPortWithCards)
{
    setShadowCards(0, 2);
    setShadowCards(1, 2);
    setShadowCards(3, 1);                              // no link on port 3
    Bytes f = pcFrame(0x0FFE, 1, 255, 0x61);
    auto sent = pass(f);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(std::vector<int>({sent[0].first, sent[1].first, sent[1].second[1], manager->multi_port_flag, manager->passby_fffe,
                                manager->passby_tag, manager->await_answer}), (std::vector<int>{0, 1, 0x1F, 1, 1, 0x42, 1}));

    // The next single frame ends the broadcast.
    Bytes single = pcFrame(0x0001, 1, 1, 0x61);
    pass(single);
    EXPECT_EQ(manager->multi_port_flag, 0);
}
