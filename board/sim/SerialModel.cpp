#include "board/sim/SerialModel.h"

#include "board/Files.h"
#include "board/SerialPort.h"
#include "board/sim/Journal.h"
#include "board/sim/SimBoard.h"

#include <fcntl.h>
#include <fstream>
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
    std::ofstream(Files::map(path + ".peer")) << name << "\n";
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
