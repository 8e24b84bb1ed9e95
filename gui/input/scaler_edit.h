#pragma once
// A screen's own edit of the scaler settings in the parameter block: made under the block's
// lock (which every writer of those settings holds, held for the edit only), and followed
// under the same hold by the apply flag, so that the scaler thread applies it and notifies
// the screens.
#include "core/kelrampara.h"
#include "scaler/c331_manage.h"

#include <cstdint>
#include <mutex>

template <typename Edit>
void kel_scaler_edit(Edit&& edit, uint8_t flag = 1)
{
    std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
    edit();
    if (c331_manage* manager = c331_manage::p_c331_manage)
        manager->raise_apply_flag(flag);
}
