#include "board/sim/SimBoard.h"
#include "board/sim/ScenarioCheck.h"
#include "board/sim/UeventModel.h"
#include "board/Files.h"

#include "board/Board.h"
#include "board/Console.h"
#include "board/InstanceLock.h"
#include "board/sim/Journal.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {
// Function-local statics: device models register themselves during static
// initialisation, before this file's own globals may have been constructed.
std::mutex g_lock;
std::string& rootPath()
{
    static std::string path;
    return path;
}
std::map<std::string, std::string>& scenarioMap()
{
    static std::map<std::string, std::string> map;
    return map;
}
struct TimedChange {
    uint64_t atUs;
    std::string key, value;
};
std::vector<TimedChange>& timedChanges()
{
    static std::vector<TimedChange> changes;
    return changes;
}
std::atomic<size_t> g_timedPending{0};
std::atomic<uint64_t> g_scenarioGeneration{1};
std::atomic<bool> g_virtual{false};
std::atomic<uint64_t> g_virtualUs{0};
std::atomic<std::time_t> g_fixedWall{0};
std::atomic<int> g_portOffset{0};
std::atomic<bool> g_recording{true};
std::vector<std::function<void()>>& resetHooks()
{
    static std::vector<std::function<void()>> hooks;
    return hooks;
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}
} // namespace

void SimBoard::setRoot(const std::string& directory)
{
    std::error_code ec;
    std::filesystem::create_directories(directory, ec);
    std::string absolute = std::filesystem::absolute(directory, ec).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    std::lock_guard<std::mutex> hold(g_lock);
    rootPath() = absolute;
}

std::string SimBoard::root()
{
    {
        std::lock_guard<std::mutex> hold(g_lock);
        if (!rootPath().empty())
            return rootPath();
    }
    setRoot("sim-root");
    std::lock_guard<std::mutex> hold(g_lock);
    return rootPath();
}

bool SimBoard::loadScenario(const std::string& file, std::vector<std::string>* warnings)
{
    std::ifstream in(file);
    if (!in)
        return false;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t eq = line.find('=');
        const std::string key = trim(line.substr(0, eq));
        // A line no model can read is named and left out; the rest of the file applies.
        const std::string problem = eq == std::string::npos ? "not key=value; accepted: key=value, or # and a comment"
                                                            : ScenarioCheck::problem(key, trim(line.substr(eq + 1)));
        if (!problem.empty()) {
            if (warnings)
                warnings->push_back(file + ":" + std::to_string(number) + ": " + key + ": " + problem);
            continue;
        }
        setScenario(key, trim(line.substr(eq + 1)));
    }
    return true;
}

namespace {
// The keys set and the keys asked for since reset(), under g_lock.
std::set<std::string>& keysSet()
{
    static std::set<std::string> keys;
    return keys;
}
std::set<std::string>& keysAsked()
{
    static std::set<std::string> keys;
    return keys;
}
} // namespace

void SimBoard::setScenario(const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> hold(g_lock);
    scenarioMap()[key] = value;
    keysSet().insert(key);
    ++g_scenarioGeneration;
}

void SimBoard::setScenarioAt(uint64_t atUs, const std::string& key, const std::string& value)
{
    std::lock_guard<std::mutex> hold(g_lock);
    timedChanges().push_back({atUs, key, value});
    g_timedPending = timedChanges().size();
}

uint64_t SimBoard::scenarioGeneration()
{
    return g_scenarioGeneration;
}

std::string SimBoard::scenario(const std::string& key, const std::string& fallback)
{
    std::lock_guard<std::mutex> hold(g_lock);
    keysAsked().insert(key);
    auto it = scenarioMap().find(key);
    return it == scenarioMap().end() ? fallback : it->second;
}

std::vector<std::string> SimBoard::scenarioKeysUnread()
{
    std::lock_guard<std::mutex> hold(g_lock);
    std::vector<std::string> out;
    for (const std::string& key : keysSet())
        if (!keysAsked().count(key))
            out.push_back(key);
    return out;
}

long SimBoard::scenarioInt(const std::string& key, long fallback)
{
    std::string v = scenario(key);
    if (v.empty())
        return fallback;
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 0);
    return (end && *end == '\0') ? n : fallback;
}

void SimBoard::useVirtualClock(bool on) { g_virtual = on; }
bool SimBoard::virtualClock() { return g_virtual; }
uint64_t SimBoard::virtualMicroseconds() { return g_virtualUs; }
namespace {
thread_local uint64_t t_sleptUs = 0;
}
uint64_t SimBoard::virtualSleptHere() { return t_sleptUs; }
void SimBoard::advanceVirtual(uint64_t microseconds)
{
    t_sleptUs += microseconds;
    const uint64_t now = g_virtualUs += microseconds;
    if (!g_timedPending)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    auto& changes = timedChanges();
    for (auto it = changes.begin(); it != changes.end();) {
        if (it->atUs > now) {
            ++it;
            continue;
        }
        scenarioMap()[it->key] = it->value;
        keysSet().insert(it->key);
        ++g_scenarioGeneration;
        it = changes.erase(it);
    }
    g_timedPending = changes.size();
}
void SimBoard::fixWallTime(std::time_t seconds) { g_fixedWall = seconds; }
std::time_t SimBoard::fixedWallTime() { return g_fixedWall; }
void SimBoard::setPortOffset(int offset) { g_portOffset = offset; }
void SimBoard::setRecording(bool on) { g_recording = on; }
bool SimBoard::recording() { return g_recording; }
int SimBoard::portOffset() { return g_portOffset; }

void SimBoard::addResetHook(const std::function<void()>& hook)
{
    std::lock_guard<std::mutex> hold(g_lock);
    resetHooks().push_back(hook);
}

void SimBoard::reset()
{
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        scenarioMap().clear();
        keysSet().clear();
        keysAsked().clear();
        timedChanges().clear();
        g_timedPending = 0;
        ++g_scenarioGeneration;
        hooks = resetHooks();
    }
    Journal::reset();
    // Whatever a test changed goes back, so the next starts from the same board: ports an
    // earlier test moved (to bind private ones) would move every port the next one reads.
    // Whether the clock is virtual is the caller's choice, kept across a reset.
    g_recording = true;
    g_virtualUs = 0;
    g_fixedWall = 0;
    g_portOffset = 0;
    for (auto& h : hooks)
        h();
}

} // namespace sim

namespace board {

namespace {
// The program's own listening ports run from the PC link's TCP port 5005 to the WiFi
// module's AT port 13769.
constexpr int kLowestPort = 5005;
constexpr int kHighestPort = 13769;
} // namespace

bool start()
{
    if (const char* root = std::getenv("KEL_ROOT"); root && *root)
        sim::SimBoard::setRoot(root);
    else
        sim::SimBoard::setRoot("sim-root");
    int holder = 0;
    if (!InstanceLock::take(sim::SimBoard::root() + "/.kelM57N.lock", holder)) {
        board::Console::warn("kelM57N: the data root %s is in use by process %d; not starting\n",
                             sim::SimBoard::root().c_str(), holder);
        return false;
    }
    if (const char* file = std::getenv("KEL_SCENARIO"); file && *file) {
        std::vector<std::string> warnings;
        if (!sim::SimBoard::loadScenario(file, &warnings)) {
            // A relative name is taken from the working folder: the line names where it looked.
            const int error = errno;
            std::string tried = file;
            if (file[0] != '/') {
                char here[4096];
                if (::getcwd(here, sizeof here))
                    tried = std::string(file) + " (" + here + "/" + file + ")";
            }
            board::Console::warn("kelM57N: the scenario file %s cannot be read: %s\n", tried.c_str(), std::strerror(error));
            return false;
        }
        for (const std::string& w : warnings)
            board::Console::warn("kelM57N: %s\n", w.c_str());
    }
    if (const char* offset = std::getenv("KEL_PORT_OFFSET"); offset && *offset) {
        // Every listening port is moved by the offset: one that would leave 1-65535 would
        // wrap onto some other port, so the start stops instead.
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(offset, &end, 10);
        if (*end != '\0' || errno != 0) {
            board::Console::warn("kelM57N: KEL_PORT_OFFSET=%s is not a number; not starting\n", offset);
            return false;
        }
        if (value < 1 - kLowestPort || value > 65535 - kHighestPort) {
            board::Console::warn("kelM57N: KEL_PORT_OFFSET=%s moves port %d to %ld, outside 1-65535; not starting\n",
                                 offset, value < 0 ? kLowestPort : kHighestPort,
                                 (value < 0 ? kLowestPort : kHighestPort) + value);
            return false;
        }
        sim::SimBoard::setPortOffset(int(value));
    }
    sim::Journal::keepInFile(sim::SimBoard::root() + "/sim-journal.log");
    sim::SimBoard::setRecording(false);
    board::Files::makeDirs("/dev");
    sim::UeventModel::serveFifo(board::Files::map("/dev/uevent"));
    return true;
}

const char* backendName() { return "sim"; }

} // namespace board
