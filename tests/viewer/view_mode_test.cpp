// Painting and view modes of the window: sizes, painted pixels, the popup
// menu and the clicks on the picture.
#include <gtest/gtest.h>
#include <QAction>
#include <QTest>
#include <vector>

#include "platform/mdl_api.h"

#include "tests/viewer/viewer_test_support.h"

namespace {

using viewer_test::Gradient;
using viewer_test::InteriorPixel;
using viewer_test::Near;
using viewer_test::Quadrants;
using viewer_test::TestPicture;
using viewer_test::WindowHarness;

const QSize kStandardClient(327, 462);
const QSize kStandardPic(324, 244);

void ExpectStandardView(frm_main& w) {
  EXPECT_EQ(w.Pic->size(), kStandardPic);
  EXPECT_EQ(w.size(), kStandardClient);
  EXPECT_TRUE(w.m_PIC[1]->isChecked());
  EXPECT_FALSE(w.m_PIC[0]->isChecked());
}

void ExpectQuadrantsIn320x240(const frm_main& w) {
  EXPECT_EQ(w.Pic->Surface().size(), QSize(320, 240));
  EXPECT_TRUE(Near(InteriorPixel(w, 80, 60), viewer_test::kRed, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 240, 60), viewer_test::kGreen, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 80, 180), viewer_test::kBlue, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 240, 180), viewer_test::kWhite, 8));
  EXPECT_TRUE(Near(InteriorPixel(w, 319, 239), viewer_test::kWhite, 8));
}

class ViewModes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(ViewModes, ActualSizeFramesThePictureAndStandardRestoresTheDesign) {
  const auto [width, height] = GetParam();
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("PIC.PDT"), Gradient(width, height)));
  ExpectStandardView(h.w());

  h.w().m_PIC_Click(0);
  EXPECT_EQ(h.w().Pic->size(), QSize(width + 4, height + 4));
  EXPECT_EQ(h.w().Pic->pos(), QPoint(0, 0));
  // The client area is exactly the picture box.
  EXPECT_EQ(h.w().size(), QSize(width + 4, height + 4));
  EXPECT_TRUE(h.w().m_PIC[0]->isChecked());
  EXPECT_FALSE(h.w().m_PIC[1]->isChecked());
  // The other controls stay where the design put them.
  EXPECT_EQ(h.w().File->geometry(), QRect(168, 248, 150, 210));

  h.w().m_PIC_Click(1);
  ExpectStandardView(h.w());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ViewModes,
                         ::testing::Values(std::pair{640, 480}, std::pair{160, 120}));

TEST(Painting, ActualSizeViewIsOneToOneAndUpright) {
  WindowHarness h;
  const TestPicture p = Gradient(640, 480);
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("BIG.PDT"), p));
  h.w().ShowPicture(ViewActualSize);
  ASSERT_EQ(h.w().Pic->Surface().size(), QSize(640, 480));
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{639, 0}, std::pair{0, 479},
                             std::pair{639, 479}, std::pair{300, 257}, std::pair{17, 401}}) {
    EXPECT_EQ(InteriorPixel(h.w(), x, y), p.At(x, y)) << x << "," << y;
  }
}

TEST(Painting, StandardViewScalesTheWholePictureInto320x240) {
  for (const auto& [w, hgt] : {std::pair{640, 480}, std::pair{160, 120}}) {
    WindowHarness h;
    ASSERT_TRUE(h.LoadPicture(QStringLiteral("Q.PDT"), Quadrants(w, hgt)));
    ExpectQuadrantsIn320x240(h.w());
  }
}

TEST(Painting, TheShownWindowShowsTheKeptSurfaceInsideTheBorder) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("Q.PDT"), Quadrants(160, 120)));
  h.w().show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&h.w()));
  const QImage shown = h.w().Pic->grab().toImage();
  EXPECT_TRUE(Near(shown.pixel(2 + 80, 2 + 60), viewer_test::kRed, 8));
  EXPECT_TRUE(Near(shown.pixel(2 + 240, 2 + 180), viewer_test::kWhite, 8));
}

TEST(Painting, ChoosingTheCurrentViewAgainPaintsAgain) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("Q.PDT"), Quadrants(160, 120)));
  // Draw black over the kept drawing; the same view paints the picture again.
  const QImage before = h.w().Pic->Surface();
  const std::vector<std::uint32_t> black(4, 0xFF000000u);
  bmp::BITMAPINFO info{};
  info.bmiHeader.biWidth = 2;
  info.bmiHeader.biHeight = 2;
  info.bmiHeader.biBitCount = 32;
  ASSERT_EQ(mdl_api::StretchDIBits(h.w().Pic->hDC(), 0, 0, 320, 240, 0, 0, 2, 2, black, info,
                                   mdl_api::DIB_RGB_COLORS, mdl_api::SRCCOPY),
            2);
  ASSERT_EQ(h.w().Pic->Surface().pixel(100, 100), 0xFF000000u);
  h.w().m_PIC_Click(1);
  ExpectStandardView(h.w());
  EXPECT_EQ(h.w().Pic->Surface(), before);
}

TEST(Painting, ANewPictureInTheActualSizeViewFillsThePreviousInterior) {
  WindowHarness h;
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("A.PDT"), Gradient(200, 100)));
  h.w().ShowPicture(ViewActualSize);
  ASSERT_TRUE(h.LoadPicture(QStringLiteral("B.PDT"), Quadrants(50, 40)));
  // The view is not changed by a selection: 50 × 40 is stretched into 200 × 100.
  EXPECT_EQ(h.w().Pic->size(), QSize(204, 104));
  EXPECT_TRUE(h.w().m_PIC[0]->isChecked());
  EXPECT_TRUE(Near(InteriorPixel(h.w(), 150, 75), viewer_test::kWhite, 8));
  EXPECT_TRUE(Near(InteriorPixel(h.w(), 50, 25), viewer_test::kRed, 8));
}

class PictureClicks : public ::testing::Test {
 protected:
  void SetUp() override {
    h_.w().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&h_.w()));
  }
  void Release(Qt::MouseButton button) {
    QTest::mouseClick(h_.w().Pic, button, {}, QPoint(30, 30));
  }
  WindowHarness h_;
};

TEST_F(PictureClicks, RightButtonOpensThePopupAndItsEntriesSwitchTheView) {
  ASSERT_TRUE(h_.LoadPicture(QStringLiteral("P.PDT"), Gradient(100, 80)));
  Release(Qt::RightButton);
  ASSERT_TRUE(h_.w().m_VIEW->isVisible());
  // Either mouse button chooses; the right one picks the actual-size view here.
  QTest::mouseClick(h_.w().m_VIEW, Qt::RightButton, {},
                    h_.w().m_VIEW->actionGeometry(h_.w().m_PIC[0]).center());
  EXPECT_FALSE(h_.w().m_VIEW->isVisible());
  EXPECT_EQ(h_.w().size(), QSize(104, 84));
  EXPECT_TRUE(h_.w().m_PIC[0]->isChecked());
}

TEST_F(PictureClicks, LeftAndMiddleButtonsReturnToTheStandardView) {
  ASSERT_TRUE(h_.LoadPicture(QStringLiteral("P.PDT"), Gradient(100, 80)));
  for (const Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton}) {
    h_.w().ShowPicture(ViewActualSize);
    ASSERT_EQ(h_.w().size(), QSize(104, 84));
    Release(button);
    ExpectStandardView(h_.w());
    EXPECT_FALSE(h_.w().m_VIEW->isVisible());
  }
}

TEST_F(PictureClicks, WithoutAPictureThePopupOpensButNothingChanges) {
  Release(Qt::RightButton);
  EXPECT_TRUE(h_.w().m_VIEW->isVisible());
  QTest::mouseClick(h_.w().m_VIEW, Qt::LeftButton, {},
                    h_.w().m_VIEW->actionGeometry(h_.w().m_PIC[0]).center());
  ExpectStandardView(h_.w());
  Release(Qt::LeftButton);
  Release(Qt::MiddleButton);
  h_.w().m_PIC_Click(0);
  ExpectStandardView(h_.w());
}

TEST_F(PictureClicks, TheWindowKeepsItsPositionWhenTheViewChanges) {
  ASSERT_TRUE(h_.LoadPicture(QStringLiteral("P.PDT"), Gradient(100, 80)));
  h_.w().move(40, 50);
  const QPoint where = h_.w().pos();
  h_.w().ShowPicture(ViewActualSize);
  EXPECT_EQ(h_.w().pos(), where);
  h_.w().ShowPicture(ViewStandard);
  EXPECT_EQ(h_.w().pos(), where);
}

}  // namespace
