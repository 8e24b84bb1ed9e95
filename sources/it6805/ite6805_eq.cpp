#include "sources/it6805/ite6805_eq.h"

#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "sources/it6805/ite6805_sys.h"

#include <cstdio>
#include <cstdlib>

const uint8_t ite6805_eq::RS_Value[14] = {0x7F, 0x7E, 0x3F, 0x3E, 0x1F, 0x1E, 0x0F, 0x0E, 0x07, 0x06, 0x03, 0x02, 0x01, 0x00};
const uint8_t ite6805_eq::iTE6805_EQ_Table_Hdmi20[4] = {0x01, 0x07, 0x0F, 0x3F};
const uint8_t ite6805_eq::iTE6805_EQ_Table_Hdmi10[4] = {0x01, 0x3F, 0x07, 0x0F};

ite6805_eq::ite6805_eq(ite6805_sys* owner) : owner_(owner) {}

// Steps read through here compare the access object's errors before they count as done;
// the value of an unanswered read is 0 and is not kept beyond such a step.
uint8_t ite6805_eq::rd(uint8_t reg, int dev) { return owner_->p_i2c->hdmirxrd(reg, dev).value_or(0); }
RegRead ite6805_eq::rd_result(uint8_t reg, int dev) { return owner_->p_i2c->hdmirxrd(reg, dev); }
// Counted writes: a failure lands in the access object's errors, which the step that
// makes them compares before it counts as done (else it is made again).
void ite6805_eq::wr(uint8_t reg, uint8_t value, int dev) { (void)owner_->p_i2c->hdmirxwr(reg, value, dev); }
void ite6805_eq::set(uint8_t reg, uint8_t mask, uint8_t value, int dev) { (void)owner_->p_i2c->hdmirxset(reg, mask, value, dev); }
void ite6805_eq::bank(int b, int dev) { owner_->p_ite6805_drv->chgbank(b, dev); }
int ite6805_eq::eqBank(int dev) const { return owner_->iTE6805_DATA[dev].CurrentPort == 1 ? 7 : 3; }
// The clock ratio is a bank 0 status register; callers may have the EQ bank selected.
bool ite6805_eq::hdmi2(int dev)
{
    bank(0, dev);
    // Not read: HDMI 1.x (counted in errors: the step that asked is made again).
    return owner_->p_ite6805_drv->iTE6805_Check_HDMI2(dev).value_or(false);
}

// --- interrupts ----------------------------------------------------------------------------

void ite6805_eq::iTE6805_hdmirx_port0_EQ_irq(int dev)
{
    Device& e = eq[dev];
    bank(0, dev);
    // Not read: nothing announced this pass, the chip keeps its bits (not acknowledged).
    const uint8_t r07 = rd_result(0x07, dev).value_or(0);
    if (!r07)
        return;
    wr(0x07, uint8_t(r07 & ~0x08), dev);
    if (r07 & 0x10)
        e.FlagEQDone = 1;
    if (r07 & 0x20) {
        e.FlagBit5 = 1;
        (void)iTE6805_Set_EQResult_Flag(dev);   // not read: read again with the report
    }
    if (r07 & 0x40)
        e.FlagEQFail = 1;
    if (r07 & 0x80)
        e.FlagBit7 = 1;
    if (r07 & 0xF0) {
        bank(eqBank(dev), dev);
        set(0x22, 0x04, 0x00, dev);
    }
    bank(0, dev);
}

void ite6805_eq::iTE6805_hdmirx_port1_EQ_irq(int dev)
{
    Device& e = eq[dev];
    bank(0, dev);
    const RegRead read = rd_result(0x0C, dev);
    if (!read.ok())
        return;   // nothing announced this pass, the chip keeps its bits (not acknowledged)
    const uint8_t r0c = read.value();
    wr(0x0C, r0c, dev);
    if (r0c & 0x10)
        e.FlagEQDone = 1;
    if (r0c & 0x20)
        e.FlagBit5 = 1;
    if (r0c & 0x40)
        e.FlagEQFail = 1;
    if (r0c & 0x80)
        e.FlagBit7 = 1;
}

// --- transitions ---------------------------------------------------------------------------

void ite6805_eq::iTE6805_EQ_chg(uint32_t state, int dev)
{
    Device& e = eq[dev];
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    e.BestRS[0] = e.BestRS[1] = e.BestRS[2] = 0;
    if (d.EQState == STATEEQ_KeepEQStateUntil5VOff)
        return;
    d.EQState = state;
    if (state != STATEEQ_EQDone)
        e.GaveUp = 0;
    switch (state) {
    case STATEEQ_Off:
        // A clock or cable change: the link may be a new one, worth sweeping again.
        e.Sweeps = 0;
        e.CheckAgainNext = 0;
        iTE6805_Reset_EQ(dev);
        break;
    case STATEEQ_Start:
        e.TMDSAbove1G = (hdmi2(dev) || owner_->p_ite6805_drv->iTE6805_Check_TMDS_Bigger_Than_1G(dev).value_or(false)) ? 1 : 0;
        bank(eqBank(dev), dev);
        set(0xA7, 0x40, e.TMDSAbove1G ? 0x40 : 0x00, dev);
        break;
    case STATEEQ_WaitEQDone:
        e.WaitCount = 0;
        break;
    case STATEEQ_EQReport:
        if (e.FlagEQFail) {
            iTE6805_Report_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_CheckBitErr, dev);
            break;
        }
        if (e.FlagEQDone) {
            if (e.RSSkewPending == 1) {
                e.RSSkewPending = 0;
                iTE6805_Report_Skew(dev);
                iTE6805_EQ_chg(STATEEQ_CheckBitErr, dev);
                break;
            }
            iTE6805_Report_EQ(dev);
            iTE6805_Report_Skew(dev);
            if (e.SAREQMode == 1) {
                // The SAR result or a tap not read: the report is made again on the next
                // pass (an unanswered read-out written as a tap would stay until the clock changes).
                bool read = iTE6805_Set_EQResult_Flag(dev);
                for (int c = 0; read && !e.EQResultSaturated && c < 3; ++c)
                    read = iTE6805_Get_DFE(c, dev);
                if (!read) {
                    bank(0, dev);
                    break;
                }
                bank(eqBank(dev), dev);
                if (e.EQResultSaturated) {
                    // No usable SAR result: sweep by hand, then judge the first trial below.
                    set(0x22, 0x40, 0x00, dev);
                    bank(0, dev);
                    iTE6805_EQ_chg(STATEEQ_ManualEQ, dev);
                } else {
                    set(0x22, 0x40, 0x40, dev);
                }
                e.SAREQMode = 0;
            }
        }
        iTE6805_EQ_chg(STATEEQ_CheckBitErr, dev);
        break;
    case STATEEQ_CheckBitErr: {
        const int judged = iTE6805_BitErr_Check(dev);
        if (judged < 0)
            break;   // a count not read: judged again on the next pass
        if (judged) {
            e.RSSkewPending = 0;
            iTE6805_EQ_chg(STATEEQ_EQDone, dev);
            break;
        }
        const int slot = TrialCount < 5 ? TrialCount : 4;
        if (!e.ErrCounter[slot][0][1] && !e.ErrCounter[slot][1][1] && !e.ErrCounter[slot][2][1]) {
            // No channel counts at all: the source may scramble without having said so.
            bank(eqBank(dev), dev);
            const RegRead read = rd_result(0xE5, dev);
            if (!read.ok()) {
                bank(0, dev);
                break;   // not read: the state stays and is checked again on the next pass
            }
            const uint8_t e5 = read.value();
            const uint8_t field = (e5 & 0x10) ? 0x00 : (hdmi2(dev) ? 0x10 : 0x1C);
            bank(eqBank(dev), dev);
            set(0xE5, 0x1C, field, dev);
            bank(0, dev);
            iTE6805_EQ_chg(STATEEQ_Off, dev);
        } else if (e.RSSkewPending != 1) {
            iTE6805_EQ_chg(STATEEQ_ManualEQ, dev);
        } else {
            iTE6805_Trigger_RSSKEW_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_WaitEQDone, dev);
        }
        break;
    }
    case STATEEQ_ManualEQ: {
        ++TrialCount;
        if (TrialCount <= 4) {
            const int trial = TrialCount - 1;
            e.TrialRS = uint8_t(trial);
            bank(eqBank(dev), dev);
            wr(0x2C, 0x00, dev);
            wr(0x2D, 0x07, dev);
            const bool two = hdmi2(dev);
            for (int c = 0; c < 3; ++c) {
                if (e.ChannelOK[c])
                    continue;
                bank(eqBank(dev), dev);
                wr(uint8_t(0x27 + c), uint8_t(EQTable[trial] | 0x80), dev);
                if (two && !e.EQResultSaturated)
                    iTE6805_Set_DFE(EQTable[trial], c, dev);
            }
            bank(0, dev);
            // The trial is judged on the next pass: each judgement reads the error counters
            // for 100 ms, and a whole sweep in one pass would hold the input thread (and
            // with it inputs 0-2) for half a second.
            d.EQState = STATEEQ_CheckBitErr;
            break;
        }
        TrialCount = 0;
        for (int c = 0; c < 3; ++c) {
            if (e.ChannelOK[c])
                continue;
            uint16_t best = 0x7FFF;
            int bestTrial = -1;
            for (int t = 0; t < 4; ++t) {
                const uint8_t lo = e.ErrCounter[t + 1][c][0], hi = e.ErrCounter[t + 1][c][1];
                if (!(hi & 0x80))
                    continue;
                const uint16_t value = uint16_t(lo + 256 * (hi & 0x7F));
                if (value < best) {
                    best = value;
                    bestTrial = t;
                }
            }
            if (bestTrial >= 0) {
                e.EQValue[c] = EQTable[bestTrial];
                e.BestRS[c] = EQTable[bestTrial];
                e.MinErr[c] = best;
            }
        }
        if (!hdmi2(dev)) {
            bank(eqBank(dev), dev);
            for (int c = 0; c < 3; ++c)
                wr(uint8_t(0x27 + c), uint8_t(e.EQValue[c] ^ 0x80), dev);
            bank(0, dev);
            // The best setting is counted on the next pass: the last trial's count ran in
            // this one, and one pass holds at most one 100 ms count.
            e.CheckAgainNext = 1;
            iTE6805_EQ_chg(STATEEQ_ManualEQRetry, dev);
        } else if (iTE6805_Sweep_Exhausted(dev)) {
            for (int c = 0; c < 3; ++c) {
                if (e.ChannelOK[c])
                    continue;
                bank(eqBank(dev), dev);
                wr(uint8_t(0x27 + c), uint8_t(e.EQValue[c] | 0x80), dev);
                if (!e.EQResultSaturated)
                    iTE6805_Set_DFE(e.EQValue[c], c, dev);
            }
            bank(0, dev);
            iTE6805_Give_Up(dev);
        } else {
            e.RSSkewPending = 1;
            iTE6805_Trigger_RSSKEW_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_WaitEQDone, dev);
        }
        break;
    }
    case STATEEQ_EQDone:
        e.ErrSum[0] = e.ErrSum[1] = e.ErrSum[2] = 0;
        iTE6805_Report_EQ(dev);
        if (hdmi2(dev))
            iTE6805_Report_Skew(dev);
        break;
    default:
        break;
    }
    bank(0, dev);
}

void ite6805_eq::iTE6805_EQ_fsm(int dev)
{
    Device& e = eq[dev];
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    switch (d.EQState) {
    case STATEEQ_Start:
        if (!owner_->p_ite6805_drv->iTE6805_Check_CLK_Vaild(dev).value_or(false))
            break;   // not valid, or not read: looked at on the next pass
        e.HDMI1Mode = e.HDMI2Mode = 0;
        if (hdmi2(dev)) {
            EQTable = iTE6805_EQ_Table_Hdmi20;
            e.HDMI2Mode = e.SAREQMode = 1;
            if (iTE6805_BitErr_Check(dev) == 1) {
                iTE6805_EQ_chg(STATEEQ_EQDone, dev);
            } else {
                iTE6805_Trigger_SAREQ(dev);
                iTE6805_EQ_chg(STATEEQ_WaitEQDone, dev);
            }
        } else {
            EQTable = iTE6805_EQ_Table_Hdmi10;
            e.HDMI1Mode = 1;
            iTE6805_Trigger_EQ(dev);
            iTE6805_EQ_chg(STATEEQ_WaitEQDone, dev);
        }
        break;
    case STATEEQ_WaitEQDone:
        if (e.FlagEQFail || e.FlagEQDone) {
            iTE6805_EQ_chg(STATEEQ_EQReport, dev);
        } else if (e.WaitCount <= 30 && !(e.FlagBit7 && e.HDMI1Mode) && !(e.FlagBit5 && e.HDMI2Mode)) {
            ++e.WaitCount;
        } else {
            // The chip never reported: sweep by hand.
            std::printf("EQ wait time-out after %d passes, manual EQ\n", e.WaitCount);
            e.WaitCount = 0;
            e.FlagBit7 = e.FlagBit5 = 0;
            e.EQResultSaturated = 1;
            iTE6805_EQ_chg(STATEEQ_ManualEQ, dev);
        }
        break;
    case STATEEQ_ManualEQRetry:
        if (e.CheckAgainNext) {
            const int again = iTE6805_BitErr_Check_Again(dev);
            if (again < 0)
                break;   // a count not read: counted again on the next pass
            e.CheckAgainNext = 0;
            if (again == 1) {
                iTE6805_EQ_chg(STATEEQ_EQDone, dev);
                break;
            }
            if (iTE6805_Sweep_Exhausted(dev)) {
                iTE6805_Give_Up(dev);
                break;
            }
        }
        iTE6805_EQ_chg(STATEEQ_ManualEQ, dev);
        break;
    case STATEEQ_CheckBitErr:
    case STATEEQ_EQReport:
        // A sweep trial set on an earlier pass, or a report not read whole.
        iTE6805_EQ_chg(d.EQState, dev);
        break;
    case STATEEQ_EQDone:
        if (e.GaveUp)
            break;
        if (e.CheckCount == 0) {
            if (hdmi2(dev)) {
                if (d.Flag_VidStable_Done == 1)
                    (void)iTE6805_BitErr_Get(dev);   // summed while settled; not read, left out
            } else if (iTE6805_BitErr_Check_Again(dev) == 0) {   // not read: counted next time
                iTE6805_EQ_chg(STATEEQ_Start, dev);
            }
        }
        if (e.CheckCount != e.CheckPeriod) {
            ++e.CheckCount;
        } else {
            if (e.CheckCount <= 31)
                e.CheckPeriod = uint8_t(e.CheckCount + 1);
            e.CheckCount = 0;
        }
        break;
    default:
        break;
    }
    bank(0, dev);
}

// --- starting the automatic equaliser ----------------------------------------------------------

void ite6805_eq::iTE6805_Trigger_EQ(int dev)
{
    Device& e = eq[dev];
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    e.FlagEQDone = e.FlagBit7 = e.FlagBit5 = e.FlagEQFail = 0;
    bank(0, dev);
    wr(port1 ? 0x0C : 0x07, 0xFF, dev);
    wr(port1 ? 0x2B : 0x23, 0xB0, dev);
    ite6805_sys::delay1ms(10);
    wr(port1 ? 0x2B : 0x23, 0xA0, dev);
    const bool above1G = rd_result(port1 ? 0x17 : 0x14, dev).any(0x01).value_or(false);   // counted: the reset is made again
    bank(eqBank(dev), dev);
    wr(0x20, above1G ? 0x36 : 0x1B, dev);
    wr(0x21, above1G ? 0x0E : 0x03, dev);
    for (uint8_t r = 0x26; r <= 0x29; ++r)
        wr(r, 0x00, dev);
    wr(0x22, 0x38, dev);
    set(0x22, 0x04, 0x04, dev);
    ite6805_sys::delay1ms(1);
    set(0x22, 0x04, 0x00, dev);
    bank(0, dev);
}

void ite6805_eq::iTE6805_Trigger_SAREQ(int dev)
{
    Device& e = eq[dev];
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    e.FlagEQDone = e.FlagBit7 = e.FlagBit5 = e.FlagEQFail = 0;
    bank(eqBank(dev), dev);
    wr(0x20, 0x1B, dev);
    wr(0x21, 0x03, dev);
    set(0x20, 0x80, 0x00, dev);
    wr(0x22, 0x00, dev);
    bank(0, dev);
    wr(port1 ? 0x0C : 0x07, 0xFF, dev);
    wr(port1 ? 0x2B : 0x23, 0xB0, dev);
    ite6805_sys::delay1ms(10);
    wr(port1 ? 0x2B : 0x23, 0xA0, dev);
    bank(port1 ? 4 : 0, dev);
    wr(0x3B, 0x23, dev);
    bank(eqBank(dev), dev);
    wr(0x26, 0x00, dev);
    for (uint8_t r = 0x27; r <= 0x29; ++r)
        wr(r, 0x1F, dev);
    set(0x2C, 0xC0, 0xC0, dev);
    set(0x2D, 0xF0, 0x20, dev);
    set(0x2D, 0x07, 0x00, dev);
    wr(0x30, 0x8C, dev);
    wr(0x31, 0xB0, dev);
    wr(0x32, 0x43, dev);
    wr(0x33, 0x47, dev);
    wr(0x34, 0x4B, dev);
    wr(0x35, 0x53, dev);
    set(0x36, 0xC0, 0x00, dev);
    wr(0x37, 0x0B, dev);
    wr(0x38, 0xF2, dev);
    wr(0x39, 0x0D, dev);
    set(0x4A, 0x80, 0x00, dev);
    set(0x4B, 0x80, 0x00, dev);
    set(0x54, 0x80, 0x80, dev);
    wr(0x55, 0x40, dev);
    set(0x22, 0x04, 0x04, dev);
    bank(0, dev);
}

void ite6805_eq::iTE6805_Trigger_RSSKEW_EQ(int dev)
{
    Device& e = eq[dev];
    e.FlagEQDone = e.FlagBit7 = e.FlagBit5 = e.FlagEQFail = 0;
    bank(eqBank(dev), dev);
    set(0x22, 0x04, 0x00, dev);
    for (int c = 0; c < 3; ++c)
        wr(uint8_t(0x27 + c), uint8_t(e.EQValue[c] ^ 0x80), dev);
    if (!e.EQResultSaturated) {
        for (int c = 0; c < 3; ++c)
            iTE6805_Set_DFE(e.EQValue[c], c, dev);
        bank(eqBank(dev), dev);
        set(0x4B, 0x80, 0x80, dev);
    }
    wr(0x2D, 0x00, dev);
    wr(0x30, 0x94, dev);
    wr(0x31, 0xB0, dev);
    set(0x37, 0x10, 0x10, dev);
    set(0x54, 0x80, 0x00, dev);
    set(0x22, 0x04, 0x04, dev);
    bank(0, dev);
}

void ite6805_eq::iTE6805_Reset_EQ(int dev)
{
    Device& e = eq[dev];
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    for (int c = 0; c < 3; ++c)
        e.ChannelOK[c] = e.FirstPass[c] = e.PassTrial[c] = 0;
    e.FlagEQDone = e.FlagBit7 = e.FlagBit5 = e.FlagEQFail = 0;
    e.CheckCount = 0;
    e.CheckPeriod = 32;
    TrialCount = 0;
    e.WaitCount = 0;
    bank(eqBank(dev), dev);
    wr(0x2C, 0x00, dev);
    wr(0x2D, 0x07, dev);
    bank(0, dev);
    wr(port1 ? 0x0C : 0x07, 0xFF, dev);
    wr(port1 ? 0x2B : 0x23, 0xB0, dev);
    ite6805_sys::delay1ms(1);
    wr(port1 ? 0x2B : 0x23, 0xA0, dev);
    bank(eqBank(dev), dev);
    for (uint8_t r = 0x27; r <= 0x29; ++r)
        wr(r, 0x9F, dev);
    wr(0x22, 0x00, dev);
    set(0x4B, 0x80, 0x00, dev);
    bank(0, dev);
}

// --- results -------------------------------------------------------------------------------

bool ite6805_eq::iTE6805_Set_EQResult_Flag(int dev)
{
    Device& e = eq[dev];
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    bool read = true;
    uint8_t saturated = 0;
    bank(eqBank(dev), dev);
    for (int c = 0; read && c < 3; ++c) {
        read = io->hdmirxset(0x37, 0xC0, uint8_t(c << 6), dev) == 0;
        RegRead b[4];
        for (int k = 0; read && k < 4; ++k)
            read = (b[k] = rd_result(uint8_t(k < 2 ? 0x6D + k : 0x61 + k), dev)).ok();
        if (!read)
            break;
        e.EQResultWord[0][c] = uint16_t(b[0].value() + 256 * b[1].value());
        e.EQResultWord[1][c] = uint16_t(b[2].value() + 256 * b[3].value());
        saturated |= e.EQResultWord[1][c] == 0x3FFF ? 1 : 0;
    }
    bank(0, dev);
    if (read)
        e.EQResultSaturated = saturated;
    return read;
}

void ite6805_eq::iTE6805_Report_EQ(int dev)
{
    Device& e = eq[dev];
    bank(eqBank(dev), dev);
    for (int c = 0; c < 3; ++c) {
        e.EQValue[c] = rd_result(uint8_t(0xD5 + c), dev).value_or(e.EQValue[c]) & 0x7F;   // not read: the value known stays
        owner_->iTE6805_DATA[dev].EQResult[c] = e.EQValue[c];
    }
    bank(0, dev);
    std::printf("EQ result CH0=0x%02X CH1=0x%02X CH2=0x%02X\n", e.EQValue[0], e.EQValue[1], e.EQValue[2]);
}

void ite6805_eq::iTE6805_Report_Skew(int dev)
{
    bank(eqBank(dev), dev);
    std::printf("Skew 0x74=0x%02X", rd_result(0x74, dev).value_or(0));   // a trace
    for (int c = 0; c < 3; ++c) {
        set(0x37, 0xC0, uint8_t(c << 6), dev);
        std::printf(" CH%d:", c);
        for (uint8_t r = 0x75; r <= 0x7A; ++r)
            std::printf(" %02X", rd_result(r, dev).value_or(0));   // a trace
    }
    std::printf("\n");
    bank(0, dev);
}

bool ite6805_eq::iTE6805_Get_DFE(int c, int dev)
{
    Device& e = eq[dev];
    if (e.EQResultSaturated || c < 0 || c > 2)
        return true;
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    bank(eqBank(dev), dev);
    bool read = io->hdmirxset(0x37, 0xC0, uint8_t(c << 6), dev) == 0;
    read = read && rd_result(uint8_t(0xD5 + c), dev).ok();   // latches the channel's taps; its value is not used
    for (int i = 0; read && i < 14; ++i) {
        RegRead r[4];
        read = io->hdmirxset(0x36, 0x0F, uint8_t(i), dev) == 0;
        for (int k = 0; read && k < 4; ++k)
            read = (r[k] = rd_result(uint8_t(0x5D + k), dev)).ok();
        if (!read)
            break;
        const int v0 = r[0].value(), v1 = r[1].value(), v2 = r[2].value(), v3 = r[3].value();
        auto tap = [](int a, int b, int high, int low, int limit) {
            const int half = std::abs(a - b) / 2;
            if (half > limit)
                return uint8_t(a > b ? high + limit : low + limit);
            return uint8_t((a > b ? high : low) + half);
        };
        e.DFE[i][c][0] = tap(v0, v1, 96, 64, 31);
        e.DFE[i][c][1] = tap(v0, v2, 48, 32, 15);
        e.DFE[i][c][2] = tap(v0, v3, 24, 16, 7);
    }
    bank(0, dev);
    return read;
}

int ite6805_eq::iTE6805_Find_indexof_DEF(uint8_t rs)
{
    for (int i = 0; i < 14; ++i)
        if (RS_Value[i] == rs)
            return i;
    return 4;
}

// Counts a full sweep that cleared no setting: true after the last one allowed.
bool ite6805_eq::iTE6805_Sweep_Exhausted(int dev)
{
    return ++eq[dev].Sweeps >= kMaxSweeps;
}

// The equaliser stays on the best setting found (already written), without the 100 ms
// error counts of a sweep or of the periodic check, until a clock or cable change starts
// it again.
void ite6805_eq::iTE6805_Give_Up(int dev)
{
    std::printf("EQ: no setting clears the link after %d sweeps, keeping the best one\n", int(eq[dev].Sweeps));
    iTE6805_EQ_chg(STATEEQ_EQDone, dev);
    eq[dev].GaveUp = 1;
}

void ite6805_eq::iTE6805_Set_DFE(uint8_t rs, int c, int dev)
{
    if (c < 0 || c > 2)
        return;
    const int i = iTE6805_Find_indexof_DEF(rs);
    bank(eqBank(dev), dev);
    for (int k = 0; k < 3; ++k)
        wr(uint8_t(0x4B + 3 * c + k), eq[dev].DFE[i][c][k], dev);
    bank(0, dev);
}

// --- bit errors ----------------------------------------------------------------------------

bool ite6805_eq::iTE6805_BitErr_Get(int dev)
{
    Device& e = eq[dev];
    const int slot = TrialCount < 5 ? TrialCount : 4;
    bank(eqBank(dev), dev);
    set(0x3B, 0x08, 0x08, dev);
    set(0x55, 0x80, 0x00, dev);
    wr(0xE9, 0x80, dev);
    ite6805_sys::delay1ms(100);
    wr(0xE9, 0x00, dev);
    static const uint8_t kSelect[3] = {0x00, 0x20, 0x40};
    bool read = true;
    for (int c = 0; read && c < 3; ++c) {
        if (c)
            read = owner_->p_i2c->hdmirxwr(0xE9, kSelect[c], dev) == 0;
        const RegRead low = read ? rd_result(0xEA, dev) : RegRead(), high = low.ok() ? rd_result(0xEB, dev) : RegRead();
        read = high.ok();
        if (!read)
            break;
        e.ErrCounter[slot][c][0] = low.value();
        e.ErrCounter[slot][c][1] = high.value();
        if (owner_->iTE6805_DATA[dev].EQState == STATEEQ_EQDone)
            e.ErrSum[c] += e.ErrCounter[slot][c][0] + 256u * (e.ErrCounter[slot][c][1] & 0x7F);
    }
    bank(0, dev);
    return read;
}

int ite6805_eq::iTE6805_BitErr_Check(int dev)
{
    Device& e = eq[dev];
    if (!iTE6805_BitErr_Get(dev))
        return -1;
    const int slot = TrialCount < 5 ? TrialCount : 4;
    bool newly[3] = {false, false, false};
    for (int c = 0; c < 3; ++c) {
        if (e.ChannelOK[c])
            continue;
        if (e.ErrCounter[slot][c][1] == 0x80 && e.ErrCounter[slot][c][0] < 240) {
            e.ChannelOK[c] = 1;
            newly[c] = true;
        }
    }
    if (e.ChannelOK[0] && e.ChannelOK[1] && e.ChannelOK[2]) {
        bank(eqBank(dev), dev);
        set(0x22, 0x08, 0x00, dev);
        bank(0, dev);
        wr(0x07, 0xF0, dev);
        wr(0x0C, 0xF0, dev);
        return 1;
    }
    bool any = false;
    for (int c = 0; c < 3; ++c) {
        if (newly[c] && !e.FirstPass[c]) {
            e.FirstPass[c] = 1;
            e.PassTrial[c] = uint8_t(TrialCount);
        }
        any = any || e.FirstPass[c] || e.ChannelOK[c];
    }
    return any ? 0 : iTE6805_BitErr_Check_For_Parity_Error(dev);
}

int ite6805_eq::iTE6805_BitErr_Check_Again(int dev)
{
    Device& e = eq[dev];
    if (!iTE6805_BitErr_Get(dev))
        return -1;
    const int slot = TrialCount < 5 ? TrialCount : 4;
    bool pass[3];
    for (int c = 0; c < 3; ++c) {
        pass[c] = e.ErrCounter[slot][c][1] == 0x80 && e.ErrCounter[slot][c][0] <= 240;
        if (!pass[c])
            e.ChannelOK[c] = 0;
    }
    const bool anyOK = e.ChannelOK[0] || e.ChannelOK[1] || e.ChannelOK[2];
    if (pass[2]) {
        if (anyOK)
            return (pass[0] && pass[1]) ? 1 : 0;
        return iTE6805_BitErr_Check_For_Parity_Error(dev);
    }
    if (e.ChannelOK[0] || e.ChannelOK[1])
        return 0;
    return iTE6805_BitErr_Check_For_Parity_Error(dev);
}

int ite6805_eq::iTE6805_BitErr_Check_For_Parity_Error(int dev)
{
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    bank(0, dev);
    // A status, a clear or a count not taken judges nothing (an unanswered count read as
    // 0 would be a clean link).
    const RegRead power = rd_result(port1 ? 0x16 : 0x13, dev);
    if (!power.ok() || power.value() != 0xBF)
        return power.ok() ? 0 : -1;
    const RegRead locks = rd_result(port1 ? 0x17 : 0x14, dev);
    if (!locks.ok() || (locks.value() & 0x38) != 0x38)
        return locks.ok() ? 0 : -1;
    bank(port1 ? 4 : 0, dev);
    bool read = io->hdmirxwr(0xB9, 0xFF, dev) == 0;
    const RegRead b9 = read ? rd_result(0xB9, dev) : RegRead();
    read = b9.ok() && io->hdmirxwr(0xBE, 0xFF, dev) == 0;
    const RegRead be = read ? rd_result(0xBE, dev) : RegRead();
    bank(0, dev);
    const RegRead sync = be.ok() ? rd_result(0x19, dev) : RegRead();
    if (!sync.ok())
        return -1;
    return (b9.value() == 0 && be.value() == 0 && (sync.value() & 0x80)) ? 1 : 0;
}
