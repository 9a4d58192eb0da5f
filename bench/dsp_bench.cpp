// The two convolution stages, each over its own timed loop.
//
// Direct: multiply-adds per second (MAC/s), the speed-up over the plain
// scalar loop on the same sizes (x_scalar), and the fraction of the peak
// rate of separate (unfused) vector multiplies and adds (of_peak), measured
// with a small kernel in this binary.
//
// Overlap-add: the block loop's best time over the time of only its FFTW
// executions on plans of the same size (x_fftw_only); 1.0 would mean the
// work around the transforms costs nothing.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>

#include <chrono>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"
#include "plain_scalar.h"
#include "timing/timing.h"


namespace {

Signal random_signal(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  Signal out(count);
  for (double& v : out) v = static_cast<double>(generator() >> 11) * 0x1p-52 - 1.0;
  return out;
}

double seconds_of(auto&& work, int repeats) {
  double best = 1e300;
  for (int r = 0; r < repeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

// ---- Peak rate of separate vector multiplies and adds -------------------------

// Twelve independent multiply chains and twelve independent add chains, more
// than enough to cover the latencies; one multiply plus one add per lane is
// counted as one multiply-add. Floating-point rounding keeps the compiler
// from folding the chains, so every operation is executed.
template <int W>
[[gnu::always_inline]] inline double peak_loop(std::int64_t iterations) {
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

#if defined(__GNUC__) && defined(__x86_64__)
[[gnu::target("avx512f")]] double peak_avx512(std::int64_t n) { return peak_loop<8>(n); }
[[gnu::target("avx2")]] double peak_avx2(std::int64_t n) { return peak_loop<4>(n); }
#endif
double peak_baseline(std::int64_t n) { return peak_loop<2>(n); }

// Peak multiply-adds per second with the instruction set the stage uses.
double peak_rate() {
  static const double rate = [] {
    const std::string isa = dsp_isa();
    int lanes = 2;
    double (*loop)(std::int64_t) = peak_baseline;
#if defined(__GNUC__) && defined(__x86_64__)
    if (isa == "avx512") lanes = 8, loop = peak_avx512;
    if (isa == "avx2") lanes = 4, loop = peak_avx2;
#endif
    constexpr std::int64_t iterations = 20'000'000;
    const double seconds = seconds_of([&] { benchmark::DoNotOptimize(loop(iterations)); }, 5);
    return static_cast<double>(iterations) * 12.0 * lanes / seconds;
  }();
  return rate;
}

double plain_scalar_rate(std::size_t n, std::size_t m) {
  static std::map<std::pair<std::size_t, std::size_t>, double> rates;
  auto [it, fresh] = rates.try_emplace({n, m}, 0.0);
  if (fresh) {
    const Signal x = random_signal(n, 1), h = random_signal(m, 2);
    Signal y;
    y.assign(n + m - 1, 0.0);
    const double seconds = seconds_of([&] { plain_scalar_convolution(x, h, y); }, 3);
    it->second = static_cast<double>(n) * static_cast<double>(m) / seconds;
  }
  return it->second;
}

// Runs `stage` on random data of the benchmark's sizes (N, M), each
// iteration timed by the stage's own measurement (its computation loop
// only). Returns the best of those times in seconds.
template <typename Stage>
double best_stage_seconds(benchmark::State& state, Stage stage) {
  const Signal x = random_signal(static_cast<std::size_t>(state.range(0)), 1);
  const Signal h = random_signal(static_cast<std::size_t>(state.range(1)), 2);
  Signal y;
  double best = 1e300;
  for (auto _ : state) {
    stage(x, h, y);
    state.SetIterationTime(stopwatch.average_ms / 1000.0);
    best = std::min(best, stopwatch.average_ms / 1000.0);
  }
  return best;
}

void BM_DirectStage(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto m = static_cast<std::size_t>(state.range(1));
  const double best = best_stage_seconds(state, convolve_direct);
  const double macs = static_cast<double>(n) * static_cast<double>(m);
  state.counters["MAC/s"] = benchmark::Counter(macs, benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(dsp_isa());
  const double rate = macs / std::max(1e-12, best);  // from the best timed loop
  state.counters["x_scalar"] = rate / plain_scalar_rate(n, m);
  state.counters["of_peak"] = rate / peak_rate();
}

void BM_PlainScalar(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto m = static_cast<std::size_t>(state.range(1));
  const Signal x = random_signal(n, 1), h = random_signal(m, 2);
  Signal y;
  for (auto _ : state) plain_scalar_convolution(x, h, y);
  state.counters["MAC/s"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(m),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PeakMulAdd(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(peak_rate());
  state.counters["MAC/s"] = peak_rate();
  state.SetLabel(dsp_isa());
}

// ---- Overlap-add: the block loop beside FFTW's executions alone -----------------

// Seconds for the two transforms per block that the stage's loop performs,
// on plans of the same length and flags, with nothing else in the loop. The
// inverse writes to a second buffer so that the forward input stays the
// same realistic block every time (a round trip in place would grow the
// values by 2n per block, towards infinity).
double fftw_executions_seconds(std::size_t n, std::size_t m) {
  static std::map<std::pair<std::size_t, std::size_t>, double> seconds;
  auto [it, fresh] = seconds.try_emplace({n, m}, 0.0);
  if (fresh) {
    OverlapAddLayout layout{};
    overlap_add_layout(n, m, layout);
    const auto block = static_cast<std::size_t>(layout.block_length);
    auto* input = static_cast<double*>(fftw_malloc(sizeof(double) * 2 * block));
    auto* output = static_cast<double*>(fftw_malloc(sizeof(double) * 2 * block));
    auto* spectrum = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (2 * block + 1)));
    const int length = static_cast<int>(2 * block);
    fftw_plan forward = fftw_plan_dft_r2c_1d(length, input, spectrum, FFTW_ESTIMATE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(length, spectrum, output, FFTW_ESTIMATE);
    const Signal x = random_signal(block, 3);
    std::copy(x.begin(), x.end(), input);
    std::fill(input + block, input + 2 * block, 0.0);
    it->second = seconds_of(
        [&] {
          for (std::uint64_t b = 0; b < layout.blocks; ++b) {
            fftw_execute(forward);
            fftw_execute(inverse);
          }
        },
        20);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(input);
    fftw_free(output);
    fftw_free(spectrum);
  }
  return it->second;
}

void BM_OverlapAddStage(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto m = static_cast<std::size_t>(state.range(1));
  const double best = best_stage_seconds(state, convolve_overlap_add);  // the block loop only
  state.counters["x_fftw_only"] = best / fftw_executions_seconds(n, m);
}

void BM_FftwExecutionsOnly(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto m = static_cast<std::size_t>(state.range(1));
  for (auto _ : state) state.SetIterationTime(fftw_executions_seconds(n, m));
}

void overlap_add_sizes(benchmark::internal::Benchmark* b) {
  b->Args({100'000, 64})->Args({1'000'000, 64})->Args({1'000'000, 1024})->Args({20'000, 5000});
  b->Unit(benchmark::kMillisecond)->UseManualTime();
}

BENCHMARK(BM_OverlapAddStage)->Apply(overlap_add_sizes);
BENCHMARK(BM_FftwExecutionsOnly)->Apply(overlap_add_sizes)->Iterations(1);

void direct_sizes(benchmark::internal::Benchmark* b) {
  b->Args({100'000, 64})->Args({1'000'000, 64})->Args({100'000, 1024})->Args({20'000, 5000});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PeakMulAdd)->Iterations(1);
BENCHMARK(BM_DirectStage)->Apply(direct_sizes)->UseManualTime();
BENCHMARK(BM_PlainScalar)->Apply(direct_sizes);

}  // namespace

BENCHMARK_MAIN();
