#include "board/sim/ClockChipModel.h"

#include "board/sim/SocModel.h"

namespace sim {

bool ClockChipModel::write(const uint8_t* data, uint16_t length)
{
    if (length == 0)
        return true;
    pointer_ = data[0];
    for (uint16_t i = 1; i < length; ++i) {
        regs_[pointer_++] = data[i];
        ++writes_;
    }
    return true;
}

bool ClockChipModel::read(uint8_t* data, uint16_t length)
{
    for (uint16_t i = 0; i < length; ++i)
        data[i] = regs_[pointer_++];
    return true;
}

bool ClockChipModel::outputEnabled() const
{
    return (SocModel::read16(enableOffset_) & 0x10) != 0;
}

void ClockChipModel::reset()
{
    regs_.fill(0);
    pointer_ = 0;
    writes_ = 0;
}

} // namespace sim
