#include "sources/transmitters/it66121_hdmitx_sys.h"

#include "core/global.h"

#include <cstring>

// video signal type, audio input configuration, audio control, Fs code (48 kHz), TMDS
// clock, flags, audio start delay, last FIFO reading, chip address.
const _HDMITXDEV_STRUCT it66121_hdmitx_sys::InstanceData = {0, 0x01, 0x01, 2, 0, 0, 0, 0, 0x98};

namespace {
struct VideoType {
    uint8_t type;
    uint32_t pclk;
    uint8_t code;
    uint8_t repetition;
    bool wide;
    bool bt709;
};
// clang-format off
constexpr VideoType kVideoTypes[] = {
    {1, 25000000, 1, 0, false, false},   {2, 27000000, 2, 0, false, false},
    {3, 27000000, 3, 0, true, false},    {4, 74250000, 4, 0, true, true},
    {5, 74250000, 5, 0, true, true},     {6, 13500000, 6, 1, false, false},
    {7, 13500000, 7, 1, true, false},    {16, 148500000, 16, 0, true, true},
    {17, 27000000, 17, 0, false, false}, {18, 27000000, 18, 0, true, false},
    {19, 74250000, 19, 0, true, true},   {20, 74250000, 20, 0, true, true},
    {21, 13500000, 21, 1, false, false}, {22, 13500000, 22, 1, true, false},
    {31, 148500000, 31, 0, true, true},  {32, 74250000, 32, 0, true, true},
    {33, 74250000, 33, 0, true, true},   {34, 74250000, 34, 0, true, true},
    {61, 74250000, 0, 0, true, true}};
// clang-format on
constexpr int kEdidBlock = 128;
constexpr int kMaxExtensions = 4;
} // namespace

it66121_hdmitx_sys::it66121_hdmitx_sys(it66121_hdmitx_drv* drv) : drv_(drv)
{
    RxCapability.native_vdo = 255;
}

void it66121_hdmitx_sys::InitHDMITX_Variable()
{
    drv_->HDMITX_InitTxDev(&InstanceData);
    HPDStatus = 0;
    HPDChangeStatus = 0;
}

void it66121_hdmitx_sys::HDMITX_ChangeDisplayOption(uint8_t type, uint8_t outputColorMode)
{
    const VideoType* t = nullptr;
    for (const VideoType& v : kVideoTypes)
        if (v.type == type)
            t = &v;
    if (!t) {
        bChangeMode = 0;
        return;
    }
    VideoPixelClock = t->pclk;
    VIC = t->code;
    pixelrep = t->repetition;
    aspec = t->wide ? 1 : 0;
    Colorimetry = t->bt709 ? 1 : 0;
    if (bOutputColorMode != kRgb)
        bOutputColorMode = outputColorMode == 1 ? kYuv444 : outputColorMode == 2 ? kYuv422 : kRgb;
    if (t->bt709)
        bInputColorMode |= 0x10;
    else
        bInputColorMode &= uint8_t(~0x10);
    if (type == 1)
        bInputColorMode &= uint8_t(~0x20);
    else
        bInputColorMode |= 0x20;
    bChangeMode = 1;
}

void it66121_hdmitx_sys::HDMITX_ChangeAudioOption(uint8_t type, uint8_t channels, uint8_t fsCode)
{
    if (type == kAudioNlpcm) {
        bOutputAudioType = kAudioNlpcm;
        bAudioChannelCount = 2;
    } else if (type == kAudioHbr) {
        bOutputAudioType = kAudioHbr;
        ulAudioSampleFS = 768000;
        bAudioChannelCount = 8;
        return;
    } else {
        bOutputAudioType = kAudioLpcm;
        bAudioChannelCount = channels == 0 ? 1 : channels > 8 ? 8 : channels;
    }
    switch (fsCode) {
    case 0: ulAudioSampleFS = 44100; break;
    case 3: ulAudioSampleFS = 32000; break;
    case 8: ulAudioSampleFS = 88200; break;
    case 9: ulAudioSampleFS = 768000; break;
    case 10: ulAudioSampleFS = 96000; break;
    case 12: ulAudioSampleFS = 176400; break;
    case 14: ulAudioSampleFS = 192000; break;
    default: ulAudioSampleFS = 48000; break;
    }
    bChangeAudio = 1;
}

void it66121_hdmitx_sys::HDMITX_ChangeColorDepth(uint8_t)
{
    iColorDepth = 0;
}

bool it66121_hdmitx_sys::AudioModeDetect()
{
    drv_->setHDMITX_AudioChannelEnable(bAudioEnable);
    return true;
}

void it66121_hdmitx_sys::HDMITX_SetOutput()
{
    const uint32_t tmds = VideoPixelClock * (1u + pixelrep);
    drv_->hdmiTxDev[0].tmds_clock = tmds;
    drv_->HDMITX_DisableAudioOutput();
    const uint8_t level = VideoPixelClock <= 20000000 ? 0 : VideoPixelClock <= 80000000 ? 1 : 2;
    drv_->setHDMITX_VideoSignalType(0);
    drv_->HDMITX_EnableVideoOutput(level, bInputColorMode, bOutputColorMode, bHDMIMode);
    if (bHDMIMode) {
        ConfigAVIInfoFrame(VIC, pixelrep);
        HDMITX_SetAudioOutput();
    } else {
        drv_->HDMITX_EnableAVIInfoFrame(0, nullptr);
        drv_->HDMITX_EnableVSInfoFrame(0, nullptr);
    }
    drv_->setHDMITX_AVMute(0);
    bChangeMode = 0;
}

void it66121_hdmitx_sys::HDMITX_SetAudioOutput()
{
    if (!bAudioEnable)
        return;
    ConfigAudioInfoFrm();
    drv_->HDMITX_EnableAudioOutput(bOutputAudioType, 0, ulAudioSampleFS, bAudioChannelCount, nullptr,
                                   drv_->hdmiTxDev[0].tmds_clock);
    bChangeAudio = 0;
}

void it66121_hdmitx_sys::ConfigAVIInfoFrame(uint8_t code, uint8_t repetition)
{
    uint8_t* f = CommunBuff;
    std::memset(f, 0, 4 + 13);
    f[0] = 0x82;
    f[1] = 2;
    f[2] = 13;
    f[4] = bOutputColorMode == kYuv422 ? 0x30 : bOutputColorMode == kYuv444 ? 0x50 : 0x10;
    f[5] = uint8_t(0x08 | (aspec ? 0x20 : 0x10) | (Colorimetry ? 0x80 : 0x40));
    f[6] = 0;
    f[7] = code;
    f[8] = uint8_t(repetition & 0x03);
    drv_->HDMITX_EnableAVIInfoFrame(1, f);
}

void it66121_hdmitx_sys::ConfigAudioInfoFrm()
{
    uint8_t* f = CommunBuff;
    std::memset(f, 0, 4 + 10);
    f[0] = 0x84;
    f[1] = 1;
    f[2] = 10;
    f[4] = 1;
    drv_->HDMITX_EnableAudioInfoFrame(1, f);
}

void it66121_hdmitx_sys::ConfigfHdmiVendorSpecificInfoFrame(uint8_t structure)
{
    uint8_t* f = CommunBuff;
    std::memset(f, 0, 4 + 6);
    f[0] = 0x81;
    f[1] = 1;
    f[2] = structure == 8 ? 6 : 5;
    f[4] = 0x03;
    f[5] = 0x0C;
    f[6] = 0x00;
    f[7] = 0x40;
    f[8] = (structure == 0 || structure == 6 || structure == 8) ? uint8_t(structure * 16) : 0;
    f[9] = 0;
    drv_->HDMITX_EnableVSInfoFrame(1, f);
}

bool it66121_hdmitx_sys::ParseEDID()
{
    RxCapability.IEEEOUI = 0;
    RxCapability.flags &= uint8_t(~(kCapParsed | kCapHdmi));
    if (!drv_->getHDMITX_EDIDBlock(0, CommunBuff))
        return false;
    static const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    uint8_t sum = 0;
    for (int i = 0; i < kEdidBlock; ++i)
        sum = uint8_t(sum + CommunBuff[i]);
    if (sum != 0 || std::memcmp(CommunBuff, header, 8) != 0)
        return false;
    const int extensions = CommunBuff[126];
    if (extensions == 0)
        return true;
    bool result = false;
    const int last = extensions < kMaxExtensions ? extensions : kMaxExtensions;
    for (int b = 1; b <= last; ++b) {
        result = drv_->getHDMITX_EDIDBlock(b, CommunBuff);
        if (result && !(RxCapability.flags & kCapHdmi) && CommunBuff[0] == 0x02 && CommunBuff[1] == 0x03) {
            result = ParseCEAEDID(CommunBuff);
            KEL_TRACE("ParseCEAEDID err = %s\n", result ? "SUCCESS" : "FAIL");
            if (result)
                KEL_TRACE("RxCapability.IEEEOUI = %lx\n", static_cast<unsigned long>(RxCapability.IEEEOUI));
        }
    }
    return result;
}

// The block is exactly 128 bytes from a sink: every offset is bounded by the detailed-timing
// offset, itself clamped to the block, and a data block is used only when it ends inside it.
bool it66121_hdmitx_sys::ParseCEAEDID(const uint8_t* block)
{
    if (!block || block[0] != 0x02 || block[1] != 0x03)
        return false;
    RX_CAP& cap = RxCapability;
    int d = block[2];
    if (d > kEdidBlock)
        d = kEdidBlock;
    cap.cea_support = block[3];
    cap.native_vdo = 255;
    std::memset(cap.VDOMode, 0, sizeof cap.VDOMode);
    cap.phy_address[0] = cap.phy_address[1] = 0;
    if (d < 5) {
        cap.flags |= kCapParsed;
        return true;
    }
    int offset = 4;
    while (offset < d) {
        const uint8_t h = block[offset];
        const int tag = h >> 5;
        const int length = h & 0x1F;
        const uint8_t* p = block + offset + 1;   // payload byte 1 is p[0]
        if (tag == 4) {
            // Speaker allocation: three bytes, and the next block four bytes on, whatever
            // the header's length says.
            if (offset + 4 > d)
                break;
            std::memcpy(cap.speaker_allocation, p, 3);
            offset += 4;
            continue;
        }
        if (offset + 1 + length > d)
            break;                              // a block running past the data area is not used
        switch (tag) {
        case 1: {
            cap.AUDDesCount = uint8_t(length / 3);
            KEL_TRACE("RxCapability.AUDDesCount = %d\n", cap.AUDDesCount);
            const int n = cap.AUDDesCount < 4 ? cap.AUDDesCount : 4;
            for (int i = 0; i < n; ++i)
                std::memcpy(cap.AUDDes[i], p + 3 * i, 3);
            break;
        }
        case 2:
            for (int i = 0; i < length; ++i) {
                const uint8_t b = p[i];
                if (b & 0x40)
                    continue;
                const uint8_t v = b & 0x7F;
                if (v > 63)
                    continue;                   // the bitmap holds codes 0-63 only
                cap.VDOMode[v / 8] |= uint8_t(1u << (v % 8));
                KEL_TRACE("VIC = %d, RxCapability.VDOMode[%d]=%02X\n", v, v / 8, cap.VDOMode[v / 8]);
                if ((b & 0x80) && cap.native_vdo == 255) {
                    cap.native_vdo = v;
                    KEL_TRACE("native = %d\n", v);
                }
            }
            break;
        case 3: {
            if (length < 3)
                break;
            cap.IEEEOUI = uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
            KEL_TRACE("IEEEOUI = %02X %02X %02X %lx\n", p[0], p[1], p[2],
                      static_cast<unsigned long>(cap.IEEEOUI));
            if (cap.IEEEOUI != 0x000C03)
                break;
            cap.flags |= kCapHdmi;
            if (length >= 5) {
                cap.phy_address[0] = p[3];
                cap.phy_address[1] = p[4];
            }
            if (length >= 6)
                cap.dc_support = p[5] & 0x70;
            if (length >= 7)
                cap.max_tmds_clock = p[6];
            if ((h & 0x18) && length >= 8 && (p[7] & 0x20)) {
                const int next = 8 + ((p[7] & 0x80) ? 2 : 0) + ((p[7] & 0x40) ? 2 : 0);
                KEL_TRACE("next offset = %d", next);
                if (next <= length) {
                    if (p[next - 1] & 0x80)
                        cap.flags |= kCap3D;
                    else
                        cap.flags &= uint8_t(~kCap3D);
                }
            }
            break;
        }
        default:
            break;
        }
        offset += 1 + length;
    }
    cap.flags |= kCapParsed;
    return true;
}

void it66121_hdmitx_sys::HDMITX_DevLoopProc()
{
    if (!loop_enabled)
        return;
    drv_->CheckHDMITX(&HPDStatus, &HPDChangeStatus);
    if (HPDChangeStatus) {
        if (HPDStatus) {
            drv_->HDMITX_PowerOn();
            ParseEDID();
            bOutputColorMode = kRgb;
            if (RxCapability.flags & kCapHdmi) {
                bHDMIMode = 1;
                if (RxCapability.cea_support & 0x40)
                    bAudioEnable = 1;
                if (RxCapability.cea_support & 0x20)
                    bOutputColorMode = kYuv444;
                else if (RxCapability.cea_support & 0x10)
                    bOutputColorMode = kYuv422;
                iColorDepth = 0;
            } else {
                bHDMIMode = 0;
                bAudioEnable = 0;
                iColorDepth = 0;
            }
            bChangeMode = 1;
            bChangeAudio = 1;
        } else {
            drv_->HDMITX_DisableVideoOutput();
            drv_->HDMITX_PowerDown();
            bChangeAudio = 0;
        }
    } else if (HPDStatus) {
        if (bChangeMode)
            HDMITX_SetOutput();
        if (bChangeAudio)
            HDMITX_SetAudioOutput();
    }
}
