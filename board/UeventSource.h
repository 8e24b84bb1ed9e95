#pragma once

namespace board {

// Kernel uevents (USB hot-plug). open() gives a descriptor to poll and recv() from; each
// datagram is one event: "ACTION@DEVPATH" followed by NUL-separated KEY=VALUE lines.
class UeventSource {
public:
    static int open();                            // descriptor or -1
    static void close(int fd);
};

} // namespace board
