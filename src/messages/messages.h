// Every text the program prints, once, as Windows-1251 bytes.
//
// The texts are written here in UTF-8 for reading and encoded to
// Windows-1251 at compile time; a character outside ASCII and Cyrillic fails
// the build. "log.txt" receives these bytes unchanged, and so does a Windows
// console (code page 1251); elsewhere the console layer transcodes them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "signal/status.h"

namespace messages {

template <std::size_t Capacity>
struct Cp1251Text {
  std::array<char, Capacity> bytes{};
  std::size_t size = 0;
  constexpr std::string_view view() const { return {bytes.data(), size}; }
};

// Encodes a UTF-8 literal to Windows-1251. Only ASCII and the Russian
// alphabet (with Ё and ё) are accepted: the throw makes any other character a
// compile-time error, since the function only runs in constant evaluation.
template <std::size_t N>
consteval Cp1251Text<N> to_cp1251(const char8_t (&utf8)[N]) {
  Cp1251Text<N> out;
  for (std::size_t i = 0; i + 1 < N;) {
    const unsigned lead = utf8[i];
    unsigned code = 0;
    if (lead < 0x80) {
      code = lead;
      i += 1;
    } else if ((lead & 0xE0u) == 0xC0u && i + 2 < N) {
      code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned>(utf8[i + 1]) & 0x3Fu);
      i += 2;
    } else {
      throw "message text: unsupported UTF-8 sequence";
    }
    unsigned byte = 0;
    if (code < 0x80) {
      byte = code;
    } else if (code >= 0x0410 && code <= 0x044F) {  // А..я are contiguous in both
      byte = code - 0x0410 + 0xC0;
    } else if (code == 0x0401) {  // Ё
      byte = 0xA8;
    } else if (code == 0x0451) {  // ё
      byte = 0xB8;
    } else {
      throw "message text: character has no Windows-1251 byte here";
    }
    out.bytes[out.size++] = static_cast<char>(byte);
  }
  return out;
}

namespace detail {
inline constexpr auto loading_data = to_cp1251(u8"загрузка данных...");
inline constexpr auto loading_filter = to_cp1251(u8"загрузка FIR фильтра...");
inline constexpr auto direct_stage = to_cp1251(u8"линейная свёртка...");
inline constexpr auto fft_stage = to_cp1251(u8"свёртка через fft...");
inline constexpr auto milliseconds_suffix = to_cp1251(u8" мс");
inline constexpr auto deviations_title = to_cp1251(u8"разница между линейной свёрткой и fft:");
inline constexpr auto rms_label = to_cp1251(u8"   среднеквадратическое отклонение = ");
inline constexpr auto max_abs_label = to_cp1251(u8"максимальное абсолютное отклонение = ");
inline constexpr auto exit_prompt = to_cp1251(u8"нажмите любую клавишу для выхода...");
inline constexpr auto load_failed = to_cp1251(u8"ошибка при загрузке файла: ");
inline constexpr auto save_failed = to_cp1251(u8"ошибка при записи файла: ");
inline constexpr auto warning_file = to_cp1251(u8"предупреждение: файл ");
inline constexpr auto warning_line = to_cp1251(u8", строка ");
inline constexpr auto warning_not_number = to_cp1251(u8": не число \"");
inline constexpr auto warning_rest_skipped = to_cp1251(u8"\", остаток файла пропущен");
inline constexpr auto too_long = to_cp1251(u8"ошибка: длина сигнала или преобразования слишком велика");
inline constexpr auto fftw_failed = to_cp1251(u8"ошибка: FFTW не смог построить план преобразования");
inline constexpr auto too_many_values = to_cp1251(u8"ошибка: слишком много чисел в файле: ");
inline constexpr auto log_in_use = to_cp1251(u8"ошибка: файл log.txt занят другим запуском");
inline constexpr auto no_memory = to_cp1251(u8"ошибка: недостаточно памяти");
inline constexpr auto no_memory_loading = to_cp1251(u8"ошибка: недостаточно памяти при загрузке файла: ");
inline constexpr auto no_memory_direct = to_cp1251(u8"ошибка: недостаточно памяти для линейной свёртки");
inline constexpr auto no_memory_fft = to_cp1251(u8"ошибка: недостаточно памяти для свёртки через fft");
inline constexpr auto no_memory_difference = to_cp1251(u8"ошибка: недостаточно памяти для сигнала разницы");
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
enum class Step { start, load, direct, fft, compare };

// The line that says why `step` could not go on with `status` (not ok); a
// step that loads a file is followed by the file name. The one mapping of
// failures to messages, for the program and its companion tools.
constexpr std::string_view failure_message(Status status, Step step) {
  if (status == Status::too_long) return detail::too_long.view();  // a length past the counts or FFTW's int
  if (status == Status::fftw_failed) return detail::fftw_failed.view();
  switch (step) {  // out of memory
    case Step::start:
      return detail::no_memory.view();
    case Step::load:
      return detail::no_memory_loading.view();
    case Step::direct:
      return detail::no_memory_direct.view();
    case Step::fft:
      return detail::no_memory_fft.view();
    case Step::compare:
      break;
  }
  return detail::no_memory_difference.view();
}

// Another run in the same folder holds "log.txt"; this one touches nothing.
inline constexpr std::string_view log_in_use = detail::log_in_use.view();

// Signal files. Each message is followed by the file name.
inline constexpr std::string_view load_failed = detail::load_failed.view();
inline constexpr std::string_view save_failed = detail::save_failed.view();
inline constexpr std::string_view too_many_values = detail::too_many_values.view();

// Reading stopped early: warning_file, name, warning_line, line number,
// warning_not_number, the offending token, warning_rest_skipped.
inline constexpr std::string_view warning_file = detail::warning_file.view();
inline constexpr std::string_view warning_line = detail::warning_line.view();
inline constexpr std::string_view warning_not_number = detail::warning_not_number.view();
inline constexpr std::string_view warning_rest_skipped = detail::warning_rest_skipped.view();

}  // namespace messages
