# Quorvik: the commands a user and CI need. See README.md.
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps build test run demo demo-term demo-qemu qemu-test bench asan-test fuzz soak clean windows win-test win-deps package windows-dist

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	$(MAKE) build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

# The Debian package, build/quorvik_VERSION_amd64.deb (CPack; see packaging/).
package: deps
	$(MAKE) build
	cd $(BUILD) && cpack -G DEB

run: deps
	$(MAKE) build
	$(BUILD)/quorvik

# The same tests, built with AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: deps
	$(MAKE) build test-only BUILD=build-asan CMAKE_FLAGS="-DQUORVIK_SANITIZE=ON -DQUORVIK_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug"

.PHONY: test-only
test-only:
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# Every performance figure in one run, built in release mode; the table goes to build/bench.txt.
bench: deps
	cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DQUORVIK_BENCH=ON
	cmake --build build-release -j $(JOBS)
	mkdir -p $(BUILD)
	scripts/bench build-release $(BENCH_ARGS)

# The console against the built-in simulated target, with a sample floppy image.
demo: deps
	$(MAKE) build
	BUILD=$(BUILD) scripts/demo

# The same in this terminal: quorvik-term against the simulated target, the sample floppy
# attached (Ctrl+] q quits).
demo-term: deps
	$(MAKE) build
	BUILD=$(BUILD) scripts/demo --term

# The console against a real PC: QEMU boots a SYSLINUX floppy through it (tools/target-rom).
demo-qemu: deps
	$(MAKE) build
	BUILD=$(BUILD) scripts/demo-qemu

# Only the tests against QEMU (they also run in 'make test'; 'ctest -LE qemu' leaves them out).
qemu-test: deps
	$(MAKE) build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L qemu --timeout 300

# The full soak: 10,000 random reads and writes with 1% injected faults (the test suite runs
# 1,000). Prints its figures.
SOAK_OPS ?= 10000
soak: deps
	$(MAKE) build
	QUORVIK_SOAK_OPS=$(SOAK_OPS) $(BUILD)/floppy_tests --gtest_filter='*Soak*'

# The libFuzzer targets (clang, ASan and UBSan) in build-fuzz, each run for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake -S . -B build-fuzz -DQUORVIK_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	scripts/fuzz build-fuzz $(FUZZ_SECONDS)

# The Windows program and its unit tests, cross-built with mingw-w64 into build-win.
win-deps:
	@scripts/install-deps --windows

build-win/CMakeCache.txt:
	cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake $(CMAKE_FLAGS)

windows: win-deps build-win/CMakeCache.txt
	cmake --build build-win -j $(JOBS)

# The Windows zip, build-win/quorvik-VERSION-windows-x64.zip (CPack; see packaging/windows.cmake).
windows-dist: windows
	cd build-win && cpack -G ZIP

# The cross-built tests under wine, the Win32 window and quorvik.exe on Xvfb against the
# simulated target, each bounded in time (see scripts/win-test).
win-test: windows
	scripts/win-test

clean:
	rm -rf build build-asan build-release build-fuzz build-win
