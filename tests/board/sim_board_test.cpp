#include "board/Files.h"
#include "board/I2cBus.h"
#include "board/Keypad.h"
#include "board/Network.h"
#include "board/SerialPort.h"
#include "board/SocWindow.h"
#include "board/SpiDevice.h"
#include "board/UeventSource.h"
#include "board/sim/InputTiming.h"
#include "board/sim/ScenarioKeys.h"
#include "board/sim/Sim.h"
#include "tests/support/TestRoot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(SimFiles, BoardPathsLandUnderTheDataRootAndAreMovedCopiedAndRemovedThere)
{
    kel_test::TestRoot root;
    const std::string r = root.path();
    // A path mapped already is not mapped twice, and ".." never climbs out of the root, also
    // when a mapped path is extended with it (a name from a PC or a stick).
    const std::pair<std::string, std::string> rows[] = {
        {"/data/ram_device_info", "/data/ram_device_info"}, {"/etc/network/interfaces", "/etc/network/interfaces"},
        {"/data/../../../etc/passwd", "/etc/passwd"}, {"/mnt/usb1/", "/mnt/usb1/"},
        {board::Files::map("/data/x"), "/data/x"}, {r + "/data/../../../etc/passwd", "/etc/passwd"},
        {r + "/..", ""}, {r + "/data/./x", "/data/x"},
    };
    for (const auto& [path, mapped] : rows)
        EXPECT_EQ(board::Files::map(path), r + mapped) << path;

    // File operations act on mapped paths, never through the shell.
    ASSERT_TRUE(board::Files::writeAtomically("/data/a/file", "hello", 5));
    EXPECT_TRUE(root.readFile("/data/a/file") == "hello" && !root.exists("/data/a/file.tmp"));
    ASSERT_TRUE(board::Files::copy("/data/a/file", "/data/b"));
    EXPECT_EQ(root.readFile("/data/b"), "hello");
    // A move replaces a file or fails: never into a folder standing at the target.
    ASSERT_TRUE(board::Files::makeDirs("/data/dir") && !board::Files::move("/data/b", "/data/dir") && board::Files::move("/data/b", "/data/c"));
    EXPECT_TRUE(root.readFile("/data/c") == "hello" && !root.exists("/data/b") && !root.exists("/data/dir/b"));
    ASSERT_TRUE(board::Files::remove("/data/a"));
    EXPECT_TRUE(!root.exists("/data/a/file") && sim::Journal::shellCommands().empty());
}

TEST(SimSoc, WindowMapsTheStoreAndCanBeUnavailable)
{
    kel_test::TestRoot root;
    int msys = board::SocWindow::openRequestDevice();
    int mem = board::SocWindow::openMemory();
    ASSERT_TRUE(msys >= 0 && mem >= 0);
    uint32_t wrongMagic[5] = {0x4D530101, 0, 0, 0, 20}, wrongLength[5] = {0x4D530100, 0, 0, 0, 16};
    EXPECT_TRUE(board::SocWindow::memoryRequest(msys, wrongMagic) != 0 && board::SocWindow::memoryRequest(msys, wrongLength) != 0 && wrongMagic[3] == 0);
    uint32_t record[5] = {0x4D530100, 0, 0, 0, 20};
    ASSERT_EQ(board::SocWindow::memoryRequest(msys, record), 0);
    volatile uint8_t* w = board::SocWindow::map(mem, record[1], record[3]);
    ASSERT_NE(w, nullptr);
    *reinterpret_cast<volatile uint16_t*>(w + 0x207810) = 16;
    EXPECT_EQ(sim::SocModel::read16(0x207810), 16);
    // The FPGA reset lines read their pull-up from the board's reset on; a level the program
    // drives stays, whichever thread reaches the FPGA model first.
    EXPECT_EQ((std::vector<int>{sim::SocModel::read16(0x207858), sim::SocModel::read16(0x207864)}), (std::vector<int>{16, 16}));
    *reinterpret_cast<volatile uint16_t*>(w + 0x207858) = 0;
    EXPECT_TRUE(sim::FpgaModel::inReset(0) && !sim::FpgaModel::inReset(1) && sim::SocModel::read16(0x207858) == 0);
    EXPECT_EQ(board::SocWindow::map(mem, record[1], record[3] + 1), nullptr);
    board::SocWindow::close(msys), board::SocWindow::close(mem);
    // Register offsets at the top of the range are refused.
    sim::SocModel::write16(sim::SocModel::kWindowLength - 2, 0x1234);
    EXPECT_EQ(sim::SocModel::read16(sim::SocModel::kWindowLength - 2), 0x1234);
    sim::SocModel::write16(0xFFFFFFFE, 0x5555), sim::SocModel::write16(0xFFFFFFFF, 0x5555);
    EXPECT_EQ((std::vector<int>{sim::SocModel::read16(0xFFFFFFFF), sim::SocModel::read16(0xFFFFFFFE),
                                sim::SocModel::read16(sim::SocModel::kWindowLength - 1), sim::SocModel::read16(0)}), (std::vector<int>{0, 0, 0, 0}));

    sim::SocModel::setAvailable(false);
    EXPECT_TRUE(board::SocWindow::openMemory() < 0 && board::SocWindow::openRequestDevice() < 0);
}

namespace {
// Echoes each byte plus one, and counts messages.
class EchoPlusOne : public sim::SpiModel {
public:
    int messages = 0;
    void transfer(const uint8_t* tx, uint8_t* rx, uint32_t length, uint32_t) override
    {
        for (uint32_t i = 0; i < length; ++i)
            rx[i] = uint8_t(tx[i] + 1);
    }
    void endMessage() override { ++messages; }
};

class Register : public sim::I2cModel {
public:
    uint8_t value = 0x42;
    bool write(const uint8_t* d, uint16_t n) override
    {
        if (n)
            value = d[n - 1];
        return true;
    }
    bool read(uint8_t* d, uint16_t n) override
    {
        for (uint16_t i = 0; i < n; ++i)
            d[i] = value;
        return true;
    }
};
} // namespace

TEST(SimSpi, RoutesByChipSelectAndLogsMessages)
{
    kel_test::TestRoot root;
    EchoPlusOne model;
    sim::SpiModel* flash = sim::SpiBusModel::model(3);
    sim::SpiBusModel::attach(3, &model);
    int fd = board::SpiDevice::open("/dev/spidev32766.3");
    ASSERT_GE(fd, 0);
    uint8_t tx1[2] = {1, 2}, tx2[1] = {9}, rx1[2] = {}, rx2[1] = {};
    board::SpiTransfer t[2] = {{tx1, rx1, 2, 5000000}, {tx2, rx2, 1, 20000000}};
    // A device left in mode 0 (or set to it) talks to a mode-3 part one bit out of step.
    EXPECT_EQ((std::vector<int>{board::SpiDevice::configure(fd, 0, 8, 10000000), board::SpiDevice::transfer(fd, t, 2)}), (std::vector<int>{0, 3}));
    EXPECT_EQ(rx1[0], 0x06);                          // saw 0x02, answered 0x03, read back shifted
    EXPECT_EQ((std::vector<int>{board::SpiDevice::configure(fd, 3, 8, 10000000), sim::SpiBusModel::settings(3).mode}), (std::vector<int>{0, 3}));
    sim::SpiBusModel::clearLog();
    // Bytes moved, what came back, messages seen.
    EXPECT_EQ((std::vector<int>{board::SpiDevice::transfer(fd, t, 2), rx1[0], rx2[0], model.messages}), (std::vector<int>{3, 2, 10, 2}));
    auto log = sim::SpiBusModel::log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].tx, (std::vector<uint8_t>{1, 2, 9}));
    // Chip select, and a speed never beyond the device's maximum.
    EXPECT_EQ((std::vector<unsigned>{unsigned(log[0].chipSelect), log[0].speedHz}), (std::vector<unsigned>{3, 10000000u}));

    // Nothing at a chip select reads as an undriven line.
    int empty = board::SpiDevice::open("/dev/spidev32766.4");
    uint8_t rx[2] = {};
    board::SpiTransfer r{nullptr, rx, 2};
    EXPECT_EQ((std::vector<int>{board::SpiDevice::transfer(empty, &r, 1), rx[0]}), (std::vector<int>{2, 0xFF}));

    sim::SpiBusModel::setFault(3, sim::SpiBusModel::Fault::TransferFails);
    EXPECT_EQ(board::SpiDevice::transfer(fd, t, 1), -1);
    sim::SpiBusModel::setFault(2, sim::SpiBusModel::Fault::Absent);
    EXPECT_TRUE(board::SpiDevice::open("/dev/spidev32766.2") < 0 && board::SpiDevice::open("/dev/spidev32766.9") < 0);
    sim::SpiBusModel::attach(3, flash);
    board::SpiDevice::close(fd), board::SpiDevice::close(empty);
}

TEST(SimI2c, DevicesBehindSwitchesAndFaults)
{
    kel_test::TestRoot root;
    sim::I2cSwitchModel sw;
    Register behind, direct;
    sim::I2cBusModel::detachAll();
    sim::I2cBusModel::attach(0xE0, &sw);
    sim::I2cBusModel::attach(0xA0, &behind, 0xE0, 0x02);
    sim::I2cBusModel::attach(0xD0, &direct);
    int fd = board::I2cBus::open("/dev/i2c-0");
    ASSERT_GE(fd, 0);
    uint8_t b = 0;
    board::I2cMessage read{0x50, true, 1, &b};
    EXPECT_EQ(board::I2cBus::transfer(fd, &read, 1), -1);          // switch channel closed
    uint8_t channel = 0x02;
    board::I2cMessage select{0x70, false, 1, &channel};
    EXPECT_EQ((std::vector<int>{board::I2cBus::transfer(fd, &select, 1), board::I2cBus::transfer(fd, &read, 1), b}),
              (std::vector<int>{1, 1, 0x42}));
    // What answers where follows each change of the switch (another channel, then both), of
    // its absence and of attachment: a select, then a read.
    for (const auto& [ch, absent, selected, answered] : {std::tuple{4, false, 1, -1}, {6, false, 1, 1}, {6, true, -1, -1}, {6, false, 1, 1}}) {
        channel = uint8_t(ch);
        sim::I2cBusModel::setAbsent(0xE0, absent);
        EXPECT_EQ((std::vector<int>{board::I2cBus::transfer(fd, &select, 1), board::I2cBus::transfer(fd, &read, 1)}), (std::vector<int>{selected, answered}));
    }
    Register second;
    board::I2cMessage readSecond{0x60, true, 1, &b};
    EXPECT_EQ(board::I2cBus::transfer(fd, &readSecond, 1), -1);    // nothing there yet
    sim::I2cBusModel::attach(0xC0, &second, 0xE0, 0x04);
    EXPECT_EQ(board::I2cBus::transfer(fd, &readSecond, 1), 1);

    sim::I2cBusModel::nakTransferNumber(2);
    board::I2cMessage rd{0x68, true, 1, &b};
    // The second of three NAKs.
    EXPECT_EQ((std::vector<int>{board::I2cBus::transfer(fd, &rd, 1), board::I2cBus::transfer(fd, &rd, 1), board::I2cBus::transfer(fd, &rd, 1)}),
              (std::vector<int>{1, -1, 1}));
    sim::I2cBusModel::setAbsent(0xD0, true);
    EXPECT_TRUE(board::I2cBus::transfer(fd, &rd, 1) == -1 && !sim::I2cBusModel::log().back().acked);
    sim::I2cBusModel::detachAll(), board::I2cBus::close(fd);
    EXPECT_EQ(board::I2cBus::transfer(fd, &rd, 1), -1);             // closed: no bus any more
}

TEST(SimSerial, PseudoTerminalPeerAndRtsRecord)
{
    kel_test::TestRoot root;
    int fd = board::SerialPort::open("/dev/ttyS2");
    ASSERT_GE(fd, 0);
    std::string peer = sim::SerialModel::peerPath("/dev/ttyS2");
    ASSERT_FALSE(peer.empty());
    EXPECT_EQ(root.readFile("/dev/ttyS2.peer"), peer + "\n");
    int other = ::open(peer.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_TRUE(other >= 0 && ::write(other, "\xA5\x01\x5A", 3) == 3);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    char buf[8] = {};
    EXPECT_EQ((std::vector<int>{int(::read(fd, buf, sizeof buf)), uint8_t(buf[0]), board::SerialPort::setRts(fd, true),
                                board::SerialPort::setRts(fd, false)}), (std::vector<int>{3, 0xA5, 0, 0}));
    EXPECT_EQ(sim::SerialModel::rtsChanges("/dev/ttyS2"), (std::vector<bool>{true, false}));
    ::close(other);
    // The old descriptor of a port opened again is closed by its own close, not leaked.
    int second = board::SerialPort::open("/dev/ttyS2");
    board::SerialPort::close(fd);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) == -1 && ::fcntl(second, F_GETFD) >= 0);
    board::SerialPort::close(second);
    EXPECT_EQ(::fcntl(second, F_GETFD), -1);
}

TEST(SimKeypadAndUevents, PresenceReportsAndInjectedEvents)
{
    kel_test::TestRoot root;
    EXPECT_FALSE(board::Keypad::present(0x28E9, 0x0380));
    sim::KeypadModel::setPresent(true);
    EXPECT_EQ((std::vector<int>{board::Keypad::present(0x28E9, 0x0380), board::Keypad::present(0x1234, 0x0380)}), (std::vector<int>{1, 0}));
    const uint8_t report[5] = {0, 1, 2, 3, 4};
    const int written = board::Keypad::writeReport(0x28E9, 0x0380, report, 5);
    sim::KeypadModel::setWriteFails(true);
    EXPECT_EQ((std::vector<int>{written, board::Keypad::writeReport(0x28E9, 0x0380, report, 5), int(sim::KeypadModel::reports().size())}), (std::vector<int>{5, -1, 1}));

    // An event from before the watcher opened its source (a stick plugged in during the
    // start-up) waits for it, ahead of later ones.
    ASSERT_TRUE(sim::UeventModel::inject("add", "/devices/usb1/1-1"));
    int fd = board::UeventSource::open();
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sim::UeventModel::inject("remove", "/devices/usb1/1-1"));
    for (const char* header : {"add@/devices/usb1/1-1", "remove@/devices/usb1/1-1"}) {
        char buf[256] = {};
        ASSERT_GT(::recv(fd, buf, sizeof buf, MSG_DONTWAIT), 0);
        EXPECT_STREQ(buf, header);
    }
    board::UeventSource::close(fd);
}

TEST(SimNetwork, EverythingStaysOnLoopback)
{
    kel_test::TestRoot root;
    // Bound to, and sent to for a broadcast, a LAN address and another loopback address.
    EXPECT_EQ((std::vector<in_addr_t>{board::Network::bindAddress(), board::Network::destination(htonl(INADDR_BROADCAST)),
                                      board::Network::destination(inet_addr("192.168.0.10")), board::Network::destination(inet_addr("127.0.0.5"))}),
              (std::vector<in_addr_t>{htonl(INADDR_LOOPBACK), htonl(INADDR_LOOPBACK), htonl(INADDR_LOOPBACK), inet_addr("127.0.0.5")}));
    // Ports a test moved, and whatever else it set on the board, are back for the next one.
    sim::SimBoard::setPortOffset(17), sim::SimBoard::fixWallTime(5), sim::SimBoard::setRecording(false), sim::SimBoard::advanceVirtual(9), sim::SimBoard::reset();
    EXPECT_EQ(std::make_tuple(board::Network::listenPort(5005), sim::SimBoard::fixedWallTime(), sim::SimBoard::recording(), sim::SimBoard::virtualMicroseconds()),
              std::make_tuple(uint16_t(5005), std::time_t(0), true, uint64_t(0)));
}

// Models keep what they read of the scenario until it changes; a change must reach them.
TEST(SimScenario, KeysFromAFileAndReadOnceKeysFollowAChange)
{
    kel_test::TestRoot root;
    // A line no model can read is named with its file, line, key and the accepted form, and
    // left out; every other line applies.
    const std::pair<std::string, std::string> lines[] = {
        {"fpga.cards.port0 = 4", ""}, {"soc.uid0=0x10", ""}, {"input2.timing=1920x1080i@50", ""}, {"fpga1.reg.255=7", ""},
        {"fpga1.fault.port15=silent", ""}, {"net.wlan1.gateway=10.0.0.1", ""}, {"i2c.eeprom3=corrupt", ""}, {"keypad.present=1", ""},
        {"input0.hpol=2", "input0.hpol: not a flag; accepted: 0 or 1"},
        {"bad line", "bad line: not key=value; accepted: key=value, or # and a comment"},
        {"inptu1.timing=1920x1080@60", "inptu1.timing: unknown key; the nearest is input<N>.timing"},
        {"fpga.cards.port16=1", "fpga.cards.port16: unknown key; the nearest is fpga.cards.port<N>"}, {"bogus.key=1", "bogus.key: unknown key"},
        {"input1.timing=4k", "input1.timing: not a timing; accepted: WIDTHxHEIGHT@HZ (1920x1080@60), an i after the "
                             "height for interlaced (1920x1080i@60), or none"},
        {"fpga.cards.port0=four", "fpga.cards.port0: not a number; accepted: a whole number (0x.. hexadecimal)"},
        {"input2.colour=blue", "input2.colour: not a known value; accepted: rgb|yuv422|yuv444"},
        {"net.eth0.mac=02:00", "net.eth0.mac: not a MAC; accepted: six hexadecimal pairs (02:00:00:00:00:01)"},
        {"net.eth0.mask=255.255.0", "net.eth0.mask: not an address; accepted: four numbers (192.168.0.199)"},
    };
    std::string file = "# inputs\n";
    std::vector<std::string> expected, warnings;
    for (size_t i = 0; i < std::size(lines); ++i) {
        file += lines[i].first + "\n";
        if (!lines[i].second.empty())
            expected.push_back(root.host("/scenario.txt") + ":" + std::to_string(i + 2) + ": " + lines[i].second);
    }
    root.writeFile("/scenario.txt", file);
    ASSERT_TRUE(sim::SimBoard::loadScenario(root.host("/scenario.txt"), &warnings));
    EXPECT_EQ(warnings, expected);
    EXPECT_EQ((std::vector<std::string>{sim::SimBoard::scenario("input1.timing", "unset"), sim::SimBoard::scenario("fpga1.fault.port15")}),
              (std::vector<std::string>{"unset", "silent"}));
    EXPECT_EQ((std::vector<int64_t>{sim::SimBoard::scenarioInt("fpga.cards.port0", 0), sim::SimBoard::scenarioInt("soc.uid0", 0)}),
              (std::vector<int64_t>{4, 16}));

    sim::ScenarioKeys keys("input3.");
    EXPECT_TRUE(keys.number("osc", 20000) == 20000 && !sim::inputTiming(3).present);
    sim::SimBoard::setScenario("input3.osc", "0x4E84");
    sim::SimBoard::setScenario("input3.chip", "absent");
    sim::SimBoard::setScenario("input3.timing", "3840x2160@30");
    EXPECT_TRUE(keys.number("osc", 20000) == 20100 && keys.is("chip", "absent") && keys.text("colour", "rgb") == "rgb");
    const sim::InputTiming t = sim::inputTiming(3);
    EXPECT_EQ((std::vector<uint32_t>{t.present, t.hact, t.htotal, t.vtotal, t.hz}), (std::vector<uint32_t>{1, 3840, 4400, 2250, 30}));
    sim::SimBoard::setScenario("input3.osc", "fast");   // not a number: the fallback
    EXPECT_EQ(keys.number("osc", 20000), 20000);
}
