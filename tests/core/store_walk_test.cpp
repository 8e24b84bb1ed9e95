// Every store the program makes, as one table: cut after each of its steps (write, flush,
// rename, move, copy, removal) and refused at each step (a full disc, a folder where its
// temporary file goes), then read back from the files alone and started again. A cut leaves
// the old or the new state; a refused store is answered as not stored, and what the PC or the
// panel was told is what the next start loads.
#include "board/sim/PowerCut.h"
#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/syncupdate.h"
#include "protocol/message_deal.h"
#include "scaler/c331_manage.h"
#include "tests/support/PcFrame.h"
#include "tests/support/TestRoot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using pc::Bytes;

const std::string kIni = "/data/configs/tcpip.ini", kLoader = "/data/configs/led_load_config.ini",
                  kPara = "/data/ram_device_info", kMode = "/data/modes/custom_mode10", kOverlay = "/data/modes/MO0a.json",
                  kIfaces = "/etc/network/interfaces";

// The settings file as a device of the field holds it (written by an earlier program).
const std::string kOldIni = "[config]\nTcpPort=5005\nUdpPort=5008\nIPAddress=192.168.0.199\nSubNetMask=255.255.255.0\n"
                            "GateWay=192.168.0.1\nMAC=FF:FF:FF:FF:FF:FF\nBarcode=\" \"\nWifiIPAddress=192.168.22.101\n"
                            "EDIDCheck=Once\nSourceCheck=255\nImageLayoutPassword=No\nuTorcloudserverip=\" \"\n"
                            "uTorcloudserverport=\" \"\nuTorclouduserip=\" \"\nuTorcloudcontrollername=\" \"\n"
                            "KelMaxPixel_UINT=6553600\nusbupgradedir=KEL-W46\nKelLCDLang=65567\n";

// A value of the file's text, read without QSettings: "" when the key is not there.
std::string iniValue(const std::string& text, const std::string& key)
{
    const size_t at = ("\n" + text).find("\n" + key + "=");
    return at == std::string::npos ? "" : text.substr(at + key.size() + 1, text.find('\n', at) - at - key.size() - 1);
}

// 1 when every key has its new value, 0 when every key has its old one, else -1.
int classify(const std::string& text, const std::vector<std::tuple<std::string, std::string, std::string>>& keys)
{
    int olds = 0, news = 0;
    for (const auto& [key, before, after] : keys)
        olds += iniValue(text, key) == before, news += iniValue(text, key) == after;
    return news == int(keys.size()) ? 1 : olds == int(keys.size()) ? 0 : -1;
}

struct Store {
    const char* name;
    std::function<void()> before;          // a start with the old state stored
    std::function<int()> store;            // told "stored" 1, "not stored" 0, nothing told -1
    std::function<int()> stored;           // from the files alone: 0 old, 1 new, -1 neither
    std::function<bool(int)> restart;      // the next start loads that state, without error
    std::vector<std::string> temps;        // where its temporary files go
    std::function<bool()> retry = nullptr; // a refused change is kept and this stores it
};

class StoreWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!c331_manage::p_c331_manage)
            c331_manage::p_c331_manage = new c331_manage();
        g_lcd_lang_valid = 0x1F;
        g_update_status = 0;
        g_port = 5005;
    }
    void TearDown() override
    {
        drop();
        c331_manage::p_c331_manage->c331_apply_flag = 0;
    }
    static void drop()
    {
        delete ConfigEngine::p_config;
        delete KelRamPara::p_kelrampara_config;
        KelRamPara::p_kelrampara_config = nullptr;
    }
    // A start: the settings, then the parameter block, as main does.
    static void start()
    {
        drop();
        c331_manage::p_c331_manage->c331_apply_flag = 0;
        ConfigEngine::pInstance();
        KelRamPara::pInstance();
    }
    static QString setting(ConfigItem::ConfigName n) { return ConfigEngine::p_config->read_config_variant(n).toString(); }
    std::string file(const std::string& path) const { return root.exists(path) ? root.readFile(path) : ""; }
    void put(const std::string& path, const std::string& text) const
    {
        text.empty() ? void(fs::remove(root.host(path))) : root.writeFile(path, text);
    }
    // The reply's bytes from [10] on.
    Bytes deal(uint8_t group, const Bytes& data)
    {
        pc::Frame f;
        f.group = group;
        f.data = data;
        Bytes plain = pc::encode(f);
        plain.resize(message_deal::FRAME_BUF_SIZE, 0);
        message_deal md{message_deal::REPLY_LIMIT_UDP};
        const int n = md.message_group_deal(plain.data(), unsigned(pc::encode(f).size() - 1), 5);
        return Bytes(plain.begin() + 10, plain.begin() + 10 + std::max(n, 0));
    }
    kel_test::TestRoot root;
};

std::string image(int language, int brightness)
{
    std::string s(reinterpret_cast<const char*>(default_para_ramlist), 4096);
    s[2] = char(language);
    s[2 + KelRamPara::kBrightness - 768] = char(brightness);
    return s;
}

} // namespace

TEST_F(StoreWalk, EveryStoreIsOldOrNewThroughACutAndAnsweredAsTheNextStartLoadsThroughARefusal)
{
    const std::string oldMode = std::string("\xAA\xAA", 2) + std::string(4094, char(0x11));
    const std::string newMode = std::string("\xAA\xAA", 2) + std::string(4094, char(0x33));
    const std::string overlay = "{\"osd\":1}";
    const auto para = [] { return KelRamPara::p_kelrampara_config; };
    const auto address = [](const std::string& t) {
        return classify(t, {{"IPAddress", "192.168.0.199", "10.1.2.3"}, {"SubNetMask", "255.255.255.0", "255.255.0.0"},
                            {"GateWay", "192.168.0.1", "10.1.0.1"}, {"TcpPort", "5005", "5005"}});
    };
    const auto cloud = [](const std::string& t) {
        return classify(t, {{"uTorcloudserverip", "\" \"", "cloud.example"}, {"uTorcloudserverport", "\" \"", "8443"},
                            {"uTorclouduserip", "\" \"", "u7"}, {"uTorcloudcontrollername", "\" \"", "hall"}});
    };
    // The cloud binding frame with a zero key: server, port, user, controller name.
    Bytes binding(50, 0);
    binding[0] = 11;
    for (const uint8_t b : Bytes{0, 0, 13, 'c', 'l', 'o', 'u', 'd', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0xFB, 0x20, 2, 'u', '7', 4, 'h', 'a', 'l', 'l'})
        binding.push_back(b);
    const std::vector<Store> stores = {
        {"settings: first start", [&] { put(kIni, ""), drop(); }, [&] { return start(), -1; },
         [&] { return file(kIni).empty() ? 0 : file(kIni) == kOldIni ? 1 : -1; },
         [&](int) { return start(), setting(ConfigItem::KelLCDLang) == "65567" && setting(ConfigItem::Barcode) == " " && !file(kIni).empty(); },
         {kIni + ".tmp"}},
        {"settings: PC address", [&] { put(kIni, kOldIni), start(); },
         [&] { return deal(0xA4, {1, 0, 0, 0, 10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0x8D, 0x13}) == Bytes{0}; },
         [&] { return address(file(kIni)); },
         [&](int now) { return start(), setting(ConfigItem::IPAddress) == (now ? "10.1.2.3" : "192.168.0.199") && g_str_ip == setting(ConfigItem::IPAddress); },
         {kIni + ".tmp"}},
        {"settings: barcode", [&] { put(kIni, kOldIni), start(); },
         [&] { return deal(0xA2, {0x1E, 7, 0, 'K', 'B', '1', '2', '3'}) == Bytes{0, 30}; },
         [&] { return classify(file(kIni), {{"Barcode", "\" \"", "KB123"}}); },
         [&](int now) { return start(), setting(ConfigItem::Barcode) == (now ? "KB123" : " "); }, {kIni + ".tmp"}},
        {"settings: cloud binding", [&] { put(kIni, kOldIni), start(); }, [&] { return deal(0xC3, binding) == Bytes{0, 11, 0}; },
         [&] { return cloud(file(kIni)); },
         [&](int now) { return start(), setting(ConfigItem::uTorcloudserverip) == (now ? "cloud.example" : " ") && setting(ConfigItem::uTorclouduserip) == (now ? "u7" : " "); },
         {kIni + ".tmp"}},
        {"settings: LCD languages", [&] { put(kIni, kOldIni), start(), g_lcd_lang_valid = 0x1001F; },
         [&] { return deal(0xA2, {0x20, 36, 0, 0xAA, 0x55, 1, 0x07, 0}) == Bytes{0, 32}; },
         [&] { return classify(file(kIni), {{"KelLCDLang", "65567", "65543"}}); },
         [&](int now) { return start(), g_lcd_lang_valid == (now ? 0x10007 : 0x1001F); }, {kIni + ".tmp"}},
        {"interface file: PC MAC", [&] { put(kIfaces, "#old\n"), start(); },
         [&] { return deal(0xA4, {0, 0, 0, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}) == Bytes{0, 0}; },
         [&] { return file(kIfaces) == "#old\n" ? 0 : file(kIfaces).find("hwaddress ether 02:1a:2b:3c:4d:5e\n") != std::string::npos ? 1 : -1; },
         [&](int now) { return (file(kIfaces) == "#old\n") == (now == 0); }, {kIfaces + ".tmp"}},
        {"loader settings: application upgrade", [&] { put(kLoader, "[app-1]\napp_path=/data/app/old\n\n[app-2]\napp_path=/data/app/other\n"), start(); },
         [&] { return g_app_reset_flag = 0, message_deal().RegUpdate0E(0, 1), g_app_reset_flag = 0, -1; },
         [&] { return classify(file(kLoader), {{"app_path", "/data/app/old", "/data/app/kelM57N -platform linuxfb"}}) + (file(kLoader).find("/data/app/other") == std::string::npos ? -9 : 0); },
         [&](int now) { return g_update_status = 0, start(), g_update_status == now; }, {}},
        {"parameter block: first start", [&] { put(kPara, ""), drop(); }, [&] { return start(), -1; },
         [&] { return file(kPara).empty() ? 0 : file(kPara) == image(0, 100) ? 1 : -1; },
         [&](int) { return start(), para()->ram[KelRamPara::kBrightness] == 100 && file(kPara) == image(0, 100); }, {kPara + ".tmp"}},
        {"parameter block: language only", [&] { put(kPara, image(0, 100)), start(), para()->ram[KelRamPara::kLanguage] = 2; },
         [&] { return para()->ram_para_file_save() == 1; },
         [&] { return file(kPara) == image(0, 100) ? 0 : file(kPara).size() == 4096 && file(kPara).substr(0, 3) == "\xAA\xAA\x02" ? 1 : -1; },
         [&](int now) { return start(), para()->ram[KelRamPara::kLanguage] == 2 * now; }, {kPara + ".tmp"},
         [&] { return para()->ram_para_file_save() == 1; }},
        {"parameter block: factory reset", [&] { put(kPara, image(0, 77)), start(); }, [&] { return para()->ram_para_reset() == 0; },
         [&] { return file(kPara) == image(0, 77) ? 0 : file(kPara) == image(0, 100) ? 1 : -1; },
         [&](int now) { return start(), para()->ram[KelRamPara::kBrightness] == (now ? 100 : 77); }, {kPara + ".tmp"},
         [&] { return para()->ram_para_file_save() == 1; }},
        {"user mode: panel save with its overlay", [&] {
             put(kMode, oldMode), put(kOverlay, ""), put("/data/configs/omenu.json", overlay), start();
             std::memset(para()->ram + KelRamPara::kModeArea, 0x33, KelRamPara::kModeAreaLength);
             KelRamPara::put16(para()->ram + KelRamPara::kOsdOn, 1);
             KelRamPara::put16(para()->ram + KelRamPara::kModeSaveRequest, 10);
         },
         [&] { return SyncUpdate::pInstance()->para_sync(1), para()->KelUserModeSaved(9) && para()->mode_slot[9][2] == 0x33; },
         [&] { return file(kMode) == oldMode ? 0 : file(kMode).substr(0, 1000) == newMode.substr(0, 1000) && file(kOverlay) == overlay ? 1 : -1; },
         [&](int now) { return start(), para()->KelUserModeSaved(9) && para()->mode_slot[9][2] == (now ? 0x33 : 0x11); },
         {kMode + ".tmp", kOverlay + ".tmp"}},
        {"user mode: delete", [&] {
             put(kMode, oldMode.substr(0, 1230) + std::string("\x01\0", 2) + oldMode.substr(1232)), put(kOverlay, overlay), start();
         },
         [&] { return para()->mode_file_deal(9, 1) == 0 && !para()->KelUserModeSaved(9); },
         [&] { return int(file(kMode).empty()); },
         [&](int now) { return start(), para()->KelUserModeSaved(9) == !now; }, {}},
    };
    for (const Store& row : stores) {
        uint64_t steps = 0;
        const auto attempt = [&](const std::function<void()>& arm) {
            row.before();
            sim::PowerCut::restore();
            arm();
            const int told = row.store();
            steps = sim::PowerCut::steps();
            sim::PowerCut::restore();
            return told;
        };
        ASSERT_NE(attempt([] {}), 0) << row.name;
        const uint64_t all = steps;
        std::printf("store walk: %s, %llu steps\n", row.name, static_cast<unsigned long long>(all));
        EXPECT_EQ((std::vector<int>{row.stored(), row.restart(1)}), (std::vector<int>{1, 1})) << row.name;
        EXPECT_GE(all, 1u) << row.name;
        for (uint64_t n = 0; n < all; ++n) {
            attempt([n] { sim::PowerCut::after(n); });
            const int now = row.stored();
            EXPECT_TRUE(now == 0 || now == 1) << row.name << ": cut after step " << n;
            EXPECT_TRUE(row.restart(now)) << row.name << ": start after a cut after step " << n;
            const int told = attempt([n] { sim::PowerCut::failAfter(n, ENOSPC); });
            EXPECT_TRUE(told < 0 || row.stored() == told) << row.name << ": disc full at step " << n;
            if (told == 0 && row.retry) {
                EXPECT_TRUE(row.retry() && row.stored() == 1) << row.name << ": retried after step " << n;
            }
            EXPECT_TRUE(row.restart(row.stored())) << row.name << ": start after a refusal at step " << n;
        }
        for (const std::string& temp : row.temps) {
            const int told = attempt([&] { fs::create_directories(root.host(temp) + "/x"); });
            fs::remove_all(root.host(temp));
            EXPECT_EQ((std::vector<int>{told < 0 ? 0 : told, row.stored()}), (std::vector<int>{0, 0})) << row.name << ": a folder at " << temp;
            EXPECT_TRUE(row.restart(0)) << row.name << ": start after a folder at " << temp;
        }
    }
}
