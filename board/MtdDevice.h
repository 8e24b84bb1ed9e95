#pragma once
#include <cstdint>
#include <sys/types.h>

namespace board {

struct MtdInfo {
    uint32_t size = 0;       // bytes in the partition
    uint32_t eraseSize = 0;  // erase block
    uint32_t writeSize = 0;  // page
};

// Raw flash partitions ("/dev/mtd8", "/dev/mtd10"): MEMGETINFO, MEMUNLOCK, MEMERASE and
// positioned writes. On the simulated board a partition is a file under the data root.
class MtdDevice {
public:
    static int open(const char* path);            // read-write, synchronous; descriptor or -1
    static int getInfo(int fd, MtdInfo& info);    // 0 or -1
    static int unlock(int fd, uint32_t start, uint32_t length);  // 0 or -1
    static int erase(int fd, uint32_t start, uint32_t length);   // 0 or -1
    static ssize_t writeAt(int fd, const uint8_t* data, size_t length, off_t offset);
    static ssize_t readAt(int fd, uint8_t* data, size_t length, off_t offset);
    static void close(int fd);
};

} // namespace board
