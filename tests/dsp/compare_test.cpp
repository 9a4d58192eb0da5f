#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "dsp/dsp.h"
#include "support/samples.h"

namespace {

using test_support::bitwise_equal;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// Expected rms and max_abs compared to the bit (any NaN matches any NaN).
testing::AssertionResult same_double(double expected, double actual) {
  return bitwise_equal(Signal{expected}, Signal{actual});
}

DeviationStats compared(const Signal& y, const Signal& f, Signal& d) {
  DeviationStats stats{-1.0, -1.0};
  EXPECT_EQ(compare_signals(y, f, d, stats), Status::ok);
  return stats;
}

struct CompareCase {
  std::string name;
  Signal y, f;
  Signal difference;
  DeviationStats expected;
};
void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }

class CompareSignalsTable : public testing::TestWithParam<CompareCase> {};

TEST_P(CompareSignalsTable, DifferenceRmsAndMaximum) {
  const CompareCase& c = GetParam();
  Signal d{7.0, 7.0, 7.0, 7.0, 7.0, 7.0};  // replaced, whatever it held
  const DeviationStats stats = compared(c.y, c.f, d);
  EXPECT_TRUE(bitwise_equal(c.difference, d));
  EXPECT_TRUE(same_double(c.expected.rms, stats.rms)) << "rms " << stats.rms;
  EXPECT_TRUE(same_double(c.expected.max_abs, stats.max_abs)) << "max_abs " << stats.max_abs;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, CompareSignalsTable,
    testing::Values(
        CompareCase{"identical", {1.5, -2.0, 0.25}, {1.5, -2.0, 0.25, 9.0}, {0.0, 0.0, 0.0}, {0.0, 0.0}},
        CompareCase{"empty", {}, {1.0, 2.0}, {}, {nan, 0.0}},
        CompareCase{"one_value", {3.0}, {1.0, 5.0, 5.0}, {2.0}, {2.0, 2.0}},
        CompareCase{"signs_kept", {3.0, -4.0}, {0.0, 0.0, 1.0}, {3.0, -4.0}, {std::sqrt(12.5), 4.0}},
        // A NaN maximum is replaced by the next difference, however small.
        CompareCase{"nan_in_middle", {5.0, nan, 1.0, 0.5}, {0.0, 0.0, 0.0, 0.0, 0.0}, {5.0, nan, 1.0, 0.5}, {nan, 1.0}},
        CompareCase{"nan_at_end", {5.0, 1.0, nan}, {0.0, 0.0, 0.0, 0.0}, {5.0, 1.0, nan}, {nan, nan}},
        CompareCase{"infinity", {1.0, inf, 2.0}, {0.0, 0.0, 0.0, 0.0}, {1.0, inf, 2.0}, {inf, inf}},
        CompareCase{"inf_minus_inf", {inf}, {inf, 0.0}, {nan}, {nan, nan}},
        CompareCase{"ties_and_negative_zero", {-0.0, 0.0}, {0.0, -0.0, 0.0}, {-0.0, 0.0}, {0.0, 0.0}},
        // Squares beyond the largest double from finite differences: the
        // RMS from the scaled sum, finite and not above the maximum.
        CompareCase{"squares_overflow", {4e185, -4e185, 4e185, 2e185}, {0.0, 0.0, 0.0, 0.0, 0.0},
                    {4e185, -4e185, 4e185, 2e185}, {4e185 * std::sqrt(3.25 / 4.0), 4e185}}),
    [](const testing::TestParamInfo<CompareCase>& param_info) { return param_info.param.name; });

// The sum of squares is one addition per index in increasing order: with a
// large first square the small ones that follow are absorbed one by one,
// which pairwise or reordered summation would not do.
TEST(CompareSignalsOrder, SquaresAddedInIndexOrder) {
  Signal y{1.0};
  Signal f{0.0};
  for (int k = 0; k < 1000; ++k) {
    y.push_back(0x1p-27);
    f.push_back(0.0);
  }
  f.push_back(0.0);
  Signal d;
  const DeviationStats stats = compared(y, f, d);
  // Every 2^-54 is lost against 1.0 (half an ulp, rounds to even).
  EXPECT_EQ(stats.rms, std::sqrt(1.0 / 1001.0));
  EXPECT_EQ(stats.max_abs, 1.0);
}

// Against a reference in long double: each difference and the maximum are
// correctly rounded, and the RMS of a sum in index order lies within L
// roundings of the accurate value.
TEST(CompareSignalsAccuracy, WithinRoundingOfALongDoubleReference) {
  std::mt19937_64 generator(5);
  const Signal y = test_support::random_samples(generator, 4097);
  const Signal f = test_support::random_samples(generator, 5000);
  Signal d;
  const DeviationStats stats = compared(y, f, d);
  long double sum = 0.0L, largest = 0.0L;
  for (std::size_t k = 0; k < y.size(); ++k) {
    const long double e = static_cast<long double>(y[k]) - static_cast<long double>(f[k]);
    ASSERT_LE(std::fabs(d[k] - e), std::fabs(e) * 0x1p-53L) << "index " << k;
    sum += e * e;
    largest = std::max(largest, std::fabs(e));
  }
  EXPECT_LE(std::fabs(stats.max_abs - largest), largest * 0x1p-53L);
  const long double rms = std::sqrt(sum / 4097.0L);
  EXPECT_LE(std::fabs(static_cast<long double>(stats.rms) - rms), 4097 * std::numeric_limits<double>::epsilon() * rms);
}

}  // namespace
