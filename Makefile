# Front door: make demo, make test, make bench. Each installs what is missing first.
BUILD ?= build
NATIVE := $(BUILD)/native
WIN32DIR := $(BUILD)/win32
WIN64DIR := $(BUILD)/win64
JOBS ?= $(shell nproc)
CMAKE_NATIVE := cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release
CMAKE_WIN32 := cmake -S . -B $(WIN32DIR) -DCMAKE_BUILD_TYPE=Release \
	-DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/toolchain-i686-mingw.cmake)
CMAKE_WIN64 := cmake -S . -B $(WIN64DIR) -DCMAKE_BUILD_TYPE=Release \
	-DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/toolchain-x86_64-mingw.cmake)

.PHONY: all deps native win32 win64 test test-native test-win32 test-win64 bench demo clean

all: native win32

deps:
	@scripts/install-deps

native: deps
	@$(CMAKE_NATIVE) >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

win32: deps
	@$(CMAKE_WIN32) >/dev/null
	cmake --build $(WIN32DIR) -j$(JOBS)

test: test-native test-win32

test-native: native
	cd $(NATIVE) && ctest --output-on-failure

test-win32: win32
	scripts/run-wine-ctest $(WIN32DIR) win32

win64: deps
	@$(CMAKE_WIN64) >/dev/null
	cmake --build $(WIN64DIR) -j$(JOBS)

test-win64: win64
	scripts/run-wine-ctest $(WIN64DIR) win64

bench: native
	$(NATIVE)/patinex_bench

demo: win32
	scripts/demo $(WIN32DIR)

clean:
	rm -rf $(BUILD)
