# Cross build of the 32-bit Windows console program with Debian's
# mingw-w64 i686 tool chain:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELKOR_MINGW_TARGET i686-w64-mingw32)
set(VELKOR_MINGW_PACKAGE g++-mingw-w64-i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
