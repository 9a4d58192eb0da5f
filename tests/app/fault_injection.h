// The faults injected into complete runs in process: the k-th allocation
// failing, a disk that fills under one file, and hooks that run another
// step (a second run, a renamed link) inside the program's own calls.
// Allocations are counted where the program makes them: C++ new, and,
// with the linker's --wrap (see tests/CMakeLists.txt), the C library's
// malloc and fopen and FFTW's fftw_malloc and planners as the program's
// own code calls them. Allocations inside FFTW and the C library are not
// counted: FFTW's planner aborts when its own allocations fail, which is
// why the stage checks for memory before it plans.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "app/run.h"
#include "support/console.h"
#include "support/files.h"
#include "support/temp_dir.h"

namespace fault_injection {

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

extern Injector injector;

// A full disk under one file: once `room` bytes are written to the file
// named `name`, its writes fail with ENOSPC (the one that crosses the line
// writes what fits).
struct FullDisk {
  std::string name;
  std::size_t room = 0;
  int handle = -1;
  std::size_t written = 0;
};

extern FullDisk full_disk;

// Steps run inside the program's calls, once each, then cleared: after its
// fopen of a file whose name ends with `name`, and before its first flock.
struct Hooks {
  std::string after_fopen_of;
  std::function<void()> after_fopen;
  std::function<void()> before_flock;
};
extern Hooks hooks;

inline const char* const result_files[] = {"output_linear.txt", "output_fft.txt", "output_diff.txt"};

struct Outcome {
  int exit_code;
  std::string console, log;
  std::size_t allocations;
  Kind failed;
};

// One complete run of the program in `dir`, its k-th allocation failing
// (none for 0), from a folder without the log and result files unless
// `fresh` is false.
inline Outcome run_failing(const test_support::TempDir& dir, std::size_t fail_at, bool fresh = true) {
  for (const char* name : {result_files[0], result_files[1], result_files[2], "log.txt"}) {
    if (fresh) std::filesystem::remove(dir.file(name));
  }
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  testing::internal::CaptureStdout();
  injector.count = 0, injector.fail_at = fail_at, injector.failed = Kind::none, injector.armed = true;
  const int exit_code = run_test_bench();
  injector.armed = false;
  Outcome outcome{exit_code, test_support::captured_console(), test_support::read_file("log.txt"), injector.count, injector.failed};
  std::filesystem::current_path(previous);
  return outcome;
}

}  // namespace fault_injection
