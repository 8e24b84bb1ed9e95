// The links' framing: a TCP byte stream cut at arbitrary points into TcpServer's parser, or
// a run of UDP datagrams into the link's join, then every frame that comes out unescaped and
// dispatched. Byte 0 picks the link (even: TCP, odd: UDP port 5008 or 10005 by bit 1),
// byte 1 seeds the cut points, the rest is the stream.
//
// Promises: TCP records follow the stream, not the cuts (the same records as one read of
// the whole stream); every record is opener .. closer and no longer than a record may be;
// a frame that passes its checks is escaped by the device as by the PC side and unescaped
// back whole; the handler never fails a frame (it answers with a status, or not at all);
// every reply is a well-formed frame that fits the link.
#include "tests/fuzz/FuzzPc.h"

#include "protocol/tcpserver.h"
#include "protocol/udpnetmanage.h"

namespace {

using kel_fuzz::Bytes;

void dispatchRecord(const std::vector<unsigned char>& raw, unsigned limit, Bytes& frame)
{
    protocol_phy phy;
    frame.assign(raw.size() + 1, 0);
    unsigned char done = 0;
    unsigned n = phy.data_transf_meaning(const_cast<unsigned char*>(raw.data()), frame.data(), unsigned(raw.size()), &done);
    KEL_FUZZ_CHECK(n <= raw.size());
    if (!protocol_phy::frame_ok(frame.data(), n, done))
        return;
    frame.resize(n);
    KEL_FUZZ_CHECK(kel_fuzz::PcBench::instance().dealUnescaped(frame, 5, limit) >= 0);
}

void makeSeeds(const std::string& dir)
{
    Bytes stream;
    for (const pc::Frame& f : kel_fuzz::pcSeedFrames()) {
        Bytes w = pc::wire(f);
        stream.insert(stream.end(), w.begin(), w.end());
    }
    int i = 0;
    for (uint8_t mode : {0, 1, 3}) {
        for (uint8_t seed : {0, 7, 200}) {
            Bytes s = {mode, seed};
            // A few frames each, with noise between them.
            size_t from = size_t(i) * 40 % stream.size();
            s.insert(s.end(), stream.begin() + long(from), stream.begin() + long(std::min(stream.size(), from + 300)));
            s.push_back(0x00);
            kel_fuzz::writeSeed(dir, "stream-" + std::to_string(i++), s);
        }
    }
    for (const pc::Frame& f : kel_fuzz::pcSeedFrames()) {
        Bytes s = {uint8_t(i % 4), uint8_t(i)};
        Bytes w = pc::wire(f);
        s.insert(s.end(), w.begin(), w.end());
        kel_fuzz::writeSeed(dir, "stream-" + std::to_string(i++), s);
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
    if (size < 2 || size > 8192)
        return 0;
    const uint8_t mode = data[0];
    const std::vector<size_t> at = kel_fuzz::cutPoints(data[1], size - 2);
    const unsigned char* s = data + 2;
    const size_t len = size - 2;
    kel_fuzz::PcBench::instance().fresh();
    Bytes frame;
    if (mode % 2 == 0) {
        TcpServer cut, whole;
        size_t from = 0;
        for (size_t to : at) {
            cut.feed_bytes(7, s + from, to - from);
            from = to;
        }
        whole.feed_bytes(7, s, len);
        KEL_FUZZ_CHECK(cut.records().size() == whole.records().size());
        auto w = whole.records().begin();
        int handled = 0;
        for (const TcpServer::Record& r : cut.records()) {
            KEL_FUZZ_CHECK(r.data == w->data);
            ++w;
            KEL_FUZZ_CHECK(r.socket == 7);
            KEL_FUZZ_CHECK(r.data.size() >= 2 && r.data.front() == 0xA5 && r.data.back() == 0x5A);
            KEL_FUZZ_CHECK(r.data.size() <= TcpServer::MAX_RECORD);
            if (handled++ < 4)
                dispatchRecord(r.data, message_deal::REPLY_LIMIT_TCP, frame);
        }
    } else {
        static udpnetManage* link = new udpnetManage();
        const int index = (mode >> 1) & 1;
        link->joined(index).clear();
        size_t from = 0;
        for (size_t to : at) {
            link->join_datagram(index, s + from, to - from);
            from = to;
        }
        int handled = 0;
        for (const UdpServer::Record& r : link->joined(index)) {
            KEL_FUZZ_CHECK(!r.data.empty() && r.data.front() == 0xA5 && r.data.back() == 0x5A);
            KEL_FUZZ_CHECK(r.data.size() <= udpnetManage::MAX_JOINED);
            if (handled++ < 4)
                dispatchRecord(r.data, message_deal::REPLY_LIMIT_UDP, frame);
        }
        // A whole datagram frame ends any half-joined one, so the next input starts clean.
        static const unsigned char closer[] = {0xA5, 0xA5, 0xA5, 0, 0, 0, 0, 0, 0, 0, 0x5A};
        link->join_datagram(index, closer, sizeof closer);
        link->joined(index).clear();
    }
    return 0;
}
