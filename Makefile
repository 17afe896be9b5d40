# Thin driver over CMake. `make demo` and `make test` do all the set-up.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
WIN32_BUILD ?= build-win32
PACKAGES ?= $(BUILD)/packages
SANITIZE_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_CC ?= $(shell command -v clang-14 || command -v clang)
FUZZ_CXX ?= $(shell command -v clang++-14 || command -v clang++)
# The other Linux machine of `make test-arch` and `make package-arch`:
# aarch64, i386 or armhf (cmake/linux-ARCH.cmake).
ARCH ?= aarch64
ARCH_BUILD ?= build-$(ARCH)

# A packager's own build type and flags, when given, over the defaults:
# Release, or None (the flags given and nothing else) when CFLAGS or
# CXXFLAGS are set. CPPFLAGS go to both compilers.
CMAKE_BUILD_TYPE ?= $(if $(strip $(CFLAGS)$(CXXFLAGS)),None,Release)
BUILD_FLAGS = -DCMAKE_BUILD_TYPE="$(CMAKE_BUILD_TYPE)" \
  $(if $(strip $(CFLAGS)$(CPPFLAGS)),"-DCMAKE_C_FLAGS=$(strip $(CPPFLAGS) $(CFLAGS))") \
  $(if $(strip $(CXXFLAGS)$(CPPFLAGS)),"-DCMAKE_CXX_FLAGS=$(strip $(CPPFLAGS) $(CXXFLAGS))") \
  $(if $(strip $(LDFLAGS)),"-DCMAKE_EXE_LINKER_FLAGS=$(strip $(LDFLAGS))")

# Builds are reproducible: file times in the packages, the Windows
# program's and the man page's date all come from SOURCE_DATE_EPOCH, by
# default the time of the last commit.
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

.PHONY: all configure build demo test install uninstall clean sanitize fuzz fuzz-seeds bench deps \
  deps-build deps-cross test-arch package-arch

all: build

# Missing Debian packages are installed when run as root, named otherwise.
deps-build:
	tools/install-deps.sh build

deps:
	tools/install-deps.sh test

deps-cross:
	tools/install-deps.sh cross

configure: deps-build
	cmake -S . -B "$(BUILD)" $(BUILD_FLAGS) $(CMAKE_FLAGS)

build: configure
	cmake --build "$(BUILD)" -j $(JOBS)

# Builds only the tool, none of the tests.
demo: configure
	cmake --build "$(BUILD)" -j $(JOBS) --target velkor
	"$(BUILD)/velkor" examples/example.bin

test: deps build
	ctest --test-dir "$(BUILD)" --output-on-failure -j $(JOBS)
	@cat "$(BUILD)/windows-suite.txt" 2>/dev/null || true

.PHONY: windows package

# The 32-bit Windows console program, cross-built with Debian's mingw-w64:
# $(WIN32_BUILD)/velkor.exe. (`make test` makes and tests its own copy.)
windows:
	cmake -S . -B "$(WIN32_BUILD)" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build "$(WIN32_BUILD)" -j $(JOBS)

# The packages into $(PACKAGES): the Linux .tar.gz and .deb, and the
# Windows .zip.
package: build windows
	tools/install-deps.sh package
	mkdir -p "$(PACKAGES)"
	packages="$$(cd "$(PACKAGES)" && pwd)" && cd "$(BUILD)" && cpack -B "$$packages"
	packages="$$(cd "$(PACKAGES)" && pwd)" && cd "$(WIN32_BUILD)" && cpack -B "$$packages"
	@ls -l "$(PACKAGES)"/*.tar.gz "$(PACKAGES)"/*.deb "$(PACKAGES)"/*.zip

# The native test suite built with AddressSanitizer and UBSan: any report
# ends its test with a failure. (The Windows program cannot be built with
# them; its suite under wine runs in `make test`.)
sanitize:
	cmake -S . -B "$(SANITIZE_BUILD)" -DCMAKE_BUILD_TYPE=Debug -DVELKOR_SANITIZE=ON \
	  -DVELKOR_WINDOWS_SUITE=OFF $(CMAKE_FLAGS)
	cmake --build "$(SANITIZE_BUILD)" -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1 \
	ctest --test-dir "$(SANITIZE_BUILD)" --output-on-failure -j $(JOBS)

# Feeds generated files to both modes of the walk for FUZZ_SECONDS seconds.
# New inputs go to $(FUZZ_BUILD)/corpus, failures to $(FUZZ_BUILD)/artifacts;
# the seeds in fuzz/corpus are only read.
fuzz:
	cmake -S . -B "$(FUZZ_BUILD)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_FUZZ=ON \
	  -DVELKOR_BUILD_TESTS=OFF -DCMAKE_C_COMPILER="$(FUZZ_CC)" -DCMAKE_CXX_COMPILER="$(FUZZ_CXX)" $(CMAKE_FLAGS)
	cmake --build "$(FUZZ_BUILD)" -j $(JOBS) --target velkor_fuzz
	mkdir -p "$(FUZZ_BUILD)/corpus" "$(FUZZ_BUILD)/artifacts"
	"$(FUZZ_BUILD)/fuzz/velkor_fuzz" -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	  -print_final_stats=1 -artifact_prefix="$(FUZZ_BUILD)/artifacts/" "$(FUZZ_BUILD)/corpus" fuzz/corpus

# Times the tool against `cat` of the same files and prints the table of
# the Performance section of doc/maintaining.md. Needs python3 and GNU time
# (/usr/bin/time); writes its inputs to bench-out/ (BENCH_DIR).
bench: deps-build
	cmake -S . -B "$(BUILD)" -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TOOLS=ON $(CMAKE_FLAGS)
	cmake --build "$(BUILD)" -j $(JOBS) --target velkor mkbin
	bench/run_bench.sh "$(BUILD)"

# Writes the seed inputs of fuzz/corpus anew.
fuzz-seeds: build
	"$(BUILD)/fuzz/velkor_fuzz_seeds" fuzz/corpus

install: build
	cmake --install "$(BUILD)" --prefix "$(PREFIX)"

# Removes what `make install` put in place, as $(BUILD)/install_manifest.txt
# lists it, and the folder of the documents.
uninstall:
	@test -f "$(BUILD)/install_manifest.txt" || \
	  { echo "uninstall: $(BUILD)/install_manifest.txt not found: nothing installed from $(BUILD)" >&2; exit 1; }
	while IFS= read -r f || [ -n "$$f" ]; do rm -f -- "$$f"; done <"$(BUILD)/install_manifest.txt"
	while IFS= read -r f || [ -n "$$f" ]; do d="$$(dirname -- "$$f")"; \
	  if [ "$$(basename -- "$$d")" = velkor ]; then rmdir -- "$$d" 2>/dev/null || true; fi; \
	done <"$(BUILD)/install_manifest.txt"

# The program and its native tests built for the Linux machine ARCH with
# clang and Debian's cross packages, run under qemu-user-static
# (the Windows suite only runs from the native build). qemu 7.2 maps a
# 32-bit program's file offsets modulo 4 GiB, so the i386 tests run the
# build without the mapped store, every write a pwrite, which it emulates
# right.
TEST_ARCH_FLAGS_i386 = -DVELKOR_MAPPED_STORE=OFF
test-arch: deps-cross
	cmake -S . -B "$(ARCH_BUILD)" -DCMAKE_TOOLCHAIN_FILE=cmake/linux-$(ARCH).cmake \
	  -DCMAKE_BUILD_TYPE=Release $(TEST_ARCH_FLAGS_$(ARCH)) $(CMAKE_FLAGS)
	cmake --build "$(ARCH_BUILD)" -j $(JOBS)
	ctest --test-dir "$(ARCH_BUILD)" --output-on-failure -j $(JOBS)

# The .tar.gz and the .deb (of Debian's name for ARCH) of the program for
# ARCH, built without the tests in $(ARCH_BUILD)-package.
package-arch: deps-cross
	tools/install-deps.sh package
	cmake -S . -B "$(ARCH_BUILD)-package" -DCMAKE_TOOLCHAIN_FILE=cmake/linux-$(ARCH).cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build "$(ARCH_BUILD)-package" -j $(JOBS)
	mkdir -p "$(PACKAGES)"
	packages="$$(cd "$(PACKAGES)" && pwd)" && cd "$(ARCH_BUILD)-package" && cpack -B "$$packages"

# Every build folder above. The benchmark's inputs in bench-out/ stay: they
# are data, not a build, and bench/run_bench.sh writes them anew each run.
clean:
	rm -rf "$(BUILD)" "$(WIN32_BUILD)" "$(SANITIZE_BUILD)" "$(FUZZ_BUILD)" build-aarch64* build-i386* build-armhf*
