// Entries of a folder: what a name reaches, renames, links, removal and
// flushing the folder; each call with its Windows and POSIX code side by
// side.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <string_view>

#include "platform/platform_internal.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace platform_detail;

#if defined(_WIN32)
int entry_identity(std::string_view name, bool through_links, FileIdentity& identity) {
  identity = {};
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (through_links ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return last_error();
  const int error = identity_of(file, identity);
  // A handle opened only to ask: its close changes nothing the caller relies on.
  const int closed = CloseHandle(file) ? 0 : last_error();
  return error != 0 ? error : closed;
}

namespace {

// Another process that has the file open for a moment (a reader, a run
// trying its lock) keeps Windows from renaming over it or removing it:
// such a call is tried again for a while before its refusal counts.
template <typename Call>
int patiently(Call call) {
  int error = 0;
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (call()) return 0;
    error = last_error();
    if (error != EACCES) break;
    Sleep(5);
  }
  return error;
}

}  // namespace

int entry_rename(std::string_view from, std::string_view to) {
  Path from_path, to_path;
  if (const int error = terminated_paths(from, from_path, to, to_path)) return error;
  return patiently([&] { return MoveFileExA(from_path, to_path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); });
}

int entry_rename_new(std::string_view from, std::string_view to) {
  Path from_path, to_path;
  if (const int error = terminated_paths(from, from_path, to, to_path)) return error;
  return patiently([&] { return MoveFileExA(from_path, to_path, MOVEFILE_WRITE_THROUGH); });
}

int entry_link(std::string_view name, std::string_view new_name) {
  Path path, new_path;
  if (const int error = terminated_paths(name, path, new_name, new_path)) return error;
  return CreateHardLinkA(new_path, path, nullptr) ? 0 : last_error();
}

int entry_copy_link(std::string_view, std::string_view) { return ENOTSUP; }

int entry_remove(std::string_view name) {
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return last_error();
  if ((attributes & FILE_ATTRIBUTE_READONLY) && !SetFileAttributesA(path, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
    return last_error();
  }
  return patiently([&] { return DeleteFileA(path); });
}

int folder_sync(std::string_view) { return 0; }
#else
int entry_identity(std::string_view name, bool through_links, FileIdentity& identity) {
  identity = {};
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  struct stat status {};
  if ((through_links ? stat(path, &status) : lstat(path, &status)) != 0) return errno;
  identity = identity_of(status);
  return 0;
}

int entry_rename(std::string_view from, std::string_view to) {
  Path from_path, to_path;
  if (const int error = terminated_paths(from, from_path, to, to_path)) return error;
  return outcome(std::rename(from_path, to_path));
}

// A file system that cannot rename without replacing (renameat2 gives
// EINVAL) is asked first whether `to` exists.
int entry_rename_new(std::string_view from, std::string_view to) {
  Path from_path, to_path;
  if (const int error = terminated_paths(from, from_path, to, to_path)) return error;
  if (renameat2(AT_FDCWD, from_path, AT_FDCWD, to_path, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  struct stat status {};
  if (lstat(to_path, &status) == 0) return EEXIST;
  if (errno != ENOENT) return errno;
  return outcome(std::rename(from_path, to_path));
}

int entry_link(std::string_view name, std::string_view new_name) {
  Path path, new_path;
  if (const int error = terminated_paths(name, path, new_name, new_path)) return error;
  return outcome(linkat(AT_FDCWD, path, AT_FDCWD, new_path, 0));  // 0: the link itself, not its target
}

int entry_copy_link(std::string_view name, std::string_view new_name) {
  Path path, new_path, target;
  if (const int error = terminated_paths(name, path, new_name, new_path)) return error;
  const ssize_t size = readlink(path, target, sizeof target - 1);
  if (size < 0) return errno;
  target[size] = '\0';
  return outcome(symlink(target, new_path));
}

int entry_remove(std::string_view name) {
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  return outcome(unlink(path));
}

// A file system that cannot flush a folder (EINVAL) keeps nothing back to
// flush.
int folder_sync(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  const std::string_view folder = slash == std::string_view::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  Path path;
  if (const int error = terminated_path(folder, path)) return error;
  const int handle = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (handle == -1) return errno;
  int error = fsync(handle) == 0 || errno == EINVAL ? 0 : errno;
  if (::close(handle) != 0 && error == 0) error = errno;
  return error;
}
#endif
