// Test patterns: the pattern registers (0x57-0x68) of window 0's output channels.
#include "tests/support/ScalerHarness.h"

namespace {
class ScalerPattern : public kel_test::ScalerHarness {
protected:
    void SetUp() override
    {
        kel_test::ScalerHarness::SetUp();
        m.wincnt = 1;   // window 0, 1920 wide, on channels 2 and 3, its input without signal
        m.gWininfo[0].width = 1920;
        m.gWininfo[0].totalh = 2;
        m.gWininfo[0].totalv = 1;
        m.gWininfo[0].ochLst[0] = 2;
        m.gWininfo[0].ochLst[1] = 3;
        m.PM_INPUT[0] = 1;
    }
    static std::vector<unsigned> regs(int ch)
    {
        std::vector<unsigned> v;
        for (int r : {0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5D, 0x5F, 0x61, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68})
            v.push_back(reg(0x08, r, r >= 0x5B && r <= 0x61 ? 2 : 1, ch));
        return v;
    }
    using V = std::vector<unsigned>;
};
} // namespace

TEST_F(ScalerPattern, SolidColoursLinesAndBlanks)
{
    // Solid red (21 is 1), green, blue, white and black: 0x5B is 0 on the first channel,
    // 3 on the next.
    const unsigned colours[5][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {0, 0, 0}};
    for (int i = 0; i < 5; ++i) {
        const unsigned* c = colours[i];
        EXPECT_EQ(m.c331_SetPattern(i == 0 ? 21 : i + 1), 0);
        EXPECT_EQ(std::make_pair(regs(2), regs(3)), std::make_pair(V{4, 0, 0, 0, 0, 0, 0, 0, c[0], c[1], c[2], 3, 3, 3},
                                                                  V{4, 0, 0, 0, 3, 0, 0, 0, c[0], c[1], c[2], 3, 3, 3})) << i;
    }
    // The pattern, not the no-signal background; channel 0 untouched.
    EXPECT_EQ(std::make_tuple(m.kelApi_IsPatternGen(), reg(0x08, 0x41, 1, 2), regs(0)), std::make_tuple(true, 0u, V(14, 0)));
    m.pattern_gen_on = 0;
    for (int v : {9, 10}) {   // no pattern, but the flag is on
        const int result = m.c331_SetPattern(v);
        EXPECT_EQ(std::make_tuple(result, m.kelApi_IsPatternGen(), regs(3)), std::make_tuple(0, true, V(14, 0))) << v;
    }
    m.c331_SetPattern(7);   // index 6, then index 7: 0x5F back to 0
    m.c331_SetPattern(8);
    EXPECT_EQ(regs(2), (V{15, 0, 0, 0, 15, 0, 0, 1, 255, 255, 255, 3, 3, 3}));
    m.gWininfo[0].width = 3840;   // wide: solid colours in wide mode on every channel
    m.c331_SetPattern(4);
    EXPECT_EQ(reg(0x08, 0x5B, 2, 3), 32768u);
}

// (A pattern refused to more windows is the picture check's.)
TEST_F(ScalerPattern, OffAlwaysClearsEveryChannel)
{
    m.c331_SetPattern(15);
    m.wincnt = 2;
    // The layout changed under the pattern: window 0 is on channel 5 alone now.
    m.gWininfo[0].totalh = 1;
    m.gWininfo[0].ochLst[0] = 5;
    const int result = m.c331_SetPattern(0);
    EXPECT_EQ(std::make_tuple(result, m.kelApi_IsPatternGen(), regs(2), regs(3)), std::make_tuple(0, false, V(14, 0), V(14, 0)));
}

TEST_F(ScalerPattern, EveryLineAndGridPatternHasItsRegisterRow)
{
    // Index: 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5D, 0x5F, 0x61, 0x63-0x65, 0x66-0x68.
    const std::pair<int, V> rows[] = {
        {5, {1, 0, 0, 0, 32768, 0, 480, 0, 255, 255, 255, 3, 3, 3}},
        {10, {8, 48, 0, 0, 32768, 0, 32, 32, 255, 255, 255, 3, 3, 3}},
        {11, {5, 0, 0, 0, 32768, 0, 240, 270, 255, 255, 255, 3, 3, 3}},
        {12, {14, 0, 0, 0, 32768, 0, 1, 0, 255, 255, 255, 3, 3, 3}},
        {13, {1, 0, 0, 0, 32768, 0, 480, 0, 255, 255, 255, 3, 3, 3}},
        {14, {3, 0, 1, 0, 32768, 0, 36863, 0, 0, 120, 0, 0, 0, 0}},
        {15, {3, 2, 1, 1, 32768, 0, 36863, 36863, 0, 120, 0, 0, 0, 0}},
        {16, {6, 0, 0, 0, 32768, 0, 960, 0, 255, 255, 255, 3, 3, 3}},
        {17, {9, 0, 0, 0, 32917, 0, 4, 3840, 255, 255, 255, 3, 3, 3}},
        {18, {2, 0, 0, 0, 32768, 0, 0, 270, 255, 255, 255, 3, 3, 3}},
        {19, {3, 1, 1, 1, 32768, 0, 0, 20479, 255, 255, 255, 3, 3, 3}},
    };
    for (const auto& [index, row] : rows) {
        ASSERT_EQ(m.c331_SetPattern(index + 1), 0);
        EXPECT_EQ(std::make_pair(regs(2), regs(3)), std::make_pair(row, row)) << index;
    }
}
