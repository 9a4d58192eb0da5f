// The direct stage's shifted-copies layout: W consecutive outputs in one
// vector, each output with its own tap range. Which outputs it takes: the
// table in direct_kernel.h.
//
// Names:
//   k        output index; a vector holds outputs k .. k + W - 1
//   j        tap index; a group runs its taps from j_hi down to j_lo
//   i        signal index, i = k - j
//   group    U vectors of sums kept in registers while the taps run:
//            outputs k0 .. k0 + U*W - 1
//   tile     tile_outputs outputs by tile_taps taps; a tile's part of x is
//            copied once per shift and read by all of its groups
//   copy s   the tile's part of x moved by s samples (s = 0 .. W - 1):
//            copy s, position q holds x[base + q - s], 0.0 outside x
//
// Tap j reads x from k0 - j on, a span that moves by one sample per tap;
// in the copy whose shift makes that position a multiple of W it is an
// aligned load.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dsp/direct_shape.h"
#include "dsp/kernels.h"
#include "dsp/vector.h"

namespace dsp_internal {

// Outputs per tile: the copies (W times the outputs and a tap tile) stay
// within the second-level cache of every processor we run on.
constexpr std::ptrdiff_t copies_tile_outputs = 2048;

// Doubles in one copy: a tile's span of x plus the group and shift
// margins, rounded up to whole cache lines.
template <DirectShape S>
constexpr std::ptrdiff_t copy_stride =
    (copies_tile_outputs + tile_taps + (S.copies_group + 3) * S.lanes + 7) / 8 * 8;

template <DirectShape S>
constexpr std::size_t copies_doubles = S.lanes * copy_stride<S>;

// copy s, position q := x[base + q - s], or 0.0 outside x, for q < count.
template <DirectShape S>
FIR_INLINE void make_copies(const DirectOperands& op, std::ptrdiff_t base, std::ptrdiff_t count, double* copies) {
  constexpr int W = S.lanes;
  for (std::ptrdiff_t s = 0; s < W; ++s) {
    double* copy = copies + s * copy_stride<S>;
    const double* source = op.x + (base - s);  // indexed only where it lies inside x
    const std::ptrdiff_t first = std::clamp<std::ptrdiff_t>(s - base, 0, count);
    const std::ptrdiff_t end = std::clamp<std::ptrdiff_t>(op.samples + s - base, first, count);
    std::ptrdiff_t q = 0;
    for (; q < first; ++q) copy[q] = 0.0;
    for (; q + W <= end; q += W) store<W>(copy + q, load<W>(source + q));
    for (; q < end; ++q) copy[q] = source[q];
    for (; q < count; ++q) copy[q] = 0.0;
  }
}

// Outputs k0 .. k0 + U*W - 1 (those below k_end) receive the terms of taps
// j_hi down to j_lo. `fresh`: the outputs still hold their initial 0.0, so
// the sums start from 0.0 without reading them.
template <DirectShape S>
FIR_INLINE void accumulate_copies_group(const DirectOperands& op, const double* copies, std::ptrdiff_t base,
                                        std::ptrdiff_t k0, std::ptrdiff_t k_end, std::ptrdiff_t j_hi,
                                        std::ptrdiff_t j_lo, bool fresh) {
  constexpr int W = S.lanes, U = S.copies_group;
  constexpr std::ptrdiff_t stride = copy_stride<S>;
  const bool whole = k0 + U * W <= k_end;
  double partial[U * W];  // a group cut by the end of the range, on a copy
  double* out = op.y + k0;
  if (!whole) {
    std::fill(partial, partial + U * W, 0.0);
    std::memcpy(partial, out, static_cast<std::size_t>(k_end - k0) * sizeof(double));
    out = partial;
  }

  Vec<W> sum[U];
  for (int u = 0; u < U; ++u) sum[u] = fresh ? Vec<W>{} : load<W>(out + u * W);
  // Tap j reads x from k0 - j on: shift s = (base - (k0 - j)) mod W makes
  // the position aligned (W is a power of two, so the mask is that modulo
  // for negative differences too). Each step down in j moves one copy up,
  // wrapping to the last copy one vector further on.
  static_assert((W & (W - 1)) == 0);
  std::ptrdiff_t shift = (base - (k0 - j_hi)) & (W - 1);
  const double* span = copies + shift * stride + (k0 - j_hi - base + shift);
  for (std::ptrdiff_t j = j_hi; j >= j_lo; --j) {
    // Written out here rather than in a helper: this form becomes one
    // broadcast from memory (tap - 0.0 is tap for every double).
    const double tap = op.h[j];
    const Vec<W> taps = tap - Vec<W>{};
    FIR_UNROLL
    for (int u = 0; u < U; ++u) sum[u] = taps * load<W>(span + u * W) + sum[u];
    if (shift > 0) {
      --shift;
      span -= stride;
    } else {
      shift = W - 1;
      span += (W - 1) * stride + W;
    }
  }
  for (int u = 0; u < U; ++u) store<W>(out + u * W, sum[u]);
  if (!whole) std::memcpy(op.y + k0, partial, static_cast<std::size_t>(k_end - k0) * sizeof(double));
}

// Outputs k_begin .. k_end - 1, tile by tile. Tiles and groups that hold no
// product of real samples are skipped: their outputs already hold their
// sum, 0.0.
template <DirectShape S>
FIR_INLINE void accumulate_shifted_copies(const DirectOperands& op, std::ptrdiff_t k_begin, std::ptrdiff_t k_end,
                                          double* copies) {
  constexpr int W = S.lanes;
  constexpr std::ptrdiff_t group_outputs = S.copies_group * W;
  for (std::ptrdiff_t tile_begin = k_begin; tile_begin < k_end; tile_begin += copies_tile_outputs) {
    const std::ptrdiff_t tile_end = std::min(k_end, tile_begin + copies_tile_outputs);
    const std::ptrdiff_t groups_end =
        tile_begin + (tile_end - tile_begin + group_outputs - 1) / group_outputs * group_outputs;
    bool fresh = true;
    for (std::ptrdiff_t j_end = op.taps; j_end > 0; j_end -= tile_taps) {
      const std::ptrdiff_t j_begin = std::max<std::ptrdiff_t>(0, j_end - tile_taps);
      // Output k takes tap j when 0 <= k - j < N.
      if (tile_begin - (j_end - 1) >= op.samples || tile_end - 1 < j_begin) continue;
      // The tile reads x from tile_begin - (j_end - 1) to groups_end - 1 -
      // j_begin; a margin of W before, and 2W after for the shifts and the
      // last vector.
      const std::ptrdiff_t base = tile_begin - (j_end - 1) - W;
      make_copies<S>(op, base, groups_end - 1 - j_begin - base + 2 * W, copies);
      for (std::ptrdiff_t k0 = tile_begin; k0 < tile_end; k0 += group_outputs) {
        const std::ptrdiff_t j_hi = std::min(j_end - 1, k0 + group_outputs - 1);
        const std::ptrdiff_t j_lo = std::max(j_begin, k0 - op.samples + 1);
        if (j_hi >= j_lo) accumulate_copies_group<S>(op, copies, base, k0, tile_end, j_hi, j_lo, fresh);
      }
      fresh = false;
    }
  }
}

}  // namespace dsp_internal
