// IT6602 receivers: the output bus mode and colour format, the AVI infoframe fields and the
// colour-space converter that turns the source's RGB or YCbCr, BT.601 or BT.709, full or
// limited range into the output format (full-range RGB 4:4:4 in this system).
#include "sources/it6602/velin_it6602.h"

#include "core/global.h"

#include <cstring>

namespace {
// Colour-format codes.
constexpr uint8_t kRGB444 = 0, kYUV422 = 1, kYUV444 = 2;
constexpr uint8_t kBT709 = 0x10;      // input colour word: BT.709 colorimetry
constexpr uint8_t kLimited = 0x20;    // input colour word: limited-range RGB; output byte: limited range

// Bus: 0 SDR, 1 half bus, 2 DDR, 3 BTA-1004 SDR, 4 BTA-1004 DDR.
// Sync: 0 separate, 1 embedded, 2 CCIR 656 separate, 3 CCIR 656 embedded.
struct OutputMode {
    uint8_t colour, bus, sync;
};
constexpr OutputMode kModes[16] = {
    {kRGB444, 0, 0}, {kYUV444, 0, 0}, {kRGB444, 2, 0}, {kYUV444, 2, 0}, {kYUV422, 0, 1}, {kYUV422, 2, 1},
    {kYUV422, 0, 0}, {kYUV422, 2, 0}, {kYUV422, 0, 3}, {kYUV422, 2, 3}, {kYUV422, 0, 2}, {kYUV422, 2, 2},
    {kRGB444, 1, 0}, {kYUV444, 1, 0}, {kYUV422, 3, 1}, {kYUV422, 4, 1},
};

// CSC matrices (bank 1, 0x70..0x84): three offsets, then nine 14-bit coefficients (0x0800 =
// 1.0) as little-endian words, row by row; rows and columns in the chip's channel order
// (G/Y, R/Cr, B/Cb).
constexpr uint8_t bCSCMtx_RGB_16_235_RGB_0_255[21] = {0xED, 0xED, 0x00, 0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                      0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x09};
constexpr uint8_t bCSCMtx_RGB_0_255_RGB_16_235[21] = {0x10, 0x10, 0x00, 0xE0, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                      0xE0, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xE0, 0x06};
constexpr uint8_t bCSCMtx_YUV2RGB_ITU709_16_235[21] = {0x00, 0x00, 0x00, 0x00, 0x08, 0x55, 0x3C, 0x88, 0x3E, 0x00, 0x08,
                                                       0x51, 0x0C, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x83, 0x0E};
constexpr uint8_t bCSCMtx_YUV2RGB_ITU709_0_255[21] = {0xED, 0xED, 0x00, 0x4F, 0x09, 0xBD, 0x3B, 0x4B, 0x3E, 0x4F, 0x09,
                                                      0x58, 0x0E, 0x00, 0x00, 0x4F, 0x09, 0x00, 0x00, 0xE6, 0x10};
constexpr uint8_t bCSCMtx_YUV2RGB_ITU601_16_235[21] = {0x00, 0x00, 0x00, 0x00, 0x08, 0x6A, 0x3A, 0x4F, 0x3D, 0x00, 0x08,
                                                       0xF7, 0x0A, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0xDC, 0x0D};
constexpr uint8_t bCSCMtx_YUV2RGB_ITU601_0_255[21] = {0xED, 0xED, 0x00, 0x4F, 0x09, 0x7F, 0x39, 0xDE, 0x3C, 0x4F, 0x09,
                                                      0xC5, 0x0C, 0x00, 0x00, 0x4F, 0x09, 0x00, 0x00, 0x23, 0x10};
constexpr uint8_t bCSCMtx_RGB2YUV_ITU709_16_235[21] = {0x00, 0x00, 0x00, 0xB9, 0x05, 0xB3, 0x01, 0x94, 0x00, 0x49, 0x3C,
                                                       0x17, 0x04, 0xA0, 0x3F, 0xD9, 0x3C, 0x10, 0x3F, 0x17, 0x04};
constexpr uint8_t bCSCMtx_RGB2YUV_ITU709_0_255[21] = {0x10, 0x10, 0x00, 0xEA, 0x04, 0x76, 0x01, 0x7F, 0x00, 0xCF, 0x3C,
                                                      0x84, 0x03, 0xAE, 0x3F, 0x4B, 0x3D, 0x32, 0x3F, 0x84, 0x03};
constexpr uint8_t bCSCMtx_RGB2YUV_ITU601_16_235[21] = {0x00, 0x00, 0x00, 0xB2, 0x04, 0x64, 0x02, 0xE9, 0x00, 0x93, 0x3C,
                                                       0x17, 0x04, 0x56, 0x3F, 0x4A, 0x3D, 0x9F, 0x3E, 0x17, 0x04};
constexpr uint8_t bCSCMtx_RGB2YUV_ITU601_0_255[21] = {0x10, 0x10, 0x00, 0x08, 0x04, 0x0E, 0x02, 0xC9, 0x00, 0x0F, 0x3D,
                                                      0x84, 0x03, 0x6E, 0x3F, 0xAC, 0x3D, 0xD0, 0x3E, 0x84, 0x03};
} // namespace

const char* const velin_it6602::VModeStateStr[16] = {
    "eRGB444_SDR",           "eYUV444_SDR",           "eRGB444_DDR",           "eYUV444_DDR",
    "eYUV422_Emb_Sync_SDR",  "eYUV422_Emb_Sync_DDR",  "eYUV422_Sep_Sync_SDR",  "eYUV422_Sep_Sync_DDR",
    "eCCIR656_Emb_Sync_SDR", "eCCIR656_Emb_Sync_DDR", "eCCIR656_Sep_Sync_SDR", "eCCIR656_Sep_Sync_DDR",
    "eRGB444_Half_Bus",      "eYUV444_Half_Bus",      "eBTA1004_SDR",          "eBTA1004_DDR"};

void velin_it6602::IT6602_VideoOutputConfigure_Init(IT6602_dev_data* d, int mode)
{
    if (mode < 0 || mode >= eVOMreserve)
        mode = eRGB444_SDR;
    d->m_VidOutConfigMode = uint8_t(mode);
    d->m_bOutputVideoMode = kModes[mode].colour;   // full range: bits 5-7 stay 0
    d->m_VidOutDataTrgger = kModes[mode].bus;
    d->m_VidOutSyncMode = kModes[mode].sync;
}

void velin_it6602::IT6602VideoOutputConfigure(int fd, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    const uint32_t errors = io_errors;
    bank_counted(fd, 0);
    // A mode not read sets nothing up: neither HDMI's conversion nor DVI's pass-through
    // is known to be the one in force (the handler comes back next pass).
    const RegFlag hdmi = IsHDMIMode(fd);
    if (!hdmi.ok()) {
        d->m_ucStatus |= kStatusAVIChanged;
        return;
    }
    if (hdmi.value()) {
        d->m_ucStatus |= kStatusHDMI;
        GetAVIInfoFrame(fd, d);
        SetNewInfoVideoOutput(fd, d);
    } else {
        d->m_ucStatus &= uint8_t(~kStatusHDMI);
        SetDVIVideoOutput(fd, d);
    }
    d->m_ucStatus &= uint8_t(~kStatusAVIChanged);
    set_color_depth(fd, d);
    IT6602_VideoOutputModeSet(fd, d);
    // A set-up a transfer of which failed (an InfoFrame not read, a matrix or a select
    // not taken) is not the one in force: the video handler does it again next pass.
    if (io_errors != errors)
        d->m_ucStatus |= kStatusAVIChanged;
}

int velin_it6602::set_color_depth(int fd, IT6602_dev_data* d)
{
    // A depth not read leaves the one known and the register as they are.
    const RegRead r99 = hdmirxrd_it6602(fd, 0x99);
    if (!r99.ok())
        return 1;
    const uint8_t depth = uint8_t(r99.value() >> 4);
    d->m_ucColorDepth = depth;
    return hdmirxset_it6602(fd, 0x65, 0x0C, depth == 5 ? 0x04 : depth == 6 ? 0x08 : 0x00);
}

void velin_it6602::GetAVIInfoFrame(int fd, IT6602_dev_data* d)
{
    bank_counted(fd, 2);
    RegRead pb[5];
    for (int i = 0; i < 5; ++i)
        pb[i] = hdmirxrd_it6602(fd, uint8_t(0x15 + i));
    bank_counted(fd, 0);
    // A frame not read whole leaves the fields known (the set-up is made again).
    for (const RegRead& b : pb)
        if (!b.ok())
            return;
    const uint8_t pb1 = pb[0].value(), pb2 = pb[1].value(), pb3 = pb[2].value(), pb4 = pb[3].value(), pb5 = pb[4].value();
    d->avi_Y = uint8_t((pb1 >> 5) & 0x03);
    d->avi_C = uint8_t((pb2 >> 6) & 0x03);
    d->avi_EC = uint8_t((pb3 >> 4) & 0x07);
    d->avi_Q = uint8_t((pb3 >> 2) & 0x03);
    d->avi_VIC = uint8_t(pb4 & 0x7F);
    d->avi_YQ = uint8_t((pb5 >> 6) & 0x03);
    KEL_TRACE("AVI YCCQuantizationRange = %X\n", d->avi_YQ);
    // A default range is full for IT modes (VIC 0 and 1), limited for every other VIC.
    if (d->avi_Q == 0)
        d->avi_Q = d->avi_VIC <= 1 ? 2 : 1;
}

void velin_it6602::SetVideoInputFormatWithInfoFrame(int fd, IT6602_dev_data* d)
{
    uint8_t code = d->avi_Y <= kYUV444 ? d->avi_Y : kRGB444;
    d->m_bInputVideoMode = uint8_t((d->m_bInputVideoMode & ~(0x03 | kLimited)) | code);
    if (d->avi_Q == 1)
        d->m_bInputVideoMode |= kLimited;
    set_counted(fd, 0x71, 0x04, 0x00);
}

void velin_it6602::SetVideoInputFormatWithoutInfoFrame(int fd, IT6602_dev_data* d, uint8_t format)
{
    d->m_bInputVideoMode = uint8_t((d->m_bInputVideoMode & ~(0x03 | kLimited)) | (format & 0x03));
    set_counted(fd, 0x71, 0x07, 0x04);
}

void velin_it6602::SetColorimetryByInfoFrame(IT6602_dev_data* d)
{
    if (d->avi_C == 1)
        d->m_bInputVideoMode &= uint8_t(~kBT709);
    else if (d->avi_C == 2)
        d->m_bInputVideoMode |= kBT709;
}

void velin_it6602::SetColorimetryByMode(int fd, IT6602_dev_data* d)
{
    // A pixel clock above about 60 MHz (count below 52) is an HD mode: BT.709.
    const RegRead count = hdmirxrd_it6602(fd, 0x9A);
    if (!count.ok())
        return;   // the colorimetry known stays; the set-up is made again
    if (count.value() < 52)
        d->m_bInputVideoMode |= kBT709;
    else
        d->m_bInputVideoMode &= uint8_t(~kBT709);
}

void velin_it6602::SetNewInfoVideoOutput(int fd, IT6602_dev_data* d)
{
    SetVideoInputFormatWithInfoFrame(fd, d);
    // An InfoFrame that states no colorimetry means the default of the format: BT.709 for
    // HD, BT.601 for SD (not whatever the last source stated).
    if (d->avi_C == 0)
        SetColorimetryByMode(fd, d);
    else
        SetColorimetryByInfoFrame(d);
    SetColorSpaceConvert(fd, d);
    SetVideoOutputColorFormat(fd, d);
}

void velin_it6602::SetDVIVideoOutput(int fd, IT6602_dev_data* d)
{
    SetVideoInputFormatWithoutInfoFrame(fd, d, kRGB444);
    SetColorimetryByMode(fd, d);
    SetColorSpaceConvert(fd, d);
    SetVideoOutputColorFormat(fd, d);
}

void velin_it6602::SetColorSpaceConvert(int fd, IT6602_dev_data* d)
{
    const uint8_t out = d->m_bOutputVideoMode & 0x03;
    const uint8_t in = d->m_bInputVideoMode & 0x03;
    const bool bt709 = (d->m_bInputVideoMode & kBT709) != 0;
    const bool inLimited = (d->m_bInputVideoMode & kLimited) != 0;
    const bool outLimited = (d->m_bOutputVideoMode & kLimited) != 0;
    const uint8_t* matrix = nullptr;
    uint8_t select = 0, r67 = 0, r68 = 0;

    if (out == kRGB444) {
        if (in != kRGB444) {
            matrix = bt709 ? (outLimited ? bCSCMtx_YUV2RGB_ITU709_16_235 : bCSCMtx_YUV2RGB_ITU709_0_255)
                           : (outLimited ? bCSCMtx_YUV2RGB_ITU601_16_235 : bCSCMtx_YUV2RGB_ITU601_0_255);
            select = 3;
        } else if (inLimited && !outLimited) {
            matrix = bCSCMtx_RGB_16_235_RGB_0_255;
            select = 2;
            r67 = 0x0F;
            r68 = 0xED;
        } else if (!inLimited && outLimited) {
            matrix = bCSCMtx_RGB_0_255_RGB_16_235;
            select = 2;
            r67 = 0x08;
            r68 = 0x10;
        }
    } else if (in == kRGB444) {
        matrix = bt709 ? (inLimited ? bCSCMtx_RGB2YUV_ITU709_16_235 : bCSCMtx_RGB2YUV_ITU709_0_255)
                       : (inLimited ? bCSCMtx_RGB2YUV_ITU601_16_235 : bCSCMtx_RGB2YUV_ITU601_0_255);
        select = 2;
    }

    const uint8_t outBits = uint8_t((d->m_bOutputVideoMode >> 6) & 0x03);
    if (matrix) {
        if (bank1_write(fd, 0x70, 21, matrix))
            return;   // done again whole on the next pass
        set_counted(fd, 0x65, 0x03, select);
        if (out == kRGB444) {
            set_counted(fd, 0x67, 0x78, uint8_t(r67 << 3));
            write_counted(fd, 0x68, r68);
        }
        set_counted(fd, 0x67, 0x07, outBits);
    } else {   // bypass
        set_counted(fd, 0x65, 0x03, 0x00);
        set_counted(fd, 0x67, 0x7F, out != kRGB444 && in != kRGB444 ? outBits : 0x00);
        write_counted(fd, 0x68, 0x00);
    }
    set_counted(fd, 0x51, 0x80, 0x00);
    set_counted(fd, 0x50, 0x03, matrix || out != kRGB444 ? 0x02 : 0x00);
}

void velin_it6602::SetVideoOutputColorFormat(int fd, IT6602_dev_data* d)
{
    set_counted(fd, 0x65, 0x30, uint8_t((d->m_bOutputVideoMode & 0x03) << 4));
}

void velin_it6602::IT6602_VideoOutputModeSet(int fd, IT6602_dev_data* d)
{
    const uint8_t bus = d->m_VidOutDataTrgger, sync = d->m_VidOutSyncMode;
    const bool ddr = bus == 2 || bus == 4;
    const bool ccir = sync == 2 || sync == 3;
    uint8_t r51 = 0;
    if (ddr)
        r51 |= 0x40;
    if (bus == 1)
        r51 |= 0x20;
    if (ccir)
        r51 |= 0x04;
    set_counted(fd, 0x51, 0x64, r51);

    const uint8_t colour = d->m_bOutputVideoMode & 0x03;
    uint8_t r65 = colour == kYUV422 ? 0x10 : colour == kYUV444 ? 0x20 : 0x00;
    if (bus == 3 || bus == 4)
        r65 |= 0xC0;
    if (sync == 1 || sync == 3)
        r65 |= 0x40;
    set_counted(fd, 0x65, 0xF0, r65);
    if (chgbank_it6602(fd, 1) == 0) {   // else these would land on bank 0's registers
        write_counted(fd, 0x8D, 0x00);
        write_counted(fd, 0x8E, 0x00);
    }
    if (chgbank_it6602(fd, 0))
        return;
    if (ddr && !ccir) {
        IT6602_HalfPCLKFinetune(fd, d);
    } else if (ccir) {
        (void)IT6602_PulseVideoReset(fd);   // counted: the set-up is made again
    }
    KEL_TRACE("IT6602 output mode %s\n", VModeStateStr[d->m_VidOutConfigMode & 0x0F]);
}

void velin_it6602::IT6602_HalfPCLKFinetune(int fd, IT6602_dev_data* d)
{
    const RegRead read = hdmirxrd_it6602(fd, 0x9A);
    if (!read.ok())
        return;   // counted: the set-up is made again
    const uint8_t count = read.value();
    const uint32_t clock = count ? 31620u / count : 0;   // 100 kHz units
    const bool rgbToRgb = (d->m_bInputVideoMode & 0x03) == kRGB444 && (d->m_bOutputVideoMode & 0x03) == kRGB444;
    const uint8_t value = clock < 2500 ? 0x00 : 0x02;
    set_counted(fd, 0x50, rgbToRgb ? 0x0C : 0x1C, uint8_t(value << 2));
    (void)IT6602_PulseVideoReset(fd);   // counted: the set-up is made again
}

int velin_it6602::IT6602_PulseVideoReset(int fd)
{
    const int held = hdmirxset_it6602(fd, 0x64, 0x80, 0x80);
    return hdmirxset_it6602(fd, 0x64, 0x80, 0x00) | held;
}
