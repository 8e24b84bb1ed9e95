#include "sources/transmitters/it66121_sys.h"

#include "board/Clock.h"
#include "fpga/fpga_manage.h"
#include "sources/transmitters/it66121_hdmitx_drv.h"
#include "sources/transmitters/it66121_hdmitx_sys.h"
#include "sources/transmitters/sdi_it66121.h"

namespace {
void window_write(uint32_t offset, uint16_t value)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    volatile uint16_t* line = fpga ? fpga->gpio_line(offset) : nullptr;
    if (line)
        *line = value;
}
} // namespace

it66121_sys::it66121_sys()
{
    p_hdmitx_drv = new it66121_hdmitx_drv();
    p_hdmitx_sys = new it66121_hdmitx_sys(p_hdmitx_drv);
    p_sdi = new sdi_it66121();
}

it66121_sys::~it66121_sys()
{
    delete p_hdmitx_sys;
    delete p_hdmitx_drv;
    delete p_sdi;
}

void it66121_sys::delay1ms(unsigned ms)
{
    board::Clock::sleepMs(ms);
}

void it66121_sys::sdi_it66121_init()
{
    window_write(fpga_manage::kGpioSdiPrepare, 0x10);
    window_write(fpga_manage::kGpioSdiReset, 1);
}

void it66121_sys::GS2971_Reset()
{
    window_write(fpga_manage::kGpioSdiReset, 0);
    delay1ms(50);
    window_write(fpga_manage::kGpioSdiReset, 1);
}

bool it66121_sys::IT66121_Test()
{
    p_hdmitx_drv->Switch_HDMITX_Bank(0);
    const unsigned id = unsigned(p_sdi->HDMITX_ReadI2C_Byte(1)) * 256u + p_sdi->HDMITX_ReadI2C_Byte(0);
    return id == 0x4954;
}

void it66121_sys::IT66121_init()
{
    p_hdmitx_sys->InitHDMITX_Variable();
    p_hdmitx_drv->InitHDMITX();
    CHANGE_INPUT(7);
    GS2971_Reset();
}

void it66121_sys::CHANGE_INPUT(uint8_t n)
{
    static const uint8_t kTypes[18] = {1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 31, 32, 33, 34};
    p_hdmitx_sys->HDMITX_ChangeDisplayOption(kTypes[n % 18], it66121_hdmitx_sys::kRgb);
}
