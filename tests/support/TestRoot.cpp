#include "tests/support/TestRoot.h"

#include "board/Files.h"
#include "board/sim/Sim.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace kel_test {

TestRoot::TestRoot(bool virtualClock)
{
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "root";
    for (auto& c : name)
        if (c == '/')
            c = '_';
    fs::path base = fs::temp_directory_path() / ("kel-test-" + std::to_string(::getpid()));
    path_ = (base / (name + "-" + std::to_string(counter++))).string();
    std::error_code ec;
    fs::remove_all(path_, ec);
    fs::create_directories(path_, ec);
    sim::SimBoard::reset();
    sim::SimBoard::setRoot(path_);
    sim::SimBoard::useVirtualClock(virtualClock);
}

TestRoot::~TestRoot()
{
    sim::SimBoard::useVirtualClock(false);
    if (!std::getenv("KEL_KEEP_ROOTS")) {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
}

std::string TestRoot::host(const std::string& systemPath) const
{
    return board::Files::map(systemPath);
}

std::string TestRoot::readFile(const std::string& systemPath) const
{
    // Read whole through the stream's buffer: a character at a time costs the store walks
    // a fifth of their run under the sanitizers.
    std::ifstream in(host(systemPath), std::ios::binary);
    std::ostringstream bytes;
    if (in)
        bytes << in.rdbuf();
    return bytes.str();
}

void TestRoot::writeFile(const std::string& systemPath, const std::string& content) const
{
    fs::path p = host(systemPath);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream(p, std::ios::binary) << content;
}

bool TestRoot::exists(const std::string& systemPath) const
{
    std::error_code ec;
    return fs::exists(host(systemPath), ec);
}

std::string artefactDir()
{
    const char* dir = std::getenv("KEL_ARTEFACTS");
    std::string d = (dir && *dir) ? dir : KEL_ARTEFACT_DIR;
    std::error_code ec;
    fs::create_directories(d, ec);
    return d;
}

} // namespace kel_test
