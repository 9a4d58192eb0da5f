// The console's transcoder on its own, for tests and the companion tools,
// which show the program's messages as UTF-8.
#pragma once

#include <string>
#include <string_view>

// Windows-1251 to UTF-8. The one byte without a character (0x98) becomes
// U+FFFD. Pure; console_write uses it outside Windows.
std::string cp1251_to_utf8(std::string_view cp1251_text);
