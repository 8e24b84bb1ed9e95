// Picture quality: the register sequences of brightness, contrast, saturation, colour
// temperature and sharpness.
#include "tests/support/ScalerHarness.h"
#include "tests/support/ScalerLog.h"

#include <array>
#include <functional>

namespace {
using kel_test::ChipByte;
using kel_test::bytesOf;

class ScalerPicture : public kel_test::ScalerHarness {
protected:
    // The update bracket around an operation: hold, the timing of mode 2 (immediate), release;
    // after it the same with the timing of mode 1.
    static std::vector<ChipByte> bracketed(const std::vector<ChipByte>& inside, const std::vector<ChipByte>& before = {})
    {
        std::vector<ChipByte> v = before;
        auto timing = [&](std::array<int, 7> t) {
            v.push_back({0, 0x29, 1});
            for (int i = 0; i < 7; ++i)
                v.push_back({0, 0x22 + i, t[i]});
            v.push_back({0, 0x29, 0});
        };
        timing({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
        v.insert(v.end(), inside.begin(), inside.end());
        timing({0x99, 0x99, 0x21, 0x43, 0x55, 0x77, 0x99});
        return v;
    }
    // The same registers in every channel's bank.
    static std::vector<ChipByte> everyChannel(const std::function<std::vector<ChipByte>(int)>& one)
    {
        std::vector<ChipByte> v;
        for (int c = 0; c < 8; ++c) {
            const auto part = one(0x0C + 0x10 * c);
            v.insert(v.end(), part.begin(), part.end());
        }
        return v;
    }
    void oneWindow(std::vector<int> channels, int cols)
    {
        m.wincnt = 1;
        m.gWininfo[0].input = 1;   // port 1
        m.gWininfo[0].totalh = int8_t(cols);
        m.gWininfo[0].totalv = int8_t(channels.size() / size_t(cols));
        for (size_t i = 0; i < channels.size(); ++i)
            m.gWininfo[0].ochLst[i] = int8_t(channels[i]);
        m.PI_PORT_INFO[1].STATE = 4;
        m.gWininfo[1] = m.gWininfo[0];   // a stale record past the window count: left alone
    }
};
} // namespace

TEST_F(ScalerPicture, EachSettingIsOneBracketedSequence)
{
    sim::ScalerModel::clearFrames();
    m.c331_SetBrightness(100);
    EXPECT_EQ(kel_test::chipWrites(), bracketed(everyChannel([](int b) {
                  return bytesOf({{b, 0x3A, 2, 0x400}, {b, 0x3C, 2, 0x400}, {b, 0x3E, 2, 0x400}});
              })));
    sim::ScalerModel::clearFrames();
    m.c331_SetContrast(100);
    EXPECT_EQ(kel_test::chipWrites(), bracketed(everyChannel([](int b) {
                  return bytesOf({{b, 0x21, 1, 1}, {b, 0x28, 2, 1023}, {b, 0x2A, 2, 1023}, {b, 0x2C, 2, 1023}});
              })));
    sim::ScalerModel::clearFrames();
    m.c331_SetSaturation(50);
    EXPECT_EQ(kel_test::chipWrites(), bracketed(everyChannel([](int b) {
                  return bytesOf({{b, 0x14, 1, 1}, {b, 0x1B, 2, 511}, {b, 0x1D, 2, 511}, {b, 0x1F, 2, 511}});
              })));
    // Warm: bit 5 of bank 0 registers 0x59-0x60, then the diagonal 8845, 8113, 7056.
    sim::ScalerModel::clearFrames();
    m.c331_SetColorTemp(1);
    std::vector<ChipByte> warm;
    for (int r = 0x59; r <= 0x60; ++r)
        warm.push_back({0, r, 0x20});
    const auto matrices = everyChannel([](int b) {
        return bytesOf({{b, 0x5B, 2, 8845}, {b, 0x5D, 2, 0}, {b, 0x5F, 2, 0}, {b, 0x61, 2, 0}, {b, 0x63, 2, 8113},
                        {b, 0x65, 2, 0}, {b, 0x67, 2, 0}, {b, 0x69, 2, 0}, {b, 0x6B, 2, 7056}});
    });
    warm.insert(warm.end(), matrices.begin(), matrices.end());
    EXPECT_EQ(kel_test::chipWrites(), bracketed(warm));

    // Sharpness 20 (s = 10, gain 128) on a window over channels 2 and 3, 3:1 across and 1:1
    // down: enable bits first, then the horizontal and vertical coefficients per channel.
    oneWindow({2, 3}, 2);
    m.IWIN[0] = {0, 1280, 0, 1080};
    m.OWIN[0] = {0, 3840, 0, 1080};
    sim::ScalerModel::clearFrames();
    m.c331_SetSharpness(20);
    const std::vector<ChipByte> enable = {{0x0C, 0x21, 1}, {0x2B, 0x08, 6}, {0x3B, 0x08, 6}};
    std::vector<kel_test::RegGroup> coef;
    for (int b : {0x2B, 0x3B})
        coef.insert(coef.end(), {{b, 0x0C, 1, 36}, {b, 0x0D, 1, 43}, {b, 0x0E, 1, 58}, {b, 0x0F, 1, 4},
                                 {b, 0x10, 1, 5}, {b, 0x09, 1, 128}});
    coef.insert(coef.end(), {{0x2B, 0x11, 1, 6}, {0x3B, 0x11, 1, 6}});
    for (int b : {0x2B, 0x3B})
        coef.insert(coef.end(), {{b, 0x5E, 1, 1}, {b, 0x15, 1, 44}, {b, 0x16, 1, 50}, {b, 0x17, 1, 56},
                                 {b, 0x18, 1, 0}, {b, 0x19, 1, 0}, {b, 0x12, 1, 128}});
    EXPECT_EQ(kel_test::chipWrites(), bracketed(bytesOf(coef), enable));
}

TEST_F(ScalerPicture, RangesBandsAndTraces)
{
    const std::pair<int, unsigned> brightness[] = {{50, 0}, {0, 0xC00}, {101, 0xC00}, {49, 0xFEC}};
    for (const auto& b : brightness) {
        m.c331_SetBrightness(b.first);
        EXPECT_EQ(reg(0x0C, 0x3E, 2, 7), b.second) << b.first;
    }
    m.c331_SetSaturation(100);
    EXPECT_EQ(reg(0x0C, 0x1F, 2, 7), 0x3FFu);
    // Nature, custom 128/128/128 and cool: gains on the diagonal, zero elsewhere.
    const std::pair<uint32_t, std::array<unsigned, 3>> temps[] = {
        {2, {8192, 8192, 8192}}, {128u << 8 | 128u << 16 | 128u << 24, {8192, 8192, 8192}}, {3, {6944, 8282, 10978}}};
    for (const auto& [packed, gain] : temps) {
        m.c331_SetColorTemp(packed);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ(reg(0x0C, 0x5B + 2 * i, 2, 6), i % 4 == 0 ? gain[i / 4] : 0u) << packed << " #" << i;
    }

    // One window of one channel (each word's taps and gains are the picture check's): an input
    // with state 0 is left alone.
    oneWindow({4}, 1);
    m.IWIN[0] = m.OWIN[0] = {0, 1000, 0, 1000};
    m.PI_PORT_INFO[1].STATE = 0;
    m.c331_SetSharpness(20);
    EXPECT_EQ(reg(0x0B, 0x09, 1, 4), 0u);

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
