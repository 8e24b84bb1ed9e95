#include "tests/support/PropertyCheck.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
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
        std::map<std::string, int> spread;   // cases that carried each tag (RC_TAG, RC_CLASSIFY)
        for (const auto& [tags, n] : result.is<SuccessResult>() ? result.get<SuccessResult>().distribution : Distribution())
            for (const std::string& tag : std::set<std::string>(tags.begin(), tags.end()))
                spread[tag] += n;
        for (const auto& [tag, n] : spread)
            std::printf("%s, seed %llu: %d of %d cases: %s\n", name.c_str(), (unsigned long long)seed, n, params.maxSuccess, tag.c_str());
        if (!result.is<SuccessResult>()) {
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
