# Cross-builds the Windows console program (tvrcgcv.exe) with mingw-w64 on
# Linux, e.g. Debian's g++-mingw-w64-x86-64:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake
# and the 32-bit program, which runs on every Windows, with
# g++-mingw-w64-i686:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64.cmake \
#     -DTVRCGCV_MINGW_TRIPLE=i686-w64-mingw32
# The executables link the C and C++ runtimes statically (see the settings
# target in cmake/Warnings.cmake), so tvrcgcv.exe needs no DLL beyond those
# of Windows itself.
set(CMAKE_SYSTEM_NAME Windows)

set(TVRCGCV_MINGW_TRIPLE x86_64-w64-mingw32 CACHE STRING
  "Target triple of the mingw-w64 tools: x86_64-w64-mingw32 or i686-w64-mingw32")
# The compiler checks read this file again in projects of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TVRCGCV_MINGW_TRIPLE)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${TVRCGCV_MINGW_TRIPLE}")
# Debian installs the compilers in two threading flavours. The posix one is
# taken where it exists: only it has std::mutex (which GoogleTest uses) in
# GCC 12; its thread library is linked statically like the rest.
find_program(TVRCGCV_MINGW_CC NAMES ${TVRCGCV_MINGW_TRIPLE}-gcc-posix ${TVRCGCV_MINGW_TRIPLE}-gcc
  REQUIRED)
find_program(TVRCGCV_MINGW_CXX NAMES ${TVRCGCV_MINGW_TRIPLE}-g++-posix ${TVRCGCV_MINGW_TRIPLE}-g++
  REQUIRED)
set(CMAKE_C_COMPILER ${TVRCGCV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${TVRCGCV_MINGW_CXX})
set(CMAKE_RC_COMPILER ${TVRCGCV_MINGW_TRIPLE}-windres)

# Headers and libraries come from the mingw-w64 sysroot only; programs that
# run during the build are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${TVRCGCV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
