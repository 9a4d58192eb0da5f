// What the program printed, as UTF-8 text on every system: the console gets
// Windows-1251 bytes on Windows and UTF-8 elsewhere.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace test_support {

// Ends a testing::internal::CaptureStdout() and returns the text as UTF-8.
inline std::string captured_console() {
  const std::string captured = testing::internal::GetCapturedStdout();
#if defined(_WIN32)
  return cp1251_to_utf8(captured);
#else
  return captured;
#endif
}

}  // namespace test_support
