// Open files: identities, opening, locks, writing, cutting, flushing,
// permission bits, closing; each call with its Windows and POSIX code side
// by side.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>

#include "platform/platform_internal.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform_detail {

#if defined(_WIN32)
int last_error() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_CANT_RESOLVE_FILENAME:  // a symbolic link in a loop
      return ELOOP;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return ENOTSUP;
    default:
      return EIO;
  }
}

int identity_of(HANDLE file, FileIdentity& identity) {
  identity = {};
  const DWORD type = GetFileType(file);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
    identity.kind = type == FILE_TYPE_CHAR ? FileKind::device : FileKind::pipe;
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return last_error();
  const DWORD attributes = information.dwFileAttributes;
  identity.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY)       ? FileKind::directory
                  : (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? FileKind::link
                                                                : FileKind::regular;
  identity.volume = information.dwVolumeSerialNumber;
  identity.index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  return 0;
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
#endif

}  // namespace platform_detail

using namespace platform_detail;

namespace {

#if defined(_WIN32)
// Every open shares reading, writing and deleting: other programs read and
// write the file as before, and a file the run holds open can still be
// renamed over or removed.
int open_file(std::string_view name, DWORD access, DWORD disposition, FileHandle& handle) {
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  const HANDLE file = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return last_error();
  handle = reinterpret_cast<FileHandle>(file);
  return 0;
}
#else
// Without blocking: a FIFO that no process reads would hold the open for
// ever, so it fails instead (ENXIO). A FIFO with a reader is then written
// as before, each write waiting for room.
int open_file(std::string_view name, int flags, FileHandle& handle) {
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  const int file = ::open(path, flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (file == -1) return errno;
  const int status = fcntl(file, F_GETFL);
  if (status == -1 || fcntl(file, F_SETFL, status & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(file);  // a descriptor that could not be made ready: the first failure is the one to report
    return error;
  }
  handle = file;
  return 0;
}
#endif

}  // namespace

#if defined(_WIN32)
FileHandle standard_output_handle() { return reinterpret_cast<FileHandle>(GetStdHandle(STD_OUTPUT_HANDLE)); }

// Windows replaces an open file only when every handle on it shares
// deletion, and Wine never does.
bool open_files_can_be_replaced() { return false; }

int file_identity(FileHandle handle, FileIdentity& identity) { return identity_of(native(handle), identity); }

int file_identity(std::FILE* stream, FileIdentity& identity) {
  return identity_of(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), identity);
}

int file_create(std::string_view name, FileHandle& handle) { return open_file(name, GENERIC_WRITE, CREATE_NEW, handle); }

int file_open_existing(std::string_view name, FileHandle& handle) {
  return open_file(name, GENERIC_WRITE, OPEN_EXISTING, handle);
}

int file_open_to_lock(std::string_view name, FileHandle& handle) {
  const int error = open_file(name, GENERIC_READ, OPEN_EXISTING, handle);
  return error == EACCES ? open_file(name, GENERIC_WRITE, OPEN_EXISTING, handle) : error;
}

// One byte far past any content is locked, so that reading and writing the
// file itself stay open to everyone.
int file_lock(FileHandle handle) {
  OVERLAPPED past_the_end{};
  past_the_end.OffsetHigh = 0x7FFFFFFF;
  if (LockFileEx(native(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &past_the_end)) return 0;
  const int error = last_error();
  return error == ENOTSUP ? 0 : error;
}

int file_write(FileHandle handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD part = bytes.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(native(handle), bytes.data(), part, &written, nullptr)) return last_error();
    if (written == 0) return EIO;
    bytes.remove_prefix(written);
  }
  return 0;
}

int file_truncate(FileHandle handle, std::uint64_t size) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(native(handle), position, nullptr, FILE_BEGIN) || !SetEndOfFile(native(handle))) {
    return last_error();
  }
  return 0;
}

int file_is_empty(FileHandle handle, bool& empty) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(native(handle), &size)) return last_error();
  empty = size.QuadPart == 0;
  return 0;
}

int file_sync(FileHandle handle) { return FlushFileBuffers(native(handle)) ? 0 : last_error(); }

int file_mode(FileHandle handle, unsigned& mode) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(native(handle), &information)) return last_error();
  mode = (information.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  return 0;
}

int file_set_mode(FileHandle handle, unsigned mode) {
  FILE_BASIC_INFO basic{};
  if (!GetFileInformationByHandleEx(native(handle), FileBasicInfo, &basic, sizeof basic)) return last_error();
  const DWORD read_only = (mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : 0;
  basic.FileAttributes = (basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | read_only;
  if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(native(handle), FileBasicInfo, &basic, sizeof basic) ? 0 : last_error();
}

int file_close(FileHandle handle) { return CloseHandle(native(handle)) ? 0 : last_error(); }
#else
FileHandle standard_output_handle() { return STDOUT_FILENO; }

bool open_files_can_be_replaced() { return true; }

int file_identity(FileHandle handle, FileIdentity& identity) {
  struct stat status {};
  if (fstat(static_cast<int>(handle), &status) != 0) return errno;
  identity = identity_of(status);
  return 0;
}

int file_identity(std::FILE* stream, FileIdentity& identity) { return file_identity(fileno(stream), identity); }

int file_create(std::string_view name, FileHandle& handle) { return open_file(name, O_WRONLY | O_CREAT | O_EXCL, handle); }

int file_open_existing(std::string_view name, FileHandle& handle) { return open_file(name, O_WRONLY, handle); }

int file_open_to_lock(std::string_view name, FileHandle& handle) {
  const int error = open_file(name, O_RDONLY, handle);
  return error == EACCES ? open_file(name, O_WRONLY, handle) : error;
}

int file_lock(FileHandle handle) {
  int result;
  while ((result = flock(static_cast<int>(handle), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (result == 0) return 0;
  return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOTSUP || errno == EINVAL ? 0 : errno;
}

int file_write(FileHandle handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(static_cast<int>(handle), bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

int file_truncate(FileHandle handle, std::uint64_t size) {
  return outcome(ftruncate(static_cast<int>(handle), static_cast<off_t>(size)));
}

int file_is_empty(FileHandle handle, bool& empty) {
  struct stat status {};
  if (fstat(static_cast<int>(handle), &status) != 0) return errno;
  empty = status.st_size == 0;
  return 0;
}

int file_sync(FileHandle handle) { return outcome(fsync(static_cast<int>(handle))); }

int file_mode(FileHandle handle, unsigned& mode) {
  struct stat status {};
  if (fstat(static_cast<int>(handle), &status) != 0) return errno;
  mode = static_cast<unsigned>(status.st_mode) & 07777u;
  return 0;
}

int file_set_mode(FileHandle handle, unsigned mode) {
  return outcome(fchmod(static_cast<int>(handle), static_cast<mode_t>(mode)));
}

int file_close(FileHandle handle) { return outcome(::close(static_cast<int>(handle))); }
#endif

int input_file_open(std::string_view name, std::FILE*& stream) {
  Path path;
  if (const int error = terminated_path(name, path)) return error;
  errno = 0;
  stream = std::fopen(path, "rb");
  return stream != nullptr ? 0 : errno != 0 ? errno : EIO;
}
