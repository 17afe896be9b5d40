#!/usr/bin/env bash
# Installs the Debian packages that a build needs and the machine lacks.
#
#   tools/install-deps.sh build   compiler, CMake, make
#   tools/install-deps.sh package + dpkg-dev, whose dpkg-shlibdeps finds
#                                 the .deb's dependencies (make package)
#   tools/install-deps.sh test    + GoogleTest, the Windows suite's
#                                 mingw-w64 cross compilers (i686, x86_64)
#                                 and wine (32- and 64-bit), and strace for
#                                 the system-call fault tests
#   tools/install-deps.sh all     + clang 14 with its sanitizer and libFuzzer
#                                 runtimes (make fuzz; make sanitize uses
#                                 GCC), and dpkg-dev
#
# As root it installs what is missing (apt-get update first). Otherwise it
# names what is missing: a missing compiler, CMake or GoogleTest stops the
# build; without the cross compiler or wine the Windows suite is skipped, and
# says so; without strace, so are the tests that make system calls fail.
set -euo pipefail
level="${1:-test}"

required=()
optional=()
foreign_i386=0
command -v cmake >/dev/null || required+=(cmake)
command -v g++ >/dev/null || required+=(g++)
command -v make >/dev/null || required+=(make)
if [ "$level" = package ] || [ "$level" = all ]; then
  command -v dpkg-shlibdeps >/dev/null || required+=(dpkg-dev)
fi
if [ "$level" != build ] && [ "$level" != package ]; then
  [ -f /usr/include/gtest/gtest.h ] || required+=(libgtest-dev)
  command -v i686-w64-mingw32-g++ >/dev/null || optional+=(g++-mingw-w64-i686)
  command -v wine >/dev/null || optional+=(wine)
  command -v strace >/dev/null || optional+=(strace)
  if [ ! -x /usr/lib/wine/wine ]; then
    optional+=(wine32:i386)
    foreign_i386=1
  fi
  # Where the kernel cannot run 32-bit programs, the suite runs an x86_64
  # build of the same sources under 64-bit wine instead.
  [ -x /usr/lib/wine/wine64 ] || optional+=(wine64)
  command -v x86_64-w64-mingw32-g++ >/dev/null || optional+=(g++-mingw-w64-x86-64)
fi
if [ "$level" = all ]; then
  command -v clang++-14 >/dev/null || required+=(clang-14)
  compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    required+=(libclang-rt-14-dev)
fi

missing=("${required[@]}" "${optional[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  if [ $foreign_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  apt-get update -q
  apt-get install -y -q "${missing[@]}"
  exit 0
fi

echo "Missing Debian packages: ${missing[*]}" >&2
echo "Install them as root: apt-get install ${missing[*]}" >&2
[ ${#required[@]} -eq 0 ]
