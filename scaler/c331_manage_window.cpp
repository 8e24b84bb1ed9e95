// The scaler's window environment: the window table built from the parameter block's six
// window records, checked against the panel, and the preset layouts that replace it when
// the records cannot be used.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"

#include <algorithm>

namespace {
constexpr int kPriority = 2208;
constexpr int kWinRecords = 2272, kWinRecordSize = 26;
constexpr int kCropRecords = 1472, kCropSize = 10, kCropCount = 40;
constexpr int kFadeRecords = 2816;

const char* input_name(int input)
{
    static const char* names[6] = {"DVI", "EXT", "HDMI1(1.4)", "HDMI2(1.4)", "HDMI3(2.0)", "HDMI4(2.0)"};
    return (input >= 0 && input < 6) ? names[input] : "Para Error";
}
} // namespace

int c331_manage::dbd_mode_of(int recordWord)
{
    static const int modes[10] = {1, 20, 21, 22, 23, 30, 40, 41, 50, 51};
    if (recordWord >= 0 && recordWord < 10)
        return modes[recordWord];
    KEL_TRACE("\t !!!!!!!!DBD_MODE OOR!!!!!!!");
    return 1;
}

// A priority word above 5 is folded into the six layers, the same on every path that takes it.
int c331_manage::layer_of(int word)
{
    if (word > 5) {
        KEL_TRACE(" PRIORITY:%x OOR,reset to %d\n", word, word % 6);
        return word % 6;
    }
    return std::max(word, 0);
}

void c331_manage::kelApi_initEnvC331()
{
    record_call("kelApi_initEnvC331()");
    const uint8_t* ram = block_source();
    if (!ram) {
        kelApi_initEnvC331Default();
        return;
    }
    auto w16 = [&](int off) { return int(KelRamPara::get16(ram + off)); };

    KEL_TRACE("[kelApi_initEnvC331]\r");
    int count = 0;
    for (int w = 0; w < kWindows; ++w) {
        KEL_TRACE("\t win:%d addr:%4x\t", w, kWinRecords + kWinRecordSize * w);
        for (int i = 0; i < kWinRecordSize; i += 2)
            KEL_TRACE("%04x ", w16(kWinRecords + kWinRecordSize * w + i));
        if (w16(kWinRecords + kWinRecordSize * w) != 0)
            ++count;
    }
    KEL_TRACE("\t wincnt:%d\r\n", count);
    if (count == 0) {
        kelApi_initEnvC331Default();
        return;
    }

    // 2. One table entry per enabled window, in record order.
    bool oor = false;
    int n = 0;
    for (int w = 0; w < kWindows; ++w)
        record_entry[w] = entry_record[w] = -1;
    for (int w = 0; w < kWindows; ++w) {
        const int rec = kWinRecords + kWinRecordSize * w;
        if (w16(rec) == 0)
            continue;
        record_entry[w] = n;
        entry_record[n] = w;
        ST_WIN_INFO& e = gWininfo[n];
        e = ST_WIN_INFO();
        e.layer = uint8_t(layer_of(w16(kPriority + 2 * w)));
        const int x = int16_t(w16(rec + 10)), y = int16_t(w16(rec + 12));
        const int width = int16_t(w16(rec + 14)), height = int16_t(w16(rec + 16));
        e.x = int16_t(x + pnl.xoff);
        e.y = int16_t(y + pnl.yoff);
        e.width = int16_t(width);
        e.height = int16_t(height);
        const int source = w16(rec + 8);
        // A crop index of 40 or more names no crop record: the window shows its source
        // without a crop.
        if ((source & 0x8000) && (source & 0xFF) < kCropCount) {
            e.cropEn = 1;
            e.crop = uint8_t(source & 0xFF);
            e.input = uint8_t(ram[kCropRecords + kCropSize * e.crop] & 7);
        } else {
            e.cropEn = 0;
            e.input = uint8_t(source & 7);
        }
        e.enable = uint8_t(w16(rec) & 0xFF);
        e.rotate = uint8_t(w16(rec + 2));
        const int output = w16(rec + 18);
        e.blackfreeze = uint8_t(output & 3);
        PM_WIN_FADE_EN[n] = (output >> 2) & 1;
        PM_WIN_DBD_MODE[n] = (output & 0x100) ? dbd_mode_of(w16(rec + 22)) : 0;
        g_chg_dbd[n] = 1;
        PM_WIN_FADE_IN[n] = w16(kFadeRecords + 4 * w);
        PM_WIN_FADE_OUT[n] = w16(kFadeRecords + 4 * w + 2);
        PM_INPUT_OFFSET_EN[n] = e.cropEn;
        if (e.input > 5)
            KEL_TRACE("\t !!!!!!!!PARA INPUT OOR!!!!!!!");
        KEL_TRACE("\t win%d:(%d,%d,%d,%d) input:%s, winEn:%d,rotate:%d\r\n", n, e.x, e.y, e.width, e.height,
                  input_name(e.input), e.enable, e.rotate);

        // 3. Range checks against the panel.
        const char* variant = pnl.splice == 4 ? "SPLICE_CP1TO2 " : pnl.splice != 0 ? "SPLICE_NONE " : "";
        if (x < 0 || width < 0 || x + width > pnl.ledW) {
            KEL_TRACE("\t OOR for %swin:%d x:%d w:%d, pnl->w:%d\r\n", variant, n, x, width, pnl.ledW);
            oor = true;
        }
        if (e.rotate > 3) {
            KEL_TRACE("\t OOR for %swin%d rotate:%d\r\n", variant, n, e.rotate);
            oor = true;
        }
        if (e.input > 5) {
            KEL_TRACE("\t OOR for %swin:%d, input:%s\r\n", variant, n, input_name(e.input));
            oor = true;
        }
        if (y < 0 || height < 0 || y + height > pnl.ledH) {
            KEL_TRACE("\t OOR for %swin:%d y:%d h:%d, pnl->h\r\n", variant, n, y, height);
            oor = true;
        }
        // A flags word such as 0x0100 counts the window in with an enabled byte of 0: that
        // alone is no range failure; it is named only beside a real one.
        if (oor && e.enable == 0)
            KEL_TRACE("\t OOR for %swin0 disable\r", variant);
        ++n;
    }
    wincnt = n;
    if (oor) {
        KEL_TRACE("\t OOR for win RECT\t");
        kelApi_initEnvC331Default();
        return;
    }

    // 4. Every layer once: a window whose layer is taken gets the lowest free one.
    unsigned used = 0;
    for (int i = 0; i < wincnt; ++i) {
        int layer = gWininfo[i].layer;
        if (used & (1u << layer)) {
            int freeLayer = 0;
            while (freeLayer < 6 && (used & (1u << freeLayer)))
                ++freeLayer;
            KEL_TRACE("\t\t win%d layer:%d already assigned, reset it to :%d\n", i, layer, freeLayer);
            layer = freeLayer;
            gWininfo[i].layer = uint8_t(layer);
        }
        used |= 1u << layer;
    }

    // 5. Attributes of every window, at the entry its record has; entries beyond the
    //    table keep none.
    for (int e = 0; e < kWindows; ++e) {
        const int w = entry_record[e];
        const int attr = w >= 0 ? w16(kWinRecords + kWinRecordSize * w + 4) & 3 : 0;
        if (e < wincnt)
            gWininfo[e].attr = uint8_t(attr);
        g_chg_attr[e] = 1;
        PM_WIN_ATTR0[e] = attr & 1;
        PM_WIN_ATTR1[e] = (attr >> 1) & 1;
    }
}

void c331_manage::kelApi_initEnvC331Default()
{
    KEL_TRACE("kelApi_initEnvC331Default\r");
    kelApi_MultiWinInit();
    ST_MWIN_RECT rects[6];
    ST_MWIN_LAYOUT layout;
    layout.rect = rects;
    kelApi_MultiWinGet(&layout);
    wincnt = layout.count;
    // The preset takes the place of the records: record i edits entry i.
    for (int i = 0; i < kWindows; ++i)
        record_entry[i] = entry_record[i] = i < wincnt ? i : -1;
    // The preset windows are the same whatever the table held before (a start's): the first
    // input, plain, neither joined nor mirrored nor fading; what an entry kept from the windows
    // last there (a joined mode, a mirror) would show a picture no record asks for.
    for (int i = 0; i < kWindows; ++i) {
        if (i < wincnt) {
            ST_WIN_INFO& e = gWininfo[i];
            e = ST_WIN_INFO();
            e.x = int16_t(rects[i].x + pnl.xoff);
            e.y = int16_t(rects[i].y + pnl.yoff);
            e.width = int16_t(rects[i].width);
            e.height = int16_t(rects[i].height);
            e.layer = uint8_t(i);
            e.enable = 1;
            e.rotate = 0;
        }
        PM_INPUT_OFFSET_EN[i] = 0;
        PM_WIN_DBD_MODE[i] = 0;
        PM_WIN_FADE_EN[i] = 0;
        PM_WIN_ATTR0[i] = PM_WIN_ATTR1[i] = 0;
        g_chg_attr[i] = g_chg_dbd[i] = 1;
    }
}

void c331_manage::kelApi_MultiWinGet(ST_MWIN_LAYOUT* out)
{
    if (!out)
        return;
    const ST_MWIN_LAYOUT& first = mwin_layout[0];
    out->count = first.count < 0 ? 0 : first.count > kWindows ? kWindows : first.count;
    if (out->rect && first.rect)
        for (int i = 0; i < out->count; ++i)
            out->rect[i] = first.rect[i];
    kelApi_PreviewCh();
}

// ---------------------------------------------------------------------------------------
// Preset layouts 1-10, from the LED size (L x Lh), the output-channel size (W x H) and the
// arrangement a.

void c331_manage::kelApi_MultiWinInit()
{
    const int L = pnl.ledW, Lh = pnl.ledH, W = pnl.ochW, H = pnl.ochH, a = pnl.arrang;
    auto row = [&](int i) { return ST_MWIN_RECT{i * W, 0, W, H}; };
    auto fourTwo = [&](int i) { return i < 4 ? ST_MWIN_RECT{i * W, 0, W, H} : ST_MWIN_RECT{(i - 4) * W, H, W, H}; };
    auto column = [&](int i) { return ST_MWIN_RECT{0, i * H, W, H}; };
    auto pair = [&](int i) { return ST_MWIN_RECT{(i % 2) * W, (i / 2) * H, W, H}; };
    for (int preset = 1; preset <= 10; ++preset) {
        ST_MWIN_LAYOUT& l = mwin_layout[preset - 1];
        ST_MWIN_RECT* r = mwin_rect[preset - 1];
        l.rect = r;
        const int count = l.count;
        auto fill = [&](auto layout) {
            for (int i = 0; i < count && i < 6; ++i)
                r[i] = layout(i);
        };
        switch (count) {
        case 1:
            r[0] = {0, 0, L, Lh};
            break;
        case 2:
            if (preset == 2 && (a == 0 || a == 1)) {
                r[0] = {0, 0, 2 * W, H};
                r[1] = {2 * W, 0, 2 * W, H};
            }
            break;
        case 3:
            if (preset == 3) {
                r[0] = {0, 0, 1600, 900};
                r[1] = {1600, 0, 3800, 2160};
                r[2] = {5400, 0, 1024, 768};
            } else if (preset == 4) {
                r[0] = {0, 0, L, Lh / 2};
                r[1] = {0, Lh / 2, L / 3 + L / 2, Lh / 2};
                r[2] = {L / 3 + L / 2, Lh / 2, L / 2 - L / 3, Lh / 2};
            }
            break;
        case 4:
            if (preset == 5) {
                if (a == 0 || a == 9) fill(row);
                else if (a == 1) fill(fourTwo);
                else if (a == 10) fill(column);
                else if (a == 11) fill(pair);
            } else if (preset == 6) {
                if (a == 0 || a == 9) {
                    fill(row);
                } else if (a == 1) {
                    fill(fourTwo);
                } else if (a == 10) {
                    r[0] = {0, 0, W, H - 400};
                    r[1] = {0, H - 400, W, H + 400};
                    r[2] = {0, 2 * H + 400, W, H};
                    r[3] = {0, 3 * H + 400, W, H - 400};
                } else if (a == 11) {
                    fill(pair);
                }
            }
            break;
        case 5:
            if (preset == 7) {
                r[0] = {0, 0, L / 2, Lh / 2};
                r[1] = {0, Lh / 2, L / 2, Lh / 2};
                r[2] = {L / 2, 0, L / 2, Lh / 3};
                r[3] = {L / 2, Lh / 3, L / 2, Lh / 3};
                r[4] = {L / 2, 2 * Lh / 3, L / 2, Lh / 3};
            } else if (preset == 8) {
                r[0] = {0, 0, L / 2, Lh / 2};
                r[1] = {L / 2, 0, L / 2, Lh / 2};
                r[2] = {0, Lh / 2, L / 3, Lh / 2};
                r[3] = {L / 3, Lh / 2, L / 3, Lh / 2};
                r[4] = {2 * L / 3, Lh / 2, L / 3, Lh / 2};
            }
            break;
        case 6:
            if (preset == 9) {
                if (a == 0 || a == 9) fill(row);
                else if (a == 1) fill(fourTwo);
                else if (a == 10) fill(column);
                else if (a == 11 || a == 18) fill(pair);
            } else if (preset == 10) {
                if (a == 0) {
                    fill(row);
                } else if (a == 1) {
                    fill(fourTwo);
                } else if (a == 9) {
                    KEL_TRACE("\t ARRANG4K_4x1 init windows\r");
                    r[0] = {0, 0, W, H};
                    r[1] = {W / 2, 0, W, H};
                    r[2] = {2 * W, 0, W / 2 - 100, H};
                    r[3] = {2 * W + W / 2, 0, W / 2 - 100, H};
                    r[4] = {3 * W, 0, W, H / 2 - 100};
                    r[5] = {3 * W, H / 2, W, H / 2};
                } else if (a == 10 && L == 2048 && Lh == 8640) {
                    KEL_TRACE("\t ARRANG4K_1x4 init windows\r");
                    r[0] = {0, 0, 2048, 2160};
                    r[1] = {0, 1080, 2048, 3240};
                    r[2] = {0, 2 * H, W, H / 2 - 100};
                    r[3] = {0, 2 * H + H / 2, W, H / 2};
                    r[4] = {0, 3 * H, W / 2 - 100, H / 2};
                    r[5] = {W / 2, 3 * H, W / 2, H / 2};
                } else if (a == 11 || a == 18) {
                    KEL_TRACE("\t ARRANG4K_2x2 init windows\r");
                    r[0] = {0, 0, W, H};
                    r[1] = {W - 300, 0, W, H};
                    r[2] = {100, H + 100, W / 2 - 200, H - 200};
                    r[3] = {W / 2, H + 100, W / 2 - 100, H - 200};
                    r[4] = {W + 100, H + 200, W - 200, H / 2 - 200};
                    r[5] = {W + 100, H + H / 2 + 100, W - 200, H / 2 - 100};
                }
            }
            break;
        default:
            break;
        }
    }
}
