// Filtering a Signal two ways and measuring how far apart the results land.
//
// Notation: x is the input (N samples), h the taps (M), y a result. All
// arithmetic is IEEE double with every product rounded before it is added.
// Each stage times its own computation loop with the process-wide stopwatch;
// stopwatch.average_ms holds that time when the stage returns.
#pragma once

#include <cstdint>
#include <string_view>

#include "signal/signal.h"

enum class DspStatus {
  ok,
  too_long,       // a length or size does not fit its counter; y is left empty
  out_of_memory,  // memory ran out for the result or the working buffers; y is left empty
  fftw_failed,    // an FFTW planner returned no plan; y is left empty
};

// y := x * h, the full linear convolution.  [size: y gets N + M - 1 values;
// none when N + M - 1 < 1]  Every y[k] receives its terms h[j]*x[i] in
// increasing input index i, starting from 0.0, so the result is the same to
// the bit as the plain loop `for i, for j: y[i+j] = h[j]*x[i] + y[i+j]`.
// Allocation happens before the stopwatch starts; only the accumulation is
// timed. Returns too_long when N + M - 1 exceeds signal_capacity().
DspStatus convolve_direct(const Signal& x, const Signal& h, Signal& y);

// The direct result's length for `samples` and `taps`: N + M - 1, or 0 when
// N = M = 0. Returns too_long, with `length` 0, when it exceeds
// signal_capacity(addressable): the 32-bit count, or what one block of
// `addressable` bytes holds (the default is this platform's; tests pass a
// 32-bit system's).
DspStatus direct_length(std::uint64_t samples, std::uint64_t taps, std::uint64_t& length,
                        std::uint64_t addressable = addressable_bytes);

// The vector instruction set the stages' own loops use, chosen at run time
// as the fastest this processor has: "avx512", "avx2" or "baseline" (SSE2 on
// x86-64, the compiler's generic vectors elsewhere). AVX2 where AVX-512 runs
// as two 256-bit halves (AMD Zen 4).
const char* dsp_isa();

// Makes the stages use the named instruction set; false, changing nothing,
// when it is unknown or this processor lacks it. For tests and benchmarks:
// every choice gives the same bits.
bool dsp_use_isa(std::string_view isa);

// ---- Overlap-add convolution ------------------------------------------------

// Block length n (a power of two), block count and output length of the
// overlap-add stage for N `samples` and M `taps`:
//   n = smallest power of two >= max(M, min(N, 1024)),
//   blocks = ceil(N / n), output length = n * (blocks + 2).
// N = M = 0 gives all zeros. Returns too_long, with `layout` zeroed, when the
// transform length 2n exceeds FFTW's int, the largest FFTW buffer
// (32n + 16 bytes) exceeds `addressable` bytes, or the output length exceeds
// signal_capacity(addressable) (see direct_length).
struct OverlapAddLayout {
  std::uint64_t block_length;
  std::uint64_t blocks;
  std::uint64_t output_length;
};
DspStatus overlap_add_layout(std::uint64_t samples, std::uint64_t taps, OverlapAddLayout& layout,
                             std::uint64_t addressable = addressable_bytes);

// y := x * h by FFT overlap-add with FFTW: blocks of n inputs, real
// transforms of length 2n planned with FFTW_ESTIMATE, the filter spectrum
// computed once. [size: y gets the layout's output_length values]
// y[0 .. N+M-2] is the linear convolution within the transforms' rounding;
// after it, up to the end of the last block's window, y holds only rounding
// residue, and every sample after that window is exactly 0.0. Planning, the
// filter transform and zero-filling y happen before the stopwatch starts;
// only the block loop is timed. N = M = 0 calls no FFTW function, leaves y
// empty and still starts and stops the stopwatch once.
DspStatus convolve_overlap_add(const Signal& x, const Signal& h, Signal& y);

// ---- Comparison ------------------------------------------------------------

// How far the FFT result strays from the direct one.
struct DeviationStats {
  double rms;      // sqrt(sum of d[k]^2 / L); NaN for L = 0 (0 / 0)
  double max_abs;  // largest |d[k]| after the last NaN difference, see below
};

// d := y - f over L = y.size() values (f must hold at least L; values of f
// beyond them are ignored), and their statistics into `deviations`. The
// squares are summed in increasing k from 0.0, one addition each, and the
// running maximum A starts at 0.0 and takes |d[k]| unless |d[k]| < A: so a
// NaN difference makes A a NaN, and the next difference of any size
// replaces it. Not timed; prints nothing. Returns out_of_memory, with d
// empty, when d cannot be held.
DspStatus compare_signals(const Signal& y, const Signal& f, Signal& d, DeviationStats& deviations);
