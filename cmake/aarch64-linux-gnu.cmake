# Cross build for aarch64 Linux with Debian's g++-aarch64-linux-gnu. Tests run under
# Debian's qemu-user, with the cross toolchain's C library as the root that
# the emulated program's dynamic linker and libraries come from.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(KESTRAVE_QEMU qemu-aarch64 NO_CMAKE_FIND_ROOT_PATH)
if(KESTRAVE_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRAVE_QEMU} -L /usr/aarch64-linux-gnu)
endif()
