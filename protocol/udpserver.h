#pragma once
// One UDP socket of the PC protocol or the WiFi module's AT commands: bound on the system's
// port (moved by the board's port map), broadcast allowed, received datagrams queued with
// their sender.

#include <climits>
#include <cstdint>
#include <list>
#include <netinet/in.h>
#include <vector>

#include "protocol/link_buffer.h"

class UdpServer {
public:
    // Largest datagram read; a record holds at most 0x20000 bytes.
    static constexpr unsigned MAX_DATAGRAM = 0x1FFFF;
    // Largest datagram IPv4 carries.
    static constexpr size_t MAX_UDP_PAYLOAD = 65507;

    struct Record {
        std::vector<unsigned char> data;
        sockaddr_in addr{};            // the sender (or where the record is to go)
        // The sender as it came, address and port (address << 16 | port), also where addr
        // was turned into the broadcast address: who the datagram came from.
        uint64_t peer = 0;
        uint32_t tick = 0;             // when its frame was complete (set by the link)
    };

    UdpServer();
    ~UdpServer();

    // Socket on board::Network::bindAddress() and board::Network::listenPort(port), with
    // SO_BROADCAST and, when room is given, a receive buffer that holds that many bytes as
    // the system counts them (or as many as it allows, said once when fewer); 0, or 255 on a
    // socket or bind error.
    int initialize(unsigned int port, size_t room = 0);
    void unInitialize();

    // Waits up to wait_ms for a datagram (0: just looks; below 0: without limit), then
    // queues it and those the socket holds behind it, up to most in all (and, past the
    // first, as long as they hold fewer than mostBytes bytes), without waiting
    // for more: whoever serves the list, not the order datagrams reached the socket in,
    // decides who is served, and a full socket cannot turn a PC's datagram away while
    // others wait unread. keep_sender 0 replaces the sender's address by the broadcast
    // address, its port kept. Empty datagrams are not queued. 0, or 255 on a receive error.
    int recvData(unsigned char keep_sender, int wait_ms = 0, size_t most = 1, size_t mostBytes = SIZE_MAX);
    // One datagram to the board's mapping of to; 0, or 255 on a null buffer or send error.
    int sendData(const unsigned char* buf, unsigned int len, sockaddr_in to);

    int socketFd() const { return m_socket; }
    // What the socket's receive buffer holds, as the system counts it (0 when closed).
    size_t receiveRoom() const;
    unsigned short localPort() const { return m_port; }

    std::list<Record> recv_list;       // used only by the owning thread

private:
    int m_socket = -1;
    unsigned short m_port = 0;
    int m_timeout_ms = 0;              // the socket's receive time-out as last set (0: none)
    LinkBuffer m_buf;
};
