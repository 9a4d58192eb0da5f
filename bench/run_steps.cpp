// A whole run's steps timed one by one on the wall clock: reading each
// file, each stage's whole call (allocation and planning included), the
// comparison and writing each result file, as the program's run does them
// but with no console or log output. Prints one "name seconds" line per
// step, each the best of R runs.
//
//   run_steps [--repeat R] [DIR]
//
// DIR holds input.txt and fir.txt (bench/compare_numpy.py passes its own);
// without it, a scratch folder gets 10^6 full-precision noise samples and a
// 64-tap lowpass, as a user's measured or generated data would be.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "dsp/dsp.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"

namespace {

constexpr const char* step_names[] = {"read_input", "read_fir",     "direct",    "overlap_add",
                                      "compare",    "write_linear", "write_fft", "write_diff"};
constexpr std::size_t step_count = std::size(step_names);
using StepSeconds = std::array<double, step_count>;

StepSeconds time_steps(const std::filesystem::path& dir) {
  const auto file = [&](const char* name) { return (dir / name).string(); };
  Signal input, taps, direct, fft, difference;
  DeviationStats deviations{};
  using measure::seconds_of;
  return {seconds_of([&] { load_signal(file("input.txt"), input); }),
          seconds_of([&] { load_signal(file("fir.txt"), taps); }),
          seconds_of([&] { convolve_direct(input, taps, direct); }),
          seconds_of([&] { convolve_overlap_add(input, taps, fft); }),
          seconds_of([&] { compare_signals(direct, fft, difference, deviations); }),
          seconds_of([&] { save_signal(file("output_linear.txt"), direct); }),
          seconds_of([&] { save_signal(file("output_fft.txt"), fft); }),
          seconds_of([&] { save_signal(file("output_diff.txt"), difference); })};
}

void write_full_precision(const std::string& path, const Signal& values) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file != nullptr;
  for (std::size_t k = 0; written && k < values.size(); ++k) written = std::fprintf(file, "%.17g\r\n", values[k]) > 0;
  if (file != nullptr && std::fclose(file) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "run_steps: cannot write %s\n", path.c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 3;
  std::filesystem::path dir;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--repeat" && a + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++a]));
    } else if (!arg.starts_with("-") && dir.empty()) {
      dir = arg;
    } else {
      std::fprintf(stderr, "usage: run_steps [--repeat R] [DIR]\n");
      return 2;
    }
  }
  std::optional<ScratchFolder> scratch;
  if (dir.empty()) {
    scratch.emplace();
    dir = scratch->path;
    for (const char* made : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) scratch->file(made);
    write_full_precision(scratch->file("input.txt"), standard_noise(1'000'000, 1));
    write_full_precision(scratch->file("fir.txt"), standard_lowpass(64));
  }
  std::array<std::vector<double>, step_count> runs;
  for (int r = 0; r < repeat; ++r) {
    const StepSeconds seconds = time_steps(dir);
    for (std::size_t s = 0; s < step_count; ++s) runs[s].push_back(seconds[s]);
  }
  for (std::size_t s = 0; s < step_count; ++s) std::printf("%s %.9f\n", step_names[s], measure::minimum(runs[s]));
  return 0;
}
