// Each command answers what happened: a setting the next start would not have, mode files
// left behind, an id never read, a restart over an upload, an image waiting after a restart,
// a gateway no router answers on, a port that refuses, a reply no datagram carries.
#include "tests/protocol/handler_fixture.h"

#include "board/Network.h"
#include "board/sim/Journal.h"
#include "board/sim/PowerCut.h"
#include "core/config_engine.h"
#include "core/kel_file_deal.h"
#include "tests/protocol/file_frames.h"

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

// The finish installs only a stored image, never over an upload of one the device starts
// from, and after a restart the image waiting on the disc.
TEST_F(PcAnswers, FinishInstallsTheWaitingImageAndNeverRestartsOverAnUpload)
{
    message_deal other{message_deal::REPLY_LIMIT_TCP};
    other.peer = 7;
    const Bytes finish = {14, 0x01, 0, 0x01};
    for (const char* name : {"FKRN", "LOGO", "FMCU"}) {
        ASSERT_EQ(reply(deal(req(0xC0, fileframes::start(name, 0, 4096)), other))[0], 0) << name;
        EXPECT_EQ(reply(deal(req(0xA0, finish))), Bytes{1}) << name;
        EXPECT_EQ(int(g_app_reset_flag), 0) << name;
        FileBufOwner::reset();
        g_kel_file_deal_para = KelFileDeal{};
    }
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
