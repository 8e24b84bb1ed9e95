// The running-time log in FPGA 0's configuration flash, read back the way it is laid out:
// its layout, its tally, and a power cut after every flash step of every operation.

#include "tests/fpga/fpga_fixture.h"

#include "board/sim/PowerCut.h"
#include "fpga/clock_record_run.h"
#include "tests/support/Emulation.h"

#include "tests/support/PropertyCheck.h"

#include <ctime>
#include <gtest/gtest-spi.h>
#include <functional>

using sim::FpgaFlashModel;
using V = std::vector<uint8_t>;

namespace {

constexpr uint32_t kLog = 0x14C000;            // log address X is flash address X - 0x14C000
constexpr uint32_t kA = 0x481000, kB = 0x482000, kSlots = 0x483000;
constexpr std::time_t kStart = 1718000000;     // a fixed wall time for the records

V flash(uint32_t logAddress, uint32_t length) { return FpgaFlashModel::read(0, logAddress - kLog, length); }
void put(uint32_t logAddress, const V& bytes) { FpgaFlashModel::write(0, logAddress - kLog, bytes); }
uint32_t le(const V& b, size_t at, int n = 4)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = v << 8 | b[at + size_t(i)];
    return v;
}

V bcdTime(std::time_t when)
{
    std::tm t{};
    localtime_r(&when, &t);
    auto bcd = [](int v) { return uint8_t((v / 10) << 4 | (v % 10)); };
    const int y = t.tm_year + 1900;
    return {bcd(y % 100), bcd(y / 100), bcd(t.tm_mon + 1), bcd(t.tm_mday), bcd(t.tm_hour), bcd(t.tm_min), bcd(t.tm_sec)};
}

// Minutes a record's tally holds: each unit (two minutes) clears one of bits 1, 3, 5 and 7 of
// its byte, in that order; the bytes fill from byte 48; 360 full bytes are a whole group.
uint32_t tallyMinutes(const V& rec)
{
    uint32_t units = 0;
    for (size_t at = 48; at < 48 + 360; ++at) {
        int cleared = 0;
        while (cleared < 4 && !(rec[at] & (2 << (2 * cleared))))
            ++cleared;
        units += uint32_t(cleared);
        if (cleared < 4)
            break;
    }
    return units == 1440 ? 2880 : 2 * units;
}

// Both record copies as read back: records in use, whether the copies agree (same records,
// same heads, tallies at most one unit apart), the last record's total with its tally and
// its sequence number.
struct Records {
    int usedA = 0, usedB = 0;
    bool agree = true;
    uint32_t total = 0, sequence = 0, minutes = 0;   // of the last record in use
};

Records records()
{
    Records r;
    const V a = flash(kA, 4096), b = flash(kB, 4096);
    while (r.usedA < 8 && a[512 * r.usedA] == 0xAA)
        ++r.usedA;
    while (r.usedB < 8 && b[512 * r.usedB] == 0xAA)
        ++r.usedB;
    r.agree = r.usedA == r.usedB;
    for (int i = 0; r.agree && i < r.usedA; ++i) {
        const V ra(a.begin() + 512 * i, a.begin() + 512 * (i + 1)), rb(b.begin() + 512 * i, b.begin() + 512 * (i + 1));
        r.agree = V(ra.begin(), ra.begin() + 16) == V(rb.begin(), rb.begin() + 16) &&
                  tallyMinutes(ra) <= tallyMinutes(rb) + 2 && tallyMinutes(rb) <= tallyMinutes(ra) + 2;
        r.minutes = tallyMinutes(ra);
        r.total = le(ra, 8) + r.minutes;
        r.sequence = le(ra, 13, 3);
    }
    return r;
}

class ClockRecord : public fpga_test::FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        // Instant flash, so that no busy poll moves the virtual clock and with it the wall
        // time that the records carry.
        for (const char* key : {"fpga.flash.program_us", "fpga.flash.erase4k_us"})
            sim::SimBoard::setScenario(key, "0");
        sim::SimBoard::fixWallTime(kStart);
        sim::SpiBusModel::setLogging(false);
    }

    void minutes(int n)
    {
        for (int m = 0; m < n; ++m) {
            G_timeTicks += 6001;
            log.clock_record_deal();
        }
    }

    // A start: the state in memory is gone, the flash stays.
    void start()
    {
        g_clock_record = CLOCK_RECORD{};
        log.clock_record_init();
    }

    // The open group's tally up to unit 1438 in both copies, as 1439 units would leave it.
    void fillGroup()
    {
        V tally(359, 0x55);
        tally.push_back(0xD5);
        for (uint32_t rec : {g_clock_record.record_a, g_clock_record.record_b})
            put(rec + 48, tally);
        g_clock_record.unit_count = 1439;
    }

    // A start after a cut of what began at `state`: the total read from a whole record, down by at most
    // the group in progress; the minutes in the slot; the sequence never back; copies agree.
    void restartAndCheck(const CLOCK_RECORD& state, uint32_t most)
    {
        start();
        Records r = records();
        EXPECT_EQ(flash(0x480000, 3), (V{0xAA, 0x5A, 0xA5}));
        EXPECT_TRUE(r.agree);
        EXPECT_EQ((std::vector<uint32_t>{g_clock_record.total, g_clock_record.sequence & 0xFFFFF}),
                  (std::vector<uint32_t>{r.total, r.usedA ? ((r.sequence & 0xFFFFF) + 1) % 15617 : 0}));
        EXPECT_TRUE(r.total >= state.total && r.total <= most) << r.total << " after " << state.total;
        EXPECT_GE(g_clock_record.sequence, state.sequence);
        const uint32_t count = r.sequence & 0xFFFFF;
        EXPECT_EQ(r.usedA ? le(flash(kSlots + 4096 * (count / 256) + 16 * (count % 256), 12), 8) : 0u, r.usedA ? r.minutes : 0u);
        const uint32_t total = g_clock_record.total, sequence = g_clock_record.sequence;
        minutes(30);
        r = records();
        EXPECT_TRUE(r.agree);
        EXPECT_EQ(V({uint8_t(total), uint8_t(total >> 8), uint8_t(total >> 16), uint8_t(total >> 24), 0xFF, uint8_t(sequence),
                     uint8_t(sequence >> 8), uint8_t(sequence >> 16)}),
                  flash(g_clock_record.record_a + 8, 8));
        EXPECT_EQ(r.total, total + 30);
    }

    // The operation from the state now on the flash and in memory, first whole to count its
    // flash steps, then with the supply cut after each step and a start checked after it.
    void walk(const char* name, const std::function<void()>& op, int opMinutes)
    {
        const V before = flash(0x480000, 0x41000);
        const CLOCK_RECORD state = g_clock_record;
        const uint32_t ticks = G_timeTicks;
        const uint32_t logged = state.total + (state.group_pending == 1 ? 0 : 2 * state.unit_count);
        const auto replay = [&](uint64_t cut) {
            put(0x480000, before);
            g_clock_record = state;
            G_timeTicks = ticks;
            sim::PowerCut::restore();
            sim::PowerCut::after(cut);
            op();
            const uint64_t steps = sim::PowerCut::steps();
            sim::PowerCut::restore();
            return steps;
        };
        const uint64_t steps = replay(UINT64_MAX), stride = kel_test::underEmulation() ? 4 : 1;
        for (uint64_t cut = 0; cut <= steps; cut = cut < steps && cut + stride > steps ? steps : cut + stride) {
            SCOPED_TRACE(std::string(name) + ", supply cut after step " + std::to_string(cut) + " of " + std::to_string(steps));
            replay(cut);
            restartAndCheck(state, logged + uint32_t(opMinutes) + 30);
        }
        replay(UINT64_MAX);                       // leaves what the whole operation leaves
    }

    clock_record_run log;
};

} // namespace

TEST_F(ClockRecord, ABlankFlashGetsItsHeaderAndTheFirstGroupOpensAfter30MinutesLaidOutAsStored)
{
    start();
    EXPECT_EQ(flash(0x480000, 3), (V{0xAA, 0x5A, 0xA5}));
    EXPECT_EQ((V{g_clock_record.running, g_clock_record.group_pending, g_clock_record.record_index}), (V{1, 1, 0}));
    G_timeTicks += 6000;                          // a minute needs more than 6000 ticks
    log.clock_record_deal();
    EXPECT_EQ(g_clock_record.minutes_since_start, 0u);
    minutes(29);
    EXPECT_EQ(flash(kA, 1)[0], 0xFF);             // still waiting for minute 30
    minutes(1);
    const V time = bcdTime(kStart);
    for (uint32_t copy : {kA, kB}) {
        const V rec = flash(copy, 53);
        const auto at = [&rec](long from, long to) { return V(rec.begin() + from, rec.begin() + to); };
        EXPECT_EQ((std::vector<V>{at(0, 8), at(8, 16), at(33, 40), at(48, 53)}),
                  (std::vector<V>{{0xAA, time[0], time[1], time[2], time[3], time[4], time[5], time[6]}, {0, 0, 0, 0, 0xFF, 0, 0, 0}, time, {0x55, 0x55, 0x55, 0xD5, 0xFF}}));
    }
    // The slot: marker and start time, then the minutes at the close still blank.
    EXPECT_EQ(flash(kSlots, 16), (V{0xAA, time[0], time[1], time[2], time[3], time[4], time[5], time[6], 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}));
    minutes(4);                                   // units 15 and 16
    EXPECT_EQ((std::vector<V>{flash(kA + 51, 3), flash(kB + 51, 3)}), (std::vector<V>{{0x55, 0xFD, 0xFF}, {0x55, 0xFD, 0xFF}}));

    // A clock set marks the slot once the group is open; before minute 30 only the record.
    log.dealwith_record_timing();
    EXPECT_EQ((V{flash(kSlots + 12, 1)[0], flash(kA + 44, 1)[0]}), (V{0x5A, 0x5A}));
    start();
    minutes(10);
    log.dealwith_record_timing();
    EXPECT_EQ((V{flash(kA + 512 + 44, 1)[0], flash(kSlots + 16 + 12, 1)[0]}), (V{0x5A, 0xFF}));
    minutes(20);
    EXPECT_EQ((V{flash(kB + 512 + 44, 1)[0], flash(kSlots + 16 + 12, 1)[0]}), (V{0x5A, 0x5A}));
}

TEST_F(ClockRecord, DrawnRunsOfMinutesClockSetsStartsAndCutsNeverLoseTheTotal)
{
    // Steps: minutes to run (after filling the group to its last unit, at times), a clock set first or
    // not, the supply failing after some flash steps (if it gets that far) or off at its end.
    using Step = std::tuple<unsigned, bool, bool, unsigned>;
    kel_test::checkProperty("drawn runs of the running-time log", [&](const std::vector<Step>& run) {
        ::testing::TestPartResultArray failures;
        {
            ::testing::ScopedFakeTestPartResultReporter collect(&failures);
            FpgaFlashModel::erase(0);
            start();
            for (const auto& [minutesToRun, fill, clockSet, cut] : run) {
                const CLOCK_RECORD state = g_clock_record;
                if (fill && state.group_pending != 1)
                    fillGroup();
                sim::PowerCut::after(cut % 80);
                if (clockSet)
                    log.dealwith_record_timing();
                minutes(int(minutesToRun % 40));
                const bool off = sim::PowerCut::cut() || minutesToRun % 7 == 0;
                sim::PowerCut::restore();
                if (off)
                    restartAndCheck(state, state.total + 2880 + 40 + 30);
            }
        }
        if (failures.size() > 0)
            RC_FAIL(failures.GetTestPartResult(0).message());
    }, {kel_test::underEmulation() ? 10 : 40, 20});
}

TEST_F(ClockRecord, EveryOperationKeepsTheTotalAndTheSequenceThroughAPowerCutAtEachFlashStep)
{
    walk("first start on a blank flash", [&] { start(); }, 0);
    walk("the first group opens", [&] { minutes(32); }, 32);
    walk("a start after a partial group", [&] { start(); }, 0);
    put(kA, V(4096, 0xFF));                       // copy A erased, as a cut in a clock set leaves it
    walk("a start repairs the erased copy from the other", [&] { start(); }, 0);
    walk("clock set while the first group waits", [&] { log.dealwith_record_timing(); minutes(30); }, 30);
    walk("clock set in an open group", [&] { log.dealwith_record_timing(); }, 0);
    fillGroup();
    minutes(2);                                   // unit 1439: the group is not full yet
    EXPECT_EQ((V{g_clock_record.record_index, flash(kA + 512 + 408, 1)[0]}), (V{1, 0xFF}));
    walk("a full group closes and the next opens", [&] { minutes(4); }, 4);
    // Unit 1440 closed it: 1441 units, recorded as 2880 minutes; unit 0 of the next.
    EXPECT_EQ((V{g_clock_record.record_index, flash(kA + 512 + 408, 1)[0], flash(kB + 1024 + 48, 1)[0]}),
              (V{2, 0xFD, 0xFD}));
    EXPECT_EQ(le(flash(kSlots + 16, 16), 8), 2880u);
    walk("clock set just after a close", [&] { log.dealwith_record_timing(); minutes(2); }, 2);
    for (int round = 0; round < 2; ++round) {
        while (g_clock_record.record_index < 7) {
            fillGroup();
            minutes(4);
        }
        if (round == 0) {
            start();                              // eight records in use
            EXPECT_EQ(g_clock_record.record_index, 8);
            walk("clock set while the group waits, then the power goes", [&] { log.dealwith_record_timing(); }, 0);
            walk("a start with eight records opens its group in record 0", [&] { minutes(32); }, 32);
        }
    }
    fillGroup();
    walk("the eighth group closes and the record area wraps", [&] { minutes(4); }, 4);
    // The sequence slot sectors turn after count 255 and wrap after 15616.
    for (uint32_t sequence : {255u, (3u << 20) | 15616u}) {
        FpgaFlashModel::erase(0);
        put(0x480000, {0xAA, 0x5A, 0xA5});
        put(0x484000, V(16, 0));
        for (uint32_t copy : {kA, kB}) {
            put(copy, {0xAA, 0x24, 0x20, 0x06, 0x10, 0x12, 0, 0, 0x40, 0, 0, 0, 0xFF, uint8_t(sequence),
                       uint8_t(sequence >> 8), uint8_t(sequence >> 16)});
            put(copy + 48, {0x55, 0xFD});
        }
        g_clock_record = CLOCK_RECORD{};
        g_clock_record.total = 0x40, g_clock_record.sequence = sequence, g_clock_record.unit_count = 5;
        walk("the sequence slot area turns", [&] { start(); minutes(32); }, 32);
        const V slot = flash(sequence == 255 ? 0x484000 : kSlots, 16);
        EXPECT_EQ(V(slot.begin() + 12, slot.end()), (sequence == 255 ? V{0xFF, 0, 1, 0} : V{0xFF, 0, 0, 0x40}));
        EXPECT_EQ(flash(0x484000, 1)[0], sequence == 255 ? 0xAA : 0);
    }
}
