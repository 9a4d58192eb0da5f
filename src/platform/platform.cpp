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
void reopen_on_null_device_if_closed(int descriptor) {
  if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return;
  const int null_device = ::open("/dev/null", O_RDWR);  // takes the lowest free descriptor
  if (null_device >= 0 && null_device != descriptor) {
    dup2(null_device, descriptor);
    ::close(null_device);
  }
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
bool process_prepare() { return memory_available(start_headroom); }
#else
bool process_prepare() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) reopen_on_null_device_if_closed(descriptor);
  std::signal(SIGPIPE, SIG_IGN);  // a write to a closed pipe fails with EPIPE instead
  std::signal(SIGXFSZ, SIG_IGN);  // a write past a file-size limit fails with EFBIG instead
  // Growing needs address space like any allocation: without room for it
  // (a stack limit below twice the reserve, or no memory) leave the stack
  // alone.
  rlimit stack{};
  const bool small_stack = getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY &&
                           stack.rlim_cur < 2 * stack_reserve;
  if (!small_stack && memory_available(2 * stack_reserve)) static_cast<void>(grow_stack());
  return memory_available(start_headroom);
}
#endif

#if defined(_WIN32)
std::uint32_t process_id() { return GetCurrentProcessId(); }

bool process_running(std::uint32_t id) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // someone else's
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}
#else
std::uint32_t process_id() { return static_cast<std::uint32_t>(getpid()); }

bool process_running(std::uint32_t id) { return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM; }
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

// `name` with a terminating NUL in `path`; false when it does not fit or
// holds a NUL of its own (no file has such a name).
bool terminated_path(std::string_view name, char (&path)[path_capacity]) {
  if (name.size() >= path_capacity || name.find('\0') != std::string_view::npos) return false;
  name.copy(path, name.size());
  path[name.size()] = '\0';
  return true;
}

#if defined(_WIN32)
int open_for_writing(const char* path, bool truncate) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_BINARY | (truncate ? _O_TRUNC : 0), _S_IREAD | _S_IWRITE);
}

bool regular_file(int handle) {
  struct _stat64 status {};
  return _fstat64(handle, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
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
// Without blocking: a FIFO that no process reads would hold the open for
// ever, so it fails instead (ENXIO), as an unwritable file does. A FIFO
// with a reader is then written as before, each write waiting for room.
int open_for_writing(const char* path, bool truncate) {
  const int handle = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (truncate ? O_TRUNC : 0), 0666);
  if (handle != -1) fcntl(handle, F_SETFL, fcntl(handle, F_GETFL) & ~O_NONBLOCK);
  return handle;
}

bool regular_file(int handle) {
  struct stat status {};
  return fstat(handle, &status) == 0 && S_ISREG(status.st_mode);
}

bool locked_by_another(int handle) { return flock(handle, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK; }
#endif

}  // namespace

std::FILE* input_file_open(std::string_view name) {
  char path[path_capacity];
  if (!terminated_path(name, path)) {
    errno = ENOENT;
    return nullptr;
  }
  return std::fopen(path, "rb");
}

int output_file_open(std::string_view name, bool truncate) {
  char path[path_capacity];
  return terminated_path(name, path) ? open_for_writing(path, truncate) : -1;
}

int output_file_open_locked(std::string_view name, bool& in_use) {
  in_use = false;
  char path[path_capacity];
  if (!terminated_path(name, path)) return -1;
  const int handle = open_for_writing(path, false);  // emptied only once the lock is held
  if (handle == -1) return -1;
  // A device or a pipe (log.txt a link to /dev/null, say) is shared by
  // everything that writes to it: a lock there would keep out runs in
  // other folders.
  if (!regular_file(handle)) return handle;
  if (locked_by_another(handle)) {
    output_file_close(handle);
    in_use = true;
    return -1;
  }
  static_cast<void>(output_file_truncate(handle, 0));  // a device has no length to cut
  return handle;
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
