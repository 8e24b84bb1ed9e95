#pragma once
// The one record of the PC file transfer and the owner of the shared 5 MiB buffer
// (fileBuf_velin), which the PC file transfer, the PC cloud-settings transfer, the USB
// upgrade and the 4G module's file commands all use: one of them at a time.

#include "core/transfer_hold.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// The PC file transfer's record (global g_kel_file_deal_para), shared by every link.
struct KelFileDeal {
    int fd = -1;              // raw flash device while it is written
    uint8_t type = 0;         // type code of the current write transfer; 0 none
    std::string path;         // destination of a mode, package or scan-parameter file
    uint32_t size = 0;        // the size announced by the start command
    // The application image "/data/app/kelM57N2" holds an image that arrived whole and read
    // back right: only then may the upgrade finish move it into place. Only another such
    // image replaces it there, so an upload that begins, lapses or fails leaves it ready; a
    // finish that tried it clears the flag (the file then says what still waits), so that a
    // finish while its restart is pending installs only an image that arrived since.
    // app_upload_begun: an application upload was accepted since the last finish. Both are
    // set, read and cleared only under message_deal::transfer_mutex.
    bool app_image_ready = false;
    bool app_upload_begun = false;
};
extern KelFileDeal g_kel_file_deal_para;
// The file opened by a PC read transfer (null when none); under Utils::_file_deal_mutex.
extern std::FILE* file_velin;

class FileBufOwner {
public:
    enum Owner { None = 0, PcFileTransfer, PcCloudFile, UsbUpgrade, Module4G };
    // Who within an owner holds the buffer: the PC transfers belong to the link (its command
    // handler) and the peer on it that started them, so a second PC cannot write into, end
    // or cancel the first one's transfer. Users with one peer leave it empty.
    using Holder = FileBufHolder;
    // An owner whose transfer has added no new bytes for this many 10 ms ticks, or that
    // has held the buffer too long (TransferHold), loses it to the next one that asks: a PC
    // that went away mid-transfer does not block the buffer for ever.
    static constexpr uint32_t kIdleTicks = TransferHold::kIdleTicks;

    // true when the buffer was free, already the caller's, finished with, or its holder's
    // claim lapsed; the caller then holds it. A repeated start by the holder restarts
    // neither its idle time nor its life. Never while its holder is storing.
    [[nodiscard]] static bool acquire(Owner who, const Holder& by = Holder());
    // true while by holds the buffer for who (nothing restarts).
    static bool use(Owner who, const Holder& by = Holder());
    // by's block of n bytes at offset went into the buffer: its idle time starts again
    // when the block brought bytes it had not sent before.
    static void progress(Owner who, const Holder& by, uint32_t offset, uint32_t n);
    // true while by holds the buffer for a transfer in progress (not finished with, not
    // lapsed), whatever the owner.
    static bool busy_with(const Holder& by);
    // true while anyone holds the buffer for who with a transfer in progress.
    static bool in_progress(Owner who);
    // The owner by holds the buffer for, None when it holds nothing.
    static Owner owner_of(const Holder& by);
    // The holder is done: it may still use what the buffer holds until anyone else
    // acquires it, which it may at once.
    static void settle(Owner who, const Holder& by = Holder());
    // While the holder stores the buffer's content (slowly, outside the transfer lock) no
    // idle time-out takes it away. begin_store is false when by does not hold it.
    [[nodiscard]] static bool begin_store(Owner who, const Holder& by = Holder());
    static void end_store(Owner who, const Holder& by = Holder());
    static void release(Owner who, const Holder& by = Holder());
    static Owner owner();
    static void reset();   // nobody owns it (tests)

private:
    static std::mutex s_mutex;
    static Owner s_owner;
    static TransferHold s_hold;
    static bool s_settled;
    static bool s_storing;
};
