// The simulated scaler chip behaves as the drivers rely on: measurement registers follow the
// scenario's inputs, done bits follow their requests, status registers read idle.
#include "board/sim/Sim.h"
#include "scaler/c331_drv.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

namespace {

class ScalerModelChip : public ::testing::Test {
protected:
    void SetUp() override
    {
        fd = drv.initialize();
        ASSERT_GE(fd, 0);
    }
    unsigned rd(uint32_t reg) { return drv.read_C331(fd, reg, 0); }

    kel_test::TestRoot root;
    c331_drv drv;
    int fd = -1;
};

} // namespace

TEST_F(ScalerModelChip, MeasurementFollowsTheScenarioInputs)
{
    // Receiver 0 reaches scaler port 2; by default it carries 1920x1080@60 in 2200 x 1125.
    EXPECT_EQ(rd(0xAE0C02) + 1, 2200u);                 // HTOTAL of port 2
    EXPECT_EQ(rd(0xAE2402), 1125u);                     // VTOTAL
    EXPECT_EQ(rd(0xAE5603) + 1, 200000000u / 60);       // FVM: frame period in 200 MHz counts
    EXPECT_EQ(rd(0xAF0C02), 1920u);                     // ACTHW
    // Port 0 (receiver 2) has no signal: the counters run out.
    EXPECT_EQ(rd(0xAE0802) + 1, 0x10000u);
    EXPECT_EQ(rd(0xAE5003) + 1, 0x1000000u);

    sim::SimBoard::setScenario("input3.signal", "1");
    sim::SimBoard::setScenario("input3.hact", "3840");
    sim::SimBoard::setScenario("input3.htotal", "4400");
    sim::SimBoard::setScenario("input3.vtotal", "2250");
    sim::SimBoard::setScenario("input3.hz", "30");
    // Receiver 3 is V-by-One port 5 (channel 1): every lane counts the same periods.
    EXPECT_EQ(rd(0xAE1802) + 1, 4400u);
    EXPECT_EQ(rd(0xAE3002), 2250u);
    EXPECT_EQ(rd(0xAE6803) + 1, 200000000u / 30);
    EXPECT_EQ(rd(0xAE6B03), rd(0xAE6803));
    EXPECT_EQ(rd(0xAE4E02), rd(0xAE4802));
    EXPECT_EQ(rd(0xB11802), 3840u);

    sim::SimBoard::setScenario("input0.signal", "0");
    EXPECT_EQ(rd(0xAE0C02), 0xFFFFu);
}

TEST_F(ScalerModelChip, DoneBitsStatusAndFaultKnobs)
{
    drv.write_C331(fd, 0x050901, 0x24, 0);   // output update request of channels 2 and 5
    EXPECT_EQ(rd(0x052301), 0x24u);
    drv.write_C331(fd, 0x050901, 0, 0);
    EXPECT_EQ(rd(0x052301), 0u);
    drv.write_C331(fd, 0x050801, 0x01, 0);   // input vertical sync of channel 0
    EXPECT_EQ(rd(0x052201), 0x01u);

    // Serial flash idle with its write buffer empty; drawing engine idle.
    EXPECT_EQ(rd(0x045301), 0x20u);
    EXPECT_EQ(rd(0x045401), 0u);
    drv.write_C331(fd, 0x040801, 1, 0);
    EXPECT_EQ(rd(0x041701) & 1, 0u);
    // Both V-by-One receivers locked.
    EXPECT_EQ(rd(0xB26001), 0xA0u);
    // The field-status registers move on with the clock, not with every look.
    const unsigned a = rd(0xAB4801);
    EXPECT_EQ(rd(0xAB4801), a);
    sim::SimBoard::advanceVirtual(16667);
    EXPECT_EQ(rd(0xAB4801), ((((a & 3) + 1) & 3) * 5));
    sim::ScalerModel::setFieldPhase(0x49, 2);
    EXPECT_EQ(rd(0xAB4901) & 3, (rd(0xAB4801) + 2) & 3);
    // A withheld done bit never comes.
    sim::ScalerModel::withholdDoneBits(0, 0x01);
    drv.write_C331(fd, 0x050901, 0x03, 0);
    EXPECT_EQ(rd(0x052301), 0x02u);

    // A status bit stuck busy stays busy whatever is written.
    sim::ScalerModel::setStuckBits(4, 0x17, 0x01);
    drv.write_C331(fd, 0x040801, 0, 0);
    EXPECT_EQ(rd(0x041701) & 1, 1u);
    // The frame log records bank selects and data frames as the chip decoded them.
    sim::ScalerModel::clearFrames();
    drv.write_C331(fd, 0x0C1001, 0x5A, 0);
    auto frames = sim::ScalerModel::frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_TRUE(frames[0].isBankSelect());
    EXPECT_EQ(frames[0].value, 0x0C);
    EXPECT_EQ(frames[1].bank, 0x0C);
    EXPECT_EQ(frames[1].reg, 0x10);
    EXPECT_EQ(frames[1].value, 0x5A);

    sim::SimBoard::reset();
    EXPECT_EQ(sim::ScalerModel::reg(0x0C, 0x10), 0);
    EXPECT_TRUE(sim::ScalerModel::frames().empty());
}
