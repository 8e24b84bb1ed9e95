#include "board/sim/MtdModel.h"

#include "board/Files.h"
#include "board/MtdDevice.h"
#include "board/sim/FakeDescriptors.h"
#include "board/sim/Journal.h"
#include "board/sim/PowerCut.h"
#include "board/sim/SimBoard.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

namespace sim {

namespace {
struct Partition {
    board::MtdInfo info{8u << 20, 64u << 10, 2048};
    bool infoFails = false;
    bool unlockRefused = false;
    bool eraseRefused = false;
    int erases = 0;
    int writes = 0;
};

std::mutex g_lock;
std::map<std::string, Partition>& partitions()
{
    static std::map<std::string, Partition> p;
    return p;
}

Partition& partition(const std::string& path) { return partitions()[path]; }

// Makes sure the backing file exists at its full size, erased.
void ensureBacking(const std::string& path, const Partition& p)
{
    std::string file = MtdModel::backingFile(path);
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f) {
        std::fclose(f);
        return;
    }
    board::Files::makeDirs("/dev");
    std::ofstream out(file, std::ios::binary);
    std::vector<char> blank(64 * 1024, char(0xFF));
    for (uint32_t done = 0; done < p.info.size; done += uint32_t(blank.size()))
        out.write(blank.data(), std::streamsize(std::min<uint32_t>(uint32_t(blank.size()), p.info.size - done)));
}

bool pathOf(int fd, std::string& path)
{
    std::string kind;
    return FakeDescriptors::lookup(fd, kind, path) && kind == "mtd";
}

// The armed stop, under its own lock: a step stopped there holds neither g_lock nor anything
// else of the model's.
struct Pause {
    std::mutex lock;
    std::condition_variable changed;
    std::string path;
    MtdModel::Step kind = MtdModel::Step::Erase;
    int left = 0;          // steps of that kind until the stop; 0 nothing armed
    bool stopped = false;  // a step waits at the stop
} g_pause;

// Called by each erase and write before it changes anything.
void stopPoint(const std::string& path, MtdModel::Step kind)
{
    std::unique_lock<std::mutex> hold(g_pause.lock);
    if (g_pause.left == 0 || g_pause.path != path || g_pause.kind != kind || --g_pause.left > 0)
        return;
    g_pause.stopped = true;
    g_pause.changed.notify_all();
    g_pause.changed.wait(hold, [] { return !g_pause.stopped; });
}

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { MtdModel::reset(); }); }
} g_registrar;
} // namespace

void MtdModel::configure(const std::string& path, uint32_t size, uint32_t eraseSize, uint32_t writeSize)
{
    std::lock_guard<std::mutex> hold(g_lock);
    Partition& p = partition(path);
    p.info.size = size;
    p.info.eraseSize = eraseSize;
    p.info.writeSize = writeSize;
}

void MtdModel::setInfoFails(const std::string& path, bool fails)
{
    std::lock_guard<std::mutex> hold(g_lock);
    partition(path).infoFails = fails;
}

void MtdModel::setUnlockRefused(const std::string& path, bool refused)
{
    std::lock_guard<std::mutex> hold(g_lock);
    partition(path).unlockRefused = refused;
}

void MtdModel::setEraseRefused(const std::string& path, bool refused)
{
    std::lock_guard<std::mutex> hold(g_lock);
    partition(path).eraseRefused = refused;
}

std::string MtdModel::backingFile(const std::string& path)
{
    return board::Files::map(path + ".bin");
}

int MtdModel::eraseCount(const std::string& path)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return partition(path).erases;
}

int MtdModel::writeCount(const std::string& path)
{
    std::lock_guard<std::mutex> hold(g_lock);
    return partition(path).writes;
}

void MtdModel::pauseAt(const std::string& path, Step kind, int count)
{
    std::lock_guard<std::mutex> hold(g_pause.lock);
    g_pause.path = path;
    g_pause.kind = kind;
    g_pause.left = std::max(count, 0);
}

bool MtdModel::waitPaused()
{
    std::unique_lock<std::mutex> hold(g_pause.lock);
    g_pause.changed.wait(hold, [] { return g_pause.stopped || g_pause.left == 0; });
    return g_pause.stopped;
}

void MtdModel::resume()
{
    std::lock_guard<std::mutex> hold(g_pause.lock);
    g_pause.left = 0;
    g_pause.stopped = false;
    g_pause.changed.notify_all();
}

void MtdModel::reset()
{
    resume();
    std::lock_guard<std::mutex> hold(g_lock);
    partitions().clear();
}

} // namespace sim

namespace board {

int MtdDevice::open(const char* path)
{
    std::string p = path ? path : "";
    if (p.compare(0, 8, "/dev/mtd") != 0)
        return -1;
    return sim::FakeDescriptors::open("mtd", p);
}

int MtdDevice::getInfo(int fd, MtdInfo& info)
{
    std::string path;
    if (!sim::pathOf(fd, path))
        return -1;
    std::lock_guard<std::mutex> hold(sim::g_lock);
    const sim::Partition& p = sim::partition(path);
    if (p.infoFails)
        return -1;
    info = p.info;
    return 0;
}

int MtdDevice::unlock(int fd, uint32_t start, uint32_t length)
{
    std::string path;
    if (!sim::pathOf(fd, path))
        return -1;
    std::lock_guard<std::mutex> hold(sim::g_lock);
    const sim::Partition& p = sim::partition(path);
    if (p.unlockRefused || start > p.info.size || length > p.info.size - start)
        return -1;
    return 0;
}

int MtdDevice::erase(int fd, uint32_t start, uint32_t length)
{
    std::string path;
    if (!sim::pathOf(fd, path))
        return -1;
    sim::stopPoint(path, sim::MtdModel::Step::Erase);
    std::lock_guard<std::mutex> hold(sim::g_lock);
    sim::Partition& p = sim::partition(path);
    sim::Journal::record("mtd", "erase " + path + " " + std::to_string(start) + " " + std::to_string(length));
    if (p.eraseRefused || p.info.eraseSize == 0 || start % p.info.eraseSize || length % p.info.eraseSize ||
        start > p.info.size || length > p.info.size - start)
        return -1;
    ++p.erases;
    if (!sim::PowerCut::step())
        return 0;                                           // the supply failed: nothing erased
    sim::ensureBacking(path, p);
    std::fstream f(sim::MtdModel::backingFile(path), std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> blank(length, char(0xFF));
    f.seekp(start);
    f.write(blank.data(), std::streamsize(length));
    return f ? 0 : -1;
}

ssize_t MtdDevice::writeAt(int fd, const uint8_t* data, size_t length, off_t offset)
{
    std::string path;
    if (!sim::pathOf(fd, path) || offset < 0)
        return -1;
    sim::stopPoint(path, sim::MtdModel::Step::Write);
    std::lock_guard<std::mutex> hold(sim::g_lock);
    sim::Partition& p = sim::partition(path);
    if (uint64_t(offset) > p.info.size || length > p.info.size - uint64_t(offset))
        return -1;
    ++p.writes;
    if (!sim::PowerCut::step())
        return ssize_t(length);
    sim::ensureBacking(path, p);
    std::fstream f(sim::MtdModel::backingFile(path), std::ios::in | std::ios::out | std::ios::binary);
    std::vector<char> old(length);
    f.seekg(offset);
    f.read(old.data(), std::streamsize(length));
    for (size_t i = 0; i < length; ++i)
        old[i] = char(uint8_t(old[i]) & data[i]);           // programming only clears bits
    f.seekp(offset);
    f.write(old.data(), std::streamsize(length));
    return f ? ssize_t(length) : -1;
}

ssize_t MtdDevice::readAt(int fd, uint8_t* data, size_t length, off_t offset)
{
    std::string path;
    if (!sim::pathOf(fd, path) || offset < 0)
        return -1;
    std::lock_guard<std::mutex> hold(sim::g_lock);
    sim::Partition& p = sim::partition(path);
    if (uint64_t(offset) > p.info.size)
        return -1;
    length = std::min<uint64_t>(length, p.info.size - uint64_t(offset));
    sim::ensureBacking(path, p);
    std::ifstream f(sim::MtdModel::backingFile(path), std::ios::binary);
    f.seekg(offset);
    f.read(reinterpret_cast<char*>(data), std::streamsize(length));
    return ssize_t(f.gcount());
}

void MtdDevice::close(int fd)
{
    sim::FakeDescriptors::close(fd);
}

} // namespace board
