# Cross build of kestrave.exe for 64-bit Windows with Debian's mingw-w64
# (g++-mingw-w64-x86-64-posix). Tests run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One executable with no DLL beyond Windows' own: the C++ runtime, libgcc
# and winpthread are linked in. The PE header gets no time stamp, so the
# same source always links to the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# Debian installs wine64 outside PATH; the wine wrapper would complain on
# standard error about a missing 32-bit wine.
find_program(KESTRAVE_WINE64 wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTRAVE_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRAVE_WINE64})
endif()
