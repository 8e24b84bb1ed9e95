#include "tests/fuzz/FuzzSupport.h"

#include "board/Files.h"
#include "board/sim/SimBoard.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

// Qt keeps its objects until exit and the targets keep one board per process: leaks are
// not what the targets look for.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace kel_fuzz {

namespace {
std::string g_root;

void removeRoot()
{
    if (!g_root.empty() && !std::getenv("KEL_KEEP_ROOTS")) {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    }
}
} // namespace

const std::string& board()
{
    if (!g_root.empty())
        return g_root;
    g_root = (fs::temp_directory_path() / ("kel-fuzz-" + std::to_string(::getpid()))).string();
    std::error_code ec;
    fs::remove_all(g_root, ec);
    fs::create_directories(g_root, ec);
    std::atexit(removeRoot);
    sim::SimBoard::reset();
    sim::SimBoard::setRoot(g_root);
    sim::SimBoard::useVirtualClock(true);
    sim::SimBoard::setRecording(false);
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "kel-fuzz";
        static char* argv[] = {name, nullptr};
        new QCoreApplication(argc, argv);
    }
    return g_root;
}

std::string host(const std::string& systemPath)
{
    board();
    return board::Files::map(systemPath);
}

std::string readFile(const std::string& systemPath)
{
    std::ifstream in(host(systemPath), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& systemPath, const std::string& content)
{
    fs::path p = host(systemPath);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
}

void removeFile(const std::string& systemPath)
{
    std::error_code ec;
    fs::remove(host(systemPath), ec);
}

void seedMode(int* argc, char*** argv, void (*make)(const std::string& dir))
{
    static const char kFlag[] = "--make-seeds=";
    for (int i = 1; i < *argc; ++i) {
        const char* a = (*argv)[i];
        if (std::strncmp(a, kFlag, sizeof kFlag - 1) == 0) {
            std::string dir = a + sizeof kFlag - 1;
            std::error_code ec;
            fs::create_directories(dir, ec);
            board();
            make(dir);
            std::exit(0);
        }
    }
}

void writeSeed(const std::string& dir, const std::string& name, const Bytes& data)
{
    std::ofstream out(fs::path(dir) / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

std::vector<size_t> cutPoints(uint8_t seed, size_t len)
{
    std::vector<size_t> at;
    uint32_t x = seed * 2654435761u + 1;
    size_t pos = 0;
    while (pos < len) {
        x = x * 1103515245u + 12345u;
        pos = std::min(len, pos + 1 + (x >> 16) % 97);
        at.push_back(pos);
    }
    return at;
}

void fail(const char* what)
{
    std::fprintf(stderr, "kel-fuzz: broken invariant: %s\n", what);
    std::abort();
}

} // namespace kel_fuzz
