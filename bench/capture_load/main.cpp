// Usage: bench_capture_load [seconds per phase, default 6]
// Starts kelM57N on a private X display of the LCD's size with a loopback VNC server (on port
// offset - 10000), as scripts/run does, on the simulated board with a fresh data root (ports
// moved by KEL_PORT_OFFSET, default 24000), waits for the end of its start-up, then times a PC's screen capture (a RAM read at
// 0x800000, grabbed by the GUI thread) on UDP 10005, one after another: first at rest, then
// while two other PCs each write a window record and apply it (register 11, mask 2) every
// 0.1 s, then at rest again; then while 28 other PCs capture back to back, and while one
// other PC writes a window record and applies and saves it (register 11, masks 2 and 4) back
// to back. Prints the median, mean and largest capture time of each phase, the ratios of the
// loaded mean and largest to the resting ones, the program's CPU in the second after the
// load stops and in the seconds after that, and in the last two phases the time from a
// front-panel key to the frame showing it (bench/lcd_key/key_to_frame.py, beside them).

#include "tests/support/PcFrame.h"

#include "../proc_stat.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A UDP client of the controller on loopback; replies time out after five seconds.
int client(uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request and its reply; false without a reply.
bool ask(int fd, const pc::Frame& request)
{
    const pc::Bytes out = pc::wire(request);
    if (::send(fd, out.data(), out.size(), 0) != ssize_t(out.size()))
        return false;
    uint8_t in[70000];
    return ::recv(fd, in, sizeof in, 0) > 0;
}

struct Times {
    double median = -1, mean = -1, largest = -1;
    int count = 0, lost = 0;
};

// Captures one after another for the given seconds.
Times summary(std::vector<double> all, int lost);

Times captures(uint16_t port, int seconds)
{
    Times t;
    const int fd = client(port);
    if (fd < 0)
        return t;
    std::vector<double> all;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        const auto t0 = Clock::now();
        if (!ask(fd, pc::readRam(0x800000, 2))) {
            ++t.lost;
            continue;
        }
        all.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
    }
    ::close(fd);
    return summary(all, t.lost);
}

// The waits of the other PCs' register 11 replies (answered once their store is on disc).
std::mutex g_replyMutex;
std::vector<double> g_applyWaits, g_saveWaits;
void timedAsk(int fd, const pc::Frame& request, std::vector<double>& into)
{
    const auto t0 = Clock::now();
    if (!ask(fd, request))
        return;
    const double wait = std::chrono::duration<double>(Clock::now() - t0).count();
    std::lock_guard<std::mutex> hold(g_replyMutex);
    into.push_back(wait);
}

Times summary(std::vector<double> all, int lost)
{
    Times t;
    t.lost = lost;
    if (all.empty())
        return t;
    std::sort(all.begin(), all.end());
    t.median = all[all.size() / 2];
    double sum = 0;
    for (double v : all)
        sum += v;
    t.mean = sum / double(all.size());
    t.largest = all.back();
    t.count = int(all.size());
    return t;
}

void print(const char* phase, const Times& t)
{
    std::printf("%-22s captures %6d  lost %2d  median %8.5f s  mean %8.5f s  largest %7.4f s\n", phase, t.count, t.lost,
                t.median, t.mean, t.largest);
}

// The key-to-frame script's line, run once against the VNC port after a second's idle.
std::string keyToFrame(int vncPort)
{
    const std::string command = "python3 " KEL_SOURCE_DIR "/bench/lcd_key/key_to_frame.py " + std::to_string(vncPort) + " 1 q";
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, p))
            out += line;
        ::pclose(p);
    }
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out.empty() ? "key to frame: no answer" : out;
}

// Captures of one PC for the given seconds while `load` runs on `pcs` threads, with the key
// to frame measured meanwhile.
Times underLoad(uint16_t port, int seconds, int pcs, int vncPort, const std::function<void(int fd, int pc)>& load, std::string& key)
{
    std::atomic<bool> on{true};
    std::vector<std::thread> others;
    for (int k = 0; k < pcs; ++k)
        others.emplace_back([&, k] {
            const int fd = client(port);
            while (fd >= 0 && on)
                load(fd, k);
            if (fd >= 0)
                ::close(fd);
        });
    std::thread keys([&] { key = keyToFrame(vncPort); });
    const Times t = captures(port, std::max(seconds, 4));
    keys.join();
    on = false;
    for (std::thread& o : others)
        o.join();
    return t;
}

// Starts a helper program with its output dropped; its process id, or -1.
pid_t spawn(const std::vector<std::string>& args)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(127);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool listening(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 6;
    const char* given = std::getenv("KEL_PORT_OFFSET");
    const int offset = given && *given ? std::atoi(given) : 24000;
    char rootTemplate[] = "/tmp/kel-bench-capture-XXXXXX";
    if (!mkdtemp(rootTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string log = std::string(rootTemplate) + "/out.log";
    const char* program = KEL_BINARY_DIR "/kelM57N";
    std::string display;
    for (int n = 80; n < 100 && display.empty(); ++n)
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) && !std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            display = ":" + std::to_string(n);
    const int vncPort = offset - 10000;
    const pid_t xvfb = spawn({"Xvfb", display, "-screen", "0", "320x240x24", "-dpi", "100", "-nolisten", "tcp"});
    for (int i = 0; i < 50 && !std::filesystem::exists("/tmp/.X11-unix/X" + display.substr(1)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const pid_t vnc = spawn({"x11vnc", "-display", display, "-localhost", "-rfbport", std::to_string(vncPort), "-forever", "-shared",
                             "-nopw", "-quiet", "-nocursor", "-noxdamage", "-nonap", "-sb", "0", "-wait", "10", "-defer", "10"});
    for (int i = 0; i < 100 && !listening(vncPort); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("KEL_ROOT", (std::string(rootTemplate) + "/root").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("KEL_PORT_OFFSET", std::to_string(offset).c_str(), 1);
        setenv("XDG_RUNTIME_DIR", rootTemplate, 0);
        if (!freopen(log.c_str(), "w", stdout))
            _exit(127);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 300; ++i) {
        std::ifstream in(log);
        const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find("start-up done") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(8));   // the LED outputs come up meanwhile
    const uint16_t port = uint16_t(10005 + offset);

    const Times rest = captures(port, seconds);
    std::atomic<bool> loaded{true};
    std::vector<std::thread> pcs;
    for (int w = 0; w < 2; ++w)
        pcs.emplace_back([&, w] {
            const int fd = client(port);
            for (int i = 0; fd >= 0 && loaded; ++i) {
                const uint16_t x = uint16_t((i * 64) % 1600);
                ask(fd, pc::writeRam(0x8E0 + 26 * w + 10, {uint8_t(x), uint8_t(x >> 8)}));
                timedAsk(fd, pc::writeRegister(11, 2, 2), g_applyWaits);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (fd >= 0)
                ::close(fd);
        });
    const Times load = captures(port, seconds);
    loaded = false;
    for (std::thread& t : pcs)
        t.join();
    const long hz = sysconf(_SC_CLK_TCK);
    const long c0 = bench::cpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long c1 = bench::cpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long c2 = bench::cpuTicks(pid);
    const Times after = captures(port, seconds);
    std::string keyCapturing, keySaving;
    const Times capturing = underLoad(port, seconds, 28, vncPort, [](int fd, int) { ask(fd, pc::readRam(0x800000, 2)); }, keyCapturing);
    int i = 0;
    const Times saving = underLoad(port, seconds, 1, vncPort, [&i](int fd, int) {
        const uint16_t x = uint16_t((++i * 64) % 1600);
        ask(fd, pc::writeRam(0x8E0 + 10, {uint8_t(x), uint8_t(x >> 8)}));
        timedAsk(fd, pc::writeRegister(11, 6, 6), g_saveWaits);
    }, keySaving);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    for (const pid_t helper : {vnc, xvfb})
        if (helper > 0)
            kill(helper, SIGTERM), waitpid(helper, nullptr, 0);
    std::filesystem::remove_all(rootTemplate);

    print("at rest", rest);
    print("two PCs applying", load);
    print("at rest again", after);
    print("28 PCs capturing", capturing);
    std::printf("%-22s %s\n", "", keyCapturing.c_str());
    print("one PC applying+saving", saving);
    std::printf("%-22s %s\n", "", keySaving.c_str());
    const Times applies = summary(g_applyWaits, 0), saves = summary(g_saveWaits, 0);
    std::printf("%-22s replies %6d  median %8.5f s  mean %8.5f s  largest %7.4f s\n", "apply (11, mask 2)", applies.count, applies.median,
                applies.mean, applies.largest);
    std::printf("%-22s replies %6d  median %8.5f s  mean %8.5f s  largest %7.4f s\n", "apply+save (mask 6)", saves.count, saves.median,
                saves.mean, saves.largest);
    std::printf("ratio loaded/rest: mean %.1f, largest %.1f\n", rest.mean > 0 ? load.mean / rest.mean : -1.0,
                rest.largest > 0 ? load.largest / rest.largest : -1.0);
    std::printf("CPU after the load: first second %.0f %%, next three seconds %.0f %%\n",
                100.0 * double(c1 - c0) / double(hz), 100.0 * double(c2 - c1) / double(hz) / 3);
    return 0;
}
