#include "cloud/m57_wifi_config.h"

#include "board/Network.h"
#include "core/global.h"
#include "core/utils.h"
#include "protocol/udpnetmanage.h"

#include <cstring>

M57_WIFI_CONFIG* M57_WIFI_CONFIG::p_wifi = nullptr;

namespace {
std::mutex g_instance_mutex;
} // namespace

M57_WIFI_CONFIG* M57_WIFI_CONFIG::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!p_wifi) {
        p_wifi = new M57_WIFI_CONFIG();
        p_wifi->start_thread();
        attach(udpnetManage::p_udpnetManage);
    }
    return p_wifi;
}

void M57_WIFI_CONFIG::attach(udpnetManage* udp)
{
    M57_WIFI_CONFIG* w = p_wifi;
    if (!udp || !w)
        return;
    w->m_udp = udp;
    udp->set_wifi_handler([w]() { return w->wifi_ap_state == kApRunning; },
                          [w](unsigned char* data, unsigned int len, const sockaddr_in& from) {
                              w->at_peer = from;
                              return w->wifi_AT_cmd_manage(data, len);
                          });
}

M57_WIFI_CONFIG::M57_WIFI_CONFIG()
{
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    wifi_ip = g_str_wifi_ip;
}

M57_WIFI_CONFIG::~M57_WIFI_CONFIG()
{
    m_stop.stop();
    if (m_thread.joinable())
        m_thread.join();
    if (m_udp)
        m_udp->set_wifi_handler(nullptr, nullptr);
    if (p_wifi == this) {
        p_wifi = nullptr;
    }
}

void M57_WIFI_CONFIG::start_thread()
{
    try {
        m_thread = std::thread(&M57_WIFI_CONFIG::WiFi_Start_Thread, this);
    } catch (...) {
        writeLogMsg(LOG_ERROR, "create WiFi_Start_Thread failed");
    }
}

void* M57_WIFI_CONFIG::WiFi_Start_Thread(void* arg)
{
    M57_WIFI_CONFIG* self = static_cast<M57_WIFI_CONFIG*>(arg);
    // A running access point needs nothing; a failed start is tried again now and then.
    // Deleting the object ends the wait.
    while (!self->m_stop.stopped()) {
        // A pass that did not bring the access point up is tried again on the next round.
        if (self->wifi_ap_state != kApRunning)
            static_cast<void>(self->wifi_start_pass());
        if (self->m_stop.wait(kRetryMs))
            break;
    }
    return nullptr;
}

int M57_WIFI_CONFIG::wifi_start_pass()
{
    using board::Network;
    if (wifi_ap_state != kApRunning) {
        // Only an IPv4 address reaches the shell.
        bool up = Utils::isDottedQuad(wifi_ip)
                  && Utils::system_mutex(QString("ifconfig wlan0 %1 netmask 255.255.255.0 up").arg(wifi_ip), nullptr) == 0
                  && Utils::system_mutex("hostapd -B /etc/rtl_hostapd_2G.conf", nullptr) == 0
                  && Utils::system_mutex("udhcpd /etc/udhcpd.conf", nullptr) == 0;
        if (!up) {
            KEL_TRACE("\n WiFi access point not started (%s)\n", wifi_ip.toLatin1().constData());
            wifi_ap_state = 1;
            return wifi_ap_state;
        }
    }
    auto value = [](const char* name, Network::IfValue what) {
        return QString::fromStdString(Network::interfaceValue(name, what)).trimmed();
    };
    set_field(kMode, "2");
    set_field(kWlan0Ip, value("wlan0", Network::IfValue::Address));
    set_field(kTcpPort, QString::number(g_port.load()));
    set_field(kWlan0Mac, value("wlan0", Network::IfValue::Mac));
    set_field(kWlan1Ip, value("wlan1", Network::IfValue::Address));
    set_field(kWlan1Gateway, value("wlan1", Network::IfValue::Gateway));
    set_field(kWlan1Port, "5005");
    set_field(kWlan1Mask, value("wlan1", Network::IfValue::Mask));
    set_field(kWlan1Mac, value("wlan1", Network::IfValue::Mac));
    wifi_ap_state = kApRunning;
    return wifi_ap_state;
}

int M57_WIFI_CONFIG::wifi_AT_cmd_manage(unsigned char* data, unsigned int len)
{
    if (!data || len < 2 || data[0] != 'A' || data[1] != 'T')
        return 0;   // not an AT command: dropped
    unsigned n = len;
    while (n > 2 && (data[n - 1] == '\r' || data[n - 1] == '\n' || data[n - 1] == 0))
        --n;
    static const char ok[] = "OK\r\n";
    static const char error[] = "ERROR\r\n";
    const char* answer = n == 2 ? ok : error;
    if (udpnetManage* u = m_udp)
        u->queue_13769_answer(reinterpret_cast<const unsigned char*>(answer), unsigned(std::strlen(answer)), at_peer);
    return 0;
}

QString M57_WIFI_CONFIG::field(int index) const
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return index >= 0 && index < kFields ? m_fields[index] : QString();
}

void M57_WIFI_CONFIG::set_field(int index, const QString& text)
{
    std::lock_guard<std::mutex> hold(m_mutex);
    if (index >= 0 && index < kFields)
        m_fields[index] = text;
}
