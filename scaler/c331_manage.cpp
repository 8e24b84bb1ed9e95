#include "scaler/c331_manage.h"

c331_manage* c331_manage::p_c331_manage = nullptr;

c331_manage* c331_manage::pInstance()
{
    if (!p_c331_manage)
        p_c331_manage = new c331_manage();
    return p_c331_manage;
}

void c331_manage::raise_apply_flag(uint8_t value)
{
    if (value > c331_apply_flag)
        c331_apply_flag = value;
}
