// The TCP links through real sockets on loopback: the test drives the link's passes itself
// and talks to it as a PC tool would.

#include "board/Network.h"
#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "protocol/message_deal.h"
#include "protocol/networkmanage.h"
#include "protocol/tcpserver.h"
#include "core/kel_file_deal.h"
#include "tests/protocol/file_frames.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/protocol/udp_fixture.h"
#include "tests/support/PrivatePorts.h"
#include "tests/support/TestRoot.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>

using namespace linktest;

namespace {

// A PC tool's connection: non-blocking, so the test thread can run the server in between.
class Client {
public:
    explicit Client(uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        connected_ = connectLoopback(fd_, port) == 0;
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    }
    ~Client() { close(); }
    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    void send(const Bytes& b) { ASSERT_EQ(::send(fd_, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }
    // Everything that has arrived so far.
    Bytes drain()
    {
        Bytes out;
        uint8_t buf[4096];
        for (;;) {
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        received_.insert(received_.end(), out.begin(), out.end());
        return out;
    }
    const Bytes& received() const { return received_; }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Closes with a reset instead of an orderly end: the server's next read fails.
    void reset()
    {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        close();
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    Bytes received_;
};

class TcpLink : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_port = 5005;
        g_passby_trans_port = 255;
        pc_cmd_valid = 0;
        ASSERT_GT(openAtPrivatePorts(), 0);
    }
    void TearDown() override
    {
        net.reset();
        g_port = 5005;
    }
    // Both servers at an offset where g_port and 10002 bind; the offset or -1.
    int openAtPrivatePorts()
    {
        return kel_test::bindPrivatePorts(10002, [this](int) {
            net = std::make_unique<networkManage>();
            net->open_servers();
            return net->server(0)->listenSocket() >= 0 && net->server(1)->listenSocket() >= 0;
        });
    }
    uint16_t mainPort() const { return net->server(0)->localPort(); }
    uint16_t fixedPort() const { return net->server(1)->localPort(); }

    // Runs the port's passes until the clients have received `frames` whole frames in
    // total, or a bounded number of passes went by.
    void serve(int index, std::initializer_list<Client*> clients, size_t frames_wanted)
    {
        for (int i = 0; i < 200; ++i) {
            if (index == 0)
                net->accept_pass(2);
            else
                net->accept_pass_10002(2);
            size_t got = 0;
            for (Client* c : clients) {
                c->drain();
                got += frames(c->received()).size();
            }
            if (got >= frames_wanted && i > 3)
                return;
        }
    }
    void passes(int index, int n)
    {
        for (int i = 0; i < n; ++i)
            index == 0 ? net->accept_pass(2) : net->accept_pass_10002(2);
    }

    kel_test::TestRoot root;
    std::unique_ptr<networkManage> net;
};

} // namespace

// Transfers PCs race for, two on UDP 5008 and two on the configured TCP port, through the
// running links: each step is one PC's request after the clock moved on, and its reply is
// what that PC must get (a boot image start is answered with nothing). Peers of one port
// share its handler and only their address or connection tells them apart. A claim lapses
// 30 s (3000 ticks) after its last new bytes; a PC whose connection closes lets it go.
TEST_F(TcpLink, TransfersBelongToOnePcUntilItGoesQuietOrLeaves)
{
    using namespace fileframes;
    udptest::freshParameters();
    int offset = 0;
    auto udp = udptest::openLink(offset);
    ASSERT_TRUE(udp && udp->start_threads() == 0 && net->start_threads() == 0);
    root.writeFile("/data/configs/cloud_cafile", std::string("\xAA\x65\x00\x03\x00\x00\x00" "abc", 10));
    const Bytes names = {'t', 'e', 'n', ' ', 'b', 'y', 't', 'e', 's', '.'}, fifty(50, 0x35);
    const std::string gbk = "\xc9\xa8\xc3\xe8.kxfile", latin1 = "\xe9t\xe9.bin";
    const Bytes upAlis = start("ALIS", 0, 100), sync = {9}, synced = {0, 6};
    struct Step {
        char who;     // 'u', 'v' UDP PCs, 't', 'w' TCP PCs, 'n' PC 't' on a new connection
        uint32_t at;  // ticks since the case began
        uint8_t group;
        Bytes data, reply;
    };
    const std::vector<std::vector<Step>> cases = {
        // Two uploads that cross on one port: the link tells its peers apart, and the first PC's
        // lands under its name's own bytes (GBK from one PC, Latin-1 from the other). What a
        // non-holder's blocks and ends get, and reads: the transfer sequences' check.
        {{'t', 0, 0xC0, named(7, gbk, 13, 10), {0, 7, 0}}, {'t', 0, 0xC0, block(0, names, 0, 10), {0, 2}},
         {'w', 0, 0xC0, start("MO02", 0, 100), {1, 1, 2}}, {'t', 0, 0xC0, end(md5Of(names)), {0, 3, 0}}},
        {{'u', 0, 0xC0, named(7, latin1, 9, 10), {0, 7, 0}}, {'u', 0, 0xC0, block(0, names, 0, 10), {0, 2}},
         {'v', 0, 0xC0, start("MO02", 0, 100), {1, 1, 2}}, {'u', 0, 0xC0, end(md5Of(names)), {0, 3, 0}}},
        // Boot image starts every 25 s hold nothing.
        {{'u', 0, 0xC0, start("FBOT", 0, 64), {}}, {'u', 0, 0xC0, sync, synced}, {'t', 100, 0xC0, upAlis, {1, 1, 2}},
         {'u', 2500, 0xC0, start("FBOT", 0, 64), {}}, {'u', 2500, 0xC0, sync, synced},
         {'t', 3000, 0xC0, upAlis, {0, 1, 0}}, {'u', 3001, 0xC0, block(0, fifty, 0, 50), {1, 2}}},
        // Empty blocks, blocks sent before, a cloud file's empty block keep nothing alive.
        {{'u', 0, 0xC0, start("MO03", 0, 100), {0, 1, 0}}, {'u', 2500, 0xC0, block(0, fifty, 0, 0), {0, 2}},
         {'t', 3000, 0xC0, upAlis, {0, 1, 0}}},
        {{'u', 0, 0xC0, start("MO03", 0, 100), {0, 1, 0}}, {'u', 2000, 0xC0, block(0, fifty, 0, 50), {0, 2}},
         {'t', 4000, 0xC0, upAlis, {1, 1, 2}}, {'u', 4500, 0xC0, block(0, fifty, 0, 50), {0, 2}},
         {'t', 5000, 0xC0, upAlis, {0, 1, 0}}},
        {{'u', 0, 0xCC, {'F', '0', '0', '2', 100, 0, 0, 0, 1}, {0, 200, 0, 101, 0}},
         {'u', 2500, 0xC5, {101, 0, 0, 0, 0, 0, 0, 0}, {0, 200, 0, 101, 0}}, {'t', 3000, 0xC0, upAlis, {0, 1, 0}}},
        {{'t', 0, 0xC8, {'F', '0', '0', '2'}, {0, 200, 0, 101, 0, 3, 0, 0, 0}},
         {'u', 0, 0xC8, {'F', '0', '0', '2'}, {1, 'N', 1, 101, 0, 0, 0, 0, 0}},
         {'u', 0, 0xC9, {101, 0, 0, 0, 0, 0}, {1, 75, 1, 101, 0, 0, 0, 0, 0, 0, 0}},
         {'t', 0, 0xC9, {101, 0, 0, 0, 0, 0}, {0, 200, 0, 101, 0, 3, 0, 0, 0, 3, 0, 'a', 'b', 'c'}}},
        // A PC that leaves lets its upload go at once.
        {{'t', 0, 0xC0, upAlis, {0, 1, 0}}, {'n', 1, 0xC0, sync, synced}, {'u', 1, 0xC0, upAlis, {0, 1, 0}}},
    };
    for (size_t k = 0; k < cases.size(); ++k) {
        {
            std::lock_guard<std::mutex> hold(message_deal::transfer_mutex);
            FileBufOwner::reset();
            message_deal::file_read_hold.reset();
            message_deal::cloud_read_hold.reset();
            g_kel_file_deal_para = KelFileDeal{};
        }
        auto u = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
        auto v = pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset));
        auto t = pc::PcClient::tcp("127.0.0.1", mainPort()), w = pc::PcClient::tcp("127.0.0.1", mainPort());
        ASSERT_TRUE(u && v && t && w);
        const uint32_t base = 100000u * uint32_t(k + 1);
        for (const Step& s : cases[k]) {
            G_timeTicks = base + s.at;
            if (s.who == 'n') {
                t.reset();
                t = pc::PcClient::tcp("127.0.0.1", mainPort());
            }
            pc::PcClient& pc = s.who == 'u' ? *u : s.who == 'v' ? *v : s.who == 'w' ? *w : *t;
            pc::Frame req, reply;
            req.group = s.group;
            req.data = s.data;
            if (s.reply.empty())
                EXPECT_TRUE(pc.sendRaw(pc::wire(req)));
            else
                EXPECT_TRUE(pc.request(req, reply) && reply.data == s.reply)
                    << "case " << k << " at " << s.at << ": " << pc::hex(reply.data);
        }
    }
    EXPECT_EQ(root.readFile("/data/smartmapping/" + gbk), std::string(names.begin(), names.end()));
    EXPECT_EQ(root.readFile("/data/rcvrecovery/" + latin1), std::string(names.begin(), names.end()));
    EXPECT_FALSE(root.exists("/data/modes/MO02.json"));
    // The folder clean-up finds and removes them by those bytes.
    pc::Frame clean, cleaned;
    clean.group = 0xC0;
    clean.data = {10};
    EXPECT_TRUE(pc::PcClient::udp("127.0.0.1", uint16_t(5008 + offset))->request(clean, cleaned) &&
                cleaned.data == (Bytes{0, 10}));
    EXPECT_TRUE(std::filesystem::is_empty(root.host("/data/smartmapping")) &&
                std::filesystem::is_empty(root.host("/data/rcvrecovery")));
    net.reset();
    udp.reset();
    udptest::dropParameters();
}

// Through the accept path on both ports, a full table gives way to the client whose last
// frame is longest ago but never to a transfer's owner, and clients that leave (an orderly
// end with half a frame sent, or a reset) give their places up. Each port answers a group
// without handler with its 11-byte reply; only traffic on the configured port counts as PC
// activity. Which client gives way, waits or is closed in every state of the table is the
// link fuzz target's model; crowds of silent and trickling clients the fair-sharing check's.
TEST_F(TcpLink, AFullTableGivesWayToTheQuietestClientButNeverToATransfer)
{
    auto closedByServer = [](Client& c) {   // its end or a reset seen within 2 s
        pollfd p{c.fd(), POLLIN, 0};
        char byte;
        return ::poll(&p, 1, 2000) == 1 && ::recv(c.fd(), &byte, 1, 0) <= 0;
    };
    const Bytes ask = request(0xF100, 0xF010, 0x62), wire = escape(ask);
    const Bytes upload = request(0xF100, 0xF010, 0xC0, fileframes::start("ALIS", 0, 100));
    for (int index : {1, 0}) {
        udptest::freshParameters();
        g_kel_file_deal_para = KelFileDeal{};
        G_timeTicks = 100000u * unsigned(index + 1);
        const uint16_t port = index == 0 ? mainPort() : fixedPort();
        std::vector<std::unique_ptr<Client>> clients;
        for (size_t i = 0; i < TcpServer::MAX_CLIENTS; ++i) {   // 0 uploads, the others ask
            clients.push_back(std::make_unique<Client>(port));
            passes(index, 1);
            Client& c = *clients.back();
            c.send(escape(i == 0 ? upload : ask));
            serve(index, {&c}, 1);
            EXPECT_EQ(c.received(), escape(expectedReply(i == 0 ? upload : ask, i == 0 ? Bytes{0, 1, 0} : Bytes{})));
            G_timeTicks = G_timeTicks + 1;
        }
        EXPECT_EQ(pc_cmd_valid.load(), index == 0) << index;
        G_timeTicks = G_timeTicks + 969;   // client 1's last frame 1000 ticks (10 s) ago, 2's 999
        Client a(port);
        a.send(wire);
        serve(index, {&a}, 1);
        EXPECT_TRUE(closedByServer(*clients[1]) && frames(a.received()).size() == 1) << index;
        clients[2]->send(Bytes(wire.begin(), wire.begin() + 8));
        passes(index, 2);
        clients[2]->close();
        clients[3]->reset();
        passes(index, 4);
        EXPECT_EQ(net->server(index)->clients().size(), TcpServer::MAX_CLIENTS - 2) << index;
        clients.clear();
        a.close();
        passes(index, 3);
        EXPECT_EQ(net->server(index)->clients().size(), 0u) << index;
    }
    udptest::dropParameters();

    // No descriptor left for accept: one report, then accepting rests for 10 ticks.
    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    G_timeTicks = 20000;
    Client waiting(mainPort());
    int top = ::dup(0);
    ::close(top);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(top);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    for (int i = 0; i < 20; ++i)
        passes(0, 1);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(net->server(0)->acceptErrorsReported(), 1u);
    EXPECT_EQ(net->server(0)->clients().size(), 0u);
    G_timeTicks = 20009;
    passes(0, 2);
    EXPECT_EQ(net->server(0)->clients().size(), 0u);
    G_timeTicks = 20010;
    passes(0, 2);
    EXPECT_EQ(net->server(0)->clients().size(), 1u);
}

TEST_F(TcpLink, ChangedPortTakesEffectOnlyAfterRestart)
{
    const uint16_t before = board::Network::listenPort(5005);
    EXPECT_EQ(mainPort(), before);

    // The network command stores the new port; the running servers keep theirs.
    g_port = 5006;
    {
        Client d(before);
        EXPECT_TRUE(d.connected());
    }
    passes(0, 3);
    EXPECT_EQ(mainPort(), before);

    // What a reboot does: the links are created again and read the port afresh (at an
    // offset of their own: the old ports may be taken by now).
    net.reset();
    ASSERT_GT(openAtPrivatePorts(), 0);
    const uint16_t after = board::Network::listenPort(5006);
    EXPECT_EQ(mainPort(), after);
    Client c(after);
    ASSERT_TRUE(c.connected());
    passes(0, 2);
    Bytes req = request(0xF100, 0xF010, 0x62);
    c.send(escape(req));
    serve(0, {&c}, 1);
    EXPECT_EQ(c.received(), escape(expectedReply(req, {})));
    EXPECT_EQ(fixedPort(), board::Network::listenPort(10002));   // and nothing on 5005
}

// A frame of 0x20000 bytes is kept and one a byte longer dropped, whether it comes in
// pieces through a socket or whole in one read.
TEST(TcpServerRecords, AFrameOf0x20000BytesIsKeptAndOneByteLongerIsDropped)
{
    kel_test::TestRoot root;
    auto frameOf = [](size_t total) {
        Bytes f(total, 0x11);
        f[0] = f[1] = f[2] = 0xA5;
        f.back() = 0x5A;
        return f;
    };
    const Bytes small = {0xA5, 0xA5, 0xA5, 0x01, 0x5A};
    Bytes stream = frameOf(0x20000);
    const Bytes longer = frameOf(0x20001);
    stream.insert(stream.end(), longer.begin(), longer.end());
    stream.insert(stream.end(), small.begin(), small.end());

    TcpServer whole;
    whole.feed_bytes(7, stream.data(), stream.size());
    TcpServer server;
    ASSERT_GT(kel_test::bindPrivatePorts(5005, [&](int) { return server.initialize(5005) == 0; }), 0);
    Client c(server.localPort());
    ASSERT_TRUE(c.connected());
    size_t sent = 0;
    for (int i = 0; i < 20000 && (sent < stream.size() || server.records().size() < 2); ++i) {
        ssize_t n = sent < stream.size() ? ::send(c.fd(), stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL) : 0;
        if (n > 0)
            sent += size_t(n);
        server.recvData(1);
    }
    for (TcpServer* s : {&whole, &server}) {
        ASSERT_EQ(s->records().size(), 2u) << sent << " of " << stream.size() << " bytes sent";
        EXPECT_EQ(s->records().front().data.size(), 0x20000u);
        EXPECT_EQ(s->records().back().data, small);
    }
}

// A lone client is read without a poll while it keeps sending; a second client must still
// be let in and served.
TEST(TcpServerRecords, AClientThatKeepsSendingDoesNotShutOutASecond)
{
    kel_test::TestRoot root;
    TcpServer server;
    ASSERT_GT(kel_test::bindPrivatePorts(5005, [&](int) { return server.initialize(5005) == 0; }), 0);
    Client a(server.localPort());
    ASSERT_TRUE(a.connected());
    const Bytes frame = {0xA5, 0xA5, 0xA5, 0x01, 0x5A};
    std::unique_ptr<Client> b;
    bool bSent = false, bServed = false;
    int aSocket = -1;
    for (int i = 0; i < 200000 && !bServed; ++i) {
        a.send(frame);
        if (i == 3)
            b = std::make_unique<Client>(server.localPort());
        if (b && !bSent && server.clients().size() == 2) {
            b->send(frame);
            bSent = true;
        }
        server.recvData(1000);
        for (const auto& r : server.records()) {
            if (aSocket < 0)
                aSocket = r.socket;
            bServed = bServed || r.socket != aSocket;
        }
        server.records().clear();
    }
    EXPECT_TRUE(bServed) << "the second client was never read";
}
