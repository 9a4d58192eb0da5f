// One section per concern, each with its Windows and POSIX code side by
// side: the process, memory, the console, the tick counter. Files and
// folder entries are in file_system.cpp and entries.cpp.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cp1251/cp1251.h"

#include "platform/platform_internal.h"

#if !defined(_WIN32)
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
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
// False in `reopened` when the null device cannot take its place.
bool reopen_on_null_device_if_closed(int descriptor, bool& reopened) {
  reopened = true;
  if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) return false;
  const int null_device = ::open("/dev/null", O_RDWR);  // takes the lowest free descriptor
  if (null_device == descriptor) return true;
  reopened = null_device >= 0 && dup2(null_device, descriptor) == descriptor;
  if (null_device >= 0 && ::close(null_device) != 0) reopened = false;
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
  bool streams_ready = true;
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    bool reopened = true;
    const bool closed = reopen_on_null_device_if_closed(descriptor, reopened);
    if (descriptor == 1) start.output_was_closed = closed;
    streams_ready = streams_ready && reopened;
  }
  // A write to a closed pipe then fails with EPIPE, one past a file-size
  // limit with EFBIG, instead of ending the process.
  const bool signals_ready = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR && std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
  // Growing needs address space like any allocation: without room for it
  // (a stack limit below twice the reserve, or no memory) leave the stack
  // alone.
  rlimit stack{};
  const bool small_stack = getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY &&
                           stack.rlim_cur < 2 * stack_reserve;
  if (!small_stack && memory_available(2 * stack_reserve)) static_cast<void>(grow_stack());
  start.ready = streams_ready && signals_ready && memory_available(start_headroom);
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

// The console's calls go unchecked on purpose: a console that fails or goes
// away changes nothing the run does, and without its own buffer or code
// page stdio takes its own buffer and the console keeps its code page.
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

// ---- Tick counter ------------------------------------------------------------------
//
// Neither clock call can fail here (a monotonic clock exists on every
// supported system), and the stopwatch's readings are not tested.

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
