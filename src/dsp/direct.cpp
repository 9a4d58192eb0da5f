#include "dsp/dsp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "timing/timing.h"

// Blocked direct convolution.
//
// The plain loop adds h[j]*x[i] into y[i+j] for i = 0..N-1, j = 0..M-1. Here
// B consecutive inputs are taken per pass over the outputs: each y[k] is
// loaded once, receives the B products of x[i0], ..., x[i0+B-1] in that
// order, and is stored once. Outputs are independent, so a pass runs W
// outputs wide in vector registers. Each output therefore still sees its
// terms in increasing i, each product rounded before its add: the same bits
// as the plain loop.
//
// The taps are padded with B-1 zeros on each side so that every output of a
// pass can take all B products. A padded product is 0*x = +-0, and adding
// +-0 leaves a sum unchanged unless the sum is -0; a sum that starts at +0.0
// can never become -0 under round-to-nearest. This holds only while every x
// is finite (0*inf is NaN), so inputs with an infinity or NaN take the plain
// loop instead.

// The vector helpers below are always inlined into a function of the matching
// target, so no vector ever crosses a call and GCC's ABI note does not apply.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

constexpr int block_inputs = 8;  // B

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
static_assert(sizeof(Vec<8>) == 8 * sizeof(double));

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

// Adds the products of inputs xs[0..B-1] to y[0..count-1], where y is the
// output at the first input's index and taps[j] is h[j] (zero outside
// 0..M-1, readable for j in -(B-1)..count-1).
template <int B, int W>
[[gnu::always_inline]] inline void accumulate_pass(const double* xs, const double* taps, double* y,
                                                   std::ptrdiff_t count) {
  Vec<W> xv[B];
  for (int b = 0; b < B; ++b) xv[b] = Vec<W>{} + xs[b];
  std::ptrdiff_t k = 0;
  for (; k + W <= count; k += W) {
    Vec<W> sum = load<W>(y + k);
    for (int b = 0; b < B; ++b) sum = load<W>(taps + k - b) * xv[b] + sum;
    store<W>(y + k, sum);
  }
  for (; k < count; ++k) {
    double sum = y[k];
    for (int b = 0; b < B; ++b) sum = taps[k - b] * xs[b] + sum;
    y[k] = sum;
  }
}

template <int W>
[[gnu::always_inline]] inline void accumulate_blocked(const double* x, std::ptrdiff_t n, const double* taps,
                                                      std::ptrdiff_t m, double* y) {
  std::ptrdiff_t i0 = 0;
  for (; i0 + block_inputs <= n; i0 += block_inputs) {
    accumulate_pass<block_inputs, W>(x + i0, taps, y + i0, m + block_inputs - 1);
  }
  for (; i0 < n; ++i0) accumulate_pass<1, W>(x + i0, taps, y + i0, m);
}

#if defined(__GNUC__) && defined(__x86_64__)
#define FIR_DISPATCH_X86 1
[[gnu::target("avx512f")]] void accumulate_avx512(const double* x, std::ptrdiff_t n, const double* taps,
                                                   std::ptrdiff_t m, double* y) {
  accumulate_blocked<8>(x, n, taps, m, y);
}
[[gnu::target("avx2")]] void accumulate_avx2(const double* x, std::ptrdiff_t n, const double* taps,
                                              std::ptrdiff_t m, double* y) {
  accumulate_blocked<4>(x, n, taps, m, y);
}
#endif

void accumulate_baseline(const double* x, std::ptrdiff_t n, const double* taps, std::ptrdiff_t m, double* y) {
  accumulate_blocked<2>(x, n, taps, m, y);
}

using AccumulateFn = void (*)(const double*, std::ptrdiff_t, const double*, std::ptrdiff_t, double*);

struct Kernel {
  AccumulateFn accumulate;
  const char* isa;
};

Kernel select_kernel() {
#if defined(FIR_DISPATCH_X86)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return {accumulate_avx512, "avx512"};
  if (__builtin_cpu_supports("avx2")) return {accumulate_avx2, "avx2"};
#endif
  return {accumulate_baseline, "baseline"};
}

const Kernel& kernel() {
  static const Kernel chosen = select_kernel();
  return chosen;
}

// The loop in its documented form, for inputs the blocked kernel cannot take.
void accumulate_plain(const Signal& x, const Signal& h, Signal& y) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] = h[j] * x[i] + y[i + j];
  }
}

}  // namespace

const char* convolve_direct_isa() { return kernel().isa; }

DspStatus convolve_direct(const Signal& x, const Signal& h, Signal& y) {
  const std::uint64_t n = x.size();
  const std::uint64_t m = h.size();
  if (n + m > signal_max_length + 1) {
    y.clear();
    return DspStatus::too_long;
  }
  const std::size_t length = n + m == 0 ? 0 : static_cast<std::size_t>(n + m - 1);
  y.assign(length, 0.0);

  const bool finite = std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); });
  const bool blocked = finite && n > 0 && m > 0;
  constexpr std::size_t pad = block_inputs - 1;
  Signal padded;
  if (blocked) {
    padded.assign(m + 2 * pad, 0.0);
    std::copy(h.begin(), h.end(), padded.begin() + pad);
  }
  const Kernel& chosen = kernel();

  stopwatch_start();
  if (blocked) {
    chosen.accumulate(x.data(), static_cast<std::ptrdiff_t>(n), padded.data() + pad, static_cast<std::ptrdiff_t>(m),
                      y.data());
  } else {
    accumulate_plain(x, h, y);
  }
  stopwatch_stop();
  return DspStatus::ok;
}
