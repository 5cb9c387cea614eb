# Thin wrappers around CMake and CTest.
#   make test            install dependencies, build, run every test
#   make test SANITIZE=1 the same under AddressSanitizer and UBSan (build-asan/)
#   make run             build and start the program
#   make bench           build and run the benchmarks (Release)
#   make fuzz            build the libFuzzer targets with clang and run each FUZZ_SECONDS
#   make fuzz FUZZ_RUNS=N  ... or until each has run N inputs in all (resumable;
#                        FUZZ_JOBS at once, FUZZ_TARGETS to pick some)
#   make format          clang-format every source file
#   make package         the Debian package (build/kelvara_*.deb)
#   make install         install under PREFIX (default /usr/local)

JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 60
FUZZ_JOBS   ?= 1
SANITIZE    ?= 0

ifeq ($(SANITIZE),1)
BUILD_DIR ?= build-asan
CMAKE_FLAGS += -DKELVARA_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
else
BUILD_DIR ?= build
CMAKE_FLAGS += -DCMAKE_BUILD_TYPE=RelWithDebInfo
endif

SOURCES = $(shell git ls-files -co --exclude-standard -- '*.cpp' '*.h' 2>/dev/null)

PREFIX      ?= /usr/local

.PHONY: all deps configure build test run bench fuzz format format-check clean package install

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD_DIR) $(ARGS)

bench: deps
	@cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVARA_BENCH=ON >/dev/null
	@cmake --build build-bench -j $(JOBS) --target kelvara_benchmarks
	@build-bench/bench/kelvara_benchmarks

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKELVARA_FUZZ=ON -DKELVARA_GUI=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target kelvara_fuzzers
	@FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_RUNS=$(FUZZ_RUNS) FUZZ_JOBS=$(FUZZ_JOBS) \
	  FUZZ_TARGETS="$(FUZZ_TARGETS)" scripts/run-fuzzers.sh build-fuzz/fuzz

package: build
	@cd $(BUILD_DIR) && cpack -G DEB

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

format:
	@clang-format -i $(SOURCES)

format-check:
	@clang-format --dry-run -Werror $(SOURCES)

clean:
	@rm -rf build build-asan build-bench build-fuzz
