#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// Every system action the application asks of the board: shell commands, RTS changes,
// keypad reports and the like. Nothing in it is performed on a host; tests read it.
struct JournalEntry {
    std::string kind;   // "shell", "rts", "keypad", "sync" ...
    std::string text;   // the exact command text, or a description of the action
};

class Journal {
public:
    static void record(const std::string& kind, const std::string& text);
    static std::vector<JournalEntry> entries();
    static std::vector<std::string> shellCommands();          // texts of kind "shell", in order
    static bool hasShell(const std::string& exactText);
    static void clear();
    // A host run also appends every entry ("kind<TAB>text") to this file.
    static void keepInFile(const std::string& hostPath);

    // The status a shell command is answered with: the first rule whose prefix begins the
    // command wins (longest prefixes first); the default is 0 (success). Status is the raw
    // wait status, so exit code 1 is 256.
    static void setShellStatus(const std::string& commandPrefix, int rawStatus);
    static void setShellOutput(const std::string& commandPrefix, const std::string& output);
    static int shellStatus(const std::string& command);
    static std::string shellOutput(const std::string& command);
    // A command that takes its time (an interface restart): while the first command that
    // begins with the prefix runs, `meanwhile` runs (on the commanding thread, once), so a
    // test can act inside it without guessing a sleep.
    static void holdShell(const std::string& commandPrefix, std::function<void()> meanwhile);
    static void runHeld(const std::string& command);           // the shell's side
    static void reset();                                      // entries and rules
};

} // namespace sim
