#pragma once
// Register-level operations of the IT6805: bank selection, status checks, the hot-plug
// line, chip initialisation, timing and clock measurement, InfoFrame reading, timing
// publication, calibration at start-up and the output path (colour conversion, tristate,
// AV mute, logic resets, downscaler). Every operation that changes the bank leaves bank 0
// selected.

#include "sources/RegRead.h"

#include <cstdint>

class ite6805_sys;

class ite6805_drv {
public:
    explicit ite6805_drv(ite6805_sys* owner) : owner_(owner) {}

    uint32_t RCLK[2] = {0, 0};          // reference oscillator, kHz
    uint16_t CECTimeUnit[2] = {0, 0};   // CEC timing unit: oscillator kHz / 100, not wrapped
    static constexpr int kDSTimingRows = 6;
    int DSTimingRows = kDSTimingRows;

    int chgbank(int bank, int dev);   // 0 ok, 1 failed

    // --- status checks (bank 0) ---
    RegFlag iTE6805_Check_5V_State(int port, int dev);
    RegResult<int> iTE6805_Check_HDMI_OR_DVI_Mode(int port, int dev);   // 0 HDMI, 2 DVI
    RegFlag iTE6805_Check_CLK_Vaild(int dev);
    RegFlag iTE6805_Check_CLK_Stable(int dev);
    RegFlag iTE6805_Check_PORT0_IS_MHL_Mode(int port, int dev);
    RegFlag iTE6805_Check_TMDS_Bigger_Than_1G(int dev);
    RegFlag iTE6805_Check_HDMI2(int dev);
    RegFlag iTE6805_Check_SCDT(int dev);
    RegFlag iTE6805_Check_AUDT(int dev);
    RegFlag iTE6805_Check_AVMute(int dev);
    void iTE6805_GET_InputType(int dev);

    // Port 0: without +5 V the line is held low; with +5 V (and not in MHL mode) it follows
    // level. Port 1's line is not driven.
    // 0 ok, 1 the chip did not take it (set again on its next pass).
    int iTE6805_Set_HPD_Ctrl(int port, int level, int dev);
    int8_t hpd_retry_[2] = {-1, -1};   // a port-0 level the chip did not take
    // An output gate (the video tristate) a transfer of which failed: the level set again
    // on the next pass, so the picture leaves the chip exactly while it is published (-1: none).
    int8_t video_gate_owed_[2] = {-1, -1};
    bool avmute_owed_[2] = {false, false};   // a source's AV mute not taken whole: made again while stable
    bool blanked_[2] = {false, false};       // muted since the last unmute: the output set-up keeps the blank
    void iTE6805_Init_fsm(int dev);

    // --- measurement, InfoFrames, publication ---
    void iTE6805_Get_VID_Info(int dev);
    uint32_t iTE6805_Get_PCLK(int dev);
    // The same measurement spread over passes: Start begins it, each Step takes the sample
    // that is due (the waits of iTE6805_Get_PCLK between them) and answers true once no
    // sample is left, the result stored in timing[dev].PCLK. The input-source thread polls
    // every input between two samples instead of sleeping through them.
    void iTE6805_PCLK_Start(int dev);
    bool iTE6805_PCLK_Step(int dev);
    uint32_t iTE6805_Get_TMDS(int samples, int dev);
    void iTE6805_Set_47_By_TMDS(int dev);
    void iTE6805_Get_AVIInfoFrame_Info(int dev);
    void iTE6805_Show_AVIInfoFrame_Info(int dev);
    void iTE6805_Show_AUD_Info(int dev);
    void iTE6805_Show_VID_Info(int dev, int skip_publication);
    void iTE6805_Get_Hdmi(int dev);
    void iTE6805_Set_Stable(int dev, int flag);
    void iTE6805_update_hdmi(int dev);
    void iTE6805_Reset_Audio_Logic(int dev);
    void iTE6805_Reset_Video_Logic(int dev);
    // Input 3 without a signal: status bytes 0, record nosignal; valid as given.
    void iTE6805_Publish_NoSignal(int dev, int valid);
    // 1 when the last measurement was consistent (no back porch below zero).
    int iTE6805_Timing_Plausible(int dev) const { return dev >= 0 && dev < 2 && timing_ok_[dev]; }

    // --- calibration and output path ---
    void iTE6805_Init_CAOF(int dev);
    uint32_t iTE6805_OCLK_Load(int dev);
    void iTE6805_OCLK_Cal(int dev);
    void iTE6805_Set_1B0_By_PixelClock(int dev);
    void iTE6805_Set_ColorDepth(int dev);
    void iTE6805_Set_Video_Tristate(int on, int dev);
    void iTE6805_Set_TTL_Video_Path(int dev);
    void iTE6805_Init_TTL_VideoOutputConfigure(int dev);
    int iTE6805_Check_Single_Dual_Mode(int dev);
    void iTE6805_Set_AVMute(int on, int dev);
    void iTE6805_Reset_ALL_Logic(int port, int dev);
    int iTE6805_Check_4K_Resolution(int dev);
    int iTE6805_Check_Support4KTiming(int dev);
    void iTE6805_Set_DNScale(int dev);
    int iTE6805_Check_DS_Condition(int dev);
    // 11 rows of the colour-space matrix, 22 bytes each (bank 1 registers 0x70-0x85).
    static const uint8_t CSC_Matrix[11][22];
    static const uint8_t CSC_RGB_Limited_To_Full[22];
    // The CSC row a YUV input uses: 7 BT.709, 8 extended colorimetry 5 or 6, else 5.
    static int iTE6805_CSC_Row(uint32_t colorimetry, uint8_t extendedColorimetry);

private:
    bool port_caof(int port, int dev);
    // HTotal, HActive, VTotal and VActive from the counters (the layout follows ChipID).
    void read_sizes(int dev);
    bool hpd_line(int level, int dev);   // port 0's hot-plug pin; false: the chip answers nothing
    void publish(int dev, bool statusBytes, bool notify, bool valid, int nosignal);
    uint8_t rd(uint8_t reg, int dev);   // counted: see the definition
    RegRead rd_result(uint8_t reg, int dev);
    void wr(uint8_t reg, uint8_t value, int dev);
    void set(uint8_t reg, uint8_t mask, uint8_t value, int dev);
    ite6805_sys* owner_;
    bool timing_ok_[2] = {false, false};
    bool read_ok_[2] = {false, false};    // every read of the last measurement was answered
    uint8_t pclk_sample_[2] = {0, 0};     // the next sample, 1..20; 0: none pending
    uint32_t pclk_sum_[2] = {0, 0};
    uint64_t pclk_due_us_[2] = {0, 0};
};

// One row of the supported 4K timings of the downscaler.
struct iTE6805_DSTiming {
    uint16_t HActive, VActive, HTotal, VTotal;
    uint32_t PCLK;
    uint16_t HFrontPorch, HSyncWidth, HBackPorch, VFrontPorch, VSyncWidth, VBackPorch;
    uint16_t FrameRate;   // Hz x 1000
    uint16_t Reserved0;
    uint16_t Pol0, Pol1;
    const char* Name;
    uint16_t VIC;
    uint16_t Reserved1;
};
extern const iTE6805_DSTiming iTE6805_SupportedDSTiming[ite6805_drv::kDSTimingRows];
