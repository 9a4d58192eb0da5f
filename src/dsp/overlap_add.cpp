#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

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
// itself (the first plan of a process) takes 170 KiB, making the three plans
// at most 2.1 x 16n bytes more, running them at most 0.5 MiB (at 2^25). The
// stage checks that these reserves, with a wide margin, could be had before
// it plans and before it runs, and reports out_of_memory when not.
constexpr std::uint64_t reserve_margin = 1 << 20;
std::uint64_t planning_reserve(std::uint64_t n) { return 4 * 16 * n + reserve_margin; }
std::uint64_t execution_reserve(std::uint64_t n) { return n + reserve_margin; }

bool reserve_available(std::uint64_t bytes) {
  return bytes <= SIZE_MAX && memory_available(static_cast<std::size_t>(bytes));
}

DspStatus prepare(Workspace& w, std::uint64_t n) {
  const auto time_bytes = static_cast<std::size_t>(16 * n);
  const auto spectrum_bytes = static_cast<std::size_t>(32 * n + 16);
  w.filter_time = static_cast<double*>(fftw_malloc(time_bytes));
  w.block_time = static_cast<double*>(fftw_malloc(time_bytes));
  w.filter_spectrum = static_cast<fftw_complex*>(fftw_malloc(spectrum_bytes));
  w.block_spectrum = static_cast<fftw_complex*>(fftw_malloc(spectrum_bytes));
  if (!w.filter_time || !w.block_time || !w.filter_spectrum || !w.block_spectrum) return DspStatus::out_of_memory;
  if (!reserve_available(planning_reserve(n))) return DspStatus::out_of_memory;

  const int transform_length = static_cast<int>(2 * n);  // checked by overlap_add_layout
  w.filter_forward_plan =
      fftw_plan_dft_r2c_1d(transform_length, w.filter_time, w.filter_spectrum, FFTW_ESTIMATE);
  w.block_forward_plan = fftw_plan_dft_r2c_1d(transform_length, w.block_time, w.block_spectrum, FFTW_ESTIMATE);
  w.block_inverse_plan = fftw_plan_dft_c2r_1d(transform_length, w.block_spectrum, w.block_time, FFTW_ESTIMATE);
  if (!w.filter_forward_plan || !w.block_forward_plan || !w.block_inverse_plan) return DspStatus::fftw_failed;
  return DspStatus::ok;
}

// ---- The arithmetic around the transforms, vectorised exactly -------------------

using dsp_internal::load;
using dsp_internal::store;
using dsp_internal::Vec;

// X[k] := (X[k] * H[k]) * scale for bins k = first .. bins-1, one at a
// time. Each part is formed as written, one rounding per operation, the
// scale applied to the finished product.
void multiply_bins(double* x, const double* h_re, const double* h_im, std::size_t first, std::size_t bins,
                   double scale) {
  for (std::size_t k = first; k < bins; ++k) {
    const double xr = x[2 * k], xi = x[2 * k + 1];
    x[2 * k] = (xr * h_re[k] - xi * h_im[k]) * scale;
    x[2 * k + 1] = (xr * h_im[k] + xi * h_re[k]) * scale;
  }
}

#if defined(FIR_PORTABLE_KERNELS)

template <int W>
void multiply_spectra(double* x, const double* h_re, const double* h_im, std::size_t bins, double scale) {
  multiply_bins(x, h_re, h_im, 0, bins, scale);
}

#else

// Lane shuffles between interleaved complex values (re, im, re, im, ...)
// and separate real and imaginary vectors.
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> even_lanes(Vec<W> a, Vec<W> b, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(a, b, static_cast<int>(2 * Lane)...);
}
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> odd_lanes(Vec<W> a, Vec<W> b, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(a, b, static_cast<int>(2 * Lane + 1)...);
}
// Lanes re[0], im[0], re[1], im[1], ... from the low (first) or the high half.
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> interleave_low(Vec<W> re, Vec<W> im, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(re, im, static_cast<int>(Lane / 2 + (Lane % 2) * W)...);
}
template <int W, std::size_t... Lane>
FIR_INLINE Vec<W> interleave_high(Vec<W> re, Vec<W> im, std::index_sequence<Lane...>) {
  return __builtin_shufflevector(re, im, static_cast<int>(W / 2 + Lane / 2 + (Lane % 2) * W)...);
}

// multiply_bins for `bins` complex bins of the interleaved block spectrum x,
// with H given as separate real and imaginary parts (split once before the
// loop, so only the block's values need shuffling); bins are independent,
// so W of them share a vector without changing a bit.
template <int W>
FIR_INLINE void multiply_spectra(double* x, const double* h_re, const double* h_im, std::size_t bins, double scale) {
  constexpr auto lanes = std::make_index_sequence<W>{};
  const Vec<W> s = Vec<W>{} + scale;
  std::size_t k = 0;
  for (; k + W <= bins; k += W) {
    const Vec<W> a = load<W>(x + 2 * k);
    const Vec<W> b = load<W>(x + 2 * k + W);
    const Vec<W> xr = even_lanes<W>(a, b, lanes);
    const Vec<W> xi = odd_lanes<W>(a, b, lanes);
    const Vec<W> hr = load<W>(h_re + k);
    const Vec<W> hi = load<W>(h_im + k);
    const Vec<W> re = (xr * hr - xi * hi) * s;
    const Vec<W> im = (xr * hi + xi * hr) * s;
    store<W>(x + 2 * k, interleave_low<W>(re, im, lanes));
    store<W>(x + 2 * k + W, interleave_high<W>(re, im, lanes));
  }
  multiply_bins(x, h_re, h_im, k, bins, scale);
}

#endif

// block[0 .. count-1] := x[0 .. count-1], block[count .. length-1] := 0.0.
// Plain vector moves: for blocks of a few kilobytes the library's memcpy and
// memset cost about twice as much here.
template <int W>
FIR_INLINE void load_block(double* block, const double* x, std::size_t count, std::size_t length) {
  std::size_t i = 0;
  for (; i + W <= count; i += W) store<W>(block + i, load<W>(x + i));
  for (; i < count; ++i) block[i] = x[i];
  for (; i < length && i % W != 0; ++i) block[i] = 0.0;
  for (; i + W <= length; i += W) store<W>(block + i, Vec<W>{});
  for (; i < length; ++i) block[i] = 0.0;
}

// Adds the first half of the block's convolution b onto y and stores the
// second half, which no earlier block has reached.
template <int W>
FIR_INLINE void overlap_add(const double* b, double* y, std::size_t n) {
  std::size_t i = 0;
  for (; i + W <= n; i += W) store<W>(y + i, load<W>(b + i) + load<W>(y + i));
  for (; i < n; ++i) y[i] = b[i] + y[i];
  for (i = n; i + W <= 2 * n; i += W) store<W>(y + i, load<W>(b + i));
  for (; i < 2 * n; ++i) y[i] = b[i];
}

#if defined(FIR_DISPATCH_X86)
FIR_TARGET_AVX512 void load_block_avx512(double* block, const double* x, std::size_t count, std::size_t length) {
  load_block<8>(block, x, count, length);
}
FIR_TARGET_AVX512 void multiply_avx512(double* x, const double* h_re, const double* h_im, std::size_t bins,
                                       double scale) {
  multiply_spectra<8>(x, h_re, h_im, bins, scale);
}
FIR_TARGET_AVX512 void overlap_add_avx512(const double* b, double* y, std::size_t n) { overlap_add<8>(b, y, n); }
FIR_TARGET_AVX2 void load_block_avx2(double* block, const double* x, std::size_t count, std::size_t length) {
  load_block<4>(block, x, count, length);
}
FIR_TARGET_AVX2 void multiply_avx2(double* x, const double* h_re, const double* h_im, std::size_t bins, double scale) {
  multiply_spectra<4>(x, h_re, h_im, bins, scale);
}
FIR_TARGET_AVX2 void overlap_add_avx2(const double* b, double* y, std::size_t n) { overlap_add<4>(b, y, n); }
#endif
void load_block_baseline(double* block, const double* x, std::size_t count, std::size_t length) {
  load_block<2>(block, x, count, length);
}
void multiply_baseline(double* x, const double* h_re, const double* h_im, std::size_t bins, double scale) {
  multiply_spectra<2>(x, h_re, h_im, bins, scale);
}
void overlap_add_baseline(const double* b, double* y, std::size_t n) { overlap_add<2>(b, y, n); }

}  // namespace

namespace dsp_internal {

BlockArithmetic block_arithmetic() {
  switch (active_isa()) {
#if defined(FIR_DISPATCH_X86)
    case Isa::avx512:
      return {load_block_avx512, multiply_avx512, overlap_add_avx512};
    case Isa::avx2:
      return {load_block_avx2, multiply_avx2, overlap_add_avx2};
#endif
    default:
      return {load_block_baseline, multiply_baseline, overlap_add_baseline};
  }
}

}  // namespace dsp_internal

namespace {

// ---- The block loop ------------------------------------------------------------------

// The filter spectrum's bins 0..n as separate real and imaginary parts.
struct SplitSpectrum {
  Signal re;
  Signal im;
};

SplitSpectrum split_filter_spectrum(const Workspace& w, std::size_t n) {
  SplitSpectrum h{Signal(n + 1), Signal(n + 1)};
  for (std::size_t k = 0; k <= n; ++k) {
    h.re[k] = w.filter_spectrum[k][0];
    h.im[k] = w.filter_spectrum[k][1];
  }
  return h;
}

void filter_blocks(const Workspace& w, const SplitSpectrum& h, const Signal& x, std::size_t n, Signal& y) {
  const double spectrum_scale = 0.5 / static_cast<double>(n);
  const dsp_internal::BlockArithmetic arithmetic = dsp_internal::block_arithmetic();
  auto* const block_spectrum = reinterpret_cast<double*>(w.block_spectrum);  // FFTW's documented layout
  for (std::size_t r = 0; r < x.size(); r += n) {
    const std::size_t count = std::min(n, x.size() - r);
    arithmetic.load_block(w.block_time, x.data() + r, count, 2 * n);
    // The next block's input, fetched while this block's transforms run
    // rather than when the copy-in stalls on it. (Fetching the next half of
    // y for writing as well was tried and gained nothing.)
    if (r + n < x.size()) {
      dsp_internal::prefetch(x.data() + r + n, static_cast<std::ptrdiff_t>(std::min(n, x.size() - r - n)));
    }
    fftw_execute(w.block_forward_plan);
    arithmetic.multiply(block_spectrum, h.re.data(), h.im.data(), n + 1, spectrum_scale);
    fftw_execute(w.block_inverse_plan);
    arithmetic.overlap_add(w.block_time, y.data() + r, n);
  }
}

// Everything before the block loop: buffers and plans, the filter spectrum
// (split for the bin product), y sized and zero-filled.
DspStatus prepare_blocks(Workspace& w, const Signal& h, std::size_t n, std::uint64_t output_length,
                         SplitSpectrum& split, Signal& y) {
  const DspStatus prepared = prepare(w, n);
  if (prepared != DspStatus::ok) return prepared;
  if (!h.empty()) std::memcpy(w.filter_time, h.data(), h.size() * sizeof(double));
  std::memset(w.filter_time + h.size(), 0, (2 * n - h.size()) * sizeof(double));
  fftw_execute(w.filter_forward_plan);
  // The block buffers' first touch costs a page fault per page (a few
  // hundred for long filters); take them now so the first block does not.
  std::memset(w.block_time, 0, 2 * n * sizeof(double));
  std::memset(w.block_spectrum, 0, (2 * n + 1) * sizeof(fftw_complex));
  try {
    split = split_filter_spectrum(w, n);
    y.assign(static_cast<std::size_t>(output_length), 0.0);
  } catch (const std::bad_alloc&) {
    return DspStatus::out_of_memory;
  }
  return reserve_available(execution_reserve(n)) ? DspStatus::ok : DspStatus::out_of_memory;
}

}  // namespace

DspStatus overlap_add_layout(std::uint64_t samples, std::uint64_t taps, OverlapAddLayout& layout,
                             std::uint64_t addressable) {
  layout = OverlapAddLayout{};
  const std::uint64_t most = signal_capacity(addressable);
  if (samples > most || taps > most) return DspStatus::too_long;  // no such signal exists here
  const std::uint64_t longest = std::max(taps, std::min(samples, signal_block_cap));
  if (longest == 0) return DspStatus::ok;
  // Exact integer arithmetic: never a block shorter than the filter.
  if (longest > static_cast<std::uint64_t>(INT_MAX) / 2) return DspStatus::too_long;
  const std::uint64_t n = std::bit_ceil(longest);
  if (2 * n > static_cast<std::uint64_t>(INT_MAX) || 32 * n + 16 > addressable) return DspStatus::too_long;
  const std::uint64_t blocks = samples / n + (samples % n != 0);
  const std::uint64_t output = n * (blocks + 2);  // samples < 2^32, n < 2^31: no wrap
  if (output > most) return DspStatus::too_long;
  layout = {n, blocks, output};
  return DspStatus::ok;
}

DspStatus convolve_overlap_add(const Signal& x, const Signal& h, Signal& y) {
  y.clear();
  OverlapAddLayout layout;
  const DspStatus fits = overlap_add_layout(x.size(), h.size(), layout);
  if (fits != DspStatus::ok) return fits;
  if (layout.block_length == 0) {  // nothing to filter: no transform length exists
    stopwatch_start();
    stopwatch_stop();
    return DspStatus::ok;
  }
  const auto n = static_cast<std::size_t>(layout.block_length);

  Workspace w;
  SplitSpectrum split;
  const DspStatus prepared = prepare_blocks(w, h, n, layout.output_length, split, y);
  if (prepared != DspStatus::ok) {
    release(w);
    y.clear();
    return prepared;
  }

  stopwatch_start();
  filter_blocks(w, split, x, n, y);
  stopwatch_stop();

  release(w);
  return DspStatus::ok;
}
