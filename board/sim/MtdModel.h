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
    static void reset();
};

} // namespace sim
