#include "board/sim/ClockChipModel.h"

#include "board/sim/SocModel.h"

#include <algorithm>

namespace sim {

// The register image whose outputs feed the FPGAs' links.
const uint8_t ClockChipModel::kRunningImage[kImageLength] = {
    0x00, 0x00, 0x11, 0x32, 0x7B, 0x53, 0xEC, 0x01, 0x19, 0x52, 0xF2, 0x06, 0x63, 0x24, 0xC7, 0x13,
    0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24, 0x03, 0x11, 0x33, 0x38, 0x80, 0x04,
    0x00, 0x00, 0x74, 0x74, 0x90, 0x7D, 0x69, 0xE1, 0xA0, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0xF3, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x05};

bool ClockChipModel::write(const uint8_t* data, uint16_t length)
{
    if (length == 0)
        return true;
    pointer_ = data[0];
    for (uint16_t i = 1; i < length; ++i) {
        regs_[pointer_++] = data[i];
        ++writes_;
    }
    programmed_ = std::equal(kRunningImage, kRunningImage + kImageLength, regs_.begin());
    return true;
}

void ClockChipModel::loadRunningImage()
{
    std::copy(kRunningImage, kRunningImage + kImageLength, regs_.begin());
    programmed_ = true;
}

bool ClockChipModel::read(uint8_t* data, uint16_t length)
{
    for (uint16_t i = 0; i < length; ++i)
        data[i] = regs_[pointer_++];
    return true;
}

bool ClockChipModel::outputEnabled() const
{
    return programmed_ && (SocModel::read16(enableOffset_) & 0x10) != 0;
}

void ClockChipModel::reset()
{
    regs_.fill(0);
    pointer_ = 0;
    writes_ = 0;
    programmed_ = false;
}

} // namespace sim
