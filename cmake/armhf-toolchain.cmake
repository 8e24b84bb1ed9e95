# Cross build for the board: 32-bit ARM (Cortex-A7, hard float) with Debian's armhf cross
# compiler (an amd64 program of the host) against the board's own system root, which
# scripts/board-root makes from Debian's armhf packages (unpacked only) and names in
# KEL_BOARD_ROOT. Nothing armhf is installed on the host. Qt's moc, uic and rcc are the
# host's (cmake/armhf-host-qt-tools.cmake); test programs run under qemu-arm with the root as
# the prefix of every path they open.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard")
# -Wno-psabi: GCC notes that 7.1 changed how some arguments are passed; that matters only
# when mixing objects of older compilers, and everything here is built by one.
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard -Wno-psabi")

if(NOT KEL_BOARD_ROOT AND DEFINED ENV{KEL_BOARD_ROOT})
  set(KEL_BOARD_ROOT "$ENV{KEL_BOARD_ROOT}")
endif()
if(NOT KEL_BOARD_ROOT OR NOT EXISTS "${KEL_BOARD_ROOT}/usr/lib/arm-linux-gnueabihf")
  message(FATAL_ERROR "KEL_BOARD_ROOT names no armhf system root (\"${KEL_BOARD_ROOT}\"); scripts/board-root makes one")
endif()
set(KEL_BOARD_ROOT "${KEL_BOARD_ROOT}" CACHE PATH "the board's armhf system root" FORCE)
# The compiler checks' own builds see the same root.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KEL_BOARD_ROOT)

set(CMAKE_SYSROOT "${KEL_BOARD_ROOT}")
set(CMAKE_FIND_ROOT_PATH "${KEL_BOARD_ROOT}")
# Only the root's libraries and headers; programs (moc, uic, rcc) come from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "${KEL_BOARD_ROOT}/usr/lib/arm-linux-gnueabihf/pkgconfig:${KEL_BOARD_ROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${KEL_BOARD_ROOT}")
# The root's Qt packages name their own (armhf) moc, uic and rcc: the host's are set first.
set(CMAKE_PROJECT_INCLUDE "${CMAKE_CURRENT_LIST_DIR}/armhf-host-qt-tools.cmake")

# qemu-arm runs the test programs (gtest discovery at build time and ctest), loading the
# root's loader and libraries (-L).
find_program(KEL_QEMU_ARM NAMES qemu-arm-static qemu-arm)
if(KEL_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KEL_QEMU_ARM} -L ${KEL_BOARD_ROOT})
endif()

set(KEL_BOARD "linux" CACHE STRING "board backend the application links: sim or linux" FORCE)
