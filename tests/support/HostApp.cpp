#include "tests/support/HostApp.h"

#include "tests/support/PrivatePorts.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <chrono>

namespace kel_test {

namespace {
// The program opens every listening port before it reports this.
const char kStarted[] = "start-up done";
// The line that names the PC ports the program could not open (held by another program).
const char kPortTaken[] = "PC ports that cannot be opened: ";
} // namespace

HostApp::HostApp()
{
    root.setAutoRemove(true);
}

bool HostApp::start(const std::string& scenario)
{
    // Nothing of the caller's own runs (a KEL_SCENARIO, KEL_PORT_OFFSET, KEL_TRACE) reaches the program.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        if (key.startsWith("KEL_") && key != "KEL_EMULATED")
            env.remove(key);
    env.insert("KEL_ROOT", root.path() + "/root");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    if (!scenario.empty()) {
        const QString file = root.path() + "/scenario";
        QFile out(file);
        if (out.open(QIODevice::WriteOnly))
            out.write(scenario.data(), qint64(scenario.size()));
        env.insert("KEL_SCENARIO", file);
    }
    app.setWorkingDirectory(root.path());
    app.setProcessChannelMode(QProcess::MergedChannels);
    // 13769 is the highest port the program listens on. Only a port held elsewhere makes
    // it start again; a program that stops or never reports its start-up fails the launch.
    std::string taken;
    skipped.clear();
    offset = bindPrivatePorts(13769, [&](int tried) {
        stop();
        QDir(root.path() + "/root").removeRecursively();
        if (prepare)
            prepare(root.path().toStdString() + "/root");
        output.clear();
        env.insert("KEL_PORT_OFFSET", QString::number(tried));
        app.setProcessEnvironment(env);
        app.start(QString(KEL_BINARY_DIR) + "/kelM57N", QStringList());
        // Bounded generously: under the thread checker on a loaded machine start-up is slow.
        app.waitForStarted(10000);
        waitFor(kStarted, 300);
        const size_t at = output.find(kPortTaken);
        taken = at == std::string::npos ? std::string() : output.substr(at, output.find('\n', at) - at);
        return taken.empty();
    }, 10);
    if (offset < 0 && maxPortOffset(13769) <= 100)
        skipped = "no room below the ephemeral range (from " + std::to_string(ephemeralStart()) + ") for the program's ports 5005-13769";
    else if (offset < 0 && !taken.empty())
        skipped = "10 port offsets tried, each with ports other programs hold; the last: " + taken;
    if (!taken.empty() || output.find(kStarted) == std::string::npos)
        offset = -1;
    return offset >= 0;
}

HostApp::~HostApp()
{
    stop();
}

void HostApp::stop()
{
    if (app.state() == QProcess::NotRunning)
        return;
    app.terminate();
    if (!app.waitForFinished(5000)) {
        app.kill();
        app.waitForFinished(5000);
    }
}

const std::string& HostApp::outputSoFar()
{
    app.waitForReadyRead(0);
    output += app.readAll().toStdString();
    return output;
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
