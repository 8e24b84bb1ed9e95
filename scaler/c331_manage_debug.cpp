// Service functions for engineers: register-level test sequences and text dumps of the
// scaler's parameters and registers. None is part of normal operation; the PC starts them
// through the debug registers of the controller register image.
#include "scaler/c331_manage.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/utils.h"
#include "sources/velinsource.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t n) { return bank << 16 | reg << 8 | n; }

struct Bar {
    int ch;
    uint32_t mode, length;
    uint8_t colour[3], enable[3];
};

// The register dump's table: every register of the banks below, one byte each.
struct RegEntry {
    uint8_t bank, reg, count;
};
const std::vector<RegEntry>& printTable()
{
    static const std::vector<RegEntry> table = [] {
        std::vector<RegEntry> t;
        t.reserve(c331_manage::kPrintRegisters);
        for (int bank = 0; int(t.size()) < c331_manage::kPrintRegisters; ++bank)
            for (int reg = 1; reg < 0x80 && int(t.size()) < c331_manage::kPrintRegisters; ++reg)
                t.push_back({uint8_t(bank), uint8_t(reg), 1});
        return t;
    }();
    return table;
}
} // namespace

void c331_manage::c331_debugEnv() {}

// ---------------------------------------------------------------------------------------
// Test bars

namespace {
void writeBars(c331_manage& m, int fd, const Bar* bars, int n)
{
    for (int i = 0; i < n; ++i) {
        const Bar& b = bars[i];
        const int off = 16 * b.ch;
        m.wr(fd, R(8, 0x57, 1), b.mode, off);
        for (uint32_t r = 0x58; r <= 0x5A; ++r)
            m.wr(fd, R(8, r, 1), 0, off);
        m.wr(fd, R(8, 0x5B, 2), 160, off);
        m.wr(fd, R(8, 0x5D, 2), 0, off);
        m.wr(fd, R(8, 0x5F, 2), 32, off);
        m.wr(fd, R(8, 0x61, 2), b.length, off);
        for (uint32_t j = 0; j < 3; ++j) {
            m.wr(fd, R(8, 0x63 + j, 1), b.colour[j], off);
            m.wr(fd, R(8, 0x66 + j, 1), b.enable[j], off);
        }
    }
}
} // namespace

void c331_manage::output_slidebar(int fd)
{
    static const Bar bars[4] = {{0, 9, 1376, {255, 255, 255}, {3, 3, 3}},
                                {1, 9, 1376, {255, 0, 0}, {3, 0, 0}},
                                {2, 9, 1376, {0, 255, 0}, {0, 3, 0}},
                                {3, 9, 1376, {0, 0, 255}, {0, 0, 3}}};
    writeBars(*this, fd, bars, 4);
    KEL_TRACE("\n output_slidebar over ");
}

void c331_manage::input_slidebar(int fd)
{
    static const Bar bars[2] = {{4, 0x89, 2752, {255, 255, 255}, {3, 3, 3}}, {5, 0x89, 2752, {0, 255, 0}, {0, 3, 0}}};
    writeBars(*this, fd, bars, 2);
    KEL_TRACE("\n input_slidebar over ");
}

void c331_manage::disable_slidebar(int fd)
{
    for (int k = 0; k < 6; ++k)
        wr(fd, R(8, 0x57, 1), 0, 16 * k);
    KEL_TRACE("\n disable_slidebar over ");
}

// ---------------------------------------------------------------------------------------
// V-by-One receivers, measurements, a write-read check

void c331_manage::vbyone_rx_ch1_seq(int fd)
{
    const uint32_t seq[5][2] = {{0x7F, 0x0E}, {0x7F, 0x0F}, {0x40, 0x05}, {0x4F, 0xFF}, {0x4C, 0xAB}};
    for (const auto& s : seq)
        wr(fd, R(2, s[0], 1), s[1]);
    KEL_TRACE("\n vbyone_rx_ch1_seq over ");
}

void c331_manage::vbyone_rx_ch2_seq(int fd)
{
    const uint32_t seq[5][2] = {{0x7F, 0x0D}, {0x7F, 0x0F}, {0x5C, 0x05}, {0x6B, 0xFF}, {0x68, 0xAB}};
    for (const auto& s : seq)
        wr(fd, R(2, s[0], 1), s[1]);
    KEL_TRACE("\n vbyone_rx_ch2_seq over ");
}

void c331_manage::read_c331_b174bug(int fd)
{
    static const char* const fhm[4] = {"B174_VI11FHM", "B174_VI13FHM", "B174_VI15FHM", "B174_VI17FHM"};
    static const char* const fvm[4] = {"B174_VI11FVM", "B174_VI13FVM", "B174_VI15FVM", "B174_VI17FVM"};
    for (uint32_t i = 0; i < 4; ++i)
        KEL_TRACE("\n read_c331_b174bug(%s=%d ) over \n", fhm[i], int(rd(fd, R(174, 0x40 + 2 * i, 2))) + 1);
    for (uint32_t i = 0; i < 4; ++i)
        KEL_TRACE("\n read_c331_b174bug(%s=%d ) over \n", fvm[i], int(rd(fd, R(174, 0x5C + 3 * i, 3))) + 1);
    KEL_TRACE("\n read_c331_b174bug(B3_IDUALCTCH56=%d ) over \n", int(rd(fd, R(3, 0x1A, 1))));
}

void c331_manage::write_read_c331_b80_iacthstch5(int fd)
{
    const unsigned v = rd(fd, R(80, 0x17, 2));
    KEL_TRACE("\n B80_IACTHSTCH5 = %d \n", int(v));
    const unsigned written = (v + 100) & 0xFFFF;
    wr(fd, R(80, 0x17, 2), written);
    KEL_TRACE("\n B80_IACTHSTCH5 write = %d read = %d \n", int(written), int(rd(fd, R(80, 0x17, 2))));
}

// ---------------------------------------------------------------------------------------
// Synchronisation tests

void c331_manage::sync_c331_device_test_input(int fd)
{
    wr(fd, R(0, 0x48, 1), 0x89);
    wr(fd, R(0, 0x49, 1), 0x43);
    wr(fd, R(0, 0x4A, 1), 0x02);
    wr(fd, R(0, 0x4B, 1), 0x10);
    wr(fd, R(8, 0x18, 2), 1);
    wr(fd, R(8, 0x0F, 1), 0xC4);
    Sleep(100);
    wr(fd, R(8, 0x0F, 1), 0);
    KEL_TRACE("\n sync_c331_device_test_input over ");
}

void c331_manage::sync_c331_device_test_frame_lock(int fd)
{
    wr(fd, R(0, 0x55, 2), 0x40);
    wr(fd, R(8, 0x0F, 1), 0x04);
    wr(fd, R(8, 0x08, 2), 0x0403);
    wr(fd, R(8, 0x18, 2), 1);
    for (int k = 0; k < kChannels; ++k)
        wr(fd, R(8, 0x0C, 2), 5489, 16 * k);
    KEL_TRACE("\n sync_c331_device_test_frame_lock over ");
}

void c331_manage::sync_c331_device_frame_lock_vbyrx2(int fd, int vtotal)
{
    wr(fd, R(0, 0x55, 2), 0x40);
    wr(fd, R(8, 0x0F, 1), 0x84);
    wr(fd, R(8, 0x08, 2), 0x0403);
    wr(fd, R(8, 0x18, 2), 2);
    for (int k = 0; k < kChannels; ++k) {
        wr(fd, R(8, 0x0C, 2), uint32_t(vtotal), 16 * k);
        wr(fd, R(8, 0x1D, 2), 1, 16 * k);
    }
}

void c331_manage::sync_c331_device_test_frame_lock_vbyrx2(int fd)
{
    const int och_vtt = PS_VTOTAL;
    const int total = int(float(och_vtt) * 1.1f);
    sync_c331_device_frame_lock_vbyrx2(fd, total);
    KEL_TRACE("\n sync_c331_device_test_frame_lock over total = %d ,och_vtt = %d\n", total, och_vtt);
}

void c331_manage::sync_c331_device_test_frame_lock_vbyrx3(int fd)
{
    wr(fd, R(0, 0x55, 2), 0x40);
    wr(fd, R(8, 0x0F, 1), 0x04);
    wr(fd, R(8, 0x08, 2), 0x0403);
    wr(fd, R(8, 0x18, 2), 2);
    for (int k = 0; k < kChannels; ++k)
        wr(fd, R(8, 0x0C, 2), 5489, 16 * k);
    KEL_TRACE("\n sync_c331_device_test_frame_lock_vbyrx3 over ");
}

// Output timing control register: bit 0 enable, bits 1-3 sync source, bits 8-15 divider.
void c331_manage::c331_outputTimmingCtrlReg(uint8_t lo, uint8_t hi)
{
    KEL_TRACE("[c331_outputTimmingCtrlReg] en:%d src:%d div:%d\n", lo & 1, (lo >> 1) & 7, hi);
    wr(c331_fd, R(8, 0x08, 2), uint32_t(lo) | uint32_t(hi) << 8);
}

void c331_manage::c331_calc_PixelCLK()
{
    for (int htt = 100; htt <= 17407; ++htt)
        if (9900000 % htt == 0 && 4950000 % htt == 0)
            KEL_TRACE("htt:%d\n", htt);
}

// ---------------------------------------------------------------------------------------
// Dumps

void c331_manage::kelDbg_c331_param()
{
    KEL_TRACE("[kelDbg_c331_param] output ACTHW=%d ACTVW=%d HTOTAL=%d VTOTAL=%d HSW=%d HBP=%d HFP=%d VSW=%d VBP=%d\n",
              PS_ACTHW, PS_ACTVW, PS_HTOTAL, PS_VTOTAL, PS_HSW, PS_HBP, PS_HFP, PS_VSW, PS_VBP);
    for (int w = 0; w < kWindows; ++w)
        KEL_TRACE("  WIN[%d] SHAPE=%d,%d FADE=%d/%d/%d INPUT=%d OFFSET=%d,%d,%d,%d IN_OFFSET_EN=%d\n", w,
                  PM_WIN_SHAPE[w][0], PM_WIN_SHAPE[w][1], PM_WIN_FADE_EN[w], PM_WIN_FADE_IN[w], PM_WIN_FADE_OUT[w],
                  PM_INPUT[w], PM_WIN_OFFSET[w][0], PM_WIN_OFFSET[w][1], PM_WIN_OFFSET[w][2], PM_WIN_OFFSET[w][3],
                  PM_INPUT_OFFSET_EN[w]);
    for (int c = 0; c < kChannels; ++c)
        KEL_TRACE("  CH[%d] WIN_NUM=%d AREA_NUM=%d OVERLAY=%d\n", c, PM_WIN_NUM[c], PM_AREA_NUM[c], PM_OVERLAY[c]);
    KEL_TRACE("  PANEL HW=%d VW=%d HSHAPE=%d VSHAPE=%d\n", PS_PANEL_HW, PS_PANEL_VW, PS_PANEL_HSHAPE, PS_PANEL_VSHAPE);
    KEL_TRACE("  OSD_WIN HST=%d HW=%d VST=%d VW=%d\n", OSD_WIN.HST, OSD_WIN.HW, OSD_WIN.VST, OSD_WIN.VW);
    KEL_TRACE("  OSD EN=%d HZOOM=%d VZOOM=%d DATA_MODE=%d SCROLL=%d/%d 64DOT=%d DOUBLE=%d OUT=%d,%d,%d,%d IN=%d,%d,%d,%d\n",
              PM_OSD_EN, PM_OSD_HZOOM_EN, PM_OSD_VZOOM_EN, PM_OSD_DATA_MODE, PM_OSD_SCROLL_MODE, PM_OSD_SCROLL_SPEED,
              PM_OSD_CHAR_64DOT, PM_OSD_CHAR_DOUBLE, PM_OSD_OUTPUT_OFFSET[0], PM_OSD_OUTPUT_OFFSET[1],
              PM_OSD_OUTPUT_OFFSET[2], PM_OSD_OUTPUT_OFFSET[3], PM_OSD_INPUT_OFFSET[0], PM_OSD_INPUT_OFFSET[1],
              PM_OSD_INPUT_OFFSET[2], PM_OSD_INPUT_OFFSET[3]);
    KEL_TRACE("  OSD lines=%d\n", g_unicode_line);
    for (int L = 0; L < std::min<int>(g_unicode_line, kOsdLines); ++L) {
        for (int i = 0; i < kOsdLineChars; ++i) {
            const uint8_t hi = g_unicode_buf[L][2 * i], lo = g_unicode_buf[L][2 * i + 1];
            if (hi == 0 && lo == 0)
                break;
            KEL_TRACE("[%#x,%#x] ", hi, lo);
            if (i % 8 == 7)
                KEL_TRACE("\n");
        }
        KEL_TRACE("\n");
    }
    KEL_TRACE("  BMP ADDR=%#x HACT=%d VACT=%d CP=%#x\n", PS_BMP_ADDR, PS_BMP_HACT, PS_BMP_VACT, PS_BMPCP_ADDR);
    KEL_TRACE("  MEM SFL=%#x OSD=%#x OSD1=%#x FONT=%#x MWI=%d SHIFT=%d\n", PS_SFL_ADDR, PS_MEM_OSD, PS_MEM_OSD1,
              PS_FONT_ADDR, g_osd_mwi, g_osd_mwi_shift);
    KEL_TRACE("  CHAR BG=%d,%d COLOR=%06x TRANS=%d ORIGIN=%d,%d COLOR=%06x FONTS=%#x\n", PS_BG_HACT, PS_BG_VACT,
              PS_BG_COLOR, PS_BG_TRANS, int(PS_CHAR_HST), PS_CHAR_VST, PS_CHAR_COLOR, unsigned(font_present));
    for (int p = 0; p < 4; ++p) {
        const PI_HDMI_INFO_st& h = PI_HDMI_INFO[p];
        KEL_TRACE("  PI_HDMI_INFO[%d] %dx%d total %dx%d %.2f MHz nosignal=%d\n", p, h.Hact, h.Vact, h.Htotal, h.Vtotal,
                  double(h.pfreq), h.nosignal);
    }
}

void c331_manage::kelDbg_c331_param(int n)
{
    static const char names[14][20] = {"c331_param", "c331_win", "c331_mem", "c331_mwi", "c331_mw1s",
                                       "c331_PI",    "none",     "none",     "none",     "none",
                                       "none",       "none",     "none",     "none"};
    const int group = ((n % 14) + 14) % 14;
    KEL_TRACE("[kelDbg_c331_param] %s\n", names[group]);
    const int fd = c331_fd;
    switch (n) {
    case 0: kelDbg_c331_param(); break;
    case 1:
        for (int p = 0; p < kPorts; ++p)
            KEL_TRACE("  PORT[%d] HTOTAL=%d VTOTAL=%d ACTHW=%d STATE=%d NOSIG=%d IP=%d\n", p, PI_PORT_INFO[p].HTOTAL,
                      PI_PORT_INFO[p].VTOTAL, PI_PORT_INFO[p].ACTHW, PI_PORT_INFO[p].STATE, PI_PORT_INFO[p].NOSIG,
                      PI_PORT_INFO[p].IP);
        break;
    case 2:
        for (int w = 0; w < kWindows; ++w)
            KEL_TRACE("  WIN[%d] x=%d y=%d w=%d h=%d enable=%d dbd=%d/%d\n", w, gWininfo[w].x, gWininfo[w].y,
                      gWininfo[w].width, gWininfo[w].height, gWininfo[w].enable, PM_WIN_DBD_MODE[w],
                      PM_WIN_DBD_MODE2[w]);
        break;
    case 5:
        for (int c = 0; c < kChannels; ++c)
            KEL_TRACE("  OCH[%d] layer=%d\n", c, PM_OVERLAY[c]);
        for (int w = 0; w < kWindows; ++w)
            KEL_TRACE("  WIN[%d] priority=%d\n", w, PM_OVERLAY_PRI[w]);
        break;
    case 6:
        for (int k = 0; k < kChannels; ++k) {
            wr(fd, R(8, 0x49, 3), 0xFFFFFF, 16 * k);
            wr(fd, R(8, 0x48, 1), 1, 16 * k);
        }
        KEL_TRACE("\n .................... ");
        break;
    case 7:
        for (int k = 0; k < kChannels; ++k)
            wr(fd, R(10, 0x46, 1), 0xC3, 16 * k);
        KEL_TRACE("\n .................... ");
        break;
    case 8:
        for (int k = 0; k < kChannels; ++k) {
            wr(fd, R(80, 0x4A, 1), 1, 16 * k);
            wr(fd, R(80, 0x4B, 3), 0x80FF80, 16 * k);
        }
        KEL_TRACE("\n .........input change........... ");
        break;
    case 9:
        for (uint32_t bank : {10u, 26u}) {
            wr(fd, R(bank, 0x46, 1), 3);
            wr(fd, R(bank, 0x4B, 1), 3);
        }
        KEL_TRACE("\n .........B10_HZOOMCTCH1/B10_VZOOMCTCH1 change........... ");
        break;
    case 10:
        if (velinsource* v = velinsource::p_velin_source) {
            for (int dev = 0; dev < 2; ++dev) {
                KEL_TRACE("[iTE6805_Get_Hdmi] dev_id:%d, idx:%d\n", dev, dev);
                hdminfo h;
                {
                    std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
                    h = v->hdminfo[dev];
                }
                KEL_TRACE("  Hact=%d Vact=%d Htotal=%d Vtotal=%d pfreq=%.2f nosignal=%d valid=%d\n", h.Hact, h.Vact,
                          h.Htotal, h.Vtotal, double(h.pfreq), h.nosignal, h.valid);
            }
        }
        break;
    default: break;   // groups 3 and 4 print their name; the rest nothing more
    }
}

void c331_manage::kelDbg_c331_print_regGrp(int group)
{
    KEL_TRACE("[%s] grp:%d\n", "kelDbg_c331_print_regGrp", group);
    if (group != 0) {
        KEL_TRACE("\t not found valid grp!!!!!!!");
        return;
    }
    const int fd = c331_fd;
    for (int w = 0; w < kWindows; ++w) {
        KEL_TRACE("  WIN[%d] ICH:", w);
        for (int i = 0; i < kChannels && ich_list[w][i] >= 0; ++i)
            KEL_TRACE(" %d", ich_list[w][i]);
        KEL_TRACE("  OCH:");
        for (int i = 0; i < kChannels && gWininfo[w].ochLst[i] != 255; ++i)
            KEL_TRACE(" %d", gWininfo[w].ochLst[i]);
        KEL_TRACE("\n");
    }
    for (int k = 0; k < kChannels; ++k) {
        const int off = 16 * k;
        KEL_TRACE("  CH[%d] OSFLD:", k);
        for (uint32_t i = 0; i < 5; ++i)
            KEL_TRACE(" %08X", rd(fd, R(22, 0x08 + 4 * i, 4), off));
        KEL_TRACE(" ISFLD:");
        for (uint32_t i = 5; i < 10; ++i)
            KEL_TRACE(" %08X", rd(fd, R(22, 0x08 + 4 * i, 4), off));
        KEL_TRACE("\n    OSYCT=%02X ISYCT=%02X OMWI=%02X IMWI=%02X\n", rd(fd, R(8, 0x08, 1), off),
                  rd(fd, R(16, 0x09, 1), off), rd(fd, R(22, 0x30, 1), off), rd(fd, R(22, 0x31, 1), off));
        KEL_TRACE("    OACT=%d,%d,%d,%d IACT=%d,%d,%d,%d\n", rd(fd, R(8, 0x40, 2), off), rd(fd, R(8, 0x42, 2), off),
                  rd(fd, R(8, 0x44, 2), off), rd(fd, R(8, 0x46, 2), off), rd(fd, R(16, 0x17, 2), off),
                  rd(fd, R(16, 0x19, 2), off), rd(fd, R(16, 0x1B, 2), off), rd(fd, R(16, 0x1D, 2), off));
        KEL_TRACE("    ICHSEL=%02X ISCWCT=%02X OSCWCT=%02X\n", rd(fd, R(0, 0x10 + uint32_t(k), 1)),
                  rd(fd, R(0, 0x71 + uint32_t(k), 1)), rd(fd, R(0, 0x69 + uint32_t(k), 1)));
    }
}

void c331_manage::c331_print()
{
    // Runs on a PC link's thread while the scaler thread goes on: the whole dump holds the
    // sequence lock so no flash operation or drawing command sees its data port read.
    std::lock_guard<std::recursive_mutex> seq(c331_seq_mutex);
    for (const RegEntry& e : printTable()) {
        const uint32_t word = uint32_t(e.bank) << 16 | uint32_t(e.reg) << 8 | e.count;
        const unsigned value = rd(c331_fd, word);
        KEL_TRACE("%06X  %08Xh\n", word, value);
        board::Clock::sleepUs(1);
    }
}
