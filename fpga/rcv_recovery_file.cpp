#include "fpga/rcv_recovery_file.h"

#include "board/Files.h"
#include "core/global.h"
#include "core/utils.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace {

u16 le16(const u8* p) { return u16(p[0] | (p[1] << 8)); }
u32 le32(const u8* p) { return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24; }

const char* typeWord(u8 type)
{
    switch (type) {
    case RcvOperatePara::kWrite: return "write";
    case RcvOperatePara::kRam2Flash: return "ram2flash";
    case RcvOperatePara::kActiveFirmware: return "active_firmware";
    case RcvOperatePara::kUpgradeRcv: return "upgrade rcv";
    case RcvOperatePara::kReconfig: return "reconfig";
    case RcvOperatePara::kSleep: return "sleep";
    case RcvOperatePara::kSearchRxc: return "search rxc";
    case RcvOperatePara::kUserDefined: return "user redefined";
    default: return "operate error";
    }
}

const char* targetWord(u8 target)
{
    switch (target) {
    case RcvOperatePara::kRam: return "ram";
    case RcvOperatePara::kRegister: return "register";
    case RcvOperatePara::kFlash: return "flash";
    default: return "target error";
    }
}

} // namespace

// The last field of each record ends at its length.
static_assert(3 + 1 == RcvPackHead::kSize, "package header layout");
static_assert(8 + 4 == RcvPackEntry::kSize, "package entry layout");
static_assert(20 + 1 + 11 == RcvScreenHead::kSize, "screen head layout");
static_assert(48 + 4 == RcvScreenInfo::kSize, "screen record layout");
static_assert(8 + 4 == RcvNetPara::kSize, "port record layout");
static_assert(17 + 1 == RcvOperatePara::kSize, "operation record layout");

void RcvPackEntry::decode(const u8* b)
{
    file_type = b[0];
    length = le32(b + 4);
    offset = le32(b + 8);
}

void RcvScreenHead::decode(const u8* b)
{
    type = b[2];
    rcv_para_len = le32(b + 4);
    rcv_para_crc32 = le32(b + 8);
    rcv_xy_len = le32(b + 12);
    rcv_xy_crc32 = le32(b + 16);
    screen_num = b[20];
}

void RcvScreenInfo::decode(const u8* b)
{
    config_id = le32(b);
    net_use = le32(b + 4);
    rcv_para_offset = le32(b + 36);
    rcv_para_len = le32(b + 40);
    rcv_xy_offset = le32(b + 44);
    rcv_xy_len = le32(b + 48);
}

void RcvNetPara::decode(const u8* b)
{
    net_ledx = le16(b);
    net_rcv_num = le16(b + 2);
    net_para_offset = le32(b + 4);
    net_para_len = le32(b + 8);
}

void RcvOperatePara::decode(const u8* b)
{
    offset = le32(b);
    dataLen = le32(b + 4);
    targetAddr = le32(b + 8);
    timeticks = le32(b + 12);
    type = b[16];
    target = b[17];
}

// ------------------------------------------------------------------------------------

bool rcvRecovery::hold_file(const QString& path)
{
    held_path = path;
    held.clear();
    held_whole = false;
    const std::string mapped = board::Files::map(Utils::fileNameBytes(path));
    std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
    // Read-only, so a write-protected USB stick serves as well as the data folder.
    std::FILE* f = board::Files::openRead(mapped);
    if (!f)
        return false;
    u8 chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && held.size() + n <= kHoldLimit)
        held.insert(held.end(), chunk, chunk + n);
    held_whole = n == 0 && !std::ferror(f);
    std::fclose(f);
    if (!held_whole) {
        KEL_TRACE("\n %s not read whole \n", mapped.c_str());
        held.clear();
    }
    return held_whole;
}

void rcvRecovery::release_file()
{
    held_path.clear();
    held.clear();
    held.shrink_to_fit();
    held_whole = false;
}

bool rcvRecovery::readPiece(const QString& path, uint64_t offset, u8* out, size_t n)
{
    // A piece that is not wholly in the file is not taken: a truncated file is an error,
    // not a record made of what happened to be in the object before.
    if (!held_path.isEmpty() && path == held_path) {
        if (!held_whole || offset > held.size() || n > held.size() - offset)
            return false;
        std::copy(held.begin() + std::ptrdiff_t(offset), held.begin() + std::ptrdiff_t(offset + n), out);
        return true;
    }
    const std::string mapped = board::Files::map(Utils::fileNameBytes(path));
    std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
    std::FILE* f = board::Files::openRead(mapped);
    if (!f)
        return false;
    KEL_TRACE("file exists\n");
    bool whole = offset <= uint64_t(INT64_MAX) && fseeko(f, off_t(offset), SEEK_SET) == 0;
    if (whole && n)
        whole = std::fread(out, 1, n, f) == n;
    std::fclose(f);
    return whole;
}

void rcvRecovery::printOperate(const RcvOperatePara& op)
{
    KEL_TRACE("\t offset        = %#x \n", op.offset);
    KEL_TRACE("\t dataLen       = %#x \n", op.dataLen);
    KEL_TRACE("\t targetAddr    = %#x \n", op.targetAddr);
    KEL_TRACE("\t timeticks     = %#x \n", op.timeticks);
    KEL_TRACE("\t type          = %#x %s\n", op.type, typeWord(op.type));
    KEL_TRACE("\t target        = %#x %s\n", op.target, targetWord(op.target));
}

int rcvRecovery::check_file_dir(const QString& dir)
{
    const std::string d = dir.toStdString();
    if (Utils::isDirExists(d)) {
        KEL_TRACE("\n %s exists !/n", d.c_str());
        return 0;
    }
    return board::Files::makeDirs(d) ? 1 : 0;
}

int rcvRecovery::get_dir_file(const QString& dir)
{
    if (!Utils::isDirExists(Utils::fileNameBytes(dir)))
        return 1;
    const QStringList files = Utils::fileNames(dir, false);
    if (dir == "/data/rcvrecovery")
        rcv_file_list = files;
    else if (dir == "/data/smartmapping" || dir == "/mnt/usb1/")
        smart_file_list = files;
    return 0;
}

void rcvRecovery::init_para()
{
    screen_info.rcv_para_offset = 0;
    screen_info.rcv_para_len = 0;
    screen_info.rcv_xy_offset = 0;
    screen_info.rcv_xy_len = 0;
}

int rcvRecovery::get_rcvPackedFileNum(const QString& path)
{
    u8 b[RcvPackHead::kSize];
    if (!readPiece(path, 0, b, sizeof b))
        return 1;
    pack_head.decode(b);
    // The table describes this package only.
    for (auto& e : pack_entry)
        e = RcvPackEntry();
    KEL_TRACE("\n pack file num = %d  \n", pack_head.file_num);
    return 0;
}

int rcvRecovery::get_rcvPackedFileInfo(const QString& path, int i)
{
    // The table holds 6 entries: a package announcing more is read no further than that.
    if (i < 0 || i >= kPackEntries)
        return 1;
    u8 b[RcvPackEntry::kSize];
    if (!readPiece(path, RcvPackHead::kSize + uint64_t(RcvPackEntry::kSize) * unsigned(i), b, sizeof b))
        return 1;
    pack_entry[i].decode(b);
    KEL_TRACE("\n packed file%d info(file_type = %#x) \n", i, pack_entry[i].file_type);
    KEL_TRACE("(length = %#x)", pack_entry[i].length);
    KEL_TRACE("(offset = %#x)", pack_entry[i].offset);
    return 0;
}

int rcvRecovery::announced_entries() const
{
    return pack_head.file_num < kPackEntries ? pack_head.file_num : kPackEntries;
}

u32 rcvRecovery::member_start(u8 type) const
{
    u32 start = 0;
    for (int i = 0; i < announced_entries(); ++i)
        if (pack_entry[i].file_type == type)
            start = pack_entry[i].offset;
    return start;
}

bool rcvRecovery::has_member(u8 type) const
{
    for (int i = 0; i < announced_entries(); ++i)
        if (pack_entry[i].file_type == type)
            return true;
    return false;
}

int rcvRecovery::update_rcvScreenHead(const QString& path)
{
    u8 b[RcvScreenHead::kSize];
    if (!readPiece(path, member_start(kScreenFile), b, sizeof b)) {
        KEL_TRACE("file error %s\n", path.toStdString().c_str());
        return 1;
    }
    screen_head.decode(b);
    KEL_TRACE("\n type (type = %#x) \n", screen_head.type);
    KEL_TRACE("\n rcv_para_len (rcv_para_len = %#x) \n", screen_head.rcv_para_len);
    KEL_TRACE("\n rcv_xy_len (rcv_xy_len = %#x) \n", screen_head.rcv_xy_len);
    KEL_TRACE("\n screen_num (screen_num = %#x) \n", screen_head.screen_num);
    return 0;
}

int rcvRecovery::update_rcvScreenIDinfo(const QString& path, int s)
{
    if (screen_head.screen_num == 0 || s < 0 || s >= screen_head.screen_num)
        return 1;
    u8 b[RcvScreenInfo::kSize];
    const uint64_t at = uint64_t(member_start(kScreenFile)) + RcvScreenHead::kSize + uint64_t(RcvScreenInfo::kSize) * unsigned(s);
    if (!readPiece(path, at, b, sizeof b))
        return 1;
    screen_info.decode(b);
    KEL_TRACE("\nscreen%d --config id = %#x \n", s + 1, screen_info.config_id);
    KEL_TRACE("\nscreen%d --rcv_para_offset = %#x \n", s + 1, screen_info.rcv_para_offset);
    KEL_TRACE("\nscreen%d --rcv_para_len = %#x \n", s + 1, screen_info.rcv_para_len);
    KEL_TRACE("\nscreen%d --rcv_xy_offset = %#x \n", s + 1, screen_info.rcv_xy_offset);
    KEL_TRACE("\nscreen%d --rcv_xy_len = %#x \n", s + 1, screen_info.rcv_xy_len);
    return 0;
}

int rcvRecovery::update_rcvXYHead(const QString& path)
{
    u8 b[sizeof xy_head];
    if (!readPiece(path, member_start(kXyFile), b, sizeof b))
        return 1;
    std::copy(b, b + sizeof b, xy_head);
    return 0;
}

int rcvRecovery::update_rcvXYscreenNetnum(const QString& path)
{
    u8 b[2];
    if (!readPiece(path, uint64_t(member_start(kXyFile)) + screen_info.rcv_xy_offset, b, sizeof b))
        return 1;
    screen_net_num = le16(b);
    KEL_TRACE("\n screen_net_num = %d \n", screen_net_num);
    return 0;
}

int rcvRecovery::update_rcvXYscreenNetpara(const QString& path, int n)
{
    if (n < 0)
        return 1;
    u8 b[RcvNetPara::kSize];
    const uint64_t at = uint64_t(member_start(kXyFile)) + screen_info.rcv_xy_offset + 4 + uint64_t(RcvNetPara::kSize) * unsigned(n);
    if (!readPiece(path, at, b, sizeof b))
        return 1;
    net_para.decode(b);
    KEL_TRACE("\n net_index%d --net_ledx = %#x \n", n + 1, net_para.net_ledx);
    KEL_TRACE("\n net_index%d --net_rcv_num = %#x \n", n + 1, net_para.net_rcv_num);
    KEL_TRACE("\n net_index%d --net_para_offset = %#x \n", n + 1, net_para.net_para_offset);
    return 0;
}

int rcvRecovery::update_rcvXYrcvOperateTimes(const QString& path, int c, bool)
{
    KEL_TRACE("rcv_id = %d\n", c);
    running_offset = 0;
    // A card the port does not have has no block: nothing valid to read.
    if (c < 0 || c >= net_para.net_rcv_num)
        return 1;
    const uint64_t base = uint64_t(member_start(kXyFile)) + screen_info.rcv_xy_offset + net_para.net_para_offset;
    for (int k = 0;; ++k) {
        u8 b[2];
        if (!readPiece(path, base + running_offset, b, sizeof b))
            return 1;
        KEL_TRACE("\t fseek_offset      = %#llx \n", (unsigned long long)(base + running_offset));
        if (k == c) {
            rcv_operate_times = le16(b);
            KEL_TRACE("\t rcv_operate_times = %#x \n", rcv_operate_times);
            return 0;
        }
        running_offset += 4 + uint64_t(RcvOperatePara::kSize) * le16(b);
    }
}

int rcvRecovery::update_rcvXYrcvOperatepara(const QString& path, int i, bool)
{
    if (i < 0)
        return 1;
    u8 b[RcvOperatePara::kSize];
    const uint64_t at = uint64_t(member_start(kXyFile)) + screen_info.rcv_xy_offset + net_para.net_para_offset + running_offset
                        + 4 + uint64_t(RcvOperatePara::kSize) * unsigned(i);
    if (!readPiece(path, at, b, sizeof b))
        return 1;
    operate_para.decode(b);
    printOperate(operate_para);
    return 0;
}

int rcvRecovery::update_smartDebugingHead(const QString& path)
{
    u8 b[kSmartHeadSize];
    if (!readPiece(path, 0, b, sizeof b))
        return 1;
    std::copy(b, b + sizeof b, smart_head);
    return 0;
}

int rcvRecovery::update_smartDebugingOperateTimes(const QString& path, bool standalone)
{
    u8 b[2];
    const uint64_t at = standalone ? kSmartHeadSize : uint64_t(member_start(kScanParaFile)) + screen_info.rcv_para_offset;
    if (!readPiece(path, at, b, sizeof b)) {
        KEL_TRACE("\n can not open the file ");
        return 1;
    }
    running_offset = 0;
    rcv_operate_times = le16(b);
    KEL_TRACE("\n rcv_operate_times = %d \n", rcv_operate_times);
    return 0;
}

int rcvRecovery::update_smartDebugingOperatepara(const QString& path, int i, bool standalone)
{
    if (i < 0)
        return 1;
    const uint64_t block = standalone ? kSmartHeadSize : uint64_t(member_start(kScanParaFile)) + screen_info.rcv_para_offset;
    u8 b[RcvOperatePara::kSize];
    if (!readPiece(path, block + 4 + uint64_t(RcvOperatePara::kSize) * unsigned(i), b, sizeof b))
        return 1;
    operate_para.decode(b);
    printOperate(operate_para);
    return 0;
}

int rcvRecovery::update_rcvOperatedata(const QString& path, uint64_t offset, u8* buffer, u32 n)
{
    if (n && !buffer)
        return 1;
    return readPiece(path, offset, buffer, n) ? 0 : 1;
}

int rcvRecovery::update_rcvDealData(const QString& path, u8* buffer, u32* length, u32 capacity)
{
    // Only as much as the caller's buffer holds.
    if (!buffer || !length || operate_para.dataLen > capacity)
        return 1;
    if (!readPiece(path, operate_para.offset, buffer, operate_para.dataLen))
        return 1;
    *length = operate_para.dataLen;
    return 0;
}

uint64_t rcvRecovery::xy_data_offset() const
{
    return uint64_t(member_start(kXyFile)) + screen_info.rcv_xy_offset + net_para.net_para_offset + operate_para.offset;
}

uint64_t rcvRecovery::para_data_offset(bool standalone) const
{
    // A standalone file's record offsets count from its byte 16 (its rcv_para_offset is 0
    // after init_para); the package's from the screen's scan-parameter block.
    const uint64_t block = standalone ? kSmartHeadSize : uint64_t(member_start(kScanParaFile));
    return block + screen_info.rcv_para_offset + operate_para.offset;
}
