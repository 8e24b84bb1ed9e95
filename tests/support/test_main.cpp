#include <QApplication>
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
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
