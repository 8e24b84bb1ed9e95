#include "protocol/message_deal.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "cloud/message_deal_4g.h"
#include "core/global.h"
#include "core/ini_text.h"
#include "core/kel_file_deal.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"
#include "fpga/fpga_manage.h"
#include "fpga/led_size.h"
#include "gui/mainwindow.h"
#include "protocol/message_deal_shared.h"
#include "protocol/pc_fields.h"
#include "protocol/protocol_phy.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <iterator>
#include <memory>
#include <thread>
#include <utility>

// Reload the OSD overlay file (the scaler manager's flag).
extern std::atomic<uint8_t> g_osd_update;

unsigned char g_4G_RAM[k4GRamSize];
std::mutex g_4G_RAM_mutex;
unsigned char g_4G_property[k4GPropertySize];

std::mutex message_deal::capture_mutex;
std::mutex message_deal::transfer_mutex;
TransferHold message_deal::file_read_hold;
TransferHold message_deal::cloud_read_hold;
QByteArray message_deal::capture_buf;

namespace {

using pcf::put16;
using pcf::rd16;
using pcf::rd32;
using mdshared::ScalerLock;
using mdshared::fpga_reg;
using mdshared::para;
using mdshared::scaler;

// Fixed request sizes (without the check byte) below which a group's fields are missing.
constexpr unsigned kRamHeader = 18;       // 0x60: address, length, two spare bytes
constexpr unsigned kRamReadHeader = 16;   // 0x61: address, length
constexpr unsigned kRegWriteLen = 14;     // 0xA0: register, mask, spare, value
constexpr unsigned kRegReadLen = 11;      // 0xA1: register
constexpr unsigned kSingleParaMin = 14;   // 0xB0: '1', spare, one item

// Register numbers of the controller's own image.
constexpr unsigned kRegCount = 170;

// The back-up mirror between an FPGA's parameter RAM and its back-up copy.
struct MirrorRow { unsigned para, back, len; };
constexpr MirrorRow kMirror[] = {
    {60, 0, 4},    {8, 4, 4},     {19, 12, 4},   {32, 20, 4},   {43, 28, 4},
    {520, 36, 4},  {528, 44, 4},  {536, 52, 4},  {544, 60, 4},
    {576, 68, 4},  {584, 76, 4},  {592, 84, 4},  {600, 92, 4},
    {608, 100, 4}, {616, 108, 4}, {624, 116, 4}, {632, 124, 4},
    {56, 132, 4},
};

uint8_t bcd(int v)
{
    v %= 100;
    return uint8_t(((v / 10) << 4) | (v % 10));
}

// The firmware-update dialog lives on the GUI thread: queue the call there.
void queue_mainwindow(void (MainWindow::*call)())
{
    if (!g_mainwindow)
        return;
    QMetaObject::invokeMethod(
        g_mainwindow, [call]() {
            if (g_mainwindow)
                (g_mainwindow->*call)();
        },
        Qt::QueuedConnection);
}

// Who started the firmware update the panel shows, whether it came with an image transfer
// of theirs, and the tick they were last seen at work on it (under its own lock).
struct UpdateStarter {
    std::mutex mutex;
    FileBufOwner::Holder holder;
    bool transfer = false;
    uint32_t heard = 0;
};
UpdateStarter& update_starter()
{
    static UpdateStarter s;
    return s;
}

// What the extension RAM's status, clock and running-time bytes are filled from, gathered
// before its locks are taken (each source has a lock of its own).
struct ExtendStamp {
    uint8_t brightness;
    QDateTime now;
    CLOCK_RECORD rec;
};
ExtendStamp extend_stamp()
{
    ExtendStamp st;
    st.brightness = fpga_reg(64, 0);
    st.now = QDateTime::fromSecsSinceEpoch(qint64(board::Clock::wallTime()));
    std::lock_guard<std::mutex> hold(clock_record_run::record_mutex);
    st.rec = g_clock_record;
    return st;
}

// The extension image changes under the image lock and, for the screen byte the manager
// writes, the register lock: a link that fills or copies it holds both.
class ExtendHold {
public:
    ExtendHold()
        : m_image(fpga_manage::ram_image_mutex, std::defer_lock)
    {
        if (fpga_manage* f = fpga_manage::p_fpga_manage) {
            m_reg = std::unique_lock<std::mutex>(f->reg_image_mutex, std::defer_lock);
            std::lock(m_image, m_reg);
        } else {
            m_image.lock();
        }
    }
private:
    std::unique_lock<std::mutex> m_image;
    std::unique_lock<std::mutex> m_reg;
};

void fill_extend_status(const ExtendStamp& st)
{
    fpga_manage::MCU_RAM_EXTEND[72] = 1;
    fpga_manage::MCU_RAM_EXTEND[49] = 0x9F;
    fpga_manage::MCU_RAM_EXTEND[28] = st.brightness;
    fpga_manage::MCU_RAM_EXTEND[73] = 0;
    fpga_manage::MCU_RAM_EXTEND[74] = 0;
}

void fill_extend_time(const ExtendStamp& st)
{
    unsigned char* x = fpga_manage::MCU_RAM_EXTEND;
    QDate d = st.now.date();
    QTime t = st.now.time();
    x[16] = bcd(d.year() % 100);
    x[17] = bcd(d.year() / 100);
    x[18] = bcd(d.month());
    x[19] = bcd(d.day());
    x[20] = bcd(t.hour());
    x[21] = bcd(t.minute());
    x[22] = bcd(t.second());
    // Day of the week, Monday 1 to Sunday 7.
    x[23] = bcd(d.dayOfWeek());

    const CLOCK_RECORD& rec = st.rec;
    uint32_t run = rec.minutes_since_start2 + rec.total;
    for (int i = 0; i < 4; ++i) {
        x[76 + i] = uint8_t(run >> (8 * i));
        x[80 + i] = uint8_t(rec.minutes_since_start >> (8 * i));
        x[96 + i] = uint8_t(rec.minutes_since_start2 >> (8 * i));
    }
    x[84] = uint8_t(rec.sequence);
    x[85] = uint8_t(rec.sequence >> 8);
    x[86] = uint8_t(rec.sequence >> 16);
    x[87] = 0;
    std::memcpy(x + 88, rec.time, 7);
    x[95] = 0xFF;
}

} // namespace

// ---------------------------------------------------------------------------------------

message_deal::message_deal(unsigned int replyLimit)
    : p_message_deal_4g(new message_deal_4g()), frame_len(0), reply_limit(replyLimit)
{
}

message_deal::~message_deal()
{
    delete p_message_deal_4g;
}

bool message_deal::holds_transfer(uint64_t of_peer)
{
    const FileBufOwner::Holder h{this, of_peer};
    std::lock_guard<std::mutex> hold(transfer_mutex);
    return FileBufOwner::busy_with(h) || (file_read_hold.heldBy(h) && !file_read_hold.lapsed())
           || (cloud_read_hold.heldBy(h) && !cloud_read_hold.lapsed());
}

void message_deal::release_peer(uint64_t of_peer)
{
    const FileBufOwner::Holder h{this, of_peer};
    {
        // A PC gone away finishes no firmware update it started.
        UpdateStarter& u = update_starter();
        std::unique_lock<std::mutex> starter(u.mutex);
        if (g_update_flag && u.holder == h) {
            starter.unlock();
            update_over();
        }
    }
    std::lock_guard<std::mutex> hold(transfer_mutex);
    switch (FileBufOwner::owner_of(h)) {
    case FileBufOwner::PcFileTransfer:
        drop_write(h);
        break;
    case FileBufOwner::PcCloudFile:
        g_yp_s_file = YP_FILE{};
        FileBufOwner::release(FileBufOwner::PcCloudFile, h);
        break;
    default:
        break;
    }
    if (file_read_hold.heldBy(h)) {
        std::lock_guard<std::mutex> files(Utils::_file_deal_mutex);
        if (file_velin)
            std::fclose(file_velin);
        file_velin = nullptr;
        file_read_hold.release();
    }
    if (cloud_read_hold.heldBy(h)) {
        g_yp_r_file = YP_FILE{};
        cloud_read_hold.release();
    }
}

bool message_deal::own_destination(const unsigned char* frame)
{
    return ((rd16(frame) + 0x0F00) & 0xFFFF) < 2;
}

unsigned char message_deal::fpga_of(const unsigned char* frame)
{
    if (frame[6] == 0 && (frame[7] == 1 || frame[7] == 2))
        return frame[7] - 1;
    return 0;
}

unsigned int message_deal::reply_filled(const unsigned char* frame, unsigned int len)
{
    // The long replies: a read of the controller's own RAM (every byte of it, read_ram), a
    // block of a read transfer (zeros, then the file's bytes, read_file_block).
    if (frame[9] == 0x61 && len >= kRamReadHeader && own_destination(frame))
        return 11 + rd16(frame + 14);
    if (frame[9] == 0xC0 && len >= 23 && frame[10] == 5 && uint64_t(rd32(frame + 19)) + 12 + 1 <= FRAME_BUF_SIZE)
        return 12 + rd32(frame + 19);
    return 0;
}

// A reply owed for the stores its request waits for: sent when they are done and the
// handler has written it, whichever comes last.
struct message_deal::LaterReply {
    std::mutex m;
    std::function<void(std::vector<unsigned char>, unsigned)> send;
    std::vector<unsigned char> frame;
    unsigned len = 0;
    int waits = 0;      // stores still to be done
    int status = 0;     // or'ed into byte 10
    bool written = false;
    void sendIfDone(std::unique_lock<std::mutex>& hold)
    {
        if (!written || waits > 0 || !send)
            return;
        frame[10] = uint8_t(frame[10] | status);
        auto out = std::move(send);
        send = nullptr;
        std::vector<unsigned char> bytes = std::move(frame);
        hold.unlock();
        out(std::move(bytes), len);
    }
};

bool message_deal::answer_when_stored(KelRamPara* p, bool resync)
{
    if (!later || !p)
        return false;
    if (!m_later) {
        m_later = std::make_shared<LaterReply>();
        m_later->send = later;
    }
    std::shared_ptr<LaterReply> r = m_later;
    {
        std::lock_guard<std::mutex> hold(r->m);
        ++r->waits;
    }
    std::optional<KelRamPara::ModeSaveAsk> asked;
    for (auto a = m_mode_save_askers.begin(); a != m_mode_save_askers.end(); ++a)
        if (a->peer == peer) {
            asked = KelRamPara::ModeSaveAsk{a->slot, a->saved};
            m_mode_save_askers.erase(a);
            break;
        }
    std::vector<std::pair<int, uint32_t>> written;
    if (resync) {
        const auto mine = std::stable_partition(m_slot_writes.begin(), m_slot_writes.end(), [this](const SlotWrite& w) { return w.peer != peer; });
        for (auto w = mine; w != m_slot_writes.end(); ++w)
            written.emplace_back(w->slot, w->dropped);
        m_slot_writes.erase(mine, m_slot_writes.end());
    }
    p->await_store_locked([r](int status) {
        std::unique_lock<std::mutex> hold(r->m);
        --r->waits;
        r->status |= status;
        r->sendIfDone(hold);
    }, resync, asked, written);
    return true;
}

int message_deal::message_group_deal(unsigned char* frame, unsigned int len, unsigned char link)
{
    m_later.reset();
    const int n = dispatch(frame, len, link);
    std::shared_ptr<LaterReply> r = std::exchange(m_later, nullptr);
    if (!r)
        return n;
    // The handler's reply as it stands; the stores' status goes into byte 10 when they end.
    std::unique_lock<std::mutex> hold(r->m);
    r->len = unsigned(std::max(n, 1));
    r->frame.assign(frame, frame + 11 + r->len);
    r->written = true;
    r->sendIfDone(hold);
    return kLater;
}

int message_deal::dispatch(unsigned char* frame, unsigned int len, unsigned char link)
{
    // Links drop anything shorter than a header and check byte; keep the handlers safe even
    // when a caller forgets.
    if (len < 10)
        return 0;
    frame_len = len;
    switch (frame[9]) {
    case 0x60: return write_ram(frame);
    case 0x61: return read_ram(frame);
    case 0x70: return cmd_erase_flash(frame);
    case 0x71: return cmd_write_flash(frame);
    case 0x72: return cmd_read_flash(frame);
    case 0x81: return param_save(frame);
    case 0x82: return get_card_version(frame);
    case 0x83: return get_card_uid(frame);
    case 0x84: return start_update(frame, len);
    case 0x87: return write_rtc_time(frame);
    case 0x8E: return get_yp_module_info(frame);
    case 0x8F: return check_yp_module(frame);
    case 0xA0: return write_register(frame);
    case 0xA1: return read_register(frame);
    case 0xA2: return barcode_group(frame);
    case 0xA4: return net_eth_group(frame);
    case 0xB0: return vedio_write_single_para(frame, len);
    case 0xC0: return write_file_group(frame);   // takes transfer_mutex itself
    case 0xC1: return write_edid_table_group(frame);
    case 0xC3:
        if (len > 10 && frame[10] == 11)
            return project_set_setproperty(frame, link);
        return 0;
    case 0xC4: return p_message_deal_4g->message_deal_4G(frame, len);
    case 0xC5: case 0xC6: case 0xC7: case 0xC8: case 0xC9: case 0xCA: case 0xCB: case 0xCC: {
        std::lock_guard<std::mutex> hold(transfer_mutex);
        switch (frame[9]) {
        case 0xC5: return YP_SendFileData(frame);
        case 0xC6: return YP_SendFileEND(frame);
        case 0xC7: return YP_SendFileCancel(frame);
        case 0xC8: return YP_RecvFile(frame);
        case 0xC9: return YP_RecvFileData(frame);
        case 0xCA: return YP_RecvFileEnd(frame);
        case 0xCB: return YP_RecvFileCancel(frame);
        default: return YP_SendFile(frame);
        }
    }
    default: return 0;
    }
}

// ---------------------------------------------------------------------------------------
// Group 0x60: write RAM

int message_deal::write_ram(unsigned char* frame)
{
    if (frame_len < kRamHeader) {
        frame[10] = 1;
        return 1;
    }
    uint32_t A = rd32(frame + 10);
    unsigned L = rd16(frame + 14);
    if (kRamHeader + L > frame_len) {
        // The announced data is not all in the frame.
        frame[10] = 1;
        return 1;
    }
    const unsigned char* data = frame + kRamHeader;
    if (!own_destination(frame))
        return write_ram_fpga(frame, A, L);

    unsigned char status = 1;
    KelRamPara* p = para();
    if (A < 0x1000) {
        if (p)
            status = (unsigned char)p->KelRamParaDeal(data, uint16_t(L), A);
        if (p && status == 0 && A <= uint32_t(KelRamPara::kModeSaveRequest + 1) && A + L > uint32_t(KelRamPara::kModeSaveRequest)) {
            std::unique_lock<std::mutex> block = KelRamPara::lock_block();
            auto a = std::find_if(m_mode_save_askers.begin(), m_mode_save_askers.end(), [this](const ModeSaveAsker& a) { return a.peer == peer; });
            if (a == m_mode_save_askers.end())
                a = m_mode_save_askers.insert(a, {peer, -1, 0});
            // What the word names after this write: the save its PC waits for.
            const int named = int(p->ram16(KelRamPara::kModeSaveRequest)) - 1;
            a->slot = named >= 0 && named < KelRamPara::kModeSlots ? named : -1;
            a->saved = a->slot >= 0 ? p->mode_slot_saves[a->slot].load() : 0;
            // Bounded whatever the network sends: the oldest asker is forgotten first.
            if (m_mode_save_askers.size() > kPeersRemembered)
                m_mode_save_askers.erase(m_mode_save_askers.begin());
        }
    } else if (A <= 0x10FFF) {
        if (p)
            status = (unsigned char)p->KelModeUserRamParaDeal(data, uint16_t(L), A);
        const int slot = int(A >> 12) - 1;
        if (p && status == 0 && std::none_of(m_slot_writes.begin(), m_slot_writes.end(), [&](const SlotWrite& w) { return w.peer == peer && w.slot == slot; })) {
            std::unique_lock<std::mutex> block = KelRamPara::lock_block();
            m_slot_writes.push_back({peer, slot, p->slot_dropped[slot].load()});
            if (m_slot_writes.size() > kPeersRemembered * size_t(KelRamPara::kModeSlots))
                m_slot_writes.erase(m_slot_writes.begin());
        }
    } else if (A >= 0xA1000000u && A <= 0xA10000FFu && uint64_t(A) + L <= 0xA1000100u) {
        // The 4G status block is written from its first byte; the offset within the area
        // is not applied.
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        std::memcpy(g_4G_RAM, data, L);
        status = 0;
    }
    frame[10] = status;
    return 1;
}

int message_deal::write_ram_fpga(unsigned char* frame, uint32_t A, unsigned int L)
{
    fpga_manage* f = fpga_manage::p_fpga_manage;
    const unsigned char* data = frame + kRamHeader;
    const unsigned T = (A >> 24) & 0x0F;
    const unsigned I = (A >> 12) & 0x0F;
    const unsigned char F = fpga_of(frame);
    const uint32_t off24 = A & 0xFFFFFF;
    const uint32_t offT = A & 0xFF0FFF;
    // The FPGA's command word carries only the low 12 address bits; the type and index
    // bits above them select the RAM, and the transfer refuses a wider address.
    const uint32_t ramAddr = A & 0xFFF;
    auto refuse = [&]() {
        frame[10] = 1;
        return 1;
    };
    if (!f)
        return refuse();
    // The FPGA is sent the request's own bytes first: an image takes them only when they
    // reached the FPGA (else the PC is told the write failed and the image stays as the FPGA
    // has it), and then under its lock, so a read of it by another PC sees the image before
    // or after, never half of it.
    unsigned char* own = frame + kRamHeader;
    auto reached = [&](unsigned char ram) { return f->write_fpga_ram(own, ramAddr, L, ram, F) == 0; };
    auto push = [&](unsigned char* image, unsigned char ram) {
        if (!reached(ram))
            return false;
        std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
        std::memcpy(image, data, L);
        return true;
    };

    // The extension image is rewritten by other links' reads (clock and running time) and
    // its screen byte by the manager under the register lock: it changes under both.
    auto extension_write = [&](uint32_t offset) {
        uint8_t mask;
        {
            ExtendHold hold;
            std::memcpy(fpga_manage::MCU_RAM_EXTEND + offset, data, L);
            fpga_manage::MCU_RAM_EXTEND[49] &= uint8_t(~0x40);
            mask = fpga_manage::MCU_RAM_EXTEND[257];
        }
        std::lock_guard<std::mutex> hold(Utils::_fpga_multicast_mutex);
        f->multicast_enable = 0;
        f->multicast_mask = mask;
    };
    bool done = true;

    if (T == 0 && (A & 0xFFF800) == 0) {
        if (off24 + L > 1024)
            return refuse();
        unsigned char* image = fpga_manage::MCU_RAM_PARA_func[F];
        unsigned char* back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[F];
        done = reached(1);
        if (done) {
            std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
            std::memcpy(image + off24, data, L);
            for (const MirrorRow& m : kMirror)
                std::memcpy(back + m.back, image + m.para, m.len);
        }
    } else if (T == 0) {
        // Extension RAM: the area above 2 KiB of the address.
        if (off24 - 2048 + L > 1024)
            return refuse();
        extension_write(off24 - 2048);
    } else if (T == 1 || T == 2) {
        if (offT + L > 1024)
            return refuse();
        if (T == 1) {
            if (I != 0)
                done = push((I & 1) ? fpga_manage::MCU_RAM_RX_func[F] : fpga_manage::MCU_RAM_TX_func[F], (unsigned char)(I + 1));
        } else if (I == 0) {
            done = push(fpga_manage::MCU_RAM_DEFAULT, 33);
        } else {
            done = push(fpga_manage::MCU_RAM_ZOOM, (unsigned char)(33 + I));
        }
    } else {
        if (off24 + L > 1024)
            return refuse();
        if (T == 4) {
            done = push(fpga_manage::MCU_RAM_TX_func[F], 50);
        } else if (T == 5) {
            std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);   // other links read it
            std::memcpy(fpga_manage::MCU_RAM_CMD, data, L);
        } else if (T == 6) {
            extension_write(off24);
        }
    }
    frame[10] = done ? 0 : 1;
    return 1;
}

// ---------------------------------------------------------------------------------------
// Group 0x61: read RAM

namespace {
// The captures PCs ask for, one at a time: a request that comes while one is made, or in
// the tick that made the last, is served from that one. The screen changes at most once a
// tick, and PCs capturing back to back would otherwise keep the GUI thread grabbing.
struct CaptureTurn {
    std::mutex m;
    std::condition_variable made_cv;
    bool making = false;
    bool any = false;
    uint64_t made = 0;          // captures made so far
    uint32_t madeTick = 0;      // the tick the last was made in
};
CaptureTurn g_capture_turn;
} // namespace

unsigned int message_deal::capture_screen()
{
    // Only the grab is the GUI thread's; the PNG is encoded by whoever asked.
    auto grab = []() -> QImage {
        QScreen* screen = QGuiApplication::primaryScreen();
        return screen ? screen->grabWindow(0).toImage() : QImage();
    };
    CaptureTurn& turn = g_capture_turn;
    QCoreApplication* app = QCoreApplication::instance();
    const bool screens = app && qobject_cast<QGuiApplication*>(app);
    const bool onGui = screens && QThread::currentThread() == app->thread();
    auto served = [] {
        std::lock_guard<std::mutex> hold(capture_mutex);
        return unsigned(capture_buf.size());
    };
    {
        std::unique_lock<std::mutex> lk(turn.m);
        // The GUI thread makes its own (a capture being made waits for it).
        if (turn.making && !onGui) {
            const uint64_t seen = turn.made;
            if (turn.made_cv.wait_for(lk, std::chrono::seconds(3), [&] { return turn.made != seen; }))
                return (lk.unlock(), served());
        }
        if (turn.any && turn.madeTick == G_timeTicks.load())
            return (lk.unlock(), served());
        if (!onGui)
            turn.making = true;
    }

    QImage image;
    if (!screens) {
        // No screen in this process.
    } else if (onGui) {
        image = grab();
    } else {
        // Widgets and screens belong to the GUI thread: the grab is queued there and this
        // link waits for it, bounded so a busy or stopped GUI cannot hang the link.
        struct Pending {
            std::mutex m;
            std::condition_variable cv;
            bool done = false;
            QImage image;
        };
        auto pending = std::make_shared<Pending>();
        QMetaObject::invokeMethod(
            app, [pending, grab]() {
                QImage i = grab();
                std::lock_guard<std::mutex> hold(pending->m);
                pending->image = i;
                pending->done = true;
                pending->cv.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock<std::mutex> lk(pending->m);
        if (pending->cv.wait_for(lk, std::chrono::seconds(3), [&] { return pending->done; }))
            image = pending->image;
    }
    QByteArray png;
    if (!image.isNull()) {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "png");
    }
    if ((unsigned)png.size() > CAPTURE_WINDOW - 2)
        png.truncate(CAPTURE_WINDOW - 2);
    {
        std::lock_guard<std::mutex> hold(capture_mutex);
        capture_buf = png;
    }
    std::lock_guard<std::mutex> hold(turn.m);
    if (!onGui)
        turn.making = false;
    turn.any = true;
    turn.madeTick = G_timeTicks.load();
    ++turn.made;
    turn.made_cv.notify_all();
    return (unsigned)png.size();
}

void message_deal::build_property_block(unsigned char* pb)
{
    std::memset(pb, 0, 0x1000);
    fpga_manage* f = fpga_manage::p_fpga_manage;
    bool ready = p_message_deal_4g->get_4G_property() == 0 && f && fpga_reg(80, 0) == 3 && f->link_stage[0] == 7;
    pb[0x00] = ready ? 0xAA : 0;
    pb[0x01] = 1;
    pb[0x02] = 0;
    pb[0x03] = 1;
    pb[0x04] = 0x52;   // controller type 40018
    pb[0x05] = 0x9C;
    pb[0x06] = 0x48;
    pb[0x07] = 0x0B;
    pb[0x08] = 10;
    pb[0x09] = g_uTor_cloud;
    pb[0x10] = g_update_status;
    pb[0x11] = 8;
    pb[0x12] = 0x52;
    pb[0x13] = 0x9C;
    pb[0x14] = 2;
    pb[0x15] = 0x26;
    pb[0x16] = 9;
    pb[0x17] = 0x28;
    pb[0x18] = 0;
    pb[0x19] = 11;
    uint32_t t = G_timeTicks / 20;
    for (int i = 0; i < 4; ++i)
        pb[0x1C + i] = uint8_t(t >> (8 * i));
    pb[0x29] = 0x48;
    pb[0x2A] = 11;
    pb[0x2B] = 11;
    pb[0x2C] = fpga_reg(31, 0);
    pb[0x2D] = fpga_reg(30, 0);
    pb[0x2E] = fpga_reg(29, 0);
    pb[0x2F] = fpga_reg(28, 0);
    pb[0x42] = 12;
    {
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        std::memcpy(pb + 0x43, g_4G_property + 25, 12);
        std::memcpy(pb + 0x65, g_4G_property + 68, 4);
        pb[0x69] = g_4G_property[127];
        pb[0x6A] = g_4G_property[126];
    }
    if (f) {
        // The unique id of the flash behind FPGA 0 (8 bytes; the rest of the field stays 0)
        // and the card count of its output ports.
        // An id the flash did not give stays zero: the block is a read-out, nothing to refuse.
        if (!fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(2, pb + 0x6B))
            std::memset(pb + 0x6B, 0, 8);
        uint16_t cards;
        {
            std::lock_guard<std::mutex> hold(f->port_path_mutex);   // the search sweep's lock
            cards = f->netport_card_result;
        }
        pb[0x7C] = pb[0x7E] = uint8_t(cards);
        pb[0x7D] = pb[0x7F] = uint8_t(cards >> 8);
    }
    if (KelRamPara* p = para()) {
        // One copy under the block's lock: a PC's write of the size on another link never
        // shows half done.
        uint8_t size[4] = {};
        static_assert(KelRamPara::kLedHeight == KelRamPara::kLedWidth + 2, "width and height adjoin");
        p->copy_bytes(KelRamPara::kLedWidth, size, 4);
        uint16_t w = KelRamPara::get16(size), h = KelRamPara::get16(size + 2);
        pb[0x80] = uint8_t(w >> 8);
        pb[0x81] = uint8_t(w);
        pb[0x82] = uint8_t(h >> 8);
        pb[0x83] = uint8_t(h);
    }
    QByteArray server, user, name;
    uint16_t port;
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        server = g_uTor_cloudserverip.toLatin1();
        user = g_uTor_clouduserid.toLatin1();
        name = g_uTor_controllername.toLatin1();
        port = uint16_t(g_uTor_cloudserverport);
    }
    // Three length-prefixed texts of at most 255 bytes each: they end below 0x400.
    unsigned pos = 0x84;
    auto text = [&](const QByteArray& s) {
        unsigned n = unsigned(s.size()) & 0xFF;
        pb[pos++] = uint8_t(n);
        std::memcpy(pb + pos, s.constData(), n);
        pos += n;
    };
    text(server);
    pb[pos++] = uint8_t(port);
    pb[pos++] = uint8_t(port >> 8);
    text(user);
    text(name);
}

unsigned char message_deal::read_own_byte(uint64_t a, uint32_t start, const unsigned char* property)
{
    KelRamPara* p = para();
    if (a >= 0x800000 && a <= 0x800001)
        return 0xAA;
    if (a >= 0x800002 && a <= 0x80007F) {
        uint32_t len = (uint32_t)capture_buf.size();
        switch (a - 0x800000) {
        case 0x02: return 0x40;   // width 320
        case 0x03: return 0x01;
        case 0x04: return 0xF0;   // height 240
        case 0x05: return 0;
        case 0x06: return 24;     // bits per pixel
        case 0x0C: return uint8_t(len);
        case 0x0D: return uint8_t(len >> 8);
        case 0x0E: return uint8_t(len >> 16);
        case 0x0F: return uint8_t(len >> 24);
        default: return 0;
        }
    }
    if (a >= 0x800080 && a <= 0xA0007F) {
        uint64_t i = a - 0x800080;
        if (i < 2)
            return 0xAA;
        return (i - 2 < (uint64_t)capture_buf.size()) ? (unsigned char)capture_buf[int(i - 2)] : 0;
    }
    if (a >= 0x600000 && a <= 0x600027) {
        static const unsigned char head[4] = {3, 9, 9, 8};
        return a - 0x600000 < 4 ? head[a - 0x600000] : 0;
    }
    if (a >= 0x600040 && a <= 0x60043F) {
        unsigned d = unsigned(a - 0x600040);
        int lang = g_lcd_lang_valid;
        int pixels = g_kel_max_pixel;
        switch (d) {
        case 0: return uint8_t(lang);
        case 2: return 16;
        case 4: case 6: return 0xFC;
        case 5: case 7: case 56: return 0x1F;
        case 8: case 10: case 50: return 0x40;
        case 12: case 13: case 14: case 15: return uint8_t(uint32_t(pixels) >> (8 * (d - 12)));
        case 28: return 4;
        case 30: return 0x28;
        case 34: case 40: return 8;
        case 36: return 0x1C;
        case 42: case 44: case 51: case 59: case 60: return 1;
        case 52: return 0xF0;
        case 54: return g_4G_RAM[0] == 0xAA ? 1 : 0;
        case 58: return (lang & (1 << 17)) ? 2 : 1;
        default: return 0;
        }
    }
    if (a >= 0x1000 && a <= 0x10FFF) {
        // Slot k is taken from the start address; a long read runs on through the following
        // slots, which lie back to back (4098 bytes each, so the address and the slot drift
        // apart). A read that starts in the block continues with slot 0 from its marker.
        // Past the last slot reads 0.
        const uint64_t k = (start >> 12) >= 1 ? (start >> 12) - 1 : 0;
        const uint64_t flat = k * KelRamPara::kModeSlotSize + (a - (k + 1) * 0x1000);
        if (!p || flat >= uint64_t(KelRamPara::kModeSlots) * KelRamPara::kModeSlotSize)
            return 0;
        return p->mode_slot[flat / KelRamPara::kModeSlotSize][flat % KelRamPara::kModeSlotSize];
    }
    if (a >= 0x600440 && a <= 0x60083F) {
        switch (unsigned(a - 0x600440)) {
        case 0: return 0x52;
        case 1: return 0x9C;
        case 2: return 25;
        case 4: return 12;
        case 6: case 18: case 20: case 40: case 42: return 1;
        case 16: case 38: return 2;
        case 64: case 65: case 96: case 97: return 15;
        case 66: case 67: case 98: case 99: return 3;
        default: return 0;
        }
    }
    if (a >= 0x600880 && a <= 0x600C7F)
        return p ? p->reg_image[37 + (a - 0x600880)] : 0;
    if (a >= 0xA1000000u && a <= 0xA1000100u) {
        uint64_t i = a - start;
        return i < k4GRamSize ? g_4G_RAM[i] : 0;
    }
    if (a >= 0xFD000000u && a <= 0xFD0003FFu)
        return 0;
    if (a >= 0xA0000000u && a <= 0xA0000FFFu)
        return property[a - 0xA0000000u];
    if (a < 0x1000)
        return p ? p->ram[a] : 0;
    return 0;
}

namespace {
// The controller's own address space: every range something is kept at (the block and the
// slots, the description blocks, the register image, the capture, the property and 4G
// blocks, the two areas answered without a store). A read anywhere else has nothing to
// answer with.
constexpr std::pair<uint64_t, uint64_t> kOwnRows[] = {
    {0, 0x10FFF}, {0x600000, 0x600027}, {0x600040, 0x60083F}, {0x600880, 0x600C7F}, {0x800000, 0xA0007F},
    {0xA0000000u, 0xA0000FFFu}, {0xA1000000u, 0xA1000100u}, {0xFD000000u, 0xFD0003FFu}, {0xFE000000u, 0xFEFFFFFFu}};

bool own_range_kept(uint32_t A, unsigned L)
{
    const uint64_t end = uint64_t(A) + L;
    for (uint64_t a = A; a < end;) {
        const auto* row = std::find_if(std::begin(kOwnRows), std::end(kOwnRows), [a](const auto& r) { return a >= r.first && a <= r.second; });
        if (row == std::end(kOwnRows))
            return false;
        a = row->second + 1;
    }
    return true;
}
} // namespace

bool message_deal::copy_own_range(uint32_t A, unsigned L, const unsigned char* property, unsigned char* out)
{
    if (L == 0)
        return true;
    KelRamPara* p = para();
    const uint64_t last = uint64_t(A) + L - 1;
    auto within = [&](uint64_t lo, uint64_t hi) { return A >= lo && last <= hi; };
    const unsigned char* from = nullptr;
    size_t avail = L;   // bytes that come from 'from'; the rest of the range reads 0
    if (within(0, 0xFFF)) {
        from = p ? p->ram + A : nullptr;
    } else if (within(0x1000, 0x10FFF)) {
        // The slots lie back to back, so the range is one run from the start's slot on.
        const size_t total = size_t(KelRamPara::kModeSlots) * KelRamPara::kModeSlotSize;
        const size_t k = (A >> 12) - 1;
        const size_t flat = k * KelRamPara::kModeSlotSize + (A & 0xFFF);
        avail = flat < total ? std::min<size_t>(L, total - flat) : 0;
        from = p ? reinterpret_cast<const unsigned char*>(p->mode_slot) + flat : nullptr;
    } else if (within(0x600880, 0x600C7F)) {
        from = p ? p->reg_image + 37 + (A - 0x600880) : nullptr;
    } else if (within(0xA0000000u, 0xA0000FFFu)) {
        from = property + (A - 0xA0000000u);
    } else {
        return false;
    }
    if (!from)
        avail = 0;
    if (avail)
        std::memcpy(out, from, avail);
    std::memset(out + avail, 0, L - avail);
    return true;
}

int message_deal::read_ram(unsigned char* frame)
{
    if (frame_len < kRamReadHeader) {
        frame[10] = 1;
        frame[11] = 0;
        return 2;
    }
    uint32_t A = rd32(frame + 10);
    unsigned L = rd16(frame + 14);
    int r;
    if (!own_destination(frame)) {
        r = read_ram_fpga(frame, A, L);
    } else if (!own_range_kept(A, L)) {
        frame[10] = 1;
        frame[11] = 0;
        return 2;
    } else {
        const uint64_t end = uint64_t(A) + L;   // one past the last address
        auto overlaps = [&](uint64_t lo, uint64_t hi) { return uint64_t(A) <= hi && end > lo; };
        // The grab waits for the GUI thread, so it happens before anything is locked.
        if (overlaps(0x800000, 0x800001))
            capture_screen();
        std::unique_ptr<unsigned char[]> property;
        if (overlaps(0xA0000000u, 0xA0000FFFu)) {
            property.reset(new unsigned char[0x1000]);
            build_property_block(property.get());
        }
        std::unique_lock<std::mutex> capture;
        if (overlaps(0x800002, 0xA0007F))
            capture = std::unique_lock<std::mutex>(capture_mutex);
        // The block, the slots and the 4G block are written by other links' threads.
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        std::lock_guard<std::mutex> status4g(g_4G_RAM_mutex);
        // The receivers publish the input status under the parameter object's own lock.
        std::unique_lock<std::mutex> inputStatus;
        if (overlaps(256, 291) && KelRamPara::p_kelrampara_config)
            inputStatus = std::unique_lock<std::mutex>(KelRamPara::p_kelrampara_config->mutex);
        for (unsigned i = copy_own_range(A, L, property.get(), frame + 11) ? L : 0; i < L; ++i) {
            uint64_t a = uint64_t(A) + i;
            if (a >= 0xFE000000u && a <= 0xFEFFFFFFu) {
                // Not read: the reply keeps what the buffer held, the request's own bytes or
                // zeros (the link leaves this range to this loop).
                if (11 + i > frame_len)
                    frame[11 + i] = 0;
                continue;
            }
            frame[11 + i] = read_own_byte(a, A, property.get());
        }
        frame[10] = 0;
        r = int(L) + 1;
    }
    // A reply that would not fit the link is refused rather than cut.
    if (!protocol_phy::reply_fits(frame, unsigned(r), reply_limit)) {
        frame[10] = 1;
        frame[11] = 0;
        return 2;
    }
    return r;
}

int message_deal::read_ram_fpga(unsigned char* frame, uint32_t A, unsigned int L)
{
    fpga_manage* f = fpga_manage::p_fpga_manage;
    const unsigned T = (A >> 24) & 0x0F;
    const unsigned I = (A >> 12) & 0x0F;
    const unsigned char F = fpga_of(frame);
    // The low 12 bits address the FPGA's RAM (all its command word carries); the bits
    // above select the RAM.
    const uint32_t off = A & 0xFFF;
    unsigned char* out = frame + 11;

    const bool extension = (T == 0 && (A & 0x800)) || T == 6;
    const uint32_t start = (T == 0 && (A & 0x800)) ? off - 2048 : off;
    if (start + L > 1024) {
        frame[10] = 1;
        frame[11] = 0;
        return 2;
    }
    frame[10] = 0;
    const bool running = f && fpga_reg(80, F) == 3;
    // A fetched reply: the image is refreshed from the FPGA when its MCU runs, else zeros.
    // The FPGA's bytes come into the reply itself (this link's own buffer); the shared image
    // takes them, or gives its last bytes when the read failed, under its lock: another PC's
    // read or write of the same image never shows through half done.
    auto refresh = [&](unsigned char* image, unsigned char ram) {
        const bool ok = f->read_fpga_ram(out, off, L, ram, F) == 0;
        std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
        std::memcpy(ok ? image : out, ok ? out : image, L);
    };
    auto fetched = [&](unsigned char* image, unsigned char ram, uint32_t from) {
        if (!running)
            std::memset(out, 0, L);
        else
            refresh(image + from, ram);
    };

    if (extension) {
        // Filled and copied out in one hold: another link's read or write never shows
        // through half done (a torn running-time counter).
        const ExtendStamp st = extend_stamp();
        ExtendHold hold;
        fill_extend_status(st);
        fill_extend_time(st);
        std::memcpy(out, fpga_manage::MCU_RAM_EXTEND + start, L);
    } else if (T == 0) {
        if (!running) {
            std::memset(out, 0, L);
        } else {
            unsigned char* image = fpga_manage::MCU_RAM_PARA_func[F];
            unsigned char* back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[F];
            refresh(image + off, 1);
            std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
            for (const MirrorRow& m : kMirror)
                std::memcpy(image + m.para, back + m.back, m.len);
            std::memcpy(out, image + off, L);
            // With the LED panel on one output channel the FPGA's width word at 116 counts
            // both halves: the reply carries half of it. Only the reply is changed, so
            // repeated reads never halve it twice.
            const c331_manage* s = c331_manage::p_c331_manage;
            if (s && s->pnl.oneOch == 1 && off <= 116 && off + L >= 118)
                KelRamPara::put16(out + (116 - off), uint16_t(KelRamPara::get16(out + (116 - off)) / 2));
        }
    } else if (T == 1) {
        if (I != 0) {
            unsigned char* image = (I & 1) ? fpga_manage::MCU_RAM_RX_func[F] : fpga_manage::MCU_RAM_TX_func[F];
            if (image)
                fetched(image, (unsigned char)(I + 1), 0);
        }
    } else if (T == 2) {
        if (I == 0)
            fetched(fpga_manage::MCU_RAM_DEFAULT, 33, 0);
        else
            fetched(fpga_manage::MCU_RAM_ZOOM, (unsigned char)(33 + I), 0);
    } else if (T == 4) {
        if (fpga_manage::MCU_RAM_TX_func[F])
            fetched(fpga_manage::MCU_RAM_TX_func[F], 50, 0);
    } else if (T == 5) {
        std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);   // other links write it
        std::memcpy(out, fpga_manage::MCU_RAM_CMD, L);
    }
    return int(L) + 1;
}

void message_deal::FPGA_Ex_ram_update()
{
    ExtendStamp st = extend_stamp();
    ExtendHold hold;
    fill_extend_status(st);
}

void message_deal::Time_to_RAM()
{
    ExtendStamp st = extend_stamp();
    ExtendHold hold;
    fill_extend_time(st);
}

void message_deal::set_para_sync()
{
    fpga_manage* f = fpga_manage::p_fpga_manage;
    KelRamPara* p = para();
    if (!f || !p)
        return;
    unsigned char image[64];   // the screen's extents, copied under the image's lock
    {
        std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
        std::memcpy(image, fpga_manage::MCU_RAM_PARA_func[0], sizeof image);
    }
    int W = rd16(image + 60) + rd16(image + 56);
    int H = rd16(image + 62) + rd16(image + 58);
    W = std::max(W, 64);
    H = std::max(H, 64);
    KEL_TRACE("\n set_para_sync: FPGA LED screen %d x %d\n", W, H);
    ScalerLock lock;
    if (p->ram16(KelRamPara::kLedWidth) == W && p->ram16(KelRamPara::kLedHeight) == H)
        return;
    p->put16(p->ram + KelRamPara::kPanelMode, 0);
    p->put16(p->ram + KelRamPara::kLedWidth, uint16_t(W));
    p->put16(p->ram + KelRamPara::kLedHeight, uint16_t(H));
    for (int rect : {1408, 1416}) {
        p->put16(p->ram + rect, 0);
        p->put16(p->ram + rect + 2, 0);
        p->put16(p->ram + rect + 4, uint16_t(W));
        p->put16(p->ram + rect + 6, uint16_t(H));
    }
    unsigned char* w0 = p->ram + KelRamPara::kLayers;
    p->put16(w0 + KelRamPara::kLayerWindow, 0);
    p->put16(w0 + KelRamPara::kLayerWindow + 2, 0);
    p->put16(w0 + KelRamPara::kLayerWindow + 4, uint16_t(W));
    p->put16(w0 + KelRamPara::kLayerWindow + 6, uint16_t(H));
    for (int k = 1; k < KelRamPara::kLayerCount; ++k)
        p->put16(p->ram + KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerFlags, 0);
    lock.apply(1);
}

// ---------------------------------------------------------------------------------------
// Group 0xB0: single settings by item number

int message_deal::vedio_write_single_para(unsigned char* frame, unsigned int len)
{
    if (len < kSingleParaMin || frame[10] != 0x31) {
        frame[10] = 1;
        return 1;
    }
    KelRamPara* p = para();
    unsigned char error = 0, apply = 0;
    if (p) {
        unsigned char* ram = p->ram;
        ScalerLock lock;
        // Only whole items: a trailing partial item is not read.
        for (unsigned i = 12; i + 3 <= len; i += 3) {
            unsigned N = frame[i];
            unsigned V = rd16(frame + i + 1);
            switch (N) {
            case 6:
                if (V <= 100) {
                    put16(ram + KelRamPara::kBrightness, uint16_t(V));
                    apply = 1;
                }
                break;
            case 21: case 29: case 37: case 45: {
                int w = (int(N) - 21) / 8;
                if (V >= 1 && V <= 4) {
                    put16(ram + KelRamPara::kLayers + w * KelRamPara::kLayerSize + KelRamPara::kLayerSource, uint16_t(V - 1));
                    apply = 1;
                } else if (V == 0 || V == 5) {
                    error = 1;
                    apply = 0;
                }
                break;
            }
            case 50: case 51:
                if (V <= 5) {
                    error = 1;
                    apply = 0;
                }
                break;
            case 54:
                if (V <= 7 || (V >= 16 && V <= 23)) {
                    unsigned s = V <= 7 ? V : V - 8;
                    const unsigned char* slot = p->mode_slot[s];
                    if (slot[0] == 0xAA && slot[1] == 0xAA) {
                        std::memcpy(ram + KelRamPara::kModeArea, slot + 2, KelRamPara::kModeAreaLength);
                        p->set_mode_words_locked(int(s + 1), 0);
                        apply = 1;
                    }
                }
                break;
            case 93: {
                unsigned k = rd16(ram + KelRamPara::kAudioWindow);
                if (k > 5) {
                    // No such window: the sound setting cannot be placed.
                    error = 1;
                    break;
                }
                unsigned char* w = ram + KelRamPara::kLayers + k * KelRamPara::kLayerSize;
                w[KelRamPara::kLayerVolume] = V ? 100 : 0;
                w[KelRamPara::kLayerSound] = V ? 0x80 : 0;
                apply = 1;
                break;
            }
            case 60:
                if (V <= 1) {
                    put16(ram + KelRamPara::kScreenDark, uint16_t(V ^ 1));
                    apply = 1;
                }
                break;
            case 10:
                if (V <= 3) {
                    put16(ram + 2184, uint16_t(V));
                    apply = 1;
                }
                break;
            case 11: case 12: case 13:
                if (V <= 100) {
                    put16(ram + 2186 + 2 * (N - 11), uint16_t(V));
                    apply = 1;
                }
                break;
            default:
                break;
            }
        }
        // A setting taken is answered once the parameter file holding it is on disc.
        if (apply && lock.apply(1))
            answer_when_stored(p);
    } else {
        error = 1;
    }
    frame[10] = error;
    frame[11] = 0x31;
    return 2;
}

namespace {
// The scaler's register dump reads some hundreds of registers with a pause after each, most
// of a second: it runs on a thread of its own, so the link that asked for it answers and
// serves its other PCs meanwhile. A request while a dump runs is served by that dump.
class RegisterDump {
public:
    static RegisterDump& the()
    {
        static RegisterDump dump;
        return dump;
    }
    void start(c331_manage* c)
    {
        std::lock_guard<std::mutex> hold(starting);
        if (running)
            return;
        if (worker.joinable())
            worker.join();   // the last dump, done
        running = true;
        worker = std::thread([this, c] {
            c->c331_print();
            running = false;
        });
    }
    void wait()
    {
        std::lock_guard<std::mutex> hold(starting);
        if (worker.joinable())
            worker.join();
    }
    ~RegisterDump()
    {
        if (worker.joinable())
            worker.join();
    }

private:
    std::mutex starting;
    std::atomic<bool> running{false};
    std::thread worker;
};
} // namespace

void message_deal::wait_register_dump() { RegisterDump::the().wait(); }

// ---------------------------------------------------------------------------------------
// Groups 0xA0 / 0xA1: registers

int message_deal::write_register(unsigned char* frame)
{
    if (frame_len < kRegWriteLen) {
        frame[10] = 1;
        return 1;
    }
    const unsigned R = frame[10];
    const unsigned char M = frame[11];
    const unsigned char V = frame[13];
    if (!own_destination(frame)) {
        fpga_manage* f = fpga_manage::p_fpga_manage;
        if (R >= kRegCount || !f) {
            frame[10] = 1;
            return 1;
        }
        int F = (frame[7] == 1 || frame[7] == 2) ? frame[7] - 1 : 0;
        // A write that did not reach the FPGA is answered as failed.
        frame[10] = f->write_to_register(int(R), M, V, F) == 0 ? 0 : 1;
        return 1;
    }
    KelRamPara* p = para();
    if (R >= kRegCount || !p) {
        frame[10] = 1;
        return 1;
    }
    unsigned char status = 0;
    unsigned char* img = p->reg_image;
    switch (R) {
    case 12:
    case 13:
        break;
    case 0xA0: {
        ScalerLock lock;   // the image is read for the PC under the block's lock
        img[32] = M & V;
        break;
    }
    case 0xA1: {
        unsigned char B = M & V;
        if (B & 0x01) {
            // A reboot request: stamp first so the tick grants the full grace period, and
            // a pending request is not re-armed.
            if (!g_app_reset_flag) {
                G_reboot_tickTicks = G_timeTicks.load();
                g_app_reset_flag = 1;
            }
        }
        // Bit 1: the scaler's register dump, on a thread of its own.
        if (B & 0x02)
            if (c331_manage* c = scaler())
                RegisterDump::the().start(c);
        if (B & 0x3C) {
            // Read and written under one hold of the scaler lock, so an edit of window 0
            // made meanwhile is not overwritten with stale words.
            ScalerLock lock;
            unsigned char* w0 = p->ram + KelRamPara::kLayers;
            uint16_t W = rd16(w0 + KelRamPara::kLayerOutput), D = rd16(w0 + KelRamPara::kLayerDbd);
            uint16_t tW, tD = D;
            if (B & 0x04) {
                tW = uint16_t(W & ~0x100);
            } else {
                tW = uint16_t(W | 0x100);
                tD = (B & 0x08) ? 0 : (B & 0x10) ? 8 : 9;
            }
            if (tW != W || tD != D) {
                put16(w0 + KelRamPara::kLayerOutput, tW);
                put16(w0 + KelRamPara::kLayerDbd, tD);
                if (lock.apply(1))
                    answer_when_stored(p);
            }
        }
        break;
    }
    case 0xA2: case 0xA3: case 0xA4: case 0xA5: {
        ScalerLock lock;
        if (R == 0xA2)
            img[34] = M & V;
        else if (R == 0xA3)
            img[35] = uint8_t(V + 1);
        else if (R == 0xA4)
            img[36] = M & V;
        else
            img[33] = M & V;
        lock.apply(1);
        break;
    }
    default:
        {
            ScalerLock lock;
            img[R] = uint8_t((V & M) | (img[R] & ~M));
        }
        status = reg_cmd_run((unsigned char)R, M) == 1 ? 1 : 0;
        break;
    }
    frame[10] = status;
    return 1;
}

int message_deal::read_register(unsigned char* frame)
{
    if (frame_len < kRegReadLen) {
        frame[10] = 0;
        frame[11] = 1;
        return 2;
    }
    const unsigned R = frame[10];
    if (R >= kRegCount) {
        frame[11] = 1;
        return 2;
    }
    frame[10] = 0;
    if (!own_destination(frame)) {
        fpga_manage* f = fpga_manage::p_fpga_manage;
        int F = fpga_of(frame);
        if (f) {
            f->read_from_register(int(R), F);
            frame[11] = f->reg_shadow(int(R), F);
        } else {
            frame[11] = 0;
        }
    } else if (R != 4 && R != 6) {
        // Own registers are not read back; 4 and 6 echo what the request held.
        frame[11] = 0;
    }
    return 2;
}

int message_deal::reg_cmd_run(unsigned char reg, unsigned char mask)
{
    switch (reg) {
    case 4: return REG_fuction(reg, mask);
    case 5: return REG_FLASH_STATUS1_flag(reg, mask);
    case 9: return REG_comm_flag(reg, mask);
    case 10: return REG_com1_flag(reg, mask);
    case 11: return REG_mcu_flag(reg, mask);
    case 14: return RegUpdate0E(reg, mask);
    case 16: return RegUpdate10(reg, mask);
    case 17: return RegUpdate11(reg, mask);
    default: return 1;
    }
}

int message_deal::REG_fuction(unsigned char, unsigned char) { return 0; }

int message_deal::REG_FLASH_STATUS1_flag(unsigned char, unsigned char) { return 0; }

void message_deal::REG_comm_flag()
{
    {
        UpdateStarter& u = update_starter();
        std::lock_guard<std::mutex> hold(u.mutex);
        u.holder = holder();
        u.transfer = FileBufOwner::owner_of(u.holder) == FileBufOwner::PcFileTransfer;
        u.heard = G_timeTicks;
    }
    if (!g_update_flag)
        queue_mainwindow(&MainWindow::update_start);
    g_update_flag = 1;
    if (KelRamPara* p = para())
        p->test_signal(105);
}

void message_deal::REG_comm_flag_over()
{
    update_over();
}

void message_deal::update_over()
{
    if (g_update_flag)
        queue_mainwindow(&MainWindow::update_over);
    g_update_flag = 0;
    if (KelRamPara* p = para())
        p->test_signal(106);
}

void message_deal::update_watch()
{
    if (!g_update_flag)
        return;
    bool over = false;
    {
        UpdateStarter& u = update_starter();
        std::lock_guard<std::mutex> hold(u.mutex);
        if (FileBufOwner::busy_with(u.holder)) {
            u.heard = G_timeTicks;   // its transfer is going on
        } else if (u.transfer) {
            // The image transfer is over. Stored whole, the PC goes on to finish the update
            // and is waited for; dropped (closed, lapsed, a failed end), the update is over.
            bool ready = false;
            {
                std::lock_guard<std::mutex> transfer(transfer_mutex);
                ready = g_kel_file_deal_para.app_image_ready;
            }
            u.transfer = false;
            over = !ready;
        }
        over = over || Utils::getTimeSpace(u.heard) >= kUpdateSilentTicks;
    }
    if (over)
        update_over();
}

int message_deal::REG_comm_flag(unsigned char, unsigned char)
{
    KelRamPara* p = para();
    if (p && p->reg_image[9] > 15)
        REG_comm_flag();
    else
        REG_comm_flag_over();
    return 0;
}

int message_deal::REG_com1_flag(unsigned char, unsigned char)
{
    KelRamPara* p = para();
    if (p && (p->reg_image[10] & 0x7F))
        REG_comm_flag();
    else
        REG_comm_flag_over();
    return 0;
}

int message_deal::REG_mcu_flag(unsigned char, unsigned char mask)
{
    KelRamPara* p = para();
    if (!p)
        return 0;
    unsigned char* ram = p->ram;
    const unsigned char* saved = p->ram_backup;
    // Apply (bit 1) and save (bit 2): the scaler's thread applies, then the store thread
    // carries out a user-mode save request, re-writes the user-mode files (bit 2) and stores
    // the parameter file. The reply waits for that store: status 1 when it failed (a
    // read-only or full /data, a folder where a file goes); the change is still applied.
    if (mask & 0x02) {
        ScalerLock lock;
        // 1. User mode. Only a PC's write of the mode word asks for a recall: a word that a
        // save or the panel's recall set in the live block alone is no request, and recalling
        // for it would load the slot over every edit made since (other PCs' too).
        unsigned m = rd16(ram + KelRamPara::kCurrentMode);
        unsigned s = rd16(saved + KelRamPara::kCurrentMode);
        const bool asked = p->mode_recall_asked != 0;
        p->mode_recall_asked = 0;
        if (m != s && m != 0) {
            if (asked && m <= KelRamPara::kModeSlots) {
                const unsigned char* slot = p->mode_slot[m - 1];
                if (slot[0] == 0xAA && slot[1] == 0xAA) {
                    std::memcpy(ram + KelRamPara::kModeArea, slot + 2, KelRamPara::kModeAreaLength);
                    p->set_mode_words_locked(int(m), 0);
                }
            }
        } else if (m == s) {
            p->set_mode_words_locked(0, -1);
        }
        // 2. Audio window.
        if (rd16(ram + KelRamPara::kAudioWindow) > 5)
            put16(ram + KelRamPara::kAudioWindow, 0);
        unsigned aw = rd16(ram + KelRamPara::kAudioWindow);
        if (rd16(ram + KelRamPara::kLayers + aw * KelRamPara::kLayerSize + KelRamPara::kLayerFlags) == 0)
            put16(ram + KelRamPara::kAudioWindow, 0);
        // 3. LED screen size or panel mode changed.
        if (rd16(ram + KelRamPara::kLedWidth) != rd16(saved + KelRamPara::kLedWidth)
            || rd16(ram + KelRamPara::kLedHeight) != rd16(saved + KelRamPara::kLedHeight)
            || rd16(ram + KelRamPara::kPanelMode) != rd16(saved + KelRamPara::kPanelMode)) {
            if (m == s && m >= 2) {
                unsigned char* w0 = ram + KelRamPara::kLayers;
                put16(w0 + KelRamPara::kLayerWindow, 0);
                put16(w0 + KelRamPara::kLayerWindow + 2, 0);
                put16(w0 + KelRamPara::kLayerWindow + 4, rd16(ram + KelRamPara::kLedWidth));
                put16(w0 + KelRamPara::kLayerWindow + 6, rd16(ram + KelRamPara::kLedHeight));
                for (int k = 1; k < KelRamPara::kLayerCount; ++k)
                    put16(ram + KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerFlags, 0);
            }
            for (int k = 0; k < KelRamPara::kLayerCount; ++k) {
                unsigned char* src = ram + KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerSource;
                uint16_t word = rd16(src);
                if (!(word & 0x8000))
                    continue;
                unsigned index = word & 0xFF;
                if (index >= unsigned(KelRamPara::kCropCount))
                    continue;   // no such crop record
                put16(src, uint16_t(ram[KelRamPara::kCropRecords + KelRamPara::kCropRecordSize * index] & 0x0F));
            }
            led_size::follow(ram, saved);
        }
        // 4. Switch effect into every window's output word.
        for (int k = 0; k < KelRamPara::kLayerCount; ++k) {
            unsigned char* out = ram + KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerOutput;
            out[0] = uint8_t((out[0] & ~0x0C) | ((ram[2118] << 2) & 0x0C));
        }
        // 5. The newer of freeze and DBD wins.
        for (int k = 0; k < KelRamPara::kLayerCount; ++k) {
            int o = KelRamPara::kLayers + k * KelRamPara::kLayerSize + KelRamPara::kLayerOutput;
            uint16_t cur = rd16(ram + o), old = rd16(saved + o);
            if ((cur & 0x02) && (old & 0x100)) {
                put16(ram + o, uint16_t(cur & ~0x100));
                put16(ram + 2114, 0);
            } else if ((old & 0x02) && (cur & 0x100)) {
                put16(ram + o, uint16_t(cur & ~0x02));
            }
        }
        if (lock.apply(1))
            answer_when_stored(p);
    }
    if (mask & 0x04) {
        ScalerLock lock;
        if (lock.apply(2))
            answer_when_stored(p, true);
    }
    if ((mask & 0x08) && rd16(ram + KelRamPara::kOsdOn) != 0) {
        ScalerLock lock;
        lock.apply(1);
        g_osd_update = 1;
    }
    return 0;
}

int message_deal::RegUpdate0E(unsigned char, unsigned char mask)
{
    bool failed = false;
    if (mask & 0x01) {
        // Finish an application upgrade, once; the tick reboots 300 ticks after the stamp. The
        // finish keeps what it answered in the pending restart's flag (2 done, 3 failed), so a
        // repeat answers the same: a failure stays a failure until the restart. A restart asked
        // for otherwise (flag 1: a reboot request, a new TCP port) does not stand in for the
        // finish, which would then install nothing and answer done.
        static std::mutex finishing;
        std::lock_guard<std::mutex> once(finishing);
        // An upload of an image the device starts from (program, kernel, boot logo; another
        // PC's, most often) is not cut by a restart, which would tear a partition being
        // written: the finish is answered 1, arms nothing and leaves the upload's record as it
        // is, so the uploader's own finish installs its image.
        bool uploading, waiting;
        {
            std::lock_guard<std::mutex> hold(transfer_mutex);
            uploading = image_upload_under_way();
            waiting = g_kel_file_deal_para.app_image_ready;
        }
        // A finish whose restart is pending answers as it did, unless another verified image
        // arrived since (the finish tried the one it found): that one is installed as the
        // first was, the restart still to come.
        const bool again = g_app_reset_flag >= 2 && waiting && !uploading;
        if (uploading && g_app_reset_flag < 2) {
            failed = true;
        } else if (g_app_reset_flag < 2 || again) {
            const uint32_t stamp = G_reboot_tickTicks;
            const uint8_t asked = g_app_reset_flag;
            G_reboot_tickTicks = G_timeTicks.load();
            g_app_reset_flag = 1;
            // Only an image that arrived whole and read back right replaces the program, and
            // only once it can be started: the loader runs it by its path. The waiting file is
            // there only once it was verified (the transfer's end stores it so), so it is what
            // says an image is ready, after a restart too. The flag and the image change
            // together under the transfer lock. With no such image nothing is installed: the
            // finish is failed and nothing restarts.
            bool moved = false, stored = true;
            {
                std::lock_guard<std::mutex> hold(transfer_mutex);
                KelFileDeal& rec = g_kel_file_deal_para;
                std::lock_guard<std::mutex> files(Utils::_file_deal_mutex);
                if (rec.app_image_ready || board::Files::exists("/data/app/kelM57N2")) {
                    stored = moved = board::Files::setMode("/data/app/kelM57N2", 0777)
                                     && board::Files::move("/data/app/kelM57N2", "/data/app/kelM57N");
                } else {
                    stored = false;
                }
                rec.app_image_ready = false;   // tried; the file says what still waits
                rec.app_upload_begun = false;
            }
            if (!moved && !stored && !board::Files::exists("/data/app/kelM57N2")) {
                // Nothing waits to be installed: the running program stays, and a restart
                // asked for otherwise stays as it was.
                G_reboot_tickTicks = stamp;
                g_app_reset_flag = asked;
                return 1;
            }
            // Status 1 when the image or the loader's settings could not be stored: the
            // loader then keeps starting the old program.
            if (moved && g_update_status == 0) {
                std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
                stored = IniText::update("/data/configs/led_load_config.ini",
                                         {{"app-1/app_path", QStringLiteral("/data/app/kelM57N -platform linuxfb")},
                                          {"app-1/app_name", QStringLiteral("kelM57N")}});
            }
            g_app_reset_flag = stored ? 2 : 3;
            failed = !stored;
            board::Clock::sleepMs(10);
            // The files were each flushed as they were stored; this is the loader's habit.
            static_cast<void>(Utils::system_mutex("sync", nullptr));
            board::Clock::sleepMs(10);
        } else {
            failed = g_app_reset_flag == 3;
        }
    }
    if (mask & 0x02) {
        // Never over an upload of an image the device starts from, as the finish: refused.
        // A reboot refused by the system leaves the program running; the PC sees it answer.
        if (!restart_may_go()) {
            failed = true;
        } else {
            board::Clock::sleepMs(100);
            if (Utils::system_mutex("reboot", nullptr) != 0) {
                failed = true;
                restart_not_done();
            }
        }
    }
    if (mask & 0x08) {
        if (c331_manage* c = scaler()) {
            c->read_c331_font(c->c331_fd);
            c->update_font(c->c331_fd);
        }
    }
    return failed ? 1 : 0;
}

int message_deal::RegUpdate10(unsigned char, unsigned char mask)
{
    KelRamPara* p = para();
    if (!p)
        return 0;
    bool failed = false;
    unsigned char* ram = p->ram;
    const unsigned char* saved = p->ram_backup;
    auto defaults = [&](int from, int to) {   // block bytes from .. to - 1
        for (int x = from; x < to; ++x)
            ram[x] = default_para_ramlist[2 + x - KelRamPara::kSavedStart];
    };
    if (mask & 0x01) {
        {
            // Raised with the edit: a save made before the apply stores what was applied,
            // never the defaults the chip does not hold yet.
            ScalerLock lock;
            defaults(KelRamPara::kSavedStart, KelRamPara::kEdid);
            defaults(1376, KelRamPara::kRamSize);
            lock.apply(1);
        }
        // Under the mode files' lock: a re-sync running meanwhile writes no mode after it. Mode
        // files left behind come back at the next start: answered 1 (the rest still runs).
        failed = !p->reset_user_modes();
        board::Clock::sleepUs(100);
        ScalerLock lock;
        led_size::follow(ram, saved);
        if (lock.apply(1))
            answer_when_stored(p);
    }
    // The defaults are answered once the parameter file holding them is on disc.
    if (mask & 0x02) {
        ScalerLock lock;
        defaults(KelRamPara::kEdid, 1376);
        if (lock.apply(1))
            answer_when_stored(p);
    }
    if (mask & 0x10) {
        ScalerLock lock;
        defaults(KelRamPara::kBrightness, KelRamPara::kBrightness + 16);
        if (lock.apply(1))
            answer_when_stored(p);
    }
    if (mask & 0x20) {
        QString ip;
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            ip = g_str_ip;
        }
        // Answered once the defaults are stored (a PC told done is not told by the panel
        // alone that they were not); the panel's step then finds them stored. Refused, they
        // change nothing: the panel is not asked, or its step would store them after all.
        if (ip != "192.168.0.199") {
            const bool stored = Utils::network_defaults();
            failed = !stored || failed;
            if (stored)
                p->test_signal(3);
        }
    }
    return failed ? 1 : 0;
}

int message_deal::RegUpdate11(unsigned char, unsigned char mask)
{
    if ((mask & 0x01) && velinsource::p_velin_source)
        velinsource::p_velin_source->line_pulse_request = 1;
    return 0;
}
