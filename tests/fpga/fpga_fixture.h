#pragma once
// A fresh simulated board with an FPGA manager that owns its devices and window, without
// its thread: tests call the operations and the loop pass directly.

#include "board/sim/Sim.h"
#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace fpga_test {

class FpgaFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = std::make_unique<kel_test::TestRoot>();
        G_timeTicks = 1000;
        pc_cmd_valid = 0;
        g_set_led_para = 0;
        g_freeze_out = 0;
        ScreenState = 1;
        g_clock_record = CLOCK_RECORD{};
        sim::InputSideModel::clockChip().loadRunningImage();   // as the input side leaves it
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        ASSERT_EQ(manager->initialize(), 0);
        manager->softinit();
        sim::SpiBusModel::clearLog();
        sim::FpgaModel::clearLog();
        sim::SpiBusModel::clearLog();
    }

    void TearDown() override
    {
        manager.reset();
        fpga_manage::p_fpga_manage = nullptr;
        root.reset();
    }

    // SPI messages on one chip select, in order.
    static std::vector<sim::SpiRecord> spi(int chipSelect)
    {
        std::vector<sim::SpiRecord> out;
        for (auto& r : sim::SpiBusModel::log())
            if (r.chipSelect == chipSelect)
                out.push_back(r);
        return out;
    }

    // Decoded FPGA operations of one kind.
    static std::vector<sim::FpgaModel::Op> ops(int fpga, sim::FpgaModel::OpKind kind)
    {
        std::vector<sim::FpgaModel::Op> out;
        for (auto& op : sim::FpgaModel::log(fpga))
            if (op.kind == kind)
                out.push_back(op);
        return out;
    }

    // Sets what a search would have filed: the card count of a port in the parameter RAM image.
    static void setShadowCards(int port, uint16_t cards)
    {
        static const uint16_t offsets[16] = {100, 102, 108, 110, 560, 564, 568, 572,
                                             640, 644, 648, 652, 656, 660, 664, 668};
        fpga_manage::MCU_RAM_PARA_func[0][offsets[port]] = uint8_t(cards & 0xFF);
        fpga_manage::MCU_RAM_PARA_func[0][offsets[port] + 1] = uint8_t(cards >> 8);
    }

    // What bring-up leaves behind when FPGA 0 is up, its link trained (the link watch
    // finds its lanes locked).
    void makeReady()
    {
        fpga_manage::MCU_REG_func[0][80] = 3;
        manager->link_stage[0] = 7;
        manager->check_step[0] = 16;
        EXPECT_EQ(manager->write_to_register(3, 0xC0, 0xC0, 0), 0);
        sim::FpgaModel::clearLog();
        sim::SpiBusModel::clearLog();
    }

    std::unique_ptr<kel_test::TestRoot> root;
    std::unique_ptr<fpga_manage> manager;
};

} // namespace fpga_test
