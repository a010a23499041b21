#include "platform/picture_box.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "platform/window_metrics.h"

namespace platform {
namespace {

// Layout pixels to device pixels and back, at the box's scale.
int ToDevice(int length, qreal ratio) {
  return static_cast<int>(std::lround(length * ratio));
}
int ToLayoutCeil(int pixels, qreal ratio) {
  return static_cast<int>(std::ceil(pixels / ratio - 1e-9));
}

// How far one arrow key scrolls, in layout pixels.
constexpr int kScrollStep = 20;

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QAbstractScrollArea(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(kBorder);
  setFocusPolicy(Qt::StrongFocus);
  // The box paints its whole interior itself from the kept drawing.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  drawing_.SetBackground(palette().color(QPalette::Window).rgb());
  SetOuterSize(width(), height());
}

qreal PictureBox::Ratio() const {
  return std::max<qreal>(devicePixelRatioF(), 1.0 / 64);
}

void PictureBox::SetOuterSize(int width, int height) {
  resize(std::max(width, 2 * kBorder), std::max(height, 2 * kBorder));
  const qreal ratio = Ratio();
  drawing_.SetSize(QSize(ToDevice(this->width() - 2 * kBorder, ratio),
                         ToDevice(this->height() - 2 * kBorder, ratio)));
  UpdateScrollBars();  // a hidden widget gets its resize event only when shown
}

void PictureBox::FitDrawing(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  drawing_.SetSize(QSize(width, height));
  const qreal ratio = Ratio();
  QSize outer(ToLayoutCeil(width, ratio) + 2 * kBorder, ToLayoutCeil(height, ratio) + 2 * kBorder);
  if (QWidget* top = window(); top != this) {
    // The box starts at the window's client area's top-left corner; the
    // window can grow no further than its screen lets it.
    const QSize most = MaxClientSize(*top) - QSize(x(), y());
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    bool across = false;
    bool down = false;
    for (int pass = 0; pass < 2; ++pass) {
      if (!down && outer.height() > most.height()) {
        down = true;  // a vertical bar takes room beside the picture
        outer.rwidth() += bar;
      }
      if (!across && outer.width() > most.width()) {
        across = true;
        outer.rheight() += bar;
      }
    }
    outer = outer.boundedTo(most).expandedTo(QSize(2 * kBorder, 2 * kBorder));
  }
  resize(outer);
  UpdateScrollBars();
}

void PictureBox::Refresh() {
  viewport()->repaint();
}

void PictureBox::KeepPixels() {
  drawing_.KeepPixels(QRect(ScrollOffset(), VisiblePixels()));
}

QImage PictureBox::Surface() const {
  QImage image(drawing_.Size(), QImage::Format_RGB32);
  if (!image.isNull()) drawing_.Render(image, QPoint(0, 0));
  return image;
}

QPoint PictureBox::InteriorToGlobal(QPoint at) const {
  const QPoint scrolled = ScrollOffset() / Ratio();
  return viewport()->mapToGlobal(at - scrolled);
}

QSize PictureBox::ViewportPixels() const {
  const qreal ratio = Ratio();
  return {ToDevice(viewport()->width(), ratio), ToDevice(viewport()->height(), ratio)};
}

QPoint PictureBox::ScrollOffset() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

QSize PictureBox::VisiblePixels() const {
  const qreal ratio = Ratio();
  const QSize drawing = drawing_.Size();
  const QSize most(ToDevice(maximumViewportSize().width(), ratio),
                   ToDevice(maximumViewportSize().height(), ratio));
  // Without bars when the whole drawing fits (also before the box is first
  // laid out); otherwise the viewport as laid out with them.
  return drawing.width() <= most.width() && drawing.height() <= most.height() ? most
                                                                              : ViewportPixels();
}

void PictureBox::UpdateScrollBars() {
  const QSize drawing = drawing_.Size();
  const QSize view = VisiblePixels();
  const int step = ToDevice(kScrollStep, Ratio());
  QScrollBar* across = horizontalScrollBar();
  across->setRange(0, std::max(0, drawing.width() - view.width()));
  across->setPageStep(std::max(view.width(), 1));
  across->setSingleStep(step);
  QScrollBar* down = verticalScrollBar();
  down->setRange(0, std::max(0, drawing.height() - view.height()));
  down->setPageStep(std::max(view.height(), 1));
  down->setSingleStep(step);
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

void PictureBox::paintEvent(QPaintEvent* /*event*/) {
  // The visible part only, rendered at the screen's own pixels: a copy at
  // most the size of the viewport, never of the whole drawing.
  const QSize pixels = ViewportPixels();
  if (pixels.isEmpty()) return;
  QImage shown(pixels, QImage::Format_RGB32);
  if (shown.isNull()) return;
  drawing_.Render(shown, ScrollOffset());
  shown.setDevicePixelRatio(Ratio());
  QPainter painter(viewport());
  painter.drawImage(QPoint(0, 0), shown);
}

void PictureBox::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void PictureBox::scrollContentsBy(int /*dx*/, int /*dy*/) {
  viewport()->update();
}

void PictureBox::ReportRelease(QMouseEvent* event, QPoint viewport_pos) {
  const QPoint at = viewport_pos + ScrollOffset() / Ratio();
  emit MouseUp(ButtonValue(event->button()), ShiftValue(event->modifiers()), at.x(), at.y());
  event->accept();
}

bool PictureBox::event(QEvent* event) {
  // A scroll area leaves mouse events sent to itself rather than to its
  // viewport unhandled; a release over the border still counts.
  if (event->type() == QEvent::MouseButtonRelease) {
    mouseReleaseEvent(static_cast<QMouseEvent*>(event));
    return true;
  }
  return QAbstractScrollArea::event(event);
}

bool PictureBox::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    ReportRelease(mouse, mouse->position().toPoint());
    return true;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void PictureBox::mouseReleaseEvent(QMouseEvent* event) {
  // Over the border, or sent to the box itself.
  ReportRelease(event, event->position().toPoint() - viewport()->geometry().topLeft());
}

void PictureBox::keyPressEvent(QKeyEvent* event) {
  const bool menu_key = event->key() == Qt::Key_Menu ||
                        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
  if (menu_key) {
    const QPoint at = ScrollOffset() / Ratio();
    emit MenuKey(ShiftValue(event->modifiers()), at.x(), at.y());
    event->accept();
    return;
  }
  // Arrow and Page keys scroll; the others go on to the window.
  QAbstractScrollArea::keyPressEvent(event);
}

}  // namespace platform
