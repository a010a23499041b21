#include "platform/folders.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QUrl>
#include <system_error>

#include "names/names.h"

namespace platform {

std::filesystem::path FsPath(const QString& text) {
  return QFile::encodeName(text).toStdString();
}

std::filesystem::path FsPathFromUrl(const QUrl& url) {
  if (!url.isLocalFile()) return {};
  return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

QString ShownPath(const std::filesystem::path& path) {
  return QString::fromStdString(names::ReadablePath(path));
}

bool NameLess(const QString& a, const QString& b) {
  const int c = QString::compare(a, b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a < b;
}

bool EntryLess(const Entry& a, const Entry& b) {
  return NameLess(a.shown, b.shown);
}

QString Shown(std::string_view bytes) {
  return QString::fromStdString(names::ReadableName(bytes));
}

// Reads a folder once. The entry type comes from the directory entry itself,
// so only symbolic links cost a stat.
FolderContents ReadFolder(const std::filesystem::path& path, bool want_folders, bool want_files) {
  FolderContents out;
  std::error_code ec;
  std::filesystem::directory_iterator it(path, ec);
  if (ec) return out;
  for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) return out;
    const std::string& native = it->path().native();
    const std::size_t slash = native.rfind('/');
    const char* name = native.c_str() + (slash == std::string::npos ? 0 : slash + 1);
    if (name[0] == '.') continue;  // hidden entries
    std::error_code type_ec;
    if (want_folders && it->is_directory(type_ec)) {
      out.folders.push_back({Shown(name), name});
    } else if (want_files && it->is_regular_file(type_ec)) {
      out.files.push_back({Shown(name), name});
    }
  }
  out.ok = true;
  return out;
}

QString AbsoluteClean(const QString& path) {
  if (path.isEmpty()) return {};
  return QDir::cleanPath(QDir::isAbsolutePath(path) ? path
                                                    : QDir::current().absoluteFilePath(path));
}

std::filesystem::path AbsoluteFolder(const std::filesystem::path& path) {
  if (path.empty()) return {};
  std::error_code ec;
  std::string out = std::filesystem::absolute(path, ec).lexically_normal().native();
  if (ec) return {};
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

std::filesystem::path CurrentFolder() {
  std::error_code ec;
  return std::filesystem::current_path(ec);
}

std::filesystem::path BytesPath(const QVariant& bytes) {
  return bytes.toByteArray().toStdString();
}

}  // namespace platform
