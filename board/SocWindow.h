#pragma once
#include <cstdint>

namespace board {

// The system-on-chip register window: the memory request on the board's "/dev/msys" and
// the mapping of physical memory through "/dev/mem". The application keeps plain pointers
// into the mapped window (GPIO lines are 16-bit registers); on the simulated board the
// window is a word store that the device models read at every transfer.
class SocWindow {
public:
    static int openRequestDevice();               // "/dev/msys": descriptor or -1
    static int openMemory();                      // "/dev/mem": descriptor or -1
    // The memory request (ioctl 0x5315). record[0] is the magic, record[4] the record
    // length; the device fills record[1] (physical base) and record[3] (length).
    static int memoryRequest(int requestFd, uint32_t record[5]);
    // Shared read-write mapping; nullptr on failure.
    static volatile uint8_t* map(int memFd, uint32_t physical, uint32_t length);
    static void unmap(volatile uint8_t* window, uint32_t length);
    static void close(int fd);
};

} // namespace board
