// WriteFile and CheckRegularFile on POSIX systems: a temporary file beside the
// target, fsync, then rename (replacing) or renameat2 with RENAME_NOREPLACE,
// else link and unlink (never replacing).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The status for the error number a failed file operation left.
Status FromErrno(int error, Status otherwise) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return Status::NoSpace;
    case EACCES:
    case EPERM:
      return Status::PermissionDenied;
    case EROFS:
      return Status::ReadOnly;
    case EISDIR:
      return Status::IsFolder;
    case ENOENT:
      return Status::NoFolder;
    case ENOTDIR:
      return Status::NotAFolder;
    case ENAMETOOLONG:
      return Status::NameTooLong;
    case EEXIST:
      return Status::Exists;
    default:
      return otherwise;
  }
}

// Creates a new file beside `target` under a name no other file has, opened
// for writing, and records it as unfinished. Returns its path, or an empty
// path and the reason.
fs::path CreateTempBeside(const fs::path& target, std::FILE*& file, Status& status) {
  std::random_device entropy;
  std::mt19937_64 rng((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  const fs::path dir = target.parent_path();
  // A short name of its own: the target's name may already be as long as the
  // folder allows, so nothing can be added to it.
  const std::string stem = ".quillon-";
  status = Status::WriteError;
  file = nullptr;
  const auto lock = unfinished::Lock();
  if (unfinished::Stopping(lock)) {
    status = Status::Interrupted;
    return {};
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path candidate = dir / (stem + std::to_string(rng() % 1000000000000ULL) + ".tmp");
    // 0666 less the umask, as for any new file; fails if the name exists.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      file = ::fdopen(fd, "wb");
      if (file == nullptr) {
        ::close(fd);
        ::unlink(candidate.c_str());
        return {};
      }
      unfinished::Add(lock, candidate);
      return candidate;
    }
    if (errno != EEXIST) {
      status = FromErrno(errno, Status::WriteError);
      break;
    }
  }
  return {};
}

// Gives the new file the old one's permission bits and, where allowed, its
// group, so that replacing a file does not change who may use it.
void CarryOverOwnership(const fs::path& old_file, const fs::path& temp) {
  struct stat old_status {};
  if (::stat(old_file.c_str(), &old_status) != 0 || !S_ISREG(old_status.st_mode)) return;
  // Only a group the user belongs to (or any, for root) is accepted; otherwise
  // the new file keeps the user's default group.
  static_cast<void>(::chown(temp.c_str(), static_cast<uid_t>(-1), old_status.st_gid));
  static_cast<void>(::chmod(temp.c_str(), old_status.st_mode & 07777));
}

// Gives `temp` the name `path` unless something has that name; 0 or an error
// number.
int PlaceWithoutReplacing(const fs::path& temp, const fs::path& path) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  // Only a file system (or kernel) without the flag goes on to link.
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
#endif
  if (::link(temp.c_str(), path.c_str()) != 0) {
    // Without hard links there is no way to add a file that cannot replace one.
    return errno == EPERM || errno == EOPNOTSUPP ? EOPNOTSUPP : errno;
  }
  ::unlink(temp.c_str());
  return 0;
}

}  // namespace

Status WriteFile(const fs::path& path, Replace replace,
                 const std::function<bool(std::FILE*)>& write) {
  if (path.empty() || !path.has_filename()) return Status::NoName;
  std::FILE* file = nullptr;
  Status status = Status::Ok;
  const fs::path temp = CreateTempBeside(path, file, status);
  if (file == nullptr) return status;

  errno = 0;
  bool ok = write(file) && std::fflush(file) == 0;
  int error = errno;
  // On the disk before it takes the name, so that a crash cannot leave an
  // empty or partial file under it.
  if (ok && ::fsync(::fileno(file)) != 0 && errno != EINVAL) {
    ok = false;
    error = errno;
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok && replace == Replace::Allowed) CarryOverOwnership(path, temp);

  const auto lock = unfinished::Lock();
  if (ok) {
    if (replace == Replace::Allowed) {
      // rename replaces an existing file in one step; a folder of that name makes it fail.
      error = ::rename(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
    } else {
      error = PlaceWithoutReplacing(temp, path);
    }
    ok = error == 0;
  }
  if (!ok) ::unlink(temp.c_str());
  unfinished::Drop(lock, temp);
  if (ok) return Status::Ok;
  if (error == EOPNOTSUPP) return Status::Unsupported;
  // A folder of that name is reported as such, whether or not it may be replaced.
  if (error == EEXIST && CheckRegularFile(path) == Status::IsFolder) return Status::IsFolder;
  return FromErrno(error, Status::WriteError);
}

Status CheckRegularFile(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status::NotFound;
    return FromErrno(errno, Status::ReadError);
  }
  if (S_ISDIR(status.st_mode)) return Status::IsFolder;
  if (!S_ISREG(status.st_mode)) return Status::NotRegular;
  return Status::Ok;
}

}  // namespace files
