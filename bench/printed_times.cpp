// The two stage times as a user reads them: fir_bench started as a fresh
// process on generated data, its printed times set beside what the same
// work costs when everything is warm.
//
//   printed_times [--runs R] [--no-scipy] [--program PATH] [--other PATH] [--short]
//
// Per case (N samples x M taps), R runs of fir_bench in a scratch folder,
// each followed at once by this process's own measurements:
//   floor       FFTW alone on the stage's block rule: per block r2c, the
//               stage's own bin product, c2r; plans made before timing, warm;
//   cold        the stage's block loop run once in a fresh process of this
//               program, on an engine just prepared (buffers touched, block
//               plans never executed): what one run can do at best;
//   warm        the stage itself called again and again in this process, its
//               own stopwatch read (the same loop, everything warm);
//   stream      one read of x and one write of y (N + M - 1 values), y
//               zero-filled before, best of several: the direct stage's
//               floor where memory, not arithmetic, bounds it;
//   of peak     the direct stage's multiply-adds per second (N * M over the
//               printed time) as a share of the unfused multiply-add peak
//               (separate chains of multiplies and adds, no loads), and of
//               bound, of the convolution's own bound (each product of a
//               loaded vector feeding its add), both measured once per run
//               of this program; "/ floor" sets the printed time over
//               max(N * M / bound, stream);
//   scipy       scipy.signal.oaconvolve on the same values, best of three
//               (bench/compare_numpy.py; left out when numpy is missing).
// A virtual machine's speed drifts by tens of percent within seconds, so
// each ratio pairs one printed time with the measurement taken right after
// it, and the table shows the median of those paired ratios (ratios first);
// the times are the best and the median of the runs.
//
// A second table sets the direct stage's warm time on each instruction set
// the processor has side by side.
//
// --program runs another build's fir_bench in place of this build's; the
// in-process columns stay this build's. --other runs another build's
// fir_bench (an earlier version) right after each run of this one and adds
// a table of the paired ratios, this build's printed time over the other's.
// --short takes only the short filters, M = 16 to 256 at N = 10^5 and 10^6.
// (--cold DIR, the fresh process of the cold column, prints that time in ms
// for DIR's input.txt and fir.txt.)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "bench_support.h"
#include "dsp/dsp.h"
#include "dsp/kernels.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
#include "support/process.h"
#include "timing/timing.h"

namespace {

struct Case {
  std::size_t samples, taps;
};
// The six shapes of the table, then long filters on short signals and
// their mirror image (the same multiply-adds), then the short filters.
constexpr Case long_cases[] = {{100'000, 64},   {1'000'000, 64},   {100'000, 1024}, {1'000'000, 1024},
                               {20'000, 5000},  {100'000, 100'000}, {1, 1 << 16},   {64, 1 << 16},
                               {1 << 16, 64},   {1, 1 << 20},       {1 << 20, 1}};
constexpr Case short_cases[] = {{100'000, 16},  {1'000'000, 16},  {100'000, 32},  {1'000'000, 32},
                                {100'000, 64},  {1'000'000, 64},  {100'000, 128}, {1'000'000, 128},
                                {100'000, 256}, {1'000'000, 256}};

// One run of fir_bench and the measurements taken right after it.
struct Run {
  double printed_direct = 0, printed_fft = 0;  // ms
  double floor_fft = 0, warm_fft = 0, cold_fft = 0, warm_direct = 0, stream = 0;  // ms, best of a few (cold: once)
  double other_direct = 0, other_fft = 0;  // ms, printed by the other build's program; 0 without one
};

struct Times {
  std::vector<Run> runs;
  std::optional<double> scipy;  // ms
  std::vector<double> warm_direct_by_row;  // ms, each kernel row this processor has
};

using measure::median;
using measure::minimum;

std::string case_name(const Case& c) { return std::to_string(c.samples) + "x" + std::to_string(c.taps); }

// The two times fir_bench printed, in its console order: direct, then FFT.
std::vector<double> printed_stage_times(const std::string& console) {
  static const std::regex time("\t([0-9.e+-]+) мс\n");
  std::vector<double> out;
  for (auto it = std::sregex_iterator(console.begin(), console.end(), time); it != std::sregex_iterator(); ++it) {
    out.push_back(std::stod((*it)[1]));
  }
  return out;
}

// The programs a measurement runs: the fir_bench timed, another build's
// to set it against (none when empty), and this program, for the cold runs.
struct Programs {
  std::vector<std::string> timed = test_support::program("fir_bench");
  std::vector<std::string> other;
  std::string self;
};

// fir_bench's two printed times (direct, FFT) from one fresh run.
std::vector<double> run_fir_bench(const std::vector<std::string>& command, const std::filesystem::path& dir) {
  test_support::ProcessOptions options;
  options.stdin_bytes = "\n";
  const auto run = test_support::run_command(command, dir.string(), options);
  const std::vector<double> printed = printed_stage_times(run.console);
  if (run.exit_code != 0 || printed.size() != 2) {
    std::fprintf(stderr, "printed_times: fir_bench failed in %s:\n%s\n", dir.string().c_str(), run.console.c_str());
    std::exit(1);
  }
  return printed;
}

// The stage called `repeats` times; the best of its own measurements, in ms.
template <typename Stage>
double warm_stage_ms(Stage stage, const Signal& x, const Signal& h, int repeats) {
  Signal y;
  return measure::best_of(repeats, [&] {
    stage(x, h, y);
    return stopwatch.average_ms;
  });
}

// One cold run of the FFT stage's loop in a fresh process of this program.
double cold_fft_ms(const std::string& self, const std::filesystem::path& dir) {
  const auto run = test_support::run_command({self, "--cold", dir.string()}, dir.string(), {});
  if (run.exit_code != 0) {
    std::fprintf(stderr, "printed_times: the cold run failed in %s\n", dir.string().c_str());
    std::exit(1);
  }
  return std::stod(run.console);
}

// The --cold mode: the fresh process itself.
int print_cold_run(const std::filesystem::path& dir) {
  Signal x, h;
  if (load_signal((dir / "input.txt").string(), x) != Status::ok || load_signal((dir / "fir.txt").string(), h) != Status::ok) {
    return 1;
  }
  std::printf("%.6f\n", 1e3 * cold_loop_seconds(x, h));
  return 0;
}

std::optional<double> scipy_ms(const std::filesystem::path& dir) {
  const std::string command = std::string(FIR_BENCH_SOURCE_DIR) + "/bench/compare_numpy.py --oaconvolve " +
                              dir.string() + " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  double seconds = 0.0;
  const bool read = std::fscanf(pipe, "%lf", &seconds) == 1;
  if (pclose(pipe) != 0 || !read) return std::nullopt;
  return seconds * 1e3;
}

Times measure_case(const Programs& programs, const Case& c, const std::filesystem::path& dir, int runs,
                   bool with_scipy) {
  std::filesystem::create_directories(dir);
  save_signal((dir / "input.txt").string(), standard_noise(c.samples, 20261207));
  save_signal((dir / "fir.txt").string(), standard_lowpass(c.taps));
  Signal x, h;  // the values as fir_bench reads them
  load_signal((dir / "input.txt").string(), x);
  load_signal((dir / "fir.txt").string(), h);
  // Enough warm repetitions for a stable best, without minutes on 10^10
  // multiply-adds.
  const double macs = static_cast<double>(c.samples) * static_cast<double>(c.taps);
  const int direct_repeats = macs > 1e9 ? 1 : macs > 1e8 ? 3 : 10;
  Times t;
  for (int r = 0; r < runs; ++r) {
    const std::vector<double> printed = run_fir_bench(programs.timed, dir);
    Run run{.printed_direct = printed[0], .printed_fft = printed[1]};
    if (!programs.other.empty()) {
      const std::vector<double> before = run_fir_bench(programs.other, dir);
      run.other_direct = before[0], run.other_fft = before[1];
    }
    run.cold_fft = cold_fft_ms(programs.self, dir);
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
    t.warm_direct_by_row.push_back(warm_stage_ms(convolve_direct, x, h, direct_repeats));
  }
  use_kernels(active);
  return t;
}

// The median over the runs of `value(run)`.
template <typename Value>
double median_of(const Times& t, Value value) {
  std::vector<double> values;
  for (const Run& run : t.runs) values.push_back(value(run));
  return median(values);
}

// What a cell of the main table is computed from.
struct Row {
  Case c;
  const Times& t;
  double peak, bound;  // multiply-adds per second

  double macs() const { return static_cast<double>(c.samples) * static_cast<double>(c.taps); }
  std::vector<double> values(double Run::*time) const {
    std::vector<double> out;
    for (const Run& run : t.runs) out.push_back(run.*time);
    return out;
  }
  // The median of a ratio taken run by run.
  double paired(double Run::*numerator, double Run::*denominator) const {
    return median_of(t, [&](const Run& r) { return r.*numerator / r.*denominator; });
  }
  // The median share of `rate` the printed direct time reaches.
  double share(double rate) const {
    return 100.0 * median_of(t, [&](const Run& r) { return macs() / (r.printed_direct * 1e-3) / rate; });
  }
};

std::string text(const char* format, double a, double b = 0.0) {
  char cell[64];
  std::snprintf(cell, sizeof cell, format, a, b);
  return cell;
}

// A column of the main table: its header, and its cell for one case.
struct Column {
  const char* header;
  std::string (*cell)(const Row& row);
};

// Ratios first (each the median of ratios paired run by run), then the
// times: best and median of the runs, or the median of the measurements.
const Column table_columns[] = {
    {"FFT printed / cold", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::cold_fft)); }},
    {"FFT printed / floor", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::floor_fft)); }},
    {"FFT printed / warm", [](const Row& r) { return text("%.2f", r.paired(&Run::printed_fft, &Run::warm_fft)); }},
    {"scipy / FFT printed",
     [](const Row& r) { return r.t.scipy ? text("%.2f", *r.t.scipy / median(r.values(&Run::printed_fft))) : "-"; }},
    {"direct of bound", [](const Row& r) { return text("%.0f%%", r.share(r.bound)); }},
    {"direct of peak", [](const Row& r) { return text("%.0f%%", r.share(r.peak)); }},
    {"direct printed / warm",
     [](const Row& r) { return text("%.2f", r.paired(&Run::printed_direct, &Run::warm_direct)); }},
    {"FFT printed ms, best (median)",
     [](const Row& r) {
       const std::vector<double> fft = r.values(&Run::printed_fft);
       return text("%.3f (%.3f)", minimum(fft), median(fft));
     }},
    {"FFT cold ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::cold_fft))); }},
    {"FFT floor ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::floor_fft))); }},
    {"FFT warm ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::warm_fft))); }},
    {"direct printed ms, best (median)",
     [](const Row& r) {
       const std::vector<double> direct = r.values(&Run::printed_direct);
       return text("%.3f (%.3f)", minimum(direct), median(direct));
     }},
    {"direct warm ms", [](const Row& r) { return text("%.3f", median(r.values(&Run::warm_direct))); }},
    {"scipy oaconvolve ms", [](const Row& r) { return r.t.scipy ? text("%.3f", *r.t.scipy) : "-"; }},
};

void print_table(const std::vector<std::pair<Case, Times>>& results, int runs, double peak, double bound) {
  std::printf("\n%s, %s kernels; fir_bench runs per case: %d; multiply-add peak %.1f G/s, bound %.1f G/s\n\n",
              measure::cpu_model().c_str(), active_kernels().name, runs, peak * 1e-9, bound * 1e-9);
  std::printf("| N x M |");
  for (const Column& column : table_columns) std::printf(" %s |", column.header);
  std::printf("\n|---|");
  for (std::size_t k = 0; k < std::size(table_columns); ++k) std::printf("---:|");
  std::printf("\n");
  for (const auto& [c, t] : results) {
    const Row row{c, t, peak, bound};
    std::printf("| %zu x %zu |", c.samples, c.taps);
    for (const Column& column : table_columns) std::printf(" %s |", column.cell(row).c_str());
    std::printf("\n");
  }
}

// The direct stage against its floor, max(N * M at the bound's rate, stream).
void print_direct_floor(const std::vector<std::pair<Case, Times>>& results, double bound) {
  std::printf("\n| N x M | direct printed ms, best (median) | bound ms | stream ms | direct printed / floor |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const auto& [c, t] : results) {
    const double bound_ms = 1e3 * static_cast<double>(c.samples) * static_cast<double>(c.taps) / bound;
    std::vector<double> direct;
    for (const Run& run : t.runs) direct.push_back(run.printed_direct);
    std::printf("| %zu x %zu | %.3f (%.3f) | %.3f | %.3f | %.2f |\n", c.samples, c.taps, minimum(direct),
                median(direct), bound_ms, median_of(t, [](const Run& r) { return r.stream; }),
                median_of(t, [&](const Run& r) { return r.printed_direct / std::max(bound_ms, r.stream); }));
  }
}

// This build's printed times over the other build's, run by run.
void print_against_other(const std::vector<std::pair<Case, Times>>& results) {
  std::printf("\n| N x M | direct printed / other's | FFT printed / other's | other direct ms, best | "
              "other FFT ms, best |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const auto& [c, t] : results) {
    std::vector<double> direct, fft;
    for (const Run& run : t.runs) direct.push_back(run.other_direct), fft.push_back(run.other_fft);
    std::printf("| %zu x %zu | %.2f | %.2f | %.3f | %.3f |\n", c.samples, c.taps,
                median_of(t, [](const Run& r) { return r.printed_direct / r.other_direct; }),
                median_of(t, [](const Run& r) { return r.printed_fft / r.other_fft; }), minimum(direct),
                minimum(fft));
  }
}

// The direct stage on each instruction set, warm, against the same bound.
void print_direct_by_row(const std::vector<std::pair<Case, Times>>& results, double bound) {
  std::printf("\n| N x M |");
  for (const Kernels& row : kernel_table()) {
    if (row.supported()) std::printf(" direct warm, %s: ms (of bound) |", row.name);
  }
  std::printf("\n|---|");
  for (const Kernels& row : kernel_table()) {
    if (row.supported()) std::printf("---:|");
  }
  std::printf("\n");
  for (const auto& [c, t] : results) {
    const double macs = static_cast<double>(c.samples) * static_cast<double>(c.taps);
    std::printf("| %zu x %zu |", c.samples, c.taps);
    for (const double ms : t.warm_direct_by_row) std::printf(" %.3f (%.0f%%) |", ms, 100.0 * macs / (ms * 1e-3) / bound);
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--cold") return print_cold_run(argv[2]);
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
    } else if (arg == "--program" && a + 1 < argc) {
      programs.timed = {std::filesystem::absolute(argv[++a]).string()};
    } else if (arg == "--other" && a + 1 < argc) {
      programs.other = {std::filesystem::absolute(argv[++a]).string()};
    } else if (arg == "--short") {
      only_short = true;
    } else {
      std::fprintf(stderr, "usage: printed_times [--runs R] [--no-scipy] [--program PATH] [--other PATH] [--short]\n");
      return 2;
    }
  }
  std::vector<Case> cases;
  if (!only_short) cases.assign(std::begin(long_cases), std::end(long_cases));
  for (const Case& c : short_cases) {
    const auto same = [&](const Case& other) { return other.samples == c.samples && other.taps == c.taps; };
    if (std::none_of(cases.begin(), cases.end(), same)) cases.push_back(c);
  }
  const std::filesystem::path scratch = std::filesystem::temp_directory_path() / "fir_bench_printed_times";
  std::vector<std::pair<Case, Times>> results;
  for (const Case& c : cases) {
    std::fprintf(stderr, "printed_times: %s\n", case_name(c).c_str());
    results.emplace_back(c, measure_case(programs, c, scratch / case_name(c), runs, with_scipy));
  }
  std::filesystem::remove_all(scratch);
  const double peak = peak_multiply_add_rate(), bound = bound_multiply_add_rate();
  print_table(results, runs, peak, bound);
  print_direct_floor(results, bound);
  if (!programs.other.empty()) print_against_other(results);
  print_direct_by_row(results, bound);
  return 0;
}
