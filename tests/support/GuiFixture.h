#pragma once
// A fixture for screen tests: a fresh simulated board and data root, the scaler manager's
// lock and apply flag (no thread), a freshly loaded parameter object connected to the
// refresh dispatcher as main connects it (queued: a notification is handled when events
// run, e.g. in kel_test::settle() or after a key), English with all five languages offered, and the
// GUI globals back at their start values. mainWindow() builds the main menu (page 1) the
// way main does. TearDown deletes every window the test left behind.
#include "tests/support/Grab.h"
#include "tests/support/KeyDriver.h"
#include "tests/support/TestRoot.h"
#include "tests/support/TickDriver.h"

#include <gtest/gtest.h>

class KelRamPara;
class MainWindow;

namespace kel_test {

// The program keeps one of each manager (the scaler's, the inputs', the FPGAs', the keyed
// settings); one a test set up would reach every test after it. Every fixture that touches
// them starts here: a fresh scaler manager without its thread, no input or FPGA manager (a
// test makes its own), the keyed settings read anew from the test's data root.
void resetSharedManagers();

class GuiFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // g_mainwindow, shown, page 1.
    MainWindow* mainWindow();
    // The scaler's apply flag (0 when nothing waits to be applied).
    static int applyFlag();
    static void setApplyFlag(int value);
    // What the scaler thread does after applying: clear the flag (and the PC's pending
    // write) and notify with the code;
    // the notification is handled before this returns.
    void scalerApplied(int code = 1);

    TestRoot root;
    KelRamPara* para = nullptr;
};

} // namespace kel_test
