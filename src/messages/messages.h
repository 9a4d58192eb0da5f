// Every text the program prints, once, as Windows-1251 bytes.
//
// The texts are written here in UTF-8 for reading and encoded to
// Windows-1251 at compile time (cp1251.h); a character outside ASCII and
// Cyrillic fails the build. "log.txt" receives these bytes unchanged, and so does a Windows
// console (code page 1251); elsewhere the console layer transcodes them.
#pragma once

#include <string_view>

#include "cp1251/cp1251.h"
#include "signal/status.h"

namespace messages {

namespace detail {
inline constexpr auto loading_data = cp1251::encode(u8"загрузка данных...");
inline constexpr auto loading_filter = cp1251::encode(u8"загрузка FIR фильтра...");
inline constexpr auto direct_stage = cp1251::encode(u8"линейная свёртка...");
inline constexpr auto fft_stage = cp1251::encode(u8"свёртка через fft...");
inline constexpr auto milliseconds_suffix = cp1251::encode(u8" мс");
inline constexpr auto deviations_title = cp1251::encode(u8"разница между линейной свёрткой и fft:");
inline constexpr auto rms_label = cp1251::encode(u8"   среднеквадратическое отклонение = ");
inline constexpr auto max_abs_label = cp1251::encode(u8"максимальное абсолютное отклонение = ");
inline constexpr auto exit_prompt = cp1251::encode(u8"нажмите любую клавишу для выхода...");
inline constexpr auto load_failed = cp1251::encode(u8"ошибка при загрузке файла: ");
inline constexpr auto save_failed = cp1251::encode(u8"ошибка при записи файла: ");
inline constexpr auto warning_file = cp1251::encode(u8"предупреждение: файл ");
inline constexpr auto warning_line = cp1251::encode(u8", строка ");
inline constexpr auto warning_not_number = cp1251::encode(u8": не число \"");
inline constexpr auto warning_rest_skipped = cp1251::encode(u8"\", остаток файла пропущен");
inline constexpr auto warning_byte_order_mark =
    cp1251::encode(u8" начинается с метки порядка байтов UTF-8, а это не число: файл не прочитан");
inline constexpr auto warning_in_file = cp1251::encode(u8"предупреждение: в файле ");
inline constexpr auto warning_no_samples = cp1251::encode(u8" нет ни одного отсчёта");
inline constexpr auto warning_no_taps = cp1251::encode(u8" нет ни одного коэффициента: все результаты равны нулю");
inline constexpr auto warning_columns_file = cp1251::encode(u8"предупреждение: в каждой строке файла ");
inline constexpr auto warning_columns_count = cp1251::encode(u8" поровну значений (");
inline constexpr auto warning_columns_read = cp1251::encode(u8"): файл прочитан как одна последовательность из ");
inline constexpr auto warning_columns_values = cp1251::encode(u8" значений, а не как столбцы");
inline constexpr auto too_long = cp1251::encode(u8"ошибка: длина сигнала или преобразования слишком велика");
inline constexpr auto fftw_failed = cp1251::encode(u8"ошибка: FFTW не смог построить план преобразования");
inline constexpr auto too_many_values = cp1251::encode(u8"ошибка: слишком много чисел в файле: ");
inline constexpr auto log_in_use = cp1251::encode(u8"ошибка: файл log.txt занят другим запуском");
inline constexpr auto result_in_use = cp1251::encode(u8"ошибка: файл занят другим запуском: ");
inline constexpr auto no_memory = cp1251::encode(u8"ошибка: недостаточно памяти");
inline constexpr auto no_memory_loading = cp1251::encode(u8"ошибка: недостаточно памяти при загрузке файла: ");
inline constexpr auto no_memory_direct = cp1251::encode(u8"ошибка: недостаточно памяти для линейной свёртки");
inline constexpr auto no_memory_fft = cp1251::encode(u8"ошибка: недостаточно памяти для свёртки через fft");
inline constexpr auto no_memory_difference = cp1251::encode(u8"ошибка: недостаточно памяти для сигнала разницы");
}  // namespace detail

// Progress of the run. A stage label ends with a tab: the count or time that
// follows completes its line.
inline constexpr std::string_view loading_data = detail::loading_data.view();
inline constexpr std::string_view loading_filter = detail::loading_filter.view();
inline constexpr std::string_view samples_suffix = " samples";
inline constexpr std::string_view taps_suffix = " taps";
inline constexpr std::string_view direct_stage = detail::direct_stage.view();
inline constexpr std::string_view fft_stage = detail::fft_stage.view();
inline constexpr std::string_view stage_label_end = "\t";
inline constexpr std::string_view milliseconds_suffix = detail::milliseconds_suffix.view();
inline constexpr std::string_view deviations_title = detail::deviations_title.view();
inline constexpr std::string_view rms_label = detail::rms_label.view();
inline constexpr std::string_view max_abs_label = detail::max_abs_label.view();
inline constexpr std::string_view exit_prompt = detail::exit_prompt.view();

// ---- Why the run stopped ---------------------------------------------------------

// The steps a failure can stop.
enum class Step { start, load, direct, fft, compare, save };

// The line that says why `step` could not go on with `status`; a step that
// loads or saves a file is followed by the file name. Nothing for ok. The
// one mapping of failures to messages, for the program, its reader and
// writer, and fir_sweep.
constexpr std::string_view failure_message(Status status, Step step) {
  switch (status) {
    case Status::ok:
      return {};
    case Status::file_error:  // cannot be opened, read or written
      return step == Step::save ? detail::save_failed.view() : detail::load_failed.view();
    case Status::out_of_memory:
      switch (step) {
        case Step::start:
          return detail::no_memory.view();
        case Step::load:
          return detail::no_memory_loading.view();
        case Step::direct:
          return detail::no_memory_direct.view();
        case Step::fft:
          return detail::no_memory_fft.view();
        case Step::compare:
          return detail::no_memory_difference.view();
        case Step::save:
          return detail::no_memory.view();
      }
      break;
    case Status::too_long:  // more values than a count holds, or a length past FFTW's int
      return step == Step::load ? detail::too_many_values.view() : detail::too_long.view();
    case Status::fftw_failed:
      return detail::fftw_failed.view();
  }
  return {};  // not reached: every status and step is named above
}

// Another run in the same folder holds "log.txt"; this one touches nothing.
inline constexpr std::string_view log_in_use = detail::log_in_use.view();
// Another run holds a result file, which is then left as it is; its name follows.
inline constexpr std::string_view result_in_use = detail::result_in_use.view();

// Reading stopped early: warning_file, name, warning_line, line number,
// warning_not_number, the offending token, warning_rest_skipped; or, for a
// byte-order mark at the start, warning_file, name, warning_byte_order_mark.
inline constexpr std::string_view warning_file = detail::warning_file.view();
inline constexpr std::string_view warning_line = detail::warning_line.view();
inline constexpr std::string_view warning_not_number = detail::warning_not_number.view();
inline constexpr std::string_view warning_rest_skipped = detail::warning_rest_skipped.view();
inline constexpr std::string_view warning_byte_order_mark = detail::warning_byte_order_mark.view();

// A file that holds no value: warning_in_file, name, then warning_no_samples
// or warning_no_taps.
inline constexpr std::string_view warning_in_file = detail::warning_in_file.view();
inline constexpr std::string_view warning_no_samples = detail::warning_no_samples.view();
inline constexpr std::string_view warning_no_taps = detail::warning_no_taps.view();

// Lines that look like columns: warning_columns_file, name,
// warning_columns_count, values per line, warning_columns_read, the count
// of values, warning_columns_values.
inline constexpr std::string_view warning_columns_file = detail::warning_columns_file.view();
inline constexpr std::string_view warning_columns_count = detail::warning_columns_count.view();
inline constexpr std::string_view warning_columns_read = detail::warning_columns_read.view();
inline constexpr std::string_view warning_columns_values = detail::warning_columns_values.view();

}  // namespace messages
