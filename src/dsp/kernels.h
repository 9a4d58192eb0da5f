// The vector loops of both stages, one row per instruction set, chosen by
// the processor at run time. All rows give the same bits; they differ only
// in speed. Tests and benchmarks run every row the processor has.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

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

struct Kernels {
  const char* name;
  bool (*supported)();  // this processor has the instruction set
  bool (*preferred)();  // and it is the fastest choice here

  // Direct stage: y += every tap's terms in the plain loop's order, for
  // taps that are all finite; `scratch`: scratch_doubles values, 64-byte
  // aligned.
  void (*accumulate)(const DirectOperands& operands, double* scratch);
  std::size_t scratch_doubles;

  // Overlap-add block loop: block[0 .. count-1] := x[0 .. count-1], the
  // rest of its `length` values 0.0; spectrum[k] := (spectrum[k] * H[k]) *
  // scale for `bins` interleaved complex bins, H split into real and
  // imaginary parts; y[0 .. added-1] += b[..] and y[added ..
  // added+stored-1] := b[..].
  void (*load_block)(double* block, const double* x, std::size_t count, std::size_t length);
  void (*multiply)(double* spectrum, const double* h_re, const double* h_im, std::size_t bins, double scale);
  void (*overlap_add)(const double* b, double* y, std::size_t added, std::size_t stored);
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
