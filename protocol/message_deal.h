#pragma once
#include "core/kel_file_deal.h"

#include <QByteArray>
#include <functional>
#include <memory>
#include <vector>
#include <cstdint>
#include <mutex>
#include <string>

class message_deal_4g;
class KelRamPara;

// A cloud-settings file transfer (g_yp_s_file PC to device, g_yp_r_file device to PC):
// kind 0 none, 1 barcode, 2 CA file, 4 settings file; id 100, 101, 102; bytes moved so
// far; the announced or stored size.
struct YP_FILE {
    uint8_t kind = 0;
    uint16_t id = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
};
extern YP_FILE g_yp_s_file;
extern YP_FILE g_yp_r_file;

// The 4G module's status block ([0] 0xAA when valid, [56] non-zero while online) and the
// cloud properties ([0-23] device ID text, [25-36] device ID bytes, [68-71] server IPv4,
// u16 at [126] server port). Shared by the PC handlers and the cloud link.
constexpr unsigned int k4GRamSize = 256;
constexpr unsigned int k4GPropertySize = 132;
extern unsigned char g_4G_RAM[k4GRamSize];
// Held while g_4G_RAM or g_4G_property is written or read: every link's thread and the
// cloud link reach them.
extern std::mutex g_4G_RAM_mutex;
extern unsigned char g_4G_property[k4GPropertySize];

// The command handler of the PC protocol. Each link owns one; all of them act on the same
// shared state (parameter block, FPGA images, scaler manager), so handlers take the locks
// of what they touch. message_group_deal picks the handler by byte 9 of an accepted,
// unescaped frame; the handler writes its reply over the request from byte 10 on
// ([10] status: 0 done, 1 refused) and returns the count of reply bytes from byte 10.
// The link then swaps the addresses, appends the check byte and escapes the reply.
class message_deal {
public:
    // The frame buffer a link hands to message_group_deal must hold this many bytes: the
    // largest joined frame, and the largest reply (a 65535-byte RAM read: 10 + 1 + 65535
    // + check byte) with room to spare.
    static constexpr unsigned int FRAME_BUF_SIZE = 0x20000 + 64;
    // Largest escaped reply of each link; a read whose escaped reply would not fit is
    // refused. A UDP datagram carries at most 65507 bytes over IPv4; the serial record
    // holds 65556 bytes; TCP is a stream.
    static constexpr unsigned int REPLY_LIMIT_UDP = 65507;
    static constexpr unsigned int REPLY_LIMIT_SERIAL = 65556;
    static constexpr unsigned int REPLY_LIMIT_TCP = 4 + 2 * FRAME_BUF_SIZE;
    // The transmit buffer of a link: the largest escaped reply of a FRAME_BUF_SIZE frame.
    static constexpr unsigned int TX_BUF_SIZE = 4 + 2 * FRAME_BUF_SIZE;

    explicit message_deal(unsigned int replyLimit = REPLY_LIMIT_TCP);
    ~message_deal();

    // frame: the unescaped frame (FRAME_BUF_SIZE bytes of buffer); len: its length
    // without the check byte; link: 5 from the PC links, 4 from the 4G link. Returns the
    // reply length from byte 10, or 0 (no reply on serial and UDP, header only on TCP).
    // kLater: the reply goes later, through `later`, once what the request asked for is done.
    [[nodiscard]] int message_group_deal(unsigned char* frame, unsigned int len, unsigned char link);
    static constexpr int kLater = -2;
    // Set by the link before each request: where a reply answered later goes (the unescaped
    // frame and its reply length from byte 10), from whichever thread completes it. A command
    // that stores is answered once its store is on disc, with what the store did; with no
    // `later` set it is answered at once.
    std::function<void(std::vector<unsigned char> frame, unsigned len)> later;
    // Where the handler of this frame (len bytes without the check byte) writes every byte
    // itself, from 10 up to the returned offset, before any reply that reaches into that
    // range: the link need not clear it of an earlier request's bytes. 0 when it does not.
    static unsigned int reply_filled(const unsigned char* frame, unsigned int len);

    // --- parameter RAM (groups 0x60, 0x61, 0xB0) ---
    [[nodiscard]] int write_ram(unsigned char* frame);
    [[nodiscard]] int read_ram(unsigned char* frame);
    [[nodiscard]] int vedio_write_single_para(unsigned char* frame, unsigned int len);
    void Time_to_RAM();
    void FPGA_Ex_ram_update();
    void set_para_sync();

    // --- controller registers (groups 0xA0, 0xA1) ---
    [[nodiscard]] int write_register(unsigned char* frame);
    [[nodiscard]] int read_register(unsigned char* frame);
    [[nodiscard]] int reg_cmd_run(unsigned char reg, unsigned char mask);
    [[nodiscard]] int REG_fuction(unsigned char reg, unsigned char mask);
    [[nodiscard]] int REG_FLASH_STATUS1_flag(unsigned char reg, unsigned char mask);
    [[nodiscard]] int REG_comm_flag(unsigned char reg, unsigned char mask);
    [[nodiscard]] int REG_com1_flag(unsigned char reg, unsigned char mask);
    [[nodiscard]] int REG_mcu_flag(unsigned char reg, unsigned char mask);
    [[nodiscard]] int RegUpdate0E(unsigned char reg, unsigned char mask);
    [[nodiscard]] int RegUpdate10(unsigned char reg, unsigned char mask);
    [[nodiscard]] int RegUpdate11(unsigned char reg, unsigned char mask);
    // The firmware-update display: start opens it (once) and announces 105, end closes it
    // and announces 106.
    void REG_comm_flag();
    void REG_comm_flag_over();
    static void update_over();
    // 10 ms ticks a started update may go without its PC at work on it (an image transfer
    // in progress, a register write) before the display ends: the PC went silent or away.
    static constexpr uint32_t kUpdateSilentTicks = 5 * 60 * 100;
    // Called on the GUI's tick while the display is up: ends the update once its image
    // transfer was dropped (connection closed, lapse, a failed end) or its PC went silent.
    static void update_watch();

    // --- groups served by the file, flash, network, EDID, identity and cloud commands ---
    [[nodiscard]] int cmd_erase_flash(unsigned char* frame);
    [[nodiscard]] int cmd_write_flash(unsigned char* frame);
    [[nodiscard]] int cmd_read_flash(unsigned char* frame);
    [[nodiscard]] int param_save(unsigned char* frame);
    [[nodiscard]] int get_card_version(unsigned char* frame);
    [[nodiscard]] int get_card_uid(unsigned char* frame);
    [[nodiscard]] int start_update(unsigned char* frame, unsigned int len);
    [[nodiscard]] int write_rtc_time(unsigned char* frame);
    [[nodiscard]] int get_yp_module_info(unsigned char* frame);
    [[nodiscard]] int check_yp_module(unsigned char* frame);
    [[nodiscard]] int barcode_group(unsigned char* frame);
    [[nodiscard]] int net_eth_group(unsigned char* frame);
    [[nodiscard]] int get_device_info(unsigned char* frame);
    [[nodiscard]] int write_file_group(unsigned char* frame);
    [[nodiscard]] int write_file_start(unsigned char* frame);
    [[nodiscard]] int write_file_block(unsigned char* frame);
    [[nodiscard]] int write_file_end(unsigned char* frame);
    [[nodiscard]] int read_file_start(unsigned char* frame);
    [[nodiscard]] int read_file_block(unsigned char* frame);
    [[nodiscard]] int read_file_end(unsigned char* frame);
    [[nodiscard]] int write_defined_file_start(unsigned char* frame);
    [[nodiscard]] int read_defined_file_start(unsigned char* frame);
    [[nodiscard]] int delete_file_name(unsigned char* frame);
    [[nodiscard]] int write_edid_table_group(unsigned char* frame);
    [[nodiscard]] int project_set_setproperty(unsigned char* frame, unsigned char link);
    [[nodiscard]] int YP_SendFileData(unsigned char* frame);
    [[nodiscard]] int YP_SendFileEND(unsigned char* frame);
    [[nodiscard]] int YP_SendFileCancel(unsigned char* frame);
    [[nodiscard]] int YP_RecvFile(unsigned char* frame);
    [[nodiscard]] int YP_RecvFileData(unsigned char* frame);
    [[nodiscard]] int YP_RecvFileEnd(unsigned char* frame);
    [[nodiscard]] int YP_RecvFileCancel(unsigned char* frame);
    [[nodiscard]] int YP_SendFile(unsigned char* frame);

    // The file-transfer record, the digest, the read file and the cloud-file records are one
    // set shared by every link: one request of those groups is handled at a time.
    static std::mutex transfer_mutex;
    // Who reads through file_velin, and who reads the cloud-file record g_yp_r_file (under
    // transfer_mutex): a read belongs to the link and peer that started it, as an upload does.
    static TransferHold file_read_hold;
    static TransferHold cloud_read_hold;
    // Whether the peer of this handler's link holds a transfer in progress (an upload, a
    // read, a cloud file): a link does not cut such a peer off to make room.
    bool holds_transfer(uint64_t of_peer);
    // The peer is gone (its connection closed): whatever transfer it held is dropped and
    // nobody waits for it.
    void release_peer(uint64_t of_peer);
    // A restart and an upload of an image the device starts from (program, kernel, boot logo)
    // exclude each other: a restart cuts the upload short, or tears the partition its end is
    // erasing and writing. Both are decided under the transfer lock.
    // Whether such an upload is under way (started, its blocks arriving, or being stored);
    // the caller holds transfer_mutex.
    static bool image_upload_under_way();
    // A restart may go only when no such upload is under way; once it may (true), no such
    // upload starts or is stored until it has failed (restart_not_done) or, as the tick
    // judges a reboot, has not taken the program down within MainWindow::kRebootGoneTicks.
    [[nodiscard]] static bool restart_may_go();
    static void restart_not_done();
    // A restart was let go and has not lapsed; the caller holds transfer_mutex.
    static bool restart_going();
    // Removes the staging files and temporaries that stores and saves cut short left under
    // "/data" (run at start, before anything stores or saves).
    static void remove_staging_files();
    // Waits for a register dump (register 0xA1 bit 1) under way: before its scaler manager
    // goes, and for a reader of its lines.
    static void wait_register_dump();

    // The group 0xC4 sub-handler of the cloud link (created with the handler).
    message_deal_4g* p_message_deal_4g;
    // Length (without check byte) of the frame being handled: handlers check it before
    // reading their fixed fields or announced lengths.
    unsigned int frame_len;
    // Largest escaped reply the owning link can carry.
    unsigned int reply_limit;
    // The peer (address and port) whose frame is being handled, set by a link that serves
    // several peers through this handler before each frame; 0 where the link has one. A file
    // transfer belongs to the handler and peer that started it.
    uint64_t peer = 0;
    FileBufOwner::Holder holder() const { return FileBufOwner::Holder{this, peer}; }

    // --- screen capture served through RAM 0x800000 .. 0xA0007F ---
    // The capture is a PNG of the primary screen taken on the GUI thread; it is kept in its
    // own buffer ([0-1] 0xAA 0xAA, then the PNG) shared by every link, never in the file
    // buffer of the file transfer. Capture size limit: the readable window.
    static constexpr unsigned int CAPTURE_WINDOW = 0xA00080 - 0x800080;
    static std::mutex capture_mutex;
    static QByteArray capture_buf;   // PNG bytes (without the two marker bytes)
    // Grabs window 0 of the primary screen into capture_buf (on the GUI thread; from any
    // other thread the grab is queued there and waited for, at most 3 s, and the PNG encoded
    // on the asking thread). A request made while another thread's capture is made, or in
    // the tick the last was made in, is served from that capture. Returns the PNG length, 0
    // when there was nothing to grab.
    static unsigned int capture_screen();

private:
    [[nodiscard]] int dispatch(unsigned char* frame, unsigned int len, unsigned char link);
    // Called under lock_block() by a handler whose edit the scaler applies and the block's
    // save stores (the apply flag raised under that hold): the reply is sent once the store
    // that holds the edit is on disc, status 1 at [10] when it failed. false with no `later`.
    bool answer_when_stored(KelRamPara* p, bool resync = false);
    // The peers of this handler whose RAM write asked for a user-mode save (RAM 868) not yet
    // named in an answer: that PC's next stored command is answered from the save too, another
    // PC's is not. Under the block's lock.
    struct ModeSaveAsker {
        uint64_t peer;
        int slot;            // the slot the word named after its write, -1 for none
        uint32_t saved;      // KelRamPara::mode_slot_saves[slot] then
    };
    std::vector<ModeSaveAsker> m_mode_save_askers;
    static constexpr size_t kPeersRemembered = 256;
    // The slots each peer wrote, with KelRamPara::slot_dropped as the write found it, until a
    // command of that peer's asks for the re-sync that stores them.
    struct SlotWrite {
        uint64_t peer;
        int slot;
        uint32_t dropped;
    };
    std::vector<SlotWrite> m_slot_writes;
    struct LaterReply;
    std::shared_ptr<LaterReply> m_later;   // the request being handled, when answered later
    // True when the frame is addressed to this controller (0xF100 or 0xF101).
    static bool own_destination(const unsigned char* frame);
    // The FPGA a frame selects: byte 7 - 1 when byte 6 is 0 and byte 7 is 1 or 2, else 0.
    static unsigned char fpga_of(const unsigned char* frame);
    unsigned char read_own_byte(uint64_t a, uint32_t start, const unsigned char* property);
    // Copies the L bytes from A into out when they all lie in one plainly stored region (the
    // live block, the user-mode slots, the register image, the property block), as
    // read_own_byte would give them; false, with nothing written, for any other range.
    [[nodiscard]] bool copy_own_range(uint32_t A, unsigned L, const unsigned char* property, unsigned char* out);
    void build_property_block(unsigned char* property);
    [[nodiscard]] int read_ram_fpga(unsigned char* frame, uint32_t A, unsigned int L);
    // File transfer: arms the shared record for a write of the type (false, nothing armed,
    // when the size exceeds the type's area or the buffer is in other hands); drops it.
    [[nodiscard]] bool arm_write(uint8_t type, const std::string& path, uint32_t size, uint32_t clear);
    static void drop_write(const FileBufOwner::Holder& by);
    [[nodiscard]] int read_start_reply(unsigned char* frame, unsigned char echo, const std::string& path);
    [[nodiscard]] int write_ram_fpga(unsigned char* frame, uint32_t A, unsigned int L);
};
