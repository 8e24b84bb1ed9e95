#include "tests/support/HostApp.h"

#include <QFile>
#include <QProcessEnvironment>
#include <chrono>

namespace kel_test {

HostApp::HostApp(int portOffset, const std::string& scenario)
{
    root.setAutoRemove(true);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KEL_ROOT", root.path() + "/root");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("KEL_PORT_OFFSET", QString::number(portOffset));
    if (!scenario.empty()) {
        const QString file = root.path() + "/scenario";
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(scenario.data(), qint64(scenario.size()));
        env.insert("KEL_SCENARIO", file);
    }
    app.setProcessEnvironment(env);
    app.setWorkingDirectory(root.path());
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QString(KEL_BINARY_DIR) + "/kelM57N", QStringList());
}

HostApp::~HostApp()
{
    app.terminate();
    if (!app.waitForFinished(5000)) {
        app.kill();
        app.waitForFinished(5000);
    }
}

bool HostApp::waitFor(const std::string& text, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (output.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline || app.state() != QProcess::Running)
            return false;
        app.waitForReadyRead(200);
        output += app.readAll().toStdString();
    }
    return true;
}

} // namespace kel_test
