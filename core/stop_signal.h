#pragma once
// A worker thread's pause that its owner can end at once. An idle loop waits out its
// time-out instead of waking every 100 ms only to look whether it should end; stop() wakes
// it. On the simulated board's virtual clock the pause returns at once, as a sleep does.

#include "board/Clock.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

class StopSignal {
public:
    void stop()
    {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_stopped = true;
        }
        m_wake.notify_all();
    }
    bool stopped()
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_stopped;
    }
    // Waits up to ms; true when stop() was called before or during the wait.
    bool wait(uint64_t ms)
    {
        std::unique_lock<std::mutex> hold(m_mutex);
        if (!m_stopped)
            board::Clock::waitMs(m_wake, hold, ms);
        return m_stopped;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopped = false;
};
