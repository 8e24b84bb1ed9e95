#include "fpga/clock_record_run.h"

#include "board/Files.h"
#include "core/global.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"

#include <QDir>
#include <QFile>
#include <cstring>
#include <vector>

CLOCK_RECORD g_clock_record = {};
std::mutex clock_record_run::record_mutex;

namespace {

constexpr unsigned char kFlash = 2;        // FPGA 0's configuration flash
constexpr unsigned char kChip = 9;         // what callers pass as the chip; ignored
const unsigned char kFormatMark[3] = {0xAA, 0x5A, 0xA5};
// Tally byte after the 1st, 2nd, 3rd and 4th unit of the byte.
const unsigned char kTally[4] = {0xFD, 0xF5, 0xD5, 0x55};

unsigned char bcd(int v) { return (unsigned char)(((v / 10) % 10) << 4 | (v % 10)); }

} // namespace

clock_record_run::clock_record_run() { std::memset(m_bytes, 0, sizeof m_bytes); }

// ------------------------------------------------------------------------------------
// Flash access by log address

uint8_t clock_record_run::ExFlash_RD(unsigned char, unsigned int address, unsigned int length, unsigned char* out)
{
    if (address < kLogOffset)
        return 0;
    return fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(kFlash, address - kLogOffset, length, out);
}

uint8_t clock_record_run::ExFlash_WR(unsigned char, unsigned int address, const unsigned char* data, unsigned int length)
{
    if (address < kLogOffset || !data || length == 0)
        return 0;
    // The page program wants four bytes of work space in front of the data.
    std::vector<unsigned char> work(length + 4);
    std::memcpy(work.data() + 4, data, length);
    // The log is a record kept as well as it can be: a write lost is a sample lost.
    static_cast<void>(fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(kFlash, address - kLogOffset, work.data(), length));
    return 0;
}

uint8_t clock_record_run::ExFlash_Erase_Format(unsigned char, unsigned int sector, unsigned char kind, unsigned int count)
{
    if (sector < kSectorOffset)
        return 0;
    // As the write: the log's sectors are erased as well as they can be.
    static_cast<void>(fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(kFlash, sector - kSectorOffset, kind, count));
    return 0;
}

void clock_record_run::write_byte(uint32_t address, uint8_t value) { ExFlash_WR(kChip, address, &value, 1); }

void clock_record_run::write_u32(uint32_t address, uint32_t value)
{
    unsigned char b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    ExFlash_WR(kChip, address, b, 4);
}

uint32_t clock_record_run::slot_address(uint32_t count) { return kSlots + 4096 * (count / 256) + 16 * (count % 256); }

void clock_record_run::read_time_bcd(uint8_t out[7])
{
    // Through the manager's current-time record, which this refreshes.
    TimeRealType t{};
    if (fpga_manage* m = fpga_manage::p_fpga_manage) {
        m->IT8563WE_Get(&m->time_now);
        t = m->time_now;
    }
    out[0] = bcd(t.year % 100);
    out[1] = bcd(t.year / 100);
    out[2] = bcd(t.month);
    out[3] = bcd(t.day);
    out[4] = bcd(t.hour);
    out[5] = bcd(t.minute);
    out[6] = bcd(t.second);
}

// ------------------------------------------------------------------------------------
// Start of logging

void clock_record_run::clock_record_init()
{
    std::lock_guard<std::mutex> hold(record_mutex);
    CLOCK_RECORD& g = g_clock_record;
    unsigned char mark[3] = {0, 0, 0};
    ExFlash_RD(kChip, kHeader, 3, mark);
    if (std::memcmp(mark, kFormatMark, 3) != 0) {
        ExFlash_Erase_Format(kChip, kHeaderSector, 0, 1);
        ExFlash_WR(kChip, kHeader, kFormatMark, 3);
    }
    g.running = 1;
    const uint8_t n = check_record_sec();
    if (n == 0) {
        ExFlash_Erase_Format(kChip, kRecordSectorA, 0, 1);
        ExFlash_Erase_Format(kChip, kRecordSectorB, 0, 1);
        ExFlash_Erase_Format(kChip, kSlotSector, 0, 1);
        g.total = 0;
        g.sequence = 0;
        g.slot_page = 0;
        g.record_index = 0;
        g.slot = kSlots;
    } else {
        g.record_index = n;
        get_last_record_info(uint8_t(n - 1));
    }
    g.minutes_since_start = 0;
    g.minutes_since_start2 = 0;
    g.minute_count = 0;
    g.group_pending = 1;
    read_time_bcd(g.time);
    g.stamp = G_timeTicks.load();
}

uint8_t clock_record_run::check_record_sec()
{
    // The records in use, counted from the first in each copy. A power cut while a group was
    // opened, while the record area wrapped (copy A erased, copy B still full), after a clock
    // set erased copy A, or while one copy was being repaired leaves the copies apart: the copy
    // with more records is copied over the other, so the total and the sequence number are
    // always read from a whole record and never from an erased one.
    const uint8_t inA = records_in_use(kRecordsA);
    const uint8_t inB = records_in_use(kRecordsB);
    if (inA > inB) {
        copy_sec_data(kRecordSectorA, kRecordSectorB);
        return inA;
    }
    if (inB > inA) {
        copy_sec_data(kRecordSectorB, kRecordSectorA);
        return inB;
    }
    if (inA < 8) {
        // Copy A half written (date, no in-use mark): copy B, which never got it, goes back
        // over it, so the next group is not programmed over old bits.
        unsigned char dateA = 0;
        ExFlash_RD(kChip, kRecordsA + kRecordSize * inA + 1, 1, &dateA);
        if (dateA != 0xFF) {
            copy_sec_data(kRecordSectorB, kRecordSectorA);
            return inA;
        }
    }
    if (inA > 0)
        merge_tally(uint8_t(inA - 1));
    return inA;
}

void clock_record_run::merge_tally(uint8_t index)
{
    // Copy A's tally is written before copy B's: a cut in between leaves B a unit, or the first
    // units of a group being opened, behind. Both copies take every unit either holds (the
    // bits cleared in either), so neither ever counts less than was tallied.
    const uint32_t offset = kRecordSize * index + 48;
    std::vector<unsigned char> a(kTallyBytes + 1), b(kTallyBytes + 1), both(kTallyBytes + 1);
    ExFlash_RD(kChip, kRecordsA + offset, kTallyBytes + 1, a.data());
    ExFlash_RD(kChip, kRecordsB + offset, kTallyBytes + 1, b.data());
    for (size_t i = 0; i < both.size(); ++i)
        both[i] = a[i] & b[i];
    if (a != both)
        ExFlash_WR(kChip, kRecordsA + offset, both.data(), kTallyBytes + 1);
    if (b != both)
        ExFlash_WR(kChip, kRecordsB + offset, both.data(), kTallyBytes + 1);
}

uint8_t clock_record_run::records_in_use(uint32_t copy)
{
    uint8_t n = 0;
    for (; n < 8; ++n) {
        unsigned char used = 0;
        ExFlash_RD(kChip, copy + kRecordSize * n, 1, &used);
        if (used != 0xAA)
            break;
    }
    return n;
}

void clock_record_run::copy_sec_data(unsigned int from, unsigned int to)
{
    std::vector<unsigned char> sector(4096);
    ExFlash_RD(kChip, from * 4096, 4096, sector.data());
    ExFlash_Erase_Format(kChip, to, 0, 1);
    for (unsigned offset = 256; offset < 4096; offset += 256)
        ExFlash_WR(kChip, to * 4096 + offset, sector.data() + offset, 256);
    ExFlash_WR(kChip, to * 4096 + 1, sector.data() + 1, 255);
    // The first record's in-use mark last, so a copy cut short is not taken for a record.
    ExFlash_WR(kChip, to * 4096, sector.data(), 1);
}

void clock_record_run::get_last_record_info(unsigned char index)
{
    CLOCK_RECORD& g = g_clock_record;
    const uint32_t record = kRecordsA + kRecordSize * index;
    unsigned char head[16];
    ExFlash_RD(kChip, record, 16, head);
    std::vector<unsigned char> tally(kTallyBytes + 1, 0xFF);
    ExFlash_RD(kChip, record + 48, kTallyBytes + 1, tally.data());
    uint32_t full = 0;
    while (full < kTallyBytes && tally[full] == 0x55)
        ++full;
    uint32_t minutes;
    if (full == kTallyBytes) {
        minutes = kGroupMinutes;
    } else {
        minutes = 8 * full;
        const unsigned char next = tally[full];
        if (next == 0xFD)
            minutes += 2;
        else if (next == 0xF5)
            minutes += 4;
        else if (next == 0xD5)
            minutes += 6;
    }
    const uint32_t recordTotal = uint32_t(head[8]) | uint32_t(head[9]) << 8 | uint32_t(head[10]) << 16 |
                                 uint32_t(head[11]) << 24;
    g.total = recordTotal + minutes;
    const uint32_t sequence = uint32_t(head[13]) | uint32_t(head[14]) << 8 | uint32_t(head[15]) << 16;
    g.sequence = get_new_seq(minutes, sequence);
}

uint32_t clock_record_run::get_new_seq(unsigned int minutes, unsigned int sequence)
{
    CLOCK_RECORD& g = g_clock_record;
    const uint32_t count = sequence & 0xFFFFF;
    const uint32_t wraps = (sequence >> 20) & 0x0F;
    write_u32(slot_address(count <= kSlotCountMax ? count : 0) + 8, minutes);
    if (count + 1 > kSlotCountMax) {
        ExFlash_Erase_Format(kChip, kSlotSector, 0, 1);
        g.slot_page = 0;
        g.slot = kSlots;
        return ((wraps + 1) & 0x0F) << 20;
    }
    const uint32_t next = count + 1;
    if (next % 256 == 0)
        ExFlash_Erase_Format(kChip, kSlotSector + next / 256, 0, 1);
    g.slot_page = uint8_t(next / 256);
    g.slot = slot_address(next);
    return next | (wraps << 20);
}

void clock_record_run::new_record_group_init(unsigned char index)
{
    CLOCK_RECORD& g = g_clock_record;
    const bool wrapped = index > 7;
    if (wrapped) {
        unsigned char first[2] = {0, 0};
        ExFlash_RD(kChip, kRecordsA, 2, first);
        if (!(first[0] == 0xFF && first[1] == 0xFF))
            ExFlash_Erase_Format(kChip, kRecordSectorA, 0, 1);
        index = 0;
        g.record_index = 0;
    }
    const unsigned char fields[8] = {uint8_t(g.total), uint8_t(g.total >> 8), uint8_t(g.total >> 16),
                                     uint8_t(g.total >> 24), 0xFF, uint8_t(g.sequence),
                                     uint8_t(g.sequence >> 8), uint8_t(g.sequence >> 16)};
    const uint32_t a = kRecordsA + kRecordSize * index;
    ExFlash_WR(kChip, a + 1, g.time, 7);
    ExFlash_WR(kChip, a + 8, fields, 8);
    ExFlash_RD(kChip, a + 44, 1, &g.clock_set_mark);
    write_byte(a, 0xAA);
    if (wrapped)
        ExFlash_Erase_Format(kChip, kRecordSectorB, 0, 1);
    const uint32_t b = kRecordsB + kRecordSize * index;
    ExFlash_WR(kChip, b + 1, g.time, 7);
    ExFlash_WR(kChip, b + 8, fields, 8);
    write_byte(b + 44, g.clock_set_mark);
    write_byte(b, 0xAA);
    g.record_a = a;
    g.record_b = b;
}

// ------------------------------------------------------------------------------------
// One step of logging

void clock_record_run::clock_record_deal()
{
    std::lock_guard<std::mutex> hold(record_mutex);
    CLOCK_RECORD& g = g_clock_record;
    if (g.running != 1 || Utils::getTimeSpace(g.stamp) <= 6000)
        return;
    g.minute_count++;
    g.minutes_since_start++;
    g.minutes_since_start2++;
    if (g.minute_count % 2 == 1 || (g.group_pending == 1 && g.minutes_since_start < 30)) {
        g.stamp = G_timeTicks.load();
        return;
    }
    if (g.group_pending == 1) {
        // The first group after a start opens with the 30 minutes already run: 15 units.
        static const unsigned char firstUnits[4] = {0x55, 0x55, 0x55, 0xD5};
        new_record_group_init(g.record_index);
        for (uint32_t record : {g.record_a, g.record_b}) {
            ExFlash_WR(kChip, record + 33, g.time, 7);
            ExFlash_WR(kChip, record + 48, firstUnits, 4);
            write_byte(record, 0xAA);
        }
        const unsigned char slotTail[4] = {g.clock_set_mark, uint8_t(g.sequence), uint8_t(g.sequence >> 8),
                                           uint8_t(g.sequence >> 16)};
        ExFlash_WR(kChip, g.slot + 1, g.time, 7);
        ExFlash_WR(kChip, g.slot + 12, slotTail, 4);
        write_byte(g.slot, 0xAA);
        g.group_pending = 0;
        g.unit_count = 14;
    }
    const uint32_t unit = g.unit_count;
    g.mark = kTally[unit % 4];
    g.mark_offset = 48 + unit / 4;
    write_byte(g.record_a + g.mark_offset, g.mark);
    write_byte(g.record_b + g.mark_offset, g.mark);
    g.unit_count++;
    if (g.unit_count > 1440) {
        // A full group: 1441 units, recorded as 2880 minutes; the next one opens at once.
        write_u32(g.slot + 8, kGroupMinutes);
        g.record_index++;
        read_time_bcd(g.time);
        g.sequence = get_new_seq(kGroupMinutes, g.sequence);
        g.total += kGroupMinutes;
        new_record_group_init(g.record_index);
        g.unit_count = 0;
    }
    g.stamp = G_timeTicks.load();
}

void clock_record_run::dealwith_record_timing()
{
    std::lock_guard<std::mutex> hold(record_mutex);
    mark_clock_set_locked();
}

void clock_record_run::mark_clock_set_locked()
{
    CLOCK_RECORD& g = g_clock_record;
    g.clock_set_mark = 0x5A;
    if (g.running != 1)
        return;                            // nothing on the flash belongs to this start yet
    if (g.group_pending != 1) {
        write_byte(g.slot + 12, 0x5A);
        write_byte(g.record_a + 44, 0x5A);
        return;
    }
    if (g.record_index > 7) {
        unsigned char first[2] = {0, 0};
        ExFlash_RD(kChip, kRecordsA, 2, first);
        if (!(first[0] == 0xFF && first[1] == 0xFF))
            ExFlash_Erase_Format(kChip, kRecordSectorA, 0, 1);
        write_byte(kRecordsA + 44, 0x5A);
    } else {
        write_byte(kRecordsA + kRecordSize * g.record_index + 44, 0x5A);
    }
}

// ------------------------------------------------------------------------------------
// File helpers nothing calls

QStringList clock_record_run::get_file_list_path(const QString& dir)
{
    QDir d(board::Files::map(dir));
    return d.exists() ? d.entryList(QDir::Files) : QStringList();
}

int clock_record_run::check_file_dir(const QString& dir)
{
    return board::Files::makeDirs(dir.toStdString()) ? 0 : 1;
}

int clock_record_run::issetDefaultpara(const QString& file)
{
    QFile f(board::Files::map(file));
    if (f.exists())
        return 0;
    return f.open(QIODevice::WriteOnly) ? 0 : 1;
}
