#pragma once
// An empty serial-configuration class; nothing in the system creates it.
class Uart_Config {
public:
    Uart_Config();
    ~Uart_Config();
};
