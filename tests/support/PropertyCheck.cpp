#include "tests/support/PropertyCheck.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
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
        const TestResult result = checkProperty(property, metadata, params);
        if (result.is<SuccessResult>()) {   // with the spread of its tags and classes
            std::cout << name << " from seed " << seed << ": ";
            printResultMessage(result, std::cout);
            std::cout << std::endl;
        } else {
            std::ostringstream ss;
            printResultMessage(result, ss);
            ADD_FAILURE() << name << " failed from seed " << seed << " (replay with RC_PARAMS=\"seed=" << seed
                          << "\"):\n"
                          << ss.str();
            return;
        }
    }
}

} // namespace kel_test
