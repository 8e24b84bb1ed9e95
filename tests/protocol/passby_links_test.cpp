// End to end through the running links (each PC's own answers across links: the fair-sharing
// check): the ports that carry no passthrough hand a card's frame to the command handler, and
// a client that does not read its card answer holds up no other passthrough.

#include "board/sim/FpgaModel.h"
#include "board/sim/ReceivingCardModel.h"
#include "board/sim/SerialModel.h"
#include "cloud/uart_inout_4G.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "scaler/c331_manage.h"
#include "tests/fpga/bringup_fixture.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/protocol/udp_fixture.h"
#include "tests/support/PcClient.h"
#include "tests/support/PrivatePorts.h"

#include <atomic>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <thread>

namespace {

using pc::Bytes;
constexpr int kWaitMs = 3000;

// Waits until `seen` holds, doing `step` between looks (a pass of the link, or a 1 ms
// pause), on the steady clock: false when the bound ran out first, for the test to fail on.
template <typename Seen, typename Step>
bool cameWithin(std::chrono::seconds bound, Seen seen, Step step)
{
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!seen()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        step();
    }
    return true;
}
void pause1ms() { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }

// A PC frame for card `card` on output port `port` (byte 7 = port + 1).
pc::Frame cardFrame(uint16_t card, int port, uint8_t command, const Bytes& data, uint8_t tag)
{
    pc::Frame f;
    f.dest = card;
    f.src = pc::kPc;
    f.b4 = 0x10;
    f.b5 = tag;
    f.mode = 1;
    f.sub = uint8_t(port + 1);
    f.group = command;
    f.data = data;
    return f;
}

// The read-RAM (0x61) payload of a card packet: the controller's RAM request's layout with
// the two spare bytes as well.
Bytes ramRead(uint32_t address, uint16_t length)
{
    Bytes d = pc::readRam(address, length).data;
    d.insert(d.end(), {0, 0});
    return d;
}

// A wrapped frame: a 12-byte wrapper (byte 9 = 2) in front of the card packet `inner`,
// which the frame's own check byte closes; wrapper bytes 10-11 balance the XOR.
pc::Frame wrapped(const pc::Frame& inner, uint8_t tag)
{
    const Bytes packet = pc::encode(inner);
    pc::Frame outer = cardFrame(inner.dest, inner.sub - 1, 0x02, {0x00, 0x00}, tag);
    const Bytes head = pc::encode(outer);
    outer.data[0] = pc::checkByte(head.data(), 10);
    outer.data.insert(outer.data.end(), packet.begin(), packet.end() - 1);
    return outer;
}

class PassbyLinks : public ::testing::Test {
protected:
    PassbyLinks() : root(false) {}

    void SetUp() override
    {
        G_timeTicks = 1000;
        pc_cmd_valid = 0;
        g_set_led_para = 0;
        g_freeze_out = 0;
        world = std::make_unique<fpga_test::BringUpWorld>();
        if (!c331_manage::p_c331_manage)
            c331_manage::p_c331_manage = new c331_manage();
        manager = std::make_unique<fpga_manage>();
        fpga_manage::p_fpga_manage = manager.get();
        ASSERT_EQ(manager->initialize(), 0);
        manager->softinit();
        ASSERT_TRUE(fpga_test::BringUpWorld::bringUp(*manager));

        g_port = 5005;
        ASSERT_GT(kel_test::bindPrivatePorts(13769, [this](int) {
            udp.reset();
            tcp = std::make_unique<networkManage>();
            tcp->open_servers();
            if (tcp->server(0)->listenSocket() < 0 || tcp->server(1)->listenSocket() < 0)
                return false;
            udp = std::make_unique<udpnetManage>();
            udp->initialize_servers();
            return udp->server(5008)->socketFd() >= 0 && udp->server(10005)->socketFd() >= 0
                   && udp->server(13769)->socketFd() >= 0;
        }), 0);
        if (startTcpThreads) {
            ASSERT_EQ(tcp->start_threads(), 0);
        }
        if (startUdpThreads) {
            ASSERT_EQ(udp->start_threads(), 0);
        }
        sim::ReceivingCardModel::clearPackets();
    }

    void TearDown() override
    {
        udp.reset();
        tcp.reset();
        manager.reset();
        fpga_manage::p_fpga_manage = nullptr;
        world.reset();
    }

    std::unique_ptr<pc::PcClient> client(const std::string& link)
    {
        const int offset = sim::SimBoard::portOffset();
        if (link == "udp")
            return pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
        return pc::PcClient::tcp("127.0.0.1", uint16_t(10002 + offset));
    }

    static size_t cardPackets()
    {
        size_t n = 0;
        for (int port = 0; port < 16; ++port)
            n += sim::ReceivingCardModel::packets(0, port).size();
        return n;
    }

    bool startTcpThreads = true;   // false: the test drives the TCP link's passes
    bool startUdpThreads = true;   // false: the test starts the UDP links when it has sent
    kel_test::TestRoot root;
    std::unique_ptr<fpga_test::BringUpWorld> world;
    std::unique_ptr<fpga_manage> manager;
    std::unique_ptr<networkManage> tcp;
    std::unique_ptr<udpnetManage> udp;
};

TEST_F(PassbyLinks, TheCommandPortsHandTheSameFrameToTheCommandHandler)
{
    // UDP 10005's half: UdpPasses.
    auto pc = client("tcp10002");
    ASSERT_TRUE(pc);
    g_passby_trans_port = 255;
    pc::Frame reply;
    ASSERT_TRUE(pc->request(cardFrame(1, 1, 0x61, ramRead(0x40, 4), 0x60), reply, kWaitMs));
    // Answered by the controller for the FPGA side: the addresses swapped as they came,
    // no port stamped into them, and no packet went out to the cards.
    EXPECT_EQ(reply.dest, pc::kPc);
    EXPECT_EQ(reply.src, 0x0001);
    EXPECT_EQ(cardPackets(), 0u);
    EXPECT_EQ(g_passby_trans_port, 255);
}

// Card frames of a UDP PC that left are dropped once no PC can still wait for them, not
// sent: three for a card that keeps quiet, 10 s on; then a PC asking a card that answers is
// answered with the clock standing still (nothing of the one that left goes out first).
class PassbyHeldUdp : public PassbyLinks {
protected:
    PassbyHeldUdp() { startUdpThreads = false; }
};

TEST_F(PassbyHeldUdp, CardFramesNoPcWaitsForAreDroppedNotSent)
{
    sim::ReceivingCardModel::setFault(0, 0, sim::ReceivingCardModel::Fault::Silent);
    auto gone = client("udp");
    for (uint8_t t = 0; t < 3; ++t)
        ASSERT_TRUE(gone->sendRaw(pc::wire(cardFrame(0, 0, 0x61, ramRead(0x80, 2), uint8_t(0x70 + t)))));
    // All three wait in the socket when the link starts, so its first pass takes them in at
    // one tick, before the clock moves on (a later pass would find them younger).
    ASSERT_EQ(udp->start_threads(), 0);
    // The clock moves only once that pass has sent the first of them to the card.
    ASSERT_TRUE(cameWithin(std::chrono::seconds(60), [] { return !sim::ReceivingCardModel::packets(0, 0).empty(); }, pause1ms))
        << "no card frame went out within 60 s of the link's start";
    G_timeTicks += PassbyQueue::PC_WAIT_TICKS;
    pc::Frame reply;
    EXPECT_TRUE(client("udp")->request(cardFrame(1, 1, 0x61, ramRead(0x40, 4), 0x58), reply, kWaitMs) && reply.b5 == 0x58);
    EXPECT_EQ(sim::ReceivingCardModel::packets(0, 0).size(), 1u);
}

// The 4G module's line carries frames for the cards as the PC's line does: out to the
// card, whose answer comes back on the 4G line; the FPGA's own registers are not touched.
TEST_F(PassbyLinks, TheFourGLinePassesCardFramesThroughAndTakesTheirAnswers)
{
    Kx_uart_inout_4G line;
    ASSERT_GE(line.open_port(Kx_uart_inout_4G::kPort, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    auto module = pc::PcClient::serial(sim::SerialModel::peerPath("/dev/ttyS1"));
    ASSERT_TRUE(module && module->sendRaw(pc::wire(cardFrame(1, 1, 0xA0, {85, 0xFF, 0x5A}, 0x57))));
    const uint8_t before = fpga_manage::MCU_REG_func[0][85];
    pc::Frame reply;
    EXPECT_TRUE(cameWithin(std::chrono::seconds(60), [&] { return udptest::nextFrame(*module, reply, 10); },
                           [&] { line.receive_pass_4G(10); }));
    EXPECT_EQ(std::make_tuple(reply.src, reply.b5, reply.group, sim::ReceivingCardModel::card(0, 1, 1).registerWrites.size()),
              std::make_tuple(uint16_t(0x1001), uint8_t(0x57), uint8_t(0xA0), size_t(1)));
    EXPECT_EQ(fpga_manage::MCU_REG_func[0][85], before);
}

// The TCP link's passes are driven by the test, one of them on a thread of its own standing
// in for the link's thread, so the test knows when that pass has ended.
class PassbyStalledTcp : public PassbyLinks {
protected:
    PassbyStalledTcp() { startTcpThreads = false; }
};

// A PC tool that stops reading: a small receive buffer and small segments (which keep the
// server's send buffer small as well), connected to the configured TCP port.
int stalledClient(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    int mss = 536;
    ::setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &mss, sizeof mss);
    if (linktest::connectLoopback(fd, port) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Bytes waiting in the client's receive buffer, left there.
size_t pending(int fd)
{
    static Bytes buf(1 << 20);
    ssize_t n = ::recv(fd, buf.data(), buf.size(), MSG_PEEK | MSG_DONTWAIT);
    return n > 0 ? size_t(n) : 0;
}

// Everything the client is sent until `frames_wanted` whole frames are in, the server
// closes, or nothing more comes for 3 s.
Bytes readFrames(int fd, size_t frames_wanted)
{
    Bytes stream;
    uint8_t buf[8192];
    while (linktest::frames(stream).size() < frames_wanted) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kWaitMs) <= 0)
            break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        stream.insert(stream.end(), buf, buf + n);
    }
    return stream;
}

} // namespace

TEST_F(PassbyStalledTcp, AClientThatDoesNotReadItsCardAnswerHoldsUpNoOtherPassthrough)
{
    sim::ReceivingCardModel::setFault(0, 0, sim::ReceivingCardModel::Fault::Silent);
    const int fd = stalledClient(uint16_t(5005 + sim::SimBoard::portOffset()));
    ASSERT_GE(fd, 0);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    (void)cameWithin(std::chrono::seconds(60), [&] { return !tcp->server(0)->clients().empty(); }, [&] { tcp->accept_pass(5); });
    ASSERT_EQ(tcp->server(0)->clients().size(), 1u);
    // A wrapped frame for a card that keeps quiet: acknowledged at once, then the link
    // waits for the card.
    const pc::Frame inner = cardFrame(0, 0, 0x61, ramRead(0x80, 2), 0x54);
    const Bytes request = pc::encode(wrapped(inner, 0x55));
    const Bytes wire = pc::wire(wrapped(inner, 0x55));
    ASSERT_EQ(::send(fd, wire.data(), wire.size(), MSG_NOSIGNAL), ssize_t(wire.size()));
    (void)cameWithin(std::chrono::seconds(60), [&] { return pending(fd) > 0; }, [&] { tcp->accept_pass(5); });
    const size_t ackBytes = pending(fd);
    ASSERT_GT(ackBytes, 0u);
    ASSERT_EQ(tcp->reply_state(0), 1);

    // A card answer far larger than the client's and the server's buffers, handed over as
    // the FPGA manager's receive path does, under its port-path lock. Every data byte
    // needs escaping, so it doubles on the wire.
    Bytes data(0x1F000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (i & 1) ? 0x5A : 0xA5;
    const Bytes answer = linktest::request(pc::kPc, 0x0000, 0x61, data, 0x54);
    {
        std::lock_guard<std::mutex> path(manager->port_path_mutex);
        const unsigned ticket = manager->passby.due_ticket();
        manager->passby.end();   // the quiet card's answer came, by hand
        g_passby_trans_port = 255;
        manager->answer_ready = 1;
        ASSERT_TRUE(tcp->passby_answer(ticket, answer.data(), unsigned(answer.size())));
    }

    // The link's passes on their own thread: the answer waits in the client's own queue,
    // sent as the client takes it, and nothing else waits for it (nothing returns early
    // until the thread is joined).
    std::atomic<bool> stop{false};
    std::thread link([&] {
        while (!stop)
            tcp->accept_pass(1);
    });
    EXPECT_TRUE(cameWithin(std::chrono::seconds(60), [&] { return pending(fd) > ackBytes; }, pause1ms));

    // A passthrough over UDP 5008 makes its round trip to a card meanwhile. The clock stands
    // still: the unread queue must not count as stalled here.
    {
        auto udpPc = client("udp");
        pc::Frame reply;
        EXPECT_TRUE(udpPc && udpPc->request(cardFrame(1, 1, 0x61, ramRead(0x40, 4), 0x56), reply, kWaitMs));
        EXPECT_EQ(reply.src, 0x1001);
        EXPECT_EQ(reply.b5, 0x56);
        EXPECT_EQ(reply.status(), 0);
    }

    // The client reads at last: the acknowledgement, then the whole answer, on a
    // connection that was kept.
    const std::vector<Bytes> got = linktest::frames(readFrames(fd, 2));
    stop = true;
    link.join();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], linktest::expectedReply(request, {0x00}));
    EXPECT_TRUE(got[1] == answer) << "answer of " << got[1].size() << " bytes";
    EXPECT_EQ(tcp->reply_state(0), 0);
    EXPECT_EQ(tcp->server(0)->clients().size(), 1u);
}

// A client whose card frames wait their turn, or who waits for a card, is not idle however
// long ago its last frame came: with the table full of PCs at work, a newcomer 11 s after
// client A sent five frames for a card that keeps quiet (3 s each) leaves A connected.
TEST_F(PassbyStalledTcp, AClientWaitingOnTheCardPathIsNotIdle)
{
    sim::ReceivingCardModel::setFault(0, 0, sim::ReceivingCardModel::Fault::Silent);
    const uint16_t port = uint16_t(5005 + sim::SimBoard::portOffset());
    std::vector<int> fds;
    Bytes five;
    for (uint8_t t = 0; t < 5; ++t) {
        const Bytes w = pc::wire(cardFrame(0, 0, 0x61, ramRead(0x80, 2), uint8_t(0x70 + t)));
        five.insert(five.end(), w.begin(), w.end());
    }
    const Bytes read = pc::wire(pc::readRam(0x600440, 2));
    // Each second the others ask the controller; A's frames go out one by one.
    for (int step = 0; step <= 11; ++step) {
        while (step == 0 && fds.size() < TcpServer::MAX_CLIENTS)
            fds.push_back(stalledClient(port));
        for (size_t k = 0; k < fds.size(); ++k) {
            const Bytes& out = k > 0 ? read : step == 0 ? five : Bytes{};
            ASSERT_EQ(::send(fds[k], out.data(), out.size(), MSG_NOSIGNAL), ssize_t(out.size()));
        }
        if (step == 11)
            fds.push_back(stalledClient(port));
        // A pass answers one frame of an address, and every client here shares one.
        for (size_t k = 0; k < TcpServer::MAX_CLIENTS + 20; ++k)
            tcp->accept_pass(1);
        ASSERT_EQ(tcp->server(0)->clients().size(), TcpServer::MAX_CLIENTS);
        G_timeTicks += 100;
    }
    char b;
    EXPECT_TRUE(::recv(fds[0], &b, 1, MSG_DONTWAIT) < 0 && errno == EAGAIN) << "client A was closed";
    EXPECT_EQ(tcp->reply_state(0), 1);
    for (int fd : fds)
        ::close(fd);
}
