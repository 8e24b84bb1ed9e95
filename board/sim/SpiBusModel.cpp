#include "board/sim/SpiBusModel.h"

#include "board/SpiDevice.h"
#include "board/sim/FakeDescriptors.h"
#include "board/sim/SimBoard.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace sim {

namespace {
constexpr int kChipSelects = 5;
constexpr size_t kLogLimit = 200000;   // records kept; the oldest half goes when it is full

std::mutex g_lock;                     // one message at a time, like the real bus
SpiModel* g_models[kChipSelects] = {};
SpiBusModel::Fault g_faults[kChipSelects] = {};
SpiBusModel::Settings g_settings[kChipSelects];
bool g_logging = true;
// Open descriptors and their chip selects: the managers move thousands of messages a second
// and each would otherwise look its descriptor up among all the simulated ones.
std::vector<std::pair<int, int>> g_open;
int chipSelectOfOpen(int fd)
{
    for (const auto& o : g_open)
        if (o.first == fd)
            return o.second;
    return -1;
}
std::vector<SpiRecord>& records()
{
    static std::vector<SpiRecord> r;
    return r;
}

int chipSelectOf(const std::string& path)
{
    static const std::string prefix = "/dev/spidev32766.";
    if (path.compare(0, prefix.size(), prefix) != 0 || path.size() != prefix.size() + 1)
        return -1;
    int cs = path.back() - '0';
    return (cs >= 0 && cs < kChipSelects) ? cs : -1;
}

// Bytes as a part sees them when the bus clocks in the wrong mode: sampled one edge late,
// so every bit lands one place further on.
void outOfStep(uint8_t* bytes, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = uint8_t(bytes[i] << 1 | (i + 1 < length ? bytes[i + 1] >> 7 : 1));
}

struct Registrar {
    Registrar() { SimBoard::addResetHook([] { SpiBusModel::reset(); }); }
} g_registrar;
} // namespace

void SpiBusModel::attach(int chipSelect, SpiModel* model)
{
    if (chipSelect < 0 || chipSelect >= kChipSelects)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    g_models[chipSelect] = model;
}

void SpiBusModel::detach(int chipSelect) { attach(chipSelect, nullptr); }

SpiModel* SpiBusModel::model(int chipSelect)
{
    if (chipSelect < 0 || chipSelect >= kChipSelects)
        return nullptr;
    std::lock_guard<std::mutex> hold(g_lock);
    return g_models[chipSelect];
}

void SpiBusModel::setFault(int chipSelect, Fault fault)
{
    if (chipSelect < 0 || chipSelect >= kChipSelects)
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    g_faults[chipSelect] = fault;
}

SpiBusModel::Fault SpiBusModel::fault(int chipSelect)
{
    if (chipSelect < 0 || chipSelect >= kChipSelects)
        return Fault::Absent;
    std::lock_guard<std::mutex> hold(g_lock);
    return g_faults[chipSelect];
}

std::vector<SpiRecord> SpiBusModel::log()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return records();
}

void SpiBusModel::clearLog()
{
    std::lock_guard<std::mutex> hold(g_lock);
    records().clear();
}

void SpiBusModel::setLogging(bool on)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_logging = on;
}

SpiBusModel::Settings SpiBusModel::settings(int chipSelect)
{
    if (chipSelect < 0 || chipSelect >= kChipSelects)
        return {};
    std::lock_guard<std::mutex> hold(g_lock);
    return g_settings[chipSelect];
}

void SpiBusModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (auto& f : g_faults)
        f = Fault::None;
    for (auto& s : g_settings)
        s = Settings();
    records().clear();
    g_logging = true;
}

} // namespace sim

namespace board {

int SpiDevice::open(const char* path)
{
    int cs = sim::chipSelectOf(path ? path : "");
    if (cs < 0 || sim::SpiBusModel::fault(cs) == sim::SpiBusModel::Fault::Absent)
        return -1;
    const int fd = sim::FakeDescriptors::open("spi", path);
    if (fd >= 0) {
        std::lock_guard<std::mutex> hold(sim::g_lock);
        sim::g_open.emplace_back(fd, cs);
    }
    return fd;
}

int SpiDevice::configure(int fd, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz)
{
    std::string kind, path;
    if (!sim::FakeDescriptors::lookup(fd, kind, path) || kind != "spi")
        return -1;
    if (mode > 3 || bitsPerWord == 0 || bitsPerWord > 32 || speedHz == 0)
        return -1;                                     // the controller refuses these
    const int cs = sim::chipSelectOf(path);
    std::lock_guard<std::mutex> hold(sim::g_lock);
    if (sim::g_faults[cs] == sim::SpiBusModel::Fault::SettingsRefused)
        return -1;
    sim::g_settings[cs] = {mode, bitsPerWord, speedHz};
    return 0;
}

int SpiDevice::transfer(int fd, const SpiTransfer* segments, unsigned count)
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    const int cs = sim::chipSelectOfOpen(fd);
    if (cs < 0)
        return -1;
    if (sim::g_faults[cs] == sim::SpiBusModel::Fault::Absent || sim::g_faults[cs] == sim::SpiBusModel::Fault::TransferFails)
        return -1;
    sim::SpiModel* model = sim::g_models[cs];
    const sim::SpiBusModel::Settings& device = sim::g_settings[cs];
    const bool logging = sim::g_logging && sim::SimBoard::recording();
    sim::SpiRecord record;
    record.chipSelect = cs;
    int total = 0;
    // Kept between calls (under the bus lock): a host run moves a few bytes many times a
    // second and need not allocate for each.
    static std::vector<uint8_t> tx, rx;
    for (unsigned i = 0; i < count; ++i) {
        const SpiTransfer& t = segments[i];
        tx.assign(t.length, 0);
        rx.assign(t.length, 0xFF);                        // an undriven line reads high
        if (t.tx && t.length)
            std::memcpy(tx.data(), t.tx, t.length);
        // A segment asks for its own speed and word size or takes the device's; it never
        // runs faster than the device's maximum.
        const uint32_t speed = (t.speedHz && t.speedHz < device.maxSpeedHz) ? t.speedHz : device.maxSpeedHz;
        const uint8_t bits = t.bitsPerWord ? t.bitsPerWord : device.bitsPerWord;
        if (model && t.length) {
            if (device.mode == model->spiMode() && bits == 8) {
                model->transfer(tx.data(), rx.data(), t.length, speed);
            } else {
                std::vector<uint8_t> seen(tx);
                sim::outOfStep(seen.data(), t.length);
                model->transfer(seen.data(), rx.data(), t.length, speed);
                sim::outOfStep(rx.data(), t.length);
            }
        }
        if (t.rx && t.length)
            std::memcpy(t.rx, rx.data(), t.length);
        if (logging) {
            record.tx.insert(record.tx.end(), tx.begin(), tx.end());
            record.rx.insert(record.rx.end(), rx.begin(), rx.end());
            record.speedHz = speed;
        }
        total += int(t.length);
    }
    if (model)
        model->endMessage();
    if (logging) {
        auto& log = sim::records();
        if (log.size() >= sim::kLogLimit)
            log.erase(log.begin(), log.begin() + sim::kLogLimit / 2);
        log.push_back(std::move(record));
    }
    return total;
}

void SpiDevice::close(int fd)
{
    {
        std::lock_guard<std::mutex> hold(sim::g_lock);
        for (auto it = sim::g_open.begin(); it != sim::g_open.end(); ++it)
            if (it->first == fd) {
                sim::g_open.erase(it);
                break;
            }
    }
    sim::FakeDescriptors::close(fd);
}

} // namespace board
