# Shared by the Linux cross toolchains: Debian's g++-<triplet> cross
# compiler, with tests run under Debian's qemu-user. The cross toolchain's C
# library is the root that the emulated program's dynamic linker and
# libraries come from. Set KESTRAVE_TRIPLET and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${KESTRAVE_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KESTRAVE_TRIPLET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRAVE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(KESTRAVE_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR} NO_CMAKE_FIND_ROOT_PATH)
if(KESTRAVE_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRAVE_QEMU} -L /usr/${KESTRAVE_TRIPLET})
endif()
