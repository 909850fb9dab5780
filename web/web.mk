# The browser page (make web): the renderer built to WebAssembly twice, with
# 128-bit SIMD lanes (the tone rows' wasm-simd128 kernel) and without, and the
# page around it, into $(WEBDIR). Emscripten's library cache is kept under
# $(BUILD) (EM_CACHE), laid as hard links to Debian's prebuilt one, so that
# nothing is written outside the build tree and nothing is rebuilt.
BUILD ?= build
WEBDIR := $(BUILD)/web
WEBOBJ := $(BUILD)/web-obj
EM_CACHE_DIR := $(abspath $(BUILD))/emcache
export EM_CACHE := $(EM_CACHE_DIR)
# Debian's emscripten runs its JavaScript tools with node, which must find
# Debian's acorn there even when another node (not Debian's) comes first.
export NODE_PATH := /usr/share/nodejs

# The renderer's sources: render/ (the x86 kernels' files compile to nothing
# here), the parameter table and the frei0r filter's settings and seeding.
WEB_SOURCES := $(wildcard render/*.cpp) host/ParamTable.cpp host/MemHandlePortable.cpp \
	frei0r/Frei0rParams.cpp web/PatinexWeb.cpp
# One answer on every build: no contraction into fused multiply-adds, no fast math.
WEB_CXXFLAGS := -std=c++17 -O3 -Wall -Wextra -ffp-contract=off -fno-fast-math -I.
WEB_LDFLAGS := -O3 -sMODULARIZE=1 -sEXPORT_NAME=createPatinex -sENVIRONMENT=worker \
	-sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=64MB -sMAXIMUM_MEMORY=4GB -sFILESYSTEM=0 \
	-sEXPORTED_FUNCTIONS=_malloc,_free -sEXPORTED_RUNTIME_METHODS=UTF8ToString \
	-sSUPPORT_LONGJMP=0

PLAIN_OBJS := $(patsubst %.cpp,$(WEBOBJ)/plain/%.o,$(WEB_SOURCES))
SIMD_OBJS := $(patsubst %.cpp,$(WEBOBJ)/simd/%.o,$(WEB_SOURCES))
PAGE_FILES := $(addprefix $(WEBDIR)/,worker.js page.js png.js style.css)

.PHONY: all
all: $(WEBDIR)/patinex-plain.js $(WEBDIR)/patinex-simd.js $(WEBDIR)/index.html $(PAGE_FILES)

$(EM_CACHE_DIR)/sysroot_install.stamp:
	@mkdir -p $(BUILD)
	rm -rf $(EM_CACHE_DIR)
	cp -al /usr/share/emscripten/cache $(EM_CACHE_DIR) 2>/dev/null || cp -a /usr/share/emscripten/cache $(EM_CACHE_DIR)
	rm -f $(EM_CACHE_DIR)/cache.lock

$(WEBOBJ)/plain/%.o: %.cpp $(EM_CACHE_DIR)/sysroot_install.stamp
	@mkdir -p $(dir $@)
	em++ $(WEB_CXXFLAGS) -MMD -MP -c $< -o $@

$(WEBOBJ)/simd/%.o: %.cpp $(EM_CACHE_DIR)/sysroot_install.stamp
	@mkdir -p $(dir $@)
	em++ $(WEB_CXXFLAGS) -msimd128 -MMD -MP -c $< -o $@

$(WEBDIR)/patinex-plain.js: $(PLAIN_OBJS)
	@mkdir -p $(WEBDIR)
	em++ $(WEB_LDFLAGS) $^ -o $@

$(WEBDIR)/patinex-simd.js: $(SIMD_OBJS)
	@mkdir -p $(WEBDIR)
	em++ $(WEB_LDFLAGS) -msimd128 $^ -o $@

# The page's controls, written from the parameter table by a small native program.
$(WEBOBJ)/make-web-page: web/MakeWebPage.cpp host/ParamTable.cpp frei0r/Frei0rParams.cpp \
		host/ParamTable.h frei0r/Frei0rParams.h frei0r/editors/TemplateFill.h
	@mkdir -p $(dir $@)
	g++ -std=c++17 -O1 -Wall -Wextra -I. web/MakeWebPage.cpp host/ParamTable.cpp \
		frei0r/Frei0rParams.cpp -o $@

$(WEBDIR)/index.html: web/index.html.in $(WEBOBJ)/make-web-page
	@mkdir -p $(WEBDIR)
	$(WEBOBJ)/make-web-page web/index.html.in $@

$(WEBDIR)/%: web/%
	@mkdir -p $(WEBDIR)
	cp $< $@

# The native tone-kernel tests (tests/native/TonePassTest.cpp, Depth16Test.cpp)
# built with SIMD and run by node: every kernel of this build, the wasm-simd128
# rows at both depths, 3 and 4 bytes, every width and grain, against the plain
# formulas (make test-web runs the tone kernels' tests from them).
GTEST_SRC := /usr/src/googletest/googletest
KERNEL_TEST_SOURCES := tests/native/TonePassTest.cpp tests/native/Depth16Test.cpp \
	testing/ReferenceTone.cpp
KERNEL_TEST_OBJS := $(patsubst %.cpp,$(WEBOBJ)/simd/%.o,$(KERNEL_TEST_SOURCES)) \
	$(WEBOBJ)/simd/gtest-all.o $(WEBOBJ)/simd/gtest_main.o \
	$(filter-out $(WEBOBJ)/simd/web/PatinexWeb.o,$(SIMD_OBJS))

.PHONY: kernel-tests
kernel-tests: $(WEBOBJ)/kernel-tests.js

$(WEBOBJ)/simd/gtest-%.o: $(GTEST_SRC)/src/gtest-%.cc $(EM_CACHE_DIR)/sysroot_install.stamp
	@mkdir -p $(dir $@)
	em++ -std=c++17 -O2 -msimd128 -I$(GTEST_SRC)/include -I$(GTEST_SRC) -c $< -o $@

$(WEBOBJ)/simd/gtest_main.o: $(GTEST_SRC)/src/gtest_main.cc $(EM_CACHE_DIR)/sysroot_install.stamp
	@mkdir -p $(dir $@)
	em++ -std=c++17 -O2 -msimd128 -I$(GTEST_SRC)/include -c $< -o $@

$(WEBOBJ)/simd/tests/%.o: tests/%.cpp $(EM_CACHE_DIR)/sysroot_install.stamp
	@mkdir -p $(dir $@)
	em++ $(WEB_CXXFLAGS) -msimd128 -I$(GTEST_SRC)/include -MMD -MP -c $< -o $@

$(WEBOBJ)/kernel-tests.js: $(KERNEL_TEST_OBJS)
	em++ -O2 -msimd128 -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=4GB \
		-sEXIT_RUNTIME=1 -sWASM_ASYNC_COMPILATION=0 $^ -o $@

-include $(PLAIN_OBJS:.o=.d) $(SIMD_OBJS:.o=.d) $(KERNEL_TEST_OBJS:.o=.d)
