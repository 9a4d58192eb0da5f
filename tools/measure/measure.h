// Repeated measurements reduced to one number, for the benchmarks and
// fir_sweep: the best of several and the median.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace measure {

// Wall-clock seconds `work` takes, on the monotonic clock.
template <typename Work>
double seconds_of(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The smallest of `repeats` (at least one) calls of `measure`, each of which
// returns a time.
template <typename Measure>
double best_of(int repeats, Measure&& measure) {
  double best = measure();
  for (int r = 1; r < repeats; ++r) best = std::min(best, measure());
  return best;
}

// The middle value, or the mean of the middle two; `values` must not be empty.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

}  // namespace measure
