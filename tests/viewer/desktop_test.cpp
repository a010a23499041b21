// Opening pictures from the desktop: drops on the window, a file list that
// follows its folder, reloading the selected file, and Qt's dialog buttons in
// the desktop's language.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <QUrl>

#include "app/start_options.h"
#include "tests/viewer/viewer_test_support.h"

namespace {

using viewer_test::Quadrants;
using viewer_test::WindowHarness;
using viewer_test::WriteBytes;
using viewer_test::WritePdt;

QString Native(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

// Drags `urls` over the shown window and drops them at `at` (window
// coordinates), through the window system's entry point as a real drop would.
// Returns whether the window accepted the drag.
bool Drop(frm_main& window, const QList<QUrl>& urls, QPoint at) {
  QMimeData data;
  data.setUrls(urls);
  data.setText(QStringLiteral("dragged text"));
  QWindow* handle = window.windowHandle();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &enter);
  const bool accepted = enter.isAccepted();
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(handle, &drop);
  return accepted;
}

class Desktop : public ::testing::Test {
 protected:
  void SetUp() override {
    h_.w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&h_.w()));
    WritePdt(h_.dir() / "A.PDT", Quadrants(40, 30));
    WritePdt(h_.dir() / "b.pdt", Quadrants(20, 20));
    WriteBytes(h_.dir() / "notes.txt", {'h', 'i'});
    std::filesystem::create_directory(h_.dir() / "sub");
  }

  QUrl Url(const char* name) { return QUrl::fromLocalFile(Native(h_.dir() / name)); }

  WindowHarness h_;
};

TEST_F(Desktop, DroppingOpensTheFirstPdtFileOrElseAFolderAndIgnoresTheRest) {
  frm_main& w = h_.w();
  const QString start = w.Fol->Path();
  const QPoint over_picture(100, 100);
  const QPoint over_text_box(80, 416);
  const QPoint over_file_list(243, 300);

  // Nothing usable: no acceptance, nothing moves, the text box keeps its text.
  EXPECT_FALSE(
      Drop(w, {Url("notes.txt"), QUrl(QStringLiteral("https://localhost/x.pdt"))}, over_text_box));
  EXPECT_FALSE(Drop(w, {Url("missing.pdt")}, over_picture));
  EXPECT_EQ(w.Fol->Path(), start);
  EXPECT_EQ(w.txt->text(), QString());
  EXPECT_FALSE(h_.PictureHeld());

  // Several files: the first PDT among them is selected and loaded.
  EXPECT_TRUE(Drop(w, {Url("notes.txt"), Url("sub"), Url("b.pdt"), Url("A.PDT")}, over_picture));
  EXPECT_EQ(w.Fol->Path(), viewer_test::QPath(h_.dir()));
  EXPECT_EQ(w.File->Path(), viewer_test::QPath(h_.dir()));
  EXPECT_EQ(w.File->FileName(), QStringLiteral("b.pdt"));
  ASSERT_TRUE(h_.PictureHeld());
  EXPECT_EQ(w.Picture().Header.Width, 20);
  EXPECT_EQ(w.txt->text(), QStringLiteral("b.bmp"));
  EXPECT_TRUE(w.btnSave->isEnabled());

  // On the text box a file is opened, not pasted as text.
  EXPECT_TRUE(Drop(w, {Url("A.PDT")}, over_text_box));
  EXPECT_EQ(w.File->FileName(), QStringLiteral("A.PDT"));
  EXPECT_EQ(w.Picture().Header.Width, 40);
  EXPECT_EQ(w.txt->text(), QStringLiteral("A.bmp"));

  // A folder, here dropped on the file list, moves the lists there; the held
  // picture stays.
  EXPECT_TRUE(Drop(w, {Url("sub")}, over_file_list));
  EXPECT_EQ(w.Fol->Path(), Native(h_.dir() / "sub"));
  EXPECT_EQ(w.File->count(), 0);
  EXPECT_TRUE(h_.PictureHeld());
  EXPECT_EQ(w.txt->text(), QStringLiteral("A.bmp"));
}

TEST_F(Desktop, TheFileListFollowsItsFolderAndAClickReloadsTheSelectedFile) {
  frm_main& w = h_.w();
  ASSERT_TRUE(h_.Select(QStringLiteral("b.pdt")));
  ASSERT_EQ(w.Picture().Header.Width, 20);
  platform::FileList& list = *w.File;

  // A new file shows up by itself; the selection stays on the same name.
  WritePdt(h_.dir() / "0new.pdt", Quadrants(8, 8));
  ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 3; }, 5000));
  EXPECT_EQ(list.item(0)->text(), QStringLiteral("0new.pdt"));
  EXPECT_EQ(list.FileName(), QStringLiteral("b.pdt"));
  EXPECT_EQ(w.Picture().Header.Width, 20);

  // Rewritten on disk, the picture comes back with a click on its entry.
  WritePdt(h_.dir() / "b.pdt", Quadrants(60, 50));
  const QPoint at = list.visualItemRect(list.currentItem()).center();
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(w.Picture().Header.Width, 60);
  EXPECT_EQ(list.FileName(), QStringLiteral("b.pdt"));

  // The selected file goes away: its entry goes, the held picture stays.
  std::filesystem::rename(h_.dir() / "b.pdt", h_.dir() / "c.pdt");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return !list.findItems(QStringLiteral("c.pdt"), Qt::MatchExactly).isEmpty(); }, 5000));
  EXPECT_TRUE(list.findItems(QStringLiteral("b.pdt"), Qt::MatchExactly).isEmpty());
  EXPECT_EQ(list.FileName(), QString());
  EXPECT_TRUE(h_.PictureHeld());
  EXPECT_EQ(w.Picture().Header.Width, 60);
  EXPECT_TRUE(w.btnSave->isEnabled());
}

TEST(DialogLanguage, StandardButtonsFollowTheDesktopsLanguage) {
  QApplication& app = *qApp;
  QTranslator* japanese = quillon::InstallQtTranslations(app, QLocale(QStringLiteral("ja_JP")));
  ASSERT_NE(japanese, nullptr);
  {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("はい")));
    EXPECT_TRUE(box.button(QMessageBox::No)->text().startsWith(QStringLiteral("いいえ")));
  }
  QCoreApplication::removeTranslator(japanese);
  delete japanese;
}

}  // namespace
