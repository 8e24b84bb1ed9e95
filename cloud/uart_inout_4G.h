#pragma once
// The 4G module's serial link on port 1: the PC protocol's frames (the module passes on the
// cloud's requests) answered as link 4, frames for the receiving cards passed through to
// them and answered on this line, plus the module's own group 0xC4. New cloud
// settings (g_reconfig_4g) make the link reload the cloud properties.

#include "protocol/uart_inout.h"

#include <atomic>
#include <thread>

class Kx_uart_inout_4G {
public:
    static constexpr int kPort = 1;

    // Opens serial port 1 at g_BPS and starts the receive thread.
    static Kx_uart_inout_4G* pInstance();
    static Kx_uart_inout_4G* p_uart_4G;

    Kx_uart_inout_4G();
    ~Kx_uart_inout_4G();
    Kx_uart_inout_4G(const Kx_uart_inout_4G&) = delete;
    Kx_uart_inout_4G& operator=(const Kx_uart_inout_4G&) = delete;

    // Opens the port only: the descriptor, or a negative value (the link then stays silent).
    int open_port(int port, int speed, int flags) { return m_link.open_port(port, speed, flags); }
    // One pass of the receive thread: a pending re-initialisation, then up to wait_ms for
    // the line and the answers to every complete frame.
    void receive_pass_4G(int wait_ms);
    static void* receive_thread_4G(void* arg);
    [[nodiscard]] int start_thread();

    Kx_uart_inout& link() { return m_link; }
    std::atomic<unsigned> reconfigurations{0};   // re-initialisations taken

private:
    Kx_uart_inout m_link{4};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
