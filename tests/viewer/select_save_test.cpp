// Selecting files and saving the held picture: the window's states, the
// proposed name, the messages and what ends up on disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QAction>
#include <QTest>

#include "tests/viewer/viewer_test_support.h"

namespace {

using viewer_test::Gradient;
using viewer_test::Quadrants;
using viewer_test::ReadBytes;
using viewer_test::TestPicture;
using viewer_test::WindowHarness;
using viewer_test::WriteBytes;
namespace fs = std::filesystem;

const QString kNothingToSave = QStringLiteral("ファイルを作成出来ません");
const QString kNoName = QStringLiteral("ファイルを名を指定してください");
const QString kOverwrite =
    QStringLiteral("同じファイル名が存在します\r\n既存のファイルに上書きしますか？");
const QString kSaveFailed = QStringLiteral("ファイルを保存出来ません");

std::uintmax_t BmpSize(int w, int h) {
  return 58 + static_cast<std::uintmax_t>(w) * h * 4;
}

// ---- Selection and the window's states ----

TEST(Selection, AGoodFileIsHeldShownAndReadyToSave) {
  WindowHarness h;
  EXPECT_FALSE(h.w().btnSave->isEnabled());
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("EV001.PDT"), Gradient(64, 48)));
  EXPECT_TRUE(h.PictureHeld());
  EXPECT_TRUE(h.w().btnSave->isEnabled());
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("EV001.bmp"));
  EXPECT_EQ(h.w().Pic->ToolTipText(), QStringLiteral("EV001.PDT"));
  const bmp::BITMAPINFOHEADER& info = h.w().Picture().Info.bmiHeader;
  EXPECT_EQ(info.biWidth, 64);
  EXPECT_EQ(info.biHeight, 48);
  EXPECT_EQ(info.biSizeImage, 64u * 48u * 4u);
}

TEST(Selection, TheProposedNameEndsInBmp) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("title.pdt"), Gradient(20, 20)));
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("title.bmp"));
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("Op.Pdt"), Gradient(20, 20)));
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("Op.bmp"));
}

TEST(Selection, ABrokenFileDisablesSaveAndKeepsTheLastDrawing) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("GOOD.PDT"), Quadrants(160, 120)));
  const QImage drawing = h.w().Pic->Surface();
  // Same size and stream, but the signature in lower case.
  std::vector<std::uint8_t> bytes = ReadBytes(h.dir() / "GOOD.PDT");
  for (std::size_t i = 0; i < 8; ++i) {
    if (bytes[i] == 'P' || bytes[i] == 'D' || bytes[i] == 'T') bytes[i] |= 0x20;
  }
  WriteBytes(h.dir() / "BROKEN.PDT", bytes);
  h.w().File->Refresh();
  ASSERT_TRUE(h.Select(QStringLiteral("BROKEN.PDT")));

  EXPECT_FALSE(h.PictureHeld());
  EXPECT_TRUE(h.w().Picture().Pixels.empty());
  EXPECT_FALSE(h.w().btnSave->isEnabled());
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("GOOD.bmp"));
  EXPECT_EQ(h.w().Pic->ToolTipText(), QStringLiteral("GOOD.PDT"));
  EXPECT_EQ(h.w().Pic->Surface(), drawing);
  // The view commands do nothing without a picture.
  h.w().m_PIC_Click(0);
  EXPECT_EQ(h.w().size(), QSize(327, 462));
  EXPECT_TRUE(h.w().m_PIC[1]->isChecked());
  EXPECT_EQ(h.w().Pic->Surface(), drawing);
}

TEST(Selection, AFileThatCannotBeReadIsAFailedLoad) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("A.PDT"), Gradient(30, 20)));
  WritePdt(h.dir() / "GONE.PDT", Gradient(30, 20));
  h.w().File->Refresh();
  fs::remove(h.dir() / "GONE.PDT");  // removed after the list was filled
  ASSERT_TRUE(h.Select(QStringLiteral("GONE.PDT")));
  EXPECT_FALSE(h.PictureHeld());
  EXPECT_FALSE(h.w().btnSave->isEnabled());
}

TEST(Selection, ANameNotEndingInPdtKeepsThePictureButDisablesSave) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("A.PDT"), Gradient(100, 80)));
  WriteBytes(h.dir() / "notes.txt", {'h', 'i'});
  h.w().File->SetPattern(QStringLiteral("*"));
  ASSERT_TRUE(h.Select(QStringLiteral("notes.txt")));

  EXPECT_TRUE(h.PictureHeld());
  EXPECT_FALSE(h.w().btnSave->isEnabled());
  EXPECT_EQ(h.w().txt->text(), QStringLiteral("A.bmp"));
  EXPECT_EQ(h.w().Pic->ToolTipText(), QStringLiteral("A.PDT"));
  // Picture held, save disabled: the views still work.
  h.w().m_PIC_Click(0);
  EXPECT_EQ(h.w().size(), QSize(104, 84));
}

TEST(Selection, ASecondPictureReplacesTheFirstWhole) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("A.PDT"), Gradient(100, 80)));
  const TestPicture small = Gradient(30, 10);
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("B.PDT"), small));
  const picture::LoadedPicture& pic = h.w().Picture();
  EXPECT_EQ(pic.Header.Width, 30);
  EXPECT_EQ(pic.Pixels.size(), 300u);
  EXPECT_EQ(pic.Info.bmiHeader.biSizeImage, 1200u);
  EXPECT_EQ(pic.Pixels.front(), small.At(0, 9));  // bottom row first
}

// ---- Saving ----

class Saving : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(h_.LoadPicture(QStringLiteral("EV001.PDT"), picture_));
    out_ = h_.dir() / "out.bmp";
    h_.w().txt->setText(QString::fromStdString(out_.string()));
  }
  void Save() { QTest::mouseClick(h_.w().btnSave, Qt::LeftButton); }
  std::vector<viewer_test::ScriptedMessages::Shown> Shown() { return h_.messages().shown(); }

  WindowHarness h_;
  TestPicture picture_ = Gradient(40, 30);
  fs::path out_;
};

TEST_F(Saving, WritesTheBmpWithoutAnyMessage) {
  Save();
  EXPECT_TRUE(Shown().empty());
  ASSERT_EQ(fs::file_size(out_), BmpSize(40, 30));
  const std::vector<std::uint8_t> bytes = ReadBytes(out_);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  // First pixel in the file: the picture's bottom-left pixel, as B, G, R, 0xFF.
  const std::uint32_t px = picture_.At(0, 29);
  EXPECT_EQ(bytes[58], px & 0xFF);
  EXPECT_EQ(bytes[59], (px >> 8) & 0xFF);
  EXPECT_EQ(bytes[60], (px >> 16) & 0xFF);
  EXPECT_EQ(bytes[61], 0xFF);
  EXPECT_TRUE(h_.w().btnSave->isEnabled());
}

TEST_F(Saving, WithoutAPictureOrANameItSaysWhy) {
  WindowHarness empty;
  empty.w().txt->setText(QString::fromStdString(out_.string()));
  empty.w().SavePicture();  // the button is disabled; the command still checks
  ASSERT_EQ(empty.messages().shown().size(), 1u);
  EXPECT_EQ(empty.messages().shown()[0].text, kNothingToSave);
  EXPECT_EQ(empty.messages().shown()[0].style, 16);

  h_.w().txt->clear();
  Save();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].text, kNoName);
  EXPECT_EQ(Shown()[0].style, 16);
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(Saving, AnsweringNoLeavesTheExistingFileUnchanged) {
  WriteBytes(out_, {1, 2, 3});
  h_.messages().Answer(platform::kAnswerNo);
  Save();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].text, kOverwrite);
  EXPECT_EQ(Shown()[0].style, 36);
  EXPECT_EQ(ReadBytes(out_), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(Saving, AnsweringYesReplacesTheFileAndTheNextSaveAsksAgain) {
  WriteBytes(out_, {1, 2, 3});
  h_.messages().Answer(platform::kAnswerYes);
  Save();
  EXPECT_EQ(fs::file_size(out_), BmpSize(40, 30));
  EXPECT_TRUE(h_.w().btnSave->isEnabled());
  h_.messages().Answer(platform::kAnswerYes);
  Save();
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[1].text, kOverwrite);
  EXPECT_EQ(fs::file_size(out_), BmpSize(40, 30));
}

TEST_F(Saving, ATypedNameWinsOverTheProposedOne) {
  const fs::path typed = h_.dir() / "mine.bmp";
  h_.w().txt->clear();
  QTest::keyClicks(h_.w().txt, QString::fromStdString(typed.string()));
  Save();
  EXPECT_EQ(fs::file_size(typed), BmpSize(40, 30));
  EXPECT_FALSE(fs::exists(h_.dir() / "EV001.bmp"));
}

TEST_F(Saving, ABareNameLandsInTheCurrentDirectoryNotTheBrowsedOne) {
  viewer_test::TempDir cwd;
  viewer_test::ScopedCurrentDir in(cwd.path());
  ASSERT_TRUE(h_.Select(QStringLiteral("EV001.PDT")));  // browsing h_.dir()
  ASSERT_EQ(h_.w().txt->text(), QStringLiteral("EV001.bmp"));
  Save();
  EXPECT_EQ(fs::file_size(cwd / "EV001.bmp"), BmpSize(40, 30));
  EXPECT_FALSE(fs::exists(h_.dir() / "EV001.bmp"));
}

// Lists the names in `dir`, to show that a failed save leaves nothing behind.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(Saving, AFullDiskKeepsTheOldFileAndSaysSo) {
  const std::vector<std::uint8_t> old(100, 0x42);
  WriteBytes(out_, old);
  const auto before = Names(h_.dir().path());
  h_.messages().Answer(platform::kAnswerYes);
  {
    // Files may grow to 4 KiB only: the write fails part-way, as on a full disk.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    const auto old_handler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    Save();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
  }
  ASSERT_EQ(Shown().size(), 2u);
  EXPECT_EQ(Shown()[1].text, kSaveFailed);
  EXPECT_EQ(Shown()[1].style, 16);
  EXPECT_EQ(ReadBytes(out_), old);
  EXPECT_EQ(Names(h_.dir().path()), before);
}

TEST_F(Saving, ADirectoryOfThatNameIsNotTouched) {
  fs::create_directory(out_);
  WriteBytes(out_ / "keep.txt", {7});
  Save();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].text, kSaveFailed);
  EXPECT_EQ(Shown()[0].style, 16);
  EXPECT_EQ(ReadBytes(out_ / "keep.txt"), (std::vector<std::uint8_t>{7}));
}

}  // namespace
