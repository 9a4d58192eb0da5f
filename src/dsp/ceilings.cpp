// The multiply-add ceilings the benchmarks set the direct stage against,
// stamped for every instruction set the stages are built for.
#include "dsp/ceilings.h"

#include <cstdint>

#include "dsp/instruction_sets.h"
#include "dsp/vector.h"

namespace dsp_internal {
namespace {

// `iterations` rounds of 12 independent vector multiplies and 12 independent
// vector adds, more chains than the latencies need. Rounding keeps the
// compiler from folding the chains, so every operation is executed.
template <int W>
FIR_INLINE double peak_rounds(std::int64_t iterations) {
  constexpr int chains = 12;
  Vec<W> product[chains], sum[chains];
  for (int c = 0; c < chains; ++c) {
    product[c] = Vec<W>{} + (1.0 + c * 1e-3);
    sum[c] = Vec<W>{} + static_cast<double>(c);
  }
  const Vec<W> factor = Vec<W>{} + 0.9999999999;
  const Vec<W> step = Vec<W>{} + 1e-300;
  for (std::int64_t i = 0; i < iterations; ++i) {
    for (int c = 0; c < chains; ++c) {
      product[c] = product[c] * factor;
      sum[c] = sum[c] + step;
    }
  }
  double total = 0.0;
  for (int c = 0; c < chains; ++c) {
    for (int l = 0; l < W; ++l) total += product[c][l] + sum[c][l];
  }
  return total;
}

// `iterations` rounds of 12 multiply-adds as the direct stage does them: a
// tap times a vector loaded from memory, the product added into its own
// chain. The vectors cycle through 8 rounds' worth, a few KiB that stay in
// the first-level cache, so that every product takes a load.
template <int W>
FIR_INLINE double bound_rounds(std::int64_t iterations) {
  constexpr int chains = 12, rounds = 8;
  double operands[rounds * chains * W];
  for (int i = 0; i < rounds * chains * W; ++i) operands[i] = 1.0 + i * 1e-6;
  Vec<W> sum[chains];
  for (int c = 0; c < chains; ++c) sum[c] = Vec<W>{} + static_cast<double>(c);
  const Vec<W> tap = Vec<W>{} + 1e-300;
  for (std::int64_t i = 0; i < iterations; ++i) {
    const double* round = operands + (i % rounds) * chains * W;
    FIR_UNROLL
    for (int c = 0; c < chains; ++c) sum[c] = tap * load<W>(round + c * W) + sum[c];
  }
  double total = 0.0;
  for (int c = 0; c < chains; ++c) {
    for (int l = 0; l < W; ++l) total += sum[c][l];
  }
  return total;
}

#define FIR_STAMP_CEILINGS(name, W, TARGET, supported, preferred)                 \
  TARGET double name##_peak(std::int64_t iterations) { return peak_rounds<W>(iterations); } \
  TARGET double name##_bound(std::int64_t iterations) { return bound_rounds<W>(iterations); }
FIR_INSTRUCTION_SETS(FIR_STAMP_CEILINGS)

#define FIR_CEILINGS_ROW(name, W, TARGET, supported, preferred) {#name, supported, W, name##_peak, name##_bound},
constexpr Ceilings table[] = {FIR_INSTRUCTION_SETS(FIR_CEILINGS_ROW)};

}  // namespace
}  // namespace dsp_internal

std::span<const Ceilings> multiply_add_ceilings() { return dsp_internal::table; }
