#include "board/sim/ExpanderModel.h"

namespace sim {

bool ExpanderModel::write(const uint8_t* data, uint16_t length)
{
    if (length == 0)
        return true;
    pointer_ = data[0];
    // Only register 0 exists; a data byte for another register is not acknowledged.
    if (length >= 2) {
        if (pointer_ != 0)
            return false;
        output_ = data[length - 1];
    }
    return true;
}

bool ExpanderModel::read(uint8_t* data, uint16_t length)
{
    for (uint16_t i = 0; i < length; ++i)
        data[i] = output_;
    return true;
}

uint8_t ExpanderModel::output() const { return output_; }

void ExpanderModel::reset()
{
    output_ = kPowerUp;
    pointer_ = 0;
}

} // namespace sim
