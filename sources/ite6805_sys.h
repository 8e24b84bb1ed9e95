#pragma once
// Owner of the IT6805 HDMI 2.0 receiver of input 3: per-device state and the top-level
// state machine that the input-source thread runs once per pass. Identification and the
// hot-plug line are here; initialisation, interrupt service and the video and audio state
// machines follow with the receiver work.

#include <cstdint>

class ite6805_drv;

// Timing measured on the input, per device (velinsource reads HActive, VActive and
// FrameRate of device 0 for the input status bytes).
struct iTE6805_TIMING {
    uint16_t HActive = 0;
    uint16_t VActive = 0;
    uint16_t HTotal = 0;
    uint16_t VTotal = 0;
    uint32_t PCLK = 0;        // kHz
    uint32_t TMDSCLK = 0;     // kHz
    uint32_t FrameRate = 0;   // Hz
};

class ite6805_sys {
public:
    int fd = -1;                          // first field: the bus descriptor
    uint8_t identify_fail[2] = {0, 0};
    uint8_t FsmState[2] = {0, 0};         // 0 identify, 2 wait, 1 main body
    iTE6805_TIMING timing[2];
    ite6805_drv* p_ite6805_drv = nullptr;

    ite6805_sys();
    ~ite6805_sys();
    ite6805_sys(const ite6805_sys&) = delete;
    ite6805_sys& operator=(const ite6805_sys&) = delete;

    // Back to the constructed state: the next pass identifies and initialises again.
    void ite6805_sys_reset_init();
    void iTE6805_FSM(int dev);
    int iTE6805_Identify_Chip(int dev);   // 1 found, 0 not
    void iTE6805_MainBody(int dev);

    // --- register access to the receiver at 0x90 (bank 0 left selected) ---
    unsigned char hdmirxrd(unsigned char reg, int dev);
    int hdmirxwr(unsigned char reg, unsigned char value, int dev);   // 0 ok, 1 failed
    int hdmirxset(unsigned char reg, unsigned char mask, unsigned char value, int dev);
};
