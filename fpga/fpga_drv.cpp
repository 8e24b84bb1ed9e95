#include "fpga/fpga_drv.h"

#include "board/Clock.h"
#include "board/SpiDevice.h"
#include "core/global.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

constexpr uint32_t kSpiSpeed = 10000000;
constexpr uint8_t kSpiMode = 3;
constexpr uint8_t kSpiBits = 8;

const char* const kDevices[4] = {"/dev/spidev32766.1", "/dev/spidev32766.2",
                                 "/dev/spidev32766.3", "/dev/spidev32766.4"};

// Which flash a flash number reaches: its descriptor and the three select lines, taken
// from the manager. Nothing is usable while the manager or its window is missing.
struct FlashPath {
    int fd = -1;
    volatile u16* own_cs = nullptr;     // the FPGA whose flash it is
    volatile u16* other_cs = nullptr;   // the other FPGA
    volatile u16* flash_cs = nullptr;
};

bool flashPath(unsigned char flash, FlashPath& path)
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    if (!m) {
        KEL_TRACE("\n fpga flash %d: no FPGA manager\n", flash);
        return false;
    }
    if (flash == 2) {
        path.fd = m->fpga_vbyone1_flash_fd;
        path.own_cs = m->gpio_fpga0_cs;
        path.other_cs = m->gpio_fpga1_cs;
        path.flash_cs = m->gpio_fpga0_flash_cs;
    } else {
        path.fd = m->fpga_vbyone2_flash_fd;
        path.own_cs = m->gpio_fpga1_cs;
        path.other_cs = m->gpio_fpga0_cs;
        path.flash_cs = m->gpio_fpga1_flash_cs;
    }
    if (!path.own_cs || !path.other_cs || !path.flash_cs) {
        KEL_TRACE("\n fpga flash %d: GPIO window not mapped, access refused\n", flash);
        return false;
    }
    if (path.fd < 0) {
        KEL_TRACE("\n fpga flash %d: device not open\n", flash);
        return false;
    }
    return true;
}

// The select order at the start and end of a flash operation.
void selectFlash(const FlashPath& p)
{
    *p.other_cs = fpga_manage::kLineIdle;
    *p.own_cs = fpga_manage::kLineActive;
    *p.flash_cs = fpga_manage::kLineActive;
}

void releaseFlash(const FlashPath& p, unsigned char flash)
{
    *p.flash_cs = fpga_manage::kLineIdle;
    if (flash == 2) {
        *p.other_cs = fpga_manage::kLineIdle;   // FPGA 1
        *p.own_cs = fpga_manage::kLineIdle;     // FPGA 0
    } else {
        *p.own_cs = fpga_manage::kLineIdle;     // FPGA 1
        *p.other_cs = fpga_manage::kLineIdle;   // FPGA 0
    }
}

// Runs op on the selected flash under the SPI lock, then releases the flash; false (op not
// run) when the flash cannot be reached.
template <typename Op>
bool onFlash(unsigned char flash, Op op)
{
    FlashPath p;
    if (!flashPath(flash, p))
        return false;
    std::lock_guard<std::mutex> hold(Utils::_spi_mutex);
    selectFlash(p);
    op(p);
    releaseFlash(p, flash);
    return true;
}

void putAddress(unsigned char* at, uint32_t address)
{
    at[0] = uint8_t(address >> 16);
    at[1] = uint8_t(address >> 8);
    at[2] = uint8_t(address);
}

bool rangeFits(uint64_t address, uint64_t length)
{
    // Written so that no sum can wrap: a range ends at most at the end of the flash.
    return length <= fpga_drv::kFlashSize && address <= fpga_drv::kFlashSize - length;
}

} // namespace

fpga_drv::fpga_drv()
{
    writeLogMsg(LOG_INFO, "====fpga_drv::fpga_drv()====");
}

int fpga_drv::initialize_vbyne1(unsigned char n)
{
    if (n > 3)
        return -1;
    int fd = board::SpiDevice::open(kDevices[n]);
    KEL_TRACE("\n fpga_drv SPI - Open Succeed. Start Init SPI...");
    // The spidev interface writes each setting and reads it back; the board layer does
    // both and reports one result, so a failure prints the whole group of messages.
    if (board::SpiDevice::configure(fd, kSpiMode, kSpiBits, kSpiSpeed) != 0) {
        std::perror("can't set spi mode\n");
        KEL_TRACE("can't get spi mode");
        KEL_TRACE("can't set bits per word");
        KEL_TRACE("can't get bits per word");
        KEL_TRACE("can't set max speed hz");
        KEL_TRACE("can't get max speed hz");
    }
    return fd;
}

int fpga_drv::SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len)
{
    if (len <= 0)
        return 0;
    board::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.length = uint32_t(len);
    t.speedHz = kSpiSpeed;
    t.bitsPerWord = kSpiBits;
    int ret = board::SpiDevice::transfer(fd, &t, 1);
    if (ret <= 0)
        std::perror("can't send fpga_spi message\n");
    return ret;
}

int fpga_drv::SPI_Transfer_Write(int fd, const unsigned char* tx, int len)
{
    return SPI_Transfer(fd, tx, nullptr, len);
}

int fpga_drv::FPGA_SPI_WAIT_BUSY(int fd)
{
    // Polled without a pause at first (a page program ends within a millisecond); then
    // with growing pauses so that a long erase does not spin, until the time limit.
    const uint64_t start = board::Clock::monotonicUs();
    uint64_t pause = 0;
    for (;;) {
        unsigned char tx[2] = {kCmdReadStatus, 0xFF};
        unsigned char rx[2] = {0xFF, 0xFF};
        int ret = SPI_Transfer(fd, tx, rx, 2);
        if (ret > 0 && (rx[1] & 0x01) == 0)
            return 0;
        if (board::Clock::monotonicUs() - start > uint64_t(kBusyLimitMs) * 1000) {
            KEL_TRACE("\n fpga flash busy for more than %u ms, operation abandoned\n", kBusyLimitMs);
            return -1;
        }
        if (pause)
            board::Clock::sleepUs(pause);
        pause = pause ? (pause < 1000 ? pause * 2 : 1000) : 20;
    }
}

unsigned char fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(unsigned char flash, unsigned int sector,
                                                    unsigned char kind, unsigned int count)
{
    static const uint32_t unitSectors[3] = {1, 8, 16};
    static const uint8_t commands[3] = {kCmdErase4k, kCmdErase32k, kCmdErase64k};
    if (kind > 2)
        return 0;
    const uint64_t end = uint64_t(sector) + uint64_t(count) * unitSectors[kind];
    if (end > kFlashSectors)
        return 0;
    // The SPI lock is let go between blocks: a whole-chip erase takes many seconds, and the
    // scaler and the other FPGA share the bus.
    bool ok = true;
    uint32_t address = sector * 4096u;
    for (unsigned int i = 0; ok && (i < count || i == 0); ++i) {
        const bool reached = onFlash(flash, [&](const FlashPath& p) {
            if (i == 0 && FPGA_SPI_WAIT_BUSY(p.fd) != 0) {
                ok = false;
                return;
            }
            if (i == count)
                return;   // nothing to erase: only whether the flash answers
            unsigned char wren = kCmdWriteEnable;
            if (SPI_Transfer_Write(p.fd, &wren, 1) <= 0 || FPGA_SPI_WAIT_BUSY(p.fd) != 0) {
                ok = false;
                return;
            }
            unsigned char cmd[4] = {commands[kind], 0, 0, 0};
            putAddress(cmd + 1, address);
            if (SPI_Transfer_Write(p.fd, cmd, 4) <= 0 || FPGA_SPI_WAIT_BUSY(p.fd) != 0)
                ok = false;
        });
        ok = ok && reached;
        address += unitSectors[kind] * 4096u;
    }
    return ok ? 1 : 0;
}

unsigned char fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(unsigned char flash, unsigned int address,
                                                    unsigned char* buffer, unsigned int length)
{
    if (length == 0 || !buffer || !rangeFits(address, length))
        return 0;
    unsigned char ok = 0;
    onFlash(flash, [&](const FlashPath& p) {
        ok = 1;
        unsigned int done = 0;
        // Each page goes out from the four bytes in front of its data: first the write
        // enable from the byte just before the data, then the command and address over the
        // four bytes, so one work area serves every page without copying.
        auto programPage = [&](unsigned int offset, unsigned int count) {
            unsigned char* head = buffer + offset;          // = data at offset, minus 4
            head[3] = kCmdWriteEnable;
            const bool enabled = SPI_Transfer_Write(p.fd, head + 3, 1) > 0;
            head[0] = kCmdPageProgram;
            putAddress(head + 1, address + offset);
            // A page whose enable or data did not go out is not programmed.
            if (!enabled || SPI_Transfer_Write(p.fd, head, int(count + 4)) <= 0 || FPGA_SPI_WAIT_BUSY(p.fd) != 0)
                ok = 0;
        };
        const unsigned int first = kFlashPage - (address % kFlashPage);
        if (length >= first) {
            programPage(0, first);
            done = first;
        }
        while (ok && length - done >= kFlashPage) {
            programPage(done, kFlashPage);
            done += kFlashPage;
        }
        if (ok && done < length)
            programPage(done, length - done);
    });
    return ok;
}

unsigned char fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(unsigned char flash, unsigned int address,
                                                   unsigned int length, unsigned char* out)
{
    if (length == 0 || !out || !rangeFits(address, length))
        return 0;
    const unsigned int chunk = length < kReadChunk ? length : kReadChunk;
    std::vector<unsigned char> tx(chunk + 5, 0xFF), rx(chunk + 5, 0xFF);
    bool answered = true;
    // A chunk that was not transferred is no read: the caller gets a failure, not old bytes.
    return onFlash(flash, [&](const FlashPath& p) {
        for (unsigned int done = 0; done < length && answered;) {
            const unsigned int n = (length - done) < kReadChunk ? (length - done) : kReadChunk;
            std::fill(tx.begin(), tx.end(), 0xFF);
            tx[0] = kCmdFastRead;
            putAddress(&tx[1], address + done);
            tx[4] = 0xFF;                                   // dummy byte
            answered = SPI_Transfer(p.fd, tx.data(), rx.data(), int(n + 5)) > 0;
            std::memcpy(out + done, rx.data() + 5, n);
            done += n;
        }
    }) && answered;
}

unsigned char fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(unsigned char flash, unsigned char* out)
{
    if (!out)
        return 0;
    unsigned char tx[13] = {kCmdReadUid, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    unsigned char rx[13];
    std::memset(rx, 0xFF, sizeof rx);
    bool answered = false;
    const bool reached = onFlash(flash, [&](const FlashPath& p) {
        answered = SPI_Transfer(p.fd, tx, rx, 13) > 0;
    });
    if (!reached || !answered)
        return 0;
    std::memcpy(out, rx + 5, 8);
    return 1;
}

unsigned char fpga_drv::FPGA_SPI_Disable_WP(int fd)
{
    // Kept as the part's status-register sequence; nothing in the system calls it.
    unsigned char wren = kCmdWriteEnable;
    unsigned char status1[3] = {0x01, 0xFF, 0xFF};
    unsigned char status2[2] = {0x31, 0x00};
    unsigned char poll[2] = {0xFF, 0x00};
    unsigned char rx[2] = {0, 0};
    bool sent = true;
    const char* lines[4] = {"\n FPGA_SPI_Disable_WP  01 busy=%#x \n", "\n FPGA_SPI_Disable_WP  02 busy=%#x \n",
                            "\n FPGA_SPI_Disable_WP  03 busy=%#x \n", "\n FPGA_SPI_Disable_WP  04  busy=%#x \n"};
    sent = SPI_Transfer_Write(fd, &wren, 1) > 0 && sent;
    sent = SPI_Transfer(fd, poll, rx, 2) > 0 && sent;
    KEL_TRACE(lines[0], rx[1]);
    sent = SPI_Transfer_Write(fd, status1, 3) > 0 && sent;
    sent = SPI_Transfer(fd, poll, rx, 2) > 0 && sent;
    KEL_TRACE(lines[1], rx[1]);
    sent = SPI_Transfer_Write(fd, &wren, 1) > 0 && sent;
    sent = SPI_Transfer(fd, poll, rx, 2) > 0 && sent;
    KEL_TRACE(lines[2], rx[1]);
    sent = SPI_Transfer_Write(fd, status2, 2) > 0 && sent;
    sent = SPI_Transfer(fd, poll, rx, 2) > 0 && sent;
    KEL_TRACE(lines[3], rx[1]);
    sent = SPI_Transfer_Write(fd, &wren, 1) > 0 && sent;
    return sent ? 1 : 0;
}
