// Replacing a file safely on Windows: a new file under a temporary name beside
// the target, flushed to the disk and put in place once completely written.
// ReplaceFileW keeps the old file's attributes and access rights, as the
// POSIX side keeps the mode and group.
#include <windows.h>
#undef ReplaceFile  // the API's narrow-or-wide name, not bmp::ReplaceFile

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include "bmp/bmp.h"

namespace bmp {
namespace {

WriteStatus FromWindowsError(DWORD error) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return WriteStatus::NoSpace;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return WriteStatus::PermissionDenied;
    case ERROR_WRITE_PROTECT:
      return WriteStatus::ReadOnly;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DIRECTORY:
      return WriteStatus::NoFolder;
    case ERROR_FILENAME_EXCED_RANGE:
      return WriteStatus::NameTooLong;
    default:
      return WriteStatus::WriteError;
  }
}

// The C library's stream functions report through errno.
WriteStatus FromErrno(int error) {
  switch (error) {
    case ENOSPC:
      return WriteStatus::NoSpace;
    case EACCES:
      return WriteStatus::PermissionDenied;
    default:
      return WriteStatus::WriteError;
  }
}

bool IsFolder(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates a new file beside `target` under a name no other file has, opened
// for writing. Returns its path, or an empty path and the reason.
std::filesystem::path CreateTempBeside(const std::filesystem::path& target, std::FILE*& file,
                                       WriteStatus& status) {
  std::random_device entropy;
  std::mt19937_64 rng((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  const std::filesystem::path dir = target.parent_path();
  status = WriteStatus::WriteError;
  file = nullptr;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate =
        dir / (L".quillon-" + std::to_wstring(rng() % 1000000000000ULL) + L".tmp");
    // CREATE_NEW fails if the name exists.
    const HANDLE handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      status = FromWindowsError(error);
      return {};
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
      CloseHandle(handle);
    } else if ((file = _fdopen(fd, "wb")) == nullptr) {
      _close(fd);
    }
    if (file == nullptr) {
      DeleteFileW(candidate.c_str());
      return {};
    }
    return candidate;
  }
  return {};
}

// Puts the finished file in place: over an existing file with ReplaceFileW,
// which keeps that file's attributes and access rights, else by a move that
// fails if the name has appeared in the meantime.
bool PutInPlace(const std::filesystem::path& temp, const std::filesystem::path& path,
                DWORD& error) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
      return true;
    }
    error = GetLastError();
    // A file that cannot be opened for replacing its attributes (or that
    // vanished) is still replaced whole by a move.
    if (error != ERROR_UNABLE_TO_REMOVE_REPLACED && error != ERROR_FILE_NOT_FOUND) {
      return false;
    }
  }
  if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  error = GetLastError();
  return false;
}

}  // namespace

WriteStatus ReplaceFile(const std::filesystem::path& target,
                        const std::function<bool(std::FILE*)>& write) {
  if (target.empty() || !target.has_filename()) return WriteStatus::NoName;
  // ReplaceFileW makes its own temporary file in the target's folder, which
  // a bare file name does not name.
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(target, ec);
  if (ec) path = target;
  std::FILE* file = nullptr;
  WriteStatus status = WriteStatus::Ok;
  const std::filesystem::path temp = CreateTempBeside(path, file, status);
  if (file == nullptr) return status;

  errno = 0;
  bool ok = write(file) && std::fflush(file) == 0;
  status = ok ? WriteStatus::Ok : FromErrno(errno);
  // On the disk before it takes the name, so that a crash cannot leave a
  // named but empty file.
  if (ok && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))))) {
    ok = false;
    status = FromWindowsError(GetLastError());
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    status = FromErrno(errno);
  }
  if (ok) {
    DWORD error = ERROR_SUCCESS;
    ok = PutInPlace(temp, path, error);
    if (!ok) status = IsFolder(path) ? WriteStatus::IsFolder : FromWindowsError(error);
  }
  if (ok) return WriteStatus::Ok;
  DeleteFileW(temp.c_str());
  return status;
}

}  // namespace bmp
