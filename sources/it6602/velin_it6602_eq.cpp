// IT6602 receivers: the equaliser (EQ) of a port, found from the cable amplitudes the chip
// measures or by trying three fixed values and keeping the one with the fewest errors, and
// the recovery from link errors (ECC and deskew bursts, clock changes, failed EQ).
#include "sources/it6602/velin_it6602.h"

#include "core/global.h"

namespace {
// Per-port registers (bank 0 unless noted).
struct PortRegs {
    uint8_t status, rsControl, manualEq, eq0, deskew, rxReset, errors, ampValid, amp0;
};
constexpr PortRegs kPort[2] = {
    {0x0A, 0x22, 0x26, 0x27, 0x20, 0x11, 0xB2, 0xD0, 0xD5},
    {0x0B, 0x3A, 0x3E, 0x3F, 0x38, 0x18, 0xB7, 0xD8, 0xDD},
};
constexpr uint8_t kEventReset = 0x01, kEventCheck = 0x02, kEventEqStart = 0x04;

uint8_t ev(int port, uint8_t bit)
{
    return uint8_t(port ? bit << 4 : bit);
}

// Search states.
constexpr int kStateIdle = 255;
constexpr int kStateDone = 155;   // switched to on success; the next step finishes
} // namespace

const uint8_t velin_it6602::IT6602EQTable[3] = {0xFF, 0x9F, 0x83};

// ---------------------------------------------------------------------------------------
// Amplitudes

void velin_it6602::AmpValidCheck(int fd, int port, int dev)
{
    port &= 1;
    IT6602_link& l = link[dev][port];
    bank_counted(fd, 1);
    // An amplitude counts as valid only once it was read; one not read is read next time.
    const uint8_t valid = hdmirxrd_it6602(fd, kPort[port].ampValid).value_or(0);
    for (int ch = 0; ch < 3; ++ch) {
        const uint8_t bits = uint8_t(3u << (2 * ch));
        if ((valid & bits) == bits) {
            const RegRead amp = hdmirxrd_it6602(fd, uint8_t(kPort[port].amp0 + ch));
            if (!amp.ok())
                continue;
            l.amp[ch] = amp.value();
            l.ampValid |= bits;
        }
    }
    bank_counted(fd, 0);
    if (l.ampValid == 0x3F)
        OverWriteAmpValue2EQ(fd, port, dev);
}

void velin_it6602::OverWriteAmpValue2EQ(int fd, int port, int dev)
{
    IT6602_link& l = link[dev][port];
    IT6602_dev_data* d = &dev_data[dev];
    l.manualEQ = 1;
    l.eqWritten = 0;
    set_counted(fd, kPort[port].manualEq, 0x20, 0x20);
    for (int ch = 0; ch < 3; ++ch) {
        uint8_t value = uint8_t(l.amp[ch] & 0x7F);
        if (value < 3)
            value = 3;
        write_counted(fd, uint8_t(kPort[port].eq0 + ch), value);
    }
    d->m_ucEvent &= uint8_t(~ev(port, kEventReset | kEventCheck | kEventEqStart));
    write_counted(fd, kPort[port].rsControl, 0x00);
    write_counted(fd, 0xD0, port ? 0xC0 : 0x30);
    HDMIStartEQDetect(fd, port, dev);
}

// ---------------------------------------------------------------------------------------
// The search

void velin_it6602::HDMIStartEQDetect(int fd, int port, int dev)
{
    IT6602_eq_data& eq = dev_data[dev].EQPort[port & 1];
    if (eq.ucEQState != kStateIdle)
        return;
    KEL_TRACE("IT6602 %d port %d EQ search started\n", dev, port & 1);
    eq.ucEQState = port_selected(fd, port, dev) ? 0 : 21;
    eq.f_manualEQadjust = 1;
    HDMIAdjustEQ(fd, port, dev);
    for (auto& count : eq.ErrorCount)
        count = 10;
}

void velin_it6602::HDMISwitchEQstate(int fd, int port, int state, int dev)
{
    IT6602_eq_data& eq = dev_data[dev].EQPort[port & 1];
    eq.ucEQState = uint8_t(state);
    eq.ucECCvalue = 0;
    eq.ucECCfailCount = 0;
    eq.ucSaturated = 0;
    eq.ucNoSignal = 0;
    switch (state) {
    case 30: HDMISetEQValue(fd, port, 0, dev); break;
    case 60: HDMISetEQValue(fd, port, 1, dev); break;
    case 70: HDMISetEQValue(fd, port, 2, dev); break;
    case 80: break;
    default: IT6602_ManualVideoTristate(fd, port, dev); break;
    }
}

// A search that content-offed the port and ends (or is stopped) gives the picture back;
// without video on the flag is only cleared, and video on unmutes. A release cut short
// leaves a bit of 0x53's 0x8F set: the video handler makes it again once the flag is clear.
void velin_it6602::end_content_off(int fd, int port, int dev)
{
    IT6602_ManualVideoTristate(fd, port, dev);
    if (port_selected(fd, port, dev))
        dev_data[dev].m_HDCP_ContentOff = 0;
}

void velin_it6602::HDMISetEQValue(int fd, int port, int index, int dev)
{
    (void)dev;
    if (index < 0 || index > 2)
        return;
    set_counted(fd, kPort[port].manualEq, 0x20, 0x20);
    for (int ch = 0; ch < 3; ++ch)
        write_counted(fd, uint8_t(kPort[port].eq0 + ch), IT6602EQTable[index]);
}

void velin_it6602::HDMIAdjustEQ(int fd, int port, int dev)
{
    port &= 1;
    IT6602_eq_data& eq = dev_data[dev].EQPort[port];
    const int state = eq.ucEQState;
    if (state == kStateIdle)
        return;
    if (state == 81 || state == 156) {
        KEL_TRACE("IT6602 %d port %d EQ search ended\n", dev, port);
        eq.ucEQState = kStateIdle;
        eq.f_manualEQadjust = 0;
        end_content_off(fd, port, dev);
        if (port_selected(fd, port, dev))
            IT6602VideoCountClr(&dev_data[dev]);
        return;
    }
    if (state < 20)
        HDMICheckSCDTon(fd, port, dev);
    else if (state == 30 || state == 60 || state == 70 || state == 80)
        HDMIJudgeECCvalue(fd, port, dev);
    else if (state < 80)
        HDMIPollingErrorCount(fd, port, dev);
    ++eq.ucEQState;
}

void velin_it6602::HDMICheckSCDTon(int fd, int port, int dev)
{
    if (!port_selected(fd, port, dev))
        return;
    IT6602_eq_data& eq = dev_data[dev].EQPort[port];
    // A sample not read counts neither an error nor a missing signal.
    const RegRead count = hdmirxrd_it6602(fd, kPort[port].errors);
    if (count.ok())
        write_counted(fd, kPort[port].errors, count.value());
    const uint8_t errors = count.value_or(0);
    const uint8_t status = hdmirxrd_it6602(fd, kPort[port].status).value_or(0x80);
    if ((status & 0x09) == 0x09 && !(status & 0x80))
        ++eq.ucNoSignal;
    const bool bad = (errors & 0xC0) == 0xC0;
    if (bad) {
        ++eq.ucECCvalue;
        IT6602_HDCP_ContentOff(fd, port, dev);
        if (eq.ucECCvalue == 3 && hdmirxrd_it6602(fd, kPort[port].deskew).value_or(0x3F) == 0)
            write_counted(fd, kPort[port].deskew, 0x3F);
    }
    if (eq.ucEQState != 19)
        return;
    const IT6602_link& l = link[dev][port];
    if (bad) {
        hdmirx_ECCTimingOut(fd, port, dev);
        HDMISwitchEQstate(fd, port, kStateDone, dev);
    } else if (eq.ucNoSignal == 0 && (l.manualEQ || (l.amp[0] > 14 && l.amp[1] > 14 && l.amp[2] > 14))) {
        HDMISwitchEQstate(fd, port, kStateDone, dev);
    } else {
        HDMISwitchEQstate(fd, port, 19, dev);   // counting starts afresh at 20
    }
}

void velin_it6602::HDMIPollingErrorCount(int fd, int port, int dev)
{
    IT6602_eq_data& eq = dev_data[dev].EQPort[port];
    // A sample not read whole is not counted (nor acknowledged): the next one is.
    uint8_t err[5];
    for (int i = 0; i < 5; ++i) {
        const RegRead v = hdmirxrd_it6602(fd, uint8_t(kPort[port].errors + i));
        if (!v.ok())
            return;
        err[i] = v.value();
    }
    for (int i = 0; i < 5; ++i)
        write_counted(fd, uint8_t(kPort[port].errors + i), i == 1 ? uint8_t(err[i] & 0xE0) : err[i]);

    const bool selected = port_selected(fd, port, dev);
    const bool noSignal = selected && !hdmirxrd_it6602(fd, kPort[port].status).any(0x80).value_or(true);
    if (noSignal)
        eq.ucECCfailCount |= 0x80;

    const bool saturated = err[2] == 0xFF || err[3] == 0xFF;
    if (saturated) {
        if (++eq.ucSaturated > 3 && eq.ucEQState >= 31) {
            if (hdmirxrd_it6602(fd, uint8_t(kPort[port].errors + 2)).value_or(0) == 0xFF) {
                const RegRead deskew = hdmirxrd_it6602(fd, kPort[port].deskew);
                if (deskew.ok())   // toggled only from what it was
                    write_counted(fd, kPort[port].deskew, deskew.value() ? 0x00 : 0x3F);
            }
            set_counted(fd, kPort[port].rxReset, 0x0C, 0x0C);
            set_counted(fd, kPort[port].rxReset, 0x0C, 0x00);
            eq.ucSaturated = 0;
            eq.ucECCfailCount = uint8_t(0x40 | (eq.ucECCfailCount & 0x30));
        }
    } else {
        eq.ucSaturated = 0;
    }

    if (err[0] != 0 || noSignal) {
        ++eq.ucECCvalue;
        eq.ucECCfailCount = uint8_t((eq.ucECCfailCount & 0xF0) | ((eq.ucECCfailCount + 1) & 0x0F));
    } else {
        eq.ucECCfailCount = 0;
        return;
    }
    // Four errors in a row end the phase early; before a saturation restart a saturated
    // sample does not.
    if (!(eq.ucECCfailCount & 0x0C) || (saturated && !(eq.ucECCfailCount & 0x40)))
        return;
    eq.ucECCvalue = (noSignal || (eq.ucECCfailCount & 0x80)) ? 138 : 10;
    const int state = eq.ucEQState;
    const int next = state < 30 ? 30 : state < 60 ? 60 : state < 70 ? 70 : 80;
    // The step's increment lands on the phase start, where the count is judged.
    eq.ucEQState = uint8_t(next - 1);
}

void velin_it6602::HDMIJudgeECCvalue(int fd, int port, int dev)
{
    IT6602_eq_data& eq = dev_data[dev].EQPort[port];
    const int state = eq.ucEQState;
    const int slot = state < 61 ? 0 : state < 71 ? 1 : 2;
    eq.ErrorCount[slot] = eq.ucECCvalue;
    if (state == 80) {
        StoreEccCount(fd, port, dev);
        HDMISwitchEQstate(fd, port, kStateDone, dev);
        return;
    }
    if (eq.ucECCvalue < 6) {
        HDMISwitchEQstate(fd, port, kStateDone, dev);
        return;
    }
    HDMISwitchEQstate(fd, port, state, dev);   // the phase's value is written, counting goes on
}

int velin_it6602::JudgeBestEQ(const uint8_t errors[3])
{
    const uint8_t other = errors[0] < errors[1] ? errors[0] : errors[1];
    if (errors[2] <= other)
        return 2;
    return errors[0] < errors[1] ? 0 : 1;
}

void velin_it6602::StoreEccCount(int fd, int port, int dev)
{
    const RegFlag manual = hdmirxrd_it6602(fd, kPort[port].eq0).any(0x80);
    if (!manual.ok())
        return;   // the search ends without a value written: the chip's own EQ stays
    if (!manual.value()) {
        AmpValidCheck(fd, port, dev);
        return;
    }
    const int best = JudgeBestEQ(dev_data[dev].EQPort[port].ErrorCount);
    KEL_TRACE("IT6602 dev %d port %d EQ %02X (errors %d %d %d)\n", dev, port, IT6602EQTable[best],
              dev_data[dev].EQPort[port].ErrorCount[0], dev_data[dev].EQPort[port].ErrorCount[1],
              dev_data[dev].EQPort[port].ErrorCount[2]);
    HDMISetEQValue(fd, port, best, dev);
    link[dev][port].eqWritten = 1;
}

// ---------------------------------------------------------------------------------------
// EQ failure, polarity and clock checks

void velin_it6602::hdmirx_INT_EQ_FAIL(int fd, IT6602_dev_data* d, int port, int dev)
{
    port &= 1;
    if (d->EQPort[port].f_manualEQadjust || !CheckPlg5VPwr(fd, port).value_or(false))
        return;   // +5 V not read: the chip raises the failure again while it lasts
    IT6602_link& l = link[dev][port];
    if (d->m_ucEvent & ev(port, kEventCheck)) {
        if (!(d->m_ucEvent & ev(port, kEventReset))) {
            write_counted(fd, kPort[port].rsControl, 0x00);
            d->m_ucEvent |= ev(port, kEventReset | kEventEqStart);
            d->m_ucEventCount[port] = 3;
        } else {
            ++d->m_ucEventCount[port];
        }
        return;
    }
    if (l.ampValid != 0x3F) {
        AmpValidCheck(fd, port, dev);
        if (l.ampValid != 0x3F && d->m_ToggleCount[port] < 16) {
            TogglePolarity(fd, port, dev);
            ++d->m_ToggleCount[port];
        }
    }
    if (d->m_ToggleCount[port] >= 16) {
        write_counted(fd, kPort[port].rsControl, 0x00);
        HDMIStartEQDetect(fd, port, dev);
    }
}

void velin_it6602::TogglePolarity(int fd, int port, int dev)
{
    (void)dev;
    const bool at94 = address() == 0x94;
    if (at94 && !IT6602_IsSelectedPort(fd, port).value_or(false))
        return;   // not read: toggled on the next failure
    bank_counted(fd, 1);
    const uint8_t ctrl = port ? 0xC5 : 0xB5;
    const uint8_t pol = (port == 0 || at94) ? 0xB9 : 0xC9;
    set_counted(fd, ctrl, 0x10, 0x00);
    const RegRead polarity = hdmirxrd_it6602(fd, pol);
    if (polarity.ok())   // toggled only from what it was
        set_counted(fd, pol, 0x80, uint8_t(~polarity.value() & 0x80));
    set_counted(fd, ctrl, 0x10, 0x10);
    bank_counted(fd, 0);
    write_counted(fd, kPort[port].rsControl, 0x38);
    set_counted(fd, kPort[port].rsControl, 0x04, 0x04);
    set_counted(fd, kPort[port].rsControl, 0x04, 0x00);
}

RegResult<uint32_t> velin_it6602::tmds_clock_of(int fd, int port)
{
    const RegRead count = hdmirxrd_it6602(fd, port ? 0x92 : 0x91);
    if (!count.ok())
        return RegResult<uint32_t>();
    if (count.value() == 0)
        return RegResult<uint32_t>::answered(0);
    const RegRead r90 = hdmirxrd_it6602(fd, 0x90);
    if (!r90.ok())
        return RegResult<uint32_t>();
    const int range = (r90.value() >> (port ? 2 : 0)) & 0x03;
    const uint32_t base = range == 0 ? 6144 : range == 1 ? 12288 : 3072;
    return RegResult<uint32_t>::answered(base / count.value());
}

bool velin_it6602::port_selected(int fd, int port, int dev)
{
    // Not read: the port known to be selected.
    return IT6602_IsSelectedPort(fd, port).value_or(dev_data[dev].m_ucPort == (port & 1));
}

void velin_it6602::TMDSCheck(int fd, int port, int dev)
{
    port &= 1;
    const uint32_t clock = tmds_clock_of(fd, port).value_or(tmds_clock[dev]);   // not read: the one known
    tmds_clock[dev] = clock;
    if (address() == 0x94) {
        write_counted(fd, kPort[port].deskew, (clock >= 35 && clock <= 160) ? 0x3F : 0x00);
        if (port == 0) {
            bank_counted(fd, 1);
            set_counted(fd, 0xB1, 0x20, 0x00);
            set_counted(fd, 0xB2, 0x07, 0x04);
            bank_counted(fd, 0);
        }
    }
    // A receiver reset, then one EQ search on the new clock: the chain ends there.
    IT6602_dev_data* d = &dev_data[dev];
    d->m_ucEvent |= ev(port, kEventReset | kEventEqStart);
    d->m_ucEventCount[port] = 3;
}

void velin_it6602::hdmirx_INT_RxReset(int fd, IT6602_dev_data* d, int port, uint8_t intr, int dev)
{
    port &= 1;
    const bool manual = link[dev][port].manualEQ != 0;
    const uint8_t reset = ev(port, kEventReset), check = ev(port, kEventCheck);
    if (intr & 0x08) {
        d->m_ucEccCount[port] = 0;
        if (manual) {
            if (d->m_ucEvent & check) {
                d->m_ucEvent |= reset;
                ++d->m_ucEventCount[port];
            }
        } else if (!(d->m_ucEvent & reset)) {
            write_counted(fd, kPort[port].rsControl, 0x00);
            d->m_ucEvent |= uint8_t(reset | check);
            d->m_ucEventCount[port] = 3;
        } else if (d->m_ucEvent & check) {
            ++d->m_ucEventCount[port];
        } else if (intr & 0x10) {
            d->m_ucEvent = uint8_t((d->m_ucEvent & ~reset) | check);
            d->m_ucEventCount[port] = 0;
            return;
        }
    }
    if ((intr & 0x10) && !manual) {
        d->m_ucEventCount[port] = 0;
        d->m_ucEvent = uint8_t((d->m_ucEvent & ~reset) | check);
    }
}

void velin_it6602::IT6602HDMIEventManager(int fd, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    for (int port = 0; port < 2; ++port) {
        const uint8_t reset = ev(port, kEventReset), check = ev(port, kEventCheck), start = ev(port, kEventEqStart);
        if (d->m_ucEvent & reset) {
            if (d->m_ucEventCount[port] > 0)
                --d->m_ucEventCount[port];
            if (d->m_ucEventCount[port] == 0)
                d->m_ucEvent &= uint8_t(~reset);
        } else if (d->m_ucEvent & check) {
            if (CLKCheck(fd, port).value_or(false)) {   // not read: looked at next pass
                d->m_ucEvent &= uint8_t(~check);
                TMDSCheck(fd, port, dev);
            }
        } else if (d->m_ucEvent & start) {
            if (CLKCheck(fd, port).value_or(false)) {
                HDMIStartEQDetect(fd, port, dev);
                d->m_ucEvent &= uint8_t(~start);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------
// Error bursts

void velin_it6602::ecc_burst(int fd, IT6602_dev_data* d, int port, int dev)
{
    port &= 1;
    if (d->m_ucEccCount[port] >= 22 && !d->EQPort[port].f_manualEQadjust) {
        d->m_ucEccCount[port] = 0;
        hdmirx_ECCTimingOut(fd, port, dev);
        return;
    }
    if (d->m_ucEccCount[port] < 22)
        ++d->m_ucEccCount[port];
}

void velin_it6602::deskew_burst(int fd, IT6602_dev_data* d, int port, int dev)
{
    (void)dev;
    port &= 1;
    if (d->m_ucDeskewCount[port] >= 22 && !d->EQPort[port].f_manualEQadjust) {
        d->m_ucDeskewCount[port] = 0;
        const RegRead deskew = hdmirxrd_it6602(fd, kPort[port].deskew);
        if (deskew.ok())   // toggled only from what it was
            write_counted(fd, kPort[port].deskew, deskew.value() ? 0x00 : 0x3F);
        return;
    }
    if (d->m_ucDeskewCount[port] < 22)
        ++d->m_ucDeskewCount[port];
}

void velin_it6602::hdmirx_ECCTimingOut(int fd, int port, int dev)
{
    (void)dev;
    port &= 1;
    KEL_TRACE("IT6602 ECC time-out, port %d\n", port);
    IT6602HPDCtrl(fd, port, 0);
    set_counted(fd, kPort[port].rxReset, 0x0F, 0x0F);
    delay1ms(300);
    set_counted(fd, kPort[port].rxReset, 0x0F, 0x00);
    IT6602HPDCtrl(fd, port, 1);
}

void velin_it6602::DisableOverWriteRS(int fd, int port, int dev)
{
    port &= 1;
    IT6602_dev_data* d = &dev_data[dev];
    link[dev][port] = IT6602_link();
    write_counted(fd, kPort[port].rsControl, 0x00);
    set_counted(fd, kPort[port].manualEq, 0x20, 0x00);
    d->EQPort[port].ucEQState = kStateIdle;
    d->EQPort[port].f_manualEQadjust = 0;
    end_content_off(fd, port, dev);
    d->m_ucEccCount[port] = 0;
    d->m_ucDeskewCount[port] = 0;
    d->m_ucEventCount[port] = 0;
    d->m_ucEvent &= uint8_t(~ev(port, kEventReset | kEventCheck | kEventEqStart));
}
