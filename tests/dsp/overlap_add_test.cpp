#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include "dsp/dsp.h"
#include "dsp/kernels.h"
#include "dsp/overlap_add.h"
#include "support/kernel_rows.h"
#include "support/samples.h"
#include "timing/timing.h"

namespace {

using test_support::bitwise_equal;
using test_support::random_samples;

// ---- Block length, block count and output length ------------------------------

struct LayoutCase {
  std::uint64_t samples, taps;
  OverlapAddLayout expected;
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << "N=" << c.samples << " M=" << c.taps; }

class OverlapAddLayoutTable : public testing::TestWithParam<LayoutCase> {};

// The layout's arithmetic on a 64-bit system, whichever this is.
constexpr std::uint64_t bytes64 = std::numeric_limits<std::int64_t>::max();

TEST_P(OverlapAddLayoutTable, BlockLengthBlocksOutputLength) {
  OverlapAddLayout layout{};
  ASSERT_EQ(overlap_add_layout(GetParam().samples, GetParam().taps, layout, bytes64), Status::ok);
  EXPECT_EQ(layout.block_length, GetParam().expected.block_length);
  EXPECT_EQ(layout.blocks, GetParam().expected.blocks);
  EXPECT_EQ(layout.output_length, GetParam().expected.output_length);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, OverlapAddLayoutTable,
    testing::Values(LayoutCase{100000, 64, {1024, 98, 102400}}, LayoutCase{300, 31, {512, 1, 1536}},
                    LayoutCase{5000, 1024, {1024, 5, 7168}}, LayoutCase{5000, 1025, {2048, 3, 10240}},
                    LayoutCase{0, 5, {8, 0, 16}}, LayoutCase{10, 0, {16, 1, 48}},
                    LayoutCase{1000, 10, {1024, 1, 3072}}, LayoutCase{2048, 100, {1024, 2, 4096}},
                    LayoutCase{2049, 100, {1024, 3, 5120}}, LayoutCase{1024, 1, {1024, 1, 3072}},
                    LayoutCase{1025, 1, {1024, 2, 4096}}, LayoutCase{1, 1, {1, 1, 3}}, LayoutCase{0, 0, {0, 0, 0}},
                    LayoutCase{3, 1 << 20, {1 << 20, 1, 3 << 20}}, LayoutCase{0, 1 << 29, {1u << 29, 0, 1u << 30}}));

TEST(OverlapAddLayoutLimits, SizesThatDoNotFitAreRefused) {
  OverlapAddLayout layout{1, 1, 1};
  // 2n must fit FFTW's int: M = 2^30 asks for 2n = 2^31.
  EXPECT_EQ(overlap_add_layout(10, std::uint64_t{1} << 30, layout, bytes64), Status::too_long);
  EXPECT_EQ(layout.block_length, 0u);
  EXPECT_EQ(overlap_add_layout(0, (std::uint64_t{1} << 29) + 1, layout, bytes64), Status::too_long);
  EXPECT_EQ(overlap_add_layout(10, std::numeric_limits<std::uint64_t>::max(), layout, bytes64), Status::too_long);
  // The output length must fit the 32-bit sample count: N = 2^32 - 3072
  // gives 4194301 blocks of 1024 and 2^32 - 1024 samples, one more does not.
  EXPECT_EQ(overlap_add_layout(std::numeric_limits<std::uint32_t>::max(), 1, layout, bytes64), Status::too_long);
  EXPECT_EQ(overlap_add_layout(std::numeric_limits<std::uint32_t>::max() - 3070, 1, layout, bytes64), Status::too_long);
  ASSERT_EQ(overlap_add_layout(std::numeric_limits<std::uint32_t>::max() - 3072, 1, layout, bytes64), Status::ok);
  EXPECT_EQ(layout.output_length, std::numeric_limits<std::uint32_t>::max() - 1023);
}

// On a 32-bit system one block of memory spans at most 2^31 - 1 bytes: the
// largest FFTW buffer, a spectrum of n + 1 bins (16 (n + 1) bytes), allows
// blocks up to n = 2^26, and the output at most 2^28 - 1 doubles. Checked on
// the arithmetic with that limit.
TEST(OverlapAddLayoutLimits, ThirtyTwoBitAddressSpace) {
  constexpr std::uint64_t bytes32 = std::numeric_limits<std::int32_t>::max();
  struct Case {
    std::uint64_t samples, taps;
    Status status;
    std::uint64_t output_length;
  };
  const Case cases[] = {
      {100000, 64, Status::ok, 102400},
      {0, std::uint64_t{1} << 26, Status::ok, std::uint64_t{1} << 27},
      {0, (std::uint64_t{1} << 26) + 1, Status::too_long, 0},  // n = 2^27: a 2 GiB spectrum
      {(std::uint64_t{1} << 28) - 3072, 1, Status::ok, (std::uint64_t{1} << 28) - 1024},
      {(std::uint64_t{1} << 28) - 3071, 1, Status::too_long, 0},
      {std::numeric_limits<std::uint32_t>::max(), 1, Status::too_long, 0},
  };
  for (const Case& c : cases) {
    OverlapAddLayout layout{1, 1, 1};
    EXPECT_EQ(overlap_add_layout(c.samples, c.taps, layout, bytes32), c.status) << "N=" << c.samples << " M=" << c.taps;
    EXPECT_EQ(layout.output_length, c.output_length) << "N=" << c.samples << " M=" << c.taps;
  }
}

// ---- Results ------------------------------------------------------------------------

Signal direct_of(const Signal& x, const Signal& h) {
  Signal y;
  EXPECT_EQ(convolve_direct(x, h, y), Status::ok);
  return y;
}

Signal overlap_add_of(const Signal& x, const Signal& h) {
  Signal y(3, std::numeric_limits<double>::quiet_NaN());  // must be replaced
  EXPECT_EQ(convolve_overlap_add(x, h, y), Status::ok);
  return y;
}

double sum_abs(const Signal& s) {
  double total = 0.0;
  for (double v : s) total += std::fabs(v);
  return total;
}

double max_abs(const Signal& s) {
  double most = 0.0;
  for (double v : s) most = std::max(most, std::fabs(v));
  return most;
}

// The FFT result against the direct one: the first N + M - 1 samples agree
// within a bound scaled by the data, the rest of the last block's window
// holds only residue below that bound, and everything after it is 0.0.
testing::AssertionResult matches_direct(const Signal& x, const Signal& h, const Signal& fft) {
  OverlapAddLayout layout{};
  overlap_add_layout(x.size(), h.size(), layout);
  if (fft.size() != layout.output_length) return testing::AssertionFailure() << "length " << fft.size();
  const Signal direct = direct_of(x, h);
  const double bound = 1e-12 * sum_abs(h) * max_abs(x);
  for (std::size_t k = 0; k < direct.size(); ++k) {
    if (!(std::fabs(direct[k] - fft[k]) <= bound)) {
      return testing::AssertionFailure() << "index " << k << ": direct " << direct[k] << ", fft " << fft[k]
                                         << ", bound " << bound;
    }
  }
  const auto window_end = static_cast<std::size_t>(layout.blocks == 0 ? 0 : (layout.blocks + 1) * layout.block_length);
  for (std::size_t k = direct.size(); k < fft.size(); ++k) {
    const bool in_window = k < window_end;
    if (in_window ? !(std::fabs(fft[k]) <= bound) : fft[k] != 0.0) {
      return testing::AssertionFailure() << "index " << k << (in_window ? " residue " : " past the window ")
                                         << fft[k];
    }
  }
  return testing::AssertionSuccess();
}

// ---- Every row of the kernel table -------------------------------------------------

class OverlapAddKernels : public test_support::WithKernelRow {};

// The stage on this row gives the baseline row's bits, over shapes that
// cross the vector widths in the block load, the bin product and the
// overlap-add.
TEST_P(OverlapAddKernels, GiveTheBaselineBits) {
  const std::string baseline = kernel_table().back().name;
  std::mt19937_64 generator(405);
  for (const auto& [samples, taps] : {std::pair<std::size_t, std::size_t>{4099, 77}, {1000, 10}, {3000, 1025}, {5, 3}}) {
    const Signal x = random_samples(generator, samples);
    const Signal h = random_samples(generator, taps);
    const Signal on_row = overlap_add_of(x, h);
    use_kernels(baseline);
    const Signal reference = overlap_add_of(x, h);
    use_kernels(GetParam());
    EXPECT_TRUE(bitwise_equal(reference, on_row)) << "N=" << samples << " M=" << taps;
  }
}

// X[k] * H[k] is formed part by part, one rounding per operation, and the
// scale multiplies the finished product, not a factor: for these values the
// other orders, and a fused multiply-add, differ in the last bits. Every
// bin holds the same values, so whole vectors of every width and a tail
// are checked against the same two results.
TEST_P(OverlapAddKernels, BinProductScalesTheFinishedProduct) {
  const std::size_t bins = 13;
  const double xr = 0x1.a0c9c4cd2cea4p-1, xi = -0x1.26a1cc0462128p+0;
  const double hr = 0x1.0e64df3cf1a73p+0, hi = 0x1.8aa602ef14cccp+0;
  const Signal h_re(bins, hr), h_im(bins, hi);
  Signal x, expected;
  for (std::size_t k = 0; k < bins; ++k) {
    x.insert(x.end(), {xr, xi});
    expected.insert(expected.end(), {0x1.c18b10226477dp-1, 0x1.ad47287382baap-7});
  }
  active_kernels().multiply(x.data(), h_re.data(), h_im.data(), bins, 1.0 / 3.0);
  EXPECT_TRUE(bitwise_equal(expected, x));
}

INSTANTIATE_TEST_SUITE_P(Rows, OverlapAddKernels, test_support::kernel_rows(), test_support::kernel_row_name);

// ---- Accuracy ------------------------------------------------------------------------

TEST(OverlapAddAccuracy, AgreesWithDirectOverManySizes) {
  std::mt19937_64 generator(2024);
  const std::size_t sample_counts[] = {0, 1, 2, 3, 7, 31, 64, 100, 1000, 1023, 1024, 1025, 2047, 2048, 2049, 5000};
  const std::size_t tap_counts[] = {0, 1, 2, 4, 7, 13, 23, 64, 100, 1023, 1024, 1025, 3000};
  for (const std::size_t samples : sample_counts) {
    for (const std::size_t taps : tap_counts) {
      if (samples + taps == 0) continue;
      const Signal x = random_samples(generator, samples);
      const Signal h = random_samples(generator, taps);
      ASSERT_TRUE(matches_direct(x, h, overlap_add_of(x, h))) << "N = " << samples << ", M = " << taps;
    }
  }
}

TEST(OverlapAddAccuracy, LongSignal) {
  std::mt19937_64 generator(77);
  const Signal x = random_samples(generator, 100'000);
  const Signal h = random_samples(generator, 64);
  EXPECT_TRUE(matches_direct(x, h, overlap_add_of(x, h)));
}

TEST(OverlapAddAccuracy, UnitTapReproducesInput) {
  std::mt19937_64 generator(3);
  const Signal x = random_samples(generator, 3000);
  const Signal y = overlap_add_of(x, {1.0});
  ASSERT_EQ(y.size(), 1024u * 5);
  const double bound = 1e-12 * max_abs(x);
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_NEAR(y[i], x[i], bound) << "index " << i;
}

TEST(OverlapAddEdges, NoTapsGivesAllZeros) {
  const Signal y = overlap_add_of(Signal(10, 3.0), {});
  EXPECT_TRUE(bitwise_equal(Signal(48, 0.0), y));
}

TEST(OverlapAddEdges, NoInputGivesZerosFromEmptyLoop) {
  const Signal y = overlap_add_of({}, {1, 2, 3, 4, 5});
  EXPECT_TRUE(bitwise_equal(Signal(16, 0.0), y));
  EXPECT_EQ(stopwatch.runs, 1.0);
}

TEST(OverlapAddEdges, NothingAtAllGivesEmptyResultAndOneMeasurement) {
  stopwatch.runs = 5.0;
  const Signal y = overlap_add_of({}, {});
  EXPECT_TRUE(y.empty());
  EXPECT_EQ(stopwatch.runs, 1.0);
}

TEST(OverlapAddState, SecondCallGivesIdenticalResult) {
  std::mt19937_64 generator(11);
  const Signal x = random_samples(generator, 5000);
  const Signal h = random_samples(generator, 129);
  const Signal first = overlap_add_of(x, h);
  EXPECT_EQ(stopwatch.runs, 1.0);
  EXPECT_TRUE(bitwise_equal(first, overlap_add_of(x, h)));
}

}  // namespace
