// The volumes offered as drives: the mount table, the policy of which mounts
// count as volumes, and whether one can be entered.
#pragma once

#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>

namespace platform {

// Mount points of the volumes that hold real files in a mount table in the
// format of /proc/self/mounts, in table order without duplicates; pseudo file
// systems (proc, sysfs, cgroups, tmpfs under /run and /dev, ...) are left out.
QStringList ParseMountTable(const QString& table);

// The deepest of `mount_points` that contains the absolute `path`, or an empty
// string when none does.
QString MountPointOf(const QStringList& mount_points, const QString& path);

// The volumes offered as drives, and whether one can be entered. The window's
// tests replace it to make a volume unavailable.
class VolumeSource {
 public:
  virtual ~VolumeSource() = default;
  // Mount points of the volumes that hold real files, "/" first.
  virtual QStringList MountPoints() const;
  // Whether the volume at `mount_point` is ready and readable.
  virtual bool IsAvailable(const QString& mount_point) const;
  // Whether the folder `path` can be entered and listed.
  virtual bool CanOpen(const std::filesystem::path& path) const;
};

// `volumes`, or the mounted volumes when it is null.
std::shared_ptr<const VolumeSource> OrDefault(std::shared_ptr<const VolumeSource> volumes);

}  // namespace platform
