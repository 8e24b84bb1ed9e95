// Groups 0xC5-0xCC and 0x8E/0x8F: cloud settings files up and down with their result
// codes, the reload and reconnection requests a new settings file raises, the 4G status
// (also as the module's group 0xC4 hands it over).
#include "tests/protocol/handler_fixture.h"

#include "core/kel_file_deal.h"

#include <cstring>

namespace {

using handler_test::Bytes;

class PcCloudFiles : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        g_yp_s_file = YP_FILE{};
        g_yp_r_file = YP_FILE{};
        g_reconfig_4g = 0;
        g_rconfig_device_utorcloud = 0;
        std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
    }
    static Bytes start(const char* name, uint32_t size, uint8_t flag)
    {
        Bytes d(name, name + 4);
        pc::put32(d, size);
        d.push_back(flag);
        return d;
    }
    static Bytes idOffset(uint16_t id, uint32_t v, const Bytes& tail = {})
    {
        Bytes d;
        pc::put16(d, id);
        pc::put32(d, v);
        d.insert(d.end(), tail.begin(), tail.end());
        return d;
    }
    static Bytes block(uint16_t id, uint32_t offset, const Bytes& data)
    {
        Bytes t;
        pc::put16(t, uint16_t(data.size()));
        t.insert(t.end(), data.begin(), data.end());
        return idOffset(id, offset, t);
    }
};

TEST_F(PcCloudFiles, SettingsUploadStoresReloadsAndAsksForReconnection)
{
    // Asking before sending: no file yet, within or over the limit.
    EXPECT_EQ(reply(deal(req(0xCC, start("F004", 4096, 0)))), (Bytes{1, 64, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xCC, start("F004", 4097, 0)))), (Bytes{1, 66, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xCC, start("F004", 4097, 1)))), (Bytes{1, 66, 1, 102, 0}));

    Bytes data(20);
    for (int i = 0; i < 20; ++i)
        data[i] = uint8_t('A' + i);
    g_4G_RAM[56] = 1;
    // A file without data is refused at its end: nothing is replaced.
    root.writeFile("/data/configs/cloud_barcode", "old");
    EXPECT_EQ(reply(deal(req(0xCC, start("F004", 0, 1)))), (Bytes{0, 200, 0, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC6, idOffset(102, 0)))), (Bytes{1, 77, 1, 102, 0}));
    EXPECT_TRUE(root.exists("/data/configs/cloud_barcode") && !root.exists("/data/configs/cloud_setinfo"));
    EXPECT_EQ(reply(deal(req(0xCC, start("F004", 20, 1)))), (Bytes{0, 200, 0, 102, 0}));
    // A block cut short, one past the announced size, a wrong offset, a wrong id.
    EXPECT_EQ(reply(deal(req(0xC5, Bytes(7, 0)))), (Bytes{1, 76, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC5, block(102, 0, Bytes(21, 1))))), (Bytes{1, 76, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC5, block(102, 4, Bytes(4, 1))))), (Bytes{1, 75, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC5, block(101, 0, Bytes(4, 1))))), (Bytes{1, 74, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC5, block(102, 0, Bytes(data.begin(), data.begin() + 8))))), (Bytes{0, 200, 0, 102, 0}));
    // The end before all data came is refused.
    EXPECT_EQ(reply(deal(req(0xC6, idOffset(102, 20)))), (Bytes{1, 77, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC5, block(102, 8, Bytes(data.begin() + 8, data.end()))))), (Bytes{0, 200, 0, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC6, idOffset(102, 19)))), (Bytes{1, 76, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xC6, idOffset(102, 20)))), (Bytes{0, 200, 0, 102, 0}));

    // The file and the barcode record's removal, as the next start loads them: StoreWalk.
    const std::string file = root.readFile("/data/configs/cloud_setinfo");
    EXPECT_EQ(g_4G_RAM[56], 0);
    EXPECT_EQ(g_reconfig_4g, 1);
    EXPECT_EQ(g_rconfig_device_utorcloud, 1);
    EXPECT_TRUE(FileBufOwner::acquire(FileBufOwner::UsbUpgrade));   // stored: free to others
    // Now the file exists.
    EXPECT_EQ(reply(deal(req(0xCC, start("F004", 20, 0)))), (Bytes{1, 65, 1, 102, 0}));

    // Reading it back: the length word and the data in one block.
    EXPECT_EQ(reply(deal(req(0xC8, {'F', '0', '0', '4'}))), (Bytes{0, 200, 0, 102, 0, 22, 0, 0, 0}));
    Bytes got = reply(deal(req(0xC9, idOffset(102, 0))));
    ASSERT_EQ(got.size(), 11u + 22);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 11), (Bytes{0, 200, 0, 102, 0, 22, 0, 0, 0, 22, 0}));
    EXPECT_EQ(Bytes(got.begin() + 11, got.end()), Bytes(file.begin() + 1, file.end()));
    EXPECT_EQ(reply(deal(req(0xCA, idOffset(102, 22)))), (Bytes{0, 200, 0, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xCA, idOffset(101, 5)))), (Bytes{1, 77, 1, 102, 0}));
    EXPECT_EQ(reply(deal(req(0xCA, idOffset(101, 22)))), (Bytes{1, 44, 1, 102, 0}));
}

TEST_F(PcCloudFiles, CaFileReadInBlocksOf768)
{
    Bytes ca(1000);
    for (size_t i = 0; i < ca.size(); ++i)
        ca[i] = uint8_t(i * 13);
    ASSERT_EQ(reply(deal(req(0xCC, start("F002", 1000, 1)))), (Bytes{0, 200, 0, 101, 0}));
    ASSERT_EQ(reply(deal(req(0xC5, block(101, 0, ca)))), (Bytes{0, 200, 0, 101, 0}));
    ASSERT_EQ(reply(deal(req(0xC6, idOffset(101, 1000)))), (Bytes{0, 200, 0, 101, 0}));
    std::string file = root.readFile("/data/configs/cloud_cafile");
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 7), (Bytes{0xAA, 101, 0, 0xE8, 0x03, 0, 0}));

    EXPECT_EQ(reply(deal(req(0xC8, {'F', '0', '0', '2'}))), (Bytes{0, 200, 0, 101, 0, 0xE8, 0x03, 0, 0}));
    Bytes back;
    for (uint32_t at : {0u, 768u}) {
        Bytes b = reply(deal(req(0xC9, idOffset(101, at))));
        back.insert(back.end(), b.begin() + 11, b.end());
    }
    EXPECT_EQ(back.size(), 1000u);
    EXPECT_TRUE(back == ca);
    EXPECT_EQ(reply(deal(req(0xCA, idOffset(101, 1000)))), (Bytes{0, 200, 0, 101, 0}));
    // A missing file and an unknown name are refused with 'N'.
    EXPECT_EQ(reply(deal(req(0xC8, {'F', '0', '0', '4'}))), (Bytes{1, 'N', 1, 102, 0, 0, 0, 0, 0}));
    EXPECT_EQ(reply(deal(req(0xC8, {'F', '0', '0', '9'}))), (Bytes{1, 'N', 1, 0, 0, 0, 0, 0, 0}));
    // The end keeps the send record; a cancel with its id clears it, a second one is refused.
    EXPECT_EQ(reply(deal(req(0xC7, {101, 0}))), (Bytes{0, 200, 0, 101, 0}));
    EXPECT_EQ(reply(deal(req(0xC7, {101, 0}))), (Bytes{1, 74, 1, 0, 0}));
}

// An ask or a refused start never changes a record in use (an ask once left a 4 GiB size
// there, and the blocks then ran past the buffer); blocks, ends and cancels belong to the
// peer that started.
TEST_F(PcCloudFiles, AsksAndOtherPeersLeaveARunningUploadAlone)
{
    message_deal other{message_deal::REPLY_LIMIT_TCP};
    auto dealOn = [&](message_deal& m, uint8_t group, const Bytes& d) { return reply(deal(req(group, d), m)); };
    const Bytes ca(1000, 0x3C);
    ASSERT_EQ(dealOn(md, 0xCC, start("F002", 1000, 1)), (Bytes{0, 200, 0, 101, 0}));
    EXPECT_EQ(dealOn(md, 0xCC, start("F002", 0xFFFFFFF0u, 0)), (Bytes{1, 66, 1, 101, 0}));
    EXPECT_EQ(dealOn(other, 0xCC, start("F004", 10, 0)), (Bytes{1, 64, 1, 102, 0}));
    EXPECT_EQ(dealOn(md, 0xCC, start("F009", 10, 1)), (Bytes{1, 64, 1, 0, 0}));   // the holder's own refused start
    EXPECT_EQ(dealOn(other, 0xCC, start("F002", 10, 1)), (Bytes{1, 64, 1, 101, 0}));
    EXPECT_EQ(dealOn(md, 0xC5, block(101, 0, Bytes(1001, 1))), (Bytes{1, 76, 1, 101, 0}));
    EXPECT_EQ(dealOn(other, 0xC5, block(101, 0, ca)), (Bytes{1, 74, 1, 101, 0}));
    EXPECT_EQ(dealOn(md, 0xC5, block(101, 0, ca)), (Bytes{0, 200, 0, 101, 0}));
    EXPECT_EQ(dealOn(other, 0xC6, idOffset(101, 1000)), (Bytes{1, 74, 1, 101, 0}));
    EXPECT_EQ(dealOn(other, 0xC7, {101, 0}), (Bytes{1, 74, 1, 101, 0}));
    EXPECT_EQ(dealOn(md, 0xC6, idOffset(101, 1000)), (Bytes{0, 200, 0, 101, 0}));
    // A second end stores again; once another user took the buffer it is refused.
    root.writeFile("/data/configs/cloud_cafile", "x");
    EXPECT_EQ(dealOn(md, 0xC6, idOffset(101, 1000)), (Bytes{0, 200, 0, 101, 0}));
    EXPECT_EQ(root.readFile("/data/configs/cloud_cafile").size(), 1007u);
    ASSERT_TRUE(FileBufOwner::acquire(FileBufOwner::PcFileTransfer));
    EXPECT_EQ(dealOn(md, 0xC6, idOffset(101, 1000)), (Bytes{1, 74, 1, 101, 0}));

    // The read side: a header without its 0xAA still gives the size; the settings file's
    // every block carries the size.
    root.writeFile("/data/configs/cloud_setinfo", std::string("\x00\x05\x00" "abc", 6));
    EXPECT_EQ(dealOn(md, 0xC8, {'F', '0', '0', '4'}), (Bytes{0, 200, 0, 102, 0, 5, 0, 0, 0}));
    const Bytes first = dealOn(md, 0xC9, idOffset(102, 0));
    EXPECT_EQ(first, (Bytes{0, 200, 0, 102, 0, 5, 0, 0, 0, 5, 0, 5, 0, 'a', 'b', 'c'}));
    EXPECT_EQ(dealOn(md, 0xC9, idOffset(102, 5)), (Bytes{0, 200, 0, 102, 0, 10, 0, 0, 0, 5, 0, 5, 0, 'a', 'b', 'c'}));
}

TEST_F(PcCloudFiles, BufferBusyAndModuleStatus)
{
    ASSERT_TRUE(FileBufOwner::acquire(FileBufOwner::PcFileTransfer));
    EXPECT_EQ(reply(deal(req(0xCC, start("F002", 100, 1)))), (Bytes{1, 64, 1, 101, 0}));

    for (int i = 0; i < 256; ++i)
        g_4G_RAM[i] = uint8_t(i);
    Bytes info = reply(deal(req(0x8E, {1})));
    ASSERT_EQ(info.size(), 60u);
    EXPECT_EQ(Bytes(info.begin(), info.begin() + 2), (Bytes{0, 1}));
    EXPECT_EQ(Bytes(info.begin() + 2, info.begin() + 58), Bytes(g_4G_RAM, g_4G_RAM + 56));
    EXPECT_EQ(Bytes(info.begin() + 58, info.end()), (Bytes{0, 0}));
    EXPECT_EQ(reply(deal(req(0x8E, {2}))), Bytes{1});
    // Online through the 4G module, then neither module nor client.
    g_4G_RAM[0] = 0xAA;
    g_4G_RAM[56] = 3;
    EXPECT_EQ(reply(deal(req(0x8F, {}))), (Bytes{0, 1, 3}));
    g_4G_RAM[56] = 0;
    EXPECT_EQ(reply(deal(req(0x8F, {}))), (Bytes{1, 2, 0}));
    // The module's own group hands its status block over.
    g_4G_RAM[0] = 0;
    EXPECT_EQ(reply(deal(req(0xC4, {1, 1, 0, 0xAA}))), (Bytes{0, 1}));
    EXPECT_EQ(g_4G_RAM[0], 0xAA);
}

} // namespace
