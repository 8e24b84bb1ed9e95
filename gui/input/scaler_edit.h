#pragma once
// A screen's own edit of the scaler settings in the parameter block: made under the scaler
// manager's mutex, which every writer of those settings holds, and followed under the same
// hold by the apply flag, so that the scaler thread applies it and notifies the screens.
#include "scaler/c331_manage.h"

#include <cstdint>
#include <mutex>

template <typename Edit>
void kel_scaler_edit(Edit&& edit, uint8_t flag = 1)
{
    c331_manage* manager = c331_manage::p_c331_manage;
    if (!manager) {
        edit();
        return;
    }
    std::lock_guard<std::mutex> hold(manager->c331_mutex);
    edit();
    manager->raise_apply_flag(flag);
}
