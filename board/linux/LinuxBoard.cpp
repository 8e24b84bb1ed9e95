#include "board/Board.h"
#include "board/Files.h"
#include "board/Network.h"

#include <arpa/inet.h>
#include <cstdio>
#include <unistd.h>

namespace board {

// The board's own memory-request device: without it this is not the board, and a board
// binary must not go on to touch devices of whatever machine it was started on.
bool start()
{
    if (::access("/dev/msys", F_OK) != 0) {
        std::fprintf(stderr, "board: /dev/msys is missing; this is not the board, refusing to start\n");
        return false;
    }
    return true;
}

const char* backendName() { return "linux"; }

std::string Files::map(const std::string& systemPath) { return systemPath; }

in_addr_t Network::bindAddress() { return htonl(INADDR_ANY); }
in_addr_t Network::destination(in_addr_t address) { return address; }
uint16_t Network::listenPort(uint16_t port) { return port; }

} // namespace board
