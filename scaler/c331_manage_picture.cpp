// Picture quality: brightness, contrast, saturation and colour temperature in every
// processing channel, and sharpness per window from its scaling ratio.
#include "scaler/c331_manage.h"

#include "core/global.h"

#include <algorithm>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
} // namespace

void c331_manage::c331_SetBrightness(int value)
{
    record_call("c331_SetBrightness(" + std::to_string(value) + ")");
    const int b = ((value % 101) + 101) % 101;
    int d = (b - 50) * 1024 / 50;
    if (b < 50)
        d &= 0xFFF;   // 12-bit two's complement
    KEL_TRACE("\033[1;34m[c331_SetBrightness] %d\033[0m\n", value);
    KEL_TRACE("\033[1;34m\t data:%04x\033[0m\n", d);
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kChannels; ++c)
        for (uint32_t r : {0x3Au, 0x3Cu, 0x3Eu})
            wr(c331_fd, R(0x0C, r, 2), uint32_t(d), 0x10 * c);
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetContrast(int value)
{
    record_call("c331_SetContrast(" + std::to_string(value) + ")");
    const uint32_t d = uint32_t((((value % 101) + 101) % 101) * 1023 / 100);
    KEL_TRACE("\033[1;34m[c331_SetContrast] val:%d, data:%d\033[0m\n", value, d);
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kChannels; ++c) {
        wm(c331_fd, R(0x0C, 0x21, 1), 1, 1, 0x10 * c);
        for (uint32_t r : {0x28u, 0x2Au, 0x2Cu})
            wr(c331_fd, R(0x0C, r, 2), d, 0x10 * c);
    }
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetSaturation(int value)
{
    record_call("c331_SetSaturation(" + std::to_string(value) + ")");
    const uint32_t d = uint32_t((((value % 101) + 101) % 101) * 1023 / 100) & 0x7FF;
    KEL_TRACE("\033[1;34m[c331_SetSaturation] %d:%04x\033[0m\n", value, d);
    set_rtct(c331_fd, 2);
    for (int c = 0; c < kChannels; ++c) {
        wm(c331_fd, R(0x0C, 0x14, 1), 1, 1, 0x10 * c);
        for (uint32_t r : {0x1Bu, 0x1Du, 0x1Fu})
            wr(c331_fd, R(0x0C, r, 2), d, 0x10 * c);
    }
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetColorTemp(uint32_t value)
{
    record_call("c331_SetColorTemp(" + std::to_string(value) + ")");
    KEL_TRACE("\033[1;34m[c331_SetColorTemp] %8x\033[0m\n", value);
    uint32_t gain[3];   // red, green, blue; 8192 = unity
    switch (value & 3) {
    case 0:
        gain[0] = ((value >> 24) & 0xFF) * 64;
        gain[1] = ((value >> 16) & 0xFF) * 64;
        gain[2] = ((value >> 8) & 0xFF) * 64;
        break;
    case 1: gain[0] = 8845; gain[1] = 8113; gain[2] = 7056; break;
    case 2: gain[0] = gain[1] = gain[2] = 8192; break;
    default: gain[0] = 6944; gain[1] = 8282; gain[2] = 10978; break;
    }
    set_rtct(c331_fd, 2);
    for (uint32_t r = 0x59; r <= 0x60; ++r)
        wm(c331_fd, R(0, r, 1), 0x20, 0x20);
    for (int c = 0; c < kChannels; ++c)
        for (uint32_t i = 0; i < 9; ++i)
            wr(c331_fd, R(0x0C, 0x5B + 2 * i, 2), (i % 4 == 0) ? gain[i / 4] : 0, 0x10 * c);
    set_rtct(c331_fd, 1);
}

void c331_manage::c331_SetSharpness(int value)
{
    record_call("c331_SetSharpness(" + std::to_string(value) + ")");
    // Sharpness is 0..20: a larger setting is taken as 20, so it never wraps past full gain.
    const int v = std::min(value, 20);
    const int s = v <= 9 ? 0 : v - 10;
    const uint32_t g = uint32_t(float(s) * 12.8f);
    const uint32_t e = s > 0 ? 6 : 0;
    KEL_TRACE("\033[1;34m[c331_SetSharpness] :%04x\033[0m\n", value);
    wm(c331_fd, R(0x0C, 0x21, 1), 1, 1, 0);
    for (int w = 0; w < wincnt && w < kWindows; ++w) {
        const int input = kelApi_inputCvtC331(gWininfo[w].input);
        if (!port_ok(input) || PI_PORT_INFO[input].STATE == 0)
            continue;
        std::vector<int> L;
        for (int i = 0; i < std::min(gWininfo[w].totalh * gWininfo[w].totalv, 8); ++i)
            if (gWininfo[w].ochLst[i] < kChannels && PM_WIN_NUM[gWininfo[w].ochLst[i]] == w)
                L.push_back(gWininfo[w].ochLst[i]);
        for (int ch : L)
            wr(c331_fd, R(0x0B, 0x08, 1), e, 0x10 * ch);
        const float rH = IWIN[w].HW > 0 ? float(OWIN[w].HW) / float(IWIN[w].HW) : 0.f;
        uint32_t h[5] = {0, 0, 0, 0, 0};
        if (s > 0) {
            const uint32_t t[4][5] = {{36, 43, 58, 4, 5}, {30, 42, 0, 7, 0}, {28, 46, 5, 3, 60}, {44, 49, 56, 63, 2}};
            const int k = rH > 2.5f ? 0 : rH > 2.0f ? 1 : rH > 1.25f ? 2 : 3;
            std::copy(t[k], t[k] + 5, h);
        }
        set_rtct(c331_fd, 2);
        for (int ch : L) {
            for (uint32_t i = 0; i < 5; ++i)
                wr(c331_fd, R(0x0B, 0x0C + i, 1), h[i], 0x10 * ch);
            wr(c331_fd, R(0x0B, 0x09, 1), s > 0 ? g : 0, 0x10 * ch);
        }
        for (int ch : L)
            wr(c331_fd, R(0x0B, 0x11, 1), e, 0x10 * ch);
        // The rows the input side stores: a deinterlaced field's already doubled in IWIN.
        const float ih = float(IWIN[w].VW);
        const float rV = ih > 0 ? float(OWIN[w].VW) / ih : 0.f;
        uint32_t vc[5] = {0, 0, 0, 0, 0};
        if (s > 0) {
            const uint32_t t[4][5] = {{42, 48, 59, 0, 0}, {34, 47, 0, 0, 0}, {28, 45, 5, 0, 0}, {44, 50, 56, 0, 0}};
            const int k = rV > 2.5f ? 0 : rV > 2.0f ? 1 : rV > 1.25f ? 2 : 3;
            std::copy(t[k], t[k] + 5, vc);
        }
        for (int ch : L) {
            const int off = 0x10 * ch;
            wr(c331_fd, R(0x0B, 0x5E, 1), 1, off);
            for (uint32_t i = 0; i < 5; ++i)
                wr(c331_fd, R(0x0B, 0x15 + i, 1), vc[i], off);
            wr(c331_fd, R(0x0B, 0x12, 1), s > 0 ? g : 0, off);
        }
        set_rtct(c331_fd, 1);
    }
}
