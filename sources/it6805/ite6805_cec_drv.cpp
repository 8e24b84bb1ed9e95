#include "sources/it6805/ite6805_cec_drv.h"

#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "sources/it6805/ite6805_sys.h"

#include <cstdio>
#include <cstring>

int ite6805_cec_drv::iTE6805_CEC_Fire_Tx()
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    return io->cecset_6805(0x08, 0x88, 0x08) || io->cecset_6805(0x08, 0x88, 0x88) ? 1 : 0;
}

void ite6805_cec_drv::iTE6805_CEC_INIT_CMD(uint8_t ownAddress, uint8_t destination, int dev)
{
    CEC_FRAME& t = owner_->p_cec_sys->cec[dev].TxMessage;
    std::memset(&t, 0, sizeof t);
    t.header = uint8_t(((ownAddress & 0x0F) << 4) | (destination & 0x0F));
    t.size = 1;
}

int ite6805_cec_drv::iTE6805_CEC_Check_Fire_Ready()
{
    // The chip's ready bit is read but a failed message is never sent again.
    owner_->p_i2c->cecrd_6805(0x44);
    return 0;
}

int ite6805_cec_drv::iTE6805_CEC_Check_IsPollingMsg()
{
    const uint8_t header = owner_->p_i2c->cecrd_6805(0x10);
    return (header >> 4) == (header & 0x0F) ? 1 : 0;
}

void ite6805_cec_drv::iTE6805_CEC_Reset_RX_FIFO(int /*dev*/)
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    const int held = io->cecset_6805(0x52, 0x40, 0x40);
    rx_reset_owed = (io->cecset_6805(0x52, 0x40, 0x00) | held) != 0;
}

int ite6805_cec_drv::iTE6805_CEC_Get_TxFailStatus()
{
    switch (owner_->p_i2c->cecrd_6805(0x54) & 0x03) {
    case 1: return 1;
    case 2: return 2;
    default: return 0;
    }
}

int ite6805_cec_drv::iTE6805_CEC_Clear_INT()
{
    return owner_->p_i2c->cecset_6805(0x08, 0x01, 0x01);
}

int ite6805_cec_drv::iTE6805_CEC_RX_CMD_Push(const uint8_t* header, int dev)
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    iTE6805_CEC_RECORD& r = owner_->p_cec_sys->cec[dev];
    const uint8_t length = header[2];
    if (length & 0x60) {
        r.PendingHeader[0] = r.PendingHeader[2] = 0;
        return 0;
    }
    const int n = length & 0x1F;
    if (n < 2 || n > ite6805_cec_sys::kMaxMessage) {
        // Not a CEC message: its operands cannot be told apart from the next message's,
        // so the FIFO starts over.
        std::printf("iTE6805_CEC drop message of length %d\n", n);
        r.PendingHeader[0] = r.PendingHeader[2] = 0;
        iTE6805_CEC_Reset_RX_FIFO(dev);
        return 0;
    }
    constexpr int size = ite6805_cec_sys::kQueueSize;
    // One byte stays free, so a full ring never looks empty.
    const int free = (r.RxRead - r.RxWrite - 1 + size) % size;
    if (free < n + 1)
        return 1;
    const uint8_t h = header[0], op = header[1];
    r.RxQueue[r.RxWrite] = uint8_t(n + 1);
    r.RxQueue[(r.RxWrite + 1) % size] = h;
    r.RxQueue[(r.RxWrite + 2) % size] = op;
    r.PendingHeader[0] = r.PendingHeader[2] = 0;
    const int start = (r.RxWrite + 3) % size;
    const int operands = n - 2;
    if (operands > 0) {
        // Operands not read: the message is not queued (a later one may be whole).
        if (start + operands <= size) {
            if (!io->cecbrd_it6805(0x50, operands, r.RxQueue + start))
                return 0;
        } else {
            for (int i = 0; i < operands; ++i)
                r.RxQueue[(start + i) % size] = io->cecrd_6805(0x50);
        }
    }
    r.RxWrite = uint8_t((r.RxWrite + n + 1) % size);
    return 0;
}

int ite6805_cec_drv::iTE6805_CEC_RX_CMD_Pull(int dev)
{
    iTE6805_CEC_RECORD& r = owner_->p_cec_sys->cec[dev];
    constexpr int size = ite6805_cec_sys::kQueueSize;
    CEC_FRAME& m = r.RxMessage;
    std::memset(&m, 0, sizeof m);
    if (r.RxHold == 1)
        return 0;
    const int queued = (r.RxWrite - r.RxRead + size) % size;
    if (queued < 3)
        return 0;
    const int entry = r.RxQueue[r.RxRead];
    // An entry that is too short, runs past the queued bytes or would not fit the
    // message record leaves the rest of the queue untrusted.
    if (entry < 3 || entry > queued || entry - 1 > 2 + int(sizeof m.operand)) {
        r.RxRead = r.RxWrite;
        return 0;
    }
    m.header = r.RxQueue[(r.RxRead + 1) % size];
    m.opcode = r.RxQueue[(r.RxRead + 2) % size];
    for (int i = 0; i < entry - 3; ++i)
        m.operand[i] = r.RxQueue[(r.RxRead + 3 + i) % size];
    r.RxRead = uint8_t((r.RxRead + entry) % size);
    m.size = uint8_t(entry - 1);
    m.destination = m.header & 0x0F;
    m.initiator = uint8_t(m.header >> 4);
    return 1;
}
