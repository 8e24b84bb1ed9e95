#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

namespace {

class NetworkBringUp : public ::testing::Test {
protected:
    void SetUp() override
    {
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
    }
    void TearDown() override
    {
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_str_ip = "192.168.0.199";
        g_srt_mask = "255.255.255.0";
        g_str_gateway = "192.168.0.1";
    }
    // An engine on the given settings file, with the journal emptied after its start-up.
    ConfigEngine* engineWith(const std::string& ini)
    {
        root.writeFile("/data/configs/tcpip.ini", ini);
        ConfigEngine* e = ConfigEngine::pInstance();
        sim::Journal::clear();
        return e;
    }
    kel_test::TestRoot root;
};

bool anyCommandContains(const std::string& text)
{
    for (const auto& c : sim::Journal::shellCommands())
        if (c.find(text) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST_F(NetworkBringUp, AddressesThatAreNotDottedQuadsNeverReachTheShell)
{
    engineWith("[config]\nIPAddress=\"1.2.3.4; reboot\"\nGateWay=192.168.0.300\nSubNetMask=255.255.255.0\n");
    EXPECT_EQ(Utils::initIPAddress(), 0);
    EXPECT_FALSE(anyCommandContains("reboot"));
    EXPECT_FALSE(anyCommandContains("192.168.0.300"));
    // The fixed commands still run around the skipped ones.
    const std::vector<std::string> expected = {
        "ifconfig eth0 >/dev/null 2>&1",
        "route del default wlan0",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(sim::Journal::shellCommands(), expected);
}

TEST_F(NetworkBringUp, DottedQuadCheck)
{
    EXPECT_TRUE(Utils::isDottedQuad("0.0.0.0"));
    EXPECT_TRUE(Utils::isDottedQuad("255.255.255.255"));
    for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.4 ", "1.2.3.-4", "0001.2.3.4", ""})
        EXPECT_FALSE(Utils::isDottedQuad(bad)) << bad;
}

TEST_F(NetworkBringUp, WithoutEth0NothingIsConfiguredAndTheGlobalsStay)
{
    engineWith("[config]\nIPAddress=10.9.8.7\n");
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_str_ip = "192.168.0.199";
    }
    sim::Journal::setShellStatus("ifconfig eth0 >/dev/null 2>&1", 256);
    EXPECT_EQ(Utils::initIPAddress(), 255);
    EXPECT_EQ(sim::Journal::shellCommands(), std::vector<std::string>{"ifconfig eth0 >/dev/null 2>&1"});
    EXPECT_EQ(g_str_ip, "192.168.0.199");
    EXPECT_EQ(Utils::init_resteth("10.0.0.2", "10.0.0.1", "255.0.0.0"), 255);
}

TEST_F(NetworkBringUp, ResetEthUsesItsArgumentsInGatewayMaskOrder)
{
    engineWith("[config]\n");
    EXPECT_EQ(Utils::init_resteth("10.0.0.2", "10.0.0.1", "255.0.0.0"), 0);
    const std::vector<std::string> expected = {
        "ifconfig eth0 >/dev/null 2>&1",
        "route del default wlan0",
        "ifconfig eth0 10.0.0.2 netmask 255.0.0.0",
        "route add -host 10.0.0.1 dev eth0",
        "route add default gw 10.0.0.1 metric 100",
        "route add -host 255.255.255.255 eth0",
        "route del 255.255.255.255 wlan1",
    };
    EXPECT_EQ(sim::Journal::shellCommands(), expected);
    // The shared globals are not changed by it.
    EXPECT_EQ(g_str_ip, "192.168.0.199");
}

TEST_F(NetworkBringUp, CloudFlagIsSetByAnyCloudSetting)
{
    engineWith("[config]\n");
    EXPECT_EQ(g_uTor_cloud, 0);
    ConfigEngine::p_config->write_config_variant(ConfigItem::uTorcloudserverip, QString(""));
    EXPECT_EQ(Utils::getIPAddress(), 0);
    EXPECT_EQ(g_uTor_cloud, 1);
    ConfigEngine::p_config->write_config_variant(ConfigItem::uTorcloudserverip, QString(" "));
    ConfigEngine::p_config->write_config_variant(ConfigItem::uTorcloudserverport, 8080);
    Utils::getIPAddress();
    EXPECT_EQ(g_uTor_cloud, 1);
    EXPECT_EQ(g_uTor_cloudserverport, 8080);
}

TEST_F(NetworkBringUp, ATcpPortThatIsNoPortFallsBackToTheStandardOne)
{
    for (const char* bad : {"70000", "0", "-1", "port", "10002"}) {
        engineWith(std::string("[config]\nTcpPort=") + bad + "\n");
        EXPECT_EQ(g_port, 5005) << bad;
        EXPECT_EQ(g_int_tcp_port, 5005) << bad;
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
    }
    engineWith("[config]\nTcpPort=65535\n");
    EXPECT_EQ(g_port, 65535);
    EXPECT_EQ(g_int_tcp_port, 65535);
}
