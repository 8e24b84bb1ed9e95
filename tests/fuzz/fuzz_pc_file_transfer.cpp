// The PC file transfer (group 0xC0) as a sequence of start/block/end/read/delete frames,
// each with the names, sizes and offsets the fuzzer chooses, on one link.
// Input: records [sub-command][length][length data bytes after the sub-command byte].
// Promises: every reply is a well-formed frame that fits the link; a stored file changes
// only in a sequence where an end or a delete was accepted (a refused upload leaves the
// stored file as it was).
#include "tests/fuzz/FuzzPc.h"

#include "core/kel_file_deal.h"

#include <QCryptographicHash>

namespace {

using kel_fuzz::Bytes;

const char* const kWatched[] = {"/data/configs/alias.json", "/data/configs/omenu.json", "/data/modes/MO01.json",
                                "/data/rcvrecovery/DIVU", "/data/smartmapping/a.kxfile"};

std::string known(int i) { return "stored file " + std::to_string(i) + "\n"; }

// Rewrites only what an input changed: replacing a file by truncation costs a write-back.
void storeKnownFiles()
{
    int i = 0;
    for (const char* p : kWatched) {
        if (kel_fuzz::readFile(p) != known(i))
            kel_fuzz::writeFile(p, known(i));
        ++i;
    }
}

Bytes md5Of(const Bytes& b)
{
    QByteArray d = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size())),
                                            QCryptographicHash::Md5);
    return Bytes(d.begin(), d.end());
}

Bytes record(uint8_t sub, const Bytes& rest)
{
    Bytes r = {sub, uint8_t(rest.size())};
    r.insert(r.end(), rest.begin(), rest.end());
    return r;
}

Bytes startRest(const std::string& name, uint8_t type, uint32_t size)
{
    Bytes d = {0, 0};
    d.insert(d.end(), name.begin(), name.end());
    d.push_back(type);
    pc::put32(d, size);
    return d;
}

void makeSeeds(const std::string& dir)
{
    const Bytes content(100, 0x5C);
    Bytes blk = {0, 0, 0, 0};
    pc::put32(blk, 0);
    pc::put32(blk, uint32_t(content.size()));
    blk.insert(blk.end(), content.begin(), content.end());
    Bytes end = {0, 0, 0, 0};
    Bytes digest = md5Of(content);
    end.insert(end.end(), digest.begin(), digest.end());
    int i = 0;
    for (const char* name : {"ALIS", "OSDS", "MO01", "DIVU", "KXFR", "LOGO"}) {
        for (uint8_t type : {1, 2, 5}) {
            Bytes seq = record(1, startRest(name, type, uint32_t(content.size())));
            Bytes b = record(2, blk), e = record(3, end);
            seq.insert(seq.end(), b.begin(), b.end());
            seq.insert(seq.end(), e.begin(), e.end());
            // Read it back: start, one block, end.
            Bytes rd = record(4, {0, 0, uint8_t(name[0]), uint8_t(name[1]), uint8_t(name[2]), uint8_t(name[3]), type});
            Bytes rb = {0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0};
            Bytes r5 = record(5, rb), r6 = record(6, {});
            seq.insert(seq.end(), rd.begin(), rd.end());
            seq.insert(seq.end(), r5.begin(), r5.end());
            seq.insert(seq.end(), r6.begin(), r6.end());
            kel_fuzz::writeSeed(dir, "transfer-" + std::to_string(i++), seq);
        }
    }
    // Named starts (sub-commands 7 and 8) and a delete.
    for (uint8_t sub : {7, 8, 10}) {
        Bytes d = {0, 0};
        const std::string name = "a.kxfile";
        pc::put16(d, uint16_t(name.size()));
        d.insert(d.end(), name.begin(), name.end());
        d.push_back(5);
        pc::put32(d, 100);
        kel_fuzz::writeSeed(dir, "transfer-" + std::to_string(i++), record(sub, d));
    }
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
    if (size > 8192)
        return 0;
    kel_fuzz::PcBench& b = kel_fuzz::PcBench::instance();
    b.fresh();
    FileBufOwner::reset();
    g_kel_file_deal_para = KelFileDeal{};
    storeKnownFiles();
    bool accepted = false;
    size_t at = 0;
    int frames = 0;
    while (at + 2 <= size && frames < 12) {
        const uint8_t sub = data[at];
        const size_t n = std::min<size_t>(data[at + 1], size - at - 2);
        pc::Frame f;
        f.group = 0xC0;
        f.data.push_back(sub);
        f.data.insert(f.data.end(), data + at + 2, data + at + 2 + n);
        at += 2 + n;
        ++frames;
        const int r = b.dealUnescaped(pc::encode(f), 5, message_deal::REPLY_LIMIT_TCP);
        if (r > 0 && (sub == 3 || sub == 9 || sub == 10) && b.reply(r)[0] == 0)
            accepted = true;
    }
    if (!accepted) {
        int i = 0;
        for (const char* p : kWatched)
            KEL_FUZZ_CHECK(kel_fuzz::readFile(p) == known(i++));
    }
    FileBufOwner::reset();
    return 0;
}
