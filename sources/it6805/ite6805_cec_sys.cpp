#include "sources/it6805/ite6805_cec_sys.h"

#include "sources/it6805/ite6805_cec_drv.h"
#include "sources/it6805/ite6805_cec_feture.h"
#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "sources/it6805/ite6805_sys.h"

#include "board/Clock.h"

#include <cstdio>
#include <cstring>

// Per opcode: bits 0-4 the smallest message length (header and opcode included), bit 7
// accepted when addressed to this device, bits 5-6 accepted when broadcast; 0 = unknown.
const uint8_t ite6805_cec_sys::cec_msg_size[256] = {
    /*0x00*/ 0x84, 0, 0, 0, 0x82, 0x82, 0x82, 0x87, 0x83, 0x83, 0x83, 0x82, 0, 0x82, 0, 0x82,
    /*0x10*/ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x83, 0x83, 0, 0, 0, 0,
    /*0x20*/ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0x30*/ 0, 0, 0x65, 0x8D, 0x8D, 0x83, 0xE2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0x40*/ 0, 0x83, 0x83, 0x83, 0x83, 0x82, 0x82, 0x82, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0x50*/ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0x60*/ 0, 0, 0, 0, 0x84, 0, 0, 0x83, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0x70*/ 0x82, 0x82, 0xE3, 0, 0, 0, 0, 0, 0, 0, 0x83, 0, 0, 0x82, 0x83, 0,
    /*0x80*/ 0x66, 0x64, 0x64, 0x82, 0x65, 0x62, 0x64, 0x65, 0, 0x82, 0xE2, 0xE2, 0x82, 0x83, 0x83, 0x82,
    /*0x90*/ 0xA3, 0x82, 0x86, 0x89, 0, 0, 0, 0x90, 0, 0x90, 0x83, 0, 0, 0x84, 0x83, 0x82,
    /*0xA0*/ 0xE5, 0x8C, 0x8C, 0x85, 0x83, 0x82, 0x66, 0x64, 0x66, 0, 0, 0, 0, 0, 0, 0,
    /*0xB0*/ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0xC0*/ 0x82, 0x82, 0x82, 0x82, 0x82, 0x82, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0xD0*/ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0xE0*/ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    /*0xF0*/ 0, 0, 0, 0, 0, 0, 0, 0, 0x62, 0, 0, 0, 0, 0, 0, 0x82,
};

void ite6805_cec_sys::iTE6805_CEC_INIT(int dev)
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    iTE6805_CEC_RECORD& r = cec[dev];
    owner_->CECState[dev] = STATECEC_None;
    r.MyLogicalAddr = 0;
    r.MyPhysicalAddr[0] = r.MyPhysicalAddr[1] = 0;
    r.RxRead = r.RxWrite = 0;
    r.PendingHeader[0] = r.PendingHeader[1] = r.PendingHeader[2] = 0;
    r.RxHold = 0;
    r.TxBusy = 0;
    r.TxHead = r.TxCount = 0;
    int failed = io->cecwr_6805(0x08, 0x4C);
    failed |= io->cecwr_6805(0x08, 0x48);
    failed |= io->cecwr_6805(0x09, 0x60);
    failed |= io->cecwr_6805(0x0B, 0x14);
    // Register 0x0C is a byte: a unit above 255 (oscillators from 25600 kHz) is held at
    // 255, the closest value it can hold, rather than wrapping to a tiny one.
    const uint16_t unit = owner_->p_ite6805_drv->CECTimeUnit[dev];
    failed |= io->cecwr_6805(0x0C, uint8_t(unit < 255 ? unit : 255));
    failed |= io->cecset_6805(0x08, 0x04, 0x00);
    failed |= io->cecset_6805(0x09, 0x02, 0x00);
    failed |= io->cecwr_6805(0x06, 0x00);
    failed |= io->cecset_6805(0x08, 0x01, 0x01);
    owner_->p_cec_drv->iTE6805_CEC_Reset_RX_FIFO(dev);
    failed |= io->cecwr_6805(0x22, 0x00);
    failed |= io->cecwr_6805(0x0A, 0x03);
    failed |= io->cecset_6805(0x0A, 0x40, 0x40);
    init_owed[dev] = failed || owner_->p_cec_drv->rx_reset_owed;
}

void ite6805_cec_sys::iTE6805_hdmirx_CEC_irq(int dev)
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    if (init_owed[dev]) {
        iTE6805_CEC_INIT(dev);
        if (init_owed[dev])
            return;
    }
    if (owner_->p_cec_drv->rx_reset_owed)
        owner_->p_cec_drv->iTE6805_CEC_Reset_RX_FIFO(dev);
    const uint8_t status = io->cecrd_6805(0x4C);
    if (io->cecwr_6805(0x4C, status))
        return;   // not acknowledged: served on the next pass
    iTE6805_CEC_RECORD& r = cec[dev];
    if (status & 0x28)
        r.TxBusy = 0;
    if (status & 0x20)
        iTE6805_CEC_chg(STATECEC_TXDone, dev);
    if (status & 0x08)
        iTE6805_CEC_chg(STATECEC_TXDonePolling, dev);
    if (r.TxBusy && board::Clock::monotonicUs() - r.TxFiredUs >= uint64_t(kTxWaitMs) * 1000) {
        std::printf("iTE6805_CEC transmit not done after %d ms\n", kTxWaitMs);
        r.TxBusy = 0;
    }
    // Replies that waited go out before any this event adds, one per transmit-done.
    fire_next(dev);
    if (status & 0x14)
        iTE6805_CEC_chg(STATECEC_RXCheck, dev);
    if (status & 0xC0)
        owner_->p_cec_drv->iTE6805_CEC_Reset_RX_FIFO(dev);
}

void ite6805_cec_sys::iTE6805_CEC_chg(uint8_t state, int dev)
{
    ite6805_cec_drv* drv = owner_->p_cec_drv;
    iTE6805_CEC_RECORD& r = cec[dev];
    owner_->CECState[dev] = STATECEC_Type(state);
    switch (state) {
    case STATECEC_TXDonePolling:
        if (drv->iTE6805_CEC_Check_IsPollingMsg())
            drv->iTE6805_CEC_Get_TxFailStatus();
        break;
    case STATECEC_TXDone:
        if (!drv->iTE6805_CEC_Check_IsPollingMsg()) {
            // A failed transmission is reported and not repeated.
            if (drv->iTE6805_CEC_Get_TxFailStatus() == 2 && drv->iTE6805_CEC_Check_Fire_Ready() && drv->iTE6805_CEC_Fire_Tx())
                std::printf("iTE6805_CEC repeat not taken\n");
        }
        break;
    case STATECEC_RXCheck:
        iTE6805_CEC_CMD_Push_To_Queue_Handler(dev);
        while (drv->iTE6805_CEC_RX_CMD_Pull(dev)) {
            iTE6805_CEC_CMD_Print(r.RxMessage);
            if (iTE6805_CEC_CMD_Check(r.RxMessage, dev))
                owner_->p_cec_feture->iTE6805_CEC_CMD_Feature_decode(r.RxMessage, dev);
        }
        r.RxRead = r.RxWrite = 0;
        break;
    default:
        break;
    }
}

void ite6805_cec_sys::iTE6805_CEC_CMD_Push_To_Queue_Handler(int dev)
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    ite6805_cec_drv* drv = owner_->p_cec_drv;
    iTE6805_CEC_RECORD& r = cec[dev];
    uint8_t fifo[3] = {0, 0, 0};
    // A status or header not read: the messages stay in the FIFO for the next interrupt.
    if (!io->cecbrd_it6805(0x51, 3, fifo))
        return;
    // The FIFO holds at most 16 messages; a chip that keeps reporting more is not followed.
    for (int round = 0; round < 16 && !(fifo[0] & 0xCC); ++round) {
        if (r.PendingHeader[0] || r.PendingHeader[2]) {
            if (drv->iTE6805_CEC_RX_CMD_Push(r.PendingHeader, dev))
                return;
        }
        const int count = fifo[1] & 0x0F;
        for (int m = 0; m < count; ++m) {
            if (!io->cecbrd_it6805(0x4D, 3, r.PendingHeader) || drv->iTE6805_CEC_RX_CMD_Push(r.PendingHeader, dev))
                return;
        }
        if (!io->cecbrd_it6805(0x51, 3, fifo) || (fifo[1] & 0x0F) == 0)
            return;
    }
    if (fifo[0] & 0xCC)
        drv->iTE6805_CEC_Reset_RX_FIFO(dev);
}

int ite6805_cec_sys::iTE6805_CEC_CMD_Check(const CEC_FRAME& m, int dev)
{
    const iTE6805_CEC_RECORD& r = cec[dev];
    if (m.initiator != 15 && m.initiator == r.MyLogicalAddr)
        return 0;
    const uint8_t entry = cec_msg_size[m.opcode];
    if (m.size < 2 || m.size > kMaxMessage || m.size < (entry & 0x1F))
        return 0;
    if (m.destination == r.MyLogicalAddr)
        return (entry == 0 || (entry & 0x80)) ? 1 : 0;
    if (m.destination == 15)
        return (entry == 0 || (entry & 0x60)) ? 1 : 0;
    return 0;
}

// Replies are queued and go out one at a time: the transmit buffer is not rewritten while
// a frame is on the bus, and the input thread never waits for the bus.
void ite6805_cec_sys::iTE6805_CEC_CMD_Ready_To_Fire(int dev)
{
    iTE6805_CEC_RECORD& r = cec[dev];
    if (r.TxCount == kTxQueue) {
        std::printf("iTE6805_CEC reply queue full, reply 0x%02X dropped\n", r.TxMessage.opcode);
        return;
    }
    const CEC_FRAME& t = r.TxMessage;
    uint8_t* entry = r.TxQueue[(r.TxHead + r.TxCount) % kTxQueue];
    entry[0] = t.size <= 17 ? t.size : 17;
    entry[1] = t.header;
    entry[2] = t.opcode;
    std::memcpy(entry + 3, t.operand, sizeof t.operand);
    ++r.TxCount;
    fire_next(dev);
}

void ite6805_cec_sys::fire_next(int dev)
{
    iTE6805_CEC_RECORD& r = cec[dev];
    if (r.TxBusy || r.TxCount == 0)
        return;
    const uint8_t* entry = r.TxQueue[r.TxHead];
    r.TxHead = uint8_t((r.TxHead + 1) % kTxQueue);
    --r.TxCount;
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    // A message not taken ends in the transmit time-out like one nobody acknowledged.
    if (io->cecwr_6805(0x23, entry[0]) || io->cecbwr_it6805(0x10, entry[0], entry + 1) || owner_->p_cec_drv->iTE6805_CEC_Fire_Tx())
        std::printf("iTE6805_CEC reply not taken\n");
    r.TxBusy = 1;
    r.TxFiredUs = board::Clock::monotonicUs();
}
