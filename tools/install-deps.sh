#!/usr/bin/env bash
# Installs the Debian packages that a build needs and the machine lacks.
#
#   tools/install-deps.sh build   compiler, CMake, make
#   tools/install-deps.sh package + dpkg-dev, whose dpkg-shlibdeps finds
#                                 the .deb's dependencies (make package),
#                                 and lintian, which checks the .deb
#   tools/install-deps.sh cross   + clang 14, qemu-user-static, GoogleTest's
#                                 sources, and Debian's cross C library,
#                                 libstdc++ and binutils for aarch64, i386
#                                 and armhf (make test-arch)
#   tools/install-deps.sh test    + GoogleTest; optional: the Windows suite's
#                                 mingw-w64 cross compilers (i686, x86_64)
#                                 and wine (32- and 64-bit), and strace for
#                                 the system-call fault tests
#   tools/install-deps.sh all     everything above, and clang 14's sanitizer
#                                 and libFuzzer runtimes (make fuzz; make
#                                 sanitize uses GCC)
#
# As root it installs what is missing, in two steps: the required packages,
# whose failure stops the build with their names, then the optional ones,
# whose failure is reported and passed over (a package index that failed to
# download, an i386 wine that cannot be installed beside newer amd64
# libraries). Otherwise it names what is missing: a missing compiler, CMake
# or GoogleTest stops the build; without the cross compiler or wine the
# Windows suite is skipped, and says so; without strace, so are the tests
# that make system calls fail.
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
  command -v lintian >/dev/null || required+=(lintian)
fi
if [ "$level" = cross ] || [ "$level" = all ]; then
  # One set that installs together: clang for every machine, with Debian's
  # cross packages (gcc-multilib would remove the GCC cross compilers).
  command -v clang++-14 >/dev/null || required+=(clang-14)
  command -v qemu-aarch64-static >/dev/null || required+=(qemu-user-static)
  [ -f /usr/src/googletest/googletest/CMakeLists.txt ] || required+=(libgtest-dev)
  for cross in aarch64-linux-gnu:arm64 i686-linux-gnu:i386 arm-linux-gnueabihf:armhf; do
    triple="${cross%%:*}" arch="${cross#*:}"
    command -v "$triple-ld" >/dev/null || required+=("binutils-$triple")
    [ -f "/usr/$triple/include/c++/12/vector" ] || required+=("libstdc++-12-dev-$arch-cross")
  done
fi
if [ "$level" != build ] && [ "$level" != package ] && [ "$level" != cross ]; then
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
  compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    required+=(libclang-rt-14-dev)
fi

[ $((${#required[@]} + ${#optional[@]})) -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  missing=("${required[@]}" "${optional[@]}")
  echo "Missing Debian packages: ${missing[*]}" >&2
  echo "Install them as root: apt-get install ${missing[*]}" >&2
  [ ${#required[@]} -eq 0 ]
  exit
fi

export DEBIAN_FRONTEND=noninteractive
if [ $foreign_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
# An index that fails to download (a mirror in the middle of a sync) is
# only a warning: what is needed may well install from the others.
apt-get update -q || echo "install-deps: apt-get update reported errors; going on with the package lists it has" >&2

if [ ${#required[@]} -gt 0 ] && ! apt-get install -y -q "${required[@]}"; then
  echo "install-deps: could not install the required packages: ${required[*]}" >&2
  exit 1
fi

if [ ${#optional[@]} -gt 0 ] && ! apt-get install -y -q "${optional[@]}"; then
  # Together they failed: each on its own, so that one that cannot be had
  # keeps none of the others out.
  skipped=()
  for package in "${optional[@]}"; do
    apt-get install -y -q "$package" || skipped+=("$package")
  done
  if [ ${#skipped[@]} -gt 0 ]; then
    echo "install-deps: optional packages skipped: ${skipped[*]}" >&2
    if /usr/lib/wine/wine --version >/dev/null 2>&1 </dev/null; then
      echo "install-deps: the Windows suite runs under 32-bit wine" >&2
    elif [ -x /usr/lib/wine/wine64 ] && command -v x86_64-w64-mingw32-g++ >/dev/null; then
      echo "install-deps: the Windows suite runs under 64-bit wine" >&2
    else
      echo "install-deps: the Windows suite is skipped (and fails in CI)" >&2
    fi
  fi
fi
exit 0
