#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class SparseMemory;

// The scaler's OSD side as the scaler model sees it: the chip's external memory (sparse,
// reads 0 where never written), the drawing engine of bank 4, the character-list memory
// and the OSD palette.
//   bank 4 0x08 command: 1 fill, 2 copy, 3 render characters; carried out at once
//     fill: colour 0x0B, destination 0x11-0x14, width - 1 0x1E, height - 1 0x20
//     copy: source 0x0D-0x10, destination, width - 1, height - 1
//     pitches: destination 0x1B, source 0x1C, in 128-byte units, 512-byte units when 0x22
//     bit 4 (destination) or bit 5 (source) is set
//     render: entries 0x23 to 0x24 of the character list, 5 bytes each (glyph index low,
//     high, foreground, background, width - 1 with bit 7 = double size); the glyph height
//     - 1 (bit 7 = double) at list address 0xA00; glyphs from the font base 0x0D-0x10, 128
//     bytes of 4 bytes a row (0x2A = 0x08) or 512 bytes of 8 a row (0x2A = 0x48), bit 0 of
//     a byte the leftmost pixel; drawn from the destination in the destination pitch
//   bank 4 0x27-0x28 list address (acts on 0x28), 0x29 list data port (address advances)
//   bank 9 0x1F palette index, 0x20 palette data port (three bytes an entry)
class ScalerOsdModel {
public:
    static constexpr uint32_t kListSize = 0x10000;
    static constexpr uint32_t kPaletteSize = 1024;

    static std::vector<uint8_t> memory(uint32_t address, uint32_t length);
    static void setMemory(uint32_t address, const std::vector<uint8_t>& bytes);
    static std::vector<uint8_t> charList(uint32_t address, uint32_t length);
    static std::vector<uint8_t> palette(uint32_t index, uint32_t entries);   // 3 bytes an entry
    static uint32_t commandCount(int command);                              // since reset
    static size_t storedPages();                                             // memory in use / 4 KiB
    static void reset();

    // Called by the scaler model under its lock.
    static void registerWritten(uint8_t (*regs)[128], int bank, int reg, uint8_t value);
    // The flash controller's DMA: len bytes of flash from address to the destination kind.
    static void dmaFrom(const SparseMemory& flash, uint32_t address, int kind, uint32_t dest, uint32_t len);
};

} // namespace sim
