#pragma once
// Owner of the SDI stage's transmitter: the presence result, the failed-test counter and
// the driver objects. Owned by the input-source manager, never driven in the running system.

#include <cstdint>

class it66121_hdmitx_sys;
class it66121_hdmitx_drv;
class sdi_it66121;

class it66121_sys {
public:
    it66121_sys();
    ~it66121_sys();
    it66121_sys(const it66121_sys&) = delete;
    it66121_sys& operator=(const it66121_sys&) = delete;

    uint8_t present = 0;          // 1 when the chip answered with its identity
    uint8_t failed_tests = 0;     // counted by the input-source manager's stepping routine
    it66121_hdmitx_sys* p_hdmitx_sys = nullptr;
    it66121_hdmitx_drv* p_hdmitx_drv = nullptr;
    sdi_it66121* p_sdi = nullptr;

    void sdi_it66121_init();      // SDI stage preparation lines of the FPGA manager's window
    void GS2971_Reset();          // SDI receiver reset pulse, 50 ms low
    bool IT66121_Test();          // identity 0x4954 in registers 1, 0
    void IT66121_init();
    void CHANGE_INPUT(uint8_t n);

    static void delay1ms(unsigned ms);
};
