// Reading the rows of a list widget in window tests.
#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

namespace testsupport {

// The shown text of every row, in order.
inline QStringList Texts(const QListWidget& list) {
  QStringList out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.item(i)->text());
  return out;
}

// The row showing `text`, or -1.
inline int RowOf(const QListWidget& list, const QString& text) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->text() == text) return i;
  }
  return -1;
}

}  // namespace testsupport
