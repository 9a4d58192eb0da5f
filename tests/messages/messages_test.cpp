#include "messages/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform_internal.h"

namespace {

using messages::failure_message;
using messages::Step;

// The compile-time encoder must give the Windows-1251 bytes themselves.
TEST(MessageBytes, AreWindows1251) {
  EXPECT_EQ(std::string(messages::milliseconds_suffix), " \xEC\xF1");
  EXPECT_EQ(std::string(messages::direct_stage),
            "\xEB\xE8\xED\xE5\xE9\xED\xE0\xFF \xF1\xE2\xB8\xF0\xF2\xEA\xE0...");
  EXPECT_EQ(std::string(messages::loading_filter),
            "\xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 FIR \xF4\xE8\xEB\xFC\xF2\xF0\xE0...");
}

// Every text the run prints, decoded, reads as the program's users see it.
TEST(MessageBytes, DecodeToTheRussianTexts) {
  const struct {
    std::string_view cp1251;
    const char* utf8;
  } texts[] = {
      {messages::loading_data, "загрузка данных..."},
      {messages::loading_filter, "загрузка FIR фильтра..."},
      {messages::samples_suffix, " samples"},
      {messages::taps_suffix, " taps"},
      {messages::direct_stage, "линейная свёртка..."},
      {messages::fft_stage, "свёртка через fft..."},
      {messages::milliseconds_suffix, " мс"},
      {messages::deviations_title, "разница между линейной свёрткой и fft:"},
      {messages::rms_label, "   среднеквадратическое отклонение = "},
      {messages::max_abs_label, "максимальное абсолютное отклонение = "},
      {messages::exit_prompt, "нажмите любую клавишу для выхода..."},
      {messages::load_failed, "ошибка при загрузке файла: "},
      {messages::save_failed, "ошибка при записи файла: "},
      {failure_message(Status::out_of_memory, Step::start), "ошибка: недостаточно памяти"},
      {failure_message(Status::out_of_memory, Step::load), "ошибка: недостаточно памяти при загрузке файла: "},
      {failure_message(Status::out_of_memory, Step::direct), "ошибка: недостаточно памяти для линейной свёртки"},
      {failure_message(Status::out_of_memory, Step::fft), "ошибка: недостаточно памяти для свёртки через fft"},
      {failure_message(Status::out_of_memory, Step::compare), "ошибка: недостаточно памяти для сигнала разницы"},
      {failure_message(Status::too_long, Step::direct), "ошибка: длина сигнала или преобразования слишком велика"},
      {failure_message(Status::too_long, Step::fft), "ошибка: длина сигнала или преобразования слишком велика"},
      {failure_message(Status::fftw_failed, Step::fft), "ошибка: FFTW не смог построить план преобразования"},
  };
  for (const auto& text : texts) EXPECT_EQ(cp1251_to_utf8(text.cp1251), text.utf8);
}

}  // namespace
