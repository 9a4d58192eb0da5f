#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"
#include "signal_gen/signal_gen.h"
#include "support/block_transforms.h"

namespace {

// Twelve independent multiply chains and twelve independent add chains, more
// than enough to cover the latencies. Floating-point rounding keeps the
// compiler from folding the chains, so every operation is executed.
template <int W>
FIR_INLINE double peak_loop(std::int64_t iterations) {
  using V = dsp_internal::Vec<W>;
  constexpr int chains = 12;
  V product[chains], sum[chains];
  for (int c = 0; c < chains; ++c) {
    product[c] = V{} + (1.0 + c * 1e-3);
    sum[c] = V{} + static_cast<double>(c);
  }
  const V factor = V{} + 0.9999999999;
  const V step = V{} + 1e-300;
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

#if defined(FIR_DISPATCH_X86)
FIR_TARGET_AVX512 double peak_avx512(std::int64_t n) { return peak_loop<8>(n); }
FIR_TARGET_AVX2 double peak_avx2(std::int64_t n) { return peak_loop<4>(n); }
#endif
double peak_baseline(std::int64_t n) { return peak_loop<2>(n); }

}  // namespace

double peak_multiply_add_rate() {
  // Every instruction set this processor has, so that a kernel is measured
  // against the machine, not against the vector width it happens to use.
  struct Loop {
    const char* isa;
    int lanes;
    double (*run)(std::int64_t);
  };
  static const Loop loops[] = {
#if defined(FIR_DISPATCH_X86)
      {"avx512", 8, peak_avx512},
      {"avx2", 4, peak_avx2},
#endif
      {"baseline", 2, peak_baseline},
  };
  double best = 0.0;
  const std::string active = dsp_isa();
  for (const Loop& loop : loops) {
    if (!dsp_use_isa(loop.isa)) continue;  // not on this processor
    constexpr std::int64_t iterations = 5'000'000;
    const double seconds = best_seconds([&] { benchmark::DoNotOptimize(loop.run(iterations)); }, 3);
    best = std::max(best, static_cast<double>(iterations) * 12.0 * loop.lanes / seconds);
  }
  dsp_use_isa(active);
  return best;
}

Signal bench_noise(std::size_t count, std::uint64_t seed) {
  SignalSettings settings;
  settings.kind = SignalKind::noise;
  settings.length = count;
  settings.seed = seed;
  return make_signal(settings);
}

Signal bench_lowpass(std::size_t taps) {
  FilterSettings settings;
  settings.taps = taps;
  return make_filter(settings, SignalSettings{}.sample_rate);
}

double fftw_floor_seconds(const Signal& x, const Signal& h, int repeats) {
  OverlapAddLayout layout{};
  overlap_add_layout(x.size(), h.size(), layout);
  const auto n = static_cast<std::size_t>(layout.block_length);
  test_support::BlockTransforms filter(n), block(n);
  filter.load(h.data(), h.size());
  fftw_execute(filter.forward);
  Signal h_re(n + 1), h_im(n + 1);
  for (std::size_t k = 0; k <= n; ++k) h_re[k] = filter.spectrum[k][0], h_im[k] = filter.spectrum[k][1];
  const dsp_internal::BlockArithmetic arithmetic = dsp_internal::block_arithmetic();
  block.load(x.data(), std::min(n, x.size()));
  // The inverse leaves the filtered block in `time`, the next forward
  // transform's input: a lowpass keeps it bounded, block after block.
  return best_seconds(
      [&] {
        for (std::uint64_t b = 0; b < layout.blocks; ++b) {
          fftw_execute(block.forward);
          arithmetic.multiply(reinterpret_cast<double*>(block.spectrum), h_re.data(), h_im.data(), n + 1,
                              0.5 / static_cast<double>(n));
          fftw_execute(block.inverse);
        }
      },
      repeats);
}
