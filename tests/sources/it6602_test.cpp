// The IT6602 receivers of inputs 0 to 2 on the simulated board: identification, the
// initialisation table, hot-plug, the video state machine with its timing publication, the
// equaliser, colour conversion and the audio steps.
#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "sources/it6602/velin_it6602.h"
#include "sources/velinsource.h"
#include "tests/support/Sources.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kResetLine = 0x207940;

class It6602 : public kel_test::SourcesFixture {
protected:
    void SetUp() override
    {
        SourcesFixture::SetUp();
        G_timeTicks = 1000;
        g_source_online = 2;
        g_fpga_lcd_on = 1;
        g_c331_source_online = 1;
        g_check_source = 0xFF;
        openSources();
        src->thread_state = velinsource::kStateRun;
        src->clock_done[0] = 1;
        src->clock_state[0] = 2;
        src->check_mask = 0x02;   // input 0 only
        drv = src->p_velin_it6602;
        sim::SocModel::write16(kResetLine, 16);
        QObject::connect(para, &KelRamPara::sig_update_para, [this](int code) { codes.push_back(code); });
    }
    void TearDown() override { SourcesFixture::TearDown(); kel_test::resetSourceGlobals(); }
    void pass(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            src->checksource_pass();
            ++G_timeTicks;
            sim::SimBoard::advanceVirtual(velinsource::kPassPauseMs * 1000);   // the thread's pause
        }
    }
    int vstate(int dev = 0) { return drv->dev_data[dev].m_VState; }
    int astate(int dev = 0) { return drv->dev_data[dev].m_AState; }
    // Passes until input dev's video state is state; false after limit passes.
    bool runTo(int state, int dev = 0, int limit = 100)
    {
        for (int i = 0; i < limit && vstate(dev) != state; ++i)
            pass();
        return vstate(dev) == state;
    }
    bool searching(int port = 0) { return drv->dev_data[0].EQPort[port].ucEQState != 255; }
    // Input 0 at video on, with the equaliser search that the clock's arrival started over.
    bool settle()
    {
        if (!runTo(VSTATE_VideoOn))
            return false;
        for (int i = 0; i < 200 && (searching() || drv->dev_data[0].m_ucEvent); ++i)
            pass();
        return !searching() && drv->dev_data[0].m_ucEvent == 0;
    }
    // Runs n passes and counts the equaliser searches of port 0 that started in them.
    int searchesIn(int n)
    {
        int started = 0;
        for (int i = 0; i < n; ++i) {
            const bool before = searching();
            pass();
            started += !before && searching();
        }
        return started;
    }
    // Passes until a write of register r at 0x90 has (value & mask) == mask; the number of
    // passes taken, or 0 after limit passes.
    int passesUntilWrite(uint8_t r, uint8_t mask, int limit, int state = -1)
    {
        sim::I2cBusModel::clearLog();
        int counted = 0;
        for (int i = 0; i < limit; ++i) {
            pass();
            if (state < 0 || vstate() == state)
                ++counted;
            for (uint8_t v : writesTo(r))
                if ((v & mask) == mask)
                    return counted;
            sim::I2cBusModel::clearLog();
        }
        return 0;
    }
    std::vector<uint8_t> status(int input) { const uint8_t* s = para->ram + 256 + 6 * input; return std::vector<uint8_t>(s, s + 6); }
    struct hdminfo record(int input)
    {
        std::lock_guard<std::mutex> hold(Utils::_source_hdminfo_mutex);
        return src->hdminfo[input];
    }
    sim::It6602Model& rx(int input = 0) { return sim::InputSideModel::it6602(input); }
    void scenario(const char* key, const char* value) { sim::SimBoard::setScenario(key, value); }
    void scenario(std::initializer_list<std::pair<const char*, const char*>> keys)
    {
        for (const auto& [key, value] : keys)
            sim::SimBoard::setScenario(key, value);
    }
    // The bytes written to register r of the receiver at 0x90 (bank not told apart).
    static std::vector<uint8_t> writesTo(uint8_t r)
    {
        std::vector<uint8_t> out;
        for (const auto& rec : sim::I2cBusModel::log())
            if (rec.address8 == 0x90 && !rec.read && rec.acked && rec.data.size() == 2 && rec.data[0] == r)
                out.push_back(rec.data[1]);
        return out;
    }

    kel_test::TestRoot root;
    velin_it6602* drv = nullptr;
    std::vector<int> codes;
};

const std::vector<uint8_t> k1080p60 = {0x80, 0x07, 0x38, 0x04, 60, 0};
const std::vector<uint8_t> kNone = {0, 0, 0, 0, 0, 0};

} // namespace

// --- access and bring-up -----------------------------------------------------------------------

TEST_F(It6602, IdentificationKeepsEachChipsOwnAddressTheInitTableIs81WritesAndHotPlugNeedsFiveVolts)
{
    scenario("input1.rxaddr", "0x94");
    para->reg_image[37] = 0x80;
    ASSERT_EQ(src->set_switch(0xEE, 0x04), 1);
    // Found, at 0x94, after one failure at 0x90; register 37 bit 3.
    EXPECT_EQ((std::vector<int>{drv->IT6602_Identify_Chip(drv->fd, 1), drv->i2c_addr[1], drv->identify_fail[1], para->reg_image[37]}),
              (std::vector<int>{1, 0x94, 1, 0x88}));

    ASSERT_EQ(src->set_switch(0xEE, 0x02), 1);
    // Input 1 keeps its own address.
    EXPECT_EQ((std::vector<int>{drv->IT6602_Identify_Chip(drv->fd, 0), drv->i2c_addr[0], drv->i2c_addr[1], para->reg_image[37]}),
              (std::vector<int>{1, 0x90, 0x94, 0x8C}));

    // A chip held in reset is not found and its bit is cleared.
    sim::SocModel::write16(kResetLine, 0);
    EXPECT_EQ((std::vector<int>{drv->IT6602_Identify_Chip(drv->fd, 0), para->reg_image[37]}), (std::vector<int>{0, 0x88}));
    sim::SocModel::write16(kResetLine, 16);

    // The table: 81 masked writes, each a read and a write, up to the 0xFF terminator.
    ASSERT_EQ(drv->IT6602_Identify_Chip(drv->fd, 0), 1);
    const int before = rx().registerWrites();
    sim::I2cBusModel::clearLog();
    drv->hdimrx_write_init_it6602(drv->fd, velin_it6602::IT6602_HDMI_INIT_TABLE);
    EXPECT_EQ(rx().registerWrites() - before, 81);
    // Bank 0, then the software resets of the logic blocks.
    const auto writes = kel_test::i2cWrites(0x90);
    ASSERT_GE(writes.size(), 10u);
    EXPECT_EQ((std::vector<int>{writes[0].first, writes[0].second & 0x03}), (std::vector<int>{0x0F, 0}));
    EXPECT_EQ((std::vector<std::pair<int, int>>(writes.begin() + 1, writes.begin() + 10)),
              (std::vector<std::pair<int, int>>{{0x10, 0x08}, {0x10, 0x17}, {0x11, 0x1F}, {0x18, 0x1F},
                                                {0x12, 0xF8}, {0x10, 0x10}, {0x11, 0xA0}, {0x18, 0xA0},
                                                {0x12, 0x00}}));
    // 0x6A, 0x54, 0x53 (output tristated), 0x77, bank 1 0xC0 and 0xB0 (HPD low), bank 0 at the end
    EXPECT_EQ((std::vector<int>{rx().reg(0, 0x6A), rx().reg(0, 0x54), rx().reg(0, 0x53) & 0xCF, rx().reg(0, 0x77) & 0x0C,
                                rx().reg(1, 0xC0) & 0x8C, rx().reg(1, 0xB0) & 0x03, rx().reg(0, 0x0F) & 0x03}),
              (std::vector<int>{0x81, 0x11, 0x4F, 0x08, 0x88, 0x00, 0}));
    // The oscillator read-out: probe, then the count in counter mode 1, bank 0 at the end.
    sim::I2cBusModel::clearLog();
    drv->CP_OCLK(drv->fd);
    EXPECT_EQ(kel_test::i2cWrites(0x90), (std::vector<std::pair<int, int>>{{0x0F, 0x00}, {0x73, 0x05}, {0x0F, 0x01}, {0x57, 0x12},
              {0x57, 0x02}, {0x56, 0x01}, {0x50, 0x00}, {0x51, 0x00}, {0x53, 0x04}, {0x50, 0x01}, {0x51, 0x60}, {0x53, 0x04},
              {0x0F, 0x00}, {0x73, 0x00}}));

    // Hot-plug follows the request only while +5 V is present, and only on port 0. Port,
    // level, +5 V; then bank 1 0xB0 bits 0-1.
    const int hpd[][4] = {{0, 1, 1, 0x03}, {0, 0, 1, 0x01}, {0, 1, 0, 0x00}, {1, 1, 0, 0x00}};
    for (const auto& c : hpd) {
        scenario("input0.signal", c[2] ? "1" : "0");
        drv->IT6602HPDCtrl(drv->fd, c[0], c[1], 0);
        EXPECT_EQ(rx().reg(1, 0xB0) & 0x03, c[3]) << "port " << c[0] << " level " << c[1] << " 5V " << c[2];
    }
    EXPECT_EQ(rx().reg(0, 0x0F) & 0x03, 0);
}

// --- video state machine and publication ---------------------------------------------------------

TEST_F(It6602, A1080p60SourceGoesFromResetToVideoOnAndIsPublished)
{
    std::vector<int> seen;
    for (int i = 0; i < 80 && vstate() != VSTATE_VideoOn; ++i) {
        pass();
        if (seen.empty() || seen.back() != vstate())
            seen.push_back(vstate());
    }
    EXPECT_EQ(seen, (std::vector<int>{VSTATE_SWReset, VSTATE_SyncChecking, VSTATE_VideoOn}))
        << "SyncWait is passed through within the pass that sees +5 V and SCDT";
    EXPECT_EQ((std::vector<int>{para->reg_image[37] & 0x04, rx().hpd(), rx().videoOutput(), rx().reg(0, 0xC0) & 3}),
              (std::vector<int>{4, 1, 1, 3})) << "0xC0: the port set-up after the wait";

    // The record and status of every timing: AllInputs.WhatIsPublishedMatchesWhatEachSourceSendsOverRandomHistories.
    EXPECT_EQ(std::make_pair(drv->vid_timing[0].PCLK, int(codes.back())), std::make_pair(150u, 12)) << "31620 / 21 / 10";
    // The source stops sending with the cable in: the timing fields are kept.
    scenario({{"input0.cable", "1"}, {"input0.signal", "0"}});
    pass();
    EXPECT_EQ((std::vector<int>{vstate(), int(record(0).Hact), int(record(0).valid), astate()}),
              (std::vector<int>{VSTATE_SyncWait, 1920, 1, ASTATE_AudioOff}));
}

TEST_F(It6602, AMeasurementWithoutPixelClockOrWithNegativePorchesIsNotPublished)
{
    // Decided before anything is switched on: the output stays tristated, no audio is
    // requested and nothing is notified.
    scenario("input0.pclk", "0");
    pass(20);
    EXPECT_NE(vstate(), VSTATE_VideoOn);
    EXPECT_EQ(status(0), kNone);
    // No signal, video output, audio state, notifications.
    EXPECT_EQ((std::vector<int64_t>{record(0).nosignal, rx().videoOutput(), astate(), std::count(codes.begin(), codes.end(), 12)}),
              (std::vector<int64_t>{1, 0, ASTATE_AudioOff, 0}));

    scenario("input0.pclk", "148500");
    scenario("input0.hfp", "300");   // 1920 + 300 + 44 > 2200
    sim::I2cBusModel::clearLog();
    pass(6);
    EXPECT_EQ(status(0), kNone);
    // No signal, video output, audio state, video reset pulses.
    EXPECT_EQ((std::vector<int64_t>{record(0).nosignal, rx().videoOutput(), astate(), long(writesTo(0x64).size())}),
              (std::vector<int64_t>{1, 0, ASTATE_AudioOff, 0}));

    scenario("input0.hfp", "88");
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    EXPECT_EQ(status(0), k1080p60);

    // A mode change in place whose counters do not add up: the output goes off and no
    // signal is published until a measurement holds.
    scenario({{"input0.timing", "1280x720@60"}, {"input0.hfp", "300"}});
    pass(10);
    EXPECT_EQ((std::vector<unsigned>{record(0).nosignal, rx().videoOutput()}), (std::vector<unsigned>{1, 0}));
    EXPECT_EQ(status(0), kNone);
    scenario("input0.hfp", "");
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    EXPECT_EQ(status(0), (std::vector<uint8_t>{0x00, 0x05, 0xD0, 0x02, 60, 0}));
}

TEST_F(It6602, AnAbsentChipIsTriedLessOftenAndNotifiesNothing)
{
    sim::SocModel::write16(kResetLine, 0);   // held in reset: it does not answer
    pass(300);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 12), 0) << "no signal before, no signal now";
    EXPECT_GE(drv->identify_fail[0], 4) << "still tried";
    EXPECT_LE(drv->identify_fail[0], 14) << "not on every pass (two addresses a try)";

    // Released, it is found within a second and its source is published.
    sim::SocModel::write16(kResetLine, 16);
    ASSERT_TRUE(runTo(VSTATE_VideoOn, 0, 150));
    EXPECT_EQ(std::make_pair(status(0), int(std::count(codes.begin(), codes.end(), 12))), std::make_pair(k1080p60, 1));
}

TEST_F(It6602, WithoutTheChipsOwnReadingThePixelClockComesFromTheOscillatorCount)
{
    // In range (48,700 from the count 4,870,000) the calibrated count is used; out of
    // range (10,000) the nominal 48,696. Pixel clock = count / 400 x 255 / reg 0x9A / 10,
    // with reg 0x9A = 21 at 148.5 MHz.
    scenario("input0.pclkreg", "0");
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    EXPECT_FLOAT_EQ(record(0).pfreq, 48700.0f / 400.0f * 255.0f / 21.0f / 10.0f);

    scenario({{"input0.osc", "1000000"}, {"input0.cable", "0"}});
    pass();
    src->it6602_step[0] = 0;   // identified and reset again: the oscillator is calibrated anew
    scenario("input0.cable", "1");
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    EXPECT_EQ(drv->osc_count[0], 48696u);
    EXPECT_FLOAT_EQ(record(0).pfreq, 48696.0f / 400.0f * 255.0f / 21.0f / 10.0f);
}

TEST_F(It6602, AClockThatNeverLocksOverwritesThePllsAfter16ChecksAndResetsThePortAfter22Passes)
{
    // 297 MHz: clock count 41 at range 1, halved 20, below 28.
    scenario({{"input0.timing", "3840x2160@24"}, {"input0.htotal", "5500"}, {"input0.vtotal", "2250"},
              {"input0.scdt", "0"}});
    ASSERT_TRUE(runTo(VSTATE_SyncWait));
    rx().setReg(1, 0xB1, 0x01);   // a bit the overwrite must keep
    EXPECT_EQ(1 + passesUntilWrite(0xB1, 0xE0, 40, VSTATE_SyncWait), 16);
    // Bank 1 0xB1 and 0xB2, then bank 0 again.
    EXPECT_EQ((std::vector<int>{rx().reg(1, 0xB1), rx().reg(1, 0xB2) & 0x05, rx().reg(0, 0x0F) & 0x03}),
              (std::vector<int>{0xE1, 0x04, 0}));

    // The SCDT wait counts the passes with +5 V and clock while no search runs; the 22nd
    // resets the port (the ECC time-out) and checks the clock again, which starts a search.
    for (int i = 0; i < 200 && (searching() || drv->dev_data[0].m_ucEvent); ++i)
        pass();
    ASSERT_FALSE(searching());
    const int counted = drv->dev_data[0].m_ucSCDToffCount;
    EXPECT_EQ(counted + passesUntilWrite(0x11, 0x0F, 40), 22);
    EXPECT_EQ((std::vector<int>{drv->dev_data[0].m_ucEvent & 0x77, rx().hpd(), vstate()}),
              (std::vector<int>{0x05, 1, VSTATE_SyncWait}));

    // The scaled count must be below 28: 219 MHz counts 56 at range 1 (28), 221 MHz 55 (27).
    scenario("input0.pclk", "219000");
    EXPECT_EQ(passesUntilWrite(0xB1, 0xE0, 40, VSTATE_SyncWait), 0);
    scenario("input0.pclk", "221000");
    EXPECT_GT(passesUntilWrite(0xB1, 0xE0, 40, VSTATE_SyncWait), 0);
}

// --- equaliser -----------------------------------------------------------------------------------

TEST_F(It6602, EqualiserTakesValidAmplitudesOrTheValueWithFewestErrors)
{
    const uint8_t a[3] = {12, 8, 8}, b[3] = {3, 8, 9}, c[3] = {9, 4, 8};
    EXPECT_EQ(velin_it6602::IT6602EQTable[velin_it6602::JudgeBestEQ(a)], 0x83) << "ties favour the third value";
    EXPECT_EQ(velin_it6602::IT6602EQTable[velin_it6602::JudgeBestEQ(b)], 0xFF);
    EXPECT_EQ(velin_it6602::IT6602EQTable[velin_it6602::JudgeBestEQ(c)], 0x9F);

    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    // All three amplitudes valid: they become the EQ values (at least 3), no trial.
    rx().setReg(1, 0xD0, 0x3F);
    rx().setReg(1, 0xD5, 0x20);
    rx().setReg(1, 0xD6, 0x81);
    rx().setReg(1, 0xD7, 0x45);
    rx().raise(0xD0, 0x10);
    sim::I2cBusModel::clearLog();
    pass();
    EXPECT_EQ((std::vector<int>{rx().reg(0, 0x27), rx().reg(0, 0x28), rx().reg(0, 0x29), rx().reg(0, 0x26) & 0x20}),
              (std::vector<int>{0x20, 0x03, 0x45, 0x20})) << "0x26 bit 5: manual EQ";
    pass(25);
    EXPECT_EQ(drv->dev_data[0].EQPort[0].ucEQState, 255) << "search over";
    EXPECT_TRUE(writesTo(0x27) == std::vector<uint8_t>{0x20}) << "no value tried";

    // Without amplitudes and with errors on every sample the three values are tried in
    // order and the last one kept (equal counts).
    drv->DisableOverWriteRS(drv->fd, 0, 0);
    rx().setReg(0, 0xB2, 0x01);
    sim::I2cBusModel::clearLog();
    drv->HDMIStartEQDetect(drv->fd, 0, 0);
    for (int i = 0; i < 200 && drv->dev_data[0].EQPort[0].ucEQState != 255; ++i)
        pass();
    EXPECT_EQ(drv->dev_data[0].EQPort[0].ucEQState, 255);
    std::vector<uint8_t> tried = writesTo(0x27);
    tried.erase(std::unique(tried.begin(), tried.end()), tried.end());
    EXPECT_EQ(std::make_pair(tried, int(rx().reg(0, 0x27))), std::make_pair(std::vector<uint8_t>{0xFF, 0x9F, 0x83}, 0x83));
    rx().setReg(0, 0xB2, 0x00);
}

TEST_F(It6602, TheContentMuteOfASearchEndsWithItAndVideoOnShowsThePicture)
{
    ASSERT_TRUE(settle());
    // Both top error bits on a sample: the search mutes the content. The sync goes with the
    // clock kept, the search ends without video, and the sync comes back on the same clock.
    rx().setReg(0, 0xB2, 0xC0);
    drv->HDMIStartEQDetect(drv->fd, 0, 0);
    pass(3);
    ASSERT_EQ(drv->dev_data[0].m_HDCP_ContentOff, 1);
    rx().setReg(0, 0xB2, 0x00);
    scenario("input0.scdt", "0");
    for (int i = 0; i < 200 && searching(); ++i)
        pass();
    scenario("input0.scdt", "1");
    pass(100);
    EXPECT_EQ((std::vector<int>{vstate(), drv->dev_data[0].m_HDCP_ContentOff, rx().reg(0, 0x53) & 0xC0}),
              (std::vector<int>{VSTATE_VideoOn, 0, 0x40}));
    EXPECT_EQ(status(0), k1080p60);
}

TEST_F(It6602, AnUnmuteWhoseWriteIsNotTakenIsMadeAgain)
{
    ASSERT_TRUE(settle());
    scenario("input0.avmute", "1");
    pass(2);
    ASSERT_EQ(rx().reg(0, 0x53) & 0x80, 0x80) << "muted";
    // The write releasing bits 1-3 after the unmute pulse set them is refused once.
    sim::I2cBusModel::drop({0, 1, false, true, [this](uint8_t a, const uint8_t* d, uint16_t n) { return a == 0x90 && n > 1 && d[0] == 0x53 && (rx().reg(0, 0x53) & 0x0E) && !(d[1] & 0x0E); }});
    scenario("input0.avmute", "0");
    pass(3);
    EXPECT_EQ((std::vector<int>{sim::I2cBusModel::dropped(), rx().reg(0, 0x53) & 0x8F}), (std::vector<int>{1, 0}));
    EXPECT_EQ(status(0), k1080p60);
}

TEST_F(It6602, EqualiserInterruptBitsAreAcknowledgedAsTheyAreServed)
{
    ASSERT_TRUE(settle());
    // Raised bits of 0xD0, then what is written to it: the low nibble, then each bit served.
    const std::pair<int, std::vector<uint8_t>> cases[] = {
        {0x80, {0x00, 0x80}}, {0xC0, {0x00, 0xC0, 0x80}}, {0xA0, {0x00, 0x20, 0x80}}, {0x60, {0x00, 0xC0}}};
    for (const auto& [raised, want] : cases) {
        sim::I2cBusModel::clearLog();
        rx().raise(0xD0, uint8_t(raised));
        pass();
        EXPECT_EQ(writesTo(0xD0), want) << "raised 0x" << std::hex << raised;
    }
}

TEST_F(It6602, TheTwentyThirdEccInterruptPulsesHotPlugAndResetsThePort)
{
    ASSERT_TRUE(settle());
    sim::I2cBusModel::clearLog();
    for (int i = 0; i < 22; ++i) {
        rx().raise(0x05, 0x40);
        pass();
    }
    EXPECT_TRUE(writesTo(0x11).empty());
    rx().raise(0x05, 0x40);
    pass();
    const auto resets = writesTo(0x11);
    ASSERT_EQ(resets.size(), 2u);
    EXPECT_EQ((std::vector<int>{resets[0] & 0x0F, resets[1] & 0x0F}), (std::vector<int>{0x0F, 0x00}));
    bool low = false;
    for (uint8_t v : writesTo(0xB0))
        low = low || (v & 0x03) == 0x01;
    EXPECT_TRUE(low) << "HPD was pulled low";
    EXPECT_TRUE(rx().hpd()) << "and raised again";
    EXPECT_EQ(drv->dev_data[0].m_ucEccCount[0], 0);
}

TEST_F(It6602, AClockChangeOrAReceiverResetEndsInOneEqualiserSearch)
{
    ASSERT_TRUE(settle());
    // The clock moves (1080p60 to 720p60): a receiver reset and an EQ start are pending
    // (bits 0 and 2), the reset counts down from 3, then one search runs.
    scenario("input0.timing", "1280x720@60");
    pass();
    EXPECT_EQ(drv->dev_data[0].m_ucEvent & 0x77, 0x05);
    pass(2);
    EXPECT_FALSE(searching());
    EXPECT_EQ((std::vector<int>{searchesIn(300), drv->dev_data[0].m_ucEvent, vstate()}), (std::vector<int>{1, 0, VSTATE_VideoOn}));

    // A receiver-reset interrupt: reset and check pending, then the check itself on the
    // clock, which leads to the one search as well.
    rx().raise(0x05, 0x08);
    pass();
    // Events, receiver reset register, then one search and no event left.
    EXPECT_EQ((std::vector<int>{drv->dev_data[0].m_ucEvent & 0x77, rx().reg(0, 0x22), searchesIn(300), drv->dev_data[0].m_ucEvent}),
              (std::vector<int>{0x03, 0x00, 1, 0}));
}

TEST_F(It6602, DeskewBurstsToggleTheDeskewAndEqFailuresTogglePolaritySixteenTimes)
{
    ASSERT_TRUE(settle());
    ASSERT_EQ(rx().reg(0, 0x20), 0x00);
    for (int i = 0; i < 22; ++i) {
        rx().raise(0x09, 0x20);
        pass();
    }
    EXPECT_EQ(rx().reg(0, 0x20), 0x00);
    rx().raise(0x09, 0x20);
    pass();
    EXPECT_EQ(rx().reg(0, 0x20), 0x3F) << "the 23rd port 0 deskew interrupt";

    // With complete amplitudes an EQ failure neither toggles nor searches; without, the
    // polarity is toggled, 16 times at most, then the EQ values are tried.
    uint8_t last = rx().reg(1, 0xB9) & 0x80;
    drv->link[0][0].ampValid = 0x3F;
    rx().raise(0xD0, 0x20);
    pass();
    EXPECT_EQ((std::vector<int>{rx().reg(1, 0xB9) & 0x80, drv->dev_data[0].EQPort[0].f_manualEQadjust}), (std::vector<int>{last, 0}));
    drv->link[0][0].ampValid = 0;
    int toggles = 0;
    for (int i = 0; i < 17; ++i) {
        rx().raise(0xD0, 0x20);
        pass();
        const uint8_t now = rx().reg(1, 0xB9) & 0x80;
        toggles += now != last;
        last = now;
    }
    // Toggles, the driver's count, the search started with the RS/EQ control back at 0.
    EXPECT_EQ((std::vector<int>{toggles, drv->dev_data[0].m_ToggleCount[0], drv->dev_data[0].EQPort[0].f_manualEQadjust, rx().reg(0, 0x22)}),
              (std::vector<int>{16, 16, 1, 0x00}));
}

// --- colour conversion --------------------------------------------------------------------------

TEST_F(It6602, EachOutputModeSetsItsColourBusAndSyncBits)
{
    // 0x51: bit 6 DDR, bit 5 half bus, bit 2 CCIR 656 (bits 0, 1, 3, 4, 7 kept); 0x65 bits
    // 4-7: colour (0x10 4:2:2, 0x20 4:4:4 YCbCr), 0xC0 BTA-1004, bit 6 embedded sync.
    const int r51[16] = {0, 0, 0x40, 0x40, 0, 0x40, 0, 0x40, 0x04, 0x44, 0x04, 0x44, 0x20, 0x20, 0, 0x40};
    const int r65[16] = {0, 0x20, 0, 0x20, 0x50, 0x50, 0x10, 0x10, 0x50, 0x50, 0x10, 0x10, 0, 0x20, 0xD0, 0xD0};
    const int colour[16] = {0, 2, 0, 2, 1, 1, 1, 1, 1, 1, 1, 1, 0, 2, 1, 1};
    ASSERT_EQ(src->set_switch(0xEE, 0x02), 1);
    ASSERT_EQ(drv->IT6602_Identify_Chip(drv->fd, 0), 1);
    IT6602_dev_data* d = drv->get_IT6602_dev_data(0);
    for (int mode = 0; mode < 16; ++mode) {
        drv->IT6602_VideoOutputConfigure_Init(d, mode);
        EXPECT_EQ(d->m_bOutputVideoMode, colour[mode]) << mode;
        rx().setReg(0, 0x51, 0x9B);
        rx().setReg(0, 0x65, 0x0F);
        drv->IT6602_VideoOutputModeSet(drv->fd, d);
        EXPECT_EQ(rx().reg(0, 0x51), 0x9B | r51[mode]) << mode;
        EXPECT_EQ(rx().reg(0, 0x65), 0x0F | r65[mode]) << mode;
    }
}

// --- audio ----------------------------------------------------------------------------------------

TEST_F(It6602, AudioComesOnThreePassesAfterItsRequestAndFollowsTheSampleRate)
{
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    // Requested and read in the pass of video on.
    EXPECT_EQ((std::vector<int>{astate(), drv->dev_data[0].m_RxAudioCaps.SampleFreq, drv->dev_data[0].m_RxAudioCaps.AudioFlag}),
              (std::vector<int>{ASTATE_WaitForReady, 2, 0x81}));
    pass(2);
    EXPECT_EQ((std::vector<int>{astate(), rx().audioOutput()}), (std::vector<int>{ASTATE_WaitForReady, 0})) << "201 -> 101 -> 1";
    pass();
    EXPECT_EQ((std::vector<int>{astate(), rx().audioOutput()}), (std::vector<int>{ASTATE_AudioOn, 1}));

    scenario("input0.audiofs", "3");
    pass();
    EXPECT_EQ((std::vector<int>{astate(), rx().audioOutput()}), (std::vector<int>{ASTATE_RequestAudio, 0})) << "read at countdown 0";
    // The request: 0x54 bits 4-6 = 1, 0x7D bit 4 cleared (not DSD), mute-clear mode (0x7D
    // bit 5), the audio path reset (0x10 bit 1 pulsed, 0x7B rewritten four times), then the
    // mute-clear pulse of waiting for ready.
    sim::I2cBusModel::clearLog();
    pass();
    EXPECT_EQ(astate(), ASTATE_WaitForReady);
    const auto w54 = writesTo(0x54), w7d = writesTo(0x7D), w10 = writesTo(0x10);
    ASSERT_EQ(w54.size(), 1u);
    EXPECT_EQ(w54[0] & 0x70, 0x10);
    ASSERT_EQ(w7d.size(), 4u);
    EXPECT_EQ((std::vector<int>{w7d[0] & 0x10, w7d[1] & 0x20, w7d[2] & 0x10, w7d[3] & 0x10}),
              (std::vector<int>{0x00, 0x20, 0x10, 0x00}));
    ASSERT_EQ(w10.size(), 2u);
    EXPECT_EQ((std::vector<int>{w10[0] & 0x02, w10[1] & 0x02, int(writesTo(0x7B).size())}), (std::vector<int>{0x02, 0x00, 4}));
    pass(3);
    EXPECT_EQ((std::vector<int>{astate(), drv->dev_data[0].m_RxAudioCaps.SampleFreq}), (std::vector<int>{ASTATE_AudioOn, 3}));

    // A DVI source carries no audio: the output goes off and never comes on.
    scenario("input0.hdmi", "0");
    pass(10);
    EXPECT_NE(astate(), ASTATE_AudioOn);
    EXPECT_FALSE(rx().audioOutput());
}

// --- 3D -------------------------------------------------------------------------------------------

TEST_F(It6602, AFramePacked3DSourceProgramsTheDeGeneratorFromItsVic)
{
    scenario("input0.vic", "32");
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    scenario("input0.3d", "framepacking");
    pass();
    EXPECT_EQ(drv->dev_data[0].de3dframe, 1);
    // VIC 32: v_total 1124, active 1165..1120, sync end 1129, 1080 lines: boundary 625..1705.
    // Bank 1 0x9D, 0x9C, 0x92, 0x93, 0x94, 0x9F, 0x8F, 0x90, 0x91; bank 0 0x66 bit 4, 0x85 bit 5.
    EXPECT_EQ((std::vector<int>{rx().reg(1, 0x9D), rx().reg(1, 0x9C) & 0xF0, rx().reg(1, 0x92), rx().reg(1, 0x93),
                                rx().reg(1, 0x94), rx().reg(1, 0x9F) & 0xF0, rx().reg(1, 0x8F), rx().reg(1, 0x90),
                                rx().reg(1, 0x91), rx().reg(0, 0x66) & 0x10, rx().reg(0, 0x85) & 0x20}),
              (std::vector<int>{0x46, 0x40, 0x8D, 0x04, 0x46, 0x90, 0x71, 0x92, 0x6A, 0x10, 0x20}));
    // Only a new vendor infoframe (0x08 bit 2) runs the set-up again, no other bit of 0x08.
    drv->dev_data[0].de3dframe = 0;
    rx().raise(0x08, 0xFB);
    pass();
    EXPECT_EQ(drv->dev_data[0].de3dframe, 0);

    // The other rows (VIC, v_total, v_act_start, v_act_end, v_sync_end, active); a VIC not
    // listed takes the end row of zeros.
    const int rows[][6] = {{1, 524, 559, 514, 526, 480},    {2, 524, 560, 515, 530, 480},
                           {3, 524, 560, 515, 530, 480},    {17, 624, 668, 619, 629, 576},
                           {18, 624, 668, 619, 629, 576},   {60, 749, 774, 744, 754, 720},
                           {61, 749, 774, 744, 754, 720},   {62, 749, 774, 744, 754, 720},
                           {19, 749, 774, 744, 754, 720},   {4, 749, 774, 744, 754, 720},
                           {33, 1124, 1165, 1120, 1129, 1080}, {34, 1124, 1165, 1120, 1129, 1080},
                           {99, 0, 0, 0, 0, 0}};
    for (const auto& r : rows) {
        scenario("input0.vic", std::to_string(r[0]).c_str());
        ASSERT_EQ(drv->IT6602_DE3DFrame(drv->fd, 1, 0), 1) << r[0];
        const int from = r[2] - r[5] / 2, to = r[2] + r[5] / 2;
        EXPECT_EQ((std::vector<int>{rx().reg(1, 0x9D), rx().reg(1, 0x9C) >> 4, rx().reg(1, 0x92), rx().reg(1, 0x94),
                                    rx().reg(1, 0x9F) >> 4, rx().reg(1, 0x8F), rx().reg(1, 0x91)}),
                  (std::vector<int>{(r[1] >> 4) & 0xFF, r[1] & 0x0F, r[2] & 0xFF, (r[3] >> 4) & 0xFF, r[4] & 0x0F,
                                    from & 0xFF, (to >> 4) & 0xFF}))
            << "VIC " << r[0];
    }

    // Side-by-side is only recognised: the flag is set, nothing is programmed.
    scenario({{"input0.signal", "0"}, {"input0.cable", "1"}});
    pass();
    EXPECT_EQ(drv->dev_data[0].de3dframe, 0) << "cleared while waiting for a signal";
    rx().setReg(1, 0x9D, 0);
    scenario({{"input0.3d", "sidebyside"}, {"input0.signal", "1"}});
    ASSERT_TRUE(runTo(VSTATE_VideoOn));
    pass();
    EXPECT_EQ((std::vector<int>{drv->dev_data[0].de3dframe, rx().reg(1, 0x9D)}), (std::vector<int>{1, 0x00}));
}
