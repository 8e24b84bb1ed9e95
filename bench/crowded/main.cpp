// A PC connects to the configured TCP port while 64 other connections there stay silent,
// are closed and re-opened every 0.39 s, or send a byte of a frame that never ends every
// 0.3 s, or while 24 each ask for 400 replies of 60 KB and read none (more would only hold
// the loopback's buffers); the clock ticks as on the device. For
// each kind, the time from the PC's connect to its first reply, over a number of PCs coming
// one after another: the aim is one second at most (99 s: no reply within 20 s).
//
//   bench_crowded [PCs per kind, default 10]

#include "bench/bench_board.h"
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
    int offset = 0;
    g_networkMode = 1;
    g_port = 5005;
    networkManage* tcp = bench::open_link<networkManage>(offset, []() -> networkManage* {
        auto* l = new networkManage();
        if (l->initialize() == 0 && l->server(0)->listenSocket() >= 0)
            return l;
        delete l;
        return nullptr;
    });
    if (!tcp) {
        std::fprintf(stderr, "bench: cannot open the link\n");
        return 1;
    }
    const uint16_t port = tcp->server(0)->localPort();
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        for (; !stop; G_timeTicks = G_timeTicks + 1)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
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
    stop = true;
    ticker.join();
    delete tcp;
    std::filesystem::remove_all(root);
    return ok ? 0 : 1;
}
