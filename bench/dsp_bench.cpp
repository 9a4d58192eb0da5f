// The two convolution stages, each over its own timed loop.
//
// Direct: multiply-adds per second (MAC/s), the speed-up over the plain
// scalar loop on the same sizes (x_scalar), and its share of two ceilings
// measured with small kernels in this binary: the peak of separate
// (unfused) vector multiplies and adds (of_peak), and the convolution's own
// bound, each loaded operand's product feeding its add (of_bound).
//
// Overlap-add: the block loop's best time over its floor, FFTW's two
// executions and the bin product per block on plans of the same size
// (x_floor); 1.0 would mean copying blocks in and adding them up costs
// nothing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "dsp/dsp.h"
#include "dsp/kernels.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"
#include "plain_scalar.h"
#include "timing/timing.h"

namespace {

double plain_scalar_rate(std::size_t samples, std::size_t taps) {
  static std::map<std::pair<std::size_t, std::size_t>, double> rates;
  auto [it, fresh] = rates.try_emplace({samples, taps}, 0.0);
  if (fresh) {
    const Signal x = standard_noise(samples, 1), h = standard_lowpass(taps);
    Signal y;
    const double seconds = measure::best_of(3, [&] { return measure::seconds_of([&] { plain_scalar_convolution(x, h, y); }); });
    it->second = static_cast<double>(samples) * static_cast<double>(taps) / seconds;
  }
  return it->second;
}

// Runs `stage` on random data of the benchmark's sizes (N, M), each
// iteration timed by the stage's own measurement (its computation loop
// only). Returns the best of those times in seconds.
template <typename Stage>
double best_stage_seconds(benchmark::State& state, Stage stage) {
  const Signal x = standard_noise(static_cast<std::size_t>(state.range(0)), 1);
  const Signal h = standard_lowpass(static_cast<std::size_t>(state.range(1)));
  Signal y;
  std::vector<double> seconds;
  for (auto _ : state) {
    stage(x, h, y);
    seconds.push_back(stopwatch.average_ms / 1000.0);
    state.SetIterationTime(seconds.back());
  }
  return measure::minimum(seconds);
}

void BM_DirectStage(benchmark::State& state) {
  const auto samples = static_cast<std::size_t>(state.range(0));
  const auto taps = static_cast<std::size_t>(state.range(1));
  const double best = best_stage_seconds(state, convolve_direct);
  const double macs = static_cast<double>(samples) * static_cast<double>(taps);
  state.counters["MAC/s"] = benchmark::Counter(macs, benchmark::Counter::kIsIterationInvariantRate);
  state.SetLabel(active_kernels().name);
  const double rate = macs / std::max(1e-12, best);  // from the best timed loop
  state.counters["x_scalar"] = rate / plain_scalar_rate(samples, taps);
  state.counters["of_peak"] = rate / peak_multiply_add_rate();
  state.counters["of_bound"] = rate / bound_multiply_add_rate();
}

void BM_PlainScalar(benchmark::State& state) {
  const auto samples = static_cast<std::size_t>(state.range(0));
  const auto taps = static_cast<std::size_t>(state.range(1));
  const Signal x = standard_noise(samples, 1), h = standard_lowpass(taps);
  Signal y;
  for (auto _ : state) plain_scalar_convolution(x, h, y);
  state.counters["MAC/s"] = benchmark::Counter(static_cast<double>(samples) * static_cast<double>(taps),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PeakMulAdd(benchmark::State& state) {
  double rate = 0.0;
  for (auto _ : state) rate = peak_multiply_add_rate();
  state.counters["MAC/s"] = rate;
}

void BM_BoundMulAdd(benchmark::State& state) {
  double rate = 0.0;
  for (auto _ : state) rate = bound_multiply_add_rate();
  state.counters["MAC/s"] = rate;
}

// ---- Overlap-add: the block loop beside its floor ----------------------------------

double floor_seconds(std::size_t samples, std::size_t taps) {
  static std::map<std::pair<std::size_t, std::size_t>, double> seconds;
  auto [it, fresh] = seconds.try_emplace({samples, taps}, 0.0);
  if (fresh) it->second = fftw_floor_seconds(standard_noise(samples, 1), standard_lowpass(taps), 20);
  return it->second;
}

void BM_OverlapAddStage(benchmark::State& state) {
  const auto samples = static_cast<std::size_t>(state.range(0));
  const auto taps = static_cast<std::size_t>(state.range(1));
  const double best = best_stage_seconds(state, convolve_overlap_add);  // the block loop only
  state.counters["x_floor"] = best / floor_seconds(samples, taps);
}

void BM_OverlapAddFloor(benchmark::State& state) {
  const auto samples = static_cast<std::size_t>(state.range(0));
  const auto taps = static_cast<std::size_t>(state.range(1));
  for (auto _ : state) state.SetIterationTime(floor_seconds(samples, taps));
}

void overlap_add_sizes(benchmark::internal::Benchmark* b) {
  b->Args({100'000, 64})->Args({1'000'000, 64})->Args({1'000'000, 1024})->Args({20'000, 5000});
  b->Unit(benchmark::kMillisecond)->UseManualTime();
}

BENCHMARK(BM_OverlapAddStage)->Apply(overlap_add_sizes);
BENCHMARK(BM_OverlapAddFloor)->Apply(overlap_add_sizes)->Iterations(1);

void direct_sizes(benchmark::internal::Benchmark* b) {
  b->Args({100'000, 64})->Args({1'000'000, 64})->Args({100'000, 1024})->Args({20'000, 5000});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_PeakMulAdd)->Iterations(1);
BENCHMARK(BM_BoundMulAdd)->Iterations(1);
BENCHMARK(BM_DirectStage)->Apply(direct_sizes)->UseManualTime();
BENCHMARK(BM_PlainScalar)->Apply(direct_sizes);

}  // namespace

BENCHMARK_MAIN();
