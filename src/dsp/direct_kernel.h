// The direct stage's accumulation, for W doubles per vector; instantiated
// per instruction set in kernels.cpp.
//
// The plain loop adds h[j]*x[i] into y[i+j] for i = 0..N-1, j = 0..M-1, so
// every output y[k] receives its terms in increasing i, that is in
// decreasing j = k - i, starting from 0.0. Here blocks of outputs stay in
// vector registers while j runs down over the taps: every lane gets
// h[j] * x[k - j] added in that same order, each product rounded before its
// add, so the bits are those of the plain loop. Outputs are independent, so
// which outputs share a vector changes nothing.
//
// Two layouts share the outputs:
// - Segments, for all but the first and last few thousand outputs. A tile
//   holds W segments of T consecutive outputs, one segment per lane: a
//   vector holds output r of every segment. The part of the signal a tile
//   reads is transposed once, lane by lane, so that every tap's window is
//   one aligned load, and consecutive taps share all but one of a block's
//   windows, which stay in registers. A block runs every tap that any of
//   its outputs takes: where the outputs' tap ranges grow or shrink (the
//   ends of y), tiles are made short, so that a block's outputs stay close
//   and few taps run for nothing.
// - Rows, for the outputs at either end, whose tap ranges change fastest. A
//   vector holds W consecutive outputs, so tap j reads x from k0 - j on, a
//   window that moves by one sample per tap; the part of x a tile reads is
//   copied W times, row s moved by s samples, and every window is an
//   aligned load from one of the rows.
//
// When the filter is longer than the signal, the segments swap the
// operands' roles and read both backwards: s[a] = h[M-1-a] is the signal,
// t[b] = x[N-1-b] the taps. Output k' of that convolution is y[L-1-k'] and
// receives the same products (x[i]*h[j] and h[j]*x[i] round alike) in the
// same order of increasing i; the blocks then run over the shorter operand,
// as always.
//
// Outside the signal a window holds zeros, so a lane whose index falls
// outside it adds h[j] * 0 = +-0, which leaves the sum unchanged: a sum that
// starts at +0.0 never becomes -0 under round-to-nearest. This needs every
// tap finite (inf * 0 is NaN); the stage takes the plain loop otherwise.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "dsp/dsp_internal.h"
#include "dsp/vector.h"

namespace dsp_internal {

// Taps per tap tile, for both layouts.
constexpr std::ptrdiff_t tile_taps = 512;

// ---- Rows: consecutive outputs in a vector ---------------------------------------

constexpr std::ptrdiff_t tile_outputs = 2048;

// Vectors per block: enough independent sums to cover the add latency, few
// enough to stay in registers with the tap and a window.
template <int W>
constexpr int row_block_vectors = W == 8 ? 8 : vector_registers - 4;

// Doubles in one row: a tile's window of x plus the block and shift margins,
// rounded up to whole cache lines.
template <int W>
constexpr std::ptrdiff_t row_stride = (tile_outputs + tile_taps + (row_block_vectors<W> + 3) * W + 7) / 8 * 8;

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

// Outputs k0 .. k0 + U*W - 1 (those below `end`) receive the terms of taps
// jhi down to jlo. `fresh`: the outputs still hold their initial 0.0, so the
// sums start from 0.0 without reading them.
template <int W>
FIR_INLINE void accumulate_block(const DirectOperands& c, const double* rows, std::ptrdiff_t base, std::ptrdiff_t k0,
                                 std::ptrdiff_t end, std::ptrdiff_t jhi, std::ptrdiff_t jlo, bool fresh) {
  constexpr int U = row_block_vectors<W>;
  constexpr std::ptrdiff_t stride = row_stride<W>;
  const bool whole = k0 + U * W <= end;
  double partial[U * W];  // a block cut by the end of the range, on a copy
  double* out = c.y + k0;
  if (!whole) {
    std::fill(partial, partial + U * W, 0.0);
    std::memcpy(partial, out, static_cast<std::size_t>(end - k0) * sizeof(double));
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
  if (!whole) std::memcpy(c.y + k0, partial, static_cast<std::size_t>(end - k0) * sizeof(double));
}

// Outputs `first` .. `end` - 1, in tiles of tile_outputs outputs by
// tile_taps taps. Tiles and blocks that hold no product of real samples are
// skipped: the outputs there already hold their sum, 0.0.
template <int W>
FIR_INLINE void accumulate_rows(const DirectOperands& c, std::ptrdiff_t first, std::ptrdiff_t end, double* rows) {
  constexpr std::ptrdiff_t block = row_block_vectors<W> * W;
  for (std::ptrdiff_t c0 = first; c0 < end; c0 += tile_outputs) {
    const std::ptrdiff_t c1 = std::min(end, c0 + tile_outputs);
    const std::ptrdiff_t blocks_end = c0 + (c1 - c0 + block - 1) / block * block;
    bool fresh = true;
    for (std::ptrdiff_t t1 = c.taps; t1 > 0; t1 -= tile_taps) {
      const std::ptrdiff_t t0 = std::max<std::ptrdiff_t>(0, t1 - tile_taps);
      // Output k takes tap j when 0 <= k - j < N.
      if (c0 - (t1 - 1) >= c.samples || c1 - 1 < t0) continue;
      // The tile reads x from c0 - (t1 - 1) to blocks_end - 1 - t0; a margin of
      // W before, and 2W after for the shifts and the last vector.
      const std::ptrdiff_t base = c0 - (t1 - 1) - W;
      copy_rows<W>(c, base, blocks_end - 1 - t0 - base + 2 * W, rows);
      for (std::ptrdiff_t k0 = c0; k0 < c1; k0 += block) {
        const std::ptrdiff_t jhi = std::min(t1 - 1, k0 + block - 1);
        const std::ptrdiff_t jlo = std::max(t0, k0 - c.samples + 1);
        if (jhi >= jlo) accumulate_block<W>(c, rows, base, k0, c1, jhi, jlo, fresh);
      }
      fresh = false;
    }
  }
}

// ---- Segments: one segment of outputs per lane --------------------------------------

// Rows of outputs per tile, at most and at least (each row one output of
// every lane's segment), and vectors per block: enough independent sums to
// cover the add latency, with their windows few enough to stay in
// registers (measured best: 8 with AVX-512, 5 with 16 registers; 3 fit the
// 8 of 32-bit x86).
constexpr std::ptrdiff_t tile_rows = 1024;
constexpr std::ptrdiff_t tile_rows_least = 128;
template <int W>
constexpr int block_vectors = W == 8 ? 8 : vector_registers == 8 ? 3 : 5;

// A tile's sums, and its transposed signal: one row per output row and per
// tap of a tap tile, with a block's margin.
template <int W>
constexpr std::size_t segment_doubles = W * (2 * tile_rows + tile_taps + 3 * block_vectors<W>);

// The signal, taps and output as the segments see them: forward, or both
// operands swapped and read backwards (see above).
template <bool Reversed>
struct Oriented {
  const DirectOperands& c;

  std::ptrdiff_t signal_length() const { return Reversed ? c.taps : c.samples; }
  std::ptrdiff_t tap_count() const { return Reversed ? c.samples : c.taps; }
  double tap(std::ptrdiff_t b) const { return Reversed ? c.x[c.samples - 1 - b] : c.h[b]; }
  // W signal values from index a on.
  template <int W>
  FIR_INLINE Vec<W> signal(std::ptrdiff_t a) const {
    if constexpr (Reversed) return reversed<W>(load<W>(c.h + (c.taps - a - W)));
    return load<W>(c.x + a);
  }
  double signal_at(std::ptrdiff_t a) const { return Reversed ? c.h[c.taps - 1 - a] : c.x[a]; }
  // Outputs k' .. k' + W - 1.
  template <int W>
  FIR_INLINE void store_outputs(std::ptrdiff_t k, Vec<W> v) const {
    if constexpr (Reversed) {
      store<W>(c.y + (c.length - k - W), reversed<W>(v));
    } else {
      store<W>(c.y + k, v);
    }
  }
  void store_output(std::ptrdiff_t k, double v) const { c.y[Reversed ? c.length - 1 - k : k] = v; }
};

// One tap of a block whose windows rotate through registers: window u of
// this tap is register (u + T) mod U; register T then takes the window the
// tap U steps on needs.
template <int W, int U, int T>
FIR_INLINE void rotated_tap(Vec<W> (&sum)[U], Vec<W> (&window)[U], const double* rows, double tap) {
  const Vec<W> taps = tap - Vec<W>{};
  FIR_UNROLL
  for (int u = 0; u < U; ++u) sum[u] = taps * window[(u + T) % U] + sum[u];
  window[T] = load<W>(rows + (U + T) * W);
}
template <int W, int U, bool Reversed, std::size_t... T>
FIR_INLINE void rotated_taps(Vec<W> (&sum)[U], Vec<W> (&window)[U], const double* rows, const Oriented<Reversed>& o,
                             std::ptrdiff_t b, std::index_sequence<T...>) {
  (rotated_tap<W, U, static_cast<int>(T)>(sum, window, rows, o.tap(b - static_cast<std::ptrdiff_t>(T))), ...);
}

// Rows per lane of the tile from output k': tile_rows where every output
// takes every tap; near the ends, where an output's tap count is about its
// distance from the end, short enough that a block's outputs, (W - 1) rows
// apart, differ by an eighth of that at most; and no more than the outputs
// left up to `end` give each lane.
template <int W>
std::ptrdiff_t rows_at(std::ptrdiff_t k, std::ptrdiff_t end, std::ptrdiff_t t_len, std::ptrdiff_t s_len,
                       std::ptrdiff_t length) {
  std::ptrdiff_t rows = tile_rows;
  if (k < t_len - 1) rows = std::min(rows, (k + 1) / (8 * W));
  if (k + W * rows > s_len) rows = std::min(rows, (length - k) / (9 * W));
  rows = std::max<std::ptrdiff_t>(rows, block_vectors<W>);
  return std::min(rows, (end - k + W - 1) / W);
}

// A tile's transposed signal, square by square: rows q .. q + W - 1 (those
// below `count`), lane l := s[from + l*rows + q'], 0.0 outside s.
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
      const std::ptrdiff_t a = from + l * rows + p;
      signal[p * W + l] = a >= 0 && a < o.signal_length() ? o.signal_at(a) : 0.0;
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
// lane, and all their outputs below `end`: a whole square to transpose.
template <int W>
constexpr bool whole_square(std::ptrdiff_t k0, std::ptrdiff_t rows, std::ptrdiff_t r, std::ptrdiff_t end) {
  return r + W <= rows && k0 + (W - 1) * rows + r + W <= end;
}

// The outputs of a tile's rows r .. r + W - 1 (those below `rows` and
// `end`) from its sums: W rows transposed are W consecutive outputs of each
// lane.
template <int W, bool Reversed>
FIR_INLINE void scatter_square(const Oriented<Reversed>& o, std::ptrdiff_t k0, std::ptrdiff_t rows, std::ptrdiff_t r,
                               std::ptrdiff_t end, const double* sums) {
  if (whole_square<W>(k0, rows, r, end)) {
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
      if (k < end) o.store_output(k, sums[p * W + l]);
    }
  }
}

// U rows of sums receive taps b_hi down to b_lo; tap b_hi's windows start at
// `at`, and each tap down moves them one row on.
template <int W, int U, bool Reversed>
FIR_INLINE void accumulate_segment_block(const Oriented<Reversed>& o, const double* at, std::ptrdiff_t b_hi,
                                         std::ptrdiff_t b_lo, Vec<W> (&sum)[U]) {
  Vec<W> window[U];
  FIR_UNROLL
  for (int u = 0; u < U; ++u) window[u] = load<W>(at + u * W);
  std::ptrdiff_t b = b_hi;
  for (; b - (U - 1) >= b_lo; b -= U, at += U * W) {
    rotated_taps<W, U>(sum, window, at, o, b, std::make_index_sequence<U>{});
  }
  for (; b >= b_lo; --b, at += W) {
    const double tap = o.tap(b);
    const Vec<W> taps = tap - Vec<W>{};
    FIR_UNROLL
    for (int u = 0; u < U; ++u) sum[u] = taps * load<W>(at + u * W) + sum[u];
  }
}

// Outputs k' = first .. end - 1 of the oriented convolution, in tiles of W
// segments: lane l of a tile at k0 takes rows r of its segment, output
// k0 + l*T + r. Where one tap tile holds every tap, the signal is gathered
// and the outputs scattered square by square as the blocks need and finish
// them, so that the shuffles overlap the blocks' arithmetic.
template <int W, bool Reversed>
FIR_INLINE void accumulate_segments(const Oriented<Reversed>& o, std::ptrdiff_t first, std::ptrdiff_t end,
                                    double* scratch) {
  constexpr int U = block_vectors<W>;
  const std::ptrdiff_t s_len = o.signal_length(), t_len = o.tap_count();
  const bool one_tap_tile = t_len <= tile_taps;
  double* const sums = scratch;
  double* const signal = scratch + W * (tile_rows + U);
  for (std::ptrdiff_t k0 = first, rows = 0; k0 < end; k0 += W * rows) {
    rows = rows_at<W>(k0, end, t_len, s_len, o.c.length);
    const std::ptrdiff_t block_rows = (rows + U - 1) / U * U;
    const std::ptrdiff_t last = k0 + (W - 1) * rows + block_rows - 1;  // the highest output a block computes
    std::ptrdiff_t scattered = 0;
    bool fresh = true;
    for (std::ptrdiff_t t1 = t_len; t1 > 0; t1 -= tile_taps) {
      const std::ptrdiff_t t0 = std::max<std::ptrdiff_t>(0, t1 - tile_taps);
      // Output k' takes tap b when 0 <= k' - b < s_len.
      if (k0 - (t1 - 1) >= s_len || last < t0) continue;
      // Tap b of row r reads signal row r + (t1 - 1 - b); the rotation reads
      // U rows ahead.
      const std::ptrdiff_t from = k0 - (t1 - 1), count = block_rows + (t1 - t0) - 1 + U;
      std::ptrdiff_t gathered = gather_to<W>(o, from, rows, 0, one_tap_tile ? (t1 - t0) + 2 * U : count, count, signal);
      for (std::ptrdiff_t r = 0; r < block_rows; r += U) {
        // A block runs the taps that any of its outputs takes.
        const std::ptrdiff_t b_hi = std::min(t1 - 1, k0 + (W - 1) * rows + r + U - 1);
        const std::ptrdiff_t b_lo = std::max(t0, k0 + r - s_len + 1);
        gathered = gather_to<W>(o, from, rows, gathered, r + (t1 - t0) + 2 * U, count, signal);
        Vec<W> sum[U];
        FIR_UNROLL
        for (int u = 0; u < U; ++u) sum[u] = fresh ? Vec<W>{} : load<W>(sums + (r + u) * W);
        accumulate_segment_block<W>(o, signal + (r + (t1 - 1 - b_hi)) * W, b_hi, b_lo, sum);
        if constexpr (U == W) {
          // A finished square goes out from the registers: through memory,
          // the stores would not reach the loads in time.
          if (one_tap_tile && scattered == r && whole_square<W>(k0, rows, r, end)) {
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
          for (; scattered + W <= r + U; scattered += W) scatter_square<W>(o, k0, rows, scattered, end, sums);
        }
      }
      fresh = false;
    }
    if (fresh) continue;  // no tap reaches these outputs: they keep their 0.0
    for (; scattered < rows; scattered += W) scatter_square<W>(o, k0, rows, scattered, end, sums);
  }
}

// ---- The whole accumulation ---------------------------------------------------------

template <int W>
constexpr std::size_t scratch_doubles = std::max(rows_doubles<W>, segment_doubles<W>);

// y += every product, in the plain loop's order. The segments take the
// outputs where their tiles have tile_rows_least rows at least: all but
// the first and last few thousand, where each output's tap range changes
// quickly; those take the rows. `scratch` holds scratch_doubles<W> values,
// 64-byte aligned.
template <int W>
FIR_INLINE void accumulate(const DirectOperands& c, double* scratch) {
  const std::ptrdiff_t t_len = std::min(c.samples, c.taps), s_len = std::max(c.samples, c.taps);
  const std::ptrdiff_t reach = 8 * W * tile_rows_least;
  const std::ptrdiff_t first = std::min(t_len - 1, reach), end = std::max(s_len, c.length - reach);
  if ((end - first) / W < tile_rows_least) {
    accumulate_rows<W>(c, 0, c.length, scratch);
    return;
  }
  // Both orientations give the same ranges: first = L - end.
  accumulate_rows<W>(c, 0, first, scratch);
  if (c.samples >= c.taps) {
    accumulate_segments<W>(Oriented<false>{c}, first, end, scratch);
  } else {
    accumulate_segments<W>(Oriented<true>{c}, first, end, scratch);
  }
  accumulate_rows<W>(c, end, c.length, scratch);
}

}  // namespace dsp_internal
