# Shared part of the Linux cross builds: s390x-linux-gnu.cmake (big-endian),
# i686-linux-gnu.cmake (32-bit) and aarch64-linux-gnu.cmake (arm64) set the
# target and include this file.
#
#   TVRCGCV_CROSS_TRIPLE     GNU triple of Debian's cross compiler (g++-<triple>)
#   TVRCGCV_CROSS_PROCESSOR  CMAKE_SYSTEM_PROCESSOR of the target
#   TVRCGCV_CROSS_QEMU       qemu-user program that runs the target's programs
#
# The target's C library comes from Debian's cross packages under
# /usr/<triple>; qemu finds the dynamic loader there (-L). ctest runs the
# test programs through it, so the unit tests run as on the real machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TVRCGCV_CROSS_PROCESSOR})

set(CMAKE_C_COMPILER ${TVRCGCV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TVRCGCV_CROSS_TRIPLE}-g++)

set(TVRCGCV_CROSS_SYSROOT /usr/${TVRCGCV_CROSS_TRIPLE})
set(CMAKE_CROSSCOMPILING_EMULATOR ${TVRCGCV_CROSS_QEMU} -L ${TVRCGCV_CROSS_SYSROOT})

# Headers and libraries come from the cross sysroot only; programs that run
# during the build are the host's.
set(CMAKE_FIND_ROOT_PATH ${TVRCGCV_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config looks in the sysroot alone, so that no library of the host is
# ever taken for the target's.
set(ENV{PKG_CONFIG_LIBDIR} ${TVRCGCV_CROSS_SYSROOT}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# libspng's header is the same on every machine, and the program loads the
# library itself at run time (for PNG output), so the build machine's header
# serves. The cross sysroot has none: a copy of that one header goes into
# the build tree (never /usr/include as a whole, whose other headers are the
# build machine's).
if(EXISTS /usr/include/spng.h AND NOT TVRCGCV_SPNG_INCLUDE_DIR)
  file(COPY /usr/include/spng.h DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
  set(TVRCGCV_SPNG_INCLUDE_DIR ${CMAKE_BINARY_DIR}/host-headers CACHE PATH
    "Folder with spng.h (a copy of the build machine's)" FORCE)
endif()
