// A PC of one address asks the controller for 16 bytes every 0.1 s while
//  - flood: another address sends reads of 32,000 bytes from four UDP ports to port 10005,
//    at each rate given, and reads none of the replies (the PC asks on 10005 too);
//  - busy: another PC of the same link port (UDP 5008, TCP on the configured port) asks a
//    card behind output port 8, whose transmitter stays busy, every 50 ms.
//  - spread flood: the same reads from 1, 16, 64 and 256 addresses (one port each) at each
//    rate;
//  - burst: 512 small reads from 64 addresses at once, then the PC's one request, ten times.
// The clock ticks as on the device, and the FPGA manager's loop serves the card path each
// tick. For each case: requests, lost (no reply within 5 s), median and longest wait. The
// aim is none lost and the longest under 0.1 s. First, without the link's threads: the CPU
// of 40 passes of 10005 that each find 512 datagrams waiting, from one sender and from 256
// addresses (the aim: 256 addresses within twice one sender), and of 2,000 passes choosing
// whose turn it is among 1, 16 and 256 addresses waiting (the aim: the same for all).
//
//   bench_pc_turns [SECONDS per case, default 10] [flood rates per second, default 5000 20000]
//
// The links' limits instead, each at one below it, at it, one past it and four times it,
// with the PC asking every 0.1 s on 10005, and the memory they take (this process's
// resident size, the most the two UDP sockets held unread), at most and 10 s after:
//  - places: 100,000 reads a second from n addresses (each twice in a row) on 10005;
//  - bytes: the largest datagrams (65,507 B, whole frames) from n addresses on both ports,
//    as fast as they go; at 64 addresses from 4 ports each, the flood of large datagrams;
//  - burst: n datagrams of 1,472 B from 64 addresses at once, then the PC's request, ten
//    times (the burst the sockets' room is sized for);
//  - socket room: n of the largest datagrams from 64 addresses at once, every 0.3 s (n: what
//    the socket's room holds as the system counts it);
//  - card requests kept: n addresses on UDP 5008 each ask a silent port's card once a
//    second, the PC reads a working card there instead (n = 0 first: the PC alone);
//  - line: the PC on the RS-485 line reads n bytes twice (n: what the line carries in the
//    second a send has beyond its reply's own time): the wait against the line's time.
// Beside each: of the PC's lost requests, those sent while the system dropped datagrams for
// its port (a full receive queue drops what comes: "sys"; a lost one sent while none were
// dropped was lost by the program), the datagrams the system dropped for the two sockets in
// the case, and the card requests kept when the PC's asking ended.
//
//   bench_pc_turns limits [SECONDS per case, default 5] [only the cases named with this]

#include "bench/bench_board.h"
#include "bench/pc_links.h"
#include "board/sim/FpgaModel.h"
#include "board/sim/SerialModel.h"
#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/udpnetmanage.h"
#include "tests/support/PcClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Waits {
    std::vector<double> seconds;
    int lost = 0;
    int dropped = 0;   // of the lost: the system dropped a datagram for the port while it took the PC's
};

// Sends the request and waits up to 5 s for its answer (of its group, at least `want` bytes
// of data). Loopback hands a datagram to the receiving socket within the send (unless the
// system puts its network work off to a thread of its own, under a heavy load), so when the
// system's drop counter for `watched` stands still across it, the system kept the PC's
// request; `dropped` says whether it moved: the socket's queue was full as it went.
bool ask_once(pc::PcClient& pcClient, const pc::Frame& ask, size_t want, uint16_t watched, bool& dropped)
{
    const long before = bench::udp_drops(watched);
    if (!pcClient.sendRaw(pc::wire(ask)))
        return false;
    dropped = bench::udp_drops(watched) != before;
    for (const auto until = Clock::now() + std::chrono::seconds(5); Clock::now() < until;) {
        pc::Bytes raw, plain;
        pc::Frame reply;
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
        if (!pcClient.receiveRaw(raw, std::max(left, 1)))
            return false;
        if (pc::unescape(raw, plain) && pc::decode(plain, reply) && reply.group == ask.group && reply.data.size() >= want)
            return true;
    }
    return false;
}

// The PC's requests (a read of `want` bytes: 16 of the RAM unless told), one every 0.1 s
// for `secs`, each answered within 5 s or lost; with `watched`, the UDP port they go to,
// each lost one tells whether the system dropped datagrams for it while it was sent.
Waits ask_every_tenth(pc::PcClient& pcClient, double secs, const pc::Frame& ask = pc::readRam(0x1000, 16), size_t want = 16,
                      uint16_t watched = 0)
{
    Waits w;
    const auto start = Clock::now();
    for (int k = 0; std::chrono::duration<double>(Clock::now() - start).count() < secs; ++k) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(100 * k));
        const auto t0 = Clock::now();
        pc::Frame reply;
        bool dropped = false;
        if (watched ? ask_once(pcClient, ask, want, watched, dropped) : pcClient.request(ask, reply, 5000) && reply.data.size() >= want)
            w.seconds.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        else
            ++w.lost, w.dropped += dropped;
        // A late reply is not taken for the next request's.
        for (pc::Bytes raw; pcClient.receiveRaw(raw, 0);) {
        }
    }
    return w;
}

bool report(const char* what, Waits w)
{
    std::sort(w.seconds.begin(), w.seconds.end());
    const double median = w.seconds.empty() ? 99 : w.seconds[w.seconds.size() / 2];
    const double longest = w.seconds.empty() ? 99 : w.seconds.back();
    std::printf("%-44s %8zu %6d %10.4f %10.4f\n", what, w.seconds.size() + size_t(w.lost), w.lost, median, longest);
    std::fflush(stdout);
    return w.lost == 0 && longest < 0.1;
}

// Loopback addresses of their own for the flooding PCs: 127.1.k.l.
std::string address(int k) { return "127.1." + std::to_string(k / 250) + "." + std::to_string(1 + k % 250); }

double threadCpu()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The CPU of 40 passes of 10005 driven here, each finding 512 reads waiting in the socket
// (made large enough for them by this program) from `addresses` senders.
double passCpu(int addresses)
{
    int offset = 0;
    udpnetManage* link = bench::open_link<udpnetManage>(offset, [] {
        auto* l = new udpnetManage();
        l->initialize_servers();
        if (l->server(10005)->socketFd() >= 0)
            return l;
        delete l;
        return static_cast<udpnetManage*>(nullptr);
    });
    if (!link)
        return -1;
    int room = 64 << 20;
    ::setsockopt(link->server(10005)->socketFd(), SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    std::vector<std::unique_ptr<pc::PcClient>> senders;
    for (int k = 0; k < addresses; ++k)
        senders.push_back(pc::PcClient::udp("127.0.0.1", uint16_t(10005 + offset), address(k)));
    const pc::Bytes ask = pc::wire(pc::readRam(0x600440, 2));
    double cpu = 0;
    for (int pass = 0; pass < 40; ++pass) {
        for (int n = 0; n < 512; ++n)
            senders[size_t(n % addresses)]->sendRaw(ask);
        const double t = threadCpu();
        link->udpaccept_pass_10005(0);
        cpu += threadCpu() - t;
        for (auto& c : senders)
            for (pc::Bytes raw; c->receiveRaw(raw, 0);) {
            }
    }
    delete link;
    return cpu;
}

} // namespace

// Peak memory while a case runs: this process's resident size and the UDP sockets' queues.
struct Memory {
    std::atomic<bool> done{false};
    double rss = 0;
    long queued = 0;
    std::thread sampler;
    Memory(uint16_t a, uint16_t b)
        : sampler([this, a, b] {
              for (; !done; std::this_thread::sleep_for(std::chrono::milliseconds(50)))
                  rss = std::max(rss, bench::rss_mb()), queued = std::max(queued, bench::udp_queue(a) + bench::udp_queue(b));
          })
    {
    }
    ~Memory() { done = true, sampler.join(); }
};

// CPU of 2,000 passes of 10005 over a waiting list of one frame from each of `addresses`
// addresses (one joined a pass, in place of the one handled): the cost of choosing whose
// turn it is among many waiting.
double turnCpu(int addresses)
{
    udpnetManage link;   // no socket: frames joined as though received
    const pc::Bytes ask = pc::wire(pc::readRam(0x600440, 2));
    for (int k = 0; k < addresses; ++k)
        link.join_datagram(1, ask.data(), ask.size(), uint64_t(0x7F010000u + uint32_t(k)) << 16 | 40000);
    double cpu = 0;
    for (int pass = 0; pass < 2000; ++pass) {
        link.join_datagram(1, ask.data(), ask.size(), uint64_t(0x7F010000u + uint32_t(pass % addresses)) << 16 | 40000);
        const double t = threadCpu();
        link.udpaccept_pass_10005(0);
        cpu += threadCpu() - t;
    }
    return cpu;
}

int limits(double secs, const std::string& only)
{
    const std::string root = bench::start_board();
    // The card path as on the device: FPGA 0 up and its manager's pass each tick.
    std::unique_ptr<velinsource> source;
    std::unique_ptr<fpga_manage> manager = bench::bring_up_cards(source);
    if (!manager)
        return 1;
    int offset = 0;
    bench::PcLinks* links = bench::open_pc_links(offset);
    if (!links)
        return 1;
    const uint16_t ports[] = {uint16_t(5008 + offset), uint16_t(10005 + offset)};
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        for (; !stop; G_timeTicks = G_timeTicks + 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            manager->fpga_manage_deal(nullptr);
        }
    });
    std::printf("%-36s %6s %5s %4s %9s %9s %8s %9s %6s %5s %9s\n", "case", "asked", "lost", "sys", "median s", "longest s", "RSS MB",
                "queued KB", "drops", "kept", "RSS after");
    const pc::Bytes ask = pc::wire(pc::readRam(0x600440, 2));
    pc::Bytes big = pc::wire(pc::writeRam(0x1000, pc::Bytes(65507 - 40, 0x11)));   // whole, failing its check
    big.resize(65506), big.push_back(0x5A);
    bool ok = true;
    // The honest PC: its port, its address, what it asks and the bytes of the answer.
    struct Honest {
        uint16_t port;
        const char* from;
        pc::Frame ask;
        size_t want;
    };
    const Honest reader{ports[1], "127.0.0.2", pc::readRam(0x1000, 16), 16};
    auto run = [&](const char* what, size_t n, const std::function<void(std::atomic<bool>&)>& flood, const Honest& honest) {
        if (std::string(what).find(only) == std::string::npos)
            return;
        ok = bench::cards_idle(*manager) && ok;   // a case starts with nothing kept
        const double before = bench::rss_mb();
        const long dropped = bench::udp_drops(ports[0]) + bench::udp_drops(ports[1]);
        Waits w;
        double rss = 0;
        long queued = 0;
        size_t kept = 0;
        {
            Memory peak(ports[0], ports[1]);
            std::atomic<bool> done{false};
            std::thread flooder([&] { flood(done); });
            auto pcClient = pc::PcClient::udp("127.0.0.1", honest.port, honest.from);
            w = ask_every_tenth(*pcClient, secs, honest.ask, honest.want, honest.port);
            {
                std::lock_guard<std::mutex> path(manager->port_path_mutex);
                kept = manager->passby.kept();
            }
            done = true;
            flooder.join();
            rss = peak.rss, queued = peak.queued;
        }
        const long drops = bench::udp_drops(ports[0]) + bench::udp_drops(ports[1]) - dropped;
        std::this_thread::sleep_for(std::chrono::seconds(10));
        char label[64];
        std::snprintf(label, sizeof label, "%s, %zu", what, n);
        std::sort(w.seconds.begin(), w.seconds.end());
        std::printf("%-36s %6zu %5d %4d %9.4f %9.4f %8.1f %9ld %6ld %5zu %9.1f   (%.1f before)\n", label, w.seconds.size() + size_t(w.lost),
                    w.lost, w.dropped, w.seconds.empty() ? 99 : w.seconds[w.seconds.size() / 2], w.seconds.empty() ? 99 : w.seconds.back(), rss,
                    queued / 1024, drops, kept, bench::rss_mb(), before);
        std::fflush(stdout);
        ok = ok && w.lost == 0 && !w.seconds.empty() && w.seconds.back() < 1.0;
    };
    for (size_t n : {255, 256, 257, 1024})
        run("places: 100000/s from addresses", n, [&](std::atomic<bool>& done) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            const auto start = Clock::now();
            for (long k = 0; !done;) {
                for (const long due = long(std::chrono::duration<double>(Clock::now() - start).count() * 100000); k < due && !done; ++k)
                    bench::send_from(fd, 0x7F010000u + uint32_t(size_t(k / 2) % n), ports[1], ask);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ::close(fd);
        }, reader);
    for (size_t n : {63, 64, 65, 256})
        run("bytes: 65507 B from addresses x4 ports", n, [&](std::atomic<bool>& done) {
            int fds[4];
            for (int& fd : fds)
                fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            for (size_t k = 0; !done; ++k)
                bench::send_from(fds[k % 4], 0x7F020000u + uint32_t(k / 4 % n), ports[k / 2 % 2], big);
            for (int fd : fds)
                ::close(fd);
        }, reader);
    // Bursts of n datagrams from 64 addresses every 0.3 s.
    const auto bursts = [&](size_t n, const pc::Bytes& piece) {
        return [&, n](std::atomic<bool>& done) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            while (!done) {
                for (size_t k = 0; k < n; ++k)
                    bench::send_from(fd, 0x7F030000u + uint32_t(k % 64), ports[1], piece);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            ::close(fd);
        };
    };
    const pc::Bytes piece(1472, 0x11);
    for (size_t n : {511, 512, 513, 2048})
        run("burst: 1472 B from 64 addresses", n, bursts(n, piece), reader);
    const size_t room = udpnetManage::SOCKET_ROOM / (65507 + 2048);
    for (size_t n : {room - 1, room, room + 1, 4 * room})
        run("socket room: 65507 B from 64 addresses", n, bursts(n, big), reader);
    // n addresses on UDP 5008, each asking a silent port's card: the card requests kept. The
    // PC reads a card of port 1 on 5008, from the address its replies reach (the broadcast
    // address, loopback's 127.0.0.1 on a host).
    const Honest cardReader{ports[0], "127.0.0.1", bench::card_read(1, 0x58), 3};
    for (size_t n : {size_t(0), PassbyQueue::KEPT_MAX - 1, PassbyQueue::KEPT_MAX, PassbyQueue::KEPT_MAX + 1, 4 * PassbyQueue::KEPT_MAX})
        run("card requests kept: addresses", n, [&](std::atomic<bool>& done) { bench::ask_cards(n, ports[0], done); }, cardReader);
    Kx_uart_inout line;
    auto serial = line.usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK) == 0 ? pc::PcClient::serial(sim::SerialModel::peerPath("/dev/ttyS2")) : nullptr;
    if (std::string("line").find(only) != std::string::npos)
        std::printf("%-36s %6s %5s %9s %9s %8s\n", "line: reads of n bytes", "asked", "lost", "line s", "longest s", "RSS MB");
    for (size_t n : {11519, 11520, 11521, 46080}) {
        if (std::string("line").find(only) == std::string::npos)
            break;
        double longest = 0, rss = 0;
        int lost = 0;
        const double lineTime = double(n + 40) * 10 / 115200;   // ten bits a byte, the frame's own bytes
        for (int k = 0; k < 2; ++k) {
            const auto t0 = Clock::now();
            pc::Frame reply;
            if (serial && serial->request(pc::readRam(0xFE000000u, uint16_t(n)), reply, int(lineTime * 1000) + 5000) && reply.data.size() == n + 1)
                longest = std::max(longest, std::chrono::duration<double>(Clock::now() - t0).count());
            else
                ++lost;
            rss = std::max(rss, bench::rss_mb());
        }
        char label[64];
        std::snprintf(label, sizeof label, "line: %zu B", n);
        std::printf("%-36s %6d %5d %9.3f %9.3f %8.1f\n", label, 2, lost, lineTime, longest, rss);
        std::fflush(stdout);
        ok = ok && lost == 0 && longest < lineTime + 1.0;
    }
    stop = true;
    ticker.join();
    delete links;
    fpga_manage::p_fpga_manage = nullptr;
    manager.reset();
    velinsource::p_velin_source = nullptr;
    std::filesystem::remove_all(root);
    return ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "limits")
        return limits(argc > 2 && std::atof(argv[2]) > 0 ? std::atof(argv[2]) : 5.0, argc > 3 ? argv[3] : "");
    double secs = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (secs <= 0)
        secs = 10.0;
    std::vector<int> rates;
    for (int i = 2; i < argc; ++i)
        rates.push_back(std::max(1, std::atoi(argv[i])));
    if (rates.empty())
        rates = {5000, 20000};

    const std::string root = bench::start_board();
    const double one = passCpu(1), many = passCpu(256);
    std::printf("CPU of 40 passes of 512 datagrams: one sender %.3f s, 256 addresses %.3f s (ratio %.1f)\n", one, many,
                one > 0 ? many / one : -1.0);
    std::printf("CPU of 2,000 passes choosing among 1, 16, 256 addresses waiting: %.4f %.4f %.4f s\n", turnCpu(1), turnCpu(16), turnCpu(256));
    bool ok = one > 0 && many <= 2 * one;
    auto manager = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = manager.get();
    manager->initialize();
    manager->softinit();
    sim::SimBoard::setScenario("fpga.sendbusy", "16");   // port 8's transmitter stays busy
    sim::FpgaModel::powerOn(0);

    int offset = 0;
    bench::PcLinks* links = bench::open_pc_links(offset);
    if (!links)
        return 1;
    const uint16_t udp10005 = uint16_t(10005 + offset), udp5008 = uint16_t(5008 + offset);
    const uint16_t tcpPort = links->tcp.server(0)->localPort();

    // The device's clock, and the manager's loop serving the card path each tick.
    std::atomic<bool> stop{false};
    std::mutex managerMutex;   // the manager is replaced between the cases
    std::thread ticker([&] {
        for (; !stop; G_timeTicks = G_timeTicks + 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::lock_guard<std::mutex> hold(managerMutex);
            std::lock_guard<std::mutex> path(manager->port_path_mutex);
            manager->reg_IRQ_Dealwith(0, 1);
        }
    });

    std::printf("%-44s %8s %6s %10s %10s\n", "case", "asked", "lost", "median s", "longest s");
    const pc::Bytes big = pc::wire(pc::readRam(0xFE000000u, 32000));
    for (int rate : rates) {
        std::vector<std::unique_ptr<pc::PcClient>> flood;
        for (int k = 0; k < 4; ++k)
            flood.push_back(pc::PcClient::udp("127.0.0.1", udp10005, "127.0.0.3"));
        std::atomic<bool> done{false};
        std::atomic<long> sent{0};
        std::thread flooder([&] {
            const auto start = Clock::now();
            for (long n = 0; !done;) {
                const long due = long(std::chrono::duration<double>(Clock::now() - start).count() * rate);
                for (; n < due && !done; ++n)
                    flood[size_t(n % 4)]->sendRaw(big);
                sent = n;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        auto pcClient = pc::PcClient::udp("127.0.0.1", udp10005, "127.0.0.2");
        char what[64];
        std::snprintf(what, sizeof what, "UDP 10005, %d reads of 32000 B/s", rate);
        Waits w = ask_every_tenth(*pcClient, secs);
        done = true;
        flooder.join();
        ok = report(what, w) && ok;
        std::printf("%-44s %ld datagrams sent in %.0f s\n", "", sent.load(), secs);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

    // The flood spread over addresses, one port each.
    for (int addresses : {1, 16, 64, 256})
        for (int rate : rates) {
            std::vector<std::unique_ptr<pc::PcClient>> flood;
            for (int k = 0; k < addresses; ++k)
                flood.push_back(pc::PcClient::udp("127.0.0.1", udp10005, address(k)));
            std::atomic<bool> done{false};
            std::thread flooder([&] {
                const auto start = Clock::now();
                for (long n = 0; !done;) {
                    const long due = long(std::chrono::duration<double>(Clock::now() - start).count() * rate);
                    for (; n < due && !done; ++n)
                        flood[size_t(n % addresses)]->sendRaw(big);
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            });
            auto pcClient = pc::PcClient::udp("127.0.0.1", udp10005, "127.0.0.2");
            char what[64];
            std::snprintf(what, sizeof what, "UDP 10005, %d/s from %d addresses", rate, addresses);
            Waits w = ask_every_tenth(*pcClient, secs);
            done = true;
            flooder.join();
            ok = report(what, w) && ok;
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    {
        // One burst as large as a pass takes, then the PC's request, ten times.
        std::vector<std::unique_ptr<pc::PcClient>> burst;
        for (int k = 0; k < 64; ++k)
            burst.push_back(pc::PcClient::udp("127.0.0.1", udp10005, address(k)));
        auto pcClient = pc::PcClient::udp("127.0.0.1", udp10005, "127.0.0.2");
        const pc::Bytes small = pc::wire(pc::readRam(0x600440, 2));
        Waits w;
        for (int round = 0; round < 10; ++round) {
            for (int n = 0; n < 512; ++n)
                burst[size_t(n % 64)]->sendRaw(small);
            const auto t0 = Clock::now();
            pc::Frame reply;
            if (pcClient->request(pc::readRam(0x1000, 16), reply, 5000) && reply.data.size() >= 16)
                w.seconds.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
            else
                ++w.lost;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));   // the burst's replies go out
            for (auto& c : burst)
                for (pc::Bytes raw; c->receiveRaw(raw, 0);) {
                }
        }
        ok = report("UDP 10005, 512 from 64 addresses, then the PC", w) && ok;
    }

    // A card frame for port 8 (tag 0x46, a read of 2 card RAM bytes).
    const pc::Bytes card = pc::wire(pc::Frame{0, pc::kPc, 0x10, 0x46, 1, 9, 0, 0x61, {0x80, 0, 0, 0, 2, 0, 0, 0}});
    const struct {
        const char* what;
        std::function<std::unique_ptr<pc::PcClient>(const char*)> open;
    } busy[] = {
        // TCP first: a closed connection leaves no card frame behind, while a UDP sender's
        // held frames would go on to the cards after it.
        {"TCP 5005 beside a busy transmitter", [&](const char* h) { return pc::PcClient::tcp("127.0.0.1", tcpPort, h); }},
        {"UDP 5008 beside a busy transmitter", [&](const char* h) { return pc::PcClient::udp("127.0.0.1", udp5008, h); }},
    };
    for (const auto& b : busy) {
        auto asker = b.open("127.0.0.2");
        std::atomic<bool> done{false};
        std::thread cards([&] {
            while (!done) {
                asker->sendRaw(card);
                for (pc::Bytes raw; asker->receiveRaw(raw, 0);) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        auto pcClient = b.open("127.0.0.1");
        Waits w = ask_every_tenth(*pcClient, secs);
        done = true;
        cards.join();
        ok = report(b.what, w) && ok;
        // The next case begins with a card path of its own: what the PC asked is forgotten
        // with the manager (no link sends meanwhile).
        asker.reset();
        pcClient.reset();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        std::lock_guard<std::mutex> hold(managerMutex);
        fpga_manage::p_fpga_manage = nullptr;
        manager = std::make_unique<fpga_manage>();
        manager->initialize();
        manager->softinit();
        fpga_manage::p_fpga_manage = manager.get();
    }
    stop = true;
    ticker.join();
    delete links;
    fpga_manage::p_fpga_manage = nullptr;
    manager.reset();
    std::filesystem::remove_all(root);
    return ok ? 0 : 1;
}
