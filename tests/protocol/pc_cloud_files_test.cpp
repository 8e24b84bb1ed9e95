// Groups 0xC5-0xCC and 0x8E/0x8F: cloud settings files up and down with their result
// codes, the reload and reconnection requests a new settings file raises, the 4G status
// (also as the module's group 0xC4 hands it over).
#include "tests/protocol/handler_fixture.h"

#include "core/kel_file_deal.h"
#include "tests/support/Emulation.h"
#include "tests/support/PropertyCheck.h"

#include <rapidcheck/state.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

namespace {

using handler_test::Bytes;

class PcCloudFiles : public handler_test::HandlerFixture {
protected:
    void SetUp() override
    {
        HandlerFixture::SetUp();
        g_yp_s_file = YP_FILE{};
        g_yp_r_file = YP_FILE{};
        g_reconfig_4g = 0;
        g_rconfig_device_utorcloud = 0;
        std::memset(g_4G_RAM, 0, sizeof g_4G_RAM);
    }
};

// Sequences of cloud-file frames from three PCs (two peers of one link, one on another):
// uploads of the CA and settings files, asks, reads of them and of the barcode, cancels, and
// the barcode changed meanwhile. Every reply is the one a model written from the frame rules
// gives: an upload is its starter's until it ends or cancels, and stores the file whole with
// its header; a read serves its opener the file (or barcode) as it was at the read's start,
// and a read confirmed done (200) holds one whole file that was stored.
namespace cloudfiles {
constexpr int kPcs = 3, kLink[kPcs] = {0, 0, 1}, kPeer[kPcs] = {1, 2, 0};
const char* const kName[] = {"F001", "F002", "F004", "F009"};
const uint16_t kId[] = {100, 101, 102, 0};
const std::string kPath[] = {"", "/data/configs/cloud_cafile", "/data/configs/cloud_setinfo", ""};
struct Record { int kind = -1; uint16_t id = 0; uint32_t offset = 0, size = 0; };   // kind: index into kName
struct Model {
    std::map<int, Bytes> files;                 // kind 1, 2: the stored file, header and all
    std::vector<Bytes> stored[3];               // every file (or barcode) that ever was, per kind
    std::string barcode = "KB-12345";
    Record send, recv;
    int bufHolder = -1, reader = -1;            // a pc; settled: done, anyone may take it
    bool bufSettled = false, readSettled = false;
    Bytes data, copy;                           // the upload's data; the read's copy
    std::string note;                           // for the spread
    bool reconnect = false;                     // this step stored a settings file
};
Bytes r5(int status, int code, uint16_t id) { return {uint8_t(status), uint8_t(code), uint8_t(status), uint8_t(id), uint8_t(id >> 8)}; }
uint32_t limit(int kind) { return kind == 1 ? 32768 : 4096; }

struct Sut {
    std::function<Bytes(message_deal&, uint8_t, const Bytes&)> via;
    kel_test::TestRoot& root;
    std::unique_ptr<message_deal> links[2];
    std::map<std::string, int> seen;
};

struct Step : rc::state::Command<Model, Sut> {
    explicit Step(int likely = -1)
        : pc(likely < 0 ? *rc::gen::inRange(0, kPcs) : *rc::gen::weightedOneOf<int>({{3, rc::gen::just(likely)}, {1, rc::gen::inRange(0, kPcs)}}))
    {
    }
    int pc;
    virtual Bytes step(Model& m, uint8_t& group, Bytes& req) const = 0;
    void apply(Model& m) const override { uint8_t g; Bytes r; step(m, g, r); }
    void run(const Model& m0, Sut& s) const override
    {
        Model m = m0;
        m.note.clear(), m.reconnect = false;
        uint8_t group;
        Bytes req;
        const Bytes want = step(m, group, req);
        if (group == 0) {   // the barcode changes, as the panel or another command changes it
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_barcode = QString::fromStdString(m.barcode);
        } else {
            message_deal& md = *s.links[kLink[pc]];
            md.peer = uint64_t(kPeer[pc]);
            g_reconfig_4g = 0, g_rconfig_device_utorcloud = 0, g_4G_RAM[56] = 1;
            RC_ASSERT(pc::hex(s.via(md, group, req)) == pc::hex(want));
            // A new settings file: offline, reload and reconnect; the barcode record it replaces is gone.
            RC_ASSERT(bool(g_reconfig_4g) == m.reconnect && g_rconfig_device_utorcloud == m.reconnect && g_4G_RAM[56] == !m.reconnect);
            RC_ASSERT(s.root.exists("/data/configs/cloud_barcode") == (m.stored[2].size() == 1));
        }
        for (int kind : {1, 2})
            RC_ASSERT((s.root.exists(kPath[kind]) ? s.root.readFile(kPath[kind]) : "(none)") == (m.files.count(kind) ? std::string(m.files[kind].begin(), m.files[kind].end()) : "(none)"));
        ++s.seen[group ? pc::hex(Bytes{group}) + " -> " + pc::hex(Bytes(want.begin(), want.begin() + std::min<size_t>(2, want.size()))) + m.note : "barcode changed"];
    }
};

struct SendStart : Step {
    int kind = *rc::gen::weightedElement<int>({{1, 0}, {4, 1}, {4, 2}, {1, 3}});
    bool ask = *rc::gen::weightedElement<bool>({{4, false}, {1, true}});
    uint32_t size = *rc::gen::weightedOneOf<uint32_t>({{4, rc::gen::inRange<uint32_t>(0, 100)}, {4, rc::gen::inRange<uint32_t>(0, 1600)}, {1, rc::gen::element<uint32_t>(4096, 4097, 32768, 32769)}});
    Bytes step(Model& m, uint8_t& group, Bytes& req) const override
    {
        group = 0xCC, req = Bytes(kName[kind], kName[kind] + 4), pc::put32(req, size), req.push_back(ask ? 0 : 1);
        if (kind == 3)
            return r5(1, 64, 0);
        if (ask)
            return r5(1, m.files.count(kind) ? 65 : size <= limit(kind) ? 64 : 66, kId[kind]);
        if (kind != 0 && size > limit(kind))
            return r5(1, 66, kId[kind]);
        if (m.bufHolder >= 0 && m.bufHolder != pc && !m.bufSettled)
            return r5(1, 64, kId[kind]);
        m.bufHolder = pc, m.bufSettled = false, m.send = {kind, kId[kind], 0, size}, m.data.clear();
        return r5(0, 200, kId[kind]);
    }
    void show(std::ostream& os) const override { os << "SendStart(pc " << pc << ", " << kName[kind] << (ask ? " ask, " : ", ") << size << ")"; }
};

struct RecvStart : Step {
    int kind = *rc::gen::weightedElement<int>({{2, 0}, {4, 1}, {4, 2}, {1, 3}});
    Bytes step(Model& m, uint8_t& group, Bytes& req) const override
    {
        group = 0xC8, req = Bytes(kName[kind], kName[kind] + 4);
        Bytes r = r5(1, 'N', kId[kind]);
        if (m.reader >= 0 && m.reader != pc && !m.readSettled)
            return pc::put32(r, 0), r;
        m.recv = {kind, kId[kind], 0, 0};
        m.copy = kind == 0 ? Bytes(m.barcode.begin(), m.barcode.end()) : m.files.count(kind) ? m.files[kind] : Bytes{};
        const bool found = kind == 0 || m.copy.size() >= (kind == 1 ? 7u : 3u);
        m.recv.size = kind == 0 ? uint32_t(m.copy.size()) : !found ? 0 : kind == 1 ? m.copy[3] | m.copy[4] << 8 | m.copy[5] << 16 | uint32_t(m.copy[6]) << 24 : m.copy[1] | m.copy[2] << 8;
        m.reader = found ? pc : -1, m.readSettled = false;
        r = r5(found ? 0 : 1, found ? 200 : 'N', kId[kind]);
        pc::put32(r, m.recv.size);
        return r;
    }
    void show(std::ostream& os) const override { os << "RecvStart(pc " << pc << ", " << kName[kind] << ")"; }
};

std::string replaced(const Model& m)
{
    const Bytes now = m.recv.kind == 0 ? Bytes(m.barcode.begin(), m.barcode.end()) : m.files.count(m.recv.kind) ? m.files.at(m.recv.kind) : Bytes{};
    return now == m.copy ? "" : m.recv.kind == 0 ? ", the barcode changed meanwhile" : ", the file replaced meanwhile";
}

// A block, an end or a cancel of an upload or of a read (mostly with the record's id and place).
struct Next : Step {
    explicit Next(const Model& m) : Next(m, *rc::gen::arbitrary<bool>()) {}
    Next(const Model& m, bool read)
        : Step(read ? m.reader : m.bufHolder), read(read), rest(std::min<uint32_t>(m.send.size - std::min(m.send.size, m.send.offset), 1600))
    {
    }
    bool read;
    uint32_t rest;   // what the upload still lacks, as far as one block carries
    int what = *rc::gen::weightedElement<int>({{6, 0}, {2, 1}, {1, 2}});   // block, end, cancel
    int wrong = *rc::gen::weightedElement<int>({{6, 0}, {1, 1}, {1, 2}});  // right, id, offset or size
    uint32_t n = *rc::gen::weightedOneOf<uint32_t>({{4, rc::gen::just(rest)}, {2, rc::gen::inRange<uint32_t>(0, rest + 1)}, {1, rc::gen::inRange<uint32_t>(0, 1700)}});
    uint8_t seed = *rc::gen::arbitrary<uint8_t>();
    Bytes step(Model& m, uint8_t& group, Bytes& req) const override
    {
        Record& r = read ? m.recv : m.send;
        int& holder = read ? m.reader : m.bufHolder;
        const uint16_t id = uint16_t(r.id + (wrong == 1 ? 1 : 0));
        const uint32_t at = r.offset + (wrong == 2 ? 1 : 0), size = r.size + (wrong == 2 ? 1 : 0);
        const bool mine = holder == pc, right = id == r.id;
        req.clear(), pc::put16(req, id);
        if (what == 2) {
            group = read ? 0xCB : 0xC7;
            if (!right || !mine)
                return r5(1, 74, r.id);
            r = {}, holder = -1;
            return r5(0, 200, id);
        }
        pc::put32(req, what == 1 ? size : at);
        if (what == 1 && read) {
            group = 0xCA;
            if (!right || !mine || size != r.size)
                return r5(1, size == r.size ? 44 : 77, r.id);
            m.readSettled = true;
            m.note = replaced(m);
            return r5(0, 200, r.id);
        }
        if (what == 1) {
            group = 0xC6;
            if (!mine || !right || size != r.size)
                return r5(1, mine && size != r.size ? 76 : 74, r.id);
            if (r.kind != 1 && r.kind != 2)
                return m.bufSettled = true, r5(0, 200, r.id);
            if (r.offset != r.size || (r.kind == 2 && r.size == 0))
                return r5(1, 77, r.id);
            Bytes file = {0xAA};
            r.kind == 1 ? (pc::put16(file, r.id), pc::put32(file, r.size)) : pc::put16(file, uint16_t(r.size + 2));
            file.insert(file.end(), m.data.begin(), m.data.end());
            m.files[r.kind] = file, m.stored[r.kind].push_back(file), m.bufSettled = true, m.reconnect = r.kind == 2;
            return r5(0, 200, r.id);
        }
        if (read) {
            group = 0xC9;
            Bytes out, served;
            if (!mine || !right || at != r.offset) {
                out = r5(1, !right && at == r.offset ? 74 : 75, r.id);
            } else {
                const size_t from = r.kind == 1 ? 7 + at : r.kind == 2 ? 1 : 0, count = r.kind == 1 ? std::min<uint32_t>(r.size - std::min(r.size, at), 768) : r.size;
                for (size_t i = 0; i < count && (r.kind != 1 || from + i < m.copy.size()); ++i)
                    served.push_back(from + i < m.copy.size() ? m.copy[from + i] : 0);
                // Whatever the copy: the bytes of one file (or barcode) that was stored, at their place.
                RC_ASSERT(std::any_of(m.stored[r.kind == 3 ? 0 : r.kind].begin(), m.stored[r.kind == 3 ? 0 : r.kind].end(), [&](Bytes f) {
                    f.resize(std::max(f.size(), from + served.size()));
                    return std::equal(served.begin(), served.end(), f.begin() + long(from));
                }));
                r.offset += r.kind == 1 ? uint32_t(served.size()) : r.size;
                m.note = replaced(m);
                out = r5(0, 200, r.id);
            }
            pc::put32(out, r.offset), pc::put16(out, uint16_t(served.size()));
            out.insert(out.end(), served.begin(), served.end());
            return out;
        }
        group = 0xC5, pc::put16(req, uint16_t(n));
        Bytes d(n);
        for (uint32_t i = 0; i < n; ++i)
            d[i] = uint8_t(seed + i * 7);
        req.insert(req.end(), d.begin(), d.end());
        const bool beyond = uint64_t(at) + n > r.size || uint64_t(at) + n > limit(r.kind);
        if (!mine || !right || at != r.offset || beyond)
            return r5(1, !mine ? 74 : beyond ? 76 : !right && at == r.offset ? 74 : 75, r.id);
        if (r.kind == 1 || r.kind == 2)
            m.data.insert(m.data.end(), d.begin(), d.end()), r.offset += n;
        return r5(0, 200, r.id);
    }
    void show(std::ostream& os) const override { os << "Next(pc " << pc << (read ? ", read " : ", upload ") << what << ", wrong " << wrong << ", " << n << ")"; }
};

struct Barcode : Step {
    std::string text = *rc::gen::element<std::string>("KB-12345", "X", "LONGER-BARCODE-TEXT");
    Bytes step(Model& m, uint8_t& group, Bytes&) const override { return group = 0, m.barcode = text, m.stored[0].push_back(Bytes(text.begin(), text.end())), Bytes{}; }
    void show(std::ostream& os) const override { os << "Barcode(" << text << ")"; }
};
} // namespace cloudfiles

TEST_F(PcCloudFiles, EverySequenceOfCloudFileFramesAnswersAndStoresWhatTheModelSays)
{
    using namespace cloudfiles;
    std::map<std::string, int> total;
    kel_test::checkProperty("cloud-file sequences", [&] {
        Model m;
        for (int kind : {1, 2}) {   // stored at the start, as an earlier upload left them
            // The CA file longer than a read's block: its reads cross blocks.
            Bytes f = kind == 1 ? Bytes{0xAA, 101, 0, 0xE8, 0x03, 0, 0} : Bytes{0xAA, 6, 0, 'o', 'l', 'd', 's'};
            for (int i = 0; kind == 1 && i < 1000; ++i)
                f.push_back(uint8_t('a' + i % 26));
            root.writeFile(kPath[kind], std::string(f.begin(), f.end())), m.files[kind] = f, m.stored[kind] = {f};
        }
        m.stored[0] = {Bytes(m.barcode.begin(), m.barcode.end())};
        root.writeFile("/data/configs/cloud_barcode", "old");
        g_yp_s_file = YP_FILE{}, g_yp_r_file = YP_FILE{};
        FileBufOwner::reset();
        message_deal::cloud_read_hold.reset();
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_barcode = QString::fromStdString(m.barcode);
        }
        Sut s{[this](message_deal& md, uint8_t g, const Bytes& r) { return reply(deal(req(g, r), md)); }, root, {}, {}};
        for (auto& l : s.links)
            l = std::make_unique<message_deal>(message_deal::REPLY_LIMIT_UDP);
        rc::state::check(m, s, rc::state::gen::execOneOfWithArgs<SendStart, Next, Next, Next, RecvStart, Next, Next, Next, Barcode>());
        for (const auto& [what, n] : s.seen) {
            RC_CLASSIFY(n > 0, what);
            total[what] += n;
        }
    }, {kel_test::underEmulation() ? 20 : 150, 100});
    for (const auto& [what, n] : total)
        std::cout << "  " << what << ": " << n << "\n";
}

TEST_F(PcCloudFiles, FourGModuleInfoAndStatus)
{
    for (int i = 0; i < 256; ++i)
        g_4G_RAM[i] = uint8_t(i);
    Bytes info = reply(deal(req(0x8E, {1})));
    ASSERT_EQ(info.size(), 60u);
    EXPECT_EQ(Bytes(info.begin(), info.begin() + 2), (Bytes{0, 1}));
    EXPECT_EQ(Bytes(info.begin() + 2, info.begin() + 58), Bytes(g_4G_RAM, g_4G_RAM + 56));
    EXPECT_EQ(Bytes(info.begin() + 58, info.end()), (Bytes{0, 0}));
    // Online through the 4G module (the refusals: the table of commands' check).
    g_4G_RAM[0] = 0xAA;
    g_4G_RAM[56] = 3;
    EXPECT_EQ(reply(deal(req(0x8F, {}))), (Bytes{0, 1, 3}));
    // The module's own group hands its status block over.
    g_4G_RAM[0] = 0;
    EXPECT_EQ(reply(deal(req(0xC4, {1, 1, 0, 0xAA}))), (Bytes{0, 1}));
    EXPECT_EQ(g_4G_RAM[0], 0xAA);
}

} // namespace
