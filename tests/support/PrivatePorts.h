#pragma once
// Port offsets for tests that run the links on real sockets. The moved ports stay below the
// kernel's ephemeral range, from which other processes' outgoing connections take theirs.
// An offset is taken by binding its ports, never by checking them first: test processes
// pick at the same time, and a port seen free may be gone by the time it is bound.
#include "board/sim/SimBoard.h"

#include <cstdio>
#include <random>

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

// Tries random offsets that keep port `highest` below the ephemeral range: each becomes the
// simulated board's port offset and open(offset) binds the ports, true when all bound. A
// port another process holds makes open undo its part and return false; then another
// offset is tried. The offset taken, or -1 after `attempts` tries.
template <class Open>
int bindPrivatePorts(int highest, Open&& open, int attempts = 50)
{
    const int span = maxPortOffset(highest);
    if (span <= 100)
        return -1;
    std::random_device rd;
    std::uniform_int_distribution<int> pick(100, span);
    for (int i = 0; i < attempts; ++i) {
        const int offset = pick(rd);
        sim::SimBoard::setPortOffset(offset);
        if (open(offset))
            return offset;
    }
    return -1;
}

} // namespace kel_test
