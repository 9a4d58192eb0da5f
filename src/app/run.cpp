#include "app/run.h"

#include <clocale>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "dsp/dsp.h"
#include "messages/messages.h"
#include "platform/platform.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "timing/timing.h"

namespace {

// ---- Output to the console and the log ---------------------------------------

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// "log.txt" holds the progress lines as Windows-1251 bytes with CR LF line
// ends on every system. When it cannot be opened, writes to it are dropped.
struct Log {
  std::unique_ptr<std::FILE, FileCloser> file;
};

Log open_log() { return Log{std::unique_ptr<std::FILE, FileCloser>(std::fopen("log.txt", "wb"))}; }

void log_write(Log& log, std::string_view text) {
  if (log.file) std::fwrite(text.data(), 1, text.size(), log.file.get());
}

void log_end_line(Log& log) {
  if (!log.file) return;
  std::fwrite("\r\n", 1, 2, log.file.get());
  std::fflush(log.file.get());
}

// Progress goes first to the console, then the same text to the log.
void say(Log& log, std::string_view text) {
  console_write(text);
  log_write(log, text);
}

void say_line_end(Log& log) {
  console_end_line();
  log_end_line(log);
}

// ---- The run's steps ------------------------------------------------------------

// Loads one file after its stage label and prints the count with `suffix`.
bool load_reported(Log& log, std::string_view label, const std::string& file_name, Signal& signal,
                   std::string_view suffix) {
  say(log, label);
  say(log, messages::stage_label_end);
  if (load_signal(file_name, signal) == -1) return false;
  say(log, std::to_string(signal.size()));
  say(log, suffix);
  say_line_end(log);
  return true;
}

void say_number(Log& log, double value) { say(log, format_value(value).view()); }

std::string_view failure_text(DspStatus status) {
  switch (status) {
    case DspStatus::too_long:
      return messages::too_long;
    case DspStatus::out_of_memory:
      return messages::fftw_out_of_memory;
    case DspStatus::fftw_failed:
    case DspStatus::ok:
      break;
  }
  return messages::fftw_failed;
}

// Runs one timed stage after its label and prints its time. A stage that
// cannot run prints why on the console, in the style of the file messages
// (a line end first), and the run ends.
template <typename Stage>
bool run_timed(Log& log, std::string_view label, Stage stage) {
  say(log, label);
  say(log, messages::stage_label_end);
  const DspStatus status = stage();
  if (status != DspStatus::ok) {
    console_end_line();
    console_write(failure_text(status));
    console_end_line();
    return false;
  }
  say_number(log, stopwatch.average_ms);
  say(log, messages::milliseconds_suffix);
  say_line_end(log);
  return true;
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
      deviations, [&](std::string_view text) { log_write(log, text); }, [&] { log_end_line(log); });
}

// The run's signals, and what it is allocating memory for at the moment, so
// that running out of memory can be named.
struct RunState {
  Signal input;
  Signal taps;
  Signal direct;
  Signal fft;
  Signal difference;
  std::string_view allocating = messages::no_memory;
  std::string_view allocating_file;  // appended to `allocating` when set
};

void now_allocating(RunState& run, std::string_view message, std::string_view file = {}) {
  run.allocating = message;
  run.allocating_file = file;
}

// Everything after loading: the stages, the comparison and the result files.
// Returns the exit code. A result file that cannot be written has printed
// its own message; the others are still written.
int filter_and_report(Log& log, RunState& run) {
  now_allocating(run, messages::no_memory_direct);
  if (!run_timed(log, messages::direct_stage, [&] { return convolve_direct(run.input, run.taps, run.direct); })) {
    return 1;
  }
  now_allocating(run, messages::no_memory_fft);
  if (!run_timed(log, messages::fft_stage, [&] { return convolve_overlap_add(run.input, run.taps, run.fft); })) {
    return 1;
  }
  now_allocating(run, messages::no_memory_difference);
  const DeviationStats deviations = compare_signals(run.direct, run.fft, run.difference);
  now_allocating(run, messages::no_memory);
  report_deviations(log, deviations);
  save_signal("output_linear.txt", run.direct);
  save_signal("output_fft.txt", run.fft);
  save_signal("output_diff.txt", run.difference);
  return 0;
}

// Loads both files and filters. Returns the exit code.
int load_and_filter(Log& log, RunState& run) {
  now_allocating(run, messages::no_memory_loading, "input.txt");
  if (!load_reported(log, messages::loading_data, "input.txt", run.input, messages::samples_suffix)) return 0;
  now_allocating(run, messages::no_memory_loading, "fir.txt");
  if (!load_reported(log, messages::loading_filter, "fir.txt", run.taps, messages::taps_suffix)) return 0;
  console_end_line();
  return filter_and_report(log, run);
}

// Out of memory: the signals are let go first, so that the message itself
// has memory to be printed with, then the run says what it could not hold.
// The log keeps the lines it had.
int report_out_of_memory(RunState& run) {
  for (Signal* signal : {&run.input, &run.taps, &run.direct, &run.fft, &run.difference}) Signal().swap(*signal);
  console_end_line();
  console_write(run.allocating);
  console_write(run.allocating_file);
  console_end_line();
  return 1;
}

void wait_for_exit() {
  console_end_line();
  console_write(messages::exit_prompt);
  console_end_line();
  console_wait_for_char();
}

}  // namespace

int run_test_bench() {
  std::setlocale(LC_ALL, "Russian");  // as designed; numbers never go through it
  console_prepare();
  Log log = open_log();  // declared first, so it closes after the signals
  RunState run;
  int exit_code = 0;
  try {
    exit_code = load_and_filter(log, run);
  } catch (const std::bad_alloc&) {
    exit_code = report_out_of_memory(run);
  }
  wait_for_exit();
  return exit_code;
}
