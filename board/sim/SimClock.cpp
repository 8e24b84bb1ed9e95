#include "board/Clock.h"
#include "board/sim/SimBoard.h"

#include <chrono>
#include <thread>

namespace board {

int Clock::sleepUs(uint64_t microseconds)
{
    if (sim::SimBoard::virtualClock()) {
        sim::SimBoard::advanceVirtual(microseconds);
        return 0;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    return 0;
}

int Clock::sleepMs(uint64_t milliseconds)
{
    return sleepUs(milliseconds * 1000);
}

void Clock::waitMs(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, uint64_t milliseconds)
{
    if (sim::SimBoard::virtualClock()) {
        sim::SimBoard::advanceVirtual(milliseconds * 1000);
        return;
    }
    wake.wait_for(lock, std::chrono::milliseconds(milliseconds));
}

bool PassWake::pauseMs(uint64_t milliseconds)
{
    if (sim::SimBoard::virtualClock()) {
        sim::SimBoard::advanceVirtual(milliseconds * 1000);
        return pending_.exchange(false);
    }
    return pollMs(milliseconds);
}

std::time_t Clock::wallTime()
{
    std::time_t fixed = sim::SimBoard::fixedWallTime();
    if (fixed != 0)
        return fixed + std::time_t(sim::SimBoard::virtualMicroseconds() / 1000000);
    return std::time(nullptr);
}

uint64_t Clock::monotonicUs()
{
    if (sim::SimBoard::virtualClock())
        return sim::SimBoard::virtualMicroseconds();
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch()).count());
}

} // namespace board
