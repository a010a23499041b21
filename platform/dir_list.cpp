#include "platform/dir_list.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/list_focus.h"

namespace platform {
namespace {

enum ItemRole { kDepthRole = kBytesRole + 1 };

// Draws each directory entry indented by its depth in the folder chain.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    QStyleOptionViewItem shifted = option;
    shifted.rect.setLeft(option.rect.left() + Indent(index));
    QStyledItemDelegate::paint(painter, shifted, index);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(size.width() + Indent(index));
    return size;
  }

 private:
  static int Indent(const QModelIndex& index) { return index.data(kDepthRole).toInt() * 8; }
};

}  // namespace

DirList::DirList(std::shared_ptr<const VolumeSource> volumes, QWidget* parent)
    : QListWidget(parent), volumes_(OrDefault(std::move(volumes))) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setItemDelegate(new IndentDelegate(this));
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { OpenRow(row(item)); });
  // Starts in the process's current directory, like a freshly opened window.
  const std::filesystem::path start = CurrentFolder();
  const QString root = MountPointOf(volumes_->MountPoints(), ShownPath(start));
  if (Fill(start, root.isEmpty() ? std::string("/") : FsPath(root).native())) path_ = start;
}

QString DirList::Path() const {
  return ShownPath(path_);
}

std::filesystem::path DirList::Folder() const {
  return path_;
}

const VolumeSource& DirList::Volumes() const {
  return *volumes_;
}

ListError DirList::SetFolder(const std::filesystem::path& path) {
  const std::filesystem::path target = AbsoluteFolder(path);
  if (target.empty()) return ListError::PathNotFound;
  QString root = MountPointOf(volumes_->MountPoints(), ShownPath(target));
  if (root.isEmpty()) root = QStringLiteral("/");
  if (!volumes_->IsAvailable(root)) return ListError::DeviceUnavailable;
  std::error_code ec;
  if (!std::filesystem::is_directory(target, ec)) return ListError::PathNotFound;
  if (!volumes_->CanOpen(target)) return ListError::PathAccess;
  // A folder whose shown name only looks like the mount point's is listed from "/".
  std::string root_bytes = FsPath(root).native();
  // (assign, not = "/": g++ 12 wrongly reports overlapping copies there)
  if (!target.native().starts_with(root_bytes)) root_bytes.assign(1, '/');
  if (!Fill(target, root_bytes)) return ListError::PathAccess;
  if (target != path_) {
    path_ = target;
    emit Change();
  }
  return ListError::None;
}

bool DirList::Fill(const std::filesystem::path& path, const std::string& volume_root) {
  FolderContents contents = ReadFolder(path, true, false);
  if (!contents.ok) return false;
  std::sort(contents.folders.begin(), contents.folders.end(), EntryLess);

  const QIcon open_icon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  setUpdatesEnabled(false);
  clear();

  // The chain: the volume's root, then each folder down to `path`.
  QStringList chain_names{ShownPath(volume_root)};
  std::vector<std::string> chain_paths{volume_root};
  const std::string& native = path.native();
  for (std::size_t at = volume_root.size(); at < native.size();) {
    std::size_t end = native.find('/', at);
    if (end == std::string::npos) end = native.size();
    if (end > at) {
      const std::string part = native.substr(at, end - at);
      const std::string& parent = chain_paths.back();
      chain_names.push_back(Shown(part));
      chain_paths.push_back(parent.ends_with('/') ? parent + part : parent + '/' + part);
    }
    at = end + 1;
  }
  for (qsizetype i = 0; i < chain_names.size(); ++i) {
    auto* item = new QListWidgetItem(open_icon, chain_names[i]);
    item->setData(kBytesRole, QByteArray::fromStdString(chain_paths[static_cast<std::size_t>(i)]));
    item->setData(kDepthRole, static_cast<int>(i));
    addItem(item);
  }
  const int current_row = count() - 1;
  const int child_depth = static_cast<int>(chain_names.size());
  const std::string prefix = native.ends_with('/') ? native : native + '/';
  for (const Entry& entry : contents.folders) {
    auto* item = new QListWidgetItem(closed_icon, entry.shown);
    item->setData(kBytesRole, QByteArray::fromStdString(prefix + entry.bytes));
    item->setData(kDepthRole, child_depth);
    addItem(item);
  }
  setCurrentRow(current_row);
  setUpdatesEnabled(true);
  return true;
}

void DirList::OpenRow(int row) {
  const QListWidgetItem* entry = item(row);
  if (entry == nullptr) return;
  // A folder that cannot be opened leaves the list where it was.
  if (SetFolder(BytesPath(entry->data(kBytesRole))) != ListError::None) setCurrentRow(row);
}

void DirList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    OpenRow(currentRow());
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

void DirList::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  PaintListFocus(*this);
}

}  // namespace platform
