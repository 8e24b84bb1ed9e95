#pragma once
#include <cstdint>
#include <functional>

namespace sim {

// A power cut at a chosen step of what the board stores: a program or erase of a flash (the
// FPGA configuration flashes, the raw flash partitions) or a step of an atomic file write
// (temporary file written, flushed, renamed). Once the armed number of steps is done the
// supply is gone: no later step reaches the flash or the files, and what was stored before
// stays, until restore() (the next start). Steps are counted whether or not a cut is armed,
// so a test can first count the steps of an operation and then cut after each of them.
// A store can also fail with the supply held (a full disc, a folder that cannot take files):
// after failAfter(n, error) every file step from the n-th on answers error and stores nothing.
class PowerCut {
public:
    static void after(uint64_t steps);   // the supply fails once that many more steps are done
    static void restore();               // supply back, nothing armed; the count starts again
    static void failAfter(uint64_t steps, int error);
    // The one step that many steps on fails with error (a write the disc refused once); the
    // steps after it are stored again.
    static void failOnce(uint64_t steps, int error);
    static bool step();                  // a step about to be stored: false when it is lost
    // A step of a file store: 0 stored, -1 the supply failed, else the error it fails with.
    static int fileStep();
    static uint64_t steps();             // steps done since the last restore
    static bool cut();                   // the supply has failed
    // Steps lost since the last after() or restore(): the first lost is the one the supply
    // failed during (a flash program may then be torn).
    static uint64_t lost();
    // What happens on the board meanwhile: act runs once, just before the next file step this
    // thread makes (another thread's PC frame arriving while this one stores, say); cleared by
    // restore(). Nothing else runs it.
    static void meanwhile(std::function<void()> act);
};

} // namespace sim
