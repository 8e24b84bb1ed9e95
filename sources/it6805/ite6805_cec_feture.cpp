#include "sources/it6805/ite6805_cec_feture.h"

#include "sources/it6805/ite6805_cec_drv.h"
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_sys.h"

namespace {
constexpr uint8_t kBroadcast = 15;
constexpr uint8_t kRefused = 4;
} // namespace

void ite6805_cec_feture::operand(uint8_t value, int dev)
{
    CEC_FRAME& t = owner_->p_cec_sys->cec[dev].TxMessage;
    if (t.size >= 2 && t.size < 17)
        t.operand[t.size - 2] = value;
    if (t.size < 17)
        ++t.size;
}

void ite6805_cec_feture::iTE6805_CEC_CMD_Feature_decode(const CEC_FRAME& m, int dev)
{
    switch (m.opcode) {
    case 0x0F:
    case 0x42:
    case 0xFF:
        iTE6805_CEC_MSG_Reply_Feture_Abort(m.initiator, m.opcode, dev);
        break;
    case 0x46: iTE6805_CEC_MSG_SET_OSD_NAME(m.initiator, dev); break;
    case 0x83: iTE6805_CEC_MSG_Future_Report_PA(dev); break;
    case 0x85: iTE6805_CEC_MSG_ACTIVE_SOURCE(dev); break;
    case 0x8C: iTE6805_CEC_MSG_Device_VenderID(dev); break;
    case 0x8F: iTE6805_CEC_MSG_REPORT_POWER_STATUS(m.initiator, dev); break;
    case 0x9F: iTE6805_CEC_MSG_Reply_CEC_Version(m.initiator, dev); break;
    default: break;
    }
}

ite6805_cec_sys* ite6805_cec_feture::start(uint8_t destination, uint8_t opcode, int dev)
{
    ite6805_cec_sys* sys = owner_->p_cec_sys;
    owner_->p_cec_drv->iTE6805_CEC_INIT_CMD(sys->cec[dev].MyLogicalAddr, destination, dev);
    sys->cec[dev].TxMessage.opcode = opcode;
    sys->cec[dev].TxMessage.size = 2;
    return sys;
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Reply_Feture_Abort(uint8_t destination, uint8_t opcode, int dev)
{
    ite6805_cec_sys* sys = start(destination, 0x00, dev);
    operand(opcode, dev);
    operand(kRefused, dev);
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_SET_OSD_NAME(uint8_t destination, int dev)
{
    ite6805_cec_sys* sys = start(destination, 0x47, dev);
    operand(0x68, dev);
    operand(0x05, dev);
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Future_Report_PA(int dev)
{
    ite6805_cec_sys* sys = start(kBroadcast, 0x84, dev);
    operand(sys->cec[dev].MyPhysicalAddr[0], dev);
    operand(sys->cec[dev].MyPhysicalAddr[1], dev);
    operand(0x00, dev);   // device type TV
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_ACTIVE_SOURCE(int dev)
{
    ite6805_cec_sys* sys = start(kBroadcast, 0x82, dev);
    operand(sys->cec[dev].MyPhysicalAddr[0], dev);
    operand(sys->cec[dev].MyPhysicalAddr[1], dev);
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Device_VenderID(int dev)
{
    ite6805_cec_sys* sys = start(kBroadcast, 0x87, dev);
    operand(0x00, dev);
    operand(0x00, dev);
    operand(0x00, dev);
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_REPORT_POWER_STATUS(uint8_t destination, int dev)
{
    ite6805_cec_sys* sys = start(destination, 0x90, dev);
    operand(PowerStatus, dev);
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}

void ite6805_cec_feture::iTE6805_CEC_MSG_Reply_CEC_Version(uint8_t destination, int dev)
{
    ite6805_cec_sys* sys = start(destination, 0x9E, dev);
    operand(0x06, dev);   // HDMI-CEC 2.0
    sys->iTE6805_CEC_CMD_Ready_To_Fire(dev);
}
