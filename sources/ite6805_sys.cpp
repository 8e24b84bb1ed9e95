#include "sources/ite6805_sys.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "sources/drv_i2c.h"
#include "sources/ite6805_drv.h"

namespace {
constexpr uint8_t kAddress = 0x90;
constexpr int kRegChips = 37;

Drv_I2C0& bus()
{
    static Drv_I2C0 fallback;
    return Drv_I2C0::p_drv_i2c0 ? *Drv_I2C0::p_drv_i2c0 : fallback;
}
} // namespace

ite6805_sys::ite6805_sys()
{
    p_ite6805_drv = new ite6805_drv(this);
}

ite6805_sys::~ite6805_sys()
{
    delete p_ite6805_drv;
}

void ite6805_sys::ite6805_sys_reset_init()
{
    FsmState[0] = 0;
    identify_fail[0] = 0;
    timing[0] = iTE6805_TIMING();
}

unsigned char ite6805_sys::hdmirxrd(unsigned char reg, int /*dev*/)
{
    unsigned char value = 0;
    if (!bus().i2c_read(fd, kAddress, reg, &value, 1))
        std::printf("=====HDMI Read ERROR Read Reg0x%X=\n", reg);
    return value;
}

int ite6805_sys::hdmirxwr(unsigned char reg, unsigned char value, int /*dev*/)
{
    if (bus().i2c_write(fd, kAddress, reg, &value, 1))
        return 0;
    std::printf("=====HDMI I2C ERROR Write Reg0x%X=%X =====\n", reg, value);
    return 1;
}

int ite6805_sys::hdmirxset(unsigned char reg, unsigned char mask, unsigned char value, int dev)
{
    unsigned char old = hdmirxrd(reg, dev);
    return hdmirxwr(reg, uint8_t((old & ~mask) | (value & mask)), dev);
}

int ite6805_sys::iTE6805_Identify_Chip(int dev)
{
    unsigned char id[4] = {0, 0, 0, 0};
    bool ok = bus().i2c_read(fd, kAddress, 0x00, id, 4) == 1;
    // Register 2 reads 0x05 or 0x07 depending on the chip revision.
    bool found = ok && id[0] == 0x54 && id[1] == 0x49 && (id[2] & 0xFD) == 0x05 && id[3] == 0x68;
    uint8_t bit = dev == 0 ? 0x20 : 0x40;
    if (KelRamPara* para = KelRamPara::p_kelrampara_config) {
        if (found)
            __atomic_fetch_or(&para->reg_image[kRegChips], bit, __ATOMIC_SEQ_CST);
        else
            __atomic_fetch_and(&para->reg_image[kRegChips], uint8_t(~bit), __ATOMIC_SEQ_CST);
    }
    if (!found && dev >= 0 && dev < 2)
        ++identify_fail[dev];
    return found ? 1 : 0;
}

void ite6805_sys::iTE6805_MainBody(int /*dev*/)
{
    // Interrupt service, equaliser and the video and audio state machines come with the
    // receiver work.
}

void ite6805_sys::iTE6805_FSM(int dev)
{
    if (dev < 0 || dev > 1)
        return;
    switch (FsmState[dev]) {
    case 0:
        if (iTE6805_Identify_Chip(dev)) {
            p_ite6805_drv->iTE6805_Init_fsm(dev);
            FsmState[dev] = 2;
        }
        break;
    case 2:
        board::Clock::sleepMs(1000);
        FsmState[dev] = 1;
        break;
    default:
        iTE6805_MainBody(dev);
        break;
    }
}
