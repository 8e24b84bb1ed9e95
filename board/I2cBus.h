#pragma once
#include <cstdint>

namespace board {

// One message of a combined I2C transfer (I2C_RDWR). address is the 7-bit address.
struct I2cMessage {
    uint16_t address = 0;
    bool read = false;
    uint16_t length = 0;
    uint8_t* data = nullptr;
};

// The I2C user-space device "/dev/i2c-0". On the simulated board the devices answer at
// their addresses behind the I2C switches; an absent device is a NAK.
class I2cBus {
public:
    static int open(const char* path);            // descriptor or -1
    // Returns count when every message was acknowledged, -1 on a NAK or bus error.
    static int transfer(int fd, I2cMessage* messages, unsigned count);
    static void close(int fd);
};

} // namespace board
