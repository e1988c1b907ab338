# Cross build for s390x Linux with Debian's g++-s390x-linux-gnu. Tests run under
# Debian's qemu-user, with the cross toolchain's C library as the root that
# the emulated program's dynamic linker and libraries come from.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(KESTRAVE_QEMU qemu-s390x NO_CMAKE_FIND_ROOT_PATH)
if(KESTRAVE_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRAVE_QEMU} -L /usr/s390x-linux-gnu)
endif()
