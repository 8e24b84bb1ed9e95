// The cloud link's TCP client socket against a loopback server of the test's own.

#include "core/global.h"
#include "protocol/tcpclinet.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <string>

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
    EXPECT_EQ(client.initialize(nullptr, 0), 0);
    EXPECT_EQ(client.initialize_cloud(), 1);
    EXPECT_EQ(client.m_clinetSocket, -1);

    ASSERT_EQ(client.sockerConnect("127.0.0.1", server.port), 1);
    int sock = client.m_clinetSocket;
    ASSERT_GE(sock, 0);
    ASSERT_TRUE(server.accept());
    // Connected already: nothing is touched.
    EXPECT_EQ(client.sockerConnect("127.0.0.1", server.port), 0);
    EXPECT_EQ(client.m_clinetSocket, sock);

    const std::string hello = "{\"cmd\":\"login\"}";
    EXPECT_EQ(client.sendData(reinterpret_cast<const unsigned char*>(hello.data()), unsigned(hello.size()), sock), 0);
    EXPECT_EQ(server.read(hello.size()), hello);
    EXPECT_EQ(client.sendData(nullptr, 4, sock), 255);
    EXPECT_EQ(client.m_clinetSocket, sock);   // a null buffer keeps the connection

    const std::string answer = "{\"ack\":1}";
    ASSERT_EQ(::send(server.peer, answer.data(), answer.size(), 0), ssize_t(answer.size()));
    unsigned char closed = 9;
    EXPECT_EQ(client.recvData(&closed), 0);
    EXPECT_EQ(closed, 0);
    ASSERT_EQ(client.m_recvList.size(), 1u);
    EXPECT_EQ(std::string(client.m_recvList.front().data.begin(), client.m_recvList.front().data.end()), answer);
    EXPECT_EQ(client.m_recvList.front().socket, sock);

    // The server ends the connection: the client closes and says so.
    ::close(server.peer);
    server.peer = -1;
    EXPECT_EQ(client.recvData(&closed), 0);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(client.m_clinetSocket, -1);
    EXPECT_EQ(client.recvData(&closed), 255);   // nothing to receive on

    // And connects again. A connection that can no longer send (shut for writing, or both
    // ways) fails the send, which closes it.
    for (int how : {SHUT_WR, SHUT_RDWR}) {
        ASSERT_EQ(client.sockerConnect("127.0.0.1", server.port), 1);
        ::shutdown(client.m_clinetSocket, how);
        EXPECT_EQ(client.sendData(reinterpret_cast<const unsigned char*>(hello.data()), 4, 0), 255) << how;
        EXPECT_EQ(client.m_clinetSocket, -1) << how;
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
    EXPECT_EQ(client.sockerConnect("127.0.0.1", port), 0);
    EXPECT_EQ(client.m_clinetSocket, -1);
    EXPECT_EQ(client.sockerConnect("not an address", port), 0);
    EXPECT_EQ(client.sockerConnect(nullptr, port), 0);
    EXPECT_EQ(client.m_clinetSocket, -1);
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
        EXPECT_EQ(client.recvData(&closed), 0);
        EXPECT_EQ(closed, 0);
        EXPECT_TRUE(client.m_recvList.empty());
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
        EXPECT_EQ(client.sendData(big.data(), unsigned(big.size()), client.m_clinetSocket), 255);
        EXPECT_EQ(client.m_clinetSocket, -1);
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
        EXPECT_EQ(client.sockerConnect("127.0.0.1", server.port), 0);
        EXPECT_EQ(client.m_clinetSocket, -1);
        for (int f : fillers)
            ::close(f);
    }
}
