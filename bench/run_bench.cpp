// A whole run on a million samples and 64 taps, its time split into
// reading, each stage, the comparison and writing the result files.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "whole_run.h"

namespace {

// Full-precision input, as a user's measured or generated data would be.
void write_full_precision(const std::filesystem::path& path, const Signal& values) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  for (const double value : values) std::fprintf(file, "%.17g\r\n", value);
  std::fclose(file);
}

void BM_WholeRun(benchmark::State& state) {
  const auto samples = static_cast<std::size_t>(state.range(0));
  const auto taps = static_cast<std::size_t>(state.range(1));
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "fir_bench_whole_run";
  std::filesystem::create_directories(dir);
  write_full_precision(dir / "input.txt", bench_noise(samples, 1));
  write_full_precision(dir / "fir.txt", bench_lowpass(taps));
  RunTimes best{1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300, 1e300};
  for (auto _ : state) {
    const RunTimes t = time_whole_run(dir);
    best = fastest(best, t);
    state.SetIterationTime(t.everything_but_writing() + t.writing());
  }
  const auto ms = [](double seconds) { return benchmark::Counter(seconds * 1e3); };
  state.counters["read_ms"] = ms(best.read_input + best.read_fir);
  state.counters["direct_ms"] = ms(best.direct);
  state.counters["fft_ms"] = ms(best.overlap_add);
  state.counters["compare_ms"] = ms(best.compare);
  state.counters["write_ms"] = ms(best.writing());
  state.counters["all_but_write_ms"] = ms(best.everything_but_writing());
  std::filesystem::remove_all(dir);
}

BENCHMARK(BM_WholeRun)->Args({1'000'000, 64})->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
