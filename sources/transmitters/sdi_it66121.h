#pragma once
// Bus access of the SDI stage's HDMI transmitter at 0x98 on the input side's bus. The
// descriptor is the IT6602 driver's, reached through the input-source manager.

class sdi_it66121 {
public:
    static constexpr unsigned char kAddress = 0x98;
    static constexpr unsigned kReceiveArea = 100;   // largest read
    static constexpr unsigned kMaxWrite = 255;      // largest write payload

    // 1 on success, 0 on failure; counts beyond the buffers are refused untouched.
    int I2C2_IT66121_Read(unsigned char address, unsigned char reg, unsigned count, unsigned char* buffer);
    int I2C2_IT66121_Write(unsigned char address, unsigned char reg, unsigned count, const unsigned char* data);

    // A failed read gives 0.
    unsigned char HDMITX_ReadI2C_Byte(unsigned char reg);
    int HDMITX_ReadI2C_ByteN(unsigned char reg, unsigned char* buffer, unsigned count);
    int HDMITX_WriteI2C_Byte(unsigned char reg, unsigned char value);
    // mask 0xFF is a plain write; otherwise the bits of mask take those of value.
    int HDMITX_SetI2C_Byte(unsigned char reg, unsigned char mask, unsigned char value);

private:
    int bus_fd() const;
};
