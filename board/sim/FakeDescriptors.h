#pragma once
#include <string>

namespace sim {

// Descriptors handed out for devices that exist only as models (SPI, I2C, MTD, SoC).
// They lie far above any real descriptor, so a stray ::close() on one fails harmlessly.
class FakeDescriptors {
public:
    static int open(const std::string& kind, const std::string& path);
    static bool lookup(int fd, std::string& kind, std::string& path);
    static bool is(int fd, const char* kind);   // open, and of that kind
    static void close(int fd);
};

} // namespace sim
