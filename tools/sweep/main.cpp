// fir_sweep: where FFT overlap-add overtakes direct convolution; see --help.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
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

// The signal to filter; false, with a problem naming the option, when
// --input cannot be read or holds no value.
bool load_input(const SweepOptions& options, Signal& x, std::string& problem) {
  if (!options.input) {
    SignalSettings settings;
    settings.kind = SignalKind::noise;
    settings.length = options.length;
    settings.seed = options.seed;
    x = make_signal(settings);
    return true;
  }
  if (!File(std::fopen(options.input->c_str(), "rb"))) {
    problem = "--input: cannot read '" + *options.input + "'";
    return false;
  }
  if (load_signal(*options.input, x) != Status::ok || x.empty()) {
    problem = "--input: no values in '" + *options.input + "'";
    return false;
  }
  return true;
}

File open_output(const std::optional<std::string>& name) {
  return name ? File(std::fopen(name->c_str(), "wb")) : File(nullptr);
}

void write_text(std::FILE* file, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), file);
  std::fflush(file);
}

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
  Signal x;
  if (!load_input(options, x, problem)) return bad_option(problem);
  const File out = open_output(options.out);
  if (options.out && !out) return bad_option("--out: cannot write '" + *options.out + "'");
  const File scale = open_output(options.scale);
  if (options.scale && !scale) return bad_option("--scale: cannot write '" + *options.scale + "'");
  std::FILE* table = out ? out.get() : stdout;

  write_text(table, sweep_header());
  if (scale) write_text(scale.get(), "taps\tscale\n");
  std::vector<SweepRow> rows;
  for (const std::size_t taps : options.taps) {
    const Signal h = sweep_filter(taps);
    SweepRow row{};
    if (!measure_filter_length(x, h, options.repeat, options.seed, row, problem)) {
      std::fprintf(stderr, "fir_sweep: M = %zu: %s\n", taps, problem.c_str());
      return 1;
    }
    rows.push_back(row);
    write_text(table, sweep_row_text(row));
    if (scale) write_text(scale.get(), scale_row_text(taps, rounding_scale(x, h)));
    std::fprintf(stderr, "M = %zu: direct %.4g ms, fft %.4g ms (%zu of %zu)\n", taps, row.direct_min_ms,
                 row.fft_min_ms, rows.size(), options.taps.size());
  }
  if (const auto from = fft_crossover(rows)) {
    std::fprintf(stderr, "N = %zu: the FFT stage is faster from M = %zu on\n", x.size(), *from);
  } else {
    std::fprintf(stderr, "N = %zu: the FFT stage does not stay faster in the measured range\n", x.size());
  }
  return 0;
}
