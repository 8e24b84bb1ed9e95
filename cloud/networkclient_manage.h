#pragma once
// The TCP cloud client: its thread keeps a connection to the cloud server of the keyed
// settings (address and port of the cloud binding) and connects again when new cloud
// settings ask for it. What travels on the connection is the cloud service's own protocol,
// which this build does not speak: received data is taken and dropped.

#include "core/stop_signal.h"

#include <atomic>
#include <thread>

class TcpClinet;

class networkclient_Manage {
public:
    // A failed connection is tried again after this long.
    static constexpr unsigned kRetryMs = 5000;

    static networkclient_Manage* pInstance();
    static networkclient_Manage* p_networkclient_Manage;

    networkclient_Manage();
    ~networkclient_Manage();
    networkclient_Manage(const networkclient_Manage&) = delete;
    networkclient_Manage& operator=(const networkclient_Manage&) = delete;

    // One pass of the thread: takes a reconnection request, connects when not connected
    // (returns at once when there is no server to reach) or waits up to wait_ms for data.
    void client_pass(int wait_ms);
    static void* acceptThread(void* arg);
    // Starts the thread; 0, or 255 when it cannot start.
    [[nodiscard]] int start_thread();

    std::atomic<int> connected{0};   // 1 while the TCP client is connected
    TcpClinet* m_client;

private:
    StopSignal m_stop;
    std::thread m_thread;
};
