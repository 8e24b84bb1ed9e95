#pragma once
// Receiver equaliser of the IT6805: starts the chip's automatic equaliser when the input
// clock is valid (HDMI 1.x auto EQ, or on HDMI 2.0 links the SAR EQ with decision-feedback
// equalisation), judges the per-channel bit-error counters, falls back to a manual sweep
// over a short table of RS values, and keeps checking the link while it runs. The
// per-port registers lie in bank 3 (port 0) or bank 7 (port 1); every operation returns
// to bank 0.

#include "sources/RegRead.h"

#include <cstdint>

class ite6805_sys;

class ite6805_eq {
public:
    explicit ite6805_eq(ite6805_sys* owner);

    static const uint8_t RS_Value[14];
    static const uint8_t iTE6805_EQ_Table_Hdmi20[4];
    static const uint8_t iTE6805_EQ_Table_Hdmi10[4];

    struct Device {
        uint8_t FlagEQDone = 0;
        uint8_t FlagBit7 = 0;
        uint8_t FlagBit5 = 0;
        uint8_t FlagEQFail = 0;
        uint8_t RSSkewPending = 0;
        uint8_t SAREQMode = 0;
        uint8_t EQResultSaturated = 0;
        uint8_t HDMI1Mode = 0;
        uint8_t HDMI2Mode = 0;
        uint8_t EQValue[3] = {0, 0, 0};
        uint8_t ChannelOK[3] = {0, 0, 0};
        uint8_t FirstPass[3] = {0, 0, 0};
        uint8_t PassTrial[3] = {0, 0, 0};
        uint8_t WaitCount = 0;
        uint8_t CheckCount = 0;
        uint8_t CheckPeriod = 1;
        uint16_t EQResultWord[2][3] = {{0, 0, 0}, {0, 0, 0}};
        uint8_t ErrCounter[5][3][2] = {};          // slot, channel, {low, high}
        uint32_t ErrSum[3] = {0, 0, 0};
        uint8_t DFE[14][3][3] = {};
        uint8_t TrialRS = 0;
        uint8_t BestRS[3] = {0, 0, 0};
        uint16_t MinErr[3] = {0, 0, 0};
        uint8_t TMDSAbove1G = 0;
        uint8_t Sweeps = 0;            // full manual sweeps since the last clock or cable change
        uint8_t GaveUp = 0;            // sweeps exhausted: best setting kept, no more counts
        uint8_t CheckAgainNext = 0;    // the setting of a finished sweep is judged next pass
    };
    // A link that no setting clears is swept this many times, then left on its best one.
    static constexpr uint8_t kMaxSweeps = 3;
    Device eq[2];
    uint16_t TrialCount = 0;                       // shared by both devices
    const uint8_t* EQTable = iTE6805_EQ_Table_Hdmi10;

    void iTE6805_EQ_fsm(int dev);
    void iTE6805_EQ_chg(uint32_t state, int dev);
    void iTE6805_hdmirx_port0_EQ_irq(int dev);
    void iTE6805_hdmirx_port1_EQ_irq(int dev);
    // 1 every channel passes, 0 not, -1 not known (a count or parity read unanswered: judged again).
    int iTE6805_BitErr_Check_Again(int dev);

    void iTE6805_Trigger_EQ(int dev);
    void iTE6805_Trigger_SAREQ(int dev);
    void iTE6805_Trigger_RSSKEW_EQ(int dev);
    void iTE6805_Reset_EQ(int dev);
    bool iTE6805_Set_EQResult_Flag(int dev);   // false: not read whole, the flag as it was
    void iTE6805_Report_EQ(int dev);
    void iTE6805_Report_Skew(int dev);
    bool iTE6805_BitErr_Get(int dev);   // false: a count not read (the counts known stay)
    int iTE6805_BitErr_Check(int dev);   // as iTE6805_BitErr_Check_Again
    int iTE6805_BitErr_Check_For_Parity_Error(int dev);   // 1 clean, 0 not, -1 not known
    bool iTE6805_Get_DFE(int channel, int dev);   // false: not read whole, the taps known stay
    void iTE6805_Set_DFE(uint8_t rs, int channel, int dev);
    static int iTE6805_Find_indexof_DEF(uint8_t rs);
    bool iTE6805_Sweep_Exhausted(int dev);
    void iTE6805_Give_Up(int dev);

private:
    int eqBank(int dev) const;
    uint8_t rd(uint8_t reg, int dev);   // counted: see the definition
    RegRead rd_result(uint8_t reg, int dev);
    void wr(uint8_t reg, uint8_t value, int dev);
    void set(uint8_t reg, uint8_t mask, uint8_t value, int dev);
    void bank(int b, int dev);
    bool hdmi2(int dev);
    ite6805_sys* owner_;
};
