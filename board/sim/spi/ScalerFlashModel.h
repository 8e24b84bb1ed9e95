#pragma once
#include <cstdint>
#include <vector>

namespace sim {

class SparseMemory;

// The scaler's 32 MiB serial NOR flash and the chip's controller in front of it (bank 4),
// as the scaler model sees them. Erased bytes read 0xFF; programming only clears bits.
//   0x47 mode: 0x31 byte read/write, 0x01 erase, 0x33 DMA, 0x37 DMA into the list memory
//   0x48 command: 2 DMA, 4 erase (opcode 0x4B: 0x20 4 KiB, 0x52 32 KiB, 0xD8 64 KiB, of the
//        aligned unit that holds the address), 5 single command (0x4B: 0x04 write disable)
//   0x4E-0x51 address: acts when its highest byte (0x51) is written. Bytes written to the
//        data port since the address was last set form the page buffer; rewriting the
//        address programs them from the old address on, wrapping within its 256-byte page.
//   0x52 data port: a write adds to the page buffer; a read gives the byte at the read
//        pointer and advances it
//   0x53 writing bit 0 starts a read at the address (read pointer = address)
//   0x56-0x59 DMA length (bit 31 set), 0x5A DMA kind: 0 chip memory at 0x11-0x14,
//        1 character-list memory at 0x27-0x28, 4 palette from bank 9 register 0x1F
// The part answers only what a real one would: pins of bank 5 set up (0x42 = 0x000055,
// 0x3C and 0x3E = 0x0300, 0x45 = 0x03FF); a program needs opcodes 0x12 (0x49), 0x06 (0x4C)
// and 0x05 (0x4D), an erase 0x06 and 0x05, a read or DMA the read opcode 0x0C (0x4A).
// Otherwise nothing is programmed or erased, a DMA moves nothing and a read gives zeros.
// Status: the part and the controller finish everything at once (WEMPTY set, busy and WIP
// clear); a program or erase leaves the write enable latch (0x55 bit 1) set until the
// single command 0x04 (write disable: 0x4B = 0x04, 0x48 = 5). The scaler model's stuck bits
// make a busy that never ends.
class ScalerFlashModel {
public:
    static constexpr uint32_t kSize = 0x2000000;
    static constexpr uint32_t kPage = 256;

    // One operation the controller carried out (kept while the board records).
    struct Op {
        char kind;          // 'P' page program, 'E' erase, 'D' DMA, 'R' read start
        uint32_t address;   // flash address (erase: the unit's start)
        uint32_t length;    // bytes programmed, erased, moved; 0 for a read start
        bool operator==(const Op& o) const { return kind == o.kind && address == o.address && length == o.length; }
    };

    static std::vector<uint8_t> read(uint32_t address, uint32_t length);
    static void write(uint32_t address, const std::vector<uint8_t>& bytes);   // raw, no rules
    static std::vector<Op> ops();
    static void clearOps();
    static void reset();   // erased, no operations

    // Called by the scaler model, under its lock, for every write and data-port read of
    // bank 4; regs is the chip's register file.
    static void registerWritten(uint8_t (*regs)[128], int reg, uint8_t value);
    static uint8_t dataPortRead();
};

} // namespace sim
