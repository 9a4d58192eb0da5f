// One section per concern, each with its Windows and POSIX code side by
// side: the process, memory, the console, output files, the tick counter.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cp1251/cp1251.h"

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
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#else
#error "platform.cpp: no process, console, file and counter implementation for this system"
#endif

// ---- Memory ------------------------------------------------------------------------

// What the answer guarantees: under an address-space limit (ulimit -v,
// RLIMIT_AS) and on Windows, which commits memory when it is allocated, a
// later allocation of up to `bytes` succeeds unless something else took the
// memory meanwhile. What it cannot: under Linux's default overcommit almost
// any allocation succeeds and memory runs short only when its pages are
// first touched; the kernel's OOM killer then ends a process, perhaps this
// one, with a signal that no program can catch or foresee.
bool memory_available(std::size_t bytes) {
  // Through a volatile pointer, so that the compiler keeps the pair.
  void* volatile probe = std::malloc(bytes);
  const bool available = probe != nullptr;
  std::free(probe);
  return available;
}

// ---- Process -----------------------------------------------------------------------

namespace {

// What the run needs free at its start (see process_prepare).
constexpr std::size_t start_headroom = 1 << 20;

#if !defined(_WIN32)
// Whether `descriptor` was closed; it is then reopened on the null device.
bool reopen_on_null_device_if_closed(int descriptor) {
  if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return false;
  const int null_device = ::open("/dev/null", O_RDWR);  // takes the lowest free descriptor
  if (null_device >= 0 && null_device != descriptor) {
    dup2(null_device, descriptor);
    ::close(null_device);
  }
  return true;
}

// Stack the run may need at most: FFTW's deepest plans keep buffers of up
// to 64 KiB on the stack; everything else is small.
constexpr std::size_t stack_reserve = 512 * 1024;

// Touches stack_reserve bytes of stack, a page at a time: the stack mapping
// grows now and keeps its size, so later calls need no new memory.
char grow_stack() {
  volatile char area[stack_reserve];
  for (std::size_t i = 0; i < stack_reserve; i += 4096) area[i] = 0;
  return area[0];
}
#endif

}  // namespace

// A closed standard input, output or error is reopened on the null device,
// so that no file of the run can take descriptor 0, 1 or 2. A console that
// goes away (a pipe closed by its reader) makes console writes fail instead
// of ending the process, and so does a write past a file-size limit
// (EFBIG). On POSIX systems the stack is grown in advance, so that an
// address space filled by the run's signals cannot stop it from growing
// later. A MiB must then be free once the C++ runtime has taken its reserve
// for exceptions, so that running out later ends a step with a status
// instead of terminating the process.
#if defined(_WIN32)
// The C runtime keeps descriptors 0, 1 and 2 for the standard streams even
// when they have no handle (a program started without a console), so no
// file can take them; a console that goes away raises no signal.
ProcessStart process_prepare() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  return {memory_available(start_headroom), output == nullptr || output == INVALID_HANDLE_VALUE};
}
#else
ProcessStart process_prepare() {
  ProcessStart start{false, false};
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    const bool closed = reopen_on_null_device_if_closed(descriptor);
    if (descriptor == 1) start.output_was_closed = closed;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a write to a closed pipe fails with EPIPE instead
  std::signal(SIGXFSZ, SIG_IGN);  // a write past a file-size limit fails with EFBIG instead
  // Growing needs address space like any allocation: without room for it
  // (a stack limit below twice the reserve, or no memory) leave the stack
  // alone.
  rlimit stack{};
  const bool small_stack = getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY &&
                           stack.rlim_cur < 2 * stack_reserve;
  if (!small_stack && memory_available(2 * stack_reserve)) static_cast<void>(grow_stack());
  start.ready = memory_available(start_headroom);
  return start;
}
#endif

#if defined(_WIN32)
std::uint32_t process_id() { return GetCurrentProcessId(); }
#else
std::uint32_t process_id() { return static_cast<std::uint32_t>(getpid()); }
#endif

// ---- Console -----------------------------------------------------------------------

namespace {

// Standard output's buffer: stdio would allocate one at the first write.
char console_buffer[4096];

// Where the console's text goes: standard output, or standard error for the
// companion tools.
std::FILE* console = stdout;

}  // namespace

void console_prepare() {
  std::setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer);
#if defined(_WIN32)
  SetConsoleOutputCP(1251);
#endif
}

void console_write(std::string_view cp1251_text) {
#if defined(_WIN32)
  std::fwrite(cp1251_text.data(), 1, cp1251_text.size(), console);
#else
  constexpr std::size_t piece = 256;
  char utf8[3 * piece];
  while (!cp1251_text.empty()) {
    const std::string_view part = cp1251_text.substr(0, piece);
    std::fwrite(utf8, 1, cp1251::to_utf8(part, utf8), console);
    cp1251_text.remove_prefix(part.size());
  }
#endif
}

void console_end_line() {
  std::fputc('\n', console);
  std::fflush(console);
}

void console_use_standard_error() { console = stderr; }

void console_wait_for_char() { static_cast<void>(std::getchar()); }

// ---- Files -------------------------------------------------------------------------

namespace {

// File names are copied here, with their terminating NUL, not allocated.
constexpr std::size_t path_capacity = 4096;

// `name` with a terminating NUL in `path`; false, with errno ENAMETOOLONG
// or ENOENT, when it does not fit or holds a NUL of its own (no file has
// such a name).
bool terminated_path(std::string_view name, char (&path)[path_capacity]) {
  if (name.size() >= path_capacity || name.find('\0') != std::string_view::npos) {
    errno = name.size() >= path_capacity ? ENAMETOOLONG : ENOENT;
    return false;
  }
  name.copy(path, name.size());
  path[name.size()] = '\0';
  return true;
}

#if defined(_WIN32)
// errno for the Windows error of the last failed call, as the C runtime's
// own functions would set it.
void set_errno_from_last_error() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      errno = ENOENT;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      errno = EEXIST;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      errno = EACCES;
      break;
    case ERROR_NOT_SAME_DEVICE:
      errno = EXDEV;
      break;
    case ERROR_DISK_FULL:
      errno = ENOSPC;
      break;
    default:
      errno = EIO;
      break;
  }
}

FileIdentity identity_of(HANDLE file) {
  FileIdentity identity;
  BY_HANDLE_FILE_INFORMATION information{};
  const DWORD type = GetFileType(file);
  if (type == FILE_TYPE_CHAR) {
    identity.kind = FileKind::device;
  } else if (type == FILE_TYPE_PIPE) {
    identity.kind = FileKind::pipe;
  } else if (GetFileInformationByHandle(file, &information)) {
    const DWORD attributes = information.dwFileAttributes;
    identity.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY)       ? FileKind::directory
                    : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileKind::link
                                                                  : FileKind::regular;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  } else {
    identity.kind = FileKind::other;
  }
  return identity;
}

int open_output(const char* path, int flags) {
  return _open(path, _O_WRONLY | _O_BINARY | flags, _S_IREAD | _S_IWRITE);
}

// One byte far past any content is locked, so that reading and writing the
// file itself stay open to everyone.
bool locked_by_another(int handle) {
  OVERLAPPED past_the_end{};
  past_the_end.OffsetHigh = 0x7FFFFFFF;
  const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
  return !LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &past_the_end) &&
         GetLastError() == ERROR_LOCK_VIOLATION;
}
#else
FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.kind = S_ISREG(status.st_mode)    ? FileKind::regular
                  : S_ISDIR(status.st_mode)  ? FileKind::directory
                  : S_ISLNK(status.st_mode)  ? FileKind::link
                  : S_ISCHR(status.st_mode)  ? FileKind::device
                  : S_ISFIFO(status.st_mode) ? FileKind::pipe
                                             : FileKind::other;
  identity.volume = static_cast<std::uint64_t>(status.st_dev);
  identity.index = static_cast<std::uint64_t>(status.st_ino);
  return identity;
}

// Without blocking: a FIFO that no process reads would hold the open for
// ever, so it fails instead (ENXIO), as an unwritable file does. A FIFO
// with a reader is then written as before, each write waiting for room.
int open_output(const char* path, int flags) {
  const int handle = ::open(path, O_WRONLY | O_CLOEXEC | O_NONBLOCK | flags, 0666);
  if (handle != -1) fcntl(handle, F_SETFL, fcntl(handle, F_GETFL) & ~O_NONBLOCK);
  return handle;
}

bool locked_by_another(int handle) { return flock(handle, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK; }
#endif

}  // namespace

#if defined(_WIN32)
FileIdentity file_identity(int handle) { return identity_of(reinterpret_cast<HANDLE>(_get_osfhandle(handle))); }

FileIdentity file_identity(std::string_view name, bool through_links) {
  char path[path_capacity];
  if (!terminated_path(name, path)) return {};
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (through_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    set_errno_from_last_error();
    return {};
  }
  const FileIdentity identity = identity_of(file);
  CloseHandle(file);
  return identity;
}
#else
FileIdentity file_identity(int handle) {
  struct stat status {};
  return fstat(handle, &status) == 0 ? identity_of(status) : FileIdentity{};
}

FileIdentity file_identity(std::string_view name, bool through_links) {
  char path[path_capacity];
  struct stat status {};
  if (!terminated_path(name, path)) return {};
  const int found = through_links ? stat(path, &status) : lstat(path, &status);
  return found == 0 ? identity_of(status) : FileIdentity{};
}
#endif

std::FILE* input_file_open(std::string_view name) {
  char path[path_capacity];
  return terminated_path(name, path) ? std::fopen(path, "rb") : nullptr;
}

int output_file_create(std::string_view name) {
  char path[path_capacity];
#if defined(_WIN32)
  return terminated_path(name, path) ? open_output(path, _O_CREAT | _O_EXCL) : -1;
#else
  return terminated_path(name, path) ? open_output(path, O_CREAT | O_EXCL) : -1;
#endif
}

int output_file_open_existing(std::string_view name) {
  char path[path_capacity];
  return terminated_path(name, path) ? open_output(path, 0) : -1;
}

// A device or a pipe (log.txt a link to /dev/null, say) is shared by
// everything that writes to it: a lock there would keep out runs in other
// folders.
bool output_file_lock(int handle) {
  return file_identity(handle).kind != FileKind::regular || !locked_by_another(handle);
}

bool output_file_write(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
#if defined(_WIN32)
    const int written = _write(handle, bytes.data(), static_cast<unsigned>(bytes.size()));
#else
    const ssize_t written = ::write(handle, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
#endif
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool output_file_write_or_cut(int handle, std::string_view bytes, std::uint64_t kept) {
  if (output_file_write(handle, bytes)) return true;
  static_cast<void>(output_file_truncate(handle, kept));
  return false;
}

bool output_file_truncate(int handle, std::uint64_t size) {
#if defined(_WIN32)
  return _chsize_s(handle, static_cast<long long>(size)) == 0;
#else
  return ftruncate(handle, static_cast<off_t>(size)) == 0;
#endif
}

bool output_file_close(int handle) {
#if defined(_WIN32)
  return _close(handle) == 0;
#else
  return ::close(handle) == 0;
#endif
}

// ---- Entries of a folder -------------------------------------------------------------

bool entry_rename(std::string_view from, std::string_view to) {
  char from_path[path_capacity], to_path[path_capacity];
  if (!terminated_path(from, from_path) || !terminated_path(to, to_path)) return false;
#if defined(_WIN32)
  if (MoveFileExA(from_path, to_path, MOVEFILE_REPLACE_EXISTING)) return true;
  set_errno_from_last_error();
  return false;
#else
  return std::rename(from_path, to_path) == 0;
#endif
}

bool entry_link(std::string_view name, std::string_view new_name) {
  char path[path_capacity], new_path[path_capacity];
  if (!terminated_path(name, path) || !terminated_path(new_name, new_path)) return false;
#if defined(_WIN32)
  if (CreateHardLinkA(new_path, path, nullptr)) return true;
  set_errno_from_last_error();
  return false;
#else
  return linkat(AT_FDCWD, path, AT_FDCWD, new_path, 0) == 0;  // 0: the link itself, not its target
#endif
}

bool entry_copy_link(std::string_view name, std::string_view new_name) {
#if defined(_WIN32)
  static_cast<void>(name), static_cast<void>(new_name);
  errno = ENOTSUP;
  return false;
#else
  char path[path_capacity], new_path[path_capacity], target[path_capacity];
  if (!terminated_path(name, path) || !terminated_path(new_name, new_path)) return false;
  const ssize_t size = readlink(path, target, sizeof target - 1);
  if (size < 0) return false;
  target[size] = '\0';
  return symlink(target, new_path) == 0;
#endif
}

bool entry_remove_if(std::string_view name, const FileIdentity& identity) {
  const FileIdentity now = file_identity(name, false);
  if (now.kind == FileKind::none || now.kind != identity.kind || now.volume != identity.volume ||
      now.index != identity.index) {
    return false;
  }
  char path[path_capacity];
  if (!terminated_path(name, path)) return false;
#if defined(_WIN32)
  if (DeleteFileA(path)) return true;
  set_errno_from_last_error();
  return false;
#else
  return unlink(path) == 0;
#endif
}

// ---- Tick counter ------------------------------------------------------------------

std::int64_t counter_ticks() {
#if defined(_WIN32)
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
#endif
}

std::int64_t counter_frequency() {
#if defined(_WIN32)
  LARGE_INTEGER rate;
  QueryPerformanceFrequency(&rate);
  return rate.QuadPart;
#else
  return 1'000'000'000;
#endif
}
