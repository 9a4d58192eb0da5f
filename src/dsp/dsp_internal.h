// Inside the dsp module: the kernel table the stages run on, and the length
// arithmetic of both stages. Tests, benchmarks and fir_sweep include it too:
// they choose kernels, check lengths at a 32-bit system's limits and read
// the overlap-add layout.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string_view>

#include "signal/signal.h"
#include "signal/status.h"

namespace dsp_internal {

// ---- The kernel table --------------------------------------------------------------

// The direct stage's operands: x with `samples` values, h with `taps`, and
// y with length = samples + taps - 1 values, zero-filled.
struct DirectOperands {
  const double* x;
  std::ptrdiff_t samples;
  const double* h;
  std::ptrdiff_t taps;
  double* y;
  std::ptrdiff_t length;
};

// One instruction set and every loop the stages run on it. All rows give
// the same bits; they differ only in speed.
struct Kernels {
  const char* name;
  bool (*supported)();  // this processor has the instruction set
  bool (*preferred)();  // and it is the fastest choice here
  int lanes;            // doubles per vector

  // Direct stage: y += the terms of every tap, in the plain loop's order,
  // for taps that are all finite; `scratch` holds scratch_doubles values,
  // 64-byte aligned.
  void (*accumulate)(const DirectOperands& operands, double* scratch);
  std::size_t scratch_doubles;

  // Overlap-add block loop: block[0 .. count-1] := x[0 .. count-1] and the
  // rest of its `length` values 0.0; X[k] := (X[k] * H[k]) * scale for
  // `bins` interleaved complex bins of x, H given as separate real and
  // imaginary parts; y[0 .. a-1] += b[0 .. a-1] and y[a .. a+s-1] :=
  // b[a .. a+s-1] for a values `added` and s `stored` (the stage: n and n).
  void (*load_block)(double* block, const double* x, std::size_t count, std::size_t length);
  void (*multiply)(double* x, const double* h_re, const double* h_im, std::size_t bins, double scale);
  void (*overlap_add)(const double* b, double* y, std::size_t added, std::size_t stored);

  // For the benchmarks: `iterations` rounds of separate vector multiplies
  // and adds, 12 of each per round, at the rate the processor allows (the
  // ceiling of an exact multiply-add kernel). Returns a value to keep.
  double (*multiply_add_peak)(std::int64_t iterations);
};

// Every row built into this program, best first; the last, the baseline,
// runs on every processor of the target.
std::span<const Kernels> kernel_table();

// The row the stages use: the first this processor prefers, unless
// use_kernels chose another.
const Kernels& active_kernels();

// Makes the stages use the named row; false, changing nothing, when the
// name is unknown or this processor lacks the instruction set.
bool use_kernels(std::string_view name);

// ---- Lengths ----------------------------------------------------------------------------

// The most bytes one block of memory can span here: a container's size in
// bytes must fit a ptrdiff_t, 2^63 - 1 on 64-bit systems, 2^31 - 1 on
// 32-bit ones.
inline constexpr std::uint64_t addressable_bytes = std::numeric_limits<std::ptrdiff_t>::max();

// The most values a Signal can hold where one block spans at most
// `addressable` bytes: the 32-bit count, or fewer (2^28 - 1 on a 32-bit
// system).
constexpr std::uint64_t signal_capacity(std::uint64_t addressable) {
  return std::min(signal_max_length, addressable / sizeof(double));
}

// The direct result's length for `samples` and `taps`: N + M - 1, or 0 when
// N = M = 0. Returns too_long, with `length` 0, when it exceeds
// signal_capacity(addressable). Tests pass a 32-bit system's `addressable`.
Status direct_length(std::uint64_t samples, std::uint64_t taps, std::uint64_t& length,
                     std::uint64_t addressable = addressable_bytes);

// Block length n (a power of two), block count and output length of the
// overlap-add stage for N `samples` and M `taps`:
//   n = smallest power of two >= max(M, min(N, 1024)),
//   blocks = ceil(N / n), output length = n * (blocks + 2).
// N = M = 0 gives all zeros. Returns too_long, with `layout` zeroed, when the
// transform length 2n exceeds FFTW's int, the largest FFTW buffer
// (32n + 16 bytes) exceeds `addressable` bytes, or the output length exceeds
// signal_capacity(addressable).
struct OverlapAddLayout {
  std::uint64_t block_length;
  std::uint64_t blocks;
  std::uint64_t output_length;
};
Status overlap_add_layout(std::uint64_t samples, std::uint64_t taps, OverlapAddLayout& layout,
                          std::uint64_t addressable = addressable_bytes);

}  // namespace dsp_internal
