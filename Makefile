# Two entry points for a fresh machine:
#   make run   installs what is missing, builds, and runs velk on the bundled example
#   make test  builds the release and the sanitizer configurations and runs every test
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-asan build-fuzz run test test-release test-asan test-fuzz fuzz bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVELK_WERROR=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_WERROR=ON -DVELK_SANITIZE=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

# The fuzz targets under libFuzzer (clang, with the sanitizers); see fuzz/run.
build-fuzz:
	@scripts/install-deps --fuzz
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_FUZZ=ON -DVELK_BENCH=OFF $(CMAKE_ARGS) >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target velk_fuzz_targets

run: build
	@cd examples && ../$(BUILD)/velk 10
	@echo "---- examples/VELKResult.txt ----"
	@cat examples/VELKResult.txt

test-release: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The corpora replayed by the libFuzzer builds (the other builds replay them too).
test-fuzz: build-fuzz
	@cd $(FUZZ_BUILD) && ctest --output-on-failure -R '^fuzz_corpus_' -j $(JOBS)

test: test-release test-asan test-fuzz

fuzz:
	@FUZZ_BUILD=$(FUZZ_BUILD) fuzz/run $(FUZZ_SECONDS)

bench: build
	@bench/run

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
