// Several PCs on every network link at once (TCP on the configured port and on 10002, UDP
// 5008 and 10005), against the running links, while others on the same links misbehave:
// connections that stay silent, are re-opened, trickle bytes of frames that never end, or
// ask for large replies and never read them; senders that begin frames they never finish or
// cut theirs into datagrams between another PC's. Drawn as command sequences; every
// well-behaved PC gets each reply, whole, its own and no other. The clock runs as on the
// device (a tick every 10 ms) and jumps ahead on command.

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

struct Model {
    int others[2] = {0, 0};
    int noReads[2] = {0, 0};   // of them asking without reading (active: they send frames)
};

struct Sut {
    explicit Sut(const uint16_t* p) : ports(p) {}
    ~Sut()
    {
        for (int fd : silent)
            ::close(fd);
        for (auto& t : trickling)
            ::close(t.first);
    }
    std::unique_ptr<pc::PcClient> open(int link)
    {
        return link < 2 ? pc::PcClient::tcp("127.0.0.1", ports[link]) : pc::PcClient::udp("127.0.0.1", ports[link]);
    }
    int connectTcp(int link)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        RC_ASSERT(connectLoopback(fd, ports[link]) == 0);
        return fd;
    }
    // The next whole frame c receives, unescaped; empty when none came within the bound.
    static Bytes next(pc::PcClient& c)
    {
        Bytes raw;
        std::vector<Bytes> got = c.receiveRaw(raw, pc::PcClient::kReplyWaitMs) ? frames(raw) : std::vector<Bytes>{};
        return got.size() == 1 ? got[0] : Bytes{};
    }

    // PC i's request, with header bytes 4-8 drawn (the reply echoes them) and its address in
    // bytes 2-3: on TCP a group without handler, with bytes that need escaping, answered with
    // its header (twice, in one write: answered in order); on UDP a read of the identity
    // bytes at 0x600440. It comes after what gets no answer (noise, a stray closer, an empty
    // frame, a frame one bit off; on UDP also a group without handler, datagrams too short,
    // a frame's end that follows no opener), in `pieces` parts (UDP: datagrams of 10
    // bytes or more); `crossed` on UDP: another PC's request in two datagrams goes between.
    void ask(int i, int pieces, bool crossed, pc::Frame f)
    {
        const int link = i % 4;
        f.dest = uint16_t(0xF100 + (f.b5 & 1));
        f.src = uint16_t(0xF000 + i);
        f.group = link < 2 ? 0x62 : 0x61;
        f.data = link < 2 ? Bytes{0xA5, 0x5A, 0x5B, 0xA6, f.b8} : pc::readRam(0x600440, 2).data;
        const Bytes req = pc::encode(f), reply = link < 2 ? Bytes{} : Bytes{0, 0x52, 0x9C};
        ++f.b4;
        const Bytes req2 = pc::encode(f), otherReq = pc::encode(pc::readRam(0x600440, 2));
        Bytes bad = req, wire = escape(req), between = escape(otherReq);
        bad.back() ^= 1;
        std::vector<Bytes> junk = {{0x00, 0x5A, 0x13}, {0xA5, 0x5A}, escape(bad)};
        const Bytes cut = pc::wire(pc::Frame{0xF100, 0xF010, f.b4, 0, 0, 0, 0, 0x61, Bytes(18, 0x11)});
        if (link >= 2)   // the last: a frame that loses its 9-byte middle datagram
            junk.insert(junk.end(), {pc::wire(pc::Frame{0xF100, 0xF010, f.b4, 0, 0, 0, 0, 0x62, {1, 2, 3}}),
                                     {0xA5, 0xA5, 0xA5, 1, 2, 3, 4, 5, 0x5A}, Bytes(between.begin() + 3, between.end()),
                                     Bytes(cut.begin(), cut.begin() + 12), Bytes(cut.begin() + 12, cut.begin() + 21),
                                     Bytes(cut.begin() + 21, cut.end())});
        const Bytes wire2 = escape(req2);
        if (link < 2)
            wire.insert(wire.end(), wire2.begin(), wire2.end());
        for (int attempt = 0;; ++attempt) {
            if (!pcs[i]) {
                pcs[i] = open(link);
                lastAsk[i] = 0;   // nothing answered on this connection yet
            }
            RC_ASSERT(pcs[i] != nullptr);
            pc::PcClient& c = *pcs[i];
            std::unique_ptr<pc::PcClient> other = crossed && link >= 2 ? open(link) : nullptr;
            Bytes out;   // on TCP one stream: what gets no answer, then the two requests
            for (const Bytes& j : junk) {
                if (link < 2)
                    out.insert(out.end(), j.begin(), j.end());
                else
                    RC_ASSERT(c.sendRaw(j));
            }
            out.insert(out.end(), wire.begin(), wire.end());
            const int n = link < 2 ? pieces : std::max(1, std::min<int>(pieces, int(wire.size() / 10)));
            const size_t step = out.size() / size_t(n);
            const auto asked = std::chrono::steady_clock::now();
            for (int k = 0; k < n; ++k) {
                RC_ASSERT(c.sendRaw(Bytes(out.begin() + long(size_t(k) * step), k == n - 1 ? out.end() : out.begin() + long(size_t(k + 1) * step))));
                if (other && k < 2)
                    RC_ASSERT(other->sendRaw(k == 0 ? Bytes(between.begin(), between.begin() + 10) : Bytes(between.begin() + 10, between.end())));
            }
            if (other && n == 1)
                RC_ASSERT(other->sendRaw(Bytes(between.begin() + 10, between.end())));
            const Bytes got = next(c);
            if (other)
                RC_ASSERT(next(*other) == expectedReply(otherReq, reply));
            // A TCP PC quiet for 10 s (1000 ticks) may have been closed to make room, and a
            // new one whose frame was not read within 40 ticks of its place: it connects
            // again (the end of its stream comes at once, not after the bound).
            const bool ended = got.empty() && std::chrono::steady_clock::now() - asked < std::chrono::seconds(5);
            if (ended && link < 2 && attempt == 0 && (lastAsk[i] == 0 || G_timeTicks - lastAsk[i] >= TcpServer::IDLE_CLOSE_TICKS)) {
                pcs[i].reset();
                continue;
            }
            RC_ASSERT(got == expectedReply(req, reply));
            if (link < 2)
                RC_ASSERT(next(c) == expectedReply(req2, reply));
            lastAsk[i] = G_timeTicks;
            return;
        }
    }

    const uint16_t* ports;
    std::unique_ptr<pc::PcClient> pcs[kPcs];
    uint32_t lastAsk[kPcs] = {};
    std::vector<int> silent;
    std::vector<std::pair<int, size_t>> trickling;   // socket and bytes sent of its frame
    std::vector<std::unique_ptr<pc::PcClient>> unfinished;
};

using Command = rc::state::Command<Model, Sut>;

// Each command draws its values, or is given them (the reproductions below).
struct Ask : Command {
    Ask() : Ask(*rc::gen::inRange(0, kPcs), *rc::gen::inRange(1, 13), *rc::gen::arbitrary<bool>()) {}
    Ask(int p, int n, bool c) : pc(p), pieces(n), crossed(c)
    {
        header.b4 = *rc::gen::arbitrary<uint8_t>();
        header.b5 = *rc::gen::arbitrary<uint8_t>();
        header.mode = *rc::gen::inRange<uint8_t>(1, 255);
        header.sub = *rc::gen::arbitrary<uint8_t>();
        header.b8 = *rc::gen::arbitrary<uint8_t>();
    }
    int pc, pieces;
    bool crossed;
    pc::Frame header;
    void run(const Model&, Sut& s) const override { s.ask(pc, pieces, crossed, header); }
    void show(std::ostream& os) const override { os << "Ask(pc " << pc << ", " << pieces << " pieces, crossed " << crossed << ")"; }
};

// Connections that send nothing, or now and then one byte of a frame that never ends.
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
            const int fd = s.connectTcp(link);
            if (trickles)
                s.trickling.emplace_back(fd, 0);
            else
                s.silent.push_back(fd);
        }
    }
    void show(std::ostream& os) const override { os << "Open(" << count << " on link " << link << ", trickles " << trickles << ")"; }
};

struct Trickle : Command {
    void run(const Model&, Sut& s) const override
    {
        for (auto& t : s.trickling) {
            const uint8_t b = t.second++ < 3 ? 0xA5 : 0x11;
            ::send(t.first, &b, 1, MSG_NOSIGNAL);
        }
    }
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
};

// A connection that asks for large replies and never reads one.
struct NoReads : Command {
    NoReads() : NoReads(*rc::gen::inRange(0, 2), *rc::gen::inRange(1, 401)) {}
    NoReads(int l, int n) : link(l), reads(n) {}
    int link, reads;
    void checkPreconditions(const Model& m) const override { RC_PRE(m.others[link] < kOthersMax && m.noReads[link] < 8); }
    void apply(Model& m) const override { ++m.others[link], ++m.noReads[link]; }
    void run(const Model&, Sut& s) const override
    {
        const int fd = s.connectTcp(link);
        s.silent.push_back(fd);
        Bytes all;
        for (int k = 0; k < reads; ++k) {
            const Bytes w = pc::wire(pc::readRam(0x30000000u, 60000));
            all.insert(all.end(), w.begin(), w.end());
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::send(fd, all.data(), all.size(), MSG_NOSIGNAL);
    }
    void show(std::ostream& os) const override { os << "NoReads(" << reads << " on link " << link << ")"; }
};

// Senders (each its own port) that begin frames on a UDP port and never finish them.
struct Unfinished : Command {
    int link = *rc::gen::inRange(2, 4), senders = *rc::gen::inRange(1, 5);
    void run(const Model&, Sut& s) const override
    {
        for (int k = 0; k < senders; ++k) {
            s.unfinished.push_back(s.open(link));
            RC_ASSERT(s.unfinished.back() && s.unfinished.back()->sendRaw(Bytes{0xA5, 0xA5, 0xA5, 1, 2, 3, 4, 5, 6, 7}));
        }
    }
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
    const uint16_t ports[] = {tcp->server(0)->localPort(), tcp->server(1)->localPort(), uint16_t(5008 + offset),
                              uint16_t(10005 + offset)};
    std::atomic<bool> stop{false};
    std::thread clock([&] {
        for (; !stop; G_timeTicks = G_timeTicks + 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    kel_test::checkProperty("fair links", [&] {
        // The reproductions: a table full of silent connections, re-opened, or of ones
        // trickling bytes of frames that never end, with new PCs coming; eight connections
        // asking for 400 replies of 60 KB each and reading none; PCs' frames in datagrams
        // crossing on each UDP port.
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
            Sut sut(ports);
            rc::state::runAll(*seq, Model{}, sut);
        }
        Sut sut(ports);
        rc::state::check(Model{}, sut,
                         rc::state::gen::execOneOfWithArgs<Ask, Ask, Ask, Open, Trickle, Reopen, NoReads, Unfinished, Clock>());
    }, {kel_test::underEmulation() ? 2 : 6, 24});
    stop = true;
    clock.join();
    tcp.reset();
    udp.reset();
    udptest::dropParameters();
}
