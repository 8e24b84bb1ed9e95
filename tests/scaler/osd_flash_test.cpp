// The scaler's serial flash through the chip's controller: page programs end at page edges,
// erases take whole units, reads come back, and a flash that never finishes is given up.
#include "tests/scaler/osd_fixture.h"

using osd_test::OsdFixture;
using Op = sim::ScalerFlashModel::Op;

namespace {
std::vector<uint8_t> pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(seed + 7 * i);
    return v;
}
std::vector<Op> programs()
{
    std::vector<Op> out;
    for (const Op& o : sim::ScalerFlashModel::ops())
        if (o.kind == 'P')
            out.push_back(o);
    return out;
}
} // namespace

using OsdFlash = OsdFixture;

TEST_F(OsdFlash, PagesAreProgrammedUpToEachPageEnd)
{
    const auto whole = pattern(256, 1), ten = pattern(10, 2), twenty = pattern(20, 3);
    ASSERT_EQ(m.write_flash(fd, 0x20000, 256, whole.data()), 0);
    EXPECT_EQ(programs(), (std::vector<Op>{{'P', 0x20000, 256}}));

    sim::ScalerFlashModel::clearOps();
    ASSERT_EQ(m.write_flash(fd, 0x100F0, 10, ten.data()), 0);
    EXPECT_EQ(programs(), (std::vector<Op>{{'P', 0x100F0, 10}}));   // committed by the address 0x100FA
    EXPECT_EQ(reg(4, 0x4E, 4), 0x100FAu);

    sim::ScalerFlashModel::clearOps();
    ASSERT_EQ(m.write_flash(fd, 0x300F8, 20, twenty.data()), 0);
    EXPECT_EQ(programs(), (std::vector<Op>{{'P', 0x300F8, 8}, {'P', 0x30100, 12}}));

    std::vector<uint8_t> back(20);
    ASSERT_EQ(m.read_flash(fd, 0x300F8, 20, back.data()), 0);
    EXPECT_EQ(back, twenty);
    back.resize(256);
    ASSERT_EQ(m.read_flash(fd, 0x20000, 256, back.data()), 0);
    EXPECT_EQ(back, whole);

    // Programming only clears bits: 0x0F over 0xF0 reads 0x00.
    const uint8_t a = 0xF0, b = 0x0F;
    m.write_flash(fd, 0x40000, 1, &a);
    m.write_flash(fd, 0x40000, 1, &b);
    EXPECT_EQ(sim::ScalerFlashModel::read(0x40000, 1)[0], 0x00);
}

TEST_F(OsdFlash, EraseTakesWholeUnitsFromTheSector)
{
    sim::ScalerFlashModel::write(0x8000, std::vector<uint8_t>(0x18000, 0x00));
    sim::ScalerFlashModel::write(0x20000, {0x12});
    ASSERT_EQ(m.erase_flash(fd, 8, 3, 1), 0);
    EXPECT_EQ(sim::ScalerFlashModel::ops(),
              (std::vector<Op>{{'E', 0x8000, 0x8000}, {'E', 0x10000, 0x8000}, {'E', 0x18000, 0x8000}}));
    EXPECT_EQ(sim::ScalerFlashModel::read(0x8000, 0x18000), std::vector<uint8_t>(0x18000, 0xFF));
    EXPECT_EQ(sim::ScalerFlashModel::read(0x20000, 1)[0], 0x12);

    sim::ScalerFlashModel::clearOps();
    m.erase_flash(fd, 0x20, 1, 0);
    m.erase_flash(fd, 0x30, 1, 7);   // any other kind: 64 KiB
    EXPECT_EQ(sim::ScalerFlashModel::ops(), (std::vector<Op>{{'E', 0x20000, 0x1000}, {'E', 0x30000, 0x10000}}));
    EXPECT_EQ(m.erase_flash(fd, 0x1FFF, 2, 0), 1);   // past the end of the 32 MiB: refused
}

TEST_F(OsdFlash, AnEmptyReadStillStartsAndOutsideTheFlashNothingMoves)
{
    ASSERT_EQ(m.read_flash(fd, 0x1234, 0, nullptr), 0);
    EXPECT_EQ(sim::ScalerFlashModel::ops(), (std::vector<Op>{{'R', 0x1234, 0}}));
    EXPECT_EQ(reg(4, 0x4E, 4), 0x1234u);

    sim::ScalerFlashModel::clearOps();
    uint8_t two[2] = {0, 0};
    EXPECT_EQ(m.write_flash(fd, 0x1FFFFFF, 2, two), 1);
    EXPECT_EQ(m.read_flash(fd, 0x2000000, 1, two), 1);
    EXPECT_EQ(m.osd_write_dma_sfl(fd, 0x1FFFF00, 0x70000000, 0, 0x200), 1);
    EXPECT_TRUE(sim::ScalerFlashModel::ops().empty());
}

TEST_F(OsdFlash, AFlashThatNeverFinishesIsGivenUpAndReported)
{
    sim::ScalerModel::setStuckBits(4, 0x54, 0x0B);   // program, erase and DMA busy for ever
    const uint8_t data[4] = {1, 2, 3, 4};
    testing::internal::CaptureStdout();
    EXPECT_EQ(m.write_flash(fd, 0x1000, 4, data), 1);
    EXPECT_EQ(m.erase_flash(fd, 1, 1, 0), 1);
    EXPECT_EQ(m.osd_write_dma_sfl(fd, 0, 0x7F000000, 0, 16), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[write_flash WBUSY] register 045401 still 0xb"), std::string::npos) << out;
    EXPECT_NE(out.find("[erase_flash EBUSY]"), std::string::npos);
    EXPECT_NE(out.find("[osd_write_dma_sfl]"), std::string::npos);
    EXPECT_EQ(reg(4, 0x48, 1), 0u);   // the command register is left idle
}
