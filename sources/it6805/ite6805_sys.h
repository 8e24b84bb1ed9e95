#pragma once
// Owner of the IT6805 HDMI 2.0 receiver of input 3: the per-device state, the component
// objects and the top-level state machine that the input-source thread runs once per pass
// (identify, initialise once, then the main body: interrupt service, equaliser, video and
// audio state machines, V-by-One output gate). Device 0 is input 3; device 1 shares the
// chip and is only touched by forwarded hot-plug requests. Everything runs on the
// input-source thread; nothing here is locked except the publication of the timing.

#include "sources/RegRead.h"

#include <cstdint>

class ite6805_drv;
class ite6805_cec_sys;
class ite6805_eq;
class ite6805_cec_drv;
class ite6805_cec_feture;
class ite6805_i2c_rdwr;

enum STATEV_Type : uint32_t {
    STATEV_Unplug = 1,
    STATEV_WaitSync = 2,
    STATEV_CheckSync = 3,
    STATEV_VidStable = 4,
};

enum STATEA_Type : uint32_t {
    STATEA_AudioOff = 0,
    STATEA_RequestAudio = 1,
    STATEA_WaitForReady = 2,
    STATEA_AudioOn = 3,
};

enum STATEEQ_Type : uint32_t {
    STATEEQ_Off = 0,
    STATEEQ_Start = 1,
    STATEEQ_WaitEQDone = 2,
    STATEEQ_EQReport = 3,
    STATEEQ_CheckBitErr = 4,
    STATEEQ_ManualEQ = 5,
    STATEEQ_ManualEQRetry = 6,
    STATEEQ_KeepEQStateUntil5VOff = 7,
    STATEEQ_EQDone = 9,
};

enum STATECEC_Type : uint8_t {
    STATECEC_None = 0,
    STATECEC_TXDone = 2,
    STATECEC_TXDonePolling = 3,
    STATECEC_RXCheck = 4,
};

struct iTE6805_DATA_TYPE {
    uint16_t HDCPState = 0;        // 0 none, 1 HDCP 1.x, 256 HDCP 2.x
    uint8_t EQResult[3] = {0, 0, 0};
    uint8_t ChipID = 0;
    uint8_t DSMode = 0;
    uint8_t _iTE6807_EnableTwoSectionMode_ = 0;
    uint32_t VidState = 0;
    uint32_t AudState = 0;
    uint32_t EQState = 0;
    uint8_t CurrentPort = 0;
    uint8_t Force_Sampling_Frequency = 0;
    uint8_t AudioChannels = 0;
    uint8_t AudioChStatusFs = 0;
    uint8_t TraceI2C = 0;
    uint32_t TTLConfig[2] = {0, 0};
    uint32_t US_Output_ColorFormat = 0;
    uint8_t TTLPathEnabled = 0;
    uint8_t RequestedPort = 0;
    uint8_t PortSelectRequest = 0;
    uint8_t ResetPort = 0;
    uint8_t PortResetRequest = 0;
    uint8_t AVMuteStatus = 0;
    uint32_t AVIInfoFrame_Input_ColorFormat = 0;   // 0 RGB, 1 YUV 4:2:2, 2 YUV 4:4:4, 3 YUV 4:2:0
    uint32_t Colorimetry = 0;
    uint32_t RGBQuantRange = 0;
    uint32_t YCCQuantRange = 0;
    uint8_t VIC = 0;
    uint8_t ExtendedColorimetry = 0;
    uint8_t ScanInfo = 0;
    uint8_t Flag_VidStable_Done = 0;
    uint8_t DSEnabled = 0;
    uint8_t InputType = 0;          // 0 HDMI, 1 MHL, 2 DVI
    uint8_t Flag_AVI_ColorChange = 0;
    uint8_t YUV420 = 0;             // measured horizontal values are half the real ones
    uint8_t PixelRepetition = 1;
    uint8_t VBO_LaneCount = 0;      // 0..3 = 1, 2, 4, 8 lanes
    uint8_t VBO_ByteMode = 1;
    uint8_t PrevLaneCount = 7;      // 7 = no output setting yet
};

// Timing measured on the input. The horizontal values are as the chip measures them (half
// the real ones for a YUV 4:2:0 source); iTE6805_Real_HActive gives the real width.
struct iTE6805_TIMING {
    uint16_t HActive = 0;
    uint16_t VActive = 0;
    uint16_t HTotal = 0;
    uint16_t VTotal = 0;
    uint32_t PCLK = 0;        // kHz
    uint32_t TMDSCLK = 0;     // kHz
    uint32_t FrameRate = 0;   // Hz
    uint16_t HFrontPorch = 0;
    uint16_t HSyncWidth = 0;
    uint16_t HBackPorch = 0;
    uint16_t VFrontPorch = 0;
    uint16_t VSyncWidth = 0;
    uint16_t VBackPorch = 0;
    uint16_t ScanMode = 0;    // 1 interlaced
    uint16_t VSyncPol = 0;    // 1 positive
    uint16_t HSyncPol = 0;
    uint16_t ColorDepthCode = 0;
};

// The per-device byte counters of the state machines and the recovery.
struct iTE6805_COUNTERS {
    uint8_t prevAVIDB = 0;
    uint8_t AudioChStatus[3] = {0, 0, 0};
    uint8_t deskewerrcnt = 0;
    uint8_t DeskewRestarts = 0;
    uint8_t NewAVIFlag = 0;
    uint8_t Remeasuring = 0;                // the clock is measured again for a new AVI InfoFrame
    // A state entry (video) or change (audio) a transfer of which failed is made again on
    // the next pass: 1 video, audio state + 1.
    uint8_t VidRetry = 0;
    uint8_t AudRetry = 0;
    // The transmitter clock is awaited over the passes: 1 for a video-stable entry, 2 for a
    // new measurement; the output is set up and published once it settled.
    uint8_t VboWaiting = 0;
    uint16_t VboTries = 0;
    uint64_t VboDueUs = 0;
    uint8_t AVIFields[5] = {0, 0, 0, 0, 0}; // AVI bytes 1-5, the fields that matter, last seen or set up from
    static constexpr uint8_t kAVIMask[5] = {0xE0, 0xC0, 0x7C, 0xFF, 0xC0};
    uint8_t AudioFirstRead = 1;
    uint8_t HDCPChangeFlag = 0;
    uint8_t SymbolLockRst[3] = {0, 0, 0};   // CH0, CH1, CH2
    uint8_t VidStableTick = 0;
    uint8_t ClockStableCount = 0;
    uint8_t ECCTimeOut = 0;
    uint8_t ECCErrorCount = 0;
    uint8_t Current_SCDTCheck_Count = 0;
    uint8_t AudioWaitTick = 0;
    uint8_t Current_AudioCheck_TryCount = 0;
    uint8_t AudioCheckTick = 0;
    uint8_t Current_AudioSamplingFreq_ErrorCount = 0;
    uint8_t LastSCDT = 0;
    // saved AVI fields for the colour-change check
    uint32_t SavedColorFormat = 0;
    uint32_t SavedColorimetry = 0;
    uint32_t SavedExtColorimetry = 0;
    uint32_t SavedRGBQuant = 0;
    uint32_t SavedYCCQuant = 0;
};

class ite6805_sys {
public:
    int fd = -1;                            // first field: the bus descriptor
    uint8_t identify_fail[2] = {0, 0};
    STATECEC_Type CECState[2] = {STATECEC_None, STATECEC_None};
    ite6805_i2c_rdwr* p_i2c = nullptr;
    iTE6805_DATA_TYPE iTE6805_DATA[2];
    iTE6805_TIMING timing[2];
    iTE6805_COUNTERS cnt[2];
    ite6805_drv* p_ite6805_drv = nullptr;
    ite6805_cec_sys* p_cec_sys = nullptr;
    ite6805_eq* p_eq = nullptr;
    ite6805_cec_drv* p_cec_drv = nullptr;
    ite6805_cec_feture* p_cec_feture = nullptr;
    uint8_t FsmState[2] = {0, 0};           // 0 identify, 2 wait, 1 main body
    // A chip that did not answer is identified again after a pause (ticks) that doubles
    // from kIdentifyRetryTicks up to kIdentifyRetryMaxTicks.
    static constexpr uint32_t kIdentifyRetryTicks = 10;
    static constexpr uint32_t kIdentifyRetryMaxTicks = 100;
    static constexpr uint32_t kSettleMs = 1000;   // after identification, before the main body
    uint64_t settle_until_us[2] = {0, 0};
    uint32_t identify_retry_stamp[2] = {0, 0};
    uint32_t identify_retry_ticks[2] = {0, 0};
    // A +5 V change whose reading was not answered: unknown, not "no +5 V"; the step is
    // made again from its start on the next pass.
    bool pwr_retry[2] = {false, false};
    // The audio output gate a transfer of which failed: set again on the next pass (-1: none).
    int8_t audio_gate_owed[2] = {-1, -1};
    // A mode change announced and acknowledged but not served for want of a read.
    bool mode_chg_owed[2] = {false, false};
    // A sync change announced whose SCDT was not read: served on the next pass.
    bool scdt_chg_owed[2] = {false, false};
    // Port interrupt acknowledgements (0x05, 0x06, 0x08, 0x09) the chip did not take.
    uint8_t ack_owed[2][4] = {{0, 0, 0, 0}, {0, 0, 0, 0}};

    ite6805_sys();
    ~ite6805_sys();
    ite6805_sys(const ite6805_sys&) = delete;
    ite6805_sys& operator=(const ite6805_sys&) = delete;

    // Back to the constructed state: the next pass identifies and initialises again.
    void ite6805_sys_reset_init();
    void iTE6805_FSM(int dev);
    int iTE6805_Identify_Chip(int dev);     // 1 found, 0 not
    void iTE6805_MainBody(int dev);
    void iTE6805_INT_5VPWR_Chg(int port, int dev);
    static void delay1ms(unsigned ms);

    // The real active width (twice the measured one for a YUV 4:2:0 source).
    uint32_t iTE6805_Real_HActive(int dev) const;

    // --- video and audio state machines ---
    void iTE6805_vid_fsm(int dev);
    void iTE6805_vid_chg(uint32_t state, int dev);
    void iTE6805_aud_fsm(int dev);
    void iTE6805_aud_chg(uint32_t state, int dev);
    void iTE6805_INT_SCDT_Chg(int dev);
    bool iTE6805_SCDT_Moved(int dev);
    bool iTE6805_AVI_Moved(int dev);
    bool had_signal(int dev) const;   // input 3 published a picture last
    void iTE6805_Enable_Audio_Output(int dev);
    void iTE6805_Set_Audio_Tristate(int on, int dev);
    void iTE6805_Check_ColorChange_Update(int dev);
    static uint8_t iTE6805_SamplingFreq_Code(uint32_t fsKhz, uint8_t previous);

    // --- output setting ---
    // Sets the V-by-One output up and restarts its transmitter clock; the clock is then
    // checked each pass by iTE6807_VBO_Clock_Step (at most 500 restarts, 10 ms apart),
    // true once it settled (or the restarts ran out) and the transmitter is set up.
    void iTE6807_Video_Output_Setting(int dev);
    bool iTE6807_VBO_Clock_Step(int dev);
    void iTE6805_Enable_Video_Output(int dev);
    // The rest of a video-stable entry (1) or a new measurement (2) once the clock settled.
    void iTE6805_Output_Ready(int how, int dev);

    // --- interrupt service, recovery, port control ---
    void iTE6805_hdmirx_port0_SYS_irq(int dev);
    void iTE6805_hdmirx_port1_SYS_irq(int dev);
    void iTE6805_hdmirx_common_irq(int dev);
    bool iTE6805_INT_HDMI_DVI_Mode_Chg(int port, int dev);   // false: the mode was not read
    void iTE6805_INT_ECC_ERROR(int dev);
    void iTE6805_Port_Select(int port, int dev);
    void iTE6805_Port_Select_Body(int port, int dev);
    void iTE6805_Port_Reset(int port, int dev);
    void iTE6805_Port_Reset_Body(int port, int dev);

private:
    void port_sys_irq(int port, int dev);
    void vid_enter(uint32_t state, int dev);
    void aud_enter(uint32_t state, int dev);
    void output_ready(int how, int dev);
    void reset_device_fields(int dev);
    // Bank helpers over the register-access object.
    uint8_t rd(uint8_t reg, int dev);   // counted: see the definition
    RegRead rd_result(uint8_t reg, int dev);
    void wr(uint8_t reg, uint8_t value, int dev);
    void set(uint8_t reg, uint8_t mask, uint8_t value, int dev);
    int bank(int b, int dev);   // 0 ok, 1 failed
};
