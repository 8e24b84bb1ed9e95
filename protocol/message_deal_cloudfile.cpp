// Groups 0xC5-0xCC: the cloud settings files (CA file, settings file, barcode) between the
// PC and the device; groups 0x8E and 0x8F: the 4G module's status and whether the device
// is online.
#include "protocol/message_deal.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "cloud/message_deal_4g.h"
#include "cloud/networkclient_manage.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kel_file_deal.h"
#include "core/utils.h"
#include "protocol/pc_fields.h"
#include "protocol/protocol_phy.h"

#include <algorithm>
#include <cstring>
#include <vector>

using pcf::put16;
using pcf::put32;
using pcf::rd16;
using pcf::rd32;

YP_FILE g_yp_s_file;
YP_FILE g_yp_r_file;

namespace {

enum : uint8_t { kBarcode = 1, kCaFile = 2, kSetInfo = 4 };
enum : uint16_t { kIdBarcode = 100, kIdCaFile = 101, kIdSetInfo = 102 };
enum : uint8_t { kDone = 200, kNoFile = 64, kExists = 65, kTooBig = 66, kWrongId = 74, kWrongOffset = 75,
                 kBeyond = 76, kSizeDiffers = 77, kWrongIdRightSize = 44, kRefused = 'N' };
constexpr uint32_t kCaLimit = 32768;
constexpr uint32_t kSetInfoLimit = 4096;
constexpr unsigned kCaHeader = 7;
constexpr unsigned kSetInfoHeader = 3;
constexpr unsigned kRecvBlock = 768;
const char* const kCaPath = "/data/configs/cloud_cafile";
const char* const kSetInfoPath = "/data/configs/cloud_setinfo";
const char* const kBarcodePath = "/data/configs/cloud_barcode";

// The kind and id a request's four-character name stands for; kind 0 for anything else.
void name_of(const unsigned char* name, uint8_t& kind, uint16_t& id)
{
    kind = 0;
    id = 0;
    if (std::memcmp(name, "F00", 3) != 0)
        return;
    switch (name[3]) {
    case '1': kind = kBarcode; id = kIdBarcode; break;
    case '2': kind = kCaFile; id = kIdCaFile; break;
    case '4': kind = kSetInfo; id = kIdSetInfo; break;
    default: break;
    }
}

uint32_t limit_of(uint8_t kind) { return kind == kCaFile ? kCaLimit : kSetInfoLimit; }
unsigned header_of(uint8_t kind) { return kind == kCaFile ? kCaHeader : kSetInfoHeader; }
const char* path_of(uint8_t kind) { return kind == kCaFile ? kCaPath : kSetInfoPath; }

int reply5(unsigned char* frame, unsigned char status, unsigned char code, uint16_t id)
{
    frame[10] = status;
    frame[11] = code;
    frame[12] = status;
    put16(frame + 13, id);
    return 5;
}

// The file a read serves, as it was at the read's start (the barcode: its text then): an upload
// of the same file by another PC between two blocks replaces the stored file whole, and the
// reader must get one file, not the start of one and the rest of another. Under the transfer
// lock, as the record is. At most what one read can serve: the CA file's header and its
// limit, the settings file's length word and the most it can announce.
std::vector<unsigned char> g_read_copy;
constexpr size_t kReadCopyMax = 1 + 0xFFFF;
static_assert(kReadCopyMax >= kCaHeader + kCaLimit, "a whole CA file fits the copy");

// The stored file's first kReadCopyMax bytes; false when it cannot be opened.
bool copy_stored(const char* path, std::vector<unsigned char>& out)
{
    out.assign(kReadCopyMax, 0);
    std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
    std::FILE* f = board::Files::openRead(path);
    if (!f) {
        out.clear();
        return false;
    }
    out.resize(std::fread(out.data(), 1, out.size(), f));
    std::fclose(f);
    return true;
}

// Up to n bytes of the read's copy from at into out; the count there.
size_t from_copy(size_t at, unsigned char* out, size_t n)
{
    if (at >= g_read_copy.size())
        return 0;
    n = std::min(n, g_read_copy.size() - at);
    std::memcpy(out, g_read_copy.data() + at, n);
    return n;
}

QByteArray barcode_text()
{
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    return g_str_barcode.toUtf8();
}

} // namespace

// ---------------------------------------------------------------------------------------
// PC to device

int message_deal::YP_SendFile(unsigned char* frame)
{
    YP_FILE& rec = g_yp_s_file;
    if (frame_len < 19)
        return reply5(frame, 1, kNoFile, 0);
    const uint32_t size = rd32(frame + 14);
    const bool start = frame[18] == 1;
    uint8_t kind;
    uint16_t id;
    name_of(frame + 10, kind, id);
    // Asks and unknown names answer from the request alone: the record may be a transfer in
    // progress, another peer's or, on the serial line where every PC is one peer, another
    // program's.
    if (kind == 0)
        return reply5(frame, 1, kNoFile, 0);
    if (!start) {
        bool exists = false;
        if (kind != kBarcode) {
            std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
            exists = board::Files::exists(path_of(kind));
        }
        return reply5(frame, 1, exists ? kExists : size <= limit_of(kind) ? kNoFile : kTooBig, id);
    }
    // A file's data is assembled in the shared buffer behind room for its header: only
    // within the file's limit, and only while nobody else uses the buffer or the record.
    const bool tooBig = kind != kBarcode && size > limit_of(kind);
    if (tooBig || !FileBufOwner::acquire(FileBufOwner::PcCloudFile, holder()))
        return reply5(frame, 1, tooBig ? kTooBig : kNoFile, id);
    std::memset(fileBuf_velin, 0, kFileBufVelinSize);
    rec.kind = kind;
    rec.id = id;
    rec.size = size;
    rec.offset = 0;
    if (kind == kBarcode) {
        if (ConfigEngine* c = ConfigEngine::p_config) {
            // A barcode clear that could not be stored is refused: the next start has it still.
            if (!c->write_config_variant(ConfigItem::Barcode, QString(" "))) {
                rec = YP_FILE{};
                FileBufOwner::release(FileBufOwner::PcCloudFile, holder());
                return reply5(frame, 1, kNoFile, id);
            }
            board::Files::sync();
            board::Clock::sleepMs(100);
            const QString stored = c->read_config_variant(ConfigItem::Barcode).toString();
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_barcode = stored;
        }
    }
    return reply5(frame, 0, kDone, rec.id);
}

int message_deal::YP_SendFileData(unsigned char* frame)
{
    YP_FILE& rec = g_yp_s_file;
    if (frame_len < 18)
        return reply5(frame, 1, kBeyond, rec.id);
    const uint16_t id = rd16(frame + 10);
    const uint32_t offset = rd32(frame + 12);
    const unsigned n = rd16(frame + 16);
    // Blocks belong to the peer that started the transfer (another one's, or one whose
    // buffer went to another user, is refused as a wrong id).
    if (!FileBufOwner::use(FileBufOwner::PcCloudFile, holder()))
        return reply5(frame, 1, kWrongId, rec.id);
    // Bounded by the announced size, the kind's limit (so by the buffer) and the frame.
    const uint64_t reach = uint64_t(offset) + n;
    const bool beyond = reach > rec.size || reach > limit_of(rec.kind) || 18 + n > frame_len;
    if (id != rec.id)
        return reply5(frame, 1, beyond ? kBeyond : offset == rec.offset ? kWrongId : kWrongOffset, rec.id);
    if (offset != rec.offset)
        return reply5(frame, 1, beyond ? kBeyond : kWrongOffset, rec.id);
    if (beyond)
        return reply5(frame, 1, kBeyond, rec.id);
    if (rec.kind == kCaFile || rec.kind == kSetInfo) {
        std::memcpy(fileBuf_velin + header_of(rec.kind) + offset, frame + 18, n);
        rec.offset += n;
    }
    FileBufOwner::progress(FileBufOwner::PcCloudFile, holder(), offset, n);
    return reply5(frame, 0, kDone, rec.id);
}

int message_deal::YP_SendFileEND(unsigned char* frame)
{
    YP_FILE& rec = g_yp_s_file;
    const uint16_t id = frame_len >= 16 ? rd16(frame + 10) : 0;
    const uint32_t size = frame_len >= 16 ? rd32(frame + 12) : 0;
    if (!FileBufOwner::use(FileBufOwner::PcCloudFile, holder()))
        return reply5(frame, 1, kWrongId, rec.id);
    if (frame_len < 16 || id != rec.id || size != rec.size)
        return reply5(frame, 1, size != rec.size ? kBeyond : kWrongId, rec.id);
    if (rec.kind != kCaFile && rec.kind != kSetInfo) {
        FileBufOwner::settle(FileBufOwner::PcCloudFile, holder());
        return reply5(frame, 0, kDone, rec.id);
    }
    // Only a file that came whole is stored; a settings file without data holds no
    // properties to load, and would still replace the stored ones and the barcode.
    if (rec.offset != rec.size || rec.size > limit_of(rec.kind) || (rec.kind == kSetInfo && rec.size == 0))
        return reply5(frame, 1, kSizeDiffers, rec.id);
    unsigned length;
    if (rec.kind == kCaFile) {
        fileBuf_velin[0] = 0xAA;
        put16(fileBuf_velin + 1, rec.id);
        put32(fileBuf_velin + 3, rec.size);
        length = rec.offset + kCaHeader;
    } else {
        fileBuf_velin[0] = 0xAA;
        put16(fileBuf_velin + 1, uint16_t(rec.size + 2));
        length = rec.offset + kSetInfoHeader;
    }
    bool stored;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        stored = board::Files::writeAtomically(path_of(rec.kind), fileBuf_velin, length);
    }
    // The record and the buffer stay as they are: a second end stores the file again,
    // until anyone else takes the buffer.
    FileBufOwner::settle(FileBufOwner::PcCloudFile, holder());
    // The barcode file is read before the settings file: one left behind hides the new settings.
    if (stored && rec.kind == kSetInfo)
        stored = board::Files::remove(kBarcodePath) && !board::Files::exists(kBarcodePath);
    if (!stored)
        return reply5(frame, 1, kNoFile, rec.id);
    board::Files::sync();
    board::Clock::sleepMs(100);
    if (rec.kind == kSetInfo) {
        {
            std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
            g_4G_RAM[56] = 0;
        }
        p_message_deal_4g->get_4G_property();
        {
            std::lock_guard<std::mutex> hold(Utils::_reconfig_4g_mutex);
            g_reconfig_4g = 1;
        }
        std::lock_guard<std::mutex> hold(Utils::_reconfig_device_utorcloud_mutex);
        if (g_rconfig_device_utorcloud == 0)
            g_rconfig_device_utorcloud = 1;
    }
    return reply5(frame, 0, kDone, rec.id);
}

int message_deal::YP_SendFileCancel(unsigned char* frame)
{
    YP_FILE& rec = g_yp_s_file;
    const uint16_t id = frame_len >= 12 ? rd16(frame + 10) : 0;
    if (frame_len < 12 || id != rec.id || !FileBufOwner::use(FileBufOwner::PcCloudFile, holder()))
        return reply5(frame, 1, kWrongId, rec.id);
    rec = YP_FILE{};
    FileBufOwner::release(FileBufOwner::PcCloudFile, holder());
    return reply5(frame, 0, kDone, id);
}

// ---------------------------------------------------------------------------------------
// Device to PC

int message_deal::YP_RecvFile(unsigned char* frame)
{
    YP_FILE& rec = g_yp_r_file;
    uint8_t kind = 0;
    uint16_t id = 0;
    if (frame_len >= 14)
        name_of(frame + 10, kind, id);
    // Another link's or peer's read in progress keeps the record: this start is refused.
    if (!cloud_read_hold.take(holder())) {
        reply5(frame, 1, kRefused, id);
        put32(frame + 15, 0);
        return 9;
    }
    rec = YP_FILE{};
    rec.kind = kind;
    rec.id = id;
    bool found = kind != 0;
    g_read_copy.clear();
    if (kind == kBarcode) {
        // The barcode has no file: its text is what the blocks serve.
        const QByteArray text = barcode_text();
        g_read_copy.assign(text.constData(), text.constData() + text.size());
        rec.size = uint32_t(g_read_copy.size());
    } else if (kind != 0) {
        // The size is the header's, whatever its first byte; a file shorter than its header
        // has none.
        const unsigned h = header_of(kind);
        found = copy_stored(path_of(kind), g_read_copy) && g_read_copy.size() >= h;
        rec.size = found ? (kind == kCaFile ? rd32(g_read_copy.data() + 3) : rd16(g_read_copy.data() + 1)) : 0;
        if (!found) {
            board::Files::sync();
            board::Clock::sleepMs(100);
            board::Clock::sleepMs(1);
        }
    }
    if (!found)
        cloud_read_hold.release();   // nothing to read: nothing held
    reply5(frame, found ? 0 : 1, found ? kDone : kRefused, id);
    put32(frame + 15, rec.size);
    return 9;
}

int message_deal::YP_RecvFileData(unsigned char* frame)
{
    YP_FILE& rec = g_yp_r_file;
    const uint16_t id = frame_len >= 16 ? rd16(frame + 10) : 0;
    const uint32_t offset = frame_len >= 16 ? rd32(frame + 12) : 0;
    unsigned n = 0;
    unsigned char status = 0, code = kDone;
    if (frame_len < 16 || !cloud_read_hold.heldBy(holder()) || id != rec.id || offset != rec.offset) {
        status = 1;
        code = (frame_len >= 16 && id != rec.id && offset == rec.offset) ? kWrongId : kWrongOffset;
    } else if (rec.kind == kCaFile) {
        const uint32_t want = std::min<uint32_t>(rec.size - std::min(rec.size, offset), kRecvBlock);
        n = unsigned(from_copy(size_t(offset) + kCaHeader, frame + 21, want));
        board::Clock::sleepMs(1);
        rec.offset += n;
    } else if (rec.kind == kBarcode || rec.kind == kSetInfo) {
        // Every block carries size bytes: the barcode text, or the settings file's length
        // word and data (the size counts both); what the file or text lacks is 0.
        n = rec.size;
        if (protocol_phy::reply_fits(frame, 11 + n, reply_limit)) {
            std::memset(frame + 21, 0, n);
            from_copy(rec.kind == kBarcode ? 0 : 1, frame + 21, n);
        }
        rec.offset += rec.size;
    }
    // Bytes within the file keep the read alive (the barcode and settings blocks repeat the
    // whole file each time).
    if (status == 0 && n > 0 && offset < rec.size)
        cloud_read_hold.progress(offset, n);
    reply5(frame, status, code, rec.id);
    put32(frame + 15, rec.offset);
    put16(frame + 19, uint16_t(n));
    // A stored file too large for the link's reply is refused rather than cut.
    if (!protocol_phy::reply_fits(frame, 11 + n, reply_limit)) {
        reply5(frame, 1, kRefused, rec.id);
        put16(frame + 19, 0);
        return 11;
    }
    return 11 + int(n);
}

int message_deal::YP_RecvFileEnd(unsigned char* frame)
{
    const YP_FILE& rec = g_yp_r_file;
    const uint16_t id = frame_len >= 16 ? rd16(frame + 10) : 0;
    const uint32_t size = frame_len >= 16 ? rd32(frame + 12) : 0;
    const bool sizeOk = frame_len >= 16 && size == rec.size;
    if (frame_len >= 16 && id == rec.id && cloud_read_hold.heldBy(holder())) {
        // Done: the record stays as it is, free to the next reader.
        if (sizeOk)
            cloud_read_hold.settle();
        return reply5(frame, sizeOk ? 0 : 1, sizeOk ? kDone : kSizeDiffers, rec.id);
    }
    return reply5(frame, 1, sizeOk ? kWrongIdRightSize : kSizeDiffers, rec.id);
}

int message_deal::YP_RecvFileCancel(unsigned char* frame)
{
    YP_FILE& rec = g_yp_r_file;
    if (frame_len < 12 || rd16(frame + 10) != rec.id || !cloud_read_hold.heldBy(holder()))
        return reply5(frame, 1, kWrongId, rec.id);
    const uint16_t id = rec.id;
    rec = YP_FILE{};
    g_read_copy.clear();
    cloud_read_hold.release();
    return reply5(frame, 0, kDone, id);
}

// ---------------------------------------------------------------------------------------
// 0x8E, 0x8F

int message_deal::get_yp_module_info(unsigned char* frame)
{
    if (frame_len < 11 || frame[10] != 1) {
        frame[10] = 1;
        return 1;
    }
    frame[10] = 0;
    frame[11] = 1;
    {
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        std::memcpy(frame + 12, g_4G_RAM, 56);
    }
    frame[68] = 0;
    frame[69] = 0;
    return 60;
}

int message_deal::check_yp_module(unsigned char* frame)
{
    networkclient_Manage* client = networkclient_Manage::p_networkclient_Manage;
    unsigned char valid, online;
    {
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        valid = g_4G_RAM[0];
        online = g_4G_RAM[56];
    }
    if (valid == 0xAA && online != 0) {
        frame[10] = 0;
        frame[11] = 1;
        frame[12] = online;
    } else if (client && client->connected) {
        frame[10] = 0;
        frame[11] = 2;
        frame[12] = 1;
    } else {
        frame[10] = 1;
        frame[11] = 2;
        frame[12] = 0;
    }
    return 3;
}
