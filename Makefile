# SPDX-License-Identifier: GPL-2.0-or-later
# Orvane: one-command set-up, build, run and test on Debian.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

.PHONY: all deps configure build run test soak bench clean demo test-asan test-tsan fuzz deb

all: build

deps:
	@scripts/install-deps.sh

# Configure once; later runs only rebuild (CMake re-runs itself when a list file changes).
$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS)

configure: $(BUILD)/CMakeCache.txt

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Only the window program and what it links: the tests and benchmarks are not
# needed to run it.
run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target orvane
	$(BUILD)/app/orvane

# The quick suite: everything it needs is in the repository; no test in it
# measures time, rate, CPU or memory.
test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE soak

# The long checks (label soak): floods of a minute per mode, the 200-disconnect
# loop, 100 MB and million-entry inputs, the rate, CPU, wall-clock and memory
# figures, the Debian package. One at a time, so no check's clock is shared.
soak: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -L soak

# The tool on a virtual modem linked as COM1, for trying every mode without hardware.
demo: build
	scripts/demo.sh $(BUILD)

# The whole suite under sanitizers, each in its own build folder.
test-asan:
	$(MAKE) test BUILD=$(BUILD)-asan BUILD_TYPE=Debug CMAKE_ARGS="-DORVANE_SANITIZE=address,undefined -DORVANE_BUILD_BENCH=OFF"

test-tsan:
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp $(TSAN_OPTIONS)" $(MAKE) test BUILD=$(BUILD)-tsan BUILD_TYPE=Debug CMAKE_ARGS="-DORVANE_SANITIZE=thread -DORVANE_BUILD_BENCH=OFF"

# Every libFuzzer target for FUZZ_SECONDS each (default 60), seeded from the sample data.
FUZZ_SECONDS ?= 60
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh

bench: build
	@scripts/run-benchmarks.sh $(BUILD)

clean:
	rm -rf $(BUILD)

# Debian package of the programs, icons, desktop entry and man pages.
# The package as the distribution builds it: dpkg-buildflags' hardening, its
# own build folder, lintian.
deb: deps
	JOBS=$(JOBS) scripts/build-deb.sh $(BUILD)-deb
