// Channel picture programming: the input side of a window (capture, reduction, write into
// the field buffers) and its output side (read-out, enlargement and the active area of
// every cell it covers), so that the cells of a window join without a seam.
#include "scaler/c331_manage.h"

#include "core/global.h"

#include <algorithm>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}

// Bytes and pixels of one pixel group of each frame-buffer packing.
struct Packing {
    int bytes, pixels;
};
Packing packing_of(int mode)
{
    switch (mode) {
    case 1: return {16, 5};
    case 2: return {8, 3};
    case 3: return {2, 1};
    default: return {4, 1};
    }
}

// Bytes a stored line of n pixels takes, and where the write starts, for a packing.
int line_bytes(int mode, int n, int* startOffset)
{
    if (startOffset)
        *startOffset = 0;
    switch (mode) {
    case 1: return 16 * (n / 5) + 3 * (n % 5);
    case 2: {
        const int pad = (3 - n % 3) % 3;
        if (startOffset)
            *startOffset = 2 * pad;
        return (n + pad) * 8 / 3;
    }
    case 3: return 2 * n;
    default: return 4 * n;
    }
}

int64_t factor(int in, int out)
{
    if (out < 1 || in <= out)
        return 0x10000;
    return (int64_t(out - 1) << 16) / (in - 1) + 1;
}

// The line the input side stores for a window whose input window starts at hst and is hw
// wide, reduced by the 16.16 step f (0x10000: not reduced): the first-pixel phase, the
// pixels of a stored line (from the input's first pixel to the window's end), the bytes
// before its first pixel group (packing 2 pads the front of the line to whole groups) and
// its bytes. The output side reads within these pixels, from that start.
struct StoredLine {
    int phase = 0, pixels = 0, start = 0, bytes = 0;
};
StoredLine stored_line(int mode, int hst, int hw, int64_t f)
{
    StoredLine l;
    l.pixels = std::max(hst + hw, 1);
    if (f != 0x10000) {
        l.phase = (hst > 0 && hw > 0) ? 256 - int(((hst * f) & 0xFFFF) >> 8) : 0;
        if (l.phase == 256)
            l.phase = 0;
        const int m = int((f * (l.pixels - 1) + (l.phase != 0 ? 0 : 0x10000) + int64_t(l.phase) * 256) >> 16);
        l.pixels = m + (m & 1);
    }
    l.bytes = line_bytes(mode, l.pixels, &l.start);
    return l;
}

// Samples the chip keeps of width input pixels reduced by f from an 8-bit phase (0: the
// first pixel is kept).
int kept_samples(int64_t f, int phase, int width)
{
    if (f == 0x10000)
        return width;
    const int64_t first = phase ? int64_t(phase) * 256 : 0x10000;
    return width > 0 ? int((first + int64_t(width - 1) * f) >> 16) : 0;
}
} // namespace

int c331_manage::stored_pixels(_ImageWindowDef_st in, int outW)
{
    return stored_line(0, in.HST, in.HW, factor(in.HW, outW)).pixels;
}

void c331_manage::set_display_window_ich(int fd, _ImageWindowDef_st in, _ImageWindowDef_st out, int w)
{
    if (!kelApi_IsWinValid(w))
        return;
    int count = 0;
    while (count < kChannels && ich_list[w][count] >= 0)
        ++count;
    const int p = PM_INPUT[w];
    if (count == 0 || !port_ok(p))
        return;
    const int ich = ich_list[w][0];
    const bool dual = count >= 2;
    const int master = kelApi_IsWinValid(PM_WIN_STITCHING[w]) ? PM_WIN_STITCHING[w] : w;

    set_ichsel(fd, w);
    if (dual) {
        const int mode = port_packing(p) >= 4 ? 0 : PI_HDMI_INFO[p].lane < 5 ? 2 : 1;
        set_idual(fd, ich, mode, p);
    } else {
        set_idual(fd, ich, 0, p);
    }

    // 2, 3. A line split over a channel pair is joined in its middle, which only a packing of
    // one pixel a group does without a seam inside a group.
    int wmode = port_interlaced(p) ? 2 : PS_MEM_WMODE[w];
    if (dual && (wmode == 1 || wmode == 2))
        wmode = 0;
    int64_t f = factor(in.HW, out.HW);
    int64_t g = factor(in.VW, out.VW);
    bool hreduce = f != 0x10000, vreduce = g != 0x10000;

    // 4, 5. The captured line: from the start of the active picture to the end of the
    // input window, and under reduction as far beyond as its last sample needs.
    const int n = std::max(in.HST + in.HW, 1);
    StoredLine line = stored_line(wmode, in.HST, in.HW, f);
    int pixels = n;
    if (hreduce) {
        const int m = line.pixels;
        pixels = std::max(int(((int64_t(m - 1) * 65536) + f - 1) / f) + 1, n);
        const int extension = pixels - n;
        int next = wmode;
        if (wmode == 0 && PS_MEM_WMODE[w] != 0 && extension <= 2 && !(dual && PS_MEM_WMODE[w] < 3))
            next = PS_MEM_WMODE[w];
        else if (wmode != 0 && extension >= 3)
            next = 0;
        if (next != wmode) {
            KEL_TRACE("\n *** YUV CHG DET win=%d [%d] to ", w, wmode);
            KEL_TRACE("[%d]\n", next);
            wmode = next;
        }
    }
    // A line must fit the room its channel's slot leaves before the next channel's: one
    // that does not is stored in the first denser packing that holds it.
    const int room = ich_line_room(ich, dual);
    line = stored_line(wmode, in.HST, in.HW, f);
    for (int denser = wmode + 1; line.start + line.bytes > room && denser <= 3; ++denser) {
        if (dual && denser < 3)
            continue;
        KEL_TRACE("[set_display_window_ich] win_%d: %d bytes a line in packing %d, room %d: packing %d\n", w,
                  line.start + line.bytes, wmode, room, denser);
        wmode = denser;
        line = stored_line(wmode, in.HST, in.HW, f);
    }
    // When no packing holds it, the line is stored narrower (reduced further), never over
    // the next channel's slot; the output side enlarges what was kept.
    int outW = out.HW;
    while (line.start + line.bytes > room && std::min(outW, in.HW) > 1) {
        outW = std::min(outW, in.HW) - 1;
        f = factor(in.HW, outW);
        line = stored_line(wmode, in.HST, in.HW, f);
    }
    if (outW != out.HW) {
        KEL_TRACE("[set_display_window_ich] win_%d: line reduced to %d of %d pixels to fit %d bytes\n", w, outW,
                  in.HW, room);
        hreduce = true;
        pixels = std::max(int(((int64_t(line.pixels - 1) * 65536) + f - 1) / f) + 1, n);
        width_limited[w] = line.pixels;
        limit_hw[w] = outW;
    }
    // Likewise a field taller than a buffer (a portrait picture) is stored in fewer lines:
    // the buffer after it is the next field's, or another window's memory.
    const int height = PI_ACT[p].VW * (port_interlaced(p) && ich <= 3 ? 2 : 1);   // ICH 0-3 deinterlace
    auto storedLines = [&](int64_t step) { return height > 0 ? int(((int64_t(height - 1) * step) >> 16) + 1) : 0; };
    int outV = out.VW;
    while (storedLines(g) > ich_buffer_lines() && std::min(outV, in.VW) > 1) {
        outV = std::min(outV, in.VW) - 1;
        g = factor(in.VW, outV);
    }
    if (outV != out.VW) {
        KEL_TRACE("[set_display_window_ich] win_%d: %d lines stored as %d\n", w, height, storedLines(g));
        vreduce = true;
        height_limited[w] = storedLines(g);
        limit_vw[w] = outV;
    }
    PM_MEM_WMODE[master] = wmode;
    const int phase = line.phase;
    while (!dual && kept_samples(f, phase, pixels) < line.pixels)
        ++pixels;   // from a phase the chip keeps a sample fewer of the same input

    // 6. Write the input side of the first channel, and of the second for a dual capture.
    const int32_t* r = field_rec[master];
    const uint32_t order = uint32_t(r[0]) | uint32_t(r[1]) << 4 | uint32_t(r[2]) << 8 | uint32_t(r[3]) << 12 |
                           uint32_t(r[4]) << 16;
    const int firstPart = dual ? ((pixels / 2) + 1) / 2 * 2 : pixels;
    // Both parts of a dual capture go into the first channel's buffers, the second right
    // after the first: the output side reads the whole line from there.
    auto capture = [&](int c, int hst, int width, uint32_t offset, int ph) {
        const int off = 0x10 * c;
        wr(fd, R(0x10, 0x09, 1), 1, off);
        wr(fd, R(0x10, 0x17, 2), uint32_t(hst), off);
        wr(fd, R(0x10, 0x19, 2), uint32_t(width), off);
        wr(fd, R(0x10, 0x1B, 2), uint32_t(PM_IACTVST[w] + PI_ACT[p].VST + 1), off);
        wr(fd, R(0x10, 0x1D, 2), uint32_t(PI_ACT[p].VW), off);
        wr(fd, R(0x11, 0x42, 1), uint32_t((hreduce ? 1 : 0) | (vreduce ? 2 : 0)) * 8, off);
        wr(fd, R(0x11, 0x43, 1), 2, off);
        wr(fd, R(0x11, 0x44, 1), hreduce ? 199 : 0x80, off);
        wr(fd, R(0x11, 0x45, 1), uint32_t(ph), off);
        wr(fd, R(0x11, 0x46, 1), uint32_t(ph), off);
        wr(fd, R(0x11, 0x47, 2), hreduce ? uint32_t(f) : 0, off);
        wr(fd, R(0x11, 0x49, 1), vreduce ? 0x84 : 0x80, off);
        wr(fd, R(0x11, 0x4A, 1), 0, off);
        wr(fd, R(0x11, 0x4B, 1), 0, off);
        wr(fd, R(0x11, 0x4C, 2), vreduce ? uint32_t(g) : 0, off);
        for (uint32_t k = 0; k < 5; ++k)
            wr(fd, R(0x16, 0x1C + 4 * k, 4), PS_MEM_SC[ich][k] + offset, off);
        wr(fd, R(0x16, 0x31, 1), uint32_t(PS_MEM_PITCH), off);
        wr(fd, R(0x16, 0x66, 3), order, off);
    };
    // The capture's start counts 7 pixels behind the measurement: a port measured to start
    // sooner loses those first pixels rather than wrapping to a start no line reaches.
    const int hst = std::max(PI_ACT[p].HST + PM_IACTHST[w] - 7, 0);
    capture(ich, hst, firstPart, uint32_t(line.start), phase);
    if (dual) {
        const int second = ich_list[w][1];
        // The second part goes on where the first part's sampling left off: its phase is the
        // position of its first pixel past the first part's last sample, and it takes input
        // pixels until the two parts hold the whole stored line.
        const int kept = kept_samples(f, phase, firstPart);
        int ph2 = 0;
        if (hreduce) {
            const int64_t at = (phase ? int64_t(phase) * 256 : 0x10000) + int64_t(firstPart) * f - (int64_t(kept) << 16);
            ph2 = at >= 0x10000 ? 0 : std::max(int(at >> 8), 1);
        }
        int rest = std::max(pixels - firstPart, 1);
        while (kept + kept_samples(f, ph2, rest) < line.pixels)
            ++rest;
        const uint32_t partBytes = uint32_t(line_bytes(wmode, kept, nullptr));
        capture(second, hst + firstPart, rest, uint32_t(line.start) + partBytes, ph2);
        wr(fd, R(0x10, 0x09, 1), uint32_t((ich & ~1) + 8), 0x10 * second);   // follows the first
    }

    // 8.
    set_lut_hshrnk(fd, int(f), ich, dual);
    set_lut_vshrnk_4sym(fd, int(g), ich, dual);
    set_iscwct(fd, w);
    set_mct(fd, w, 0);
    set_ip(fd, ich);
    if (dual)
        set_ip(fd, ich_list[w][1]);   // nor may the second keep an earlier window's processing
}

void c331_manage::set_display_window_och(int fd, _ImageWindowDef_st in, _ImageWindowDef_st out, int w)
{
    if (!kelApi_IsWinValid(w))
        return;
    int master = w, partner = -1;
    check_stitching_win(&master, &partner);
    // The output reads the memory the input side wrote: the window's own dot-by-dot
    // memory when it was given some, else the buffers of its first ICH. A window with
    // neither shows nothing rather than another window's picture.
    // A dot-by-dot window whose memory could not be assigned is dark too.
    const bool ownMemory = PM_WIN_DBD_MODE[w] != 0 && dbd_line_blocks[w] > 0;
    const int ich = ich_list[w][0];
    if ((!ownMemory && (ich < 0 || ich >= kChannels)) || (PM_WIN_DBD_MODE[w] != 0 && dbd_no_memory[w])) {
        int och[8];
        get_och(w, och);
        for (int c : och)
            if (c >= 0 && c < kChannels)
                wr(fd, R(0x08, 0x42, 2), 0, 0x10 * c);
        return;
    }
    const int P = ownMemory ? dbd_pitch_kib(w) : PS_MEM_PITCH;
    const bool hmirror = PM_WIN_ATTR0[master] != 0, vmirror = PM_WIN_ATTR1[master] != 0;
    const uint32_t omwi = uint32_t(vmirror ? 256 - P : P);
    const int64_t step = int64_t(vmirror ? -P : P) * 1024;

    _ImageWindowDef2_St sl[8];
    calc_oact(out, sl, w);
    _ScalingSt sc;
    calc_scaling(in, out, &sc);
    const Packing pk = packing_of(PM_MEM_WMODE[master]);
    const int b = pk.bytes, g = pk.pixels;
    // The stored line (for a width-limited window the input side's reduced line) is read
    // from where its first pixel group begins, never past its last pixel.
    StoredLine stored = stored_line(PM_MEM_WMODE[master], in.HST, in.HW, sc.hmode == 1 ? sc.hreduce : 0x10000);
    if (width_limited[w] > 0) {
        stored.pixels = width_limited[w];
        stored.bytes = line_bytes(PM_MEM_WMODE[master], stored.pixels, &stored.start);
    }
    // A reduced window is stored reduced from the first pixel (line) of the input to the end
    // of its crop: its crop start lands at a reduced position, and the read of out's width
    // (height) from there ends at the last stored pixel (line) at most, a fraction of a
    // pixel earlier where the rounding of the start would take it one beyond.
    auto reducedStart = [](int64_t step, int start, int outSize, int64_t kept) {
        const int64_t at = start > 0 ? ((step * (start - 1)) >> 16) + 1 : 0;
        return std::max<int64_t>(std::min<int64_t>(at, kept - outSize), 0);
    };
    int64_t hoff = std::max(std::min(in.HST, stored.pixels - in.HW), 0);   // pixels
    if (sc.hmode == 1)
        hoff = reducedStart(sc.hreduce, in.HST, out.HW, stored.pixels);
    int64_t voff = int64_t(in.VST) * P * 1024;
    if (sc.vmode == 1)
        voff = reducedStart(sc.vreduce, in.VST, out.VW, ((sc.vreduce * (in.VST + in.VW - 1)) >> 16) + 1) * P * 1024;

    // One dimension's plan per slice: output start shift, read length, byte or line offset,
    // phase and configuration.
    struct Plan {
        int shift = 0, read = 0, phase = 0, conf = 0, need = 0;   // need: the read before the 16-pixel minimum
        int64_t offset = 0, index = 0;   // index: the output pixel the read's start maps to
    };
    const int cols = std::min(std::max(PM_WIN_SHAPE[w][0], 0), 8);
    const int rows = std::min(std::max(PM_WIN_SHAPE[w][1], 0), 8);
    auto plan = [&](bool horizontal, int count, Plan* out, int totalIn) {
        const bool enlarge = horizontal ? sc.hmode == 2 : sc.vmode == 2;
        const int64_t fct = horizontal ? sc.henlarge : sc.venlarge;
        auto width = [&](int i) { return horizontal ? sl[i].hw : sl[i].vw; };
        auto pos = [&](int64_t s) {
            const int64_t v = fct * s;
            return (v >> 16) + (((v & 0xFFFF) >= fct) ? 1 : 0);
        };
        int64_t S = 0;
        for (int i = 0; i < count; ++i) {
            Plan& p = out[i];
            const int sw = width(i);
            const bool first = horizontal ? sl[i].first_h : sl[i].first_v;
            const bool last = horizontal ? sl[i].last_h : sl[i].last_v;
            if (sw == 0) {
                p = Plan();
                p.conf = horizontal ? 0x47 : (venl_marker[w] ? 5 : enlarge ? 4 : 0);
                continue;
            }
            if (enlarge && fct > 0) {
                // The slice's first output pixel lies in input pixel q (pos rounds up: it is the
                // previous slice's end): a read from q keeps the slice's own start and phase.
                const int64_t q = (fct * S) >> 16, p1 = pos(S + sw);
                int64_t from = q;
                int64_t startIndex = S;
                auto indexOf = [&](int64_t px) { return px != q ? ((px << 16) + fct - 1) / fct : S; };
                // The lead-in moves the cell's output start back: as much of it as keeps the
                // cell clear of the timing start is taken, the rest from the cell's own start.
                const int cellStart = horizontal ? sl[i].hst + PS_ACTHST : sl[i].vst + PS_ACTVST;
                for (int lead = !first && q >= 5 ? 4 : 0;; --lead) {
                    from = q - lead;
                    if (horizontal && !first && (hoff + from) % g <= from)
                        from -= (hoff + from) % g;   // from a pixel group's first pixel
                    startIndex = indexOf(from);
                    if (lead == 0 || cellStart + (startIndex - S) >= (horizontal ? 10 : 3))
                        break;
                }
                if (horizontal && !first && cellStart + (startIndex - S) < 10) {
                    // From the next group: its start moves in instead. Where no group starts
                    // before the line's end, from q's own group, its start kept: placed within
                    // a group, never read past the line.
                    from = q + (g - (hoff + q) % g) % g;
                    if (from >= totalIn)
                        from = std::max<int64_t>(q - (hoff + q) % g, -hoff);
                    startIndex = from > q ? indexOf(from) : S;
                }
                int64_t to = p1;
                if (!last)
                    to = std::min<int64_t>(p1 + 4, totalIn);
                p.shift = int(startIndex - S);
                // The 16-pixel minimum is of a line's read: lines are read as far as they go.
                p.need = int(to - from);
                p.read = int(horizontal ? std::max<int64_t>(to - from, 16) : to - from);
                p.offset = from;
                p.index = startIndex;
                // Rounded to nearest, and the top of the range stays the largest phase.
                p.phase = int(std::min<int64_t>((((startIndex * fct) & 0xFFFF) + 128) / 256, 255));
                p.conf = horizontal ? 199 : (venl_marker[w] ? 5 : 0x84);
                if (!horizontal)
                    p.read += 2;
            } else {
                p.need = sw;
                p.read = std::max(sw, 16);
                p.offset = S;
                p.phase = 0;
                p.conf = horizontal ? 0 : (venl_marker[w] ? 5 : 0);
                if (!horizontal)
                    p.read = sw + 1;
            }
            if (horizontal && hmirror)
                p.offset = std::max<int64_t>(totalIn - (p.offset + p.read), 0);
            S += sw;
        }
    };
    Plan hp[8], vp[8];
    const int inW = sc.hmode == 1 ? out.HW : in.HW;
    const int inH = sc.vmode == 1 ? out.VW : in.VW;
    plan(true, cols, hp, inW);
    plan(false, rows, vp, inH);

    // A cell that would start within the first 10 pixels (3 lines) of the line (frame) is
    // not shown.
    bool zeroH = false, zeroV = false;
    for (int i = 0; i < cols; ++i)
        if (sl[i].hw && sl[i].hst + hp[i].shift + PS_ACTHST < 10)
            zeroH = true;
    for (int j = 0; j < rows; ++j)
        if (sl[j].vw && sl[j].vst + vp[j].shift + PS_ACTVST < 3)
            zeroV = true;

    int och[8];
    get_och(w, och);
    int firstCh = -1;
    for (int j = 0; j < rows; ++j) {
        for (int i = 0; i < cols; ++i) {
            const int at = j * cols + i;
            if (at >= 8)
                return;
            const int ch = och[at];
            if (ch < 0 || ch >= kChannels)
                continue;
            const int off = 0x10 * ch;
            const uint32_t s = ch == 0 ? 1 : 0x11;
            if (firstCh < 0) {
                firstCh = ch;
                wr(fd, R(0x08, 0x08, 2), uint32_t(std::max(ich, 0)) << 8 | s, off);
            } else {
                wr(fd, R(0x08, 0x08, 2), uint32_t(firstCh) << 8 | 0x1000 | s, off);
            }
            // A mirrored window reads upwards: its rows count back from the last line.
            const int64_t line = vmirror ? std::max<int64_t>(inH - 1 - vp[j].offset, 0) : vp[j].offset;
            const int64_t rowOffset = line * P * 1024;
            const int64_t lineBack = venl_marker[w] ? step : 0;
            // The read starts at a pixel group and stays in the stored line: a read that
            // would run past it (the 16-pixel minimum of a narrow last slice) starts as much
            // earlier where the slice begins at its cell's edge, its output start with it, and
            // is cut where it cannot.
            int64_t fromPx = (hoff + hp[i].offset) / g * g;
            int read = hp[i].read, shift = hp[i].shift, phase = hp[i].phase;
            // The read reaches the slice's last pixel from its group's first, and from as far
            // back as a move below takes its start: the 16-pixel minimum alone falls short.
            const int64_t lastPx = hoff + hp[i].offset + hp[i].need;
            if (!hmirror)
                read = int(std::max<int64_t>(read, lastPx - fromPx));
            const int64_t over = fromPx + read - stored.pixels;
            if (over > 0 && sl[i].hst == 0) {
                // An enlarged read moving back by some input pixels moves its output start back
                // by as many enlarged pixels, with the phase of the new start; no further back
                // than the timing start allows.
                const bool enl = hp[i].conf == 199 && sc.henlarge > 0 && !hmirror;
                const int64_t fct = sc.henlarge;
                auto indexAt = [&](int64_t back) { return (((hp[i].offset - back) << 16) + fct - 1) / fct; };
                // (a read left where it starts keeps its output start: the plan's index of a
                // start not moved back is the slice's own, not its pixel's rounded up)
                auto outBack = [&](int64_t back) { return back <= 0 ? 0 : enl ? hp[i].index - indexAt(back) : back; };
                const int64_t spare = std::max<int64_t>(sl[i].hst + shift + PS_ACTHST - 10, 0);
                int64_t back = std::min<int64_t>((over + g - 1) / g * g, enl ? hp[i].offset / g * g : fromPx);
                while (back > 0 && outBack(back) > spare)
                    back -= g;
                back = std::max<int64_t>(back, 0);
                fromPx -= back;
                shift -= int(outBack(back));
                if (enl && back > 0)
                    phase = int(std::min<int64_t>((((indexAt(back) * fct) & 0xFFFF) + 128) / 256, 255));
                if (!hmirror)
                    read = int(std::max<int64_t>(read, lastPx - fromPx));
            }
            read = sl[i].hw ? int(std::max<int64_t>(std::min<int64_t>(read, stored.pixels - fromPx), 1)) : 0;   // an empty slice stays empty
            const int64_t hbytes = stored.start + fromPx / g * b;
            for (uint32_t k = 0; k < 5; ++k) {
                const int64_t base = ownMemory ? dbd_mem_base[w][k] : PS_MEM_SC[ich][k];
                wr(fd, R(0x16, 0x08 + 4 * k, 4), uint32_t(base + rowOffset + hbytes + voff - lineBack), off);
            }
            wr(fd, R(0x16, 0x30, 1), omwi, off);
            wr(fd, R(0x08, 0x40, 2), uint32_t(sl[i].hst + shift + PS_ACTHST), off);
            wr(fd, R(0x08, 0x42, 2), zeroH ? 0 : uint32_t(read), off);
            wr(fd, R(0x08, 0x44, 2), uint32_t(sl[j].vst + vp[j].shift + PS_ACTVST), off);
            wr(fd, R(0x08, 0x46, 2), zeroV ? 0 : uint32_t(vp[j].read), off);
            wr(fd, R(0x08, 0x22, 1), hmirror ? 1 : 0, off);
            wr(fd, R(0x08, 0x32, 2), uint32_t(sl[i].hst + sl[i].hw + PS_OAOIHST), off);
            wr(fd, R(0x0A, 0x46, 1), uint32_t(hp[i].conf), off);
            wr(fd, R(0x0A, 0x47, 1), uint32_t(phase), off);
            wr(fd, R(0x0A, 0x48, 1), uint32_t(phase), off);
            wr(fd, R(0x0A, 0x49, 2), uint32_t(sc.henlarge), off);
            wr(fd, R(0x0A, 0x44, 1), sc.vmode == 2 ? 3 : 0, off);
            wr(fd, R(0x0A, 0x4B, 1), uint32_t(vp[j].conf), off);
            wr(fd, R(0x0A, 0x4C, 1), uint32_t(vp[j].phase), off);
            wr(fd, R(0x0A, 0x4D, 1), uint32_t(vp[j].phase), off);
            wr(fd, R(0x0A, 0x4E, 2), uint32_t(sc.venlarge), off);
            set_oscwct(fd, ch);
            set_lut_vzoom_4sym(fd, sc.venlarge, ch);
        }
    }
}

void c331_manage::set_oscwct(int fd, int ch)
{
    if (ch < 0 || ch >= kChannels)
        return;
    const int owner = PM_WIN_NUM[ch];
    int mode = 0;
    if (kelApi_IsWinValid(owner)) {
        const int master = kelApi_IsWinValid(PM_WIN_STITCHING[owner]) ? PM_WIN_STITCHING[owner] : owner;
        mode = PM_MEM_WMODE[master];
    }
    const uint32_t v = mode == 1 ? 0x80 : mode == 2 ? 0x01 : mode == 3 ? 0x11 : 0;
    wr(fd, R(0, 0x69 + uint32_t(ch), 1), v);
}

void c331_manage::set_lut_vzoom_4sym(int fd, int on, int ch)
{
    if (ch < 0 || ch > 7)
        return;
    static const uint8_t taps[24] = {0,   0,   0,   0,   0,   0,   0, 0, 0,  255, 254, 253,
                                     252, 252, 253, 0,   5,   13,  24, 35, 46, 56,  62,  64};
    for (uint32_t i = 0; i < 24; ++i)
        wr(fd, R(0x0A, 0x68 + i, 1), on >= 1 ? taps[i] : (i == 0 ? 64 : 0), 0x10 * ch);
}
