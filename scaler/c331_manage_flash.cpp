// The scaler's serial flash, reached only through the chip's flash controller (bank 4): byte
// reads and page programs, sector erases, and the DMA that copies a flash area into the
// chip's own memory. Fonts, the OSD bitmap and its palette live there.
#include "scaler/c331_manage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/utils.h"

#include <initializer_list>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t n) { return bank << 16 | reg << 8 | n; }

// Flash controller (bank 4).
constexpr uint32_t kSflMode = R(4, 0x47, 1);
constexpr uint32_t kSflCmd = R(4, 0x48, 1);
constexpr uint32_t kSflProgOp = R(4, 0x49, 1);
constexpr uint32_t kSflReadOp = R(4, 0x4A, 1);
constexpr uint32_t kSflOp = R(4, 0x4B, 1);
constexpr uint32_t kSflWrenOp = R(4, 0x4C, 1);
constexpr uint32_t kSflRdsrOp = R(4, 0x4D, 1);
constexpr uint32_t kSflAddr = R(4, 0x4E, 4);
constexpr uint32_t kSflData = R(4, 0x52, 1);
constexpr uint32_t kSflDtCtl = R(4, 0x53, 1);    // B4_SFLDTCTL: bit 7 read pending, bit 5 WEMPTY
constexpr uint32_t kSflStat = R(4, 0x54, 1);     // B4_SFLSTAT: bit 0 DMA, bit 1 WBUSY, bit 3 EBUSY
constexpr uint32_t kSflRdsr = R(4, 0x55, 1);     // B4_SFLRDSR: bit 0 WIP, bit 1 WEL
constexpr uint32_t kSflDmaLen = R(4, 0x56, 4);
constexpr uint32_t kSflDmaKind = R(4, 0x5A, 1);
constexpr uint32_t kSflAccess = R(4, 0x5F, 1);
constexpr uint32_t kSflByteMode = R(4, 0x60, 1);
constexpr uint32_t kEngineCmd = R(4, 0x08, 1);
constexpr uint32_t kEngineDst = R(4, 0x11, 4);
constexpr uint32_t kListAddr = R(4, 0x27, 2);
constexpr uint32_t kPaletteIndex = R(9, 0x1F, 1);

constexpr unsigned kPage = 256;
constexpr uint8_t kOpWriteDisable = 0x04;

uint8_t eraseOpcode(char kind)
{
    return kind == 0 ? 0x20 : kind == 1 ? 0x52 : 0xD8;
}
uint32_t eraseUnit(char kind)
{
    return kind == 0 ? 0x1000 : kind == 1 ? 0x8000 : 0x10000;
}

struct RegWrite {
    uint32_t reg;
    uint32_t value;
};

// An operation's set-up of the controller, written in the order given: the order is part of
// what the controller expects.
void write_in_order(c331_manage& chip, int fd, std::initializer_list<RegWrite> writes)
{
    for (const RegWrite& w : writes)
        chip.wr(fd, w.reg, w.value);
}
} // namespace

bool c331_manage::seq_wait(int fd, uint32_t reg, unsigned mask, bool wantSet, const char* what, int bankoffset)
{
    // The first polls follow each other at bus speed (a page program is done in a few of
    // them); after that the thread rests a millisecond between looks.
    if (fd < 0)
        return false;   // no chip to wait for
    const uint64_t start = board::Clock::monotonicUs();
    for (unsigned polls = 0;; ++polls) {
        const unsigned v = rd(fd, reg, bankoffset);
        if (((v & mask) != 0) == wantSet)
            return true;
        if (board::Clock::monotonicUs() - start > kSeqPollLimitUs) {
            KEL_TRACE("\033[1;34m[%s] register %06X still %#x after %u polls, timed out\033[0m\n", what, reg, v, polls);
            writeLogMsg(LOG_ERROR, std::string("scaler: ") + what + " timed out");
            return false;
        }
        if (polls >= 64)
            board::Clock::sleepMs(1);
    }
}

void c331_manage::flash_pins(int fd, bool dma)
{
    if (dma)
        wr(fd, R(5, 0x45, 2), 0x03FF);
    write_in_order(*this, fd, {{R(5, 0x42, 3), 0x000055}, {R(5, 0x3C, 2), 0x0300}, {R(5, 0x3E, 2), 0x0300}});
    if (!dma)
        wr(fd, R(5, 0x45, 2), 0x03FF);
}

// A set write-enable latch after a program or erase is cleared with the write-disable command.
bool c331_manage::flash_clear_wel(int fd, unsigned rdsr)
{
    if (!(rdsr & 0x02))
        return true;
    wr(fd, kSflOp, kOpWriteDisable);
    wr(fd, kSflCmd, 5);
    const bool ok = seq_wait(fd, kSflRdsr, 0x02, false, "flash WEL");
    wr(fd, kSflCmd, 0);
    return ok;
}

// Rewriting the address register makes the controller program the buffered page.
bool c331_manage::flash_page_end(int fd, uint32_t A)
{
    wr(fd, kSflAddr, A);
    if (!seq_wait(fd, kSflDtCtl, 0x20, true, "write_flash WEMPTY") ||
        !seq_wait(fd, kSflStat, 0x02, false, "write_flash WBUSY") ||
        !seq_wait(fd, kSflRdsr, 0x01, false, "write_flash WIP"))
        return false;
    return flash_clear_wel(fd, rd(fd, kSflRdsr));
}

int c331_manage::write_flash(int fd, uint32_t addr, uint32_t len, const uint8_t* data)
{
    if ((len && !data) || addr >= kFlashSize || len > kFlashSize - addr) {
        KEL_TRACE("\n [write_flash] addr %#x len %u outside the flash\n", addr, len);
        return 1;
    }
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    flash_pins(fd, false);
    write_in_order(*this, fd,
                   {{kSflMode, 0x80}, {kSflCmd, 0}, {kSflMode, 0x31}, {kSflWrenOp, 0x06}, {kSflRdsrOp, 0x05},
                    {kSflProgOp, 0x12}, {kSflAccess, 1}, {kSflCmd, 0}, {kSflByteMode, 0}, {kSflAddr, addr},
                    {kSflAddr, addr}});
    for (uint32_t i = 0; i < len; ++i) {
        wr(fd, kSflData, data[i]);
        if ((addr + i + 1) % kPage == 0 && !flash_page_end(fd, addr + i + 1))
            return 1;
    }
    if ((addr + len) % kPage != 0 && !flash_page_end(fd, addr + len))
        return 1;
    return 0;
}

int c331_manage::read_flash(int fd, uint32_t addr, uint32_t len, uint8_t* out)
{
    if ((len && !out) || addr >= kFlashSize || len > kFlashSize - addr) {
        KEL_TRACE("\n [read_flash] addr %#x len %u outside the flash\n", addr, len);
        return 1;
    }
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    flash_pins(fd, false);
    write_in_order(*this, fd,
                   {{kSflCmd, 0}, {kSflMode, 0x80}, {kSflMode, 0x31}, {kSflReadOp, 0x0C}, {kSflAccess, 1}, {kSflCmd, 0},
                    {kSflByteMode, 0}, {kSflAddr, addr}, {kSflDtCtl, 1}});
    const bool started = seq_wait(fd, kSflDtCtl, 0x80, false, "read_flash start");
    wr(fd, kSflDtCtl, 0);
    if (!started) {
        for (uint32_t i = 0; i < len; ++i)
            out[i] = 0xFF;     // nothing was read: the caller sees erased flash, not stale bytes
        wr(fd, kSflAddr, addr);
        return 1;
    }
    for (uint32_t i = 0; i < len; ++i)
        out[i] = uint8_t(rd(fd, kSflData));
    wr(fd, kSflAddr, addr);
    return 0;
}

int c331_manage::erase_flash(int fd, uint32_t sector, uint32_t count, char kind)
{
    const uint32_t unit = eraseUnit(kind);
    const uint64_t start = uint64_t(sector) * 4096;
    if (start + uint64_t(count) * unit > kFlashSize) {
        KEL_TRACE("\n [erase_flash] sector %u count %u outside the flash\n", sector, count);
        return 1;
    }
    const uint8_t op = eraseOpcode(kind);
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    flash_pins(fd, false);
    write_in_order(*this, fd,
                   {{kSflCmd, 0}, {kSflMode, 0x80}, {kSflMode, 0x01}, {kSflOp, op}, {kSflWrenOp, 0x06}, {kSflRdsrOp, 0x05},
                    {kSflAccess, 1}});
    for (uint32_t u = 0; u < count; ++u) {
        wr(fd, kSflOp, op);
        wr(fd, kSflAddr, uint32_t(start + uint64_t(u) * unit));
        wr(fd, kSflCmd, 4);
        bool ok = seq_wait(fd, kSflStat, 0x08, false, "erase_flash EBUSY") &&
                  seq_wait(fd, kSflRdsr, 0x01, false, "erase_flash WIP") && flash_clear_wel(fd, rd(fd, kSflRdsr));
        wr(fd, kSflCmd, 0);
        if (!ok)
            return 1;
    }
    return 0;
}

int c331_manage::osd_write_dma_sfl(int fd, uint32_t flash, uint32_t dest, int kind, uint32_t len)
{
    if (flash >= kFlashSize || len > kFlashSize - flash) {
        KEL_TRACE("\n [osd_write_dma_sfl] flash %#x len %u outside the flash\n", flash, len);
        return 1;
    }
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    flash_pins(fd, true);
    write_in_order(*this, fd,
                   {{kEngineCmd, 0}, {kSflCmd, 0}, {kSflMode, 0x80}, {kSflMode, kind == 1 ? 0x37u : 0x33u}, {kSflAccess, 2},
                    {kSflProgOp, 0x12}, {kSflReadOp, 0x0C}, {kSflOp, 0xC7}, {kSflWrenOp, 0x06}, {kSflRdsrOp, 0x05},
                    {kSflAddr, flash}, {kSflDmaLen, len | 0x80000000u}, {kSflDmaKind, uint32_t(kind) & 0x0F}});
    if (kind == 0)
        wr(fd, kEngineDst, dest);
    else if (kind == 1)
        wr(fd, kListAddr, dest & 0xFFFF);
    else if (kind == 4)
        wr(fd, kPaletteIndex, dest & 0xFF);
    wr(fd, kSflCmd, 2);
    const bool ok = seq_wait(fd, kSflStat, 0x01, false, "osd_write_dma_sfl");
    wr(fd, kSflCmd, 0);
    return ok ? 0 : 1;
}
