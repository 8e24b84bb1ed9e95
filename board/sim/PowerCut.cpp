#include "board/sim/PowerCut.h"

#include "board/sim/SimBoard.h"

#include <atomic>
#include <utility>
#include <limits>
#include <mutex>
#include <thread>

namespace sim {

namespace {
std::atomic<uint64_t> g_done{0};
std::atomic<uint64_t> g_limit{std::numeric_limits<uint64_t>::max()};
std::atomic<uint64_t> g_failFrom{std::numeric_limits<uint64_t>::max()};
std::atomic<int> g_failError{0};
std::atomic<bool> g_failOnce{false};
std::atomic<uint64_t> g_lost{0};

std::mutex g_meanwhileMutex;
std::function<void()> g_meanwhile;
std::thread::id g_meanwhileThread;

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { PowerCut::restore(); }); }
} g_registrar;
} // namespace

void PowerCut::after(uint64_t steps)
{
    g_limit = g_done + steps;
    g_lost = 0;
}

void PowerCut::meanwhile(std::function<void()> act)
{
    std::lock_guard<std::mutex> hold(g_meanwhileMutex);
    g_meanwhile = std::move(act);
    g_meanwhileThread = std::this_thread::get_id();
}

void PowerCut::restore()
{
    {
        std::lock_guard<std::mutex> hold(g_meanwhileMutex);
        g_meanwhile = nullptr;
    }
    g_limit = std::numeric_limits<uint64_t>::max();
    g_failFrom = std::numeric_limits<uint64_t>::max();
    g_failOnce = false;
    g_done = 0;
    g_lost = 0;
}

bool PowerCut::step()
{
    uint64_t done = g_done.load();
    while (done < g_limit.load())
        if (g_done.compare_exchange_weak(done, done + 1))
            return true;
    ++g_lost;
    return false;
}

void PowerCut::failAfter(uint64_t steps, int error)
{
    g_failError = error;
    g_failOnce = false;
    g_failFrom = g_done + steps;
}

void PowerCut::failOnce(uint64_t steps, int error)
{
    failAfter(steps, error);
    g_failOnce = true;
}

int PowerCut::fileStep()
{
    std::function<void()> act;
    {
        std::lock_guard<std::mutex> hold(g_meanwhileMutex);
        if (g_meanwhile && g_meanwhileThread == std::this_thread::get_id())
            act = std::exchange(g_meanwhile, nullptr);
    }
    if (act)
        act();
    if (g_failOnce && g_done == g_failFrom) {
        ++g_done;                            // refused once: counted, so the next one goes on
        return g_failError;
    }
    if (!g_failOnce && g_done >= g_failFrom)
        return g_failError;                  // refused: not done, so not counted
    return step() ? 0 : -1;
}

uint64_t PowerCut::steps() { return g_done; }

bool PowerCut::cut() { return g_done >= g_limit; }

uint64_t PowerCut::lost() { return g_lost; }

} // namespace sim
