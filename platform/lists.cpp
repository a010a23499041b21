#include "platform/lists.h"

#include <dirent.h>

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "names/names.h"

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

// Case-insensitive name order; names equal but for case keep a fixed order.
bool NameLess(const QString& a, const QString& b) {
  const int c = QString::compare(a, b, Qt::CaseInsensitive);
  return c != 0 ? c < 0 : a < b;
}

// A folder entry: its name as shown and as the file system gave it.
struct Entry {
  QString shown;
  std::string bytes;
};

bool EntryLess(const Entry& a, const Entry& b) {
  return NameLess(a.shown, b.shown);
}

struct FolderContents {
  bool ok = false;
  std::vector<Entry> folders;  // visible subfolders
  std::vector<Entry> files;    // visible regular files
};

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

// The absolute form of `path` without "." and ".." parts or a trailing
// separator, with its bytes kept; empty for an empty path.
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

// Matches file names against one or more wildcard patterns separated by ';',
// without regard to letter case. "*.ext" patterns take a fast path.
class NameFilter {
 public:
  explicit NameFilter(const QString& patterns) {
    for (const QString& raw : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      const QString p = raw.trimmed();
      if (p.isEmpty()) continue;
      if (p == QLatin1String("*") || p == QLatin1String("*.*")) {
        match_all_ = true;
      } else if (p.startsWith(QLatin1String("*.")) && !p.mid(1).contains(QLatin1Char('*')) &&
                 !p.contains(QLatin1Char('?')) && !p.contains(QLatin1Char('['))) {
        suffixes_.push_back(p.mid(1));
      } else {
        patterns_.push_back(QRegularExpression(QRegularExpression::wildcardToRegularExpression(p),
                                               QRegularExpression::CaseInsensitiveOption));
      }
    }
  }

  bool Matches(const QString& name) const {
    if (match_all_) return true;
    for (const QString& suffix : suffixes_)
      if (name.endsWith(suffix, Qt::CaseInsensitive)) return true;
    for (const QRegularExpression& re : patterns_)
      if (re.match(name).hasMatch()) return true;
    return false;
  }

 private:
  bool match_all_ = false;
  QStringList suffixes_;
  QList<QRegularExpression> patterns_;
};

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

std::shared_ptr<const VolumeSource> OrDefault(std::shared_ptr<const VolumeSource> volumes) {
  return volumes ? std::move(volumes) : std::make_shared<VolumeSource>();
}

}  // namespace

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

// --- DriveList --------------------------------------------------------------

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

// --- DirList ----------------------------------------------------------------

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

int DirList::SetFolder(const std::filesystem::path& path) {
  const std::filesystem::path target = AbsoluteFolder(path);
  if (target.empty()) return kErrPathNotFound;
  QString root = MountPointOf(volumes_->MountPoints(), ShownPath(target));
  if (root.isEmpty()) root = QStringLiteral("/");
  if (!volumes_->IsAvailable(root)) return kErrDeviceUnavailable;
  std::error_code ec;
  if (!std::filesystem::is_directory(target, ec)) return kErrPathNotFound;
  if (!volumes_->CanOpen(target)) return kErrPathAccess;
  // A folder whose shown name only looks like the mount point's is listed from "/".
  std::string root_bytes = FsPath(root).native();
  if (!target.native().starts_with(root_bytes)) root_bytes = "/";
  if (!Fill(target, root_bytes)) return kErrPathAccess;
  if (target != path_) {
    path_ = target;
    emit Change();
  }
  return 0;
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
  if (SetFolder(BytesPath(entry->data(kBytesRole))) != 0) setCurrentRow(row);
}

void DirList::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    OpenRow(currentRow());
    event->accept();
    return;
  }
  QListWidget::keyPressEvent(event);
}

// --- FileList ---------------------------------------------------------------

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

}  // namespace platform
