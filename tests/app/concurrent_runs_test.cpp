// Runs that meet in one folder: two fir_gen replacing one pair, and several
// runs of each program started together. Each run either completes with
// whole files or is refused, touching nothing another run holds; no file is
// lost, and no two runs' files are mixed. Runs are ordered by a pipe one of
// them waits on, never by sleeps.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/run_expect.h"

namespace {

using namespace test_support;

// fir_gen A puts its pair in place and waits to report it (its standard
// output a full pipe); B, started then, is refused and changes nothing. A
// then reports, or cannot (its output closed unread): its pair stays, or
// the old pair comes back.
class GenMeetsGen : public testing::TestWithParam<bool> {};

TEST_P(GenMeetsGen, TheSecondIsRefusedAndTheFirstEndsAlone) {
  const bool reported = GetParam();
  if (!reported && windows_programs()) {
    GTEST_SKIP() << "under Wine a write that waits on a full pipe reports success once the pipe's reader is gone";
  }
  TempDir dir;
  write_file(dir.file("input.txt"), "1\r\n");
  write_file(dir.file("fir.txt"), "2\r\n");
  ProcessOptions stalled;
  stalled.stdout_to = Stdout::stalled;
  StartedProcess first = start_command(program("fir_gen", {"--length", "5", "--taps", "3"}), dir.path().string(), stalled);
  for (int wait = 0; wait < 3000 && line_count(dir.file("input.txt")) + line_count(dir.file("fir.txt")) != 8; ++wait) {
    usleep(10'000);
  }
  const auto in_place = snapshot(dir.path());
  const ProcessResult second = run_command(program("fir_gen", {"--length", "7", "--taps", "5"}), dir.path().string(), {});
  EXPECT_EQ(second.exit_code, 1);
  EXPECT_TRUE(second.errors.ends_with("fir_gen: input.txt is held by another run; nothing was replaced\n"))
      << second.errors;
  EXPECT_EQ(snapshot(dir.path()), in_place);
  const ProcessResult end = finish_command(first, reported);
  EXPECT_EQ(end.exit_code, reported ? 0 : 1) << end.errors;
  const auto after = snapshot(dir.path());
  EXPECT_EQ(after.size(), 2u);
  EXPECT_EQ(line_count(dir.file("input.txt")), reported ? 5u : 1u);
  EXPECT_EQ(line_count(dir.file("fir.txt")), reported ? 3u : 1u);
}

INSTANTIATE_TEST_SUITE_P(FirstRun, GenMeetsGen, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& row) { return row.param ? "Reports" : "CannotReport"; });

// ---- Several runs at once ------------------------------------------------------------

class CrowdedFolder : public testing::TestWithParam<const char*> {};

// Four runs of one program at once, round after round: each completes or
// is refused with the program's word for a file another run holds, and the
// folder ends with the whole files of one run that completed.
TEST_P(CrowdedFolder, EveryRunCompletesOrIsRefused) {
  const std::string name = GetParam();
  constexpr std::size_t runs = 4;
  const int rounds = launched() ? 3 : 8;
  TempDir dir, reference;
  write_samples(dir.file(name == "fir_sweep" ? "in.txt" : "input.txt"), 2000, 1.0);
  write_file(dir.file("fir.txt"), "0.5 0.25 0.125");
  for (std::size_t k = 0; k < runs; ++k) write_samples(dir.file("h" + std::to_string(k) + ".txt"), 2 + k, 0.5);
  std::filesystem::copy(dir.path(), reference.path(), std::filesystem::copy_options::recursive);
  if (name == "fir_bench") {
    ASSERT_EQ(run_program(reference.path().string()).exit_code, 0);
  }
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (name == "fir_gen" && round % 2 == 1) {  // every other round the pair is new
      std::filesystem::remove(dir.file("input.txt"));
      std::filesystem::remove(dir.file("fir.txt"));
    }
    std::vector<StartedProcess> started;
    for (std::size_t k = 0; k < runs; ++k) {
      const std::string length = std::to_string(100 + k), taps = std::to_string(3 + k);
      const std::vector<std::string> arguments =
          name == "fir_gen"   ? std::vector<std::string>{"--length", length, "--taps", taps}
          : name == "fir_sweep" ? std::vector<std::string>{"--input", "in.txt", "--fir", "h" + std::to_string(k) + ".txt",
                                                         "--repeat", "1", "--out", "t.tsv"}
                                : std::vector<std::string>{};
      started.push_back(start_command(program(name, arguments), dir.path().string(), {}));
    }
    std::vector<std::size_t> completed;
    for (std::size_t k = 0; k < runs; ++k) {
      const ProcessResult run = finish_command(started[k]);
      if (run.exit_code == 0) {
        completed.push_back(k);
      } else if (name == "fir_bench") {
        EXPECT_EQ(run.console, "\nошибка: файл log.txt занят другим запуском\n" + closing) << run.exit_code;
      } else {
        EXPECT_EQ(run.exit_code, name == "fir_gen" ? 1 : 2) << run.errors << run.console;
        EXPECT_NE(run.errors.find("another run"), std::string::npos) << run.errors;
      }
    }
    ASSERT_FALSE(completed.empty()) << "no run completed";
    const auto completed_run = [&](std::size_t k) { return std::count(completed.begin(), completed.end(), k) == 1; };
    if (name == "fir_bench") {
      EXPECT_TRUE(std::regex_match(read_file(dir.file("log.txt")), complete_log(2000, 3)));
      for (const char* result : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
        EXPECT_TRUE(read_file(dir.file(result)) == read_file(reference.file(result))) << result;
      }
    } else if (name == "fir_gen") {
      const std::size_t k = line_count(dir.file("input.txt")) - 100;
      EXPECT_TRUE(completed_run(k) && line_count(dir.file("fir.txt")) == 3 + k) << "the pair of run " << k << " is mixed";
      EXPECT_EQ(snapshot(dir.path()).size(), 2 + runs) << "more than the pair and the filters";
    } else {
      const std::string table = read_file(dir.file("t.tsv"));
      const std::size_t row = table.find('\n', table.find("\ntaps\t") + 1);  // its first field is M
      ASSERT_NE(row, std::string::npos) << table;
      EXPECT_TRUE(completed_run(std::stoul(table.substr(row + 1)) - 2) && table.ends_with("\n")) << table;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, CrowdedFolder, testing::Values("fir_bench", "fir_gen", "fir_sweep"),
                         [](const testing::TestParamInfo<const char*>& row) { return std::string(row.param).substr(4); });

}  // namespace
