// Video and audio state machines of the IT6805 and the sync-change handling.
#include "sources/it6805/ite6805_sys.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_eq.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"

#include <cstdio>

namespace {
// Publishes a stable input: the timing record, then the status bytes, unless the input is
// shown on a layer before the output path is up (the held-back publication of the
// input-source manager writes them then).
void publish_stable(ite6805_sys& sys, int dev)
{
    ite6805_drv* drv = sys.p_ite6805_drv;
    drv->iTE6805_update_hdmi(dev);
    if (g_source_online == 2) {
        drv->iTE6805_Show_VID_Info(dev, 0);
    } else {
        KelRamPara* para = KelRamPara::p_kelrampara_config;
        const int skip = (para && para->KelSourceId_is_on(uint8_t(3 + dev))) ? 1 : 0;
        drv->iTE6805_Show_VID_Info(dev, skip);
        g_source_online = 1;
    }
}
} // namespace

void ite6805_sys::iTE6805_vid_chg(uint32_t state, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    const uint32_t before = p_i2c->errors;
    vid_enter(state, dev);
    // An entry a transfer of which failed (a tristate, a measurement, an output setting)
    // is not in force: made again on the next pass, unless the state moved meanwhile.
    c.VidRetry = p_i2c->errors != before && d.VidState == state;
}

void ite6805_sys::vid_enter(uint32_t state, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    d.VidState = state;
    c.VboWaiting = 0;
    switch (state) {
    case STATEV_Unplug:
        bank(d.CurrentPort == 1 ? 7 : 3, dev);
        set(0xE5, 0x1C, 0x00, dev);
        bank(0, dev);
        d.Flag_VidStable_Done = 0;
        d.DSEnabled = 0;
        d.YUV420 = 0;
        c.prevAVIDB = 0;
        c.AudioChStatus[0] = c.AudioChStatus[1] = c.AudioChStatus[2] = 0;
        c.deskewerrcnt = 0;
        c.SymbolLockRst[0] = c.SymbolLockRst[1] = c.SymbolLockRst[2] = 0;
        c.ClockStableCount = 0;
        c.HDCPChangeFlag = 1;
        wr(0x08, 0x04, dev);
        wr(0x0D, 0x04, dev);
        wr(0x22, 0x12, dev);
        wr(0x22, 0x10, dev);
        set(0x23, 0xFD, 0xAD, dev);
        set(0x23, 0xFD, 0xA0, dev);
        set(0x2B, 0xFD, 0xAD, dev);
        set(0x2B, 0xFD, 0xA0, dev);
        p_cec_sys->iTE6805_CEC_INIT(dev);
        std::printf("VidState change to STATEV_Unplug state\n");
        drv->iTE6805_Set_Video_Tristate(1, dev);
        iTE6805_aud_chg(STATEA_AudioOff, dev);   // no picture, no sound
        break;
    case STATEV_WaitSync:
        d.Flag_VidStable_Done = 0;
        c.deskewerrcnt = 0;
        c.ClockStableCount = 0;
        std::printf("VidState change to STATEV_WaitSync state\n");
        drv->iTE6805_Set_Video_Tristate(1, dev);
        iTE6805_aud_chg(STATEA_AudioOff, dev);
        break;
    case STATEV_CheckSync:
        std::printf("VidState change to STATEV_CheckSync state\n");
        c.Current_SCDTCheck_Count = 6;
        c.NewAVIFlag = 0;
        c.Remeasuring = 0;
        // The pixel clock is measured while the AVI InfoFrame settles, over the passes.
        drv->iTE6805_PCLK_Start(dev);
        break;
    case STATEV_VidStable:
        std::printf("VidState change to STATEV_VidStable state\n");
        bank(0, dev);
        wr(0x90, 0x8F, dev);
        iTE6805_AVI_Moved(dev);
        drv->iTE6805_Get_AVIInfoFrame_Info(dev);
        drv->iTE6805_Get_VID_Info(dev);
        iTE6805_Check_ColorChange_Update(dev);
        iTE6807_Video_Output_Setting(dev);
        // The rest once the transmitter clock settled (vid_fsm, the following passes).
        c.VboWaiting = 1;
        break;
    default:
        std::printf("ERROR: VidState change to Unknown state !!!\n");
        break;
    }
}

void ite6805_sys::iTE6805_Output_Ready(int how, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    const uint32_t before = p_i2c->errors;
    output_ready(how, dev);
    // An output not set up whole: the video-stable entry is made again.
    if (p_i2c->errors != before && d.VidState == STATEV_VidStable)
        cnt[dev].VidRetry = 1;
}

void ite6805_sys::output_ready(int how, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    ite6805_drv* drv = p_ite6805_drv;
    if (iTE6805_SCDT_Moved(dev)) {
        iTE6805_INT_SCDT_Chg(dev);
        return;
    }
    drv->iTE6805_Set_1B0_By_PixelClock(dev);
    iTE6805_Enable_Video_Output(dev);
    if (how == 2) {
        drv->iTE6805_Set_Video_Tristate(0, dev);
        // What was measured is what the output now carries: publish it.
        publish_stable(*this, dev);
        return;
    }
    drv->iTE6805_Set_AVMute(1, dev);
    iTE6805_aud_chg(STATEA_RequestAudio, dev);
    drv->iTE6805_Set_Video_Tristate(0, dev);
    d.Flag_VidStable_Done = 1;
    if (d.EQState == STATEEQ_KeepEQStateUntil5VOff) {
        std::printf("Release state STATEEQ_KeepEQStateUntil5VOff to normal state(STATEEQ_EQDone)!!!\n");
        d.EQState = STATEEQ_EQDone;
        p_eq->iTE6805_EQ_chg(STATEEQ_EQDone, dev);
    }
    // A DVI source carries no audio, so the audio machine never reaches the step that
    // publishes; its timing is published here instead.
    const RegResult<int> mode = drv->iTE6805_Check_HDMI_OR_DVI_Mode(d.CurrentPort, dev);
    if (!mode.ok())
        cnt[dev].VidRetry = 1;   // the entry is made again once the mode is read
    else if (mode.value() == 2) {
        iTE6805_aud_chg(STATEA_AudioOff, dev);
        publish_stable(*this, dev);
    }
}

void ite6805_sys::iTE6805_vid_fsm(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    if (c.VidRetry) {
        c.VidRetry = 0;
        iTE6805_vid_chg(d.VidState, dev);
        return;
    }
    switch (d.VidState) {
    case STATEV_Unplug:
        if (drv->iTE6805_Check_5V_State(d.CurrentPort, dev).value_or(false))   // not read: next pass
            iTE6805_INT_5VPWR_Chg(d.CurrentPort, dev);
        break;
    case STATEV_WaitSync:
        // Not read: waited for again on the next pass.
        if (drv->iTE6805_Check_SCDT(dev).value_or(false)) {
            c.LastSCDT = 1;   // the sync this check is for is handled: it is no change at video stable
            iTE6805_vid_chg(STATEV_CheckSync, dev);
        } else if (drv->iTE6805_Check_CLK_Stable(dev).value_or(false)) {
            if (++c.ClockStableCount > 6) {
                c.ClockStableCount = 0;
                drv->iTE6805_Set_47_By_TMDS(dev);
            }
        }
        break;
    case STATEV_CheckSync:
        if (c.Current_SCDTCheck_Count == 0) {
            if (drv->iTE6805_PCLK_Step(dev))
                iTE6805_vid_chg(STATEV_VidStable, dev);
        } else {
            drv->iTE6805_PCLK_Step(dev);
            bank(2, dev);
            const RegRead read = rd_result(0x15, dev);
            bank(0, dev);
            if (!read.ok()) {
                // not read: the count waits for the next pass
            } else if (c.Current_SCDTCheck_Count == 6) {
                c.prevAVIDB = read.value();
                --c.Current_SCDTCheck_Count;
            } else if (read.value() == c.prevAVIDB) {
                --c.Current_SCDTCheck_Count;
            } else {
                c.prevAVIDB = read.value();
            }
        }
        break;
    case STATEV_VidStable: {
        if (iTE6805_SCDT_Moved(dev)) {
            iTE6805_INT_SCDT_Chg(dev);
            break;
        }
        // A new AVI InfoFrame or mode is taken once the pixel clock has been measured again
        // over the following passes; one that comes during the measurement starts it anew.
        if (c.NewAVIFlag == 1) {
            c.NewAVIFlag = 0;
            c.Remeasuring = 1;
            drv->iTE6805_PCLK_Start(dev);
        }
        const uint32_t before = p_i2c->errors;
        if (c.Remeasuring && drv->iTE6805_PCLK_Step(dev)) {
            std::printf("!!! New AVI InfoFrmae in STATEV_VidStable !!!\n");
            c.Remeasuring = 0;
            drv->iTE6805_Get_AVIInfoFrame_Info(dev);
            iTE6805_Check_ColorChange_Update(dev);
            drv->iTE6805_Get_VID_Info(dev);
            iTE6807_Video_Output_Setting(dev);
            // An entry still awaiting the clock finishes as an entry, with these values.
            if (c.VboWaiting != 1)
                c.VboWaiting = 2;
        }
        // A new measurement or setting a transfer of which failed: the entry is made again.
        if (!c.Remeasuring && p_i2c->errors != before) {
            c.VidRetry = 1;
            break;
        }
        // The clock of a setting that a new measurement will replace is not waited for.
        if (c.VboWaiting && !c.Remeasuring) {
            if (!iTE6807_VBO_Clock_Step(dev))
                break;
            if (p_i2c->errors != before) {
                c.VidRetry = 1;
                break;
            }
            const int how = c.VboWaiting;
            c.VboWaiting = 0;
            iTE6805_Output_Ready(how, dev);
            if (d.VidState != STATEV_VidStable)
                break;
        }
        if (drv->avmute_owed_[dev & 1])
            drv->iTE6805_Set_AVMute(1, dev);
        bank(0, dev);
        if (rd_result(0x4F, dev).any(0x20).value_or(false) && !drv->iTE6805_Check_AVMute(dev).value_or(true))
            drv->iTE6805_Set_AVMute(0, dev);
        if (++c.VidStableTick >= 50) {
            c.VidStableTick = 0;
            if (c.Current_AudioSamplingFreq_ErrorCount < 6)
                c.Current_AudioSamplingFreq_ErrorCount = 0;
        }
        if (!rd_result(0x81, dev).any(0x40).value_or(true)) {
            const RegRead b5 = rd_result(0xB5, dev);
            if (b5.ok())   // not read: the rate known stays
                d.AudioChStatusFs = uint8_t(((b5.value() >> 2) & 0x30) | (b5.value() & 0x0F));
        }
        break;
    }
    default:
        std::printf("Video State Error !!!\n");
        break;
    }
}

// The video-logic reset of the output setting acknowledges a pending sync change along
// with its own bit, and the sync may move while the clock is measured: the
// sync is compared with the last one handled rather than left to an interrupt that may
// never come.
bool ite6805_sys::iTE6805_SCDT_Moved(int dev)
{
    bank(0, dev);
    // Not read: not moved (a sync taken for lost would pulse hot-plug and start the chip
    // again while the source still sends); it is read again on the next pass.
    const RegFlag scdt = p_ite6805_drv->iTE6805_Check_SCDT(dev);
    return scdt.ok() && uint8_t(scdt.value() ? 1 : 0) != cnt[dev].LastSCDT;
}

void ite6805_sys::iTE6805_INT_SCDT_Chg(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    std::printf("# SCDT Chg #\n");
    const RegFlag read = drv->iTE6805_Check_SCDT(dev);
    if (!read.ok()) {
        scdt_chg_owed[dev] = true;   // served on the next pass
        return;
    }
    scdt_chg_owed[dev] = false;
    const uint8_t scdt = uint8_t(read.value() ? 1 : 0);
    const bool altMap = d.ChipID == 0x10 || d.ChipID >= 0xE0;
    if (scdt != c.LastSCDT) {
        c.LastSCDT = scdt;
        bank(0, dev);
        if (!scdt) {
            std::printf("# SCDT OFF #\n");
            iTE6805_vid_chg(STATEV_WaitSync, dev);
            iTE6805_aud_chg(STATEA_AudioOff, dev);
            // Published as a valid no-signal record, so the scaler sees the loss.
            drv->iTE6805_Publish_NoSignal(dev, 1);
            drv->iTE6805_Set_HPD_Ctrl(0, 0, dev);
            delay1ms(100);
            drv->iTE6805_Set_HPD_Ctrl(0, 1, dev);
            delay1ms(100);
            drv->iTE6805_Init_fsm(dev);
        } else {
            if ((d.ChipID == 0x10 || d.ChipID == 0xE0) && rd_result(0x1C, dev).any(0x80).value_or(false))
                set(0x1C, 0x80, 0x80, dev);
            std::printf("# SCDT ON #\n");
            iTE6805_vid_chg(STATEV_CheckSync, dev);
        }
        return;
    }
    if (altMap) {
        if (rd_result(0x1C, dev).any(0x80).value_or(false))
            set(0x1C, 0x80, 0x80, dev);
    } else if (scdt) {
        bank(5, dev);
        if (rd_result(0xC9, dev).value_or(0) == 0x79) {   // not read: the gate is checked every pass
            std::printf("# SCDT ON - should keep VB1 output #\n");
            wr(0xC9, 0x78, dev);
        }
    }
    bank(0, dev);
}

void ite6805_sys::iTE6805_Set_Audio_Tristate(int on, int dev)
{
    const uint32_t before = p_i2c->errors;
    bank(1, dev);
    wr(0xC7, on ? 0x7F : 0x00, dev);
    bank(0, dev);
    audio_gate_owed[dev & 1] = p_i2c->errors != before ? int8_t(on ? 1 : 0) : int8_t(-1);
}

void ite6805_sys::iTE6805_aud_chg(uint32_t state, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    if (d.AudState == state)
        return;
    const uint32_t before = p_i2c->errors;
    aud_enter(state, dev);
    // A change a transfer of which failed (the tristate, the rate) is made again next pass.
    c.AudRetry = p_i2c->errors != before && d.AudState == state ? uint8_t(state + 1) : 0;
}

void ite6805_sys::aud_enter(uint32_t state, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    d.AudState = state;
    switch (state) {
    case STATEA_AudioOff:
    case STATEA_RequestAudio:
        std::printf("AudState change to STATEA_RequestAudio state !!!\n");
        c.Current_AudioSamplingFreq_ErrorCount = 0;
        set(0x81, 0x40, 0x00, dev);
        iTE6805_Set_Audio_Tristate(1, dev);
        break;
    case STATEA_WaitForReady:
        std::printf("AudState change to STATEA_WaitForReady state !!!\n");
        set(0x8C, 0x10, 0x10, dev);
        set(0x8C, 0x10, 0x00, dev);
        c.AudioWaitTick = 4;
        c.Current_AudioCheck_TryCount = 0;
        break;
    case STATEA_AudioOn:
        p_ite6805_drv->iTE6805_Show_AUD_Info(dev);
        std::printf("AudState change to STATEA_AudioOn state !!!\n");
        iTE6805_Enable_Audio_Output(dev);
        iTE6805_Set_Audio_Tristate(0, dev);
        publish_stable(*this, dev);
        break;
    default:
        std::printf("ERROR: AudState change to Unknown state !!!\n");
        break;
    }
}

void ite6805_sys::iTE6805_aud_fsm(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    if (c.AudRetry) {
        const uint32_t state = c.AudRetry - 1u;
        c.AudRetry = 0;
        d.AudState = state == STATEA_AudioOff ? STATEA_RequestAudio : STATEA_AudioOff;   // not the same: made again
        iTE6805_aud_chg(state, dev);
        return;
    }
    switch (d.AudState) {
    case STATEA_AudioOff:
        break;
    case STATEA_RequestAudio:
        c.AudioFirstRead = 1;
        c.AudioChStatus[0] = c.AudioChStatus[1] = c.AudioChStatus[2] = 0;
        iTE6805_aud_chg(STATEA_WaitForReady, dev);
        break;
    case STATEA_WaitForReady: {
        if (c.AudioWaitTick > 0) {
            --c.AudioWaitTick;
            break;
        }
        bank(d.CurrentPort == 1 ? 4 : 0, dev);
        const uint8_t b9 = rd_result(0xB9, dev).value_or(0);   // not read: no reset of the audio logic
        bank(0, dev);
        if (b9 & 0xC0)
            drv->iTE6805_Reset_Audio_Logic(dev);
        if (drv->iTE6805_Check_SCDT(dev).value_or(false) && drv->iTE6805_Check_AUDT(dev).value_or(false)) {
            iTE6805_aud_chg(STATEA_AudioOn, dev);
        } else if (c.Current_AudioCheck_TryCount < 2) {
            ++c.Current_AudioCheck_TryCount;
            std::printf("Current_AudioCheck_TryCount = %d !!!\n", c.Current_AudioCheck_TryCount);
            c.AudioWaitTick = 4;
        } else {
            iTE6805_aud_chg(STATEA_AudioOn, dev);
        }
        break;
    }
    case STATEA_AudioOn: {
        if (c.AudioCheckTick > 0) {
            --c.AudioCheckTick;
            break;
        }
        c.AudioCheckTick = 3;
        bank(0, dev);
        const RegRead r0 = rd_result(0xB0, dev), r1 = rd_result(0xB1, dev), r2 = rd_result(0xB2, dev);
        if (!r0.ok() || !r1.ok() || !r2.ok()) {
            c.AudioCheckTick = 0;   // not read: compared on the next pass
            break;
        }
        const uint8_t s0 = uint8_t(r0.value() & 0xF0), s1 = r1.value(), s2 = uint8_t(r2.value() & 0x02);
        if (c.AudioFirstRead) {
            c.AudioChStatus[0] = s0;
            c.AudioChStatus[1] = s1;
            c.AudioChStatus[2] = s2;
            c.AudioFirstRead = 0;
            set(0x8C, 0x08, 0x08, dev);
        } else if (s0 != c.AudioChStatus[0] || s1 != c.AudioChStatus[1] || s2 != c.AudioChStatus[2]) {
            iTE6805_aud_chg(STATEA_RequestAudio, dev);
        }
        break;
    }
    default:
        std::printf("Audio State Error !!!\n");
        break;
    }
}

uint8_t ite6805_sys::iTE6805_SamplingFreq_Code(uint32_t fs, uint8_t previous)
{
    struct Range { uint32_t lo, hi; uint8_t code; };
    static const Range kRanges[] = {
        {26, 38, 3},     {39, 45, 0},     {46, 58, 2},     {59, 78, 11},    {79, 91, 8},
        {92, 106, 10},   {107, 166, 43},  {167, 182, 12},  {183, 202, 14},  {225, 320, 27},
        {321, 448, 5},   {449, 638, 59},  {639, 894, 9},   {895, 1324, 53},
    };
    for (const Range& r : kRanges)
        if (fs >= r.lo && fs <= r.hi)
            return r.code;
    return previous;
}

void ite6805_sys::iTE6805_Enable_Audio_Output(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    bank(0, dev);
    set(0x86, 0x01, 0x01, dev);
    bank(2, dev);
    const RegRead rc0 = rd_result(0xC0, dev), rbe = rd_result(0xBE, dev), rbf = rd_result(0xBF, dev), rc2 = rd_result(0xC2, dev),
                  rc1 = rd_result(0xC1, dev);
    bank(0, dev);
    // N or CTS not read: the rate known stays (the entry is counted and made again).
    if (!rc0.ok() || !rbe.ok() || !rbf.ok() || !rc2.ok() || !rc1.ok())
        return;
    const uint32_t c0 = rc0.value();
    const uint64_t N = uint64_t(rbe.value()) * 4096 + uint64_t(rbf.value()) * 16 + (c0 & 0x0F);
    const uint64_t CTS = ((c0 >> 4) & 0x0F) + (uint64_t(rc2.value()) << 4) + (uint64_t(rc1.value()) << 12);
    const uint64_t tmds = drv->iTE6805_Get_TMDS(10, dev);
    const uint64_t sum = tmds * N;
    std::printf("N = %ld \n", long(N));
    std::printf("CTS = %ld \n", long(CTS));
    std::printf("TMDSCLK = %ld \n", long(tmds));
    std::printf("sum = %lu \n", (unsigned long)sum);
    if (CTS == 0)
        return;
    const uint16_t fs = uint16_t(sum / (CTS * 128));
    std::printf("SW caulate SW_Sampling_Frequency = %d \r\n", fs);
    d.Force_Sampling_Frequency = iTE6805_SamplingFreq_Code(fs, d.Force_Sampling_Frequency);

    const RegRead read = rd_result(0xB5, dev);
    if (!read.ok())
        return;   // counted: made again
    const uint8_t b5 = read.value();
    const uint8_t code = uint8_t(((b5 >> 2) & 0x30) | (b5 & 0x0F));
    std::printf("Audio_CH_Status[24:27 - 30:31][bit0~bit5] = %x ,", code);
    std::printf("iTE6805_DATA.Force_Sampling_Frequency %x\r\n", d.Force_Sampling_Frequency);
    if (code == d.Force_Sampling_Frequency) {
        std::printf("Audio_CH_Status == iTE6805_DATA.Force_Sampling_Frequency reset Audio \r");
        if (rd_result(0x81, dev).any(0x40).value_or(true)) {   // not read: the audio logic is reset to be sure
            set(0x81, 0x40, 0x00, dev);
            d.AudioChStatusFs = code;
            drv->iTE6805_Reset_Audio_Logic(dev);
        } else {
            set(0x81, 0x40, 0x00, dev);
            d.AudioChStatusFs = code;
        }
        c.Current_AudioSamplingFreq_ErrorCount = 0;
    } else {
        ++c.Current_AudioSamplingFreq_ErrorCount;
        std::printf("Current_AudioSamplingFreq_ErrorCount=%d \r\n", c.Current_AudioSamplingFreq_ErrorCount);
        if (c.Current_AudioSamplingFreq_ErrorCount >= 16) {
            set(0x81, 0x40, 0x40, dev);
            set(0x8A, 0x3F, d.Force_Sampling_Frequency, dev);
            d.AudioChStatusFs = d.Force_Sampling_Frequency;
            c.Current_AudioSamplingFreq_ErrorCount = 0;
            drv->iTE6805_Reset_Audio_Logic(dev);
            std::printf("ForceAudio Mode\r");
        }
    }
}

void ite6805_sys::iTE6805_Check_ColorChange_Update(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    uint8_t change = 0;
    if (d.AVIInfoFrame_Input_ColorFormat != c.SavedColorFormat)
        change |= 0x01;
    if (d.Colorimetry != c.SavedColorimetry)
        change |= 0x02;
    if (d.ExtendedColorimetry != c.SavedExtColorimetry)
        change |= 0x04;
    if (d.RGBQuantRange != c.SavedRGBQuant)
        change |= 0x08;
    if (d.YCCQuantRange != c.SavedYCCQuant)
        change |= 0x10;
    d.Flag_AVI_ColorChange = change;
    if (change) {
        std::printf("iTE6805_DATA.Flag_AVI_ColorChange = 0x%02X !\n", change);
        c.SavedColorFormat = d.AVIInfoFrame_Input_ColorFormat;
        c.SavedColorimetry = d.Colorimetry;
        c.SavedExtColorimetry = d.ExtendedColorimetry;
        c.SavedRGBQuant = d.RGBQuantRange;
        c.SavedYCCQuant = d.YCCQuantRange;
    }
}
