#pragma once
#include "board/sim/I2cBusModel.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace sim {

// The programmable clock chip at 0xD0: a file of 256 8-bit registers. A write is
// [register, data...] with the register number advancing per byte; a read returns from the
// register last addressed on. Its outputs run only while registers 0..62 hold the image
// the input side needs and its enable line (a GPIO word of the SoC window, high = 16) is
// high; the FPGA link does not train without them.
class ClockChipModel : public I2cModel {
public:
    static constexpr int kImageLength = 63;
    static const uint8_t kRunningImage[kImageLength];

    explicit ClockChipModel(uint32_t enableOffset) : enableOffset_(enableOffset) {}

    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;

    uint8_t reg(int n) const { return regs_[uint8_t(n)]; }
    int writes() const { return writes_; }       // register bytes written since reset
    bool programmed() const { return programmed_; }
    bool outputEnabled() const;                  // programmed, and the enable line high
    // A chip that the input side has programmed already (for tests of the FPGA side).
    void loadRunningImage();
    void reset();

private:
    uint32_t enableOffset_;
    std::array<uint8_t, 256> regs_{};
    uint8_t pointer_ = 0;
    int writes_ = 0;
    std::atomic<bool> programmed_{false};       // read by the FPGA model on another thread
};

} // namespace sim
