// Each command answers what happened: a setting the next start would not have, mode files
// left behind, an id never read, a restart over an upload, an image waiting after a restart,
// a gateway no router answers on, a port that refuses, a reply no datagram carries.
#include "tests/protocol/handler_fixture.h"

#include "board/Network.h"
#include "board/sim/Journal.h"
#include "board/sim/MtdModel.h"
#include "board/sim/PowerCut.h"
#include "core/config_engine.h"
#include "core/kel_file_deal.h"
#include "gui/mainwindow.h"
#include "gui/syncupdate.h"
#include "tests/protocol/file_frames.h"
#include "tests/support/TickDriver.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace {

using handler_test::Bytes;
namespace fs = std::filesystem;

class PcAnswers : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        ConfigEngine::pInstance();
        FileBufOwner::reset();
        g_app_reset_flag = 0;
    }
    void TearDown() override
    {
        sim::PowerCut::restore();
        FileBufOwner::reset();
        g_kel_file_deal_para = KelFileDeal{};
        g_app_reset_flag = 0;
        delete ConfigEngine::p_config;
        HandlerFixture::TearDown();
    }
};

// Nothing restarts over an image being stored (a partition half erased or written, a program's
// upload under way): another PC's reboot and finish are refused, the reboots raised for the
// tick wait for the image, and once one went no image upload starts until it lapses.
TEST_F(PcAnswers, ARebootWaitsForTheImageBeingWritten)
{
    std::unique_ptr<MainWindow> window(g_mainwindow = new MainWindow(nullptr));   // the tick
    message_deal other{message_deal::REPLY_LIMIT_TCP};
    const auto send = [](message_deal& h, const pc::Frame& f) {   // a buffer of its own: any thread
        Bytes b = pc::encode(f), frame = b;
        return b.resize(message_deal::FRAME_BUF_SIZE, 0), h.message_group_deal(b.data(), unsigned(frame.size() - 1), 5) > 0 ? int(b[10]) : -1;
    };
    const std::vector<std::tuple<std::string, std::function<int()>, int, int>> asks = {   // answered, restarts
        {"reboot", [&] { return send(md, pc::writeRegister(14, 2, 2)); }, 1, 0},
        {"finish", [&] { return root.writeFile("/data/app/kelM57N2", "p"), send(md, pc::writeRegister(14, 1, 1)); }, 1, 0},
        {"0xA1 bit 0", [&] { return send(md, pc::writeRegister(0xA1, 1, 1)); }, 0, 1},
        {"TCP port", [&] { return send(md, req(0xA4, {1, 0, 0, 0, 10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0x70, 0x17})); }, 0, 1},
        {"panel's network defaults", [] { return g_port = 6000, SyncUpdate::pInstance()->para_sync(3), -1; }, -1, 1}};
    const Bytes image(8192, 0x5A);
    using Step = sim::MtdModel::Step;
    for (const auto& [name, partition, kind, count] : std::vector<std::tuple<std::string, std::string, Step, int>>{
             {"FKRN", "/dev/mtd10", Step::Erase, 3}, {"FKRN", "/dev/mtd10", Step::Write, 40}, {"LOGO", "/dev/mtd8", Step::Erase, 2}, {"LOGO", "/dev/mtd8", Step::Write, 40}, {"FMCU", "", Step::Write, 0}})
        for (const auto& [asked, ask, answer, restarts] : asks) {
            g_port = 5005, sim::Journal::clear(), FileBufOwner::reset();
            int ended = send(other, req(0xC0, fileframes::start(name, 0, 8192))) + send(other, req(0xC0, fileframes::block(0, image, 0, 8192)));
            const auto end = [&, other = &other] { ended += send(*other, req(0xC0, fileframes::end(fileframes::md5Of(image)))), sim::MtdModel::resume(); };
            // The PC's end stops at the armed erase or write of its partition.
            std::thread storing = partition.empty() ? std::thread() : (sim::MtdModel::pauseAt(partition, kind, count), std::thread(end));
            std::vector<int> seen = {partition.empty() || sim::MtdModel::waitPaused(), ask()};
            kel_test::tick(400), seen.push_back(sim::Journal::hasShell("reboot")), sim::MtdModel::resume();
            partition.empty() ? end() : storing.join();
            Bytes stored(image.size());
            std::ifstream(root.host(partition.empty() ? "/data/app/kelM57N2" : partition + ".bin")).seekg(name == "LOGO" ? 372 : 0).read(reinterpret_cast<char*>(stored.data()), 8192);
            kel_test::tick(400), seen.push_back(sim::Journal::hasShell("reboot")), seen.push_back(send(md, req(0xC0, fileframes::start("FKRN", 0, 4096))));
            G_timeTicks += MainWindow::kRebootGoneTicks, kel_test::tick(1);   // the reboot did not happen: all as before
            seen.insert(seen.end(), {send(md, req(0xC0, fileframes::start("LOGO", 0, 4096))), ended, stored == image});
            EXPECT_EQ(seen, (std::vector<int>{1, answer, 0, restarts, restarts, 0, 0, 1})) << name << " stopped at " << count << ": " << asked;
        }
    g_mainwindow = nullptr;
    sim::Journal::clear(), FileBufOwner::reset();   // nothing under way: at once; refused by the system, it holds no upload back
    EXPECT_EQ((std::vector<int>{send(md, pc::writeRegister(14, 2, 2)), sim::Journal::hasShell("reboot"), (sim::Journal::setShellStatus("reboot", 256), send(md, pc::writeRegister(14, 2, 2))),
                                send(md, req(0xC0, fileframes::start("FKRN", 0, 4096)))}), (std::vector<int>{0, 1, 1, 0}));
}

// The finish installs only a stored image (a restart over an upload: ARebootWaitsForTheImageBeingWritten),
// and after a restart the image waiting on the disc.
TEST_F(PcAnswers, FinishInstallsTheWaitingImage)
{
    const Bytes finish = {14, 0x01, 0, 0x01};
    // After a restart (nothing in memory) the verified image waiting is installed.
    root.writeFile("/data/app/kelM57N2", "new program");
    EXPECT_EQ(reply(deal(req(0xA0, finish))), Bytes{0});
    EXPECT_EQ(int(g_app_reset_flag), 2);
    EXPECT_EQ(std::make_pair(root.readFile("/data/app/kelM57N"), root.exists("/data/app/kelM57N2")), std::make_pair(std::string("new program"), false));
    // A second image finished while the first one's restart is pending is installed too (its
    // transfer's end marks it verified).
    root.writeFile("/data/app/kelM57N2", "newer program"), g_kel_file_deal_para.app_image_ready = true;
    EXPECT_EQ(reply(deal(req(0xA0, finish))), Bytes{0});
    EXPECT_EQ(std::make_tuple(root.readFile("/data/app/kelM57N"), root.exists("/data/app/kelM57N2"), int(g_app_reset_flag)), std::make_tuple(std::string("newer program"), false, 2));
    // The program ran on (the simulated board's reboot): nothing waits, nothing installed.
    g_app_reset_flag = 0;
    EXPECT_EQ(reply(deal(req(0xA0, finish))), Bytes{1});
    EXPECT_EQ(int(g_app_reset_flag), 0);
}

// A barcode whose reply no datagram carries is refused; over TCP it is answered. The network
// read's listening port and the rest of group 0xA4: the handler model check (PcHandlers).
TEST_F(PcAnswers, ABarcodeNoDatagramCarriesIsRefused)
{
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_str_barcode = QString(30000, QChar(0xA5));
    }
    EXPECT_EQ(reply(deal(req(0xA2, {0x1F}))), (Bytes{1, 31}));
    message_deal tcp{message_deal::REPLY_LIMIT_TCP};
    EXPECT_EQ(deal(req(0xA2, {0x1F}), tcp), 60004);
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    g_str_barcode = "";
}

// A MAC set whose interface restart takes its time, while another PC sets a new address (its
// settings and globals are taken before it reaches the shell): what the MAC set brings up
// after its restart is the new address, never the one it read before.
TEST_F(PcAnswers, AnAddressSetDuringAMacRestartIsTheOneTheInterfaceKeeps)
{
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_str_ip = "192.168.0.50", g_srt_mask = "255.255.255.0", g_str_gateway = "192.168.0.1";
    }
    g_port = 5005;
    message_deal other{message_deal::REPLY_LIMIT_TCP};
    Bytes otherBuf(message_deal::FRAME_BUF_SIZE, 0), request = pc::encode(req(0xA4, {1, 0, 0, 0, 10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1, 0x8D, 0x13}));
    std::copy(request.begin(), request.end(), otherBuf.begin());
    std::thread setter;
    size_t from = 0;
    sim::Journal::clear();
    sim::Journal::holdShell("ifdown eth0", [&] {
        setter = std::thread([&] { static_cast<void>(other.message_group_deal(otherBuf.data(), unsigned(request.size() - 1), 5)); });
        // The other PC's address is in the device's globals before it reaches the shell.
        for (;;) {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            if (g_str_ip == "10.1.2.3")
                break;
        }
        from = sim::Journal::shellCommands().size();
    });
    EXPECT_EQ(reply(deal(req(0xA4, {0, 0, 0, 0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}))), (Bytes{0, 0}));
    setter.join();
    EXPECT_EQ(otherBuf[10], 0);
    const std::vector<std::string> commands = sim::Journal::shellCommands();
    int brought = 0;
    for (size_t k = from; k < commands.size(); ++k)
        if (commands[k].rfind("ifconfig eth0 ", 0) == 0 && std::isdigit(static_cast<unsigned char>(commands[k][14]))) {
            EXPECT_EQ(commands[k].rfind("ifconfig eth0 10.1.2.3 netmask 255.255.0.0", 0), 0u) << commands[k];
            ++brought;
        }
    EXPECT_EQ(brought, 2);   // the MAC set's and the address set's
}

} // namespace
