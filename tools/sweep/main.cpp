// fir_sweep: which method for my filter; see --help.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
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

std::string reason(int error) { return std::generic_category().message(error); }

// 'name', for a message.
std::string quoted(std::string_view name) {
  std::string text(1, '\'');
  text.append(name);
  return text += '\'';
}

// ---- The files the options name -------------------------------------------------

// A file the sweep reads (--input, --fir) or writes (--out, --scale): its
// option, its name when given, the file the reader opened, the output.
struct NamedFile {
  const char* option;
  const std::optional<std::string>& name;
  FileIdentity read{};
  OutputFile output{};
};
constexpr std::size_t input_count = 2;  // the first two are read, the others written

// Why the output files[k] was refused, worded for the user.
std::string refusal(std::span<const NamedFile> files, std::size_t k) {
  const OutputFile& out = files[k].output;
  const std::string option = files[k].option;
  switch (out.problem) {
    case OutputProblem::none:
      break;
    case OutputProblem::cannot_open:
    case OutputProblem::cannot_write:
      return file_problem(option, std::string(out.name), Use::write, Status::file_error) + ": " + reason(out.error);
    case OutputProblem::link_to_nothing:
      return option + ": " + quoted(out.name) +
             " is a link to a file that does not exist, which is not created through it";
    case OutputProblem::in_use:
      return option + ": " + quoted(out.name) + " is held by another run";
    case OutputProblem::closed_stream:
      return option + ": " + quoted(out.name) + " is the null device that stands in for the closed standard output";
    case OutputProblem::same_file:
      if (out.same_input) return option + " names the file " + files[*out.same_input].option + " reads, " + quoted(out.name);
      const std::size_t other = input_count + *out.same_output;
      const std::size_t first = std::min(k, other), last = std::max(k, other);  // the later one's spelling
      return std::string(files[first].option) + " and " + files[last].option + " name one file, " +
             quoted(files[last].output.name);
  }
  return {};
}

// The outputs the options name, opened and emptied, or none touched: a
// refused command cuts no file short, leaves none it made, and never
// writes to a file it reads. 0, or the exit code with the problem: 1 for
// the closed standard output, as when no --out is given, else 2.
int open_sweep_outputs(std::span<NamedFile> files, const FileIdentity& stand_in, std::string& problem) {
  std::vector<FileIdentity> inputs;
  std::vector<OutputFile*> outputs;
  for (std::size_t k = 0; k < files.size(); ++k) {
    if (k < input_count) inputs.push_back(files[k].read);
    if (k < input_count || !files[k].name) continue;
    files[k].output.name = *files[k].name;
    outputs.push_back(&files[k].output);
  }
  open_outputs(outputs, inputs, {&stand_in, stand_in.kind != FileKind::none ? 1u : 0u});
  for (std::size_t k = input_count; k < files.size() && problem.empty(); ++k) problem = refusal(files, k);
  for (std::size_t k = input_count; k < files.size() && problem.empty(); ++k) {
    if (files[k].name && !output_empty(files[k].output)) problem = refusal(files, k);
  }
  if (problem.empty()) return 0;
  int exit_code = 2;
  for (OutputFile* out : outputs) {
    if (out->problem == OutputProblem::closed_stream) exit_code = 1;
    output_abandon(*out);
  }
  return exit_code;
}

// ---- The signal and the filters ----------------------------------------------------

// A signal file for `option`: false, with a problem naming it, when it
// cannot be read, holds no value, or reading stops early in it (the
// reader's warning then stands on standard error). `file` gets the file
// that was read.
bool load_file(const char* option, const std::string& name, Signal& values, FileIdentity& file, std::string& problem) {
  LoadReport report;
  const Status loaded = load_signal(name, values, report);
  file = report.file;
  if (loaded == Status::ok) print_load_warnings(name, report, Holds::values);
  if (loaded != Status::ok) {
    problem = file_problem(option, name, Use::read, loaded);
  } else if (report.stopped_early) {
    problem = std::string(option) + ": '" + name + "' holds something other than numbers (see above)";
  } else if (values.empty()) {
    problem = std::string(option) + ": no values in '" + name + "'";
  } else {
    return true;
  }
  return false;
}

// ---- The sweep -----------------------------------------------------------------------

// The whole sweep once the options are read; returns the exit code.
int sweep(const SweepOptions& options, const FileIdentity& stand_in) {
  console_use_standard_error();  // the reader's messages; the table alone on standard output
  std::string problem;
  Signal x, fir;
  NamedFile files[] = {{"--input", options.input}, {"--fir", options.fir}, {"--out", options.out}, {"--scale", options.scale}};
  NamedFile &table = files[2], &scale = files[3];
  if (!options.input) {
    x = standard_noise(options.length, options.seed);
  } else if (!load_file("--input", *options.input, x, files[0].read, problem)) {
    return fail(problem, 1);
  }
  if (options.fir && !load_file("--fir", *options.fir, fir, files[1].read, problem)) return fail(problem, 1);
  if (const int refused = open_sweep_outputs(files, stand_in, problem)) return fail(problem, refused);
  // Each write is checked; the first failure ends the sweep. Without --out
  // the table goes to standard output.
  bool standard_output_failed = false;
  const auto write_table = [&](const std::string& text) {
    if (table.name) return output_write(table.output, text);
    standard_output_failed = standard_output_failed || std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
                             std::fflush(stdout) != 0;
    return !standard_output_failed;
  };
  const auto write_scale = [&](const std::string& text) { return !scale.name || output_write(scale.output, text); };
  const auto close_outputs = [&] {
    bool closed = true;
    for (NamedFile* out : {&table, &scale}) closed = (!out->name || output_close(out->output)) && closed;
    return closed;
  };
  const auto write_failure = [&] {
    close_outputs();
    if (standard_output_failed) return fail(problem_text("standard output", Use::write, Status::file_error) + " completely", 1);
    const NamedFile& broken = table.output.problem != OutputProblem::none ? table : scale;
    return fail(file_problem(broken.option, *broken.name, Use::write, Status::file_error) + " completely: " +
                    reason(broken.output.error) + (broken.output.cut_back ? "" : "; its last line is cut short"),
                1);
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
  if (!write_table(provenance_lines(provenance) + sweep_header(options.measure)) || !write_scale("taps\tscale\n")) {
    return write_failure();
  }
  const std::vector<std::size_t> lengths = options.fir ? std::vector<std::size_t>{fir.size()} : options.taps;
  std::vector<SweepRow> rows;
  for (const std::size_t taps : lengths) {
    const Signal h = options.fir ? fir : standard_lowpass(taps);
    SweepRow row{};
    if (!measure_filter_length(x, h, options.repeat, options.seed, options.measure, row, problem)) {
      close_outputs();
      return fail("M = " + std::to_string(taps) + ": " + problem, 1);
    }
    rows.push_back(row);
    if (!std::isfinite(row.rms) || !std::isfinite(row.fft_error) || !std::isfinite(row.direct_error)) {
      std::fprintf(stderr,
                   "M = %zu: the sums overflow (values near the largest double, or above about 1e300 for the exact "
                   "reference): the deviations and errors are not numbers\n",
                   taps);
    }
    if (!write_table(sweep_row_text(row, options.measure)) || !write_scale(scale_row_text(taps, rounding_scale(x, h)))) {
      return write_failure();
    }
    std::fprintf(stderr,
                 "M = %zu: loop direct %.4g ms, fft %.4g ms, best fft %.4g ms (K = %zu); call direct %.4g ms, "
                 "fft %.4g ms, best fft %.4g ms (%zu of %zu)\n",
                 taps, row.direct_min_ms, row.fft_min_ms, row.fft_best_min_ms, row.fft_best_length,
                 row.direct_call_min_ms, row.fft_call_min_ms, row.fft_best_call_min_ms, rows.size(), lengths.size());
  }
  if (options.repeat < 3) {
    std::fprintf(stderr,
                 "fir_sweep: --repeat %d: the times of so few runs are noise on most machines, and so is the verdict "
                 "below; take 3 or more\n",
                 options.repeat);
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
      close_outputs();
      return fail(probes.problem, 1);
    }
    if (!write_table(crossover_fields(found))) return write_failure();
    std::fputs(crossover_prose(found, rows, x.size()).c_str(), stderr);
  }
  if (!close_outputs()) return write_failure();
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
  const FileIdentity stand_in = standard_output_stand_in(start);
  if (allocating([&] { exit_code = sweep(options, stand_in); }) != Status::ok) {
    return fail(problem_text("the sweep's signals", Use::hold, Status::out_of_memory), 1);
  }
  return exit_code;
}
