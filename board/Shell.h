#pragma once
#include <string>

namespace board {

// System actions (network set-up, reboot, hwclock, hostapd, chmod ...). On the board they
// run through the shell; on the simulated board each one is recorded in the journal with
// its exact text and answered with a configured status, and nothing is executed.
class Shell {
public:
    // Like system(): the raw wait status (exit code * 256 for a normal exit), -1 when the
    // command could not be started.
    static int system(const std::string& command);

    // Like popen(command, "r") read to the end in lines of at most lineSize - 1 bytes.
    // started is set to false when the command could not be started.
    static std::string read(const std::string& command, size_t lineSize, bool* started = nullptr);
};

} // namespace board
