// The drive, directory and file lists the window walks through to a PDT file.
#pragma once

#include <QComboBox>
#include <QListWidget>
#include <QModelIndex>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <memory>
#include <string>

class QUrl;

class QFileSystemWatcher;
class QTimer;

namespace platform {

// Error number of a directory change to a drive that is not ready.
inline constexpr int kErrDeviceUnavailable = 68;
// Error number of a directory change to a folder that cannot be read.
inline constexpr int kErrPathAccess = 75;
// Error number of a directory change to a path that is no folder.
inline constexpr int kErrPathNotFound = 76;

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
  // Moves to `path` (a volume's mount point moves to that volume's root); 0 on
  // success, kErrDeviceUnavailable for a volume that is not available,
  // kErrPathNotFound for a path that is no folder, kErrPathAccess for a folder
  // that cannot be read. On failure the path stays. Raises Change whenever the
  // path changes; setting the path it already has only lists it again.
  int SetFolder(const std::filesystem::path& path);
  int SetPath(const QString& path) { return SetFolder(FsPath(path)); }
  const VolumeSource& Volumes() const;

 signals:
  void Change();

 protected:
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

// File list: the regular files of its path whose names match the pattern
// ("*.pdt" unless set; several patterns separated by ';'), without regard to
// letter case, sorted by name; hidden (dot) files are left out. Matching and
// sorting use the shown names. Starts in the process's current directory with
// nothing selected. Follows files being added, removed or renamed in its
// folder, keeping the selected name.
class FileList : public QListWidget {
  Q_OBJECT
 public:
  explicit FileList(QWidget* parent = nullptr);
  // The folder as shown, and as the file system names it.
  QString Path() const;
  std::filesystem::path Folder() const;
  void SetFolder(const std::filesystem::path& path);
  void SetPath(const QString& path) { SetFolder(FsPath(path)); }
  QString Pattern() const;
  void SetPattern(const QString& pattern);
  // The selected file's shown name, empty when none is selected.
  QString FileName() const;
  // The selected file's path as the file system names it, empty when none is
  // selected.
  std::filesystem::path FilePath() const;
  // Reads the folder again, with nothing selected.
  void Refresh();
  // Selects the entry whose file system name is `name` as a user would,
  // raising Click; false when no entry has that name.
  bool SelectName(const std::filesystem::path& name);

 signals:
  // An entry was selected, by mouse or keyboard, or the selected entry was
  // clicked again.
  void Click();

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Gives the rows room for the font's descent, so underscores show.
  void FitRowsToFont();
  // Watches the shown folder, and only that one.
  void Watch();
  // Reads the folder again after a change on disk, keeping the selected name
  // selected without raising Click.
  void Reread();
  // The entry whose file system name is `name`, or null.
  QListWidgetItem* FindName(const std::filesystem::path& name) const;
  // Raises Click for a click on the entry that was already selected.
  void Reclicked(const QModelIndex& index);

  std::filesystem::path path_;
  QString pattern_ = QStringLiteral("*.pdt");
  bool filling_ = false;
  QFileSystemWatcher* watcher_ = nullptr;
  QTimer* reread_timer_ = nullptr;
  int reclick_row_ = -1;
};

}  // namespace platform
