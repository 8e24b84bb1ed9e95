#include "board/sim/FakeDescriptors.h"

#include <map>
#include <mutex>

namespace sim {

namespace {
std::mutex g_lock;
int g_next = 0x40000000;
std::map<int, std::pair<std::string, std::string>> g_open;
} // namespace

int FakeDescriptors::open(const std::string& kind, const std::string& path)
{
    std::lock_guard<std::mutex> hold(g_lock);
    int fd = g_next++;
    g_open[fd] = {kind, path};
    return fd;
}

bool FakeDescriptors::lookup(int fd, std::string& kind, std::string& path)
{
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_open.find(fd);
    if (it == g_open.end())
        return false;
    kind = it->second.first;
    path = it->second.second;
    return true;
}

bool FakeDescriptors::is(int fd, const char* kind)
{
    std::lock_guard<std::mutex> hold(g_lock);
    auto it = g_open.find(fd);
    return it != g_open.end() && it->second.first == kind;
}

void FakeDescriptors::close(int fd)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_open.erase(fd);
}

} // namespace sim
