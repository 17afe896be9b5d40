# Cross build for 64-bit ARM Linux (Debian arm64), tested under qemu:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-aarch64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VELKOR_CROSS_TRIPLE aarch64-linux-gnu)
set(VELKOR_DEB_ARCH arm64)
set(VELKOR_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
