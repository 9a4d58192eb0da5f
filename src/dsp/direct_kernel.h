// The direct stage's accumulation for one instruction set (a DirectShape);
// instantiated per row of the kernel table in kernels.cpp.
//
// The plain loop adds h[j]*x[i] into y[i+j] for i = 0..N-1, j = 0..M-1, so
// every output y[k] receives its terms in increasing i, that is in
// decreasing j = k - i, starting from 0.0. Here groups of outputs stay in
// vector registers while j runs down over the taps: every lane gets
// h[j] * x[k - j] added in that same order, each product rounded before its
// add, so the bits are those of the plain loop. Outputs are independent, so
// which outputs share a vector changes nothing.
//
// Which layout takes which outputs, for a row's DirectShape S and W = S.lanes
// (the one place this choice is stated; the layouts' files say how each
// works):
//
//   condition                 layout (file)              outputs
//   M <= S.sliding_max_taps,  sliding spans              k = QW .. floor(N / W) * W - 1,
//   N >= (Q + 1) * W with     (direct_sliding_spans.h)   whose samples all lie in x
//   Q = ceil(M / W)
//   M <= S.windows_max_taps,  tap windows                k = M - 1 .. N - 1 in whole groups,
//   N >= M                    (direct_tap_windows.h)     whose samples all lie in x
//   S.segments_group > 0      segments                   all but the first and last
//   and a middle of at least  (direct_segments.h)        min(N, M) - 1 outputs, at most
//   segments_least_rows rows                             tap_spread * W * segments_least_rows
//                                                        (8192 with AVX-512) at each end
//   always                    shifted copies             the rest: the ends, where each
//                             (direct_shifted_copies.h)  output's tap range changes
//
// kernels.cpp sets each row's S from measurements (doc/performance.md says
// which). A new layout replaces one of these four rather than adding a
// fifth: every branch of this table is one more set of outputs whose bits
// must be checked against the plain loop, for every row.
//
// When the filter is longer than the signal, the segments swap the
// operands' roles and read both backwards: s[i] = h[M-1-i] is the signal,
// t[j] = x[N-1-j] the taps. Output k of that convolution is y[L-1-k] and
// receives the same products (x[i]*h[j] and h[j]*x[i] round alike) in the
// same order of increasing i; the groups then run over the shorter operand,
// as always.
//
// Outside the signal a span holds zeros, so a lane whose index falls
// outside it adds h[j] * 0 = +-0, which leaves the sum unchanged: a sum that
// starts at +0.0 never becomes -0 under round-to-nearest. This needs every
// tap finite (inf * 0 is NaN); the stage takes the plain loop otherwise.
#pragma once

#include <algorithm>
#include <cstddef>

#include "dsp/direct_segments.h"
#include "dsp/direct_shape.h"
#include "dsp/direct_shifted_copies.h"
#include "dsp/direct_sliding_spans.h"
#include "dsp/direct_tap_windows.h"
#include "dsp/kernels.h"

namespace dsp_internal {

// Doubles of scratch the accumulation needs, 64-byte aligned: the tap
// windows lie behind the copies.
template <DirectShape S>
constexpr std::size_t direct_scratch_doubles =
    std::max(copies_doubles<S> + std::max(tap_windows_doubles<S>, sliding_doubles<S>), segments_doubles<S>);

// y += every product, in the plain loop's order, each output by the layout
// the table above gives it.
template <DirectShape S>
FIR_INLINE void accumulate(const DirectOperands& op, double* scratch) {
  if constexpr (S.sliding_max_taps > 0) {
    if (sliding_takes<S>(op)) {
      const auto [k_begin, k_end] = sliding_outputs<S>(op);
      accumulate_shifted_copies<S>(op, 0, k_begin, scratch);
      accumulate_sliding_spans<S>(op, scratch);
      accumulate_shifted_copies<S>(op, k_end, op.length, scratch);
      return;
    }
  }
  if constexpr (S.windows_max_taps > 0) {
    if (op.taps <= S.windows_max_taps && op.samples >= op.taps) {
      accumulate_shifted_copies<S>(op, 0, op.taps - 1, scratch);
      const std::ptrdiff_t k_end = accumulate_tap_windows<S>(op, op.taps - 1, op.samples, scratch);
      accumulate_shifted_copies<S>(op, k_end, op.length, scratch);
      return;
    }
  }
  if constexpr (S.segments_group > 0) {
    const std::ptrdiff_t t_len = std::min(op.samples, op.taps), s_len = std::max(op.samples, op.taps);
    // Where rows_at first allows segments_least_rows rows.
    const std::ptrdiff_t reach = tap_spread * S.lanes * segments_least_rows;
    const std::ptrdiff_t k_begin = std::min(t_len - 1, reach), k_end = std::max(s_len, op.length - reach);
    if ((k_end - k_begin) / S.lanes >= segments_least_rows) {
      // Both orientations give the same ranges: k_begin = L - k_end.
      accumulate_shifted_copies<S>(op, 0, k_begin, scratch);
      if (op.samples >= op.taps) {
        accumulate_segments<S>(Oriented<false>{op}, k_begin, k_end, scratch);
      } else {
        accumulate_segments<S>(Oriented<true>{op}, k_begin, k_end, scratch);
      }
      accumulate_shifted_copies<S>(op, k_end, op.length, scratch);
      return;
    }
  }
  accumulate_shifted_copies<S>(op, 0, op.length, scratch);
}

}  // namespace dsp_internal
