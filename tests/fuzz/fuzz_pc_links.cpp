// Sequences of file, cloud-file, flash and network frames from three links (UDP, TCP,
// serial handlers) and two peers on each, all sharing the one transfer record and buffer,
// with the board clock moving on and peers' connections closing in between.
// Input: records [link: bits 0-1 handler, bit 2 peer, bit 3 event][group index][u16 length]
// [data]; an event has no data: an even index moves the clock on by 4 x the u16 ticks (past
// the 30 s idle time and the 20 minute life of a claim), an odd one closes the peer's
// connection (the link lets its transfers go; its next frame comes on a new connection).
// Blocks up to 64 KiB, inputs up to 256 KiB.
// Promises: every reply is a well-formed frame that fits its link; nothing is copied past
// the shared buffer (the sanitizers watch); while one link and peer runs a 0xC0 upload or
// read, no other link or peer has a block of it accepted; a closed peer holds nothing; a
// watched stored file changes only in a sequence where some end was accepted.
#include "tests/fuzz/FuzzPc.h"

#include "core/global.h"
#include "core/kel_file_deal.h"

#include <QCryptographicHash>

namespace {

using kel_fuzz::Bytes;

const uint8_t kGroups[] = {0xC0, 0xC0, 0xC0, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0x70, 0x71, 0x72, 0xA4};
const unsigned kLimits[] = {message_deal::REPLY_LIMIT_UDP, message_deal::REPLY_LIMIT_TCP,
                            message_deal::REPLY_LIMIT_SERIAL};
const char* const kWatched[] = {"/data/configs/alias.json", "/data/modes/MO01.json", "/data/modes/MO02.json",
                                "/data/configs/cloud_cafile"};

std::string known(int i) { return "stored file " + std::to_string(i) + "\n"; }

unsigned groupIndex(uint8_t group)
{
    for (unsigned i = 0; i < sizeof kGroups; ++i)
        if (kGroups[i] == group)
            return i;
    return 0;
}

void event(Bytes& seq, unsigned link, bool close, uint16_t param)
{
    seq.insert(seq.end(), {uint8_t(link | 8), uint8_t(close ? 1 : 0)});
    pc::put16(seq, param);
}

void add(Bytes& seq, unsigned link, uint8_t group, const Bytes& data)
{
    seq.push_back(uint8_t(link));
    seq.push_back(uint8_t(groupIndex(group)));
    pc::put16(seq, uint16_t(data.size()));
    seq.insert(seq.end(), data.begin(), data.end());
}

Bytes md5Of(const Bytes& b)
{
    QByteArray d = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())),
                                            QCryptographicHash::Md5);
    return Bytes(d.begin(), d.end());
}

Bytes start(const char* name, uint32_t size)
{
    Bytes d = {1, 0, 0};
    d.insert(d.end(), name, name + 4);
    d.push_back(0);
    pc::put32(d, size);
    return d;
}

Bytes block(uint32_t offset, const Bytes& data)
{
    Bytes d = {2, 0, 0, 0, 0};
    pc::put32(d, offset);
    pc::put32(d, uint32_t(data.size()));
    d.insert(d.end(), data.begin(), data.end());
    return d;
}

Bytes end(const Bytes& digest)
{
    Bytes d = {3, 0, 0, 0, 0};
    d.insert(d.end(), digest.begin(), digest.end());
    return d;
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
    add(seq, 0, 0xCC, cloudStart("F002", 30000, 1));
    add(seq, 0, 0xCC, cloudStart("F002", 0xFFFFFFF0u, 0));
    add(seq, 0, 0xC5, cloudBlock(101, 0, Bytes(30000, 0x41)));
    add(seq, 0, 0xC5, cloudBlock(101, 30000, Bytes(60000, 0x42)));
    add(seq, 1, 0xC5, cloudBlock(101, 30000, Bytes(100, 0x43)));
    add(seq, 0, 0xC6, {101, 0, 0x30, 0x75, 0, 0});
    kel_fuzz::writeSeed(dir, "links-cloud-ask", seq);

    // Uploads that cross: MO02 from UDP, MO01 from TCP, blocks and ends from both, then a
    // second peer on UDP.
    const Bytes b(5000, 0x62), a(5000, 0x61);
    seq.clear();
    add(seq, 0, 0xC0, start("MO02", 5000));
    add(seq, 1, 0xC0, start("MO01", 5000));
    add(seq, 1, 0xC0, block(0, a));
    add(seq, 0, 0xC0, block(0, b));
    add(seq, 4, 0xC0, block(0, a));
    add(seq, 4, 0xC0, end(md5Of(a)));
    add(seq, 1, 0xC0, end(md5Of(a)));
    add(seq, 0, 0xC0, end(md5Of(b)));
    kel_fuzz::writeSeed(dir, "links-crossing", seq);

    // A named start and a read on another link; flash and network frames between.
    seq.clear();
    Bytes named = {7, 0, 0};
    pc::put16(named, 4);
    named.insert(named.end(), {'s', 'c', 'a', 'n', 13});
    pc::put32(named, 200);
    add(seq, 2, 0xC0, named);
    add(seq, 1, 0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'});
    add(seq, 1, 0xC0, {5, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0});
    add(seq, 0, 0x72, {0x10, 0x00, 0x02, 0x00, 0x01, 0x00});
    add(seq, 0, 0xA4, {0x10});
    add(seq, 2, 0xC0, end(md5Of({})));
    add(seq, 1, 0xC8, {'F', '0', '0', '2'});
    add(seq, 1, 0xC9, {101, 0, 0, 0, 0, 0});
    kel_fuzz::writeSeed(dir, "links-named-read", seq);

    // A boot image start every 25 s, empty blocks, a cloud file's empty block: another
    // link's start after 30 s.
    seq.clear();
    add(seq, 0, 0xC0, start("FBOT", 64));
    event(seq, 0, false, 625);
    add(seq, 0, 0xC0, start("FBOT", 64));
    add(seq, 1, 0xC0, start("ALIS", 100));
    event(seq, 0, false, 125);
    add(seq, 1, 0xC0, start("ALIS", 100));
    add(seq, 0, 0xC0, block(0, Bytes(50, 0x35)));
    add(seq, 4, 0xC0, start("MO03", 100));
    add(seq, 4, 0xC0, block(0, {}));
    event(seq, 0, false, 750);
    add(seq, 4, 0xCC, cloudStart("F002", 100, 1));
    add(seq, 4, 0xC5, cloudBlock(101, 0, {}));
    event(seq, 0, false, 750);
    add(seq, 0, 0xC0, start("MO03", 100));
    kel_fuzz::writeSeed(dir, "links-idle", seq);

    // A read taken over by another link's start of a missing file; a cloud-file read
    // likewise; an upload whose connection closes.
    seq.clear();
    add(seq, 1, 0xC0, {4, 0, 0, 'A', 'L', 'I', 'S'});
    add(seq, 0, 0xC0, {4, 0, 0, 'M', 'O', '0', '5'});
    add(seq, 1, 0xC0, {5, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0});
    add(seq, 1, 0xC0, {6});
    add(seq, 1, 0xC8, {'F', '0', '0', '2'});
    add(seq, 0, 0xC8, {'F', '0', '0', '2'});
    add(seq, 1, 0xC9, {101, 0, 0, 0, 0, 0});
    add(seq, 1, 0xC0, start("ALIS", 100));
    event(seq, 1, true, 0);
    add(seq, 0, 0xC0, start("ALIS", 100));
    kel_fuzz::writeSeed(dir, "links-reads-close", seq);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    kel_fuzz::seedMode(argc, argv, makeSeeds);
    kel_fuzz::PcBench::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 256 * 1024)
        return 0;
    kel_fuzz::PcBench& b = kel_fuzz::PcBench::instance();
    b.fresh();
    FileBufOwner::reset();
    message_deal::file_read_hold.reset();
    message_deal::cloud_read_hold.reset();
    if (file_velin)
        std::fclose(file_velin);
    file_velin = nullptr;
    g_kel_file_deal_para = KelFileDeal{};
    g_yp_s_file = YP_FILE{};
    g_yp_r_file = YP_FILE{};
    int i = 0;
    for (const char* p : kWatched) {
        if (kel_fuzz::readFile(p) != known(i))
            kel_fuzz::writeFile(p, known(i));
        ++i;
    }
    bool ended = false;
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
        if (data[at] & 0x08) {
            if (data[at + 1] % 2 == 0) {
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
        else if (group == 0xC0 && r >= 0 && owner == id && (sub == 1 || sub == 7 || (sub == 3 && n >= 21)))
            owner = -1;   // the owner's refused start or its end closes the transfer
        if (group == 0xC0 && r == 7 && (sub == 4 || sub == 8) && b.reply(r)[0] == 0)
            reader = b.reply(r)[2] == 1 ? id : -1;   // found; else none, or not known to be
        else if (group == 0xC0 && reader == id && (sub == 6 || sub == 3))
            reader = -1;   // its end, or an end with no upload running, closes the file
        if (group == 0xC0 && ((sub == 2 && owner >= 0 && owner != id) || (sub == 5 && reader >= 0 && reader != id)))
            KEL_FUZZ_CHECK(r == 2 && b.reply(r)[0] == 1);
        if (r > 0 && b.reply(r)[0] == 0 && ((group == 0xC0 && (sub == 3 || sub == 10)) || group == 0xC6))
            ended = true;
    }
    if (!ended) {
        i = 0;
        for (const char* p : kWatched)
            KEL_FUZZ_CHECK(kel_fuzz::readFile(p) == known(i++));
    }
    for (unsigned limit : kLimits)
        b.handler(limit).peer = 0;
    FileBufOwner::reset();
    message_deal::file_read_hold.reset();
    message_deal::cloud_read_hold.reset();
    return 0;
}
