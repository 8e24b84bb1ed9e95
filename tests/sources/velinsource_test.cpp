#include "board/sim/InputTiming.h"
#include "board/sim/ScenarioCheck.h"
#include "board/sim/SourceEvents.h"
#include "board/sim/Sim.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "sources/it6805/ite6805_sys.h"
#include "sources/it6602/velin_it6602.h"
#include "sources/velinsource.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"
#include "tests/support/Sources.h"
#include "tests/support/TestRoot.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cmath>
#include <functional>
#include <numeric>
#include <rapidcheck/state.h>
#include <set>
#include <tuple>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr uint32_t kIt6602Reset = 0x207940;
constexpr uint32_t kIt6805Reset = 0x207944;
constexpr uint32_t kClock0Enable = 0x207858;
constexpr uint32_t kClock1Enable = 0x207864;
constexpr uint32_t kPulseLine = 0x2848;

void setCheckEdid(const char* mode) { std::lock_guard<std::mutex> hold(g_str_globals_mutex); g_check_edid = mode; }

std::vector<sim::I2cRecord> recordsAt(uint8_t address8)
{
    std::vector<sim::I2cRecord> out;
    for (const auto& r : sim::I2cBusModel::log())
        if (r.address8 == address8)
            out.push_back(r);
    return out;
}

std::array<uint8_t, 256> image(const unsigned char* p)
{
    std::array<uint8_t, 256> a;
    std::memcpy(a.data(), p, 256);
    return a;
}

// The product name in an image (seven characters from offset 113).
std::string productName(const std::array<uint8_t, 256>& e) { return std::string(e.begin() + 113, e.begin() + 120); }

sim::EdidEepromModel& eeprom(int input) { return sim::InputSideModel::eeprom(input); }

class InputSource : public kel_test::SourcesFixture {
protected:
    void SetUp() override
    {
        drop();
        SourcesFixture::SetUp();
        fpga_manage::pInstance();   // maps the SoC window that carries the GPIO lines
        // The clock chips' enables are the FPGAs' reset lines, pulled up on the board: held
        // low, as the FPGA bring-up holds them, until the input manager enables a chip.
        sim::SocModel::write16(kClock0Enable, 0), sim::SocModel::write16(kClock1Enable, 0);
        G_timeTicks = 1000;
        g_check_source = 0xFF;
        setCheckEdid("Never");
        for (auto& f : edid_ram_table_from)
            f = 0;
        openSources();
        sim::I2cBusModel::clearLog();
    }
    void TearDown() override { drop(); kel_test::resetSourceGlobals(); }
    static void drop()
    {
        // The FPGA manager goes after the source manager and before the block.
        delete velinsource::p_velin_source;
        delete fpga_manage::p_fpga_manage;
        kel_test::dropSources();
    }

    // One pass of the thread, then one tick.
    void pass(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            src->checksource_pass();
            ++G_timeTicks;
            sim::SimBoard::advanceVirtual(velinsource::kPassPauseMs * 1000);   // the thread's pause
        }
    }
    // Passes until the thread reaches state; false after limit passes.
    bool runTo(int state, int limit = 200)
    {
        for (int i = 0; i < limit && src->thread_state != state; ++i)
            pass();
        return src->thread_state == state;
    }
    // Straight to the main pass with the clock chip done and no input polled, so a test
    // sees only the traffic of the step it is about.
    void mainPassesOnly()
    {
        src->thread_state = velinsource::kStateRun;
        src->clock_done[0] = 1;
        src->clock_state[0] = 2;
        src->check_mask = 0;
    }
    uint8_t& reg(int n) { return para->reg_image[n]; }
    // The IT6602 and IT6805 reset lines.
    static std::vector<int> resetLines() { return {sim::SocModel::read16(kIt6602Reset), sim::SocModel::read16(kIt6805Reset)}; }
    void requestEdid(int input, int w, int h, int hz)
    {
        uint8_t* at = para->ram + 896 + 6 * input;
        KelRamPara::put16(at, uint16_t(w));
        KelRamPara::put16(at + 2, uint16_t(h));
        KelRamPara::put16(at + 4, uint16_t(hz));
        src->raise_edid_request(input);
    }
    static std::string edidCheckSetting() { return ConfigEngine::p_config->read_config_variant(ConfigItem::EDIDCheck).toString().toStdString(); }

    kel_test::TestRoot root;
};

// Every input polled on the main pass with the output path up: what a receiver measures is
// published at once.
class AllInputs : public InputSource {
protected:
    void SetUp() override
    {
        InputSource::SetUp();
        mainPassesOnly();
        src->check_mask = 0x2E;
        g_source_online = 2;
        g_fpga_lcd_on = g_c331_source_online = 1;
        sim::SocModel::write16(kIt6602Reset, 16);
        sim::SocModel::write16(kIt6805Reset, 16);
    }
};

} // namespace

// --- start-up: reset sequence and EEPROM check --------------------------------------------

TEST_F(InputSource, ResetSequenceLowersAndReleasesTheReceiverResets)
{
    sim::SocModel::write16(kIt6602Reset, 16);
    sim::SocModel::write16(kIt6805Reset, 16);
    src->p_ite6805_sys->FsmState[0] = 1;

    src->checksource_pass();
    // Both reset lines, the IT6805 driver state, the thread state.
    EXPECT_EQ((std::vector<int>{resetLines()[0], resetLines()[1], src->p_ite6805_sys->FsmState[0], src->thread_state}),
              (std::vector<int>{0, 0, 0, velinsource::kStateResetWait}));

    G_timeTicks += 10;
    src->checksource_pass();
    EXPECT_EQ(src->thread_state, velinsource::kStateResetWait) << "more than 10 ticks low";
    G_timeTicks += 1;
    src->checksource_pass();
    EXPECT_EQ((std::vector<int>{src->thread_state, resetLines()[0], resetLines()[1]}),
              (std::vector<int>{velinsource::kStateRelease, 0, 0}));

    src->checksource_pass();
    // Reset lines, the four reset flags, the thread state.
    EXPECT_EQ((std::vector<int>{resetLines()[0], resetLines()[1], src->reset_flag[0], src->reset_flag[1], src->reset_flag[2],
                                src->reset_flag[3], src->thread_state}),
              (std::vector<int>{16, 16, 0, 0, 0, 0, velinsource::kStateReleaseWait}));

    G_timeTicks += 11;
    src->checksource_pass();
    EXPECT_EQ(src->thread_state, velinsource::kStateEdidCheck);

    // "Never": protection on, state 5, the inputs count as good.
    reg(38) = 0x00;
    reg(37) = 0x00;
    sim::I2cBusModel::clearLog();
    src->checksource_pass();
    EXPECT_EQ((std::vector<int>{src->thread_state, sim::InputSideModel::expander().output()}),
              (std::vector<int>{velinsource::kStateRun, 0x01}));
    EXPECT_EQ((std::vector<int>{reg(38), reg(37), recordsAt(0xA0).empty()}), (std::vector<int>{0x5F, 0x80, 1})) << "no EEPROM is read";

    // Any other setting than "Once" skips the check and leaves the status bits.
    setCheckEdid("Sometimes");
    src->thread_state = velinsource::kStateEdidCheck;
    reg(38) = 0x13;
    src->checksource_pass();
    EXPECT_EQ((std::vector<int>{src->thread_state, reg(38)}), (std::vector<int>{velinsource::kStateRun, 0x13}));
    EXPECT_EQ(std::make_pair(recordsAt(0xA0).empty(), edidCheckSetting()), std::make_pair(true, std::string("Once")));
}

TEST_F(InputSource, CheckOnceRepairsBlankAndCorruptEepromsAndTurnsItselfOff)
{
    setCheckEdid("Once");
    eeprom(2).fillBlank();
    eeprom(3).corrupt();
    ASSERT_EQ(reg(38) & 0x0F, 0x0F) << "every EEPROM is checked at the first start";

    ASSERT_TRUE(runTo(velinsource::kStateRun));
    EXPECT_EQ(eeprom(2).contents(), image(velinsource::velin_default_edid_6602[3]));
    EXPECT_EQ(eeprom(3).contents(), image(velinsource::velin_default_edid_6805[0]));
    EXPECT_EQ(eeprom(0).storedPages() + eeprom(1).storedPages(), 0) << "a valid EEPROM is left alone";
    EXPECT_EQ((std::vector<int>{reg(38) & 0x4F, sim::InputSideModel::expander().output() & 0x01}), (std::vector<int>{0x4F, 1}));
    EXPECT_EQ(edidCheckSetting(), "Never");
    EXPECT_NE(root.readFile("/data/configs/tcpip.ini").find("EDIDCheck=Never"), std::string::npos);
}

TEST_F(InputSource, UnrepairableEepromRepeatsTheResetOnceThenIsSkipped)
{
    setCheckEdid("Once");
    eeprom(1).setPresent(false);
    int resets = 0;
    uint8_t last = src->thread_state;
    for (int i = 0; i < 400 && src->thread_state != velinsource::kStateRun; ++i) {
        pass();
        if (src->thread_state == velinsource::kStateReset && last != velinsource::kStateReset) {
            ++resets;
            EXPECT_EQ((std::vector<int>{src->reset_flag[0], src->reset_flag[1], src->reset_flag[3]}),
                      (std::vector<int>{1, 0, 1}));
            EXPECT_EQ(reg(38) & 0x02, 0) << "its status bit is cleared";
        }
        last = src->thread_state;
    }
    EXPECT_EQ((std::vector<int>{src->thread_state, resets, reg(38) & 0x0F}), (std::vector<int>{velinsource::kStateRun, 1, 0x0D}));
    // The channel of input 1 was opened for one check only.
    const auto switches = recordsAt(0xE0);
    EXPECT_EQ(std::count_if(switches.begin(), switches.end(),
                            [](const sim::I2cRecord& r) { return r.data == std::vector<uint8_t>{0x00, 0x04}; }),
              1);
}

// --- clock chip ------------------------------------------------------------------------------

TEST_F(InputSource, ClockChipIsWrittenInOnePassAndEnabledInTheNext)
{
    // Registers 0..62, one write each.
    const uint8_t table[63] = {
        0x00, 0x00, 0x11, 0x32, 0x7B, 0x53, 0xEC, 0x01, 0x19, 0x52, 0xF2, 0x06, 0x63, 0x24, 0xC7, 0x13,
        0x00, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24, 0x03, 0x11, 0x33, 0x38, 0x80, 0x04,
        0x00, 0x00, 0x74, 0x74, 0x90, 0x7D, 0x69, 0xE1, 0xA0, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0xF3, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x05};
    std::vector<std::vector<uint8_t>> want;
    for (int r = 0; r < 63; ++r)
        want.push_back({uint8_t(r), table[r]});
    src->thread_state = velinsource::kStateRun;
    src->check_mask = 0;
    EXPECT_EQ(src->startup_stage(), 0);

    src->checksource_pass();
    std::vector<std::vector<uint8_t>> written;
    for (const auto& r : recordsAt(0xD0))
        written.push_back(r.data);
    EXPECT_EQ(written, want);
    // Start-up stage, done flag, chip output, register 38 (switch 0xE0 answered, chip not
    // enabled yet); then stage 2: the FPGA bring-up may start.
    EXPECT_EQ((std::vector<int>{src->startup_stage(), src->clock_done[0], sim::InputSideModel::clockChip().outputEnabled(),
                                reg(38) & 0xA0}),
              (std::vector<int>{1, 0, 0, 0x20}));

    src->checksource_pass();
    EXPECT_EQ((std::vector<int>{src->startup_stage(), src->clock_done[0], sim::SocModel::read16(kClock0Enable),
                                sim::InputSideModel::clockChip().outputEnabled(), reg(38) & 0x80}),
              (std::vector<int>{2, 1, 16, 1, 0x80}));

    const size_t traffic = recordsAt(0xD0).size();
    src->checksource_pass();
    EXPECT_EQ(recordsAt(0xD0).size(), traffic) << "a done chip is left alone";

    // Chip 1 uses the second enable line and register 39.
    reg(39) = 0;
    src->s5p210_setup(1);
    src->s5p210_setup(1);
    EXPECT_EQ((std::vector<int>{src->clock_state[1], sim::SocModel::read16(kClock1Enable), reg(39) & 0x01}),
              (std::vector<int>{2, 16, 0x01}));
}

TEST_F(InputSource, WithoutTheClockChipOrItsSwitchTheFpgasWait)
{
    src->thread_state = velinsource::kStateRun;
    src->check_mask = 0;
    sim::InputSideModel::setClockPresent(false);
    pass(5);
    EXPECT_EQ((std::vector<int>{src->startup_stage(), reg(38) & 0xA0, sim::SocModel::read16(kClock0Enable)}),
              (std::vector<int>{0, 0x20, 0}));

    sim::InputSideModel::setClockPresent(true);
    sim::I2cBusModel::setAbsent(0xE0, true);
    pass(5);
    EXPECT_EQ(reg(38) & 0x20, 0) << "the switch did not answer";
    EXPECT_EQ((std::vector<size_t>{src->startup_stage(), recordsAt(0xD0).size()}), (std::vector<size_t>{0, 5})) << "five attempts only";
}

TEST_F(InputSource, Cdce913IsOneBlockWriteRetriedUntilAcknowledged)
{
    // Nothing in the system calls it and the board model has no such chip: without it the
    // state stays at 0 and the next call tries again.
    src->cdce913_setup(7);
    src->cdce913_setup(7);
    EXPECT_EQ((std::vector<size_t>{src->clock_state[2], recordsAt(0xCA).size()}), (std::vector<size_t>{0, 2}));

    // With a register file at 0xCA the block lands from register 0 on.
    static sim::ClockChipModel cdce913(0);
    static bool attached = false;
    if (!attached) {
        sim::I2cBusModel::attach(0xCA, &cdce913);
        attached = true;
    }
    cdce913.reset();
    sim::I2cBusModel::clearLog();
    src->clock_done[2] = 1;
    src->cdce913_setup(7);
    EXPECT_EQ((std::vector<int>{src->clock_state[2], src->clock_done[2]}), (std::vector<int>{2, 0})) << "done cleared by the write";
    auto log = recordsAt(0xCA);
    ASSERT_EQ(log.size(), 1u);
    ASSERT_EQ(log[0].data.size(), 34u);
    const std::vector<uint8_t> block{0x00, 0xCA, 0x81, 0x00, 0xB4, 0x07, 0x02, 0x50, 0x40, 0x00, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0D, 0x02, 0x00,
                                     0x00, 0xE4, 0x61, 0x23, 0xCB, 0xE4, 0x61, 0x23, 0xCB};
    EXPECT_EQ(std::make_pair(log[0].data, int(cdce913.reg(32))), std::make_pair(block, 0xCB));
    src->cdce913_setup(7);
    EXPECT_EQ(src->clock_done[2], 1);
}

// --- EDID requests ----------------------------------------------------------------------------

TEST_F(InputSource, EdidRequestProgramsTheEepromPageByPageAndVerifies)
{
    mainPassesOnly();
    requestEdid(1, 1920, 1080, 60);
    EXPECT_EQ(src->edid_done[1], 0);
    src->checksource_pass();

    ASSERT_NE(src->edidTable, nullptr);
    const auto chosen = image(src->edidTable);
    EXPECT_EQ(std::make_pair(eeprom(1).contents(), productName(chosen)), std::make_pair(chosen, std::string("KEL-HD1")));
    EXPECT_EQ((std::vector<int>{src->edid_done[1], src->edid_request[1]}), (std::vector<int>{1, 1}))
        << "the request is cleared when the input is polled next";

    // Order on the bus: protection off, branch, 32 pages each waited out, read-back,
    // protection on.
    const auto log = sim::I2cBusModel::log();
    size_t i = 0;
    auto next = [&](uint8_t address) {
        while (i < log.size() && log[i].address8 != address)
            ++i;
        return i < log.size() ? log[i++] : sim::I2cRecord();
    };
    auto expander = next(0x40);
    EXPECT_EQ(expander.data, (std::vector<uint8_t>{0x00, 0x00}));
    auto branch = next(0xE0);
    EXPECT_EQ(branch.data, (std::vector<uint8_t>{0x00, 0x04}));
    int pages = 0, waits = 0, reads = 0;
    size_t lastPage = 0;
    for (; i < log.size() && log[i].address8 == 0xA0; ++i) {
        const auto& r = log[i];
        if (!r.read && r.data.size() == 9) {
            ASSERT_EQ(r.data[0], pages * 8) << "pages in order";
            ASSERT_TRUE(std::equal(r.data.begin() + 1, r.data.end(), chosen.begin() + pages * 8));
            if (pages > 0) {
                EXPECT_GT(i - lastPage, 1u) << "the write cycle is waited out";
            }
            lastPage = i;
            ++pages;
        } else if (!r.read && r.data.size() == 1) {
            if (!r.acked)
                ++waits;
        } else if (r.read) {
            ++reads;
        }
    }
    EXPECT_EQ(pages, 32);
    EXPECT_GE(waits, 32) << "each page is busy for a while after its write";
    EXPECT_EQ(reads, 32) << "read back in 8-byte pieces";
    auto protectOn = next(0x40);
    EXPECT_EQ(protectOn.data, (std::vector<uint8_t>{0x00, 0x01}));

    // The next poll of the input clears the request and restarts its receiver.
    src->check_mask = 0x04;
    src->it6602_step[1] = 2;
    const int stored = eeprom(1).storedPages();
    src->checksource_pass();
    EXPECT_EQ((std::vector<int>{src->edid_request[1], src->it6602_step[1]}), (std::vector<int>{0, 0}));
    src->checksource_pass();
    EXPECT_EQ(eeprom(1).storedPages(), stored) << "written once";
}

TEST_F(InputSource, AFailedPageIsRetriedABoundedNumberOfTimes)
{
    mainPassesOnly();
    // Two refusals of the first page: the third attempt stores it.
    eeprom(2).nakPageWrites(2);
    requestEdid(2, 1920, 1080, 50);
    pass();
    EXPECT_EQ(std::make_pair(int(src->edid_done[2]), eeprom(2).contents()), std::make_pair(1, image(src->edidTable)));
    int refused = 0;
    for (const auto& r : recordsAt(0xA0))
        if (!r.read && r.data.size() == 9 && !r.acked)
            ++refused;
    EXPECT_EQ(refused, 2);
    // A page taken but kept wrong: the read-back finds it and the request is made again.
    eeprom(0).loseStores(1);
    requestEdid(0, 1920, 1080, 50);
    pass();
    const int first = src->edid_done[0];
    G_timeTicks += velinsource::kEdidRetryTicks, pass();
    EXPECT_EQ(std::make_tuple(first, int(src->edid_done[0]), eeprom(0).contents()), std::make_tuple(0, 1, image(src->edidTable)));

    // Three refusals: the write gives up at that page and the request stays pending.
    pass();
    sim::I2cBusModel::clearLog();
    eeprom(1).nakPageWrites(3);
    requestEdid(1, 1920, 1080, 50);
    pass();
    EXPECT_EQ(src->edid_done[1], 0);
    int attempts = 0;
    for (const auto& r : recordsAt(0xA0))
        if (!r.read && r.data.size() == 9)
            ++attempts;
    EXPECT_EQ(attempts, 3) << "no page after the one that failed";

}

TEST_F(InputSource, PcImageStaysTheOneToWriteUntilItIsInTheEeprom)
{
    mainPassesOnly();
    {
        std::lock_guard<std::mutex> hold(g_edid_ram_table_mutex);
        std::memcpy(edid_ram_table[3], edid_table_4k_5, kEdidSize);
        edid_ram_table[3][127] ^= 0x01;   // a wrong checksum is the PC's business
        edid_ram_table_from[3] = 1;
    }
    eeprom(3).setPresent(false);
    src->raise_edid_request(3);
    pass();
    EXPECT_EQ((std::vector<int>{src->edid_done[3], edid_ram_table_from[3]}), (std::vector<int>{0, 1}));

    eeprom(3).setPresent(true);
    G_timeTicks += velinsource::kEdidRetryTicks;
    pass();
    EXPECT_EQ((std::vector<int>{src->edid_done[3], edid_ram_table_from[3]}), (std::vector<int>{1, 0}));
    EXPECT_EQ(eeprom(3).contents(), image(edid_ram_table[3]));
}

TEST_F(InputSource, AnEepromThatNeverTakesItsImageEndsTheRequestAfterThreeTriesAndOtherInputsHaveNone)
{
    mainPassesOnly();
    src->check_mask = 0x04;   // input 1 is polled, so a finished request is cleared
    eeprom(1).setPresent(false);
    requestEdid(1, 1920, 1080, 50);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        pass();
        EXPECT_EQ(src->edid_done[1], attempt == 3 ? 1 : 0) << attempt;
        G_timeTicks += velinsource::kEdidRetryTicks;
    }
    // Completed as written: the check step pulses the hot-plug line and clears the request,
    // and the input thread no longer spends its passes on that EEPROM.
    pass();
    EXPECT_EQ(src->edid_request[1], 0);
    sim::I2cBusModel::clearLog();
    src->raise_edid_request(4);   // no EEPROM behind these: ignored
    src->raise_edid_request(-1);
    for (int i = 0; i < 5; ++i) {
        G_timeTicks += velinsource::kEdidRetryTicks;
        pass();
    }
    EXPECT_TRUE(recordsAt(0xA0).empty());
}

// --- command registers ----------------------------------------------------------------------

TEST_F(InputSource, Register32IsTakenOncePerPassAndCleared)
{
    // The reset bits: AllInputs.WhatIsPublishedMatchesWhatEachSourceSendsOverRandomHistories.
    mainPassesOnly();
    reg(32) = 0x16;   // bit 4 re-identify, bit 1 raise, bit 2 lower: lower wins
    pass();
    EXPECT_EQ((std::vector<int>{reg(32), sim::SocModel::read16(kIt6805Reset)}), (std::vector<int>{0, 0}));
    sim::I2cBusModel::clearLog();
    reg(32) = 0x41;   // HPD low on device 0 and the IT6805 initialisation, both on branch 0x20
    pass();
    int selects = 0;
    for (const auto& r : recordsAt(0xEE))
        if (r.data == std::vector<uint8_t>{0x00, 0x20})
            ++selects;
    EXPECT_EQ((std::vector<int>{selects, recordsAt(0x90).empty()}), (std::vector<int>{1, 0})) << "the receiver was addressed";
    EXPECT_EQ(reg(32), 0);
}

TEST_F(InputSource, Register0RunsAtTheFirstPolledInput)
{
    mainPassesOnly();
    reg(0) = 0x01;
    pass();
    EXPECT_EQ(reg(0), 0x01) << "no input polled, nothing executed";

    src->check_mask = 0x20;
    reg(0) = 0x09;    // bit 0 lowers, bit 3 raises: taken in bit order (their effect: the history check)
    pass();
    EXPECT_EQ((std::vector<int>{sim::SocModel::read16(kIt6805Reset), reg(0)}), (std::vector<int>{16, 0}));

    // Hot-plug requests (bits 4-7) on input 3's branch and the polled input's again: ReceiverSweep.
}

TEST_F(InputSource, LinePulseIsLowForMoreThan15Ticks)
{
    mainPassesOnly();
    sim::SocModel::write16(kPulseLine, 1);
    src->line_pulse_request = 1;
    src->checksource_pass();
    EXPECT_EQ(sim::SocModel::read16(kPulseLine), 0);
    G_timeTicks += 15;
    src->checksource_pass();
    EXPECT_EQ(sim::SocModel::read16(kPulseLine), 0);
    G_timeTicks += 1;
    src->checksource_pass();
    EXPECT_EQ((std::vector<int>{sim::SocModel::read16(kPulseLine), src->line_pulse_request}), (std::vector<int>{1, 0}));
}

// --- what is published always matches what the sources send ----------------------------------

namespace {
// Source timings (total, front porch, sync width where the source states them): rates
// across the 54/55 Hz publication bound, widths across 2176 at 80-160 MHz (4 lanes or 2),
// clocks across 30 MHz (27 MHz standard definition, 480i/576i) and in 30-80 MHz,
// interlaced ones, a front porch above 255. The last two: input 3 only.
const char* const kModes[] = {"1920x1080@60 2200 88 44", "1920x1080@50 2640 528 44", "1920x1080@24", "1920x1080@25", "1920x1080@30",
                              "1920x1080@54", "1920x1080@55", "1920x1080@59.94", "1280x720@60 1650 110 40", "1280x720@50",
                              "3840x2160@30", "3840x2160@24", "2176x1080@50 2496 88 44", "2180x1080@50 2500 88 44",
                              "640x480@59.9 1000 16 96", "640x480@60 1000 16 96", "1920x1080i@60 2200 88 44", "1920x1080i@50",
                              "720x480@59.94 858 16 62", "720x576@50 864 12 64", "1440x480i@59.94 1716 38 124",
                              "1440x576i@50 1728 24 128", "800x600@60 1056 40 128", "1920x1080@56",
                              "3840x2160@24 5500 1276 88", "3840x2160@60", "2180x1080@50 2502 88 44"};
constexpr int kModeCount = sizeof kModes / sizeof kModes[0];
// Drawn half the time: the modes at a bound the drivers decide by, 54-56 Hz too (the last two: input 3 only).
const int kBoundModes[] = {13, 14, 15, 18, 20, 22, 16, 12, 5, 6, 23, 25, 12};
// Audio rates (Hz) with their channel-status codes on each side of each band's bound, 0.6% off it (at
// 594 MHz ten TMDS samples count ~345 ticks, so 0.3% is all the rate resolves to), then common rates.
const std::pair<int, int> kAudio[] = {{38770, 3}, {39230, 0}, {45720, 0}, {46280, 2}, {58650, 2}, {59350, 11}, {78520, 11},
                                      {79480, 8}, {91450, 8}, {92550, 10}, {106360, 10}, {107640, 43}, {166000, 43},
                                      {168000, 12}, {181900, 12}, {184100, 14}, {96000, 10}, {44100, 0}, {32000, 3}, {48000, 2}};
constexpr int kAudioCount = sizeof kAudio / sizeof kAudio[0];
// Input 3's YUV-to-RGB rows (bank 1 0x70-0x85): BT.709, and every colorimetry but BT.709 and BT.2020.
const uint8_t kRow709[22] = {0x04, 0x00, 0xA7, 0x4F, 0x09, 0xBA, 0x3B, 0x4B, 0x3E, 0x4F, 0x09, 0x57, 0x0E, 0x02, 0x00, 0x4F, 0x09, 0xFE, 0x3F, 0xE8, 0x10, 0x00},
              kRow601[22] = {0x04, 0x00, 0xA7, 0x4F, 0x09, 0x81, 0x39, 0xDD, 0x3C, 0x4F, 0x09, 0xC4, 0x0C, 0x01, 0x00, 0x4F, 0x09, 0xFD, 0x3F, 0x1F, 0x10, 0x00};

// What one source sends, kept by the test alone: its timing as it states it (porches,
// polarities) and its InfoFrames. Colour 3 is YUV 4:2:0 (input 3 only), 4 a DVI source.
struct Sent {
    bool plugged = false, power = false;   // power: +5 V kept without a signal
    int mode = 0, colour = 0, scan = 0, audio = 2, statusAudio = 2, extra = 0;
    unsigned hfp = 0, hsync = 0, vfp = 0, vsync = 0, hpol = 1, vpol = 1;
    bool keepSync = false, packed = false, hdcp = false, inReset = false, altChip = false;   // altChip: input 3's second layout
    bool vboStuck = false;   // input 3's transmitter clock never settles
    int depth = 0;           // the colour-depth code (inputs 0-2: 5 30-bit, 6 36-bit; input 3: 0x20, 0x30)
    bool audioOn = true;     // an HDMI source sends audio
    int glitches = 0;        // +5 V glitches so far
    int hdmiColour = 0;      // the colour format it sends when HDMI (colour is 4 while DVI)
    int avmute = 0;          // 1: the source mutes (an HDMI one: DVI has no control packets)
    int syncLag = 0, parity = 0;   // input 3: ms its timing counters lag a new mode; parity errors
};
using Sources = std::array<Sent, 4>;
struct Bench {
    std::function<void(int)> pass;   // passes of the thread, each with its pause
    std::function<void(const Sources&)> check;
    bool settled = false;            // the last event ended with a check
    std::vector<uint64_t> edidWrites[4];   // when each input's EDID was rewritten
};

// Width, height and rate of input i's status bytes.
std::vector<int> status(int i)
{
    const uint8_t* s = KelRamPara::p_kelrampara_config->ram + KelRamPara::kInputStatus + 6 * i;
    return {KelRamPara::get16(s), KelRamPara::get16(s + 2), KelRamPara::get16(s + 4)};
}

// Sets the scenario of input `input` to what x sends; the first key a model would refuse, if any.
std::string send(int input, const Sent& x)
{
    char timing[24] = "", total[8] = "";
    std::sscanf(kModes[x.mode], "%23s %7s", timing, total);
    const bool dvi = x.colour == 4;
    std::vector<std::pair<const char*, std::string>> keys = {
        {"relock", x.keepSync ? "0" : "40"}, {"signal", x.plugged ? "1" : "0"}, {"timing", timing}, {"htotal", total},
        {"hfp", std::to_string(x.hfp)}, {"hsync", std::to_string(x.hsync)}, {"vfp", std::to_string(x.vfp)},
        {"vsync", std::to_string(x.vsync)}, {"hpol", std::to_string(x.hpol)}, {"vpol", std::to_string(x.vpol)},
        {"scan", std::to_string(x.scan)}, {"colorimetry", std::to_string(x.extra / 128 % 3)}, {"vic", std::to_string(x.extra % 128)},
        {"range", std::to_string(x.extra / 384 % 3)}, {"depth", std::to_string(x.depth)}, {"audio", x.audioOn ? "1" : "0"},
        {"5v_glitch", std::to_string(x.glitches)}, {"avmute", x.avmute ? "1" : "0"}};
    if (input == 3) {
        keys.insert(keys.end(), {{"5v", x.plugged || x.power ? "1" : "0"}, {"dvi", dvi ? "1" : "0"},
                     {"sync_lag", std::to_string(x.syncLag)}, {"parity", std::to_string(x.parity)},
                     {"colour", std::to_string(dvi ? 0 : x.colour)}, {"audio_fs", std::to_string(kAudio[x.audio].first)},
                     {"audio_status_fs", std::to_string(kAudio[x.statusAudio].first)},
                     {"chipid", x.altChip ? "16" : "161"}, {"vbo_clock", x.vboStuck ? "0" : "1"}});
    } else {
        keys.insert(keys.end(), {{"cable", x.plugged || x.power ? "1" : "0"}, {"hdmi", dvi ? "0" : "1"},
                     {"colour", x.colour == 1 ? "yuv422" : x.colour == 2 ? "yuv444" : "rgb"},
                     {"audiofs", std::to_string(kAudio[x.audio].second)},
                     {"3d", x.packed ? "framepacking" : "none"}});
    }
    for (const auto& [key, v] : keys) {
        const std::string name = "input" + std::to_string(input) + "." + key;
        if (!v.empty() && !sim::ScenarioCheck::problem(name, v).empty())
            return name;
        sim::SimBoard::setScenario(name, v);
    }
    return "";
}

// What the user sees of each input against what its source sends: what is published (status
// bytes, timing record), what each receiver drives out (gate, tristate, conversion, range,
// audio). The first difference, named, or "" when everything holds.
#define HOLD(condition) \
    do { if (!(condition)) return "input " + std::to_string(i) + ": " #condition; } while (0)
std::string whatDiffers(velinsource* src, const Sources& sent, int inputs = 0x0F)
{
    sim::It6805Model& chip3 = sim::It6805Model::instance();
    for (int i = 0; i < 4; ++i) {
        if (!(inputs >> i & 1))
            continue;
        const Sent& x = sent[size_t(i)];
        const sim::InputTiming t = sim::inputTiming(i);
        const bool shown = x.plugged && !x.inReset, muted = shown && x.avmute && x.colour != 4;
        // The range of RGB: as stated, else full for VIC 0 and 1, limited for the others.
        const int range = x.extra / 384 % 3, vic = x.extra % 128, colorimetry = x.extra / 128 % 3;
        const bool limited = range == 1 || (range == 0 && vic > 1);
        // Audio leaves a receiver only with an HDMI source (each sends some).
        const bool audio = i < 3 ? sim::InputSideModel::it6602(i).audioOutput() : chip3.reg(1, 0xC7) == 0;
        // (An HDMI source without audio: nothing to hear, the gate is not looked at.)
        HOLD(x.inReset || (shown && x.colour != 4 && !x.audioOn) || audio == (shown && x.colour != 4));
        RC_CLASSIFY(muted, "a muting source shown");
        // Hot-plug high exactly while the cable brings +5 V: the source reads the EDID and sends by it.
        HOLD(x.inReset || (i < 3 ? sim::InputSideModel::it6602(i).hpd() : chip3.hpdLevel() == 1) == (x.plugged || x.power));
        const double hz = double(t.millihz) / 1000, mhz = double(t.htotal) * t.vtotal * hz / 1e6;
        const int rate = int(hz + 0.5) > 54 ? 60 : int(hz + 0.5);
        HOLD(status(i) == (shown ? std::vector<int>{int(t.hact), int(t.vact), rate} : std::vector<int>{0, 0, 0}));
        const hdminfo h = src->hdminfo[i];
        HOLD(h.nosignal == (shown ? 0u : 1u));
        if (i < 3) {   // only a frame-packed HDMI source goes through the 3D generator
            sim::It6602Model& rx = sim::InputSideModel::it6602(i);
            const bool packed = shown && x.packed && x.colour != 4;
            HOLD(std::make_pair((rx.reg(0, 0x66) & 0x10) != 0, (rx.reg(0, 0x85) & 0x20) != 0)
                      == std::make_pair(packed, packed));
            HOLD(rx.videoOutput() == shown);   // tristate without a picture
            HOLD(!shown || (rx.reg(0, 0x53) & 0x80) == (muted ? 0x80 : 0));   // muted exactly while the source mutes
            // RGB out: YCbCr converted, limited-range RGB expanded, full RGB and DVI
            // passed; YCbCr with the matrix of its colorimetry (by default BT.709 for
            // HD clocks, BT.601 for SD).
            const bool yuv = x.colour == 1 || x.colour == 2;
            const int convert = !shown || x.colour == 4 ? 0 : yuv ? 3 : limited ? 2 : 0;
            HOLD(!shown || (rx.reg(0, 0x65) & 0x33) == convert);
            HOLD(!shown || (rx.reg(0, 0x65) & 0x0C) == (x.depth == 5 ? 0x04 : x.depth == 6 ? 0x08 : 0));   // 30, 36 or 24 bits out
            HOLD(convert != 2 || std::make_pair(rx.reg(1, 0x70), rx.reg(0, 0x68)) == std::make_pair(uint8_t(0xED), uint8_t(0xED)));
            const double clock = double(t.htotal) * t.vtotal * t.millihz / 1e9;
            const int bt709 = colorimetry == 2 || (colorimetry == 0 && clock > 70) ? 1 : colorimetry == 1 || clock < 30 ? 0 : -1;
            HOLD(convert != 3 || bt709 < 0 || rx.reg(1, 0x75) == (bt709 ? 0xBD : 0x7F));
            RC_TAG(!shown ? "input 0-2 none" : x.colour == 4 ? "input 0-2 DVI" : yuv ? "input 0-2 YCbCr" : limited ? "input 0-2 RGB limited" : "input 0-2 RGB full");
        } else if (!x.inReset) {   // tristate exactly while nothing is published
            HOLD((chip3.reg(1, 0xC5) & 0x80) == (shown && !muted ? 0 : 0x80));
            HOLD(!shown || (chip3.reg(0, 0x4F) & 0x20) == (muted ? 0x20 : 0));   // an unmute owed while the source mutes only
            // RGB leaves at full range: a limited source's black (16) and white
            // (235) as 0 and 255, a full one's and DVI's as sent; YUV converted.
            const bool expand = x.colour == 0 && limited;
            const std::pair<int, int> levels{chip3.rgbOut(16), chip3.rgbOut(235)};
            HOLD(!shown || (x.colour % 4 ? (chip3.reg(0, 0x6C) & 0x03) == 3 : levels == (expand ? std::make_pair(0, 255) : std::make_pair(16, 235))));
            RC_CLASSIFY(shown && expand, "input 3 RGB limited shown");
            // The output's depth in single mode (bank 1 0xC0 bit 0 clear), by 0xC0 bits 6-7 and the source's depth.
            const int single = chip3.reg(1, 0xC0) & 0x01 ? 3 : chip3.reg(1, 0xC0) >> 6, pick = (x.depth & 0xF0) == 0x10 ? 0 : (x.depth & 0xF0) == 0x20 ? 1 : 2;
            HOLD(!shown || single == 3 || (chip3.reg(1, 0xC5) & 0x7F) == (single < 2 ? std::array<int, 3>{0x78, 0x38, 0x18} : std::array<int, 3>{0x63, 0x23, 0x03})[size_t(pick)]);
            HOLD(!shown || (chip3.reg(0, 0x6B) & 0x30) == (x.colour == 4 ? 0x10 : x.colour << 4));   // the input format
            for (int k = 0; shown && x.colour % 4 && k < 22; ++k)
                HOLD(chip3.reg(1, 0x70 + k) == (colorimetry == 2 ? kRow709 : kRow601)[k]);
        }
        if (!shown)
            continue;
        // The porches as the source states them (4:2:0 halves every horizontal
        // value on the link and the record doubles them back), and the link's clock.
        const unsigned half = x.colour == 3 ? 2 : 1, hfp = x.hfp / half, hsync = x.hsync / half;
        const unsigned hback = t.htotal / half - t.hact / half - hfp - hsync;
        HOLD((std::vector<unsigned>{h.Hact, h.Vact, h.Htotal, h.Vtotal, h.ip, h.Hsync, h.Hback, h.Hpol, h.Vsync, h.Vback, h.Vpol, h.valid})
                  == (std::vector<unsigned>{t.hact, t.vact, t.htotal, t.vtotal, t.interlaced, hsync * half, hback * half,
                                            x.hpol, x.vsync, t.vtotal - t.vact - x.vfp - x.vsync, x.vpol, 1}));
        const double link = mhz / half;
        HOLD(std::abs(h.pfreq - link) < link / 200);
        if (i < 3)
            continue;
        // Lanes: 8 above 320 MHz on the link (160 for 4:2:0), 4 above 160, 4 or 2 by
        // width above 80, else 1; 4 lanes need horizontal values in multiples of 4.
        unsigned lanes = link > 320 || (link > 160 && half == 2) ? 8 : link > 160 ? 4 : link > 80 ? (t.hact / half > 2176 ? 4 : 2) : 1;
        if (lanes == 4 && ((t.htotal / half) % 4 || (t.hact / half) % 4 || (hfp | hsync | hback) % 4))
            lanes = 2;
        HOLD(h.lane == lanes);
        HOLD((chip3.reg(1, 0xC5) & 0x80) == (muted ? 0x80 : 0));   // the picture leaves the chip unless muted
        HOLD(sim::It6805Model::instance().reg(5, 0xC7) == (link < 30 ? 0x49 : 0x00));
        if (x.colour != 4 && x.audioOn)   // the rate the stream's N and CTS give, whatever the channel status says
            HOLD(int(src->p_ite6805_sys->iTE6805_DATA[0].Force_Sampling_Frequency) == kAudio[x.audio].second);
        RC_TAG(x.colour == 3 ? "input 3 4:2:0 shown" : x.colour == 4 ? "input 3 DVI shown" : "input 3 HDMI shown");
        RC_CLASSIFY(link < 30, "input 3 below 30 MHz shown");
        RC_CLASSIFY(t.hact / half == 2176 && link > 80 && link <= 160, "input 3 2176 wide at 80-160 MHz shown");
    }
    return "";
}
#undef HOLD

// One source event on one input of the family [first, last].
struct Event : rc::state::Command<Sources, Bench> {
    int input, kind, mode, value, porch, wait;   // the failures of single transfers: ReceiverSweep
    static int first, last;
    // Drawn over their whole range whatever the history's length (inRange scales with the size).
    static int draw(int lo, int hi) { return *rc::gen::resize(100, rc::gen::inRange(lo, hi)); }
    static int drawKind() { const int k = draw(0, 20); return k < 18 ? k : 4; }   // 18, 19: a colour format, weighted in
    static int drawMode(int input) { return draw(0, 2) ? kBoundModes[draw(0, input == 3 ? 13 : 11)] : draw(0, kModeCount - (input == 3 ? 0 : 2)); }
    Event() : input(draw(first, last + 1)), kind(drawKind()), mode(drawMode(input)), value(draw(0, 8)), porch(draw(0, 1000)),
              wait(draw(0, 3) ? 0 : draw(1, 260)) {}
    // AVI fields of `extra`: VIC, colorimetry, range (0 by VIC, 1 limited, 2 full).
    static int vicOf(int e) { return e % 128; }
    static int colorimetryOf(int e) { return e / 128 % 3; }
    static int rangeOf(int e) { return e / 384 % 3; }
    static int aviFields(int vic, int colorimetry, int range) { return vic + 128 * (colorimetry + 3 * range); }
    // A new colorimetry whose AVI checksum is the old one's: the VIC moves 64 the other way.
    static int checksumKept(int e) { const int v = vicOf(e), c = colorimetryOf(e), up = v >= 64 && c < 2, down = v < 64 && c > 0;
                                     return up || down ? aviFields(up ? v - 64 : v + 64, up ? c + 1 : c - 1, rangeOf(e)) : e; }
    // The porches and polarities a new timing comes with: as the mode states them, else
    // drawn within what the blanking and the receivers' counters hold.
    void timing(Sent& x) const
    {
        x.mode = mode;
        char name[24] = "";
        unsigned total = 0, hfp = 0, hsync = 0;
        std::sscanf(kModes[mode], "%23s %u %u %u", name, &total, &hfp, &hsync);
        const sim::InputTiming t = sim::namedTiming(name);
        const unsigned hb = (total ? total : t.htotal) - t.hact, vb = t.vtotal - t.vact, v3 = input == 3 ? 511 : 31;
        const bool stated = porch < 400;
        x.hfp = stated && hfp ? hfp : stated ? hb / 16 * 4 : 2 + unsigned(porch) % (hb / 4) * 2;
        x.hsync = stated && hsync ? hsync : stated ? hb / 32 * 4 : 2 + unsigned(porch * 7) % std::min(hb / 8, 255u) * 2;
        x.vfp = stated ? std::max(1u, vb / 9) : 1 + unsigned(porch * 3) % std::min(vb / 3, input == 3 ? 4095u : 63u);
        x.vsync = stated ? std::max(1u, vb / 9) : 1 + unsigned(porch * 11) % std::min(vb / 3, v3);
        x.hpol = stated || (porch & 1);
        x.vpol = stated || (porch & 2);
    }
    void apply(Sources& s) const override
    {
        Sent& x = s[size_t(input)];
        // 4:2:0 and DVI sources weighted in, on a plug too; a new source is more often RGB.
        static const int kColours3[] = {3, 3, 4, 0, 1, 2, 0, 0}, kColours[] = {4, 4, 0, 1, 2, 0, 0, 0};
        const int* colours = input == 3 ? kColours3 : kColours;
        switch (kind) {
        case 0: case 8: x = Sent{true, false, 0, colours[1 + porch / 7 % 6], 0, (value + porch) % kAudioCount, (value + porch) % kAudioCount,
                                 aviFields(porch % 6, porch / 6 % 3, porch / 18 % 3), 0, 0, 0, 0, 1, 1, false, input < 3 && porch % 4 == 1, false, x.inReset, x.altChip, x.vboStuck};
                timing(x); x.syncLag = input == 3 && porch % 3 == 0 ? 300 : 0, x.parity = porch % 5 == 0 ? 2 : 0;
                break;                                                                    // plugged in (8: held back)
        case 1: x.plugged = false; x.power = value & 1; break;                            // pulled, or the signal stops with +5 V kept
        case 2: case 3: timing(x); x.keepSync = kind == 3; break;                         // new mode, sync lost or kept
        case 4: x.colour = value < 3 || x.colour % 4 == 3 ? colours[value % 6] : x.colour ? 0 : 1 + value % 2; break;   // AVI colour
                                                                                          // format (RGB<->YCbCr weighted, kinds 18-19 too), DVI
        case 5: x.scan = value % 4;                                                       // AVI scan, colorimetry, range, VIC
                x.extra = value == 7 ? checksumKept(x.extra) : value > 4 ? aviFields(porch % 3, porch / 3 % 3, porch / 9 % 3) : porch; break;
        case 6: (input == 3 ? x.hdcp : x.packed) ^= true; break;                          // HDCP, 3D frame packing
        case 7: x.inReset = input == 3 && !x.inReset;                                     // input 3 held in reset (and
                x.altChip = x.inReset ? x.altChip : value & 1;                            // found another revision); 0-2
                x.plugged = x.plugged && (input == 3 || value % 3 == 0 || !(value & 1)); break;   // pulsed (between two polls,
                                                                                          // or the source pulled meanwhile)
        case 13: x.packed ^= input < 3 && (value & 1); break;                              // (an unanswered transfer)
        case 14: x.vboStuck = input == 3 && !x.vboStuck; break;                           // input 3's transmitter clock
        case 10: (input == 3 ? x.statusAudio : x.audio) = porch % kAudioCount; break;     // channel status rate, sample rate
        case 16: x.avmute = !x.avmute; break;                                             // AV mute
        case 17: x.audio = x.statusAudio = porch % kAudioCount; break;                    // the stream's rate with its status
        default: break;   // EDID written, hot-plug pulsed, a round trip to DVI, an unanswered transfer
        }
    }
    void run(const Sources& before, Bench& bench) const override
    {
        RC_TAG("event " + std::to_string(kind));   // the spread: the kinds of events, and those inside measurements
        RC_CLASSIFY(wait, "an event inside the last one's measurement");
        const bool settled = bench.settled;
        bench.settled = false;
        Sources after = before;
        apply(after);
        const Sent& x = after[size_t(input)];
        const int was = before[size_t(input)].colour;
        RC_CLASSIFY(kind == 4 && input == 3 && (was == 0) != (x.colour == 0) && was < 3 && x.colour < 3, "input 3 RGB<->YCbCr, timing kept");
        auto set = [&](const char* key, const std::string& v) { sim::SimBoard::setScenario("input" + std::to_string(input) + "." + key, v); };
        KelRamPara* para = KelRamPara::p_kelrampara_config;
        if (kind == 8) {   // held back until the output path is up; some windows show their input
            g_source_online = g_fpga_lcd_on = g_c331_source_online = 0;
            for (int w = 0; w < 4; ++w) {
                uint8_t* layer = para->ram + KelRamPara::kLayers + KelRamPara::kLayerSize * w;
                KelRamPara::put16(layer + KelRamPara::kLayerFlags, uint16_t((porch >> w) & 1));
                KelRamPara::put16(layer + KelRamPara::kLayerSource, uint16_t(w));
            }
        }
        if (kind == 0 || kind == 8) {   // a cable plugged in: whatever was in is out first
            set("signal", "0");
            bench.pass(30);
        }
        if (kind == 7 && input < 3 && value % 3)   // inputs 0-2 share one reset line: their sources may leave meanwhile
            sim::SocModel::write16(0x207940, 0);
        RC_ASSERT(send(input, x).empty());
        sim::It6805Model& chip3 = sim::It6805Model::instance();   // encryption on or off, with its interrupts
        if (kind == 6 && input == 3)
            chip3.setReg(0, 0xCF, x.hdcp ? 0x20 : 0x00), chip3.raise(0x09, 0x04), chip3.raise(0x1D, 0x08);
        if (kind == 7 && input == 3) {   // through controller register 0 or 32; the chip is silent in reset
            if (value & 2)
                para->reg_image[32] = x.inReset ? 0x04 : value & 4 ? 0x02 : 0x08;
            else
                para->reg_image[0] = x.inReset ? 0x01 : 0x02;
        } else if (kind == 7 && value % 3 == 0) {   // a pulse that falls between two polls
            sim::SocModel::pulseLow(0x207940);
        } else if (kind == 7) {   // held low for a pulse or seconds
            bench.pass(value < 4 ? 5 : 400);
            sim::SocModel::write16(0x207940, 16);
        }
        for (int k = 0; kind == 9 && k < 3; ++k)   // a new EDID for the input: written, then hot-plug low
            KelRamPara::put16(para->ram + 896 + 6 * input + 2 * k, uint16_t(k == 2 ? 60 : value % 2 ? 1920 - 840 * k : 3840 - 1680 * k));
        if (kind == 9)
            bench.edidWrites[input].push_back(sim::SimBoard::virtualMicroseconds()), velinsource::p_velin_source->raise_edid_request(input);
        if (kind == 12 && x.colour != 4) {   // DVI for a while, then HDMI again with the same InfoFrames
            set(input == 3 ? "dvi" : "hdmi", input == 3 ? "1" : "0");
            bench.pass(1 + value * 30);
            if (input < 3 && value && x.plugged)   // meanwhile: no 3D generator, no conversion (nothing to convert without a source)
                RC_ASSERT((sim::InputSideModel::it6602(input).reg(0, 0x66) & 0x10) == 0 && (sim::InputSideModel::it6602(input).reg(0, 0x65) & 0x03) == 0);
            set(input == 3 ? "dvi" : "hdmi", input == 3 ? "0" : "1");
        }
        if (kind == 13) {   // the return from bank 2 unanswered as a 3D source turns 2D or back
            RC_CLASSIFY(settled, "an unanswered transfer on settled inputs");
            const std::vector<std::vector<int>> shown{status(0), status(1), status(2), status(3)};
            if (input < 3 && (value & 1))
                sim::InputSideModel::it6602(input).nakBankReturn(1);
            for (int k = 0; k < 150; ++k) {   // nothing the user sees changes meanwhile
                bench.pass(1);
                for (int i = 0; settled && i < 4; ++i)
                    RC_ASSERT(status(i) == shown[size_t(i)]);
            }
        }
        if (kind == 15) {   // the sound window's source: an input (4: none), one through a crop record (from 40 on: none), or none
            uint8_t* layer = para->ram + KelRamPara::kLayers + KelRamPara::kLayerSize * (value % 4);
            const int source = porch % 5, crop = porch / 5 % 48, bits[] = {0x40, 0x20, 0x10, 0x04, 0x00};   // DVI (0), HDMI1, HDMI2, 3, none
            para->ram[KelRamPara::kAudioWindow] = uint8_t(value < 6 ? value % 4 : 9);
            layer[KelRamPara::kLayerSound] = porch % 7 ? 0x80 : 0x00;
            para->ram[KelRamPara::kCropRecords + KelRamPara::kCropRecordSize * (crop % KelRamPara::kCropCount)] = uint8_t(0x10 | source);
            KelRamPara::put16(layer + KelRamPara::kLayerSource, uint16_t(porch & 1 ? 0x8000 | crop : source));
            velinsource::p_velin_source->raise_audio_route();
            bench.pass(5);
            const bool routed = value < 6 && (porch % 7) && (!(porch & 1) || crop < KelRamPara::kCropCount);
            RC_ASSERT(int(sim::InputSideModel::expander().output()) == (routed ? bits[source] : 0) + 1);
            RC_CLASSIFY(routed && source == 4, "sound from source 4");
        }
        if (kind == 11 && input == 3) {   // the PC pulses input 3's hot-plug line
            para->reg_image[0] = 0x40;
            bench.pass(1 + value * 10);
            para->reg_image[0] = 0x80;
        }
        if (kind == 8) {
            bench.pass(x.vboStuck ? 900 : 400);
            // Shown in a window: held back; not shown: published as it became stable.
            const uint8_t* held = para->ram + KelRamPara::kInputStatus + 6 * input;
            const bool shown = (porch >> input) & 1, live = x.plugged && !x.inReset;
            RC_ASSERT(KelRamPara::get16(held) == (live && !shown ? sim::inputTiming(input).hact : 0u));
            g_fpga_lcd_on = g_c331_source_online = 1;
        }
        // A source that leaves is published gone within a second, whatever the others do.
        const uint8_t* status = para->ram + KelRamPara::kInputStatus + 6 * input;
        const uint64_t pulled = sim::SimBoard::virtualMicroseconds();
        while (kind == 1 && before[size_t(input)].plugged && !x.inReset && KelRamPara::get16(status)
               && sim::SimBoard::virtualMicroseconds() - pulled <= 1000000)
            bench.pass(1);
        RC_ASSERT(kind != 1 || !before[size_t(input)].plugged || x.inReset || KelRamPara::get16(status) == 0);
        if (wait)   // the next event comes inside this one's measurement
            bench.pass(wait);
        else
            bench.check(after);
        bench.settled = !wait;
    }
    void show(std::ostream& os) const override
    {
        os << "input " << input << " event " << kind << " " << kModes[mode] << " value " << value << " porch " << porch << " wait " << wait;
    }
};
int Event::first = 0, Event::last = 2;
#ifdef __SANITIZE_THREAD__
constexpr bool kThreadChecker = true;   // some ten times slower: fewer cases
#else
constexpr bool kThreadChecker = false;
#endif
} // namespace

TEST_F(AllInputs, WhatIsPublishedMatchesWhatEachSourceSendsOverRandomHistories)
{
    for (const auto& [first, last] : {std::pair<int, int>{0, 3}, {3, 3}}) {
        SCOPED_TRACE(first);
        Event::first = first;
        Event::last = last;
        kel_test::checkProperty("receivers publish what their sources send", [&] {
            TearDown();
            sim::SimBoard::reset();
            SetUp();
            std::vector<uint64_t> took;
            Bench bench;
            bench.pass = [&](int n) {
                for (int k = 0; k < n; ++k, ++G_timeTicks, sim::SimBoard::advanceVirtual(velinsource::kPassPauseMs * 1000)) {
                    const uint64_t start = sim::SimBoard::virtualMicroseconds();
                    src->checksource_pass();
                    took.push_back(sim::SimBoard::virtualMicroseconds() - start);
                }
            };
            bench.check = [&](const Sources& sent) {
                // Whatever another input does, a change is seen within a second: no pass holds
                // the thread that long (input 3's own sync loss, hot-plug bounces and restart,
                // takes up to 0.85 s). 400 passes (4 s) settle any source; the last 100 then
                // blocked it less than a second.
                took.clear();
                // An input 3 transmitter clock that never settles is waited for 5 s besides.
                bench.pass(sent[3].vboStuck && sent[3].plugged && !sent[3].inReset ? 900 : 400);
                RC_ASSERT(*std::max_element(took.begin(), took.end()) < 1000000u);
                RC_ASSERT(std::accumulate(took.end() - 100, took.end(), uint64_t(0)) < 1000000u);
                // Every key the history sets is one a model reads.
                RC_ASSERT(sim::SimBoard::scenarioKeysUnread() == std::vector<std::string>{});
                sim::It6805Model& chip3 = sim::It6805Model::instance();
                for (int i = 0; i < 4; ++i) {
                    std::vector<std::pair<uint64_t, int>> hpd;
                    // After every EDID write the hot-plug pin stays low at least 100 ms, so the
                    // source reads the new one.
                    auto take = [&](const auto& log) { for (const auto& c : log) hpd.emplace_back(c.us, c.level); };
                    i < 3 ? take(sim::InputSideModel::it6602(i).hpdLog()) : take(chip3.hpdLog());
                    for (const uint64_t written : bench.edidWrites[i]) {
                        bool held = false;
                        for (size_t k = 0; k < hpd.size(); ++k) {
                            const uint64_t from = std::max(hpd[k].first, written);
                            const uint64_t to = k + 1 < hpd.size() ? hpd[k + 1].first : sim::SimBoard::virtualMicroseconds();
                            held = held || (hpd[k].second == 0 && to >= from + 100000);
                        }
                        RC_ASSERT(held);
                    }
                    bench.edidWrites[i].clear();
                }
                RC_ASSERT(whatDiffers(src, sent) == std::string());
            };
            Sources start;   // every input starts empty, whatever the default scenario connects
            for (int i = 0; i < 4; ++i)
                sim::SimBoard::setScenario("input" + std::to_string(i) + ".signal", "0");
            for (int i = 0; i < 4; ++i) {
                Event plug;
                plug.input = i, plug.kind = 0, plug.mode = Event::drawMode(i), plug.wait = 0;
                plug.run(start, bench);
                plug.apply(start);
            }
            // Histories of a fixed length: RapidCheck's growing size would keep the first cases short.
            const auto events = *rc::gen::resize(kel_test::underEmulation() ? 6 : 14,
                                                 rc::state::gen::commands(start, rc::state::gen::execOneOfWithArgs<Event>()));
            rc::state::runAll(events, start, bench);
            Sources end = start;
            for (const auto& e : events)
                e->apply(end);
            bench.check(end);
        }, {kel_test::underEmulation() ? 3 : kThreadChecker ? 4 : 8, 16});
    }
}

// --- every transfer of each sequence fails in turn --------------------------------------------

namespace {
// Inputs 0 (IT6602) and 3 (IT6805) polled together: on the receiver switch each one's branch
// follows the other's, and both receivers answer at 0x90.
constexpr int kSweepInputs = 0x09;

// The bus as the sweep sees it: while counting, transfers (the other receiver's polling
// aside) are numbered from 1 and number `at` fails; a failed read must be asked again at
// once, and fails again. And the rules of a select: nothing behind a switch whose write
// failed is addressed, and no register of a bank is written after a receiver's bank select
// failed (its read or its write), until one is taken; no EEPROM is written while protected.
struct SweepBus {
    bool counting = false, retryOwed = false, branchLost[2] = {false, false};
    int own = 0, seen = 0, at = 0;
    std::string failed, problem;
    std::set<std::pair<int, int>> bankLost;   // receiver address, branch
    void install()
    {
        sim::I2cBusModel::setFaultHook([this](uint8_t a, bool read, const uint8_t* d, uint16_t n) {
            const bool receiver = a == 0x90 || a == 0x94 || a == 0xA8 || a == 0xB4 || a == 0xC8, behindE0 = a == 0xA0 || a == 0xD0;
            const int branch = receiver ? sim::InputSideModel::switchReceiver().channels() : behindE0 ? sim::InputSideModel::switchEeprom().channels() : 0;
            char text[64];
            std::snprintf(text, sizeof text, "%s %02X (branch %02X): %02X %02X", read ? "read" : "write", a, branch, n ? d[0] : 0, n > 1 ? d[1] : 0);
            const bool banks = a == 0x90 || a == 0x94, select = banks && n && d[0] == 0x0F;
            bool fail = false;
            if (retryOwed) {
                fail = read && failed.compare(0, 24, text, 24) == 0;
                note(fail ? "" : "the unanswered read was not asked again");
            } else if (counting && !(receiver && branch != own) && ++seen == at) {
                fail = true;
                failed = text;
            }
            retryOwed = fail && read && !retryOwed;
            if (fail) {
                branchLost[a == 0xE0] |= !read && (a == 0xEE || a == 0xE0);
                if (select)
                    bankLost.insert({a, branch});
                return true;
            }
            if (!read && (a == 0xEE || a == 0xE0))
                branchLost[a == 0xE0] = false;
            if ((receiver && branchLost[0]) || (behindE0 && branchLost[1]))
                note(std::string(text) + " after its switch did not take the branch");
            // A select taken, or the bank register read back in bank 0, makes the bank known.
            if (select && ((!read && n > 1) || (read && bankOf(branch) == 0)))
                bankLost.erase({a, branch});
            else if (banks && !read && n && d[0] > 0x0F && bankLost.count({a, branch}))
                note(std::string(text) + " after a bank select that was not taken");
            if (a == 0xA0 && !read && n > 1 && sim::InputSideModel::expander().writeProtected())
                note("an EEPROM written while protected");
            return false;
        });
    }
    static int bankOf(int branch)
    {
        for (int i = 0; i < 3; ++i)
            if (branch == velinsource::kChannel[i])
                return sim::InputSideModel::it6602(i).reg(0, 0x0F) & 0x03;
        return sim::It6805Model::instance().reg(0, 0x0F) & 0x07;
    }
    void note(const std::string& what)
    {
        if (problem.empty())
            problem = what;
    }
};

// A sequence on one input: the source at its start, and the event the simulated source (or
// the PC) makes of it.
struct Sequence {
    std::string name;
    int input;
    Sent start, end;
    int reg0 = 0, reg32 = 0;   // the PC's hot-plug requests for input 3's device indices
    bool edid = false, sound = false, clock = false;   // a new EDID, a sound window, the clock chip set up anew
    int routed = -1;           // the input whose sound the expander routes afterwards
    std::string unknown;       // a key of the event the sweep does not take
    // Hot-plug goes low at least once for a new EDID or a request for low (registers 0 bits
    // 4/6, 32 bit 6): the source reads the EDID again.
    bool pulse() const { return edid || (reg0 & 0x50) || (reg32 & 0x40); }
};

// What a key of the source model's event makes of the source (or of the PC's requests) as
// the test keeps it; false for a key the sweep does not know.
bool take(Sequence& q, Sent& x, const std::string& key, const std::string& v)
{
    const int n = std::atoi(v.c_str());
    const bool three = q.input == 3;
    if (key == "timing") {   // a mode of the list, as it states itself
        const auto* m = std::find_if(std::begin(kModes), std::end(kModes), [&](const char* s) { return std::string(s).substr(0, std::string(s).find(' ')) == v; });
        x.mode = int(m - std::begin(kModes));
        return m != std::end(kModes);
    }
    if (key == "signal")
        x.plugged = n != 0;
    else if (key == (three ? "5v" : "cable"))
        x.power = n != 0;
    else if (key == (three ? "dvi" : "hdmi"))
        x.colour = (n != 0) == three ? 4 : x.hdmiColour;
    else if (key == "colour") {
        x.hdmiColour = three ? n : v == "yuv422" ? 1 : v == "yuv444" ? 2 : 0;
        x.colour = x.colour == 4 ? 4 : x.hdmiColour;
    } else if (key == "colorimetry" || key == "range" || key == "vic") {
        const int vic = key == "vic" ? n : x.extra % 128, c = key == "colorimetry" ? n : x.extra / 128 % 3, r = key == "range" ? n : x.extra / 384 % 3;
        x.extra = vic + 128 * (c + 3 * r);
    } else if (key == "scan")
        x.scan = n;
    else if (key == "depth")
        x.depth = n;
    else if (key == "audio")
        x.audioOn = n != 0;
    else if (key == (three ? "audio_fs" : "audiofs") || (three && key == "audio_status_fs")) {
        const auto* a = std::find_if(std::begin(kAudio), std::end(kAudio), [&](auto& r) { return (three ? r.first : r.second) == n; });
        (key == "audio_status_fs" ? x.statusAudio : x.audio) = int(a - std::begin(kAudio));
        x.statusAudio = key == "audio_status_fs" || !three ? x.statusAudio : x.audio;
        return a != std::end(kAudio);
    } else if (key == "5v_glitch")
        x.glitches = n;
    else if (key == "avmute" || (three && (key == "sync_lag" || key == "parity")))
        (key == "avmute" ? x.avmute : key == "parity" ? x.parity : x.syncLag) = n;
    else if (key == "pc.edid")
        q.edid = true;
    else if (key == "pc.reg0" && three)
        q.reg0 = n;
    else if (key == "pc.reg32" && three)
        q.reg32 = n;
    else
        return false;
    return true;
}

// Every event of the source model on inputs 0-3, then the expander's sound route and the
// clock chip set up anew.
std::vector<Sequence> sequences()
{
    std::vector<Sequence> out;
    for (int i = 0; i < 4; ++i) {
        for (const sim::SourceEvent& e : sim::SourceEvents::of(i)) {
            Sequence q;
            q.name = e.name, q.input = i;
            for (const auto& keys : {sim::SourceEvents::usual(i), e.from})
                for (const auto& [key, v] : keys)
                    if (!take(q, q.start, key, v))
                        q.unknown = key;
            q.end = q.start;
            for (const auto& [key, v] : e.to)
                if (!take(q, q.end, key, v))
                    q.unknown = key;
            out.push_back(q);
        }
    }
    Sequence sound, clock;
    for (const auto& [key, v] : sim::SourceEvents::usual(0))
        sound.unknown += take(sound, sound.start, key, v) ? "" : key;
    sound.name = "sound window", sound.input = 0, sound.end = sound.start, sound.sound = true, sound.routed = 0;
    clock = sound;
    clock.name = "clock chip", clock.sound = false, clock.routed = -1, clock.clock = true;
    out.push_back(sound);
    out.push_back(clock);
    return out;
}

} // namespace

// The address checker's: freed memory held back to catch late uses is handed back (absent
// without the checker).
extern "C" __attribute__((weak)) void __sanitizer_purge_allocator();

// One test per group, run side by side: inputs 0-2, input 3's transfers in four slices (every
// fourth of each sequence: it has the most), the sound window and clock chip. Together: all.
constexpr const char* kSweepGroups[] = {"Input0",       "Input1",       "Input2",       "Input3Slice0",
                                        "Input3Slice1", "Input3Slice2", "Input3Slice3", "SoundAndClock"};
class ReceiverSweep : public AllInputs, public testing::WithParamInterface<int> {
protected:
    void TearDown() override
    {
        sim::I2cBusModel::setFaultHook(nullptr);   // it points into the test's frame
        AllInputs::TearDown();
    }
    // Passes a quarter of a second apart (input 3's 0.7 s), as on a loaded board: the chips'
    // own waits in time take fewer passes. (Input 3's pixel clock is measured over 20 passes
    // whatever their spacing.)
    void sweepPass(int n = 1)
    {
        for (int i = 0; i < n; ++i, G_timeTicks += passMs / 10, sim::SimBoard::advanceVirtual(passMs * 1000))
            src->checksource_pass();
    }
    // A fresh board at the sequence's start state, its event then made; "" if what it showed held.
    std::string start(const Sequence& q, Sources& sent, SweepBus& bus)
    {
        TearDown();
        sim::SimBoard::reset();
        SetUp();
        sim::SimBoard::setRecording(false);
        // The input with input 3 (input 0 with input 3: the PC's hot-plug requests for input 3
        // are taken at the first polled input's turn); on the receiver switch each one's
        // branch follows the other's, and both receivers answer at 0x90.
        src->check_mask = uint8_t(velinsource::kChannel[q.input == 3 ? 0 : q.input] | velinsource::kChannel[3]);
        inputs = (q.input == 3 ? 0x01 : 1 << q.input) | 0x08;
        src->clock_done[0] = 0, src->clock_state[0] = 0;   // programmed and enabled on the first passes
        routed = -1, lows = -1, lowsAtMost = -1, passMs = 250;
        sent = Sources{};
        sent[size_t(q.input)] = q.start;
        for (int i = 0; i < 4; ++i)
            send(i, sent[size_t(i)]);
        for (int n = 0; n < 300 && !whatsWrong(q, sent).empty(); ++n)
            sweepPass();
        sweepPass(2);
        const std::string before = whatsWrong(q, sent);
        bus.install();
        routed = q.routed, lows = hpdLows(q.input), eventUs = sim::SimBoard::virtualMicroseconds();
        // While +5 V stays, hot-plug stays high: none of inputs 0-2's goes low, input 3's
        // once for a +5 V change it is told of (the 100 ms pulse that has the source read
        // the EDID again); a new EDID or a request for low takes it low.
        // (Where the link itself goes or comes - the signal, its clock - input 3's recovery
        // may pulse the line: not looked at.)
        const bool linked = q.start.plugged && q.end.plugged && q.start.depth == q.end.depth && q.start.mode == q.end.mode;
        lowsAtMost = q.pulse() || !linked ? -1 : q.input == 3 && q.end.glitches != q.start.glitches ? lows + 1 : lows;
        sent[size_t(q.input)] = q.end;
        send(q.input, q.end);
        if (q.edid) {
            for (int k = 0; k < 3; ++k)
                KelRamPara::put16(para->ram + 896 + 6 * q.input + 2 * k, uint16_t(k == 2 ? 60 : 1920 - 840 * k));
            src->raise_edid_request(q.input);
        }
        para->reg_image[0] = uint8_t(q.reg0);
        para->reg_image[32] = uint8_t(q.reg32);
        if (q.sound) {
            para->ram[KelRamPara::kAudioWindow] = 0;
            para->ram[KelRamPara::kLayers + KelRamPara::kLayerSound] = 0x80;
            KelRamPara::put16(para->ram + KelRamPara::kLayers + KelRamPara::kLayerSource, uint16_t(q.input));
            src->raise_audio_route();
        }
        if (q.clock)
            src->clock_done[0] = 0, src->clock_state[0] = 0;
        bus.own = velinsource::kChannel[q.input];
        bus.counting = true;
        passMs = q.input == 3 ? 700 : 250;
        return before;
    }
    // Clean (at 0): passes until what the user sees holds and still holds three passes later,
    // the transfers counted by each pass's end in marks until it first holds (the sequence: the
    // passes that follow are the steady polling every sequence has). Else transfer `at` fails,
    // on this pass or a later one, then the bus is quiet until it holds so. What differs then, or "".
    std::string run(const Sequence& q, const Sources& sent, SweepBus& bus, int at, std::vector<int>* marks)
    {
        bus.at = at;
        bool done = false;
        for (int k = 0, held = 0; k < 300 && held < 4; ++k) {
            bus.counting = bus.counting && (!at || bus.seen < at);
            sweepPass();
            held = bus.counting && at ? 0 : whatsWrong(q, sent).empty() ? held + 1 : 0;
            if (marks && (marks->empty() || !done))
                marks->push_back(bus.seen);
            done = done || held > 0;
        }
        bus.counting = false;
        return bus.problem.empty() ? whatsWrong(q, sent) : bus.problem;
    }
    std::string whatsWrong(const Sequence& q, const Sources& sent)
    {
        const std::string seen = whatDiffers(src, sent, inputs);
        const uint8_t bits[4] = {0x40, 0x20, 0x10, 0x04};
        if (!seen.empty() || sim::InputSideModel::expander().output() != (routed < 0 ? 0x01 : 0x01 | bits[routed]))
            return seen.empty() ? "the expander (EEPROM protection, audio route) holds " + std::to_string(sim::InputSideModel::expander().output()) : seen;
        return !sim::InputSideModel::clockChip().outputEnabled() ? "the clock chip is not running"
               : src->edid_request[q.input] ? "the EDID request is not served"
               : q.pulse() && lows >= 0 && hpdLows(q.input) <= lows ? "no hot-plug pulse"
               : q.edid && lows >= 0 && longestLowUs(q.input) < 100000 ? "hot-plug not low 100 ms after the new EDID"
               : lowsAtMost >= 0 && hpdLows(q.input) > lowsAtMost ? "hot-plug went low with +5 V present" : "";
    }
    static long hpdLows(int input)
    {
        const auto log = input < 3 ? sim::InputSideModel::it6602(input).hpdLog() : std::vector<sim::It6602Model::HpdChange>{};
        const auto log3 = input == 3 ? sim::It6805Model::instance().hpdLog() : std::vector<sim::It6805Model::HpdChange>{};
        return long(std::count_if(log.begin(), log.end(), [](auto& c) { return !c.level; })
                      + std::count_if(log3.begin(), log3.end(), [](auto& c) { return !c.level; }));
    }
    // The longest the line was low since the event (the source must see it to read the EDID).
    uint64_t longestLowUs(int input) const
    {
        std::vector<std::pair<uint64_t, int>> log;
        if (input < 3)
            for (const auto& c : sim::InputSideModel::it6602(input).hpdLog())
                log.emplace_back(c.us, c.level);
        else
            for (const auto& c : sim::It6805Model::instance().hpdLog())
                log.emplace_back(c.us, c.level);
        uint64_t longest = 0;
        for (size_t k = 0; k < log.size(); ++k)
            if (log[k].second == 0 && log[k].first >= eventUs)
                longest = std::max(longest, (k + 1 < log.size() ? log[k + 1].first : sim::SimBoard::virtualMicroseconds()) - log[k].first);
        return longest;
    }
    uint64_t eventUs = 0;
    long lows = -1;         // hot-plug lows before the event
    long lowsAtMost = -1;   // the most there may be after it (-1: any)
    int routed = -1;        // the input whose sound the expander routes
    int inputs = 0;         // the inputs whose picture and sound are checked
    uint64_t passMs = 250;
};

TEST_P(ReceiverSweep, EachTransferOfEachSequenceFailsInTurnAndWhatTheUserSeesHoldsOnceTheBusIsQuiet)
{
    if (kThreadChecker)
        GTEST_SKIP() << "one thread: the thread checker finds nothing here";
    // Each failure point is a fork of this process. One that earlier tests have grown (over
    // 0.5 GB resident where the sweep alone holds 0.1, ASan's shadow in proportion) forks some
    // ten times slower: run whole, the program hands the sweep to a fresh process of its own
    // (not under emulation, where qemu-user refuses the start's clone flags: it runs here).
    int running = 0, failed = 0;
    const auto reap = [&] {
        int status = 0;
        failed += waitpid(-1, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status);
        running = std::max(running - 1, 0);
    };
    const testing::TestInfo* self = testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + self->test_suite_name() + "." + self->name();
    char* argv[] = {const_cast<char*>("/proc/self/exe"), const_cast<char*>(filter.c_str()), nullptr};
    if (testing::UnitTest::GetInstance()->test_to_run_count() > 1 && !kel_test::underEmulation()) {
        std::fflush(nullptr);
        ASSERT_EQ(posix_spawn(nullptr, argv[0], nullptr, nullptr, argv, environ), 0);
        reap();
        EXPECT_EQ(failed, 0) << "the sweep failed in its own process: see above";
        return;
    }
    int perInput[4] = {0, 0, 0, 0};
    const int group = GetParam(), slices = group >= 3 && group < 7 ? 4 : 1, slice = slices > 1 ? group - 3 : 0;
    for (const Sequence& q : sequences()) {
        if ((q.sound || q.clock ? 7 : std::min(q.input, 3) + slice) != group)
            continue;
        const std::string name = q.name + " on input " + std::to_string(q.input);
        // An event of the source model with a key this sweep does not know is not swept.
        EXPECT_EQ(q.unknown, "") << name << ": an event the sweep does not take";
        if (!q.unknown.empty() || (kel_test::underEmulation() && q.input != 0))
            continue;   // emulated, some ten times slower: input 0's sequences, each transfer still in turn
        Sources sent;
        SweepBus clean, bus;
        std::vector<int> marks;   // the transfers counted by the end of each pass, run clean
        EXPECT_EQ(start(q, sent, clean), "") << name;
        const std::string cleanRun = run(q, sent, clean, 0, &marks);
        EXPECT_EQ(cleanRun, "") << name << ", clean";
        if (!cleanRun.empty())
            continue;
        std::printf("sweep: %s: N = %d transfers in %zu passes\n", name.c_str(), marks.back(), marks.size());
        perInput[q.input] += marks.back();
        // Every transfer in turn, each in a copy of the board at the start of its pass, two at once.
        ASSERT_EQ(start(q, sent, bus), "") << name;
        // A fork costs in proportion to what is resident: what each fresh board freed, held
        // by the address checker's quarantine, would grow it with every sequence.
        if (__sanitizer_purge_allocator)
            __sanitizer_purge_allocator();
        for (size_t p = 0; p < marks.size(); ++p) {
            for (int k = bus.seen + 1; k <= marks[p]; ++k) {
                if (k % slices != slice)
                    continue;   // another slice's
                for (std::fflush(nullptr); running >= 2;)
                    reap();
                ++running;
                if (fork())
                    continue;
                alarm(60);   // a copy that hangs ends
                dup2(open("/dev/null", O_WRONLY), 1);   // the drivers' traces
                const std::string seen = run(q, sent, bus, k, nullptr);
                if (!seen.empty())
                    std::fprintf(stderr, "%s, transfer %d of %d failed: %s: %s\n", name.c_str(), k, marks.back(), bus.failed.c_str(), seen.c_str());
                _exit(!seen.empty());
            }
            sweepPass();
            ASSERT_EQ(bus.seen, marks[p]) << name << ": not the clean run at pass " << p;
        }
        while (running)
            reap();
        EXPECT_EQ(failed, 0) << name << ": failure points whose oracle did not hold, each printed above";
        failed = 0;
    }
    std::printf("sweep: N per input %d %d %d %d\n", perInput[0], perInput[1], perInput[2], perInput[3]);
}
INSTANTIATE_TEST_SUITE_P(Groups, ReceiverSweep, testing::Range(0, 8),
                         [](const testing::TestParamInfo<int>& g) { return std::string(kSweepGroups[g.param]); });
