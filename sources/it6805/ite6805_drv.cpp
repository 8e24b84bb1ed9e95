#include "sources/it6805/ite6805_drv.h"

#include "board/Clock.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "sources/it6805/ite6805_sys.h"
#include "sources/velinsource.h"

#include <cstdio>
#include <cstring>
#include <mutex>

// Steps read through here compare the access object's errors before they count as done;
// the value of an unanswered read is 0 and is not kept beyond such a step.
uint8_t ite6805_drv::rd(uint8_t reg, int dev) { return owner_->p_i2c->hdmirxrd(reg, dev).value_or(0); }
RegRead ite6805_drv::rd_result(uint8_t reg, int dev) { return owner_->p_i2c->hdmirxrd(reg, dev); }
// Counted writes: a failure lands in the access object's errors, which the step that
// makes them compares before it counts as done (else it is made again).
void ite6805_drv::wr(uint8_t reg, uint8_t value, int dev) { (void)owner_->p_i2c->hdmirxwr(reg, value, dev); }
void ite6805_drv::set(uint8_t reg, uint8_t mask, uint8_t value, int dev) { (void)owner_->p_i2c->hdmirxset(reg, mask, value, dev); }

int ite6805_drv::chgbank(int bank, int dev)
{
    return owner_->p_i2c->select_bank(bank, dev);
}

// --- status checks -------------------------------------------------------------------------

RegFlag ite6805_drv::iTE6805_Check_5V_State(int port, int dev)
{
    return rd_result(port == 0 ? 0x13 : 0x16, dev).any(0x01);
}

RegResult<int> ite6805_drv::iTE6805_Check_HDMI_OR_DVI_Mode(int port, int dev)
{
    if (port > 1)
        return RegResult<int>::answered(2);
    const RegFlag hdmi = rd_result(port == 0 ? 0x13 : 0x16, dev).any(0x02);
    return hdmi.ok() ? RegResult<int>::answered(hdmi.value() ? 0 : 2) : RegResult<int>();
}

RegFlag ite6805_drv::iTE6805_Check_CLK_Vaild(int dev)
{
    return rd_result(owner_->iTE6805_DATA[dev].CurrentPort == 0 ? 0x13 : 0x16, dev).any(0x08);
}

RegFlag ite6805_drv::iTE6805_Check_CLK_Stable(int dev)
{
    return rd_result(owner_->iTE6805_DATA[dev].CurrentPort == 0 ? 0x13 : 0x16, dev).any(0x10);
}

RegFlag ite6805_drv::iTE6805_Check_PORT0_IS_MHL_Mode(int port, int dev)
{
    return port == 0 ? rd_result(0x13, dev).any(0x40) : RegFlag::answered(false);
}

RegFlag ite6805_drv::iTE6805_Check_TMDS_Bigger_Than_1G(int dev)
{
    return rd_result(owner_->iTE6805_DATA[dev].CurrentPort == 0 ? 0x14 : 0x17, dev).any(0x01);
}

RegFlag ite6805_drv::iTE6805_Check_HDMI2(int dev)
{
    return rd_result(owner_->iTE6805_DATA[dev].CurrentPort == 0 ? 0x14 : 0x17, dev).any(0x40);
}

RegFlag ite6805_drv::iTE6805_Check_SCDT(int dev)
{
    return rd_result(0x19, dev).any(0x80);
}

RegFlag ite6805_drv::iTE6805_Check_AUDT(int dev)
{
    const RegRead b1 = rd_result(0xB1, dev), r10 = rd_result(0x10, dev);
    if (!b1.ok() || !r10.ok())
        return RegFlag();
    return RegFlag::answered((b1.value() & 0x80) && !(r10.value() & 0x80));
}

RegFlag ite6805_drv::iTE6805_Check_AVMute(int dev)
{
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    if (port1)
        chgbank(4, dev);
    const RegFlag mute = rd_result(0xAA, dev).any(0x08);
    if (port1)
        chgbank(0, dev);
    return mute;
}

void ite6805_drv::iTE6805_GET_InputType(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    // Not read: the type known stays (the set-up is counted and made again).
    const RegFlag mhl = iTE6805_Check_PORT0_IS_MHL_Mode(0, dev);
    if (d.CurrentPort == 0 && mhl.value_or(d.InputType == 1))
        d.InputType = 1;
    else if (iTE6805_Check_HDMI_OR_DVI_Mode(d.CurrentPort, dev).value_or(d.InputType == 2 ? 2 : 0) == 2)
        d.InputType = 2;   // not read: the type known stays (the set-up is counted and made again)
    else
        d.InputType = 0;
}

// --- hot-plug line and initialisation ----------------------------------------------------------

int ite6805_drv::iTE6805_Set_HPD_Ctrl(int port, int level, int dev)
{
    if (dev < 0 || dev > 1)
        return 0;
    owner_->p_i2c->forget_bank();   // also called from outside the service
    std::printf("iTE6805_Set_HPD_Ctrl PORT%d_HPD = %d \r\n", port, level);
    if (port != 0) {
        owner_->iTE6805_DATA[dev].InputType = 0;
        return 0;
    }
    // A source reads the EDID and sends only by this line: a level not taken is set again.
    const uint32_t before = owner_->p_i2c->errors;
    hpd_line(level, dev);
    const bool failed = owner_->p_i2c->errors != before;
    hpd_retry_[dev] = failed ? int8_t(level ? 1 : 0) : int8_t(-1);
    return failed ? 1 : 0;
}

bool ite6805_drv::hpd_line(int level, int dev)
{
    const uint32_t before = owner_->p_i2c->errors;
    // A return to bank 0 that failed earlier (this call's retry is often that) leaves the
    // chip in another bank, where 0x13 is not the +5 V state: a source read as gone would
    // be published gone while it still sends.
    chgbank(0, dev);
    const RegFlag powered = owner_->p_i2c->errors == before ? iTE6805_Check_5V_State(0, dev) : RegFlag();
    // A chip that answers nothing is held in reset or gone: its line is low.
    if (!powered.ok())
        return false;
    const bool power = powered.value();
    if (!power) {
        if (chgbank(3, dev) == 0)
            set(0xAB, 0xC0, 0x00, dev);
        chgbank(0, dev);
        // Device 1 has no input record of its own.
        if (level == 0 && dev == 0)
            iTE6805_Publish_NoSignal(dev, 1);
        return true;
    }
    const RegFlag mhl = iTE6805_Check_PORT0_IS_MHL_Mode(0, dev);
    if (!mhl.ok())
        return false;   // counted: the level is set again on the next pass
    if (mhl.value())
        return true;
    owner_->iTE6805_DATA[dev].InputType = 0;
    if (chgbank(3, dev) == 0) {   // else these would land on bank 0's registers
        set(0xAB, 0xC0, level ? 0xC0 : 0x40, dev);
        set(0xAC, 0x7C, 0x40, dev);
    }
    chgbank(0, dev);
    return true;
}

void ite6805_drv::iTE6805_Init_fsm(int dev)
{
    if (dev < 0 || dev > 1)
        return;
    owner_->p_i2c->forget_bank();
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    // The start-up below tristates the output until the source is found again: a picture
    // published before (a reset pulse, an EDID rewrite, the PC's restart) is gone meanwhile.
    if (owner_->had_signal(dev))
        iTE6805_Publish_NoSignal(dev, 1);
    chgbank(0, dev);
    d.ChipID = rd(0x04, dev);
    d.DSMode = 1;
    d.VidState = STATEV_Unplug;
    d.AudState = STATEA_AudioOff;
    d.EQState = STATEEQ_Off;
    // What an earlier start left to be made again is made by this one.
    owner_->cnt[dev].VidRetry = owner_->cnt[dev].AudRetry = 0;
    hpd_retry_[dev] = -1;
    video_gate_owed_[dev] = -1;
    avmute_owed_[dev] = blanked_[dev] = false;
    d.TraceI2C = 0;
    d.PrevLaneCount = 7;
    owner_->p_i2c->hdimrx_write_init(iTE6805_INIT_HDMI_TABLE, dev);
    const bool altMap = d.ChipID == 0x10 || d.ChipID == 0xE0;
    set(0x3E, 0x20, altMap ? 0x00 : 0x20, dev);
    set(0x3D, 0x02, 0x02, dev);
    wr(0x3F, 0x57, dev);
    set(0x41, 0xC0, 0x40, dev);   // field bits 6-7 = 1
    iTE6805_Init_CAOF(dev);
    chgbank(0, dev);
    wr(0x28, 0x88, dev);
    iTE6805_Set_Video_Tristate(1, dev);
    owner_->iTE6805_Set_Audio_Tristate(1, dev);   // no sound until a source sends some
    iTE6805_OCLK_Cal(dev);
    d.PortSelectRequest = 0;
    d.PortResetRequest = 0;
    set(0xC5, 0x01, 0x01, dev);
    chgbank(4, dev);
    set(0xC5, 0x01, 0x01, dev);
    chgbank(0, dev);
    d.TTLConfig[0] = d.TTLConfig[1] = 0;
    d.US_Output_ColorFormat = 0;
    d.TTLPathEnabled = 0;
    iTE6805_Set_TTL_Video_Path(dev);
    owner_->p_cec_sys->iTE6805_CEC_INIT(dev);
    d.RequestedPort = 0;
    d.CurrentPort = 0;
    d.PortSelectRequest = 1;
    owner_->iTE6805_Port_Select_Body(0, dev);
    d.HDCPState = 0;
    owner_->iTE6805_INT_5VPWR_Chg(d.CurrentPort, dev);
}

// --- measurement ---------------------------------------------------------------------------

uint32_t ite6805_drv::iTE6805_Get_PCLK(int dev)
{
    iTE6805_PCLK_Start(dev);
    while (!iTE6805_PCLK_Step(dev)) {
        const uint64_t now = board::Clock::monotonicUs();
        ite6805_sys::delay1ms(unsigned((pclk_due_us_[dev & 1] - now + 999) / 1000));
    }
    return owner_->timing[dev].PCLK;
}

// Before sample k (k = 1..20) the counter runs 10 x k ms: 2.1 s in all.
void ite6805_drv::iTE6805_PCLK_Start(int dev)
{
    pclk_sample_[dev & 1] = 1;
    pclk_sum_[dev & 1] = 0;
    pclk_due_us_[dev & 1] = board::Clock::monotonicUs() + 10000;
}

bool ite6805_drv::iTE6805_PCLK_Step(int dev)
{
    uint8_t& k = pclk_sample_[dev & 1];
    if (k == 0)
        return true;
    if (board::Clock::monotonicUs() < pclk_due_us_[dev & 1])
        return false;
    const uint32_t before = owner_->p_i2c->errors;
    chgbank(0, dev);
    set(0x9A, 0x80, 0x00, dev);
    const uint32_t high = rd(0x9A, dev) & 0x03;
    const uint32_t low = rd(0x99, dev);
    set(0x9A, 0x80, 0x80, dev);
    if (owner_->p_i2c->errors != before) {   // a sample not read whole: the clock is measured anew
        iTE6805_PCLK_Start(dev);
        return false;
    }
    uint32_t& sum = pclk_sum_[dev & 1];
    sum += high * 256 + low;
    if (k < 20) {
        ++k;
        pclk_due_us_[dev & 1] = board::Clock::monotonicUs() + 10000u * k;
        return false;
    }
    k = 0;
    // A clock that never ticked gives 0 rather than a division by zero.
    owner_->timing[dev].PCLK = sum ? uint32_t(uint64_t(10240) * RCLK[dev] / sum) : 0;
    return true;
}

uint32_t ite6805_drv::iTE6805_Get_TMDS(int samples, int dev)
{
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    chgbank(port1 ? 4 : 0, dev);
    uint32_t sum = 0;
    for (int i = 0; i < samples; ++i) {
        ite6805_sys::delay1ms(3);
        sum += uint8_t(rd(0x48, dev) + 1);
    }
    const uint8_t range = rd(0x43, dev);
    chgbank(0, dev);
    uint64_t scale = 128;
    if (range & 0x80)
        scale = 1024;
    else if (range & 0x40)
        scale = 512;
    else if (range & 0x20)
        scale = 256;
    const uint32_t tmds = sum ? uint32_t(uint64_t(RCLK[dev]) * uint64_t(samples) * scale / sum) : 0;
    owner_->timing[dev].TMDSCLK = tmds;
    return tmds;
}

void ite6805_drv::iTE6805_Set_47_By_TMDS(int dev)
{
    // Decided and written only from answered reads (the check comes again while sync is
    // awaited): an unanswered 0x47 written back would overwrite the calibrated divider.
    const RegRead rRange = rd_result(0x43, dev), rCount = rd_result(0x48, dev);
    const RegRead rStatus = rd_result(owner_->iTE6805_DATA[dev].CurrentPort == 1 ? 0x17 : 0x14, dev);
    if (!rRange.ok() || !rCount.ok() || !rStatus.ok())
        return;
    const uint8_t range = rRange.value(), count = rCount.value(), status = rStatus.value();
    uint32_t refSum = count;
    if (range & 0x80)
        refSum = count >> 3;
    else if (range & 0x40)
        refSum = count >> 2;
    else if (range & 0x20)
        refSum = count >> 1;
    const uint8_t rclkMhz = uint8_t(RCLK[dev] / 1000);
    std::printf("RefSUM = %d \n", int(refSum));
    std::printf("RCLKVALUE = %d \n", rclkMhz);
    if (!(status & 0x02) && refSum < RCLK[dev] / 1000) {
        std::printf("OverWrite IPLL/OPLL ");
        const RegRead pll = rd_result(0x47, dev);
        if (pll.ok())
            wr(0x47, pll.value(), dev);
    }
}

void ite6805_drv::read_sizes(int dev)
{
    iTE6805_TIMING& t = owner_->timing[dev];
    const bool altMap = owner_->iTE6805_DATA[dev].ChipID == 0x10 || owner_->iTE6805_DATA[dev].ChipID == 0xE0;
    auto w6 = [&](uint8_t high, uint8_t low) { return uint16_t((rd(high, dev) & 0x3F) * 256 + rd(low, dev)); };
    t.HTotal = w6(0x9C, 0x9B);
    t.HActive = w6(0x9E, 0x9D);
    t.VTotal = altMap ? w6(0xA4, 0xA3) : w6(0xA3, 0xA2);
    t.VActive = altMap ? w6(0xA6, 0xA5) : w6(0xA5, 0xA4);
}

void ite6805_drv::iTE6805_Get_VID_Info(int dev)
{
    iTE6805_TIMING& t = owner_->timing[dev];
    const bool altMap = owner_->iTE6805_DATA[dev].ChipID == 0x10 || owner_->iTE6805_DATA[dev].ChipID == 0xE0;
    // A read that failed (and failed again) reads as 0: such a measurement is not used.
    const uint32_t before = owner_->p_i2c->errors;
    chgbank(0, dev);
    iTE6805_Get_TMDS(1, dev);
    // The pixel clock is the one measured over the passes before (iTE6805_PCLK_Step).
    auto w6 = [&](uint8_t high, uint8_t low) { return uint16_t((rd(high, dev) & 0x3F) * 256 + rd(low, dev)); };
    read_sizes(dev);
    if (altMap) {
        t.HFrontPorch = w6(0xA2, 0xA1);
        t.HSyncWidth = w6(0xA0, 0x9F);
        t.VFrontPorch = w6(0xAB, 0xA9);
        t.VSyncWidth = w6(0xA8, 0xA7);
    } else {
        t.HFrontPorch = uint16_t(((rd(0xA1, dev) & 0xF0) << 4) + rd(0xA0, dev));
        t.HSyncWidth = uint16_t((rd(0xA1, dev) & 0x01) * 256 + rd(0x9F, dev));
        t.VFrontPorch = uint16_t(((rd(0xA8, dev) & 0xF0) << 4) + rd(0xA7, dev));
        t.VSyncWidth = uint16_t((rd(0xA8, dev) & 0x01) * 256 + rd(0xA6, dev));
    }
    // Totals smaller than their parts mean the counters were read mid-change: the
    // measurement is not used (a back porch never goes below zero).
    const int hback = int(t.HTotal) - t.HActive - t.HFrontPorch - t.HSyncWidth;
    const int vback = int(t.VTotal) - t.VActive - t.VFrontPorch - t.VSyncWidth;
    t.HBackPorch = uint16_t(hback > 0 ? hback : 0);
    t.VBackPorch = uint16_t(vback > 0 ? vback : 0);
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    t.ScanMode = (rd(0x98, dev) & 0x02) ? 1 : 0;
    if (port1)
        chgbank(4, dev);
    const uint8_t pol = rd(0xAA, dev);
    if (port1)
        chgbank(0, dev);
    read_ok_[dev] = owner_->p_i2c->errors == before;
    timing_ok_[dev] = read_ok_[dev] && hback >= 0 && vback >= 0 && t.HActive && t.VActive;
    t.VSyncPol = (pol & 0x40) ? 1 : 0;
    t.HSyncPol = (pol & 0x20) ? 1 : 0;
    const uint64_t frame = uint64_t(t.HTotal) * t.VTotal;
    t.FrameRate = frame ? uint32_t(uint64_t(1000) * t.PCLK / frame) : 0;
}

void ite6805_drv::iTE6805_Get_AVIInfoFrame_Info(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    chgbank(2, dev);
    RegRead bytes[5];
    for (int i = 0; i < 5; ++i)
        bytes[i] = rd_result(uint8_t(0x15 + i), dev);
    chgbank(0, dev);
    // A frame not read whole leaves the fields known (the set-up is counted and made again).
    uint8_t db[5];
    for (int i = 0; i < 5; ++i) {
        if (!bytes[i].ok())
            return;
        db[i] = bytes[i].value();
    }
    // What the output is set up from is what a new InfoFrame is compared with (a set-up
    // on a DVI-to-HDMI change raises no InfoFrame interrupt of its own).
    for (int i = 0; i < 5; ++i)
        owner_->cnt[dev].AVIFields[i] = uint8_t(db[i] & iTE6805_COUNTERS::kAVIMask[i]);
    d.AVIInfoFrame_Input_ColorFormat = (db[0] >> 5) & 0x03;
    d.ScanInfo = db[0] & 0x03;
    d.Colorimetry = (db[1] >> 6) & 0x03;
    d.ExtendedColorimetry = (db[2] >> 4) & 0x07;
    d.RGBQuantRange = (db[2] >> 2) & 0x03;
    d.VIC = db[3] & 0x7F;
    d.YCCQuantRange = (db[4] >> 6) & 0x03;
    if (d.RGBQuantRange == 0)
        d.RGBQuantRange = d.VIC <= 1 ? 2 : 1;
    d.YUV420 = d.AVIInfoFrame_Input_ColorFormat == 3 ? 1 : 0;
}

void ite6805_drv::iTE6805_Show_AVIInfoFrame_Info(int dev)
{
    const iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    std::printf("AVI Info Frame VIC = %d\n", d.VIC);
    std::printf("AVI Info Frame ColorFormat = %u\n", unsigned(d.AVIInfoFrame_Input_ColorFormat));
    std::printf("AVI Info Frame Colorimetry = %u\n", unsigned(d.Colorimetry));
    std::printf("AVI Info Frame ExtendedColorimetry = %d\n", d.ExtendedColorimetry);
    std::printf("AVI Info Frame RGBQuantRange = %u\n", unsigned(d.RGBQuantRange));
    std::printf("AVI Info Frame YCCQuantRange = %u\n", unsigned(d.YCCQuantRange));
}

void ite6805_drv::iTE6805_Show_AUD_Info(int dev)
{
    iTE6805_DATA_TYPE& d = owner_->iTE6805_DATA[dev];
    chgbank(0, dev);
    const uint8_t b0 = rd(0xB0, dev);
    const uint8_t b1 = rd(0xB1, dev);
    const uint8_t b5 = rd(0xB5, dev);
    chgbank(2, dev);
    const uint8_t r46 = rd(0x46, dev);
    chgbank(0, dev);
    std::printf("\nAudio Format: ");
    if (b0 & 0x40)
        std::printf((b0 & 0x10) ? "\n One Bit 3D Audio " : "\n 3D Audio ");
    else if (b0 & 0x80)
        std::printf((b0 & 0x10) ? "\n One Bit Multi-Stream Audio " : "\n Multi-Stream Audio ");
    else
        std::printf((b0 & 0x10) ? "\n One Bit Audio " : "\n Audio Sample ");
    switch (b1 & 0x3F) {
    case 1: d.AudioChannels = 2; break;
    case 3: d.AudioChannels = 4; break;
    case 7: d.AudioChannels = 6; break;
    case 15: d.AudioChannels = 8; break;
    case 31: d.AudioChannels = 10; break;
    case 63: d.AudioChannels = 12; break;
    default: std::printf("\r\nAudCh Error !!!\r"); break;
    }
    const uint8_t code = uint8_t(((b5 >> 2) & 0x30) | (b5 & 0x0F));
    struct Rate { uint8_t code; const char* text; };
    static const Rate kRates[] = {
        {3, "=32K"}, {0, "=44.1K"}, {2, "=48K"}, {11, "=64K"}, {8, "=88.2K"}, {10, "=96K"},
        {43, "=128K"}, {12, "=176.4K"}, {14, "=192K"}, {27, "=256K"}, {13, "=352.8K"}, {5, "=384K"},
        {59, "=512K"}, {45, "=705.6K"}, {9, "=768K"}, {53, "=1024K"}, {29, "=1411.2K"}, {21, "=1536K"},
    };
    if (b0 & 0x10) {
        static const char* const kStream[8] = {"Refer to Stream Header", "32K", "44.1K", "48K", "88.2K", "96K", "176.4K", "192K"};
        std::printf("%s", kStream[(r46 >> 2) & 0x07]);
    } else {
        const char* text = " Error !!!";
        for (const Rate& r : kRates)
            if (r.code == code)
                text = r.text;
        std::printf("%s", text);
    }
    std::printf("\n");
}

void ite6805_drv::iTE6805_Reset_Audio_Logic(int dev)
{
    chgbank(0, dev);
    set(0x22, 0x02, 0x02, dev);
    set(0x22, 0x02, 0x00, dev);
    // 0x8A written back with its own value (a forced sample-rate code among its bits):
    // unread, nothing is written over it (counted in errors).
    const RegRead fs = rd_result(0x8A, dev);
    for (int i = 0; fs.ok() && i < 4; ++i)
        wr(0x8A, fs.value(), dev);
}

void ite6805_drv::iTE6805_Reset_Video_Logic(int dev)
{
    chgbank(0, dev);
    set(0x22, 0x01, 0x01, dev);
    ite6805_sys::delay1ms(1);
    set(0x22, 0x01, 0x00, dev);
    // Write-1-to-clear: only the named bits are written, so the other pending events
    // (audio, mute packets, new AVI) stay for the interrupt service.
    wr(0x10, 0x02, dev);
    wr(0x12, 0x80, dev);
}

// --- publication ---------------------------------------------------------------------------

void ite6805_drv::iTE6805_Set_Stable(int dev, int flag)
{
    velinsource* src = velinsource::p_velin_source;
    if (src && dev == 0)
        src->hdminfo[3].valid = uint32_t(flag);
}

void ite6805_drv::iTE6805_Get_Hdmi(int dev)
{
    velinsource* src = velinsource::p_velin_source;
    if (!src || dev != 0)
        return;
    hdminfo& h = src->hdminfo[3];
    if (h.nosignal == 1) {
        h.Hact = h.Hsync = h.Hback = h.Hpol = h.Htotal = 0;
        h.Vact = h.Vsync = h.Vback = h.Vpol = h.Vtotal = 0;
        h.ip = 0;
        h.pfreq = 0.0f;
        h.type = h.datamode = h.lane = 1;
        return;
    }
    const iTE6805_TIMING& t = owner_->timing[dev];
    // The record keeps the measured values; a YUV 4:2:0 source is published at its real
    // width, computed afresh each time.
    const uint32_t f = owner_->iTE6805_DATA[dev].YUV420 ? 2 : 1;
    h.Hact = t.HActive * f;
    h.Hsync = t.HSyncWidth * f;
    h.Hback = t.HBackPorch * f;
    h.Htotal = t.HTotal * f;
    h.Hpol = t.HSyncPol;
    h.Vact = t.VActive;
    h.Vsync = t.VSyncWidth;
    h.Vback = t.VBackPorch;
    h.Vpol = t.VSyncPol;
    h.Vtotal = t.VTotal;
    h.pfreq = float(t.PCLK / 1000.0);
    h.type = 1;
    h.datamode = 1;
    h.lane = 1u << owner_->iTE6805_DATA[dev].VBO_LaneCount;
    h.ip = t.ScanMode;
}

void ite6805_drv::publish(int dev, bool statusBytes, bool notify, bool valid, int nosignal)
{
    if (dev != 0)
        return;
    // A notification refreshes the screens and the keypad LEDs: it is sent only when the
    // status bytes or the record changed, so repeated no-signal reports of an idle or
    // missing input cost nothing.
    bool changed = false;
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (statusBytes && para) {
        uint16_t width = 0, height = 0, rate = 0;
        if (nosignal != 1) {
            const iTE6805_TIMING& t = owner_->timing[dev];
            width = uint16_t(owner_->iTE6805_Real_HActive(dev));
            height = t.VActive;
            rate = uint16_t(t.FrameRate < 55 ? t.FrameRate : 60);
        }
        std::lock_guard<std::mutex> hold(para->mutex);
        uint8_t* status = para->ram + KelRamPara::kInputStatus + 6 * 3;
        changed = KelRamPara::get16(status) != width || KelRamPara::get16(status + 2) != height
            || KelRamPara::get16(status + 4) != rate;
        KelRamPara::put16(status, width);
        KelRamPara::put16(status + 2, height);
        KelRamPara::put16(status + 4, rate);
    }
    if (nosignal >= 0 && velinsource::p_velin_source) {
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        hdminfo& h = velinsource::p_velin_source->hdminfo[3];
        const hdminfo before = h;
        iTE6805_Set_Stable(dev, 0);
        h.nosignal = uint32_t(nosignal);
        iTE6805_Get_Hdmi(dev);
        if (valid)
            iTE6805_Set_Stable(dev, 1);
        changed = changed || std::memcmp(&before, &h, sizeof h) != 0;
    }
    if (notify && changed && para)
        para->test_signal(12);
}

void ite6805_drv::iTE6805_Publish_NoSignal(int dev, int valid)
{
    publish(dev, true, true, valid != 0, 1);
}

void ite6805_drv::iTE6805_update_hdmi(int dev)
{
    // Not read: not published this time (the caller's step is counted and made again).
    if (!rd_result(0x19, dev).any(0x02).value_or(false) || !timing_ok_[dev & 1])
        return;
    publish(dev, false, false, true, 0);
}

void ite6805_drv::iTE6805_Show_VID_Info(int dev, int skip_publication)
{
    const iTE6805_TIMING& t = owner_->timing[dev];
    const bool port1 = owner_->iTE6805_DATA[dev].CurrentPort == 1;
    std::printf("\n\n dev_id:%d -------Video Timing-------%d\n", dev, skip_publication);
    std::printf(rd_result(port1 ? 0x18 : 0x15, dev).any(0x02).value_or(false) ? "HDMI2 Scramble Enable !! " : "HDMI2 Scramble Disable !! ");   // traces
    std::printf(rd_result(port1 ? 0x17 : 0x14, dev).any(0x40).value_or(false) ? "HDMI2 CLK Ratio 1/40 !! " : "HDMI CLK Ratio 1/10  !! ");
    std::printf("TMDSCLK = %lu.%03luMHz\n", (unsigned long)(t.TMDSCLK / 1000), (unsigned long)(t.TMDSCLK % 1000));
    std::printf("PCLK = %ld.%03ldMHz\n", long(t.PCLK / 1000), long(t.PCLK % 1000));
    std::printf("HActive = %d\n", t.HActive);
    std::printf("VActive = %d\n", t.VActive);
    std::printf("HTotal = %d\n", t.HTotal);
    std::printf("VTotal = %d\n", t.VTotal);
    std::printf("HFrontPorch = %d\n", t.HFrontPorch);
    std::printf("HSyncWidth = %d\n", t.HSyncWidth);
    std::printf("HBackPorch = %d\n", t.HBackPorch);
    std::printf("VFrontPorch = %d\n", t.VFrontPorch);
    std::printf("VSyncWidth = %d\n", t.VSyncWidth);
    std::printf("VBackPorch = %d\n", t.VBackPorch);
    std::printf("FrameRate = %ld\n", long(t.FrameRate));
    std::printf(t.ScanMode ? "ScanMode = InterLaced\n" : "ScanMode = Progressive\n");
    std::printf(t.VSyncPol ? "VSyncPol = Positive\n" : "VSyncPol = Negative\n");
    std::printf(t.HSyncPol ? "HSyncPol = Positive\n" : "HSyncPol = Negative\n");
    const int hs = (rd_result(0x36, dev).value_or(0) >> 2) & 0x03;   // a trace
    // A stability or a timing not read is no doubt about the source: no bounce for it; the
    // step that publishes is counted and made again.
    const RegFlag stable = rd_result(0x19, dev).any(0x02);
    if (!stable.ok() || !read_ok_[dev & 1])
        return;
    const bool outputStable = stable.value();
    if (!outputStable || !timing_ok_[dev & 1]) {
        // The source re-reads the EDID and sends again instead of a doubtful timing.
        std::printf("Video Output Detect Non-Stable   LVPCLK_HS=%d\n", hs);
        iTE6805_Set_HPD_Ctrl(0, 0, dev);
        ite6805_sys::delay1ms(100);
        iTE6805_Set_HPD_Ctrl(0, 1, dev);
        ite6805_sys::delay1ms(100);
        if (!outputStable)
            return;
        // The output is stable, only the counters were doubtful. A source that keeps its
        // sync through the bounce raises no event that would measure again, so measure
        // here: the record is published once the timing is consistent, and width, height
        // and rate (all the status needs) are published in any case, so a valid picture
        // is not left dark.
        iTE6805_Get_VID_Info(dev);
        const bool whole = timing_ok_[dev & 1];
        if (whole || (read_ok_[dev & 1] && t.HActive && t.VActive))
            publish(dev, skip_publication == 0, skip_publication == 0, whole, whole ? 0 : -1);
        return;
    }
    std::printf("Video Output Detect Stable   LVPCLK_HS=%d\n", hs);
    if (skip_publication == 0)
        publish(dev, true, true, false, -1);
}
