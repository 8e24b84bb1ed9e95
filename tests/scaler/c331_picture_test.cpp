// Picture quality: the register values of brightness, contrast, saturation, colour
// temperature and sharpness.
#include "tests/support/ScalerHarness.h"

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
    m.c331_SetColorTemp(3);
    EXPECT_EQ(reg(0x0C, 0x6B, 2, 0), 10978u);
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
