#include "platform/picture_box.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cstring>

namespace platform {

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(kBorder);
  setFocusPolicy(Qt::StrongFocus);
  // The box paints its whole interior itself from the kept surface.
  setAttribute(Qt::WA_OpaquePaintEvent);
  FitSurface();
}

void PictureBox::SetOuterSize(int width, int height) {
  resize(std::max(width, 2 * kBorder), std::max(height, 2 * kBorder));
  FitSurface();  // a hidden widget gets its resize event only when shown
}

void PictureBox::Refresh() {
  repaint();
}

int PictureBox::ButtonValue(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return kLeftButton;
    case Qt::RightButton:
      return kRightButton;
    case Qt::MiddleButton:
      return kMiddleButton;
    default:
      return 0;
  }
}

int PictureBox::ShiftValue(Qt::KeyboardModifiers modifiers) {
  int shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= kShiftMask;
  if (modifiers & Qt::ControlModifier) shift |= kCtrlMask;
  if (modifiers & Qt::AltModifier) shift |= kAltMask;
  return shift;
}

void PictureBox::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);  // the sunken border
  QPainter painter(this);
  const QRect interior = contentsRect();
  painter.drawImage(interior.topLeft(), surface_, QRect(0, 0, interior.width(), interior.height()));
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  FitSurface();
}

void PictureBox::FitSurface() {
  const QSize size = contentsRect().size();
  if (size == surface_.size()) return;
  if (size.isEmpty()) {
    surface_ = QImage();
    return;
  }
  QImage grown(size, QImage::Format_RGB32);
  if (grown.isNull()) {  // too large for memory: nothing can be drawn
    surface_ = QImage();
    return;
  }
  grown.fill(palette().color(QPalette::Window));
  const int w = std::min(size.width(), surface_.width());  // 0 for a null surface
  const int h = std::min(size.height(), surface_.height());
  for (int y = 0; y < h; ++y) {
    std::memcpy(grown.scanLine(y), surface_.constScanLine(y), static_cast<std::size_t>(w) * 4);
  }
  surface_ = std::move(grown);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint() - contentsRect().topLeft();
  emit MouseUp(ButtonValue(event->button()), ShiftValue(event->modifiers()), at.x(), at.y());
  event->accept();
}

}  // namespace platform
