#include "board/sim/i2c/It66121Model.h"

#include "board/sim/SimBoard.h"

namespace sim {

namespace {
struct Registrar {
    Registrar()
    {
        I2cBusModel::attach(It66121Model::kAddress, &It66121Model::instance());
        It66121Model::instance().reset();
        SimBoard::addResetHook([] { It66121Model::instance().reset(); });
    }
} g_registrar;
} // namespace

It66121Model& It66121Model::instance()
{
    static It66121Model m;
    return m;
}

uint8_t& It66121Model::at(int r)
{
    r &= 0xFF;
    return r < 0x30 ? regs_[0][r] : regs_[regs_[0][0x0F] & 1][r];
}

void It66121Model::store(uint8_t r, uint8_t v)
{
    switch (r) {
    case 0x00:
    case 0x01:
    case 0x16:
    case 0x17:
        return;   // identification, DDC status and FIFO are read-only
    case 0x0E:
        regs_[0][0x0E] = uint8_t(v & 0x1F);
        if (v & 0x01) {
            regs_[0][0x06] = 0;
            regs_[0][0x07] = 0;
        }
        return;
    case 0x15:
        regs_[0][0x15] = v;
        if (v == 0x09) {
            fifo_.clear();
            fifoPos_ = 0;
        } else if (v == 0x03 && !hang_ && !ddcError_ && regs_[0][0x11] == 0xA0) {
            const uint8_t seg = regs_[0][0x14], off = regs_[0][0x12], n = regs_[0][0x13];
            reads_.push_back({seg, off, n});
            for (unsigned i = 0; i < n; ++i) {
                const size_t a = size_t(seg) * 256 + off + i;
                fifo_.push_back(sink_ && a < edid_.size() ? edid_[a] : 0xFF);
            }
        }
        return;
    default:
        at(r) = v;
    }
}

uint8_t It66121Model::load(uint8_t r)
{
    switch (r) {
    case 0x00: return 0x54;
    case 0x01: return 0x49;
    case 0x0E: {
        uint8_t v = regs_[0][0x0E] & 0x1F;
        if (sink_)
            v |= 0x40;
        if (regs_[0][0x06] || regs_[0][0x07])
            v |= 0x80;
        return v;
    }
    case 0x16:
        if (hang_)
            return 0;
        return uint8_t(0x80 | ddcError_);
    case 0x17:
        return fifoPos_ < fifo_.size() ? fifo_[fifoPos_++] : 0;
    default:
        return at(r);
    }
}

bool It66121Model::write(const uint8_t* data, uint16_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!present_)
        return false;
    if (length == 0)
        return true;
    pointer_ = data[0];
    for (uint16_t i = 1; i < length; ++i)
        store(pointer_++, data[i]);
    return true;
}

bool It66121Model::read(uint8_t* data, uint16_t length)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (!present_)
        return false;
    for (uint16_t i = 0; i < length; ++i)
        data[i] = load(pointer_++);
    return true;
}

uint8_t It66121Model::reg(int bank, int r)
{
    std::lock_guard<std::mutex> hold(lock_);
    r &= 0xFF;
    return regs_[r < 0x30 ? 0 : (bank & 1)][r];
}

void It66121Model::setSink(bool present, std::vector<uint8_t> edid)
{
    std::lock_guard<std::mutex> hold(lock_);
    sink_ = present;
    edid_ = std::move(edid);
}

void It66121Model::raise(int r, uint8_t bits)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (r == 0x06 || r == 0x07)
        regs_[0][r] |= bits;
}

void It66121Model::setDdcError(uint8_t bits)
{
    std::lock_guard<std::mutex> hold(lock_);
    ddcError_ = bits & 0x38;
}

void It66121Model::setDdcHang(bool hang)
{
    std::lock_guard<std::mutex> hold(lock_);
    hang_ = hang;
}

void It66121Model::setPresent(bool present)
{
    std::lock_guard<std::mutex> hold(lock_);
    present_ = present;
}

std::vector<It66121Model::DdcRead> It66121Model::ddcReads()
{
    std::lock_guard<std::mutex> hold(lock_);
    return reads_;
}

void It66121Model::clearDdcReads()
{
    std::lock_guard<std::mutex> hold(lock_);
    reads_.clear();
}

void It66121Model::reset()
{
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& b : regs_)
        for (auto& r : b)
            r = 0;
    pointer_ = 0;
    present_ = true;
    sink_ = false;
    hang_ = false;
    ddcError_ = 0;
    edid_.clear();
    fifo_.clear();
    fifoPos_ = 0;
    reads_.clear();
}

} // namespace sim
