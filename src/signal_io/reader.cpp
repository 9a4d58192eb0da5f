#include "signal_io/signal_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "messages/messages.h"
#include "platform/platform.h"
#include "signal_io/signal_io_internal.h"

namespace {

// A decimal needs at most 768 significant digits to round correctly to a
// double; keeping 800 and a sticky digit for the rest is exact.
constexpr std::size_t kept_digits = 800;
// How much of a rejected token the warning shows.
constexpr std::size_t preview_length = 32;
// Bound on an accumulated exponent; anything that large over- or underflows.
constexpr std::int64_t exponent_cap = 1'000'000'000'000'000;

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
bool is_sign(char c) { return c == '+' || c == '-'; }
bool is_exponent_mark(char c) { return c == 'e' || c == 'E'; }

enum class Parsed { value, not_a_number, out_of_range };

// ---- Tokens that cross a chunk boundary -------------------------------------
//
// Such a token is consumed one character at a time into a bounded canonical
// form, value = 0.digits x 10^(point + exponent), so a token of any length
// needs constant memory. The same grammar as scan_in_buffer below.

enum class Stage { start, mantissa, fraction, exponent_mark, exponent_sign, exponent_digits };

struct TokenBuilder {
  Stage stage = Stage::start;
  bool negative = false;
  bool has_digit = false;
  bool sticky = false;  // a dropped digit was not zero
  std::string digits;   // significant digits kept, the first one non-zero
  std::int64_t point = 0;
  bool exponent_negative = false;
  std::int64_t exponent = 0;
  std::string preview;  // the first characters, as read, for the warning
};

void add_mantissa_digit(TokenBuilder& t, char c, bool in_fraction) {
  t.has_digit = true;
  if (t.digits.empty() && c == '0') {
    if (in_fraction) --t.point;  // a leading zero after the point scales down
    return;
  }
  if (!in_fraction) ++t.point;
  if (t.digits.size() < kept_digits) {
    t.digits += c;
  } else if (c != '0') {
    t.sticky = true;
  }
}

// Takes `c` into the token if it can continue it; false ends the token.
bool accept(TokenBuilder& t, char c) {
  switch (t.stage) {
    case Stage::start:
      if (is_sign(c)) {
        t.negative = c == '-';
        t.stage = Stage::mantissa;
        break;
      }
      [[fallthrough]];
    case Stage::mantissa:
      if (is_digit(c)) {
        add_mantissa_digit(t, c, false);
        t.stage = Stage::mantissa;
      } else if (c == '.') {
        t.stage = Stage::fraction;
      } else if (is_exponent_mark(c) && t.stage == Stage::mantissa) {
        t.stage = Stage::exponent_mark;
      } else {
        return false;
      }
      break;
    case Stage::fraction:
      if (is_digit(c)) {
        add_mantissa_digit(t, c, true);
      } else if (is_exponent_mark(c)) {
        t.stage = Stage::exponent_mark;
      } else {
        return false;
      }
      break;
    case Stage::exponent_mark:
      if (is_sign(c)) {
        t.exponent_negative = c == '-';
        t.stage = Stage::exponent_sign;
        break;
      }
      [[fallthrough]];
    case Stage::exponent_sign:
    case Stage::exponent_digits:
      if (!is_digit(c)) return false;
      t.exponent = std::min(t.exponent * 10 + (c - '0'), exponent_cap);
      t.stage = Stage::exponent_digits;
      break;
  }
  if (t.preview.size() < preview_length) t.preview += c;
  return true;
}

Parsed finish(const TokenBuilder& t, double& value) {
  const bool exponent_incomplete = t.stage == Stage::exponent_mark || t.stage == Stage::exponent_sign;
  if (!t.has_digit || exponent_incomplete) return Parsed::not_a_number;
  const double zero = t.negative ? -0.0 : 0.0;
  if (t.digits.empty()) {
    value = zero;
    return Parsed::value;
  }
  const std::int64_t scale = t.point + (t.exponent_negative ? -t.exponent : t.exponent);
  // 0.d... x 10^scale: beyond these bounds the value is certainly inf or 0.
  if (scale > 400) return Parsed::out_of_range;
  if (scale < -400) {
    value = zero;
    return Parsed::value;
  }
  std::string text = "0." + t.digits;
  if (t.sticky) text += '1';
  text += 'e';
  text += std::to_string(scale);
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error == std::errc::result_out_of_range) {
    // from_chars reports both overflow and underflow to zero this way.
    if (scale > 0) return Parsed::out_of_range;
    value = zero;
    return Parsed::value;
  }
  value = t.negative ? -parsed : parsed;
  return Parsed::value;
}

Parsed parse_with_builder(const char* begin, const char* end, double& value) {
  TokenBuilder t;
  for (const char* p = begin; p != end; ++p) accept(t, *p);
  return finish(t, value);
}

// ---- Tokens inside one chunk --------------------------------------------------

// One pass: std::from_chars finds the number and its end together. What it
// accepts after the checks below is exactly the grammar: an optional sign
// ('+' is skipped for it), digits with at most one '.', at least one digit,
// and an exponent that from_chars takes only when it has digits.
struct InChunk {
  Parsed parsed;
  double value;
  const char* end;        // where the number stops; the next token starts here
  bool needs_next_chunk;  // the number may continue past the chunk's end
};

bool contains_exponent_mark(const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p) {
    if (is_exponent_mark(*p)) return true;
  }
  return false;
}

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
  // exponent that the next chunk completes; the token builder decides.
  if (!last_chunk && end - stop <= 2 &&
      std::none_of(stop, end, [](char c) { return is_space(c); })) {
    return {Parsed::value, 0.0, begin, true};
  }
  if (error == std::errc::invalid_argument) return {Parsed::not_a_number, 0.0, begin, false};
  // An 'e' right after a number without one is an exponent without digits.
  if (stop != end && is_exponent_mark(*stop) && !contains_exponent_mark(digits, stop)) {
    return {Parsed::not_a_number, 0.0, begin, false};
  }
  if (error == std::errc::result_out_of_range) {  // overflow, or underflow to be kept: classify exactly
    const Parsed parsed = parse_with_builder(begin, stop, value);
    return {parsed, value, stop, false};
  }
  return {Parsed::value, value, stop, false};
}

// ---- Chunked input --------------------------------------------------------------

struct Input {
  std::FILE* file;
  std::vector<char> chunk;
  const char* pos = nullptr;
  const char* end = nullptr;
  bool last_chunk = false;  // nothing follows the current chunk
  bool read_error = false;
  std::uint64_t line = 1;
  bool after_cr = false;  // the last character read was a CR, which ended a line
};

// Replaces the chunk with the next one; false when no byte is left.
bool refill(Input& in) {
  if (in.last_chunk) return false;
  const std::size_t got = std::fread(in.chunk.data(), 1, in.chunk.size(), in.file);
  if (got < in.chunk.size()) {
    in.last_chunk = true;
    in.read_error = std::ferror(in.file) != 0;
  }
  in.pos = in.chunk.data();
  in.end = in.pos + got;
  return got > 0;
}

// Skips whitespace, counting lines: CR, LF and CR LF each end one line.
// False at the end of the input.
bool skip_space(Input& in) {
  for (;;) {
    while (in.pos < in.end && is_space(*in.pos)) {
      const char c = *in.pos++;
      in.line += c == '\r' || (c == '\n' && !in.after_cr);
      in.after_cr = c == '\r';
    }
    if (in.pos < in.end) {
      in.after_cr = false;
      return true;
    }
    if (!refill(in)) return false;
  }
}

// Finishes a number that ran into the end of a chunk.
Parsed parse_across_chunks(Input& in, TokenBuilder& t, double& value) {
  for (;;) {
    while (in.pos < in.end && accept(t, *in.pos)) ++in.pos;
    if (in.pos < in.end || !refill(in)) return finish(t, value);
  }
}

// Appends to `preview` the rest of the non-blank run at the read position,
// up to preview_length characters; control bytes show as '?'.
void complete_preview(Input& in, std::string& preview) {
  for (char& c : preview) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  while (preview.size() < preview_length) {
    if (in.pos == in.end && !refill(in)) return;
    const char c = *in.pos++;
    if (is_space(c)) return;
    preview += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  }
}

enum class Outcome { end_of_file, rejected_token, read_error, too_many_values };

Outcome read_values(Input& in, Signal& signal, std::size_t max_values, std::string& rejected) {
  if (!refill(in)) return in.read_error ? Outcome::read_error : Outcome::end_of_file;
  for (;;) {
    if (!skip_space(in)) return in.read_error ? Outcome::read_error : Outcome::end_of_file;
    const char* begin = in.pos;
    const InChunk token = parse_in_chunk(begin, in.end, in.last_chunk);
    double value = token.value;
    Parsed parsed = token.parsed;
    TokenBuilder spanning;
    if (token.needs_next_chunk) {
      parsed = parse_across_chunks(in, spanning, value);
      if (in.read_error) return Outcome::read_error;
    } else if (parsed == Parsed::value) {
      in.pos = token.end;  // a rejected token stays at in.pos: its preview starts there
    }
    if (parsed != Parsed::value) {
      rejected = spanning.preview;
      complete_preview(in, rejected);
      return Outcome::rejected_token;
    }
    if (signal.size() >= max_values) return Outcome::too_many_values;
    signal.push_back(value);
  }
}

void print_rejected(std::string_view file_name, std::uint64_t line, std::string_view token) {
  char number[24];
  const auto [end, error] = std::to_chars(number, number + sizeof number, line);
  console_end_line();
  console_write(messages::warning_file);
  console_write(file_name);
  console_write(messages::warning_line);
  console_write({number, static_cast<std::size_t>(end - number)});
  console_write(messages::warning_not_number);
  console_write(token);
  console_write(messages::warning_rest_skipped);
  console_end_line();
}

// Reads the file and prints what reading it found; the values are
// appended to `signal`. 0, or -1 after the failure message.
int read_and_report(std::FILE* file, std::string_view file_name, Signal& signal, std::size_t max_values,
                    std::size_t chunk_bytes) {
  Input in{file, std::vector<char>(std::max<std::size_t>(chunk_bytes, 1))};
  const std::size_t kept = signal.size();
  std::string rejected;
  switch (read_values(in, signal, max_values, rejected)) {
    case Outcome::end_of_file:
      break;
    case Outcome::rejected_token:
      print_rejected(file_name, in.line, rejected);
      break;
    case Outcome::read_error:
      // A file that opens but cannot be read (a directory, an I/O error)
      // is as unusable as a missing one; keep no half-read values.
      signal.resize(kept);
      print_file_failure(messages::load_failed, file_name);
      return -1;
    case Outcome::too_many_values:
      // More values than a signal can count: none of them is usable, as
      // any count printed or computed from them would wrap.
      signal.resize(kept);
      print_file_failure(messages::too_many_values, file_name);
      return -1;
  }
  return 0;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int load_signal_stream(std::FILE* file, std::string_view file_name, Signal& signal, std::size_t max_values,
                       std::size_t chunk_bytes) {
  const std::size_t kept = signal.size();
  try {
    return read_and_report(file, file_name, signal, max_values, chunk_bytes);
  } catch (const std::bad_alloc&) {
    signal.resize(kept);  // shrinking allocates nothing
    return load_out_of_memory;
  }
}

int load_signal(std::string_view file_name, Signal& signal) {
  const std::unique_ptr<std::FILE, FileCloser> file(input_file_open(file_name));
  if (!file) {
    if (errno == ENOMEM) return load_out_of_memory;  // the stream's own buffers
    print_file_failure(messages::load_failed, file_name);
    return -1;
  }
  return load_signal_stream(file.get(), file_name, signal, signal_max_length);
}
