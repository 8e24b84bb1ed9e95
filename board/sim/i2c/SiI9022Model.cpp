#include "board/sim/i2c/SiI9022Model.h"

#include "board/sim/SimBoard.h"

namespace sim {

namespace {
struct Registrar {
    Registrar()
    {
        I2cBusModel::attach(SiI9022Model::kAddrRead, &SiI9022Model::instance());
        I2cBusModel::attach(SiI9022Model::kAddrWrite, &SiI9022Model::instance());
        SiI9022Model::instance().reset();
        SimBoard::addResetHook([] { SiI9022Model::instance().reset(); });
    }
} g_registrar;
} // namespace

SiI9022Model& SiI9022Model::instance()
{
    static SiI9022Model m;
    return m;
}

bool SiI9022Model::write(const uint8_t* data, uint16_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!present_)
        return false;
    if (length == 0)
        return true;
    pointer_ = data[0];
    for (uint16_t i = 1; i < length; ++i)
        regs_[pointer_++] = data[i];
    return true;
}

bool SiI9022Model::read(uint8_t* data, uint16_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!present_)
        return false;
    for (uint16_t i = 0; i < length; ++i)
        data[i] = regs_[pointer_++];
    return true;
}

uint8_t SiI9022Model::reg(int r)
{
    std::lock_guard<std::mutex> hold(lock_);
    return regs_[r & 0xFF];
}

void SiI9022Model::setPresent(bool present)
{
    std::lock_guard<std::mutex> hold(lock_);
    present_ = present;
}

void SiI9022Model::reset()
{
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& r : regs_)
        r = 0;
    pointer_ = 0;
    present_ = true;
}

} // namespace sim
