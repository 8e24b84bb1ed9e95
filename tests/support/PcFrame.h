#pragma once
// The PC side of the controller's protocol frame, written independently of the device's own
// code so that tests check one against the other: building requests, escaping, unescaping,
// the check byte and reading replies. Used by the tests, the benchmarks and tools/pcclient.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace pc {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kController = 0xF100;   // the controller itself (0xF101 too)
constexpr uint16_t kPc = 0xF010;           // the PC's own address

// One unescaped frame: header fields and the group's data (the check byte is computed).
struct Frame {
    uint16_t dest = kController;
    uint16_t src = kPc;
    uint8_t b4 = 0, b5 = 0;   // echoed by the controller
    uint8_t mode = 0;         // sub-device mode (byte 6)
    uint8_t sub = 0;          // sub-device number (byte 7)
    uint8_t b8 = 0;           // echoed
    uint8_t group = 0;        // command group (byte 9)
    Bytes data;               // bytes 10 ..

    uint8_t status() const { return data.empty() ? 0xFF : data[0]; }
};

// XOR of the bytes, from 0.
uint8_t checkByte(const uint8_t* data, size_t len);

// Header, data and check byte.
Bytes encode(const Frame& frame);
// A5 A5 A5, the escaped bytes, 5A.
Bytes escape(const Bytes& unescaped);
// The bytes between the last 0xA5 opener and the first following 0x5A, unescaped. false
// when no closed frame is in the buffer.
bool unescape(const uint8_t* wire, size_t len, Bytes& out);
inline bool unescape(const Bytes& wire, Bytes& out) { return unescape(wire.data(), wire.size(), out); }
// An unescaped frame with at least a header and check byte whose check byte is right.
bool decode(const Bytes& unescaped, Frame& out);
// escape(encode(frame)).
Bytes wire(const Frame& frame);

// --- little-endian fields ---
void put16(Bytes& b, uint16_t v);
void put32(Bytes& b, uint32_t v);
uint16_t get16(const uint8_t* p);
uint32_t get32(const uint8_t* p);

// --- requests ---
Frame writeRam(uint32_t address, const Bytes& data, uint16_t dest = kController);   // 0x60
Frame readRam(uint32_t address, uint16_t length, uint16_t dest = kController);      // 0x61
Frame writeRegister(uint8_t reg, uint8_t mask, uint8_t value, uint16_t dest = kController);  // 0xA0
Frame readRegister(uint8_t reg, uint16_t dest = kController);                       // 0xA1
// Group 0xB0: '1', a spare byte, then (item, u16 value) triples.
Frame singleSettings(const std::vector<std::pair<uint8_t, uint16_t>>& items);

// Hex dump "0a 1b ..." for people and failure messages.
std::string hex(const uint8_t* data, size_t len);
inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }

} // namespace pc
