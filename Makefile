# Two commands set everything up on a fresh Debian machine:
#   make run   installs what is missing, builds, starts the window
#   make test  installs what is missing, builds three times (plain, sanitized and
#              velmora-cli.exe for Windows), runs every test (the Windows ones under Wine)
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: deps configure build build-asan test test-plain test-asan test-windows windows run clean package format-check

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_APP=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_TESTS=ON -DVELMORA_BUILD_APP=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-plain: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure --no-tests=error -j $(JOBS)

test: test-plain test-asan test-windows

# velmora-cli.exe and its zip, cross-built with mingw-w64 (with the tests
# that run under Wine).
WIN_BUILD ?= build-win
windows: deps
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DVELMORA_BUILD_TESTS=ON
	cmake --build $(WIN_BUILD) -j $(JOBS)
	@ls $(WIN_BUILD)/velmora-cli-*-win64.zip

# The Windows build's tests under Wine (a Wine prefix of its own in the build
# folder), then its outputs against the Linux build's, byte for byte.
test-windows: windows build
	cd $(WIN_BUILD) && WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine WINEDEBUG=-all ctest --output-on-failure --no-tests=error
	WINEPREFIX=$(CURDIR)/$(WIN_BUILD)/wine bash tests/windows/same-outputs $(BUILD)/cli/velmora-cli \
	  $(WIN_BUILD)/cli/velmora-cli.exe

run: build
	@if [ -x $(BUILD)/app/velmora ]; then \
	  if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then xvfb-run -a $(BUILD)/app/velmora; \
	  else $(BUILD)/app/velmora; fi; \
	else $(BUILD)/cli/velmora-cli --help; fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PKG_BUILD) $(WIN_BUILD)

# The .deb: a Release build for /usr without the tests, packed by CPack.
PKG_BUILD ?= build-pkg
package: deps
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
	  -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_APP=ON
	cmake --build $(PKG_BUILD) -j $(JOBS)
	cd $(PKG_BUILD) && cpack -G DEB
	@ls $(PKG_BUILD)/*.deb

# Fuzzing: each target runs FUZZ_SECONDS (default 60) and fails on any finding.
FUZZ_BUILD   ?= fuzz-build
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELMORA_FUZZ=ON -DVELMORA_BUILD_APP=OFF -DVELMORA_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	FUZZ_BUILD=$(FUZZ_BUILD) FUZZ_SECONDS=$(FUZZ_SECONDS) bash tests/fuzz/run

# Benchmarks (not part of make test): Release build, fixtures, hyperfine.
.PHONY: bench
bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVELMORA_BUILD_APP=OFF -DVELMORA_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS) --target velmora-cli
	BENCH_BUILD=build-bench bash bench/run

# Lists the sources clang-format would change; fails if there is one.
format-check:
	bash scripts/format-check
