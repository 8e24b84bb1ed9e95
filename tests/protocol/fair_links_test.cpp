// Several PCs on every network link at once (TCP on the configured port and on 10002, UDP
// 5008 and 10005), against the running links, while others on the same links misbehave:
// connections that stay silent, are re-opened, trickle bytes of frames that never end, or
// ask for large replies and never read them; senders that cut their frames into datagrams
// between another PC's pieces, or begin frames they never finish. Drawn as command
// sequences; every well-behaved PC must get each reply, its own and no other. The clock
// runs as on the device (a tick every 10 ms) and jumps ahead on command.

#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/udpnetmanage.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/protocol/udp_fixture.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <rapidcheck/state.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>

using namespace linktest;

namespace {

constexpr int kPcs = 8;          // PC i talks on link i % 4: TCP g_port, TCP 10002, UDP 5008, UDP 10005
constexpr int kOthersMax = 60;   // misbehaving connections per TCP port at most

struct Links {
    uint16_t port[4];
};

struct Model {
    int others[2] = {0, 0};
    int noReads[2] = {0, 0};   // of them asking without reading (active: they send frames)
};

struct Sut {
    explicit Sut(const Links& l) : links(l) {}
    ~Sut()
    {
        for (int fd : silent)
            ::close(fd);
        for (auto& t : trickling)
            ::close(t.first);
    }

    std::unique_ptr<pc::PcClient> open(int link)
    {
        return link < 2 ? pc::PcClient::tcp("127.0.0.1", links.port[link])
                        : pc::PcClient::udp("127.0.0.1", links.port[link]);
    }
    int connectTcp(int link)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        RC_ASSERT(connectLoopback(fd, links.port[link]) == 0);
        return fd;
    }
    // Sends the wire bytes in `pieces` parts (datagrams of 10 bytes or more on UDP); on UDP,
    // `between` is sent in two datagrams that go between this request's.
    static void sendInPieces(pc::PcClient& c, const Bytes& wire, int pieces, pc::PcClient* other, const Bytes& between)
    {
        if (c.kind() == pc::PcClient::Kind::Udp)
            pieces = std::max(1, std::min<int>(pieces, int(wire.size() / 10)));
        const size_t step = wire.size() / size_t(pieces);
        for (int k = 0; k < pieces; ++k) {
            const size_t from = size_t(k) * step, to = k == pieces - 1 ? wire.size() : from + step;
            RC_ASSERT(c.sendRaw(Bytes(wire.begin() + long(from), wire.begin() + long(to))));
            if (other && k < 2)
                RC_ASSERT(other->sendRaw(k == 0 ? Bytes(between.begin(), between.begin() + 10)
                                                : Bytes(between.begin() + 10, between.end())));
        }
        if (other && pieces == 1)
            RC_ASSERT(other->sendRaw(Bytes(between.begin() + 10, between.end())));
    }
    // The next whole frame c receives, unescaped; empty when none came within the bound.
    static Bytes next(pc::PcClient& c)
    {
        Bytes raw;
        if (!c.receiveRaw(raw, pc::PcClient::kReplyWaitMs))
            return {};
        std::vector<Bytes> got = frames(raw);
        return got.size() == 1 ? got[0] : Bytes{};
    }

    // PC i's request: on TCP a frame of a group without handler, with bytes that need
    // escaping (answered with its header); on UDP a read of the two identity bytes at
    // 0x600440. Bytes 4-5 tell the request and the PC apart in the reply.
    void ask(int i, int pieces, bool crossed, uint8_t value)
    {
        const int link = i % 4;
        const uint8_t tag = ++seq;
        pc::Frame read = pc::readRam(0x600440, 2);
        const Bytes req = link < 2 ? request(0xF100, uint16_t(0xF000 + i), 0x62, {0xA5, 0x5A, 0x5B, 0xA6, value}, tag)
                                   : request(read.dest, uint16_t(0xF000 + i), read.group, read.data, tag);
        const Bytes expected = expectedReply(req, link < 2 ? Bytes{} : Bytes{0, 0x52, 0x9C});
        for (int attempt = 0;; ++attempt) {
            if (!pcs[i]) {
                pcs[i] = open(link);
                lastAsk[i] = 0;   // nothing answered on this connection yet
            }
            RC_ASSERT(pcs[i] != nullptr);
            // Another PC's request crosses this one's pieces on the same UDP port.
            std::unique_ptr<pc::PcClient> other = crossed && link >= 2 ? open(link) : nullptr;
            const Bytes otherReq = request(read.dest, 0xF0EE, read.group, read.data, uint8_t(tag ^ 0xFF));
            const auto asked = std::chrono::steady_clock::now();
            sendInPieces(*pcs[i], escape(req), pieces, other.get(), escape(otherReq));
            const Bytes got = next(*pcs[i]);
            if (other)
                RC_ASSERT(next(*other) == expectedReply(otherReq, {0, 0x52, 0x9C}));
            // A TCP PC quiet for 10 s (1000 ticks) or more may have been closed to make room,
            // and a new one that had not sent its frame within 40 ticks of its place: it
            // connects again (the end of its stream comes at once, not after the bound).
            const bool ended = got.empty() && std::chrono::steady_clock::now() - asked < std::chrono::seconds(5);
            if (ended && link < 2 && attempt == 0 && (lastAsk[i] == 0 || G_timeTicks - lastAsk[i] >= TcpServer::IDLE_CLOSE_TICKS)) {
                pcs[i].reset();
                continue;
            }
            RC_ASSERT(got == expected);
            lastAsk[i] = G_timeTicks;
            return;
        }
    }

    const Links& links;
    std::unique_ptr<pc::PcClient> pcs[kPcs];
    uint32_t lastAsk[kPcs] = {};
    uint8_t seq = 0;
    std::vector<int> silent;
    std::vector<std::pair<int, size_t>> trickling;   // socket and bytes sent of its frame
    std::vector<std::unique_ptr<pc::PcClient>> splitters;
};

using Command = rc::state::Command<Model, Sut>;

// Each command draws its values, or is given them (the reproductions below).
struct Ask : Command {
    Ask() : Ask(*rc::gen::inRange(0, kPcs), *rc::gen::inRange(1, 13), *rc::gen::arbitrary<bool>()) {}
    Ask(int p, int n, bool c) : pc(p), pieces(n), crossed(c), value(*rc::gen::arbitrary<uint8_t>()) {}
    int pc, pieces;
    bool crossed;
    uint8_t value;
    void run(const Model&, Sut& s) const override { s.ask(pc, pieces, crossed, value); }
    void show(std::ostream& os) const override
    {
        os << "Ask(pc " << pc << ", " << pieces << " pieces" << (crossed ? ", crossed" : "") << ")";
    }
};

// Connections that send nothing, or one byte of a frame that never ends now and then.
struct Open : Command {
    Open() : Open(*rc::gen::inRange(0, 2), *rc::gen::inRange(1, 61), *rc::gen::arbitrary<bool>()) {}
    Open(int l, int n, bool t) : link(l), count(n), trickles(t) {}
    int link, count;
    bool trickles;
    void checkPreconditions(const Model& m) const override { RC_PRE(m.others[link] + count <= kOthersMax); }
    void apply(Model& m) const override { m.others[link] += count; }
    void run(const Model&, Sut& s) const override
    {
        for (int k = 0; k < count; ++k) {
            if (trickles)
                s.trickling.emplace_back(s.connectTcp(link), 0);
            else
                s.silent.push_back(s.connectTcp(link));
        }
    }
    void show(std::ostream& os) const override
    {
        os << "Open(" << count << (trickles ? " trickling" : " silent") << " on link " << link << ")";
    }
};

struct Trickle : Command {
    void run(const Model&, Sut& s) const override
    {
        for (auto& t : s.trickling) {
            const uint8_t b = t.second < 3 ? 0xA5 : 0x11;
            ::send(t.first, &b, 1, MSG_NOSIGNAL);
            ++t.second;
        }
    }
    void show(std::ostream& os) const override { os << "Trickle"; }
};

// The silent connections are closed and opened again, as one who keeps a table full would.
struct Reopen : Command {
    void run(const Model&, Sut& s) const override
    {
        for (int& fd : s.silent) {
            sockaddr_in peer{};
            socklen_t n = sizeof peer;
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &n);
            ::close(fd);
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            RC_ASSERT(connectLoopback(fd, ntohs(peer.sin_port)) == 0);
        }
    }
    void show(std::ostream& os) const override { os << "Reopen"; }
};

// A connection that asks for large replies and never reads one.
struct NoReads : Command {
    NoReads() : NoReads(*rc::gen::inRange(0, 2), *rc::gen::inRange(1, 401)) {}
    NoReads(int l, int n) : link(l), reads(n) {}
    int link, reads;
    void checkPreconditions(const Model& m) const override { RC_PRE(m.others[link] < kOthersMax && m.noReads[link] < 8); }
    void apply(Model& m) const override
    {
        ++m.others[link];
        ++m.noReads[link];
    }
    void run(const Model&, Sut& s) const override
    {
        const int fd = s.connectTcp(link);
        s.silent.push_back(fd);
        const pc::Frame read = pc::readRam(0x30000000u, 60000);
        Bytes all;
        for (int k = 0; k < reads; ++k) {
            const Bytes w = escape(request(read.dest, read.src, read.group, read.data, uint8_t(k)));
            all.insert(all.end(), w.begin(), w.end());
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::send(fd, all.data(), all.size(), MSG_NOSIGNAL);
    }
    void show(std::ostream& os) const override { os << "NoReads(" << reads << " on link " << link << ")"; }
};

// Senders (each its own port) that begin frames on a UDP port and never finish them.
struct Unfinished : Command {
    Unfinished() : link(*rc::gen::inRange(2, 4)), senders(*rc::gen::inRange(1, 5)) {}
    int link, senders;
    void run(const Model&, Sut& s) const override
    {
        for (int k = 0; k < senders; ++k) {
            s.splitters.push_back(s.open(link));
            RC_ASSERT(s.splitters.back() && s.splitters.back()->sendRaw(Bytes{0xA5, 0xA5, 0xA5, 1, 2, 3, 4, 5, 6, 7, 8}));
        }
    }
    void show(std::ostream& os) const override { os << "Unfinished(" << senders << " on link " << link << ")"; }
};

struct Clock : Command {
    Clock() : Clock(*rc::gen::inRange<uint32_t>(0, 1500)) {}
    explicit Clock(uint32_t t) : ticks(t) {}
    uint32_t ticks;
    void run(const Model&, Sut&) const override { G_timeTicks = G_timeTicks + ticks; }
    void show(std::ostream& os) const override { os << "Clock(+" << ticks << ")"; }
};

} // namespace

TEST(FairLinks, EveryWellBehavedPcGetsItsOwnRepliesWhateverTheOthersDo)
{
    kel_test::TestRoot root;
    udptest::freshParameters();
    int offset = 0;
    auto udp = udptest::openLink(offset);
    std::unique_ptr<networkManage> tcp;
    ASSERT_GT(kel_test::bindPrivatePorts(10002, [&](int) {
        tcp = std::make_unique<networkManage>();
        tcp->open_servers();
        return tcp->server(0)->listenSocket() >= 0 && tcp->server(1)->listenSocket() >= 0;
    }), 0);
    ASSERT_TRUE(udp && udp->start_threads() == 0 && tcp->start_threads() == 0);
    const Links links{{tcp->server(0)->localPort(), tcp->server(1)->localPort(), uint16_t(5008 + offset),
                       uint16_t(10005 + offset)}};
    std::atomic<bool> stop{false};
    std::thread clock([&] {
        while (!stop) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            G_timeTicks = G_timeTicks + 1;
        }
    });
    // The reproductions: a table full of silent connections, re-opened, or of connections
    // trickling bytes of frames that never end, with new PCs coming; eight PCs asking for
    // 400 replies of 60 KB each and reading none; two PCs' frames in two datagrams each,
    // crossing on each UDP port.
    kel_test::checkProperty("fair links", [&] {
        using Cmds = std::vector<std::shared_ptr<const Command>>;
        auto cmd = [](auto c) { return std::shared_ptr<const Command>(std::make_shared<decltype(c)>(c)); };
        Cmds silent = {cmd(Open(0, 60, false)), cmd(Open(1, 60, false)), cmd(Ask(0, 1, false)), cmd(Ask(1, 1, false)),
                       cmd(Reopen()), cmd(Ask(4, 1, false)), cmd(Ask(5, 1, false)), cmd(Ask(0, 1, false))};
        Cmds trickling = {cmd(Open(0, 60, true)), cmd(Open(1, 60, true)), cmd(Trickle()), cmd(Clock(300)),
                          cmd(Trickle()), cmd(Ask(0, 1, false)), cmd(Ask(1, 1, false)), cmd(Trickle()), cmd(Ask(4, 2, false))};
        Cmds reading, crossing = {cmd(Ask(2, 2, true)), cmd(Ask(3, 2, true)), cmd(Ask(6, 3, true)), cmd(Ask(7, 2, true))};
        for (int k = 0; k < 8; ++k)
            reading.push_back(cmd(NoReads(0, 400)));
        for (int pc : {0, 4, 1, 0})
            reading.push_back(cmd(Ask(pc, 1, false)));
        for (const Cmds* seq : {&silent, &trickling, &reading, &crossing}) {
            Sut sut(links);
            rc::state::runAll(*seq, Model{}, sut);
        }
        Sut sut(links);
        rc::state::check(Model{}, sut,
                         rc::state::gen::execOneOfWithArgs<Ask, Ask, Ask, Open, Trickle, Reopen, NoReads, Unfinished, Clock>());
    }, {kel_test::underEmulation() ? 2 : 6, 24});
    stop = true;
    clock.join();
    tcp.reset();
    udp.reset();
    udptest::dropParameters();
}
