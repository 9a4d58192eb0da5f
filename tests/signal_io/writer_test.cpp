#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <ios>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#if !defined(_WIN32)
#include <csignal>
#include <sys/resource.h>
#endif

#include "signal_io/signal_io.h"
#include "support/console.h"
#include "support/random_values.h"
#include "support/temp_dir.h"

namespace {

using test_support::read_file;
using test_support::TempDir;
using test_support::write_file;

// ---- The text of one value ------------------------------------------------------

struct TextCase {
  double value;
  const char* text;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.text; }

class ValueTextFormat : public testing::TestWithParam<TextCase> {};

TEST_P(ValueTextFormat, GeneralSixDigitsThreeDigitExponent) {
  EXPECT_EQ(format_value(GetParam().value).view(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ValueTextFormat,
    testing::Values(TextCase{0.0001, "0.0001"}, TextCase{0.00001, "1e-005"}, TextCase{123456, "123456"},
                    TextCase{1234567, "1.23457e+006"}, TextCase{1000000, "1e+006"}, TextCase{999999.7, "1e+006"},
                    TextCase{3.14159265, "3.14159"}, TextCase{-0.25, "-0.25"}, TextCase{0.0, "0"},
                    TextCase{1.0, "1"}, TextCase{0.5, "0.5"}, TextCase{-2.25e-7, "-2.25e-007"}));

INSTANTIATE_TEST_SUITE_P(
    Boundaries, ValueTextFormat,
    testing::Values(TextCase{-0.0, "0"}, TextCase{999999.4, "999999"}, TextCase{0.000123456, "0.000123456"},
                    TextCase{0.0000999999, "9.99999e-005"}, TextCase{0.00009999996, "0.0001"},
                    TextCase{1e100, "1e+100"}, TextCase{-1.5e-300, "-1.5e-300"}, TextCase{1e-10, "1e-010"},
                    TextCase{std::numeric_limits<double>::max(), "1.79769e+308"},
                    TextCase{-std::numeric_limits<double>::max(), "-1.79769e+308"},
                    TextCase{std::numeric_limits<double>::denorm_min(), "4.94066e-324"},
                    TextCase{std::numeric_limits<double>::infinity(), "inf"},
                    TextCase{-std::numeric_limits<double>::infinity(), "-inf"},
                    TextCase{std::numeric_limits<double>::quiet_NaN(), "nan"},
                    TextCase{-std::numeric_limits<double>::quiet_NaN(), "nan"}));

// The C library's "%.6g" with its exponent widened to three digits: an
// independent reference for every finite non-zero value.
std::string reference_text(double value) {
  char buffer[32];
  const int length = std::snprintf(buffer, sizeof buffer, "%.6g", value);
  const std::string_view text(buffer, static_cast<std::size_t>(length));
  const std::size_t mark = text.find('e');
  if (mark == std::string_view::npos || text.size() - (mark + 2) != 2) return std::string(text);
  return std::string(text.substr(0, mark + 2)) + '0' + std::string(text.substr(mark + 2));
}

void expect_reference(double value) {
  ASSERT_EQ(format_value(value).view(), reference_text(value)) << std::hexfloat << value;
}

TEST(ValueTextAgainstPrintf, RandomMagnitudesAcrossTheRange) {
  std::mt19937_64 generator(11);
  for (int k = 0; k < 400'000; ++k) expect_reference(test_support::random_magnitude(generator, -12.0, 18.0));
}

TEST(ValueTextAgainstPrintf, RandomBitPatterns) {
  std::mt19937_64 generator(12);
  for (int k = 0; k < 200'000; ++k) {
    const double value = std::bit_cast<double>(generator());
    if (std::isfinite(value) && value != 0.0) expect_reference(value);
  }
}

// Decimal halves at the seventh digit and their neighbours, where a scaled
// value lands next to .5 and the rounding direction depends on the last
// bits; and values next to every power of ten, where the digit count flips.
TEST(ValueTextAgainstPrintf, HalvesAndPowersOfTen) {
  std::mt19937_64 generator(13);
  for (int e10 = -9; e10 <= 16; ++e10) {
    for (int k = 0; k < 2000; ++k) {
      const auto digits = 1'000'000 + generator() % 9'000'000;
      const std::string text = std::to_string(digits / 10) + "5e" + std::to_string(e10 - 6);
      double value = 0.0;
      std::from_chars(text.data(), text.data() + text.size(), value);
      for (double v : {value, std::nextafter(value, 0.0), std::nextafter(value, 1e300)}) expect_reference(v);
    }
    const double power = std::pow(10.0, e10);
    for (double v = power, step = 0; step < 4; ++step, v = std::nextafter(v, 0.0)) expect_reference(v);
    for (double v = power, step = 0; step < 4; ++step, v = std::nextafter(v, 1e300)) expect_reference(v);
    expect_reference(power * 0.9999995);
    expect_reference(power * 9.999995);
  }
}

// ---- Whole files ------------------------------------------------------------------

struct Saved {
  Status result;
  std::string bytes;
  std::string console;
};

Saved save_and_read(const std::string& path, const Signal& signal) {
  testing::internal::CaptureStdout();
  const Status result = save_signal(path, signal);
  const std::string console = test_support::captured_console();
  return {result, read_file(path), console};
}

TEST(WriterFiles, ThreeValuesGiveTwentyBytes) {
  TempDir dir;
  const Saved saved = save_and_read(dir.file("out.txt"), {1.0, 0.5, -2.25e-7});
  EXPECT_EQ(saved.result, Status::ok);
  EXPECT_EQ(saved.bytes, "1\r\n0.5\r\n-2.25e-007\r\n");
  EXPECT_EQ(saved.bytes.size(), 20u);
  EXPECT_EQ(saved.console, "");
}

TEST(WriterFiles, EmptySignalTruncatesToZeroBytes) {
  TempDir dir;
  const std::string path = dir.file("out.txt");
  write_file(path, "old contents\r\n");
  const Saved saved = save_and_read(path, {});
  EXPECT_EQ(saved.result, Status::ok);
  EXPECT_EQ(saved.bytes, "");
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(WriterFiles, ReadsBackAsTheSixDigitValues) {
  std::mt19937_64 generator(7);
  Signal signal;
  for (int i = 0; i < 2000; ++i) {
    // Mixed signs and magnitudes from raw bits; non-finite patterns skipped.
    const double value = std::bit_cast<double>(generator());
    if (std::isfinite(value)) signal.push_back(value);
  }
  TempDir dir;
  const std::string path = dir.file("out.txt");
  ASSERT_EQ(save_signal(path, signal), Status::ok);
  Signal read;
  ASSERT_EQ(load_signal(path, read), Status::ok);
  ASSERT_EQ(read.size(), signal.size());
  for (std::size_t i = 0; i < signal.size(); ++i) {
    const ValueText text = format_value(signal[i]);
    double six_digits = 0.0;
    std::from_chars(text.bytes.data(), text.bytes.data() + text.size, six_digits);
    if (six_digits == 0.0) six_digits = 0.0;  // the writer drops the sign of zero
    ASSERT_EQ(std::bit_cast<std::uint64_t>(read[i]), std::bit_cast<std::uint64_t>(six_digits)) << "index " << i;
  }
}

TEST(WriterFiles, UncreatableFileFailsAndCreatesNothing) {
  TempDir dir;
  const std::string path = dir.file("missing/out.txt");
  const Saved saved = save_and_read(path, {1.0});
  EXPECT_EQ(saved.result, Status::file_error);
  EXPECT_EQ(saved.console, "");  // the caller names the file
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(WriterFiles, FullDeviceReportsTheFailedWrite) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "this system has no /dev/full";
  EXPECT_EQ(save_signal("/dev/full", {1.0, 2.0}), Status::file_error);
}

#if !defined(_WIN32)
// A write that fails part of the way through a line (here at a file-size
// limit of `limit` bytes) cuts the file back to its last complete line.
struct LimitCase {
  rlim_t limit;
  const char* kept;
};
void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.limit << " bytes"; }

class WriterAtSizeLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(WriterAtSizeLimit, KeepsOnlyWholeLines) {
  TempDir dir;
  const std::string path = dir.file("out.txt");
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  if (before.rlim_max != RLIM_INFINITY && before.rlim_max < 20) GTEST_SKIP() << "a lower file-size limit is set";
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // as the program has it
  const rlimit limited{GetParam().limit, before.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const Status result = save_signal(path, {1.0, 0.5, -2.25e-7});
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  const bool whole = std::string_view(GetParam().kept).size() == 20;
  EXPECT_EQ(result, whole ? Status::ok : Status::file_error);
  EXPECT_EQ(read_file(path), GetParam().kept);
}

INSTANTIATE_TEST_SUITE_P(Limits, WriterAtSizeLimit,
                         testing::Values(LimitCase{0, ""}, LimitCase{2, ""}, LimitCase{3, "1\r\n"},
                                         LimitCase{7, "1\r\n"}, LimitCase{8, "1\r\n0.5\r\n"},
                                         LimitCase{19, "1\r\n0.5\r\n"},
                                         LimitCase{20, "1\r\n0.5\r\n-2.25e-007\r\n"}));
#endif

}  // namespace
