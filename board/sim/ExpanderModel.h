#pragma once
#include "board/sim/I2cBusModel.h"

namespace sim {

// The 8-bit output expander of the input side (0x40). A write is [register, data]; register
// 0 is the output port. Bit 0 of the port write-protects the EDID EEPROMs (1 = protected),
// bits 6, 5, 4 and 2 route the audio of input 0, 1, 2 or 3. After power-up the port is 0x01
// (protected, no audio) until the application writes it.
class ExpanderModel : public I2cModel {
public:
    static constexpr uint8_t kProtect = 0x01;
    static constexpr uint8_t kPowerUp = 0x01;

    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;
    uint8_t output() const;
    bool writeProtected() const { return (output() & kProtect) != 0; }
    void reset();

private:
    uint8_t output_ = kPowerUp;
    uint8_t pointer_ = 0;
};

} // namespace sim
