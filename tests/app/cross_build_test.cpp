// Another build's program beside this build's, on the same files: the same
// direct result to the byte, the FFT result within its rounding, the same log
// and console apart from the two stage times. The other build is a cross
// build's under its launcher (Windows under Wine, 32-bit x86 or 64-bit ARM
// Linux under qemu), or else `make windows`'s; skipped without one.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_expect.h"
#include "support/random_values.h"

namespace {

using namespace test_support;

// The other program and the command that starts it: a cross build's, as
// its ctest names them (FIR_BENCH_PROGRAMS, FIR_BENCH_LAUNCHER), or else
// `make windows`'s 64-bit program under Wine's 64-bit loader (the plain
// `wine` script picks the 32-bit one where the 32-bit Wine package is
// installed). Empty when there is none.
std::vector<std::string> other_command() {
  if (launched()) return program("fir_bench");
  if (!std::filesystem::exists(FIR_BENCH_WINDOWS_EXE)) return {};
  for (const char* wine : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"}) {
    if (std::filesystem::exists(wine)) return {wine, FIR_BENCH_WINDOWS_EXE};
  }
  return {};
}

// A launched program takes its Wine prefix, if any, from ctest's environment.
ProcessResult run_other(const std::vector<std::string>& command, const TempDir& dir) {
  ProcessOptions options;
  if (!launched()) options.environment = {{"WINEPREFIX", FIR_BENCH_WINEPREFIX}, {"WINEDEBUG", "-all"}};
  return run_command(command, dir.path().string(), options);
}

// The two stage times and the two deviations replaced by marks, in console
// or log text. The deviations are rounding residue (about 1e-16), and two
// FFTW builds take their twiddle factors from different C libraries'
// sinl/cosl and run different SIMD code, so their last bits, and the
// printed residue, differ.
std::string without_measurements(const std::string& text) {
  static const std::regex time(R"(\t[0-9][0-9.e+-]* (\xEC\xF1|мс))");
  static const std::regex deviation(R"(= [^\r\n]+)");
  return std::regex_replace(std::regex_replace(text, time, "\t<time> $1"), deviation, "= <deviation>");
}

// The two deviations the console shows; none when the run stopped early.
std::vector<double> printed_deviations(const std::string& console) {
  static const std::regex deviation(R"(= ([^\r\n]+))");
  std::vector<double> out;
  for (auto it = std::sregex_iterator(console.begin(), console.end(), deviation); it != std::sregex_iterator(); ++it) {
    out.push_back(std::stod((*it)[1]));
  }
  return out;
}

std::vector<double> values(const std::string& text) {
  std::vector<double> out;
  std::istringstream in(text);
  for (std::string token; in >> token;) out.push_back(token == "nan" ? NAN : std::stod(token));
  return out;
}

// Value by value within the six printed digits plus the overlap-add bound
// (1e-12 * sum|h| * max|x|): the two FFTW builds may differ in their last bits.
void expect_close_values(const std::string& this_text, const std::string& other_text, double bound,
                         const char* name) {
  const std::vector<double> a = values(this_text), b = values(other_text);
  ASSERT_EQ(a.size(), b.size()) << name;
  for (std::size_t k = 0; k < a.size(); ++k) {
    ASSERT_LE(std::fabs(a[k] - b[k]), 1e-5 * std::fabs(a[k]) + bound) << name << " line " << k + 1;
  }
}

class CrossBuild : public testing::Test {
 protected:
  void SetUp() override {
    other_ = other_command();
    if (other_.empty()) GTEST_SKIP() << "no other build to compare with (make windows, linux32 or aarch64)";
  }

  // Both programs on the same input files; checks everything but the values
  // of the FFT result and the difference, which it returns for comparison.
  void compare_runs(const std::string& input, const std::string& fir) {
    TempDir this_dir, other_dir;
    for (const TempDir* dir : {&this_dir, &other_dir}) {
      write_file(dir->file("input.txt"), input);
      if (!fir.empty()) write_file(dir->file("fir.txt"), fir);
    }
    const ProcessResult this_run =
        run_command({std::string(FIR_BENCH_BUILD_DIR) + "/fir_bench"}, this_dir.path().string(), {});
    const ProcessResult other_run = run_other(other_, other_dir);
    EXPECT_EQ(other_run.exit_code, 0) << other_run.errors;
    const std::string& other_console = other_run.console;  // read back as this build's
    EXPECT_EQ(without_measurements(other_console), without_measurements(this_run.console));
    EXPECT_EQ(without_measurements(read_file(other_dir.file("log.txt"))),
              without_measurements(read_file(this_dir.file("log.txt"))));
    for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
      ASSERT_EQ(std::filesystem::exists(other_dir.file(name)), std::filesystem::exists(this_dir.file(name))) << name;
    }
    if (!std::filesystem::exists(this_dir.file("output_linear.txt"))) return;
    EXPECT_EQ(read_file(other_dir.file("output_linear.txt")), read_file(this_dir.file("output_linear.txt")));
    double sum_h = 0.0, max_x = 0.0;
    for (const double h : values(fir)) sum_h += std::fabs(h);
    for (const double x : values(input)) max_x = std::max(max_x, std::fabs(x));
    const double bound = 1e-12 * sum_h * max_x;
    const std::vector<double> deviations = printed_deviations(other_console);
    ASSERT_EQ(deviations.size(), 2u);
    for (const double deviation : deviations) EXPECT_LE(deviation, bound);
    for (const char* name : {"output_fft.txt", "output_diff.txt"}) {
      expect_close_values(read_file(this_dir.file(name)), read_file(other_dir.file(name)), bound, name);
    }
  }

  std::vector<std::string> other_;
};

TEST_F(CrossBuild, ExampleDataGivesTheSameRun) {
  compare_runs(read_file(std::filesystem::path(FIR_EXAMPLES_DIR) / "input.txt"),
               read_file(std::filesystem::path(FIR_EXAMPLES_DIR) / "fir.txt"));
}

TEST_F(CrossBuild, SmallRandomPairGivesTheSameRun) {
  std::mt19937_64 generator(3);
  const auto uniform = [&] { return 2.0 * random_unit(generator) - 1.0; };
  std::string input, fir;
  for (int k = 0; k < 3000; ++k) input += std::to_string(uniform()) + "\n";
  for (int k = 0; k < 37; ++k) fir += std::to_string(uniform() / 37) + "\n";
  compare_runs(input, fir);
}

TEST_F(CrossBuild, MissingFilterGivesTheSameMessage) { compare_runs("1 2 3", ""); }

}  // namespace
