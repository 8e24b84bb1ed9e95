// Group 0xA4: network read-out, discovery record (with and without the WiFi link), MAC
// address with its interface file, and the address/port setting with its reboot request.
#include "tests/protocol/handler_fixture.h"

#include "cloud/m57_wifi_config.h"
#include "core/config_engine.h"

#include <cstring>
#include <tuple>

namespace {

using handler_test::Bytes;

class PcNetwork : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        ConfigEngine::pInstance();
        g_port = 5005;
        std::unique_lock<std::mutex> hold(g_str_globals_mutex);
        g_str_ip = "192.168.0.50", g_srt_mask = "255.255.255.0", g_str_gateway = "192.168.0.1", g_str_barcode = "BC-0001";
        hold.unlock();
        std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
        std::memcpy(g_4G_property, "AABBCCDDEEFF001122334455", 24);
        sim::SimBoard::setScenario("net.eth0.mac", "00:1a:2b:3c:4d:5e");
        sim::Journal::clear();
    }
    void TearDown() override
    {
        delete M57_WIFI_CONFIG::p_wifi;
        delete ConfigEngine::p_config;
        HandlerFixture::TearDown();
    }
    static Bytes setIp(const Bytes& ip, const Bytes& mask, const Bytes& gw, uint16_t port)
    {
        Bytes d = {1, 0, 0, 0};
        for (const Bytes* part : {&ip, &mask, &gw})
            d.insert(d.end(), part->begin(), part->end());
        pc::put16(d, port);
        return d;
    }
};

// The network read and the whole discovery record, with the WiFi link and without: the
// handler model check (PcHandlers).

TEST_F(PcNetwork, MacAndAddressSettingsWithAndWithoutAPortChange)
{
    // Any unicast address that is not all zeros is taken, whichever byte is set.
    for (size_t k = 3; k < 9; ++k) {
        Bytes d(9, 0);
        EXPECT_EQ((d[k] = 0x02, reply(deal(req(0xA4, d)))), (Bytes{0, 0})) << k;
    }
    EXPECT_EQ(reply(deal(req(0xA4, {0, 0, 0, 0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}))), (Bytes{0, 0}));
    EXPECT_EQ(root.readFile("/etc/network/interfaces"),
              "#start 180503\n\nauto lo\niface lo inet loopback\n\nauto eth0\niface eth0 inet static\n"
              "address 192.168.0.50\nnetmask 255.255.255.0\nmetric 1\nhwaddress ether 00:1a:2b:3c:4d:5e\n#\n\n#end\n");
    EXPECT_TRUE(sim::Journal::hasShell("ifdown eth0 -f;ifup eth0 -f") && sim::Journal::hasShell("ifconfig eth0 192.168.0.50 netmask 255.255.255.0"));
    // Multicast and all-zero addresses refused, changing nothing: the table of commands' check.

    // The address, mask, gateway and port.
    std::vector<int> codes;
    QObject::connect(para(), &KelRamPara::sig_update_para, [&](int c) { codes.push_back(c); });
    auto* c = ConfigEngine::p_config;
    // The same port: saved and brought up at once, a notification, no reboot.
    EXPECT_EQ(reply(deal(req(0xA4, setIp({10, 1, 2, 3}, {255, 255, 0, 0}, {10, 1, 0, 1}, 5005)))), Bytes{0});
    EXPECT_EQ(std::make_tuple(codes, unsigned(g_app_reset_flag), c->read_config_variant(ConfigItem::IPAddress).toString(),
                              c->read_config_variant(ConfigItem::SubNetMask).toString(),
                              sim::Journal::hasShell("ifconfig eth0 10.1.2.3 netmask 255.255.0.0 up")),
              std::make_tuple(std::vector<int>{1}, 0u, QString("10.1.2.3"), QString("255.255.0.0"), true));
    // A new port: saved and read back, a reboot stamped now, no second notification.
    G_timeTicks = 7777;
    EXPECT_EQ(reply(deal(req(0xA4, setIp({10, 1, 2, 3}, {255, 255, 0, 0}, {10, 1, 0, 1}, 6000)))), Bytes{0});
    EXPECT_EQ(std::make_tuple(codes.size(), unsigned(g_app_reset_flag), unsigned(G_reboot_tickTicks), c->read_config_variant(ConfigItem::TcpPort).toInt(),
                              int(pc::get16(&reply(deal(req(0xA4, {3})))[23]))),
              std::make_tuple(size_t(1), 1u, 7777u, 6000, 6000));
    // What is refused, over every mask, host and gateway: the handler model check and the
    // table of commands' check.
}

} // namespace
