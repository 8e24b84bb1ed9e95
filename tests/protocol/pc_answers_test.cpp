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
    void folderAt(const std::string& path) { fs::remove_all(root.host(path)), root.writeFile(path + "/x", "x"); }
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

// The table of commands (protocol/commands.md) against the handler itself: every group,
// sub-command and register the handler answers is listed, and every test the table names
// exists.
TEST_F(PcAnswers, EveryCommandTheHandlerTakesIsListed)
{
    std::ifstream in(std::string(KEL_SOURCE_DIR) + "/protocol/commands.md");
    std::map<int, std::set<std::string>> listed;   // group: its sub column's entries
    std::set<std::string> named;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::stringstream row(line);
        for (std::string cell; std::getline(row, cell, '|');)
            cells.push_back(QString::fromStdString(cell).trimmed().toStdString());
        if (cells.size() < 7 || cells[1].rfind("0x", 0) != 0)
            continue;
        listed[std::stoi(cells[1], nullptr, 16)].insert(cells[2]);
        named.insert(cells[6]);
    }
    ASSERT_GT(listed.size(), 20u);
    // Every test named is one of the tests.
    std::string sources;
    for (const auto& f : fs::recursive_directory_iterator(std::string(KEL_SOURCE_DIR) + "/tests"))
        if (f.path().extension() == ".cpp")
            sources += (std::stringstream() << std::ifstream(f.path()).rdbuf()).str();
    for (const std::string& test : named) {
        const size_t dot = test.find('.');
        ASSERT_NE(dot, std::string::npos) << test;
        EXPECT_TRUE(std::regex_search(sources, std::regex("TEST(_F)?\\(" + test.substr(0, dot) + ", " + test.substr(dot + 1) + "\\)"))) << test;
    }
    const auto hex = [](int v) { return QString::asprintf("0x%02X", v).toStdString(); };
    // Many thousands of requests: the buffer is not cleared between them, only the frame laid in.
    const auto probe = [&](const pc::Frame& f) {
        const Bytes plain = pc::encode(f);
        std::copy(plain.begin(), plain.end(), buf.begin());
        return md.message_group_deal(buf.data(), unsigned(plain.size() - 1), 5);
    };
    for (int g = 0; g < 256; ++g) {
        const std::set<std::string> subs = listed.count(g) ? listed[g] : std::set<std::string>{};
        if (subs.count("-") || subs.count("any")) {
            for (uint16_t dest : {pc::kController, uint16_t(0x0001)})
                EXPECT_GE(probe(req(uint8_t(g), Bytes(24, 0), dest)), 0);   // any request of it is one of its rows
            continue;
        }
        for (int sub = 0; sub < 256; ++sub)
            for (uint16_t dest : {pc::kController, uint16_t(0x0001)}) {
                Bytes data(24, 0);
                data[0] = uint8_t(sub);
                const int r = probe(req(uint8_t(g), data, dest));
                if (r <= 0)
                    continue;
                if (g == 0xA0) {
                    // A register write answers every register; one that acts answers 0 to a
                    // write with no bit in its mask, the others 1.
                    const bool acts = dest == pc::kController && buf[10] == 0;
                    const std::string reg = sub >= 0xA0 ? "R" + hex(sub) : "R" + std::to_string(sub);
                    EXPECT_TRUE(dest != pc::kController ? subs.count("R any") > 0 : acts ? subs.count(reg) > 0 : subs.count("R other") > 0)
                        << "register " << reg << " is answered but not listed";
                    continue;
                }
                EXPECT_TRUE(subs.count(hex(sub))) << "group " << hex(g) << " sub-command " << hex(sub) << " to " << dest << " is answered but not listed";
            }
    }
}

} // namespace
