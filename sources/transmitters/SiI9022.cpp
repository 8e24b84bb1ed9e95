#include "sources/transmitters/SiI9022.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "sources/drv_i2c.h"
#include "sources/it6602/velin_it6602.h"
#include "sources/velinsource.h"

SiI9022* SiI9022::p_9022 = nullptr;

namespace {
constexpr int kRegBoard = 39;       // controller status register: transmitter presence bits
constexpr uint32_t kPixelClock = 62500000;
}

SiI9022* SiI9022::pInstance()
{
    if (!p_9022)
        p_9022 = new SiI9022();
    return p_9022;
}

void SiI9022::SiI9022_para_init()
{
    const uint8_t init[6] = {60, 80, 60, 20, 43, 20};
    for (int i = 0; i < 6; ++i)
        para[i] = init[i];
    vblank = 83;
}

// The chip shares the input side's bus; the descriptor is the one the IT6602 driver holds.
int SiI9022::bus_fd() const
{
    velinsource* src = velinsource::p_velin_source;
    return src && src->p_velin_it6602 ? src->p_velin_it6602->fd : -1;
}

int SiI9022::I2C_SiI9022A2_Write(unsigned char reg, const unsigned char* data, unsigned n)
{
    Drv_I2C0 bus;
    const int fd = bus_fd();
    if (!data || !bus.i2c_write(fd, kWriteAddress, reg, data, n))
        return 0;
    unsigned char back[Drv_I2C0::kMaxRead] = {};
    const int count = n > unsigned(Drv_I2C0::kMaxRead) ? Drv_I2C0::kMaxRead : int(n);
    if (bus.i2c_read(fd, kWriteAddress, reg, back, count)) {
        for (int i = 0; i < count; ++i)
            KEL_TRACE("=====num:%d SiI9022A I2C Read Reg0x%X=0x%X data:0x%x=====\n", i, unsigned(reg + i),
                      back[i], data[i]);
    }
    return 1;
}

int SiI9022::I2C_SiI9022A2_Read(unsigned char reg, unsigned char* data, unsigned n)
{
    if (!data || n > unsigned(Drv_I2C0::kMaxRead))
        return 1;
    Drv_I2C0 bus;
    return bus.i2c_read(bus_fd(), kReadAddress, reg, data, int(n)) ? 0 : 1;
}

void SiI9022::SiI9022_ByteWrite(unsigned char reg, unsigned char value)
{
    if (!I2C_SiI9022A2_Write(reg, &value, 1))
        KEL_TRACE("===== SiI9022A I2C ERROR Write Reg0x%X=%X Error=====\n", reg, value);
}

void SiI9022::WriteBlockTPI(unsigned char start, unsigned n, const unsigned char* data)
{
    for (unsigned i = 0; i < n; ++i)
        SiI9022_ByteWrite(uint8_t(start + i), data[i]);
}

int SiI9022::check_9022(int which)
{
    Drv_I2C0 bus;
    unsigned char value = 0;
    const bool ok = bus.i2c_read(bus_fd(), kWriteAddress, 0x62, &value, 1) == 1;
    const uint8_t bit = which ? 0x04 : 0x02;
    if (KelRamPara* p = KelRamPara::p_kelrampara_config) {
        if (ok)
            __atomic_fetch_or(&p->reg_image[kRegBoard], bit, __ATOMIC_SEQ_CST);
        else
            __atomic_fetch_and(&p->reg_image[kRegBoard], uint8_t(~bit), __ATOMIC_SEQ_CST);
    }
    return ok ? 1 : 0;
}

void SiI9022::SetVideo(uint16_t pixelClock10k, uint16_t refresh100, uint16_t hTotal, uint16_t vTotal)
{
    const unsigned char b[8] = {uint8_t(pixelClock10k), uint8_t(pixelClock10k >> 8), uint8_t(refresh100),
                                uint8_t(refresh100 >> 8),  uint8_t(hTotal),            uint8_t(hTotal >> 8),
                                uint8_t(vTotal),           uint8_t(vTotal >> 8)};
    WriteBlockTPI(0x00, 8, b);
}

void SiI9022::SetDE(int width, int height)
{
    const int delay = para[1] + para[2];
    const int top = para[4] + para[5];
    const unsigned char b[8] = {uint8_t(delay),         uint8_t(((delay >> 8) & 0x03) | 0x40),
                                uint8_t(top & 0x7F),    0,
                                uint8_t(width),         uint8_t((width >> 8) & 0x0F),
                                uint8_t(height),        uint8_t((height >> 8) & 0x07)};
    WriteBlockTPI(0x62, 8, b);
}

void SiI9022::SetAVI_InfoFrames(int deDelay, int deTop, int hParam, int vParam)
{
    unsigned char b[14] = {};
    b[1] = 0x11;
    b[2] = (deTop != 0 && deDelay / deTop >= 2) ? 0x28 : 0x18;
    b[8] = uint8_t(hParam + 1);
    b[12] = uint8_t(vParam + 1);
    unsigned sum = 0x82 + 0x02 + 0x0D;
    for (int i = 1; i < 14; ++i)
        sum += b[i];
    b[0] = uint8_t(0x100 - (sum & 0xFF));
    WriteBlockTPI(0x0C, 14, b);
}

void SiI9022::siHdmiTx_UserDefineSet(int width, int height, int hz)
{
    const int vTotal = height + int(vblank);
    if (hz <= 0 || vTotal <= 0) {
        KEL_TRACE("SiI9022: refresh %d or vertical total %d refused\n", hz, vTotal);
        return;
    }
    const int hTotal = int(kPixelClock / uint32_t(hz) / uint32_t(vTotal));
    SiI9022_ByteWrite(0xC7, 0x00);
    SiI9022_ByteWrite(0xBC, 0x01);
    SiI9022_ByteWrite(0xBD, 0x82);
    SiI9022_ByteWrite(0xBE, 0x25);
    SiI9022_ByteWrite(0x1E, 0x00);
    const uint64_t clock = uint64_t(hTotal) * uint64_t(hz) * uint64_t(vTotal) / 10000u;
    SetVideo(uint16_t(clock), uint16_t(hz * 100), uint16_t(hTotal), uint16_t(vTotal));
    SiI9022_ByteWrite(0x08, 0x70);
    SiI9022_ByteWrite(0x09, 0x00);
    SiI9022_ByteWrite(0x0A, 0x00);
    SiI9022_ByteWrite(0x0B, 0x00);
    SiI9022_ByteWrite(0x60, 0x00);
    SetDE(width, height);
    SetAVI_InfoFrames(para[1] + para[2], para[4] + para[5], para[1], para[4]);
    SiI9022_ByteWrite(0x1A, 0x00);
}
