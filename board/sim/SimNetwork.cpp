#include "board/Network.h"
#include "board/sim/SimBoard.h"

#include <arpa/inet.h>

namespace board {

in_addr_t Network::bindAddress()
{
    return htonl(INADDR_LOOPBACK);
}

// Every destination is loopback on a host: the broadcast address, the PC's address, the
// cloud server. Addresses already in 127/8 are kept.
in_addr_t Network::destination(in_addr_t address)
{
    if ((ntohl(address) >> 24) == 127)
        return address;
    return htonl(INADDR_LOOPBACK);
}

uint16_t Network::listenPort(uint16_t port)
{
    return uint16_t(port + sim::SimBoard::portOffset());
}

} // namespace board
