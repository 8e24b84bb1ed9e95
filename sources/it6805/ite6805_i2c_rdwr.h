#pragma once
// Register access to the IT6805 receiver of input 3. Every other part of the driver reaches
// the chip only through here: the receiver register file (0x90, eight banks selected by
// register 0x0F bits 0-2), the EDID RAM (0xA8), the LVDS block (0xB4) and the CEC page
// (0xC8). The device index only selects the per-device trace flag; both indices address
// the same chip. A read has a value only when answered; single writes return 0 on success
// and 1 on failure; nothing retries here
// (the bus asks a failed read once more). Every failure counts in `errors`: a set-up or a
// measurement during which it moved is not in force and is done again.

#include "sources/RegRead.h"

#include <cstdint>

class ite6805_sys;

// One row of a register table: new = (old AND NOT mask) OR (value AND mask).
struct iTE6805_INI_REG {
    uint8_t ucAddr;
    uint8_t andmask;
    uint8_t ucValue;
};

// The chip's start-up table; register 0xFF ends it.
constexpr int kIte6805InitTableRows = 133;
extern const iTE6805_INI_REG iTE6805_INIT_HDMI_TABLE[kIte6805InitTableRows];

class ite6805_i2c_rdwr {
public:
    static constexpr uint8_t kAddrRx = 0x90;
    static constexpr uint8_t kAddrEdid = 0xA8;
    static constexpr uint8_t kAddrLvds = 0xB4;
    static constexpr uint8_t kAddrCec = 0xC8;

    explicit ite6805_i2c_rdwr(ite6805_sys* owner) : owner_(owner) {}

    uint32_t errors = 0;   // transfers that failed
    // A bank select (register 0x0F) the chip did not take leaves its bank unknown: no
    // register above the common ones is read or written until a select is taken again, so
    // a value meant for one bank never lands in bank 0 or another (each refusal counts in
    // errors).
    bool bank_known = true;
    // Bank select (register 0x0F bits 0-2) skipped when the bank is already the one taken
    // last in this service. Forgotten at each entry from outside: between two, the chip may
    // have been reset (to bank 0) or another master may have addressed it.
    [[nodiscard]] int select_bank(int bank, int dev);
    void forget_bank() { bank_ = -1; }

    RegRead hdmirxrd(uint8_t reg, int dev);
    [[nodiscard]] int hdmirxwr(uint8_t reg, uint8_t value, int dev);
    [[nodiscard]] int hdmirxset(uint8_t reg, uint8_t mask, uint8_t value, int dev);
    [[nodiscard]] int hdmirxbrd(uint8_t reg, int count, uint8_t* buffer);
    [[nodiscard]] int hdmirxbwr(uint8_t reg, int count, const uint8_t* buffer, int dev);
    // Applies a register table up to its 0xFF row, without pauses or checks.
    void hdimrx_write_init(const iTE6805_INI_REG* table, int dev);

    uint8_t cecrd_6805(uint8_t reg);   // 0 when not answered (CEC is best effort)
    [[nodiscard]] int cecwr_6805(uint8_t reg, uint8_t value);   // 0 ok, 1 failed
    [[nodiscard]] int cecset_6805(uint8_t reg, uint8_t mask, uint8_t value);
    [[nodiscard]] int cecbrd_it6805(uint8_t reg, int count, uint8_t* buffer);   // 1 read, 0 not
    [[nodiscard]] int cecbwr_it6805(uint8_t reg, int count, const uint8_t* buffer);   // 0 ok, 1 failed

    [[nodiscard]] int edid_ram_wr(uint8_t offset, int count, const uint8_t* buffer, int dev);
    [[nodiscard]] int lvdsrxwr(uint8_t reg, uint8_t value, int dev);

private:
    bool trace(int dev) const;
    int bank_ = -1;   // the bank the last select took; -1 unknown
    ite6805_sys* owner_;
};
