// fir_gen as a user runs it: the files it writes and leaves, what it does
// when a step fails or another run meets it, its help and version, and the
// plot script on a small run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "signal_gen/signal_gen.h"
#include "signal_io/signal_io.h"
#include "support/files.h"
#include "support/plain_convolution.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using namespace test_support;

// ---- The program -----------------------------------------------------------------------

// Without options it writes the shipped examples, byte for byte.
TEST(GenProgram, DefaultsReproduceTheExamples) {
  TempDir dir;
  const ProcessResult run = run_command(program("fir_gen"), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, "wrote input.txt (100000 samples)\nwrote fir.txt (64 taps)\n");
  for (const char* name : {"input.txt", "fir.txt"}) {
    EXPECT_EQ(read_file(dir.file(name)), read_file(std::filesystem::path(FIR_EXAMPLES_DIR) / name)) << name;
  }
}

// Each kind of option writes its own file and leaves the other byte for
// byte; both kinds, none, or --rate alone write both.
struct FamilyCase {
  std::vector<std::string> arguments;
  bool signal, filter;  // written
};
class GenProgramFamilies : public testing::TestWithParam<FamilyCase> {};

TEST_P(GenProgramFamilies, WriteOnlyWhatIsAskedFor) {
  TempDir dir;
  for (const char* name : {"input.txt", "fir.txt"}) write_file(dir.file(name), "kept\r\n");
  const ProcessResult run = run_command(program("fir_gen", GetParam().arguments), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  EXPECT_EQ(read_file(dir.file("input.txt")) != "kept\r\n", GetParam().signal);
  EXPECT_EQ(read_file(dir.file("fir.txt")) != "kept\r\n", GetParam().filter);
}

INSTANTIATE_TEST_SUITE_P(Options, GenProgramFamilies,
                         testing::Values(FamilyCase{{"--length", "10", "--signal", "noise"}, true, false},
                                         FamilyCase{{"--taps", "5", "--cutoff", "500"}, false, true},
                                         FamilyCase{{"--length", "10", "--taps", "5"}, true, true},
                                         FamilyCase{{"--rate", "16000", "--length", "10"}, true, false},
                                         FamilyCase{{"--rate", "16000"}, true, true},
                                         FamilyCase{{"--only-filter", "--length", "10"}, false, true}));

TEST(GenProgram, BadArgumentsWriteNothing) {
  TempDir dir;
  const ProcessResult run = run_command(program("fir_gen", {"--taps", "zero"}), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.file("input.txt")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("fir.txt")));
}

// A write, a rename or standard output that fails, or memory that runs
// out, ends the program with a message (a regular expression here) and exit
// code 1, and the folder keeps its old pair of files and nothing else: both
// are written under other names, and the old ones kept until both new ones
// are in place and reported.
struct GenFault {
  const char* name;
  std::vector<std::string> arguments;
  std::uint64_t file_size_limit, address_space_limit;
  std::string errors;
  bool filter_is_folder = false;  // fir.txt a folder, which no rename replaces
  Stdout stdout_to = Stdout::file;
};
void PrintTo(const GenFault& c, std::ostream* os) { *os << c.name; }

class GenProgramFaults : public testing::TestWithParam<GenFault> {};

TEST_P(GenProgramFaults, LeaveTheOldPair) {
  const GenFault& c = GetParam();
#if defined(__SANITIZE_ADDRESS__)
  if (c.address_space_limit != 0) GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#endif
  TempDir dir;
  write_file(dir.file("input.txt"), "1\r\n");
  if (c.filter_is_folder) {
    std::filesystem::create_directories(dir.file("fir.txt") + "/d");
  } else {
    write_file(dir.file("fir.txt"), "2\r\n");
  }
  ProcessOptions options;
  options.file_size_limit = c.file_size_limit;
  options.address_space_limit = c.address_space_limit;
  options.stdout_to = c.stdout_to;
  const ProcessResult run = run_command(program("fir_gen", c.arguments), dir.path().string(), options);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(std::regex_match(run.errors, std::regex(c.errors))) << run.errors;
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(read_file(dir.file("input.txt")), "1\r\n");
  if (c.filter_is_folder) {
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("fir.txt") + "/d"));
  } else {
    EXPECT_EQ(read_file(dir.file("fir.txt")), "2\r\n");
  }
  EXPECT_EQ(snapshot(dir.path()).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GenProgramFaults,
    testing::Values(GenFault{"SignalPastAFileSizeLimit", {"--length", "1000", "--only-signal"}, 1024, 0,
                             "fir_gen: cannot write the new input.txt: File too large; nothing was replaced\n"},
                    GenFault{"FilterPastAFileSizeLimit", {"--length", "10", "--taps", "100000"}, 8192, 0,
                             "fir_gen: cannot write the new fir.txt: File too large; nothing was replaced\n"},
                    GenFault{"SignalBeyondMemory", {"--length", "4294967295"}, 0, 1 << 30,
                             "fir_gen: not enough memory for input.txt\n"},
                    GenFault{"FilterNameIsAFolder", {"--length", "10", "--taps", "3"}, 0, 0,
                             "fir_gen: fir\\.txt is a folder, which is not replaced; nothing was replaced\n",
                             true},
                    GenFault{"StandardOutputFull", {"--length", "10", "--taps", "3"}, 0, 0,
                             "fir_gen: cannot write standard output completely; nothing was replaced\n", false,
                             Stdout::full}),
    [](const testing::TestParamInfo<GenFault>& row) { return std::string(row.param.name); });

// A read-only pair is replaced by a read-only pair, and no kept entry
// stays behind (Windows removes a read-only file only once it loses the
// attribute).
TEST(GenProgram, ReadOnlyPairKeepsItsModeAndLeavesNothing) {
  TempDir dir;
  const auto read_only = std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                         std::filesystem::perms::others_read;
  for (const char* name : {"input.txt", "fir.txt"}) {
    write_file(dir.file(name), "1\r\n");
    std::filesystem::permissions(dir.file(name), read_only);
  }
  const ProcessResult run = run_command(program("fir_gen", {"--length", "5", "--taps", "3"}), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(snapshot(dir.path()).size(), 2u);
  for (const char* name : {"input.txt", "fir.txt"}) {
    EXPECT_EQ(std::filesystem::status(dir.file(name)).permissions(), read_only) << name;
  }
}

// What another run left (killed, or running where this one cannot see its
// process: another container, another host) is named on standard error and
// left alone, whether this run succeeds or fails.
TEST(GenProgram, NamesWhatAnotherRunLeftAndKeepsIt) {
  const std::vector<std::string> left = {"input.txt.4711.0123456789abcdef.old", "fir.txt.1.0123456789abcdef.tmp"};
  const std::vector<std::string> unrelated = {"input.txt.4711.0123456789abcdef.bak", "notes.1.0123456789abcdef.tmp"};
  for (const std::uint64_t file_size_limit : {0, 1024}) {  // input.txt needs more
    if (file_size_limit != 0 && windows_programs()) continue;  // a POSIX limit, which ends Wine itself
    TempDir dir;
    for (const std::string& name : left) write_file(dir.file(name), "x");
    for (const std::string& name : unrelated) write_file(dir.file(name), "x");
    ProcessOptions options;
    options.file_size_limit = file_size_limit;
    const ProcessResult run =
        run_command(program("fir_gen", {"--length", "1000", "--taps", "3"}), dir.path().string(), options);
    EXPECT_EQ(run.exit_code, file_size_limit == 0 ? 0 : 1) << run.errors;
    for (const std::string& line : {"fir_gen: left by another run (interrupted, or still running): " + left[0] + " (the earlier input.txt)\n",
                                    "fir_gen: left by another run (interrupted, or still running): " + left[1] +
                                        " (a new fir.txt, perhaps unfinished)\n"}) {
      EXPECT_NE(run.errors.find(line), std::string::npos) << run.errors;
    }
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), file_size_limit == 0 ? 2 : 3) << run.errors;
    for (const std::string& name : left) EXPECT_EQ(read_file(dir.file(name)), "x") << name;
    for (const std::string& name : unrelated) EXPECT_EQ(read_file(dir.file(name)), "x") << name;
  }
}

TEST(GenProgram, HelpPrintsUsage) {
  TempDir dir;
  const ProcessResult run = run_command(program("fir_gen", {"--help"}), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, gen_help_text());
}

// Both tools name the project's version and its licence.
TEST(ToolVersion, BothToolsPrintTheProjectVersion) {
  TempDir dir;
  for (const char* name : {"fir_gen", "fir_sweep"}) {
    const ProcessResult run = run_command(program(name, {"--version"}), dir.path().string(), {});
    EXPECT_EQ(run.exit_code, 0) << name;
    EXPECT_EQ(run.console, std::string(name) + " " + FIR_BENCH_VERSION + "\n" +
                               "This is free software; see COPYING: the GNU General Public License, version 2 or "
                               "later, with no warranty.\n");
  }
}

// ---- The plot script ------------------------------------------------------------------

TEST(PlotScript, DrawsASmallRunIntoAPng) {
  if (!std::filesystem::exists("/usr/bin/gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  SignalSettings settings;
  settings.length = 300;
  FilterSettings taps;
  taps.taps = 9;
  const Signal x = make_signal(settings);
  const Signal h = make_filter(taps, settings.sample_rate);
  const Signal y = plain_convolution(x, h);
  const Signal difference(y.size(), 1e-16);
  for (const auto& [name, values] : {std::pair{"input.txt", x}, {"fir.txt", h}, {"output_linear.txt", y},
                                     {"output_fft.txt", y}, {"output_diff.txt", difference}}) {
    ASSERT_EQ(save_signal(dir.file(name), values), Status::ok);
  }
  const ProcessResult run =
      run_command({"gnuplot", "-e", "dir='" + dir.path().string() + "'; window=200", FIR_PLOT_SCRIPT},
                  dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0);
  const std::string png = read_file(dir.file("plot.png"));
  EXPECT_GT(png.size(), 10'000u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

}  // namespace
