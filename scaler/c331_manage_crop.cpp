// Crop of an input: the user's crop rectangles turned into the four margins the scaler
// cuts from the input, cut at the input's edge; and a window's margins inside the
// output-channel cells it covers.
#include "scaler/c331_manage.h"

#include <algorithm>

#include "core/global.h"
#include "core/kelrampara.h"

namespace {
constexpr int kCropRecords = 1472, kCropSize = 10, kCropCount = 40;
} // namespace

int c331_manage::kelApi_CropGetOffset(int input, const ST_RECT* rect, int side)
{
    if (!rect || !port_ok(input) || PI_ACT[input].HW == 0 || PI_ACT[input].VW == 0) {
        KEL_TRACE("\t no signal, return 0\n");
        return 0;
    }
    int offset;
    switch (side) {
    case 0: offset = rect->x; break;
    case 1: offset = usable_width(input) - (rect->x + rect->width); break;
    case 2: offset = rect->y; break;
    case 3: offset = PI_ACT[input].VW - (rect->y + rect->height); break;
    default: return 0;
    }
    if (offset < 0) {
        KEL_TRACE("[kelApi_CropGetOffset] offset:%d < 0, reset to zeruo\n", offset);
        return 0;
    }
    return offset;
}

void c331_manage::c331_SetCrop(int win, int enable, ST_RECT* rect)
{
    ST_RECT none;
    if (!rect)
        rect = &none;
    record_call("c331_SetCrop(" + std::to_string(win) + "," + std::to_string(enable) + "," + std::to_string(rect->x) +
                "," + std::to_string(rect->y) + "," + std::to_string(rect->width) + "," +
                std::to_string(rect->height) + ")");
    if (!kelApi_IsWinValid(win)) {
        KEL_TRACE("  not found win:%d\r\n", win);
        return;
    }
    const int input = kelApi_inputCvtC331(gWininfo[win].input);
    const int usable = usable_width(input);
    const int height = port_ok(input) ? PI_ACT[input].VW : 0;
    // A rectangle reaching past the picture is cut at the picture's edge, as the set-up and a
    // timing change cut it: the picture must not hang on which path applied the crop.
    if (rect->x + rect->width > usable) {
        KEL_TRACE("    x:%d + w:%d OOR, cut at the input's edge\r\n", rect->x, rect->width);
        rect->width = std::max(0, usable - rect->x);
    }
    if (rect->y + rect->height > height) {
        KEL_TRACE("    y:%d + h:%d OOR, cut at the input's edge\r\n", rect->y, rect->height);
        rect->height = std::max(0, height - rect->y);
    }
    if (enable) {
        PM_INPUT_OFFSET_EN[win] = 1;
        for (int s = 0; s < 4; ++s)
            PM_INPUT_OFFSET[win][s] = kelApi_CropGetOffset(input, rect, s);
    } else {
        PM_INPUT_OFFSET_EN[win] = 0;
        for (auto& o : PM_INPUT_OFFSET[win])
            o = 0;
    }
    set_output(c331_fd);
}

void c331_manage::kelApi_updateCrop(int input)
{
    const uint8_t* ram = block_source();
    if (!ram)
        return;
    for (int w = 0; w < kWindows && w < wincnt; ++w) {
        if (PM_INPUT[w] != input || !PM_INPUT_OFFSET_EN[w] || gWininfo[w].crop >= kCropCount)
            continue;
        const uint8_t* rec = ram + kCropRecords + kCropSize * gWininfo[w].crop;
        const ST_RECT r{KelRamPara::get16(rec + 2), KelRamPara::get16(rec + 4), KelRamPara::get16(rec + 6),
                        KelRamPara::get16(rec + 8)};
        for (int s = 0; s < 4; ++s)
            PM_INPUT_OFFSET[w][s] = kelApi_CropGetOffset(input, &r, s);
    }
}

int c331_manage::kelApi_OchGetWinOffset1(const ST_WIN_INFO* win, int side)
{
    if (!win)
        return 0;
    const int W = pnl.ochW, H = pnl.ochH;
    const int x = win->x, y = win->y, width = win->width, height = win->height;
    switch (side) {
    case 0:
    case 1:
        if (W == 0) {
            KEL_TRACE("\t !!!!!!!! po->width left Error");
            return 0;
        }
        return side == 0 ? x % W : W * win->totalh - (x % W + width);
    case 2:
    case 3:
        if (H == 0) {
            KEL_TRACE("\t !!!!!!!! po->height top Error");
            return 0;
        }
        return side == 2 ? y % H : H * win->totalv - (y % H + height);
    default:
        KEL_TRACE("\t not found type:%d\r\n", side);
        return 0;
    }
}
