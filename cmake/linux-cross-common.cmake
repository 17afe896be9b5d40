# What the Linux cross tool chain files share; each sets
# CMAKE_SYSTEM_PROCESSOR, VELKOR_CROSS_TRIPLE (Debian's GNU triple, whose
# cross packages live under /usr/TRIPLE), VELKOR_DEB_ARCH (the .deb's
# architecture) and VELKOR_QEMU_ARCH first.
#
# clang compiles for every machine; Debian's cross packages give it the C
# library, libstdc++ and the linker (libstdc++-12-dev-ARCH-cross,
# binutils-TRIPLE). They install beside the native GCC and mingw-w64,
# which gcc-multilib would not allow. The programs run under
# qemu-user-static, which finds the target's dynamic loader under /usr/TRIPLE.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_C_COMPILER NAMES clang-14 clang)
find_program(CMAKE_CXX_COMPILER NAMES clang++-14 clang++)
find_program(CMAKE_STRIP NAMES ${VELKOR_CROSS_TRIPLE}-strip)
find_program(VELKOR_CROSS_LD NAMES ${VELKOR_CROSS_TRIPLE}-ld)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_STRIP OR NOT VELKOR_CROSS_LD OR
   NOT EXISTS /usr/${VELKOR_CROSS_TRIPLE}/include/stdio.h)
  message(FATAL_ERROR "The ${VELKOR_CROSS_TRIPLE} cross build needs clang-14, "
                      "binutils-${VELKOR_CROSS_TRIPLE} and libstdc++-12-dev-${VELKOR_DEB_ARCH}-cross "
                      "(Debian): tools/install-deps.sh cross installs them")
endif()
set(CMAKE_C_COMPILER_TARGET ${VELKOR_CROSS_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${VELKOR_CROSS_TRIPLE})

set(CMAKE_FIND_ROOT_PATH /usr/${VELKOR_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Where qemu is there, the native tests are built too and run under it.
find_program(VELKOR_QEMU NAMES qemu-${VELKOR_QEMU_ARCH}-static)
if(VELKOR_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELKOR_QEMU} -L /usr/${VELKOR_CROSS_TRIPLE})
endif()
