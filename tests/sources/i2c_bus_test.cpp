#include "board/I2cBus.h"
#include "board/sim/Sim.h"
#include "sources/drv_i2c.h"
#include "tests/support/TestRoot.h"

#include <array>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

class I2cBusAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        fd = drv.initialize();
        ASSERT_GE(fd, 0);
        sim::I2cBusModel::clearLog();
    }
    void TearDown() override { board::I2cBus::close(fd); }

    // Opens the EEPROM branch of an input through switch 0xE0.
    void selectEeprom(uint8_t channel) { ASSERT_EQ(drv.i2c_write(fd, 0xE0, 0x00, &channel, 1), 1); }
    void protect(uint8_t on) { ASSERT_EQ(drv.i2c_write(fd, 0x40, 0x00, &on, 1), 1); }

    kel_test::TestRoot root;
    Drv_I2C0 drv;
    int fd = -1;
};

} // namespace

TEST_F(I2cBusAccess, WriteIsOneMessageOfRegisterAndData)
{
    const uint8_t data[3] = {0x11, 0x22, 0x33};
    selectEeprom(0x80);
    sim::I2cBusModel::clearLog();
    // Then the register byte alone.
    EXPECT_EQ((std::vector<int>{drv.i2c_write(fd, 0xD0, 0x05, data, 3), drv.i2c_write(fd, 0xD0, 0x09, nullptr, 0)}), (std::vector<int>{1, 1}));
    auto log = sim::I2cBusModel::log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ((std::vector<int>{log[0].address8, log[0].read, sim::InputSideModel::clockChip().reg(6)}), (std::vector<int>{0xD0, 0, 0x22}));
    EXPECT_EQ((std::vector<std::vector<uint8_t>>{log[0].data, log[1].data}), (std::vector<std::vector<uint8_t>>{{0x05, 0x11, 0x22, 0x33}, {0x09}}));
}

TEST_F(I2cBusAccess, ReadIsRegisterWriteThenReadAndFailuresLeaveTheBuffer)
{
    selectEeprom(0x02);
    sim::I2cBusModel::clearLog();
    uint8_t buf[8];
    ASSERT_EQ(drv.i2c_read(fd, 0xA0, 0x00, buf, 8), 1);
    EXPECT_EQ((std::vector<int>{buf[0], buf[1]}), (std::vector<int>{0x00, 0xFF}));
    auto log = sim::I2cBusModel::log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ((std::vector<size_t>{log[0].data.size(), log[0].data[0], log[1].read, log[1].data.size()}), (std::vector<size_t>{1, 0x00, 1, 8}));

    // A device that does not acknowledge: 0, and the caller's buffer as it was.
    std::fill(std::begin(buf), std::end(buf), 0xAA);
    EXPECT_EQ(std::make_pair(drv.i2c_read(fd, 0x90, 0x00, buf, 8), std::vector<uint8_t>(buf, buf + 8)), std::make_pair(0, std::vector<uint8_t>(8, 0xAA)));

    // Likewise a part that stops answering.
    sim::InputSideModel::eeprom(0).setPresent(false);
    EXPECT_EQ((std::vector<int>{drv.i2c_read(fd, 0xA0, 0x00, buf, 8), buf[1]}), (std::vector<int>{0, 0xAA}));
    sim::InputSideModel::eeprom(0).setPresent(true);

    // n below 1 copies nothing and succeeds.
    buf[0] = 0x5C;
    EXPECT_EQ((std::vector<int>{drv.i2c_read(fd, 0xA0, 0x00, buf, 0), buf[0]}), (std::vector<int>{1, 0x5C}));
}

TEST_F(I2cBusAccess, SizesBeyondTheBuffersAreRefusedWithoutATransfer)
{
    std::vector<uint8_t> big(300, 0x77);
    selectEeprom(0x02);
    sim::I2cBusModel::clearLog();
    EXPECT_EQ((std::vector<int>{drv.i2c_write(fd, 0xA0, 0x00, big.data(), 256), drv.i2c_read(fd, 0xA0, 0x00, big.data(), 101),
                                int(sim::I2cBusModel::log().size())}),
              (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(big.begin(), big.begin() + 102), std::vector<uint8_t>(102, 0x77));
    EXPECT_EQ(drv.i2c_write(fd, 0xD0, 0x00, big.data(), 255), 0) << "clock branch closed: NAK";
    selectEeprom(0x80);
    std::vector<uint8_t> most(255, 0x77);
    EXPECT_EQ(drv.i2c_write(fd, 0xD0, 0x00, most.data(), 255), 1);
    uint8_t hundred[100];
    EXPECT_EQ((std::vector<int>{drv.i2c_read(fd, 0xD0, 0x00, hundred, 100), hundred[99]}), (std::vector<int>{1, 0x77}));
}

TEST_F(I2cBusAccess, SwitchChannelsDecideWhichEepromAnswers)
{
    uint8_t b = 0;
    EXPECT_EQ(drv.i2c_read(fd, 0xA0, 0x00, &b, 1), 0) << "all channels closed after reset";
    std::array<uint8_t, 256> marked{};
    marked[0] = 0x31;
    sim::InputSideModel::eeprom(2).setContents(marked);
    selectEeprom(0x08);
    EXPECT_EQ((std::vector<int>{drv.i2c_read(fd, 0xA0, 0x00, &b, 1), b}), (std::vector<int>{1, 0x31}));
    selectEeprom(0x04);
    ASSERT_EQ(drv.i2c_read(fd, 0xA0, 0x00, &b, 1), 1);
    EXPECT_EQ((std::vector<int>{b, drv.i2c_read(fd, 0xD0, 0x00, &b, 1)}), (std::vector<int>{0x00, 0})) << "clock chip is behind 0x80";
    // The receivers' switch answers with its channel register; input 3's receiver is
    // behind channel 0x20 and nothing behind the unused channel 0x10.
    uint8_t ch = 0x10;
    ASSERT_EQ(drv.i2c_write(fd, 0xEE, 0x00, &ch, 1), 1);
    EXPECT_EQ((std::vector<int>{sim::InputSideModel::switchReceiver().channels(), drv.i2c_read(fd, 0x90, 0x00, &b, 1)}),
              (std::vector<int>{0x10, 0}));
    ch = 0x20;
    ASSERT_EQ(drv.i2c_write(fd, 0xEE, 0x00, &ch, 1), 1);
    EXPECT_EQ((std::vector<int>{drv.i2c_read(fd, 0x90, 0x00, &b, 1), b}), (std::vector<int>{1, 0x54}));
}

TEST_F(I2cBusAccess, EepromPagesWriteCycleAndProtection)
{
    auto& part = sim::InputSideModel::eeprom(1);
    part.fillBlank();
    selectEeprom(0x04);
    const uint8_t page[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    // Protected: acknowledged, not stored, no write cycle.
    protect(1);
    EXPECT_EQ(drv.i2c_write(fd, 0xA0, 0x10, page, 8), 1);
    EXPECT_EQ((std::vector<int64_t>{part.contents()[0x10], part.storedPages(), drv.i2c_write(fd, 0xA0, 0x10, nullptr, 0)}),
              (std::vector<int64_t>{0xFF, 0, 1}));

    protect(0);
    EXPECT_EQ((std::vector<int64_t>{drv.i2c_write(fd, 0xA0, 0x10, page, 8), part.contents()[0x10], part.contents()[0x17]}),
              (std::vector<int64_t>{1, 1, 8}));
    // Busy during the write cycle: nothing is acknowledged.
    uint8_t b = 0;
    EXPECT_EQ((std::vector<int>{drv.i2c_write(fd, 0xA0, 0x10, nullptr, 0), drv.i2c_read(fd, 0xA0, 0x10, &b, 1)}), (std::vector<int>{0, 0}));
    sim::SimBoard::advanceVirtual(sim::EdidEepromModel::kWriteCycleUs);
    // Then free again; data beyond the page wraps to the page's start.
    const uint8_t tail[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    EXPECT_EQ((std::vector<int>{drv.i2c_write(fd, 0xA0, 0x10, nullptr, 0), drv.i2c_write(fd, 0xA0, 0x26, tail, 4)}), (std::vector<int>{1, 1}));
    sim::SimBoard::advanceVirtual(sim::EdidEepromModel::kWriteCycleUs);
    auto c = part.contents();
    EXPECT_EQ((std::vector<int>{c[0x26], c[0x27], c[0x20], c[0x21], c[0x28]}), (std::vector<int>{0xA1, 0xA2, 0xA3, 0xA4, 0xFF}));

    // Sequential reads run on across pages and wrap at 256.
    uint8_t seq[12];
    ASSERT_EQ(drv.i2c_read(fd, 0xA0, 0xFC, seq, 12), 1);
    EXPECT_EQ((std::vector<int>{seq[3], seq[4], seq[11]}), (std::vector<int>{c[0xFF], c[0], c[7]}));
}

TEST_F(I2cBusAccess, ExpanderHoldsItsOutputByte)
{
    const int atPowerUp = sim::InputSideModel::expander().output();   // protected
    uint8_t v = 0x24;
    ASSERT_EQ(drv.i2c_write(fd, 0x40, 0x00, &v, 1), 1);
    EXPECT_EQ((std::vector<int>{atPowerUp, sim::InputSideModel::expander().output()}), (std::vector<int>{0x01, 0x24}));
    uint8_t back = 0;
    ASSERT_EQ(drv.i2c_read(fd, 0x40, 0x00, &back, 1), 1);
    EXPECT_EQ((std::vector<int>{back, drv.i2c_write(fd, 0x40, 0x03, &v, 1)}), (std::vector<int>{0x24, 0})) << "only the output register";
    sim::I2cBusModel::setAbsent(0x40, true);
    EXPECT_EQ(drv.i2c_write(fd, 0x40, 0x00, &v, 1), 0);
}

TEST_F(I2cBusAccess, ScenarioSetsEepromContentAtFirstAccess)
{
    sim::SimBoard::setScenario("i2c.eeprom3", "blank");
    sim::SimBoard::setScenario("i2c.eeprom0", "absent");
    sim::SimBoard::setScenario("i2c.eeprom1", "corrupt");
    uint8_t b[8];
    selectEeprom(0x20);
    EXPECT_EQ((std::vector<int>{drv.i2c_read(fd, 0xA0, 0x00, b, 8), b[0]}), (std::vector<int>{1, 0xFF}));
    selectEeprom(0x02);
    EXPECT_EQ(drv.i2c_read(fd, 0xA0, 0x00, b, 8), 0);
    auto blockSum = [](const std::array<uint8_t, 256>& e) { return std::accumulate(e.begin(), e.begin() + 128, 0u) & 0xFF; };
    const auto corrupt = sim::InputSideModel::eeprom(1).contents();
    EXPECT_NE(blockSum(corrupt), 0u);
    EXPECT_EQ((std::vector<unsigned>{corrupt[1], blockSum(sim::InputSideModel::eeprom(2).contents())}), (std::vector<unsigned>{0xFF, 0}));
}
