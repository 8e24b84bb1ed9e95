// Every store the program makes, as one table: cut after each of its steps (write, flush,
// rename, move, copy, removal) and refused at each step (a full disc, a folder where its
// temporary file goes), read back from the files alone and started again. A cut leaves the
// old or the new state; what the PC or the panel was told is what the next start loads.
// The room left on the disc, block by block, is the store sweep's.
#include "board/Files.h"
#include "board/sim/PowerCut.h"
#include "board/sim/Sim.h"
#include "core/alias.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/ini_text.h"
#include "core/kel_file_deal.h"
#include "core/kelrampara.h"
#include "cloud/message_deal_4g.h"
#include "fpga/fpga_manage.h"
#include "gui/input/custommode.h"
#include "gui/mainwindow.h"
#include "gui/syncupdate.h"
#include "protocol/message_deal.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "tests/core/store_fixture.h"
#include "tests/protocol/file_frames.h"
#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"
#include "tests/support/PcFrame.h"
#include "tests/support/PropertyCheck.h"
#include "tests/support/TestRoot.h"

#include <QDebug>
#include <QPoint>
#include <QPushButton>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

// How RapidCheck shows a failing case's texts and values.
void showValue(const QVariant& v, std::ostream& os) { QString t; QDebug(&t) << v; os << t.toStdString(); }
void showValue(const QString& s, std::ostream& os) { showValue(QVariant(s), os); }
void showValue(const QMap<QString, QVariant>& m, std::ostream& os) { showValue(QVariant(QVariantMap(m)), os); }

namespace {

namespace fs = std::filesystem;
using pc::Bytes;
using P = KelRamPara;

const std::string kIni = "/data/configs/tcpip.ini", kLoader = "/data/configs/led_load_config.ini", kPara = "/data/ram_device_info",
                  kMode = "/data/modes/custom_mode10", kOverlay = "/data/modes/MO0a.json", kIfaces = "/etc/network/interfaces";
// The settings file with every default, as the program has always written it.
const std::string kDefaults = "[config]\nTcpPort=5005\nUdpPort=5008\nIPAddress=192.168.0.199\nSubNetMask=255.255.255.0\n"
                              "GateWay=192.168.0.1\nMAC=FF:FF:FF:FF:FF:FF\nBarcode=\" \"\nWifiIPAddress=192.168.22.101\n"
                              "EDIDCheck=Once\nSourceCheck=255\nImageLayoutPassword=No\nuTorcloudserverip=\" \"\n"
                              "uTorcloudserverport=\" \"\nuTorclouduserip=\" \"\nuTorcloudcontrollername=\" \"\n"
                              "KelMaxPixel_UINT=6553600\nusbupgradedir=KEL-W46\nKelLCDLang=65567\n";

// 1 when the text holds every "key=new" line, 0 when every "key=old" line, else -1.
int lines(const std::string& text, const std::vector<std::array<std::string, 3>>& keys)
{
    size_t olds = 0, news = 0;
    for (const auto& [key, before, after] : keys)
        olds += ("\n" + text).find("\n" + key + "=" + before + "\n") != std::string::npos,
            news += ("\n" + text).find("\n" + key + "=" + after + "\n") != std::string::npos;
    return news == keys.size() ? 1 : olds == keys.size() ? 0 : -1;
}

std::string image(int language, int brightness)
{
    std::string s(reinterpret_cast<const char*>(default_para_ramlist), 4096);
    s[2] = char(language), s[2 + P::kBrightness - 768] = char(brightness);
    return s;
}

struct Store {
    const char* name;
    std::function<void()> before;          // a start with the old state stored
    std::function<int()> store;            // told "stored" 1, "not stored" 0, nothing told -1
    std::function<int()> stored;           // from the files alone: 0 old, 1 new, -1 neither
    std::function<bool(int)> restart;      // the next start loads that state, without error
    std::vector<std::string> paths;        // its files (a temporary's name: its target's and .tmp, .edit)
    std::function<bool()> retry = nullptr; // a refused change is kept and this stores it
    bool erasedBetween = false;            // erased in place, then programmed: "none" (2) between
    std::string keeps = "";                // a settings file whose other entries stay as they were
    QStringList sets = {};                 // the keys of that file the store sets
    std::function<bool(const std::string&)> loadsNone = nullptr;   // a start with this target damaged loads none of it
};

// A flash block as read back: 1 the new one, 0 the old one, 2 none (not marked), -1 anything else.
int flashBlock(uint32_t address, const Bytes& before, const Bytes& after)
{
    const Bytes now = sim::FpgaFlashModel::read(0, address, uint32_t(std::max(before.size(), after.size())));
    const auto starts = [&](const Bytes& b) { return std::equal(b.begin(), b.end(), now.begin()); };
    return starts(after) ? 1 : starts(before) ? 0 : now[0] == 0xFF ? 2 : -1;
}

using Entries = QMap<QString, QVariant>;
// Text with every character QSettings escapes; a key's text ends in 'k', so it names none of
// the program's keys.
rc::Gen<QString> text(bool key)
{
    return rc::gen::map(rc::gen::container<std::vector<ushort>>(rc::gen::weightedOneOf<ushort>({
                            {6, rc::gen::inRange<ushort>('a', 'z' + 1)}, {2, rc::gen::element<ushort>(' ', '@', ',', ';', '=', '"', '%', '.', '-', '0', 'f', '[', '#')},
                            {1, rc::gen::inRange<ushort>(0, 0x20)}, {1, rc::gen::inRange<ushort>(0x7F, 0xD800)}, {key ? 0 : 1, rc::gen::element<ushort>('\\', '/')}})),
                        [key](std::vector<ushort> u) { return QString::fromUtf16(u.data(), int(u.size())) + (key ? "k" : ""); });
}
// A value of every type QSettings writes.
rc::Gen<QVariant> value()
{
    using namespace rc::gen;
    const auto n = [] { return inRange(-70000, 70000); };
    return weightedOneOf<QVariant>({
        {4, map(text(false), [](QString t) { return QVariant(t); })},
        {1, element(QVariant(QString("@Invalid()")), QVariant(QString("@ByteArray(x)")), QVariant(QString(" ")), QVariant(QString()))},
        {3, map(weightedOneOf<std::vector<QString>>({{1, just(std::vector<QString>())}, {3, container<std::vector<QString>>(text(false))}}),
                [](std::vector<QString> l) { return QVariant(QStringList(l.begin(), l.end())); })},
        {1, map(arbitrary<int>(), [](int i) { return QVariant(i); })},
        {3, map(container<std::string>(arbitrary<char>()), [](std::string b) { return QVariant(QByteArray(b.data(), int(b.size()))); })},
        {3, map(tuple(n(), n(), n(), n(), inRange(0, 3)), [](std::tuple<int, int, int, int, int> r) {
             const auto [x, y, w, h, type] = r;
             return type == 0 ? QVariant(QRect(x, y, w, h)) : type == 1 ? QVariant(QSize(x, y)) : QVariant(QPoint(x, y));
         })},
        {1, map(container<std::vector<QString>>(text(true)), [](std::vector<QString> keys) {
             QVariantMap m;
             for (const QString& k : keys)
                 m.insert(k, k.size() % 2 ? QVariant(k) : QVariant(k.toUtf8()));
             return QVariant(m);
         })},
    });
}
// Keys and groups the program does not know, in its own groups too and in "general" of any case.
rc::Gen<Entries> unknownEntries()
{
    const auto group = rc::gen::weightedOneOf<QString>({{3, rc::gen::element(QString(), QString("config"), QString("app-1"), QString("General"),
                                                                             QString("general"), QString("GENERAL"), QString("gEnErAl"))},
                                                        {1, text(true)}});
    return rc::gen::map(rc::gen::container<std::vector<std::tuple<QString, QString, QVariant>>>(rc::gen::tuple(group, text(true), value())),
                        [](const std::vector<std::tuple<QString, QString, QVariant>>& drawn) {
                            Entries out;
                            for (const auto& [g, k, v] : drawn)
                                out.insert(g.isEmpty() ? k : g + "/" + k, v);
                            return out;
                        });
}

// Puts a named pipe, a socket or a device node (a character device with the numbers of
// /dev/null) at the host path: true when it is there.
bool makeSpecial(const std::string& kind, const std::string& host)
{
    if (kind != "socket")
        return kind == "named pipe" ? ::mkfifo(host.c_str(), 0644) == 0 : ::mknod(host.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
    // The path may be longer than a socket address holds: bound through its folder's descriptor.
    const int dir = ::open(fs::path(host).parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC), s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s", dir, fs::path(host).filename().c_str());
    const bool bound = dir >= 0 && s >= 0 && ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(s), ::close(dir);
    return bound && fs::is_socket(host);
}

class StoreWalk : public StoreFixture {
protected:
    using StoreFixture::put;
    // Every entry of a settings file as QSettings reads it, read afresh.
    Entries fresh(const std::string& path) const
    {
        static int reads = 0;
        const std::string copy = "/check/" + std::to_string(++reads) + ".ini";
        root.writeFile(copy, file(path));
        const QSettings read(QString::fromStdString(root.host(copy)), QSettings::IniFormat);
        Entries out;
        for (const QString& key : read.allKeys())
            out.insert(key, read.value(key));
        return out;
    }
    // The known text with these entries added by QSettings, as the file. QSettings writes a
    // group "general" of any case as [%General]: such a group is written as [%general].
    void put(const std::string& path, const std::string& known, const Entries& others)
    {
        static int writes = 0;
        const std::string source = "/check/w" + std::to_string(++writes) + ".ini";
        root.writeFile(source, known);
        QStringList generals;
        {
            QSettings write(QString::fromStdString(root.host(source)), QSettings::IniFormat);
            for (auto it = others.begin(); it != others.end(); ++it) {
                QString group = it.key().section('/', 0, 0), key = it.key();
                if (key.contains('/') && group != "General" && group.compare("general", Qt::CaseInsensitive) == 0) {
                    generals.removeAll(group), generals << group;
                    key = QString("aside%1/").arg(generals.indexOf(group)) + key.section('/', 1);
                }
                write.setValue(key, it.value());
            }
        }
        std::string text = root.readFile(source);
        for (int i = 0; i < generals.size(); ++i) {
            const std::string header = "[aside" + std::to_string(i) + "]";
            text.replace(text.find(header), header.size(), "[%" + generals[i].toStdString() + "]");
        }
        put(path, text);
        kept[path] = fresh(path);
    }
    // Keys and groups the program does not know, drawn from the walk's seed; small or large.
    // A draw of sixty entries costs more than the store it goes with: each size is drawn 16
    // times a run and handed out in turn.
    Entries others(bool large)
    {
        static const std::array<std::vector<Entries>, 2> drawn = [] {
            const char* params = std::getenv("RC_PARAMS");
            const uint64_t seed = params && std::string(params).find("seed=") != std::string::npos ? rc::detail::configuration().testParams.seed
                                                                                                  : kel_test::drawnPropertySeed();
            std::printf("store walk: unknown keys drawn from seed %llu (RC_PARAMS=\"seed=N\" replays)\n", static_cast<unsigned long long>(seed));
            rc::Random random({seed, 0, 0, 0});
            std::array<std::vector<Entries>, 2> out;
            for (int n = 0; n < 32; ++n) {
                rc::Random draw = random.split();
                out[n % 2].push_back(unknownEntries()(draw, n % 2 ? 60 : 4).value());
            }
            return out;
        }();
        static std::array<size_t, 2> next = {};
        return drawn[large][next[large]++ % drawn[large].size()];
    }
    // Every entry of the file but the keys the store sets reads back as it was put.
    bool keepsOthers(const Store& row)
    {
        if (row.keeps.empty())
            return true;
        Entries before = kept.at(row.keeps), now = fresh(row.keeps);
        for (const QString& key : row.sets)
            before.remove(key), now.remove(key);
        return before == now;
    }
    std::map<std::string, Entries> kept;
    // What a start loads and what the PC's reads of the stored files are answered.
    std::string finds()
    {
        start();
        std::string seen = std::string(reinterpret_cast<const char*>(para()->ram), P::kRamSize) + char(md.p_message_deal_4g->get_4G_property()) + char(g_update_status);
        for (int n = 0; n < std::max<int>(P::kModeSlots, ConfigItem::ConfigNameCount); ++n)
            seen += char(para()->KelUserModeSaved(n)) + setting(ConfigItem::ConfigName(n % ConfigItem::ConfigNameCount)).toStdString() + "\n";
        for (const auto& [group, request] : std::vector<std::pair<uint8_t, Bytes>>{{0xC0, fileframes::named(4, "MO0a", 0, 0, false)}, {0xC0, {6, 0, 0}},
                 {0xC0, fileframes::named(4, "ALIS", 0, 0, false)}, {0xC0, {6, 0, 0}}, {0xC8, {'F', '0', '0', '4'}}, {0xCB, {102, 0}}})
            seen += pc::hex(deal(group, request));
        ALIAS_PARA name;
        return seen + std::string(reinterpret_cast<const char*>(g_4G_property), 8) + char(get_json_alias_para(&name, "n", 1));
    }
};

} // namespace

TEST_F(StoreWalk, EveryStoreIsOldOrNewThroughACutAndAnsweredAsTheNextStartLoadsThroughARefusal)
{
    const std::string oldMode = "\xAA\xAA" + std::string(4094, char(0x11)), overlay = "{\"osd\":1}";
    Bytes binding(50, 0);                  // the cloud binding with a zero key: server, port, user, name
    binding[0] = 11;
    for (const uint8_t b : Bytes{0, 0, 13, 'c', 'l', 'o', 'u', 'd', '.', 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0xFB, 0x20, 2, 'u', '7', 4, 'h', 'a', 'l', 'l'})
        binding.push_back(b);
    Bytes cleared(50, 0);                  // the binding with empty texts and port 0
    cleared[0] = 11, cleared.resize(57, 0);
    // The settings files hold keys and groups the program does not know, drawn large for a
    // store that is cut and small for the store after it (a shorter file than the cut left).
    bool large = true;
    const auto settings = [&] { put(kIni, kDefaults, others(large)), start(); };
    put("/check/defaults.ini", kDefaults);
    const Entries defaults = fresh("/check/defaults.ini");
    const auto defaultsStored = [&] {
        const Entries now = fresh(kIni);
        return std::all_of(defaults.keyBegin(), defaults.keyEnd(), [&](const QString& key) { return now.value(key) == defaults.value(key); });
    };
    const auto cloud = [] { return std::make_tuple(g_uTor_cloudserverip, g_uTor_clouduserid, g_uTor_controllername, int(g_uTor_cloudserverport), int(g_uTor_cloud)); };
    const QStringList binds = {"config/uTorcloudserverip", "config/uTorcloudserverport", "config/uTorclouduserip", "config/uTorcloudcontrollername"};
    std::vector<Store> stores = {
        // A settings file with a key of empty text and the others missing: every default is stored.
        {"settings: first start", [&] { put(kIni, "[config]\nTcpPort=\n", others(large)), drop(); }, [&] { return start(), -1; },
         [&] { return fresh(kIni).value("config/TcpPort") == "" && !fresh(kIni).contains("config/UdpPort") ? 0 : defaultsStored() ? 1 : -1; },
         [&](int) { return start(), setting(ConfigItem::TcpPort) == "5005" && defaultsStored(); }, {kIni + ".edit.lock", kIni + ".edit.tmp"}, nullptr, false, kIni, defaults.keys()},
        {"settings: PC address", settings, [&] { return deal(0xA4, {1, 0, 0, 0, 10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0x8D, 0x13}) == Bytes{0}; },
         [&] { return lines(file(kIni), {{{"IPAddress", "192.168.0.199", "10.1.2.3"}}, {{"SubNetMask", "255.255.255.0", "255.255.0.0"}}, {{"GateWay", "192.168.0.1", "10.1.0.1"}}}); },
         [&](int now) { return start(), setting(ConfigItem::IPAddress) == (now ? "10.1.2.3" : "192.168.0.199") && g_str_ip == setting(ConfigItem::IPAddress); },
         {kIni + ".edit.lock", kIni + ".edit.tmp", kIni + ".edit"}, nullptr, false, kIni, {"config/IPAddress", "config/SubNetMask", "config/GateWay", "config/TcpPort"}},
        {"settings: barcode", settings, [&] { return deal(0xA2, {0x1E, 7, 0, 'K', 'B', '1', '2', '3'}) == Bytes{0, 30}; },
         [&] { return lines(file(kIni), {{{"Barcode", "\" \"", "KB123"}}}); },
         [&](int now) { return start(), setting(ConfigItem::Barcode) == (now ? "KB123" : " "); }, {kIni + ".edit.lock", kIni + ".edit.tmp"}, nullptr, false, kIni, {"config/Barcode"}},
        {"settings: cloud binding", settings, [&] { return deal(0xC3, binding) == Bytes{0, 11, 0}; },
         [&] { return lines(file(kIni), {{{"uTorcloudserverip", "\" \"", "cloud.example"}}, {{"uTorcloudserverport", "\" \"", "8443"}}, {{"uTorcloudcontrollername", "\" \"", "hall"}}}); },
         [&](int now) { return start(), setting(ConfigItem::uTorclouduserip) == (now ? "u7" : " "); }, {kIni + ".edit.lock", kIni + ".edit.tmp"}, nullptr, false, kIni, binds},
        // Cleared: the device holds what the next start loads, the binding unset.
        {"settings: cloud binding cleared", [&] { settings(), deal(0xC3, binding); }, [&] { return deal(0xC3, cleared) == Bytes{0, 11, 0}; },
         [&] { return lines(file(kIni), {{{"uTorcloudserverip", "cloud.example", "\" \""}}, {{"uTorcloudserverport", "8443", "0"}}, {{"uTorclouduserip", "u7", "\" \""}}}); },
         [&](int now) { const auto held = cloud(); return start(), cloud() == held && g_uTor_cloud == 1 - now; }, {kIni + ".edit.lock", kIni + ".edit.tmp"}, nullptr, false, kIni, binds},
        {"settings: LCD languages", [&] { settings(), g_lcd_lang_valid = 0x1001F; }, [&] { return deal(0xA2, {0x20, 36, 0, 0xAA, 0x55, 2, 0x1F, 0}) == Bytes{0, 32}; },
         [&] { return lines(file(kIni), {{{"KelLCDLang", "65567", "131102"}}}); },
         [&](int now) { return start(), g_lcd_lang_valid == (now ? 0x2001E : 0x1001F); }, {kIni + ".edit.lock", kIni + ".edit.tmp"}, nullptr, false, kIni, {"config/KelLCDLang"}},
        {"interface file: PC MAC", [&] { put(kIfaces, "#old\n"), start(); }, [&] { return deal(0xA4, {0, 0, 0, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}) == Bytes{0, 0}; },
         [&] { return file(kIfaces) == "#old\n" ? 0 : file(kIfaces).find("\nhwaddress ether 02:1a:2b:3c:4d:5e\n") != std::string::npos ? 1 : -1; },
         [&](int now) { return (file(kIfaces) == "#old\n") == (now == 0); }, {kIfaces + ".tmp"}},
        // The register write that ends an application upgrade answers status 1 when the image or
        // the loader's settings could not be stored; each file is old or new on its own.
        {"application image and loader settings: upgrade end", [&] {
             put(kLoader, "[app-1]\napp_path=/data/app/old\n\n[app-2]\nkeep=1\n", others(large)), put("/data/app/kelM57N", "old"), put("/data/app/kelM57N2", "new"), start();
             g_kel_file_deal_para.app_image_ready = true;
         },
         [&] { g_app_reset_flag = 0; const int status = message_deal().RegUpdate0E(0, 1); return g_app_reset_flag = 0, 1 - status; },
         [&] {
             const bool image = file("/data/app/kelM57N") == "new" ? file("/data/app/kelM57N2").empty() : file("/data/app/kelM57N") == "old";
             return !image ? -1 : lines(file(kLoader), {{{"app_path", "/data/app/old", "/data/app/kelM57N -platform linuxfb"}}});
         },
         [&](int now) { return g_update_status = 0, start(), g_update_status == now; }, {kLoader + ".edit.lock", kLoader + ".edit.tmp", "/data/app/kelM57N"}, nullptr, false, kLoader,
         {"app-1/app_path", "app-1/app_name"}},
        {"parameter block: first start", [&] { put(kPara, ""), drop(); }, [&] { return start(), -1; },
         [&] { return file(kPara).empty() ? 0 : file(kPara) == image(0, 100) ? 1 : -1; },
         [&](int) { return start(), para()->ram[P::kBrightness] == 100 && file(kPara) == image(0, 100); }, {kPara + ".tmp"}},
        {"parameter block: language only", [&] { put(kPara, image(0, 100)), start(), para()->ram[P::kLanguage] = 2; },
         [&] { return para()->ram_para_file_save() == 1; },
         [&] { return file(kPara) == image(0, 100) ? 0 : file(kPara).size() == 4096 && file(kPara).substr(0, 3) == "\xAA\xAA\x02" ? 1 : -1; },
         [&](int now) { return start(), para()->ram[P::kLanguage] == 2 * now; }, {kPara + ".tmp"}, [&] { return para()->ram_para_file_save() == 1; }},
        {"parameter block: factory reset", [&] { put(kPara, image(0, 77)), start(); }, [&] { return para()->ram_para_reset() == 0; },
         [&] { return file(kPara) == image(0, 77) ? 0 : file(kPara) == image(0, 100) ? 1 : -1; },
         [&](int now) { return start(), para()->ram[P::kBrightness] == (now ? 100 : 77); }, {kPara + ".tmp"},
         [&] { return para()->ram_para_file_save() == 1; }},
        {"user mode: panel save with its overlay", [&] {
             put(kMode, oldMode), put(kOverlay, ""), put("/data/configs/omenu.json", overlay), start();
             std::memset(para()->ram + P::kModeArea, 0x33, P::kModeAreaLength);
             P::put16(para()->ram + P::kOsdOn, 1), P::put16(para()->ram + P::kModeSaveRequest, 10);
         },
         [&] { return SyncUpdate::pInstance()->para_sync(1), P::wait_mode_files(), para()->KelUserModeSaved(9) && para()->mode_slot[9][2] == 0x33; },
         [&] { return file(kMode) == oldMode ? 0 : file(kMode).substr(0, 3) == "\xAA\xAA\x33" && file(kOverlay) == overlay ? 1 : -1; },
         [&](int now) { return start(), para()->KelUserModeSaved(9) && para()->mode_slot[9][2] == (now ? 0x33 : 0x11); },
         {kMode + ".tmp", kOverlay + ".tmp"}},
        // A mode whose own overlay word is on: its overlay copy goes with it.
        {"user mode: delete", [&] { put(kMode, oldMode.substr(0, 1230) + std::string("\x01\0", 2) + oldMode.substr(1232)), put(kOverlay, overlay), start(); },
         [&] { return para()->mode_file_deal(9, 1) == 0 && !para()->KelUserModeSaved(9); },
         [&] { return int(file(kMode).empty()); }, [&](int now) { return start(), para()->KelUserModeSaved(9) == !now; }, {}},
        {"user modes: the PC's reset (register 16 bit 0)", [&] { put(kMode, oldMode), start(); }, [&] { return md.later = nullptr, 1 - reg(md, 16, 0x01); },
         [&] { return int(file(kMode).empty()); }, [&](int now) { return start(), para()->KelUserModeSaved(9) == !now; }, {}},
    };
    // A brightness table block three pages long, and the FPGA's parameter image behind its mark.
    Bytes oldBlock = {0xAA, 3, 0xAA, 0, 0, 0, 0x31, 0, 1}, newBlock = {0xAA, 3, 0xAA, 0, 0, 0, 0x58, 2, 1}, oldImage(1025, 0x11), newImage(1025, 0x5C);
    oldBlock.resize(57, 40), newBlock.resize(8 + 600, 90), oldImage[0] = newImage[0] = 0xAA;
    const auto sector = [](uint32_t address, Bytes b) { b.resize(4096, 0xFF), sim::FpgaFlashModel::write(0, address, b); };
    stores.push_back({"flash: brightness block from the mailbox", [&] { fpga(), sector(0x30F000, oldBlock); },
                      [&] { return std::memcpy(fpga_manage::MCU_RAM_CMD, newBlock.data(), newBlock.size()), fpga()->Dealwith_mcu_ram(), -1; },
                      [&] { return flashBlock(0x30F000, oldBlock, newBlock); }, [](int now) { return now >= 0; }, {}, nullptr, true});
    stores.push_back({"flash: FPGA parameter image (PC 0x81)", [&] { fpga(), sector(0x308000, oldImage), std::memset(fpga_manage::MCU_RAM_PARA_func[0], 0x5C, 1024); },
                      [&] { return deal(0x81, {}) == Bytes{0}; }, [&] { return flashBlock(0x308000, oldImage, newImage); },
                      [](int now) { return now >= 0; }, {}, nullptr, true});
    // A cloud settings file from the PC: it replaces the stored one, and the barcode record,
    // which would be read first, goes.
    const std::string cloudSet = "/data/configs/cloud_setinfo", cloudCode = "/data/configs/cloud_barcode";
    const auto cloudId = [] { return std::string(reinterpret_cast<const char*>(g_4G_property), 4); };
    const auto record = [](const char* data) { return std::string("\xAA\x06\0", 3) + data; };
    stores.push_back({"cloud settings file from the PC", [&] {
                          put(cloudSet, record("SETO")), put(cloudCode, record("OLD!")), start(), FileBufOwner::reset(), g_yp_s_file = YP_FILE{};
                      },
                      [&] {
                          deal(0xCC, {'F', '0', '0', '4', 4, 0, 0, 0, 1}), deal(0xC5, {102, 0, 0, 0, 0, 0, 4, 0, 'W', 'X', 'Y', 'Z'});
                          const Bytes end = deal(0xC6, {102, 0, 4, 0, 0, 0});
                          return end == Bytes{0, 200, 0, 102, 0} ? 1 : end[0] == 1 ? 0 : -9;
                      },
                      [&] { return !file(cloudCode).empty() ? 0 : file(cloudSet) == record("WXYZ") ? 1 : -1; },
                      [&](int now) { return md.p_message_deal_4g->get_4G_property() == 0 && cloudId() == (now ? "WXYZ" : "OLD!"); },
                      {cloudSet + ".tmp"}});
    // A name file from the PC replaces the stored one, through a staging file beside it.
    const std::string alias = "/data/configs/alias.json", names = "{\"namelist\":{\"n\":\"hall\"}}";
    const Bytes nameBytes(names.begin(), names.end());
    stores.push_back({"alias names from the PC", [&] { put(alias, "{\"namelist\":{}}"), start(), FileBufOwner::reset(); },
                      [&] {
                          deal(0xC0, fileframes::start("ALIS", 0, uint32_t(names.size()))), deal(0xC0, fileframes::block(0, nameBytes, 0, names.size()));
                          const Bytes end = deal(0xC0, fileframes::end(fileframes::md5Of(nameBytes)));
                          return end.size() == 3 && end[1] == 3 && end[0] < 2 ? 1 - end[0] : -9;
                      },
                      [&] { return file(alias) == names ? 1 : file(alias) == "{\"namelist\":{}}" ? 0 : -1; },
                      [&](int now) { return start(), file(alias) == (now ? names : "{\"namelist\":{}}"); }, {"/data/configs/.upload.part.tmp", alias}});
    for (Store& row : stores)
        row.loadsNone = std::string(row.name).rfind("user mode", 0) ? row.loadsNone : [&](const std::string& path) { return path != kMode || (start(), !para()->KelUserModeSaved(9)); };
    // A cloud record that is not whole (its marker, its length) is none.
    stores[stores.size() - 2].loadsNone = [&](const std::string& path) { return path != cloudSet || (put(cloudCode, ""), md.p_message_deal_4g->get_4G_property() == 1); };
    std::map<std::string, int> spread;
    for (const Store& row : stores) {
        uint64_t steps = 0;
        const auto attempt = [&](const std::function<void()>& arm) {
            row.before(), sim::PowerCut::restore(), arm();
            const int told = row.store();
            steps = sim::PowerCut::steps();
            sim::PowerCut::restore();
            return told;
        };
        ASSERT_NE(attempt([] {}), 0) << row.name;
        const uint64_t all = steps;
        std::printf("store walk: %s, %llu steps\n", row.name, static_cast<unsigned long long>(all));
        EXPECT_TRUE(all >= 1 && row.stored() == 1 && keepsOthers(row) && row.restart(1)) << row.name;
        for (uint64_t n = 0; n < all; ++n) {
            attempt([n] { sim::PowerCut::after(n); });
            const int now = row.stored();
            EXPECT_TRUE((now == 0 || now == 1 || (now == 2 && row.erasedBetween)) && keepsOthers(row) && row.restart(now)) << row.name << ": cut after step " << n;
            if (!row.keeps.empty()) {
                large = false;
                EXPECT_TRUE(attempt([] {}) != 0 && row.stored() == 1 && keepsOthers(row)) << row.name << ": a smaller file stored after a cut at " << n;
                large = true;
            }
            const int told = attempt([n] { sim::PowerCut::failAfter(n, ENOSPC); });
            EXPECT_TRUE((told < 0 || row.stored() == told) && keepsOthers(row)) << row.name << ": disc full at step " << n;
            EXPECT_TRUE(told != 0 || !row.retry || (row.retry() && row.stored() == 1)) << row.name << ": retried after step " << n;
            EXPECT_TRUE(row.restart(row.stored())) << row.name << ": start after a refusal at step " << n;
            const int once = attempt([n] { sim::PowerCut::failOnce(n, EIO); });
            EXPECT_TRUE((once < 0 || row.stored() == once) && keepsOthers(row) && row.restart(row.stored())) << row.name << ": step " << n << " refused alone";
        }
        // What a disc may hold where the store goes: at its temporary files (its own, cleared), its
        // targets (a folder is refused and stays; anything else is replaced) and in their folders'
        // place. The program runs on, and the answer is what the next start loads.
        std::map<std::string, std::string> full;   // path: each file as the whole store left it; folders ""
        std::regex temporary("\\.(tmp|edit|part|lock)$"), named("\\.(tmp|edit|lock)$");
        for (std::string path : (attempt([] {}), row.paths))
            for (; full.emplace(fs::path(path).parent_path(), "\n").first, full[path] = fs::is_regular_file(root.host(path)) ? file(path) : "",
                 std::regex_search(path, named);)
                path.erase(path.rfind('.'));
        for (const auto& [path, whole] : full)
            for (const std::string kind : {"folder", "dangling link", "stray lines", "not UTF-8", "empty", "cut short", "first byte changed", "named pipe", "socket", "device node"}) {
                const bool scratch = std::regex_search(path, temporary), folder = kind == "folder", settings = path == row.keeps, place = whole == "\n";
                const bool special = kind == "named pipe" || kind == "socket" || kind == "device node";
                const std::string host = root.host(path), role = place ? "a folder's place" : scratch ? "temporary" : "target";
                const auto plant = [&, kind = kind] {
                    const std::string now = fs::is_regular_file(host) ? file(path) : "", cut = whole.substr(0, settings ? whole.rfind('\n', whole.size() / 2) + 1 : whole.size() / 2);
                    if (special) {
                        fs::remove_all(host), fs::create_directories(fs::path(host).parent_path());
                        EXPECT_TRUE(makeSpecial(kind, host)) << kind << " at " << path;
                    } else if (place || folder || kind == "dangling link")
                        fs::remove_all(host), folder ? root.writeFile(path + "/x", "x") : kind == "dangling link" ? fs::create_symlink(root.host("/outside/nowhere"), host) : root.writeFile(path, cut);
                    else
                        put(path, ""), std::ofstream(host, std::ios::binary) << (kind == "empty" ? "" : kind == "cut short" ? cut : kind == "first byte changed" ? whole.empty() ? "" : char(~whole[0]) + whole.substr(1) : (settings ? now : "") +
                                                                                 (kind == "stray lines" ? "\n# a comment\nstray line\n[config\n" : "stray\xff\xfe\x80\xc3(\n"));
                    if (settings && !folder)
                        kept[path] = special ? Entries() : fresh(path);
                };
                if (place && kind != "dangling link" && kind != "empty" && !special)   // a file, a link or another kind of thing there
                    continue;
                const int told = attempt(plant);
                ++spread[role + ": " + kind];
                if (place)
                    EXPECT_TRUE(told < 0 || (told == 1) == (row.stored() == 1)) << row.name << ": " << kind << " in the place of " << path;
                else if (folder && scratch && path.find(".part") + 5 == path.size())   // the PC's staging file: refused
                    EXPECT_TRUE(told == 0 && row.stored() == 0) << row.name << ": a folder at " << path;
                else if (folder && !scratch)
                    EXPECT_TRUE(told != 1 && fs::is_regular_file(host + "/x")) << row.name << ": a folder at " << path;
                else
                    EXPECT_TRUE(told != 0 && row.stored() == 1 && keepsOthers(row) && row.restart(1)) << row.name << ": " << kind << " at " << path;
                EXPECT_TRUE(!row.loadsNone || folder || scratch || place || kind == "dangling link" || (row.before(), plant(), row.loadsNone(path)))
                    << row.name << ": a start with " << kind << " at " << path;
                // Anything but a file is no file: a start and the PC's reads find what they find
                // with nothing there, and answer at once.
                if (special && !scratch) {
                    const std::string with = (fs::remove_all(host), row.before(), plant(), finds());
                    EXPECT_TRUE((fs::remove_all(host), row.before(), fs::remove_all(host), with == finds())) << row.name << ": " << kind << " at " << path;
                }
                EXPECT_TRUE((start(), !fs::exists(root.host("/outside/nowhere")))) << row.name << ": a start after " << kind << " at " << path;
                fs::remove_all(host), fs::remove_all(root.host("/outside"));
            }
    }
    for (const auto& [what, n] : spread)
        std::printf("store walk: %s, %d cases\n", what.c_str(), n);
}

// An update sets its keys and keeps every other key, group and value of the file as it was,
// whatever its type; a file changed beside the program with its size and time is read afresh.
TEST_F(StoreWalk, AnUpdateSetsItsKeysAndKeepsEveryOtherEntryOfEveryType)
{
    const std::string path = "/data/configs/tcpip.ini";
    kel_test::checkProperty("settings update keeps every other entry", [&] {
        const Entries others = *unknownEntries();
        put(path, "[config]\nUdpPort=5008\n", others);
        const Entries before = fresh(path);
        // The file holds what was drawn: every key, and each value of a type kept exactly.
        QStringList keys = others.keys() << "config/UdpPort";
        keys.sort();
        RC_ASSERT(before.keys() == keys);
        bool bytes = false, emptyList = false, geometry = false, map = false, general = false;
        for (auto it = others.begin(); it != others.end(); ++it) {
            const int type = it.value().userType();
            bytes |= type == QMetaType::QByteArray, map |= type == QMetaType::QVariantMap;
            emptyList |= type == QMetaType::QStringList && it.value().toStringList().isEmpty();
            geometry |= type == QMetaType::QRect || type == QMetaType::QSize || type == QMetaType::QPoint;
            general |= it.key().startsWith("general/", Qt::CaseInsensitive) && !it.key().startsWith("General/");
            if (type != QMetaType::Int && type != QMetaType::QString && type != QMetaType::QStringList)
                RC_ASSERT(before.value(it.key()) == it.value());
        }
        RC_CLASSIFY(bytes, "bytes");
        RC_CLASSIFY(emptyList, "empty list");
        RC_CLASSIFY(geometry && map, "geometry and map");
        RC_CLASSIFY(general, "a group general, not General");
        IniText::Entries changes;
        std::vector<QString> settable;   // keys outside a group "general" not named "General"
        for (const QString& key : others.keys())
            if (!key.contains('/') || key.startsWith("General/") || !key.startsWith("general/", Qt::CaseInsensitive))
                settable.push_back(key);
        for (const QString& key : *rc::gen::container<std::vector<QString>>(rc::gen::weightedOneOf<QString>({
                 {2, rc::gen::element(QString("config/Barcode"), QString("config/TcpPort"), QString("app-1/app_path"))},
                 {settable.empty() ? 0 : 1, rc::gen::elementOf(settable)}})))
            changes.append({key, *rc::gen::arbitrary<bool>() ? QVariant(*rc::gen::arbitrary<int>()) : QVariant(*text(false))});
        RC_TAG(others.size() < 4 ? "few others" : others.size() < 20 ? "some others" : "many others");
        for (int round = 0; round < 2; ++round) {
            Entries expected = fresh(path);
            for (const auto& [key, value] : changes)
                expected.insert(key, QVariant(value.toString()));
            RC_ASSERT(IniText::update(path, changes));
            RC_ASSERT(fresh(path) == expected);
            // The same file with another port, of the same size and time.
            const auto time = fs::last_write_time(root.host(path));
            std::string changed = file(path);
            const size_t at = changed.find("\nUdpPort=");
            RC_ASSERT(at != std::string::npos);
            changed[at + 9] = char('1' + round);
            root.writeFile(path, changed);
            fs::last_write_time(root.host(path), time);
        }
    }, {30});
}

// Two PCs: A saves, recalls and resets user modes, B edits and applies; the scaler's passes
// and the GUI's notifications come between their frames in any order. What the device shows
// after each step (the block, the mode the screens name) is what a model of the block, its
// file and the slots says: a recall loads what was saved, no mode outlives a reset. What a
// start loads after each command that stores is the store sweep's.
TEST_F(StoreWalk, TwoPcsSavingRecallingAndEditingShowWhatTheModelSays)
{
    scalerUp();
    c331_manage* scaler = c331_manage::p_c331_manage;
    const int kX = P::kLayers + P::kLayerWindow;
    const auto byDefault = [](int offset) { return int(default_para_ramlist[2 + offset - P::kSavedStart]); };
    const int brDefault = byDefault(P::kBrightness), xDefault = byDefault(kX) | byDefault(kX + 1) << 8;
    message_deal b{message_deal::REPLY_LIMIT_UDP};
    enum Kind { Edit, EditX, EditMeanwhile, Apply, Save, Recall, PcRecall, BarSave, BarRecall, Invoke, Delete, RecallMeanwhile, Reset, Pass, Deliver, Settle, Kinds };
    using Act = std::tuple<int, int>;   // kind, value
    kel_test::checkProperty("two PCs keep what they were answered", [&] {
        // Modes 1-3 saved first, each with its own brightness and x, then what was drawn.
        std::vector<Act> acts;
        for (int n = 1; n <= 3; ++n)
            acts.insert(acts.end(), {{Edit, 10 * n}, {EditX, 5 * n}, {Apply, 0}, {Settle, 0}, {Save, n}, {Settle, 0}});
        const auto drawn = *rc::gen::container<std::vector<Act>>(rc::gen::weightedOneOf<Act>({
            {3, rc::gen::tuple(rc::gen::element<int>(Edit, EditX, EditMeanwhile), rc::gen::inRange(0, 101))},
            {4, rc::gen::tuple(rc::gen::element<int>(Apply, Pass, Deliver), rc::gen::just(0))},
            {3, rc::gen::tuple(rc::gen::just<int>(Settle), rc::gen::just(0))},
            {3, rc::gen::tuple(rc::gen::element<int>(Save, Recall, PcRecall, BarSave, BarRecall, Invoke, Delete, RecallMeanwhile), rc::gen::weightedOneOf<int>({{6, rc::gen::inRange(1, 4)}, {1, rc::gen::inRange(4, 17)}, {1, rc::gen::element(17, 0xFFFF)}}))},
            {1, rc::gen::tuple(rc::gen::just<int>(Reset), rc::gen::just(0))}}));
        acts.insert(acts.end(), drawn.begin(), drawn.end());
        // The model.
        struct Area { int br, x; bool operator==(const Area& o) const { return br == o.br && x == o.x; } };
        Area live{brDefault, xDefault}, applied = live, saved = live;
        std::optional<Act> meanwhile;   // B's brightness (Edit) or recall (PcRecall), sent while the GUI thread stores
        std::array<std::optional<Area>, 16> modes{};
        int liveCur = 0, wordCur = 0, savedCur = 0, liveReq = 0, flag = 0, appliedReq = 0;
        bool asked = false, pendingEdit = false, appliedUnsaved = false, wordsUnsaved = false;
        std::vector<int> notes;
        fs::remove_all(root.host("/data")), start(), listen();   // the device, fresh: no mode files, the defaults stored
        std::map<int, int> kinds;
        // The apply command's mode rule and its flag, in the model.
        const auto apply = [&] {
            flag = std::max(flag, 1);
            const int m = liveCur, s = wordCur;
            const bool saved = m != s && m != 0 && m <= 16 && modes[m - 1], wasAsked = std::exchange(asked, false);
            if (saved && wasAsked)
                live = *modes[m - 1], liveCur = wordCur = m, liveReq = 0, wordsUnsaved = true;
            else if (m == s)
                liveCur = wordCur = 0, wordsUnsaved = true;
        };
        const auto pass = [&] {
            for (int n = 0; flag && n < 50 && !scaler->c331_apply_changes(); ++n) {}
            flag ? void((applied = live, appliedReq = liveReq, pendingEdit = false, notes.push_back(flag), flag = 0, appliedUnsaved = true)) : void();
        };
        // B's edit lands at the GUI thread's next file step: after a mode save's slot copy, or
        // after the block save's snapshot; with no store at all, once the notes are taken.
        const auto recalled = [&](int m, int req) {   // mode m recalled, the save request word set to req
            if (m <= 16 && modes[m - 1])
                live = *modes[m - 1], liveCur = wordCur = m, liveReq = req, wordsUnsaved = true, flag = std::max(flag, 1), ++kinds[Kinds];
        };
        const auto lands = [&] {
            if (const auto act = std::exchange(meanwhile, std::nullopt))
                std::get<0>(*act) == Edit ? void((live.br = std::get<1>(*act), pendingEdit = true)) : recalled(std::get<1>(*act), 0);
        };
        const auto item54 = [](int m) { return pc::singleSettings({{54, uint16_t(m <= 8 ? m - 1 : m <= 16 ? m + 7 : 8)}}); };
        const auto meanwhileAct = [&] {
            const auto [k, v] = *meanwhile;
            k == Edit ? void(ramWrite(b, P::kBrightness, {uint8_t(v)})) : void(deal(b, item54(v)));
        };
        const auto deliver = [&] {
            bool ran = false;
            sim::PowerCut::meanwhile(meanwhile ? std::function<void()>([&] { meanwhileAct(), ran = true; }) : nullptr);
            // The stores are made on the store thread: B's frame comes once they are done.
            StoreWalk::deliver(), meanwhile ? P::wait_mode_files() : void(), sim::PowerCut::meanwhile(nullptr);
            meanwhile && !ran ? meanwhileAct() : void(), P::wait_mode_files();
            for (size_t i = 0; i < notes.size(); ++i) {
                if (liveReq > 16)
                    liveReq = 0;
                else if (liveReq && !flag && (!pendingEdit || appliedReq == liveReq))   // B's edit waiting: saved as applied
                    modes[liveReq - 1] = pendingEdit ? applied : live, liveCur = wordCur = liveReq, liveReq = 0, wordsUnsaved = true, lands();
                const bool pending = flag || pendingEdit;
                if (!pending || appliedUnsaved || wordsUnsaved) {
                    const Area snap = pending ? applied : live;
                    const int snapCur = pending ? wordCur : liveCur;
                    const bool writes = !(snap == saved) || snapCur != savedCur || wordsUnsaved;
                    saved = snap, savedCur = wordCur = snapCur, appliedUnsaved = wordsUnsaved = false, writes ? lands() : void();
                }
            }
            notes.clear(), lands();
        };
        const auto reset = [&] {
            live = {brDefault, xDefault}, liveCur = byDefault(P::kCurrentMode), liveReq = byDefault(P::kModeSaveRequest);
            modes.fill(std::nullopt), flag = std::max(flag, 1);
            RC_ASSERT(reg(md, 16, 1) == 0);
        };
        const auto shown = [&] { return Area{para()->ram[P::kBrightness], para()->ram16(kX)}; };
        for (const auto& [kind, value] : acts) {
            const bool recall = ++kinds[kind] && kind == Recall;
            switch (kind) {
            case Edit: case EditX:   // words, both
                RC_ASSERT(ramWrite(b, kind == Edit ? P::kBrightness : kX, {uint8_t(value), 0}) == 0), (kind == Edit ? live.br : live.x) = value, pendingEdit = true;
                break;
            case EditMeanwhile: case RecallMeanwhile:   // B's next edit or recall arrives while the GUI thread takes the notes
                meanwhile = Act{kind == EditMeanwhile ? Edit : PcRecall, value};
                break;
            case Apply: RC_ASSERT(reg(b, 11, 2) == 0), apply(); break;
            case Save: case Recall:   // A's save request or recall: the word, then the apply
                RC_ASSERT(ramWrite(md, recall ? P::kCurrentMode : P::kModeSaveRequest, {uint8_t(value), uint8_t(value >> 8)}) == 0 && reg(md, 11, 2) == 0);
                (recall ? liveCur : liveReq) = value, asked = asked || recall, pendingEdit = true, apply();
                break;
            case BarSave: case BarRecall:   // the mode bar: save or recall armed, the slot's button (its toast waits for ticks: not shown)
                if (value <= 16)
                    g_page_focus = 1, kind == BarSave ? bar()->on_toolButton4_clicked() : bar()->on_toolButton3_clicked(), bar()->mode_button(value - 1)->click(), bar()->tip_pending = 0;
                kind == BarRecall ? recalled(value, 0) : value > 16 || liveReq == value ? void() : void((liveReq = value, flag = std::max(flag, 1)));
                break;
            case Invoke: case Delete:   // the user-mode screen's buttons on the slot it shows
                if (value <= 16)
                    g_page_focus = 4, screen()->ui_select = uint8_t(value - 1), screen()->kel_button_mode_clicked();
                if (value <= 16 && kind == Invoke)
                    screen()->on_Button_use_clicked(), recalled(value, liveReq);
                else if (value <= 16 && (screen()->on_Button_delete_clicked(), std::exchange(modes[value - 1], std::nullopt)) && liveCur == value)
                    liveCur = wordCur = 0, wordsUnsaved = true, flag = std::max(flag, 1);
                break;
            case PcRecall:   // A's single-setting recall (item 54: modes 1-8 as 0-7, 9-16 as 16-23; 8 asks none)
                RC_ASSERT(deal(md, item54(value)) == (Bytes{0, 0x31})), recalled(value, 0);
                break;
            case Reset: reset(); break;
            case Pass: case Settle: pass(), kind == Settle ? deliver() : void(); break;   // Settle: the device at rest between frames
            case Deliver: deliver(); break;
            }
            RC_ASSERT(shown() == live);
            RC_ASSERT(int(para()->locked16(P::kCurrentMode)) == liveCur);   // the mode the screens name
        }
        // Settled: what a model of the block says too.
        pass(), deliver();
        RC_ASSERT(shown() == live && int(para()->locked16(P::kCurrentMode)) == liveCur);
        RC_CLASSIFY(kinds[Kinds] > 0, "a mode recalled");
        RC_CLASSIFY(kinds[Save] && kinds[Recall] && kinds[Edit], "saves, recalls and edits");
        RC_CLASSIFY(kinds[BarSave] + kinds[BarRecall] + kinds[Invoke] + kinds[Delete] > 0, "the panel's mode bar or user-mode screen");
        RC_CLASSIFY(kinds[RecallMeanwhile] > 0, "a recall sent while the GUI thread stores");
        P::wait_mode_files(), closeScreens();
    }, {100, 60});
}

// A command that stores is answered once what it stored is on disc: the program killed the
// moment the answer comes (the supply cut) starts again with what the answer said, over the
// room the disc has left, with and without a user-mode save asked for with it.
TEST(StoreAnswers, WhatTheRunningProgramAnswersStoredSurvivesAKillAtTheAnswer)
{
    KEL_SKIP_UNDER_EMULATION();
    kel_test::HostApp host;
    ASSERT_TRUE(host.root.isValid());
    const std::string data = host.root.path().toStdString() + "/root/data", base = host.root.path().toStdString() + "/base";
    const auto usedBlocks = [](const std::string& dir) {
        uint64_t bytes = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (struct stat st; ::lstat(e.path().c_str(), &st) == 0)
                bytes += uint64_t(st.st_blocks) * 512;
        return bytes;
    };
    const auto keep = [&](const std::string& to) { fs::remove_all(to), fs::copy(data, to, fs::copy_options::recursive); };
    host.prepare = nullptr;
    KEL_START_HOST(host);
    host.stop();
    keep(base);
    std::mt19937 draw(uint32_t(kel_test::drawnPropertySeed()));
    int stored = 0, rounds = 0;
    for (const uint64_t left : {uint64_t(4096), uint64_t(8192), uint64_t(1) << 30})
        for (const int mode : {0, 3}) {
            ++rounds;
            const int brightness = 1 + int(draw() % 99);
            host.prepare = [&](const std::string& root) { fs::create_directories(root), fs::copy(base, root + "/data", fs::copy_options::recursive); };
            KEL_START_HOST(host, "data.capacity=" + std::to_string(usedBlocks(base) + left) + "\n");
            auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
            ASSERT_TRUE(pc && pc->writeRam(P::kBrightness, {uint8_t(brightness), 0}) == 0);
            if (mode) {
                ASSERT_EQ(pc->writeRam(P::kModeSaveRequest, {uint8_t(mode), 0}), 0);
            }
            // Answered once the store is on disc: behind the scaler's apply and the store
            // thread, which a loaded machine under the thread checker slows well past a plain
            // reply's wait.
            const int told = pc->writeRegister(11, 2, 2, pc::kController, 60000);
            host.app.kill();   // the moment the answer came
            host.app.waitForFinished(5000);
            ASSERT_TRUE(told == 0 || told == 1) << "no answer with " << left << " bytes left";
            keep(base + ".cut");
            host.prepare = [&](const std::string& root) { fs::create_directories(root), fs::copy(base + ".cut", root + "/data", fs::copy_options::recursive); };
            KEL_START_HOST(host);
            pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
            pc::Bytes now, slot;
            ASSERT_TRUE(pc && pc->readRam(P::kBrightness, 1, now) == 0);
            const size_t inSlot = 2 + P::kBrightness - P::kModeArea;
            if (mode) {
                ASSERT_EQ(pc->readRam(uint32_t(mode) << 12, uint16_t(inSlot + 1), slot), 0);
            }
            host.stop();
            const bool found = now[0] == brightness && (!mode || (slot[0] == 0xAA && slot[1] == 0xAA && slot[inSlot] == brightness));
            EXPECT_TRUE(told == 1 || found) << "answered stored with " << left << " bytes left, mode " << mode << ": brightness " << int(now[0])
                                            << " for " << brightness;
            stored += told == 0;
            // With room for every file the answer is done.
            EXPECT_TRUE(left < 8192 * 2 || told == 0) << left << " bytes left, mode " << mode;
        }
    std::printf("kill at the answer: %d of %d rounds answered stored\n", stored, rounds);
}
