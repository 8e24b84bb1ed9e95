#include "protocol/udpclient.h"

#include "board/Network.h"
#include "core/global.h"
#include "core/utils.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

UdpClient::UdpClient() {}

UdpClient::~UdpClient() {}

int UdpClient::udpSendData(std::string* request, std::string& reply)
{
    if (m_socket == -1 || m_socket == -2 || !request)
        return -1;
    // The service is local to the board; on the simulated board its port moves with the
    // system's own ports.
    sockaddr_in service{};
    service.sin_family = AF_INET;
    service.sin_addr.s_addr = board::Network::destination(htonl(INADDR_LOOPBACK));
    service.sin_port = htons(board::Network::listenPort(SERVICE_PORT));
    ::sendto(m_socket, request->data(), request->size(), MSG_NOSIGNAL,
             reinterpret_cast<sockaddr*>(&service), sizeof service);

    std::vector<char> buf(2048);
    for (int wait = 0; wait < WAITS;) {
        pollfd p{m_socket, POLLIN, 0};
        int ready = ::poll(&p, 1, wait_ms);
        if (ready < 0 && errno == EINTR)
            continue;   // an interrupted wait is repeated
        if (ready <= 0) {
            ++wait;
            continue;
        }
        sockaddr_in from{};
        socklen_t fromLen = sizeof from;
        ssize_t got = ::recvfrom(m_socket, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
        if (got < 1) {
            writeLogMsg(LOG_ERROR, "recvfrom() error ...");
            return int(got);
        }
        reply.assign(buf.data(), strnlen(buf.data(), size_t(got)));
        KEL_TRACE("udp server message : %s\n", reply.c_str());
        if (from.sin_addr.s_addr != service.sin_addr.s_addr || from.sin_port != service.sin_port) {
            ++wait;   // not the service: counts as an empty wait
            continue;
        }
        request->assign(buf.data(), size_t(got));
        return int(got);
    }
    return -1;
}
