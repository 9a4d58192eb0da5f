#include "dsp/dsp.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "dsp/dsp_internal.h"
#include "timing/timing.h"

// Blocked direct convolution.
//
// The plain loop adds h[j]*x[i] into y[i+j] for i = 0..N-1, j = 0..M-1. Here
// B consecutive inputs are taken per pass over the outputs: each y[k] is
// loaded once, receives the B products of x[i0], ..., x[i0+B-1] in that
// order, and is stored once. Outputs are independent, so a pass runs W
// outputs wide in vector registers, with B = W. Each output therefore still
// sees its terms in increasing i, each product rounded before its add: the
// same bits as the plain loop.
//
// Output vector k needs the taps h[k-b .. k-b+W-1] for b = 0..B-1. They are
// cut from two neighbouring tap vectors by a register shuffle rather than
// loaded one by one, so a pass loads one tap vector per output vector.
//
// The taps are padded with zeros on each side so that every output of a
// pass can take all B products. A padded product is 0*x = +-0, and adding
// +-0 leaves a sum unchanged unless the sum is -0; a sum that starts at +0.0
// can never become -0 under round-to-nearest. This holds only while every x
// is finite (0*inf is NaN), so inputs with an infinity or NaN take the plain
// loop instead.

namespace {

using dsp_internal::load;
using dsp_internal::store;
using dsp_internal::Vec;

// Zeros on each side of the taps: before, the widest vector (the shuffle
// window starts one vector early); after, B - 1 for the pass plus W - 1 for
// its last output vector, which may reach past the pass.
constexpr std::size_t tap_padding = 16;

// Taps h[k-Shift .. k-Shift+W-1], cut from lo = h[k-W .. k-1] and
// hi = h[k .. k+W-1].
template <int W, int Shift, std::size_t... Lane>
[[gnu::always_inline]] inline Vec<W> tap_window(Vec<W> lo, Vec<W> hi, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(lo, hi, (W - Shift + static_cast<int>(Lane))...);
}

// sum + products of inputs 0..B-1, added in input order.
template <int W, std::size_t... Input>
[[gnu::always_inline]] inline Vec<W> add_products(Vec<W> sum, Vec<W> lo, Vec<W> hi, const Vec<W>* xv,
                                                  std::index_sequence<Input...>) {
  ((sum = tap_window<W, static_cast<int>(Input)>(lo, hi, std::make_index_sequence<W>{}) * xv[Input] + sum), ...);
  return sum;
}

// Adds the products of inputs xs[0..B-1] to y[0..count-1], where y is the
// output at the first input's index, `room` >= count values of y exist, and
// taps[j] is h[j] (zero outside 0..M-1, readable for j in -W..count+W-2).
//
// The last vector of a pass may reach past `count`. Its extra lanes only add
// padded zero products, which leave those outputs as they are, so it is
// computed whole while it fits in `room`; only at the very end of y is it
// done on a copy.
template <int B, int W>
[[gnu::always_inline]] inline void accumulate_pass(const double* xs, const double* taps, double* y,
                                                   std::ptrdiff_t count, std::ptrdiff_t room) {
  static_assert(B <= W, "the shuffle window spans two tap vectors");
  Vec<W> xv[B];
  for (int b = 0; b < B; ++b) xv[b] = Vec<W>{} + xs[b];
  Vec<W> lo = load<W>(taps - W);
  std::ptrdiff_t k = 0;
  for (; k < count && k + W <= room; k += W) {
    const Vec<W> hi = load<W>(taps + k);
    store<W>(y + k, add_products<W>(load<W>(y + k), lo, hi, xv, std::make_index_sequence<B>{}));
    lo = hi;
  }
  if (k < count) {
    const auto rest = static_cast<std::size_t>(count - k);
    double partial[W] = {};
    __builtin_memcpy(partial, y + k, rest * sizeof(double));
    const Vec<W> hi = load<W>(taps + k);
    store<W>(partial, add_products<W>(load<W>(partial), lo, hi, xv, std::make_index_sequence<B>{}));
    __builtin_memcpy(y + k, partial, rest * sizeof(double));
  }
}

template <int W>
[[gnu::always_inline]] inline void accumulate_blocked(const double* x, std::ptrdiff_t n, const double* taps,
                                                      std::ptrdiff_t m, double* y) {
  constexpr int B = W;
  const std::ptrdiff_t length = n + m - 1;
  std::ptrdiff_t i0 = 0;
  for (; i0 + B <= n; i0 += B) accumulate_pass<B, W>(x + i0, taps, y + i0, m + B - 1, length - i0);
  for (; i0 < n; ++i0) accumulate_pass<1, W>(x + i0, taps, y + i0, m, length - i0);
}

#if defined(FIR_DISPATCH_X86)
FIR_TARGET_AVX512 void accumulate_avx512(const double* x, std::ptrdiff_t n, const double* taps, std::ptrdiff_t m,
                                         double* y) {
  accumulate_blocked<8>(x, n, taps, m, y);
}
FIR_TARGET_AVX2 void accumulate_avx2(const double* x, std::ptrdiff_t n, const double* taps, std::ptrdiff_t m,
                                     double* y) {
  accumulate_blocked<4>(x, n, taps, m, y);
}
#endif

void accumulate_baseline(const double* x, std::ptrdiff_t n, const double* taps, std::ptrdiff_t m, double* y) {
  accumulate_blocked<2>(x, n, taps, m, y);
}

using AccumulateFn = void (*)(const double*, std::ptrdiff_t, const double*, std::ptrdiff_t, double*);

AccumulateFn accumulate_kernel() {
  switch (dsp_internal::active_isa()) {
#if defined(FIR_DISPATCH_X86)
    case dsp_internal::Isa::avx512:
      return accumulate_avx512;
    case dsp_internal::Isa::avx2:
      return accumulate_avx2;
#endif
    default:
      return accumulate_baseline;
  }
}

// The loop in its documented form, for inputs the blocked kernel cannot take.
void accumulate_plain(const Signal& x, const Signal& h, Signal& y) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    for (std::size_t j = 0; j < h.size(); ++j) y[i + j] = h[j] * x[i] + y[i + j];
  }
}

}  // namespace

DspStatus direct_length(std::uint64_t n, std::uint64_t m, std::uint64_t& length) {
  length = 0;
  if (n > signal_max_length || m > signal_max_length || n + m > signal_max_length + 1) return DspStatus::too_long;
  if (n + m != 0) length = n + m - 1;
  return DspStatus::ok;
}

DspStatus convolve_direct(const Signal& x, const Signal& h, Signal& y) {
  std::uint64_t full_length = 0;
  if (direct_length(x.size(), h.size(), full_length) != DspStatus::ok) {
    y.clear();
    return DspStatus::too_long;
  }
  y.assign(static_cast<std::size_t>(full_length), 0.0);
  const std::size_t n = x.size();
  const std::size_t m = h.size();

  const bool finite = std::all_of(x.begin(), x.end(), [](double v) { return std::isfinite(v); });
  const bool blocked = finite && n > 0 && m > 0;
  Signal padded;
  if (blocked) {
    padded.assign(m + 2 * tap_padding, 0.0);
    std::copy(h.begin(), h.end(), padded.begin() + tap_padding);
  }
  const AccumulateFn accumulate = accumulate_kernel();

  stopwatch_start();
  if (blocked) {
    accumulate(x.data(), static_cast<std::ptrdiff_t>(n), padded.data() + tap_padding, static_cast<std::ptrdiff_t>(m),
                      y.data());
  } else {
    accumulate_plain(x, h, y);
  }
  stopwatch_stop();
  return DspStatus::ok;
}
