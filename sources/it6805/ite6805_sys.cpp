#include "sources/it6805/ite6805_sys.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/drv_i2c.h"
#include "sources/velinsource.h"
#include "sources/it6805/ite6805_cec_drv.h"
#include "sources/it6805/ite6805_cec_feture.h"
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_eq.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"

#include <cstdio>
#include <mutex>

namespace {
constexpr int kRegChips = 37;
} // namespace

ite6805_sys::ite6805_sys()
{
    p_i2c = new ite6805_i2c_rdwr(this);
    p_ite6805_drv = new ite6805_drv(this);
    p_cec_sys = new ite6805_cec_sys(this);
    p_eq = new ite6805_eq(this);
    p_cec_drv = new ite6805_cec_drv(this);
    p_cec_feture = new ite6805_cec_feture(this);
    reset_device_fields(0);
    reset_device_fields(1);
    p_i2c->bank_known = true;   // the chip starts in bank 0
}

ite6805_sys::~ite6805_sys()
{
    delete p_ite6805_drv;
    delete p_cec_sys;
    delete p_eq;
    delete p_cec_drv;
    delete p_cec_feture;
    delete p_i2c;
}

void ite6805_sys::reset_device_fields(int dev)
{
    FsmState[dev] = 0;
    identify_fail[dev] = 0;
    identify_retry_stamp[dev] = 0;
    identify_retry_ticks[dev] = 0;
    pwr_retry[dev] = false;
    audio_gate_owed[dev] = -1;
    mode_chg_owed[dev] = false;
    scdt_chg_owed[dev] = false;
    for (uint8_t& a : ack_owed[dev])
        a = 0;
    CECState[dev] = STATECEC_None;
    cnt[dev] = iTE6805_COUNTERS();
    cnt[dev].AudioFirstRead = 1;
}

void ite6805_sys::ite6805_sys_reset_init()
{
    reset_device_fields(0);
    reset_device_fields(1);
    timing[0] = iTE6805_TIMING();
    timing[1] = iTE6805_TIMING();
}

void ite6805_sys::delay1ms(unsigned ms)
{
    board::Clock::sleepMs(ms);
}

// Steps read through here compare the access object's errors before they count as done;
// the value of an unanswered read is 0 and is not kept beyond such a step.
uint8_t ite6805_sys::rd(uint8_t reg, int dev) { return p_i2c->hdmirxrd(reg, dev).value_or(0); }
RegRead ite6805_sys::rd_result(uint8_t reg, int dev) { return p_i2c->hdmirxrd(reg, dev); }
// Counted writes: a failure lands in the access object's errors, which the step that
// makes them compares before it counts as done (else it is made again).
void ite6805_sys::wr(uint8_t reg, uint8_t value, int dev) { (void)p_i2c->hdmirxwr(reg, value, dev); }
void ite6805_sys::set(uint8_t reg, uint8_t mask, uint8_t value, int dev) { (void)p_i2c->hdmirxset(reg, mask, value, dev); }
int ite6805_sys::bank(int b, int dev) { return p_ite6805_drv->chgbank(b, dev); }

uint32_t ite6805_sys::iTE6805_Real_HActive(int dev) const
{
    if (dev < 0 || dev > 1)
        return 0;
    return iTE6805_DATA[dev].YUV420 ? uint32_t(timing[dev].HActive) * 2 : timing[dev].HActive;
}

bool ite6805_sys::had_signal(int dev) const
{
    velinsource* src = velinsource::p_velin_source;
    if (dev != 0 || !src)
        return false;
    std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
    return src->hdminfo[3].nosignal == 0 && src->hdminfo[3].Hact != 0;
}

int ite6805_sys::iTE6805_Identify_Chip(int dev)
{
    // A byte not read is no identification: the chip is looked for again.
    uint8_t id[4];
    bool answered = true;
    for (int i = 0; i < 4; ++i) {
        const RegRead r = rd_result(uint8_t(i), dev);
        answered = answered && r.ok();
        id[i] = r.value_or(0);
    }
    // Register 2 reads 0x05 or 0x07 depending on the chip revision.
    const bool found = answered && id[0] == 0x54 && id[1] == 0x49 && (id[2] & 0xFD) == 0x05 && id[3] == 0x68;
    const uint8_t bit = dev == 0 ? 0x20 : 0x40;
    if (KelRamPara* para = KelRamPara::p_kelrampara_config) {
        if (found)
            __atomic_fetch_or(&para->reg_image[kRegChips], bit, __ATOMIC_SEQ_CST);
        else
            __atomic_fetch_and(&para->reg_image[kRegChips], uint8_t(~bit), __ATOMIC_SEQ_CST);
    }
    if (!found)
        ++identify_fail[dev];
    return found ? 1 : 0;
}

void ite6805_sys::iTE6805_FSM(int dev)
{
    if (dev < 0 || dev > 1)
        return;
    p_i2c->forget_bank();
    switch (FsmState[dev]) {
    case 0: {
        // An absent chip costs failed transfers on the bus every other input uses: after a
        // miss it is tried again only after a pause that doubles up to a second.
        if (Utils::getTimeSpace(identify_retry_stamp[dev]) < identify_retry_ticks[dev])
            break;
        const uint32_t before = p_i2c->errors;
        if (iTE6805_Identify_Chip(dev)) {
            identify_retry_ticks[dev] = 0;
            p_ite6805_drv->iTE6805_Init_fsm(dev);
            // A chip that did not take its whole start-up is started again.
            if (p_i2c->errors == before) {
                FsmState[dev] = 2;
                settle_until_us[dev] = board::Clock::monotonicUs() + kSettleMs * 1000;
            }
        } else {
            // A receiver that stopped answering (held in reset, or gone) carries no picture:
            // an input that had one is published as no signal. One that never had a signal
            // publishes nothing.
            if (had_signal(dev))
                p_ite6805_drv->iTE6805_Publish_NoSignal(dev, 1);
            identify_retry_stamp[dev] = G_timeTicks;
            const uint32_t next = identify_retry_ticks[dev] ? 2 * identify_retry_ticks[dev] : kIdentifyRetryTicks;
            identify_retry_ticks[dev] = next < kIdentifyRetryMaxTicks ? next : kIdentifyRetryMaxTicks;
        }
        break;
    }
    case 2:
        // The chip settles for a second; the thread polls the other inputs meanwhile.
        if (board::Clock::monotonicUs() >= settle_until_us[dev])
            FsmState[dev] = 1;
        break;
    default:
        iTE6805_MainBody(dev);
        break;
    }
}

void ite6805_sys::iTE6805_MainBody(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    // A select not taken on an earlier pass: bank 0 again before anything else is addressed.
    if (!p_i2c->bank_known && bank(0, dev))
        return;
    // Both device indices share the chip and only this one runs: a level either one did
    // not get taken (device 1's come from the PC's hot-plug requests) is set again here.
    for (int k = 0; k < 2; ++k)
        if (p_ite6805_drv->hpd_retry_[k] >= 0)
            p_ite6805_drv->iTE6805_Set_HPD_Ctrl(0, p_ite6805_drv->hpd_retry_[k], k);
    if (pwr_retry[dev])
        iTE6805_INT_5VPWR_Chg(d.CurrentPort, dev);
    if (p_ite6805_drv->video_gate_owed_[dev] >= 0)
        p_ite6805_drv->iTE6805_Set_Video_Tristate(p_ite6805_drv->video_gate_owed_[dev], dev);
    if (audio_gate_owed[dev] >= 0)
        iTE6805_Set_Audio_Tristate(audio_gate_owed[dev], dev);
    if (scdt_chg_owed[dev])
        iTE6805_INT_SCDT_Chg(dev);
    iTE6805_Port_Reset_Body(d.ResetPort, dev);
    iTE6805_Port_Select_Body(d.RequestedPort, dev);
    if (d.VidState > STATEV_Unplug) {
        if (d.CurrentPort == 0) {
            iTE6805_hdmirx_port0_SYS_irq(dev);
            p_eq->iTE6805_hdmirx_port0_EQ_irq(dev);
        } else {
            iTE6805_hdmirx_port1_SYS_irq(dev);
            p_eq->iTE6805_hdmirx_port1_EQ_irq(dev);
        }
        iTE6805_hdmirx_common_irq(dev);
    }
    p_cec_sys->iTE6805_hdmirx_CEC_irq(dev);
    p_eq->iTE6805_EQ_fsm(dev);
    iTE6805_vid_fsm(dev);
    iTE6805_aud_fsm(dev);

    // V-by-One output gate: on while the video is stable, off otherwise. Chips 0x10 and
    // 0xE0 and later gate it themselves.
    const bool selfGated = d.ChipID == 0x10 || d.ChipID >= 0xE0;
    if (d.Flag_VidStable_Done == 1) {
        d.AVMuteStatus = uint8_t(p_ite6805_drv->iTE6805_Check_AVMute(dev).value_or(d.AVMuteStatus != 0) ? 0x08 : 0);
        if (!selfGated) {
            bank(5, dev);
            if (rd_result(0xC9, dev).any(0x01).value_or(false)) {   // not read: looked at next pass
                wr(0xC9, 0x78, dev);
                std::printf("Video Stable Done but VB1 output off, need to turn on! \r");
            }
        }
    } else if (!selfGated && d.VidState != STATEV_VidStable) {
        bank(5, dev);
        if (!rd_result(0xC9, dev).any(0x01).value_or(true)) {   // not read: looked at next pass
            wr(0xC9, 0x79, dev);
            std::printf("Video is not stable, need to turn of VB1 otuput! \r");
        }
    }
    bank(0, dev);
}

void ite6805_sys::iTE6805_INT_5VPWR_Chg(int port, int dev)
{
    ite6805_drv* drv = p_ite6805_drv;
    const uint32_t before = p_i2c->errors;
    const RegFlag powered = drv->iTE6805_Check_5V_State(port, dev);
    pwr_retry[dev] = p_i2c->errors != before || !powered.ok();
    if (pwr_retry[dev])
        return;
    const bool power = powered.value();
    if (!power) {
        std::printf("# Power 5V OFF #\n");
        drv->iTE6805_Set_HPD_Ctrl(port, 0, dev);
        delay1ms(100);
        drv->iTE6805_Set_HPD_Ctrl(0, 0, dev);
        delay1ms(100);
        iTE6805_vid_chg(STATEV_Unplug, dev);
        iTE6805_DATA[dev].EQState = STATEEQ_Off;
        p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
    } else {
        std::printf("# Power 5V ON #\n");
        iTE6805_vid_chg(STATEV_WaitSync, dev);
        drv->iTE6805_Set_HPD_Ctrl(port, 1, dev);
        delay1ms(100);
        drv->iTE6805_Set_HPD_Ctrl(0, 0, dev);
        delay1ms(100);
        drv->iTE6805_Set_HPD_Ctrl(0, 1, dev);
        delay1ms(100);
    }
}
