// The service groups through a running UDP link: discovery and a 4G group answer, as a PC
// tool on the network sees them (uploads over the links: the crossing-upload tests).
#include "tests/protocol/udp_fixture.h"

#include "protocol/message_deal.h"

namespace {

using pc::Bytes;
using udptest::UdpRunning;

bool ask(pc::PcClient& c, uint8_t group, const Bytes& data, Bytes& reply)
{
    pc::Frame req, rep;
    req.group = group;
    req.data = data;
    Bytes raw, plain;
    if (!c.sendRaw(pc::wire(req)) || !c.receiveRaw(raw, 3000) || !pc::unescape(raw, plain) || !pc::decode(plain, rep))
        return false;
    reply = rep.data;
    return true;
}

TEST_F(UdpRunning, DiscoveryAndTheFourGGroupOverUdp)
{
    auto c = client(5008);
    Bytes r;
    ASSERT_TRUE(ask(*c, 0xA4, {0x10}, r));
    EXPECT_EQ(r.size(), 233u);   // no WiFi link in this process
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 7), (Bytes{0, 0x10, 0x8D, 1, 1, 0x52, 0x9C}));

    ASSERT_TRUE(ask(*c, 0xC4, {1, 1, 0, 0xAA}, r));
    EXPECT_EQ(r, (Bytes{0, 1}));
    std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
    EXPECT_EQ(g_4G_RAM[0], 0xAA);
}

} // namespace
