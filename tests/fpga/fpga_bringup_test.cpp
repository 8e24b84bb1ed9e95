// FPGA bring-up on the simulated board: the link stages, the parameter RAM from defaults or
// from the configuration flash, the output check, each failure path with its retry or
// reset, the LED-size hand-shake, the output refresh and the port link state.

#include "tests/fpga/bringup_fixture.h"

#include <atomic>
#include <thread>

#include "board/sim/Sim.h"
#include "core/utils.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <set>

using fpga_test::BringUpFixture;
using sim::FpgaModel;

class FpgaBringUp : public BringUpFixture {};

namespace {

std::vector<uint8_t> le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

void setLedPara(uint8_t para)
{
    std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
    g_set_led_para = para;
}

} // namespace

TEST_F(FpgaBringUp, NothingHappensBeforeTheInputsAreInitialised)
{
    world->source->clock_state[0] = 1;
    passes(800);
    EXPECT_EQ(readsOf(31), 0u);
    EXPECT_EQ(std::vector<int>({manager->link_stage[0], manager->get_fpga_status(), manager->set_output_status(), manager->set_fpga_bri_val()}),
              (std::vector<int>{0, 0, 0, 0}));
}

TEST_F(FpgaBringUp, TheDefaultBoardComesUpAndLightsTheScreenOnceThePictureIsThere)
{
    // 301 passes go by before the FPGA is first asked anything.
    pass(6);
    passes(300);
    EXPECT_EQ(readsOf(31), 0u);
    pass();
    EXPECT_EQ(std::make_pair(readsOf(31), int(manager->link_stage[0])), std::make_pair(size_t(1), 1));

    ASSERT_TRUE(bringUp());
    EXPECT_EQ(std::vector<int>({manager->link_stage[0], manager->reg_shadow(80, 0), manager->check_step[0],
                                manager->ram_check_ok[0], FpgaModel::linkTrained(0), int(g_fpga_lcd_on)}), (std::vector<int>{7, 3, 16, 1, 1, 1}));

    // The parameter RAM as the FPGA holds it: the default image, ten 1280 x 512 ports,
    // sixteen 1398/466 records, the port numbers and the link bits of ports 0 and 1.
    auto ram = FpgaModel::ram(0, 1, 0, 1024);
    // Bytes of the default image that bring-up leaves as they are: all but the port
    // rectangles, the link bits (96), the card counts (100-114) and the measurement.
    const std::map<int, uint8_t> image{{1, 0x05}, {3, 0x04}, {4, 0x76}, {5, 0x05}, {6, 0xD2}, {7, 0x01},
                                       {30, 0x02}, {61, 0x05}, {63, 0x04}};
    const std::set<int> rects{8, 19, 32, 43};
    for (int at = 0; at < 256; ++at) {
        const bool inRect = std::any_of(rects.begin(), rects.end(), [at](int b) { return at >= b && at < b + 8; });
        if (!inRect && at != 96 && !(at >= 100 && at < 124)) {
            EXPECT_EQ(ram[size_t(at)], image.count(at) ? image.at(at) : 0) << at;
        }
    }
    const uint16_t rectAt[11] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584, 592};   // port 10 is left alone
    for (int port = 0; port <= 10; ++port) {
        const uint16_t at = rectAt[port];
        EXPECT_EQ(std::vector<uint16_t>({ram16(at), ram16(at + 2), ram16(at + 4), ram16(at + 6)}),
                  (std::vector<uint16_t>{0, 0, uint16_t(port < 10 ? 1280 : 0), uint16_t(port < 10 ? 512 : 0)})) << port;
    }
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(std::vector<uint16_t>({ram16(296 + 4 * i), ram16(298 + 4 * i), ram[496], ram[498]}),
                  (std::vector<uint16_t>{1398, 466, 0, 0}));
    // The port numbers; bit 2 of the image kept at 96; 116 measured by the FPGA, not written.
    EXPECT_EQ(std::vector<uint8_t>(ram.begin() + 276, ram.begin() + 286), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(std::make_pair(int(ram[96]), int(ram16(116))), std::make_pair(0x07, 1920));
    // The packed geometry and the version bytes for the PC.
    const uint8_t* back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(std::vector<int>({back[8] | back[9] << 8, back[10] | back[11] << 8, back[2] | back[3] << 8}),
              (std::vector<int>{1280, 512, 0x0400}));
    EXPECT_EQ(std::vector<uint8_t>(fpga_manage::MCU_RAM_CMD + 12, fpga_manage::MCU_RAM_CMD + 16),
              (std::vector<uint8_t>{0x12, 0x15, 0x06, 33}));

    // Dark until the picture is there (the user's dark word kept: the dark-state check).
    EXPECT_EQ(ScreenState, 0);
    passes(50);
    EXPECT_EQ(manager->check_step[0], 16);
    g_source_online = 2;
    ASSERT_TRUE(passUntil([&] { return manager->check_step[0] == 18; }, 30));
    EXPECT_EQ(int(ScreenState), 1);
    // Once ready both requests report they were served (the screen's: the dark-state check).
    EXPECT_EQ(std::vector<int>({manager->set_output_status(), manager->set_fpga_bri_val()}), (std::vector<int>{1, 1}));
}

// Every register and RAM write of FPGA 0's bring-up, stage by stage and check step by check
// step; the packet sends of the first idle pass (send registers, transmit RAMs) left out.
TEST_F(FpgaBringUp, BringUpWritesItsRegistersAndRamInStageOrder)
{
    auto bringUpWrites = [] {
        const std::set<int> sending{26, 27, 130, 131, 132, 134, 136, 138, 146, 147, 148};
        auto all = writes();
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [&](const Write& w) { return sending.count(std::get<0>(w)) || std::get<0>(w) > 1001; }),
                  all.end());
        return all;
    };
    ASSERT_TRUE(bringUp());
    EXPECT_EQ(bringUpWrites(), (std::vector<Write>{
                                   {3, 0x40, 0x40},       // S1
                                   {3, 0x80, 0x80},       // S3
                                   {23, 0x01, 0x00},      // S5: the link trained
                                   {23, 0x01, 0x01},      // S6
                                   {22, 0x20, 0x00},      // parameter RAM: the whole image,
                                   {1001, 0, 1024},
                                   {1001, 96, 1},         // the link bits of ports 0 and 1
                                   {2, 0x08, 0x08},
                                   {0, 0x04, 0x04},       // dark
                                   {2, 0x01, 0x01},       // check step 7: a plausible picture
                                   {41, 0x01, 0x01},      // step 1
                                   {23, 0x02, 0x02},
                                   {23, 0x02, 0x00},      // step 9
                                   {23, 0x08, 0x00},      // step 14
                                   {2, 0x01, 0x01},
                                   {6, 0xFF, 0xFF},       // step 15: hand value 16 gives 255
                                   {3, 0x04, 0x04},
                                   {3, 0x20, 0x20},       // LED output on
                               }));

    sim::FpgaModel::clearLog();
    g_source_online = 2;
    G_timeTicks += 21;
    manager->write_to_register(80, 0xFF, 2, 0);        // register 80 not 3: the check waits
    manager->power_up_check_fpga_status(0);
    EXPECT_TRUE(writes().empty());
    manager->write_to_register(80, 0xFF, 3, 0);
    manager->power_up_check_fpga_status(0);
    EXPECT_EQ(writes(), (std::vector<Write>{{2, 0x01, 0x01}, {0, 0x04, 0x00}}));   // step 16: lit
}

TEST_F(FpgaBringUp, AStoredParameterImageIsLoadedWithTheOutputOffsets)
{
    std::vector<uint8_t> image(1025, 0);
    image[0] = 0xAA;                                    // marker, then the 1024 bytes
    uint8_t* ram = image.data() + 1;
    // LED size, port 0's rectangle, port 5's position, the first ten 296 records.
    for (auto [at, v] : std::map<int, uint16_t>{{60, 1000}, {62, 500}, {8, 10}, {10, 20}, {12, 300}, {14, 400},
                                                {528, 40}, {530, 50}})
        KelRamPara::put16(ram + at, v);
    for (int i = 0; i < 10; ++i)
        KelRamPara::put16(ram + 296 + 4 * i, uint16_t(7 + i));
    ram[100] = 9;                                       // card counts are not the image's
    ram[56] = 0x21;
    sim::FpgaFlashModel::write(0, 0x308000, image);
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    KelRamPara::put16(para->ram + 1382, 7);
    KelRamPara::put16(para->ram + 1384, 3);

    ASSERT_TRUE(bringUp());
    // Width (1000 + 7 + 31) rounded down to 32, height + 3; positions moved, sizes kept.
    for (auto [at, v] : std::map<int, uint16_t>{{60, 1024}, {62, 503}, {8, 17}, {10, 23}, {12, 300}, {14, 400},
                                                {528, 47}, {530, 53}, {300, 8}})
        EXPECT_EQ(ram16(uint32_t(at)), v) << at;
    // The packed copy (back) keeps the stored geometry, before the offsets.
    const uint8_t *eth = fpga_manage::MCU_RAM_ETH_PARA_func[0], *back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(std::vector<int>({FpgaModel::ram(0, 1, 56, 1)[0], fpga_manage::MCU_RAM_PARA_func[0][100], FpgaModel::ram(0, 1, 277, 1)[0],
                                eth[0] | eth[1] << 8, eth[4] | eth[5] << 8, back[4]}), (std::vector<int>{0x21, 0, 2, 1024, 17, 10}));

    uint16_t x = 0, y = 0, w = 0, h = 0;
    uint32_t right = 0, bottom = 0;
    manager->get_eth_lcd_w_h(0, &w, &h);
    manager->get_eth_max_border(0, &right, &bottom);
    manager->get_eth_min_x_y(0, &x, &y);
    // The LED size; the far border (port 0: 17 + 300); the near corner (ports without a
    // stored x get the offset).
    EXPECT_EQ((std::vector<uint32_t>{w, h, right, bottom, x, y}), (std::vector<uint32_t>{1024, 503, 317, 423, 7, 3}));
    manager->get_eth_param_addr(5, &x, &y, &w, &h);
    EXPECT_EQ(std::vector<uint16_t>({x, y, w, h}), (std::vector<uint16_t>{528, 530, 532, 534}));
    manager->get_eth_param_addr(16, &x, &y, &w, &h);
    EXPECT_EQ(x, 8);
}

TEST_F(FpgaBringUp, ThePackedGeometryTakesEachRangeOfTheParameterRam)
{
    uint8_t* ram = fpga_manage::MCU_RAM_PARA_func[0];
    for (int i = 0; i < 1024; ++i)
        ram[i] = uint8_t(i * 7 + i / 256);
    manager->M57_back_mcu_set_net_para(0);
    // (packed offset, parameter RAM offset, length): LED size, ports 0-3, 4-7, 8-15, LED x/y.
    const struct {
        int to, from, n;
    } ranges[] = {{0, 60, 4},   {4, 8, 8},     {12, 19, 8},   {20, 32, 8},
                  {28, 43, 8}, {36, 520, 32}, {68, 576, 64}, {132, 56, 4}};
    std::vector<uint8_t> expected(136);
    for (const auto& r : ranges)
        std::copy(ram + r.from, ram + r.from + r.n, expected.begin() + r.to);
    const uint8_t* back = fpga_manage::MCU_RAM_ETH_BACK_PARA_func[0];
    EXPECT_EQ(std::vector<uint8_t>(back, back + 136), expected);
}

TEST_F(FpgaBringUp, TheRamCheckReadsBackEveryPortRectangleAndTheRecordsFrom296To335Only)
{
    ASSERT_TRUE(bringUp());
    const uint16_t rectAt[10] = {8, 19, 32, 43, 520, 528, 536, 544, 576, 584};
    uint8_t* ram = fpga_manage::MCU_RAM_PARA_func[0];
    for (uint16_t at = 0; at < 1024; ++at) {
        const bool checked = (at >= 296 && at < 336) || std::any_of(rectAt, rectAt + 10, [at](uint16_t b) { return at >= b && at < b + 8; });
        ram[at] ^= 0x5A;                                // the FPGA's copy no longer matches
        FpgaModel::clearLog();
        EXPECT_EQ(manager->check_fpga_ram_param(0), checked ? 0 : 1) << at;
        ram[at] ^= 0x5A;
    }
}

TEST_F(FpgaBringUp, AnFpgaWithItsIdentificationOutOfRangeStaysAtStageOne)
{
    sim::SimBoard::setScenario("fpga.reg.31", "49");   // one past the highest known
    passes(1000);
    EXPECT_EQ(std::vector<int>({manager->link_stage[0], manager->get_fpga_status()}), (std::vector<int>{1, 0}));
    // Every step reads the identification again and goes no further.
    EXPECT_GE(readsOf(31), 100u);
    EXPECT_EQ(std::vector<size_t>({readsOf(7), readsOf(28), writesTo(3).size()}), (std::vector<size_t>{readsOf(31), readsOf(31), 0}));

    // 48, the highest identification known, lets bring-up go on.
    FpgaModel::setReg(0, 31, 48);
    EXPECT_TRUE(passUntil([&] { return manager->link_stage[0] > 1; }, 3000));
}

TEST_F(FpgaBringUp, ARamThatDoesNotReadBackResetsTheFpgaAndBringUpStartsOver)
{
    sim::SimBoard::setScenario("fpga.ram1.stuck", "13");   // high byte of port 0's width
    ASSERT_TRUE(passUntil([&] { return manager->link_stage[0] == 7; }, 3000));
    EXPECT_EQ(std::vector<int>({manager->ram_check_ok[0], FpgaModel::inReset(0), manager->reset_pending[0]}), (std::vector<int>{0, 1, 1}));

    // Held for 51 ticks, then released: bring-up begins again from its first stage.
    sim::SimBoard::setScenario("fpga.ram1.stuck", "-1");
    const uint32_t pulled = manager->reset_stamp[0];
    while (G_timeTicks - pulled < 50)
        pass();
    EXPECT_EQ(std::vector<int>({FpgaModel::inReset(0), manager->get_fpga_status()}), (std::vector<int>{1, 0}));
    pass();
    EXPECT_EQ(std::vector<uint32_t>({FpgaModel::inReset(0), uint32_t(manager->link_stage[0]), uint32_t(manager->reg_shadow(80, 0)),
                                     g_change[CHG_RESET_RELEASE].load()}), (std::vector<uint32_t>{0, 0, 0, G_timeTicks.load()}));
    ASSERT_TRUE(bringUp());
    EXPECT_EQ(manager->ram_check_ok[0], 1);
}

// A link is looked at five times before the FPGA is reset, twice at most; then bring-up goes on
// (stage 3 starts the retry count afresh).
TEST_F(FpgaBringUp, ALinkIsLookedAtFiveTimesBeforeEachOfTwoResets)
{
    for (const auto& [errors, resetsWanted] : {std::pair<int, int>{4, 0}, {5, 1}, {-1, 2}}) {
        TearDown();
        SetUp();
        FpgaModel::setLinkError(0, errors < 0);
        ASSERT_TRUE(passUntil([&] { return manager->link_stage[0] == 2; }, 3000));
        if (errors > 0)
            FpgaModel::scriptReads(0, 22, std::vector<uint8_t>(size_t(errors), 0x08));
        int resets = 0;
        bool held = false;
        for (int i = 0; i < 6000 && !manager->get_fpga_status(); ++i) {
            pass();
            const bool now = FpgaModel::inReset(0);
            resets += now && !held;
            held = now;
        }
        EXPECT_EQ((std::vector<int>{resets, manager->get_fpga_status(), manager->stage_retry[0]}), (std::vector<int>{resetsWanted, 1, 0}))
            << "link error on the first " << errors << " looks";
    }
}

TEST_F(FpgaBringUp, ALinkThatNeverTrainsGoesOnToStageSixWithoutAReset)
{
    // One register of the input clock chip off its image: the clock does not run, the
    // link does not train.
    const uint8_t wrong[2] = {40, 0xA1};
    sim::InputSideModel::clockChip().write(wrong, 2);
    ASSERT_TRUE(passUntil([&] { return manager->link_stage[0] == 6; }, 3000));
    EXPECT_EQ(manager->link_error_count[0], 8);          // five looks, then three retries
    ASSERT_TRUE(passUntil([&] { return manager->link_stage[0] == 7; }, 20));
    EXPECT_EQ((std::vector<int>{manager->reset_pending[0], manager->reg_shadow(80, 0)}), (std::vector<int>{0, 3}));
}

TEST_F(FpgaBringUp, WithoutTheOutputCheckBitTheFpgaIsResetAfter20Then40Looks)
{
    sim::SimBoard::setScenario("fpga.outputcheck", "0");
    for (uint8_t run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(passUntil([&] { return !manager->reset_pending[0] && manager->link_stage[0] == 7; }, 3000));
        FpgaModel::clearLog();
        ASSERT_TRUE(passUntil([&] { return manager->reset_pending[0] == 1; }, 2000));
        // Nothing else reads register 22 while no answer arrives: every read is one look.
        EXPECT_EQ((std::vector<int>{int(readsOf(22)), manager->check_retry[0], manager->check_step[0]}),
                  (std::vector<int>{(run + 1) * 20, run + 1, 0}));
    }
    // After the 101st retry the check gives up waiting and goes on to the picture check.
    ASSERT_TRUE(passUntil([&] { return !manager->reset_pending[0] && manager->link_stage[0] == 7; }, 3000));
    manager->check_retry[0] = 101;
    int looks = 0;
    while (manager->check_step[0] == 0 && looks < 5000) {
        G_timeTicks += 11;
        manager->power_up_check_fpga_status(0);
        ++looks;
    }
    EXPECT_EQ((std::vector<int>{looks, manager->check_step[0], manager->reset_pending[0]}), (std::vector<int>{102 * 20, 7, 0}));
}

TEST_F(FpgaBringUp, TheOutputCheckWantsHalfTheLedSizeAndAClockCountInItsWindow)
{
    sim::SimBoard::setScenario("fpga.measured.clock", "700000");
    ASSERT_TRUE(passUntil([&] { return manager->check_step[0] == 7; }, 3000));
    // (clock count, measured width, measured height) -> whether the check stays at step 7:
    // the count must lie above 714285 and below 1000000, the size at least half of 1920 x 1080.
    const struct {
        uint32_t clock;
        uint16_t width, height;
        bool stays;
    } rows[] = {{700000, 1920, 1080, true}, {1000000, 1920, 1080, true}, {714285, 1920, 1080, true},
                {999999, 959, 1080, true},  {999999, 960, 539, true},     {714286, 960, 540, false}};
    for (const auto& r : rows) {
        FpgaModel::setRam(0, 1, 120, le32(r.clock));
        FpgaModel::setRam(0, 1, 116, {uint8_t(r.width), uint8_t(r.width >> 8), uint8_t(r.height), uint8_t(r.height >> 8)});
        passes(15);
        EXPECT_EQ(manager->check_step[0] == 7, r.stays) << r.clock << " " << r.width << "x" << r.height;
    }
    EXPECT_TRUE(bringUp());
}

TEST_F(FpgaBringUp, AWideLedScreenPassesOnTheScalersPictureAndAFailureIsSaidOncePerChange)
{
    // 8188 x 800 is one output channel of the scaler, 8188 wide, which the FPGA measures.
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    KelRamPara::put16(para->ram + KelRamPara::kLedWidth, 8188);
    KelRamPara::put16(para->ram + KelRamPara::kLedHeight, 800);
    auto window = [](uint16_t width, uint16_t height) {
        const uint16_t at[4] = {0x28, 0x2A, 0x2C, 0x2E};
        const uint16_t value[4] = {60, uint16_t(60 + width), 20, uint16_t(20 + height)};
        for (int i = 0; i < 4; ++i) {
            sim::ScalerModel::setReg(0x08, at[i], uint8_t(value[i]));
            sim::ScalerModel::setReg(0x08, at[i] + 1, uint8_t(value[i] >> 8));
        }
    };
    window(1920, 1080);                                  // the picture before the new size
    g_debugSwitch = 254;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(passUntil([&] { return manager->check_step[0] == 7; }, 3000));
    passes(500);
    window(2000, 800);
    passes(500);
    EXPECT_EQ(manager->check_step[0], 7);
    window(8188, 800);
    EXPECT_TRUE(bringUp());
    const std::string out = testing::internal::GetCapturedStdout();
    std::vector<size_t> counts;
    for (const std::string line : {"error(", "\nfpag0.......error(1920,1080,800000)................\n",
                                   "\nfpag0.......error(2000,800,800000)................\n", "\nfpag0.......ok(8188,800,800000)  123................\n"}) {
        counts.push_back(0);
        for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1))
            ++counts.back();
    }
    EXPECT_EQ(counts, (std::vector<size_t>{2, 1, 1, 1}));
}

TEST_F(FpgaBringUp, AnFpgaThatLostItsSetUpIsBroughtUpAgain)
{
    ASSERT_TRUE(bringUp());
    // An identification from 25 to 48 is an FPGA that kept its set-up.
    for (uint8_t id : {25, 48, 24, 49}) {
        FpgaModel::setReg(0, 22, 0x40);
        FpgaModel::setReg(0, 31, id);
        fpga_manage::MCU_REG_func[0][80] = 3;
        manager->reg_IRQ_Dealwith(0, 1);
        EXPECT_EQ(manager->reg_shadow(80, 0), id >= 25 && id <= 48 ? 3 : 0) << int(id);
    }
    EXPECT_EQ(std::vector<uint32_t>({uint32_t(manager->get_fpga_status()), g_change[CHG_RESET_RELEASE].load(), uint32_t(FpgaModel::reg(0, 22) & 0x60)}),
              (std::vector<uint32_t>{0, G_timeTicks.load(), 0}));   // register 22's bits 5 and 6 cleared
    FpgaModel::setReg(0, 31, 33);
    EXPECT_TRUE(bringUp());
}

// --- The screen's dark state -------------------------------------------------------

// Whoever asks for dark or lit - the panel or a PC's setting (the word, handed over as the
// scaler does on a change), a PC's write of register 0, the schedule, a factory reset - and
// whatever brings the FPGA up again around it (a size change, a lost set-up, a reset, an
// output refresh), in any order and at any step of one another: once settled register 0
// shows what the last request asked, the word and the state the PC reads with it (a write
// that failed asked nothing), and a screen made dark for a request
// is never seen lit (output on, dark bit clear) before a request for lit.
TEST_F(FpgaBringUp, TheScreenEndsAsTheLastDarkRequestAskedThroughEveryBringUp)
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    g_source_online = 2;
    ASSERT_TRUE(passUntil([&] { return manager->check_step[0] == 18; }, 5000));
    clockAt(12, 0);
    const char* const names[] = {"panel or PC setting", "PC register write", "schedule", "factory reset", "size change", "lost set-up", "reset", "output refresh"};
    std::map<std::string, int> spread;
    kel_test::checkProperty("the screen ends as the last dark request asked", [&] {
        bool scalerDue = false, seenDark = false, want = false;
        std::set<std::string> seen;
        const auto in = [](int low, int high) { return rc::gen::resize(rc::kNominalSize, rc::gen::inRange(low, high)); };
        const auto request = [&](bool dark) { want = dark, seenDark = false; };
        const auto setWord = [&](uint16_t v) {
            std::unique_lock<std::mutex> block = KelRamPara::lock_block();
            manager->screen_update_flag = manager->screen_update_flag || para->ram16(KelRamPara::kScreenDark) != v;
            KelRamPara::put16(para->ram + KelRamPara::kScreenDark, v), request(v != 0);
        };
        const auto step = [&](uint32_t ticks) {
            pass(ticks);
            if (scalerDue && g_set_led_para == 0)   // the scaler has set its panel up: it answers 2
                setLedPara(2), scalerDue = false;
            seenDark = seenDark || (want && (FpgaModel::reg(0, 0) & 0x04));
            RC_ASSERT(!(want && seenDark && (FpgaModel::reg(0, 3) & 0x20) && !(FpgaModel::reg(0, 0) & 0x04)));
        };
        const auto settle = [&] {
            for (int i = 0; i < 6000 && !(manager->get_fpga_status() && manager->check_step[0] == 18 && !manager->screen_update_flag && !g_set_led_para &&
                                           !scalerDue && !manager->reset_pending[0] && !manager->freeze_running && !g_freeze_out && !manager->onoff_fresh); ++i)
                step(4);
        };
        setWord(*rc::gen::element<uint16_t>(0, 1));   // each case starts settled from a word of its own
        settle();
        for (int e = *in(0, 7); e >= 0; --e) {
            const int ev = *rc::gen::weightedElement<int>({{4, 0}, {3, 1}, {2, 2}, {1, 3}, {3, 4}, {2, 5}, {2, 6}, {2, 7}});
            seen.insert(names[ev]);
            if (ev == 0) {
                setWord(*rc::gen::weightedElement<uint16_t>({{4, 0}, {4, 1}, {1, 2}, {1, 0x100}, {1, 0xFFFF}}));
            } else if (ev == 1) {
                const uint8_t mask = *rc::gen::weightedElement<uint8_t>({{4, 0x04}, {2, 0xFF}, {2, 0x06}, {1, 0x80}, {1, 0x40}}), value = *rc::gen::arbitrary<uint8_t>();
                if (*rc::gen::weightedElement<int>({{3, 0}, {1, 1}}))   // within a size change's hand-shake
                    setLedPara(1), scalerDue = true, seen.insert("PC write in a size change"), step(*rc::gen::element(1u, 20u));
                const int fpga = *rc::gen::weightedElement<int>({{4, 0}, {1, 1}});   // FPGA 1 is not fitted: the write fails
                if (fpga)
                    seen.insert("PC write that failed");
                if (manager->write_to_register(0, mask, value, fpga) == 0 && (mask & 0x04))
                    request(value & 0x04);
            } else if (ev == 2) {   // one entry whose last switch before noon is dark (lit 11:00, dark 11:30) or lit
                const bool dark = *rc::gen::arbitrary<bool>();
                const uint8_t block[] = {0xAA, 0x02, 0x00, 0, 0, 0, 5, 0, 1, 0x11, uint8_t(dark ? 0 : 0x30), 0x11, uint8_t(dark ? 0x30 : 0)};
                std::memcpy(fpga_manage::MCU_RAM_CMD, block, sizeof block);
                manager->write_to_register(66, 0xFF, 1, 0);
                manager->write_to_register(2, 0x04, 0x04, 0);
                request(dark);
                for (int i = 0; i < 6000 && manager->onoff_fresh; ++i)   // taken at the next ready pass
                    step(4);
            } else if (ev == 3) {
                const uint16_t before = para->locked16(KelRamPara::kScreenDark);
                RC_ASSERT(para->ram_para_reset() == 0);
                manager->screen_update_flag = manager->screen_update_flag || para->locked16(KelRamPara::kScreenDark) != before;
                request(false);   // the defaults: lit
            } else if (ev == 4) {
                setLedPara(1), scalerDue = true;
            } else if (ev == 5) {
                FpgaModel::powerOn(0), FpgaModel::setReg(0, 22, 0x40), FpgaModel::setReg(0, 31, 0x50);
                std::lock_guard<std::mutex> path(manager->port_path_mutex);
                manager->reg_IRQ_Dealwith(0, 1);
                FpgaModel::setReg(0, 31, 33);
            } else if (ev == 6) {
                manager->reset_fpga_rst(0);
            } else {
                std::lock_guard<std::mutex> hold(Utils::_led_para_init_mutex);
                g_freeze_out = 1;
            }
            // Then a while of the loop: none, a step or two, or most of a bring-up.
            const int passes = *rc::gen::weightedOneOf<int>({{2, rc::gen::just(0)}, {3, in(1, 40)}, {2, in(40, 700)}});
            const uint32_t ticks = uint32_t(*rc::gen::element(1, 3, 8));
            for (int i = 0; i < passes; ++i, seen.insert(manager->check_step[0] < 16 ? "a request during a bring-up" : "settled"))
                step(ticks);
        }
        settle();
        RC_ASSERT(manager->get_fpga_status() == 1 && manager->check_step[0] == 18 && !manager->onoff_fresh);
        RC_ASSERT(bool(FpgaModel::reg(0, 0) & 0x04) == want && (para->locked16(KelRamPara::kScreenDark) != 0) == want && (FpgaModel::reg(0, 3) & 0x20));
        RC_ASSERT(ScreenState == !want && fpga_manage::MCU_RAM_EXTEND[29] == !want);   // what the PC reads
        seen.insert(want ? "ends dark" : "ends lit");
        for (const std::string& s : seen) {
            RC_CLASSIFY(true, s);
            ++spread[s];
        }
    }, {kel_test::underEmulation() ? 10 : 40, 30});
    for (const auto& [what, n] : spread)
        std::cout << "  " << what << ": " << n << " cases\n";
}

// --- LED-size hand-shake and output refresh -----------------------------------------

TEST_F(FpgaBringUp, LedSizeHandShakeStepsAfter11And31TicksThenTheScalersTwoResets)
{
    ASSERT_TRUE(bringUp());
    g_source_online = 2;
    ASSERT_TRUE(passUntil([&] { return manager->check_step[0] == 18; }, 100));
    FpgaModel::clearLog();

    setLedPara(1);
    pass();
    EXPECT_EQ(std::vector<int>({g_set_led_setup, FpgaModel::reg(0, 0) & 0x04}), (std::vector<int>{1, 0x04}));   // dark
    // Each step holds for 10 then 30 passes and moves on at the next; a second size change
    // meanwhile restarts nothing.
    for (const auto& [passes, step] : {std::pair{10, 1}, {30, 2}}) {
        for (int i = 1; i <= passes; ++i) {
            pass();
            ASSERT_EQ(g_set_led_setup, step) << i;
        }
        pass();
        if (step == 1) {
            EXPECT_EQ(std::vector<int>({g_set_led_setup, FpgaModel::reg(0, 3) & 0x20}), (std::vector<int>{2, 0}));   // LED output off
            setLedPara(1);
        }
    }
    EXPECT_EQ(std::vector<int>({g_set_led_setup, g_set_led_para}), (std::vector<int>{0, 0}));
    const auto r0 = writesTo(0), r3 = writesTo(3);       // one dark write, one output-off write
    EXPECT_EQ((std::vector<int>{int(std::count_if(r0.begin(), r0.end(), [](auto& w) { return w.first == 0x04 && (w.second & 0x04); })),
                                int(std::count_if(r3.begin(), r3.end(), [](auto& w) { return w.first == 0x20 && !(w.second & 0x20); }))}),
              (std::vector<int>{1, 1}));

    // The scaler has set its panel up: FPGA 0 is reset (the dark word kept through it all and
    // the screen lit again after: the dark-state check).
    setLedPara(2);
    pass();
    EXPECT_EQ(std::vector<int>({g_set_led_setup, g_set_led_para, FpgaModel::inReset(0)}), (std::vector<int>{0, 0, 1}));
}

TEST_F(FpgaBringUp, OutputRefreshRunsItsStepsAndAFreezeRaisedMeanwhileRunsItAgain)
{
    ASSERT_TRUE(bringUp());
    FpgaModel::clearLog();
    g_freeze_out = 1;
    pass();
    EXPECT_EQ(std::vector<int>({g_freeze_out, manager->freeze_running}), (std::vector<int>{0, 1}));   // taken by the refresh
    // After the first step five of at least 21 ticks and one of at least 11: 116 ticks.
    for (int i = 1; i < 116; ++i) {
        pass();
        ASSERT_EQ(manager->freeze_running, 1) << i;
    }
    g_freeze_out = 1;                                  // raised while the refresh runs
    ASSERT_TRUE(passUntil([&] { return manager->freeze_running == 0; }, 200));

    // Register 23 bit 0 off and on, bit 5 on and off, the output enabled, the screen lit.
    std::vector<std::pair<int, uint8_t>> seen;   // register and the bits its mask asked for
    for (auto& op : FpgaModel::log(0))
        if (op.kind == FpgaModel::OpKind::RegisterWrite && (op.reg == 23 || op.reg == 3 || op.reg == 0))
            seen.emplace_back(op.reg * 1000 + op.mask, uint8_t(op.data[0] & op.mask));
    const std::vector<std::pair<int, uint8_t>> expected = {
        {23001, 0x00}, {23001, 0x01}, {23032, 0x20}, {23032, 0x00}, {3032, 0x20}, {4, 0x00}};
    EXPECT_EQ(seen, expected);

    // The freeze raised meanwhile asks for a second refresh.
    pass();
    EXPECT_EQ(std::vector<int>({g_freeze_out, manager->freeze_running}), (std::vector<int>{0, 1}));
    ASSERT_TRUE(passUntil([&] { return manager->freeze_running == 0; }, 300));
    EXPECT_EQ(g_set_led_setup, 0);
}

TEST_F(FpgaBringUp, OutputRefreshGoesOnAfter500LooksAtABusyBit)
{
    ASSERT_TRUE(bringUp());
    FpgaModel::setReg(0, 22, 0x04);                    // the FPGA never clears bit 2
    g_freeze_out = 1;
    for (int i = 0; i <= 500; ++i) {
        pass();
        ASSERT_EQ(g_set_led_setup, i == 500) << i;
    }
}

TEST_F(FpgaBringUp, PortLinkStateAndItsChangeNotification)
{
    const int before = manager->get_wlan_state();      // not running yet
    ASSERT_TRUE(bringUp());
    EXPECT_EQ((std::vector<int>{before, manager->get_wlan_state()}), (std::vector<int>{0, 0x0003}));   // the default cards on ports 0 and 1
    std::vector<int> codes;
    QObject::connect(KelRamPara::p_kelrampara_config, &KelRamPara::sig_update_para,
                     [&codes](int code) { codes.push_back(code); });
    auto look = [&] {
        G_timeTicks += 10;                             // one look per 10 ticks
        manager->check_wlanonline_state();
    };
    look();
    codes.clear();
    look();
    std::vector<std::vector<int>> seen{codes};
    sim::SimBoard::setScenario("fpga.link.port4", "1");
    sim::SimBoard::setScenario("fpga.link.port9", "1");
    EXPECT_EQ(manager->get_wlan_state(), 0x0213);
    G_timeTicks += 9;
    manager->check_wlanonline_state();                 // 9 ticks on: not looked at again
    seen.push_back(codes);
    for (int i = 0; i < 2; ++i) {                      // one notification for the change only
        look();
        seen.push_back(codes);
    }
    EXPECT_EQ(seen, (std::vector<std::vector<int>>{{}, {}, {11}, {11}}));
    sim::ReceivingCardModel::setCards(0, 1, 0);        // the cards of port 1 unplugged
    EXPECT_EQ(manager->get_wlan_state(), 0x0211);
}

// The input thread enables clock 0 on the word that is also FPGA 0's reset while the manager
// resets the FPGA: the reset lasts until the manager lets it go, and the word ends high.
TEST_F(FpgaBringUp, TheClockEnableNeverCutsShortAResetTheManagerHolds)
{
    auto held = [this] {
        std::lock_guard<std::mutex> hold(manager->line_mutex);
        return sim::FpgaModel::inReset(0);
    };
    ASSERT_FALSE(held());                  // and the board's pull-ups are on the lines
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread input([&] {
        for (; !stop; ++rounds)
            world->source->clock_state[0] = 1, world->source->s5p210_setup(0);
    });
    // Each look comes after the input thread enabled the clock twice since the last step.
    auto look = [&] {
        for (const int from = rounds; rounds < from + 2;)
            std::this_thread::yield();
        return held();
    };
    int i = 0;
    for (; i < 100 && (manager->reset_fpga_rst(0), look()); ++i) {
        G_timeTicks += 51;
        manager->check_fpga_rst();
        if (look())
            break;
    }
    stop = true;
    input.join();
    EXPECT_EQ(i, 100) << "reset " << i << (held() ? " not let go" : " cut short by the clock's enable");
}
