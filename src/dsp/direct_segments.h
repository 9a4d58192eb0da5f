// The direct stage's segments layout: one segment of consecutive outputs
// per lane. Which outputs it takes: the table in direct_kernel.h.
//
// Names:
//   s, t     the signal and the taps of the oriented convolution (Oriented):
//            x and h, or both swapped and read backwards
//   k        output index of the oriented convolution
//   j        tap index; a group runs its taps from j_hi down to j_lo
//   tile     W segments of `rows` consecutive outputs each, starting at k0:
//            lane l holds the segment from k0 + l*rows
//   row r    output r of every segment: one vector, lane l holding output
//            k0 + l*rows + r
//   group    U consecutive rows of sums kept in registers while the taps run
//   square   W consecutive rows, transposed as a W x W block
//   span     the signal one tap of a group reads, one vector per row
//
// A tile's signal is transposed once, square by square, so that tap j's
// span of row r is the aligned transposed row r + (tap tile end - 1 - j).
// Consecutive taps share all but one of a group's spans, which stay in
// registers. A group runs every tap that any of its outputs takes: where the
// outputs' tap ranges grow or shrink (the ends of y), tiles are made short,
// so that a group's outputs stay close and few taps run for nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "dsp/direct_shape.h"
#include "dsp/kernels.h"
#include "dsp/vector.h"

namespace dsp_internal {

// Rows per tile where every output takes every tap: the sums and the
// transposed signal of a tile stay within the second-level cache (256, 512
// and 1024 were measured; 1024 was a little faster).
constexpr std::ptrdiff_t segments_tile_rows = 1024;
// Tiles of fewer rows cost more in transposes than the segments save: the
// outputs whose tiles would be shorter take the shifted copies.
constexpr std::ptrdiff_t segments_least_rows = 128;
// Near the ends of y a tile's lanes may differ in tap count by at most
// 1/tap_spread of the taps its outputs take, so that a group runs few taps
// for nothing.
constexpr std::ptrdiff_t tap_spread = 8;

template <DirectShape S>
constexpr std::size_t segments_doubles = S.lanes * (2 * segments_tile_rows + tile_taps + 3 * S.segments_group);

// The signal, taps and output as the segments see them: forward, or both
// operands swapped and read backwards (direct_kernel.h says why that keeps
// the bits).
template <bool Reversed>
struct Oriented {
  const DirectOperands& op;

  std::ptrdiff_t signal_length() const { return Reversed ? op.taps : op.samples; }
  std::ptrdiff_t tap_count() const { return Reversed ? op.samples : op.taps; }
  double tap(std::ptrdiff_t j) const { return Reversed ? op.x[op.samples - 1 - j] : op.h[j]; }
  // W signal values from index i on.
  template <int W>
  FIR_INLINE Vec<W> signal(std::ptrdiff_t i) const {
    if constexpr (Reversed) return reversed<W>(load<W>(op.h + (op.taps - i - W)));
    return load<W>(op.x + i);
  }
  double signal_at(std::ptrdiff_t i) const { return Reversed ? op.h[op.taps - 1 - i] : op.x[i]; }
  // Outputs k .. k + W - 1.
  template <int W>
  FIR_INLINE void store_outputs(std::ptrdiff_t k, Vec<W> v) const {
    if constexpr (Reversed) {
      store<W>(op.y + (op.length - k - W), reversed<W>(v));
    } else {
      store<W>(op.y + k, v);
    }
  }
  void store_output(std::ptrdiff_t k, double v) const { op.y[Reversed ? op.length - 1 - k : k] = v; }
};

// One tap of a group whose spans rotate through registers: span u of
// this tap is register (u + T) mod U; register T then takes the span the
// tap U steps on needs.
template <int W, int U, int T>
FIR_INLINE void rotated_tap(Vec<W> (&sum)[U], Vec<W> (&span)[U], const double* signal, double tap) {
  const Vec<W> taps = tap - Vec<W>{};
  FIR_UNROLL
  for (int u = 0; u < U; ++u) sum[u] = taps * span[(u + T) % U] + sum[u];
  span[T] = load<W>(signal + (U + T) * W);
}
template <int W, int U, bool Reversed, std::size_t... T>
FIR_INLINE void rotated_taps(Vec<W> (&sum)[U], Vec<W> (&span)[U], const double* signal, const Oriented<Reversed>& o,
                             std::ptrdiff_t j, std::index_sequence<T...>) {
  (rotated_tap<W, U, static_cast<int>(T)>(sum, span, signal, o.tap(j - static_cast<std::ptrdiff_t>(T))), ...);
}

// Rows per lane of the tile from output k: segments_tile_rows where every
// output takes every tap; near the ends, where an output's tap count is
// about its distance from the end, few enough that the tile's lanes keep
// within tap_spread (near the far end the tile's own span counts too, hence
// tap_spread + 1); and no more than the outputs left up to k_end give each
// lane.
template <int W>
std::ptrdiff_t rows_at(std::ptrdiff_t k, std::ptrdiff_t k_end, std::ptrdiff_t t_len, std::ptrdiff_t s_len,
                       std::ptrdiff_t length, int group) {
  std::ptrdiff_t rows = segments_tile_rows;
  if (k < t_len - 1) rows = std::min(rows, (k + 1) / (tap_spread * W));
  if (k + W * rows > s_len) rows = std::min(rows, (length - k) / ((tap_spread + 1) * W));
  rows = std::max<std::ptrdiff_t>(rows, group);
  return std::min(rows, (k_end - k + W - 1) / W);
}

// A tile's transposed signal, square by square: rows q .. q + W - 1 (those
// below `count`), lane l := s[from + l*rows + q], 0.0 outside s.
template <int W, bool Reversed>
FIR_INLINE void gather_square(const Oriented<Reversed>& o, std::ptrdiff_t from, std::ptrdiff_t rows,
                              std::ptrdiff_t q, std::ptrdiff_t count, double* signal) {
  if (from + q >= 0 && q + W <= count && from + (W - 1) * rows + q + W <= o.signal_length()) {
    Vec<W> square[W];
    FIR_UNROLL
    for (int l = 0; l < W; ++l) square[l] = o.template signal<W>(from + l * rows + q);
    transpose<W>(square);
    FIR_UNROLL
    for (int l = 0; l < W; ++l) store<W>(signal + (q + l) * W, square[l]);
    return;
  }
  for (std::ptrdiff_t p = q; p < std::min(q + W, count); ++p) {
    for (int l = 0; l < W; ++l) {
      const std::ptrdiff_t i = from + l * rows + p;
      signal[p * W + l] = i >= 0 && i < o.signal_length() ? o.signal_at(i) : 0.0;
    }
  }
}

// The squares from row `gathered` on that rows below q need; returns the
// rows gathered then.
template <int W, bool Reversed>
FIR_INLINE std::ptrdiff_t gather_to(const Oriented<Reversed>& o, std::ptrdiff_t from, std::ptrdiff_t rows,
                                    std::ptrdiff_t gathered, std::ptrdiff_t q, std::ptrdiff_t count, double* signal) {
  for (; gathered < std::min(q, count); gathered += W) gather_square<W>(o, from, rows, gathered, count, signal);
  return gathered;
}

// Whether the tile's rows r .. r + W - 1 lie inside its `rows` for every
// lane, and all their outputs below k_end: a whole square to transpose.
template <int W>
constexpr bool whole_square(std::ptrdiff_t k0, std::ptrdiff_t rows, std::ptrdiff_t r, std::ptrdiff_t k_end) {
  return r + W <= rows && k0 + (W - 1) * rows + r + W <= k_end;
}

// The outputs of a tile's rows r .. r + W - 1 (those below `rows` and
// k_end) from its sums: W rows transposed are W consecutive outputs of each
// lane.
template <int W, bool Reversed>
FIR_INLINE void scatter_square(const Oriented<Reversed>& o, std::ptrdiff_t k0, std::ptrdiff_t rows, std::ptrdiff_t r,
                               std::ptrdiff_t k_end, const double* sums) {
  if (whole_square<W>(k0, rows, r, k_end)) {
    Vec<W> square[W];
    FIR_UNROLL
    for (int i = 0; i < W; ++i) square[i] = load<W>(sums + (r + i) * W);
    transpose<W>(square);
    FIR_UNROLL
    for (int l = 0; l < W; ++l) o.template store_outputs<W>(k0 + l * rows + r, square[l]);
    return;
  }
  for (std::ptrdiff_t p = r; p < std::min(r + W, rows); ++p) {
    for (int l = 0; l < W; ++l) {
      const std::ptrdiff_t k = k0 + l * rows + p;
      if (k < k_end) o.store_output(k, sums[p * W + l]);
    }
  }
}

// U rows of sums receive taps j_hi down to j_lo; tap j_hi's spans start at
// `span_at`, and each tap down moves them one row on.
template <int W, int U, bool Reversed>
FIR_INLINE void accumulate_segments_group(const Oriented<Reversed>& o, const double* span_at, std::ptrdiff_t j_hi,
                                          std::ptrdiff_t j_lo, Vec<W> (&sum)[U]) {
  Vec<W> span[U];
  FIR_UNROLL
  for (int u = 0; u < U; ++u) span[u] = load<W>(span_at + u * W);
  std::ptrdiff_t j = j_hi;
  for (; j - (U - 1) >= j_lo; j -= U, span_at += U * W) {
    rotated_taps<W, U>(sum, span, span_at, o, j, std::make_index_sequence<U>{});
  }
  for (; j >= j_lo; --j, span_at += W) {
    const double tap = o.tap(j);
    const Vec<W> taps = tap - Vec<W>{};
    FIR_UNROLL
    for (int u = 0; u < U; ++u) sum[u] = taps * load<W>(span_at + u * W) + sum[u];
  }
}

// One tile: outputs k0 + l * rows + r for lanes l < W and rows r < rows,
// through every tap tile that reaches them. Where one tap tile holds every
// tap, the signal is gathered and the outputs scattered square by square
// as the groups need and finish them, so that the shuffles overlap the
// groups' arithmetic.
template <DirectShape S, bool Reversed>
FIR_INLINE void accumulate_segments_tile(const Oriented<Reversed>& o, std::ptrdiff_t k0, std::ptrdiff_t rows,
                                         std::ptrdiff_t k_end, double* scratch) {
  constexpr int W = S.lanes, U = S.segments_group;
  const std::ptrdiff_t s_len = o.signal_length(), t_len = o.tap_count();
  const bool one_tap_tile = t_len <= tile_taps;
  double* const sums = scratch;
  double* const signal = scratch + W * (segments_tile_rows + U);
  const std::ptrdiff_t group_rows = (rows + U - 1) / U * U;
  const std::ptrdiff_t last = k0 + (W - 1) * rows + group_rows - 1;  // the highest output a group computes
  std::ptrdiff_t scattered = 0;
  bool fresh = true;
  for (std::ptrdiff_t j_end = t_len; j_end > 0; j_end -= tile_taps) {
    const std::ptrdiff_t j_begin = std::max<std::ptrdiff_t>(0, j_end - tile_taps);
    // Output k takes tap j when 0 <= k - j < s_len.
    if (k0 - (j_end - 1) >= s_len || last < j_begin) continue;
    // Tap j of row r reads signal row r + (j_end - 1 - j); the rotation
    // reads U rows ahead.
    const std::ptrdiff_t from = k0 - (j_end - 1), count = group_rows + (j_end - j_begin) - 1 + U;
    std::ptrdiff_t gathered =
        gather_to<W>(o, from, rows, 0, one_tap_tile ? (j_end - j_begin) + 2 * U : count, count, signal);
    for (std::ptrdiff_t r = 0; r < group_rows; r += U) {
      // A group runs the taps that any of its outputs takes.
      const std::ptrdiff_t j_hi = std::min(j_end - 1, k0 + (W - 1) * rows + r + U - 1);
      const std::ptrdiff_t j_lo = std::max(j_begin, k0 + r - s_len + 1);
      gathered = gather_to<W>(o, from, rows, gathered, r + (j_end - j_begin) + 2 * U, count, signal);
      Vec<W> sum[U];
      FIR_UNROLL
      for (int u = 0; u < U; ++u) sum[u] = fresh ? Vec<W>{} : load<W>(sums + (r + u) * W);
      accumulate_segments_group<W>(o, signal + (r + (j_end - 1 - j_hi)) * W, j_hi, j_lo, sum);
      if constexpr (U == W) {
        // A finished square goes out from the registers: through memory,
        // the stores would not reach the loads in time.
        if (one_tap_tile && scattered == r && whole_square<W>(k0, rows, r, k_end)) {
          transpose<W>(sum);
          FIR_UNROLL
          for (int l = 0; l < W; ++l) o.template store_outputs<W>(k0 + l * rows + r, sum[l]);
          scattered += W;
          continue;
        }
      }
      FIR_UNROLL
      for (int u = 0; u < U; ++u) store<W>(sums + (r + u) * W, sum[u]);
      if (one_tap_tile) {
        for (; scattered + W <= r + U; scattered += W) scatter_square<W>(o, k0, rows, scattered, k_end, sums);
      }
    }
    fresh = false;
  }
  if (fresh) return;  // no tap reaches these outputs: they keep their 0.0
  for (; scattered < rows; scattered += W) scatter_square<W>(o, k0, rows, scattered, k_end, sums);
}

// Outputs k = k_begin .. k_end - 1 of the oriented convolution, tile by
// tile.
template <DirectShape S, bool Reversed>
FIR_INLINE void accumulate_segments(const Oriented<Reversed>& o, std::ptrdiff_t k_begin, std::ptrdiff_t k_end,
                                    double* scratch) {
  for (std::ptrdiff_t k0 = k_begin, rows = 0; k0 < k_end; k0 += S.lanes * rows) {
    rows = rows_at<S.lanes>(k0, k_end, o.tap_count(), o.signal_length(), o.op.length, S.segments_group);
    accumulate_segments_tile<S>(o, k0, rows, k_end, scratch);
  }
}

}  // namespace dsp_internal
