# Two entry points for a fresh machine:
#   make run   installs what is missing, builds, and runs velk on the bundled example
#   make test  builds the release and the sanitizer configurations and runs every test
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

MAKEFLAGS += --no-print-directory

.PHONY: all deps build build-asan run test test-release test-asan bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVELK_WERROR=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELK_WERROR=ON -DVELK_SANITIZE=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

run: build
	@cd examples && ../$(BUILD)/velk 10
	@echo "---- examples/VELKResult.txt ----"
	@cat examples/VELKResult.txt

test-release: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

test: test-release test-asan

bench: build
	@bench/run

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
