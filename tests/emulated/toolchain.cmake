# Cross-compiling with Debian's cross g++ against a Debian chroot of the
# target, which gives the headers and libraries. VANTU_TRIPLET (for example
# aarch64-linux-gnu), VANTU_PROCESSOR (aarch64, armv7l) and VANTU_SYSROOT (the
# chroot) come from the environment, so that a build frontend that only
# passes a toolchain file can use it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $ENV{VANTU_PROCESSOR})
set(CMAKE_SYSROOT $ENV{VANTU_SYSROOT})
set(CMAKE_CXX_COMPILER $ENV{VANTU_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test discovery runs the test binary at build time, under emulation, with
# the target's shared libraries taken from the chroot.
if(DEFINED ENV{VANTU_QEMU})
  set(CMAKE_CROSSCOMPILING_EMULATOR $ENV{VANTU_QEMU} -L $ENV{VANTU_SYSROOT})
endif()
