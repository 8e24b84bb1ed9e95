#pragma once
// The output-side HDMI transmitter programmed through its TPI register interface for one
// output resolution at a fixed 62.5 MHz pixel clock. Nothing in the running system calls
// it; it is kept complete so that an output transmitter can be driven.
// Addresses are in 8-bit form: writes and the presence check at 0x76, reads at 0x72.

#include <cstdint>

class SiI9022 {
public:
    static constexpr unsigned char kWriteAddress = 0x76;
    static constexpr unsigned char kReadAddress = 0x72;

    static SiI9022* p_9022;
    static SiI9022* pInstance();

    SiI9022() { SiI9022_para_init(); }

    void SiI9022_para_init();

    // 1 on success: n bytes written from reg at 0x76, then read back and printed.
    int I2C_SiI9022A2_Write(unsigned char reg, const unsigned char* data, unsigned n);
    // 0 on success, 1 on failure (0x72).
    int I2C_SiI9022A2_Read(unsigned char reg, unsigned char* data, unsigned n);
    void SiI9022_ByteWrite(unsigned char reg, unsigned char value);
    void WriteBlockTPI(unsigned char start, unsigned n, const unsigned char* data);

    // 1 when TPI register 0x62 answers; records it in controller status register 39
    // (bit 2 for which != 0, bit 1 for which == 0).
    int check_9022(int which);

    void I2C_set_SiI9022(int width, int height, int hz) { siHdmiTx_UserDefineSet(width, height, hz); }
    // A refresh rate or a vertical total that would divide by zero leaves the chip untouched.
    void siHdmiTx_UserDefineSet(int width, int height, int hz);

    void SetVideo(uint16_t pixelClock10k, uint16_t refresh100, uint16_t hTotal, uint16_t vTotal);
    void SetDE(int width, int height);
    void SetAVI_InfoFrames(int deDelay, int deTop, int hParam, int vParam);

    uint8_t para[6] = {};
    uint32_t vblank = 0;

private:
    int bus_fd() const;
};
