#include "board/sim/SerialModel.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "board/SerialPort.h"
#include "board/sim/Journal.h"
#include "board/sim/SimBoard.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <poll.h>
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
    bool paced = false;        // asked for on the virtual clock
    uint64_t busyUntilUs = 0;  // when the last byte taken leaves the line (Clock::monotonicUs)
};

constexpr uint64_t WAKE_ROOM = 256;

// Microseconds one character takes on the line: start bit, data bits, parity, stop bits.
uint64_t charUs(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return 0;
    static const std::pair<speed_t, unsigned> rates[] = {{B115200, 115200}, {B57600, 57600}, {B38400, 38400}, {B19200, 19200},
                                                          {B9600, 9600},     {B4800, 4800},   {B2400, 2400},   {B1200, 1200},
                                                          {B300, 300}};
    unsigned rate = 0;
    for (const auto& r : rates)
        rate = ::cfgetospeed(&t) == r.first ? r.second : rate;
    if (rate == 0)
        return 0;   // a rate no UART here runs at: not paced
    const unsigned data = (t.c_cflag & CSIZE) == CS7 ? 7 : (t.c_cflag & CSIZE) == CS6 ? 6 : (t.c_cflag & CSIZE) == CS5 ? 5 : 8;
    const unsigned bits = 1 + data + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
    return (uint64_t(bits) * 1000000 + rate - 1) / rate;
}

std::mutex g_lock;
std::map<std::string, Port>& ports()
{
    static std::map<std::string, Port> p;
    return p;
}
Port* paced(int fd)
{
    for (auto& [path, port] : ports())
        if (port.master == fd)
            return port.paced || !SimBoard::virtualClock() ? &port : nullptr;
    return nullptr;
}

// Bytes still in the transmit buffer, and how long until one more fits.
uint64_t pendingBytes(const Port& p, uint64_t now, uint64_t perChar)
{
    return p.busyUntilUs > now && perChar ? (p.busyUntilUs - now + perChar - 1) / perChar : 0;
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

void SerialModel::setPaced(const std::string& devicePath, bool on)
{
    std::lock_guard<std::mutex> hold(g_lock);
    ports()[devicePath].paced = on;
}

void SerialModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    failing().clear();
    for (auto& [path, port] : ports()) {
        port.rts.clear();
        port.paced = false;
        port.busyUntilUs = 0;
    }
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
    port.busyUntilUs = 0;
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

long SerialPort::write(int fd, const void* data, size_t n)
{
    std::unique_lock<std::mutex> hold(sim::g_lock);
    sim::Port* line = sim::paced(fd);
    const uint64_t perChar = line ? sim::charUs(fd) : 0;
    if (!line || perChar == 0) {
        hold.unlock();
        return long(::write(fd, data, n));
    }
    const uint64_t now = Clock::monotonicUs();
    const uint64_t room = sim::SerialModel::TX_BUFFER - std::min<uint64_t>(sim::SerialModel::TX_BUFFER, sim::pendingBytes(*line, now, perChar));
    if (room == 0) {
        errno = EAGAIN;
        return -1;
    }
    const long taken = long(::write(fd, data, std::min<size_t>(n, room)));
    if (taken > 0)
        line->busyUntilUs = std::max(line->busyUntilUs, now) + uint64_t(taken) * perChar;
    return taken;
}

int SerialPort::waitRoom(int fd, int ms)
{
    std::unique_lock<std::mutex> hold(sim::g_lock);
    sim::Port* line = sim::paced(fd);
    const uint64_t perChar = line ? sim::charUs(fd) : 0;
    if (line && perChar) {
        const uint64_t now = Clock::monotonicUs();
        const uint64_t pending = sim::pendingBytes(*line, now, perChar);
        if (pending >= sim::SerialModel::TX_BUFFER) {
            // As a UART driver wakes a writer: once the buffer has room for WAKE_ROOM.
            const uint64_t us = std::min<uint64_t>(line->busyUntilUs - now - (sim::SerialModel::TX_BUFFER - sim::WAKE_ROOM) * perChar, uint64_t(ms) * 1000);
            hold.unlock();
            Clock::sleepUs(us);
            return int((us + 999) / 1000);
        }
    }
    hold.unlock();
    // The far end of the pseudo-terminal not reading: its buffer full, as a line held off.
    const auto start = std::chrono::steady_clock::now();
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, ms);
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

void SerialPort::drain(int fd)
{
    std::unique_lock<std::mutex> hold(sim::g_lock);
    sim::Port* line = sim::paced(fd);
    const uint64_t now = Clock::monotonicUs();
    const uint64_t left = line && line->busyUntilUs > now ? line->busyUntilUs - now : 0;
    hold.unlock();
    if (left)
        Clock::sleepUs(left);
    ::tcdrain(fd);
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
