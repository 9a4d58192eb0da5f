// What printed_times measures per case and how its tables show it.
#pragma once

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

struct Case {
  std::size_t samples, taps;
};
// One run of fir_bench and the measurements taken right after it, in ms
// (best of a few, the cold runs once).
struct Run {
  double printed_direct = 0, printed_fft = 0;
  double cold_direct = 0, warm_direct = 0, stream = 0;
  double cold_fft = 0, floor_fft = 0, warm_fft = 0;
  double other_direct = 0, other_fft = 0;  // printed by the other build's program; 0 without one
};

// The direct stage on one kernel row this processor has: cold (median of
// the runs' fresh processes) and warm.
struct RowTimes {
  const char* row;
  double cold, warm;
};

struct Times {
  std::vector<Run> runs;
  std::optional<double> scipy;
  std::vector<RowTimes> by_row;
};

using Results = std::vector<std::pair<Case, Times>>;

// The main table, the table against another build's program when `other`,
// and the direct stage on each instruction set: markdown on standard output.
void print_tables(const Results& results, double peak, double bound, bool other);
