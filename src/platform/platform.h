// The few things that differ between Windows and other systems: the
// process's surroundings, the console, files and folder entries, and the
// high-resolution tick counter. Everything here is plain C++; the system
// headers stay inside the module's sources.
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
  bool ready;               // false: the run lacks the memory to start (or a null device
                            // to stand in for a closed standard stream)
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
// The system calls on files and folder entries, each once; src/files holds
// what the programs do with them. Names are copied into a fixed buffer,
// not allocated: a name of 4096 bytes or more reaches no file. Every call
// returns 0 or the system's reason as an errno value (on Windows the
// nearest one to the Windows error), for std::generic_category().

// An open file: a descriptor on POSIX, a HANDLE on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle no_file = -1;

// What a file is, whatever name reaches it: its device and inode on POSIX,
// its volume serial number and file index on Windows.
enum class FileKind { none, regular, directory, link, device, pipe, other };
struct FileIdentity {
  FileKind kind = FileKind::none;  // none: nothing of that name
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
};

// Standard output's handle, not to be closed.
FileHandle standard_output_handle();

// The file an open handle or stream is on.
int file_identity(FileHandle handle, FileIdentity& identity);
int file_identity(std::FILE* stream, FileIdentity& identity);

// The file `name` reaches now: through links, or, without `through_links`,
// the entry itself (a link is then of kind link). ENOENT, with kind none,
// when nothing has that name.
int entry_identity(std::string_view name, bool through_links, FileIdentity& identity);

// Opens `name` for reading bytes unchanged (ENOMEM when the stream itself
// could not be allocated).
int input_file_open(std::string_view name, std::FILE*& stream);

// Creates `name` and opens it for writing bytes unchanged, only when no
// entry has that name: a link, even one that leads nowhere, counts as one
// (EEXIST).
int file_create(std::string_view name, FileHandle& handle);

// Opens the existing file that `name` reaches for writing, without emptying
// it: ENOENT also for a link that leads nowhere, ENXIO for a FIFO that no
// process reads (its open would otherwise wait for one).
int file_open_existing(std::string_view name, FileHandle& handle);

// Opens the existing regular file that `name` reaches only to lock it (for
// reading, or for writing when it may not be read).
int file_open_to_lock(std::string_view name, FileHandle& handle);

// An exclusive lock on the open file until its handle is closed; EWOULDBLOCK
// when another handle holds it (another process, or another open of this
// one). The lock keeps nobody from reading or writing the file. A file
// system without locks gives 0: there is no lock to respect.
int file_lock(FileHandle handle);

// Hands `bytes` to the system: one call, more only when the system takes
// part of them. Nothing is buffered in the process.
int file_write(FileHandle handle, std::string_view bytes);

// Cuts the file back to its first `size` bytes.
int file_truncate(FileHandle handle, std::uint64_t size);

// Whether the file holds no byte.
int file_is_empty(FileHandle handle, bool& empty);

// Sends what the file holds to the disk (fsync, FlushFileBuffers).
int file_sync(FileHandle handle);

// The permission bits of the open file, and setting them: POSIX mode bits;
// on Windows the read-only attribute (0444) or none (0666).
int file_mode(FileHandle handle, unsigned& mode);
int file_set_mode(FileHandle handle, unsigned mode);

// Closes the handle; its lock goes with it.
int file_close(FileHandle handle);

// ---- Entries of a folder ----------------------------------------------------------

// Whether a rename may replace, or a removal remove, a file that this
// process holds open: POSIX systems allow it, Windows not always.
bool open_files_can_be_replaced();

// Renames the entry `from` to `to`, replacing the entry `to` (a link is
// replaced, not what it leads to; a folder is not replaced).
int entry_rename(std::string_view from, std::string_view to);

// The same only while no entry is named `to` (EEXIST), in one step where
// the file system allows it (renameat2, a hard link, MoveFileEx); where it
// has neither, a rename right after finding no entry.
int entry_rename_new(std::string_view from, std::string_view to);

// Gives the entry `name` the second name `new_name` (a hard link; for a
// symbolic link, a second name of the link itself). EEXIST when `new_name`
// exists; EPERM, EXDEV or ENOTSUP when the file system has no hard links.
int entry_link(std::string_view name, std::string_view new_name);

// Makes `new_name` a symbolic link that leads where the link `name` leads.
int entry_copy_link(std::string_view name, std::string_view new_name);

// Removes the entry `name` (on Windows, a read-only file loses the
// attribute first, which would keep it).
int entry_remove(std::string_view name);

// Sends the folder that holds `name` to the disk, so that a rename into it
// survives a power cut (Windows: MoveFileEx writes through already).
int folder_sync(std::string_view name);

// ---- Tick counter -----------------------------------------------------------

// Current value of a monotonic counter, in ticks of counter_frequency().
// QueryPerformanceCounter on Windows, CLOCK_MONOTONIC in nanoseconds elsewhere.
std::int64_t counter_ticks();

// Ticks per second of counter_ticks(); constant while the process runs.
std::int64_t counter_frequency();
