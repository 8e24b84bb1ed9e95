#include "sources/velin_it6602.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "sources/drv_i2c.h"

namespace {
constexpr uint8_t kIdentity[4] = {0x54, 0x49, 0x02, 0x68};
constexpr int kRegChips = 37;

Drv_I2C0& bus()
{
    static Drv_I2C0 fallback;
    return Drv_I2C0::p_drv_i2c0 ? *Drv_I2C0::p_drv_i2c0 : fallback;
}

void chip_bit(int dev, bool found)
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (!para || dev < 0 || dev > 2)
        return;
    uint8_t bit = uint8_t(0x04 << dev);
    if (found)
        __atomic_fetch_or(&para->reg_image[kRegChips], bit, __ATOMIC_SEQ_CST);
    else
        __atomic_fetch_and(&para->reg_image[kRegChips], uint8_t(~bit), __ATOMIC_SEQ_CST);
}
} // namespace

unsigned char velin_it6602::hdmirxrd_it6602(int fd, unsigned char reg)
{
    unsigned char value = 0;
    bus().i2c_read(fd, i2c_addr, reg, &value, 1);
    return value;
}

int velin_it6602::hdmirxwr_it6602(int fd, unsigned char reg, unsigned char value)
{
    return bus().i2c_write(fd, i2c_addr, reg, &value, 1) ? 0 : 1;
}

int velin_it6602::hdmirxset_it6602(int fd, unsigned char reg, unsigned char mask, unsigned char value)
{
    unsigned char old = hdmirxrd_it6602(fd, reg);
    return hdmirxwr_it6602(fd, reg, uint8_t((old & ~mask) | (value & mask)));
}

void velin_it6602::chgbank_it6602(int fd, int bank)
{
    hdmirxset_it6602(fd, 0x0F, 0x03, uint8_t(bank & 3));
}

void velin_it6602::delay1ms(unsigned ms)
{
    board::Clock::sleepMs(ms);
}

int velin_it6602::IT6602_Identify_Chip(int fd, int dev)
{
    // An absent chip is tried on every pass; its absence is told once, until it is found.
    const bool tell = dev < 0 || dev > 2 || !missing_told[dev];
    for (uint8_t address : {uint8_t(0x90), uint8_t(0x94)}) {
        i2c_addr = address;
        unsigned char id[4] = {0, 0, 0, 0};
        bool ok = bus().i2c_read(fd, address, 0x00, id, 4) == 1;
        if (ok && id[0] == kIdentity[0] && id[1] == kIdentity[1] && id[2] == kIdentity[2] && id[3] == kIdentity[3]) {
            KEL_TRACE("I2C Addr %X ok: Can  find IT6602 Chip !!!\n", address);
            KEL_TRACE("OK , Find IT6602 Chip I2C Addr %X !!!\n", address);
            chip_bit(dev, true);
            if (dev >= 0 && dev < 3)
                missing_told[dev] = false;
            return 1;
        }
        if (tell)
            KEL_TRACE("I2C Addr %X Error: Can not find IT6602 Chip !!!\n", address);
        chip_bit(dev, false);
        if (dev >= 0 && dev < 3)
            ++identify_fail[dev];
    }
    if (dev >= 0 && dev < 3)
        missing_told[dev] = true;
    return 0;
}

int velin_it6602::IT6602_fsm_init(int fd, int dev)
{
    if (dev < 0 || dev > 2 || !missing_told[dev])
        KEL_TRACE("IT6602_fsm_init(%d )\n", dev);
    return IT6602_Identify_Chip(fd, dev);
}

void velin_it6602::IT6602_fsm_init_1(int fd, int dev)
{
    hdmirxset_it6602(fd, 0xC0, 0x03, 0x03);
    IT6602PortSelect(fd, 0, dev);
}

void velin_it6602::IT6602PortSelect(int fd, int port, int /*dev*/)
{
    hdmirxset_it6602(fd, 0x51, 0x01, uint8_t(port & 1));
}

void velin_it6602::IT6602_fsm(int /*fd*/, int /*dev*/)
{
    // The interrupt service and the video and audio state machines come with the
    // receiver work; until then an identified chip is only kept selected.
}

void velin_it6602::IT6602HPDCtrl(int fd, int port, int value)
{
    if (port != 0)
        return;
    bool power = (hdmirxrd_it6602(fd, 0x0A) & 0x01) != 0;
    chgbank_it6602(fd, 1);
    uint8_t bits = power ? (value ? 0x03 : 0x01) : 0x00;
    hdmirxset_it6602(fd, 0xB0, 0x03, bits);
    chgbank_it6602(fd, 0);
}
