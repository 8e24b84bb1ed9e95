// A 5 MiB application image uploaded through the running TCP link (port 10002, moved by a
// port offset) as a PC tool does it: start, blocks each answered before the next, and the
// end carrying the MD5 digest, after which the device writes the file and reads it back.
// In the same run the same bytes are copied over a bare loopback TCP connection to a
// reader that acknowledges the whole. Prints both times and their ratio.
//
//   bench_tcp_upload [BLOCK bytes, default 32768] [ROUNDS, default 3]

#include "bench/bench_board.h"
#include "board/sim/Sim.h"
#include "core/global.h"
#include "core/kel_file_deal.h"
#include "core/kelrampara.h"
#include "protocol/networkmanage.h"
#include "scaler/c331_manage.h"
#include "tests/support/PcClient.h"

#include <QCryptographicHash>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint32_t kSize = 0x500000;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

pc::Frame file_frame(const pc::Bytes& data)
{
    pc::Frame f;
    f.group = 0xC0;
    f.data = data;
    return f;
}

// The PC tool's requests of one upload, escaped ahead of time: the PC's own encoding is not
// the device's work.
struct Upload {
    pc::Bytes start, end;
    std::vector<pc::Bytes> blocks;
};

Upload prepare(const pc::Bytes& image, const pc::Bytes& digest, uint32_t blockSize)
{
    Upload u;
    pc::Bytes start = {1, 0, 0, 'F', 'M', 'C', 'U', 0};
    pc::put32(start, kSize);
    u.start = pc::wire(file_frame(start));
    for (uint32_t at = 0; at < kSize; at += blockSize) {
        const uint32_t n = std::min(blockSize, kSize - at);
        pc::Bytes b = {2, 0, 0, 0, 0};
        pc::put32(b, at);
        pc::put32(b, n);
        b.insert(b.end(), image.begin() + at, image.begin() + at + n);
        u.blocks.push_back(pc::wire(file_frame(b)));
    }
    pc::Bytes end = {3, 0, 0, 0, 0};
    end.insert(end.end(), digest.begin(), digest.end());
    u.end = pc::wire(file_frame(end));
    return u;
}

bool ask(pc::PcClient& c, const pc::Bytes& request, const pc::Bytes& want, int timeoutMs)
{
    pc::Bytes raw, plain;
    pc::Frame reply;
    return c.sendRaw(request) && c.receiveRaw(raw, timeoutMs) && pc::unescape(raw, plain) && pc::decode(plain, reply)
           && reply.data == want;
}

// One upload; its time in seconds, or -1 when a reply was missing or refused. endTime gets
// the time of the end command (digest, store and read-back).
double upload(pc::PcClient& c, const Upload& u, double& endTime)
{
    auto t0 = Clock::now();
    if (!ask(c, u.start, {0, 1, 0}, 5000))
        return -1;
    for (const pc::Bytes& b : u.blocks)
        if (!ask(c, b, {0, 2}, 5000))
            return -1;
    auto t1 = Clock::now();
    if (!ask(c, u.end, {0, 3, 0}, 10000))
        return -1;
    endTime += since(t1);
    return since(t0);
}

// The same bytes over a bare loopback connection, in the same block sizes, to a reader that
// answers one byte when all have arrived; the time in seconds.
double raw_copy(const pc::Bytes& image, uint32_t blockSize)
{
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 1);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::thread reader([listener] {
        int s = ::accept(listener, nullptr, nullptr);
        std::vector<unsigned char> buf(1 << 16);
        size_t got = 0;
        while (got < kSize) {
            ssize_t n = ::recv(s, buf.data(), buf.size(), 0);
            if (n <= 0)
                break;
            got += size_t(n);
        }
        unsigned char ack = 1;
        ::send(s, &ack, 1, MSG_NOSIGNAL);
        ::close(s);
    });
    int c = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto t0 = Clock::now();
    ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    for (uint32_t at = 0; at < kSize; at += blockSize) {
        const uint32_t n = std::min(blockSize, kSize - at);
        ::send(c, image.data() + at, n, MSG_NOSIGNAL);
    }
    unsigned char ack = 0;
    ::recv(c, &ack, 1, 0);
    double t = since(t0);
    reader.join();
    ::close(c);
    ::close(listener);
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t blockSize = argc > 1 ? uint32_t(std::atoi(argv[1])) : 32768;
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (blockSize < 256 || blockSize > 0x10000)
        blockSize = 32768;
    if (rounds < 1)
        rounds = 3;

    const std::string root = bench::start_board();
    int offset = 0;
    networkManage* link = bench::open_link<networkManage>(offset, []() -> networkManage* {
        auto* l = new networkManage();
        if (l->initialize() == 0 && l->server(1) && l->server(1)->listenSocket() >= 0)
            return l;
        delete l;
        return nullptr;
    });
    auto client = link ? pc::PcClient::tcp("127.0.0.1", uint16_t(10002 + offset)) : nullptr;
    if (!client) {
        std::fprintf(stderr, "bench: cannot open the TCP link\n");
        return 1;
    }

    pc::Bytes image(kSize);
    uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    QByteArray d = QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(image.data()), int(kSize)),
                                            QCryptographicHash::Md5);
    const pc::Bytes digest(d.begin(), d.end());

    // Warm-up, then alternate the two so load from elsewhere falls on both alike.
    const Upload requests = prepare(image, digest, blockSize);
    double tEnd = 0;
    bool ok = upload(*client, requests, tEnd) > 0;
    double tUpload = 0, tRaw = 0;
    tEnd = 0;
    for (int i = 0; ok && i < rounds; ++i) {
        double u = upload(*client, requests, tEnd);
        ok = u > 0;
        tUpload += u;
        tRaw += raw_copy(image, blockSize);
    }
    std::ifstream stored(root + "/data/app/kelM57N2", std::ios::binary);
    pc::Bytes back((std::istreambuf_iterator<char>(stored)), std::istreambuf_iterator<char>());
    ok = ok && back == image && g_kel_file_deal_para.app_image_ready;

    client.reset();
    delete link;
    std::filesystem::remove_all(root);
    if (!ok) {
        std::fprintf(stderr, "bench: the upload failed or the stored image differs\n");
        return 1;
    }
    std::printf("5 MiB in blocks of %u bytes, %d rounds\n", blockSize, rounds);
    std::printf("TCP link upload, digest, store and read-back: %8.1f ms\n", 1000 * tUpload / rounds);
    std::printf("  of which the end (digest, store, read-back): %8.1f ms\n", 1000 * tEnd / rounds);
    std::printf("raw loopback TCP copy of the same bytes:      %8.1f ms\n", 1000 * tRaw / rounds);
    std::printf("upload / raw copy:                            %8.2f\n", tUpload / tRaw);
    return 0;
}
