#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A model's scenario keys under one prefix ("input3."), read from the scenario once per
// scenario change. Models that consult their keys on every register access would otherwise
// build a key string and look it up on every bus transfer, which is what an idle host run
// spends its time on. Not locked: the owning model calls it under its own lock.
class ScenarioKeys {
public:
    explicit ScenarioKeys(std::string prefix) : prefix_(std::move(prefix)) {}

    // As SimBoard::scenarioInt(prefix + name, fallback).
    long number(const char* name, long fallback);
    // As SimBoard::scenario(prefix + name, fallback); a key set to an empty text counts as unset.
    std::string text(const char* name, const std::string& fallback = std::string());
    // Whether the key is set to exactly this text (no copy made).
    bool is(const char* name, const char* value) { return entry(name).text == value; }

private:
    struct Entry {
        const char* name;
        std::string text;   // empty: the scenario does not set the key
        bool isNumber;      // text is a whole number: value holds it
        long value;
    };
    const Entry& entry(const char* name);

    std::string prefix_;
    uint64_t generation_ = 0;
    std::vector<Entry> entries_;
};

} // namespace sim
