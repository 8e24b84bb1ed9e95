// Input 3's receiver, part two: output lanes and the V-by-One set-up, calibration at start-up
// and colour conversion.
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_eq.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "tests/sources/it6805_fixture.h"

#include <vector>

namespace {

struct It6805Output : It6805Test {
    // The whole setting: the transmitter clock is awaited 10 ms a step.
    void outputSetting() { for (sys->iTE6807_Video_Output_Setting(0); !sys->iTE6807_VBO_Clock_Step(0);) sim::SimBoard::advanceVirtual(10000); }
};

} // namespace

// --- output lanes and the V-by-One transmitter ---------------------------------------------

TEST_F(It6805Output, TwoLaneOutputSettingIsItsRegisterSequence)
{
    // 1080p60, 148500 kHz: no two-section mode, two lanes, 4-byte mode; the first setting
    // after initialisation restarts the video logic.
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runUntil([&] { return data().VidState == STATEV_CheckSync; }));
    drv->iTE6805_Get_PCLK(0), drv->iTE6805_Get_VID_Info(0);
    for (int r : {0x64, 0x22})
        chip().setReg(0, r, 0x00);
    for (int r : {0x20, 0xCB, 0xD3, 0xC7, 0xC0, 0xD2, 0xC6, 0xC1})
        chip().setReg(5, r, 0x00);
    chip().setReg(5, 0xC9, 0x01);
    chip().setReg(1, 0xC0, 0x01);
    chip().setReg(1, 0xBD, 0x00);
    startLog();
    outputSetting();
    EXPECT_EQ(data().VBO_LaneCount, 1);
    EXPECT_TRUE(inOrder(rxWrites(), {
        {0, 0x64, 0x00}, {0, 0x64, 0x02}, {0, 0x64, 0x00}, {5, 0x20, 0x40}, {5, 0xCB, 0x00}, {5, 0xD3, 0x80},
        {5, 0xD3, 0x00}, {5, 0xC7, 0x00}, {1, 0xC0, 0x00},                       // step 1
        {5, 0xCB, 0x00}, {0, 0x64, 0x00},                                        // two-section mode off
        {1, 0xBD, 0x10}, {5, 0xC0, 0x50},                                        // lanes, byte mode
        {5, 0xD2, 0x00}, {5, 0xD2, 0x10}, {5, 0xC6, 0x04}, {5, 0xC1, 0x00},      // transmitter clock
        {0, 0x22, 0x01}, {0, 0x22, 0x00}, {0, 0x10, 0x02}, {0, 0x12, 0x80},      // video logic reset
        {5, 0xC9, 0x00}}));
    EXPECT_EQ(bank(), 0);

    // Chip 0x10 sets its transmitter up further; 0xC9 bit 1 follows 0xDB bit 3.
    data().ChipID = 0x10;
    chip().setReg(5, 0xC9, 0x01);
    chip().setReg(5, 0xE1, 0x00);
    startLog();
    outputSetting();
    EXPECT_TRUE(inOrder(rxWrites(), {{5, 0xC6, 0x04}, {5, 0xC1, 0x00}, {5, 0xC9, 0x70}, {5, 0xD5, 0x80},
                                     {5, 0xD7, 0x0C}, {5, 0xDF, 0x87}, {5, 0xE1, 0x80}, {5, 0xC9, 0x72}}));

    // Wider than 2176 pixels: two-section mode.
    sys->timing[0].HActive = 2177;
    chip().setReg(0, 0x33, 0x00);
    startLog();
    outputSetting();
    EXPECT_EQ(data()._iTE6807_EnableTwoSectionMode_, 1);
    EXPECT_TRUE(inOrder(rxWrites(), {{5, 0xCB, 0x01}, {0, 0x64, 0x04}, {0, 0x33, 0x02}, {0, 0x33, 0x00}}));
}

TEST_F(It6805Output, OutputClockBitFollowsRepetitionSingleModeAndLanes)
{
    // Bank 1 0xB0 bit 0 is written three times: (PCLK / repetition at least 25000), cleared
    // in single mode, then (lanes above one).
    pass(2);
    struct Case {
        int code, repetition;
        uint32_t pclk;
        bool single;
        int lanes;
        std::vector<int> writes;
    } cases[] = {{0, 1, 25000, false, 0, {1, 0}}, {0, 1, 24999, false, 1, {0, 1}}, {1, 2, 50000, false, 0, {1, 0}},
                 {1, 2, 49999, false, 0, {0, 0}}, {2, 1, 24999, false, 0, {0, 0}}, {3, 4, 100000, true, 1, {1, 0, 1}},
                 {3, 4, 99999, false, 0, {0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " " + std::to_string(c.pclk));
        chip().setReg(0, 0x1B, uint8_t(c.code << 4));
        chip().setReg(1, 0xC0, c.single ? 0x00 : 0x01);
        sys->timing[0].PCLK = c.pclk;
        data().VBO_LaneCount = uint8_t(c.lanes);
        startLog();
        drv->iTE6805_Set_1B0_By_PixelClock(0);
        std::vector<int> bit0;
        for (const RegWrite& w : rxWrites())
            if (w.bank == 1 && w.reg == 0xB0)
                bit0.push_back(w.value & 0x01);
        EXPECT_EQ(std::make_pair(bit0, int(data().PixelRepetition)), std::make_pair(c.writes, c.repetition));
    }
}

TEST_F(It6805Output, VideoTristateDrivesByColourDepthAndOutputMode)
{
    // {depth code, bank 1 0xC0, the drive written after bit 7 of 0xC5 and 0xC6 is cleared}
    const std::tuple<int, int, std::vector<RegWrite>> cases[] = {
        {0x10, 0x01, {{1, 0xC6, 0x40}}}, {0x20, 0x01, {{1, 0xC6, 0x00}}}, {0x10, 0x00, {{1, 0xC5, 0x78}}},
        {0x20, 0x40, {{1, 0xC5, 0x38}}}, {0x30, 0x00, {{1, 0xC5, 0x18}}}, {0x10, 0x80, {{1, 0xC5, 0x63}}},
        {0x20, 0x80, {{1, 0xC5, 0x23}}}, {0x00, 0x80, {{1, 0xC5, 0x03}}}, {0x10, 0xC0, {}}};
    source(1920, 1080, 2200, 1125, 60);
    for (const auto& [depth, c0, drive] : cases) {
        set("depth", depth);
        chip().setReg(1, 0xC0, uint8_t(c0));
        drv->iTE6805_Set_Video_Tristate(1, 0);
        startLog();
        drv->iTE6805_Set_Video_Tristate(0, 0);
        std::vector<RegWrite> want{{1, 0xC5, 0x7F}, {1, 0xC6, 0x7F}}, got = rxWrites();
        want.insert(want.end(), drive.begin(), drive.end());
        got.erase(std::remove_if(got.begin(), got.end(), [](const RegWrite& w) { return w.bank != 1; }), got.end());
        EXPECT_EQ(std::make_pair(got, bank()), std::make_pair(want, 0)) << depth << " " << c0;
    }
}

TEST_F(It6805Output, GoingBetweenOneAndSeveralLanesRestartsTheVideoLogic)
{
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runUntil([&] { return data().Flag_VidStable_Done == 1; }));
    EXPECT_EQ(data().PrevLaneCount, 1) << "the first setting always restarts";

    // 2 -> 4 lanes: no restart; 4 -> 1 lane: restart.
    set("hfp", 44);
    set("hsync", 44);
    source(2560, 1080, 2700, 1100, 50);
    outputSetting();
    drv->iTE6805_Get_PCLK(0), drv->iTE6805_Get_VID_Info(0);
    outputSetting();
    EXPECT_EQ((std::vector<int>{data().VBO_LaneCount, data().PrevLaneCount}), (std::vector<int>{2, 1}));
    source(1600, 900, 1600, 1000, 50);
    drv->iTE6805_Get_PCLK(0), drv->iTE6805_Get_VID_Info(0);
    outputSetting();
    EXPECT_EQ((std::vector<int>{data().VBO_LaneCount, data().PrevLaneCount, bank()}), (std::vector<int>{0, 0, 0}));
}

// --- calibration at start-up ---------------------------------------------------------------

TEST_F(It6805Test, OscillatorReadOutSetsTheClockRegistersAndFallsBackTo19MHz)
{
    // unit: oscillator kHz / 100 in bank 3 0xE1 and the CEC timing register 0x0C; both are
    // bytes, so from 25600 kHz on they hold 255 instead of wrapping.
    struct Case {
        long osc;
        uint32_t rclk;
        uint8_t unit;
    } cases[] = {{20000, 20000, 200}, {25500, 25500, 255}, {25600, 25600, 255}, {27000, 27000, 255},
                 {27001, 19000, 190}, {12999, 19000, 190}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.osc);
        set("osc", c.osc);
        drv->iTE6805_OCLK_Cal(0);
        EXPECT_EQ(drv->RCLK[0], c.rclk);
        sys->p_cec_sys->iTE6805_CEC_INIT(0);
        EXPECT_EQ((std::vector<int>{sys->p_i2c->cecrd_6805(0x0C), chip().reg(3, 0xE1)}), (std::vector<int>{c.unit, c.unit}));
        const uint32_t o = c.rclk;
        EXPECT_EQ((std::vector<uint32_t>{chip().reg(0, 0x91) & 0x3Fu, chip().reg(0, 0x92), chip().reg(0, 0x45),
                                         chip().reg(0, 0x44), chip().reg(5, 0xD4), uint32_t(bank())}),
                  (std::vector<uint32_t>{o / 1000, (o % 1000) * 256 / 1000, (o / 4) / 39, (o / 4) / 195,
                                         uint8_t(2560 * (o / 2) / 1000000), 0}));
    }
    EXPECT_EQ(chip().reg(5, 0xD3), 2 * 24) << "19000 kHz: v = 24";

    set("osc", 20000);
    set("osc_ready", 0);
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    startLog();
    EXPECT_EQ(drv->iTE6805_OCLK_Load(0), 20000u);
    EXPECT_EQ(sim::SimBoard::virtualMicroseconds() - before, 5010000u) << "5000 polls of 1 ms, then 10 ms";
    EXPECT_TRUE(inOrder(rxWrites(), {{0, 0xF8, 0xC3}, {0, 0xF8, 0xA5}, {0, 0x34, 0x00}, {1, 0x5F, 0x04}, {1, 0x5F, 0x05},
                                     {1, 0x58, 0x12}, {1, 0x58, 0x02}, {0, 0xF8, 0xC3}, {1, 0x5F, 0x00}, {0, 0xF8, 0x00}}));
}

TEST_F(It6805Test, CaofCalibrationIsItsRegisterSequence)
{
    // From registers at 0: both ports' front ends set up, each calibration started and found
    // done, then everything put back. Bank selections are left out; 0x08 and 0x0D are unbanked.
    const std::vector<RegWrite> want{
        {3, 0x3A, 0x00}, {3, 0xA0, 0x80}, {3, 0xA1, 0x80}, {3, 0xA2, 0x80}, {3, 0xA4, 0x08}, {3, 0x3B, 0x00},
        {3, 0xA7, 0x10}, {3, 0x48, 0x80}, {0, 0x29, 0x01}, {0, 0x2A, 0x41}, {0, 0x2A, 0x01}, {0, 0x24, 0x04},
        {0, 0x25, 0x00}, {0, 0x26, 0x00}, {0, 0x27, 0x00}, {0, 0x28, 0x00}, {0, 0x3C, 0x00},
        {7, 0x3A, 0x00}, {7, 0xA0, 0x80}, {7, 0xA1, 0x80}, {7, 0xA2, 0x80}, {7, 0xA4, 0x08}, {7, 0x3B, 0x00},
        {7, 0xA7, 0x10}, {7, 0x48, 0x80}, {0, 0x32, 0x41}, {0, 0x32, 0x01}, {0, 0x2C, 0x04}, {0, 0x2D, 0x00},
        {0, 0x2E, 0x00}, {0, 0x2F, 0x00}, {0, 0x30, 0x00}, {4, 0x3C, 0x00},
        {3, 0x3A, 0x80}, {7, 0x3A, 0x80},
        {-1, 0x08, 0x30}, {-1, 0x0D, 0x30}, {0, 0x29, 0x00}, {0, 0x24, 0x00}, {0, 0x3C, 0x10}, {0, 0x2C, 0x00},
        {4, 0x3C, 0x10}, {3, 0x3A, 0x00}, {3, 0xA0, 0x00}, {3, 0xA1, 0x00}, {3, 0xA2, 0x00}, {7, 0x3A, 0x00},
        {7, 0xA0, 0x00}, {7, 0xA1, 0x00}, {7, 0xA2, 0x00}};
    startLog();
    drv->iTE6805_Init_CAOF(0);
    std::vector<RegWrite> got;
    for (const RegWrite& w : rxWrites())
        if (w.reg != 0x0F)
            got.push_back(w);
    EXPECT_EQ(std::make_pair(got, bank()), std::make_pair(want, 0));
}

TEST_F(It6805Test, CaofThatNeverFinishesIsAbandonedAfterSixRestarts)
{
    set("caof", 0);
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    drv->iTE6805_Init_CAOF(0);
    // Per port: 31 polls of 10 ms and six restart pulses of 10 ms; 10 ms settling each port.
    EXPECT_EQ(sim::SimBoard::virtualMicroseconds() - before, 2u * (10000u + 31u * 10000u + 6u * 10000u));
    EXPECT_EQ((std::vector<int>{chip().reg(3, 0x3A) & 0x80, chip().reg(7, 0x3A) & 0x80, bank()}), (std::vector<int>{0, 0, 0}));
    pass();
    EXPECT_EQ(sys->FsmState[0], 2) << "initialisation goes on";
}

// --- colour conversion ---------------------------------------------------------------------

// What each source's colours become on the output, the BT.709 and BT.601 rows among them: the history check (velinsource_test).
TEST_F(It6805Test, ColorimetryPicksTheMatrixRowAndThePixelClockTheColourDepth)
{
    EXPECT_EQ((std::vector<int>{ite6805_drv::iTE6805_CSC_Row(3, 5), ite6805_drv::iTE6805_CSC_Row(3, 6), ite6805_drv::iTE6805_CSC_Row(3, 4)}),
              (std::vector<int>{8, 8, 5})) << "extended colorimetry";

    // The colour depth step: bank 5 0xC7 by the pixel clock, bank 0 0x6B bits 0-1 = 1.
    for (const auto& [pclk, c7] : {std::pair{29999u, 0x49}, {30000u, 0x00}}) {
        sys->timing[0].PCLK = pclk;
        chip().setReg(0, 0x6B, 0x22);
        chip().setReg(1, 0x6B, 0x00);
        drv->iTE6805_Set_ColorDepth(0);
        EXPECT_EQ((std::vector<int>{chip().reg(5, 0xC7), chip().reg(0, 0x6B), chip().reg(1, 0x6B), bank()}),
                  (std::vector<int>{c7, 0x21, 0x00, 0})) << pclk;
    }
}

TEST_F(It6805Test, DownscalerTakesExactlyTheSixUhdTimingsAndProgramsHalfTheMeasuredOne)
{
    // HActive, HTotal, HFrontPorch, HBackPorch; all with HSync 88, 2160 of 2250 lines, VFP 8, VSync 10, VBP 72.
    const uint16_t rows[6][4] = {{3840, 5280, 1056, 296}, {4096, 5280, 968, 128}, {3840, 4400, 176, 296},
                                 {4096, 5500, 1020, 296}, {3840, 5500, 1276, 296}, {4096, 4400, 88, 128}};
    iTE6805_TIMING& t = sys->timing[0];
    uint16_t* fields[10] = {&t.HActive, &t.HTotal, &t.HFrontPorch, &t.HBackPorch, &t.HSyncWidth,
                            &t.VActive, &t.VTotal, &t.VFrontPorch, &t.VSyncWidth, &t.VBackPorch};
    for (int f = 0; f < 2; ++f)   // a 4:2:0 input measures half the horizontal values
        for (const auto& r : rows)
            for (int off = -1; off < 10; ++off) {   // each field one off, or none
                const uint16_t want[10] = {r[0], r[1], r[2], r[3], 88, 2160, 2250, 8, 10, 72};
                for (int i = 0; i < 10; ++i)
                    *fields[i] = uint16_t(i < 5 ? want[i] >> f : want[i]) + (i == off);
                data().YUV420 = uint8_t(f);
                EXPECT_EQ(drv->iTE6805_Check_Support4KTiming(0), off < 0) << f << " " << r[0] << "x" << r[1] << " field " << off;
            }

    // 4:2:0 3840x2160 halved: bank 5 from 0x21 holds H, V (2159 kept), H - 2, H / 2 - 1 twice, two 0xFF 0x00 0x0F
    // windows, 0x18 + 3 for a positive sync, then the halved porches, syncs and sizes; low byte, then high bits.
    t.HActive = 1920, t.HFrontPorch = 88, t.HSyncWidth = 44, t.HBackPorch = 148, t.VActive = 2159, t.VFrontPorch = 8, t.VSyncWidth = 10;
    t.VBackPorch = 72, t.HSyncPol = 1, data().YUV420 = 1;
    chip().setReg(5, 0x20, 0xFF);
    startLog();
    drv->iTE6805_Set_DNScale(0);
    std::vector<int> bank5;   // a register out of order shows as its negated number
    for (const RegWrite& w : rxWrites())
        if (w.bank == 5 && w.reg > 0x20)
            bank5.push_back(w.reg == 0x21 + int(bank5.size()) ? w.value : -w.reg);
    EXPECT_EQ(bank5, (std::vector<int>{0x00, 0x0F, 0x6F, 0x08, 0xFE, 0x0E, 0x7F, 0x07, 0x7F, 0x07, 0xFF, 0x00, 0x0F, 0xFF, 0x00, 0x0F,
                                       0x1B, 88, 0, 44, 0, 148, 0, 0x80, 0x07, 4, 0, 5, 0, 36, 0, 0x38, 0x04}));
    EXPECT_EQ((std::vector<int>{chip().reg(5, 0x20), chip().reg(0, 0x33) & 0x08}), (std::vector<int>{0xBF, 0}));

}
