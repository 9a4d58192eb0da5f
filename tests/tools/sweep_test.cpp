// The sweep over filter lengths: its command line, its table and its
// exact reference. No test asserts a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dsp/dsp.h"
#include "dsp/overlap_add.h"
#include "support/console.h"
#include "support/plain_convolution.h"
#include "support/process.h"
#include "support/random_values.h"
#include "signal_gen/signal_gen.h"
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
                    OptionError{{"--length", "-5"}, "--length: expected a sample count of at least 1, got '-5'"},
                    OptionError{{"--input", "x.txt", "--length", "5"},
                                "--length: the signal is --input's, its length is the file's"},
                    OptionError{{"--taps=8", "--fir", "h.txt"}, "--taps: the filter is --fir's, its length is the file's"}));

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

// The verdict for one filter: the fastest by the minimum times, or a tie
// where the minimums lie within the spread (median - minimum) of either.
struct VerdictCase {
  double direct_min, direct_median, rule_min, rule_median, best_min, best_median;
  std::string verdict;
};
class SweepVerdict : public testing::TestWithParam<VerdictCase> {};

TEST_P(SweepVerdict, NamesTheFastestOrATie) {
  const VerdictCase& c = GetParam();
  SweepRow row{};
  row.taps = 101, row.block = 1024, row.fft_best_length = 512, row.fft_best_block = 412;
  row.direct_min_ms = c.direct_min, row.direct_median_ms = c.direct_median;
  row.fft_min_ms = c.rule_min, row.fft_median_ms = c.rule_median;
  row.fft_best_min_ms = c.best_min, row.fft_best_median_ms = c.best_median;
  EXPECT_EQ(verdict_text(row, TimeKind::loop), "by the loop: " + c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SweepVerdict,
    testing::Values(
        VerdictCase{1.0, 1.01, 2.0, 2.1, 4.0, 4.1,
                    "direct is fastest, 2.00x as fast as FFT with fir_bench's rule (K = 2048) and 4.00x as fast as "
                    "FFT with K = 512 (blocks of 412)"},
        VerdictCase{1.06, 1.2, 2.0, 2.1, 1.0, 1.02,
                    "a tie between FFT with K = 512 (blocks of 412) and direct (1.06x apart, within the spread of "
                    "their runs), both about 2.00x as fast as FFT with fir_bench's rule (K = 2048)"},
        VerdictCase{1.0, 1.5, 1.2, 1.3, 1.1, 1.2,
                    "a tie between direct, FFT with K = 512 (blocks of 412) and FFT with fir_bench's rule (K = 2048) "
                    "(within the spread of their runs)"}));

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
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files += !entry.path().filename().string().starts_with(".");
  EXPECT_EQ(files, 1 + links.size());
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

// ---- The table of a small sweep -----------------------------------------------------

TEST(SweepTable, RowsAtRoundingLevel) {
  std::mt19937_64 generator(7);
  Signal x(3000);
  for (double& value : x) value = 2.0 * random_unit(generator) - 1.0;
  std::string text = sweep_header(true);  // the FFTW_MEASURE columns, as the row of M = 7 has them
  for (const std::size_t taps : {1u, 7u, 64u, 1025u}) {
    const Signal h = standard_lowpass(taps);
    SweepRow row{};
    std::string error;
    const bool measured = taps == 7;  // FFTW_MEASURE's planning is slow: one row
    ASSERT_TRUE(measure_filter_length(x, h, 2, 11, measured, row, error)) << error;
    OverlapAddLayout layout{};
    overlap_add_layout(x.size(), taps, layout);
    EXPECT_EQ(row.taps, taps);
    EXPECT_EQ(row.block, layout.block_length) << "M = " << taps;
    // The best transform holds the filter, its blocks take the rest.
    EXPECT_GE(row.fft_best_length, taps);
    EXPECT_GE(row.fft_best_call_length, taps);
    EXPECT_EQ(row.fft_best_block, row.fft_best_length - taps + 1);
    if (measured) {
      EXPECT_GE(row.fft_measure_length, taps);
    }
    const double bound = 64.0 * rounding_scale(x, h);
    for (const double value : {row.rms, row.max_abs, row.direct_error, row.fft_error, row.fft_best_error}) {
      EXPECT_LE(value, bound) << "M = " << taps;
    }
    text += sweep_row_text(row, measured);
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\t'), 25 + 3 * 22 + 25);  // the header and one row measured
}

// ---- The crossover to the tap, on synthetic timings -----------------------------------

// Direct costs `per_tap` per tap, FFT a constant, each time spread by
// `spread` over the repeats; the rows and the probes see the same times, so
// the search must land on the first M where FFT wins, and on the band where
// the two lie within the spread.
struct CrossoverCase {
  const char* name;
  std::vector<std::size_t> listed;
  double per_tap, fft, spread;
  std::optional<Crossover> expected;
};
void PrintTo(const CrossoverCase& c, std::ostream* os) { *os << c.name; }

class SweepCrossover : public testing::TestWithParam<CrossoverCase> {};

TEST_P(SweepCrossover, BisectsToTheTap) {
  const CrossoverCase& c = GetParam();
  const auto times = [&](double at) { return std::vector<double>{at, at + c.spread, at + 2 * c.spread}; };
  std::vector<SweepRow> rows;
  for (const std::size_t taps : c.listed) {
    const double direct = c.per_tap * static_cast<double>(taps);
    SweepRow row{};
    row.taps = taps;
    row.direct_min_ms = row.direct_call_min_ms = direct;
    row.direct_median_ms = row.direct_call_median_ms = direct + c.spread;
    row.fft_min_ms = row.fft_call_min_ms = row.fft_best_min_ms = row.fft_best_call_min_ms = c.fft;
    row.fft_median_ms = row.fft_call_median_ms = c.fft + c.spread;
    row.fft_best_median_ms = row.fft_best_call_median_ms = c.fft + c.spread;
    rows.push_back(row);
  }
  std::size_t probes = 0;
  const auto compare = [&](std::size_t taps) {
    ++probes;
    return compare_times(times(c.per_tap * static_cast<double>(taps)), times(c.fft));
  };
  for (const FftMethod method : {FftMethod::rule, FftMethod::best}) {
    for (const TimeKind kind : {TimeKind::loop, TimeKind::call}) {
      const std::optional<Crossover> found = find_crossover(rows, kind, method, compare);
      ASSERT_EQ(found.has_value(), c.expected.has_value());
      if (!found) continue;
      EXPECT_EQ(found->taps, c.expected->taps);
      EXPECT_EQ(found->tie_from, c.expected->tie_from);
      EXPECT_EQ(found->tie_to, c.expected->tie_to);
    }
  }
  EXPECT_LE(probes, 4 * 30u);  // bisection, not a scan
}

INSTANTIATE_TEST_SUITE_P(
    Timings, SweepCrossover,
    testing::Values(
        // Direct ties with FFT (183.5 ms) within 0.5 ms: from M = 183 to 184.
        CrossoverCase{"BetweenPowersOfTwo", {1, 64, 128, 256, 512}, 1.0, 183.5, 0.5, Crossover{184, 183, 184}},
        CrossoverCase{"NoSpreadNoTie", {1, 64, 128, 256}, 1.0, 127.5, 0.0, Crossover{128, 128, 127}},
        CrossoverCase{"WideSpreadWideTie", {1, 64, 128, 256}, 1.0, 100.5, 10.0, Crossover{101, 91, 110}},
        CrossoverCase{"FftFasterFromTheFirst", {4, 8, 16}, 1.0, 2.0, 0.0, Crossover{4, 4, 3}},
        CrossoverCase{"DirectFasterThroughout", {4, 8, 16}, 1.0, 100.0, 0.0, std::nullopt},
        CrossoverCase{"TieToTheLongestFilter", {1, 2, 4, 8}, 1.0, 6.5, 3.0, Crossover{7, 4, 8}}),
    [](const testing::TestParamInfo<CrossoverCase>& row) { return std::string(row.param.name); });

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

// Every output is checked up to N * M = 1e9, a sample beyond.
TEST(SweepTable, ErrorsOverAllOutputsUpToTheLimit) {
  struct Case {
    std::size_t samples, taps, checked;
  };
  for (const Case c : {Case{100, 7, 106}, Case{100'000, 10'000, 109'999}, Case{100'000, 10'001, 0}}) {
    const std::vector<std::size_t> indices = error_indices(c.samples, c.taps, 3);
    if (c.checked != 0) {
      EXPECT_EQ(indices.size(), c.checked) << c.samples << " x " << c.taps;
    } else {
      EXPECT_LT(indices.size(), 2 * c.taps + 1001) << c.samples << " x " << c.taps;
      EXPECT_EQ(indices.back(), c.samples + c.taps - 2);
    }
  }
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
  ASSERT_TRUE(measure_filter_length(x, h, 1, 5, false, row, error)) << error;
  EXPECT_EQ(row.direct_error, 0.0);
  EXPECT_LE(row.fft_error, 64.0 * rounding_scale(x, h));
  EXPECT_LE(row.fft_best_error, 64.0 * rounding_scale(x, h));
}

}  // namespace
