#include "board/sim/FunctionCardModel.h"

#include "board/sim/SimBoard.h"

#include <mutex>
#include <string>

namespace sim {

namespace {

constexpr int kPorts = 16;

struct Slot {
    FunctionCard card;
    bool configured = false;
};

std::mutex g_lock;
Slot g_slots[2][kPorts];

bool validPort(int fpga, int port) { return (fpga == 0 || fpga == 1) && port >= 0 && port < kPorts; }

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The scenario's settings of one card, read at its first use after a reset.
FunctionCard& cardOf(int fpga, int port)
{
    Slot& s = g_slots[fpga][port];
    if (!s.configured) {
        s.configured = true;
        const std::string key = std::string(fpga ? "fpga1" : "fpga") + ".funccard.port" + std::to_string(port);
        s.card.ram0[FunctionCardModel::kPowerEnableByte] = uint8_t(SimBoard::scenarioInt(key + ".power", 0));
        const long light = SimBoard::scenarioInt(key + ".light", -1);
        if (light >= 0) {
            s.card.sensor[FunctionCardModel::kSensorValidByte] = 255;
            s.card.sensor[FunctionCardModel::kSensorValueByte] = uint8_t(light);
        }
    }
    return s.card;
}

} // namespace

bool FunctionCardModel::addressed(const uint8_t* packet, size_t length)
{
    return packet && length >= 2 && (le16(packet) & 0x4000) != 0;
}

std::vector<uint8_t> FunctionCardModel::execute(int fpga, int port, const uint8_t* packet, size_t length)
{
    std::vector<uint8_t> out{0};           // byte 10: done
    if (!validPort(fpga, port) || !packet || length < 11)
        return out;
    std::lock_guard<std::mutex> hold(g_lock);
    FunctionCard& card = cardOf(fpga, port);
    const uint8_t* payload = packet + 10;
    const size_t n = length - 11;
    switch (packet[9]) {
    case 0x61:
        if (n >= 6) {
            const uint32_t address = le32(payload);
            const size_t count = le16(payload + 4);
            for (size_t i = 0; i < count && out.size() < 1000; ++i) {
                const uint32_t a = uint32_t(address + i);
                uint8_t v = 0xFF;
                if (a < card.ram0.size())
                    v = card.ram0[a];
                else if (a >= kSensorAddress && a - kSensorAddress < card.sensor.size())
                    v = card.sensor[a - kSensorAddress];
                out.push_back(v);
            }
        }
        break;
    case 0xA0:
        for (size_t i = 0; i + 4 <= n; i += 4) {
            uint8_t& r = card.regs[payload[i]];
            r = uint8_t((r & ~payload[i + 1]) | (payload[i + 3] & payload[i + 1]));
        }
        if (SimBoard::recording())
            card.registerWrites.emplace_back(payload, payload + n);
        break;
    default:
        break;
    }
    return out;
}

void FunctionCardModel::setRam0(int fpga, int port, size_t address, const std::vector<uint8_t>& bytes)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    FunctionCard& card = cardOf(fpga, port);
    for (size_t i = 0; i < bytes.size() && address + i < card.ram0.size(); ++i)
        card.ram0[address + i] = bytes[i];
}

void FunctionCardModel::setLightSensor(int fpga, int port, bool valid, uint8_t suggested)
{
    if (!validPort(fpga, port))
        return;
    std::lock_guard<std::mutex> hold(g_lock);
    FunctionCard& card = cardOf(fpga, port);
    card.sensor[kSensorValidByte] = valid ? 255 : 0;
    card.sensor[kSensorValueByte] = suggested;
}

FunctionCard FunctionCardModel::card(int fpga, int port)
{
    if (!validPort(fpga, port))
        return FunctionCard();
    std::lock_guard<std::mutex> hold(g_lock);
    return cardOf(fpga, port);
}

void FunctionCardModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    for (auto& fpga : g_slots)
        for (auto& slot : fpga)
            slot = Slot();
}

namespace {
struct Registrar {
    Registrar() { SimBoard::addResetHook([] { FunctionCardModel::reset(); }); }
} g_registrar;
} // namespace

} // namespace sim
