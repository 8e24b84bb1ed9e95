// The scaler's power-on register sequence and the small timing and signal routines that
// the other scaler operations call around register updates.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "scaler/c331_drv.h"

#include <algorithm>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
// Bank 0 register 0x29, bit 0: holds the chip's update of timing and status registers
// while a group of them is written or read. Its other bits belong to other users.
constexpr uint32_t kUpdateHold = R(0, 0x29, 1);
constexpr uint32_t kHoldBit = 0x01;
} // namespace

void c331_manage::write_initial_setting(int fd, int full)
{
    // 1. Clock generator and the V-by-One transmitter PLL band.
    int band = 0;
    if (full) {
        wr(fd, R(0xFF, 0x00, 1), 8);
        wr(fd, R(0xFF, 0x01, 1), 0);
        wr(fd, R(0xFF, 0x02, 1), 200);
        wr(fd, R(0xFF, 0x03, 1), 0);
        wr(fd, R(0xFF, 0x04, 1), 97);
        wr(fd, R(0xFF, 0x05, 3), 1);
        Sleep(20);
        const uint64_t multiplier = uint64_t(PS_CH_CONST[1]);
        const uint64_t divider = PS_CH_CONST[7] > 0 ? uint64_t(PS_CH_CONST[7]) : 1;
        const uint64_t reference = PS_VBOTX_MODE == 1 ? 2000000 : 4000000;
        const uint64_t r = (multiplier * uint64_t(PS_XTAL_FREQ)) / (reference * divider);
        band = r > 40 ? 76 : r > 20 ? 72 : 68;
    }

    // 2. Bank 0: input and channel routing. Channel i takes source code 2i.
    for (uint32_t r = 0x08; r <= 0x0F; ++r)
        wr(fd, R(0, r, 1), 0x11);
    for (uint32_t i = 0; i < 8; ++i)
        wr(fd, R(0, 0x10 + i, 1), 2 * i);
    wr(fd, R(0, 0x18, 2), 0);
    for (uint32_t r = 0x1A; r <= 0x1D; ++r)
        wr(fd, R(0, r, 1), 4);
    wr(fd, R(0, 0x1E, 2), 0x0404);
    wr(fd, R(0, 0x20, 2), 0x0404);
    wr(fd, R(0, 0x38, 1), 0);
    wr(fd, R(0, 0x39, 2), 0x0202);
    for (uint32_t r = 0x22; r <= 0x27; ++r)
        wr(fd, R(0, r, 1), 0);
    wr(fd, R(0, 0x46, 1), 0);
    const uint32_t r47[5] = {0, uint32_t(PS_CH_CONST[0]), 0, uint32_t(PS_CH_CONST[7]), uint32_t(PS_CH_CONST[1])};
    for (uint32_t i = 0; i < 5; ++i)
        wr(fd, R(0, 0x47 + i, 1), r47[i]);
    for (uint32_t r = 0x4C; r <= 0x50; ++r)
        wr(fd, R(0, r, 1), 0);
    const uint32_t r51[4] = {uint32_t(PS_CH_CONST[0]), 0, uint32_t(PS_CH_CONST[2]), uint32_t(PS_CH_CONST[3])};
    for (uint32_t i = 0; i < 4; ++i)
        wr(fd, R(0, 0x51 + i, 1), r51[i]);
    wr(fd, R(0, 0x55, 2), 0);
    for (uint32_t r = 0x59; r <= 0x60; ++r)
        wr(fd, R(0, r, 1), 0x11);
    for (uint32_t r = 0x61; r <= 0x68; ++r)
        wr(fd, R(0, r, 1), 24);
    for (uint32_t r = 0x69; r <= 0x78; ++r)
        wr(fd, R(0, r, 1), 0);
    wr(fd, R(0, 0x79, 1), 46);
    for (uint32_t k = 0; k < 8; ++k) {
        wr(fd, R(0, 0x7A, 1), 0x80 + 4 * k);
        wr(fd, R(0, 0x7A, 1), 0x81 + 4 * k);
    }

    // 3. Bank 3: the dual-channel splitter's start and doubled width, and the transmitter
    // layout. Only these registers: the rest of the bank keeps its reset values.
    wr(fd, R(3, 0x1B, 2), 192);
    wr(fd, R(3, 0x1D, 2), 3840);
    wr(fd, R(3, 0x42, 1), 9);
    wr(fd, R(3, 0x44, 1), uint32_t(PS_HSW / 2 - 1));
    wr(fd, R(3, 0x45, 1), uint32_t(PS_VSW - 1));
    wr(fd, R(3, 0x43, 1), 9);
    wr(fd, R(3, 0x4C, 1), uint32_t(PS_HSW / 2 - 1));
    wr(fd, R(3, 0x4D, 1), uint32_t(PS_VSW - 1));
    wr(fd, R(5, 0x7E, 2), 64);
    if (PS_VBOTX_MODE == 1) {
        wr(fd, R(3, 0x55, 4), 0x76543210);
        wr(fd, R(3, 0x5E, 4), 0x76543210);
        wr(fd, R(3, 0x62, 4), 0x76543210);
        wr(fd, R(3, 0x2F, 2), 1920);
        wr(fd, R(3, 0x39, 2), 1920);
        wr(fd, R(3, 0x2C, 2), 5);
        wr(fd, R(3, 0x36, 2), 5);
    } else if (PS_VBOTX_MODE == 2) {
        wr(fd, R(3, 0x55, 4), 0x73625140);
        wr(fd, R(3, 0x5E, 4), 0x73625140);
        wr(fd, R(3, 0x62, 4), 0x73625140);
    } else {
        wr(fd, R(3, 0x55, 4), 0x10000);
        wr(fd, R(3, 0x5E, 4), 0x76543210);
        wr(fd, R(3, 0x62, 4), 0x76543210);
    }

    // 4. The OSD's serial-flash window; sync polarity defaults.
    wr(fd, R(4, 0x2B, 2), (PS_SFL_ADDR >> 16) | 0x8000);
    wr(fd, R(6, 0x38, 4), 0x07070707);
    wr(fd, R(6, 0x3C, 4), 0x33333333);

    // 5. Per-channel set-up.
    for (int c = 0; c < 8; ++c) {
        const int off = 0x10 * c;
        wr(fd, R(0x08, 0x08, 2), c == 0 ? 0x0201 : c <= 3 ? 0x1211 : 0x11, off);
        wr(fd, R(0x0E, 0x08, 1), c < 4 ? 10 : 1, off);
        wr(fd, R(0x0E, 0x09, 4), uint32_t(8 + c), off);
        wr(fd, R(0x0E, 0x0D, 2), 85, off);
        if (c < 4)
            wr(fd, R(0x0E, 0x17, 1), 0x80, off);
        wr(fd, R(0x10, 0x09, 1), c == 5 ? 12 : c == 7 ? 14 : 1, off);
        wr(fd, R(0x16, 0x65, 1), 1, off);
        wr(fd, R(0x16, 0x66, 3), 274960, off);
        wr(fd, R(0x16, 0x6B, 1), 0, off);
        wr(fd, R(0x16, 0x6C, 2), 8451, off);
    }

    // 6. Per channel: output timing, colour matrices, scaler defaults.
    static const uint32_t csc1[9] = {12901, 8192, 0, 61701, 8192, 64002, 0, 8192, 15201};
    static const uint32_t csc2[9] = {16384, 50653, 64035, 6966, 23436, 2366, 61781, 52907, 16384};
    for (int c = 0; c < 8; ++c) {
        const int off = 0x10 * c;
        wr(fd, R(0x08, 0x0A, 2), uint32_t(PS_HTOTAL - 2), off);
        wr(fd, R(0x08, 0x0C, 2), uint32_t(PS_VTOTAL - 2), off);
        wr(fd, R(0x08, 0x1D, 1), 64, off);
        const uint32_t aoi[4] = {uint32_t(PS_OAOIHST), uint32_t(PS_OAOIHED), uint32_t(PS_OAOIVST), uint32_t(PS_OAOIVED)};
        for (uint32_t i = 0; i < 4; ++i)
            wr(fd, R(0x08, 0x28 + 2 * i, 2), aoi[i], off);
        for (uint32_t i = 0; i < 4; ++i)
            wr(fd, R(0x08, 0x30 + 2 * i, 2), aoi[i], off);
        wr(fd, R(0x08, 0x40, 2), uint32_t(PS_ACTHST), off);
        wr(fd, R(0x08, 0x42, 2), 0, off);
        wr(fd, R(0x08, 0x44, 2), uint32_t(PS_ACTVST), off);
        wr(fd, R(0x08, 0x46, 2), uint32_t(PS_ACTVW + 1), off);
        for (uint32_t r = 0x0A; r <= 0x10; r += 2)
            wr(fd, R(0x09, r, 2), 255, off);
        for (uint32_t r = 0x44; r <= 0x4E; ++r)
            wr(fd, R(0x0A, r, 1), 0, off);
        wr(fd, R(0x0B, 0x5E, 1), 1, off);
        wr(fd, R(0x0C, 0x48, 1), 0, off);
        for (uint32_t i = 0; i < 9; ++i)
            wr(fd, R(0x0C, 0x49 + 2 * i, 2), csc1[i], off);
        wr(fd, R(0x10, 0x10, 1), 0x80, off);
        wr(fd, R(0x10, 0x11, 1), 0x80, off);
        wr(fd, R(0x10, 0x28, 1), 136, off);
        for (uint32_t r = 0x29; r <= 0x2D; r += 2)
            wr(fd, R(0x10, r, 2), 0, off);
        for (uint32_t r = 0x2F; r <= 0x33; r += 2)
            wr(fd, R(0x10, r, 2), 512, off);
        for (uint32_t i = 0; i < 9; ++i)
            wr(fd, R(0x10, 0x35 + 2 * i, 2), csc2[i], off);
        wr(fd, R(0x10, 0x47, 1), 0, off);
        wr(fd, R(0x10, 0x48, 1), 4, off);
        wr(fd, R(0x10, 0x49, 1), 8, off);
        for (uint32_t r = 0x42; r <= 0x4C; ++r)
            wr(fd, R(0x11, r, 1), 0, off);
    }

    // 7. Frame-buffer memory map: four planes and the spare, one slot per channel (left at
    // 0, every channel's spare would be channel 0's first buffer).
    static const uint32_t plane[5] = {0, 0x08800000, 0x11000000, 0x19800000, 0x22000000};
    for (int c = 0; c < 8; ++c) {
        const int off = 0x10 * c;
        for (uint32_t i = 0; i < 5; ++i)
            wr(fd, R(0x16, 0x1C + 4 * i, 4), plane[i] + ich_slot_offset(c), off);
        wr(fd, R(0x16, 0x30, 1), 64, off);
        wr(fd, R(0x16, 0x31, 1), 64, off);
    }

    // 8. Channels 0-3: processing defaults and processing memory.
    for (int c = 0; c < 4; ++c) {
        const int off = 0x10 * c;
        wr(fd, R(0x14, 0x0D, 2), 16, off);
        wr(fd, R(0x14, 0x16, 1), 1, off);
        wr(fd, R(0x14, 0x17, 1), 1, off);
        wr(fd, R(0x14, 0x18, 1), 2, off);
        wr(fd, R(0x14, 0x19, 1), 8, off);
        wr(fd, R(0x14, 0x22, 1), 0, off);
        wr(fd, R(0x14, 0x23, 1), 0x11, off);
        wr(fd, R(0x17, 0x58, 4), PS_PROC_MEM[c][0], off);
        wr(fd, R(0x17, 0x5B, 4), PS_PROC_MEM[c][1], off);
    }

    // 9. The transmitter PHY.
    if (full) {
        wr(fd, R(0xFF, 0x02, 1), 0);
        wr(fd, R(0xFF, 0x04, 1), 0);
        wr(fd, R(1, 0x26, 1), 0);
        Sleep(1);
        wr(fd, R(1, 0x08, 1), 48);
        wr(fd, R(1, 0x09, 4), 0x22222222);
        wr(fd, R(1, 0x0D, 4), 0x66663445);
        wr(fd, R(1, 0x11, 4), 0x22222222);
        for (uint32_t r = 0x15; r <= 0x18; ++r)
            wr(fd, R(1, r, 1), 119);
        wr(fd, R(1, 0x19, 1), 7);
        wr(fd, R(1, 0x1A, 1), 63);
        wr(fd, R(1, 0x1B, 1), 63);
        wr(fd, R(1, 0x1C, 1), 0);
        wr(fd, R(1, 0x1D, 1), 16);
        wr(fd, R(1, 0x1E, 1), 16);
        wr(fd, R(1, 0x1F, 1), 14);
        wr(fd, R(1, 0x20, 1), 14);
        wr(fd, R(1, 0x21, 1), 48);
        wr(fd, R(1, 0x22, 1), 48);
        wr(fd, R(1, 0x23, 1), 79);
        wr(fd, R(1, 0x24, 1), 79);
        wr(fd, R(1, 0x25, 1), 9);
        wr(fd, R(1, 0x26, 1), 15);
        wr(fd, R(1, 0x27, 1), 17);
        wr(fd, R(1, 0x28, 1), 1);
        wr(fd, R(1, 0x29, 4), 0x88888888);
        for (uint32_t r = 0x2D; r <= 0x34; ++r)
            wr(fd, R(1, r, 1), 119);
        static const uint32_t r35[11] = {7, 103, 101, 98, 96, 106, 103, 100, 97, 108, 8};
        for (uint32_t i = 0; i < 11; ++i)
            wr(fd, R(1, 0x35 + i, 1), r35[i]);
        for (uint32_t k = 0; k < 8; ++k)
            wr(fd, R(1, 0x40 + 3 * k, 3), 0x924924);
        for (uint32_t k = 0; k < 8; ++k)
            wr(fd, R(1, 0x58 + 3 * k, 3), 0x6DB6DB);
        wr(fd, R(1, 0x70, 4), 0x33333333);
        Sleep(1);
        wr(fd, R(0xFF, 0x02, 1), 136);
        Sleep(1);
        wr(fd, R(0xFF, 0x02, 1), 200);
        Sleep(1);
        wr(fd, R(0xFF, 0x04, 1), 97);
        Sleep(20);
    }

    // 10. V-by-One receivers and the two transmitters (bank 2, page register 0x7F).
    wr(fd, R(2, 0x7F, 1), 14);
    wr(fd, R(2, 0x40, 1), 5);
    wr(fd, R(2, 0x4F, 1), 0x80);
    wr(fd, R(2, 0x4C, 1), 163);
    wr(fd, R(2, 0x7F, 1), 13);
    wr(fd, R(2, 0x5C, 1), 5);
    wr(fd, R(2, 0x6B, 1), 0x80);
    wr(fd, R(2, 0x68, 1), 163);
    wr(fd, R(2, 0x7F, 1), 11);
    wr(fd, R(2, 0x1C, 1), 0);
    wr(fd, R(2, 0x0A, 2), 0x11);
    wr(fd, R(2, 0x10, 1), 255);
    wr(fd, R(2, 0x13, 1), 0x11);
    wr(fd, R(2, 0x18, 1), uint32_t(band));
    wr(fd, R(2, 0x1C, 1), 1);
    if (PS_VBOTX_MODE == 1)
        wr(fd, R(2, 0x08, 1), 5);
    wr(fd, R(2, 0x0A, 2), 32785);
    wr(fd, R(2, 0x7F, 1), 7);
    wr(fd, R(2, 0x34, 1), 0);
    wr(fd, R(2, 0x7A, 2), 0x11);
    wr(fd, R(2, 0x28, 1), 255);
    wr(fd, R(2, 0x2B, 1), 0x11);
    wr(fd, R(2, 0x78, 1), uint32_t(band));
    wr(fd, R(2, 0x34, 1), 1);
    wr(fd, R(2, 0x7A, 2), 32785);
}

void c331_manage::set_rtct(int fd, int mode)
{
    uint8_t v[7];   // registers 0x22-0x28
    switch (mode) {
    case 0: for (auto& b : v) b = 0; break;
    case 1: { const uint8_t m[7] = {0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99}; for (int i = 0; i < 7; ++i) v[i] = m[i]; break; }
    case 2: for (auto& b : v) b = 0xFF; break;
    case 3: { const uint8_t m[7] = {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF}; for (int i = 0; i < 7; ++i) v[i] = m[i]; break; }
    default: { const uint8_t m[7] = {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}; for (int i = 0; i < 7; ++i) v[i] = m[i]; break; }
    }
    wm(fd, kUpdateHold, kHoldBit, kHoldBit);
    for (uint32_t i = 0; i < 7; ++i)
        wr(fd, R(0, 0x22 + i, 1), v[i]);
    wm(fd, kUpdateHold, 0, kHoldBit);
}

void c331_manage::set_pict(int fd, int on, int port)
{
    if (port < 0 || port > 3)
        return;
    const uint32_t bit = 1u << (4 * port);
    wm(fd, R(0, 0x18, 2), on ? bit : 0, bit);
}

void c331_manage::set_VBORXfrange(int fd, int ch, uint32_t freq, int mode)
{
    if (ch < 0 || ch > 1)
        return;
    const uint32_t reg = R(2, 0x4C + 0x1C * uint32_t(ch), 1);
    if (mode == 1) {
        const unsigned old = rd(fd, reg);
        wr(fd, reg, old ^ 0x08);
        return;
    }
    wm(fd, reg, freq < 50000000 ? 0x08 : 0, 0x08);
    const unsigned lockBit = 1u << (5 + 2 * ch);
    for (int poll = 0; poll < 250; ++poll) {
        if (rd(fd, R(0xB2, 0x60, 1)) & lockBit)
            break;
        if (rd(fd, R(0xAE, 0x5C + 0xC * uint32_t(ch), 3)) < 0xFFFFFE)
            break;
    }
}

void c331_manage::set_VBOInput(int fd, int ch)
{
    if (ch < 0 || ch > 1)
        return;
    set_sypol(fd, 1, ch);
    uint32_t mode, lanebits;
    switch (PI_HDMI_INFO[4 + ch].lane) {
    case 1: mode = 0; lanebits = 0; break;
    case 2: mode = 1; lanebits = 0x10; break;
    case 4: mode = 0x11; lanebits = 4; break;
    default: mode = 0x0404; lanebits = 2; break;
    }
    wr(fd, R(0, 0x1E + 2 * uint32_t(ch), 2), mode);
    wm(fd, R(0, 0x39, 2), lanebits << (8 * ch), 0xFFu << (8 * ch));
}

void c331_manage::set_sypol(int fd, int vbo, int port)
{
    if (vbo) {
        if (port < 0 || port > 1)
            return;
        const PI_HDMI_INFO_st& t = PI_HDMI_INFO[4 + port];
        const uint32_t code = uint32_t((t.Vpol & 1) | ((t.Hpol & 1) << 1));
        const uint32_t nibbles = code | code << 4 | code << 8 | code << 12;
        wm(fd, kUpdateHold, kHoldBit, kHoldBit);
        const unsigned old = rd(fd, R(6, 0x3C, 4));
        wm(fd, kUpdateHold, 0, kHoldBit);
        const uint32_t shift = 16 * uint32_t(port);
        wr(fd, R(6, 0x3C, 4), (old & ~(0xFFFFu << shift)) | (nibbles << shift));
        return;
    }
    if (port < 0 || port > 3)
        return;
    const PI_HDMI_INFO_st& t = PI_HDMI_INFO[port];
    const uint32_t code = uint32_t((t.Vpol & 1) | ((t.Hpol & 1) << 1)) | 4;
    wm(fd, kUpdateHold, kHoldBit, kHoldBit);
    const unsigned old = rd(fd, R(6, 0x38, 4));
    wm(fd, kUpdateHold, 0, kHoldBit);
    const uint32_t shift = 8 * uint32_t(port);
    wr(fd, R(6, 0x38, 4), (old & ~(0xFFu << shift)) | (code << shift));
}

int c331_manage::wait_ifld_change(int fd, int port)
{
    if (port < 0 || port > 5)
        return 0;
    const uint32_t reg = R(0xAB, 0x48 + uint32_t(port < 4 ? port : 2 * (port - 2)), 1);
    wm(fd, kUpdateHold, kHoldBit, kHoldBit);
    rd(fd, reg);
    const int first = int((rd(fd, reg) >> 2) & 3);
    int result = (first + 1) % 4;
    for (int poll = 0; poll < 90; ++poll) {
        const int f = int((rd(fd, reg) >> 2) & 3);
        if (f != first) {
            result = f;
            break;
        }
    }
    wm(fd, kUpdateHold, 0, kHoldBit);
    return result;
}

int c331_manage::wait_ofld_change(int fd, int och)
{
    if (och < 0 || och > 7)
        return 0;
    const uint32_t reg = R(0xAB, 0x48 + uint32_t(och), 1);
    wm(fd, kUpdateHold, kHoldBit, kHoldBit);
    rd(fd, reg);
    const int first = int(rd(fd, reg) & 3);
    int result = (first + 1) % 4;
    for (int poll = 0; poll < 70; ++poll) {
        const int f = int(rd(fd, reg) & 3);
        if (f != first) {
            result = f;
            break;
        }
    }
    wm(fd, kUpdateHold, 0, kHoldBit);
    return result;
}

void c331_manage::wait1_pivs(int fd, int ich)
{
    if (ich < 0 || ich > 7)
        return;
    const unsigned bit = 1u << ich;
    const uint32_t status = R(0xA8, 0x3E + 5 * uint32_t(ich), 1);
    wr(fd, R(5, 0x08, 1), bit);
    wr(fd, R(0, 0x29, 1), 0x80);
    if (!(rd(fd, R(5, 0x22, 1)) & bit) && rd(fd, status) != 0xFF) {
        for (int poll = 0; poll < 45; ++poll) {
            if ((rd(fd, R(5, 0x22, 1)) & bit) || rd(fd, status) == 0xFF)
                break;
        }
    }
    wr(fd, R(5, 0x08, 1), 0);
    wr(fd, R(0, 0x29, 1), 0);
}

void c331_manage::wait1_pivs2(int fd)
{
    double lowest = 120;
    int pick = -1;
    for (int w = 0; w < kWindows; ++w) {
        if (!g_chg_input[w] && !g_chg_shape[w] && !g_chg_attr[w] && !g_chg_fade[w] && !g_chg_dbd[w])
            continue;
        const int port = PM_INPUT[w];
        if (port < 0 || port >= kPorts || ich_list[w][0] < 0)
            continue;
        if (PI_FV[port] > 0 && PI_FV[port] < lowest) {
            lowest = PI_FV[port];
            pick = w;
        }
    }
    if (pick < 0) {
        Sleep(45);
        return;
    }
    wait1_pivs(fd, ich_list[pick][0]);
}

void c331_manage::reset_dbd_mem(int win)
{
    if (!kelApi_IsWinValid(win))
        return;
    for (auto& owner : dbd_unit_owner)
        if (owner == win)
            owner = -1;
    for (auto& b : dbd_mem_base[win])
        b = 0;
    dbd_line_blocks[win] = 0;
    dbd_no_memory[win] = 0;
}

bool c331_manage::check_dbd_input(int, int port)
{
    if (port < 0 || port >= kPorts)
        return false;
    const int maxw = port >= 4 ? 5120 : 2560;
    return PI_ACT[port].HW > maxw || PI_ACT[port].VW > 2176;
}

int c331_manage::set_dbd_mem(int fd, int win)
{
    if (!kelApi_IsWinValid(win))
        return -1;
    int channels = 0;
    while (channels < kChannels && ich_list[win][channels] >= 0)
        ++channels;
    if (channels == 0 || channels == kChannels)
        return -1;

    const int mode = PM_WIN_DBD_MODE[win];
    int units = 0;
    std::vector<int> ports;
    switch (mode) {
    case 20: ports = {0, 1}; break;
    case 21: ports = {0, 1}; break;
    case 22: ports = {2, 3}; break;
    case 23: ports = {2, 3}; break;
    case 30: ports = {0, 1, 2}; break;
    case 40: ports = {0, 1, 2, 3}; break;
    case 41: ports = {0, 1}; break;
    case 50: ports = {4, 5}; break;
    case 51: ports = {4, 5}; break;
    default:
        if (PM_INPUT[win] >= 0 && PM_INPUT[win] < kPorts)
            ports = {PM_INPUT[win]};
        break;
    }
    if (mode >= 20 && mode <= 29)
        units = 2;
    else if (mode >= 30 && mode <= 39)
        units = 3;
    else if (mode >= 40 && mode <= 51)
        units = 4;
    else if (mode == 1 && !ports.empty() && check_dbd_input(fd, ports[0]))
        units = ports[0] >= 4 ? 2 : 1;
    if (units == 0) {
        reset_dbd_mem(win);
        return 0;   // the window uses its channel's own memory
    }

    // The line holds every joined port at its whole width (a V-by-One port that comes in
    // over two lane groups is twice its measured width).
    // Ports one above the other: the widest sets the line; in quadrants the wider row does.
    int total = 0;
    for (int p : ports)
        total = (mode == 21 || mode == 23 || mode == 51) ? std::max(total, usable_width(p)) : total + usable_width(p);
    if (mode == 41)
        total = usable_width(0) + std::max(usable_width(1), usable_width(3));
    // The window's memory runs on from its first unit, so its units are a run: those handed
    // out to it from the layout, or else the lowest run of free ones.
    int first = -1, taken = 0, held = 0;
    for (int u = kDbdUnits - 1; u >= 0; --u)
        if (dbd_unit_owner[u] == win)
            first = u, ++held;
    if (held != units || std::count(dbd_unit_owner + first, dbd_unit_owner + first + units, win) != units) {
        reset_dbd_mem(win);
        first = -1;
    }
    for (int u = 0; u + units <= kDbdUnits && first < 0; ++u) {
        int run = 0;
        while (run < units && dbd_unit_owner[u + run] == -1)
            ++run;
        taken = std::max(taken, run);
        if (run == units)
            first = u;
    }
    if (first < 0) {
        reset_dbd_mem(win);
        KEL_TRACE("Dot-By-Dot memory assignment error!!!   win=%d  mode=%d  mem_cnt=%d  blk_cnt=%d\n", win, mode,
                  taken, units);
        return -1;
    }
    for (int u = first; u < first + units; ++u)
        dbd_unit_owner[u] = win;
    for (int i = 0; i < 5; ++i)
        dbd_mem_base[win][i] = PS_MEM_BASE[i] + uint32_t(first) * PS_DBD_UNIT;
    dbd_line_blocks[win] = (total + 319) / 320;
    return 0;
}

void c331_manage::set_input_bkg(int fd, int port, int on)
{
    set_rtct(fd, 2);
    // Each window using the port, as its own background is set: a black one stays black, a
    // joined one is not blanked for one of its ports.
    for (int w = 0; w < kWindows; ++w)
        if (window_uses_port(w, port))
            set_input_bkg2(fd, w, on);
    set_rtct(fd, 1);
}

void c331_manage::set_input_bkg2(int fd, int win, int on)
{
    if (!kelApi_IsWinValid(win))
        return;
    const int port = PM_INPUT[win];
    const bool nosig = port >= 0 && port < kPorts && PI_PORT_INFO[port].NOSIG != 0 && !kelApi_IsPatternGen();
    const bool black = (gWininfo[win].blackfreeze & 1) != 0;
    // A black window is black in every mode; a joined one is not blanked for a port alone.
    const uint32_t enable = black ? 1 : PM_WIN_DBD_MODE[win] > 1 ? 0 : (on || nosig) ? 1 : 0;
    const int cells = gWininfo[win].totalh * gWininfo[win].totalv;
    for (int i = 0; i < cells && i < 8; ++i) {
        const int k = gWininfo[win].ochLst[i];
        if (k > 7)
            break;
        // A channel two windows listed when none was left idle is the one its owner
        // programs: another window's black must not blank it.
        if (PM_WIN_NUM[k] != win)
            continue;
        wr(fd, R(0x08, 0x4A, 3), 0, 0x10 * k);
        wr(fd, R(0x08, 0x41, 1), enable, 0x10 * k);
    }
}
