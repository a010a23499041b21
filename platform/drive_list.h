// The drive list: one entry per volume.
#pragma once

#include <QComboBox>
#include <QString>
#include <memory>

#include "platform/volumes.h"

namespace platform {

// Drive list: one entry per volume, shown by its mount point.
class DriveList : public QComboBox {
  Q_OBJECT
 public:
  explicit DriveList(std::shared_ptr<const VolumeSource> volumes = nullptr,
                     QWidget* parent = nullptr);
  // Mount point of the current drive.
  QString Drive() const;
  // Makes the volume that holds `path` current (the deepest mount point that
  // contains it). Does not raise Change.
  void SetDriveFromPath(const QString& path);
  const VolumeSource& Volumes() const;

 signals:
  // The user picked another drive.
  void Change();

 protected:
  // Reads the volumes again before the list opens, so new ones show up.
  void showPopup() override;

 private:
  void Fill();

  std::shared_ptr<const VolumeSource> volumes_;
  bool filling_ = false;
};

}  // namespace platform
