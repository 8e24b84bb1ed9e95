#pragma once
#include "board/sim/ClockChipModel.h"
#include "board/sim/EdidEepromModel.h"
#include "board/sim/ExpanderModel.h"
#include "board/sim/I2cBusModel.h"
#include "board/sim/i2c/It6602Model.h"

namespace sim {

// The input side's I2C topology as the board wires it, installed at start-up:
//  - switch 0xEE (receiver branches) and switch 0xE0 (EEPROM branches) on the bus itself;
//  - expander 0x40 on the bus itself;
//  - one EDID EEPROM at 0xA0 per input behind switch 0xE0, channels 0x02, 0x04, 0x08 and
//    0x20 for inputs 0 to 3;
//  - clock chip 0 at 0xD0 behind channel 0x80 of switch 0xE0, enabled by the SoC word at
//    0x207858.
//  - the IT6602 receivers of inputs 0 to 2 at 0x90 (or 0x94) behind channels 0x02, 0x04
//    and 0x08 of switch 0xEE, held in reset by the SoC word at 0x207940.
//  - the HDMI 2.0 receiver of input 3 (It6805Model) behind channel 0x20 of switch 0xEE.
// Scenario keys: "i2c.eeprom0" .. "i2c.eeprom3" = valid | blank | corrupt | absent;
// "i2c.clock" = absent takes the clock chip off the bus.
class InputSideModel {
public:
    static constexpr uint8_t kSwitchEeprom = 0xE0;
    static constexpr uint8_t kSwitchReceiver = 0xEE;
    static constexpr uint8_t kExpander = 0x40;
    static constexpr uint8_t kEeprom = 0xA0;
    static constexpr uint8_t kClock = 0xD0;
    static constexpr uint8_t kClockChannel = 0x80;
    static constexpr uint32_t kClockEnable = 0x207858;
    static constexpr uint8_t kChannel[4] = {0x02, 0x04, 0x08, 0x20};

    static I2cSwitchModel& switchEeprom();
    static I2cSwitchModel& switchReceiver();
    static ExpanderModel& expander();
    static EdidEepromModel& eeprom(int input);
    static ClockChipModel& clockChip();
    static It6602Model& it6602(int input);          // inputs 0..2
    static void setClockPresent(bool present);
    static bool clockPresent();
    static void reset();
};

} // namespace sim
