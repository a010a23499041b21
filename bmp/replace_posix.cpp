// Replacing a file safely on POSIX systems: a new file under a temporary name
// beside the target, renamed over it once completely written.
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "bmp/bmp.h"

namespace bmp {
namespace {

// The status for the error number a failed file operation left.
WriteStatus FromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return WriteStatus::NoSpace;
    case EACCES:
    case EPERM:
      return WriteStatus::PermissionDenied;
    case EROFS:
      return WriteStatus::ReadOnly;
    case EISDIR:
      return WriteStatus::IsFolder;
    case ENOENT:
    case ENOTDIR:
      return WriteStatus::NoFolder;
    case ENAMETOOLONG:
      return WriteStatus::NameTooLong;
    default:
      return WriteStatus::WriteError;
  }
}

// Creates a new file beside `target` under a name no other file has, opened
// for writing. Returns its path, or an empty path and the reason.
std::filesystem::path CreateTempBeside(const std::filesystem::path& target, std::FILE*& file,
                                       WriteStatus& status) {
  std::random_device entropy;
  std::mt19937_64 rng((static_cast<std::uint64_t>(entropy()) << 32) ^ entropy());
  const std::filesystem::path dir = target.parent_path();
  // A short name of its own: the target's name may already be as long as the
  // folder allows, so nothing can be added to it.
  const std::string stem = ".quillon-";
  status = WriteStatus::WriteError;
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate =
        dir / (stem + std::to_string(rng() % 1000000000000ULL) + ".tmp");
    errno = 0;
    file = std::fopen(candidate.c_str(), "wbx");  // fails if the name exists
    if (file != nullptr) return candidate;
    if (errno != EEXIST) {
      status = FromErrno(errno);
      break;
    }
  }
  file = nullptr;
  return {};
}

// Gives the new file the old one's permission bits and, where allowed, its
// group, so that replacing a file does not change who may use it.
void CarryOverOwnership(const std::filesystem::path& old_file, const std::filesystem::path& temp) {
  struct stat old_status {};
  if (::stat(old_file.c_str(), &old_status) != 0 || !S_ISREG(old_status.st_mode)) return;
  // Only a group the user belongs to (or any, for root) is accepted; otherwise
  // the new file keeps the user's default group.
  static_cast<void>(::chown(temp.c_str(), static_cast<uid_t>(-1), old_status.st_gid));
  static_cast<void>(::chmod(temp.c_str(), old_status.st_mode & 0777));
}

}  // namespace

WriteStatus ReplaceFile(const std::filesystem::path& path,
                        const std::function<bool(std::FILE*)>& write) {
  if (path.empty() || !path.has_filename()) return WriteStatus::NoName;
  std::FILE* file = nullptr;
  WriteStatus status = WriteStatus::Ok;
  const std::filesystem::path temp = CreateTempBeside(path, file, status);
  if (file == nullptr) return status;

  errno = 0;
  bool ok = write(file) && std::fflush(file) == 0;
  int error = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    CarryOverOwnership(path, temp);
    // rename replaces an existing file in one step; a folder of that name makes it fail.
    errno = 0;
    ok = std::rename(temp.c_str(), path.c_str()) == 0;
    error = errno;
  }
  if (ok) return WriteStatus::Ok;
  std::remove(temp.c_str());
  return FromErrno(error);
}

}  // namespace bmp
