// Files written so that no file already there is ever lost: a new file gets
// its name only once it is complete, and only replaces a file when asked to.
// The reasons a file cannot be read or written, in the words every program
// uses for them.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>

namespace files {

// Why a file operation failed; Ok when it did not.
enum class Status {
  Ok,
  BadContent,        // the data to write does not match the size it announces
  NoName,            // the name is empty or names no file
  NotFound,          // no file of that name
  IsFolder,          // a folder has that name
  NotRegular,        // a pipe, device or socket has that name
  NoFolder,          // the folder it would go into does not exist
  NotAFolder,        // a name on the path that should be a folder is a file
  PermissionDenied,  // the folder or the file may not be read or written
  ReadOnly,          // the file system is mounted read-only
  NoSpace,           // no space left on the device (or over the quota)
  NameTooLong,       // the name is longer than the file system allows
  Exists,            // a file has that name and was not to be replaced
  Unsupported,       // the file system cannot add a file without replacing one
  Interrupted,       // the program is stopping and writes no more files
  ReadError,         // any other failure while reading
  WriteError,        // any other failure while writing or replacing
};

// A short phrase in plain words, e.g. "no space left on the device".
const char* Describe(Status status);

// The status for an error the standard library's file functions reported
// while reading or making folders, so that its words are the same as for
// every other failure (a file where a folder is wanted is NotAFolder).
Status StatusOf(const std::error_code& error, Status otherwise);

// Whether WriteFile may replace a file that has the name.
enum class Replace { Never, Allowed };

// Writes a file in the folder of `path` under a temporary name: `write` fills
// it (opened for binary writing) and returns false on a failed write. Once it
// is complete and on the disk it takes the name `path`. With Replace::Allowed
// it replaces a file there, whose permission bits and group carry over; with
// Replace::Never a file that has the name when the new one would take it is
// left alone and the result is Exists, with no moment at which it could be
// replaced. On any failure no file is left under the temporary name and a
// file already at `path` is as it was.
Status WriteFile(const std::filesystem::path& path, Replace replace,
                 const std::function<bool(std::FILE*)>& write);

// What is at `path`, without opening it: Ok for a regular file (or a link to
// one), otherwise why it cannot be read as a file.
Status CheckRegularFile(const std::filesystem::path& path);

// On an interrupt (Ctrl-C) or a request to terminate, removes every file
// WriteFile has not finished, lets no new one start, calls `report` with the
// exit status (128 + the signal's number) and exits with it. Call before
// starting any thread.
void ExitOnInterrupt(std::function<void(int exit_status)> report);

}  // namespace files
