#pragma once
// The PC links a link benchmark serves: UDP 10005, 5008 and 13769 and the TCP command port,
// opened at a port offset that finds them all free, their threads started.
#include "bench/bench_board.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "tests/support/PcFrame.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

struct PcLinks {
    udpnetManage udp;
    networkManage tcp;
};

// The links, or null (said on stderr) when they cannot all be opened.
inline PcLinks* open_pc_links(int& offset)
{
    g_networkMode = 1;
    g_port = 5005;
    PcLinks* links = open_link<PcLinks>(offset, []() -> PcLinks* {
        auto* l = new PcLinks();
        l->udp.initialize_servers();
        if (l->udp.server(10005)->socketFd() >= 0 && l->udp.server(5008)->socketFd() >= 0
            && l->udp.server(13769)->socketFd() >= 0 && l->tcp.initialize() == 0 && l->tcp.server(0)
            && l->tcp.server(0)->listenSocket() >= 0)
            return l;
        delete l;
        return nullptr;
    });
    if (!links || links->udp.start_threads() != 0) {
        std::fprintf(stderr, "bench: cannot open the links\n");
        return nullptr;
    }
    return links;
}

// This process's resident memory, in MB.
inline double rss_mb()
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

// A field of the UDP socket on port in /proc/net/udp: the bytes the system holds unread for
// it (its receive queue), or the datagrams it dropped since it opened (full, mostly).
enum class UdpField { Queued, Drops };
inline long udp_field(uint16_t port, UdpField field)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", unsigned(port));
    std::ifstream list("/proc/net/udp");
    for (std::string line; std::getline(list, line);)
        if (line.find(local) < 20) {
            std::istringstream fields(line);
            std::string f, queues, last;
            fields >> f >> f >> f >> f >> queues;   // sl local remote st tx:rx
            if (field == UdpField::Queued)
                return std::strtol(queues.c_str() + queues.find(':') + 1, nullptr, 16);
            while (fields >> f)
                last = f;
            return std::atol(last.c_str());
        }
    return 0;
}
inline long udp_queue(uint16_t port) { return udp_field(port, UdpField::Queued); }
inline long udp_drops(uint16_t port) { return udp_field(port, UdpField::Drops); }

// One datagram to loopback port from address `from` (any of 127/8), of a socket bound to
// none: a flood from many addresses takes one descriptor a port it sends from.
inline void send_from(int fd, uint32_t from, uint16_t port, const std::vector<unsigned char>& d)
{
    sockaddr_in to{};
    to.sin_family = AF_INET, to.sin_addr.s_addr = htonl(INADDR_LOOPBACK), to.sin_port = htons(port);
    char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec io{const_cast<unsigned char*>(d.data()), d.size()};
    msghdr m{&to, sizeof to, &io, 1, control, sizeof control, 0};
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP, c->cmsg_type = IP_PKTINFO, c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    (void)::sendmsg(fd, &m, 0);
}

// A PC's read of 2 RAM bytes of the first card behind output port `port` of FPGA 0.
inline pc::Frame card_read(int port, size_t tag)
{
    return pc::Frame{uint16_t(port), pc::kPc, 0x10, uint8_t(tag), 1, uint8_t(port + 1), 0, 0x61, {0x80, 0, 0, 0, 2, 0, 0, 0}};
}

// Until done: n addresses (127.4.x.y) on UDP port `to`, each asking a card of port 0, 2 or 3
// once a second; its next request takes the place of its last, as a PC that asks again.
inline void ask_cards(size_t n, uint16_t to, const std::atomic<bool>& done)
{
    using Clock = std::chrono::steady_clock;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    std::vector<std::vector<unsigned char>> asks;
    for (size_t k = 0; k < n; ++k)
        asks.push_back(pc::wire(card_read(k % 3 ? int(k % 3) + 1 : 0, k)));
    for (auto next = Clock::now(); !done; next += std::chrono::seconds(1)) {
        for (size_t k = 0; k < n; ++k)
            send_from(fd, 0x7F040000u + uint32_t(k), to, asks[k]);
        while (!done && Clock::now() < next + std::chrono::seconds(1))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd);
}

} // namespace bench
