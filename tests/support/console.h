// What the program printed, as UTF-8 text on every system: the console gets
// Windows-1251 bytes on Windows and UTF-8 elsewhere.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "cp1251/cp1251.h"

namespace test_support {

// Ends a testing::internal::CaptureStdout() and returns the text as UTF-8.
inline std::string captured_console() {
  const std::string captured = testing::internal::GetCapturedStdout();
#if defined(_WIN32)
  return cp1251::to_utf8(captured);
#else
  return captured;
#endif
}

// The reader's warning about the token that stopped it, as the console
// shows it (a line end first).
inline std::string reader_warning(std::string_view file, int line, std::string_view token) {
  return "\nпредупреждение: файл " + std::string(file) + ", строка " + std::to_string(line) + ": не число \"" +
         std::string(token) + "\", остаток файла пропущен\n";
}

}  // namespace test_support
