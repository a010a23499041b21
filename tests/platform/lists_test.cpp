// The drive, directory and file lists, driven through their widgets the way a
// user drives them: mouse clicks, keys and path changes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <ostream>

#include "platform/lists.h"
#include "tests/support/list_rows.h"

// Readable failure messages for Qt strings.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace {

using platform::DirList;
using platform::DriveList;
using platform::FileList;

// Volumes given by the test: a fixed set of mount points, some of them not
// ready, and folders that cannot be opened (root can read every real one).
class FakeVolumes : public platform::VolumeSource {
 public:
  QStringList mounts{QStringLiteral("/")};
  QStringList unavailable;
  QStringList locked;

  QStringList MountPoints() const override { return mounts; }
  bool IsAvailable(const QString& mount_point) const override {
    return !unavailable.contains(mount_point) && VolumeSource::IsAvailable(mount_point);
  }
  bool CanOpen(const std::filesystem::path& path) const override {
    return !locked.contains(QFile::decodeName(path.c_str())) && VolumeSource::CanOpen(path);
  }
};

using testsupport::RowOf;
using testsupport::Texts;

void Touch(const QString& path) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

void MakeDir(const QString& path) {
  ASSERT_TRUE(QDir().mkpath(path)) << path.toStdString();
}

void ShowAndWait(QWidget& widget) {
  widget.resize(200, 300);
  widget.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
}

void ClickRow(QListWidget& list, int row, bool twice = false) {
  const QPoint at = list.visualItemRect(list.item(row)).center();
  // A double-click arrives as a click followed by the double-click event.
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
  if (twice) QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, at);
}

// --- mount table -------------------------------------------------------------

TEST(MountTable, KeepsVolumesAndSkipsPseudoFileSystems) {
  const QString table = QStringLiteral(
      "proc /proc proc rw,relatime 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "/dev/sda1 / ext4 rw,relatime 0 0\n"
      "devtmpfs /dev devtmpfs rw 0 0\n"
      "tmpfs /dev/shm tmpfs rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "tmpfs /run/user/1000 tmpfs rw 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
      "devpts /dev/pts devpts rw 0 0\n"
      "mqueue /dev/mqueue mqueue rw 0 0\n"
      "binfmt_misc /proc/sys/fs/binfmt_misc binfmt_misc rw 0 0\n"
      "nsfs /run/docker/netns/abc nsfs rw 0 0\n"
      "overlay /var/lib/docker/overlay2/abc/merged overlay rw 0 0\n"
      "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
      "/dev/sdc1 /run/media/me/CARD exfat rw 0 0\n"
      "/dev/sda2 /home ext4 rw 0 0\n"
      "/dev/sda2 /home ext4 rw 0 0\n"
      "garbage\n"
      "\n");
  EXPECT_EQ(platform::ParseMountTable(table),
            (QStringList{"/", "/tmp", "/media/usb stick", "/run/media/me/CARD", "/home"}));
}

TEST(MountTable, ContainerRootOnOverlayIsKept) {
  EXPECT_EQ(platform::ParseMountTable("overlay / overlay rw 0 0\n/dev/vdb /data xfs rw 0 0\n"),
            (QStringList{"/", "/data"}));
}

TEST(MountTable, MountPointOfPicksTheDeepestContainingOne) {
  const QStringList mounts{"/", "/mnt", "/mnt/data"};
  EXPECT_EQ(platform::MountPointOf(mounts, "/mnt/data/pics"), "/mnt/data");
  EXPECT_EQ(platform::MountPointOf(mounts, "/mnt/data"), "/mnt/data");
  // A name that merely starts like a mount point is not inside it.
  EXPECT_EQ(platform::MountPointOf(mounts, "/mnt/database"), "/mnt");
  EXPECT_EQ(platform::MountPointOf(mounts, "/home/me"), "/");
  EXPECT_EQ(platform::MountPointOf(QStringList{"/mnt"}, "/home"), "");
}

TEST(RealVolumes, StartWithRootAndSkipPseudoMounts) {
  const QStringList mounts = platform::VolumeSource().MountPoints();
  ASSERT_FALSE(mounts.isEmpty());
  EXPECT_EQ(mounts.front(), "/");
  EXPECT_EQ(mounts.count("/"), 1);
  for (const QString& mp : mounts) {
    EXPECT_FALSE(mp.startsWith("/proc/") || mp == "/proc") << mp.toStdString();
    EXPECT_FALSE(mp.startsWith("/sys/") || mp == "/sys") << mp.toStdString();
    EXPECT_NE(mp, "/dev/pts");
  }
}

TEST(RealVolumes, OpenOnlyExistingFolders) {
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  Touch(temp.path() + "/plain.pdt");
  const platform::VolumeSource volumes;
  EXPECT_TRUE(volumes.CanOpen(platform::FsPath(temp.path())));
  EXPECT_TRUE(volumes.IsAvailable("/"));
  EXPECT_FALSE(volumes.CanOpen(platform::FsPath(temp.path() + "/plain.pdt")));
  EXPECT_FALSE(volumes.CanOpen(platform::FsPath(temp.path() + "/missing")));
  EXPECT_FALSE(volumes.IsAvailable(temp.path() + "/missing"));
}

// --- drive list --------------------------------------------------------------

TEST(DriveListTest, OffersRootFirstAndFollowsPaths) {
  auto volumes = std::make_shared<FakeVolumes>();
  volumes->mounts = {"/", "/mnt", "/mnt/data"};
  DriveList drives(volumes);
  QSignalSpy changes(&drives, &DriveList::Change);
  ASSERT_EQ(drives.count(), 3);
  EXPECT_EQ(drives.itemText(0), "/");

  drives.SetDriveFromPath("/mnt/data/pics");
  EXPECT_EQ(drives.Drive(), "/mnt/data");
  drives.SetDriveFromPath("/mnt/database");
  EXPECT_EQ(drives.Drive(), "/mnt");
  drives.SetDriveFromPath("/home/me");
  EXPECT_EQ(drives.Drive(), "/");
  // Following a path from code is not a pick by the user.
  EXPECT_EQ(changes.count(), 0);
}

TEST(DriveListTest, StartsOnTheDriveOfTheCurrentDirectory) {
  auto volumes = std::make_shared<FakeVolumes>();
  volumes->mounts = {"/", QDir::currentPath()};
  DriveList drives(volumes);
  EXPECT_EQ(drives.Drive(), QDir::currentPath());
}

TEST(DriveListTest, PickByKeyboardRaisesChange) {
  auto volumes = std::make_shared<FakeVolumes>();
  volumes->mounts = {"/", "/mnt"};
  DriveList drives(volumes);
  drives.SetDriveFromPath("/");
  ShowAndWait(drives);
  QSignalSpy changes(&drives, &DriveList::Change);
  QTest::keyClick(&drives, Qt::Key_Down);
  EXPECT_EQ(drives.Drive(), "/mnt");
  EXPECT_EQ(changes.count(), 1);
}

// --- directory list ----------------------------------------------------------

class DirListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    root_ = temp_.path();
    for (const char* name : {"Zeta", "alpha", "Beta", ".git", "alpha/inner", "locked"})
      MakeDir(root_ + "/" + name);
    Touch(root_ + "/file.pdt");
    // The temporary folder stands for a volume of its own.
    volumes_->mounts = {"/", root_};
    volumes_->locked = {root_ + "/locked"};
  }

  QTemporaryDir temp_;
  QString root_;
  std::shared_ptr<FakeVolumes> volumes_ = std::make_shared<FakeVolumes>();
};

TEST_F(DirListTest, ShowsChainThenSortedVisibleSubfolders) {
  DirList dirs(volumes_);
  ASSERT_EQ(dirs.SetPath(root_), platform::ListError::None);
  EXPECT_EQ(Texts(dirs), (QStringList{root_, "alpha", "Beta", "locked", "Zeta"}));
  // The current folder is the highlighted entry.
  EXPECT_EQ(dirs.currentRow(), 0);

  ASSERT_EQ(dirs.SetPath(root_ + "/alpha/inner"), platform::ListError::None);
  EXPECT_EQ(Texts(dirs), (QStringList{root_, "alpha", "inner"}));
  EXPECT_EQ(dirs.currentRow(), 2);
}

TEST_F(DirListTest, EveryPathChangeRaisesChange) {
  DirList dirs(volumes_);
  QSignalSpy changes(&dirs, &DirList::Change);
  ASSERT_EQ(dirs.SetPath(root_), platform::ListError::None);
  EXPECT_EQ(changes.count(), 1);
  ASSERT_EQ(dirs.SetPath(root_ + "/Beta"), platform::ListError::None);
  EXPECT_EQ(changes.count(), 2);
  EXPECT_EQ(dirs.Path(), root_ + "/Beta");
  // Setting the path it already has is no change.
  ASSERT_EQ(dirs.SetPath(root_ + "/Beta/"), platform::ListError::None);
  EXPECT_EQ(changes.count(), 2);
}

TEST_F(DirListTest, DoubleClickAndEnterOpenFolders) {
  DirList dirs(volumes_);
  ASSERT_EQ(dirs.SetPath(root_), platform::ListError::None);
  ShowAndWait(dirs);
  QSignalSpy changes(&dirs, &DirList::Change);

  ClickRow(dirs, RowOf(dirs, "alpha"), /*twice=*/true);
  EXPECT_EQ(dirs.Path(), root_ + "/alpha");
  EXPECT_EQ(changes.count(), 1);
  EXPECT_EQ(Texts(dirs), (QStringList{root_, "alpha", "inner"}));

  dirs.setFocus();
  dirs.setCurrentRow(RowOf(dirs, "inner"));
  QTest::keyClick(&dirs, Qt::Key_Return);
  EXPECT_EQ(dirs.Path(), root_ + "/alpha/inner");
  EXPECT_EQ(changes.count(), 2);

  // An entry of the chain leads back up.
  dirs.setCurrentRow(0);
  QTest::keyClick(&dirs, Qt::Key_Enter);
  EXPECT_EQ(dirs.Path(), root_);
  EXPECT_EQ(changes.count(), 3);

  // Arrow keys only move the highlight.
  QTest::keyClick(&dirs, Qt::Key_Down);
  EXPECT_EQ(dirs.Path(), root_);
  EXPECT_EQ(changes.count(), 3);
}

TEST_F(DirListTest, FolderThatCannotBeEnteredLeavesThePath) {
  DirList dirs(volumes_);
  ASSERT_EQ(dirs.SetPath(root_), platform::ListError::None);
  ShowAndWait(dirs);
  QSignalSpy changes(&dirs, &DirList::Change);

  ClickRow(dirs, RowOf(dirs, "locked"), /*twice=*/true);
  EXPECT_EQ(dirs.Path(), root_);
  EXPECT_EQ(dirs.SetPath(root_ + "/locked"), platform::ListError::PathAccess);
  EXPECT_EQ(dirs.SetPath(root_ + "/missing"), platform::ListError::PathNotFound);
  EXPECT_EQ(dirs.SetPath(root_ + "/file.pdt"), platform::ListError::PathNotFound);
  EXPECT_EQ(dirs.SetPath(""), platform::ListError::PathNotFound);
  EXPECT_EQ(dirs.Path(), root_);
  EXPECT_EQ(Texts(dirs), (QStringList{root_, "alpha", "Beta", "locked", "Zeta"}));
  EXPECT_EQ(changes.count(), 0);
}

TEST_F(DirListTest, UnavailableVolumeFailsWithDeviceUnavailable) {
  DirList dirs(volumes_);
  DriveList drives(volumes_);
  ASSERT_EQ(dirs.SetPath(root_ + "/Beta"), platform::ListError::None);
  volumes_->unavailable = {root_};
  QSignalSpy changes(&dirs, &DirList::Change);

  EXPECT_EQ(dirs.SetPath(root_), platform::ListError::DeviceUnavailable);
  EXPECT_EQ(dirs.SetPath(root_ + "/alpha"), platform::ListError::DeviceUnavailable);
  EXPECT_EQ(dirs.Path(), root_ + "/Beta");
  EXPECT_EQ(changes.count(), 0);
  // The window returns the drive list to the directory list's drive.
  drives.SetDriveFromPath("/");
  drives.SetDriveFromPath(dirs.Path());
  EXPECT_EQ(drives.Drive(), root_);
  // Other volumes still work.
  EXPECT_EQ(dirs.SetPath("/"), platform::ListError::None);
  EXPECT_EQ(dirs.Path(), "/");
}

TEST_F(DirListTest, BrowsingNeverChangesTheCurrentDirectory) {
  const std::filesystem::path before = std::filesystem::current_path();
  ASSERT_NE(QDir::currentPath(), root_);
  DirList dirs(volumes_);
  FileList files;
  QObject::connect(&dirs, &DirList::Change, &files, [&] { files.SetPath(dirs.Path()); });
  ShowAndWait(dirs);
  ASSERT_EQ(dirs.SetPath(root_), platform::ListError::None);
  ClickRow(dirs, RowOf(dirs, "alpha"), /*twice=*/true);
  ASSERT_EQ(dirs.Path(), root_ + "/alpha");
  EXPECT_EQ(files.Path(), root_ + "/alpha");
  EXPECT_EQ(std::filesystem::current_path(), before);
}

// --- file list ---------------------------------------------------------------

class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp_.isValid());
    dir_ = temp_.path();
    for (const char* name : {"c.Pdt", "a.PDT", "B.pdt", "d.pdtx", "e.txt", "pdt", ".hidden.pdt"})
      Touch(dir_ + "/" + name);
    MakeDir(dir_ + "/x.pdt");
    MakeDir(dir_ + "/other");
    Touch(dir_ + "/other/only.pdt");
  }

  QTemporaryDir temp_;
  QString dir_;
};

TEST_F(FileListTest, ListsMatchingFilesIgnoringCaseSorted) {
  FileList files;
  EXPECT_EQ(files.Pattern(), "*.pdt");
  files.SetPath(dir_);
  EXPECT_EQ(files.Path(), dir_);
  EXPECT_EQ(Texts(files), (QStringList{"a.PDT", "B.pdt", "c.Pdt"}));
  EXPECT_EQ(files.FileName(), "");

  files.SetPattern("*.txt;*.PDTX");
  EXPECT_EQ(Texts(files), (QStringList{"d.pdtx", "e.txt"}));
  files.SetPattern("?.pdt*");
  EXPECT_EQ(Texts(files), (QStringList{"a.PDT", "B.pdt", "c.Pdt", "d.pdtx"}));
}

TEST_F(FileListTest, SetPathRefillsWithNothingSelected) {
  FileList files;
  files.SetPath(dir_);
  QSignalSpy clicks(&files, &FileList::Click);
  files.item(1)->setSelected(true);
  ASSERT_EQ(files.FileName(), "B.pdt");

  files.SetPath(dir_ + "/other");
  EXPECT_EQ(Texts(files), (QStringList{"only.pdt"}));
  EXPECT_EQ(files.FileName(), "");
  EXPECT_TRUE(files.selectedItems().isEmpty());
  // Only the selection made above raised Click; refilling does not.
  EXPECT_EQ(clicks.count(), 1);

  files.SetPath(dir_ + "/missing");
  EXPECT_EQ(files.count(), 0);
}

TEST_F(FileListTest, MouseSelectionRaisesClickAndNamesTheFile) {
  FileList files;
  files.SetPath(dir_);
  ShowAndWait(files);
  QSignalSpy clicks(&files, &FileList::Click);
  ClickRow(files, 2);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(files.FileName(), "c.Pdt");
  EXPECT_TRUE(QFileInfo(files.Path() + "/" + files.FileName()).isFile());
  ClickRow(files, 0);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_EQ(files.FileName(), "a.PDT");
}

TEST_F(FileListTest, KeyboardSelectionRaisesClick) {
  for (int i = 0; i < 20; ++i) Touch(dir_ + QStringLiteral("/m%1.pdt").arg(i, 2, 10, QChar('0')));
  FileList files;
  files.SetPath(dir_);
  ShowAndWait(files);
  files.setFocus();
  QSignalSpy clicks(&files, &FileList::Click);

  // The first key after focus picks the first file.
  QTest::keyClick(&files, Qt::Key_Down);
  EXPECT_EQ(files.FileName(), "a.PDT");
  EXPECT_EQ(clicks.count(), 1);
  QTest::keyClick(&files, Qt::Key_Down);
  EXPECT_EQ(files.FileName(), "B.pdt");
  EXPECT_EQ(clicks.count(), 2);
  QTest::keyClick(&files, Qt::Key_End);
  EXPECT_EQ(files.FileName(), "m19.pdt");
  EXPECT_EQ(clicks.count(), 3);
  QTest::keyClick(&files, Qt::Key_Home);
  EXPECT_EQ(files.FileName(), "a.PDT");
  EXPECT_EQ(clicks.count(), 4);
  QTest::keyClick(&files, Qt::Key_PageDown);
  EXPECT_GT(files.currentRow(), 1);
  EXPECT_EQ(clicks.count(), 5);
  QTest::keyClick(&files, Qt::Key_C);
  EXPECT_EQ(files.FileName(), "c.Pdt");
  EXPECT_EQ(clicks.count(), 6);
}

}  // namespace
