#pragma once
// Reader of the receiving-card configuration package ("/data/rcvrecovery/DIVU") and of the
// standalone scan-parameter files ("...kxfile" in "/data/smartmapping" or "/mnt/usb1/").
// A receiving-card job of the FPGA manager takes a copy of its whole file when it starts
// (hold_file, under Utils::_file_deal_mutex) and reads its pieces from that copy: a PC
// that stores a file of the same name meanwhile changes nothing the cards are sent, so
// they get one whole file, never part of one and part of its replacement. A path that is
// not held is read from the disc piece by piece. Used on the FPGA manager thread only.
//
// All numbers in the files are little-endian. Each record below is decoded from its bytes
// with explicit helpers; kSize is its length in the file.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;

// Package header: bytes 0-2 not interpreted, byte 3 the number of member entries.
struct RcvPackHead {
    static constexpr unsigned kSize = 4;
    u8 file_num = 0;
    void decode(const u8* b) { file_num = b[3]; }
};

// Member entry of the package: type (10 screen, 11 XY, 12 scan parameters), length, start.
struct RcvPackEntry {
    static constexpr unsigned kSize = 12;
    u8 file_type = 0;
    u32 length = 0;
    u32 offset = 0;
    void decode(const u8* b);
};

// Head of the screen file (type-10 member).
struct RcvScreenHead {
    static constexpr unsigned kSize = 32;
    u8 type = 0;
    u32 rcv_para_len = 0;
    u32 rcv_para_crc32 = 0;
    u32 rcv_xy_len = 0;
    u32 rcv_xy_crc32 = 0;
    u8 screen_num = 0;
    void decode(const u8* b);
};

// One screen's record in the screen file: its configuration identity and where its
// scan parameters (in the type-12 member) and XY area (in the type-11 member) lie.
struct RcvScreenInfo {
    static constexpr unsigned kSize = 52;
    u32 config_id = 0;
    u32 net_use = 0;
    u32 rcv_para_offset = 0;
    u32 rcv_para_len = 0;
    u32 rcv_xy_offset = 0;
    u32 rcv_xy_len = 0;
    void decode(const u8* b);
};

// One output port of a screen's XY area.
struct RcvNetPara {
    static constexpr unsigned kSize = 12;
    u16 net_ledx = 0;          // output port: 0-9 FPGA 0, 10 and above FPGA 1 (port - 10)
    u16 net_rcv_num = 0;       // receiving cards on the port
    u32 net_para_offset = 0;   // start of the port's card blocks, from the screen XY area
    u32 net_para_len = 0;
    void decode(const u8* b);
};

// One stored operation on a card: what to write, where, and how long to wait.
struct RcvOperatePara {
    static constexpr unsigned kSize = 18;
    // An operation's time (a sleep, or the wait for each answer) is at most this long: its
    // 32-bit milliseconds would otherwise hold the front panel for up to 497 days.
    static constexpr u32 kMaxSleepMs = 60000;
    enum Type : u8 {
        kWrite = 1, kRam2Flash = 2, kActiveFirmware = 3, kUpgradeRcv = 4, kReconfig = 5,
        kSleep = 6, kSearchRxc = 7, kUserDefined = 16
    };
    enum Target : u8 { kRam = 1, kRegister = 2, kFlash = 3 };
    u32 offset = 0;            // data start, relative to the block that holds the record
    u32 dataLen = 0;
    u32 targetAddr = 0;
    u32 timeticks = 0;         // answer time-out (or sleep) in milliseconds
    u8 type = 0;
    u8 target = 0;
    void decode(const u8* b);
};

class rcvRecovery {
public:
    static constexpr int kPackEntries = 6;
    static constexpr u8 kScreenFile = 10;
    static constexpr u8 kXyFile = 11;
    static constexpr u8 kScanParaFile = 12;
    // Standalone scan-parameter file: 16-byte head, count at 16, records from 20.
    static constexpr unsigned kSmartHeadSize = 16;

    // 0 when the folder existed; otherwise 1 when it was created (0 when it could not be).
    static int check_file_dir(const QString& dir);
    // 1 when the folder is missing; else lists its regular files into the package list
    // ("/data/rcvrecovery") or the scan-parameter list ("/data/smartmapping", "/mnt/usb1/").
    int get_dir_file(const QString& dir);
    void init_para();

    // Copies the whole file for the job that starts; false (and every read of that path
    // fails until release_file) when it is missing or larger than kHoldLimit.
    static constexpr uint64_t kHoldLimit = 64u << 20;
    bool hold_file(const QString& path);
    void release_file();

    // Readers: 0 on success; 1 when the file is missing or the piece is not wholly in it
    // (the object then keeps what it held before).
    int get_rcvPackedFileNum(const QString& path);
    int get_rcvPackedFileInfo(const QString& path, int i);
    int update_rcvScreenHead(const QString& path);
    int update_rcvScreenIDinfo(const QString& path, int s);
    int update_rcvXYHead(const QString& path);
    int update_rcvXYscreenNetnum(const QString& path);
    int update_rcvXYscreenNetpara(const QString& path, int n);
    int update_rcvXYrcvOperateTimes(const QString& path, int c, bool flag);
    int update_rcvXYrcvOperatepara(const QString& path, int i, bool flag);
    int update_smartDebugingHead(const QString& path);
    int update_smartDebugingOperateTimes(const QString& path, bool standalone);
    int update_smartDebugingOperatepara(const QString& path, int i, bool standalone);
    int update_rcvOperatedata(const QString& path, uint64_t offset, u8* buffer, u32 n);
    int update_rcvDealData(const QString& path, u8* buffer, u32* length, u32 capacity);

    // Start of the member of a type in the package: the last announced entry of that type
    // counts; 0 when none has it.
    u32 member_start(u8 type) const;
    // Whether one of the announced entries has the type.
    bool has_member(u8 type) const;
    // Entries of the table that the header announced (at most the table's 6).
    int announced_entries() const;

    // Absolute data offsets of an operation (64-bit: the sums of file offsets may pass 4 GiB).
    uint64_t xy_data_offset() const;
    uint64_t para_data_offset(bool standalone) const;

    QStringList rcv_file_list;           // files of "/data/rcvrecovery"
    QStringList smart_file_list;         // files of the scan-parameter folder last listed

    RcvPackHead pack_head;
    RcvPackEntry pack_entry[kPackEntries];

    QString file_path;                   // the file the running job works on
    uint64_t operate_data_offset = 0;    // absolute offset of the current operation's data

    RcvScreenHead screen_head;
    RcvScreenInfo screen_info;
    RcvNetPara net_para;
    RcvOperatePara operate_para;
    u8 smart_head[kSmartHeadSize] = {};
    u8 xy_head[16] = {};
    u16 screen_net_num = 0;
    uint64_t running_offset = 0;         // current card's block, from the port's card blocks
    u16 rcv_operate_times = 0;

private:
    bool readPiece(const QString& path, uint64_t offset, u8* out, size_t n);
    static void printOperate(const RcvOperatePara& op);

    QString held_path;                   // the file of the running job, empty when none
    bool held_whole = false;
    std::vector<u8> held;
};
