// The running-time log in FPGA 0's configuration flash: a blank flash, a restart, group
// records and sequence slots, the clock-set mark, with a fixed wall clock.

#include "tests/fpga/fpga_fixture.h"

#include "fpga/clock_record_run.h"

#include <ctime>

using fpga_test::FpgaFixture;
using sim::FpgaFlashModel;

namespace {

constexpr uint32_t kLog = 0x14C000;            // log address X is flash address X - 0x14C000
constexpr std::time_t kStart = 1718000000;     // a fixed wall time for the records

std::vector<uint8_t> flash(uint32_t logAddress, uint32_t length)
{
    return FpgaFlashModel::read(0, logAddress - kLog, length);
}

uint8_t bcd(int v) { return uint8_t((v / 10) << 4 | (v % 10)); }

std::vector<uint8_t> bcdTime(std::time_t when)
{
    std::tm t{};
    localtime_r(&when, &t);
    const int y = t.tm_year + 1900;
    return {bcd(y % 100), bcd(y / 100), bcd(t.tm_mon + 1), bcd(t.tm_mday), bcd(t.tm_hour), bcd(t.tm_min),
            bcd(t.tm_sec)};
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

class ClockRecord : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        // Instant flash, so that no busy poll moves the virtual clock and with it the
        // wall time that the records carry.
        for (const char* key : {"fpga.flash.program_us", "fpga.flash.erase4k_us"})
            sim::SimBoard::setScenario(key, "0");
        sim::SimBoard::fixWallTime(kStart);
    }

    // One call of the logging step a minute (6001 ticks) later.
    void minute(clock_record_run& log)
    {
        G_timeTicks += 6001;
        log.clock_record_deal();
    }

    // A restart: the state in memory is gone, the flash (and its file) stays.
    void restart()
    {
        g_clock_record = CLOCK_RECORD{};
        FpgaFlashModel::reload();
    }
};

} // namespace

TEST_F(ClockRecord, BlankFlashGetsItsHeaderAndTheFirstGroupAfter30Minutes)
{
    clock_record_run log;
    log.clock_record_init();
    EXPECT_EQ(flash(0x480000, 3), (std::vector<uint8_t>{0xAA, 0x5A, 0xA5}));
    // Four single 4 KiB erases: the mark's sector, both record copies, the first slot sector.
    std::vector<uint32_t> erased;
    for (auto& r : sim::SpiBusModel::log())
        if (r.chipSelect == 3 && r.tx.size() == 4 && r.tx[0] == 0x20)
            erased.push_back(uint32_t(r.tx[1]) << 16 | uint32_t(r.tx[2]) << 8 | r.tx[3]);
    EXPECT_EQ(erased, (std::vector<uint32_t>{0x334000, 0x335000, 0x336000, 0x337000}));
    EXPECT_EQ(g_clock_record.running, 1);
    EXPECT_EQ(g_clock_record.group_pending, 1);
    EXPECT_EQ(g_clock_record.record_index, 0);
    EXPECT_EQ(g_clock_record.slot, 0x483000u);
    EXPECT_EQ(std::vector<uint8_t>(g_clock_record.time, g_clock_record.time + 7), bcdTime(kStart));

    // A minute needs more than 6000 ticks.
    G_timeTicks += 6000;
    log.clock_record_deal();
    EXPECT_EQ(g_clock_record.minutes_since_start, 0u);

    for (int m = 1; m < 30; ++m)
        minute(log);
    EXPECT_EQ(g_clock_record.minutes_since_start, 29u);
    EXPECT_EQ(flash(0x481000, 1)[0], 0xFF);        // still waiting for minute 30
    minute(log);

    for (uint32_t copy : {0x481000u, 0x482000u}) {
        SCOPED_TRACE(copy);
        auto rec = flash(copy, 512);
        EXPECT_EQ(rec[0], 0xAA);
        EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 1, rec.begin() + 8), bcdTime(kStart));
        EXPECT_EQ(le32(rec, 8), 0u);
        EXPECT_EQ(rec[12], 0xFF);
        EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 13, rec.begin() + 16), (std::vector<uint8_t>{0, 0, 0}));
        EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 33, rec.begin() + 40), bcdTime(kStart));
        EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 48, rec.begin() + 53),
                  (std::vector<uint8_t>{0x55, 0x55, 0x55, 0xD5, 0xFF}));
    }
    auto slot = flash(0x483000, 16);
    EXPECT_EQ(slot[0], 0xAA);
    EXPECT_EQ(std::vector<uint8_t>(slot.begin() + 1, slot.begin() + 8), bcdTime(kStart));
    EXPECT_EQ(le32(slot, 8), 0xFFFFFFFFu);         // written when the group is closed
    EXPECT_EQ(std::vector<uint8_t>(slot.begin() + 13, slot.begin() + 16), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(g_clock_record.unit_count, 15u);
    EXPECT_EQ(g_clock_record.group_pending, 0);

    // Two more minutes: unit 15 completes the fourth tally byte.
    minute(log);
    EXPECT_EQ(flash(0x481000 + 51, 2), (std::vector<uint8_t>{0xD5, 0xFF}));
    minute(log);
    EXPECT_EQ(flash(0x481000 + 51, 2), (std::vector<uint8_t>{0x55, 0xFF}));
    EXPECT_EQ(flash(0x482000 + 51, 1)[0], 0x55);
    EXPECT_EQ(g_clock_record.unit_count, 16u);
}

TEST_F(ClockRecord, ARestartClosesTheLastGroupFromItsTally)
{
    {
        clock_record_run log;
        log.clock_record_init();
        for (int m = 0; m < 36; ++m)             // 30 minutes, then 3 more units
            minute(log);
    }
    restart();
    sim::SimBoard::fixWallTime(kStart + 86400);
    clock_record_run log;
    log.clock_record_init();
    // 18 units counted: 4 bytes of 0x55 and 0xF5 = 4 x 8 + 4 = 36 minutes.
    EXPECT_EQ(g_clock_record.total, 36u);
    EXPECT_EQ(g_clock_record.sequence, 1u);
    EXPECT_EQ(g_clock_record.record_index, 1);
    EXPECT_EQ(g_clock_record.slot, 0x483010u);
    EXPECT_EQ(le32(flash(0x483000, 16), 8), 36u);
    EXPECT_EQ(std::vector<uint8_t>(g_clock_record.time, g_clock_record.time + 7), bcdTime(kStart + 86400));

    for (int m = 0; m < 30; ++m)
        minute(log);
    auto rec = flash(0x481200, 512);             // record 1
    EXPECT_EQ(rec[0], 0xAA);
    EXPECT_EQ(le32(rec, 8), 36u);
    EXPECT_EQ(rec[13], 1);
    EXPECT_EQ(flash(0x483010, 1)[0], 0xAA);
    EXPECT_EQ(flash(0x483010 + 13, 1)[0], 1);
}

TEST_F(ClockRecord, TallyOfThreeFullBytesAndF5Counts28Minutes)
{
    clock_record_run log;
    log.clock_record_init();
    FpgaFlashModel::write(0, 0x481000 - kLog, {0xAA});
    FpgaFlashModel::write(0, 0x481000 - kLog + 8, {100, 0, 0, 0, 0xFF, 0x07, 0, 0});
    FpgaFlashModel::write(0, 0x481000 - kLog + 48, {0x55, 0x55, 0x55, 0xF5});
    log.get_last_record_info(0);
    EXPECT_EQ(g_clock_record.total, 128u);
    EXPECT_EQ(g_clock_record.sequence, 8u);
    EXPECT_EQ(le32(flash(0x483000 + 7 * 16, 16), 8), 28u);

    // A full tally counts as the whole group.
    FpgaFlashModel::write(0, 0x481200 - kLog, {0xAA});
    FpgaFlashModel::write(0, 0x481200 - kLog + 8, {0, 0, 0, 0, 0xFF, 0x08, 0, 0});
    FpgaFlashModel::write(0, 0x481200 - kLog + 48, std::vector<uint8_t>(360, 0x55));
    log.get_last_record_info(1);
    EXPECT_EQ(g_clock_record.total, 2880u);
}

TEST_F(ClockRecord, AFullGroupIsClosedAndTheNextOpensAtOnce)
{
    clock_record_run log;
    log.clock_record_init();
    for (int m = 0; m < 30; ++m)
        minute(log);
    g_clock_record.unit_count = 1440;            // the last unit of the group is next
    sim::SimBoard::fixWallTime(kStart + 7200);
    minute(log);
    minute(log);
    EXPECT_EQ(flash(0x481000 + 408, 1)[0], 0xFD);
    EXPECT_EQ(le32(flash(0x483000, 16), 8), 2880u);
    EXPECT_EQ(g_clock_record.record_index, 1);
    EXPECT_EQ(g_clock_record.total, 2880u);
    EXPECT_EQ(g_clock_record.sequence, 1u);
    EXPECT_EQ(g_clock_record.unit_count, 0u);
    auto rec = flash(0x481200, 16);
    EXPECT_EQ(rec[0], 0xAA);
    EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 1, rec.begin() + 8), bcdTime(kStart + 7200));
    EXPECT_EQ(le32(rec, 8), 2880u);
    EXPECT_EQ(flash(0x482200, 1)[0], 0xAA);
    // The next group tallies from unit 0 at once.
    minute(log);
    minute(log);
    EXPECT_EQ(flash(0x481200 + 48, 1)[0], 0xFD);
}

TEST_F(ClockRecord, EightUsedRecordsWrapToRecordZeroAfterErasingBothCopies)
{
    for (uint32_t i = 0; i < 8; ++i) {
        for (uint32_t copy : {0x481000u, 0x482000u}) {
            FpgaFlashModel::write(0, copy - kLog + 512 * i, {0xAA, 0x24, 0x20, 0x01, 0x01, 0, 0, 0});
            FpgaFlashModel::write(0, copy - kLog + 512 * i + 8, {uint8_t(i), 0x56, 0x34, 0x12, 0xFF, uint8_t(i), 0, 0});
        }
    }
    FpgaFlashModel::write(0, 0x480000 - kLog, {0xAA, 0x5A, 0xA5});
    clock_record_run log;
    log.clock_record_init();
    EXPECT_EQ(g_clock_record.record_index, 8);
    EXPECT_EQ(g_clock_record.total, 0x12345607u);   // record 7's total, no units tallied
    EXPECT_EQ(g_clock_record.sequence, 8u);
    for (int m = 0; m < 30; ++m)
        minute(log);
    EXPECT_EQ(g_clock_record.record_index, 0);
    auto a = flash(0x481000, 1024);
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + 8, a.begin() + 14),
              (std::vector<uint8_t>{7, 0x56, 0x34, 0x12, 0xFF, 8}));   // total, 0xFF, sequence
    EXPECT_EQ(a[0], 0xAA);
    EXPECT_EQ(a[512], 0xFF);                     // record 1 erased with the sector
    auto b = flash(0x482000, 1024);
    EXPECT_EQ(b[0], 0xAA);
    EXPECT_EQ(b[13], 8);
    EXPECT_EQ(b[512], 0xFF);
}

TEST_F(ClockRecord, SlotCount255MovingTo256ErasesTheNextSlotSector)
{
    clock_record_run log;
    log.clock_record_init();
    FpgaFlashModel::write(0, 0x484000 - kLog, std::vector<uint8_t>(64, 0x00));
    const uint32_t next = log.get_new_seq(40, (3u << 20) | 255);
    EXPECT_EQ(next, (3u << 20) | 256);
    EXPECT_EQ(flash(0x484000, 64), std::vector<uint8_t>(64, 0xFF));
    EXPECT_EQ(g_clock_record.slot, 0x484000u);
    EXPECT_EQ(g_clock_record.slot_page, 1);
    EXPECT_EQ(le32(flash(0x483000 + 255 * 16, 16), 8), 40u);

    // The last count wraps the area and counts the wrap in bits 20-23.
    const uint32_t wrapped = log.get_new_seq(2880, (3u << 20) | 15616);
    EXPECT_EQ(wrapped, 4u << 20);
    EXPECT_EQ(g_clock_record.slot, 0x483000u);
    EXPECT_EQ(g_clock_record.slot_page, 0);
}

TEST_F(ClockRecord, AClockSetBeforeMinute30MarksTheRecordNotTheSlot)
{
    clock_record_run log;
    // Before the log runs the PC's mark is only kept, nothing is written.
    log.dealwith_record_timing();
    EXPECT_EQ(g_clock_record.clock_set_mark, 0x5A);
    EXPECT_EQ(FpgaFlashModel::programCount(0), 0u);
    log.clock_record_init();
    for (int m = 0; m < 10; ++m)
        minute(log);
    log.dealwith_record_timing();
    EXPECT_EQ(flash(0x481000 + 44, 1)[0], 0x5A);
    EXPECT_EQ(flash(0x483000 + 12, 1)[0], 0xFF);
    for (int m = 0; m < 20; ++m)
        minute(log);
    // The group opens with the mark taken from the record.
    EXPECT_EQ(g_clock_record.clock_set_mark, 0x5A);
    EXPECT_EQ(flash(0x482000 + 44, 1)[0], 0x5A);
    EXPECT_EQ(flash(0x483000 + 12, 1)[0], 0x5A);

    // Once the group is open the slot is marked as well.
    restart();
    FpgaFlashModel::erase(0);
    clock_record_run second;
    second.clock_record_init();
    for (int m = 0; m < 30; ++m)
        minute(second);
    EXPECT_EQ(flash(0x483000 + 12, 1)[0], 0xFF);
    second.dealwith_record_timing();
    EXPECT_EQ(flash(0x483000 + 12, 1)[0], 0x5A);
    EXPECT_EQ(flash(0x481000 + 44, 1)[0], 0x5A);
}

TEST_F(ClockRecord, ARecordInOneCopyOnlyIsRepairedBeforeCounting)
{
    FpgaFlashModel::write(0, 0x480000 - kLog, {0xAA, 0x5A, 0xA5});
    // Copy A has a complete record 0, copy B never got it (power lost while opening).
    FpgaFlashModel::write(0, 0x481000 - kLog, {0xAA, 0x24, 0x20});
    FpgaFlashModel::write(0, 0x481000 - kLog + 8, {50, 0, 0, 0, 0xFF, 2, 0, 0});
    clock_record_run log;
    EXPECT_EQ(log.check_record_sec(), 1);
    EXPECT_EQ(flash(0x482000, 3), (std::vector<uint8_t>{0xAA, 0x24, 0x20}));

    // Copy A half written (date, no mark): copy B, still empty, is copied back over it.
    FpgaFlashModel::erase(0);
    FpgaFlashModel::write(0, 0x481000 - kLog + 1, {0x24, 0x20});
    EXPECT_EQ(log.check_record_sec(), 0);
    EXPECT_EQ(flash(0x481000, 3), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF}));
}
