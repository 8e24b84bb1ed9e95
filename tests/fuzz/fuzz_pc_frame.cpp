// One PC frame: escaped with the check byte appended, unescaped again, then dispatched by
// message_deal::message_group_deal on a fresh parameter block. The handler never fails a
// frame (it answers with a status, or not at all); the reply must fit the link and, once
// built, unescape to a frame whose check byte holds.
#include "tests/fuzz/FuzzPc.h"

namespace {

void makeSeeds(const std::string& dir)
{
    int i = 0;
    for (const pc::Frame& f : kel_fuzz::pcSeedFrames())
        kel_fuzz::writeSeed(dir, "frame-" + std::to_string(i++), pc::encode(f));
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
    if (size < protocol_phy::MIN_FRAME_LEN - 1 || size > 4096)
        return 0;
    kel_fuzz::PcBench& b = kel_fuzz::PcBench::instance();
    b.fresh();
    // The fuzzer's bytes are the frame without its check byte.
    kel_fuzz::Bytes plain(data, data + size);
    plain.push_back(pc::checkByte(plain.data(), plain.size()));
    KEL_FUZZ_CHECK(b.dealUnescaped(plain, 5, message_deal::REPLY_LIMIT_UDP) >= 0);
    return 0;
}
