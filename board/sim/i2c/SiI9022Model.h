#pragma once
#include "board/sim/I2cBusModel.h"

#include <cstdint>
#include <mutex>

namespace sim {

// The output-side HDMI transmitter on the input side's bus itself, one TPI register file
// answering at 0x72 and 0x76. A write is [register, data...], a read continues from the
// register last addressed; the register pointer advances per byte. A test can take the
// chip off the bus (every transfer NAKs).
class SiI9022Model : public I2cModel {
public:
    static constexpr uint8_t kAddrRead = 0x72;
    static constexpr uint8_t kAddrWrite = 0x76;

    static SiI9022Model& instance();

    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;

    uint8_t reg(int r);
    void setPresent(bool present);
    void reset();

private:
    std::mutex lock_;
    uint8_t regs_[256] = {};
    uint8_t pointer_ = 0;
    bool present_ = true;
};

} // namespace sim
