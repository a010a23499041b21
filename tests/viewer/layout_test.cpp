// The window as it opens: its layout, tab order, font and starting state;
// then browsing with the three lists, and closing.
#include <gtest/gtest.h>
#include <QApplication>
#include <QFontInfo>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include "platform/window_metrics.h"
#include "tests/viewer/viewer_test_support.h"

namespace {

using viewer_test::Gradient;
using viewer_test::QPath;
using viewer_test::ScopedCurrentDir;
using viewer_test::TempDir;
using viewer_test::WindowHarness;
using viewer_test::WritePdt;
namespace fs = std::filesystem;

std::vector<QWidget*> Controls(frm_main& w) {
  return {w.Pic, w.Drv, w.Fol, w.File, w.txt, w.btnSave, w.btnClose};
}

TEST(Layout, ControlsStandWhereTheDesignPutsThem) {
  WindowHarness h;
  frm_main& w = h.w();
  EXPECT_EQ(w.windowTitle(), QStringLiteral("Quillon"));
  EXPECT_EQ(w.size(), QSize(327, 462));
  // A fixed border: the user cannot resize the window.
  EXPECT_EQ(w.minimumSize(), QSize(327, 462));
  EXPECT_EQ(w.maximumSize(), QSize(327, 462));
  EXPECT_EQ(w.findChild<QMenuBar*>(), nullptr);

  EXPECT_EQ(w.Pic->geometry(), QRect(0, 0, 324, 244));
  EXPECT_EQ(w.Drv->geometry(), QRect(0, 248, 161, 20));
  EXPECT_EQ(w.Fol->geometry(), QRect(0, 272, 161, 132));
  EXPECT_EQ(w.File->geometry(), QRect(168, 248, 150, 210));
  EXPECT_EQ(w.txt->geometry(), QRect(0, 408, 161, 18));
  EXPECT_EQ(w.btnSave->geometry(), QRect(0, 432, 73, 25));
  EXPECT_EQ(w.btnClose->geometry(), QRect(80, 432, 81, 25));

  EXPECT_EQ(w.btnSave->text(), QStringLiteral("BMP保存"));
  EXPECT_EQ(w.btnClose->text(), QStringLiteral("閉じる"));
  EXPECT_EQ(w.m_VIEW->title(), QStringLiteral("表示(&V)"));
  EXPECT_EQ(w.m_PIC[0]->text(), QStringLiteral("実寸表示(&J)"));
  EXPECT_EQ(w.m_PIC[1]->text(), QStringLiteral("標準表示(&D)"));
  EXPECT_EQ(w.File->Pattern(), QStringLiteral("*.pdt"));
}

TEST(Layout, TabGoesThroughTheControlsInTheDesignOrder) {
  WindowHarness h;
  frm_main& w = h.w();
  const std::vector<QWidget*> expected = {w.Drv, w.Fol,     w.File,     w.Pic,
                                          w.txt, w.btnSave, w.btnClose, w.Drv};
  const std::vector<QWidget*> controls = Controls(w);
  std::vector<QWidget*> order{w.Drv};
  for (QWidget* next = w.Drv->nextInFocusChain(); order.size() < expected.size();
       next = next->nextInFocusChain()) {
    const bool is_control = std::find(controls.begin(), controls.end(), next) != controls.end();
    if (is_control && (next->focusPolicy() & Qt::TabFocus)) order.push_back(next);
  }
  EXPECT_EQ(order, expected);
}

TEST(Layout, EveryControlUsesTheDesignFontInAJapaneseFace) {
  WindowHarness h;
  for (QWidget* control : Controls(h.w())) {
    EXPECT_EQ(control->font().family(), platform::kDesignFontFamily);
    EXPECT_EQ(control->font().pointSize(), 9);
    EXPECT_EQ(QFontInfo(control->font()).family(), platform::kSubstituteFontFamily);
  }
  EXPECT_EQ(h.w().m_VIEW->font().family(), platform::kDesignFontFamily);
}

TEST(StartingState, NoPictureAndTheListsAtTheCurrentDirectory) {
  TempDir cwd;
  WritePdt(cwd / "b.pdt", Gradient(8, 8));
  WritePdt(cwd / "A.PDT", Gradient(8, 8));
  ScopedCurrentDir in(cwd.path());
  // One volume only, so that the expected drive does not depend on this machine's mounts.
  WindowHarness h(std::make_shared<viewer_test::FakeVolumes>(QStringList{"/"}, QStringList{}));
  frm_main& w = h.w();
  EXPECT_EQ(w.Picture().Header.FileSize, 0);
  EXPECT_TRUE(w.Picture().Pixels.empty());
  EXPECT_FALSE(w.btnSave->isEnabled());
  EXPECT_TRUE(w.btnClose->isEnabled());
  EXPECT_TRUE(w.m_PIC[1]->isChecked());
  EXPECT_FALSE(w.m_PIC[0]->isChecked());
  EXPECT_FALSE(w.m_VIEW->isVisible());
  EXPECT_TRUE(w.txt->text().isEmpty());
  EXPECT_TRUE(w.Pic->ToolTipText().isEmpty());
  EXPECT_EQ(w.Fol->Path(), QPath(cwd));
  EXPECT_EQ(w.File->Path(), QPath(cwd));
  EXPECT_EQ(w.Drv->Drive(), QStringLiteral("/"));
  ASSERT_EQ(w.File->count(), 2);
  EXPECT_EQ(w.File->item(0)->text(), QStringLiteral("A.PDT"));
  EXPECT_EQ(w.File->item(1)->text(), QStringLiteral("b.pdt"));
  EXPECT_TRUE(w.File->FileName().isEmpty());
  EXPECT_TRUE(h.messages().shown().empty());
}

// ---- Browsing ----

// A volume mounted at a folder of the temporary tree, possibly not ready.
class Browsing : public ::testing::Test {
 protected:
  std::shared_ptr<viewer_test::FakeVolumes> Volumes(bool available) {
    QStringList unavailable;
    if (!available) unavailable.push_back(QPath(volume_));
    return std::make_shared<viewer_test::FakeVolumes>(QStringList{"/", QPath(volume_)},
                                                      unavailable);
  }
  TempDir volume_;
};

TEST_F(Browsing, AnUnavailableDriveSendsTheDriveListBackWithoutAMessage) {
  WindowHarness h(Volumes(false));
  h.Browse();
  const QString folder = h.w().Fol->Path();
  ASSERT_EQ(h.w().Drv->Drive(), QStringLiteral("/"));
  h.w().Drv->setCurrentIndex(h.w().Drv->findText(QPath(volume_)));  // as the user picks it
  EXPECT_EQ(h.w().Drv->Drive(), QStringLiteral("/"));
  EXPECT_EQ(h.w().Fol->Path(), folder);
  EXPECT_EQ(h.w().File->Path(), folder);
  EXPECT_TRUE(h.messages().shown().empty());
}

TEST_F(Browsing, AnAvailableDriveMovesBothListsToIt) {
  WritePdt(volume_ / "ON.PDT", Gradient(8, 8));
  WindowHarness h(Volumes(true));
  h.Browse();
  h.w().Drv->setCurrentIndex(h.w().Drv->findText(QPath(volume_)));
  EXPECT_EQ(h.w().Drv->Drive(), QPath(volume_));
  EXPECT_EQ(h.w().Fol->Path(), QPath(volume_));
  EXPECT_EQ(h.w().File->Path(), QPath(volume_));
  ASSERT_EQ(h.w().File->count(), 1);
  EXPECT_EQ(h.w().File->item(0)->text(), QStringLiteral("ON.PDT"));
}

TEST_F(Browsing, ChangingTheDirectoryOnlyRefillsTheFileList) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("P.PDT"), Gradient(50, 40)));
  h.w().txt->setText(QStringLiteral("typed.bmp"));
  const QImage drawing = h.w().Pic->Surface();
  fs::create_directory(h.dir() / "sub");
  WritePdt(h.dir() / "sub" / "IN.PDT", Gradient(8, 8));

  ASSERT_EQ(h.w().Fol->SetPath(QPath(h.dir()) + QStringLiteral("/sub")), platform::ListError::None);
  EXPECT_EQ(h.w().File->Path(), QPath(h.dir()) + QStringLiteral("/sub"));
  ASSERT_EQ(h.w().File->count(), 1);
  EXPECT_EQ(h.w().File->item(0)->text(), QStringLiteral("IN.PDT"));
  EXPECT_TRUE(h.w().File->FileName().isEmpty());
  EXPECT_EQ(h.w().Picture().Header.Width, 50);
  EXPECT_TRUE(h.w().btnSave->isEnabled());
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("typed.bmp"));
  EXPECT_EQ(h.w().Pic->Surface(), drawing);
}

TEST_F(Browsing, TheFileListMatchesAnyCaseAndSelectsByKeyboard) {
  WindowHarness h;
  for (const char* name : {"a.PDT", "b.pdt", "c.Pdt"})
    WritePdt(h.dir() / name, Gradient(10 + name[0] - 'a', 8));
  viewer_test::WriteBytes(h.dir() / "d.txt", {1});
  viewer_test::WriteBytes(h.dir() / "e.pdtx", {1});
  h.Browse();
  platform::FileList& list = *h.w().File;
  ASSERT_EQ(list.count(), 3);
  list.setFocus();

  QTest::keyClick(&list, Qt::Key_Down);
  EXPECT_EQ(list.FileName(), QStringLiteral("a.PDT"));
  EXPECT_EQ(h.w().Picture().Header.Width, 10);  // File_Click ran and loaded it
  QTest::keyClick(&list, Qt::Key_End);
  EXPECT_EQ(h.w().Picture().Header.Width, 12);
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("c.bmp"));
  QTest::keyClick(&list, Qt::Key_Up);
  EXPECT_EQ(h.w().Picture().Header.Width, 11);
  QTest::keyClick(&list, Qt::Key_Home);
  EXPECT_EQ(h.w().Picture().Header.Width, 10);
  QTest::keyClicks(&list, QStringLiteral("c"));
  EXPECT_EQ(h.w().Picture().Header.Width, 12);
}

TEST_F(Browsing, BrowsingNeverChangesTheCurrentDirectory) {
  const fs::path before = fs::current_path();
  WindowHarness h(Volumes(true));
  fs::create_directory(h.dir() / "deeper");
  WritePdt(h.dir() / "deeper" / "X.PDT", Gradient(8, 8));
  h.Browse();
  // Open the subfolder as the user does: double-click its entry.
  QListWidgetItem* entry =
      h.w().Fol->findItems(QStringLiteral("deeper"), Qt::MatchExactly).value(0);
  ASSERT_NE(entry, nullptr);
  emit h.w().Fol->itemDoubleClicked(entry);
  ASSERT_EQ(h.w().Fol->Path(), QPath(h.dir()) + QStringLiteral("/deeper"));
  h.w().File->setCurrentRow(0);
  EXPECT_EQ(h.w().Picture().Header.Width, 8);
  h.w().Drv->setCurrentIndex(h.w().Drv->findText(QPath(volume_)));
  EXPECT_EQ(h.w().Fol->Path(), QPath(volume_));
  EXPECT_EQ(fs::current_path(), before);
}

// ---- Closing ----

// Runs the event loop until the program would end; 99 if it does not within 5 s.
int RunUntilQuit(const std::function<void()>& action) {
  QTimer::singleShot(0, action);
  QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
  return QApplication::exec();
}

TEST(Closing, TheCloseButtonEndsTheProgramWithStatusZero) {
  WindowHarness h;
  h.w().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.w()));
  EXPECT_EQ(RunUntilQuit([&] { QTest::mouseClick(h.w().btnClose, Qt::LeftButton); }), 0);
  EXPECT_FALSE(h.w().isVisible());
}

TEST(Closing, TheTitleBarCloseEndsTheProgramWithStatusZero) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("P.PDT"), Gradient(20, 20)));
  h.w().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.w()));
  // What the window system sends when its close button is pressed.
  EXPECT_EQ(RunUntilQuit([&] { h.w().windowHandle()->close(); }), 0);
  EXPECT_FALSE(h.w().isVisible());
  EXPECT_TRUE(h.messages().shown().empty());
}

}  // namespace
