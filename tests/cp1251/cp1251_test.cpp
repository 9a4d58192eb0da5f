#include <gtest/gtest.h>

#include <string>

#include "platform/platform_internal.h"

namespace {

TEST(Cp1251ToUtf8, AsciiUnchanged) {
  const std::string ascii = "input.txt\t123 samples\r\n";
  EXPECT_EQ(cp1251_to_utf8(ascii), ascii);
  EXPECT_EQ(cp1251_to_utf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Cp1251ToUtf8, WholeCyrillicAlphabet) {
  std::string upper, lower;
  for (int byte = 0xC0; byte <= 0xDF; ++byte) upper += static_cast<char>(byte);
  for (int byte = 0xE0; byte <= 0xFF; ++byte) lower += static_cast<char>(byte);
  EXPECT_EQ(cp1251_to_utf8(upper), "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯ");
  EXPECT_EQ(cp1251_to_utf8(lower), "абвгдежзийклмнопрстуфхцчшщъыьэюя");
  EXPECT_EQ(cp1251_to_utf8("\xA8\xB8"), "Ёё");
}

TEST(Cp1251ToUtf8, PunctuationAndUnassignedByte) {
  EXPECT_EQ(cp1251_to_utf8("\x80\x85\x88\x96\x97\xAB\xBB\xB9"), "Ђ…€–—«»№");
  EXPECT_EQ(cp1251_to_utf8("\x98"), "\xEF\xBF\xBD");  // U+FFFD
}

}  // namespace
