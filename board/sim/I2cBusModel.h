#pragma once
#include <cstdint>
#include <functional>
#include <vector>

namespace sim {

// A device on the simulated I2C bus, addressed by its 8-bit (write) address. write() and
// read() return false for a NAK. stop() ends the transfer (a repeated start does not).
class I2cModel {
public:
    virtual ~I2cModel() = default;
    virtual bool write(const uint8_t* data, uint16_t length) = 0;
    virtual bool read(uint8_t* data, uint16_t length) = 0;
    virtual void stop() {}
};

// An I2C switch: one channel register; each set bit connects one downstream branch.
class I2cSwitchModel : public I2cModel {
public:
    bool write(const uint8_t* data, uint16_t length) override;
    bool read(uint8_t* data, uint16_t length) override;
    uint8_t channels() const { return channels_; }
    void setChannels(uint8_t channels);
private:
    uint8_t channels_ = 0;
};

struct I2cRecord {
    uint8_t address8 = 0;     // 8-bit address (7-bit address << 1)
    bool read = false;
    std::vector<uint8_t> data;
    bool acked = false;
};

// The bus "/dev/i2c-0". A device attached behind a switch is visible only while that
// switch's channel register has a bit of channelMask set (and the switch itself is
// visible). Nothing visible at an address is a NAK.
class I2cBusModel {
public:
    static void attach(uint8_t address8, I2cModel* model, uint8_t switchAddress8 = 0, uint8_t channelMask = 0);
    static void detachAll();
    static void setAbsent(uint8_t address8, bool absent);   // every device at that address NAKs
    static void nakTransferNumber(int n);                   // the n-th transfer from now NAKs (1 = next); 0 = off
    // Transfers that fail as a bus that drops them: of the transfers that match (reads,
    // writes, or both, that `on` accepts by their 8-bit address and first message: the
    // register byte, with a write's data after it; none: any), the first `after` pass, the
    // next `run` are not acknowledged, the rest pass again. One drop at a time; a new one
    // replaces it, run 0 ends it.
    struct Drop {
        int after = 0, run = 0;
        bool reads = true, writes = true;
        std::function<bool(uint8_t address8, const uint8_t* data, uint16_t length)> on;
    };
    static void drop(const Drop& d);
    static int dropped();                                   // transfers the drop failed so far
    // A test's own fault point: called for every transfer before it reaches the bus, with
    // its 8-bit address, whether it reads, and its first message (the register byte, with a
    // write's data after it); true fails it as a NAK. Empty: off (reset clears it too).
    using FaultHook = std::function<bool(uint8_t address8, bool read, const uint8_t* data, uint16_t length)>;
    static void setFaultHook(FaultHook hook);
    static std::vector<I2cRecord> log();
    static void clearLog();
    static void reset();                                    // faults and log; devices stay
};

} // namespace sim
