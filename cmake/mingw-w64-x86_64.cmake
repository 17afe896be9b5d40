# Cross build of the same sources as a 64-bit Windows console program with
# Debian's mingw-w64 x86_64 tool chain. The program shipped is the 32-bit
# one; this build is what the Windows suite runs under 64-bit wine on a
# machine that cannot run 32-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VELKOR_MINGW_TARGET x86_64-w64-mingw32)
# The win32 thread model needs no winpthread DLL; the posix one is the
# fallback, linked statically below all the same.
find_program(CMAKE_C_COMPILER NAMES ${VELKOR_MINGW_TARGET}-gcc-win32 ${VELKOR_MINGW_TARGET}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${VELKOR_MINGW_TARGET}-g++-win32 ${VELKOR_MINGW_TARGET}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${VELKOR_MINGW_TARGET}-windres)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "The ${VELKOR_MINGW_TARGET} compilers were not found: "
                      "install g++-mingw-w64-x86-64 (Debian) for the Windows build.")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VELKOR_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# printf and its PRI macros from mingw-w64's own C99 implementation, so that
# 64-bit offsets print alike on every Windows (libstdc++ asks for it too).
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# The C and C++ runtimes go into the .exe, so that it needs nothing beyond
# the DLLs that every Windows has (KERNEL32, msvcrt).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
