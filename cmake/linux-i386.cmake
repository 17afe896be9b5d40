# Cross build for 32-bit x86 Linux (Debian i386), tested under qemu:
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
# SSE2, which every machine Debian's i386 runs on has, gives the store of
# 16 bytes in one instruction.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VELKOR_CROSS_TRIPLE i686-linux-gnu)
set(VELKOR_DEB_ARCH i386)
set(VELKOR_QEMU_ARCH i386)
set(CMAKE_C_FLAGS_INIT "-msse2")
set(CMAKE_CXX_FLAGS_INIT "-msse2")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
