// Modal message boxes, all titled with the application's name, through one
// replaceable function so that tests can answer them.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace platform {

inline constexpr int kOkOnly = 0;
inline constexpr int kYesNo = 4;
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

inline const QString kAppName = QStringLiteral("Quillon");

// Shows `text` with the buttons and icon of `style` and returns the answer.
using MessageBoxFn = std::function<int(const QString& text, int style)>;

// The real thing: a modal QMessageBox over `parent`. Style 16 gives a
// critical icon with OK, 36 a question icon with Yes and No (answer 6 or 7).
int ShowMessageBox(QWidget* parent, const QString& text, int style);

}  // namespace platform
