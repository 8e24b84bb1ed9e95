#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace board {

// Sleeps and wall time. A host run uses real time; tests switch the simulated board to a
// virtual clock where a sleep returns at once and advances the clock by its length.
class Clock {
public:
    static int sleepUs(uint64_t microseconds);   // 0, or -1 when the sleep was refused
    static int sleepMs(uint64_t milliseconds);
    // A pause that ends early when the condition is notified (lock held by the caller);
    // on the virtual clock it returns at once, the clock advanced by the whole pause.
    static void waitMs(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, uint64_t milliseconds);
    static std::time_t wallTime();               // seconds since the epoch
    static uint64_t monotonicUs();               // for measuring, never for the tick counter
};

// A worker's pause between passes that another thread ends at once with end(): one system
// call a pause, where a condition variable with its lock takes two. An end() made before
// the pause ends the next one. On the virtual clock the pause returns at once, the clock
// advanced by the whole pause.
class PassWake {
public:
    PassWake();
    ~PassWake();
    PassWake(const PassWake&) = delete;
    PassWake& operator=(const PassWake&) = delete;
    void end();
    bool pauseMs(uint64_t milliseconds);         // true when end() ended it (or came before)

private:
    bool pollMs(uint64_t milliseconds);          // the real pause, shared by both backends
    void drain();
    int fd_ = -1;
    std::atomic<bool> pending_{false};
};

} // namespace board
