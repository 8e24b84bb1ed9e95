#pragma once
#include <cstdint>

namespace board {

// One segment of an SPI message, as the spidev interface takes it. tx or rx may be null.
struct SpiTransfer {
    const uint8_t* tx = nullptr;
    uint8_t* rx = nullptr;
    uint32_t length = 0;
    uint32_t speedHz = 0;
    uint8_t bitsPerWord = 8;
};

// SPI user-space devices ("/dev/spidev32766.0" to ".4"). On the simulated board the
// chip select of the path decides which device model answers.
class SpiDevice {
public:
    static int open(const char* path);            // descriptor or -1
    static int configure(int fd, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz); // 0 or -1
    // One message of count segments with the chip select held; like SPI_IOC_MESSAGE the
    // result is the number of bytes moved, or -1.
    static int transfer(int fd, const SpiTransfer* segments, unsigned count);
    static void close(int fd);
};

} // namespace board
