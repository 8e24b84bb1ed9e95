#pragma once
// The PC links a link benchmark serves: UDP 10005, 5008 and 13769 and the TCP command port,
// opened at a port offset that finds them all free, their threads started.
#include "bench/bench_board.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"

#include <cstdio>

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

} // namespace bench
