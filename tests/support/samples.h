// Random test samples and bit-exact comparison of signals.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "signal/signal.h"

namespace test_support {

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

// Equal to the bit, except that any NaN equals any NaN; names the first
// difference.
inline testing::AssertionResult bitwise_equal(const Signal& expected, const Signal& actual) {
  if (expected.size() != actual.size()) {
    return testing::AssertionFailure() << "expected " << expected.size() << " values, got " << actual.size();
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const bool both_nan = std::isnan(expected[i]) && std::isnan(actual[i]);
    if (!both_nan && std::bit_cast<std::uint64_t>(expected[i]) != std::bit_cast<std::uint64_t>(actual[i])) {
      return testing::AssertionFailure() << "index " << i << ": expected " << expected[i] << ", got " << actual[i];
    }
  }
  return testing::AssertionSuccess();
}

}  // namespace test_support
