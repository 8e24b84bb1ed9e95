#pragma once
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <string>

namespace kel_test {

// The program started on the simulated board as a child process: offscreen, with its own
// data root, its listening ports moved by portOffset and, when given, a scenario file of
// key=value lines (what is connected). Stopped when the object goes.
class HostApp {
public:
    explicit HostApp(int portOffset, const std::string& scenario = std::string());
    ~HostApp();
    // Reads the output until it holds text, for at most seconds.
    bool waitFor(const std::string& text, int seconds);

    QTemporaryDir root;
    QProcess app;
    std::string output;
};

} // namespace kel_test
