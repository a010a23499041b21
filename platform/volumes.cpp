#include "platform/volumes.h"

#include <dirent.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/folders.h"

namespace platform {
namespace {

// File systems that hold no files a user would browse.
bool IsPseudoFileSystem(const QString& type) {
  static const QSet<QString> kPseudo = {
      QStringLiteral("proc"),        QStringLiteral("sysfs"),           QStringLiteral("cgroup"),
      QStringLiteral("cgroup2"),     QStringLiteral("devpts"),          QStringLiteral("devtmpfs"),
      QStringLiteral("mqueue"),      QStringLiteral("debugfs"),         QStringLiteral("tracefs"),
      QStringLiteral("securityfs"),  QStringLiteral("pstore"),          QStringLiteral("bpf"),
      QStringLiteral("autofs"),      QStringLiteral("fusectl"),         QStringLiteral("configfs"),
      QStringLiteral("hugetlbfs"),   QStringLiteral("binfmt_misc"),     QStringLiteral("nsfs"),
      QStringLiteral("efivarfs"),    QStringLiteral("rpc_pipefs"),      QStringLiteral("selinuxfs"),
      QStringLiteral("fuse.portal"), QStringLiteral("fuse.gvfsd-fuse"),
  };
  return kPseudo.contains(type);
}

bool IsUnder(const QString& path, const QString& folder) {
  if (folder == QLatin1String("/")) return path.startsWith(QLatin1Char('/'));
  return path == folder ||
         (path.startsWith(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

// Undoes the octal escapes (\040 for a space, \011, \012, \134) of a field of
// the mount table.
QString UnescapeMountField(const QString& field) {
  if (!field.contains(QLatin1Char('\\'))) return field;
  QString out;
  out.reserve(field.size());
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      const int code = (field[i + 1].unicode() - '0') * 64 + (field[i + 2].unicode() - '0') * 8 +
                       (field[i + 3].unicode() - '0');
      out += QChar(code);
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

bool SkipMount(const QString& type, const QString& mount_point) {
  if (!mount_point.startsWith(QLatin1Char('/'))) return true;
  if (mount_point == QLatin1String("/")) return false;
  if (IsPseudoFileSystem(type)) return true;
  if (IsUnder(mount_point, QStringLiteral("/proc")) || IsUnder(mount_point, QStringLiteral("/sys")))
    return true;
  if ((type == QLatin1String("tmpfs") || type == QLatin1String("ramfs")) &&
      (IsUnder(mount_point, QStringLiteral("/run")) ||
       IsUnder(mount_point, QStringLiteral("/dev"))))
    return true;
  // Layers of container images and snap packages: not volumes of their own.
  if (type == QLatin1String("overlay")) return true;
  if (type == QLatin1String("squashfs") && IsUnder(mount_point, QStringLiteral("/snap")))
    return true;
  return false;
}

}  // namespace

QStringList ParseMountTable(const QString& table) {
  QStringList out;
  const QStringList lines = table.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  for (const QString& line : lines) {
    const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() < 3) continue;
    const QString mount_point = UnescapeMountField(fields[1]);
    if (SkipMount(fields[2], mount_point)) continue;
    const QString clean = QDir::cleanPath(mount_point);
    if (!out.contains(clean)) out.push_back(clean);
  }
  return out;
}

QString MountPointOf(const QStringList& mount_points, const QString& path) {
  QString best;
  for (const QString& mp : mount_points) {
    if (IsUnder(path, mp) && (best.isEmpty() || mp.size() > best.size())) best = mp;
  }
  return best;
}

// --- VolumeSource -----------------------------------------------------------

QStringList VolumeSource::MountPoints() const {
  std::ifstream in("/proc/self/mounts");
  std::ostringstream text;
  if (in) text << in.rdbuf();
  const QStringList parsed = ParseMountTable(QString::fromUtf8(text.str()));
  QStringList out{QStringLiteral("/")};
  QStringList rest;
  for (const QString& mp : parsed) {
    // Bind mounts of single files are no volumes.
    if (mp != QLatin1String("/") && QFileInfo(mp).isDir()) rest.push_back(mp);
  }
  std::sort(rest.begin(), rest.end(), NameLess);
  out += rest;
  return out;
}

bool VolumeSource::IsAvailable(const QString& mount_point) const {
  return CanOpen(FsPath(mount_point));
}

bool VolumeSource::CanOpen(const std::filesystem::path& path) const {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  closedir(dir);
  return true;
}

std::shared_ptr<const VolumeSource> OrDefault(std::shared_ptr<const VolumeSource> volumes) {
  return volumes ? std::move(volumes) : std::make_shared<VolumeSource>();
}

}  // namespace platform
