// Setters of one property of one window: its input and crop record, its priority
// (stacking order), its attribute (mirroring), its output state (black, freeze, the effect
// of a source switch) and its dot-by-dot input mode. Most end by reprogramming the window.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"

namespace {
constexpr int kWinRecords = 2272, kWinRecordSize = 26;
constexpr int kCropRecords = 1472, kCropSize = 10, kCropCount = 40;
constexpr int kDbdEnable = 0x100;   // output word: the window joins its ports dot by dot

std::string call(const char* name, long a, long b)
{
    return std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + ")";
}

// A word of window record rec, 0 without a parameter block or a record.
int recordWord(const uint8_t* ram, int rec, int field)
{
    return ram && rec >= 0 && rec < 6 ? KelRamPara::get16(ram + kWinRecords + kWinRecordSize * rec + field) : 0;
}
} // namespace

void c331_manage::c331_SetInputsourceCrop(int win, int cropIdx)
{
    record_call(call("c331_SetInputsourceCrop", win, cropIdx));
    if (win < 0 || win >= wincnt) {
        KEL_TRACE("[%s] win:%d oor\n", __func__, win);
        return;
    }
    const int index = cropIdx & 0xFF;
    const uint8_t* ram = block_source();
    if (index >= kCropCount || !ram) {
        KEL_TRACE("\t !!!!!!!!!cropIdx OOR,return !!!!!!!!!!!!!");
        return;
    }
    gWininfo[win].crop = uint8_t(index);
    gWininfo[win].input = ram[kCropRecords + kCropSize * index];
}

void c331_manage::c331_SetWinPriority(int win, int value)
{
    record_call(call("c331_SetWinPriority", win, value));
    if (!kelApi_IsWinValid(win))
        return;
    gWininfo[win].layer = uint8_t(layer_of(value));
}

void c331_manage::c331_SetWinPriority1(int fd)
{
    record_call("c331_SetWinPriority1()");
    for (int w = 0; w < kWindows; ++w)
        PM_OVERLAY_PRI[w] = w < wincnt ? 5 - gWininfo[w].layer : 0;
    update_overlay_info();
    set_overlay(fd);
    reset_layer_coef(fd, 0);
}

void c331_manage::c331_SetWinAttr(int win, int value)
{
    record_call(call("c331_SetWinAttr", win, value));
    if (win < 0 || win >= wincnt)
        return;
    const int attr = value & 3;
    gWininfo[win].attr = uint8_t(attr);
    g_chg_output[win] = 1;
    PM_WIN_ATTR0[win] = attr & 1;
    PM_WIN_ATTR1[win] = (attr >> 1) & 1;
    set_output(c331_fd);
}

void c331_manage::c331_SetWinDbdMode(int fd, int win, int value)
{
    record_call(call("c331_SetWinDbdMode", win, value));
    if (!kelApi_IsWinValid(win))
        return;
    const int output = recordWord(block_source(), record_of_entry(win), 18);
    // With dot-by-dot off the window stays a plain window (0); the new mode is read from
    // the record when dot-by-dot is switched on.
    if (!(output & kDbdEnable))
        return;
    PM_WIN_DBD_MODE[win] = dbd_mode_of(value);
    g_chg_output[win] = 1;
    set_output(fd);
}

void c331_manage::c331_SetWinOutput(int fd, int win, int value)
{
    record_call(call("c331_SetWinOutput", win, value));
    if (!kelApi_IsWinValid(win))
        return;
    if (win >= wincnt)
        KEL_TRACE("[c331_SetWinOutput], win OOR\n");
    ST_WIN_INFO& e = gWininfo[win];
    const int fade = (value >> 2) & 1;
    const int dbd = (value & kDbdEnable) ? dbd_mode_of(recordWord(block_source(), record_of_entry(win), 22)) : 0;
    const int d = value & 3;
    if (d != e.blackfreeze) {
        if ((d ^ e.blackfreeze) & 1) {
            e.blackfreeze = uint8_t((e.blackfreeze & ~1) | (d & 1));
            KEL_TRACE("\t change win_%d %s\n", win, (d & 1) ? "Black" : "Normal");
            set_input_bkg2(fd, win, d & 1);
        }
        if ((d ^ e.blackfreeze) & 2) {
            e.blackfreeze &= uint8_t(~2);
            const int port = PM_INPUT[win];
            if (port_ok(port) && PI_PORT_INFO[port].NOSIG == 0) {
                e.blackfreeze |= uint8_t(d & 2);
                KEL_TRACE("\t change win_%d %s\n", win, (d & 2) ? "Freeze" : "Normal");
                win_freeze_sel(fd, win, value & 2);
                // A freeze alone is done; a write that also changes the source-switch
                // effect or the dot-by-dot mode goes on to apply them.
                if (fade == PM_WIN_FADE_EN[win] && dbd == PM_WIN_DBD_MODE[win])
                    return;
            } else {
                KEL_TRACE("\t change win_%d no signal, disable freeze\n", win);
            }
        }
    }
    PM_WIN_FADE_EN[win] = fade;
    KEL_TRACE("\t win_%d %s\n", win, fade ? "QuickSwap" : "FadeInOut");
    PM_WIN_DBD_MODE[win] = dbd;
    g_chg_output[win] = 1;
    set_output(fd);
}
