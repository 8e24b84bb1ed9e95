#include "board/sim/Sim.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"
#include "tests/support/TestRoot.h"

#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <tuple>
#include <string>
#include <vector>

namespace {

struct Stored {
    std::string name;
    const unsigned char* image;
};

std::vector<Stored> allStoredImages()
{
    std::vector<Stored> v;
    for (int i = 0; i < 4; ++i)
        v.push_back({"6602 default " + std::to_string(i), velinsource::velin_default_edid_6602[i]});
    for (int i = 0; i < 2; ++i)
        v.push_back({"6805 default " + std::to_string(i), velinsource::velin_default_edid_6805[i]});
    for (int k = 0; k < 8; ++k) {
        v.push_back({"4k preset " + std::to_string(k), velinsource::preset_image(3, k)});
        v.push_back({"1080p preset " + std::to_string(k), velinsource::preset_image(0, k)});
    }
    return v;
}

unsigned sum(const unsigned char* p, int n)
{
    unsigned s = 0;
    for (int i = 0; i < n; ++i)
        s += p[i];
    return s & 0xFF;
}

std::string maker(const unsigned char* e)
{
    unsigned v = unsigned(e[8]) << 8 | e[9];
    std::string s;
    s += char('@' + ((v >> 10) & 0x1F));
    s += char('@' + ((v >> 5) & 0x1F));
    s += char('@' + (v & 0x1F));
    return s;
}

// Text of a display descriptor with the given tag among the four of block 0; "" if none.
std::string descriptorText(const unsigned char* e, uint8_t tag)
{
    for (int d = 54; d < 126; d += 18) {
        if (e[d] == 0 && e[d + 1] == 0 && e[d + 3] == tag) {
            std::string s;
            for (int i = 5; i < 18 && e[d + i] != 0x0A; ++i)
                s += char(e[d + i]);
            return s;
        }
    }
    return "";
}

// A detailed timing: pixel clock (10 kHz), width, horizontal blank, height, vertical blank,
// horizontal front porch and sync, vertical front porch and sync.
struct Dtd {
    int clock, width, hblank, height, vblank, hfp, hsync, vfp, vsync;
    bool operator==(const Dtd& o) const
    {
        return std::tie(clock, width, hblank, height, vblank, hfp, hsync, vfp, vsync)
               == std::tie(o.clock, o.width, o.hblank, o.height, o.vblank, o.hfp, o.hsync, o.vfp, o.vsync);
    }
};

std::ostream& operator<<(std::ostream& os, const Dtd& t)
{
    return os << t.clock << " " << t.width << "+" << t.hblank << " (" << t.hfp << "," << t.hsync << ") "
              << t.height << "+" << t.vblank << " (" << t.vfp << "," << t.vsync << ")";
}

Dtd decode(const unsigned char* d)
{
    return {d[0] | d[1] << 8,
            d[2] | (d[4] >> 4) << 8,
            d[3] | (d[4] & 0x0F) << 8,
            d[5] | (d[7] >> 4) << 8,
            d[6] | (d[7] & 0x0F) << 8,
            d[8] | ((d[11] >> 6) & 3) << 8,
            d[9] | ((d[11] >> 4) & 3) << 8,
            (d[10] >> 4) | ((d[11] >> 2) & 3) << 4,
            (d[10] & 0x0F) | (d[11] & 3) << 4};
}

int productCode(const unsigned char* e) { return e[10] | e[11] << 8; }

// The presets' first timings by index, and the refresh each is chosen for.
const Dtd kPresetTimings[8] = {
    {7425, 1280, 370, 720, 30, 110, 40, 5, 5},   {5405, 1440, 276, 480, 45, 32, 124, 9, 6},
    {9900, 1680, 520, 720, 30, 260, 40, 5, 5},   {14850, 1920, 280, 1080, 45, 88, 44, 4, 5},
    {19800, 2560, 440, 1080, 20, 248, 44, 4, 5}, {10811, 2880, 552, 480, 45, 64, 248, 9, 6},
    {29700, 3840, 560, 2160, 90, 176, 88, 8, 10}, {59400, 3840, 560, 2160, 90, 176, 88, 8, 10}};
const int kPresetRates[8] = {60, 60, 60, 60, 60, 60, 30, 60};

const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

class EdidChoice : public kel_test::EdidFixture {};

} // namespace

TEST(EdidImages, EveryStoredImageHasHeaderExtensionAndBothChecksums)
{
    for (const Stored& s : allStoredImages()) {
        SCOPED_TRACE(s.name);
        ASSERT_NE(s.image, nullptr);
        // Header, one extension block, base checksum, CEA-861 tag and revision 3, extension
        // checksum, and the base block taken as valid.
        EXPECT_EQ((std::vector<int>{std::memcmp(s.image, kHeader, 8), s.image[126], int(sum(s.image, 128)), s.image[128], s.image[129],
                                    int(sum(s.image + 128, 128)), velinsource::edid_block0_valid(s.image)}),
                  (std::vector<int>{0, 1, 0, 0x02, 0x03, 0, 1}));
        // The data block collection ends where the timing area begins.
        int d = s.image[130];
        int at = 132;
        while (at < 128 + d)
            at += 1 + (s.image[at] & 0x1F);
        EXPECT_EQ(at, 128 + d);
    }
}

TEST(EdidImages, DefaultsCarryTheirIdentityAndTimings)
{
    const char* names[4] = {"KEL-EXT", "KEL-DVI", "KEL-HD1", "KEL-HD2"};
    for (int i = 0; i < 4; ++i) {
        const unsigned char* e = velinsource::velin_default_edid_6602[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(std::make_pair(maker(e), productCode(e)), std::make_pair(std::string("VLN"), 0x0001));
        // serial number, week, year, version
        EXPECT_EQ(std::vector<int>(e + 12, e + 20), (std::vector<int>{1, 1, 1, 1, 4, 2018 - 1990, 1, 4}));
        // The name, the first timing, range limits in the second descriptor, the fourth timing.
        EXPECT_EQ(std::make_tuple(descriptorText(e, 0xFC), decode(e + 54), int(e[72 + 3]), decode(e + 90)),
                  std::make_tuple(std::string(names[i]), Dtd{14850, 1920, 280, 1080, 45, 88, 44, 4, 5}, 0xFD,
                                  Dtd{26850, 2560, 160, 1600, 46, 48, 32, 3, 6}));
    }
    EXPECT_EQ((std::vector<const unsigned char*>{velinsource::default_image(0), velinsource::default_image(2),
                                                 velinsource::default_image(3),
                                                 velinsource::default_image(4)}),
              (std::vector<const unsigned char*>{velinsource::velin_default_edid_6602[1], velinsource::velin_default_edid_6602[3],
                                                 velinsource::velin_default_edid_6805[0], nullptr}));

    const unsigned char* hd3 = velinsource::velin_default_edid_6805[0];
    EXPECT_EQ(std::make_pair(maker(hd3), productCode(hd3)), std::make_pair(std::string("KEL"), 0x6805));
    EXPECT_EQ(std::vector<int>(hd3 + 12, hd3 + 20), (std::vector<int>{0x21, 0x43, 0x65, 0x87, 46, 2015 - 1990, 1, 3}));
    EXPECT_EQ((std::vector<std::string>{descriptorText(hd3, 0xFF), descriptorText(hd3, 0xFC),
                                        descriptorText(velinsource::velin_default_edid_6805[1], 0xFC)}),
              (std::vector<std::string>{"KEL_M57HDMI20", "KEL_M57HD3", "KEL_M57HD4"}));
    EXPECT_EQ(decode(hd3 + 54), (Dtd{59400, 3840, 560, 2160, 90, 176, 88, 8, 10}));
}

TEST(EdidImages, PresetsFirstTimingsFollowTheirIndex)
{
    const int codes[8] = {0x41, 0x40, 0x39, 0x43, 0x39, 0x39, 0x38, 0x37};
    for (int k = 0; k < 8; ++k) {
        for (int input : {0, 3}) {
            const unsigned char* e = velinsource::preset_image(input, k);
            SCOPED_TRACE(std::to_string(k) + (input == 3 ? " 4k" : " 1080p"));
            // The first timing, product code, name, serial/week/year/version, data block length.
            EXPECT_EQ(std::make_tuple(decode(e + 54), productCode(e), descriptorText(e, 0xFC), std::vector<int>(e + 12, e + 20), int(e[130])),
                      std::make_tuple(kPresetTimings[k], int(codes[k]), std::string("KEL-HDMI"), std::vector<int>{1, 1, 1, 1, 42, 2024 - 1990, 1, 4},
                                      4 + (input == 3 ? 28 : 18) + 4 + 4 + 8 + 4 + (input == 3 ? 5 : 3)));
        }
    }
    EXPECT_TRUE(velinsource::preset_image(0, 8) == nullptr && velinsource::preset_image(5, 0) == nullptr);
    // The checksum helper adds modulo 256.
    const unsigned char bytes[] = {0x80, 0x90, 0x10};
    EXPECT_EQ((std::vector<int>{velinsource::CalcSum4LCD(0, bytes, 3), velinsource::CalcSum4LCD(5, bytes, 0),
                                velinsource::CalcSum4LCD(7, nullptr, 3)}),
              (std::vector<int>{0x20, 5, 7}));
}

TEST_F(EdidChoice, PresetIsNamedForItsInputAndHdmi3TakesThe4kFamily)
{
    std::vector<unsigned char> stored(edid_table_1080p_3, edid_table_1080p_3 + kEdidSize);
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 0), 0);
    const unsigned char* e = source.edidTable;
    EXPECT_EQ(descriptorText(e, 0xFC), "KEL-DVI");
    // The byte after the name, the product code, the checksum.
    EXPECT_EQ((std::vector<unsigned>{e[121], unsigned(productCode(e)), unsigned(sum(e, 128))}), (std::vector<unsigned>{0x20, 0x0043, 0}));
    for (int i = 0; i < kEdidSize; ++i) {
        if (i < 117 || (i > 121 && i != 127)) {
            ASSERT_EQ(e[i], stored[i]) << i;
        }
    }
    // The stored preset itself is never patched.
    EXPECT_EQ(std::make_pair(std::memcmp(stored.data(), edid_table_1080p_3, kEdidSize), descriptorText(edid_table_1080p_3, 0xFC)),
              std::make_pair(0, std::string("KEL-HDMI")));

    // Each preset is chosen by the mode of its first timing.
    for (int k = 0; k < 8; ++k) {
        const Dtd& t = kPresetTimings[k];
        ASSERT_EQ(source.Set_Custom_HDMI_EDID(t.width, t.height, kPresetRates[k], 1), 0);
        EXPECT_EQ(decode(source.edidTable + 54), t) << k;
    }
    EXPECT_EQ(descriptorText(source.edidTable, 0xFC), "KEL-HD1");
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1280, 720, 60, 2), 0);
    EXPECT_EQ(std::make_pair(descriptorText(source.edidTable, 0xFC), std::memcmp(source.edidTable + 128, edid_table_1080p_0 + 128, 128)),
              std::make_pair(std::string("KEL-HD2"), 0));

    // HDMI3 takes the 4K family and its own product code.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 3), 0);
    e = source.edidTable;
    // Its name, product code, checksum, the 4K family's extension; the stored preset's own code.
    EXPECT_EQ(std::make_tuple(descriptorText(e, 0xFC), productCode(e), sum(e, 128), std::memcmp(e + 128, edid_table_4k_3 + 128, 128),
                              productCode(edid_table_4k_3)),
              std::make_tuple(std::string("KEL-HD3"), 0x0014, 0u, 0, 0x0043));
}

TEST_F(EdidChoice, UnlistedModeGetsAComputedFirstTiming)
{
    // 1920x1080 at 50 Hz on HDMI1: reduced blanking, 50 x 2080 x 1142 / 10000 = 11876.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 50, 1), 0);
    const unsigned char* e = source.edidTable;
    const unsigned char* base = velinsource::velin_default_edid_6602[2];
    EXPECT_EQ(std::make_pair(decode(e + 54), sum(e, 128)), std::make_pair(Dtd{11876, 1920, 160, 1080, 62, 48, 32, 3, 10}, 0u));
    // Only the first descriptor's timing bytes and the checksum differ from the default:
    // its size, borders and flags stay, the second descriptor stays.
    for (int i = 0; i < kEdidSize; ++i) {
        if (i < 54 || (i > 65 && i != 127)) {
            ASSERT_EQ(e[i], base[i]) << i;
        }
    }
    EXPECT_EQ(descriptorText(e, 0xFC), "KEL-HD1");

    // HDMI3 uses the 4K blanking: 60 x 2160 x 1290 / 10000 = 16718. Neither size shares its
    // low byte with the default's 3840 x 2160, so each byte is seen written.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1600, 1200, 60, 3), 0);
    // The checksum; the second descriptor and the stored default untouched.
    EXPECT_EQ(std::make_tuple(decode(source.edidTable + 54), sum(source.edidTable, 128), descriptorText(source.edidTable, 0xFF),
                              decode(velinsource::velin_default_edid_6805[0] + 54).width),
              std::make_tuple(Dtd{16718, 1600, 560, 1200, 90, 176, 88, 8, 10}, 0u, std::string("KEL_M57HDMI20"), 3840));
}

TEST_F(EdidChoice, ModesTheTimingCannotDescribeKeepTheDefaultImage)
{
    struct Case { int w, h, hz, input; };
    const Case refused[] = {
        {4096, 2160, 30, 3},    // 12-bit width field
        {1920, 4096, 30, 0},    // 12-bit height field
        {1920, 1080, 0, 1},     // no refresh
        {0, 1080, 60, 2},
        {3840, 2160, 120, 3},   // 1188 MHz does not fit 16 bits of 10 kHz
        {3559, 4000, 255, 3},   // 42959 MHz, which 32-bit arithmetic would wrap to 0.94 MHz
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "@" + std::to_string(c.hz));
        EXPECT_EQ((std::vector<int>{source.Set_Custom_HDMI_EDID(c.w, c.h, c.hz, c.input),
                                    std::memcmp(source.edidTable, velinsource::default_image(c.input), kEdidSize),
                                    velinsource::edid_block0_valid(source.edidTable)}), (std::vector<int>{1, 0, 1}));
    }
    // The largest clock that fits is still written.
    EXPECT_EQ((std::vector<int>{source.Set_Custom_HDMI_EDID(3600, 2000, 75, 3), int(decode(source.edidTable + 54).clock)}),
              (std::vector<int>{0, 75 * 4160 * 2090 / 10000}));
}

TEST_F(EdidChoice, PcImageIsUsedAsReceivedOncePerArrival)
{
    {
        std::lock_guard<std::mutex> hold(g_edid_ram_table_mutex);
        for (int i = 0; i < kEdidSize; ++i)
            edid_ram_table[2][i] = uint8_t(i * 7);   // not even an EDID: the PC's business
        edid_ram_table_from[2] = 1;
    }
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 2), 0);
    EXPECT_EQ((std::vector<int>{std::memcmp(source.edidTable, edid_ram_table[2], kEdidSize), edid_ram_table_from[2]}), (std::vector<int>{0, 0}));
    // Next time the requested mode decides again.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 2), 0);
    EXPECT_EQ(descriptorText(source.edidTable, 0xFC), "KEL-HD2");

    const unsigned char* before = source.edidTable;
    unsigned char copy[kEdidSize];
    std::memcpy(copy, before, kEdidSize);
    // Refused: the table pointer and its bytes as they were.
    EXPECT_TRUE(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 4) == -1 && source.edidTable == before &&
                std::memcmp(source.edidTable, copy, kEdidSize) == 0);
}
