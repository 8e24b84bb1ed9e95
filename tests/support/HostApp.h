#pragma once
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <string>

// Starts the HostApp host (start's arguments follow) or ends the test: skipped, saying why,
// when no ports free of other programs were found; failed, with the output, otherwise.
#define KEL_START_HOST(host, ...) \
    do { if (!(host).start(__VA_ARGS__)) { if (!(host).skipped.empty()) GTEST_SKIP() << (host).skipped; FAIL() << (host).output; } } while (0)

namespace kel_test {

// The program started on the simulated board as a child process: offscreen, working in a
// directory of its own with its data root below it ("root") and, when given, a scenario file
// of key=value lines (what is connected). Its listening ports are moved by an offset below
// the ephemeral range that the program itself takes by binding: when a port is held by
// another process it is started again at another offset. Stopped when the object goes.
class HostApp {
public:
    HostApp();
    ~HostApp();
    // Starts the program and waits until it reports its start-up done with all its ports;
    // false (output tells why) when it stopped or never got there.
    bool start(const std::string& scenario = std::string());
    void stop();
    // Reads the output until it holds text, for at most seconds.
    bool waitFor(const std::string& text, int seconds);
    // The output with everything printed so far (for failure messages).
    const std::string& outputSoFar();

    // Run on the fresh data root before each start (to give it files, say).
    std::function<void(const std::string& dataRoot)> prepare;

    QTemporaryDir root;
    QProcess app;
    std::string output;
    int offset = -1;       // the port offset of the running program
    std::string skipped;   // why no start could be tried on ports nobody else holds
};

} // namespace kel_test
