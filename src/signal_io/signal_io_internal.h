// Shared by the reader and the writer of signal files.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

// The signal files' failure line: a line end first (it completes whatever
// the console line holds), the message, the file name, a line end.
inline void print_file_failure(std::string_view message, const std::string& file_name) {
  console_end_line();
  console_write(message);
  console_write(file_name);
  console_end_line();
}
