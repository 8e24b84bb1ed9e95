// IT6602 receivers: the video state machine (waiting for a stable signal, a one-pass check,
// video on), the output gating of the chip, the timing measurement and its publication to
// the scaler (hdminfo) and the screens (input status bytes).
#include "sources/it6602/velin_it6602.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/velinsource.h"

#include <cstring>
#include <mutex>

namespace {
constexpr uint32_t kOscNominal = 48696;
constexpr uint32_t kOscTolerance = 24349;

struct Syncgen3D {
    uint8_t vic;
    uint32_t v_total, v_act_start, v_act_end, v_sync_end, active;
};
// DE generator settings for frame-packed 3D, by VIC; the last row is used when none matches.
constexpr Syncgen3D t_3d_syncgen[] = {
    {1, 524, 559, 514, 526, 480},    {2, 524, 560, 515, 530, 480},    {3, 524, 560, 515, 530, 480},
    {17, 624, 668, 619, 629, 576},   {18, 624, 668, 619, 629, 576},   {60, 749, 774, 744, 754, 720},
    {61, 749, 774, 744, 754, 720},   {62, 749, 774, 744, 754, 720},   {19, 749, 774, 744, 754, 720},
    {4, 749, 774, 744, 754, 720},    {32, 1124, 1165, 1120, 1129, 1080}, {33, 1124, 1165, 1120, 1129, 1080},
    {34, 1124, 1165, 1120, 1129, 1080}, {255, 0, 0, 0, 0, 0},
};

struct hdminfo* record_of(int dev)
{
    velinsource* src = velinsource::p_velin_source;
    return (src && dev >= 0 && dev < 3) ? &src->hdminfo[dev] : nullptr;
}

void fill_record(struct hdminfo& r, const IT6602_VIDEO_TIMING& t, float pfreq)
{
    r.Hact = t.HActive;
    r.Hsync = t.HSyncWidth;
    r.Hback = t.HBackPorch;
    r.Hpol = (t.flags & 0x04) ? 1 : 0;
    r.Htotal = t.HTotal;
    r.Vact = t.VActive;
    r.Vsync = t.VSyncWidth;
    r.Vback = t.VBackPorch;
    r.Vpol = (t.flags & 0x02) ? 1 : 0;
    r.Vtotal = t.VTotal;
    r.pfreq = pfreq;
    r.type = 0;
    r.datamode = 0;
    r.lane = 0;
    r.ip = (t.flags & 0x01) ? 1 : 0;
}

void print_record(int dev, const struct hdminfo& r)
{
    KEL_TRACE(" hdminfo[%d].pfreq:%f\n", dev, double(r.pfreq));
    KEL_TRACE("\t Hact   :%d\n\t Hsync  :%d\n\t Hback  :%d\n\t Hpol   :%d\n\t Htotal :%d\n", int(r.Hact), int(r.Hsync),
              int(r.Hback), int(r.Hpol), int(r.Htotal));
    KEL_TRACE("\t Vact   :%d\n\t Vsync  :%d\n\t Vback  :%d\n\t Vpol   :%d\n\t Vtotal :%d\n", int(r.Vact), int(r.Vsync),
              int(r.Vback), int(r.Vpol), int(r.Vtotal));
    KEL_TRACE("\t type   :%s\n\t mode   :%s\n\t ip     :%d\n\t signal :%s\n", r.type ? "IT6807" : "IT6602",
              r.datamode ? "DDR" : "SDR", int(r.ip), r.nosignal ? "No signal" : "Normal");
}
} // namespace

// ---------------------------------------------------------------------------------------
// State machine

void velin_it6602::IT6602SwitchVideoState(int fd, IT6602_dev_data* d, int state, int dev)
{
    if (d->m_VState == state)
        return;
    // Measured before anything is switched on: with no pixel-clock count or a timing that
    // does not hold together the output stays off, no audio is requested and the input
    // stays in its check, to be measured again after the check's pass. One that fails after
    // video was on (a mode change in place) leaves nothing valid to show: the output goes
    // off and "no signal" is published until a measurement holds.
    if (state == VSTATE_VideoOn && !get_vid_info(fd, dev)) {
        KEL_TRACE("IT6602 %d timing not stable, measured again\n", dev);
        d->m_VideoCountingTimer = 101;
        const RegRead gate = hdmirxrd_it6602(fd, 0x53);   // not read: not known tristated
        if (!gate.ok() || (gate.value() & 0x0F) != 0x0F)
            IT6602VideoOutputEnable(fd, 0, dev);
        return;
    }
    d->m_VState = uint8_t(state);
    if (state > VSTATE_VideoOn)
        return;
    KEL_TRACE("IT6602 %d VState -> %s\n", dev, VStateStr[state]);
    switch (state) {
    case VSTATE_Off:
        IT6602HPDCtrl(fd, 0, 0);
        IT6602HPDCtrl(fd, 1, 0);
        break;
    case VSTATE_SyncWait:
        IT6602VideoOutputEnable(fd, 0, dev);
        d->m_ucStatus &= uint8_t(~kStatusAVIChanged);
        d->m_ucDeskewCount[0] = d->m_ucDeskewCount[1] = 0;
        // Whatever comes next is measured as 2D until its own vendor infoframe says 3D.
        if (d->de3dframe)
            IT6602_DE3DOff(fd);
        d->de3dframe = 0;
        write_counted(fd, 0x6A, 0x82);
        break;
    case VSTATE_SWReset:
        IT6602VideoOutputEnable(fd, 0, dev);
        IT6602_AFE_Rst(fd, dev);
        // High only with +5 V, which the control reads itself: a reading not answered
        // here is set again on the next pass, not taken for an unplugged cable.
        IT6602HPDCtrl(fd, 0, 1);
        IT6602HPDCtrl(fd, 1, CheckPlg5VPwr(fd, 1).value_or(false));   // port 1 has no line to set
        break;
    case VSTATE_SyncChecking:
        d->m_VideoCountingTimer = 101;
        write_counted(fd, 0x6A, 0x82);
        break;
    case VSTATE_VideoOn: {
        // A content-off left by a search that ended without video would keep the picture
        // black with a signal shown: the video handler unmutes once the flag is clear.
        d->m_HDCP_ContentOff = 0;
        IT6602VideoOutputConfigure(fd, dev);
        // The input is published with a signal exactly while the picture leaves the chip:
        // an output not taken out of tristate stays in the check and is tried again.
        if (IT6602VideoOutputEnable(fd, 1, dev)) {
            IT6602VideoOutputEnable(fd, 0, dev);
            d->m_VState = VSTATE_SyncChecking;
            d->m_VideoCountingTimer = 101;
            return;
        }
        IT6602SwitchAudioState(fd, d, ASTATE_RequestAudio);
        show_vid_info(fd, dev);
        if (struct hdminfo* rec = record_of(dev)) {
            struct hdminfo copy;
            {
                std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
                rec->nosignal = 0;
                fill_record(*rec, vid_timing[dev], pfreq[dev]);
                rec->valid = 1;
                copy = *rec;
            }
            print_record(dev, copy);
        }
        KEL_TRACE("\t VSTATE_VideoOn %d stable=1\n", dev);
        KelRamPara* para = KelRamPara::p_kelrampara_config;
        if (g_source_online == 2) {
            it6602_update_vid_info(dev);
            if (para)
                para->test_signal(12);
        } else {
            g_source_online = 1;
            // An input shown in a window waits for the output path (velinsource publishes it).
            if (para && !para->KelSourceId_is_on(uint8_t(dev))) {
                it6602_update_vid_info(dev);
                para->test_signal(12);
            }
        }
        write_counted(fd, 0x84, 0x8F);
        write_counted(fd, 0x6A, 0x81);
        d->m_ucSCDToffCount = 0;
        break;
    }
    default:
        break;
    }
}

void velin_it6602::IT6602VideoHandler(int fd, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    if (d->m_VideoCountingTimer < 101) {
        d->m_VideoCountingTimer = 0;
        if (d->m_VState == VSTATE_SyncChecking) {
            IT6602SwitchVideoState(fd, d, VSTATE_VideoOn, dev);
            return;
        }
    } else {
        d->m_VideoCountingTimer = uint16_t(d->m_VideoCountingTimer - 100);
    }
    if (d->m_VState == VSTATE_SyncWait) {
        WaitingForSCDT(fd, dev);
    } else if (d->m_VState == VSTATE_VideoOn) {
        if ((d->m_ucStatus & kStatusAVIChanged) && d->m_bHold != 1)
            IT6602VideoOutputConfigure(fd, dev);
        if (mute_owed[dev])
            IT6602_SetVideoMute(fd, d, 1);
        // Muted, or a bit of the tristate left by an unmute cut short: unmuted once both
        // are read; a read not answered is tried on the next pass.
        if (hdmirxrd_it6602(fd, 0x53).any(0x8F).value_or(false) && !d->m_HDCP_ContentOff) {
            const RegFlag avmute = CheckAVMute(fd, d->m_ucPort);
            if (avmute.ok() && !avmute.value())
                IT6602_SetVideoMute(fd, d, 0);
        }
    }
}

void velin_it6602::WaitingForSCDT(int fd, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    const RegRead r0 = hdmirxrd_it6602(fd, 0x0A), r1 = hdmirxrd_it6602(fd, 0x0B), r51 = hdmirxrd_it6602(fd, 0x51);
    if (!r0.ok() || !r1.ok() || !r51.ok())
        return;   // waited for again on the next pass
    const uint8_t s0 = r0.value(), s1 = r1.value();
    const int port = r51.value() & 0x01;
    if (port == 1)
        IPLLOvw_chk(fd, 1, dev);
    else if (!(s0 & 0x40))
        IPLLOvw_chk(fd, 0, dev);
    if (s0 & 0x80) {
        IT6602SwitchVideoState(fd, d, VSTATE_SyncChecking, dev);
        return;
    }
    if (d->EQPort[port].f_manualEQadjust)
        return;
    const uint8_t s = port ? s1 : s0;
    if ((s & 0x09) == 0x09 && ++d->m_ucSCDToffCount > 21) {
        d->m_ucSCDToffCount = 0;
        hdmirx_ECCTimingOut(fd, port, dev);
        DisableOverWriteRS(fd, port, dev);
        TMDSCheck(fd, port, dev);
    }
}

RegFlag velin_it6602::CheckSCDT(int fd, IT6602_dev_data* d)
{
    const RegRead r51 = hdmirxrd_it6602(fd, 0x51);
    if (!r51.ok())
        return RegFlag();
    if ((r51.value() & 0x01) != d->m_ucPort)
        return RegFlag::answered(false);
    return hdmirxrd_it6602(fd, 0x0A).any(0x80);
}

bool velin_it6602::hdmirx_INT_SCDT_Chg(int fd, IT6602_dev_data* d, int dev)
{
    const RegFlag scdt = CheckSCDT(fd, d);
    if (!scdt.ok())
        return false;
    if (scdt.value()) {
        d->m_ucCurrentSCDT = 1;
        IT6602SwitchVideoState(fd, d, VSTATE_SyncChecking, dev);
    } else {
        d->m_ucCurrentSCDT = 0;
        IT6602SwitchVideoState(fd, d, VSTATE_SyncWait, dev);
        IT6602SwitchAudioState(fd, d, ASTATE_AudioOff);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Output gating

int velin_it6602::IT6602VideoOutputEnable(int fd, int on, int dev)
{
    if (on) {
        if (IT6602_PulseVideoReset(fd))
            return 1;
        delay1ms(10);
        return hdmirxset_it6602(fd, 0x53, 0x0F, 0x00);
    }
    // A picture still driven while "no signal" is published is tristated on the next pass.
    tristate_owed[dev] = hdmirxset_it6602(fd, 0x53, 0x0F, 0x0F) != 0;
    // This is what marks inputs 0..2 "no signal". Only a change is notified: an input that
    // already had none (a chip that is reset again and again) must not refresh the screens.
    if (KelRamPara* para = KelRamPara::p_kelrampara_config) {
        bool changed = false;
        {
            std::lock_guard<std::mutex> hold(para->mutex);
            uint8_t* status = para->ram + KelRamPara::kInputStatus + 6 * dev;
            for (int i = 0; i < 6; ++i)
                changed = changed || status[i] != 0;
            std::memset(status, 0, 6);
        }
        if (struct hdminfo* rec = record_of(dev)) {
            std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
            changed = changed || rec->nosignal != 1;
            rec->nosignal = 1;
        }
        if (changed)
            para->test_signal(12);
    }
    return tristate_owed[dev] ? 1 : 0;
}

RegFlag velin_it6602::CheckAVMute(int fd, int port)
{
    return hdmirxrd_it6602(fd, 0xA8).any(port ? 0x10 : 0x01);
}

void velin_it6602::IT6602_SetVideoMute(int fd, IT6602_dev_data* d, int on)
{
    const int dev = int(d - dev_data);
    if (on) {
        // A mute not taken whole is made again by the video handler.
        int failed = hdmirxset_it6602(fd, 0x53, 0xC0, 0xC0);
        failed = failed || hdmirxset_it6602(fd, 0x52, 0x20, 0x20);
        failed = failed || hdmirxset_it6602(fd, 0x53, 0x0E, 0x00);
        mute_owed[dev] = failed != 0;
        return;
    }
    mute_owed[dev] = false;
    if (d->m_VState != VSTATE_VideoOn)
        return;
    const RegFlag avmute = CheckAVMute(fd, d->m_ucPort);
    if (!avmute.ok())
        return;   // the video handler unmutes once it is read
    if (!avmute.value())
        (void)release_output(fd, true);   // cut short: left muted, the video handler makes it again
    else
        set_counted(fd, 0x52, 0x20, 0x20);
}

int velin_it6602::release_output(int fd, bool pulseReset)
{
    int failed = hdmirxset_it6602(fd, 0x53, 0x0F, 0x00);
    failed = failed || (pulseReset && IT6602_PulseVideoReset(fd));
    if (!failed && pulseReset)
        delay1ms(10);
    failed = failed || hdmirxset_it6602(fd, 0x53, 0x0E, 0x0E);
    failed = failed || hdmirxset_it6602(fd, 0x53, 0x0E, 0x00);
    failed = failed || hdmirxset_it6602(fd, 0x53, 0xC0, 0xC0);
    return failed || hdmirxset_it6602(fd, 0x53, 0xC0, 0x40);
}

void velin_it6602::IT6602_HDCP_ContentOff(int fd, int port, int dev)
{
    if (!IT6602_IsSelectedPort(fd, port).value_or(false))
        return;   // not read: left to the search's next step
    // Muted as far as it was taken; the flag holds back the unmute until the search ends.
    int failed = hdmirxset_it6602(fd, 0x53, 0xC0, 0xC0);
    failed = failed || hdmirxset_it6602(fd, 0x52, 0x20, 0x20);
    (void)(failed || hdmirxset_it6602(fd, 0x53, 0x0E, 0x00));
    dev_data[dev].m_HDCP_ContentOff = 1;
}

void velin_it6602::IT6602_ManualVideoTristate(int fd, int port, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    if (!IT6602_IsSelectedPort(fd, port).value_or(false) || !d->m_HDCP_ContentOff || d->m_VState != VSTATE_VideoOn)
        return;
    if (release_output(fd, false) == 0)
        d->m_HDCP_ContentOff = 0;
}

void velin_it6602::IT6602_AFE_Rst(int fd, int dev)
{
    // The port not read: the one known to be selected.
    const int port = hdmirxrd_it6602(fd, 0x51).value_or(dev_data[dev].m_ucPort) & 0x01;
    const uint8_t reg = port ? 0x18 : 0x11;
    set_counted(fd, reg, 0x01, 0x01);
    delay1ms(1);
    set_counted(fd, reg, 0x01, 0x00);
    DisableOverWriteRS(fd, port, dev);
    dev_data[dev].m_ucSCDToffCount = 0;
}

// ---------------------------------------------------------------------------------------
// Measurement and publication

int velin_it6602::get_vid_info(int fd, int dev)
{
    IT6602_VIDEO_TIMING t;
    // A timing with a register not read is no timing (1920 would be taken for 1792): the
    // one known stays and the input is measured again.
    const uint32_t errors = io_errors;
    bank_counted(fd, 0);
    uint8_t r[0x100 - 0x99];
    for (int i = 0x99; i <= 0xA8; ++i) {
        const RegRead v = hdmirxrd_it6602(fd, uint8_t(i));
        if (!v.ok())
            return 0;
        r[i - 0x99] = v.value();
    }
    auto R = [&](int reg) { return uint32_t(r[reg - 0x99]); };

    const uint32_t count = R(0x9A);
    t.PCLK = count ? 31620u / count / 10u : 0;
    const RegRead r51 = hdmirxrd_it6602(fd, 0x51);
    if (!r51.ok())
        return 0;
    const int port = r51.value() & 0x01;
    const RegResult<uint32_t> tmds = tmds_clock_of(fd, port);
    if (!tmds.ok())
        return 0;
    tmds_clock[dev] = tmds.value();
    KEL_TRACE("Port %d TMDS CLK  = %d\n", port, int(tmds_clock[dev]));

    const int htotal = int((R(0x9D) & 0x3F) * 256 + R(0x9C));
    const int hact = int((R(0x9F) & 0x3F) * 256 + R(0x9E));
    const int hfront = int((R(0xA1) & 0xF0) * 16 + R(0xA2));
    const int hsync = int((R(0xA1) & 0x01) * 256 + R(0xA0));
    const int hback = htotal - (hact + hfront) - hsync;
    const int vtotal = int((R(0xA4) & 0x0F) * 256 + R(0xA3));
    const int vact = int((R(0xA4) & 0xF0) * 16 + R(0xA5));
    const int vfront = int(R(0xA7) & 0x3F);
    const int vsync = int(R(0xA6) & 0x1F);
    const int vback = vtotal - (vfront + vsync) - vact;

    t.HTotal = uint16_t(htotal);
    t.HActive = uint16_t(hact);
    t.HFrontPorch = uint16_t(hfront);
    t.HSyncWidth = uint16_t(hsync);
    t.VTotal = uint16_t(vtotal);
    t.VActive = uint16_t(vact);
    t.VFrontPorch = uint16_t(vfront);
    t.VSyncWidth = uint16_t(vsync);
    t.flags = uint8_t(((R(0x99) & 0x02) ? 0x01 : 0) | ((R(0xA8) & 0x08) ? 0x02 : 0) | ((R(0xA8) & 0x04) ? 0x04 : 0));
    // Porches that would go negative belong to a measurement taken while the signal moved.
    const bool usable = t.PCLK != 0 && hact > 0 && vact > 0 && hback >= 0 && vback >= 0;
    t.HBackPorch = uint16_t(hback > 0 ? hback : 0);
    t.VBackPorch = uint16_t(vback > 0 ? vback : 0);
    vid_timing[dev] = t;
    pfreq[dev] = measure_pfreq(fd, dev);   // sets vid_timing's kHz reading, which gives the rate
    return usable && io_errors == errors ? 1 : 0;
}

void velin_it6602::show_vid_info(int fd, int dev)
{
    const IT6602_VIDEO_TIMING& t = vid_timing[dev];
    KEL_TRACE("IT6602 %d: %dx%d total %dx%d, %d MHz, H %d/%d/%d V %d/%d/%d %s\n", dev, t.HActive, t.VActive,
              t.HTotal, t.VTotal, int(t.PCLK), t.HFrontPorch, t.HSyncWidth, t.HBackPorch, t.VFrontPorch,
              t.VSyncWidth, t.VBackPorch, (t.flags & 1) ? "interlaced" : "progressive");
    // A depth not set (its read or its write unanswered) is set again with the whole
    // output on the next pass: a 30-bit source left at 24 bits would stay so.
    if (set_color_depth(fd, &dev_data[dev]))
        dev_data[dev].m_ucStatus |= kStatusAVIChanged;
}

float velin_it6602::measure_pfreq(int fd, int dev)
{
    // First from the oscillator count, then, when the chip has one, its own kHz reading.
    // A reading not answered leaves the one known.
    float f = 0;
    const RegRead read = hdmirxrd_it6602(fd, 0x9A);
    if (!read.ok())
        return pfreq[dev];
    const uint8_t count = read.value();
    if (count)
        f = float(osc_count[dev]) / 400.0f * 255.0f / float(count) / 10.0f;
    set_counted(fd, 0x77, 0x01, 0x01);
    bank_counted(fd, 2);
    const RegRead r0 = hdmirxrd_it6602(fd, 0xC0), r1 = hdmirxrd_it6602(fd, 0xC1), r2 = hdmirxrd_it6602(fd, 0xC2);
    bank_counted(fd, 0);
    if (!r0.ok() || !r1.ok() || !r2.ok())
        return pfreq[dev];
    const uint8_t c0 = r0.value(), c1 = r1.value(), c2 = r2.value();
    const uint32_t khz = uint32_t(c1) * 4096u + uint32_t(c2) * 16u + (c0 >> 4);
    if (khz)
        f = float(khz) / 1000.0f;
    vid_timing[dev].PCLKkHz = khz;
    return f;
}

void velin_it6602::it6602_Get_Hdmi(int fd, int dev)
{
    struct hdminfo* rec = record_of(dev);
    if (!rec)
        return;
    const float pfreq = measure_pfreq(fd, dev);
    std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
    if (rec->nosignal) {
        // Without a signal only pfreq, nosignal and valid keep their values.
        const float keep = rec->pfreq;
        const uint32_t valid = rec->valid;
        std::memset(rec, 0, sizeof *rec);
        rec->pfreq = keep;
        rec->nosignal = 1;
        rec->valid = valid;
        return;
    }
    fill_record(*rec, vid_timing[dev], pfreq);
}

// The pixel-clock count is a byte: above 50 MHz one step of it is a MHz or more (297 MHz
// reads as 316), too coarse for a rate in hertz. The chip's kHz reading, when it has one,
// gives the rate.
uint32_t velin_it6602::frame_rate_of(const IT6602_VIDEO_TIMING& t)
{
    const uint64_t frame = uint64_t(t.HTotal) * t.VTotal;
    if (!frame)
        return 0;
    uint64_t rate = 0;
    if (t.PCLKkHz)
        rate = uint64_t(t.PCLKkHz) * 1000u / frame;
    else if (t.PCLK)
        rate = uint64_t(t.PCLK) * 1000000u / frame;
    return rate > 54 ? 60 : uint32_t(rate);
}

void velin_it6602::it6602_update_vid_info(int dev)
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (!para || dev < 0 || dev > 2)
        return;
    const IT6602_VIDEO_TIMING& t = vid_timing[dev];
    std::lock_guard<std::mutex> hold(para->mutex);
    uint8_t* status = para->ram + KelRamPara::kInputStatus + 6 * dev;
    KelRamPara::put16(status, t.HActive);
    KelRamPara::put16(status + 2, t.VActive);
    status[4] = uint8_t(frame_rate_of(t));
    status[5] = 0;
}

// ---------------------------------------------------------------------------------------
// Oscillator calibration, PLL check, 3D

uint32_t velin_it6602::CP_OCLK(int fd)
{
    write_counted(fd, 0x0F, 0x00);
    write_counted(fd, 0x73, 0x05);
    bank_counted(fd, 1);
    write_counted(fd, 0x57, 0x12);
    write_counted(fd, 0x57, 0x02);
    write_counted(fd, 0x56, 0x01);
    write_counted(fd, 0x50, 0x00);
    write_counted(fd, 0x51, 0x00);
    write_counted(fd, 0x53, 0x04);
    // A probe or count not read is no calibration: the nominal count is taken (Cal_oclk).
    uint8_t probe[3];
    for (auto& p : probe)
        p = hdmirxrd_it6602(fd, 0x61).value_or(0x55);   // a pattern neither mode has
    uint8_t mode = 0;
    if (probe[0] == 2 && probe[1] == 2 && probe[2] == 2)
        mode = 1;
    else if (probe[0] == 0xFF && probe[1] == 0x00 && probe[2] == 0xFF)
        mode = 3;
    uint32_t count = 0;
    if (mode) {
        write_counted(fd, 0x50, mode);
        write_counted(fd, 0x51, 0x60);
        write_counted(fd, 0x53, 0x04);
        for (int i = 0; i < 3; ++i) {
            const RegRead b = hdmirxrd_it6602(fd, 0x61);
            if (!b.ok()) {
                mode = 0, count = 0;
                break;
            }
            count |= uint32_t(b.value()) << (8 * i);
        }
    }
    write_counted(fd, 0x0F, 0x00);
    write_counted(fd, 0x73, 0x00);
    return count;
}

int velin_it6602::OSCvalueCompare(uint32_t count)
{
    const uint32_t diff = count > kOscNominal ? count - kOscNominal : kOscNominal - count;
    return diff <= kOscTolerance ? 1 : 0;
}

void velin_it6602::Cal_oclk(int fd, int dev)
{
    const uint32_t value = CP_OCLK(fd) / 100u;
    osc_count[dev] = OSCvalueCompare(value) ? value : kOscNominal;
    KEL_TRACE("IT6602 %d oscillator count %u\n", dev, unsigned(osc_count[dev]));
}

void velin_it6602::IPLLOvw_chk(int fd, int port, int dev)
{
    port &= 1;
    // Checked again on the next pass while SCDT is awaited: a reading not answered decides nothing.
    const RegRead r9x = hdmirxrd_it6602(fd, port ? 0x92 : 0x91), r90 = hdmirxrd_it6602(fd, 0x90);
    const uint8_t lockBits = port ? 0x80 : 0xC0;
    const RegFlag locked = hdmirxrd_it6602(fd, 0x0C).any(lockBits);
    if (!r9x.ok() || !r90.ok() || !locked.ok())
        return;
    uint32_t count = r9x.value();
    const int range = (r90.value() >> (port ? 2 : 0)) & 0x03;
    count = range == 0 ? count : range == 1 ? count / 2 : count / 4;
    if (!locked.value()) {
        bank_counted(fd, 1);
        set_counted(fd, port ? 0xC1 : 0xB1, 0x60, 0x00);
        bank_counted(fd, 0);
        return;
    }
    KEL_TRACE("IPLL check %x \n", ipll_count[dev]);
    if (++ipll_count[dev] < 16)
        return;
    ipll_count[dev] = 0;
    const RegFlag pllLocked = hdmirxrd_it6602(fd, 0x4E).any(lockBits);
    const RegFlag scdt = hdmirxrd_it6602(fd, port ? 0x0B : 0x0A).any(0x80);
    if (count < 28 && pllLocked.ok() && !pllLocked.value() && scdt.ok() && !scdt.value()) {
        bank_counted(fd, 1);
        set_counted(fd, 0xB2, 0x05, 0x04);
        set_counted(fd, 0xB1, 0xE0, 0xE0);
        bank_counted(fd, 0);
        KEL_TRACE("OverWrite IPLL/OPLL \n");
    }
}

void velin_it6602::Dump3DReg(int fd)
{
    bank_counted(fd, 1);
    uint8_t r[0x10];
    for (int i = 0; i < 0x10; ++i)   // a trace only: one not read shows as 0
        r[i] = hdmirxrd_it6602(fd, uint8_t(0x90 + i)).value_or(0);
    const uint8_t r8f = hdmirxrd_it6602(fd, 0x8F).value_or(0);
    bank_counted(fd, 0);
    KEL_TRACE("3D DE generator: 8F=%02X", r8f);
    for (int i = 0; i < 0x10; ++i)
        KEL_TRACE(" %02X=%02X", 0x90 + i, r[i]);
    KEL_TRACE("\n");
}

// The DE generator off: a 2D picture must not be cut into frame-packed halves.
void velin_it6602::IT6602_DE3DOff(int fd)
{
    const uint32_t errors = io_errors;
    set_counted(fd, 0x66, 0x10, 0x00);
    set_counted(fd, 0x85, 0x20, 0x00);
    if (io_errors != errors)
        de3d_retry[cur_dev] = 1;
}

int velin_it6602::IT6602_DE3DFrame(int fd, int newframe, int dev)
{
    (void)dev;
    if (!newframe)
        return 0;
    // Any new vendor infoframe decides afresh; only frame packing turns the generator on.
    IT6602_DE3DOff(fd);
    bank_counted(fd, 2);
    // A frame not read whole decides nothing: the generator stays off and the caller sees
    // the failure and decides again on the next pass.
    RegRead bytes[12];
    for (int i = 0; i < 11; ++i)
        bytes[i] = hdmirxrd_it6602(fd, uint8_t(0x24 + i));
    bytes[11] = hdmirxrd_it6602(fd, 0x18);
    bank_counted(fd, 0);
    uint8_t frame[11];
    for (int i = 0; i < 12; ++i) {
        if (!bytes[i].ok())
            return 0;
        if (i < 11)
            frame[i] = bytes[i].value();
    }
    const uint8_t vic = bytes[11].value() & 0x7F;
    // Packet type, then the IEEE identifier 00-0C-03 in PB1..PB3 (0x28..0x2A).
    if (frame[0] != 0x81 || frame[4] != 0x03 || frame[5] != 0x0C || frame[6] != 0x00)
        return 0;
    const uint8_t pb4 = frame[7], pb5 = frame[8];
    if (((pb4 >> 5) & 0x07) != 2)
        return 0;
    const uint8_t structure = uint8_t(pb5 >> 4);
    if (structure == 0) {
        const Syncgen3D* row = t_3d_syncgen;
        while (row->vic != 255 && row->vic != vic)
            ++row;
        const uint32_t lrStart = row->v_act_start - row->active / 2;
        const uint32_t lrEnd = row->v_act_start + row->active / 2;
        bank_counted(fd, 1);
        write_counted(fd, 0x9D, uint8_t(row->v_total >> 4));
        set_counted(fd, 0x9C, 0xF0, uint8_t(row->v_total << 4));
        write_counted(fd, 0x92, uint8_t(row->v_act_start));
        set_counted(fd, 0x93, 0x0F, uint8_t(row->v_act_start >> 8));
        set_counted(fd, 0x93, 0xF0, uint8_t(row->v_act_end << 4));
        write_counted(fd, 0x94, uint8_t(row->v_act_end >> 4));
        set_counted(fd, 0x9F, 0xF0, uint8_t(row->v_sync_end << 4));
        write_counted(fd, 0x8F, uint8_t(lrStart));
        set_counted(fd, 0x90, 0x0F, uint8_t(lrStart >> 8));
        set_counted(fd, 0x90, 0xF0, uint8_t(lrEnd << 4));
        write_counted(fd, 0x91, uint8_t(lrEnd >> 4));
        bank_counted(fd, 0);
        set_counted(fd, 0x66, 0x10, 0x10);
        set_counted(fd, 0x85, 0x20, 0x20);
        KEL_TRACE("IT6602 3D frame packing, VIC %d\n", vic);
        Dump3DReg(fd);
    } else if (structure == 6) {
        KEL_TRACE("IT6602 3D top-and-bottom\n");
    } else if (structure == 8) {
        KEL_TRACE("IT6602 3D side-by-side\n");
    }
    return 1;
}
