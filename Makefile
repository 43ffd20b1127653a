# Entry points. Each installs the build dependencies it needs when missing.
#   make demo        build the tool and import the demo installation
#   make test        build and run the whole test suite
#   make check-asan  the test suite under AddressSanitizer + UBSan
#   make test-clang  the test suite built with clang (build-clang)
#   make check-install  install into a temporary prefix, build and run the consumer
#                    project against it (CMake package and pkg-config)
#   make check-format   clang-format --dry-run over the tracked sources
#   make install     cmake --install into PREFIX (default /usr/local)
#   make fuzz        build the fuzz targets with clang and replay their corpora
#   make fuzz-long   fuzz every target for FUZZ_LONG_SECONDS (default 300) each
#   make bench-read  time reading every file of a generated storage (~256 MiB)
#   make bench-import  time the tool importing a generated installation (~400 MiB)
#   make bench-wow   time opening a WoW-scale storage (2,000,000 files) and its first
#                    search with a list file; scripts/profile-wow-open.sh profiles it
#   make bench-online  time opening an online storage of 500 archive indexes from a
#                    loopback server that delays each answer by 20 ms, concurrent
#                    against one at a time
#   make torture     the tool on a few thousand damaged installations; TORTURE_SEED=N
#                    replays a seed, TORTURE_BUILD=build-asan runs the ASan build
# WERROR=ON makes every warning an error (CI builds with it).
.PHONY: all build demo test check-asan test-clang check-install check-format install fuzz fuzz-long fuzz-build bench-read bench-import bench-wow bench-online \
	torture deps clean

BUILD_DIR := build
ASAN_DIR := build-asan
FUZZ_DIR := build-fuzz
CLANG_DIR := build-clang
WERROR := OFF
PREFIX := /usr/local
JOBS := $(shell nproc 2>/dev/null || echo 2)

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKESTRINE_WERROR=$(WERROR) >/dev/null
	@ninja -C $(BUILD_DIR)

demo: build
	@scripts/demo.sh $(BUILD_DIR)

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

check-asan: deps
	@cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRINE_SANITIZE=ON \
		-DKESTRINE_WERROR=$(WERROR) >/dev/null
	@ninja -C $(ASAN_DIR)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_DIR) --output-on-failure -j $(JOBS)

# clang, without sanitizers: the same suite through another compiler's eyes.
test-clang:
	@scripts/install-deps.sh --fuzz
	@CXX=clang++ cmake -S . -B $(CLANG_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKESTRINE_WERROR=$(WERROR) >/dev/null
	@ninja -C $(CLANG_DIR)
	@ctest --test-dir $(CLANG_DIR) --output-on-failure -j $(JOBS)

check-install: build
	@scripts/install-deps.sh --fuzz
	@scripts/check-install.sh $(BUILD_DIR)

check-format:
	@scripts/install-deps.sh --fuzz
	@scripts/check-format.sh

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

fuzz-build:
	@scripts/install-deps.sh --fuzz
	@CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DKESTRINE_FUZZ=ON -DKESTRINE_WERROR=$(WERROR) >/dev/null
	@ninja -C $(FUZZ_DIR)

fuzz: fuzz-build
	@scripts/replay-fuzz.sh $(FUZZ_DIR)

fuzz-long: fuzz-build
	@scripts/fuzz-long.sh $(FUZZ_DIR)

bench-read: build
	@$(BUILD_DIR)/read_bench $(BUILD_DIR)/bench-storage

bench-import: build
	@$(BUILD_DIR)/import_bench $(BUILD_DIR)/kestrine $(BUILD_DIR)/bench-import

bench-online: build
	@$(BUILD_DIR)/online_open_bench

bench-wow: build
	@$(BUILD_DIR)/wow_open_bench $(BUILD_DIR)/bench-wow

TORTURE_BUILD := $(BUILD_DIR)
TORTURE_SEED :=
torture: deps
	@if [ "$(TORTURE_BUILD)" = "$(ASAN_DIR)" ]; then \
		cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRINE_SANITIZE=ON >/dev/null; \
	else \
		cmake -S . -B $(TORTURE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; \
	fi
	@ninja -C $(TORTURE_BUILD) kestrine kestrine_tests
	@KESTRINE_TORTURE=1 TORTURE_SEED=$(TORTURE_SEED) \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		$(TORTURE_BUILD)/kestrine_tests --gtest_filter=DamagedInstallationTest.WholeMatrix

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(CLANG_DIR)
