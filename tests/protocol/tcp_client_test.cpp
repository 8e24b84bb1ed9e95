// The cloud link's TCP client socket against a loopback server of the test's own.

#include "core/global.h"
#include "protocol/tcpclinet.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <string>
#include <tuple>
#include <vector>

using namespace linktest;

namespace {

// A listening socket on an ephemeral loopback port.
class Server {
public:
    explicit Server(int backlog = 8)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, backlog);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Server()
    {
        if (peer >= 0)
            ::close(peer);
        ::close(fd);
    }
    bool accept()
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0)
            return false;
        peer = ::accept(fd, nullptr, nullptr);
        return peer >= 0;
    }
    std::string read(size_t want)
    {
        std::string out;
        char buf[4096];
        while (out.size() < want) {
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0)
                break;
            ssize_t n = ::recv(peer, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, size_t(n));
        }
        return out;
    }
    int fd = -1;
    int peer = -1;
    uint16_t port = 0;
};

} // namespace

TEST(TcpClient, ConnectSendReceiveAndServerClose)
{
    kel_test::TestRoot root;
    Server server;
    TcpClinet client;
    // Braced lists are evaluated in order: each value is read after the call before it.
    EXPECT_EQ((std::vector<int>{client.initialize(nullptr, 0), client.initialize_cloud(), client.m_clinetSocket}), (std::vector<int>{0, 1, -1}));

    ASSERT_EQ(client.sockerConnect("127.0.0.1", server.port), 1);
    int sock = client.m_clinetSocket;
    ASSERT_GE(sock, 0);
    ASSERT_TRUE(server.accept());
    // Connected already: nothing is touched.
    EXPECT_EQ((std::vector<int>{client.sockerConnect("127.0.0.1", server.port), client.m_clinetSocket}), (std::vector<int>{0, sock}));

    // Sent and read by the server; a null buffer is refused and keeps the connection.
    const std::string hello = "{\"cmd\":\"login\"}";
    EXPECT_EQ((std::tuple<int, std::string, int, int>{client.sendData(reinterpret_cast<const unsigned char*>(hello.data()), unsigned(hello.size()), sock),
                                                       server.read(hello.size()), client.sendData(nullptr, 4, sock), client.m_clinetSocket}),
              std::make_tuple(0, hello, 255, sock));

    const std::string answer = "{\"ack\":1}";
    ASSERT_EQ(::send(server.peer, answer.data(), answer.size(), 0), ssize_t(answer.size()));
    unsigned char closed = 9;
    ASSERT_EQ((std::vector<int>{client.recvData(&closed), closed, int(client.m_recvList.size())}), (std::vector<int>{0, 0, 1}));
    const auto& got = client.m_recvList.front();
    EXPECT_EQ(std::make_pair(std::string(got.data.begin(), got.data.end()), got.socket), std::make_pair(answer, sock));

    // The server ends the connection: the client closes and says so.
    ::close(server.peer);
    server.peer = -1;
    // Then there is nothing to receive on.
    EXPECT_EQ((std::vector<int>{client.recvData(&closed), closed, client.m_clinetSocket, client.recvData(&closed)}), (std::vector<int>{0, 1, -1, 255}));

    // And connects again. A connection that can no longer send (shut for writing, or both
    // ways) fails the send, which closes it.
    for (int how : {SHUT_WR, SHUT_RDWR}) {
        ASSERT_EQ(client.sockerConnect("127.0.0.1", server.port), 1);
        ::shutdown(client.m_clinetSocket, how);
        EXPECT_EQ((std::vector<int>{client.sendData(reinterpret_cast<const unsigned char*>(hello.data()), 4, 0), client.m_clinetSocket}),
                  (std::vector<int>{255, -1})) << how;
    }
}

TEST(TcpClient, RefusedAndMalformedConnects)
{
    kel_test::TestRoot root;
    uint16_t port;
    {
        Server gone;   // a port that was just in use and is closed now
        port = gone.port;
    }
    TcpClinet client;
    EXPECT_EQ((std::vector<int>{client.sockerConnect("127.0.0.1", port), client.m_clinetSocket, client.sockerConnect("not an address", port),
                                client.sockerConnect(nullptr, port), client.m_clinetSocket}),
              (std::vector<int>{0, -1, 0, 0, -1}));
}

TEST(TcpClient, WaitsEndAfterTheirTimeOut)
{
    // The waits are shortened: what is tested is that each one ends, not its length.
    constexpr int kShortWaitMs = 50;
    kel_test::TestRoot root;

    // Receive: a connected server that says nothing.
    {
        Server server;
        TcpClinet client;
        client.wait_ms = kShortWaitMs;
        ASSERT_EQ(client.sockerConnect("127.0.0.1", server.port), 1);
        ASSERT_TRUE(server.accept());
        unsigned char closed = 9;
        EXPECT_EQ((std::vector<int>{client.recvData(&closed), closed, int(client.m_recvList.size())}), (std::vector<int>{0, 0, 0}));
        EXPECT_GE(client.m_clinetSocket, 0);   // a quiet server is not an error
    }

    // Send: a server that never reads. Once the buffers are full the send gives up and,
    // with half a message out, drops the connection.
    {
        Server server;
        TcpClinet client;
        client.wait_ms = kShortWaitMs;
        ASSERT_EQ(client.sockerConnect("127.0.0.1", server.port), 1);
        ASSERT_TRUE(server.accept());
        std::vector<unsigned char> big(64u << 20, 0x41);
        EXPECT_EQ((std::vector<int>{client.sendData(big.data(), unsigned(big.size()), client.m_clinetSocket), client.m_clinetSocket}), (std::vector<int>{255, -1}));
    }

    // Connect: a server whose accept queue is full leaves new connections unanswered.
    {
        Server server(0);
        std::vector<int> fillers;
        bool stalled = false;
        TcpClinet client;
        client.wait_ms = kShortWaitMs;
        for (int i = 0; i < 8 && !stalled; ++i) {
            int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connectLoopback(f, server.port);
            fillers.push_back(f);
            pollfd p{f, POLLOUT, 0};
            stalled = ::poll(&p, 1, 200) == 0;
        }
        ASSERT_TRUE(stalled) << "the loopback stack accepted every connection";
        EXPECT_EQ((std::vector<int>{client.sockerConnect("127.0.0.1", server.port), client.m_clinetSocket}), (std::vector<int>{0, -1}));
        for (int f : fillers)
            ::close(f);
    }
}
