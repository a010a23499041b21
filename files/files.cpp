#include "files/files.h"

#include <set>

#include "files/unfinished.h"

namespace files {

const char* Describe(Status status) {
  switch (status) {
    case Status::Ok:
      return "ok";
    case Status::BadContent:
      return "the picture does not match its size";
    case Status::NoName:
      return "no file name given";
    case Status::NotFound:
      return "no such file or folder";
    case Status::IsFolder:
      return "is a folder";
    case Status::NotRegular:
      return "not a regular file";
    case Status::NoFolder:
      return "the folder does not exist";
    case Status::NotAFolder:
      return "part of the path is not a folder";
    case Status::PermissionDenied:
      return "permission denied";
    case Status::ReadOnly:
      return "read-only file system";
    case Status::NoSpace:
      return "no space left on the device";
    case Status::NameTooLong:
      return "file name too long";
    case Status::Exists:
      return "already exists";
    case Status::Unsupported:
      return "the file system cannot add a file safely";
    case Status::Interrupted:
      return "interrupted";
    case Status::ReadError:
      return "read error";
    case Status::WriteError:
      return "write error";
  }
  return "unknown error";
}

Status StatusOf(const std::error_code& error, Status otherwise) {
  const std::error_condition condition = error.default_error_condition();
  if (condition == std::errc::no_such_file_or_directory) return Status::NotFound;
  if (condition == std::errc::not_a_directory || condition == std::errc::file_exists) {
    return Status::NotAFolder;
  }
  if (condition == std::errc::is_a_directory) return Status::IsFolder;
  if (condition == std::errc::permission_denied ||
      condition == std::errc::operation_not_permitted) {
    return Status::PermissionDenied;
  }
  if (condition == std::errc::read_only_file_system) return Status::ReadOnly;
  if (condition == std::errc::no_space_on_device) return Status::NoSpace;
  if (condition == std::errc::filename_too_long) return Status::NameTooLong;
  return otherwise;
}

namespace unfinished {
namespace {

std::mutex& Mutex() {
  static std::mutex mutex;
  return mutex;
}

struct Registry {
  std::set<std::filesystem::path> temps;
  bool stopping = false;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

std::unique_lock<std::mutex> Lock() {
  return std::unique_lock(Mutex());
}

bool Stopping(const std::unique_lock<std::mutex>& /*lock*/) {
  return TheRegistry().stopping;
}

void Add(const std::unique_lock<std::mutex>& /*lock*/, const std::filesystem::path& temp) {
  TheRegistry().temps.insert(temp);
}

void Drop(const std::unique_lock<std::mutex>& /*lock*/, const std::filesystem::path& temp) {
  TheRegistry().temps.erase(temp);
}

void RemoveAllAndStop() {
  // Never unlocked: the program exits right after, and no worker may make or
  // place a file in the meantime.
  Mutex().lock();
  Registry& registry = TheRegistry();
  registry.stopping = true;
  for (const std::filesystem::path& temp : registry.temps) {
    std::error_code ignored;
    std::filesystem::remove(temp, ignored);
  }
  registry.temps.clear();
}

}  // namespace unfinished
}  // namespace files
