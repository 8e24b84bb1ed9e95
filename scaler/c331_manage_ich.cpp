// The scaler's input channels (ICH 0-7): which window owns which channel, how channels are
// found for a window's input (pairs are kept whole where possible), and where each channel
// takes its picture from.
#include "scaler/c331_manage.h"

#include "core/global.h"

#include <algorithm>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}
} // namespace

bool c331_manage::win_active(int win) const
{
    return kelApi_IsWinValid(win) && PM_WIN_SHAPE[win][0] != 0 && PM_WIN_SHAPE[win][1] != 0;
}

int c331_manage::ich_demand(int win) const
{
    const int mode = PM_WIN_DBD_MODE[win];
    if (mode < 2) {
        const int port = PM_INPUT[win];
        if (!port_ok(port))
            return 0;
        return port >= 4 ? 2 : 1;
    }
    if (mode <= 29)
        return 2;
    if (mode <= 39)
        return 3;
    if (mode <= 51)
        return 4;
    return 0;
}

void c331_manage::rebuild_ich_lists()
{
    for (int w = 0; w < kWindows; ++w) {
        int n = 0;
        for (int c = 0; c < kChannels; ++c)
            if (ich_owner[c] == w)
                ich_list[w][n++] = c;
        while (n < kChannels)
            ich_list[w][n++] = -1;
    }
}

int c331_manage::check_ich_all(int win)
{
    int total = 0;
    for (int w = 0; w < kWindows; ++w)
        if (win_active(w))
            total += ich_demand(w);
    if (total > kChannels) {
        KEL_TRACE("check_ich_all ret=%d\n", -1);
        return -1;
    }
    for (int c = 0; c < kChannels; ++c) {
        const int owner = ich_owner[c];
        if (owner >= 0 && (!win_active(owner) || owner == win))
            ich_owner[c] = -1;
    }
    rebuild_ich_lists();
    KEL_TRACE("check_ich_all total=%d\n", total);
    return total;
}

int c331_manage::check_ich(int interlaced, int dual)
{
    auto isFree = [&](int c) { return ich_owner[c] < 0; };
    if (dual) {
        static const int pairs[4] = {4, 6, 2, 0};
        for (int p : pairs)
            if (isFree(p) && isFree(p + 1))
                return p;
        return -1;
    }
    if (isFree(0))
        return (!isFree(2) && isFree(3)) ? 3 : 0;
    if (isFree(2))
        return isFree(1) ? 1 : 2;
    if (isFree(1))
        return 1;
    if (isFree(3))
        return 3;
    // Channels 0-3 are taken.
    if (interlaced)
        return -1;
    if (!isFree(4) && isFree(5))
        return 5;
    if (!isFree(6) && isFree(7))
        return 7;
    if (isFree(4))
        return 4;
    if (isFree(6))
        return 6;
    return -1;
}

int c331_manage::adjust_ich(int interlaced, int dual, int win)
{
    auto isFree = [&](int c) { return ich_owner[c] < 0; };
    auto firstFree = [&](const std::vector<int>& list) {
        for (int c : list)
            if (isFree(c))
                return c;
        return -1;
    };
    // Moves the occupant of channel from to channel to; the moved window is re-applied.
    auto move = [&](int from, int to) {
        const int owner = ich_owner[from];
        ich_owner[to] = owner;
        ich_owner[from] = -1;
        if (kelApi_IsWinValid(owner))
            g_chg_input[owner] = 2;
    };
    if (!dual) {
        if (!interlaced) {
            const int c = firstFree({0, 1, 2, 3, 4, 5, 6, 7});
            if (c >= 0) {
                ich_owner[c] = win;
                return 0;
            }
        } else {
            int c = firstFree({0, 1, 2, 3});
            if (c >= 0) {
                ich_owner[c] = win;
                return 0;
            }
            const int target = firstFree({4, 5, 6, 7});
            if (target >= 0) {
                for (int from = 0; from < 4; ++from) {
                    const int owner = ich_owner[from];
                    if (port_interlaced(kelApi_IsWinValid(owner) ? PM_INPUT[owner] : 6))
                        continue;
                    move(from, target);
                    ich_owner[from] = win;
                    return 0;
                }
                KEL_TRACE("ICH1-4 is not available!!!");
                ich_owner[target] = win;
                return 0;
            }
        }
    } else {
        // Complete a half-free pair by moving the occupant of its other half.
        struct Pair {
            int low;
            std::vector<int> targets;
        };
        const Pair pairs[3] = {{4, {6, 7, 0, 1, 2, 3}}, {6, {0, 1, 2, 3}}, {0, {2, 3}}};
        for (const Pair& p : pairs) {
            const bool lowFree = isFree(p.low), highFree = isFree(p.low + 1);
            if (lowFree == highFree)
                continue;
            const int occupied = lowFree ? p.low + 1 : p.low;
            const int target = firstFree(p.targets);
            if (target < 0)
                continue;
            move(occupied, target);
            ich_owner[p.low] = win;
            ich_owner[p.low + 1] = win;
            return 0;
        }
    }
    KEL_TRACE("adjust_ich NG!!!");
    return -1;
}

int c331_manage::set_input(int win, int port)
{
    if (!kelApi_IsWinValid(win))
        return 2;
    const int mode = PM_WIN_DBD_MODE[win];
    if (!win_active(win)) {
        KEL_TRACE("[set_input] win_%d, port_%d, window is unavailable\n", win, port);
        return 2;
    }
    if (check_ich_all(win) < 0) {
        KEL_TRACE("[set_input] win_%d, check_ich_all(win) fail\n", win);
        return 2;
    }
    int result = 0;
    if (mode < 2) {
        if (!port_ok(port)) {
            rebuild_ich_lists();
            return 2;
        }
        const int ip = port_interlaced(port);
        const bool dual = port >= 4;
        const int c = check_ich(ip, dual);
        if (c >= 0) {
            ich_owner[c] = win;
            if (dual)
                ich_owner[c + 1] = win;
        } else if (adjust_ich(ip, dual, win) == 0) {
            result = 1;
        } else {
            result = 2;
        }
    } else {
        const int need = mode <= 29 ? 2 : mode <= 39 ? 3 : mode <= 51 ? 4 : 0;
        if (need == 0) {
            KEL_TRACE("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", win, port);
            rebuild_ich_lists();
            return 2;
        }
        for (int i = 0; i < need; ++i) {
            const int c = check_ich(0, 0);
            if (c >= 0) {
                ich_owner[c] = win;
            } else if (adjust_ich(0, 0, win) == 0) {
                result = 1;
            } else {
                KEL_TRACE("set_input Dot-By-Dot Rare Case!!!   win=%d  port=%d\n", win, port);
                result = 2;
                break;
            }
        }
    }
    rebuild_ich_lists();
    return result;
}

// The joined memory units a window's mode asks for: a join 2, 3 or 4; a single input too
// large for its channel's own buffers 1 (2 on a V-by-One port); otherwise none.
int c331_manage::dbd_units(int win)
{
    const int mode = PM_WIN_DBD_MODE[win];
    if (mode >= 20 && mode <= 29)
        return 2;
    if (mode >= 30 && mode <= 39)
        return 3;
    if (mode >= 40 && mode <= 51)
        return 4;
    if (mode == 1 && port_ok(PM_INPUT[win]) && check_dbd_input(c331_fd, PM_INPUT[win]))
        return PM_INPUT[win] >= 4 ? 2 : 1;
    return 0;
}

// Input channels and joined memory come from the layout alone: every shown window in window
// order takes its channels (none at all when the windows ask for more than there are) and
// then the next units of memory its mode asks for, when they remain. So the chip holds what
// a start with the same windows and inputs holds, whatever was shown before: no owner is
// kept by a table entry that a rebuild has since given to another window, and units a
// window gave back reach the window that went without. A window whose channels or units
// moved is applied again.
void c331_manage::hand_out_inputs()
{
    int32_t lists[kWindows][kChannels], units[kDbdUnits], moved[kWindows];
    std::copy(&ich_list[0][0], &ich_list[0][0] + kWindows * kChannels, &lists[0][0]);
    std::copy(std::begin(dbd_unit_owner), std::end(dbd_unit_owner), units);
    std::copy(std::begin(g_chg_input), std::end(g_chg_input), moved);   // (adjust_ich marks what it moves)
    std::fill(std::begin(ich_owner), std::end(ich_owner), -1);
    std::fill(std::begin(dbd_unit_owner), std::end(dbd_unit_owner), -1);
    for (int w = 0; w < kWindows; ++w)
        if (set_input(w, PM_INPUT[w]) == 2)   // (a join taken part way holds nothing)
            std::replace(std::begin(ich_owner), std::end(ich_owner), w, -1);
    rebuild_ich_lists();
    std::copy(moved, moved + kWindows, g_chg_input);
    int next = 0;
    for (int w = 0; w < kWindows; ++w) {
        const int want = win_active(w) && ich_list[w][0] >= 0 ? dbd_units(w) : 0;
        dbd_no_memory[w] = want > 0 && next + want > kDbdUnits;   // (what an earlier mode left goes)
        if (dbd_no_memory[w]) {
            KEL_TRACE("[hand_out_inputs] win_%d: %d units of memory asked, %d left\n", w, want, kDbdUnits - next);
        } else if (want > 0) {
            std::fill(dbd_unit_owner + next, dbd_unit_owner + next + want, w);
            next += want;
        }
    }
    for (int w = 0; w < kWindows; ++w) {
        bool same = std::equal(lists[w], lists[w] + kChannels, ich_list[w]);
        for (int u = 0; u < kDbdUnits; ++u)
            same = same && (units[u] == w) == (dbd_unit_owner[u] == w);
        if (!same && win_active(w))
            g_chg_input[w] = 2;
    }
}

void c331_manage::set_idual(int fd, int ich, int on, int port)
{
    if (ich < 0 || ich >= kChannels)
        return;
    const uint32_t base = 0x08 + 9 * uint32_t(ich / 2);
    if (on && port_ok(port)) {
        wr(fd, R(3, base, 1), 3);
        wr(fd, R(3, base + 1, 2), uint32_t(PI_ACT[port].HST));
        wr(fd, R(3, base + 3, 2), uint32_t(2 * PI_ACT[port].HW));
    } else {
        wr(fd, R(3, base, 1), 0);
    }
}

void c331_manage::set_ichsel(int fd, int win)
{
    if (!kelApi_IsWinValid(win))
        return;
    const int mode = PM_WIN_DBD_MODE[win];
    KEL_TRACE("[set_ichsel] PM_WIN_DBD_MODE[win_%d]:%d\n", win, mode);
    auto vboSecond = [&](int port, int first) {
        const int lanes = PI_HDMI_INFO[port].lane;
        KEL_TRACE(lanes <= 4 ? "\t port_%d 4 lane\n" : "\t port_%d 8 lane\n", port);
        return first + (lanes <= 4 ? 1 : 2);
    };
    std::vector<int> codes;
    switch (mode) {
    case 20: case 21: codes = {0, 2}; break;
    case 22: case 23: codes = {4, 6}; break;
    case 30: codes = {0, 2, 4}; break;
    case 40: case 41: codes = {0, 2, 4, 6}; break;
    case 50: case 51:
        // A port that comes in over two lane groups is taken by two channels, one group
        // each; a port on one group by one channel (as set_display_window_ich_dbd splits it).
        for (int port : {4, 5}) {
            const int first = 4 * (port - 2);
            codes.push_back(first);
            if (PI_PORT_INFO[port].STATE <= 3)
                codes.push_back(vboSecond(port, first));
        }
        break;
    default: {
        const int port = PM_INPUT[win];
        if (!port_ok(port))
            return;
        if (port < 4) {
            codes = {2 * port};
        } else {
            const int first = 4 * (port - 2);
            codes = {first, vboSecond(port, first)};
        }
        break;
    }
    }
    for (size_t i = 0; i < codes.size() && i < size_t(kChannels); ++i) {
        const int ich = ich_list[win][i];
        if (ich < 0 || ich >= kChannels)
            break;
        wr(fd, R(0, 0x10 + uint32_t(ich), 1), uint32_t(codes[i]));
    }
}

// The input side of a window that joins several ports dot by dot: each channel captures
// one port (a V-by-One port is split over a channel pair) and writes it at its place in
// the window's own frame memory, side by side or one above the other as the mode says.
void c331_manage::set_display_window_ich_dbd(int fd, int win)
{
    if (!kelApi_IsWinValid(win) || ich_list[win][0] < 0)
        return;
    for (int i = 0; i < kChannels && ich_list[win][i] >= 0; ++i)
        set_idual(fd, ich_list[win][i], 0, 6);
    const int mode = PM_WIN_DBD_MODE[win];
    const int need = mode <= 1 ? 1 : mode <= 29 ? 2 : mode <= 39 ? 3 : 4;
    int owned = 0;
    while (owned < kChannels && ich_list[win][owned] >= 0)
        ++owned;
    // Without memory, or with fewer channels than its mode joins, the window shows nothing:
    // its channels stop writing (their last buffers may now be another window's memory) and
    // its cells stay dark.
    if (owned < need)
        reset_dbd_mem(win);
    if (owned < need || set_dbd_mem(fd, win) < 0) {
        dbd_no_memory[win] = 1;
        for (int i = 0; i < kChannels && ich_list[win][i] >= 0; ++i)
            wr(fd, R(0x10, 0x19, 2), 0, 0x10 * ich_list[win][i]);
        g_chg_input[win] = 0;
        g_chg_dbd[win] = 0;
        KEL_TRACE("[set_display_window_ich_dbd] g_chg_dbd[%d]:%d\n", win, 0);
        set_mct(fd, win, 0);
        return;
    }
    set_ichsel(fd, win);

    // The ports of the mode and where each lands: (port, column offset in pixels, row).
    struct Part {
        int port;
        _ImageWindowDef_st in;
        int xoff;   // pixels from the left of the window's picture
        int yoff;   // lines from the top
    };
    std::vector<int> ports;
    bool vertical = false, quad = false;
    switch (mode) {
    case 20: ports = {0, 1}; break;
    case 21: ports = {0, 1}; vertical = true; break;
    case 22: ports = {2, 3}; break;
    case 23: ports = {2, 3}; vertical = true; break;
    case 30: ports = {0, 1, 2}; break;
    case 40: ports = {0, 1, 2, 3}; break;
    case 41: ports = {0, 1, 2, 3}; quad = true; break;
    case 50: ports = {4, 5}; break;
    case 51: ports = {4, 5}; vertical = true; break;
    default:
        if (port_ok(PM_INPUT[win]))
            ports = {PM_INPUT[win]};
        break;
    }
    auto portWindow = [&](int p) { return _ImageWindowDef_st{PI_ACT[p].HST - 7, PI_ACT[p].HW, PI_ACT[p].VST + 1, PI_ACT[p].VW}; };
    std::vector<Part> parts;
    int x = 0, y = 0;
    for (size_t i = 0; i < ports.size(); ++i) {
        const int p = ports[i];
        _ImageWindowDef_st whole = portWindow(p);
        if (quad) {
            // Each port stays in its quadrant: the top right one above the lower row, the
            // lower left one left of the right column.
            x = (i % 2) ? PI_ACT[0].HW : 0;
            y = (i / 2) ? PI_ACT[0].VW : 0;
            if (i == 1)
                whole.VW = std::min(whole.VW, PI_ACT[0].VW);
            if (i == 2)
                whole.HW = std::min(whole.HW, PI_ACT[0].HW);
        }
        if (p >= 4 && PI_PORT_INFO[p].STATE <= 3) {
            // A V-by-One port on two lane groups comes in on a channel pair, one group and
            // half of the line each: the measured width is a group's.
            _ImageWindowDef_st half = portWindow(p);
            half.HST = PI_ACT[p].HST / 2 - 7;
            parts.push_back({p, half, x, y});
            parts.push_back({p, half, x + half.HW, y});
        } else {
            parts.push_back({p, whole, x, y});
        }
        if (!quad) {
            if (vertical)
                y += PI_ACT[p].VW;
            else
                x += usable_width(p);
        }
    }

    // Two bytes a pixel (packing 3, write code 0x11), and the output side reads the same
    // packing. The picture goes into the window's own memory at its own pitch, or, when
    // the window needs none (a single input that fits), into the buffers of its first
    // ICH at the system pitch: the memory the output side reads either way.
    const int master = kelApi_IsWinValid(PM_WIN_STITCHING[win]) ? PM_WIN_STITCHING[win] : win;
    PM_MEM_WMODE[master] = 3;
    const bool ownMemory = dbd_line_blocks[win] > 0;   // just set by set_dbd_mem
    const uint32_t pitchKib = uint32_t(ownMemory ? dbd_pitch_kib(win) : PS_MEM_PITCH);
    const uint32_t pitch = pitchKib * 1024;
    const int firstIch = ich_list[win][0];
    // The buffers rotate as the window's field record says, which a freeze changes: the
    // output side reads by the same record.
    const int32_t* rec = field_rec[master];
    const uint32_t order = uint32_t(rec[0]) | uint32_t(rec[1]) << 4 | uint32_t(rec[2]) << 8 |
                           uint32_t(rec[3]) << 12 | uint32_t(rec[4]) << 16;
    for (size_t i = parts.size(); int(i) < owned; ++i)
        wr(fd, R(0x10, 0x19, 2), 0, 0x10 * ich_list[win][i]);   // a channel the mode leaves idle
    for (size_t i = 0; i < parts.size() && int(i) < owned; ++i) {
        const int c = ich_list[win][i];
        const int off = 0x10 * c;
        const Part& part = parts[i];
        wr(fd, R(0x10, 0x09, 1), 1, off);
        wr(fd, R(0x10, 0x17, 2), uint32_t(part.in.HST), off);
        wr(fd, R(0x10, 0x19, 2), uint32_t(part.in.HW), off);
        wr(fd, R(0x10, 0x1B, 2), uint32_t(part.in.VST), off);
        wr(fd, R(0x10, 0x1D, 2), uint32_t(part.in.VW), off);
        for (uint32_t r = 0x42; r <= 0x4C; ++r)
            wr(fd, R(0x11, r, 1), 0, off);
        const uint32_t start = uint32_t(part.xoff) * 2 + uint32_t(part.yoff) * pitch;
        for (uint32_t k = 0; k < 5; ++k)
            wr(fd, R(0x16, 0x1C + 4 * k, 4), (ownMemory ? dbd_mem_base[win][k] : PS_MEM_SC[firstIch][k]) + start, off);
        wr(fd, R(0x16, 0x31, 1), pitchKib, off);
        wr(fd, R(0x16, 0x66, 3), order, off);
        wr(fd, R(0, 0x71 + uint32_t(c), 1), 0x11);
    }
    set_mct(fd, win, 0);
    // Every channel is set for the port it now captures, so none keeps the processing of an
    // earlier window: a joined port is stored as it comes, lines one above the other as the
    // mode places them, so only a single input is deinterlaced.
    for (size_t i = 0; i < parts.size() && int(i) < owned; ++i)
        set_ip(fd, ich_list[win][i], parts[i].port, mode == 1 && port_interlaced(parts[i].port));
}
