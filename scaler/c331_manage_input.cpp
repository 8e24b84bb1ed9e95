// The scaler's input ports: the receivers' timing records, the signal check and the
// measurement of every port in use, and what a port is programmed with once measured.
#include "scaler/c331_manage.h"

#include "core/global.h"
#include "core/utils.h"
#include "sources/velinsource.h"

#include <cstdlib>

namespace {
constexpr uint32_t R(uint32_t bank, uint32_t reg, uint32_t bytes)
{
    return bank << 16 | reg << 8 | bytes;
}

struct Measured {
    int32_t htotal, vtotal, fhw, fvm, acthw;
};

bool counts_valid(int32_t htotal, int32_t fhw, int32_t fvm)
{
    return htotal >= 2 && htotal <= 0xFFFE && fhw >= 2 && fhw <= 0xFFFE && fvm >= 2 && fvm <= 0xFFFFFE;
}

// The lanes of a V-by-One record; a record that says 0 lanes is read as one lane, so the
// pixel clock per lane is never a division by zero.
int lanes_of(const PI_HDMI_INFO_st& t)
{
    return t.lane > 0 ? t.lane : 1;
}

uint32_t lane_mask(int lanes)
{
    switch (lanes) {
    case 8: return 0xFF;
    case 4: return 0xF0;
    case 2: return 0xC0;
    default: return 0x80;
    }
}
} // namespace

int c331_manage::usable_width(int port) const
{
    if (!port_ok(port))
        return 0;
    const int w = PI_ACT[port].HW;
    return (port >= 4 && PI_PORT_INFO[port].STATE < 4) ? 2 * w : w;
}

// ---------------------------------------------------------------------------------------

void c331_manage::load_hdmi()
{
    velinsource* v = velinsource::p_velin_source;
    if (!v)
        return;
    for (int p = 0; p < kPorts; ++p) {
        const int d = kelApi_GetPortDevId(p);
        if (d < 0 || d > 3)
            continue;
        hdminfo rec;
        {
            std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
            rec = v->hdminfo[d];
        }
        if (rec.valid == 0)
            continue;
        PI_HDMI_INFO_st& t = PI_HDMI_INFO[p];
        bool changed = false;
        auto field = [&](int32_t& mine, uint32_t theirs, const char* name) {
            if (mine != int32_t(theirs)) {
                KEL_TRACE("\n [load_hdmi]%s=%d,%d,chaned! \n", name, int32_t(theirs), mine);
                mine = int32_t(theirs);
                changed = true;
            }
        };
        field(t.Hact, rec.Hact, "Hact");
        field(t.Hsync, rec.Hsync, "Hsync");
        field(t.Hback, rec.Hback, "Hback");
        field(t.Hpol, rec.Hpol, "Hpol");
        field(t.Htotal, rec.Htotal, "Htotal");
        field(t.Vact, rec.Vact, "Vact");
        field(t.Vsync, rec.Vsync, "Vsync");
        field(t.Vback, rec.Vback, "Vback");
        field(t.Vpol, rec.Vpol, "Vpol");
        field(t.Vtotal, rec.Vtotal, "Vtotal");
        if (t.pfreq != rec.pfreq) {
            t.pfreq = rec.pfreq;
            changed = true;
            KEL_TRACE("\n [load_hdmi]pfreq=%f,%d,chaned! \n", double(t.pfreq), p);
        }
        field(t.type, rec.type, "type");
        field(t.datamode, rec.datamode, "datamode");
        field(t.lane, rec.lane, "lane");
        field(t.ip, rec.ip, "ip");
        field(t.nosignal, rec.nosignal, "nosignal");
        if (!changed)
            continue;
        KEL_TRACE("[load_hdmi] chg_input[PI_HDMI_INFO], port:%d, dev_id:%d\n", p, d);
        for (int w = 0; w < kWindows; ++w) {
            if (!window_uses_port(w, p))
                continue;
            g_chg_input[w] = 1;
            if (PM_WIN_DBD_MODE[w] > 1) {
                KEL_TRACE("\n[load_hdmi] g_chg_input[%d] = 1 for dbd:%d\n", w, PM_WIN_DBD_MODE[w]);
                set_ichsel(c331_fd, w);
            } else {
                KEL_TRACE("\n[load_hdmi] g_chg_input[%d] = 1\n", w);
            }
        }
    }
}

void c331_manage::check_port_valid(int fd)
{
    for (int w = 0; w < kWindows; ++w) {
        for (int p : window_ports(w)) {
            {
                std::lock_guard<std::mutex> hold(Utils::_check_nosig_mutex);
                if (!(port_status[p] & 0x80))
                    continue;
            }
            const bool vbo = p >= 4;
            const int v = vbo ? p - 4 : p;
            wr(fd, R(0, 0x29, 1), 0x80);
            const int32_t htotal = int32_t(rd(fd, vbo ? R(0xAE, 0x10 + 8 * v, 2) : R(0xAE, 0x08 + 2 * p, 2))) + 1;
            const int32_t fhw = int32_t(rd(fd, vbo ? R(0xAE, 0x40 + 8 * v, 2) : R(0xAE, 0x38 + 2 * p, 2))) + 1;
            const int32_t fvm = int32_t(rd(fd, vbo ? R(0xAE, 0x5C + 12 * v, 3) : R(0xAE, 0x50 + 3 * p, 3))) + 1;
            wr(fd, R(0, 0x29, 1), 0);
            if (counts_valid(htotal, fhw, fvm)) {
                std::lock_guard<std::mutex> hold(Utils::_check_nosig_mutex);
                port_status[p] &= uint8_t(~1u);
                continue;
            }
            {
                std::lock_guard<std::mutex> hold(Utils::_check_nosig_mutex);
                port_status[p] |= 1;
                KEL_TRACE("[c331_check_nosignal] win_%d port_%d, nosignal:%02x\n", w, p, port_status[p]);
            }
            // Reset the receiver channel. Only channels 0 and 1 exist: the registers of a
            // channel 2 or 3 would lie beyond the bank, so ports 2 and 3 reset nothing.
            if (v > 1)
                continue;
            wr(fd, R(2, 0x7F, 1), v == 0 ? 14 : 13);
            wr(fd, R(2, 0x7F, 1), 15);
            wr(fd, R(2, 0x40 + 0x1C * uint32_t(v), 1), 5);
            wr(fd, R(2, 0x51 + 0x1C * uint32_t(v), 1), 0x80);
            set_VBORXfrange(fd, v, 0, 1);
        }
    }
}

void c331_manage::check_input_port(int fd)
{
    record_poll("check_input_port()");
    velinsource* src = velinsource::p_velin_source;
    for (int p = 0; p < kPorts; ++p) {
        bool used = false;
        for (int w = 0; w < kWindows && !used; ++w)
            used = window_uses_port(w, p);
        const int d = kelApi_GetPortDevId(p);
        if (!used || !src || d < 0 || d > 3)
            continue;
        {
            std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
            if (src->hdminfo[d].valid == 0)
                continue;
        }
        const bool vbo = p >= 4;
        const int v = vbo ? p - 4 : p;
        const PI_PORT_INFO_st prev = PI_PORT_INFO[p];
        PI_PORT_INFO_st& info = PI_PORT_INFO[p];
        // PI_UPDATE stays raised until the input-following step has re-applied the port's
        // windows: a measurement made for a source change (c331_SetInputsource) must not be
        // lost to the next pass's check.

        // 1. Measure.
        wr(fd, R(0, 0x29, 1), 0x80);
        Measured m;
        if (vbo) {
            m.htotal = int32_t(rd(fd, R(0xAE, 0x10 + 8 * v, 2))) + 1;
            m.vtotal = int32_t(rd(fd, R(0xAE, 0x28 + 8 * v, 2)));
            m.fhw = int32_t(rd(fd, R(0xAE, 0x40 + 8 * v, 2))) + 1;
            m.fvm = int32_t(rd(fd, R(0xAE, 0x5C + 12 * v, 3))) + 1;
            m.acthw = int32_t(rd(fd, R(0xB1, 0x10 + 8 * v, 2)));
        } else {
            m.htotal = int32_t(rd(fd, R(0xAE, 0x08 + 2 * p, 2))) + 1;
            m.vtotal = int32_t(rd(fd, R(0xAE, 0x20 + 2 * p, 2)));
            m.fhw = int32_t(rd(fd, R(0xAE, 0x38 + 2 * p, 2))) + 1;
            m.fvm = int32_t(rd(fd, R(0xAE, 0x50 + 3 * p, 3))) + 1;
            m.acthw = int32_t(rd(fd, R(0xAF, 0x08 + 2 * p, 2)));
        }
        wr(fd, R(0, 0x29, 1), 0);
        const PI_HDMI_INFO_st& t = PI_HDMI_INFO[p];
        const int lanes = lanes_of(t);
        const uint32_t mask = lane_mask(lanes);
        auto lane_reset = [&](uint32_t maskValue) {
            wr(fd, R(2, 0x7F, 1), 15);
            wr(fd, R(2, 0x40 + 0x1C * uint32_t(v), 1), 5);
            wr(fd, R(2, 0x51 + 0x1C * uint32_t(v), 1), maskValue);
        };

        // 2. No signal.
        if (!counts_valid(m.htotal, m.fhw, m.fvm) || t.nosignal == 1) {
            const bool justLost = prev.NOSIG == 0;
            if (justLost) {
                info.HTOTAL = info.VTOTAL = info.FHW = info.FVM = info.ACTHW = 0;
                info.NOSIG = 1;
                PI_ACT[p] = _ImageWindowDef_st{16, 0, 16, 0};
                set_input_bkg(fd, p, 1);
                if (!vbo) {
                    set_pict(fd, 0, p);
                    continue;
                }
            } else if (!vbo) {
                continue;
            }
            wr(fd, R(2, 0x7F, 1), p == 4 ? 14 : 13);
            lane_reset(0x80);
            set_VBORXfrange(fd, v, 0, 1);
            vbo_retry[v] = vbo_retry[v] >= 29 ? 0 : vbo_retry[v] + 1;
            continue;
        }

        // 3. Unchanged signal.
        const bool same = prev.NOSIG == 0 && std::abs(m.htotal - prev.HTOTAL) <= 2 &&
                          std::abs(m.vtotal - prev.VTOTAL) <= 2 && std::abs(m.fhw - prev.FHW) <= 100 &&
                          std::abs(m.fvm - prev.FVM) <= 100 && m.acthw == prev.ACTHW && g_chg_hdmi[p] == 0;
        bool change = !same;
        if (same) {
            // The next pass compares with this measurement, so a slow drift (2 a pass) is
            // never taken for a change of signal.
            info.HTOTAL = m.htotal;
            info.VTOTAL = m.vtotal;
            info.FHW = m.fhw;
            info.FVM = m.fvm;
            // A change marked on any window using the port (a joined one through its list alike)
            // reprograms it: the receiver's format may change while the chip's totals stay.
            for (int w = 0; w < kWindows && !change; ++w) {
                if (window_uses_port(w, p) && g_chg_input[w]) {
                    KEL_TRACE("\t port_info_chg:%d, g_chg_input[win_%d]:%d\n", 0, w, g_chg_input[w]);
                    change = true;
                }
            }
        }

        // 4. Changed signal: program the port for what it carries.
        if (change) {
            info.HTOTAL = m.htotal;
            info.VTOTAL = m.vtotal;
            info.FHW = m.fhw;
            info.FVM = m.fvm;
            info.ACTHW = m.acthw;
            info.NOSIG = 0;
            PI_FV[p] = double(PS_CLK_DERIVED ? PS_CLK_DERIVED : 200000000) / double(m.fvm);
            const double fpiclk = double(t.Htotal) * PI_FV[p] * double(t.Vtotal);
            if (vbo) {
                wr(fd, R(2, 0x7F, 1), p == 4 ? 14 : 13);
                lane_reset(mask);
                set_VBORXfrange(fd, v, uint32_t(fpiclk / lanes), 0);
                set_VBOInput(fd, v);
                info.STATE = (t.Hact <= 2176 && fpiclk <= 324e6 && lanes < 4) ? 4 : 1;
                info.IP = 0;
            } else {
                set_pict(fd, t.datamode, p);
                set_sypol(fd, 0, p);
                info.STATE = t.datamode ? 3 : 4;
                info.IP = 0;
                if (t.ip) {
                    // The chip counts the lines of one field.
                    const int vt = m.vtotal;
                    if (vt >= 560 && vt <= 565) {
                        info.IP = 1;
                        info.STATE = PI_FV[p] >= 55 ? 5 : 6;
                    } else if (vt >= 266 && vt <= 350) {
                        info.IP = 1;
                        info.STATE = 8;
                    } else if (vt >= 260 && vt <= 265) {
                        info.IP = 1;
                        info.STATE = 7;
                    }
                }
            }
            _ImageWindowDef_st act{t.Hsync + t.Hback, t.Hact, t.Vsync + t.Vback, t.Vact};
            if (info.STATE < 4) {
                act.HST /= 2;
                act.HW /= 2;
            }
            PI_ACT[p] = act;
            PI_UPDATE[p] = 1;
        }

        // 5. V-by-One lanes: a lane whose counters ran out is reset.
        if (vbo) {
            wr(fd, R(0, 0x29, 1), 0x80);
            const int checked = lanes >= 8 ? 4 : lanes >= 4 ? 2 : 1;
            bool bad = false;
            for (int i = 0; i < checked; ++i) {
                const unsigned c2 = rd(fd, R(0xAE, 0x40 + 2 * i + 8 * v, 2));
                const unsigned c3 = rd(fd, R(0xAE, 0x5C + 3 * i + 12 * v, 3));
                if (c2 < 1 || c2 > 0xFFFD || c3 < 1 || c3 > 0xFFFFFD)
                    bad = true;
            }
            wr(fd, R(0, 0x29, 1), 0);
            if (bad) {
                vbo_retry[v] = vbo_retry[v] >= 29 ? 0 : vbo_retry[v] + 1;
                wr(fd, R(2, 0x7F, 1), p == 4 ? 14 : 13);
                lane_reset(mask);
            } else {
                vbo_retry[v] = 0;
            }
        }

        // 6. Report and recompute the crops of the port.
        if (change) {
            KEL_TRACE("PortInfo Updated.  port=%d  STATE=%d  IP=%d  HTOTAL=%4d  VTOTAL=%4d\n", p, info.STATE, info.IP,
                      info.HTOTAL, info.VTOTAL);
            KEL_TRACE("\t FHW=%d  FVM=%d  ACTHW=%d  FV=%.2f\n", info.FHW, info.FVM, info.ACTHW, PI_FV[p]);
            kelApi_updateCrop(p);
        }
    }
}
