#include "whole_run.h"

#include <algorithm>
#include <string>

#include "dsp/dsp.h"
#include "measure/measure.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"

using measure::seconds_of;

RunTimes time_whole_run(const std::filesystem::path& dir) {
  const auto file = [&](const char* name) { return (dir / name).string(); };
  Signal input, taps, direct, fft, difference;
  RunTimes t{};
  t.read_input = seconds_of([&] { load_signal(file("input.txt"), input); });
  t.read_fir = seconds_of([&] { load_signal(file("fir.txt"), taps); });
  t.direct = seconds_of([&] { convolve_direct(input, taps, direct); });
  t.overlap_add = seconds_of([&] { convolve_overlap_add(input, taps, fft); });
  DeviationStats deviations{};
  t.compare = seconds_of([&] { compare_signals(direct, fft, difference, deviations); });
  t.write_linear = seconds_of([&] { save_signal(file("output_linear.txt"), direct); });
  t.write_fft = seconds_of([&] { save_signal(file("output_fft.txt"), fft); });
  t.write_diff = seconds_of([&] { save_signal(file("output_diff.txt"), difference); });
  return t;
}

RunTimes fastest(const RunTimes& a, const RunTimes& b) {
  return {std::min(a.read_input, b.read_input),     std::min(a.read_fir, b.read_fir),
          std::min(a.direct, b.direct),             std::min(a.overlap_add, b.overlap_add),
          std::min(a.compare, b.compare),           std::min(a.write_linear, b.write_linear),
          std::min(a.write_fft, b.write_fft),       std::min(a.write_diff, b.write_diff)};
}
