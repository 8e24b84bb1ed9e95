// The LED panel: how the composed picture leaves the chip. From the LED size, the size of
// output 1 and the splice mode it chooses one or two output channels (OCH) and their
// arrangement, finds an output timing of the fixed pixel rate, programs the output timing
// and the V-by-One transmitter, and reports the geometry in the parameter block.
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
constexpr int ARRANG2K4_2x1 = 5, ARRANG2K4_4x1_8K = 6, ARRANG2K4_2x2_8K = 7, ARRANG2K4_1x2 = 8;
constexpr int OCHBW_2K4K30 = 0, OCHBW_2K2K30 = 1;
constexpr int kOneOchPixels = 9800000;

// The timing list: total widths 660 to 8280 in steps of 4, each with the smallest total
// height that reaches 9,900,000 pixels a frame (the fixed pixel rate at 60 frames), and a
// few successive heights more for the narrow widths, where one line changes the frame
// rate least.
constexpr int64_t kFrameTarget = 9900000;
constexpr int64_t kRepeatScale = 13118163968LL;
} // namespace

const std::vector<std::pair<int32_t, int32_t>>& c331_manage::timing_list()
{
    static const std::vector<std::pair<int32_t, int32_t>> list = [] {
        std::vector<std::pair<int32_t, int32_t>> l;
        size_t entries = 0;   // counted first, so the table holds no spare capacity
        for (int64_t w = 660; w <= 8280; w += 4)
            entries += size_t(1 + kRepeatScale / (w * w * w));
        l.reserve(entries);
        for (int64_t w = 660; w <= 8280; w += 4) {
            const int64_t h0 = (kFrameTarget + w - 1) / w;
            const int64_t repeats = 1 + kRepeatScale / (w * w * w);
            for (int64_t i = 0; i < repeats; ++i)
                l.emplace_back(int32_t(w), int32_t(h0 + i));
        }
        return l;
    }();
    return list;
}

int c331_manage::kelApi_PnlInit2(int ledw, int ledh, int out1w, int out1h, int mode)
{
    record_call("kelApi_PnlInit2(" + std::to_string(ledw) + "," + std::to_string(ledh) + "," + std::to_string(out1w) +
                "," + std::to_string(out1h) + "," + std::to_string(mode) + ")");
    static const char* names[6] = {"SPLICE MODE: NONE", "SPLICE MODE: HV", "SPLICE MODE: V",
                                   "SPLICE MODE: H",    "SPLICE MODE: CP12", "SPLICE MODE: CP21"};
    pnl = ST_PANEL();
    pnl.splice = ((mode % 6) + 6) % 6;
    KEL_TRACE("%s\n", names[pnl.splice]);
    pnl.ledW = uint16_t(ledw);
    pnl.ledH = uint16_t(ledh);
    // Output 1 is a part of the screen: a larger one (a stale or hand-edited block) would
    // leave output 2 a negative size, wrapped to nearly 65536.
    out1w = std::max(0, std::min(out1w, int(pnl.ledW)));
    out1h = std::max(0, std::min(out1h, int(pnl.ledH)));
    switch (pnl.splice) {
    case 1:
    case 2:
        pnl.out1W = uint16_t(ledw);
        pnl.out1H = uint16_t(out1h);
        pnl.out2H = uint16_t(ledh - out1h);
        pnl.out2W = 0;
        break;
    case 3:
        pnl.out1W = uint16_t(out1w);
        pnl.out2W = uint16_t(ledw - out1w);
        pnl.out1H = uint16_t(ledh);
        pnl.out2H = 0;
        break;
    case 0:
    case 4:
        pnl.out1W = pnl.out2W = uint16_t(ledw);
        pnl.out1H = uint16_t(ledh);
        pnl.out2H = 0;
        break;
    default:
        break;
    }
    kelApi_PnlInitOch3();
    kelApi_initEnvC331();
    // Only the six port records are marked unknown, not the 48 bytes after them: in this
    // layout those are the active areas of ports 0-2, and 0xFF there would give a port
    // without signal an active width of -1 that the window geometry then uses.
    for (auto& info : PI_PORT_INFO) {
        std::memset(static_cast<void*>(&info), 0xFF, sizeof info);
        info.NOSIG = 1;
    }
    kelApi_MultiWinChAlloc(1);
    kelApi_MultiWinChInit();
    kelDbg_c331_param();   // the engineers' record of the new panel
    return 0;
}

void c331_manage::kelApi_PnlInitOch3()
{
    const int W1 = pnl.out1W, W2 = pnl.out2W, H1 = pnl.out1H, H2 = pnl.out2H;
    const bool wide = W1 >= 8191 || W2 >= 8191;
    const bool stacked = pnl.splice == 1 || pnl.splice == 2;
    const int S = stacked ? W1 + W2 : std::max(W1, W2);
    const int M = stacked ? std::max(H1, H2) : H1 + H2;
    int hblank, vblank, W0;
    if (!wide && int64_t(S) * M <= kOneOchPixels) {
        pnl.oneOch = 1;
        W0 = (S + 3) / 4 * 4;
        pnl.HSW = 12;
        pnl.HFP = 8;
        pnl.VSW = 3;
        pnl.VFP = 3;
        hblank = 64;
        vblank = 12;
    } else {
        pnl.oneOch = 0;
        W0 = (S + 7) / 8 * 8;
        pnl.HSW = 12;
        pnl.VSW = 12;
        pnl.HFP = 32;
        pnl.VFP = 32;
        hblank = 76;
        vblank = 76;
    }
    pnl.bw = OCHBW_2K4K30;
    const bool one = pnl.oneOch == 1;
    if (stacked) {
        pnl.arrang = one ? ARRANG2K4_1x2 : ARRANG2K4_2x2_8K;
        pnl.och_HCnt = one ? 1 : 2;
        pnl.och_VCnt = 2;
    } else if (pnl.splice == 5) {
        pnl.arrang = ARRANG2K4_2x1;
        pnl.och_HCnt = 2;
        pnl.och_VCnt = 1;
    } else {
        pnl.arrang = one ? ARRANG2K4_2x1 : ARRANG2K4_4x1_8K;
        pnl.och_HCnt = one ? 2 : 4;
        pnl.och_VCnt = 1;
    }
    int htt = 0, vtt = 0;
    kelApi_PnlInitOch_diff(&htt, &vtt, hblank, vblank, W0, M);
    pnl.HTT = htt;
    pnl.VTT = vtt;
    pnl.ochH = vtt - vblank;
    if (stacked) {
        const int half = std::max(pnl.och_VCnt / 2, 1);
        pnl.ochH = (M + half - 1) / half;
        pnl.yoff = uint16_t(half * pnl.ochH - H1);
    } else {
        if (pnl.splice == 3)
            pnl.xoff = uint16_t((pnl.ochW * pnl.och_HCnt) / 2 - W1);
        const int v = std::max(int(pnl.och_VCnt), 1);
        pnl.ochH = (pnl.ledH + v - 1) / v;
    }
    kelApi_WriteRam(0x560);
    kelApi_c331InitRegPanel();
}

int c331_manage::kelApi_PnlInitOch_diff(int* htt, int* vtt, int hblank, int vblank, int width, int height)
{
    if (pnl.oneOch == 0) {
        const bool stacked = pnl.splice == 1 || pnl.splice == 2;
        if (stacked) {
            height /= 2;
            if (pnl.arrang == ARRANG2K4_2x2_8K)
                width /= 2;
        } else {
            width /= 2;
        }
    }
    const int H = width + hblank, V = height + vblank;
    int T = -1, VT = -1;
    for (const auto& e : timing_list())
        if (e.first >= H && e.second >= V) {
            T = e.first;
            VT = e.second;
            break;
        }
    if (T < 0) {
        if (pnl.oneOch) {
            T = (H + 3) / 4 * 4;
            KEL_TRACE("\t not found in list for Use one OCH, continue find for Use TWO OCH");
        } else {
            T = H;
            KEL_TRACE("\t not found in list, calc htt: %d -- %04x\n", T, T);
        }
        VT = V;
    }
    pnl.ochW = width;
    pnl.ochH = VT - vblank;
    if (htt)
        *htt = T;
    if (vtt)
        *vtt = VT;
    return 1;
}

void c331_manage::kelApi_c331InitRegPanel()
{
    const int fd = c331_fd;
    const int width = pnl.ochW, height = pnl.ochH;
    PS_ACTHW = width;
    PS_ACTVW = height;
    PS_HTOTAL = pnl.HTT;
    PS_VTOTAL = pnl.VTT;
    PS_HSW = pnl.HSW;
    PS_VSW = pnl.VSW;
    PS_HFP = pnl.HFP;
    PS_HBP = pnl.HTT - width - pnl.HSW - pnl.HFP;
    PS_VBP = pnl.VTT - height - pnl.VSW - pnl.VFP;
    wr(fd, R(3, 0x44, 1), uint32_t(PS_HSW / 2 - 1));
    wr(fd, R(3, 0x45, 1), uint32_t(PS_VSW - 1));
    wr(fd, R(3, 0x4C, 1), uint32_t(PS_HSW / 2 - 1));
    wr(fd, R(3, 0x4D, 1), uint32_t(PS_VSW - 1));
    const int hst = PS_HSW + PS_HBP, hend = hst + width;
    const int vst = PS_VSW + PS_VBP, vend = vst + height;
    PS_OAOIHST = PS_ACTHST = hst;
    PS_OAOIHED = hend;
    PS_OAOIVST = PS_ACTVST = vst;
    PS_OAOIVED = vend;

    switch (pnl.arrang) {
    case 0: PS_VBOTX_MODE = 1; PS_VBOTX_LAYOUT = 2; break;
    case 1: PS_VBOTX_MODE = 1; PS_VBOTX_LAYOUT = 3; break;
    case 2: PS_VBOTX_MODE = 0; PS_VBOTX_LAYOUT = 0; break;
    case 3: case 4: PS_VBOTX_MODE = 0; PS_VBOTX_LAYOUT = 1; break;
    case 5: case 6: PS_VBOTX_MODE = 2; PS_VBOTX_LAYOUT = 0; break;
    case 7: case 8: PS_VBOTX_MODE = 2; PS_VBOTX_LAYOUT = 1; break;
    default:
        KEL_TRACE("\t not found arrang mode");
        PS_VBOTX_MODE = 0;
        break;
    }
    const bool one = pnl.oneOch == 1;
    int h = 1, v = 1;
    if (PS_VBOTX_MODE == 1) {
        h = 4; v = 2;
    } else if (PS_VBOTX_MODE == 0) {
        if (PS_VBOTX_LAYOUT == 0) { h = 4; v = 1; } else { h = 2; v = 2; }
    } else if (PS_VBOTX_MODE == 2) {
        if (PS_VBOTX_LAYOUT == 1) { h = one ? 1 : 2; v = 2; } else { h = one ? 2 : 4; v = 1; }
    }
    PS_PANEL_HSHAPE = h;
    PS_PANEL_VSHAPE = v;
    PS_PANEL_HW = h * width;
    PS_PANEL_VW = v * height;

    for (int c = 0; c < kChannels; ++c) {
        const int off = 0x10 * c;
        wr(fd, R(0x08, 0x0A, 2), uint32_t(pnl.HTT - 2), off);
        wr(fd, R(0x08, 0x0C, 2), uint32_t(pnl.VTT - 2), off);
        wr(fd, R(0x08, 0x1D, 2), 64, off);
        for (uint32_t base : {0x28u, 0x30u}) {
            wr(fd, R(0x08, base, 2), uint32_t(hst), off);
            wr(fd, R(0x08, base + 2, 2), uint32_t(hend), off);
            wr(fd, R(0x08, base + 4, 2), uint32_t(vst), off);
            wr(fd, R(0x08, base + 6, 2), uint32_t(vend), off);
        }
        wr(fd, R(0x08, 0x40, 2), uint32_t(hst), off);
        wr(fd, R(0x08, 0x42, 2), uint32_t(width), off);
        wr(fd, R(0x08, 0x44, 2), uint32_t(vst), off);
        wr(fd, R(0x08, 0x46, 2), uint32_t(height + 1), off);
    }
    wr(fd, R(3, 0x5E, 4), 0x76543210);
    wr(fd, R(3, 0x62, 4), 0x76543210);

    uint32_t second;
    if (pnl.bw == OCHBW_2K2K30) {
        for (uint32_t base : {0x2Cu, 0x36u}) {
            wr(fd, R(3, base, 2), 0);
            wr(fd, R(3, base + 2, 1), 0);
            wr(fd, R(3, base + 3, 2), 0);
        }
        wr(fd, R(2, 0x08, 1), 5);
        wr(fd, R(2, 0x78, 1), 5);
        wr(fd, R(2, 0x18, 1), 76);
        wr(fd, R(2, 0x30, 1), 76);
        const int s = pnl.splice;
        wr(fd, R(3, 0x55, 4), (s == 1 || s == 2 || s == 3 || s == 5) ? 0x76543210 : 0x32103210);
        second = 153;
    } else {
        uint32_t order = 0x03020100;
        if (pnl.arrang >= 5 && pnl.arrang <= 8) {
            static const uint32_t oneOch[6] = {0x03020100, 0x00010000, 0x00010000, 0x00010000, 0, 0x00010000};
            static const uint32_t twoOch[6] = {0x03020100, 0x00010000, 0x03020100, 0x03020100, 0x01000100, 0x00010000};
            order = one ? oneOch[pnl.splice] : twoOch[pnl.splice];
        }
        wr(fd, R(3, 0x55, 4), order);
        wr(fd, R(3, 0x2C, 2), 0);
        wr(fd, R(3, 0x2E, 1), 0);
        wr(fd, R(3, 0x2F, 2), 0);
        wr(fd, R(2, 0x08, 1), 9);
        wr(fd, R(3, 0x5E, 4), 0x76543210);
        wr(fd, R(3, 0x36, 2), 0);
        wr(fd, R(3, 0x38, 1), 0);
        wr(fd, R(3, 0x39, 2), 0);
        wr(fd, R(2, 0x78, 1), 9);
        wr(fd, R(3, 0x62, 4), 0x76543210);
        wr(fd, R(0, 0x47, 1), 33);
        wr(fd, R(0, 0x4C, 1), 33);
        second = 137;
    }
    wr(fd, R(0, 0x4B, 1), 11);
    wr(fd, R(0, 0x50, 1), 11);
    wr(fd, R(0, 0x48, 1), second);
    wr(fd, R(0, 0x4D, 1), second);
}

void c331_manage::kelApi_WriteRam(int address)
{
    KelRamPara* k = KelRamPara::p_kelrampara_config;
    if (address != 0x560 || !k)
        return;
    const bool one = pnl.oneOch == 1;
    int across, down;
    if (pnl.splice == 0 || pnl.splice == 4) {
        across = one ? 1 : 2;
        down = 1;
    } else if (pnl.splice == 3) {
        across = one ? 2 : 4;
        down = 1;
    } else {
        across = one ? 1 : 2;
        down = 2;
    }
    // The live block, the pass's copy and what the chip holds: a later read sees the geometry.
    std::unique_lock<std::mutex> block = KelRamPara::lock_block();
    for (uint8_t* ram : {k->ram, block_view, applied_view}) {
        KelRamPara::put16(ram + 0x566, pnl.xoff);
        KelRamPara::put16(ram + 0x568, pnl.yoff);
        ram[0x56A] = uint8_t(across);
        ram[0x56B] = 0;
        ram[0x56C] = uint8_t(down);
        ram[0x56D] = 0;
        KelRamPara::put16(ram + 0x56E, uint16_t(pnl.ochW));
        KelRamPara::put16(ram + 0x570, uint16_t(pnl.ochH));
        KelRamPara::put16(ram + 0x572, uint16_t(pnl.bw));
    }
    block.unlock();
    KEL_TRACE("\t och_num_h:   %d\n", across);
    KEL_TRACE("\t och_num_v:   %d\n", down);
    KEL_TRACE("\t och_w:       %d\n", pnl.ochW);
    KEL_TRACE("\t och_h:       %d\n", pnl.ochH);
}

void c331_manage::kelApi_forceColorDisable(int fd)
{
    record_call("kelApi_forceColorDisable()");
    g_force_bkcolor = 2;   // kelApi_SetOutBkg reads it: the forced colour is over
    for (int c = 0; c < kChannels; ++c)
        wr(fd, R(0x08, 0x49, 3), 0, 0x10 * c);
    for (int w = 0; w < wincnt && w < kWindows; ++w) {
        const int port = PM_INPUT[w];
        const uint32_t nosig = (!port_ok(port) || PI_PORT_INFO[port].NOSIG != 0) ? 1 : 0;
        const int cells = std::min(gWininfo[w].totalh * gWininfo[w].totalv, 8);
        for (int i = 0; i < cells; ++i) {
            const int c = gWininfo[w].ochLst[i];
            if (c > 7 || PM_WIN_NUM[c] != w)
                continue;   // (a channel listed twice is its owner's)
            wr(fd, R(0x08, 0x48, 1), nosig, 0x10 * c);
        }
    }
}
