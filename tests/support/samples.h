// Random test samples and bit-exact comparison of signals.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "signal/signal.h"
#include "support/random_values.h"

namespace test_support {

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
