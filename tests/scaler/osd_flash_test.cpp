// The scaler's serial flash through the chip's controller: page programs end at page edges,
// erases take whole units, reads come back, and a flash that never finishes is given up.
#include "tests/scaler/osd_fixture.h"
#include "tests/support/ScalerLog.h"

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
    const auto whole = pattern(256, 1), twenty = pattern(20, 3);
    ASSERT_EQ(m.write_flash(fd, 0x20000, 256, whole.data()), 0);
    EXPECT_EQ(programs(), (std::vector<Op>{{'P', 0x20000, 256}}));

    sim::ScalerFlashModel::clearOps();
    ASSERT_EQ(m.write_flash(fd, 0x300F8, 20, twenty.data()), 0);
    EXPECT_EQ(programs(), (std::vector<Op>{{'P', 0x300F8, 8}, {'P', 0x30100, 12}}));

    for (const auto& written : {twenty, whole}) {
        const uint32_t at = written.size() == 20 ? 0x300F8 : 0x20000;
        std::vector<uint8_t> back(written.size());
        ASSERT_EQ(m.read_flash(fd, at, uint32_t(back.size()), back.data()), 0);
        EXPECT_EQ(back, written);
    }

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
    auto flash = std::vector<uint8_t>(0x18000, 0xFF);
    flash.push_back(0x12);   // the next unit is kept
    EXPECT_EQ(sim::ScalerFlashModel::read(0x8000, 0x18001), flash);

    sim::ScalerFlashModel::clearOps();
    m.erase_flash(fd, 0x20, 1, 0);
    m.erase_flash(fd, 0x30, 1, 7);   // any other kind: 64 KiB
    EXPECT_EQ(sim::ScalerFlashModel::ops(), (std::vector<Op>{{'E', 0x20000, 0x1000}, {'E', 0x30000, 0x10000}}));
    EXPECT_EQ(m.erase_flash(fd, 0x1FFF, 2, 0), 1);   // past the end of the 32 MiB: refused
}

TEST_F(OsdFlash, AnEmptyReadStillStartsAndOutsideTheFlashNothingMoves)
{
    ASSERT_EQ(m.read_flash(fd, 0x1234, 0, nullptr), 0);
    EXPECT_EQ(std::make_pair(sim::ScalerFlashModel::ops(), reg(4, 0x4E, 4)), std::make_pair(std::vector<Op>{{'R', 0x1234, 0}}, 0x1234u));

    sim::ScalerFlashModel::clearOps();
    uint8_t two[2] = {0, 0};
    // Each ends past the last byte.
    EXPECT_EQ((std::vector<int>{m.write_flash(fd, 0x1FFFFFF, 2, two), m.read_flash(fd, 0x1FFFFFF, 2, two),
                                m.osd_write_dma_sfl(fd, 0x1FFFF00, 0x70000000, 0, 0x200), int(sim::ScalerFlashModel::ops().size())}),
              (std::vector<int>{1, 1, 1, 0}));
}

TEST_F(OsdFlash, AFlashThatNeverFinishesIsGivenUpAndReported)
{
    sim::ScalerModel::setStuckBits(4, 0x54, 0x0B);   // program, erase and DMA busy for ever
    const uint8_t data[4] = {1, 2, 3, 4};
    testing::internal::CaptureStdout();
    const std::vector<int> results{m.write_flash(fd, 0x1000, 4, data), m.erase_flash(fd, 1, 1, 0), m.osd_write_dma_sfl(fd, 0, 0x7F000000, 0, 16)};
    const std::string out = testing::internal::GetCapturedStdout();
    // Each reported; the command register is left idle.
    EXPECT_EQ((std::vector<int>{results[0], results[1], results[2], kel_test::countOf(out, "[write_flash WBUSY] register 045401 still 0xb") > 0,
                                kel_test::countOf(out, "[erase_flash EBUSY]") > 0, kel_test::countOf(out, "[osd_write_dma_sfl]") > 0,
                                int(reg(4, 0x48, 1))}),
              (std::vector<int>{1, 1, 1, 1, 1, 1, 0})) << out;
}

TEST_F(OsdFlash, EachOperationSendsTheControllerItsWholeSequence)
{
    using kel_test::bytesOf;
    using kel_test::chipWrites;
    // Pins of bank 5; DMA writes 0x45 first, the others last.
    const std::initializer_list<kel_test::RegGroup> pins = {{5, 0x42, 3, 0x55}, {5, 0x3C, 2, 0x0300}, {5, 0x3E, 2, 0x0300}};
    auto with = [](std::vector<kel_test::ChipByte> a, const std::vector<kel_test::ChipByte>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const auto bytePins = with(bytesOf(pins), bytesOf({{5, 0x45, 2, 0x03FF}}));
    // A program and an erase leave the write enable latch set: cleared by write disable.
    const auto clearWel = bytesOf({{4, 0x4B, 1, 0x04}, {4, 0x48, 1, 5}, {4, 0x48, 1, 0}});

    // Two bytes at 0x100F0: one page end after the loop, at 0x100F2.
    const uint8_t two[2] = {0xA1, 0xB2};
    sim::ScalerModel::clearFrames();
    ASSERT_EQ(m.write_flash(fd, 0x100F0, 2, two), 0);
    EXPECT_EQ(chipWrites(), with(with(bytePins, bytesOf({{4, 0x47, 1, 0x80}, {4, 0x48, 1, 0}, {4, 0x47, 1, 0x31},
                                                         {4, 0x4C, 1, 0x06}, {4, 0x4D, 1, 0x05}, {4, 0x49, 1, 0x12},
                                                         {4, 0x5F, 1, 1}, {4, 0x48, 1, 0}, {4, 0x60, 1, 0},
                                                         {4, 0x4E, 4, 0x100F0}, {4, 0x4E, 4, 0x100F0},
                                                         {4, 0x52, 1, 0xA1}, {4, 0x52, 1, 0xB2}, {4, 0x4E, 4, 0x100F2}})),
                                 clearWel));
    EXPECT_EQ(sim::ScalerFlashModel::read(0x100F0, 2), (std::vector<uint8_t>{0xA1, 0xB2}));

    uint8_t back[2] = {};
    sim::ScalerModel::clearFrames();
    ASSERT_EQ(m.read_flash(fd, 0x100F0, 2, back), 0);
    EXPECT_EQ(chipWrites(), with(bytePins, bytesOf({{4, 0x48, 1, 0}, {4, 0x47, 1, 0x80}, {4, 0x47, 1, 0x31},
                                                    {4, 0x4A, 1, 0x0C}, {4, 0x5F, 1, 1}, {4, 0x48, 1, 0}, {4, 0x60, 1, 0},
                                                    {4, 0x4E, 4, 0x100F0}, {4, 0x53, 1, 1}, {4, 0x53, 1, 0},
                                                    {4, 0x4E, 4, 0x100F0}})));
    EXPECT_EQ(back[1], 0xB2);

    sim::ScalerModel::clearFrames();
    ASSERT_EQ(m.erase_flash(fd, 0x10, 1, 0), 0);
    EXPECT_EQ(chipWrites(), with(with(bytePins, bytesOf({{4, 0x48, 1, 0}, {4, 0x47, 1, 0x80}, {4, 0x47, 1, 0x01},
                                                         {4, 0x4B, 1, 0x20}, {4, 0x4C, 1, 0x06}, {4, 0x4D, 1, 0x05},
                                                         {4, 0x5F, 1, 1}, {4, 0x4B, 1, 0x20}, {4, 0x4E, 4, 0x10000},
                                                         {4, 0x48, 1, 4}})),
                                 with(bytesOf({{4, 0x4B, 1, 0x04}, {4, 0x48, 1, 5}, {4, 0x48, 1, 0}}),
                                      bytesOf({{4, 0x48, 1, 0}}))));
    EXPECT_EQ(sim::ScalerFlashModel::read(0x100F0, 2), (std::vector<uint8_t>{0xFF, 0xFF}));

    sim::ScalerModel::clearFrames();
    ASSERT_EQ(m.osd_write_dma_sfl(fd, 0x2000, 0x7F000000, 0, 0x100), 0);
    EXPECT_EQ(chipWrites(), with(with(bytesOf({{5, 0x45, 2, 0x03FF}}), bytesOf(pins)),
                                 bytesOf({{4, 0x08, 1, 0}, {4, 0x48, 1, 0}, {4, 0x47, 1, 0x80}, {4, 0x47, 1, 0x33},
                                          {4, 0x5F, 1, 2}, {4, 0x49, 1, 0x12}, {4, 0x4A, 1, 0x0C}, {4, 0x4B, 1, 0xC7},
                                          {4, 0x4C, 1, 0x06}, {4, 0x4D, 1, 0x05}, {4, 0x4E, 4, 0x2000},
                                          {4, 0x56, 4, 0x80000100}, {4, 0x5A, 1, 0}, {4, 0x11, 4, 0x7F000000},
                                          {4, 0x48, 1, 2}, {4, 0x48, 1, 0}})));
}
