# The 64-bit ARM Linux build (arm64): aarch64 with Debian's
# g++-aarch64-linux-gnu, its programs run under qemu-aarch64 (package
# qemu-user).
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(TVRCGCV_CROSS_TRIPLE aarch64-linux-gnu)
set(TVRCGCV_CROSS_PROCESSOR aarch64)
set(TVRCGCV_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
