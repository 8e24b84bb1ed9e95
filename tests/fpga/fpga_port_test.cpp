// Output ports: the send sequence of Send_to_port for every pair, the packet builders byte
// for byte, the card positions of the shortcut set-up routes and the multi-port send.

#include "tests/fpga/fpga_fixture.h"

#include "core/utils.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>
#include <tuple>

using fpga_test::FpgaFixture;
using sim::FpgaModel;
using Kind = sim::FpgaModel::OpKind;

class FpgaPorts : public FpgaFixture {};

namespace {

// Register writes of FPGA 0 in order: (register, mask, value under the mask).
using Write = std::tuple<int, int, int>;
std::vector<Write> registerWrites()
{
    std::vector<Write> out;
    for (auto& op : FpgaModel::log(0))
        if (op.kind == Kind::RegisterWrite && !op.data.empty())
            out.emplace_back(op.reg, op.mask, op.data[0] & op.mask);
    return out;
}

std::vector<uint8_t> withBcc(std::vector<uint8_t> bytes)
{
    bytes.push_back(uint8_t(Utils::BCC(bytes.data(), unsigned(bytes.size()))));
    return bytes;
}

} // namespace

TEST_F(FpgaPorts, SendToPortUsesThePairsRamAndRegistersOnAllSixteenPorts)
{
    static const int lengthReg[8] = {26, 134, 136, 138, 154, 155, 156, 157};
    for (int port = 0; port < 16; ++port) {
        SCOPED_TRACE(port);
        FpgaModel::clearLog();
        std::vector<uint8_t> packet(port == 15 ? 1024 : 300 + port);   // 1024: the longest
        std::iota(packet.begin(), packet.end(), uint8_t(port));
        manager->Send_to_port(packet.data(), unsigned(packet.size()), port, 0);

        const int pair = port / 2, shift = 2 * (pair % 4);
        const int last = int(packet.size() - 1);
        // Select the port, the length's low byte and bits 8-9, start the pair.
        EXPECT_EQ(registerWrites(), (std::vector<Write>{{port < 8 ? 132 : 148, 0xFF, 1 << (port % 8)},
                                                        {lengthReg[pair], 0xFF, last & 0xFF},
                                                        {pair < 4 ? 27 : 158, 0x03 << shift, (last >> 8 & 3) << shift},
                                                        {pair < 4 ? 130 : 146, 0xF0, 0x10 << (pair % 4)}}));

        // The packet into the pair's RAM from address 0; the FPGA put exactly that packet out
        // on the port.
        auto ramWrites = ops(0, Kind::RamWrite), sends = ops(0, Kind::Send);
        ASSERT_EQ(std::make_pair(ramWrites.size(), sends.size()), std::make_pair(size_t(1), size_t(1)));
        EXPECT_EQ(std::make_tuple(ramWrites[0].ram, ramWrites[0].address, ramWrites[0].data, sends[0].port, sends[0].data),
                  std::make_tuple(3 + 2 * pair, 0u, packet, port, packet));
    }
}

TEST_F(FpgaPorts, SendToPortRefusesLengthsOutside1To1024AndPortsAbove15)
{
    std::vector<uint8_t> packet(1025, 0x5A);
    manager->Send_to_port(packet.data(), 1025, 1, 0);
    manager->Send_to_port(packet.data(), 0, 1, 0);
    // Above port 15 nothing is selected, written or started.
    manager->Send_to_port(packet.data(), 20, 16, 0);
    EXPECT_TRUE(FpgaModel::log(0).empty());
}

TEST_F(FpgaPorts, SendReadyWaitEndsWhenTheBusyBitNeverClears)
{
    // Pairs 1 (ports 2-3) and 4 (ports 8-9) busy: only their own bit holds a port back.
    sim::SimBoard::setScenario("fpga.sendbusy", "18");
    FpgaModel::powerOn(0);
    auto ready = [this](int port) { return int(manager->wait_fpga_send_ready(port, 0)); };
    EXPECT_EQ((std::vector<int>{ready(3), ready(2), ready(9)}), (std::vector<int>{0, 0, 0}));
    FpgaModel::clearLog();
    EXPECT_EQ((std::vector<int>{ready(1), ready(4), ready(10), ready(16)}), (std::vector<int>{1, 1, 1, 0}));
    // The busy bit of the pair: register 129 for ports 0-7, 145 for 8-15.
    std::vector<int> reads;
    for (const auto& r : ops(0, Kind::RegisterRead))
        reads.push_back(r.reg);
    EXPECT_EQ(reads, (std::vector<int>{129, 129, 145}));
    sim::SimBoard::setScenario("fpga.sendbusy", "0");
}

// Each builder's packet byte for byte (the check byte appended here), what it returns (the
// check byte or the length) and the length it files in the job record.
TEST_F(FpgaPorts, PacketBuildersExactBytes)
{
    unsigned char buf[64];
    const unsigned char data[3] = {0xA1, 0xB2, 0xC3};
    g_send_para.mapping = 9;
    // Shortcut set-up, route 10: card 4 is row 1, column 1 -> x 64, y 32, plus the offsets.
    line_type = LINE_TYPE{64, 32, 1000, 2000, 1, 2, 3, 10};
    g_send_para.index = 4;
    enum Returns { kCheck, kLength };
    const struct {
        const char* what;
        std::function<unsigned()> build;
        Returns returns;
        bool filesLength;               // all but the shortcut set-up's
        std::vector<uint8_t> bytes;
    } rows[] = {
        {"save, every card of port 2", [&] { return manager->save_para_cmd_create(buf, 2); }, kCheck, true,
         {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0x81, 0xFF, 0x00}},
        {"mapping on", [&] { return manager->mapping_enable_cmd_create(5, buf); }, kCheck, true,
         {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x06, 0x00, 0xA0, 0x03, 0x0F, 0x01, 0x09}},
        {"RAM, card 0x123 of port 1",
         [&] { return manager->load_write_ram_cmd_create(1, 0x123, 0x12345, data, 3, buf, false); }, kCheck, true,
         {0x23, 0x01, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x02, 0x00, 0x60, 0x45, 0x23, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00,
          0xA1, 0xB2, 0xC3}},
        {"RAM, every card", [&] { return manager->load_write_ram_cmd_create(1, 0x123, 0, data, 3, buf, true); },
         kCheck, true,
         {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x02, 0x00, 0x60, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00,
          0xA1, 0xB2, 0xC3}},
        {"registers (byte 7 is 0)", [&] { return manager->load_write_reg_cmd_create(3, 7, data, 3, buf, false); },
         kLength, true, {0x07, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0xA0, 0xA1, 0xB2, 0xC3}},
        // The data start at byte 9, so their first byte is the command.
        {"user-defined", [&] { return manager->load_write_user_defined_cmd_create(3, 7, data, 3, buf, true); },
         kLength, true, {0xFF, 0x0F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0xA1, 0xB2, 0xC3}},
        {"activate firmware", [&] { return manager->rcv_active_firmware_cmd_create(2, 4, data, 2, buf); }, kLength,
         true, {0x04, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0xB4, 0xA1, 0xB2}},
        {"reconfigure", [&] { return manager->rcv_reconfig_cmd_create(2, 4, data, 1, buf); }, kLength, true,
         {0x04, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x03, 0x00, 0x84, 0xA1}},
        // Search: every card of the port, port bits in the target.
        {"search", [&] { return manager->load_search_rxc_cmd_create(7, data, 1, buf); }, kLength, true,
         {0xFE, 0x3F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x08, 0x00, 0x10, 0xA1}},
        {"save to flash, card 9", [&] { return manager->save_para2flash_cmd_create(6, 9, buf, false); }, kLength, true,
         {0x09, 0x00, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x00, 0x00, 0x81, 0xFF, 0x00}},
        {"RAM reset", [&] { return manager->ram_reset_cmd_create(buf, 0x21, 0xBEEF, 6); }, kCheck, true,
         {0xFE, 0x2F, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x07, 0x00, 0xA0, 0x21, 0xEF, 0x01, 0xBE}},
        {"shortcut set-up, card 4 of port 1", [&] { return manager->rcv_card_cmd_create(buf, 1); }, kCheck, false,
         {0x04, 0x10, 0x00, 0xF0, 0x10, 0x67, 0x01, 0x02, 0x00, 0x60, 0x80, 0x01, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,
          0x28, 0x04, 0xF0, 0x07}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        g_send_para.length = 0;
        const unsigned got = r.build();
        const auto expected = withBcc(r.bytes);
        EXPECT_EQ(std::vector<uint8_t>(buf, buf + expected.size()), expected);
        EXPECT_EQ(got, r.returns == kCheck ? expected.back() : expected.size());
        EXPECT_EQ(g_send_para.length, r.filesLength ? expected.size() : 0u);
    }
    EXPECT_EQ(manager->load_write_user_defined_cmd_create(3, 7, data, 0, buf, true), 0);
}

TEST_F(FpgaPorts, BuildersRefusePacketsLongerThan1024Bytes)
{
    std::vector<unsigned char> data(1100, 1), buf(1200, 0xEE);
    for (uint16_t n : {1013, 1014}) {                  // 1024 bytes, then one past
        const unsigned want = n == 1013 ? 1024 : 0;
        std::vector<unsigned> got{manager->load_write_reg_cmd_create(0, 0, data.data(), n, buf.data(), false),
                                  manager->rcv_active_firmware_cmd_create(0, 4, data.data(), n, buf.data()),
                                  manager->rcv_reconfig_cmd_create(0, 4, data.data(), n, buf.data()),
                                  manager->load_search_rxc_cmd_create(0, data.data(), n, buf.data())};
        manager->load_write_ram_cmd_create(0, 0, 0, data.data(), uint16_t(n - 8), buf.data(), false);
        got.push_back(g_send_para.length);
        EXPECT_EQ(got, std::vector<unsigned>(5, want)) << n;
    }
    EXPECT_EQ(buf[1030], 0xEE);
}

// Cards numbered along each route, two rows (R) of three columns (K), cabinet 10 x 100.
TEST(FpgaRoutes, CardPositionsOfEveryRoute)
{
    fpga_manage m;
    const uint16_t W = 10, H = 100;
    // Expected (x / W, y / H) of cards 0..5 per route; row 0 is the top row, y grows down.
    struct Pos { int c, r; };
    const std::vector<std::vector<Pos>> expected = {
        /* 1 */ {{2, 1}, {1, 1}, {0, 1}, {0, 0}, {1, 0}, {2, 0}},
        /* 2 */ {{0, 1}, {1, 1}, {2, 1}, {2, 0}, {1, 0}, {0, 0}},
        /* 3 */ {{2, 0}, {1, 0}, {0, 0}, {0, 1}, {1, 1}, {2, 1}},
        /* 4 */ {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {1, 1}, {0, 1}},
        /* 5 */ {{2, 1}, {2, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}},
        /* 6 */ {{2, 0}, {2, 1}, {1, 1}, {1, 0}, {0, 0}, {0, 1}},
        /* 7 */ {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {2, 0}, {2, 1}},
        /* 8 */ {{0, 1}, {0, 0}, {1, 0}, {1, 1}, {2, 1}, {2, 0}},
        /* 9 */ {{2, 1}, {1, 1}, {0, 1}, {2, 0}, {1, 0}, {0, 0}},
        /* 10 */ {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}},
        /* 11 */ {{0, 1}, {1, 1}, {2, 1}, {0, 0}, {1, 0}, {2, 0}},
        /* 12 */ {{2, 0}, {1, 0}, {0, 0}, {2, 1}, {1, 1}, {0, 1}},
        /* 13 */ {{2, 1}, {2, 0}, {1, 1}, {1, 0}, {0, 1}, {0, 0}},
        /* 14 */ {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}},
        /* 15 */ {{0, 1}, {0, 0}, {1, 1}, {1, 0}, {2, 1}, {2, 0}},
        /* 16 */ {{2, 0}, {2, 1}, {1, 0}, {1, 1}, {0, 0}, {0, 1}},
    };
    for (int route = 1; route <= 16; ++route) {
        line_type = LINE_TYPE{W, H, 0, 0, 0, 2, 3, uint8_t(route)};
        for (uint16_t i = 0; i < 6; ++i) {
            SCOPED_TRACE(testing::Message() << "route " << route << " card " << i);
            uint16_t x = 0xFFFF, y = 0xFFFF;
            m.get_rcvcard_x_y(i, &x, &y);
            EXPECT_EQ((std::vector<int>{x, y}), (std::vector<int>{expected[route - 1][i].c * W, expected[route - 1][i].r * H}));
        }
    }
    // Outside the routes, or without rows or columns: the position is left as it was.
    for (LINE_TYPE lt : {LINE_TYPE{W, H, 0, 0, 0, 2, 3, 0}, LINE_TYPE{W, H, 0, 0, 0, 2, 3, 17},
                         LINE_TYPE{W, H, 0, 0, 0, 0, 3, 1}, LINE_TYPE{W, H, 0, 0, 0, 2, 0, 1}}) {
        line_type = lt;
        uint16_t x = 7, y = 8;
        m.get_rcvcard_x_y(1, &x, &y);
        EXPECT_EQ((std::vector<int>{x, y}), (std::vector<int>{7, 8})) << int(lt.route);
    }
}

TEST_F(FpgaPorts, CardCountsComeFromTheParameterRamImage)
{
    setShadowCards(0, 3);
    setShadowCards(9, 0x00F7);
    setShadowCards(4, 300);                      // more than the 255 cards a chain holds
    setShadowCards(10, 5);                       // counted by neither
    EXPECT_EQ(std::vector<int>({manager->get_port_card_num(0), manager->get_port_card_num(9), manager->get_port_card_num(4),
                                manager->get_port_card_num(10)}), (std::vector<int>{3, 0x00F7, 255, 0}));
    EXPECT_EQ(manager->check_netport_card(0), 3 + 0x00F7 + 300);
    EXPECT_EQ(manager->check_netport_card(1), 0);
}

// The links call the broadcast with the port-path lock held.
void broadcast(std::vector<uint8_t>& frame)
{
    std::lock_guard<std::mutex> path(fpga_manage::p_fpga_manage->port_path_mutex);
    fpga_manage::p_fpga_manage->multi_port_send(frame.data(), unsigned(frame.size()));
}

TEST_F(FpgaPorts, MultiPortSendStampsEachLinkedPortWithCards)
{
    sim::ReceivingCardModel::setCards(0, 0, 1);
    sim::ReceivingCardModel::setCards(0, 1, 0);
    sim::ReceivingCardModel::setCards(0, 3, 2);
    sim::ReceivingCardModel::setCards(0, 6, 1);
    setShadowCards(0, 1);
    setShadowCards(3, 2);
    setShadowCards(5, 4);                        // cards filed, but no link on port 5
    sim::ReceivingCardModel::setCards(0, 9, 1);  // 9 is the last port a broadcast reaches
    setShadowCards(9, 1);
    fpga_manage::MCU_REG_func[0][80] = 3;
    auto frame = withBcc({0x05, 0x00, 0x10, 0xF0, 0x10, 0x42, 0x01, 0x00, 0x00, 0x61, 1, 2, 3, 4, 5, 6, 7, 8});
    broadcast(frame);

    auto portsOf = [](const std::vector<FpgaModel::Op>& sends) {
        std::vector<int> ports;
        for (auto& s : sends)
            ports.push_back(s.port);
        return ports;
    };
    auto sends = ops(0, Kind::Send);
    ASSERT_EQ(portsOf(sends), (std::vector<int>{0, 3, 9}));
    // Port 3: target bits 12-13 = 3 and the check byte still right.
    EXPECT_EQ((std::vector<unsigned>{sends[1].data[1], Utils::BCC(sends[1].data.data(), unsigned(sends[1].data.size() - 1)), manager->await_answer.load()}),
              (std::vector<unsigned>{0x30, sends[1].data.back(), 1}));

    // The multicast mask chooses the ports itself, 0..7 only.
    FpgaModel::clearLog();
    manager->multicast_enable = 1;
    manager->multicast_mask = 0x1A5;             // ports 0, 2, 5, 7 (bit 8 is beyond the ports)
    broadcast(frame);
    sends = ops(0, Kind::Send);
    ASSERT_EQ(portsOf(sends), (std::vector<int>{0, 2, 5, 7}));
    EXPECT_EQ((std::vector<unsigned>{sends[2].data[1], Utils::BCC(sends[2].data.data(), unsigned(sends[2].data.size() - 1))}),
              (std::vector<unsigned>{0x10, sends[2].data.back()}));
}

TEST_F(FpgaPorts, MultiPortSendWithEveryLinkDownSendsNothingButWaits)
{
    sim::SimBoard::setScenario("fpga.link.port0", "0");
    sim::SimBoard::setScenario("fpga.link.port1", "0");
    setShadowCards(0, 2);
    setShadowCards(1, 2);
    fpga_manage::MCU_REG_func[0][80] = 3;
    G_timeTicks = 4242;
    auto frame = withBcc({0x05, 0x00, 0x10, 0xF0, 0x10, 0x42, 0x01, 0x00, 0x00, 0x61});
    broadcast(frame);
    EXPECT_EQ((std::vector<size_t>{ops(0, Kind::Send).size(), size_t(manager->await_answer), manager->await_answer_stamp}),
              (std::vector<size_t>{0, 1, 4242}));

    // An FPGA that is not running has no links either.
    sim::SimBoard::setScenario("fpga.link.port0", "1");
    fpga_manage::MCU_REG_func[0][80] = 2;
    broadcast(frame);
    EXPECT_TRUE(ops(0, Kind::Send).empty());
}

// The link that hands over a broadcast goes on at once; the manager's tick finds the ports'
// transmitters busy and, 300 ticks after each port became the next, sends to it anyway.
TEST_F(FpgaPorts, ABroadcastToBusyPortsWaitsOnTheManagersTickNotOnTheLink)
{
    for (int port : {0, 1}) {
        sim::ReceivingCardModel::setCards(0, port, 1);
        setShadowCards(port, 1);
    }
    fpga_manage::MCU_REG_func[0][80] = 3;
    sim::SimBoard::setScenario("fpga.sendbusy", "1");   // ports 0 and 1's transmitters stay busy
    FpgaModel::powerOn(0);
    G_timeTicks = 1000;
    auto frame = withBcc({0x05, 0x00, 0x10, 0xF0, 0x10, 0x42, 0x01, 0x00, 0x00, 0x61});
    broadcast(frame);
    std::vector<std::pair<int, size_t>> seen;   // at each tick: answer awaited, packets sent
    for (uint32_t t : {1000u, 1299u, 1300u, 1599u, 1600u}) {
        G_timeTicks = t;
        std::lock_guard<std::mutex> path(manager->port_path_mutex);
        manager->reg_IRQ_Dealwith(0, 0);
        seen.emplace_back(int(manager->await_answer), ops(0, Kind::Send).size());
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, size_t>>{{0, 0}, {0, 0}, {0, 1}, {0, 1}, {1, 2}}));
    sim::SimBoard::setScenario("fpga.sendbusy", "0");
}

// The manager thread (sweeps, jobs) and a link thread (passthrough) send at the same time
// on the two ports of one pair: every packet must leave whole, on its own port, with its
// own length.
TEST_F(FpgaPorts, ConcurrentSendersNeverMixTheirPackets)
{
    std::vector<uint8_t> a(40), b(60);
    std::iota(a.begin(), a.end(), uint8_t(0x10));
    std::iota(b.begin(), b.end(), uint8_t(0xA0));
    constexpr int kPackets = 150;
    std::thread first([&] {
        std::vector<uint8_t> p = a;
        for (int i = 0; i < kPackets; ++i)
            manager->Send_to_port(p.data(), unsigned(p.size()), 0, 0);
    });
    std::thread second([&] {
        std::vector<uint8_t> p = b;
        for (int i = 0; i < kPackets; ++i)
            manager->Send_to_port(p.data(), unsigned(p.size()), 1, 0);
    });
    first.join();
    second.join();
    const auto sends = ops(0, sim::FpgaModel::OpKind::Send);
    ASSERT_EQ(sends.size(), size_t(2 * kPackets));
    int onZero = 0;
    for (const auto& s : sends) {
        onZero += s.port == 0;
        EXPECT_EQ(std::make_pair(int(s.port), s.data), s.port == 0 ? std::make_pair(0, a) : std::make_pair(1, b));
    }
    EXPECT_EQ(onZero, kPackets);
}
