// What a run of the program shows: the console and log layout of a complete
// run, and helpers to set up its files. Shared by the end-to-end suites.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "cp1251/cp1251.h"
#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "support/temp_dir.h"
#include "support/process.h"

namespace test_support {

inline const std::string closing = "\nнажмите любую клавишу для выхода...\n";

// The Windows-1251 bytes of a UTF-8 literal, as "log.txt" holds them.
#define CP1251(utf8_literal) std::string(cp1251::encode(utf8_literal).view())

// `text` as a regular expression that matches exactly it.
inline std::string literal(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::string_view(".^$|()[]{}*+?\\").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

// A stage time as the writer formats numbers: six significant digits, a
// three-digit exponent when there is one.
inline const std::string time_pattern = R"(\d+(?:\.\d+)?(?:e[+-]\d{3})?)";
// A deviation, captured: the same format, or nan / inf.
inline const std::string deviation_pattern = R"((nan|inf|\d+(?:\.\d+)?(?:e[+-]\d{3})?))";

// The result files a run could not write completely, in the order it writes
// them; each is named after the deviations, on the console and in the log.
using FailedFiles = std::vector<std::string>;

// The console of a complete run with N `samples` and M `taps`, line by line.
// Captures the two deviations.
inline std::regex complete_console(std::size_t samples, std::size_t taps, const FailedFiles& failed = {}) {
  std::string after_deviations;
  for (const std::string& name : failed) after_deviations += "\nошибка при записи файла: " + name + "\n";
  // A file that holds no value is said to, after its count line.
  const std::string no_samples = samples == 0 ? "предупреждение: в файле input.txt нет ни одного отсчёта\n" : "";
  const std::string no_taps =
      taps == 0 ? "предупреждение: в файле fir.txt нет ни одного коэффициента: все результаты равны нулю\n" : "";
  return std::regex(literal("загрузка данных...\t" + std::to_string(samples) + " samples\n" + no_samples) +
                    literal("загрузка FIR фильтра...\t" + std::to_string(taps) + " taps\n" + no_taps) + "\n" +
                    literal("линейная свёртка...\t") + time_pattern + " мс\n" +
                    literal("свёртка через fft...\t") + time_pattern + " мс\n" + "\n" +
                    literal("разница между линейной свёрткой и fft:\n") +
                    literal("   среднеквадратическое отклонение = ") + deviation_pattern + "\n" +
                    literal("максимальное абсолютное отклонение = ") + deviation_pattern + "\n" +
                    literal(after_deviations) + literal(closing));
}

// "log.txt" of a complete run, line by line: eight lines, then the lines
// naming the result files that failed; Windows-1251, CR LF.
inline std::vector<std::string> log_lines(std::size_t samples, std::size_t taps, const FailedFiles& failed) {
  std::vector<std::string> lines{
      literal(CP1251(u8"загрузка данных...\t") + std::to_string(samples) + " samples\r\n"),
      literal(CP1251(u8"загрузка FIR фильтра...\t") + std::to_string(taps) + " taps\r\n"),
      literal(CP1251(u8"линейная свёртка...\t")) + time_pattern + literal(CP1251(u8" мс\r\n")),
      literal(CP1251(u8"свёртка через fft...\t")) + time_pattern + literal(CP1251(u8" мс\r\n")),
      "\r\n",
      literal(CP1251(u8"разница между линейной свёрткой и fft:\r\n")),
      literal(CP1251(u8"   среднеквадратическое отклонение = ")) + deviation_pattern + "\r\n",
      literal(CP1251(u8"максимальное абсолютное отклонение = ")) + deviation_pattern + "\r\n"};
  for (const std::string& name : failed) {
    lines.push_back("\r\n");
    lines.push_back(literal(CP1251(u8"ошибка при записи файла: ") + name + "\r\n"));
  }
  return lines;
}

inline std::regex complete_log(std::size_t samples, std::size_t taps, const FailedFiles& failed = {}) {
  std::string pattern;
  for (const std::string& line : log_lines(samples, taps, failed)) pattern += line;
  return std::regex(pattern);
}

// The complete log's first lines, none cut: what a log that could not be
// written completely keeps.
inline std::regex whole_lines_of_log(std::size_t samples, std::size_t taps, const FailedFiles& failed = {}) {
  std::string pattern;
  const std::vector<std::string> lines = log_lines(samples, taps, failed);
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) pattern = "(?:" + *line + pattern + ")?";
  return std::regex(pattern);
}

struct Deviations {
  std::string rms, max_abs;  // as printed
};

// Checks a run's console, log and exit code against the complete-run
// layout for N and M, and returns the deviations they show (the same in
// both). The exit code is 2 when a result file failed, 0 otherwise.
inline Deviations expect_complete(const ProcessResult& run, const std::string& log_text, std::size_t samples,
                                  std::size_t taps, const FailedFiles& failed = {}) {
  EXPECT_EQ(run.exit_code, failed.empty() ? 0 : 2);
  std::smatch console;
  if (!std::regex_match(run.console, console, complete_console(samples, taps, failed))) {
    ADD_FAILURE() << "console:\n" << run.console;
    return {};
  }
  std::smatch log;
  EXPECT_TRUE(std::regex_match(log_text, log, complete_log(samples, taps, failed))) << "log:\n" << log_text;
  if (log.size() == 3) {
    EXPECT_EQ(log[1], console[1]);
    EXPECT_EQ(log[2], console[2]);
  }
  return {console[1], console[2]};
}

// Runs the program in `dir` and checks it as expect_complete does.
inline Deviations run_complete(const TempDir& dir, std::size_t samples, std::size_t taps,
                               const FailedFiles& failed = {}) {
  const auto run = run_program(dir.path().string());
  return expect_complete(run, read_file(dir.file("log.txt")), samples, taps, failed);
}

inline std::size_t line_count(const std::filesystem::path& file) {
  const std::string text = read_file(file);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A signal file with `count` values in the writer's format.
inline void write_samples(const std::filesystem::path& file, std::size_t count, double scale) {
  Signal values(count);
  for (std::size_t k = 0; k < count; ++k) values[k] = scale * static_cast<double>(k % 7) - 2.5;
  ASSERT_EQ(save_signal(file.string(), values), Status::ok);
}

// The shipped example files, copied into `dir`.
inline void copy_examples(const TempDir& dir) {
  for (const char* name : {"input.txt", "fir.txt"}) {
    std::filesystem::copy_file(std::filesystem::path(FIR_EXAMPLES_DIR) / name, dir.file(name));
  }
}

}  // namespace test_support
