#pragma once
// The device-state screen (page 2): link state of the ten LED output ports, signal state of
// the four inputs, application and FPGA versions and the serial number. It changes nothing.

#include "gui/kel_keyboard.h"

#include <QDialog>

class QFrame;
class QLabel;

namespace Ui {
class MachineState;
}

class MachineState : public QDialog {
    Q_OBJECT
public:
    explicit MachineState(QWidget* parent = nullptr);
    ~MachineState() override;

    void initWlan();
    void source_check();
    void version_changed();
    void language_changed();
    void syncUpdate(int code);

    Ui::MachineState* ui;
    // The output-port strip of the last initWlan, with its number and icon labels.
    QFrame* wlan_frame = nullptr;
    QLabel* wlan_number[10] = {};
    QLabel* wlan_icon[10] = {};
    // The link mask the strip was built from (bit i = port i + 1 linked).
    unsigned wlan_mask = 0;
    kel_keyboard keyboard;

    // "V11.02.00 2026-09-28"
    static QString mcu_version();
    // "V11.00.<b28> <2000 + b31>-<b30>-<b29>" from FPGA 0's register image (hexadecimal).
    static QString fpga_version(const unsigned char* regs);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private slots:
    void on_Button_back_clicked();

private:
    void back_to_main_menu();
};

extern MachineState* g_machinestate;
