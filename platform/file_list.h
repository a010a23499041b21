// The file list: the files of one folder whose names match a pattern.
#pragma once

#include <QListWidget>
#include <QModelIndex>
#include <QString>
#include <filesystem>

#include "platform/folders.h"

class QFileSystemWatcher;
class QTimer;

namespace platform {

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
  void paintEvent(QPaintEvent* event) override;
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
