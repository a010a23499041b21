// Pictures and folders named with Shift-JIS bytes, or with bytes that are no
// text at all, as old Japanese archives leave them: shown readably, opened and
// entered by their bytes, saved under a UTF-8 name.
#include <gtest/gtest.h>

#include <QTest>
#include <QUrl>
#include <cstring>

#include "tests/support/list_rows.h"
#include "tests/viewer/viewer_test_support.h"

namespace {

using viewer_test::Gradient;
using viewer_test::InteriorPixel;
using viewer_test::Near;
using viewer_test::QPath;
using viewer_test::Quadrants;
using viewer_test::ReadBytes;
using viewer_test::ScopedCurrentDir;
using viewer_test::TempDir;
using viewer_test::TestPicture;
using viewer_test::WindowHarness;
using viewer_test::WritePdt;
namespace fs = std::filesystem;

const std::string kScene = "\x94\x77\x8C\x69.PDT";       // "背景.PDT" in Shift-JIS
const std::string kFolder = "\x83\x66\x81\x5B\x83\x5E";  // "データ" in Shift-JIS
const std::string kOpaque = "\x94\xFF.pdt";              // neither UTF-8 nor Shift-JIS

using testsupport::RowOf;
using testsupport::Texts;

TEST(ByteNames, ShiftJisPicturesAreShownOpenedEnteredAndSavedUnderUtf8Names) {
  WindowHarness h;
  const TestPicture scene = Quadrants(64, 48);
  WritePdt(h.dir() / kScene, scene);
  WritePdt(h.dir() / kOpaque, Gradient(30, 20));
  WritePdt(h.dir() / kFolder / kScene, Gradient(12, 10));
  h.Browse();
  h.w().File->Refresh();
  frm_main& w = h.w();

  EXPECT_EQ(Texts(*w.File), (QStringList{QStringLiteral("\\x94\\xFF.pdt"), "背景.PDT"}));
  EXPECT_NE(RowOf(*w.Fol, "データ"), -1);

  // Selecting the Shift-JIS name loads and paints the picture.
  ASSERT_TRUE(h.Select("背景.PDT"));
  EXPECT_EQ(w.File->FilePath(), h.dir().path() / kScene);
  ASSERT_TRUE(h.PictureHeld());
  EXPECT_EQ(w.Picture().Header.Width, 64);
  EXPECT_TRUE(w.btnSave->isEnabled());
  EXPECT_TRUE(Near(InteriorPixel(w, 40, 30), viewer_test::kRed, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 280, 30), viewer_test::kGreen, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 40, 210), viewer_test::kBlue, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 280, 210), viewer_test::kWhite, 8));
  EXPECT_EQ(w.txt->text(), "背景.bmp");
  EXPECT_EQ(w.Pic->ToolTipText(), "背景.PDT");

  // The proposed name saves a UTF-8 named file into the current directory,
  // holding the picture bottom row first.
  TempDir out;
  {
    const ScopedCurrentDir cwd(out.path());
    w.SavePicture();
  }
  EXPECT_TRUE(h.messages().shown().empty());
  EXPECT_EQ(out.Entries(), std::vector<std::string>{"背景.bmp"});
  const std::vector<std::uint8_t> bmp = ReadBytes(out / "背景.bmp");
  ASSERT_EQ(bmp.size(), 58u + 64u * 48u * 4u);
  int wrong = 0;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      std::uint32_t value = 0;
      std::memcpy(&value, bmp.data() + 58 + ((47 - y) * 64 + x) * 4, 4);
      wrong += value != scene.At(x, y);
    }
  }
  EXPECT_EQ(wrong, 0);

  // A name that is no text is listed with its bytes visible and still opens.
  ASSERT_TRUE(h.Select(QStringLiteral("\\x94\\xFF.pdt")));
  ASSERT_TRUE(h.PictureHeld());
  EXPECT_EQ(w.Picture().Header.Width, 30);
  EXPECT_EQ(w.txt->text(), QStringLiteral("\\x94\\xFF.bmp"));

  // The Shift-JIS folder is entered with Enter, and its picture opens.
  w.Fol->setCurrentRow(RowOf(*w.Fol, "データ"));
  QTest::keyClick(w.Fol, Qt::Key_Return);
  EXPECT_EQ(w.Fol->Folder(), h.dir().path() / kFolder);
  EXPECT_EQ(w.Fol->Path(), QPath(h.dir()) + "/データ");
  EXPECT_EQ(w.File->Folder(), h.dir().path() / kFolder);
  EXPECT_EQ(w.Fol->item(w.Fol->currentRow())->text(), "データ");
  ASSERT_EQ(Texts(*w.File), QStringList{"背景.PDT"});
  w.File->setCurrentRow(0);
  ASSERT_TRUE(h.PictureHeld());
  EXPECT_EQ(w.Picture().Header.Width, 12);

  // Given by its bytes, as on the command line or in a drop, the first picture
  // opens again and the lists go back to its folder.
  EXPECT_EQ(w.OpenPath(h.dir().path() / kScene), QString());
  EXPECT_EQ(w.Fol->Folder(), h.dir().path());
  EXPECT_EQ(w.File->FilePath(), h.dir().path() / kScene);
  EXPECT_EQ(w.Picture().Header.Width, 64);
  EXPECT_EQ(w.txt->text(), "背景.bmp");
}

TEST(ByteNames, DroppedFileUrlsKeepTheirBytes) {
  EXPECT_EQ(platform::FsPathFromUrl(QUrl::fromEncoded("file:///pics/%94%77%8C%69.PDT")),
            fs::path("/pics/" + kScene));
  EXPECT_EQ(platform::FsPathFromUrl(QUrl::fromLocalFile("/pics/背景 1.pdt")),
            fs::path("/pics/背景 1.pdt"));
  EXPECT_EQ(platform::FsPathFromUrl(QUrl("https://example.org/a.pdt")), fs::path());
}

}  // namespace
