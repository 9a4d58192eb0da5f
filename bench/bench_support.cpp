#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dsp/dsp_internal.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"

namespace {

// FFTW buffers and plans of one transform length 2n, made as the overlap-add
// stage makes its own: fftw_malloc, FFTW_ESTIMATE, r2c time -> spectrum and
// c2r spectrum -> time.
struct BlockTransforms {
  explicit BlockTransforms(std::size_t block_length_)
      : block_length(block_length_),
        time(static_cast<double*>(fftw_malloc(16 * block_length))),
        spectrum(static_cast<fftw_complex*>(fftw_malloc(32 * block_length + 16))),
        forward(fftw_plan_dft_r2c_1d(static_cast<int>(2 * block_length), time, spectrum, FFTW_ESTIMATE)),
        inverse(fftw_plan_dft_c2r_1d(static_cast<int>(2 * block_length), spectrum, time, FFTW_ESTIMATE)) {}
  ~BlockTransforms() {
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(time);
    fftw_free(spectrum);
  }
  BlockTransforms(const BlockTransforms&) = delete;
  BlockTransforms& operator=(const BlockTransforms&) = delete;

  // time[0 .. count-1] := values, time[count .. 2n-1] := 0.0.
  void load(const double* values, std::size_t count) {
    for (std::size_t k = 0; k < 2 * block_length; ++k) time[k] = k < count ? values[k] : 0.0;
  }

  std::size_t block_length;  // n
  double* time;              // 2n values
  fftw_complex* spectrum;    // 2n + 1 bins, 0..n used
  fftw_plan forward;
  fftw_plan inverse;
};

}  // namespace

double peak_multiply_add_rate() {
  // Every instruction set this processor has, so that a kernel is measured
  // against the machine, not against the vector width it happens to use.
  double best = 0.0;
  for (const dsp_internal::Kernels& row : dsp_internal::kernel_table()) {
    if (!row.supported()) continue;
    constexpr std::int64_t iterations = 5'000'000;
    const double seconds = measure::best_of(3, [&] {
      return measure::seconds_of([&] { benchmark::DoNotOptimize(row.multiply_add_peak(iterations)); });
    });
    best = std::max(best, static_cast<double>(iterations) * 12.0 * row.lanes / seconds);
  }
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
  dsp_internal::OverlapAddLayout layout{};
  dsp_internal::overlap_add_layout(x.size(), h.size(), layout);
  const auto block_length = static_cast<std::size_t>(layout.block_length);
  BlockTransforms filter(block_length), block(block_length);
  filter.load(h.data(), h.size());
  fftw_execute(filter.forward);
  Signal h_re(block_length + 1), h_im(block_length + 1);
  for (std::size_t k = 0; k <= block_length; ++k) h_re[k] = filter.spectrum[k][0], h_im[k] = filter.spectrum[k][1];
  const dsp_internal::Kernels& kernels = dsp_internal::active_kernels();
  block.load(x.data(), std::min(block_length, x.size()));
  // The inverse leaves the filtered block in `time`, the next forward
  // transform's input: a lowpass keeps it bounded, block after block.
  return measure::best_of(repeats, [&] {
    return measure::seconds_of([&] {
      for (std::uint64_t b = 0; b < layout.blocks; ++b) {
        fftw_execute(block.forward);
        kernels.multiply(reinterpret_cast<double*>(block.spectrum), h_re.data(), h_im.data(), block_length + 1,
                         0.5 / static_cast<double>(block_length));
        fftw_execute(block.inverse);
      }
    });
  });
}

double stream_floor_seconds(const Signal& x, std::size_t taps, int repeats) {
  Signal y(x.size() + taps - 1);
  const dsp_internal::Kernels& kernels = dsp_internal::active_kernels();
  std::vector<double> passes;
  for (int r = 0; r < repeats; ++r) {
    std::fill(y.begin(), y.end(), 0.0);
    passes.push_back(measure::seconds_of([&] { kernels.load_block(y.data(), x.data(), x.size(), y.size()); }));
    benchmark::DoNotOptimize(y.data());
  }
  return measure::minimum(passes);
}
