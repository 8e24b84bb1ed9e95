#include "gui/drawn_block.h"

#include <cstring>

DrawnBlock::DrawnBlock() : live_(new KelRamPara::BlockCopy), drawn_(new KelRamPara::BlockCopy)
{
    take_live();
    drawn();
}

void DrawnBlock::take_live()
{
    KelRamPara::pInstance()->copy_block(*live_);
}

bool DrawnBlock::changed(int offset, int n) const
{
    if (offset < 0 || n <= 0 || offset + n > KelRamPara::kRamSize)
        return false;
    return std::memcmp(live_->ram + offset, drawn_->ram + offset, size_t(n)) != 0;
}

void DrawnBlock::drawn()
{
    std::memcpy(drawn_->ram, live_->ram, sizeof(live_->ram));
}
