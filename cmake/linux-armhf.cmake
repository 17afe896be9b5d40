# Cross build for 32-bit ARM Linux (Debian armhf), tested under qemu:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/linux-armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(VELKOR_CROSS_TRIPLE arm-linux-gnueabihf)
set(VELKOR_DEB_ARCH armhf)
set(VELKOR_QEMU_ARCH arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
