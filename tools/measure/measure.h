// Repeated measurements reduced to one number, for the benchmarks and
// fir_sweep: the best of several and the median.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#endif

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

// The smallest value; `values` must not be empty.
inline double minimum(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

// The middle value, or the mean of the middle two; `values` must not be empty.
inline double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : 0.5 * (values[middle - 1] + values[middle]);
}

// The processor's name, for the record beside a measurement: the brand
// string where the processor tells it, else the system's "model name", else
// "unknown CPU".
inline std::string cpu_model() {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  unsigned words[12] = {};
  if (__get_cpuid_max(0x80000000, nullptr) >= 0x80000004) {
    for (unsigned leaf = 0; leaf < 3; ++leaf) {
      __get_cpuid(0x80000002 + leaf, &words[4 * leaf], &words[4 * leaf + 1], &words[4 * leaf + 2],
                  &words[4 * leaf + 3]);
    }
    std::string brand(reinterpret_cast<const char*>(words), sizeof words);
    brand.erase(brand.find_last_not_of(std::string(" \0", 2)) + 1);
    brand.erase(0, brand.find_first_not_of(' '));
    if (!brand.empty()) return brand;
  }
#endif
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
  }
  return "unknown CPU";
}

}  // namespace measure
