#include "platform/drive_list.h"

#include <QDir>
#include <QStyle>

#include "platform/folders.h"

namespace platform {

DriveList::DriveList(std::shared_ptr<const VolumeSource> volumes, QWidget* parent)
    : QComboBox(parent), volumes_(OrDefault(std::move(volumes))) {
  Fill();
  SetDriveFromPath(QDir::currentPath());
  connect(this, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) emit Change();
  });
}

void DriveList::Fill() {
  const QString current = Drive();
  filling_ = true;
  clear();
  const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
  for (const QString& mp : volumes_->MountPoints()) addItem(icon, mp);
  const int index = findText(current);
  setCurrentIndex(index >= 0 ? index : 0);
  filling_ = false;
}

QString DriveList::Drive() const {
  return currentText();
}

void DriveList::SetDriveFromPath(const QString& path) {
  QStringList mount_points;
  mount_points.reserve(count());
  for (int i = 0; i < count(); ++i) mount_points.push_back(itemText(i));
  const QString mp = MountPointOf(mount_points, AbsoluteClean(path));
  if (mp.isEmpty()) return;
  filling_ = true;
  setCurrentIndex(findText(mp));
  filling_ = false;
}

const VolumeSource& DriveList::Volumes() const {
  return *volumes_;
}

void DriveList::showPopup() {
  Fill();
  QComboBox::showPopup();
}

}  // namespace platform
