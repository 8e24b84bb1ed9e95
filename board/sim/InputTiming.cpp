#include "board/sim/InputTiming.h"

#include "board/sim/SimBoard.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace sim {

InputTiming namedTiming(const std::string& name)
{
    InputTiming s;
    if (name == "none")
        return s;
    std::string n = name == "1080i" ? "1920x1080i@60" : name;
    unsigned w = 0, h = 0;
    double hz = 60;
    char sep = 0;
    const int got = std::sscanf(n.c_str(), "%ux%u%c", &w, &h, &sep);
    if (got < 2 || w == 0 || h == 0)
        return s;
    const size_t at = n.find('@');
    if (at != std::string::npos)
        hz = std::strtod(n.c_str() + at + 1, nullptr);
    const bool interlaced = got == 3 && sep == 'i';
    s.present = true;
    s.interlaced = interlaced;
    s.hact = w;
    s.htotal = w * 55 / 48;                              // 1920 -> 2200, 3840 -> 4400
    s.vact = interlaced ? h / 2 : h;
    s.vtotal = interlaced ? h * 25 / 48 : h * 25 / 24;   // 1080 -> 1125, field 562
    s.millihz = hz > 0 && hz < 1000 ? uint32_t(hz * 1000 + 0.5) : 0;
    s.hz = (s.millihz + 500) / 1000;
    return s;
}

namespace {
InputTiming readTiming(int input)
{
    const std::string k = "input" + std::to_string(input) + ".";
    // The first window of the default parameter block shows HDMI1 (input 1): a first run
    // shows a picture there, and on the DVI input (0) beside it.
    InputTiming base = namedTiming(SimBoard::scenario(k + "timing", input <= 1 ? "1920x1080@60" : "none"));
    InputTiming s;
    s.present = SimBoard::scenarioInt(k + "signal", base.present ? 1 : 0) != 0;
    if (!base.present)
        base = namedTiming("1920x1080@60");
    s.interlaced = SimBoard::scenarioInt(k + "interlaced", base.interlaced ? 1 : 0) != 0;
    s.hact = uint32_t(SimBoard::scenarioInt(k + "hact", long(base.hact)));
    s.vact = uint32_t(SimBoard::scenarioInt(k + "vact", long(base.vact)));
    s.htotal = uint32_t(SimBoard::scenarioInt(k + "htotal", long(base.htotal)));
    s.vtotal = uint32_t(SimBoard::scenarioInt(k + "vtotal", long(base.vtotal)));
    s.hz = uint32_t(SimBoard::scenarioInt(k + "hz", long(base.hz)));
    s.millihz = s.hz == base.hz ? base.millihz : s.hz * 1000;
    if (s.hz == 0 || s.vtotal == 0 || s.htotal < 2)
        s.present = false;
    return s;
}

} // namespace

// The receiver and scaler models ask for the timing on every register access; it changes
// only with the scenario, so it is read once per scenario change.
InputTiming inputTiming(int input)
{
    constexpr int kInputs = 4;
    if (input < 0 || input >= kInputs)
        return readTiming(input);
    static std::mutex lock;
    static uint64_t generations[kInputs] = {};
    static InputTiming timings[kInputs];
    // Read before the timing: a change made while it is read makes the next call read again.
    const uint64_t generation = SimBoard::scenarioGeneration();
    {
        std::lock_guard<std::mutex> hold(lock);
        if (generations[input] == generation)
            return timings[input];
    }
    const InputTiming t = readTiming(input);
    std::lock_guard<std::mutex> hold(lock);
    generations[input] = generation;
    timings[input] = t;
    return t;
}

} // namespace sim
