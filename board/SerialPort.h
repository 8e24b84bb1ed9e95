#pragma once
#include <string>

namespace board {

// Serial ports ("/dev/ttyS1", "/dev/ttyS2"). The descriptor is a real one: read, write,
// select/poll and termios work on it. On the simulated board it is the master side of a
// pseudo-terminal; the peer's path is published in "<data root>/dev/ttySN.peer".
class SerialPort {
public:
    static int open(const std::string& path);     // descriptor or -1
    // RTS is the RS-485 transmit enable. Pseudo-terminals have no modem lines, so the
    // simulated board records each change instead.
    static int setRts(int fd, bool on);           // 0 or -1
    static void close(int fd);
};

} // namespace board
