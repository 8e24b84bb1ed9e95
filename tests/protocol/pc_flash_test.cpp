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

// Each request in turn and its reply, then what the flashes hold and how often FPGA 0's was
// erased.
TEST_F(PcFlash, EraseWriteAndReadOfEachChipAtTheEdgesOfItsRange)
{
    c331_manage* c = c331_manage::p_c331_manage;
    c->c331_fd = c->drv->initialize();
    ASSERT_GE(c->c331_fd, 0);
    FpgaFlashModel::erase(0);
    FpgaFlashModel::write(0, 0x1000, Bytes(16, 0x00));
    Bytes data(300), readBack = {0};
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7), readBack.push_back(data[i]);
    Bytes shortWrite = writeData(0x02000000, Bytes(8, 0));
    shortWrite.pop_back();   // announced data that is not all in the frame
    pc::Frame behindFpga1 = req(0x72, addr(0, {4, 0}), 0x0001);
    behindFpga1.sub = 2;     // the flash behind FPGA 1, which is never opened
    const std::pair<pc::Frame, Bytes> steps[] = {
        // Chip 2, block 1, 4 KiB sector, count 0 counts as 1; not 32 KiB aligned, an unknown
        // mode, an address inside a sector; the last block of the part, then one past it.
        {req(0x70, addr(0x02001000, {1, 0})), {0}}, {req(0x70, addr(0x02001000, {2, 1})), {1}},
        {req(0x70, addr(0x02008000, {3, 1})), {1}}, {req(0x70, addr(0x02000800, {1, 1})), {1}},
        {req(0x70, addr(0x027FF000, {1, 1})), {0}}, {req(0x70, addr(0x027FF000, {1, 2})), {1}},
        // Chip 8 is answered and nothing is erased or written; it is 64 KiB long.
        {req(0x70, addr(0x08000000, {1, 1})), {0}}, {req(0x71, writeData(0x08000000, {1, 2})), {0}},
        {req(0x70, addr(0x0800F000, {1, 2})), {1}}, {req(0x72, addr(0x0800FFFF, {2, 0})), {1}},
        // Chip 0, a window on FPGA 0's flash: its last block is 1215 (blocks 1215 and 1216 reach
        // past it); a range that starts inside it but ends past it is refused whole; reads go
        // through the same window.
        {req(0x70, addr(0x004BF000, {1, 1})), {0}}, {req(0x70, addr(0x004BF000, {1, 2})), {1}},
        {req(0x70, addr(0x004C0000, {1, 1})), {1}}, {req(0x71, writeData(0x00470000, Bytes(16, 0x11))), {1}},
        {req(0x71, writeData(0x00480000, {1, 2, 3, 4})), {0}}, {req(0x71, writeData(0x004BFFF8, Bytes(16, 0x22))), {1}},
        {req(0x71, writeData(0x004BFFF8, Bytes(8, 0x33))), {0}}, {req(0x72, addr(0x00480000, {4, 0})), {0, 1, 2, 3, 4}},
        // A round trip on chip 2; 2 bytes at its last address do not fit; a write cut short;
        // FPGA 1's flash, and chip 3 on this controller.
        {req(0x71, writeData(0x020000F0, data)), {0}}, {req(0x72, addr(0x020000F0, {0x2C, 0x01})), readBack},
        {req(0x72, addr(0x027FFFFF, {2, 0})), {1}}, {req(0x71, shortWrite), {1}}, {behindFpga1, {1}},
        {req(0x72, addr(0x03000000, {4, 0})), {1}},
        // Chip 4, the scaler's flash, up to the last 4 KiB block twelve block bits name.
        {req(0x70, addr(0x04000000, {1, 1})), {0}}, {req(0x71, writeData(0x04000100, {9, 8, 7})), {0}},
        {req(0x72, addr(0x04000100, {3, 0})), {0, 9, 8, 7}}, {req(0x70, addr(0x04FFF000, {1, 1})), {0}},
        {req(0x70, addr(0x04FFF000, {1, 2})), {1}},
    };
    for (const auto& [frame, want] : steps)
        EXPECT_EQ(reply(deal(frame)), want) << int(frame.group) << " " << pc::hex(frame.data.data(), 6);
    // The sector chip 2 erased, the erases (two on chip 2, one through the window), chip 0's
    // window 0x14C000 lower with nothing written past its end, the scaler's flash.
    Bytes windowEnd(8, 0x33);
    windowEnd.resize(16, 0xFF);
    EXPECT_EQ(std::make_tuple(FpgaFlashModel::read(0, 0x1000, 16), FpgaFlashModel::eraseCount(0), FpgaFlashModel::read(0, 0x334000, 4),
                              FpgaFlashModel::read(0, 0x373FF8, 16), sim::ScalerFlashModel::read(0x100, 3)),
              std::make_tuple(Bytes(16, 0xFF), 3u, Bytes{1, 2, 3, 4}, windowEnd, Bytes{9, 8, 7}));
    // 256 bytes at the start of chip 2, 2 at the end of chip 8.
    EXPECT_EQ(std::make_pair(deal(req(0x72, addr(0x02000000, {0, 1}))), deal(req(0x72, addr(0x0800FFFE, {2, 0})))),
              std::make_pair(257, 3));
}

} // namespace
