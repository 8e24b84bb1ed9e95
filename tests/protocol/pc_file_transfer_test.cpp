// Group 0xC0: uploads of every file type verified by their MD5 digest, into the data root
// and the raw flash partitions; read-backs; refused names, sizes and blocks; the buffer's
// single owner; the folder clean-up.
#include "tests/protocol/handler_fixture.h"
#include "tests/protocol/file_frames.h"

#include "board/sim/PowerCut.h"
#include "core/kel_file_deal.h"
#include "gui/led/smartmapping.h"
#include "tests/support/Emulation.h"
#include "tests/support/KeyDriver.h"
#include "tests/support/PropertyCheck.h"

#include <rapidcheck/state.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>

namespace {

using handler_test::Bytes;
using namespace fileframes;

class PcFileTransfer : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        g_kel_file_deal_para = KelFileDeal{};
    }

    // Start reply, then the blocks, then the end reply.
    Bytes upload(const Bytes& startReq, const Bytes& data, const Bytes& digest)
    {
        Bytes r = reply(deal(req(0xC0, startReq)));
        if (r != Bytes{0, startReq[0], 0})
            return r;
        for (size_t at = 0; at < data.size(); at += 4096)
            EXPECT_EQ(reply(deal(req(0xC0, block(uint32_t(at), data, at, std::min<size_t>(4096, data.size() - at))))),
                      (Bytes{0, 2}));
        return reply(deal(req(0xC0, end(digest))));
    }
};

// Sequences of every transfer frame from five PCs: two peers of one link, two programs on
// the serial line (both peer 0, so one to the device), one on a third link. Each step's reply
// and the files, partitions and loader settings after it must be what a model says: an
// upload is its holder's from an accepted start to its end or its holder's release, and
// stores the blocks it was given (an image only whole, a name or overlay file only when its
// reader takes it) when its end carries their digest; a read serves its opener the file as it
// was at its start; register 14 makes a verified image startable, puts it in the program's
// place and only then names it to the loader, and answers failure when an application upload
// began and left no such image or a step of the install (drawn to fail) failed. The PCs send
// what they believe: their own blocks' digest.
namespace transfers {

constexpr int kPcs = 5, kLink[kPcs] = {0, 0, 1, 1, 2}, kPeer[kPcs] = {1, 2, 0, 0, 0};
int holderOf(int pc) { return kLink[pc] * 4 + kPeer[pc]; }
const std::string kApp = "/data/app/kelM57N", kImage = kApp + "2", kAlias = "/data/configs/alias.json",
                  kOsd = "/data/configs/omenu.json", kMode = "/data/modes/MO0a.json", kUtf = "\xe5\xb1\x8f P2.bin",
                  kLongest = "\xe5\xb1\x8f" + std::string(252, 's');
enum Type { App = 1, Boot = 2, Kernel = 3, Logo = 4, Alias = 5, Mode = 7, Osd = 8, Package = 9, Scan = 13 };
struct Target { Bytes req; int type; std::string dest; };
constexpr int kUploads = 14, kStartKinds = kUploads + 24;
// The uploads a PC starts; then starts the device refuses whatever runs.
Target target(int kind, uint32_t n)
{
    const std::vector<Target> ok = {
        {start("FMCU", 0, n), App, kImage}, {start("FKRN", 0, n), Kernel, "/dev/mtd10"}, {start("FBOT", 0, n), Boot, ""},
        {start("ALIS", 0, n), Alias, kAlias}, {start("OSDS", 0, n), Osd, kOsd}, {start("MO0A", 0, n), Mode, kMode},
        {start("DIVU", 9, n), Package, "/data/rcvrecovery/DIVU"}, {start("KXFR", 13, n), Scan, "/data/smartmapping/KXFR"},
        {named(7, "P1", 9, n), Package, "/data/rcvrecovery/P1"}, {named(7, kUtf, 9, n), Package, "/data/rcvrecovery/" + kUtf},
        {named(7, kLongest, 13, n), Scan, "/data/smartmapping/" + kLongest}, {start("MO01", 0, n), Mode, "/data/modes/MO01.json"},
        {start("MO10", 0, n), Mode, "/data/modes/MO10.json"}, {start("LOGO", 0, n), Logo, "/dev/mtd8"}};
    const std::vector<Bytes> refused = {
        start("MO00", 0, n), start("MO11", 0, n), start("MOG1", 0, n), start("ABCD", 0, n), start("DIVU", 13, n),
        start("KXFR", 9, n), start("FMCU", 0, 0), start("FKRN", 0, 0), start("LOGO", 0, 0), start("LOGO", 0, 0x60000 - 371),
        start("ALIS", 0, 0x60001), start("OSDS", 0, 0x400001), start("FMCU", 0, 0x500001), named(7, "P1", 5, n),
        named(7, "../x", 9, n), named(7, ".hidden", 9, n), named(7, std::string(256, 'a'), 9, n), named(7, "", 13, n),
        named(7, "a/b", 9, n), named(7, "\\b", 9, n), named(7, std::string("a\0b", 3), 9, n), named(7, "a\tb", 13, n),
        named(7, "a\x7f", 9, n), named(7, "a\xc2\x85", 9, n)};
    return kind < kUploads ? ok[size_t(kind)] : Target{refused[size_t(kind - kUploads)], 0, ""};
}
uint32_t capacity(int type) { return type == Logo ? 0x60000 - 372 : type == Alias ? 0x60000 : type == Osd || type == Mode ? 0x400000 : 0x500000; }
bool image(int type) { return type == App || type == Kernel || type == Logo; }

// The 372 bytes the boot loader reads in front of a logo of length bytes: every byte not
// listed is 0.
Bytes logoHeader(uint32_t length)
{
    Bytes h(372, 0);
    for (const auto& t : {std::make_pair(0, "SSTA"), {12, "DISP"}, {72, "LMT050_NAD"}, {328, "LOGO"}})
        std::copy(t.second, t.second + std::strlen(t.second), h.begin() + t.first);
    for (auto [at, v] : std::initializer_list<std::pair<size_t, uint32_t>>{{4, 0x52}, {8, 2}, {44, 260}, {48, 0x38},
        {52, 1}, {56, 0x44}, {62, 0x30}, {66, 816}, {68, 1}, {104, 0x08049630}, {116, 1}, {125, 1}, {126, 0x0101},
        {128, 0x01020201}, {132, 0x0101}, {134, 1}, {136, 1}, {138, 1}, {140, 1}, {142, 1}, {144, 10}, {146, 12},
        {148, 4}, {150, 12}, {156, 320}, {158, 0xF0}, {160, 360}, {162, 360}, {164, 360}, {166, 280}, {168, 280},
        {170, 280}, {172, 7}, {174, 7}, {176, 6}, {178, 25}, {180, 0xC0}, {182, 0xFFA0}, {184, 0x50}, {188, 1},
        {196, 2}, {200, 2}, {220, 2}, {232, 1}, {236, 2}, {240, 3}, {244, 4}, {364, 0x2C}, {368, 1}, {360, length}})
        for (uint32_t x = v; x; x >>= 8)   // little-endian, as wide as the value
            h[at++] = uint8_t(x);
    return h;
}
bool json(int type) { return type == Alias || type == Osd || type == Mode; }

// A name or overlay file of size bytes as its reader takes it (bad 0, from 80 bytes), or one
// it cannot take: no JSON, without its keys, an overlay counting an item it lacks, cut short.
Bytes document(int type, uint32_t size, int bad)
{
    std::string t = bad == 2 ? "{\"x\":0," : bad == 3 ? "{\"name\":\"m\",\"osdcount\":1,\"oactcount\":0,"
                    : type == Alias ? "{\"namelist\":{}," : "{\"name\":\"m\",\"osdcount\":0,\"oactcount\":0,";
    if (bad == 1 || size < 80)
        return Bytes(size, 'n');
    t += "\"pad\":\"";
    t.resize(size - 2, 'p');
    t += bad == 4 ? "\"," : "\"}";
    return Bytes(t.begin(), t.end());
}

struct Upload {
    int holder, type;
    std::string dest;
    uint32_t size;
    Bytes sent, doc;   // the blocks' bytes in arrival order; the document its PC sends
    bool usable = true;
    uint32_t next = 0;
    Bytes buf = Bytes(size, 0);
    std::vector<bool> covered = std::vector<bool>(size);
};
struct Model {
    std::optional<Upload> up;
    std::map<std::string, Bytes> files, flash;   // files there (those uploads may write are checked); the partitions' starts
    Bytes sent[kPcs];                            // each PC's blocks since its start or end
    int flashes = 0, finishes = 0, reader = -1, upPc = 0, readerPc = 0, upLapsed = -1, readLapsed = -1;   // whose claim lapsed
    Bytes readFile, read;
    bool imageReady = false, appBegun = false;
    bool imageSinceFinish = false;   // an image verified since the last finish tried one
    int answer = -1;                             // the finish's while its restart is pending
    std::map<std::string, bool> exec;            // which of the program and the image may be run
    std::string loader = "/usr/app/kelM57N";
};

struct Sut {
    kel_test::TestRoot& root;
    std::function<Bytes(message_deal&, uint8_t, const Bytes&)> via;   // the fixture's handler call and reply
    std::unique_ptr<message_deal> links[3];
    std::map<std::string, int> seen;
    // The request's group and data; no data: the PC's connection closes.
    Bytes deal(int pc, uint8_t group, const Bytes& req)
    {
        message_deal& md = *links[kLink[pc]];
        if (req.empty()) {
            md.release_peer(uint64_t(kPeer[pc]));
            RC_ASSERT(!md.holds_transfer(uint64_t(kPeer[pc])));
            return {};
        }
        md.peer = uint64_t(kPeer[pc]);
        return via(md, group, req);
    }
    // The data root holds what the model says, and the loader names a program that is there
    // and can be started (the mode the data root keeps: root runs anything).
    void check(const Model& m) const
    {
        auto exec = [&](const std::string& p) { struct stat st; return ::stat(root.host(p).c_str(), &st) == 0 && (st.st_mode & 0111); };
        for (const std::string& p : {kApp, kImage})
            RC_ASSERT(!root.exists(p) || bool(exec(p)) == (m.exec.count(p) && m.exec.at(p)));
        RC_ASSERT(exec(m.loader));
        static std::set<std::string> paths;
        for (int kind = 0; paths.empty() && kind < kUploads; ++kind)
            if (target(kind, 0).dest.rfind("/data", 0) == 0)
                paths.insert({kApp, target(kind, 0).dest});
        for (const std::string& path : paths) {
            const auto f = m.files.find(path);
            const std::string want = f == m.files.end() ? "(none)" : std::string(f->second.begin(), f->second.end());
            RC_ASSERT((root.exists(path) ? root.readFile(path) : "(none)") == want);
        }
        for (const auto& [partition, start] : m.flash) {
            std::ifstream in(sim::MtdModel::backingFile(partition), std::ios::binary);
            Bytes k(start.size());
            in.read(reinterpret_cast<char*>(k.data()), std::streamsize(k.size()));
            RC_ASSERT(k == start);
        }
        const std::string ini = root.readFile("/data/configs/led_load_config.ini");
        const std::string path = m.loader == kApp ? kApp + " -platform linuxfb" : m.loader;   // keys in any order
        RC_ASSERT(ini.find("app_path=" + path + "\n") != std::string::npos && (m.loader != kApp || ini.find("app_name=kelM57N\n") != std::string::npos));
    }
};

struct Step : rc::state::Command<Model, Sut> {
    // Mostly the PC whose transfer runs, when given one.
    explicit Step(int running = -1)
        : pc(running < 0 ? *rc::gen::inRange(0, kPcs) : *rc::gen::weightedOneOf<int>({{4, rc::gen::just(running)}, {1, rc::gen::inRange(0, kPcs)}}))
    {
    }
    int pc;
    uint8_t group = 0xC0;
    // The request (from the model as it was) and the reply the device owes; the model moves
    // on as the device should.
    virtual Bytes step(Model& m, Bytes& request) const = 0;
    bool holds(const Model& m) const { return m.up && m.up->holder == holderOf(pc); }
    void apply(Model& m) const override
    {
        Bytes request;
        step(m, request);
    }
    void run(const Model& m0, Sut& s) const override
    {
        Model m = m0;
        Bytes req;
        const Bytes want = step(m, req);
        auto writes = [] { return sim::MtdModel::writeCount("/dev/mtd10") + sim::MtdModel::writeCount("/dev/mtd8"); };
        const int flashed = writes();
        sim::Journal::clear();
        RC_ASSERT(pc::hex(s.deal(pc, group, req)) == pc::hex(want));
        RC_ASSERT((writes() != flashed) == (m.flashes != m0.flashes));
        // A finish acts once: its one command, its reboot stamped now.
        RC_ASSERT(sim::Journal::shellCommands() == (m.finishes != m0.finishes ? std::vector<std::string>{"sync"} : std::vector<std::string>{}));
        RC_ASSERT(m.finishes == m0.finishes || G_reboot_tickTicks == G_timeTicks);
        s.check(m);
        ++s.seen[tag(m0, m, req, want)];
    }
    // The spread: the sub-command, its reply's status, whether the PC held the transfer.
    virtual std::string tag(const Model& m0, const Model& m, const Bytes& req, const Bytes& want) const
    {
        if (req.empty() || group == 0xA0)
            return req.empty() ? "release" : (m.finishes == m0.finishes ? "finish again" : m0.imageReady ? "finish an image" : m0.appBegun ? "finish a failed upload" : "finish, nothing to move") + std::string(" -> ") + pc::hex(want);
        const bool read = req[0] == 4 || req[0] == 5 || req[0] == 6 || req[0] == 8, own = read ? m0.reader == holderOf(pc) : holds(m0);
        if (req[0] == 3 && own && want[0] == 1)
            return "03 -> store refused, type " + std::to_string(m0.up->type);
        const std::string stored = req[0] == 3 && want == Bytes{0, 3, 0} ? ", type " + std::to_string(m0.up->type) : "";
        return pc::hex(Bytes{req[0]}) + " -> " + pc::hex(Bytes(want.begin(), want.begin() + std::min<size_t>(req[0] == 5 || req[0] == 6 ? 2 : 3, want.size()))) + (own ? ", holder" : "") + stored;
    }
};

struct Start : Step {
    int kind = *rc::gen::weightedOneOf<int>({{8, rc::gen::just(0)}, {2, rc::gen::just(1)}, {3, rc::gen::just(kUploads - 1)}, {6, rc::gen::inRange(0, kUploads)},
                                             {1, rc::gen::inRange(kUploads, kStartKinds)}});   // images weighted in
    uint32_t size = *rc::gen::weightedOneOf<uint32_t>({{3, rc::gen::inRange<uint32_t>(1, 100)}, {4, rc::gen::inRange<uint32_t>(1, 3000)}, {4, rc::gen::inRange<uint32_t>(1, 7000)}, {1, rc::gen::element<uint32_t>(0, 0x60000 - 372)}, {2, rc::gen::map(rc::gen::inRange<uint32_t>(1, 1750), [](uint32_t w) { return w * 4; })}});   // none, a logo's capacity, whole words
    int bad = *rc::gen::weightedElement<int>({{4, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}});
    Bytes step(Model& m, Bytes& request) const override
    {
        const Target t = target(kind, size);
        request = t.req;
        m.sent[pc].clear();
        const bool free = !m.up || holds(m) || m.upLapsed == m.up->holder;   // a lapsed claim is anyone's; its holder's retake keeps its age
        m.upLapsed = free && (t.type == Boot || (t.type != 0 && (size || !image(t.type)))) && m.upLapsed != holderOf(pc) ? -1 : m.upLapsed;
        if (t.type == Boot && free) {   // answered with nothing; its digest starts empty
            m.up = Upload{holderOf(pc), Boot, "", 0, {}, {}};
            m.upPc = pc;
            return {};
        }
        if (t.type == 0 || !free || (size == 0 && image(t.type)))
            return {1, t.req[0], 2};
        m.appBegun = m.appBegun || t.type == App;   // a verified image waiting stays ready
        m.up = Upload{holderOf(pc), t.type, t.dest, size, {}, json(t.type) ? document(t.type, size, bad) : Bytes{}, !json(t.type) || (bad == 0 && size >= 80)};
        m.up->buf.resize(t.type == Logo ? (size + 3) & ~3u : size);   // a logo is stored rounded up to words
        m.upPc = pc;
        return {0, t.req[0], 0};
    }
    void show(std::ostream& os) const override { os << "Start(pc " << pc << ", kind " << kind << ", " << size << ", bad " << bad << ")"; }
};

struct Block : Step {
    explicit Block(const Model& m) : Step(m.up ? m.upPc : -1) {}
    int where = *rc::gen::weightedElement<int>({{8, 0}, {1, 1}, {2, 2}, {1, 3}, {1, 4}, {2, 5}});   // next, gap, anywhere, past, lying, all but the last byte
    uint32_t drawn = *rc::gen::weightedOneOf<uint32_t>({{9, rc::gen::inRange<uint32_t>(1, 4001)}, {1, rc::gen::just<uint32_t>(0)}});
    uint32_t seed = *rc::gen::arbitrary<uint32_t>();
    Bytes step(Model& m, Bytes& request) const override
    {
        const uint32_t next = holds(m) ? m.up->next : 0, size = holds(m) ? m.up->size : 0;
        const uint32_t n = where == 5 && size > next + 1 && size - next - 1 <= 4000 ? size - next - 1 : drawn;
        const uint32_t at = where == 1 ? next + 1 + seed % 500 : where == 2 ? seed % (size + 1) : where == 3 ? 0x500000 - n / 2 : next;
        Bytes d(n);   // the PC's file: an uploaded document's own bytes, else its seed's
        const Bytes doc = holds(m) ? m.up->doc : Bytes{};
        for (uint32_t i = 0; i < n; ++i)
            d[i] = !doc.empty() ? (at + i < doc.size() ? doc[at + i] : 'p') : uint8_t((seed >> (i % 24)) + i);
        request = block(at, d, 0, n);
        request[10] = uint8_t(request[10] + (where == 4 ? 1 : 0));   // announces 256 bytes more than it carries
        m.sent[pc].insert(m.sent[pc].end(), d.begin(), d.end());
        if (!holds(m) || where == 4 || (m.up->type != Boot && uint64_t(at) + n > capacity(m.up->type)))
            return {1, 2};
        Upload& u = *m.up;
        for (uint32_t i = 0; u.type != Boot && i < n && at + i < u.buf.size(); ++i) {
            u.buf[at + i] = d[i];
            if (at + i < u.size)
                u.covered[at + i] = true;
        }
        u.sent.insert(u.sent.end(), d.begin(), d.end());
        u.next = at + n;
        return {0, 2};
    }
    void show(std::ostream& os) const override { os << "Block(pc " << pc << ", where " << where << ", " << drawn << ", seed " << seed << ")"; }
};

struct End : Step {
    explicit End(const Model& m) : Step(m.up ? m.upPc : -1) {}
    bool right = *rc::gen::weightedElement<bool>({{5, true}, {1, false}});
    bool refused = *rc::gen::weightedElement<bool>({{4, false}, {1, true}});   // the partition's erase, the file's first write
    uint8_t mark = *rc::gen::arbitrary<uint8_t>();   // request byte [12]: a refused image answers it back
    Bytes step(Model& m, Bytes& request) const override
    {
        request = end(md5Of(m.sent[pc]));
        request[5] = uint8_t(request[5] ^ (right ? 0 : 1)), request[2] = mark;
        const Bytes pcSent = m.sent[pc];
        m.sent[pc].clear();
        if (!holds(m)) {
            m.reader = !m.up && m.reader == holderOf(pc) ? -1 : m.reader;   // an end of nothing closes a read
            return {1, 3, 1};
        }
        const Upload u = *m.up;
        m.up.reset();
        const bool whole = std::find(u.covered.begin(), u.covered.end(), false) == u.covered.end();
        if (!right || pcSent != u.sent || (image(u.type) && !whole) || !u.usable || (json(u.type) && u.buf != u.doc))
            return {0, 3, 1};
        if (refused && u.type != Boot)   // the old file or partition stays
            return {1, 3, u.type == App ? mark : uint8_t(1)};
        Bytes stored = u.type == Logo ? logoHeader(uint32_t(u.buf.size())) : Bytes{};
        stored.insert(stored.end(), u.buf.begin(), u.buf.end());
        if (u.type == Kernel || u.type == Logo)
            m.flash[u.dest] = stored, ++m.flashes;
        else if (u.type != Boot)
            m.files[u.dest] = stored, m.exec[u.dest] = false;
        m.imageReady = m.imageReady || u.type == App;
        m.imageSinceFinish = m.imageSinceFinish || u.type == App;
        return {0, 3, 0};
    }
    void run(const Model& m0, Sut& s) const override
    {
        for (const char* partition : {"/dev/mtd10", "/dev/mtd8"})
            sim::MtdModel::setEraseRefused(partition, refused);
        if (refused)
            sim::PowerCut::failAfter(0, EIO);
        Step::run(m0, s);
        sim::PowerCut::restore();
        for (const char* partition : {"/dev/mtd10", "/dev/mtd8"})
            sim::MtdModel::setEraseRefused(partition, false);
    }
    void show(std::ostream& os) const override { os << "End(pc " << pc << ", right " << right << ", refused " << refused << ")"; }
};

struct ReadStart : Step {
    int what = *rc::gen::inRange(0, 10);
    Bytes step(Model& m, Bytes& request) const override
    {
        const std::pair<Bytes, std::string> t[] = {
            {{4, 0, 0, 'A', 'L', 'I', 'S'}, kAlias}, {{4, 0, 0, 'O', 'S', 'D', 'S'}, kOsd}, {{4, 0, 0, 'A', 'B', 'C', 'D'}, ""},
            {named(8, "MO0A", 7, 0), kMode}, {named(8, "P1", 9, 0), "/data/rcvrecovery/P1"},
            {named(8, kUtf, 9, 0), "/data/rcvrecovery/" + kUtf}, {named(8, kLongest, 13, 0), "/data/smartmapping/" + kLongest},
            {named(8, "../P1", 9, 0), ""}, {named(8, "../../etc/x", 13, 0), ""}, {named(8, "P1", 7, 0), ""}};
        const auto& [req, path] = t[what];
        request = req;
        const uint8_t echo = req[0] == 8 && (req[req.size() - 5] == 9 || req[req.size() - 5] == 13) ? 8 : 4;
        if (m.reader != -1 && m.reader != holderOf(pc) && m.readLapsed != m.reader)   // another's read: its file stays its own
            return {uint8_t(path.empty() ? 0 : 1), echo, 0, 0, 0, 0, 0};
        m.readLapsed = m.readLapsed == holderOf(pc) ? m.readLapsed : -1, m.reader = m.files.count(path) ? holderOf(pc) : -1, m.readerPc = pc;
        if (m.reader == -1)
            return {0, echo, 0, 0, 0, 0, 0};
        m.readFile = m.files[path];
        m.read.clear();
        Bytes r = {0, echo, 1};
        pc::put32(r, uint32_t(m.readFile.size()));
        return r;
    }
    void show(std::ostream& os) const override { os << "ReadStart(pc " << pc << ", " << what << ")"; }
};

struct ReadBlock : Step {
    explicit ReadBlock(const Model& m) : Step(m.reader != -1 ? m.readerPc : -1) {}
    uint32_t offset = *rc::gen::weightedOneOf<uint32_t>({{3, rc::gen::just<uint32_t>(0)}, {2, rc::gen::inRange<uint32_t>(0, 8000)}});
    uint32_t drawn = *rc::gen::inRange<uint32_t>(0, 2000);
    int fit = *rc::gen::weightedElement<int>({{4, 0}, {1, 1}, {1, 2}});   // drawn, the file's rest, one past it
    Bytes step(Model& m, Bytes& request) const override
    {
        const uint32_t rest = m.readFile.size() > offset ? uint32_t(m.readFile.size() - offset) : 0;
        const uint32_t n = fit == 0 || m.reader == -1 ? drawn : rest + uint32_t(fit - 1);
        request = {5, 0, 0, 0, 0};
        pc::put32(request, offset);
        pc::put32(request, n);
        // No read of its own, or a range past the file: refused, nothing read.
        if (m.reader != holderOf(pc) || uint64_t(offset) + n > m.readFile.size())
            return {1, 5};
        Bytes r(2 + n, 0);
        r[1] = 5;
        for (uint32_t i = 0; i < n; ++i)
            m.read.push_back(r[2 + i] = m.readFile[offset + i]);
        return r;
    }
    void show(std::ostream& os) const override { os << "ReadBlock(pc " << pc << ", " << offset << ", " << drawn << ", fit " << fit << ")"; }
};

struct ReadEnd : Step {
    explicit ReadEnd(const Model& m) : Step(m.reader != -1 ? m.readerPc : -1) {}
    Bytes step(Model& m, Bytes& request) const override
    {
        request = {6};
        Bytes r(18, 0), d = md5Of(m.read);
        r[0] = m.reader != -1 && m.reader != holderOf(pc) ? 1 : 0, r[1] = 6;
        if (m.reader == holderOf(pc))
            std::copy(d.begin(), d.end(), r.begin() + 2), m.reader = -1;
        return r;
    }
    void show(std::ostream& os) const override { os << "ReadEnd(pc " << pc << ")"; }
};

// The PC's connection closes, letting go what it held; or all fall silent past a claim's life: claims lapse.
struct Release : Step {
    bool lapse = *rc::gen::weightedElement<bool>({{2, false}, {1, true}});
    Bytes step(Model& m, Bytes&) const override
    {
        m.upLapsed = lapse ? (m.up ? m.up->holder : -1) : m.upLapsed, m.readLapsed = lapse ? m.reader : m.readLapsed;
        m.up = holds(m) && !lapse ? std::nullopt : m.up, m.reader = m.reader == holderOf(pc) && !lapse ? -1 : m.reader;
        return {};
    }
    void run(const Model& m0, Sut& s) const override { lapse ? (void)(G_timeTicks = G_timeTicks + TransferHold::kLifeTicks, ++s.seen["lapse"]) : Step::run(m0, s); }
    void show(std::ostream& os) const override { os << (lapse ? "Lapse(pc " : "Release(pc ") << pc << ")"; }
};

// Register 14 bit 0 finishes an application upgrade, once until the flag is cleared (as the
// restart it asks for would); a repeat answers as the finish did; one while an application
// upload runs is refused and arms nothing. One file step of the
// install may be refused: the image's mode, its move, the loader's store; the one command's
// status never changes the answer.
struct Finish : Step {
    Finish() { group = 0xA0; }
    bool cleared = *rc::gen::arbitrary<bool>();
    int fail = *rc::gen::weightedElement<int>({{3, -1}, {1, 0}, {1, 1}, {1, 2}});
    int syncStatus = *rc::gen::element(0, 256, -1);
    Bytes step(Model& m, Bytes& request) const override
    {
        request = {14, 1, 0, 1};
        m.answer = cleared ? -1 : m.answer;
        // An upload of a program, kernel or logo still running is not cut: refused, nothing
        // armed or installed.
        const bool uploading = m.up && (m.up->type == App || m.up->type == Kernel || m.up->type == Logo) && m.upLapsed != m.up->holder;
        // With its restart pending a finish answers as it did, unless a newer verified image
        // waits: that one is installed as the first was.
        if (m.answer >= 0 && (uploading || !m.imageSinceFinish))
            return {uint8_t(m.answer)};
        if (uploading)
            return {1};
        const bool ready = m.imageReady, moved = ready && (fail < 0 || fail == 2);
        m.imageSinceFinish = false;
        if (!ready) {
            // Nothing waits to be installed: refused, nothing armed.
            m.appBegun = false;
            return {1};
        }
        ++m.finishes;
        m.exec[kImage] = ready && fail != 0 ? true : m.exec[kImage];
        if (moved)
            m.files[kApp] = m.files[kImage], m.files.erase(kImage), m.exec[kApp] = true, m.imageReady = false, m.loader = fail < 0 ? kApp : m.loader;
        m.answer = (ready ? fail >= 0 : m.appBegun) ? 1 : 0;
        m.appBegun = false;
        return {uint8_t(m.answer)};
    }
    void run(const Model& m0, Sut& s) const override
    {
        g_app_reset_flag = cleared ? 0 : g_app_reset_flag.load();
        sim::Journal::setShellStatus("sync", syncStatus);
        sim::SimBoard::setScenario("data.modes.refused", fail == 0 ? "1" : "0");   // a /data that keeps no modes
        if (fail > 0)
            sim::PowerCut::failAfter(uint64_t(fail), EIO);   // after the mode: the move, the loader's first step
        Step::run(m0, s);
        sim::PowerCut::restore();
        sim::Journal::setShellStatus("sync", 0);
    }
    std::string tag(const Model& m0, const Model& m, const Bytes& req, const Bytes& want) const override
    {
        const char* refused[] = {"", ", mode refused", ", move refused", ", loader refused"};
        return Step::tag(m0, m, req, want) + (m0.imageReady && m.finishes != m0.finishes ? refused[fail + 1] : "");
    }
    void show(std::ostream& os) const override { os << "Finish(cleared " << cleared << ", fail " << fail << ", sync " << syncStatus << ")"; }
};

// A reboot asked for (register 0xA1 bit 0) is no finish: one that follows still installs.
struct Reboot : Step {
    Reboot() { group = 0xA0; }
    Bytes step(Model&, Bytes& request) const override { return request = {0xA1, 1, 0, 1}, Bytes{0}; }
    std::string tag(const Model&, const Model&, const Bytes&, const Bytes&) const override { return "reboot asked"; }
    void show(std::ostream& os) const override { os << "Reboot"; }
};

} // namespace transfers

TEST_F(PcFileTransfer, EverySequenceOfTransferFramesStoresAndServesWhatTheModelSays)
{
    using namespace transfers;
    std::map<std::string, int> total;
    auto fresh = [this] {   // the data root and the transfer state as the program starts
        for (const char* dir : {"/data/app", "/data/rcvrecovery", "/data/smartmapping", "/data/modes", "/data/configs"})
            std::filesystem::remove_all(root.host(dir));
        Model m;   // the files it tracks as written here
        for (const auto& [path, text] : {std::make_pair(kAlias, "ten bytes."), {kApp, "old"}, {"/usr/app/kelM57N", "first"},
                                         {"/data/configs/led_load_config.ini", "[app-1]\napp_path=/usr/app/kelM57N\n"}})
            root.writeFile(path, text), m.files[path] = Bytes(text, text + std::strlen(text)), std::filesystem::permissions(root.host(path), std::filesystem::perms(0644));
        std::filesystem::permissions(root.host("/usr/app/kelM57N"), std::filesystem::perms(0755));
        std::lock_guard<std::mutex> hold(message_deal::transfer_mutex);
        FileBufOwner::reset();
        message_deal::file_read_hold.reset();
        g_kel_file_deal_para = KelFileDeal{};
        md5.reset();
        if (file_velin)
            std::fclose(file_velin);
        file_velin = nullptr;
        g_app_reset_flag = 0, g_update_status = 0;
        return m;
    };
    auto sequences = [&](bool drawn) {
        Model m = fresh();
        Sut s{root, [this](message_deal& md, uint8_t g, const Bytes& r) { return reply(std::max(deal(req(g, r), md), 0)); }, {}, {}};
        for (auto& l : s.links)
            l = std::make_unique<message_deal>(message_deal::REPLY_LIMIT_UDP);
        // Every kind of upload whole once, then application images: each finished (a step of
        // the install refused in turn) and the finish asked again.
        std::vector<std::shared_ptr<const Step>> whole;
        for (int i = 0; !drawn && i < kUploads + 3; ++i) {
            Start st;
            Block b{Model{}};
            End e{Model{}};
            Finish f, again;
            st.pc = b.pc = e.pc = 0, st.kind = i < kUploads ? i : 0, st.size = b.drawn = 3000 + uint32_t(i), st.bad = b.where = 0, e.right = true, e.refused = false;
            f.cleared = true, f.fail = std::max(-1, i - kUploads), again.cleared = false;
            whole.insert(whole.end(), {std::make_shared<Start>(st), std::make_shared<Block>(b), std::make_shared<End>(e)});
            if (i >= kUploads - 1)
                whole.insert(whole.end(), {std::make_shared<Finish>(f), std::make_shared<Finish>(again)});
        }
        if (drawn)
            rc::state::check(m, s, rc::state::gen::execOneOfWithArgs<Start, Start, Block, Block, Block, Block, End, ReadStart,
                                                                     ReadStart, ReadBlock, ReadEnd, Release, Finish, Finish, Reboot>());
        else
            rc::state::runAll(whole, m, s);
        for (const auto& [what, n] : s.seen) {
            RC_CLASSIFY(n > 0, what);
            total[what] += n;
        }
        for (auto& l : s.links)
            for (uint64_t peer : {0, 1, 2})
                l->release_peer(peer);
    };
    kel_test::checkProperty("whole uploads", [&] { sequences(false); }, {1, 1});
    kel_test::checkProperty("transfer sequences", [&] { sequences(true); }, {kel_test::underEmulation() ? 20 : 150, 100});
    for (const auto& [what, n] : total)
        std::cout << "  " << what << ": " << n << "\n";
}

// A store that would eat into the reserve free space keeps the old file and reports failure
// (refused otherwise, or a plain start: the transfer sequences' and the commands table's checks).
TEST_F(PcFileTransfer, AFailedStoreKeepsTheOldFile)
{
    // A 4 MiB /data with alias.json (300 KiB) and omenu.json (1.5 MiB): either is replaced by one of its size; a new
    // file that leaves less than 2 MiB free is refused at its start, or at its end when others took the room.
    sim::SimBoard::setScenario("data.capacity", std::to_string(4 << 20));
    root.writeFile("/data/configs/alias.json", std::string(300 << 10, 'a'));
    root.writeFile("/data/configs/omenu.json", std::string(1536 << 10, 'o'));
    const Bytes osd = transfers::document(8, 1536 << 10, 0);
    EXPECT_EQ(upload(start("OSDS", 0, uint32_t(osd.size())), osd, md5Of(osd)), (Bytes{0, 3, 0}));
    EXPECT_EQ(reply(deal(req(0xC0, named(7, "x", 13, 512 << 10)))), (Bytes{1, 7, 2}));
    EXPECT_EQ(deal(req(0xC0, start("FBOT", 0, 512 << 10))), 0);   // stores nothing
    ASSERT_EQ(reply(deal(req(0xC0, named(7, "y", 9, 64 << 10)))), (Bytes{0, 7, 0}));
    root.writeFile("/data/modes/other", std::string(256 << 10, 'x'));
    EXPECT_EQ(reply(deal(req(0xC0, end(md5Of({}))))), (Bytes{1, 3, 1}));
    EXPECT_FALSE(root.exists("/data/rcvrecovery/y"));
}

// A new scan file, or the folders' clean-up, closes the smart set-up screen.
TEST_F(PcFileTransfer, ANewOrDeletedScanFileClosesTheSmartSetUpScreen)
{
    for (int round = 0; round < 2; ++round) {
        g_smartmapping = new SmartMapping(nullptr);
        g_smartmapping->show();
        g_page_focus = 24;
        if (round == 0)
            EXPECT_EQ(upload(start("KXFR", 13, 0), {}, md5Of({})), (Bytes{0, 3, 0}));
        else
            EXPECT_EQ(reply(deal(req(0xC0, {10}))), (Bytes{0, 10}));   // removal: through the links' tests
        EXPECT_NE(g_smartmapping, nullptr);             // closed on the GUI thread, queued
        kel_test::settle();
        EXPECT_EQ(g_smartmapping, nullptr) << round;
        EXPECT_EQ(g_page_focus, 5);
    }
    EXPECT_EQ(reply(deal(req(0xC0, {10}))), (Bytes{0, 10}));   // empty folders: done as well
}

} // namespace
