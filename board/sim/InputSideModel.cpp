#include "board/sim/InputSideModel.h"

#include "board/sim/SimBoard.h"

#include <atomic>

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
    optionalClock().forced_ = -1;
}

} // namespace sim
