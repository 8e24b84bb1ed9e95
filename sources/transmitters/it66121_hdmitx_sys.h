#pragma once
// The transmitter's device loop: display and audio options, the sink's capabilities parsed
// from its EDID, and the set-up that follows hot-plug events. The loop-enabled byte is never
// set in the running system, so the loop returns at once there.

#include "sources/transmitters/it66121_hdmitx_drv.h"

#include <cstdint>

struct RX_CAP {
    uint8_t cea_support;          // bit 6 basic audio, bit 5 YCbCr 4:4:4, bit 4 YCbCr 4:2:2
    uint8_t native_vdo;           // 255 = none
    uint8_t VDOMode[8];           // video code v is bit v % 8 of byte v / 8 (codes 0-63)
    uint8_t AUDDesCount;
    uint8_t AUDDes[4][3];
    uint8_t phy_address[2];
    uint32_t IEEEOUI;
    uint8_t dc_support;           // deep-colour bits
    uint8_t max_tmds_clock;
    uint8_t speaker_allocation[3];
    uint8_t flags;                // bit 0 parse complete, bit 1 HDMI vendor block, bit 2 3D
};

class it66121_hdmitx_sys {
public:
    static constexpr uint8_t kRgb = 0, kYuv422 = 1, kYuv444 = 2;
    static constexpr uint8_t kAudioLpcm = 0x80, kAudioNlpcm = 0x90, kAudioDsd = 0xA0, kAudioHbr = 0xC0;
    static constexpr uint8_t kCapParsed = 0x01, kCapHdmi = 0x02, kCap3D = 0x04;

    static const _HDMITXDEV_STRUCT InstanceData;

    explicit it66121_hdmitx_sys(it66121_hdmitx_drv* drv);

    RX_CAP RxCapability = {};
    uint8_t bChangeMode = 0;
    uint8_t bChangeAudio = 0;
    uint8_t CommunBuff[128] = {};
    uint8_t bInputColorMode = kYuv422;
    uint8_t iColorDepth = 24;
    uint8_t bOutputColorMode = kRgb;
    uint32_t VideoPixelClock = 0;
    uint8_t VIC = 0;
    uint8_t pixelrep = 0;
    uint32_t aspec = 0;           // 16:9
    uint32_t Colorimetry = 0;     // BT.709
    uint32_t ulAudioSampleFS = 48000;
    uint8_t bAudioChannelCount = 2;
    uint8_t bHDMIMode = 0;
    uint8_t bAudioEnable = 0;
    uint8_t HPDStatus = 0;
    uint8_t HPDChangeStatus = 0;
    uint8_t bOutputAudioType = kAudioLpcm;
    uint8_t loop_enabled = 0;

    void InitHDMITX_Variable();
    void HDMITX_ChangeDisplayOption(uint8_t type, uint8_t outputColorMode);
    void HDMITX_ChangeAudioOption(uint8_t type, uint8_t channels, uint8_t fsCode);
    void HDMITX_ChangeColorDepth(uint8_t depth);
    bool AudioModeDetect();
    void HDMITX_SetOutput();
    void HDMITX_SetAudioOutput();
    void ConfigAVIInfoFrame(uint8_t code, uint8_t repetition);
    void ConfigAudioInfoFrm();
    void ConfigfHdmiVendorSpecificInfoFrame(uint8_t structure);
    bool ParseEDID();
    bool ParseCEAEDID(const uint8_t* block);
    void HDMITX_DevLoopProc();

private:
    it66121_hdmitx_drv* drv_;
};
