// Monitor output set-up: the row and column maps, the LED size words and the steps that
// wait for a measured picture and for the HDMI transmitter.
#include "tests/fpga/bringup_fixture.h"

#include <vector>

using namespace fpga_test;
using sim::FpgaModel;

// Maps that keep T of S positions, one bit each from bit 0 of byte 0: the whole map after
// the call, on a map filled beforehand.
TEST(FpgaMonitorMaps, RowAndColumnMaps)
{
    const struct {
        uint32_t source, target;
        size_t size;
        uint8_t fill;
        std::vector<uint8_t> head;               // then the fill to the end
    } rows[] = {
        {0, 768, 2000, 0x5A, {}},                        // nothing to map: untouched
        {800, 1024, 2000, 0, std::vector<uint8_t>(128, 0xFF)},
        {3, 2, 2000, 0, {0xFD}},                         // positions 1 and 3 kept, 2 dropped
        {2048, 1024, 2000, 0, std::vector<uint8_t>(256, 0xAA)},
        {4097, 768, 512, 0, {}},                         // more positions than the map has bits
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.source << " to " << r.target);
        std::vector<uint8_t> map(r.size, r.fill);
        fpga_manage::row_col_calcul_ram(r.source, r.target, map.data(), unsigned(r.size));
        std::vector<uint8_t> expected = r.head;
        expected.resize(r.size, r.fill);
        EXPECT_EQ(map, expected);
    }
}

class FpgaMonitor : public BringUpFixture {};

TEST_F(FpgaMonitor, LedSizeMapsAndTheChangeSteps)
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    KelRamPara::put16(para->ram + KelRamPara::kLedWidth, 1920);
    KelRamPara::put16(para->ram + KelRamPara::kLedHeight, 1080);

    world->source->open_bus();
    // State 3 waits for the transmitter; any other state ignores it.
    std::vector<unsigned> states;
    manager->monitor_state[0] = 2;
    manager->set_9022_para(0);
    states.push_back(manager->monitor_state[0]);
    manager->set_lcd_change_flag();
    for (bool present : {false, true}) {
        sim::SiI9022Model::instance().setPresent(present);
        manager->set_9022_para(0);
        states.push_back(manager->monitor_state[0]);
    }
    EXPECT_EQ(states, (std::vector<unsigned>{2, 3, 4}));

    FpgaModel::clearLog();
    manager->check_monitor_change(0);
    // The LED size words, the column map in two writes, the row map, then the two bits.
    EXPECT_EQ(writes(), (std::vector<Write>{{1001, 424, 8},
                                            {1035, 0, 1024},
                                            {1035, 1024, 976},
                                            {1034, 0, 512},
                                            {2, 0x01, 0x01},
                                            {23, 0x10, 0x10}}));
    // The size words; 1920 columns to 1024 (every 1.875th): columns 1 and 3 kept, 2 dropped;
    // 1080 rows to 768: of rows 1073-1080 the map keeps 1074, 1075, 1077, 1078 and 1080.
    EXPECT_EQ(std::make_tuple(FpgaModel::ram(0, 1, 424, 8), FpgaModel::ram(0, 35, 0, 1)[0] & 0x07, FpgaModel::ram(0, 34, 134, 2),
                              unsigned(manager->monitor_state[0])),
              std::make_tuple(std::vector<uint8_t>{0, 0, 0, 0, 0x80, 0x07, 0x38, 0x04}, 0x05, std::vector<uint8_t>{0xB6, 0}, 0u));

    // A new change clears register 23 bit 4 and waits for a measured picture.
    manager->monitor_state[0] = 1;
    manager->check_monitor_change(0);
    EXPECT_EQ((std::vector<unsigned>{unsigned(FpgaModel::reg(0, 23) & 0x10), manager->monitor_state[0]}), (std::vector<unsigned>{0, 2}));
    G_timeTicks += 101;
    FpgaModel::clearLog();
    manager->check_monitor_change(0);
    EXPECT_EQ(manager->monitor_state[0], 2u);             // no picture measured yet
    ASSERT_EQ(FpgaModel::log(0).size(), 1u);              // the measured width and height
    EXPECT_EQ(std::make_pair(FpgaModel::log(0)[0].address, FpgaModel::log(0)[0].data.size()), std::make_pair(116u, size_t(4)));
    FpgaModel::setRam(0, 1, 116, {0x80, 0x07, 0x38, 0x04});
    G_timeTicks += 101;
    manager->check_monitor_change(0);
    EXPECT_EQ(manager->monitor_state[0], 3u);
}
