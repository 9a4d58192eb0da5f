// W doubles in one vector, for the kernels (kernels.cpp and the kernel
// headers it includes).
//
// A kernel is written once as a template over W. With GCC or Clang a vector
// is the compilers' vector extension, and each instantiation sits in a
// function compiled for one instruction set (kernels.cpp). Elsewhere
// (MSVC), or when FIR_BENCH_PORTABLE is defined, a vector is a plain array
// of W doubles with element-wise operators: plain C++, nothing of the GNU
// dialect. Every lane does the same IEEE operation either way, and
// -ffp-contract=off (or /fp:precise) holds in every one, so all choices give
// the same bits.
#pragma once

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

namespace dsp_internal {

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

}  // namespace dsp_internal
