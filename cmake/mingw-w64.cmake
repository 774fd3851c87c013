# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix thread model, needed by
# std::thread and Qt). The libraries built by scripts/windows-toolchain are found through
# QZ_WIN_PREFIX (or CMAKE_PREFIX_PATH); programs built here run on Linux under wine, which is also
# CTest's emulator for the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(DEFINED ENV{QZ_WIN_PREFIX} AND NOT QZ_WIN_PREFIX)
  set(QZ_WIN_PREFIX "$ENV{QZ_WIN_PREFIX}")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${QZ_WIN_PREFIX} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Debian's wine64 package puts the loader outside PATH.
find_program(QZ_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(QZ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QZ_WINE})
endif()
