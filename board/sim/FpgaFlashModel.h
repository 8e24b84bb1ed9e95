#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The 8 MiB 25-series configuration flash beside each FPGA: FPGA 0's on spidev chip
// select 3, FPGA 1's on chip select 4. A flash answers only while its select line in the
// SoC window (0x207860 / 0x207950) and its FPGA's select (0x207810 / 0x207900) are 0 and
// the other FPGA's select is 16; a command is one SPI message (chip select low to high).
//   0x06 write enable, 0x04 write disable
//   0x05 status (bit 0 busy, bit 1 write enabled), repeated for every byte clocked
//   0x02 page program: 3 address bytes, data; programming only clears bits, the address
//        wraps within its 256-byte page, the last 256 bytes count; done at select high
//   0x03 read, 0x0B fast read (one dummy byte); the address wraps at the end of the part
//   0x20 / 0x52 / 0xD8 erase of the aligned 4 / 32 / 64 KiB block to 0xFF
//   0x4B unique id: 4 dummy bytes, then the 8 id bytes
//   0x9F JEDEC id; 0x01 / 0x31 status writes (accepted)
// Program and erase need write enable and leave the part busy for a while (board clock);
// while busy only the status read answers. The content is kept in a file under the data
// root ("<root>/sim/fpga<N>-flash.bin"), so it survives a restart of the program.
//
// Scenario keys: fpga.flash.stuck_busy=1 (every program or erase stays busy for ever),
// fpga.flash.program_us, fpga.flash.erase4k_us, .erase32k_us, .erase64k_us (busy times),
// fpga.flash.torn_bytes=N (a program that a PowerCut falls on programs its first N bytes).
class FpgaFlashModel {
public:
    static constexpr uint32_t kSize = 0x800000;
    static constexpr uint32_t kPage = 256;

    static std::vector<uint8_t> read(int flash, uint32_t address, uint32_t length);   // flash 0 or 1
    static void write(int flash, uint32_t address, const std::vector<uint8_t>& bytes); // raw, no rules
    static void erase(int flash);                                   // whole part to 0xFF
    static void setStuckBusy(bool on);
    static bool busy(int flash);
    static void setUniqueId(int flash, const std::vector<uint8_t>& id);
    // Counters of the commands carried out since the last reset.
    static uint32_t programCount(int flash);
    static uint32_t eraseCount(int flash);
    // Drops the content held in memory; the next access reads the file again (a power cycle).
    static void reload();
    static std::string file(int flash);
    static void reset();
};

} // namespace sim
