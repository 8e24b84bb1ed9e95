#include "board/MtdDevice.h"
#include "board/sim/Sim.h"
#include "core/utils.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <vector>

namespace {
struct Flash {
    kel_test::TestRoot root;
    int fd = -1;
    explicit Flash(uint32_t writeSize = 2048)
    {
        sim::MtdModel::configure("/dev/mtd8", 1u << 20, 64u << 10, writeSize);
        fd = board::MtdDevice::open("/dev/mtd8");
    }
    ~Flash() { board::MtdDevice::close(fd); }
    std::vector<uint8_t> read(uint32_t offset, uint32_t length)
    {
        std::vector<uint8_t> out(length);
        board::MtdDevice::readAt(fd, out.data(), length, offset);
        return out;
    }
};
} // namespace

TEST(RawFlash, EraseCoversPartialBlocksRefusalsAndMissingGeometryReturnEightAndLeaveTheDescriptorOpen)
{
    Flash f;
    ASSERT_GE(f.fd, 0);
    // Each erase's result and the blocks erased so far: six, seven more, none.
    EXPECT_EQ((std::vector<int>{Utils::non_region_erase(f.fd, 0, 0x60000, 1), sim::MtdModel::eraseCount("/dev/mtd8"),
                                Utils::non_region_erase(f.fd, 0, 0x60001, 0), sim::MtdModel::eraseCount("/dev/mtd8"),
                                Utils::non_region_erase(f.fd, 0, 0, 0), sim::MtdModel::eraseCount("/dev/mtd8")}),
              (std::vector<int>{0, 6, 0, 13, 0, 13}));
    sim::MtdModel::setUnlockRefused("/dev/mtd8", true);
    EXPECT_TRUE(Utils::non_region_erase(f.fd, 0, 0x10000, 1) == 8 && sim::MtdModel::eraseCount("/dev/mtd8") == 13);
    sim::MtdModel::setUnlockRefused("/dev/mtd8", false);
    sim::MtdModel::setEraseRefused("/dev/mtd8", true);
    const int refused = Utils::non_region_erase(f.fd, 0, 0x10000, 0);
    sim::MtdModel::setEraseRefused("/dev/mtd8", false);
    // The caller's descriptor still works after a refusal.
    board::MtdInfo info;
    EXPECT_EQ((std::vector<int>{refused, Utils::non_region_erase(f.fd, 0, 0x10000, 0), board::MtdDevice::getInfo(f.fd, info)}),
              (std::vector<int>{8, 0, 0}));

    // Missing geometry fails instead of dividing.
    sim::MtdModel::setInfoFails("/dev/mtd8", true);
    unsigned char data[16] = {};
    EXPECT_TRUE(Utils::non_region_erase(f.fd, 0, 0x10000, 0) == 8 && Utils::non_region_write(f.fd, data, 16, 0) == 1);
    sim::MtdModel::setInfoFails("/dev/mtd8", false);
    sim::MtdModel::configure("/dev/mtd8", 1u << 20, 0, 0);
    EXPECT_TRUE(Utils::non_region_erase(f.fd, 0, 0x10000, 0) == 8 && Utils::non_region_write(f.fd, data, 16, 0) == 1);
}

TEST(RawFlash, WriteSplitsIntoPagesAndRemainderAndStopsAtTheEnd)
{
    Flash f(2048);
    ASSERT_EQ(Utils::non_region_erase(f.fd, 0, 0x20000, 0), 0);
    std::vector<uint8_t> image(5000);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = uint8_t(i * 31 + 7);
    // Two pages and 904 bytes; then one write of a whole 10.
    unsigned char small[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ((std::vector<int>{Utils::non_region_write(f.fd, image.data(), int(image.size()), 0x10000), sim::MtdModel::writeCount("/dev/mtd8"),
                                Utils::non_region_write(f.fd, small, 10, 0), sim::MtdModel::writeCount("/dev/mtd8")}),
              (std::vector<int>{0, 3, 0, 4}));
    auto written = image;
    written.insert(written.end(), 4, 0xFF);   // and nothing after it
    EXPECT_EQ(f.read(0x10000, 5004), written);
    std::vector<uint8_t> exact(4096, 0x5A);
    // No remainder write, and nothing written for nothing.
    EXPECT_EQ((std::vector<int>{Utils::non_region_write(f.fd, exact.data(), 4096, 0x4000), sim::MtdModel::writeCount("/dev/mtd8"),
                                Utils::non_region_write(f.fd, exact.data(), 0, 0), sim::MtdModel::writeCount("/dev/mtd8")}),
              (std::vector<int>{0, 6, 0, 6}));
    // Past the end of the partition: refused.
    EXPECT_EQ(Utils::non_region_write(f.fd, exact.data(), 4096, (1 << 20) - 2048), 1);
}
