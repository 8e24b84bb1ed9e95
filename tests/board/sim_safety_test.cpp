// What keeps a host run safe and lean: nothing reaches outside the data root, files
// written from two threads stay whole, logs stay off when recording is off, and the flash
// model keeps to the part's rules at its edges.
#include "board/Files.h"
#include "board/Keypad.h"
#include "board/SerialPort.h"
#include "board/Shell.h"
#include "board/SpiDevice.h"
#include "board/sim/Sim.h"
#include "board/sim/spi/SparseMemory.h"
#include "tests/support/TestRoot.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;

namespace {
bool under(const std::string& path, const std::string& root)
{
    return path.compare(0, root.size() + 1, root + "/") == 0;
}

// One SPI message on a chip select of the simulated bus.
void spi(int fd, const std::vector<uint8_t>& tx)
{
    board::SpiTransfer t;
    t.tx = tx.data();
    t.length = uint32_t(tx.size());
    ASSERT_EQ(board::SpiDevice::transfer(fd, &t, 1), int(tx.size()));
}
} // namespace

TEST(SimFilesSafety, SymbolicLinksOutOfTheRootAreNotFollowedAndCopiedAsLinks)
{
    kel_test::TestRoot root;
    const std::string outside = root.path() + "-outside";
    fs::create_directories(outside);
    std::ofstream(outside + "/secret") << "host file";
    fs::create_directories(root.host("/data"));
    fs::create_directory_symlink(outside, root.host("/data/away"));
    fs::create_symlink(outside + "/secret", root.host("/data/secret"));
    fs::create_symlink(outside + "/new", root.host("/data/dangling"));
    fs::create_directories(root.host("/data/real"));
    fs::create_directory_symlink(root.host("/data/real"), root.host("/data/inside"));

    for (const char* path : {"/data/away/secret", "/data/away/made", "/data/secret", "/data/dangling"}) {
        const std::string mapped = board::Files::map(path);
        EXPECT_TRUE(under(mapped, root.path())) << path << " -> " << mapped;
        std::ifstream in(mapped);
        EXPECT_FALSE(in.is_open()) << path;
        std::ofstream out(mapped, std::ios::app);
        EXPECT_FALSE(out.is_open()) << path;
    }
    // Writing, making and removing through the link are refused; outside nothing appears
    // and nothing goes.
    EXPECT_EQ((std::vector<bool>{board::Files::writeAtomically("/data/away/made", "x", 1), board::Files::makeDirs("/data/away/dir"),
                                 board::Files::remove("/data/away/secret"), fs::exists(outside + "/made"), fs::exists(outside + "/new"),
                                 fs::exists(outside + "/dir"), fs::exists(outside + "/secret")}),
              (std::vector<bool>{false, false, false, false, false, false, true}));

    // A link that stays inside the root is an ordinary path.
    ASSERT_TRUE(board::Files::writeAtomically("/data/inside/file", "ok", 2));
    EXPECT_EQ(root.readFile("/data/real/file"), "ok");

    // A copied folder keeps its links as links.
    root.writeFile("/mnt/usb1/pack/plain", "stick");
    fs::create_symlink(outside + "/secret", root.host("/mnt/usb1/pack/secret"));
    ASSERT_TRUE(board::Files::copy("/mnt/usb1/pack", "/data/pack"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(root.path() + "/data/pack/secret")));
    EXPECT_EQ((std::vector<std::string>{root.readFile("/data/pack/plain"), root.readFile("/data/pack/secret")}), (std::vector<std::string>{"stick", ""}));
    fs::remove_all(outside);
}

TEST(SimFilesSafety, TwoThreadsSavingOneFileLeaveOneWholeVersion)
{
    kel_test::TestRoot root;
    constexpr size_t kSize = 64 * 1024;
    const std::vector<uint8_t> a(kSize, 0xAA), b(kSize, 0xBB);
    std::atomic<int> failures{0};
    auto writer = [&](const std::vector<uint8_t>& content) {
        for (int i = 0; i < 150; ++i)
            if (!board::Files::writeAtomically("/data/ram_device_info", content.data(), content.size()))
                ++failures;
    };
    std::thread t1(writer, std::cref(a));
    std::thread t2(writer, std::cref(b));
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 0);
    const std::string file = root.readFile("/data/ram_device_info");
    ASSERT_EQ(file.size(), kSize);
    EXPECT_TRUE(file == std::string(a.begin(), a.end()) || file == std::string(b.begin(), b.end()));
    // No temporary left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(root.host("/data")), fs::directory_iterator()), 1);
}

TEST(SimFlashFidelity, AProgramLongerThanAPageKeepsItsLastBytesWhereTheAddressWrapped)
{
    kel_test::TestRoot root;
    int fd = board::SpiDevice::open("/dev/spidev32766.3");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(board::SpiDevice::configure(fd, 3, 8, 10000000), 0);
    std::vector<uint8_t> program{0x02, 0x00, 0x01, 0x10};   // page 0x100, offset 0x10
    for (int k = 0; k < 300; ++k)
        program.push_back(uint8_t(k / 2));
    // Its own select alone does not reach the flash: FPGA 0 must be selected, FPGA 1 idle.
    sim::SocModel::write16(0x207860, 0);
    for (const auto& [fpga0, fpga1, programs] : {std::tuple{16, 16, 0u}, {0, 0, 0u}, {0, 16, 1u}}) {
        sim::SocModel::write16(0x207810, uint16_t(fpga0));
        sim::SocModel::write16(0x207900, uint16_t(fpga1));
        spi(fd, {0x06});
        spi(fd, program);
        EXPECT_EQ(sim::FpgaFlashModel::programCount(0), programs);
    }
    // Byte k went to page offset (0x10 + k) mod 256; of the 300 only k = 44..299 stay.
    const auto page = sim::FpgaFlashModel::read(0, 0x100, 256);
    ASSERT_EQ(page.size(), 256u);
    for (int o = 0; o < 256; ++o) {
        int k = (o - 0x10) & 0xFF;
        if (k < 300 - 256)
            k += 256;
        EXPECT_EQ(page[size_t(o)], uint8_t(k / 2)) << "offset " << o;
    }
    EXPECT_EQ(sim::FpgaFlashModel::read(0, 0x200, 1), std::vector<uint8_t>{0xFF});   // next page untouched
    board::SpiDevice::close(fd);
}

// Whole pages filled in a row share runs; a page written, refilled or filled with another
// value inside a run still reads back as written, and a copy of a run is a run.
TEST(SimSparseMemory, RunsOfFilledPagesReadBackAsWritten)
{
    sim::SparseMemory m(0x00, uint64_t(1) << 32);
    m.fill(0x10000, 0xFF, 0x40000);                   // pages 16..79
    m.fill(0x11000, 0xFF, 0x1000);                    // inside the run, same value
    m.fill(0x20000, 0x5A, 0x1000);                    // inside the run, another value
    const uint8_t bytes[3] = {1, 2, 3};
    m.write(0x30FFF, bytes, 3);                       // across two pages of the run
    const std::pair<uint32_t, int> reads[] = {{0x0FFFF, 0x00}, {0x10000, 0xFF}, {0x20FFF, 0x5A}, {0x21000, 0xFF},
                                              {0x30FFE, 0xFF}, {0x31000, 2},    {0x31002, 0xFF}, {0x4FFFF, 0xFF},
                                              {0x50000, 0x00}};
    for (const auto& [address, value] : reads)
        EXPECT_EQ(m.get(address), value) << std::hex << address;
    EXPECT_EQ(m.storedPages(), 2u);
    sim::SparseMemory copy(0x00, uint64_t(1) << 32);
    copy.copyFrom(m, 0x40000, 0x0, 0x20000);          // 0xFF pages 64..79, then fill
    uint8_t out[4];
    copy.read(0xFFFE, out, 4);
    EXPECT_EQ((std::vector<size_t>{out[1], out[2], copy.storedPages()}), (std::vector<size_t>{0xFF, 0x00, 0}));
    m.clear();
    EXPECT_EQ(m.get(0x10000), 0x00);
}

TEST(SimRecording, OffKeepsNoRecordsButTheBoardStillAnswers)
{
    kel_test::TestRoot root;
    // An FPGA RAM write recorded while recording is on.
    sim::SocModel::write16(0x207810, 0);              // FPGA 0 selected
    int fpga = board::SpiDevice::open("/dev/spidev32766.1");
    ASSERT_GE(fpga, 0);
    ASSERT_EQ(board::SpiDevice::configure(fpga, 3, 8, 10000000), 0);
    auto ramWrite = [&](size_t bytes) {
        sim::SocModel::write16(0x207838, 16);         // command phase
        spi(fpga, {0x02, 0x05, 0x00, 0x00});          // write RAM 5 from address 0
        sim::SocModel::write16(0x207838, 0);
        spi(fpga, std::vector<uint8_t>(bytes, 0x3C));
    };
    ramWrite(4);
    ASSERT_TRUE(sim::FpgaModel::log(0).size() == 1u && sim::FpgaModel::log(0)[0].data.size() == 4u);

    sim::SimBoard::setRecording(false);
    ramWrite(1000);
    EXPECT_EQ(sim::FpgaModel::ram(0, 5, 999, 1), std::vector<uint8_t>{0x3C});   // the write took effect
    ASSERT_TRUE(sim::FpgaModel::log(0).size() == 1u && sim::FpgaModel::log(0)[0].data.size() == 4u);   // nothing added to the old entry

    sim::Journal::setShellStatus("reboot", 256);
    EXPECT_EQ((std::vector<size_t>{size_t(board::Shell::system("reboot")), sim::Journal::entries().size()}), (std::vector<size_t>{256, 0}));

    int serial = board::SerialPort::open("/dev/ttyS2");
    ASSERT_GE(serial, 0);
    EXPECT_TRUE(board::SerialPort::setRts(serial, true) == 0 && sim::SerialModel::rtsChanges("/dev/ttyS2").empty());
    board::SerialPort::close(serial);

    sim::KeypadModel::setPresent(true);
    const uint8_t report[5] = {0, 1, 2, 3, 4};
    EXPECT_TRUE(board::Keypad::writeReport(0x28E9, 0x0380, report, 5) == 5 && sim::KeypadModel::reports().empty());

    // A register command to card 0 of port 0: still carried out, not kept.
    std::vector<uint8_t> packet{0x00, 0x00, 0x10, 0xF0, 0x10, 0x00, 0x01, 0x01, 0x00, 0xA0, 0x03, 0x0F, 0x01, 0x07};
    uint8_t x = 0;
    for (uint8_t c : packet)
        x ^= c;
    packet.push_back(x);
    EXPECT_EQ(sim::ReceivingCardModel::deliver(0, 0, packet.data(), packet.size()).size(), 1u);
    const sim::ReceivingCard card = sim::ReceivingCardModel::card(0, 0, 0);
    EXPECT_TRUE(card.mapping == 7 && card.registerWrites.empty());
    board::SpiDevice::close(fpga);
}
