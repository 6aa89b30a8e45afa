# The 32-bit Linux build: i686 with Debian's g++-i686-linux-gnu, its
# programs run under qemu-i386 (package qemu-user).
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i686-linux-gnu.cmake
set(TVRCGCV_CROSS_TRIPLE i686-linux-gnu)
set(TVRCGCV_CROSS_PROCESSOR i686)
set(TVRCGCV_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
