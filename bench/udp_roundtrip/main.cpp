// Round trips per second over UDP on loopback: a 16-byte RAM read answered by the running
// UDP link (port 5008, moved by a port offset), and, in the same run, a bare UDP echo of a
// datagram of the same size. Prints both rates and their ratio.
//
//   bench_udp_roundtrip [SECONDS per measurement, default 3]

#include "bench/bench_board.h"
#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "protocol/udpnetmanage.h"
#include "scaler/c331_manage.h"
#include "tests/support/PcClient.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Round trips of one request until the time is up, added to n and t; false on a lost reply.
bool measure(pc::PcClient& c, const pc::Bytes& request, double secs, bool decodeReply, long& total, double& spent)
{
    long n = 0;
    auto t0 = Clock::now();
    pc::Bytes raw, plain;
    pc::Frame reply;
    while (seconds_since(t0) < secs) {
        if (!c.sendRaw(request) || !c.receiveRaw(raw, 1000))
            return false;
        if (decodeReply && !(pc::unescape(raw, plain) && pc::decode(plain, reply) && reply.data.size() == 17))
            return false;
        ++n;
    }
    total += n;
    spent += seconds_since(t0);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    double secs = argc > 1 ? std::atof(argv[1]) : 3.0;
    if (secs <= 0)
        secs = 3.0;

    const std::string root = bench::start_board();
    int offset = 0;
    udpnetManage* link = bench::open_link<udpnetManage>(offset, []() -> udpnetManage* {
        auto* l = new udpnetManage();
        l->initialize_servers();
        if (l->server(5008)->socketFd() >= 0 && l->server(10005)->socketFd() >= 0 && l->server(13769)->socketFd() >= 0)
            return l;
        delete l;
        return nullptr;
    });
    if (!link || link->start_threads() != 0) {
        std::fprintf(stderr, "bench: cannot open the UDP link\n");
        return 1;
    }

    auto client = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
    const pc::Bytes request = pc::wire(pc::readRam(0x100, 16));

    // The bare echo: one thread, one socket, blocking in poll like the link's threads.
    int echo = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(echo, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(echo, reinterpret_cast<sockaddr*>(&a), &len);
    std::atomic<bool> stop{false};
    std::thread echoThread([&] {
        unsigned char buf[2048];
        while (!stop) {
            pollfd p{echo, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            sockaddr_in from{};
            socklen_t n = sizeof from;
            ssize_t got = ::recvfrom(echo, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &n);
            if (got > 0)
                ::sendto(echo, buf, size_t(got), 0, reinterpret_cast<sockaddr*>(&from), n);
        }
    });
    auto echoClient = pc::PcClient::udp("127.0.0.1", ntohs(a.sin_port));

    // Warm up both paths, then measure them in alternating slices so that load from
    // elsewhere on the machine falls on both alike.
    long n_link = 0, n_echo = 0;
    double t_link = 0, t_echo = 0;
    bool ok = measure(*client, request, 0.2, true, n_link, t_link) && measure(*echoClient, request, 0.2, false, n_echo, t_echo);
    n_link = n_echo = 0;
    t_link = t_echo = 0;
    const int slices = 10;
    for (int i = 0; ok && i < slices; ++i)
        ok = measure(*client, request, secs / slices, true, n_link, t_link)
             && measure(*echoClient, request, secs / slices, false, n_echo, t_echo);
    double link_rate = ok ? n_link / t_link : -1;
    double echo_rate = ok ? n_echo / t_echo : -1;

    stop = true;
    echoThread.join();
    ::close(echo);
    delete link;
    std::filesystem::remove_all(root);

    if (link_rate < 0 || echo_rate < 0) {
        std::fprintf(stderr, "bench: a reply was lost\n");
        return 1;
    }
    std::printf("request %zu bytes on the wire, reply of 16 data bytes\n", request.size());
    std::printf("UDP link, RAM read of 16 bytes: %10.0f round trips/s\n", link_rate);
    std::printf("bare UDP echo, same datagram:   %10.0f round trips/s\n", echo_rate);
    std::printf("link / echo:                    %10.2f\n", link_rate / echo_rate);
    return 0;
}
