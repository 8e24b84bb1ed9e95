// Every limit the links set, at one below it, at it, one past it and four times it, with an
// honest PC on every link (TCP on the configured port and 10002, UDP 5008 and 10005, the
// RS-485 line) asking twice: each answered whatever fills the limit within its link's
// passes or line's time, a card's answer within a second of ticks (over UDP within its
// list's turns; printed; a release build's waits are measured by bench_pc_turns and
// bench_crowded). The UDP passes run here, each after a flood's datagrams, as a busy
// network brings them.

#include "board/sim/ReceivingCardModel.h"
#include "board/sim/SerialModel.h"
#include "core/global.h"
#include "protocol/networkmanage.h"
#include "protocol/uart_inout.h"
#include "protocol/udpnetmanage.h"
#include "scaler/c331_manage.h"
#include "tests/fpga/bringup_fixture.h"
#include "tests/protocol/udp_fixture.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <thread>

namespace {

using pc::Bytes;

// One datagram to the controller's port from address `from`, of a socket bound to none: a
// burst from many addresses takes one descriptor. A full socket drops it, as a network would.
void sendFrom(int fd, uint32_t from, uint16_t port, const Bytes& d)
{
    sockaddr_in to{};
    to.sin_family = AF_INET, to.sin_addr.s_addr = htonl(INADDR_LOOPBACK), to.sin_port = htons(port);
    char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    iovec io{const_cast<unsigned char*>(d.data()), d.size()};
    msghdr m{&to, sizeof to, &io, 1, control, sizeof control, 0};
    cmsghdr* c = CMSG_FIRSTHDR(&m);
    c->cmsg_level = IPPROTO_IP, c->cmsg_type = IP_PKTINFO, c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(from);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    (void)::sendmsg(fd, &m, MSG_DONTWAIT);
}

// The bytes of the next datagram a socket holds, 0 when it holds none.
int unread(int fd)
{
    int n = 0;
    return ::ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

// Datagrams the system dropped for the UDP socket on port: the last column of its line.
long drops(uint16_t port)
{
    char local[16];
    std::snprintf(local, sizeof local, ":%04X ", unsigned(port));
    std::ifstream list("/proc/net/udp");
    std::string line, last = "0";
    while (std::getline(list, line))
        if (line.find(local) < 20)
            for (std::istringstream fields(line); fields >> last;) {
            }
    return std::stol(last);
}

// The link's turns (its passes, or the line's ticks) from sending req to its answer; past
// bound when none came in bound: a PC waits for them, which a loaded host slows, not seconds.
unsigned long long turnsToAnswer(pc::PcClient& c, const pc::Frame& req, const std::function<uint64_t()>& turns, uint64_t bound, pc::Frame& reply)
{
    const uint64_t from = turns();
    for (Bytes got, plain; turns() - from <= bound && c.sendRaw(pc::wire(req));)
        while (turns() - from <= bound)
            if (c.receiveRaw(got, 20) && pc::unescape(got, plain) && pc::decode(plain, reply) && reply.group == req.group)
                return turns() - from;
    return bound + 1;
}

} // namespace

TEST(LinkLimits, AnHonestPcIsAnsweredAtEveryLimitOfEveryLink)
{
    kel_test::TestRoot root;
    udptest::freshParameters();
    rlimit files{};   // four times the TCP places on both ports, and their server ends
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);
    fpga_test::BringUpWorld world;   // the card path: ports 0, 2 and 3 silent, port 1's cards answer
    auto cards = std::make_unique<fpga_manage>();
    fpga_manage::p_fpga_manage = cards.get();
    ASSERT_EQ(cards->initialize(), 0);
    cards->softinit();
    ASSERT_TRUE(fpga_test::BringUpWorld::bringUp(*cards));
    for (int port : {0, 2, 3})
        sim::ReceivingCardModel::setFault(0, port, sim::ReceivingCardModel::Fault::Silent);
    auto cardRead = [](int port, size_t tag) { return pc::Frame{uint16_t(port), pc::kPc, 0x10, uint8_t(tag), 1, uint8_t(port + 1), 0, 0x61, {0x80, 0, 0, 0, 2, 0, 0, 0}}; };
    int offset = 0;
    auto udp = udptest::openLink(offset);
    std::unique_ptr<networkManage> tcp;
    g_port = 5005;
    ASSERT_GT(kel_test::bindPrivatePorts(10002, [&](int) {
        tcp = std::make_unique<networkManage>();
        tcp->open_servers();
        return tcp->server(0)->listenSocket() >= 0 && tcp->server(1)->listenSocket() >= 0;
    }), 0);
    ASSERT_TRUE(udp && tcp->start_threads() == 0);
    sim::SerialModel::setPaced("/dev/ttyS2", true);   // the line's time on the virtual clock
    auto line = std::make_unique<Kx_uart_inout>();
    ASSERT_EQ(line->usart1_init(2, 115200, O_RDWR | O_NOCTTY | O_NONBLOCK), 0);
    const uint16_t tcpPorts[] = {tcp->server(0)->localPort(), tcp->server(1)->localPort()};
    const uint16_t udpPorts[] = {uint16_t(5008 + offset), uint16_t(10005 + offset)};
    std::vector<std::unique_ptr<pc::PcClient>> honest;
    for (uint16_t p : tcpPorts)
        honest.push_back(pc::PcClient::tcp("127.0.0.1", p, "127.0.0.1"));
    for (uint16_t p : udpPorts)
        honest.push_back(pc::PcClient::udp("127.0.0.1", p));
    honest.push_back(pc::PcClient::serial(sim::SerialModel::peerPath("/dev/ttyS2")));
    ASSERT_TRUE(std::all_of(honest.begin(), honest.end(), [](const auto& h) { return h != nullptr; }));

    // Each pass of a UDP port first joins what a flood brings it (set by a row, n addresses).
    std::mutex floodLock;
    std::function<void(int index, size_t& next)> flood;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> udpPasses[2] = {{0}, {0}};
    std::thread clock([&] {   // the ticks run as on the device, and the UDP passes
        size_t next[2] = {0, 0};
        for (auto tick = std::chrono::steady_clock::now(); !stop;) {
            for (int index = 0; index < 2; ++index) {
                if (std::lock_guard<std::mutex> hold(floodLock); flood)
                    flood(index, next[index]);
                index == 0 ? udp->udpaccept_pass(1) : udp->udpaccept_pass_10005(1);
                ++udpPasses[index];
            }
            if (std::chrono::steady_clock::now() - tick >= std::chrono::milliseconds(10))
                G_timeTicks = G_timeTicks + 1, tick = std::chrono::steady_clock::now();
        }
    });

    const int burst = ::socket(AF_INET, SOCK_DGRAM, 0);
    const Bytes ask = pc::wire(pc::readRam(0x600440, 2));
    const size_t largest = UdpServer::MAX_UDP_PAYLOAD;
    Bytes big = pc::wire(pc::writeRam(0x1000, Bytes(largest - 40, 0x11)));   // a whole frame failing its check
    big.resize(largest - 1), big.push_back(0x5A);
    std::vector<std::unique_ptr<pc::PcClient>> crowd;   // TCP PCs of other addresses
    auto burstOf = [&](size_t size) {
        return [&, size](size_t n) {
            for (size_t k = 0; k < n; ++k)
                sendFrom(burst, 0x7F030000u + uint32_t(k % 64), udpPorts[1], Bytes(size, 0x11));
        };
    };
    struct Row {
        const char* limit;
        size_t value;
        size_t datagram;   // of a burst: its datagrams' size
        std::function<void(size_t n)> fill;   // once, before the PCs ask
        std::function<void(size_t n, int index, size_t& next)> perPass;   // each pass while they ask
    };
    // What each honest PC waits for, and how much of it at most (see the bounds' reasons).
    const std::function<uint64_t()> turns[5] = {[&] { return tcp->passes(0); }, [&] { return tcp->passes(1); }, [&] { return udpPasses[0].load(); },
                                                 [&] { return udpPasses[1].load(); }, [] { return uint64_t(G_timeTicks.load()); }};
    // TCP: the pass that reads its request answers it, once accepted behind what the backlog
    // holds (64 a pass) and placed. UDP: one turn of every address sending, at most four
    // times the list's places in the rows. The line: a second of its own time.
    const uint64_t bound[5] = {16, 16, 4 * udpnetManage::MAX_FRAMES + 2, 4 * udpnetManage::MAX_FRAMES + 2, 100};
    uint64_t asked[5] = {};   // each PC's link's turns at its last request
    const Row rows[] = {
        // n addresses, each a request twice in a pass (the pass takes MAX_DRAIN at most), the
        // PCs' anywhere among them: the list's places. Then frames of the largest datagram
        // (joined as though received): the list's bytes.
        {"UDP frames waiting", udpnetManage::MAX_FRAMES, 0, nullptr, [&](size_t n, int index, size_t& next) {
             for (size_t k = 0; k < std::min(2 * n, udpnetManage::MAX_DRAIN); ++k, ++next)
                 sendFrom(burst, uint32_t(0x7F010000u + next / 2 % n), udpPorts[index], ask);
         }},
        {"UDP frame bytes", udpnetManage::MAX_FRAME_BYTES / largest, 0, nullptr, [&](size_t n, int index, size_t& next) {
             for (size_t k = 0; k < udpnetManage::MAX_DRAIN_BYTES / largest; ++k, ++next)
                 udp->join_datagram(index, big.data(), big.size(), uint64_t(0x7F020000u + next % n) << 16 | 40000);
         }},
        // n datagrams as large as a LAN carries, of 64 addresses at once, joined to nothing:
        // what a pass takes; then n of the largest: the socket's buffer.
        {"UDP datagrams a pass", udpnetManage::MAX_DRAIN, 1472, burstOf(1472), nullptr},
        {"UDP socket buffer", udpnetManage::SOCKET_ROOM / (largest + 2048), largest, burstOf(largest), nullptr},
        // n PCs of as many addresses on each TCP port, having asked once, staying connected.
        {"TCP places", TcpServer::MAX_CLIENTS, 0, [&](size_t n) {
             for (size_t a = 0; a < n; ++a)
                 for (uint16_t p : tcpPorts) {
                     const std::string from = "127.5." + std::to_string(a / 200) + "." + std::to_string(1 + a % 200);
                     crowd.push_back(pc::PcClient::tcp("127.0.0.1", p, from, 1000));
                     pc::Frame reply;   // answered, or closed to make room: in the server's hands
                     if (crowd.back())
                         (void)crowd.back()->request(pc::readRam(0x600440, 2), reply, 1000);
                 }
         }, nullptr},
        // The line's PC reads n bytes, whole: the send time against the reply's length (n:
        // what the line carries in the second a send has beyond the reply's own time).
        {"RS-485 send time", 11520, 0, [&](size_t n) {
             pc::Frame reply;
             const uint64_t line = (n + 40) * 1000 / 115200 + 100;   // the reply's time on the line (ten bits a byte) and a second
             EXPECT_LE(turnsToAnswer(*honest[4], pc::readRam(0xFE000000u, uint16_t(n)), turns[4], line, reply), line) << n;
             EXPECT_EQ(reply.data.size(), n + 1) << n;
         }, nullptr},
        // n UDP 5008 PCs of as many addresses, each asking a silent port's card (one
        // request due a port, waited for 300 ticks): the card requests kept.
        {"Card requests kept", PassbyQueue::KEPT_MAX, 0, [&](size_t n) {
             for (size_t k = 0; k < n; ++k)
                 sendFrom(burst, (0x7F000000u | uint32_t(n) << 12) + uint32_t(k), udpPorts[0], pc::wire(cardRead(int(k % 3 ? k % 3 + 1 : 0), k)));
             for (int k = 0; unread(udp->server(5008)->socketFd()) > 0; ++k)
                 ASSERT_LT(k, 10000000) << "the card requests were not taken";
         }, nullptr},
    };
    for (const Row& row : rows)
        for (size_t n : {row.value - 1, row.value, row.value + 1, 4 * row.value}) {
            if (row.limit == std::string("TCP places") && files.rlim_cur < 4 * n + 256)
                continue;   // descriptors too few here for its clients and the server's ends
            const long dropped = drops(udpPorts[1]);
            if (row.fill)
                row.fill(n);
            // A burst is in the link's hands before the PCs ask (past the socket's room the
            // system drops any datagram); one the socket holds loses nothing (the system's
            // bookkeeping takes up to 2 KiB a datagram) where the system lets it hold as much.
            for (int k = 0; row.datagram && unread(udp->server(10005)->socketFd()) > 0; ++k)
                ASSERT_LT(k, 10000000) << row.limit << " at " << n << ": the burst was not taken";
            if (row.datagram && n <= row.value && n * (row.datagram + 2048) <= udp->server(10005)->receiveRoom()) {
                EXPECT_EQ(drops(udpPorts[1]), dropped) << row.limit << " at " << n;
            }
            if (std::lock_guard<std::mutex> hold(floodLock); row.perPass)
                flood = [&row, n](int index, size_t& next) { row.perPass(n, index, next); };
            for (size_t h = 0; h < 2 && row.limit == std::string("TCP places"); ++h)   // the TCP PCs come anew
                ASSERT_TRUE(honest[h] = pc::PcClient::tcp("127.0.0.1", tcpPorts[h], "127.0.1." + std::to_string(1 + n % 250)));
            unsigned long long most[5] = {};
            for (int twice = 0; twice < 2; ++twice)
                for (size_t h = 0; h < honest.size(); ++h) {
                    // Slower than each flooding address, as a PC asking once a second is (one
                    // faster is the flood): 16 passes bring more datagrams than a row floods
                    // from addresses (32 a pass from 256, 512 from 1,024).
                    while (h >= 2 && h < 4 && turns[h]() - asked[h] < 16)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    asked[h] = turns[h]();
                    pc::Frame reply;
                    // The links that carry card frames ask port 1's card in that row: over TCP and
                    // the line in ticks (a second), over UDP in its passes (its turn in the list).
                    const bool card = row.limit == std::string("Card requests kept") && h % 2 == 0;
                    const size_t t = card && h != 2 ? 4 : h;
                    most[h] = std::max(most[h], turnsToAnswer(*honest[h], card ? cardRead(1, 0x58 + twice) : pc::readRam(0x600440, 2), turns[t], bound[t], reply));
                    EXPECT_LE(most[h], bound[t]) << row.limit << " at " << n << ": the PC on link " << h << " (passes; the line, a card over TCP: ticks)";
                }
            std::lock_guard<std::mutex> hold(floodLock), path(cards->port_path_mutex);
            std::printf("%-22s at %5zu: longest wait: passes TCP %llu %llu, UDP %llu %llu; line ticks %llu; card requests kept %zu\n", row.limit, n, most[0], most[1], most[2], most[3], most[4], cards->passby.kept());
            flood = nullptr;
            crowd.clear();
        }
    ::close(burst);
    stop = true;
    clock.join();
    line.reset(), tcp.reset(), udp.reset();
    fpga_manage::p_fpga_manage = nullptr;
    for (int port : {0, 2, 3})
        sim::ReceivingCardModel::setFault(0, port, sim::ReceivingCardModel::Fault::None);
    udptest::dropParameters();
}
