#pragma once
// Register-level operations of the IT6805 CEC engine.

#include <cstdint>

class ite6805_sys;

class ite6805_cec_drv {
public:
    explicit ite6805_cec_drv(ite6805_sys* owner) : owner_(owner) {}

    void iTE6805_CEC_Fire_Tx();
    void iTE6805_CEC_INIT_CMD(uint8_t ownAddress, uint8_t destination, int dev);
    int iTE6805_CEC_Check_Fire_Ready();
    int iTE6805_CEC_Check_IsPollingMsg();
    void iTE6805_CEC_Reset_RX_FIFO(int dev);
    int iTE6805_CEC_Get_TxFailStatus();
    void iTE6805_CEC_Clear_INT();
    // Queues the message whose three header bytes were read; 0 queued or dropped, 1 the
    // queue is full (the header stays pending).
    int iTE6805_CEC_RX_CMD_Push(const uint8_t* header, int dev);
    // Takes the next queued message into the received record; 1 when one was taken.
    int iTE6805_CEC_RX_CMD_Pull(int dev);

private:
    ite6805_sys* owner_;
};
