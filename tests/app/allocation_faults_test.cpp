// Faults injected into complete runs in process. The k-th allocation of a
// run fails, for every k up to the number of allocations a run makes: every
// run either completes with the normal files, or ends with the message of
// the step that could not hold its memory and exit code 1, leaving no result
// file; never a crash, an abort or a leak.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/fault_injection.h"
#include "app/run.h"
#include "app/run_expect.h"
#include "support/console.h"

using namespace fault_injection;

namespace {

using namespace test_support;

// The message a run must end with, from the step its log shows it was in:
// the log ends with the step's label and the same message as the console.
std::string expected_message(const Outcome& run) {
  const std::string log = cp1251::to_utf8(run.log);
  const struct {
    std::string log_end;
    std::string message;
  } steps[] = {
      {"загрузка данных...\t", "ошибка: недостаточно памяти при загрузке файла: input.txt"},
      {"загрузка FIR фильтра...\t", "ошибка: недостаточно памяти при загрузке файла: fir.txt"},
      {"линейная свёртка...\t", "ошибка: недостаточно памяти для линейной свёртки"},
      {"свёртка через fft...\t", run.failed == Kind::plan ? "ошибка: FFTW не смог построить план преобразования"
                                                          : "ошибка: недостаточно памяти для свёртки через fft"},
      {" мс\r\n", "ошибка: недостаточно памяти для сигнала разницы"},
  };
  if (log.empty()) return "ошибка: недостаточно памяти";  // the start: the log is not opened yet
  for (const auto& step : steps) {
    if (log.ends_with(step.log_end + "\r\n" + step.message + "\r\n")) return step.message;
  }
  return "(a log that ends in no step's message: " + log + ")";
}

struct FaultCase {
  const char* name;
  std::size_t taps;  // 0: the shipped examples
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class AllocationFaults : public testing::TestWithParam<FaultCase> {
 protected:
  static void SetUpTestSuite() {
    // The closing wait reads standard input: give it one that has ended.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
  }
};

TEST_P(AllocationFaults, EveryAllocationOfARunFailsCleanly) {
  TempDir dir;
  if (GetParam().taps == 0) {
    copy_examples(dir);
  } else {
    write_samples(dir.file("input.txt"), 100'000, 1.0);
    write_samples(dir.file("fir.txt"), GetParam().taps, 0.001);
  }
  const Outcome reference = run_failing(dir, 0);
  ASSERT_EQ(reference.exit_code, 0) << reference.console;
  ASSERT_EQ(injector.live_count, 0u) << "a complete run left allocations behind";
  std::string reference_files[3];
  for (int f = 0; f < 3; ++f) reference_files[f] = read_file(dir.file(result_files[f]));
  std::cout << GetParam().name << ": " << reference.allocations << " allocations per run\n";

  std::size_t failed_runs = 0;
  for (std::size_t k = 1; k <= reference.allocations; ++k) {
    const Outcome run = run_failing(dir, k);
    const std::string at = "allocation " + std::to_string(k) + ":\n" + run.console;
    ASSERT_EQ(injector.live_count, 0u) << at << "left allocations behind";
    if (run.exit_code == 0) {  // an allocation the run can do without (the stack's reserve)
      for (int f = 0; f < 3; ++f) ASSERT_EQ(read_file(dir.file(result_files[f])), reference_files[f]) << at;
      continue;
    }
    ++failed_runs;
    ASSERT_EQ(run.exit_code, 1) << at;
    ASSERT_TRUE(run.console.ends_with("\n" + expected_message(run) + "\n" + closing)) << at;
    for (const char* name : result_files) ASSERT_FALSE(std::filesystem::exists(dir.file(name))) << at << name;
  }
  EXPECT_GT(failed_runs, reference.allocations / 2);
}

INSTANTIATE_TEST_SUITE_P(Inputs, AllocationFaults,
                         testing::Values(FaultCase{"Examples", 0}, FaultCase{"LongFilter", 1025}),
                         [](const testing::TestParamInfo<FaultCase>& row) { return std::string(row.param.name); });

}  // namespace
