// Hostile inputs and exhaustion, end to end: whatever the files hold and
// however little memory there is, the program never crashes, never hangs
// and never reports a failure as success; twenty runs give the same bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

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
