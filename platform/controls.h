// The plain controls the window uses, as Qt provides them.
#pragma once

#include <QLineEdit>
#include <QPushButton>

namespace platform {

// Single-line text box: text() / setText().
using TextBox = QLineEdit;
// Push button: setEnabled(), clicked(). A disabled button cannot be clicked.
using PushButton = QPushButton;

}  // namespace platform
