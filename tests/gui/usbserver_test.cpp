// USB hot-plug: kernel event headers to the codes 100/101/102, the storage wait, the 10 s
// gate of the tick, the settings menu giving way to the main menu; and the ageing log.

#include "board/sim/Sim.h"
#include "fpga/fpga_manage.h"
#include "gui/option.h"
#include "gui/usbserver.h"
#include "tests/gui/screen_fixture.h"
#include "tests/support/TickDriver.h"

#include <QRegularExpression>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace screen_test;

namespace {

const std::string kDisk = "/devices/platform/soc/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda";

struct UsbWatch : ScreenTest {
    void SetUp() override
    {
        ScreenTest::SetUp();
        ASSERT_EQ(server.open_socket(), 0);
        server.poll_timeout_ms = 0;
        QObject::connect(&server, &UsbServer::sig_usb_update, [this](int code) { codes.push_back(code); });
        G_timeTicks = 5000;
    }
    void storageAppears()
    {
        std::filesystem::create_directories(root.host("/proc/scsi"));
        std::ofstream(root.host("/proc/scsi/usb-storage")) << "";
    }
    UsbServer server;
    std::vector<int> codes;
};

} // namespace

TEST(UsbHeaders, AddRemoveAndTheFirstDisksPartitions)
{
    const std::string sda1 = kDisk + "/sda1";
    const struct {
        std::string header;
        int code;
        bool storage;
    } cases[] = {
        {"add@" + sda1, 100, true}, {"add@" + kDisk + "/sda9", 100, true},
        // Only a decimal partition number of 0 to 9 is the stick's storage.
        {"add@" + kDisk + "/sdax", 100, false}, {"add@" + kDisk + "/sda-1", 100, false},
        {"add@" + kDisk + "/sda12x", 100, false}, {"add@" + kDisk + "/sda999999", 100, false},
        {"add@" + kDisk + "/sda10", 100, false}, {"add@" + kDisk, 100, false},   // the whole disk
        {"add@/devices/x/block/sdb/sdb1", 100, false}, {"add@/devices/platform/soc/usb1/1-1/1-1:1.0", 100, false},
        {"remove@" + sda1, 101, false}, {"change@" + sda1, 0, false}, {"move@" + sda1, 0, false},
        {"bind@" + sda1, 0, false}, {"unbind@" + sda1, 0, false}, {"online@" + sda1, 0, false},
        {"offline@" + sda1, 0, false},
        // Malformed and truncated headers; the action alone.
        {"", 0, false}, {"add@", 100, false}, {"add@/block/sda", 100, false}, {"add@/block", 100, false},
        {"/devices/block/sda/sda1", 0, false},
    };
    for (const auto& c : cases) {
        int code = -1;
        bool storage = !c.storage;
        UsbServer::parse_header(c.header, code, storage);
        EXPECT_EQ(std::make_pair(code, storage), std::make_pair(c.code, c.storage)) << c.header;
    }
}

TEST_F(UsbWatch, APartitionGivesAddedAtOnceAndReadyThreeSecondsAfterTheStorageDriver)
{
    ASSERT_TRUE(sim::UeventModel::inject("add", kDisk + "/sda1"));
    EXPECT_EQ(server.recvData(), 0);
    // The codes after each step: a removal meanwhile waits in the socket until the step is over.
    std::vector<std::vector<int>> seen;
    auto step = [&](uint32_t ticks) {
        G_timeTicks += ticks;
        server.usb_pass();
        kel_test::settle();
        seen.push_back(codes);
    };
    kel_test::settle();
    seen.push_back(codes);
    ASSERT_TRUE(sim::UeventModel::inject("remove", kDisk + "/sda1"));
    step(1000);                                 // no storage driver yet
    storageAppears();
    server.usb_pass();                          // the driver is there: 3 s from now
    for (uint32_t ticks : {300, 1, 0})
        step(ticks);
    EXPECT_EQ(seen, (std::vector<std::vector<int>>{{100}, {100}, {100}, {100, 102}, {100, 102, 101}}));
}

TEST_F(UsbWatch, AFloodOfEventsReachesTheGuiAsOneNotificationOfTheLatestState)
{
    // Tens of thousands of events before the GUI thread runs: one hand-over is pending, and
    // it carries each code once, an add or remove only as the latest of them.
    for (int i = 0; i < 20000; ++i)
        server.usb_signal(i % 2 ? 101 : 100);
    server.usb_signal(102);
    server.usb_signal(100);
    kel_test::settle();
    const std::vector<int> afterFlood = codes;
    server.usb_signal(101);
    kel_test::settle();
    EXPECT_EQ(std::make_pair(afterFlood, codes), std::make_pair(std::vector<int>{102, 100}, std::vector<int>{102, 100, 101}));
}

TEST_F(UsbWatch, TheStorageWaitGivesUpAndTheWatcherGoesOn)
{
    ASSERT_TRUE(sim::UeventModel::inject("add", kDisk + "/sda1"));
    server.recvData();
    kel_test::settle();
    G_timeTicks += UsbServer::kProbeGiveUpTicks + 1;
    server.usb_pass();
    storageAppears();
    G_timeTicks += 1000;
    server.usb_pass();
    ASSERT_TRUE(sim::UeventModel::inject("add", kDisk));
    server.usb_pass();
    kel_test::settle();
    EXPECT_EQ(codes, (std::vector<int>{100, 100}));
}

TEST_F(UsbWatch, AReadyStickClosesTheSettingsMenuOnlyWhenItIsShown)
{
    storageAppears();
    for (int page : {5, 6}) {
        Option* o = new Option(nullptr);
        g_option = o;
        o->show();
        g_page_focus = page;
        ASSERT_TRUE(sim::UeventModel::inject("add", kDisk + "/sda1"));
        server.recvData();
        server.usb_pass();
        G_timeTicks += 301;
        server.usb_pass();
        kel_test::settle();
        // Shown (page 5): closed, back on the main menu; otherwise left open.
        EXPECT_EQ((std::vector<int>{codes.back(), g_option == (page == 5 ? nullptr : o), g_page_focus}), (std::vector<int>{102, 1, page == 5 ? 1 : 6}));
        if (page == 6)
            Option::close_menu();
        codes.clear();
    }
}

using AgeingLog = ScreenTest;

TEST_F(AgeingLog, RecordsRegisterStepsAndKeepsSevenDays)
{
    fpga_manage manager;
    fpga_manage::p_fpga_manage = &manager;
    ASSERT_EQ(manager.initialize(), 0);
    factoryage_log.clear();
    factoryage_log_diff3 = factoryage_log_diff5 = factoryage_log_diff10 = factoryage_log_diff20 = factoryage_log_diffmore = 0;
    MainWindow* w = g_mainwindow;
    auto sample = [&](uint8_t r42) {
        sim::FpgaModel::setReg(0, 40, 0);
        sim::FpgaModel::setReg(0, 42, r42);
        sim::FpgaModel::setReg(0, 43, 2);
        w->getagelog();
    };
    sample(17);
    ASSERT_EQ(factoryage_log.size(), 1);
    EXPECT_TRUE(QRegularExpression("^\\d\\d-\\d\\d \\d\\d:\\d\\d 17 0 2$").match(factoryage_log[0]).hasMatch())
        << factoryage_log[0].toStdString();
    // Steps 0 (unchanged: nothing counted), 2, 4, 227, 9 (wrapping) and 12.
    for (uint8_t r42 : {17, 19, 23, 250, 3, 15})
        sample(r42);
    EXPECT_EQ((std::vector<int>{factoryage_log_diff3, factoryage_log_diff5, factoryage_log_diff10, factoryage_log_diff20,
                                factoryage_log_diffmore}),
              
              std::vector<int>(5, 1));
    for (int i = 0; i < 3360 - 7; ++i)
        sample(15);
    // Full at 3360: each new sample drops the oldest (the second sample was also 17).
    std::vector<std::pair<int, bool>> firsts;
    for (const char* first : {" 17 0 2", " 17 0 2", " 19 0 2"}) {
        firsts.emplace_back(factoryage_log.size(), factoryage_log.first().endsWith(first));
        sample(15);
    }
    EXPECT_EQ(firsts, (std::vector<std::pair<int, bool>>(3, {3360, true})));

    // The link threads refresh the register shadow while the tick samples it (the
    // thread-checked stage runs this).
    std::atomic<bool> done{false};
    std::thread link([&] {
        while (!done)
            manager.read_from_register(42, 0);
    });
    for (int i = 0; i < 200; ++i)
        w->getagelog();
    done = true;
    link.join();
    EXPECT_TRUE(factoryage_log.last().endsWith(" 15 0 2"));

    // The tick polls 18,000 ticks after its stamp; a poll during a PC command is skipped and
    // not retried before the next 3-minute mark.
    fpga_manage::MCU_REG_func[0][80] = 3;   // FPGA 0 up
    manager.link_stage[0] = 7;
    manager.check_step[0] = 16;
    factoryage_log.clear();
    G_factoryage_ticks = G_timeTicks.load();
    std::vector<int> sizes;
    for (const auto& [ticks, pc] : {std::pair{17999, 0}, {1, 0}, {18000, 1}, {17999, 0}, {1, 0}}) {
        pc_cmd_valid = uint8_t(pc);
        kel_test::tick(ticks);
        sizes.push_back(factoryage_log.size());
    }
    pc_cmd_valid = 0;
    EXPECT_EQ(sizes, (std::vector<int>{0, 1, 1, 1, 2}));
    fpga_manage::p_fpga_manage = nullptr;
}
