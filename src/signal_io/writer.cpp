#include "signal_io/signal_io.h"

#include <algorithm>
#include <cassert>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "files/files.h"

namespace {

constexpr std::string_view line_end = "\r\n";

ValueText make_text(std::string_view text) {
  ValueText out{};
  std::memcpy(out.bytes.data(), text.data(), text.size());
  out.size = text.size();
  return out;
}

// ---- Six significant digits without the general-purpose formatter --------
//
// For magnitudes in [1e-7, 1e15) the six digits come from one multiplication
// or division by an exact power of ten (a single rounding, relative error at
// most 2^-53) and a rounding to an integer. That integer is the correctly
// rounded one unless the scaled value lies within 1e-9 of a half, far more
// than the error; those rare values, and all others outside the range, go
// to std::to_chars. Both paths give the same text.

// Far above the scaled value's rounding error (at most 1e6 * 2^-53).
constexpr double tie_margin = 1e-9;

constexpr double powers_of_ten[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// floor(log10(magnitude)) or one less: from the binary exponent e2,
// floor(e2 * log10 2) with log10 2 taken as 78913 / 2^18 (exact enough for
// the binary exponents of the fast range). The caller corrects the one less.
int decimal_exponent_guess(double magnitude) {
  const auto e2 = static_cast<int>(std::bit_cast<std::uint64_t>(magnitude) >> 52) - 1023;
  return (e2 * 78913) >> 18;
}

// `magnitude` scaled to six integer digits, 10^(5 - e10) times, rounded once.
double scaled_to_six_digits(double magnitude, int e10) {
  const int p = 5 - e10;
  return p >= 0 ? magnitude * powers_of_ten[p] : magnitude / powers_of_ten[-p];
}

// Digits of %g: `digits` holds six decimal digits d0..d5 of a value
// d0.d1d2d3d4d5 x 10^e10; trailing zeros of the fraction are dropped.
void append_general(ValueText& out, const char* digits, int e10) {
  int significant = 6;
  while (significant > 1 && digits[significant - 1] == '0') --significant;
  char* p = out.bytes.data() + out.size;
  if (e10 < -4 || e10 >= 6) {
    *p++ = digits[0];
    if (significant > 1) {
      *p++ = '.';
      for (int k = 1; k < significant; ++k) *p++ = digits[k];
    }
    const int magnitude = e10 < 0 ? -e10 : e10;
    *p++ = 'e';
    *p++ = e10 < 0 ? '-' : '+';
    *p++ = '0';
    *p++ = static_cast<char>('0' + magnitude / 10);
    *p++ = static_cast<char>('0' + magnitude % 10);
  } else if (e10 >= 0) {
    for (int k = 0; k <= e10; ++k) *p++ = digits[k];
    if (significant > e10 + 1) {
      *p++ = '.';
      for (int k = e10 + 1; k < significant; ++k) *p++ = digits[k];
    }
  } else {
    *p++ = '0';
    *p++ = '.';
    for (int k = -1; k > e10; --k) *p++ = '0';
    for (int k = 0; k < significant; ++k) *p++ = digits[k];
  }
  out.size = static_cast<std::size_t>(p - out.bytes.data());
}

bool format_fast(double value, ValueText& out) {
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-7 && magnitude < 1e15)) return false;
  int e10 = decimal_exponent_guess(magnitude);
  double scaled = scaled_to_six_digits(magnitude, e10);
  // Seven digits: the guess was one low, or the value rounds up to the next
  // power of ten; one more decade gives the right digits in both cases.
  // Within tie_margin of 999999.5 the value stays in this decade, where the
  // half test below sends it to the exact path.
  if (scaled >= 999999.5 + tie_margin) scaled = scaled_to_six_digits(magnitude, ++e10);
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;  // exact
  if (std::fabs(fraction - 0.5) < tie_margin) return false;
  auto q = static_cast<std::uint32_t>(whole) + (fraction > 0.5 ? 1u : 0u);
  assert(q < 1'000'000);  // values that round up to 10^(e10+1) took the step above
  char digits[6];
  for (int k = 5; k >= 0; --k, q /= 10) digits[k] = static_cast<char>('0' + q % 10);
  out.size = 0;
  if (value < 0) out.bytes[out.size++] = '-';
  append_general(out, digits, e10);
  return true;
}

}  // namespace

ValueText format_value(double value) {
  if (std::isnan(value)) return make_text("nan");
  if (std::isinf(value)) return make_text(value < 0 ? "-inf" : "inf");
  if (value == 0.0) return make_text("0");

  ValueText out{};
  if (format_fast(value, out)) return out;
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

// One write call per line, so that an interrupted run leaves only complete
// lines; an empty signal writes nothing. A write that fails (a full disk, a
// file-size limit) ends the file: it keeps its complete lines, the start of
// the signal, and nothing more is written, as later lines would leave a gap.
Status write_signal(OutputFile& file, const Signal& signal) {
  char line[sizeof(ValueText::bytes) + line_end.size()];
  for (const double value : signal) {
    const ValueText text = format_value(value);
    std::memcpy(line, text.bytes.data(), text.size);
    std::memcpy(line + text.size, line_end.data(), line_end.size());
    if (!output_write(file, {line, text.size + line_end.size()})) return Status::file_error;
  }
  return Status::ok;
}

Status save_signal(OutputFile& file, const Signal& signal) {
  const bool written = output_empty(file) && write_signal(file, signal) == Status::ok;
  const bool closed = output_close(file);
  return written && closed ? Status::ok : Status::file_error;
}

Status save_signal(std::string_view file_name, const Signal& signal) {
  OutputFile out{.name = file_name};
  OutputFile* const outputs[] = {&out};
  open_outputs(outputs, {});
  return out.problem == OutputProblem::none ? save_signal(out, signal) : Status::file_error;
}
