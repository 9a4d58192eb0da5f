// The overlap-add engine: FFTW's real transforms of length K, the filter's
// spectrum, and the block loop around them, shared by the FFT stage,
// fir_sweep's search for the best K and the benchmarks' floors. One plan
// lifecycle: prepare, run, release.
#pragma once

#include <cstddef>
#include <cstdint>

#include "signal/signal.h"
#include "signal/status.h"

// The FFT stage's layout for N `samples` and M `taps`: blocks of n new
// samples, n the smallest power of two >= max(M, min(N, 1024)), transforms
// of K = 2n, ceil(N / n) blocks, n * (blocks + 2) output values. N = M = 0
// gives zeros. Returns too_long, with `layout` zeroed, when K exceeds
// FFTW's int, a spectrum (16 (n + 1) bytes) `addressable` bytes, or the
// output what a Signal holds; tests pass a 32-bit system's `addressable`.
struct OverlapAddLayout {
  std::uint64_t block_length;
  std::uint64_t blocks;
  std::uint64_t output_length;
};
Status overlap_add_layout(std::uint64_t samples, std::uint64_t taps, OverlapAddLayout& layout,
                          std::uint64_t addressable = addressable_bytes);

// How an engine cuts the signal: transforms of K >= M, each block taking
// `block` new samples (at most K - M + 1; n in the stage), then adding the
// first `added` values of its convolution onto y and storing the next
// `stored`, which no earlier block reached (n and n in the stage).
// How FFTW plans: estimate, as the stage does (no trial runs, the same plan
// every time), or measure (trial runs pick the fastest; slower to plan).
enum class Planner { estimate, measure };

struct OverlapAddShape {
  std::size_t transform_length;
  std::size_t block, added, stored;
  Planner planner;
};

// The FFT stage's shape for its layout: transforms of 2n, blocks of n, n
// values added and n stored, planned by estimate.
OverlapAddShape stage_shape(const OverlapAddLayout& layout);

struct OverlapAddEngine;

// Holds the buffers and y (`output_length` zeros), checks that the memory
// FFTW's planner takes is there (FFTW aborts when it is not), plans (its
// time in `plan_ms` when given) and transforms h. Returns out_of_memory or
// fftw_failed with nothing held and y empty.
Status overlap_add_prepare(const Signal& h, const OverlapAddShape& shape, std::size_t output_length, Signal& y,
                           OverlapAddEngine*& engine, double* plan_ms = nullptr);

// The block loop: every block of x filtered into y, untimed.
void overlap_add_run(const OverlapAddEngine& engine, const Signal& x, Signal& y);

// The loop's floor: `blocks` times what FFTW and the bin product must do
// (forward transform, product, inverse), on one block, nothing copied.
void overlap_add_transforms_only(const OverlapAddEngine& engine, std::uint64_t blocks);

// Destroys the plans and frees the buffers, in that order; null after.
void overlap_add_release(OverlapAddEngine*& engine);

// Makes FFTW forget its planner and everything it planned (no engine may be
// held): the next engine pays for planning from nothing, as a program's
// first does.
void overlap_add_forget_plans();

// The FFTW library in use, as it names itself ("fftw-3.3.10").
const char* fftw_library_version();
