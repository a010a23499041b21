#include "platform/popup_menu.h"

#include <QAction>

namespace platform {

PopupMenu::PopupMenu(const QString& caption, QWidget* parent) : QMenu(caption, parent) {}

int PopupMenu::AddEntry(const QString& caption) {
  const int index = EntryCount();
  QAction* action = addAction(caption);
  action->setCheckable(true);
  // Qt flips a checkable entry when it is chosen; here only the handler of
  // Click decides about check marks, so the flip is undone first.
  connect(action, &QAction::triggered, this, [this, action, index](bool checked) {
    action->setChecked(!checked);
    emit Click(index);
  });
  entries_.push_back(action);
  return index;
}

QAction* PopupMenu::Entry(int index) const {
  if (index < 0 || index >= EntryCount()) return nullptr;
  return entries_[static_cast<std::size_t>(index)];
}

bool PopupMenu::Checked(int index) const {
  const QAction* action = Entry(index);
  return action != nullptr && action->isChecked();
}

void PopupMenu::SetChecked(int index, bool checked) {
  if (QAction* action = Entry(index)) action->setChecked(checked);
}

void PopupMenu::Popup(QPoint global_pos, int /*flags*/) {
  popup(global_pos);
}

}  // namespace platform
