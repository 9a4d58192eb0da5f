#include "platform/platform.h"

#include "platform/platform_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

char* append_utf8(char* out, char32_t code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// Standard output's buffer: stdio would allocate one at the first write.
char console_buffer[4096];

// Where the console's text goes: standard output, or standard error for the
// companion tools.
std::FILE* console = stdout;

// File names are copied here, with their terminating NUL, not allocated.
constexpr std::size_t path_capacity = 4096;

// What the run needs free at its start (see process_prepare).
constexpr std::size_t start_headroom = 1 << 20;

// Windows-1251 to UTF-8 into `utf8`, which must hold 3 * cp1251_text.size()
// bytes; returns the number of bytes written.
std::size_t cp1251_to_utf8(std::string_view cp1251_text, char* utf8) {
  char* out = utf8;
  for (const char c : cp1251_text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      *out++ = c;
    } else if (byte < 0xC0) {
      out = append_utf8(out, cp1251_high[byte - 0x80]);
    } else {
      out = append_utf8(out, static_cast<char32_t>(0x0410 + (byte - 0xC0)));
    }
  }
  return static_cast<std::size_t>(out - utf8);
}

}  // namespace

std::string cp1251_to_utf8(std::string_view cp1251_text) {
  std::string out(3 * cp1251_text.size(), '\0');
  out.resize(cp1251_to_utf8(cp1251_text, out.data()));
  return out;
}

namespace {

// `name` with a terminating NUL in `path`; false when it does not fit or
// holds a NUL of its own (no file has such a name).
bool terminated_path(std::string_view name, char (&path)[path_capacity]) {
  if (name.size() >= path_capacity || name.find('\0') != std::string_view::npos) return false;
  name.copy(path, name.size());
  path[name.size()] = '\0';
  return true;
}

}  // namespace

std::FILE* input_file_open(std::string_view name) {
  char path[path_capacity];
  if (!terminated_path(name, path)) {
    errno = ENOENT;
    return nullptr;
  }
  return std::fopen(path, "rb");
}

bool memory_available(std::size_t bytes) {
  // Through a volatile pointer, so that the compiler keeps the pair.
  void* volatile probe = std::malloc(bytes);
  const bool available = probe != nullptr;
  std::free(probe);
  return available;
}

void console_end_line() {
  std::fputc('\n', console);
  std::fflush(console);
}

void console_use_standard_error() { console = stderr; }

void console_wait_for_char() { static_cast<void>(std::getchar()); }

#if defined(_WIN32)

// The C runtime keeps descriptors 0, 1 and 2 for the standard streams even
// when they have no handle (a program started without a console), so no
// file can take them; a console that goes away raises no signal.
bool process_prepare() { return memory_available(start_headroom); }

void console_prepare() {
  std::setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer);
  SetConsoleOutputCP(1251);
}

namespace {

int open_for_writing(const char* path, bool truncate) {
  return _open(path, _O_WRONLY | _O_CREAT | _O_BINARY | (truncate ? _O_TRUNC : 0), _S_IREAD | _S_IWRITE);
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

}  // namespace

bool output_file_write(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const int written = _write(handle, bytes.data(), static_cast<unsigned>(bytes.size()));
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool output_file_truncate(int handle, std::uint64_t size) {
  return _chsize_s(handle, static_cast<long long>(size)) == 0;
}

bool output_file_close(int handle) { return _close(handle) == 0; }

void console_write(std::string_view cp1251_text) {
  std::fwrite(cp1251_text.data(), 1, cp1251_text.size(), console);
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

namespace {

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

int open_for_writing(const char* path, bool truncate) {
  return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
}

bool locked_by_another(int handle) { return flock(handle, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK; }

}  // namespace

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

void console_prepare() { std::setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer); }

bool output_file_write(int handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(handle, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool output_file_truncate(int handle, std::uint64_t size) {
  return ftruncate(handle, static_cast<off_t>(size)) == 0;
}

bool output_file_close(int handle) { return ::close(handle) == 0; }

void console_write(std::string_view cp1251_text) {
  constexpr std::size_t piece = 256;
  char utf8[3 * piece];
  while (!cp1251_text.empty()) {
    const std::string_view part = cp1251_text.substr(0, piece);
    std::fwrite(utf8, 1, cp1251_to_utf8(part, utf8), console);
    cp1251_text.remove_prefix(part.size());
  }
}

std::int64_t counter_ticks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

std::int64_t counter_frequency() { return 1'000'000'000; }

#endif

// ---- Output files on either system -------------------------------------------------

int output_file_open(std::string_view name) {
  char path[path_capacity];
  return terminated_path(name, path) ? open_for_writing(path, true) : -1;
}

int output_file_open_locked(std::string_view name, bool& in_use) {
  in_use = false;
  char path[path_capacity];
  if (!terminated_path(name, path)) return -1;
  const int handle = open_for_writing(path, false);  // emptied only once the lock is held
  if (handle == -1) return -1;
  if (locked_by_another(handle)) {
    output_file_close(handle);
    in_use = true;
    return -1;
  }
  static_cast<void>(output_file_truncate(handle, 0));  // a device has no length to cut
  return handle;
}
