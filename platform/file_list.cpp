#include "platform/file_list.h"

#include <QAbstractItemView>
#include <QFile>
#include <QFileSystemWatcher>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/name_filter.h"

#include "platform/list_focus.h"

namespace platform {
namespace {

// Rows as high as the font's full line plus a pixel above and below, so that
// descenders and underscores are not cut off by the next row.
class RowHeightDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QFontMetrics& metrics = option.fontMetrics;
    size.setHeight(std::max(size.height(), metrics.ascent() + metrics.descent() + 2));
    return size;
  }
};

// Changes in the shown folder often come in bursts (a copy, an unpacked
// archive); the list is read again once per burst.
constexpr int kRereadDelayMs = 100;

}  // namespace

FileList::FileList(QWidget* parent)
    : QListWidget(parent), watcher_(new QFileSystemWatcher(this)), reread_timer_(new QTimer(this)) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  FitRowsToFont();
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    if (!filling_ && !selectedItems().isEmpty()) emit Click();
  });
  connect(this, &QAbstractItemView::clicked, this, &FileList::Reclicked);
  reread_timer_->setSingleShot(true);
  reread_timer_->setInterval(kRereadDelayMs);
  connect(reread_timer_, &QTimer::timeout, this, &FileList::Reread);
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (!reread_timer_->isActive()) reread_timer_->start();
  });
  SetFolder(CurrentFolder());
}

void FileList::FitRowsToFont() {
  setItemDelegate(new RowHeightDelegate(this));
}

// The folder as the watcher takes it, or an empty string for a folder whose
// name does not survive the trip through Qt's text (such a folder is shown and
// browsed, but not watched).
static QString WatchablePath(const std::filesystem::path& folder) {
  const QString text = QFile::decodeName(QByteArray::fromStdString(folder.native()));
  return QFile::encodeName(text).toStdString() == folder.native() ? text : QString();
}

void FileList::Watch() {
  const QString folder = WatchablePath(path_);
  const QStringList watched = watcher_->directories();
  if (watched.size() == 1 && watched.front() == folder) return;
  if (!watched.isEmpty()) watcher_->removePaths(watched);
  reread_timer_->stop();
  std::error_code ec;
  if (!folder.isEmpty() && std::filesystem::is_directory(path_, ec)) watcher_->addPath(folder);
}

void FileList::Reread() {
  const std::filesystem::path kept = FilePath().filename();
  const int scrolled = verticalScrollBar()->value();
  Refresh();
  if (QListWidgetItem* found = FindName(kept)) {
    filling_ = true;
    setCurrentItem(found);
    filling_ = false;
  }
  verticalScrollBar()->setValue(scrolled);
  // A folder that was removed and made again is watched anew.
  if (watcher_->directories().isEmpty()) Watch();
}

QListWidgetItem* FileList::FindName(const std::filesystem::path& name) const {
  if (name.empty()) return nullptr;
  const QByteArray bytes = QByteArray::fromStdString(name.native());
  for (int row = 0; row < count(); ++row) {
    if (item(row)->data(kBytesRole).toByteArray() == bytes) return item(row);
  }
  return nullptr;
}

bool FileList::SelectName(const std::filesystem::path& name) {
  QListWidgetItem* found = FindName(name);
  if (found == nullptr) return false;
  clearSelection();
  setCurrentItem(found);
  scrollToItem(found);
  return true;
}

void FileList::mousePressEvent(QMouseEvent* event) {
  const QModelIndex at = indexAt(event->position().toPoint());
  const bool again = event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier &&
                     at.isValid() && selectionModel()->isSelected(at);
  reclick_row_ = again ? at.row() : -1;
  QListWidget::mousePressEvent(event);
}

void FileList::Reclicked(const QModelIndex& index) {
  const bool again = index.row() == reclick_row_ && selectionModel()->isSelected(index);
  reclick_row_ = -1;
  if (again) emit Click();
}

void FileList::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  // Focus alone selects nothing; the first arrow key then picks the first file.
  if (selectedItems().isEmpty())
    selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
}

QString FileList::Path() const {
  return ShownPath(path_);
}

std::filesystem::path FileList::Folder() const {
  return path_;
}

void FileList::SetFolder(const std::filesystem::path& path) {
  path_ = AbsoluteFolder(path);
  Watch();
  Refresh();
}

QString FileList::Pattern() const {
  return pattern_;
}

void FileList::SetPattern(const QString& pattern) {
  pattern_ = pattern;
  Refresh();
}

QString FileList::FileName() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text();
}

std::filesystem::path FileList::FilePath() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? std::filesystem::path()
                            : path_ / BytesPath(selected.front()->data(kBytesRole));
}

void FileList::Refresh() {
  std::vector<Entry> entries;
  if (!path_.empty()) {
    FolderContents contents = ReadFolder(path_, false, true);
    const NameFilter filter(pattern_);
    for (Entry& entry : contents.files)
      if (filter.Matches(entry.shown)) entries.push_back(std::move(entry));
    std::sort(entries.begin(), entries.end(), EntryLess);
  }
  filling_ = true;
  setUpdatesEnabled(false);
  clear();
  for (const Entry& entry : entries) {
    auto* item = new QListWidgetItem(entry.shown);
    item->setData(kBytesRole, QByteArray::fromStdString(entry.bytes));
    addItem(item);
  }
  setCurrentRow(-1);
  setUpdatesEnabled(true);
  filling_ = false;
}

void FileList::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  PaintListFocus(*this);
}

}  // namespace platform
