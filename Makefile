# Front door: make demo, make test, make bench, make dist, make web, make fuzz. Each installs what is missing first.
BUILD ?= build
NATIVE := $(BUILD)/native
WIN32DIR := $(BUILD)/win32
WIN64DIR := $(BUILD)/win64
FUZZDIR := $(BUILD)/fuzz
FUZZ_SECONDS ?= 300
JOBS ?= $(shell nproc)
VERSION := $(shell grep -o -m1 'Patinex VERSION [0-9.]*' CMakeLists.txt | cut -d' ' -f3)
CMAKE_NATIVE := cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release
CMAKE_WIN32 := cmake -S . -B $(WIN32DIR) -DCMAKE_BUILD_TYPE=Release \
	-DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/toolchain-i686-mingw.cmake)
CMAKE_WIN64 := cmake -S . -B $(WIN64DIR) -DCMAKE_BUILD_TYPE=Release \
	-DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/toolchain-x86_64-mingw.cmake)
CMAKE_FUZZ := CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=Release \
	-DPATINEX_FUZZ=ON

.PHONY: all deps deps-native native win32 win64 fuzz-targets test test-native test-win32 test-win64 \
	test-fuzz bench fuzz demo demo64 dist clean install-frei0r check-editors \
	install-gegl check-gimp installer deb test-installers test-deb web deps-web test-web dist-web

all: native win32 win64

# Everything (make test, make demo, the Windows trees); make native and make bench
# install only what the native tree needs.
deps:
	@scripts/install-deps

deps-native:
	@scripts/install-deps native

native: deps-native
	@$(CMAKE_NATIVE) >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

win32: deps
	@$(CMAKE_WIN32) >/dev/null
	cmake --build $(WIN32DIR) -j$(JOBS)

# The fuzz targets (tests/fuzz), built with clang and libFuzzer in their own tree.
fuzz-targets: deps
	@$(CMAKE_FUZZ) >/dev/null
	cmake --build $(FUZZDIR) -j$(JOBS)

# Both Windows suites: the 32-bit module (PATINEX.8bf) and the 64-bit one (PATINEX64.8bf),
# then the fuzz smoke.
test: test-native test-win32 test-win64 test-fuzz test-installers test-web

test-native: deps native
	cd $(NATIVE) && ctest --output-on-failure

test-win32: win32
	scripts/run-wine-ctest $(WIN32DIR) win32

win64: deps
	@$(CMAKE_WIN64) >/dev/null
	cmake --build $(WIN64DIR) -j$(JOBS)

# The 64-bit suite also compares PATINEX64.8bf's pixels with PATINEX.8bf's, so it
# needs the 32-bit tree beside it.
test-win64: win64 win32
	scripts/run-wine-ctest $(WIN64DIR) win64

# Every corpus replayed, then each target for a fixed number of inputs (about 15 s)
# from a fixed seed: the same commit makes the same run.
test-fuzz: fuzz-targets
	tests/fuzz/run-fuzz --smoke $(FUZZDIR)

# Each fuzz target FUZZ_SECONDS long (default 300), one line each: inputs run,
# coverage, pass, or fail with the reproducer's path.
fuzz: fuzz-targets
	tests/fuzz/run-fuzz $(FUZZDIR) $(FUZZ_SECONDS)

# The browser page (build/web): the renderer in WebAssembly, with and without
# SIMD, and the page; serve it with python3 -m http.server -d build/web.
deps-web:
	@scripts/install-deps web

web: deps-web
	$(MAKE) -f web/web.mk BUILD=$(BUILD) -j$(JOBS)

# The tone kernels' tests in WebAssembly with SIMD (node), then the page in
# headless Chromium against patinex.so, byte for byte. Threads have no place in
# the page's build, so their tests stay native; so does the kernel choice from
# PATINEX_SIMD, whose table names x86's kernels.
WEB_KERNEL_TESTS := ToneKernels.*:Reference.*:Depth16*.*:-*Thread*:ToneKernels.ChoiceFollows*
test-web: web native
	$(MAKE) -f web/web.mk BUILD=$(BUILD) -j$(JOBS) kernel-tests
	node $(BUILD)/web-obj/kernel-tests.js --gtest_filter='$(WEB_KERNEL_TESTS)'
	/usr/bin/python3 tests/web/test-web $(BUILD)

bench: native
	$(NATIVE)/patinex_bench
	$(NATIVE)/patinex_frei0r_bench

demo: win32
	scripts/demo $(WIN32DIR)

# The same with filterhost64.exe and PATINEX64.8bf (out/demo64/).
demo64: win64
	scripts/demo $(WIN64DIR)

# dist/patinex-<version>/ and its zip: both modules, both hosts, the frei0r
# filter, an install text; the setup.exe, the .deb and SHA256SUMS beside them;
# and dist/patinex-web-<version>.zip, the browser page.
dist: native win32 win64 web
	scripts/dist $(BUILD)
	scripts/dist-web $(BUILD)

# dist/patinex-web-<version>.zip alone: the page and both WebAssembly builds.
dist-web: web
	scripts/dist-web $(BUILD)

# patinex.so and the editors' descriptions of it: for the current user, or with
# PREFIX=/usr (or /usr/local, ...) for everyone, Shotcut's panel included.
# (For users: make deb, then dpkg -i; or setup.exe on Windows: make installer.)
PREFIX ?=
install-frei0r: native
	scripts/install-frei0r $(NATIVE) $(PREFIX)

# The GEGL operation lumivex:patinex for GIMP and the gegl command: for the
# current user, or with PREFIX=/usr into the system's GEGL folder.
install-gegl: native
	scripts/install-gegl $(NATIVE) $(PREFIX)

# Patinex in real Kdenlive and Shotcut, under Xvfb: installs the editors first
# (hundreds of packages, so not part of make test).
check-editors: native
	tests/frei0r/check-editors $(NATIVE)

# lumivex:patinex in real GIMP 2.10 under Xvfb, through its GEGL Operation tool:
# installs GIMP first (not part of make test).
check-gimp: native
	scripts/check-gimp $(NATIVE)

# dist/patinex-<version>-setup.exe: the Windows setup (NSIS), from the build trees.
installer: deps win32 win64
	installer/build-installer $(BUILD)

# dist/patinex-frei0r_<version>_amd64.deb (patinex.so and the editors' files for
# Debian's ffmpeg, melt, Kdenlive and Shotcut) and dist/patinex-gegl_<version>_amd64.deb
# (the GEGL operation): debhelper builds both from debian/; lintian --pedantic
# must report nothing that debian/ does not justify.
deb: deps
	packaging/deb/build-deb

# The setup under Wine with fake hosts, and the packages' contents with ffmpeg,
# melt and gegl on them unpacked (nothing is installed into this system).
test-installers: installer deb native
	installer/test/test-installer dist/patinex-$(VERSION)-setup.exe $(BUILD) $(BUILD)/installer-test
	packaging/deb/test-deb contents dist $(NATIVE) $(BUILD)/deb-test

# Installs each package into THIS system (dpkg -i, as root), uses it and removes
# it, then upgrades from the 1.0.0 package to both: for CI's throw-away machine.
test-deb: deb native
	packaging/deb/test-deb install dist $(NATIVE) $(BUILD)/deb-install-test

clean:
	rm -rf $(BUILD)
