#pragma once
// HDMI-CEC engine of the IT6805 (CEC page at 0xC8): initialisation, interrupt service,
// the receive queue and the acceptance check. The device answers as a TV (logical
// address 0, physical address 0.0.0.0) and never starts a conversation.

#include <cstdint>

class ite6805_sys;

// A received or transmitted message: length, header, opcode, up to 15 operands, and for
// a received one the destination and initiator split out of the header.
struct CEC_FRAME {
    uint8_t size;
    uint8_t header;
    uint8_t opcode;
    uint8_t operand[15];
    uint8_t destination;
    uint8_t initiator;
    uint8_t reserved;
};
static_assert(sizeof(CEC_FRAME) == 21, "a CEC message record is 21 bytes");

struct iTE6805_CEC_RECORD {
    uint8_t MyLogicalAddr = 0;
    uint8_t MyPhysicalAddr[2] = {0, 0};
    uint8_t RxQueue[64] = {};
    uint8_t RxRead = 0;
    uint8_t RxWrite = 0;
    uint8_t PendingHeader[3] = {0, 0, 0};
    CEC_FRAME RxMessage = {};
    CEC_FRAME TxMessage = {};
    uint8_t RxHold = 0;
    uint8_t TxBusy = 0;     // a frame was fired and its transmit-done has not come yet
    uint64_t TxFiredUs = 0; // when it was fired
    // Replies waiting for the bus, each whole (length, then header, opcode, operands).
    uint8_t TxQueue[16][18] = {};
    uint8_t TxHead = 0;
    uint8_t TxCount = 0;
};

class ite6805_cec_sys {
public:
    static constexpr int kQueueSize = 64;
    static constexpr int kMaxMessage = 16;       // header, opcode and 14 operands
    // Longest time a frame may stay on the bus: our longest reply (5 bytes) takes about
    // 125 ms; after this without a transmit-done the next reply goes out all the same.
    static constexpr int kTxWaitMs = 200;
    static constexpr int kTxQueue = 16;
    static const uint8_t cec_msg_size[256];

    explicit ite6805_cec_sys(ite6805_sys* owner) : owner_(owner) {}

    iTE6805_CEC_RECORD cec[2];

    // Not taken whole (the timing unit among them): made again on the next service.
    void iTE6805_CEC_INIT(int dev);
    bool init_owed[2] = {false, false};
    void iTE6805_hdmirx_CEC_irq(int dev);
    void iTE6805_CEC_chg(uint8_t state, int dev);
    void iTE6805_CEC_CMD_Push_To_Queue_Handler(int dev);
    int iTE6805_CEC_CMD_Check(const CEC_FRAME& message, int dev);   // 1 good
    void iTE6805_CEC_CMD_Ready_To_Fire(int dev);
    void iTE6805_CEC_CMD_Print(const CEC_FRAME& /*message*/) {}

private:
    void fire_next(int dev);
    ite6805_sys* owner_;
};
