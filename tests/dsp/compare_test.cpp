#include <gtest/gtest.h>

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
        CompareCase{"ties_and_negative_zero", {-0.0, 0.0}, {0.0, -0.0, 0.0}, {-0.0, 0.0}, {0.0, 0.0}}),
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

TEST(CompareSignalsOrder, MatchesPlainLoopOnRandomData) {
  std::mt19937_64 generator(5);
  const Signal y = test_support::random_samples(generator, 4097);
  Signal f = test_support::random_samples(generator, 5000);
  Signal d;
  const DeviationStats stats = compared(y, f, d);
  double sum = 0.0;
  double max_abs = 0.0;
  for (std::size_t k = 0; k < y.size(); ++k) {
    ASSERT_EQ(d[k], y[k] - f[k]);
    sum += (y[k] - f[k]) * (y[k] - f[k]);
    max_abs = std::max(max_abs, std::fabs(y[k] - f[k]));
  }
  EXPECT_EQ(stats.rms, std::sqrt(sum / 4097.0));
  EXPECT_EQ(stats.max_abs, max_abs);
}

}  // namespace
