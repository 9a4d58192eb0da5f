// The steps of one run, done in process and timed one by one on the wall
// clock, for the whole-run benchmark and the comparison with numpy.
#pragma once

#include <filesystem>

struct RunTimes {
  double read_input;  // seconds, each step on its own
  double read_fir;
  double direct;       // the whole call: allocation and the timed loop
  double overlap_add;  // the whole call: planning, filter transform, loop
  double compare;
  double write_linear;
  double write_fft;
  double write_diff;
  double everything_but_writing() const { return read_input + read_fir + direct + overlap_add + compare; }
  double writing() const { return write_linear + write_fft + write_diff; }
};

// Reads "input.txt" and "fir.txt" in `dir`, filters both ways, compares and
// writes the three result files there, as the program's run does but with
// no console or log output.
RunTimes time_whole_run(const std::filesystem::path& dir);

// The faster of `a` and `b`, step by step.
RunTimes fastest(const RunTimes& a, const RunTimes& b);
