// The PC file transfer (group 0xC0) as a sequence of start/block/end/read/delete frames,
// each with the names, sizes and offsets the fuzzer chooses, on one link.
// Input: records [sub-command][length][length data bytes after the sub-command byte].
// Promises: every reply is a well-formed frame that fits the link; a stored file changes
// only in a sequence where an end or a delete was accepted (a refused upload leaves the
// stored file as it was).
#include "tests/fuzz/FuzzPc.h"

#include "core/kel_file_deal.h"

#include "tests/protocol/file_frames.h"

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

// A record of one request's data: its sub-command, then the length of the rest.
Bytes record(const Bytes& d)
{
    Bytes r = {d[0], uint8_t(d.size() - 1)};
    r.insert(r.end(), d.begin() + 1, d.end());
    return r;
}

void makeSeeds(const std::string& dir)
{
    using namespace fileframes;
    const Bytes content(100, 0x5C);
    int i = 0;
    for (const char* name : {"ALIS", "OSDS", "MO01", "DIVU", "KXFR", "LOGO"}) {
        for (uint8_t type : {1, 2, 5}) {
            // Upload, then read it back: start, one block, end.
            const Bytes readStart = {4, 0, 0, uint8_t(name[0]), uint8_t(name[1]), uint8_t(name[2]), uint8_t(name[3]), type};
            Bytes seq;
            for (const Bytes& d : {start(name, type, 100), block(0, content, 0, 100), end(md5Of(content)), readStart,
                                   Bytes{5, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0}, Bytes{6}}) {
                const Bytes r = record(d);
                seq.insert(seq.end(), r.begin(), r.end());
            }
            kel_fuzz::writeSeed(dir, "transfer-" + std::to_string(i++), seq);
        }
    }
    // Named starts (sub-commands 7 and 8) and a delete.
    for (uint8_t sub : {7, 8, 10})
        kel_fuzz::writeSeed(dir, "transfer-" + std::to_string(i++), record(named(sub, "a.kxfile", 5, 100)));
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
