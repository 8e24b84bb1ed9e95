// The RS-485 link through the simulated board's pseudo-terminal: the test is the PC at the
// other end of the line and drives the link's receive passes itself.

#include "board/sim/SerialModel.h"
#include "core/global.h"
#include "protocol/serial_modules.h"
#include "protocol/uart_inout.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/support/TestRoot.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <utility>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <thread>

using namespace linktest;

namespace {

const char* kDevice = "/dev/ttyS2";
constexpr int kFlags = O_RDWR | O_NOCTTY | O_NONBLOCK;

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_passby_trans_port = 255;
        pc_cmd_valid = 0;
        link = std::make_unique<Kx_uart_inout>();
        ASSERT_GE(link->open_port(2, 115200, kFlags), 0);
        std::string peerPath = sim::SerialModel::peerPath(kDevice);
        ASSERT_FALSE(peerPath.empty());
        peer = ::open(peerPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(peer, 0);
        termios raw{};
        ::tcgetattr(peer, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(peer, TCSANOW, &raw);
    }
    void TearDown() override
    {
        if (peer >= 0)
            ::close(peer);
        link.reset();
    }
    void write(const Bytes& b) { ASSERT_EQ(::write(peer, b.data(), b.size()), ssize_t(b.size())); }
    // Bytes written then handed to the link in one read.
    void deliver(const Bytes& b)
    {
        write(b);
        link->receive_pass(50);
    }
    Bytes readPeer()
    {
        Bytes out;
        uint8_t buf[4096];
        for (;;) {
            pollfd p{peer, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                break;
            ssize_t n = ::read(peer, buf, sizeof buf);
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    kel_test::TestRoot root;
    std::unique_ptr<Kx_uart_inout> link;
    int peer = -1;
};

} // namespace

// Frames that fail their check or have no reply are no reason to turn the line, and cost
// nothing of the rest of the read: noise, a stray closer, a bad frame, then two frames (the
// first split across two reads, the second refused, status 1) are answered in order, RTS
// dropped for each send.
TEST_F(SerialLink, OnlyAnswerableFramesOfAReadAreAnsweredEachWithItsOwnSend)
{
    // Opening the port raises RTS: the transceiver listens.
    EXPECT_EQ(sim::SerialModel::rtsChanges(kDevice), std::vector<bool>({true}));
    sim::SerialModel::clearRts(kDevice);
    G_timeTicks = 777;
    Bytes bad = ramWrite(0xA1000000u, {0x03}, 0x0C);
    bad.back() ^= 0x80;
    deliver(escape(bad));
    EXPECT_EQ(pc_cmd_valid.load(), 0);   // a frame that fails its check is no activity
    deliver(escape(request(0xF100, 0xF010, 0x62)));   // handled, though not answered
    EXPECT_EQ(pc_cmd_valid.load(), 1);
    EXPECT_EQ(pc_cmd_time.load(), 777u);
    EXPECT_EQ(link->transmit_count(), 0u);
    EXPECT_TRUE(readPeer().empty());
    EXPECT_TRUE(sim::SerialModel::rtsChanges(kDevice).empty());

    Bytes a = ramWrite(0xA1000000u, {0x5A, 0xA5}, 0x0A);
    Bytes b = ramWrite(0x00FFFFFFu, {0x02}, 0x0B);   // outside every area
    Bytes wire = {0x00, 0x5A, 0x7F};
    for (const Bytes& f : {bad, a, b}) {
        Bytes w = escape(f);
        wire.insert(wire.end(), w.begin(), w.end());
    }
    const size_t cut = 3 + escape(bad).size() + 9;
    deliver(Bytes(wire.begin(), wire.begin() + long(cut)));
    EXPECT_TRUE(readPeer().empty());
    deliver(Bytes(wire.begin() + long(cut), wire.end()));
    link->receive_pass(5);
    EXPECT_EQ(frames(readPeer()), (std::vector<Bytes>{expectedReply(a, {0x00}), expectedReply(b, {0x01})}));
    EXPECT_EQ(g_4G_RAM[0], 0x5A);
    EXPECT_EQ(g_4G_RAM[1], 0xA5);
    EXPECT_EQ(sim::SerialModel::rtsChanges(kDevice), std::vector<bool>({false, true, false, true}));
}

TEST_F(SerialLink, AnAssemblyOf65555BytesIsTakenAndOneByteLongerIsDropped)
{
    // A frame opens with three 0xA5 and is assembled from the last one to the closing 0x5A.
    // Zero data bytes need no escaping: the assembly grows by one per data byte.
    const size_t overhead = escape(ramWrite(0xA1000000u, Bytes(1, 0))).size() - 1 - 2;
    auto assembling = [&](size_t n) { return escape(ramWrite(0xA1000000u, Bytes(n - overhead, 0))); };
    const Bytes longest = assembling(65555), over = assembling(65556);
    ASSERT_EQ(Bytes(over.begin(), over.begin() + 3), (Bytes{0xA5, 0xA5, 0xA5}));
    ASSERT_EQ(over.size() - 2, 65556u);
    link->feed_bytes(over.data(), int(over.size()));
    EXPECT_TRUE(readPeer().empty());
    link->feed_bytes(longest.data(), int(longest.size()));
    EXPECT_EQ(frames(readPeer()).size(), 1u);
}

// A quiet line's receive thread blocks long; its owner's stop must still end the wait (a
// missing wake-up leaves the join below waiting for the whole hour).
TEST(SerialPortSetup, WakeEndsAReceiveWaitingOnAQuietLine)
{
    kel_test::TestRoot root;
    serial_modules serial;
    Uart_Rec_Send_Data rec{};
    rec.fd = serial.serial_init(2, 115200, kFlags);
    ASSERT_GE(rec.fd, 0);
    int got = 0;
    std::thread receiver([&] { got = serial.recv_uart_data(&rec, 16, 3600 * 1000); });
    serial.wake();
    receiver.join();
    EXPECT_EQ(got, -1);   // nothing was read
    serial.wake();
    EXPECT_EQ(serial.recv_uart_data(&rec, 16, 3600 * 1000), -1);   // a wake not yet taken ends the next wait
}

TEST(SerialPortSetup, UnsupportedRatesAndFailedOpens)
{
    kel_test::TestRoot root;
    serial_modules serial;
    int fd = serial.serial_init(2, 115200, kFlags);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(serial.descriptors().count(fd), 1u);
    for (int rate : {14400, 0, 230400})
        EXPECT_EQ(serial.UartSetSpeed(fd, rate), -1) << rate;
    termios t{};
    const std::pair<int, speed_t> rates[] = {{115200, B115200}, {57600, B57600}, {38400, B38400},
                                             {19200, B19200},   {9600, B9600},   {4800, B4800},
                                             {2400, B2400},     {1200, B1200},   {300, B300}};
    for (const auto& r : rates) {
        EXPECT_EQ(serial.UartSetSpeed(fd, r.first), 0) << r.first;
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), r.second) << r.first;
        EXPECT_EQ(::cfgetispeed(&t), r.second) << r.first;
    }
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), tcflag_t(0));
    EXPECT_EQ(serial.UartSetParity(fd, 9, 1, 'n'), -1);
    EXPECT_EQ(serial.UartSetParity(fd, 8, 3, 'n'), -1);
    EXPECT_EQ(serial.UartSetParity(fd, 8, 1, 'x'), -1);
    EXPECT_EQ(serial.UartSetParity(fd, 7, 2, 'e'), 0);
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    // A pseudo-terminal is always 8 bits without parity bit; stop bits and input parity
    // checking are what it keeps.
    EXPECT_EQ(t.c_cflag & CSTOPB, tcflag_t(CSTOPB));
    EXPECT_EQ(t.c_iflag & INPCK, tcflag_t(INPCK));

    // A rate outside the table ends the link's start: no descriptor, no thread.
    Kx_uart_inout link;
    EXPECT_EQ(link.usart1_init(2, 14400, kFlags), 0);
    EXPECT_LT(link.fd(), 0);

    sim::SerialModel::setOpenFails("/dev/ttyS2", true);
    Kx_uart_inout silent;
    EXPECT_EQ(silent.usart1_init(2, 115200, kFlags), 0);
    EXPECT_LT(silent.fd(), 0);
    silent.receive_pass(0);   // a silent link's pass does nothing

    // Nothing to read from: -1.
    serial_modules none;
    Uart_Rec_Send_Data nothing{};
    EXPECT_EQ(none.recv_uart_data(&nothing, 10, 0), -1);
    // A record with no descriptor is never written.
    Uart_Rec_Send_Data rec{};
    rec.fd = 0;
    rec.len = 1;
    EXPECT_EQ(serial.uart_send(rec), -1);
}
