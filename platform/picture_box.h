// The picture box: a sunken 2-pixel border around a drawing interior that
// keeps what is painted into it and shows it again on every repaint.
#pragma once

#include <QFrame>
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

class PictureBox : public QFrame {
  Q_OBJECT
 public:
  static constexpr int kBorder = 2;

  explicit PictureBox(QWidget* parent = nullptr);

  // Outer size, border included. The interior is 4 pixels smaller each way.
  void SetOuterSize(int width, int height);
  int OuterWidth() const { return width(); }
  int OuterHeight() const { return height(); }

  // The interior in its own coordinates: (0, 0) is its top-left corner.
  int ScaleLeft() const { return 0; }
  int ScaleTop() const { return 0; }
  int ScaleWidth() const { return contentsRect().width(); }
  int ScaleHeight() const { return contentsRect().height(); }

  // The kept surface to paint into; Refresh shows what was painted.
  mdl_api::DeviceContext hDC() { return mdl_api::DeviceContext(surface_); }
  void Refresh();
  // What the interior shows (for inspection).
  const QImage& Surface() const { return surface_; }

  void SetToolTipText(const QString& text) { setToolTip(text); }
  QString ToolTipText() const { return toolTip(); }

  // Button value of a Qt mouse button, and shift state of keyboard modifiers.
  static int ButtonValue(Qt::MouseButton button);
  static int ShiftValue(Qt::KeyboardModifiers modifiers);

 signals:
  // A mouse button was released over the box; x, y are interior coordinates.
  void MouseUp(int button, int shift, int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void FitSurface();

  // Interior pixels, the size of contentsRect(); kept across repaints and
  // across resizes (what still fits stays at the top-left).
  QImage surface_;
};

}  // namespace platform
