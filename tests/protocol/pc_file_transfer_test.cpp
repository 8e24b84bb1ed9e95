// Group 0xC0: uploads of every file type verified by their MD5 digest, into the data root
// and the raw flash partitions; read-backs; refused names, sizes and blocks; the buffer's
// single owner; the folder clean-up.
#include "tests/protocol/handler_fixture.h"
#include "tests/protocol/file_frames.h"

#include "board/Files.h"
#include "core/kel_file_deal.h"
#include "gui/led/smartmapping.h"
#include "tests/support/Emulation.h"
#include "tests/support/KeyDriver.h"

#include "tests/support/PropertyCheck.h"

#include <rapidcheck/state.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

namespace {

using handler_test::Bytes;
using namespace fileframes;

Bytes content(size_t n, unsigned seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * 31 + seed + (i >> 9)) & 0xFF);
    return b;
}

// A file of n bytes its reader takes: alias names or an overlay description, padded.
Bytes json(bool alias, size_t n)
{
    std::string t = alias ? "{\"namelist\":{}," : "{\"name\":\"m\",\"osdcount\":0,\"oactcount\":0,";
    t += "\"pad\":\"" + std::string(n - t.size() - 9, 'p') + "\"}";
    return Bytes(t.begin(), t.end());
}

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
    bool fileHolds(const std::string& path, const Bytes& data) const
    {
        return root.readFile(path) == std::string(data.begin(), data.end());
    }
    // Reads a file back through start (sub-command 4 or 8), blocks and end; its bytes.
    Bytes download(const Bytes& startReq, uint8_t echo)
    {
        Bytes s = reply(deal(req(0xC0, startReq)));
        EXPECT_EQ(Bytes(s.begin(), s.begin() + 3), (Bytes{0, echo, 1}));
        const uint32_t size = pc::get32(&s[3]);
        Bytes out;
        for (uint32_t at = 0; at < size; at += 3000) {
            Bytes d = {5, 0, 0, 0, 0};
            pc::put32(d, at);
            pc::put32(d, std::min<uint32_t>(3000, size - at));
            Bytes r = reply(deal(req(0xC0, d)));
            EXPECT_EQ(Bytes(r.begin(), r.begin() + 2), (Bytes{0, 5}));
            out.insert(out.end(), r.begin() + 2, r.end());
        }
        Bytes e = reply(deal(req(0xC0, {6})));
        EXPECT_EQ(Bytes(e.begin(), e.begin() + 2), (Bytes{0, 6}));
        EXPECT_EQ(Bytes(e.begin() + 2, e.end()), md5Of(out));
        return out;
    }
};

TEST_F(PcFileTransfer, KernelAndLogoGoToTheirPartitions)
{
    const Bytes kernel = content(200000, 3);
    EXPECT_EQ(upload(start("FKRN", 0, 200000), kernel, md5Of(kernel)), (Bytes{0, 3, 0}));
    std::string k = root.readFile(sim::MtdModel::backingFile("/dev/mtd10")).substr(0, 200100);
    EXPECT_TRUE(k.substr(0, 200000) == std::string(kernel.begin(), kernel.end()));
    EXPECT_EQ(k.substr(200000), std::string(100, '\0'));   // the rest of the cleared buffer

    const Bytes logo = content(1001, 5);
    EXPECT_EQ(upload(start("LOGO", 0, 1001), logo, md5Of(logo)), (Bytes{0, 3, 0}));
    std::string l = root.readFile(sim::MtdModel::backingFile("/dev/mtd8")).substr(0, 372 + 1001);
    // The whole 372-byte header: every byte not listed is 0; the length is 1001 rounded up.
    Bytes h(372, 0);
    auto le = [&h](size_t at, uint32_t v, int width) {
        for (int i = 0; i < width; ++i)
            h[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    for (const auto& t : {std::make_pair(0, "SSTA"), {12, "DISP"}, {72, "LMT050_NAD"}, {328, "LOGO"}})
        std::copy(t.second, t.second + std::strlen(t.second), h.begin() + t.first);
    for (const auto& b : {std::make_pair(4, 0x52), {8, 2},    {48, 0x38},  {52, 1},    {56, 0x44}, {62, 0x30},
                          {68, 1},             {116, 1},  {125, 1},    {134, 1},   {136, 1},   {138, 1},
                          {140, 1},            {142, 1},  {144, 10},   {146, 12},  {148, 4},   {150, 12},
                          {158, 0xF0},         {172, 7},  {174, 7},    {176, 6},   {178, 25},  {180, 0xC0},
                          {184, 0x50},         {188, 1},  {196, 2},    {200, 2},   {220, 2},   {232, 1},
                          {236, 2},            {240, 3},  {244, 4},    {364, 0x2C}, {368, 1}})
        h[size_t(b.first)] = uint8_t(b.second);
    for (const auto& w : {std::make_pair(44, 260), {66, 816}, {126, 0x0101}, {132, 0x0101}, {156, 320}, {160, 360},
                          {162, 360}, {164, 360}, {166, 280}, {168, 280}, {170, 280}, {182, 0xFFA0}})
        le(size_t(w.first), uint32_t(w.second), 2);
    le(104, 0x08049630, 4);
    le(128, 0x01020201, 4);
    le(360, 1004, 4);
    EXPECT_EQ(Bytes(l.begin(), l.begin() + 372), h);
    EXPECT_TRUE(l.substr(372) == std::string(logo.begin(), logo.end()));

    // A partition whose erase fails is closed and never written.
    sim::MtdModel::setEraseRefused("/dev/mtd10", true);
    const int writes = sim::MtdModel::writeCount("/dev/mtd10");
    EXPECT_EQ(upload(start("FKRN", 0, 200000), kernel, md5Of(kernel)), (Bytes{1, 3, 1}));
    EXPECT_EQ(sim::MtdModel::writeCount("/dev/mtd10"), writes);
}

// A stored file is the old one or the whole new one: a store that cannot be written, or
// that would eat into the reserve free space, keeps the old file and reports failure. A
// start never stores another upload's bytes.
TEST_F(PcFileTransfer, AFailedStoreKeepsTheOldFile)
{
    root.writeFile("/data/configs/alias.json", "old names");
    const Bytes data = json(true, 3000);
    // The staging file cannot be created.
    std::filesystem::create_directories(board::Files::map("/data/configs/.upload.part.tmp"));
    EXPECT_EQ(upload(start("ALIS", 0, 3000), data, md5Of(data)), (Bytes{1, 3, 1}));
    EXPECT_EQ(root.readFile("/data/configs/alias.json"), "old names");
    // The image file cannot be written: refused, [12] as the request had it.
    std::filesystem::create_directories(board::Files::map("/data/app/.upload.part.tmp"));
    Bytes e = end(md5Of(data));
    ASSERT_EQ(reply(deal(req(0xC0, start("FMCU", 0, 3000)))), (Bytes{0, 1, 0}));
    ASSERT_EQ(reply(deal(req(0xC0, block(0, data, 0, 3000)))), (Bytes{0, 2}));
    e[2] = 0x5A;
    EXPECT_EQ(reply(deal(req(0xC0, e))), (Bytes{1, 3, 0x5A}));
    EXPECT_FALSE(g_kel_file_deal_para.app_image_ready);

    // A named start of 200 bytes and no blocks stores 200 zero bytes, not the last upload's.
    const Bytes mode = json(false, 3000);
    EXPECT_EQ(upload(start("MO03", 0, 3000), mode, md5Of(mode)), (Bytes{0, 3, 0}));
    // A file that cannot serve what it is stored for is refused; the old one stays.
    for (const char* bad : {"names", "{\"namelist\":", "{\"x\":1}", "{\"name\":\"m\",\"osdcount\":1,\"oactcount\":0}"})
        for (const auto& c : {std::make_pair("ALIS", "/data/configs/alias.json"), {"OSDS", "/data/configs/omenu.json"},
                              {"MO03", "/data/modes/MO03.json"}}) {
            const std::string old = root.exists(c.second) ? root.readFile(c.second) : "", text = bad;
            const Bytes b(text.begin(), text.end());
            EXPECT_EQ(upload(start(c.first, 0, uint32_t(b.size())), b, md5Of(b)), (Bytes{0, 3, 1})) << c.first << bad;
            EXPECT_EQ(root.readFile(c.second), old);
        }
    EXPECT_EQ(upload(named(7, "empty", 9, 200), {}, md5Of({})), (Bytes{0, 3, 0}));
    EXPECT_EQ(root.readFile("/data/rcvrecovery/empty"), std::string(200, '\0'));

    // A 4 MiB /data with alias.json (300 KiB) and omenu.json (1.5 MiB): either is replaced by one of its size; a new
    // file that leaves less than 2 MiB free is refused at its start, or at its end when others took the room.
    message_deal::remove_staging_files();   // as at start: the blocked staging names are free again
    sim::SimBoard::setScenario("data.capacity", std::to_string(4 << 20));
    root.writeFile("/data/configs/alias.json", std::string(300 << 10, 'a'));
    root.writeFile("/data/configs/omenu.json", std::string(1536 << 10, 'o'));
    const Bytes osd = json(false, 1536 << 10);
    EXPECT_EQ(upload(start("OSDS", 0, uint32_t(osd.size())), osd, md5Of(osd)), (Bytes{0, 3, 0}));
    EXPECT_EQ(reply(deal(req(0xC0, start("MO04", 0, 512 << 10)))), (Bytes{1, 1, 2}));
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

// Sequences of every transfer frame from five PCs: two peers of one link, two programs on
// the serial line (both peer 0, so one to the device), one on a third link. Each step's reply
// and the files and kernel partition after it must be what a model of the transfers says: an
// upload is its holder's from an accepted start to its end or its holder's release, and
// stores the blocks it was given (an image only whole, a name or overlay file only when its
// reader takes it) when its end carries their digest; a read serves its opener the file as it
// was at its start; register 14 puts a verified image in the program's place and only then
// names it to the loader. The PCs send what they believe: their own blocks' digest.
namespace transfers {

constexpr int kPcs = 5;
const int kLink[kPcs] = {0, 0, 1, 1, 2};
const uint64_t kPeer[kPcs] = {1, 2, 0, 0, 0};
int holderOf(int pc) { return kLink[pc] * 4 + int(kPeer[pc]); }
const std::string kApp = "/data/app/kelM57N", kImage = kApp + "2", kAlias = "/data/configs/alias.json",
                  kUtf = "\xe5\xb1\x8f P2.bin", kLongest = "\xe5\xb1\x8f" + std::string(252, 's');
enum Type { App = 1, Boot = 2, Kernel = 3, Alias = 5, Mode = 7, Osd = 8, Package = 9, Scan = 13 };

struct Target { Bytes req; int type; std::string dest; };
constexpr int kUploads = 11, kStartKinds = kUploads + 24;
// The uploads a PC starts; then starts the device refuses whatever runs.
Target target(int kind, uint32_t size)
{
    const std::vector<Target> ok = {
        {start("FMCU", 0, size), App, kImage}, {start("FKRN", 0, size), Kernel, ""}, {start("FBOT", 0, size), Boot, ""},
        {start("ALIS", 0, size), Alias, kAlias}, {start("OSDS", 0, size), Osd, "/data/configs/omenu.json"},
        {start("MO0A", 0, size), Mode, "/data/modes/MO0a.json"}, {start("DIVU", 9, size), Package, "/data/rcvrecovery/DIVU"},
        {start("KXFR", 13, size), Scan, "/data/smartmapping/KXFR"}, {named(7, "P1", 9, size), Package, "/data/rcvrecovery/P1"},
        {named(7, kUtf, 9, size), Package, "/data/rcvrecovery/" + kUtf},
        {named(7, kLongest, 13, size), Scan, "/data/smartmapping/" + kLongest}};
    if (kind < kUploads)
        return ok[size_t(kind)];
    const std::vector<Bytes> refused = {
        start("MO00", 0, size), start("MO11", 0, size), start("MOG1", 0, size), start("ABCD", 0, size),
        start("DIVU", 13, size), start("KXFR", 9, size), start("FMCU", 0, 0), start("FKRN", 0, 0), start("LOGO", 0, 0),
        start("LOGO", 0, 0x60000 - 371), start("ALIS", 0, 0x60001), start("OSDS", 0, 0x400001), start("FMCU", 0, 0x500001),
        named(7, "P1", 5, size), named(7, "../x", 9, size), named(7, ".hidden", 9, size), named(7, std::string(256, 'a'), 9, size),
        named(7, "", 13, size), named(7, "a/b", 9, size), named(7, "\\b", 9, size), named(7, std::string("a\0b", 3), 9, size),
        named(7, "a\tb", 13, size), named(7, "a\x7f", 9, size), named(7, "a\xc2\x85", 9, size)};
    return {refused[size_t(kind - kUploads)], 0, ""};
}
uint32_t capacity(int type) { return type == Alias ? 0x60000 : type == Osd || type == Mode ? 0x400000 : 0x500000; }
bool json(int type) { return type == Alias || type == Osd || type == Mode; }

// A name or overlay file of size bytes as its reader takes it (bad 0, from 80 bytes), or one
// it cannot take: no JSON, without its keys, an overlay counting an item it lacks, cut short.
Bytes document(int type, uint32_t size, int bad)
{
    std::string t = bad == 2 ? "{\"x\":0," : bad == 3 ? "{\"name\":\"m\",\"osdcount\":1,\"oactcount\":0,"
                    : type == Alias ? "{\"namelist\":{}," : "{\"name\":\"m\",\"osdcount\":0,\"oactcount\":0,";
    t += "\"pad\":\"";
    if (bad == 1 || size < 80)
        return Bytes(size, 'n');
    t.resize(size - 2, 'p');
    t += bad == 4 ? "\"," : "\"}";
    return Bytes(t.begin(), t.end());
}

struct Upload {
    int holder, type;
    std::string dest;
    uint32_t size;
    Bytes sent, doc;   // the blocks' bytes in arrival order; the document a PC sends
    bool usable = false;
    uint32_t next = 0;
    Bytes buf = Bytes(size, 0);
    std::vector<bool> covered = std::vector<bool>(size);
};
struct Model {
    std::optional<Upload> up;
    std::map<std::string, Bytes> files;   // the files uploads may write that exist, as they should read
    Bytes kernel;                         // the partition's first bytes, as last stored
    int kernels = 0;
    Bytes sent[kPcs];                     // what each PC sent in blocks since its last start or end
    int reader = -1, upPc = 0, readerPc = 0;   // holders, and the PC that began each
    Bytes readFile, read;
    bool imageReady = false, finishArmed = false;
    std::string loader = "/usr/app/kelM57N";
};

struct Sut {
    explicit Sut(kel_test::TestRoot& r) : root(r) {}
    kel_test::TestRoot& root;
    std::vector<std::unique_ptr<message_deal>> links;
    Bytes buf = Bytes(message_deal::FRAME_BUF_SIZE);
    std::map<std::string, int> seen;
    Bytes deal(int pc, uint8_t group, const Bytes& data)
    {
        pc::Frame f;
        f.group = group, f.data = data;
        const Bytes plain = pc::encode(f);
        std::copy(plain.begin(), plain.end(), buf.begin());
        message_deal& md = *links[size_t(kLink[pc])];
        md.peer = kPeer[pc];
        const int r = md.message_group_deal(buf.data(), unsigned(plain.size() - 1), 5);
        return Bytes(buf.begin() + 10, buf.begin() + 10 + std::max(r, 0));
    }
    // The data root holds what the model says, and the loader names a program that is there.
    void check(const Model& m) const
    {
        static std::set<std::string> paths;
        for (int kind = 0; paths.empty() && kind < kUploads; ++kind)
            paths.insert({kApp, target(kind, 0).dest});
        for (const std::string& path : paths) {
            const auto f = m.files.find(path);
            const std::string want = f == m.files.end() ? "(none)" : std::string(f->second.begin(), f->second.end());
            RC_ASSERT(path.empty() || (root.exists(path) ? root.readFile(path) : "(none)") == want);
        }
        std::ifstream flash(sim::MtdModel::backingFile("/dev/mtd10"), std::ios::binary);
        Bytes k(m.kernel.size());
        flash.read(reinterpret_cast<char*>(k.data()), std::streamsize(k.size()));
        RC_ASSERT(k == m.kernel);
        const std::string ini = root.readFile("/data/configs/led_load_config.ini");
        RC_ASSERT(ini.find("app_path=" + m.loader + (m.loader == kApp ? " -platform linuxfb\n" : "\n")) != std::string::npos);
        RC_ASSERT(root.exists(m.loader));
    }
};

using Command = rc::state::Command<Model, Sut>;
// Each step computes its reply from the model, changing the model as the device should change.
struct Step : Command {
    // Mostly the PC whose transfer runs, when given one.
    explicit Step(int running = -1)
        : pc(running < 0 ? *rc::gen::inRange(0, kPcs)
                         : *rc::gen::weightedOneOf<int>({{4, rc::gen::just(running)}, {1, rc::gen::inRange(0, kPcs)}}))
    {
    }
    int pc;
    virtual Bytes expect(Model& m) const = 0;
    virtual Bytes request(const Model& m) const = 0;
    virtual uint8_t group() const { return 0xC0; }
    virtual std::string note(const Model&, const Model&) const { return "other"; }
    void apply(Model& m) const override { expect(m); }
    void run(const Model& m0, Sut& s) const override
    {
        Model m = m0;
        const Bytes want = expect(m);
        const int flashed = sim::MtdModel::writeCount("/dev/mtd10");
        RC_ASSERT(pc::hex(s.deal(pc, group(), request(m0))) == pc::hex(want));
        RC_ASSERT((sim::MtdModel::writeCount("/dev/mtd10") != flashed) == (m.kernels != m0.kernels));
        s.check(m);
        ++s.seen[note(m0, m)];
    }
    bool holds(const Model& m) const { return m.up && m.up->holder == holderOf(pc); }
};

struct Start : Step {
    int kind = *rc::gen::weightedOneOf<int>(
        {{2, rc::gen::just(0)}, {6, rc::gen::inRange(0, kUploads)}, {1, rc::gen::inRange(kUploads, kStartKinds)}});
    uint32_t size = *rc::gen::weightedOneOf<uint32_t>(
        {{4, rc::gen::inRange<uint32_t>(1, 3000)}, {4, rc::gen::inRange<uint32_t>(1, 7000)}, {1, rc::gen::just<uint32_t>(0)}});
    int bad = *rc::gen::weightedElement<int>({{4, 0}, {1, 1}, {1, 2}, {1, 3}, {1, 4}});
    Bytes request(const Model&) const override { return target(kind, size).req; }
    Bytes expect(Model& m) const override
    {
        const Target t = target(kind, size);
        m.sent[pc].clear();
        const bool free = !m.up || holds(m);
        if (t.type == Boot && free) {   // answered with nothing; its digest goes on from the holder's
            m.up = Upload{holderOf(pc), Boot, "", 0, m.up ? m.up->sent : Bytes{}, {}, true};
            m.upPc = pc;
            return {};
        }
        if (t.type == 0 || !free || (size == 0 && (t.type == App || t.type == Kernel)))
            return {1, t.req[0], 2};
        m.imageReady = m.imageReady && t.type != App;
        const Bytes doc = json(t.type) ? document(t.type, size, bad) : Bytes{};
        m.up = Upload{holderOf(pc), t.type, t.dest, size, {}, doc, !json(t.type) || (bad == 0 && size >= 80)};
        m.upPc = pc;
        return {0, t.req[0], 0};
    }
    std::string note(const Model& m0, const Model& m) const override
    {
        const bool kept = holds(m0) && m.up->sent == m0.up->sent && m.up->next == m0.up->next && m.up->type == m0.up->type;
        return kept && !m0.up->sent.empty() ? "start refused mid-upload" : "start";
    }
    void show(std::ostream& os) const override { os << "Start(pc " << pc << ", kind " << kind << ", " << size << ", bad " << bad << ")"; }
};

struct Block : Step {
    explicit Block(const Model& m) : Step(m.up ? m.upPc : -1) {}
    int where = *rc::gen::weightedElement<int>({{8, 0}, {1, 1}, {2, 2}, {1, 3}, {1, 4}});   // next, gap, anywhere, past, lying
    uint32_t n = *rc::gen::weightedOneOf<uint32_t>({{9, rc::gen::inRange<uint32_t>(1, 4001)}, {1, rc::gen::just<uint32_t>(0)}});
    uint32_t seed = *rc::gen::arbitrary<uint32_t>();
    uint32_t offset(const Model& m) const
    {
        const uint32_t next = holds(m) ? m.up->next : 0, size = holds(m) ? m.up->size : 0;
        return where == 1 ? next + 1 + seed % 500 : where == 2 ? seed % (size + 1) : where == 3 ? 0x500000 - n / 2 : next;
    }
    // The PC's file: an uploaded document's own bytes, else its seed's.
    Bytes data(const Model& m) const
    {
        Bytes d(n);
        const Bytes doc = holds(m) ? m.up->doc : Bytes{};
        for (uint32_t i = 0, at = offset(m); i < n; ++i)
            d[i] = !doc.empty() ? (at + i < doc.size() ? doc[at + i] : 'p') : uint8_t((seed >> (i % 24)) + i);
        return d;
    }
    Bytes request(const Model& m) const override
    {
        Bytes r = block(offset(m), data(m), 0, n);
        r[10] = uint8_t(r[10] + (where == 4 ? 1 : 0));   // announces 256 bytes more than it carries
        return r;
    }
    Bytes expect(Model& m) const override
    {
        const Bytes d = data(m);
        const uint32_t at = offset(m);
        m.sent[pc].insert(m.sent[pc].end(), d.begin(), d.end());
        if (!holds(m) || where == 4 || (m.up->type != Boot && uint64_t(at) + n > capacity(m.up->type)))
            return {1, 2};
        Upload& u = *m.up;
        for (uint32_t i = 0; u.type != Boot && i < n && at + i < u.size; ++i)
            u.buf[at + i] = d[i], u.covered[at + i] = true;
        u.sent.insert(u.sent.end(), d.begin(), d.end());
        u.next = at + n;
        return {0, 2};
    }
    std::string note(const Model& m0, const Model&) const override { return holds(m0) ? "block" : "block with no upload of its own"; }
    void show(std::ostream& os) const override { os << "Block(pc " << pc << ", where " << where << ", " << n << ", seed " << seed << ")"; }
};

struct End : Step {
    explicit End(const Model& m) : Step(m.up ? m.upPc : -1) {}
    bool right = *rc::gen::weightedElement<bool>({{5, true}, {1, false}});
    Bytes request(const Model& m) const override
    {
        Bytes e = end(md5Of(m.sent[pc]));
        e[5] = uint8_t(e[5] ^ (right ? 0 : 1));
        return e;
    }
    Bytes expect(Model& m) const override
    {
        const Bytes pcSent = m.sent[pc];
        m.sent[pc].clear();
        if (!holds(m)) {
            m.reader = !m.up && m.reader == holderOf(pc) ? -1 : m.reader;   // an end of nothing closes a read
            return {1, 3, 1};
        }
        const Upload u = *m.up;
        m.up.reset();
        const bool whole = std::find(u.covered.begin(), u.covered.end(), false) == u.covered.end();
        if (!right || pcSent != u.sent || ((u.type == App || u.type == Kernel) && !whole) || !u.usable || (json(u.type) && u.buf != u.doc))
            return {0, 3, 1};
        if (u.type == Kernel)
            m.kernel = u.buf, ++m.kernels;
        else if (u.type != Boot)
            m.files[u.dest] = u.buf;
        m.imageReady = m.imageReady || u.type == App;
        return {0, 3, 0};
    }
    std::string note(const Model& m0, const Model& m) const override
    {
        if (!holds(m0))
            return "end with no upload of its own";
        const bool image = m0.up->type == App || m0.up->type == Kernel;
        if (m.files != m0.files || m.kernels != m0.kernels || (m0.up->type == Boot && m0.up->sent == m0.sent[pc]))
            return "stored, type " + std::to_string(m0.up->type);
        return image && m0.up->sent == m0.sent[pc] ? "image refused" : "ended, nothing stored";
    }
    void show(std::ostream& os) const override { os << "End(pc " << pc << ", right " << right << ")"; }
};

struct ReadStart : Step {
    int what = *rc::gen::inRange(0, 10);
    std::pair<Bytes, std::string> target() const
    {
        const std::vector<std::pair<Bytes, std::string>> t = {
            {{4, 0, 0, 'A', 'L', 'I', 'S'}, kAlias}, {{4, 0, 0, 'O', 'S', 'D', 'S'}, "/data/configs/omenu.json"},
            {{4, 0, 0, 'A', 'B', 'C', 'D'}, ""}, {named(8, "MO0A", 7, 0), "/data/modes/MO0a.json"},
            {named(8, "P1", 9, 0), "/data/rcvrecovery/P1"}, {named(8, kUtf, 9, 0), "/data/rcvrecovery/" + kUtf},
            {named(8, kLongest, 13, 0), "/data/smartmapping/" + kLongest}, {named(8, "../P1", 9, 0), ""},
            {named(8, "../../etc/x", 13, 0), ""}, {named(8, "P1", 7, 0), ""}};
        return t[size_t(what)];
    }
    Bytes request(const Model&) const override { return target().first; }
    Bytes expect(Model& m) const override
    {
        const auto [req, path] = target();
        const uint8_t echo = req[0] == 8 && (req[req.size() - 5] == 9 || req[req.size() - 5] == 13) ? 8 : 4;
        if (m.reader != -1 && m.reader != holderOf(pc))
            return {uint8_t(path.empty() ? 0 : 1), echo, 0, 0, 0, 0, 0};
        m.reader = -1;
        if (!m.files.count(path))
            return {0, echo, 0, 0, 0, 0, 0};
        m.reader = holderOf(pc);
        m.readerPc = pc;
        m.readFile = m.files[path];
        m.read.clear();
        Bytes r = {0, echo, 1};
        pc::put32(r, uint32_t(m.readFile.size()));
        return r;
    }
    std::string note(const Model& m0, const Model& m) const override
    {
        return m0.reader == holderOf(pc) && m.reader == -1 ? "read, then one finding nothing" : "read start";
    }
    void show(std::ostream& os) const override { os << "ReadStart(pc " << pc << ", " << what << ")"; }
};

struct ReadBlock : Step {
    explicit ReadBlock(const Model& m) : Step(m.reader != -1 ? m.readerPc : -1) {}
    uint32_t offset = *rc::gen::weightedOneOf<uint32_t>({{3, rc::gen::just<uint32_t>(0)}, {2, rc::gen::inRange<uint32_t>(0, 8000)}});
    uint32_t n = *rc::gen::inRange<uint32_t>(0, 2000);
    Bytes request(const Model&) const override
    {
        Bytes d = {5, 0, 0, 0, 0};
        pc::put32(d, offset);
        pc::put32(d, n);
        return d;
    }
    Bytes expect(Model& m) const override
    {
        if (m.reader != -1 && m.reader != holderOf(pc))
            return {1, 5};
        Bytes r(2 + n, 0);
        r[1] = 5;
        for (uint32_t i = 0; m.reader != -1 && i < n && offset + i < m.readFile.size(); ++i)
            m.read.push_back(r[2 + i] = m.readFile[offset + i]);
        return r;
    }
    std::string note(const Model& m0, const Model&) const override { return m0.reader == -1 ? "read block, no file" : "read block"; }
    void show(std::ostream& os) const override { os << "ReadBlock(pc " << pc << ", " << offset << ", " << n << ")"; }
};

struct ReadEnd : Step {
    explicit ReadEnd(const Model& m) : Step(m.reader != -1 ? m.readerPc : -1) {}
    Bytes request(const Model&) const override { return {6}; }
    Bytes expect(Model& m) const override
    {
        Bytes r(18, 0);
        r[0] = m.reader != -1 && m.reader != holderOf(pc) ? 1 : 0, r[1] = 6;
        if (m.reader == holderOf(pc)) {
            const Bytes d = md5Of(m.read);
            std::copy(d.begin(), d.end(), r.begin() + 2);
            m.reader = -1;
        }
        return r;
    }
    void show(std::ostream& os) const override { os << "ReadEnd(pc " << pc << ")"; }
};

// The PC's connection closes: whatever it held is let go.
struct Release : Step {
    Bytes request(const Model&) const override { return {}; }
    Bytes expect(Model& m) const override
    {
        if (holds(m))
            m.up.reset();
        m.reader = m.reader == holderOf(pc) ? -1 : m.reader;
        return {};
    }
    void run(const Model& m0, Sut& s) const override
    {
        Model m = m0;
        expect(m);
        s.links[size_t(kLink[pc])]->release_peer(kPeer[pc]);
        RC_ASSERT(!s.links[size_t(kLink[pc])]->holds_transfer(kPeer[pc]));
        s.check(m);
        ++s.seen[holds(m0) ? "release mid-upload" : "release"];
    }
    void show(std::ostream& os) const override { os << "Release(pc " << pc << ")"; }
};

// Register 14 bit 0 finishes an application upgrade, once until the flag is cleared (as the
// restart it asks for would).
struct Finish : Step {
    bool cleared = *rc::gen::arbitrary<bool>();
    uint8_t group() const override { return 0xA0; }
    Bytes request(const Model&) const override
    {
        if (cleared)
            g_app_reset_flag = 0;
        return pc::writeRegister(14, 1, 1).data;
    }
    Bytes expect(Model& m) const override
    {
        if (m.finishArmed && !cleared)
            return {0};
        m.finishArmed = true;
        if (m.imageReady) {
            m.files[kApp] = m.files[kImage];
            m.files.erase(kImage);
            m.loader = kApp;
        }
        m.imageReady = false;
        return {0};
    }
    std::string note(const Model& m0, const Model& m) const override
    {
        return m.files != m0.files ? "finish, image moved" : m0.files.count(kImage) ? "finish, unverified image kept" : "finish, no image";
    }
    void show(std::ostream& os) const override { os << "Finish(cleared " << cleared << ")"; }
};

} // namespace transfers

TEST_F(PcFileTransfer, EverySequenceOfTransferFramesStoresAndServesWhatTheModelSays)
{
    using namespace transfers;
    std::map<std::string, int> total;
    kel_test::checkProperty("transfer sequences", [&] {
        for (const char* dir : {"/data/app", "/data/rcvrecovery", "/data/smartmapping", "/data/modes", "/data/configs"})
            std::filesystem::remove_all(root.host(dir));
        root.writeFile(kAlias, "ten bytes.");
        root.writeFile(kApp, "old");
        root.writeFile("/usr/app/kelM57N", "first");
        root.writeFile("/data/configs/led_load_config.ini", "[app-1]\napp_path=/usr/app/kelM57N\n");
        Model m;
        m.files = {{kAlias, {'t', 'e', 'n', ' ', 'b', 'y', 't', 'e', 's', '.'}}, {kApp, {'o', 'l', 'd'}}};
        {
            std::lock_guard<std::mutex> hold(message_deal::transfer_mutex);
            FileBufOwner::reset();
            message_deal::file_read_hold.reset();
            g_kel_file_deal_para = KelFileDeal{};
            md5.reset();
            if (file_velin)
                std::fclose(file_velin);
            file_velin = nullptr;
        }
        g_app_reset_flag = 0;
        g_update_status = 0;
        Sut s{root};
        for (int k = 0; k < 3; ++k)
            s.links.push_back(std::make_unique<message_deal>(message_deal::REPLY_LIMIT_UDP));
        rc::state::check(m, s, rc::state::gen::execOneOfWithArgs<Start, Start, Block, Block, Block, Block, End, ReadStart, ReadStart,
                                                                 ReadBlock, ReadEnd, Release, Finish>());
        for (const auto& [what, n] : s.seen) {
            RC_CLASSIFY(n > 0, what);
            total[what] += n;
        }
        for (auto& l : s.links)
            for (uint64_t peer : {0, 1, 2})
                l->release_peer(peer);
    }, {kel_test::underEmulation() ? 20 : 150, 100});
    for (const auto& [what, n] : total)
        std::cout << "  " << what << ": " << n << "\n";
}
