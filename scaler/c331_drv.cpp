#include "scaler/c331_drv.h"

#include "board/SpiDevice.h"
#include "core/global.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"

#include <cstdio>

namespace {
constexpr unsigned kRegisters = 0x80;      // registers per bank
constexpr uint16_t kFpgaSelectIdle = 0x0010;
} // namespace

c331_drv::c331_drv() = default;

int c331_drv::initialize()
{
    int fd = board::SpiDevice::open(kDevice);
    if (fd < 0) {
        KEL_TRACE("\n can't open %s \n", kDevice);
        return -1;
    }
    // A device that refuses a setting is kept: it may still carry the chip in the mode it
    // was left in, and a closed device would leave the scaler silent for the whole run.
    if (board::SpiDevice::configure(fd, 3, 8, kWriteSpeedHz) != 0)
        KEL_TRACE("\n can't set spi mode, bits or speed on %s \n", kDevice);
    return fd;
}

void c331_drv::init_reg_acc_param()
{
    std::lock_guard<std::mutex> hold(Utils::_c331_bnk_mutex);
    bank_cached = -1;
    acc_word = 0;
}

void c331_drv::fpga_selects_idle()
{
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if (!f)
        return;
    if (f->gpio_fpga0_cs)
        *f->gpio_fpga0_cs = kFpgaSelectIdle;
    if (f->gpio_fpga1_cs)
        *f->gpio_fpga1_cs = kFpgaSelectIdle;
}

// One transfer with both FPGA selects idle, so that only the scaler answers on the shared bus.
int c331_drv::transfer_one(int fd, const uint8_t* tx, uint8_t* rx, unsigned len, uint32_t speedHz)
{
    board::SpiTransfer t;
    t.tx = tx;
    t.rx = rx;
    t.length = len;
    t.speedHz = speedHz;
    t.bitsPerWord = 8;
    int ret;
    {
        std::lock_guard<std::mutex> hold(Utils::_spi_mutex);
        fpga_selects_idle();
        ret = fd < 0 ? -1 : board::SpiDevice::transfer(fd, &t, 1);
    }
    if (ret <= 0)
        std::perror("can't send spi message\n");
    return ret;
}

int c331_drv::SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, unsigned len)
{
    return transfer_one(fd, tx, rx, len, kReadSpeedHz);
}

int c331_drv::SPI_Transfer_Write(int fd, const uint8_t* tx, unsigned len)
{
    return transfer_one(fd, tx, nullptr, len, kWriteSpeedHz);
}

unsigned c331_drv::frame_count(uint32_t reg)
{
    // No access runs past the bank's last register: the register number would otherwise
    // spill into the write bit (writes) or wrap to register 0, the bank register (reads).
    unsigned first = (reg >> 8) & 0xFF;
    unsigned n = reg & 0xFF;
    if (first >= kRegisters)
        return 0;
    return n < kRegisters - first ? n : kRegisters - first;
}

bool c331_drv::select_bank(int fd, int bank)
{
    bank &= 0xFF;
    if (bank == bank_cached)
        return true;
    const uint8_t frame[2] = {0x80, uint8_t(bank)};
    if (SPI_Transfer_Write(fd, frame, 2) <= 0) {
        // The chip's bank register is now unknown: select again on the next access.
        bank_cached = -1;
        return false;
    }
    bank_cached = bank;
    return true;
}

void c331_drv::write_locked(int fd, uint32_t reg, uint32_t value, int bankoffset)
{
    if (!select_bank(fd, int((reg >> 16) & 0xFF) + bankoffset))
        return;
    const unsigned first = (reg >> 8) & 0xFF;
    const unsigned n = frame_count(reg);
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t byte = i < 4 ? uint8_t(value >> (8 * i)) : 0;   // bytes past the fourth are 0
        const uint8_t frame[2] = {uint8_t(0x80 | (first + i)), byte};
        if (SPI_Transfer_Write(fd, frame, 2) <= 0)
            bank_cached = -1;
        else if (first + i == 0)
            bank_cached = byte;   // register 0 is the bank register in every bank
    }
}

unsigned c331_drv::read_locked(int fd, uint32_t reg, int bankoffset)
{
    if (!select_bank(fd, int((reg >> 16) & 0xFF) + bankoffset))
        return 0;
    const unsigned first = (reg >> 8) & 0xFF;
    const unsigned n = frame_count(reg);
    unsigned result = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t tx[2] = {uint8_t((first + i) & 0x7F), 0xFF};
        uint8_t rx[2] = {0, 0};
        if (SPI_Transfer(fd, tx, rx, 2) <= 0) {
            bank_cached = -1;
            continue;                        // a failed frame contributes 0
        }
        if (i < 4)
            result |= unsigned(rx[1]) << (8 * i);
    }
    return result;
}

void c331_drv::write_C331(int fd, uint32_t reg, uint32_t value, int bankoffset)
{
    std::lock_guard<std::mutex> hold(Utils::_c331_bnk_mutex);
    write_locked(fd, reg, value, bankoffset);
}

unsigned c331_drv::read_C331(int fd, uint32_t reg, int bankoffset)
{
    std::lock_guard<std::mutex> hold(Utils::_c331_bnk_mutex);
    return read_locked(fd, reg, bankoffset);
}

void c331_drv::write_c331_mask(int fd, uint32_t reg, uint32_t value, uint32_t mask, int bankoffset)
{
    std::lock_guard<std::mutex> hold(Utils::_c331_bnk_mutex);
    const unsigned old = read_locked(fd, reg, bankoffset);
    write_locked(fd, reg, (old & ~mask) | (value & mask), bankoffset);
}
