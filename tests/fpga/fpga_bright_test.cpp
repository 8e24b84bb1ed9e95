// Brightness by hand, by half-hour table and from the light sensor, the on/off schedule and
// the PC's command mailbox, against the simulated FPGA, its flash and a function card.
#include "board/sim/PowerCut.h"
#include "core/utils.h"
#include "tests/fpga/bringup_fixture.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <cstring>
#include <iostream>
#include <map>
#include <set>
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

    // A PC percentage waiting for its apply is not overwritten by the table value (the block
    // following each mode's values: the schedule check below).
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
}

TEST_F(FpgaBright, TheLightSensorLeadsTheBrightnessStepByStep)
{
    sim::ReceivingCardModel::setFunctionCard(0, 1, true);
    sim::FunctionCardModel::setLightSensor(0, 1, true, 30);
    fpga_manage::MCU_RAM_PARA_func[0][106] = 1;
    mailbox({0xAA, 0x03, 0xAA, 0, 0, 0, 1, 0, 2});
    manager->Extension_function();   // reload: automatic mode, its first read (its steps: the schedule check below)
    EXPECT_EQ(g_change[fpga_manage::CHG_VMF_ADDRESS], 0x5000u);
    std::vector<std::vector<uint8_t>> reads;   // the sensor reads among the brightness the cards are sent
    for (auto& p : sim::ReceivingCardModel::packets(0, 1))
        if (p.size() > 5 && p[5] == 0xBB)
            reads.push_back(p);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], (std::vector<uint8_t>{0x00, 0x50, 0x00, 0xF0, 0x10, 0xBB, 0x03, 0x00, 0x00, 0x61, 0x00,
                                                    0x00, 0x00, 0x02, 0x80, 0x00, 0x00, 0x00, 0xEB}));

    // A sensor that stops answering: after ten misses full brightness.
    sim::ReceivingCardModel::setFault(0, 1, sim::ReceivingCardModel::Fault::Silent);
    for (int i = 0; i < 10; ++i) {
        EXPECT_NE(FpgaModel::reg(0, 6), 255) << i;
        G_timeTicks += 200;
        manager->Extension_function();
    }
    EXPECT_EQ(FpgaModel::reg(0, 6), 255);
    // An answer that lacks a sensor byte (127 of 128), another command or a status other than 0
    // counts one error in register 85 each and moves nothing.
    for (const auto& [n, command, status] : {std::tuple<int, uint8_t, uint8_t>{127, 0x61, 0}, {128, 0xA0, 0}, {128, 0x61, 1}}) {
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

// Over drawn schedules (up to 7 entries asked, 4 kept; stored, cut short or not, sent again or
// edited, read back at restarts) and brightness modes (hand on either scale, half-hour table of
// mode 1 or 17, sensor, none; each after any other, hand commands between), with clock moves,
// passes with a PC talking or the FPGA not ready, and a card job running through switches: every
// write to the screen's on/off (register 0 bit 2, the dark word at each change signal) and its
// brightness (register 6) is what the schedule, the table or the sensor call for then, and after
// each pass the FPGA is ready for the screen stands so. Schedule: the latest switch at or before
// the minute, else the day's last; of one minute dark after lit; 25:01 never switches; only a
// switch fallen due, a new schedule or the clock set back switches, once, re-arming the power
// control. Brightness (16, 17, 2 raw; 0, 1 as 16 x v - 1): the hand value, the table's half hour
// once a second, the sensor a step per read from what is shown. A PC's flag drops 80 ticks on.
TEST_F(FpgaBright, EveryWriteToTheScreenFollowsTheScheduleTableAndSensor)
{
    enum { kClock, kSameSchedule, kNewSchedule, kBright, kHand, kSuggest, kJob, kRestart, kToSwitch = 99999 };
    struct Move { int what, minutes; bool pc; int ready, passes, ticks; };
    // Drawn over the whole range at every case, not growing with RapidCheck's size.
    const auto in = [](int low, int high) { return rc::gen::resize(rc::kNominalSize, rc::gen::inRange(low, high)); };
    const auto minuteGen = rc::gen::weightedOneOf<int>({{6, in(0, 1440)}, {1, rc::gen::element(0, 1439, 1501)}});
    const auto byteGen = rc::gen::weightedOneOf<uint8_t>({{6, rc::gen::arbitrary<uint8_t>()}, {1, rc::gen::element<uint8_t>(0, 1, 5, 16)}});
    const auto fpgaOf = [](int v, int mode) { return mode == 16 || mode == 17 || mode == 2 ? v : (v * 16 - 1) & 0xFF; };
    const auto hand = [](int mode) { return mode == 0 || mode == 16; };
    const auto halfHours = [](int mode) { return mode == 1 || mode == 17; };
    sim::ReceivingCardModel::setFunctionCard(0, 1, true);
    fpga_manage::MCU_RAM_PARA_func[0][106] = 1;
    std::vector<int> toggles;   // the dark word at each change signal the panel takes
    QObject::connect(para, &KelRamPara::sig_update_para, [&](int code) { if (code == 1) toggles.push_back(para->ram16(KelRamPara::kScreenDark)); });
    std::map<std::string, int> spread;
    kel_test::checkProperty("every write to the screen follows the schedule, the table and the sensor", [&] {
        std::vector<std::pair<int, int>> kept, stored;   // lit and dark minute of the day
        std::vector<uint8_t> schedule, storedSchedule, table(48, 0);
        const auto drawSchedule = [&] {
            const int asked = *in(0, 8);
            schedule = {0xAA, 0x02, *rc::gen::weightedElement<uint8_t>({{3, 0xAA}, {1, 0x00}}), 0, 0, 0, uint8_t(1 + 4 * std::min(asked, 5)), 0, uint8_t(asked)};
            kept.clear();
            for (int i = 0; i < std::min(asked, 5); ++i) {
                const int on = *minuteGen, off = *rc::gen::weightedOneOf<int>({{4, minuteGen}, {1, rc::gen::just(on)}});
                for (int m : {on, off})
                    schedule.insert(schedule.end(), {uint8_t(m / 600 * 16 + m / 60 % 10), uint8_t(m % 60 / 10 * 16 + m % 10)});
                if (i < 4)
                    kept.emplace_back(on, off);
            }
        };
        const auto scheduled = [&kept](int minute) {   // 1 dark, 0 lit, -1 no switch
            int latest = -1, last = -1;
            for (const auto& [on, off] : kept)
                for (int key : {2 * on, 2 * off + 1})
                    if (key < 2 * 1440)
                        last = std::max(last, key), latest = key / 2 <= minute ? std::max(latest, key) : latest;
            return latest >= 0 ? latest & 1 : last >= 0 ? last & 1 : -1;
        };
        // The running brightness mode (-1 none), its hand value, the sensor; a hand command since
        // the mode was taken up; a restart's reload to come (1) or its mode's first run (2).
        int mode = -1, value = 0, suggested = *byteGen, reload = 0;
        bool valid = true, handSince = false;
        const auto drawBright = [&] {
            const uint8_t m = *rc::gen::weightedElement<uint8_t>({{2, 0}, {2, 16}, {2, 1}, {2, 17}, {3, 2}, {1, 255}});   // 255: erased
            std::vector<uint8_t> b = {0xAA, 0x03, uint8_t(m == 255 ? 0x55 : 0xAA), 0, 0, 0, 1, 0, uint8_t(m == 255 ? 1 : m)};
            for (int i = 0; i < (halfHours(m) ? 48 : hand(m) ? 1 : 0); ++i)
                b.push_back(*byteGen);
            b[6] = uint8_t(b.size() - 8);
            table = halfHours(m) ? std::vector<uint8_t>(b.begin() + 9, b.end()) : table;
            mode = m == 255 ? -1 : m, value = hand(m) ? fpgaOf(b[9], m) : value, handSince = false;
            return b;
        };
        // Each case begins as a start: the screen shows the block's brightness.
        for (int w = fpga_manage::CHG_VMF_GROUP; w <= fpga_manage::CHG_BRI_MISS; ++w)
            g_change[w] = 0;
        FpgaModel::setReg(0, 0, 0), FpgaModel::setReg(0, 6, uint8_t(std::min<int>(para->ram16(KelRamPara::kBrightness), 100) * 255 / 100));
        fpga_manage::MCU_REG_func[0][0] = 0;
        KelRamPara::put16(para->ram + KelRamPara::kScreenDark, 0);
        sim::FunctionCardModel::setLightSensor(0, 1, valid, uint8_t(suggested));
        clockAt(0, 0, 20);
        std::time_t now = sim::SimBoard::fixedWallTime() - 3 * 86400 + *in(0, 1440) * 60;
        std::tm at{};
        localtime_r(&now, &at);
        sim::SimBoard::fixWallTime(now);
        // Every write of an action at a minute (handed: a hand command's value); true: switched.
        const auto observe = [&](const std::function<void()>& act, int minute, int handed) {
            const int want = scheduled(minute), start6 = FpgaModel::reg(0, 6);
            int shown = (FpgaModel::reg(0, 0) >> 2) & 1, shown6 = FpgaModel::reg(0, 6), cur = para->ram16(KelRamPara::kScreenDark), changes = 0, flips = 0;
            FpgaModel::clearLog();
            toggles.clear();
            manager->power_armed = 0;
            act();
            for (const auto& op : FpgaModel::log(0)) {
                const int w = op.data.empty() ? -1 : op.data[0], step = suggested > shown6 ? 1 : -1;
                if (op.kind == FpgaModel::OpKind::RegisterWrite && op.reg == 0 && (op.mask & 0x04)) {
                    RC_ASSERT((w >> 2 & 1) == shown || (w >> 2 & 1) == want);
                    changes += (w >> 2 & 1) != shown, shown = w >> 2 & 1;
                } else if (op.kind == FpgaModel::OpKind::RegisterWrite && op.reg == 6 && w != shown6) {
                    RC_ASSERT(w == handed || (handed < 0 && ((hand(mode) && w == value) || (halfHours(mode) && w == fpgaOf(table[size_t(minute / 30)], mode)) ||
                                                             (mode == 2 && valid && w == shown6 + step))));
                    shown6 = w;
                }
            }
            const int p = para->ram16(KelRamPara::kBrightness);   // the block follows the brightness shown: the nearest percentage
            RC_ASSERT(shown6 == FpgaModel::reg(0, 6) && (shown6 == start6 || std::abs(shown6 * 100 - p * 255) * 2 <= 255 || std::min(p, 100) * 255 / 100 == shown6));
            toggles.push_back(para->ram16(KelRamPara::kScreenDark));
            for (const int t : toggles) {
                RC_ASSERT(t == cur || t == want);
                flips += t != cur, cur = t;
            }
            RC_ASSERT(flips <= 1 && changes <= 1 && manager->power_armed == (changes > 0));
            return changes > 0;
        };
        const std::vector<uint8_t> first = drawBright();
        observe([&] { mailbox(first); }, 0, hand(mode) ? value : -1);
        drawSchedule();
        schedule[2] = 0xAA, stored = kept, storedSchedule = schedule;
        mailbox(schedule);
        RC_ASSERT(manager->reg_shadow(66, 0) == 1 && flash(0x30E000, uint32_t(schedule.size())) == schedule);
        std::set<std::string> seen;
        uint32_t lastPc = 0;
        bool pcSeen = false;
        pc_cmd_valid = 0;
        g_send_para.post(uint8_t(*rc::gen::element(0, 7)));   // 7, a code of no job: the idle work too
        for (const Move& m : *rc::gen::container<std::vector<Move>>(rc::gen::construct<Move>(
                 rc::gen::weightedElement<int>({{8, kClock}, {1, kSameSchedule}, {1, kNewSchedule}, {2, kBright}, {1, kHand}, {1, kSuggest}, {1, kJob}, {1, kRestart}}),
                 rc::gen::weightedOneOf<int>({{4, in(0, 4)}, {3, in(1, 600)}, {2, in(-60, 0)}, {2, in(-1500, -60)}, {1, in(1440, 5760)}, {3, rc::gen::just(int(kToSwitch))}}),
                 rc::gen::arbitrary<bool>(), rc::gen::weightedElement<int>({{4, 1}, {1, 0}}), in(1, 4),
                 rc::gen::weightedOneOf<int>({{4, in(1, 200)}, {1, rc::gen::element(80, 81, 200)}, {2, in(1000, 1200)}})))) {
            const int minuteBefore = at.tm_hour * 60 + at.tm_min, dayBefore = at.tm_mday;
            if (m.what == kSameSchedule || m.what == kNewSchedule) {
                if (m.what == kNewSchedule)
                    drawSchedule();
                // A power cut at a flash step of its store, tearing a program after any of its bytes,
                // leaves the old block or none or the whole new one: the valid mark goes in last.
                const int cut = *rc::gen::weightedOneOf<int>({{3, rc::gen::just(-1)}, {1, in(0, 3)}});
                sim::SimBoard::setScenario("fpga.flash.torn_bytes", std::to_string(*in(0, int(schedule.size()) + 1)));
                sim::PowerCut::after(cut < 0 ? 1000 : uint64_t(cut));
                seen.insert(std::string(m.what == kSameSchedule ? "the schedule sent again" : "an edited schedule") + (cut >= 0 ? ", cut" : ""));
                observe([&] { mailbox(schedule); }, minuteBefore, -1);
                sim::PowerCut::restore();
                const bool whole = flash(0x30E000, uint32_t(schedule.size())) == schedule, old = flash(0x30E000, uint32_t(storedSchedule.size())) == storedSchedule;
                RC_ASSERT(schedule[2] != 0xAA || whole || old || flash(0x30E000, 1)[0] == 0xFF);
                if (schedule[2] == 0xAA)
                    stored = whole ? kept : old ? stored : std::vector<std::pair<int, int>>{},
                    storedSchedule = whole ? schedule : old ? storedSchedule : std::vector<uint8_t>{0xAA, 0x02, 0xAA, 0, 0, 0, 1, 0, 0};
            } else if (m.what == kBright) {
                const int before = mode;
                const std::vector<uint8_t> b = drawBright();
                seen.insert("mode " + std::to_string(mode) + " after " + std::to_string(before));
                observe([&] { mailbox(b); }, minuteBefore, hand(mode) ? value : -1);
            } else if (m.what == kHand) {
                const uint8_t scale = *rc::gen::element<uint8_t>(0, 16), v = *byteGen;
                handSince = true, reload = reload == 2 ? 0 : reload, seen.insert("a hand command");   // overrides a reload done
                observe([&] { mailbox({0xAA, 0x03, 0x00, 0, 0, 0, 2, 0, scale, v}); }, minuteBefore, fpgaOf(v, scale));
            } else if (m.what == kSuggest) {
                valid = *rc::gen::weightedElement<bool>({{4, true}, {1, false}});
                sim::FunctionCardModel::setLightSensor(0, 1, valid, uint8_t(suggested = *byteGen));
            } else if (m.what == kJob && g_send_para.job == 0) {
                line_type = LINE_TYPE{64, 32, 0, 0, 2, 2, 5, 10};   // port 2: ten cards that never answer, 12 s each
                sim::ReceivingCardModel::setCards(0, 2, 10);
                setShadowCards(2, 10);
                sim::ReceivingCardModel::setFault(0, 2, sim::ReceivingCardModel::Fault::Silent);
                g_send_para.post(1);
            } else if (m.what == kRestart) {
                kept = stored, schedule = storedSchedule, reload = 1, seen.insert("a restart in mode " + std::to_string(mode));
                // A fresh process (nothing held in register 64's shadow), whose start loads the block and
                // at the bring-up's end shows the mode's value; in sensor mode the block's brightness (the
                // screen held it too), stepped on from.
                const int shown = std::min<int>(para->ram16(KelRamPara::kBrightness), 100) * 255 / 100;
                for (int w = fpga_manage::CHG_VMF_GROUP; w <= fpga_manage::CHG_BRI_MISS && mode >= 0; ++w)
                    g_change[w] = 0;
                if (mode >= 0) {
                    fpga_manage::MCU_REG_func[0][64] = 0;
                    manager->bri_mode = fpga_manage::kNoMode;
                    const int first = hand(mode) ? value : halfHours(mode) ? fpgaOf(table[size_t(minuteBefore / 30)], mode) : shown;
                    FpgaModel::setReg(0, 6, uint8_t(mode == 2 ? shown : FpgaModel::reg(0, 6)));
                    observe([&] { manager->record_bright_change(), manager->Brightness_hand_dealwith(); }, minuteBefore, first);
                }
                manager->onoff_count = 0, manager->record_onoff_time(2), manager->bri_reload = 1;
            }
            int minutes = m.minutes;
            if (minutes == kToSwitch) {   // on to the very minute of a kept switch
                std::vector<int> switches;
                for (const auto& [on, off] : kept)
                    for (int w : {on, off})
                        if (w < 1440)
                            switches.push_back((w - minuteBefore + 1439) % 1440 + 1);
                minutes = switches.empty() ? 1 : switches[size_t(*in(0, int(switches.size())))];
                seen.insert("the clock on to a switch's minute");
            }
            now += minutes * 60;
            sim::SimBoard::fixWallTime(now);
            localtime_r(&now, &at);
            const int minute = at.tm_hour * 60 + at.tm_min, want = scheduled(minute);
            fpga_manage::MCU_REG_func[0][0] = uint8_t((fpga_manage::MCU_REG_func[0][0] & ~0x08) | (m.ready ? 0 : 0x08));
            for (int i = 0; i < m.passes; ++i) {
                if (m.pc)
                    pc_cmd_valid = 1, pc_cmd_time = lastPc = G_timeTicks.load(), pcSeen = true;
                const int shown6 = FpgaModel::reg(0, 6), job = g_send_para.job;
                if (observe([&] { BringUpWorld::pass(*manager, uint32_t(m.ticks)); }, minute, -1) && job == 1)
                    seen.insert("switched while a card job ran");
                if (!m.ready)
                    continue;
                handSince = handSince && !(reload == 2 && m.ticks >= 1000);
                reload = reload == 1 ? 2 : reload == 2 && m.ticks >= 1000 ? 0 : reload;
                const int v = FpgaModel::reg(0, 6);
                RC_ASSERT(want < 0 || (((FpgaModel::reg(0, 0) >> 2) & 1) == want && para->ram16(KelRamPara::kScreenDark) == want));
                RC_ASSERT(!hand(mode) || handSince || v == value);
                RC_ASSERT(!halfHours(mode) || handSince || m.ticks < 1000 || v == fpgaOf(table[size_t(minute / 30)], mode));
                RC_ASSERT(mode != 2 || m.ticks < 200 || v == (valid ? shown6 + (suggested > shown6) - (suggested < shown6) : shown6));
                RC_ASSERT(job != 0 || int(pc_cmd_valid) == int(pcSeen && G_timeTicks - lastPc <= 80));
            }
            if (minutes < 0 && minutes > -minuteBefore)
                seen.insert("clock set back within the day");
            if (minutes > 0 && at.tm_mday == dayBefore && scheduled(minuteBefore) != want)
                seen.insert("clock on over a switch within the day");
            if (!m.ready && want != scheduled(minuteBefore))
                seen.insert("a switch fell due while the FPGA was not ready");
            seen.insert(at.tm_mday != dayBefore ? "another day" : "the same day");
        }
        mailbox({0xAA, 0x02, 0x55, 0, 0, 0, 1, 0, 0});
        RC_ASSERT(manager->reg_shadow(66, 0) == 0 && flash(0x30E000, 1)[0] == 0xFF);
        seen.insert(kept.empty() ? "no entry" : std::any_of(kept.begin(), kept.end(), [](auto& e) { return e.first == e.second || e.first > 1439 || e.second > 1439; })
                                                    ? "lit and dark the same minute, or no time of day" : "entries");
        for (const std::string& s : seen) {
            RC_CLASSIFY(true, s);
            ++spread[s];
        }
        g_send_para.end();
    }, {kel_test::underEmulation() ? 15 : 60, 30});
    for (const auto& [what, n] : spread)
        std::cout << "  " << what << ": " << n << " cases\n";
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
