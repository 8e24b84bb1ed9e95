// Round trips per second on loopback, each case twice in the same run: against the running
// link (UDP 10005, TCP on the configured port 5005, both moved by a port offset) and against
// a bare echo that blocks in its receive and answers with one send of the very bytes the
// link answered. The client is the same lean loop for both (one send, receive the known
// reply size), so the ratio is the link's own cost. Prints each rate and the median ratio of
// neighbouring slices.
//
//   bench_roundtrip [SECONDS per case and side, default 2] [only cases whose name has this text]

#include "bench/bench_board.h"
#include "bench/pc_links.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "tests/support/PcFrame.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

void set_timeout(int fd, int ms)
{
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A connected client socket with a one-second receive time-out; -1 when it cannot connect.
int connect_to(bool tcp, uint16_t port)
{
    int fd = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    sockaddr_in a = loopback(port);
    int on = 1;
    if (tcp)
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    set_timeout(fd, 1000);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Receives exactly n bytes (TCP) or one datagram of n bytes (UDP) into buf.
bool receive_n(int fd, bool tcp, unsigned char* buf, size_t n)
{
    if (!tcp)
        return ::recv(fd, buf, n + 1, 0) == ssize_t(n);
    for (size_t got = 0; got < n;) {
        ssize_t r = ::recv(fd, buf + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

// One round trip; the wire reply of the first is learned by reading up to the closer.
bool first_reply(int fd, bool tcp, const pc::Bytes& request, pc::Bytes& reply)
{
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
        return false;
    std::vector<unsigned char> buf(1 << 17);
    size_t got = 0;
    do {
        ssize_t r = ::recv(fd, buf.data() + got, buf.size() - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    } while (tcp && buf[got - 1] != 0x5A);
    reply.assign(buf.begin(), buf.begin() + long(got));
    return true;
}

// Round trips until the time is up, added to n and t; false on a missing or short reply.
bool measure(int fd, bool tcp, const pc::Bytes& request, size_t replySize, double secs, long& n, double& t)
{
    std::vector<unsigned char> buf(replySize + 1);
    auto t0 = Clock::now();
    long count = 0;
    while (since(t0) < secs) {
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())
            || !receive_n(fd, tcp, buf.data(), replySize))
            return false;
        ++count;
    }
    n += count;
    t += since(t0);
    return true;
}

// The bare echo: blocks in its receive, answers each whole request with one send of reply.
class Echo {
public:
    Echo(bool tcp, size_t requestSize, pc::Bytes reply) : m_tcp(tcp), m_requestSize(requestSize), m_reply(std::move(reply))
    {
        m_fd = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        sockaddr_in a = loopback(0);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        if (tcp)
            ::listen(m_fd, 1);
        else
            set_timeout(m_fd, 100);
        m_thread = std::thread([this] { m_tcp ? serve_tcp() : serve_udp(); });
    }
    ~Echo()
    {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    uint16_t port() const { return m_port; }

private:
    void serve_udp()
    {
        std::vector<unsigned char> buf(1 << 16);
        while (!m_stop) {
            sockaddr_in from{};
            socklen_t n = sizeof from;
            if (::recvfrom(m_fd, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &n) > 0)
                ::sendto(m_fd, m_reply.data(), m_reply.size(), 0, reinterpret_cast<sockaddr*>(&from), n);
        }
    }
    void serve_tcp()
    {
        int s = ::accept(m_fd, nullptr, nullptr);
        if (s < 0)
            return;
        int on = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        set_timeout(s, 100);
        std::vector<unsigned char> buf(1 << 16);
        size_t got = 0;
        while (!m_stop) {
            ssize_t r = ::recv(s, buf.data(), buf.size(), 0);
            if (r == 0)
                break;
            if (r < 0)
                continue;
            for (got += size_t(r); got >= m_requestSize; got -= m_requestSize)
                ::send(s, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
        }
        ::close(s);
    }

    bool m_tcp;
    size_t m_requestSize;
    pc::Bytes m_reply;
    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Case {
    const char* name;
    bool tcp;
    pc::Frame request;
};

pc::Bytes filler(size_t n)
{
    pc::Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i * 7);
    return b;
}

} // namespace

int main(int argc, char** argv)
{
    double secs = argc > 1 ? std::atof(argv[1]) : 2.0;
    if (secs <= 0)
        secs = 2.0;
    const std::string only = argc > 2 ? argv[2] : "";

    const std::string root = bench::start_board();
    int offset = 0;
    bench::PcLinks* links = bench::open_pc_links(offset);
    if (!links)
        return 1;

    // RAM reads from the user-mode slots (0x1000..0x10FFF), writes of 4 KiB into them.
    const Case cases[] = {
        {"UDP 10005, 16-byte read", false, pc::readRam(0x1000, 16)},
        {"UDP 10005, 1400-byte read", false, pc::readRam(0x1000, 1400)},
        {"UDP 10005, 65000-byte read", false, pc::readRam(0x1000, 65000)},
        {"TCP 5005, 16-byte read", true, pc::readRam(0x1000, 16)},
        {"TCP 5005, 65535-byte read", true, pc::readRam(0x1000, 65535)},
        {"TCP 5005, 4 KiB block write (0x60)", true, pc::writeRam(0x2000, filler(4096))},
    };
    bool ok = true;
    std::printf("%-36s %12s %12s %7s\n", "case", "link rt/s", "echo rt/s", "ratio");
    for (const Case& c : cases) {
        if (std::string(c.name).find(only) == std::string::npos)
            continue;
        const uint16_t linkPort = uint16_t((c.tcp ? 5005 : 10005) + offset);
        const pc::Bytes request = pc::wire(c.request);
        int linkFd = connect_to(c.tcp, linkPort);
        pc::Bytes reply, plain;
        pc::Frame decoded;
        if (linkFd < 0 || !first_reply(linkFd, c.tcp, request, reply) || !pc::unescape(reply, plain)
            || !pc::decode(plain, decoded) || decoded.status() != 0) {
            std::fprintf(stderr, "bench: %s: no good reply from the link\n", c.name);
            ok = false;
            if (linkFd >= 0)
                ::close(linkFd);
            continue;
        }
        Echo echo(c.tcp, request.size(), reply);
        int echoFd = connect_to(c.tcp, echo.port());
        // Warm up both, then alternate slices so load from elsewhere falls on both alike.
        long nLink = 0, nEcho = 0;
        double tLink = 0, tEcho = 0;
        bool good = echoFd >= 0 && measure(linkFd, c.tcp, request, reply.size(), 0.1, nLink, tLink)
                    && measure(echoFd, c.tcp, request, reply.size(), 0.1, nEcho, tEcho);
        nLink = nEcho = 0;
        tLink = tEcho = 0;
        // Each pair of neighbouring slices gives a ratio; their median is printed, so a burst
        // of load from elsewhere that falls on one side of one pair does not move it.
        const int slices = 20;
        std::vector<double> ratios;
        for (int i = 0; good && i < slices; ++i) {
            long n0 = nLink, e0 = nEcho;
            double t0 = tLink, u0 = tEcho;
            good = measure(linkFd, c.tcp, request, reply.size(), secs / slices, nLink, tLink)
                   && measure(echoFd, c.tcp, request, reply.size(), secs / slices, nEcho, tEcho);
            if (good && nEcho > e0)
                ratios.push_back(((nLink - n0) / (tLink - t0)) / ((nEcho - e0) / (tEcho - u0)));
        }
        ::close(linkFd);
        if (echoFd >= 0)
            ::close(echoFd);
        if (!good) {
            std::fprintf(stderr, "bench: %s: a reply was lost\n", c.name);
            ok = false;
            continue;
        }
        const double link = nLink / tLink, bare = nEcho / tEcho;
        std::sort(ratios.begin(), ratios.end());
        std::printf("%-36s %12.0f %12.0f %7.2f\n", c.name, link, bare, ratios[ratios.size() / 2]);
    }

    delete links;
    std::filesystem::remove_all(root);
    return ok ? 0 : 1;
}
