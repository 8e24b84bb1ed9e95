// Groups 0x70, 0x71, 0x72: erase, write and read the serial flash chips. The chip number
// comes from the top address byte on this controller and from the sub-device bytes on the
// FPGA side; every chip but the scaler's (chip 4, reached through the scaler manager) is an
// 8 MiB configuration flash of the FPGA side.
#include "protocol/message_deal.h"

#include "core/global.h"
#include "fpga/fpga_drv.h"
#include "protocol/pc_fields.h"
#include "protocol/protocol_phy.h"
#include "scaler/c331_manage.h"

#include <cstring>

using pcf::rd16;
using pcf::rd32;

namespace {

constexpr unsigned kEraseLen = 16;   // address, mode, count
constexpr unsigned kWriteHead = 18;  // address, length, two work bytes, then the data
constexpr unsigned kReadLen = 16;    // address, length

// Chip 0 is a window of FPGA 0's flash: addresses 0x480000 up to 0x4C0000 (256 KiB) lie
// 0x14C000 lower on the flash behind select 2.
constexpr uint32_t kWindowStart = 0x480000;
constexpr uint32_t kWindowEnd = 0x4C0000;
constexpr uint32_t kWindowShift = 0x14C000;

struct Chip {
    unsigned number;
    uint64_t size;        // bytes
    unsigned char select; // the FPGA flash select (2 or 3)
};

Chip chip_of(const unsigned char* frame, bool own, uint32_t A)
{
    unsigned c;
    if (own)
        c = A >> 24;
    else if (frame[6] != 0)
        c = 2;
    else if (frame[7] == 1 || frame[7] == 2)
        c = frame[7] + 1u;
    else
        c = 2;
    Chip chip{c, 0x800000, 2};
    if (c == 3)
        chip.select = 3;
    else if (c == 4)
        chip.size = 0x2000000;
    else if (c == 8)
        chip.size = 0x10000;
    return chip;
}

// The range [addr, addr + len) lies on the chip (and, for chip 0, wholly in its window).
bool range_ok(const Chip& chip, uint64_t addr, uint64_t len)
{
    if (addr + len > chip.size)
        return false;
    if (chip.number == 0)
        return addr >= kWindowStart && addr + len <= kWindowEnd;
    return true;
}

} // namespace

int message_deal::cmd_erase_flash(unsigned char* frame)
{
    if (frame_len < kEraseLen) {
        frame[10] = 1;
        return 1;
    }
    const uint32_t A = rd32(frame + 10);
    const unsigned char mode = frame[14];
    const unsigned N = frame[15] ? frame[15] : 1;
    frame[10] = 1;   // the reply is written over the fields just read
    unsigned unit, kind;
    switch (mode) {
    case 1: unit = 1; kind = 0; break;
    case 2: unit = 8; kind = 1; break;
    case 4: unit = 16; kind = 2; break;
    default: return 1;
    }
    const uint32_t B = (A >> 12) & 0xFFF;
    if ((A & 0xFFF) != 0 || (B % unit) != 0)
        return 1;
    const Chip chip = chip_of(frame, own_destination(frame), A);
    if (!range_ok(chip, uint64_t(B) * 4096, uint64_t(N) * unit * 4096))
        return 1;
    if (chip.number == 8) {
        KEL_TRACE("\n erase flash 8: nothing to erase\n");
        frame[10] = 0;
        return 1;
    }
    if (chip.number == 4) {
        // The request names 4 KiB blocks with 12 bits: an erase may not run on past the
        // 16 MiB that they reach.
        if (uint64_t(B) + uint64_t(N) * unit > 0x1000)
            return 1;
        c331_manage* c = c331_manage::p_c331_manage;
        frame[10] = c && c->erase_flash(c->c331_fd, B, N, char(kind)) == 0 ? 0 : 1;
        return 1;
    }
    if (chip.number == 0) {
        // The window lies 0x14C000 lower on the flash, which is not a multiple of 32 or
        // 64 KiB: a block erase there would clear the aligned block around the moved
        // address, partly outside the window. The named range goes as 4 KiB sectors.
        const uint32_t sector = B - (kWindowShift >> 12);
        frame[10] = fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(chip.select, sector, 0, N * unit) ? 0 : 1;
        return 1;
    }
    frame[10] = fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(chip.select, B, (unsigned char)kind, N) ? 0 : 1;
    return 1;
}

int message_deal::cmd_write_flash(unsigned char* frame)
{
    if (frame_len < kWriteHead) {
        frame[10] = 1;
        return 1;
    }
    const uint32_t A = rd32(frame + 10);
    const unsigned L = rd16(frame + 14);
    frame[10] = 1;
    if (kWriteHead + L > frame_len)
        return 1;   // the announced data is not all in the frame
    const Chip chip = chip_of(frame, own_destination(frame), A);
    const uint32_t addr = A & 0xFFFFFF;
    if (!range_ok(chip, addr, L))
        return 1;
    if (chip.number == 8 || L == 0) {
        // Nothing to write (as a read of nothing reads nothing): done.
        KEL_TRACE("\n write flash %u: nothing to write\n", chip.number);
        frame[10] = 0;
        return 1;
    }
    if (chip.number == 4) {
        c331_manage* c = c331_manage::p_c331_manage;
        frame[10] = c && c->write_flash(c->c331_fd, addr, L, frame + kWriteHead) == 0 ? 0 : 1;
        return 1;
    }
    const uint32_t at = chip.number == 0 ? addr - kWindowShift : addr;
    // The driver builds each page's command in the four bytes before the page's data,
    // starting with bytes 14..17 of the frame (already read above).
    frame[10] = fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(chip.select, at, frame + 14, L) ? 0 : 1;
    return 1;
}

int message_deal::cmd_read_flash(unsigned char* frame)
{
    if (frame_len < kReadLen) {
        frame[10] = 1;
        return 1;
    }
    const uint32_t A = rd32(frame + 10);
    const unsigned L = rd16(frame + 14);
    frame[10] = 1;
    const Chip chip = chip_of(frame, own_destination(frame), A);
    const uint32_t addr = A & 0xFFFFFF;
    if (!range_ok(chip, addr, L))
        return 1;
    if (chip.number == 4) {
        c331_manage* c = c331_manage::p_c331_manage;
        if (!c || c->read_flash(c->c331_fd, addr, L, frame + 11) != 0)
            return 1;
    } else if (chip.number == 8) {
        // No chip behind it: the reply is zeros, never what the buffer held before.
        std::memset(frame + 11, 0, L);
    } else {
        const uint32_t at = chip.number == 0 ? addr - kWindowShift : addr;
        if (L && !fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(chip.select, at, L, frame + 11))
            return 1;
    }
    frame[10] = 0;
    // A reply that would not fit the link is refused rather than cut.
    if (!protocol_phy::reply_fits(frame, L + 1, reply_limit)) {
        frame[10] = 1;
        return 1;
    }
    return int(L) + 1;
}
