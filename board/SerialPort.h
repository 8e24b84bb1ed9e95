#pragma once
#include <cstddef>
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
    // Writes what the line takes now (the descriptor does not block): the count taken, or -1
    // with errno set (EAGAIN: the transmitter is full). The simulated line takes bytes at
    // the rate its termios name, behind a transmit buffer as large as a UART driver's.
    static long write(int fd, const void* data, size_t n);
    // Waits until the line takes more bytes, at most ms; the milliseconds the line took.
    static int waitRoom(int fd, int ms);
    // Waits until the last byte written has left the line (before RTS is let go).
    static void drain(int fd);
    static void close(int fd);
};

} // namespace board
