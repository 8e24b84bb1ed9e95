#pragma once
#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace board {

// Where sockets may go. On the board servers bind every interface and replies go where
// the protocol says; on a host servers bind loopback and every destination (the broadcast
// address included) is loopback, so nothing is ever sent off the machine.
class Network {
public:
    static in_addr_t bindAddress();                        // network byte order
    static in_addr_t destination(in_addr_t address);       // network byte order in and out
    // The system's own listening ports (5005, 5008, 10002 ...). The simulated board can move
    // them by an offset so tests and a host run do not collide.
    static uint16_t listenPort(uint16_t port);

    // A value of a network interface ("eth0", "wlan0", "wlan1") as the system's tools print
    // it: dotted address, mask or gateway, or the colon-separated MAC address; empty when
    // the interface has none. On the board the tools are asked; the simulated board answers
    // from its scenario ("net.eth0.mac=00:1a:2b:3c:4d:5e").
    enum class IfValue { Address, Mask, Gateway, Mac };
    static std::string interfaceValue(const std::string& name, IfValue what);
};

} // namespace board
