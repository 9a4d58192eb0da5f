// The reader's tokens: one number and where it ends, found in one chunk of
// the file, by the grammar reader.cpp gives.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <system_error>

#include "signal_io/signal_io_internal.h"

namespace signal_io_detail {

namespace {

// Bound on an accumulated exponent; anything that large over- or underflows.
constexpr std::int64_t exponent_cap = 1'000'000'000'000'000;

bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
bool is_sign(char c) { return c == '+' || c == '-'; }
bool is_exponent_mark(char c) { return c == 'e' || c == 'E'; }

// For a number that std::from_chars found out of range: whether it is too
// large for a double rather than too small (which rounds to zero). The
// decimal exponent of its first significant digit decides, as the two
// ranges lie more than 600 decades apart: value = d.ddd x 10^e.
bool too_large(const char* begin, const char* end) {
  const char* p = begin + (is_sign(*begin) ? 1 : 0);
  std::int64_t e = 0;
  bool significant = false, fraction = false;
  for (; p != end && !is_exponent_mark(*p); ++p) {
    if (*p == '.') {
      fraction = true;
    } else if (!significant) {
      significant = *p != '0';
      if (fraction) --e;  // a place after the point, up to the first significant digit
    } else if (!fraction) {
      ++e;  // another digit before the point
    }
  }
  std::int64_t exponent = 0;
  bool negative = false;
  if (p != end) ++p;  // the exponent mark
  if (p != end && is_sign(*p)) negative = *p++ == '-';
  for (; p != end; ++p) exponent = std::min(exponent * 10 + (*p - '0'), exponent_cap);
  return e + (negative ? -exponent : exponent) > 0;
}

bool contains_exponent_mark(const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p) {
    if (is_exponent_mark(*p)) return true;
  }
  return false;
}

}  // namespace

InChunk parse_in_chunk(const char* begin, const char* end, bool last_chunk) {
  const char* first = begin;
  if (is_sign(*first)) ++first;
  // from_chars would also take "inf", "nan" and a second sign; the grammar
  // wants a digit or the point here.
  if (first == end) return {Parsed::not_a_number, 0.0, begin, !last_chunk};
  if (!is_digit(*first) && *first != '.') return {Parsed::not_a_number, 0.0, begin, false};
  const char* digits = *begin == '+' ? first : begin;
  double value = 0.0;
  const auto [stop, error] = std::from_chars(digits, end, value);
  // Up to two characters before the chunk's end ("e", "e-") may be an
  // exponent that the next chunk completes.
  if (!last_chunk && end - stop <= 2 &&
      std::none_of(stop, end, [](char c) { return is_space(c); })) {
    return {Parsed::value, 0.0, begin, true};
  }
  if (error == std::errc::invalid_argument) return {Parsed::not_a_number, 0.0, begin, false};
  // An 'e' right after a number without one is an exponent without digits.
  if (stop != end && is_exponent_mark(*stop) && !contains_exponent_mark(digits, stop)) {
    return {Parsed::not_a_number, 0.0, begin, false};
  }
  if (error == std::errc::result_out_of_range) {  // too large, or too small: then +-0
    if (too_large(begin, stop)) return {Parsed::out_of_range, 0.0, begin, false};
    return {Parsed::value, *begin == '-' ? -0.0 : 0.0, stop, false};
  }
  return {Parsed::value, value, stop, false};
}

}  // namespace signal_io_detail
