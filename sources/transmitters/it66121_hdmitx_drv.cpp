#include "sources/transmitters/it66121_hdmitx_drv.h"

#include "board/Clock.h"

#include <cstring>

namespace {
constexpr uint8_t kBank = 0x0F;
constexpr structRegSetEntry kBank1 = {0x0F, 0x01, 0x01};
constexpr structRegSetEntry kBank0 = {0x0F, 0x01, 0x00};
constexpr structRegSetEntry kEnd = {0, 0, 0};
constexpr int kDdcPolls = 200;
constexpr int kDdcReadPolls = 250;
constexpr int kDdcChunk = 32;
} // namespace

// clang-format off
const structRegSetEntry it66121_hdmitx_drv::HDMITX_Init_Table[] = {
    {0x0F, 0x40, 0x00}, {0x62, 0x08, 0x00}, {0x64, 0x04, 0x00}, {0x01, 0x00, 0x00},
    {0x04, 0x20, 0x20}, {0x04, 0x1D, 0x1D}, {0x01, 0x00, 0x00}, kBank0,
    {0xD1, 0x0E, 0x0C}, {0x65, 0x03, 0x00}, {0x71, 0xFC, 0x1C}, {0x8D, 0xFF, 0x9C},
    {0x0F, 0x08, 0x08}, {0xF8, 0xFF, 0xC3}, {0xF8, 0xFF, 0xA5}, {0x20, 0x80, 0x80},
    {0x37, 0x01, 0x00}, {0x20, 0x80, 0x00}, {0xF8, 0xFF, 0xFF}, {0x5D, 0x03, 0x01},
    {0x59, 0xD8, 0x40}, {0xE1, 0x20, 0x00}, {0x05, 0xC0, 0x40}, {0x09, 0xFF, 0xFC},
    {0x0A, 0xFF, 0xF8}, {0x0B, 0xFF, 0xF7}, {0x0C, 0xFF, 0xFF}, {0x0D, 0xFF, 0xFF},
    {0x0E, 0x03, 0x03}, {0x0C, 0xFF, 0x00}, {0x0D, 0xFF, 0x00}, {0x0E, 0x02, 0x00},
    {0x09, 0x03, 0x00}, {0x20, 0x01, 0x00}, kEnd};

const uint8_t it66121_hdmitx_drv::bCSCMtx_RGB2YUV_ITU709_16_235[21] = {
    0x00, 0x80, 0x00, 0xB8, 0x05, 0xB4, 0x01, 0x94, 0x00, 0x4A, 0x3C,
    0x17, 0x04, 0x9F, 0x3F, 0xD9, 0x3C, 0x10, 0x3F, 0x17, 0x04};
const uint8_t it66121_hdmitx_drv::bCSCMtx_YUV2RGB_ITU601_16_235[21] = {
    0x00, 0x00, 0x00, 0x00, 0x08, 0x6B, 0x3A, 0x50, 0x3D, 0x00, 0x08,
    0xF5, 0x0A, 0x02, 0x00, 0x00, 0x08, 0xFD, 0x3F, 0xDA, 0x0D};
// The other six follow the layout of the two above (three offset bytes, then three rows of
// three 14-bit two's-complement words, 2048 = 1.0, least significant byte first), computed
// from the BT.601 / BT.709 coefficients; they agree with the chip's own to a few units.
const uint8_t it66121_hdmitx_drv::bCSCMtx_RGB2YUV_ITU601_16_235[21] = {
    0x00, 0x80, 0x00, 0xB2, 0x04, 0x64, 0x02, 0xE9, 0x00, 0x93, 0x3C,
    0x17, 0x04, 0x56, 0x3F, 0x4A, 0x3D, 0x9F, 0x3E, 0x17, 0x04};
const uint8_t it66121_hdmitx_drv::bCSCMtx_RGB2YUV_ITU601_0_255[21] = {
    0x00, 0x80, 0x00, 0x08, 0x04, 0x0E, 0x02, 0xC9, 0x00, 0x0F, 0x3D,
    0x84, 0x03, 0x6E, 0x3F, 0xAC, 0x3D, 0xD0, 0x3E, 0x84, 0x03};
const uint8_t it66121_hdmitx_drv::bCSCMtx_RGB2YUV_ITU709_0_255[21] = {
    0x00, 0x80, 0x00, 0xEA, 0x04, 0x76, 0x01, 0x7F, 0x00, 0xCF, 0x3C,
    0x84, 0x03, 0xAE, 0x3F, 0x4B, 0x3D, 0x32, 0x3F, 0x84, 0x03};
const uint8_t it66121_hdmitx_drv::bCSCMtx_YUV2RGB_ITU601_0_255[21] = {
    0x00, 0x00, 0x00, 0x51, 0x09, 0x7F, 0x39, 0xDE, 0x3C, 0x51, 0x09,
    0xC5, 0x0C, 0x00, 0x00, 0x51, 0x09, 0x00, 0x00, 0x23, 0x10};
const uint8_t it66121_hdmitx_drv::bCSCMtx_YUV2RGB_ITU709_16_235[21] = {
    0x00, 0x00, 0x00, 0x00, 0x08, 0x57, 0x3C, 0x89, 0x3E, 0x00, 0x08,
    0x51, 0x0C, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x83, 0x0E};
const uint8_t it66121_hdmitx_drv::bCSCMtx_YUV2RGB_ITU709_0_255[21] = {
    0x00, 0x00, 0x00, 0x51, 0x09, 0xBD, 0x3B, 0x4B, 0x3E, 0x51, 0x09,
    0x58, 0x0E, 0x00, 0x00, 0x51, 0x09, 0x00, 0x00, 0xE6, 0x10};

const structRegSetEntry it66121_hdmitx_drv::HDMITX_DefaultVideo_Table[] = {
    {0x72, 0xFF, 0x00}, {0x70, 0xFF, 0x00}, {0x72, 0xFF, 0x02}, {0x73, 0xFF, 0x00},
    {0x74, 0xFF, 0x80}, {0x75, 0xFF, 0x00}, {0x76, 0xFF, 0xB8}, {0x77, 0xFF, 0x05},
    {0x78, 0xFF, 0xB4}, {0x79, 0xFF, 0x01}, {0x7A, 0xFF, 0x94}, {0x7B, 0xFF, 0x00},
    {0x7C, 0xFF, 0x4A}, {0x7D, 0xFF, 0x3C}, {0x7E, 0xFF, 0x17}, {0x7F, 0xFF, 0x04},
    {0x80, 0xFF, 0x9F}, {0x81, 0xFF, 0x3F}, {0x82, 0xFF, 0xD9}, {0x83, 0xFF, 0x3C},
    {0x84, 0xFF, 0x10}, {0x85, 0xFF, 0x3F}, {0x86, 0xFF, 0x17}, {0x87, 0xFF, 0x04},
    {0x88, 0xF0, 0x00}, {0x04, 0x08, 0x00}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_SetHDMI_Table[] = {
    {0xC0, 0x01, 0x01}, {0xC1, 0x03, 0x03}, {0xC6, 0x03, 0x03}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_SetDVI_Table[] = {
    kBank1, {0x58, 0xFF, 0x00}, kBank0, {0xC0, 0x01, 0x00},
    {0xC1, 0x03, 0x02}, {0xC6, 0x03, 0x00}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_DefaultAVIInfo_Table[] = {
    kBank1, {0x58, 0xFF, 0x10}, {0x59, 0xFF, 0x08}, {0x5A, 0xFF, 0x00},
    {0x5B, 0xFF, 0x00}, {0x5C, 0xFF, 0x00}, {0x5D, 0xFF, 0x57}, {0x5E, 0xFF, 0x00},
    {0x5F, 0xFF, 0x00}, {0x60, 0xFF, 0x00}, {0x61, 0xFF, 0x00}, {0x62, 0xFF, 0x00},
    {0x63, 0xFF, 0x00}, {0x64, 0xFF, 0x00}, {0x65, 0xFF, 0x00}, kBank0,
    {0xCD, 0x03, 0x03}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_DeaultAudioInfo_Table[] = {
    kBank1, {0x68, 0xFF, 0x00}, {0x69, 0xFF, 0x00}, {0x6A, 0xFF, 0x00},
    {0x6B, 0xFF, 0x00}, {0x6C, 0xFF, 0x00}, {0x6D, 0xFF, 0x71}, kBank0,
    {0xCE, 0x03, 0x03}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_Aud_CHStatus_LPCM_20bit_48Khz[] = {
    kBank1, {0x33, 0xFF, 0x00}, {0x34, 0xFF, 0x18}, {0x35, 0xFF, 0x00},
    {0x91, 0xFF, 0x00}, {0x92, 0xFF, 0x00}, {0x93, 0xFF, 0x01}, {0x94, 0xFF, 0x00},
    {0x98, 0xFF, 0x02}, {0x99, 0xFF, 0xDA}, kBank0, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_AUD_SPDIF_2ch_24bit[] = {
    {0x0F, 0x11, 0x00}, {0x04, 0x14, 0x04}, {0xE0, 0xFF, 0xD1}, {0xE1, 0xFF, 0x01},
    {0xE2, 0xFF, 0xE4}, {0xE3, 0xFF, 0x10}, {0xE4, 0xFF, 0x00}, {0xE5, 0xFF, 0x00},
    {0x04, 0x14, 0x00}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_PwrOn_Table[] = {
    {0x0F, 0x78, 0x38}, {0x05, 0x01, 0x00}, {0x61, 0x20, 0x00}, {0x62, 0x44, 0x00},
    {0x64, 0x40, 0x00}, {0x61, 0x10, 0x00}, {0x62, 0x08, 0x08}, {0x64, 0x04, 0x04},
    {0x0F, 0x78, 0x08}, kEnd};
const structRegSetEntry it66121_hdmitx_drv::HDMITX_PwrDown_Table[] = {
    {0x0F, 0x40, 0x00}, {0x61, 0x10, 0x10}, {0x62, 0x08, 0x00}, {0x64, 0x04, 0x00},
    {0x01, 0x00, 0x00}, {0x61, 0x20, 0x20}, {0x62, 0x44, 0x44}, {0x64, 0x40, 0x40},
    {0x05, 0x01, 0x01}, {0x0F, 0x78, 0x78}, kEnd};
// clang-format on

void it66121_hdmitx_drv::HDMITX_InitTxDev(const _HDMITXDEV_STRUCT* record)
{
    if (record)
        hdmiTxDev[0] = *record;
}

void it66121_hdmitx_drv::InitHDMITX()
{
    hdmitx_LoadRegSetting(HDMITX_Init_Table);
    hdmitx_LoadRegSetting(HDMITX_DefaultVideo_Table);
    hdmitx_LoadRegSetting(HDMITX_SetHDMI_Table);
    hdmitx_LoadRegSetting(HDMITX_DefaultAVIInfo_Table);
    hdmitx_LoadRegSetting(HDMITX_DeaultAudioInfo_Table);
    hdmitx_LoadRegSetting(HDMITX_Aud_CHStatus_LPCM_20bit_48Khz);
    hdmitx_LoadRegSetting(HDMITX_AUD_SPDIF_2ch_24bit);
}

void it66121_hdmitx_drv::hdmitx_LoadRegSetting(const structRegSetEntry* table)
{
    if (!table)
        return;
    for (const structRegSetEntry* row = table; row->reg || row->mask || row->value; ++row) {
        if (row->mask == 0) {
            if (row->value == 0)
                board::Clock::sleepMs(row->reg);   // a wait row; mask 0 with a value changes nothing
        } else {
            set(row->reg, row->mask, row->value);
        }
    }
}

void it66121_hdmitx_drv::Switch_HDMITX_Bank(int bank)
{
    set(kBank, 0x01, uint8_t(bank & 1));
}

void it66121_hdmitx_drv::HDMITX_OrReg_Byte(uint8_t reg, uint8_t bits)
{
    wr(reg, uint8_t(rd(reg) | bits));
}

void it66121_hdmitx_drv::HDMITX_AndReg_Byte(uint8_t reg, uint8_t mask)
{
    wr(reg, uint8_t(rd(reg) & mask));
}

// --- video -------------------------------------------------------------------------------

bool it66121_hdmitx_drv::setHDMITX_VideoSignalType(uint8_t type)
{
    hdmiTxDev[0].video_signal_type = type;
    return true;
}

bool it66121_hdmitx_drv::HDMITX_EnableVideoOutput(uint8_t level, uint8_t inputMode, uint8_t outputMode, uint8_t hdmiMode)
{
    wr(0x04, 0x1D);
    if (hdmiMode)
        hdmiTxDev[0].flags |= kFlagHdmi;
    else
        hdmiTxDev[0].flags &= uint8_t(~kFlagHdmi);
    Switch_HDMITX_Bank(1);
    wr(0x58, 0x00);
    Switch_HDMITX_Bank(0);
    if (hdmiMode)
        setHDMITX_AVMute(1);
    hdmitx_SetInputMode(inputMode, hdmiTxDev[0].video_signal_type);
    hdmitx_SetCSCScale(inputMode, outputMode);
    wr(0xC0, hdmiMode ? 1 : 0);
    hdmitx_SetupAFE(level);
    wr(0x04, 0x15);
    hdmitx_FireAFE();
    return true;
}

void it66121_hdmitx_drv::HDMITX_DisableVideoOutput()
{
    HDMITX_OrReg_Byte(0x04, 0x08);
    wr(0x61, 0x30);
    set(0x62, 0x90, 0x00);
    set(0x64, 0x89, 0x00);
}

void it66121_hdmitx_drv::hdmitx_SetInputMode(uint8_t inputMode, uint8_t signalType)
{
    uint8_t v = uint8_t((rd(0x70) & 0x03) | 0x01);
    switch (inputMode & 0x03) {
    case 1: v |= 0x40; break;
    case 2: v |= 0x80; break;
    default: break;
    }
    if (signalType & 0x01)
        v |= 0x10;
    if (signalType & 0x02)
        v |= 0x08;
    if (signalType & 0x04)
        v |= 0x04;
    if (signalType & 0x08)
        v |= 0x20;
    wr(0x70, v);
}

void it66121_hdmitx_drv::writeMatrix(const uint8_t* m)
{
    for (int i = 0; i < 21; ++i)
        wr(uint8_t(0x73 + i), m[i]);
}

void it66121_hdmitx_drv::hdmitx_SetCSCScale(uint8_t in, uint8_t out)
{
    const uint8_t bit6 = in & 0x40;
    const unsigned matrix = unsigned(in >> 4) & 3u;
    const uint8_t extra = (in & 0x80) ? 0xA0 : 0x00;
    enum { Bypass, ToYuv, ToRgb, NoMatrix } kind = NoMatrix;
    uint8_t value = 2;
    switch (((in & 3) << 2) | (out & 3)) {
    case (0 << 2) | 0: kind = Bypass; value = 0; break;
    case (0 << 2) | 1: kind = ToYuv; value = uint8_t(2 | bit6 | extra); break;
    case (0 << 2) | 2: kind = ToYuv; value = uint8_t(2 | extra); break;
    case (1 << 2) | 0: kind = ToRgb; value = uint8_t(3 | bit6 | extra); break;
    case (1 << 2) | 1: kind = Bypass; value = 0; break;
    case (1 << 2) | 2: kind = Bypass; value = uint8_t(bit6 | extra); break;
    case (2 << 2) | 0: kind = ToRgb; value = uint8_t(3 | extra); break;
    case (2 << 2) | 1: kind = Bypass; value = bit6; break;
    case (2 << 2) | 2: kind = Bypass; value = 0; break;
    default: break;
    }
    if (kind == ToYuv || kind == ToRgb) {
        static const uint8_t* const toYuv[4] = {bCSCMtx_RGB2YUV_ITU601_0_255, bCSCMtx_RGB2YUV_ITU709_0_255,
                                                bCSCMtx_RGB2YUV_ITU601_16_235, bCSCMtx_RGB2YUV_ITU709_16_235};
        static const uint8_t* const toRgb[4] = {bCSCMtx_YUV2RGB_ITU601_0_255, bCSCMtx_YUV2RGB_ITU709_0_255,
                                                bCSCMtx_YUV2RGB_ITU601_16_235, bCSCMtx_YUV2RGB_ITU709_16_235};
        writeMatrix((kind == ToYuv ? toYuv : toRgb)[matrix]);
    }
    if (kind == Bypass)
        HDMITX_OrReg_Byte(kBank, 0x10);
    else
        HDMITX_AndReg_Byte(kBank, uint8_t(~0x10));
    wr(0x72, uint8_t((rd(0x72) & 0x1C) | value));
}

void it66121_hdmitx_drv::hdmitx_SetupAFE(uint8_t level)
{
    wr(0x61, 0x10);
    if (level == 2) {
        set(0x62, 0x90, 0x80);
        set(0x64, 0x89, 0x80);
        set(0x68, 0x10, 0x00);
    } else {
        set(0x62, 0x90, 0x10);
        set(0x64, 0x89, 0x09);
        set(0x68, 0x10, 0x10);
    }
    set(0x04, 0x28, 0x00);
    wr(0x61, 0x00);
    board::Clock::sleepMs(1);
}

void it66121_hdmitx_drv::hdmitx_FireAFE()
{
    Switch_HDMITX_Bank(0);
    wr(0x61, 0x00);
}

void it66121_hdmitx_drv::setHDMITX_AVMute(uint8_t on)
{
    Switch_HDMITX_Bank(0);
    set(0xC1, 0x01, on ? 1 : 0);
    wr(0xC6, 0x03);
}

bool it66121_hdmitx_drv::getHDMITX_LinkStatus()
{
    return (rd(0x0E) & 0x20) && rd(0x61) == 0;
}

// --- DDC and EDID ------------------------------------------------------------------------

void it66121_hdmitx_drv::hdmitx_ClearDDCFIFO()
{
    wr(0x10, 0x01);
    wr(0x15, 0x09);
}

void it66121_hdmitx_drv::hdmitx_GenerateDDCSCLK()
{
    wr(0x10, 0x01);
    wr(0x15, 0x0A);
}

void it66121_hdmitx_drv::hdmitx_AbortDDC()
{
    HDMITX_OrReg_Byte(0x04, 0x01);
    wr(0x10, 0x01);
    for (int round = 0; round < 2; ++round) {
        wr(0x15, 0x0F);
        for (int i = 0; i < kDdcPolls; ++i) {
            if (rd(0x16) & 0xB8)
                break;
            board::Clock::sleepMs(1);
        }
    }
}

int it66121_hdmitx_drv::getHDMITX_EDIDBytes(uint8_t* buffer, uint8_t segment, uint8_t offset, int count)
{
    if (!buffer)
        return 1;
    if (rd(0x06) & 0x04)
        hdmitx_AbortDDC();
    hdmitx_ClearDDCFIFO();
    Switch_HDMITX_Bank(0);
    if (count < 1)
        return 0;
    while (count > 0) {
        hdmitx_ClearDDCFIFO();
        bool ready = false;
        for (int i = 0; i < kDdcPolls; ++i) {
            const uint8_t status = rd(0x16);
            if ((status & 0x38) || (rd(0x06) & 0x04)) {
                hdmitx_AbortDDC();
                return 1;
            }
            if (status & 0x80) {
                ready = true;
                break;
            }
            board::Clock::sleepMs(1);
        }
        if (!ready)
            return 1;
        const int chunk = count < kDdcChunk ? count : kDdcChunk;
        wr(0x10, 0x01);
        wr(0x11, 0xA0);
        wr(0x12, offset);
        wr(0x13, uint8_t(chunk));
        wr(0x14, segment);
        wr(0x15, 0x03);
        bool done = false;
        for (int i = 0; i < kDdcReadPolls; ++i) {
            board::Clock::sleepMs(1);
            const uint8_t status = rd(0x16);
            if (status & 0x38)
                return 1;
            if (status & 0x80) {
                done = true;
                break;
            }
        }
        if (!done)
            return 1;
        for (int i = 0; i < chunk; ++i)
            *buffer++ = rd(0x17);
        offset = uint8_t(offset + chunk);
        count -= chunk;
    }
    return 0;
}

bool it66121_hdmitx_drv::getHDMITX_EDIDBlock(int block, uint8_t* buffer)
{
    if (!buffer || block < 0)
        return false;
    return getHDMITX_EDIDBytes(buffer, uint8_t(block / 2), (block & 1) ? 128 : 0, 128) == 0;
}

// --- infoframes --------------------------------------------------------------------------

bool it66121_hdmitx_drv::hdmitx_SetAVIInfoFrame(const uint8_t* frame)
{
    if (!frame)
        return false;
    const uint8_t* pb = frame + 3;   // pb[n] is PBn
    Switch_HDMITX_Bank(1);
    uint8_t sum = 0;
    for (int n = 1; n <= 13; ++n)
        sum = uint8_t(sum + pb[n]);
    for (int n = 1; n <= 5; ++n)
        wr(uint8_t(0x57 + n), pb[n]);
    for (int n = 6; n <= 12; ++n)
        wr(uint8_t(0x58 + n), pb[n]);
    wr(0x65, pb[13]);
    wr(0x5D, uint8_t(0x6F - sum));
    Switch_HDMITX_Bank(0);
    wr(0xCD, 0x03);
    return true;
}

bool it66121_hdmitx_drv::hdmitx_SetAudioInfoFrame(const uint8_t* frame)
{
    if (!frame)
        return false;
    const uint8_t* pb = frame + 3;
    Switch_HDMITX_Bank(1);
    wr(0x68, pb[1]);
    wr(0x69, pb[2]);
    wr(0x6B, pb[4]);
    wr(0x6C, pb[5]);
    const uint8_t sum = uint8_t(rd(0x68) + rd(0x69) + rd(0x6B) + rd(0x6C));
    wr(0x6D, uint8_t(0x71 - sum));
    Switch_HDMITX_Bank(0);
    wr(0xCE, 0x03);
    return true;
}

bool it66121_hdmitx_drv::hdmitx_SetSPDInfoFrame(const uint8_t* frame)
{
    if (!frame)
        return false;
    const uint8_t* pb = frame + 3;
    Switch_HDMITX_Bank(1);
    uint8_t sum = 0;
    for (int n = 1; n <= 25; ++n) {
        wr(uint8_t(0x70 + n), pb[n]);
        sum = uint8_t(sum + pb[n]);
    }
    wr(0x70, uint8_t(0x63 - sum));
    Switch_HDMITX_Bank(0);
    wr(0xCF, 0x03);
    return true;
}

bool it66121_hdmitx_drv::hdmitx_SetMPEGInfoFrame(const uint8_t* frame)
{
    if (!frame)
        return false;
    const uint8_t* pb = frame + 3;
    Switch_HDMITX_Bank(1);
    wr(0x8A, uint8_t((pb[5] & 0x10) | ((pb[5] & 0x03) << 1)));
    for (int n = 1; n <= 4; ++n)
        wr(uint8_t(0x8A + n), pb[n]);
    wr(0x8F, uint8_t(0x70 - pb[1] - pb[2] - pb[3] - pb[4] - pb[5]));
    Switch_HDMITX_Bank(0);
    wr(0xCF, 0x03);
    return true;
}

bool it66121_hdmitx_drv::hdmitx_SetVSIInfoFrame(uint8_t* frame)
{
    if (!frame)
        return false;
    uint8_t* pb = frame + 3;
    Switch_HDMITX_Bank(1);
    wr(0x80, pb[4]);
    wr(0x81, pb[5]);
    uint8_t checksum;
    if (pb[5] >= 0x80) {
        wr(0x82, pb[6]);
        checksum = uint8_t(0x69 - pb[4] - pb[5] - pb[6]);
    } else {
        checksum = uint8_t(0x6A - pb[4] - pb[5]);
    }
    wr(0x83, checksum);
    frame[3] = checksum;
    Switch_HDMITX_Bank(0);
    wr(0xD2, 0x03);
    return true;
}

bool it66121_hdmitx_drv::hdmitx_Set_GeneralPurpose_PKT(const uint8_t* packet)
{
    if (!packet)
        return false;
    Switch_HDMITX_Bank(1);
    for (int i = 0; i < 31; ++i)
        wr(uint8_t(0x38 + i), packet[i]);
    Switch_HDMITX_Bank(0);
    wr(0xC9, 0x03);
    wr(0xC9, 0x03);
    return true;
}

bool it66121_hdmitx_drv::HDMITX_EnableAVIInfoFrame(uint8_t enable, const uint8_t* frame)
{
    if (!enable) {
        wr(0xCD, 0x00);
        return true;
    }
    return hdmitx_SetAVIInfoFrame(frame);
}

bool it66121_hdmitx_drv::HDMITX_EnableAudioInfoFrame(uint8_t enable, const uint8_t* frame)
{
    if (!enable) {
        wr(0xCE, 0x00);
        return true;
    }
    return hdmitx_SetAudioInfoFrame(frame);
}

bool it66121_hdmitx_drv::HDMITX_EnableVSInfoFrame(uint8_t enable, uint8_t* frame)
{
    if (!enable) {
        wr(0xD2, 0x00);
        return true;
    }
    return hdmitx_SetVSIInfoFrame(frame);
}

// --- status ------------------------------------------------------------------------------

uint8_t it66121_hdmitx_drv::CheckHDMITX(uint8_t* hotPlug, uint8_t* hotPlugChanged)
{
    const uint8_t status = rd(0x0E);
    const uint8_t present = (status & 0x40) ? 1 : 0;
    uint8_t changed = present != ((hdmiTxDev[0].flags & kFlagHotPlug) ? 1 : 0);
    if (status & 0x80) {
        const uint8_t int1 = rd(0x06);
        if (int1 & 0x80) {
            HDMITX_OrReg_Byte(0x04, 0x14);
            HDMITX_AndReg_Byte(0x04, uint8_t(~0x14));
        }
        if (int1 & 0x10)
            hdmitx_ClearDDCFIFO();
        if (int1 & 0x04)
            hdmitx_AbortDDC();
        if (int1 & 0x01)
            changed = 1;
        const uint8_t int2 = rd(0x07);
        if (int2 & 0x02)
            HDMITX_OrReg_Byte(0x0A, 0x02);
        if (int2 & 0x01)
            hdmitx_AbortDDC();
        const uint8_t ee = rd(0xEE);
        if (ee)
            wr(0xEE, ee);
        wr(0x0C, 0xFF);
        wr(0x0D, 0xFF);
        const uint8_t clear = rd(0x0E);
        wr(0x0E, uint8_t(clear | 0x03));
        wr(0x0E, uint8_t((clear & ~0x01) | 0x02));
    }
    if (changed && !present)
        wr(0x61, 0x30);
    if (hotPlugChanged)
        *hotPlugChanged = changed;
    if (hotPlug)
        *hotPlug = present;
    if (present)
        hdmiTxDev[0].flags |= kFlagHotPlug;
    else
        hdmiTxDev[0].flags &= uint8_t(~kFlagHotPlug);
    return present;
}

// --- audio -------------------------------------------------------------------------------

const uint16_t it66121_hdmitx_drv::kNTable[15] = {6272, 6144, 6144, 4096, 6144,  6144,  6144, 6144,
                                                  12544, 24576, 12288, 6144, 25088, 6144, 24576};
uint8_t it66121_hdmitx_drv::ucIEC60958ChStat[5] = {};
uint8_t it66121_hdmitx_drv::AudioOutStatus = 0;

namespace {
uint8_t fsCodeOf(uint32_t rate)
{
    switch (rate) {
    case 44100: return 0;
    case 32000: return 3;
    case 88200: return 8;
    case 768000: return 9;
    case 96000: return 10;
    case 176400: return 12;
    case 192000: return 14;
    default: return 2;
    }
}
} // namespace

void it66121_hdmitx_drv::pollSpdif()
{
    for (int i = 0; i < 100; ++i)
        if (rd(0x5F) & 0x20)
            break;
}

bool it66121_hdmitx_drv::HDMITX_EnableAudioOutput(uint8_t type, uint8_t spdif, uint32_t sampleRate, uint8_t channels,
                                                  uint8_t* channelStatus, uint32_t tmdsClock)
{
    _HDMITXDEV_STRUCT& d = hdmiTxDev[0];
    d.tmds_clock = tmdsClock;
    d.audio_delay = 36;
    d.audio_control = 0;
    HDMITX_OrReg_Byte(0x04, 0x14);
    wr(0x58, 0x15);
    HDMITX_AndReg_Byte(kBank, uint8_t(~0x10));
    if (spdif) {
        if (type == 0xC0)
            wr(0x58, 0x81);
        HDMITX_OrReg_Byte(0xE0, 0x10);
    } else {
        HDMITX_AndReg_Byte(0xE0, uint8_t(~0x10));
    }
    if (type == 0xA0) {
        set(0x04, 0x14, 0x10);
        setHDMITX_DSDAudio();
    } else {
        const uint8_t fs = fsCodeOf(sampleRate);
        d.audio_fs = fs;
        setHDMITX_NCTS(fs);
        uint8_t* st = channelStatus;
        if (!st) {
            st = ucIEC60958ChStat;
            st[0] = 0;
            st[1] = 0;
            st[2] = channels == 0 ? 1 : channels <= 6 ? uint8_t((channels + 1) / 2) : 4;
            st[3] = fs;
            st[4] = uint8_t(uint8_t(~fs) << 4) | 0x0B;
        }
        HDMITX_AndReg_Byte(0x04, uint8_t(~0x04));
        if (type == 0x90) {
            st[0] |= 0x02;
            setHDMITX_ChStat(st);
            setHDMITX_NLPCMAudio(spdif);
        } else if (type == 0xC0) {
            st[2] = 0;
            st[3] = uint8_t((st[3] & 0xF0) + 9);
            st[0] |= 0x02;
            st[4] |= 0x6B;
            setHDMITX_ChStat(st);
            setHDMITX_HBRAudio(spdif);
        } else {
            st[0] &= uint8_t(~0x02);
            setHDMITX_ChStat(st);
            setHDMITX_LPCMAudio(uint8_t((channels + 1) / 2), 24, spdif);
        }
    }
    HDMITX_AndReg_Byte(0x09, uint8_t(~0x80));
    wr(0xE0, d.audio_control);
    HDMITX_AndReg_Byte(0x04, uint8_t(~0x14));
    return true;
}

void it66121_hdmitx_drv::HDMITX_DisableAudioOutput()
{
    hdmiTxDev[0].audio_delay = 250;
    HDMITX_OrReg_Byte(0x04, 0x14);
    HDMITX_OrReg_Byte(kBank, 0x10);
}

void it66121_hdmitx_drv::setHDMITX_LPCMAudio(uint8_t pairs, uint8_t bits, uint8_t spdif)
{
    uint8_t w;
    switch (bits) {
    case 16: w = 0x00; break;
    case 18: w = 0x40; break;
    case 20: w = 0x80; break;
    default: w = 0xC0; break;
    }
    uint8_t c = hdmiTxDev[0].audio_input_config;
    if (pairs >= 2 && pairs <= 4)
        c |= 0x40;
    else
        c &= uint8_t(~0x40);
    if (spdif) {
        c &= uint8_t(~0x40);
        wr(0xE0, uint8_t(w | 0x10));
        hdmiTxDev[0].audio_control = uint8_t(w | 0x11);
    } else {
        static const uint8_t enables[5] = {0, 1, 3, 7, 15};
        wr(0xE0, w);
        hdmiTxDev[0].audio_control = uint8_t(w | enables[pairs <= 4 ? pairs : 0]);
    }
    wr(0xE1, uint8_t(c | 1));
    wr(0xE2, 0xE4);
    if (spdif) {
        wr(0xE3, 0x10);
        wr(0xE4, 0x00);
        wr(0xE5, 0x00);
        HDMITX_OrReg_Byte(0x5C, 0x40);
        pollSpdif();
    } else {
        wr(0xE3, 0x00);
        wr(0xE4, 0x00);
        wr(0xE5, 0x00);
    }
}

void it66121_hdmitx_drv::setHDMITX_NLPCMAudio(uint8_t spdif)
{
    wr(0xE0, spdif ? 0xD0 : 0xC0);
    wr(0xE1, 0x01);
    wr(0xE2, 0xE4);
    wr(0xE3, 0x10);
    wr(0xE4, 0x00);
    wr(0xE5, 0x00);
    if (spdif)
        pollSpdif();
    wr(0xE0, spdif ? 0xD1 : 0xC1);
}

void it66121_hdmitx_drv::setHDMITX_HBRAudio(uint8_t spdif)
{
    wr(0xE1, 0x47);
    wr(0xE2, 0xE4);
    if (spdif) {
        wr(0xE0, 0xD0);
        wr(0xE3, 0x10);
        wr(0xE4, 0x08);
        wr(0xE5, 0x08);
        pollSpdif();
        wr(0xE0, 0xD1);
    } else {
        wr(0xE0, 0xC0);
        wr(0xE3, 0x00);
        wr(0xE4, 0x08);
        wr(0xE5, 0x08);
        wr(0xE0, 0xCF);
    }
    HDMITX_AndReg_Byte(0x5C, uint8_t(~0x40));
    hdmiTxDev[0].audio_control = rd(0xE0);
}

void it66121_hdmitx_drv::setHDMITX_DSDAudio()
{
    wr(0xE1, 0x41);
    wr(0xE2, 0xE4);
    wr(0xE0, 0xC0);
    wr(0xE3, 0x00);
    wr(0xE4, 0x00);
    wr(0xE5, 0x02);
    wr(0xE0, 0xCF);
}

void it66121_hdmitx_drv::setHDMITX_ChStat(const uint8_t* st)
{
    if (!st)
        return;
    Switch_HDMITX_Bank(1);
    wr(0x91, uint8_t((st[0] * 2) & 0x7C));
    wr(0x92, st[1]);
    wr(0x93, uint8_t(st[2] & 0x0F));
    wr(0x94, uint8_t(st[2] >> 4));
    wr(0x98, st[3]);
    wr(0x99, st[4]);
    Switch_HDMITX_Bank(0);
}

void it66121_hdmitx_drv::setHDMITX_UpdateChStatFs(uint8_t fs)
{
    Switch_HDMITX_Bank(1);
    wr(0x98, rd(0x98));
    wr(0x99, uint8_t((rd(0x99) & 0x0F) | uint8_t(uint8_t(~fs) << 4)));
    Switch_HDMITX_Bank(0);
}

void it66121_hdmitx_drv::setHDMITX_NCTS(uint8_t fsCode)
{
    const uint8_t e5 = rd(0xE5);
    const uint32_t n = fsCode < 15 ? kNTable[fsCode] : 6144;
    Switch_HDMITX_Bank(1);
    wr(0x33, uint8_t(n));
    wr(0x34, uint8_t(n >> 8));
    wr(0x35, 0x00);
    wr(0x30, 0x00);
    wr(0x31, 0x00);
    wr(0x32, 0x00);
    Switch_HDMITX_Bank(0);
    wr(0xF8, 0xC3);
    wr(0xF8, 0xA5);
    HDMITX_AndReg_Byte(0xC5, uint8_t(~0x02));
    wr(0xF8, 0xFF);
    if (!(e5 & 0x08)) {
        Switch_HDMITX_Bank(1);
        wr(0x98, 0x09);
        wr(0x99, uint8_t((rd(0x99) & 0x0F) | 0x60));
        Switch_HDMITX_Bank(0);
    }
}

void it66121_hdmitx_drv::hdmitx_AutoAdjustAudio()
{
    Switch_HDMITX_Bank(1);
    const uint32_t n = uint32_t(rd(0x33)) | uint32_t(rd(0x34)) << 8 | uint32_t(rd(0x35) & 0x0F) << 16;
    uint32_t cts = 0;
    for (int i = 0; i < 10 && cts == 0; ++i)
        cts = uint32_t(rd(0x37)) * 4096 + uint32_t(rd(0x36)) * 16 + uint32_t(rd(0x35) >> 4);
    Switch_HDMITX_Bank(0);
    if (cts == 0)
        return;
    uint64_t tmds = hdmiTxDev[0].tmds_clock;
    const uint8_t depth = (rd(0xC1) >> 4) & 0x07;
    if (depth == 5)
        tmds = tmds * 5 / 4;
    else if (depth == 6)
        tmds = tmds * 3 / 2;
    const uint64_t m = (tmds / cts) * n;
    const uint64_t fs = m / 128;
    uint8_t code;
    if (fs >= 31001 && fs <= 38050)
        code = 3;
    else if (m < 46550ull * 128)
        code = 0;
    else if (m < 68100ull * 128)
        code = 2;
    else if (m < 92100ull * 128)
        code = 8;
    else if (m < 136200ull * 128)
        code = 10;
    else if (m < 184200ull * 128)
        code = 12;
    else if (m < 240200ull * 128)
        code = 14;
    else if (m < 800000ull * 128)
        code = 9;
    else
        code = 1;
    if (code != hdmiTxDev[0].audio_fs) {
        hdmiTxDev[0].audio_fs = code;
        setHDMITX_NCTS(code);
    }
}

bool it66121_hdmitx_drv::hdmitx_IsAudioChang()
{
    Switch_HDMITX_Bank(0);
    const uint8_t fifo = rd(0x60);
    if (rd(0x5F) & 0x10)
        return false;
    const uint8_t last = hdmiTxDev[0].last_fifo;
    hdmiTxDev[0].last_fifo = fifo;
    const int diff = fifo > last ? fifo - last : last - fifo;
    if (diff < 4)
        return false;
    HDMITX_OrReg_Byte(0xC5, 0x20);
    HDMITX_AndReg_Byte(0xE0, 0xF0);
    return true;
}

void it66121_hdmitx_drv::setHDMITX_AudioChannelEnable(uint8_t enable)
{
    if (!enable)
        return;
    _HDMITXDEV_STRUCT& d = hdmiTxDev[0];
    if (d.audio_delay) {
        AudioOutStatus = 0;
        if (rd(0x5F) & 0x10)
            d.audio_delay = 250;
        else
            --d.audio_delay;
        return;
    }
    if (AudioOutStatus)
        return;
    setHDMITX_NCTS(d.audio_fs);
    wr(0xE4, 0x00);
    HDMITX_OrReg_Byte(0xC5, 0x20);
    wr(0xE0, d.audio_control);
    HDMITX_AndReg_Byte(0xC5, uint8_t(~0x3C));
    AudioOutStatus = 1;
}
