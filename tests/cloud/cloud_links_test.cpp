// The least of the cloud and wireless links: the 4G module's serial line (port 1) with its
// group 0xC4 and re-initialisation, the cloud properties' loader, the WiFi module's AT
// datagrams on UDP 13769 and the cloud client's connection.
#include "board/sim/Sim.h"
#include "cloud/m57_wifi_config.h"
#include "cloud/message_deal_4g.h"
#include "cloud/networkclient_manage.h"
#include "cloud/uart_inout_4G.h"
#include "core/utils.h"
#include "protocol/message_deal.h"
#include "tests/protocol/udp_fixture.h"
#include "tests/support/PcClient.h"
#include "tests/support/TestRoot.h"

#include <arpa/inet.h>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using pc::Bytes;

TEST(CloudLinks, FourGLineAnswersAsLinkFourAndTakesTheModuleStatus)
{
    kel_test::TestRoot root;
    udptest::freshParameters();
    Kx_uart_inout_4G line;
    ASSERT_GE(line.open_port(Kx_uart_inout_4G::kPort, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    auto pcSide = pc::PcClient::serial(sim::SerialModel::peerPath("/dev/ttyS1"));
    ASSERT_TRUE(pcSide);

    std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
    // One group 0xC4 frame through the line and its reply's data.
    auto exchange = [&](const Bytes& data) {
        pc::Frame status, reply;
        status.group = 0xC4, status.data = data;
        const bool sent = pcSide->sendRaw(pc::wire(status));
        line.receive_pass_4G(200);
        return sent && udptest::nextFrame(*pcSide, reply, 1000) ? reply.data : Bytes{};
    };
    // An unknown sub-command is refused, and so is a report longer than the status block (which
    // keeps the last one that fitted, whole to its last byte).
    const auto report = [](unsigned n) { Bytes r = {1, uint8_t(n), uint8_t(n >> 8)}; for (unsigned i = 0; i < n; ++i) r.push_back(uint8_t(0x40 + i)); return r; };
    EXPECT_EQ((std::vector<Bytes>{exchange({1, 3, 0, 0xAA, 7, 9}), Bytes(g_4G_RAM, g_4G_RAM + 4), exchange({2})}),
              (std::vector<Bytes>{{0, 1}, {0xAA, 7, 9, 0}, {1, 2}}));
    const Bytes fits = report(k4GRamSize);
    EXPECT_EQ((std::vector<Bytes>{exchange(fits), exchange(report(k4GRamSize + 1)), exchange(report(1000)),
                                  Bytes(g_4G_RAM, g_4G_RAM + k4GRamSize)}),
              (std::vector<Bytes>{{0, 1}, {1, 1}, {1, 1}, Bytes(fits.begin() + 3, fits.end())}));

    // New cloud settings: the line reloads the properties once.
    root.writeFile("/data/configs/cloud_setinfo", std::string("\xAA\x06\x00" "ABCD", 7));
    g_reconfig_4g = 1;
    line.receive_pass_4G(0);
    EXPECT_EQ(std::make_tuple(unsigned(g_reconfig_4g), unsigned(line.reconfigurations), std::string(reinterpret_cast<char*>(g_4G_property), 4)),
              std::make_tuple(0u, 1u, std::string("ABCD")));
    udptest::dropParameters();
}

TEST(CloudLinks, PropertiesRefuseCutRecordsAndMissingFiles)
{
    kel_test::TestRoot root;
    message_deal_4g m;
    std::memset(g_4G_property, 0, k4GPropertySize);
    EXPECT_EQ(m.get_4G_property(), 1);
    root.writeFile("/data/configs/cloud_setinfo", std::string("\xAA\x05\x00" "SET", 6));
    root.writeFile("/data/configs/cloud_barcode", std::string("\xAA\x09\x00" "BAR", 6));   // cut short
    // A whole barcode record is read first: StoreWalk's cloud settings row.
    EXPECT_TRUE(m.get_4G_property() == 0 && std::string(reinterpret_cast<char*>(g_4G_property), 4) == std::string("SET\0", 4));
}

class WifiAt : public udptest::UdpPasses {};

TEST_F(WifiAt, AtDatagramsAreAnsweredOnlyWhileTheAccessPointRuns)
{
    M57_WIFI_CONFIG wifi;
    M57_WIFI_CONFIG::p_wifi = &wifi;
    M57_WIFI_CONFIG::attach(link.get());
    auto module = client(13769);
    auto answer = [&module]() {
        Bytes a;
        return module->receiveRaw(a, 1000) ? std::string(a.begin(), a.end()) : std::string("(none)");
    };
    ASSERT_TRUE(module->sendRaw(Bytes{'A', 'T', '\r', '\n'}));
    EXPECT_FALSE(link->udp_13769_pass(0));   // not started: nothing read

    wifi.wifi_ip = "192.168.10.1";
    ASSERT_EQ(wifi.wifi_start_pass(), M57_WIFI_CONFIG::kApRunning);
    EXPECT_TRUE(sim::Journal::hasShell("hostapd -B /etc/rtl_hostapd_2G.conf") && link->udp_13769_pass(1000) && answer() == "OK\r\n");
    ASSERT_TRUE(module->sendRaw(Bytes{'A', 'T', '+', 'X'}));
    EXPECT_TRUE(link->udp_13769_pass(1000) && answer() == "ERROR\r\n");
    EXPECT_TRUE(wifi.field(M57_WIFI_CONFIG::kMode) == "2" && wifi.field(M57_WIFI_CONFIG::kWlan1Port) == "5005");
    M57_WIFI_CONFIG::p_wifi = nullptr;
}

TEST(CloudLinks, CloudClientConnectsToTheBoundServerAndReconnectsOnRequest)
{
    kel_test::TestRoot root;
    int server = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(server, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(server, 4), 0);
    socklen_t n = sizeof a;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &n);
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_uTor_cloudserverip = "127.0.0.1";
    }
    g_uTor_cloudserverport = ntohs(a.sin_port);
    g_uTor_cloud = 1;
    g_rconfig_device_utorcloud = 0;

    networkclient_Manage client;
    networkclient_Manage::p_networkclient_Manage = &client;
    std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
    message_deal md;
    auto online = [&md]() {
        unsigned char f[message_deal::FRAME_BUF_SIZE] = {0x00, 0xF1, 0x10, 0xF0, 0, 0, 0, 0, 0, 0x8F};
        static_cast<void>(md.message_group_deal(f, 10, 5));   // the answer is read from the frame
        return Bytes(f + 10, f + 13);
    };
    const Bytes before = online();
    client.client_pass(0);
    EXPECT_EQ(std::make_pair(before, int(client.connected)), std::make_pair(Bytes{1, 2, 0}, 1));
    int peer = ::accept(server, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(online(), (Bytes{0, 2, 1}));

    g_rconfig_device_utorcloud = 1;   // new settings: a fresh connection
    client.client_pass(0);
    EXPECT_EQ((std::vector<int64_t>{g_rconfig_device_utorcloud, client.connected}), (std::vector<int64_t>{0, 1}));
    int second = ::accept(server, nullptr, nullptr);
    ASSERT_GE(second, 0);
    ::close(second);   // the server goes away
    client.client_pass(0);
    EXPECT_EQ(client.connected, 0);
    networkclient_Manage::p_networkclient_Manage = nullptr;
    ::close(peer);
    ::close(server);
}

} // namespace
