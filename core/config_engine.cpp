#include "core/config_engine.h"

#include "board/Files.h"
#include "board/SocWindow.h"
#include "core/global.h"
#include "core/ini_text.h"
#include "core/utils.h"

#include <QSettings>
#include <optional>

ConfigEngine* ConfigEngine::p_config = nullptr;
QMap<QString, ConfigItem::ConfigName> ConfigEngine::_itemMap;

namespace {
const char* const kSettingsFile = "/data/configs/tcpip.ini";
const char* const kLoaderFile = "/data/configs/led_load_config.ini";
const char* const kLoaderCommandLine = "/data/app/kelM57N -platform linuxfb";

// Unique-id window of the system-on-chip.
constexpr uint32_t kSocBase = 0x1F000000;
constexpr uint32_t kSocLength = 0x2B0000;
constexpr uint32_t kUidGate = 0x400C;
constexpr uint32_t kUid0 = 0x4058;
constexpr uint32_t kUid1 = 0x405C;
constexpr uint32_t kUid2 = 0x4060;

struct ItemDef {
    const char* key;
    QVariant def;
    uint8_t numeric;
};

const ItemDef* itemTable()
{
    static const ItemDef table[ConfigItem::ConfigNameCount] = {
        {"config/TcpPort", QVariant(5005), 1},
        {"config/UdpPort", QVariant(5008), 1},
        {"config/IPAddress", QVariant(QString("192.168.0.199")), 0},
        {"config/SubNetMask", QVariant(QString("255.255.255.0")), 0},
        {"config/GateWay", QVariant(QString("192.168.0.1")), 0},
        {"config/MAC", QVariant(QString("FF:FF:FF:FF:FF:FF")), 0},
        {"config/Barcode", QVariant(QString(" ")), 0},
        {"config/WifiIPAddress", QVariant(QString("192.168.22.101")), 0},
        {"config/EDIDCheck", QVariant(QString("Once")), 0},
        {"config/SourceCheck", QVariant(255), 1},
        {"config/ImageLayoutPassword", QVariant(QString("No")), 0},
        {"config/uTorcloudserverip", QVariant(QString(" ")), 0},
        {"config/uTorcloudserverport", QVariant(QString(" ")), 1},
        {"config/uTorclouduserip", QVariant(QString(" ")), 0},
        {"config/uTorcloudcontrollername", QVariant(QString(" ")), 0},
        {"config/KelMaxPixel_UINT", QVariant(6553600), 1},
        {"config/usbupgradedir", QVariant(QString("KEL-W46")), 0},
        {"config/KelLCDLang", QVariant(0x1001F), 1},
    };
    return table;
}

// Reads the three unique-id words through the SoC register window; false when the window
// cannot be opened or mapped.
bool readUniqueId(uint16_t& u, uint16_t& v, uint16_t& w)
{
    int fd = board::SocWindow::openMemory();
    if (fd < 0)
        return false;
    volatile uint8_t* win = board::SocWindow::map(fd, kSocBase, kSocLength);
    if (!win) {
        board::SocWindow::close(fd);
        return false;
    }
    // 16-bit registers take 16-bit accesses, as the FPGA manager's GPIO lines do; a byte
    // access to a device register need not read or write half of it.
    auto reg = [win](uint32_t off) { return reinterpret_cast<volatile uint16_t*>(win + off); };
    auto rd = [reg](uint32_t off) { return uint16_t(*reg(off)); };
    auto wr = [reg](uint32_t off, uint16_t val) { *reg(off) = val; };
    wr(kUidGate, uint16_t(rd(kUidGate) & ~0x0100));
    u = rd(kUid0);
    v = rd(kUid1);
    w = rd(kUid2);
    board::SocWindow::unmap(win, kSocLength);
    board::SocWindow::close(fd);
    return true;
}
} // namespace

ConfigEngine::ConfigEngine(QObject* parent) : QObject(parent)
{
    const QString file = QString(kSettingsFile);
    board::Files::makeDirs("/data/configs");
    // Synchronous writes are a help, not a need: every store flushes its file itself.
    static_cast<void>(Utils::system_mutex(QString("chattr +S %1").arg(file), nullptr));
    QList<QPair<ConfigItem::ConfigName, QVariant>> missing;
    {
        // Read only: what a missing key takes is stored below, through the board layer. The
        // library opens the file itself and would wait for ever on a named pipe: anything but
        // a file is read as no file.
        std::optional<QSettings> settings;
        if (board::Files::isFile(kSettingsFile))
            settings.emplace(board::Files::map(file), QSettings::IniFormat);
        const ItemDef* table = itemTable();
        for (int i = 0; i < ConfigItem::ConfigNameCount; ++i) {
            items_.append(new ConfigItem(QString(table[i].key), ConfigItem::ConfigName(i), table[i].def, false,
                                         table[i].numeric, file, settings ? &*settings : nullptr));
            if ((!settings || settings->value(table[i].key).toString().isEmpty()) && items_.last()->value.isValid())
                missing.append({ConfigItem::ConfigName(i), items_.last()->value});
        }
    }
    if (!missing.isEmpty()) {
        std::lock_guard<std::mutex> hold(values_mutex_);
        // Defaults that could not be written are still what is read (from memory): the store
        // reported its file, and the next start writes them again.
        static_cast<void>(store(missing));
    }
}

ConfigEngine::~ConfigEngine()
{
    qDeleteAll(items_);
    if (p_config == this)
        p_config = nullptr;
}

QVariant ConfigEngine::read_config_variant(ConfigItem::ConfigName name)
{
    if (name < 0 || name >= items_.size())
        return QVariant();
    std::lock_guard<std::mutex> hold(values_mutex_);
    return items_[name]->value;
}

bool ConfigEngine::write_config_variant(ConfigItem::ConfigName name, QVariant value)
{
    return write_config_variants({{name, value}});
}

bool ConfigEngine::write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values)
{
    QList<QPair<ConfigItem::ConfigName, QVariant>> held;
    for (const auto& v : values) {
        if (v.first < 0 || v.first >= items_.size())
            return false;
        // A key of empty text counts as missing at the next start, which then takes the
        // default: the default is what is held and stored now.
        const QVariant& def = items_[v.first]->defaultValue;
        held.append({v.first, v.second.toString().isEmpty() && !def.toString().isEmpty() ? def : v.second});
    }
    std::lock_guard<std::mutex> hold(values_mutex_);
    if (!store(held))
        return false;
    for (const auto& v : held)
        items_[v.first]->value = v.second;
    return true;
}

bool ConfigEngine::store(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values)
{
    // Only these keys change: every other key and group of the file stays as it is.
    IniText::Entries entries;
    for (const auto& v : values) {
        const ConfigItem* item = items_[v.first];
        if (!item->memoryOnly && !item->file.isEmpty())
            entries.append({item->key, v.second});
    }
    return entries.isEmpty() || IniText::update(kSettingsFile, entries);
}

bool ConfigEngine::containsItemStr(QString text)
{
    const ItemDef* table = itemTable();
    for (int i = 0; i < ConfigItem::ConfigNameCount; ++i)
        if (text == QLatin1String(table[i].key))
            return true;
    return false;
}

ConfigItem::ConfigName ConfigEngine::strToItem(QString text)
{
    if (!text.startsWith("config/"))
        text.prepend("config/");
    const ItemDef* table = itemTable();
    for (int i = 0; i < ConfigItem::ConfigNameCount; ++i)
        if (text == QLatin1String(table[i].key))
            return ConfigItem::ConfigName(i);
    return ConfigItem::ConfigNameCount;
}

ConfigItem* ConfigEngine::getConfigItem(QString text)
{
    if (!containsItemStr(text))
        return nullptr;
    return items_.value(strToItem(text), nullptr);
}

void ConfigEngine::derivePid(uint16_t u, uint16_t v, uint16_t w, char out[32])
{
    const int U3 = u >> 12, U2 = (u >> 8) & 0xF, U1 = (u >> 4) & 0xF, U0 = u & 0xF;
    const int V3 = v >> 12, V2 = (v >> 8) & 0xF, V1 = (v >> 4) & 0xF, V0 = v & 0xF;
    const int W3 = w >> 12, W2 = (w >> 8) & 0xF, W1 = (w >> 4) & 0xF, W0 = w & 0xF;
    const int values[32] = {
        U3, V3, W3, V1, W1, W0, W2, (U3 + V3) % 2,
        (W3 + V1) / 2, V0, V2, (W0 + W1) / 2, (U3 + V3) / 2, (W0 + W1) % 2, (W3 + V1) % 2, U2,
        U1, (W2 + V0) % 2, (U2 + V2) % 2, (U1 + U0) % 2, (U1 + U0) / 2, (U3 + V3 + W3) % 3,
        (U3 + V3 + W3) / 3, (U3 + U2 + V2) % 3,
        (U3 + U2 + V2) / 3, (U1 + V1 + W2) % 3, (U1 + V1 + W2) / 3, (U0 + V0 + W1) % 3,
        (U0 + V0 + W1) / 3, (U2 + V2) / 2, (W2 + V0) / 2, U0,
    };
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 32; ++i)
        out[i] = hex[values[i] & 0xF];
}

ConfigEngine* ConfigEngine::pInstance()
{
    if (!p_config) {
        p_config = new ConfigEngine(nullptr);
        uint16_t u = 0, v = 0, w = 0;
        // Without the unique-id window g_pid keeps its value; the rest of the set-up runs.
        if (readUniqueId(u, v, w)) {
            KEL_TRACE("\n mmap uuid161= %#x ,%#X ,%#x \n", u, v, w);
            derivePid(u, v, w, g_pid);
            for (int i = 0; i < 32; ++i)
                KEL_TRACE(" %#x ", unsigned(g_pid[i]));
            KEL_TRACE("\n");
        } else {
            KEL_TRACE("\n open /dev/mem failed, device id unchanged \n");
        }
    }

    Utils::getIPAddress();
    // Without eth0 (255) the settings are kept for its next bring-up: nothing to answer here.
    static_cast<void>(Utils::initIPAddress());

    {
        // Only a file is handed to the library, which would wait on a named pipe.
        const QString path = board::Files::isFile(kLoaderFile)
                                 ? QSettings(board::Files::map(QString(kLoaderFile)), QSettings::IniFormat).value("app-1/app_path").toString()
                                 : QString();
        g_update_status = (path == QLatin1String(kLoaderCommandLine)) ? 1 : 0;
    }

    factoryage_log.clear();
    factoryage_log_num = 0;
    return p_config;
}
