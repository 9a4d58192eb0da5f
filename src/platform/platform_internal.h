// What the platform's sources share: the system headers; for files, names
// as NUL-terminated paths without allocating, the system's reason as an
// errno value, and a file's identity from what the system says of it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string_view>

#include "platform/platform.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#else
#error "platform: no implementation for this system"
#endif

namespace platform_detail {

// File names are copied here, with their terminating NUL.
inline constexpr std::size_t path_capacity = 4096;
using Path = char[path_capacity];

// `name` with a terminating NUL in `path`: 0, or ENAMETOOLONG, or ENOENT for
// a name holding a NUL of its own (no file has such a name).
inline int terminated_path(std::string_view name, Path& path) {
  if (name.size() >= path_capacity) return ENAMETOOLONG;
  if (name.find('\0') != std::string_view::npos) return ENOENT;
  name.copy(path, name.size());
  path[name.size()] = '\0';
  return 0;
}

inline int terminated_paths(std::string_view a, Path& a_path, std::string_view b, Path& b_path) {
  const int error = terminated_path(a, a_path);
  return error != 0 ? error : terminated_path(b, b_path);
}

#if defined(_WIN32)
// The errno value nearest to the last Windows error, as the C runtime's own
// functions would set it.
int last_error();

inline HANDLE native(FileHandle handle) { return reinterpret_cast<HANDLE>(handle); }

int identity_of(HANDLE file, FileIdentity& identity);
#else
// The system's reason for a call that returned -1, or 0.
inline int outcome(int result) { return result == -1 ? errno : 0; }

FileIdentity identity_of(const struct stat& status);
#endif

}  // namespace platform_detail
