#include "tests/support/PropertyCheck.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

namespace kel_test {
namespace {

bool paramsName(const char* key)
{
    const char* p = std::getenv("RC_PARAMS");
    return p && std::string(p).find(key) != std::string::npos;
}

// Shrinking a long command sequence can take minutes when each case runs a whole device; past
// this much shrinking the smallest failing case found so far is reported instead.
constexpr std::chrono::seconds kShrinkBudget{20};

struct ShrinkClock {
    std::chrono::steady_clock::time_point started;
    bool running = false;
    bool cut = false;

    void start()
    {
        if (!running) {
            running = true;
            started = std::chrono::steady_clock::now();
        }
    }
    bool spent()
    {
        cut = cut || (running && std::chrono::steady_clock::now() - started > kShrinkBudget);
        return cut;
    }
};

using Case = rc::Shrinkable<rc::detail::CaseDescription>;

// RapidCheck asks a case for its shrinks only once it failed, so the first request starts the
// clock; once it has run out, no further candidate is offered and the search ends where it is.
Case withinBudget(Case c, std::shared_ptr<ShrinkClock> clock)
{
    return rc::shrinkable::mapShrinks(std::move(c), [clock](rc::Seq<Case>&& shrinks) {
        clock->start();
        return rc::seq::map(rc::seq::takeWhile(std::move(shrinks), [clock](const Case&) { return !clock->spent(); }),
                            [clock](Case&& shrink) { return withinBudget(std::move(shrink), clock); });
    });
}

// RapidCheck reports a failing case by running it again; a case that failed on timing may pass
// then and be reported with a success's text, so the first failure's own text is printed here.
rc::detail::Property budgeted(const rc::detail::Property& property, std::shared_ptr<ShrinkClock> clock)
{
    auto told = std::make_shared<bool>(false);
    const rc::detail::Property telling = rc::gen::map(property, [told](rc::detail::CaseDescription d) {
        if (d.result.type == rc::detail::CaseResult::Type::Failure && !*told) {
            *told = true;
            std::cout << "first failure: " << d.result.description << std::endl;
        }
        return d;
    });
    return rc::detail::Property([telling, clock](const rc::Random& random, int size) {
        return withinBudget(telling(random, size), clock);
    });
}

} // namespace

std::uint64_t fixedPropertySeed() { return 0x4b454c4d35374eull; }

std::uint64_t drawnPropertySeed()
{
    // One draw for the whole process, so every property of a run reports the same seed.
    static const std::uint64_t seed = [] {
        std::random_device rd;
        return (std::uint64_t(rd()) << 32) ^ rd();
    }();
    return seed;
}

void checkPropertyOf(const std::string& name, const rc::detail::Property& property, PropertyRun run)
{
    using namespace rc::detail;
    const TestParams configured = configuration().testParams;
    std::vector<std::uint64_t> seeds;
    if (paramsName("seed="))
        seeds.push_back(configured.seed);
    else
        seeds = {fixedPropertySeed(), drawnPropertySeed()};
    for (std::uint64_t seed : seeds) {
        TestParams params;
        params.seed = seed;
        params.maxSuccess = paramsName("max_success=") ? configured.maxSuccess : run.cases;
        params.maxSize = paramsName("max_size=") ? configured.maxSize : run.maxSize;
        params.maxDiscardRatio = configured.maxDiscardRatio;
        params.disableShrinking = configured.disableShrinking;
        TestMetadata metadata;
        metadata.id = name;
        metadata.description = name;
        auto clock = std::make_shared<ShrinkClock>();
        const TestResult result = checkProperty(budgeted(property, clock), metadata, params);
        std::ostringstream ss;
        printResultMessage(result, ss);
        if (clock->cut)
            ss << "\n(shrinking stopped after " << kShrinkBudget.count() << " s: the case above is the smallest found by then)";
        if (result.is<SuccessResult>()) {   // the cases passed, with their spread (RC_TAG, RC_CLASSIFY)
            std::cout << name << " from seed " << seed << ": " << ss.str() << std::endl;
        } else {
            ADD_FAILURE() << name << " failed from seed " << seed << " (replay with RC_PARAMS=\"seed=" << seed
                          << "\"):\n"
                          << ss.str();
            return;
        }
    }
}

} // namespace kel_test
