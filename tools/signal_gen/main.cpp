// fir_gen: writes a test signal and FIR taps for fir_bench; see --help.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "files/files.h"
#include "options/options.h"
#include "platform/platform.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"

namespace {

// One file fir_gen writes.
struct Output {
  const char* name;
  bool is_signal;  // input.txt, else fir.txt
  Signal values;
};

// The one wording of what went wrong with `what` (a file, or nothing for
// the program as a whole); returns the exit code.
int failed(Status status, const std::string& what) {
  switch (status) {
    case Status::ok:
      return 0;
    case Status::file_error:
      std::fprintf(stderr, "fir_gen: cannot write %s completely\n", what.c_str());
      return 1;
    case Status::out_of_memory:
      std::fprintf(stderr, "fir_gen: not enough memory%s%s\n", what.empty() ? "" : " for ", what.c_str());
      return 1;
    case Status::too_long:
      std::fprintf(stderr, "fir_gen: %s: more values than a signal can count\n", what.c_str());
      return 2;
    case Status::fftw_failed:
      break;  // nothing here plans a transform
  }
  std::fprintf(stderr, "fir_gen: cannot make %s\n", what.c_str());
  return 1;
}

int refused(const std::string& problem) {
  std::fprintf(stderr, "fir_gen: %s; nothing was written\n", problem.c_str());
  return 2;
}

// The values of every output, or why they cannot be had: memory, an
// exception of the maths library, or a value that is not finite (which
// the argument checks should already have refused).
int make_outputs(const GenOptions& options, std::vector<Output>& outputs) {
  if (options.signal_chosen) outputs.push_back({"input.txt", true, {}});
  if (options.filter_chosen) outputs.push_back({"fir.txt", false, {}});
  for (Output& out : outputs) {
    std::string maths_error;
    const Status made = allocating([&] {
      try {
        out.values = out.is_signal ? make_signal(options.signal)
                                   : make_filter(options.filter, options.signal.sample_rate);
      } catch (const std::bad_alloc&) {
        throw;
      } catch (const std::exception& error) {
        maths_error = error.what();
      }
    });
    if (made != Status::ok) return failed(made, out.name);
    if (!maths_error.empty()) return refused(std::string(out.name) + ": cannot be computed (" + maths_error + ")");
    if (!std::all_of(out.values.begin(), out.values.end(), [](double v) { return std::isfinite(v); })) {
      return refused(std::string(out.name) + ": these options give values that are not finite numbers");
    }
  }
  return 0;
}

// Writes every output as a new file, then puts them all in place together
// and reports them, or leaves the folder as it was (files.h says how);
// returns the exit code. What another run left is named, never removed.
int write_outputs(const std::vector<Output>& outputs) {
  std::vector<std::string_view> targets;
  for (const Output& out : outputs) targets.push_back(out.name);
  for (const std::string& left : replacement_leftovers(targets)) {
    std::fprintf(stderr, "fir_gen: left by another run (interrupted, or still running): %s\n", left.c_str());
  }
  const ReplaceSteps steps{
      .write = [&](std::size_t k, OutputFile& file) { return write_signal(file, outputs[k].values) == Status::ok; },
      .report = [&]() -> std::string {
        for (const Output& out : outputs) {
          std::printf("wrote %s (%zu %s)\n", out.name, out.values.size(), out.is_signal ? "samples" : "taps");
        }
        return std::fflush(stdout) == 0 ? "" : "cannot write standard output completely";
      }};
  const ReplaceOutcome outcome = replace_files(targets, steps);
  if (!outcome.replaced) {
    std::fprintf(stderr, "fir_gen: %s%s\n", outcome.problem.c_str(), outcome.restored ? "; nothing was replaced" : "");
  }
  for (const std::string& left : outcome.left) std::fprintf(stderr, "fir_gen: left behind: %s\n", left.c_str());
  return outcome.replaced ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  GenOptions options;
  std::string error;
  if (!parse_gen_arguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "fir_gen: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(gen_help_text().c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : failed(Status::file_error, "standard output");
  }
  if (options.version) {
    std::printf("fir_gen %s\n%s", FIR_BENCH_VERSION, tool_options::licence_notice);
    return std::fflush(stdout) == 0 ? 0 : failed(Status::file_error, "standard output");
  }
  // A file-size limit then fails a write instead of ending the program.
  if (!process_prepare().ready) return failed(Status::out_of_memory, "");
  std::vector<Output> outputs;
  if (const int code = make_outputs(options, outputs); code != 0) return code;
  int exit_code = 1;
  // Names and messages are the only allocations left.
  if (allocating([&] { exit_code = write_outputs(outputs); }) != Status::ok) return failed(Status::out_of_memory, "");
  return exit_code;
}
