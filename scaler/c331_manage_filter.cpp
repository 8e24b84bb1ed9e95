// Scaling filter tables (chosen by the scaling ratio) and the channel control of a window's
// channels: their sync sources, memory packing and noise-reduction enable.
#include "scaler/c331_manage.h"

#include "core/global.h"

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
} // namespace

// Vertical 4-tap shrink coefficients, rows 1-9 (row 0 unused); bytes 9-24 are signed.
const int32_t c331_manage::lut[10][24] = {
    {0},
    {0, 0, 0, 0, 0, 0, 0, 0, 13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 10, 11, 12, 13, 14, 15, 16, 20, 17, 17, 18, 19, 20, 21, 21, 24},
    {0, 0, 0, 0, 0, 0, 0, 0, 6, 8, 9, 11, 12, 14, 15, 19, 18, 19, 20, 21, 23, 23, 25, 26},
    {0, 0, 0, 0, 0, 0, 0, 0, 1, 3, 5, 8, 10, 12, 15, 17, 19, 21, 22, 24, 27, 28, 29, 30},
    {0, 0, 0, 0, 0, 0, 0, 0, 253, 255, 0, 3, 6, 10, 13, 16, 20, 23, 26, 29, 32, 32, 34, 32},
    {0, 0, 0, 0, 0, 0, 0, 0, 248, 249, 252, 255, 1, 5, 10, 13, 20, 25, 29, 33, 38, 41, 42, 38},
    {0, 0, 0, 0, 0, 0, 0, 0, 246, 245, 246, 248, 252, 0, 5, 10, 18, 26, 33, 40, 45, 49, 51, 44},
    {0, 0, 0, 0, 0, 0, 0, 0, 247, 244, 242, 243, 245, 250, 0, 5, 15, 25, 35, 45, 54, 57, 58, 54},
    {0, 0, 0, 0, 0, 0, 0, 0, 252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64},
};

int c331_manage::shrink_filter_index(int ratio)
{
    if (ratio <= 0)
        return 44;
    static const struct {
        int upTo, index;
    } steps[] = {{13107, 1},  {26214, 2},  {32768, 4},  {39321, 6},  {45875, 8},  {49152, 12},
                 {52428, 17}, {55705, 22}, {58982, 27}, {62259, 32}, {65000, 38}};
    for (const auto& s : steps)
        if (ratio <= s.upTo)
            return s.index;
    return 44;
}

void c331_manage::set_lut_hshrnk(int fd, int ratio, int ch, int both)
{
    if (ch < 0 || ch > 7)
        return;
    wr(fd, R(0, 0x79, 1), uint32_t(shrink_filter_index(ratio)));
    wr(fd, R(0, 0x7A, 1), uint32_t(131 + 4 * ch));
    if (both)
        wr(fd, R(0, 0x7A, 1), uint32_t(135 + 4 * ch));
}

void c331_manage::set_lut_vshrnk_4sym(int fd, int ratio, int ch, int both)
{
    if (ch < 0 || ch > 7)
        return;
    int row;
    if (ratio >= 62260) row = 9;
    else if (ratio >= 58983) row = 8;
    else if (ratio >= 52429) row = 7;
    else if (ratio >= 45876) row = 6;
    else if (ratio > 39321) row = 5;
    else if (ratio >= 32769) row = 4;
    else if (ratio >= 26215) row = 3;
    else if (ratio >= 13108) row = 2;
    else row = 1;
    for (uint32_t i = 0; i < 24; ++i) {
        wr(fd, R(0x11, 0x68 + i, 1), uint32_t(lut[row][i]) & 0xFF, 0x10 * ch);
        if (both)
            wr(fd, R(0x21, 0x68 + i, 1), uint32_t(lut[row][i]) & 0xFF, 0x10 * ch);
    }
}

void c331_manage::set_lut_vshrnk(int fd, int ratio, int ch)
{
    if (ch < 0 || ch > 5)
        return;
    wr(fd, R(0, 0x79, 1), uint32_t(shrink_filter_index(ratio)));
    if (ch >= 4) {
        wr(fd, R(0, 0x7A, 1), uint32_t(146 + 8 * (ch - 4)));
        wr(fd, R(0, 0x7A, 1), uint32_t(150 + 8 * (ch - 4)));
    } else if (port_packing(ich_owner[ch] >= 0 ? PM_INPUT[ich_owner[ch]] : 6) < 4) {
        wr(fd, R(0, 0x7A, 1), uint32_t(130 + 4 * ch));
    } else {
        wr(fd, R(0, 0x7A, 1), uint32_t(130 + 8 * (ch / 2)));
        wr(fd, R(0, 0x7A, 1), uint32_t(134 + 8 * (ch / 2)));
    }
}

void c331_manage::set_lut_hzoom(int fd, int, int ch)
{
    if (ch < 0 || ch > 7)
        return;
    wr(fd, R(0, 0x79, 1), 46);
    wr(fd, R(0, 0x7A, 1), uint32_t(129 + 4 * ch));
}

void c331_manage::set_iscwct(int fd, int win)
{
    if (!kelApi_IsWinValid(win))
        return;
    const int master = kelApi_IsWinValid(PM_WIN_STITCHING[win]) ? PM_WIN_STITCHING[win] : win;
    const int mode = PM_MEM_WMODE[master];
    const uint32_t v = mode == 1 ? 128 : mode == 2 ? 1 : mode == 3 ? 17 : 0;
    for (int i = 0; i < kChannels && ich_list[win][i] >= 0; ++i)
        wr(fd, R(0, 0x71 + uint32_t(ich_list[win][i]), 1), v);
}

void c331_manage::set_mct(int fd, int win, int mode)
{
    if (!kelApi_IsWinValid(win))
        return;
    const int dbd = PM_WIN_DBD_MODE[win];
    int input;
    if (dbd == 22 || dbd == 23)
        input = 2;
    else if (dbd == 50 || dbd == 51)
        input = 4;
    else if (dbd == 0 || dbd == 1)
        input = PM_INPUT[win];
    else
        input = 0;
    if (!port_ok(input))
        return;
    const int c0 = ich_list[win][0];
    if (c0 < 0 || c0 >= kChannels)
        return;
    const uint32_t S = PI_PORT_INFO[input].STATE != 0 ? 17 : 1;
    auto followers = [&] {
        for (int i = 1; i < kChannels && ich_list[win][i] >= 0; ++i) {
            const int c = ich_list[win][i];
            wr(fd, R(0, 0x08 + uint32_t(c), 1), S);
            wr(fd, R(0x10, 0x09, 1), uint32_t(c0 + 8), 0x10 * c);
        }
    };
    if (input >= 4) {
        wr(fd, R(0, 0x08 + uint32_t(c0), 1), S);
        wr(fd, R(0x10, 0x09, 1), 1, 0x10 * c0);
        followers();
        return;
    }
    const bool B = PM_BNR[input] != 0;
    const int O = PM_HNR[input] | PM_VNR[input] | PM_TNR[input] | PM_MNR[input];
    const int scan = port_interlaced(input);
    int n, m, f, k;
    if (mode == 0 && B) {
        n = 2; m = 14; f = scan ? 0 : 1; k = scan;
    } else if (mode == 0 && scan) {
        n = O; m = 14; f = 0; k = 1;
    } else if (mode == 0) {
        n = O; m = 0; f = 1; k = 0;
    } else if (B) {
        n = 2; m = 14; f = 1; k = 0;
    } else {
        n = O; m = 0; f = 1; k = 0;
    }
    if (!B && n != 0) {
        n = 1;
        m = 14;
    }
    wr(fd, R(0, 0x08 + uint32_t(c0), 1), S | uint32_t((c0 <= 3 && (dbd == 0 || dbd == 1)) ? m : 0));
    wr(fd, R(0x10, 0x09, 1), uint32_t(f), 0x10 * c0);
    if (n != nren_old[input]) {
        nren_old[input] = n;
        if (!k)
            wr(fd, R(0x15, 0x08, 1), n == 0 ? 0 : n == 1 ? 1 : 3, 0x10 * c0);
    }
    followers();
}
