# What the mingw-w64 tool chain files share; each sets CMAKE_SYSTEM_PROCESSOR,
# VELKOR_MINGW_TARGET and VELKOR_MINGW_PACKAGE first.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread model needs no winpthread DLL; the posix one is the
# fallback, linked statically below all the same.
find_program(CMAKE_C_COMPILER NAMES ${VELKOR_MINGW_TARGET}-gcc-win32 ${VELKOR_MINGW_TARGET}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${VELKOR_MINGW_TARGET}-g++-win32 ${VELKOR_MINGW_TARGET}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${VELKOR_MINGW_TARGET}-windres)
if(NOT CMAKE_C_COMPILER OR NOT CMAKE_CXX_COMPILER OR NOT CMAKE_RC_COMPILER)
  message(FATAL_ERROR "The ${VELKOR_MINGW_TARGET} compilers were not found: "
                      "install ${VELKOR_MINGW_PACKAGE} (Debian) for the Windows build.")
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
# the DLLs that every Windows has (KERNEL32, msvcrt). No link time in its
# header: two builds of the same sources are the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
