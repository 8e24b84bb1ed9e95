// Jobs 3 (save parameters to the cards) and 4 (mapping switch) against simulated card
// chains, and the order of work in one pass of the manager loop.

#include "tests/fpga/fpga_fixture.h"

#include "core/utils.h"

#include <QCoreApplication>
#include <QObject>

using fpga_test::FpgaFixture;
using sim::FpgaModel;
using sim::ReceivingCardModel;

// Stands in for the screen that shows a job's progress ring.
class ProgressProbe : public QObject {
    Q_OBJECT
public:
    std::vector<int> values;
signals:
    void sig_qround_bar_update(int percent);
};

namespace {

class FpgaJobs : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        QCoreApplication::processEvents();       // progress still queued by an earlier test
        QObject::connect(&probe, &ProgressProbe::sig_qround_bar_update,
                         [this](int p) { probe.values.push_back(p); });
        fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, &probe);
        for (int port = 0; port < 16; ++port)
            ReceivingCardModel::setCards(0, port, 0);
    }

    void TearDown() override
    {
        QCoreApplication::processEvents();
        fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, nullptr);
        FpgaFixture::TearDown();
    }

    void cards(int port, int count)
    {
        ReceivingCardModel::setCards(0, port, count);
        setShadowCards(port, uint16_t(count));
    }

    // What the receive path does with a card's answer to a job packet: check it, mark
    // the reply and acknowledge the pair.
    void receiveAnswers()
    {
        for (int pair = 0; pair < 5; ++pair) {
            if (FpgaModel::pendingAnswers(0, pair) == 0)
                continue;
            const int lengthReg[5] = {24, 133, 135, 137, 149};
            manager->read_from_register(lengthReg[pair], 0);
            unsigned len = manager->reg_shadow(lengthReg[pair], 0) + 1u;
            std::vector<unsigned char> answer(len);
            manager->read_fpga_ram(answer.data(), 0, len, uint8_t(2 + 2 * pair), 0);
            if (Utils::BCC(answer.data(), len - 1) == answer[len - 1] && answer[5] == 0x67)
                g_send_para.reply = 1;
            if (pair < 4)
                manager->write_to_register(130, uint8_t(1 << pair), uint8_t(1 << pair), 0);
            else
                manager->write_to_register(146, 0x01, 0x01, 0);
        }
    }

    // One loop pass of the job, with the receive path, then ticks advance; the screen's
    // thread takes its progress between passes, as it does on the device.
    void pass(uint32_t ticks = 1)
    {
        manager->save_para_deal();
        receiveAnswers();
        G_timeTicks += ticks;
        QCoreApplication::processEvents();
    }

    void mappingPass(uint32_t ticks = 1)
    {
        manager->mapping_enable_deal();
        receiveAnswers();
        G_timeTicks += ticks;
        QCoreApplication::processEvents();
    }

    std::vector<int> progress()
    {
        QCoreApplication::processEvents();
        return probe.values;
    }

    ProgressProbe probe;
};

} // namespace

TEST_F(FpgaJobs, SaveJobSendsOnePacketPerPortWithCardsAndEndsAt100)
{
    cards(0, 2);
    cards(4, 3);
    cards(9, 1);
    g_send_para.post(3);
    for (int i = 0; i < 400 && g_send_para.job != 0; ++i)
        pass(1);
    EXPECT_EQ(g_send_para.job, 0);
    EXPECT_EQ(g_send_para.step, 0);

    for (int port = 0; port < 16; ++port) {
        SCOPED_TRACE(port);
        auto packets = ReceivingCardModel::packets(0, port);
        const bool hasCards = port == 0 || port == 4 || port == 9;
        ASSERT_EQ(packets.size(), hasCards ? 1u : 0u);
        if (!hasCards)
            continue;
        ASSERT_EQ(packets[0].size(), 13u);
        EXPECT_EQ(packets[0][7], port + 1);
        EXPECT_EQ(packets[0][9], 0x81);
        for (int c = 0; c < ReceivingCardModel::cards(0, port); ++c)
            EXPECT_EQ(ReceivingCardModel::card(0, port, c).saves, 1u);
    }
    // Progress per port sent (port x 100 / 11), then 95 and 100 at the end.
    EXPECT_EQ(progress(), (std::vector<int>{0, 36, 81, 95, 100}));
}

TEST_F(FpgaJobs, SilentPortTimesOutAfterItsCardAllowance)
{
    cards(4, 3);
    ReceivingCardModel::setFault(0, 4, ReceivingCardModel::Fault::Silent);
    g_send_para.post(3);
    for (int looks = 0; looks < 1000 && g_send_para.step != 3; ++looks)
        pass(0);
    ASSERT_EQ(g_send_para.step, 3);
    const uint32_t sent = G_timeTicks;
    EXPECT_EQ(ReceivingCardModel::packets(0, 4).size(), 1u);
    EXPECT_EQ(FpgaModel::pendingAnswers(0, 2), 0u);

    // Waiting: 100 x 3 cards + 1200 ticks, the progress counter up every 101 ticks.
    for (uint32_t t = 1; t <= 1500; ++t) {
        G_timeTicks = sent + t;
        pass(0);
        ASSERT_EQ(g_send_para.step, 3) << "left the wait after " << t << " ticks";
    }
    G_timeTicks = sent + 1501;
    pass(0);
    EXPECT_EQ(g_send_para.step, 1);
    auto values = progress();
    ASSERT_GE(values.size(), 15u);
    EXPECT_EQ(values[0], 36);
    for (size_t i = 1; i < 15; ++i)
        EXPECT_EQ(values[i], int(i)) << i;

    // No further port: 95, then 100 after more than 200 ticks.
    for (int looks = 0; looks < 1000 && g_send_para.step != 9; ++looks)
        pass(0);
    ASSERT_EQ(g_send_para.step, 9);
    EXPECT_EQ(progress().back(), 95);
    G_timeTicks += 200;
    pass(0);
    EXPECT_EQ(g_send_para.job, 3);
    G_timeTicks += 1;
    pass(0);
    EXPECT_EQ(g_send_para.job, 0);
    EXPECT_EQ(progress().back(), 100);
}

TEST_F(FpgaJobs, ProgressCounterWrapsFrom99To1)
{
    cards(2, 100);                               // a wait of 100 x 100 + 1200 ticks
    ReceivingCardModel::setFault(0, 2, ReceivingCardModel::Fault::Silent);
    g_send_para.post(3);
    for (int looks = 0; looks < 1000 && g_send_para.step != 3; ++looks)
        pass(0);
    ASSERT_EQ(g_send_para.step, 3);
    for (int i = 0; i < 102; ++i)
        pass(101);
    EXPECT_EQ(g_send_para.step, 3);
    auto values = progress();
    ASSERT_EQ(values.size(), 102u);
    EXPECT_EQ(values[99], 99);
    EXPECT_EQ(values[100], 1);
    EXPECT_EQ(values[101], 2);
}

TEST_F(FpgaJobs, WrongCheckByteIsNoReplySoThePortTimesOut)
{
    cards(1, 1);
    ReceivingCardModel::setFault(0, 1, ReceivingCardModel::Fault::WrongCheck);
    g_send_para.post(3);
    for (int i = 0; i < 20; ++i)
        pass(1);
    EXPECT_EQ(g_send_para.step, 3);
    G_timeTicks += 1300;
    pass(0);
    EXPECT_EQ(g_send_para.step, 1);
}

TEST_F(FpgaJobs, MappingJobCarriesTheMappingValueToEveryCard)
{
    cards(3, 2);
    cards(8, 1);
    g_send_para.mapping = 9;
    g_send_para.post(4);
    for (int i = 0; i < 400 && g_send_para.job != 0; ++i)
        mappingPass(1);
    EXPECT_EQ(g_send_para.job, 0);
    auto packets = ReceivingCardModel::packets(0, 3);
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].size(), 15u);
    EXPECT_EQ(packets[0][13], 9);
    EXPECT_EQ(ReceivingCardModel::card(0, 3, 0).mapping, 9);
    EXPECT_EQ(ReceivingCardModel::card(0, 3, 1).mapping, 9);
    EXPECT_EQ(ReceivingCardModel::card(0, 8, 0).mapping, 9);
    EXPECT_EQ(progress(), (std::vector<int>{27, 72, 95, 100}));
}

TEST_F(FpgaJobs, MappingJobWaitsAtMost1200TicksPerPort)
{
    cards(0, 30);
    ReceivingCardModel::setFault(0, 0, ReceivingCardModel::Fault::Silent);
    g_send_para.post(4);
    for (int looks = 0; looks < 1000 && g_send_para.step != 3; ++looks)
        mappingPass(0);
    ASSERT_EQ(g_send_para.step, 3);
    G_timeTicks += 1200;
    mappingPass(0);
    EXPECT_EQ(g_send_para.step, 3);
    G_timeTicks += 1;
    mappingPass(0);
    EXPECT_EQ(g_send_para.step, 1);
}

TEST_F(FpgaJobs, NoCardsAnywhereEndsNormally)
{
    g_send_para.post(3);
    for (int i = 0; i < 30; ++i)
        pass(0);
    EXPECT_EQ(g_send_para.step, 9);
    G_timeTicks += 201;
    pass(0);
    EXPECT_EQ(g_send_para.job, 0);
    for (int port = 0; port < 16; ++port)
        EXPECT_TRUE(ReceivingCardModel::packets(0, port).empty());
    EXPECT_EQ(progress(), (std::vector<int>{95, 100}));
}

TEST_F(FpgaJobs, APcCommandPausesTheJobAndItsTimeOut)
{
    cards(0, 1);
    ReceivingCardModel::setFault(0, 0, ReceivingCardModel::Fault::Silent);
    g_send_para.post(3);
    for (int looks = 0; looks < 1000 && g_send_para.step != 3; ++looks)
        pass(0);
    ASSERT_EQ(g_send_para.step, 3);
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    for (int i = 0; i < 80; ++i) {               // 1600 ticks of PC traffic
        pc_cmd_time = G_timeTicks.load();
        pass(20);
    }
    EXPECT_EQ(g_send_para.step, 3);
    EXPECT_EQ(pc_cmd_valid, 1);
    EXPECT_EQ(g_send_para.stamp, G_timeTicks - 20);
    // More than 80 ticks since the PC's last frame: the flag drops.
    pc_cmd_time = G_timeTicks - 81;
    pass(0);
    EXPECT_EQ(pc_cmd_valid, 0);
    EXPECT_EQ(g_send_para.step, 3);
    G_timeTicks += 1301;
    pass(0);
    EXPECT_EQ(g_send_para.step, 1);
}

TEST_F(FpgaJobs, ProgressIsDroppedWithoutAScreen)
{
    fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, nullptr);
    g_send_para.post(3);
    for (int i = 0; i < 30; ++i)
        pass(0);
    G_timeTicks += 201;
    pass(0);
    EXPECT_EQ(g_send_para.job, 0);
    EXPECT_TRUE(progress().empty());
}

// --- one pass of the loop -----------------------------------------------------------

class FpgaLoop : public FpgaFixture {};

TEST_F(FpgaLoop, PassWaitsForTheReadyFpgaBeforeBrightnessScreenAndLog)
{
    manager->bri_update_flag = 1;
    manager->screen_update_flag = 1;
    manager->fpga_manage_deal(nullptr);
    EXPECT_EQ(manager->bri_update_flag, 1);
    EXPECT_EQ(manager->screen_update_flag, 1);
    EXPECT_EQ(g_clock_record.running, 0);
    EXPECT_EQ(manager->clock_record_initialised, 0);

    makeReady();
    manager->fpga_manage_deal(nullptr);
    EXPECT_EQ(manager->bri_update_flag, 0);
    EXPECT_EQ(manager->screen_update_flag, 0);
    EXPECT_EQ(manager->clock_record_initialised, 1);
    EXPECT_EQ(g_clock_record.running, 1);

    // Register 0 bit 3 set means not ready again.
    fpga_manage::MCU_REG_func[0][0] = 0x08;
    EXPECT_EQ(manager->get_fpga_status(), 0);
}

TEST_F(FpgaLoop, UnknownJobCodesRunTheIdleWork)
{
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    g_send_para.post(7);
    G_timeTicks += 80;
    manager->fpga_manage_deal(nullptr);
    EXPECT_EQ(pc_cmd_valid, 1);
    G_timeTicks += 1;
    manager->fpga_manage_deal(nullptr);
    EXPECT_EQ(pc_cmd_valid, 0);
    EXPECT_EQ(g_send_para.job, 7);
}

TEST_F(FpgaLoop, SoftinitPreparesTheJobRecordAndTheImages)
{
    G_timeTicks = 777;
    g_send_para.job = 3;
    g_send_para.reply = 1;
    manager->softinit();
    EXPECT_EQ(g_send_para.job, 0);
    EXPECT_EQ(g_send_para.step, 255);
    EXPECT_EQ(g_send_para.reply, 0);
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[24], 1);
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[25], 17);
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[28], 255);
    EXPECT_EQ(fpga_manage::MCU_RAM_CMD[29], 1);
    EXPECT_EQ(fpga_manage::MCU_RAM_EXTEND[49], 159);
    EXPECT_EQ(g_change[CHG_SEARCH_PERMIT], 15u);
    EXPECT_EQ(g_change[CHG_BRINGUP_STAMP0], 777u);
    EXPECT_EQ(g_change[CHG_JOB_STAMP], 777u);
}

#include "fpga_jobs_test.moc"
