#pragma once
// Port offsets for tests that run the links on real sockets. The moved ports stay below the
// kernel's ephemeral range, from which other processes' outgoing connections take theirs.
#include <cstdio>

namespace kel_test {

// The first port of the ephemeral range (32768 when it cannot be read).
inline int ephemeralStart()
{
    int low = 32768, high = 60999;
    if (FILE* f = std::fopen("/proc/sys/net/ipv4/ip_local_port_range", "r")) {
        if (std::fscanf(f, "%d %d", &low, &high) != 2)
            low = 32768;
        std::fclose(f);
    }
    return low;
}

// The largest offset that keeps port `highest` below the ephemeral range.
inline int maxPortOffset(int highest)
{
    return ephemeralStart() - 1 - highest;
}

} // namespace kel_test
