#include "board/Board.h"
#include "board/Console.h"
#include "board/Files.h"
#include "board/InstanceLock.h"
#include "board/Network.h"
#include "board/Shell.h"

#include <arpa/inet.h>
#include <cstdio>
#include <unistd.h>

namespace board {

// The board's own memory-request device: without it this is not the board, and a board
// binary must not go on to touch devices of whatever machine it was started on.
bool start()
{
    if (::access("/dev/msys", F_OK) != 0) {
        Console::warn("board: /dev/msys is missing; this is not the board, refusing to start\n");
        return false;
    }
    int holder = 0;
    if (!InstanceLock::take("/data/.kelM57N.lock", holder)) {
        Console::warn("kelM57N: /data is in use by process %d; not starting\n", holder);
        return false;
    }
    return true;
}

const char* backendName() { return "linux"; }

std::string Files::map(const std::string& systemPath) { return systemPath; }
uint64_t Files::spaceLimit(const std::string&) { return UINT64_MAX; }
int Files::stepFault() { return 0; }
int Files::modeError(const std::string&) { return 0; }

in_addr_t Network::bindAddress() { return htonl(INADDR_ANY); }
in_addr_t Network::destination(in_addr_t address) { return address; }
uint16_t Network::listenPort(uint16_t port) { return port; }

std::string Network::interfaceValue(const std::string& name, IfValue what)
{
    // Interface names are the program's own; nothing from outside reaches the command.
    if (name != "eth0" && name != "wlan0" && name != "wlan1")
        return std::string();
    std::string cmd;
    switch (what) {
    case IfValue::Address: cmd = "ifconfig " + name + " | grep 'inet addr' | awk '{print $2}' | cut -d: -f2"; break;
    case IfValue::Mask: cmd = "ifconfig " + name + " | grep Mask | awk '{print $4}' | cut -d: -f2"; break;
    case IfValue::Gateway: cmd = "route -n | grep " + name + " | grep UG | awk '{print $2}'"; break;
    case IfValue::Mac: cmd = "ifconfig " + name + " | grep HWaddr | awk '{print $5}'"; break;
    }
    std::string out = Shell::read(cmd, 100);
    size_t end = out.find_first_of("\r\n");
    return end == std::string::npos ? out : out.substr(0, end);
}

} // namespace board
