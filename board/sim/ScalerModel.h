#pragma once
#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

// One 2-byte frame as the scaler chip decoded it. A bank select is a write of the bank
// number to register 0 (bank then holds the newly selected bank).
struct ScalerFrame {
    bool write = false;
    uint8_t bank = 0;      // bank in force for the frame
    uint8_t reg = 0;       // 0x00..0x7F
    uint8_t value = 0;     // byte written, or byte answered to a read
    bool isBankSelect() const { return write && reg == 0; }
};

// The scaler chip on spidev chip select 0: 256 banks of 128 8-bit registers reached through
// 2-byte SPI frames (byte 0 bit 7 = write, bits 0-6 = register; byte 1 = data; a read
// answers the register in the second received byte). Besides plain storage it behaves as
// the drivers expect of the real part:
//  - bank 0xB2 register 0x08 answers the chip identification (0x24);
//  - the serial-flash controller (bank 4) is idle with its write buffer empty and reaches
//    the 32 MiB flash (ScalerFlashModel); the drawing engine (bank 4 register 0x17) is idle
//    and draws into the chip memory (ScalerOsdModel);
//  - the update-done bits (bank 5 registers 0x22/0x23) follow their request bits
//    (registers 0x08/0x09), so vertical-sync and output-update waits finish, except the
//    bits a test withholds;
//  - the field-status registers (bank 0xAB 0x40-0x4F) advance one field every 1/60 s of
//    the (virtual) clock, each in a phase a test may shift;
//  - the V-by-One receivers report lock (bank 0xB2 register 0x60 bits 5 and 7);
//  - the input measurement registers (banks 0xAE, 0xAF, 0xB1) follow the scenario's input
//    signals: keys input<d>.signal, .hact, .vact, .htotal, .vtotal, .hz for receiver d
//    (scaler port 0 <- receiver 2, 1 <- 1, 2 <- 0, 5 <- 3; ports 3 and 4 have none).
//    Key input<d>.timing names the whole timing at once ("1920x1080@60", "3840x2160@30",
//    "1080i" or "1920x1080i@60" for fields of 540 lines in 562, "none"); the single keys
//    and input<d>.interlaced override it. Receiver 0 carries 1920x1080@60 (2200 x 1125)
//    unless the scenario says otherwise;
//  - bank 0xA8 register 0x3E + 5 x ICH reads 0xFF while the channel's selected source
//    (bank 0 register 0x10 + ICH) carries no signal;
//  - bank 0xA8 + 6 x ICH registers 0x08 (line total less one) and 0x0A (active width),
//    2 bytes each, measure the channel's selected source (ICH 1's bank is 0xAE, where the
//    input measurement answers).
class ScalerModel {
public:
    static constexpr uint8_t kChipId = 0x24;
    static constexpr uint32_t kMeasureClockHz = 200000000;   // counts of the frame period

    static uint8_t reg(int bank, int reg);               // stored value, no read side effects
    static void setReg(int bank, int reg, uint8_t value);
    static int currentBank();                            // bank register as last written

    static std::vector<ScalerFrame> frames();
    static void clearFrames();

    // Fault knobs.
    static void setChipId(uint8_t id);                   // answer of bank 0xB2 register 0x08
    static void setStuckBits(int bank, int reg, uint8_t mask);   // these bits always read 1
    // Done bits of the channels in the masks never come (input sync 0x22, output update 0x23).
    static void withholdDoneBits(uint8_t inputSyncMask, uint8_t outputUpdateMask);
    // Field-status register reg (0x40-0x4F) runs offset fields ahead of the others.
    static void setFieldPhase(int reg, int offset);

    static void reset();                                 // registers, faults and log to defaults
    // The whole chip as it stands, and put back (a second start run beside a first one).
    struct Saved;
    static std::shared_ptr<const Saved> save();
    static void restore(const std::shared_ptr<const Saved>& saved);

    // A held input channel (its own sync register 2, or following one that is): the field
    // slot it stopped in (-1: running), the write-field order and the buffer addresses then.
    struct Hold {
        int slot = -1;
        uint32_t order = 0;
        uint32_t buffer[5] = {};
    };
    static Hold hold(int ich);
};

} // namespace sim
