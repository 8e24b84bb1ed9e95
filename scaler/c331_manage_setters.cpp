// Setters of one property of one window: its priority (stacking order).
#include "scaler/c331_manage.h"

#include "core/global.h"

void c331_manage::c331_SetWinPriority(int win, int value)
{
    record_call("c331_SetWinPriority(" + std::to_string(win) + "," + std::to_string(value) + ")");
    if (!kelApi_IsWinValid(win))
        return;
    gWininfo[win].layer = uint8_t(value);
}

void c331_manage::c331_SetWinPriority1(int fd)
{
    record_call("c331_SetWinPriority1()");
    for (int w = 0; w < kWindows; ++w)
        PM_OVERLAY_PRI[w] = w < wincnt ? 5 - gWininfo[w].layer : 0;
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}
