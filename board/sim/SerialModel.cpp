#include "board/sim/SerialModel.h"

#include "board/Files.h"
#include "board/SerialPort.h"
#include "board/sim/Journal.h"
#include "board/sim/SimBoard.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <pty.h>
#include <set>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {
struct Port {
    std::string peer;
    int master = -1;
    int peerHold = -1;
    std::vector<bool> rts;
};

std::mutex g_lock;
std::map<std::string, Port>& ports()
{
    static std::map<std::string, Port> p;
    return p;
}
std::set<std::string>& failing()
{
    static std::set<std::string> f;
    return f;
}

// The peer files written, by slot, for the stop to remove: a stopped program's file would name
// a pseudo-terminal the system hands to the next program that asks, so a PC tool following it
// would reach another program's line. Kept in fixed slots that a signal handler can read.
struct PeerFile {
    std::atomic<bool> valid{false};
    char path[PATH_MAX] = {};
};
PeerFile g_peerFiles[8];

void forgetPeerFile(const std::string& mapped)
{
    for (PeerFile& f : g_peerFiles)
        if (f.valid && mapped == f.path) {
            f.valid = false;
            ::unlink(f.path);
        }
}

// A free slot, else the next in turn (a test program goes through many roots; the program opens
// two ports).
void rememberPeerFile(const std::string& mapped)
{
    static size_t next = 0;
    PeerFile* slot = &g_peerFiles[next++ % std::size(g_peerFiles)];
    for (PeerFile& f : g_peerFiles)
        slot = f.valid ? slot : &f;
    if (mapped.size() >= sizeof slot->path)
        return;
    slot->valid = false;
    std::memcpy(slot->path, mapped.c_str(), mapped.size() + 1);
    slot->valid = true;
}

void removePeerFiles()
{
    for (PeerFile& f : g_peerFiles)
        if (f.valid.exchange(false))
            ::unlink(f.path);
}

// A stop by a signal (kill, Ctrl-C, a closed terminal) removes the files, then ends the
// program as the signal would have. A signal the program was started ignoring (a background
// job's Ctrl-C) stays ignored.
const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};
void stopBySignal(int signal)
{
    removePeerFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void removePeerFilesAtStop()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    std::atexit(removePeerFiles);
    for (int signal : kStopSignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_DFL && !(old.sa_flags & SA_SIGINFO)) {
            struct sigaction stop {};
            stop.sa_handler = stopBySignal;
            sigemptyset(&stop.sa_mask);
            ::sigaction(signal, &stop, nullptr);
        }
    }
}

std::string deviceOf(int fd)
{
    for (const auto& [path, port] : ports())
        if (port.master == fd)
            return path;
    return std::string();
}

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { SerialModel::reset(); }); }
} g_registrar;
} // namespace

std::string SerialModel::peerPath(const std::string& devicePath)
{
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = ports().find(devicePath);
    return it == ports().end() ? std::string() : it->second.peer;
}

std::vector<bool> SerialModel::rtsChanges(const std::string& devicePath)
{
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = ports().find(devicePath);
    return it == ports().end() ? std::vector<bool>() : it->second.rts;
}

void SerialModel::clearRts(const std::string& devicePath)
{
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = ports().find(devicePath);
    if (it != ports().end())
        it->second.rts.clear();
}

void SerialModel::setOpenFails(const std::string& devicePath, bool fails)
{
    std::lock_guard<std::mutex> hold(g_lock);
    if (fails)
        failing().insert(devicePath);
    else
        failing().erase(devicePath);
}

void SerialModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    failing().clear();
    for (auto& [path, port] : ports())
        port.rts.clear();
}

} // namespace sim

namespace board {

int SerialPort::open(const std::string& path)
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    // A file an earlier program on this root left (killed outright) goes first: it names a
    // line that is no longer this root's, also when this open fails.
    const std::string peerFile = Files::map(path + ".peer");
    sim::forgetPeerFile(peerFile);
    ::unlink(peerFile.c_str());
    if (sim::failing().count(path))
        return -1;
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return -1;
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    // Raw peer: a PC tool reads bytes exactly as sent, with no echo or line editing.
    termios raw{};
    if (::tcgetattr(slave, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
    }
    sim::Port& port = sim::ports()[path];
    if (port.peerHold >= 0)
        ::close(port.peerHold);
    port.master = master;
    port.peerHold = slave;
    port.peer = name;
    Files::makeDirs("/dev");
    std::ofstream(peerFile) << name << "\n";
    sim::removePeerFilesAtStop();
    sim::rememberPeerFile(peerFile);
    return master;
}

int SerialPort::setRts(int fd, bool on)
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    std::string path = sim::deviceOf(fd);
    if (path.empty())
        return -1;
    if (sim::SimBoard::recording())            // a record for tests; a host run keeps none
        sim::ports()[path].rts.push_back(on);
    return 0;
}

void SerialPort::close(int fd)
{
    if (fd < 0)
        return;
    std::lock_guard<std::mutex> hold(sim::g_lock);
    for (auto& [path, port] : sim::ports()) {
        if (port.master == fd) {
            port.master = -1;
            sim::forgetPeerFile(Files::map(path + ".peer"));
            if (port.peerHold >= 0)
                ::close(port.peerHold);
            port.peerHold = -1;
        }
    }
    // The descriptor is a real one that open() handed out; it is closed even when the port
    // was opened again since (the model then tracks the newer one), or it would leak.
    ::close(fd);
}

} // namespace board
