#pragma once
#include <cstdlib>
#include <gtest/gtest.h>

namespace kel_test {

// The board build's test programs run under qemu-user (ctest sets KEL_EMULATED there).
// qemu-user refuses the clone flags a child process needs, so tests that start the
// program as a child process are skipped there and keep running in the native suite.
inline bool underEmulation() { return std::getenv("KEL_EMULATED") != nullptr; }

} // namespace kel_test

#define KEL_SKIP_UNDER_EMULATION()                                                                 \
    if (kel_test::underEmulation())                                                                \
    GTEST_SKIP() << "starts the program as a child process, which qemu-user cannot run"
