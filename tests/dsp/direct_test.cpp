#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"
#include "support/kernel_rows.h"
#include "support/plain_convolution.h"
#include "support/samples.h"
#include "timing/timing.h"

namespace {

using test_support::bitwise_equal;
using test_support::plain_convolution;
using test_support::random_samples;

Signal convolved(const Signal& x, const Signal& h) {
  Signal y(5, std::numeric_limits<double>::quiet_NaN());  // must be replaced
  EXPECT_EQ(convolve_direct(x, h, y), Status::ok);
  return y;
}

// ---- Small cases with exact integer arithmetic ----------------------------------

struct SmallCase {
  const char* name;
  Signal x, h, y;
};
void PrintTo(const SmallCase& c, std::ostream* os) { *os << c.name; }

class DirectSmallCases : public testing::TestWithParam<SmallCase> {};

TEST_P(DirectSmallCases, ExactResult) {
  EXPECT_TRUE(bitwise_equal(GetParam().y, convolved(GetParam().x, GetParam().h)));
}

INSTANTIATE_TEST_SUITE_P(
    Edges, DirectSmallCases,
    testing::Values(SmallCase{"ThreeSamplesTwoTaps", {1, 2, 3}, {1, 1}, {1, 3, 5, 3}},
                    SmallCase{"NoInputGivesMMinusOneZeros", {}, {4, 5, 6}, {0, 0}},
                    SmallCase{"NoTapsGivesNMinusOneZeros", {1, 2, 3, 4}, {}, {0, 0, 0}},
                    SmallCase{"NothingAtAllGivesNothing", {}, {}, {}},
                    SmallCase{"OneSampleOneTap", {3}, {-2}, {-6}},
                    SmallCase{"UnitTapReturnsInput", {1, -2, 3.5, 0, 7}, {1}, {1, -2, 3.5, 0, 7}},
                    SmallCase{"UnitSampleReturnsTaps", {1}, {0.25, -3, 9}, {0.25, -3, 9}},
                    SmallCase{"DelayShiftsOutput", {0, 0, 1}, {2, 3}, {0, 0, 2, 3}},
                    SmallCase{"MoreTapsThanSamples", {1, -1}, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1, -5}},
                    SmallCase{"NegativeZeroTapsSumToPositiveZero", {1, 2}, {-0.0}, {0.0, 0.0}}),
    [](const testing::TestParamInfo<SmallCase>& row) { return std::string(row.param.name); });

// ---- Bit-for-bit against the plain loop, with every instruction set ---------------

class DirectExactness : public test_support::WithKernelRow {};

TEST_P(DirectExactness, SweepOfSizesMatchesPlainLoopBitForBit) {
  std::mt19937_64 generator(1234);
  for (std::size_t samples = 0; samples <= 300; samples += (samples < 40 ? 1 : 13)) {
    for (std::size_t taps = 0; taps <= 70; taps += (taps < 20 ? 1 : 7)) {
      const Signal x = random_samples(generator, samples);
      const Signal h = random_samples(generator, taps);
      ASSERT_TRUE(bitwise_equal(plain_convolution(x, h), convolved(x, h))) << "N = " << samples << ", M = " << taps;
    }
  }
}

// Long signals and long filters, and shapes on either side of the tiles
// (2048 outputs by 512 taps for the shifted copies; 1024 rows, at least 128,
// for the segments):
// more taps than samples (the operands then swap roles), a tap tile of one
// tap, a middle too short for segments, one sample with a million taps.
TEST_P(DirectExactness, LongAndTileCrossingShapesMatchPlainLoopBitForBit) {
  std::mt19937_64 generator(99);
  const std::pair<std::size_t, std::size_t> shapes[] = {
      {100'000, 64}, {100'000, 1023}, {20'000, 1024}, {3000, 2049}, {100, 1500}, {1, 600},  {4097, 513},
      {2, 1},        {700, 5000},     {1, 1 << 16},   {64, 1 << 16}, {1 << 16, 64}, {1, 1 << 20}, {1 << 20, 1},
      {300, 700},    {5000, 4600},    {12000, 10000}, {9000, 11000},
      // Short filters in the tap windows, whole groups (of 16 and 32
      // outputs) and one output either side; one tap more, beyond them.
      {15 + 32 * 40, 16}, {16 + 32 * 40, 16}, {14 + 32 * 40, 16}, {16 + 32 * 40, 17},
      // The longest filter the 32-bit rows' tap windows take, and one tap more.
      {3000, 1024}, {3000, 1025},
      // Sliding spans over several chunks of 2048 outputs, a chunk's edge
      // on the last output, the longest filter they take and one tap more.
      {8 * 600 + 3, 9}, {8 * (2 * 256 + 2), 16}, {8 * 600 + 5, 64}, {8 * 600 + 5, 65}};
  for (const auto& [samples, taps] : shapes) {
    const Signal x = random_samples(generator, samples);
    const Signal h = random_samples(generator, taps);
    ASSERT_TRUE(bitwise_equal(plain_convolution(x, h), convolved(x, h))) << "N = " << samples << ", M = " << taps;
  }
}

TEST_P(DirectExactness, UnalignedViewsMatchPlainLoop) {
  std::mt19937_64 generator(5);
  const Signal base = random_samples(generator, 1001);
  for (std::size_t offset = 1; offset < 4; ++offset) {
    const Signal x(base.begin() + static_cast<std::ptrdiff_t>(offset), base.end());
    const Signal h(base.begin() + 3, base.begin() + 3 + static_cast<std::ptrdiff_t>(29 + offset));
    ASSERT_TRUE(bitwise_equal(plain_convolution(x, h), convolved(x, h))) << "offset " << offset;
  }
}

// Infinities and NaNs in the samples (the kernel takes them), and in the
// taps as well (the plain loop takes them).
TEST_P(DirectExactness, NonFiniteValuesMatchPlainLoop) {
  std::mt19937_64 generator(8);
  Signal x = random_samples(generator, 3000);
  x[17] = std::numeric_limits<double>::infinity();
  x[1500] = std::numeric_limits<double>::quiet_NaN();
  x[2999] = -std::numeric_limits<double>::infinity();
  for (const std::size_t taps : {33, 16}) {  // with zero taps to round M up to whole rows, and without
    Signal h = random_samples(generator, taps);
    h[5] = 0.0;  // 0 * inf is a NaN in the plain loop as well
    EXPECT_TRUE(bitwise_equal(plain_convolution(x, h), convolved(x, h))) << "M = " << taps;
    h[4] = -std::numeric_limits<double>::infinity();
    EXPECT_TRUE(bitwise_equal(plain_convolution(x, h), convolved(x, h))) << "M = " << taps;
  }
}

TEST_P(DirectExactness, ProductsOverflowingToInfinityMatchPlainLoop) {
  const Signal x{1e300, -1e300, 1e300, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0};
  const Signal h{1e10, 1e10, 1.0};
  EXPECT_TRUE(bitwise_equal(plain_convolution(x, h), convolved(x, h)));
}

INSTANTIATE_TEST_SUITE_P(Kernels, DirectExactness, test_support::kernel_rows(), test_support::kernel_row_name);

TEST(DirectKernels, UnknownNameChangesNothing) {
  const std::string before = active_kernels().name;
  EXPECT_FALSE(use_kernels("mmx"));
  EXPECT_EQ(active_kernels().name, before);
}

// ---- The stage and the stopwatch ----------------------------------------------------

TEST(DirectStage, TakesExactlyOneMeasurement) {
  stopwatch.runs = 7.0;
  convolved({1, 2, 3}, {1, 1});
  EXPECT_EQ(stopwatch.runs, 1.0);
  EXPECT_GE(stopwatch.average_ms, 0.0);
  convolved({}, {});
  EXPECT_EQ(stopwatch.runs, 1.0);
}

}  // namespace

// The result length is N + M - 1 and must fit the 32-bit sample count and,
// on a 32-bit system, what one block of memory (2^31 - 1 bytes) can hold:
// 2^28 - 1 doubles. Checked on the arithmetic, as no machine here holds such
// signals and none of its programs is 32-bit.
TEST(DirectLength, FitsTheSampleCountOrIsRefused) {
  constexpr std::uint64_t bytes64 = std::numeric_limits<std::int64_t>::max();  // a 64-bit system
  constexpr std::uint64_t max = std::numeric_limits<std::uint32_t>::max();
  constexpr std::uint64_t bytes32 = std::numeric_limits<std::int32_t>::max();
  constexpr std::uint64_t max32 = (std::uint64_t{1} << 28) - 1;
  struct Case {
    std::uint64_t samples, taps, addressable;
    Status status;
    std::uint64_t length;
  };
  const Case cases[] = {
      {0, 0, bytes64, Status::ok, 0},
      {1, 0, bytes64, Status::ok, 0},
      {0, 7, bytes64, Status::ok, 6},
      {100000, 64, bytes64, Status::ok, 100063},
      {max, 1, bytes64, Status::ok, max},
      {max - 9, 10, bytes64, Status::ok, max},
      {max, 2, bytes64, Status::too_long, 0},
      {max / 2 + 1, max / 2 + 2, bytes64, Status::too_long, 0},
      {std::numeric_limits<std::uint64_t>::max(), 2, bytes64, Status::too_long, 0},  // would wrap
      {max32, 1, bytes32, Status::ok, max32},
      {max32 - 99, 100, bytes32, Status::ok, max32},
      {max32, 2, bytes32, Status::too_long, 0},
      {max32 + 1, 0, bytes32, Status::too_long, 0},
      {100000, 64, bytes32, Status::ok, 100063},
  };
  for (const Case& c : cases) {
    std::uint64_t length = 12345;
    EXPECT_EQ(dsp_internal::direct_length(c.samples, c.taps, length, c.addressable), c.status) << c.samples << " + " << c.taps;
    EXPECT_EQ(length, c.length) << c.samples << " + " << c.taps;
  }
}
