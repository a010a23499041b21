// The picture box: a sunken 2-pixel border around a drawing interior that
// keeps what is painted into it and shows it again on every repaint.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>

#include "platform/mdl_api.h"

namespace platform {

// Mouse button values: 1 left, 2 right, 4 middle (several may be combined).
inline constexpr int kLeftButton = 1;
inline constexpr int kRightButton = 2;
inline constexpr int kMiddleButton = 4;

// Shift state values: 1 Shift, 2 Ctrl, 4 Alt.
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

// The interior is a drawing in device pixels, so that a picture drawn at its
// own size shows one picture pixel per pixel of the screen, sharp, whatever
// the screen's scale. When the drawing is larger than the box can be on its
// screen, the interior scrolls (scroll bars, arrow and Page keys).
class PictureBox : public QAbstractScrollArea {
  Q_OBJECT
 public:
  static constexpr int kBorder = 2;

  explicit PictureBox(QWidget* parent = nullptr);

  // Outer size in layout pixels, border included; the interior is 4 pixels
  // smaller each way and its drawing is that size in device pixels.
  void SetOuterSize(int width, int height);
  // Sizes the box for a drawing of width × height device pixels: the outer
  // size is the interior that holds it plus the border, but no more than its
  // window's client area can be on the screen; beyond that it scrolls.
  void FitDrawing(int width, int height);
  int OuterWidth() const { return width(); }
  int OuterHeight() const { return height(); }

  // The drawing in its own device pixels: (0, 0) is its top-left corner.
  int ScaleLeft() const { return 0; }
  int ScaleTop() const { return 0; }
  int ScaleWidth() const { return drawing_.Size().width(); }
  int ScaleHeight() const { return drawing_.Size().height(); }

  // The kept drawing to paint into; Refresh shows what was painted. The
  // bitmaps drawn must stay unchanged until KeepPixels (see mdl_api::Drawing).
  mdl_api::DeviceContext hDC() { return mdl_api::DeviceContext(drawing_); }
  void Refresh();
  // Keeps what the interior shows as pixels of its own and lets go of the
  // bitmaps drawn into it, which may then change. Costs at most the
  // interior's visible part.
  void KeepPixels();
  // The whole drawing as pixels (for inspection).
  QImage Surface() const;

  // A point of the interior in screen coordinates; `at` is in layout pixels
  // from the drawing's top-left corner.
  QPoint InteriorToGlobal(QPoint at) const;

  void SetToolTipText(const QString& text) { setToolTip(text); }
  QString ToolTipText() const { return toolTip(); }

  // Button value of a Qt mouse button, and shift state of keyboard modifiers.
  static int ButtonValue(Qt::MouseButton button);
  static int ShiftValue(Qt::KeyboardModifiers modifiers);

 signals:
  // A mouse button was released over the box; x, y are interior coordinates
  // (layout pixels from the drawing's top-left corner).
  void MouseUp(int button, int shift, int x, int y);
  // Shift+F10 or the menu key was pressed while the box had the focus; x, y
  // are the interior coordinates of the visible part's top-left corner.
  void MenuKey(int shift, int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool event(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  qreal Ratio() const;
  // The viewport's size in device pixels.
  QSize ViewportPixels() const;
  // The size of the drawing's visible part, in device pixels.
  QSize VisiblePixels() const;
  // Where the viewport's top-left corner is in the drawing, in device pixels.
  QPoint ScrollOffset() const;
  void UpdateScrollBars();
  void ReportRelease(QMouseEvent* event, QPoint viewport_pos);

  mdl_api::Drawing drawing_;
};

}  // namespace platform
