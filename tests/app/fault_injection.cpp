// The linker's --wrap targets of run_faults_test (fault_injection.h).
#include "app/fault_injection.h"

#include <fftw3.h>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <new>
#include <string_view>

extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
ssize_t __real_write(int handle, const void* bytes, std::size_t size);
int __real_flock(int handle, int operation);
void* __real_malloc(std::size_t size);
void __real_free(void* p);
std::FILE* __real_fopen(const char* path, const char* mode);
std::FILE* __real_fopen64(const char* path, const char* mode);
int __real_fclose(std::FILE* file);
void* __real_fftw_malloc(std::size_t size);
void __real_fftw_free(void* p);
fftw_plan __real_fftw_plan_dft_r2c_1d(int n, double* in, fftw_complex* out, unsigned flags);
fftw_plan __real_fftw_plan_dft_c2r_1d(int n, fftw_complex* in, double* out, unsigned flags);
void __real_fftw_destroy_plan(fftw_plan plan);
}

namespace fault_injection {

Injector injector;
FullDisk full_disk;
Hooks hooks;

namespace {

// Notes which handle the full disk's file has; the same number may come
// back for another file once it is closed.
int opened(const char* path, int handle) {
  if (full_disk.name.empty() || handle == -1) return handle;
  const bool on_full_disk = std::string_view(path).ends_with(full_disk.name);
  if (on_full_disk) {
    full_disk.handle = handle;
    full_disk.written = 0;
  } else if (handle == full_disk.handle) {
    full_disk.handle = -1;
  }
  return handle;
}

// Runs a hook once: it is cleared first, so that its own calls pass.
void run_once(std::function<void()>& hook) {
  if (!hook) return;
  const std::function<void()> step = std::move(hook);
  hook = nullptr;
  step();
}

std::FILE* after_fopen(const char* path, std::FILE* file) {
  if (file != nullptr && !hooks.after_fopen_of.empty() && std::string_view(path).ends_with(hooks.after_fopen_of)) {
    hooks.after_fopen_of.clear();
    run_once(hooks.after_fopen);
  }
  return file;
}

}  // namespace

}  // namespace fault_injection

using namespace fault_injection;

void* operator new(std::size_t size) {
  if (injector.fails(Kind::memory)) throw std::bad_alloc();
  void* p = __real_malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return injector.keep(p);
}
void operator delete(void* p) noexcept {
  injector.drop(p);
  __real_free(p);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

extern "C" {
// open and open64, fopen and fopen64 (the names a 32-bit build's large-file
// calls take) alike.
#define FIR_WRAP_OPEN(name)                                  \
  int __wrap_##name(const char* path, int flags, ...) {      \
    va_list rest;                                            \
    va_start(rest, flags);                                   \
    const auto mode = static_cast<mode_t>(va_arg(rest, int)); \
    va_end(rest);                                            \
    return opened(path, __real_##name(path, flags, mode));   \
  }
FIR_WRAP_OPEN(open)
FIR_WRAP_OPEN(open64)
int __wrap_flock(int handle, int operation) {
  run_once(hooks.before_flock);
  return __real_flock(handle, operation);
}
ssize_t __wrap_write(int handle, const void* bytes, std::size_t size) {
  if (handle != full_disk.handle) return __real_write(handle, bytes, size);
  const std::size_t fits = std::min(size, full_disk.room - full_disk.written);
  if (fits == 0) {
    errno = ENOSPC;
    return -1;
  }
  const ssize_t written = __real_write(handle, bytes, fits);
  if (written > 0) full_disk.written += static_cast<std::size_t>(written);
  return written;
}
void* __wrap_malloc(std::size_t size) {
  if (injector.fails(Kind::memory)) {
    errno = ENOMEM;
    return nullptr;
  }
  return injector.keep(__real_malloc(size));
}
void __wrap_free(void* p) {
  injector.drop(p);
  __real_free(p);
}
#define FIR_WRAP_FOPEN(name)                                                \
  std::FILE* __wrap_##name(const char* path, const char* mode) {            \
    if (!injector.fails(Kind::stream)) return after_fopen(path, injector.keep(__real_##name(path, mode))); \
    errno = ENOMEM;                                                         \
    return nullptr;                                                         \
  }
FIR_WRAP_FOPEN(fopen)
FIR_WRAP_FOPEN(fopen64)
int __wrap_fclose(std::FILE* file) {
  injector.drop(file);
  return __real_fclose(file);
}
void* __wrap_fftw_malloc(std::size_t size) {
  if (injector.fails(Kind::memory)) return nullptr;
  return injector.keep(__real_fftw_malloc(size));
}
void __wrap_fftw_free(void* p) {
  injector.drop(p);
  __real_fftw_free(p);
}
fftw_plan __wrap_fftw_plan_dft_r2c_1d(int n, double* in, fftw_complex* out, unsigned flags) {
  if (injector.fails(Kind::plan)) return nullptr;
  return injector.keep(__real_fftw_plan_dft_r2c_1d(n, in, out, flags));
}
fftw_plan __wrap_fftw_plan_dft_c2r_1d(int n, fftw_complex* in, double* out, unsigned flags) {
  if (injector.fails(Kind::plan)) return nullptr;
  return injector.keep(__real_fftw_plan_dft_c2r_1d(n, in, out, flags));
}
void __wrap_fftw_destroy_plan(fftw_plan plan) {
  injector.drop(plan);
  __real_fftw_destroy_plan(plan);
}
}

