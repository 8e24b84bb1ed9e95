#include <QApplication>
#include <gtest/gtest.h>

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
