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
    // The line carries bytes at the rate its termios name (start, data, parity and stop
    // bits), behind a transmit buffer of TX_BUFFER bytes: a write takes what fits, the rest
    // waits for the line. Always so on real time; on the virtual clock only where a test
    // asks (the waits then advance the clock), as a link thread's waits would otherwise
    // move the clock under tests that drive it.
    static constexpr unsigned TX_BUFFER = 4096;
    static void setPaced(const std::string& devicePath, bool paced);
    static void reset();
};

} // namespace sim
