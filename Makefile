# Two commands set everything up on a fresh Debian machine:
#   make run   installs what is missing, builds, starts the window
#   make test  installs what is missing, builds twice (plain and sanitized), runs every test
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

.PHONY: deps configure build build-asan test test-plain test-asan run clean package format-check

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

test: test-plain test-asan

run: build
	@if [ -x $(BUILD)/app/velmora ]; then \
	  if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then xvfb-run -a $(BUILD)/app/velmora; \
	  else $(BUILD)/app/velmora; fi; \
	else $(BUILD)/cli/velmora-cli --help; fi

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(PKG_BUILD)

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
