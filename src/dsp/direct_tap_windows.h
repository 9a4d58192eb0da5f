// The direct stage's tap-windows layout: W consecutive outputs in one
// vector, each step adding one signal sample times a window of W
// consecutive taps. Nothing is copied or transposed; the price is W - 1
// steps per vector in which some lanes add a product with a zero tap.
// Which outputs it takes: the table in direct_kernel.h.
//
// Names:
//   k        output index; a vector holds outputs k .. k + W - 1
//   d        step: the vector at k adds x[k - d] times the tap window of d;
//            d runs from M - 1 down to 1 - W, so that every lane takes its
//            signal samples in increasing index i = k - d
//   window   tap window of d: lane l holds h[d + l], 0.0 where d + l lies
//            outside the taps (the zero taps at either end)
//   group    U vectors of sums kept in registers while the steps run:
//            outputs k0 .. k0 + U*W - 1
//
// Lane l's steps with 0 <= d + l < M are the plain loop's terms in its
// order; the others add x[k - d] * 0.0 = +-0, which leaves the sum
// unchanged (it starts at +0.0 and never becomes -0) as long as the sample
// is finite. A sample that is not finite makes some sum of its group
// infinite or NaN, whichever lane it reaches; such a group is computed
// again by the shifted copies, which pad the signal instead of the taps.
#pragma once

#include <algorithm>
#include <cstddef>

#include "dsp/direct_shape.h"
#include "dsp/direct_shifted_copies.h"
#include "dsp/kernels.h"
#include "dsp/vector.h"

namespace dsp_internal {

// Doubles of the tap windows for the longest filter this layout takes.
template <DirectShape S>
constexpr std::size_t tap_windows_doubles = static_cast<std::size_t>((S.windows_max_taps + S.lanes - 1) * S.lanes);

// windows[(d + W - 1) * W + l] := h[d + l], or 0.0 outside the taps, for
// d = 1 - W .. M - 1.
template <DirectShape S>
FIR_INLINE void make_tap_windows(const DirectOperands& op, double* windows) {
  constexpr int W = S.lanes;
  for (std::ptrdiff_t d = 1 - W; d < op.taps; ++d) {
    for (int l = 0; l < W; ++l) {
      const std::ptrdiff_t j = d + l;
      windows[(d + W - 1) * W + l] = j >= 0 && j < op.taps ? op.h[j] : 0.0;
    }
  }
}

// Outputs k0 .. k0 + U*W - 1, every tap, into y; false when a sum is not
// finite (see above), the outputs then to be computed again.
template <DirectShape S>
FIR_INLINE bool tap_windows_group(const DirectOperands& op, const double* windows, std::ptrdiff_t k0) {
  constexpr int W = S.lanes, U = S.windows_group;
  Vec<W> sum[U];
  FIR_UNROLL
  for (int u = 0; u < U; ++u) sum[u] = Vec<W>{};
  const double* x = op.x + k0;
  const double* window = windows + (op.taps - 1 + W - 1) * W;
  for (std::ptrdiff_t d = op.taps - 1; d > -W; --d, window -= W) {
    Vec<W> taps = load<W>(window);
    keep_in_register<W>(taps);
    FIR_UNROLL
    for (int u = 0; u < U; ++u) {
      // Written out here rather than in a helper: this form becomes one
      // broadcast from memory (sample - 0.0 is the sample for every double).
      const double sample = x[u * W - d];
      sum[u] = (sample - Vec<W>{}) * taps + sum[u];
    }
  }
  // s - s is 0.0 for a finite sum and NaN otherwise.
  Vec<W> finite = Vec<W>{};
  FIR_UNROLL
  for (int u = 0; u < U; ++u) {
    store<W>(op.y + k0 + u * W, sum[u]);
    finite = finite + (sum[u] - sum[u]);
  }
  bool all_finite = true;
  for (int l = 0; l < W; ++l) all_finite = all_finite && finite[l] == 0.0;
  return all_finite;
}

// Outputs k_begin .. k_end - 1, whose signal samples k - M + 1 .. k all lie
// inside x, in whole groups; returns where the groups end. Every tap in one
// pass: y is written, not read.
template <DirectShape S>
FIR_INLINE std::ptrdiff_t accumulate_tap_windows(const DirectOperands& op, std::ptrdiff_t k_begin,
                                                 std::ptrdiff_t k_end, double* scratch) {
  constexpr std::ptrdiff_t group_outputs = S.windows_group * S.lanes;
  double* const windows = scratch + copies_doubles<S>;
  make_tap_windows<S>(op, windows);
  std::ptrdiff_t k0 = k_begin;
  for (; k0 + group_outputs <= k_end; k0 += group_outputs) {
    if (!tap_windows_group<S>(op, windows, k0)) accumulate_shifted_copies<S>(op, k0, k0 + group_outputs, scratch);
  }
  return k0;
}

}  // namespace dsp_internal
