#include "app/run.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dsp/dsp.h"
#include "files/files.h"
#include "messages/messages.h"
#include "platform/platform.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "timing/timing.h"

namespace {

using messages::failure_message;
using messages::Step;

// ---- Output to the console and the log ---------------------------------------

// "log.txt" holds the progress lines as Windows-1251 bytes with CR LF line
// ends on every system, kept in a buffer of its own and handed to the system
// at each line end, a whole line in one write. When it cannot be opened,
// writes to it are dropped. A write that fails (a full disk, a file-size
// limit) cuts the log back to its last whole line, as the result files, and
// nothing more is written to it.
struct Log {
  int file = -1;
  std::array<char, 512> pending{};
  std::size_t size = 0;
  std::uint64_t written = 0;      // bytes the system took
  std::uint64_t whole_lines = 0;  // of them, those of complete lines
  bool failed = false;

  explicit Log(int handle) : file(handle) {}
  ~Log() {  // closed last: whatever the last line left unfinished goes out too
    flush();
    if (file != -1) output_file_close(file);
  }
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  void flush() {
    if (file != -1 && !failed && size > 0) {
      failed = !output_file_write_or_cut(file, {pending.data(), size}, whole_lines);
      if (!failed) written += size;
    }
    size = 0;
  }
  void write(std::string_view text) {
    while (!text.empty()) {
      if (size == pending.size()) flush();
      const std::size_t part = std::min(text.size(), pending.size() - size);
      text.copy(pending.data() + size, part);
      size += part;
      text.remove_prefix(part);
    }
  }
  void end_line() {
    write("\r\n");
    flush();
    if (!failed) whole_lines = written;
  }
};

// Progress goes first to the console, then the same text to the log.
void say(Log& log, std::string_view text) {
  console_write(text);
  log.write(text);
}

void say_line_end(Log& log) {
  console_end_line();
  log.end_line();
}

void say_count(Log& log, std::size_t count) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, count);
  say(log, {digits, static_cast<std::size_t>(end - digits)});
}

void say_number(Log& log, double value) { say(log, format_value(value).view()); }

// A step that could not run says why, in the style of the file messages (a
// line end first), and the run ends with exit code 1. The log, when it is
// open, ends with the same line, so that it says why the run stopped.
int stop_run(Log& log, std::string_view message, std::string_view file_name = {}) {
  say_line_end(log);
  say(log, message);
  say(log, file_name);
  say_line_end(log);
  return 1;
}

// The same before the log is open: on the console only.
int stop_start(std::string_view message) {
  console_end_line();
  console_write(message);
  console_end_line();
  return 1;
}

// ---- The run's steps ------------------------------------------------------------

// Loads one file after its stage label and prints the count with `suffix`.
// Returns load_signal's result.
Status load_reported(Log& log, std::string_view label, std::string_view file_name, Signal& signal,
                     std::string_view suffix) {
  say(log, label);
  say(log, messages::stage_label_end);
  const Status loaded = load_signal(file_name, signal);
  if (loaded != Status::ok) return loaded;
  say_count(log, signal.size());
  say(log, suffix);
  say_line_end(log);
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

// The identities of the files the run reads, and of its log: no result
// file may be one of them.
struct ReadFiles {
  FileIdentity input, taps, log;
};

// Writes the three result files. All three are opened before any is
// emptied; one that cannot be opened, or is one file with an input, the
// log or another result, is refused. A file that is refused or cannot be
// written completely (it keeps only whole lines) is named on the console
// and in the log, and the others are still written. Returns the exit code:
// 0, or 2 when a file failed.
int save_results(Log& log, const RunState& run, const ReadFiles& read) {
  const Signal* const signals[] = {&run.direct, &run.fft, &run.difference};
  OutputFile results[std::size(result_names)];
  for (std::size_t k = 0; k < std::size(results); ++k) results[k].name = result_names[k];
  const FileIdentity inputs[] = {read.input, read.taps, read.log};
  open_outputs(results, inputs);
  int exit_code = 0;
  for (std::size_t k = 0; k < std::size(results); ++k) {
    const OutputFile& result = results[k];
    const Status saved = result.problem == OutputProblem::none ? save_signal(result, *signals[k]) : Status::file_error;
    if (saved == Status::ok) continue;
    say_line_end(log);
    say(log, failure_message(saved, Step::save));
    say(log, result.name);
    say_line_end(log);
    exit_code = 2;
  }
  return exit_code;
}

// Everything after loading: the stages, the comparison and the result files.
// Returns the exit code.
int filter_and_report(Log& log, RunState& run, const FileIdentity& log_file) {
  Status status =
      run_timed(log, messages::direct_stage, [&] { return convolve_direct(run.input, run.taps, run.direct); });
  if (status != Status::ok) return stop_run(log, failure_message(status, Step::direct));
  status = run_timed(log, messages::fft_stage, [&] { return convolve_overlap_add(run.input, run.taps, run.fft); });
  if (status != Status::ok) return stop_run(log, failure_message(status, Step::fft));
  DeviationStats deviations{};
  status = compare_signals(run.direct, run.fft, run.difference, deviations);
  if (status != Status::ok) return stop_run(log, failure_message(status, Step::compare));
  report_deviations(log, deviations);
  return save_results(log, run, {file_identity("input.txt", true), file_identity("fir.txt", true), log_file});
}

// Loads both files and filters. Returns the exit code: 0 also when a file
// cannot be read or holds too many values (the reader's message printed), 1
// when memory runs out reading it.
int load_and_filter(Log& log, RunState& run, const FileIdentity& log_file) {
  const struct {
    std::string_view label;
    std::string_view file_name;
    Signal& signal;
    std::string_view suffix;
  } inputs[] = {{messages::loading_data, "input.txt", run.input, messages::samples_suffix},
                {messages::loading_filter, "fir.txt", run.taps, messages::taps_suffix}};
  for (const auto& input : inputs) {
    const Status loaded = load_reported(log, input.label, input.file_name, input.signal, input.suffix);
    if (loaded == Status::out_of_memory) return stop_run(log, failure_message(loaded, Step::load), input.file_name);
    if (loaded != Status::ok) return 0;  // the reader has said why
  }
  console_end_line();
  return filter_and_report(log, run, log_file);
}

void wait_for_exit() {
  console_end_line();
  console_write(messages::exit_prompt);
  console_end_line();
  console_wait_for_char();
}

// Opens "log.txt" and empties it, unless another run holds its lock (then
// -1 with `in_use`). A log that cannot be opened, or is one file with an
// input or a result file, is not written: the run goes on without it, and
// that result file is refused in its turn.
int open_log(OutputFile& log, bool& in_use) {
  const FileIdentity inputs[] = {file_identity("input.txt", true), file_identity("fir.txt", true),
                                 file_identity(result_names[0], true), file_identity(result_names[1], true),
                                 file_identity(result_names[2], true)};
  open_outputs({&log, 1}, inputs);
  if (log.problem != OutputProblem::none) return -1;
  in_use = !output_file_lock(log.handle);
  if (in_use) {
    output_abandon(log);
    return -1;
  }
  output_empty(log);
  return log.handle;
}

}  // namespace

int run_test_bench() {
  const ProcessStart start = process_prepare();  // before anything is opened
  std::setlocale(LC_ALL, "Russian");  // the run's numbers never go through it
  console_prepare();
  int exit_code = 0;
  if (start.ready) {
    // The lock keeps a second run in this folder from mixing its log and
    // results with this one's.
    OutputFile log_file{.name = "log.txt"};
    bool in_use = false;
    Log log(open_log(log_file, in_use));  // declared first, so it closes after the signals
    RunState run;
    exit_code = in_use ? stop_start(messages::log_in_use) : load_and_filter(log, run, log_file.identity);
    wait_for_exit();
  } else {
    exit_code = stop_start(failure_message(Status::out_of_memory, Step::start));
    wait_for_exit();
  }
  return exit_code;
}
