// W doubles in one vector, for the kernels (kernels.cpp and the kernel
// headers it includes).
//
// A kernel is written once as a template over W. With GCC or Clang a vector
// is the compilers' vector extension, and each instantiation sits in a
// function compiled for one instruction set (kernels.cpp). Elsewhere
// (MSVC), or when the portable build defines FIR_PORTABLE_KERNELS, a vector
// is a plain array of W doubles with element-wise operators: plain C++,
// nothing of the GNU dialect. Every lane does the same IEEE operation either way, and
// -ffp-contract=off (or /fp:precise) holds in every one, so all choices give
// the same bits.
#pragma once

#include <cstddef>
#include <cstring>
#include <utility>

#if !defined(FIR_PORTABLE_KERNELS) && !defined(__GNUC__)
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

#if !defined(FIR_PORTABLE_KERNELS)
template <int W, std::size_t... L>
FIR_INLINE Vec<W> reversed(Vec<W> v, std::index_sequence<L...>) {
  return __builtin_shufflevector(v, v, static_cast<int>(W - 1 - L)...);
}
template <int W, int B, std::size_t... K>
FIR_INLINE void swap_lane_blocks(Vec<W>& a, Vec<W>& b, std::index_sequence<K...>) {
  const Vec<W> first = __builtin_shufflevector(a, b, static_cast<int>(K / B % 2 == 0 ? K : W + K - B)...);
  const Vec<W> second = __builtin_shufflevector(a, b, static_cast<int>(K / B % 2 == 0 ? K + B : W + K)...);
  a = first;
  b = second;
}
#endif

// Makes v live in a register from here on, changing no bit. GCC otherwise
// folds v's load into every multiply that reads it: one load per product
// instead of one per step, which halves the tap windows' speed where only
// 8 vector registers exist (32-bit x86).
template <int W>
FIR_INLINE void keep_in_register(Vec<W>& v) {
#if !defined(FIR_PORTABLE_KERNELS) && (defined(__x86_64__) || defined(__i386__))
  asm("" : "+v"(v));
#else
  static_cast<void>(v);
#endif
}

// Lanes 0 .. P - 1 from the top of `previous`, then lanes 0 .. W - P - 1 of
// `block`: the W values that start P before `block` where `previous` lies
// just before it. One lane shift (valignq) with AVX-512.
template <int W, int P, std::size_t... L>
FIR_INLINE Vec<W> shifted_in(const Vec<W>& previous, const Vec<W>& block, std::index_sequence<L...>) {
#if defined(FIR_PORTABLE_KERNELS)
  return {{(static_cast<int>(L) < P ? previous.lane[W - P + L] : block.lane[L - P])...}};
#else
  return __builtin_shufflevector(previous, block, (static_cast<int>(L) < P ? W - P + static_cast<int>(L)
                                                                           : W + static_cast<int>(L) - P)...);
#endif
}
template <int W, int P>
FIR_INLINE Vec<W> shifted_in(const Vec<W>& previous, const Vec<W>& block) {
  if constexpr (P == 0) {
    return block;
  } else {
#if !defined(FIR_PORTABLE_KERNELS) && defined(__x86_64__)
    // GCC makes a two-table permute of the shuffle, with an index vector in
    // a register for each P; the immediate shift needs none.
    if constexpr (W == 8) {
      Vec<W> out;
      asm("valignq %3, %2, %1, %0" : "=v"(out) : "v"(block), "v"(previous), "i"(W - P));
      return out;
    }
#endif
    return shifted_in<W, P>(previous, block, std::make_index_sequence<W>{});
  }
}

// Makes the compiler forget what `p` points to, so that every use loads it
// again (a broadcast within the multiply) instead of holding all it points
// to in registers, which the sums need.
FIR_INLINE void reload_each_time(const double*& p) {
#if !defined(FIR_PORTABLE_KERNELS)
  asm volatile("" : "+r"(p));
#else
  static_cast<void>(p);
#endif
}

// Keeps what uses a and b after this point from being computed before it:
// GCC would otherwise shift every block's spans ahead of their products and
// spill them.
template <int W>
FIR_INLINE void keep_in_order(Vec<W>& a, Vec<W>& b) {
#if !defined(FIR_PORTABLE_KERNELS)
  asm volatile("" : "+v"(a), "+v"(b));
#else
  static_cast<void>(a), static_cast<void>(b);
#endif
}

// The lanes of v in reverse order.
template <int W>
FIR_INLINE Vec<W> reversed(Vec<W> v) {
#if defined(FIR_PORTABLE_KERNELS)
  Vec<W> out;
  for (int i = 0; i < W; ++i) out.lane[i] = v.lane[W - 1 - i];
  return out;
#else
  return reversed<W>(v, std::make_index_sequence<W>{});
#endif
}

// Seen as rows of a matrix, a and b exchange their off-diagonal blocks of
// B lanes: lane k of a with (k / B) odd swaps with lane k - B of b.
template <int W, int B>
FIR_INLINE void swap_lane_blocks(Vec<W>& a, Vec<W>& b) {
#if defined(FIR_PORTABLE_KERNELS)
  for (int k = 0; k < W; ++k) {
    if (k / B % 2 != 0) std::swap(a.lane[k], b.lane[k - B]);
  }
#else
  swap_lane_blocks<W, B>(a, b, std::make_index_sequence<W>{});
#endif
}

// rows[0 .. W-1] := their transpose, by exchanging blocks of W/2, W/4, ..
// 1 lanes.
template <int W, int B, std::size_t... I>
FIR_INLINE void swap_stage(Vec<W> (&rows)[W], std::index_sequence<I...>) {
  ((I / B % 2 == 0 ? swap_lane_blocks<W, B>(rows[I], rows[I + B]) : void()), ...);
}
template <int W>
FIR_INLINE void transpose(Vec<W> (&rows)[W]) {
  if constexpr (W >= 8) swap_stage<W, 4>(rows, std::make_index_sequence<W - 4>{});
  if constexpr (W >= 4) swap_stage<W, 2>(rows, std::make_index_sequence<W - 2>{});
  swap_stage<W, 1>(rows, std::make_index_sequence<W - 1>{});
}

}  // namespace dsp_internal
