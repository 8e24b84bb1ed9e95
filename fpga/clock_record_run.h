#pragma once
// The running-time log in FPGA 0's configuration flash. Time is counted in two-minute units;
// each stretch of up to 2880 minutes is a group with its start date, a sequence number and
// a bit-by-bit tally of its units, kept in two copies so that a power cut while a group is
// opened can be repaired at the next start.

#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <mutex>

// State of the log; the PC protocol reports its counters. Read or change it only while
// holding clock_record_run::record_mutex.
struct CLOCK_RECORD {
    uint8_t minute_count;       // a unit is written on every second minute
    uint8_t mark;               // tally byte value being written
    uint8_t slot_page;          // sequence-slot sector of the current slot
    uint8_t record_index;       // current group record, 0..8
    uint8_t clock_set_mark;     // 0x5A after the clock was set
    uint8_t group_pending;      // 1 = the first group after a start is not open yet
    uint8_t running;            // 1 once clock_record_init has run
    uint8_t time[7];            // BCD: year%100, year/100, month, day, hour, minute, second
    uint32_t unit_count;        // units written in the current group
    uint32_t sequence;          // bits 0-19 slot count, bits 20-23 wraps of the slot area
    uint32_t record_a;          // log addresses of the current record in copies A and B
    uint32_t record_b;
    uint32_t slot;              // log address of the current sequence slot
    uint32_t mark_offset;       // byte offset in the record of the last tally byte written
    uint32_t stamp;             // G_timeTicks at the last minute
    uint32_t minutes_since_start;
    uint32_t minutes_since_start2;
    uint32_t total;             // minutes up to the start of the current group
};
static_assert(offsetof(CLOCK_RECORD, time) == 7, "time at byte 7");
static_assert(offsetof(CLOCK_RECORD, sequence) == 20, "sequence at byte 20");
static_assert(offsetof(CLOCK_RECORD, minutes_since_start) == 44, "minutes at byte 44");
static_assert(offsetof(CLOCK_RECORD, minutes_since_start2) == 48, "second counter at byte 48");
static_assert(offsetof(CLOCK_RECORD, total) == 52, "total at byte 52");
static_assert(sizeof(CLOCK_RECORD) == 56, "the record is 56 bytes");
extern CLOCK_RECORD g_clock_record;

class clock_record_run {
public:
    // Log addresses (flash 2 address + 0x14C000) and log sectors (flash sector + 332).
    static constexpr uint32_t kLogOffset = 0x14C000;
    static constexpr uint32_t kSectorOffset = 332;
    static constexpr uint32_t kHeaderSector = 0x480;
    static constexpr uint32_t kRecordSectorA = 0x481;
    static constexpr uint32_t kRecordSectorB = 0x482;
    static constexpr uint32_t kSlotSector = 0x483;
    static constexpr uint32_t kHeader = 0x480000;
    static constexpr uint32_t kRecordsA = 0x481000;
    static constexpr uint32_t kRecordsB = 0x482000;
    static constexpr uint32_t kSlots = 0x483000;
    static constexpr uint32_t kRecordSize = 512;
    static constexpr uint32_t kSlotCountMax = 15616;
    static constexpr uint32_t kGroupMinutes = 2880;
    static constexpr uint32_t kTallyBytes = 360;

    // Keeps dealwith_record_timing (PC threads) and the logging steps (manager thread)
    // apart; both change g_clock_record and the same flash bytes.
    static std::mutex record_mutex;

    clock_record_run();

    uint8_t ExFlash_RD(unsigned char chip, unsigned int address, unsigned int length, unsigned char* out);
    uint8_t ExFlash_WR(unsigned char chip, unsigned int address, const unsigned char* data, unsigned int length);
    uint8_t ExFlash_Erase_Format(unsigned char chip, unsigned int sector, unsigned char kind, unsigned int count);

    void clock_record_init();
    void clock_record_deal();
    void dealwith_record_timing();

    uint8_t check_record_sec();
    void get_last_record_info(unsigned char index);
    void new_record_group_init(unsigned char index);
    uint32_t get_new_seq(unsigned int minutes, unsigned int sequence);
    void copy_sec_data(unsigned int from, unsigned int to);

    // File helpers of the class that nothing in the system calls.
    QStringList get_file_list_path(const QString& dir);
    int check_file_dir(const QString& dir);
    int issetDefaultpara(const QString& file);

private:
    void read_time_bcd(uint8_t out[7]);
    void write_u32(uint32_t address, uint32_t value);
    void write_byte(uint32_t address, uint8_t value);
    static uint32_t slot_address(uint32_t count);
    uint8_t records_in_use(uint32_t copy);
    void merge_tally(uint8_t index);
    void mark_clock_set_locked();

    uint8_t m_bytes[3] = {};
};
