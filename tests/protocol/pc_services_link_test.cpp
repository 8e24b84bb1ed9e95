// The service groups through a running UDP link: discovery, a file upload verified by its
// digest, and a 4G group answer, as a PC tool on the network sees them.
#include "tests/protocol/udp_fixture.h"

#include "core/kel_file_deal.h"
#include "protocol/message_deal.h"

#include <QCryptographicHash>

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

TEST_F(UdpRunning, DiscoveryFileUploadAndTheFourGGroupOverUdp)
{
    auto c = client(5008);
    Bytes r;
    ASSERT_TRUE(ask(*c, 0xA4, {0x10}, r));
    EXPECT_EQ(r.size(), 233u);   // no WiFi link in this process
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 7), (Bytes{0, 0x10, 0x8D, 1, 1, 0x52, 0x9C}));

    FileBufOwner::reset();
    const std::string json = "{\"namelist\":[]}";
    Bytes start = {1, 0, 0, 'A', 'L', 'I', 'S', 0};
    pc::put32(start, uint32_t(json.size()));
    ASSERT_TRUE(ask(*c, 0xC0, start, r));
    EXPECT_EQ(r, (Bytes{0, 1, 0}));
    Bytes block = {2, 0, 0, 0, 0};
    pc::put32(block, 0);                         // offset
    pc::put32(block, uint32_t(json.size()));     // length
    block.insert(block.end(), json.begin(), json.end());
    ASSERT_TRUE(ask(*c, 0xC0, block, r));
    EXPECT_EQ(r, (Bytes{0, 2}));
    QByteArray d = QCryptographicHash::hash(QByteArray::fromStdString(json), QCryptographicHash::Md5);
    Bytes end = {3, 0, 0, 0, 0};
    end.reserve(end.size() + size_t(d.size()));
    end.insert(end.end(), d.begin(), d.end());
    ASSERT_TRUE(ask(*c, 0xC0, end, r));
    EXPECT_EQ(r, (Bytes{0, 3, 0}));
    EXPECT_EQ(root.readFile("/data/configs/alias.json"), json);

    ASSERT_TRUE(ask(*c, 0xC4, {1, 1, 0, 0xAA}, r));
    EXPECT_EQ(r, (Bytes{0, 1}));
    std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
    EXPECT_EQ(g_4G_RAM[0], 0xAA);
}

} // namespace
