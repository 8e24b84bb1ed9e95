// Sequences of file (every type: uploads, read-backs, named starts, deletes), cloud-file,
// flash and network frames from three links (UDP, TCP, serial handlers) and two peers on
// each, all sharing the one transfer record and buffer, with the board clock moving on and
// peers' connections closing in between.
// Input: records [link: bits 0-1 handler, bit 2 peer, bit 3 event][group index][u16 length]
// [data]; an event has no data: an even index moves the clock on by 4 x the u16 ticks (past
// the 30 s idle time and the 20 minute life of a claim), an odd one closes the peer's
// connection (the link lets its transfers go; its next frame comes on a new connection).
// Blocks up to 64 KiB, inputs up to 256 KiB. A record with bit 4 of its first byte is an
// event of the links themselves: [0x10][op][u16 param] on a TCP client table fed through
// socket pairs (op 0 a connection comes from address param % 3, 7 from 3 + param, 1 one sends a frame or a
// stray byte (with param bit 2 a frame is read in a pass to come), 2 a reply of param bytes
// is queued for one, 3 one reads up to param bytes, 4 one's transfer begins or ends, 6 one
// shuts its end) or on UDP 10005's joining (op 5, a datagram of sender param % 32: an
// opener, a piece, a closer or one too short; senders 24-31 from 127.0.0.9, odd others from 127.0.0.1, even
// ones from 127.0.0.240).
// Promises: every reply is a well-formed frame that fits its link; nothing is copied past
// the shared buffer (the sanitizers watch); while one link and peer runs a 0xC0 upload or
// read, no other link or peer has a block of it accepted; a closed peer holds nothing; a
// watched stored file changes only in a sequence where some end was accepted. The table
// closes a client only for a newcomer (one with no frame 40 ticks after its place, before
// any with frames, or one whose last frame is 1000 ticks old and no reply waits, else one of an address that
// holds two places more than the newcomer's, or, for a newcomer of an address holding none,
// of an address holding the most (see taken); never a transfer's owner) or
// for a reply queue that has not moved for 200 ticks or would pass its bound; a newcomer
// waits or is closed only when the table is full as those rules say (past 64 waiting, see
// giver); a client reads its replies whole and in order; no frame of a closed client is left.
// A joined frame holds only its own sender's datagrams, and one is lost only when 16 others
// are joining as it begins and, of the addresses joining the most, its address began its
// latest frame the soonest after its one before, and its last datagram is the oldest. A
// sender lists 16 frames at most, and past 256 see giver.
#include "tests/fuzz/FuzzPc.h"
#include "tests/protocol/file_frames.h"

#include "core/global.h"
#include "core/kel_file_deal.h"

#include "protocol/tcpserver.h"
#include "protocol/udpnetmanage.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace {

using kel_fuzz::Bytes;
using namespace fileframes;

const uint8_t kGroups[] = {0xC0, 0xC0, 0xC0, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0x70, 0x71, 0x72, 0xA4};
const unsigned kLimits[] = {message_deal::REPLY_LIMIT_UDP, message_deal::REPLY_LIMIT_TCP,
                            message_deal::REPLY_LIMIT_SERIAL};
const char* const kWatched[] = {"/data/configs/alias.json", "/data/modes/MO01.json",  "/data/modes/MO02.json",
                                "/data/configs/cloud_cafile", "/data/configs/omenu.json", "/data/rcvrecovery/DIVU",
                                "/data/smartmapping/a.kxfile"};

std::string known(int i) { return "stored file " + std::to_string(i) + "\n"; }

void event(Bytes& seq, unsigned link, bool close, uint16_t param)
{
    seq.insert(seq.end(), {uint8_t(link | 8), uint8_t(close ? 1 : 0)});
    pc::put16(seq, param);
}

void add(Bytes& seq, unsigned link, uint8_t group, const Bytes& data)
{
    seq.push_back(uint8_t(link));
    seq.push_back(uint8_t(std::find(std::begin(kGroups), std::end(kGroups), group) - std::begin(kGroups)));
    pc::put16(seq, uint16_t(data.size()));
    seq.insert(seq.end(), data.begin(), data.end());
}

Bytes cloudStart(const char* name, uint32_t size, uint8_t flag)
{
    Bytes d(name, name + 4);
    pc::put32(d, size);
    d.push_back(flag);
    return d;
}

Bytes cloudBlock(uint16_t id, uint32_t offset, const Bytes& data)
{
    Bytes d;
    pc::put16(d, id);
    pc::put32(d, offset);
    pc::put16(d, uint16_t(data.size()));
    d.insert(d.end(), data.begin(), data.end());
    return d;
}

void makeSeeds(const std::string& dir)
{
    // A cloud CA upload, an ask with a 4 GiB size, and blocks that would run past the buffer.
    Bytes seq;
    auto seed = [&](const std::string& name) {
        kel_fuzz::writeSeed(dir, name, seq);
        seq.clear();
    };
    add(seq, 0, 0xCC, cloudStart("F002", 30000, 1));
    add(seq, 0, 0xCC, cloudStart("F002", 0xFFFFFFF0u, 0));
    add(seq, 0, 0xC5, cloudBlock(101, 0, Bytes(30000, 0x41)));
    add(seq, 0, 0xC5, cloudBlock(101, 30000, Bytes(60000, 0x42)));
    add(seq, 1, 0xC5, cloudBlock(101, 30000, Bytes(100, 0x43)));
    add(seq, 0, 0xC6, {101, 0, 0x30, 0x75, 0, 0});
    seed("links-cloud-ask");

    // Uploads that cross: MO02 from UDP, MO01 from TCP, blocks and ends from both, then a
    // second peer on UDP.
    const Bytes b(5000, 0x62), a(5000, 0x61);
    add(seq, 0, 0xC0, start("MO02", 0, 5000));
    add(seq, 1, 0xC0, start("MO01", 0, 5000));
    add(seq, 1, 0xC0, block(0, a, 0, a.size()));
    add(seq, 0, 0xC0, block(0, b, 0, b.size()));
    add(seq, 4, 0xC0, block(0, a, 0, a.size()));
    add(seq, 4, 0xC0, end(md5Of(a)));
    add(seq, 1, 0xC0, end(md5Of(a)));
    add(seq, 0, 0xC0, end(md5Of(b)));
    seed("links-crossing");

    // A named start and a read on another link; flash and network frames between.
    add(seq, 2, 0xC0, named(7, "scan", 13, 200));
    add(seq, 1, 0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'});
    add(seq, 1, 0xC0, {5, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0});
    add(seq, 0, 0x72, {0x10, 0x00, 0x02, 0x00, 0x01, 0x00});
    add(seq, 0, 0xA4, {0x10});
    add(seq, 2, 0xC0, end(md5Of({})));
    add(seq, 1, 0xC8, {'F', '0', '0', '2'});
    add(seq, 1, 0xC9, {101, 0, 0, 0, 0, 0});
    seed("links-named-read");

    // A boot image start every 25 s, empty blocks, a cloud file's empty block: another
    // link's start after 30 s.
    add(seq, 0, 0xC0, start("FBOT", 0, 64));
    event(seq, 0, false, 625);
    add(seq, 0, 0xC0, start("FBOT", 0, 64));
    add(seq, 1, 0xC0, start("ALIS", 0, 100));
    event(seq, 0, false, 125);
    add(seq, 1, 0xC0, start("ALIS", 0, 100));
    add(seq, 0, 0xC0, block(0, Bytes(50, 0x35), 0, 50));
    add(seq, 4, 0xC0, start("MO03", 0, 100));
    add(seq, 4, 0xC0, block(0, {}, 0, 0));
    event(seq, 0, false, 750);
    add(seq, 4, 0xCC, cloudStart("F002", 100, 1));
    add(seq, 4, 0xC5, cloudBlock(101, 0, {}));
    event(seq, 0, false, 750);
    add(seq, 0, 0xC0, start("MO03", 0, 100));
    seed("links-idle");

    // A read taken over by another link's start of a missing file; a cloud-file read
    // likewise; an upload whose connection closes.
    add(seq, 1, 0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'});
    add(seq, 0, 0xC0, {4, 0, 0, 'M', 'O', '0', '5'});
    add(seq, 1, 0xC0, {5, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0});
    add(seq, 1, 0xC0, {6});
    add(seq, 1, 0xC8, {'F', '0', '0', '2'});
    add(seq, 0, 0xC8, {'F', '0', '0', '2'});
    add(seq, 1, 0xC9, {101, 0, 0, 0, 0, 0});
    add(seq, 1, 0xC0, start("ALIS", 0, 100));
    event(seq, 1, true, 0);
    add(seq, 0, 0xC0, start("ALIS", 0, 100));
    seed("links-reads-close");

    // Every file type's upload and read-back on one link; named starts and a delete.
    const Bytes content(100, 0x5C);
    for (const char* name : {"ALIS", "OSDS", "MO01", "DIVU", "KXFR", "LOGO"}) {
        for (uint8_t type : {1, 2, 5}) {
            const Bytes readStart = {4, 0, 0, uint8_t(name[0]), uint8_t(name[1]), uint8_t(name[2]), uint8_t(name[3]), type};
            for (const Bytes& d : {start(name, type, 100), block(0, content, 0, 100), end(md5Of(content)), readStart,
                                   Bytes{5, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0}, Bytes{6}})
                add(seq, 1, 0xC0, d);
            seed("links-transfer-" + std::string(name) + std::to_string(type));
        }
    }
    for (uint8_t sub : {7, 8, 10}) {
        add(seq, 1, 0xC0, named(sub, "a.kxfile", 5, 100));
        seed("links-named-" + std::to_string(sub));
    }

    // The links' own events: a table filled by silent clients, some sending frames or a
    // stray byte, one with a transfer; newcomers as the clock moves; replies queued for a
    // client that reads late. Two senders' datagrams crossing, then sixteen others' (the
    // two addresses joining as many when the table is full).
    auto link = [&](uint8_t op, uint16_t param) {
        seq.insert(seq.end(), {0x10, op});
        pc::put16(seq, param);
    };
    for (uint16_t i = 0; i < 34; ++i)
        link(0, uint16_t(i / 30));
    for (uint16_t i = 1; i < 12; ++i)
        link(1, uint16_t(i + (i % 3 == 0 ? 35 * 2 : 0)));
    link(4, 1);
    event(seq, 0, false, 10);
    link(0, 0);
    event(seq, 0, false, 250);
    link(0, 0);
    link(0, 0);
    for (uint16_t i = 0; i < 20; ++i)
        link(2, uint16_t(2 + 37 * 1700));
    link(3, 30000);
    event(seq, 0, false, 60);
    link(6, 0);
    for (uint16_t p : {0, 1, 64, 65})
        link(5, p);
    link(5, 2);
    for (uint16_t i = 3; i < 19; ++i)
        link(5, i);
    link(5, 64 + 2);
    seed("links-table-queue-join");

    // A full table of silent clients of one address, one of them with a frame the table has
    // not read yet as newcomers of the address take the silent ones' places in turn.
    for (uint16_t i = 0; i < TcpServer::MAX_CLIENTS; ++i)
        link(0, 1);
    event(seq, 0, false, 50);
    link(1, 4);
    for (uint16_t i = 0; i < 6; ++i)
        link(0, 1);
    seed("links-unread");

    // Ties of two addresses, the first's latest the sooner after its one before, the
    // second's last. TCP: half the places each, then as many waiting each when a third's
    // newcomer comes. UDP: 128 frames each (the same), 17 of a third's sender, one more.
    for (uint16_t i = 0; i < TcpServer::MAX_CLIENTS + TcpServer::MAX_WAITING - 4; ++i)
        link(0, uint16_t(i < TcpServer::MAX_CLIENTS ? 1 + 2 * i / TcpServer::MAX_CLIENTS : 1 + i % 2));
    for (uint16_t h : {2, 1, 1, 2, 0})
        link(0, h);
    for (uint16_t i = 1; i <= 256 + 18; ++i)
        for (uint16_t k : {0, 64})
            link(5, uint16_t(k + (i <= 252 ? i % 16 : i <= 256 ? "\x0e\x0d\x0f\x00"[i - 253] : i <= 273 ? 24 : 15)));
    seed("links-ties");

    // A full table of as many addresses, then a stream of n newcomers of new addresses and up
    // to 129 of them again, eight a tick, each or every third asking once (silent the rest);
    // a PC asks as it begins and in its middle, where another is answered with more than its
    // socket takes, read later, and (among silent ones) one placed sends its request behind
    // the next newcomer. of(i, bits, least): the param naming client i of `made`.
    size_t made = 0;
    auto of = [&made](size_t i, unsigned skip, size_t least = 1) {
        for (size_t p = i;; p += made)
            if (p >= least && !(p & skip))
                return uint16_t(p);
    };
    std::function<void(size_t, size_t, int)> ask = [&](size_t i, size_t size, int replies) {
        if (made % 2 == 0)   // a param naming client i with its bits 1-2 clear: of an odd count (one more, asking too)
            link(7, uint16_t(50000 + made++)), ask(made - 1, 1, 1);
        link(1, of(i, 6));
        for (int k = 0; k < replies; ++k)
            link(2, of(i, 0, size));
        if (size == 1)   // read at once
            link(3, of(i, 0));
    };
    for (uint16_t n : {TcpServer::MAX_CLIENTS - 1, TcpServer::MAX_CLIENTS, TcpServer::MAX_CLIENTS + 1, 4 * TcpServer::MAX_CLIENTS}) {
        size_t big = made = 0, every = n % 2 ? 1 : 3;
        for (uint16_t i = 0; i < TcpServer::MAX_CLIENTS; ++i, ++made)
            link(7, i);
        for (size_t i = 0; i < n + std::min<size_t>(n, TcpServer::MAX_CLIENTS + 1); ++i) {
            link(7, uint16_t(1000 + i % n)), ++made;
            if (i % every == 0)
                ask(made - 1, 1, 1);
            if (i % 32 == 0)
                event(seq, 0, false, 1);
            if (i == 0 || i == n)
                ask(0, 1, 1);
            if (i >= n && !big && made % 2 == 0)   // the latest answered as the next comes
                link(7, 60000), ++made, ask(big = made - 1, 60000, 5);
            if (i == n && every > 1)
                link(7, 60001), link(7, 60002), made += 2, ask(made - 2, 1, 1);
            for (int k = 0; i == n + 64 && k < 5; ++k)
                link(3, of(big, 0, 60000));
        }
        seed("links-stream-" + std::to_string(n));
    }
}

// The links' own state against what the rules allow; a model of each client and sender.
struct LinkEvents {
    struct Conn {
        int fd = -1, server = -1;
        uint32_t host = 0;
        bool placed = false, framed = false, gone = false;
        bool unread = false, hungUp = false;   // a frame sent it has not read; its end shut
        uint64_t peer = 0;
        uint32_t since = 0, last = 0, moved = 0;   // place, last frame, reply queue last moved
        uint64_t gap = 0;                          // arrivals from its address's one before (see ArrivalPace)
        size_t queued = 0, sent = 0, read = 0;     // in the server's queue; bytes sent to it, read
        uint64_t order = 0;                        // of its place among all placed
    };
    TcpServer table;
    std::vector<Conn> conns;
    std::vector<size_t> live;   // of conns, every one not seen gone yet (in a stream, few of them)
    std::set<uint64_t> keep;
    std::unique_ptr<udpnetManage> udp;
    std::map<unsigned, Bytes> joining;
    std::map<unsigned, uint64_t> lastDatagram;
    uint64_t datagrams = 0;
    std::vector<std::pair<unsigned, Bytes>> frames;   // the UDP frame list: sender, frame
    std::map<uint32_t, uint64_t> lastOffer, gap;      // by address: its last frame begun, and of its last offer frames from the one before
    std::map<uint32_t, uint64_t> lastGap;             // by address: of its last frame begun
    std::map<unsigned, uint64_t> begun;               // by sender: of its frame being joined
    uint64_t offers = 0;
    std::map<uint32_t, uint64_t> lastConn;            // TCP: by address, its last connection's number
    uint64_t connections = 0, placements = 0;

    LinkEvents() { table.set_keep([this](uint64_t peer) { return keep.count(peer) > 0; }); }
    void reset()
    {
        table.unInitialize();
        table.records().clear();
        for (Conn& c : conns)
            ::close(c.fd);
        conns.clear();
        live.clear();
        keep.clear();
        udp = std::make_unique<udpnetManage>();
        joining.clear();
        lastDatagram.clear();
        frames.clear();
        gap.clear();
        lastOffer.clear();
        lastGap.clear();
        begun.clear();
        offers = 0;
        lastConn.clear();
        connections = placements = 0;
    }
    static uint64_t peer(unsigned s) { return uint64_t(s > 23 ? 0x7F000009 : s % 2 ? 0x7F000001 : 0x7F0000F0) << 16 | (40000 + s); }
    // A full list of waiting TCP newcomers: of the addresses with the most entries, if more
    // than address own's, the one whose latest entry came the fewest connections after its
    // one before (then the one whose latest came last) gives it up. The entries (address,
    // index) in order; the index given up, or -1 (the newcomer's).
    long giver(const std::vector<std::pair<uint32_t, size_t>>& entries, uint32_t own) const
    {
        std::map<uint32_t, std::tuple<size_t, int64_t, size_t>> held;   // by address: entries, -gap of its latest, latest
        for (const auto& e : entries)
            held[e.first] = {std::get<0>(held[e.first]) + 1, -int64_t(conns[e.second].gap), e.second};
        const auto most = std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        return most != held.end() && std::get<0>(most->second) > std::get<0>(held[own]) ? long(std::get<2>(most->second)) : -1;
    }
    bool free(const Conn& c, uint32_t now) const
    {
        // What a client sent is read, and one gone is seen so, before it is judged.
        return c.queued == 0 && c.hungUp ? true : !keep.count(c.peer) && !(c.unread && c.queued == 0)
               && (c.framed ? now - c.last >= TcpServer::IDLE_CLOSE_TICKS && c.queued == 0 : now - c.since >= TcpServer::FIRST_FRAME_TICKS);
    }
    // Not closed by the server: a close with bytes of ours unread resets the connection.
    static bool open(const Conn& c)
    {
        char b;
        const ssize_t n = ::recv(c.fd, &b, 1, MSG_PEEK);
        return n > 0 || (n < 0 && errno != ECONNRESET);
    }
    // Places held, by address (counted once an event: a stream keeps many connections).
    using Places = std::map<uint32_t, size_t>;
    Places places() const
    {
        Places n;
        for (size_t i : live)
            n[conns[i].host] += conns[i].placed && !conns[i].gone;
        return n;
    }
    static size_t of(const Places& n, uint32_t h)
    {
        const auto f = n.find(h);
        return f == n.end() ? 0 : f->second;
    }
    // Whether c may give its place to a newcomer from address h: it is free, or its address
    // holds two places more than h does.
    bool gives(const Conn& c, uint32_t h, uint32_t now, const Places& n) const
    {
        return !keep.count(c.peer) && (free(c, now) || of(n, c.host) > of(n, h) + 1);
    }
    // After a pass: what the server closed was the rules' to close, and a reply queue that
    // had not moved for STALL_CLOSE_TICKS is closed.
    void settle(bool newcomer, bool pass = true)
    {
        const uint32_t now = G_timeTicks;
        for (const TcpServer::Record& r : table.records())
            KEL_FUZZ_CHECK(table.clients().count(r.socket));   // a closed client's frames went with it
        // The newcomers waiting (or the one just offered) that may be placed now.
        std::set<uint32_t> newHosts;
        for (const Conn& o : conns)
            if (!o.placed && !o.gone)
                newHosts.insert(o.host);
        std::vector<Conn> before = conns;
        table.takeClosed();
        std::vector<size_t> closed;
        for (size_t i = 0; i < conns.size(); ++i) {
            Conn& c = conns[i];
            if (c.gone || table.clients().count(c.server)) {
                KEL_FUZZ_CHECK(c.gone || !pass || !c.placed || c.queued == 0 || now - c.moved < TcpServer::STALL_CLOSE_TICKS);
                if (!c.gone && !c.placed)
                    c.since = now, c.order = ++placements;
                c.placed = !c.gone;
                const size_t q = table.queued(c.server);
                if (!c.gone && q != c.queued)
                    c.moved = now;
                c.queued = c.gone ? 0 : q;
                continue;
            }
            if (!c.placed && table.waiting() > 0 && open(c))
                continue;   // still waiting (the one way it can be missing from the table)
            c.gone = true;
            closed.push_back(i);
        }
        for (Conn& c : conns)   // a stream of newcomers would run out of descriptors
            if (c.gone && c.fd >= 0)
                ::close(std::exchange(c.fd, -1));
        live.erase(std::remove_if(live.begin(), live.end(), [this](size_t i) { return conns[i].gone; }), live.end());
        // Addresses holding places as newcomers were judged (one may lose its last to a later
        // newcomer): held as the pass began, or a newcomer's gone in it unseen (placed, then
        // given up to a later newcomer in the same pass, before this model could see it).
        std::set<uint32_t> held;
        for (size_t i = 0; i < conns.size(); ++i)
            if ((before[i].placed && !before[i].gone) || (!before[i].placed && !before[i].gone && conns[i].gone))
                held.insert(conns[i].host);
        std::map<uint32_t, size_t> count;   // places by address, as places() (counted once: a stream keeps many waiting)
        for (size_t i : live)
            count[conns[i].host] += conns[i].placed;
        for (size_t w : live)   // judged in a pass or as one comes: waits only while no place gives way
            KEL_FUZZ_CHECK(conns[w].placed || !(pass || newcomer) || ((count[conns[w].host] > 0 || held.count(conns[w].host)) && std::none_of(live.begin(), live.end(), [&](size_t o) {
                                                                                 const Conn& c = conns[o];
                                                                                 return c.placed && !keep.count(c.peer) && (free(c, now) || count[c.host] > count[conns[w].host] + 1); })));
        // Places by address within the pass: at most those held as it began and those taken in
        // it (one newcomer's place may tip the next's judgement), at least those held less
        // those closed in it (a client hung up is closed before anyone is judged).
        Places most, least;
        for (size_t i = 0; i < conns.size(); ++i) {
            const bool held = before[i].placed && !before[i].gone;
            most[conns[i].host] += held || (conns[i].placed && !conns[i].gone);
            least[conns[i].host] += held && !conns[i].gone;
        }
        for (size_t i : closed) {
            const Conn& c = conns[i];
            const bool stalled = c.queued > 0 && now - c.moved >= TcpServer::STALL_CLOSE_TICKS;
            // A newcomer of an address holding none always takes a place (the one it takes: see ruled).
            const bool gave = std::any_of(newHosts.begin(), newHosts.end(), [&](uint32_t h) {
                return (!keep.count(c.peer) && (free(c, now) || of(most, c.host) > of(least, h) + 1)) || of(least, h) == 0;
            });
            KEL_FUZZ_CHECK(!c.placed || stalled || c.hungUp || (newcomer && gave));
            if (c.placed && c.framed && !stalled && !c.hungUp)
                for (const Conn& o : conns)
                    KEL_FUZZ_CHECK(o.gone || !o.placed || o.framed || !free(o, now));
        }
    }
    void event(unsigned op, unsigned param)
    {
        if (op == 5) {   // the UDP joining, whatever the TCP clients; the list as the model's
            join(param % 32, (param >> 5) % 4);
            const UdpFrameList& l = udp->joined(1);
            KEL_FUZZ_CHECK(l.size() == frames.size() && std::equal(l.begin(), l.end(), frames.begin(), [](const auto& g, const auto& f) { return g.peer == peer(f.first) && g.data == f.second; }));
            return;
        }
        // Waiting newcomers take their places in any pass.
        const bool newcomer = op == 0 || table.waiting() > 0;
        Conn* c = conns.empty() ? nullptr : &conns[param % conns.size()];
        if (c && c->gone && op != 0 && op != 7)
            return;
        if ((op == 0 || op == 7) && conns.size() < 1280) {
            int pair[2];
            if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
                return;
            ::fcntl(pair[0], F_SETFL, O_NONBLOCK);
            ::fcntl(pair[1], F_SETFL, O_NONBLOCK);
            const uint32_t h = op == 7 ? 3 + param : param % 3;
            size_t full = 0, young = 0, giving = 0, waiting = table.waiting();
            const Places held = places();
            for (const Conn& o : conns)
                if (o.placed && !o.gone)
                    ++full, young += !free(o, G_timeTicks) && !o.framed && !keep.count(o.peer), giving += gives(o, h, G_timeTicks, held);
            const bool roomy = full < TcpServer::MAX_CLIENTS || giving > 0;
            std::vector<std::pair<uint32_t, size_t>> queue;   // waiting: address, index
            for (size_t i = 0; i < conns.size(); ++i)
                if (!conns[i].placed && !conns[i].gone)
                    queue.emplace_back(conns[i].host, i);
            std::set<uint32_t> hosts;   // holding places: an address not seen comes as though in turn with them
            for (const Conn& o : conns)
                if (o.placed && !o.gone)
                    hosts.insert(o.host);
            const uint64_t holding = hosts.size();
            const uint64_t gap = lastConn.count(h) ? connections + 1 - lastConn[h] : holding + 1;
            lastConn[h] = ++connections;
            const long evicts = waiting >= TcpServer::MAX_WAITING ? giver(queue, h) : -2;
            // A newcomer of an address holding none, nobody giving way: of an address holding
            // the most, one not being answered first; of those the first placed not answered
            // yet, else the last placed. A PC just placed, its request on its way, and one
            // that asks now and then keep their places however many come.
            long taken = -1;
            std::tuple<size_t, bool, bool, uint64_t> most{};
            for (size_t i = 0; i < conns.size() && waiting == 0 && !roomy && of(held, h) == 0; ++i) {
                const Conn& o = conns[i];
                const std::tuple<size_t, bool, bool, uint64_t> rank{of(held, o.host), o.queued == 0, o.sent == 0, o.sent ? o.order : ~o.order};
                if (o.placed && !o.gone && !keep.count(o.peer) && (taken < 0 || rank > most))
                    taken = long(i), most = rank;
            }
            conns.push_back(Conn{pair[0], pair[1], h});
            live.push_back(conns.size() - 1);
            conns.back().gap = gap;
            // Placed (1) when there is room; else it waits (0) while young clients stand in
            // the way, or is closed (-1).
            const int r = table.adopt(pair[1], h);
            KEL_FUZZ_CHECK(waiting > 0 || r == 1 || (!roomy && r == (young > 0 ? 0 : -1)));
            // Past a full list, the newcomer or the one giving way is closed.
            KEL_FUZZ_CHECK(evicts == -2 || (evicts < 0 ? r == -1 : !open(conns[size_t(evicts)])));
            KEL_FUZZ_CHECK(taken < 0 || (r == 1 && !table.clients().count(conns[size_t(taken)].server)));
            takeRecords();
            settle(true, false);
        } else if (op == 1 && c) {
            const Bytes frame = {0xA5, 0xA5, 0xA5, 1, 2, 3, 4, 5, 6, 7, 0x5A};
            const Bytes stray = {uint8_t(param & 1 ? 0xA5 : 0x11)};
            const Bytes& b = param & 2 ? stray : frame;
            if (::send(c->fd, b.data(), b.size(), MSG_NOSIGNAL) == ssize_t(b.size()) && !(c->unread = param & 4 && b == frame))
                pass(newcomer);   // else read in a pass to come
        } else if (op == 2 && c && c->placed && param > 0) {
            Bytes reply(param);
            for (size_t i = 0; i < reply.size(); ++i)
                reply[i] = uint8_t((c->sent + i) * 7);
            const size_t before = table.queued(c->server);
            if (table.sendData(reply.data(), unsigned(reply.size()), c->server) != 0) {
                KEL_FUZZ_CHECK(before + reply.size() > TcpServer::OUTPUT_LIMIT);
                c->gone = true;
                return;
            }
            c->sent += reply.size();
            // Bytes added to a queue that sends nothing do not count as its moving.
            const size_t after = table.queued(c->server);
            c->moved = before > 0 && after == before + reply.size() ? c->moved : uint32_t(G_timeTicks);
            c->queued = after;
            settle(false, false);
        } else if (op == 3 && c) {
            Bytes got(param);
            const ssize_t n = ::recv(c->fd, got.data(), got.size(), 0);
            for (ssize_t i = 0; i < n; ++i)
                KEL_FUZZ_CHECK(got[size_t(i)] == uint8_t((c->read + size_t(i)) * 7));
            c->read += size_t(std::max<ssize_t>(n, 0));
            pass(newcomer);
        } else if (op == 6 && c) {
            c->hungUp = ::shutdown(c->fd, SHUT_WR) == 0;
        } else if (op == 4 && c && c->framed) {
            if (!keep.erase(c->peer))
                keep.insert(c->peer);
        } else {
            pass(newcomer);
        }
    }
    // A read pass: the frames it completes mark their clients' activity (and wait till the next).
    void pass(bool newcomer)
    {
        table.recvData(0);
        takeRecords();
        settle(newcomer);
    }
    void takeRecords()
    {
        for (const TcpServer::Record& r : table.records())
            for (Conn& o : conns)
                if (o.server == r.socket && !o.gone)
                    o.framed = true, o.unread = false, o.last = G_timeTicks, o.peer = r.peer;
        table.records().clear();
    }
    void join(unsigned sender, unsigned kind)
    {
        Bytes d(kind == 3 ? 9 : 10, uint8_t(sender | 0x80));
        if (kind == 0)
            d[0] = 0xA5;
        if (kind == 2)
            d.back() = 0x5A;
        udp->join_datagram(1, d.data(), d.size(), peer(sender));
        KEL_FUZZ_CHECK(udp->joining(1) <= udpnetManage::MAX_JOINING);
        if (kind == 3 || (kind != 0 && !joining.count(sender)))
            return;
        const uint32_t own = uint32_t(peer(sender) >> 16);
        if (kind == 0) {   // a frame begun: an arrival of its address
            std::set<uint32_t> holding;   // an address not seen before: as though in turn with those holding frames
            for (const auto& f : frames)
                holding.insert(uint32_t(peer(f.first) >> 16));
            begun[sender] = lastGap[own] = lastOffer.count(own) ? offers + 1 - lastOffer[own] : holding.size() + 1;
            lastOffer[own] = ++offers;
        }
        if (kind == 0 && !joining.count(sender) && joining.size() >= udpnetManage::MAX_JOINING) {
            // Of the addresses joining the most, the one whose latest frame began the fewest
            // after its one before; of it the sender whose last datagram is oldest.
            std::map<uint64_t, size_t> count;   // by address
            size_t most = 0;
            for (const auto& j : joining)
                most = std::max(most, ++count[peer(j.first) >> 16]);
            auto rank = [&](unsigned s) { return std::make_pair(-int64_t(lastGap[uint32_t(peer(s) >> 16)]), -int64_t(lastDatagram[s])); };
            auto giver = joining.end();
            for (auto j = joining.begin(); j != joining.end(); ++j)
                if (count[peer(j->first) >> 16] == most && (giver == joining.end() || rank(j->first) > rank(giver->first)))
                    giver = j;
            joining.erase(giver);
        }
        lastDatagram[sender] = ++datagrams;
        Bytes& mine = joining[sender];
        if (kind == 0)
            mine.clear();
        mine.insert(mine.end(), d.begin(), d.end());
        if (kind != 2)
            return;
        // Of the addresses with the most frames, if more than the sender's, the one whose
        // last offer began the fewest frames after its previous gives it up.
        gap[own] = begun[sender];
        std::map<uint32_t, std::pair<size_t, size_t>> held;   // by address: frames, latest
        for (size_t i = 0; i < frames.size(); ++i)
            held[uint32_t(peer(frames[i].first) >> 16)] = {held[uint32_t(peer(frames[i].first) >> 16)].first + 1, i};
        auto rank = [&](const auto& a) { return std::make_tuple(a.second.first, ~gap[a.first], a.first); };
        const auto most = std::max_element(held.begin(), held.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
        const long g = frames.size() < udpnetManage::MAX_FRAMES ? -2 : most != held.end() && most->second.first > held[own].first ? long(most->second.second) : -1;
        if (std::count_if(frames.begin(), frames.end(), [sender](const auto& f) { return f.first == sender; }) < long(udpnetManage::MAX_FRAMES_PER_SENDER) && g != -1)
            frames.erase(frames.begin() + std::max(g, 0L), frames.begin() + std::max(g + 1, 0L)), frames.emplace_back(sender, mine);
        joining.erase(sender);
    }
};

LinkEvents* g_links = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    kel_fuzz::PcBench::instance();
    g_links = new LinkEvents();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    kel_fuzz::PcBench& b = kel_fuzz::PcBench::instance();
    b.fresh();
    for (size_t i = 0; i < std::size(kWatched); ++i)
        if (kel_fuzz::readFile(kWatched[i]) != known(int(i)))
            kel_fuzz::writeFile(kWatched[i], known(int(i)));
    bool ended = false;
    g_links->reset();
    int owner = -1;    // link * 2 + peer of the running 0xC0 upload, as its replies tell
    int reader = -1;   // and of the 0xC0 read that has a file open
    uint64_t connection[3][2] = {{1, 2}, {1, 2}, {1, 2}}, connections = 2;
    G_timeTicks = 1000;
    size_t at = 0;
    while (at + 4 <= size) {
        const unsigned who = data[at] & 0x07;
        const unsigned link = who & 0x03;
        const int id = int(link % 3) * 2 + int(who >> 2);
        const unsigned limit = kLimits[link % 3];
        uint64_t& peer = connection[link % 3][who >> 2];
        const size_t param = size_t(data[at + 2]) | size_t(data[at + 3]) << 8;
        if (data[at] & 0x18) {
            if (data[at] & 0x10) {
                g_links->event(data[at + 1], unsigned(param));
            } else if (data[at + 1] % 2 == 0) {
                G_timeTicks = G_timeTicks + uint32_t(param) * 4;
            } else {
                // What the link does when the connection closes.
                b.handler(limit).release_peer(peer);
                KEL_FUZZ_CHECK(!b.handler(limit).holds_transfer(peer));
                peer = ++connections;
                owner = owner == id ? -1 : owner;
                reader = reader == id ? -1 : reader;
            }
            at += 4;
            continue;
        }
        const uint8_t group = kGroups[data[at + 1] % sizeof kGroups];
        const size_t n = std::min<size_t>(param, size - at - 4);
        pc::Frame f;
        f.group = group;
        f.data.assign(data + at + 4, data + at + 4 + n);
        at += 4 + n;
        b.handler(limit).peer = peer;
        const int r = b.dealUnescaped(pc::encode(f), 5, limit);
        const uint8_t sub = f.data.empty() ? 0 : f.data[0];
        if (group == 0xC0 && r == 3 && b.reply(r)[0] == 0 && (sub == 1 || sub == 7))
            owner = id;
        else if (group == 0xC0 && r == 0 && sub == 1 && n >= 12)
            owner = id;   // the boot image's start, answered with nothing
        else if (group == 0xC0 && r >= 0 && owner == id && sub == 3 && n >= 21)
            owner = -1;   // its end closes the transfer; its refused start leaves it running
        if (group == 0xC0 && r == 7 && (sub == 4 || sub == 8) && b.reply(r)[0] == 0)
            reader = b.reply(r)[2] == 1 ? id : -1;   // found; else none, or not known to be
        else if (group == 0xC0 && reader == id && (sub == 6 || sub == 3))
            reader = -1;   // its end, or an end with no upload running, closes the file
        if (group == 0xC0 && ((sub == 2 && owner >= 0 && owner != id) || (sub == 5 && reader >= 0 && reader != id)))
            KEL_FUZZ_CHECK(r == 2 && b.reply(r)[0] == 1);
        if (r > 0 && b.reply(r)[0] == 0 && ((group == 0xC0 && (sub == 3 || sub == 10)) || group == 0xC6))
            ended = true;
    }
    for (size_t i = 0; !ended && i < std::size(kWatched); ++i)
        KEL_FUZZ_CHECK(kel_fuzz::readFile(kWatched[i]) == known(int(i)));
    for (unsigned limit : kLimits)
        b.handler(limit).peer = 0;
    FileBufOwner::reset();
    return 0;
}
