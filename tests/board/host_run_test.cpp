#include "tests/support/Emulation.h"
#include "tests/support/HostApp.h"
#include "tests/support/PcClient.h"

#include <filesystem>
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
} // namespace

// The application started on the simulated board with an empty data root: it runs its
// start-up, keeps what it writes under that root, and sends system actions to the journal.
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

    ASSERT_TRUE(host.start()) << host.output;
    // It stays up in its event loop: a PC's RAM read is answered after the start-up.
    auto pc = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + host.offset));
    ASSERT_NE(pc, nullptr);
    pc::Bytes language;
    EXPECT_EQ(pc->readRam(768, 1, language), 0);
    EXPECT_EQ(language.size(), 1u);
    EXPECT_EQ(host.app.state(), QProcess::Running);
    host.stop();
    const std::string& output = host.output;

    EXPECT_NE(output.find("on the sim board"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(root));
    // System actions went to the journal under the root; nothing was executed.
    const std::string journal = slurp(root + "/sim-journal.log");
    for (const auto& entry : fs::recursive_directory_iterator(root))
        EXPECT_EQ(entry.path().string().rfind(root, 0), 0u);
    // Nothing was written beside the root in the working directory.
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "root" || name == "before") << name;
    }
    EXPECT_EQ(fs::last_write_time(marker), before);

    // The settings and the parameter file were created under the root.
    EXPECT_TRUE(fs::is_regular_file(root + "/data/configs/tcpip.ini"));
    EXPECT_TRUE(fs::is_regular_file(root + "/data/ram_device_info"));
    EXPECT_EQ(fs::file_size(root + "/data/ram_device_info"), 4096u);
    // eth0 was brought up with the default address, in the journal only (the whole bring-up
    // is compared in the settings tests).
    EXPECT_NE(journal.find("shell\tifconfig eth0 192.168.0.199 netmask 255.255.255.0 up\n"), std::string::npos)
        << journal;
}
