// Windows-1251, the code page of the program's messages, in both
// directions: UTF-8 source texts to its bytes at compile time, its bytes to
// UTF-8 for a console that shows UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace cp1251 {

template <std::size_t Capacity>
struct Text {
  std::array<char, Capacity> bytes{};
  std::size_t size = 0;
  constexpr std::string_view view() const { return {bytes.data(), size}; }
};

// Encodes a UTF-8 literal to Windows-1251. Only ASCII and the Russian
// alphabet (with Ё and ё) are accepted: the throw makes any other character a
// compile-time error, since the function only runs in constant evaluation.
template <std::size_t N>
consteval Text<N> encode(const char8_t (&utf8)[N]) {
  Text<N> out;
  for (std::size_t i = 0; i + 1 < N;) {
    const unsigned lead = utf8[i];
    unsigned code = 0;
    if (lead < 0x80) {
      code = lead;
      i += 1;
    } else if ((lead & 0xE0u) == 0xC0u && i + 2 < N) {
      code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned>(utf8[i + 1]) & 0x3Fu);
      i += 2;
    } else {
      throw "message text: unsupported UTF-8 sequence";
    }
    unsigned byte = 0;
    if (code < 0x80) {
      byte = code;
    } else if (code >= 0x0410 && code <= 0x044F) {  // А..я are contiguous in both
      byte = code - 0x0410 + 0xC0;
    } else if (code == 0x0401) {  // Ё
      byte = 0xA8;
    } else if (code == 0x0451) {  // ё
      byte = 0xB8;
    } else {
      throw "message text: character has no Windows-1251 byte here";
    }
    out.bytes[out.size++] = static_cast<char>(byte);
  }
  return out;
}

// Decodes `text` into `utf8`, which must hold 3 * text.size() bytes; returns
// the number of bytes written. The one byte without a character (0x98)
// becomes U+FFFD. Allocates nothing.
std::size_t to_utf8(std::string_view text, char* utf8);

// The same into a string.
std::string to_utf8(std::string_view text);

}  // namespace cp1251
