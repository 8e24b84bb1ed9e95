// Group 0xA4: the Ethernet settings (address, mask, gateway, TCP port, MAC), the network
// read-out and the discovery record that identifies the device to PC software.
#include "protocol/message_deal.h"

#include "board/Files.h"
#include "board/Network.h"
#include "cloud/m57_wifi_config.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "protocol/message_deal_shared.h"
#include "protocol/pc_fields.h"

#include <QStringList>
#include <cstring>

using pcf::put16;
using pcf::rd16;

namespace {

// The TCP port the device serves besides its configured one.
constexpr unsigned kFixedTcpPort = 10002;

// Writes the parts of text split at sep, each read in the given base, into n bytes from
// out; missing or unreadable parts stay 0.
void put_parts(unsigned char* out, int n, const QString& text, char sep, int base)
{
    std::memset(out, 0, size_t(n));
    const QStringList parts = text.trimmed().split(QChar(sep));
    for (int i = 0; i < n && i < parts.size(); ++i) {
        bool ok = false;
        unsigned v = parts[i].toUInt(&ok, base);
        out[i] = ok && v <= 255 ? uint8_t(v) : 0;
    }
}

uint32_t be32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// A unicast host address: not 0/8, loopback, multicast or reserved.
bool host_address(uint32_t a)
{
    const unsigned first = a >> 24;
    return first != 0 && first != 127 && first < 224;
}

// A mask of leading ones, at least /1 and at most /30 (room for hosts).
bool netmask(uint32_t m)
{
    if (m == 0 || (m & 3))
        return false;
    return ((~m + 1) & ~m) == 0;
}

QString dotted(const unsigned char* p)
{
    return QString("%1.%2.%3.%4").arg(p[0]).arg(p[1]).arg(p[2]).arg(p[3]);
}

struct NetTexts {
    QString ip, mask, gateway, mac, barcode;
};

// The MAC the interface has now (after a restart with a new one, that one); an interface
// that tells none leaves the last one known.
void refresh_mac()
{
    const QString mac = QString::fromStdString(board::Network::interfaceValue("eth0", board::Network::IfValue::Mac)).trimmed();
    KEL_TRACE("\n mac = %s\n", mac.toLatin1().constData());
    if (mac.isEmpty())
        return;
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    g_str_mac = mac;
}

NetTexts net_texts()
{
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    return NetTexts{g_str_ip, g_srt_mask, g_str_gateway, g_str_mac, g_str_barcode};
}

} // namespace

int message_deal::net_eth_group(unsigned char* frame)
{
    if (frame_len < 11)
        return 0;
    switch (frame[10]) {
    case 0x00: {
        // The MAC address: rewrites the interface file and restarts eth0.
        frame[11] = 0;
        if (frame_len < 19) {
            frame[10] = 1;
            return 2;
        }
        const unsigned char* m = frame + 13;
        const bool zero = !(m[0] | m[1] | m[2] | m[3] | m[4] | m[5]);
        if (zero || (m[0] & 0x01)) {
            frame[10] = 1;   // all zeros, multicast or broadcast: no interface takes it
            return 2;
        }
        const QString mac = QString::asprintf("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
        const NetTexts t = net_texts();
        KEL_TRACE("\n mac = %s ip = %s mask = %s gateway = %s port = %d\n", mac.toLatin1().constData(),
                  t.ip.toLatin1().constData(), t.mask.toLatin1().constData(), t.gateway.toLatin1().constData(),
                  g_int_tcp_port.load());
        const QByteArray file = QString("#start 180503\n\nauto lo\niface lo inet loopback\n\nauto eth0\n"
                                        "iface eth0 inet static\naddress %1\nnetmask %2\nmetric 1\n"
                                        "hwaddress ether %3\n#\n\n#end\n")
                                    .arg(t.ip, t.mask, mac)
                                    .toLatin1();
        // The MAC lives only in the interface file: one not stored is not taken at all.
        if (!board::Files::writeAtomically("/etc/network/interfaces", file.constData(), size_t(file.size()))) {
            frame[10] = 1;
            return 2;
        }
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_mac = mac;
        }
        static_cast<void>(Utils::system_mutex("sync", nullptr));   // the file was flushed as it was stored
        if (Utils::system_mutex("ifdown eth0 -f;ifup eth0 -f", nullptr) != 0)
            KEL_TRACE("Network device eth0 restart failed ... \n");
        // The address the device has now, read after the slow restart: another PC may have
        // set a new one meanwhile, which the text read before would put back. The MAC is
        // stored; an address not brought up now is brought up from the settings at the next
        // start, so the answer stays the MAC's.
        const NetTexts now = net_texts();
        if (Utils::init_resteth(now.ip, now.gateway, now.mask) != 0)
            KEL_TRACE("Network device eth0 address not set ... \n");
        frame[10] = 0;
        return 2;
    }
    case 0x01: {
        if (frame_len < 28) {
            frame[10] = 1;
            return 1;
        }
        const uint32_t ip = be32(frame + 14), mask = be32(frame + 18), gw = be32(frame + 22);
        const unsigned port = rd16(frame + 26);
        // A host of the network, gateway and device alike: not its own address nor its
        // broadcast address, which no router answers on; and a gateway other than the device
        // itself, which would send its traffic off the network back to it.
        const auto onNet = [mask](uint32_t a) { return (a & ~mask) != 0 && (a & ~mask) != ~mask; };
        const bool gwOk = gw == 0 || (host_address(gw) && (gw & mask) == (ip & mask) && onNet(gw) && gw != ip);
        const bool hostOk = onNet(ip);
        if (!host_address(ip) || !netmask(mask) || !hostOk || !gwOk || port == 0 || port == kFixedTcpPort) {
            frame[10] = 1;
            return 1;
        }
        const QString sIp = dotted(frame + 14), sMask = dotted(frame + 18), sGw = dotted(frame + 22);
        KEL_TRACE("\n ip = %s\n mask = %s\n gateway = %s\n port = %u\n", sIp.toLatin1().constData(),
                  sMask.toLatin1().constData(), sGw.toLatin1().constData(), port);
        // One replacement of the settings file; a setting that could not be stored is not
        // applied either, so the PC is told what the next start comes up with.
        ConfigEngine* c = ConfigEngine::p_config;
        if (c && !c->write_config_variants({{ConfigItem::IPAddress, sIp},
                                            {ConfigItem::GateWay, sGw},
                                            {ConfigItem::SubNetMask, sMask},
                                            {ConfigItem::TcpPort, int(port)}})) {
            frame[10] = 1;
            return 1;
        }
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_ip = sIp;
            g_srt_mask = sMask;
            g_str_gateway = sGw;
        }
        g_int_tcp_port = int(port);
        // The port in use, before the settings are reloaded into the globals.
        const bool portChanged = int(port) != g_port;
        // Stored: an interface that cannot take it now (no eth0) takes it at the next start.
        static_cast<void>(Utils::initIPAddress());
        g_port = int(port);
        if (portChanged) {
            // The running TCP server keeps its port until the reboot; the stamp grants the
            // reply its way out first.
            if (!g_app_reset_flag) {
                G_reboot_tickTicks = G_timeTicks.load();
                g_app_reset_flag = 1;
            }
        } else if (KelRamPara* p = mdshared::para()) {
            p->test_signal(1);
        }
        frame[10] = 0;
        return 1;
    }
    case 0x03: {
        refresh_mac();
        const NetTexts t = net_texts();
        std::memset(frame + 10, 0, 25);
        frame[11] = 3;
        frame[12] = 22;
        put_parts(frame + 15, 6, t.mac, ':', 16);
        put_parts(frame + 21, 4, t.ip, '.', 10);
        put_parts(frame + 25, 4, t.mask, '.', 10);
        put_parts(frame + 29, 4, t.gateway, '.', 10);
        // The port named is the one that listens, as discovery names it.
        put16(frame + 33, board::Network::listenPort(uint16_t(g_port.load())));
        return 25;
    }
    case 0x10:
        return get_device_info(frame);
    default:
        return 0;
    }
}

int message_deal::get_device_info(unsigned char* frame)
{
    // A PC finds the device by this record, often before it ever read the network settings.
    refresh_mac();
    const NetTexts t = net_texts();
    std::memset(frame + 10, 0, 394);
    frame[11] = 0x10;
    frame[12] = 0x8D;
    frame[13] = 1;
    frame[14] = 1;
    put16(frame + 15, 0x9C52);
    frame[17] = 0x48;
    frame[18] = 0x0B;
    frame[20] = 2;
    const QByteArray barcode = t.barcode.toUtf8();
    std::memcpy(frame + 21, barcode.constData(), size_t(std::min(barcode.size(), 16)));
    std::memcpy(frame + 37, g_pid, 32);
    put_parts(frame + 197, 6, t.mac, ':', 16);
    // The port a PC finds the device on is the one it listens on (a host run may move it).
    put16(frame + 203, board::Network::listenPort(uint16_t(g_port.load())));
    put_parts(frame + 205, 4, t.ip, '.', 10);
    put_parts(frame + 209, 4, t.mask, '.', 10);
    put_parts(frame + 213, 4, t.gateway, '.', 10);
    M57_WIFI_CONFIG* w = M57_WIFI_CONFIG::p_wifi;
    if (!w)
        return 233;
    frame[217] = uint8_t(w->field(0).toUInt());
    put_parts(frame + 218, 6, w->field(7), ':', 16);
    put16(frame + 288, uint16_t(w->field(6).toUInt()));
    put_parts(frame + 290, 4, w->field(5), '.', 10);
    put_parts(frame + 294, 6, w->field(15), ':', 16);
    put16(frame + 364, uint16_t(w->field(13).toUInt()));
    put_parts(frame + 366, 4, w->field(11), '.', 10);
    put_parts(frame + 370, 4, w->field(14), '.', 10);
    put_parts(frame + 374, 4, w->field(12), '.', 10);
    frame[378] = 24;
    {
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        std::memcpy(frame + 379, g_4G_property, 24);
    }
    return 394;
}
