// The program end to end: run in a temporary directory with its console
// captured, as a user would start it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>

#include "messages/messages.h"
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

// A stage time as the writer formats numbers: six significant digits, a
// three-digit exponent when there is one.
const std::string time_pattern = R"(\d+(\.\d+)?(e[+-]\d{3})?)";

// Both stages on one run: their results and their time lines, the FFT line
// directly after the direct one, on the console and in the log.
TEST(RunStages, WriteResultsAndTimeLines) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1 2 3");
  write_file(dir.file("fir.txt"), "1 1");
  const auto run = run_program(FIR_BENCH_EXE, dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(read_file(dir.file("output_linear.txt")), "1\r\n3\r\n5\r\n3\r\n");
  // Blocks of 4 samples, one block: 4 * (1 + 2) values, tail included.
  const std::string fft = read_file(dir.file("output_fft.txt"));
  EXPECT_EQ(std::count(fft.begin(), fft.end(), '\n'), 12);
  EXPECT_EQ(fft.rfind("1\r\n3\r\n5\r\n3\r\n", 0), 0u) << fft;
  const std::regex console_lines("\n\nлинейная свёртка[.][.][.]\t" + time_pattern + " мс\n" +
                                 "свёртка через fft[.][.][.]\t" + time_pattern + " мс\n");
  EXPECT_TRUE(std::regex_search(run.console, console_lines)) << run.console;
  const std::regex log_lines(CP1251(u8"\r\nлинейная свёртка[.][.][.]\t") + time_pattern +
                             CP1251(u8" мс\r\nсвёртка через fft[.][.][.]\t") + time_pattern + CP1251(u8" мс\r\n"));
  EXPECT_TRUE(std::regex_search(read_file(dir.file("log.txt")), log_lines));
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
