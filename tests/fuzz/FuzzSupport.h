#pragma once
// What every fuzz target shares: a simulated board with a data root of its own (removed at
// exit), and the seed-corpus mode: a target started with --make-seeds=DIR writes its valid
// inputs there and exits, so the corpus is made by the target itself.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel_fuzz {

using Bytes = std::vector<uint8_t>;

// Sets up the board once per process (data root, virtual clock, no transaction logs, a Qt
// core application). Returns the data root's host path.
const std::string& board();

// The host path of a board path ("/data/x" -> "<root>/data/x").
std::string host(const std::string& systemPath);
// Whole-file helpers on board paths; readFile gives "" for a missing file.
std::string readFile(const std::string& systemPath);
void writeFile(const std::string& systemPath, const std::string& content);
void removeFile(const std::string& systemPath);

// Called from LLVMFuzzerInitialize: when argv holds --make-seeds=DIR, calls make(DIR) and
// exits.
void seedMode(int* argc, char*** argv, void (*make)(const std::string& dir));
void writeSeed(const std::string& dir, const std::string& name, const Bytes& data);
inline void writeSeed(const std::string& dir, const std::string& name, const std::string& data)
{
    writeSeed(dir, name, Bytes(data.begin(), data.end()));
}

// Pseudo-random cut points 1..97 bytes apart from seed, ending at len (a stream as the
// reads of a link might split it).
std::vector<size_t> cutPoints(uint8_t seed, size_t len);

// A broken promise: prints what and aborts (libFuzzer then keeps the input).
[[noreturn]] void fail(const char* what);
#define KEL_FUZZ_CHECK(cond) \
    do { \
        if (!(cond)) \
            ::kel_fuzz::fail(#cond); \
    } while (0)

} // namespace kel_fuzz
