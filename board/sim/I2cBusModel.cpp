#include "board/sim/I2cBusModel.h"

#include "board/I2cBus.h"
#include "board/sim/FakeDescriptors.h"
#include "board/sim/SimBoard.h"

#include <atomic>
#include <mutex>

namespace sim {

namespace {
// Counts changes of what answers where (attach, absence, a switch's channels): which device
// an address reaches is kept per address until it moves.
std::atomic<uint64_t> g_topology{1};
} // namespace

bool I2cSwitchModel::write(const uint8_t* data, uint16_t length)
{
    if (length >= 1)
        setChannels(data[length - 1]);
    return true;
}

void I2cSwitchModel::setChannels(uint8_t channels)
{
    if (channels != channels_) {
        channels_ = channels;
        ++g_topology;
    }
}

bool I2cSwitchModel::read(uint8_t* data, uint16_t length)
{
    for (uint16_t i = 0; i < length; ++i)
        data[i] = channels_;
    return true;
}

namespace {
struct Attached {
    uint8_t address8;
    I2cModel* model;
    uint8_t switchAddress8;
    uint8_t channelMask;
    I2cSwitchModel* asSwitch;   // the model when it is a switch, found once at attach
};

std::mutex g_lock;
// The devices by address, in the order they were attached (the first visible one answers).
// The input side moves thousands of transfers a second; each looks at the few devices at its
// address instead of all of them.
std::vector<Attached>& at(uint8_t address8)
{
    static std::vector<Attached> d[128];
    return d[address8 >> 1];
}
bool g_absent[128] = {};
bool absent(uint8_t address8) { return g_absent[address8 >> 1]; }
std::vector<I2cRecord>& records()
{
    static std::vector<I2cRecord> r;
    return r;
}
int g_nakIn = 0;
I2cBusModel::Drop g_drop;
int g_dropped = 0;
I2cBusModel::FaultHook g_hook;
constexpr size_t kLogLimit = 200000;

bool visible(const Attached& a, int depth = 0)
{
    if (a.switchAddress8 == 0)
        return true;
    if (depth > 4 || absent(a.switchAddress8))
        return false;
    for (const auto& s : at(a.switchAddress8))
        if (s.asSwitch && (s.asSwitch->channels() & a.channelMask) && visible(s, depth + 1))
            return true;
    return false;
}

I2cModel* resolve(uint8_t address8)
{
    if (absent(address8))
        return nullptr;
    for (const auto& a : at(address8))
        if (visible(a))
            return a.model;
    return nullptr;
}

// The input side addresses one receiver a dozen times between two switch writes.
struct Resolved {
    uint64_t topology = 0;
    I2cModel* model = nullptr;
};
Resolved g_resolved[128];

I2cModel* find(uint8_t address8)
{
    Resolved& r = g_resolved[address8 >> 1];
    const uint64_t topology = g_topology;
    if (r.topology != topology) {
        r.model = resolve(address8);
        r.topology = topology;
    }
    return r.model;
}

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { I2cBusModel::reset(); }); }
} g_registrar;
} // namespace

void I2cBusModel::attach(uint8_t address8, I2cModel* model, uint8_t switchAddress8, uint8_t channelMask)
{
    std::lock_guard<std::mutex> hold(g_lock);
    at(address8).push_back({uint8_t(address8 & 0xFE), model, uint8_t(switchAddress8 & 0xFE), channelMask,
                            dynamic_cast<I2cSwitchModel*>(model)});
    ++g_topology;
}

void I2cBusModel::detachAll()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (int a = 0; a < 256; a += 2)
        at(uint8_t(a)).clear();
    ++g_topology;
}

void I2cBusModel::setAbsent(uint8_t address8, bool isAbsent)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_absent[address8 >> 1] = isAbsent;
    ++g_topology;
}

void I2cBusModel::nakTransferNumber(int n)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_nakIn = n;
}

void I2cBusModel::drop(const Drop& d)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_drop = d;
    g_dropped = 0;
}

void I2cBusModel::setFaultHook(FaultHook hook)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_hook = std::move(hook);
}

int I2cBusModel::dropped()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return g_dropped;
}

std::vector<I2cRecord> I2cBusModel::log()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return records();
}

void I2cBusModel::clearLog()
{
    std::lock_guard<std::mutex> hold(g_lock);
    records().clear();
}

void I2cBusModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (bool& a : g_absent)
        a = false;
    ++g_topology;
    records().clear();
    g_nakIn = 0;
    g_drop = Drop();
    g_dropped = 0;
    g_hook = nullptr;
    for (int address = 0; address < 256; address += 2)
        for (auto& a : at(uint8_t(address)))
            if (a.asSwitch)
                a.asSwitch->setChannels(0);
}

} // namespace sim

namespace board {

// The descriptor last opened: the input side moves thousands of transfers a second over it,
// and each would otherwise look it up among all the simulated descriptors.
static std::atomic<int> g_openFd{-1};

int I2cBus::open(const char* path)
{
    if (!path || std::string(path) != "/dev/i2c-0")
        return -1;
    const int fd = sim::FakeDescriptors::open("i2c", path);
    g_openFd = fd;
    return fd;
}

int I2cBus::transfer(int fd, I2cMessage* messages, unsigned count)
{
    if (!messages || (fd != g_openFd.load() && !sim::FakeDescriptors::is(fd, "i2c")))
        return -1;
    std::lock_guard<std::mutex> hold(sim::g_lock);
    // Host runs record nothing: the record is built only when a test keeps the log.
    const bool recording = sim::SimBoard::recording();
    bool nak = false;
    if (sim::g_nakIn > 0 && --sim::g_nakIn == 0)
        nak = true;
    bool reads = false;
    for (unsigned i = 0; i < count; ++i)
        reads = reads || messages[i].read;
    sim::I2cBusModel::Drop& drop = sim::g_drop;
    if (drop.run > 0 && count && (reads ? drop.reads : drop.writes) && (!drop.on || drop.on(uint8_t(messages[0].address << 1), messages[0].data, messages[0].length))) {
        if (drop.after > 0) {
            --drop.after;
        } else {
            --drop.run;
            ++sim::g_dropped;
            nak = true;
        }
    }
    if (sim::g_hook && count && sim::g_hook(uint8_t(messages[0].address << 1), reads, messages[0].data, messages[0].length))
        nak = true;
    sim::I2cModel* last = nullptr;
    bool ok = !nak;
    for (unsigned i = 0; i < count && ok; ++i) {
        I2cMessage& m = messages[i];
        uint8_t address8 = uint8_t(m.address << 1);
        sim::I2cModel* dev = sim::find(address8);
        sim::I2cRecord rec;
        rec.address8 = address8;
        rec.read = m.read;
        if (!dev) {
            ok = false;
        } else if (m.read) {
            for (uint16_t k = 0; k < m.length; ++k)
                m.data[k] = 0xFF;
            ok = dev->read(m.data, m.length);
            if (recording)
                rec.data.assign(m.data, m.data + m.length);
        } else {
            if (recording)
                rec.data.assign(m.data, m.data + m.length);
            ok = dev->write(m.data, m.length);
        }
        rec.acked = ok;
        if (recording) {
            auto& log = sim::records();
            if (log.size() >= sim::kLogLimit)
                log.erase(log.begin(), log.begin() + sim::kLogLimit / 2);
            log.push_back(std::move(rec));
        }
        if (last && last != dev)
            last->stop();
        last = dev;
    }
    if (last)
        last->stop();
    if (nak && recording) {
        sim::I2cRecord rec;
        rec.address8 = count ? uint8_t(messages[0].address << 1) : 0;
        rec.acked = false;
        sim::records().push_back(rec);
    }
    return ok ? int(count) : -1;
}

void I2cBus::close(int fd)
{
    int open = fd;
    g_openFd.compare_exchange_strong(open, -1);
    sim::FakeDescriptors::close(fd);
}

} // namespace board
