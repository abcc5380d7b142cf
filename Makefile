# SPDX-License-Identifier: MIT
# Pellora's entry point.  `make demo` and `make test` are all a fresh machine needs.
BUILD        ?= build
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR     ?= build-fuzz
BENCH_DIR    ?= build
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS  ?=
# Compiler warnings as errors: .ci/run sets WERROR=ON.
WERROR       ?= OFF

.PHONY: all deps build test test-sanitize demo fuzz bench clean

all: build

deps:
	@scripts/install-deps

# Configured every time, so that a build tree first made by `make demo` (tests
# and benchmarks off) gets them, and WERROR takes effect.
build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORA_BUILD_TESTS=ON -DPELLORA_BUILD_BENCH=ON \
	  -DPELLORA_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DPELLORA_SANITIZE=ON -DPELLORA_BUILD_BENCH=OFF \
	  -DPELLORA_WERROR=$(WERROR) $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# Installs what the command needs and builds the command alone (a new build tree
# gets no tests or benchmarks), then records the built-in station with tags into
# demo.mp3 and shows its tags.
demo:
	@scripts/install-deps --demo
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPELLORA_BUILD_TESTS=OFF -DPELLORA_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target pellora
	$(BUILD)/cli/pellora demo

fuzz:
	@scripts/install-deps --fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPELLORA_BUILD_FUZZ=ON -DPELLORA_BUILD_TESTS=OFF -DPELLORA_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@for t in $(FUZZ_DIR)/fuzz/fuzz_*; do \
	  [ -x "$$t" ] || continue; name=$$(basename $$t); mkdir -p fuzz/corpus/$$name; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 fuzz/corpus/$$name || exit 1; \
	done

bench: deps build
	@for b in $(BENCH_DIR)/bench/bench_*; do [ -x "$$b" ] && $$b; done

clean:
	rm -rf $(BUILD) $(SANITIZE_DIR) $(FUZZ_DIR)
