#include "board/sim/KeypadModel.h"

#include "board/Keypad.h"
#include "board/sim/SimBoard.h"

#include <mutex>

namespace sim {

namespace {
std::mutex g_lock;
int g_present = -1;            // -1: take it from the scenario
bool g_writeFails = false;
std::vector<std::vector<uint8_t>>& written()
{
    static std::vector<std::vector<uint8_t>> w;
    return w;
}
struct Registrar {
    Registrar() { SimBoard::addResetHook([] { KeypadModel::reset(); }); }
} g_registrar;
} // namespace

void KeypadModel::setPresent(bool present)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_present = present ? 1 : 0;
}

void KeypadModel::setWriteFails(bool fails)
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_writeFails = fails;
}

std::vector<std::vector<uint8_t>> KeypadModel::reports()
{
    std::lock_guard<std::mutex> hold(g_lock);
    return written();
}

void KeypadModel::reset()
{
    std::lock_guard<std::mutex> hold(g_lock);
    g_present = -1;
    g_writeFails = false;
    written().clear();
}

} // namespace sim

namespace board {

static bool keypadPresent()
{
    if (sim::g_present >= 0)
        return sim::g_present == 1;
    return sim::SimBoard::scenarioInt("keypad.present", 0) != 0;
}

bool Keypad::present(uint16_t vendorId, uint16_t productId)
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    return vendorId == 0x28E9 && productId == 0x0380 && keypadPresent();
}

int Keypad::writeReport(uint16_t vendorId, uint16_t productId, const uint8_t* report, size_t length)
{
    std::lock_guard<std::mutex> hold(sim::g_lock);
    if (vendorId != 0x28E9 || productId != 0x0380 || !keypadPresent() || sim::g_writeFails || !report)
        return -1;
    if (sim::SimBoard::recording())            // a record for tests; a host run keeps none
        sim::written().emplace_back(report, report + length);
    return int(length);
}

} // namespace board
