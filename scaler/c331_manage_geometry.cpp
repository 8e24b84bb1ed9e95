// Window geometry: the part of the input a window takes (IWIN), where it lands (OWIN,
// relative to the window's first output-channel cell), its slices per cell, the scaling
// between the two and the stitching roles of windows that share a processing chain.
#include "scaler/c331_manage.h"

#include "core/global.h"

#include <algorithm>

int c331_manage::dbd_width(int port) const
{
    return usable_width(port);
}

int c331_manage::dbd_height(int port) const
{
    return port_ok(port) ? PI_ACT[port].VW : 0;
}

void c331_manage::calc_iwin2(int win)
{
    if (!kelApi_IsWinValid(win))
        return;
    _ImageWindowDef_st& in = IWIN[win];
    in = _ImageWindowDef_st{0, 0, 0, 0};
    if (PM_WIN_SHAPE[win][0] == 0 || PM_WIN_SHAPE[win][1] == 0)
        return;
    const int p = PM_INPUT[win];
    const int mode = PM_WIN_DBD_MODE[win];
    // A window without an input port (above 5) or without a picture on it has no input
    // window.
    if (!port_ok(p) || PI_ACT[p].HW == 0 || PI_ACT[p].VW == 0) {
        KEL_TRACE("calc_iwin2 IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, 0, 0, 0, 0);
        return;
    }
    const int ich = ich_list[win][0];
    const bool lowIch = ich >= 0 && ich <= 3;
    auto w = [&](int q) { return dbd_width(q); };
    auto h = [&](int q) { return dbd_height(q); };
    switch (mode) {
    case 0: {
        const int W = PI_ACT[p].HW * (port_packing(p) == 1 ? 2 : 1);
        if (!PM_INPUT_OFFSET_EN[win]) {
            in.HW = W;
            in.VW = PI_ACT[p].VW * ((port_interlaced(p) && lowIch) ? 2 : 1);
        } else {
            // Only ICH 0-3 deinterlace: elsewhere a field is stored as it comes. The crop's
            // margins are in the field's lines, so they double with the stored height.
            const int lines = (port_interlaced(p) && lowIch) ? 2 : 1;
            const int H = PI_ACT[p].VW * lines;
            const int L = PM_INPUT_OFFSET[win][0], R = PM_INPUT_OFFSET[win][1];
            const int T = PM_INPUT_OFFSET[win][2] * lines, B = PM_INPUT_OFFSET[win][3] * lines;
            // A width that falls back to the whole input starts at 0 as well, so the input
            // window never reaches past the input (likewise vertically).
            in.HST = L < W ? L : 0;
            in.HW = W - L - R;
            if (in.HW <= 0) {
                in.HW = W;
                in.HST = 0;
            }
            in.VST = T < H ? T : 0;
            in.VW = H - T - B;
            if (in.VW <= 0) {
                in.VW = H;
                in.VST = 0;
            }
        }
        break;
    }
    case 1:
        in.HW = w(p);
        in.VW = h(p) * ((port_interlaced(p) && lowIch) ? 2 : 1);
        break;
    // Joined ports: only what every one of them fills, so ports of unequal sizes leave no
    // part of the joined picture unwritten (side by side the lowest sets the height, one above
    // the other the narrowest the width; in quadrants the left column alone unless the right
    // one is as full).
    case 20: in.HW = w(0) + w(1); in.VW = std::min(h(0), h(1)); break;
    case 21: in.HW = std::min(w(0), w(1)); in.VW = h(0) + h(1); break;
    case 22: in.HW = w(2) + w(3); in.VW = std::min(h(2), h(3)); break;
    case 23: in.HW = std::min(w(2), w(3)); in.VW = h(2) + h(3); break;
    case 30: in.HW = w(0) + w(1) + w(2); in.VW = std::min({h(0), h(1), h(2)}); break;
    case 40: in.HW = w(0) + w(1) + w(2) + w(3); in.VW = std::min({h(0), h(1), h(2), h(3)}); break;
    case 41:
        in.HW = std::min(w(0), w(2));
        in.VW = h(0) + h(2);
        if (w(2) >= w(0) && h(1) >= h(0)) {
            in.HW = w(0) + std::min(w(1), w(3));
            in.VW = h(0) + std::min(h(2), h(3));
        }
        break;
    case 50: in.HW = w(4) + w(5); in.VW = std::min(h(4), h(5)); break;
    case 51: in.HW = std::min(w(4), w(5)); in.VW = h(4) + h(5); break;
    default: break;
    }
    KEL_TRACE("calc_iwin2 IWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, in.HST, in.HW, in.VST, in.VW);
}

void c331_manage::calc_owin2(int win)
{
    if (!kelApi_IsWinValid(win))
        return;
    _ImageWindowDef_st& out = OWIN[win];
    _ImageWindowDef_st& in = IWIN[win];
    out = _ImageWindowDef_st{0, 0, 0, 0};
    if (PM_WIN_SHAPE[win][0] > 0)
        out.HW = PS_ACTHW * PM_WIN_SHAPE[win][0];
    if (PM_WIN_SHAPE[win][1] > 0)
        out.VW = PS_ACTVW * PM_WIN_SHAPE[win][1];
    out.HST = PM_WIN_OFFSET[win][0];
    out.HW -= PM_WIN_OFFSET[win][0] + PM_WIN_OFFSET[win][1];
    out.VST = PM_WIN_OFFSET[win][2];
    out.VW -= PM_WIN_OFFSET[win][2] + PM_WIN_OFFSET[win][3];
    if (PM_WIN_DBD_MODE[win] == 0) {
        out.HW = std::max(out.HW, 0);
        out.VW = std::max(out.VW, 0);
    } else if (PM_WIN_DBD_MODE2[win]) {
        in.HW = std::min(in.HW, out.HW);
        in.VW = std::min(in.VW, out.VW);
        if (in.HW < 1)
            out.HW = in.HW;
        if (in.VW < 1)
            out.VW = in.VW;
    } else {
        in.HW = out.HW = std::min(in.HW, out.HW);
        in.VW = out.VW = std::min(in.VW, out.VW);
    }
    KEL_TRACE("calc_owin2 OWIN[%d]  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n", win, out.HST, out.HW, out.VST, out.VW);
}

void c331_manage::calc_oact(_ImageWindowDef_st owin, _ImageWindowDef2_St* slices, int win)
{
    if (!slices || !kelApi_IsWinValid(win))
        return;
    // One dimension: the slice of [st, st + w) in cell i of size c.
    auto cut = [](int i, int st, int w, int c, int32_t& sst, int32_t& sw) {
        const int r = st - i * c;
        const bool toEnd = st + w >= (i + 1) * c;
        if (r >= c) {
            sst = 0;
            sw = 0;
        } else if (r >= 0) {
            sst = r;
            sw = toEnd ? c - r : w;
        } else {
            sst = 0;
            sw = toEnd ? c : std::max(st + w - i * c, 0);
        }
    };
    const int cols = std::min(std::max(PM_WIN_SHAPE[win][0], 0), 8);
    const int rows = std::min(std::max(PM_WIN_SHAPE[win][1], 0), 8);
    for (int i = 0; i < 8; ++i)
        slices[i] = _ImageWindowDef2_St();
    for (int i = 0; i < cols; ++i)
        cut(i, owin.HST, owin.HW, PS_ACTHW, slices[i].hst, slices[i].hw);
    for (int i = 0; i < cols; ++i)
        if (slices[i].hw != 0) {
            slices[i].first_h = 1;
            break;
        }
    for (int i = cols - 1; i >= 0; --i)
        if (slices[i].hw != 0) {
            slices[i].last_h = 1;
            break;
        }
    for (int j = 0; j < rows; ++j)
        cut(j, owin.VST, owin.VW, PS_ACTVW, slices[j].vst, slices[j].vw);
    for (int j = 0; j < rows; ++j)
        if (slices[j].vw != 0) {
            slices[j].first_v = 1;
            break;
        }
    for (int j = rows - 1; j >= 0; --j)
        if (slices[j].vw != 0) {
            slices[j].last_v = 1;
            break;
        }
}

void c331_manage::calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt* result)
{
    if (!result)
        return;
    auto one = [](int a, int b, int32_t& mode, int32_t& reduce, int32_t& enlarge) {
        mode = reduce = enlarge = 0;
        if (a <= 0 || b <= 0 || a == b)
            return;
        if (a > b) {
            mode = 1;
            reduce = int32_t((int64_t(b - 1) << 16) / (a - 1) + 1);
        } else {
            mode = 2;
            enlarge = int32_t((int64_t(a - 1) << 16) / (b - 1) + 1);
        }
    };
    one(in.HW, out.HW, result->hmode, result->hreduce, result->henlarge);
    one(in.VW, out.VW, result->vmode, result->vreduce, result->venlarge);
}

void c331_manage::get_och(int win, int* och)
{
    if (!och)
        return;
    for (int i = 0; i < 8; ++i)
        och[i] = -1;
    for (int ch = 0; ch < kChannels; ++ch)
        if (PM_WIN_NUM[ch] == win && PM_AREA_NUM[ch] >= 0 && PM_AREA_NUM[ch] < 8)
            och[PM_AREA_NUM[ch]] = ch;
}

int c331_manage::check_stitching_win(int* win, int* partner)
{
    if (!win || !partner || !kelApi_IsWinValid(*win))
        return 0;
    const int* S = PM_WIN_STITCHING;
    const int w = *win;
    *partner = -1;
    if (S[w] == w) {
        for (int k = 0; k < kWindows; ++k)
            if (k != w && S[k] == w)
                *partner = k;
        return *partner >= 0 ? 1 : 0;
    }
    const int m = S[w];
    if (!kelApi_IsWinValid(m))
        return 0;
    *win = m;
    for (int k = 0; k < kWindows; ++k)
        if (k != m && S[k] == m)
            *partner = k;
    return (S[m] == m && *partner >= 0) ? 2 : 0;
}

int c331_manage::check_stitching_chg()
{
    int role = 0;
    for (int w = 0; w < kWindows; ++w) {
        int lead = w, partner = -1;
        role = check_stitching_win(&lead, &partner);
        if (g_chg_stitch[w][0] || g_chg_stitch[w][1])
            g_chg_shape[w] = 1;
        g_chg_stitch[w][1] = 0;
    }
    return role;
}
