// The UDP link driven pass by pass: joining of datagrams, passthrough
// acknowledgement, PC activity and the WiFi module's port.
#include "tests/protocol/udp_fixture.h"

#include "board/Clock.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using pc::Bytes;
using udptest::UdpPasses;

constexpr int kWait = 2000;

pc::Frame tagged(pc::Frame f, uint8_t tag)
{
    f.b4 = tag;
    return f;
}

TEST_F(UdpPasses, PassthroughOn5008AndPcActivity)
{
    auto c = client(5008);
    pc::Frame card{0x0003, 0xF010, 0, 0, 0, 1, 0, 5, {0x10, 0x20}};   // group 5: no acknowledgement
    pc_cmd_valid = 0;
    G_timeTicks = 2000;
    g_passby_trans_port = 255;
    ASSERT_TRUE(c->sendRaw(pc::wire(card)));
    link->udpaccept_pass(kWait);
    EXPECT_EQ(pc_cmd_valid, 1);
    EXPECT_EQ(pc_cmd_time, 2000u);
    EXPECT_EQ(g_passby_trans_port, 3);

    // Without a manager nothing goes to the cards and nothing waits: the asker's next frame
    // is answered.
    pc::Frame reply;
    ASSERT_TRUE(c->sendRaw(pc::wire(tagged(pc::readRam(0x600440, 1), 0x23))));
    link->udpaccept_pass(kWait);
    ASSERT_TRUE(udptest::nextFrame(*c, reply));
    EXPECT_EQ(reply.b4, 0x23);

    // 10005 neither passes frames through nor marks the PC active.
    pc_cmd_valid = 0;
    auto d = client(10005);
    card.group = 2;
    ASSERT_TRUE(d->sendRaw(pc::wire(card)));
    ASSERT_TRUE(d->sendRaw(pc::wire(tagged(pc::readRam(0x600440, 1), 0x23))));
    link->udpaccept_pass_10005(kWait);
    link->udpaccept_pass_10005(0);
    ASSERT_TRUE(udptest::nextFrame(*d, reply));
    EXPECT_EQ(reply.b4, 0x23);   // the card frame went to the dispatcher: group 2 has no answer
    EXPECT_EQ(pc_cmd_valid, 0);
}

TEST_F(UdpPasses, WifiPortIsServedOnlyWhileTheAccessPointRuns)
{
    auto c = client(13769);
    bool running = false;
    std::vector<Bytes> seen;
    int answer = 1;
    ASSERT_TRUE(c->sendRaw({'A', 'T', '\r', '\n'}));
    EXPECT_FALSE(link->udp_13769_pass());   // no WiFi link yet
    link->set_wifi_handler([&] { return running; }, [&](unsigned char* data, unsigned int len, const sockaddr_in&) {
        seen.emplace_back(data, data + len);
        return answer;
    });
    EXPECT_FALSE(link->udp_13769_pass());
    EXPECT_TRUE(seen.empty());

    running = true;
    EXPECT_TRUE(link->udp_13769_pass(kWait));
    // Not consumed: offered again on the next pass.
    link->udp_13769_pass();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], (Bytes{'A', 'T', '\r', '\n'}));
    answer = 0;
    link->udp_13769_pass();
    link->udp_13769_pass();
    EXPECT_EQ(seen.size(), 3u);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(c->localPort());
    link->queue_13769_answer(reinterpret_cast<const unsigned char*>("OK\r\n"), 4, to);
    link->udp_13769_pass();
    Bytes raw;
    ASSERT_TRUE(c->receiveRaw(raw, kWait));
    EXPECT_EQ(raw, (Bytes{'O', 'K', '\r', '\n'}));

    // Port taken by another program: with the access point running there is still nothing
    // to serve, so the thread rests instead of spinning on a receive that fails at once.
    link->server(13769)->unInitialize();
    EXPECT_FALSE(link->udp_13769_pass(kWait));
}

TEST_F(UdpPasses, WifiThreadRestsWhileItsHandlerKeepsADatagram)
{
    // A handler that never takes the datagram keeps it at the head; the thread offers it
    // again once per pass and rests 1 ms between passes instead of spinning.
    std::atomic<int> offers{0};
    link->set_wifi_handler([] { return true; }, [&](unsigned char*, unsigned int, const sockaddr_in&) {
        ++offers;
        return 1;
    });
    auto c = client(13769);
    ASSERT_TRUE(c->sendRaw({'A', 'T', '\r', '\n'}));
    const uint64_t start = board::Clock::monotonicUs();
    ASSERT_EQ(link->start_threads(), 0);
    for (int i = 0; i < 500 && offers < 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    link.reset();   // stops and joins the threads
    const uint64_t restedMs = (board::Clock::monotonicUs() - start) / 1000;
    ASSERT_GE(offers.load(), 20);
    EXPECT_LE(uint64_t(offers.load()), restedMs + 1);
}

} // namespace
