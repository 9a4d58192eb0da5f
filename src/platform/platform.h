// The few things that differ between Windows and other systems: the console,
// unbuffered output files and the high-resolution tick counter. Everything
// here is plain C++; the system headers stay inside platform.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// ---- Console ----------------------------------------------------------------

// Prepares standard output for Windows-1251 text: on Windows it sets the
// console's output code page to 1251; elsewhere there is nothing to do.
void console_prepare();

// Writes Windows-1251 text to standard output: unchanged on Windows, as UTF-8
// elsewhere so that a terminal shows the Russian letters.
void console_write(std::string_view cp1251_text);

// Ends the console line and flushes standard output.
void console_end_line();

// Reads one character from standard input and discards it. Blocks until a
// character is available; returns at once when the input has ended.
void console_wait_for_char();

// Windows-1251 to UTF-8. The one byte without a character (0x98) becomes
// U+FFFD. Pure; used by console_write outside Windows.
std::string cp1251_to_utf8(std::string_view cp1251_text);

// ---- Output files -------------------------------------------------------------

// Opens `name` for writing bytes unchanged (no newline translation), created
// or truncated. Returns a handle, or -1 when the file cannot be opened.
int output_file_open(const std::string& name);

// Hands `bytes` to the operating system: one system call, more only when the
// system takes part of them. Nothing is buffered in the process. False when
// a call fails (a full disk, an I/O error).
bool output_file_write(int handle, std::string_view bytes);

// Closes the handle; false when closing reports an error.
bool output_file_close(int handle);

// ---- Tick counter -----------------------------------------------------------

// Current value of a monotonic counter, in ticks of counter_frequency().
// QueryPerformanceCounter on Windows, CLOCK_MONOTONIC in nanoseconds elsewhere.
std::int64_t counter_ticks();

// Ticks per second of counter_ticks(); constant while the process runs.
std::int64_t counter_frequency();
