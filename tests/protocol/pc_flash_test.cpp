// Groups 0x70-0x72: erase, write and read of the FPGA side's configuration flash and the
// scaler's flash (chip 4), with the window of chip 0 and the edges of each range.
#include "tests/protocol/handler_fixture.h"

#include "scaler/c331_drv.h"

#include <tuple>

namespace {

using handler_test::Bytes;
using sim::FpgaFlashModel;

class PcFlash : public handler_test::HandlerFixture {
protected:
    static Bytes addr(uint32_t a, Bytes tail)
    {
        Bytes b;
        pc::put32(b, a);
        b.insert(b.end(), tail.begin(), tail.end());
        return b;
    }
    // Laid out as a RAM write's data.
    static Bytes writeData(uint32_t a, const Bytes& data) { return pc::writeRam(a, data).data; }
};

TEST_F(PcFlash, EraseModesAlignmentAndCount)
{
    FpgaFlashModel::write(0, 0x1000, Bytes(16, 0x00));
    // Chip 2, block 1, 4 KiB sector, count 0 counts as 1: the reply, the sector, the erases.
    EXPECT_EQ((std::tuple<Bytes, Bytes, unsigned>{reply(deal(req(0x70, addr(0x02001000, {1, 0})))), FpgaFlashModel::read(0, 0x1000, 16), FpgaFlashModel::eraseCount(0)}),
              std::make_tuple(Bytes{0}, Bytes(16, 0xFF), 1u));
    // Each request in turn and its status: not 32 KiB aligned, an unknown mode, an address
    // inside a sector; the last block of the part, then one past it; chip 8 is answered and
    // nothing is erased or written; chip 8 is 64 KiB long.
    const std::pair<pc::Frame, int> steps[] = {
        {req(0x70, addr(0x02001000, {2, 1})), 1}, {req(0x70, addr(0x02008000, {3, 1})), 1}, {req(0x70, addr(0x02000800, {1, 1})), 1},
        {req(0x70, addr(0x027FF000, {1, 1})), 0}, {req(0x70, addr(0x027FF000, {1, 2})), 1},
        {req(0x70, addr(0x08000000, {1, 1})), 0}, {req(0x71, writeData(0x08000000, {1, 2})), 0},
        {req(0x70, addr(0x0800F000, {1, 2})), 1}, {req(0x72, addr(0x0800FFFF, {2, 0})), 1},
    };
    for (const auto& [frame, status] : steps)
        EXPECT_EQ(reply(deal(frame)), Bytes{uint8_t(status)}) << int(frame.group) << " " << pc::get32(frame.data.data());
    EXPECT_EQ(FpgaFlashModel::eraseCount(0), 2u);
    EXPECT_EQ(deal(req(0x72, addr(0x0800FFFE, {2, 0}))), 3);
}

TEST_F(PcFlash, ChipZeroIsAWindowMovedDownOnFpgaZerosFlash)
{
    FpgaFlashModel::erase(0);
    EXPECT_EQ(reply(deal(req(0x71, writeData(0x00470000, Bytes(16, 0x11))))), Bytes{1});
    EXPECT_EQ(reply(deal(req(0x71, writeData(0x00480000, {1, 2, 3, 4})))), Bytes{0});
    EXPECT_EQ(FpgaFlashModel::read(0, 0x334000, 4), (Bytes{1, 2, 3, 4}));
    // A range that starts inside the window but ends past it is refused whole.
    EXPECT_EQ(reply(deal(req(0x71, writeData(0x004BFFF8, Bytes(16, 0x22))))), Bytes{1});
    EXPECT_EQ(FpgaFlashModel::read(0, 0x373FF8, 8), Bytes(8, 0xFF));
    EXPECT_EQ(reply(deal(req(0x71, writeData(0x004BFFF8, Bytes(8, 0x22))))), Bytes{0});
    // Erases: the last window block is 1215; blocks 1215 and 1216 reach past it.
    EXPECT_EQ(reply(deal(req(0x70, addr(0x004BF000, {1, 1})))), Bytes{0});
    EXPECT_EQ(reply(deal(req(0x70, addr(0x004BF000, {1, 2})))), Bytes{1});
    EXPECT_EQ(reply(deal(req(0x70, addr(0x004C0000, {1, 1})))), Bytes{1});
    // Reads go through the same window.
    EXPECT_EQ(reply(deal(req(0x72, addr(0x00480000, {4, 0})))), (Bytes{0, 1, 2, 3, 4}));
}

TEST_F(PcFlash, WriteAndReadRoundTripAndTheirBounds)
{
    FpgaFlashModel::erase(0);
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7);
    EXPECT_EQ(reply(deal(req(0x71, writeData(0x020000F0, data)))), Bytes{0});
    Bytes want = {0};
    want.insert(want.end(), data.begin(), data.end());
    EXPECT_EQ(reply(deal(req(0x72, addr(0x020000F0, {0x2C, 0x01})))), want);
    // 256 bytes at the start of chip 2; 2 bytes at its last address do not fit.
    EXPECT_EQ(deal(req(0x72, addr(0x02000000, {0, 1}))), 257);
    EXPECT_EQ(reply(deal(req(0x72, addr(0x027FFFFF, {2, 0})))), Bytes{1});
    // Announced data that is not all in the frame.
    Bytes shortWrite = writeData(0x02000000, Bytes(8, 0));
    shortWrite.resize(shortWrite.size() - 1);
    EXPECT_EQ(reply(deal(req(0x71, shortWrite))), Bytes{1});
    // The FPGA side: sub-device 2 selects the flash behind FPGA 1, which is never opened.
    pc::Frame f = req(0x72, addr(0, {4, 0}), 0x0001);
    f.sub = 2;
    EXPECT_EQ(reply(deal(f)), Bytes{1});
    // So does chip 3 on this controller.
    EXPECT_EQ(reply(deal(req(0x72, addr(0x03000000, {4, 0})))), Bytes{1});
}

TEST_F(PcFlash, ChipFourIsTheScalersFlashUpToWhatTwelveBlockBitsName)
{
    c331_manage* c = c331_manage::p_c331_manage;
    c->c331_fd = c->drv->initialize();
    ASSERT_GE(c->c331_fd, 0);
    EXPECT_EQ(reply(deal(req(0x70, addr(0x04000000, {1, 1})))), Bytes{0});
    EXPECT_EQ((std::vector<Bytes>{reply(deal(req(0x71, writeData(0x04000100, {9, 8, 7})))), sim::ScalerFlashModel::read(0x100, 3)}), (std::vector<Bytes>{{0}, {9, 8, 7}}));
    EXPECT_EQ(reply(deal(req(0x72, addr(0x04000100, {3, 0})))), (Bytes{0, 9, 8, 7}));
    // The last 4 KiB block the request can name, then an erase that would run past it.
    EXPECT_EQ(reply(deal(req(0x70, addr(0x04FFF000, {1, 1})))), Bytes{0});
    EXPECT_EQ(reply(deal(req(0x70, addr(0x04FFF000, {1, 2})))), Bytes{1});
}

} // namespace
