// The few things that differ between Windows and other systems: the
// process's surroundings, the console, unbuffered output files and the
// high-resolution tick counter. Everything here is plain C++; the system
// headers stay inside platform.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

// ---- Process ------------------------------------------------------------------

// Makes the process independent of how it was started (closed standard
// streams, a console that goes away, a file-size limit); call it first,
// before anything is opened. False when the run lacks the memory to start.
bool process_prepare();

// This process's id, and whether a process with `id` runs now (an id is
// taken again only once its process has ended): files named after a process
// can then be told from ones left by a process that was killed.
std::uint32_t process_id();
bool process_running(std::uint32_t id);

// ---- Memory -------------------------------------------------------------------

// Whether `bytes` more could be allocated now: allocates them and gives them
// back, before a step that a library would abort when memory runs out (the
// start, FFTW's planner). Under Linux's overcommit the answer is weak.
bool memory_available(std::size_t bytes);

// ---- Console ----------------------------------------------------------------

// Prepares standard output for Windows-1251 text (on Windows it sets the
// console's output code page to 1251) and gives it a buffer of its own, so
// that writing to the console never allocates memory.
void console_prepare();

// Writes Windows-1251 text to standard output: unchanged on Windows, as UTF-8
// elsewhere so that a terminal shows the Russian letters. Allocates nothing;
// a failed write (a closed pipe, a full device) is ignored.
void console_write(std::string_view cp1251_text);

// Ends the console line and flushes standard output.
void console_end_line();

// Sends what console_write and console_end_line write to standard error
// from now on: the companion tools keep standard output for their results.
void console_use_standard_error();

// Reads one character from standard input and discards it. Blocks until a
// character is available; returns at once when the input has ended.
void console_wait_for_char();

// ---- Files ----------------------------------------------------------------------

// Opens `name` for reading bytes unchanged; null when it cannot be opened
// (errno tells why: ENOMEM when the stream itself could not be allocated).
// Names are copied into a fixed buffer, not allocated: a name of 4096 bytes
// or more cannot be opened.
std::FILE* input_file_open(std::string_view name);

// Opens `name` for writing bytes unchanged (no newline translation), created
// if missing and, unless `truncate` is false, emptied. Returns a handle, or
// -1 when the file cannot be opened: also a FIFO that no process reads,
// whose open would otherwise wait for one.
int output_file_open(std::string_view name, bool truncate = true);

// The same, holding a lock on the file until the handle is closed, so that a
// second process asking for the same lock finds the file in use: then -1 with
// `in_use` set, and the file is left as it was. The lock keeps no other
// program from reading or writing the file. Only a regular file is locked:
// a device or a pipe, and a file system without locks, open unlocked.
int output_file_open_locked(std::string_view name, bool& in_use);

// Hands `bytes` to the operating system: one system call, more only when the
// system takes part of them. Nothing is buffered in the process. False when
// a call fails (a full disk, an I/O error).
bool output_file_write(int handle, std::string_view bytes);

// output_file_write, and when it fails, the file cut back to its first
// `kept` bytes (the end of its last whole line), so that no reader takes a
// line cut short for a whole one; a device has no length to cut. False when
// the write failed.
bool output_file_write_or_cut(int handle, std::string_view bytes, std::uint64_t kept);

// Cuts the file back to its first `size` bytes; false when the system
// refuses (a device, say).
bool output_file_truncate(int handle, std::uint64_t size);

// Closes the handle; false when closing reports an error.
bool output_file_close(int handle);

// ---- Tick counter -----------------------------------------------------------

// Current value of a monotonic counter, in ticks of counter_frequency().
// QueryPerformanceCounter on Windows, CLOCK_MONOTONIC in nanoseconds elsewhere.
std::int64_t counter_ticks();

// Ticks per second of counter_ticks(); constant while the process runs.
std::int64_t counter_frequency();
