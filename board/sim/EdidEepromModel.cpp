#include "board/sim/EdidEepromModel.h"

#include "board/Clock.h"
#include "board/sim/ExpanderModel.h"
#include "board/sim/SimBoard.h"

#include <string>

namespace sim {

namespace {
// A plain EDID of the simulated board: header, maker "SIM", version 1.3, one CEA
// extension with nothing in it; both checksums right.
std::array<uint8_t, EdidEepromModel::kSize> validImage()
{
    std::array<uint8_t, EdidEepromModel::kSize> b{};
    const uint8_t head[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x4D, 0x2D, 0x01, 0x00};
    for (size_t i = 0; i < sizeof head; ++i)
        b[i] = head[i];
    b[18] = 1;
    b[19] = 3;
    b[20] = 0x80;
    b[126] = 1;
    b[128] = 0x02;
    b[129] = 0x03;
    b[130] = 0x04;
    for (int block = 0; block < 2; ++block) {
        unsigned sum = 0;
        for (int i = 0; i < 127; ++i)
            sum += b[block * 128 + i];
        b[block * 128 + 127] = uint8_t(0x100 - (sum & 0xFF));
    }
    return b;
}
} // namespace

bool EdidEepromModel::busy() const
{
    return busyUntil_ != 0 && board::Clock::monotonicUs() < busyUntil_;
}

void EdidEepromModel::loadScenario()
{
    if (loaded_)
        return;
    loaded_ = true;
    std::string kind = key_ ? SimBoard::scenario(key_, "valid") : std::string("valid");
    fillValid();
    if (kind == "blank")
        fillBlank();
    else if (kind == "corrupt")
        corrupt();
    else if (kind == "absent")
        present_ = false;
}

bool EdidEepromModel::write(const uint8_t* data, uint16_t length)
{
    loadScenario();
    if (!present_ || busy())
        return false;
    if (length == 0)
        return true;
    if (length > 1 && nakPageWrites_ > 0) {
        --nakPageWrites_;
        return false;
    }
    address_ = data[0];
    addressed_ = true;
    for (uint16_t i = 1; i < length; ++i) {
        if (!pending_) {
            pending_ = true;
            pageBase_ = uint8_t(address_ & ~(kPage - 1));
            pageSet_.fill(false);
        }
        const int slot = address_ & (kPage - 1);
        pageData_[slot] = data[i];
        pageSet_[slot] = true;
        address_ = uint8_t(pageBase_ | ((slot + 1) & (kPage - 1)));
    }
    return true;
}

bool EdidEepromModel::read(uint8_t* data, uint16_t length)
{
    loadScenario();
    if (!present_ || busy())
        return false;
    for (uint16_t i = 0; i < length; ++i)
        data[i] = memory_[address_++];
    return true;
}

void EdidEepromModel::stop()
{
    addressed_ = false;
    if (!pending_)
        return;
    pending_ = false;
    if (protect_ && protect_->writeProtected())
        return;
    const uint8_t flip = loseStores_ > 0 ? 0x01 : 0x00;   // a cell that did not take the write
    loseStores_ -= flip;
    for (int slot = 0; slot < kPage; ++slot)
        if (pageSet_[slot])
            memory_[pageBase_ + slot] = uint8_t(pageData_[slot] ^ (slot ? 0 : flip));
    ++storedPages_;
    busyUntil_ = board::Clock::monotonicUs() + kWriteCycleUs;
}

std::array<uint8_t, EdidEepromModel::kSize> EdidEepromModel::contents()
{
    loadScenario();
    return memory_;
}

void EdidEepromModel::setContents(const std::array<uint8_t, kSize>& bytes)
{
    loaded_ = true;
    memory_ = bytes;
}

void EdidEepromModel::fillBlank()
{
    loaded_ = true;
    memory_.fill(0xFF);
}

void EdidEepromModel::fillValid()
{
    loaded_ = true;
    memory_ = validImage();
}

void EdidEepromModel::corrupt()
{
    fillValid();
    memory_[20] ^= 0x5A;
}

void EdidEepromModel::setPresent(bool present)
{
    loadScenario();
    present_ = present;
}

void EdidEepromModel::reset()
{
    loaded_ = false;
    present_ = true;
    address_ = 0;
    addressed_ = false;
    pending_ = false;
    busyUntil_ = 0;
    storedPages_ = 0;
    nakPageWrites_ = loseStores_ = 0;
    memory_ = validImage();
}

} // namespace sim
