// Several PCs on every link at once (TCP on the configured port and on 10002, UDP 5008 and
// 10005, the RS-485 line), from more than one address, against the running links and an
// FPGA manager with receiving cards on the simulated board, while others misbehave:
// connections that ask for large replies and never read them, or, many from one address,
// ask cards and wait;
// senders that begin frames they never finish or cut theirs into datagrams between another
// PC's; cards that answer late, slowly or never. Drawn as command sequences; every
// well-behaved PC gets each reply to a request that needs no card within the bound, whole,
// its own and no other, and a card's answer only if it answers its own request not given
// up; one PC or address filling a shared list (held frames, kept card requests, the TCP
// frames being joined) shuts nobody else out (the TCP places and waiting list, silent and
// trickling connections among them, are the link fuzz target's); no link thread turns without
// waiting while nothing can be handled; PCs reading and writing FPGA RAM at once get the
// FPGA's bytes. The clock runs as on the device (a tick every 10 ms) and jumps ahead.

#include "board/sim/FpgaModel.h"
#include "board/sim/ReceivingCardModel.h"
#include "board/sim/SerialModel.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/udpnetmanage.h"
#include "tests/fpga/bringup_fixture.h"
#include "tests/protocol/link_test_frames.h"
#include "tests/protocol/udp_fixture.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <rapidcheck/state.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <set>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>

using namespace linktest;

namespace {

// PC i < 8 talks on link i % 4 (TCP g_port, TCP 10002, UDP 5008, UDP 10005) from 127.0.0.(1 + i / 4);
// PC 8 on the RS-485 line (link 4). Cards are asked on links 0, 2 and 4.
constexpr int kPcs = 9;
constexpr int kOthersMax = 60;   // misbehaving connections per TCP port at most
bool asksCards(int pc) { return pc == 8 || pc % 2 == 0; }
// Longest the port-path lock may stay out of the manager's reach: a line write waits up to
// 2 s, a transmitter up to 3 s.
constexpr int64_t kLockWaitUs = 1000000;
// A card request for port (0-15; ports 8 and 9 have no cards, 8's transmitter stays busy)
// from the PC, tagged tag; wrapped: behind the 12 bytes of a wrapper, acknowledged at once.
Bytes cardFrame(int port, int card, uint8_t tag, uint8_t count = 2, bool wrapped = false)
{
    const pc::Frame f{uint16_t(card), pc::kPc, 0x10, tag, 1, uint8_t(port + 1), 0, 0x61, {0x80, 0, 0, 0, count, 0, 0, 0}};
    if (!wrapped)
        return pc::wire(f);
    pc::Frame w{uint16_t(card), pc::kPc, 0x10, tag, 1, uint8_t(port + 1), 0, 2, {0, 0}};
    const Bytes inner = pc::encode(f);
    w.data.insert(w.data.end(), inner.begin(), inner.end());
    return pc::wire(w);
}
std::string host(int h) { return "127.0.0." + std::to_string(1 + h); }
// A card's answer at once, after 1 s, after 3.5 s (past the 3 s wait), never.
enum Behaviour { Prompt, Slow, Late, Silent };

struct Model {
    int others[2] = {0, 0};
    int noReads[2] = {0, 0};   // of them asking without reading (active: they send frames)
    int cardFrames = 0;        // sent to cards by TCP connections that never read: Drain ends each wait
};

// What a PC asked of a card: its answer names port (bits 12-13 of its source), card and tag.
// A request is given up by the PC's next frame that is not for a card: no answer to it may
// follow that frame's reply.
struct CardAsked {
    int port, card;
    uint8_t tag, count;   // count: card RAM bytes read
    bool given = false;
};

// What each end asked of cards, by the address and port it sends from (1: the line), kept
// across cases: a card's late answer reaches whoever holds that end next (the line, a UDP
// port given again), as it would a PC there.
struct Asked {
    std::map<uint64_t, std::vector<CardAsked>> by;
    uint8_t tag = 0x80;
};
uint64_t endOf(const pc::PcClient& c)
{
    sockaddr_in a{};
    socklen_t n = sizeof a;
    if (c.kind() == pc::PcClient::Kind::Serial || ::getsockname(c.fd(), reinterpret_cast<sockaddr*>(&a), &n) != 0)
        return 1;
    return uint64_t(ntohl(a.sin_addr.s_addr)) << 16 | ntohs(a.sin_port);
}

// The links and the manager under test; link thread turns are counted against the clock's
// own ticks (not its jumps).
struct World {
    const uint16_t* ports;
    networkManage* tcp;
    udpnetManage* udp;
    fpga_manage* manager;
    Kx_uart_inout* line;
    std::atomic<uint32_t> ticked{0};
    std::atomic<int64_t> lockWaitUs{0};   // the longest the manager's loop waited for the port-path lock
    std::atomic<bool> frozen{false}, still{false};   // asked to stand still; standing still
    uint64_t spins() const { return tcp->spins() + udp->spins(); }
};

struct Sut {
    Sut(World& w, Asked& a) : world(w), ports(w.ports), asked(a), spins(w.spins()), ticked(w.ticked) {}
    ~Sut()
    {
        for (int fd : silent)
            ::close(fd);
    }
    // A PC's end of link from address h. 5008 answers the broadcast address, 127.0.0.1 on a
    // host: a UDP socket of another address comes with one on 127.0.0.1 at its port (ear),
    // which hears its answers and keeps its port from any socket of 127.0.0.1.
    std::unique_ptr<pc::PcClient> open(int link, int h = 0, std::unique_ptr<pc::PcClient>* ear = nullptr)
    {
        if (link == 4)
            return pc::PcClient::serial(sim::SerialModel::peerPath("/dev/ttyS2"));
        if (link < 2)
            return pc::PcClient::tcp("127.0.0.1", ports[link], host(h));
        for (;;) {
            std::unique_ptr<pc::PcClient> c = pc::PcClient::udp("127.0.0.1", ports[link], host(h)), e;
            RC_ASSERT(c != nullptr);
            if (h == 0 || (e = pc::PcClient::udp("127.0.0.1", ports[link], "127.0.0.1", c->localPort())))
                return ear ? (*ear = std::move(e), std::move(c)) : (askers.push_back(std::move(e)), std::move(c));
        }
    }
    int connectTcp(int link, int h = 0)
    {
        std::unique_ptr<pc::PcClient> c = open(link, h);
        RC_ASSERT(c != nullptr);
        return ::dup(c->fd());
    }
    pc::PcClient& ear(int i) { return ears[i] && i % 4 == 2 ? *ears[i] : *pcs[i]; }
    void connect(int i)
    {
        pcs[i] = open(i == 8 ? 4 : i % 4, i / 4, &ears[i]);
        RC_ASSERT(pcs[i] != nullptr);
        lastAsk[i] = 0;   // nothing answered on this connection yet
    }
    // Whether f answers one of the card requests sent from c: its card, port bits and tag.
    bool own(const pc::PcClient& c, const pc::Frame& f) const
    {
        auto it = asked.by.find(endOf(c));
        for (const CardAsked& a : it == asked.by.end() ? std::vector<CardAsked>{} : it->second)
            if (!a.given && f.dest == pc::kPc && f.src == uint16_t((a.port & 3) << 12 | a.card) && f.b5 == a.tag && f.group == 0x61
                && f.sub == a.port + 1 && f.status() == 0 && f.data.size() == 1u + a.count)
                return true;
        return false;
    }
    // The next whole frame c hears (on ear) that is not a card's answer, unescaped; empty
    // when none came within the bound. Card answers on the way must answer c's requests.
    Bytes next(pc::PcClient& c, pc::PcClient& ear)
    {
        for (;;) {
            Bytes raw, plain;
            pc::Frame f;
            if (!ear.receiveRaw(raw, pc::PcClient::kReplyWaitMs) || !pc::unescape(raw, plain))
                return {};
            if (!pc::decode(plain, f) || f.src >= 0xF000 || f.dest != pc::kPc)
                return plain;
            RC_ASSERT(own(c, f));
        }
    }
    Bytes next(int i) { return next(*pcs[i], ear(i)); }
    // PC i's request to card of port: a read of 2 card RAM bytes with the next tag, or
    // (again) of 4 with the last one.
    Bytes cardAsk(int i, int port, int card, bool again = false)
    {
        if (!again)
            asked.tag = uint8_t(asked.tag == 0xFF ? 0x80 : asked.tag + 1);
        const uint8_t count = again ? 4 : 2;
        asked.by[endOf(*pcs[i])].push_back({port, card, asked.tag, count});
        return cardFrame(port, card, asked.tag, count);
    }
    // The card requests sent from c before a frame whose reply came are given up.
    void gaveUp(const pc::PcClient& c)
    {
        for (CardAsked& a : asked.by[endOf(c)])
            a.given = true;
    }
    // Link threads turn without waiting only while they have frames to handle: passes that
    // handle nothing stay within the clock's ticks since the last look.
    void noSpinning()
    {
        const uint64_t now = world.spins();
        const uint32_t t = world.ticked;
        RC_ASSERT(now - spins <= uint64_t(t - ticked) + 4);
        spins = now;
        ticked = t;
        // No link holds the port-path lock across a wait (a line, a transmitter, a frame).
        RC_ASSERT(world.lockWaitUs.exchange(0) < kLockWaitUs);
    }
    // PC i's request, with header bytes 4-8 drawn (the reply echoes them) and its address in
    // bytes 2-3: on TCP a group without handler, with bytes that need escaping, answered with
    // its header; elsewhere a read of the identity bytes at 0x600440; on TCP and the line
    // twice in one write (answered in order). It comes after what gets no answer (noise, a
    // stray closer, an empty frame, a frame one bit off; on UDP also a group without
    // handler, datagrams too short, a frame's end that follows no opener, a frame of 150,000
    // bytes in three datagrams, longer than any joined frame may be), in `pieces` parts
    // (UDP: datagrams of 10 bytes or more); `crossed` on UDP: another PC's request in two
    // datagrams goes between.
    void ask(int i, int pieces, bool crossed, pc::Frame f, int joiners = 0, int cards = 0)
    {
        const int link = i == 8 ? 4 : i % 4;
        const bool stream = link < 2 || link == 4, udp = !stream;
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
        if (udp)   // the last: a frame that loses its 9-byte middle datagram
            junk.insert(junk.end(), {pc::wire(pc::Frame{0xF100, 0xF010, f.b4, 0, 0, 0, 0, 0x62, {1, 2, 3}}),
                                     {0xA5, 0xA5, 0xA5, 1, 2, 3, 4, 5, 0x5A}, Bytes(between.begin() + 3, between.end()),
                                     Bytes(cut.begin(), cut.begin() + 12), Bytes(cut.begin() + 12, cut.begin() + 21),
                                     Bytes(cut.begin() + 21, cut.end()), Bytes(50000, 0x11), Bytes(50000, 0x22), Bytes(50000, 0x33)});
        if (udp)
            junk.rbegin()[2][0] = 0xA5, junk.back().back() = 0x5A;
        const Bytes wire2 = escape(req2);
        if (stream)
            wire.insert(wire.end(), wire2.begin(), wire2.end());
        for (int attempt = 0;; ++attempt) {
            if (!pcs[i])
                connect(i);
            pc::PcClient& c = *pcs[i];
            std::unique_ptr<pc::PcClient> other = crossed && udp ? open(link) : nullptr;
            Bytes out;   // on TCP and the line one stream: what gets no answer, then the two requests
            for (const Bytes& j : junk) {
                if (stream)
                    out.insert(out.end(), j.begin(), j.end());
                else
                    RC_ASSERT(c.sendRaw(j));
            }
            // Card requests just ahead: the request waits behind them (the second behind the
            // first's wait) and gives up the last.
            for (int k = 0; asksCards(i) && k < cards; ++k) {
                const Bytes card = cardAsk(i, 2 + f.b8 % 2, 0);
                if (stream)
                    out.insert(out.end(), card.begin(), card.end());
                else
                    RC_ASSERT(c.sendRaw(card));
            }
            out.insert(out.end(), wire.begin(), wire.end());
            const int n = stream ? pieces : std::max(1, std::min<int>(pieces, int(wire.size() / 10)));
            const size_t step = out.size() / size_t(n);
            auto sent = std::chrono::steady_clock::now();
            const uint32_t sentTick = G_timeTicks;   // its frames are the server's no earlier
            bool sentAll = true;   // a TCP PC closed to make room finds its stream's end below
            for (int k = 0; k < n; ++k) {
                sentAll = sentAll && c.sendRaw(Bytes(out.begin() + long(size_t(k) * step), k == n - 1 ? out.end() : out.begin() + long(size_t(k + 1) * step)));
                RC_ASSERT(sentAll || link < 2);
                if (other && k < 2)
                    RC_ASSERT(other->sendRaw(k == 0 ? Bytes(between.begin(), between.begin() + 10) : Bytes(between.begin() + 10, between.end())));
                for (int j = 0; udp && k == 0 && n > 1 && j < joiners; ++j)
                    begin(link);   // senders of one address begin frames between the PC's pieces
            }
            if (other && n == 1)
                RC_ASSERT(other->sendRaw(Bytes(between.begin() + 10, between.end())));
            if (cards > 0)   // the request waits for its card requests, and they for those kept before
                drain(), sent = std::chrono::steady_clock::now();
            const Bytes got = next(i);
            // The crossing PC's datagrams may be lost the same way: it asks again, whole.
            Bytes crossing = other ? next(*other, *other) : Bytes{};
            if (other && crossing.empty() && other->sendRaw(between))
                crossing = next(*other, *other);
            RC_ASSERT(!other || crossing == expectedReply(otherReq, reply));
            // A TCP PC may have been closed to make room: quiet for 10 s (1000 ticks), a new
            // one whose frame was not read within 40 ticks of its place, or one whose address
            // held more places than a newcomer's: it connects again (the end of its stream
            // comes at once, not after the bound).
            const bool ended = got.empty() && std::chrono::steady_clock::now() - sent < std::chrono::seconds(5);
            if (ended && link < 2 && attempt == 0
                && (lastAsk[i] == 0 || foreign[i] > 0 || G_timeTicks - lastAsk[i] >= TcpServer::IDLE_CLOSE_TICKS)) {
                pcs[i].reset();
                continue;
            }
            if (got.empty() && udp && attempt == 0)
                continue;   // a burst of others' datagrams overflowed the socket: a PC asks again
            RC_ASSERT(got == expectedReply(req, reply));
            gaveUp(c);
            if (stream)
                RC_ASSERT(next(i) == expectedReply(req2, reply));
            noSpinning();
            lastAsk[i] = sentTick;   // the replies may have waited in its socket through drain()
            foreign[i] = 0;
            waiting[i] = false;
            return;
        }
    }
    // A connection or socket from address h to link, asking cards or not: the PCs of other
    // addresses may lose a place to it.
    void opened(int h)
    {
        for (int i = 0; i < kPcs; ++i)
            foreign[i] += i / 4 != h;
    }
    // The cards' waits run out at once, one after another, until no request is kept or due.
    void drain()
    {
        for (int k = 0;; ++k) {
            {
                std::lock_guard<std::mutex> path(world.manager->port_path_mutex);
                if (!world.manager->passby.busy() && world.manager->passby.kept() == 0)
                    return;
            }
            RC_ASSERT(k < 2000);
            G_timeTicks = G_timeTicks + PassbyQueue::WAIT_TICKS + 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));   // the clock's next tick serves the path
        }
    }
    // A sender of 127.0.0.3 that begins a frame on a UDP link and never ends it.
    void begin(int link)
    {
        unfinished.push_back(open(link, 2));
        RC_ASSERT(unfinished.back() && unfinished.back()->sendRaw(Bytes{0xA5, 0xA5, 0xA5, 1, 2, 3, 4, 5, 6, 7}));
    }

    World& world;
    const uint16_t* ports;
    std::unique_ptr<pc::PcClient> pcs[kPcs], ears[kPcs];
    uint32_t lastAsk[kPcs] = {};
    int foreign[kPcs] = {};
    bool waiting[kPcs] = {};   // a card request of the PC may still wait
    Asked& asked;
    uint64_t spins;
    uint32_t ticked;
    std::vector<std::unique_ptr<pc::PcClient>> askers;   // many from one address, never reading
    std::vector<int> silent;
    std::vector<std::unique_ptr<pc::PcClient>> unfinished;
};

using Command = rc::state::Command<Model, Sut>;

// Each command draws its values, or is given them (the reproductions below).
struct Ask : Command {
    Ask() : Ask(*rc::gen::inRange(0, kPcs), *rc::gen::inRange(1, 13), *rc::gen::arbitrary<bool>(),
                *rc::gen::weightedElement<int>({{6, 0}, {1, 20}}), *rc::gen::weightedElement<int>({{6, 0}, {1, 2}})) {}
    Ask(int p, int n, bool c, int j = 0, int k = 0) : pc(p), pieces(n), crossed(c), joiners(j), cards(k)
    {
        header.b4 = *rc::gen::arbitrary<uint8_t>();
        header.b5 = *rc::gen::arbitrary<uint8_t>();
        header.mode = *rc::gen::inRange<uint8_t>(1, 255);
        header.sub = *rc::gen::arbitrary<uint8_t>();
        header.b8 = *rc::gen::arbitrary<uint8_t>();
    }
    int pc, pieces;
    bool crossed;
    int joiners, cards;
    pc::Frame header;
    void run(const Model&, Sut& s) const override
    {
        RC_CLASSIFY(cards > 0 && asksCards(pc), "a request behind the PC's card requests");
        RC_CLASSIFY(joiners > 0 && pc % 4 >= 2 && pc < 8, "frames begun by one address between a PC's pieces");
        s.ask(pc, pieces, crossed, header, joiners, cards);
    }
    void show(std::ostream& os) const override { os << "Ask(pc " << pc << ", " << pieces << " pieces, crossed " << crossed << ", " << joiners << " joiners, " << cards << " cards)"; }
};

// A connection that asks for large replies and never reads one.
struct NoReads : Command {
    NoReads() : NoReads(*rc::gen::inRange(0, 2), *rc::gen::inRange(1, 401), -1) {}
    NoReads(int l, int n, int w = 0) : link(l), reads(n), watch(w < 0 ? n >= 390 : w > 0) {}
    int link, reads;
    bool watch;   // its replies fill every buffer on the way: its queue stalls, it is closed
    void checkPreconditions(const Model& m) const override { RC_PRE(m.others[link] < kOthersMax && m.noReads[link] < 8); }
    void apply(Model& m) const override { ++m.others[link], ++m.noReads[link]; }
    void run(const Model&, Sut& s) const override
    {
        const int fd = s.connectTcp(link);
        s.silent.push_back(fd);
        Bytes all;
        for (int k = 0; k < reads; ++k) {
            const Bytes w = pc::wire(pc::readRam(0xFE000000u, 60000));
            all.insert(all.end(), w.begin(), w.end());
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::send(fd, all.data(), all.size(), MSG_NOSIGNAL);
        RC_CLASSIFY(watch, "a reply queue stalls");
        // Dropped once its queue has not moved for STALL_CLOSE_TICKS: watched without reading
        // (a read would move it) until the drop, while what it has been sent keeps growing
        // and for the stall and a reply's bound after. One still waiting for a place, never
        // read, has nothing that can stall.
        int queued = 0;
        bool dropped = false;
        for (uint32_t from = s.world.ticked, k = 0; watch && !dropped; ++k) {
            const uint32_t bound = TcpServer::STALL_CLOSE_TICKS + pc::PcClient::kReplyWaitMs / 10;
            RC_ASSERT(queued == 0 || s.world.ticked - from < bound);
            if (queued == 0 && k >= 1500)
                break;
            pollfd p{fd, POLLRDHUP, 0};
            dropped = ::poll(&p, 1, 10) > 0 && (p.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0;
            int now = 0;
            ::ioctl(fd, FIONREAD, &now);
            from = now != std::exchange(queued, now) ? uint32_t(s.world.ticked) : from;
        }
        Bytes buf(1 << 16);
        ssize_t n = 0;
        while (dropped && (n = ::recv(fd, buf.data(), buf.size(), 0)) > 0) {
        }
        RC_ASSERT(!dropped || n == 0 || errno == ECONNRESET);
    }
    void show(std::ostream& os) const override { os << "NoReads(" << reads << " on link " << link << ")"; }
};

// Senders (each its own port) that begin frames on a UDP port and never finish them.
struct Unfinished : Command {
    int link = *rc::gen::inRange(2, 4), senders = *rc::gen::inRange(1, 5);
    void run(const Model&, Sut& s) const override
    {
        for (int k = 0; k < senders; ++k)
            s.begin(link);
    }
};

// The cards of a port answer at once, after 1 s, after 3.5 s (past the wait) or never.
struct Cards : Command {
    Cards() : Cards(*rc::gen::inRange(0, 4), *rc::gen::weightedElement<int>({{2, Prompt}, {1, Slow}, {1, Late}, {2, Silent}})) {}
    Cards(int p, int b) : port(p), behaviour(b) {}
    int port, behaviour;
    void run(const Model&, Sut&) const override
    {
        sim::ReceivingCardModel::setFault(0, port, behaviour == Silent ? sim::ReceivingCardModel::Fault::Silent : sim::ReceivingCardModel::Fault::None);
        sim::ReceivingCardModel::setDelayUs(0, port, behaviour == Slow ? 1000000 : behaviour == Late ? 3500000 : 0);
        RC_TAG(behaviour == Prompt ? "cards prompt" : behaviour == Slow ? "cards slow" : behaviour == Late ? "cards late" : "cards silent");
    }
    void show(std::ostream& os) const override { os << "Cards(port " << port << ", " << behaviour << ")"; }
};

// PCs ask cards at once (card 0-2 of port 0-3: card 2 is on port 2 only) and wait up to
// waitMs: what comes is an answer to a request of their own. `must`: the answer comes.
struct CardAsk : Command {
    CardAsk()
    {
        for (int i = 0; i < kPcs; ++i)
            if (asksCards(i) && *rc::gen::arbitrary<bool>())
                who.push_back({i, *rc::gen::inRange(0, 4), *rc::gen::inRange(0, 3)});
        waitMs = *rc::gen::weightedElement<int>({{4, 0}, {2, 300}, {1, 1500}});
        again = *rc::gen::weightedElement<bool>({{6, false}, {1, true}});
        drawn = true;
    }
    CardAsk(std::vector<std::array<int, 3>> w, int ms, bool m, bool a = false) : who(std::move(w)), waitMs(ms), must(m), again(a) {}
    std::vector<std::array<int, 3>> who;   // PC, port, card
    int waitMs = 0;
    bool must = false, again = false, drawn = false;   // again: with the last request's tag
    void run(const Model&, Sut& s) const override
    {
        // A drawn PC asks again only once its last card request was answered or given up by
        // its next frame: card frames of a PC wait behind its own wait, and what it asks next
        // behind them.
        std::vector<std::array<int, 3>> who;
        for (const auto& w : this->who)
            if (!std::exchange(s.waiting[w[0]], true) || !drawn)
                who.push_back(w);
        for (const auto& w : who) {
            if (!s.pcs[w[0]])
                s.connect(w[0]);
            RC_ASSERT(s.pcs[w[0]]->sendRaw(s.cardAsk(w[0], w[1], w[2], again)));
        }
        RC_CLASSIFY(who.size() > 1, "cards asked at once");
        RC_CLASSIFY(again, "a card asked again with the same tag");
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(must ? 15000 : waitMs);
        for (const auto& w : who) {
            bool got = false;
            Bytes raw, plain;
            pc::Frame f;
            while (!got && s.ear(w[0]).receiveRaw(raw, int(std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count())))) {
                RC_ASSERT(pc::unescape(raw, plain) && pc::decode(plain, f) && s.own(*s.pcs[w[0]], f));
                got = f.b5 == s.asked.by[endOf(*s.pcs[w[0]])].back().tag;
            }
            RC_ASSERT(got || !must);
            s.waiting[w[0]] = !got;
            RC_CLASSIFY(got, "card answered");
        }
        s.noSpinning();
    }
    void show(std::ostream& os) const override
    {
        for (const auto& w : who)
            os << "CardAsk(pc " << w[0] << " port " << w[1] << " card " << w[2] << ") ";
        os << waitMs << " ms" << (must ? ", must" : "") << (again ? ", again" : "");
    }
};

// One PC with many connections (TCP g_port) or sockets (UDP 5008) from address h, each
// asking `asks` cards at once in one write (a card that is not there never answers), then
// (tail) the controller, and never reading. Rare: enough sockets of one address to fill
// its share of kept card requests, or card frames enough to fill the held frames.
struct Many : Command {
    Many() : Many(*rc::gen::element(0, 2), *rc::gen::weightedElement<int>({{8, 1}, {4, 6}, {1, 32}}),
                  *rc::gen::weightedElement<int>({{8, 1}, {4, 10}, {1, 300}}), *rc::gen::inRange(2, 11), *rc::gen::arbitrary<bool>()) {}
    Many(int l, int n, int a, int hh, bool t = false) : link(l), count(n), asks(a), h(hh), tail(t) {}
    int link, count, asks, h;
    bool tail;
    void checkPreconditions(const Model& m) const override
    {
        RC_PRE(link == 2 || (m.others[0] + count <= kOthersMax && m.cardFrames + count * asks <= 1000));
    }
    void apply(Model& m) const override { m.others[0] += link == 0 ? count : 0, m.cardFrames += link == 0 ? count * asks : 0; }
    void run(const Model&, Sut& s) const override
    {
        RC_CLASSIFY(count * asks >= 32, "one address fills a shared list");
        RC_CLASSIFY(tail && asks > 1, "a frame behind held card frames");
        Bytes out;
        for (int k = 0; k < asks + tail; ++k) {
            const Bytes w = k == asks ? pc::wire(pc::readRam(0x600440, 2)) : cardFrame(k % 4, 5 - k % 2 * 4, uint8_t(0x40 + k));
            out.insert(out.end(), w.begin(), w.end());
        }
        for (int k = 0; k < count; ++k) {
            s.askers.push_back(s.open(link, h));
            RC_ASSERT(s.askers.back());
            for (const Bytes& w : link == 0 ? std::vector<Bytes>{out} : linktest::frames(out))
                RC_ASSERT(s.askers.back()->sendRaw(link == 0 ? w : pc::escape(w)));
        }
        s.opened(h);
    }
    void show(std::ostream& os) const override { os << "Many(" << count << " on link " << link << " from " << host(h) << ", " << asks << " asks" << (tail ? ", tail)" : ")"); }
};

// The cards' waits run out at once, one after another, until no request is kept or due.
struct Drain : Command {
    void run(const Model&, Sut& s) const override { s.drain(); }
};

// PCs on the four network links at once read the FPGA's default RAM (33), which nobody
// writes, and write and read back each a RAM of its own, picked by the type and index bits
// above the 12 address bits: zoom RAMs 34 and 35, the transmit image's RAM 50, the receive
// image's RAM 16. All go through RAM images the links share. Each read answers the FPGA's
// bytes as they are, each write reaches the FPGA whole. Meanwhile another PC's cards answer
// through the receive path, and the PCs on TCP write the LED size (width and height of
// four equal bytes) and read it from the description: always as one PC wrote it.
struct RamRace : Command {
    int rounds = *rc::gen::weightedElement<int>({{2, 4}, {1, 40}});
    int length = *rc::gen::weightedElement<int>({{2, *rc::gen::inRange(1, 64)}, {1, 1024}});
    uint8_t seed = *rc::gen::arbitrary<uint8_t>();
    void run(const Model&, Sut& s) const override
    {
        RC_TAG(rounds > 4 ? "FPGA RAM raced, long" : "FPGA RAM raced");
        const std::pair<uint32_t, int> kOwn[4] = {{0x02001000, 34}, {0x02002000, 35}, {0x04000000, 50}, {0x0100F000, 16}};
        Bytes fixed(1024);
        for (size_t k = 0; k < fixed.size(); ++k)
            fixed[k] = uint8_t(k * 7 + seed) | 1;   // never all 0xFF
        sim::FpgaModel::setRam(0, 33, 0, fixed);
        auto fpgaSide = [](pc::Frame f, int i) {
            f.dest = 0x0001;   // not the controller: the FPGA's RAM
            f.src = uint16_t(0xF000 + i);
            return f;
        };
        for (int i = 0; i < 4; ++i)
            s.ask(i, 1, false, pc::Frame{0, 0, 0, 0, 1, 0, 0, 0, {}});   // each link up (a TCP PC closed to make room comes again)
        s.askers.push_back(s.open(2, 3));
        for (int k = 0; k < 8; ++k)
            RC_ASSERT(s.askers.back()->sendRaw(cardFrame(2, k % 3, uint8_t(0x50 + k))));
        uint8_t size[4];
        KelRamPara::p_kelrampara_config->copy_bytes(KelRamPara::kLedWidth, size, 4);
        std::set<uint8_t> sizes;   // written so far
        Bytes written[4];
        for (int r = 0; r < rounds; ++r) {
            // Each round every PC sends its three requests at once, then takes the replies.
            const uint32_t at = uint32_t(r * 131 % (1025 - length));
            std::vector<Bytes> expected[4];
            for (int i = 0; i < 4; ++i) {
                const uint32_t own = kOwn[i].first | at;
                Bytes& mine = written[i] = Bytes(size_t(length));
                for (size_t k = 0; k < mine.size(); ++k)
                    mine[k] = uint8_t(seed + r * 3 + i * 5 + k);
                Bytes out;
                for (const pc::Frame& f : {pc::readRam(0x02000000u | at, uint16_t(length)), pc::writeRam(own, mine), pc::readRam(own, uint16_t(length))}) {
                    const Bytes w = pc::wire(fpgaSide(f, i));
                    out.insert(out.end(), w.begin(), w.end());
                }
                const uint8_t led = uint8_t(seed + r * 7 + i) | 1;
                for (const pc::Frame& f : {pc::writeRam(KelRamPara::kLedWidth, Bytes(4, led)), pc::readRam(0xA0000080u, 4)}) {
                    const Bytes w = pc::wire(f);
                    out.insert(out.end(), w.begin(), i < 2 ? w.end() : w.begin());
                }
                if (i < 2)
                    sizes.insert(led);
                for (const Bytes& w : i < 2 ? std::vector<Bytes>{out} : linktest::frames(out))
                    RC_ASSERT(s.pcs[i]->sendRaw(i < 2 ? w : pc::escape(w)));
                Bytes read = {0}, back = {0};
                read.insert(read.end(), fixed.begin() + at, fixed.begin() + at + length);
                back.insert(back.end(), mine.begin(), mine.end());
                expected[i] = {read, {0}, back};
                if (i < 2)
                    expected[i].insert(expected[i].end(), {{0}, {}});   // {}: a size as one PC wrote it
            }
            for (int i = 0; i < 4; ++i) {
                for (const Bytes& want : expected[i]) {
                    pc::Frame f;
                    RC_ASSERT(pc::decode(s.next(i), f));
                    const bool asWritten = f.data.size() == 5 && f.data[0] == 0 && f.data[1] == f.data[2] && f.data[1] == f.data[3]
                                           && f.data[1] == f.data[4] && sizes.count(f.data[1]);
                    RC_ASSERT((want.empty() ? asWritten : f.data == want));
                }
                s.gaveUp(*s.pcs[i]);
                RC_ASSERT(sim::FpgaModel::ram(0, kOwn[i].second, at, uint32_t(length)) == written[i]);
            }
        }
        EXPECT_EQ(KelRamPara::p_kelrampara_config->KelRamParaDeal(size, 4, KelRamPara::kLedWidth), 0);
        s.noSpinning();
    }
    void show(std::ostream& os) const override { os << "RamRace(" << rounds << " rounds of " << length << " bytes)"; }
};

// The PC on the line stops reading: it asks for two replies of 60,000 bytes, more than
// the line holds, then sends a card a wrapped frame (acknowledged at once) for a port
// without cards; while the line cannot take the acknowledgement, PCs on TCP and UDP ask
// cards that answer. Then it reads what came and connects again.
struct Line : Command {
    void run(const Model&, Sut& s) const override
    {
        s.ask(8, 1, false, pc::Frame{0, 0, 0, 0, 1, 0, 0, 0, {}});   // no card wait of the line left
        Bytes out;
        for (const Bytes& w : {pc::wire(pc::readRam(0xFE000000u, 60000)), pc::wire(pc::readRam(0xFE000000u, 60000)), cardFrame(1, 0, 0x45, 2, true)})
            out.insert(out.end(), w.begin(), w.end());
        RC_ASSERT(s.pcs[8]->sendRaw(out));
        for (int k = 0; k < 3000 && s.world.line->pending() != 1; ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));   // the line thread's own state, polled
        sim::ReceivingCardModel::setFault(0, 2, sim::ReceivingCardModel::Fault::None);
        sim::ReceivingCardModel::setDelayUs(0, 2, 0);
        CardAsk({{0, 2, 0}, {2, 2, 1}}, 0, true).run(Model{}, s);
        for (Bytes raw; s.pcs[8]->receiveRaw(raw, 500);) {
        }
        s.pcs[8].reset();
        s.noSpinning();
    }
};

// A card request for port 8, whose transmitter stays busy for 3 s, from a PC on TCP or UDP,
// while the PCs of the other links ask the controller: they are answered in time, and the
// port-path lock stays within reach.
// With the clock and the manager standing still, every other PC is answered, the one of the
// same link port too, and the packet is not out yet: no link waits for the transmitter.
// Then the manager's tick sends it (300 ticks or 3 s on).
struct Busy : Command {
    int pc = *rc::gen::element(0, 2);
    void run(const Model&, Sut& s) const override
    {
        RC_TAG("a transmitter stays busy");
        if (!s.pcs[pc])
            s.connect(pc);
        auto sentOn8 = [] {
            for (const auto& op : sim::FpgaModel::log(0))
                if (op.kind == sim::FpgaModel::OpKind::Send && op.port == 8)
                    return true;
            return false;
        };
        for (s.world.frozen = true; !s.world.still;)
            std::this_thread::yield();
        sim::FpgaModel::clearLog();
        RC_ASSERT(s.pcs[pc]->sendRaw(cardFrame(8, 0, 0x46)));
        for (int i : {1, 3, 8, pc + 4})
            s.ask(i, 1, false, pc::Frame{0, 0, 0, 0, 1, 0, 0, 0, {}});
        RC_ASSERT(!sentOn8());
        s.world.frozen = false;
        for (int k = 0; k < 3000 && !sentOn8(); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RC_ASSERT(sentOn8());
    }
    void show(std::ostream& os) const override { os << "Busy(pc " << pc << ")"; }
};

// A TCP PC asks a card that answers after 0.5 s and closes its connection; a new one is
// given its socket number at once (the program's descriptors are this process's) and hears
// nothing, the card's answer least of all.
struct Gone : Command {
    void run(const Model&, Sut& s) const override
    {
        sim::ReceivingCardModel::setFault(0, 2, sim::ReceivingCardModel::Fault::None);
        sim::ReceivingCardModel::setDelayUs(0, 2, 500000);
        s.ask(0, 1, false, pc::Frame{0, 0, 0, 0, 1, 0, 0, 0, {}});
        // The server's end of the PC's connection: this process's socket that faces it.
        sockaddr_in mine{}, theirs{}, a{}, b{};
        socklen_t n = sizeof a;
        ::getsockname(s.pcs[0]->fd(), reinterpret_cast<sockaddr*>(&mine), &n);
        ::getpeername(s.pcs[0]->fd(), reinterpret_cast<sockaddr*>(&theirs), &n);
        int end = 3;
        for (; end < 4096; ++end)
            if (::getpeername(end, reinterpret_cast<sockaddr*>(&a), &(n = sizeof a)) == 0 && ::getsockname(end, reinterpret_cast<sockaddr*>(&b), &(n = sizeof b)) == 0
                && a.sin_port == mine.sin_port && b.sin_port == theirs.sin_port && end != s.pcs[0]->fd())
                break;
        RC_ASSERT(end < 4096);
        const int next = ::socket(AF_INET, SOCK_STREAM, 0);
        RC_ASSERT(s.pcs[0]->sendRaw(s.cardAsk(0, 2, 0)));
        s.gaveUp(*s.pcs[0]);
        s.waiting[0] = false;
        s.pcs[0].reset();
        auto open = [end] { return ::fcntl(end, F_GETFD) != -1; };
        for (int k = 0; k < 2000 && open(); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));   // the server closes its end
        std::vector<int> below;   // every free number under it taken: the next accept is given it
        for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0; below.push_back(fd))
            if (fd >= end) {
                ::close(fd);
                break;
            }
        if (!open())
            RC_ASSERT(connectLoopback(next, s.ports[0]) == 0);
        for (int k = 0; k < 2000 && !open(); ++k)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));   // the server accepts
        for (int fd : below)
            ::close(fd);
        Bytes got(64);
        timeval bound{1, 0};
        ::setsockopt(next, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
        RC_ASSERT(::recv(next, got.data(), got.size(), 0) <= 0);
        ::close(next);
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
    kel_test::TestRoot root(false);   // the cards' delays on the clock the ticks follow
    udptest::freshParameters();
    fpga_test::BringUpWorld world;
    sim::SimBoard::setScenario("fpga.sendbusy", "16");   // port 8's transmitter stays busy
    auto manager = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = manager.get();
    ASSERT_EQ(manager->initialize(), 0);
    manager->softinit();
    ASSERT_TRUE(fpga_test::BringUpWorld::bringUp(*manager));
    sim::ReceivingCardModel::setCards(0, 2, 3);
    sim::ReceivingCardModel::setCards(0, 3, 1);
    int offset = 0;
    auto udp = udptest::openLink(offset);
    std::unique_ptr<networkManage> tcp;
    g_port = 5005;
    ASSERT_GT(kel_test::bindPrivatePorts(10002, [&](int) {
        tcp = std::make_unique<networkManage>();
        tcp->open_servers();
        return tcp->server(0)->listenSocket() >= 0 && tcp->server(1)->listenSocket() >= 0;
    }), 0);
    ASSERT_TRUE(udp && udp->start_threads() == 0 && tcp->start_threads() == 0);
    auto serial = std::make_unique<Kx_uart_inout>();
    ASSERT_EQ(serial->usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    const uint16_t ports[] = {tcp->server(0)->localPort(), tcp->server(1)->localPort(), uint16_t(5008 + offset), uint16_t(10005 + offset)};
    World links{ports, tcp.get(), udp.get(), manager.get(), serial.get()};
    std::atomic<bool> stop{false};
    std::thread clock([&] {
        for (; !stop; G_timeTicks = G_timeTicks + !links.frozen, links.ticked += !links.frozen) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if ((links.still = links.frozen.load()))
                continue;
            const auto asked = std::chrono::steady_clock::now();
            std::lock_guard<std::mutex> path(manager->port_path_mutex);   // the manager's loop
            const int64_t waited = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - asked).count();
            links.lockWaitUs = std::max<int64_t>(links.lockWaitUs, waited);
            manager->reg_IRQ_Dealwith(0, 1);
        }
    });
    bool reproduce = true;   // in the first case only: they take real seconds of card waits
    Asked asked;
    kel_test::checkProperty("fair links", [&] {
        // The reproductions: eight connections
        // asking for 400 replies of 60 KB each and reading none (one's queue stalls); PCs' frames in datagrams
        // crossing on each UDP port; a late answer of a card while another PC asks it again,
        // a withdrawn request's answer while another asks with its tag, requests behind a
        // PC's own card requests; ten requests in one write to a card that is not there, and six sockets of
        // one PC asking such cards, while others ask the controller, one sender's 300 card
        // frames, frames behind held ones; PCs on two links asking a silent card (one twice),
        // then another asking a prompt one behind them; FPGA RAM raced; one address's 32 requests
        // kept ahead of a PC's, then nine addresses filling the kept requests (the TCP places
        // shared evenly are the link fuzz target's); one address beginning frames between a
        // PC's pieces; a line PC that stops reading, a busy
        // transmitter, a closed client's card answer; two PCs of one link waiting at once.
        using Cmds = std::vector<std::shared_ptr<const Command>>;
        auto cmd = [](auto c) { return std::shared_ptr<const Command>(std::make_shared<decltype(c)>(c)); };
        Cmds reading, crossing = {cmd(Ask(2, 2, true)), cmd(Ask(3, 2, true)), cmd(Ask(6, 3, true)), cmd(Ask(7, 2, true))};
        for (int k = 0; k < 8; ++k)
            reading.push_back(cmd(NoReads(0, 400, k == 0)));
        for (int pc : {0, 4, 1, 0})
            reading.push_back(cmd(Ask(pc, 1, false)));
        Cmds late = {cmd(Cards(0, Late)), cmd(CardAsk({{0, 0, 0}}, 2000, false)), cmd(Cards(0, Slow)),
                     cmd(CardAsk({{2, 0, 0}}, 0, true)), cmd(Ask(2, 1, false)), cmd(CardAsk({{4, 0, 0}}, 0, false)), cmd(Ask(4, 1, false)),
                     cmd(CardAsk({{2, 0, 0}}, 0, true, true)), cmd(Ask(4, 1, false)), cmd(Ask(2, 1, false, 0, 2)), cmd(CardAsk({{2, 2, 0}}, 0, true)),
                     cmd(Ask(0, 1, false, 0, 2)), cmd(CardAsk({{0, 2, 0}}, 0, true)), cmd(Cards(0, Prompt))};
        Cmds unsent = {cmd(Cards(1, Silent)), cmd(CardAsk({{0, 1, 1}, {6, 1, 1}}, 50, false)), cmd(CardAsk({{0, 1, 1}}, 500, false)),
                       cmd(CardAsk({{2, 0, 0}}, 0, true)), cmd(Cards(1, Prompt))};
        Cmds crowd = {cmd(Ask(4, 1, false)), cmd(RamRace())};
        Cmds held = {cmd(Many(0, 1, 10, 2)), cmd(Ask(4, 1, false)), cmd(Many(2, 6, 1, 2)), cmd(Ask(6, 1, false)), cmd(Ask(8, 1, false)),
                     cmd(Many(2, 1, 300, 2)), cmd(Ask(2, 1, false)), cmd(Ask(6, 1, false)), cmd(Many(0, 1, 3, 2, true)),
                     cmd(Many(2, 1, 3, 3, true)), cmd(Ask(4, 1, false)), cmd(Ask(6, 1, false)), cmd(Drain())};
        Cmds kept = {cmd(Many(2, 32, 1, 2)), cmd(CardAsk({{2, 2, 0}}, 0, true))};
        for (int h = 3; h <= 10; ++h)
            kept.push_back(cmd(Many(2, 32, 1, h)));
        kept.insert(kept.end(), {cmd(CardAsk({{0, 2, 1}}, 0, true)), cmd(Drain())});
        Cmds stalls = {cmd(Drain()), cmd(Line()), cmd(Drain()), cmd(Busy()), cmd(Drain()), cmd(Gone()), cmd(Cards(2, Slow)),
                                             cmd(CardAsk({{6, 2, 0}, {2, 2, 1}}, 0, true)), cmd(CardAsk({{4, 2, 0}, {0, 2, 1}}, 0, true)),
                                             cmd(CardAsk({{0, 2, 2}, {4, 2, 0}}, 0, true)), cmd(Cards(2, Prompt))};
        Cmds waiting = {cmd(Ask(0, 1, false)), cmd(Ask(4, 1, false)), cmd(Unfinished()),
                        cmd(Ask(2, 2, false, 20)), cmd(Ask(6, 3, true, 20)), cmd(Ask(3, 2, false, 20))};
        for (const Cmds* seq : {&reading, &crossing, &late, &unsent, &crowd, &held, &kept, &waiting, &stalls}) {
            Sut sut(links, asked);
            if (reproduce)
                rc::state::runAll(*seq, Model{}, sut);
        }
        reproduce = false;
        Sut sut(links, asked);
        rc::state::check(Model{}, sut,
                         rc::state::gen::execOneOfWithArgs<Ask, Ask, Ask, CardAsk, CardAsk, Cards, Many, NoReads, Unfinished, Clock, RamRace, Drain>());
    }, {kel_test::underEmulation() ? 2 : 6, 24});
    stop = true;
    clock.join();
    serial.reset();
    tcp.reset();
    udp.reset();
    fpga_manage::p_fpga_manage = nullptr;
    manager.reset();
    udptest::dropParameters();
}

namespace {
// Replies c has received so far, taken without waiting.
size_t replies(pc::PcClient& c)
{
    size_t n = 0;
    for (Bytes raw; c.receiveRaw(raw, 0);)
        ++n;
    return n;
}
double cpuSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
} // namespace

// Whose turn it is, pass by pass, on UDP 10005 and TCP 10002 driven without their threads:
// addresses queue frames from up to 16 ports or 31 connections, up to and past the UDP
// list's cap, alone or beside others, and PCs of other addresses send one frame behind
// them. Each such PC is answered within one turn of the addresses waiting, however long
// their queues, and one of such an address within one turn of each of its senders (which
// frames the UDP list keeps is the link fuzz target's model); every TCP
// frame is answered. One TCP client's burst of 9,000
// frames in one write is answered in as many passes, each costing the same.
TEST(FairLinks, EveryAddressTakesItsTurnHoweverManyFramesAnotherQueues)
{
    kel_test::TestRoot root;
    udptest::freshParameters();
    int offset = 0;
    auto udp = udptest::openLink(offset);
    ASSERT_TRUE(udp);
    std::unique_ptr<networkManage> tcp;
    ASSERT_GT(kel_test::bindPrivatePorts(10002, [&](int) {
        tcp = std::make_unique<networkManage>();
        tcp->open_servers();
        return tcp->server(1)->listenSocket() >= 0;
    }), 0);
    const uint16_t port = tcp->server(1)->localPort();
    const Bytes ask = pc::wire(pc::readRam(0x600440, 2));
    // A backlog as long as one pass takes, where the host lets the socket hold it (a small
    // datagram takes under 1 KiB of the socket's room).
    int room = 0;
    socklen_t n = sizeof room;
    ::getsockopt(udp->server(udpnetManage::PORT_10005)->socketFd(), SOL_SOCKET, SO_RCVBUF, &room, &n);
    const size_t backlog = std::min(udpnetManage::MAX_DRAIN, size_t(room) / 1024);
    std::printf("UDP backlog ahead of the PCs: %zu datagrams\n", backlog);
    auto placed = [&](size_t n) {
        for (int k = 0; k < 500 && (tcp->server(1)->clients().size() != n || tcp->server(1)->waiting() != 0); ++k)
            tcp->accept_pass_10002(0);
        return tcp->server(1)->clients().size() == n;
    };
    {
        auto c = pc::PcClient::tcp("127.0.0.1", port, host(2));
        ASSERT_TRUE(c && placed(1));
        Bytes burst;
        for (int k = 0; k < 9000; ++k)
            burst.insert(burst.end(), ask.begin(), ask.end());
        std::thread writer([&] { EXPECT_TRUE(c->sendRaw(burst)); });
        size_t got = 0;
        int passes = 0;
        double early = 0, late = 0, rest = 0;   // CPU of the passes answering frames 500-1999 and 7000-8499
        for (; got < 9000 && passes < 9200; ++passes) {
            const double t = cpuSeconds();
            tcp->accept_pass_10002(100);   // waits only while the writer is behind
            (got >= 500 && got < 2000 ? early : got >= 7000 && got < 8500 ? late : rest) += cpuSeconds() - t;
            got += replies(*c);
        }
        writer.join();
        // Against 1,500 passes of one frame each, sent one at a time.
        double alone = 0;
        for (int k = 0; k < 1500; ++k) {
            ASSERT_TRUE(c->sendRaw(ask));
            for (int n = 0; n < 10 && !replies(*c); ++n) {
                const double t = cpuSeconds();
                tcp->accept_pass_10002(0);
                alone += cpuSeconds() - t;
            }
        }
        EXPECT_EQ(got, 9000u);
        EXPECT_LE(passes, 9100);
        EXPECT_LT(std::max(early, late), 3 * alone + 0.05) << "a pass costs more the more frames wait";
        std::printf("9,000 frames: %d passes, CPU of 1,500 passes %.3f s early, %.3f s late, %.3f s one frame at a time\n", passes, early, late, alone);
    }
    kel_test::checkProperty("turns", [&] {
        const int hosts = *rc::gen::weightedElement<int>({{3, 1}, {1, 2}, {1, 8}});
        const int ports = *rc::gen::weightedElement<int>({{1, 1}, {1, 4}, {3, 16}});
        const int each = *rc::gen::weightedElement<int>({{1, 1}, {1, 8}, {3, 16}, {2, 40}});
        const int probes = *rc::gen::inRange(1, 4);
        const bool interleaved = *rc::gen::arbitrary<bool>();
        const int conns = *rc::gen::weightedElement<int>({{1, 1}, {1, 8}, {3, 31 - probes}});
        const int frames = *rc::gen::weightedElement<int>({{1, 1}, {3, 16}});
        const int offered = std::min(hosts * ports * each, int(backlog) - probes);
        // The first PC sends from the first flooding address (while the list has room for it).
        const bool sharing = *rc::gen::arbitrary<bool>() && offered + probes <= int(udpnetManage::MAX_FRAMES);
        RC_CLASSIFY(offered > int(udpnetManage::MAX_FRAMES), hosts == 1 ? "UDP list past its cap, one address" : "UDP list past its cap, many");
        RC_CLASSIFY(each > int(udpnetManage::MAX_FRAMES_PER_SENDER), "UDP senders past their share");
        RC_CLASSIFY(conns > 16, "TCP: many connections of the others");

        // UDP: each sender a socket of its own address, so its replies come back to it. The
        // others' datagrams fill the socket (as much as one pass takes) before the PCs' come.
        std::vector<std::unique_ptr<pc::PcClient>> senders, pcs;
        for (int k = 0; k < hosts * ports; ++k)
            senders.push_back(pc::PcClient::udp("127.0.0.1", uint16_t(10005 + offset), host(2 + k / ports)));
        for (int k = 0; k < probes; ++k)
            pcs.push_back(pc::PcClient::udp("127.0.0.1", uint16_t(10005 + offset), host(sharing && k == 0 ? 2 : 20 + k)));
        for (int k = 0; k < offered; ++k)
            RC_ASSERT(senders[size_t(interleaved ? k % (hosts * ports) : k / each)]->sendRaw(ask));
        for (auto& c : pcs)
            RC_ASSERT(c->sendRaw(ask));
        std::vector<size_t> answered(pcs.size());
        for (int pass = 1; pass <= 2 * int(udpnetManage::MAX_FRAMES) && (pass == 1 || !udp->joined(1).empty()); ++pass) {
            udp->udpaccept_pass_10005(0);
            for (size_t k = 0; k < pcs.size(); ++k)
                answered[k] = answered[k] ? answered[k] : replies(*pcs[k]) ? size_t(pass) : 0;
        }
        // Within one turn of every address waiting; sharing an address, within one turn of
        // each of its senders.
        for (size_t k = 0; k < answered.size(); ++k)
            RC_ASSERT(answered[k] >= 1 && answered[k] <= size_t(hosts + probes) * (sharing && k == 0 ? size_t(ports + 1) : 1));

        // TCP: every connection placed, then the others' frames sent, each PC's one last. The
        // previous case's connections are seen closed first, or a count of clients could
        // match while one of these still waits to be accepted.
        RC_ASSERT(placed(0));
        std::vector<std::unique_ptr<pc::PcClient>> others;
        pcs.clear();
        for (int k = 0; k < conns; ++k)
            others.push_back(pc::PcClient::tcp("127.0.0.1", port, host(2 + k % hosts)));
        for (int k = 0; k < probes; ++k)
            pcs.push_back(pc::PcClient::tcp("127.0.0.1", port, host(20 + k)));
        RC_ASSERT(placed(size_t(conns + probes)));
        Bytes out;
        for (int k = 0; k < frames; ++k)
            out.insert(out.end(), ask.begin(), ask.end());
        for (auto& c : others)
            RC_ASSERT(c->sendRaw(out));
        for (auto& c : pcs)
            RC_ASSERT(c->sendRaw(ask));
        // Every byte in the server's sockets before the first pass (a loaded host may hand
        // them over later): a PC's frame not yet there would wait a turn it never missed.
        for (auto* cs : {&others, &pcs})
            for (auto& c : *cs) {
                int left = 1;
                for (int k = 0; k < 5000 && ::ioctl(c->fd(), TIOCOUTQ, &left) == 0 && left > 0; ++k)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                RC_ASSERT(left == 0);
            }
        size_t all = 0, pcsAnswered = 0;
        for (int pass = 0; pass < 2000 && (all < size_t(conns * frames) || pcsAnswered < pcs.size()); ++pass) {
            tcp->accept_pass_10002(0);
            for (auto& c : others)
                all += replies(*c);
            for (auto& c : pcs) {
                if (replies(*c) == 0)
                    continue;
                // Behind one frame of each address at most, and the pass in which a loaded
                // host hands the server this PC's own frame late.
                RC_ASSERT(all <= 2 * size_t(hosts));
                ++pcsAnswered;
            }
        }
        RC_ASSERT(all == size_t(conns * frames) && pcsAnswered == pcs.size());
    }, {30, 100});
    tcp.reset();
    udp.reset();
    udptest::dropParameters();
}
