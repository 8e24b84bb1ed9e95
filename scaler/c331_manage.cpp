// The scaler manager: singleton, thread, start-up stages and the start-up parameter set.
#include "scaler/c331_manage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "scaler/c331_drv.h"
#include "scaler/omenu.h"

#include <algorithm>
#include <cstdio>

c331_manage* c331_manage::p_c331_manage = nullptr;
std::atomic<uint8_t> g_osd_update{0};

namespace {
uint16_t block16(const uint8_t* block, int offset)
{
    return uint16_t(block[offset] | (block[offset + 1] << 8));
}
} // namespace

// The default mode set copied by load_param (window shapes, inputs, offsets, channel
// owners, overlay, priorities, attributes, fades, DBD and OSD words), in the order of the
// targets in load_param.
const int32_t c331_manage::parameters_txt[160] = {
    // PM_WIN_SHAPE[w][0..1]
    2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    // PM_INPUT[w]
    4, 5, 1, 2, 3, 0,
    // PM_WIN_OFFSET[w][0..3]
    100, 100, 100, 100, 0, 0, 0, 0, 0, 0, 540, 0, 0, 0, 1080, 0, 0, 0, 1080, 0, 0, 0, 540, 0,
    // PM_INPUT_OFFSET[w][0..3]
    100, 100, 200, 200, 0, 0, 0, 0, 400, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    // PM_INPUT_OFFSET_EN[w]
    1, 0, 0, 0, 0, 0,
    // PM_WIN_NUM[0..7]
    0, 0, 1, 1, 2, 3, 4, 5,
    // PM_AREA_NUM[0..7]
    0, 1, 0, 1, 0, 0, 0, 0,
    // PM_OVERLAY[0..7]
    0, 0, 0, 0, 1, 2, 3, 4,
    // PM_OVERLAY_PRI[w]
    1, 0, 2, 3, 4, 5,
    // window attribute bit 0, bit 1
    0, 0, 0, 1, 1, 1,
    0, 0, 1, 0, 1, 0,
    // PM_WIN_FADE_EN, PM_WIN_FADE_IN, PM_WIN_FADE_OUT
    0, 1, 1, 1, 0, 1,
    60, 60, 60, 60, 60, 60,
    60, 60, 60, 60, 60, 60,
    // PM_WIN_DBD_MODE, second DBD word
    0, 0, 1, 0, 1, 1,
    0, 0, 0, 0, 0, 0,
    // PM_OSD_EN, HZOOM, VZOOM, DATA_MODE, SCROLL_MODE
    0, 0, 0, 1, 2,
    // PM_OSD_OUTPUT_OFFSET[4], PM_OSD_INPUT_OFFSET[4]
    0, 0, 0, 0, 0, 0, 0, 0,
    // the two single words, PM_OSD_UPDATE_BUTTON
    1, 0, 0};

c331_manage* c331_manage::pInstance()
{
    if (!p_c331_manage) {
        p_c331_manage = new c331_manage();
        p_c331_manage->c331_apply_flag = 0;
        p_c331_manage->pattern_gen_on = 0;
        p_c331_manage->initialize();
    }
    return p_c331_manage;
}

c331_manage::c331_manage()
{
    c331_stage = 0;
    drv = new c331_drv();
    // The preview layouts: window counts of presets 1-10.
    static const int counts[10] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6};
    for (int i = 0; i < 10; ++i) {
        mwin_layout[i].count = counts[i];
        mwin_layout[i].rect = mwin_rect[i];
    }
    for (auto& info : PI_HDMI_INFO)
        info.nosignal = 1;
    for (auto& o : ich_owner)
        o = -1;
    for (auto& l : ich_list)
        for (auto& e : l)
            e = -1;
    for (auto& u : dbd_unit_owner)
        u = -1;
    for (auto& r : field_rec)
        for (int i = 0; i < 5; ++i)
            r[i] = i;
    for (auto& o : prev_win_num)
        o = 6;
    for (auto& l : prev_ich_list)
        for (auto& e : l)
            e = -1;
    for (auto& l : och_list)
        for (auto& e : l)
            e = -1;
    for (auto& l : g_och_layer)
        for (auto& e : l)
            e = 0;
}

// The object lives for the process; the thread is never joined.
c331_manage::~c331_manage()
{
    if (c331_thread.joinable())
        c331_thread.detach();
}

int c331_manage::initialize()
{
    KEL_TRACE("\n======c331_manage::initialize()===== ");
    c331_fd = drv->initialize();
    KEL_TRACE("\n c331_fd = %02x \n", unsigned(c331_fd));
    unsigned id = drv->read_C331(c331_fd, kChipIdReg, 0);
    KEL_TRACE("\n c331_id = %02x \n", id);
    try {
        c331_thread = std::thread(&c331_manage::c331manageThread, this);
    } catch (...) {
        KEL_TRACE("create manage thread failed");
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        return 255;
    }
    return 0;
}

void c331_manage::raise_apply_flag(uint8_t value)
{
    if (value > c331_apply_flag)
        c331_apply_flag = value;
    // A change waits no pause: the thread is woken to apply it.
    pass_wake.end();
}

void* c331_manage::c331manageThread(void* arg)
{
    auto* self = static_cast<c331_manage*>(arg);
    if (!self)
        return nullptr;
    // Quick passes while the chip is being brought up or a change waits to be applied;
    // otherwise the thread only follows the inputs, which the input side publishes every
    // 10 ms, so it need not wake more often than that. A raised apply flag ends the pause.
    for (;;) {
        self->c331manage_pass();
        const bool busy = self->c331_stage < 8 || self->c331_apply_flag != 0;
        self->pass_wake.pauseMs(busy ? 1 : 10);
    }
    return nullptr;
}

void c331_manage::Sleep(int ms)
{
    if (ms > 0)
        board::Clock::sleepMs(uint64_t(ms));
}

void c331_manage::wr(int fd, uint32_t reg, uint32_t value, int bankoffset)
{
    drv->write_C331(fd, reg, value, bankoffset);
}

unsigned c331_manage::rd(int fd, uint32_t reg, int bankoffset)
{
    return drv->read_C331(fd, reg, bankoffset);
}

void c331_manage::wm(int fd, uint32_t reg, uint32_t value, uint32_t mask, int bankoffset)
{
    drv->write_c331_mask(fd, reg, value, mask, bankoffset);
}

void c331_manage::record_call(const std::string& call)
{
    std::lock_guard<std::mutex> hold(deferred_mutex);
    if (deferred_calls.size() >= 4096)
        deferred_calls.erase(deferred_calls.begin(), deferred_calls.begin() + 2048);
    deferred_calls.push_back(call);
    deferred_last_poll = nullptr;
}

void c331_manage::record_poll(const char* call)
{
    // Every idle pass gets here: the repeat is seen from the pointer, without comparing text.
    std::lock_guard<std::mutex> hold(deferred_mutex);
    if (!deferred_calls.empty() && (deferred_last_poll == call || deferred_calls.back() == call)) {
        deferred_last_poll = call;
        return;
    }
    if (deferred_calls.size() >= 4096)
        deferred_calls.erase(deferred_calls.begin(), deferred_calls.begin() + 2048);
    deferred_calls.push_back(call);
    deferred_last_poll = call;
}

std::vector<std::string> c331_manage::deferred_calls_copy()
{
    std::lock_guard<std::mutex> hold(deferred_mutex);
    return deferred_calls;
}

void c331_manage::clear_deferred_calls()
{
    std::lock_guard<std::mutex> hold(deferred_mutex);
    deferred_calls.clear();
    deferred_last_poll = nullptr;
}

// ---------------------------------------------------------------------------------------
// One pass of the manager thread.

void c331_manage::c331manage_pass()
{
    // One pass is one waiting operation: once the chip has not taken an output update for a
    // whole time-out, the pass's later waits (the next setter's freeze, a fade's steps, the
    // OSD's frames) go on without waiting. Otherwise every setter of an apply pass would wait
    // its own time-out, and the apply's changes would wait behind them.
    PovsOperation waits(*this);
    // The pass reads its own copy of the block (block_source), taken at its first read.
    struct PassCopy {
        c331_manage& m;
        explicit PassCopy(c331_manage& owner) : m(owner) { m.in_pass = true, m.view_taken = false; }
        ~PassCopy() { m.in_pass = false; }
    } copy(*this);
    const uint8_t stage = c331_stage;
    if (stage < 5) {
        // A wrong id is read again only after kIdRetryUs, and printed when it changes.
        const uint64_t now = board::Clock::monotonicUs();
        if (bad_id_pending && now - last_bad_id_us < kIdRetryUs)
            return;
        const unsigned id = drv->read_C331(c331_fd, kChipIdReg, 0);
        if (id == kChipId) {
            bad_id_pending = false;
            c331_stage = uint8_t(stage + 1);
            KEL_TRACE("\n ok c331_id = 0x24x ");
        } else {
            if (int(id) != last_bad_id)
                KEL_TRACE("\n error c331_id = %02x \n", id);
            last_bad_id = int(id);
            bad_id_pending = true;
            last_bad_id_us = now;
        }
        return;
    }
    KelRamPara* k = KelRamPara::p_kelrampara_config;
    if (stage == 5) {
        load_system_param();
        define_param();
        drv->init_reg_acc_param();
        write_initial_setting(c331_fd, 1);
        set_rtct(c331_fd, 1);
        load_param();
        check_input_port(c331_fd);
        load_char();
        read_c331_font(c331_fd);
        update_font(c331_fd);
        c331_stage = 6;
        KEL_TRACE("\n ok c331_id  setup= %d \n", 6);
        return;
    }
    if (stage == 6) {
        int w[5] = {1920, 1080, 1920, 1080, 0};
        if (const uint8_t* ram = block_source()) {
            w[0] = block16(ram, 1378);
            w[1] = block16(ram, 1380);
            w[2] = block16(ram, 1412);
            w[3] = block16(ram, 1414);
            w[4] = block16(ram, 1376);
        }
        {
            // The panel set-up reads the window records and reports its geometry in the block.
            std::unique_lock<std::mutex> hold(c331_mutex, std::defer_lock);
            if (k)
                hold.lock();
            kelApi_PnlInit2(w[0], w[1], w[2], w[3], w[4]);
            set_output(c331_fd);
        }
        // The rest of the start-up, and every pass until an apply, programs this copy; an
        // edit made since raised the apply flag.
        if (view_taken)
            take_as_applied(block_view);
        c331_stage = 7;
        g_fpga_c331_start = 1;
        KEL_TRACE("\n ok c331_id  setup= %d \n", 7);
        return;
    }
    if (stage == 7) {
        int contrast = 50, sharpness = 10, saturation = 50, osd = 0;
        uint32_t colour = 2 | 64u << 8 | 64u << 16 | 64u << 24;
        if (const uint8_t* ram = block_source()) {
            contrast = block16(ram, 2178);
            sharpness = block16(ram, 2180);
            saturation = block16(ram, 2182);
            colour = uint32_t(ram[2184]) | uint32_t(ram[2190]) << 8 | uint32_t(ram[2188]) << 16 |
                     uint32_t(ram[2186]) << 24;
            osd = block16(ram, 2124);
        }
        c331_SetBrightness(50);
        c331_SetContrast(contrast);
        c331_SetSharpness(sharpness);
        c331_SetColorTemp(colour);
        c331_SetSaturation(saturation);
        c331_debugEnv();
        c331_stage = 8;
        kelApi_forceColorDisable(c331_fd);
        KEL_TRACE("\n ok c331_id  setup= %d \n", 8);
        if (osd != 0) {   // on as the apply step takes it: any value but 0
            kelApi_OsdSet(0, 1);
            get_json_omenu_para("/data/configs/omenu.json", &g_osd_list);
            set_OSD_para(&g_osd_list.item[0]);
        } else {
            KEL_TRACE("\n no osd file ");
        }
        return;
    }
    c331managerdeal();
}

// ---------------------------------------------------------------------------------------
// Start-up parameters.

void c331_manage::load_system_param()
{
    PS_XTAL_FREQ = 27000000;
    PS_XTAL_FREQ2 = 27000000;
    PS_CLK_32M = 32000000;
    PS_CLK_800M = 800000000;
    PS_ACTHW = 1920;
    PS_ACTVW = 2160;
    PS_HTOTAL = 2200;
    PS_VTOTAL = 2250;
    PS_HSW = 88;
    PS_HBP = 88;
    PS_HFP = PS_HTOTAL - PS_ACTHW - PS_HSW - PS_HBP;
    PS_VSW = 10;
    PS_VBP = 72;
    PS_VBOTX_MODE = 0;
    PS_VBOTX_LAYOUT = 0;
    static const uint32_t fb[4] = {0x08800000, 0x11000000, 0x19800000, 0x22000000};
    for (int i = 0; i < 4; ++i)
        PS_FB_BASE[i] = fb[i];
    for (uint32_t k = 0; k < 8; ++k) {
        PS_FB_SLOT[k][0] = 8192 * k;
        for (int i = 0; i < 4; ++i)
            PS_FB_SLOT[k][1 + i] = fb[i] + 0x2000 * k;
    }
    static const uint32_t mem[5] = {0x2A800000, 0x35A80000, 0x40D00000, 0x4BF80000, 0x57200000};
    for (int i = 0; i < 5; ++i)
        PS_MEM_BASE[i] = mem[i];
    PS_DBD_UNIT = 0x01DC0000;
    PS_SFL_ADDR = 0x70000000;
    PS_MEM_OSD = 0x725C0000;
    PS_MEM_OSD1 = 0x74B80000;
    PS_FONT_ADDR = 0x7F000000;
    // Per-channel processing memory: two buffers a channel, 0x65000000 up to 0x6B913800.
    for (uint32_t c = 0; c < 8; ++c) {
        PS_PROC_MEM[c][0] = 0x65000000u + 0xD22700u * c;
        PS_PROC_MEM[c][1] = PS_PROC_MEM[c][0] + 0x691380u;
    }
    // Five field buffers per input channel: the buffer planes plus the channel's slot in
    // each.
    static const uint32_t planes[5] = {0, fb[0], fb[1], fb[2], fb[3]};
    for (int c = 0; c < 8; ++c)
        for (int k = 0; k < 5; ++k)
            PS_MEM_SC[c][k] = planes[k] + ich_slot_offset(c);
    PS_MEM_PITCH = 64;
    static const int32_t constants[8] = {137, 22, 2, 24, 14, 207, 35, 1};
    for (int i = 0; i < 8; ++i)
        PS_CH_CONST[i] = constants[i];
}

// Eight 8 KiB slots share a 64 KiB line. A V-by-One pair (4, 5) or (6, 7) stores its whole
// line, up to 3840 pixels of 4 bytes, from the first channel's slot, so each pair is given two
// slots (4-5 and 6-7; slot 7 is not used alone); channels 5 and 7 on their own take the second
// half of their pair's memory, 7680 bytes in.
uint32_t c331_manage::ich_slot_offset(int ich)
{
    static const uint32_t slot[8] = {0, 1, 2, 3, 4, 4, 6, 6};
    static const uint32_t extra[8] = {0, 0, 0, 0, 0, 7680, 0, 7680};
    return ich >= 0 && ich < 8 ? 0x2000 * slot[ich] + extra[ich] : 0;
}

// From the channel's slot to the nearest slot above it of a channel outside the pair (the top
// of the line pitch above the last).
int c331_manage::ich_line_room(int ich, bool pair) const
{
    if (ich < 0 || ich >= kChannels)
        return 0;
    const uint32_t own = ich_slot_offset(ich);
    uint32_t end = uint32_t(std::max(PS_MEM_PITCH, 0)) * 1024;
    for (int c = 0; c < kChannels; ++c)
        if (c != ich && !(pair && c == (ich | 1)) && ich_slot_offset(c) > own)
            end = std::min(end, ich_slot_offset(c));
    return end > own ? int(end - own) : 0;
}

// From the lowest buffer plane to the next (the last to the joined windows' memory): the
// lines of a field one buffer holds at the system pitch.
int c331_manage::ich_buffer_lines() const
{
    const int64_t pitch = int64_t(std::max(PS_MEM_PITCH, 1)) * 1024;
    int64_t lines = (int64_t(PS_MEM_BASE[0]) - int64_t(PS_FB_BASE[3])) / pitch;
    for (int i = 0; i < 4; ++i)
        lines = std::min(lines, (int64_t(PS_FB_BASE[i]) - (i ? int64_t(PS_FB_BASE[i - 1]) : 0)) / pitch);
    return int(std::max<int64_t>(lines, 1));
}

void c331_manage::define_param()
{
    PS_CLK_DERIVED = PS_CLK_800M / 4;
    PS_ACTHST = PS_OAOIHST = PS_HSW + PS_HBP;
    PS_OAOIHED = PS_OAOIHST + PS_ACTHW;
    PS_ACTVST = PS_OAOIVST = PS_VSW + PS_VBP;
    PS_OAOIVED = PS_OAOIVST + PS_ACTVW;
    const bool layout = PS_VBOTX_LAYOUT != 0;
    int h, v;
    if (PS_VBOTX_MODE == 0) {
        h = layout ? 2 : 4;
        v = layout ? 2 : 1;
    } else if (PS_VBOTX_MODE == 2) {
        h = layout ? 1 : 2;
        v = layout ? 2 : 1;
    } else {
        h = layout ? 4 : 8;
        v = layout ? 2 : 1;
    }
    PS_PANEL_HSHAPE = h;
    PS_PANEL_VSHAPE = v;
    PS_PANEL_HW = h * PS_ACTHW;
    PS_PANEL_VW = v * PS_ACTVW;
    for (auto& o : ich_owner)
        o = -1;
    for (auto& l : ich_list)
        for (auto& e : l)
            e = -1;
    for (auto& u : dbd_unit_owner)
        u = -1;
    for (int w = 0; w < kWindows; ++w)
        PM_WIN_STITCHING[w] = w;
    PM_OSD_SCROLL_SPEED = 32;
    PM_OSD_CHAR_64DOT = 1;
}

void c331_manage::load_param()
{
    for (int w = 0; w < kWindows; ++w)
        g_chg_shape[w] = g_chg_input[w] = g_chg_attr[w] = g_chg_fade[w] = g_chg_dbd[w] = 0;
    g_chg_overlay = g_chg_priority = g_chg_osd = 0;

    enum Group { None, Shape, Input, Attr, Fade, Dbd, Overlay, Priority, Osd };
    struct Target {
        int32_t* word;
        Group group;
        int win;
    };
    std::vector<Target> t;
    t.reserve(160);
    for (int w = 0; w < kWindows; ++w)
        for (int i = 0; i < 2; ++i)
            t.push_back({&PM_WIN_SHAPE[w][i], Shape, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_INPUT[w], Input, w});
    for (int w = 0; w < kWindows; ++w)
        for (int i = 0; i < 4; ++i)
            t.push_back({&PM_WIN_OFFSET[w][i], Shape, w});
    for (int w = 0; w < kWindows; ++w)
        for (int i = 0; i < 4; ++i)
            t.push_back({&PM_INPUT_OFFSET[w][i], Shape, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_INPUT_OFFSET_EN[w], Shape, w});
    for (int c = 0; c < 8; ++c)
        t.push_back({&PM_WIN_NUM[c], None, 0});
    for (int c = 0; c < 8; ++c)
        t.push_back({&PM_AREA_NUM[c], None, 0});
    for (int c = 0; c < 8; ++c)
        t.push_back({&PM_OVERLAY[c], Overlay, 0});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_OVERLAY_PRI[w], Priority, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_ATTR0[w], Attr, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_ATTR1[w], Attr, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_FADE_EN[w], Fade, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_FADE_IN[w], Fade, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_FADE_OUT[w], Fade, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_DBD_MODE[w], Dbd, w});
    for (int w = 0; w < kWindows; ++w)
        t.push_back({&PM_WIN_DBD_MODE2[w], Dbd, w});
    for (int32_t* p : {&PM_OSD_EN, &PM_OSD_HZOOM_EN, &PM_OSD_VZOOM_EN, &PM_OSD_DATA_MODE, &PM_OSD_SCROLL_MODE})
        t.push_back({p, Osd, 0});
    for (int i = 0; i < 4; ++i)
        t.push_back({&PM_OSD_OUTPUT_OFFSET[i], Osd, 0});
    for (int i = 0; i < 4; ++i)
        t.push_back({&PM_OSD_INPUT_OFFSET[i], Osd, 0});
    t.push_back({&PM_SINGLE_WORD[0], None, 0});
    t.push_back({&PM_SINGLE_WORD[1], None, 0});
    t.push_back({&PM_OSD_UPDATE_BUTTON, Osd, 0});

    for (size_t i = 0; i < t.size() && i < 160; ++i) {
        const int32_t value = parameters_txt[i];
        if (*t[i].word == value)
            continue;
        *t[i].word = value;
        const int w = t[i].win;
        switch (t[i].group) {
        case Shape: g_chg_shape[w] = 1; break;
        case Input: g_chg_input[w] = 1; break;
        case Attr: g_chg_attr[w] = 1; break;
        case Fade: g_chg_fade[w] = 1; break;
        case Dbd: g_chg_dbd[w] = 1; break;
        case Overlay: g_chg_overlay = 1; break;
        case Priority: g_chg_priority = 1; break;
        case Osd: g_chg_osd = 1; break;
        case None: break;
        }
    }
    for (int w = 0; w < kWindows; ++w) {
        PM_WIN_STITCHING[w] = w;
        KEL_TRACE("[load_param] ....data = %#x, [PM_WIN_STITCHING][%#x]=%#x \n", w, w, PM_WIN_STITCHING[w]);
    }
    for (int w = 0; w < kWindows; ++w)
        KEL_TRACE("load_param  WIN[%d]  win=%d  dbd=%d  input=%d  pri=%d\n", w, w, PM_WIN_DBD_MODE[w],
                  PM_INPUT[w], PM_OVERLAY_PRI[w]);
}

// ---------------------------------------------------------------------------------------
// Port tables.

int c331_manage::kelApi_inputCvtC331(int source)
{
    static const int ports[4] = {2, 1, 0, 5};
    return (source >= 0 && source < 4) ? ports[source] : 255;
}

int c331_manage::kelApi_GetPortDevId(int port)
{
    switch (port) {
    case 0: return 2;
    case 1: return 1;
    case 2: return 0;
    case 3: return 255;
    case 4: return 255;
    case 5: return 3;
    default: return 2;
    }
}

bool c331_manage::kelApi_GetWinDbdMultiPort(int win, int ports[6]) const
{
    for (int i = 0; i < 6; ++i)
        ports[i] = 6;
    if (!kelApi_IsWinValid(win))
        return false;
    auto fill = [&](std::initializer_list<int> list) {
        int i = 0;
        for (int p : list)
            ports[i++] = p;
        return true;
    };
    switch (PM_WIN_DBD_MODE[win]) {
    case 20: case 21: return fill({0, 1});
    case 22: case 23: return fill({2, 3});
    case 30: return fill({0, 1, 2});
    case 40: case 41: return fill({0, 1, 2, 3});
    case 50: case 51: return fill({5, 4});
    default: return false;
    }
}

std::vector<int> c331_manage::window_ports(int win) const
{
    std::vector<int> used;
    if (!kelApi_IsWinValid(win))
        return used;
    // A joined window still takes its picture's size and signal from its source port
    // (calc_iwin2), so that port is used even when it is none of the joined ones.
    if (port_ok(PM_INPUT[win]))
        used.push_back(PM_INPUT[win]);
    int joined[6];
    if (PM_WIN_DBD_MODE[win] > 1 && kelApi_GetWinDbdMultiPort(win, joined))
        for (int p : joined)
            if (port_ok(p) && std::find(used.begin(), used.end(), p) == used.end())
                used.push_back(p);
    return used;
}

bool c331_manage::window_uses_port(int win, int port) const
{
    const std::vector<int> used = window_ports(win);
    return std::find(used.begin(), used.end(), port) != used.end();
}

void c331_manage::c331_SetInputsource(int win, int source)
{
    record_call("c331_SetInputsource(" + std::to_string(win) + "," + std::to_string(source) + ")");
    if (win < 0 || win >= wincnt) {
        KEL_TRACE("    win:%d OOR, wincnt:%d\r\n", win, wincnt);
        return;
    }
    const int port = kelApi_inputCvtC331(source % 6);
    if (port == 255) {
        KEL_TRACE("    input:%d OOR\r\n", source);
        return;
    }
    gWininfo[win].input = uint8_t(source % 6);
    PM_INPUT[win] = port;
    g_chg_input[win] = 1;
    KEL_TRACE("[c331_SetInputsource] win_%d, port_%d\n", win, port);
    check_input_port(c331_fd);
    set_output(c331_fd);
}
