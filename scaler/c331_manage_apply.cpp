// Applying parameter-block changes to the scaler: the step the manager thread runs on
// every pass once start-up is done.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "scaler/omenu.h"
#include "sources/velinsource.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kPanelFirst = 1376;
constexpr int kLedWidth = 1378, kLedHeight = 1380, kOut1Width = 1412, kOut1Height = 1414;
constexpr int kBrightness = 2176, kContrast = 2178, kSharpness = 2180, kSaturation = 2182;
constexpr int kColourType = 2184, kCustomR = 2186, kCustomG = 2188, kCustomB = 2190;
constexpr int kPriority = 2208;
constexpr int kWinRecords = 2272, kWinRecordSize = 26;
constexpr int kFadeRecords = 2816;
constexpr int kTestPattern = 864;
constexpr int kEdidRequests = 896;
constexpr int kAudioWindow = 2112;
constexpr int kScreenDark = 2116;
constexpr int kOsdOn = 2124;
constexpr int kCropRecords = 1472, kCropCount = 40, kCropSize = 10;
constexpr int kReceiverInputs = 4;

uint16_t w16(const uint8_t* block, int offset)
{
    return uint16_t(block[offset] | (block[offset + 1] << 8));
}

uint8_t lowestBit(uint8_t v)
{
    return uint8_t(v & (~v + 1));
}

// The input whose sound a block routes: the audio window's source, through the crop record it
// names; -1 none.
int audioInput(const uint8_t* block)
{
    const int w = block[kAudioWindow];
    if (w >= 6)
        return -1;
    const uint16_t source = w16(block, kWinRecords + kWinRecordSize * w + 8);
    if (!(source & 0x8000))
        return source;
    const int index = source & 0xFF;
    return index < kCropCount ? block[kCropRecords + kCropSize * index] & 0x0F : -1;
}
} // namespace

void c331_manage::c331managerdeal()
{
    if (c331_apply_flag != 0) {
        // c331_mutex keeps the scaler's own tables; the block's lock is held for its copy only.
        std::lock_guard<std::mutex> hold(c331_mutex);
        if (c331_apply_flag != 0)
            c331_apply_changes();
    }
    c331_follow_inputs();
}

// The LED panel group. Returns false while the FPGA manager still has to take over an LED
// size request (g_set_led_para 1): the set-up must follow it, and waiting for it here would
// hold the scaler for as long as the FPGA manager needs; the pass is left with the apply
// flag raised and tried again later.
bool c331_manage::apply_panel_group(const uint8_t* ram, const uint8_t* bak)
{
    bool changed = false;
    for (int off : {kPanelFirst, kLedWidth, kLedHeight, kOut1Width, kOut1Height})
        if (w16(ram, off) != w16(bak, off))
            changed = true;
    if (!changed)
        return true;
    {
        std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
        if (g_set_led_para == 1)
            return false;
    }
    // As a rebuild of the windows: programmed on the new panel before the pattern goes back
    // on, or the channels keep the panel set-up's areas under it.
    pattern_off_for_rebuild();
    kelApi_PnlInit2(w16(ram, kLedWidth), w16(ram, kLedHeight), w16(ram, kOut1Width), w16(ram, kOut1Height),
                    w16(ram, kPanelFirst));
    set_output(c331_fd);
    pattern_after_rebuild(ram);
    {
        std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
        g_set_led_para = 2;
    }
    if (w16(ram, kOsdOn) != 0)
        g_osd_update = 1;
    return true;
}

void c331_manage::apply_window_records(const uint8_t* ram, const uint8_t* bak, bool& rebuilt)
{
    rebuilt = false;
    for (int w = 0; w < kWindows; ++w) {
        for (int field = 0; field < kWinRecordSize; field += 2) {
            const int off = kWinRecords + kWinRecordSize * w + field;
            const uint16_t oldv = w16(bak, off), newv = w16(ram, off);
            if (oldv == newv)
                continue;
            KEL_TRACE("DIFF REG win[%#x] reg:%x %04x==>%04x\r\n", w, off - 2176, oldv, newv);
            // The setters work on the window table; a record that is off has no entry.
            const int e = entry_of_record(w);
            const bool perWindow = field == 4 || field == 8 || field == 18 || field == 22;
            if (perWindow && e < 0) {
                KEL_TRACE("DIFF REG win[%#x] is off, no window to change\r\n", w);
                continue;
            }
            switch (field) {
            case 0: case 10: case 12: case 14: case 16:
                // The rebuild takes every window's fields from the block.
                pattern_off_for_rebuild();
                kelApi_initEnvC331();
                kelApi_MultiWinChAlloc(1);
                kelApi_MultiWinChInit();
                set_output(c331_fd);
                pattern_after_rebuild(ram);
                rebuilt = true;
                return;
            case 4:
                c331_SetWinAttr(e, newv);
                break;
            case 8:
                if (newv & 0x8000) {
                    const int index = newv & 0xFF;
                    if (index >= kCropCount) {
                        KEL_TRACE("DIFF REG win[%#x] crop record %d OOR\r\n", w, index);
                        break;
                    }
                    const uint8_t* rec = ram + kCropRecords + kCropSize * index;
                    ST_RECT rect{w16(rec, 2), w16(rec, 4), w16(rec, 6), w16(rec, 8)};
                    c331_SetInputsourceCrop(e, newv);
                    c331_SetCrop(e, 1, &rect);
                    c331_SetInputsource(e, rec[0] & 0x0F);
                } else {
                    if (oldv & 0x8000) {
                        ST_RECT none;
                        c331_SetCrop(e, 0, &none);
                    }
                    c331_SetInputsource(e, newv);
                }
                break;
            case 18:
                c331_SetWinOutput(c331_fd, e, newv);
                break;
            case 22:
                c331_SetWinDbdMode(c331_fd, e, newv);
                break;
            default:
                break;   // rotation, volume and the unused words: nothing here
            }
        }
    }
}

// While a pattern shows, the inputs are not followed: the windows of a new table would stay
// unmeasured and uncaptured, and the generator would stay on channels the pattern's window
// may no longer hold. The generator is off while the table is built, so every window is set
// up (and one without signal blanked) as without it.
void c331_manage::pattern_off_for_rebuild()
{
    if (kelApi_IsPatternGen())
        c331_SetPattern(0);
}

// The block's pattern on the new table: refused, and so left off, with more than one window,
// whose pictures then follow their inputs; the block keeps its pattern byte.
void c331_manage::pattern_after_rebuild(const uint8_t* ram)
{
    if (ram && ram[kTestPattern] != 0)
        c331_SetPattern(ram[kTestPattern]);
}

const uint8_t* c331_manage::block_source()
{
    KelRamPara* k = KelRamPara::p_kelrampara_config;
    if (!k)
        return nullptr;
    if (!in_pass)
        return k->ram;
    if (view_taken)
        return block_view;
    if (applied_known && c331_stage >= 7)
        return applied_view;
    {
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        k->copy_block_locked(block_view, nullptr);
        view_taken = true;
    }
    return block_view;
}

void c331_manage::take_as_applied(const uint8_t* block)
{
    KelRamPara* k = KelRamPara::p_kelrampara_config;
    std::unique_lock<std::mutex> hold = KelRamPara::lock_block();
    if (block != applied_view)
        std::memcpy(applied_view, block, kBlockSize);
    applied_known = true;
    if (k) {
        std::memcpy(k->ram_applied, block, kBlockSize);
        ++k->applied_count;
    }
}

bool c331_manage::c331_apply_changes()
{
    KelRamPara* k = KelRamPara::p_kelrampara_config;
    if (!k)
        return false;
    // The flag and the copy are taken together: an edit is either in this copy or raises the
    // flag again for the next apply. Edits queued meanwhile are merged into that one apply.
    uint8_t flag, pcPending;
    uint64_t edits;   // the PC edits awaiting their store that this copy holds
    {
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        edits = k->store_asked;
        flag = c331_apply_flag.exchange(0);
        pcPending = k->pc_edit_pending.exchange(0);
        k->scaler_applying = 1;
        k->copy_block_locked(block_view, nullptr);
        // A scaler whose start-up did not run here took the chip over as it was saved.
        if (!applied_known) {
            std::memcpy(applied_view, k->ram_backup, kBlockSize);
            applied_known = true;
        }
    }
    const bool inPass = in_pass;
    in_pass = view_taken = true;   // what the operations read is this copy
    const bool done = apply_block(block_view, applied_view);
    in_pass = inPass;
    // A pass whose apply waits goes on from what the chip holds.
    view_taken = done;
    if (done)
        take_as_applied(block_view);
    uint8_t regs[37] = {};
    {
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        k->scaler_applying = 0;
        if (!done) {
            // Kept for a later pass; not woken for it, the FPGA manager needs its time.
            if (flag > c331_apply_flag)
                c331_apply_flag = flag;
            if (pcPending)
                k->pc_edit_pending = pcPending;
            return false;
        }
        k->applied_asked = std::max(k->applied_asked, edits);
        // The debug triggers of the controller register image, taken and cleared.
        std::copy(k->reg_image + 33, k->reg_image + 37, regs + 33);
        std::fill(k->reg_image + 34, k->reg_image + 37, uint8_t(0));
        if (k->reg_image[33] & 0x0F)
            k->reg_image[33] = 0;
    }
    // 11. Report (the PC writes that waited for an apply were in the copy as well).
    k->test_signal(flag);

    // 12. Overlay file.
    if (g_osd_update == 1) {
        g_osd_update = 0;
        get_json_omenu_para("/data/configs/omenu.json", &g_osd_list);
        set_OSD_para(&g_osd_list.item[0]);
    }

    // 13. Debug triggers of the controller register image.
    serve_debug_triggers(regs);
    return true;
}

bool c331_manage::apply_block(const uint8_t* ram, const uint8_t* bak)
{
    auto changed = [&](int off) { return w16(ram, off) != w16(bak, off); };
    // 1. LED panel, first: the FPGA manager's hand-shake depends on its order.
    if (!apply_panel_group(ram, bak))
        return false;

    // 2. Picture. The chip's brightness stays at its neutral 50; the FPGA applies the LED
    // brightness.
    if (changed(kBrightness)) {
        c331_SetBrightness(50);
        if (fpga_manage* f = fpga_manage::p_fpga_manage) {
            std::lock_guard<std::mutex> hold(Utils::_bri_set_mutex);
            f->bri_update_flag = 1;
        }
    }
    if (changed(kContrast))
        c331_SetContrast(w16(ram, kContrast));
    if (changed(kSharpness))
        c331_SetSharpness(w16(ram, kSharpness));
    if (changed(kSaturation))
        c331_SetSaturation(w16(ram, kSaturation));
    if (changed(kColourType) || changed(kCustomR) || changed(kCustomG) || changed(kCustomB))
        c331_SetColorTemp(uint32_t(ram[kColourType]) | uint32_t(ram[kCustomB]) << 8 |
                          uint32_t(ram[kCustomG]) << 16 | uint32_t(ram[kCustomR]) << 24);

    // 3. Window priorities.
    for (int i = 0; i < kWindows; ++i) {
        const int off = kPriority + 2 * i;
        if (!changed(off))
            continue;
        KEL_TRACE("DIFF REG CUSTOM_INFO_IMAGE%d_PRIORITY %04x==>%04x\r\n", i + 1, w16(bak, off), w16(ram, off));
        c331_SetWinPriority(entry_of_record(i), w16(ram, off));
        c331_SetWinPriority1(c331_fd);
    }

    // 4. Window records; 5. fade records (both skipped after a full rebuild, which takes
    // them from the block).
    bool rebuilt = false;
    apply_window_records(ram, bak, rebuilt);
    if (!rebuilt) {
        // A crop record edited in place (the crop screen, the PC) reaches the windows that
        // keep showing it; a window whose source word changed has taken it above already.
        for (int w = 0; w < kWindows; ++w) {
            const int off = kWinRecords + kWinRecordSize * w + 8;
            const uint16_t word = w16(ram, off);
            const int index = word & 0xFF;
            const int e = entry_of_record(w);
            if (e < 0 || !(word & 0x8000) || index >= kCropCount || changed(off))
                continue;
            const int rec = kCropRecords + kCropSize * index;
            if (std::memcmp(ram + rec, bak + rec, kCropSize) == 0)
                continue;
            ST_RECT rect{w16(ram, rec + 2), w16(ram, rec + 4), w16(ram, rec + 6), w16(ram, rec + 8)};
            c331_SetInputsourceCrop(e, word);
            c331_SetCrop(e, 1, &rect);
            c331_SetInputsource(e, ram[rec] & 0x0F);
        }
        for (int i = 0; i < 2 * kWindows; ++i) {
            const int off = kFadeRecords + 2 * i;
            if (!changed(off))
                continue;
            KEL_TRACE("DIFF REG win[%#x] reg:%x(%04x) %04x==>%04x\r\n", i / 2, 2 * i, kFadeRecords, w16(bak, off),
                      w16(ram, off));
            const int e = entry_of_record(i / 2);
            if (e < 0)
                continue;
            if (i % 2 == 0)
                PM_WIN_FADE_IN[e] = w16(ram, off);
            else
                PM_WIN_FADE_OUT[e] = w16(ram, off);
        }
    }

    // 6. Test pattern (a rebuild above has put the block's pattern on already).
    if (ram[kTestPattern] != bak[kTestPattern] && !rebuilt)
        c331_SetPattern(ram[kTestPattern]);

    // 7. EDID requests: every receiver input whose requested EDID changed, or whose EDID
    // came from the PC's table, is rewritten.
    if (velinsource* v = velinsource::p_velin_source) {
        for (int i = 0; i < kReceiverInputs; ++i) {
            const int off = kEdidRequests + 6 * i;
            if (changed(off) || changed(off + 2) || changed(off + 4) || edid_ram_table_from[i] != 0)
                v->raise_edid_request(i);
        }
    }

    // 8. Audio: routed again when the audio window, the input it shows (its source word, or
    // the crop record it names edited in place) or the volume and sound of any window changed.
    bool audio = changed(kAudioWindow) || audioInput(ram) != audioInput(bak);
    for (int w = 0; w < kWindows; ++w)
        audio = audio || changed(kWinRecords + kWinRecordSize * w + 20);
    if (audio && velinsource::p_velin_source)
        velinsource::p_velin_source->raise_audio_route();

    // 9. Screen dark: the FPGA manager takes it from the block.
    if (changed(kScreenDark))
        if (fpga_manage* f = fpga_manage::p_fpga_manage)
            f->screen_update_flag = 1;

    // 10. OSD overlay on or off.
    if (changed(kOsdOn)) {
        const int value = w16(ram, kOsdOn);
        kelApi_OsdSet(0, value);
        if (value != 0)
            g_osd_update = 1;
    }

    return true;
}

void c331_manage::serve_debug_triggers(uint8_t* regs)
{
    if (regs[34] != 0) {
        switch (lowestBit(regs[34])) {
        case 0x01: input_slidebar(c331_fd); break;
        case 0x02: output_slidebar(c331_fd); break;
        case 0x04: disable_slidebar(c331_fd); break;
        case 0x08: vbyone_rx_ch1_seq(c331_fd); break;
        case 0x10: vbyone_rx_ch2_seq(c331_fd); break;
        case 0x20: read_c331_b174bug(c331_fd); break;
        case 0x40: c331_stage = 0; break;   // the whole start-up again, from the chip id
        case 0x80: write_read_c331_b80_iacthstch5(c331_fd); break;
        default: break;
        }
        regs[34] = 0;
    }
    if (regs[35] != 0) {
        kelDbg_c331_param(regs[35] - 1);
        regs[35] = 0;
    }
    if (regs[36] != 0) {
        if (regs[36] & 1)
            kelDbg_c331_print_regGrp(0);
        regs[36] = 0;
    }
    const uint8_t r33 = regs[33] & 0x0F;
    if (r33 != 0) {
        switch (lowestBit(r33)) {
        case 0x01: sync_c331_device_test_input(c331_fd); break;
        case 0x02: sync_c331_device_test_frame_lock(c331_fd); break;
        case 0x04: sync_c331_device_test_frame_lock_vbyrx2(c331_fd); break;
        case 0x08: sync_c331_device_test_frame_lock_vbyrx3(c331_fd); break;
        default: break;
        }
        regs[33] = 0;
    }
}

void c331_manage::c331_follow_inputs()
{
    // The overlay is no input: a switch or a new file made while a test pattern shows is laid out
    // at once, not left showing the old overlay over the pattern until the pattern goes off.
    if (osd_redraw_request) {
        update_osd(c331_fd);
        osd_redraw_request = 0;
    } else if (osd_relayout_request) {
        set_osd(c331_fd, 1);
        set_scroll(c331_fd);
        osd_relayout_request = 0;
    }
    if (kelApi_IsPatternGen())
        return;   // while a test pattern is shown the inputs are not followed
    load_hdmi();
    check_port_valid(c331_fd);
    check_input_port(c331_fd);
    for (int p = 0; p < kPorts; ++p) {
        if (PI_UPDATE[p] == 0 && g_chg_hdmi[p] == 0)
            continue;
        for (int w = 0; w < kWindows; ++w) {
            // A joined window follows each of its ports, not only its source's.
            if (!window_uses_port(w, p))
                continue;
            KEL_TRACE("\n [c331_main]PI_UPDATE[%d]=%d   g_chg_hdmi[%d]=%d   PI_ACT  HST=%4d  HW=%4d  VST=%4d  VW=%4d\n",
                      p, PI_UPDATE[p], p, g_chg_hdmi[p], PI_ACT[p].HST, PI_ACT[p].HW, PI_ACT[p].VST, PI_ACT[p].VW);
            g_chg_input[w] = 3;
            set_output(c331_fd);
            g_c331_source_online = 1;
        }
        PI_UPDATE[p] = 0;
        g_chg_hdmi[p] = 0;
    }
}
