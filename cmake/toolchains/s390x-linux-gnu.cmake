# The big-endian Linux build: s390x with Debian's g++-s390x-linux-gnu, its
# programs run under qemu-s390x (package qemu-user).
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x-linux-gnu.cmake
set(TVRCGCV_CROSS_TRIPLE s390x-linux-gnu)
set(TVRCGCV_CROSS_PROCESSOR s390x)
set(TVRCGCV_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
