// The direct stage's sliding-spans layout: W consecutive outputs in one
// vector; the signal read once, as blocks of W samples, each tap's span
// shifted out of two neighbouring blocks in registers and multiplied into
// every vector of sums that takes it. Nothing is copied or transposed, no
// load crosses more cache lines than the block's own, and every product but
// those of the zero taps that round M up to whole rows is a term of the
// plain loop. Which outputs it takes: the table in direct_kernel.h.
//
// Names:
//   c        block: x[cW .. cW + W - 1]
//   p        shift, 0 .. W - 1: span (c, p) = x[cW - p .. cW - p + W - 1],
//            from blocks c - 1 and c
//   b        vector of sums: outputs bW .. bW + W - 1
//   q        tap row, 0 .. Q - 1 with Q = ceil(M / W): span (c, p) times tap
//            h[qW + p] is a term of vector b = c + q
//   rows     the taps padded with zeros to Q*W (the padded taps)
//
// Vector b takes its terms from blocks b - Q + 1 up to b, in each p from
// W - 1 down to 0: its taps j = qW + p descending, so its samples ascending,
// the plain loop's order. Only Q vectors of sums are open at a time; the
// blocks stream through once.
//
// A padded tap adds x * 0.0 = +-0, which leaves a sum unchanged (it starts
// at +0.0 and never becomes -0) while x is finite. A sample that is not
// finite makes such a product a NaN: with padded taps, the outputs of a
// chunk with a sum that is not finite are computed again by the shifted
// copies, which add only the plain loop's terms. Without them (M a multiple
// of W) every product is one of the plain loop's, and nothing is checked.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>

#include "dsp/direct_shape.h"
#include "dsp/direct_shifted_copies.h"
#include "dsp/kernels.h"
#include "dsp/vector.h"

namespace dsp_internal {

// Outputs whose sums are checked together: a chunk with one that is not
// finite is computed again.
constexpr std::ptrdiff_t sliding_chunk_vectors = 256;

// Doubles of the padded taps for the longest filter this layout takes.
template <DirectShape S>
constexpr std::size_t sliding_doubles =
    static_cast<std::size_t>((S.sliding_max_taps + S.lanes - 1) / S.lanes * S.lanes);

// Shift p of one row: the products of span (c, p) with tap row q of the
// padded taps, each into its vector's sum (sum[Q - 1 - q] is vector c + q).
template <int W, int Q, int P>
FIR_INLINE void sliding_shift(Vec<W> (&sum)[Q], const Vec<W>& previous, const Vec<W>& block, const double* rows) {
  const Vec<W> span = shifted_in<W, P>(previous, block);
  FIR_UNROLL
  for (int q = 0; q < Q; ++q) {
    // Written out here rather than in a helper: this form becomes one
    // broadcast from memory within the multiply.
    const double tap = rows[q * W + P];
    sum[Q - 1 - q] = (tap - Vec<W>{}) * span + sum[Q - 1 - q];
  }
}
template <int W, int Q, std::size_t... P>
FIR_INLINE void sliding_block(Vec<W> (&sum)[Q], const Vec<W>& previous, const Vec<W>& block, const double* rows,
                              std::index_sequence<P...>) {
  (sliding_shift<W, Q, W - 1 - static_cast<int>(P)>(sum, previous, block, rows), ...);
}

// Vectors b_begin .. b_end - 1 (b_begin >= Q, b_end * W <= N) with Q tap
// rows; with `Padded` taps, returns false when a sum is not finite.
template <int W, int Q, bool Padded>
FIR_INLINE bool sliding_chunk(const DirectOperands& op, const double* rows, std::ptrdiff_t b_begin,
                              std::ptrdiff_t b_end) {
  Vec<W> sum[Q];
  FIR_UNROLL
  for (int q = 0; q < Q; ++q) sum[q] = Vec<W>{};
  Vec<W> finite = Vec<W>{};
  const std::ptrdiff_t c_begin = b_begin - Q + 1;
  Vec<W> previous = load<W>(op.x + (c_begin - 1) * W);
  for (std::ptrdiff_t c = c_begin; c < b_end; ++c) {
    // Taps from memory with each product, not held in registers, which the
    // sums need; each block's shifts after the last block's.
    reload_each_time(rows);
    Vec<W> block = load<W>(op.x + c * W);
    keep_in_order<W>(previous, block);
    sliding_block<W, Q>(sum, previous, block, rows, std::make_index_sequence<W>{});
    previous = block;
    if (c >= b_begin) {
      store<W>(op.y + c * W, sum[Q - 1]);
      if constexpr (Padded) finite = finite + (sum[Q - 1] - sum[Q - 1]);  // 0.0 for a finite sum, NaN otherwise
    }
    FIR_UNROLL
    for (int q = Q - 1; q > 0; --q) sum[q] = sum[q - 1];
    sum[0] = Vec<W>{};
  }
  bool all_finite = true;
  for (int l = 0; l < W; ++l) all_finite = all_finite && finite[l] == 0.0;
  return all_finite;
}

// Outputs Q*W .. (N / W) * W - 1 with Q tap rows, chunk by chunk; a chunk
// with a sum that is not finite is computed again by the shifted copies.
template <DirectShape S, int Q, bool Padded>
FIR_INLINE void sliding_rows(const DirectOperands& op, const double* rows, double* copies) {
  constexpr int W = S.lanes;
  const std::ptrdiff_t b_end = op.samples / W;
  for (std::ptrdiff_t b = Q; b < b_end; b += sliding_chunk_vectors) {
    const std::ptrdiff_t chunk_end = std::min(b_end, b + sliding_chunk_vectors);
    if (!sliding_chunk<W, Q, Padded>(op, rows, b, chunk_end)) {
      accumulate_shifted_copies<S>(op, b * W, chunk_end * W, copies);
    }
  }
}

// The tap rows' count at compile time: Q = 1 .. Qmax.
template <DirectShape S, int Q>
FIR_INLINE void sliding_dispatch(const DirectOperands& op, std::ptrdiff_t rows_count, const double* rows,
                                 double* copies) {
  if constexpr (Q * S.lanes <= S.sliding_max_taps + S.lanes - 1) {
    if (rows_count == Q) {
      if (op.taps % S.lanes == 0) return sliding_rows<S, Q, false>(op, rows, copies);
      return sliding_rows<S, Q, true>(op, rows, copies);
    }
    sliding_dispatch<S, Q + 1>(op, rows_count, rows, copies);
  }
}

// Q, the rows of W taps that hold the filter.
template <DirectShape S>
constexpr std::ptrdiff_t sliding_rows_count(const DirectOperands& op) {
  return (op.taps + S.lanes - 1) / S.lanes;
}

// Whether the layout takes this filter: up to S.sliding_max_taps taps, and
// a signal long enough for one vector past the rows.
template <DirectShape S>
constexpr bool sliding_takes(const DirectOperands& op) {
  return op.taps <= S.sliding_max_taps && op.samples / S.lanes > sliding_rows_count<S>(op);
}

// The outputs sliding_rows gives, k_begin .. k_end - 1, for the ends to
// take the rest.
template <DirectShape S>
constexpr std::pair<std::ptrdiff_t, std::ptrdiff_t> sliding_outputs(const DirectOperands& op) {
  return {sliding_rows_count<S>(op) * S.lanes, op.samples / S.lanes * S.lanes};
}

// Outputs sliding_outputs(op) of a filter sliding_takes: the padded taps
// made in `scratch` behind the copies, then the blocks streamed.
template <DirectShape S>
FIR_INLINE void accumulate_sliding_spans(const DirectOperands& op, double* scratch) {
  const std::ptrdiff_t rows_count = sliding_rows_count<S>(op);
  double* const rows = scratch + copies_doubles<S>;
  std::copy(op.h, op.h + op.taps, rows);
  std::fill(rows + op.taps, rows + rows_count * S.lanes, 0.0);
  sliding_dispatch<S, 1>(op, rows_count, rows, scratch);
}

}  // namespace dsp_internal
