#include "board/sim/InputSideModel.h"

#include "board/sim/SimBoard.h"

#include <atomic>
#include <memory>
#include <vector>

namespace sim {

constexpr uint8_t InputSideModel::kChannel[4];

namespace {
// The clock chip answers only while present; absence is a NAK like any missing part.
class OptionalClock : public I2cModel {
public:
    bool write(const uint8_t* data, uint16_t length) override
    {
        return present() && InputSideModel::clockChip().write(data, length);
    }
    bool read(uint8_t* data, uint16_t length) override
    {
        return present() && InputSideModel::clockChip().read(data, length);
    }
    bool present() const
    {
        if (forced_ >= 0)
            return forced_ == 1;
        return SimBoard::scenario("i2c.clock", "present") != "absent";
    }
    std::atomic<int> forced_{-1};
};

OptionalClock& optionalClock()
{
    static OptionalClock c;
    return c;
}

// One receiver answers at one of two addresses: a proxy per address hands the transfer on
// with the address it was sent to, and the receiver acknowledges only its own.
class ReceiverAt : public I2cModel {
public:
    ReceiverAt(It6602Model* rx, uint8_t address8) : rx_(rx), address8_(address8) {}
    bool write(const uint8_t* data, uint16_t length) override { return rx_->write(address8_, data, length); }
    bool read(uint8_t* data, uint16_t length) override { return rx_->read(address8_, data, length); }

private:
    It6602Model* rx_;
    uint8_t address8_;
};

const char* const kEepromKeys[4] = {"i2c.eeprom0", "i2c.eeprom1", "i2c.eeprom2", "i2c.eeprom3"};

struct Registrar {
    Registrar()
    {
        I2cBusModel::attach(InputSideModel::kSwitchEeprom, &InputSideModel::switchEeprom());
        I2cBusModel::attach(InputSideModel::kSwitchReceiver, &InputSideModel::switchReceiver());
        I2cBusModel::attach(InputSideModel::kExpander, &InputSideModel::expander());
        for (int k = 0; k < 4; ++k) {
            InputSideModel::eeprom(k).setScenarioKey(kEepromKeys[k]);
            I2cBusModel::attach(InputSideModel::kEeprom, &InputSideModel::eeprom(k), InputSideModel::kSwitchEeprom,
                                InputSideModel::kChannel[k]);
        }
        I2cBusModel::attach(InputSideModel::kClock, &optionalClock(), InputSideModel::kSwitchEeprom,
                            InputSideModel::kClockChannel);
        for (int d = 0; d < 3; ++d) {
            for (uint8_t address : {uint8_t(0x90), uint8_t(0x94)}) {
                static std::vector<std::unique_ptr<ReceiverAt>> proxies;
                proxies.push_back(std::make_unique<ReceiverAt>(&InputSideModel::it6602(d), address));
                I2cBusModel::attach(address, proxies.back().get(), InputSideModel::kSwitchReceiver,
                                    InputSideModel::kChannel[d]);
            }
        }
        InputSideModel::reset();
        SimBoard::addResetHook([] { InputSideModel::reset(); });
    }
} g_registrar;
} // namespace

I2cSwitchModel& InputSideModel::switchEeprom()
{
    static I2cSwitchModel s;
    return s;
}

I2cSwitchModel& InputSideModel::switchReceiver()
{
    static I2cSwitchModel s;
    return s;
}

ExpanderModel& InputSideModel::expander()
{
    static ExpanderModel e;
    return e;
}

EdidEepromModel& InputSideModel::eeprom(int input)
{
    static EdidEepromModel parts[4] = {EdidEepromModel(&expander()), EdidEepromModel(&expander()),
                                       EdidEepromModel(&expander()), EdidEepromModel(&expander())};
    return parts[input & 3];
}

It6602Model& InputSideModel::it6602(int input)
{
    static It6602Model parts[3] = {It6602Model(0), It6602Model(1), It6602Model(2)};
    return parts[input >= 0 && input < 3 ? input : 0];
}

ClockChipModel& InputSideModel::clockChip()
{
    static ClockChipModel c(kClockEnable);
    return c;
}

void InputSideModel::setClockPresent(bool present)
{
    optionalClock().forced_ = present ? 1 : 0;
}

bool InputSideModel::clockPresent()
{
    return optionalClock().present();
}

void InputSideModel::reset()
{
    expander().reset();
    for (int k = 0; k < 4; ++k)
        eeprom(k).reset();
    clockChip().reset();
    for (int d = 0; d < 3; ++d)
        it6602(d).reset();
    optionalClock().forced_ = -1;
}

} // namespace sim
