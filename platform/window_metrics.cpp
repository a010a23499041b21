#include "platform/window_metrics.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace platform {

float TwipsPerPixelX() {
  return kTwipsPerPixel;
}
float TwipsPerPixelY() {
  return kTwipsPerPixel;
}

QSize ClientSizeForOuterTwips(float width_twips, float height_twips) {
  const auto outer_w = static_cast<int>(std::lround(width_twips / TwipsPerPixelX()));
  const auto outer_h = static_cast<int>(std::lround(height_twips / TwipsPerPixelY()));
  return {std::max(outer_w - 2 * kFrameBorder, 0), std::max(outer_h - kFrameTop - kFrameBorder, 0)};
}

namespace {

QRect AvailableArea(const QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry() : QRect();
}

QSize FrameSize(const QWidget& window) {
  if (window.isVisible()) return window.frameGeometry().size() - window.size();
  return {2 * kFrameBorder, kFrameTop + kFrameBorder};
}

}  // namespace

QSize MaxClientSize(const QWidget& window) {
  const QRect area = AvailableArea(window);
  if (area.isEmpty()) return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
  return (area.size() - FrameSize(window)).expandedTo(QSize(1, 1));
}

void SetOuterSizeTwips(QWidget& window, float width_twips, float height_twips) {
  const QSize client = ClientSizeForOuterTwips(width_twips, height_twips);
  const QSize most = MaxClientSize(window);
  if (client.width() < most.width() && client.height() < most.height()) {
    window.setFixedSize(client);
    return;
  }
  window.setFixedSize(client.boundedTo(most));
  const QRect area = AvailableArea(window);
  const QSize outer = window.size() + FrameSize(window);
  const QPoint at = window.frameGeometry().topLeft();
  window.move(
      std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
      std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
}

void InstallFontSubstitutes() {
  if (!QFont::substitutes(kDesignFontFamily).contains(kSubstituteFontFamily)) {
    QFont::insertSubstitution(kDesignFontFamily, kSubstituteFontFamily);
  }
}

bool DisplayAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace platform
