// libFuzzer target for the signal reader. The property checked on every
// input: the reader appends exactly the values that a plain reference
// tokenizer of the same grammar, with strtod in the "C" locale, finds before
// the first token that is not a number (or is too large), and returns 0.
//
// The first byte picks the reader's chunk size: 1 to 64 bytes, so that
// tokens often cross chunks and take the slower path, or the size files are
// read with.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "signal/signal.h"
#include "signal_io/signal_io.h"
#include "signal_io/signal_io_internal.h"

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the number at `p`, or 0 when none starts there. Optional sign,
// digits with at most one point (at least one digit in all), then an
// optional exponent that must have digits once 'e' or 'E' is seen.
std::size_t number_length(const std::string& text, std::size_t p) {
  const std::size_t start = p;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
  std::size_t digits = 0;
  while (p < text.size() && is_digit(text[p])) ++p, ++digits;
  if (p < text.size() && text[p] == '.') {
    ++p;
    while (p < text.size() && is_digit(text[p])) ++p, ++digits;
  }
  if (digits == 0) return 0;
  if (p < text.size() && (text[p] == 'e' || text[p] == 'E')) {
    ++p;
    if (p < text.size() && (text[p] == '+' || text[p] == '-')) ++p;
    std::size_t exponent_digits = 0;
    while (p < text.size() && is_digit(text[p])) ++p, ++exponent_digits;
    if (exponent_digits == 0) return 0;
  }
  return p - start;
}

Signal reference_values(const std::string& text) {
  Signal values;
  std::size_t p = 0;
  for (;;) {
    while (p < text.size() && is_space(text[p])) ++p;
    if (p == text.size()) return values;
    const std::size_t length = number_length(text, p);
    if (length == 0) return values;
    const std::string token = text.substr(p, length);
    errno = 0;
    const double value = std::strtod(token.c_str(), nullptr);
    if (errno == ERANGE && (value == HUGE_VAL || value == -HUGE_VAL)) return values;  // overflow
    values.push_back(value);
    p += length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The reader's warnings go to the console; thousands per second are noise.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk_bytes = data[0] < 128 ? 1 + data[0] % 64 : load_chunk_bytes;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const Signal expected = reference_values(text);

  std::FILE* file = std::tmpfile();
  if (file == nullptr) std::abort();
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file) != text.size()) std::abort();
  std::rewind(file);
  Signal actual;
  const Status result = load_signal_stream(file, "fuzz.txt", actual, actual.max_size(), chunk_bytes);
  std::fclose(file);

  if (result != Status::ok) std::abort();
  if (actual.size() != expected.size()) std::abort();
  if (!actual.empty() && std::memcmp(actual.data(), expected.data(), actual.size() * sizeof(double)) != 0) std::abort();
  return 0;
}
