#include "signal_io/signal_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "messages/messages.h"
#include "signal_io/signal_io_internal.h"

namespace {

constexpr std::string_view line_end = "\r\n";

ValueText make_text(std::string_view text) {
  ValueText out{};
  std::memcpy(out.bytes.data(), text.data(), text.size());
  out.size = text.size();
  return out;
}

}  // namespace

ValueText format_value(double value) {
  if (std::isnan(value)) return make_text("nan");
  if (std::isinf(value)) return make_text(value < 0 ? "-inf" : "inf");
  if (value == 0.0) return make_text("0");

  ValueText out{};
  char* const first = out.bytes.data();
  const auto result = std::to_chars(first, first + out.bytes.size(), value, std::chars_format::general, 6);
  char* last = result.ptr;
  // to_chars writes at least two exponent digits (e-05); widen them to three.
  char* const mark = std::find(first, last, 'e');
  if (mark != last && last - (mark + 2) == 2) {
    char* const digits = mark + 2;  // past 'e' and the sign
    std::memmove(digits + 1, digits, 2);
    *digits = '0';
    ++last;
  }
  out.size = static_cast<std::size_t>(last - first);
  return out;
}

int save_signal(const std::string& file_name, const Signal& signal) {
  std::FILE* const file = std::fopen(file_name.c_str(), "wb");
  bool written = file != nullptr;
  if (file != nullptr) {
    char line[sizeof(ValueText::bytes) + line_end.size()];
    for (const double value : signal) {
      const ValueText text = format_value(value);
      std::memcpy(line, text.bytes.data(), text.size);
      std::memcpy(line + text.size, line_end.data(), line_end.size());
      const std::size_t length = text.size + line_end.size();
      // The flush hands each complete line to the system in one write call.
      if (std::fwrite(line, 1, length, file) != length || std::fflush(file) != 0) {
        written = false;
        break;  // later lines would leave a gap in the file
      }
    }
    written = std::fclose(file) == 0 && written;
  }
  if (!written) {
    print_file_failure(messages::save_failed, file_name);
    return -1;
  }
  return 0;
}
