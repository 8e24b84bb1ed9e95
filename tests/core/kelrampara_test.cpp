#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "scaler/c331_manage.h"
#include "tests/support/LockWaiter.h"
#include "tests/support/TestRoot.h"

#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <tuple>
#include <vector>

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

class ParamBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!c331_manage::p_c331_manage)
            c331_manage::p_c331_manage = new c331_manage();
        c331_manage::p_c331_manage->c331_apply_flag = 0;
        g_lcd_lang_valid = 0x1F;
        g_image_current = 0;
    }
    void TearDown() override { drop(); }
    KelRamPara* fresh()
    {
        drop();
        return KelRamPara::pInstance();
    }
    static void drop()
    {
        delete KelRamPara::p_kelrampara_config;
        KelRamPara::p_kelrampara_config = nullptr;
    }
    static uint8_t flag() { return c331_manage::p_c331_manage->c331_apply_flag; }
    static void clearFlag() { c331_manage::p_c331_manage->c331_apply_flag = 0; }
    std::string paraFile() const { return root.readFile("/data/ram_device_info"); }

    kel_test::TestRoot root;
};

std::string defaultImage() { return std::string(reinterpret_cast<const char*>(default_para_ramlist), 4096); }

uint8_t* layer(KelRamPara* p, int l) { return p->ram + 2272 + 26 * l; }
uint8_t* cropRecord(uint8_t* block, int r) { return block + 1472 + 10 * r; }
using Bytes = std::vector<uint8_t>;
Bytes bytes(const uint8_t* p, size_t n) { return Bytes(p, p + n); }

} // namespace

// --- the block, its file and the start-up clean-up ----------------------------------------

TEST_F(ParamBlock, DefaultImageHoldsTheTabledDefaultsAndNothingElse)
{
    std::vector<uint8_t> want(4096, 0);
    want[0] = want[1] = 0xAA;
    // Consecutive 16-bit words from block offset off (image byte off - 766).
    auto words = [&want](int off, std::initializer_list<int> values) {
        for (int v : values) {
            want[size_t(off - 766)] = uint8_t(v);
            want[size_t(off - 765)] = uint8_t(v >> 8);
            off += 2;
        }
    };
    words(770, {100});
    for (int i = 0; i < 6; ++i)
        words(896 + 6 * i, {i < 4 ? 1920 : 3840, i < 4 ? 1080 : 2160, 60});
    words(1378, {1920, 1080});
    words(1386, {1, 1, 1920, 1080});
    words(1408, {0, 0, 1920, 1080, 0, 0, 1920, 1080});
    for (int k = 0; k < 64; ++k)   // forty crop records and the pattern's 24 more
        words(1472 + 10 * k, {0x0002, 0, 0, k == 62 ? 0 : 1920, 1080});
    words(2176, {100, 50, 10, 50, 2, 64, 64, 64});
    for (int p = 0; p < 16; ++p)
        words(2208 + 2 * p, {p});
    words(2270, {1});
    for (int l = 0; l < 6; ++l)
        words(2272 + 26 * l, {l == 0 ? 1 : 0, 0, 0, 0, 1, 0, 0, 1920, 1080});
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(default_para_ramlist[i], want[size_t(i)]) << "image byte " << i << ", block byte " << i + 766;
}

TEST_F(ParamBlock, FirstStartWritesTheDefaultImageAndCleansTheBlockUp)
{
    g_lcd_lang_valid = 0x2001F;   // bit 0 and bit 17: Simplified Chinese is not offered
    KelRamPara* p = fresh();
    // The language falls back to the first offered one.
    EXPECT_EQ((std::vector<int>{g_lcd_lang_valid, p->ram[768], g_language}), (std::vector<int>{0x1E, 1, 1}));

    // Everything else of 768-4095 is the default image, but the sixteen window entries.
    for (int off = 769; off < 4096; ++off) {
        if (off >= 2816 && off < 2880)
            continue;
        ASSERT_EQ(p->ram[off], default_para_ramlist[off - 766]) << off;
    }
    for (int e = 0; e < 16; ++e)
        EXPECT_EQ(bytes(p->ram + 2816 + 4 * e, 4), (Bytes{60, 0, 60, 0})) << e;
    for (int off = 0; off < 768; ++off)
        ASSERT_EQ(p->ram[off], 0) << off;

    EXPECT_EQ(std::memcmp(p->ram, p->ram_backup, 4096), 0);
    for (int s = 0; s < 16; ++s)
        EXPECT_EQ((std::vector<int>{p->mode_slot[s][0], p->KelUserModeSaved(s)}), (std::vector<int>{0xFF, 0})) << s;
    // The register image's start values; what the start leaves unset is zero.
    std::vector<uint8_t> regs(1064, 0);
    std::fill(regs.begin() + 54, regs.begin() + 1061, 0xFF);
    for (const auto& [at, value] : {std::pair<int, uint8_t>{37, 0x80}, {38, 0x1F}, {39, 0x07}, {53, 0xC3}, {54, 0x10}, {59, 0xC0}})
        regs[size_t(at)] = value;
    EXPECT_EQ(std::vector<uint8_t>(p->reg_image, p->reg_image + 1064), regs);
}

// A file write or a slot load is followed by a 100 ms pause, the steps between slots and of
// a deletion by 100 microseconds; on the virtual clock the pauses add up exactly.
TEST_F(ParamBlock, PausesAfterTheFileWork)
{
    auto micros = [](const std::function<void()>& work) {
        const uint64_t before = sim::SimBoard::virtualMicroseconds();
        work();
        return sim::SimBoard::virtualMicroseconds() - before;
    };
    KelRamPara* p = nullptr;
    EXPECT_EQ(micros([&] { p = fresh(); }), 200000u + 16 * 100u);   // file created, then read
    EXPECT_EQ((std::vector<uint64_t>{micros([&] { EXPECT_EQ(p->mode_file_write(0, 2), 1); }), micros([&] { EXPECT_EQ(p->mode_file_deal(0, 0), 1); }),
                                     micros([&] { EXPECT_EQ(p->mode_file_deal(0, 1), 0); })}),
              (std::vector<uint64_t>{100100, 100000, 300}));
    KelRamPara::put16(p->ram + 2176, 1);
    EXPECT_EQ(micros([&] { static_cast<void>(p->ram_para_file_save()); }), 0u);   // on the GUI thread: no pause
    EXPECT_EQ(micros([&] { p = fresh(); }), 100000u + 16 * 100u);   // file read
}

TEST_F(ParamBlock, StoredFileIsLoadedAndTheVolatileStateCleared)
{
    std::string file = defaultImage();
    auto at = [&file](int off) -> char& { return file[size_t(off - 766)]; };
    at(768) = 3;                                         // Vietnamese, offered by 0x1F
    at(2272 + 18) = 0x03;                                // layer 0 black and frozen
    at(2272 + 26 * 5 + 18) = 0x02;                       // layer 5 frozen
    at(2116) = 1;                                        // screen dark
    at(864) = 5;                                         // test pattern
    at(865) = 9;
    at(866) = 7;                                         // current mode 7
    at(868) = 2;
    at(869) = 4;
    at(1376) = 9;                                        // panel mode
    at(2817) = 0x33;
    at(1472 + 30) = 0x01;                                // record 3: in use, port 1, crop 1
    at(1472 + 31) = char(0x80);
    root.writeFile("/data/ram_device_info", file);

    KelRamPara* p = fresh();
    // Language byte and global, the two layers' output words, the screen-dark word.
    EXPECT_EQ((std::vector<int>{p->ram[768], g_language, le16(layer(p, 0) + 18), le16(layer(p, 5) + 18), le16(p->ram + 2116)}),
              (std::vector<int>{3, 3, 0x01, 0x00, 0}));
    EXPECT_EQ(bytes(p->ram + 864, 6), (Bytes{0, 0, 0, 0, 2, 0}));
    EXPECT_EQ(le16(p->ram + 1376), 0);
    EXPECT_EQ(bytes(p->ram + 2816, 2), (Bytes{60, 0x33}));
    EXPECT_EQ((std::vector<int>{g_cut_source_state[1 * 5], p->KelGetCropID(1, 1)}), (std::vector<int>{0x01, 1}));
}

TEST_F(ParamBlock, FileWithABadMarkerOrTooShortIsReplacedByTheDefaults)
{
    // A file with 42 at block word 900 and 2176, cut to a length and with a second marker
    // byte: the two words loaded, and whether the file is replaced by the default image.
    // 3330 bytes (marker and block 768-4095) make a whole file; one byte less does not.
    for (const auto& [length, marker, loaded, replaced] : std::vector<std::tuple<size_t, char, int, bool>>{
             {4096, 0x55, 60 + 100 * 256, true}, {1000, char(0xAA), 60 + 100 * 256, true},
             {3330, char(0xAA), 42 + 42 * 256, false}, {3329, char(0xAA), 60 + 100 * 256, true}}) {
        std::string file = defaultImage().substr(0, length);
        file[1] = marker;
        for (size_t at : {2 + 900 - 768, 2 + 2176 - 768})
            if (at < length)
                file[at] = 42;
        root.writeFile("/data/ram_device_info", file);
        KelRamPara* p = fresh();
        EXPECT_EQ((std::vector<int>{le16(p->ram + 900) + 256 * le16(p->ram + 2176), paraFile() == defaultImage()}),
                  (std::vector<int>{loaded, replaced})) << length;
    }
}

TEST_F(ParamBlock, SavedBytesRoundTripThroughTheFileAndTheRestDoesNotUntilAReset)
{
    KelRamPara* p = fresh();
    EXPECT_EQ(p->ram_para_file_save(), 0);   // nothing changed
    // A PC write to the volatile bytes (up to 767) is never saved and holds no save back; one
    // that reaches byte 768 waits for the scaler's apply.
    const uint8_t pc[2] = {0x5A, 2};
    EXPECT_EQ((std::vector<int>{p->KelRamParaDeal(pc, 1, 767), p->ram_para_file_save()}), (std::vector<int>{0, 0}));
    p->ram[4095] = 0xEE;
    EXPECT_EQ((std::vector<int>{p->ram_para_file_save(), p->KelRamParaDeal(pc, 2, 767)}), (std::vector<int>{1, 0}));
    KelRamPara::put16(p->ram + 2176, 77);
    EXPECT_EQ((std::vector<int>{p->ram_para_file_save(), uint8_t(paraFile()[2 + 2176 - 768])}), (std::vector<int>{0, 100}));
    p->pc_edit_pending = 0;                   // the scaler applied it
    // Saved, the copy follows, and a second save finds nothing to do.
    EXPECT_EQ((std::vector<int>{p->ram_para_file_save(), std::memcmp(p->ram, p->ram_backup, 4096), p->ram_para_file_save()}),
              (std::vector<int>{1, 0, 0}));
}

TEST_F(ParamBlock, PcRamWritesAreBoundedAtTheEndOfTheBlockAndOfTheirSlot)
{
    KelRamPara* p = fresh();
    const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ((std::vector<int>{p->KelRamParaDeal(data, 6, 4090), p->ram[4095]}), (std::vector<int>{0, 6}));
    std::memset(p->ram + 4088, 0, 8);
    // One byte past the end, nothing at the end, one byte at the end, an address + length
    // that would wrap a 32-bit sum, the first byte.
    EXPECT_EQ((std::vector<int>{p->KelRamParaDeal(data, 7, 4090), p->ram[4090], p->KelRamParaDeal(data, 0, 4096),
                                p->KelRamParaDeal(data, 1, 4096),
                                p->KelRamParaDeal(data, 8, 0xFFFFFFFCu), p->KelRamParaDeal(data, 1, 0), p->ram[0]}),
              (std::vector<int>{1, 0, 0, 1, 1, 0, 1}));
    // The copy itself does not ask the scaler to apply; the PC's register command does.
    EXPECT_EQ(flag(), 0);

    // User-mode writes stay inside their slot.
    const uint8_t mode[4] = {0xAA, 0xAA, 0x11, 0x22};
    for (uint32_t noSlot : {0x0000, 0x11000, 0x101000})   // M = 0, 17, 257
        EXPECT_EQ(p->KelModeUserRamParaDeal(mode, 2, noSlot), 1) << noSlot;
    EXPECT_EQ(p->KelModeUserRamParaDeal(mode, 4, 0x10000), 0);  // M = 16 -> slot 15
    EXPECT_EQ(bytes(p->mode_slot[15], 4), (Bytes{0xAA, 0xAA, 0x11, 0x22}));
    EXPECT_EQ(p->KelUserModeSaved(15), 1);
    // The last bytes of a slot: 4095 + 3 = 4098 fits, one more does not.
    EXPECT_EQ((std::vector<int>{p->KelModeUserRamParaDeal(mode, 3, 0x1FFF), p->mode_slot[0][4097],
                                p->KelModeUserRamParaDeal(mode, 4, 0x2FFF),
                                p->mode_slot[1][4095], p->mode_slot[2][0]}),
              (std::vector<int>{0, 0x11, 1, 0, 0xFF}));
}

// --- user modes --------------------------------------------------------------------------

TEST_F(ParamBlock, ModeFilesAreWrittenWithTheOverlayCopyAndDeletedWithIt)
{
    // Saved with the overlay copy, deleted with it, refused: StoreWalk.
    KelRamPara* p = fresh();
    root.writeFile("/data/configs/omenu.json", "{\"osd\":1}");
    KelRamPara::put16(p->ram + 2124, 2);   // on as any word but 0: copied
    EXPECT_EQ(p->mode_file_write(4, 0), 1);
    KelRamPara::put16(p->ram + 2124, 1);
    EXPECT_EQ(p->mode_file_write(5, 2), 1);      // flag 2: no overlay copy
    EXPECT_EQ((std::vector<bool>{root.exists("/data/modes/MO05.json"), root.exists("/data/modes/MO06.json")}), (std::vector<bool>{true, false}));
    EXPECT_EQ(p->mode_file_write(16, 0), 0);

    // Deleting a mode removes its files (the overlay copy only where the slot's own overlay
    // word is on) and empties the slot.
    root.writeFile("/data/modes/MO03.json", "a");
    root.writeFile("/data/modes/MO04.json", "b");
    KelRamPara::put16(p->mode_slot[2] + 1230, 1);
    ASSERT_EQ(p->mode_file_write(2, 2), 1);
    ASSERT_EQ(p->mode_file_write(3, 2), 1);       // overlay word 0 in this slot

    // The result, both files, the slot's marker and its overlay word.
    EXPECT_EQ((std::vector<int>{p->mode_file_deal(2, 1), root.exists("/data/modes/custom_mode3"), root.exists("/data/modes/MO03.json"),
                                p->mode_slot[2][0], p->mode_slot[2][1], le16(p->mode_slot[2] + 1230)}),
              (std::vector<int>{0, 0, 0, 0xFF, 0xFF, 0}));

    EXPECT_EQ((std::vector<int>{p->mode_file_deal(3, 1), root.exists("/data/modes/custom_mode4"), root.exists("/data/modes/MO04.json"),
                                p->KelUserModeSaved(3)}),
              (std::vector<int>{0, 0, 1, 0}));
}

// A short, foreign, empty or cut mode file does not count as saved: StoreWalk. One holding
// exactly the marker and the 3200 stored bytes is complete: the tail is not needed.
TEST_F(ParamBlock, AModeFileOfTheStoredBytesAloneIsSavedAndFilesOfNoSlotAreNot)
{
    std::string whole(2 + 3200, char(0x22));
    whole[0] = whole[1] = char(0xAA);
    root.writeFile("/data/modes/custom_mode4", whole);
    KelRamPara* p = fresh();
    EXPECT_EQ((std::vector<int>{p->KelUserModeSaved(2), p->KelUserModeSaved(3), p->mode_slot[3][3201], p->KelUserModeIndex(2, 2)}),
              (std::vector<int>{0, 1, 0x22, 3}));
    // Files of modes 0 and 17 are no slot's.
    root.writeFile("/data/modes/custom_mode0", std::string(4096, char(0xAA)));
    root.writeFile("/data/modes/custom_mode17", std::string(4096, char(0xAA)));
    EXPECT_EQ((std::vector<int>{p->mode_file_deal(-1, 0), p->mode_file_deal(16, 0), p->mode_file_write(-1, 2)}),
              (std::vector<int>{0, 0, 0}));
}

TEST_F(ParamBlock, UserModeIndexWalksTheCircle)
{
    KelRamPara* p = fresh();
    EXPECT_EQ((std::vector<int>{p->KelUserModeIndex(5, 1), p->KelUserModeIndex(16, 2)}), (std::vector<int>{256, 256}));
    p->mode_slot[5][0] = p->mode_slot[5][1] = 0xAA;
    EXPECT_EQ((std::vector<int>{p->KelUserModeIndex(5, 1), p->KelUserModeIndex(5, 0), p->KelUserModeIndex(5, 2)}),
              (std::vector<int>{5, 5, 5}));
    p->mode_slot[2][0] = p->mode_slot[2][1] = 0xAA;
    p->mode_slot[12][0] = p->mode_slot[12][1] = 0xAA;
    // {from, direction, found}: up from 12 wraps to 0, down from 2 wraps to 15.
    const int walks[][3] = {{5, 1, 12}, {12, 1, 2}, {5, 0, 2},  {2, 0, 12},
                            {6, 2, 12}, {16, 1, 2}, {16, 0, 12}, {16, 3, 256}};
    for (const auto& w : walks)
        EXPECT_EQ(p->KelUserModeIndex(w[0], w[1]), w[2]) << w[0] << " " << w[1];
    EXPECT_EQ(p->KelUserModeSaved(16), 0);
    KelRamPara::put16(p->ram + 866, 16);
    EXPECT_EQ(p->KelGetCurrentModeIndex(), 16);
    KelRamPara::put16(p->ram + 866, 17);
    EXPECT_EQ(p->KelGetCurrentModeIndex(), 0);
}

// --- crops ---------------------------------------------------------------------------------

TEST_F(ParamBlock, CropsAreAddedChangedAndDeletedByNumber)
{
    KelRamPara* p = fresh();
    CROP_PARA c{0, 10, 20, 300, 400};
    for (int i = 0; i < 4; ++i) {
        c.x = 10 + i;
        ASSERT_EQ(p->KelAddNewCrop(2, &c), 0);
        p->KelCropSourceInit();
    }
    EXPECT_EQ((std::vector<int>{flag(), le16(cropRecord(p->ram, 0))}), (std::vector<int>{1, 0x8002}));
    // Record 3: in use, crop number 4 of port 2; x 13, y 20, 300 x 400.
    EXPECT_EQ(bytes(cropRecord(p->ram, 3), 10), (Bytes{0x02, 0x83, 13, 0, 20, 0, 0x2C, 0x01, 0x90, 0x01}));
    EXPECT_EQ((std::vector<int>{p->KelGetSourceNum(2, 40), p->KelGetSourceNum(2, 2), p->KelGetSourceNum(2, 0)}),
              (std::vector<int>{4, 2, 0}));

    clearFlag();
    p->KelDeleteCrop(2, 3);                     // crop number 3, record 2
    p->KelCropSourceInit();
    EXPECT_EQ((std::vector<int>{flag(), le16(cropRecord(p->ram, 2)), p->KelGetCropID(2, 3), p->KelGetCropID(2, 4), p->KelAddCropID(2)}),
              (std::vector<int>{1, 0, 4, 0, 3}));

    CROP_PARA got{};
    int index = -1;
    p->KelGetCropPara(2, 3, &got, &index);
    EXPECT_EQ((std::vector<int>{index, got.id, got.x, got.y, got.width, got.height}), (std::vector<int>{3, 0x8302, 13, 20, 300, 400}));

    // A changed rectangle waits for the next raise of the flag.
    clearFlag();
    CROP_PARA moved{0x1234, 1, 2, 3, 4};
    p->KelSetCropPara(2, 3, &moved);
    EXPECT_EQ(std::make_pair(flag(), bytes(cropRecord(p->ram, 3), 10)), std::make_pair(uint8_t(0), Bytes{0x02, 0x83, 1, 0, 2, 0, 3, 0, 4, 0}));

    // The next new crop takes the free number 3 and the first free record.
    ASSERT_EQ(p->KelAddNewCrop(2, &c), 0);
    EXPECT_EQ(le16(cropRecord(p->ram, 2)), 0x8202);
}

TEST_F(ParamBlock, NoCropIsAddedWhenAllFortyRecordsAreUsed)
{
    KelRamPara* p = fresh();
    CROP_PARA c{0, 1, 1, 100, 100};
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(p->KelAddNewCrop(0, &c), 0) << i;
        p->KelCropSourceInit();
    }
    EXPECT_EQ((std::vector<int>{p->KelAddCropID(0), le16(cropRecord(p->ram, 39)), p->KelGetCropID(0, 40)}),
              (std::vector<int>{0, 0x8000 | (39 << 8), 40}));
    uint8_t before[4096];
    std::memcpy(before, p->ram, 4096);
    clearFlag();
    // Refused for port 0, and for port 1 with free numbers but no free record; nothing changed.
    EXPECT_EQ((std::vector<int>{p->KelAddNewCrop(0, &c), p->KelAddNewCrop(1, &c), std::memcmp(before, p->ram, 4096), flag()}),
              (std::vector<int>{1, 1, 0, 0}));
}

TEST_F(ParamBlock, CropLookupsStayInsideTheirTablesAndLeaveNothingUninitialised)
{
    KelRamPara* p = fresh();
    CROP_PARA c{7, 7, 7, 7, 7};
    int index = -1;
    p->KelGetCropPara(1, 1, &c, &index);
    EXPECT_EQ(index, 40);
    // Left as the caller filled it.
    EXPECT_EQ((std::vector<int>{c.id, c.x, c.y, c.width, c.height}), std::vector<int>(5, 7));
    // No port 9, -1 or 6: nothing found, nothing added, refused like a full table.
    EXPECT_EQ((std::vector<int>{p->KelGetCropID(9, 1), p->KelGetCropID(-1, 1), p->KelAddCropID(6), p->KelAddNewCrop(6, &c),
                                p->KelAddNewCrop(0, nullptr)}),
              (std::vector<int>{0, 0, 0, 1, 1}));

    // Records outside the bitmap are skipped.
    KelRamPara::put16(cropRecord(p->ram, 0), 0x8009);            // port 9
    KelRamPara::put16(cropRecord(p->ram, 1), 0x8000 | (99 << 8)); // crop number 100, port 0
    KelRamPara::put16(cropRecord(p->ram, 2), 0x8000 | (39 << 8) | 5);
    p->KelCropSourceInit();
    // Only port 5's crop 40 is in the bitmap.
    EXPECT_EQ((std::make_tuple(Bytes(g_cut_source_state, g_cut_source_state + 25), g_cut_source_state[29], p->KelGetCropID(5, 1))),
              std::make_tuple(Bytes(25, 0), uint8_t(0x80), 40));

    // A slot whose layer names crop record 45 does not read beyond the records.
    uint8_t* stored = p->mode_slot[0] + 2;
    KelRamPara::put16(stored + 2272 + 8 - 896, 0x8000 | 45);
    int16_t isCrop = -1;
    char idx = 0;
    EXPECT_EQ((std::vector<int>{p->KelGetImageSource(stored, 0, &isCrop, &idx, 1), isCrop}), (std::vector<int>{0, 0}));
    // A slot's layer takes its crop from the slot's own record, not the live block's.
    stored = p->mode_slot[7] + 2;
    KelRamPara::put16(stored + 2272 + 26 * 2 + 8 - 896, 0x8004);
    KelRamPara::put16(stored + 1472 + 40 - 896, 0x8003);      // record 4 of the slot: port 3
    KelRamPara::put16(cropRecord(p->ram, 4), 0x8001);         // the live block says port 1
    EXPECT_EQ(p->KelGetImageSource(stored, 2, &isCrop, &idx, 1), 3);
    EXPECT_EQ((std::vector<int>{isCrop, idx}), (std::vector<int>{1, 4}));
}

// --- layer source, freeze and black --------------------------------------------------------

TEST_F(ParamBlock, SourceSelectionWritesTheLayerAndClearsTheCurrentMode)
{
    KelRamPara* p = fresh();
    KelRamPara::put16(p->ram + 866, 4);
    KelRamPara::put16(p->ram_backup + 866, 4);
    p->KelSetImageSource(0, 3, 1);
    EXPECT_EQ((std::vector<int>{le16(layer(p, 1) + 8), le16(p->ram + 866), le16(p->ram_backup + 866), flag()}), (std::vector<int>{3, 0, 0, 1}));

    // A mode change still pending keeps the word.
    KelRamPara::put16(p->ram + 866, 6);
    p->KelSetImageSource(0, 2, 1);
    EXPECT_EQ(le16(p->ram + 866), 6);

    CROP_PARA c{0, 5, 5, 50, 50};
    EXPECT_EQ(p->KelAddNewCrop(2, &c), 0);
    p->KelCropSourceInit();
    EXPECT_EQ(p->KelAddNewCrop(2, &c), 0);
    p->KelCropSourceInit();
    p->KelSetImageSource(2, 2, 0);
    EXPECT_EQ(le16(layer(p, 0) + 8), 0x8001);
    int16_t isCrop = 0;
    char idx = 0;
    EXPECT_EQ(p->KelGetImageSource(p->ram, 0, &isCrop, &idx, 0), 2);
    EXPECT_EQ((std::vector<int>{isCrop, idx}), (std::vector<int>{1, 1}));

    // A crop that does not exist leaves the layer without a source.
    clearFlag();
    KelRamPara::put16(p->ram + 866, 4), KelRamPara::put16(p->ram_backup + 866, 4);
    p->KelSetImageSource(5, 2, 0);
    EXPECT_EQ((std::vector<int>{le16(layer(p, 0) + 8), le16(p->ram + 866), flag()}), (std::vector<int>{0, 0, 1}));
    clearFlag();
    p->KelSetImageSource(0, 2, 6);               // no layer 6
    EXPECT_EQ(flag(), 0);
}

TEST_F(ParamBlock, FreezeAndSourceOnOnlyForEnabledLayersBlackOnAny)
{
    KelRamPara* p = fresh();
    g_image_current = 1;                       // disabled by default
    p->KelSetImageFreeze();
    EXPECT_EQ((std::vector<int>{le16(layer(p, 1) + 18), flag()}), (std::vector<int>{0, 1}));
    clearFlag();
    p->KelSetImageBlack();
    EXPECT_EQ((std::vector<int>{le16(layer(p, 1) + 18), flag()}), (std::vector<int>{1, 1}));

    g_image_current = 0;                       // enabled
    p->KelSetImageFreeze();
    EXPECT_EQ(le16(layer(p, 0) + 18), 2);
    p->KelSetImageFreeze();
    EXPECT_EQ(le16(layer(p, 0) + 18), 0);

    // A source is on when an enabled layer shows it; layer 0 (enabled) shows port 1 by default.
    EXPECT_EQ((std::vector<int>{p->KelSourceId_is_on(1), p->KelSourceId_is_on(3)}), (std::vector<int>{1, 0}));
    KelRamPara::put16(layer(p, 4), 1);
    KelRamPara::put16(cropRecord(p->ram, 6), 0x8003);
    KelRamPara::put16(layer(p, 4) + 8, 0x8006);
    EXPECT_EQ(p->KelSourceId_is_on(3), 1);
    KelRamPara::put16(layer(p, 4), 0);
    EXPECT_EQ(p->KelSourceId_is_on(3), 0);
    // Port 5 has device number 0.
    KelRamPara::put16(layer(p, 0) + 8, 5);
    EXPECT_EQ(p->KelSourceId_is_on(0), 1);
}

TEST_F(ParamBlock, EdidRequestAndLanguageFallBack)
{
    KelRamPara* p = fresh();
    p->KelSetEDIDPara(5, 2560, 1440, 75);
    p->KelSetEDIDPara(0, 1280, 720, 50);
    // 2560 x 1440 at 75, 1280 x 720 at 50, and the scaler asked to apply.
    EXPECT_EQ(std::make_tuple(bytes(p->ram + 926, 6), bytes(p->ram + 896, 6), flag()),
              std::make_tuple(Bytes{0x00, 0x0A, 0xA0, 0x05, 75, 0}, Bytes{0x00, 0x05, 0xD0, 0x02, 50, 0}, uint8_t(1)));
    uint8_t before[4096];
    std::memcpy(before, p->ram, 4096);
    p->KelSetEDIDPara(6, 1, 1, 1);
    EXPECT_EQ(std::memcmp(before, p->ram, 4096), 0);

    g_lcd_lang_valid = 0x1E;
    EXPECT_EQ(p->KelLanguageChanged(), 0);
    p->ram[768] = 2;
    EXPECT_EQ((std::vector<int>{p->KelLanguageChanged(), g_language}), (std::vector<int>{1, 2}));
    p->ram[768] = 0;
    p->ram[769] = 5;
    EXPECT_EQ(p->KelLanguageChanged(), 1);
    EXPECT_EQ((std::vector<int>{p->ram[768], p->ram[769], g_language}), (std::vector<int>{1, 0, 1}));
    g_lcd_lang_valid = 0x60;                     // no language 0-4 offered
    p->ram[768] = 4;
    EXPECT_EQ(p->KelLanguageChanged(), 1);
    EXPECT_EQ((std::vector<int>{p->ram[768], g_language}), (std::vector<int>{4, 4}));

    // At a start only a mask with both bit 0 and bit 17 is cut to its bits 1-15.
    for (const auto& [mask, kept] : {std::pair<int, int>{0x3001D, 0x1C}, {0x2001E, 0x2001E}, {0x1001F, 0x1001F}}) {
        g_lcd_lang_valid = mask;
        fresh();
        EXPECT_EQ(g_lcd_lang_valid, kept) << std::hex << mask;
    }
}

TEST_F(ParamBlock, NotificationCarriesItsCode)
{
    KelRamPara* p = fresh();
    std::vector<int> codes;
    QObject::connect(p, &KelRamPara::sig_update_para, [&codes](int c) { codes.push_back(c); });
    EXPECT_EQ((std::vector<int>{p->test_signal(12), p->ram_para_save()}), (std::vector<int>{1, 1}));
    EXPECT_EQ(codes, (std::vector<int>{12, 1}));
}

TEST_F(ParamBlock, ScreenReadsOfTheBlockWaitForAPcWriteAndStayInsideTheBlock)
{
    KelRamPara* p = fresh();
    // Crop record 2: port 1's crop number 1 at (5, 6) 640 x 480; window 1 (layer at 2298)
    // shows it.
    const uint8_t crop[10] = {0x01, 0x80, 5, 0, 6, 0, 0x80, 0x02, 0xE0, 0x01};
    std::memcpy(cropRecord(p->ram, 2), crop, sizeof crop);
    KelRamPara::put16(p->ram + 2298 + 8, 0x8002);
    std::memcpy(p->ram_backup, p->ram, sizeof p->ram);
    p->KelCropSourceInit();

    uint8_t out[10] = {};
    int16_t isCrop = 0;
    char index = 0;
    CROP_PARA para{0, 0, 0, 0, 0}, fresh{0, 7, 7, 70, 70};
    int record = 0, added = -1;
    const std::function<void()> readers[] = {
        [&] { p->copy_bytes(1492, out, 10); },
        [&] { p->changed_bytes(1492, 10); },
        [&] { p->KelCropSourceInit(); },
        [&] { p->KelGetSourceNum(1, 40); },
        [&] { p->KelGetCropPara(1, 1, &para, &record); },
        [&] { p->live_image_source(1, &isCrop, &index); },
        [&] { p->locked16(1492); },
        [&] { added = p->KelAddNewCrop(3, &fresh); },   // never takes the record the PC fills meanwhile
    };
    for (const auto& read : readers) {
        std::unique_lock<std::mutex> pcWrite = KelRamPara::lock_block();
        kel_test::LockWaiter reader(read);
        std::string why;
        EXPECT_TRUE(reader.waitsOnLock(&why)) << why;
        KelRamPara::put16(cropRecord(p->ram, 0), 0x8004);   // the PC's write: port 4's crop 1
        pcWrite.unlock();
    }
    EXPECT_EQ(std::make_pair(added, bytes(cropRecord(p->ram, 1), 4)), std::make_pair(0, Bytes{0x03, 0x80, 7, 0}));
    EXPECT_EQ(std::vector<uint8_t>(out, out + 10), std::vector<uint8_t>(crop, crop + 10));
    EXPECT_EQ((std::vector<int>{p->KelGetSourceNum(1, 40), record, para.width, p->live_image_source(1, &isCrop, &index)}),
              (std::vector<int>{1, 2, 640, 1}));
    EXPECT_EQ((std::vector<int>{isCrop, index}), (std::vector<int>{1, 2}));

    EXPECT_FALSE(p->changed_bytes(1492, 10));
    p->ram[1501] = 0x02;
    EXPECT_EQ((std::vector<bool>{p->changed_bytes(1492, 10), p->changed_bytes(1502, 10)}), (std::vector<bool>{true, false}));
    // Ranges that leave the block read nothing.
    uint8_t untouched[4] = {9, 9, 9, 9};
    p->copy_bytes(4094, untouched, 4);
    p->copy_bytes(-2, untouched, 4);
    EXPECT_EQ((std::vector<int>{untouched[0], untouched[3]}), (std::vector<int>{9, 9}));
    EXPECT_FALSE(p->changed_bytes(4090, 7));
    p->copy_bytes(4092, untouched, 4);   // the last four bytes are in
    EXPECT_EQ(untouched[0], p->ram[4092]);
}
