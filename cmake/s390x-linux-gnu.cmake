# Cross build for IBM Z Linux (g++-s390x-linux-gnu), a big-endian host;
# tests run under qemu-s390x.
set(KESTRAVE_TRIPLET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
