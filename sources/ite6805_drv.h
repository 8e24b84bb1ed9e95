#pragma once
// Register-level operations of the IT6805 receiver that the input-source manager calls
// directly: chip initialisation and the hot-plug line of port 0.

#include <cstdint>

class ite6805_sys;

class ite6805_drv {
public:
    explicit ite6805_drv(ite6805_sys* owner) : owner_(owner) {}

    void chgbank(int bank, int dev);
    int iTE6805_Check_5V_State(int port, int dev);
    int iTE6805_Check_PORT0_IS_MHL_Mode(int port, int dev);
    // Port 0: without +5 V the line is held low; with +5 V (and not in MHL mode) it follows
    // level. Port 1's line is not driven.
    void iTE6805_Set_HPD_Ctrl(int port, int level, int dev);
    void iTE6805_Init_fsm(int dev);

private:
    ite6805_sys* owner_;
};
