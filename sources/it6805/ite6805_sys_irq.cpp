// Interrupt service of the IT6805, its link-error recovery and the port requests.
// Interrupt status registers are in bank 0 and are acknowledged by writing back the bits
// read (write 1 to clear).
#include "sources/it6805/ite6805_sys.h"

#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_eq.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

void ite6805_sys::iTE6805_hdmirx_port0_SYS_irq(int dev) { port_sys_irq(0, dev); }
void ite6805_sys::iTE6805_hdmirx_port1_SYS_irq(int dev) { port_sys_irq(1, dev); }

void ite6805_sys::port_sys_irq(int port, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    const uint8_t base = port == 0 ? 0x05 : 0x0A;
    const uint8_t status = port == 0 ? 0x13 : 0x16;
    bank(0, dev);
    // An interrupt register not read is not acknowledged (the chip keeps its bits for the
    // next pass); the status not read leaves what it would decide owed (mode_chg_owed).
    // An acknowledgement not taken is made first on the next pass, so what was served is
    // not served twice (a +5 V change would pulse hot-plug again).
    uint8_t regs[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const uint8_t reg = uint8_t(base + (i < 2 ? i : i + 1));
        uint8_t& owed = ack_owed[dev][i];
        if (owed && p_i2c->hdmirxwr(reg, owed, dev) == 0)
            owed = 0;
        const RegRead r = owed ? RegRead() : rd_result(reg, dev);
        if (!r.ok())
            continue;
        regs[i] = r.value();
        const uint8_t ack = i == 3 && port == 0 ? uint8_t(regs[i] & ~0x04) : regs[i];
        if (ack && p_i2c->hdmirxwr(reg, ack, dev))
            owed = ack;
    }
    const uint8_t r05 = uint8_t(regs[0] | (mode_chg_owed[dev] ? 0x10 : 0)), r06 = regs[1], r08 = regs[2], r09 = regs[3];
    mode_chg_owed[dev] = false;
    const RegRead st13 = rd_result(status, dev);
    const uint8_t s13 = st13.value_or(0);
    const uint8_t s14 = rd_result(uint8_t(status + 1), dev).value_or(0);   // HDMI 2.0 only counts errors: not read, they act
    (void)rd_result(uint8_t(status + 2), dev);   // read as the chip's service does; nothing decided by it
    const bool hdmi2 = s14 & 0x40;
    const bool mhl = port == 0 && (s13 & 0x40);
    const char* name = port == 0 ? "Port 0" : "Port 1";

    bool clockChange = false;
    // The mode change with the clock valid; one whose status or mode was not read is served
    // on the next pass: after a switch to DVI the sound would stay on, after the return to
    // HDMI off.
    if ((r05 & 0x10) && (!st13.ok() || ((s13 & 0x08) && !iTE6805_INT_HDMI_DVI_Mode_Chg(port, dev))))
        mode_chg_owed[dev] = true;
    if (r05 & 0x20) {
        std::printf("# %s ECC Error # \n", name);
        iTE6805_INT_ECC_ERROR(dev);
    }
    if (r05 & 0x40) {
        ++c.deskewerrcnt;
        std::printf("# %s Deskew Error #  deskewerrcnt=%d\n", name, c.deskewerrcnt);
        // On an HDMI 2.0 link the deskew errors only count.
        if (c.deskewerrcnt > 6 && !hdmi2) {
            c.deskewerrcnt = 0;
            std::printf("# Deskew Error > %d #  EQ Restart \n", 6);
            p_eq->iTE6805_EQ_chg(STATEEQ_Start, dev);
            if (++c.DeskewRestarts >= 3) {
                c.DeskewRestarts = 0;
                drv->iTE6805_Reset_ALL_Logic(port, dev);
            }
        }
    }
    if (r05 & 0x80)
        std::printf("# %s H2VSkew Fail #\n", name);
    if (r05 & 0x04) {
        std::printf("# %s Input Clock Change Detect #\n", name);
        c.SymbolLockRst[0] = c.SymbolLockRst[1] = c.SymbolLockRst[2] = 0;
        if (s13 & 0x10) {
            std::printf("# Clock Stable\t\t#\n");
        } else {
            std::printf("# Clock NOT Stable\t#\n");
            d.HDCPState = 0;
            p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
            p_eq->iTE6805_EQ_chg(STATEEQ_Start, dev);
        }
        clockChange = true;
    }
    if (r05 & 0x02) {
        std::printf("# %s Rx CKOn Detect #\n", name);
        c.ECCErrorCount = 0;
    }
    if (r05 & 0x01) {
        std::printf("# %s 5V state change INT #\n", name);
        iTE6805_INT_5VPWR_Chg(port, dev);
    }

    bool ch2Reset = false;
    if (r06 & 0x80)
        std::printf("# FSM Error  #\n");
    if ((r06 & 0x40) && !mhl) {
        ++c.SymbolLockRst[2];
        std::printf("# CH2 Symbol lock Rst #\n");
        ch2Reset = true;
    }
    if ((r06 & 0x20) && !mhl) {
        ++c.SymbolLockRst[1];
        std::printf("# CH1 Symbol lock Rst #\n");
    }
    if (r06 & 0x10) {
        ++c.SymbolLockRst[0];
        std::printf("# CH0 Symbol lock Rst Count=%d #\n", c.SymbolLockRst[0]);
        if (port == 0 && (r06 & 0x20) && clockChange && ch2Reset) {
            std::printf("# Symbol lock call STATEV_WaitSync #\n");
            iTE6805_vid_chg(STATEV_WaitSync, dev);
        }
        if (c.SymbolLockRst[0] >= 21 && c.SymbolLockRst[1] >= 21 && c.SymbolLockRst[2] >= 21
            && d.EQState == STATEEQ_Off && !hdmi2) {
            std::printf("# Force set SCDC to 1/40#\n");
            bank(port == 0 ? 3 : 7, dev);
            set(0xE5, 0x1C, 0x1C, dev);
            bank(0, dev);
        }
    }
    if (r06 & 0x08)
        std::printf("# CH2 CDR FIFO Aut0-Rst #\n");
    if (r06 & 0x04)
        std::printf("# CH1 CDR FIFO Aut0-Rst #\n");
    if (r06 & 0x02)
        std::printf("# CH0 CDR FIFO Aut0-Rst #\n");
    if (r06 & 0x01) {
        std::printf("# Symbol Lock State Change # ");
        const RegRead locks = rd_result(uint8_t(status + 1), dev);
        const uint8_t lock = locks.value_or(0x38);   // not read: taken as locked, the equaliser is not restarted for it
        if (locks.ok() && (lock & 0x38) && d.EQState == STATEEQ_Off) {
            p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
            p_eq->iTE6805_EQ_chg(STATEEQ_Start, dev);
        }
        if ((lock & 0x38) == 0x38)
            std::printf("# Symbol Lock #\n");
        else
            std::printf("# Symbol NOT Lock #%s%s%s\n", (lock & 0x08) ? "" : " CH0", (lock & 0x10) ? "" : " CH1",
                        (lock & 0x20) ? "" : " CH2");
    }

    if (r08 & 0x01) {
        std::printf("# SCDC CLK Ratio Change #\n");
        iTE6805_vid_chg(STATEV_WaitSync, dev);
        p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
        p_eq->iTE6805_EQ_chg(STATEEQ_Start, dev);
    }
    if (r08 & 0x02)
        std::printf("# SCDC Scramble Enable Change #\n");
    if (r08 & 0x04)
        std::printf("# SCDC Scramble Status Change #\n");
    if (r08 & 0x08)
        std::printf("# SCDC Flag Change #\n");
    if (r08 & 0x80)
        set(0x4C, 0x80, 0x80, dev);

    if (r09 & 0x09)
        c.ECCErrorCount = 0;
    bank(0, dev);
}

void ite6805_sys::iTE6805_hdmirx_common_irq(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    bank(0, dev);
    // An interrupt register not read announces nothing this pass and is not acknowledged:
    // the chip keeps its bits for the next.
    const auto take = [&](uint8_t reg, uint8_t ack) {
        const RegRead r = rd_result(reg, dev);
        if (r.ok())
            wr(reg, uint8_t(r.value() & ack), dev);
        return r.value_or(0);
    };
    const uint8_t r09 = take(0x09, 0x04);
    const uint8_t r10 = take(0x10, 0xFF);
    const bool selfGated = d.ChipID == 0x10 || d.ChipID >= 0xE0;
    if (!selfGated && (r10 & 0x02)) {
        // The V-by-One output goes off before anything else on a sync change.
        std::printf("SCDT change INT happened, trun off VB1 output \r\n");
        wr(0x0F, 5, dev);
        wr(0xC9, 0x79, dev);
        wr(0x0F, 0, dev);
    }
    const uint8_t r11 = take(0x11, uint8_t(~0x40));
    const uint8_t r12 = take(0x12, uint8_t(~0xA0));
    const uint8_t r1d = take(0x1D, 0xFF);
    const uint8_t rd4 = take(0xD4, 0xFF);
    const uint8_t rd5 = take(0xD5, 0xFF);

    // The encryption state not read: the one known stays.
    const RegFlag encrypted = (r09 & 0x04) ? rd_result(0xCF, dev).any(0x20) : RegFlag();
    if (encrypted.ok()) {
        if (encrypted.value()) {
            std::printf("HDCP Encryption ON! \n");
            const RegFlag hdcp2 = rd_result(0xD6, dev).any(0xC0);
            d.HDCPState = hdcp2.ok() ? (hdcp2.value() ? 256 : 1) : d.HDCPState;
        } else {
            std::printf("HDCP Encryption OFF !\n");
            d.HDCPState = 0;
        }
    }

    if ((r10 & 0x80) && d.VidState == STATEV_VidStable) {
        // A new rate not measured whole (its N, CTS or clock unread): the sound is set up
        // again on the next pass, as when it came on.
        const uint32_t before = p_i2c->errors;
        drv->iTE6805_Reset_Audio_Logic(dev);
        iTE6805_Enable_Audio_Output(dev);
        if (p_i2c->errors != before && d.AudState == STATEA_AudioOn)
            c.AudRetry = uint8_t(STATEA_AudioOn + 1);
    }
    if ((r10 & 0x20) && d.Flag_VidStable_Done) {
        std::printf("# PKT Left Mute #\n");
        drv->iTE6805_Set_AVMute(0, dev);
    }
    if ((r10 & 0x10) && d.Flag_VidStable_Done) {
        std::printf("# Set Mute PKT Received #\n");
        drv->iTE6805_Set_AVMute(1, dev);
    }
    if (r10 & 0x02) {
        std::printf("# SCDT Change #\n");
        iTE6805_INT_SCDT_Chg(dev);
    }
    if (r10 & 0x08) {
        std::printf("# Video Mode Change #\n");
        // A new mode with the sync kept is measured again like a new AVI InfoFrame, also
        // while the entry still awaits the transmitter clock; one that comes while the
        // sync is checked restarts the clock's measurement.
        if (d.VidState == STATEV_VidStable)
            c.NewAVIFlag = 1;
        else if (d.VidState == STATEV_CheckSync)
            drv->iTE6805_PCLK_Start(dev);
    }
    if (r10 & 0x04)
        std::printf("# Video Abnormal #\n");
    if (r10 & 0x01)
        std::printf("# Audio FIFO Error #\n");

    if (r11 & 0x02)
        wr(0x11, 0x02, dev);
    if (r11 & 0x01)
        wr(0x11, 0x01, dev);
    if (r11 & 0x38)
        std::printf("# Packet Event 0x%02X #\n", r11 & 0x38);

    bank(0, dev);
    if (r12 & 0x80) {
        std::printf("# Video Parameters Change #\n");
        std::printf("Video Parameters 0x1B=%d 0x1A=%d\n", rd_result(0x1B, dev).value_or(0) & 0x07, rd_result(0x1A, dev).value_or(0));   // a trace
        wr(0x12, 0x80, dev);
    }
    if (r12 & 0x01) {
        std::printf("# New AVI InfoFrame Received #\n");
        bank(2, dev);
        const RegRead avi1 = rd_result(0x15, dev);
        bank(0, dev);
        if (iTE6805_AVI_Moved(dev) && d.VidState == STATEV_VidStable)
            c.NewAVIFlag = 1;
        c.prevAVIDB = avi1.value_or(c.prevAVIDB);
    }
    if (r12 & 0x7E)
        std::printf("# Packet Received 0x%02X #\n", r12 & 0x7E);

    if (r1d & 0x08) {
        std::printf("HDCP Encryption Change \n");
        if (!drv->iTE6805_Check_HDMI2(dev).value_or(true) && c.HDCPChangeFlag == 1) {
            c.HDCPChangeFlag = 0;
            if (p_eq->iTE6805_BitErr_Check_Again(dev) == 0)   // not read: the link is judged by the next check
                p_eq->iTE6805_EQ_chg(STATEEQ_Start, dev);
        }
    }
    if (r1d & 0x07)
        std::printf("HDCP Event 0x%02X \n", r1d & 0x07);
    if (r1d & 0x10)
        std::printf("HDCP2 Message 0x%02X 0x%02X\n", rd4, rd5);
    bank(0, dev);
}

bool ite6805_sys::iTE6805_INT_HDMI_DVI_Mode_Chg(int port, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    // A video-stable entry still waiting for the transmitter clock sets the output up
    // (and asks for audio) itself once it is ready, from the mode then.
    const bool stable = d.VidState == STATEV_VidStable && cnt[dev].VboWaiting != 1;
    const uint32_t before = p_i2c->errors;
    const RegResult<int> mode = p_ite6805_drv->iTE6805_Check_HDMI_OR_DVI_Mode(port, dev);
    if (!mode.ok())
        return false;
    if (mode.value() == 2) {
        iTE6805_aud_chg(STATEA_AudioOff, dev);
        if (stable)
            iTE6805_Enable_Video_Output(dev);
        std::printf("# HDMI/DVI Mode : DVI #\n");
    } else {
        if (stable) {
            iTE6805_Enable_Video_Output(dev);
            iTE6805_aud_chg(STATEA_RequestAudio, dev);
        }
        std::printf("# HDMI/DVI Mode : HDMI #\n");
    }
    // An output not set up whole: the video-stable entry is made again.
    if (stable && p_i2c->errors != before)
        cnt[dev].VidRetry = 1;
    return true;
}

void ite6805_sys::iTE6805_INT_ECC_ERROR(int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    iTE6805_COUNTERS& c = cnt[dev];
    ite6805_drv* drv = p_ite6805_drv;
    if (c.ECCErrorCount <= 5) {
        ++c.ECCErrorCount;
        return;
    }
    if (c.ECCErrorCount % 3 == 0)
        set(0xD9, 0x04, 0x04, dev);
    if (c.ECCErrorCount <= 10) {
        ++c.ECCErrorCount;
        return;
    }
    c.ECCErrorCount = 0;
    ++c.ECCTimeOut;
    if (c.ECCTimeOut < 3) {
        std::printf("++++++++++++++ECC ERROR TIMEOUT ++++++++++++++ Force EQ STATEEQ_KeepEQStateUntil5VOff \n");
        d.EQState = STATEEQ_KeepEQStateUntil5VOff;
        drv->iTE6805_Set_HPD_Ctrl(d.CurrentPort, 0, dev);
        delay1ms(100);
        bank(0, dev);
        const uint8_t reg = d.CurrentPort == 1 ? 0x2B : 0x23;
        if (rd_result(reg, dev).any(0x02).value_or(false)) {
            delay1ms(300);
        } else {
            set(reg, 0x02, 0x02, dev);
            delay1ms(300);
            set(reg, 0x02, 0x00, dev);
        }
        drv->iTE6805_Set_HPD_Ctrl(d.CurrentPort, 1, dev);
        delay1ms(100);
    } else {
        c.ECCTimeOut = 0;
        std::printf("++++++++++++++ECC ERROR TIMEOUT ++++++++++++++ Force EQ STATEEQ_Off \n");
        d.EQState = STATEEQ_Off;
        p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
        drv->iTE6805_Reset_ALL_Logic(d.CurrentPort, dev);
    }
}

void ite6805_sys::iTE6805_Port_Select(int port, int dev)
{
    if (port > 1 || port < 0) {
        std::printf("User Setting Current Port Warning !\n");
        return;
    }
    iTE6805_DATA[dev].RequestedPort = uint8_t(port);
    iTE6805_DATA[dev].PortSelectRequest = 1;
}

void ite6805_sys::iTE6805_Port_Select_Body(int port, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    if (!d.PortSelectRequest)
        return;
    std::printf("\n\nCustomer Setting Current Port = %d ! \n\n", port);
    d.PortSelectRequest = 0;
    if (port == d.CurrentPort || port < 0 || port > 1)
        return;
    ite6805_drv* drv = p_ite6805_drv;
    bank(0, dev);
    set(0x35, 0x01, uint8_t(port), dev);
    drv->iTE6805_Set_HPD_Ctrl(port == 0 ? 1 : 0, 0, dev);
    delay1ms(100);
    d.CurrentPort = uint8_t(port);
    for (int b : {3, 7}) {
        bank(b, dev);
        set(0xE5, 0x1C, 0x00, dev);
    }
    bank(0, dev);
    const bool p0 = port == 0;
    wr(0x25, 0x00, dev);
    wr(0x26, p0 ? 0x00 : 0xFF, dev);
    wr(0x27, p0 ? 0x00 : 0xFF, dev);
    wr(0x2A, p0 ? 0x01 : 0x3A, dev);
    set(0x2D, 0x6F, p0 ? 0x6F : 0x00, dev);
    wr(0x2E, p0 ? 0xFF : 0x00, dev);
    wr(0x2F, p0 ? 0xFF : 0x00, dev);
    wr(0x32, p0 ? 0x3E : 0x01, dev);
    bank(3, dev);
    set(0xA8, 0x08, p0 ? 0x08 : 0x00, dev);
    bank(7, dev);
    set(0xA8, 0x08, p0 ? 0x00 : 0x08, dev);
    bank(p0 ? 0 : 4, dev);
    set(0xC5, 0x10, 0x10, dev);
    delay1ms(1);
    set(0xC5, 0x10, 0x00, dev);
    bank(0, dev);
    d.EQState = STATEEQ_Off;
    p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
    iTE6805_INT_5VPWR_Chg(port, dev);
}

void ite6805_sys::iTE6805_Port_Reset(int port, int dev)
{
    iTE6805_DATA[dev].ResetPort = uint8_t(port);
    iTE6805_DATA[dev].PortResetRequest = 1;
}

void ite6805_sys::iTE6805_Port_Reset_Body(int port, int dev)
{
    iTE6805_DATA_TYPE& d = iTE6805_DATA[dev];
    if (!d.PortResetRequest)
        return;
    d.PortResetRequest = 0;
    if (port > 1 || port < 0) {
        std::printf("\n\nCustomer PortReset need to setting Current Port to 0/1, can't be other value ! \n");
        return;
    }
    std::printf("\n\nCustomer Reset Port = %d ! \n\n", port);
    if (port != d.CurrentPort)
        return;
    p_ite6805_drv->iTE6805_Set_HPD_Ctrl(port, 0, dev);
    delay1ms(100);
    iTE6805_vid_chg(STATEV_Unplug, dev);
    d.EQState = STATEEQ_Off;
    p_eq->iTE6805_EQ_chg(STATEEQ_Off, dev);
    delay1ms(300);
    iTE6805_INT_5VPWR_Chg(port, dev);
}

// Only the AVI fields that can change the timing or the colour path count: colour format,
// colorimetry, extended colorimetry, quantisation ranges and VIC. Scan information, aspect
// ratio and the like change nothing a re-measure would find.
bool ite6805_sys::iTE6805_AVI_Moved(int dev)
{
    const uint8_t* kMask = iTE6805_COUNTERS::kAVIMask;
    uint8_t avi[5];
    const uint32_t before = p_i2c->errors;
    bank(2, dev);
    for (int i = 0; i < 5; ++i)   // one not read counts as moved below
        avi[i] = uint8_t(rd_result(uint8_t(0x15 + i), dev).value_or(0) & kMask[i]);
    bank(0, dev);
    iTE6805_COUNTERS& c = cnt[dev];
    // A frame not read whole counts as moved: an unanswered field reads as the old one may.
    const bool moved = p_i2c->errors != before || std::memcmp(avi, c.AVIFields, sizeof avi) != 0;
    std::memcpy(c.AVIFields, avi, sizeof avi);
    return moved;
}
