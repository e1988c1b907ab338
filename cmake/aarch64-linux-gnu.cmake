# Cross build for 64-bit ARM Linux (g++-aarch64-linux-gnu); tests run under
# qemu-aarch64.
set(KESTRAVE_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
