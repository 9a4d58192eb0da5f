# Thin wrapper over the CMake presets; `cmake --preset` and `ctest --preset`
# work just as well.
#
#   make run    build the three programs (Release) and run fir_bench on examples/
#   make test   build everything and run the whole test suite
#   make bench  build and run the benchmarks (Release)
#   make sanitize  the whole test suite under AddressSanitizer + UBSan
#   make fuzz      fuzz the reader with libFuzzer (FUZZ_SECONDS, default 60)
#   make plot      after `make run`: picture of the run (build/release/run/plot.png)
#   make sweep     both stages over filter lengths 1 to 65536: build/release/sweep/sweep.png
#   make windows   cross-build fir_bench.exe with mingw-w64, tested under Wine (32-bit where the machine runs it)
#   make linux32   the 32-bit x86 Linux build, its tests and the end-to-end suites under qemu
#   make aarch64   the 64-bit ARM Linux build, its tests and the end-to-end suites under qemu
#   make portable  the stages built from plain C++ loops, and the suites that run them
#   make install   fir_bench, fir_gen, fir_sweep, examples, man pages under PREFIX (default /usr/local)
#   make package   build/packages/: a .tar.gz and a .deb, a source tarball, and a zip per Windows build made before

RUN_DIR := build/release/run

.PHONY: deps fuzz-deps windows-deps linux32-deps aarch64-deps package-deps windows linux32 aarch64 portable plot \
	sweep run test bench \
	sanitize fuzz fuzz-smoke install package clean

deps:
	@tools/install_deps.sh

build/release/CMakeCache.txt: | deps
	cmake --preset release

run: deps build/release/CMakeCache.txt
	cmake --build --preset release --target fir_bench fir_gen fir_sweep
	@mkdir -p $(RUN_DIR)
	cp examples/input.txt examples/fir.txt $(RUN_DIR)/
	@# The program waits for one character before it exits; give it one.
	cd $(RUN_DIR) && printf '\n' | ../fir_bench
	@echo "(result files and log.txt are in $(RUN_DIR))"

# RATE is the sample rate for the response's frequency axis (the files do
# not carry one); WINDOW how many samples the signal panels show.
RATE ?= 8000
WINDOW ?= 600
plot: deps
	@test -f $(RUN_DIR)/output_diff.txt || { echo "no run in $(RUN_DIR) yet: make run first"; exit 1; }
	gnuplot -e "dir='$(RUN_DIR)'; out='$(RUN_DIR)/plot.png'; rate=$(RATE); window=$(WINDOW)" tools/plot.gp
	@echo "wrote $(RUN_DIR)/plot.png"

# fir_sweep's default sweep (SWEEP_ARGS adds options, e.g. --length 1000000)
# and its picture; the table, the rounding scale and the progress lines stay
# beside it. The picture's marks come from the table's '#' lines, which
# the plot script reads itself.
SWEEP_DIR := build/release/sweep
SWEEP_ARGS ?=
SWEEP_TABLE := $(SWEEP_DIR)/sweep.tsv
sweep: deps build/release/CMakeCache.txt
	cmake --build --preset release --target fir_sweep
	@mkdir -p $(SWEEP_DIR)
	build/release/fir_sweep $(SWEEP_ARGS) --out $(SWEEP_TABLE) --scale $(SWEEP_DIR)/scale.tsv \
	  2>$(SWEEP_DIR)/progress.txt || { cat $(SWEEP_DIR)/progress.txt; exit 1; }
	@cat $(SWEEP_DIR)/progress.txt
	gnuplot -e "dir='$(SWEEP_DIR)'" tools/sweep.gp
	@echo "wrote $(SWEEP_DIR)/sweep.png"

build/test/CMakeCache.txt: | deps
	cmake --preset test

test: deps build/test/CMakeCache.txt
	cmake --build --preset test
	ctest --preset test

bench: deps build/release/CMakeCache.txt
	cmake --build --preset release
	build/release/bench/signal_io_bench
	build/release/bench/dsp_bench
	build/release/bench/run_steps
	bench/compare_numpy.py build/release/bench/run_steps
	build/release/bench/printed_times
	build/release/bench/first_run 100000 16 100000 64 100000 256

build/sanitize/CMakeCache.txt: | deps
	cmake --preset sanitize

sanitize: deps build/sanitize/CMakeCache.txt
	cmake --build --preset sanitize
	ctest --preset sanitize

# The fuzzer adds the inputs it finds to build/fuzz/corpus; the seeds under
# tests/ stay as committed. FUZZ_SECONDS bounds `make fuzz`; `fuzz-smoke`
# runs a fixed number of inputs, as CI does.
FUZZ_SECONDS ?= 60
FUZZ_RUNS ?= 300000
FUZZER := build/fuzz/tests/signal_io/fuzz/reader_fuzz
FUZZ_CORPUS := build/fuzz/corpus tests/signal_io/fuzz/corpus

fuzz-deps:
	@tools/install_deps.sh clang libclang-rt-14-dev

build/fuzz/CMakeCache.txt: | fuzz-deps
	cmake --preset fuzz

fuzz: fuzz-deps build/fuzz/CMakeCache.txt
	cmake --build --preset fuzz
	@mkdir -p build/fuzz/corpus
	$(FUZZER) -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ_CORPUS)

fuzz-smoke: fuzz-deps build/fuzz/CMakeCache.txt
	cmake --build --preset fuzz
	@mkdir -p build/fuzz/corpus
	$(FUZZER) -runs=$(FUZZ_RUNS) -print_final_stats=1 $(FUZZ_CORPUS)

# 32-bit Wine only where the machine runs 32-bit code: elsewhere the plain
# `wine` script would pick its loader for every program, which cannot start.
windows-deps:
	@tools/install_deps.sh g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 xz-utils
	@if tools/runs_32bit_code.sh 2>/dev/null; then tools/install_deps.sh wine32:i386; fi

# FFTW for each target is built once into a cache outside the clone. The
# Linux test build comes first: its end-to-end suites run the Windows
# programs under Wine, and its CrossBuild tests compare their runs with
# the Linux program's (within `ctest --preset windows` and `windows32`).
# The 32-bit programs' tests run where the machine runs 32-bit code;
# elsewhere they are built with warnings as errors, and one line says why
# they did not run (the same code runs in `make linux32`).
windows: windows-deps build/test/CMakeCache.txt
	cmake --build --preset test --target app_test tools_test
	@prefix=$$(tools/build_fftw.sh x86_64-w64-mingw32 | tail -n 1) && \
	  FIR_BENCH_FFTW_PREFIX=$$prefix cmake --preset windows >/dev/null
	cmake --build --preset windows
	tools/check_windows_imports.sh build/windows/fir_bench.exe
	ctest --preset windows
	@prefix=$$(tools/build_fftw.sh i686-w64-mingw32 | tail -n 1) && \
	  FIR_BENCH_FFTW_PREFIX=$$prefix cmake --preset windows32 >/dev/null
	cmake --build --preset windows32
	tools/check_windows_imports.sh build/windows32/fir_bench.exe
	@if reason=$$(tools/runs_32bit_code.sh 2>&1); then ctest --preset windows32; \
	else echo "make windows: the 32-bit programs' tests skipped: $$reason"; fi

# The 32-bit x86 Linux build, run under qemu-i386-static: the unit tests,
# then the Linux test build's end-to-end suites against its programs.
linux32-deps:
	@tools/install_deps.sh g++-i686-linux-gnu qemu-user-static

linux32: linux32-deps build/test/CMakeCache.txt
	cmake --build --preset test --target app_test tools_test
	@prefix=$$(tools/build_fftw.sh i686-linux-gnu | tail -n 1) && \
	  FIR_BENCH_FFTW_PREFIX=$$prefix cmake --preset linux32 >/dev/null
	cmake --build --preset linux32
	ctest --preset linux32

# The 64-bit ARM Linux build with Debian's own arm64 FFTW (multiarch), run
# under qemu-aarch64-static: the unit tests, then the Linux test build's
# end-to-end suites against its programs, and its fir_bench beside this
# machine's on the same files.
aarch64-deps:
	@tools/install_deps.sh g++-aarch64-linux-gnu qemu-user-static libfftw3-dev:arm64

aarch64: aarch64-deps build/test/CMakeCache.txt
	cmake --build --preset test --target app_test tools_test
	cmake --preset aarch64 >/dev/null
	cmake --build --preset aarch64
	ctest --preset aarch64

# The portable configuration: the stages from plain C++ loops, as a
# compiler without GNU extensions (MSVC) builds them; the suites that run
# the stages' loops (dsp_test and the in-process fault test), as nothing
# else differs from the test build.
build/portable/CMakeCache.txt: | deps
	cmake --preset portable

portable: deps build/portable/CMakeCache.txt
	cmake --build --preset portable
	ctest --preset portable

# Installs into PREFIX with cmake --install; no root needed for a prefix of
# your own (make install PREFIX=$$HOME/.local).
PREFIX ?= /usr/local
PROGRAMS := fir_bench fir_gen fir_sweep
install: deps build/release/CMakeCache.txt
	cmake --build --preset release --target $(PROGRAMS) compressed_docs
	cmake --install build/release --prefix $(PREFIX)

# CPack: the Linux .tar.gz and .deb from the release build, and a zip from
# each Windows build that `make windows` has made, all in build/packages.
package-deps:
	@tools/install_deps.sh dpkg-dev lintian unzip

package: deps package-deps build/release/CMakeCache.txt
	cmake --build --preset release --target $(PROGRAMS) compressed_docs
	cpack --config build/release/CPackConfig.cmake -B build/packages
	cpack --config build/release/CPackSourceConfig.cmake -B build/packages
	@for dir in build/windows build/windows32; do \
	  if [ -f $$dir/CPackConfig.cmake ]; then cpack --config $$dir/CPackConfig.cmake -B build/packages || exit 1; fi; \
	done
	@rm -rf build/packages/_CPack_Packages
	@ls -l build/packages

clean:
	rm -rf build
