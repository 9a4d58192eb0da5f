// fir_sweep: which method for my filter; see --help.
#include <fftw3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dsp/dsp_internal.h"
#include "measure/measure.h"
#include "platform/platform.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
#include "signal_io/signal_io_internal.h"
#include "sweep/sweep.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int bad_option(const std::string& problem) {
  std::fprintf(stderr, "fir_sweep: %s\n", problem.c_str());
  return 2;
}

// The one wording of a file that could not be used, after the option that
// names it.
enum class FileUse { read, write };
std::string file_problem(const char* option, const std::string& name, FileUse use, Status status) {
  const std::string file = "'" + name + "'";
  const std::string verb = use == FileUse::read ? "read " : "write ";
  switch (status) {
    case Status::ok:
      return {};
    case Status::file_error:
      return std::string(option) + ": cannot " + verb + file;
    case Status::out_of_memory:
      return std::string(option) + ": not enough memory to " + verb + file;
    case Status::too_long:
      return std::string(option) + ": " + file + " holds more values than a signal can count";
    case Status::fftw_failed:
      break;  // no file step plans a transform
  }
  return std::string(option) + ": cannot use " + file;
}

int unreadable(const std::string& problem) {
  std::fprintf(stderr, "fir_sweep: %s\n", problem.c_str());
  return 1;
}

// A signal file for `option`: false, with a problem naming it, when it
// cannot be read, holds no value, or reading stops early in it (the
// reader's warning then stands on standard error).
bool load_file(const char* option, const std::string& name, Signal& values, std::string& problem) {
  bool stopped_early = false;
  const Status loaded = load_signal(name, values, stopped_early);
  if (loaded != Status::ok) {
    problem = file_problem(option, name, FileUse::read, loaded);
  } else if (stopped_early) {
    problem = std::string(option) + ": '" + name + "' holds something other than numbers (see above)";
  } else if (values.empty()) {
    problem = std::string(option) + ": no values in '" + name + "'";
  } else {
    return true;
  }
  return false;
}

Signal generated_noise(const SweepOptions& options) {
  SignalSettings settings;
  settings.kind = SignalKind::noise;
  settings.length = options.length;
  settings.seed = options.seed;
  return make_signal(settings);
}

File open_output(const std::optional<std::string>& name) {
  return name ? File(std::fopen(name->c_str(), "wb")) : File(nullptr);
}

void write_text(std::FILE* file, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

// Both methods at M taps for the bisection, each M timed once.
struct Probes {
  const Signal& x;
  int repeat;
  std::map<std::size_t, BothTimes> measured;

  Comparison compare(std::size_t taps, TimeKind kind) {
    auto found = measured.find(taps);
    if (found == measured.end()) {
      BothTimes times;
      std::string error;
      if (!time_methods(x, sweep_filter(taps), repeat, times, error)) return {false, false};
      std::fprintf(stderr, "M = %zu (bisection)\n", taps);
      found = measured.emplace(taps, times).first;
    }
    const BothTimes& t = found->second;
    return kind == TimeKind::loop ? compare_times(t.direct.loop, t.fft.loop) : compare_times(t.direct.call, t.fft.call);
  }
};

}  // namespace

int main(int argc, char** argv) {
  SweepOptions options;
  std::string problem;
  if (!parse_sweep_arguments(std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
    return bad_option(problem);
  }
  if (options.help) {
    std::fputs(sweep_help_text().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("fir_sweep %s\n", FIR_BENCH_VERSION);
    return 0;
  }
  console_use_standard_error();  // the reader's messages; the table alone on standard output
  Signal x, fir;
  if (!options.input) {
    x = generated_noise(options);
  } else if (!load_file("--input", *options.input, x, problem)) {
    return unreadable(problem);
  }
  if (options.fir && !load_file("--fir", *options.fir, fir, problem)) return unreadable(problem);
  const File out = open_output(options.out);
  if (options.out && !out) return bad_option(file_problem("--out", *options.out, FileUse::write, Status::file_error));
  const File scale = open_output(options.scale);
  if (options.scale && !scale) {
    return bad_option(file_problem("--scale", *options.scale, FileUse::write, Status::file_error));
  }
  std::FILE* table = out ? out.get() : stdout;

  const Provenance provenance{x.size(),
                              options.seed,
                              options.repeat,
                              options.input ? "'" + *options.input + "'" : "seeded noise",
                              options.fir ? "'" + *options.fir + "'" : "Hamming lowpasses, 1000 Hz of 8000 Hz",
                              dsp_internal::active_kernels().name,
                              measure::cpu_model(),
                              fftw_version,
                              FIR_BENCH_VERSION};
  write_text(table, provenance_lines(provenance) + sweep_header());
  if (scale) write_text(scale.get(), "taps\tscale\n");
  const std::vector<std::size_t> lengths = options.fir ? std::vector<std::size_t>{fir.size()} : options.taps;
  std::vector<SweepRow> rows;
  for (const std::size_t taps : lengths) {
    const Signal h = options.fir ? fir : sweep_filter(taps);
    SweepRow row{};
    if (!measure_filter_length(x, h, options.repeat, options.seed, row, problem)) {
      std::fprintf(stderr, "fir_sweep: M = %zu: %s\n", taps, problem.c_str());
      return 1;
    }
    rows.push_back(row);
    write_text(table, sweep_row_text(row));
    if (scale) write_text(scale.get(), scale_row_text(taps, rounding_scale(x, h)));
    std::fprintf(stderr, "M = %zu: loop direct %.4g ms, fft %.4g ms; call direct %.4g ms, fft %.4g ms (%zu of %zu)\n",
                 taps, row.direct_min_ms, row.fft_min_ms, row.direct_call_min_ms, row.fft_call_min_ms, rows.size(),
                 lengths.size());
  }
  if (options.fir) {
    const SweepRow& row = rows.front();
    std::fprintf(stderr, "N = %zu, M = %zu: %s is faster by the loop, %s by the whole call\n", x.size(), row.taps,
                 row.fft_min_ms < row.direct_min_ms ? "FFT" : "direct",
                 row.fft_call_min_ms < row.direct_call_min_ms ? "FFT" : "direct");
    return 0;
  }
  Probes probes{x, options.repeat, {}};
  const auto loop = find_crossover(rows, TimeKind::loop, [&](std::size_t m) { return probes.compare(m, TimeKind::loop); });
  const auto call = find_crossover(rows, TimeKind::call, [&](std::size_t m) { return probes.compare(m, TimeKind::call); });
  const std::string line = crossover_line(loop, call, x.size());
  write_text(table, line);
  std::fprintf(stderr, "%s", line.c_str() + 2);  // without the comment mark
  return 0;
}
