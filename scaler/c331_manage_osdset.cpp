// The OSD settings: numbered settings and the text lines. They change the manager's OSD
// state only; what needs the chip raises the redraw or re-layout request that the scaler
// thread serves on its next pass.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kPortHOffset = 1382;   // horizontal offset added to every output port
constexpr int kCanvasMax = 8191;

// Trace group 8 (OSD settings) of the print-enable table is on and nothing turns it off.
constexpr bool kOsdSetTrace = true;
#define OSDSET_TRACE(...)            \
    do {                             \
        if (kOsdSetTrace)            \
            KEL_TRACE(__VA_ARGS__);  \
    } while (0)

const char* onOff(int v) { return v ? "enable" : "disable"; }
} // namespace

// Widths of an ASCII (wA) and any other (wC) character on the panel, and the horizontal
// divisor d that turns panel pixels into canvas pixels.
void c331_manage::osd_char_widths(int& d, int& wA, int& wC) const
{
    if (PM_OSD_CHAR_64DOT == 0) {
        d = 1, wA = 16, wC = 32;
    } else if (PM_OSD_HZOOM_EN == 0) {
        d = 1, wA = 32, wC = 64;
    } else if (PM_OSD_CHAR_DOUBLE == 0) {
        d = 2, wA = 64, wC = 128;
    } else {
        d = 2, wA = 128, wC = 256;
    }
}

void c331_manage::osd_set_canvas_width(int v)
{
    if (PM_OSD_CHAR_64DOT != 1)
        return;
    int d, wA, wC;
    osd_char_widths(d, wA, wC);
    int widest = 0, line = -1;
    for (int L = 0; L < std::min<int>(g_unicode_line, kOsdLines); ++L) {
        const int width = g_osd_line_en[L] * wA + g_osd_line_cn[L] * wC;
        if (line < 0 || width > widest) {
            widest = width;
            line = L;
        }
    }
    if (PS_BG_HACT >= widest) {
        PM_OSD_INPUT_OFFSET[1] = PS_BG_HACT - v - PM_OSD_OUTPUT_OFFSET[0];
    } else {
        PS_BG_HACT = std::min(kCanvasMax, g_osd_line_cn[line] * (wC / d) + g_osd_line_en[line] * (wA / d));
        PM_OSD_INPUT_OFFSET[1] = 0;
    }
    KEL_TRACE("\n PS_BG_HACT = %d PM_OSD_INPUT_OFFSET[1]=%d max_size=%d\n", PS_BG_HACT, PM_OSD_INPUT_OFFSET[1], widest);
}

void c331_manage::osd_set_h_alignment(int v)
{
    int d, wA, wC;
    osd_char_widths(d, wA, wC);
    const int W = PS_PANEL_HW - PM_OSD_OUTPUT_OFFSET[0] - PM_OSD_OUTPUT_OFFSET[1];
    KEL_TRACE("\n w_sze = %d g_osd_h_alignment_velin=%d \n", W, v);
    g_osd_h_alignment_velin = v;
    if (v >= 0 && v <= 3) {
        for (int L = 0; L < std::min<int>(g_unicode_line, kOsdLines); ++L) {
            const int used = g_osd_line_cn[L] * wC + g_osd_line_en[L] * wA;
            const int n = g_osd_line_num[L];
            int& x = g_osd_max_line_x_velin[L];
            int& margin = g_osd_hmargin_velin[L];
            int& rest = g_osd_remainder[L];
            x = margin = 0;
            if (v == 0) {
                rest = 0;
            } else if (v == 1 || v == 2) {
                x = used <= W ? (W - used) / (v == 1 ? 2 * d : d) : 0;
                rest = 0;
            } else if (n < 2) {
                margin = (W - used) / d;
                rest = 0;
            } else if (used <= W) {
                margin = (W - used) / (d * (n - 1));
                rest = (W - used) % (d * (n - 1));
                KEL_TRACE("\n remainder=%d \n", rest);
            }
        }
    }
    KEL_TRACE("\n g_osd_hmargin_velin = %d,remainder=%d g_osd_max_line_x_velin[0]=%d\n", g_osd_hmargin_velin[0],
              g_osd_remainder[0], g_osd_max_line_x_velin[0]);
}

void c331_manage::osd_set_v_alignment(int v)
{
    int d, wA, wC;
    osd_char_widths(d, wA, wC);
    const int H = g_unicode_line * wC;
    const int A = PS_PANEL_VW - PM_OSD_OUTPUT_OFFSET[2] - PM_OSD_OUTPUT_OFFSET[3];
    if (v == 0)
        g_osd_v_alignment_value_velin = 0;
    else if (v == 1)
        g_osd_v_alignment_value_velin = H <= A ? (A - H) / (2 * d) : 0;
    else if (v == 2)
        g_osd_v_alignment_value_velin = H <= A ? (A - H) / d : 0;
    KEL_TRACE("\n g_osd_v_alignment_value_velin = %d val=%d cn_font_size=%d\n", g_osd_v_alignment_value_velin, v, wC);
}

int c331_manage::kelApi_OsdSet(uint32_t type, uint32_t value)
{
    OSDSET_TRACE("[kelApi_OsdSet] type:%d, val:%x\n", type, value);
    const int32_t v = int32_t(value);
    int32_t* out = PM_OSD_OUTPUT_OFFSET;
    int32_t* in = PM_OSD_INPUT_OFFSET;
    switch (type) {
    case 0:
        PM_OSD_EN = v != 0 ? 1 : 0;
        osd_relayout_request = 1;
        OSDSET_TRACE("\t OSD display %s\n", onOff(PM_OSD_EN));
        break;
    case 1:
        PM_OSD_HZOOM_EN = v != 0;
        osd_relayout_request = 1;
        OSDSET_TRACE("\t OSD horizontal zoom  %s\n", onOff(PM_OSD_HZOOM_EN));
        break;
    case 2:
        PM_OSD_VZOOM_EN = v != 0;
        osd_relayout_request = 1;
        OSDSET_TRACE("\t OSD vertical zoom %s\n", onOff(PM_OSD_VZOOM_EN));
        break;
    case 3:
        PM_OSD_DATA_MODE = v != 0;
        osd_redraw_request = 1;
        OSDSET_TRACE("\t OSD display data mode %s\n", PM_OSD_DATA_MODE ? "char" : "bmp");
        break;
    case 4:
        PM_OSD_SCROLL_MODE = v % 9;
        osd_relayout_request = 1;
        OSDSET_TRACE("\t OSD scroll mode %d\n", PM_OSD_SCROLL_MODE);
        break;
    case 5: {
        const uint8_t* ram = block_source();
        out[0] = (ram ? KelRamPara::get16(ram + kPortHOffset) : 0) + v;
        break;
    }
    case 6: out[1] = PS_PANEL_HW - v - out[0]; break;
    case 7: out[2] = v; break;
    case 8: out[3] = PS_PANEL_VW - v - out[2]; break;
    case 9: in[0] = 0; break;
    case 10: osd_set_canvas_width(v); break;
    case 11: in[2] = 0; break;
    case 12: in[3] = PS_BG_VACT - v - out[2]; break;
    case 13:
        PM_OSD_SCROLL_SPEED = v % 256;
        osd_relayout_request = 1;
        OSDSET_TRACE("\t OSD scroll speed %d\n", PM_OSD_SCROLL_SPEED);
        break;
    case 14:
        PM_OSD_CHAR_64DOT = v != 0;
        osd_redraw_request = 1;
        OSDSET_TRACE("\t Charater size %s\n", PM_OSD_CHAR_64DOT ? "64x64" : "32x32");
        break;
    case 15:
        PM_OSD_UPDATE_BUTTON = v != 0;
        osd_redraw_request = 1;
        break;
    case 16:
        PS_BG_COLOR = value & 0xFFFFFF;
        OSDSET_TRACE("\t background color BBGGRR %08x\n", PS_BG_COLOR);
        break;
    case 17:
        PS_CHAR_COLOR = value & 0xFFFFFF;
        OSDSET_TRACE("\t character color BBGGRR %08x\n", PS_CHAR_COLOR);
        break;
    case 18:
        PS_BG_TRANS = v != 0;
        OSDSET_TRACE("\t transparent background color %s\n", PS_BG_TRANS ? "Enable" : "Disable");
        break;
    case 19: PS_BG_HACT = v; break;
    case 20: PS_BG_VACT = v; break;
    case 21: PS_CHAR_HST = value; break;
    case 22: PS_CHAR_VST = v; break;
    case 32:
        osd_relayout_request = (value & 0x80) ? 1 : 0;
        osd_redraw_request = (value & 0x40) ? 1 : 0;
        break;
    case 33: g_osd_layer_bottom = v != 0; break;
    case 34: osd_set_h_alignment(v); break;
    case 35: osd_set_v_alignment(v); break;
    case 48: PM_OSD_CHAR_DOUBLE = v; break;
    default:
        return 0;
    }
    return 1;
}

int c331_manage::kelApi_OsdSetUnicode(int count, const int* lengths, const uint32_t lines[][kOsdLineChars])
{
    std::memset(g_unicode_buf, 0, sizeof g_unicode_buf);
    const int n = std::min(count, kOsdLines);
    if (n < 1 || !lengths || !lines) {
        g_unicode_line = 0;
        return 0;
    }
    for (int L = 0; L < n; ++L) {
        const int len = std::clamp(lengths[L], 0, kOsdLineChars);
        for (int i = 0; i < len; ++i) {
            // A code point beyond 16 bits is kept as 0xFFFF, which no font holds (a space),
            // rather than as its low 16 bits, which could name an unrelated character.
            const uint32_t code = lines[L][i] > 0xFFFF ? 0xFFFF : lines[L][i];
            g_unicode_buf[L][2 * i] = uint8_t(code >> 8);
            g_unicode_buf[L][2 * i + 1] = uint8_t(code);
        }
    }
    g_unicode_line = n;
    return 0;
}

void c331_manage::kelApi_SetOutBkg()
{
    const uint32_t colour = 0;
    KEL_TRACE("[kelApi_SetOutBkg] color:%08X\r\n", colour);
    set_rtct(c331_fd, 2);
    for (int k = 0; k < kChannels; ++k) {
        bool used = false;
        for (const ST_WIN_INFO& w : gWininfo)
            for (uint8_t och : w.ochLst)
                used = used || och == k;
        const uint32_t c = !used ? 0 : g_force_bkcolor == 1 ? 0x00FF00 : colour;
        if (used)
            KEL_TRACE("\t Used CH:%d color ==> %8X\n", k, c);
        else
            KEL_TRACE("\t unUsed CH:%d color ==> %8X\n", k, c);
        wr(c331_fd, 8u << 16 | 0x49u << 8 | 3, c, 16 * k);
        wr(c331_fd, 8u << 16 | 0x48u << 8 | 1, 1, 16 * k);
    }
    set_rtct(c331_fd, 1);
}
