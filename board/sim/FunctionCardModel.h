#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// A function card in the receiving-card chain of a port (placed with the scenario key
// F.funccard.portN=1 of ReceivingCardModel). It takes the packets whose target has bit 14
// set (0x4000 + 0x1000 x (port & 3)) and answers from that address:
//   0x61 read RAM (u32 address, u16 length): RAM 0 from address 0 (256 bytes; byte 44 = 1
//        allows power control) and the light sensor's image at 0x02000000 (128 bytes;
//        byte 49 = 255 marks a valid reading, byte 53 is the brightness it suggests);
//   0xA0 register write (register, mask, 0, value): the card registers, of which 2 and 3
//        hold the eight two-bit channel fields.
// Answers carry byte 10 = 0 (done), then the data read.
// Scenario keys, N = port 0..15, F = "fpga" or "fpga1":
//   F.funccard.portN.power=<byte>    RAM 0 byte 44 (default 0)
//   F.funccard.portN.light=<0..255>  a valid light-sensor reading suggesting that value
struct FunctionCard {
    std::array<uint8_t, 256> ram0{};
    std::array<uint8_t, 128> sensor{};
    std::array<uint8_t, 256> regs{};
    std::vector<std::vector<uint8_t>> registerWrites;   // payloads of 0xA0 commands
};

class FunctionCardModel {
public:
    static constexpr uint32_t kSensorAddress = 0x02000000;
    static constexpr size_t kPowerEnableByte = 44;
    static constexpr size_t kSensorValidByte = 49;
    static constexpr size_t kSensorValueByte = 53;

    // Whether a packet is for the function card rather than the receiving cards.
    static bool addressed(const uint8_t* packet, size_t length);
    // Carries the command out on the port's card and returns the answer's payload.
    static std::vector<uint8_t> execute(int fpga, int port, const uint8_t* packet, size_t length);

    static void setRam0(int fpga, int port, size_t address, const std::vector<uint8_t>& bytes);
    static void setLightSensor(int fpga, int port, bool valid, uint8_t suggested);
    static FunctionCard card(int fpga, int port);
    static void reset();
};

} // namespace sim
