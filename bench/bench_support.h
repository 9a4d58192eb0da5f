// What the benchmarks share: their data and the two ceilings the stages are
// measured against.
#pragma once

#include <cstdint>

#include "signal/signal.h"

// Uniform noise in [-1, 1) of `count` samples from `seed`: the generator's
// noise signal, the same on every run.
Signal bench_noise(std::size_t count, std::uint64_t seed);

// A Hamming-windowed lowpass of `taps` taps from the generator: realistic
// taps whose gain never exceeds about 1, so repeated filtering stays finite.
Signal bench_lowpass(std::size_t taps);

// The peak rate of separate (unfused) vector multiplies and adds, the
// ceiling of an exact multiply-add kernel: one vector multiply plus one
// vector add per lane counted as one multiply-add, with the fastest vector
// width this processor has. A virtual machine's speed drifts, so each call
// takes fresh samples (about half a second): call it next to the
// measurement it is set beside.
double peak_multiply_add_rate();

// The overlap-add stage's floor: per block only what FFTW and the bin
// product must do (r2c, the product, c2r) on plans of the stage's length
// made before timing, warm. Best of `repeats` passes over all blocks, in
// seconds.
double fftw_floor_seconds(const Signal& x, const Signal& h, int repeats);

// The direct stage's other floor: one read of x and one write of y's
// N + M - 1 values (the stage's own vector copy), y zero-filled before each
// pass as the stage finds it. Best of `repeats` passes, in seconds.
double stream_floor_seconds(const Signal& x, std::size_t taps, int repeats);
