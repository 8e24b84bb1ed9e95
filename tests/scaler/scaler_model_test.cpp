// The simulated scaler chip behaves as the drivers rely on: measurement registers follow the
// scenario's inputs, done bits follow their requests, status registers read idle.
#include "board/sim/Sim.h"
#include "scaler/c331_drv.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <vector>

namespace {
using U = std::vector<unsigned>;

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
    // HTOTAL, VTOTAL, FVM (the frame period in 200 MHz counts) and ACTHW of port 2; port 0
    // (receiver 2) has no signal: its counters run out.
    EXPECT_EQ((U{rd(0xAE0C02) + 1, rd(0xAE2402), rd(0xAE5603) + 1, rd(0xAF0C02), rd(0xAE0802) + 1, rd(0xAE5003) + 1}),
              (U{2200, 1125, 200000000 / 60, 1920, 0x10000, 0x1000000}));

    sim::SimBoard::setScenario("input3.signal", "1");
    sim::SimBoard::setScenario("input3.hact", "3840");
    sim::SimBoard::setScenario("input3.htotal", "4400");
    sim::SimBoard::setScenario("input3.vtotal", "2250");
    sim::SimBoard::setScenario("input3.hz", "30");
    // Receiver 3 is V-by-One port 5 (channel 1): every lane counts the same periods.
    EXPECT_EQ((U{rd(0xAE1802) + 1, rd(0xAE3002), rd(0xAE6803) + 1, rd(0xAE6B03), rd(0xAE4E02), rd(0xB11802)}),
              (U{4400, 2250, 200000000 / 30, rd(0xAE6803), rd(0xAE4802), 3840}));

    sim::SimBoard::setScenario("input0.signal", "0");
    EXPECT_EQ(rd(0xAE0C02), 0xFFFFu);
}

TEST_F(ScalerModelChip, DoneBitsStatusAndFaultKnobs)
{
    // Output update requests of channels 2 and 5, taken back; input vertical sync of channel 0.
    drv.write_C331(fd, 0x050901, 0x24, 0);
    const unsigned requested = rd(0x052301);
    drv.write_C331(fd, 0x050901, 0, 0);
    const unsigned withdrawn = rd(0x052301);
    drv.write_C331(fd, 0x050801, 0x01, 0);
    drv.write_C331(fd, 0x040801, 1, 0);
    // Serial flash idle with its write buffer empty; drawing engine idle; both V-by-One
    // receivers locked.
    EXPECT_EQ((U{requested, withdrawn, rd(0x052201), rd(0x045301), rd(0x045401), rd(0x041701) & 1, rd(0xB26001)}),
              (U{0x24, 0, 0x01, 0x20, 0, 0, 0xA0}));
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
    EXPECT_EQ((U{unsigned(frames[0].value), unsigned(frames[1].bank), unsigned(frames[1].reg), unsigned(frames[1].value)}),
              (U{0x0C, 0x0C, 0x10, 0x5A}));

    sim::SimBoard::reset();
    EXPECT_EQ(sim::ScalerModel::reg(0x0C, 0x10), 0);
    EXPECT_TRUE(sim::ScalerModel::frames().empty());
}
