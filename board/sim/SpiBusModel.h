#pragma once
#include <cstdint>
#include <vector>

namespace sim {

// A device on the simulated SPI bus. The bus calls transfer() for each segment of a
// message and endMessage() when the chip select is released. A model that needs the
// GPIO lines (FPGA select, command phase) reads them from SocModel at each call.
class SpiModel {
public:
    virtual ~SpiModel() = default;
    virtual void transfer(const uint8_t* tx, uint8_t* rx, uint32_t length, uint32_t speedHz) = 0;
    virtual void endMessage() {}
    // The clock mode the part samples in; a message clocked in another mode (or with
    // words other than 8 bits) reaches it and comes back one bit out of step.
    virtual uint8_t spiMode() const { return 3; }
};

// One message as the bus saw it: spidev chip select, all bytes sent and received.
struct SpiRecord {
    int chipSelect = 0;
    std::vector<uint8_t> tx;
    std::vector<uint8_t> rx;
    uint32_t speedHz = 0;
};

// The SPI bus: chip select N is "/dev/spidev32766.N". Chip select 0 reaches the scaler
// model, 1 to 4 the FPGA models and their configuration flash.
class SpiBusModel {
public:
    // SettingsRefused: configure fails and changes nothing; transfers still run.
    enum class Fault { None, Absent, TransferFails, SettingsRefused };

    static void attach(int chipSelect, SpiModel* model);     // the model stays owned by the caller
    static void detach(int chipSelect);
    static SpiModel* model(int chipSelect);
    static void setFault(int chipSelect, Fault fault);
    static Fault fault(int chipSelect);

    static std::vector<SpiRecord> log();
    static void clearLog();
    static void setLogging(bool on);                          // on by default; off for long runs
    // What SpiDevice::configure set on a chip select (kept per device, as spidev does);
    // until configured: mode 0, 8 bits, 500 kHz.
    struct Settings {
        uint8_t mode = 0;
        uint8_t bitsPerWord = 8;
        uint32_t maxSpeedHz = 500000;
    };
    static Settings settings(int chipSelect);
    static void reset();                          // faults, log and settings; models stay
};

} // namespace sim
