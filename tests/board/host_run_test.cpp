#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <filesystem>
#include <QProcess>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace fs = std::filesystem;

namespace {
std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

// The program started once more in the host's environment (and scenario): its exit status and
// output, or -1 when it had not stopped by itself long after a refusal would have.
std::pair<int, std::string> runBeside(kel_test::HostApp& host, const QString& scenario = QString())
{
    QProcess p;
    QProcessEnvironment env = host.app.processEnvironment();
    env.insert("KEL_SCENARIO", scenario);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString(KEL_BINARY_DIR) + "/kelM57N", QStringList());
    const bool ended = p.waitForFinished(20000);
    p.kill();
    p.waitForFinished(5000);
    return {ended ? p.exitCode() : -1, p.readAll().toStdString()};
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
    const std::string dir = host.root.path().toStdString();
    const std::string root = dir + "/root";
    const std::string marker = dir + "/before";
    std::ofstream(marker) << "x";
    const auto before = fs::last_write_time(marker);

    // Staging files and save temporaries a kill left go at start; a package of the PC's stays.
    const std::string left[] = {"/data/app/.kelM57N2.part", "/data/modes/MO01.json.tmp", "/data/rcvrecovery/p.tmp"};
    host.prepare = [&left](const std::string& at) {
        for (const std::string& f : left)
            fs::create_directories(fs::path(at + f).parent_path()), std::ofstream(at + f) << "x";
    };
    ASSERT_TRUE(host.start()) << host.output;
    // It stays up in its event loop: a PC's RAM read is answered after the start-up.
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    ASSERT_NE(pc, nullptr);
    pc::Bytes language;
    EXPECT_EQ((std::vector<int64_t>{pc->readRam(768, 1, language), long(language.size())}), (std::vector<int64_t>{0, 1}));
    EXPECT_EQ(host.app.state(), QProcess::Running);

    // A second program on the same root stops at once with one line naming the root and the
    // first one's process, having written nothing.
    const std::string running = tree(root);
    EXPECT_EQ(runBeside(host),
              std::make_pair(1, "kelM57N: the data root " + root + " is in use by process " +
                                    std::to_string(host.app.processId()) + "; not starting\n"));
    EXPECT_EQ(tree(root), running);
    host.stop();
    // So does one given a scenario file that is not there, the root being free again.
    const std::string stopped = tree(root);
    EXPECT_EQ(runBeside(host, host.root.path() + "/missing"),
              std::make_pair(1, "kelM57N: the scenario file " + dir + "/missing cannot be read: No such file or directory\n"));
    EXPECT_EQ(tree(root), stopped);
    const std::string& output = host.output;

    EXPECT_NE(output.find("on the sim board"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(root));
    // System actions went to the journal under the root; nothing was executed.
    const std::string journal = slurp(root + "/sim-journal.log");
    // Nothing was written beside the root in the working directory.
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "root" || name == "before") << name;
    }
    EXPECT_EQ(fs::last_write_time(marker), before);

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fs::exists(root + left[i]), i == 2) << left[i];
    // The settings and the parameter file were created under the root.
    EXPECT_TRUE(fs::is_regular_file(root + "/data/configs/tcpip.ini"));
    EXPECT_TRUE(fs::is_regular_file(root + "/data/ram_device_info"));
    EXPECT_EQ(fs::file_size(root + "/data/ram_device_info"), 4096u);
    // eth0 was brought up with the default address, in the journal only and once: by the one
    // program that ran (the whole bring-up is compared in the settings tests).
    const std::string bringUp = "shell\tifconfig eth0 192.168.0.199 netmask 255.255.255.0 up\n";
    EXPECT_NE(journal.find(bringUp), std::string::npos) << journal;
    EXPECT_EQ(journal.find(bringUp, journal.find(bringUp) + 1), std::string::npos) << journal;

    // Started again on a root whose /data cannot be written: one line at the start says so,
    // and a save the PC asks for names the file it could not store and why.
    host.prepare = [](const std::string& dataRoot) {
        fs::create_directories(dataRoot);
        std::ofstream(dataRoot + "/data") << "a file where the folder should be";
    };
    ASSERT_TRUE(host.start()) << host.output;
    EXPECT_NE(host.output.find("kelM57N: /data (" + root + "/data) cannot be written: Not a directory (errno 20)"),
              std::string::npos) << host.output;
    host.output.clear();
    pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    ASSERT_NE(pc, nullptr);
    ASSERT_EQ(pc->writeRam(0x880, {77}), 0);
    ASSERT_EQ(pc->writeRegister(11, 2, 2), 0);
    EXPECT_TRUE(host.waitFor("cannot store /data/ram_device_info (" + root + "/data/ram_device_info): Not a directory (errno 20)", 60))
        << host.outputSoFar();
}
