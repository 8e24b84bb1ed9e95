#include "core/utils.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "board/MtdDevice.h"
#include "board/Shell.h"
#include "core/config_engine.h"
#include "core/global.h"

#include <QDebug>
#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <iconv.h>
#include <iterator>
#include <sys/stat.h>
#include <vector>

void writeLogMsg(_LogType, const std::string&) {}

namespace {
// Entry i: i shifted right eight times, each shift followed by an XOR with the polynomial
// when the bit shifted out was 1.
template <typename T>
constexpr std::array<T, 256> reflectedTable(T polynomial)
{
    std::array<T, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        T c = T(i);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? T((c >> 1) ^ polynomial) : T(c >> 1);
        t[i] = c;
    }
    return t;
}
// A reflected table-driven CRC from the given start value.
template <typename T>
T reflectedCrc(const std::array<T, 256>& table, T crc, const unsigned char* data, unsigned length)
{
    for (unsigned i = 0; i < length; ++i)
        crc = T(table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}
} // namespace

const std::array<uint16_t, 256> Utils::crc16_tabel = reflectedTable<uint16_t>(0xA001);
const std::array<uint32_t, 256> Utils::CRC32_Table = reflectedTable<uint32_t>(0xEDB88320u);
const std::array<uint16_t, 256> Utils::zedoCrc16_tabel = reflectedTable<uint16_t>(0x8408);

std::mutex Utils::_system_mutex;
std::mutex Utils::_usleep_mutex;
std::mutex Utils::_spi_mutex;
std::mutex Utils::_c331_bnk_mutex;
std::mutex Utils::_file_deal_mutex;
std::mutex Utils::_led_para_init_mutex;
std::mutex Utils::_bri_set_mutex;
std::mutex Utils::_fpga_multicast_mutex;
std::mutex Utils::_source_init_mutex;
std::mutex Utils::_check_nosig_mutex;
std::mutex Utils::_source_hdminfo_mutex;
std::mutex Utils::_test_signal_mutex;
std::mutex Utils::_reconfig_4g_mutex;
std::mutex Utils::_reconfig_device_utorcloud_mutex;

// --- checksums ------------------------------------------------------------------------

unsigned Utils::BCC(const unsigned char* data, unsigned length)
{
    // Eight bytes at a time, folded at the end: replies run to 64 KiB.
    uint64_t wide = 0;
    unsigned i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        wide ^= w;
    }
    unsigned x = 0;
    for (unsigned s = 0; s < 64; s += 8)
        x ^= unsigned(wide >> s) & 0xFF;
    for (; i < length; ++i)
        x ^= data[i];
    return x;
}

unsigned Utils::calcCRC16(const unsigned char* data, unsigned length)
{
    return reflectedCrc<uint16_t>(crc16_tabel, 0, data, length);
}

uint32_t Utils::calcCRC32(const unsigned char* data, unsigned length)
{
    return reflectedCrc<uint32_t>(CRC32_Table, 0, data, length);
}

unsigned Utils::zedoCalcCRC16(const unsigned char* data, unsigned length)
{
    return reflectedCrc<uint16_t>(zedoCrc16_tabel, 0xFFFF, data, length);
}

unsigned Utils::jtc1CRC16Code(const unsigned char* data, unsigned length)
{
    unsigned c = 0;
    for (unsigned i = 0; i < length; ++i) {
        unsigned b = data[i];
        for (int k = 0; k < 8; ++k) {
            if (((b >> 7) & 1) != ((c >> 15) & 1))
                c = ((c << 1) & 0xFFFF) ^ 0x1021;
            else
                c = (c << 1) & 0xFFFF;
            b = (b << 1) & 0xFF;
        }
    }
    return c;
}

// --- ticks ----------------------------------------------------------------------------

// After a wrap the result is one less than the modular difference, as the counter's
// users have always measured it.
uint32_t Utils::getTimeSpace(uint32_t stamp)
{
    uint32_t now = G_timeTicks;
    if (now >= stamp)
        return now - stamp;
    return 0xFFFFFFFFu - stamp + now;
}

// --- shell and sleeps -----------------------------------------------------------------

int Utils::system_mutex(const QString& command, int* status)
{
    std::lock_guard<std::mutex> hold(_system_mutex);
    int raw = board::Shell::system(command.toLatin1().toStdString());
    if (status)
        *status = raw;
    return raw == 0 ? 0 : 255;
}

std::string Utils::shell_exec(const std::string& command, int size)
{
    if (size < 2)
        return std::string();
    bool started = false;
    std::string out = board::Shell::read(command, size_t(size), &started);
    return started ? out : std::string();
}

int Utils::usleep_mutex(unsigned microseconds)
{
    std::lock_guard<std::mutex> hold(_usleep_mutex);
    return board::Clock::sleepUs(microseconds) == 0 ? 0 : 255;
}

int Utils::msleep_mutex(unsigned milliseconds)
{
    return usleep_mutex(milliseconds * 1000);
}

// --- text and files -------------------------------------------------------------------

// Reads digits until the first character that is not one; no sign, no overflow check.
unsigned Utils::stringToInt(const std::string& text)
{
    unsigned value = 0;
    if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
        for (size_t i = 2; i < text.size(); ++i) {
            char c = text[i];
            unsigned d;
            if (c >= '0' && c <= '9')
                d = unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                d = unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                d = unsigned(c - 'A' + 10);
            else
                break;
            value = value * 16 + d;
        }
        return value;
    }
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + unsigned(c - '0');
    }
    return value;
}

std::string Utils::upper(std::string text)
{
    for (auto& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Utils::intToString(int value)
{
    return std::to_string(value);
}

bool Utils::isFileExists(const std::string& path, bool regularOnly)
{
    struct stat st {};
    if (::stat(board::Files::map(path).c_str(), &st) != 0)
        return false;
    return !regularOnly || S_ISREG(st.st_mode);
}

bool Utils::isDirExists(const std::string& path)
{
    struct stat st {};
    return ::stat(board::Files::map(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Unix line ends and no UTF-8 byte-order marks, done on the file's bytes rather than by
// handing the path to dos2unix and sed through an unquoted shell command.
int Utils::change_file_formt(const std::string& path)
{
    // Only a file: anything else at the path is none.
    std::string text;
    if (board::Files::readAll(path, text) != 0)
        return -1;
    std::string out;
    out.reserve(text.size());
    static const std::string bom = "\xEF\xBB\xBF";
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, bom.size(), bom) == 0) {
            i += bom.size() - 1;
            continue;
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i];
    }
    board::Files::writeAtomically(path, out.data(), out.size());
    board::Files::sync();
    return 0;
}

void Utils::get_file_list_smartpath(QStringList& list, const QString& folder, const QString& suffix)
{
    QString base = folder;
    if (!base.endsWith('/'))
        base += '/';
    for (const QString& name : fileNames(folder, true)) {
        if (QFileInfo(name).suffix() == suffix) {
            QString systemPath = base + name;
            list.append(systemPath);
            qDebug() << systemPath;
        }
    }
}

QString Utils::fileNameText(const std::string& bytes)
{
    QString text;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        // The length and smallest code point of a sequence led by p[i]; a stray byte is kept as itself.
        const unsigned len = p[i] < 0x80 ? 1 : (p[i] & 0xE0) == 0xC0 ? 2 : (p[i] & 0xF0) == 0xE0 ? 3
                                                                       : (p[i] & 0xF8) == 0xF0 ? 4 : 0;
        char32_t c = len == 1 ? p[i] : len == 2 ? p[i] & 0x1F : len == 3 ? p[i] & 0x0F : p[i] & 0x07;
        bool ok = len != 0 && i + len <= n;
        for (unsigned k = 1; ok && k < len; ++k) {
            ok = (p[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && c >= least[len] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
        if (!ok) {
            text += QChar(ushort(0xDC00 + p[i]));
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            text += QChar(ushort(0xD800 + ((c - 0x10000) >> 10)));
            text += QChar(ushort(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            text += QChar(ushort(c));
        }
        i += len;
    }
    return text;
}

std::string Utils::fileNameBytes(const QString& text)
{
    std::string bytes;
    for (int i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (c >= 0xDC80 && c <= 0xDCFF) {                  // a stray byte of the name
            bytes += char(c - 0xDC00);
            continue;
        }
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i].unicode() - 0xDC00);
        if (c < 0x80) {
            bytes += char(c);
        } else if (c < 0x800) {
            bytes += char(0xC0 | (c >> 6));
            bytes += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes += char(0xE0 | (c >> 12));
            bytes += char(0x80 | ((c >> 6) & 0x3F));
            bytes += char(0x80 | (c & 0x3F));
        } else {
            bytes += char(0xF0 | (c >> 18));
            bytes += char(0x80 | ((c >> 12) & 0x3F));
            bytes += char(0x80 | ((c >> 6) & 0x3F));
            bytes += char(0x80 | (c & 0x3F));
        }
    }
    return bytes;
}

QStringList Utils::fileNames(const QString& folder, bool noLinks)
{
    // Listed by their bytes: Qt leaves out the names it cannot decode.
    namespace fs = std::filesystem;
    QStringList names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(board::Files::map(fileNameBytes(folder)), ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().native();
        std::error_code type;
        if (name[0] == '.')
            continue;                                       // hidden, as Qt lists them
        if (noLinks ? it->symlink_status(type).type() == fs::file_type::regular : it->is_regular_file(type))
            names.append(fileNameText(name));
    }
    return names;
}

// --- character sets -------------------------------------------------------------------

int Utils::ChangeCode(const char* from, const char* to, char* in, size_t* inLength, char* out, size_t* outLength)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1)) {
        KEL_TRACE("iconv_open ======failed ");
        return -1;
    }
    int result = int(iconv(cd, &in, inLength, &out, outLength));
    iconv_close(cd);
    return result;
}

namespace {
int convertInPlace(const char* from, const char* to, std::string& text)
{
    std::vector<char> input(text.begin(), text.end());
    size_t inLength = input.size();
    size_t outSize = input.size() * 3;
    std::vector<char> output(outSize + 1, 0);
    size_t outLeft = outSize;
    int r = Utils::ChangeCode(from, to, input.data(), &inLength, output.data(), &outLeft);
    if (r == -1 && outLeft == outSize) {
        text.clear();
        return r;
    }
    text.assign(output.data(), outSize - outLeft);
    return r;
}
} // namespace

int Utils::GB2312ToUTF8(std::string& text) { return convertInPlace("gb2312", "UTF-8", text); }
int Utils::GB2312ToUnicode(std::string& text) { return convertInPlace("gb2312", "UCS-2LE", text); }
int Utils::UTF8ToUnicode(std::string& text) { return convertInPlace("UTF-8", "UCS-2LE", text); }
int Utils::UnicodeToUTF8(std::string& text) { return convertInPlace("UCS-2LE", "UTF-8", text); }
int Utils::UTF8ToGB2312(std::string& text) { return convertInPlace("UTF-8", "GB2312", text); }
int Utils::UnicodeToGB2312(std::string& text) { return convertInPlace("UCS-2LE", "GB2312", text); }

// --- raw flash ------------------------------------------------------------------------

// The caller owns fd and closes it; a failure here never closes it behind the caller's back.
int Utils::non_region_erase(int fd, int start, int length, int unlock)
{
    board::MtdInfo info;
    if (board::MtdDevice::getInfo(fd, info) != 0 || info.eraseSize == 0)
        return 8;
    if (start < 0 || length <= 0)
        return length == 0 ? 0 : 8;
    const uint32_t e = info.eraseSize;
    const uint32_t blocks = uint32_t((uint64_t(uint32_t(length)) + e - 1) / e);
    KEL_TRACE("\r\nPerforming Flash Erase of length %u at offset 0x%x\n", e, unsigned(start));
    uint32_t at = uint32_t(start);
    for (uint32_t i = 0; i < blocks; ++i, at += e) {
        if (unlock && board::MtdDevice::unlock(fd, at, e) != 0)
            return 8;
        if (board::MtdDevice::erase(fd, at, e) != 0)
            return 8;
    }
    return 0;
}

int Utils::non_region_write(int fd, unsigned char* data, int size, int offset)
{
    board::MtdInfo info;
    if (board::MtdDevice::getInfo(fd, info) != 0 || info.writeSize == 0 || size < 0 || offset < 0)
        return 1;
    const uint32_t w = info.writeSize;
    const uint32_t pages = uint32_t(size) / w;
    off_t at = offset;
    for (uint32_t i = 0; i < pages; ++i) {
        ssize_t n = board::MtdDevice::writeAt(fd, data + size_t(i) * w, w, at);
        if (n != ssize_t(w)) {
            KEL_TRACE("\n nand non_region_write error %#x ,writesize=%#x,offset=%#x,size=%#x\n", pages, w,
                      unsigned(at), unsigned(size));
            return 1;
        }
        at += w;
    }
    const uint32_t rest = uint32_t(size) % w;
    if (rest) {
        ssize_t n = board::MtdDevice::writeAt(fd, data + size_t(pages) * w, rest, at);
        if (n != ssize_t(rest)) {
            KEL_TRACE("\n nand non_region_write error %#x,size=%#x \n", rest, unsigned(size));
            return 1;
        }
    }
    return 0;
}

// --- network bring-up -----------------------------------------------------------------

// Only four decimal parts of 0-255 may reach a shell command: a value from the settings
// file or the PC could otherwise carry shell syntax.
bool Utils::isDottedQuad(const QString& text)
{
    const QStringList parts = text.split('.');
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (QChar c : part)
            if (c.unicode() < '0' || c.unicode() > '9')
                return false;
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

int Utils::getIPAddress()
{
    ConfigEngine* cfg = ConfigEngine::p_config;
    if (!cfg)
        return 0;
    auto text = [cfg](ConfigItem::ConfigName n) { return cfg->read_config_variant(n).toString(); };
    auto number = [cfg](ConfigItem::ConfigName n) { return cfg->read_config_variant(n).toInt(); };

    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    g_str_ip = text(ConfigItem::IPAddress);
    g_str_gateway = text(ConfigItem::GateWay);
    g_srt_mask = text(ConfigItem::SubNetMask);
    // The PC's listening port comes from the settings file: text, 0 or a value above 65535
    // would be cut to some other port and leave the device unreachable, and 10002 is the
    // fixed server's own; the standard port serves instead.
    int port = number(ConfigItem::TcpPort);
    if (port < 1 || port > 65535 || port == 10002)
        port = 5005;
    g_port = port;
    g_int_tcp_port = port;
    g_str_barcode = text(ConfigItem::Barcode);
    g_str_wifi_ip = text(ConfigItem::WifiIPAddress);
    g_check_edid = text(ConfigItem::EDIDCheck);
    g_imagelayoutpassword = text(ConfigItem::ImageLayoutPassword);
    g_check_source = u8(number(ConfigItem::SourceCheck));
    g_uTor_cloudserverip = text(ConfigItem::uTorcloudserverip);
    g_uTor_cloudserverport = number(ConfigItem::uTorcloudserverport);
    g_uTor_clouduserid = text(ConfigItem::uTorclouduserip);
    g_uTor_controllername = text(ConfigItem::uTorcloudcontrollername);
    const bool unset = g_uTor_cloudserverip == " " && g_uTor_clouduserid == " " && g_uTor_controllername == " " &&
                       g_uTor_cloudserverport == 0;
    g_uTor_cloud = unset ? 0 : 1;
    g_kel_max_pixel = number(ConfigItem::KelMaxPixel_UINT);
    g_usb_grade_path = text(ConfigItem::usbupgradedir);
    g_lcd_lang_valid = number(ConfigItem::KelLCDLang);
    return 0;
}

namespace {
// Runs a command that carries network values, or skips it when one of them is not an
// IPv4 address.
void runNetworkCommand(const QString& command, std::initializer_list<QString> values, bool toDebug)
{
    for (const QString& v : values) {
        if (!Utils::isDottedQuad(v)) {
            KEL_TRACE("\n network set-up skipped, not an IPv4 address: \"%s\" \n", v.toLocal8Bit().constData());
            return;
        }
    }
    if (toDebug)
        qDebug() << command;
    // A route that cannot be set leaves the one before; the next bring-up sets it again.
    static_cast<void>(Utils::system_mutex(command, nullptr));
}
} // namespace

bool Utils::network_defaults()
{
    // The engine start-up made. Asking for it anew runs start-up's work again on this thread:
    // the globals read back from the settings, the network brought up, the panel's ageing
    // log emptied under the GUI thread.
    ConfigEngine* config = ConfigEngine::p_config;
    if (!config)
        return false;
    const bool portChanged = g_port != 5005;
    const QList<QPair<ConfigItem::ConfigName, QVariant>> defaults = {{ConfigItem::IPAddress, QStringLiteral("192.168.0.199")},
                                                                     {ConfigItem::GateWay, QStringLiteral("192.168.0.1")},
                                                                     {ConfigItem::SubNetMask, QStringLiteral("255.255.255.0")}};
    bool stored = !portChanged;
    for (const auto& [name, value] : defaults)
        stored = stored && config->read_config_variant(name).toString() == value.toString();
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        stored = stored && g_str_ip == defaults[0].second.toString() && g_str_gateway == defaults[1].second.toString() && g_srt_mask == defaults[2].second.toString();
    }
    if (stored)
        return true;   // a PC's reset stored them already; the panel's step finds nothing to do
    QList<QPair<ConfigItem::ConfigName, QVariant>> values = defaults;
    if (portChanged)
        values.append({ConfigItem::TcpPort, 5005});
    if (!config->write_config_variants(values))
        return false;
    // Stored: without eth0 now (255) the next bring-up takes the defaults.
    static_cast<void>(initIPAddress());
    if (portChanged) {
        g_port = 5005;
        // The reboot follows 300 ticks from now, not from some older stamp.
        G_reboot_tickTicks = G_timeTicks.load();
        g_app_reset_flag = 1;
    }
    return true;
}

int Utils::initIPAddress()
{
    // Both streams redirected the POSIX way: "&>" would make the command a background job
    // under /bin/sh, whose status is always 0.
    if (system_mutex("ifconfig eth0 >/dev/null 2>&1", nullptr) != 0)
        return 255;
    getIPAddress();
    QString ip, mask, gateway;
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        ip = g_str_ip;
        mask = g_srt_mask;
        gateway = g_str_gateway;
    }
    static_cast<void>(system_mutex("route del default wlan0", nullptr));   // a route missing or there already
    runNetworkCommand(QString("ifconfig eth0 %1 netmask %2 up").arg(ip, mask), {ip, mask}, true);
    runNetworkCommand(QString("route add -host %1 dev eth0").arg(gateway), {gateway}, true);
    runNetworkCommand(QString("route add default gw %1 metric 100").arg(gateway), {gateway}, true);
    runNetworkCommand(QString("ip route add default via %1 dev eth0").arg(gateway), {gateway}, true);
    static_cast<void>(system_mutex("route add -host 255.255.255.255 eth0", nullptr));   // a route missing or there already
    static_cast<void>(system_mutex("route del 255.255.255.255 wlan1", nullptr));   // a route missing or there already
    return 0;
}

int Utils::init_resteth(QString address, QString gateway, QString mask)
{
    if (system_mutex("ifconfig eth0 >/dev/null 2>&1", nullptr) != 0)
        return 255;
    static_cast<void>(system_mutex("route del default wlan0", nullptr));   // a route missing or there already
    runNetworkCommand(QString("ifconfig eth0 %1 netmask %2").arg(address, mask), {address, mask}, false);
    runNetworkCommand(QString("route add -host %1 dev eth0").arg(gateway), {gateway}, false);
    runNetworkCommand(QString("route add default gw %1 metric 100").arg(gateway), {gateway}, false);
    static_cast<void>(system_mutex("route add -host 255.255.255.255 eth0", nullptr));   // a route missing or there already
    static_cast<void>(system_mutex("route del 255.255.255.255 wlan1", nullptr));   // a route missing or there already
    return 0;
}
