// Scaler start-up: chip identification, parameters, the power-on register image, the
// timing routines and the DBD frame-memory allocator.
#include "core/global.h"
#include "tests/support/OmenuFile.h"
#include "tests/support/ScalerHarness.h"
#include "tests/support/ScalerLog.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

using U = std::vector<unsigned>;
using kel_test::countOf;

class ScalerStartup : public kel_test::ScalerHarness {
protected:
    void SetUp() override
    {
        kel_test::ScalerHarness::SetUp();
        g_fpga_c331_start = 0;
    }
    void nextRetry() { sim::SimBoard::advanceVirtual(c331_manage::kIdRetryUs); }
};

} // namespace

TEST_F(ScalerStartup, FiveGoodIdReadsAreNeededNotInARow)
{
    const uint8_t ids[6] = {0x24, 0x00, 0x24, 0x24, 0x24, 0x24};
    const uint8_t stages[6] = {1, 1, 2, 3, 4, 5};
    for (int i = 0; i < 6; ++i) {
        sim::ScalerModel::setChipId(ids[i]);
        nextRetry();
        m.c331manage_pass();
        EXPECT_EQ(m.c331_stage, stages[i]) << "read " << i + 1;
    }
}

TEST_F(ScalerStartup, AWrongIdIsRetriedAtAPacedRateAndPrintedWhenItChanges)
{
    sim::ScalerModel::setChipId(0x00);
    testing::internal::CaptureStdout();
    m.c331manage_pass();
    // Passes before the retry time read nothing.
    sim::ScalerModel::clearFrames();
    for (int i = 0; i < 10; ++i)
        m.c331manage_pass();
    EXPECT_TRUE(sim::ScalerModel::frames().empty());
    // Later reads of the same value are not printed again; a new value is.
    nextRetry();
    m.c331manage_pass();
    EXPECT_FALSE(sim::ScalerModel::frames().empty());
    nextRetry();
    m.c331manage_pass();
    sim::ScalerModel::setChipId(0x31);
    nextRetry();
    m.c331manage_pass();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<int>{countOf(out, "error c331_id = 00"), countOf(out, "error c331_id = 31"), m.c331_stage}),
              (std::vector<int>{1, 1, 0}));

    // A status bit stuck busy in the id register is a wrong id too.
    sim::ScalerModel::setChipId(0x24);
    sim::ScalerModel::setStuckBits(0xB2, 0x08, 0x80);
    nextRetry();
    m.c331manage_pass();
    EXPECT_EQ(m.c331_stage, 0);
    sim::ScalerModel::setStuckBits(0xB2, 0x08, 0);
    nextRetry();
    m.c331manage_pass();
    EXPECT_EQ(m.c331_stage, 1);
}

TEST_F(ScalerStartup, DerivedParametersAndPanelShapes)
{
    using V = std::vector<int>;
    m.load_system_param();
    m.define_param();
    // The active area's ends are in the power-on sequence.
    EXPECT_EQ((V{m.PS_ACTHST, m.PS_ACTVST, m.PS_CLK_DERIVED, m.PM_OSD_SCROLL_SPEED, m.PM_OSD_CHAR_64DOT,
                 m.PS_VBOTX_MODE, m.PS_VBOTX_LAYOUT}),
              (V{176, 82, 200000000, 32, 1, 0, 0}));
    struct Case {
        int mode, layout, hw, vw, hs, vs;
    } cases[] = {{0, 0, 4 * 1920, 2160, 4, 1},     {0, 1, 2 * 1920, 2 * 2160, 2, 2}, {2, 0, 2 * 1920, 2160, 2, 1},
                 {2, 1, 1920, 2 * 2160, 1, 2},     {1, 0, 8 * 1920, 2160, 8, 1},     {5, 3, 4 * 1920, 2 * 2160, 4, 2}};
    for (const Case& c : cases) {
        m.PS_VBOTX_MODE = c.mode;
        m.PS_VBOTX_LAYOUT = c.layout;
        m.define_param();
        EXPECT_EQ((V{m.PS_PANEL_HW, m.PS_PANEL_VW, m.PS_PANEL_HSHAPE, m.PS_PANEL_VSHAPE}), (V{c.hw, c.vw, c.hs, c.vs}))
            << c.mode << "/" << c.layout;
    }
}

TEST_F(ScalerStartup, DefaultModeSetRaisesTheFlagsOfWhatChanged)
{
    m.load_param();
    // The 160 words of the default mode set, in their order.
    const std::vector<int32_t> want = {
        2, 1, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1,                                     // shapes
        4, 5, 1, 2, 3, 0,                                                       // inputs
        100, 100, 100, 100, 0, 0, 0, 0, 0, 0, 540, 0, 0, 0, 1080, 0, 0, 0, 1080, 0, 0, 0, 540, 0,
        100, 100, 200, 200, 0, 0, 0, 0, 400, 0, 200, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        1, 0, 0, 0, 0, 0,                                                       // input offsets on
        0, 0, 1, 1, 2, 3, 4, 5,                                                 // channel owners
        0, 1, 0, 1, 0, 0, 0, 0,                                                 // positions
        0, 0, 0, 0, 1, 2, 3, 4,                                                 // overlay
        1, 0, 2, 3, 4, 5,                                                       // priorities
        0, 0, 0, 1, 1, 1, 0, 0, 1, 0, 1, 0,                                     // attribute bits
        0, 1, 1, 1, 0, 1, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60, 60,       // fades
        0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0,                                     // DBD words
        0, 0, 0, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0};                        // OSD and the rest
    std::vector<int32_t> got;
    auto take = [&](const int32_t* p, int n) { got.insert(got.end(), p, p + n); };
    for (int w = 0; w < 6; ++w)
        take(m.PM_WIN_SHAPE[w], 2);
    take(m.PM_INPUT, 6);
    for (int w = 0; w < 6; ++w)
        take(m.PM_WIN_OFFSET[w], 4);
    for (int w = 0; w < 6; ++w)
        take(m.PM_INPUT_OFFSET[w], 4);
    for (const int32_t* p : {m.PM_INPUT_OFFSET_EN})
        take(p, 6);
    for (const int32_t* p : {m.PM_WIN_NUM, m.PM_AREA_NUM, m.PM_OVERLAY})
        take(p, 8);
    for (const int32_t* p : {m.PM_OVERLAY_PRI, m.PM_WIN_ATTR0, m.PM_WIN_ATTR1, m.PM_WIN_FADE_EN, m.PM_WIN_FADE_IN,
                             m.PM_WIN_FADE_OUT, m.PM_WIN_DBD_MODE, m.PM_WIN_DBD_MODE2})
        take(p, 6);
    for (int32_t v : {m.PM_OSD_EN, m.PM_OSD_HZOOM_EN, m.PM_OSD_VZOOM_EN, m.PM_OSD_DATA_MODE, m.PM_OSD_SCROLL_MODE})
        got.push_back(v);
    take(m.PM_OSD_OUTPUT_OFFSET, 4);
    take(m.PM_OSD_INPUT_OFFSET, 4);
    take(m.PM_SINGLE_WORD, 2);
    got.push_back(m.PM_OSD_UPDATE_BUTTON);
    ASSERT_EQ(want.size(), 160u);
    EXPECT_EQ(got, want);
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(m.PM_WIN_STITCHING[w], w);
    // Window 5 shows port 0, which is what it held: no input change for it. Window 3's
    // attribute bit 0 is 1; the fade times are 60.
    auto flags = [&] {
        return std::vector<int>{m.g_chg_input[0], m.g_chg_input[5], m.g_chg_dbd[2],   m.g_chg_dbd[0], m.g_chg_overlay,
                                m.g_chg_priority, m.g_chg_osd,      m.g_chg_attr[0], m.g_chg_attr[3], m.g_chg_fade[0]};
    };
    EXPECT_EQ(flags(), (std::vector<int>{1, 0, 1, 0, 1, 1, 1, 0, 1, 1}));
    // Loading the same set again changes nothing.
    m.load_param();
    EXPECT_EQ(flags(), std::vector<int>(10, 0));
    for (int w = 0; w < 6; ++w)
        EXPECT_EQ(m.g_chg_input[w] + m.g_chg_shape[w], 0) << w;
}

TEST_F(ScalerStartup, PowerOnSequence)
{
    // The whole power-on sequence with the default parameters (output 2200 x 2250, HSW 88,
    // VSW 10, active area 176-2096 by 82-2242, transmitter mode 0). Value -1: a register
    // whose value the sequence takes from unnamed constants.
    auto sequence = [](bool full) {
        std::vector<kel_test::ChipByte> s;
        auto add = [&](int bank, int reg, int bytes, long long value) {
            for (int i = 0; i < bytes; ++i)
                s.push_back({bank, reg + i, value < 0 ? -1 : int((value >> (8 * i)) & 0xFF)});
        };
        // Registers of one width from first on, step apart.
        auto seq = [&](int bank, int first, std::initializer_list<long long> values, int bytes = 1, int step = 1) {
            for (long long v : values)
                add(bank, first, bytes, v), first += step;
        };
        auto run = [&](int bank, int from, int to, int value) {
            for (int r = from; r <= to; ++r)
                add(bank, r, 1, value);
        };
        if (full) {
            // Register 0x00 = 8 first: register 0 is where banks are selected, so the log
            // lists that write as a bank select.
            seq(0xFF, 0x01, {0, 200, 0, 97});
            add(0xFF, 0x05, 3, 1);
        }
        run(0, 0x08, 0x0F, 0x11);
        seq(0, 0x10, {0, 2, 4, 6, 8, 10, 12, 14});
        add(0, 0x18, 2, 0);
        run(0, 0x1A, 0x1D, 4);
        seq(0, 0x1E, {0x0404, 0x0404}, 2, 2);
        add(0, 0x38, 1, 0);
        add(0, 0x39, 2, 0x0202);
        run(0, 0x22, 0x27, 0);
        seq(0, 0x46, {0, 0, 137, 0, 1, 22, 0, 0, 0, 0, 0, 137, 0, 2, 24});
        add(0, 0x55, 2, 0);
        run(0, 0x59, 0x60, 0x11);
        run(0, 0x61, 0x68, 24);
        run(0, 0x69, 0x78, 0);
        add(0, 0x79, 1, 46);
        for (int k = 0; k < 8; ++k)
            seq(0, 0x7A, {0x80 + 4 * k, 0x81 + 4 * k}, 1, 0);
        seq(3, 0x1B, {192, 3840}, 2, 2);
        seq(3, 0x42, {9}), seq(3, 0x44, {43, 9}), seq(3, 0x43, {9}), seq(3, 0x4C, {43, 9});
        add(5, 0x7E, 2, 64);
        add(3, 0x55, 4, 0x10000);
        add(3, 0x5E, 4, 0x76543210);
        add(3, 0x62, 4, 0x76543210);
        add(4, 0x2B, 2, 0xF000);
        seq(6, 0x38, {0x07070707, 0x33333333}, 4, 4);
        for (int c = 0, o = 0; c < 8; ++c, o += 0x10) {
            add(0x08 + o, 0x08, 2, c == 0 ? 0x0201 : c <= 3 ? 0x1211 : 0x11);
            add(0x0E + o, 0x08, 1, c < 4 ? 10 : 1);
            add(0x0E + o, 0x09, 4, 8 + c);
            add(0x0E + o, 0x0D, 2, 85);
            if (c < 4)
                add(0x0E + o, 0x17, 1, 0x80);
            add(0x10 + o, 0x09, 1, c == 5 ? 12 : c == 7 ? 14 : 1);
            add(0x16 + o, 0x65, 1, 1);
            add(0x16 + o, 0x66, 3, 274960);
            add(0x16 + o, 0x6B, 1, 0);
            add(0x16 + o, 0x6C, 2, 8451);
        }
        for (int o = 0; o < 0x80; o += 0x10) {
            seq(0x08 + o, 0x0A, {2198, 2248}, 2, 2);
            add(0x08 + o, 0x1D, 1, 64);
            seq(0x08 + o, 0x28, {176, 2096, 82, 2242, 176, 2096, 82, 2242}, 2, 2);
            seq(0x08 + o, 0x40, {-1, 0, -1, 2161}, 2, 2);
            seq(0x09 + o, 0x0A, {255, 255, 255, 255}, 2, 2);
            run(0x0A + o, 0x44, 0x4E, 0);
            add(0x0B + o, 0x5E, 1, 1);
            add(0x0C + o, 0x48, 1, 0);
            seq(0x0C + o, 0x49, {12901, 8192, 0, 61701, 8192, 64002, 0, 8192, 15201}, 2, 2);
            seq(0x10 + o, 0x10, {0x80, 0x80});
            add(0x10 + o, 0x28, 1, 136);
            seq(0x10 + o, 0x29, {0, 0, 0, 512, 512, 512, 16384, 50653, 64035, 6966, 23436, 2366, 61781, 52907, 16384},
                2, 2);
            seq(0x10 + o, 0x47, {0, 4, 8});
            run(0x11 + o, 0x42, 0x4C, 0);
        }
        const long long plane[5] = {0, 0x08800000, 0x11000000, 0x19800000, 0x22000000};
        const int slot[8] = {0, 1, 2, 3, 4, 4, 6, 6}, extra[8] = {0, 0, 0, 0, 0, 7680, 0, 7680};
        for (int c = 0; c < 8; ++c) {
            for (int i = 0; i < 5; ++i)
                add(0x16 + 0x10 * c, 0x1C + 4 * i, 4, plane[i] + 0x2000 * slot[c] + extra[c]);
            seq(0x16 + 0x10 * c, 0x30, {64, 64});
        }
        for (int o = 0; o < 0x40; o += 0x10) {
            add(0x14 + o, 0x0D, 2, 16);
            seq(0x14 + o, 0x16, {1, 1, 2, 8}), seq(0x14 + o, 0x22, {0, 0x11});
            seq(0x17 + o, 0x58, {-1, -1}, 4, 3);
        }
        if (full) {
            seq(0xFF, 0x02, {0}), seq(0xFF, 0x04, {0}), seq(1, 0x26, {0}), seq(1, 0x08, {48});
            seq(1, 0x09, {0x22222222, 0x66663445, 0x22222222}, 4, 4);
            seq(1, 0x15, {119, 119, 119, 119, 7, 63, 63, 0, 16, 16, 14, 14, 48, 48, 79, 79, 9, 15, 17, 1});
            add(1, 0x29, 4, 0x88888888);
            seq(1, 0x2D, {119, 119, 119, 119, 119, 119, 119, 119, 7, 103, 101, 98, 96, 106, 103, 100, 97, 108, 8});
            seq(1, 0x40, {0x924924, 0x924924, 0x924924, 0x924924, 0x924924, 0x924924, 0x924924, 0x924924}, 3, 3);
            seq(1, 0x58, {0x6DB6DB, 0x6DB6DB, 0x6DB6DB, 0x6DB6DB, 0x6DB6DB, 0x6DB6DB, 0x6DB6DB, 0x6DB6DB}, 3, 3);
            add(1, 0x70, 4, 0x33333333);
            seq(0xFF, 0x02, {136, 200}, 1, 0), seq(0xFF, 0x04, {97});
        }
        const int band = full ? 76 : 0;   // r = 22 x 27 MHz / 4 MHz = 148
        seq(2, 0x7F, {14}), seq(2, 0x40, {5}), seq(2, 0x4F, {0x80}), seq(2, 0x4C, {163});
        seq(2, 0x7F, {13}), seq(2, 0x5C, {5}), seq(2, 0x6B, {0x80}), seq(2, 0x68, {163});
        seq(2, 0x7F, {11}), seq(2, 0x1C, {0}), add(2, 0x0A, 2, 0x11);
        seq(2, 0x10, {255}), seq(2, 0x13, {0x11}), seq(2, 0x18, {band}), seq(2, 0x1C, {1}), add(2, 0x0A, 2, 32785);
        seq(2, 0x7F, {7}), seq(2, 0x34, {0}), add(2, 0x7A, 2, 0x11);
        seq(2, 0x28, {255}), seq(2, 0x2B, {0x11}), seq(2, 0x78, {band}), seq(2, 0x34, {1}), add(2, 0x7A, 2, 32785);
        return s;
    };
    for (bool full : {true, false}) {
        SCOPED_TRACE(full ? "full" : "without clock and PHY");
        sim::ScalerModel::reset();
        m.load_system_param();
        m.define_param();
        m.drv->init_reg_acc_param();
        m.write_initial_setting(m.c331_fd, full ? 1 : 0);
        const auto want = sequence(full);
        auto got = kel_test::chipWrites();
        for (size_t i = 0; i < std::min(got.size(), want.size()); ++i)
            if (want[i].value < 0 && got[i].bank == want[i].bank && got[i].reg == want[i].reg)
                got[i].value = -1;
        const auto at = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
        EXPECT_EQ(got, want) << "first difference at byte " << (at.first - got.begin());
    }
    // The transmitter modes' lane orders and widths.
    m.PS_VBOTX_MODE = 1;
    m.write_initial_setting(m.c331_fd, 1);
    EXPECT_EQ((U{reg(3, 0x55, 4), reg(3, 0x2F, 2), reg(3, 0x39, 2), reg(3, 0x2C, 2), reg(3, 0x36, 2), reg(2, 0x08, 1)}),
              (U{0x76543210, 1920, 1920, 5, 5, 5}));
    m.PS_VBOTX_MODE = 2;
    m.write_initial_setting(m.c331_fd, 1);
    EXPECT_EQ(reg(3, 0x55, 4), 0x73625140u);
}

TEST_F(ScalerStartup, UpdateTimingIsWrittenUnderTheHoldBit)
{
    // Modes 1 and 2 are in every picture setting's bracket; the others here.
    struct Case {
        int mode;
        uint8_t regs[7];
    } cases[] = {{0, {0, 0, 0, 0, 0, 0, 0}},
                 {3, {0xFF, 0xFF, 0x21, 0x43, 0x55, 0x77, 0xFF}},
                 {9, {0x99, 0x99, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}}};
    sim::ScalerModel::setReg(0, 0x29, 0x80);
    sim::ScalerModel::clearFrames();
    for (const Case& c : cases) {
        m.set_rtct(m.c331_fd, c.mode);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(sim::ScalerModel::reg(0, 0x22 + i), c.regs[i]) << "mode " << c.mode << " reg " << 0x22 + i;
    }
    // The hold bit is set and released alone, the other bits kept; the field waits too.
    m.wait_ifld_change(m.c331_fd, 2);
    m.wait_ofld_change(m.c331_fd, 1);
    std::vector<int> holds;
    for (const auto& f : sim::ScalerModel::frames())
        if (f.write && f.bank == 0 && f.reg == 0x29)
            holds.push_back(f.value);
    EXPECT_EQ(holds, (std::vector<int>{0x81, 0x80, 0x81, 0x80, 0x81, 0x80, 0x81, 0x80, 0x81, 0x80}));
}

TEST_F(ScalerStartup, SignalRoutines)
{
    // Data-format flag of port 2 (bit 8 of the 2-byte register 0x18); port 4 is ignored.
    sim::ScalerModel::clearFrames();
    m.set_pict(m.c331_fd, 1, 2);
    EXPECT_EQ(kel_test::chipWrites(), kel_test::bytesOf({{0, 0x18, 2, 0x100}}));
    m.set_pict(m.c331_fd, 1, 4);
    EXPECT_EQ(reg(0, 0x18, 2), 0x100u);
    m.set_pict(m.c331_fd, 0, 2);
    EXPECT_EQ(reg(0, 0x18, 2), 0u);

    // Sync polarity of port 1: code Vpol | Hpol x 2, with bit 2, in the port's byte.
    sim::ScalerModel::setReg(6, 0x38, 0x07);
    m.PI_HDMI_INFO[1].Vpol = 1;
    m.PI_HDMI_INFO[1].Hpol = 0;
    m.set_sypol(m.c331_fd, 0, 1);
    EXPECT_EQ(reg(6, 0x38, 4), 0x0507u);
    // V-by-One channel 1: the code in four nibbles of the upper half.
    m.PI_HDMI_INFO[5].Vpol = 1;
    m.PI_HDMI_INFO[5].Hpol = 1;
    m.PI_HDMI_INFO[5].lane = 4;
    m.set_VBOInput(m.c331_fd, 1);
    EXPECT_EQ((U{reg(6, 0x3C, 4), reg(0, 0x20, 2), reg(0, 0x3A)}), (U{0x33330000, 0x11, 4}));

    // Frequency range of receiver 0: below 50 MHz sets bit 3, mode 1 toggles it.
    m.set_VBORXfrange(m.c331_fd, 0, 40000000, 0);
    const unsigned low = reg(2, 0x4C) & 8;
    m.set_VBORXfrange(m.c331_fd, 0, 0, 1);
    EXPECT_EQ((U{low, reg(2, 0x4C) & 8}), (U{8, 0}));

    // Field waits finish on the chip's next field; out-of-range numbers return 0.
    const int f = m.wait_ifld_change(m.c331_fd, 2);
    EXPECT_GE(f, 0);
    EXPECT_LE(f, 3);
    EXPECT_EQ((std::vector<int>{m.wait_ifld_change(m.c331_fd, 6), m.wait_ofld_change(m.c331_fd, 8)}), std::vector<int>(2, 0));

    // Vertical-sync wait of ICH 3: request bit and update request, then both back to 0.
    sim::ScalerModel::clearFrames();
    m.wait1_pivs(m.c331_fd, 3);
    EXPECT_EQ(kel_test::chipWrites(), kel_test::bytesOf({{5, 0x08, 1, 0x08}, {0, 0x29, 1, 0x80}, {5, 0x08, 1, 0},
                                                         {0, 0x29, 1, 0}}));
    // Polls that never see what they wait for end at their bounds: the receiver lock
    // (no signal: the frame counter runs out) after 250, the vertical sync after 1 + 45.
    auto reads = [](int bank, int reg) {
        int n = 0;
        for (const auto& f : sim::ScalerModel::frames())
            n += !f.write && f.bank == bank && f.reg == reg;
        return n;
    };
    sim::SimBoard::setScenario("input3.signal", "0");
    sim::ScalerModel::setReg(0xB2, 0x60, 0);
    sim::ScalerModel::clearFrames();
    m.set_VBORXfrange(m.c331_fd, 1, 60000000, 0);
    EXPECT_EQ(reads(0xB2, 0x60), 250);
    sim::SimBoard::setScenario("input1.signal", "1");
    sim::ScalerModel::setReg(0, 0x10 + 3, 2);   // ICH 3 takes port 1
    sim::ScalerModel::withholdDoneBits(0x08, 0);
    sim::ScalerModel::clearFrames();
    m.wait1_pivs(m.c331_fd, 3);
    EXPECT_EQ(reads(5, 0x22), 46);
    sim::ScalerModel::withholdDoneBits(0, 0);
}

TEST_F(ScalerStartup, TurnedVByOnePictureOnOutputChannelOne)
{
    m.VBORX1_4240x1360IN_ICH56_OCH1_1360x4240_setting(m.c331_fd);
    const unsigned planes[5] = {0x2A800000, 0x2BCC0000, 0x2D190000, 0x2E658000, 0x2FB20000};
    // Receiver 1 is V-by-One channel 0 (port 4); eight lanes: source codes 8 and 10, each ICH its own capture.
    EXPECT_EQ((U{reg(0, 0x15, 2), reg(0x60, 0x09), reg(0x70, 0x09)}), (U{8u | 10u << 8, 1, 1}));
    EXPECT_EQ((U{reg(0x60, 0x19, 2) + reg(0x70, 0x19, 2), reg(0x60, 0x1D, 2), reg(0x70, 0x1D, 2)}),
              (U{4240, 1360, 1360}));
    // Both captures store, and output channel 1 reads, two bytes a pixel (packing code 0x11).
    EXPECT_EQ((U{reg(0, 0x76), reg(0, 0x77), reg(0, 0x6A)}), (U{0x11, 0x11, 0x11}));
    // What the picture needs, from the registers: each ICH's pitch holds its captured line
    // of two-byte pixels, and the two captures stay apart and inside their plane.
    struct Capture {
        unsigned start, pitch, line, lines;
    };
    auto capture = [&](int bank, int k) {
        return Capture{reg(bank + 6, 0x1C + 4 * k, 4), reg(bank + 6, 0x31, 1) * 1024, 2 * reg(bank, 0x19, 2),
                       reg(bank, 0x1D, 2)};
    };
    for (int k = 0; k < 5; ++k) {   // the spare too: each ICH its own
        EXPECT_EQ(reg(0x66, 0x1C + 4 * k, 4), planes[k]);
        EXPECT_TRUE(k == 4 || reg(0x26, 0x08 + 4 * k, 4) == planes[k]);   // output channel 1 reads there
        const Capture a = capture(0x60, k), b = capture(0x70, k);
        EXPECT_GE(a.pitch, a.line);
        EXPECT_GE(b.pitch, b.line);
        EXPECT_GE(b.start, a.start + (a.lines - 1) * a.pitch + a.line) << "plane " << k;
        if (k < 4) {
            EXPECT_LE(b.start + (b.lines - 1) * b.pitch + b.line, planes[k + 1]) << "plane " << k;
        }
    }
    // Output channel 1: 1360 x 4240 from ICH 5, from the active start (88 + 88, 10 + 72).
    EXPECT_EQ((U{reg(0x18, 0x08, 2), reg(0x18, 0x40, 2), reg(0x18, 0x42, 2), reg(0x18, 0x44, 2), reg(0x18, 0x46, 2)}),
              (U{0x0511, 176, 1360, 82, 4240}));
}

TEST_F(ScalerStartup, InputBackgroundFollowsSignalAndDbdMode)
{
    m.PM_INPUT[1] = 2;
    m.gWininfo[1].totalh = 2;
    m.gWininfo[1].totalv = 1;
    m.gWininfo[1].ochLst[0] = 1, m.PM_WIN_NUM[1] = 1;   // its own channels
    m.gWininfo[1].ochLst[1] = 2, m.PM_WIN_NUM[2] = 1;
    m.PI_PORT_INFO[2].NOSIG = 1;
    m.set_input_bkg(m.c331_fd, 2, 0);   // off, but the port has no signal
    EXPECT_EQ((U{reg(0x18, 0x41), reg(0x28, 0x41), reg(0x38, 0x41)}), (U{1, 1, 0}));
    m.PM_WIN_DBD_MODE[1] = 1;   // (shown 1:1, a single input: blanked as well)
    m.set_input_bkg(m.c331_fd, 2, 0);
    EXPECT_EQ((U{reg(0x18, 0x41), reg(0x28, 0x41)}), (U{1, 1}));
    m.PI_PORT_INFO[2].NOSIG = 0;
    m.set_input_bkg(m.c331_fd, 2, 0);
    EXPECT_EQ(sim::ScalerModel::reg(0x18, 0x41), 0);
    m.PM_WIN_DBD_MODE[1] = 20;
    m.set_input_bkg(m.c331_fd, 2, 1);
    EXPECT_EQ(sim::ScalerModel::reg(0x18, 0x41), 0);
}

TEST_F(ScalerStartup, ASingleInputNeedsJoinedMemoryPastTheseSizes)
{
    // The last sizes a channel's own buffers hold: 2560 wide below port 4, 5120 from port 4 on,
    // 2176 high (the units a window takes, and where, are the memory check's).
    struct Edge {
        int port, width, height;
        bool large;
    } edges[] = {{3, 2560, 2176, false}, {3, 2561, 1080, true}, {4, 5120, 2176, false},
                 {4, 5121, 1080, true},  {4, 1920, 2177, true}};
    for (const Edge& e : edges) {
        m.PI_ACT[e.port] = {0, e.width, 0, e.height};
        EXPECT_EQ(m.check_dbd_input(m.c331_fd, e.port), e.large) << e.port << " " << e.width << "x" << e.height;
    }
}

TEST_F(ScalerStartup, StagesRunFromIdentificationToTheApplyStep)
{
    // Panel mode, LED size, output 1's size, contrast, colour temperature type and gains.
    for (auto [off, v] : {std::pair{1376, 0}, {1378, 3840}, {1380, 1080}, {1412, 1920}, {1414, 1080}, {2178, 40},
                          {2184, 1}, {2186, 0x10}, {2188, 0x20}, {2190, 0x30}})
        setWord(off, uint16_t(v));
    kel_test::OmenuItem item;
    item.text = "A\nB";
    root.writeFile("/data/configs/omenu.json", kel_test::omenuJson(item));
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i)
        m.c331manage_pass();
    EXPECT_EQ(m.c331_stage, 5);
    m.c331manage_pass();
    // Normal update timing after the image; the fonts were looked for and copied into the
    // OSD memory (four copies).
    const auto ops = sim::ScalerFlashModel::ops();
    EXPECT_EQ((U{m.c331_stage, reg(0, 0x22), unsigned(m.PM_INPUT[0]), m.g_font_addr_64CHN,
                 unsigned(std::count_if(ops.begin(), ops.end(), [](const auto& o) { return o.kind == 'D'; }))}),
              (U{6, 0x99, 4, 0x7F29F000, 4}));
    m.c331manage_pass();
    EXPECT_EQ((U{m.c331_stage, g_fpga_c331_start}), (U{7, 1}));
    EXPECT_TRUE(called("kelApi_PnlInit2(3840,1080,1920,1080,0)"));
    EXPECT_TRUE(called("set_output()"));
    m.c331manage_pass();
    EXPECT_EQ(m.c331_stage, 8);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string gains = std::to_string(1 | 0x30 << 8 | 0x20 << 16 | 0x10 << 24);
    for (const std::string& call :
         {std::string("c331_SetBrightness(50)"), std::string("c331_SetContrast(40)"), "c331_SetColorTemp(" + gains + ")"})
        EXPECT_TRUE(called(call)) << call;
    EXPECT_NE(out.find("no osd file"), std::string::npos);
    EXPECT_EQ(out.find("START OSDS"), std::string::npos);
}
