// Group 0xC1: an input's EDID record stored, handed to the input side and read back.
#include "tests/protocol/handler_fixture.h"

#include "core/config_engine.h"
#include "sources/velinsource.h"

namespace {

using handler_test::Bytes;

class PcEdid : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        for (auto& f : edid_ram_table_from)
            f = 0;
        velinsource::pInstance();
    }
    void TearDown() override
    {
        delete velinsource::p_velin_source;
        HandlerFixture::TearDown();
    }
    static Bytes writeReq(uint16_t input, const Bytes& rec, uint16_t L)
    {
        Bytes d = {1, uint8_t(input), uint8_t(input >> 8), 0, 0, 0, 0, uint8_t(L), uint8_t(L >> 8)};
        d.insert(d.end(), rec.begin(), rec.end());
        return d;
    }
};

// A record of 288 bytes: 1920x1080 at 60 Hz in its head.
TEST_F(PcEdid, RecordStoredHandedOverAndReadBackOrRefused)
{
    Bytes rec(288);
    for (size_t i = 0; i < rec.size(); ++i)
        rec[i] = uint8_t(i ^ 0x5C);
    std::copy_n(Bytes{0x80, 0x07, 0x38, 0x04, 60, 0}.begin(), 6, rec.begin() + 2);
    c331_manage::p_c331_manage->c331_apply_flag = 0;
    EXPECT_EQ(reply(deal(req(0xC1, writeReq(2, rec, 288)))), (Bytes{0, 1}));
    // The file, the image after the record's head and where it came from, the input's
    // requested timing, the scaler's apply.
    EXPECT_EQ(std::make_tuple(root.readFile("/data/edidramtable/0002.bin"), Bytes(edid_ram_table[2], edid_ram_table[2] + 256), int(edid_ram_table_from[2]),
                              Bytes(para()->ram + 908, para()->ram + 914), int(c331_manage::p_c331_manage->c331_apply_flag)),
              std::make_tuple(std::string(rec.begin(), rec.end()), Bytes(rec.begin() + 32, rec.end()), 1, Bytes{0x80, 0x07, 0x38, 0x04, 60, 0}, 1));
    Bytes want = {0, 2, 2, 0, 32, 0, 32, 1};
    want.insert(want.end(), rec.begin(), rec.end());
    EXPECT_EQ(reply(deal(req(0xC1, {2, 2, 0}))), want);

    EXPECT_EQ(reply(deal(req(0xC1, writeReq(4, rec, 288)))), (Bytes{2, 1}));
    // A record of the wrong length, or one cut short in the frame, is not stored: status 1
    // (2 would say the input does not exist).
    EXPECT_EQ(reply(deal(req(0xC1, writeReq(1, Bytes(rec.begin(), rec.begin() + 200), 200)))), (Bytes{1, 1}));
    EXPECT_EQ(reply(deal(req(0xC1, writeReq(1, Bytes(rec.begin(), rec.begin() + 200), 288)))), (Bytes{1, 1}));
    EXPECT_EQ(std::make_pair(root.exists("/data/edidramtable/0001.bin"), int(edid_ram_table_from[1])), std::make_pair(false, 0));
    EXPECT_EQ(reply(deal(req(0xC1, {2, 1, 0}))), (Bytes{0, 2, 1, 0, 0, 0, 0, 0}));
    // A stored record cut short reads as not found.
    root.writeFile("/data/edidramtable/0003.bin", std::string(100, 'x'));
    EXPECT_EQ(reply(deal(req(0xC1, {2, 3, 0}))), (Bytes{0, 2, 3, 0, 0, 0, 0, 0}));
}

} // namespace
