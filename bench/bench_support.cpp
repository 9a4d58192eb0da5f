#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "dsp/ceilings.h"
#include "dsp/kernels.h"
#include "dsp/overlap_add.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"

namespace {

// The best rate of a kernel row's multiply-add ceiling over every row this
// processor has, so that a kernel is measured against the machine, not
// against the vector width it happens to use.
double best_rate(double (*Ceilings::*ceiling)(std::int64_t)) {
  double best = 0.0;
  for (const Ceilings& row : multiply_add_ceilings()) {
    if (!row.supported()) continue;
    constexpr std::int64_t iterations = 5'000'000;
    const double seconds = measure::best_of(3, [&] {
      return measure::seconds_of([&] { benchmark::DoNotOptimize((row.*ceiling)(iterations)); });
    });
    best = std::max(best, static_cast<double>(iterations) * 12.0 * row.lanes / seconds);
  }
  return best;
}

// The stage's engine for x and h, y sized; null when it cannot be had.
OverlapAddEngine* stage_engine(const Signal& x, const Signal& h, Signal& y, OverlapAddLayout& layout) {
  overlap_add_layout(x.size(), h.size(), layout);
  OverlapAddEngine* engine = nullptr;
  if (layout.block_length == 0 || overlap_add_prepare(h, stage_shape(layout), static_cast<std::size_t>(layout.output_length),
                                                      y, engine) != Status::ok) {
    return nullptr;
  }
  return engine;
}

}  // namespace

double peak_multiply_add_rate() { return best_rate(&Ceilings::peak); }

double bound_multiply_add_rate() { return best_rate(&Ceilings::bound); }

double fftw_floor_seconds(const Signal& x, const Signal& h, int repeats) {
  Signal y;
  OverlapAddLayout layout{};
  OverlapAddEngine* engine = stage_engine(x, h, y, layout);
  if (engine == nullptr) return 0.0;
  const double seconds = measure::best_of(
      repeats, [&] { return measure::seconds_of([&] { overlap_add_transforms_only(*engine, layout.blocks); }); });
  overlap_add_release(engine);
  return seconds;
}

double cold_loop_seconds(const Signal& x, const Signal& h) {
  Signal y;
  OverlapAddLayout layout{};
  OverlapAddEngine* engine = stage_engine(x, h, y, layout);
  if (engine == nullptr) return 0.0;
  const double seconds = measure::seconds_of([&] { overlap_add_run(*engine, x, y); });
  overlap_add_release(engine);
  return seconds;
}

double stream_floor_seconds(const Signal& x, std::size_t taps, int repeats) {
  Signal y(x.size() + taps - 1);
  const Kernels& kernels = active_kernels();
  std::vector<double> passes;
  for (int r = 0; r < repeats; ++r) {
    std::fill(y.begin(), y.end(), 0.0);
    passes.push_back(measure::seconds_of([&] { kernels.load_block(y.data(), x.data(), x.size(), y.size()); }));
    benchmark::DoNotOptimize(y.data());
  }
  return measure::minimum(passes);
}

ScratchFolder::ScratchFolder() {
  std::error_code error;
  std::string pattern = (std::filesystem::temp_directory_path(error) / "fir_bench_XXXXXX").string();
  if (error || mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "cannot make a scratch folder below the temporary folder\n");
    std::exit(1);
  }
  path = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  for (auto name = named.rbegin(); name != named.rend(); ++name) std::filesystem::remove(*name, error);
  if (!std::filesystem::remove(path, error)) std::fprintf(stderr, "left behind: %s\n", path.c_str());
}

std::string ScratchFolder::file(const std::string& name) {
  named.push_back(path + "/" + name);
  return named.back();
}

std::string ScratchFolder::folder(const std::string& name) {
  std::error_code error;
  if (!std::filesystem::create_directory(path + "/" + name, error)) {
    std::fprintf(stderr, "cannot make %s/%s\n", path.c_str(), name.c_str());
    std::exit(1);
  }
  return file(name);
}
