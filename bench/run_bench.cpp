// A whole run on a million samples and 64 taps, its time split into
// reading, each stage, the comparison and writing the result files.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "whole_run.h"

namespace {

// Full-precision input, as a user's measured or generated data would be.
void write_full_precision(const std::filesystem::path& path, std::size_t count, std::uint64_t seed) {
  std::mt19937_64 generator(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  for (std::size_t k = 0; k < count; ++k) std::fprintf(file, "%.17g\r\n", uniform(generator));
  std::fclose(file);
}

void BM_WholeRun(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const auto m = static_cast<std::size_t>(state.range(1));
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "fir_bench_whole_run";
  std::filesystem::create_directories(dir);
  write_full_precision(dir / "input.txt", n, 1);
  write_full_precision(dir / "fir.txt", m, 2);
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
