#include "sources/drv_i2c.h"

#include "board/I2cBus.h"

#include <cstring>

Drv_I2C0* Drv_I2C0::p_drv_i2c0 = nullptr;

int Drv_I2C0::initialize()
{
    return board::I2cBus::open("/dev/i2c-0");
}

int Drv_I2C0::i2c_write(int fd, unsigned char addr, unsigned char reg, const unsigned char* data, unsigned int n)
{
    if (n > kMaxWrite || (n > 0 && !data))
        return 0;
    unsigned char buffer[kMaxWrite + 1];
    buffer[0] = reg;
    if (n > 0)
        std::memcpy(buffer + 1, data, n);
    board::I2cMessage message;
    message.address = uint16_t(addr >> 1);
    message.read = false;
    message.length = uint16_t(n + 1);
    message.data = buffer;
    return board::I2cBus::transfer(fd, &message, 1) < 0 ? 0 : 1;
}

int Drv_I2C0::i2c_read(int fd, unsigned char addr, unsigned char reg, unsigned char* data, int n)
{
    if (n > kMaxRead)
        return 0;   // more than one transfer takes; the caller's buffer is left as it was
    unsigned char address = reg;
    unsigned char buffer[kMaxRead];
    if (n > 0)
        std::memset(buffer, 0, size_t(n));
    board::I2cMessage messages[2];
    messages[0].address = uint16_t(addr >> 1);
    messages[0].read = false;
    messages[0].length = 1;
    messages[0].data = &address;
    messages[1].address = uint16_t(addr >> 1);
    messages[1].read = true;
    messages[1].length = uint16_t(n > 0 ? n : 0);
    messages[1].data = buffer;
    // One unanswered read is a disturbance, not a chip gone or in reset (such a chip
    // answers nothing at all): it is asked once more before the failure counts. A read
    // has no effect on the chip until it is acknowledged, so asking again is safe.
    bool ok = board::I2cBus::transfer(fd, messages, 2) >= 0;
    if (!ok) {
        if (n > 0)
            std::memset(buffer, 0, size_t(n));
        ok = board::I2cBus::transfer(fd, messages, 2) >= 0;
    }
    // A device that does not acknowledge leaves the caller's buffer untouched: callers
    // start from their own defaults.
    if (ok && n > 0 && data)
        std::memcpy(data, buffer, size_t(n));
    return ok ? 1 : 0;
}
