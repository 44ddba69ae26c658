# Cross-builds Sonvale for 64-bit Windows with Debian's MinGW-w64 compiler
# (g++-mingw-w64-x86-64-posix: the POSIX thread model, which std::thread and
# std::mutex need) and runs the built programs under Wine (wine64), so that
# ctest runs the tests as on Linux:
#   cmake -S . -B build-win --toolchain cmake/toolchains/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SONVALE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SONVALE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SONVALE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SONVALE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SONVALE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian installs the 64-bit Wine launcher outside PATH.
find_program(SONVALE_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(SONVALE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SONVALE_WINE})
endif()
