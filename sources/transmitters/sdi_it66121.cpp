#include "sources/transmitters/sdi_it66121.h"

#include "board/I2cBus.h"
#include "sources/it6602/velin_it6602.h"
#include "sources/velinsource.h"

#include <cstring>

int sdi_it66121::bus_fd() const
{
    velinsource* src = velinsource::p_velin_source;
    return src && src->p_velin_it6602 ? src->p_velin_it6602->fd : -1;
}

int sdi_it66121::I2C2_IT66121_Read(unsigned char address, unsigned char reg, unsigned count, unsigned char* buffer)
{
    if (!buffer || count > kReceiveArea)
        return 0;
    unsigned char area[kReceiveArea] = {};
    unsigned char r = reg;
    board::I2cMessage m[2];
    m[0].address = uint16_t(address >> 1);
    m[0].length = 1;
    m[0].data = &r;
    m[1].address = uint16_t(address >> 1);
    m[1].read = true;
    m[1].length = uint16_t(count);
    m[1].data = area;
    if (board::I2cBus::transfer(bus_fd(), m, 2) < 0)
        return 0;
    std::memcpy(buffer, area, count);
    return 1;
}

int sdi_it66121::I2C2_IT66121_Write(unsigned char address, unsigned char reg, unsigned count, const unsigned char* data)
{
    if (count > kMaxWrite || (count && !data))
        return 0;
    unsigned char out[kMaxWrite + 1];
    out[0] = reg;
    if (count)
        std::memcpy(out + 1, data, count);
    board::I2cMessage m;
    m.address = uint16_t(address >> 1);
    m.length = uint16_t(count + 1);
    m.data = out;
    return board::I2cBus::transfer(bus_fd(), &m, 1) < 0 ? 0 : 1;
}

unsigned char sdi_it66121::HDMITX_ReadI2C_Byte(unsigned char reg)
{
    unsigned char v = 0;
    if (!I2C2_IT66121_Read(kAddress, reg, 1, &v))
        v = 0;
    return v;
}

int sdi_it66121::HDMITX_ReadI2C_ByteN(unsigned char reg, unsigned char* buffer, unsigned count)
{
    return I2C2_IT66121_Read(kAddress, reg, count, buffer);
}

int sdi_it66121::HDMITX_WriteI2C_Byte(unsigned char reg, unsigned char value)
{
    return I2C2_IT66121_Write(kAddress, reg, 1, &value);
}

int sdi_it66121::HDMITX_SetI2C_Byte(unsigned char reg, unsigned char mask, unsigned char value)
{
    if (mask != 0xFF) {
        const unsigned char old = HDMITX_ReadI2C_Byte(reg);
        value = static_cast<unsigned char>((old & ~mask) | (value & mask));
    }
    return HDMITX_WriteI2C_Byte(reg, value);
}
