#include "cloud/uart_inout_4G.h"

#include "cloud/message_deal_4g.h"
#include "core/global.h"
#include "core/utils.h"

#include <fcntl.h>
#include <mutex>

Kx_uart_inout_4G* Kx_uart_inout_4G::p_uart_4G = nullptr;

namespace {
std::mutex g_instance_mutex;
} // namespace

Kx_uart_inout_4G* Kx_uart_inout_4G::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!p_uart_4G) {
        p_uart_4G = new Kx_uart_inout_4G();
        if (p_uart_4G->open_port(kPort, g_BPS.load(), O_RDWR | O_NOCTTY | O_NONBLOCK) >= 0)
            if (p_uart_4G->start_thread() != 0)   // the 4G link stays silent; the rest runs on
                KEL_TRACE("\n 4G receive thread not started\n");
    }
    return p_uart_4G;
}

Kx_uart_inout_4G::Kx_uart_inout_4G() {}

Kx_uart_inout_4G::~Kx_uart_inout_4G()
{
    m_stop = true;
    m_link.serial()->wake();   // ends the thread's wait on the line
    if (m_thread.joinable())
        m_thread.join();
    if (p_uart_4G == this)
        p_uart_4G = nullptr;
}

int Kx_uart_inout_4G::start_thread()
{
    try {
        m_thread = std::thread(&Kx_uart_inout_4G::receive_thread_4G, this);
    } catch (...) {
        writeLogMsg(LOG_ERROR, "create uart receive_thread_4G failed");
        return 255;
    }
    return 0;
}

void* Kx_uart_inout_4G::receive_thread_4G(void* arg)
{
    Kx_uart_inout_4G* self = static_cast<Kx_uart_inout_4G*>(arg);
    // Blocks in poll while the line is quiet, up to a second (bytes or the destructor end the
    // wait); new cloud settings reload the properties at once where they are stored, so the
    // line's own reload may wait for the next pass.
    while (self && !self->m_stop)
        self->receive_pass_4G(1000);
    return nullptr;
}

void Kx_uart_inout_4G::receive_pass_4G(int wait_ms)
{
    bool reconfig = false;
    {
        std::lock_guard<std::mutex> hold(Utils::_reconfig_4g_mutex);
        if (g_reconfig_4g) {
            g_reconfig_4g = 0;
            reconfig = true;
        }
    }
    if (reconfig) {
        message_deal_4g().get_4G_property();
        ++reconfigurations;
    }
    m_link.receive_pass(wait_ms);
}
