#pragma once
#include <string>

namespace sim {

// Kernel uevents on a host: a datagram socket pair. inject() sends one event ("add@/devices/...",
// then NUL-separated KEY=VALUE fields) to the descriptor the application opened.
class UeventModel {
public:
    static bool inject(const std::string& action, const std::string& devpath,
                       const std::string& fields = std::string());
};

} // namespace sim
