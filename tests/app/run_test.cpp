// The program end to end: run in a temporary directory with its console
// captured, as a user would start it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "app/run_expect.h"

namespace {

using namespace test_support;

bool any_result_file(const TempDir& dir) {
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    if (std::filesystem::exists(dir.file(name))) return true;
  }
  return false;
}

TEST(RunEarlyExit, MissingInputSkipsEverythingElse) {
  TempDir dir;
  write_file(dir.file("fir.txt"), "not read\n");  // would print a warning if read
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, "загрузка данных...\t\nошибка при загрузке файла: input.txt\n" + closing);
  EXPECT_EQ(read_file(dir.file("log.txt")), CP1251(u8"загрузка данных...\t"));
  EXPECT_FALSE(any_result_file(dir));
}

TEST(RunEarlyExit, MissingFirAfterSampleCount) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1\r\n2\r\n3\r\n");
  const auto run = run_program(dir.path().string());
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
  const auto run = run_program(dir.path().string(), "x");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.console.starts_with("загрузка данных...\t3 samples\nзагрузка FIR фильтра...\t2 taps\n\n"))
      << run.console;
  EXPECT_TRUE(read_file(dir.file("log.txt")).starts_with(CP1251(u8"загрузка данных...\t3 samples\r\nзагрузка FIR фильтра...\t2 taps\r\n")));
}

// What reading found, each warning a line of its own after the count line
// it concerns, on the console only: the token that ended reading, a
// byte-order mark named as one, a file that holds no value, lines that
// look like columns. What is read stays as it is.
struct WarningCase {
  const char* name;
  std::string input, fir;
  std::string console_start;
};
void PrintTo(const WarningCase& c, std::ostream* os) { *os << c.name; }

class RunWarnings : public testing::TestWithParam<WarningCase> {};

TEST_P(RunWarnings, FollowTheirCountLine) {
  TempDir dir;
  write_file(dir.file("input.txt"), GetParam().input);
  write_file(dir.file("fir.txt"), GetParam().fir);
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.console.starts_with(GetParam().console_start)) << run.console;
  EXPECT_EQ(read_file(dir.file("log.txt")).find(CP1251(u8"предупреждение")), std::string::npos);
}

const std::string counts = "загрузка данных...\t";
const std::string no_samples = "предупреждение: в файле input.txt нет ни одного отсчёта\n";
const std::string no_taps = "предупреждение: в файле fir.txt нет ни одного коэффициента: все результаты равны нулю\n";

INSTANTIATE_TEST_SUITE_P(
    Table, RunWarnings,
    testing::Values(
        WarningCase{"EmptyFiles", "", " \r\n", counts + "0 samples\n" + no_samples + "загрузка FIR фильтра...\t0 taps\n" +
                                                     no_taps + "\n"},
        WarningCase{"ByteOrderMark", "\xEF\xBB\xBF" "1.5\r\n2\r\n", "1",
                    counts + "0 samples\nпредупреждение: файл input.txt начинается с метки порядка байтов UTF-8, а это не "
                             "число: файл не прочитан\n" + no_samples + "загрузка FIR фильтра...\t1 taps\n"},
        WarningCase{"HeaderLine", "time value\n0 1\n", "1",
                    counts + "0 samples\nпредупреждение: файл input.txt, строка 1: не число \"time\", остаток файла "
                             "пропущен\n" + no_samples},
        WarningCase{"TwoColumns", "0 1.5\r\n1 2.5\r\n2 3.5\r\n", "0.5 0.5",
                    counts + "6 samples\nпредупреждение: в каждой строке файла input.txt поровну значений (2): файл "
                             "прочитан как одна последовательность из 6 значений, а не как столбцы\nзагрузка FIR"},
        WarningCase{"OneLineOfTapsIsNoTable", "1\n2\n", "0.25 0.5 0.25",
                    counts + "2 samples\nзагрузка FIR фильтра...\t3 taps\n\n"}),
    [](const testing::TestParamInfo<WarningCase>& row) { return std::string(row.param.name); });

struct LengthCase {
  std::size_t samples, taps;
  std::size_t fft_length;  // the overlap-add stage's output length
};
void PrintTo(const LengthCase& c, std::ostream* os) { *os << "N=" << c.samples << " M=" << c.taps; }

class RunCompleteLengths : public testing::TestWithParam<LengthCase> {};

// Console and log follow the layout line by line; the direct result and the
// difference hold N + M - 1 values, the FFT result its whole blocks.
TEST_P(RunCompleteLengths, LayoutAndResultFileLengths) {
  const LengthCase& c = GetParam();
  TempDir dir;
  write_samples(dir.file("input.txt"), c.samples, 1.0);
  write_samples(dir.file("fir.txt"), c.taps, 0.125);
  run_complete(dir, c.samples, c.taps);
  const std::size_t full = c.samples + c.taps == 0 ? 0 : c.samples + c.taps - 1;
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
  EXPECT_TRUE(fft.starts_with("1\r\n3\r\n5\r\n3\r\n")) << fft;
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

// A result file that cannot be written is named after the deviations, on
// the console and in the log; the other two are still written, and the exit
// code says that a result is missing.
TEST(RunCompleteValues, UnwritableFftResultSkipsOnlyThatFile) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 100, 1.0);
  write_samples(dir.file("fir.txt"), 4, 0.5);
  std::filesystem::create_directory(dir.file("output_fft.txt"));
  run_complete(dir, 100, 4, {"output_fft.txt"});
  EXPECT_EQ(line_count(dir.file("output_linear.txt")), 103u);
  EXPECT_EQ(line_count(dir.file("output_diff.txt")), 103u);
}

TEST(RunCompleteValues, ExampleDataAgreesWithinRounding) {
  TempDir dir;
  copy_examples(dir);
  const Deviations deviations = run_complete(dir, 100000, 64);
  EXPECT_LT(std::stod(deviations.rms), 1e-12);
  EXPECT_LT(std::stod(deviations.max_abs), 1e-12);
}

TEST(RunLog, SecondRunReplacesLog) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1 2 3");
  write_file(dir.file("fir.txt"), "1");
  ASSERT_EQ(run_program(dir.path().string()).exit_code, 0);
  std::filesystem::remove(dir.file("input.txt"));
  ASSERT_EQ(run_program(dir.path().string()).exit_code, 0);
  EXPECT_EQ(read_file(dir.file("log.txt")), CP1251(u8"загрузка данных...\t"));
}

// A second run in the same folder while the first waits at its prompt finds
// the log in use, says so and touches nothing; the first run's log and
// results stay whole.
TEST(RunLog, SecondRunAtOnceFindsTheLogInUse) {
  TempDir reference, dir;
  copy_examples(reference);
  copy_examples(dir);
  run_complete(reference, 100000, 64);
  StartedProcess first = start_held(program("fir_bench"), dir.path().string());
  for (int wait = 0; wait < 3000 && read_file(dir.file("log.txt")).find(CP1251(u8"максимальное")) == std::string::npos;
       ++wait) {
    usleep(10'000);
  }
  const std::string first_log = read_file(dir.file("log.txt"));
  const auto second = run_program(dir.path().string());
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_EQ(second.console, "\nошибка: файл log.txt занят другим запуском\n" + closing);
  EXPECT_EQ(read_file(dir.file("log.txt")), first_log);
  expect_complete(finish_command(first), read_file(dir.file("log.txt")), 100000, 64);
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    EXPECT_TRUE(read_file(dir.file(name)) == read_file(reference.file(name))) << name;
  }
}

// A log that is a link to a device is shared by runs in other folders: it
// is not locked, and a run there goes on.
TEST(RunLog, LogLinkedToADeviceIsNotLocked) {
  if (windows_programs()) GTEST_SKIP() << "a link to /dev/null is a POSIX folder's";
  TempDir first_dir, second_dir;
  for (const TempDir* dir : {&first_dir, &second_dir}) {
    write_file(dir->file("input.txt"), "1 2 3");
    write_file(dir->file("fir.txt"), "1");
    std::filesystem::create_symlink("/dev/null", dir->file("log.txt"));
  }
  StartedProcess first = start_held(program("fir_bench"), first_dir.path().string());
  for (int wait = 0; wait < 3000 && !std::filesystem::exists(first_dir.file("output_diff.txt")); ++wait) usleep(10'000);
  const auto second = run_program(second_dir.path().string());
  EXPECT_EQ(second.exit_code, 0) << second.console;
  EXPECT_EQ(finish_command(first).exit_code, 0);
}

TEST(RunLog, UnwritableLogChangesNothingOnConsole) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("log.txt"));
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, "загрузка данных...\t\nошибка при загрузке файла: input.txt\n" + closing);
}

}  // namespace
