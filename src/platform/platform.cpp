#include "platform/platform.h"

#include <cstdio>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <cerrno>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>
#else
#error "platform.cpp: no console and counter implementation for this system"
#endif

namespace {

// Code points of Windows-1251 bytes 0x80..0xBF; 0xC0..0xFF are А..я in order.
constexpr char32_t cp1251_high[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

void append_utf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

std::string cp1251_to_utf8(std::string_view cp1251_text) {
  std::string out;
  out.reserve(cp1251_text.size() * 2);
  for (const char c : cp1251_text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else if (byte < 0xC0) {
      append_utf8(out, cp1251_high[byte - 0x80]);
    } else {
      append_utf8(out, static_cast<char32_t>(0x0410 + (byte - 0xC0)));
    }
  }
  return out;
}

void console_end_line() {
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void console_wait_for_char() { static_cast<void>(std::getchar()); }

#if defined(_WIN32)

void console_prepare() { SetConsoleOutputCP(1251); }

int output_file_open(const std::string& name) {
  return _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool output_file_write(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const int written = _write(handle, bytes.data(), static_cast<unsigned>(bytes.size()));
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool output_file_close(int handle) { return _close(handle) == 0; }

void console_write(std::string_view cp1251_text) {
  std::fwrite(cp1251_text.data(), 1, cp1251_text.size(), stdout);
}

std::int64_t counter_ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

std::int64_t counter_frequency() {
  LARGE_INTEGER rate;
  QueryPerformanceFrequency(&rate);
  return rate.QuadPart;
}

#else

void console_prepare() {}

int output_file_open(const std::string& name) {
  return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

bool output_file_write(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(handle, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool output_file_close(int handle) { return ::close(handle) == 0; }

void console_write(std::string_view cp1251_text) {
  const std::string utf8 = cp1251_to_utf8(cp1251_text);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

std::int64_t counter_ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t counter_frequency() { return 1'000'000'000; }

#endif
