#pragma once
// The one record of the PC file transfer and the owner of the shared 5 MiB buffer
// (fileBuf_velin), which the PC file transfer, the PC cloud-settings transfer, the USB
// upgrade and the 4G module's file commands all use: one of them at a time.

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
    // The application image "/data/app/kelM57N2" was written and read back whole since the
    // last application transfer began: only then may the upgrade finish move it into place.
    bool app_image_ready = false;
};
extern KelFileDeal g_kel_file_deal_para;
// The file opened by a PC read transfer (null when none); under Utils::_file_deal_mutex.
extern std::FILE* file_velin;

class FileBufOwner {
public:
    enum Owner { None = 0, PcFileTransfer, PcCloudFile, UsbUpgrade, Module4G };
    // An owner that has not used the buffer for this many 10 ms ticks loses it to the next
    // one that asks (a PC that went away mid-transfer does not block the buffer for ever).
    static constexpr uint32_t kIdleTicks = 3000;

    // true when the buffer was free, already the caller's, or its owner was idle too long;
    // the caller then owns it (and its idle time starts again).
    static bool acquire(Owner who);
    // true (and the idle time starts again) while who owns the buffer.
    static bool use(Owner who);
    static void release(Owner who);
    static Owner owner();
    static void reset();   // nobody owns it (tests)

private:
    static std::mutex s_mutex;
    static Owner s_owner;
    static uint32_t s_stamp;
};
