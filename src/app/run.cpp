#include "app/run.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/app_internal.h"
#include "dsp/dsp.h"
#include "files/files.h"
#include "messages/messages.h"
#include "platform/platform.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "timing/timing.h"

namespace {

using namespace app_detail;
using messages::failure_message;
using messages::Step;

// A step that could not run says why, and the run ends with exit code 1.
// The log, when it is open, ends with the same line, so that it says why
// the run stopped.
int stop_run(Log& log, std::string_view message, std::string_view file_name = {}) {
  say_failure(log, message, file_name);
  return 1;
}

// ---- The run's steps ------------------------------------------------------------

// Loads one file after its stage label, prints the count with `suffix`,
// then what reading it found (warnings on the console only); `file` gets
// the file that was read. Returns load_signal's result.
Status load_reported(Log& log, std::string_view label, std::string_view file_name, Signal& signal,
                     std::string_view suffix, Holds holds, FileIdentity& file) {
  say(log, label);
  say(log, messages::stage_label_end);
  LoadReport report;
  const Status loaded = load_signal(file_name, signal, report);
  file = report.file;
  if (loaded != Status::ok) return loaded;
  say_count(log, signal.size());
  say(log, suffix);
  say_line_end(log);
  print_load_warnings(file_name, report, holds);
  return Status::ok;
}

// Runs one timed stage after its label and prints its time. Returns the
// stage's status; when it is not ok, nothing follows the label yet.
template <typename Stage>
Status run_timed(Log& log, std::string_view label, Stage stage) {
  say(log, label);
  say(log, messages::stage_label_end);
  const Status status = stage();
  if (status != Status::ok) return status;
  say_number(log, stopwatch.average_ms);
  say(log, messages::milliseconds_suffix);
  say_line_end(log);
  return Status::ok;
}

// The four lines of the deviations block through one output's `write` and
// `end_line`: the block goes whole to the console, then whole to the log.
template <typename Write, typename EndLine>
void write_deviations(const DeviationStats& deviations, Write write, EndLine end_line) {
  end_line();
  write(messages::deviations_title);
  end_line();
  write(messages::rms_label);
  write(format_value(deviations.rms).view());
  end_line();
  write(messages::max_abs_label);
  write(format_value(deviations.max_abs).view());
  end_line();
}

void report_deviations(Log& log, const DeviationStats& deviations) {
  write_deviations(deviations, console_write, console_end_line);
  write_deviations(
      deviations, [&](std::string_view text) { log.write(text); }, [&] { log.end_line(); });
}

// The run's signals, released after the final wait.
struct RunState {
  Signal input;
  Signal taps;
  Signal direct;
  Signal fft;
  Signal difference;
};

// The result files, in the order they are written.
constexpr std::string_view result_names[] = {"output_linear.txt", "output_fft.txt", "output_diff.txt"};

// The files the run read and its log, which no result file may be, and the
// stand-in for a closed standard output, which would lose a file's values
// without a word.
struct KnownFiles {
  FileIdentity input{}, taps{}, log{}, stand_in{};
  std::span<const FileIdentity> closed_streams() const { return {&stand_in, stand_in.kind != FileKind::none ? 1u : 0u}; }
};

// Writes the three result files. All three are opened before any is
// emptied; one that cannot be opened, that another run holds, or that is
// one file with an input, the log or another result, is refused. A file
// that is refused or cannot be written completely (it keeps only whole
// lines) is named on the console and in the log, and the others are still
// written. Returns the exit code: 0, or 2 when a file failed.
int save_results(Log& log, const RunState& run, const KnownFiles& known) {
  const Signal* const signals[] = {&run.direct, &run.fft, &run.difference};
  OutputFile results[std::size(result_names)];
  OutputFile* outputs[std::size(result_names)];
  for (std::size_t k = 0; k < std::size(results); ++k) {
    results[k].name = result_names[k];
    outputs[k] = &results[k];
  }
  const FileIdentity inputs[] = {known.input, known.taps, known.log};
  open_outputs(outputs, inputs, known.closed_streams());
  int exit_code = 0;
  for (std::size_t k = 0; k < std::size(results); ++k) {
    OutputFile& result = results[k];
    if (result.problem == OutputProblem::in_use) {
      say_failure(log, messages::result_in_use, result.name);
      exit_code = 2;
    } else if (result.problem != OutputProblem::none || save_signal(result, *signals[k]) != Status::ok) {
      say_failure(log, failure_message(Status::file_error, Step::save), result.name);
      exit_code = 2;
    }
  }
  return exit_code;
}

// Everything after loading: the stages, the comparison and the result files.
// Returns the exit code.
int filter_and_report(Log& log, RunState& run, const KnownFiles& known) {
  Status status =
      run_timed(log, messages::direct_stage, [&] { return convolve_direct(run.input, run.taps, run.direct); });
  if (status != Status::ok) return stop_run(log, failure_message(status, Step::direct));
  status = run_timed(log, messages::fft_stage, [&] { return convolve_overlap_add(run.input, run.taps, run.fft); });
  if (status != Status::ok) return stop_run(log, failure_message(status, Step::fft));
  DeviationStats deviations{};
  status = compare_signals(run.direct, run.fft, run.difference, deviations);
  if (status != Status::ok) return stop_run(log, failure_message(status, Step::compare));
  report_deviations(log, deviations);
  return save_results(log, run, known);
}

// Loads both files and filters. Returns the exit code: 0 also when a file
// cannot be read or holds too many values (the reader's message printed), 1
// when memory runs out reading it.
int load_and_filter(Log& log, RunState& run, KnownFiles known) {
  const struct {
    std::string_view label;
    std::string_view file_name;
    Signal& signal;
    std::string_view suffix;
    Holds holds;
    FileIdentity& file;
  } inputs[] = {{messages::loading_data, "input.txt", run.input, messages::samples_suffix, Holds::samples, known.input},
                {messages::loading_filter, "fir.txt", run.taps, messages::taps_suffix, Holds::taps, known.taps}};
  for (const auto& input : inputs) {
    const Status loaded =
        load_reported(log, input.label, input.file_name, input.signal, input.suffix, input.holds, input.file);
    if (loaded == Status::out_of_memory) return stop_run(log, failure_message(loaded, Step::load), input.file_name);
    if (loaded != Status::ok) return 0;  // the reader has said why
  }
  console_end_line();
  return filter_and_report(log, run, known);
}

// The log could not be written completely: it keeps its whole lines, and
// the console names it as it names a result file. Returns the exit code.
int log_not_written(int exit_code) {
  tell_failure(failure_message(Status::file_error, Step::save), "log.txt");
  return exit_code == 0 ? 2 : exit_code;
}

void wait_for_exit() {
  console_end_line();
  console_write(messages::exit_prompt);
  console_end_line();
  console_wait_for_char();
}

// Opens "log.txt" and empties it, unless another run holds it (then
// `in_use`). A log that cannot be opened or emptied, or is one file with an
// input or a result file, is not written: the run goes on without it, and
// that result file is refused in its turn.
void open_log(OutputFile& log, bool& in_use, const KnownFiles& known) {
  const std::string_view others[] = {"input.txt", "fir.txt", result_names[0], result_names[1], result_names[2]};
  FileIdentity inputs[std::size(others)];
  for (std::size_t k = 0; k < std::size(others); ++k) inputs[k] = file_reached(others[k]);
  OutputFile* const outputs[] = {&log};
  open_outputs(outputs, inputs, known.closed_streams());
  in_use = log.problem == OutputProblem::in_use;
  if (log.problem == OutputProblem::none && !output_empty(log)) output_abandon(log);
}

}  // namespace

int run_test_bench() {
  const ProcessStart start = process_prepare();  // before anything is opened
  std::setlocale(LC_ALL, "Russian");  // the run's numbers never go through it
  console_prepare();
  int exit_code = 0;
  if (start.ready) {
    KnownFiles known{.stand_in = standard_output_stand_in(start)};
    // The lock keeps a second run in this folder from mixing its log and
    // results with this one's.
    Log log{.file = {.name = "log.txt"}};  // declared first, so it closes after the signals
    bool in_use = false;
    open_log(log.file, in_use, known);
    known.log = log.file.identity;
    bool log_failed = false;
    {
      RunState run;
      if (in_use) tell_failure(messages::log_in_use);
      exit_code = in_use ? 1 : load_and_filter(log, run, known);
      log_failed = log.file.problem == OutputProblem::cannot_write;
      if (log_failed) exit_code = log_not_written(exit_code);
      wait_for_exit();
    }
    if (!log.close() && !log_failed) exit_code = log_not_written(exit_code);
  } else {
    tell_failure(failure_message(Status::out_of_memory, Step::start));
    exit_code = 1;
    wait_for_exit();
  }
  return exit_code;
}
