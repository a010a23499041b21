// Paths kept as the file system's bytes, how they are shown, and reading a
// folder's entries.
#pragma once

#include <QString>
#include <QVariant>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

class QUrl;

namespace platform {

// Entries keep the names exactly as the file system gave them, as bytes, in
// this item role (a QByteArray: the folder's whole path in the directory list,
// the file's name in the file list); their text is the readable name.
inline constexpr int kBytesRole = Qt::UserRole;

// The bytes of a path given as Qt text (Qt's own file name encoding).
std::filesystem::path FsPath(const QString& text);
// The bytes of a local file URL, such as a dropped file's: percent-encoded
// bytes that are not UTF-8 are kept as they are.
std::filesystem::path FsPathFromUrl(const QUrl& url);
// A path as shown: UTF-8 names as they are, Shift-JIS names decoded, other
// bytes written as \xHH.
QString ShownPath(const std::filesystem::path& path);

// Case-insensitive name order; names equal but for case keep a fixed order.
bool NameLess(const QString& a, const QString& b);

// A folder entry: its name as shown and as the file system gave it.
struct Entry {
  QString shown;
  std::string bytes;
};

bool EntryLess(const Entry& a, const Entry& b);

struct FolderContents {
  bool ok = false;
  std::vector<Entry> folders;  // visible subfolders
  std::vector<Entry> files;    // visible regular files
};

// One name of the file system as shown.
QString Shown(std::string_view bytes);

// Reads a folder once, leaving out hidden (dot) entries.
FolderContents ReadFolder(const std::filesystem::path& path, bool want_folders, bool want_files);

// The absolute, clean form of a path given as text; empty for an empty path.
QString AbsoluteClean(const QString& path);

// The absolute form of `path` without "." and ".." parts or a trailing
// separator, with its bytes kept; empty for an empty path.
std::filesystem::path AbsoluteFolder(const std::filesystem::path& path);

// The process's current directory (empty when it cannot be had).
std::filesystem::path CurrentFolder();

// The path held as bytes in an entry's kBytesRole.
std::filesystem::path BytesPath(const QVariant& bytes);

}  // namespace platform
