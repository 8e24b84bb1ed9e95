// Window re-programming: the whole picture path of every changed window, under a held
// frame (freeze) or, for a single window that asks for it, a fade through the mixers.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
constexpr int kSharpness = 2180;   // the parameter block's sharpness word
constexpr int kWidthLimit = 2176;   // input-side scaler width when the transmitter is in mode 2
} // namespace

void c331_manage::set_output(int fd)
{
    record_call("set_output()");
    PovsOperation waits(*this);

    // 1. Input channels and joined memory, handed out from the layout; a window that asks
    // and was given no channels holds none: the channels of an earlier layout carry another
    // source and would be read as this window's picture.
    hand_out_inputs();
    for (int w = 0; w < kWindows; ++w) {
        const int out = g_chg_output[w];
        const bool asks = out == 1 || out == 3 || g_chg_input[w] || g_chg_shape[w];
        if (asks && (!win_active(w) || ich_list[w][0] < 0)) {
            g_chg_output[w] = 0;
            g_chg_input[w] = 0;
            reset_dbd_mem(w);
            g_chg_och[w] = 1;   // and its cells go dark now, not when it next changes
        }
    }

    // 2. Fade or freeze.
    int fading = 0, f = -1;
    for (int w = 0; w < kWindows; ++w)
        if (g_chg_output[w] == 1 && PM_WIN_FADE_EN[w]) {
            ++fading;
            f = w;
        }
    check_stitching_chg();
    bool fade = fading == 1;
    for (int w = 0; w < kWindows; ++w)
        if (g_chg_output[w] == 2 || g_chg_output[w] == 3 || g_chg_input[w] == 1 || g_chg_shape[w] == 1 ||
            (g_chg_output[w] == 1 && !PM_WIN_FADE_EN[w]))
            fade = false;
    bool active[kWindows];
    for (int w = 0; w < kWindows; ++w)
        active[w] = g_chg_shape[w] || g_chg_output[w] || g_chg_input[w];

    // 3. Hold the old picture, or fade the one window out.
    if (g_chg_overlay || !fade)
        set_freeze(fd, 1);
    else
        set_layer_coef(fd, f, PM_WIN_FADE_OUT[f], 0);

    // 4. Input side of every changed window.
    for (int w = 0; w < kWindows; ++w) {
        venl_marker[w] = 1;
        width_limited[w] = limit_hw[w] = height_limited[w] = limit_vw[w] = 0;
        if (!active[w])
            continue;
        calc_iwin2(w);
        calc_owin2(w);
        if (PS_VBOTX_MODE == 2 && OWIN[w].VW > IWIN[w].VW)
            venl_marker[w] = 0;
        if (PM_WIN_DBD_MODE[w] != 0) {
            set_display_window_ich_dbd(fd, w);
        } else if (PS_VBOTX_MODE == 2 && IWIN[w].HW > kWidthLimit && OWIN[w].HW > kWidthLimit &&
                   OWIN[w].VW > IWIN[w].VW) {
            // The input side reduces to the limit; the output side does the rest.
            _ImageWindowDef_st out = OWIN[w];
            out.HW = kWidthLimit;
            set_display_window_ich(fd, IWIN[w], out, w);
            if (!width_limited[w]) {
                width_limited[w] = stored_pixels(IWIN[w], kWidthLimit);
                limit_hw[w] = kWidthLimit;
            }
        } else {
            set_display_window_ich(fd, IWIN[w], OWIN[w], w);
        }
    }

    // 5.
    reset_act(fd, 0);
    wait1_pivs2(fd);
    wait1_pivs2(fd);
    set_rtct(fd, 2);

    // 6. Output side.
    for (int w = 0; w < kWindows; ++w) {
        if (!active[w] && !g_chg_och[w])
            continue;
        _ImageWindowDef_st in = IWIN[w];
        // The input side stored the picture reduced from its first pixel (line): the crop
        // starts where its first pixel landed, read from there for the size the input side
        // produced, ending at its last stored pixel (line) at most.
        auto limited = [](int32_t& st, int32_t& size, int to, int kept) {
            const int64_t f = (int64_t(to - 1) << 16) / (size - 1) + 1;
            st = st > 0 ? int(((f * (st - 1)) >> 16) + 1) : 0;
            st = std::max(std::min(st, kept - to), 0);
            size = to;
        };
        if (width_limited[w])
            limited(in.HST, in.HW, limit_hw[w], width_limited[w]);
        if (height_limited[w])
            limited(in.VST, in.VW, limit_vw[w], height_limited[w]);
        set_display_window_och(fd, in, OWIN[w], w);
        set_input_bkg2(fd, w, 0);
    }

    // 7. Layers.
    if (g_chg_overlay || g_chg_layer) {
        update_overlay_info();
        set_overlay(fd);
        reset_layer_coef(fd, 0);
        g_chg_overlay = 0;
        g_chg_layer = 0;
    }

    // 8, 9.
    reset_act(fd, 1);
    if (fade)
        set_layer_coef(fd, f, PM_WIN_FADE_IN[f], 1);
    else
        set_freeze(fd, 0);
    set_rtct(fd, 1);

    // 10.
    std::memcpy(prev_win_num, PM_WIN_NUM, sizeof prev_win_num);
    std::memcpy(prev_ich_list, ich_list, sizeof prev_ich_list);

    // 11.
    for (int w = 0; w < kWindows; ++w) {
        g_chg_shape[w] = g_chg_output[w] = g_chg_input[w] = g_chg_och[w] = 0;
        g_chg_stitch[w][0] = 0;
    }

    // A window whose output word says frozen stays frozen through the rebuild (the input
    // side was just set to capture again).
    for (int w = 0; w < wincnt && w < kWindows; ++w)
        if (gWininfo[w].blackfreeze & 2)
            win_freeze_sel(fd, w, 2);

    // Sharpness lives in the channels a window holds and follows its scaling ratio: a window
    // that moved, came on or scales otherwise takes the setting again (the start-up sets it
    // once every window is up).
    if (c331_stage >= 8)
        if (const uint8_t* ram = block_source())
            c331_SetSharpness(KelRamPara::get16(ram + kSharpness));
}

void c331_manage::set_freeze(int fd, int on)
{
    if (on) {
        struct Held {
            int win, ich;
        };
        std::vector<Held> held;
        for (int w = 0; w < kWindows; ++w) {
            if (!(g_chg_shape[w] || g_chg_output[w] || g_chg_input[w]))
                continue;
            const int ich = prev_ich_list[w][0] >= 0 ? prev_ich_list[w][0] : ich_list[w][0];
            // A window without an input channel has no capture to hold; the first one that
            // has gives the field the others are held on.
            if (ich >= 0 && ich < kChannels)
                held.push_back({w, ich});
        }
        set_rtct(fd, 0);
        if (held.empty())
            return;
        auto field = [&](int ich) { return int((rd(fd, R(0xAB, 0x47 + uint32_t(ich), 1)) >> 2) & 3); };
        const int first = held[0].ich;
        wr(fd, R(0x10, 0x09, 1), 2, 0x10 * first);
        const int fld = field(first);
        // The other windows are held on the same field as the first.
        std::vector<Held> waiting(held.begin() + 1, held.end());
        // A field lasts some 16-20 ms: the passes are 1 ms apart, so the bound covers a
        // dozen fields and a window in another phase passes through the first one's field.
        for (int pass = 0; pass < 250 && !waiting.empty(); ++pass) {
            if (pass > 0)
                Sleep(1);
            for (auto it = waiting.begin(); it != waiting.end();) {
                if (field(it->ich) == fld) {
                    wr(fd, R(0x10, 0x09, 1), 2, 0x10 * it->ich);
                    it = waiting.erase(it);
                } else {
                    ++it;
                }
            }
        }
        // Those that never came round are held as they are: a capture left running would
        // overwrite the frame the output is told to hold.
        for (const Held& h : waiting)
            wr(fd, R(0x10, 0x09, 1), 2, 0x10 * h.ich);
        for (const Held& h : held)
            for (int i = 0; i < kChannels && prev_ich_list[h.win][i] >= 0; ++i)
                wr(fd, R(0, 0x08 + uint32_t(prev_ich_list[h.win][i]), 1), 1);
        wait1_povs(fd, 0);

        // Each window holds the frame its own buffers finished last, by its own field record
        // (records of windows changed apart need not agree): the entry before the field it
        // was held in goes to the spare, which its output channels then read.
        bool swapped[kWindows] = {};
        int spare[kWindows] = {};
        for (const Held& h : held) {
            const int master = kelApi_IsWinValid(PM_WIN_STITCHING[h.win]) ? PM_WIN_STITCHING[h.win] : h.win;
            int32_t* r = field_rec[master];
            const bool late = std::any_of(waiting.begin(), waiting.end(), [&](const Held& x) { return x.win == h.win; });
            if (!swapped[master])
                std::swap(r[((late ? field(h.ich) : fld) + 3) % 4], r[4]);
            swapped[master] = true;
            const uint32_t order = uint32_t(r[0]) | uint32_t(r[1]) << 4 | uint32_t(r[2]) << 8 |
                                   uint32_t(r[3]) << 12 | uint32_t(r[4]) << 16;
            for (int i = 0; i < kChannels && ich_list[h.win][i] >= 0; ++i)
                wr(fd, R(0x16, 0x66, 3), order, 0x10 * ich_list[h.win][i]);
            frozen[h.win] = 1;
            spare[h.win] = r[4];
        }
        for (int ch = 0; ch < kChannels; ++ch)
            for (const Held& h : held)
                if (prev_win_num[ch] == h.win) {
                    const uint32_t b = uint32_t(spare[h.win]);
                    wr(fd, R(0x16, 0x6C, 2), b | b << 4 | b << 8 | b << 12, 0x10 * ch);
                    break;
                }
        return;
    }
    for (int w = 0; w < kWindows; ++w) {
        const int master = kelApi_IsWinValid(PM_WIN_STITCHING[w]) ? PM_WIN_STITCHING[w] : w;
        const int32_t* r = field_rec[master];
        const uint32_t order = uint32_t(r[3]) | uint32_t(r[0]) << 4 | uint32_t(r[1]) << 8 | uint32_t(r[2]) << 12;
        for (int ch = 0; ch < kChannels; ++ch)
            if (PM_WIN_NUM[ch] == w)
                wr(fd, R(0x16, 0x6C, 2), order, 0x10 * ch);
        frozen[w] = 0;
    }
}

void c331_manage::wait1_povs(int fd, int ch)
{
    if (ch < 0 || ch >= kChannels)
        return;
    const unsigned bit = 1u << ch;
    wr(fd, R(5, 0x09, 1), bit);
    wr(fd, R(0, 0x29, 1), 0x80);
    // Outside an operation a wait stands alone: an earlier time-out does not skip it.
    if (!(povs_depth > 0 && povs_timed_out) && !(rd(fd, R(5, 0x23, 1)) & bit)) {
        bool taken = false;
        for (int poll = 0; poll < 70000 && !taken; ++poll) {
            Sleep(1);
            taken = (rd(fd, R(5, 0x23, 1)) & bit) != 0;
        }
        if (!taken) {
            KEL_TRACE("[wait1_povs] och_%d update not taken\n", ch);
            povs_timed_out = true;
        }
    }
    wr(fd, R(5, 0x09, 1), 0);
    wr(fd, R(0, 0x29, 1), 0);
}

void c331_manage::reset_act(int fd, int mode)
{
    if (mode == 0 || mode == 2)
        for (int c = 0; c < kChannels; ++c)
            if (ich_owner[c] < 0)
                wr(fd, R(0x10, 0x19, 2), 0, 0x10 * c);
    if (mode == 1 || mode == 2)
        for (int c = 0; c < kChannels; ++c) {
            const int w = PM_WIN_NUM[c];
            const bool used = kelApi_IsWinValid(w) && PM_WIN_SHAPE[w][0] && PM_WIN_SHAPE[w][1] &&
                              PM_AREA_NUM[c] < PM_WIN_SHAPE[w][0] * PM_WIN_SHAPE[w][1];
            if (!used)
                wr(fd, R(0x08, 0x42, 2), 0, 0x10 * c);
        }
}

void c331_manage::win_freeze_sel(int fd, int win, int flags)
{
    if (!kelApi_IsWinValid(win))
        return;
    const int ch = ich_list[win][0];
    if (ch < 0 || ch > 7)
        return;
    wr(fd, R(0x10, 0x09, 1), (flags & 2) ? 2 : 1, 0x10 * ch);
}
