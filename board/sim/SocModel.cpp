#include "board/sim/SocModel.h"

#include "board/SocWindow.h"
#include "board/sim/FakeDescriptors.h"
#include "board/sim/SimBoard.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace sim {

namespace {
// The store is allocated once and never moves: the application keeps pointers into it. It
// comes straight from the kernel as zero pages, so of its 2.7 MB only the few pages holding
// registers that were written become resident.
uint8_t* store()
{
    static uint8_t* const bytes = [] {
        void* p = ::mmap(nullptr, SocModel::kWindowLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            std::abort();
        return static_cast<uint8_t*>(p);
    }();
    return bytes;
}
std::atomic<bool> g_available{true};
// The model's lock: every access of the words by a model or a test, the reset and the
// pull-ups, so that a line the program drove is never overwritten by a model's late look.
std::mutex g_lock;
std::map<uint32_t, uint32_t> g_pulses;                     // offset -> low pulses
std::map<uint32_t, uint16_t>& pullUps()                    // offset -> level; models register at start-up
{
    static std::map<uint32_t, uint16_t> levels;
    return levels;
}

// The program's side reaches the words through its mapping, with single volatile loads and
// stores, as on the board's register window; the models' side stands for the hardware and
// is not a memory access of the program's, so the thread checker is not shown it. Bytes
// one at a time: a memory copy would be seen all the same.
__attribute__((no_sanitize("thread"))) uint16_t load16(uint32_t offset)
{
    const volatile uint8_t* at = store() + offset;
    return uint16_t(at[0] | at[1] << 8);
}

__attribute__((no_sanitize("thread"))) void store16(uint32_t offset, uint16_t value)
{
    volatile uint8_t* at = store() + offset;
    at[0] = uint8_t(value);
    at[1] = uint8_t(value >> 8);
}

void setUniqueIdLocked(uint16_t w0, uint16_t w1, uint16_t w2)
{
    store16(SocModel::kUniqueId0, w0);
    store16(SocModel::kUniqueId1, w1);
    store16(SocModel::kUniqueId2, w2);
}

// Read before the lock is taken: the scenario has a lock of its own.
std::array<uint16_t, 3> defaultUniqueId()
{
    return {uint16_t(SimBoard::scenarioInt("soc.uid0", 0x5a3c)), uint16_t(SimBoard::scenarioInt("soc.uid1", 0x1e07)),
            uint16_t(SimBoard::scenarioInt("soc.uid2", 0x00b4))};
}

struct Registrar {
    Registrar()
    {
        const std::array<uint16_t, 3> id = defaultUniqueId();
        std::lock_guard<std::mutex> hold(g_lock);
        setUniqueIdLocked(id[0], id[1], id[2]);
        SimBoard::addResetHook([] { SocModel::reset(); });
    }
} g_registrar;
} // namespace

uint16_t SocModel::read16(uint32_t offset)
{
    if (offset > kWindowLength - 2)          // written so that no sum can wrap
        return 0;
    std::lock_guard<std::mutex> hold(g_lock);
    return load16(offset);
}

void SocModel::write16(uint32_t offset, uint16_t value)
{
    if (offset > kWindowLength - 2)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    store16(offset, value);
}

void SocModel::pullUp(uint32_t offset, uint16_t level)
{
    if (offset > kWindowLength - 2)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    pullUps()[offset] = level;
    store16(offset, level);
}

volatile uint8_t* SocModel::base() { return store(); }
void SocModel::setAvailable(bool available) { g_available = available; }
bool SocModel::available() { return g_available; }

void SocModel::setUniqueId(uint16_t w0, uint16_t w1, uint16_t w2)
{
    std::lock_guard<std::mutex> hold(g_lock);
    setUniqueIdLocked(w0, w1, w2);
}

void SocModel::reset()
{
    const std::array<uint16_t, 3> id = defaultUniqueId();
    std::lock_guard<std::mutex> hold(g_lock);
    // Handing the pages back zeroes them without touching every one of them.
    if (::madvise(store(), kWindowLength, MADV_DONTNEED) != 0)
        std::memset(store(), 0, kWindowLength);
    // The board's pull-ups hold their lines from the reset on, before anyone drives them.
    for (const auto& [offset, level] : pullUps())
        store16(offset, level);
    g_available = true;
    setUniqueIdLocked(id[0], id[1], id[2]);
    g_pulses.clear();
}

void SocModel::pulseLow(uint32_t offset)
{
    std::lock_guard<std::mutex> hold(g_lock);
    ++g_pulses[offset];
}

uint32_t SocModel::lowPulses(uint32_t offset)
{
    std::lock_guard<std::mutex> hold(g_lock);
    const auto it = g_pulses.find(offset);
    return it == g_pulses.end() ? 0 : it->second;
}

} // namespace sim

namespace board {

int SocWindow::openRequestDevice()
{
    return sim::SocModel::available() ? sim::FakeDescriptors::open("msys", "/dev/msys") : -1;
}

int SocWindow::openMemory()
{
    return sim::SocModel::available() ? sim::FakeDescriptors::open("mem", "/dev/mem") : -1;
}

int SocWindow::memoryRequest(int requestFd, uint32_t record[5])
{
    std::string kind, path;
    if (!sim::FakeDescriptors::lookup(requestFd, kind, path) || kind != "msys")
        return -1;
    // The device takes only a record that names itself: magic word and the record's length.
    if (record[0] != sim::SocModel::kRequestMagic || record[4] != sim::SocModel::kRequestLength)
        return -1;
    record[1] = sim::SocModel::kWindowBase;
    record[3] = sim::SocModel::kWindowLength;
    return 0;
}

volatile uint8_t* SocWindow::map(int memFd, uint32_t physical, uint32_t length)
{
    std::string kind, path;
    if (!sim::FakeDescriptors::lookup(memFd, kind, path) || kind != "mem")
        return nullptr;
    if (physical < sim::SocModel::kWindowBase ||
        physical - sim::SocModel::kWindowBase > sim::SocModel::kWindowLength ||
        length > sim::SocModel::kWindowLength - (physical - sim::SocModel::kWindowBase))
        return nullptr;
    return sim::SocModel::base() + (physical - sim::SocModel::kWindowBase);
}

void SocWindow::unmap(volatile uint8_t*, uint32_t) {}

void SocWindow::close(int fd)
{
    sim::FakeDescriptors::close(fd);
}

} // namespace board
