// Test patterns: the output channels' pattern generators replace the picture of the single
// window with one of twenty built-in patterns. While one is shown the inputs are not
// followed.
#include "scaler/c331_manage.h"

#include "core/global.h"

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}

// The pattern registers of an output channel (bank 0x08), in order, with their widths.
struct PatternReg {
    uint32_t reg, bytes;
};
constexpr PatternReg kRegs[14] = {{0x57, 1}, {0x58, 1}, {0x59, 1}, {0x5A, 1}, {0x5B, 2}, {0x5D, 2}, {0x5F, 2},
                                  {0x61, 2}, {0x63, 1}, {0x64, 1}, {0x65, 1}, {0x66, 1}, {0x67, 1}, {0x68, 1}};
constexpr int kWide = 2048;        // a window wider than this runs the generator in its wide mode
constexpr uint32_t kWideMode = 32768;

// The values of one pattern for registers 0x57..0x68 in the order of kRegs; -1 leaves the
// register at the 0 it was cleared to. Register 0x5B (index 4) of the solid colours and of
// the two line patterns depends on the window and the channel and is filled in by the caller.
constexpr int kSolid = -2, kOwnKind = -3;
constexpr int kPatterns[20][14] = {
    {4, -1, -1, -1, kSolid, -1, -1, -1, 255, 0, 0, 3, 3, 3},
    {4, -1, -1, -1, kSolid, -1, -1, -1, 0, 255, 0, 3, 3, 3},
    {4, -1, -1, -1, kSolid, -1, -1, -1, 0, 0, 255, 3, 3, 3},
    {4, -1, -1, -1, kSolid, -1, -1, -1, 255, 255, 255, 3, 3, 3},
    {4, -1, -1, -1, kSolid, -1, -1, -1, 0, 0, 0, 3, 3, 3},
    {1, 0, 0, 0, 32768, 0, 480, 0, 255, 255, 255, 3, 3, 3},
    {14, -1, -1, -1, kOwnKind, -1, 1, -1, 255, 255, 255, 3, 3, 3},
    {15, -1, -1, -1, kOwnKind, -1, -1, 1, 255, 255, 255, 3, 3, 3},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
    {8, 48, 0, 0, 32768, 0, 32, 32, 255, 255, 255, 3, 3, 3},
    {5, 0, 0, 0, 32768, 0, 240, 270, 255, 255, 255, 3, 3, 3},
    {14, 0, 0, 0, 32768, 0, 1, 0, 255, 255, 255, 3, 3, 3},
    {1, 0, 0, 0, 32768, 0, 480, 0, 255, 255, 255, 3, 3, 3},
    {3, 0, 1, 0, 32768, 0, 36863, 0, 0, 120, 0, 0, 0, 0},
    {3, 2, 1, 1, 32768, 0, 36863, 36863, 0, 120, 0, 0, 0, 0},
    {6, 0, 0, 0, 32768, 0, 960, 0, 255, 255, 255, 3, 3, 3},
    {9, 0, 0, 0, 32917, 0, 4, 3840, 255, 255, 255, 3, 3, 3},
    {2, 0, 0, 0, 32768, 0, 0, 270, 255, 255, 255, 3, 3, 3},
    {3, 1, 1, 1, 32768, 0, 0, 20479, 255, 255, 255, 3, 3, 3},
};
} // namespace

int c331_manage::c331_SetPattern(int v)
{
    record_call("c331_SetPattern(" + std::to_string(v) + ")");
    const int fd = c331_fd;
    const ST_WIN_INFO& w0 = gWininfo[0];
    const int cells = w0.totalh * w0.totalv;
    KEL_TRACE("\r\n[c331_SetPattern] pattern:%d,chcnt=%d\r\n", v, cells);
    auto clear = [&](int ch) {
        for (const PatternReg& r : kRegs)
            wr(fd, R(0x08, r.reg, r.bytes), 0, 0x10 * ch);
    };

    if (v == 0) {
        // Off always ends the pattern and clears every channel's generator: the window
        // layout may have changed since the pattern was put on, so the channels that show
        // it need not be window 0's any more.
        set_rtct(fd, 2);
        for (int ch = 0; ch < kChannels; ++ch)
            clear(ch);
        pattern_gen_on = 0;
        KEL_TRACE("    turn off pattern\r");
        set_input_bkg2(fd, 0, 0);
        set_rtct(fd, 1);
        return 0;
    }
    if (wincnt > 1) {
        KEL_TRACE("\t wincnt:%d OOR, return fail\r\n", wincnt);
        return -1;
    }

    set_rtct(fd, 2);
    for (int i = 0; i < cells && i < kChannels; ++i)
        if (w0.ochLst[i] < kChannels)
            clear(w0.ochLst[i]);
    const int index = ((v - 1) % 20 + 20) % 20;
    KEL_TRACE("    kel pattern Idx:%d \r\n", index);
    pattern_gen_on = 1;
    set_input_bkg2(fd, 0, 0);
    const bool wide = w0.width > kWide;
    for (int i = 0; i < cells && i < kChannels; ++i) {
        const int ch = w0.ochLst[i];
        if (ch >= kChannels)
            continue;
        for (int r = 0; r < 14; ++r) {
            int value = kPatterns[index][r];
            if (value == kSolid)
                value = wide ? int(kWideMode) : i == 0 ? 0 : 3;
            else if (value == kOwnKind)
                value = wide ? int(kWideMode) : kPatterns[index][0];
            if (value >= 0)
                wr(fd, R(0x08, kRegs[r].reg, kRegs[r].bytes), uint32_t(value), 0x10 * ch);
        }
    }
    set_rtct(fd, 1);
    return 0;
}
