#pragma once
// A scaler manager without its thread, on the simulated chip, with the default parameter
// block (saved) and an input-source manager whose timing records a test publishes the way
// the receiver drivers do.
#include "board/sim/Sim.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "protocol/message_deal.h"
#include "scaler/c331_drv.h"
#include "scaler/c331_manage.h"
#include "sources/velinsource.h"
#include "tests/support/TestRoot.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

namespace kel_test {

// How often what occurs in text (a captured trace, a dump).
inline int countOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class ScalerHarness : public ::testing::Test {
protected:
    void SetUp() override
    {
        c331_manage::p_c331_manage = &m;
        KelRamPara::p_kelrampara_config = &para;
        velinsource::p_velin_source = &source;
        m.c331_fd = m.drv->initialize();
        ASSERT_GE(m.c331_fd, 0);
        m.load_system_param();
        m.define_param();
        for (int k = 0; k < KelRamPara::kSavedLength; ++k)
            para.ram[KelRamPara::kSavedStart + k] = default_para_ramlist[2 + k];
        std::copy(std::begin(para.ram), std::end(para.ram), std::begin(para.ram_backup));
        for (int d = 0; d < 4; ++d)
            noSignal(d);
    }
    void TearDown() override
    {
        message_deal::wait_register_dump();   // a PC's dump reads this manager's chip
        c331_manage::p_c331_manage = nullptr;
        KelRamPara::p_kelrampara_config = nullptr;
        velinsource::p_velin_source = nullptr;
    }

    // Receiver d carries a signal: its timing record is published and the chip's
    // measurement follows the same timing.
    void publish(int d, int hact, int vact, int htotal, int vtotal, int hz, int ip = 0, int lanes = 0)
    {
        const std::string k = "input" + std::to_string(d) + ".";
        sim::SimBoard::setScenario(k + "signal", "1");
        sim::SimBoard::setScenario(k + "hact", std::to_string(hact));
        sim::SimBoard::setScenario(k + "vact", std::to_string(vact));
        sim::SimBoard::setScenario(k + "htotal", std::to_string(htotal));
        sim::SimBoard::setScenario(k + "vtotal", std::to_string(vtotal));
        sim::SimBoard::setScenario(k + "hz", std::to_string(hz));
        hdminfo r{};
        r.Hact = uint32_t(hact);
        r.Hsync = 44;
        r.Hback = 148;
        r.Hpol = 1;
        r.Htotal = uint32_t(htotal);
        r.Vact = uint32_t(vact);
        r.Vsync = 5;
        r.Vback = 36;
        r.Vpol = 1;
        r.Vtotal = uint32_t(vtotal);
        r.pfreq = float(double(htotal) * vtotal * hz / 1e6);
        r.type = d == 3 ? 1 : 0;
        r.lane = uint32_t(lanes);
        r.ip = uint32_t(ip);
        r.nosignal = 0;
        r.valid = 1;
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        source.hdminfo[d] = r;
    }
    void noSignal(int d)
    {
        sim::SimBoard::setScenario("input" + std::to_string(d) + ".signal", "0");
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        source.hdminfo[d] = hdminfo{};
        source.hdminfo[d].nosignal = 1;
        source.hdminfo[d].valid = 1;
    }
    // The receivers' records taken over and every port measured, as a scaler pass does.
    void measure()
    {
        m.load_hdmi();
        m.check_input_port(m.c331_fd);
    }
    // A value of the chip's registers as the model holds it (little-endian over n bytes).
    static unsigned reg(int bank, int first, int n = 1, int channel = 0)
    {
        unsigned v = 0;
        for (int i = 0; i < n; ++i)
            v |= unsigned(sim::ScalerModel::reg(bank + 0x10 * channel, first + i)) << (8 * i);
        return v;
    }
    // How many of the manager's recorded calls since the list was last cleared begin with
    // prefix (a name, or a whole call with its arguments).
    int count(const std::string& prefix)
    {
        auto calls = m.deferred_calls_copy();
        return int(std::count_if(calls.begin(), calls.end(),
                                 [&](const std::string& c) { return c.compare(0, prefix.size(), prefix) == 0; }));
    }
    bool called(const std::string& prefix) { return count(prefix) > 0; }
    void setWord(int off, uint16_t v) { KelRamPara::put16(para.ram + off, v); }
    static int window(int w, int field) { return 2272 + 26 * w + field; }
    // A window record: enabled, source, rectangle.
    void setWindow(int w, int source, int x, int y, int width, int height)
    {
        setWord(window(w, 0), 1);
        setWord(window(w, 8), uint16_t(source));
        setWord(window(w, 10), uint16_t(x));
        setWord(window(w, 12), uint16_t(y));
        setWord(window(w, 14), uint16_t(width));
        setWord(window(w, 16), uint16_t(height));
    }

    TestRoot root;
    KelRamPara para;
    velinsource source;
    c331_manage m;
};

} // namespace kel_test
