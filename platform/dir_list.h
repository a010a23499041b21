// The directory list: the folders from the volume's root down to the current
// one, and its subfolders.
#pragma once

#include <QListWidget>
#include <QString>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/folders.h"
#include "platform/list_errors.h"
#include "platform/volumes.h"

namespace platform {

// Directory list: the chain of folders from the volume's root down to the
// current folder, then the current folder's visible subfolders, sorted by name
// without regard to case. Double-click or Enter opens the highlighted folder.
// Starts in the process's current directory and never changes it.
class DirList : public QListWidget {
  Q_OBJECT
 public:
  explicit DirList(std::shared_ptr<const VolumeSource> volumes = nullptr,
                   QWidget* parent = nullptr);
  // The current folder as shown, and as the file system names it.
  QString Path() const;
  std::filesystem::path Folder() const;
  // Moves to `path` (a volume's mount point moves to that volume's root);
  // ListError::None on success, DeviceUnavailable for a volume that is not
  // available, PathNotFound for a path that is no folder, PathAccess for a
  // folder that cannot be read. On failure the path stays. Raises Change
  // whenever the path changes; setting the path it already has only lists it
  // again.
  ListError SetFolder(const std::filesystem::path& path);
  ListError SetPath(const QString& path) { return SetFolder(FsPath(path)); }
  const VolumeSource& Volumes() const;

 signals:
  void Change();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Moves to the folder of entry `row` (double-click or Enter).
  void OpenRow(int row);
  // Lists the chain down to `path` and its subfolders; false if `path` cannot
  // be listed.
  bool Fill(const std::filesystem::path& path, const std::string& volume_root);

  std::shared_ptr<const VolumeSource> volumes_;
  std::filesystem::path path_;
};

}  // namespace platform
