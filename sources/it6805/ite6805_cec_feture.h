#pragma once
// Decoding of received CEC messages and the replies of a TV.

#include <cstdint>

class ite6805_sys;
struct CEC_FRAME;
class ite6805_cec_sys;

class ite6805_cec_feture {
public:
    explicit ite6805_cec_feture(ite6805_sys* owner) : owner_(owner) {}

    uint8_t PowerStatus = 0;   // 0 = on

    void iTE6805_CEC_CMD_Feature_decode(const CEC_FRAME& message, int dev);
    void iTE6805_CEC_MSG_Reply_Feture_Abort(uint8_t destination, uint8_t opcode, int dev);
    void iTE6805_CEC_MSG_SET_OSD_NAME(uint8_t destination, int dev);
    void iTE6805_CEC_MSG_Future_Report_PA(int dev);
    void iTE6805_CEC_MSG_ACTIVE_SOURCE(int dev);
    void iTE6805_CEC_MSG_Device_VenderID(int dev);
    void iTE6805_CEC_MSG_REPORT_POWER_STATUS(uint8_t destination, int dev);
    void iTE6805_CEC_MSG_Reply_CEC_Version(uint8_t destination, int dev);

private:
    ite6805_cec_sys* start(uint8_t destination, uint8_t opcode, int dev);
    void operand(uint8_t value, int dev);
    ite6805_sys* owner_;
};
