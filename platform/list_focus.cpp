#include "platform/list_focus.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QPen>

namespace platform {

void PaintListFocus(QAbstractItemView& view) {
  if (!view.hasFocus()) return;
  const QModelIndex current = view.currentIndex();
  const QModelIndex first = view.model() != nullptr && view.model()->rowCount() > 0
                                ? view.model()->index(0, 0, view.rootIndex())
                                : QModelIndex();
  const QModelIndex at = current.isValid() ? current : first;
  QRect rect = at.isValid() ? view.visualRect(at) : view.viewport()->rect();
  rect = rect.intersected(view.viewport()->rect()).adjusted(0, 0, -1, -1);
  if (rect.isEmpty()) return;
  const bool selected =
      at.isValid() && view.selectionModel() != nullptr && view.selectionModel()->isSelected(at);
  QPainter painter(view.viewport());
  QPen pen(view.palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
  pen.setStyle(Qt::DotLine);
  painter.setPen(pen);
  painter.drawRect(rect);
}

}  // namespace platform
