#pragma once
#include <string>

namespace sim {

// The keys a scenario file may set and the form of each value, so that a misspelt key or a
// value no model can read is named when the file is read, not silently ignored by the model
// that would have read it. Every key a device model reads is listed in ScenarioCheck.cpp.
class ScenarioCheck {
public:
    // Empty when key=value is one the models read; otherwise what is wrong and what is
    // accepted ("unknown key; did you mean input<N>.timing", "not a number; accepted: ...").
    static std::string problem(const std::string& key, const std::string& value);
};

} // namespace sim
