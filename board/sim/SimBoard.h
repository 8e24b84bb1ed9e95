#pragma once
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// The simulated board as a whole: its data root, its scenario (what is connected) and its
// clock. Tests call these through the sim:: API; a host run sets them from the environment.
class SimBoard {
public:
    // The directory that stands for the board's root file system ("/data/..." lands in
    // <root>/data/...). KEL_ROOT names it in a host run; default "sim-root" in the
    // working directory.
    static void setRoot(const std::string& directory);
    static std::string root();

    // Scenario: key=value settings that the device models read ("fpga.cards.port0=4").
    // KEL_SCENARIO names an optional file of such lines ('#' starts a comment). false when
    // the file cannot be read; a line with an unknown key or a value the models cannot read
    // is left out with a warning ("file:line: key: what is accepted").
    static bool loadScenario(const std::string& file, std::vector<std::string>* warnings = nullptr);
    static void setScenario(const std::string& key, const std::string& value);
    static std::string scenario(const std::string& key, const std::string& fallback = std::string());
    static long scenarioInt(const std::string& key, long fallback);
    // A change that takes effect once the virtual clock reaches atUs: a source that moves
    // while the system is inside a long wait.
    static void setScenarioAt(uint64_t atUs, const std::string& key, const std::string& value);
    // Counts scenario changes, so a model can keep what it read until the scenario moves.
    static uint64_t scenarioGeneration();
    // The keys set since reset() that no model has asked for since then: a key no model
    // reads (misspelt, or meant for another input's chip) changes nothing it seems to.
    static std::vector<std::string> scenarioKeysUnread();

    // Virtual clock for tests: sleeps return at once and advance it.
    static void useVirtualClock(bool on);
    static bool virtualClock();
    static uint64_t virtualMicroseconds();
    static void advanceVirtual(uint64_t microseconds);
    // What the calling thread itself has slept of it: a wait that holds that thread.
    static uint64_t virtualSleptHere();
    // Wall time: real unless fixed (tests fix it for deterministic time records).
    static void fixWallTime(std::time_t seconds);          // 0 = real time again
    static std::time_t fixedWallTime();

    // Transaction logs of the device models (SPI and I2C messages, FPGA operations, scaler
    // frames, card packets) are for tests; a host run that goes on for days keeps none.
    // On by default and after reset(); board::start() of a host run turns it off.
    static void setRecording(bool on);
    static bool recording();

    // Listening ports of the system are moved by this offset on the simulated board.
    static void setPortOffset(int offset);
    static int portOffset();

    // Device models register a reset hook; reset() puts every model, the journal, the
    // scenario, the virtual time, the fixed wall time, the recording and the port offset back
    // to their defaults (each test starts from a known board; the root and whether the clock
    // is virtual stay).
    static void addResetHook(const std::function<void()>& hook);
    static void reset();
};

} // namespace sim
