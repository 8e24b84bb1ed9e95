#pragma once
#include <cstddef>
#include <cstdint>

namespace board {

// The USB keypad with LEDs (hidapi). Its keys arrive as ordinary key events.
class Keypad {
public:
    static bool present(uint16_t vendorId, uint16_t productId);
    // Writes one output report; the bytes written, or -1.
    static int writeReport(uint16_t vendorId, uint16_t productId, const uint8_t* report, size_t length);
};

} // namespace board
