// Window sizes in twips, fonts and the other small services of the desktop.
#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace platform {

// Qt lays out in device-independent pixels of 1/96 inch, 15 twips each.
inline constexpr float kTwipsPerPixel = 15.0f;
float TwipsPerPixelX();
float TwipsPerPixelY();

// The window's frame as designed: 3 pixels on each side, 22 from the top edge
// to the client area (caption included).
inline constexpr int kFrameBorder = 3;
inline constexpr int kFrameTop = 22;

// Client area of a window whose outer size (border and caption included) is
// given in twips.
QSize ClientSizeForOuterTwips(float width_twips, float height_twips);

// The largest client area the top-level `window` can have on its screen: the
// screen's available area less the window's frame (the design's frame until
// the window is shown).
QSize MaxClientSize(const QWidget& window);

// Gives a top-level window a fixed size: the client area that corresponds to
// the outer size in twips. The window keeps its position, except that a
// window that reaches the largest size its screen allows is made to lie
// within the screen's available area.
void SetOuterSizeTwips(QWidget& window, float width_twips, float height_twips);

// The face the design asks for, and the Japanese Gothic face of this system
// that stands in for it.
inline const QString kDesignFontFamily = QStringLiteral("ＭＳ ゴシック");
inline const QString kSubstituteFontFamily = QStringLiteral("IPAGothic");
inline constexpr int kDesignFontPoints = 9;

// Makes the design face resolve to the substitute. Safe to call more than once.
void InstallFontSubstitutes();

// Whether a display is available to open windows on (an X11 or Wayland
// display, or a platform plugin chosen explicitly).
bool DisplayAvailable();

}  // namespace platform
