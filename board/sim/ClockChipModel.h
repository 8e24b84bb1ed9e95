#pragma once
#include "board/sim/I2cBusModel.h"

#include <array>
#include <cstdint>

namespace sim {

// The programmable clock chip at 0xD0: a file of 256 8-bit registers. A write is
// [register, data...] with the register number advancing per byte; a read returns from the
// register last addressed on. Its outputs run only while its enable line (a GPIO word of
// the SoC window, high = 16) is high.
class ClockChipModel : public I2cModel {
public:
    explicit ClockChipModel(uint32_t enableOffset) : enableOffset_(enableOffset) {}

    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;

    uint8_t reg(int n) const { return regs_[uint8_t(n)]; }
    int writes() const { return writes_; }       // register bytes written since reset
    bool outputEnabled() const;                  // read from the SoC window
    void reset();

private:
    uint32_t enableOffset_;
    std::array<uint8_t, 256> regs_{};
    uint8_t pointer_ = 0;
    int writes_ = 0;
};

} // namespace sim
