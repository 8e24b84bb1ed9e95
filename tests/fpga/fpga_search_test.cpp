// Card search sweeps every 80 ticks over FPGA 0's linked port pairs, the evaluation that
// forgets silent pairs, the search and check packet, and the link watch with its re-lock.

#include "tests/fpga/fpga_fixture.h"
#include "tests/support/LockWaiter.h"

#include "core/utils.h"

#include <chrono>
#include <thread>

using fpga_test::FpgaFixture;
using sim::FpgaModel;
using sim::ReceivingCardModel;
using Kind = sim::FpgaModel::OpKind;

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<int> sentPorts()
{
    std::vector<int> out;
    for (auto& op : FpgaModel::log(0))
        if (op.kind == Kind::Send)
            out.push_back(op.port);
    return out;
}

} // namespace

class FpgaSearch : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        makeReady();
    }
    // One sweep: 80 ticks on, then the sweep and the interrupt service of its answers.
    std::vector<int> sweep()
    {
        FpgaModel::clearLog();
        G_timeTicks += 80;
        manager->Search_Card_Cmd();
        std::vector<int> ports = sentPorts();
        std::lock_guard<std::mutex> hold(manager->port_path_mutex);
        for (int i = 0; i < 4; ++i)
            manager->reg_IRQ_Dealwith(0, 0);
        return ports;
    }
    static void links(std::initializer_list<int> up)
    {
        for (int p = 0; p < 16; ++p)
            sim::SimBoard::setScenario("fpga.link.port" + std::to_string(p), "0");
        for (int p : up)
            sim::SimBoard::setScenario("fpga.link.port" + std::to_string(p), "1");
    }
};

TEST_F(FpgaSearch, TheSearchPacketByteForByte)
{
    ReceivingCardModel::setCards(0, 10, 1);
    manager->check_error_rcv_search_card_cmd(10, 0, 0xA1B2C3D4, 0x01020304, 3);
    auto sends = ops(0, Kind::Send);
    ASSERT_EQ(sends.size(), 1u);
    Bytes expected = {0xFE, 0x2F, 0x00, 0xF0, 0x10, 0xAA, 0xFF, 11, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0x01,
                      0xD4, 0xC3, 0xB2, 0xA1, 0xFF, 0x00, 0x04, 0x03, 0x02, 0x01, 0, 0};
    expected.push_back(uint8_t(Utils::BCC(expected.data(), unsigned(expected.size()))));
    EXPECT_EQ(std::make_pair(int(sends[0].port), sends[0].data), std::make_pair(10, expected));
    // The pair bit of the port is cleared first: port 10 is pair 5, bit 1 of register 147.
    bool cleared = false;
    for (auto& op : ops(0, Kind::RegisterWrite))
        cleared = cleared || (op.reg == 147 && op.mask == 0x02 && (op.data[0] & 0x02) == 0);
    EXPECT_TRUE(cleared);
}

TEST_F(FpgaSearch, OddSweepsPreferTheOddPortEvenSweepsTheEvenAndNoLinkSendsNothing)
{
    links({0, 1, 3});
    g_change[CHG_SWEEP_COUNT] = g_change[5] = 1;   // the sixth word is cleared on arming
    EXPECT_EQ(sweep(), (std::vector<int>{1, 3}));
    EXPECT_EQ(std::vector<uint32_t>({manager->searched_mask, g_change[5]}), (std::vector<uint32_t>{0x0A, 0}));
    // The words' places: armed 2nd, stamp 3rd, link watch 4th and 5th, sweep count 9th, permit 35th.
    EXPECT_EQ(std::vector<int>({CHG_SEARCH_ARMED, CHG_JOB_STAMP, CHG_LINK_WATCH_STAMP0, CHG_LINK_WATCH_STAMP1, CHG_SWEEP_COUNT,
                                CHG_SEARCH_PERMIT, CHG_JOB_PROGRESS}), (std::vector<int>{1, 2, 3, 4, 8, 34, 46}));
    EXPECT_EQ(sweep(), (std::vector<int>{0, 3}));
    EXPECT_EQ(g_change[CHG_SEARCH_ARMED], 0u);
    // Before 80 ticks have passed nothing is sent.
    FpgaModel::clearLog();
    G_timeTicks += 79;
    manager->Search_Card_Cmd();
    EXPECT_TRUE(sentPorts().empty());

    // With every link down, or with register 0 bit 3 (FPGA not ready), nothing is sent and
    // the stamp moves on.
    for (bool ready : {true, false}) {
        links(ready ? std::initializer_list<int>{} : std::initializer_list<int>{0});
        if (!ready)
            fpga_manage::MCU_REG_func[0][0] = 0x08;
        FpgaModel::clearLog();
        G_timeTicks += 80;
        manager->Search_Card_Cmd();
        EXPECT_EQ(std::make_pair(sentPorts().size(), uint32_t(g_change[CHG_JOB_STAMP])), std::make_pair(size_t(0), G_timeTicks.load())) << ready;
    }
}

TEST_F(FpgaSearch, SweepsFillTheCardTableAndASilentPairLosesItsCountAfterAnOddSweep)
{
    links({0, 1, 2});
    ReceivingCardModel::setCards(0, 2, 3);
    g_change[CHG_SWEEP_COUNT] = 0;
    sweep();                                           // even: ports 0 and 2
    sweep();                                           // odd: ports 1 and 2
    auto counts = [this] { return std::vector<int>{manager->get_port_card_num(0), manager->get_port_card_num(1), manager->get_port_card_num(2)}; };
    EXPECT_EQ(counts(), (std::vector<int>{2, 2, 3}));

    // Port 1's chain falls silent; the odd sweep's evaluation forgets it.
    ReceivingCardModel::setFault(0, 1, ReceivingCardModel::Fault::Silent);
    fpga_manage::MCU_RAM_PARA_func[0][106] = 1;
    FpgaModel::setRam(0, 1, 106, {1});
    sweep();                                           // even: ports 0 and 2 answer
    sweep();                                           // odd: port 1 is silent
    EXPECT_EQ(manager->get_port_card_num(1), 2);       // not yet evaluated
    sweep();                                           // evaluation at the next sweep
    EXPECT_EQ(counts(), (std::vector<int>{2, 0, 3}));
    EXPECT_EQ(std::make_tuple(int(fpga_manage::MCU_RAM_PARA_func[0][106]), FpgaModel::ram(0, 1, 102, 5), int(manager->netport_card_result)),
              std::make_tuple(0, Bytes{0, 0, 0, 0, 0}, 5));

    // An even sweep leaves nothing to evaluate: a silent even port keeps its count.
    ReceivingCardModel::setFault(0, 0, ReceivingCardModel::Fault::Silent);
    EXPECT_EQ(g_change[CHG_SWEEP_COUNT] & 1, 1u);
    sweep();                                           // odd: ports 1 and 2
    sweep();                                           // even: port 0 silent, evaluates the odd one
    sweep();                                           // odd: evaluates the even sweep
    EXPECT_EQ(manager->get_port_card_num(0), 2);
}

TEST_F(FpgaSearch, FourReadingsWithoutALaneStartTheReLockThreeDoNotAndItEndsAfter1000Polls)
{
    // The link is trained as bring-up leaves it.
    manager->write_to_register(3, 0xC0, 0xC0, 0);
    FpgaModel::scriptReads(0, 40, {0x14, 0x14, 0x14, 0x1C, 0x1C, 0x1C, 0x1C, 0x1C});
    G_timeTicks += 10;
    EXPECT_EQ((std::vector<int>{manager->check_vbo_status(0), FpgaModel::reg(0, 3) & 0xC0}), (std::vector<int>{0, 0xC0}));

    FpgaModel::scriptReads(0, 40, {0x0C, 0x1C, 0x14, 0x18, 0x1C, 0x0C, 0x1C, 0x1C});   // each lane missing
    G_timeTicks += 9;
    EXPECT_EQ(manager->check_vbo_status(0), 0);        // not yet 10 ticks: nothing read
    G_timeTicks += 1;
    EXPECT_EQ((std::vector<int>{manager->check_vbo_status(0), FpgaModel::reg(0, 3) & 0xC0, FpgaModel::linkTrained(0)}),
              (std::vector<int>{1, 0x00, 0}));

    // Step 0 sets bit 6; step 1 waits for register 22 bit 3 to clear, then sets bit 7.
    FpgaModel::setLinkError(0, true);
    G_timeTicks += 10;
    EXPECT_EQ((std::vector<int>{manager->check_vbo_status(0), FpgaModel::reg(0, 3) & 0xC0}), (std::vector<int>{1, 0x40}));
    for (int i = 0; i < 5; ++i) {
        G_timeTicks += 10;
        EXPECT_EQ(manager->check_vbo_status(0), 1);
    }
    FpgaModel::setLinkError(0, false);
    G_timeTicks += 10;
    EXPECT_EQ((std::vector<int>{manager->check_vbo_status(0), FpgaModel::reg(0, 3) & 0xC0, FpgaModel::linkTrained(0)}),
              (std::vector<int>{0, 0xC0, 1}));

    // A re-lock that never ends is released at its 1000th poll.
    FpgaModel::scriptReads(0, 40, Bytes(8, 0x00));
    FpgaModel::setLinkError(0, true);
    G_timeTicks += 10;
    ASSERT_EQ(manager->check_vbo_status(0), 1);
    G_timeTicks += 10;
    manager->check_vbo_status(0);                      // step 0
    int polls = 0;
    do {
        G_timeTicks += 10;
        ++polls;
    } while (manager->check_vbo_status(0) == 1 && polls < 2000);
    EXPECT_EQ((std::vector<int>{polls, FpgaModel::reg(0, 3) & 0x80}), (std::vector<int>{1000, 0x80}));   // the 1000th poll ends it
}

TEST_F(FpgaSearch, AnAnswerFiledWhileTheEvaluationWaitsForThePortPathKeepsItsCount)
{
    links({1});
    ReceivingCardModel::setCards(0, 1, 4);
    g_change[CHG_SWEEP_COUNT] = 1;
    sweep();                                           // odd: port 1 answers, count 4
    ASSERT_EQ(manager->get_port_card_num(1), 4);

    // The next odd sweep goes out; its answer waits in the FPGA while a link's receive
    // thread holds the port path and the manager starts evaluating.
    g_change[CHG_SWEEP_COUNT] = 1;
    FpgaModel::clearLog();
    G_timeTicks += 80;
    manager->Search_Card_Cmd();
    ASSERT_EQ(sentPorts(), (std::vector<int>{1}));
    std::unique_lock<std::mutex> path(manager->port_path_mutex);
    kel_test::LockWaiter evaluation([this] { manager->CHECK_search_cmd_status(); });
    std::string why;
    EXPECT_TRUE(evaluation.waitsOnLock(&why)) << why;
    for (int i = 0; i < 4; ++i)
        manager->reg_IRQ_Dealwith(0, 0);               // the link thread files the answer
    path.unlock();
    evaluation.join();
    // Port 1 answered this sweep: its count stays.
    EXPECT_EQ(std::make_pair(int(manager->get_port_card_num(1)), FpgaModel::ram(0, 1, 102, 2)), std::make_pair(4, Bytes{4, 0}));
}
