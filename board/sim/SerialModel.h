#pragma once
#include <string>
#include <vector>

namespace sim {

// Serial ports as pseudo-terminal pairs. The application holds the master side; the peer
// (slave) path is returned here and written to "<root>/dev/ttySN.peer" for a person or a
// PC tool. The simulated board keeps one peer descriptor open so the master never reads
// EIO while nobody is connected.
class SerialModel {
public:
    static std::string peerPath(const std::string& devicePath);
    static std::vector<bool> rtsChanges(const std::string& devicePath);   // in order
    static void clearRts(const std::string& devicePath);
    static void setOpenFails(const std::string& devicePath, bool fails);
    static void reset();
};

} // namespace sim
