# Cross-compiling the Windows DLL with Debian's mingw-w64 (the posix-threads
# variant of x86_64-w64-mingw32-g++):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# Tests then run under wine (wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZK_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZK_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZK_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZK_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZK_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian installs the 64-bit loader here; /usr/bin/wine picks it for 64-bit programs.
find_program(ZK_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ZK_WINE64 NAMES wine64 wine)
