#pragma once
#include <string>

namespace sim {

// Kernel uevents on a host: a datagram socket pair. inject() sends one event ("add@/devices/...",
// then NUL-separated KEY=VALUE fields) to the descriptor the application opened.
class UeventModel {
public:
    static bool inject(const std::string& action, const std::string& devpath,
                       const std::string& fields = std::string());
    // A host run's stand-in for plugging a stick: every line written to the FIFO at path
    // ("add@/devices/.../block/sda/sda1") is injected as one event's header.
    static void serveFifo(const std::string& path);
};

} // namespace sim
