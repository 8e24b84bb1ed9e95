// End to end through the running links: a PC frame for a receiving card sent over UDP 5008,
// the configured TCP port and the RS-485 line reaches a simulated card behind an FPGA that
// came up on the simulated board, and the card's answer comes back on the same link; the
// ports that carry no passthrough hand the same frame to the command handler.

#include "board/sim/FpgaModel.h"
#include "board/sim/ReceivingCardModel.h"
#include "board/sim/SerialModel.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
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
using udptest::nextFrame;
constexpr int kWaitMs = 3000;

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

// Write-RAM (0x60) and read-RAM (0x61) payloads of a card packet: the controller's RAM
// requests' layout, the read with the two spare bytes as well.
Bytes ramWrite(uint32_t address, const Bytes& bytes) { return pc::writeRam(address, bytes).data; }

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
        ASSERT_EQ(udp->start_threads(), 0);
        serial = std::make_unique<Kx_uart_inout>();
        ASSERT_EQ(serial->usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
        ASSERT_GE(serial->fd(), 0);
        sim::ReceivingCardModel::clearPackets();
    }

    void TearDown() override
    {
        serial.reset();
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
        if (link == "udp10005")
            return pc::PcClient::udp("127.0.0.1", uint16_t(10005 + offset));
        if (link == "tcp")
            return pc::PcClient::tcp("127.0.0.1", uint16_t(5005 + offset));
        if (link == "tcp10002")
            return pc::PcClient::tcp("127.0.0.1", uint16_t(10002 + offset));
        return pc::PcClient::serial(sim::SerialModel::peerPath("/dev/ttyS2"));
    }

    static size_t cardPackets()
    {
        size_t n = 0;
        for (int port = 0; port < 16; ++port)
            n += sim::ReceivingCardModel::packets(0, port).size();
        return n;
    }

    bool startTcpThreads = true;   // false: the test drives the TCP link's passes
    kel_test::TestRoot root;
    std::unique_ptr<fpga_test::BringUpWorld> world;
    std::unique_ptr<fpga_manage> manager;
    std::unique_ptr<networkManage> tcp;
    std::unique_ptr<udpnetManage> udp;
    std::unique_ptr<Kx_uart_inout> serial;
};

// Two PCs on two links ask cards of port 1, the second while the first one's answer is
// still due: the first a plain read (the port stamped into its target), which the cards
// leave unanswered until its answer is put in the receive RAM by hand; the second a wrapped
// write (acknowledged at once) of bytes the links must escape, which the card answers
// itself. It goes out only once the first one's answer came, its PC's next frame abandoned
// it (the late answer then goes nowhere) or its wait ran out; each PC gets its own answer
// and nothing else.
TEST_F(PassbyLinks, EachPcGetsOnlyItsOwnCardAnswer)
{
    enum End { Answered, Abandoned, TimedOut };
    struct Row { const char* first; const char* second; End end; };
    const Row rows[] = {{"tcp", "udp", Answered},    {"udp", "serial", Answered}, {"serial", "tcp", Answered},
                        {"udp", "tcp", Abandoned},   {"serial", "udp", Abandoned}, {"tcp", "serial", TimedOut}};
    uint8_t tag = 0x30;
    // The next frame the PC gets is the controller's reply to a request of its own.
    auto ownReply = [](pc::PcClient& pc, uint8_t marker) {
        pc::Frame own = pc::readRegister(11), reply;
        own.b4 = marker;
        ASSERT_TRUE(pc.sendRaw(pc::wire(own)));
        ASSERT_TRUE(nextFrame(pc, reply));
        EXPECT_EQ(reply.src, pc::kController);
        EXPECT_EQ(reply.b4, marker);
    };
    auto packets = [] { return sim::ReceivingCardModel::packets(0, 1); };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.first) + " then " + row.second);
        std::unique_ptr<pc::PcClient> first = client(row.first), second = client(row.second);
        ASSERT_TRUE(first && second);
        sim::ReceivingCardModel::clearPackets();
        sim::ReceivingCardModel::setFault(0, 1, sim::ReceivingCardModel::Fault::Silent);
        const uint32_t start = G_timeTicks;
        const pc::Frame read = cardFrame(1, 1, 0x61, ramRead(0x80, 2), tag);
        pc::Frame stamped = read, answer = read;
        stamped.dest = 0x1001;
        std::swap(answer.dest, answer.src);
        answer.src = 0x1001;   // the card names its port
        answer.data = {0x00, 0x00, tag};
        ASSERT_TRUE(first->sendRaw(pc::wire(read)));
        for (int i = 0; i < kWaitMs && packets().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        G_timeTicks = start + 100;
        const Bytes data = {tag, 0xA5, 0x5A, 0x77};
        const pc::Frame write = cardFrame(1, 1, 0x60, ramWrite(0x100u + tag, data), uint8_t(tag + 1));
        // Acknowledged at once: the first 10 bytes, addresses swapped, then 0.
        const pc::Frame outer = wrapped(write, uint8_t(tag + 2));
        Bytes raw, ack;
        ASSERT_TRUE(second->sendRaw(pc::wire(outer)) && second->receiveRaw(raw, kWaitMs) && pc::unescape(raw, ack));
        EXPECT_EQ(ack, linktest::expectedReply(pc::encode(outer), {0x00}));
        // Only the first request has gone to the cards.
        EXPECT_EQ(packets(), std::vector<Bytes>{pc::encode(stamped)});
        sim::ReceivingCardModel::setFault(0, 1, sim::ReceivingCardModel::Fault::None);
        pc::Frame got;
        if (row.end == Answered) {
            sim::FpgaModel::queueAnswer(0, 0, pc::encode(answer));
            ASSERT_TRUE(nextFrame(*first, got));
            EXPECT_EQ(pc::encode(got), pc::encode(answer));
        } else if (row.end == Abandoned) {
            ownReply(*first, 0x70);
            sim::FpgaModel::queueAnswer(0, 0, pc::encode(answer));   // late
        } else {
            G_timeTicks = start + fpga_manage::kPassbyWaitTicks + 1;
        }
        // Then the second goes out without its wrapper, and the card's answer comes back
        // to its own PC.
        ASSERT_TRUE(nextFrame(*second, got));
        EXPECT_EQ(packets(), (std::vector<Bytes>{pc::encode(stamped), pc::encode(write)}));
        EXPECT_EQ(got.dest, pc::kPc);
        EXPECT_EQ(got.src, 0x1001);                    // the card, with its port bits
        EXPECT_EQ(got.b5, tag + 1);
        EXPECT_EQ(got.group, 0x60);
        EXPECT_EQ(got.status(), 0);
        const sim::ReceivingCard card = sim::ReceivingCardModel::card(0, 1, 1);
        EXPECT_EQ(Bytes(card.ram.begin() + 0x100 + tag, card.ram.begin() + 0x104 + tag), data);
        // Neither PC was sent anything more.
        ownReply(*first, 0x71);
        ownReply(*second, 0x72);
        EXPECT_EQ(g_passby_trans_port, 255);
        tag = uint8_t(tag + 4);
    }
    // The other card and the other port saw nothing of it.
    EXPECT_EQ(sim::ReceivingCardModel::card(0, 1, 0).ram[0x130], 0);
    EXPECT_TRUE(sim::ReceivingCardModel::packets(0, 0).empty());
}

TEST_F(PassbyLinks, TheCommandPortsHandTheSameFrameToTheCommandHandler)
{
    for (const char* link : {"udp10005", "tcp10002"}) {
        SCOPED_TRACE(link);
        auto pc = client(link);
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
    for (int i = 0; i < 5 && tcp->server(0)->clients().empty(); ++i)
        tcp->accept_pass(5);
    ASSERT_EQ(tcp->server(0)->clients().size(), 1u);
    // A wrapped frame for a card that keeps quiet: acknowledged at once, then the link
    // waits for the card.
    const pc::Frame inner = cardFrame(0, 0, 0x61, ramRead(0x80, 2), 0x54);
    const Bytes request = pc::encode(wrapped(inner, 0x55));
    const Bytes wire = pc::wire(wrapped(inner, 0x55));
    ASSERT_EQ(::send(fd, wire.data(), wire.size(), MSG_NOSIGNAL), ssize_t(wire.size()));
    for (int i = 0; i < 50 && pending(fd) == 0; ++i)
        tcp->accept_pass(5);
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
    while (pending(fd) <= ackBytes)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

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
