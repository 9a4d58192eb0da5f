#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"
#include "platform/platform.h"
#include "timing/timing.h"

namespace {

// Blocks of the signal are at most this long, unless the filter is longer.
constexpr std::uint64_t signal_block_cap = 1024;

// Buffers and plans of one call, released explicitly in a fixed order.
struct Workspace {
  double* filter_time = nullptr;            // 2n: the taps, zero-filled
  double* block_time = nullptr;             // 2n: one block in, its convolution out
  fftw_complex* filter_spectrum = nullptr;  // 2n + 1 bins, 0..n used
  fftw_complex* block_spectrum = nullptr;   // 2n + 1 bins, 0..n used
  fftw_plan filter_forward_plan = nullptr;
  fftw_plan block_forward_plan = nullptr;
  fftw_plan block_inverse_plan = nullptr;
  Signal filter_re, filter_im;  // the filter spectrum's bins 0..n, split for the bin product
};

void release(Workspace& w) {
  for (fftw_plan plan : {w.filter_forward_plan, w.block_forward_plan, w.block_inverse_plan}) {
    if (plan != nullptr) fftw_destroy_plan(plan);
  }
  fftw_free(w.filter_time);  // fftw_free accepts a null pointer
  fftw_free(w.block_time);
  fftw_free(w.filter_spectrum);
  fftw_free(w.block_spectrum);
  w = Workspace{};
}

// FFTW's planner, and some of its plans while they run, allocate memory of
// their own and abort the process when that fails instead of reporting it.
// Measured with FFTW 3.3.10 for transform lengths 2 to 2^25: the planner
// itself (the first plan of a process) takes 170 KiB, the three plans at
// most 2.1 x 16n bytes more, running them at most 0.5 MiB. Other versions
// may differ; twice the plans' share and a MiB for the rest leave a margin.
std::uint64_t fftw_reserve_bytes(std::uint64_t block_length) { return 4 * 16 * block_length + (1 << 20); }

// Everything the block loop needs, untimed: the buffers, y sized and
// zero-filled, the plans (made last, once the rest is held, so that the
// reserve covers what FFTW takes while planning and running), the filter
// spectrum split into real and imaginary parts, the block buffers touched.
Status prepare(Workspace& w, const Signal& h, std::size_t block_length, std::uint64_t output_length, Signal& y) {
  const std::size_t n = block_length;
  const auto time_bytes = static_cast<std::size_t>(16 * n);
  const auto spectrum_bytes = static_cast<std::size_t>(32 * n + 16);
  w.filter_time = static_cast<double*>(fftw_malloc(time_bytes));
  w.block_time = static_cast<double*>(fftw_malloc(time_bytes));
  w.filter_spectrum = static_cast<fftw_complex*>(fftw_malloc(spectrum_bytes));
  w.block_spectrum = static_cast<fftw_complex*>(fftw_malloc(spectrum_bytes));
  if (!w.filter_time || !w.block_time || !w.filter_spectrum || !w.block_spectrum) return Status::out_of_memory;
  const Status allocated = allocating([&] {
    y.assign(static_cast<std::size_t>(output_length), 0.0);
    w.filter_re.resize(n + 1);
    w.filter_im.resize(n + 1);
  });
  if (allocated != Status::ok) return allocated;
  const std::uint64_t reserve = fftw_reserve_bytes(n);
  if (reserve > SIZE_MAX || !memory_available(static_cast<std::size_t>(reserve))) return Status::out_of_memory;

  const int transform_length = static_cast<int>(2 * n);  // checked by overlap_add_layout
  w.filter_forward_plan =
      fftw_plan_dft_r2c_1d(transform_length, w.filter_time, w.filter_spectrum, FFTW_ESTIMATE);
  w.block_forward_plan = fftw_plan_dft_r2c_1d(transform_length, w.block_time, w.block_spectrum, FFTW_ESTIMATE);
  w.block_inverse_plan = fftw_plan_dft_c2r_1d(transform_length, w.block_spectrum, w.block_time, FFTW_ESTIMATE);
  if (!w.filter_forward_plan || !w.block_forward_plan || !w.block_inverse_plan) return Status::fftw_failed;

  if (!h.empty()) std::memcpy(w.filter_time, h.data(), h.size() * sizeof(double));
  std::memset(w.filter_time + h.size(), 0, (2 * n - h.size()) * sizeof(double));
  fftw_execute(w.filter_forward_plan);
  for (std::size_t k = 0; k <= n; ++k) {
    w.filter_re[k] = w.filter_spectrum[k][0];
    w.filter_im[k] = w.filter_spectrum[k][1];
  }
  // The block buffers' first touch costs a page fault per page (a few
  // hundred for long filters); take them now so the first block does not.
  std::memset(w.block_time, 0, 2 * n * sizeof(double));
  std::memset(w.block_spectrum, 0, (2 * n + 1) * sizeof(fftw_complex));
  return Status::ok;
}

// Asks for the cache lines of p[0 .. count-1] ahead of reading them (GCC
// and Clang; elsewhere nothing).
void prefetch(const double* p, std::size_t count) {
#if defined(__GNUC__)
  for (std::size_t i = 0; i < count; i += 8) __builtin_prefetch(p + i, 0, 3);
#else
  static_cast<void>(p), static_cast<void>(count);
#endif
}

void filter_blocks(const Workspace& w, const Signal& x, std::size_t block_length, Signal& y) {
  const std::size_t n = block_length;
  const double spectrum_scale = 0.5 / static_cast<double>(n);
  const dsp_internal::Kernels& kernels = dsp_internal::active_kernels();
  auto* const block_spectrum = reinterpret_cast<double*>(w.block_spectrum);  // FFTW's documented layout
  for (std::size_t r = 0; r < x.size(); r += n) {
    const std::size_t count = std::min(n, x.size() - r);
    kernels.load_block(w.block_time, x.data() + r, count, 2 * n);
    // The next block's input, fetched while this block's transforms run
    // rather than when the copy-in stalls on it. (Fetching the next half of
    // y for writing as well was tried and gained nothing.)
    if (r + n < x.size()) prefetch(x.data() + r + n, std::min(n, x.size() - r - n));
    fftw_execute(w.block_forward_plan);
    kernels.multiply(block_spectrum, w.filter_re.data(), w.filter_im.data(), n + 1, spectrum_scale);
    fftw_execute(w.block_inverse_plan);
    kernels.overlap_add(w.block_time, y.data() + r, n, n);
  }
}

}  // namespace

Status dsp_internal::overlap_add_layout(std::uint64_t samples, std::uint64_t taps, OverlapAddLayout& layout,
                                       std::uint64_t addressable) {
  layout = OverlapAddLayout{};
  const std::uint64_t most = signal_capacity(addressable);
  if (samples > most || taps > most) return Status::too_long;  // no such signal exists here
  const std::uint64_t longest = std::max(taps, std::min(samples, signal_block_cap));
  if (longest == 0) return Status::ok;
  // Exact integer arithmetic: never a block shorter than the filter.
  if (longest > static_cast<std::uint64_t>(INT_MAX) / 2) return Status::too_long;
  const std::uint64_t n = std::bit_ceil(longest);
  if (2 * n > static_cast<std::uint64_t>(INT_MAX) || 32 * n + 16 > addressable) return Status::too_long;
  const std::uint64_t blocks = samples / n + (samples % n != 0);
  const std::uint64_t output = n * (blocks + 2);  // samples < 2^32, n < 2^31: no wrap
  if (output > most) return Status::too_long;
  layout = {n, blocks, output};
  return Status::ok;
}

Status convolve_overlap_add(const Signal& x, const Signal& h, Signal& y) {
  y.clear();
  dsp_internal::OverlapAddLayout layout;
  const Status fits = dsp_internal::overlap_add_layout(x.size(), h.size(), layout);
  if (fits != Status::ok) return fits;
  if (layout.block_length == 0) {  // nothing to filter: no transform length exists
    stopwatch_start();
    stopwatch_stop();
    return Status::ok;
  }
  const auto block_length = static_cast<std::size_t>(layout.block_length);

  Workspace w;
  const Status prepared = prepare(w, h, block_length, layout.output_length, y);
  if (prepared != Status::ok) {
    release(w);
    y.clear();
    return prepared;
  }

  stopwatch_start();
  filter_blocks(w, x, block_length, y);
  stopwatch_stop();

  release(w);
  return Status::ok;
}
