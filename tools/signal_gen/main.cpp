// fir_gen: writes a test signal and FIR taps for fir_bench; see --help.
#include <cstdio>
#include <string>
#include <vector>

#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"

namespace {

// The one wording of a file that could not be written; returns the exit
// code.
int cannot_write(const char* name, Status status) {
  switch (status) {
    case Status::ok:
      return 0;
    case Status::file_error:
      std::fprintf(stderr, "fir_gen: cannot write %s completely\n", name);
      return 1;
    case Status::out_of_memory:
      std::fprintf(stderr, "fir_gen: not enough memory for %s\n", name);
      return 1;
    case Status::too_long:
      std::fprintf(stderr, "fir_gen: %s: more values than a signal can count\n", name);
      return 1;
    case Status::fftw_failed:
      break;  // nothing here plans a transform
  }
  std::fprintf(stderr, "fir_gen: cannot write %s\n", name);
  return 1;
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
    return 0;
  }
  if (options.version) {
    std::printf("fir_gen %s\n", FIR_BENCH_VERSION);
    return 0;
  }
  if (options.write_signal) {
    const Signal x = make_signal(options.signal);
    if (const Status saved = save_signal("input.txt", x); saved != Status::ok) return cannot_write("input.txt", saved);
    std::printf("wrote input.txt (%zu samples)\n", x.size());
  }
  if (options.write_filter) {
    const Signal h = make_filter(options.filter, options.signal.sample_rate);
    if (const Status saved = save_signal("fir.txt", h); saved != Status::ok) return cannot_write("fir.txt", saved);
    std::printf("wrote fir.txt (%zu taps)\n", h.size());
  }
  return 0;
}
