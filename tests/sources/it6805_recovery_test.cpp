// Input 3's receiver: interrupt-driven recovery, port control and the CEC engine.
#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_eq.h"
#include "tests/sources/it6805_fixture.h"
#include "tests/support/Sources.h"

#include <algorithm>
#include <vector>

using Message = std::vector<uint8_t>;

// --- equaliser ---------------------------------------------------------------------------

TEST_F(It6805Test, EqualiserReportsDoneOrSweepsByHandWhenTheChipNeverAnswers)
{
    // The RS settings in DFE-table order; a value not among them counts as position 4.
    const uint8_t rs[14] = {0x7F, 0x7E, 0x3F, 0x3E, 0x1F, 0x1E, 0x0F, 0x0E, 0x07, 0x06, 0x03, 0x02, 0x01, 0x00};
    for (int i = 0; i <= 14; ++i)
        EXPECT_EQ(ite6805_eq::iTE6805_Find_indexof_DEF(i < 14 ? rs[i] : 0x05), i < 14 ? i : 4) << i;

    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    ite6805_eq* eq = sys->p_eq;

    // The HDMI 1.x trigger: acknowledge, pulse the port's logic reset, then the EQ bank's
    // start values for a link above 1 GHz (0x14 bit 0) and the start pulse.
    ASSERT_TRUE(drv->iTE6805_Check_TMDS_Bigger_Than_1G(0).value_or(false)) << "1.485 Gbit/s per channel";
    chip().setReg(3, 0x22, 0x00);
    startLog();
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    eq->iTE6805_Trigger_EQ(0);
    EXPECT_EQ(sim::SimBoard::virtualMicroseconds() - before, 11000u) << "10 ms reset, 1 ms start pulse";
    EXPECT_TRUE(inOrder(rxWrites(), {{-1, 0x07, 0xFF}, {0, 0x23, 0xB0}, {0, 0x23, 0xA0}, {3, 0x20, 0x36},
                                     {3, 0x21, 0x0E}, {3, 0x26, 0x00}, {3, 0x27, 0x00}, {3, 0x28, 0x00},
                                     {3, 0x29, 0x00}, {3, 0x22, 0x38}, {3, 0x22, 0x3C}, {3, 0x22, 0x38}}));
    EXPECT_EQ(bank(), 0);

    // The chip reports done two EQ-interrupt reads after the trigger; clean counters pass.
    set("eq_passes", 2);
    eq->iTE6805_EQ_chg(STATEEQ_Start, 0);
    pass();
    EXPECT_EQ(data().EQState, STATEEQ_WaitEQDone);
    ASSERT_TRUE(runUntil([&] { return data().EQState == STATEEQ_EQDone; }, 5));
    EXPECT_EQ(data().EQResult[0], 0x0F) << "result of the automatic EQ";

    // Never done: 31 waiting passes, then the manual sweep.
    set("eq_passes", -1);
    eq->iTE6805_EQ_chg(STATEEQ_Off, 0);
    eq->iTE6805_EQ_chg(STATEEQ_Start, 0);
    pass();
    int waited = 0;
    while (data().EQState == STATEEQ_WaitEQDone && waited < 40) {
        pass();
        ++waited;
    }
    // Passes waited, saturated, the first RS value of the HDMI 1.x table, judged on the next pass.
    EXPECT_EQ((std::vector<int>{waited, eq->eq[0].EQResultSaturated, chip().reg(3, 0x27), int(data().EQState)}),
              (std::vector<int>{32, 1, 0x01 | 0x80, STATEEQ_CheckBitErr}));
    pass();
    EXPECT_EQ((std::vector<int>{int(data().EQState), bank()}), (std::vector<int>{STATEEQ_EQDone, 0})) << "the first manual trial passes";
}

TEST_F(It6805Test, Hdmi2EqualiserSarEqSweepWithDfeAndRsSkewOnePassAtATime)
{
    // DFE taps from V0-V3 (0x5D-0x60): (96|64) + |V0-V1|/2 up to 31, (48|32) + |V0-V2|/2 up
    // to 15, (24|16) + |V0-V3|/2 up to 7; the high base when V0 is the larger.
    ite6805_eq* eq = sys->p_eq;
    struct Taps {
        uint8_t v[4];
        uint8_t dfe[3];
    } taps[] = {{{0x40, 0x30, 0x50, 0x20}, {104, 40, 31}}, {{0x10, 0x90, 0x10, 0x1E}, {95, 32, 23}}};
    for (const Taps& t : taps) {
        for (int i = 0; i < 4; ++i)
            chip().setReg(3, 0x5D + i, t.v[i]);
        eq->eq[0].EQResultSaturated = 0;
        EXPECT_TRUE(eq->iTE6805_Get_DFE(1, 0));
        for (int i = 0; i < 14; ++i)
            EXPECT_EQ(Message(eq->eq[0].DFE[i][1], eq->eq[0].DFE[i][1] + 3), Message(t.dfe, t.dfe + 3)) << i;
        unanswered(0x5D);   // a read-out not answered is no tap: the ones known stay
        EXPECT_FALSE(eq->iTE6805_Get_DFE(1, 0));
        EXPECT_EQ(Message(eq->eq[0].DFE[0][1], eq->eq[0].DFE[0][1] + 3), Message(t.dfe, t.dfe + 3));
    }
    for (int i = 0; i < 4; ++i)
        chip().setReg(3, 0x5D + i, taps[0].v[i]);

    // A 4K60 source (HDMI 2.0 clock ratio) whose channel 2 keeps failing. The symbol-lock
    // interrupt of the new clock starts the equaliser.
    set("err2", 500);
    up(), pass();
    startLog();
    source(3840, 2160, 4400, 2250, 60);
    ASSERT_TRUE(runUntil([&] { return inOrder(rxWrites(), {{3, 0x30, 0x94}}); }, 60)) << "the RS-skew step is reached";

    const std::vector<RegWrite> sar = {
        {3, 0x2C, 0x00}, {3, 0x2D, 0x07}, {-1, 0x07, 0xFF}, {0, 0x23, 0xB0}, {0, 0x23, 0xA0}, {3, 0x27, 0x9F},
        {3, 0x28, 0x9F}, {3, 0x29, 0x9F}, {3, 0x22, 0x00},
        {3, 0x20, 0x1B}, {3, 0x21, 0x03}, {3, 0x22, 0x00}, {-1, 0x07, 0xFF}, {0, 0x23, 0xB0}, {0, 0x23, 0xA0},
        {0, 0x3B, 0x23}, {3, 0x26, 0x00}, {3, 0x27, 0x1F}, {3, 0x28, 0x1F}, {3, 0x29, 0x1F}, {3, 0x30, 0x8C},
        {3, 0x31, 0xB0}, {3, 0x32, 0x43}, {3, 0x33, 0x47}, {3, 0x34, 0x4B}, {3, 0x35, 0x53}, {3, 0x37, 0x0B},
        {3, 0x38, 0xF2}, {3, 0x39, 0x0D}, {3, 0x55, 0x40}};
    EXPECT_TRUE(inOrder(rxWrites(), sar)) << "equaliser reset, then SAR EQ set-up";

    // The sweep tries the HDMI 2.0 table on channel 2 only, with its DFE taps at 0x51-0x53;
    // then the RS-skew step writes the chosen values (channels 0 and 1 kept the automatic
    // 0x0F, channel 2 the first of equal trials, 0x01) and the taps of all three channels.
    const std::vector<RegWrite> sweep = {
        {3, 0x2C, 0x00}, {3, 0x2D, 0x07}, {3, 0x29, 0x81}, {3, 0x51, 104}, {3, 0x52, 40}, {3, 0x53, 31},
        {3, 0x29, 0x87}, {3, 0x29, 0x8F}, {3, 0x29, 0xBF},
        {3, 0x27, 0x8F}, {3, 0x28, 0x8F}, {3, 0x29, 0x81},
        {3, 0x4B, 104}, {3, 0x4C, 40}, {3, 0x4D, 31}, {3, 0x4E, 104}, {3, 0x4F, 40}, {3, 0x50, 31},
        {3, 0x51, 104}, {3, 0x52, 40}, {3, 0x53, 31}, {3, 0x4B, 104 | 0x80},
        {3, 0x2D, 0x00}, {3, 0x30, 0x94}, {3, 0x31, 0xB0}};
    EXPECT_TRUE(inOrder(rxWrites(), sweep)) << "manual sweep and RS-skew step";
    EXPECT_EQ((std::vector<int>{chip().reg(3, 0x37) & 0x10, chip().reg(3, 0x54) & 0x80, int(data().EQState), eq->eq[0].RSSkewPending}),
              (std::vector<int>{0x10, 0x00, STATEEQ_WaitEQDone, 1}));
}

TEST_F(It6805Test, ALinkNoSettingClearsIsSweptABoundedNumberOfTimesOneCountAPassUntilTheClockChanges)
{
    // Channel 0 never clears, on an HDMI 2.0 link (4K60) and then, a new clock, on an HDMI
    // 1.x one (4K30). Each 100 ms error count writes 0xE9 = 0x80.
    set("err0", 500);
    pass(2);
    // Rate, then the trials on channel 0 in the order of the HDMI 2.0 or 1.x table.
    const std::pair<long, std::vector<int>> cases[] = {{60, {0x81, 0x87, 0x8F, 0xBF}}, {30, {0x81, 0xBF, 0x87, 0x8F}}};
    for (const auto& [hz, trials] : cases) {
        SCOPED_TRACE(hz);
        startLog();
        source(3840, 2160, 4400, 2250, hz);
        size_t reads = 0;
        int lastCount = -1;
        for (int i = 0; i < 300; ++i) {
            pass();
            const auto w = rxWrites();
            const size_t now = size_t(std::count(w.begin(), w.end(), RegWrite{3, 0xE9, 0x80}));
            EXPECT_LE(now - reads, 1u) << "pass " << i << ": one count at most";
            lastCount = now != reads ? i : lastCount;
            reads = now;
        }
        EXPECT_GT(reads, 8u) << "the new clock is swept";
        EXPECT_LT(lastCount, 150) << "and the sweeps end";
        EXPECT_EQ(data().EQState, STATEEQ_EQDone);
        std::vector<int> tried;
        for (const RegWrite& w : rxWrites())
            if (w.bank == 3 && w.reg == 0x27 && (w.value == 0x81 || !tried.empty()) && tried.size() < 4)
                tried.push_back(w.value);
        EXPECT_EQ(std::make_pair(tried, int(chip().reg(3, 0x27))), std::make_pair(trials, 0x81)) << "the first of equal trials, 0x01";
    }
}

TEST_F(It6805Test, EqualiserInterruptBitsSetTheirFlagsAndEndTheTrigger)
{
    auto& e = sys->p_eq->eq[0];
    // Raised bits of 0x07; then the done, fail and bit-7 flags, the trigger register 0x22
    // (bit 2 cleared by any of bits 4-7) and what 0x07 keeps (bit 3 is not acknowledged).
    const std::pair<uint8_t, std::vector<int>> cases[] = {
        {0x0F, {0, 0, 0, 0x3C, 0x08}}, {0x10, {1, 0, 0, 0x38, 0}}, {0x40, {0, 1, 0, 0x38, 0}}, {0x80, {0, 0, 1, 0x38, 0}}};
    for (const auto& [raised, want] : cases) {
        e.FlagEQDone = e.FlagEQFail = e.FlagBit7 = 0;
        chip().setReg(3, 0x22, 0x3C);
        chip().setReg(0, 0x07, 0x00);
        chip().raise(0x07, raised);
        sys->p_eq->iTE6805_hdmirx_port0_EQ_irq(0);
        EXPECT_EQ((std::vector<int>{e.FlagEQDone, e.FlagEQFail, e.FlagBit7, chip().reg(3, 0x22), chip().reg(0, 0x07)}), want)
            << "raised 0x" << std::hex << int(raised);
    }
}

TEST_F(It6805Test, BitErrorLimitsAndTheFrozenEqualiser)
{
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    ite6805_eq* eq = sys->p_eq;
    eq->iTE6805_EQ_chg(STATEEQ_Off, 0);
    set("err0", 240);
    EXPECT_EQ(eq->iTE6805_BitErr_Check(0), 0) << "240 fails the first check";
    EXPECT_EQ((std::vector<int>{eq->eq[0].ChannelOK[0], eq->iTE6805_BitErr_Check_Again(0)}), (std::vector<int>{0, 1})) << "passes again";
    // A count or parity read not answered judges nothing: as 0 it would fail a good channel
    // (restarting a settled equaliser) or pass a link with parity errors.
    set("err0", 500), set("err1", 500), set("err2", 500), set("parity", 3);
    for (uint8_t r : {0xEB, 0xB9, 0xBE}) {
        unanswered(r);
        EXPECT_EQ(eq->iTE6805_BitErr_Check_Again(0), -1) << int(r);
    }
    EXPECT_EQ(eq->iTE6805_BitErr_Check_Again(0), 0) << "parity errors";
    set("err1", 0), set("err2", 0), set("parity", 0);

    // Counts without a valid bit on any channel (clock gone) on an HDMI 1.x link switch the
    // scrambling override, 0xE5 bits 2-4: off when bit 4 was on, else 7; the equaliser stops.
    set("signal", 0);
    for (const auto& [before, after] : {std::pair{0x00, 0x1C}, {0x1C, 0x00}}) {
        eq->iTE6805_EQ_chg(STATEEQ_Off, 0);
        chip().setReg(3, 0xE5, uint8_t(before | 0x23));
        data().EQState = STATEEQ_CheckBitErr;
        eq->iTE6805_EQ_fsm(0);
        EXPECT_EQ((std::vector<int>{chip().reg(3, 0xE5), int(data().EQState)}), (std::vector<int>{after | 0x23, STATEEQ_Off}));
    }
    data().EQState = STATEEQ_KeepEQStateUntil5VOff;
    eq->eq[0].BestRS[1] = 0x3F;
    eq->iTE6805_EQ_chg(STATEEQ_Start, 0);
    EXPECT_EQ((std::vector<int>{int(data().EQState), eq->eq[0].BestRS[1]}), (std::vector<int>{STATEEQ_KeepEQStateUntil5VOff, 0}));
}

// --- interrupt service and recovery -------------------------------------------------------

TEST_F(It6805Test, EccErrorsEscalateToAnHpdBounceAndAtTheThirdTimeOutAFullReset)
{
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    ASSERT_EQ(sys->cnt[0].ECCErrorCount, 0);
    for (int k = 1; k <= 12; ++k) {
        chip().raise(0x05, 0x20);
        chip().setReg(0, 0xD9, 0);
        pass();
        if (k == 7 || k == 10) {
            EXPECT_EQ(chip().reg(0, 0xD9) & 0x04, 0x04) << k;
        }
        if (k < 12) {
            EXPECT_NE(data().EQState, STATEEQ_KeepEQStateUntil5VOff) << k;
        }
    }
    EXPECT_EQ((std::vector<int>{int(data().EQState), sys->cnt[0].ECCTimeOut}), (std::vector<int>{STATEEQ_KeepEQStateUntil5VOff, 1}))
        << "first time-out";
    const auto hpd = chip().hpdLog();
    ASSERT_GE(hpd.size(), 2u);
    // Low, then high 100 ms and the 300 ms reset pulse later.
    EXPECT_EQ((std::vector<uint64_t>{uint64_t(hpd[hpd.size() - 2].level), uint64_t(hpd.back().level),
                                     hpd.back().us - hpd[hpd.size() - 2].us}),
              (std::vector<uint64_t>{0, 1, 400000u}));

    for (int k = 0; k < 24; ++k) {
        chip().raise(0x05, 0x20);
        pass();
    }
    // Third time-out: all logic reset, +5 V and sync found again.
    EXPECT_EQ((std::vector<unsigned>{sys->cnt[0].ECCTimeOut, data().EQState, data().VidState}),
              (std::vector<unsigned>{0, STATEEQ_Off, STATEV_CheckSync}));
}

TEST_F(It6805Test, DeskewErrorsRestartTheEqualiserOnlyOnHdmi1Links)
{
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    data().EQState = STATEEQ_EQDone;
    for (int k = 0; k < 7; ++k) {
        chip().raise(0x05, 0x40);
        pass();
    }
    EXPECT_EQ((std::vector<int>{sys->cnt[0].deskewerrcnt, sys->cnt[0].DeskewRestarts}), (std::vector<int>{0, 1}));
    EXPECT_NE(data().EQState, STATEEQ_EQDone) << "restarted";

    set("hdmi2", 1);
    pass(3);
    data().EQState = STATEEQ_EQDone;
    sys->cnt[0].deskewerrcnt = 0;
    for (int k = 0; k < 10; ++k) {
        chip().raise(0x05, 0x40);
        pass();
    }
    EXPECT_EQ(sys->cnt[0].deskewerrcnt, 10) << "HDMI 2.0: only counted";

    // On an HDMI 1.x link an HDCP encryption change checks the bit errors again, once per
    // arming of its flag; a failing check restarts the equaliser.
    set("hdmi2", 0);
    pass(3);
    for (const auto& [errors, restarts] : {std::pair{0, false}, {500, true}}) {
        set("err2", errors);
        data().EQState = STATEEQ_EQDone;
        sys->cnt[0].HDCPChangeFlag = 1;
        chip().raise(0x1D, 0x08);
        pass();
        EXPECT_EQ((std::vector<int>{sys->cnt[0].HDCPChangeFlag, data().EQState != STATEEQ_EQDone}), (std::vector<int>{0, restarts}));
    }
}

TEST_F(It6805Test, SymbolLockLossWithAClockChangeSendsVideoBackToWaitSync)
{
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    chip().raise(0x05, 0x04);
    chip().raise(0x06, 0x70);
    pass();
    EXPECT_EQ(sys->cnt[0].SymbolLockRst[0], 1);
    EXPECT_NE(data().VidState, STATEV_VidStable);
    ASSERT_TRUE(runUntil([&] { return data().Flag_VidStable_Done == 1; })) << "and the picture comes back";

    // Lock resets on every channel of an HDMI 1.x link with the equaliser off: the 21st of
    // each forces the scrambling override, bank 3 register 0xE5 bits 2-4.
    sys->cnt[0].SymbolLockRst[0] = sys->cnt[0].SymbolLockRst[1] = sys->cnt[0].SymbolLockRst[2] = 0;
    chip().setReg(3, 0xE5, 0x00);
    for (int k = 0; k <= 21; ++k, data().EQState = STATEEQ_Off, chip().raise(0x06, 0x70), pass())
        EXPECT_EQ(chip().reg(3, 0xE5) & 0x1C, k < 21 ? 0 : 0x1C) << k;

    // Mute packet and its end in one pass: the output stays muted.
    set("avmute", 1);
    chip().raise(0x10, 0x30);
    pass();
    EXPECT_EQ(chip().reg(0, 0x4F) & 0x20, 0x20);
}

TEST_F(It6805Test, PortSelectionAndReset)
{
    source(1920, 1080, 2200, 1125, 60);
    up(), pass();
    sys->iTE6805_Port_Select(2, 0);
    EXPECT_EQ(data().PortSelectRequest, 0) << "port 2 does not exist";
    sys->iTE6805_Port_Select(0, 0);
    pass();
    EXPECT_EQ((std::vector<int>{data().PortSelectRequest, data().CurrentPort}), (std::vector<int>{0, 0}));

    // The port's register set, each masked field starting from the opposite value.
    auto select = [&](int port) {
        const bool p0 = port == 0;
        chip().setReg(0, 0x35, p0 ? 0x01 : 0x00);
        chip().setReg(0, 0x2D, p0 ? 0x90 : 0xFF);
        chip().setReg(3, 0xA8, p0 ? 0x00 : 0x08);
        chip().setReg(7, 0xA8, p0 ? 0x08 : 0x00);
        chip().setReg(3, 0xE5, 0x1F);
        chip().setReg(7, 0xE5, 0x1F);
        chip().setReg(p0 ? 0 : 4, 0xC5, 0x01);
        sys->iTE6805_Port_Select(port, 0);
        startLog();
        pass();
        EXPECT_EQ(data().CurrentPort, port);
        return rxWrites();
    };
    const std::vector<RegWrite> toPort1{
        {0, 0x35, 0x01}, {3, 0xE5, 0x03}, {7, 0xE5, 0x03}, {0, 0x25, 0x00}, {0, 0x26, 0xFF},
        {0, 0x27, 0xFF}, {0, 0x2A, 0x3A}, {0, 0x2D, 0x90}, {0, 0x2E, 0x00}, {0, 0x2F, 0x00},
        {0, 0x32, 0x01}, {3, 0xA8, 0x00}, {7, 0xA8, 0x08}, {4, 0xC5, 0x11}, {4, 0xC5, 0x01}};
    const std::vector<RegWrite> toPort0{
        {0, 0x35, 0x00}, {3, 0xE5, 0x03}, {7, 0xE5, 0x03}, {0, 0x25, 0x00}, {0, 0x26, 0x00},
        {0, 0x27, 0x00}, {0, 0x2A, 0x01}, {0, 0x2D, 0xFF}, {0, 0x2E, 0xFF}, {0, 0x2F, 0xFF},
        {0, 0x32, 0x3E}, {3, 0xA8, 0x08}, {7, 0xA8, 0x00}, {0, 0xC5, 0x11}, {0, 0xC5, 0x01}};
    for (const auto& [port, want] : {std::make_pair(1, toPort1), std::make_pair(0, toPort0)}) {
        SCOPED_TRACE(port);
        const std::vector<RegWrite> got = select(port);
        for (const RegWrite& w : want) {
            EXPECT_NE(std::find(got.begin(), got.end(), w), got.end())
                << "bank " << w.bank << " 0x" << std::hex << w.reg << " = 0x" << w.value;
        }
        if (port == 1) {
            EXPECT_EQ(data().VidState, STATEV_Unplug) << "nothing on port 1";
        }
    }
    ASSERT_EQ(data().CurrentPort, 0);
    ASSERT_TRUE(runToAudioOn());
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    sys->iTE6805_Port_Reset(0, 0);
    pass();
    EXPECT_EQ((std::vector<unsigned>{data().PortResetRequest, data().VidState}), (std::vector<unsigned>{0, STATEV_CheckSync}))
        << "unplugged, then +5 V and sync found again";
    EXPECT_GE(sim::SimBoard::virtualMicroseconds() - before, 400000u);
    EXPECT_EQ(bank(), 0);
}

// --- CEC ---------------------------------------------------------------------------------

TEST_F(It6805Test, CecIgnoresMisaddressedShortLongAndFaultyMessages)
{
    up(), pass();
    // Initialisation of the CEC page (the timing unit at 0x0C and the receive FIFO reset aside).
    sim::I2cBusModel::clearLog();
    sys->p_cec_sys->iTE6805_CEC_INIT(0);
    const std::vector<std::pair<int, int>> init{{0x08, 0x4C}, {0x08, 0x48}, {0x09, 0x60}, {0x0B, 0x14}, {0x08, 0x48},
                                                {0x09, 0x60}, {0x06, 0x00}, {0x08, 0x49}, {0x22, 0x00}, {0x0A, 0x03},
                                                {0x0A, 0x43}};
    auto cec = kel_test::i2cWrites(0xC8);
    cec.erase(std::remove_if(cec.begin(), cec.end(), [](const auto& w) { return w.first == 0x0C || w.first == 0x52; }),
              cec.end());
    EXPECT_EQ(cec, init);
    // Active Source sent to us directly, broadcast Standby (accepted, no reply), Report Power Status without its
    // operand, one from ourselves, one for another device; then one with a receive error.
    for (const Message& m : {Message{0x40, 0x82, 0x10, 0x00}, Message{0x4F, 0x36}, Message{0x40, 0x90}, Message{0x04, 0x83}, Message{0x45, 0x83}})
        chip().cecReceive(m);
    chip().cecReceive({0x40, 0x83}, 0x20);
    pass();
    EXPECT_EQ((std::vector<size_t>{chip().cecSent().size(), size_t(chip().cecQueued())}), (std::vector<size_t>{0, 0}));

    // A length the bus cannot carry: dropped and the FIFO flushed, operands and all.
    chip().cecReceiveRaw(0x40, 0x83, 17, Message(15, 0xAA));
    chip().cecReceive({0x40, 0x83});
    pass();
    EXPECT_EQ((std::vector<size_t>{chip().cecSent().size(), size_t(chip().cecQueued())}), (std::vector<size_t>{0, 0}));
    chip().cecReceiveRaw(0x40, 0x83, 1, {});
    pass();
    EXPECT_TRUE(chip().cecSent().empty());

    // The opcode table: 75 known opcodes; minimum length in bits 0-4, bit 7 direct, bits
    // 5-6 broadcast.
    const std::pair<int, int> rows[] = {
        {0x00, 0x84}, {0x04, 0x82}, {0x36, 0xE2}, {0x46, 0x82}, {0x47, 0x82}, {0x82, 0x64}, {0x83, 0x82},
        {0x84, 0x65}, {0x85, 0x62}, {0x86, 0x64}, {0x87, 0x65}, {0x8C, 0x82}, {0x8F, 0x82}, {0x90, 0xA3},
        {0x9E, 0x83}, {0x9F, 0x82}, {0xA0, 0xE5}, {0xF8, 0x62}, {0xFF, 0x82}};
    for (const auto& [opcode, entry] : rows)
        EXPECT_EQ(ite6805_cec_sys::cec_msg_size[opcode], entry) << "opcode 0x" << std::hex << opcode;
    EXPECT_EQ(256 - std::count(ite6805_cec_sys::cec_msg_size, ite6805_cec_sys::cec_msg_size + 256, 0), 75);

    // A failed transmission is not repeated.
    set("cec_tx_result", 2);
    chip().cecReceive({0x40, 0x8F});
    pass(3);
    cecBusTime();
    pass(3);
    EXPECT_EQ(chip().cecSent().size(), 1u);
}

TEST_F(It6805Test, CecAnswersAsATvOneReplyPerTransmitDoneWholeAndInOrderWithoutWaitingInAPass)
{
    up(), pass();
    // Four 15-byte messages make four 16-byte entries, exactly the 64 bytes of the ring: the
    // fourth waits for the next event instead of making the full ring look empty. A
    // discovery burst comes on top of it.
    for (int i = 0; i < 4; ++i) {
        Message m{0x40, 0x83};
        m.resize(15, uint8_t(i));
        chip().cecReceive(m);
    }
    pass();
    for (const Message& m : {Message{0x4F, 0x85}, Message{0x40, 0x8C}, Message{0x40, 0x46}, Message{0x40, 0x9F},
                             Message{0x40, 0x8F}, Message{0x40, 0xFF}, Message{0x80, 0x42, 0x01}})
        chip().cecReceive(m);
    const Message pa{0x0F, 0x84, 0x00, 0x00, 0x00};
    const std::vector<Message> want{pa, pa, pa, pa, {0x0F, 0x82, 0x00, 0x00}, {0x0F, 0x87, 0x00, 0x00, 0x00},
                                    {0x04, 0x47, 0x68, 0x05}, {0x04, 0x9E, 0x06}, {0x04, 0x90, 0x00},
                                    {0x04, 0x00, 0xFF, 0x04}, {0x08, 0x00, 0x42, 0x04}};   // Abort, Deck Control: refused
    for (int i = 0; i < 30 && chip().cecSent().size() < want.size(); ++i) {
        const size_t before = chip().cecSent().size();
        const uint64_t start = sim::SimBoard::virtualMicroseconds();
        pass();
        EXPECT_LT(sim::SimBoard::virtualMicroseconds() - start, 20000u) << "a pass waited for the bus";
        cecBusTime();
        EXPECT_LE(chip().cecSent().size(), before + 1) << "one reply per transmit-done";
    }
    EXPECT_EQ(chip().cecSent(), want);
}
