#include "dsp/overlap_add.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>

#include "dsp/dsp.h"
#include "dsp/kernels.h"
#include "platform/platform.h"
#include "timing/timing.h"

// Buffers and plans of one engine, released explicitly in a fixed order.
// A real transform of K values has K/2 + 1 complex bins.
struct OverlapAddEngine {
  OverlapAddShape shape{};
  std::size_t bins = 0;
  double* filter_time = nullptr;            // K: the taps, zero-filled
  double* block_time = nullptr;             // K: one block in, its convolution out
  fftw_complex* filter_spectrum = nullptr;  // bins
  fftw_complex* block_spectrum = nullptr;   // bins
  fftw_plan filter_forward_plan = nullptr;
  fftw_plan block_forward_plan = nullptr;
  fftw_plan block_inverse_plan = nullptr;
  Signal filter_re, filter_im;  // the filter spectrum, split for the bin product
};

namespace {

// Blocks of the signal are at most this long, unless the filter is longer.
constexpr std::uint64_t signal_block_cap = 1024;

// FFTW's planner, and some of its plans while they run, allocate memory of
// their own and abort the process when that fails instead of reporting it.
// Measured with FFTW 3.3.10 for transform lengths 2 to 2^25: the planner
// itself (the first plan of a process) takes 170 KiB, the three plans at
// most 2.1 x 8K bytes more, running them at most 0.5 MiB. Other versions
// may differ; twice the plans' share and a MiB for the rest leave a margin.
std::uint64_t fftw_reserve_bytes(std::uint64_t transform_length) { return 4 * 8 * transform_length + (1 << 20); }

// Asks for the cache lines of p[0 .. count-1] ahead of reading them (GCC
// and Clang; elsewhere nothing).
void prefetch(const double* p, std::size_t count) {
#if defined(__GNUC__)
  for (std::size_t i = 0; i < count; i += 8) __builtin_prefetch(p + i, 0, 3);
#else
  static_cast<void>(p), static_cast<void>(count);
#endif
}

// Everything the block loop needs, in this order: the FFTW buffers, y and
// the split spectrum, the reserve, the plans (made last, once the rest is
// held, so that the reserve covers what FFTW takes while planning and
// running), the filter spectrum, and the block buffers touched, so that the
// first block takes no page faults.
Status prepare(OverlapAddEngine& e, const Signal& h, std::size_t output_length, Signal& y, double* plan_ms) {
  const std::size_t length = e.shape.transform_length;
  e.filter_time = static_cast<double*>(fftw_malloc(length * sizeof(double)));
  e.block_time = static_cast<double*>(fftw_malloc(length * sizeof(double)));
  e.filter_spectrum = static_cast<fftw_complex*>(fftw_malloc(e.bins * sizeof(fftw_complex)));
  e.block_spectrum = static_cast<fftw_complex*>(fftw_malloc(e.bins * sizeof(fftw_complex)));
  if (!e.filter_time || !e.block_time || !e.filter_spectrum || !e.block_spectrum) return Status::out_of_memory;
  const Status allocated = allocating([&] {
    y.assign(output_length, 0.0);
    e.filter_re.resize(e.bins);
    e.filter_im.resize(e.bins);
  });
  if (allocated != Status::ok) return allocated;
  const std::uint64_t reserve = fftw_reserve_bytes(length);
  if (reserve > SIZE_MAX || !memory_available(static_cast<std::size_t>(reserve))) return Status::out_of_memory;

  const int n = static_cast<int>(length);  // checked by the caller
  const unsigned flags = e.shape.planner == Planner::measure ? FFTW_MEASURE : FFTW_ESTIMATE;
  const auto planning_began = std::chrono::steady_clock::now();
  e.filter_forward_plan = fftw_plan_dft_r2c_1d(n, e.filter_time, e.filter_spectrum, flags);
  e.block_forward_plan = fftw_plan_dft_r2c_1d(n, e.block_time, e.block_spectrum, flags);
  e.block_inverse_plan = fftw_plan_dft_c2r_1d(n, e.block_spectrum, e.block_time, flags);
  if (plan_ms != nullptr) {
    *plan_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - planning_began).count();
  }
  if (!e.filter_forward_plan || !e.block_forward_plan || !e.block_inverse_plan) return Status::fftw_failed;

  if (!h.empty()) std::memcpy(e.filter_time, h.data(), h.size() * sizeof(double));
  std::memset(e.filter_time + h.size(), 0, (length - h.size()) * sizeof(double));
  fftw_execute(e.filter_forward_plan);
  for (std::size_t k = 0; k < e.bins; ++k) {
    e.filter_re[k] = e.filter_spectrum[k][0];
    e.filter_im[k] = e.filter_spectrum[k][1];
  }
  std::memset(e.block_time, 0, length * sizeof(double));
  std::memset(e.block_spectrum, 0, e.bins * sizeof(fftw_complex));
  return Status::ok;
}

}  // namespace

Status overlap_add_prepare(const Signal& h, const OverlapAddShape& shape, std::size_t output_length, Signal& y,
                           OverlapAddEngine*& engine, double* plan_ms) {
  y.clear();
  engine = nullptr;
  if (const Status made = allocating([&] { engine = new OverlapAddEngine{}; }); made != Status::ok) return made;
  engine->shape = shape;
  engine->bins = shape.transform_length / 2 + 1;
  const Status prepared = prepare(*engine, h, output_length, y, plan_ms);
  if (prepared != Status::ok) {
    overlap_add_release(engine);
    y.clear();
  }
  return prepared;
}

void overlap_add_run(const OverlapAddEngine& e, const Signal& x, Signal& y) {
  const OverlapAddShape& shape = e.shape;
  const double scale = 1.0 / static_cast<double>(shape.transform_length);
  const Kernels& kernels = active_kernels();
  auto* const block_spectrum = reinterpret_cast<double*>(e.block_spectrum);  // FFTW's documented layout
  for (std::size_t r = 0; r < x.size(); r += shape.block) {
    const std::size_t count = std::min(shape.block, x.size() - r);
    kernels.load_block(e.block_time, x.data() + r, count, shape.transform_length);
    // The next block's input, fetched while this block's transforms run
    // rather than when the copy-in stalls on it. (Fetching the next part of
    // y for writing as well was tried and gained nothing.)
    const std::size_t next = r + shape.block;
    if (next < x.size()) prefetch(x.data() + next, std::min(shape.block, x.size() - next));
    fftw_execute(e.block_forward_plan);
    kernels.multiply(block_spectrum, e.filter_re.data(), e.filter_im.data(), e.bins, scale);
    fftw_execute(e.block_inverse_plan);
    kernels.overlap_add(e.block_time, y.data() + r, shape.added, shape.stored);
  }
}

void overlap_add_transforms_only(const OverlapAddEngine& e, std::uint64_t blocks) {
  const double scale = 1.0 / static_cast<double>(e.shape.transform_length);
  const Kernels& kernels = active_kernels();
  auto* const block_spectrum = reinterpret_cast<double*>(e.block_spectrum);
  for (std::uint64_t b = 0; b < blocks; ++b) {
    fftw_execute(e.block_forward_plan);
    kernels.multiply(block_spectrum, e.filter_re.data(), e.filter_im.data(), e.bins, scale);
    fftw_execute(e.block_inverse_plan);
  }
}

void overlap_add_release(OverlapAddEngine*& engine) {
  if (engine == nullptr) return;
  for (fftw_plan plan : {engine->filter_forward_plan, engine->block_forward_plan, engine->block_inverse_plan}) {
    if (plan != nullptr) fftw_destroy_plan(plan);
  }
  fftw_free(engine->filter_time);  // fftw_free accepts a null pointer
  fftw_free(engine->block_time);
  fftw_free(engine->filter_spectrum);
  fftw_free(engine->block_spectrum);
  delete engine;
  engine = nullptr;
}

OverlapAddShape stage_shape(const OverlapAddLayout& layout) {
  const auto n = static_cast<std::size_t>(layout.block_length);
  return {.transform_length = 2 * n, .block = n, .added = n, .stored = n, .planner = Planner::estimate};
}

void overlap_add_forget_plans() { fftw_cleanup(); }

const char* fftw_library_version() { return fftw_version; }

Status overlap_add_layout(std::uint64_t samples, std::uint64_t taps, OverlapAddLayout& layout,
                          std::uint64_t addressable) {
  layout = OverlapAddLayout{};
  const std::uint64_t most = signal_capacity(addressable);
  if (samples > most || taps > most) return Status::too_long;  // no such signal exists here
  const std::uint64_t longest = std::max(taps, std::min(samples, signal_block_cap));
  if (longest == 0) return Status::ok;
  // Exact integer arithmetic: never a block shorter than the filter.
  if (longest > static_cast<std::uint64_t>(INT_MAX) / 2) return Status::too_long;
  const std::uint64_t n = std::bit_ceil(longest);
  if (2 * n > static_cast<std::uint64_t>(INT_MAX) || 16 * (n + 1) > addressable) return Status::too_long;
  const std::uint64_t blocks = samples / n + (samples % n != 0);
  const std::uint64_t output = n * (blocks + 2);  // samples < 2^32, n < 2^31: no wrap
  if (output > most) return Status::too_long;
  layout = {n, blocks, output};
  return Status::ok;
}

// Blocks of n, transforms of 2n planned with FFTW_ESTIMATE, the filter's
// spectrum computed once. y[0 .. N+M-2] is the linear convolution within
// the transforms' rounding; after it, up to the end of the last block's
// window, y holds only rounding residue, and every sample after that is
// exactly 0.0. Planning, the filter transform and zero-filling y happen
// before the stopwatch starts. N = M = 0 calls no FFTW function, leaves y
// empty and still starts and stops the stopwatch once.
Status convolve_overlap_add(const Signal& x, const Signal& h, Signal& y) {
  y.clear();
  OverlapAddLayout layout;
  const Status fits = overlap_add_layout(x.size(), h.size(), layout);
  if (fits != Status::ok) return fits;
  if (layout.block_length == 0) {  // nothing to filter: no transform length exists
    stopwatch_start();
    stopwatch_stop();
    return Status::ok;
  }
  OverlapAddEngine* engine = nullptr;
  const Status prepared =
      overlap_add_prepare(h, stage_shape(layout), static_cast<std::size_t>(layout.output_length), y, engine);
  if (prepared != Status::ok) return prepared;

  stopwatch_start();
  overlap_add_run(*engine, x, y);
  stopwatch_stop();

  overlap_add_release(engine);
  return Status::ok;
}
