// A menu that is never shown as a menu bar, only as a popup, with checkable
// entries numbered like a control array.
#pragma once

#include <QMenu>
#include <QPoint>
#include <vector>

class QAction;

namespace platform {

// Popup flag: entries can be chosen with either mouse button.
inline constexpr int kPopupRightButton = 2;

class PopupMenu : public QMenu {
  Q_OBJECT
 public:
  explicit PopupMenu(const QString& caption, QWidget* parent = nullptr);

  // Adds an entry ("&" marks its access key) and returns its index.
  int AddEntry(const QString& caption);
  int EntryCount() const { return static_cast<int>(entries_.size()); }
  QAction* Entry(int index) const;
  bool Checked(int index) const;
  void SetChecked(int index, bool checked);

  // Opens the menu at a global screen position and returns at once; choosing
  // an entry later raises Click. With kPopupRightButton either button chooses
  // (Qt menus accept both buttons on this platform, so the flag changes nothing).
  void Popup(QPoint global_pos, int flags);

 signals:
  // An entry was chosen.
  void Click(int index);

 private:
  std::vector<QAction*> entries_;
};

}  // namespace platform
