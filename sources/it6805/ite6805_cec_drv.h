#pragma once
// Register-level operations of the IT6805 CEC engine.

#include <cstdint>

class ite6805_sys;

class ite6805_cec_drv {
public:
    explicit ite6805_cec_drv(ite6805_sys* owner) : owner_(owner) {}

    [[nodiscard]] int iTE6805_CEC_Fire_Tx();   // 0 fired, 1 not taken
    void iTE6805_CEC_INIT_CMD(uint8_t ownAddress, uint8_t destination, int dev);
    int iTE6805_CEC_Check_Fire_Ready();
    int iTE6805_CEC_Check_IsPollingMsg();
    // Pulsed (the release tried whatever the set did); not taken whole, pulsed again on the
    // next service (rx_reset_owed).
    void iTE6805_CEC_Reset_RX_FIFO(int dev);
    bool rx_reset_owed = false;
    int iTE6805_CEC_Get_TxFailStatus();
    [[nodiscard]] int iTE6805_CEC_Clear_INT();   // 0 ok, 1 failed
    // Queues the message whose three header bytes were read; 0 queued or dropped, 1 the
    // queue is full (the header stays pending).
    int iTE6805_CEC_RX_CMD_Push(const uint8_t* header, int dev);
    // Takes the next queued message into the received record; 1 when one was taken.
    int iTE6805_CEC_RX_CMD_Pull(int dev);

private:
    ite6805_sys* owner_;
};
