#pragma once
#include <cstdint>

namespace sim {

// The system-on-chip register window as the simulated board keeps it: one store of
// kWindowLength bytes at physical kWindowBase, which both the "/dev/mem" mapping and the
// memory request hand out. Device models read GPIO lines from it at each transfer and
// drive input lines (FPGA interrupts) into it.
class SocModel {
public:
    static constexpr uint32_t kWindowBase = 0x1F000000;
    static constexpr uint32_t kWindowLength = 0x2B0000;
    static constexpr uint32_t kRequestMagic = 0x4D530100;   // word 0 of the memory request
    static constexpr uint32_t kRequestLength = 20;          // word 4: the record's bytes
    // Unique-id words (16-bit registers) and the register whose bit 8 gates them.
    static constexpr uint32_t kUniqueIdGate = 0x400C;
    static constexpr uint32_t kUniqueId0 = 0x4058;
    static constexpr uint32_t kUniqueId1 = 0x405C;
    static constexpr uint32_t kUniqueId2 = 0x4060;

    // Words in the board's byte order (little-endian); every access of a model or a test goes
    // under the model's lock.
    static uint16_t read16(uint32_t offset);
    static void write16(uint32_t offset, uint16_t value);
    // A line the board pulls to `level`: it reads so from now on and after every reset, until
    // someone drives it; a model registers its lines once, at start-up.
    static void pullUp(uint32_t offset, uint16_t level);
    static volatile uint8_t* base();

    // false: "/dev/mem" and "/dev/msys" cannot be opened (a board without the window).
    static void setAvailable(bool available);
    static bool available();
    static void setUniqueId(uint16_t w0, uint16_t w1, uint16_t w2);
    static void reset();                 // zeroed window but the pull-ups, default unique id, available
    // A line pulsed low and back between two looks of the chip it resets: the chip models
    // count the pulses of their reset line besides reading its level.
    static void pulseLow(uint32_t offset);
    static uint32_t lowPulses(uint32_t offset);
};

} // namespace sim
