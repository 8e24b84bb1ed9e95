// Group 0xC0: whole files between the PC and the device. A write is start, blocks into the
// shared 5 MiB buffer and an end carrying the file's MD5 digest; only a file whose digest
// matches is stored (and read back). A read is start, blocks and an end giving the digest.
#include "protocol/message_deal.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "board/MtdDevice.h"
#include "core/global.h"
#include "core/json_reader.h"
#include "core/kel_file_deal.h"
#include "core/utils.h"
#include "gui/led/rcv_recovery.h"
#include "gui/led/smartmapping.h"
#include "gui/mainwindow.h"
#include "gui/option.h"
#include "gui/settings/advancedoption.h"
#include "protocol/message_deal_shared.h"
#include "protocol/pc_fields.h"
#include "protocol/protocol_phy.h"
#include "scaler/omenu.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>
#include <sys/stat.h>

using pcf::put32;
using pcf::rd16;
using pcf::rd32;

namespace {

constexpr unsigned kLogoHeader = 372;
constexpr uint32_t kFirmwareArea = 0x500000;
constexpr uint32_t kLogoArea = 0x60000;
constexpr uint32_t kConfigArea = 0x400000;
constexpr unsigned kNameMax = 255;              // bytes of UTF-8, as a file system allows
constexpr uint64_t kReserveMin = 2u << 20;      // free space kept for the device's own files
constexpr uint64_t kBlock = 4096;               // the unit a file system allocates in
// The one name a stored file takes in its folder until it is whole and read back: short,
// so a destination name of any length still fits, and hidden, so no PC name (never led by
// a dot) can be it.
const char* const kStaging = ".upload.part";
const char* const kAppImage = "/data/app/kelM57N2";
const char* const kPackageDir = "/data/rcvrecovery";
const char* const kScanDir = "/data/smartmapping";

enum : uint8_t { kApp = 1, kBoot = 2, kKernel = 3, kLogo = 4, kAlias = 5, kMode = 7, kOsd = 8, kPackage = 9, kScan = 13 };

// How many bytes of the buffer a transfer type may fill (from its first data byte).
uint32_t capacity(uint8_t type)
{
    switch (type) {
    case kApp: case kKernel: case kPackage: case kScan: return kFirmwareArea;
    case kLogo: return kLogoArea - kLogoHeader;
    case kAlias: return kLogoArea;
    case kMode: case kOsd: return kConfigArea;
    default: return 0;
    }
}

// A name from the network becomes one path component: no separator, NUL or control
// character (C0, DEL and C1), not "." led (so neither ".." nor hidden), 1 to 255 bytes.
bool safe_name(const unsigned char* p, unsigned n)
{
    if (n < 1 || n > kNameMax || p[0] == '.')
        return false;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F)
            return false;
        if (c == 0xC2 && i + 1 < n && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F)
            return false;   // U+0080..U+009F
    }
    return true;
}

// The read transfer's digest: a read on one link must not disturb a write's digest (md5)
// on another.
MD5 read_md5;

// The mode number of an "MO" name (its third and fourth characters in hexadecimal), or 0.
unsigned mode_number(const unsigned char* name)
{
    auto digit = [](unsigned char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (name[0] != 'M' || name[1] != 'O')
        return 0;
    const int hi = digit(name[2]), lo = digit(name[3]);
    if (hi < 0 || lo < 0)
        return 0;
    const unsigned m = unsigned(hi * 16 + lo);
    return m >= 1 && m <= 16 ? m : 0;
}

std::string mode_path(unsigned m) { return QString::asprintf("/data/modes/MO%02x.json", m).toStdString(); }

// The images the device starts from (program, kernel, boot logo) are installed only when
// the blocks of their transfer covered them whole: the digest vouches for the bytes that
// came, not for gaps the cleared buffer would fill with zeros.
using mdshared::installed_image;
static_assert(kApp == 1 && kKernel == 3 && kLogo == 4, "the images installed_image names");

// The file byte ranges the running write transfer's blocks brought, sorted and merged
// (under the transfer lock). Beyond kRangesMax scattered ranges a block adds nothing, and
// the image then counts as not whole.
constexpr size_t kRangesMax = 1024;
std::vector<std::pair<uint32_t, uint32_t>> g_received;

void note_received(uint32_t offset, uint32_t n)
{
    if (n == 0 || g_received.size() >= kRangesMax)
        return;
    g_received.emplace_back(offset, offset + n);
    std::sort(g_received.begin(), g_received.end());
    size_t out = 0;
    for (size_t i = 1; i < g_received.size(); ++i) {
        if (g_received[i].first <= g_received[out].second)
            g_received[out].second = std::max(g_received[out].second, g_received[i].second);
        else
            g_received[++out] = g_received[i];
    }
    g_received.resize(out + 1);
}

bool received_whole(uint32_t size)
{
    return size > 0 && !g_received.empty() && g_received[0].first == 0 && g_received[0].second >= size;
}

// A restart let go and the tick it went at (under the transfer lock).
bool g_restart_going = false;
uint32_t g_restart_at = 0;

// Whether a stored file can serve what it is stored for: the alias names and the overlay
// descriptions (the overlay file and the user modes' copies) are read by parsers that drop
// a file they cannot read, so such a file is refused before it replaces a good one.
bool usable(uint8_t type, const unsigned char* data, uint32_t size, std::string& why)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    if (type == kAlias) {
        boost::property_tree::ptree root;
        if (!JsonReader::read(text, root, why))
            return false;
        if (!root.get_child_optional("namelist")) {
            why = "no \"namelist\"";
            return false;
        }
        return true;
    }
    if (type == kOsd || type == kMode) {
        OSD_LIST list;
        return parse_omenu(text, list, why);
    }
    return true;
}

// Where a stored type's file goes: the record's path, or the type's own file.
std::string destination(uint8_t type, const std::string& path)
{
    switch (type) {
    case kApp: return kAppImage;
    case kAlias: return "/data/configs/alias.json";
    case kOsd: return "/data/configs/omenu.json";
    default: return path;
    }
}

// The header the boot loader expects in front of the logo image.
void logo_header(unsigned char* h, uint32_t length)
{
    std::memset(h, 0, kLogoHeader);
    auto text = [&](unsigned at, const char* t) { std::memcpy(h + at, t, std::strlen(t)); };
    auto u16 = [&](unsigned at, uint16_t v) { pcf::put16(h + at, v); };
    text(0, "SSTA");
    h[4] = 0x52;
    h[8] = 2;
    text(12, "DISP");
    u16(44, 260);
    h[48] = 0x38;
    h[52] = 1;
    h[56] = 0x44;
    h[62] = 0x30;
    u16(66, 816);
    h[68] = 1;
    text(72, "LMT050_NAD");
    put32(h + 104, 0x08049630);
    h[116] = 1;
    h[125] = 1;
    u16(126, 0x0101);
    put32(h + 128, 0x01020201);
    u16(132, 0x0101);
    for (unsigned at : {134u, 136u, 138u, 140u, 142u})
        h[at] = 1;
    h[144] = 10;
    h[146] = 12;
    h[148] = 4;
    h[150] = 12;
    u16(156, 320);
    h[158] = 0xF0;
    u16(160, 360);
    u16(162, 360);
    u16(164, 360);
    u16(166, 280);
    u16(168, 280);
    u16(170, 280);
    h[172] = 7;
    h[174] = 7;
    h[176] = 6;
    h[178] = 25;
    h[180] = 0xC0;
    u16(182, 0xFFA0);
    h[184] = 0x50;
    h[188] = 1;
    h[196] = 2;
    h[200] = 2;
    h[220] = 2;
    h[232] = 1;
    h[236] = 2;
    h[240] = 3;
    h[244] = 4;
    text(328, "LOGO");
    put32(h + 360, length);
    h[364] = 0x2C;
    h[368] = 1;
}

// Writes length bytes of the buffer to a raw flash partition after erasing them.
bool write_partition(const char* device, uint32_t length)
{
    KelFileDeal& rec = g_kel_file_deal_para;
    rec.fd = board::MtdDevice::open(device);
    if (rec.fd < 0)
        return false;
    // A failed erase leaves the partition to nobody: it is closed here and never written.
    bool ok = Utils::non_region_erase(rec.fd, 0, int(length), 1) == 0
              && Utils::non_region_write(rec.fd, fileBuf_velin, int(length), 0) == 0;
    board::MtdDevice::close(rec.fd);
    rec.fd = -1;
    return ok;
}

enum class Stored { Ok, NotOpened, Differs, NoRoom };

// Whether a file of size bytes can take the place of destination under "/data": its staging
// copy must fit beside the old file, and once the old file is gone the reserve must still be
// free: 2 MiB, or the largest of the device's own files if that is more, so the parameter
// block, settings and names can always be saved again.
bool room_for(uint64_t size, const std::string& destination)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    uint64_t reserve = kReserveMin;
    const fs::path own[] = {board::Files::map("/data/ram_device_info"), board::Files::map("/data/configs")};
    for (const fs::path& p : own) {
        if (fs::is_regular_file(p, ec)) {
            reserve = std::max<uint64_t>(reserve, fs::file_size(p, ec));
            continue;
        }
        for (const fs::directory_entry& e : fs::directory_iterator(p, ec))
            if (e.is_regular_file(ec))
                reserve = std::max<uint64_t>(reserve, e.file_size(ec));
    }
    // Counted in the blocks files take, as the free space is.
    auto blocks = [](uint64_t n) { return (n + kBlock - 1) / kBlock * kBlock; };
    struct stat old;
    const bool replaces = ::lstat(board::Files::map(destination).c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const uint64_t freed = replaces ? uint64_t(old.st_blocks) * 512 : 0;
    const uint64_t free = board::Files::freeSpace("/data");
    const uint64_t need = blocks(size);
    return free >= need && free + freed >= need + reserve;
}

// Stores the first size bytes of the buffer as path so that path always holds the old file
// or the whole new one: the bytes go to a hidden file beside it (written, flushed and
// synced), are read back, and only then renamed over path. A failure leaves the old file.
Stored store_file(const std::string& path, uint32_t size)
{
    const size_t slash = path.rfind('/');
    const std::string folder = path.substr(0, slash);
    const std::string staging = folder + "/" + kStaging;
    if (!room_for(size, path))
        return Stored::NoRoom;
    bool written;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        board::Files::makeDirs(folder);
        written = board::Files::writeAtomically(staging, fileBuf_velin, size);
    }
    if (!written) {
        KEL_TRACE("\n falid open erro  00!!!!\n falid open erro  01!!!!");
        board::Files::remove(staging);
        return Stored::NotOpened;
    }
    board::Files::sync();
    board::Clock::sleepMs(10);
    bool same = true;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::FILE* f = board::Files::openRead(staging);
        if (!f)
            same = false;
        unsigned char chunk[1024];
        for (uint32_t at = 0; same && at < size; at += sizeof chunk) {
            const size_t n = std::min<uint32_t>(sizeof chunk, size - at);
            if (std::fread(chunk, 1, n, f) != n || std::memcmp(chunk, fileBuf_velin + at, n) != 0) {
                KEL_TRACE(n == sizeof chunk ? "\n read app found comare 01!!!!!! " : "\n read app found comare 02!!!!!! ");
                same = false;
            }
        }
        if (f)
            std::fclose(f);
        if (same && !board::Files::move(staging, path)) {
            board::Files::remove(staging);
            return Stored::NotOpened;
        }
    }
    if (!same) {
        board::Files::remove(staging);
        return Stored::Differs;
    }
    board::Files::sync();
    return Stored::Ok;
}

// Closes the file a read transfer has open, if any.
void close_read()
{
    std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
    if (file_velin)
        std::fclose(file_velin);
    file_velin = nullptr;
}

// Opens a file for a read transfer (closing one left open); its size, or -1.
long open_for_read(const std::string& path)
{
    std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
    if (file_velin) {
        std::fclose(file_velin);
        file_velin = nullptr;
    }
    KEL_TRACE("\n %s\n", path.c_str());
    file_velin = board::Files::openRead(path);
    if (!file_velin)
        return -1;
    long size = -1;
    if (std::fseek(file_velin, 0, SEEK_END) == 0)
        size = std::ftell(file_velin);
    if (size < 0 || size > 0x7FFFFFFF) {
        std::fclose(file_velin);
        file_velin = nullptr;
        return -1;
    }
    return size;
}

// Screens belong to the GUI thread: the call is queued there.
template <class F>
void on_gui_thread(F call)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, call, Qt::QueuedConnection);
}

// The names in a folder, as the bytes the file system holds: a name a PC sent in GBK or
// Latin-1 is no text in any one encoding, and only its own bytes find the file again.
std::vector<std::string> names_in(const char* folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(board::Files::map(folder), ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        names.push_back(it->path().filename().native());
    return names;
}

// Removes every entry of a folder: whether something was removed, and whether an entry
// stayed. A folder that is not there holds nothing to remove.
struct Emptied {
    bool removed = false, failed = false;
};
Emptied empty_folder(const char* folder)
{
    Emptied e;
    std::error_code ec;
    if (!std::filesystem::is_directory(board::Files::map(folder), ec)) {
        KEL_TRACE("\n open %s failed \n", folder);
        return e;
    }
    for (const std::string& name : names_in(folder)) {
        const std::string path = std::string(folder) + "/" + name;
        if (board::Files::remove(path)) {
            KEL_TRACE("\n delete ok %s \n ", path.c_str());
            e.removed = true;
        } else {
            KEL_TRACE("\n delete error %s \n ", path.c_str());
            e.failed = true;
        }
    }
    return e;
}

} // namespace

// ---------------------------------------------------------------------------------------

int message_deal::write_file_group(unsigned char* frame)
{
    if (frame_len < 11)
        return 0;
    // The end stores the file outside the lock (it may write 5 MiB of flash).
    if (frame[10] == 3)
        return write_file_end(frame);
    std::unique_lock<std::mutex> hold(transfer_mutex);
    switch (frame[10]) {
    case 1: {
        const int r = write_file_start(frame);
        const uint8_t type = g_kel_file_deal_para.type;
        const bool update = frame[10] == 0 && (type == kApp || type == kKernel) && FileBufOwner::use(FileBufOwner::PcFileTransfer, holder());
        // The firmware-update display is announced outside the transfer lock: its watch on the
        // tick takes that lock inside the announcement's own.
        hold.unlock();
        if (update)
            REG_comm_flag();
        return r;
    }
    case 2: return write_file_block(frame);
    case 4: return read_file_start(frame);
    case 5: return read_file_block(frame);
    case 6: return read_file_end(frame);
    case 7: return write_defined_file_start(frame);
    case 8: return read_defined_file_start(frame);
    case 9:
        frame[10] = 0;
        frame[11] = 6;
        return 2;
    case 10: return delete_file_name(frame);
    default: return 0;
    }
}

// The write transfer is over (ended, or its holder gone): no record, received range or
// digest of it is left for a later block or end, of this peer or any other, to build on.
void message_deal::drop_write(const FileBufOwner::Holder& by)
{
    KelFileDeal& rec = g_kel_file_deal_para;
    rec.type = 0;
    rec.path.clear();
    rec.size = 0;
    g_received.clear();
    md5.reset();
    FileBufOwner::release(FileBufOwner::PcFileTransfer, by);
}

// Arms the record for a write transfer; false when the size does not fit the type's area
// or the free space, or the buffer is in other hands. The buffer is cleared at least as
// far as the file reaches, so no earlier upload's bytes can be stored with it.
bool message_deal::arm_write(uint8_t type, const std::string& path, uint32_t size, uint32_t clear)
{
    KelFileDeal& rec = g_kel_file_deal_para;
    const bool stored = type != kKernel && type != kLogo && type != kBoot;
    // An empty image would leave the device without a program, kernel or logo; a restart on
    // its way would cut any image short.
    if (size > capacity(type) || (installed_image(type) && (size == 0 || restart_going())) ||
        (stored && !room_for(size, destination(type, path))) ||
        !FileBufOwner::acquire(FileBufOwner::PcFileTransfer, holder()))
        return false;
    // A verified image waiting for the finish stays: only a new one that is stored whole
    // replaces it (the end's rename), and until then the finish installs the waiting one.
    rec.app_upload_begun = rec.app_upload_begun || type == kApp;
    std::memset(fileBuf_velin, 0, std::max(clear, size));
    rec.type = type;
    rec.path = path;
    rec.size = size;
    g_received.clear();
    md5.reset();
    return true;
}

int message_deal::write_file_start(unsigned char* frame)
{
    KelFileDeal& rec = g_kel_file_deal_para;
    bool ok = frame_len >= 22;
    if (ok) {
        const unsigned char* name = frame + 13;
        const uint32_t size = rd32(frame + 18);
        auto is = [&](const char* n) { return std::memcmp(name, n, 4) == 0; };
        const unsigned mode = mode_number(name);
        if (is("FBOT")) {
            // Accepted without an answer; its blocks are not kept. It still holds the
            // record, so it cannot take another peer's running transfer.
            // A start begins its digest and received range empty: nothing of an earlier
            // transfer (another peer's that lapsed, or this peer's own) is judged with it.
            if (FileBufOwner::acquire(FileBufOwner::PcFileTransfer, holder())) {
                rec.type = kBoot;
                rec.path.clear();
                rec.size = 0;
                g_received.clear();
                md5.reset();
                return 0;
            }
            ok = false;
        } else if (is("FMCU"))
            ok = arm_write(kApp, "", size, kFirmwareArea);
        else if (is("FKRN"))
            ok = arm_write(kKernel, "", size, kFirmwareArea);
        else if (is("LOGO"))
            ok = arm_write(kLogo, "", size, kLogoArea);
        else if (is("ALIS"))
            ok = arm_write(kAlias, "", size, kLogoArea);
        else if (is("OSDS"))
            ok = arm_write(kOsd, "", size, kConfigArea);
        else if (mode)
            ok = arm_write(kMode, mode_path(mode), size, kConfigArea);
        else if (is("DIVU") && frame[17] == kPackage)
            ok = arm_write(kPackage, std::string(kPackageDir) + "/DIVU", size, 0);
        else if (is("KXFR") && frame[17] == kScan)
            ok = arm_write(kScan, std::string(kScanDir) + "/KXFR", size, 0);
        else
            ok = false;
    }
    // A refused start leaves the transfer running as it was: on the serial line every PC is
    // the same peer, and one program's wrong start must not end another's upload.
    frame[10] = ok ? 0 : 1;
    frame[11] = 1;
    frame[12] = ok ? 0 : 2;
    return 3;
}

int message_deal::write_defined_file_start(unsigned char* frame)
{
    const unsigned L = frame_len >= 15 ? rd16(frame + 13) : 0;
    bool ok = frame_len >= 20 + L && safe_name(frame + 15, L);
    if (ok) {
        const uint8_t type = frame[15 + L];
        const uint32_t size = rd32(frame + 16 + L);
        const std::string name(reinterpret_cast<const char*>(frame + 15), L);
        if (type == kPackage || type == kScan) {
            const std::string path = std::string(type == kPackage ? kPackageDir : kScanDir) + "/" + name;
            KEL_TRACE("\n %s\n", path.c_str());
            ok = arm_write(type, path, size, 0);
        } else {
            ok = false;
        }
    }
    frame[10] = ok ? 0 : 1;
    frame[11] = 7;
    frame[12] = ok ? 0 : 2;
    return 3;
}

int message_deal::write_file_block(unsigned char* frame)
{
    const KelFileDeal& rec = g_kel_file_deal_para;
    bool ok = frame_len >= 23;
    const uint32_t offset = ok ? rd32(frame + 15) : 0;
    const uint32_t n = ok ? rd32(frame + 19) : 0;
    ok = ok && uint64_t(23) + n <= frame_len;
    // Only the peer that started the transfer adds to it; with no transfer running a block
    // belongs to nothing and is refused.
    ok = ok && rec.type != 0 && FileBufOwner::use(FileBufOwner::PcFileTransfer, holder());
    if (ok && rec.type != kBoot) {
        // Within the type's area, which lies inside the buffer.
        ok = uint64_t(offset) + n <= capacity(rec.type);
        if (ok) {
            const uint32_t at = rec.type == kLogo ? offset + kLogoHeader : offset;
            std::memcpy(fileBuf_velin + at, frame + 23, n);
            note_received(offset, n);
            if (rec.type == kKernel)
                KEL_TRACE("\n rcv(blocklen) = %#x,(blockaddr)%#x ", n, offset);
        }
    }
    // Only bytes the transfer had not had keep it alive; the boot image's (kept nowhere)
    // count as far as the largest image reaches.
    if (ok && uint64_t(offset) + n <= kFirmwareArea)
        FileBufOwner::progress(FileBufOwner::PcFileTransfer, holder(), offset, n);
    if (ok)
        md5.update(frame + 23, n);
    frame[10] = ok ? 0 : 1;
    frame[11] = 2;
    return 2;
}

int message_deal::write_file_end(unsigned char* frame)
{
    KelFileDeal& rec = g_kel_file_deal_para;
    std::unique_lock<std::mutex> hold(transfer_mutex);
    frame[11] = 3;
    if (frame_len < 31) {
        frame[10] = 1;
        frame[12] = 1;
        return 3;
    }
    const FileBufOwner::Holder me = holder();
    if (rec.type == 0) {
        // No upload of this peer's own to end: what the digest may hold was nobody's, so
        // nothing is answered as stored. A read this peer left open is closed, as an end
        // before any upload always did.
        if (file_read_hold.heldBy(me)) {
            close_read();
            file_read_hold.release();
        }
        frame[10] = 1;
        frame[12] = 1;
        return 3;
    }
    if (!FileBufOwner::use(FileBufOwner::PcFileTransfer, me)) {
        frame[10] = 1;   // another peer's transfer, or the buffer went to another user
        frame[12] = 1;
        return 3;
    }
    const uint8_t type = rec.type;
    const unsigned char* got = md5.digest();
    const bool match = std::memcmp(got, frame + 15, 16) == 0;
    auto finish = [&](unsigned char status, unsigned char result) {
        drop_write(me);   // a second end finds no transfer
        frame[10] = status;
        frame[12] = result;
        return 3;
    };
    if (!match) {
        const unsigned char* r = frame + 15;
        KEL_TRACE("\n md5 = %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x  \n", got[0], got[1], got[2],
                  got[3], got[4], got[5], got[6], got[7], got[8], got[9], got[10], got[11], got[12], got[13], got[14],
                  got[15]);
        KEL_TRACE("\n md5 = %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x %#x  \n", r[0], r[1], r[2], r[3],
                  r[4], r[5], r[6], r[7], r[8], r[9], r[10], r[11], r[12], r[13], r[14], r[15]);
        return finish(0, 1);
    }
    if (type == kBoot) {
        KEL_TRACE("\n md5 OK!!! ");
        return finish(0, 0);
    }
    if (installed_image(type) && !received_whole(rec.size)) {
        KEL_TRACE("\n image of %u bytes did not arrive whole: not installed\n", rec.size);
        return finish(0, 1);
    }

    // The slow part (erasing and writing flash, writing, syncing and reading back a file)
    // runs without the transfer lock, so other links' requests are served meanwhile; the
    // buffer stays this transfer's while it is stored.
    const std::string path = destination(type, rec.path);
    if (type == kLogo) {
        rec.size = (rec.size + 3) & ~3u;
        logo_header(fileBuf_velin, rec.size);
    }
    const uint32_t size = rec.size;
    // The buffer is this transfer's (checked above, under the same lock); one that is not
    // any more is not stored, nor an image once a restart has gone (an upload that lapsed
    // meanwhile did not hold it back).
    if ((installed_image(type) && restart_going()) || !FileBufOwner::begin_store(FileBufOwner::PcFileTransfer, me))
        return finish(1, 1);
    hold.unlock();
    Stored s = Stored::Ok;
    std::string why;
    if (!usable(type, fileBuf_velin, size, why)) {
        KEL_TRACE("\n %s not stored: %s\n", path.c_str(), why.c_str());
        s = Stored::Differs;   // answered as a file that did not arrive right; the old one stays
    } else if (type == kKernel)
        s = write_partition("/dev/mtd10", kFirmwareArea) ? Stored::Ok : Stored::NotOpened;
    else if (type == kLogo)
        s = write_partition("/dev/mtd8", kLogoArea) ? Stored::Ok : Stored::NotOpened;
    else {
        KEL_TRACE("\n %s\n", path.c_str());
        s = store_file(path, size);
    }
    hold.lock();
    FileBufOwner::end_store(FileBufOwner::PcFileTransfer, me);

    if (s == Stored::NotOpened && type == kApp) {
        // The image file could not be written: refused, [12] as the request left it.
        drop_write(me);
        frame[10] = 1;
        return 3;
    }
    if (s == Stored::NotOpened || s == Stored::NoRoom)
        return finish(1, 1);
    if (s == Stored::Differs)
        return finish(0, 1);
    if (type == kApp)
        rec.app_image_ready = true;
    KEL_TRACE("\n md5 OK!!! ");
    // A new scan-parameter file: the open smart set-up screen closes, to be built anew with it.
    if (type == kScan && fpga_manage::p_fpga_manage)
        SmartMapping::pc_close();
    // A new package or alias file is notified: the screen in front re-reads it (the advanced
    // settings menu whether recovery is possible).
    if (type == kAlias || type == kPackage)
        if (KelRamPara* p = mdshared::para())
            p->test_signal(103);
    return finish(0, 0);
}

bool message_deal::image_upload_under_way()
{
    return FileBufOwner::in_progress(FileBufOwner::PcFileTransfer) && installed_image(g_kel_file_deal_para.type);
}

bool message_deal::restart_may_go()
{
    std::lock_guard<std::mutex> hold(transfer_mutex);
    if (image_upload_under_way())
        return false;
    g_restart_going = true;
    g_restart_at = G_timeTicks;
    return true;
}

void message_deal::restart_not_done()
{
    std::lock_guard<std::mutex> hold(transfer_mutex);
    g_restart_going = false;
}

bool message_deal::restart_going()
{
    return g_restart_going && Utils::getTimeSpace(g_restart_at) < MainWindow::kRebootGoneTicks;
}

int message_deal::read_start_reply(unsigned char* frame, unsigned char echo, const std::string& path)
{
    long size = -1;
    // Another link's or peer's read in progress keeps its file: a start of a file is
    // refused, one that names nothing finds nothing and leaves that read alone.
    const bool mine = file_read_hold.take(holder());
    if (mine && !path.empty()) {
        size = open_for_read(path);
        read_md5.reset();
    }
    if (mine && size < 0) {
        // Nothing to read: the last read's file is closed and nothing is held, so the
        // blocks that follow carry no file.
        close_read();
        file_read_hold.release();
    }
    frame[10] = !mine && !path.empty() ? 1 : 0;
    frame[11] = echo;
    frame[12] = size >= 0 ? 1 : 0;
    put32(frame + 13, size >= 0 ? uint32_t(size) : 0);
    return 7;
}

int message_deal::read_file_start(unsigned char* frame)
{
    std::string path;
    if (frame_len >= 17) {
        const unsigned char* name = frame + 13;
        const unsigned mode = mode_number(name);
        if (std::memcmp(name, "ALIS", 4) == 0)
            path = "/data/configs/alias.json";
        else if (std::memcmp(name, "OSDS", 4) == 0)
            path = "/data/configs/omenu.json";
        else if (mode)
            path = mode_path(mode);
    }
    return read_start_reply(frame, 4, path);
}

int message_deal::read_defined_file_start(unsigned char* frame)
{
    const unsigned L = frame_len >= 15 ? rd16(frame + 13) : 0;
    std::string path;
    unsigned char echo = 4;
    if (frame_len >= 16 + L && L >= 1) {
        const unsigned char* name = frame + 15;
        const uint8_t type = frame[15 + L];
        if (type == kPackage || type == kScan) {
            echo = 8;
            if (safe_name(name, L))
                path = std::string(type == kPackage ? kPackageDir : kScanDir) + "/" +
                       std::string(reinterpret_cast<const char*>(name), L);
        } else if (L == 4) {
            const unsigned mode = mode_number(name);
            if (type == kAlias && std::memcmp(name, "ALIS", 4) == 0)
                path = "/data/configs/alias.json";
            else if (type == kOsd && std::memcmp(name, "OSDS", 4) == 0)
                path = "/data/configs/omenu.json";
            else if (type == kMode && mode)
                path = mode_path(mode);
        }
    }
    return read_start_reply(frame, echo, path);
}

int message_deal::read_file_block(unsigned char* frame)
{
    const uint32_t offset = frame_len >= 23 ? rd32(frame + 15) : 0;
    const uint32_t n = frame_len >= 23 ? rd32(frame + 19) : 0;
    frame[11] = 5;
    // The reply carries n bytes: they must fit the frame buffer (and, below, the link). A
    // file opened for another peer is not read for this one, and with no read of this
    // peer's open there is nothing to answer.
    if (frame_len < 23 || uint64_t(n) + 12 + 1 > FRAME_BUF_SIZE || !file_velin || !file_read_hold.heldBy(holder())) {
        frame[10] = 1;
        return 2;
    }
    size_t got = 0;
    bool within = false;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        const long size = file_velin && std::fseek(file_velin, 0, SEEK_END) == 0 ? std::ftell(file_velin) : -1;
        within = size >= 0 && uint64_t(offset) + n <= uint64_t(size);
        if (within && std::fseek(file_velin, long(offset), SEEK_SET) == 0)
            got = std::fread(frame + 12, 1, n, file_velin);
    }
    frame[10] = 0;
    // Bytes the file did not give (a range past its end, a read that failed) are no file
    // bytes: refused, never answered as zeros.
    if (!within || got != n || !protocol_phy::reply_fits(frame, n + 2, reply_limit)) {
        frame[10] = 1;
        return 2;
    }
    read_md5.update(frame + 12, unsigned(got));
    if (got > 0)
        file_read_hold.progress(offset, uint32_t(got));
    return int(n) + 2;
}

int message_deal::read_file_end(unsigned char* frame)
{
    std::memset(frame + 10, 0, 18);
    frame[11] = 6;
    if (file_velin && !file_read_hold.heldBy(holder())) {
        frame[10] = 1;
        return 18;
    }
    if (file_velin) {
        std::memcpy(frame + 12, read_md5.digest(), 16);
        close_read();
        file_read_hold.release();
    }
    return 18;
}

int message_deal::delete_file_name(unsigned char* frame)
{
    const Emptied scans = empty_folder(kScanDir), packages = empty_folder(kPackageDir);
    // The open smart set-up screen closes (it lists the files when built); else the settings
    // menu re-reads what exists when it is visible. The FPGA manager's reader lists the
    // folders afresh at each job, so its lists are left to its own thread.
    if (scans.removed && fpga_manage::p_fpga_manage) {
        if (g_page_focus == 24)
            SmartMapping::pc_close();
        else if (g_page_focus == 5 && g_option)
            QMetaObject::invokeMethod(g_option, [] { if (g_option) g_option->language_changed(); }, Qt::QueuedConnection);
    }
    // Without a package the recovery screen has nothing to show and the advanced-settings
    // menu greys its entry.
    if (packages.removed && fpga_manage::p_fpga_manage)
        on_gui_thread([] {
            if (g_page_focus == 25 && g_rcv_recovery)
                g_rcv_recovery->menulist_back_page();
            else if (g_page_focus == 12 && g_advancedoption)
                g_advancedoption->language_changed();
        });
    // A file that stays is no delete done (a failing or read-only disc).
    frame[10] = scans.failed || packages.failed ? 1 : 0;
    frame[11] = 10;
    return 2;
}

void message_deal::remove_staging_files()
{
    auto ends = [](const std::string& n, const std::string& tail) {
        return n.size() > tail.size() && n.compare(n.size() - tail.size(), tail.size(), tail) == 0;
    };
    // What a store cut short (a kill, a power cut) left: an upload's staging file, or the
    // temporary it is written through, under its name or under the hidden ".<name>.part" an
    // earlier build gave it (no PC name begins with a dot); and, where every name is the
    // program's own, the temporary a save writes before it renames it over its file.
    auto staging = [&ends](const std::string& folder, const std::string& n) {
        const bool own = folder == "/data" || folder == "/data/configs" || folder == "/data/modes";
        return (n[0] == '.' && (ends(n, ".part") || ends(n, ".part.tmp"))) || (own && ends(n, ".tmp"));
    };
    std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
    for (const char* folder : {"/data", "/data/app", "/data/configs", "/data/modes", kPackageDir, kScanDir})
        for (const std::string& name : names_in(folder))
            if (staging(folder, name) && board::Files::remove(std::string(folder) + "/" + name))
                KEL_TRACE("\n removed %s/%s \n", folder, name.c_str());
}
