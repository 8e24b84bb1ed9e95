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
    // Callers name their keys with literals, so the pointer finds the key without comparing
    // texts; the same name from elsewhere is found by its text.
    for (const Entry& e : entries_)
        if (e.name == name)
            return e;
    for (const Entry& e : entries_)
        if (std::strcmp(e.name, name) == 0)
            return e;
    Entry e{name, SimBoard::scenario(prefix_ + name), false, 0};
    if (!e.text.empty()) {
        char* end = nullptr;
        e.value = std::strtol(e.text.c_str(), &end, 0);
        e.isNumber = end && *end == '\0';
    }
    entries_.push_back(std::move(e));
    return entries_.back();
}

long ScenarioKeys::number(const char* name, long fallback)
{
    const Entry& e = entry(name);
    return e.isNumber ? e.value : fallback;
}

std::string ScenarioKeys::text(const char* name, const std::string& fallback)
{
    const std::string& v = entry(name).text;
    return v.empty() ? fallback : v;
}

} // namespace sim
