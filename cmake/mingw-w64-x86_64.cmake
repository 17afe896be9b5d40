# Cross build of the same sources as a 64-bit Windows console program with
# Debian's mingw-w64 x86_64 tool chain. The program shipped is the 32-bit
# one; this build is what the Windows suite runs under 64-bit wine on a
# machine that cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELKOR_MINGW_TARGET x86_64-w64-mingw32)
set(VELKOR_MINGW_PACKAGE g++-mingw-w64-x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
