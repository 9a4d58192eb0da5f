// Faults injected into complete runs in process. The k-th allocation of a
// run fails, for every k up to the number of allocations a run makes: every
// run either completes with the normal files, or ends with the message of
// the step that could not hold its memory and exit code 1, leaving no result
// file; never a crash, an abort or a leak. And the disk fills while one
// result file is written.
//
// Allocations are counted where the program makes them: C++ new, and, with
// the linker's --wrap (see tests/CMakeLists.txt), the C library's malloc and
// fopen and FFTW's fftw_malloc and planners as the program's own code calls
// them. Allocations inside FFTW and the C library are not counted: FFTW's
// planner aborts when its own allocations fail, which is why the stage
// checks for memory before it plans.
#include <gtest/gtest.h>
#include <fftw3.h>

#include <fcntl.h>
#include <sys/types.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <unistd.h>

#include "app/run.h"
#include "app/run_expect.h"
#include "support/console.h"

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
ssize_t __real_write(int handle, const void* bytes, std::size_t size);
void* __real_malloc(std::size_t size);
void __real_free(void* p);
std::FILE* __real_fopen(const char* path, const char* mode);
std::FILE* __real_fopen64(const char* path, const char* mode);
int __real_fclose(std::FILE* file);
void* __real_fftw_malloc(std::size_t size);
void __real_fftw_free(void* p);
fftw_plan __real_fftw_plan_dft_r2c_1d(int n, double* in, fftw_complex* out, unsigned flags);
fftw_plan __real_fftw_plan_dft_c2r_1d(int n, fftw_complex* in, double* out, unsigned flags);
void __real_fftw_destroy_plan(fftw_plan plan);
}

namespace {

enum class Kind { none, memory, stream, plan };

// The injector: while armed it counts allocations, fails the k-th, and
// keeps every allocation made meanwhile until it is released, so that what
// a run leaves behind is known.
struct Injector {
  bool armed = false;
  std::size_t count = 0;
  std::size_t fail_at = 0;  // 0: none fails
  Kind failed = Kind::none;
  std::array<const void*, 4096> live{};
  std::size_t live_count = 0;

  // Whether this allocation fails; counts it.
  bool fails(Kind kind) {
    if (!armed) return false;
    if (++count != fail_at) return false;
    failed = kind;
    return true;
  }
  template <typename T>
  T* keep(T* p) {
    if (!armed || p == nullptr) return p;
    for (const void*& slot : live) {
      if (slot == nullptr) {
        slot = p;
        ++live_count;
        return p;
      }
    }
    std::abort();  // more live allocations than the table holds
  }
  void drop(const void* p) {
    if (p == nullptr) return;
    for (const void*& slot : live) {
      if (slot == p) {
        slot = nullptr;
        --live_count;
        return;
      }
    }
  }
};

Injector injector;

// A full disk under one file: once `room` bytes are written to the file
// named `name`, its writes fail with ENOSPC (the one that crosses the line
// writes what fits).
struct FullDisk {
  std::string name;
  std::size_t room = 0;
  int handle = -1;
  std::size_t written = 0;
};

FullDisk full_disk;

// Notes which handle the full disk's file has; the same number may come
// back for another file once it is closed.
int opened(const char* path, int handle) {
  if (full_disk.name.empty() || handle == -1) return handle;
  const bool on_full_disk = std::string_view(path).ends_with(full_disk.name);
  if (on_full_disk) {
    full_disk.handle = handle;
    full_disk.written = 0;
  } else if (handle == full_disk.handle) {
    full_disk.handle = -1;
  }
  return handle;
}

}  // namespace

void* operator new(std::size_t size) {
  if (injector.fails(Kind::memory)) throw std::bad_alloc();
  void* p = __real_malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return injector.keep(p);
}
void operator delete(void* p) noexcept {
  injector.drop(p);
  __real_free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

extern "C" {
int __wrap_open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const auto mode = static_cast<mode_t>(va_arg(rest, int));
  va_end(rest);
  return opened(path, __real_open(path, flags, mode));
}
int __wrap_open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const auto mode = static_cast<mode_t>(va_arg(rest, int));
  va_end(rest);
  return opened(path, __real_open64(path, flags, mode));
}
ssize_t __wrap_write(int handle, const void* bytes, std::size_t size) {
  if (handle != full_disk.handle) return __real_write(handle, bytes, size);
  const std::size_t fits = std::min(size, full_disk.room - full_disk.written);
  if (fits == 0) {
    errno = ENOSPC;
    return -1;
  }
  const ssize_t written = __real_write(handle, bytes, fits);
  if (written > 0) full_disk.written += static_cast<std::size_t>(written);
  return written;
}
void* __wrap_malloc(std::size_t size) {
  if (injector.fails(Kind::memory)) {
    errno = ENOMEM;
    return nullptr;
  }
  return injector.keep(__real_malloc(size));
}
void __wrap_free(void* p) {
  injector.drop(p);
  __real_free(p);
}
std::FILE* __wrap_fopen(const char* path, const char* mode) {
  if (injector.fails(Kind::stream)) {
    errno = ENOMEM;
    return nullptr;
  }
  return injector.keep(__real_fopen(path, mode));
}
std::FILE* __wrap_fopen64(const char* path, const char* mode) {
  if (injector.fails(Kind::stream)) {
    errno = ENOMEM;
    return nullptr;
  }
  return injector.keep(__real_fopen64(path, mode));
}
int __wrap_fclose(std::FILE* file) {
  injector.drop(file);
  return __real_fclose(file);
}
void* __wrap_fftw_malloc(std::size_t size) {
  if (injector.fails(Kind::memory)) return nullptr;
  return injector.keep(__real_fftw_malloc(size));
}
void __wrap_fftw_free(void* p) {
  injector.drop(p);
  __real_fftw_free(p);
}
fftw_plan __wrap_fftw_plan_dft_r2c_1d(int n, double* in, fftw_complex* out, unsigned flags) {
  if (injector.fails(Kind::plan)) return nullptr;
  return injector.keep(__real_fftw_plan_dft_r2c_1d(n, in, out, flags));
}
fftw_plan __wrap_fftw_plan_dft_c2r_1d(int n, fftw_complex* in, double* out, unsigned flags) {
  if (injector.fails(Kind::plan)) return nullptr;
  return injector.keep(__real_fftw_plan_dft_c2r_1d(n, in, out, flags));
}
void __wrap_fftw_destroy_plan(fftw_plan plan) {
  injector.drop(plan);
  __real_fftw_destroy_plan(plan);
}
}

namespace {

using namespace test_support;

const char* const result_files[] = {"output_linear.txt", "output_fft.txt", "output_diff.txt"};

struct Outcome {
  int exit_code;
  std::string console, log;
  std::size_t allocations;
  Kind failed;
};

// One complete run of the program in `dir`, its k-th allocation failing
// (none for 0), from a folder without the log and result files.
Outcome run_failing(const TempDir& dir, std::size_t fail_at) {
  for (const char* name : result_files) std::filesystem::remove(dir.file(name));
  std::filesystem::remove(dir.file("log.txt"));
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  testing::internal::CaptureStdout();
  injector.count = 0;
  injector.fail_at = fail_at;
  injector.failed = Kind::none;
  injector.armed = true;
  const int exit_code = run_test_bench();
  injector.armed = false;
  Outcome outcome{exit_code, captured_console(), read_file("log.txt"), injector.count, injector.failed};
  std::filesystem::current_path(previous);
  return outcome;
}

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

INSTANTIATE_TEST_SUITE_P(Inputs, AllocationFaults,
                         testing::Values(FaultCase{"Examples", 0}, FaultCase{"LongFilter", 1025}),
                         [](const testing::TestParamInfo<FaultCase>& row) { return std::string(row.param.name); });

}  // namespace
