#include "sources/it6805/ite6805_i2c_rdwr.h"

#include "sources/drv_i2c.h"
#include "sources/it6805/ite6805_sys.h"

#include <cstdio>

namespace {
Drv_I2C0& bus()
{
    static Drv_I2C0 fallback;
    return Drv_I2C0::p_drv_i2c0 ? *Drv_I2C0::p_drv_i2c0 : fallback;
}
constexpr uint8_t kBankRegister = 0x0F;
// Registers 0x00-0x0F are the same in every bank.
bool banked(uint8_t reg) { return reg > kBankRegister; }
} // namespace

bool ite6805_i2c_rdwr::trace(int dev) const
{
    return dev >= 0 && dev < 2 && owner_->iTE6805_DATA[dev].TraceI2C == 1;
}

RegRead ite6805_i2c_rdwr::hdmirxrd(uint8_t reg, int /*dev*/)
{
    uint8_t value = 0;
    if (banked(reg) && !bank_known) {
        ++errors;
        return RegRead();
    }
    if (!bus().i2c_read(owner_->fd, kAddrRx, reg, &value, 1)) {
        ++errors;
        std::printf("=====HDMI Read ERROR Read Reg0x%X=\n", reg);
        return RegRead();
    }
    return RegRead::answered(value);
}

int ite6805_i2c_rdwr::hdmirxwr(uint8_t reg, uint8_t value, int dev)
{
    if (trace(dev))
        std::printf("i2c_single_write(0x90, 0x%02X, 1, 0x%02X);\n", reg, value);
    if (banked(reg) && !bank_known) {
        ++errors;
        return 1;
    }
    const bool taken = bus().i2c_write(owner_->fd, kAddrRx, reg, &value, 1);
    if (reg == kBankRegister) {
        bank_known = taken;
        bank_ = taken ? value & 7 : -1;
    }
    if (taken)
        return 0;
    ++errors;
    std::printf("=====HDMI I2C ERROR Write Reg0x%X=%X =====\n", reg, value);
    return 1;
}

int ite6805_i2c_rdwr::hdmirxset(uint8_t reg, uint8_t mask, uint8_t value, int dev)
{
    const RegRead old = hdmirxrd(reg, dev);
    // A register whose value is unknown is not written: its other bits would be lost.
    if (!old.ok()) {
        if (reg == kBankRegister)
            bank_known = false, bank_ = -1;   // a select not made: what follows must not be written
        return 1;
    }
    return hdmirxwr(reg, uint8_t((old.value() & ~mask) | (value & mask)), dev);
}

int ite6805_i2c_rdwr::select_bank(int bank, int dev)
{
    if (bank_known && bank_ == (bank & 7))
        return 0;
    return hdmirxset(kBankRegister, 0x07, uint8_t(bank & 7), dev);
}

int ite6805_i2c_rdwr::hdmirxbrd(uint8_t reg, int count, uint8_t* buffer)
{
    if (count <= 0 || count > Drv_I2C0::kMaxRead || !buffer)
        return 0;
    if ((!banked(reg) || bank_known) && bus().i2c_read(owner_->fd, kAddrRx, reg, buffer, count))
        return 1;
    ++errors;
    std::printf("HDMI Read ERROR !!!");
    std::printf("=====  Read Reg0x%X=\n", reg);
    return 0;
}

int ite6805_i2c_rdwr::hdmirxbwr(uint8_t reg, int count, const uint8_t* buffer, int dev)
{
    if (trace(dev)) {
        std::printf("KK====  Write byteno=%X =====\n", count);
        for (int i = 0; i < count && buffer; ++i)
            std::printf("KK====  Write Reg0x1 %X=%X =====\n", reg + i, buffer[i]);
    }
    if (count <= 0 || unsigned(count) > Drv_I2C0::kMaxWrite || !buffer || (banked(reg) && !bank_known)
        || !bus().i2c_write(owner_->fd, kAddrRx, reg, buffer, unsigned(count))) {
        ++errors;
        std::printf("=====IT6805 I2C ERROR Write Reg0x%X=%X =====\n", reg, count);
        return 0;
    }
    return 1;
}

void ite6805_i2c_rdwr::hdimrx_write_init(const iTE6805_INI_REG* table, int dev)
{
    // Counted in errors: the caller starts the chip again when it moved.
    for (int i = 0; table && table[i].ucAddr != 0xFF; ++i)
        if (hdmirxset(table[i].ucAddr, table[i].andmask, table[i].ucValue, dev))
            continue;
}

uint8_t ite6805_i2c_rdwr::cecrd_6805(uint8_t reg)
{
    uint8_t value = 0;
    if (!bus().i2c_read(owner_->fd, kAddrCec, reg, &value, 1))
        return 0;
    return value;
}

int ite6805_i2c_rdwr::cecwr_6805(uint8_t reg, uint8_t value)
{
    return bus().i2c_write(owner_->fd, kAddrCec, reg, &value, 1) ? 0 : 1;
}

int ite6805_i2c_rdwr::cecset_6805(uint8_t reg, uint8_t mask, uint8_t value)
{
    uint8_t old = 0;
    if (!bus().i2c_read(owner_->fd, kAddrCec, reg, &old, 1))
        return 1;   // its other bits unknown: not written
    return cecwr_6805(reg, uint8_t((old & ~mask) | (value & mask)));
}

int ite6805_i2c_rdwr::cecbrd_it6805(uint8_t reg, int count, uint8_t* buffer)
{
    if (count <= 0 || count > Drv_I2C0::kMaxRead || !buffer)
        return 0;
    if (bus().i2c_read(owner_->fd, kAddrCec, reg, buffer, count))
        return 1;
    std::printf("iTE6805_CEC I2C ERROR !!!");
    std::printf("=====  Read Reg0x%X=\n", reg);
    return 0;
}

int ite6805_i2c_rdwr::cecbwr_it6805(uint8_t reg, int count, const uint8_t* buffer)
{
    if (count <= 0 || unsigned(count) > Drv_I2C0::kMaxWrite || !buffer)
        return 1;
    return bus().i2c_write(owner_->fd, kAddrCec, reg, buffer, unsigned(count)) ? 0 : 1;
}

int ite6805_i2c_rdwr::edid_ram_wr(uint8_t offset, int count, const uint8_t* buffer, int dev)
{
    if (count <= 0 || unsigned(count) > Drv_I2C0::kMaxWrite || !buffer)
        return 1;
    if (trace(dev))
        for (int i = 0; i < count; ++i)
            std::printf("i2c_single_write(0xA8, 0x%02X, 1, 0x%02X); \n", offset + i, buffer[i]);
    return bus().i2c_write(owner_->fd, kAddrEdid, offset, buffer, unsigned(count)) ? 0 : 1;
}

int ite6805_i2c_rdwr::lvdsrxwr(uint8_t reg, uint8_t value, int dev)
{
    if (trace(dev))
        std::printf("KK====  Write Reg0x%X=%X =====\n", reg, value);
    if (bus().i2c_write(owner_->fd, kAddrLvds, reg, &value, 1))
        return 0;
    std::printf("===== HDMI I2C ERROR Write Reg0x%X=%X Error=====\n", reg, value);
    return 1;
}
