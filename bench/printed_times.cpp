// The two stage times as a user reads them: fir_bench started as a fresh
// process on generated data, each printed time set beside the same work
// measured other ways right after it, in fresh processes and warm. What
// each column measures, and how to read it: doc/performance.md.
//
//   printed_times [--runs R] [--no-scipy] [--program PATH] [--other PATH] [--short]
//
// (--cold fft|direct DIR [ROW], the fresh process of the cold columns,
// prints that stage's loop time in ms for DIR's input.txt and fir.txt, on
// the kernel row ROW when given.)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "bench_support.h"
#include "printed_times.h"
#include "dsp/dsp.h"
#include "dsp/kernels.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
#include "support/process.h"
#include "timing/timing.h"

namespace {

// The six shapes of the table, then long filters on short signals and
// their mirror image (the same multiply-adds), then the short filters.
constexpr Case long_cases[] = {{100'000, 64},   {1'000'000, 64},   {100'000, 1024}, {1'000'000, 1024},
                               {20'000, 5000},  {100'000, 100'000}, {1, 1 << 16},   {64, 1 << 16},
                               {1 << 16, 64},   {1, 1 << 20},       {1 << 20, 1}};
constexpr Case short_cases[] = {{100'000, 16},  {1'000'000, 16},  {100'000, 32},  {1'000'000, 32},
                                {100'000, 64},  {1'000'000, 64},  {100'000, 128}, {1'000'000, 128},
                                {100'000, 256}, {1'000'000, 256}};

using measure::median;

std::string case_name(const Case& c) { return std::to_string(c.samples) + "x" + std::to_string(c.taps); }

// The programs a measurement runs: the fir_bench timed, another build's
// to set it against (none when empty), and this program, for the cold runs.
struct Programs {
  std::vector<std::string> timed = test_support::program("fir_bench");
  std::vector<std::string> other;
  std::string self;
};

// The numbers a program printed: fir_bench's two stage times (direct, FFT),
// or a cold run's one; the program ends this one when it fails.
std::vector<double> run_and_read(const std::vector<std::string>& command, const std::string& dir, std::size_t count) {
  test_support::ProcessOptions options;
  options.stdin_bytes = "\n";
  const auto run = test_support::run_command(command, dir, options);
  static const std::regex stage_time("\t([0-9.e+-]+) мс\n"), number("^([0-9.e+-]+)\n$");
  std::vector<double> out;
  for (auto it = std::sregex_iterator(run.console.begin(), run.console.end(), count == 2 ? stage_time : number);
       it != std::sregex_iterator(); ++it) {
    out.push_back(std::stod((*it)[1]));
  }
  if (run.exit_code != 0 || out.size() != count) {
    std::fprintf(stderr, "printed_times: %s failed in %s:\n%s\n", command.front().c_str(), dir.c_str(),
                 run.console.c_str());
    std::exit(1);
  }
  return out;
}

double cold_ms(const Programs& programs, const char* stage, const std::string& dir, const char* row = nullptr) {
  std::vector<std::string> command{programs.self, "--cold", stage, dir};
  if (row != nullptr) command.emplace_back(row);
  return run_and_read(command, dir, 1)[0];
}

// The --cold mode: the fresh process itself. The stage runs once, just
// prepared, with x as the reader left it.
int print_cold_run(const std::string& stage, const std::string& dir, const char* row) {
  Signal x, h, y;
  if (load_signal(dir + "/input.txt", x) != Status::ok || load_signal(dir + "/fir.txt", h) != Status::ok) return 1;
  if (row != nullptr && !use_kernels(row)) return 1;
  double ms = 0.0;
  if (stage == "fft") {
    ms = 1e3 * cold_loop_seconds(x, h);
  } else if (convolve_direct(x, h, y) == Status::ok) {
    ms = stopwatch.average_ms;
  } else {
    return 1;
  }
  std::printf("%.6f\n", ms);
  return 0;
}

// The stage called `repeats` times; the best of its own measurements.
template <typename Stage>
double warm_stage_ms(Stage stage, const Signal& x, const Signal& h, int repeats) {
  Signal y;
  return measure::best_of(repeats, [&] {
    stage(x, h, y);
    return stopwatch.average_ms;
  });
}

std::optional<double> scipy_ms(const std::string& dir) {
  const std::string command =
      std::string(FIR_BENCH_SOURCE_DIR) + "/bench/compare_numpy.py --oaconvolve " + dir + " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  double seconds = 0.0;
  const bool read = std::fscanf(pipe, "%lf", &seconds) == 1;
  if (pclose(pipe) != 0 || !read) return std::nullopt;
  return seconds * 1e3;
}

Times measure_case(const Programs& programs, const Case& c, ScratchFolder& scratch, int runs, bool with_scipy) {
  const std::string dir = scratch.folder(case_name(c));
  const std::string name = case_name(c) + "/";
  for (const char* made : {"log.txt", "output_linear.txt", "output_fft.txt", "output_diff.txt"}) scratch.file(name + made);
  if (save_signal(scratch.file(name + "input.txt"), standard_noise(c.samples, 20261207)) != Status::ok ||
      save_signal(scratch.file(name + "fir.txt"), standard_lowpass(c.taps)) != Status::ok) {
    std::fprintf(stderr, "printed_times: cannot write the case's files in %s\n", dir.c_str());
    std::exit(1);
  }
  Signal x, h;  // the values as fir_bench reads them
  load_signal(dir + "/input.txt", x);
  load_signal(dir + "/fir.txt", h);
  // Enough warm repetitions for a stable best, without minutes on 10^10
  // multiply-adds.
  const double macs = static_cast<double>(c.samples) * static_cast<double>(c.taps);
  const int direct_repeats = macs > 1e9 ? 1 : macs > 1e8 ? 3 : 10;
  Times t;
  for (int r = 0; r < runs; ++r) {
    const std::vector<double> printed = run_and_read(programs.timed, dir, 2);
    Run run{.printed_direct = printed[0], .printed_fft = printed[1]};
    if (!programs.other.empty()) {
      const std::vector<double> other = run_and_read(programs.other, dir, 2);
      run.other_direct = other[0], run.other_fft = other[1];
    }
    run.cold_direct = cold_ms(programs, "direct", dir);
    run.cold_fft = cold_ms(programs, "fft", dir);
    run.floor_fft = 1e3 * fftw_floor_seconds(x, h, 5);
    run.warm_fft = warm_stage_ms(convolve_overlap_add, x, h, 5);
    run.warm_direct = warm_stage_ms(convolve_direct, x, h, direct_repeats);
    run.stream = 1e3 * stream_floor_seconds(x, h.size(), 5);
    t.runs.push_back(run);
  }
  if (with_scipy) t.scipy = scipy_ms(dir);
  const std::string active = active_kernels().name;
  for (const Kernels& row : kernel_table()) {
    if (!use_kernels(row.name)) continue;
    std::vector<double> cold;
    for (int r = 0; r < runs; ++r) cold.push_back(cold_ms(programs, "direct", dir, row.name));
    t.by_row.push_back({row.name, median(cold), warm_stage_ms(convolve_direct, x, h, direct_repeats)});
  }
  use_kernels(active);
  return t;
}

constexpr const char* usage =
    "usage: printed_times [--runs R] [--no-scipy] [--program PATH] [--other PATH] [--short]\n"
    "  fir_bench's printed times beside the same work measured other ways; every column is\n"
    "  explained in doc/performance.md.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--cold") return print_cold_run(argv[2], argv[3], argc > 4 ? argv[4] : nullptr);
  Programs programs;
  programs.self = std::filesystem::absolute(argv[0]).string();
  int runs = 3;
  bool with_scipy = true, only_short = false;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--runs" && a + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++a]));
    } else if (arg == "--no-scipy") {
      with_scipy = false;
    } else if ((arg == "--program" || arg == "--other") && a + 1 < argc) {
      (arg == "--program" ? programs.timed : programs.other) = {std::filesystem::absolute(argv[++a]).string()};
    } else if (arg == "--short") {
      only_short = true;
    } else {
      std::fputs(usage, arg == "--help" ? stdout : stderr);
      return arg == "--help" ? 0 : 2;
    }
  }
  std::vector<Case> cases;
  if (!only_short) cases.assign(std::begin(long_cases), std::end(long_cases));
  for (const Case& c : short_cases) {
    const auto same = [&](const Case& other) { return other.samples == c.samples && other.taps == c.taps; };
    if (std::none_of(cases.begin(), cases.end(), same)) cases.push_back(c);
  }
  Results results;
  {
    ScratchFolder scratch;
    for (const Case& c : cases) {
      std::fprintf(stderr, "printed_times: %s\n", case_name(c).c_str());
      results.emplace_back(c, measure_case(programs, c, scratch, runs, with_scipy));
    }
  }
  const double peak = peak_multiply_add_rate(), bound = bound_multiply_add_rate();
  std::printf("\n%s, %s kernels; fir_bench runs per case: %d; multiply-add peak %.1f G/s, bound %.1f G/s\n",
              measure::cpu_model().c_str(), active_kernels().name, runs, peak * 1e-9, bound * 1e-9);
  print_tables(results, peak, bound, !programs.other.empty());
  return 0;
}
