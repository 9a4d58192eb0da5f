// Hostile inputs, unusable result files and exhaustion, end to end: the
// program never crashes, never hangs and never reports a failure as success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <ostream>
#include <regex>
#include <random>
#include <string>
#include <thread>

#include "app/run_expect.h"
#include "support/console.h"

namespace {

using namespace test_support;

const std::string unreadable_input = "загрузка данных...\t\nошибка при загрузке файла: input.txt\n" + closing;

// The reader's warning as a line of its own, after the count line.
std::string warning(int line, const std::string& token) { return reader_warning("input.txt", line, token).substr(1); }
const std::string no_samples = "предупреждение: в файле input.txt нет ни одного отсчёта\n";

// ---- Files that are not what they should be ---------------------------------------

TEST(HostileInput, RandomBytesStopAtTheFirstNonNumber) {
  TempDir dir;
  std::mt19937_64 generator(77);
  std::string bytes(200000, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  bytes[0] = '\x01';  // not a blank: the first token is the rejected one
  write_file(dir.file("input.txt"), bytes);
  write_file(dir.file("fir.txt"), "1");
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.console.starts_with("загрузка данных...\t0 samples\nпредупреждение: файл input.txt, строка 1: не число \"?"))
      << run.console;
  EXPECT_NE(run.console.find("\n" + no_samples + "загрузка FIR фильтра...\t1 taps\n"), std::string::npos) << run.console;
  EXPECT_EQ(read_file(dir.file("output_linear.txt")), "");
  EXPECT_EQ(line_count(dir.file("output_fft.txt")), 2u);  // blocks of 1, none to run
}

// A number ends where its characters end, as with stream extraction: the
// NUL after "3" ends it, and the NUL then starts the rejected token.
TEST(HostileInput, NulByteStopsReadingAfterTheNumberBeforeIt) {
  TempDir dir;
  write_file(dir.file("input.txt"), std::string("1\n2\n3\0""4\n5\n", 10));
  write_file(dir.file("fir.txt"), "1");
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.console.starts_with("загрузка данных...\t3 samples\n" + warning(3, "?4"))) << run.console;
  EXPECT_EQ(read_file(dir.file("output_linear.txt")), "1\r\n2\r\n3\r\n");
}

TEST(HostileInput, DirectoryOrLinkLoopIsUnreadable) {
  for (const char* kind : {"directory", "link loop"}) {
    TempDir dir;
    if (std::string(kind) == "directory") {
      std::filesystem::create_directory(dir.file("input.txt"));
    } else {
      std::filesystem::create_symlink("loop_b", dir.file("input.txt"));
      std::filesystem::create_symlink("input.txt", dir.file("loop_b"));
    }
    write_file(dir.file("fir.txt"), "1");
    const auto run = run_program(dir.path().string());
    EXPECT_EQ(run.exit_code, 0) << kind;
    EXPECT_EQ(run.console, unreadable_input) << kind;
    EXPECT_FALSE(std::filesystem::exists(dir.file("output_linear.txt"))) << kind;
  }
}

// 50 MB in one token (the one thing that makes the reader's buffer outgrow
// a chunk): rounded exactly when it is a fraction, refused as out of range
// when it is an integer.
TEST(HostileInput, FiftyMegabyteTokens) {
  const std::string digits(50'000'000, '1');
  {
    TempDir dir;
    write_file(dir.file("input.txt"), digits);
    const auto run = run_program(dir.path().string());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(run.console.starts_with("загрузка данных...\t0 samples\n" + warning(1, std::string(32, '1')) + no_samples))
        << run.console.substr(0, 300);
  }
  {
    TempDir dir;
    write_file(dir.file("input.txt"), "0." + digits);
    write_file(dir.file("fir.txt"), "1");
    run_complete(dir, 1, 1);
    EXPECT_EQ(read_file(dir.file("output_linear.txt")), "0.111111\r\n");
  }
}

// Ten million values load (the missing filter then ends the run before any
// stage, so the test stays quick).
TEST(HostileInput, TenMillionValuesLoad) {
  TempDir dir;
  std::string text;
  text.reserve(20'000'000);
  for (int k = 0; k < 10'000'000; ++k) text += k % 2 ? "1\n" : "2\n";
  write_file(dir.file("input.txt"), text);
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.console, "загрузка данных...\t10000000 samples\nзагрузка FIR фильтра...\t\n"
                         "ошибка при загрузке файла: fir.txt\n" + closing);
}

// The edges of the double range: the largest finite values pass, subnormals
// round correctly (one just above half the smallest subnormal rounds up, one
// just below it to zero), 1e-400 underflows to zero, 1.8e308 stops reading.
// The FFT of such values overflows, so the deviations are NaN.
TEST(HostileInput, NumbersAtAndBeyondTheDoubleRange) {
  TempDir dir;
  write_file(dir.file("input.txt"),
             "1.7976931348623157e308 -1.7976931348623157e308 4.9e-324 2.4703282292062328e-324\n"
             "2.4703282292062327e-324 1e-400 -1e-400 1.8e308 5");
  write_file(dir.file("fir.txt"), "1");
  const auto run = run_program(dir.path().string());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.console.starts_with("загрузка данных...\t7 samples\n" + warning(2, "1.8e308"))) << run.console;
  EXPECT_NE(run.console.find("   среднеквадратическое отклонение = nan\nмаксимальное абсолютное отклонение = nan\n"),
            std::string::npos)
      << run.console;
  EXPECT_EQ(read_file(dir.file("output_linear.txt")),
            "1.79769e+308\r\n-1.79769e+308\r\n4.94066e-324\r\n4.94066e-324\r\n0\r\n0\r\n0\r\n");
}

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
  std::string old_lines;
  for (int k = 0; k < 1000; ++k) old_lines += "old\r\n";
  const int memfd = memfd_create("sealed", MFD_ALLOW_SEALING);  // the programs inherit it
  ASSERT_GE(memfd, 0);
  ASSERT_EQ(write(memfd, old_lines.data(), old_lines.size()), static_cast<ssize_t>(old_lines.size()));
  ASSERT_EQ(fcntl(memfd, F_ADD_SEALS, F_SEAL_SHRINK), 0);
  const std::string sealed = "/proc/self/fd/" + std::to_string(memfd);
  for (const bool sweep : {false, true}) {
    TempDir dir;
    write_samples(dir.file("input.txt"), 10, 1.0);
    write_file(dir.file("fir.txt"), "1");
    std::filesystem::create_symlink(sealed, dir.file("output_linear.txt"));
    const ProcessResult run =
        sweep ? run_command(program("fir_sweep", {"--input", "input.txt", "--fir", "fir.txt", "--repeat", "1", "--out",
                                                  "output_linear.txt"}),
                            dir.path().string(), {})
              : run_program(dir.path().string());
    EXPECT_EQ(run.exit_code, 2) << run.console << run.errors;
    const std::string said = sweep ? "fir_sweep: --out: cannot write 'output_linear.txt': Operation not permitted\n"
                                   : "\nошибка при записи файла: output_linear.txt\n";
    EXPECT_NE((sweep ? run.errors : run.console).find(said), std::string::npos) << run.console << run.errors;
    std::string now(old_lines.size() + 1, '\0');
    EXPECT_EQ(pread(memfd, now.data(), now.size(), 0), static_cast<ssize_t>(old_lines.size()));
    EXPECT_TRUE(now.starts_with(old_lines)) << (sweep ? "fir_sweep" : "fir_bench");
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

// ---- Exhaustion -------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_space_can_be_limited = false;  // the sanitizer reserves terabytes
#else
constexpr bool address_space_can_be_limited = true;
#endif

// Only a real limit on the address space reaches the start of the process,
// the loader and the C++ runtime's reserve for exceptions; every allocation
// of the run itself fails in process in run_faults_test. The lowest limit at
// which the program starts is found by bisection; there the run must stop
// at its start, and above it each run either completes or ends with exit
// code 1 and a message naming what could not be held, never with a signal,
// an abort or std::terminate.
TEST(Exhaustion, AddressSpaceLimitsFromTheStartUp) {
  if (!address_space_can_be_limited) GTEST_SKIP() << "address-space limits do not work under AddressSanitizer";
  if (launched()) GTEST_SKIP() << "an address-space limit would bind the launcher, " << launcher()[0] << ", not the program";
  TempDir dir;
  copy_examples(dir);
  const auto run_with = [&](std::uint64_t limit) { return run_program(dir.path().string(), "", limit); };
  std::uint64_t low = 1 << 20, high = std::uint64_t{256} << 20;  // the program does not start, does start
  ASSERT_NE(run_with(high).exit_code, 127);
  while (high - low > (64 << 10)) {
    const std::uint64_t middle = (low + high) / 2;
    (run_with(middle).exit_code == 127 ? low : high) = middle;
  }
  const auto first = run_with(high);
  EXPECT_EQ(first.exit_code, 1) << first.console << first.errors;
  EXPECT_TRUE(first.console.ends_with("\nошибка: недостаточно памяти\n" + closing)) << first.console << first.errors;
  int exit_code = 1;
  for (std::uint64_t more = 256 << 10; more <= (std::uint64_t{128} << 20); more *= 2) {
    const auto run = run_with(high + more);
    const std::string at = std::to_string((high + more) >> 10) + " KiB:\n" + run.console + run.errors;
    exit_code = run.exit_code;
    ASSERT_TRUE(exit_code == 0 || exit_code == 1) << at;
    if (exit_code == 1) {
      ASSERT_NE(run.console.find("\nошибка: недостаточно памяти"), std::string::npos) << at;
      ASSERT_TRUE(run.console.ends_with(closing)) << at;
    }
  }
  EXPECT_EQ(exit_code, 0) << "no run succeeded";
}

// ---- Repetition -----------------------------------------------------------------

TEST(Repetition, TwentyRunsOnTheExamplesWriteIdenticalFiles) {
  TempDir dir;
  copy_examples(dir);
  std::string first[3];
  const char* results[] = {"output_linear.txt", "output_fft.txt", "output_diff.txt"};
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(run_program(dir.path().string()).exit_code, 0) << "round " << round;
    for (int f = 0; f < 3; ++f) {
      const std::string bytes = read_file(dir.file(results[f]));
      if (round == 0) {
        first[f] = bytes;
        ASSERT_FALSE(bytes.empty());
      } else {
        ASSERT_EQ(bytes, first[f]) << results[f] << " differs in round " << round;
      }
    }
  }
}

}  // namespace
