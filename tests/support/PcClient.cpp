#include "tests/support/PcClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

namespace pc {

namespace {
constexpr size_t kReadChunk = 0x20000;

sockaddr_in address(const std::string& host, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1)
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void orderWithTheDevice()
{
    if (PcClient::exchangeHook)
        PcClient::exchangeHook();
}

// Whether reply can answer req (see request()). A receiving card's answer is the card's own
// frame: only its group is known.
bool answers(const Frame& req, const Frame& reply)
{
    if (reply.group != req.group)
        return false;
    if (req.dest < 0xF000)
        return true;
    if (reply.dest != req.src || reply.src != req.dest || reply.b4 != req.b4 || reply.b5 != req.b5 || reply.b8 != req.b8)
        return false;
    const size_t n = reply.data.size();
    switch (req.group) {
    case 0x60: case 0xA0: return n == 1;
    case 0xA1: return n == 2;
    case 0x61: return req.data.size() < 6 || (n > 0 && reply.data[0] == 0 ? n == size_t(get16(req.data.data() + 4)) + 1 : n <= 2);
    default: return true;
    }
}

// The status byte of the reply to req, -1 when none came.
int replyStatus(PcClient& c, const Frame& req, int timeoutMs, Frame& reply)
{
    return c.request(req, reply, timeoutMs) && !reply.data.empty() ? reply.data[0] : -1;
}
} // namespace

void (*PcClient::exchangeHook)() = nullptr;

PcClient::PcClient(Kind kind, int fd) : m_kind(kind), m_fd(fd) {}

PcClient::~PcClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::unique_ptr<PcClient> PcClient::udp(const std::string& host, uint16_t port, const std::string& localHost,
                                        uint16_t localPort)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    int big = 1 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    sockaddr_in local = address(localHost, localPort);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::unique_ptr<PcClient> c(new PcClient(Kind::Udp, fd));
    c->m_target = address(host, port);
    return c;
}

std::unique_ptr<PcClient> PcClient::tcp(const std::string& host, uint16_t port, const std::string& localHost,
                                        int connectMs)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    // The send time-out bounds the connect too (then EINPROGRESS); it is taken off after.
    timeval limit{connectMs / 1000, connectMs % 1000 * 1000}, none{};
    sockaddr_in to = address(host, port), local = address(localHost, 0);
    if ((connectMs > 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) < 0)
        || (!localHost.empty() && ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0)
        || ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0
        || ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none) < 0) {
        const int error = errno == EINPROGRESS ? ETIMEDOUT : errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    std::unique_ptr<PcClient> c(new PcClient(Kind::Tcp, fd));
    c->m_target = to;
    return c;
}

std::unique_ptr<PcClient> PcClient::serial(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, B115200);
        ::cfsetospeed(&t, B115200);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &t);
    }
    // A reply that came after its requester gave up waits on the line: the next user would
    // take it for the answer to its own request.
    ::tcflush(fd, TCIFLUSH);
    return std::unique_ptr<PcClient>(new PcClient(Kind::Serial, fd));
}

void PcClient::retarget(const std::string& host, uint16_t port)
{
    m_target = address(host, port);
}

uint16_t PcClient::localPort() const
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    if (m_kind == Kind::Serial || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n) < 0)
        return 0;
    return ntohs(a.sin_port);
}

bool PcClient::sendRaw(const Bytes& bytes)
{
    orderWithTheDevice();
    m_sendError = 0;
    if (m_kind == Kind::Udp) {
        ssize_t n = ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&m_target),
                             sizeof m_target);
        if (n != ssize_t(bytes.size()))
            m_sendError = n < 0 ? errno : EMSGSIZE;
        return m_sendError == 0;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        // A connection the device closed fails the write; it does not end the program.
        ssize_t n = m_kind == Kind::Tcp ? ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                        : ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd w{m_fd, POLLOUT, 0};
                if (::poll(&w, 1, 1000) > 0)
                    continue;
            }
            m_sendError = errno;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

bool PcClient::waitReadable(int timeoutMs)
{
    pollfd p{m_fd, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & (POLLIN | POLLHUP));
}

bool PcClient::receiveRaw(Bytes& bytes, int timeoutMs)
{
    const int64_t deadline = nowMs() + timeoutMs;
    if (m_kind == Kind::Udp) {
        if (!waitReadable(timeoutMs))
            return false;
        bytes.resize(kReadChunk);
        socklen_t n = sizeof m_peer;
        ssize_t got = ::recvfrom(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&m_peer), &n);
        if (got < 0)
            return false;
        bytes.resize(size_t(got));
        orderWithTheDevice();
        return true;
    }
    for (;;) {
        // A frame is complete once a closer follows an opener.
        auto open = std::find(m_stream.begin(), m_stream.end(), uint8_t(0xA5));
        if (open != m_stream.end()) {
            auto close = std::find(open, m_stream.end(), uint8_t(0x5A));
            if (close != m_stream.end()) {
                bytes.assign(open, close + 1);
                m_stream.erase(m_stream.begin(), close + 1);
                orderWithTheDevice();
                return true;
            }
        } else {
            m_stream.clear();
        }
        int left = int(deadline - nowMs());
        if (left < 0 || !waitReadable(left))
            return false;
        uint8_t buf[4096];
        ssize_t got = ::read(m_fd, buf, sizeof buf);
        if (got <= 0)
            return false;
        m_stream.insert(m_stream.end(), buf, buf + got);
    }
}

bool PcClient::request(const Frame& given, Frame& reply, int timeoutMs)
{
    Frame req = given;
    if (m_tagging && req.b4 == 0 && req.b5 == 0) {
        m_tag = uint16_t(m_tag + 1);
        m_tag += m_tag == 0;
        req.b4 = uint8_t(m_tag), req.b5 = uint8_t(m_tag >> 8);
    }
    if (!sendRaw(wire(req)))
        return false;
    const int64_t deadline = nowMs() + timeoutMs;
    for (;;) {
        int left = int(deadline - nowMs());
        if (left < 0)
            return false;
        Bytes raw, plain;
        if (!receiveRaw(raw, left))
            return false;
        if (unescape(raw, plain) && decode(plain, reply) && answers(req, reply))
            return true;
    }
}

int PcClient::readRam(uint32_t address, uint16_t length, Bytes& out, uint16_t dest, int timeoutMs)
{
    Frame reply;
    const int status = replyStatus(*this, pc::readRam(address, length, dest), timeoutMs, reply);
    if (status >= 0)
        out.assign(reply.data.begin() + 1, reply.data.end());
    return status;
}

int PcClient::writeRam(uint32_t address, const Bytes& data, uint16_t dest, int timeoutMs)
{
    Frame reply;
    return replyStatus(*this, pc::writeRam(address, data, dest), timeoutMs, reply);
}

int PcClient::writeRegister(uint8_t reg, uint8_t mask, uint8_t value, uint16_t dest, int timeoutMs)
{
    Frame reply;
    return replyStatus(*this, pc::writeRegister(reg, mask, value, dest), timeoutMs, reply);
}

int PcClient::readRegister(uint8_t reg, uint16_t dest, int timeoutMs)
{
    Frame reply;
    if (!request(pc::readRegister(reg, dest), reply, timeoutMs) || reply.data.size() < 2)
        return -1;
    if (reply.data[1] == 1 && reply.data[0] != 0)
        return -2;
    return reply.data[1];
}

} // namespace pc
