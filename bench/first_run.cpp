// The direct stage's first run in a fresh process, and what takes away
// what it pays over the second: each preparation runs in fresh processes of
// this program (interleaved, R each), which load the case's files, prepare
// as named, then time the stage twice on the same x and h. Prints the
// median of each time, in us, per case and preparation.
//
//   first_run [--runs R] N M [N M ...]
//
// Preparations, all before the first run and outside its stopwatch:
//   none          nothing;
//   vector units  the widest vectors' multiplies and adds for about 200 us,
//                 registers only;
//   signal read   x copied once with the stage's own vector loads;
//   code read     the first 64 KiB of the direct kernel's machine code read
//                 once as data;
//   small run     the stage once on the first 40 samples;
//   small, idle   the same, then 0.1 s of scalar work.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_support.h"
#include "dsp/ceilings.h"
#include "dsp/dsp.h"
#include "dsp/kernels.h"
#include "measure/measure.h"
#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
#include "support/process.h"
#include "timing/timing.h"

namespace {

constexpr const char* preparations[] = {"none", "vector units", "signal read", "code read", "small run", "small, idle"};

double spin_scalar(double seconds) {
  volatile double a = 1.0;
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < seconds) a = a * 1.0;
  return a;
}

void prepare(const std::string& preparation, const Signal& x, const Signal& h) {
  volatile double kept = 0.0;
  if (preparation == "vector units") {
    kept = multiply_add_ceilings().front().peak(10'000);  // about 200 us at 50 G multiply-adds per second
  } else if (preparation == "signal read") {
    Signal copy(x.size());
    active_kernels().load_block(copy.data(), x.data(), x.size(), copy.size());
    kept = copy.back();
  } else if (preparation == "code read") {
    const auto* code = reinterpret_cast<const volatile unsigned char*>(active_kernels().accumulate);
    for (int offset = 0; offset < 64 * 1024; offset += 64) kept = kept + code[offset];
  } else if (preparation == "small run" || preparation == "small, idle") {
    Signal small(x.begin(), x.begin() + std::min<std::size_t>(40, x.size())), y;
    convolve_direct(small, h, y);
    if (preparation == "small, idle") kept = spin_scalar(0.1);
  }
}

// The fresh process: both times, in us.
int run_fresh(const std::string& dir, const std::string& preparation) {
  Signal x, h, y;
  if (load_signal(dir + "/input.txt", x) != Status::ok || load_signal(dir + "/fir.txt", h) != Status::ok) return 1;
  prepare(preparation, x, h);
  convolve_direct(x, h, y);
  const double first = stopwatch.average_ms;
  convolve_direct(x, h, y);
  std::printf("%.3f %.3f\n", 1e3 * first, 1e3 * stopwatch.average_ms);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--fresh") return run_fresh(argv[2], argv[3]);
  int runs = 21;
  std::vector<std::pair<std::size_t, std::size_t>> cases;
  for (int a = 1; a < argc; ++a) {
    if (std::string(argv[a]) == "--runs" && a + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++a]));
    } else if (a + 1 < argc) {
      cases.emplace_back(std::strtoull(argv[a], nullptr, 10), std::strtoull(argv[a + 1], nullptr, 10));
      ++a;
    }
  }
  if (cases.empty()) {
    std::fprintf(stderr, "usage: first_run [--runs R] N M [N M ...]\n");
    return 2;
  }
  std::printf("%s, %s kernels, %d fresh processes per preparation; median us, first run (second run)\n\n",
              measure::cpu_model().c_str(), active_kernels().name, runs);
  std::printf("| N x M |");
  for (const char* preparation : preparations) std::printf(" %s |", preparation);
  std::printf("\n|---|");
  for (std::size_t k = 0; k < std::size(preparations); ++k) std::printf("---:|");
  std::printf("\n");
  ScratchFolder scratch;
  const std::string self = std::filesystem::absolute(argv[0]).string();
  for (const auto& [samples, taps] : cases) {
    const std::string name = std::to_string(samples) + "x" + std::to_string(taps);
    const std::string dir = scratch.folder(name);
    if (save_signal(scratch.file(name + "/input.txt"), standard_noise(samples, 20261207)) != Status::ok ||
        save_signal(scratch.file(name + "/fir.txt"), standard_lowpass(taps)) != Status::ok) {
      std::fprintf(stderr, "first_run: cannot write the case's files in %s\n", dir.c_str());
      return 1;
    }
    std::vector<std::vector<double>> first(std::size(preparations)), second(std::size(preparations));
    for (int r = 0; r < runs; ++r) {
      for (std::size_t p = 0; p < std::size(preparations); ++p) {
        const auto run = test_support::run_command({self, "--fresh", dir, preparations[p]}, dir, {});
        double a = 0.0, b = 0.0;
        if (run.exit_code != 0 || std::sscanf(run.console.c_str(), "%lf %lf", &a, &b) != 2) {
          std::fprintf(stderr, "first_run: the fresh process failed in %s\n", dir.c_str());
          return 1;
        }
        first[p].push_back(a), second[p].push_back(b);
      }
    }
    std::printf("| %zu x %zu |", samples, taps);
    for (std::size_t p = 0; p < std::size(preparations); ++p) {
      std::printf(" %.1f (%.1f) |", measure::median(first[p]), measure::median(second[p]));
    }
    std::printf("\n");
  }
  return 0;
}
