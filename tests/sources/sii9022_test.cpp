// The output-side TPI transmitter: the set-up sequence for one resolution against the
// simulated chip's transaction log, the refused refresh of 0 and the presence check.
#include "board/sim/Sim.h"
#include "board/sim/i2c/SiI9022Model.h"
#include "core/kelrampara.h"
#include "sources/it6602/velin_it6602.h"
#include "sources/transmitters/SiI9022.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

class SiI9022Test : public kel_test::SourcesFixture {
protected:
    void SetUp() override
    {
        SourcesFixture::SetUp();
        drop9022();
        openSources();
        sim::SiI9022Model::instance().reset();
        sim::I2cBusModel::clearLog();
    }
    void TearDown() override { SourcesFixture::TearDown(); drop9022(); }
    static void drop9022() { delete SiI9022::p_9022; SiI9022::p_9022 = nullptr; }
    // The register/value pairs written at 0x76, in order.
    static std::vector<std::pair<int, int>> writes() { return kel_test::i2cWrites(0x76); }
};

TEST_F(SiI9022Test, FullHd60ProgramsTimingDeAndAvi)
{
    SiI9022::pInstance()->I2C_set_SiI9022(1920, 1080, 60);
    auto& m = sim::SiI9022Model::instance();
    auto regs = [&](std::vector<int> list) { for (int& r : list) r = m.reg(r); return list; };
    // TPI 0-7: pixel clock word 6245, refresh 6000, totals 895 x 1163.
    EXPECT_EQ(regs({0, 1, 2, 3, 4, 5, 6, 7}), (std::vector<int>{0x65, 0x18, 0x70, 0x17, 0x7F, 0x03, 0x8B, 0x04}));
    // DE delay 140, top 63, 1920 x 1080.
    EXPECT_EQ(regs({0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69}),
              (std::vector<int>{0x8C, 0x40, 0x3F, 0x00, 0x80, 0x07, 0x38, 0x04}));
    // AVI: checksum, 0x11, 16:9, bytes 8 and 12; then the set-up's writes to 0xBD, 0xBE and 0x08-0x0B.
    EXPECT_EQ(regs({0x0C, 0x0D, 0x0E, 0x14, 0x18, 0xBD, 0xBE, 0x08, 0x09, 0x0A, 0x0B}),
              (std::vector<int>{0xB9, 0x11, 0x28, 81, 44, 0x82, 0x25, 0x70, 0, 0, 0}));
    const auto w = writes();
    ASSERT_FALSE(w.empty());
    // First and last writes, and the count of the whole sequence.
    EXPECT_EQ((std::vector<int>{w.front().first, w.front().second, w.back().first, w.back().second, int(w.size())}),
              (std::vector<int>{0xC7, 0x00, 0x1A, 0x00, 5 + 8 + 5 + 8 + 14 + 1}));
}

TEST_F(SiI9022Test, PresenceCheckSetsAndClearsStatusBits)
{
    SiI9022* tx = SiI9022::pInstance();
    para->reg_image[39] = 0;
    EXPECT_EQ((std::vector<int64_t>{tx->check_9022(0), para->reg_image[39]}), (std::vector<int64_t>{1, 0x02}));
    sim::I2cBusModel::clearLog();
    const int second = tx->check_9022(1);
    // The check reads TPI register 0x62 at 0x76.
    const auto& log = sim::I2cBusModel::log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(std::make_tuple(second, int(log.front().address8), log.front().data), std::make_tuple(1, 0x76, std::vector<uint8_t>{0x62}));
    EXPECT_EQ((std::vector<int>{tx->check_9022(0), para->reg_image[39] & 0x06}), (std::vector<int>{1, 0x06}));
    sim::SiI9022Model::instance().setPresent(false);
    unsigned char b[2] = {};
    // Absent: the bit cleared; a read still returns.
    EXPECT_EQ((std::vector<int64_t>{tx->check_9022(1), para->reg_image[39] & 0x06, tx->I2C_SiI9022A2_Read(0x00, b, 2)}), (std::vector<int64_t>{0, 0x02, 1}));
}

TEST_F(SiI9022Test, RefreshOfZeroAndReadsBeyondTheReceiveAreaLeaveTheBusAlone)
{
    SiI9022::pInstance()->siHdmiTx_UserDefineSet(1920, 1080, 0);
    unsigned char big[101] = {};
    EXPECT_EQ((std::vector<size_t>{size_t(SiI9022::pInstance()->I2C_SiI9022A2_Read(0x00, big, 101)), sim::I2cBusModel::log().size()}),
              (std::vector<size_t>{1, 0}));
}

} // namespace
