#include "protocol/tcpclinet.h"

#include "board/Clock.h"
#include "board/Network.h"
#include "core/global.h"
#include "core/utils.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int msLeft(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? int(left) : 0;
}
} // namespace

TcpClinet::TcpClinet() : m_readBuf(READ_SIZE)
{
    writeLogMsg(LOG_INFO, "====TcpClinet::TcpClinet()=====");
}

TcpClinet::~TcpClinet()
{
    unInitialize();
    m_recvList.clear();
    m_recvCount = 0;
    m_recvString.clear();
    KEL_TRACE("===TcpClinet::~TcpClinet()=== ");
}

int TcpClinet::initialize(unsigned char*, unsigned int)
{
    return 0;
}

int TcpClinet::initialize_cloud()
{
    KEL_TRACE("\n test initialize_cloud ");
    return 1;
}

int TcpClinet::sockerConnect(const char* ip, unsigned int port)
{
    if (m_clinetSocket >= 0)
        return 0;
    if (!ip || port == 0 || port > 65535)
        return 0;
    in_addr target{};
    if (::inet_pton(AF_INET, ip, &target) != 1)
        return 0;

    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, std::string("socket error:") + std::strerror(errno));
        return 0;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = board::Network::bindAddress();
    local.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) < 0) {
        writeLogMsg(LOG_ERROR, std::string("bind error:") + std::strerror(errno));
        ::close(fd);
        return 0;
    }
    int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = board::Network::destination(target.s_addr);
    remote.sin_port = htons(uint16_t(port));
    int rc = ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    if (rc != 0) {
        if (errno != EINPROGRESS) {
            ::close(fd);
            return 0;
        }
        pollfd p{fd, POLLOUT, 0};
        int ready;
        do {
            ready = ::poll(&p, 1, wait_ms);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            KEL_TRACE("TCP CLINET connect to select failed ticks = %d\n", int(G_timeTicks.load()));
            ::close(fd);
            return 0;
        }
        int err = 0;
        socklen_t errLen = sizeof err;
        if (!(p.revents & POLLOUT) || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0 || err != 0) {
            KEL_TRACE("TCP CLINET connect to select to FD_ISSET failed,ticks = %d\n", int(G_timeTicks.load()));
            ::close(fd);
            return 0;
        }
    }
    ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    m_clinetSocket = fd;
    return 1;
}

int TcpClinet::recvData(unsigned char* closed)
{
    unsigned char dummy = 0;
    if (!closed)
        closed = &dummy;
    *closed = 0;
    if (m_clinetSocket < 0)
        return 255;
    pollfd p{m_clinetSocket, POLLIN, 0};
    int ready = ::poll(&p, 1, wait_ms);
    if (ready < 0) {
        if (errno == EINTR)
            return 0;   // an interrupted wait is a short time-out
        KEL_TRACE("FD_ISSET(m_clinetSocket, &err_set) ==  failed ");
        Close();
        *closed = 1;
        return 255;
    }
    if (ready == 0)
        return 0;
    if (p.revents & (POLLERR | POLLNVAL)) {
        KEL_TRACE("===FD_ISSET(m_clinetSocket, &err_set)=== ");
        Close();
        return 255;
    }
    if (!(p.revents & (POLLIN | POLLHUP)))
        return 255;
    ssize_t got = ::recv(m_clinetSocket, m_readBuf.data(), m_readBuf.size(), 0);
    if (got > 0) {
        Record rec;
        rec.data.assign(m_readBuf.data(), m_readBuf.data() + got);
        rec.socket = m_clinetSocket;
        m_recvList.push_back(std::move(rec));
        ++m_recvCount;
        return 0;
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return 0;
    KEL_TRACE("Server socket exit . . . ");
    Close();
    *closed = 1;
    return 0;
}

int TcpClinet::sendData(const unsigned char* buf, unsigned int len, int)
{
    if (!buf || m_clinetSocket < 0)
        return 255;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    unsigned int sent = 0;
    while (sent < len) {
        pollfd p{m_clinetSocket, POLLOUT, 0};
        int ready = ::poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            // A stalled server: with part of the message already out the stream cannot be
            // resumed, so the connection goes; otherwise it stays for the owner to retry.
            if (sent > 0)
                Close();
            return 255;
        }
        if (p.revents & (POLLERR | POLLNVAL | POLLHUP)) {
            KEL_TRACE("send FD_ISSET(sock, &err_set) error: %s\n", std::strerror(errno));
            Close();
            return 255;
        }
        // The rest of a reply goes out after a partial send: the cloud server reads a
        // stream and half a message would corrupt everything after it.
        ssize_t w = ::send(m_clinetSocket, buf + sent, len - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) {
            sent += unsigned(w);
            continue;
        }
        if (w < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        KEL_TRACE("send error TcpClinet: %s\n", std::strerror(errno));
        Close();
        return 255;
    }
    return 0;
}

void TcpClinet::Close()
{
    if (m_clinetSocket < 0)
        return;
    ::shutdown(m_clinetSocket, SHUT_RDWR);
    ::close(m_clinetSocket);
    // Paces the owner's reconnection attempts.
    board::Clock::sleepMs(100);
    m_clinetSocket = -1;
}

void TcpClinet::unInitialize()
{
    KEL_TRACE("=========TcpClinet::unInitialize()=========== ");
    Close();
}
