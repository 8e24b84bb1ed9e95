#pragma once
// Runs a RapidCheck property twice: once from a fixed seed, so CI meets the same cases every
// run, and once from a seed drawn for this run, so each run also meets new ones. A failure
// names its seed and the RC_PARAMS that replays it; RapidCheck shrinks the case first, for at
// most a bounded time, so a failing seed reports in seconds with the smallest case found by then.
// RC_PARAMS="seed=N" runs that seed alone; RC_PARAMS="max_success=N" runs N cases a seed.
#include <gtest/gtest.h>
#include <rapidcheck.h>

#include <cstdint>
#include <string>

namespace kel_test {

struct PropertyRun {
    int cases = 100;   // cases a seed when RC_PARAMS gives no max_success
    int maxSize = 100; // RapidCheck's size bound (length of generated sequences and the like)
};

// The seeds a property runs with in this process: the fixed one and the drawn one, or the one
// RC_PARAMS names.
std::uint64_t fixedPropertySeed();
std::uint64_t drawnPropertySeed();

// Checks the property from each seed; a failure is a GoogleTest failure with the shrunk case.
void checkPropertyOf(const std::string& name, const rc::detail::Property& property, PropertyRun run);

template <typename Testable>
void checkProperty(const std::string& name, Testable&& testable, PropertyRun run = {})
{
    checkPropertyOf(name, rc::detail::toProperty(std::forward<Testable>(testable)), run);
}

} // namespace kel_test
