#include "platform/window_metrics.h"

#include <QFont>
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

void SetOuterSizeTwips(QWidget& window, float width_twips, float height_twips) {
  window.setFixedSize(ClientSizeForOuterTwips(width_twips, height_twips));
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
