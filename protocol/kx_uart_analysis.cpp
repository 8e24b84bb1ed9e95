#include "protocol/kx_uart_analysis.h"

namespace {
std::mutex g_instance_mutex;
Kx_uart_analysis* g_instance = nullptr;
} // namespace

Kx_uart_analysis* Kx_uart_analysis::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!g_instance)
        g_instance = new Kx_uart_analysis();
    return g_instance;
}

Kx_uart_analysis::Kx_uart_analysis() = default;

Kx_uart_analysis::~Kx_uart_analysis()
{
    m_records.clear();
    m_text.clear();
}

void Kx_uart_analysis::uart_send_data(const Velin_UartData_Type& rec)
{
    std::lock_guard<std::mutex> hold(m_mutex);
    m_records.push_back(rec);
}

size_t Kx_uart_analysis::count()
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_records.size();
}
