#pragma once
// Driver of the three IT6602 HDMI receivers of inputs 0, 1 and 2 (one chip per input, each
// on its own branch of the I2C bus; the input-source thread selects the branch through the
// switch at 0xEE before every call). The driver has no thread of its own: everything runs
// in the calls the input-source thread makes.
//
//   velin_it6602.cpp          register access, identification, reset, hot-plug, +5 V and
//                             the interrupt service
//   velin_it6602_eq.cpp       equaliser search and link-error recovery
//   velin_it6602_video.cpp    video state machine, timing measurement and publication
//   velin_it6602_output.cpp   output format, AVI infoframe and colour-space conversion
//   velin_it6602_audio.cpp    audio state machine

#include "sources/RegRead.h"

#include <cstdint>

// Timing measured on an input (read by velinsource::update_vid_info_delay).
struct IT6602_VIDEO_TIMING {
    uint16_t HActive = 0;
    uint16_t VActive = 0;
    uint16_t HTotal = 0;
    uint16_t VTotal = 0;
    uint32_t PCLK = 0;          // MHz; 0 = no measurement
    uint16_t HFrontPorch = 0;
    uint16_t HSyncWidth = 0;
    uint16_t HBackPorch = 0;
    uint16_t VFrontPorch = 0;
    uint16_t VSyncWidth = 0;
    uint16_t VBackPorch = 0;
    uint8_t flags = 0;          // bit 0 interlaced, 1 vsync positive, 2 hsync positive
    uint32_t PCLKkHz = 0;       // the chip's own kHz reading; 0 = none
};

enum _Video_State_Type {
    VSTATE_Off = 0,
    VSTATE_TerminationOff,
    VSTATE_TerminationOn,
    VSTATE_5VOff,
    VSTATE_SyncWait,
    VSTATE_SWReset,
    VSTATE_SyncChecking,
    VSTATE_HDCPSet,
    VSTATE_HDCP_Reset,
    VSTATE_ModeDetecting,
    VSTATE_VideoOn,
    VSTATE_ColorDetectReset,
    VSTATE_HDMI_OFF,
    VSTATE_Reserved
};

enum _Audio_State_Type {
    ASTATE_AudioOff = 0,
    ASTATE_RequestAudio,
    ASTATE_ResetAudio,
    ASTATE_WaitForReady,
    ASTATE_AudioOn,
    ASTATE_Reserved
};

enum _Video_Output_Configure {
    eRGB444_SDR = 0,
    eYUV444_SDR,
    eRGB444_DDR,
    eYUV444_DDR,
    eYUV422_Emb_Sync_SDR,
    eYUV422_Emb_Sync_DDR,
    eYUV422_Sep_Sync_SDR,
    eYUV422_Sep_Sync_DDR,
    eCCIR656_Emb_Sync_SDR,
    eCCIR656_Emb_Sync_DDR,
    eCCIR656_Sep_Sync_SDR,
    eCCIR656_Sep_Sync_DDR,
    eRGB444_Half_Bus,
    eYUV444_Half_Bus,
    eBTA1004_SDR,
    eBTA1004_DDR,
    eVOMreserve
};

// One masked write of the initialisation table.
struct IT6602_REG_INI {
    uint8_t ucAddr;
    uint8_t andmask;
    uint8_t ucValue;
};

// The EQ search of one port.
struct IT6602_eq_data {
    uint8_t ucEQState = 0xFF;       // 255 idle
    uint8_t ucECCvalue = 0;         // errors of the setting in force
    uint8_t ucECCfailCount = 0;     // bits 0-3 consecutive errors, 6 saturation restart, 7 no signal
    uint8_t ucSaturated = 0;        // consecutive saturated samples
    uint8_t ucNoSignal = 0;         // samples with +5 V and clock but no signal (states 0..19)
    uint8_t ucPortID = 0;
    uint8_t f_manualEQadjust = 0;   // search active
    uint8_t ErrorCount[3] = {0, 0, 0};   // errors found for the three EQ values
};

// Audio capability triple read from the chip.
struct AUDIO_CAPS {
    uint8_t AudioFlag = 0;          // bit 7 present, 6 HBR, 5 DSD, 0 plain LPCM
    uint8_t AudSrcEnable = 0;       // channel bits
    uint8_t SampleFreq = 0;         // sample-rate code
};

struct IT6602_dev_data {
    uint8_t m_VState = VSTATE_Reserved;
    uint8_t m_AState = ASTATE_Reserved;
    uint8_t m_bHold = 0;            // 1: output reconfiguration and audio handler skipped
    AUDIO_CAPS m_RxAudioCaps;
    uint16_t m_VideoCountingTimer = 0;
    uint16_t m_AudioCountingTimer = 0;
    uint8_t m_ucCurrentSCDT = 255;
    uint8_t m_bOutputVideoMode = 0; // colour code in bits 0-1
    uint8_t m_bInputVideoMode = 0;  // colour code in bits 0-1, bit 4 BT.709, bit 5 limited RGB
    uint8_t m_ucSCDToffCount = 0;   // SCDT wait counter
    uint8_t m_ucEccCount[2] = {0, 0};
    uint8_t m_ucDeskewCount[2] = {0, 0};
    uint8_t de3dframe = 0;
    IT6602_eq_data EQPort[2];
    uint8_t m_ToggleCount[2] = {0, 0};
    uint8_t m_VidOutConfigMode = eRGB444_SDR;
    uint8_t m_VidOutDataTrgger = 0; // 0 SDR, 1 half bus, 2 DDR, 3 BTA-1004 SDR, 4 BTA-1004 DDR
    uint8_t m_VidOutSyncMode = 0;   // 0 separate, 1 embedded, 2 CCIR 656 separate, 3 CCIR 656 embedded
    uint8_t m_ucEvent = 0;          // bits 0/4 reset pending, 1/5 TMDS check, 2/6 EQ start
    uint8_t m_ucEventCount[2] = {0, 0};
    uint8_t m_ucPort = 0;           // the port in force
    // AVI infoframe fields
    uint8_t avi_Y = 0, avi_C = 0, avi_EC = 0, avi_Q = 0, avi_VIC = 0, avi_YQ = 0;
    uint8_t m_HDCP_ContentOff = 0;
    uint8_t m_ucColorDepth = 0;
    uint8_t m_ucLastAVI[5] = {0, 0, 0, 0, 0};   // AVI fields last seen (bank 2 0x15-0x19, masked)
    uint8_t m_ucStatus = 0;            // bit 3 HDMI mode, bit 5 AVI changed
    uint8_t m_AudioRetry = 0;          // an audio state whose change failed, + 1: made again
};

// Per device and port: the equaliser bookkeeping that lives beside the search record.
struct IT6602_link {
    uint8_t manualEQ = 0;           // amplitudes written as EQ
    uint8_t ampValid = 0;           // bits 0-1, 2-3, 4-5 for channels 0..2; 0x3F all valid
    uint8_t amp[3] = {0, 0, 0};
    uint8_t eqWritten = 0;
};

class velin_it6602 {
public:
    static constexpr uint8_t kStatusHDMI = 0x08;
    static constexpr uint8_t kStatusAVIChanged = 0x20;
    static constexpr int kInitTableRows = 81;

    int fd = -1;                              // first field: the bus descriptor
    uint8_t identify_fail[3] = {0, 0, 0};
    bool missing_told[3] = {false, false, false};   // the chip's absence was printed
    IT6602_dev_data dev_data[3];
    uint8_t ipll_count[3] = {0, 0, 0};
    IT6602_link link[3][2];
    // Each chip keeps the address it answered at; the access routines use the one of the
    // device on the selected branch (cur_dev), set by every entry point.
    uint8_t i2c_addr[3] = {0x94, 0x94, 0x94};
    int cur_dev = 0;
    uint32_t tmds_clock[3] = {0, 0, 0};       // MHz
    uint32_t osc_count[3] = {0, 0, 0};        // calibrated oscillator count (/100)
    IT6602_VIDEO_TIMING vid_timing[3];
    float pfreq[3] = {0, 0, 0};               // MHz, measured with vid_timing
    // Transfers that failed on the bus (after the read's own retry). A set-up or a
    // measurement during which this moved is not in force and is done again.
    uint32_t io_errors = 0;
    int8_t hpd_retry[3] = {-1, -1, -1};       // a hot-plug level the chip did not take
    // Per device and port: interrupt bits (0x20 mode, 0x04 lock, 0x02 clock) acknowledged
    // but not served for want of a read; served on the next pass.
    uint8_t intr_owed[3][2] = {{0, 0}, {0, 0}, {0, 0}};
    uint8_t int07_owed[3] = {0, 0, 0};   // register 0x07: 0x02 SCDT change
    bool de3d_retry[3] = {false, false, false};   // the 3D generator not set as decided
    // A bank select the chip did not take leaves its bank unknown: no register above the
    // common ones (0x00-0x0F) is read or written until a select is taken again, so a value
    // meant for one bank never lands in another.
    bool bank_known[3] = {true, true, true};
    // Steps redone from their start on the next pass because one of their transfers failed:
    // the +5 V change (a reading not answered is unknown, not "no +5 V") and the output gate
    // (tristate while nothing is published).
    bool pwr_retry[3] = {false, false, false};
    bool tristate_owed[3] = {false, false, false};
    // The bank the last select took, so a select of the same bank is skipped; forgotten at
    // each entry (between two the chip may have been reset to bank 0). -1 unknown.
    int8_t bank_now[3] = {-1, -1, -1};
    bool mute_owed[3] = {false, false, false};   // a source's AV mute not taken whole: muted again
    // Passes in a row the chip did not answer its bank register; only a chip silent this
    // long is taken for one that was reset or lost (a single unanswered read is a disturbance).
    static constexpr uint8_t kSilentPasses = 3;
    uint8_t silent_passes[3] = {0, 0, 0};

    static const IT6602_REG_INI* const IT6602_HDMI_INIT_TABLE;   // 81 rows, then register 0xFF
    static const uint8_t IT6602EQTable[3];
    static const char* const VStateStr[14];
    static const char* const AStateStr[6];
    static const char* const VModeStateStr[16];

    velin_it6602() {}
    ~velin_it6602() {}

    IT6602_dev_data* get_IT6602_dev_data(int dev) { return &dev_data[dev < 0 || dev > 2 ? 0 : dev]; }
    uint8_t address() const { return i2c_addr[cur_dev]; }

    // --- register access on the selected branch (a read has a value only when answered;
    // every failure counts in io_errors) ---
    RegRead hdmirxrd_it6602(int fd, unsigned char reg);
    [[nodiscard]] int hdmirxwr_it6602(int fd, unsigned char reg, unsigned char value);   // 0 ok, 1 failed
    [[nodiscard]] int hdmirxset_it6602(int fd, unsigned char reg, unsigned char mask, unsigned char value);
    [[nodiscard]] int hdmirxbwr_it6602(int fd, unsigned char reg, int n, const unsigned char* data);
    [[nodiscard]] int chgbank_it6602(int fd, int bank);   // 0 ok, 1 failed
    // Counted writes, for steps that compare io_errors before they count as done (or whose
    // effect the chip reports back and is looked at again): the failure lands there.
    void write_counted(int fd, unsigned char reg, unsigned char value) { (void)hdmirxwr_it6602(fd, reg, value); }
    void set_counted(int fd, unsigned char reg, unsigned char mask, unsigned char value) { (void)hdmirxset_it6602(fd, reg, mask, value); }
    void bank_counted(int fd, int bank) { (void)chgbank_it6602(fd, bank); }
    void hdimrx_write_init_it6602(int fd, const IT6602_REG_INI* table);
    static void delay1ms(unsigned ms);
    static void delay1ms_real(unsigned ticks);

    // --- start-up and service, driven by velinsource::sourcecheck ---
    int IT6602_fsm_init(int fd, int dev);     // 1 chip found and its start-up table taken
    int IT6602_Identify_Chip(int fd, int dev);
    void IT6602_Rst(int fd, int dev, IT6602_dev_data* d);
    void hdmirx_Var_init(int dev, IT6602_dev_data* d);
    int IT6602_fsm_init_1(int fd, int dev);   // 1 done, 0 a write failed
    // 1 the chip no longer holds its start-up settings, 0 it does, -1 not known this pass
    // (a read or the bank select not answered: the chip is not polled until next pass).
    int IT6602_setup_lost(int fd, int dev);
    void IT6602_fsm(int fd, int dev);
    void IT6602PortSelect(int fd, int port, int dev);
    // Port 0 only: HPD high (value 1) or low (0) while +5 V is present; low without it.
    // dev names the chip on the selected branch (-1: the one last addressed).
    // 0 ok, 1 the chip did not take it (set again on its next pass).
    int IT6602HPDCtrl(int fd, int port, int value, int dev = -1);
    RegFlag CheckPlg5VPwr(int fd, int port);
    RegFlag CLKCheck(int fd, int port);
    RegFlag IsHDMIMode(int fd);
    RegFlag IT6602_IsSelectedPort(int fd, int port);

    // --- interrupt service ---
    void IT6602HDMIInterruptHandler(int fd, int dev);
    void hdmirx_INT_5V_Pwr_Chg(int fd, IT6602_dev_data* d, int port, int dev);
    // false: the mode was not read, the change is served again on the next pass.
    bool hdmirx_INT_HDMIMode_Chg(int fd, IT6602_dev_data* d, int port, int dev);

    // --- equaliser and link-error recovery ---
    void AmpValidCheck(int fd, int port, int dev);
    void OverWriteAmpValue2EQ(int fd, int port, int dev);
    void HDMIStartEQDetect(int fd, int port, int dev);
    void HDMIAdjustEQ(int fd, int port, int dev);
    void HDMICheckSCDTon(int fd, int port, int dev);
    void HDMIPollingErrorCount(int fd, int port, int dev);
    void HDMISwitchEQstate(int fd, int port, int state, int dev);
    void HDMISetEQValue(int fd, int port, int index, int dev);
    void HDMIJudgeECCvalue(int fd, int port, int dev);
    void StoreEccCount(int fd, int port, int dev);
    // Index (0..2) of the EQ value with the fewest errors; ties favour the later value.
    static int JudgeBestEQ(const uint8_t errors[3]);
    void hdmirx_INT_EQ_FAIL(int fd, IT6602_dev_data* d, int port, int dev);
    void TogglePolarity(int fd, int port, int dev);
    void TMDSCheck(int fd, int port, int dev);
    RegResult<uint32_t> tmds_clock_of(int fd, int port);
    // Whether the port is the selected one; not read, the port known to be selected.
    bool port_selected(int fd, int port, int dev);
    void hdmirx_INT_RxReset(int fd, IT6602_dev_data* d, int port, uint8_t intr, int dev);
    void IT6602HDMIEventManager(int fd, int dev);
    void hdmirx_INT_P0_ECC(int fd, IT6602_dev_data* d, int dev) { ecc_burst(fd, d, 0, dev); }
    void hdmirx_INT_P1_ECC(int fd, IT6602_dev_data* d, int dev) { ecc_burst(fd, d, 1, dev); }
    void hdmirx_INT_P0_Deskew(int fd, IT6602_dev_data* d, int dev) { deskew_burst(fd, d, 0, dev); }
    void hdmirx_INT_P1_Deskew(int fd, IT6602_dev_data* d, int dev) { deskew_burst(fd, d, 1, dev); }
    void hdmirx_ECCTimingOut(int fd, int port, int dev);
    void DisableOverWriteRS(int fd, int port, int dev);

    // --- video ---
    void IT6602SwitchVideoState(int fd, IT6602_dev_data* d, int state, int dev);
    void IT6602VideoHandler(int fd, int dev);
    void IT6602VideoCountClr(IT6602_dev_data* d) { d->m_VideoCountingTimer = 1; }
    void WaitingForSCDT(int fd, int dev);
    bool hdmirx_INT_SCDT_Chg(int fd, IT6602_dev_data* d, int dev);   // false: SCDT not read
    RegFlag CheckSCDT(int fd, IT6602_dev_data* d);
    // 0 done; 1 a transfer failed (the gate is set again on the next pass).
    int IT6602VideoOutputEnable(int fd, int on, int dev);
    void IT6602_SetVideoMute(int fd, IT6602_dev_data* d, int on);
    void IT6602_HDCP_ContentOff(int fd, int port, int dev);
    void IT6602_ManualVideoTristate(int fd, int port, int dev);
    void end_content_off(int fd, int port, int dev);
    RegFlag CheckAVMute(int fd, int port);
    void IT6602_AFE_Rst(int fd, int dev);
    // 1 when the registers hold a usable timing (a pixel-clock count, totals that hold
    // the active area and porches that do not go negative) and every read was answered;
    // measures the pixel clock (pfreq) too.
    int get_vid_info(int fd, int dev);
    void show_vid_info(int fd, int dev);
    void it6602_Get_Hdmi(int fd, int dev);
    float measure_pfreq(int fd, int dev);     // pixel clock in MHz for hdminfo
    void it6602_update_vid_info(int dev);
    // Frame rate of a timing as the status bytes carry it (above 54 counts as 60).
    static uint32_t frame_rate_of(const IT6602_VIDEO_TIMING& t);
    void Cal_oclk(int fd, int dev);
    uint32_t CP_OCLK(int fd);
    static int OSCvalueCompare(uint32_t count);   // 1 within range
    void IPLLOvw_chk(int fd, int port, int dev);
    void IT6602_DE3DOff(int fd);
    int IT6602_DE3DFrame(int fd, int newframe, int dev);
    void Dump3DReg(int fd);

    // --- output format and colour conversion ---
    void IT6602_VideoOutputConfigure_Init(IT6602_dev_data* d, int mode);
    void IT6602VideoOutputConfigure(int fd, int dev);
    void GetAVIInfoFrame(int fd, IT6602_dev_data* d);
    // Register 0x65 bits 2-3 from the input's depth (0x99 bits 4-7). 0 done, 1 not.
    int set_color_depth(int fd, IT6602_dev_data* d);
    void SetNewInfoVideoOutput(int fd, IT6602_dev_data* d);
    void SetDVIVideoOutput(int fd, IT6602_dev_data* d);
    void SetVideoInputFormatWithInfoFrame(int fd, IT6602_dev_data* d);
    void SetVideoInputFormatWithoutInfoFrame(int fd, IT6602_dev_data* d, uint8_t format);
    void SetColorimetryByInfoFrame(IT6602_dev_data* d);
    void SetColorimetryByMode(int fd, IT6602_dev_data* d);
    void SetColorSpaceConvert(int fd, IT6602_dev_data* d);
    // Bank 1 selected, n bytes written from reg, bank 0 again; a block is written only
    // when bank 1 was selected (it would land on bank 0's registers). 0 ok, 1 failed.
    int bank1_write(int fd, unsigned char reg, int n, const unsigned char* data);
    void SetVideoOutputColorFormat(int fd, IT6602_dev_data* d);
    void IT6602_VideoOutputModeSet(int fd, IT6602_dev_data* d);
    void IT6602_HalfPCLKFinetune(int fd, IT6602_dev_data* d);
    // Register 0x64 bit 7 set, then cleared (tried whatever the set did). 0 both taken.
    [[nodiscard]] int IT6602_PulseVideoReset(int fd);
    // The output out of tristate and mute: bits 1-3 of 0x53 pulsed, then bits 6-7. Each
    // write only after the one before was taken, so a sequence cut short leaves a bit of
    // 0x53's 0x8F set and the video handler makes it again. 0 all taken.
    [[nodiscard]] int release_output(int fd, bool pulseReset);

    // --- audio ---
    void IT6602SwitchAudioState(int fd, IT6602_dev_data* d, int state);
    void IT6602AudioHandler(int fd, int dev);
    void IT6602AudioOutputEnable(int fd, int on);
    bool getHDMIRXInputAudio(int fd, AUDIO_CAPS* caps);   // false: not read whole, caps as they were
    void hdmirx_SetHWMuteClr(int fd);
    void hdmirx_ClearHWMuteClr(int fd);
    void hdmirx_SetHWMuteClrMode(int fd);
    void hdmirx_ResetAudio(int fd);
    void aud_fiforst(int fd);

private:
    // The 23rd ECC interrupt resets the port, the 23rd deskew interrupt toggles its deskew.
    void ecc_burst(int fd, IT6602_dev_data* d, int port, int dev);
    void deskew_burst(int fd, IT6602_dev_data* d, int port, int dev);
    int select(int dev);                      // cur_dev = dev (clamped); returns it
    void set_source_online_status(int dev, bool zero);
    void switch_audio(int fd, IT6602_dev_data* d, int state);
};
