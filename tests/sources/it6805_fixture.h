#pragma once
// Input 3's receiver on the simulated board: the input-source manager owns the driver, the
// I2C branch of input 3 is selected and the virtual clock runs; a test sets the source in
// the scenario and steps the driver's state machine pass by pass.
#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/it6805/ite6805_drv.h"
#include "sources/it6805/ite6805_sys.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"
#include "tests/support/TestRoot.h"

#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class It6805Test : public kel_test::SourcesFixture {
protected:
    void SetUp() override
    {
        SourcesFixture::SetUp();
        g_source_online = 2;   // the output path is up: timing is published at once
        openSources();
        ASSERT_EQ(src->set_switch(velinsource::kSwitchReceiver, 0x20), 1);
        sys = src->p_ite6805_sys;
        drv = sys->p_ite6805_drv;
    }
    void TearDown() override { SourcesFixture::TearDown(), g_source_online = 0; }

    static sim::It6805Model& chip() { return sim::It6805Model::instance(); }
    static void set(const std::string& key, long value) { sim::SimBoard::setScenario("input3." + key, std::to_string(value)); }
    static void source(long hact, long vact, long htotal, long vtotal, long hz)
    {
        for (const auto& [key, value] : {std::pair<const char*, long>{"signal", 1}, {"hact", hact}, {"vact", vact}, {"htotal", htotal},
                                         {"vtotal", vtotal}, {"hz", hz}})
            set(key, value);
    }
    // Passes of the driver, each followed by the thread's pause.
    void pass(int n = 1) { for (int i = 0; i < n; ++i, sim::SimBoard::advanceVirtual(10000)) sys->iTE6805_FSM(0); }
    // Passes until the driver is identified and has settled: its main body runs.
    void up() { runUntil([&] { return sys->FsmState[0] == 1; }); }
    // Passes until done() holds; false after limit passes.
    bool runUntil(const std::function<bool()>& done, int limit = 400)
    {
        for (int i = 0; i < limit; ++i) {
            if (done())
                return true;
            pass();
        }
        return done();
    }
    bool runToAudioOn(int limit = 400) { return runUntil([&] { return sys->iTE6805_DATA[0].AudState == STATEA_AudioOn; }, limit); }
    // Long enough for any CEC reply to leave the bus.
    static void cecBusTime() { sim::SimBoard::advanceVirtual(200000); }
    iTE6805_DATA_TYPE& data() { return sys->iTE6805_DATA[0]; }
    hdminfo record()
    {
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        return src->hdminfo[3];
    }
    // Input 3's status bytes: width, height, frame rate.
    std::vector<int> status()
    {
        std::lock_guard<std::mutex> hold(para->mutex);
        const uint8_t* s = para->ram + KelRamPara::kInputStatus + 18;
        return {KelRamPara::get16(s), KelRamPara::get16(s + 2), KelRamPara::get16(s + 4)};
    }
    int bank() { return chip().reg(0, 0x0F) & 7; }
    // The next read of receiver register r is not answered (nor its retry).
    static void unanswered(uint8_t r) { sim::I2cBusModel::drop({0, 2, true, false, [=](uint8_t a, const uint8_t* d, uint16_t) { return a == 0x90 && d[0] == r; }}); }

    // Register writes at 0x90 since startLog(), each with the bank it went to.
    struct RegWrite {
        int bank, reg, value;
        bool operator==(const RegWrite& o) const { return bank == o.bank && reg == o.reg && value == o.value; }
        friend std::ostream& operator<<(std::ostream& os, const RegWrite& w)
        {
            return os << "{" << w.bank << ", 0x" << std::hex << w.reg << ", 0x" << w.value << std::dec << "}";
        }
    };
    void startLog() { logBank_ = bank(), sim::I2cBusModel::clearLog(); }
    std::vector<RegWrite> rxWrites()
    {
        std::vector<RegWrite> out;
        int b = logBank_;
        for (const auto& r : sim::I2cBusModel::log()) {
            if (r.address8 != 0x90 || r.read || r.data.size() < 2)
                continue;
            for (size_t i = 1; i < r.data.size(); ++i) {
                const int reg = (r.data[0] + int(i) - 1) & 0xFF;
                out.push_back({reg < 0x10 ? -1 : b, reg, r.data[i]});
                if (reg == 0x0F)
                    b = r.data[i] & 7;
            }
        }
        return out;
    }
    // True when want appears in got in this order (other writes may come between).
    static bool inOrder(const std::vector<RegWrite>& got, const std::vector<RegWrite>& want)
    {
        size_t k = 0;
        for (const RegWrite& w : got)
            if (k < want.size() && w == want[k])
                ++k;
        return k == want.size();
    }
    int logBank_ = 0;

    kel_test::TestRoot root;
    ite6805_sys* sys = nullptr;
    ite6805_drv* drv = nullptr;
};
