#pragma once
// Access to the board's I2C bus 0, on which every chip of the input side sits. The
// descriptor is opened once by the input-source manager and passed explicitly on every
// call; all traffic runs on the input-source thread, so nothing is locked here.
// Addresses are in 8-bit form (7-bit address << 1).

class Drv_I2C0 {
public:
    // The largest transfers the buffers take: a write carries at most 255 data bytes after
    // its register byte, a read at most 100 bytes.
    static constexpr unsigned kMaxWrite = 255;
    static constexpr int kMaxRead = 100;

    static Drv_I2C0* p_drv_i2c0;

    Drv_I2C0() {}
    ~Drv_I2C0() {}

    // Opens "/dev/i2c-0"; the descriptor, negative on failure.
    int initialize();
    // One message: reg followed by n data bytes (n = 0 sends reg alone). 1 on success, 0 on
    // a NAK, a bus error or n beyond kMaxWrite.
    [[nodiscard]] int i2c_write(int fd, unsigned char addr, unsigned char reg, const unsigned char* data, unsigned int n);
    // Write reg, then read n bytes without a stop between; a read not answered is asked
    // once more before it fails. 1 on success (n below 1 copies
    // nothing). On failure, or for n beyond kMaxRead, 0 and the caller's n bytes are zeroed
    //, so no stale bytes are ever taken for an answer.
    [[nodiscard]] int i2c_read(int fd, unsigned char addr, unsigned char reg, unsigned char* data, int n);
};
