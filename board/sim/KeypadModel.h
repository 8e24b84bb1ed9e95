#pragma once
#include <cstdint>
#include <vector>

namespace sim {

// The USB keypad: present or not (scenario "keypad.present", default 0), the LED reports
// written to it, and a write that fails.
class KeypadModel {
public:
    static void setPresent(bool present);
    static void setWriteFails(bool fails);
    static std::vector<std::vector<uint8_t>> reports();
    static void reset();
};

} // namespace sim
