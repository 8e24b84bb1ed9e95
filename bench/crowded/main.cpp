// A PC connects to the configured TCP port while 64 other connections there stay silent,
// are closed and re-opened every 0.39 s, or send a byte of a frame that never ends every
// 0.3 s, or while 24 each ask for 400 replies of 60 KB and read none (more would only hold
// the loopback's buffers); the clock ticks as on the device. For
// each kind, the time from the PC's connect to its first reply, over a number of PCs coming
// one after another: the aim is one second at most (99 s: no reply within 20 s).
// Then the TCP places at one below their number, at it, one past it and four times it: as
// many PCs of as many addresses, connected and asking every 2 s, and PCs of new addresses
// coming one after another; with this process's resident size. Last, the card requests
// kept: none, one below their most, at it, one past it and four times it (as many addresses
// on UDP 5008 each asking a silent port's card once a second), while PCs come one after
// another on the TCP port and read a working card; with the requests kept and the resident
// size.
//
//   bench_crowded [PCs per kind, default 10]

#include "bench/bench_board.h"
#include "bench/pc_links.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "tests/support/PcClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int connectTo(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    const int pcs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string root = bench::start_board();
    // The card path as on the device: FPGA 0 up and its manager's pass each tick.
    std::unique_ptr<velinsource> source;
    std::unique_ptr<fpga_manage> manager = bench::bring_up_cards(source);
    int offset = 0;
    bench::PcLinks* links = manager ? bench::open_pc_links(offset) : nullptr;
    if (!links)
        return 1;
    const uint16_t port = links->tcp.server(0)->localPort();
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        for (; !stop; G_timeTicks = G_timeTicks + 1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            manager->fpga_manage_deal(nullptr);
        }
    });
    const char* kinds[] = {"silent", "re-opened every 0.39 s", "trickling a byte every 0.3 s", "asking, never reading"};
    const pc::Bytes read = pc::wire(pc::readRam(0xFE000000u, 60000));
    bool ok = true;
    std::printf("%-30s %10s %10s\n", "other connections", "median s", "worst s");
    for (int kind = 0; kind < 4; ++kind) {
        std::vector<int> others;
        for (int i = 0; i < (kind == 3 ? 24 : 64); ++i) {
            others.push_back(connectTo(port));
            if (kind == 3) {
                pc::Bytes all;
                for (int k = 0; k < 400; ++k)
                    all.insert(all.end(), read.begin(), read.end());
                ::send(others.back(), all.data(), all.size(), MSG_NOSIGNAL);
            }
        }
        std::atomic<bool> done{false};
        std::thread attacker([&] {
            for (int step = 0; !done; ++step) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kind == 1 ? 390 : 300));
                for (int& fd : others) {
                    if (kind == 1) {
                        ::close(fd);
                        fd = connectTo(port);
                    } else if (kind == 2) {
                        const uint8_t b = step < 3 ? 0xA5 : 0x11;
                        ::send(fd, &b, 1, MSG_NOSIGNAL);
                    }
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::vector<double> waits;
        for (int i = 0; i < pcs; ++i) {
            const auto t0 = Clock::now();
            auto pc = pc::PcClient::tcp("127.0.0.1", port);
            pc::Frame reply;
            const bool answered = pc && pc->request(pc::readRam(0x1000, 16), reply, 20000);
            waits.push_back(answered ? std::chrono::duration<double>(Clock::now() - t0).count() : 99.0);
            ok = ok && answered;
        }
        done = true;
        attacker.join();
        for (int fd : others)
            ::close(fd);
        std::sort(waits.begin(), waits.end());
        std::printf("%-30s %10.3f %10.3f\n", kinds[kind], waits[waits.size() / 2], waits.back());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    rlimit files{};   // four times the places, both ends
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);
    std::printf("%-30s %10s %10s %8s\n", "PCs of as many addresses", "median s", "worst s", "RSS MB");
    const size_t places = TcpServer::MAX_CLIENTS;
    for (size_t n : {places - 1, places, places + 1, 4 * places}) {
        std::vector<std::unique_ptr<pc::PcClient>> others;
        for (size_t a = 0; a < n; ++a) {
            others.push_back(pc::PcClient::tcp("127.0.0.1", port, "127.5." + std::to_string(a / 200) + "." + std::to_string(1 + a % 200), 1000));
            pc::Frame reply;
            if (others.back())
                (void)others.back()->request(pc::readRam(0x1000, 16), reply, 1000);
        }
        std::atomic<bool> done{false};
        std::thread askers([&] {
            const pc::Bytes ask = pc::wire(pc::readRam(0x1000, 16));
            for (auto next = Clock::now(); !done; next += std::chrono::seconds(2)) {
                for (auto& o : others)
                    if (o && o->sendRaw(ask))
                        for (pc::Bytes raw; o->receiveRaw(raw, 0);) {
                        }
                while (!done && Clock::now() < next + std::chrono::seconds(2))
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        std::vector<double> waits;
        double rss = 0;
        for (int i = 0; i < pcs; ++i) {
            const auto t0 = Clock::now();
            auto pc = pc::PcClient::tcp("127.0.0.1", port, "127.6.0." + std::to_string(1 + i + int(n % 200)));
            pc::Frame reply;
            const bool answered = pc && pc->request(pc::readRam(0x1000, 16), reply, 20000);
            waits.push_back(answered ? std::chrono::duration<double>(Clock::now() - t0).count() : 99.0);
            ok = ok && answered && waits.back() <= 1.0;
            rss = std::max(rss, bench::rss_mb());
        }
        done = true;
        askers.join();
        std::sort(waits.begin(), waits.end());
        char what[64];
        std::snprintf(what, sizeof what, "%zu (places %zu)", n, places);
        std::printf("%-30s %10.3f %10.3f %8.1f\n", what, waits[waits.size() / 2], waits.back(), rss);
        std::fflush(stdout);
    }
    std::printf("%-30s %10s %10s %8s %5s\n", "card requests, addresses", "median s", "worst s", "RSS MB", "kept");
    for (size_t n : {size_t(0), PassbyQueue::KEPT_MAX - 1, PassbyQueue::KEPT_MAX, PassbyQueue::KEPT_MAX + 1, 4 * PassbyQueue::KEPT_MAX}) {
        ok = bench::cards_idle(*manager) && ok;   // the last row's requests given up
        std::atomic<bool> done{false};
        std::thread askers([&] { bench::ask_cards(n, uint16_t(5008 + offset), done); });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::vector<double> waits;
        double rss = 0;
        for (int i = 0; i < pcs; ++i) {
            const auto t0 = Clock::now();
            auto pc = pc::PcClient::tcp("127.0.0.1", port, "127.7.0." + std::to_string(1 + i));
            pc::Frame reply;
            const bool answered = pc && pc->request(bench::card_read(1, 0x58), reply, 20000) && reply.data.size() == 3;
            waits.push_back(answered ? std::chrono::duration<double>(Clock::now() - t0).count() : 99.0);
            ok = ok && answered && waits.back() <= 1.0;
            rss = std::max(rss, bench::rss_mb());
        }
        size_t kept = 0;
        {
            std::lock_guard<std::mutex> path(manager->port_path_mutex);
            kept = manager->passby.kept();
        }
        done = true;
        askers.join();
        std::sort(waits.begin(), waits.end());
        std::printf("%-30zu %10.3f %10.3f %8.1f %5zu\n", n, waits[waits.size() / 2], waits.back(), rss, kept);
        std::fflush(stdout);
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
