// The output path: fade or freeze, layer routing and coefficients, channel programming,
// filter tables, channel control, the deinterlacer's noise-reduction recipes and a chip
// that never takes an output update.
#include "tests/support/ScalerHarness.h"
#include "tests/support/ScalerLog.h"

#include <string>
#include <vector>

namespace {

using U = std::vector<unsigned>;

class ScalerOutput : public kel_test::ScalerHarness {
protected:
    // Two 1920 x 1080 cells side by side (3840 x 2600 panel: two channels, four in a row)
    // and window 0 over both, showing 1920x1080@60 on port 1.
    void twoCellWindow(int inWidth = 1920)
    {
        setWord(1378, 3840);
        setWord(1380, 2600);
        setWindow(0, 1, 0, 0, 3840, 1080);
        m.kelApi_PnlInit2(3840, 2600, 1920, 1080, 0);
        m.pnl.ochH = 1080;
        m.PS_ACTVW = 1080;
        publish(1, inWidth, 1080, inWidth + 280, 1125, 60);
        measure();
    }
    // Two windows, one a cell each, both on port 1, shown.
    void twoWindows()
    {
        twoCellWindow();
        setWindow(0, 1, 0, 0, 1920, 1080);
        setWindow(1, 1, 1920, 0, 1920, 1080);
        relayout();
        m.set_output(m.c331_fd);
    }
    // The windows of the block laid out again and their inputs measured.
    void relayout()
    {
        m.kelApi_initEnvC331();
        m.kelApi_MultiWinChAlloc(1);
        m.kelApi_MultiWinChInit();
        measure();
    }
    // Values written to one register, in order.
    static std::vector<unsigned> writes(int bank, int reg)
    {
        std::vector<unsigned> v;
        for (const auto& f : sim::ScalerModel::frames())
            if (f.write && !f.isBankSelect() && f.bank == bank && f.reg == reg)
                v.push_back(f.value);
        return v;
    }
};

} // namespace

TEST_F(ScalerOutput, EnlargedWindowJoinsItsCells)
{
    twoCellWindow();
    sim::ScalerModel::clearFrames();
    m.set_output(m.c331_fd);
    ASSERT_EQ(m.PM_WIN_NUM[0], 0);
    ASSERT_EQ(m.PM_WIN_NUM[1], 0);
    // Cell 1's output-side scaler, register by register: horizontal configuration, phases
    // and factor (2 bytes), vertical mode, configuration, phases and factor (2 bytes).
    std::vector<int> order;
    for (const kel_test::ChipByte& b : kel_test::chipWrites())
        if (b.bank == 0x1A && b.reg >= 0x44 && b.reg <= 0x4F)
            order.push_back(b.reg);
    EXPECT_EQ(order, (std::vector<int>{0x46, 0x47, 0x48, 0x49, 0x4A, 0x44, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F}));
    // (where each cell starts and what it reads is the picture check's)
    const int ich = m.ich_list[0][0];
    ASSERT_GE(ich, 0);
    // The first cell follows the input, the second the first.
    EXPECT_EQ((U{reg(0x08, 0x08, 2, 0), reg(0x08, 0x08, 2, 1)}), (U{unsigned(ich) << 8 | 1, 0u << 8 | 0x1000 | 0x11}));
    // No vertical enlargement (cell 1): a single tap of 64; enlarging (channel 2): the 4-tap table.
    m.set_lut_vzoom_4sym(m.c331_fd, 1, 2);
    U zoom;
    for (int i = 0; i < 48; ++i)
        zoom.push_back(reg(0x0A, 0x68 + i % 24, 1, 1 + i / 24));
    EXPECT_EQ(zoom, (U{64, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   0,   0,   0,   0, 0, 0,  0,  0,  0,  0,  0,  0,
                       0,  0, 0, 0, 0, 0, 0, 0, 0, 255, 254, 253, 252, 252, 253, 0, 5, 13, 24, 35, 46, 56, 62, 64}));
}

TEST_F(ScalerOutput, FadeOnlyForASingleFadingWindow)
{
    twoWindows();
    ASSERT_EQ(m.wincnt, 2);
    for (int w = 0; w < 2; ++w) {
        m.PM_WIN_FADE_EN[w] = 1;
        m.PM_WIN_FADE_IN[w] = m.PM_WIN_FADE_OUT[w] = 4;
    }
    // One window fading: out in 5 steps and in in 5, each step ending with 0xA9.
    m.g_chg_output[0] = 1;
    sim::ScalerModel::clearFrames();
    m.set_output(m.c331_fd);
    const auto steps = writes(0, 0x22);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), 0xA9u), 10);
    // Two windows asking: a freeze (the held channel's sync register goes to 2).
    m.g_chg_output[0] = 1;
    m.g_chg_output[1] = 1;
    sim::ScalerModel::clearFrames();
    m.set_output(m.c331_fd);
    auto v = writes(0, 0x22);
    EXPECT_EQ(std::count(v.begin(), v.end(), 0xA9u), 0);
    const int ich = m.ich_list[0][0];
    auto sync = writes(0x10 + 0x10 * ich, 0x09);
    EXPECT_NE(std::find(sync.begin(), sync.end(), 2u), sync.end());
}

TEST_F(ScalerOutput, LayerRoutingOrderAndCoefficients)
{
    // Channels 0 and 4 mixed onto cell 0, the window of channel 4 above.
    for (int c = 0; c < 8; ++c) {
        m.PM_OVERLAY[c] = c + 1;
        m.PM_WIN_NUM[c] = 6;
    }
    m.PM_OVERLAY[4] = 1;
    m.PM_WIN_NUM[0] = 0;
    m.PM_WIN_NUM[4] = 1;
    m.PM_OVERLAY_PRI[0] = 0;
    m.PM_OVERLAY_PRI[1] = 1;
    m.update_overlay_info();
    m.set_overlay(m.c331_fd);
    EXPECT_EQ(reg(0x0E, 0x08, 4), 0x000000C8u);
    // Priorities 2, 1, 3 on one cell stack as 1, 2, 3.
    m.PM_OVERLAY[2] = 1;
    m.PM_WIN_NUM[2] = 2;
    m.PM_OVERLAY_PRI[0] = 2;
    m.PM_OVERLAY_PRI[1] = 1;
    m.PM_OVERLAY_PRI[2] = 3;
    m.update_overlay_info();
    EXPECT_EQ((std::vector<int>{m.g_och_layer[0][0], m.g_och_layer[0][1], m.g_och_layer[0][2]}),
              (std::vector<int>{4, 0, 2}));

    // Opaque coefficients: combination 0 the background only; else the top slot.
    m.reset_layer_coef(m.c331_fd, 0);
    // Combination 6: slot 2 on top.
    EXPECT_EQ((U{reg(0x0E, 0x11), reg(0x0E, 0x11 + 5 * 6), reg(0x0E, 0x12 + 5 * 6 + 2), reg(0x0E, 0x12 + 5 * 6 + 1)}),
              (U{128, 0, 128, 0}));

    // Fading in window 0 (slot 1) in 4 steps: 0, 32, 64, 96, 128 over the slot beneath.
    sim::ScalerModel::clearFrames();
    m.set_layer_coef(m.c331_fd, 0, 4, 1);
    EXPECT_EQ(writes(0x0E, 0x12 + 5 * 3 + 1), (U{0, 32, 64, 96, 128}));
    EXPECT_EQ(writes(0x0E, 0x12 + 5 * 3 + 0), (U{128, 96, 64, 32, 0}));
    EXPECT_EQ(writes(0x0E, 0x11 + 5 * 2), (U{128, 96, 64, 32, 0}));   // alone: the background
    // Out in 3: the layer beneath takes (i x 128) / 3.
    sim::ScalerModel::clearFrames();
    m.set_layer_coef(m.c331_fd, 0, 3, 0);
    EXPECT_EQ(writes(0x0E, 0x12 + 5 * 3 + 0), (U{0, 42, 85, 128}));
    // A window on slot 4 or above uses layer mode 256 or 512 and the slot-3 registers.
    for (int c = 0; c < 6; ++c) {
        m.PM_OVERLAY[c] = 1;
        m.PM_WIN_NUM[c] = c;
        m.PM_OVERLAY_PRI[c] = c;
    }
    m.update_overlay_info();
    sim::ScalerModel::clearFrames();
    m.set_layer_coef(m.c331_fd, 5, 0, 1);
    EXPECT_EQ(reg(0x0E, 0x0F, 2), 512u);
    EXPECT_EQ(writes(0x0E, 0x12 + 5 * 15 + 3), (U{128}));
}

TEST_F(ScalerOutput, FilterTablesAndChannelControl)
{
    using kel_test::bytesOf;
    using kel_test::chipWrites;
    // Shrink filter index by ratio, at both ends of every step, through the loader.
    const std::pair<int, int> index[] = {{0, 44},      {1, 1},      {13107, 1},  {13108, 2},  {26214, 2},
                                         {26215, 4},   {32768, 4},  {32769, 6},  {39321, 6},  {39322, 8},
                                         {45875, 8},   {45876, 12}, {49152, 12}, {49153, 17}, {52428, 17},
                                         {52429, 22},  {55705, 22}, {55706, 27}, {58982, 27}, {58983, 32},
                                         {62259, 32},  {62260, 38}, {65000, 38}, {65001, 44}};
    int ch = 0;
    for (const auto& [ratio, idx] : index) {
        ch = (ch + 3) % 8;
        sim::ScalerModel::clearFrames();
        m.set_lut_hshrnk(m.c331_fd, ratio, ch, ch % 2);
        auto want = bytesOf({{0, 0x79, 1, uint32_t(idx)}, {0, 0x7A, 1, uint32_t(131 + 4 * ch)}});
        if (ch % 2)
            want.push_back({0, 0x7A, 135 + 4 * ch});
        EXPECT_EQ(chipWrites(), want) << ratio;
    }
    sim::ScalerModel::clearFrames();
    m.set_lut_hzoom(m.c331_fd, 40000, 3);
    m.set_lut_vshrnk(m.c331_fd, 40000, 5);
    m.ich_owner[0] = -1;
    m.set_lut_vshrnk(m.c331_fd, 70000, 0);   // a channel whose mode is below 4: one slot
    m.ich_owner[2] = 0;
    m.PM_INPUT[0] = 1;
    m.PI_PORT_INFO[1].STATE = 4;
    m.set_lut_vshrnk(m.c331_fd, 1, 2);       // mode 4: the pair's two slots
    EXPECT_EQ(chipWrites(), bytesOf({{0, 0x79, 1, 46}, {0, 0x7A, 1, 141}, {0, 0x79, 1, 8}, {0, 0x7A, 1, 154},
                                     {0, 0x7A, 1, 158}, {0, 0x79, 1, 44}, {0, 0x7A, 1, 130}, {0, 0x79, 1, 1},
                                     {0, 0x7A, 1, 138}, {0, 0x7A, 1, 142}}));

    // Vertical 4-tap shrink rows by ratio.
    const int rows[10][16] = {{},
                              {13, 14, 14, 14, 15, 15, 16, 20, 16, 16, 16, 18, 19, 19, 19, 24},
                              {10, 11, 12, 13, 14, 15, 16, 20, 17, 17, 18, 19, 20, 21, 21, 24},
                              {6, 8, 9, 11, 12, 14, 15, 19, 18, 19, 20, 21, 23, 23, 25, 26},
                              {1, 3, 5, 8, 10, 12, 15, 17, 19, 21, 22, 24, 27, 28, 29, 30},
                              {253, 255, 0, 3, 6, 10, 13, 16, 20, 23, 26, 29, 32, 32, 34, 32},
                              {248, 249, 252, 255, 1, 5, 10, 13, 20, 25, 29, 33, 38, 41, 42, 38},
                              {246, 245, 246, 248, 252, 0, 5, 10, 18, 26, 33, 40, 45, 49, 51, 44},
                              {247, 244, 242, 243, 245, 250, 0, 5, 15, 25, 35, 45, 54, 57, 58, 54},
                              {252, 247, 243, 241, 241, 244, 249, 0, 9, 21, 35, 47, 57, 64, 66, 64}};
    const std::pair<int, int> rowOf[] = {{70000, 9}, {62260, 9}, {62259, 8}, {58983, 8}, {58982, 7}, {52429, 7},
                                         {52428, 6}, {45876, 6}, {45875, 5}, {39322, 5}, {39321, 4}, {32769, 4},
                                         {32768, 3}, {26215, 3}, {26214, 2}, {13108, 2}, {13107, 1}, {0, 1}};
    for (const auto& [ratio, row] : rowOf) {
        ch = (ch + 5) % 8;
        for (int r = 0x68; r < 0x80; ++r)
            for (int bank : {0x11, 0x21})
                sim::ScalerModel::setReg(bank + 0x10 * ch, r, 0xEE);
        m.set_lut_vshrnk_4sym(m.c331_fd, ratio, ch, ch % 2);
        for (int i = 0; i < 24; ++i) {
            const unsigned v = i < 8 ? 0u : unsigned(rows[row][i - 8]);
            EXPECT_EQ(reg(0x11, 0x68 + i, 1, ch), v) << ratio << " #" << i;
            EXPECT_EQ(reg(0x21, 0x68 + i, 1, ch), ch % 2 ? v : 0xEEu) << ratio << " #" << i;
        }
    }

    // Channel control. A window on input 4 with channels 3 and 5: both take the input's sync,
    // the second follows the first.
    m.PM_INPUT[2] = 4;
    m.PM_WIN_DBD_MODE[2] = 0;
    m.PI_PORT_INFO[4].STATE = 1;
    m.ich_list[2][0] = 3;
    m.ich_list[2][1] = 5;
    m.ich_list[2][2] = -1;
    m.set_mct(m.c331_fd, 2, 0);
    EXPECT_EQ((U{reg(0, 0x08 + 3), reg(0, 0x08 + 5), reg(0x40, 0x09), reg(0x60, 0x09)}), (U{17, 17, 1, 11}));
    // A window on input 1 (state 4: S = 17) with channels 1 and 3, by mode, block noise
    // reduction, other levels and scan: the channel's sync (S | motion), its field flag,
    // and the NR enable, written only when it changes and not kept.
    m.ich_list[2][0] = 1;
    m.ich_list[2][1] = 3;
    m.PM_INPUT[2] = 1;
    struct Step {
        int mode, bnr, hnr, ip;
        unsigned sync, field;
        int nrWritten;   // -1: not written
        unsigned nr;
    } const steps[] = {{0, 0, 0, 0, 17, 1, -1, 0xEE}, {0, 0, 2, 0, 31, 1, 1, 1}, {0, 1, 0, 1, 31, 0, -1, 1},
                       {1, 0, 0, 0, 17, 1, 0, 0},     {1, 1, 0, 0, 31, 1, 3, 3}};
    sim::ScalerModel::setReg(0x25, 0x08, 0xEE);
    for (const Step& st : steps) {
        m.PM_BNR[1] = st.bnr;
        m.PM_HNR[1] = st.hnr;
        m.PI_PORT_INFO[1].IP = st.ip;
        sim::ScalerModel::clearFrames();
        m.set_mct(m.c331_fd, 2, st.mode);
        auto want = bytesOf({{0, 0x09, 1, st.sync}, {0x20, 0x09, 1, st.field}});
        if (st.nrWritten >= 0)
            want.push_back({0x25, 0x08, st.nrWritten});
        const auto tail = bytesOf({{0, 0x0B, 1, 17}, {0x40, 0x09, 1, 9}});
        want.insert(want.end(), tail.begin(), tail.end());
        EXPECT_EQ(chipWrites(), want) << st.mode << st.bnr << st.hnr << st.ip;
        EXPECT_EQ(reg(0x25, 0x08), st.nr);
    }
    // Joined inputs take no motion value on their first channel.
    m.PM_WIN_DBD_MODE[2] = 20;
    m.PM_HNR[0] = 1;
    m.PI_PORT_INFO[0].STATE = 4;
    m.set_mct(m.c331_fd, 2, 0);
    EXPECT_EQ(reg(0, 0x09), 17u);
    // Modes 22/23 follow input 2, 50/51 input 4 (S from that input's state alone).
    m.PI_PORT_INFO[2].STATE = 0;
    m.PI_PORT_INFO[3].STATE = 4;
    m.PI_PORT_INFO[4].STATE = 1;
    m.PI_PORT_INFO[5].STATE = 0;
    m.ich_list[2][0] = 0;   // on channel 0 now
    for (auto [mode, sync] : {std::pair{22, 1u}, {50, 17u}}) {
        m.PM_WIN_DBD_MODE[2] = mode;
        m.set_mct(m.c331_fd, 2, 0);
        EXPECT_EQ(reg(0, 0x08), sync) << mode;
    }
}

TEST_F(ScalerOutput, NoiseReductionRecipes)
{
    m.ich_owner[0] = 0;
    m.PM_INPUT[0] = 1;
    auto input = [&](int height, int state, int ip) {
        m.PI_ACT[1] = {192, 1920, 41, height};
        m.PI_PORT_INFO[1].STATE = state;
        m.PI_PORT_INFO[1].IP = ip;
    };
    // 600 lines: no block recipe (0x39 keeps its value), the others still apply.
    sim::ScalerModel::setReg(0x15, 0x39, 0x5A);
    input(600, 4, 0);
    m.PM_BNR[1] = 1;
    m.PM_TNR[1] = 3;
    m.set_ip(m.c331_fd, 0);
    EXPECT_EQ(reg(0x15, 0x39), 0x5Au);
    // Interlaced: NR enable 0 whatever the levels.
    input(540, 5, 1);
    m.set_ip(m.c331_fd, 0);
    EXPECT_EQ((U{reg(0x15, 0x08), reg(0x16, 0x5B)}), (U{0, 1}));
    // Progressive state 2: processing off, every NR enable cleared.
    sim::ScalerModel::setReg(0x15, 0x70, 9);
    m.PM_BNR[1] = m.PM_TNR[1] = 0;
    m.PM_HNR[1] = 1;
    input(1080, 2, 0);
    m.set_ip(m.c331_fd, 0);
    EXPECT_EQ((U{reg(0x15, 0x70), reg(0x15, 0x08), reg(0x15, 0x6B), reg(0x12, 0x08)}), (U{0, 0, 0, 0}));
    // Interlaced state 2: still the full set-up.
    input(540, 2, 1);
    m.set_ip(m.c331_fd, 0);
    EXPECT_EQ(reg(0x14, 0x2A), 32u);
}

TEST_F(ScalerOutput, AnUpdateThatNeverComesEndsTheManagerPassOnce)
{
    twoWindows();
    std::copy(std::begin(para.ram), std::end(para.ram), std::begin(para.ram_backup));
    m.PM_WIN_FADE_EN[0] = 1;
    m.PM_WIN_FADE_IN[0] = m.PM_WIN_FADE_OUT[0] = 60;
    sim::ScalerModel::withholdDoneBits(0, 0x01);
    // Three window edits in one apply pass: window 0 mirrored (a fade of 121 steps), window
    // 1 mirrored and then black (a freeze each), every one re-programming the windows.
    setWord(window(0, 4), 1);
    setWord(window(1, 4), 1);
    setWord(window(1, 18), 1);
    m.c331_stage = 8;
    m.c331_apply_flag = 1;
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    m.c331manage_pass();
    // The apply half holds the scaler all along: one wait of
    // 70,000 polls of 1 ms in the whole pass (70 s), then every other wait goes on at once.
    const int seconds = int((sim::SimBoard::virtualMicroseconds() - before) / 1000000);
    EXPECT_EQ((std::vector<int>{count("c331_SetWinAttr(0,1)"), count("c331_SetWinAttr(1,1)"),
                                count("c331_SetWinOutput(1,1)"), m.c331_apply_flag, seconds}),
              (std::vector<int>{1, 1, 1, 0, 70}));
    // A wait that is answered: request bit and update request, then both back to 0; there
    // is no output channel 8 to wait for.
    sim::ScalerModel::clearFrames();
    m.wait1_povs(m.c331_fd, 2);
    m.wait1_povs(m.c331_fd, 8);
    EXPECT_EQ(kel_test::chipWrites(), kel_test::bytesOf({{5, 0x09, 1, 0x04}, {0, 0x29, 1, 0x80}, {5, 0x09, 1, 0},
                                                         {0, 0x29, 1, 0}}));
}

TEST_F(ScalerOutput, FreezeHoldsEveryWindowOnTheFirstWindowsField)
{
    twoWindows();
    const int a = m.ich_list[0][0], b = m.ich_list[1][0];
    ASSERT_GE(b, 0);
    auto field = [&](int ich) { return int(m.rd(m.c331_fd, 0xAB0001 | unsigned(0x47 + ich) << 8) >> 2) & 3; };
    auto freeze = [&] {
        m.g_chg_output[0] = m.g_chg_output[1] = 1;
        sim::ScalerModel::clearFrames();
        m.set_freeze(m.c331_fd, 1);
        m.g_chg_output[0] = m.g_chg_output[1] = 0;
    };
    // ICH b runs two fields behind: it is held once it reaches ICH a's field, which takes
    // field time, not a burst of reads.
    sim::ScalerModel::setFieldPhase(0x47 + b, 2);
    freeze();
    EXPECT_EQ(m.frozen[0] + m.frozen[1], 2);
    int aField = -1, bField = -1;
    bool held = false;
    for (const auto& f : sim::ScalerModel::frames()) {
        if (!f.write && f.bank == 0xAB && f.reg == 0x47 + a && aField < 0)
            aField = (f.value >> 2) & 3;
        if (!f.write && f.bank == 0xAB && f.reg == 0x47 + b)
            bField = (f.value >> 2) & 3;
        if (f.write && f.bank == 0x10 + 0x10 * b && f.reg == 0x09 && f.value == 2) {
            held = true;
            break;
        }
    }
    EXPECT_TRUE(held);
    EXPECT_EQ(bField, aField);
    // ICH b's field never comes round: after the bound it is held all the same.
    sim::ScalerModel::setFieldPhase(0x47 + b, 0);
    if (field(a) == 3)
        sim::ScalerModel::setFieldPhase(0x47 + a, 1);
    sim::ScalerModel::setStuckBits(0xAB, 0x47 + b, 0x0C);
    freeze();
    EXPECT_EQ(writes(0x10 + 0x10 * b, 0x09), (U{2}));
    int looks = 0;   // one look at ICH b's field per pass, 250 passes, and the field it is held in
    for (const auto& f : sim::ScalerModel::frames())
        looks += !f.write && f.bank == 0xAB && f.reg == 0x47 + b;
    EXPECT_EQ(looks, 251);
    // Both inputs in field 3 and the record as the channel set-up leaves it, 0 1 2 3 4:
    // entry (3 + 3) mod 4 = 2 trades places with the spare, 0 1 4 3 2. The whole freeze,
    // then the return to the rotation (3 0 1 4 on both output channels).
    for (int w : {0, 1})
        for (int i = 0; i < 5; ++i)
            m.field_rec[w][i] = i;
    sim::ScalerModel::setStuckBits(0xAB, 0x47 + a, 0x0C);
    freeze();
    EXPECT_EQ(kel_test::chipWrites(),
              kel_test::bytesOf({{0, 0x29, 1, 1}, {0, 0x22, 4, 0}, {0, 0x26, 3, 0}, {0, 0x29, 1, 0},
                                 {0x10 + 0x10 * a, 0x09, 1, 2}, {0x10 + 0x10 * b, 0x09, 1, 2},
                                 {0, 0x08 + a, 1, 1}, {0, 0x08 + b, 1, 1},
                                 {5, 0x09, 1, 1}, {0, 0x29, 1, 0x80}, {5, 0x09, 1, 0}, {0, 0x29, 1, 0},
                                 {0x16 + 0x10 * a, 0x66, 3, 0x23410}, {0x16 + 0x10 * b, 0x66, 3, 0x23410},
                                 {0x16, 0x6C, 2, 0x2222}, {0x26, 0x6C, 2, 0x2222}}));
    m.set_freeze(m.c331_fd, 0);   // the return to the rotation, and windows without a channel, are the memory check's
    EXPECT_EQ(m.frozen[0] + m.frozen[1], 0);
}

TEST_F(ScalerOutput, TheTopPhaseOfAnEnlargedCellStaysTheLargest)
{
    // 3794 pixels enlarged to 3800 from x = 6: f = 65433; cell 1 starts at output pixel 1914,
    // input 1910, read from 1906, start index 1910, whose fraction 65414 / 256 rounds to 256:
    // the phase register holds 255, not 256 cut to 0.
    twoCellWindow(3794);
    setWindow(0, 1, 6, 0, 3800, 1080);
    relayout();
    m.set_output(m.c331_fd);
    ASSERT_EQ(m.PM_WIN_NUM[1], 0);
    EXPECT_EQ((U{reg(0x0A, 0x49, 2, 1), reg(0x0A, 0x47, 1, 1), reg(0x0A, 0x48, 1, 1), reg(0x08, 0x40, 2, 1)}),
              (U{65433, 255, 255, unsigned(m.PS_ACTHST - 4)}));
}

TEST_F(ScalerOutput, TheProcessingStageTakesTheChannelsMeasuredTotals)
{
    // The channel's own measurement (bank 0xA8 + 6 x ICH: total less one, active width) sets
    // the deinterlacer's line buffer: h = total (+ 1, halved, when interlaced) + 32; then
    // the scan's own settings.
    auto stage = [](int ich) {
        std::vector<kel_test::ChipByte> v;
        for (const kel_test::ChipByte& b : kel_test::chipWrites())
            if (b.bank == 0x14 + 0x10 * ich &&
                ((b.reg >= 0x08 && b.reg < 0x15) || b.reg == 0x6D || b.reg == 0x6E || b.reg == 0x2A || b.reg == 0x67 ||
                 b.reg == 0x68))
                v.push_back(b);
        return v;
    };
    // The line buffer, register 0x6D, the vertical start and the scan's three values vary.
    auto want = [](int bank, uint32_t h, uint32_t t, uint32_t vst, uint32_t r2a, uint32_t r67, uint32_t r68) {
        return kel_test::bytesOf({{bank, 0x08, 2, h}, {bank, 0x0A, 2, 3872}, {bank, 0x6D, 2, t | 0x8000},
                                  {bank, 0x0C, 1, 1}, {bank, 0x0F, 2, 1920}, {bank, 0x13, 2, 1080},
                                  {bank, 0x11, 2, vst | 0x8000}, {bank, 0x2A, 1, r2a}, {bank, 0x67, 1, r67},
                                  {bank, 0x68, 1, r68}});
    };
    m.ich_owner[0] = 0;
    m.PM_INPUT[0] = 1;
    sim::ScalerModel::setReg(0, 0x10, 2);   // ICH 0 takes port 1
    publish(1, 1920, 1080, 2200, 1125, 60);
    m.PI_ACT[1] = {192, 1920, 41, 1080};
    m.PI_PORT_INFO[1].STATE = 4;
    m.PI_PORT_INFO[1].IP = 0;
    m.PM_HNR[1] = 1;
    sim::ScalerModel::clearFrames();
    m.set_ip(m.c331_fd, 0);
    EXPECT_EQ(stage(0), want(0x14, 1157, 868, 41, 16, 0, 0));
    // Fields of 562 lines on ICH 2: T = 562 + 1, h = 281 + 32; height and start doubled.
    m.ich_owner[2] = 1;
    m.PM_INPUT[1] = 1;
    sim::ScalerModel::setReg(0, 0x12, 2);
    publish(1, 1920, 540, 2200, 562, 60, 1);
    m.PI_ACT[1] = {192, 1920, 20, 540};
    m.PI_PORT_INFO[1].STATE = 5;
    m.PI_PORT_INFO[1].IP = 1;
    sim::ScalerModel::clearFrames();
    m.set_ip(m.c331_fd, 2);
    EXPECT_EQ(stage(2), want(0x34, 313, 235, 40, 32, 8, 4));
}

TEST_F(ScalerOutput, ProcessingRecipesRegisterByRegister)
{
    struct R {
        int reg, bytes;
        unsigned value;
    };
    using Rs = std::vector<R>;
    const int ich = 1, in = 1;   // channel 1: every bank 0x10 on
    auto fill = [&](int bank) {
        for (int r = 1; r < 0x80; ++r)
            sim::ScalerModel::setReg(bank + 0x10 * ich, r, 0xEE);
    };
    auto check = [&](int bank, const Rs& rs, const std::string& what) {
        for (const R& r : rs)
            EXPECT_EQ(reg(bank, r.reg, r.bytes, ich), r.value) << what << std::hex << " reg 0x" << r.reg;
    };
    auto span = [](int from, int to, unsigned v) {
        Rs rs;
        for (int r = from; r <= to; ++r)
            rs.push_back({r, 1, v});
        return rs;
    };
    auto join = [](Rs a, const Rs& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    m.PI_PORT_INFO[in].STATE = 4;

    // Block noise: the shared part, each level's row, each recipe's row.
    const Rs common = join({{0x3C, 1, 64}, {0x3D, 1, 80}, {0x3E, 1, 96}, {0x3F, 1, 128}, {0x45, 1, 64},
                            {0x46, 1, 0},  {0x47, 1, 0},  {0x48, 1, 6},  {0x49, 1, 4},   {0x4A, 1, 64},
                            {0x4B, 1, 18}, {0x4C, 1, 16}, {0x51, 1, 64}, {0x52, 1, 18},  {0x53, 1, 16},
                            {0x5C, 2, 0},  {0x5E, 2, 0},  {0x60, 2, 0},  {0x62, 2, 0},   {0x64, 1, 18},
                            {0x65, 1, 0},  {0x66, 1, 0},  {0x67, 2, 0},  {0x69, 1, 8}},
                           span(0x58, 0x5B, 0));
    const Rs levels[3] = {{{0x39, 2, 8855}, {0x3B, 1, 144}, {0x40, 1, 32}, {0x41, 1, 132}, {0x42, 1, 65}, {0x43, 1, 6}, {0x44, 1, 16}},
                          {{0x39, 2, 8855}, {0x3B, 1, 160}, {0x40, 1, 16}, {0x41, 1, 66}, {0x42, 1, 51}, {0x43, 1, 4}, {0x44, 1, 16}},
                          {{0x39, 2, 3223}, {0x3B, 1, 176}, {0x40, 1, 16}, {0x41, 1, 66}, {0x42, 1, 51}, {0x43, 1, 4}, {0x44, 1, 6}}};
    const std::pair<int, Rs> recipes[5] = {
        {240, {{0x08, 1, 0}, {0x4D, 2, 64}, {0x4F, 2, 16}, {0x54, 2, 64}, {0x56, 2, 16}, {0x6A, 1, 8}}},
        {480, {{0x08, 1, 3}, {0x4D, 2, 64}, {0x4F, 2, 16}, {0x54, 2, 128}, {0x56, 2, 32}, {0x6A, 1, 6}}},
        {720, {{0x08, 1, 3}, {0x4D, 2, 171}, {0x4F, 2, 43}, {0x54, 2, 342}, {0x56, 2, 86}, {0x6A, 1, 16}}},
        {540, {{0x08, 1, 0}, {0x4D, 2, 384}, {0x4F, 2, 96}, {0x54, 2, 384}, {0x56, 2, 96}, {0x6A, 1, 48}}},
        {1080, {{0x08, 1, 3}, {0x4D, 2, 384}, {0x4F, 2, 96}, {0x54, 2, 768}, {0x56, 2, 192}, {0x6A, 1, 36}}}};
    for (const auto& [height, row] : recipes)
        for (int level = 1; level <= 3; ++level) {
            fill(0x15);
            m.PI_ACT[in] = {192, 1920, 41, height};
            m.PM_BNR[in] = level;
            m.set_nr_block(m.c331_fd, ich, in);
            check(0x15, join(join(common, levels[level - 1]), row),
                  "block " + std::to_string(height) + "/" + std::to_string(level));
        }
    fill(0x15);
    m.PM_BNR[in] = 4;   // above 3: nothing
    m.set_nr_block(m.c331_fd, ich, in);
    EXPECT_EQ(reg(0x15, 0x39, 2, ich), 0xEEEEu);

    // Temporal noise (bank 0x12).
    const unsigned tpx[3][7] = {{18, 20, 24, 27, 28, 29, 30}, {17, 18, 20, 22, 24, 26, 28}, {0, 8, 12, 16, 20, 24, 28}};
    fill(0x12);
    m.PM_TNR[in] = 0;   // off: the enable alone
    m.set_nr_tpx(m.c331_fd, ich, in);
    check(0x12, {{0x08, 1, 0}, {0x09, 1, 0xEE}}, "temporal 0");
    for (int level = 1; level <= 3; ++level) {
        fill(0x12);
        m.PM_TNR[in] = level;
        m.set_nr_tpx(m.c331_fd, ich, in);
        Rs rs = {{0x08, 1, 3}, {0x09, 1, 49}, {0x0A, 1, 117}, {0x0B, 1, 185}, {0x0C, 1, 253}, {0x14, 1, 31}};
        for (int i = 0; i < 7; ++i)
            rs.push_back({0x0D + i, 1, tpx[level - 1][i]});
        check(0x12, rs, "temporal " + std::to_string(level));
    }

    // Horizontal and vertical pixel noise (bank 0x15).
    m.PM_HNR[in] = 1;
    m.PM_VNR[in] = 3;
    m.set_nr_hvpx(m.c331_fd, ich, in);
    check(0x15, {{0x6B, 1, 17}, {0x6E, 1, 66}, {0x6F, 1, 150}, {0x6C, 1, 168}, {0x6D, 1, 252}}, "hv 1/3");
    m.PM_HNR[in] = 2;
    m.PM_VNR[in] = 0;
    m.set_nr_hvpx(m.c331_fd, ich, in);
    check(0x15, {{0x6B, 1, 1}, {0x6E, 1, 117}, {0x6F, 1, 201}, {0x6C, 1, 0}, {0x6D, 1, 0}}, "hv 2/0");

    // Mosquito noise (bank 0x15), registers 0x09 to 0x2E (-1: 0x27, not written).
    const int mosq[3][26] = {
        {63, 63, 127, 127, 127, 127, 63, 63, 127, 127, 127, 127, 252, 32, 213, 127, 24, 36, 0, 0, 0, 0, 0, -1, 64, 81},
        {127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 252, 63, 217, 255, 24, 0, 0, 0, 0, 0, 0, -1, 64, 0},
        {127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 127, 252, 255, 217, 111, 0, 0, 0, 0, 0, 0, 0, -1, 0, 0}};
    for (int level = 1; level <= 3; ++level) {
        fill(0x15);
        m.PM_MNR[in] = level;
        m.set_nr_mosq(m.c331_fd, ich, in);
        Rs rs = join({{0x09, 1, 1}, {0x0A, 1, 128}, {0x0B, 1, 56}, {0x0C, 1, 8}, {0x0D, 1, 128}, {0x0E, 1, 56},
                      {0x0F, 1, 8}},
                     span(0x2A, 0x2E, 0));
        for (int i = 0; i < 26; ++i)
            if (mosq[level - 1][i] >= 0)
                rs.push_back({0x10 + i, 1, unsigned(mosq[level - 1][i])});
        check(0x15, rs, "mosquito " + std::to_string(level));
    }

    // Diagonal interpolation and comb filter (bank 0x14).
    const unsigned diag[3][16] = {{9, 255, 119, 0, 4, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 50},
                                  {11, 127, 119, 3, 4, 16, 1, 4, 10, 20, 4, 4, 2, 2, 16, 50},
                                  {11, 127, 119, 19, 9, 16, 3, 8, 10, 20, 4, 4, 2, 2, 16, 49}};
    const unsigned comb[3][2] = {{16, 128}, {20, 128}, {112, 160}};
    for (int level = 1; level <= 3; ++level) {
        fill(0x14);
        m.PM_DIAG[in] = m.PM_COMB[in] = level;
        m.set_diag(m.c331_fd, ich, in);
        m.set_comb(m.c331_fd, ich, in);
        Rs rs = join(span(0x60, 0x63, 0), {{0x3B, 1, 1}, {0x3C, 1, comb[level - 1][0]}, {0x3D, 1, comb[level - 1][1]}});
        for (int i = 0; i < 16; ++i)
            rs.push_back({0x50 + i, 1, diag[level - 1][i]});
        check(0x14, rs, "diagonal and comb " + std::to_string(level));
    }

    // Film-mode detection (bank 0x14) by state; 0x30 ends as the two thresholds.
    const unsigned film[4][11] = {{26, 16, 0x52, 142, 6, 128, 192, 193, 0, 193, 193},
                                  {26, 16, 0x52, 142, 6, 128, 192, 0, 0, 0, 0},
                                  {13, 3, 0x52, 53, 2, 128, 40, 196, 196, 194, 194},
                                  {13, 3, 0x52, 69, 2, 128, 40, 0, 0, 0, 0}};
    m.PM_23PDSQTH[in] = 2;
    m.PM_22PDSQTH[in] = 5;
    for (int state = 5; state <= 8; ++state) {
        fill(0x14);
        m.PI_PORT_INFO[in].STATE = state;
        m.PM_22PD[in] = state == 6;
        m.PM_23PD[in] = state == 7;
        m.PM_24SF[in] = state == 8;
        m.set_ipregs(m.c331_fd, ich, in);
        const unsigned* f = film[state - 5];
        Rs rs = {{0x2E, 1, f[0]}, {0x2F, 1, f[1]}, {0x30, 1, f[2]}, {0x31, 1, f[3]}, {0x32, 1, f[4]},
                 {0x33, 1, f[5]}, {0x34, 1, f[6]}, {0x35, 1, f[7]}, {0x36, 1, f[7]}, {0x37, 1, f[7]},
                 {0x38, 1, f[8]}, {0x39, 1, f[9]}, {0x3A, 1, f[10]}};
        const bool early = state <= 6;
        const unsigned tail[9] = {early ? 68u : 70u, 0, 3, 0, 0, early ? 2u : 0u, early ? 15u : 9u, 0, 0};
        for (int i = 0; i < 9; ++i)
            rs.push_back({0x42 + i, 1, tail[i]});
        rs.push_back({0x2C, 1, 50u + (state == 6 ? 64 : 0) + (state == 7 ? 128 : 0) + (early ? 1 : 0)});
        rs.push_back({0x2D, 1, state == 8 ? 25u : 9u});
        check(0x14, rs, "film " + std::to_string(state));
    }
    fill(0x14);
    m.PI_PORT_INFO[in].STATE = 4;
    m.set_ipregs(m.c331_fd, ich, in);
    EXPECT_EQ(reg(0x14, 0x2E, 1, ich), 0xEEu);
    m.PI_PORT_INFO[in].STATE = 4;

    // Switched off (state 3 or below): the enables and the coefficient registers cleared,
    // and nothing else.
    fill(0x14);
    m.PI_PORT_INFO[in].STATE = 3;
    m.set_comb(m.c331_fd, ich, in);
    m.set_diag(m.c331_fd, ich, in);
    m.set_mvflt(m.c331_fd, ich, in);
    check(0x14, join(join(span(0x50, 0x5F, 0), span(0x1A, 0x21, 0)), {{0x3B, 1, 0}, {0x15, 1, 0}}), "off");
    check(0x14, {{0x3C, 1, 0xEE}, {0x60, 1, 0xEE}, {0x16, 1, 0xEE}, {0x22, 1, 0xEE}}, "off, untouched");
    m.PI_PORT_INFO[in].STATE = 4;


    sim::ScalerModel::clearFrames();
    for (auto fn : {&c331_manage::set_nr, &c331_manage::set_nr_block, &c331_manage::set_nr_tpx,
                    &c331_manage::set_nr_hvpx, &c331_manage::set_nr_mosq, &c331_manage::set_diag,
                    &c331_manage::set_comb, &c331_manage::set_mvflt, &c331_manage::set_ipregs})
        (m.*fn)(m.c331_fd, 4, in);
    m.set_ip(m.c331_fd, 4);
    EXPECT_TRUE(kel_test::chipWrites().empty());

    // Motion filter (bank 0x14): the same four values in both groups.
    const unsigned mv[5][4] = {{0, 0, 0, 0}, {4, 4, 8, 8}, {8, 8, 8, 16}, {8, 8, 16, 24}, {16, 16, 24, 31}};
    for (int level = 0; level <= 4; ++level) {
        fill(0x14);
        m.PM_MVFLT[in] = level;
        m.set_mvflt(m.c331_fd, ich, in);
        Rs rs = {{0x15, 1, level ? 31u : 0u}, {0x22, 1, 0xEE}};   // 0x21 is the last
        for (int i = 0; i < 4; ++i) {
            rs.push_back({0x1A + i, 1, mv[level][i]});
            rs.push_back({0x1E + i, 1, mv[level][i]});
        }
        check(0x14, rs, "motion " + std::to_string(level));
    }
}
