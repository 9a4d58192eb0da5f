// fir_sweep as a user runs it: a table for the user's own files, what it
// refuses and leaves as it was, sums that overflow, writes that fail, and
// the picture drawn from a table. No test asserts a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/console.h"
#include "support/files.h"
#include "support/process.h"
#include "support/random_values.h"
#include "support/temp_dir.h"
#include "sweep/sweep.h"

namespace {

using namespace test_support;

TEST(SweepProgram, BadOptionWritesNothing) {
  TempDir dir;
  const ProcessResult run = run_command(program("fir_sweep", {"--out", "table.tsv", "--repeat", "x"}), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.errors, "fir_sweep: --repeat: expected a count from 1 to 1000, got 'x'\n");
  EXPECT_EQ(run.console, "");
  EXPECT_FALSE(std::filesystem::exists(dir.file("table.tsv")));
}

// The user's own signal and filter: one row for that filter, and nothing
// but the table on standard output.
TEST(SweepProgram, OwnFilesGiveOneRow) {
  TempDir dir;
  std::mt19937_64 generator(9);
  std::string input, fir;
  for (int k = 0; k < 3000; ++k) input += std::to_string(2.0 * random_unit(generator) - 1.0) + "\n";
  for (int k = 0; k < 37; ++k) fir += std::to_string(random_unit(generator) / 37) + "\n";
  write_file(dir.file("input.txt"), input);
  write_file(dir.file("fir.txt"), fir);
  const ProcessResult run =
      run_command(program("fir_sweep", {"--input", "input.txt", "--fir", "fir.txt", "--repeat", "2"}), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; (end = run.console.find('\n', at)) != std::string::npos; at = end + 1) {
    lines.push_back(run.console.substr(at, end - at));
  }
  ASSERT_EQ(lines.size(), 14u) << run.console;
  for (int k = 0; k < 12; ++k) EXPECT_TRUE(lines[k].starts_with("#")) << lines[k];
  EXPECT_EQ(lines[1], "#\tsamples\t3000");
  EXPECT_EQ(lines[2], "#\tsignal\t'input.txt'");
  EXPECT_EQ(lines[3], "#\tfilters\t'fir.txt'");
  EXPECT_TRUE(lines[12].starts_with("taps\tblock\t")) << lines[12];
  EXPECT_TRUE(lines[13].starts_with("37\t1024\t")) << lines[13];
  EXPECT_TRUE(lines[13].ends_with("\t3036")) << lines[13];  // errors over all N + M - 1 outputs
  // Two runs per method: the verdict is said to be noise.
  EXPECT_NE(run.errors.find("fir_sweep: --repeat 2: the times of so few runs are noise on most machines, and so is "
                            "the verdict below; take 3 or more\nN = 3000, M = 37: by the loop: "),
            std::string::npos)
      << run.errors;
}

// A file that reading stops early in is refused: the reader's warning and
// the problem on standard error, exit code 1, nothing written.
TEST(SweepProgram, FileThatStopsEarlyIsRefused) {
  TempDir dir;
  write_file(dir.file("input.txt"), "1 2 abc 4\n");
  const ProcessResult run =
      run_command(program("fir_sweep", {"--input", "input.txt", "--out", "table.tsv"}), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(run.errors, reader_warning("input.txt", 1, "abc").substr(1) +
                            "fir_sweep: --input: 'input.txt' holds something other than numbers (see above)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("table.tsv")));
}

// A refused command names the problem, exits with code 2 and writes and cuts
// nothing: no file it made stays, keep.tsv keeps its bytes and every link
// its target. Names are compared as files, never as text; "{dir}" stands
// for the folder's absolute name.
struct SweepRefusal {
  const char* name;
  std::vector<std::string> arguments;
  std::string errors;
  std::vector<std::pair<std::string, std::string>> links{};  // name, target: made before the run
};
void PrintTo(const SweepRefusal& c, std::ostream* os) { *os << c.name; }

class SweepProgramRefusals : public testing::TestWithParam<SweepRefusal> {};

TEST_P(SweepProgramRefusals, WriteAndCutNothing) {
  TempDir dir;
  const auto in_dir = [&](std::string text) {
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir.path().string());
    return text;
  };
  write_file(dir.file("keep.tsv"), "1\r\n2\r\n");
  std::vector<std::pair<std::string, std::string>> links{{"link.tsv", "keep.tsv"}};
  links.insert(links.end(), GetParam().links.begin(), GetParam().links.end());
  for (const auto& [name, target] : links) std::filesystem::create_symlink(target, dir.file(name));
  std::vector<std::string> arguments{"--repeat", "1"};
  for (const std::string& argument : GetParam().arguments) arguments.push_back(in_dir(argument));
  if (std::find(arguments.begin(), arguments.end(), "--input") == arguments.end()) {
    arguments.insert(arguments.end(), {"--length", "50", "--taps", "1,2"});
  }
  const ProcessResult run = run_command(program("fir_sweep", arguments), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(run.errors, in_dir(GetParam().errors));
  EXPECT_EQ(run.console, "");
  EXPECT_EQ(read_file(dir.file("keep.tsv")), "1\r\n2\r\n");
  for (const auto& [name, target] : links) EXPECT_EQ(std::filesystem::read_symlink(dir.file(name)), target);
  EXPECT_EQ(snapshot(dir.path()).size(), 1 + links.size());
}

const std::string long_name(300, 'n');

INSTANTIATE_TEST_SUITE_P(
    Table, SweepProgramRefusals,
    testing::Values(
        SweepRefusal{"ScaleInAMissingFolder", {"--out", "keep.tsv", "--scale", "no/s.tsv"},
                     "fir_sweep: --scale: cannot write 'no/s.tsv': No such file or directory\n"},
        SweepRefusal{"NewTableScaleInAMissingFolder", {"--out", "new.tsv", "--scale", "no/s.tsv"},
                     "fir_sweep: --scale: cannot write 'no/s.tsv': No such file or directory\n"},
        SweepRefusal{"NewTableScaleALinkLoop", {"--out", "new.tsv", "--scale", "loop"},
                     "fir_sweep: --scale: cannot write 'loop': Too many levels of symbolic links\n", {{"loop", "loop"}}},
        SweepRefusal{"NameTooLong", {"--out", long_name},
                     "fir_sweep: --out: cannot write '" + long_name + "': File name too long\n"},
        SweepRefusal{"OneFileForBoth", {"--out", "keep.tsv", "--scale", "./keep.tsv"},
                     "fir_sweep: --out and --scale name one file, './keep.tsv'\n"},
        SweepRefusal{"OneNewFileForBoth", {"--out", "t.tsv", "--scale", "./t.tsv"},
                     "fir_sweep: --out and --scale name one file, './t.tsv'\n"},
        SweepRefusal{"OneNewFileSpelledAbsolute", {"--out", "t.tsv", "--scale", "{dir}/t.tsv"},
                     "fir_sweep: --out and --scale name one file, '{dir}/t.tsv'\n"},
        SweepRefusal{"ALinkToTheOther", {"--out", "keep.tsv", "--scale", "link.tsv"},
                     "fir_sweep: --out and --scale name one file, 'link.tsv'\n"},
        SweepRefusal{"ALinkToNothing", {"--out", "dangling", "--scale", "u.tsv"},
                     "fir_sweep: --out: 'dangling' is a link to a file that does not exist, which is not created "
                     "through it\n",
                     {{"dangling", "u.tsv"}}},
        SweepRefusal{"ALinkToNothingAndAMissingFolder", {"--out", "mylink", "--scale", "/nonexistent/x"},
                     "fir_sweep: --out: 'mylink' is a link to a file that does not exist, which is not created "
                     "through it\n",
                     {{"mylink", "mine.tsv"}}},
        SweepRefusal{"TableOverTheSignal", {"--input", "keep.tsv", "--out", "keep.tsv"},
                     "fir_sweep: --out names the file --input reads, 'keep.tsv'\n"},
        SweepRefusal{"ScaleOverTheFilterThroughALink", {"--input", "keep.tsv", "--fir", "keep.tsv", "--scale", "link.tsv"},
                     "fir_sweep: --scale names the file --input reads, 'link.tsv'\n"}),
    [](const testing::TestParamInfo<SweepRefusal>& row) { return std::string(row.param.name); });

// Sums beyond the largest double: every deviation and error column that
// saw a NaN reads nan, spelled as fir_bench prints it, and a line says why.
struct OverflowCase {
  const char* name;
  std::string input, fir;  // the signal: --length 50 when empty
};
void PrintTo(const OverflowCase& c, std::ostream* os) { *os << c.name; }

class SweepProgramOverflow : public testing::TestWithParam<OverflowCase> {};

TEST_P(SweepProgramOverflow, NotANumberIsSaidSo) {
  TempDir dir;
  write_file(dir.file("fir.txt"), GetParam().fir);
  std::vector<std::string> arguments{"--fir", "fir.txt", "--repeat", "1"};
  if (GetParam().input.empty()) {
    arguments.insert(arguments.end(), {"--length", "50"});
  } else {
    write_file(dir.file("input.txt"), GetParam().input);
    arguments.insert(arguments.end(), {"--input", "input.txt"});
  }
  const ProcessResult run = run_command(program("fir_sweep", arguments), dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  const std::string row = run.console.substr(run.console.rfind("\ntaps\t") + 1);
  std::vector<std::string> fields;
  for (std::size_t at = row.find('\n') + 1, end; at < row.size(); at = end + 1) {
    end = std::min(row.find_first_of("\t\n", at), row.size());
    fields.push_back(row.substr(at, end - at));
  }
  const std::span<const SweepColumn> columns = sweep_columns();
  ASSERT_EQ(fields.size(), columns.size() - 3) << row;  // without the FFTW_MEASURE columns
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const std::string name = columns[k].name;
    if (name == "rms" || name == "max_abs" || name.ends_with("_error")) {
      EXPECT_EQ(fields[k], "nan") << name;
    }
  }
  EXPECT_NE(run.errors.find(": the sums overflow"), std::string::npos) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Table, SweepProgramOverflow,
                         testing::Values(OverflowCase{"HugeTaps", "", "1e308\n1e308\n1e308\n"},
                                         // A NaN error among finite ones, which must not replace it.
                                         OverflowCase{"HugeSamplesMidSignal", "1\n1\n1e308\n1e308\n1\n1\n1\n", "1\n1\n"}),
                         [](const testing::TestParamInfo<OverflowCase>& row) { return std::string(row.param.name); });

// The picture reads its marks from the table's '#' fields as they stand:
// a change of the table that loses one fails here, not in a picture nobody
// checks.
TEST(PlotScript, SweepPictureReadsTheTable) {
  if (!std::filesystem::exists("/usr/bin/gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
  TempDir dir;
  const Provenance p{100000, 7, 5, "seeded noise", "'fir.txt'", "avx2", "Some CPU", "fftw-3.3.10", "1.0.0"};
  SweepRow exact_row{}, sampled_row{};
  for (const SweepColumn& column : sweep_columns()) {
    if (column.value == nullptr) continue;
    exact_row.*column.value = 1e-3;  // values that a log scale shows
    sampled_row.*column.value = 1e-2;
  }
  exact_row.taps = 8, exact_row.error_outputs = 100007;
  sampled_row.taps = 65536, sampled_row.error_outputs = 132000;
  const Crossovers found{Crossover{184, 183, 184}, std::nullopt, Crossover{60, 58, 57}, Crossover{300, 290, 310}};
  write_file(dir.file("sweep.tsv"), provenance_lines(p) + sweep_header(false) + sweep_row_text(exact_row, false) +
                                        sweep_row_text(sampled_row, false) + crossover_fields(found));
  write_file(dir.file("scale.tsv"), "taps\tscale\n8\t1e-16\n65536\t1e-16\n");
  const ProcessResult run = run_command({"gnuplot", "-e", "dir='.'", FIR_SWEEP_PLOT}, dir.path().string(), {});
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  EXPECT_TRUE(std::filesystem::exists(dir.file("sweep.png")));
  EXPECT_EQ(run.errors,
            "N = 100000, Some CPU; FFT loop faster from M = 184 (a tie, within the measured spread, from M = 183 to "
            "184); FFT call not faster at the longest filter; best FFT loop faster from M = 60; best FFT call faster "
            "from M = 300 (a tie, within the measured spread, from M = 290 to 310); sampled from M = 65536\n");
}

// A table that cannot be written completely, on standard output or in a
// file, and memory that runs out, end the sweep with a message and exit
// code 1; a file keeps its whole lines.
struct SweepFault {
  const char* name;
  std::vector<std::string> arguments;
  Stdout stdout_to;
  std::uint64_t file_size_limit, address_space_limit;
  std::string last_error;
};
void PrintTo(const SweepFault& c, std::ostream* os) { *os << c.name; }

class SweepProgramFaults : public testing::TestWithParam<SweepFault> {};

TEST_P(SweepProgramFaults, EndWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
  if (GetParam().address_space_limit != 0) GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
#endif
  TempDir dir;
  std::vector<std::string> arguments{"--length", "1000", "--taps", "1,2", "--repeat", "1"};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  ProcessOptions options;
  options.stdout_to = GetParam().stdout_to;
  options.file_size_limit = GetParam().file_size_limit;
  options.address_space_limit = GetParam().address_space_limit;
  const ProcessResult run = run_command(program("fir_sweep", arguments), dir.path().string(), options);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.errors.ends_with(GetParam().last_error)) << run.errors;
  if (GetParam().file_size_limit != 0) {
    const std::string table = read_file(dir.file("t.tsv"));
    EXPECT_TRUE(table.ends_with("error_outputs\n")) << table;  // the header fits; the first row does not
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SweepProgramFaults,
    testing::Values(SweepFault{"FullDevice", {"--out", "/dev/full"}, Stdout::file, 0, 0,
                               "fir_sweep: --out: cannot write '/dev/full' completely: No space left on device\n"},
                    SweepFault{"StandardOutputGone", {}, Stdout::pipe_dropped, 0, 0,
                               "fir_sweep: cannot write standard output completely\n"},
                    SweepFault{"StandardOutputClosed", {}, Stdout::closed, 0, 0,
                               "fir_sweep: cannot write standard output: it is closed\n"},
                    SweepFault{"FileSizeLimit", {"--out", "t.tsv"}, Stdout::file, 900, 0,
                               "fir_sweep: --out: cannot write 't.tsv' completely: File too large\n"},
                    SweepFault{"StandardOutputClosedAndNamed", {"--out", "/dev/stdout"}, Stdout::closed, 0, 0,
                               "fir_sweep: --out: '/dev/stdout' is the null device that stands in for the closed "
                               "standard output\n"},
                    SweepFault{"FilterBeyondMemory", {"--taps", "4294967295"}, Stdout::file, 0, 1 << 30,
                               "fir_sweep: not enough memory to hold the sweep's signals\n"}),
    [](const testing::TestParamInfo<SweepFault>& row) { return std::string(row.param.name); });

}  // namespace
