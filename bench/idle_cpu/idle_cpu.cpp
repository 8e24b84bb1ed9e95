// Usage: bench_idle_cpu [seconds-to-measure] [seconds-to-settle]
// Starts kelM57N offscreen on the simulated board with a fresh data root, waits for the
// end of its start-up and the settling time (default 8 s: the LED outputs are still being
// brought up for a few seconds after "start-up done"), then measures the CPU it uses, its wake-ups (voluntary context
// switches of all its threads) and its resident size while nobody talks to it; then the same
// of bench_idle_anchor, a bare Qt program with a 10 ms timer, on the same platform.

#include "../proc_stat.h"

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
long residentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}
// Voluntary context switches summed over the process's threads.
long wakeUps(pid_t pid)
{
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(dir.c_str());
    if (!d)
        return -1;
    long sum = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(dir + "/" + e->d_name + "/status");
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                sum += std::atol(line.c_str() + 24);
    }
    closedir(d);
    return sum;
}

struct Idle {
    double cpuPercent = -1;
    double wakeUpsPerSecond = -1;
    long rssKiB = -1;
};

// Starts the program with a fresh data root, waits for "start-up done" in its output and the
// settling time, then measures it for the given seconds and ends it.
Idle run(const char* program, int seconds, int settle)
{
    Idle r;
    char rootTemplate[] = "/tmp/kel-bench-idle-XXXXXX";
    if (!mkdtemp(rootTemplate)) {
        std::perror("mkdtemp");
        return r;
    }
    const std::string log = std::string(rootTemplate) + "/out.log";
    pid_t pid = fork();
    if (pid == 0) {
        setenv("KEL_ROOT", (std::string(rootTemplate) + "/root").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("KEL_PORT_OFFSET", "23000", 0);   // unless the caller moved the ports
        setenv("XDG_RUNTIME_DIR", rootTemplate, 0);   // Qt's runtime folder: the private one, unless the session has one
        if (!freopen(log.c_str(), "w", stdout))
            _exit(127);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    // The controller's start-up takes its four-second pause plus the set-up work.
    for (int i = 0; i < 300; ++i) {
        std::ifstream in(log);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find("start-up done") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(settle));
    const long hz = sysconf(_SC_CLK_TCK);
    const long before = bench::cpuTicks(pid);
    const long wakeBefore = wakeUps(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long after = bench::cpuTicks(pid);
    const long wakeAfter = wakeUps(pid);
    r.rssKiB = residentKiB(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(rootTemplate);
    if (before >= 0 && after >= 0)
        r.cpuPercent = 100.0 * double(after - before) / double(hz) / seconds;
    if (wakeBefore >= 0 && wakeAfter >= 0)
        r.wakeUpsPerSecond = double(wakeAfter - wakeBefore) / seconds;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 10;
    const int settle = argc > 2 && std::atoi(argv[2]) >= 0 ? std::atoi(argv[2]) : 8;
    const Idle app = run(KEL_BINARY_DIR "/kelM57N", seconds, settle);
    const Idle anchor = run(KEL_BINARY_DIR "/bench/idle_cpu/bench_idle_anchor", seconds, settle);
    if (app.cpuPercent < 0 || anchor.cpuPercent < 0) {
        std::fprintf(stderr, "could not read the processes' CPU time\n");
        return 1;
    }
    std::printf("idle over %d s, from %d s after start-up\n", seconds, settle);
    std::printf("                             CPU %% of a core   wake-ups/s   resident KiB\n");
    std::printf("kelM57N host run             %14.2f %12.0f %14ld\n", app.cpuPercent, app.wakeUpsPerSecond, app.rssKiB);
    std::printf("bare Qt, 10 ms timer         %14.2f %12.0f %14ld\n", anchor.cpuPercent, anchor.wakeUpsPerSecond,
                anchor.rssKiB);
    return 0;
}

