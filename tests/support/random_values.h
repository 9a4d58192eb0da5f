// Random test values from the raw bits of a seeded std::mt19937_64: the same
// on every standard library (the library distributions' algorithms are not
// specified). Shared by the tests and the benchmarks.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "signal/signal.h"

namespace test_support {

// Uniform in [0, 1): 53 random bits.
inline double random_unit(std::mt19937_64& generator) { return static_cast<double>(generator() >> 11) * 0x1p-53; }

// A random sign times 10^e, e uniform in [lowest, highest): values spread
// over many decades.
inline double random_magnitude(std::mt19937_64& generator, double lowest, double highest) {
  const double magnitude = std::pow(10.0, lowest + (highest - lowest) * random_unit(generator));
  return (generator() & 1) != 0 ? magnitude : -magnitude;
}

// Mixed signs and magnitudes from the generator's raw bits: a random
// mantissa, a sign, and a binary exponent within +-20, so that sums of many
// products stay far from overflow. The same on every standard library.
inline Signal random_samples(std::mt19937_64& generator, std::size_t count) {
  Signal out(count);
  for (double& value : out) {
    const std::uint64_t bits = generator();
    const std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t exponent = 1023 - 20 + ((bits >> 52) % 41);
    const std::uint64_t sign = bits >> 63;
    value = std::bit_cast<double>((sign << 63) | (exponent << 52) | mantissa);
  }
  return out;
}

}  // namespace test_support
