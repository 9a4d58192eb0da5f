// The FFT method without fir_bench's fixed rule (L = 2n, n new samples per
// block): overlap-add with any transform length L, each block taking
// L - M + 1 new samples, and the lengths worth timing for a filter.
#include "sweep/sweep.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

#include "dsp/dsp_internal.h"
#include "measure/measure.h"
#include "timing/timing.h"

namespace {

// Buffers and plans of one call, released in one place.
struct Transforms {
  double* filter_time = nullptr;
  double* block_time = nullptr;
  fftw_complex* filter_spectrum = nullptr;
  fftw_complex* block_spectrum = nullptr;
  fftw_plan filter_forward = nullptr, block_forward = nullptr, block_inverse = nullptr;

  Transforms() = default;
  Transforms(const Transforms&) = delete;
  Transforms& operator=(const Transforms&) = delete;
  ~Transforms() {
    for (fftw_plan plan : {filter_forward, block_forward, block_inverse}) {
      if (plan != nullptr) fftw_destroy_plan(plan);
    }
    fftw_free(filter_time);
    fftw_free(block_time);
    fftw_free(filter_spectrum);
    fftw_free(block_spectrum);
  }
};

// The buffers for length L and their plans, `plan_ms` the planning's time.
Status make_transforms(std::size_t length, unsigned flags, Transforms& t, double& plan_ms) {
  const std::size_t bins = length / 2 + 1;
  t.filter_time = static_cast<double*>(fftw_malloc(length * sizeof(double)));
  t.block_time = static_cast<double*>(fftw_malloc(length * sizeof(double)));
  t.filter_spectrum = static_cast<fftw_complex*>(fftw_malloc(bins * sizeof(fftw_complex)));
  t.block_spectrum = static_cast<fftw_complex*>(fftw_malloc(bins * sizeof(fftw_complex)));
  if (!t.filter_time || !t.block_time || !t.filter_spectrum || !t.block_spectrum) return Status::out_of_memory;
  const int n = static_cast<int>(length);
  plan_ms = 1e3 * measure::seconds_of([&] {
    t.filter_forward = fftw_plan_dft_r2c_1d(n, t.filter_time, t.filter_spectrum, flags);
    t.block_forward = fftw_plan_dft_r2c_1d(n, t.block_time, t.block_spectrum, flags);
    t.block_inverse = fftw_plan_dft_c2r_1d(n, t.block_spectrum, t.block_time, flags);
  });
  return t.filter_forward && t.block_forward && t.block_inverse ? Status::ok : Status::fftw_failed;
}

}  // namespace

Status convolve_fft_length(const Signal& x, const Signal& h, std::size_t length, unsigned flags, Signal& y,
                           double& plan_ms) {
  const std::size_t samples = x.size(), taps = h.size();
  y.clear();
  if (taps == 0 || length < taps || length > static_cast<std::size_t>(INT_MAX)) return Status::too_long;
  const std::size_t block = length - taps + 1, bins = length / 2 + 1;
  const std::size_t blocks = samples / block + (samples % block != 0);
  Transforms t;
  if (const Status made = make_transforms(length, flags, t, plan_ms); made != Status::ok) return made;
  Signal h_re, h_im;
  const Status allocated = allocating([&] {
    y.assign(std::max<std::size_t>(blocks * block + taps - 1, samples + taps - 1), 0.0);
    h_re.resize(bins);
    h_im.resize(bins);
  });
  if (allocated != Status::ok) return allocated;
  std::memcpy(t.filter_time, h.data(), taps * sizeof(double));
  std::fill(t.filter_time + taps, t.filter_time + length, 0.0);
  fftw_execute(t.filter_forward);
  for (std::size_t k = 0; k < bins; ++k) h_re[k] = t.filter_spectrum[k][0], h_im[k] = t.filter_spectrum[k][1];
  std::memset(t.block_time, 0, length * sizeof(double));  // pages touched before timing, as the stage does

  const dsp_internal::Kernels& kernels = dsp_internal::active_kernels();
  const double scale = 1.0 / static_cast<double>(length);
  auto* const spectrum = reinterpret_cast<double*>(t.block_spectrum);
  stopwatch_start();
  for (std::size_t r = 0; r < samples; r += block) {
    kernels.load_block(t.block_time, x.data() + r, std::min(block, samples - r), length);
    fftw_execute(t.block_forward);
    kernels.multiply(spectrum, h_re.data(), h_im.data(), bins, scale);
    fftw_execute(t.block_inverse);
    kernels.overlap_add(t.block_time, y.data() + r, taps - 1, block);
  }
  stopwatch_stop();
  y.resize(samples + taps - 1);
  return Status::ok;
}

std::vector<std::size_t> fft_length_candidates(std::size_t samples, std::size_t taps, std::size_t count) {
  // FFTW's fastest lengths, up to one that takes the whole signal in one
  // block, ranked by transform work: per block L (log2 L + 1), times the
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
