#pragma once
// Register-level driver of the SDI stage's HDMI transmitter: register tables, bank
// switching, the video path, AV mute, EDID reading over the chip's DDC master, infoframe
// packets, the status check and the audio path. Every operation that selects bank 1
// selects bank 0 again before it returns. Nothing in the running system drives it.

#include "sources/transmitters/sdi_it66121.h"

#include <cstdint>

struct structRegSetEntry {
    uint8_t reg;
    uint8_t mask;
    uint8_t value;
};

struct _HDMITXDEV_STRUCT {
    uint8_t video_signal_type;
    uint8_t audio_input_config;   // base of audio register 0xE1
    uint8_t audio_control;        // cached audio register 0xE0
    uint8_t audio_fs;             // IEC 60958 Fs code
    uint32_t tmds_clock;          // Hz
    uint8_t flags;                // bit 1 HDMI mode, bit 3 hot-plug at the last check
    uint8_t audio_delay;          // countdown before the audio channels start
    uint8_t last_fifo;            // last reading of register 0x60
    uint8_t address;              // 0x98; the access functions use the constant
};

class it66121_hdmitx_drv {
public:
    static constexpr uint8_t kFlagHdmi = 0x02;
    static constexpr uint8_t kFlagHotPlug = 0x08;

    static const structRegSetEntry HDMITX_Init_Table[];
    static const structRegSetEntry HDMITX_DefaultVideo_Table[];
    static const structRegSetEntry HDMITX_SetHDMI_Table[];
    static const structRegSetEntry HDMITX_SetDVI_Table[];
    static const structRegSetEntry HDMITX_DefaultAVIInfo_Table[];
    static const structRegSetEntry HDMITX_DeaultAudioInfo_Table[];
    static const structRegSetEntry HDMITX_Aud_CHStatus_LPCM_20bit_48Khz[];
    static const structRegSetEntry HDMITX_AUD_SPDIF_2ch_24bit[];
    static const structRegSetEntry HDMITX_PwrOn_Table[];
    static const structRegSetEntry HDMITX_PwrDown_Table[];

    static const uint8_t bCSCMtx_RGB2YUV_ITU601_16_235[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU601_0_255[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU709_16_235[21];
    static const uint8_t bCSCMtx_RGB2YUV_ITU709_0_255[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU601_16_235[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU601_0_255[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU709_16_235[21];
    static const uint8_t bCSCMtx_YUV2RGB_ITU709_0_255[21];

    _HDMITXDEV_STRUCT hdmiTxDev[1] = {};

    void HDMITX_InitTxDev(const _HDMITXDEV_STRUCT* record);
    void InitHDMITX();
    void hdmitx_LoadRegSetting(const structRegSetEntry* table);
    void HDMITX_PowerOn() { hdmitx_LoadRegSetting(HDMITX_PwrOn_Table); }
    void HDMITX_PowerDown() { hdmitx_LoadRegSetting(HDMITX_PwrDown_Table); }
    void Switch_HDMITX_Bank(int bank);
    void HDMITX_OrReg_Byte(uint8_t reg, uint8_t bits);
    void HDMITX_AndReg_Byte(uint8_t reg, uint8_t mask);

    // --- video ---
    bool setHDMITX_VideoSignalType(uint8_t type);
    bool HDMITX_EnableVideoOutput(uint8_t level, uint8_t inputMode, uint8_t outputMode, uint8_t hdmiMode);
    void HDMITX_DisableVideoOutput();
    void hdmitx_SetInputMode(uint8_t inputMode, uint8_t signalType);
    void hdmitx_SetCSCScale(uint8_t inputMode, uint8_t outputMode);
    void hdmitx_SetupAFE(uint8_t level);
    void hdmitx_FireAFE();
    void setHDMITX_AVMute(uint8_t on);
    bool getHDMITX_LinkStatus();

    // --- DDC and EDID ---
    void hdmitx_ClearDDCFIFO();
    void hdmitx_GenerateDDCSCLK();
    void hdmitx_AbortDDC();
    // 0 on success, 1 on failure.
    int getHDMITX_EDIDBytes(uint8_t* buffer, uint8_t segment, uint8_t offset, int count);
    bool getHDMITX_EDIDBlock(int block, uint8_t* buffer);

    // --- infoframes (frames laid out as CEA-861: header 0-2, checksum 3, payload from 4) ---
    bool hdmitx_SetAVIInfoFrame(const uint8_t* frame);
    bool hdmitx_SetAudioInfoFrame(const uint8_t* frame);
    bool hdmitx_SetSPDInfoFrame(const uint8_t* frame);
    bool hdmitx_SetMPEGInfoFrame(const uint8_t* frame);
    bool hdmitx_SetVSIInfoFrame(uint8_t* frame);
    bool hdmitx_Set_GeneralPurpose_PKT(const uint8_t* packet);
    bool HDMITX_EnableAVIInfoFrame(uint8_t enable, const uint8_t* frame);
    bool HDMITX_EnableAudioInfoFrame(uint8_t enable, const uint8_t* frame);
    bool HDMITX_EnableVSInfoFrame(uint8_t enable, uint8_t* frame);

    // Returns the sink's presence; either pointer may be null.
    uint8_t CheckHDMITX(uint8_t* hotPlug, uint8_t* hotPlugChanged);

    // --- audio ---
    static const uint16_t kNTable[15];            // N by Fs code; codes above 14 use 6144
    static uint8_t ucIEC60958ChStat[5];
    static uint8_t AudioOutStatus;

    bool HDMITX_EnableAudioOutput(uint8_t type, uint8_t spdif, uint32_t sampleRate, uint8_t channels,
                                  uint8_t* channelStatus, uint32_t tmdsClock);
    void HDMITX_DisableAudioOutput();
    void setHDMITX_LPCMAudio(uint8_t channelPairs, uint8_t bits, uint8_t spdif);
    void setHDMITX_NLPCMAudio(uint8_t spdif);
    void setHDMITX_HBRAudio(uint8_t spdif);
    void setHDMITX_DSDAudio();
    void setHDMITX_ChStat(const uint8_t* status);
    void setHDMITX_UpdateChStatFs(uint8_t fs);
    void setHDMITX_NCTS(uint8_t fsCode);
    void hdmitx_AutoAdjustAudio();
    bool hdmitx_IsAudioChang();
    void setHDMITX_AudioChannelEnable(uint8_t enable);

    sdi_it66121 bus;

private:
    uint8_t rd(uint8_t reg) { return bus.HDMITX_ReadI2C_Byte(reg); }
    void wr(uint8_t reg, uint8_t value) { bus.HDMITX_WriteI2C_Byte(reg, value); }
    void set(uint8_t reg, uint8_t mask, uint8_t value) { bus.HDMITX_SetI2C_Byte(reg, mask, value); }
    void writeMatrix(const uint8_t* m);
    void pollSpdif();
};
