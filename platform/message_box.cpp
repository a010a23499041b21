#include "platform/message_box.h"

#include <QMessageBox>

namespace platform {

int ShowMessageBox(QWidget* parent, const QString& text, int style) {
  QMessageBox box(parent);
  box.setWindowTitle(kAppName);
  box.setText(text);
  switch (style & 0x70) {
    case kCritical:
      box.setIcon(QMessageBox::Critical);
      break;
    case kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case 48:
      box.setIcon(QMessageBox::Warning);
      break;
    case 64:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  if ((style & 0x0F) == kYesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? kAnswerYes : kAnswerNo;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return kAnswerOk;
}

}  // namespace platform
