#include "board/sim/UeventModel.h"

#include "board/UeventSource.h"
#include "board/sim/SimBoard.h"

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {
std::mutex g_lock;
int g_appSide = -1;
int g_injectSide = -1;
// Events that came before the watcher opened its source: a stick plugged in while the
// program starts up is announced once the watcher is there, as the kernel would announce
// a device found at boot. Bounded like a socket's buffer.
constexpr size_t kKeptBeforeOpen = 64;
std::vector<std::string> g_beforeOpen;

struct Registrar {
    Registrar()
    {
        SimBoard::addResetHook([] {
            std::lock_guard<std::mutex> hold(g_lock);
            g_beforeOpen.clear();
        });
    }
} g_registrar;
} // namespace

bool UeventModel::inject(const std::string& action, const std::string& devpath, const std::string& fields)
{
    std::lock_guard<std::mutex> hold(g_lock);
    std::string msg = action + "@" + devpath;
    msg.push_back('\0');
    msg += "ACTION=" + action;
    msg.push_back('\0');
    msg += "DEVPATH=" + devpath;
    msg.push_back('\0');
    for (char c : fields)
        msg.push_back(c == '\n' ? '\0' : c);
    if (g_injectSide < 0) {
        if (g_beforeOpen.size() >= kKeptBeforeOpen)
            return false;
        g_beforeOpen.push_back(msg);
        return true;
    }
    return ::send(g_injectSide, msg.data(), msg.size(), MSG_DONTWAIT) == ssize_t(msg.size());
}

void UeventModel::serveFifo(const std::string& path)
{
    // A FIFO left by an earlier run is kept: a line someone began writing while no program ran
    // is read as soon as this one opens it.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
        ::unlink(path.c_str());
        if (::mkfifo(path.c_str(), 0600) != 0)
            return;
    }
    std::thread([path] {
        // Opened for writing too, so the reader never sees end-of-file between writers and
        // blocks while nobody writes.
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return;
        std::string pending;
        char chunk[512];
        for (;;) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            pending.append(chunk, size_t(got));
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                const size_t at = line.find('@');
                if (at != std::string::npos)
                    inject(line.substr(0, at), line.substr(at + 1));
            }
            if (pending.size() > 4096)
                pending.clear();
        }
        ::close(fd);
    }).detach();
}

} // namespace sim

namespace board {

int UeventSource::open()
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    if (sim::g_injectSide >= 0)
        ::close(sim::g_injectSide);
    sim::g_appSide = pair[0];
    sim::g_injectSide = pair[1];
    for (const std::string& msg : sim::g_beforeOpen)
        ::send(pair[1], msg.data(), msg.size(), MSG_DONTWAIT);
    sim::g_beforeOpen.clear();
    return pair[0];
}

void UeventSource::close(int fd)
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    ::close(fd);
    if (fd == sim::g_appSide) {
        sim::g_appSide = -1;
        if (sim::g_injectSide >= 0)
            ::close(sim::g_injectSide);
        sim::g_injectSide = -1;
    }
}

} // namespace board
