#pragma once
#include <cstdint>
#include <string>

namespace sim {

// Raw flash partitions as files under the data root ("<root>/dev/mtd8.bin"). Erase sets
// bytes to 0xFF; a write programs bits (old AND new), as flash does. Geometry and faults
// are per partition path.
class MtdModel {
public:
    static void configure(const std::string& path, uint32_t size, uint32_t eraseSize, uint32_t writeSize);
    static void setInfoFails(const std::string& path, bool fails);
    static void setUnlockRefused(const std::string& path, bool refused);
    static void setEraseRefused(const std::string& path, bool refused);
    static std::string backingFile(const std::string& path);
    static int eraseCount(const std::string& path);     // MEMERASE requests seen
    static int writeCount(const std::string& path);     // positioned writes seen
    // A stop in the middle of a store, so a test can look at the board (and send it requests)
    // with a partition half erased or half written: the count-th erase or positioned write
    // of path from now on (1 the next) waits, before it changes anything, until resume().
    // One stop is armed at a time; it holds no lock the model's other calls take.
    enum class Step { Erase, Write };
    static void pauseAt(const std::string& path, Step kind, int count);
    // true once the armed step has stopped; false when resume() disarmed it before any did
    // (the store ended, or never reached it).
    [[nodiscard]] static bool waitPaused();
    static void resume();       // the stopped step goes on; nothing stays armed
    static void reset();
};

} // namespace sim
