#pragma once
// The PC links a link benchmark serves: UDP 10005, 5008 and 13769 and the TCP command port,
// opened at a port offset that finds them all free, their threads started.
#include "bench/bench_board.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/socket.h>
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

// The bytes the system holds unread for the UDP socket on port (its receive queue).
inline long udp_queue(uint16_t port)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", unsigned(port));
    std::ifstream list("/proc/net/udp");
    for (std::string line; std::getline(list, line);)
        if (line.find(local) < 20) {
            std::istringstream fields(line);
            std::string f, queues;
            fields >> f >> f >> f >> f >> queues;   // sl local remote st tx:rx
            return std::strtol(queues.c_str() + queues.find(':') + 1, nullptr, 16);
        }
    return 0;
}

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

} // namespace bench
