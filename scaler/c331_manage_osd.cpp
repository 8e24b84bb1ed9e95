// The on-screen display engine: fonts copied from the serial flash into the chip's OSD
// memory, text lines rendered by the chip's drawing engine into a canvas, the canvas tiled
// into a display copy and shown through one OSD window per output channel.
#include "scaler/c331_manage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"

#include <algorithm>
#include <cstdio>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t n) { return bank << 16 | reg << 8 | n; }

// Drawing engine (bank 4).
constexpr uint32_t kEngineCmd = R(4, 0x08, 1);
constexpr uint32_t kFillColour = R(4, 0x0B, 2);
constexpr uint32_t kSrcAddr = R(4, 0x0D, 4);
constexpr uint32_t kDstAddr = R(4, 0x11, 4);
constexpr uint32_t kEngineStatus = R(4, 0x17, 1);
constexpr uint32_t kDstPitch = R(4, 0x1B, 1);
constexpr uint32_t kSrcPitch = R(4, 0x1C, 1);
constexpr uint32_t kWidthM1 = R(4, 0x1E, 2);
constexpr uint32_t kHeightM1 = R(4, 0x20, 2);
constexpr uint32_t kPitchFlags = R(4, 0x22, 1);
constexpr uint32_t kListFirst = R(4, 0x23, 1), kListLast = R(4, 0x24, 1);
constexpr uint32_t kListPad0 = R(4, 0x25, 1), kListPad1 = R(4, 0x26, 1);
constexpr uint32_t kListAddr = R(4, 0x27, 2);
constexpr uint32_t kListData = R(4, 0x29, 1);
constexpr uint32_t kRenderMode = R(4, 0x2A, 1);
constexpr uint32_t kListHeightEntry = 0xA00;
enum EngineCommand { kFill = 1, kCopy = 2, kRender = 3 };

// Palette and OSD windows (bank 9 + 16k).
constexpr uint32_t kPaletteFrame = R(0xFF, 0x01, 1);
constexpr uint32_t kPaletteIndex = R(9, 0x1F, 1);
constexpr uint32_t kPaletteData = R(9, 0x20, 1);
constexpr uint32_t kWinMode = R(9, 0x08, 2);
constexpr uint32_t kWinHst = R(9, 0x12, 2), kWinHw = R(9, 0x14, 2);
constexpr uint32_t kWinVst = R(9, 0x16, 2), kWinVw = R(9, 0x18, 2);
constexpr uint32_t kWinSource = R(9, 0x1A, 4);
constexpr uint32_t kWinPitch = R(9, 0x1E, 1);
constexpr uint32_t kScrollCtl = R(9, 0x3C, 1);
constexpr uint32_t kScrollSpeed = R(9, 0x3D, 1);
constexpr uint32_t kScrollW = R(9, 0x40, 2), kScrollH = R(9, 0x42, 2);

// Fonts in the serial flash: a 35-byte header ('P' in byte 0 when present), then the glyphs.
constexpr uint32_t kFont32Ascii = 0x000000, kFont32Cjk = 0x010000;
constexpr uint32_t kFont64Ascii = 0x410000, kFont64Cjk = 0x450000;
constexpr int kFontHeader = 35;
constexpr uint32_t kCjkFirst = 0x4E00, kCjkLast = 0x9FFF;
constexpr int kFontStatusReg = 43;

constexpr int kFgIndex = 2, kBgIndex = 1, kTransparentIndex = 255;

int tileCount(int n) { return std::max(0, std::min(n, 8)); }
} // namespace

// Canvas size (the panel's, not these two), background colour and transparency, text
// origin, character colour, and where and how large each font is in the serial flash.
const int32_t c331_manage::osd_char_txt[15] = {1920,  1080,     0xFF0000, 0,        0,       0,        0xC0C0FF, 0x23,
                                               0x3000, 0x10023, 0x290000, 0x410023, 0xC000, 0x450023, 0xA40000};
const uint32_t c331_manage::osd_bmp_txt[4] = {0xED9800, 1920, 1080, 0x10D3C00};

void c331_manage::load_char()
{
    // A font reload on a PC link or the upgrade reads the font addresses and sizes.
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    PS_BG_HACT = PS_PANEL_HW;
    PS_BG_VACT = PS_PANEL_VW;
    PS_BG_COLOR = uint32_t(osd_char_txt[2]);
    PS_BG_TRANS = osd_char_txt[3];
    PS_CHAR_HST = uint32_t(osd_char_txt[4]);
    PS_CHAR_VST = osd_char_txt[5];
    PS_CHAR_COLOR = uint32_t(osd_char_txt[6]);
    PS_CHAR_ADDR_32ASCII = uint32_t(osd_char_txt[7]);
    PS_CHAR_SIZE_32ASCII = uint32_t(osd_char_txt[8]);
    PS_CHAR_ADDR_32CHN = uint32_t(osd_char_txt[9]);
    PS_CHAR_SIZE_32CHN = uint32_t(osd_char_txt[10]);
    PS_CHAR_ADDR_64ASCII = uint32_t(osd_char_txt[11]);
    PS_CHAR_SIZE_64ASCII = uint32_t(osd_char_txt[12]);
    PS_CHAR_ADDR_64CHN = uint32_t(osd_char_txt[13]);
    PS_CHAR_SIZE_64CHN = uint32_t(osd_char_txt[14]);
}

void c331_manage::load_bmp()
{
    PS_BMP_ADDR = osd_bmp_txt[0];
    PS_BMP_HACT = int32_t(osd_bmp_txt[1]);
    PS_BMP_VACT = int32_t(osd_bmp_txt[2]);
    PS_BMPCP_ADDR = osd_bmp_txt[3];
}

// ---------------------------------------------------------------------------------------
// Fonts

void c331_manage::read_c331_font(int fd)
{
    struct Font {
        uint32_t addr;
        uint8_t present;    // bit in font_present
        uint8_t status;     // bits in register 43 of the controller register image
        const char* trace;
    };
    static const Font fonts[4] = {
        {kFont32Cjk, 0x01, 0x02, "\n addr=0x10000[32CN], type= %#x ,width=%d,height=%d \n"},
        {kFont32Ascii, 0x02, 0x01, "\n addr=0x00[32EN], type= %#x ,width=%d,height=%d \n"},
        {kFont64Cjk, 0x04, 0xA8, nullptr},
        {kFont64Ascii, 0x08, 0x54, "\n addr=0x410000[64EN], type= %#x ,width=%d,height=%d \n"},
    };
    uint8_t present = 0, set = 0, cleared = 0;
    {
        std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
        for (const Font& f : fonts) {
            uint8_t header[kFontHeader];
            read_flash(fd, f.addr, kFontHeader, header);
            if (header[0] == 'P') {
                present |= f.present;
                set |= f.status;
            } else {
                cleared |= f.status;
            }
            if (f.trace)
                KEL_TRACE(f.trace, header[0], header[17], header[18]);
        }
        font_present = present;
    }
    // The register image is edited and read for the PC under the block's lock; taken after
    // the flash is let go, as c331_mutex comes before c331_seq_mutex.
    if (KelRamPara* k = KelRamPara::p_kelrampara_config) {
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        k->reg_image[kFontStatusReg] = uint8_t((k->reg_image[kFontStatusReg] & ~cleared) | set);
    }
}

void c331_manage::update_font(int fd)
{
    // The CJK font of each size directly follows its ASCII font: glyph indices count from
    // the ASCII font's start.
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    uint32_t at = PS_FONT_ADDR;
    const struct {
        uint32_t* start;
        uint32_t flash, size;
    } fonts[4] = {{&g_font_addr_32ASCII, PS_CHAR_ADDR_32ASCII, PS_CHAR_SIZE_32ASCII},
                  {&g_font_addr_32CHN, PS_CHAR_ADDR_32CHN, PS_CHAR_SIZE_32CHN},
                  {&g_font_addr_64ASCII, PS_CHAR_ADDR_64ASCII, PS_CHAR_SIZE_64ASCII},
                  {&g_font_addr_64CHN, PS_CHAR_ADDR_64CHN, PS_CHAR_SIZE_64CHN}};
    for (const auto& f : fonts) {
        *f.start = at;
        osd_write_dma_sfl(fd, f.flash, at, 0, f.size);
        at += f.size;
    }
}

// ---------------------------------------------------------------------------------------
// Drawing engine

bool c331_manage::engine_run(int fd, int command, const char* what)
{
    wr(fd, kEngineCmd, uint32_t(command));
    const bool ok = seq_wait(fd, kEngineStatus, 0x01, false, what);
    wr(fd, kEngineCmd, 0);
    return ok;
}

bool c331_manage::osd_fits(uint32_t base, uint64_t offset, uint64_t width, uint64_t rows, const char* what) const
{
    uint32_t end = 0;
    if (base >= PS_SFL_ADDR && base < PS_MEM_OSD)
        end = PS_MEM_OSD;
    else if (base >= PS_MEM_OSD && base < PS_MEM_OSD1)
        end = PS_MEM_OSD1;
    else if (base >= PS_MEM_OSD1 && base < PS_FONT_ADDR)
        end = PS_FONT_ADDR;
    if (end == 0 || width == 0 || rows == 0)
        return true;
    const uint64_t last = uint64_t(base) + offset + (rows - 1) * uint64_t(osd_pitch()) * 128 + width;
    if (last <= end)
        return true;
    KEL_TRACE("\033[1;34m[%s] %llu lines of %llu bytes from %#llx run past %#x: not drawn\033[0m\n", what,
              (unsigned long long)rows, (unsigned long long)width, (unsigned long long)(base + offset), end);
    return false;
}

void c331_manage::osd_paint(int fd, int x, int w, int y, int h, int colour, uint32_t base)
{
    if (w <= 0 || h <= 0 || x < 0 || y < 0)
        return;   // w - 1 would wrap to the largest fill the engine takes
    const uint64_t offset = uint64_t(x) + uint64_t(osd_pitch()) * uint64_t(y) * 128;
    if (!osd_fits(base, offset, uint64_t(w), uint64_t(h), "osd_paint"))
        return;
    const uint32_t dst = base + uint32_t(offset);
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    wr(fd, kFillColour, uint32_t(colour));
    wr(fd, kWidthM1, uint32_t(w - 1));
    wr(fd, kHeightM1, uint32_t(h - 1));
    wr(fd, kDstAddr, dst);
    wr(fd, kSrcPitch, uint32_t(g_osd_mwi));
    wr(fd, kDstPitch, uint32_t(g_osd_mwi));
    wr(fd, kPitchFlags, g_osd_mwi_shift == 1 ? 48 : 0);
    engine_run(fd, kFill, "osd_paint");
}

void c331_manage::osd_copy(int fd, uint32_t src, uint32_t dst, int w, int h, int packed)
{
    if (w <= 0 || h <= 0)
        return;
    uint32_t srcPitch = uint32_t(g_osd_mwi);
    uint32_t flags = g_osd_mwi_shift == 1 ? 48 : 0;
    if (packed == 1) {
        // A bitmap straight from the flash has its lines back to back.
        srcPitch = w < 8320 ? uint32_t(w / 128) : uint32_t(w / 512);
        flags = (g_osd_mwi_shift == 1 ? 16 : 0) + (w >= 8320 ? 32 : 0);
    }
    if (!osd_fits(dst, 0, uint64_t(w), uint64_t(h), "osd_copy"))
        return;
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    wr(fd, kSrcAddr, src);
    wr(fd, kDstAddr, dst);
    wr(fd, kWidthM1, uint32_t(w - 1));
    wr(fd, kHeightM1, uint32_t(h - 1));
    wr(fd, kSrcPitch, srcPitch);
    wr(fd, kDstPitch, uint32_t(g_osd_mwi));
    wr(fd, kPitchFlags, flags);
    engine_run(fd, kCopy, "osd_copy");
}

uint32_t c331_manage::osd_glyph_index(uint8_t hi, uint8_t lo, uint32_t asciiGlyphs, bool& half)
{
    // A character the fonts do not hold is drawn as the space glyph (index 0) in the width
    // its kind takes in the line layout, so no index reaches past the fonts.
    half = hi == 0;
    if (hi == 0)
        return (lo >= 0x20 && lo < 0x80) ? uint32_t(lo - 0x20) : 0;
    const uint32_t code = uint32_t(hi) << 8 | lo;
    if (code < kCjkFirst || code > kCjkLast)
        return 0;
    return code - kCjkFirst + asciiGlyphs;
}

void c331_manage::osd_render_list(int fd, int line, int first, int count, int hst, int vst, int fg, int bg, int w,
                                  int h, uint32_t base, int dot64)
{
    if (line < 0 || line >= kOsdLines || first < 0 || first >= kOsdLineChars || count <= 0 || hst < 0 || vst < 0)
        return;
    // The font addresses and sizes change under this lock when the fonts are reloaded.
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    const uint32_t font = dot64 ? g_font_addr_64ASCII : g_font_addr_32ASCII;
    const uint32_t asciiGlyphs = dot64 ? PS_CHAR_SIZE_64ASCII / 512 : PS_CHAR_SIZE_32ASCII / 128;
    const uint32_t twice = PM_OSD_CHAR_DOUBLE == 1 ? 0x80 : 0;
    const uint8_t* text = g_unicode_buf[line];
    const int last = std::min(kOsdLineChars, first + count);
    // The drawn line must stay inside its piece of memory: a line below the canvas or
    // running off its end is left out.
    const int scale = twice ? 2 : 1;
    uint64_t lineWidth = 0;
    for (int i = first; i < last && (text[2 * i] || text[2 * i + 1]); ++i)
        lineWidth += uint64_t(text[2 * i] == 0 ? w / 2 : w) * scale;
    const uint64_t offset = uint64_t(hst) + uint64_t(osd_pitch()) * uint64_t(vst) * 128;
    if (!osd_fits(base, offset, lineWidth, uint64_t(h) * scale, "osd_put_unicode_string"))
        return;
    const uint32_t dst = base + uint32_t(offset);
    wr(fd, kRenderMode, dot64 ? 0x48 : 0x08);
    wr(fd, kListAddr, kListHeightEntry);
    wr(fd, kListData, (uint32_t(h - 1) & 0x7F) | twice);
    wr(fd, kListAddr, 0);
    int entries = 0;
    for (int i = first; i < last; ++i) {
        const uint8_t hi = text[2 * i], lo = text[2 * i + 1];
        if (hi == 0 && lo == 0)
            break;
        bool half = false;
        const uint32_t index = osd_glyph_index(hi, lo, asciiGlyphs, half);
        const int width = half ? w / 2 : w;
        wr(fd, kListData, index & 0xFF);
        wr(fd, kListData, (index >> 8) & 0xFF);
        wr(fd, kListData, uint32_t(fg));
        wr(fd, kListData, uint32_t(bg));
        wr(fd, kListData, (uint32_t(width - 1) & 0x7F) | twice);
        ++entries;
    }
    if (entries == 0)
        return;
    wr(fd, kListFirst, 0);
    wr(fd, kListLast, uint32_t(entries - 1));
    wr(fd, kListPad0, 0);
    wr(fd, kListPad1, 0);
    wr(fd, kSrcAddr, font);
    wr(fd, kDstAddr, dst);
    engine_run(fd, kRender, "osd_put_unicode_string");
}

void c331_manage::osd_put_unicode_string(int fd, int line, int hst, int vst, int fg, int bg, int w, int h,
                                         uint32_t base, int dot64)
{
    osd_render_list(fd, line, 0, kOsdLineChars, hst, vst, fg, bg, w, h, base, dot64);
}

void c331_manage::osd_put_unicode_string_1char_velin(int fd, int line, int first, int count, int hst, int vst, int fg,
                                                     int bg, int w, int h, uint32_t base, int dot64)
{
    osd_render_list(fd, line, first, count, hst, vst, fg, bg, w, h, base, dot64);
}

void c331_manage::gen_char(int fd)
{
    if (g_unicode_line <= 0)
        return;
    const bool dot64 = PM_OSD_CHAR_64DOT == 1;
    const bool twice = PM_OSD_CHAR_DOUBLE == 1;
    const int s = dot64 ? 64 : 32;
    const int bg = PS_BG_TRANS == 1 ? kTransparentIndex : kBgIndex;
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    for (int L = 0; L < std::min<int>(g_unicode_line, kOsdLines); ++L) {
        const int vst = PS_CHAR_VST + g_osd_v_alignment_value_velin + L * s * (twice ? 2 : 1);
        int hst = int(PS_CHAR_HST) + g_osd_max_line_x_velin[L];
        if (g_osd_h_alignment_velin != 3) {
            osd_put_unicode_string(fd, L, hst, vst, kFgIndex, bg, s, s, PS_MEM_OSD, dot64);
            continue;
        }
        int drawn = 0;
        for (int k = 0; k < kOsdLineChars; ++k) {
            const uint8_t hi = g_unicode_buf[L][2 * k], lo = g_unicode_buf[L][2 * k + 1];
            if (hi == 0 && lo == 0)
                continue;
            osd_put_unicode_string_1char_velin(fd, L, k, 1, hst, vst, kFgIndex, bg, s, s, PS_MEM_OSD, dot64);
            ++drawn;
            const bool cjk = hi != 0;
            const int width = cjk ? (twice ? 2 * s : s) : (twice ? s : s / 2);
            hst += width + g_osd_hmargin_velin[L];
            if (g_osd_remainder[L] >= 2 * drawn)
                hst += 1;
            KEL_TRACE("\n 1char[%d] hst= %d k=%d\n", drawn, hst, k);
        }
    }
}

void c331_manage::set_char_color(int fd)
{
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    wr(fd, kPaletteFrame, 1);
    wr(fd, kPaletteIndex, kBgIndex);
    for (uint32_t colour : {PS_BG_COLOR, PS_CHAR_COLOR})
        for (int i = 0; i < 3; ++i)
            wr(fd, kPaletteData, (colour >> (8 * i)) & 0xFF);
    wr(fd, kPaletteFrame, 0);
}

// ---------------------------------------------------------------------------------------
// Windows, tiles and scrolling

void c331_manage::calc_osd(OSD_TILE tiles[8])
{
    const int32_t* in = PM_OSD_INPUT_OFFSET;
    const int32_t* out = PM_OSD_OUTPUT_OFFSET;
    const bool text = PM_OSD_DATA_MODE == 1;
    const int srcW = (text ? PS_BG_HACT : PS_BMP_HACT) - in[0] - in[1];
    const int srcH = (text ? PS_BG_VACT : PS_BMP_VACT) - in[2] - in[3];
    const int maxW = std::max(srcW, 0) * (PM_OSD_HZOOM_EN ? 2 : 1);
    const int maxH = std::max(srcH, 0) * (PM_OSD_VZOOM_EN ? 2 : 1);
    OSD_WIN.HST = out[0];
    OSD_WIN.HW = std::clamp(PS_PANEL_HW - out[0] - out[1], 0, maxW);
    OSD_WIN.VST = out[2];
    OSD_WIN.VW = std::clamp(PS_PANEL_VW - out[2] - out[3], 0, maxH);

    for (int i = 0; i < 8; ++i)
        tiles[i] = OSD_TILE();
    // One axis: the part of [start, start + size) that falls into each piece of length step.
    auto cut = [](int start, int size, int step, int piece, int& pos, int& len) {
        const int cs = piece * step, ce = cs + step - 1, d = start - cs;
        if (d >= step) {
            pos = len = 0;
        } else if (d >= 0) {
            pos = d;
            len = ce < start + size ? step - d : size;
        } else {
            pos = 0;
            len = start + size > ce ? step : std::max(start + size - cs, 0);
        }
    };
    const int cols = tileCount(PS_PANEL_HSHAPE), rows = tileCount(PS_PANEL_VSHAPE);
    for (int c = 0; c < cols; ++c)
        cut(OSD_WIN.HST, OSD_WIN.HW, PS_ACTHW, c, tiles[c].hst, tiles[c].hw);
    for (int r = 0; r < rows; ++r)
        cut(OSD_WIN.VST, OSD_WIN.VW, PS_ACTVW, r, tiles[r].vst, tiles[r].vw);
    int firstC = -1, lastC = -1, firstR = -1, lastR = -1;
    for (int c = 0; c < cols; ++c)
        if (tiles[c].hw != 0) {
            if (firstC < 0)
                firstC = c;
            lastC = c;
        }
    for (int r = 0; r < rows; ++r)
        if (tiles[r].vw != 0) {
            if (firstR < 0)
                firstR = r;
            lastR = r;
        }
    if (firstC >= 0) {
        tiles[firstC].first_col = 1;
        tiles[lastC].last_col = 1;
    }
    if (firstR >= 0) {
        tiles[firstR].first_row = 1;
        tiles[lastR].last_row = 1;
    }
}

void c331_manage::set_osd(int fd, int display)
{
    uint32_t mode = g_osd_mwi_shift == 1 ? 0x6000 : 0x4000;
    if (PM_OSD_VZOOM_EN)
        mode += 0x800;
    if (PM_OSD_HZOOM_EN)
        mode |= 0x1000;
    if (PM_OSD_EN == 1)
        mode |= PM_OSD_DATA_MODE == 1 ? 3 : 2;
    if (g_osd_layer_bottom == 1)
        mode |= 0x8000;
    const uint32_t source = display == 1 ? PS_MEM_OSD1 : PS_MEM_OSD;
    const int x0 = display == 1 ? 0 : PM_OSD_INPUT_OFFSET[0];
    const int y0 = display == 1 ? 0 : PM_OSD_INPUT_OFFSET[2];
    OSD_TILE tiles[8];
    calc_osd(tiles);
    if (PS_PANEL_VSHAPE < 1)
        return;
    const int cols = tileCount(PS_PANEL_HSHAPE), rows = tileCount(PS_PANEL_VSHAPE);
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    int rowSum = 0;
    for (int r = 0; r < rows; ++r) {
        int colSum = 0;
        for (int c = 0; c < cols; ++c) {
            const int k = c + r * PS_PANEL_HSHAPE;
            if (k >= kChannels)
                break;
            const int off = 16 * k;
            // A zoomed window reads half as many canvas pixels as it shows.
            const int y = y0 + (PM_OSD_VZOOM_EN ? rowSum / 2 : rowSum);
            const int x = x0 + (PM_OSD_HZOOM_EN ? colSum / 2 : colSum);
            wr(fd, kWinHst, uint32_t(PS_ACTHST + tiles[c].hst - 4), off);
            wr(fd, kWinHw, uint32_t(tiles[c].hw), off);
            wr(fd, kWinVst, uint32_t(PS_ACTVST + tiles[r].vst + 1), off);
            wr(fd, kWinVw, uint32_t(tiles[r].vw), off);
            wr(fd, kWinSource, source + uint32_t(x) + osd_pitch() * uint32_t(y) * 128, off);
            wr(fd, kWinPitch, uint32_t(g_osd_mwi), off);
            wr(fd, kWinMode, mode, off);
            colSum += tiles[c].hw;
        }
        rowSum += tiles[r].vw;
    }
}

void c331_manage::set_scroll(int fd)
{
    const int32_t* in = PM_OSD_INPUT_OFFSET;
    const bool text = PM_OSD_DATA_MODE == 1;
    // The canvas as a redraw clips it: a width set since and not yet drawn would wrap the
    // two-byte scroll width.
    const int width = std::max(0, std::min(text ? PS_BG_HACT : PS_BMP_HACT, kWidestOsdCanvas) - in[0] - in[1]);
    const int height = std::max(0, text ? OSD_WIN.VW : PS_BMP_VACT - in[2] - in[3]);
    const int channels = std::min(kChannels, std::max(0, PS_PANEL_HSHAPE * PS_PANEL_VSHAPE));
    const int m = PM_OSD_SCROLL_MODE % 9;
    const uint32_t control = m != 0 ? (uint32_t((m - 1) * 16) | 0x81) & 0xFF : 0x80;
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < channels; ++k) {
            wr(fd, kScrollSpeed, uint32_t(PM_OSD_SCROLL_SPEED), 16 * k);
            wr(fd, kScrollW, uint32_t(width), 16 * k);
            wr(fd, kScrollH, uint32_t(height), 16 * k);
            wr(fd, kScrollCtl, pass == 0 ? 0 : control, 16 * k);   // stopped first, then the mode
        }
    }
}

// ---------------------------------------------------------------------------------------
// The full redraw

void c331_manage::update_osd(int fd)
{
    // Each engine, DMA and palette sequence takes c331_seq_mutex itself; the frame waits in
    // between do not hold it, so a chip that stops reporting updates stalls only this
    // thread, not the PC's flash commands and font reloads.
    PovsOperation waits(*this);
    const bool text = PM_OSD_DATA_MODE == 1;
    if (!text)
        load_bmp();
    int width = text ? PS_BG_HACT : PS_BMP_HACT;
    int height = text ? PS_BG_VACT : PS_BMP_VACT;

    // The pitch registers of the engine (0x1B, 0x1C) and of the windows (0x1E) hold one
    // byte: 255 units of 512 bytes, twice the widest canvas. A wider one is cut to the
    // columns that pitch holds (the windows then show no more than those), as a taller one
    // is cut to the lines its memory holds below.
    if (width > kWidestOsdCanvas) {
        KEL_TRACE("\033[1;34m[update_osd] canvas %d x %d clipped to %d columns: a pitch holds no more\033[0m\n", width,
                  height, kWidestOsdCanvas);
        width = kWidestOsdCanvas;
        if (text)
            PS_BG_HACT = width;
        else
            PS_BMP_HACT = width;
    }

    // Canvas pitch: twice the width (room for the 2 x 2 tiling), in 128-byte units, a
    // multiple of 4; beyond 64 units the chip counts it in 512-byte units.
    int n = 2 * ((std::max(width, 0) + 127) / 128);
    n = (n + 3) / 4 * 4;
    if (n > 64) {
        g_osd_mwi = n / 4;
        g_osd_mwi_shift = 1;
    } else {
        g_osd_mwi = n;
        g_osd_mwi_shift = 0;
    }
    const uint32_t pitch = std::max<uint32_t>(osd_pitch() * 128, 1);

    // The canvas ends where the display copy begins: a taller one is cut to the lines that
    // fit (the windows then show no more than those).
    const int canvasLines = int(std::min<uint32_t>((PS_MEM_OSD1 - PS_MEM_OSD) / pitch, 0x7FFFFFFF));
    if (height > canvasLines) {
        KEL_TRACE("\033[1;34m[update_osd] canvas %d x %d clipped to %d lines: OSD memory holds no more\033[0m\n",
                  width, height, canvasLines);
        height = canvasLines;
        if (text)
            PS_BG_VACT = height;
        else
            PS_BMP_VACT = height;
    }

    if (text) {
        osd_paint(fd, 0, PS_BG_HACT, 0, height, PS_BG_TRANS == 1 ? kTransparentIndex : kBgIndex, PS_MEM_OSD);
        gen_char(fd);
        wait1_povs(fd, 0);
        set_char_color(fd);
    } else {
        osd_write_dma_sfl(fd, PS_BMP_ADDR, PS_SFL_ADDR, 0, uint32_t(PS_BMP_HACT) * uint32_t(PS_BMP_VACT));
        osd_copy(fd, PS_SFL_ADDR, PS_MEM_OSD, PS_BMP_HACT, PS_BMP_VACT, 1);
        wait1_povs(fd, 0);
        std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
        wr(fd, kPaletteFrame, 1);
        osd_write_dma_sfl(fd, PS_BMPCP_ADDR, 0, 4, 816);
        wr(fd, kPaletteFrame, 0);
    }

    set_rtct(fd, 2);
    set_osd(fd, 0);
    set_rtct(fd, 1);
    wait1_povs(fd, 0);

    const int32_t* in = PM_OSD_INPUT_OFFSET;
    int W = width - in[0] - in[1], H = height - in[2] - in[3];
    if (W < 0 || H < 0 || in[0] < 0 || in[2] < 0)
        return;   // the windows keep showing the canvas
    // The copy is taken from inside the canvas, and its four tiles fit the display copy.
    const int copyLines = int(std::min<uint32_t>((PS_FONT_ADDR - PS_MEM_OSD1) / pitch / 2, 0x7FFFFFFF));
    const int fitW = std::max(0, width - in[0]);
    const int fitH = std::max(0, std::min(height - in[2], copyLines));
    if (W > fitW || H > fitH) {
        KEL_TRACE("\033[1;34m[update_osd] display copy %d x %d clipped to %d x %d\033[0m\n", W, H,
                  std::min(W, fitW), std::min(H, fitH));
        W = std::min(W, fitW);
        H = std::min(H, fitH);
    }
    const uint32_t src = PS_MEM_OSD + uint32_t(in[0]) + pitch * uint32_t(in[2]);
    // Two by two, so a scroll that runs off one edge comes back in at the other.
    const uint32_t down = pitch * uint32_t(H);
    for (uint32_t dst : {PS_MEM_OSD1, PS_MEM_OSD1 + uint32_t(W), PS_MEM_OSD1 + down, PS_MEM_OSD1 + down + uint32_t(W)})
        osd_copy(fd, src, dst, W, H, 0);
    set_rtct(fd, 2);
    set_osd(fd, 1);
    set_scroll(fd);
    set_rtct(fd, 1);
}

void c331_manage::kelApi_debug_printf_unicode(uint32_t code, int fd)
{
    KEL_TRACE("\033[1;34municode:%x\n\033[0m", code);
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);   // the font table may be reloaded
    uint32_t addr;
    if (code >= 0x20 && code <= 0x7F) {
        addr = PS_CHAR_ADDR_32ASCII + (code - 0x20) * 128;
    } else if (code >= kCjkFirst && code <= kCjkLast) {
        addr = PS_CHAR_ADDR_32CHN + (code - kCjkFirst) * 128;
    } else {
        KEL_TRACE("\t unicode:%x OOR, rang:%x - %x, return;\n", code, kCjkFirst, kCjkLast);
        return;
    }
    uint8_t glyph[128];
    read_flash(fd, addr, sizeof glyph, glyph);
    for (int row = 0; row < 32; ++row) {
        char text[33];
        for (int x = 0; x < 32; ++x)
            text[x] = (glyph[4 * row + x / 8] >> (x % 8)) & 1 ? 'O' : ' ';
        text[32] = 0;
        KEL_TRACE("%s\n", text);
    }
}
