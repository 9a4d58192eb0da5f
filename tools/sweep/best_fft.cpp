// The FFT method without fir_bench's fixed rule (K = 2n, n new samples per
// block): overlap-add with any transform length K, each block taking
// K - M + 1 new samples, and the lengths worth timing for a filter.
#include "sweep/sweep.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>

#include "dsp/overlap_add.h"
#include "timing/timing.h"

Status convolve_fft_length(const Signal& x, const Signal& h, std::size_t length, Planner planner, Signal& y,
                           double& plan_ms) {
  const std::size_t samples = x.size(), taps = h.size();
  y.clear();
  if (taps == 0 || length < taps || length > static_cast<std::size_t>(INT_MAX)) return Status::too_long;
  const std::size_t block = length - taps + 1;
  const std::size_t blocks = samples / block + (samples % block != 0);
  OverlapAddEngine* engine = nullptr;
  const OverlapAddShape shape{
      .transform_length = length, .block = block, .added = taps - 1, .stored = block, .planner = planner};
  const Status prepared =
      overlap_add_prepare(h, shape, std::max(blocks * block + taps - 1, samples + taps - 1), y, engine, &plan_ms);
  if (prepared != Status::ok) return prepared;
  stopwatch_start();
  overlap_add_run(*engine, x, y);
  stopwatch_stop();
  overlap_add_release(engine);
  y.resize(samples + taps - 1);
  return Status::ok;
}

std::vector<std::size_t> fft_length_candidates(std::size_t samples, std::size_t taps, std::size_t count) {
  // FFTW's fastest lengths, up to one that takes the whole signal in one
  // block, ranked by transform work: per block K (log2 K + 1), times the
  // blocks the signal needs.
  const std::size_t longest = std::min<std::size_t>(std::bit_ceil(samples + taps - 1), std::size_t{1} << 24);
  std::vector<std::pair<double, std::size_t>> modelled;
  for (std::size_t power = 1; power <= longest; power *= 2) {
    for (const std::size_t factor : {1, 3, 5}) {
      const std::size_t length = factor * power;
      if (length < std::max<std::size_t>(taps, 2) || length > longest) continue;
      const double blocks = std::ceil(static_cast<double>(samples) / static_cast<double>(length - taps + 1));
      const double length_d = static_cast<double>(length);
      modelled.emplace_back(blocks * length_d * (std::log2(length_d) + 1.0), length);
    }
  }
  std::sort(modelled.begin(), modelled.end());
  std::vector<std::size_t> lengths;
  for (std::size_t k = 0; k < std::min(count, modelled.size()); ++k) lengths.push_back(modelled[k].second);
  return lengths;
}
