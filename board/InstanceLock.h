#pragma once
#include <string>

namespace board {

// One program per data root: two would write the same settings, journal and terminal names
// over each other. The lock is a record lock on a file, so it goes with its process, also
// when that is killed.
class InstanceLock {
public:
    // Locks the file at path (a host path, created when missing) for the life of the process.
    // false when another process holds it; holderPid is then that process (0 when unknown).
    // A file that cannot be opened is no refusal: a root that cannot be written is named by
    // the start-up, and nothing can be overwritten there anyway.
    static bool take(const std::string& path, int& holderPid);
};

} // namespace board
