#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <filesystem>
#include <QProcess>
#include <QThread>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {
std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every name under the root with its size and time, but what the running program goes on
// writing: its journal and its devices' own storage (the FPGA flash's running-time log).
std::string tree(const std::string& root)
{
    std::string t;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.path().string().rfind(root + "/sim", 0) != 0)
            t += e.path().string() + " " + std::to_string(e.is_regular_file() ? fs::file_size(e.path()) : 0) + " " +
                 std::to_string(fs::last_write_time(e.path()).time_since_epoch().count()) + "\n";
    return t;
}

// A program (the controller unless named) started in the host's environment with the given
// changes: its exit status and output, or -1 when it had not stopped at its start-up's end.
std::pair<int, std::string> runBeside(kel_test::HostApp& host, const std::map<QString, QString>& changes = {},
                                      const QString& program = "/kelM57N", const QStringList& args = {})
{
    QProcess p;
    QProcessEnvironment env = host.app.processEnvironment();
    for (const auto& [key, value] : changes)
        env.insert(key, value);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString(KEL_BINARY_DIR) + program, args);
    std::string out;
    for (int waited = 0; !p.waitForFinished(200) && waited < 100 && out.find("start-up done") == std::string::npos; ++waited)
        out += p.readAll().toStdString();
    const bool ended = p.state() == QProcess::NotRunning;
    p.kill();
    p.waitForFinished(5000);
    return {ended ? p.exitCode() : -1, out + p.readAll().toStdString()};
}
} // namespace

// The application started on the simulated board with an empty data root: it runs its
// start-up, keeps what it writes under that root, and sends system actions to the journal;
// it is the only program on its root, and says when the root's /data cannot be written.
TEST(HostRun, StartsOnTheSimulatedBoardAndStaysInsideItsRoot)
{
    KEL_SKIP_UNDER_EMULATION();
    kel_test::HostApp host;
    ASSERT_TRUE(host.root.isValid());
    const std::string dir = host.root.path().toStdString(), root = dir + "/root", marker = dir + "/before";
    std::ofstream(marker) << "x";
    const auto before = fs::last_write_time(marker);

    // Staging files and save temporaries a kill left go at start; a package of the PC's stays.
    const std::string left[] = {"/data/app/.kelM57N2.part", "/data/modes/MO01.json.tmp", "/data/rcvrecovery/p.tmp"};
    host.prepare = [&left](const std::string& at) { for (const std::string& f : left) fs::create_directories(fs::path(at + f).parent_path()), std::ofstream(at + f) << "x"; };
    KEL_START_HOST(host);
    // It stays up answering a PC's RAM reads; the first window's input carries the default 1080p60 (once measured): a first run shows a picture.
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    pc::Bytes source, status;
    std::vector<int> shown{0, 0};
    for (int polls = 0; polls < 300 && shown[1] == 0; ++polls, QThread::msleep(100)) {
        ASSERT_TRUE(pc && pc->readRam(0x8E8, 2, source) == 0 && source[0] < 6 && pc->readRam(256 + 6 * source[0], 5, status) == 0);
        shown = {source[1], status[0] | status[1] << 8, status[2] | status[3] << 8, status[4]};
    }
    EXPECT_EQ(shown, (std::vector<int>{0, 1920, 1080, 60}));
    pc::Frame discovery{pc::kController, pc::kPc, 0, 0, 0, 0, 0, 0xA4, {0x10}}, found;   // a PC finds the device on its TCP port
    EXPECT_TRUE(pc->request(discovery, found) && found.data.size() > 194 && pc::get16(found.data.data() + 193) == 5005 + host.offset);
    EXPECT_EQ(host.app.state(), QProcess::Running);

    // pcclient sends a file of two blocks and reads it back on the --tcp and --udp ports the
    // offset moves, and says why a name or a file is refused; another root on the same ports
    // names every PC port it cannot open in one line (on ports shifted so that only UDP 13769
    // collides, that one), and a scenario flag outside 0/1 in the scenario's warning.
    const QString other = host.root.path() + "/other", tool = "/tools/pcclient/pcclient";
    const std::string alias = dir + "/other/alias.json", flag = dir + "/other/flag", aliasText = R"({"namelist":{"source":[{"id":1,"valid":"on","name":"Cam"}]}})" + std::string(20000, ' ');
    fs::create_directories(other.toStdString()), std::ofstream(alias) << aliasText, std::ofstream(flag) << "keypad.present=2\n";
    for (const auto& [args, result] : std::vector<std::pair<QStringList, std::pair<int, std::string>>>{
             {{"--tcp", "127.0.0.1:5005", "send-file", "ALIS", other + "/alias.json"}, {0, alias + " stored as ALIS\n"}},
             {{"--udp", "127.0.0.1:10005", "get-file", "ALIS", other + "/back"}, {0, "ALIS read into " + dir + "/other/back (" + std::to_string(aliasText.size()) + " bytes)\n"}},
             {{"send-file", "ALIX", other + "/flag"}, {1, flag + " not stored: the start was refused (status 1, result 2): ALIX is not a name the device stores: use ALIS, OSDS, MO01-MO10, FMCU, FKRN, LOGO, DIVU, KXFR or FBOT\n"}},
             {{"send-file", "ALIS", other + "/flag"}, {1, flag + " not stored (the end was answered with status 0, result 1): the device found it damaged on the way or not a file it can use (a JSON file it cannot read, say); the stored ALIS stays as it was\n"}}})
        EXPECT_EQ(runBeside(host, {}, tool, args), result) << args.join(' ').toStdString();
    EXPECT_EQ(slurp(dir + "/other/back"), aliasText);
    const std::string only13769 = runBeside(host, {{"KEL_ROOT", other}, {"KEL_PORT_OFFSET", QString::number(host.offset - 3764)}}).second;
    EXPECT_NE(only13769.find(" UDP " + std::to_string(host.offset + 10005) + " (Address already in use)"), std::string::npos) << only13769;
    const std::string busy = runBeside(host, {{"KEL_ROOT", other}, {"KEL_SCENARIO", other + "/flag"}}).second;
    std::string ports;
    for (const auto& [kind, port] : {std::pair{"TCP", 5005}, {"TCP", 10002}, {"UDP", 5008}, {"UDP", 10005}, {"UDP", 13769}})
        ports += std::string(ports.empty() ? "" : ", ") + kind + " " + std::to_string(port + host.offset) + " (Address already in use)";
    EXPECT_NE(busy.find("\nkelM57N: PC ports that cannot be opened: " + ports + "; no PC is served on them\n"), std::string::npos) << busy;
    EXPECT_NE(busy.find("kelM57N: " + dir + "/other/flag:1: keypad.present: not a flag; accepted: 0 or 1\n"), std::string::npos) << busy;

    // A second program on the same root stops at once with one line naming the root and the
    // first one's process, having written nothing.
    const std::string running = tree(root);
    EXPECT_EQ(runBeside(host), std::make_pair(1, "kelM57N: the data root " + root + " is in use by process " + std::to_string(host.app.processId()) + "; not starting\n"));
    EXPECT_EQ(tree(root), running);
    // A stopped program's serial peer files go with it: the pseudo-terminals they name are handed
    // to the next program that asks, and a PC tool following them would reach that one.
    EXPECT_TRUE(fs::exists(root + "/dev/ttyS2.peer") && fs::exists(root + "/dev/ttyS1.peer"));
    host.stop();
    EXPECT_FALSE(fs::exists(root + "/dev/ttyS2.peer") || fs::exists(root + "/dev/ttyS1.peer"));
    // So does one given a scenario file that is not there, or a port offset that is not a
    // number or moves a port past 65535, the root being free again.
    const std::string stopped = tree(root);
    for (const auto& [key, value, line] : {std::tuple<QString, QString, std::string>{"KEL_SCENARIO", host.root.path() + "/missing",
              "the scenario file " + dir + "/missing cannot be read: No such file or directory"}, {"KEL_SCENARIO", "gone",
              "the scenario file gone (" + fs::current_path().string() + "/gone) cannot be read: No such file or directory"}, {"KEL_PORT_OFFSET", "x12",
              "KEL_PORT_OFFSET=x12 is not a number; not starting"}, {"KEL_PORT_OFFSET", "52000", "KEL_PORT_OFFSET=52000 moves port 13769 to 65769, outside 1-65535; not starting"}})
        EXPECT_EQ(runBeside(host, {{key, value}}), std::make_pair(1, "kelM57N: " + line + "\n"));
    EXPECT_EQ(tree(root), stopped);
    EXPECT_TRUE(host.output.find("on the sim board") != std::string::npos && fs::is_directory(root));
    // System actions went to the journal under the root; nothing was executed.
    const std::string journal = slurp(root + "/sim-journal.log");
    // Nothing was written beside the root in the working directory.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_TRUE((std::set<fs::path>{"root", "before", "other"}.count(entry.path().filename()))) << entry.path();
    EXPECT_EQ(fs::last_write_time(marker), before);

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fs::exists(root + left[i]), i == 2) << left[i];
    // The settings and the parameter file were created under the root.
    EXPECT_TRUE(fs::is_regular_file(root + "/data/configs/tcpip.ini") && fs::is_regular_file(root + "/data/ram_device_info")
                && fs::file_size(root + "/data/ram_device_info") == 4096u);
    // eth0 was brought up with the default address, in the journal only and once: by the one
    // program that ran (the whole bring-up is compared in the settings tests).
    const std::string bringUp = "shell\tifconfig eth0 192.168.0.199 netmask 255.255.255.0 up\n";
    EXPECT_TRUE(journal.find(bringUp) != std::string::npos && journal.find(bringUp, journal.find(bringUp) + 1) == std::string::npos) << journal;

    // Started again on a root whose /data cannot be written: one line at the start says so,
    // and a save the PC asks for names the file it could not store and why.
    // (and a peer file a program killed outright left is replaced)
    host.prepare = [](const std::string& at) { fs::create_directories(at + "/dev"), std::ofstream(at + "/data") << "a file where the folder should be", std::ofstream(at + "/dev/ttyS2.peer") << "/dev/pts/stale\n"; };
    KEL_START_HOST(host);
    const std::string peer = slurp(root + "/dev/ttyS2.peer");
    EXPECT_TRUE(peer.rfind("/dev/pts/", 0) == 0 && peer != "/dev/pts/stale\n" && fs::exists(peer.substr(0, peer.size() - 1))) << peer;
    EXPECT_NE(host.output.find("kelM57N: /data (" + root + "/data) cannot be written: Not a directory (errno 20)"), std::string::npos) << host.output;
    host.output.clear();
    pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    // The apply is answered 1 (the next start would not have it), and the save still tried.
    ASSERT_TRUE(pc && pc->writeRam(0x880, {77}) == 0 && pc->writeRegister(11, 2, 2) == 1);
    EXPECT_TRUE(host.waitFor("kelM57N: cannot store /data/ram_device_info (" + root + "/data/ram_device_info): Not a directory (errno 20)", 60)) << host.outputSoFar();
}
