#include "cp1251/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The code page's upper half, bytes 0x80 to 0xFF, as its published chart
// shows them (0x98 has no character: U+FFFD), typed from the chart rather
// than from the module's own table.
const std::string chart =
    "ЂЃ‚ѓ„…†‡€‰Љ‹ЊЌЋЏђ‘’“”•–—\uFFFD™љ›њќћџ"
    "\u00A0ЎўЈ¤Ґ¦§Ё©Є«¬\u00AD®Ї°±Ііґµ¶·ё№є»јЅѕї"
    "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ"
    "абвгдежзийклмнопрстуфхцчшщъыьэюя";

TEST(Cp1251Decoder, AsciiUnchanged) {
  const std::string ascii = "input.txt\t123 samples\r\n";
  EXPECT_EQ(cp1251::to_utf8(ascii), ascii);
  EXPECT_EQ(cp1251::to_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Cp1251Decoder, UpperHalfMatchesTheChart) {
  std::string upper_half;
  for (int byte = 0x80; byte <= 0xFF; ++byte) upper_half += static_cast<char>(byte);
  EXPECT_EQ(cp1251::to_utf8(upper_half), chart);
}

// The encoder takes the Russian alphabet to the bytes the decoder reads back.
TEST(Cp1251Encoder, AlphabetRoundTrips) {
  constexpr auto alphabet = cp1251::encode(u8"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмнопрстуфхцчшщъыьэюяЁё .:");
  std::string expected;
  for (int byte = 0xC0; byte <= 0xFF; ++byte) expected += static_cast<char>(byte);
  expected += "\xA8\xB8 .:";
  EXPECT_EQ(std::string(alphabet.view()), expected);
  EXPECT_EQ(cp1251::to_utf8(alphabet.view()), chart.substr(chart.find("А")) + "Ёё .:");
}

}  // namespace
