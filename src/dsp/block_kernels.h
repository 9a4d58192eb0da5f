// The arithmetic around the transforms in the overlap-add block loop, for W
// doubles per vector; instantiated per instruction set in kernels.cpp.
#pragma once

#include <cstddef>
#include <utility>

#include "dsp/vector.h"

namespace dsp_internal {

// X[k] := (X[k] * H[k]) * scale for bins k = first .. bins-1, one at a
// time: re = (xr*hr - xi*hi) * scale, im = (xr*hi + xi*hr) * scale, one
// rounding per operation, the scale applied to the finished product.
inline void multiply_bins(double* spectrum, const double* h_re, const double* h_im, std::size_t first,
                          std::size_t bins, double scale) {
  for (std::size_t k = first; k < bins; ++k) {
    const double xr = spectrum[2 * k], xi = spectrum[2 * k + 1];
    spectrum[2 * k] = (xr * h_re[k] - xi * h_im[k]) * scale;
    spectrum[2 * k + 1] = (xr * h_im[k] + xi * h_re[k]) * scale;
  }
}

#if defined(FIR_PORTABLE_KERNELS)

template <int W>
inline void multiply_spectra(double* spectrum, const double* h_re, const double* h_im, std::size_t bins,
                             double scale) {
  multiply_bins(spectrum, h_re, h_im, 0, bins, scale);
}

#else

// Lane shuffles between interleaved complex values (re, im, re, im, ...)
// and separate real and imaginary vectors.
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> even_lanes(Vec<W> a, Vec<W> b, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(a, b, static_cast<int>(2 * Lane)...);
}
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> odd_lanes(Vec<W> a, Vec<W> b, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(a, b, static_cast<int>(2 * Lane + 1)...);
}
// Lanes re[0], im[0], re[1], im[1], ... from the low (first) or the high half.
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> interleave_low(Vec<W> re, Vec<W> im, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(re, im, static_cast<int>(Lane / 2 + (Lane % 2) * W)...);
}
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> interleave_high(Vec<W> re, Vec<W> im, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(re, im, static_cast<int>(W / 2 + Lane / 2 + (Lane % 2) * W)...);
}

// multiply_bins for `bins` complex bins of the interleaved block spectrum,
// with H given as separate real and imaginary parts (split once before the
// loop, so only the block's values need shuffling); bins are independent,
// so W of them share a vector without changing a bit.
template <int W>
FIR_INLINE void multiply_spectra(double* spectrum, const double* h_re, const double* h_im, std::size_t bins,
                                 double scale) {
  constexpr auto lanes = std::make_index_sequence<W>{};
  const Vec<W> s = Vec<W>{} + scale;
  std::size_t k = 0;
  for (; k + W <= bins; k += W) {
    const Vec<W> a = load<W>(spectrum + 2 * k);
    const Vec<W> b = load<W>(spectrum + 2 * k + W);
    const Vec<W> xr = even_lanes<W>(a, b, lanes);
    const Vec<W> xi = odd_lanes<W>(a, b, lanes);
    const Vec<W> hr = load<W>(h_re + k);
    const Vec<W> hi = load<W>(h_im + k);
    const Vec<W> re = (xr * hr - xi * hi) * s;
    const Vec<W> im = (xr * hi + xi * hr) * s;
    store<W>(spectrum + 2 * k, interleave_low<W>(re, im, lanes));
    store<W>(spectrum + 2 * k + W, interleave_high<W>(re, im, lanes));
  }
  multiply_bins(spectrum, h_re, h_im, k, bins, scale);
}

#endif

// block[0 .. count-1] := x[0 .. count-1], block[count .. length-1] := 0.0.
// Plain vector moves: for blocks of a few kilobytes the library's memcpy and
// memset cost about twice as much here.
template <int W>
FIR_INLINE void load_block(double* block, const double* x, std::size_t count, std::size_t length) {
  std::size_t i = 0;
  for (; i + W <= count; i += W) store<W>(block + i, load<W>(x + i));
  for (; i < count; ++i) block[i] = x[i];
  for (; i < length && i % W != 0; ++i) block[i] = 0.0;
  for (; i + W <= length; i += W) store<W>(block + i, Vec<W>{});
  for (; i < length; ++i) block[i] = 0.0;
}

// Adds the first `added` values of a block's convolution b onto y (where the
// block before left its tail) and stores the next `stored`, which no
// earlier block has reached. The stage's blocks add n and store n.
template <int W>
FIR_INLINE void overlap_add(const double* b, double* y, std::size_t added, std::size_t stored) {
  std::size_t i = 0;
  for (; i + W <= added; i += W) store<W>(y + i, load<W>(b + i) + load<W>(y + i));
  for (; i < added; ++i) y[i] = b[i] + y[i];
  const std::size_t end = added + stored;
  for (; i + W <= end; i += W) store<W>(y + i, load<W>(b + i));
  for (; i < end; ++i) y[i] = b[i];
}

}  // namespace dsp_internal
