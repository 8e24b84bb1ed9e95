#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "tests/support/TestRoot.h"

#include <cstring>
#include <gtest/gtest.h>
#include <tuple>

namespace {

// Each test starts without an engine, with the globals at their program-image values.
class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        std::memset(g_pid, 0, sizeof g_pid);
        g_update_status = 0;
        g_port = 5005;
        g_lcd_lang_valid = 0;
        factoryage_log.clear();
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
    std::string pid() const { return std::string(g_pid, 32); }
    // A new engine on the given settings file, with the journal emptied after its start-up.
    ConfigEngine* engineWith(const std::string& ini)
    {
        delete ConfigEngine::p_config;
        ConfigEngine::p_config = nullptr;
        root.writeFile("/data/configs/tcpip.ini", ini);
        ConfigEngine* e = ConfigEngine::pInstance();
        sim::Journal::clear();
        return e;
    }
    kel_test::TestRoot root;
};

const std::vector<std::string> kDefaultBringUp = {
    "ifconfig eth0 >/dev/null 2>&1",
    "route del default wlan0",
    "ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up",
    "route add -host 192.168.0.1 dev eth0",
    "route add default gw 192.168.0.1 metric 100",
    "ip route add default via 192.168.0.1 dev eth0",
    "route add -host 255.255.255.255 eth0",
    "route del 255.255.255.255 wlan1",
};

} // namespace

TEST_F(Settings, FirstStartWritesEveryDefaultDerivesTheIdAndBringsEth0Up)
{
    sim::SocModel::setUniqueId(0x1234, 0x5678, 0x9ABC);
    sim::SocModel::write16(0x400C, 0xFFFF);
    factoryage_log.append("old result");
    factoryage_log_num = 7;
    testing::internal::CaptureStdout();
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    const std::string traces = testing::internal::GetCapturedStdout();

    struct Row {
        int index;
        const char* key;
        const char* def;
        int numeric;
    };
    // An unset text setting is one space, not the empty text.
    const Row rows[] = {
        {0, "TcpPort", "5005", 1}, {1, "UdpPort", "5008", 1}, {2, "IPAddress", "192.168.0.199", 0},
        {3, "SubNetMask", "255.255.255.0", 0}, {4, "GateWay", "192.168.0.1", 0},
        {5, "MAC", "FF:FF:FF:FF:FF:FF", 0}, {6, "Barcode", " ", 0}, {7, "WifiIPAddress", "192.168.22.101", 0},
        {8, "EDIDCheck", "Once", 0}, {9, "SourceCheck", "255", 1}, {10, "ImageLayoutPassword", "No", 0},
        {11, "uTorcloudserverip", " ", 0}, {12, "uTorcloudserverport", " ", 1}, {13, "uTorclouduserip", " ", 0},
        {14, "uTorcloudcontrollername", " ", 0}, {15, "KelMaxPixel_UINT", "6553600", 1},
        {16, "usbupgradedir", "KEL-W46", 0}, {17, "KelLCDLang", "65567", 1},
    };
    // The defaults in the file (none held in memory only), and writes landing under their keys: StoreWalk.
    ConfigEngine* engine = ConfigEngine::p_config;
    for (const Row& r : rows) {
        const QString key = QString("config/") + r.key;
        EXPECT_EQ(engine->read_config_variant(ConfigItem::ConfigName(r.index)).toString(), r.def) << r.key;
        EXPECT_EQ(engine->strToItem(r.key), r.index);
        const ConfigItem* item = engine->getConfigItem(key);
        ASSERT_NE(item, nullptr) << r.key;
        EXPECT_EQ(item->name, r.index);
        EXPECT_EQ(item->numeric, r.numeric) << r.key;
    }
    EXPECT_EQ(pid(), "1597bca0886b31023001305032627494");
    // Zero words give 32 zeros; every nibble 15 gives sums of 30 (div 2 = 15, mod 2 = 0) and 45.
    char out[32];
    ConfigEngine::derivePid(0, 0, 0, out);
    EXPECT_EQ(std::string(out, 32), std::string(32, '0'));
    ConfigEngine::derivePid(0xFFFF, 0xFFFF, 0xFFFF, out);
    EXPECT_EQ(std::string(out, 32), "fffffff0fffff00ff000f0f0f0f0ffff");
    // The trace shows the three words, then each of the 32 characters in hexadecimal.
    std::string shown = "\n mmap uuid161= 0x1234 ,0X5678 ,0x9abc \n";
    for (char c : pid())
        shown += " 0x" + QString::number(c, 16).toStdString() + " ";
    EXPECT_NE(traces.find(shown + "\n"), std::string::npos) << traces;
    // Only the gate bit of the unique-id window was cleared before reading.
    EXPECT_EQ(sim::SocModel::read16(0x400C), 0xFEFF);

    auto cmds = sim::Journal::shellCommands();
    ASSERT_GE(cmds.size(), 1u);
    EXPECT_EQ(cmds[0], "chattr +S /data/configs/tcpip.ini");
    EXPECT_EQ(std::vector<std::string>(cmds.begin() + 1, cmds.end()), kDefaultBringUp);

    // Globals follow the settings; no loader configuration means no standard command line.
    EXPECT_EQ((std::vector<int>{g_port, g_int_tcp_port, g_check_source, g_lcd_lang_valid, g_kel_max_pixel,
                                g_uTor_cloud, g_uTor_cloudserverport, g_update_status}),
              (std::vector<int>{5005, 5005, 255, 0x1001F, 6553600, 0, 0, 0}));
    EXPECT_EQ(g_usb_grade_path, "KEL-W46");
    EXPECT_EQ((std::vector<int>{int(factoryage_log.size()), factoryage_log_num}), (std::vector<int>{0, 0}));
}

TEST_F(Settings, WritesReachTheGlobalsOnlyThroughGetIPAddressAndUnknownKeysNowhere)
{
    ConfigEngine* engine = ConfigEngine::pInstance();
    EXPECT_TRUE(engine->write_config_variant(ConfigItem::WifiIPAddress, QString("192.168.50.1")));
    EXPECT_EQ((QStringList{engine->read_config_variant(ConfigItem::WifiIPAddress).toString(), g_str_wifi_ip}),
              (QStringList{"192.168.50.1", "192.168.22.101"}));
    Utils::getIPAddress();
    EXPECT_EQ(g_str_wifi_ip, "192.168.50.1");
    g_str_wifi_ip = "192.168.22.101";

    // Unknown keys.
    EXPECT_TRUE(!engine->containsItemStr("KelLCDLang") && engine->strToItem("config/Nothing") == ConfigItem::ConfigNameCount &&
                engine->getConfigItem("Barcode") == nullptr);
    EXPECT_FALSE(engine->write_config_variant(ConfigItem::ConfigNameCount, 1));
    EXPECT_FALSE(engine->read_config_variant(ConfigItem::ConfigNameCount).isValid());
}

// Without the unique-id window the id stays and the rest of the set-up runs; the loader's
// command line counts only when it matches exactly.
TEST_F(Settings, WithoutTheUniqueIdWindowTheIdStaysAndTheLoaderLineMustMatchExactly)
{
    std::memcpy(g_pid, "0123456789abcdef0123456789abcdef", 32);
    sim::SocModel::setAvailable(false);
    root.writeFile("/data/configs/led_load_config.ini", "[app-1]\napp_path=/data/app/kelM57N -platform linuxfb\n");
    factoryage_log.append("x");
    ASSERT_NE(ConfigEngine::pInstance(), nullptr);
    EXPECT_EQ(pid(), "0123456789abcdef0123456789abcdef");
    // Loader line matched, the log emptied, the address set, the settings written.
    EXPECT_EQ((std::vector<int>{g_update_status, int(factoryage_log.size()),
                                sim::Journal::hasShell("ifconfig eth0 192.168.0.199 netmask 255.255.255.0 up"),
                                root.exists("/data/configs/tcpip.ini")}),
              (std::vector<int>{1, 0, 1, 1}));
    // A longer text: the settings reader keeps a file whose size and time are unchanged, and
    // both writes can fall in one millisecond.
    root.writeFile("/data/configs/led_load_config.ini", "[app-1]\napp_path=/data/app/kelM57N -platform linuxfb -d\n");
    ConfigEngine::pInstance();
    EXPECT_EQ(g_update_status, 0);
}

TEST_F(Settings, DottedQuadCheck)
{
    EXPECT_TRUE(Utils::isDottedQuad("0.0.0.0") && Utils::isDottedQuad("255.255.255.255"));
    for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.4 ", "1.2.3.-4", "0001.2.3.4", ""})
        EXPECT_FALSE(Utils::isDottedQuad(bad)) << bad;
}

// Each row: the settings, whether eth0 is there, the bring-up from the settings or the reset
// to given addresses, its status and the shell commands it ran; the shared address global
// is left as it was where a row names it.
TEST_F(Settings, ShellCommandsOfTheBringUpAndTheReset)
{
    const std::string probe = "ifconfig eth0 >/dev/null 2>&1";
    const struct {
        const char* what;
        std::string ini;
        bool eth0, reset;
        int status;
        std::vector<std::string> commands;
        const char* ip;
    } cases[] = {
        // Addresses that are not dotted quads never reach the shell: only the fixed commands
        // run, around the skipped ones.
        {"not dotted quads", "[config]\nIPAddress=\"1.2.3.4; reboot\"\nGateWay=192.168.0.300\nSubNetMask=255.255.255.0\n", true, false, 0,
         {probe, "route del default wlan0", "route add -host 255.255.255.255 eth0", "route del 255.255.255.255 wlan1"}, nullptr},
        // The reset takes its arguments in gateway, mask order and leaves the globals alone.
        {"reset", "[config]\n", true, true, 0,
         {probe, "route del default wlan0", "ifconfig eth0 10.0.0.2 netmask 255.0.0.0", "route add -host 10.0.0.1 dev eth0",
          "route add default gw 10.0.0.1 metric 100", "route add -host 255.255.255.255 eth0", "route del 255.255.255.255 wlan1"},
         "192.168.0.199"},
        // Without eth0 nothing is configured and the globals stay.
        {"no eth0", "[config]\nIPAddress=10.9.8.7\n", false, false, 255, {probe}, "192.168.0.199"},
        {"no eth0, reset", "[config]\nIPAddress=10.9.8.7\n", false, true, 255, {probe}, "192.168.0.199"},
    };
    for (const auto& c : cases) {
        engineWith(c.ini);
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_ip = "192.168.0.199";
        }
        if (!c.eth0)
            sim::Journal::setShellStatus(probe, 256);
        const int status = c.reset ? Utils::init_resteth("10.0.0.2", "10.0.0.1", "255.0.0.0") : Utils::initIPAddress();
        EXPECT_EQ(std::make_tuple(status, sim::Journal::shellCommands(), c.ip ? g_str_ip : QString()),
                  std::make_tuple(c.status, c.commands, QString(c.ip ? c.ip : ""))) << c.what;
    }
}

// The port alone binds (an empty text held as unset, as the next start loads it: StoreWalk).
TEST_F(Settings, CloudFlagIsSetByAnyCloudSetting)
{
    engineWith("[config]\n");
    EXPECT_TRUE(ConfigEngine::p_config->write_config_variant(ConfigItem::uTorcloudserverport, 8080));
    EXPECT_EQ((std::vector<int64_t>{g_uTor_cloud, Utils::getIPAddress(), g_uTor_cloud, g_uTor_cloudserverport}), (std::vector<int64_t>{0, 0, 1, 8080}));
}

TEST_F(Settings, ATcpPortThatIsNoPortFallsBackToTheStandardOne)
{
    // No two files in a row of one length: the settings reader keeps a file whose size and
    // time are unchanged, and two writes can fall in one millisecond.
    for (const auto& [text, port] : std::vector<std::pair<std::string, int64_t>>{{"70000", 5005}, {"0", 5005}, {"10002", 5005}, {"-1", 5005}, {"port", 5005}, {"65535", 65535}}) {
        engineWith("[config]\nTcpPort=" + text + "\n");
        EXPECT_EQ((std::vector<int64_t>{g_port, g_int_tcp_port}), (std::vector<int64_t>{port, port})) << text;
    }
}
