// Multi-window channel allocation: which output channels (one per cell of the panel's
// grid) show which window, idle channels lent to windows that share a cell, and the
// per-window and per-channel parameters the geometry reads.
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
constexpr int kCropRecords = 1472, kCropSize = 10;

struct Arrangement {
    int cols, rows;
    const char* log;
};

// The cell grid of an arrangement code: cells in channel order, row by row.
Arrangement arrangement_of(int a)
{
    switch (a) {
    case 0: return {8, 1, "\t ARRANG2K arrayidx:%d\r\n"};
    case 1: return {4, 2, "\t ARRANG2K arrayidx:%d\r\n"};
    case 2: return {4, 1, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 3: return {1, 4, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 4: return {2, 2, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 5: return {2, 1, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 6: return {4, 1, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 7: return {2, 2, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 8: return {1, 2, "\t ARRANG2K4 arrayidx:%d\r\n"};
    case 9: return {4, 1, "\t ARRANG4K arrayidx:%d\r\n"};
    case 10: return {1, 4, "\t ARRANG4K arrayidx:%d\r\n"};
    case 11: return {2, 2, "\t ARRANG4K arrayidx:%d\r\n"};
    case 12: case 13: case 14: case 15: return {8, 1, "\t ARRANGnK8 arrayidx:%d\r\n"};
    case 16: case 17: case 18: return {4, 1, "\t ARRANGnK4 arrayidx:%d\r\n"};
    default: return {0, 0, "\t ARRANG arrayidx:%d\r\n"};
    }
}
} // namespace

void c331_manage::kelApi_MultiWinChAlloc(char init)
{
    record_call("kelApi_MultiWinChAlloc(" + std::to_string(int(init)) + ")");
    KEL_TRACE("[kelApi_MultiWinChAlloc] init:%d\r\n", int(init));
    for (auto& e : gWininfo) {
        std::fill(std::begin(e.ochLst), std::end(e.ochLst), 255);
        std::fill(std::begin(e.ochPosLst), std::end(e.ochPosLst), 255);
        e.totalh = e.totalv = 0;
    }
    const int a = pnl.arrang;
    const Arrangement arr = arrangement_of(a);
    KEL_TRACE(arr.log, a);
    if (arr.cols == 0 || pnl.ochW <= 0 || pnl.ochH <= 0)
        return;
    const int n = std::min(int(pnl.och_HCnt) * int(pnl.och_VCnt), arr.cols * arr.rows);
    const int cw = pnl.ochW, ch = pnl.ochH;

    for (int w = 0; w < wincnt && w < kWindows; ++w) {
        ST_WIN_INFO& e = gWininfo[w];
        const int x1 = e.x, y1 = e.y, x2 = e.x + e.width, y2 = e.y + e.height;
        KEL_TRACE("\t win%d(%4d,%4d,%4d,%4d) \t x1:%4d,y1:%4d, \t x2:%4d,y2:%4d\r\n", w, e.x, e.y, e.width, e.height,
                  x1, y1, x2, y2);
        // Start and end belong to this window alone: a window that meets no cell gets no
        // channels instead of the cells of the window before it.
        int start = -1, end = -1;
        for (int k = 0; k < n; ++k) {
            const int cx = (k % arr.cols) * cw, cy = (k / arr.cols) * ch;
            const bool xIn = cx <= x1 && x1 < cx + cw, yIn = cy <= y1 && y1 < cy + ch;
            if ((a == 5 && xIn) || (a == 8 && yIn) || (a != 5 && a != 8 && xIn && yIn))
                start = k;
            const bool xEnd = cx <= x2 && x2 <= cx + cw, yEnd = cy <= y2 && y2 <= cy + ch;
            if ((a == 5 && xEnd) || (a == 8 && yEnd) || (a != 5 && a != 8 && xEnd && yEnd)) {
                end = k;
                break;
            }
        }
        if (start < 0 || end < 0 || start > end)
            continue;
        // Columns and rows from the start and end cells' own column and row numbers, so a
        // window one column wide and two rows high gets its two cells, one under the other.
        const int columns = (a == 5 && pnl.oneOch == 1) ? 1 : arr.cols;
        const int startCol = start % arr.cols, endCol = end % arr.cols;
        const int startRow = start / arr.cols, endRow = end / arr.cols;
        const int totalh = std::min(endCol - startCol + 1, columns);
        const int totalv = endRow - startRow + 1;
        if (totalh < 1 || totalv < 1) {
            // The end cell lies left of the start cell: no block of cells holds the window.
            KEL_TRACE("win%d alloc och FAIL\n", w);
            continue;
        }
        e.totalh = uint8_t(totalh);
        e.totalv = uint8_t(totalv);
        if (totalh * totalv > 8) {
            KEL_TRACE("totalh(%d)*totalv(%d)=%d > 8\n", totalh, totalv, totalh * totalv);
            e.totalh = e.totalv = 0;
            KEL_TRACE("win%d alloc och FAIL\n", w);
            return;
        }
        int filled = 0;
        for (int r = 0; r < totalv; ++r)
            for (int c = 0; c < totalh; ++c) {
                const int k = (startRow + r) * arr.cols + startCol + c;
                e.ochLst[filled] = e.ochPosLst[filled] = uint8_t(k);
                ++filled;
            }
        KEL_TRACE("\t ochLst:\t");
        for (int i = 0; i < filled; ++i)
            KEL_TRACE("%d ", e.ochLst[i]);
        KEL_TRACE("\r\n");
    }
}

void c331_manage::kelApi_MultiWinChOverlay()
{
    for (int c = 0; c < kChannels; ++c) {
        PM_OVERLAY[c] = c + 1;
        och_in_use[c] = 255;
        och_lent[c] = 255;
    }
    const int count = std::min(wincnt, kWindows);
    auto cells = [&](int w) { return std::min(gWininfo[w].totalh * gWininfo[w].totalv, 8); };
    for (int w = 0; w < count; ++w)
        for (int i = 0; i < cells(w); ++i)
            if (gWininfo[w].ochLst[i] < kChannels)
                och_in_use[gWininfo[w].ochLst[i]] = uint8_t(w);
    // A channel claimed by two windows: the later window takes the lowest idle channel.
    for (int a = 0; a < count; ++a) {
        for (int b = a + 1; b < count; ++b) {
            for (int i = 0; i < cells(b); ++i) {
                const uint8_t c = gWininfo[b].ochLst[i];
                bool clash = false;
                for (int j = 0; j < cells(a); ++j)
                    clash = clash || gWininfo[a].ochLst[j] == c;
                if (!clash)
                    continue;
                int idle = -1;
                for (int k = 0; k < kChannels && idle < 0; ++k)
                    if (och_in_use[k] == 255)
                        idle = k;
                if (idle < 0) {
                    KEL_TRACE("\t not found idle CH, !!!!!why!!!!!\r");
                    continue;
                }
                gWininfo[b].ochLst[i] = uint8_t(idle);
                och_in_use[idle] = uint8_t(b);
                och_lent[idle] = 1;
            }
        }
    }
    // Channels of a shared cell are mixed onto that cell's output.
    for (int cell = 0; cell < kChannels; ++cell) {
        int named = 0;
        for (int w = 0; w < count; ++w)
            for (int i = 0; i < cells(w); ++i)
                if (gWininfo[w].ochPosLst[i] == cell) {
                    ++named;
                    break;
                }
        if (named < 2)
            continue;
        bool routed[kChannels] = {};
        for (int w = 0; w < count; ++w)
            for (int i = 0; i < cells(w); ++i) {
                if (gWininfo[w].ochPosLst[i] != cell)
                    continue;
                const int c = gWininfo[w].ochLst[i];
                if (c < kChannels && !routed[c]) {
                    routed[c] = true;
                    PM_OVERLAY[c] = cell + 1;
                }
            }
    }
    g_chg_overlay = 1;
}

void c331_manage::kelApi_MultiWinChInit()
{
    record_call("kelApi_MultiWinChInit()");
    KEL_TRACE("[kelApi_MultiWinChInit] wincnt:%d\n", wincnt);
    kelApi_MultiWinChOverlay();
    c331_SetWinPriority1(c331_fd);

    // Every port is measured afresh by the next input check.
    for (auto& info : PI_HDMI_INFO) {
        std::memset(static_cast<void*>(&info), 0xFF, sizeof info);
        info.nosignal = 1;
    }
    for (int w = 0; w < kWindows; ++w) {
        PM_INPUT[w] = 6;
        PM_WIN_SHAPE[w][0] = PM_WIN_SHAPE[w][1] = 0;
        for (auto& o : PM_WIN_OFFSET[w])
            o = 0;
        g_chg_shape[w] = g_chg_output[w] = g_chg_input[w] = 0;
        // An entry past the window count is no window: its dot-by-dot mode and memory go,
        // or its units stay taken for ever.
        if (w >= wincnt) {
            PM_WIN_DBD_MODE[w] = 0;
            reset_dbd_mem(w);
        }
    }
    const uint8_t* ram = block_source();
    for (int w = 0; w < wincnt && w < kWindows; ++w) {
        const ST_WIN_INFO& e = gWininfo[w];
        g_chg_shape[w] = g_chg_output[w] = g_chg_input[w] = 1;
        PM_WIN_SHAPE[w][0] = e.totalh;
        PM_WIN_SHAPE[w][1] = e.totalv;
        PM_INPUT[w] = kelApi_inputCvtC331(e.input);
        for (int s = 0; s < 4; ++s)
            PM_WIN_OFFSET[w][s] = kelApi_OchGetWinOffset1(&e, s);
        if (PM_INPUT_OFFSET_EN[w] && ram && e.crop < 40) {
            const uint8_t* rec = ram + kCropRecords + kCropSize * e.crop;
            const ST_RECT r{KelRamPara::get16(rec + 2), KelRamPara::get16(rec + 4), KelRamPara::get16(rec + 6),
                            KelRamPara::get16(rec + 8)};
            KEL_TRACE("\t win_%d, crop(%d,%d,%d,%d)\n", w, r.x, r.y, r.width, r.height);
            for (int s = 0; s < 4; ++s)
                PM_INPUT_OFFSET[w][s] = kelApi_CropGetOffset(PM_INPUT[w], &r, s);
        } else {
            for (auto& o : PM_INPUT_OFFSET[w])
                o = 0;
        }
    }
    for (int c = 0; c < kChannels; ++c) {
        PM_WIN_NUM[c] = 6;
        PM_AREA_NUM[c] = 8;
    }
    for (int w = 0; w < wincnt && w < kWindows; ++w) {
        const int count = std::min(gWininfo[w].totalh * gWininfo[w].totalv, 8);
        for (int i = 0; i < count; ++i) {
            const int c = gWininfo[w].ochLst[i];
            if (c > 7) {
                KEL_TRACE("\t !!!!och:%d OOR\r\n", c);
                och_list_error = 1;
                break;
            }
            PM_WIN_NUM[c] = w;
            PM_AREA_NUM[c] = i;
            KEL_TRACE("ochLst[%d]:%d PM_AREA_NUM[%d]:%d\n", i, c, c, i);
        }
    }
    for (int c = 0; c < kChannels; ++c)
        wm(c331_fd, R(0, 0x08 + uint32_t(c), 1), PM_WIN_NUM[c] != 6 ? 1 : 0, 1);
}
