// The PC protocol over the UDP link, through real sockets on loopback against the link's
// running threads.
#include "tests/protocol/udp_fixture.h"

#include "core/utils.h"
#include "protocol/message_deal.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {

using pc::Bytes;
using udptest::UdpRunning;

constexpr int kWait = 3000;   // bound on a reply that must come

// Sends a request tagged in byte 4 and returns the next reply datagram decoded.
bool ask(pc::PcClient& c, pc::Frame req, pc::Frame& reply, uint8_t tag = 0x5C)
{
    req.b4 = tag;
    return c.sendRaw(pc::wire(req)) && udptest::nextFrame(c, reply);
}

// The bytes of a RAM read that must succeed (status 0).
Bytes ramAt(pc::PcClient& c, uint32_t address, uint16_t length)
{
    Bytes out;
    EXPECT_EQ(c.readRam(address, length, out), 0) << std::hex << address;
    return out;
}

uint16_t ram16(int offset) { return KelRamPara::get16(KelRamPara::p_kelrampara_config->ram + offset); }

TEST_F(UdpRunning, PropertyBlockFixedBytesSizeAndCloudTexts)
{
    auto c = client(5008);
    KelRamPara* p = para();
    KelRamPara::put16(p->ram + KelRamPara::kLedWidth, 0x0780);
    KelRamPara::put16(p->ram + KelRamPara::kLedHeight, 0x0438);
    G_timeTicks = 20 * 0x01020304u;
    g_uTor_cloud = 1;
    g_update_status = 1;
    {
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        std::memset(g_4G_property, 0, k4GPropertySize);
        for (int i = 0; i < 12; ++i)
            g_4G_property[25 + i] = uint8_t(0x10 + i);
        g_4G_property[68] = 10;
        g_4G_property[69] = 1;
        g_4G_property[70] = 2;
        g_4G_property[71] = 3;
        g_4G_property[126] = 0x34;   // port 0x1234
        g_4G_property[127] = 0x12;
    }
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_uTor_cloudserverip = "10.1.2.3";
        g_uTor_clouduserid = "u7";
        g_uTor_controllername = "box";
    }
    g_uTor_cloudserverport = 0x2211;

    Bytes out;
    ASSERT_EQ(c->readRam(0xA0000000, 0x100, out), 0);
    ASSERT_EQ(out.size(), 0x100u);
    // No cloud link, no FPGA manager: the ready byte is 0.
    EXPECT_EQ(out[0x00], 0);
    EXPECT_EQ(Bytes(out.begin() + 1, out.begin() + 0x1A),
              (Bytes{1, 0, 1, 0x52, 0x9C, 0x48, 0x0B, 10, 1, 0, 0, 0, 0, 0, 0, 1, 8, 0x52, 0x9C, 2, 0x26, 9, 0x28, 0, 11}));
    EXPECT_EQ(Bytes(out.begin() + 0x1C, out.begin() + 0x20), (Bytes{4, 3, 2, 1}));
    EXPECT_EQ(Bytes(out.begin() + 0x29, out.begin() + 0x2C), (Bytes{0x48, 11, 11}));
    EXPECT_EQ(Bytes(out.begin() + 0x42, out.begin() + 0x4F),
              (Bytes{12, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B}));
    EXPECT_EQ(Bytes(out.begin() + 0x65, out.begin() + 0x6B), (Bytes{10, 1, 2, 3, 0x12, 0x34}));
    EXPECT_EQ(Bytes(out.begin() + 0x80, out.begin() + 0x84), (Bytes{0x07, 0x80, 0x04, 0x38}));
    Bytes texts = {8, '1', '0', '.', '1', '.', '2', '.', '3', 0x11, 0x22, 2, 'u', '7', 3, 'b', 'o', 'x', 0};
    EXPECT_EQ(Bytes(out.begin() + 0x84, out.begin() + 0x84 + texts.size()), texts);
    // Everything not listed is 0.
    for (int i : {0x0A, 0x0F, 0x1A, 0x1B, 0x20, 0x28, 0x30, 0x41, 0x4F, 0x64, 0x7B, 0xFF})
        EXPECT_EQ(out[i], 0) << i;
    // The last address of the block (one past it: the table of commands' check).
    EXPECT_EQ(ramAt(*c, 0xA0000FFF, 1), (Bytes{0}));
}

TEST_F(UdpRunning, Register11AppliesTheBlockWrittenByThePc)
{
    auto c = client(5008);
    KelRamPara* p = para();
    uint8_t* ram = p->ram;
    // The PC writes the brightness; the block's mode number equals the saved one.
    KelRamPara::put16(ram + KelRamPara::kCurrentMode, 3);
    KelRamPara::put16(p->ram_backup + KelRamPara::kCurrentMode, 3);
    ASSERT_EQ(c->writeRam(KelRamPara::kBrightness, {77, 0}), 0);
    EXPECT_EQ(UdpFixture::applyFlag(), 0);   // a RAM write alone applies nothing
    ASSERT_EQ(c->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_EQ(applyFlag(), 1);
    EXPECT_EQ(ram16(KelRamPara::kCurrentMode), 0);   // no longer a stored mode
    EXPECT_EQ(ram16(KelRamPara::kBrightness), 77);
    applied = 0;

    // A new mode number loads that slot.
    p->mode_slot[4][0] = p->mode_slot[4][1] = 0xAA;
    std::memset(p->mode_slot[4] + 2, 0x3D, KelRamPara::kModeAreaLength);
    ASSERT_EQ(c->writeRam(KelRamPara::kCurrentMode, {5, 0}), 0);
    ASSERT_EQ(c->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_EQ(ram[KelRamPara::kModeArea + 100], 0x3D);
    EXPECT_EQ(applyFlag(), 1);

    // A mode number above 16 loads nothing.
    std::memset(ram + KelRamPara::kModeArea, 0, 16);
    KelRamPara::put16(ram + KelRamPara::kCurrentMode, 40);
    ASSERT_EQ(c->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_EQ(ram[KelRamPara::kModeArea], 0);

    // A changed LED size turns crop sources into their input ports; a crop index of 40 or
    // more is left alone.
    KelRamPara::put16(ram + KelRamPara::kCurrentMode, 0);
    KelRamPara::put16(p->ram_backup + KelRamPara::kCurrentMode, 0);
    KelRamPara::put16(ram + KelRamPara::kLedWidth, uint16_t(KelRamPara::get16(p->ram_backup + KelRamPara::kLedWidth) + 64));
    ram[KelRamPara::kCropRecords + 10 * 7] = 0x13;   // crop record 7 is of input 3
    uint8_t* src0 = ram + KelRamPara::kLayers + KelRamPara::kLayerSource;
    uint8_t* src1 = src0 + KelRamPara::kLayerSize;
    KelRamPara::put16(src0, 0x8007);
    KelRamPara::put16(src1, 0x8028);
    KelRamPara::put16(ram + KelRamPara::kAudioWindow, 3);
    ASSERT_EQ(c->writeRegister(11, 0x02, 0x02), 0);
    EXPECT_EQ(KelRamPara::get16(src0), 3);
    EXPECT_EQ(KelRamPara::get16(src1), 0x8028);
    EXPECT_EQ(ram16(KelRamPara::kAudioWindow), 0);

    // Bit 2 asks for the user-mode files to be re-synchronised too.
    ASSERT_EQ(c->writeRegister(11, 0x04, 0x04), 0);
    EXPECT_EQ(applyFlag(), 2);
}

TEST_F(UdpRunning, RebootAndUpgradeFinishAreRecordedOnce)
{
    auto c = client(5008);
    // Reboot request through register 0xA1 bit 0: stamped with the current tick.
    G_timeTicks = 4321;
    ASSERT_EQ(c->writeRegister(0xA1, 0x01, 0x01), 0);
    EXPECT_EQ(g_app_reset_flag, 1);
    EXPECT_EQ(G_reboot_tickTicks, 4321u);
    // A second request while one is pending keeps the first stamp.
    G_timeTicks = 5000;
    ASSERT_EQ(c->writeRegister(0xA1, 0x01, 0x01), 0);
    EXPECT_EQ(G_reboot_tickTicks, 4321u);
    // Finishing an application upgrade (register 14 bit 0): the transfer sequences' check.
}

TEST_F(UdpRunning, FirmwareUpdateDisplayStartsOnceAndEnds)
{
    auto c = client(5008);
    std::mutex m;
    std::vector<int> codes;
    QObject::connect(para(), &KelRamPara::sig_update_para, para(),
                     [&](int code) {
                         std::lock_guard<std::mutex> hold(m);
                         codes.push_back(code);
                     },
                     Qt::DirectConnection);
    // Taken once here, so the link thread's first hold of it comes after the connection.
    { std::lock_guard<std::mutex> connected(m); }
    ASSERT_EQ(c->writeRegister(9, 0xFF, 0x10), 0);
    EXPECT_EQ(g_update_flag, 1);
    ASSERT_EQ(c->writeRegister(10, 0xFF, 0x81), 0);
    EXPECT_EQ(g_update_flag, 1);
    ASSERT_EQ(c->writeRegister(9, 0xFF, 0x0F), 0);
    EXPECT_EQ(g_update_flag, 0);
    std::lock_guard<std::mutex> hold(m);
    EXPECT_EQ(codes, (std::vector<int>{105, 105, 106}));
}

} // namespace

TEST_F(UdpRunning, ReplyBytesTheHandlerDoesNotFillAreZeroNotAnEarlierRequestsBytes)
{
    // 50,000 bytes of flash chip 8, behind which no flash lies; 50,000 bytes of RAM from
    // 0xFE000000, which nothing reads (the reply keeps the request's own 6 bytes there).
    pc::Frame flash, ram = pc::readRam(0xFE000000u, 50000);
    flash.group = 0x72;
    flash.data = {0x00, 0x00, 0x00, 0x08, 0x50, 0xC3};
    for (uint16_t port : {uint16_t(5008), uint16_t(10005)}) {
        for (const pc::Frame& read : {flash, ram}) {
            // One PC's long request leaves its bytes in the link's buffer (no handler takes
            // group 0x62, nothing answers it); another PC then reads.
            auto first = client(port);
            auto second = client(port);
            pc::Frame big;
            big.group = 0x62;
            big.data.assign(60000, 0x77);
            ASSERT_TRUE(first->sendRaw(pc::wire(big)));
            pc::Frame reply;
            ASSERT_TRUE(ask(*second, read, reply, 0x41)) << port;
            ASSERT_EQ(reply.data.size(), 50001u);
            EXPECT_EQ(Bytes(reply.data.begin() + 7, reply.data.end()), Bytes(49994, 0)) << port;
        }
    }
}
