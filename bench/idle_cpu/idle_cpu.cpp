// Usage: bench_idle_cpu [seconds-to-measure]
// Starts kelM57N offscreen on the simulated board with a fresh data root, waits for the
// end of its start-up, then measures the CPU it uses while nobody talks to it.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
long cpuTicks(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14)
            utime = std::stol(field);
        if (i == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

long residentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    char rootTemplate[] = "/tmp/kel-bench-idle-XXXXXX";
    if (!mkdtemp(rootTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string log = std::string(rootTemplate) + "/out.log";
    pid_t pid = fork();
    if (pid == 0) {
        setenv("KEL_ROOT", (std::string(rootTemplate) + "/root").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("KEL_PORT_OFFSET", "23000", 1);
        if (!freopen(log.c_str(), "w", stdout))
            _exit(127);
        execl(KEL_BINARY_DIR "/kelM57N", "kelM57N", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Start-up takes its four-second pause plus the set-up work.
    for (int i = 0; i < 300; ++i) {
        std::ifstream in(log);
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (all.find("start-up done") != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long hz = sysconf(_SC_CLK_TCK);
    const long before = cpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long after = cpuTicks(pid);
    const long rss = residentKiB(pid);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (before < 0 || after < 0) {
        std::fprintf(stderr, "could not read the process's CPU time\n");
        return 1;
    }
    const double percent = 100.0 * double(after - before) / double(hz) / seconds;
    std::printf("idle CPU over %d s: %.2f %% of one core (%ld ticks at %ld Hz)\n", seconds, percent,
                after - before, hz);
    std::printf("resident memory: %ld KiB\n", rss);
    return 0;
}
