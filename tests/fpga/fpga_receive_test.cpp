// The receive path: answers of the receiving cards filed from the pairs' receive RAMs by the
// interrupt service (card counts, job replies, function-card replies, passthrough answers
// to the PC links), with their acknowledges and the faults the answers can carry.

#include "tests/fpga/fpga_fixture.h"

#include "core/utils.h"

#include <tuple>

using fpga_test::FpgaFixture;
using sim::FpgaModel;
using sim::ReceivingCardModel;

namespace {

using Bytes = std::vector<uint8_t>;

// A card's answer: header (to dest from source, tag, port byte, command), payload, check.
Bytes answer(uint16_t dest, uint16_t source, uint8_t tag, uint8_t portByte, uint8_t command, const Bytes& payload)
{
    Bytes a = {uint8_t(dest), uint8_t(dest >> 8), uint8_t(source), uint8_t(source >> 8), 0x10, tag, 0x01,
               portByte, 0x00, command};
    for (uint8_t b : payload)
        a.push_back(b);
    a.push_back(uint8_t(Utils::BCC(a.data(), unsigned(a.size()))));
    return a;
}

bool checkRight(const Bytes& a) { return Utils::BCC(a.data(), unsigned(a.size() - 1)) == a.back(); }

} // namespace

class FpgaReceive : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        makeReady();
        g_passby_trans_port = 255;
        g_send_para.reply = 0;
        g_send_para.progress = 65535;
        fpga_manage::set_passby_link(fpga_manage::kPassbyUdp, this,
                                     [this](uint32_t t, const unsigned char* f, unsigned n) {
                                         if (refuse)
                                             return false;
                                         delivered.emplace_back(f, f + n);
                                         tickets.push_back(t);
                                         return true;
                                     });
    }
    void TearDown() override
    {
        fpga_manage::set_passby_link(fpga_manage::kPassbyUdp, this, nullptr);
        FpgaFixture::TearDown();
    }
    uint16_t count(int port) const
    {
        static const uint16_t at[10] = {100, 102, 108, 110, 560, 564, 568, 572, 640, 644};
        const uint8_t* ram = fpga_manage::MCU_RAM_PARA_func[0];
        return uint16_t(ram[at[port]] | ram[at[port] + 1] << 8);
    }
    static bool lineUp() { return (sim::SocModel::read16(fpga_manage::kGpioFpga0Irq) & 1) != 0; }
    void service()
    {
        std::lock_guard<std::mutex> hold(manager->port_path_mutex);
        manager->reg_IRQ_Dealwith(0, 0);
    }
    // A job's packet to the card of that address (bits 12-13 its port within the group of
    // four) on a port of the group: its answer is the one the job waits for.
    void expectFrom(uint16_t card, int group, uint8_t command)
    {
        const Bytes packet = answer(card & 0x0FFF, 0xF000, 0x67, 1, command, {});
        manager->expect_job_answer(packet.data(), 4 * group + (card >> 12 & 3), 0);
    }

    // A PC's request on link from address 0, handed over as the link does: its ticket.
    uint32_t ask(uint8_t link, Bytes frame)
    {
        std::lock_guard<std::mutex> hold(manager->port_path_mutex);
        return fpga_manage::pass_through(link, 0, unsigned(frame.size()), frame.data(), G_timeTicks.load());
    }

    std::vector<Bytes> delivered;
    std::vector<uint32_t> tickets;
    bool refuse = false;                               // the link no longer waits
};

TEST_F(FpgaReceive, SearchAnswersFileCountsAndFlagsInTheImageAndTheFpgaRam)
{
    ReceivingCardModel::setCards(0, 2, 3);
    ReceivingCardModel::setFunctionCard(0, 2, true);
    ReceivingCardModel::setCards(0, 8, 5);
    manager->check_error_rcv_search_card_cmd(2, 0, 0, 0, 0);
    manager->check_error_rcv_search_card_cmd(8, 0, 0, 0, 0);
    ASSERT_TRUE(lineUp());
    service();
    EXPECT_EQ(std::vector<int>({count(2), fpga_manage::MCU_RAM_PARA_func[0][112], count(8)}),
              (std::vector<int>{3, 1, 5}));
    EXPECT_EQ(FpgaModel::ram(0, 1, 108, 5), (Bytes{3, 0, 0, 0, 1}));
    EXPECT_EQ(FpgaModel::ram(0, 1, 640, 3), (Bytes{5, 0, 0}));
    // Pairs 1 and 4 delivered search answers, both were acknowledged and the line dropped.
    EXPECT_EQ(manager->answer_word & 0xFF, (1u << 1) | (1u << 4));
    EXPECT_EQ(FpgaModel::pendingAnswers(0, 1) + FpgaModel::pendingAnswers(0, 4), 0u);
    EXPECT_FALSE(lineUp());
    // Without the line and with nothing pending the service does nothing.
    FpgaModel::clearLog();
    service();
    EXPECT_TRUE(FpgaModel::log(0).empty());
}

TEST_F(FpgaReceive, ASearchAnswerWithoutItsPortIsFiledUnderThePortOfItsSource)
{
    // Pair 2 (ports 4 and 5): group 1; the card's address says port 5 (bits 12-13 = 1).
    sim::SimBoard::setScenario("fpga.link.port5", "1");   // a port without link loses its count
    FpgaModel::queueAnswer(0, 2, answer(0xF000, 0x1003, 0xAA, 0, 0x10, {0, 4, 0, 0}));
    fpga_manage::MCU_REG_func[0][80] = 2;              // answers are taken in MCU state 2 as well
    service();
    EXPECT_EQ(std::vector<int>({count(5), count(4), FpgaModel::ram(0, 1, 564, 1)[0], FpgaModel::ram(0, 1, 565, 1)[0]}), (std::vector<int>{4, 0, 4, 0}));
}

TEST_F(FpgaReceive, WrongCheckBytesAndStubsAreAcknowledgedAndDropped)
{
    Bytes bad = answer(0xF000, 0x0001, 0xAA, 1, 0x10, {0, 7, 0, 0});
    bad.back() ^= 0x55;
    FpgaModel::queueAnswer(0, 0, bad);
    service();
    EXPECT_EQ(std::vector<uint32_t>({count(0), uint32_t(FpgaModel::pendingAnswers(0, 0)), manager->answer_word & 1}), (std::vector<uint32_t>{0, 0, 0}));

    // A job reply with a wrong check byte sets no reply; a 3-byte stub neither.
    Bytes job = answer(0xF000, 0x0001, 0x67, 1, 0x60, {0});
    job.back() ^= 1;
    FpgaModel::queueAnswer(0, 0, job);
    service();
    FpgaModel::queueAnswer(0, 0, {0x00, 0xF0, 0x00});
    service();
    EXPECT_EQ(std::vector<uint32_t>({uint32_t(g_send_para.reply), uint32_t(FpgaModel::pendingAnswers(0, 0))}), (std::vector<uint32_t>{0, 0}));
    // A search answer too short for its count is not filed either, nor a function-card reply.
    FpgaModel::queueAnswer(0, 0, answer(0xF000, 0x0001, 0xAA, 1, 0x10, {0, 7}));
    service();
    FpgaModel::queueAnswer(0, 0, answer(0xF000, 0x0001, 0xAA, 1, 0x61, {0, 7, 0, 1}));
    service();
    EXPECT_EQ(count(0), 0);
}

// Each receive pair: its answer of 300 bytes (length bits 8-9 in register 25 or 153) read
// from its receive RAM, first by the search drain, then by the filing, and acknowledged by
// setting then clearing its bit in 130/131 or 146/147.
TEST_F(FpgaReceive, EveryPairReadsItsOwnRamAndLengthAndAcknowledgesItsOwnBits)
{
    using Op = std::tuple<int, int, int>;
    const struct {
        int pair, ram, set, clear, bit;
    } pairs[] = {{0, 2, 130, 131, 0x01}, {1, 4, 130, 131, 0x02}, {2, 6, 130, 131, 0x04},
                 {3, 8, 130, 131, 0x08}, {4, 10, 146, 147, 0x01}};
    for (const auto& p : pairs) {
        FpgaModel::queueAnswer(0, p.pair, answer(0xF000, 0x0001, 0x67, 1, 0x60, Bytes(289, 0)));
        FpgaModel::clearLog();
        expectFrom(0x0001, p.pair / 2, 0x60);
        service();
        std::vector<Op> ops;
        for (auto& op : FpgaModel::log(0)) {
            if (op.kind == FpgaModel::OpKind::RamRead)
                ops.emplace_back(op.ram, int(op.address), int(op.data.size()));
            else if (op.kind == FpgaModel::OpKind::RegisterWrite && op.reg >= 130 && op.reg != 145)
                ops.emplace_back(op.reg, op.mask, op.data.at(0) & op.mask);
        }
        EXPECT_EQ(ops, (std::vector<Op>{{p.ram, 0, 300}, {p.ram, 0, 300}, {p.set, p.bit, p.bit}, {p.clear, p.bit, 0}}))
            << "pair " << p.pair;
        EXPECT_EQ(g_send_para.reply, 1) << "pair " << p.pair;
    }
}

TEST_F(FpgaReceive, JobRepliesFunctionCardRepliesAndBrightnessAnswers)
{
    // A job reply: to the controller (0xF000..0xF00F), from a card, tag 0x67. A function-card
    // answer: to 0xF000, command 0x61 or 0xA0. Answers to the prebuilt brightness packets go
    // no further. Every answer is taken off the FPGA.
    const struct {
        uint16_t dest, source;
        uint8_t tag, command, reply, present;
    } rows[] = {{0xF000, 0x2001, 0x67, 0x60, 1, 0}, {0xF00F, 0x0FFF, 0x67, 0x60, 1, 0},
                {0xEFFF, 0x2001, 0x67, 0x60, 0, 0}, {0xF010, 0x2001, 0x67, 0x60, 0, 0},
                {0xF000, 0xF000, 0x67, 0x60, 0, 0}, {0xF000, 0x2001, 0x68, 0x60, 0, 0},
                {0xF000, 0x2001, 0x68, 0x61, 0, 1}, {0xF000, 0x2001, 0x68, 0xA0, 0, 1},
                {0xF000, 0x2001, 0x68, 0xA1, 0, 0}, {0xF001, 0x2001, 0x68, 0xA0, 0, 0},
                {0xF010, 0x2001, 0x68, 0x61, 0, 0}, {0xF000, 0x3000, 0x66, 0xA0, 0, 0}};   // 0x66: a brightness packet's answer
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.dest << " " << r.source << " " << int(r.tag) << " "
                                        << int(r.command));
        expectFrom(r.source, 0, r.command);
        manager->func_card_reply[0] = 0;
        FpgaModel::queueAnswer(0, 1, answer(r.dest, r.source, r.tag, 3, r.command, {0}));
        service();
        EXPECT_EQ(g_send_para.reply, r.reply);
        EXPECT_EQ(manager->func_card_reply[0], r.present);
        EXPECT_EQ(FpgaModel::pendingAnswers(0, 1), 0u);
    }

    // A function-card read answer lands in the reply buffer (flag, command, 129 answer
    // bytes), only as much as it holds.
    Bytes data(600);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i);
    FpgaModel::queueAnswer(0, 3, answer(0xF000, 0x3000, 0x55, 8, 0x61, data));
    service();
    EXPECT_EQ(manager->func_card_reply[0], 1);
    EXPECT_EQ(manager->func_card_reply[1], 0x61);
    EXPECT_EQ(Bytes(manager->func_card_reply + 2, manager->func_card_reply + 131), Bytes(data.begin(), data.begin() + 129));
}

// The result a check answer carries: the sweep of card answers. Its card count is filed as
// well; an answer for another screen record leaves the result alone.
TEST_F(FpgaReceive, CheckAnswersCarryTheResultOfTheCurrentScreenRecord)
{
    ReceivingCardModel::setCards(0, 3, 4);
    ReceivingCardModel::setConfigId(0, 3, -1, 0x11223344);
    manager->check_config_id = 0x99;
    manager->check_port = 3;
    manager->check_config_valid = 1;
    g_send_para.progress = 65535;
    manager->check_error_rcv_search_card_cmd(3, 0, 0x11223344, 0, 1);
    service();
    EXPECT_EQ(std::make_pair(int(g_send_para.progress), int(count(3))), std::make_pair(65535, 4));
}

// A card's answer goes to the request it answers, named by the port it came in on, the
// card's address and the tag, or nowhere.
TEST_F(FpgaReceive, PassthroughAnswersGoToTheRequestTheyAnswerOrNowhere)
{
    ReceivingCardModel::setFault(0, 1, ReceivingCardModel::Fault::Silent);   // answers by hand
    const Bytes reply = answer(0xF010, 0x1002, 0x42, 2, 0x61, {0, 1, 2, 3}), request = answer(2, 0xF010, 0x42, 2, 0x61, {0});
    FpgaModel::queueAnswer(0, 0, reply);
    service();                                         // nothing asked: dropped
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(manager->answer_ready, 0);
    EXPECT_EQ(FpgaModel::pendingAnswers(0, 0), 0u);

    // Card 2 of port 1 asked, behind a request to port 3 (no cards), which holds up only its
    // port: another card, port, tag or command does not answer it, nor an answer to every
    // port's request (byte 7 = 255).
    const uint32_t empty = ask(fpga_manage::kPassbyTcp, answer(1, 0xF010, 0x44, 4, 0x61, {0})), ticket = ask(fpga_manage::kPassbyUdp, request);
    EXPECT_EQ(g_passby_trans_port, fpga_manage::kPassbyUdp);
    for (const Bytes& other : {answer(0xF010, 0x1003, 0x42, 2, 0x61, {0}), answer(0xF010, 0x0002, 0x42, 1, 0x61, {0}),
                               answer(0xF010, 0x1002, 0x43, 2, 0x61, {0}), answer(0xF010, 0x1002, 0x42, 2, 0x60, {0}),
                               answer(0xF010, 0x1002, 0x42, 255, 0x61, {0})}) {
        FpgaModel::queueAnswer(0, 0, other);
        service();
    }
    EXPECT_TRUE(delivered.empty() && fpga_manage::passby_waiting(ticket));
    FpgaModel::queueAnswer(0, 0, reply);
    service();
    EXPECT_EQ(delivered, std::vector<Bytes>{reply});
    EXPECT_EQ(tickets, std::vector<uint32_t>{ticket});
    EXPECT_TRUE(fpga_manage::passby_waiting(empty));
    G_timeTicks += 301, service();
    EXPECT_EQ(g_passby_trans_port, 255);
    EXPECT_EQ(manager->answer_ready, 1);
    EXPECT_FALSE(fpga_manage::passby_waiting(ticket));

    // A link that is not there (the serial link was never built here) gets nothing; a link
    // whose PC stopped waiting refuses a late answer: dropped, nothing is marked ready and
    // the next request may go out. Unanswered, a wait ends 300 ticks after the request went.
    manager->answer_ready = 0;
    for (uint8_t link : {fpga_manage::kPassbySerial, fpga_manage::kPassbyUdp, fpga_manage::kPassbyTcp}) {
        refuse = link == fpga_manage::kPassbyUdp;
        const uint32_t t = ask(link, request);
        if (link == fpga_manage::kPassbyTcp) {
            G_timeTicks += 300;
            service();
            EXPECT_TRUE(fpga_manage::passby_waiting(t)) << "300 ticks on";
            G_timeTicks += 1;
        } else {
            FpgaModel::queueAnswer(0, 0, reply);
        }
        service();
        EXPECT_FALSE(fpga_manage::passby_waiting(t));
    }
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_EQ(manager->answer_ready, 0);
    EXPECT_EQ(g_passby_trans_port, 255);
    EXPECT_EQ(FpgaModel::pendingAnswers(0, 0), 0u);

    refuse = false;
    delivered.clear();
    // An answer without its port gets it, with its check byte kept right. Pair 3 (ports 6
    // and 7): group 1; the card's address carries port bits 3 (port 7).
    ask(fpga_manage::kPassbyUdp, answer(0x0005, 0xF010, 0x42, 8, 0x61, {0}));
    FpgaModel::queueAnswer(0, 3, answer(0xF010, 0x3005, 0x42, 0, 0x61, {0, 9}));
    service();
    ASSERT_EQ(delivered.size(), 1u);
    const Bytes& a = delivered[0];
    EXPECT_EQ(a[7], 8);                                // port 7 + 1
    EXPECT_EQ(a[1], 0xC0);                             // port bits of byte 1 cleared
    EXPECT_TRUE(checkRight(a));

    // The read's wait ran out: a write of that card with its tag takes its own answer, not
    // the read's late one; a read like it, or of every port, waits till that late answer
    // came, or 300 ticks.
    delivered.clear(), tickets.clear();
    const Bytes written = answer(0xF010, 0x1002, 0x42, 2, 0x60, {0});
    const uint32_t w = ask(fpga_manage::kPassbyUdp, answer(2, 0xF010, 0x42, 2, 0x60, {0})), r = ask(fpga_manage::kPassbyUdp, request);
    for (const Bytes& late : {reply, written})
        FpgaModel::queueAnswer(0, 0, late), service();
    EXPECT_EQ(std::make_pair(tickets, manager->passby.due_ticket()), std::make_pair(std::vector<uint32_t>{w}, r));
    G_timeTicks += 301;
    service();
    const uint32_t again = ask(fpga_manage::kPassbyUdp, request), every = ask(fpga_manage::kPassbyTcp, answer(2, 0xF010, 0x42, 255, 0x61, {0}));
    EXPECT_EQ(manager->passby.due_ticket(), 0u);
    { std::lock_guard<std::mutex> hold(manager->port_path_mutex); fpga_manage::withdraw_passby(every); }
    G_timeTicks += PassbyQueue::LATE_TICKS;
    service();
    EXPECT_EQ(manager->passby.due_ticket(), again);
    // Requests of one address go in their turns, its last one too.
    const uint32_t x = ask(fpga_manage::kPassbyUdp, request), y = ask(fpga_manage::kPassbyUdp, request);
    for (const uint32_t next : {x, y}) {
        FpgaModel::queueAnswer(0, 0, reply), service();
        EXPECT_EQ(manager->passby.due_ticket(), next);
    }
    // A request its PC no longer waits for is dropped, kept or not (1000 ticks since it came).
    const uint32_t kept = ask(fpga_manage::kPassbyUdp, request);
    G_timeTicks += PassbyQueue::PC_WAIT_TICKS;
    service();
    std::lock_guard<std::mutex> hold(manager->port_path_mutex);
    EXPECT_FALSE(fpga_manage::passby_waiting(kept) || manager->passby.busy());
    EXPECT_EQ(fpga_manage::pass_through(fpga_manage::kPassbyUdp, 0, unsigned(request.size()), Bytes(request).data(), G_timeTicks - PassbyQueue::PC_WAIT_TICKS), 0u);
}

// A transmitter that stays busy holds what goes out to it (300 ticks at most), not the waits: a
// request's wait counts from when it went out, and one behind a waiting packet is still
// kept, so that one its PC gave up meanwhile never goes out.
TEST_F(FpgaReceive, ABusyTransmitterHoldsThePacketsNotTheWaits)
{
    ReceivingCardModel::setFault(0, 1, ReceivingCardModel::Fault::Silent);   // answers by hand
    sim::SimBoard::setScenario("fpga.sendbusy", "1");                         // ports 0 and 1
    FpgaModel::powerOn(0);
    const Bytes request = answer(2, 0xF010, 0x42, 2, 0x61, {0});
    Bytes bare = {0, 0, 0x10, 0xF0, 0x10, 0x44, 0, 2, 0, 2, 0, 0, 0x11};      // a wrapper, no card packet
    bare.push_back(uint8_t(Utils::BCC(bare.data(), unsigned(bare.size()))));
    ask(fpga_manage::kPassbyUdp, bare);
    const uint32_t gone = ask(fpga_manage::kPassbyTcp, request), t = ask(fpga_manage::kPassbyUdp, request);
    ask(fpga_manage::kPassbySerial, answer(1, 0xF010, 0x45, 4, 0x61, {0}));   // port 3's transmitter is idle: out at once
    const auto sends = ops(0, FpgaModel::OpKind::Send);
    ASSERT_TRUE(sends.size() == 1 && sends[0].port == 3);
    {
        std::lock_guard<std::mutex> hold(manager->port_path_mutex);
        fpga_manage::withdraw_passby(gone);
    }
    for (int i = 0; i < 3; ++i)
        G_timeTicks += 300, service();                 // out at 300 and 600 ticks
    FpgaModel::queueAnswer(0, 0, answer(0xF010, 0x1002, 0x42, 2, 0x61, {0, 1}));
    service();
    EXPECT_EQ(std::make_pair(tickets, ReceivingCardModel::packets(0, 1).size()), std::make_pair(std::vector<uint32_t>{t}, size_t(2)));
    sim::SimBoard::setScenario("fpga.sendbusy", "0");
}

TEST_F(FpgaReceive, ABroadcastPassthroughAnswersOnceEveryPortInUseHasAnswered)
{
    ReceivingCardModel::setCards(0, 4, 1);
    setShadowCards(0, 2);
    setShadowCards(1, 2);
    setShadowCards(4, 1);
    pc_cmd_valid = 1;
    // Read card RAM on every card of every port, tag 0x42; the answer comes from the target.
    for (uint16_t target : {0x0FFE, 0x0FFF}) {
        SCOPED_TRACE(target);
        delivered.clear();
        FpgaModel::queueAnswer(0, 2, answer(0xF010, 0x0001, 0x42, 5, 0x61, {0}));   // late, port 4's own
        ask(fpga_manage::kPassbyUdp, answer(target, 0xF010, 0x42, 255, 0x61, {0x40, 0, 0, 0, 2, 0, 0, 0}));
        EXPECT_EQ(manager->multi_port_flag, 1);
        EXPECT_EQ(manager->passby_fffe, target == 0x0FFE);
        EXPECT_EQ(manager->await_answer, 1);
        // Ports 0 and 1 share pair 0: three answers, one per service, and the late one,
        // which counts for no port (its byte 7 names a port).
        service();
        service();
        service();
        EXPECT_TRUE(delivered.empty());
        EXPECT_EQ(manager->multi_reply_mask, 0x03u);
        service();
        ASSERT_EQ(delivered.size(), 1u);
        const Bytes& a = delivered[0];
        EXPECT_EQ(a[2] | a[3] << 8, target);
        EXPECT_EQ(a[7], 255);
        EXPECT_EQ(a[5], 0x42);
        EXPECT_TRUE(checkRight(a));
        EXPECT_EQ(manager->await_answer, 0);
        EXPECT_EQ(manager->multi_reply_mask, 0u);
        EXPECT_EQ(manager->passby_fffe, 0);
    }
}

TEST_F(FpgaReceive, WhileAPcCommandWaitsTheFpgaIsPolledWithoutItsLine)
{
    pc_cmd_valid = 1;
    manager->await_answer = 1;
    expectFrom(0x0001, 0, 0x60);
    FpgaModel::queueAnswer(0, 0, answer(0xF000, 0x0001, 0x67, 1, 0x60, {0}));
    // The line is missed (as if the edge was lost); the answer still waits in pair 0.
    sim::SocModel::write16(fpga_manage::kGpioFpga0Irq, 0);
    service();                                         // first idle pass: stamp
    EXPECT_EQ(g_send_para.reply, 0);
    G_timeTicks += 2;
    service();                                         // the poll finds the ready bit
    EXPECT_EQ(g_change[CHG_IRQ_STATE0], 1u);
    EXPECT_EQ(g_send_para.reply, 0);
    sim::SocModel::write16(fpga_manage::kGpioFpga0Irq, 0);
    service();                                         // and the pending word is serviced
    EXPECT_EQ(g_send_para.reply, 1);
    EXPECT_EQ(g_change[CHG_IRQ_STATE0], 0u);
}

TEST_F(FpgaReceive, LinkBitsFollowRegisters128And144AndDownPortsLoseTheirCards)
{
    sim::SimBoard::setScenario("fpga.link.port3", "1");
    sim::SimBoard::setScenario("fpga.link.port6", "1");
    sim::SimBoard::setScenario("fpga.link.port9", "1");
    fpga_manage::MCU_RAM_PARA_func[0][96] = 0xE4;      // bits 2 and 5-7 are not link bits
    manager->update_eth_state(0);
    const uint8_t* ram = fpga_manage::MCU_RAM_PARA_func[0];
    // Byte 96: ports 0, 1 -> bits 0, 1, port 3 -> bit 4; 512: port 6 -> bit 2; 513: port 9 -> bit 1; the FPGA's too.
    const Bytes held0 = FpgaModel::ram(0, 1, 0, 1024);
    EXPECT_EQ(Bytes({ram[96], ram[512], ram[513], held0[96], held0[512], held0[513]}), (Bytes{0xF7, 4, 2, 0xF7, 4, 2}));
    // Port 3 goes down: each of ports 0-9 without a link loses its card count and card flag,
    // in the image and in the FPGA; ports 10-15 are not looked at.
    const uint16_t at[16] = {100, 102, 108, 110, 560, 564, 568, 572, 640, 644, 648, 652, 656, 660, 664, 668};
    for (int p = 0; p < 16; ++p) {
        setShadowCards(p, uint16_t(0x101 * (p + 1)));
        fpga_manage::MCU_RAM_PARA_func[0][at[p] + (p < 4 ? 4 : 2)] = 1;
    }
    FpgaModel::setRam(0, 1, 0, Bytes(ram, ram + 1024));
    sim::SimBoard::setScenario("fpga.link.port3", "0");
    manager->update_eth_state(0);
    const Bytes held = FpgaModel::ram(0, 1, 0, 1024);
    for (int p = 0; p < 16; ++p) {
        const int flag = at[p] + (p < 4 ? 4 : 2);
        const uint8_t kept = p > 9 || p == 0 || p == 1 || p == 6 || p == 9, n = uint8_t(kept * (p + 1));
        EXPECT_EQ(Bytes({ram[at[p]], ram[at[p] + 1], ram[flag], held[at[p]], held[at[p] + 1], held[flag]}),
                  (Bytes{n, n, kept, n, n, kept})) << p;
    }
}
