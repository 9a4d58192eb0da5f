// fir_sweep: which method for my filter; see --help.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "dsp/kernels.h"
#include "dsp/overlap_add.h"
#include "files/files.h"
#include "measure/measure.h"
#include "options/options.h"
#include "platform/platform.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
#include "sweep/sweep.h"

namespace {

// ---- What went wrong, worded once ----------------------------------------------

// A problem with the file an option names: "--out: cannot write 'x'".
std::string file_problem(const std::string& option, const std::string& name, Use use, Status status) {
  return option + ": " + problem_text("'" + name + "'", use, status);
}

int fail(const std::string& problem, int exit_code) {
  std::fprintf(stderr, "fir_sweep: %s\n", problem.c_str());
  return exit_code;
}

// ---- The table and the scale, written line by line -----------------------------

// A text the sweep writes: a file of its own, each write a whole number of
// lines and the file cut back to them when a write fails (as fir_bench's
// result files), or standard output. After a failure nothing more is
// written.
struct TextOut {
  std::string option, name;  // the option that names the file; none for standard output
  int file = -1;             // -1: standard output
  std::uint64_t whole = 0;
  bool failed = false;
};

std::string write_problem(const TextOut& out) {
  if (out.option.empty()) return problem_text("standard output", Use::write, Status::file_error);
  return file_problem(out.option, out.name, Use::write, Status::file_error);
}

void write_text(TextOut& out, const std::string& lines) {
  if (out.failed) return;
  if (out.file == -1) {
    out.failed = std::fwrite(lines.data(), 1, lines.size(), stdout) != lines.size() || std::fflush(stdout) != 0;
    return;
  }
  out.failed = !output_file_write_or_cut(out.file, lines, out.whole);
  if (!out.failed) out.whole += lines.size();
}

bool close_text(TextOut& out) {
  if (out.file != -1 && !output_file_close(out.file)) out.failed = true;
  out.file = -1;
  return !out.failed;
}

// 'name', for a message.
std::string quoted(std::string_view name) {
  std::string text(1, '\'');
  text.append(name);
  return text += '\'';
}

// Why the output named by `outputs[k]` was refused, worded for the user;
// `inputs` names the options of the files it may be.
std::string refusal(std::span<const OutputFile> opened, std::size_t k, std::span<const char* const> inputs,
                    std::span<const char* const> outputs) {
  const OutputFile& out = opened[k];
  const std::string option = outputs[k];
  switch (out.problem) {
    case OutputProblem::none:
      break;
    case OutputProblem::cannot_open:
      return file_problem(option, std::string(out.name), Use::write, Status::file_error) + ": " +
             std::generic_category().message(out.error);
    case OutputProblem::link_to_nothing:
      return option + ": " + quoted(out.name) +
             " is a link to a file that does not exist, which is not created through it";
    case OutputProblem::same_file:
      if (out.same_as < inputs.size()) {
        return option + " names the file " + inputs[out.same_as] + " reads, " + quoted(out.name);
      }
      const std::size_t other = out.same_as - inputs.size();
      const std::size_t first = std::min(k, other), last = std::max(k, other);  // the later one's spelling
      return std::string(outputs[first]) + " and " + outputs[last] + " name one file, " + quoted(opened[last].name);
  }
  return {};
}

// The files the options name, opened and emptied, or none touched: a
// refused command cuts no file short, leaves none it made, and never
// writes to a file it reads. False with the problem.
bool open_sweep_outputs(const SweepOptions& options, TextOut& table, TextOut& scale, std::string& problem) {
  std::vector<const char*> input_options;
  std::vector<FileIdentity> inputs;
  for (const auto& [option, name] : {std::pair{"--input", &options.input}, std::pair{"--fir", &options.fir}}) {
    if (!*name) continue;
    input_options.push_back(option);
    inputs.push_back(file_identity(**name, true));
  }
  std::vector<const char*> output_options;
  std::vector<TextOut*> texts;
  std::vector<OutputFile> outputs;
  for (const auto& [option, name, text] : {std::tuple{"--out", &options.out, &table}, {"--scale", &options.scale, &scale}}) {
    if (!*name) continue;
    output_options.push_back(option);
    texts.push_back(text);
    outputs.push_back({.name = **name});
  }
  open_outputs(outputs, inputs);
  for (std::size_t k = 0; k < outputs.size() && problem.empty(); ++k) {
    problem = refusal(outputs, k, input_options, output_options);
  }
  if (!problem.empty()) {
    for (OutputFile& out : outputs) output_abandon(out);
    return false;
  }
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    output_empty(outputs[k]);
    *texts[k] = TextOut{output_options[k], std::string(outputs[k].name), outputs[k].handle};
  }
  return true;
}

// ---- The signal and the filters ----------------------------------------------------

// A signal file for `option`: false, with a problem naming it, when it
// cannot be read, holds no value, or reading stops early in it (the
// reader's warning then stands on standard error).
bool load_file(const char* option, const std::string& name, Signal& values, std::string& problem) {
  bool stopped_early = false;
  const Status loaded = load_signal(name, values, stopped_early);
  if (loaded != Status::ok) {
    problem = file_problem(option, name, Use::read, loaded);
  } else if (stopped_early) {
    problem = std::string(option) + ": '" + name + "' holds something other than numbers (see above)";
  } else if (values.empty()) {
    problem = std::string(option) + ": no values in '" + name + "'";
  } else {
    return true;
  }
  return false;
}

// Direct convolution against either FFT at M taps for the bisection, each
// M timed once. A probe that cannot run keeps its problem, and the sweep
// ends with it.
struct Probes {
  const Signal& x;
  int repeat;
  struct Measured {
    BothTimes times;
    BestFft best;
  };
  std::map<std::size_t, Measured> measured;
  std::string problem;

  Comparison compare(std::size_t taps, TimeKind kind, FftMethod method) {
    auto found = measured.find(taps);
    if (found == measured.end()) {
      Measured m;
      std::string error;
      if (!problem.empty()) return {false, false};
      const Signal h = standard_lowpass(taps);
      if (!time_methods(x, h, repeat, m.times, error) || !time_best_fft(x, h, repeat, Planner::estimate, m.best, error)) {
        problem = "M = " + std::to_string(taps) + " (bisection): " + error;
        return {false, false};
      }
      std::fprintf(stderr, "M = %zu (bisection)\n", taps);
      found = measured.emplace(taps, std::move(m)).first;
    }
    const BothTimes& t = found->second.times;
    const BestFft& best = found->second.best;
    const bool at_best = method == FftMethod::best;
    return kind == TimeKind::loop ? compare_times(t.direct.loop, at_best ? best.loop : t.fft.loop)
                                  : compare_times(t.direct.call, at_best ? best.call : t.fft.call);
  }
};

// ---- The sweep -----------------------------------------------------------------------

// The whole sweep once the options are read; returns the exit code.
int sweep(const SweepOptions& options) {
  console_use_standard_error();  // the reader's messages; the table alone on standard output
  std::string problem;
  Signal x, fir;
  if (!options.input) {
    x = standard_noise(options.length, options.seed);
  } else if (!load_file("--input", *options.input, x, problem)) {
    return fail(problem, 1);
  }
  if (options.fir && !load_file("--fir", *options.fir, fir, problem)) return fail(problem, 1);
  TextOut table, scale;
  if (!open_sweep_outputs(options, table, scale, problem)) return fail(problem, 2);
  // Each write is checked once the sweep has gone on: the first failure
  // ends it.
  const auto written = [&] { return !table.failed && !scale.failed; };
  const auto write_failure = [&] {
    const std::string broken = write_problem(table.failed ? table : scale) + " completely";
    close_text(table), close_text(scale);
    return fail(broken, 1);
  };

  const Provenance provenance{x.size(),
                              options.seed,
                              options.repeat,
                              options.input ? "'" + *options.input + "'" : "seeded noise",
                              options.fir ? "'" + *options.fir + "'" : "Hamming lowpasses, 1000 Hz of 8000 Hz",
                              active_kernels().name,
                              measure::cpu_model(),
                              fftw_library_version(),
                              FIR_BENCH_VERSION};
  write_text(table, provenance_lines(provenance) + sweep_header(options.measure));
  if (options.scale) write_text(scale, "taps\tscale\n");
  if (!written()) return write_failure();
  const std::vector<std::size_t> lengths = options.fir ? std::vector<std::size_t>{fir.size()} : options.taps;
  std::vector<SweepRow> rows;
  for (const std::size_t taps : lengths) {
    const Signal h = options.fir ? fir : standard_lowpass(taps);
    SweepRow row{};
    if (!measure_filter_length(x, h, options.repeat, options.seed, options.measure, row, problem)) {
      close_text(table), close_text(scale);
      return fail("M = " + std::to_string(taps) + ": " + problem, 1);
    }
    rows.push_back(row);
    if (!std::isfinite(row.rms) || !std::isfinite(row.fft_error) || !std::isfinite(row.direct_error)) {
      std::fprintf(stderr,
                   "M = %zu: the sums overflow (values near the largest double, or above about 1e300 for the exact "
                   "reference): the deviations and errors are not numbers\n",
                   taps);
    }
    write_text(table, sweep_row_text(row, options.measure));
    if (options.scale) write_text(scale, scale_row_text(taps, rounding_scale(x, h)));
    if (!written()) return write_failure();
    std::fprintf(stderr,
                 "M = %zu: loop direct %.4g ms, fft %.4g ms, best fft %.4g ms (K = %zu); call direct %.4g ms, "
                 "fft %.4g ms, best fft %.4g ms (%zu of %zu)\n",
                 taps, row.direct_min_ms, row.fft_min_ms, row.fft_best_min_ms, row.fft_best_length,
                 row.direct_call_min_ms, row.fft_call_min_ms, row.fft_best_call_min_ms, rows.size(), lengths.size());
  }
  if (options.fir) {
    const SweepRow& row = rows.front();
    std::fprintf(stderr, "N = %zu, M = %zu: %s; %s\n", x.size(), row.taps, verdict_text(row, TimeKind::loop).c_str(),
                 verdict_text(row, TimeKind::call).c_str());
  } else {
    Probes probes{x, options.repeat, {}, {}};
    const auto crossover = [&](TimeKind kind, FftMethod method) {
      return find_crossover(rows, kind, method, [&](std::size_t m) { return probes.compare(m, kind, method); });
    };
    const Crossovers found{crossover(TimeKind::loop, FftMethod::rule), crossover(TimeKind::call, FftMethod::rule),
                           crossover(TimeKind::loop, FftMethod::best), crossover(TimeKind::call, FftMethod::best)};
    if (!probes.problem.empty()) {
      close_text(table), close_text(scale);
      return fail(probes.problem, 1);
    }
    write_text(table, crossover_fields(found));
    std::fputs(crossover_prose(found, rows, x.size()).c_str(), stderr);
  }
  if (!close_text(table) || !close_text(scale)) return write_failure();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  SweepOptions options;
  std::string problem;
  if (!parse_sweep_arguments(std::vector<std::string>(argv + 1, argv + argc), options, problem)) {
    return fail(problem, 2);
  }
  if (options.help || options.version) {
    if (options.help) std::fputs(sweep_help_text().c_str(), stdout);
    if (options.version) std::printf("fir_sweep %s\n%s", FIR_BENCH_VERSION, tool_options::licence_notice);
    return std::fflush(stdout) == 0 ? 0 : fail(problem_text("standard output", Use::write, Status::file_error), 1);
  }
  // A file-size limit or a closed pipe then fails a write instead of ending
  // the program.
  const ProcessStart start = process_prepare();
  if (!start.ready) return fail(problem_text("the sweep's signals", Use::hold, Status::out_of_memory), 1);
  // The table is the sweep's product: with nowhere to go, it is not made.
  if (start.output_was_closed && !options.out) {
    return fail(problem_text("standard output", Use::write, Status::file_error) + ": it is closed", 1);
  }
  int exit_code = 0;
  // The one place a failed allocation of the sweep's own (the signal, a
  // filter, the exact reference) is caught; the stages report theirs.
  if (allocating([&] { exit_code = sweep(options); }) != Status::ok) {
    return fail(problem_text("the sweep's signals", Use::hold, Status::out_of_memory), 1);
  }
  return exit_code;
}
