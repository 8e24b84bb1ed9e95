#include "sources/it6805/ite6805_cec_sys.h"
#include "sources/it6805/ite6805_i2c_rdwr.h"
#include "tests/sources/it6805_fixture.h"

#include <algorithm>
#include <vector>

namespace {

std::vector<sim::I2cRecord> transfersAt(uint8_t address8)
{
    std::vector<sim::I2cRecord> out;
    for (const auto& r : sim::I2cBusModel::log())
        if (r.address8 == address8)
            out.push_back(r);
    return out;
}

} // namespace

// --- register access, identification, initialisation ---------------------------------------

TEST_F(It6805Test, RegisterAccessKeepsBankZeroAndMasksAsTold)
{
    ite6805_i2c_rdwr* io = sys->p_i2c;
    drv->chgbank(9, 0);
    EXPECT_EQ(bank(), 1) << "only bits 0-2 select the bank";
    drv->chgbank(0, 0);

    chip().setReg(0, 0x20, 0x5A);
    sim::I2cBusModel::clearLog();
    EXPECT_EQ(io->hdmirxset(0x20, 0x00, 0xFF, 0), 0);
    auto log = transfersAt(0x90);
    ASSERT_EQ(log.size(), 3u) << "one read (address, data), one write";
    EXPECT_EQ(log[2].data, (std::vector<uint8_t>{0x20, 0x5A}));
    // Only the masked bits change, the others keep what the register held.
    EXPECT_EQ(io->hdmirxset(0x20, 0x0F, 0x03, 0), 0);
    EXPECT_EQ(chip().reg(0, 0x20), 0x53);
    chip().setReg(0, 0x21, 0xA5);
    uint8_t two[2] = {};
    EXPECT_NE(io->hdmirxbrd(0x20, 2, two), 0) << "a block read runs on through the registers";
    EXPECT_EQ(std::vector<uint8_t>(two, two + 2), (std::vector<uint8_t>{0x53, 0xA5}));

    sim::I2cBusModel::clearLog();
    const iTE6805_INI_REG empty[] = {{0xFF, 0x12, 0x34}, {0x20, 0xFF, 0x00}};
    io->hdimrx_write_init(empty, 0);
    EXPECT_EQ(io->cecbwr_it6805(0x10, 0, reinterpret_cast<const uint8_t*>("x")), 1);
    EXPECT_TRUE(sim::I2cBusModel::log().empty()) << "a 0xFF first row and a count of 0 touch nothing";

    // The start-up table: 133 rows, register 0xFF only as the terminator, ends in bank 0.
    EXPECT_EQ(iTE6805_INIT_HDMI_TABLE[kIte6805InitTableRows - 1].ucAddr, 0xFF);
    for (int i = 0; i < kIte6805InitTableRows - 1; ++i)
        EXPECT_NE(iTE6805_INIT_HDMI_TABLE[i].ucAddr, 0xFF) << i;
    chip().setReg(5, 0x20, 0xFF);
    chip().setReg(0, 0xD8, 0xFF);
    startLog();
    io->hdimrx_write_init(iTE6805_INIT_HDMI_TABLE, 0);
    EXPECT_EQ(bank(), 0);
    // The rows the table must hold, in its order: logic resets, front end, output bus,
    // equaliser start values of both ports, the guarded bank 1 writes, V-by-One.
    EXPECT_TRUE(inOrder(rxWrites(), {
        {-1, 0x0F, 0x00}, {0, 0x22, 0x08}, {0, 0x22, 0x17}, {0, 0x23, 0x1F}, {0, 0x2B, 0x1F},
        {0, 0x24, 0xF8}, {0, 0x22, 0x10}, {0, 0x23, 0xA0}, {0, 0x2B, 0xA0}, {0, 0x24, 0x00},
        {0, 0x34, 0x00}, {3, 0xAA, 0xEC}, {3, 0xAC, 0x40}, {1, 0xC0, 0x42}, {1, 0xC5, 0x00},
        {1, 0xC6, 0x00}, {1, 0xC7, 0x00}, {1, 0xC8, 0x00}, {1, 0xC9, 0x99}, {1, 0xCA, 0x99},
        {1, 0x10, 0x00}, {1, 0x11, 0x00}, {1, 0x12, 0x00}, {1, 0x13, 0x00}, {1, 0x28, 0x00},
        {1, 0x29, 0x00}, {1, 0x2A, 0x00}, {1, 0x2B, 0x00}, {1, 0x2C, 0x00}, {3, 0xE3, 0x07},
        {3, 0x27, 0x9F}, {3, 0x28, 0x9F}, {3, 0x29, 0x9F}, {7, 0xE3, 0x07}, {7, 0x27, 0x9F},
        {7, 0x28, 0x9F}, {7, 0x29, 0x9F}, {0, 0xF8, 0xC3}, {0, 0xF8, 0xA5}, {1, 0x5F, 0x04},
        {1, 0x58, 0x12}, {1, 0x58, 0x02}, {1, 0x5F, 0x00}, {0, 0xF8, 0xFF}, {5, 0x20, 0xFD},
        {5, 0xC7, 0x49}, {0, 0x59, 0x00}, {0, 0xD8, 0x2F}}));
}

TEST_F(It6805Test, InitStep3FieldsFillerRowsAndWriteOneToClearAcknowledges)
{
    // Step 3 sets fields inside registers that hold other bits: 0x3E bit 5 (clear for chip
    // 0x10), 0x3D bit 1, 0x3F = 0x57, 0x41 bits 6-7 = 1; then 0x28 = 0x88 and 0xC5 bit 0 in
    // banks 0 and 4. The filler rows of the start-up table leave their registers alone.
    // Bank, register, value before, bits compared, value after; 0x3E per chip below.
    struct Reg {
        int bank, reg, before, mask, after;
    };
    const Reg regs[] = {{0, 0x28, 0x00, 0xFF, 0x88}, {0, 0xC5, 0x00, 0x01, 0x01}, {4, 0xC5, 0x00, 0x01, 0x01},
                        {0, 0x3D, 0x00, 0xFF, 0x02}, {0, 0x3F, 0x00, 0xFF, 0x57}, {0, 0x41, 0xFF, 0xFF, 0x7F},
                        {0, 0x50, 0xA5, 0xFF, 0xA5}, {3, 0x10, 0x3C, 0xFF, 0x3C}, {4, 0x16, 0x5A, 0xFF, 0x5A},
                        {5, 0xA0, 0x5A, 0xFF, 0x5A}, {5, 0xBF, 0xC3, 0xFF, 0xC3}};
    for (const auto& [chipid, r3e] : {std::pair{0xA1, 0x20}, {0x10, 0xDF}}) {
        SCOPED_TRACE(chipid);
        set("chipid", chipid);
        chip().setReg(0, 0x3E, chipid == 0x10 ? 0xFF : 0x00);
        std::vector<int> want{r3e}, got;
        for (const Reg& r : regs) {
            chip().setReg(r.bank, r.reg, uint8_t(r.before));
            want.push_back(r.after);
        }
        drv->iTE6805_Init_fsm(0);
        got.push_back(chip().reg(0, 0x3E));
        for (const Reg& r : regs)
            got.push_back(chip().reg(r.bank, r.reg) & r.mask);
        EXPECT_EQ(got, want);
    }

    // Acknowledging one event leaves the others pending: the video logic reset clears only
    // 0x10 bit 1 and 0x12 bit 7, the calibration only bits 4-5 of 0x08 and 0x0D.
    chip().raise(0x10, 0x92);
    chip().raise(0x12, 0x81);
    drv->iTE6805_Reset_Video_Logic(0);
    EXPECT_EQ((std::vector<int>{chip().reg(0, 0x10), chip().reg(0, 0x12)}), (std::vector<int>{0x90, 0x01}));
    chip().raise(0x08, 0x01);
    chip().raise(0x0D, 0x04);
    drv->iTE6805_Init_CAOF(0);
    EXPECT_EQ((std::vector<int>{chip().reg(0, 0x08), chip().reg(0, 0x0D)}), (std::vector<int>{0x01, 0x04}));
}

TEST_F(It6805Test, IdentificationAcceptsRevisions5And7AndBacksOffFromAnAbsentChip)
{
    para->reg_image[37] = 0;
    sim::SimBoard::setScenario("input3.id2", "7");
    EXPECT_EQ((std::vector<int>{sys->iTE6805_Identify_Chip(0), para->reg_image[37] & 0x20}), (std::vector<int>{1, 0x20}));
    sim::SimBoard::setScenario("input3.id2", "6");
    EXPECT_EQ((std::vector<int>{sys->iTE6805_Identify_Chip(0), para->reg_image[37] & 0x20}), (std::vector<int>{0, 0}));
    sim::SimBoard::setScenario("input3.id2", "5");

    // An absent chip: 1000 passes, one tick apart, are a few tries and no notification.
    std::vector<int> codes;
    QObject::connect(para, &KelRamPara::sig_update_para, [&](int code) { codes.push_back(code); });
    sim::SimBoard::setScenario("input3.chip", "absent");
    sys->identify_fail[0] = 0;
    for (int i = 0; i < 1000; ++i, ++G_timeTicks)
        pass();
    EXPECT_GE(sys->identify_fail[0], 10);
    EXPECT_LE(sys->identify_fail[0], 14) << "tries back off to one a second";
    EXPECT_EQ((std::vector<size_t>{sys->FsmState[0], codes.size()}), (std::vector<size_t>{0, 0}));

    // Once it answers it is found at the next try and publishes "no signal" once.
    sim::SimBoard::setScenario("input3.chip", "present");
    int passes = 0;
    for (; sys->FsmState[0] == 0 && passes < 101; ++passes, ++G_timeTicks)
        pass();
    EXPECT_EQ(sys->FsmState[0], 2);
    up();
    // Main body, one notification, no signal, valid.
    EXPECT_EQ((std::vector<int64_t>{sys->FsmState[0], std::count(codes.begin(), codes.end(), 12), record().nosignal, record().valid}),
              (std::vector<int64_t>{1, 1, 1, 1}));
}

TEST_F(It6805Test, InitialisationWaitsOneSecondThenRunsTheMainBodyWithBankZero)
{
    pass();
    // Waiting, unplugged (no +5 V), bank 0.
    EXPECT_EQ((std::vector<int>{sys->FsmState[0], int(data().VidState), bank()}), (std::vector<int>{2, STATEV_Unplug, 0}));
    // A second of passes that do not hold the thread, then the main body.
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    ASSERT_TRUE(runUntil([&] { return sys->FsmState[0] == 1; }));
    EXPECT_EQ(sim::SimBoard::virtualMicroseconds() - before, 1000000u);
    pass(3);
    EXPECT_EQ(bank(), 0);
}

TEST_F(It6805Test, FivevoltsRaiseHotPlugWithOneShortLowPulse)
{
    source(1920, 1080, 2200, 1125, 60);
    pass();
    auto log = chip().hpdLog();
    ASSERT_EQ(log.size(), 3u);
    // Levels high, low, high; 100 ms apart.
    EXPECT_EQ((std::vector<uint64_t>{uint64_t(log[0].level), uint64_t(log[1].level), uint64_t(log[2].level), log[1].us - log[0].us,
                                     log[2].us - log[1].us}),
              (std::vector<uint64_t>{1, 0, 1, 100000u, 100000u}));
    EXPECT_EQ(data().VidState, STATEV_WaitSync);

    // The source goes away: the line is held low and input 3 is published without signal.
    set("signal", 0);
    drv->iTE6805_Set_HPD_Ctrl(0, 0, 0);
    EXPECT_EQ((std::vector<unsigned>{unsigned(chip().hpdLevel()), record().nosignal, record().valid}), (std::vector<unsigned>{0, 1, 1}));
}

TEST_F(It6805Test, HotPlugPinAndTheUnplugResetAreTheirRegisterSequences)
{
    pass();
    // Bank 0 first (a failed return may have left another), then with +5 V: bank 3 0xAB bits 6-7 = 3 (high) or 1 (low), 0xAC bits 2-6 = 0x40.
    source(1920, 1080, 2200, 1125, 60);
    for (int level : {1, 0}) {
        chip().setReg(3, 0xAB, 0x00);
        chip().setReg(3, 0xAC, 0x83);
        startLog();
        drv->iTE6805_Set_HPD_Ctrl(0, level, 0);
        EXPECT_EQ(rxWrites(), (std::vector<RegWrite>{{-1, 0x0F, 0}, {-1, 0x0F, 3}, {3, 0xAB, level ? 0xC0 : 0x40},
                                                     {3, 0xAC, 0xC3}, {-1, 0x0F, 0}}));
    }
    // Without +5 V only bits 6-7 of 0xAB are cleared.
    set("signal", 0);
    set("5v", 0);
    chip().setReg(3, 0xAB, 0xFF);
    startLog();
    drv->iTE6805_Set_HPD_Ctrl(0, 1, 0);
    EXPECT_EQ(rxWrites(), (std::vector<RegWrite>{{-1, 0x0F, 0}, {-1, 0x0F, 3}, {3, 0xAB, 0x3F}, {-1, 0x0F, 0}}));

    // Unplugged: the port's 0xE5 bits 2-4 cleared, then the link logic reset in bank 0.
    chip().setReg(3, 0xE5, 0x1F);
    chip().setReg(0, 0x23, 0x02);
    chip().setReg(0, 0x2B, 0x02);
    startLog();
    sys->iTE6805_vid_chg(STATEV_Unplug, 0);
    EXPECT_TRUE(inOrder(rxWrites(), {{3, 0xE5, 0x03}, {-1, 0x08, 0x04}, {-1, 0x0D, 0x04}, {0, 0x22, 0x12}, {0, 0x22, 0x10},
                                     {0, 0x23, 0xAF}, {0, 0x23, 0xA2}, {0, 0x2B, 0xAF}, {0, 0x2B, 0xA2}}));
    EXPECT_EQ(bank(), 0);
    for (const auto& [port, done, reset] : {std::tuple{0, 0x08, 0x23}, {1, 0x0D, 0x2B}}) {   // full logic reset
        startLog();
        drv->iTE6805_Reset_ALL_Logic(port, 0);
        EXPECT_TRUE(inOrder(rxWrites(), {{-1, done, 0x04}, {0, 0x22, 0x12}, {0, 0x22, 0x10}, {0, reset, 0xAE}, {0, reset, 0xA2}})) << port;
    }
}

// --- video machine, measurement and publication --------------------------------------------

TEST_F(It6805Test, PixelClockIsTwentySamplesOver2100MsAndZeroWithoutClock)
{
    // 1600 x 1000 at 64 Hz is 102.4 MHz: with a 20 MHz oscillator every sample counts 100.
    source(1600, 900, 1600, 1000, 64);
    pass();
    const uint64_t before = sim::SimBoard::virtualMicroseconds();
    EXPECT_EQ(drv->iTE6805_Get_PCLK(0), 10240u * 20000u / 2000u);
    EXPECT_EQ((std::vector<uint64_t>{sim::SimBoard::virtualMicroseconds() - before, uint64_t(bank())}),
              (std::vector<uint64_t>{2100000u, 0}));

    // A clock without sync: RefSUM, the TMDS count 0x48 shifted by 3 in range 0x80 (148.5 MHz:
    // 136 >> 3 = 17) or by 2 in range 0x40 (74.25 MHz: 34), below RCLK in MHz (20) rewrites 0x47.
    for (const auto& [hz, rewrites] : {std::pair<long, size_t>{60, 1}, {30, 0}}) {
        source(1920, 1080, 2200, 1125, hz);
        sim::I2cBusModel::clearLog();
        drv->iTE6805_Set_47_By_TMDS(0);
        const auto w = kel_test::i2cWrites(0x90);
        EXPECT_EQ(size_t(std::count_if(w.begin(), w.end(), [](auto& p) { return p.first == 0x47; })), rewrites) << hz;
    }
    set("signal", 0);
    EXPECT_EQ((std::vector<unsigned>{drv->iTE6805_Get_PCLK(0), drv->iTE6805_Get_TMDS(10, 0)}), (std::vector<unsigned>{0, 0}));
    drv->iTE6805_Get_VID_Info(0);
    EXPECT_EQ(sys->timing[0].FrameRate, 0u);
}

TEST_F(It6805Test, ChangingAviKeepsCheckSyncAndANegativeBackPorchIsNotPublished)
{
    set("avi_flip", 1);
    source(1920, 1080, 2200, 1125, 60);
    up(), pass(30);
    EXPECT_EQ(data().VidState, STATEV_CheckSync);

    set("avi_flip", 0), set("relock", 0);
    set("hfp", 400);   // front porch and sync larger than the blanking; the sync is kept
    ASSERT_TRUE(runUntil([&] { return data().Flag_VidStable_Done == 1; }));
    const size_t hpdBefore = chip().hpdLog().size();
    ASSERT_TRUE(runToAudioOn());
    EXPECT_EQ((std::vector<unsigned>{sys->timing[0].HBackPorch, record().valid}), (std::vector<unsigned>{0, 0})) << "not published";
    EXPECT_GT(chip().hpdLog().size(), hpdBefore) << "the source is made to re-read the EDID instead";
    // The source keeps its sync through the bounce: the picture is not left dark.
    EXPECT_EQ(status(), (std::vector<int>{1920, 1080, 60}));
}

TEST_F(It6805Test, VByOneOutputIsGatedByVideoStableAndCutOnAnScdtChange)
{
    source(1920, 1080, 2200, 1125, 60);
    up();   // initialised, then the one-second wait
    chip().setReg(5, 0xC9, 0x78);
    pass();
    ASSERT_NE(data().VidState, STATEV_VidStable);
    EXPECT_EQ(chip().reg(5, 0xC9), 0x79) << "not stable: output off";
    ASSERT_TRUE(runToAudioOn());
    chip().setReg(5, 0xC9, 0x79);
    pass();
    EXPECT_EQ(chip().reg(5, 0xC9), 0x78) << "stable: output on";

    // An SCDT change turns the output off before anything else; sync being still there,
    // the change handler turns it on again.
    startLog();
    chip().raise(0x10, 0x02);
    pass();
    EXPECT_TRUE(inOrder(rxWrites(), {{-1, 0x0F, 5}, {5, 0xC9, 0x79}, {-1, 0x0F, 0}, {5, 0xC9, 0x78}}));
    EXPECT_EQ((std::vector<int>{int(data().VidState), bank()}), (std::vector<int>{STATEV_VidStable, 0})) << "the sync did not change";

    // Chips 0x10 and from 0xE0 on gate the output themselves: 0xC9 is left alone, and an
    // SCDT event with the sync unchanged writes 0x1C bit 7 back instead.
    for (long id : {0x10L, 0xE0L}) {
        SCOPED_TRACE(id);
        set("chipid", id);
        sys->FsmState[0] = 0;
        up();
        chip().setReg(5, 0xC9, 0x78);
        chip().setReg(0, 0x1C, 0x80);
        startLog();
        pass();
        ASSERT_NE(data().VidState, STATEV_VidStable);
        chip().raise(0x10, 0x02);
        pass();
        for (const RegWrite& w : rxWrites())
            EXPECT_NE(w.reg, 0xC9) << "value 0x" << std::hex << w.value;
        EXPECT_TRUE(inOrder(rxWrites(), {{0, 0x1C, 0x80}}));
    }
}

// --- audio -------------------------------------------------------------------------------

TEST_F(It6805Test, AudioWaitsFourPassesTwiceMoreWithoutAudioThenSwitchesOn)
{
    set("audio", 0);
    source(1920, 1080, 2200, 1125, 60);
    // Video stable requests audio; the same pass starts waiting for it.
    ASSERT_TRUE(runUntil([&] { return data().AudState == STATEA_WaitForReady; }));
    EXPECT_EQ(sys->cnt[0].AudioWaitTick, 4);
    int passes = 0;
    while (data().AudState == STATEA_WaitForReady && passes < 40) {
        pass();
        ++passes;
    }
    EXPECT_EQ((std::vector<int>{int(data().AudState), passes, sys->cnt[0].Current_AudioCheck_TryCount}),
              (std::vector<int>{STATEA_AudioOn, 15, 2})) << "three checks, each after four waiting passes";
    drv->iTE6805_Show_AUD_Info(0);
    EXPECT_EQ(bank(), 0) << "the audio report reads bank 2 and returns to bank 0";
}

TEST_F(It6805Test, SamplingRateFromNAndCtsMapsToChannelStatusCodes)
{
    // kHz, previous code, code; 203-224 kHz and above 1324 kHz keep the previous code.
    const int rates[][3] = {{26, 0xFF, 3},     {45, 0xFF, 0},      {48, 0xFF, 2},       {202, 0xFF, 14},
                            {203, 0x77, 0x77}, {224, 0x77, 0x77}, {1324, 0xFF, 53}, {1325, 0x77, 0x77}};
    for (const auto& r : rates)
        EXPECT_EQ(ite6805_sys::iTE6805_SamplingFreq_Code(r[0], uint8_t(r[1])), r[2]) << r[0];
    // The rates of whole streams: AllInputs.WhatIsPublishedMatchesWhatEachSourceSendsOverRandomHistories.
}

TEST_F(It6805Test, AReadModifyWriteWritesNothingOverARegisterNotRead)
{
    up();
    chip().setReg(0, 0x47, 0x14), chip().setReg(0, 0x8A, 0x42);   // the calibrated divider, a forced rate
    drv->RCLK[0] = 300000;   // the clock below the reference: 0x47 is written back
    unanswered(0x47);
    drv->iTE6805_Set_47_By_TMDS(0);
    unanswered(0x8A);
    drv->iTE6805_Reset_Audio_Logic(0);
    EXPECT_EQ((std::vector<int>{chip().reg(0, 0x47), chip().reg(0, 0x8A)}), (std::vector<int>{0x14, 0x42}));
}

TEST_F(It6805Test, TheEndOfAnAvMuteGivesThePictureBackAndASetUpNotTakenIsMadeAgain)
{
    // The CEC set-up's timing unit refused once at the start; later the write releasing the blank.
    sim::I2cBusModel::drop({0, 1, false, true, [](uint8_t a, const uint8_t* d, uint16_t) { return a == 0xC8 && d[0] == 0x0C; }});
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    EXPECT_EQ((std::vector<int>{sim::I2cBusModel::dropped(), sys->p_i2c->cecrd_6805(0x0C), drv->CECTimeUnit[0] > 0}), (std::vector<int>{1, drv->CECTimeUnit[0], 1}));
    set("avmute", 1);
    pass(2);
    ASSERT_EQ(chip().reg(1, 0xC5) & 0x80, 0x80) << "blanked";
    sim::I2cBusModel::drop({0, 1, false, true, [](uint8_t a, const uint8_t* d, uint16_t n) { return a == 0x90 && n > 1 && d[0] == 0xC5 && !(d[1] & 0x80); }});
    set("avmute", 0);
    pass(3);
    EXPECT_EQ((std::vector<int>{sim::I2cBusModel::dropped(), chip().reg(1, 0xC5) & 0x80, chip().reg(0, 0x4F) & 0x20, status()[0]}), (std::vector<int>{1, 0, 0, 1920}));
}

// --- loss of the signal --------------------------------------------------------------------

TEST_F(It6805Test, ASyncLossBouncesHotPlugAndAFurtherInterruptWithoutAChangeNothing)
{
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    sim::SimBoard::setScenario("input3.5v", "1");   // the cable stays, the picture stops
    set("signal", 0);
    const size_t before = chip().hpdLog().size();
    pass();
    const size_t hpdChanges = chip().hpdLog().size();
    // Low and high, then the restart's short pulse with +5 V present; a valid no-signal record.
    EXPECT_EQ((std::vector<size_t>{hpdChanges - before, data().VidState, record().nosignal, record().valid}),
              (std::vector<size_t>{4, STATEV_WaitSync, 1, 1}));
    chip().raise(0x10, 0x02);
    pass();
    EXPECT_EQ(chip().hpdLog().size(), hpdChanges);
}

TEST_F(It6805Test, ARateTheChannelStatusContradictsSixteenTimesIsForcedUntilTheyAgree)
{
    set("audio_status_fs", 44100);   // 48 kHz stream whose channel status says 44.1 kHz
    source(1920, 1080, 2200, 1125, 60);
    ASSERT_TRUE(runToAudioOn());
    EXPECT_EQ(sys->cnt[0].Current_AudioSamplingFreq_ErrorCount, 1);
    for (int k = 2; k <= 15; ++k) {
        chip().raise(0x10, 0x80);   // audio interrupt: the rate is checked again
        pass();
    }
    EXPECT_EQ(chip().reg(0, 0x81) & 0x40, 0) << "fifteen contradictions: not forced yet";
    chip().raise(0x10, 0x80);
    pass();
    // Forced, to 48 kHz, in the channel status too.
    EXPECT_EQ((std::vector<int>{chip().reg(0, 0x81) & 0x40, chip().reg(0, 0x8A) & 0x3F, data().AudioChStatusFs}),
              (std::vector<int>{0x40, 2, 2}));

    set("audio_status_fs", 48000);
    chip().raise(0x10, 0x80);
    pass();
    EXPECT_EQ(chip().reg(0, 0x81) & 0x40, 0) << "agreement removes the force";
}
