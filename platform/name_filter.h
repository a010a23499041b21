// Which file names a file list shows: wildcard patterns matched without regard
// to letter case.
#pragma once

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace platform {

// Matches file names against one or more wildcard patterns separated by ';',
// without regard to letter case. "*.ext" patterns take a fast path.
class NameFilter {
 public:
  explicit NameFilter(const QString& patterns);

  bool Matches(const QString& name) const;

 private:
  bool match_all_ = false;
  QStringList suffixes_;
  QList<QRegularExpression> patterns_;
};

}  // namespace platform
