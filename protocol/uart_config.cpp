#include "protocol/uart_config.h"

Uart_Config::Uart_Config() {}

Uart_Config::~Uart_Config() {}
