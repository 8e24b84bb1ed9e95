// Brightness by hand, by half-hour table and from the light sensor, the on/off schedule and
// the PC's command mailbox, against the simulated FPGA, its flash and a function card.
#include "core/utils.h"
#include "tests/fpga/bringup_fixture.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <cstring>
#include <ctime>
#include <tuple>

using namespace fpga_test;
using sim::FpgaModel;

namespace {

class FpgaBright : public BringUpFixture {
protected:
    void SetUp() override
    {
        BringUpFixture::SetUp();
        makeReady();
        para = KelRamPara::p_kelrampara_config;
        for (int w = fpga_manage::CHG_VMF_GROUP; w <= fpga_manage::CHG_BRI_MISS; ++w)
            g_change[w] = 0;
    }
    // The local wall clock at a time of day (the date is fixed).
    static void clockAt(int hour, int minute, int day = 7)
    {
        std::tm t{};
        t.tm_year = 2026 - 1900;
        t.tm_mon = 11;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_isdst = -1;
        sim::SimBoard::fixWallTime(std::mktime(&t));
    }
    void setPercent(uint16_t percent) { KelRamPara::put16(para->ram + KelRamPara::kBrightness, percent); }
    void applyRequest()
    {
        manager->bri_request_taken = 1;
        manager->Brightness_hand_dealwith();
        manager->bri_request_taken = 0;
    }
    void mailbox(const std::vector<uint8_t>& block)
    {
        std::memset(fpga_manage::MCU_RAM_CMD, 0, 64);
        std::memcpy(fpga_manage::MCU_RAM_CMD, block.data(), block.size());
        manager->write_to_register(2, 0x04, 0x04, 0);
    }
    static std::vector<uint8_t> flash(uint32_t address, uint32_t n) { return sim::FpgaFlashModel::read(0, address, n); }

    KelRamPara* para = nullptr;
};

} // namespace

TEST_F(FpgaBright, BrightnessValuesPerMode)
{
    // From the parameter block: 3 % gives 15 unless the mode is 16 or 17; above 100 % is 100 %.
    manager->bri_mode = 0;
    setPercent(3);
    applyRequest();
    EXPECT_EQ(FpgaModel::reg(0, 6), 15);
    manager->bri_mode = 16;
    applyRequest();
    EXPECT_EQ(FpgaModel::reg(0, 6), 7);
    setPercent(250);
    applyRequest();
    EXPECT_EQ(FpgaModel::reg(0, 6), 255);
    EXPECT_EQ(fpga_manage::MCU_RAM_PARA_func[0][256], 1);

    // A table value through the scaling of mode 1 (each mode's table values: the schedule check
    // below): the block follows the value.
    setPercent(100);
    manager->bri_mode = 1;
    std::vector<int> codes;
    QObject::connect(para, &KelRamPara::sig_update_para, [&codes](int code) { codes.push_back(code); });
    manager->write_to_register(64, 0xFF, 1, 0);
    manager->Brightness_hand_dealwith();
    EXPECT_EQ(FpgaModel::reg(0, 6), 15);
    EXPECT_EQ(para->ram16(KelRamPara::kBrightness), 5);   // the block follows the value
    EXPECT_EQ(codes, std::vector<int>{1});

    // A PC percentage waiting for its apply is not overwritten by the table value.
    manager->bri_mode = 1;
    manager->write_to_register(64, 0xFF, 0, 0);   // the FPGA runs at 255
    setPercent(40);
    para->pc_edit_pending = 1;
    manager->Brightness_hand_dealwith();
    EXPECT_EQ(para->ram16(KelRamPara::kBrightness), 40);
    para->pc_edit_pending = 0;
    manager->Brightness_hand_dealwith();
    EXPECT_EQ(para->ram16(KelRamPara::kBrightness), 100);
}

TEST_F(FpgaBright, ABlockChangeIsStoredAndReachesTheCardsEvenWithoutLink)
{
    manager->bri_mode = 16;
    setPercent(50);
    applyRequest();
    // The FPGA hands the value on to the cards of ports 0 and 1.
    EXPECT_EQ(sim::ReceivingCardModel::card(0, 1, 0).ram[FpgaModel::kBrightnessAddress], 127);
    std::vector<uint8_t> block = {0xAA, 0x03, 0xAA, 0x00, 0x00, 0x00, 0x31, 0x00, 0x10};
    block.insert(block.end(), 48, 127);
    EXPECT_EQ(flash(0x30F000, 57), block);

    // No port with link: no register write, but the change is still stored.
    sim::SimBoard::setScenario("fpga.link.port0", "0");
    sim::SimBoard::setScenario("fpga.link.port1", "0");
    sim::FpgaModel::clearLog();
    setPercent(20);
    applyRequest();
    EXPECT_TRUE(writesTo(6).empty());
    EXPECT_EQ(manager->reg_shadow(64, 0), 51);
    EXPECT_EQ(flash(0x30F000 + 9, 1)[0], 51);
    // A link on a port of the second group (register 144) is link enough.
    sim::SimBoard::setScenario("fpga.link.port9", "1");
    setPercent(30);
    applyRequest();
    EXPECT_EQ(FpgaModel::reg(0, 6), 76);
    // The stored hand setting becomes the running mode at the next idle pass.
    manager->Extension_function();
    EXPECT_EQ(manager->bri_mode, 16);
    EXPECT_EQ(g_change[fpga_manage::CHG_BRI_TASK], 1u);
}

TEST_F(FpgaBright, HalfHourSlotsAndTheTable)
{
    EXPECT_EQ(fpga_manage::half_hour_slot(23, 59), 47);
    EXPECT_EQ(fpga_manage::half_hour_slot(0, 0), 0);
    EXPECT_EQ(fpga_manage::half_hour_slot(12, 30), 25);

    // A hand command that is not stored is on its own scale (16 raw, 0 as 16 x 5 - 1 = 79)
    // and leaves the running mode as it is (hand, automatic, table), whose re-apply in the
    // same slot or step keeps the value as sent; the table's next slot (26) takes over.
    std::vector<uint8_t> block = {0xAA, 0x03, 0xAA, 0, 0, 0, 49, 0, 17};
    for (int i = 0; i < 48; ++i)
        block.push_back(uint8_t(100 + i));
    clockAt(12, 40);
    for (uint8_t running : {0, 16, 2, 17}) {
        block[8] = running;
        mailbox(block);
        G_timeTicks += 1000;
        manager->Extension_function();                  // reload, then the mode's first run
        for (const auto& [mode, value, fpga] : {std::tuple<uint8_t, uint8_t, int>{16, 50, 50}, {0, 5, 79}}) {
            SCOPED_TRACE(testing::Message() << int(running) << "/" << int(mode));
            mailbox({0xAA, 0x03, 0x00, 0, 0, 0, 2, 0, mode, value});
            EXPECT_EQ(FpgaModel::reg(0, 6), fpga);
            G_timeTicks += 1000;
            manager->Extension_function();
            EXPECT_EQ(FpgaModel::reg(0, 6), fpga);
            EXPECT_EQ(manager->bri_mode, running);
        }
    }
    EXPECT_EQ(flash(0x30F000, 57), block);   // the table's slots as the time goes: below

    // A stored hand block of mode 0 becomes the running hand task at the next idle pass.
    mailbox({0xAA, 0x03, 0xAA, 0, 0, 0, 2, 0, 0, 5});
    EXPECT_EQ(FpgaModel::reg(0, 6), 79);
    g_change[fpga_manage::CHG_BRI_TASK] = 0;
    manager->Extension_function();
    EXPECT_EQ(manager->bri_mode, 0);
    EXPECT_EQ(g_change[fpga_manage::CHG_BRI_TASK], 1u);
}

TEST_F(FpgaBright, TheLightSensorLeadsTheBrightnessStepByStep)
{
    sim::ReceivingCardModel::setFunctionCard(0, 1, true);
    sim::FunctionCardModel::setLightSensor(0, 1, true, 30);
    fpga_manage::MCU_RAM_PARA_func[0][106] = 1;
    mailbox({0xAA, 0x03, 0xAA, 0, 0, 0, 1, 0, 2});
    manager->Extension_function();                      // reload: automatic mode
    ASSERT_EQ(manager->bri_mode, 2);
    g_change[fpga_manage::CHG_BRI_TARGET] = 27;
    for (int i = 0; i < 5; ++i) {                      // while a PC talks before every pass
        G_timeTicks += 200;
        pc_cmd_valid = 1;
        pc_cmd_time = G_timeTicks.load();
        manager->Check_search_card();
    }
    // One step per read toward the suggested 30, then it stays.
    EXPECT_EQ(FpgaModel::reg(0, 6), 30);
    EXPECT_EQ(g_change[fpga_manage::CHG_VMF_ADDRESS], 0x5000u);
    std::vector<std::vector<uint8_t>> reads;
    for (auto& p : sim::ReceivingCardModel::packets(0, 1))
        if (p.size() > 5 && p[5] == 0xBB)
            reads.push_back(p);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back(), (std::vector<uint8_t>{0x00, 0x50, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00,
                                                    0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0xEB}));

    // A sensor that stops answering: after ten misses full brightness.
    sim::ReceivingCardModel::setFault(0, 1, sim::ReceivingCardModel::Fault::Silent);
    for (int i = 0; i < 10; ++i) {
        EXPECT_NE(FpgaModel::reg(0, 6), 255) << i;
        G_timeTicks += 200;
        manager->Extension_function();
    }
    EXPECT_EQ(FpgaModel::reg(0, 6), 255);
    // An answer that lacks sensor bytes (51 of 128, the valid mark among them), another command
    // or a status other than 0 counts one error in register 85 each and moves nothing.
    for (const auto& [n, command, status] : {std::tuple<int, uint8_t, uint8_t>{51, 0x61, 0}, {128, 0xA0, 0}, {128, 0x61, 1}}) {
        std::vector<uint8_t> answer = {0x00, 0xF0, 0x00, 0x50, 0x10, 0xBB, 0x03, 0x00, 0x00, command, status};
        answer.resize(11 + n, 255);
        answer.push_back(uint8_t(Utils::BCC(answer.data(), unsigned(answer.size()))));
        FpgaModel::queueAnswer(0, 0, answer);
        G_timeTicks += 200;
        manager->Extension_function();
        EXPECT_EQ(FpgaModel::reg(0, 6), 255) << n;
    }
    EXPECT_EQ(manager->reg_shadow(85, 0), 3);
}

TEST_F(FpgaBright, TheSameMinuteLightsThenDarkens)
{
    // After the new schedule's first pass, at 08:30 the screen is lit, then made dark, each
    // switch re-arming the power control.
    mailbox({0xAA, 0x02, 0xAA, 0, 0, 0, 5, 0, 1, 0x08, 0x30, 0x08, 0x30});
    for (int minute : {29, 30}) {
        clockAt(8, minute);
        sim::FpgaModel::clearLog();
        manager->Extension_function();
    }
    EXPECT_EQ(writesTo(0), (std::vector<std::pair<uint8_t, uint8_t>>{{4, 0}, {4, 4}}));
    EXPECT_EQ(std::vector<int>({manager->onoff_dark, manager->power_armed}), (std::vector<int>{1, 1}));
}

// Over drawn schedules (up to 7 entries asked, 4 kept; kept in flash, taken back at restarts and
// erased at the end), clock moves (on, back, over midnight and days) and passes with a PC talking
// before each or with the FPGA not ready: after every move the FPGA is ready for, the screen (bit 2 of the simulated FPGA's register 0) stands as the
// day's schedule has it: the latest switch at or before the minute that day or, before the
// day's first, the day's last; of one minute, dark after lit. A time that is no time of day
// (25:01) never switches; without a switch the screen stays lit. And after a pass a second or
// more after the one before, the brightness is the drawn half-hour table's value of that time
// (mode 1 or 17).
// A PC's flag drops once more than 80 ticks passed since its last frame.
TEST_F(FpgaBright, TheScreenFollowsTheDayScheduleWhateverThePcAndTheClockDo)
{
    struct Move { int minutes; bool pc; int ready, passes, ticks; };   // ready 2: after a restart
    // Drawn over the whole range at every case, not growing with RapidCheck's size.
    const auto in = [](int low, int high) { return rc::gen::resize(rc::kNominalSize, rc::gen::inRange(low, high)); };
    const auto minuteGen = rc::gen::weightedOneOf<int>({{6, in(0, 1440)}, {1, rc::gen::element(0, 1439, 1501)}});
    const auto moveGen = rc::gen::weightedOneOf<int>({{4, in(0, 4)}, {3, in(1, 600)}, {2, in(-60, 0)}, {2, in(-1500, -60)},
                                                      {1, in(1440, 5760)}});
    kel_test::checkProperty("the screen follows the day schedule", [&] {
        const int asked = *in(0, 8);
        std::vector<std::pair<int, int>> kept;   // lit and dark minute of the day
        std::vector<uint8_t> block = {0xAA, 0x02, 0xAA, 0, 0, 0, uint8_t(1 + 4 * std::min(asked, 5)), 0, uint8_t(asked)};
        for (int i = 0; i < std::min(asked, 5); ++i) {
            const int on = *minuteGen, off = *rc::gen::weightedOneOf<int>({{4, minuteGen}, {1, rc::gen::just(on)}});
            for (int m : {on, off})
                block.insert(block.end(), {uint8_t(m / 600 * 16 + m / 60 % 10), uint8_t(m % 60 / 10 * 16 + m % 10)});
            if (i < 4)
                kept.emplace_back(on, off);
        }
        const auto scheduled = [&kept](int minute) {   // 1 dark, 0 lit or no switch
            int latest = -1, last = -1;
            for (const auto& [on, off] : kept)
                for (int key : {2 * on, 2 * off + 1})
                    if (key < 2 * 1440) {
                        last = std::max(last, key);
                        latest = key / 2 <= minute ? std::max(latest, key) : latest;
                    }
            return (latest >= 0 ? latest : std::max(last, 0)) & 1;
        };
        FpgaModel::setReg(0, 0, 0);
        fpga_manage::MCU_REG_func[0][0] = 0;
        clockAt(0, 0, 20);
        std::time_t now = sim::SimBoard::fixedWallTime() - 3 * 86400 + *in(0, 1440) * 60;
        std::tm at{}, before{};
        localtime_r(&now, &at);
        sim::SimBoard::fixWallTime(now);
        // By half hour, in mode 17 as they are, in mode 1 as 16 x v - 1 (0 gives 255, 1 gives 15).
        std::vector<uint8_t> table = {0xAA, 0x03, 0xAA, 0, 0, 0, 49, 0, uint8_t(*rc::gen::element(1, 17))};
        for (int i = 0; i < 48; ++i)
            table.push_back(*rc::gen::weightedOneOf<uint8_t>({{6, rc::gen::arbitrary<uint8_t>()}, {1, rc::gen::element<uint8_t>(0, 1)}}));
        mailbox(table);
        mailbox(block);
        RC_ASSERT(manager->reg_shadow(66, 0) == 1 && flash(0x30E000, uint32_t(block.size())) == block);
        bool missed = false, back = false, midnight = false, busy = false, restart = false, pcSeen = false;
        uint32_t lastPc = 0;
        pc_cmd_valid = 0;
        g_send_para.post(uint8_t(*rc::gen::element(0, 7)));   // 7, a code of no job: the idle work too
        for (const Move& m : *rc::gen::container<std::vector<Move>>(rc::gen::construct<Move>(moveGen, rc::gen::arbitrary<bool>(),
                 rc::gen::weightedOneOf<int>({{8, rc::gen::just(1)}, {2, rc::gen::just(0)}, {1, rc::gen::just(2)}}), in(1, 4),
                 rc::gen::weightedOneOf<int>({{4, in(1, 200)}, {1, rc::gen::element(80, 81)}, {1, in(1000, 1200)}})))) {
            before = at;
            now += m.minutes * 60;
            sim::SimBoard::fixWallTime(now);
            localtime_r(&now, &at);
            const int minute = at.tm_hour * 60 + at.tm_min, want = scheduled(minute);
            missed |= !m.ready && want != scheduled(before.tm_hour * 60 + before.tm_min);
            back |= m.minutes < 0;
            midnight |= at.tm_mday != before.tm_mday;
            busy |= m.pc && m.ticks < 80;
            if ((restart |= m.ready == 2) && m.ready == 2)
                manager->onoff_count = 0, manager->record_onoff_time(2);
            fpga_manage::MCU_REG_func[0][0] = uint8_t((fpga_manage::MCU_REG_func[0][0] & ~0x08) | (m.ready ? 0 : 0x08));
            for (int i = 0; i < m.passes; ++i) {
                if (m.pc)
                    pc_cmd_valid = 1, pc_cmd_time = lastPc = G_timeTicks.load(), pcSeen = true;
                BringUpWorld::pass(*manager, uint32_t(m.ticks));
            }
            RC_ASSERT(!m.ready || (FpgaModel::reg(0, 0) & 0x04) == 4 * want);
            const int v = table[9 + minute / 30];
            RC_ASSERT(!m.ready || m.ticks < 1000 || FpgaModel::reg(0, 6) == (table[8] == 17 ? v : (v * 16 - 1) & 0xFF));
            // The PC's flag drops once more than 80 ticks passed since its last frame.
            RC_ASSERT(int(pc_cmd_valid) == int(pcSeen && G_timeTicks - lastPc <= 80));
        }
        mailbox({0xAA, 0x02, 0x55, 0, 0, 0, 1, 0, 0});
        RC_ASSERT(manager->reg_shadow(66, 0) == 0 && flash(0x30E000, 1)[0] == 0xFF);
        RC_CLASSIFY(kept.empty(), "no entry");
        RC_CLASSIFY(asked > 4, "more than 4 asked");
        RC_CLASSIFY(missed, "a switch fell due while the FPGA was not ready");
        RC_CLASSIFY(back, "clock set back");
        RC_CLASSIFY(restart, "a restart");
        RC_CLASSIFY(midnight, "another day");
        RC_CLASSIFY(busy, "a PC every pass, under 0.8 s apart");
        RC_CLASSIFY(g_send_para.job == 7, "job code 7");
        RC_CLASSIFY(std::any_of(kept.begin(), kept.end(), [](auto& e) { return e.first == e.second || e.first > 1439 || e.second > 1439; }),
                    "lit and dark the same minute, or no time of day");
    }, {kel_test::underEmulation() ? 15 : 60, 30});
}

TEST_F(FpgaBright, MailboxClockCommandAndOversizedBlocks)
{
    mailbox({0xAA, 0x01, 0x00, 0, 0, 0, 7, 0, 0x26, 0x20, 0x12, 0x07, 0x09, 0x05, 0x03});
    EXPECT_TRUE(sim::Journal::hasShell("date \"2026-12-7 9:5:3\";hwclock -wu"));

    // A length that runs past the mailbox is not stored; the schedule itself is still read.
    mailbox({0xAA, 0x02, 0xAA, 0, 0, 0, 0xF9, 0x03, 1, 0x10, 0x00, 0x11, 0x00});
    EXPECT_EQ(manager->onoff_count, 1);
    EXPECT_EQ(flash(0x30E000, 1)[0], 0xFF);
}
