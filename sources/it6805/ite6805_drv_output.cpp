// Calibration at start-up and the output path of the IT6805: CAOF offset calibration,
// oscillator read-out, pixel-clock dependent settings, colour depth, tristate, AV mute,
// the full logic reset and the 4K downscaler (carried, not engaged).
#include "sources/it6805/ite6805_drv.h"

#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "sources/it6805/ite6805_sys.h"

#include <cstdio>
#include <initializer_list>

const uint8_t ite6805_drv::CSC_Matrix[11][22] = {
    // rows 0-3: RGB to YUV (only for a YUV output format, which this system never selects),
    // row 4: not used
    {}, {}, {}, {}, {},
    // row 5: YUV to RGB, colorimetry other than BT.709 and BT.2020
    {0x04, 0x00, 0xA7, 0x4F, 0x09, 0x81, 0x39, 0xDD, 0x3C, 0x4F, 0x09, 0xC4, 0x0C, 0x01, 0x00, 0x4F, 0x09, 0xFD, 0x3F, 0x1F, 0x10, 0x00},
    // row 6: not used
    {},
    // row 7: YUV to RGB, BT.709
    {0x04, 0x00, 0xA7, 0x4F, 0x09, 0xBA, 0x3B, 0x4B, 0x3E, 0x4F, 0x09, 0x57, 0x0E, 0x02, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0xE8, 0x10, 0x00},
    // row 8: YUV to RGB, extended colorimetry 5 or 6
    {0x04, 0x00, 0xA7, 0x4F, 0x09, 0xCC, 0x3A, 0x7E, 0x3E, 0x4F, 0x09, 0x69, 0x0D, 0x0B, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0x1D, 0x11, 0x00},
    // rows 9, 10: not used
    {}, {},
};

// RGB 16-235 to RGB 0-255 (select 2): each channel times 255/219 (0x0950, 0x0800 = 1.0) on
// the diagonal, then the offset 0xED (-19) of the first byte.
const uint8_t ite6805_drv::CSC_RGB_Limited_To_Full[22] = {0xED, 0xED, 0x00, 0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                        0x50, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x50, 0x09, 0x00};

const iTE6805_DSTiming iTE6805_SupportedDSTiming[ite6805_drv::kDSTimingRows] = {
    {3840, 2160, 5280, 2250, 297000, 1056, 88, 296, 8, 10, 72, 25000, 0, 0x0101, 0x0101, "CEA Fmt94 3840x2160P@25Hz/50Hz", 94, 0},
    {4096, 2160, 5280, 2250, 297000, 968, 88, 128, 8, 10, 72, 25000, 0, 0x0101, 0x0101, "CEA Fmt99 4096x2160P@25Hz/50Hz", 99, 0},
    {3840, 2160, 4400, 2250, 297000, 176, 88, 296, 8, 10, 72, 30000, 0, 0x0101, 0x0101, "CEA Fmt95 3840x2160P@30Hz/60Hz", 95, 0},
    {4096, 2160, 5500, 2250, 297000, 1020, 88, 296, 8, 10, 72, 24000, 0, 0x0101, 0x0101, "CEA Fmt98 4096x2160P@24Hz", 98, 0},
    {3840, 2160, 5500, 2250, 297000, 1276, 88, 296, 8, 10, 72, 24000, 0, 0x0101, 0x0101, "CEA Fmt93 3840x2160P@24Hz", 93, 0},
    {4096, 2160, 4400, 2250, 297000, 88, 88, 128, 8, 10, 72, 30000, 0, 0x0101, 0x0101, "CEA Fmt100 4096x2160P@30Hz/60Hz", 100, 0},
};

// --- CAOF calibration ----------------------------------------------------------------------

// Polls the port's CAOF done bit every 10 ms; restarts after six polls and after every five
// further ones; the sixth restart gives up. True when the calibration finished.
bool ite6805_drv::port_caof(int port, int dev)
{
    const int eqBank = port == 0 ? 3 : 7;
    const uint8_t doneReg = port == 0 ? 0x08 : 0x0D;
    const uint8_t restartReg = port == 0 ? 0x2A : 0x32;
    chgbank(eqBank, dev);
    set(0x3A, 0x80, 0x80, dev);
    chgbank(0, dev);
    int polls = 0, restarts = 0;
    for (;;) {
        ite6805_sys::delay1ms(10);
        const uint8_t value = rd(doneReg, dev);
        std::printf(port == 0 ? "Wait for PORT0 CAOF Done!!!!!!" : "Wait for PORT1 CAOF Done!!!!!!");
        std::printf(port == 0 ? "Reg08h=%x\n" : "Reg0Dh=%x\n", value);
        if (value & 0x10) {
            std::printf(port == 0 ? "PORT0 CAOF Done!!!!!!\n" : "PORT1 CAOF Done!!!!!!\n");
            return true;
        }
        ++polls;
        if (polls == 6 || (polls > 6 && (polls - 6) % 5 == 0)) {
            ++restarts;
            if (restarts == 6) {
                std::printf("CAOF Fail !! \n");
                chgbank(eqBank, dev);
                set(0x3A, 0x80, 0x00, dev);
                chgbank(0, dev);
                set(restartReg, 0x40, 0x40, dev);
                ite6805_sys::delay1ms(10);
                set(restartReg, 0x40, 0x00, dev);
                return false;
            }
            std::printf("CAOF Fail to Finish!! \n");
            set(restartReg, 0x40, 0x40, dev);
            ite6805_sys::delay1ms(10);
            set(restartReg, 0x40, 0x00, dev);
        }
    }
}

void ite6805_drv::iTE6805_Init_CAOF(int dev)
{
    for (int b : {3, 7}) {
        chgbank(b, dev);
        set(0x3A, 0x80, 0x00, dev);
        set(0xA0, 0x80, 0x80, dev);
        set(0xA1, 0x80, 0x80, dev);
        set(0xA2, 0x80, 0x80, dev);
        set(0xA4, 0x08, 0x08, dev);
        set(0x3B, 0xC0, 0x00, dev);
        set(0xA7, 0x10, 0x10, dev);
        set(0x48, 0x80, 0x80, dev);
        chgbank(0, dev);
        if (b == 3) {
            set(0x29, 0x01, 0x01, dev);
            set(0x2A, 0x41, 0x41, dev);
            ite6805_sys::delay1ms(10);
            set(0x2A, 0x40, 0x00, dev);
            set(0x24, 0x04, 0x04, dev);
            for (uint8_t r = 0x25; r <= 0x28; ++r)
                wr(r, 0x00, dev);
            set(0x3C, 0x10, 0x00, dev);
        } else {
            set(0x32, 0x41, 0x41, dev);
            ite6805_sys::delay1ms(10);
            set(0x32, 0x40, 0x00, dev);
            set(0x2C, 0x04, 0x04, dev);
            set(0x2D, 0x6F, 0x00, dev);
            for (uint8_t r = 0x2E; r <= 0x30; ++r)
                wr(r, 0x00, dev);
            chgbank(4, dev);
            set(0x3C, 0x10, 0x00, dev);
            chgbank(0, dev);
        }
    }
    port_caof(0, dev);
    port_caof(1, dev);
    std::printf("CAOF     CAOF    CAOF     CAOF    CAOF     CAOF\n");
    for (int port = 0; port < 2; ++port) {
        chgbank(port == 0 ? 3 : 7, dev);
        const uint8_t r59 = rd(0x59, dev);
        const uint8_t r5a = rd(0x5A, dev);
        chgbank(0, dev);
        std::printf(port == 0 ? "Port 0 CAOF Int =%x , CAOF Status=%3x\n" : "Port 1 CAOF Int =%x , CAOF Status=%3x\n",
                    (r59 >> 6) & 0x03, (r5a * 16 + (r59 & 0x0F)) & 0xFF);
    }
    // The port interrupt registers are write-1-to-clear: writing only bits 4-5 clears the
    // calibration events and leaves a +5 V or clock event for the interrupt service.
    wr(0x08, 0x30, dev);
    wr(0x0D, 0x30, dev);
    set(0x29, 0x01, 0x00, dev);
    set(0x24, 0x04, 0x00, dev);
    set(0x3C, 0x10, 0x10, dev);
    set(0x2C, 0x04, 0x00, dev);
    chgbank(4, dev);
    set(0x3C, 0x10, 0x10, dev);
    for (int b : {3, 7}) {
        chgbank(b, dev);
        for (uint8_t r : {uint8_t(0x3A), uint8_t(0xA0), uint8_t(0xA1), uint8_t(0xA2)})
            set(r, 0x80, 0x00, dev);
    }
    chgbank(0, dev);
}

// --- oscillator ----------------------------------------------------------------------------

uint32_t ite6805_drv::iTE6805_OCLK_Load(int dev)
{
    chgbank(0, dev);
    wr(0xF8, 0xC3, dev);
    wr(0xF8, 0xA5, dev);
    wr(0x34, 0x00, dev);
    chgbank(1, dev);
    wr(0x5F, 0x04, dev);
    wr(0x5F, 0x05, dev);
    wr(0x58, 0x12, dev);
    wr(0x58, 0x02, dev);
    if (rd(0x60, dev) != 0x19) {
        chgbank(0, dev);
        wr(0xF8, 0xC3, dev);
        wr(0xF8, 0xA5, dev);
        chgbank(1, dev);
        wr(0x5F, 0x04, dev);
        wr(0x58, 0x12, dev);
        wr(0x58, 0x02, dev);
        for (int i = 0; i < 5000 && rd(0x60, dev) != 0x19; ++i)
            ite6805_sys::delay1ms(1);
        ite6805_sys::delay1ms(10);
        chgbank(0, dev);
        set(0xCF, 0x01, 0x01, dev);
        chgbank(1, dev);
    }
    wr(0x57, 0x01, dev);
    auto readWord = [&](uint8_t base, uint8_t address, uint8_t& lo, uint8_t& hi) {
        wr(0x50, base, dev);
        wr(0x51, address, dev);
        wr(0x54, 0x04, dev);
        lo = rd(0x61, dev);
        hi = rd(0x62, dev);
    };
    uint8_t w0l, w0h, w1l, w1h;
    readWord(0x00, 0x00, w0l, w0h);
    readWord(0x00, 0x01, w1l, w1h);
    const uint8_t base = (w1l == 0 && w1h == 0 && w0l == 0xFF && w0h == 0xFF) ? 4 : 0;
    uint8_t b0, b1, b2, flags;
    readWord(base, 0xB0, b0, b1);
    readWord(base, 0xB1, b2, flags);
    uint32_t value = uint32_t(b2) * 65536 + uint32_t(b1) * 256 + b0;
    if ((flags & 0xC0) == 0xC0)
        value /= 100;
    if (value < 13000 || value > 27000) {
        std::printf(" Readback value invalid: 0x%08lX, use typical value instead.\n", (unsigned long)value);
        value = 19000;
    } else {
        std::printf(" Readback value valid: 0x%08lX(%ldKHz)\n", (unsigned long)value, long(value));
    }
    wr(0x5F, 0x00, dev);
    chgbank(0, dev);
    wr(0xF8, 0x00, dev);
    return value;
}

void ite6805_drv::iTE6805_OCLK_Cal(int dev)
{
    // A read-out a transfer of which failed is no value: the chip's oscillator is the one
    // calibrated before (the typical value until one was read whole).
    const uint32_t before = owner_->p_i2c->errors;
    uint32_t o = iTE6805_OCLK_Load(dev);
    if (owner_->p_i2c->errors != before)
        o = RCLK[dev] ? RCLK[dev] : 19000;
    chgbank(3, dev);
    set(0xAA, 0x1F, 0x0C, dev);
    chgbank(0, dev);
    RCLK[dev] = o;
    // The CEC engine counts in units of 100 oscillator periods per 10 us step.
    CECTimeUnit[dev] = uint16_t(o / 100);
    set(0x91, 0x3F, uint8_t(o / 1000), dev);
    wr(0x92, uint8_t((o % 1000) * 256 / 1000), dev);
    chgbank(3, dev);
    // A byte register: from 25600 kHz on the quotient no longer fits and is held at 255
    // instead of wrapping to a small value.
    wr(0xE1, uint8_t(o / 100 < 255 ? o / 100 : 255), dev);
    chgbank(0, dev);
    wr(0x45, uint8_t((o / 4) / 39), dev);
    wr(0x44, uint8_t((o / 4) / 195), dev);
    // Dividers of the PLL reference in MHz: integer part in bits 0-5, quarters in bits 6-7.
    const uint32_t q46 = o * 4 / 2000;
    const uint32_t q47 = o * 4 / 1000;
    wr(0x46, uint8_t(((q46 / 4) & 0x3F) | ((q46 % 4) << 6)), dev);
    wr(0x47, uint8_t(((q47 / 4) & 0x3F) | ((q47 % 4) << 6)), dev);
    std::printf("read 0x47=0x%02X, \n", rd(0x47, dev));
    const uint8_t v = uint8_t((uint64_t(2560) * (o / 2) / 1000000) & 0xFF);
    chgbank(5, dev);
    wr(0xD3, uint8_t(2 * v), dev);
    wr(0xD4, v, dev);
    chgbank(0, dev);
}

// --- output path ---------------------------------------------------------------------------

int ite6805_drv::iTE6805_Check_Single_Dual_Mode(int dev)
{
    chgbank(1, dev);
    const int dual = rd(0xC0, dev) & 0x01;
    chgbank(0, dev);
    return dual;
}

void ite6805_drv::iTE6805_Set_1B0_By_PixelClock(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    const iTE6805_TIMING& t = owner_->timing[dev];
    chgbank(0, dev);
    static const uint8_t kRepetition[4] = {1, 2, 1, 4};
    d.PixelRepetition = kRepetition[(rd(0x1B, dev) >> 4) & 0x03];
    const bool single = !iTE6805_Check_Single_Dual_Mode(dev);
    chgbank(1, dev);
    set(0xB0, 0x01, (t.PCLK / d.PixelRepetition >= 25000) ? 0x01 : 0x00, dev);
    if (single)
        set(0xB0, 0x01, 0x00, dev);
    set(0xB0, 0x01, d.VBO_LaneCount ? 0x01 : 0x00, dev);
    chgbank(0, dev);
    const bool above1G = iTE6805_Check_TMDS_Bigger_Than_1G(dev).value_or(false);   // counted: the entry is made again
    chgbank(3, dev);
    set(0xB0, 0x08, above1G ? 0x00 : 0x08, dev);
    chgbank(0, dev);
    if (d.CurrentPort == 0 && iTE6805_Check_PORT0_IS_MHL_Mode(0, dev).value_or(false) && t.HActive == 640 && t.VActive == 480) {
        chgbank(3, dev);
        wr(0xA7, 0x1F, dev);
    }
    chgbank(0, dev);
}

void ite6805_drv::iTE6805_Set_ColorDepth(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    chgbank(5, dev);
    wr(0xC7, owner_->timing[dev].PCLK < 30000 ? 0x49 : 0x00, dev);
    chgbank(0, dev);
    set(0x6B, 0x03, 0x01, dev);
    d.VBO_ByteMode = 1;
    std::printf("Force ByteMode = 4B (variable iTE6805_DATA.VBO_ByteMode = 1)\n");
    if (d.ChipID == 0x10 || d.ChipID == 0xE0) {
        chgbank(5, dev);
        set(0xC9, 0xF7, 0x78, dev);
        wr(0xD5, 0x80, dev);
        wr(0xD7, 0x0C, dev);
        wr(0xDF, 0x87, dev);
        set(0xE1, 0x80, 0x80, dev);
        set(0xC9, 0x02, (rd(0xDB, dev) & 0x08) ? 0x02 : 0x00, dev);
    }
    chgbank(0, dev);
}

void ite6805_drv::iTE6805_Set_Video_Tristate(int on, int dev)
{
    iTE6805_TIMING& t = owner_->timing[dev];
    const uint32_t before = owner_->p_i2c->errors;
    chgbank(0, dev);
    // Not read: the depth known stays (the gate is counted and set again).
    t.ColorDepthCode = uint16_t(rd_result(0x98, dev).value_or(uint8_t(t.ColorDepthCode)) & 0xF0);
    chgbank(1, dev);
    if (on) {
        wr(0xC5, 0xFF, dev);
        wr(0xC6, 0xFF, dev);
        std::printf("---------------- iTE6805_Set_Video_Tristate -> VIDEO_OFF = Tristate on\n");
    } else {
        std::printf("---------------- iTE6805_Set_Video_Tristate -> VIDEO_ON = Tristate off\n");
        // Out of tristate, but blanked while a mute holds (a source that comes up muted).
        const uint8_t blank = blanked_[dev & 1] ? 0x80 : 0x00;
        set(0xC5, 0x80, blank, dev);
        set(0xC6, 0x80, 0x00, dev);
        const RegRead mode0 = rd_result(0xC0, dev);
        const uint8_t c0 = mode0.value_or(0xC0);   // not read: no depth written (mode 3), counted and set again
        if (!mode0.ok()) {
        } else if (c0 & 0x01) {
            wr(0xC6, t.ColorDepthCode == 0x10 ? 0x40 : 0x00, dev);
        } else {
            const int mode = (c0 >> 6) & 0x03;
            const int pick = t.ColorDepthCode == 0x10 ? 0 : (t.ColorDepthCode == 0x20 ? 1 : 2);
            static const uint8_t kMode01[3] = {0x78, 0x38, 0x18};
            static const uint8_t kMode2[3] = {0x63, 0x23, 0x03};
            if (mode <= 1)
                wr(0xC5, kMode01[pick] | blank, dev);
            else if (mode == 2)
                wr(0xC5, kMode2[pick] | blank, dev);
        }
    }
    chgbank(0, dev);
    video_gate_owed_[dev & 1] = owner_->p_i2c->errors != before ? int8_t(on ? 1 : 0) : int8_t(-1);
}

void ite6805_drv::iTE6805_Set_TTL_Video_Path(int dev)
{
    chgbank(0, dev);
    set(0x6B, 0x0C, uint8_t((owner_->iTE6805_DATA[dev].US_Output_ColorFormat & 0x03) << 2), dev);
}

void ite6805_drv::iTE6805_Init_TTL_VideoOutputConfigure(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    d.TTLConfig[0] = d.TTLConfig[1] = 0;
    d.US_Output_ColorFormat = 0;
    d.TTLPathEnabled = 0;
}

void ite6805_drv::iTE6805_Set_AVMute(int on, int dev)
{
    ite6805_i2c_rdwr* io = owner_->p_i2c;
    if (on) {
        std::printf("+++++++++++ iTE6805_Set_AVMute -> On\n");
        blanked_[dev & 1] = true;
        // Each write only after the one before was taken; not taken whole, made again while
        // the video is stable.
        int failed = chgbank(0, dev);
        failed = failed || io->hdmirxset(0x4F, 0xA0, 0xA0, dev);
        failed = failed || chgbank(1, dev);
        failed = failed || io->hdmirxset(0xC5, 0x80, 0x80, dev);
        avmute_owed_[dev & 1] = (chgbank(0, dev) | failed) != 0;
        return;
    }
    std::printf("+++++++++++  iTE6805_Set_AVMute -> Off\n");
    avmute_owed_[dev & 1] = false;
    if (owner_->iTE6805_DATA[dev].VidState != STATEV_VidStable)
        return;
    chgbank(0, dev);
    // Muted by the source, or not read (the mute flag stays and this is made again).
    if (iTE6805_Check_AVMute(dev).value_or(true)) {
        set(0x4F, 0x80, 0x80, dev);
        return;
    }
    // The pulse, and the blank the mute set released with it. Cut short, the mute flag
    // (0x4F bit 5) stays set and the video state machine makes it again on the next pass.
    int failed = chgbank(1, dev);
    failed = failed || io->hdmirxset(0xC5, 0x01, 0x01, dev);
    failed = failed || io->hdmirxset(0xC5, 0x81, 0x00, dev);
    failed = chgbank(0, dev) | failed;
    blanked_[dev & 1] = failed != 0;
    failed = failed || io->hdmirxset(0x4F, 0xA0, 0xA0, dev);
    (void)(failed || io->hdmirxset(0x4F, 0xA0, 0x80, dev));
}

void ite6805_drv::iTE6805_Reset_ALL_Logic(int port, int dev)
{
    std::printf("******* iTE6805_Reset_ALL_Logic *******\n");
    iTE6805_Set_HPD_Ctrl(port == 1 ? 1 : 0, 0, dev);
    ite6805_sys::delay1ms(100);
    chgbank(0, dev);
    wr(port == 1 ? 0x0D : 0x08, 0x04, dev);
    wr(0x22, 0x12, dev);
    wr(0x22, 0x10, dev);
    const uint8_t reg = port == 1 ? 0x2B : 0x23;
    set(reg, 0xFD, 0xAC, dev);
    set(reg, 0xFD, 0xA0, dev);
    owner_->iTE6805_INT_5VPWR_Chg(port == 1 ? 1 : 0, dev);
    chgbank(0, dev);
}

// --- 4K detection and downscaler -----------------------------------------------------------

int ite6805_drv::iTE6805_Check_4K_Resolution(int dev)
{
    // The clock measured for this very timing, not measured a second time.
    const uint32_t pclk = owner_->timing[dev].PCLK;
    std::printf("PCLK = %ld.%03ldMHz\n", long(pclk / 1000), long(pclk % 1000));
    const bool is4k = pclk > 320000 || (pclk > 160000 && owner_->iTE6805_DATA[dev].YUV420);
    std::printf(is4k ? "iTE6805_Check_4K_Resolution = TRUE!!!\n" : "iTE6805_Check_4K_Resolution = FALSE!!!\n");
    return is4k ? 1 : 0;
}

int ite6805_drv::iTE6805_Check_Support4KTiming(int dev)
{
    const int f = owner_->iTE6805_DATA[dev].YUV420 ? 1 : 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const iTE6805_TIMING& t = owner_->timing[dev];
        for (int r = 0; r < DSTimingRows && r < kDSTimingRows; ++r) {
            const iTE6805_DSTiming& s = iTE6805_SupportedDSTiming[r];
            if (s.HTotal == (t.HTotal << f) && s.HActive == (t.HActive << f) && s.HSyncWidth == (t.HSyncWidth << f)
                && s.HFrontPorch == (t.HFrontPorch << f) && s.HBackPorch == (t.HBackPorch << f)
                && s.VTotal == t.VTotal && s.VActive == t.VActive && s.VSyncWidth == t.VSyncWidth
                && s.VFrontPorch == t.VFrontPorch && s.VBackPorch == t.VBackPorch)
                return 1;
        }
        if ((uint32_t(t.HActive) << f) <= 3000)
            return 0;
        if (attempt < 3)
            iTE6805_Get_VID_Info(dev);
    }
    return 0;
}

void ite6805_drv::iTE6805_Set_DNScale(int dev)
{
    const iTE6805_TIMING& t = owner_->timing[dev];
    const int f = owner_->iTE6805_DATA[dev].YUV420 ? 1 : 0;
    std::printf("---- Video DownScale Start! ----\n");
    chgbank(0, dev);
    set(0x33, 0x08, 0x08, dev);
    chgbank(5, dev);
    const uint32_t h = uint32_t(t.HActive) << f;
    const uint32_t v = t.VActive == 1079 ? 1080 : t.VActive;
    auto word = [&](uint8_t reg, uint32_t value, uint8_t highMask) {
        wr(reg, uint8_t(value), dev);
        wr(uint8_t(reg + 1), uint8_t((value >> 8) & highMask), dev);
    };
    word(0x21, h, 0xFF);
    word(0x23, v, 0xFF);
    word(0x25, h - 2, 0xFF);
    word(0x27, h / 2 - 1, 0xFF);
    word(0x29, h / 2 - 1, 0xFF);
    for (uint8_t reg : {uint8_t(0x2B), uint8_t(0x2E)}) {
        wr(reg, 0xFF, dev);
        wr(uint8_t(reg + 1), 0x00, dev);
        wr(uint8_t(reg + 2), 0x0F, dev);
    }
    wr(0x31, uint8_t(0x18 + 3 * t.HSyncPol), dev);
    const uint32_t hfp = (uint32_t(t.HFrontPorch) / 2) << f, hsw = (uint32_t(t.HSyncWidth) / 2) << f;
    const uint32_t hbp = (uint32_t(t.HBackPorch) / 2) << f, hact = (uint32_t(t.HActive) / 2) << f;
    const uint32_t vfp = t.VFrontPorch / 2u, vsw = t.VSyncWidth / 2u, vbp = t.VBackPorch / 2u;
    const uint32_t vact = (t.VActive == 2159 ? 2160u : t.VActive) / 2u;
    word(0x32, hfp, 0x3F);
    word(0x34, hsw, 0x3F);
    word(0x36, hbp, 0x3F);
    word(0x38, hact, 0x3F);
    word(0x3A, vfp, 0x3F);
    word(0x3C, vsw, 0x3F);
    word(0x3E, vbp, 0x3F);
    word(0x40, vact, 0x3F);
    std::printf("Target HActive= %d , HFrontPorch=%d, HSync Width=%d, HBackPorch=%d \n", int(hact), int(hfp), int(hsw), int(hbp));
    std::printf("Target VActive= %d , VFrontPorch=%d, VSync Width=%d, VBackPorch=%d \n", int(vact), int(vfp), int(vsw), int(vbp));
    set(0x20, 0x40, 0x00, dev);
    std::printf("---- Video DownScale Enable! Video DownScale Enable! ----\n");
    std::printf("---- Video DownScale End! ----\n");
    chgbank(0, dev);
    set(0x33, 0x08, 0x00, dev);
}

int ite6805_drv::iTE6805_Check_DS_Condition(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    chgbank(2, dev);
    // Not read: the format known stays (the step is counted and made again).
    d.AVIInfoFrame_Input_ColorFormat = (rd_result(0x15, dev).value_or(uint8_t(d.AVIInfoFrame_Input_ColorFormat << 5)) >> 5) & 0x03;
    d.YUV420 = d.AVIInfoFrame_Input_ColorFormat == 3 ? 1 : 0;
    chgbank(5, dev);
    const bool scalerBypassed = rd(0x20, dev) & 0x40;
    chgbank(0, dev);
    if (scalerBypassed)
        read_sizes(dev);
    return (iTE6805_Check_4K_Resolution(dev) && iTE6805_Check_Support4KTiming(dev)) ? 1 : 0;
}

int ite6805_drv::iTE6805_CSC_Row(uint32_t colorimetry, uint8_t extendedColorimetry)
{
    if (colorimetry == 2)
        return 7;
    if (colorimetry == 3 && (extendedColorimetry == 5 || extendedColorimetry == 6))
        return 8;
    return 5;
}
