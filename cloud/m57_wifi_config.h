#pragma once
// The board's WiFi access point: its thread brings the access point up on "wlan0" with the
// address of the keyed settings, and while it runs the WiFi module's AT datagrams on UDP
// 13769 are answered here. The interface values it keeps as text fields are part of the
// discovery record of the PC protocol.

#include "core/stop_signal.h"

#include <QString>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <thread>

class udpnetManage;

class M57_WIFI_CONFIG {
public:
    static constexpr int kFields = 16;
    // Field numbers read by the discovery record.
    enum Field {
        kMode = 0,          // "2": access point
        kWlan0Ip = 5,
        kTcpPort = 6,       // the configured TCP port as text
        kWlan0Mac = 7,
        kWlan1Ip = 11,
        kWlan1Gateway = 12,
        kWlan1Port = 13,    // "5005"
        kWlan1Mask = 14,
        kWlan1Mac = 15
    };
    // wifi_ap_state: 0 not started, 1 start failed (tried again), 3 access point running.
    static constexpr int kApRunning = 3;
    // A failed start is tried again after this long.
    static constexpr unsigned kRetryMs = 10000;

    // Creates the manager, takes the access point's address from g_str_wifi_ip and starts
    // its thread; hands the AT handler to the UDP side once both exist.
    static M57_WIFI_CONFIG* pInstance();
    static M57_WIFI_CONFIG* p_wifi;
    // Registers the AT handler of p_wifi with the UDP side (either may come first).
    static void attach(udpnetManage* udp);

    M57_WIFI_CONFIG();
    ~M57_WIFI_CONFIG();
    M57_WIFI_CONFIG(const M57_WIFI_CONFIG&) = delete;
    M57_WIFI_CONFIG& operator=(const M57_WIFI_CONFIG&) = delete;

    // One pass of the thread: starts the access point unless it runs and refreshes the
    // interface fields. Returns wifi_ap_state.
    [[nodiscard]] int wifi_start_pass();
    static void* WiFi_Start_Thread(void* arg);
    void start_thread();

    // Serves one AT datagram from at_peer; 0 = consumed. "AT" is answered "OK\r\n",
    // any other AT command "ERROR\r\n"; a datagram that is no AT command is dropped.
    [[nodiscard]] int wifi_AT_cmd_manage(unsigned char* data, unsigned int len);
    sockaddr_in at_peer{};

    QString field(int index) const;
    void set_field(int index, const QString& text);

    std::atomic<int> wifi_ap_state{0};
    QString wifi_ip;     // the access point's address

private:
    mutable std::mutex m_mutex;
    QString m_fields[kFields];
    udpnetManage* m_udp = nullptr;   // where the answers go (set by attach)
    StopSignal m_stop;
    std::thread m_thread;
};
