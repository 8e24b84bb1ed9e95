// Layer mixing: the channels mixed onto each output cell in priority order, the mixers'
// routing words and opaque coefficients, and the fade of one window in coefficient steps.
#include "scaler/c331_manage.h"

#include "core/global.h"

#include <algorithm>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
constexpr int kMixers = 4;   // mixers that take coefficients
} // namespace

void c331_manage::update_overlay_info()
{
    for (int w = 0; w < kWindows; ++w) {
        int n = 0;
        for (int ch = 0; ch < kChannels; ++ch)
            if (PM_WIN_NUM[ch] == w)
                och_list[w][n++] = ch;
        while (n < kChannels)
            och_list[w][n++] = -1;
    }
    auto priority = [&](int ch) {
        const int w = PM_WIN_NUM[ch];
        return kelApi_IsWinValid(w) ? PM_OVERLAY_PRI[w] : 0;
    };
    for (int m = 0; m < kChannels; ++m) {
        int count = 0;
        for (int ch = 0; ch < kChannels && count < kChannels; ++ch)
            if (PM_OVERLAY[ch] >= 1 && PM_OVERLAY[ch] <= 8 && PM_OVERLAY[ch] == m + 1)
                g_och_layer[m][count++] = ch;
        g_och_layer_cnt[m] = count;
        for (int i = 0; i < count; ++i)
            for (int j = i + 1; j < count; ++j)
                if (priority(g_och_layer[m][i]) > priority(g_och_layer[m][j]))
                    std::swap(g_och_layer[m][i], g_och_layer[m][j]);
    }
}

void c331_manage::set_overlay(int fd)
{
    for (int m = 0; m < kChannels; ++m) {
        uint32_t word = 0;
        for (int k = 0; k < g_och_layer_cnt[m] && k < kChannels; ++k)
            word |= uint32_t(g_och_layer[m][k] + 8) << (4 * k);
        wr(fd, R(0x0E, 0x08, 4), word, 0x10 * m);
    }
}

void c331_manage::reset_layer_coef(int fd, int mode)
{
    const uint32_t layerMode = mode == 1 ? 256 : mode == 2 ? 512 : 0;
    for (int m = 0; m < kMixers; ++m) {
        const int off = 0x10 * m;
        const uint32_t v = g_och_layer_cnt[m] > 0 ? 128 : 0;
        for (uint32_t c = 0; c < 16; ++c) {
            int top = -1;
            for (int s = 3; s >= 0 && top < 0; --s)
                if (c & (1u << s))
                    top = s;
            wr(fd, R(0x0E, 0x11 + 5 * c, 1), c == 0 ? v : 0, off);
            for (int s = 0; s < 4; ++s)
                wr(fd, R(0x0E, 0x12 + 5 * c + uint32_t(s), 1), s == top ? v : 0, off);
            wr(fd, R(0x0E, 0x0F, 2), layerMode, off);
        }
    }
}

void c331_manage::set_layer_coef(int fd, int win, int cnt, int dir)
{
    KEL_TRACE("set_layer_coef  win=%d  cnt=%d  dir=%d\n", win, cnt, dir);
    if (cnt < 0)
        return;
    // A fade length from the block is bounded: each step waits for an output update.
    cnt = std::min(cnt, kMaxFadeSteps);
    PovsOperation waits(*this);
    for (int i = 0; i <= cnt; ++i) {
        int mine, beneath;
        if (cnt == 0) {
            mine = dir ? 128 : 0;
            beneath = 128 - mine;
        } else if (dir) {
            mine = (i * 128) / cnt;
            beneath = 128 - mine;
        } else {
            beneath = (i * 128) / cnt;
            mine = 128 - beneath;
        }
        wr(fd, R(0, 0x22, 1), 0xFF);
        wr(fd, R(0, 0x23, 1), 0xFF);
        for (int m = 0; m < kMixers; ++m) {
            const int count = std::min(g_och_layer_cnt[m], kChannels);
            if (count == 0)
                continue;
            int p = -1;
            for (int k = 0; k < count; ++k) {
                const int ch = g_och_layer[m][k];
                if (ch >= 0 && ch < kChannels && PM_WIN_NUM[ch] == win)
                    p = k;
            }
            if (p < 0)
                continue;
            const int off = 0x10 * m;
            uint32_t layerMode = 0;
            if (p >= 4) {
                layerMode = p == 4 ? 256 : 512;
                p = 3;
            }
            wr(fd, R(0x0E, 0x0F, 2), layerMode, off);
            for (uint32_t c = 1; c < 16; ++c) {
                if (!(c & (1u << p)) || c >= (1u << (p + 1)))
                    continue;
                wr(fd, R(0x0E, 0x12 + 5 * c + uint32_t(p), 1), uint32_t(mine), off);
                int lower = -1;
                for (int q = p - 1; q >= 0 && lower < 0; --q)
                    if (c & (1u << q))
                        lower = q;
                const uint32_t reg = lower >= 0 ? 0x12 + 5 * c + uint32_t(lower) : 0x11 + 5 * c;
                wr(fd, R(0x0E, reg, 1), uint32_t(beneath), off);
            }
        }
        wr(fd, R(0, 0x22, 1), 0xA9);
        wr(fd, R(0, 0x23, 1), 0xCB);
        wait1_povs(fd, 0);
    }
}
