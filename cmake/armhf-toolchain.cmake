# Cross build for the board: 32-bit ARM (Cortex-A7, hard float) with Debian's armhf
# cross compiler and the armhf -dev packages installed beside the host's (multiarch).
# The program links the board backend; the host's moc, uic and rcc serve, as Debian's
# armhf Qt configuration points at them. Test programs run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_C_FLAGS_INIT "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard")
# -Wno-psabi: GCC notes that 7.1 changed how some arguments are passed; that matters only
# when mixing objects of older compilers, and everything here is built by one.
set(CMAKE_CXX_FLAGS_INIT "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard -Wno-psabi")

# Only armhf libraries and headers; programs (moc, uic, rcc) come from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH /)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# qemu-arm runs the test programs (gtest discovery at build time and ctest). Without -L:
# Debian's armhf libraries live in the multiarch paths, which the armhf loader finds.
find_program(KEL_QEMU_ARM NAMES qemu-arm-static qemu-arm)
if(KEL_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KEL_QEMU_ARM})
endif()

set(KEL_BOARD "linux" CACHE STRING "board backend the application links: sim or linux" FORCE)
