// The sweep over filter lengths: its command line, its table and its
// exact reference. No test asserts a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "dsp/dsp.h"
#include "dsp/dsp_internal.h"
#include "support/plain_convolution.h"
#include "support/process.h"
#include "support/random_values.h"
#include "support/temp_dir.h"
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
                    OptionError{{"--length", "-5"}, "--length: expected a sample count of at least 1, got '-5'"}));

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

TEST(SweepProgram, BadOptionWritesNothing) {
  TempDir dir;
  const ProcessResult run = run_command({FIR_SWEEP_EXE, "--out", "table.tsv", "--repeat", "x"}, dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.errors, "fir_sweep: --repeat: expected a count from 1 to 1000, got 'x'\n");
  EXPECT_EQ(run.console, "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("table.tsv")));
}

// ---- The table of a small sweep -----------------------------------------------------

TEST(SweepTable, RowsAtRoundingLevel) {
  std::mt19937_64 generator(7);
  Signal x(3000);
  for (double& value : x) value = 2.0 * random_unit(generator) - 1.0;
  std::string text = sweep_header();
  EXPECT_EQ(text,
            "taps\tblock\tdirect_min_ms\tdirect_median_ms\tfft_min_ms\tfft_median_ms\trms\tmax_abs\tdirect_error\t"
            "fft_error\n");
  for (const std::size_t taps : {1u, 7u, 64u, 1025u}) {
    const Signal h = sweep_filter(taps);
    SweepRow row{};
    std::string error;
    ASSERT_TRUE(measure_filter_length(x, h, 2, 11, row, error)) << error;
    dsp_internal::OverlapAddLayout layout{};
    dsp_internal::overlap_add_layout(x.size(), taps, layout);
    EXPECT_EQ(row.taps, taps);
    EXPECT_EQ(row.block, layout.block_length) << "M = " << taps;
    const double bound = 64.0 * rounding_scale(x, h);
    for (const double value : {row.rms, row.max_abs, row.direct_error, row.fft_error}) {
      EXPECT_LE(value, bound) << "M = " << taps;
    }
    text += sweep_row_text(row);
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
}

TEST(SweepTable, CrossoverIsWhereFftStaysFaster) {
  const auto rows = [](std::vector<std::pair<double, double>> times) {
    std::vector<SweepRow> out;
    for (std::size_t k = 0; k < times.size(); ++k) {
      out.push_back({std::size_t{1} << k, 0, times[k].first, 0, times[k].second, 0, 0, 0, 0, 0});
    }
    return out;
  };
  EXPECT_EQ(fft_crossover(rows({{1, 5}, {2, 5}, {8, 5}, {20, 6}})), std::size_t{4});
  EXPECT_EQ(fft_crossover(rows({{1, 5}, {9, 5}, {4, 5}, {20, 6}})), std::size_t{8});  // dips back, then stays
  EXPECT_EQ(fft_crossover(rows({{1, 5}, {9, 5}, {20, 30}})), std::nullopt);
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
  ASSERT_TRUE(measure_filter_length(x, h, 1, 5, row, error)) << error;
  EXPECT_EQ(row.direct_error, 0.0);
  EXPECT_LE(row.fft_error, 64.0 * rounding_scale(x, h));
}

}  // namespace
