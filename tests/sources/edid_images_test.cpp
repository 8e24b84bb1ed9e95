#include "board/sim/Sim.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"
#include "tests/support/TestRoot.h"

#include <cstring>
#include <gtest/gtest.h>
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

struct Dtd {
    int clock, width, hblank, height, vblank, hfp, hsync, vfp, vsync;
};

Dtd decode(const unsigned char* d)
{
    Dtd t;
    t.clock = d[0] | d[1] << 8;
    t.width = d[2] | (d[4] >> 4) << 8;
    t.hblank = d[3] | (d[4] & 0x0F) << 8;
    t.height = d[5] | (d[7] >> 4) << 8;
    t.vblank = d[6] | (d[7] & 0x0F) << 8;
    t.hfp = d[8] | ((d[11] >> 6) & 3) << 8;
    t.hsync = d[9] | ((d[11] >> 4) & 3) << 8;
    t.vfp = (d[10] >> 4) | ((d[11] >> 2) & 3) << 4;
    t.vsync = (d[10] & 0x0F) | (d[11] & 3) << 4;
    return t;
}

int productCode(const unsigned char* e) { return e[10] | e[11] << 8; }

const unsigned char kHeader[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

class EdidChoice : public kel_test::EdidFixture {};

} // namespace

TEST(EdidImages, EveryStoredImageHasHeaderExtensionAndBothChecksums)
{
    for (const Stored& s : allStoredImages()) {
        SCOPED_TRACE(s.name);
        ASSERT_NE(s.image, nullptr);
        EXPECT_EQ(std::memcmp(s.image, kHeader, 8), 0);
        EXPECT_EQ(s.image[126], 1) << "one extension block";
        EXPECT_EQ(sum(s.image, 128), 0u) << "base block checksum";
        EXPECT_EQ(s.image[128], 0x02) << "CEA-861 extension tag";
        EXPECT_EQ(s.image[129], 0x03) << "CEA-861 revision 3";
        EXPECT_EQ(sum(s.image + 128, 128), 0u) << "extension checksum";
        EXPECT_TRUE(velinsource::edid_block0_valid(s.image));
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
        EXPECT_EQ(maker(e), "VLN");
        EXPECT_EQ(productCode(e), 0x0001);
        EXPECT_EQ(e[16], 4);
        EXPECT_EQ(e[17] + 1990, 2018);
        EXPECT_EQ(e[18], 1);
        EXPECT_EQ(e[19], 4);
        EXPECT_EQ(descriptorText(e, 0xFC), names[i]);
        Dtd first = decode(e + 54);
        EXPECT_EQ(first.width, 1920);
        EXPECT_EQ(first.height, 1080);
        EXPECT_EQ(first.clock, 14850);
        EXPECT_EQ(e[72 + 3], 0xFD) << "second descriptor: range limits";
        Dtd third = decode(e + 90);
        EXPECT_EQ(third.width, 2560);
        EXPECT_EQ(third.height, 1600);
        EXPECT_EQ(third.clock, 26850);
        EXPECT_EQ(third.hblank, 160);
        EXPECT_EQ(third.vblank, 46);
    }
    EXPECT_EQ(velinsource::default_image(0), velinsource::velin_default_edid_6602[1]);
    EXPECT_EQ(velinsource::default_image(2), velinsource::velin_default_edid_6602[3]);
    EXPECT_EQ(velinsource::default_image(3), velinsource::velin_default_edid_6805[0]);
    EXPECT_EQ(velinsource::default_image(4), nullptr);

    const unsigned char* hd3 = velinsource::velin_default_edid_6805[0];
    EXPECT_EQ(maker(hd3), "KEL");
    EXPECT_EQ(productCode(hd3), 0x6805);
    EXPECT_EQ(hd3[12] | hd3[13] << 8 | hd3[14] << 16 | unsigned(hd3[15]) << 24, 0x87654321u);
    EXPECT_EQ(hd3[19], 3);
    EXPECT_EQ(descriptorText(hd3, 0xFF), "KEL_M57HDMI20");
    EXPECT_EQ(descriptorText(hd3, 0xFC), "KEL_M57HD3");
    EXPECT_EQ(descriptorText(velinsource::velin_default_edid_6805[1], 0xFC), "KEL_M57HD4");
    Dtd uhd = decode(hd3 + 54);
    EXPECT_EQ(uhd.width, 3840);
    EXPECT_EQ(uhd.height, 2160);
    EXPECT_EQ(uhd.clock, 59400);
    EXPECT_EQ(uhd.hblank, 560);
    EXPECT_EQ(uhd.vblank, 90);
}

TEST(EdidImages, PresetsFirstTimingsFollowTheirIndex)
{
    const int clocks[8] = {7425, 5405, 9900, 14850, 19800, 10811, 29700, 59400};
    const int codes[8] = {0x41, 0x40, 0x39, 0x43, 0x39, 0x39, 0x38, 0x37};
    for (int k = 0; k < 8; ++k) {
        for (int input : {0, 3}) {
            const unsigned char* e = velinsource::preset_image(input, k);
            SCOPED_TRACE(std::to_string(k) + (input == 3 ? " 4k" : " 1080p"));
            Dtd t = decode(e + 54);
            EXPECT_EQ(t.width, velinsource::kPresetModes[k].width);
            EXPECT_EQ(t.height, velinsource::kPresetModes[k].height);
            EXPECT_EQ(t.clock, clocks[k]);
            // The refresh the timing gives is the preset's.
            double hz = t.clock * 10000.0 / ((t.width + t.hblank) * double(t.height + t.vblank));
            EXPECT_NEAR(hz, velinsource::kPresetModes[k].hz, 0.5);
            EXPECT_EQ(productCode(e), codes[k]);
            EXPECT_EQ(descriptorText(e, 0xFC), "KEL-HDMI");
            EXPECT_EQ(e[17] + 1990, 2024);
            EXPECT_EQ(e[16], 42);
            EXPECT_EQ(e[130], 4 + (input == 3 ? 28 : 18) + 4 + 4 + 8 + 4 + (input == 3 ? 5 : 3));
        }
    }
    EXPECT_EQ(velinsource::preset_image(0, 8), nullptr);
    EXPECT_EQ(velinsource::preset_image(5, 0), nullptr);
}

TEST(EdidImages, ChecksumHelperAddsModulo256)
{
    const unsigned char bytes[] = {0x80, 0x90, 0x10};
    EXPECT_EQ(velinsource::CalcSum4LCD(0, bytes, 3), 0x20);
    EXPECT_EQ(velinsource::CalcSum4LCD(5, bytes, 0), 5);
    EXPECT_EQ(velinsource::CalcSum4LCD(7, nullptr, 3), 7);
}

TEST_F(EdidChoice, PresetOnAnIt6602InputIsNamedForTheInput)
{
    std::vector<unsigned char> stored(edid_table_1080p_3, edid_table_1080p_3 + kEdidSize);
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 0), 0);
    const unsigned char* e = source.edidTable;
    EXPECT_EQ(descriptorText(e, 0xFC), "KEL-DVI");
    EXPECT_EQ(e[121], 0x20);
    EXPECT_EQ(productCode(e), 0x0043);
    EXPECT_EQ(sum(e, 128), 0u);
    for (int i = 0; i < kEdidSize; ++i) {
        if (i < 117 || (i > 121 && i != 127)) {
            ASSERT_EQ(e[i], stored[i]) << i;
        }
    }
    // The stored preset itself is never patched.
    EXPECT_EQ(std::memcmp(stored.data(), edid_table_1080p_3, kEdidSize), 0);
    EXPECT_EQ(descriptorText(edid_table_1080p_3, 0xFC), "KEL-HDMI");

    ASSERT_EQ(source.Set_Custom_HDMI_EDID(3840, 2160, 30, 1), 0);
    EXPECT_EQ(decode(source.edidTable + 54).clock, 29700);
    EXPECT_EQ(descriptorText(source.edidTable, 0xFC), "KEL-HD1");
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1280, 720, 60, 2), 0);
    EXPECT_EQ(descriptorText(source.edidTable, 0xFC), "KEL-HD2");
    EXPECT_EQ(std::memcmp(source.edidTable + 128, edid_table_1080p_0 + 128, 128), 0);
}

TEST_F(EdidChoice, PresetOnHdmi3TakesThe4kFamilyAndItsProductCode)
{
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 3), 0);
    const unsigned char* e = source.edidTable;
    EXPECT_EQ(descriptorText(e, 0xFC), "KEL-HD3");
    EXPECT_EQ(productCode(e), 0x0014);
    EXPECT_EQ(sum(e, 128), 0u);
    EXPECT_EQ(std::memcmp(e + 128, edid_table_4k_3 + 128, 128), 0) << "4K family extension";
    EXPECT_EQ(productCode(edid_table_4k_3), 0x0043);

    ASSERT_EQ(source.Set_Custom_HDMI_EDID(3840, 2160, 60, 3), 0);
    EXPECT_EQ(decode(source.edidTable + 54).clock, 59400);
    EXPECT_EQ(productCode(source.edidTable), 0x0014);
}

TEST_F(EdidChoice, UnlistedModeGetsAComputedFirstTiming)
{
    // 1920x1080 at 50 Hz on HDMI1: reduced blanking, 50 x 2080 x 1142 / 10000 = 11876.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 50, 1), 0);
    const unsigned char* e = source.edidTable;
    const unsigned char* base = velinsource::velin_default_edid_6602[2];
    Dtd t = decode(e + 54);
    EXPECT_EQ(t.clock, 11876);
    EXPECT_EQ(t.width, 1920);
    EXPECT_EQ(t.height, 1080);
    EXPECT_EQ(t.hblank, 160);
    EXPECT_EQ(t.vblank, 62);
    EXPECT_EQ(t.hfp, 48);
    EXPECT_EQ(t.hsync, 32);
    EXPECT_EQ(t.vfp, 3);
    EXPECT_EQ(t.vsync, 10);
    EXPECT_EQ(sum(e, 128), 0u);
    // Only the first descriptor's timing bytes and the checksum differ from the default:
    // its size, borders and flags stay, the second descriptor stays.
    for (int i = 0; i < kEdidSize; ++i) {
        if (i < 54 || (i > 65 && i != 127)) {
            ASSERT_EQ(e[i], base[i]) << i;
        }
    }
    EXPECT_EQ(descriptorText(e, 0xFC), "KEL-HD1");

    // HDMI3 uses the 4K blanking: 60 x 3120 x 1530 / 10000 = 28641.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(2560, 1440, 60, 3), 0);
    t = decode(source.edidTable + 54);
    EXPECT_EQ(t.clock, 28641);
    EXPECT_EQ(t.hblank, 560);
    EXPECT_EQ(t.vblank, 90);
    EXPECT_EQ(t.hfp, 176);
    EXPECT_EQ(t.hsync, 88);
    EXPECT_EQ(t.vfp, 8);
    EXPECT_EQ(t.vsync, 10);
    EXPECT_EQ(sum(source.edidTable, 128), 0u);
    EXPECT_EQ(descriptorText(source.edidTable, 0xFF), "KEL_M57HDMI20") << "second descriptor untouched";
    EXPECT_EQ(decode(velinsource::velin_default_edid_6805[0] + 54).width, 3840) << "stored default untouched";
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
        EXPECT_EQ(source.Set_Custom_HDMI_EDID(c.w, c.h, c.hz, c.input), 1);
        EXPECT_EQ(std::memcmp(source.edidTable, velinsource::default_image(c.input), kEdidSize), 0);
        EXPECT_TRUE(velinsource::edid_block0_valid(source.edidTable));
    }
    // The largest clock that fits is still written.
    EXPECT_EQ(source.Set_Custom_HDMI_EDID(3600, 2000, 75, 3), 0);
    EXPECT_EQ(decode(source.edidTable + 54).clock, 75 * 4160 * 2090 / 10000);
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
    EXPECT_EQ(std::memcmp(source.edidTable, edid_ram_table[2], kEdidSize), 0);
    EXPECT_EQ(edid_ram_table_from[2], 0);
    // Next time the requested mode decides again.
    ASSERT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 2), 0);
    EXPECT_EQ(descriptorText(source.edidTable, 0xFC), "KEL-HD2");

    const unsigned char* before = source.edidTable;
    unsigned char copy[kEdidSize];
    std::memcpy(copy, before, kEdidSize);
    EXPECT_EQ(source.Set_Custom_HDMI_EDID(1920, 1080, 60, 4), -1);
    EXPECT_EQ(source.edidTable, before);
    EXPECT_EQ(std::memcmp(source.edidTable, copy, kEdidSize), 0);
}
