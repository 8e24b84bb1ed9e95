#include "sources/ite6805_drv.h"

#include "core/global.h"
#include "sources/ite6805_sys.h"

void ite6805_drv::chgbank(int bank, int dev)
{
    owner_->hdmirxset(0x0F, 0x07, uint8_t(bank & 7), dev);
}

int ite6805_drv::iTE6805_Check_5V_State(int port, int dev)
{
    return owner_->hdmirxrd(port == 0 ? 0x13 : 0x16, dev) & 0x01;
}

int ite6805_drv::iTE6805_Check_PORT0_IS_MHL_Mode(int port, int dev)
{
    return port == 0 ? (owner_->hdmirxrd(0x13, dev) & 0x40) : 0;
}

void ite6805_drv::iTE6805_Set_HPD_Ctrl(int port, int level, int dev)
{
    std::printf("iTE6805_Set_HPD_Ctrl PORT%d_HPD = %d \r\n", port, level);
    if (port != 0)
        return;
    if (!iTE6805_Check_5V_State(0, dev)) {
        chgbank(3, dev);
        owner_->hdmirxset(0xAB, 0xC0, 0x00, dev);
        chgbank(0, dev);
        return;
    }
    if (iTE6805_Check_PORT0_IS_MHL_Mode(0, dev))
        return;
    chgbank(3, dev);
    owner_->hdmirxset(0xAB, 0xC0, level ? 0xC0 : 0x40, dev);
    owner_->hdmirxset(0xAC, 0x7C, 0x40, dev);
    chgbank(0, dev);
}

void ite6805_drv::iTE6805_Init_fsm(int dev)
{
    // The register table and the output set-up come with the receiver work; the chip is
    // left with its outputs as they are.
    chgbank(0, dev);
}
