// The reader's warnings, printed by whoever loaded the file, after the line
// that reports its count.
#include <charconv>
#include <cstdint>
#include <initializer_list>

#include "messages/messages.h"
#include "platform/platform.h"
#include "signal_io/signal_io.h"

namespace {

// `count` as decimal digits in `digits`.
std::string_view decimal(std::uint64_t count, char (&digits)[24]) {
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, count);
  return {digits, static_cast<std::size_t>(end - digits)};
}

void say_warning(std::initializer_list<std::string_view> parts) {
  for (const std::string_view part : parts) console_write(part);
  console_end_line();
}

}  // namespace

void print_load_warnings(std::string_view file_name, const LoadReport& report, Holds holds) {
  using namespace messages;
  char first[24], second[24];
  if (report.byte_order_mark) {
    say_warning({warning_file, file_name, warning_byte_order_mark});
  } else if (report.stopped_early) {
    say_warning({warning_file, file_name, warning_line, decimal(report.stop_line, first), warning_not_number,
                  report.stop_token, warning_rest_skipped});
  }
  if (report.values == 0 && holds != Holds::values) {
    say_warning({warning_in_file, file_name, holds == Holds::samples ? warning_no_samples : warning_no_taps});
  }
  if (report.per_line != 0) {
    say_warning({warning_columns_file, file_name, warning_columns_count, decimal(report.per_line, first),
                  warning_columns_read, decimal(report.values, second), warning_columns_values});
  }
}
