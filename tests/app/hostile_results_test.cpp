// Result files that cannot be written, FIFOs, file-size limits and a
// console that goes away, end to end: every file the run can write is
// whole, every one it cannot is named, and the exit code says which.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <thread>

#include "app/run_expect.h"

namespace {

using namespace test_support;

// ---- Result files that cannot be written ----------------------------------------------

TEST(HostileResults, AllResultFilesDirectories) {
  TempDir dir;
  write_samples(dir.file("input.txt"), 10, 1.0);
  write_file(dir.file("fir.txt"), "1");
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    std::filesystem::create_directory(dir.file(name));
  }
  run_complete(dir, 10, 1, {"output_linear.txt", "output_fft.txt", "output_diff.txt"});
}

// A full disk: writing to /dev/full fails at the first line.
TEST(HostileResults, FullDiskForOneFileOthersWritten) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TempDir dir;
  write_samples(dir.file("input.txt"), 10, 1.0);
  write_file(dir.file("fir.txt"), "1");
  std::filesystem::create_symlink("/dev/full", dir.file("output_linear.txt"));
  run_complete(dir, 10, 1, {"output_linear.txt"});
  EXPECT_EQ(line_count(dir.file("output_fft.txt")), 48u);
  EXPECT_EQ(line_count(dir.file("output_diff.txt")), 10u);
}

// A result file that cannot be emptied (a sealed memfd, reached through
// /proc/self/fd) is refused with its old content whole, not written over,
// by fir_bench and by fir_sweep alike.
TEST(HostileResults, AFileThatCannotBeEmptiedIsRefused) {
  if (windows_programs()) GTEST_SKIP() << "a sealed memfd is Linux's";
  const std::string old_lines(5000, 'o');
  const int memfd = memfd_create("sealed", MFD_ALLOW_SEALING);  // the programs inherit it
  ASSERT_EQ(write(memfd, old_lines.data(), old_lines.size()), static_cast<ssize_t>(old_lines.size()));
  ASSERT_EQ(fcntl(memfd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
  for (const bool sweep : {false, true}) {
    TempDir dir;
    write_samples(dir.file("input.txt"), 10, 1.0);
    write_file(dir.file("fir.txt"), "1");
    std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(memfd), dir.file("output_linear.txt"));
    const std::vector<std::string> sweep_arguments{"--input", "input.txt", "--fir", "fir.txt", "--out", "output_linear.txt"};
    const ProcessResult run = run_command(program(sweep ? "fir_sweep" : "fir_bench", sweep ? sweep_arguments : std::vector<std::string>{}),
                                          dir.path().string(), {});
    EXPECT_EQ(run.exit_code, 2) << run.console << run.errors;
    const std::string said = sweep ? "fir_sweep: --out: cannot write 'output_linear.txt': Operation not permitted\n"
                                   : "\nошибка при записи файла: output_linear.txt\n";
    EXPECT_NE((sweep ? run.errors : run.console).find(said), std::string::npos) << run.console << run.errors;
    std::string now(old_lines.size() + 1, '\0');
    EXPECT_TRUE(pread(memfd, now.data(), now.size(), 0) == static_cast<ssize_t>(old_lines.size()) &&
                now.starts_with(old_lines)) << sweep;
  }
  close(memfd);
}

// A file of the run that is a FIFO: with no reader its open fails at once
// instead of holding the run (the log is skipped, a result file named as
// unwritable); with a reader it receives every byte a file would.
struct FifoCase {
  const char* name;
  const char* file;
  bool read;
};
void PrintTo(const FifoCase& c, std::ostream* os) { *os << c.name; }

class FifoFiles : public testing::TestWithParam<FifoCase> {};

TEST_P(FifoFiles, NeverHoldTheRun) {
  if (windows_programs()) GTEST_SKIP() << "a FIFO is a POSIX folder's";
  const FifoCase& c = GetParam();
  TempDir dir, reference;
  for (const TempDir* d : {&dir, &reference}) {
    write_samples(d->file("input.txt"), 20000, 1.0);
    write_file(d->file("fir.txt"), "0.5 0.25");
  }
  ASSERT_EQ(run_program(reference.path().string()).exit_code, 0);
  const std::string fifo = dir.file(c.file);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  // The test's own writer end keeps the reader from an end of file until
  // the program has finished.
  const int reader = c.read ? open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
  const int writer = c.read ? open(fifo.c_str(), O_WRONLY) : -1;
  ASSERT_EQ(reader >= 0 && writer >= 0, c.read);
  std::string received;
  std::thread drain([&] {
    fcntl(reader, F_SETFL, 0);
    char buffer[65536];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<std::size_t>(n));
  });
  ProcessOptions options;
  options.time_limit_seconds = 30;
  const ProcessResult run = run_command(program("fir_bench"), dir.path().string(), options);
  close(writer);
  drain.join();
  close(reader);
  // A log without a reader holds nothing to check: the reference's stands in.
  const bool log = std::string(c.file) == "log.txt";
  const std::string log_text = !log ? read_file(dir.file("log.txt")) : c.read ? received : read_file(reference.file(c.file));
  expect_complete(run, log_text, 20000, 2, c.read || log ? FailedFiles{} : FailedFiles{c.file});
  EXPECT_TRUE(log || !c.read || received == read_file(reference.file(c.file)));
}

INSTANTIATE_TEST_SUITE_P(Table, FifoFiles,
                         testing::Values(FifoCase{"LogWithoutReader", "log.txt", false},
                                         FifoCase{"LogWithReader", "log.txt", true},
                                         FifoCase{"ResultWithoutReader", "output_linear.txt", false},
                                         FifoCase{"ResultWithReader", "output_fft.txt", true}),
                         [](const testing::TestParamInfo<FifoCase>& row) { return std::string(row.param.name); });

// A file-size limit (ulimit -f) makes writes past it fail: each result file
// keeps the longest run of whole lines that fits, every file cut short is
// named on the console and in the log, and the exit code is 2.
class FileSizeLimit : public testing::TestWithParam<std::uint64_t> {};

TEST_P(FileSizeLimit, ResultFilesKeepWholeLines) {
  if (windows_programs()) {
    GTEST_SKIP() << "a file-size limit is a POSIX limit: under Wine it ends the launcher's process with SIGXFSZ, "
                    "which a Windows program cannot ignore; Windows has no such limit";
  }
  TempDir reference, dir;
  copy_examples(reference);
  copy_examples(dir);
  run_complete(reference, 100000, 64);
  ProcessOptions options;
  options.file_size_limit = GetParam();
  // Below the log's own size the console, as large, would not fit a file
  // either: it goes to the null device.
  const bool log_cut = GetParam() < 1024;
  if (log_cut) options.stdout_to = Stdout::closed;
  const auto run = run_command(program("fir_bench"), dir.path().string(), options);
  FailedFiles failed;
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    const std::string full = read_file(reference.file(name));
    std::size_t kept = std::min<std::size_t>(full.size(), GetParam());
    while (kept > 0 && full.compare(kept - 2, 2, "\r\n") != 0) --kept;  // the last whole line that fits
    const std::string written = read_file(dir.file(name));
    EXPECT_TRUE(written == full.substr(0, kept)) << name << ": " << written.size() << " bytes, expected " << kept;
    if (kept < full.size()) failed.push_back(name);
  }
  const std::string log = read_file(dir.file("log.txt"));
  if (!log_cut) {
    expect_complete(run, log, 100000, 64, failed);
    return;
  }
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_LE(log.size(), GetParam());
  EXPECT_TRUE(std::regex_match(log, whole_lines_of_log(100000, 64, failed))) << log;
}

// 250 bytes: the log too is cut, near its end; 4 KiB: every
// result file is cut; 1010 KiB: the direct result (998 KiB) fits, the other
// two are cut in the middle of a line; 4 MiB: none.
INSTANTIATE_TEST_SUITE_P(Bytes, FileSizeLimit, testing::Values(250, 4096, 1010 * 1024, 4 << 20));

// ---- A console that goes away ----------------------------------------------------

struct ConsoleCase {
  const char* name;
  Stdout stdout_to;
};
void PrintTo(const ConsoleCase& c, std::ostream* os) { *os << c.name; }

class ConsoleGone : public testing::TestWithParam<ConsoleCase> {};

// The run goes on as if the console were there: the result files are those
// of a run with a console, the log holds its eight lines and nothing else,
// and the exit code is that of a complete run.
TEST_P(ConsoleGone, ResultsAndLogStayComplete) {
  TempDir reference, dir;
  copy_examples(reference);
  copy_examples(dir);
  run_complete(reference, 100000, 64);
  ProcessOptions options;
  options.stdin_bytes = "\n";
  options.stdout_to = GetParam().stdout_to;
  options.pipe_bytes = 10;
  const auto run = run_command(program("fir_bench"), dir.path().string(), options);
  EXPECT_EQ(run.exit_code, 0);
  const std::string log = read_file(dir.file("log.txt"));
  EXPECT_TRUE(std::regex_match(log, complete_log(100000, 64))) << log;
  for (const char* name : {"output_linear.txt", "output_fft.txt", "output_diff.txt"}) {
    EXPECT_EQ(read_file(dir.file(name)), read_file(reference.file(name))) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, ConsoleGone,
                         testing::Values(ConsoleCase{"PipeClosedAfterTenBytes", Stdout::pipe_dropped},
                                         ConsoleCase{"StandardOutputClosed", Stdout::closed}),
                         [](const testing::TestParamInfo<ConsoleCase>& row) { return std::string(row.param.name); });

}  // namespace
