# Thin driver over CMake. `make demo` and `make test` do all the set-up.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
WIN32_BUILD ?= build-win32
PACKAGES ?= $(BUILD)/packages

.PHONY: all build demo test install clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	./$(BUILD)/velkor examples/example.bin

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

.PHONY: windows package

# The 32-bit Windows console program, cross-built with Debian's mingw-w64:
# $(WIN32_BUILD)/velkor.exe. (`make test` makes and tests its own copy.)
windows:
	cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_TESTS=OFF
	cmake --build $(WIN32_BUILD) -j $(JOBS)

# Both packages into $(PACKAGES): the Linux .tar.gz and the Windows .zip.
package: build windows
	cd $(BUILD) && cpack -B $(abspath $(PACKAGES))
	cd $(WIN32_BUILD) && cpack -B $(abspath $(PACKAGES))
	@ls -l $(PACKAGES)/*.tar.gz $(PACKAGES)/*.zip

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
