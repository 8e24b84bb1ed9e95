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

// The scenario says what the interfaces hold: "net.<name>.address", ".mask", ".gateway"
// and ".mac". Without a setting, eth0 and the access point wlan0 have plausible values and
// wlan1 (the station interface, not connected) has none.
std::string Network::interfaceValue(const std::string& name, IfValue what)
{
    static const char* const keys[] = {"address", "mask", "gateway", "mac"};
    const int i = int(what);
    std::string fallback;
    if (name == "eth0") {
        static const char* const eth0[] = {"192.168.0.199", "255.255.255.0", "192.168.0.1", "02:00:00:00:00:01"};
        fallback = eth0[i];
    } else if (name == "wlan0") {
        static const char* const wlan0[] = {"192.168.10.1", "255.255.255.0", "", "02:00:00:00:00:02"};
        fallback = wlan0[i];
    }
    return sim::SimBoard::scenario("net." + name + "." + keys[i], fallback);
}

} // namespace board
