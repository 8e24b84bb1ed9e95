#pragma once
// The FPGA manager on a fresh simulated board with the parameter block and an input side
// that has reached its start-up stage 2, driven pass by pass with the tick counter.

#include "core/kelrampara.h"
#include "sources/velinsource.h"
#include "tests/fpga/fpga_fixture.h"

#include <ctime>
#include <functional>
#include <tuple>

namespace fpga_test {

// The parameter block and the input side's start-up stage, which bring-up waits for.
class BringUpWorld {
public:
    BringUpWorld()
    {
        delete KelRamPara::p_kelrampara_config;
        KelRamPara::p_kelrampara_config = nullptr;
        KelRamPara::pInstance();
        source = std::make_unique<velinsource>();
        velinsource::p_velin_source = source.get();
        source->clock_state[0] = 2;
        sim::InputSideModel::clockChip().loadRunningImage();
        g_source_online = 0;
        g_fpga_lcd_on = 0;
        g_set_led_setup = 0;
        g_passby_trans_port = 255;
    }
    ~BringUpWorld()
    {
        velinsource::p_velin_source = nullptr;
        source.reset();
        delete KelRamPara::p_kelrampara_config;
        KelRamPara::p_kelrampara_config = nullptr;
    }
    BringUpWorld(const BringUpWorld&) = delete;
    BringUpWorld& operator=(const BringUpWorld&) = delete;

    // One loop pass, `ticks` ticks after the last one.
    static void pass(fpga_manage& m, uint32_t ticks = 1)
    {
        G_timeTicks += ticks;
        m.fpga_manage_deal(nullptr);
    }
    // Passes until done() holds; false when it did not within `limit` passes.
    static bool passUntil(fpga_manage& m, const std::function<bool()>& done, int limit, uint32_t ticks = 1)
    {
        for (int i = 0; i < limit; ++i) {
            if (done())
                return true;
            pass(m, ticks);
        }
        return done();
    }
    static bool bringUp(fpga_manage& m, int limit = 3000)
    {
        return passUntil(m, [&m] { return m.get_fpga_status() == 1; }, limit);
    }

    std::unique_ptr<velinsource> source;
};

class BringUpFixture : public FpgaFixture {
protected:
    void SetUp() override
    {
        FpgaFixture::SetUp();
        world = std::make_unique<BringUpWorld>();
    }
    void TearDown() override
    {
        world.reset();
        FpgaFixture::TearDown();
    }
    void pass(uint32_t ticks = 1) { BringUpWorld::pass(*manager, ticks); }
    void passes(int n)
    {
        for (int i = 0; i < n; ++i)
            pass();
    }
    bool passUntil(const std::function<bool()>& done, int limit, uint32_t ticks = 1)
    {
        return BringUpWorld::passUntil(*manager, done, limit, ticks);
    }
    bool bringUp(int limit = 3000) { return BringUpWorld::bringUp(*manager, limit); }

    // Register writes to one register of FPGA 0 as the model decoded them (mask, value).
    static std::vector<std::pair<uint8_t, uint8_t>> writesTo(int reg)
    {
        std::vector<std::pair<uint8_t, uint8_t>> out;
        for (auto& op : sim::FpgaModel::log(0))
            if (op.kind == sim::FpgaModel::OpKind::RegisterWrite && op.reg == reg && !op.data.empty())
                out.emplace_back(op.mask, op.data[0]);
        return out;
    }
    // Writes to FPGA 0 in order: a register write as (register, mask, value under the mask),
    // a RAM write as (1000 + RAM, address, length).
    using Write = std::tuple<int, int, int>;
    static std::vector<Write> writes()
    {
        std::vector<Write> out;
        for (auto& op : sim::FpgaModel::log(0)) {
            if (op.kind == sim::FpgaModel::OpKind::RegisterWrite && !op.data.empty())
                out.emplace_back(op.reg, op.mask, op.data[0] & op.mask);
            else if (op.kind == sim::FpgaModel::OpKind::RamWrite)
                out.emplace_back(1000 + op.ram, int(op.address), int(op.data.size()));
        }
        return out;
    }
    static size_t readsOf(int reg)
    {
        size_t n = 0;
        for (auto& op : sim::FpgaModel::log(0))
            n += op.kind == sim::FpgaModel::OpKind::RegisterRead && op.reg == reg;
        return n;
    }
    static uint16_t ram16(uint32_t address)
    {
        auto b = sim::FpgaModel::ram(0, 1, address, 2);
        return uint16_t(b[0] | b[1] << 8);
    }
    // The local wall clock at a time of day (the date is fixed).
    static void clockAt(int hour, int minute, int day = 7)
    {
        std::tm t{};
        t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = day, t.tm_hour = hour, t.tm_min = minute, t.tm_isdst = -1;
        sim::SimBoard::fixWallTime(std::mktime(&t));
    }

    std::unique_ptr<BringUpWorld> world;
};

} // namespace fpga_test
