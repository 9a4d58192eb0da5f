#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "signal_io/signal_io.h"
#include "signal_io/signal_io_internal.h"
#include "support/console.h"
#include "support/samples.h"
#include "support/temp_dir.h"

namespace {

using test_support::bitwise_equal;
using test_support::TempDir;
using test_support::write_file;

struct Loaded {
  Status result;
  Signal values;
  std::string console;
};

Loaded load_bytes(const std::string& bytes, Signal initial = {}) {
  TempDir dir;
  const std::string path = dir.file("signal.txt");
  write_file(path, bytes);
  Loaded out{Status::ok, std::move(initial), {}};
  testing::internal::CaptureStdout();
  out.result = load_signal(path, out.values);
  out.console = test_support::captured_console();
  // Tests compare the message with the path replaced by a fixed name.
  std::string shown;
  std::size_t from = 0;
  for (std::size_t at; (at = out.console.find(path, from)) != std::string::npos; from = at + path.size()) {
    shown.append(out.console, from, at - from).append("F");
  }
  out.console = shown.append(out.console, from);
  return out;
}

std::string warning(int line, const std::string& token) { return test_support::reader_warning("F", line, token); }

// ---- Files read to their end: the values, result 0, nothing printed ------------

struct ReadCase {
  const char* name;
  std::string bytes;
  Signal expected;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

class ReaderReadsWholeFile : public testing::TestWithParam<ReadCase> {};

TEST_P(ReaderReadsWholeFile, AppendsEveryValue) {
  const Loaded loaded = load_bytes(GetParam().bytes);
  EXPECT_EQ(loaded.result, Status::ok);
  EXPECT_TRUE(bitwise_equal(GetParam().expected, loaded.values));
  EXPECT_EQ(loaded.console, "");
}

constexpr double denorm_min = std::numeric_limits<double>::denorm_min();
constexpr double double_max = std::numeric_limits<double>::max();

INSTANTIATE_TEST_SUITE_P(
    Grammar, ReaderReadsWholeFile,
    testing::Values(
        ReadCase{"Empty", "", {}},
        ReadCase{"OnlyWhitespace", " \t\r\n\v\f  \n", {}},
        ReadCase{"OneLineNoFinalLineEnd", "1 2 3", {1, 2, 3}},
        ReadCase{"CrLfLines", "1\r\n2\r\n3\r\n", {1, 2, 3}},
        ReadCase{"LfLines", "1\n2\n3\n", {1, 2, 3}},
        ReadCase{"EveryWhitespaceKind", "\v1\t2\f3\r4 \n", {1, 2, 3, 4}},
        ReadCase{"EveryNumberForm", "5 -0.25 .5 3. 1e-5 2.5E+3 -2.25e-007 +7 -.5e1",
                 {5, -0.25, 0.5, 3, 1e-5, 2500, -2.25e-7, 7, -5}},
        ReadCase{"WriterOutput", "1\r\n0.5\r\n-2.25e-007\r\n", {1, 0.5, -2.25e-7}},
        ReadCase{"NegativeZero", "-0 0 -0.0e5", {-0.0, 0.0, -0.0}},
        ReadCase{"NumberEndsWhereItCannotContinue", "1-2+3", {1, -2, 3}},
        ReadCase{"ExponentThenPointStartsNewNumber", "1e5.3", {1e5, 0.3}},
        ReadCase{"SecondPointStartsNewNumber", "1.2.5", {1.2, 0.5}},
        ReadCase{"LeadingZeros", "0000000000000000000000000001.5 -000.000e0", {1.5, -0.0}},
        ReadCase{"SeventeenDigits", "0.10000000000000001 -1.2345678901234567e-100",
                 {0.1, -1.2345678901234567e-100}},
        ReadCase{"LargestDouble", "1.7976931348623157e308 1.7976931348623158e308", {double_max, double_max}},
        ReadCase{"SubnormalsKept", "4.9e-324 2.4703282292062328e-324 1e-310", {denorm_min, denorm_min, 1e-310}},
        ReadCase{"TooSmallRoundsToZero", "1e-400 -1e-400 2e-324", {0.0, -0.0, 0.0}},
        ReadCase{"HugeNegativeExponent", "1e-99999999999999999999999 7", {0.0, 7}}),
    [](const testing::TestParamInfo<ReadCase>& row) { return std::string(row.param.name); });

// ---- Reading stopped at a token: the values before it, result 0, a warning ----

struct StopCase {
  const char* name;
  std::string bytes;
  Signal expected;
  int line;
  std::string token;
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class ReaderStopsAtToken : public testing::TestWithParam<StopCase> {};

TEST_P(ReaderStopsAtToken, KeepsValuesBeforeItAndWarns) {
  const StopCase& c = GetParam();
  const Loaded loaded = load_bytes(c.bytes);
  EXPECT_EQ(loaded.result, Status::ok);
  EXPECT_TRUE(bitwise_equal(c.expected, loaded.values));
  EXPECT_EQ(loaded.console, warning(c.line, c.token));
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ReaderStopsAtToken,
    testing::Values(
        StopCase{"WordAfterValues", "1\n2\nabc\n4\n", {1, 2}, 3, "abc"},
        // CR, LF and CR LF each end one line, also when a chunk ends between CR and LF.
        StopCase{"CrOnlyLineEnds", "1\r2\rabc\r4\r", {1, 2}, 3, "abc"},
        StopCase{"CrLfLineEnds", "1\r\n2\r\nabc\r\n4\r\n", {1, 2}, 3, "abc"},
        StopCase{"MixedLineEnds", "1\r\n\r2\n\rabc", {1, 2}, 5, "abc"},
        StopCase{"CrLfAcrossChunks", std::string(load_chunk_bytes - 1, ' ') + "\r\nabc", {}, 2, "abc"},
        StopCase{"CommaDecimal", "1,5\n2\n", {1}, 1, ",5"},
        StopCase{"HeaderLine", "signal values\n1\n", {}, 1, "signal"},

        StopCase{"LettersAfterNumber", "1.5abc 2", {1.5}, 1, "abc"},
        StopCase{"ExponentWithoutDigits", "1\r\n1.5e 2", {1}, 2, "1.5e"},
        StopCase{"ExponentSignWithoutDigits", "1.5e+x", {}, 1, "1.5e+x"},
        StopCase{"ExponentAtEndOfFile", "3 1.5E", {3}, 1, "1.5E"},
        StopCase{"SignAlone", "- 1", {}, 1, "-"},
        StopCase{"PointAlone", "2 . 1", {2}, 1, "."},
        StopCase{"SignAndPoint", "+.e5", {}, 1, "+.e5"},
        StopCase{"HexadecimalPrefix", "0x10", {0}, 1, "x10"},
        StopCase{"Infinity", "1 inf", {1}, 1, "inf"},
        StopCase{"NotANumber", "nan", {}, 1, "nan"},
        StopCase{"BeyondDoubleRange", "1\n\n2 1e400 3", {1, 2}, 3, "1e400"},
        StopCase{"JustBeyondLargestDouble", "-1.7976931348623159e308", {}, 1, "-1.7976931348623159e308"},
        StopCase{"NulByte", std::string("1\0 2", 4), {1}, 1, "?"},
        StopCase{"ControlBytesShownAsQuestionMarks", std::string("7 \x01\x02z", 5), {7}, 1, "??z"},
        StopCase{"LongTokenCutTo32", "9 abcdefghijklmnopqrstuvwxyz0123456789", {9}, 1,
                 "abcdefghijklmnopqrstuvwxyz012345"}),
    [](const testing::TestParamInfo<StopCase>& row) { return std::string(row.param.name); });

// ---- Opening and appending ---------------------------------------------------------

TEST(ReaderFiles, MissingFileFailsWithMessageAndLeavesSignal) {
  TempDir dir;
  Signal signal{4.0};
  testing::internal::CaptureStdout();
  const Status result = load_signal(dir.file("fir.txt"), signal);
  const std::string console = test_support::captured_console();
  EXPECT_EQ(result, Status::file_error);
  EXPECT_EQ(console, "\nошибка при загрузке файла: " + dir.file("fir.txt") + "\n");
  EXPECT_TRUE(bitwise_equal({4.0}, signal));
}

TEST(ReaderFiles, DirectoryFailsLikeMissingFile) {
  TempDir dir;
  Signal signal{4.0};
  testing::internal::CaptureStdout();
  const Status result = load_signal(dir.path().string(), signal);
  const std::string console = test_support::captured_console();
  EXPECT_EQ(result, Status::file_error);
  EXPECT_EQ(console, "\nошибка при загрузке файла: " + dir.path().string() + "\n");
  EXPECT_TRUE(bitwise_equal({4.0}, signal));
}

// A file with more values than a signal can count is refused whole; the
// limit is lowered here, as no test can write four billion values.
TEST(ReaderFiles, MoreValuesThanTheCountHoldsFails) {
  TempDir dir;
  write_file(dir.file("in.txt"), "1 2 3 4 5");
  struct Case {
    std::size_t limit;
    Status result;
    Signal values;
    std::string console;
  };
  const Case cases[] = {
      {7, Status::ok, {9, 9, 1, 2, 3, 4, 5}, ""},
      {6, Status::too_long, {9, 9}, "\nошибка: слишком много чисел в файле: in.txt\n"},
      {2, Status::too_long, {9, 9}, "\nошибка: слишком много чисел в файле: in.txt\n"},
  };
  for (const Case& c : cases) {
    Signal signal{9, 9};
    std::FILE* file = std::fopen(dir.file("in.txt").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    testing::internal::CaptureStdout();
    const Status result = load_signal_stream(file, "in.txt", signal, c.limit);
    const std::string console = test_support::captured_console();
    std::fclose(file);
    EXPECT_EQ(result, c.result) << "limit " << c.limit;
    EXPECT_TRUE(bitwise_equal(c.values, signal)) << "limit " << c.limit;
    EXPECT_EQ(console, c.console);
  }
}

TEST(ReaderFiles, AppendsAfterExistingValues) {
  const Loaded loaded = load_bytes("3 4", {1, 2});
  EXPECT_EQ(loaded.result, Status::ok);
  EXPECT_TRUE(bitwise_equal({1, 2, 3, 4}, loaded.values));
}

TEST(ReaderFiles, NameIsUsedUnchangedAsRelativePath) {
  TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  write_file("input.txt", "2.5\r\n");
  Signal signal;
  const Status result = load_signal("input.txt", signal);
  std::filesystem::current_path(previous);
  EXPECT_EQ(result, Status::ok);
  EXPECT_TRUE(bitwise_equal({2.5}, signal));
}

// ---- Tokens that cross the reader's chunk boundary ------------------------------
//
// Each token is placed so that it starts a few bytes before, at, or after a
// chunk boundary; the values and the warning must not depend on where.

class ReaderChunkBoundary : public testing::TestWithParam<std::string> {};

TEST_P(ReaderChunkBoundary, TokenReadsAlikeAtEveryOffset) {
  const std::string token = GetParam();
  const Loaded reference = load_bytes(token + " 7");
  for (const std::size_t boundary : {load_chunk_bytes, 2 * load_chunk_bytes}) {
    for (std::size_t before = 0; before <= token.size() + 1; ++before) {
      const std::string padding(boundary - before, ' ');
      const Loaded shifted = load_bytes(padding + token + " 7");
      EXPECT_EQ(shifted.result, Status::ok);
      EXPECT_TRUE(bitwise_equal(reference.values, shifted.values)) << token << " starting " << before << " bytes before "
                                                                 << boundary;
      EXPECT_EQ(shifted.console, reference.console) << token << " starting " << before << " bytes before " << boundary;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Tokens, ReaderChunkBoundary,
                         testing::Values("123", "-1.2345678901234567e-100", "+.5E+3", "1e-400", "4.9e-324", "1.5e",
                                         "1.5e+", "1e400", "abc", "1.5abc", "-", "0.30000000000000004"));

// ---- Tokens longer than a chunk -----------------------------------------------------

TEST(ReaderLongTokens, MegabyteOfDigitsIsOutOfRange) {
  const Loaded loaded = load_bytes("5\n" + std::string(1'000'000, '1') + "\n6");
  EXPECT_EQ(loaded.result, Status::ok);
  EXPECT_TRUE(bitwise_equal({5}, loaded.values));
  EXPECT_EQ(loaded.console, warning(2, std::string(32, '1')));
}

TEST(ReaderLongTokens, MegabyteOfFractionDigitsRoundsCorrectly) {
  // 0.333... with a million digits is 1/3 to double precision.
  const Loaded thirds = load_bytes("0." + std::string(1'000'000, '3') + " 2");
  EXPECT_TRUE(bitwise_equal({1.0 / 3.0, 2}, thirds.values));
  // 1 + 2^-53 lies exactly halfway between 1 and the next double and rounds
  // to even; any non-zero digit a million places later tips it upwards.
  const std::string halfway = "1.00000000000000011102230246251565404236316680908203125";
  const std::string zeros(1'000'000, '0');
  const Loaded tie = load_bytes(halfway + zeros);
  EXPECT_TRUE(bitwise_equal({1.0}, tie.values));
  const Loaded above = load_bytes(halfway + zeros + "1");
  EXPECT_TRUE(bitwise_equal({std::nextafter(1.0, 2.0)}, above.values));
}

TEST(ReaderLongTokens, LongLeadingZerosAndHugeExponent) {
  const std::string zeros(200'000, '0');
  const Loaded loaded =
      load_bytes(zeros + "2.5 0." + zeros + "25e200001 1e" + zeros + "3 1e-" + std::string(100'000, '9'));
  EXPECT_EQ(loaded.result, Status::ok);
  EXPECT_TRUE(bitwise_equal({2.5, 2.5, 1000, 0.0}, loaded.values));
  EXPECT_EQ(loaded.console, "");
}

}  // namespace
