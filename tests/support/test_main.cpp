#include "core/kelrampara.h"
#include "gui/textfit.h"
#include "tests/support/KeyDriver.h"
#include "tests/support/PcClient.h"

#include <QApplication>
#include <QDir>
#include <cerrno>
#include <sys/stat.h>
#include <gtest/gtest.h>

// Qt keeps its platform objects until process exit; the leak checker would report them on
// every run (test discovery included), so leak checking is off for the test programs.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

// Every test program has one application object on Qt's offscreen platform, so widget
// tests and queued signals work the same in every folder.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's per-user runtime folder, where the session has none (programs a test starts too).
    if (!qEnvironmentVariableIsSet("XDG_RUNTIME_DIR") && (::mkdir("xdg-runtime", 0700) == 0 || errno == EEXIST))
        qputenv("XDG_RUNTIME_DIR", QDir::currentPath().toLocal8Bit() + "/xdg-runtime");
    // The device's threads edit and read the parameter block under its lock. A socket
    // orders the PC's request before the device's answer, but a thread checker does not
    // count a socket as ordering; so a test's PC client takes that lock once before it sends
    // and once after it receives, and what a test reads or writes in the block between
    // exchanges is ordered with the device's threads as it is on the wire.
    pc::PcClient::exchangeHook = [] { std::unique_lock<std::mutex> hold = KelRamPara::lock_block(); };
    QApplication app(argc, argv);
    kel_text_rendering_init();   // the panel's text rendering, as the program sets it
    kel_test::watchWindows();    // a modal screen a test leaves open fails it, not the CI run
    return RUN_ALL_TESTS();
}
