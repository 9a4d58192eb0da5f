// Shared by the dsp kernels: fixed-width double vectors, the run-time choice
// of instruction set, and the arithmetic around the FFT stage's transforms.
//
// A kernel is written once as a template over the vector width W. With GCC
// or Clang it runs on the compilers' vector extension, instantiated in one
// function per instruction set with the matching target attribute and
// chosen at run time. Elsewhere (MSVC), or when FIR_BENCH_PORTABLE is
// defined, a vector is a plain array of W doubles with element-wise
// operators: plain C++, nothing of the GNU dialect. Every lane does the same
// IEEE operation either way, and -ffp-contract=off (or /fp:precise) holds in
// every one, so all choices give the same bits.
#pragma once

#include <cstddef>
#include <cstring>

#if defined(FIR_BENCH_PORTABLE) || !defined(__GNUC__)
#define FIR_PORTABLE_KERNELS 1
#endif

#if defined(FIR_PORTABLE_KERNELS)
#define FIR_INLINE inline
#define FIR_UNROLL
#else
#define FIR_INLINE [[gnu::always_inline]] inline
#define FIR_UNROLL _Pragma("GCC unroll 16")
#endif

#if !defined(FIR_PORTABLE_KERNELS) && defined(__x86_64__)
#define FIR_DISPATCH_X86 1
#define FIR_TARGET_AVX512 [[gnu::target("avx512f")]]
#define FIR_TARGET_AVX2 [[gnu::target("avx2")]]
#endif

namespace dsp_internal {

// The instruction sets, best first. `baseline` is SSE2 on x86-64, the
// compiler's generic vectors elsewhere, and the plain arrays when portable.
enum class Isa { avx512, avx2, baseline };

// The set the kernels use: the fastest this processor has, unless a test or
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

// ---- W doubles in one vector ---------------------------------------------------

#if defined(FIR_PORTABLE_KERNELS)

template <int W>
struct Vec {
  double lane[W];
  double operator[](int i) const { return lane[i]; }
};

template <int W>
inline Vec<W> operator+(Vec<W> a, Vec<W> b) {
  for (int i = 0; i < W; ++i) a.lane[i] = a.lane[i] + b.lane[i];
  return a;
}
template <int W>
inline Vec<W> operator-(Vec<W> a, Vec<W> b) {
  for (int i = 0; i < W; ++i) a.lane[i] = a.lane[i] - b.lane[i];
  return a;
}
template <int W>
inline Vec<W> operator*(Vec<W> a, Vec<W> b) {
  for (int i = 0; i < W; ++i) a.lane[i] = a.lane[i] * b.lane[i];
  return a;
}
// A scalar with a vector, lane by lane, as the vector extension has it.
template <int W>
inline Vec<W> operator-(double s, Vec<W> v) {
  for (int i = 0; i < W; ++i) v.lane[i] = s - v.lane[i];
  return v;
}
template <int W>
inline Vec<W> operator+(Vec<W> v, double s) {
  for (int i = 0; i < W; ++i) v.lane[i] = v.lane[i] + s;
  return v;
}

#else

// (GCC drops vector_size on an alias template, so each width is spelled out.)
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

#endif

template <int W>
FIR_INLINE Vec<W> load(const double* p) {
  Vec<W> v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <int W>
FIR_INLINE void store(double* p, const Vec<W>& v) {
  std::memcpy(p, &v, sizeof v);
}

// Asks for the cache lines of p[0 .. count-1] ahead of reading them;
// nothing where the compiler has no prefetch.
FIR_INLINE void prefetch(const double* p, std::ptrdiff_t count) {
#if defined(FIR_PORTABLE_KERNELS)
  static_cast<void>(p), static_cast<void>(count);
#else
  for (std::ptrdiff_t i = 0; i < count; i += 8) __builtin_prefetch(p + i, 0, 3);
#endif
}

}  // namespace dsp_internal
