# Top-level driver for the CMake build. `make run` and `make test` do all the set-up.
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
SOURCES := $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all build build-asan run test test-native test-asan format format-check deps clean

all: build

deps:
	@scripts/install-deps build

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DENTPACKER_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)

run: build
	./build/bin/entpacker

test-native: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

test:
	@scripts/install-deps build test
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-asan

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf build build-asan
