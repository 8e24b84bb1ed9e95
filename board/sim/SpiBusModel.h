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
    enum class Fault { None, Absent, TransferFails };

    static void attach(int chipSelect, SpiModel* model);     // the model stays owned by the caller
    static void detach(int chipSelect);
    static SpiModel* model(int chipSelect);
    static void setFault(int chipSelect, Fault fault);
    static Fault fault(int chipSelect);

    static std::vector<SpiRecord> log();
    static void clearLog();
    static void setLogging(bool on);                          // on by default; off for long runs
    static void reset();                                      // faults and log; models stay
};

} // namespace sim
