// WriteFile and CheckRegularFile on Windows: a temporary file beside the
// target, flushed to the disk, then ReplaceFileW (replacing, which keeps the
// old file's attributes and access rights) or MoveFileExW without
// MOVEFILE_REPLACE_EXISTING, which fails when the name exists (never
// replacing).
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "files/files.h"
#include "files/unfinished.h"

namespace files {
namespace {

namespace fs = std::filesystem;

Status FromWindowsError(DWORD error, Status otherwise) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Status::NoSpace;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Status::PermissionDenied;
    case ERROR_WRITE_PROTECT:
      return Status::ReadOnly;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      return Status::NoFolder;
    case ERROR_FILENAME_EXCED_RANGE:
      return Status::NameTooLong;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Status::Exists;
    default:
      return otherwise;
  }
}

// The C library's stream functions report through errno.
Status FromErrno(int error) {
  switch (error) {
    case ENOSPC:
      return Status::NoSpace;
    case EACCES:
      return Status::PermissionDenied;
    default:
      return Status::WriteError;
  }
}

bool IsFolder(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Why the folder `dir` cannot take a file: Windows says "path not found" both
// when a folder is missing and when a file stands where a folder should be, so
// the nearest name on the path that exists tells which.
Status MissingFolderStatus(const fs::path& dir) {
  for (fs::path at = dir; !at.empty(); at = at.parent_path()) {
    const DWORD attributes = GetFileAttributesW(at.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Status::NoFolder : Status::NotAFolder;
    }
    if (at == at.parent_path()) break;
  }
  return Status::NoFolder;
}

// Creates a new file beside `target` under a name no other file has, opened
// for writing, and records it as unfinished. Returns its path, or an empty
// path and the reason.
fs::path CreateTempBeside(const fs::path& target, std::FILE*& file, Status& status) {
  std::random_device entropy;
  std::mt19937_64 rng((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  const fs::path dir = target.parent_path();
  status = Status::WriteError;
  file = nullptr;
  const auto lock = unfinished::Lock();
  if (unfinished::Stopping(lock)) {
    status = Status::Interrupted;
    return {};
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path candidate = dir / (L".quillon-" + std::to_wstring(rng() % 1000000000000ULL) + L".tmp");
    // CREATE_NEW fails if the name exists. FILE_SHARE_DELETE lets an
    // interrupt remove the file while a worker still writes it, as unlink does.
    const HANDLE handle = CreateFileW(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      status = FromWindowsError(error, Status::WriteError);
      if (status == Status::NoFolder) status = MissingFolderStatus(dir);
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
    unfinished::Add(lock, candidate);
    return candidate;
  }
  return {};
}

// Puts the finished file in place over whatever file has the name: with
// ReplaceFileW where a file is there, else (or where it cannot be used) by a
// replacing move. 0 or a Windows error code.
DWORD PlaceReplacing(const fs::path& temp, const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    if (ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
      return 0;
    }
    const DWORD error = GetLastError();
    // Both files still have their names: only a file that vanished meanwhile,
    // or whose attributes could not be taken over, goes on to the move.
    if (error != ERROR_UNABLE_TO_REMOVE_REPLACED && error != ERROR_FILE_NOT_FOUND) return error;
  }
  if (MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  return GetLastError();
}

}  // namespace

Status WriteFile(const fs::path& target, Replace replace,
                 const std::function<bool(std::FILE*)>& write) {
  if (target.empty() || !target.has_filename()) return Status::NoName;
  // ReplaceFileW makes a file of its own in the target's folder, which a bare
  // file name does not name.
  std::error_code ec;
  fs::path path = fs::absolute(target, ec);
  if (ec) path = target;
  std::FILE* file = nullptr;
  Status status = Status::Ok;
  const fs::path temp = CreateTempBeside(path, file, status);
  if (file == nullptr) return status;

  errno = 0;
  bool ok = write(file) && std::fflush(file) == 0;
  status = ok ? Status::Ok : FromErrno(errno);
  // On the disk before it takes the name, so that a crash cannot leave an
  // empty or partial file under it.
  if (ok && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))))) {
    ok = false;
    status = FromWindowsError(GetLastError(), Status::WriteError);
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    status = FromErrno(errno);
  }

  const auto lock = unfinished::Lock();
  if (ok) {
    DWORD error = 0;
    if (replace == Replace::Allowed) {
      error = PlaceReplacing(temp, path);
    } else if (!MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
      error = GetLastError();  // ERROR_ALREADY_EXISTS when anything has the name
    }
    ok = error == 0;
    if (!ok) {
      status = FromWindowsError(error, Status::WriteError);
      // A folder of that name is reported as such, whether or not it may be replaced.
      if (IsFolder(path)) status = Status::IsFolder;
    }
  }
  if (!ok) DeleteFileW(temp.c_str());
  unfinished::Drop(lock, temp);
  return ok ? Status::Ok : status;
}

Status CheckRegularFile(const fs::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status::NotFound;
    return FromWindowsError(error, Status::ReadError);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Status::IsFolder;
  // Devices (NUL, CON, COM1) and pipes have names in the \\.\ namespace.
  wchar_t full[16] = {};
  const DWORD length = GetFullPathNameW(path.c_str(), 16, full, nullptr);
  if (length >= 4 && length < 16 && std::wstring_view(full, 4) == L"\\\\.\\") {
    return Status::NotRegular;
  }
  return Status::Ok;
}

}  // namespace files
