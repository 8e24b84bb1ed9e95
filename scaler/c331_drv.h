#pragma once
#include <cstdint>
#include <mutex>

// Register access to the scaler chip on the shared SPI bus ("/dev/spidev32766.0").
// The chip's registers are 8-bit in banks of 128; every access selects the bank (a write of
// the bank number to register 0) and then moves one byte per 2-byte frame. The bank last
// sent is cached so that accesses within one bank send no selection.
//
// Register word: bits 16-23 bank, bits 8-15 first register (0-0x7F), bits 0-7 byte count.
// The bank offset is added to the bank (0x10 per processing channel). Values are
// little-endian: byte i goes to register first + i.
class c331_drv {
public:
    static constexpr const char* kDevice = "/dev/spidev32766.0";
    static constexpr uint32_t kWriteSpeedHz = 10000000;
    static constexpr uint32_t kReadSpeedHz = 5000000;

    c331_drv();

    // Opens the device in mode 3, 8 bits per word, 10 MHz at most. The descriptor, or -1
    // when the device cannot be opened or configured.
    [[nodiscard]] int initialize();
    // The next access selects its bank again (after anything that reset the chip).
    void init_reg_acc_param();

    // One frame each; the result is the bytes moved, 0 or less on failure.
    [[nodiscard]] int SPI_Transfer(int fd, const uint8_t* tx, uint8_t* rx, unsigned len);
    [[nodiscard]] int SPI_Transfer_Write(int fd, const uint8_t* tx, unsigned len);

    void write_C331(int fd, uint32_t reg, uint32_t value, int bankoffset);
    unsigned read_C331(int fd, uint32_t reg, int bankoffset);
    // Read-modify-write of (old AND NOT mask) OR (value AND mask) under one hold of the
    // bank lock, so no other scaler access lands between the read and the write.
    void write_c331_mask(int fd, uint32_t reg, uint32_t value, uint32_t mask, int bankoffset);

    int bank_cached = -1;   // bank last sent; -1: unknown, the next access selects
    int acc_word = 0;       // cleared with the bank cache; nothing else uses it

private:
    // Both with Utils::_c331_bnk_mutex held.
    [[nodiscard]] bool select_bank(int fd, int bank);
    void write_locked(int fd, uint32_t reg, uint32_t value, int bankoffset);
    unsigned read_locked(int fd, uint32_t reg, int bankoffset);
    static unsigned frame_count(uint32_t reg);
    // Drives both FPGA selects inactive so that only the scaler answers on the bus.
    static void fpga_selects_idle();
    [[nodiscard]] static int transfer_one(int fd, const uint8_t* tx, uint8_t* rx, unsigned len, uint32_t speedHz);
};
