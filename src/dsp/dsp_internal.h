// Shared by the dsp kernels: fixed-width double vectors and the run-time
// choice of instruction set.
//
// A kernel is written once as an always-inline template over the vector
// width W and instantiated in one function per instruction set, each with
// the matching target attribute; the choice among them is made at run time.
// -ffp-contract=off holds in every one, so no multiply and add are fused.
#pragma once

#include <cstddef>

// The vector helpers are always inlined into a function of the matching
// target, so no vector ever crosses a call and GCC's ABI note does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#define FIR_DISPATCH_X86 1
#define FIR_TARGET_AVX512 [[gnu::target("avx512f")]]
#define FIR_TARGET_AVX2 [[gnu::target("avx2")]]
#endif

namespace dsp_internal {

// The instruction sets, best first. `baseline` is SSE2 on x86-64 and the
// compiler's generic vectors elsewhere.
enum class Isa { avx512, avx2, baseline };

// The set the kernels use: the best this processor has, unless a test or
// benchmark chose another through dsp_use_isa.
Isa active_isa();

// The arithmetic around the transforms in the overlap-add block loop, for
// the active instruction set (every choice gives the same bits). Shared
// with the benchmarks, whose floor uses the stage's own bin product.
struct BlockArithmetic {
  // block[0 .. count-1] := x[0 .. count-1], block[count .. length-1] := 0.0.
  void (*load_block)(double* block, const double* x, std::size_t count, std::size_t length);
  // X[k] := (X[k] * H[k]) * scale for `bins` interleaved complex bins of x,
  // H given as separate real and imaginary parts.
  void (*multiply)(double* x, const double* h_re, const double* h_im, std::size_t bins, double scale);
  // y[0 .. n-1] += b[0 .. n-1]; y[n .. 2n-1] := b[n .. 2n-1].
  void (*overlap_add)(const double* b, double* y, std::size_t n);
};
BlockArithmetic block_arithmetic();

// W doubles in one vector register. (GCC drops vector_size on an alias
// template, so each width is spelled out.)
template <int W>
struct VectorOf;
template <>
struct VectorOf<2> {
  typedef double type __attribute__((vector_size(16)));
};
template <>
struct VectorOf<4> {
  typedef double type __attribute__((vector_size(32)));
};
template <>
struct VectorOf<8> {
  typedef double type __attribute__((vector_size(64)));
};
template <int W>
using Vec = typename VectorOf<W>::type;

template <int W>
[[gnu::always_inline]] inline Vec<W> load(const double* p) {
  Vec<W> v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <int W>
[[gnu::always_inline]] inline void store(double* p, Vec<W> v) {
  __builtin_memcpy(p, &v, sizeof v);
}

}  // namespace dsp_internal
