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
// before anything is opened.
struct ProcessStart {
  bool ready;               // false: the run lacks the memory to start
  bool output_was_closed;   // standard output was closed; it now goes to the null device
};
ProcessStart process_prepare();

// This process's id.
std::uint32_t process_id();

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
//
// Names are copied into a fixed buffer, not allocated: a name of 4096 bytes
// or more reaches no file. A function that fails leaves errno saying why.

// What a file is, whatever name reaches it: its device and inode on POSIX,
// its volume serial number and file index on Windows.
enum class FileKind { none, regular, directory, link, device, pipe, other };
struct FileIdentity {
  FileKind kind = FileKind::none;  // none: nothing of that name
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

// The file an open handle is on.
FileIdentity file_identity(int handle);

// The file `name` reaches now: through links, or, without
// `through_links`, the entry itself (a link is then of kind link).
FileIdentity file_identity(std::string_view name, bool through_links);

// Opens `name` for reading bytes unchanged; null when it cannot be opened
// (errno tells why: ENOMEM when the stream itself could not be allocated).
std::FILE* input_file_open(std::string_view name);

// Creates `name` and opens it for writing bytes unchanged (no newline
// translation), only when no entry has that name: a link, even one that
// leads nowhere, counts as one (errno EEXIST). -1 when it cannot.
int output_file_create(std::string_view name);

// Opens the existing file that `name` reaches for writing bytes unchanged,
// without emptying it. -1 when it cannot be opened: also a link that leads
// nowhere (ENOENT), and a FIFO that no process reads (ENXIO), whose open
// would otherwise wait for one.
int output_file_open_existing(std::string_view name);

// Takes a lock on an open regular file until the handle is closed; false
// when another process holds it. The lock keeps no program from reading or
// writing the file. A device or a pipe, and a file system without locks,
// count as locked.
bool output_file_lock(int handle);

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

// ---- Entries of a folder ----------------------------------------------------------

// Renames the entry `from` to `to`, replacing the entry `to` (a link is
// replaced, not what it leads to; a folder is not replaced).
bool entry_rename(std::string_view from, std::string_view to);

// Gives the entry `name` the second name `new_name` (a hard link; for a
// symbolic link, a second name of the link itself). False when `new_name`
// exists or the file system has no hard links.
bool entry_link(std::string_view name, std::string_view new_name);

// Makes `new_name` a symbolic link that leads where the link `name` leads.
// False when `name` is no symbolic link or `new_name` exists.
bool entry_copy_link(std::string_view name, std::string_view new_name);

// Removes the entry `name` only while it is still `identity` (the entry
// itself, not what a link leads to): a name that another process has
// reused in the meantime stays.
bool entry_remove_if(std::string_view name, const FileIdentity& identity);

// ---- Tick counter -----------------------------------------------------------

// Current value of a monotonic counter, in ticks of counter_frequency().
// QueryPerformanceCounter on Windows, CLOCK_MONOTONIC in nanoseconds elsewhere.
std::int64_t counter_ticks();

// Ticks per second of counter_ticks(); constant while the process runs.
std::int64_t counter_frequency();
