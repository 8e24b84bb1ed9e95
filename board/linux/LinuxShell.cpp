#include "board/Clock.h"
#include "board/Shell.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace board {

int Shell::system(const std::string& command)
{
    return std::system(command.c_str());
}

std::string Shell::read(const std::string& command, size_t lineSize, bool* started)
{
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (started)
        *started = pipe != nullptr;
    if (!pipe || lineSize < 2) {
        if (pipe)
            ::pclose(pipe);
        return out;
    }
    std::vector<char> buffer(lineSize);
    while (std::fgets(buffer.data(), int(lineSize), pipe))
        out += buffer.data();
    ::pclose(pipe);
    return out;
}

int Clock::sleepUs(uint64_t microseconds)
{
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    return 0;
}

int Clock::sleepMs(uint64_t milliseconds) { return sleepUs(milliseconds * 1000); }

void Clock::waitMs(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, uint64_t milliseconds)
{
    wake.wait_for(lock, std::chrono::milliseconds(milliseconds));
}
bool PassWake::pauseMs(uint64_t milliseconds) { return pollMs(milliseconds); }

std::time_t Clock::wallTime() { return std::time(nullptr); }

uint64_t Clock::monotonicUs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch()).count());
}

} // namespace board
