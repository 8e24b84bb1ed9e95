#pragma once
#include "board/sim/I2cBusModel.h"

#include <array>
#include <cstdint>

namespace sim {

class ExpanderModel;

// A 256-byte EDID EEPROM (0xA0), as the 24-series parts behave:
//  - a write is [word address, data...]; data bytes go into the 8-byte page of the address
//    (the address wraps inside the page) and are stored when the transfer stops;
//  - the store takes kWriteCycleUs; during that cycle the part acknowledges nothing, which
//    is how a driver learns that the page is done (acknowledge polling);
//  - while the expander's protect bit is set a write is acknowledged but not stored (and
//    starts no write cycle);
//  - a read returns bytes from the current address on, wrapping at 256.
class EdidEepromModel : public I2cModel {
public:
    static constexpr int kSize = 256;
    static constexpr int kPage = 8;
    static constexpr uint64_t kWriteCycleUs = 5000;

    explicit EdidEepromModel(const ExpanderModel* protect = nullptr) : protect_(protect) {}

    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;
    void stop() override;

    std::array<uint8_t, kSize> contents();
    void setContents(const std::array<uint8_t, kSize>& bytes);
    void fillBlank();                 // erased part: every byte 0xFF
    void fillValid();                 // a valid EDID of the simulated board (both checksums good)
    void corrupt();                   // a valid EDID with one byte of block 0 changed
    void setPresent(bool present);    // an absent part acknowledges nothing
    void nakPageWrites(int n) { nakPageWrites_ = n; }   // the next n writes carrying data NAK
    void loseStores(int n) { loseStores_ = n; }         // the next n pages acknowledged but kept with bit 0 flipped
    bool present() const { return present_; }
    int storedPages() const { return storedPages_; }   // page stores since the last reset
    void reset();                     // contents from the scenario key, present, idle

    // Content by scenario: "valid" (default), "blank", "corrupt" or "absent". Read at the
    // first access after a reset, so a scenario file loaded at start-up applies.
    void setScenarioKey(const char* key) { key_ = key; }

private:
    void loadScenario();
    bool busy() const;

    const ExpanderModel* protect_;
    const char* key_ = nullptr;
    bool loaded_ = false;
    bool present_ = true;
    std::array<uint8_t, kSize> memory_{};
    uint8_t address_ = 0;
    bool addressed_ = false;          // the current transfer carried the word address
    std::array<uint8_t, kPage> pageData_{};
    std::array<bool, kPage> pageSet_{};
    bool pending_ = false;
    uint8_t pageBase_ = 0;
    uint64_t busyUntil_ = 0;
    int storedPages_ = 0;
    int nakPageWrites_ = 0;
    int loseStores_ = 0;
};

} // namespace sim
