// The program end to end: run in a temporary directory with its console
// captured, as a user would start it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <ostream>
#include <string>
#include <string_view>

#include "messages/messages.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "support/files.h"
#include "support/process.h"

namespace {

using test_support::read_file;
using test_support::run_program;
using test_support::TempDir;
using test_support::write_file;

const std::string closing = "\nнажмите любую клавишу для выхода...\n";

// The Windows-1251 bytes of a UTF-8 literal, as "log.txt" holds them.
#define CP1251(utf8_literal) std::string(messages::to_cp1251(utf8_literal).view())

bool any_result_file(const TempDir& dir) {
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    if (std::filesystem::exists(dir.file(name))) return true;
  }
  return false;
}

TEST(RunEarlyExit, MissingInputSkipsEverythingElse) {
  TempDir dir;
  write_file(dir.file("fir.txt"), "not read\n");  // would print a warning if read
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, "загрузка данных...\t\nошибка при загрузке файла: input.txt\n" + closing);
  EXPECT_EQ(read_file(dir.file("log.txt")), CP1251(u8"загрузка данных...\t"));
  EXPECT_FALSE(any_result_file(dir));
}

TEST(RunEarlyExit, MissingFirAfterSampleCount) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1\r\n2\r\n3\r\n");
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console,
            "загрузка данных...\t3 samples\nзагрузка FIR фильтра...\t\nошибка при загрузке файла: fir.txt\n" + closing);
  EXPECT_EQ(read_file(dir.file("log.txt")), CP1251(u8"загрузка данных...\t3 samples\r\nзагрузка FIR фильтра...\t"));
  EXPECT_FALSE(any_result_file(dir));
}

TEST(RunCounts, GoodPairReportsCountsOnConsoleAndLog) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1 2 3");
  write_file(dir.file("fir.txt"), "1\n1\n");
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string(), "x");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console.rfind("загрузка данных...\t3 samples\nзагрузка FIR фильтра...\t2 taps\n\n", 0), 0u)
      << run.console;
  EXPECT_EQ(read_file(dir.file("log.txt")).rfind(CP1251(u8"загрузка данных...\t3 samples\r\nзагрузка FIR фильтра...\t2 taps\r\n"), 0), 0u);
}

TEST(RunCounts, EmptyFilesCountZero) {
  TempDir dir;
  write_file(dir.file("input.txt"), "");
  write_file(dir.file("fir.txt"), " \r\n");
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console.rfind("загрузка данных...\t0 samples\nзагрузка FIR фильтра...\t0 taps\n\n", 0), 0u)
      << run.console;
}

// ---- A complete run ---------------------------------------------------------

// `text` as a regular expression that matches exactly it.
std::string literal(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

// A stage time as the writer formats numbers: six significant digits, a
// three-digit exponent when there is one.
const std::string time_pattern = R"(\d+(?:\.\d+)?(?:e[+-]\d{3})?)";
// A deviation, captured: the same format, or nan / inf.
const std::string deviation_pattern = R"((nan|inf|\d+(?:\.\d+)?(?:e[+-]\d{3})?))";

// The console of a complete run with N samples and M taps, line by line;
// `after_deviations` is what the result files print (nothing when all are
// written). Captures the two deviations.
std::regex complete_console(std::size_t n, std::size_t m, const std::string& after_deviations = "") {
  return std::regex(literal("загрузка данных...\t" + std::to_string(n) + " samples\n") +
                    literal("загрузка FIR фильтра...\t" + std::to_string(m) + " taps\n") + "\n" +
                    literal("линейная свёртка...\t") + time_pattern + " мс\n" +
                    literal("свёртка через fft...\t") + time_pattern + " мс\n" + "\n" +
                    literal("разница между линейной свёрткой и fft:\n") +
                    literal("   среднеквадратическое отклонение = ") + deviation_pattern + "\n" +
                    literal("максимальное абсолютное отклонение = ") + deviation_pattern + "\n" +
                    literal(after_deviations) + literal(closing));
}

// "log.txt" of a complete run: eight lines, Windows-1251, CR LF.
std::regex complete_log(std::size_t n, std::size_t m) {
  return std::regex(literal(CP1251(u8"загрузка данных...\t") + std::to_string(n) + " samples\r\n") +
                    literal(CP1251(u8"загрузка FIR фильтра...\t") + std::to_string(m) + " taps\r\n") +
                    literal(CP1251(u8"линейная свёртка...\t")) + time_pattern + literal(CP1251(u8" мс\r\n")) +
                    literal(CP1251(u8"свёртка через fft...\t")) + time_pattern + literal(CP1251(u8" мс\r\n")) +
                    "\r\n" + literal(CP1251(u8"разница между линейной свёрткой и fft:\r\n")) +
                    literal(CP1251(u8"   среднеквадратическое отклонение = ")) + deviation_pattern + "\r\n" +
                    literal(CP1251(u8"максимальное абсолютное отклонение = ")) + deviation_pattern + "\r\n");
}

struct Deviations {
  std::string rms, max_abs;  // as printed
};

// Runs the program in `dir`, checks the console and the log against the
// complete-run layout for N and M, and returns the deviations they show
// (the same in both).
Deviations run_complete(const TempDir& dir, std::size_t n, std::size_t m, const std::string& after_deviations = "") {
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  std::smatch console;
  if (!std::regex_match(run.console, console, complete_console(n, m, after_deviations))) {
    ADD_FAILURE() << "console:\n" << run.console;
    return {};
  }
  const std::string log_text = read_file(dir.file("log.txt"));
  std::smatch log;
  EXPECT_TRUE(std::regex_match(log_text, log, complete_log(n, m))) << "log:\n" << log_text;
  if (log.size() == 3) {
    EXPECT_EQ(log[1], console[1]);
    EXPECT_EQ(log[2], console[2]);
  }
  return {console[1], console[2]};
}

std::size_t line_count(const std::filesystem::path& file) {
  const std::string text = read_file(file);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A signal file with `count` values in the writer's format.
void write_samples(const std::filesystem::path& file, std::size_t count, double scale) {
  Signal values(count);
  for (std::size_t k = 0; k < count; ++k) values[k] = scale * static_cast<double>(k % 7) - 2.5;
  ASSERT_EQ(save_signal(file.string(), values), 0);
}

struct LengthCase {
  std::size_t n, m;
  std::size_t fft_length;  // the overlap-add stage's output length
};
void PrintTo(const LengthCase& c, std::ostream* os) { *os << "N=" << c.n << " M=" << c.m; }

class RunCompleteLengths : public testing::TestWithParam<LengthCase> {};

// Console and log follow the layout line by line; the direct result and the
// difference hold N + M - 1 values, the FFT result its whole blocks.
TEST_P(RunCompleteLengths, LayoutAndResultFileLengths) {
  const LengthCase& c = GetParam();
  TempDir dir;
  write_samples(dir.file("input.txt"), c.n, 1.0);
  write_samples(dir.file("fir.txt"), c.m, 0.125);
  run_complete(dir, c.n, c.m);
  const std::size_t full = c.n + c.m == 0 ? 0 : c.n + c.m - 1;
  EXPECT_EQ(line_count(dir.file("output_linear.txt")), full);
  EXPECT_EQ(line_count(dir.file("output_fft.txt")), c.fft_length);
  EXPECT_EQ(line_count(dir.file("output_diff.txt")), full);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RunCompleteLengths,
                         testing::Values(LengthCase{3, 2, 12}, LengthCase{1000, 10, 3072}, LengthCase{2049, 100, 5120},
                                         LengthCase{300, 31, 1536}, LengthCase{0, 5, 16},
                                         // No taps: count 0, N - 1 values in direct and difference.
                                         LengthCase{10, 0, 48}, LengthCase{1, 0, 3}));

TEST(RunCompleteValues, SmallCaseExactResults) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1 2 3");
  write_file(dir.file("fir.txt"), "1 1");
  run_complete(dir, 3, 2);
  EXPECT_EQ(read_file(dir.file("output_linear.txt")), "1\r\n3\r\n5\r\n3\r\n");
  const std::string fft = read_file(dir.file("output_fft.txt"));
  EXPECT_EQ(fft.rfind("1\r\n3\r\n5\r\n3\r\n", 0), 0u) << fft;
}

// One tap of 1.0: the direct result is the input, as the writer prints it,
// and the FFT stage reproduces it within the transforms' rounding.
TEST(RunCompleteValues, UnitTapReproducesInput) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 5000, 0.37);
  write_file(dir.file("fir.txt"), "1.0\n");
  const Deviations deviations = run_complete(dir, 5000, 1);
  EXPECT_EQ(read_file(dir.file("output_linear.txt")), read_file(dir.file("input.txt")));
  EXPECT_LT(std::stod(deviations.rms), 1e-14);
  EXPECT_LT(std::stod(deviations.max_abs), 1e-14);
}

TEST(RunCompleteValues, NothingToFilterGivesEmptyFilesAndNanRms) {
  TempDir dir;
  write_file(dir.file("input.txt"), "");
  write_file(dir.file("fir.txt"), "");
  const Deviations deviations = run_complete(dir, 0, 0);
  EXPECT_EQ(deviations.rms, "nan");
  EXPECT_EQ(deviations.max_abs, "0");
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.file(name))) << name;
    EXPECT_EQ(read_file(dir.file(name)), "") << name;
  }
}

// A result file that cannot be written prints the writer's message after the
// deviations; the other two are still written and the run ends normally.
TEST(RunCompleteValues, UnwritableFftResultSkipsOnlyThatFile) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 100, 1.0);
  write_samples(dir.file("fir.txt"), 4, 0.5);
  std::filesystem::create_directory(dir.file("output_fft.txt"));
  run_complete(dir, 100, 4, "\nошибка при записи файла: output_fft.txt\n");
  EXPECT_EQ(line_count(dir.file("output_linear.txt")), 103u);
  EXPECT_EQ(line_count(dir.file("output_diff.txt")), 103u);
}

TEST(RunCompleteValues, ExampleDataAgreesWithinRounding) {
  TempDir dir;
  for (const char* name : {"input.txt", "fir.txt"}) {
    std::filesystem::copy_file(std::filesystem::path(FIR_EXAMPLES_DIR) / name, dir.file(name));
  }
  const Deviations deviations = run_complete(dir, 100000, 64);
  EXPECT_LT(std::stod(deviations.rms), 1e-12);
  EXPECT_LT(std::stod(deviations.max_abs), 1e-12);
}

TEST(RunLog, SecondRunReplacesLog) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1 2 3");
  write_file(dir.file("fir.txt"), "1");
  ASSERT_EQ(run_program(FIR_BENCH_EXE, dir.path().string()).exit_code, 0);
  std::filesystem::remove(dir.file("input.txt"));
  ASSERT_EQ(run_program(FIR_BENCH_EXE, dir.path().string()).exit_code, 0);
  EXPECT_EQ(read_file(dir.file("log.txt")), CP1251(u8"загрузка данных...\t"));
}

TEST(RunLog, UnwritableLogChangesNothingOnConsole) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("log.txt"));
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, "загрузка данных...\t\nошибка при загрузке файла: input.txt\n" + closing);
}

}  // namespace
