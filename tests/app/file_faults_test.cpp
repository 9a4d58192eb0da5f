// Files that fail under complete runs in process: a disk that fills under
// one result file or the log, another run that takes the log between this
// run's open and its lock, an input link pointed elsewhere once it is read.
#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/fault_injection.h"
#include "app/run_expect.h"

using namespace fault_injection;

namespace {

using namespace test_support;

// ---- A full disk under one result file -------------------------------------------

struct DiskCase {
  const char* file;
  std::size_t room;  // bytes that still fit on the disk
};
void PrintTo(const DiskCase& c, std::ostream* os) { *os << c.file << " after " << c.room << " bytes"; }

class FullDiskUnder : public testing::TestWithParam<DiskCase> {
 protected:
  static void SetUpTestSuite() { ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr); }
  void TearDown() override { full_disk = FullDisk{}; }
};

// The file keeps the whole lines that fit, a prefix of the result; the run
// names it on the console and in the log, writes the other files whole and
// ends with exit code 2.
TEST_P(FullDiskUnder, OneResultFileKeepsWholeLines) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 3000, 1.0);
  write_samples(dir.file("fir.txt"), 16, 0.25);
  const Outcome reference = run_failing(dir, 0);
  std::string reference_files[3];
  for (int f = 0; f < 3; ++f) reference_files[f] = read_file(dir.file(result_files[f]));

  full_disk.name = GetParam().file;
  full_disk.room = GetParam().room;
  const Outcome run = run_failing(dir, 0);
  for (int f = 0; f < 3; ++f) {
    std::string expected = reference_files[f];
    if (GetParam().file == std::string(result_files[f])) {
      std::size_t kept = std::min(expected.size(), GetParam().room);
      while (kept > 0 && expected.compare(kept - 2, 2, "\r\n") != 0) --kept;
      expected.resize(kept);
    }
    const std::string written = read_file(dir.file(result_files[f]));
    EXPECT_TRUE(written == expected) << result_files[f] << ": " << written.size() << " bytes, expected "
                                     << expected.size();
  }
  expect_complete({run.exit_code, run.console, ""}, run.log, 3000, 16, {GetParam().file});
  EXPECT_EQ(reference.exit_code, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, FullDiskUnder,
                         testing::Values(DiskCase{"output_linear.txt", 0}, DiskCase{"output_linear.txt", 1000},
                                         DiskCase{"output_fft.txt", 1000}, DiskCase{"output_diff.txt", 1000}));

// Under the log the disk fills too: it keeps its whole lines, the results
// are written, and the console names log.txt before the prompt.
TEST_F(FullDiskUnder, TheLogKeepsWholeLinesAndIsNamed) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 3000, 1.0);
  write_samples(dir.file("fir.txt"), 16, 0.25);
  full_disk = {.name = "log.txt", .room = 100};
  const Outcome run = run_failing(dir, 0);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(run.console.ends_with("\nошибка при записи файла: log.txt\n" + closing)) << run.console;
  EXPECT_LE(run.log.size(), 100u);
  EXPECT_TRUE(std::regex_match(run.log, whole_lines_of_log(3000, 16))) << run.log;
  EXPECT_EQ(line_count(dir.file("output_diff.txt")), 3015u);
}

// ---- Another run, or a link, in between ---------------------------------------------

class RunBetweenSteps : public FullDiskUnder {
 protected:
  void TearDown() override { hooks = Hooks{}; }
};

// A second run that opens the log this run has just created, and locks it
// first, keeps it whole: this run ends as for a log in use and removes
// nothing.
TEST_F(RunBetweenSteps, AnotherRunTakingTheLogBeforeItIsLockedKeepsIt) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 1000, 1.0);
  write_file(dir.file("fir.txt"), "0.5 0.25");
  StartedProcess other;
  hooks.before_flock = [&] {
    other = start_held(program("fir_bench"), dir.path().string());
    for (int wait = 0; wait < 3000 && read_file(dir.file("log.txt")).find(CP1251(u8"максимальное")) == std::string::npos;
         ++wait) {
      usleep(10'000);
    }
  };
  const Outcome run = run_failing(dir, 0);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.console, "\nошибка: файл log.txt занят другим запуском\n" + closing);
  const std::string log = read_file(dir.file("log.txt"));
  expect_complete(finish_command(other), log, 1000, 2);
}

// The input is the file that was read: input.txt, a link to
// output_linear.txt pointed elsewhere once read, does not let the run
// overwrite the file it read.
TEST_F(RunBetweenSteps, AnInputLinkPointedElsewhereAfterReadingKeepsItsFile) {
  TempDir dir;
  write_file(dir.file("output_linear.txt"), "1\r\n2\r\n3\r\n");
  write_file(dir.file("elsewhere.txt"), "9\r\n");
  std::filesystem::create_symlink("output_linear.txt", dir.file("input.txt"));
  write_file(dir.file("fir.txt"), "1");
  hooks.after_fopen_of = "input.txt";
  hooks.after_fopen = [&] {
    std::filesystem::remove(dir.file("input.txt"));
    std::filesystem::create_symlink("elsewhere.txt", dir.file("input.txt"));
  };
  const Outcome run = run_failing(dir, 0, false);
  EXPECT_EQ(read_file(dir.file("output_linear.txt")), "1\r\n2\r\n3\r\n");
  expect_complete({run.exit_code, run.console, ""}, run.log, 3, 1, {"output_linear.txt"});
}

}  // namespace
