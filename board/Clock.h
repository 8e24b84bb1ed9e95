#pragma once
#include <cstdint>
#include <ctime>

namespace board {

// Sleeps and wall time. A host run uses real time; tests switch the simulated board to a
// virtual clock where a sleep returns at once and advances the clock by its length.
class Clock {
public:
    static int sleepUs(uint64_t microseconds);   // 0, or -1 when the sleep was refused
    static int sleepMs(uint64_t milliseconds);
    static std::time_t wallTime();               // seconds since the epoch
    static uint64_t monotonicUs();               // for measuring, never for the tick counter
};

} // namespace board
