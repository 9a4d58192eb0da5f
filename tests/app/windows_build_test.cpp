// The Windows build's program under Wine beside this build's, on the same
// files: the same results, the same log and console apart from the two stage
// times. Skipped until `make windows` has built fir_bench.exe.
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

// Wine's 64-bit loader first: the plain `wine` script picks the 32-bit one
// where the 32-bit Wine package is installed, and that cannot start here.
std::string find_wine() {
  for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"}) {
    if (std::filesystem::exists(candidate)) return candidate;
  }
  return "";
}

ProcessResult run_under_wine(const std::string& wine, const TempDir& dir) {
  ProcessOptions options;
  options.environment = {{"WINEPREFIX", FIR_BENCH_WINEPREFIX}, {"WINEDEBUG", "-all"}};
  return run_command({wine, FIR_BENCH_WINDOWS_EXE}, dir.path().string(), options);
}

// The two stage times and the two deviations replaced by marks, in console
// or log text. The deviations are rounding residue (about 1e-16), and the
// two FFTW builds take their twiddle factors from different C libraries'
// sinl/cosl, so their last bits, and the printed residue, differ.
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
void expect_close_values(const std::string& linux_text, const std::string& windows_text, double bound,
                         const char* name) {
  const std::vector<double> a = values(linux_text), b = values(windows_text);
  ASSERT_EQ(a.size(), b.size()) << name;
  for (std::size_t k = 0; k < a.size(); ++k) {
    ASSERT_LE(std::fabs(a[k] - b[k]), 1e-5 * std::fabs(a[k]) + bound) << name << " line " << k + 1;
  }
}

class WindowsBuild : public testing::Test {
 protected:
  void SetUp() override {
    wine_ = find_wine();
    if (!std::filesystem::exists(FIR_BENCH_WINDOWS_EXE)) GTEST_SKIP() << "no Windows build yet (make windows)";
    if (wine_.empty()) GTEST_SKIP() << "Wine is not installed";
  }

  // Both programs on the same input files; checks everything but the values
  // of the FFT result and the difference, which it returns for comparison.
  void compare_runs(const std::string& input, const std::string& fir) {
    TempDir linux_dir, windows_dir;
    for (const TempDir* dir : {&linux_dir, &windows_dir}) {
      write_file(dir->file("input.txt"), input);
      if (!fir.empty()) write_file(dir->file("fir.txt"), fir);
    }
    const ProcessResult linux_run = run_program(linux_dir.path().string());
    const ProcessResult windows_run = run_under_wine(wine_, windows_dir);
    EXPECT_EQ(windows_run.exit_code, 0) << "Wine: " << windows_run.errors;
    const std::string& windows_console = windows_run.console;  // read back as this build's
    EXPECT_EQ(without_measurements(windows_console), without_measurements(linux_run.console));
    EXPECT_EQ(without_measurements(read_file(windows_dir.file("log.txt"))),
              without_measurements(read_file(linux_dir.file("log.txt"))));
    for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
      ASSERT_EQ(std::filesystem::exists(windows_dir.file(name)), std::filesystem::exists(linux_dir.file(name))) << name;
    }
    if (!std::filesystem::exists(linux_dir.file("output_linear.txt"))) return;
    EXPECT_EQ(read_file(windows_dir.file("output_linear.txt")), read_file(linux_dir.file("output_linear.txt")));
    double sum_h = 0.0, max_x = 0.0;
    for (const double h : values(fir)) sum_h += std::fabs(h);
    for (const double x : values(input)) max_x = std::max(max_x, std::fabs(x));
    const double bound = 1e-12 * sum_h * max_x;
    const std::vector<double> deviations = printed_deviations(windows_console);
    ASSERT_EQ(deviations.size(), 2u);
    for (const double deviation : deviations) EXPECT_LE(deviation, bound);
    for (const char* name : {"output_fft.txt", "output_diff.txt"}) {
      expect_close_values(read_file(linux_dir.file(name)), read_file(windows_dir.file(name)), bound, name);
    }
  }

  std::string wine_;
};

TEST_F(WindowsBuild, ExampleDataGivesTheSameRun) {
  compare_runs(read_file(std::filesystem::path(FIR_EXAMPLES_DIR) / "input.txt"),
               read_file(std::filesystem::path(FIR_EXAMPLES_DIR) / "fir.txt"));
}

TEST_F(WindowsBuild, SmallRandomPairGivesTheSameRun) {
  std::mt19937_64 generator(3);
  const auto uniform = [&] { return 2.0 * random_unit(generator) - 1.0; };
  std::string input, fir;
  for (int k = 0; k < 3000; ++k) input += std::to_string(uniform()) + "\n";
  for (int k = 0; k < 37; ++k) fir += std::to_string(uniform() / 37) + "\n";
  compare_runs(input, fir);
}

TEST_F(WindowsBuild, MissingFilterGivesTheSameMessage) { compare_runs("1 2 3", ""); }

}  // namespace
