// Picture quality: the register values of brightness, contrast, saturation, colour
// temperature and sharpness.
#include "tests/support/ScalerHarness.h"

#include <array>

namespace {
using ScalerPicture = kel_test::ScalerHarness;
} // namespace

TEST_F(ScalerPicture, GainsAndOffsetsInEveryChannel)
{
    const std::pair<int, unsigned> brightness[] = {{50, 0}, {100, 0x400}, {0, 0xC00}, {101, 0xC00}, {49, 0xFEC}};
    for (const auto& b : brightness) {
        m.c331_SetBrightness(b.first);
        EXPECT_EQ(reg(0x0C, 0x3A, 2, 0), b.second) << b.first;
        EXPECT_EQ(reg(0x0C, 0x3E, 2, 7), b.second) << b.first;
    }
    m.c331_SetContrast(100);
    EXPECT_EQ(reg(0x0C, 0x28, 2, 3), 1023u);
    EXPECT_EQ(reg(0x0C, 0x21, 1, 3) & 1, 1u);
    m.c331_SetContrast(50);
    EXPECT_EQ(reg(0x0C, 0x2C, 2, 5), 511u);
    m.c331_SetSaturation(100);
    EXPECT_EQ(reg(0x0C, 0x1F, 2, 7), 0x3FFu);

    // Nature, and custom 128/128/128: unity on the diagonal, zero elsewhere.
    for (uint32_t packed : {2u, 0u | 128u << 8 | 128u << 16 | 128u << 24}) {
        m.c331_SetColorTemp(packed);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(reg(0x0C, 0x5B + 2 * i, 2, 6), i % 4 == 0 ? 8192u : 0u) << packed << " #" << i;
        EXPECT_EQ(reg(0, 0x60) & 0x20, 0x20u);
    }
}

TEST_F(ScalerPicture, SharpnessPerWindowFromItsScaling)
{
    m.wincnt = 1;
    m.gWininfo[0].input = 1;   // port 1
    m.gWininfo[0].totalh = 2;
    m.gWininfo[0].totalv = 1;
    m.gWininfo[0].ochLst[0] = 2;
    m.gWininfo[0].ochLst[1] = 3;
    m.PI_PORT_INFO[1].STATE = 4;
    m.IWIN[0] = {0, 1280, 0, 1080};
    m.OWIN[0] = {0, 3840, 0, 1080};   // 3:1 across, 1:1 down
    for (int setting : {20, 25}) {    // above 20 is full sharpness, not a wrap
        m.c331_SetSharpness(setting);
        const unsigned h[5] = {36, 43, 58, 4, 5}, v[5] = {44, 50, 56, 0, 0};
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(reg(0x0B, 0x0C + i, 1, 3), h[i]) << setting;
            EXPECT_EQ(reg(0x0B, 0x15 + i, 1, 2), v[i]) << setting;
        }
        EXPECT_EQ(reg(0x0B, 0x09, 1, 2), 128u);
        EXPECT_EQ(reg(0x0B, 0x12, 1, 3), 128u);
        EXPECT_EQ(reg(0x0B, 0x08, 1, 2), 6u);
    }
    m.c331_SetSharpness(10);   // 0..10: off
    EXPECT_EQ(reg(0x0B, 0x0C, 1, 2), 0u);
    EXPECT_EQ(reg(0x0B, 0x09, 1, 2), 0u);
    EXPECT_EQ(reg(0x0B, 0x11, 1, 2), 0u);
    // An input with state 0 is left alone.
    m.PI_PORT_INFO[1].STATE = 0;
    m.c331_SetSharpness(20);
    EXPECT_EQ(reg(0x0B, 0x09, 1, 2), 0u);
}

TEST_F(ScalerPicture, ColourTemperatureMatricesSharpnessBandsAndTraces)
{
    // Warm and cool gains on the diagonal (red 0x5B, green 0x63, blue 0x6B), zero elsewhere.
    const std::pair<uint32_t, std::array<unsigned, 3>> temps[] = {{1, {8845, 8113, 7056}}, {3, {6944, 8282, 10978}}};
    for (const auto& [type, gain] : temps) {
        m.c331_SetColorTemp(type);
        for (int ch : {0, 7})
            for (int i = 0; i < 9; ++i)
                EXPECT_EQ(reg(0x0C, 0x5B + 2 * i, 2, ch), i % 4 == 0 ? gain[i / 4] : 0u) << type << " #" << i;
    }

    // One window of one channel; the same ratio across and down picks each band in turn.
    m.wincnt = 1;
    m.gWininfo[0].input = 1;
    m.gWininfo[0].totalh = m.gWininfo[0].totalv = 1;
    m.gWininfo[0].ochLst[0] = 4;
    m.PI_PORT_INFO[1].STATE = 4;
    m.IWIN[0] = {0, 1000, 0, 1000};
    struct Band {
        int out;
        unsigned h[5], v[5];
    };
    const Band bands[] = {{3000, {36, 43, 58, 4, 5}, {42, 48, 59, 0, 0}},
                          {2200, {30, 42, 0, 7, 0}, {34, 47, 0, 0, 0}},
                          {1500, {28, 46, 5, 3, 60}, {28, 45, 5, 0, 0}},
                          {1000, {44, 49, 56, 63, 2}, {44, 50, 56, 0, 0}}};
    for (const Band& b : bands) {
        m.OWIN[0] = {0, b.out, 0, b.out};
        m.c331_SetSharpness(15);   // s = 5: gain 64
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(reg(0x0B, 0x0C + i, 1, 4), b.h[i]) << b.out << " h" << i;
            EXPECT_EQ(reg(0x0B, 0x15 + i, 1, 4), b.v[i]) << b.out << " v" << i;
        }
        EXPECT_EQ(reg(0x0B, 0x09, 1, 4), 64u);
        EXPECT_EQ(reg(0x0B, 0x12, 1, 4), 64u);
    }

    testing::internal::CaptureStdout();
    m.c331_SetBrightness(0);
    m.c331_SetContrast(50);
    m.c331_SetSaturation(100);
    m.c331_SetColorTemp(0x40404001);
    m.c331_SetSharpness(12);
    const std::string out = testing::internal::GetCapturedStdout();
    for (const char* line : {"[c331_SetBrightness] 0", "\t data:0c00", "[c331_SetContrast] val:50, data:511",
                             "[c331_SetSaturation] 100:03ff", "[c331_SetColorTemp] 40404001", "[c331_SetSharpness] :000c"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
}
