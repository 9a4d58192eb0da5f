// The sweep over filter lengths: its command line, its rows, the crossover
// search and the verdict on synthetic timings, and its exact reference. No
// test asserts a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "dsp/dsp.h"
#include "dsp/overlap_add.h"
#include "support/plain_convolution.h"
#include "support/random_values.h"
#include "signal_gen/signal_gen.h"
#include "sweep/sweep.h"

namespace {

using namespace test_support;

// ---- Command line ---------------------------------------------------------------

struct OptionError {
  std::vector<std::string> arguments;
  std::string error;
};
void PrintTo(const OptionError& c, std::ostream* os) { *os << c.error; }

class SweepArgumentErrors : public testing::TestWithParam<OptionError> {};

TEST_P(SweepArgumentErrors, NameTheOptionAndTheProblem) {
  SweepOptions options;
  std::string error;
  EXPECT_FALSE(parse_sweep_arguments(GetParam().arguments, options, error));
  EXPECT_EQ(error, GetParam().error);
}

const std::string taps_expects = "tap counts or ranges A..B of powers of two, separated by commas";

INSTANTIATE_TEST_SUITE_P(
    Table, SweepArgumentErrors,
    testing::Values(OptionError{{"--bogus"}, "unknown option '--bogus' (see --help)"},
                    OptionError{{"--out"}, "--out: needs a value: a file name"},
                    OptionError{{"--taps", "0"}, "--taps: expected " + taps_expects + ", got '0'"},
                    OptionError{{"--taps=5..3"}, "--taps: expected " + taps_expects + ", got '5..3'"},
                    OptionError{{"--taps", "3..3"}, "--taps: expected " + taps_expects + ", got '3..3'"},
                    OptionError{{"--taps", "4,"}, "--taps: expected " + taps_expects + ", got '4,'"},
                    OptionError{{"--repeat", "0"}, "--repeat: expected a count from 1 to 1000, got '0'"},
                    OptionError{{"--length", "-5"}, "--length: expected a sample count of at least 1, got '-5'"},
                    OptionError{{"--input", "x.txt", "--length", "5"},
                                "--length: the signal is --input's, its length is the file's"},
                    OptionError{{"--taps=8", "--fir", "h.txt"}, "--taps: the filter is --fir's, its length is the file's"}));

TEST(SweepArguments, TapListsAndDefaults) {
  SweepOptions options;
  std::string error;
  ASSERT_TRUE(parse_sweep_arguments({"--taps", "100,1..16,1025,16", "--repeat=3"}, options, error)) << error;
  EXPECT_EQ(options.taps, (std::vector<std::size_t>{1, 2, 4, 8, 16, 100, 1025}));
  EXPECT_EQ(options.repeat, 3);
  SweepOptions defaults;
  ASSERT_TRUE(parse_sweep_arguments({}, defaults, error));
  EXPECT_EQ(defaults.taps.size(), 18u);  // 2^0 .. 2^16 and 1025
  EXPECT_EQ(defaults.taps.back(), 65536u);
  EXPECT_EQ(defaults.length, 100000u);
}

// The verdict for one filter: the fastest by the minimum times, or a tie
// where the minimums lie within the spread (median - minimum) of either.
struct VerdictCase {
  double direct_min, direct_median, rule_min, rule_median, best_min, best_median;
  std::string verdict;
};
class SweepVerdict : public testing::TestWithParam<VerdictCase> {};

TEST_P(SweepVerdict, NamesTheFastestOrATie) {
  const VerdictCase& c = GetParam();
  SweepRow row{};
  row.taps = 101, row.block = 1024, row.fft_best_length = 512, row.fft_best_block = 412;
  row.direct_min_ms = c.direct_min, row.direct_median_ms = c.direct_median;
  row.fft_min_ms = c.rule_min, row.fft_median_ms = c.rule_median;
  row.fft_best_min_ms = c.best_min, row.fft_best_median_ms = c.best_median;
  EXPECT_EQ(verdict_text(row, TimeKind::loop), "by the loop: " + c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SweepVerdict,
    testing::Values(
        VerdictCase{1.0, 1.01, 2.0, 2.1, 4.0, 4.1,
                    "direct is fastest, 2.00x as fast as FFT with fir_bench's rule (K = 2048) and 4.00x as fast as "
                    "FFT with K = 512 (blocks of 412)"},
        VerdictCase{1.06, 1.2, 2.0, 2.1, 1.0, 1.02,
                    "a tie between FFT with K = 512 (blocks of 412) and direct (1.06x apart, within the spread of "
                    "their runs), both about 2.00x as fast as FFT with fir_bench's rule (K = 2048)"},
        VerdictCase{1.0, 1.5, 1.2, 1.3, 1.1, 1.2,
                    "a tie between direct, FFT with K = 512 (blocks of 412) and FFT with fir_bench's rule (K = 2048) "
                    "(within the spread of their runs)"}));

// ---- The table of a small sweep -----------------------------------------------------

TEST(SweepTable, RowsAtRoundingLevel) {
  std::mt19937_64 generator(7);
  Signal x(3000);
  for (double& value : x) value = 2.0 * random_unit(generator) - 1.0;
  std::string text = sweep_header(true);  // the FFTW_MEASURE columns, as the row of M = 7 has them
  for (const std::size_t taps : {1u, 7u, 64u, 1025u}) {
    const Signal h = standard_lowpass(taps);
    SweepRow row{};
    std::string error;
    const bool measured = taps == 7;  // FFTW_MEASURE's planning is slow: one row
    ASSERT_TRUE(measure_filter_length(x, h, 2, 11, measured, row, error)) << error;
    OverlapAddLayout layout{};
    overlap_add_layout(x.size(), taps, layout);
    EXPECT_EQ(row.taps, taps);
    EXPECT_EQ(row.block, layout.block_length) << "M = " << taps;
    // The best transform holds the filter, its blocks take the rest.
    EXPECT_GE(row.fft_best_length, taps);
    EXPECT_GE(row.fft_best_call_length, taps);
    EXPECT_EQ(row.fft_best_block, row.fft_best_length - taps + 1);
    if (measured) {
      EXPECT_GE(row.fft_measure_length, taps);
    }
    const double bound = 64.0 * rounding_scale(x, h);
    for (const double value : {row.rms, row.max_abs, row.direct_error, row.fft_error, row.fft_best_error}) {
      EXPECT_LE(value, bound) << "M = " << taps;
    }
    text += sweep_row_text(row, measured);
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 25 + 3 * 22 + 25);  // the header and one row measured
}

// ---- The crossover to the tap, on synthetic timings -----------------------------------

// Direct costs `per_tap` per tap, FFT a constant, each time spread by
// `spread` over the repeats; the rows and the probes see the same times, so
// the search must land on the first M where FFT wins, and on the band where
// the two lie within the spread.
struct CrossoverCase {
  const char* name;
  std::vector<std::size_t> listed;
  double per_tap, fft, spread;
  std::optional<Crossover> expected;
};
void PrintTo(const CrossoverCase& c, std::ostream* os) { *os << c.name; }

class SweepCrossover : public testing::TestWithParam<CrossoverCase> {};

TEST_P(SweepCrossover, BisectsToTheTap) {
  const CrossoverCase& c = GetParam();
  const auto times = [&](double at) { return std::vector<double>{at, at + c.spread, at + 2 * c.spread}; };
  std::vector<SweepRow> rows;
  for (const std::size_t taps : c.listed) {
    const double direct = c.per_tap * static_cast<double>(taps);
    SweepRow row{};
    row.taps = taps;
    row.direct_min_ms = row.direct_call_min_ms = direct;
    row.direct_median_ms = row.direct_call_median_ms = direct + c.spread;
    row.fft_min_ms = row.fft_call_min_ms = row.fft_best_min_ms = row.fft_best_call_min_ms = c.fft;
    row.fft_median_ms = row.fft_call_median_ms = c.fft + c.spread;
    row.fft_best_median_ms = row.fft_best_call_median_ms = c.fft + c.spread;
    rows.push_back(row);
  }
  std::size_t probes = 0;
  const auto compare = [&](std::size_t taps) {
    ++probes;
    return compare_times(times(c.per_tap * static_cast<double>(taps)), times(c.fft));
  };
  for (const FftMethod method : {FftMethod::rule, FftMethod::best}) {
    for (const TimeKind kind : {TimeKind::loop, TimeKind::call}) {
      const std::optional<Crossover> found = find_crossover(rows, kind, method, compare);
      ASSERT_EQ(found.has_value(), c.expected.has_value());
      if (!found) continue;
      EXPECT_EQ(found->taps, c.expected->taps);
      EXPECT_EQ(found->tie_from, c.expected->tie_from);
      EXPECT_EQ(found->tie_to, c.expected->tie_to);
    }
  }
  EXPECT_LE(probes, 4 * 30u);  // bisection, not a scan
}

INSTANTIATE_TEST_SUITE_P(
    Timings, SweepCrossover,
    testing::Values(
        // Direct ties with FFT (183.5 ms) within 0.5 ms: from M = 183 to 184.
        CrossoverCase{"BetweenPowersOfTwo", {1, 64, 128, 256, 512}, 1.0, 183.5, 0.5, Crossover{184, 183, 184}},
        CrossoverCase{"NoSpreadNoTie", {1, 64, 128, 256}, 1.0, 127.5, 0.0, Crossover{128, 128, 127}},
        CrossoverCase{"WideSpreadWideTie", {1, 64, 128, 256}, 1.0, 100.5, 10.0, Crossover{101, 91, 110}},
        CrossoverCase{"FftFasterFromTheFirst", {4, 8, 16}, 1.0, 2.0, 0.0, Crossover{4, 4, 3}},
        CrossoverCase{"DirectFasterThroughout", {4, 8, 16}, 1.0, 100.0, 0.0, std::nullopt},
        CrossoverCase{"TieToTheLongestFilter", {1, 2, 4, 8}, 1.0, 6.5, 3.0, Crossover{7, 4, 8}}),
    [](const testing::TestParamInfo<CrossoverCase>& row) { return std::string(row.param.name); });

// Every output is checked up to N * M = 1e9, a sample beyond.
TEST(SweepTable, ErrorsOverAllOutputsUpToTheLimit) {
  struct Case {
    std::size_t samples, taps, checked;
  };
  for (const Case c : {Case{100, 7, 106}, Case{100'000, 10'000, 109'999}, Case{100'000, 10'001, 0}}) {
    const std::vector<std::size_t> indices = error_indices(c.samples, c.taps, 3);
    if (c.checked != 0) {
      EXPECT_EQ(indices.size(), c.checked) << c.samples << " x " << c.taps;
    } else {
      EXPECT_LT(indices.size(), 2 * c.taps + 1001) << c.samples << " x " << c.taps;
      EXPECT_EQ(indices.back(), c.samples + c.taps - 2);
    }
  }
}

// ---- The exact reference ------------------------------------------------------------

// Small integers: every product and sum is exact in double, so the direct
// stage is exact, the reference must equal it to the bit with nothing left
// over, and the direct stage's error is 0.
TEST(SweepExact, IntegerDataIsExact) {
  std::mt19937_64 generator(3);
  Signal x(2500), h(300);
  for (double& value : x) value = static_cast<double>(static_cast<int>(generator() % 17) - 8);
  for (double& value : h) value = static_cast<double>(static_cast<int>(generator() % 9) - 4);
  const Signal direct = plain_convolution(x, h);
  const std::vector<std::size_t> indices = error_indices(x.size(), h.size(), 5);
  EXPECT_EQ(indices.front(), 0u);
  EXPECT_EQ(indices.back(), direct.size() - 1);
  const ExactOutputs exact = exact_outputs(x, h, indices);
  for (std::size_t at = 0; at < indices.size(); ++at) {
    ASSERT_EQ(exact.high[at], direct[indices[at]]) << "index " << indices[at];
    ASSERT_EQ(exact.low[at], 0.0) << "index " << indices[at];
  }
  SweepRow row{};
  std::string error;
  ASSERT_TRUE(measure_filter_length(x, h, 1, 5, false, row, error)) << error;
  EXPECT_EQ(row.direct_error, 0.0);
  EXPECT_LE(row.fft_error, 64.0 * rounding_scale(x, h));
  EXPECT_LE(row.fft_best_error, 64.0 * rounding_scale(x, h));
}

}  // namespace
