// The platform layer on its own: the drawing call, the picture box's kept
// surface, the popup menu, message boxes and the window's sizes in twips.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "platform/mdl_api.h"
#include "platform/message_box.h"
#include "platform/picture_box.h"
#include "platform/popup_menu.h"
#include "platform/window_metrics.h"
#include "tests/viewer/viewer_test_support.h"

namespace {

using viewer_test::Gradient;
using viewer_test::Near;
using viewer_test::Quadrants;
using viewer_test::TestPicture;

// The picture as the loader leaves it: bottom row first, with its bmp::BITMAPINFO.
struct Dib {
  std::vector<std::uint32_t> bits;
  bmp::BITMAPINFO info{};
};

Dib BottomUp(const TestPicture& p) {
  Dib dib;
  for (int y = p.height - 1; y >= 0; --y) {
    for (int x = 0; x < p.width; ++x) dib.bits.push_back(p.At(x, y));
  }
  dib.info.bmiHeader.biSize = 40;
  dib.info.bmiHeader.biWidth = p.width;
  dib.info.bmiHeader.biHeight = p.height;
  dib.info.bmiHeader.biPlanes = 1;
  dib.info.bmiHeader.biBitCount = 32;
  dib.info.bmiHeader.biSizeImage = static_cast<std::uint32_t>(p.width * p.height * 4);
  return dib;
}

QImage Surface(int w, int h) {
  QImage s(w, h, QImage::Format_RGB32);
  s.fill(Qt::black);
  return s;
}

int Stretch(QImage& surface, QRect to, QRect from, const Dib& dib) {
  return mdl_api::StretchDIBits(mdl_api::DeviceContext(surface), to.x(), to.y(), to.width(),
                                to.height(), from.x(), from.y(), from.width(), from.height(),
                                dib.bits, dib.info, mdl_api::DIB_RGB_COLORS, mdl_api::SRCCOPY);
}

TEST(StretchDIBits, OneToOneIsPixelExactAndTheRightWayUp) {
  const TestPicture p = Gradient(300, 200);
  const Dib dib = BottomUp(p);
  QImage surface = Surface(300, 200);
  ASSERT_EQ(Stretch(surface, {0, 0, 300, 200}, {0, 0, 300, 200}, dib), 200);
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 300; ++x) {
      ASSERT_EQ(surface.pixel(x, y) | 0xFF000000u, p.At(x, y)) << x << "," << y;
    }
  }
}

TEST(StretchDIBits, DrawsAtTheDestinationOffsetAndClipsToTheSurface) {
  const TestPicture p = Gradient(50, 40);
  const Dib dib = BottomUp(p);
  QImage surface = Surface(60, 50);
  EXPECT_EQ(Stretch(surface, {20, 30, 50, 40}, {0, 0, 50, 40}, dib), 40);
  EXPECT_EQ(surface.pixel(19, 30) | 0xFF000000u, 0xFF000000u);  // left of the destination
  EXPECT_EQ(surface.pixel(20, 30) | 0xFF000000u, p.At(0, 0));
  EXPECT_EQ(surface.pixel(59, 49) | 0xFF000000u, p.At(39, 19));
}

TEST(StretchDIBits, ScalesTheWholeSourceIntoTheDestination) {
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{160, 120}, std::pair{90, 300}}) {
    const TestPicture p = Quadrants(w, h);
    const Dib dib = BottomUp(p);
    QImage surface = Surface(320, 240);
    ASSERT_EQ(Stretch(surface, {0, 0, 320, 240}, {0, 0, w, h}, dib), h);
    // Centres of the four quadrants, and the corners (no black border left).
    EXPECT_TRUE(Near(surface.pixel(80, 60), viewer_test::kRed, 8)) << w;
    EXPECT_TRUE(Near(surface.pixel(240, 60), viewer_test::kGreen, 8)) << w;
    EXPECT_TRUE(Near(surface.pixel(80, 180), viewer_test::kBlue, 8)) << w;
    EXPECT_TRUE(Near(surface.pixel(240, 180), viewer_test::kWhite, 8)) << w;
    EXPECT_TRUE(Near(surface.pixel(0, 0), viewer_test::kRed, 8)) << w;
    EXPECT_TRUE(Near(surface.pixel(319, 239), viewer_test::kWhite, 8)) << w;
  }
}

TEST(StretchDIBits, ShrinkingAveragesInsteadOfPickingSinglePixels) {
  // One-pixel black and white checks: picked pixels would be black or white,
  // averaged ones are grey.
  TestPicture p{1920, 1080, {}};
  for (int y = 0; y < 1080; ++y) {
    for (int x = 0; x < 1920; ++x) p.pixels.push_back((x + y) % 2 ? 0xFFFFFFFF : 0xFF000000);
  }
  const Dib dib = BottomUp(p);
  QImage surface = Surface(320, 240);
  ASSERT_EQ(Stretch(surface, {0, 0, 320, 240}, {0, 0, 1920, 1080}, dib), 1080);
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{161, 77}, std::pair{319, 239}}) {
    EXPECT_TRUE(Near(surface.pixel(x, y), 0xFF808080, 0x30)) << std::hex << surface.pixel(x, y);
  }
}

TEST(StretchDIBits, AFlatColourStaysExactAtAnyScale) {
  const TestPicture p{37, 23, std::vector<std::uint32_t>(37 * 23, 0xFF123456)};
  const Dib dib = BottomUp(p);
  for (const QSize size : {QSize(320, 240), QSize(5, 3), QSize(37, 240), QSize(300, 7)}) {
    QImage surface = Surface(size.width(), size.height());
    ASSERT_EQ(Stretch(surface, {QPoint(0, 0), size}, {0, 0, 37, 23}, dib), 23);
    for (int y = 0; y < size.height(); ++y) {
      for (int x = 0; x < size.width(); ++x) {
        ASSERT_EQ(surface.pixel(x, y) | 0xFF000000u, 0xFF123456u) << x << "," << y;
      }
    }
  }
}

TEST(StretchDIBits, TopDownBitmapsAreNotFlipped) {
  const TestPicture p = Gradient(8, 6);
  Dib dib = BottomUp(p);
  dib.bits = p.pixels;  // top row first
  dib.info.bmiHeader.biHeight = -6;
  QImage surface = Surface(8, 6);
  ASSERT_EQ(Stretch(surface, {0, 0, 8, 6}, {0, 0, 8, 6}, dib), 6);
  EXPECT_EQ(surface.pixel(3, 0) | 0xFF000000u, p.At(3, 0));
  EXPECT_EQ(surface.pixel(3, 5) | 0xFF000000u, p.At(3, 5));
}

TEST(StretchDIBits, RefusesWhatItCannotDrawSafely) {
  const TestPicture p = Gradient(16, 16);
  const Dib good = BottomUp(p);
  QImage surface = Surface(16, 16);
  const QImage before = surface;

  Dib short_bits = good;
  short_bits.bits.resize(16 * 15);
  EXPECT_EQ(Stretch(surface, {0, 0, 16, 16}, {0, 0, 16, 16}, short_bits), 0);
  Dib wrong_depth = good;
  wrong_depth.info.bmiHeader.biBitCount = 24;
  EXPECT_EQ(Stretch(surface, {0, 0, 16, 16}, {0, 0, 16, 16}, wrong_depth), 0);
  EXPECT_EQ(Stretch(surface, {0, 0, 16, 16}, {1, 0, 16, 16}, good), 0);   // past the right edge
  EXPECT_EQ(Stretch(surface, {0, 0, 16, 16}, {0, -1, 16, 16}, good), 0);  // before the first row
  EXPECT_EQ(Stretch(surface, {0, 0, 0, 16}, {0, 0, 16, 16}, good), 0);
  EXPECT_EQ(mdl_api::StretchDIBits(mdl_api::DeviceContext(surface), 0, 0, 16, 16, 0, 0, 16, 16,
                                   good.bits, good.info, 1, mdl_api::SRCCOPY),
            0);
  EXPECT_EQ(surface, before);
}

// A picture box keeps its drawing as the calls that made it and draws only
// the part it shows: every part must equal that part of the same calls drawn
// at once into one whole surface.
TEST(Drawing, EveryPartMatchesTheWholeDrawnAtOnce) {
  const Dib big = BottomUp(Gradient(640, 480));
  const Dib small = BottomUp(Quadrants(50, 40));
  struct Call {
    const Dib* dib;
    QRect to;
    QRect from;
  };
  const std::vector<std::vector<Call>> cases = {
      {{&big, {0, 0, 320, 240}, {0, 0, 640, 480}}},  // shrunk
      {{&small, {0, 0, 333, 211}, {0, 0, 50, 40}}},  // enlarged
      {{&big, {0, 0, 333, 211}, {0, 0, 640, 480}}, {&small, {40, 30, 50, 40}, {0, 0, 50, 40}}},
      {{&big, {-7, 5, 300, 200}, {17, 9, 300, 200}}},  // 1:1, offset
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    const QSize size(333, 241);
    QImage whole(size, QImage::Format_RGB32);
    whole.fill(0xFF102030u);
    mdl_api::Drawing drawing;
    drawing.SetSize(size);
    drawing.SetBackground(0xFF102030u);
    for (const Call& call : cases[c]) {
      ASSERT_GT(Stretch(whole, call.to, call.from, *call.dib), 0);
      ASSERT_GT(
          mdl_api::StretchDIBits(mdl_api::DeviceContext(drawing), call.to.x(), call.to.y(),
                                 call.to.width(), call.to.height(), call.from.x(), call.from.y(),
                                 call.from.width(), call.from.height(), call.dib->bits,
                                 call.dib->info, mdl_api::DIB_RGB_COLORS, mdl_api::SRCCOPY),
          0);
    }
    for (int y = -10; y < size.height(); y += 47) {
      for (int x = -10; x < size.width(); x += 61) {
        QImage part(37, 29, QImage::Format_RGB32);
        drawing.Render(part, QPoint(x, y));
        QImage expected(37, 29, QImage::Format_RGB32);
        expected.fill(0xFF102030u);
        const QRect inside = QRect(x, y, 37, 29).intersected(whole.rect());
        for (int row = inside.top(); row <= inside.bottom(); ++row)
          for (int col = inside.left(); col <= inside.right(); ++col)
            expected.setPixel(col - x, row - y, whole.pixel(col, row));
        ASSERT_EQ(part, expected) << "case " << c << " at " << x << "," << y;
      }
    }
    // Kept as pixels, the shown part stays when the bitmaps are gone.
    const QRect shown(20, 10, 200, 150);
    drawing.KeepPixels(shown);
    QImage after(shown.size(), QImage::Format_RGB32);
    drawing.Render(after, shown.topLeft());
    EXPECT_EQ(after, whole.copy(shown)) << "case " << c;
  }
}

TEST(PictureBox, InteriorIsTheOuterSizeLessTheBorder) {
  platform::PictureBox box;
  box.SetOuterSize(324, 244);
  EXPECT_EQ(box.OuterWidth(), 324);
  EXPECT_EQ(box.OuterHeight(), 244);
  EXPECT_EQ(box.ScaleWidth(), 320);
  EXPECT_EQ(box.ScaleHeight(), 240);
  EXPECT_EQ(box.Surface().size(), QSize(320, 240));
  EXPECT_EQ(box.contentsRect(), QRect(2, 2, 320, 240));
  box.SetOuterSize(644, 484);
  EXPECT_EQ(box.ScaleWidth(), 640);
  EXPECT_EQ(box.ScaleHeight(), 480);
}

TEST(PictureBox, KeepsItsDrawingAcrossRepaintsAndShowsItInsideTheBorder) {
  platform::PictureBox box;
  box.SetOuterSize(24, 14);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  const TestPicture p = Quadrants(20, 10);
  const Dib dib = BottomUp(p);
  ASSERT_EQ(mdl_api::StretchDIBits(box.hDC(), 0, 0, 20, 10, 0, 0, 20, 10, dib.bits, dib.info,
                                   mdl_api::DIB_RGB_COLORS, mdl_api::SRCCOPY),
            10);
  box.Refresh();
  // Covered and shown again: the widget's own rendering still holds the picture.
  box.hide();
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  const QImage shown = box.grab().toImage();
  EXPECT_EQ(shown.pixel(2, 2) | 0xFF000000u, viewer_test::kRed);
  EXPECT_EQ(shown.pixel(21, 2) | 0xFF000000u, viewer_test::kGreen);
  EXPECT_EQ(shown.pixel(2, 11) | 0xFF000000u, viewer_test::kBlue);
  EXPECT_EQ(shown.pixel(21, 11) | 0xFF000000u, viewer_test::kWhite);
  // The border is not part of the drawing.
  EXPECT_NE(shown.pixel(0, 0) | 0xFF000000u, viewer_test::kRed);
}

TEST(PictureBox, ReportsReleasedButtonsWithTheirValues) {
  platform::PictureBox box;
  box.SetOuterSize(104, 104);
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
  QSignalSpy spy(&box, &platform::PictureBox::MouseUp);
  QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(12, 22));
  QTest::mouseClick(&box, Qt::RightButton, Qt::ShiftModifier, QPoint(12, 22));
  QTest::mouseClick(&box, Qt::MiddleButton, Qt::ControlModifier | Qt::AltModifier, QPoint(12, 22));
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy[0][0].toInt(), 1);
  EXPECT_EQ(spy[0][1].toInt(), 0);
  EXPECT_EQ(spy[1][0].toInt(), 2);
  EXPECT_EQ(spy[1][1].toInt(), 1);
  EXPECT_EQ(spy[2][0].toInt(), 4);
  EXPECT_EQ(spy[2][1].toInt(), 6);
  // Interior coordinates: the border is 2 pixels wide.
  EXPECT_EQ(spy[0][2].toInt(), 10);
  EXPECT_EQ(spy[0][3].toInt(), 20);
}

TEST(PopupMenu, EitherButtonChoosesAnEntryAndRaisesItsIndex) {
  for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    platform::PopupMenu menu(QStringLiteral("表示(&V)"));
    menu.AddEntry(QStringLiteral("実寸表示(&J)"));
    menu.AddEntry(QStringLiteral("標準表示(&D)"));
    menu.SetChecked(1, true);
    EXPECT_TRUE(menu.Checked(1));
    EXPECT_FALSE(menu.Checked(0));
    QSignalSpy spy(&menu, &platform::PopupMenu::Click);
    menu.Popup(QPoint(50, 50), platform::kPopupRightButton);
    ASSERT_TRUE(menu.isVisible());
    QTest::mouseClick(&menu, button, {}, menu.actionGeometry(menu.Entry(0)).center());
    ASSERT_EQ(spy.count(), 1) << "button " << button;
    EXPECT_EQ(spy[0][0].toInt(), 0);
    EXPECT_FALSE(menu.isVisible());
    // Choosing does not move the check marks; only the program sets them.
    EXPECT_FALSE(menu.Checked(0));
    EXPECT_TRUE(menu.Checked(1));
  }
}

// What a real message box looked like when it was answered.
struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// Shows a real modal message box and answers it with `button` once it is up.
int AnswerRealBox(int style, QMessageBox::StandardButton button, SeenBox& seen) {
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
    if (QAbstractButton* b = box->button(button)) b->click();
  });
  return platform::ShowMessageBox(nullptr, QStringLiteral("テキスト"), style);
}

TEST(MessageBox, StylesGiveTheirIconsButtonsAndAnswers) {
  SeenBox seen;
  EXPECT_EQ(AnswerRealBox(16, QMessageBox::Ok, seen), platform::kAnswerOk);
  EXPECT_EQ(seen.title, QStringLiteral("Quillon"));
  EXPECT_EQ(seen.text, QStringLiteral("テキスト"));
  EXPECT_EQ(seen.icon, QMessageBox::Critical);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

  seen = {};
  EXPECT_EQ(AnswerRealBox(36, QMessageBox::Yes, seen), 6);
  EXPECT_EQ(seen.title, QStringLiteral("Quillon"));
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);

  seen = {};
  EXPECT_EQ(AnswerRealBox(36, QMessageBox::No, seen), platform::kAnswerNo);
  EXPECT_EQ(seen.icon, QMessageBox::Question);
}

TEST(WindowMetrics, OuterTwipsBecomeClientPixelsInsideTheDesignFrame) {
  EXPECT_EQ(platform::ClientSizeForOuterTwips(4995, 7305), QSize(327, 462));
  // The actual-size formula: picture box outer size × 15 + 90 and + 375.
  EXPECT_EQ(platform::ClientSizeForOuterTwips(644 * 15 + 90, 484 * 15 + 375), QSize(644, 484));
  EXPECT_EQ(platform::TwipsPerPixelX(), 15.0f);
  EXPECT_EQ(platform::TwipsPerPixelY(), 15.0f);
}

TEST(WindowMetrics, TheDesignFontResolvesToAJapaneseFace) {
  platform::InstallFontSubstitutes();
  const QFont font(platform::kDesignFontFamily, platform::kDesignFontPoints);
  const QFontInfo info(font);
  EXPECT_EQ(info.family(), platform::kSubstituteFontFamily);
  EXPECT_TRUE(QFontMetrics(font).inFont(QChar(0x8868)));  // 表
}

}  // namespace
