#pragma once
#include "board/Clock.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class c331_drv;

// 1 = reload the OSD overlay file on the scaler thread.
extern std::atomic<uint8_t> g_osd_update;

// A window rectangle on the canvas or an input (Part of the window geometry).
struct _ImageWindowDef_st {
    int32_t HST;
    int32_t HW;
    int32_t VST;
    int32_t VW;
};

// The scaler's window table entry, one per enabled window (filled from the parameter
// block's window records by the window environment; the channel lists by the channel
// allocation).
struct ST_WIN_INFO {
    int16_t x = 0;
    int16_t y = 0;
    int16_t width = 0;
    int16_t height = 0;
    uint8_t layer = 0;         // priority 0-5 (larger stacks lower)
    uint8_t blackfreeze = 0;   // output word bits 0 (black) and 1 (freeze)
    uint8_t rotate = 0;
    uint8_t input = 0;         // block source number of the window
    uint8_t crop = 0;          // crop record number
    uint8_t enable = 0;
    uint8_t attr = 0;          // attribute 0-3
    uint8_t cropEn = 0;        // the window shows its crop record
    uint8_t ochLst[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    uint8_t ochPosLst[8] = {255, 255, 255, 255, 255, 255, 255, 255};
    uint8_t totalh = 0;
    uint8_t totalv = 0;
};

// One cell slice of an output window: the part of the window that one output channel shows.
struct _ImageWindowDef2_St {
    int32_t hst = 0, hw = 0, vst = 0, vw = 0;
    int32_t first_h = 0, last_h = 0, first_v = 0, last_v = 0;
};

// Scaling of one window: modes 0 none, 1 reduce, 2 enlarge; 16.16 step factors.
struct _ScalingSt {
    int32_t hmode = 0, vmode = 0;
    int32_t hreduce = 0, vreduce = 0;
    int32_t henlarge = 0, venlarge = 0;
};

// A crop rectangle on an input.
struct ST_RECT {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// The LED panel as the panel set-up derived it: screen and output sizes, the output
// channels (OCH) across and down, their arrangement and timing.
struct ST_PANEL {
    uint16_t ledW = 0, ledH = 0, out1W = 0, out2W = 0, out1H = 0, out2H = 0, xoff = 0, yoff = 0;
    uint8_t och_HCnt = 0, och_VCnt = 0;
    int32_t splice = 0, bw = 0, arrang = 0, ochW = 0, ochH = 0;
    int32_t HTT = 0, HSW = 0, HFP = 0, VTT = 0, VSW = 0, VFP = 0;
    int32_t oneOch = 0;        // 1: the whole panel goes out through one output channel
};

// One of the ten multi-window preview layouts: a window count and six 16-byte rectangles.
struct ST_MWIN_RECT {
    int32_t x, y, width, height;
};
static_assert(sizeof(ST_MWIN_RECT) == 16, "a preview rectangle is 16 bytes");
struct ST_MWIN_LAYOUT {
    int count = 0;
    ST_MWIN_RECT* rect = nullptr;
};

// The scaler's copy of a receiver's timing record: sixteen 32-bit fields.
struct PI_HDMI_INFO_st {
    int32_t Hact = 0, Hsync = 0, Hback = 0, Hpol = 0, Htotal = 0;
    int32_t Vact = 0, Vsync = 0, Vback = 0, Vpol = 0, Vtotal = 0;
    float pfreq = 0;
    int32_t type = 0, datamode = 0, lane = 0, ip = 0, nosignal = 1;
};

// The chip's measurement of an input port.
struct PI_PORT_INFO_st {
    int32_t HTOTAL = 0, VTOTAL = 0, FHW = 0, FVM = 0, ACTHW = 0;
    int32_t STATE = 0, NOSIG = 1, IP = 0;
};

// The scaler manager: owns the connection to the scaler chip, the chip's parameter set
// (PS_ system and panel, PM_ windows and channels, PI_ input ports) and the thread that
// brings the chip up in stages and then applies every change of the scaler settings in the
// parameter block. Every writer of scaler settings in the block edits it while holding
// the block's lock (KelRamPara::lock_block) and then raises the apply flag; c331_mutex keeps
// the manager's own tables and is taken by its thread only.
class c331_manage {
public:
    static constexpr int kWindows = 6;
    static constexpr int kChannels = 8;
    static constexpr int kPorts = 6;
    static constexpr int kDbdUnits = 6;
    static constexpr uint8_t kChipId = 0x24;
    static constexpr uint32_t kChipIdReg = 0xB20801;
    // A wrong chip id is read again only after this long, so a missing or wrong chip does
    // not keep the bus busy and the trace readable.
    static constexpr uint64_t kIdRetryUs = 200000;

    static c331_manage* pInstance();
    static c331_manage* p_c331_manage;

    c331_manage();
    ~c331_manage();
    c331_manage(const c331_manage&) = delete;
    c331_manage& operator=(const c331_manage&) = delete;

    // Opens the chip, reads its id, starts the manager thread. 0, or 255 when the thread
    // could not be started.
    int initialize();

    // Raises the apply flag to value unless it already holds a larger one, so a pending 2
    // (user-mode files to re-synchronise) is not lost to a later 1. Call with the block's lock held.
    void raise_apply_flag(uint8_t value);

    // --- the thread and its pass ---
    static void* c331manageThread(void* arg);
    void c331manage_pass();            // one pass: the current start-up stage, or the apply step
    void c331managerdeal();            // the apply step (stage 8 and above)
    // Its locked half; call with c331_mutex held. Takes the raised flag and a copy of the
    // block under the block's lock, then programs the chip from the copy without it. false
    // when the pass was left for a later one (the LED-size hand-shake is still with the FPGA
    // manager), the flag raised again. Edits made meanwhile wait for the next apply, which
    // takes them all at once.
    bool c331_apply_changes();
    // The block as the chip was last programmed from it (the start-up's copy, then each
    // apply's), published to the parameter object for its save.
    void take_as_applied(const uint8_t* block);
    // The parameter block the scaler's operations read. Within a pass of the manager thread
    // it is the pass's own copy, taken under the block's lock at the first read (or with the
    // apply flag), so no wait of the pass holds a lock the screens or the PC links need;
    // once the start-up has programmed the chip, a pass that re-programs it outside an apply
    // (an input that changed) reads the applied copy: an edit it took early and that was
    // undone before the apply would otherwise stay on the chip. Outside a pass (the thread
    // not started) the live block. Null without a block.
    const uint8_t* block_source();
    void c331_follow_inputs();         // its unlocked half
    void Sleep(int ms);

    // --- start-up parameters ---
    void load_system_param();
    void define_param();
    void load_param();
    static const int32_t parameters_txt[160];

    // --- power-on sequence, timing and signal routines ---
    void write_initial_setting(int fd, int full);
    void set_rtct(int fd, int mode);
    void set_pict(int fd, int on, int port);
    void set_VBORXfrange(int fd, int ch, uint32_t freq, int mode);
    void set_VBOInput(int fd, int ch);
    void set_sypol(int fd, int vbo, int port);
    int wait_ifld_change(int fd, int port);
    int wait_ofld_change(int fd, int och);
    void wait1_pivs(int fd, int ich);
    void wait1_pivs2(int fd);
    void reset_dbd_mem(int win);
    bool check_dbd_input(int fd, int port);
    int set_dbd_mem(int fd, int win);
    void set_input_bkg(int fd, int port, int on);
    void set_input_bkg2(int fd, int win, int on);
    // A fixed set-up, called by nothing: a 4240 x 1360 V-by-One picture on ICH 5 and 6
    // shown turned as 1360 x 4240 on output channel 1.
    void VBORX1_4240x1360IN_ICH56_OCH1_1360x4240_setting(int fd);
    bool kelApi_IsWinValid(int win) const { return win >= 0 && win < kWindows; }
    bool kelApi_IsPatternGen() const { return pattern_gen_on != 0; }

    // --- input ports and measurement ---
    static int kelApi_inputCvtC331(int source);          // 0,1,2,3 -> port 2,1,0,5; else 255
    static int kelApi_GetPortDevId(int port);            // receiver device, 255 none
    bool kelApi_GetWinDbdMultiPort(int win, int ports[6]) const;
    // The ports a window uses: its source port and, joined, each port it joins (each once).
    // Whatever measures, follows or blanks a port takes its windows from here.
    std::vector<int> window_ports(int win) const;
    bool window_uses_port(int win, int port) const;
    void c331_SetInputsource(int win, int source);
    void load_hdmi();
    void check_port_valid(int fd);
    void check_input_port(int fd);
    // A port above 5 (6 = none, 255 = an unknown source) is no input.
    static bool port_ok(int port) { return port >= 0 && port < kPorts; }
    int usable_width(int port) const;                    // 0 for no input
    static uint32_t ich_slot_offset(int ich);            // a channel's place in each buffer plane
    int ich_line_room(int ich, bool pair) const;          // bytes of a line the channel (pair) may store
    int ich_buffer_lines() const;                         // lines a field buffer of a channel holds
    static int stored_pixels(_ImageWindowDef_st in, int outW);   // pixels of a stored line
    int port_packing(int port) const { return port_ok(port) ? PI_PORT_INFO[port].STATE : 0; }
    int port_interlaced(int port) const { return port_ok(port) && PI_PORT_INFO[port].IP == 1 ? 1 : 0; }
    uint8_t port_status[kPorts] = {};    // bit 7 check the port, bit 0 no signal (_check_nosig_mutex)
    int vbo_retry[2] = {};               // V-by-One channel resets, 0-29

    // --- window environment ---
    void kelApi_initEnvC331();
    void kelApi_initEnvC331Default();
    static int dbd_mode_of(int recordWord);              // block DBD word -> scaler DBD mode
    static int layer_of(int priorityWord);               // block priority word -> layer 0..5
    // The window table holds one entry per enabled record, so record and entry numbers
    // differ as soon as a record before the last is off. Every setter works on entries;
    // these two maps are the one place that turns one into the other (-1: none).
    int32_t record_entry[kWindows] = {0, 1, 2, 3, 4, 5};   // until a table is built: the same
    int32_t entry_record[kWindows] = {0, 1, 2, 3, 4, 5};
    int entry_of_record(int record) const
    {
        return kelApi_IsWinValid(record) ? record_entry[record] : -1;
    }
    int record_of_entry(int entry) const
    {
        return kelApi_IsWinValid(entry) ? entry_record[entry] : -1;
    }

    // --- input channels ---
    bool win_active(int win) const;
    int ich_demand(int win) const;
    int check_ich_all(int win);
    int check_ich(int interlaced, int dual);
    int adjust_ich(int interlaced, int dual, int win);
    int set_input(int win, int port);
    void hand_out_inputs();
    int dbd_units(int win);
    void rebuild_ich_lists();
    void set_idual(int fd, int ich, int on, int port);
    void set_ichsel(int fd, int win);
    void set_display_window_ich_dbd(int fd, int win);

    // --- window geometry ---
    _ImageWindowDef_st IWIN[kWindows] = {};
    _ImageWindowDef_st OWIN[kWindows] = {};
    int32_t g_chg_stitch[kWindows][2] = {};  // the two stitching-change flags
    void calc_iwin2(int win);
    void calc_owin2(int win);
    void calc_oact(_ImageWindowDef_st owin, _ImageWindowDef2_St* slices, int win);
    static void calc_scaling(_ImageWindowDef_st in, _ImageWindowDef_st out, _ScalingSt* result);
    void get_och(int win, int* och);
    int check_stitching_win(int* win, int* partner);
    int check_stitching_chg();
    int dbd_width(int port) const;       // size of a port joined dot by dot
    int dbd_height(int port) const;

    // --- multi-window channel allocation ---
    void kelApi_MultiWinChAlloc(char init);
    void kelApi_MultiWinChOverlay();
    void kelApi_MultiWinChInit();
    void kelApi_MultiWinGet(ST_MWIN_LAYOUT* out);
    void kelApi_PreviewCh() {}
    uint8_t och_in_use[kChannels] = {};
    uint8_t och_lent[kChannels] = {};
    int32_t och_list_error = 0;

    // --- crop ---
    int kelApi_CropGetOffset(int input, const ST_RECT* rect, int side);
    void c331_SetCrop(int win, int enable, ST_RECT* rect);
    void kelApi_updateCrop(int input);
    int kelApi_OchGetWinOffset1(const ST_WIN_INFO* win, int side);

    // --- LED panel and output channels ---
    ST_PANEL pnl;
    int kelApi_PnlInit2(int ledw, int ledh, int out1w, int out1h, int mode);
    void kelApi_PnlInitOch3();
    int kelApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank, int width, int height);
    void kelApi_c331InitRegPanel();
    void kelApi_WriteRam(int address);
    void kelApi_forceColorDisable(int fd);
    // The output timing list: (total width, total height) pairs of one fixed pixel rate.
    static const std::vector<std::pair<int32_t, int32_t>>& timing_list();

    // --- preset window layouts ---
    void kelApi_MultiWinInit();

    // --- window re-programming and transitions ---
    // Update requests per window: full (g_chg_shape), output (g_chg_output: 1 update, the
    // setters also store 2 and 3), input (g_chg_input), and the output-channel request.
    int32_t g_chg_output[kWindows] = {};
    int32_t g_chg_och[kWindows] = {};
    int32_t g_chg_layer = 0;
    int32_t frozen[kWindows] = {};
    int32_t field_rec[kWindows][5];          // field buffers of a leading window; [4] spare
    int32_t prev_win_num[kChannels];         // channel owners of the last pass
    int32_t prev_ich_list[kWindows][kChannels];
    int32_t venl_marker[kWindows] = {};      // vertical-enlarge marker (set_output)
    // What the input side stored when it had to store less than the window asks: the
    // pixels of a line (lines of a field) and the width (height) it reduced the crop to;
    // 0: not limited.
    int32_t width_limited[kWindows] = {};
    int32_t limit_hw[kWindows] = {};
    int32_t height_limited[kWindows] = {};
    int32_t limit_vw[kWindows] = {};
    // A wait for an output update that timed out: the other waits of the same operation
    // are skipped (the chip is not taking updates). Every operation that waits holds a
    // PovsOperation, so a time-out never reaches past the operation it happened in; one held
    // inside another (set_output inside a manager pass) is part of the outer one.
    bool povs_timed_out = false;
    int povs_depth = 0;
    class PovsOperation {
    public:
        explicit PovsOperation(c331_manage& m) : m_(m)
        {
            if (m_.povs_depth++ == 0)
                m_.povs_timed_out = false;
        }
        ~PovsOperation()
        {
            if (--m_.povs_depth == 0)
                m_.povs_timed_out = false;
        }
        PovsOperation(const PovsOperation&) = delete;
        PovsOperation& operator=(const PovsOperation&) = delete;

    private:
        c331_manage& m_;
    };
    static constexpr int kMaxFadeSteps = 255;
    void set_output(int fd);
    void set_freeze(int fd, int on);
    void wait1_povs(int fd, int ch);
    void reset_act(int fd, int mode);
    void win_freeze_sel(int fd, int win, int flags);

    // --- layer mixing and fades ---
    int32_t g_och_layer[kChannels][kChannels];
    int32_t g_och_layer_cnt[kChannels] = {};
    int32_t och_list[kWindows][kChannels];   // the window's output channels, ascending
    void update_overlay_info();
    void set_overlay(int fd);
    void reset_layer_coef(int fd, int mode);
    void set_layer_coef(int fd, int win, int cnt, int dir);

    // --- channel picture programming ---
    int32_t PS_MEM_WMODE[kWindows] = {};     // configured frame-buffer packing per window
    int32_t PM_MEM_WMODE[kWindows] = {};     // packing in use per leading window
    int32_t PM_IACTHST[kWindows] = {}, PM_IACTVST[kWindows] = {};
    uint32_t PS_MEM_SC[kChannels][5] = {};   // five field buffers per input channel
    int32_t PS_MEM_PITCH = 64;               // frame-buffer line pitch, 1 KiB units
    void set_display_window_ich(int fd, _ImageWindowDef_st in, _ImageWindowDef_st out, int win);
    void set_display_window_och(int fd, _ImageWindowDef_st in, _ImageWindowDef_st out, int win);
    void set_oscwct(int fd, int ch);
    void set_lut_vzoom_4sym(int fd, int on, int ch);

    // --- input-channel processing, deinterlacer and noise reduction (per input port) ---
    int32_t PM_HNR[kPorts] = {}, PM_VNR[kPorts] = {}, PM_TNR[kPorts] = {}, PM_BNR[kPorts] = {};
    int32_t PM_MNR[kPorts] = {}, PM_COMB[kPorts] = {}, PM_IPEN[kPorts] = {}, PM_DIAG[kPorts] = {};
    int32_t PM_MVFLT[kPorts] = {}, PM_22PD[kPorts] = {}, PM_23PD[kPorts] = {};
    int32_t PM_22PDSQTH[kPorts] = {}, PM_23PDSQTH[kPorts] = {}, PM_24SF[kPorts] = {};
    int32_t ip_measured_total[kChannels] = {}, ip_measured_width[kChannels] = {};
    void set_ip(int fd, int ich);
    void set_ip(int fd, int ich, int input, bool deinterlace);
    void set_nr(int fd, int ich, int input);
    void set_nr_block(int fd, int ich, int input);
    void set_nr_tpx(int fd, int ich, int input);
    void set_nr_hvpx(int fd, int ich, int input);
    void set_nr_mosq(int fd, int ich, int input);
    void set_nr_b(int fd, int ich, int input, int recipe);   // 0 480i, 1 480p, 2 720p, 3 1080i, 4 1080p
    void set_diag(int fd, int ich, int input);
    void set_comb(int fd, int ich, int input);
    void set_mvflt(int fd, int ich, int input);
    void set_ipregs(int fd, int ich, int input);

    // --- filter tables and channel control ---
    static const int32_t lut[10][24];
    int32_t nren_old[4] = {};
    static int shrink_filter_index(int ratio);
    void set_lut_hshrnk(int fd, int ratio, int ch, int both);
    void set_lut_vshrnk_4sym(int fd, int ratio, int ch, int both);
    void set_lut_vshrnk(int fd, int ratio, int ch);
    void set_lut_hzoom(int fd, int ratio, int ch);
    void set_iscwct(int fd, int win);
    void set_mct(int fd, int win, int mode);

    // --- picture quality ---
    void c331_SetBrightness(int value);
    void c331_SetContrast(int value);
    void c331_SetSharpness(int value);
    void c331_SetSaturation(int value);
    void c331_SetColorTemp(uint32_t value);

    // --- window setters and test patterns ---
    void c331_SetWinPriority(int win, int value);
    void c331_SetWinPriority1(int fd);
    void c331_SetWinAttr(int win, int value);
    void c331_SetInputsourceCrop(int win, int word);
    void c331_SetWinOutput(int fd, int win, int value);
    void c331_SetWinDbdMode(int fd, int win, int value);
    int c331_SetPattern(int v);          // 0, or -1 (nothing written) with more than one window

    // The operations the apply step and the start-up stages call are recorded by name, so
    // that what was asked of the scaler can be seen and tested.
    void record_call(const std::string& call);
    // A poll made on every pass is recorded once for a run of passes that made nothing else,
    // so an idle thread neither builds a string a pass nor pushes the commands out of the log.
    void record_poll(const char* call);
    std::vector<std::string> deferred_calls_copy();
    void clear_deferred_calls();

    // --- locks, flags and stage ---
    std::mutex c331_mutex;
    // 0 nothing to apply, 1 the block changed, 2 changed and the user-mode files are to be
    // re-synchronised.
    std::atomic<uint8_t> c331_apply_flag{0};
    // The thread's pause between passes, ended early by raise_apply_flag.
    board::PassWake pass_wake;
    std::atomic<uint8_t> c331_stage{0};     // start-up stage 0-8
    uint8_t pattern_gen_on = 0;
    std::atomic<uint8_t> osd_redraw_request{0};
    std::atomic<uint8_t> osd_relayout_request{0};
    std::atomic<uint8_t> font_present{0};    // bits 0-3, one per font

    // --- chip connection ---
    int c331_fd = -1;
    c331_drv* drv = nullptr;
    // Short forms of the driver's accesses.
    void wr(int fd, uint32_t reg, uint32_t value, int bankoffset = 0);
    unsigned rd(int fd, uint32_t reg, int bankoffset = 0);
    void wm(int fd, uint32_t reg, uint32_t value, uint32_t mask, int bankoffset = 0);

    // --- system parameters ---
    int32_t PS_XTAL_FREQ = 0, PS_XTAL_FREQ2 = 0;
    int32_t PS_CLK_32M = 0, PS_CLK_800M = 0, PS_CLK_DERIVED = 0;
    int32_t PS_ACTHW = 0, PS_ACTVW = 0, PS_HTOTAL = 0, PS_VTOTAL = 0;
    int32_t PS_HSW = 0, PS_HBP = 0, PS_HFP = 0, PS_VSW = 0, PS_VBP = 0;
    int32_t PS_ACTHST = 0, PS_ACTVST = 0;
    int32_t PS_OAOIHST = 0, PS_OAOIHED = 0, PS_OAOIVST = 0, PS_OAOIVED = 0;
    int32_t PS_VBOTX_MODE = 0, PS_VBOTX_LAYOUT = 0;
    int32_t PS_PANEL_HW = 0, PS_PANEL_VW = 0, PS_PANEL_HSHAPE = 0, PS_PANEL_VSHAPE = 0;
    uint32_t PS_FB_BASE[4] = {};             // the four frame-buffer planes
    uint32_t PS_FB_SLOT[8][5] = {};          // per channel slot: offset, then the four bases
    uint32_t PS_MEM_BASE[5] = {};            // bases of the DBD frame memory
    uint32_t PS_DBD_UNIT = 0;
    uint32_t PS_PROC_MEM[8][2] = {};         // per-channel processing memory
    int32_t PS_CH_CONST[8] = {};             // 137, 22, 2, 24, 14, 207, 35, 1
    uint32_t PS_SFL_ADDR = 0, PS_MEM_OSD = 0, PS_MEM_OSD1 = 0, PS_FONT_ADDR = 0;
    uint32_t PS_BMP_ADDR = 0, PS_BG_COLOR = 0, PS_CHAR_HST = 0;

    // --- change flags (consumed by set_output) ---
    int32_t g_chg_shape[kWindows] = {};
    int32_t g_chg_input[kWindows] = {};
    int32_t g_chg_attr[kWindows] = {};
    int32_t g_chg_fade[kWindows] = {};
    int32_t g_chg_dbd[kWindows] = {};
    int32_t g_chg_overlay = 0;
    int32_t g_chg_priority = 0;
    int32_t g_chg_osd = 0;

    // --- mode parameters ---
    int32_t PM_WIN_NUM[8] = {};
    int32_t PM_AREA_NUM[8] = {};
    int32_t PM_WIN_SHAPE[kWindows][2] = {};
    int32_t PM_WIN_OFFSET[kWindows][4] = {};
    int32_t PM_INPUT_OFFSET[kWindows][4] = {};
    int32_t PM_INPUT_OFFSET_EN[kWindows] = {};
    int32_t PM_INPUT[kWindows] = {};
    int32_t PM_OVERLAY[8] = {};
    int32_t PM_OVERLAY_PRI[kWindows] = {};
    int32_t PM_WIN_STITCHING[kWindows] = {};
    int32_t PM_SINGLE_WORD[2] = {};
    int32_t PM_WIN_ATTR0[kWindows] = {};
    int32_t PM_WIN_ATTR1[kWindows] = {};
    int32_t PM_WIN_FADE_EN[kWindows] = {};
    int32_t PM_WIN_FADE_IN[kWindows] = {};
    int32_t PM_WIN_FADE_OUT[kWindows] = {};
    int32_t PM_WIN_DBD_MODE[kWindows] = {};
    int32_t PM_WIN_DBD_MODE2[kWindows] = {};
    int32_t PM_OSD_EN = 0, PM_OSD_HZOOM_EN = 0, PM_OSD_VZOOM_EN = 0, PM_OSD_DATA_MODE = 0;
    int32_t PM_OSD_UPDATE_BUTTON = 0, PM_OSD_SCROLL_MODE = 0;
    int32_t PM_OSD_OUTPUT_OFFSET[4] = {};
    int32_t PM_OSD_INPUT_OFFSET[4] = {};
    int32_t PM_OSD_SCROLL_SPEED = 0, PM_OSD_CHAR_64DOT = 0;

    // --- input parameters ---
    PI_HDMI_INFO_st PI_HDMI_INFO[kPorts];
    PI_PORT_INFO_st PI_PORT_INFO[kPorts];
    _ImageWindowDef_st PI_ACT[kPorts] = {};
    double PI_FV[kPorts] = {};
    int32_t PI_UPDATE[kPorts] = {};
    int32_t g_chg_hdmi[kPorts] = {};

    // --- windows and channels ---
    int wincnt = 0;
    ST_WIN_INFO gWininfo[kWindows];
    int32_t ich_owner[kChannels];            // ICH -> window, -1 free
    int32_t ich_list[kWindows][kChannels];   // window -> its ICHs, -1 after the last
    int32_t dbd_unit_owner[kDbdUnits];       // DBD memory unit -> window, -1 free
    uint32_t dbd_mem_base[kWindows][5] = {};
    int32_t dbd_line_blocks[kWindows] = {};   // 0: the window has no memory of its own
    int32_t dbd_no_memory[kWindows] = {};     // 1: the window's units could not be assigned
    // Line pitch of a window's own memory, 1 KiB units: its joined line of two-byte pixels.
    int dbd_pitch_kib(int win) const { return std::max((dbd_line_blocks[win] * 320 * 2 + 1023) / 1024, 1); }
    ST_MWIN_RECT mwin_rect[10][6] = {};
    ST_MWIN_LAYOUT mwin_layout[10];

    // =====================================================================================
    // Serial flash, OSD engine, OSD settings and diagnostics.

    // Every whole flash operation, DMA, drawing command, font update and register dump holds
    // this lock (PC links, the upgrade and the scaler thread all reach the flash and the
    // drawing engine), taken before the driver's bank lock and never held while taking
    // c331_mutex or any lock that comes before it.
    std::recursive_mutex c331_seq_mutex;
    // Bound of every flash and drawing-engine poll; far beyond the slowest erase or DMA.
    static constexpr uint64_t kSeqPollLimitUs = 10000000;

    // --- serial flash (32 MiB behind the chip's flash controller) ---
    static constexpr uint32_t kFlashSize = 0x2000000;
    // 0, or 1 when the flash or the controller did not finish (logged).
    int write_flash(int fd, uint32_t addr, uint32_t len, const uint8_t* data);
    int read_flash(int fd, uint32_t addr, uint32_t len, uint8_t* out);
    int erase_flash(int fd, uint32_t sector, uint32_t count, char kind);
    int osd_write_dma_sfl(int fd, uint32_t flash, uint32_t dest, int kind, uint32_t len);

    // --- OSD engine ---
    static constexpr int kOsdLines = 64;
    static constexpr int kOsdLineChars = 128;
    static const int32_t osd_char_txt[15];
    static const uint32_t osd_bmp_txt[4];
    struct OSD_TILE {
        int32_t hst = 0, hw = 0, vst = 0, vw = 0;
        int32_t first_col = 0, last_col = 0, first_row = 0, last_row = 0;
    };
    void load_char();
    void load_bmp();
    void read_c331_font(int fd);
    void update_font(int fd);
    void osd_paint(int fd, int x, int w, int y, int h, int colour, uint32_t base);
    void osd_copy(int fd, uint32_t src, uint32_t dst, int w, int h, int packed);
    void osd_put_unicode_string(int fd, int line, int hst, int vst, int fg, int bg, int w, int h, uint32_t base,
                                int dot64);
    void osd_put_unicode_string_1char_velin(int fd, int line, int first, int count, int hst, int vst, int fg, int bg,
                                            int w, int h, uint32_t base, int dot64);
    void gen_char(int fd);
    void set_char_color(int fd);
    void calc_osd(OSD_TILE tiles[8]);
    void set_osd(int fd, int display);
    void set_scroll(int fd);
    static constexpr int kWidestOsdCanvas = 255 * 512 / 2;   // columns a one-byte pitch of 512-byte units holds
    void update_osd(int fd);
    void kelApi_debug_printf_unicode(uint32_t code, int fd);
    // The glyph index and whether it is half width, for one stored character; characters
    // outside the fonts give the space glyph.
    static uint32_t osd_glyph_index(uint8_t hi, uint8_t lo, uint32_t asciiGlyphs, bool& half);

    // --- OSD settings ---
    int kelApi_OsdSet(uint32_t type, uint32_t value);
    int kelApi_OsdSetUnicode(int count, const int* lengths, const uint32_t lines[][kOsdLineChars]);
    void kelApi_SetOutBkg();

    uint32_t PS_BMPCP_ADDR = 0;
    int32_t PS_BMP_HACT = 0, PS_BMP_VACT = 0;
    int32_t PS_BG_HACT = 0, PS_BG_VACT = 0, PS_BG_TRANS = 0, PS_CHAR_VST = 0;
    uint32_t PS_CHAR_COLOR = 0;
    uint32_t PS_CHAR_ADDR_32ASCII = 0, PS_CHAR_SIZE_32ASCII = 0, PS_CHAR_ADDR_32CHN = 0, PS_CHAR_SIZE_32CHN = 0;
    uint32_t PS_CHAR_ADDR_64ASCII = 0, PS_CHAR_SIZE_64ASCII = 0, PS_CHAR_ADDR_64CHN = 0, PS_CHAR_SIZE_64CHN = 0;
    int32_t PM_OSD_CHAR_DOUBLE = 0;
    _ImageWindowDef_st OSD_WIN = {0, 0, 0, 0};
    int32_t g_osd_mwi = 0, g_osd_mwi_shift = 0;
    uint32_t g_font_addr_32ASCII = 0, g_font_addr_32CHN = 0, g_font_addr_64ASCII = 0, g_font_addr_64CHN = 0;
    int32_t g_unicode_line = 0;
    uint8_t g_unicode_buf[kOsdLines][kOsdLineChars * 2] = {};   // high byte, then low byte
    int32_t g_osd_max_line_x_velin[kOsdLines] = {};
    int32_t g_osd_remainder[kOsdLines] = {};
    int32_t g_osd_hmargin_velin[kOsdLines] = {};
    int32_t g_osd_line_cn[kOsdLines] = {};
    int32_t g_osd_line_en[kOsdLines] = {};
    int32_t g_osd_line_num[kOsdLines] = {};
    int32_t g_osd_h_alignment_velin = 0, g_osd_v_alignment_value_velin = 0, g_osd_layer_bottom = 0;

    // --- diagnostics ---
    void c331_debugEnv();
    void input_slidebar(int fd);
    void output_slidebar(int fd);
    void disable_slidebar(int fd);
    void vbyone_rx_ch1_seq(int fd);
    void vbyone_rx_ch2_seq(int fd);
    void read_c331_b174bug(int fd);
    void write_read_c331_b80_iacthstch5(int fd);
    void kelDbg_c331_param(int n);
    void kelDbg_c331_param();
    void kelDbg_c331_print_regGrp(int group);
    void sync_c331_device_test_input(int fd);
    void sync_c331_device_test_frame_lock(int fd);
    void sync_c331_device_test_frame_lock_vbyrx2(int fd);
    void sync_c331_device_test_frame_lock_vbyrx3(int fd);
    void sync_c331_device_frame_lock_vbyrx2(int fd, int vtotal);
    void c331_outputTimmingCtrlReg(uint8_t lo, uint8_t hi);
    void c331_calc_PixelCLK();
    void c331_print();
    static constexpr int kPrintRegisters = 7967;

private:
    // Polls reg until (value & mask) is set (wantSet) or clear, for at most kSeqPollLimitUs
    // of board time; false, with the trace "[what] ... timed out", when it never is.
    bool seq_wait(int fd, uint32_t reg, unsigned mask, bool wantSet, const char* what, int bankoffset = 0);
    bool engine_run(int fd, int command, const char* what);
    void flash_pins(int fd, bool dma);
    bool flash_page_end(int fd, uint32_t A);
    bool flash_clear_wel(int fd, unsigned rdsr);
    void osd_render_list(int fd, int line, int first, int count, int hst, int vst, int fg, int bg, int w, int h,
                         uint32_t base, int dot64);
    void osd_char_widths(int& d, int& wA, int& wC) const;
    void osd_set_h_alignment(int v);
    void osd_set_v_alignment(int v);
    void osd_set_canvas_width(int v);
    uint32_t osd_pitch() const { return uint32_t(g_osd_mwi_shift ? 4 * g_osd_mwi : g_osd_mwi); }
    // Whether rows lines of width bytes from base + offset, a pitch apart, stay inside the
    // piece of the OSD memory map that base lies in (bitmap staging, canvas or display copy);
    // traced when they do not. A base outside those pieces is not bounded here.
    bool osd_fits(uint32_t base, uint64_t offset, uint64_t width, uint64_t rows, const char* what) const;

    bool apply_panel_group(const uint8_t* ram, const uint8_t* applied);
    void apply_window_records(const uint8_t* ram, const uint8_t* applied, bool& rebuilt);
    // A rebuild of the window table under a test pattern: the generator was set on the old
    // table's channels; off for the rebuild, the block's pattern put on the new table after it.
    void pattern_off_for_rebuild();
    void pattern_after_rebuild(const uint8_t* ram);
    void serve_debug_triggers(uint8_t* regs);
    uint32_t ch_processing_constant(int c) const;

    bool apply_block(const uint8_t* ram, const uint8_t* applied);
    // The pass's copy of the block (block_source) and what the chip holds: an apply programs
    // what differs from the applied copy, never from the saved one, or an edit undone before
    // the save would leave the chip as it was edited. The manager thread's own.
    static constexpr int kBlockSize = 4096;
    uint8_t block_view[kBlockSize] = {};
    uint8_t applied_view[kBlockSize] = {};
    bool applied_known = false;   // false until the start-up (or a first apply) set it
    bool in_pass = false;
    bool view_taken = false;

    std::thread c331_thread;
    std::mutex deferred_mutex;
    std::vector<std::string> deferred_calls;
    const char* deferred_last_poll = nullptr;   // the poll recorded last, while nothing followed it
    int last_bad_id = -1;             // wrong id last printed
    uint64_t last_bad_id_us = 0;      // when it was read
    bool bad_id_pending = false;
};
