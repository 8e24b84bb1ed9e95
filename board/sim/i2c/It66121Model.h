#pragma once
#include "board/sim/I2cBusModel.h"

#include <cstdint>
#include <mutex>
#include <vector>

namespace sim {

// The SDI stage's HDMI transmitter at 0x98 on the input side's bus itself. Registers
// 0x00-0x2F are common; above them register 0x0F bit 0 selects bank 0 or 1. Writes are
// [register, data...], the register advancing per byte.
//  - identification 0x54 0x49 in registers 0 and 1;
//  - status 0x0E: bit 6 a sink on the hot-plug line, bit 7 an interrupt pending (0x06 or
//    0x07 not 0; a test raises them); writing 0x0E with bit 0 set clears both;
//  - the DDC master: 0x15 = 3 reads 0x13 bytes of the sink's EDID image (segment 0x14,
//    offset 0x12, device 0x11 must be 0xA0) into the FIFO read at 0x17; 9 clears the FIFO,
//    0x0F aborts; 0x16 bit 7 reports done, bits 3-5 the error a test sets. A hanging DDC
//    leaves 0x16 at 0, so the driver's polls must give up.
class It66121Model : public I2cModel {
public:
    static constexpr uint8_t kAddress = 0x98;

    struct DdcRead {
        uint8_t segment, offset, count;
    };

    static It66121Model& instance();

    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;

    uint8_t reg(int bank, int r);
    void setSink(bool present, std::vector<uint8_t> edid = {});
    void raise(int r, uint8_t bits);          // interrupt bits in 0x06 / 0x07
    void setDdcError(uint8_t bits);           // bits 3-5 of 0x16
    void setDdcHang(bool hang);
    void setPresent(bool present);
    std::vector<DdcRead> ddcReads();
    void clearDdcReads();
    void reset();

private:
    uint8_t& at(int r);
    void store(uint8_t r, uint8_t v);
    uint8_t load(uint8_t r);

    std::mutex lock_;
    uint8_t regs_[2][256] = {};
    uint8_t pointer_ = 0;
    bool present_ = true;
    bool sink_ = false;
    bool hang_ = false;
    uint8_t ddcError_ = 0;
    std::vector<uint8_t> edid_;
    std::vector<uint8_t> fifo_;
    size_t fifoPos_ = 0;
    std::vector<DdcRead> reads_;
};

} // namespace sim
