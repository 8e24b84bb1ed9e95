#include "board/sim/ScenarioKeys.h"

#include "board/sim/SimBoard.h"

#include <cstdlib>
#include <cstring>

namespace sim {

const ScenarioKeys::Entry& ScenarioKeys::entry(const char* name)
{
    // The generation is read before the values, so a change made while they are read makes
    // the next call read them again.
    const uint64_t generation = SimBoard::scenarioGeneration();
    if (generation != generation_) {
        entries_.clear();
        generation_ = generation;
    }
    for (const Entry& e : entries_)
        if (e.name == name || std::strcmp(e.name, name) == 0)
            return e;
    entries_.push_back({name, SimBoard::scenario(prefix_ + name)});
    return entries_.back();
}

long ScenarioKeys::number(const char* name, long fallback)
{
    const std::string& v = entry(name).text;
    if (v.empty())
        return fallback;
    char* end = nullptr;
    const long n = std::strtol(v.c_str(), &end, 0);
    return (end && *end == '\0') ? n : fallback;
}

std::string ScenarioKeys::text(const char* name, const std::string& fallback)
{
    const std::string& v = entry(name).text;
    return v.empty() ? fallback : v;
}

} // namespace sim
