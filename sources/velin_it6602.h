#pragma once
// Driver of the three IT6602 HDMI receivers of inputs 0, 1 and 2 (one chip per input, each
// on its own branch of the I2C bus; the input-source thread selects the branch through the
// switch at 0xEE before every call). Identification, port selection and hot-plug are here;
// the interrupt service, video and audio handling follow with the receiver work.

#include <cstdint>

// Timing measured on an input (read by velinsource::update_vid_info_delay).
struct IT6602_VIDEO_TIMING {
    uint16_t HActive = 0;
    uint16_t VActive = 0;
    uint16_t HTotal = 0;
    uint16_t VTotal = 0;
    uint32_t PCLK = 0;          // MHz
    uint16_t HFrontPorch = 0;
    uint16_t HSyncWidth = 0;
    uint16_t HBackPorch = 0;
    uint16_t VFrontPorch = 0;
    uint16_t VSyncWidth = 0;
    uint16_t VBackPorch = 0;
    uint8_t flags = 0;          // bit 0 interlaced, 1 vsync positive, 2 hsync positive
};

class velin_it6602 {
public:
    int fd = -1;                              // first field: the bus descriptor
    uint8_t identify_fail[3] = {0, 0, 0};
    bool missing_told[3] = {false, false, false};   // the chip's absence was printed
    uint8_t i2c_addr = 0x94;                  // address of the chips, found by identification
    IT6602_VIDEO_TIMING vid_timing[3];

    velin_it6602() {}
    ~velin_it6602() {}

    // --- register access on the selected branch (the chip at i2c_addr) ---
    unsigned char hdmirxrd_it6602(int fd, unsigned char reg);
    int hdmirxwr_it6602(int fd, unsigned char reg, unsigned char value);   // 0 ok, 1 failed
    int hdmirxset_it6602(int fd, unsigned char reg, unsigned char mask, unsigned char value);
    void chgbank_it6602(int fd, int bank);
    static void delay1ms(unsigned ms);

    // --- start-up and service, driven by velinsource::sourcecheck ---
    // Identifies the chip of input dev (1 found, 0 not).
    int IT6602_fsm_init(int fd, int dev);
    int IT6602_Identify_Chip(int fd, int dev);
    void IT6602_fsm_init_1(int fd, int dev);
    void IT6602_fsm(int fd, int dev);
    void IT6602PortSelect(int fd, int port, int dev);
    // Port 0 only: HPD high (value 1) or low (0) while +5 V is present; low without it.
    void IT6602HPDCtrl(int fd, int port, int value);
};
