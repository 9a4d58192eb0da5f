# Thin wrapper over the CMake presets; `cmake --preset` and `ctest --preset`
# work just as well.
#
#   make run    build the program (Release) and run it on examples/
#   make test   build everything and run the whole test suite
#   make bench  build and run the benchmarks (Release)

RUN_DIR := build/release/run

.PHONY: deps run test bench clean

deps:
	@tools/install_deps.sh

build/release/CMakeCache.txt: | deps
	cmake --preset release

run: deps build/release/CMakeCache.txt
	cmake --build --preset release --target fir_bench
	@mkdir -p $(RUN_DIR)
	cp examples/input.txt examples/fir.txt $(RUN_DIR)/
	@# The program waits for one character before it exits; give it one.
	cd $(RUN_DIR) && printf '\n' | ../fir_bench
	@echo "(result files and log.txt are in $(RUN_DIR))"

build/test/CMakeCache.txt: | deps
	cmake --preset test

test: deps build/test/CMakeCache.txt
	cmake --build --preset test
	ctest --preset test

bench: deps build/release/CMakeCache.txt
	cmake --build --preset release
	build/release/bench/signal_io_bench
	build/release/bench/dsp_bench

clean:
	rm -rf build
