#pragma once
// Entry to the board layer. Everything that leaves the process goes through the classes
// declared in this folder; board/linux implements them on the board, board/sim on a host.

namespace board {

// Called first thing in main. The board backend refuses to run (returns false) when the
// board's own memory-request device is missing, so a board binary started on a PC by
// mistake touches nothing. The simulated board reads KEL_ROOT and KEL_SCENARIO here.
bool start();

// "linux" or "sim": printed at start-up so a trace shows what the process talks to.
const char* backendName();

} // namespace board
