// The spare link classes: the chunk collector and the local UDP request client.

#include "board/Network.h"
#include "protocol/kx_uart_analysis.h"
#include "protocol/udpclient.h"
#include "tests/support/PrivatePorts.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

#include <memory>
#include <poll.h>
#include <thread>

TEST(SpareLinks, ChunkCollectorKeepsEveryRecord)
{
    Kx_uart_analysis* a = Kx_uart_analysis::pInstance();
    ASSERT_EQ(a, Kx_uart_analysis::pInstance());
    size_t before = a->count();
    auto rec = std::make_unique<Velin_UartData_Type>();
    rec->len = 3;
    a->uart_send_data(*rec);
    a->uart_send_data(*rec);
    EXPECT_EQ(a->count(), before + 2);
}

TEST(SpareLinks, UdpClientAsksTheLocalServiceAndWaitsForIt)
{
    kel_test::TestRoot root;
    UdpClient client;
    std::string request = "status?";
    std::string reply;
    EXPECT_EQ(client.udpSendData(&request, reply), -1);   // no socket
    client.m_socket = -2;
    EXPECT_EQ(client.udpSendData(&request, reply), -1);

    int service = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GT(kel_test::bindPrivatePorts(10020, [service](int) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(board::Network::listenPort(10020));
        return ::bind(service, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }), 0);

    client.m_socket = ::socket(AF_INET, SOCK_DGRAM, 0);
    // The service answers with text, a zero byte and more bytes, of which 2048 are taken.
    std::string text("ok 1\0xy", 7);
    text.append(2993, 'z');
    std::thread answer([service, &text] {
        pollfd p{service, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            return;
        char buf[64];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(service, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n != 7 || std::string(buf, 7) != "status?")
            return;
        ::sendto(service, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    });
    EXPECT_EQ(client.udpSendData(&request, reply), 2048);
    answer.join();
    EXPECT_EQ(reply, "ok 1");
    EXPECT_TRUE(request == text.substr(0, 2048));

    // Nobody answers: 31 waits (shortened here), then -1.
    ::close(service);
    client.wait_ms = 1;
    request = "status?";
    reply.clear();
    EXPECT_EQ(client.udpSendData(&request, reply), -1);
    EXPECT_EQ(request, "status?");
    ::close(client.m_socket);
}
