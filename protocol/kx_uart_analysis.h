#pragma once
// A collector of serial chunks: records are appended under its lock and never taken out.
// Nothing in the system creates it.

#include <mutex>
#include <string>
#include <vector>

// One serial chunk with its length.
struct Velin_UartData_Type {
    unsigned char data[65556];
    int fd;
    int len;
};

class Kx_uart_analysis {
public:
    static Kx_uart_analysis* pInstance();

    Kx_uart_analysis();
    ~Kx_uart_analysis();

    void uart_send_data(const Velin_UartData_Type& rec);
    size_t count();

private:
    std::vector<Velin_UartData_Type> m_records;
    std::mutex m_mutex;
    std::string m_text;
};
