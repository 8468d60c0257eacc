# Top-level driver for the CMake build. `make run` and `make test` do all the set-up.
JOBS ?= $(shell nproc)
# The project's own builds treat warnings as errors; a plain `cmake` build does not.
CMAKE_FLAGS ?=
override CMAKE_FLAGS += -DENTPACKER_WERROR=ON
SOURCES := $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all build build-asan run test test-native test-asan format format-check deps clean package

all: build

deps:
	@scripts/install-deps build

build: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

build-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DENTPACKER_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)

# A Debian package of jcpack, its stubs (the Windows ones too when `make windows` has made
# them) and the manual pages, installing into /usr: build/entpacker_VERSION_ARCH.deb.
package: build
	@scripts/install-deps package
	cd build && cpack -G DEB

run: build
	./build/bin/entpacker

test-native: build
	cd build && ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

test:
	@scripts/install-deps build test windows
	$(MAKE) --no-print-directory test-windows
	$(MAKE) --no-print-directory test-native
	$(MAKE) --no-print-directory test-asan

format:
	clang-format -i $(SOURCES)

format-check:
	clang-format --dry-run --Werror $(SOURCES)

clean:
	rm -rf build build-asan build-windows-i686 build-windows-x86_64

# Fuzzing: each libFuzzer target runs for FUZZ_SECONDS, starting from its minimized corpus
# kept in fuzz/corpus/<target>/ (grown by long runs) and from blocks and archives made by
# the encoder; new finds go to build-fuzz/corpus/<target>/. Built with clang in build-fuzz/,
# apart from the normal build. `make fuzz-merge` minimizes what was found into fuzz/corpus.
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := jc_decode_fuzz jc_roundtrip_fuzz pack_walk_fuzz extraction_fuzz named_archive_fuzz

.PHONY: fuzz fuzz-merge bench bench-sfx

fuzz:
	@scripts/install-deps fuzz
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DENTPACKER_FUZZ=ON -DENTPACKER_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS) fuzz_seeds
	./build-fuzz/bin/fuzz_seeds build-fuzz/seeds
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t build-fuzz/seeds/$$t fuzz/corpus/$$t; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  ./build-fuzz/bin/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/$$t- build-fuzz/corpus/$$t fuzz/corpus/$$t build-fuzz/seeds/$$t \
	    2>build-fuzz/$$t.log || { tail -50 build-fuzz/$$t.log; exit 1; }; \
	  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' build-fuzz/$$t.log; \
	done

fuzz-merge:
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p fuzz/corpus/$$t build-fuzz/corpus/$$t build-fuzz/merged/$$t; \
	  ./build-fuzz/bin/$$t -merge=1 build-fuzz/merged/$$t fuzz/corpus/$$t build-fuzz/corpus/$$t \
	    >build-fuzz/$$t-merge.log 2>&1 || { tail -20 build-fuzz/$$t-merge.log; exit 1; }; \
	  rm -rf fuzz/corpus/$$t && mv build-fuzz/merged/$$t fuzz/corpus/$$t; \
	  echo "fuzz-merge: $$t: $$(ls fuzz/corpus/$$t | wc -l) inputs"; \
	done

# Benchmark: the codec against zlib -9, libdeflate -12, lz4 -12 and zstd -19 on the
# Canterbury corpus (as one tar), on Windows executables from wine64 with their debug
# sections stripped, on the program's six payload files (made by payload_gen, as the normal
# build makes them), on this machine's Python sources and on executables from its /usr/bin
# (tars made by bench/make_sets.sh). The tables go into jc/README.md ("Measured") and the
# summary into bench/README.md; then the encoder at scale, when its script is
# there.
BENCH_PE := notepad.exe regedit.exe cmd.exe wordpad.exe advapi32.dll gdi32.dll msvcrt.dll \
  ntdll.dll shlwapi.dll
WINE_PE_DIR := /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
BENCH_DATA := build-bench/data
BENCH_SETS := canterbury=$(BENCH_DATA)/canterbury.tar windows-pe=$(BENCH_DATA)/pe \
  payload=$(BENCH_DATA)/payload python=$(BENCH_DATA)/python.tar usr-bin=$(BENCH_DATA)/usr-bin.tar

bench:
	@scripts/install-deps bench
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DENTPACKER_BENCH=ON \
	  -DENTPACKER_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS) --target jc_bench payload_gen jcpack
	mkdir -p $(BENCH_DATA)/pe $(BENCH_DATA)/payload
	./build-bench/bin/payload_gen $(BENCH_DATA)/payload
	gunzip -c ../shared/corpus/cantrbry.tar.gz >$(BENCH_DATA)/canterbury.tar
	for f in $(BENCH_PE); do \
	  x86_64-w64-mingw32-strip --strip-debug -o $(BENCH_DATA)/pe/$$f $(WINE_PE_DIR)/$$f; done
	bench/make_sets.sh $(BENCH_DATA)
	./build-bench/bin/jc_bench --markdown=build-bench/bench.md \
	  --summary=build-bench/bench-summary.md build-bench/bench.csv $(BENCH_SETS)
	bench/update_readmes.sh build-bench/bench.md build-bench/bench-summary.md
	@echo "CSV: build-bench/bench.csv"
	@if [ -x bench/encoder_scale.sh ]; then bench/encoder_scale.sh build-bench; fi

# The self-extractor beside the tools a user would pick instead (makeself with gzip, zstd and
# xz, 7-Zip's console self-extractor, zip with unzipsfx, tar with zstd) on a software release
# of about 100 MB, 50,000 small files and one file of 1 GiB: sizes, making and extracting
# times, peak memory (bench/sfx_peers.sh; the trees are kept in $(BENCH_DATA)/sfx-peers, the
# tables go to build-bench/sfx-peers.md). TREES, ROUNDS, LEVELS, SIZE_MIB and the script's
# other settings come from the command line or the environment: for a quick look,
# `make bench-sfx TREES=small ROUNDS=1`.
bench-sfx:
	@scripts/install-deps bench
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DENTPACKER_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-bench -j $(JOBS) --target jcpack entpacker-stub
	BENCH_DATA=$(BENCH_DATA) bench/sfx_peers.sh build-bench
	bench/sfx_large_file.sh build-bench  # a file above 4 GiB, round trip

# Windows: both programs cross-built with MinGW-w64; the build-time tools (payload generator,
# packer, source writer) are built natively in build/ and run from there. Each build also
# holds the unit tests, run under Wine by test-windows (32-bit Wine for i686). The
# self-extractor stubs of both builds are copied beside jcpack, as
# build/bin/entpacker-stub-win32.exe and build/bin/entpacker-stub-win64.exe, where
# `jcpack sfx --platform win32|win64` looks for them.
WINDOWS_ARCHS := i686 x86_64
HOST_TOOLS := payload_gen jcpack embed_archive console_demo entpacker entpacker-stub pe_resources

.PHONY: host-tools windows test-windows

host-tools: deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target $(HOST_TOOLS)

windows: host-tools
	@scripts/install-deps windows
	@set -e; for arch in $(WINDOWS_ARCHS); do \
	  case $$arch in i686) stub=win32 ;; x86_64) stub=win64 ;; esac; \
	  cmake -S . -B build-windows-$$arch -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$$arch.cmake -DENTPACKER_TESTS=ON \
	    -DENTPACKER_HOST_TOOLS_DIR=$(CURDIR)/build/bin $(CMAKE_FLAGS); \
	  cmake --build build-windows-$$arch -j $(JOBS) --target entpacker entpacker-stub; \
	  cp build-windows-$$arch/bin/entpacker-stub.exe build/bin/entpacker-stub-$$stub.exe; \
	done

WINDOWS_TEST_TARGETS := platform_tests run_probe entpacker_runtime_tests entpacker_console_tests \
  entpacker_files_tests entpacker_pack_tests entpacker_app_tests entpacker_stub_tests console_demo

test-windows: windows
	@set -e; for arch in $(WINDOWS_ARCHS); do \
	  cmake --build build-windows-$$arch -j $(JOBS) --target $(WINDOWS_TEST_TARGETS); \
	done
	cmake --build build -j $(JOBS) --target entpacker_app_tests
	scripts/test-windows
	scripts/check-size
