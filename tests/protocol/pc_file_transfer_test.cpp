// Group 0xC0: uploads of every file type verified by their MD5 digest, into the data root
// and the raw flash partitions; read-backs; refused names, sizes and blocks; the buffer's
// single owner; the folder clean-up.
#include "tests/protocol/handler_fixture.h"
#include "tests/protocol/file_frames.h"

#include "board/Files.h"
#include "core/kel_file_deal.h"
#include "gui/led/smartmapping.h"
#include "tests/support/KeyDriver.h"

#include <cstring>
#include <filesystem>

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

TEST_F(PcFileTransfer, StoredFilesRoundTripThroughTheirDigests)
{
    const std::string longest = "\xe5\xb1\x8f scan" + std::string(240, 's') + ".kxfile";   // 255 bytes, the longest
    struct Case { Bytes start; std::string path; Bytes readStart; uint8_t echo; int json = 0; };   // 1 alias, 2 overlay
    const std::vector<Case> cases = {
        {start("ALIS", 0, 0), "/data/configs/alias.json", {4, 0, 0, 'A', 'L', 'I', 'S'}, 4, 1},
        {start("OSDS", 0, 0), "/data/configs/omenu.json", named(8, "OSDS", 8, 0), 4, 2},
        {start("MO0A", 0, 0), "/data/modes/MO0a.json", {4, 0, 0, 'M', 'O', '0', 'A'}, 4, 2},
        {start("MO10", 0, 0), "/data/modes/MO10.json", named(8, "MO10", 7, 0), 4, 2},
        {start("DIVU", 9, 0), "/data/rcvrecovery/DIVU", named(8, "DIVU", 9, 0), 8},
        {start("KXFR", 13, 0), "/data/smartmapping/KXFR", named(8, "KXFR", 13, 0), 8},
        {named(7, longest, 13, 0), "/data/smartmapping/" + longest, named(8, longest, 13, 0), 8},
    };
    unsigned seed = 1;
    for (Case c : cases) {
        const Bytes data = c.json ? json(c.json == 1, 10000 + seed * 777) : content(10000 + seed * 777, seed);
        Bytes s(c.start.begin(), c.start.end() - 4);   // the size goes last
        pc::put32(s, uint32_t(data.size()));
        EXPECT_EQ(upload(s, data, md5Of(data)), (Bytes{0, 3, 0})) << c.path;
        EXPECT_TRUE(fileHolds(c.path, data)) << c.path;
        EXPECT_TRUE(download(c.readStart, c.echo) == data) << c.path;
        ++seed;
    }
    // The application image waits as kelM57N2 and is marked whole.
    const Bytes app = content(70000, 9);
    EXPECT_EQ(upload(start("FMCU", 0, 70000), app, md5Of(app)), (Bytes{0, 3, 0}));
    EXPECT_TRUE(fileHolds("/data/app/kelM57N2", app));
    EXPECT_TRUE(g_kel_file_deal_para.app_image_ready);
    EXPECT_EQ(g_update_flag, 1);
    // A digest that differs stores nothing; the image is no longer whole.
    EXPECT_EQ(upload(start("FMCU", 0, 70000), app, Bytes(16, 0)), (Bytes{0, 3, 1}));
    EXPECT_FALSE(g_kel_file_deal_para.app_image_ready);
    // No image is installed from blocks that left a gap, though their digest matches.
    const Bytes half(app.begin(), app.begin() + 35000);
    for (const char* image : {"FMCU", "FKRN", "LOGO"})
        EXPECT_EQ(upload(start(image, 0, 70000), half, md5Of(half)), (Bytes{0, 3, 1})) << image;
    EXPECT_FALSE(g_kel_file_deal_para.app_image_ready);
    EXPECT_TRUE(fileHolds("/data/app/kelM57N2", app));
    EXPECT_EQ(sim::MtdModel::writeCount("/dev/mtd10") + sim::MtdModel::writeCount("/dev/mtd8"), 0);
}

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

TEST_F(PcFileTransfer, RefusedStartsBlocksAndNames)
{
    for (const Bytes& s : {start("MO00", 0, 10), start("MO11", 0, 10), start("DIVU", 13, 10), start("MOG1", 0, 10),
                           start("LOGO", 0, 0x60000 - 371), start("FMCU", 0, 0x500001), start("ALIS", 0, 0x60001),
                           start("FMCU", 0, 0), start("FKRN", 0, 0), start("LOGO", 0, 0)}) {
        EXPECT_EQ(reply(deal(req(0xC0, s))), (Bytes{1, 1, 2}));
        EXPECT_EQ(g_kel_file_deal_para.type, 0);
    }
    // An end before any upload closes the file a read left open: the read's end then finds
    // none ([12] = 0).
    root.writeFile("/data/configs/alias.json", "names");
    EXPECT_EQ(reply(deal(req(0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'}))), (Bytes{0, 4, 1, 5, 0, 0, 0}));
    deal(req(0xC0, end(md5Of({}))));
    EXPECT_EQ(deal(req(0xC0, {6})), 18);
    EXPECT_EQ(buf[12], 0);
    // Names: only separators, NUL and control characters, a leading dot and more than 255
    // bytes are refused (spaces and Chinese are names a PC sends: stored above).
    for (const std::string& name : {std::string("../x"), std::string(".hidden"), std::string(256, 'a'), std::string(),
                                    std::string("a/b"), std::string("\\b"), std::string("a\0b", 3),
                                    std::string("a\tb"), std::string("a\x7f"), std::string("a\xc2\x85")})
        EXPECT_EQ(reply(deal(req(0xC0, named(7, name, 9, 10)))), (Bytes{1, 7, 2})) << name;
    EXPECT_EQ(reply(deal(req(0xC0, named(7, "ok.bin", 5, 10)))), (Bytes{1, 7, 2}));
    EXPECT_EQ(reply(deal(req(0xC0, named(8, "../../etc/x", 9, 0)))), (Bytes{0, 8, 0, 0, 0, 0, 0}));
    EXPECT_EQ(reply(deal(req(0xC0, named(8, "nothing", 7, 0)))), (Bytes{0, 4, 0, 0, 0, 0, 0}));

    // Blocks past the type's area or longer than the frame are refused.
    ASSERT_EQ(reply(deal(req(0xC0, start("ALIS", 0, 100)))), (Bytes{0, 1, 0}));
    const Bytes data = content(64, 1);
    EXPECT_EQ(reply(deal(req(0xC0, block(0, data, 0, 0)))), (Bytes{0, 2}));   // an empty block is one
    EXPECT_EQ(reply(deal(req(0xC0, block(0x60000 - 32, data, 0, 64)))), (Bytes{1, 2}));
    EXPECT_EQ(reply(deal(req(0xC0, block(0xFFFFFFF0u, data, 0, 64)))), (Bytes{1, 2}));
    Bytes lying = block(0, data, 0, 64);
    lying[9] = 0xE8, lying[10] = 0x03;   // announces 1000 bytes
    EXPECT_EQ(reply(deal(req(0xC0, lying))), (Bytes{1, 2}));

    // Reading what does not exist; the directory query.
    EXPECT_EQ(reply(deal(req(0xC0, {4, 0, 0, 'O', 'S', 'D', 'S'}))), (Bytes{0, 4, 0, 0, 0, 0, 0}));
    EXPECT_EQ(reply(deal(req(0xC0, {9}))), (Bytes{0, 6}));
    // The boot image: no reply at its start, its blocks kept nowhere, its end checks the digest.
    EXPECT_EQ(deal(req(0xC0, start("FBOT", 0, 64))), 0);
    EXPECT_EQ(reply(deal(req(0xC0, block(0, data, 0, 64)))), (Bytes{0, 2}));
    EXPECT_EQ(reply(deal(req(0xC0, end(md5Of(data))))), (Bytes{0, 3, 0}));
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
