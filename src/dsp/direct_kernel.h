// The direct stage's blocked accumulation, for W doubles per vector;
// instantiated per instruction set in kernels.cpp.
//
// The plain loop adds h[j]*x[i] into y[i+j] for i = 0..N-1, j = 0..M-1, so
// every output y[k] receives its terms in increasing i, that is in
// decreasing j = k - i, starting from 0.0. Here a block of U vectors of W
// consecutive outputs stays in registers while j runs down over the taps:
// every lane gets h[j] * x[k - j] added in that same order, each product
// rounded before its add, so the bits are those of the plain loop. Outputs
// are independent, so running them W wide changes nothing.
//
// For tap j the block needs x[k0 - j ...], a window that moves by one sample
// per tap: loaded straight from x it would cross a cache line on most taps.
// So the part of x a tile of outputs and taps reads is first copied W times,
// row s moved by s samples, and every tap's window is then an aligned load
// from one of the rows. Tiles of tile_outputs outputs by tile_taps taps keep
// the rows within the first-level cache; the taps' tiles run from the last
// tap down, so the order of terms holds across tiles too.
//
// The rows hold zeros outside x, so a lane whose x index falls outside the
// signal adds h[j] * 0 = +-0, which leaves the sum unchanged: a sum that
// starts at +0.0 never becomes -0 under round-to-nearest. This needs every
// tap finite (inf * 0 is NaN); the stage takes the plain loop otherwise.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dsp/dsp_internal.h"
#include "dsp/vector.h"

namespace dsp_internal {

constexpr std::ptrdiff_t tile_outputs = 2048;
constexpr std::ptrdiff_t tile_taps = 512;

// Vectors per block: enough independent sums to cover the add latency, few
// enough to stay in registers (16 of them below AVX-512, 32 with it).
template <int W>
constexpr int block_vectors = W == 8 ? 8 : 12;

// Doubles in one row: a tile's window of x plus the block and shift margins,
// rounded up to whole cache lines.
template <int W>
constexpr std::ptrdiff_t row_stride = (tile_outputs + tile_taps + (block_vectors<W> + 3) * W + 7) / 8 * 8;

// The scratch the W rows take.
template <int W>
constexpr std::size_t rows_doubles = W * row_stride<W>;

// row s, position q := x[base + q - s], or 0.0 outside x, for q < count.
template <int W>
FIR_INLINE void copy_rows(const DirectOperands& c, std::ptrdiff_t base, std::ptrdiff_t count, double* rows) {
  for (std::ptrdiff_t s = 0; s < W; ++s) {
    double* row = rows + s * row_stride<W>;
    const double* source = c.x + (base - s);  // indexed only where it lies inside x
    const std::ptrdiff_t first = std::clamp<std::ptrdiff_t>(s - base, 0, count);
    const std::ptrdiff_t end = std::clamp<std::ptrdiff_t>(c.samples + s - base, first, count);
    std::ptrdiff_t q = 0;
    for (; q < first; ++q) row[q] = 0.0;
    for (; q + W <= end; q += W) store<W>(row + q, load<W>(source + q));
    for (; q < end; ++q) row[q] = source[q];
    for (; q < count; ++q) row[q] = 0.0;
  }
}

// Outputs k0 .. k0 + U*W - 1 (those below c.length) receive the terms of taps
// jhi down to jlo. `fresh`: the outputs still hold their initial 0.0, so the
// sums start from 0.0 without reading them.
template <int W>
FIR_INLINE void accumulate_block(const DirectOperands& c, const double* rows, std::ptrdiff_t base,
                                 std::ptrdiff_t k0, std::ptrdiff_t jhi, std::ptrdiff_t jlo, bool fresh) {
  constexpr int U = block_vectors<W>;
  constexpr std::ptrdiff_t stride = row_stride<W>;
  const bool whole = k0 + U * W <= c.length;
  double partial[U * W];  // the block at the end of y, on a copy
  double* out = c.y + k0;
  if (!whole) {
    std::fill(partial, partial + U * W, 0.0);
    std::memcpy(partial, out, static_cast<std::size_t>(c.length - k0) * sizeof(double));
    out = partial;
  }

  Vec<W> sum[U];
  for (int u = 0; u < U; ++u) sum[u] = fresh ? Vec<W>{} : load<W>(out + u * W);
  // Tap j reads x from k0 - j on: row shift = (base - (k0 - j)) mod W makes
  // the position aligned (W is a power of two, so the mask is that modulo
  // for negative differences too). Each step down in j moves one row up,
  // wrapping to the last row one vector further on.
  static_assert((W & (W - 1)) == 0);
  std::ptrdiff_t shift = (base - (k0 - jhi)) & (W - 1);
  const double* window = rows + shift * stride + (k0 - jhi - base + shift);
  for (std::ptrdiff_t j = jhi; j >= jlo; --j) {
    // Written out here rather than in a helper: this form becomes one
    // broadcast from memory (tap - 0.0 is tap for every double).
    const double tap = c.h[j];
    const Vec<W> taps = tap - Vec<W>{};
    FIR_UNROLL
    for (int u = 0; u < U; ++u) sum[u] = taps * load<W>(window + u * W) + sum[u];
    if (shift > 0) {
      --shift;
      window -= stride;
    } else {
      shift = W - 1;
      window += (W - 1) * stride + W;
    }
  }
  for (int u = 0; u < U; ++u) store<W>(out + u * W, sum[u]);
  if (!whole) std::memcpy(c.y + k0, partial, static_cast<std::size_t>(c.length - k0) * sizeof(double));
}

template <int W>
FIR_INLINE void accumulate_tiled(const DirectOperands& c, double* rows) {
  constexpr std::ptrdiff_t block = block_vectors<W> * W;
  for (std::ptrdiff_t c0 = 0; c0 < c.length; c0 += tile_outputs) {
    const std::ptrdiff_t c1 = std::min(c.length, c0 + tile_outputs);
    const std::ptrdiff_t blocks_end = c0 + (c1 - c0 + block - 1) / block * block;
    for (std::ptrdiff_t t1 = c.taps; t1 > 0; t1 -= tile_taps) {
      const std::ptrdiff_t t0 = std::max<std::ptrdiff_t>(0, t1 - tile_taps);
      // The tile reads x from c0 - (t1 - 1) to blocks_end - 1 - t0; a margin of
      // W before, and 2W after for the shifts and the last vector.
      const std::ptrdiff_t base = c0 - (t1 - 1) - W;
      copy_rows<W>(c, base, blocks_end - 1 - t0 - base + 2 * W, rows);
      const bool fresh = t1 == c.taps;
      for (std::ptrdiff_t k0 = c0; k0 < c1; k0 += block) {
        const std::ptrdiff_t jhi = std::min(t1 - 1, k0 + block - 1);
        const std::ptrdiff_t jlo = std::max(t0, k0 - c.samples + 1);
        accumulate_block<W>(c, rows, base, k0, jhi, jlo, fresh);
      }
    }
  }
}

}  // namespace dsp_internal
