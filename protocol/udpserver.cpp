#include "protocol/udpserver.h"

#include "board/Network.h"
#include "core/global.h"
#include "core/utils.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

UdpServer::UdpServer() : m_buf(MAX_DATAGRAM)
{
    KEL_TRACE("\n=====UdpServer::UdpServer()=====\n");
}

UdpServer::~UdpServer()
{
    unInitialize();
}

int UdpServer::initialize(unsigned int port, size_t room)
{
    unInitialize();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        KEL_TRACE("socket error:%s\n", std::strerror(errno));
        writeLogMsg(LOG_ERROR, "socket error");
        return 255;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = board::Network::bindAddress();
    addr.sin_port = htons(board::Network::listenPort(uint16_t(port)));
    // Errors name the port actually bound: on the simulated board it is moved by the board's offset.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        KEL_TRACE("bind error:%s (UDP port %u)\n", std::strerror(errno), unsigned(ntohs(addr.sin_port)));
        writeLogMsg(LOG_ERROR, "bind error");
        ::close(fd);
        return 255;
    }
    m_socket = fd;
    m_port = ntohs(addr.sin_port);
    if (room > 0) {
        // The system doubles what it is asked for (half is its own bookkeeping) and caps it
        // unless the program may pass the cap.
        const int asked = int(std::min<size_t>((room + 1) / 2, INT_MAX / 2));
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &asked, sizeof asked) != 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &asked, sizeof asked);
        if (receiveRoom() < room)
            KEL_TRACE("UDP port %u holds %zu bytes unread, less than the %zu asked\n", unsigned(m_port), receiveRoom(), room);
    }
    return 0;
}

size_t UdpServer::receiveRoom() const
{
    int room = 0;
    socklen_t n = sizeof room;
    if (m_socket < 0 || ::getsockopt(m_socket, SOL_SOCKET, SO_RCVBUF, &room, &n) != 0 || room < 0)
        return 0;
    return size_t(room);
}

void UdpServer::unInitialize()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
}

int UdpServer::recvData(unsigned char keep_sender, int wait_ms, size_t most, size_t mostBytes)
{
    if (m_socket < 0)
        return 255;
    // The first receive blocks up to wait_ms itself (no poll before it); the socket's
    // receive time-out is set only when the wait changes.
    int flags = MSG_DONTWAIT;
    if (wait_ms != 0) {
        flags = 0;
        if (wait_ms != m_timeout_ms) {
            timeval tv{};
            if (wait_ms > 0)
                tv = timeval{wait_ms / 1000, (wait_ms % 1000) * 1000};
            ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            m_timeout_ms = wait_ms;
        }
    }
    size_t bytes = 0;
    for (size_t taken = 0; taken < most && bytes < mostBytes; ++taken, flags = MSG_DONTWAIT) {
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t n = ::recvfrom(m_socket, m_buf.data(), m_buf.size(), flags, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return 0;
            KEL_TRACE("accept error:%s\n", std::strerror(errno));
            return 255;
        }
        if (n == 0)
            continue;   // an empty datagram is not queued
        Record rec;
        rec.peer = (uint64_t(ntohl(from.sin_addr.s_addr)) << 16) | ntohs(from.sin_port);
        if (!keep_sender)
            from.sin_addr.s_addr = htonl(INADDR_BROADCAST);
        rec.data.assign(m_buf.data(), m_buf.data() + n);
        bytes += size_t(n);
        rec.addr = from;
        recv_list.push_back(std::move(rec));
    }
    return 0;
}

int UdpServer::sendData(const unsigned char* buf, unsigned int len, sockaddr_in to)
{
    if (!buf || m_socket < 0)
        return 255;
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = board::Network::destination(to.sin_addr.s_addr);
    ssize_t n = ::sendto(m_socket, buf, len, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (n < 0) {
        KEL_TRACE("send error:%s\n", std::strerror(errno));
        return 255;
    }
    return 0;
}
