#include <algorithm>
#include <charconv>

#include "app/app_internal.h"
#include "platform/platform.h"
#include "signal_io/signal_io.h"

namespace app_detail {

void Log::flush() {
  // A failed write is kept in the file's problem, which the run reports.
  if (file.handle != no_file && size > 0) static_cast<void>(output_write(file, {pending.data(), size}));
  size = 0;
}

void Log::write(std::string_view text) {
  while (!text.empty()) {
    if (size == pending.size()) flush();
    const std::size_t part = std::min(text.size(), pending.size() - size);
    text.copy(pending.data() + size, part);
    size += part;
    text.remove_prefix(part);
  }
}

void Log::end_line() {
  write("\r\n");
  flush();
}

bool Log::close() {
  flush();
  return file.handle == no_file || output_close(file);
}

void say(Log& log, std::string_view text) {
  console_write(text);
  log.write(text);
}

void say_line_end(Log& log) {
  console_end_line();
  log.end_line();
}

void say_count(Log& log, std::size_t count) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, count);
  say(log, {digits, static_cast<std::size_t>(end - digits)});
}

void say_number(Log& log, double value) { say(log, format_value(value).view()); }

void say_failure(Log& log, std::string_view message, std::string_view file_name) {
  say_line_end(log);
  say(log, message);
  say(log, file_name);
  say_line_end(log);
}

void tell_failure(std::string_view message, std::string_view file_name) {
  console_end_line();
  console_write(message);
  console_write(file_name);
  console_end_line();
}

}  // namespace app_detail
